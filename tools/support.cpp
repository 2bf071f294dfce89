// support.cpp - helpers of the zv tool.
#include "tools/support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "frame/frame.h"
#include "platform/posix/handles.h"

namespace zvtool {

std::u16string Wide(const std::string& text) { return zvp::Utf8ToUtf16(text); }

std::string Utf8(const ZVWCHAR* text) { return zvp::Utf16ToUtf8(text); }

bool ParseKey(const std::string& text, KeyName* key) {
    struct Root {
        const char* prefix;
        HKEY root;
    };
    // The library's own root texts first, then the usual short names.
    const Root roots[] = {
        {"ZV_HKEY_CONFIG\\", HKEY_LOCAL_MACHINE}, {"ZV_HKEY_CLASSES\\", HKEY_CLASSES_ROOT},
        {"HKLM\\", HKEY_LOCAL_MACHINE},           {"HKCR\\", HKEY_CLASSES_ROOT},
        {"HKCU\\", HKEY_CURRENT_USER},            {"HKU\\", HKEY_USERS},
    };
    std::string withSlash = text;
    if (withSlash.find('\\') == std::string::npos) withSlash += '\\';
    for (const Root& root : roots) {
        size_t length = strlen(root.prefix);
        if (withSlash.compare(0, length, root.prefix) == 0) {
            key->root = root.root;
            key->path = Wide(withSlash.substr(length));
            while (!key->path.empty() && key->path.back() == u'\\') key->path.pop_back();
            return true;
        }
    }
    return false;
}

std::string StatusText(HRESULT status) {
    struct Name {
        HRESULT status;
        const char* name;
    };
    const Name names[] = {
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
    char text[64];
    const char* name = "unknown status";
    for (const Name& known : names)
        if (known.status == status) name = known.name;
    snprintf(text, sizeof(text), "0x%08X (%s)", unsigned(status), name);
    return text;
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
    // Strict: the registry keeps the text as given and the library finds a
    // class by formatting its identifier, so a loose text would never match.
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

// ---- the tree view ---------------------------------------------------------

namespace {

// The registry as the library sees it: wide calls on the NT family, narrow
// (ISO-8859-1) calls on the 9x family.
struct Value {
    std::u16string name;
    DWORD type;
    std::u16string text;
};

std::u16string FromLatin1(const char* text) { return Wide(zvp::Latin1ToUtf8(text)); }

std::string ToLatin1(const std::u16string& text) { return zvp::Utf8ToLatin1(Utf8(text.c_str())); }

LONG OpenKey(HKEY root, const std::u16string& path, HKEY* key) {
    if (zv::g_wideCalls) return RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key);
    return RegOpenKeyExA(root, ToLatin1(path).c_str(), 0, KEY_READ, key);
}

std::vector<std::u16string> Subkeys(HKEY key) {
    std::vector<std::u16string> names;
    for (DWORD index = 0;; ++index) {
        if (zv::g_wideCalls) {
            WCHAR name[256];
            DWORD length = 256;
            if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.push_back(name);
        } else {
            char name[256];
            DWORD length = 256;
            if (RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            names.push_back(FromLatin1(name));
        }
    }
    return names;
}

std::vector<Value> Values(HKEY key) {
    std::vector<Value> values;
    for (DWORD index = 0;; ++index) {
        Value value;
        std::vector<BYTE> data(4096);
        DWORD dataSize = DWORD(data.size());
        LONG error;
        if (zv::g_wideCalls) {
            WCHAR name[16384];
            DWORD length = 16384;
            error = RegEnumValueW(key, index, name, &length, nullptr, &value.type, data.data(),
                                  &dataSize);
            if (error == ERROR_SUCCESS) value.name = name;
        } else {
            char name[16384];
            DWORD length = 16384;
            error = RegEnumValueA(key, index, name, &length, nullptr, &value.type, data.data(),
                                  &dataSize);
            if (error == ERROR_SUCCESS) value.name = FromLatin1(name);
        }
        if (error == ERROR_MORE_DATA) {
            value.type = REG_NONE;
            value.text = u"(too long to show)";
        } else if (error != ERROR_SUCCESS) {
            break;
        } else if (value.type == REG_SZ || value.type == REG_EXPAND_SZ) {
            data.resize(dataSize + 2, 0);
            if (zv::g_wideCalls) {
                for (size_t i = 0; i + 1 < data.size(); i += 2) {
                    char16_t unit = char16_t(data[i] | (data[i + 1] << 8));
                    if (!unit) break;
                    value.text += unit;
                }
            } else {
                value.text = FromLatin1(reinterpret_cast<const char*>(data.data()));
            }
        }
        values.push_back(value);
    }
    return values;
}

void Draw(HKEY key, const std::string& indent, std::string* out) {
    std::vector<Value> values = Values(key);
    std::vector<std::u16string> subkeys = Subkeys(key);
    size_t total = values.size() + subkeys.size(), drawn = 0;
    for (const Value& value : values) {
        bool last = ++drawn == total;
        *out += indent + (last ? "\xE2\x94\x94\xE2\x94\x80 " : "\xE2\x94\x9C\xE2\x94\x80 ");
        *out += value.name.empty() ? "(default)" : Utf8(value.name.c_str());
        if (value.type == REG_SZ || value.type == REG_EXPAND_SZ)
            *out += " = \"" + Utf8(value.text.c_str()) + "\"\n";
        else
            *out += " (type " + std::to_string(value.type) + ")\n";
    }
    for (const std::u16string& name : subkeys) {
        bool last = ++drawn == total;
        *out += indent + (last ? "\xE2\x94\x94\xE2\x94\x80 " : "\xE2\x94\x9C\xE2\x94\x80 ");
        *out += Utf8(name.c_str()) + "\\\n";
        HKEY child;
        if (OpenKey(key, name, &child) == ERROR_SUCCESS) {
            Draw(child, indent + (last ? "   " : "\xE2\x94\x82  "), out);
            RegCloseKey(child);
        }
    }
}

}  // namespace

LONG DrawTree(const KeyName& key, const std::string& title, std::string* drawing) {
    HKEY opened;
    LONG error = OpenKey(key.root, key.path, &opened);
    if (error != ERROR_SUCCESS) return error;
    *drawing = title + "\n";
    Draw(opened, "", drawing);
    RegCloseKey(opened);
    return ERROR_SUCCESS;
}

// ---- the address view ------------------------------------------------------

namespace {

struct Field {
    const char* name;
    const ZVWCHAR* value;
};

std::vector<Field> Fields(const ParsedURI& parsed) {
    return {{"scheme", parsed.scheme}, {"host", parsed.host},         {"port", parsed.port},
            {"path", parsed.path},     {"transport", parsed.transport}, {"link", parsed.link}};
}

std::string JsonString(const ZVWCHAR* value) {
    if (!value) return "null";
    std::string out = "\"";
    for (char c : Utf8(value)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof(escaped), "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::string UriText(bool ok, const ParsedURI& parsed) {
    if (!ok) return "";
    std::string out;
    for (const Field& field : Fields(parsed))
        if (field.value) out += std::string(field.name) + ": " + Utf8(field.value) + "\n";
    for (int i = 0; i < 8; i += 2) {
        if (!parsed.attributes[i]) continue;
        out += "attribute: " + Utf8(parsed.attributes[i]);
        if (parsed.attributes[i + 1]) out += " = " + Utf8(parsed.attributes[i + 1]);
        out += "\n";
    }
    return out;
}

std::string UriJson(bool ok, const ParsedURI& parsed) {
    if (!ok) return "{\"ok\": false}\n";
    std::string out = "{\"ok\": true";
    for (const Field& field : Fields(parsed))
        out += std::string(", \"") + field.name + "\": " + JsonString(field.value);
    out += ", \"attributes\": [";
    bool first = true;
    for (int i = 0; i < 8; i += 2) {
        if (!parsed.attributes[i]) continue;
        out += first ? "" : ", ";
        out += "{\"name\": " + JsonString(parsed.attributes[i]) +
               ", \"value\": " + JsonString(parsed.attributes[i + 1]) + "}";
        first = false;
    }
    return out + "]}\n";
}

std::string RegistryLocation() {
    const char* configured = getenv("ZV_REGISTRY");
    if (configured && *configured) return configured;
    const char* data = getenv("XDG_DATA_HOME");
    if (data && *data) return std::string(data) + "/zv/registry.db";
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/zv/registry.db";
}

}  // namespace zvtool
