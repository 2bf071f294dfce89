// export_command.cpp - `zv reg export KEY FILE`: the library writes the
// file; the tool then reads it back and compares it with the registry, so
// that a value the file does not carry is reported, never passed over.
#include <stdio.h>

#include <filesystem>

#include "tools/cli.h"
#include "tools/config_text.h"
#include "tools/registry_view.h"

namespace zvtool {
namespace {

// The export's own limits: names of at most 254 characters, data of at most
// 512 bytes (256 on the narrow path), section headers within the 510
// characters of a line.
const size_t kNameLimit = 254;
const size_t kSectionLimit = 508;

// A string value of the registry and what the file should hold for it.
struct Wanted {
    std::string section, key;  // as the file spells them (narrowed)
    WString value;
    std::string why;  // the export's reason to leave it out, if it has one
};

std::string Shown(const WString& text) { return Utf8(text.size() > 60 ? text.substr(0, 60) : text); }

// The string values of the key and every key below it, depth first, each
// key's values in the registry's order, as the export walks them.
void WalkKey(HKEY root, const WString& path, int depth, std::vector<Wanted>* wanted) {
    HKEY key;
    if (OpenKey(root, path, KEY_READ, &key) != ERROR_SUCCESS) return;
    const WString section = Wide(RootText(root)) + path;
    const DWORD dataLimit = WideCalls() ? 512 : 256;
    std::string endedBy;
    for (const Value& value : Values(key)) {
        const std::string name = value.name.empty() ? "(default)" : Shown(value.name);
        const bool tooLong = value.name.size() > kNameLimit || value.size > dataLimit;
        std::string why;
        if (section.size() > kSectionLimit) why = "the key's path is too long for a section header";
        else if (!endedBy.empty()) why = "it comes after " + endedBy + ", which ended the export of the key's values";
        else if (value.name.size() > kNameLimit) why = "its name is longer than 254 characters";
        else if (tooLong) why = "it is longer than the 255 characters an export carries";
        if (tooLong && endedBy.empty()) endedBy = name;
        if (value.type != REG_SZ) continue;
        wanted->push_back({LowBytes(section), value.name.empty() ? "default" : LowBytes(value.name), value.text, why});
    }
    if (depth < kDeepestWalk)
        for (const WString& name : Subkeys(key)) WalkKey(root, path + ZVWCHAR('\\') + name, depth + 1, wanted);
    RegCloseKey(key);
}

const FileKey* FindKey(const ConfigText& file, const std::string& section, const std::string& key) {
    for (const FileSection& found : file.sections) {
        if (!NoCaseEqual(found.name, section)) continue;
        for (const FileKey& entry : found.keys)
            if (NoCaseEqual(entry.key, key)) return &entry;
    }
    return nullptr;
}

// Why the file lost or changed a value it should carry.
std::string Loss(const Wanted& wanted, const std::vector<Wanted>& all, const FileKey* found) {
    if (!wanted.why.empty()) return wanted.why;
    for (const Wanted& other : all)
        if (&other > &wanted && other.section == wanted.section && NoCaseEqual(other.key, wanted.key))
            return "a later value is also written as key '" + other.key + "' and replaces it";
    const std::string text = LowBytes(wanted.value);
    if (wanted.key.find('=') != std::string::npos) return "its name holds '=', which the file cannot carry";
    if (text.find_first_of("\r\n") != std::string::npos || wanted.key.find_first_of("\r\n") != std::string::npos)
        return "it holds a line break, which the file cannot carry";
    if (!found) return "it is not in the file";
    if (text.find_first_not_of(' ') != std::string::npos && (text.front() == ' ' || text.back() == ' '))
        return "it begins or ends with spaces, which reading the file drops";
    return "the file holds a different text";
}

// Compares the file with the registry; reports every value it does not
// carry and returns their number.
int CheckFile(const std::string& file, const KeyName& key) {
    std::vector<Wanted> wanted;
    WalkKey(key.root, key.path, 0, &wanted);
    const ConfigText text = ReadConfigText(file);
    int lost = 0;
    for (const Wanted& entry : wanted) {
        bool narrowed = false;
        const std::string bytes = LowBytes(entry.value, &narrowed);
        const FileKey* found = FindKey(text, entry.section, entry.key);
        const std::string where = "[" + Utf8(FromLatin1(entry.section)) + "] " + Utf8(FromLatin1(entry.key));
        if (found && found->value == bytes) {
            if (narrowed)
                Warn(where + ": text outside ISO-8859-1 was narrowed: \"" + Shown(entry.value) + "\" is stored as \"" +
                     Utf8(FromLatin1(bytes.substr(0, 60))) + "\"");
            continue;
        }
        fprintf(stderr, "zv: not exported: %s: %s\n", where.c_str(), Loss(entry, wanted, found).c_str());
        ++lost;
    }
    return lost;
}

std::filesystem::path PathOf(const std::string& utf8) { return std::filesystem::u8path(utf8); }

}  // namespace

int ExportCommand(const Args& args) {
    KeyName key;
    if (args.size() != 2) return UsageError("reg export KEY FILE");
    if (!ParseKey(args[0], &key)) return UsageError("unknown root in '" + args[0] + "'");
    if (key.path.empty())
        return Fail("cannot export a whole root: " + args[0] + " (name a key below it)", E_INVALIDARG);
    const std::string& file = args[1];
    std::error_code error;
    const bool existed = std::filesystem::exists(PathOf(file), error);
    HRESULT status = ZVExportRegistryEntry(key.root, key.path.c_str(), Wide(file).c_str());
    if (status == E_INVALIDARG)
        return Fail("cannot export " + args[0] + ": only keys under HKLM (ZV_HKEY_CONFIG) and HKCR "
                    "(ZV_HKEY_CLASSES) have a text form", status);
    if (FAILED(status)) {
        if (existed) return Fail("file exists: " + file, status);
        LONG openError;
        std::string cause = KeyCause(key, KEY_READ, &openError);
        return Fail(cause.empty() ? "cannot export " + args[0] : cause, status);
    }
    if (!std::filesystem::is_regular_file(PathOf(file), error)) {
        const std::filesystem::path folder = PathOf(file).parent_path();
        if (existed) return Fail("not a file: " + file, status);
        if (!folder.empty() && !std::filesystem::is_directory(folder, error))
            return Fail("folder not found: " + folder.u8string() + " (no file written)", status);
        return Fail("cannot write file: " + file + " (no file written)", status);
    }
    const int lost = CheckFile(file, key);
    if (lost > 0)
        return Fail(file + " was written without " + std::to_string(lost) + " of the values below " + args[0] +
                        " (listed above)", status);
    return kExitOk;
}

}  // namespace zvtool
