// uri_command.cpp - `zv uri`: the parts of an address, for people or as JSON.
#include <stdio.h>

#include "tools/cli.h"

namespace zvtool {

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

}  // namespace

int UriCommand(const Args& args) {
    bool json = false;
    Args rest = WithoutFlag(args, "--json", &json);
    if (rest.size() != 1) return UsageError("uri TEXT [--json]");
    WString text = Wide(rest[0]);
    ParsedURI parsed;
    bool ok = ParseURI(&text[0], &parsed) == 0;
    fputs((json ? UriJson(ok, parsed) : UriText(ok, parsed)).c_str(), stdout);
    if (!ok && !json) fprintf(stderr, "zv: not an address: %s\n", rest[0].c_str());
    return ok ? kExitOk : kExitFailure;
}

}  // namespace zvtool
