// support.cpp - helpers of the zv tool.
#include "tools/support.h"

#include <stdio.h>
#include <stdlib.h>
#include <ctype.h>
#include <string.h>


namespace zvtool {

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

}  // namespace zvtool
