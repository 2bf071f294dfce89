// support.h - what the zv tool's commands share: text conversion, key
// names, status texts, class identifiers, the tree view, the address view.
#ifndef ZV_TOOLS_SUPPORT_H
#define ZV_TOOLS_SUPPORT_H

#include <string>
#include <vector>

#include "platform/win32.h"
#include "zv.h"

namespace zvtool {

// Command-line text is UTF-8; the library's text is UTF-16.
std::u16string Wide(const std::string& text);
std::string Utf8(const ZVWCHAR* text);

// A key written as a root text and a path: ZV_HKEY_CONFIG\Software\Demo,
// ZV_HKEY_CLASSES\CLSID, or HKLM\..., HKCR\..., HKCU\..., HKU\...
struct KeyName {
    HKEY root;
    std::u16string path;
};
bool ParseKey(const std::string& text, KeyName* key);

// "0x80004005 (E_FAIL)".
std::string StatusText(HRESULT status);

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case digits.
std::string ClsidText(const CLSID& clsid);
bool ParseClsid(const std::string& text, CLSID* clsid);

// The subtree below a key, one line per key and string value.
LONG DrawTree(const KeyName& key, const std::string& title, std::string* drawing);

// The parsed fields of an address, for people or as JSON.
std::string UriText(bool ok, const ParsedURI& parsed);
std::string UriJson(bool ok, const ParsedURI& parsed);

// Where the emulated machine keeps its registry.
std::string RegistryLocation();

// zv demo.
int Demo(const std::vector<std::string>& args);

}  // namespace zvtool

#endif  // ZV_TOOLS_SUPPORT_H
