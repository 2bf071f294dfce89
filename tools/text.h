// text.h - the zv tool's text conversions: the command line and the output
// are UTF-8, the library's text is UTF-16, the narrow (9x) calls take
// ISO-8859-1.
#ifndef ZV_TOOLS_TEXT_H
#define ZV_TOOLS_TEXT_H

#include <string>

#include "zv.h"

namespace zvtool {

typedef std::basic_string<ZVWCHAR> WString;

// Malformed UTF-8 and unpaired surrogates become U+FFFD.
WString Wide(const std::string& utf8);
std::string Utf8(const ZVWCHAR* text);
std::string Utf8(const WString& text);

// ISO-8859-1 maps the first 256 code points one to one.
WString FromLatin1(const std::string& latin1);
// Units above 0xFF become '?'; *lossy (when given) tells whether any did.
std::string ToLatin1(const WString& text, bool* lossy = nullptr);

// The library's own narrowing: the low 8 bits of each unit.  *lossy (when
// given) tells whether a unit above 0xFF lost its high bits.
std::string LowBytes(const WString& text, bool* lossy = nullptr);

}  // namespace zvtool

#endif  // ZV_TOOLS_TEXT_H
