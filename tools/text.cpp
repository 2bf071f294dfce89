// text.cpp - UTF-8, UTF-16 and ISO-8859-1 for the zv tool.
#include "tools/text.h"

namespace zvtool {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point at text[*at], advancing *at past it.
char32_t NextCodePoint(const std::string& text, size_t* at) {
    const unsigned char lead = static_cast<unsigned char>(text[(*at)++]);
    if (lead < 0x80) return lead;
    int more;
    char32_t point, least;
    if ((lead & 0xE0) == 0xC0) { more = 1; point = lead & 0x1F; least = 0x80; }
    else if ((lead & 0xF0) == 0xE0) { more = 2; point = lead & 0x0F; least = 0x800; }
    else if ((lead & 0xF8) == 0xF0) { more = 3; point = lead & 0x07; least = 0x10000; }
    else return kReplacement;
    for (; more > 0; --more) {
        if (*at >= text.size() || (static_cast<unsigned char>(text[*at]) & 0xC0) != 0x80)
            return kReplacement;
        point = (point << 6) | (static_cast<unsigned char>(text[(*at)++]) & 0x3F);
    }
    // Overlong forms, surrogates and points past Unicode are not characters.
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return kReplacement;
    return point;
}

void AppendUtf8(char32_t point, std::string* out) {
    if (point < 0x80) {
        *out += char(point);
    } else if (point < 0x800) {
        *out += char(0xC0 | (point >> 6));
        *out += char(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        *out += char(0xE0 | (point >> 12));
        *out += char(0x80 | ((point >> 6) & 0x3F));
        *out += char(0x80 | (point & 0x3F));
    } else {
        *out += char(0xF0 | (point >> 18));
        *out += char(0x80 | ((point >> 12) & 0x3F));
        *out += char(0x80 | ((point >> 6) & 0x3F));
        *out += char(0x80 | (point & 0x3F));
    }
}

}  // namespace

WString Wide(const std::string& utf8) {
    WString out;
    for (size_t at = 0; at < utf8.size();) {
        char32_t point = NextCodePoint(utf8, &at);
        if (point < 0x10000) {
            out += ZVWCHAR(point);
        } else {
            point -= 0x10000;
            out += ZVWCHAR(0xD800 | (point >> 10));
            out += ZVWCHAR(0xDC00 | (point & 0x3FF));
        }
    }
    return out;
}

std::string Utf8(const WString& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t unit = char32_t(text[i]) & 0xFFFF;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            char32_t low = char32_t(text[i + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &out);
                ++i;
                continue;
            }
        }
        AppendUtf8(unit >= 0xD800 && unit <= 0xDFFF ? kReplacement : unit, &out);
    }
    return out;
}

std::string Utf8(const ZVWCHAR* text) { return text ? Utf8(WString(text)) : std::string(); }

WString FromLatin1(const std::string& latin1) {
    WString out;
    for (char c : latin1) out += ZVWCHAR(static_cast<unsigned char>(c));
    return out;
}

std::string ToLatin1(const WString& text, bool* lossy) {
    std::string out;
    bool lost = false;
    for (ZVWCHAR unit : text) {
        const bool fits = (unsigned(unit) & 0xFFFF) <= 0xFF;
        lost = lost || !fits;
        out += fits ? char(unit) : '?';
    }
    if (lossy) *lossy = lost;
    return out;
}

std::string LowBytes(const WString& text, bool* lossy) {
    std::string out;
    bool lost = false;
    for (ZVWCHAR unit : text) {
        lost = lost || (unsigned(unit) & 0xFFFF) > 0xFF;
        out += char(unit & 0xFF);
    }
    if (lossy) *lossy = lost;
    return out;
}

}  // namespace zvtool
