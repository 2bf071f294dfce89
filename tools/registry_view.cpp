// registry_view.cpp - the zv tool's own reading of the registry: values of
// any length and the tree view.  The library has no export that enumerates,
// so these go through the Win32 calls, in the width the library would use.
#include <string.h>

#include "tools/registry_view.h"

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

namespace {

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

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

std::vector<Value> Values(HKEY key) {
    std::vector<Value> values;
    Value value;
    for (DWORD index = 0; EnumValue(key, index, &value) == ERROR_SUCCESS; ++index) values.push_back(value);
    return values;
}

std::vector<WString> Subkeys(HKEY key) {
    std::vector<WString> names;
    for (DWORD index = 0;; ++index) {
        // Key names are at most 255 characters.
        if (WideCalls()) {
            WCHAR name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(WString(name, length));
        } else {
            char name[256];
            DWORD length = 256;
            if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            names.push_back(FromLatin1(std::string(name, length)));
        }
    }
    return names;
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

void Draw(HKEY key, const std::string& indent, std::string* out) {
    std::vector<Value> values = Values(key);
    std::vector<WString> subkeys = Subkeys(key);
    size_t total = values.size() + subkeys.size(), drawn = 0;
    for (const Value& value : values) {
        *out += indent + (++drawn == total ? kLast : kBranch);
        *out += value.name.empty() ? "(default)" : Utf8(value.name);
        if (IsText(value.type))
            *out += " = \"" + Utf8(value.text) + "\"\n";
        else
            *out += " (" + TypeName(value.type) + ", " + std::to_string(value.size) + " bytes)\n";
    }
    for (const WString& name : subkeys) {
        bool last = ++drawn == total;
        *out += indent + (last ? kLast : kBranch) + Utf8(name) + "\\\n";
        HKEY child;
        if (OpenKey(key, name, KEY_READ, &child) == ERROR_SUCCESS) {
            Draw(child, indent + (last ? "   " : kThrough), out);
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
    Draw(opened, "", drawing);
    RegCloseKey(opened);
    return ERROR_SUCCESS;
}

}  // namespace zvtool
