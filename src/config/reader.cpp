// reader.cpp - Load: a configuration file into a ConfigDocument.
//
// A header line "[name]" opens a section; key lines "key=value" follow; an
// empty line, a line that begins with white space or the end of the file
// closes it.  Outside a section only header lines count.  A line longer than
// the line limit ends the reading as a whole.
#include <string.h>

#include "config/document.h"

namespace zv {

namespace {

// Lines of at most ConfigDocument::kMaxLine characters, with the runtime
// library's line-reading rules: a line feed ends a line and is not part of
// it; a last line without one still counts; a longer line fails the reader
// for good.  A carriage return directly before a line feed is dropped first,
// so a file with Windows line ends reads as one with plain line feeds.
class LineReader {
  public:
    explicit LineReader(FILE* file) : file_(file), buffer_(kBufferSize) {}

    bool ReadLine(std::string& line) {
        if (failed_) return false;
        char text[ConfigDocument::kMaxLine];
        size_t length = 0;
        bool extracted = false;
        for (;;) {
            int c = NextChar();
            if (c == EOF) {
                failed_ = true;  // the next read fails, this one has its line
                if (!extracted) return false;
                break;
            }
            extracted = true;
            if (c == '\n') break;
            if (length == ConfigDocument::kMaxLine) {
                failed_ = true;
                return false;
            }
            text[length++] = static_cast<char>(c);
        }
        // A zero byte ends the line's text; what follows it is dropped.
        const void* zero = memchr(text, 0, length);
        line.assign(text, zero ? static_cast<const char*>(zero) - text : length);
        return true;
    }

  private:
    static const size_t kBufferSize = 64 * 1024;

    int NextByte() {
        if (next_ == end_ && !Fill()) return EOF;
        return static_cast<unsigned char>(buffer_[next_++]);
    }

    int PeekByte() {
        if (next_ == end_ && !Fill()) return EOF;
        return static_cast<unsigned char>(buffer_[next_]);
    }

    int NextChar() {
        int c = NextByte();
        if (c == '\r' && PeekByte() == '\n') c = NextByte();
        return c;
    }

    bool Fill() {
        if (atEnd_) return false;
        next_ = 0;
        end_ = fread(&buffer_[0], 1, buffer_.size(), file_);
        // A read error ends the input like the end of the file does.
        if (end_ == 0) atEnd_ = true;
        return end_ != 0;
    }

    FILE* file_;
    std::vector<char> buffer_;
    size_t next_ = 0;
    size_t end_ = 0;
    bool atEnd_ = false;
    bool failed_ = false;
};

// The white space that closes a section: space, tab, line feed, vertical
// tab, form feed and carriage return; no byte from 0x80 up.
inline bool ClosesSection(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

int32_t ConfigDocument::Load(const WCHAR* fileName) {
    if (ZVStrLenW(fileName) > kMaxFileName) return 1;
    ZVStrCpyW(fileName_, fileName);
    fileName_[kMaxFileName + 1] = 0;
    hasFileName_ = true;
    sections_.clear();
    savePending_ = false;

    // Read as bytes on every platform: the line ends are handled above.  A
    // file that a save died replacing is put back first.
    FILE* file = OpenExisting(Narrow(fileName), "rb");
    if (!file) return 0;  // a missing file only names the document

    LineReader reader(file);
    KeyTable collecting;
    std::string line;
    std::string sectionName;
    int32_t result = 0;
    while (result == 0 && reader.ReadLine(line)) {
        collecting.clear();
        if (line.empty() || line[0] != '[') continue;  // comments and stray text included
        size_t close = line.rfind(']');
        if (close == std::string::npos) {
            result = 1;
            break;
        }
        sectionName.assign(line, 1, close - 1);
        for (;;) {
            if (!reader.ReadLine(line) || line.empty() || ClosesSection(line[0])) break;
            size_t equals = line.find('=');
            if (equals == std::string::npos) {
                result = 1;  // the section being collected is dropped
                break;
            }
            collecting[TrimSpaces(line.substr(0, equals))] = TrimSpaces(line.substr(equals + 1));
        }
        // A repeated section name replaces the earlier section whole.
        if (result == 0) sections_[sectionName] = std::move(collecting);
    }
    fclose(file);
    return result;
}

}  // namespace zv
