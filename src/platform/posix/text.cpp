// text.cpp - conversions between the emulated machine's text forms (UTF-16
// wide names, ISO-8859-1 narrow names) and the host's UTF-8 names.
#include "platform/posix/handles.h"

namespace zvp {
namespace {

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[i]; malformed input yields U+FFFD and
// consumes one byte, so every byte string decodes to something.
uint32_t DecodeUtf8(const std::string& text, size_t& i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c < 0x80 ? 0 : (c >> 5) == 6 ? 1 : (c >> 4) == 14 ? 2 : (c >> 3) == 30 ? 3 : -1;
    if (extra == 0) {
        ++i;
        return c;
    }
    if (extra < 0 || i + extra >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    uint32_t cp = c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        unsigned char cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += extra + 1;
    return cp;
}

}  // namespace

std::string Utf16ToUtf8(const WCHAR* text) {
    std::string out;
    if (!text) return out;
    for (size_t i = 0; text[i]; ++i) {
        uint32_t unit = static_cast<uint16_t>(text[i]);
        if (unit >= 0xD800 && unit < 0xDC00) {
            uint32_t low = static_cast<uint16_t>(text[i + 1]);
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
            unit = 0xFFFD;
        } else if (unit >= 0xDC00 && unit < 0xE000) {
            unit = 0xFFFD;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

std::string Latin1ToUtf8(const char* text) {
    std::string out;
    if (!text) return out;
    for (size_t i = 0; text[i]; ++i) AppendUtf8(out, static_cast<unsigned char>(text[i]));
    return out;
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = DecodeUtf8(text, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string Utf8ToLatin1(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = DecodeUtf8(text, i);
        out += cp <= 0xFF ? char(cp) : '?';
    }
    return out;
}

}  // namespace zvp
