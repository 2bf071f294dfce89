// reg_command.cpp - `zv reg get|set|delete|tree`: string values of the
// registry.  Writing and deleting go through the library; reading goes
// through the Win32 calls, so values of any length can be read.  When the
// library reports a failure, the tool asks the registry itself for the cause.
#include <stdio.h>

#include "tools/cli.h"
#include "tools/registry_view.h"

namespace zvtool {
namespace {

// The registry calls of the 9x family take names and texts of at most 255
// characters (the library narrows them into buffers of 256 bytes).
const size_t kNarrowLimit = 255;
// The registry's own limit for one key name.
const size_t kKeyNameLimit = 255;

// Checks that there are `least` to `most` arguments and reads the key that
// the first names; the exit status of a usage error, else 0.
int KeyArguments(const Args& args, size_t least, size_t most, const char* usage, KeyName* key) {
    if (args.size() < least || args.size() > most) return UsageError(usage);
    if (!ParseKey(args[0], key)) return UsageError("unknown root in '" + args[0] + "'");
    return kExitOk;
}

// "name too long: TEXT (N characters, at most M)" when it is, else "".
std::string TooLong(const std::string& what, const WString& text, size_t limit) {
    if (text.size() <= limit) return "";
    return what + " too long: " + Utf8(text.substr(0, 40)) + "... (" + std::to_string(text.size()) +
           " characters, at most " + std::to_string(limit) + ")";
}

// The first key name of `path` longer than the registry takes, in words.
std::string KeyNameTooLong(const WString& path) {
    size_t start = 0;
    for (;;) {
        size_t end = path.find(ZVWCHAR('\\'), start);
        WString name = path.substr(start, end == WString::npos ? WString::npos : end - start);
        std::string cause = TooLong("key name", name, kKeyNameLimit);
        if (!cause.empty() || end == WString::npos) return cause;
        start = end + 1;
    }
}

// Why ZVAddRegistryEntry failed on `key`: asked of the registry.
std::string WriteFailure(const KeyName& key, const std::string& name) {
    std::string cause = KeyNameTooLong(key.path);
    if (!cause.empty()) return cause;
    LONG error;
    cause = KeyCause(key, KEY_ALL_ACCESS, &error);
    if (error == ERROR_FILE_NOT_FOUND) cause = RegistryCause(ProbeWrite());
    if (!cause.empty()) return cause;
    return "cannot write value " + (name.empty() ? "(default)" : name) + " in " + key.text;
}

int RegGet(const Args& args) {
    KeyName key;
    if (int usage = KeyArguments(args, 1, 2, "reg get KEY [NAME]", &key)) return usage;
    HKEY opened;
    LONG error = OpenKey(key.root, key.path, KEY_READ, &opened);
    if (error != ERROR_SUCCESS) return FailWin32(OpenFailure(key, error), error);
    const WString name = args.size() > 1 ? Wide(args[1]) : WString();
    Value value;
    error = ReadValue(opened, &name, &value);
    RegCloseKey(opened);
    const std::string shown = name.empty() ? "(default)" : args[1];
    if (error == ERROR_FILE_NOT_FOUND) return FailWin32("value not found: " + shown + " in " + key.text, error);
    if (error != ERROR_SUCCESS) {
        std::string cause = RegistryCause(error);
        return FailWin32(cause.empty() ? "cannot read value " + shown + " in " + key.text : cause, error);
    }
    if (!IsText(value.type))
        return FailWin32("not a string value: " + shown + " in " + key.text + " (" + TypeName(value.type) + ")",
                         1630 /* ERROR_UNSUPPORTED_TYPE */);
    printf("%s\n", Utf8(value.text).c_str());
    return kExitOk;
}

int RegSet(const Args& args) {
    KeyName key;
    if (int usage = KeyArguments(args, 2, 3, "reg set KEY [NAME] VALUE", &key)) return usage;
    const std::string nameText = args.size() == 3 ? args[1] : "";
    const WString name = Wide(nameText), value = Wide(args.back());
    if (!WideCalls()) {
        for (const std::string& cause : {TooLong("key path", key.path, kNarrowLimit),
                                         TooLong("value name", name, kNarrowLimit),
                                         TooLong("value", value, kNarrowLimit)})
            if (!cause.empty()) return Fail(cause + " on the 9x family", E_INVALIDARG);
        bool lossy[3] = {};
        LowBytes(key.path, &lossy[0]), LowBytes(name, &lossy[1]), LowBytes(value, &lossy[2]);
        if (lossy[0] || lossy[1] || lossy[2])
            Warn("text outside ISO-8859-1 is narrowed by the 9x family's registry calls: \"" + args.back() +
                 "\" is stored as \"" + Utf8(FromLatin1(LowBytes(value))) + "\"");
    }
    HRESULT status = ZVAddRegistryEntry(key.root, key.path.c_str(), name.c_str(), value.c_str());
    if (FAILED(status)) return Fail(WriteFailure(key, nameText), status);
    return kExitOk;
}

int RegDelete(const Args& args) {
    KeyName key;
    if (int usage = KeyArguments(args, 1, 1, "reg delete KEY", &key)) return usage;
    if (key.path.empty()) return UsageError("refusing to delete a whole root");
    HRESULT status = ZVDeleteRegistryEntry(key.root, key.path.c_str());
    if (SUCCEEDED(status)) return kExitOk;
    LONG error;
    std::string cause = KeyCause(key, KEY_READ, &error);
    if (cause.empty()) cause = RegistryCause(ProbeWrite());
    if (cause.empty()) cause = "could not delete everything below " + key.text;
    return Fail(cause, status);
}

int RegTree(const Args& args) {
    KeyName key;
    if (int usage = KeyArguments(args, 1, 1, "reg tree KEY", &key)) return usage;
    std::string drawing;
    LONG error = DrawTree(key, args[0], &drawing);
    if (error != ERROR_SUCCESS) return FailWin32(OpenFailure(key, error), error);
    fputs(drawing.c_str(), stdout);
    return kExitOk;
}

}  // namespace

int RegCommand(const Args& args) {
    return Dispatch("reg", {{"get", RegGet}, {"set", RegSet}, {"delete", RegDelete}, {"tree", RegTree},
                            {"export", ExportCommand}, {"import", ImportCommand}},
                    args);
}

}  // namespace zvtool
