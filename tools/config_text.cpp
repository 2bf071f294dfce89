// config_text.cpp - the configuration file format as the library reads it:
// a header "[name]" opens a section, "key=value" lines follow, an empty line
// or one that begins with white space closes it; outside a section only
// headers count; a line over 510 characters, a header without "]" and a key
// line without "=" end the reading.
#include "tools/config_text.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "tools/host.h"

namespace zvtool {

namespace {

const size_t kLineLimit = 510;


bool HasHighBytes(const std::string& line) {
    return std::any_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

unsigned char Lower(char c) {
    unsigned char byte = static_cast<unsigned char>(c);
    return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

bool ClosesSection(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string TrimSpaces(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return text;
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Whether the bytes from 0x80 up form UTF-8 sequences.
bool LooksLikeUtf8(const std::string& line) {
    bool multibyte = false;
    for (size_t i = 0; i < line.size();) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        size_t more = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 9;
        if (more == 9 || (more > 0 && i + more >= line.size())) return false;
        for (size_t k = 1; k <= more; ++k)
            if ((static_cast<unsigned char>(line[i + k]) & 0xC0) != 0x80) return false;
        multibyte = multibyte || more > 0;
        i += more + 1;
    }
    return multibyte;
}

std::string Quoted(const std::string& text) {
    return "'" + (text.size() > 60 ? text.substr(0, 60) + "..." : text) + "'";
}

// The file's lines as the library's line reader gives them: split at line
// feeds, a carriage return directly before one dropped.
std::vector<std::string> Lines(FILE* file, bool* overlong) {
    std::vector<std::string> lines;
    std::string line;
    bool pending = false;
    *overlong = false;
    for (int c; (c = fgetc(file)) != EOF;) {
        pending = true;
        if (c == '\n') {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            line.clear();
            pending = false;
        } else {
            line += char(c);
            if (line.size() > kLineLimit + 1) {  // one over, and a possible carriage return
                lines.push_back(line);
                *overlong = true;
                return lines;
            }
        }
    }
    if (pending) lines.push_back(line);
    return lines;
}

class Reader {
  public:
    explicit Reader(ConfigText* out) : out_(out) {}

    void Read(const std::vector<std::string>& raw) {
        for (size_t i = 0; i < raw.size() && !stopped_; ++i) Take(int(i + 1), raw[i]);
        FlushIgnored();
        if (inSection_) StoreSection();
        std::sort(out_->sections.begin(), out_->sections.end(),
                  [](const FileSection& a, const FileSection& b) { return NoCaseLess(a.name, b.name); });
        std::sort(out_->notes.begin(), out_->notes.end(),
                  [](const FileNote& a, const FileNote& b) { return a.line < b.line; });
    }

  private:
    void Note(int line, const std::string& text, bool skipped = true) { out_->notes.push_back({line, text, skipped}); }

    void Take(int number, std::string line) {
        if (line.size() > kLineLimit) {
            Note(number, "longer than 510 characters: reading stops here, nothing from this line on is imported");
            stopped_ = true;
            return;
        }
        const size_t zero = line.find('\0');
        if (zero != std::string::npos) {
            Note(number, "a zero byte ends the line: the text after it is dropped");
            line.resize(zero);
        }
        const bool marked = line.compare(0, 3, "\xEF\xBB\xBF") == 0;
        if (!warnedHighBytes_ && HasHighBytes(marked ? line.substr(3) : line)) {
            Note(number, std::string(LooksLikeUtf8(line) ? "holds UTF-8 text" : "holds bytes from 0x80 up") +
                             ", which the import does not read as UTF-8: it takes each byte as one character "
                             "(text outside ISO-8859-1 cannot be carried)",
                 false);
            warnedHighBytes_ = true;
        }
        if (inSection_) {
            if (line.empty() || ClosesSection(line[0])) {
                if (line.find_first_not_of(" \t\n\v\f\r") != std::string::npos)
                    Note(number, "begins with white space, which ends section [" + section_.name +
                                     "]: the lines up to the next header are ignored");
                StoreSection();
                return;
            }
            size_t equals = line.find('=');
            if (equals == std::string::npos) {
                Note(number, "key line without '=' in section [" + section_.name + "] (line " +
                                 std::to_string(section_.line) +
                                 "): reading stops here; that section and everything after it are not imported");
                stopped_ = true;
                inSection_ = false;  // the section being read is dropped
                return;
            }
            AddKey(number, TrimSpaces(line.substr(0, equals)), TrimSpaces(line.substr(equals + 1)));
            return;
        }
        if (line.empty() || line.find_first_not_of(" \t\n\v\f\r") == std::string::npos) return;
        if (line[0] == '#' || line[0] == ';' || line[0] == ':') return;  // comments
        if (line[0] != '[') {
            if (line.compare(0, 4, "\xEF\xBB\xBF[") == 0)
                Note(number, "a byte-order mark stands before '[': the header is not seen, so its section is skipped");
            else if (ignoredFirst_ == 0)
                ignoredFirst_ = number;
            ignoredLast_ = number;
            return;
        }
        FlushIgnored();
        size_t close = line.rfind(']');
        if (close == std::string::npos) {
            Note(number, "header without ']': reading stops here, nothing from this line on is imported");
            stopped_ = true;
            return;
        }
        section_ = FileSection{line.substr(1, close - 1), number, {}};
        inSection_ = true;
    }

    void AddKey(int number, const std::string& key, const std::string& value) {
        for (FileKey& known : section_.keys) {
            if (!NoCaseEqual(known.key, key)) continue;
            Note(known.line, "key " + Quoted(key) + " is given again on line " + std::to_string(number) +
                                 ", which replaces this one");
            known = FileKey{known.key, value, number};
            return;
        }
        section_.keys.push_back({key, value, number});
    }

    void StoreSection() {
        inSection_ = false;
        std::sort(section_.keys.begin(), section_.keys.end(),
                  [](const FileKey& a, const FileKey& b) { return NoCaseLess(a.key, b.key); });
        for (FileSection& known : out_->sections) {
            if (!NoCaseEqual(known.name, section_.name)) continue;
            Note(known.line, "section [" + known.name + "] is given again on line " +
                                 std::to_string(section_.line) + ", which replaces this one whole");
            known.keys = section_.keys;
            known.line = section_.line;
            return;
        }
        out_->sections.push_back(section_);
    }

    // Lines outside any section, reported as one range.
    void FlushIgnored() {
        if (ignoredFirst_ == 0) return;
        std::string lines = ignoredFirst_ == ignoredLast_ ? "" : "(to line " + std::to_string(ignoredLast_) + ") ";
        Note(ignoredFirst_, "outside any section " + lines +
                                "and not a comment: ignored (a section starts with a '[' in the first column)");
        ignoredFirst_ = ignoredLast_ = 0;
    }

    ConfigText* out_;
    FileSection section_;
    bool inSection_ = false;
    bool stopped_ = false;
    bool warnedHighBytes_ = false;
    int ignoredFirst_ = 0, ignoredLast_ = 0;
};

}  // namespace

bool NoCaseLess(const std::string& a, const std::string& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i)
        if (Lower(a[i]) != Lower(b[i])) return Lower(a[i]) < Lower(b[i]);
    return a.size() < b.size();
}

bool NoCaseEqual(const std::string& a, const std::string& b) { return !NoCaseLess(a, b) && !NoCaseLess(b, a); }

ConfigText ReadConfigText(const std::string& path) {
    ConfigText text;
    FILE* file = OpenFile(path, "rb");
    if (!file) return text;
    text.opened = true;
    bool overlong;
    std::vector<std::string> lines = Lines(file, &overlong);
    fclose(file);
    Reader(&text).Read(lines);
    return text;
}

}  // namespace zvtool
