// support.h - what the zv tool's commands share: key names, status texts,
// class identifiers.
#ifndef ZV_TOOLS_SUPPORT_H
#define ZV_TOOLS_SUPPORT_H

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tools/text.h"
#include "zv.h"

namespace zvtool {

// A key written as a root and a path: ZV_HKEY_CONFIG\Software\Demo,
// ZV_HKEY_CLASSES\CLSID, HKLM\..., HKCR\..., HKCU\..., HKU\... or the long
// forms (HKEY_LOCAL_MACHINE\...); roots in any letter case.
struct KeyName {
    HKEY root;
    WString path;      // without leading or trailing backslashes
    std::string text;  // as the user wrote it, for messages
};
bool ParseKey(const std::string& text, KeyName* key);

// The text form a file gives the key's root ("ZV_HKEY_CONFIG\"), or "" for
// the roots that have none.
std::string RootText(HKEY root);

// "0x80004005 (E_FAIL)", "0x00000002 (ERROR_FILE_NOT_FOUND)".
std::string StatusText(HRESULT status);
std::string Win32ErrorText(LONG error);

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case digits.
std::string ClsidText(const CLSID& clsid);
bool ParseClsid(const std::string& text, CLSID* clsid);

}  // namespace zvtool

#endif  // ZV_TOOLS_SUPPORT_H
