// support.h - what the zv tool's commands share: key names, status texts,
// class identifiers, the address view.
#ifndef ZV_TOOLS_SUPPORT_H
#define ZV_TOOLS_SUPPORT_H

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/text.h"
#include "zv.h"

namespace zvtool {

// A key written as a root text and a path: ZV_HKEY_CONFIG\Software\Demo,
// ZV_HKEY_CLASSES\CLSID, or HKLM\..., HKCR\..., HKCU\..., HKU\...
struct KeyName {
    HKEY root;
    WString path;
};
bool ParseKey(const std::string& text, KeyName* key);

// "0x80004005 (E_FAIL)".
std::string StatusText(HRESULT status);

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case digits.
std::string ClsidText(const CLSID& clsid);
bool ParseClsid(const std::string& text, CLSID* clsid);

// The parsed fields of an address, for people or as JSON.
std::string UriText(bool ok, const ParsedURI& parsed);
std::string UriJson(bool ok, const ParsedURI& parsed);

// zv demo.
int Demo(const std::vector<std::string>& args);

}  // namespace zvtool

#endif  // ZV_TOOLS_SUPPORT_H
