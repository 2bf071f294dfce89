// support.cpp - helpers of the zv tool.
#include "tools/support.h"

#include <stdio.h>
#include <stdlib.h>
#include <ctype.h>
#include <string.h>


namespace zvtool {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t length = strlen(prefix);
    if (text.size() < length) return false;
    for (size_t i = 0; i < length; ++i)
        if (tolower(static_cast<unsigned char>(text[i])) != tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

}  // namespace

bool ParseKey(const std::string& text, KeyName* key) {
    struct Root {
        const char* prefix;
        HKEY root;
    };
    const Root roots[] = {
        {"ZV_HKEY_CONFIG\\", HKEY_LOCAL_MACHINE},     {"ZV_HKEY_CLASSES\\", HKEY_CLASSES_ROOT},
        {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE}, {"HKEY_CLASSES_ROOT\\", HKEY_CLASSES_ROOT},
        {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},   {"HKEY_USERS\\", HKEY_USERS},
        {"HKLM\\", HKEY_LOCAL_MACHINE},               {"HKCR\\", HKEY_CLASSES_ROOT},
        {"HKCU\\", HKEY_CURRENT_USER},                {"HKU\\", HKEY_USERS},
    };
    std::string withSlash = text;
    if (withSlash.find('\\') == std::string::npos) withSlash += '\\';
    for (const Root& root : roots) {
        if (!StartsWithNoCase(withSlash, root.prefix)) continue;
        std::string path = withSlash.substr(strlen(root.prefix));
        while (!path.empty() && path.back() == '\\') path.pop_back();
        while (!path.empty() && path[0] == '\\') path.erase(0, 1);
        key->root = root.root;
        key->path = Wide(path);
        key->text = text;
        return true;
    }
    return false;
}

std::string RootText(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return "ZV_HKEY_CONFIG\\";
    if (root == HKEY_CLASSES_ROOT) return "ZV_HKEY_CLASSES\\";
    return "";
}

namespace {

struct CodeName {
    LONG code;  // a Win32 error or an HRESULT: both 32-bit
    const char* name;
};

// "0x%08X (NAME)", with `unknown` when the table does not hold the code.
template <size_t N>
std::string CodeText(LONG code, const CodeName (&names)[N], const char* unknown) {
    const char* name = unknown;
    for (const CodeName& known : names)
        if (known.code == code) name = known.name;
    char text[64];
    snprintf(text, sizeof(text), "0x%08X (%s)", unsigned(code), name);
    return text;
}

}  // namespace

std::string StatusText(HRESULT status) {
    const CodeName names[] = {
        {S_OK, "S_OK"},
        {S_FALSE, "S_FALSE"},
        {E_FAIL, "E_FAIL"},
        {E_INVALIDARG, "E_INVALIDARG"},
        {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"},
        {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
        {CLASS_E_NOAGGREGATION, "CLASS_E_NOAGGREGATION"},
        {CLASS_E_CLASSNOTAVAILABLE, "CLASS_E_CLASSNOTAVAILABLE"},
        {RPC_E_CHANGED_MODE, "RPC_E_CHANGED_MODE"},
    };
    return CodeText(status, names, "unknown status");
}

std::string Win32ErrorText(LONG error) {
    // Win32's numbers, fixed on every system.
    const CodeName names[] = {
        {0, "ERROR_SUCCESS"},           {2, "ERROR_FILE_NOT_FOUND"},     {3, "ERROR_PATH_NOT_FOUND"},
        {5, "ERROR_ACCESS_DENIED"},     {6, "ERROR_INVALID_HANDLE"},     {8, "ERROR_NOT_ENOUGH_MEMORY"},
        {14, "ERROR_OUTOFMEMORY"},      {80, "ERROR_FILE_EXISTS"},       {87, "ERROR_INVALID_PARAMETER"},
        {112, "ERROR_DISK_FULL"},       {120, "ERROR_CALL_NOT_IMPLEMENTED"}, {123, "ERROR_INVALID_NAME"},
        {126, "ERROR_MOD_NOT_FOUND"},   {127, "ERROR_PROC_NOT_FOUND"},   {183, "ERROR_ALREADY_EXISTS"},
        {193, "ERROR_BAD_EXE_FORMAT"},  {206, "ERROR_FILENAME_EXCED_RANGE"}, {234, "ERROR_MORE_DATA"},
        {259, "ERROR_NO_MORE_ITEMS"},   {1009, "ERROR_BADDB"},           {1010, "ERROR_BADKEY"},
        {1011, "ERROR_CANTOPEN"},       {1012, "ERROR_CANTREAD"},        {1013, "ERROR_CANTWRITE"},
        {1015, "ERROR_REGISTRY_CORRUPT"}, {1016, "ERROR_REGISTRY_IO_FAILED"}, {1018, "ERROR_KEY_DELETED"},
        {1020, "ERROR_KEY_HAS_CHILDREN"}, {1021, "ERROR_CHILD_MUST_BE_VOLATILE"},
        {1450, "ERROR_NO_SYSTEM_RESOURCES"}, {1630, "ERROR_UNSUPPORTED_TYPE"},
    };
    return CodeText(error, names, "unknown error");
}

std::string ClsidText(const CLSID& clsid) {
    char text[40];
    snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
             unsigned(clsid.Data1), unsigned(clsid.Data2), unsigned(clsid.Data3), clsid.Data4[0],
             clsid.Data4[1], clsid.Data4[2], clsid.Data4[3], clsid.Data4[4], clsid.Data4[5],
             clsid.Data4[6], clsid.Data4[7]);
    return text;
}

bool ParseClsid(const std::string& text, CLSID* clsid) {
    // Strict: the library reads the text back in exactly this form.
    if (text.size() != 38 || text[0] != '{' || text[37] != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    auto hex = [&](size_t at, size_t digits) {
        return strtoul(text.substr(at, digits).c_str(), nullptr, 16);
    };
    clsid->Data1 = uint32_t(hex(1, 8));
    clsid->Data2 = uint16_t(hex(10, 4));
    clsid->Data3 = uint16_t(hex(15, 4));
    const size_t bytes[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) clsid->Data4[i] = uint8_t(hex(bytes[i], 2));
    return true;
}

}  // namespace zvtool
