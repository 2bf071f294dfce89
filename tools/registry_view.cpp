// registry_view.cpp - the zv tool's own reading of the registry: values of
// any length and the tree view.  The library has no export that enumerates,
// so these go through the Win32 calls, in the width the library would use.
#include <string.h>

#include "tools/registry_view.h"

#include "tools/host.h"

namespace zvtool {

bool WideCalls() {
    static const bool wide = [] {
        OSVERSIONINFOW info;
        memset(&info, 0, sizeof(info));
        info.dwOSVersionInfoSize = sizeof(info);
        // A failed query counts as "not NT": the narrow calls exist everywhere.
        return GetVersionExW(&info) && info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    }();
    return wide;
}

LONG OpenKey(HKEY root, const WString& path, REGSAM access, HKEY* key) {
    if (WideCalls()) return RegOpenKeyExW(root, path.c_str(), 0, access, key);
    return RegOpenKeyExA(root, ToLatin1(path).c_str(), 0, access, key);
}

LONG ProbeWrite() {
    // A name no one else uses, below the key that the library's
    // configuration lives in; removed at once, so the registry is as before.
    const std::string name = "Software\\zv write probe " + std::to_string(long(GetCurrentProcessId()));
    HKEY probe;
    DWORD disposition = 0;
    LONG error = WideCalls() ? RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(name).c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &probe, &disposition)
                             : RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &probe, &disposition);
    if (error != ERROR_SUCCESS) return error;
    RegCloseKey(probe);
    if (disposition == REG_CREATED_NEW_KEY)
        error = WideCalls() ? RegDeleteKeyW(HKEY_LOCAL_MACHINE, Wide(name).c_str())
                            : RegDeleteKeyA(HKEY_LOCAL_MACHINE, name.c_str());
    return error;
}

std::string RegistryCause(LONG error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
        if (ProbeWrite() == ERROR_ACCESS_DENIED) return "registry is read-only: " + RegistryLocation();
        return "";
    case ERROR_BADDB:
    case ERROR_BADKEY:
    case ERROR_REGISTRY_CORRUPT:
        return "registry is corrupt: " + RegistryLocation();
    case ERROR_CANTOPEN:
    case ERROR_CANTREAD:
    case ERROR_CANTWRITE:
    case ERROR_REGISTRY_IO_FAILED:
    case ERROR_DISK_FULL:
        return "registry cannot be read or written: " + RegistryLocation();
    default:
        return "";
    }
}

std::string OpenFailure(const KeyName& key, LONG error) {
    if (error == ERROR_FILE_NOT_FOUND) return "key not found: " + key.text;
    std::string cause = RegistryCause(error);
    if (!cause.empty()) return cause;
    if (error == ERROR_ACCESS_DENIED) return "access denied: " + key.text;
    return "cannot open key: " + key.text;
}

std::string KeyCause(const KeyName& key, REGSAM access, LONG* error) {
    HKEY opened;
    *error = OpenKey(key.root, key.path, access, &opened);
    if (*error != ERROR_SUCCESS) return OpenFailure(key, *error);
    RegCloseKey(opened);
    return "";
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

namespace {

// A value's text from its bytes: UTF-16 units from the wide calls,
// ISO-8859-1 from the narrow ones; ends at the first terminator.
WString TextOf(const std::vector<BYTE>& data, DWORD size) {
    WString text;
    if (WideCalls()) {
        for (DWORD i = 0; i + 1 < size; i += 2) {
            ZVWCHAR unit = ZVWCHAR(data[i] | (data[i + 1] << 8));
            if (!unit) break;
            text += unit;
        }
    } else {
        for (DWORD i = 0; i < size && data[i]; ++i) text += ZVWCHAR(data[i]);
    }
    return text;
}

// The value at `index`: one enumeration call, repeated with the size the
// registry asks for while the data does not fit.
LONG EnumValue(HKEY key, DWORD index, Value* value) {
    std::vector<BYTE> data(256);
    for (;;) {
        DWORD size = DWORD(data.size());
        LONG error;
        if (WideCalls()) {
            std::vector<WCHAR> name(16384);
            DWORD length = DWORD(name.size());
            error = RegEnumValueW(key, index, name.data(), &length, nullptr, &value->type, data.data(), &size);
            if (error == ERROR_SUCCESS) value->name = WString(name.data(), length);
        } else {
            std::vector<char> name(16384);
            DWORD length = DWORD(name.size());
            error = RegEnumValueA(key, index, name.data(), &length, nullptr, &value->type, data.data(), &size);
            if (error == ERROR_SUCCESS) value->name = FromLatin1(std::string(name.data(), length));
        }
        if (error == ERROR_MORE_DATA && size > data.size()) {
            data.resize(size);
            continue;
        }
        if (error != ERROR_SUCCESS) return error;
        value->size = size;
        value->text = IsText(value->type) ? TextOf(data, size) : WString();
        return ERROR_SUCCESS;
    }
}

}  // namespace

LONG ReadValue(HKEY key, const WString* name, Value* value) {
    std::vector<BYTE> data(256);
    const std::string narrowName = name ? ToLatin1(*name) : std::string();
    for (;;) {
        DWORD size = DWORD(data.size());
        LONG error = WideCalls()
            ? RegQueryValueExW(key, name ? name->c_str() : nullptr, nullptr, &value->type, data.data(), &size)
            : RegQueryValueExA(key, name ? narrowName.c_str() : nullptr, nullptr, &value->type, data.data(), &size);
        if (error == ERROR_MORE_DATA && size > data.size()) {
            data.resize(size);
            continue;
        }
        if (error != ERROR_SUCCESS) return error;
        value->name = name ? *name : WString();
        value->size = size;
        value->text = IsText(value->type) ? TextOf(data, size) : WString();
        return ERROR_SUCCESS;
    }
}

std::vector<Value> Values(HKEY key, LONG* ended) {
    std::vector<Value> values;
    Value value;
    LONG error;
    for (DWORD index = 0; (error = EnumValue(key, index, &value)) == ERROR_SUCCESS; ++index) values.push_back(value);
    if (ended) *ended = error;
    return values;
}

std::vector<WString> Subkeys(HKEY key, LONG* ended) {
    std::vector<WString> names;
    for (DWORD index = 0;; ++index) {
        // Key names are at most 255 characters.
        LONG error;
        if (WideCalls()) {
            WCHAR name[256];
            DWORD length = 256;
            error = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (error == ERROR_SUCCESS) names.push_back(WString(name, length));
        } else {
            char name[256];
            DWORD length = 256;
            error = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (error == ERROR_SUCCESS) names.push_back(FromLatin1(std::string(name, length)));
        }
        if (error != ERROR_SUCCESS) {
            if (ended) *ended = error;
            return names;
        }
    }
}

std::string TypeName(DWORD type) {
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_SZ: return "REG_SZ";
    case REG_EXPAND_SZ: return "REG_EXPAND_SZ";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    case REG_MULTI_SZ: return "REG_MULTI_SZ";
    case REG_QWORD: return "REG_QWORD";
    default: return "type " + std::to_string(type);
    }
}

namespace {

const char kBranch[] = "\xE2\x94\x9C\xE2\x94\x80 ";  // "├─ "
const char kLast[] = "\xE2\x94\x94\xE2\x94\x80 ";    // "└─ "
const char kThrough[] = "\xE2\x94\x82  ";            // "│  "
// Longer texts are cut in the drawing, with their length.
const size_t kShownUnits = 256;

void Draw(HKEY key, const std::string& indent, int depth, std::string* out) {
    std::vector<Value> values = Values(key);
    std::vector<WString> subkeys = Subkeys(key);
    size_t total = values.size() + subkeys.size(), drawn = 0;
    for (const Value& value : values) {
        *out += indent + (++drawn == total ? kLast : kBranch);
        *out += value.name.empty() ? "(default)" : Utf8(value.name);
        if (IsText(value.type) && value.text.size() > kShownUnits)
            *out += " = \"" + Utf8(value.text.substr(0, kShownUnits)) + "...\" (" +
                    std::to_string(value.text.size()) + " characters)\n";
        else if (IsText(value.type))
            *out += " = \"" + Utf8(value.text) + "\"\n";
        else
            *out += " (" + TypeName(value.type) + ", " + std::to_string(value.size) + " bytes)\n";
    }
    for (const WString& name : subkeys) {
        bool last = ++drawn == total;
        *out += indent + (last ? kLast : kBranch) + Utf8(name) + "\\\n";
        HKEY child;
        if (depth == kDeepestWalk) {
            *out += indent + (last ? "   " : kThrough) + kLast + "(not opened: deeper than " + std::to_string(kDeepestWalk) + " levels)\n";
        } else if (OpenKey(key, name, KEY_READ, &child) == ERROR_SUCCESS) {
            Draw(child, indent + (last ? "   " : kThrough), depth + 1, out);
            RegCloseKey(child);
        }
    }
}

}  // namespace

LONG DrawTree(const KeyName& key, const std::string& title, std::string* drawing) {
    HKEY opened;
    LONG error = OpenKey(key.root, key.path, KEY_READ, &opened);
    if (error != ERROR_SUCCESS) return error;
    *drawing = title + "\n";
    Draw(opened, "", 0, drawing);
    RegCloseKey(opened);
    return ERROR_SUCCESS;
}

}  // namespace zvtool
