// import_command.cpp - `zv reg import FILE [--undo] [--lenient]`: the
// library imports the file as it always does; the tool reads the file
// itself first, so it can say which lines and sections were not imported and
// why, and reads back every value afterwards to see that it arrived.
#include <stdio.h>

#include <algorithm>
#include <filesystem>

#include "tools/cli.h"
#include "tools/config_text.h"
#include "tools/registry_view.h"

namespace zvtool {
namespace {

// Section names, keys and values the import carries hold at most 255
// characters.
const size_t kTextLimit = 255;

// One value the library is expected to write.
struct Planned {
    HKEY root;
    WString path;
    WString name;  // empty: the default value
    std::string value;
    int line;
    std::string where;
};

// The root of a section name, tested as the library does: case-sensitive,
// ZV_HKEY_CONFIG\ first.
bool SectionRoot(const std::string& name, HKEY* root, std::string* path) {
    for (HKEY candidate : {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}) {
        const std::string text = RootText(candidate);
        if (name.compare(0, text.size(), text) != 0) continue;
        *root = candidate;
        *path = name.substr(text.size());
        return true;
    }
    return false;
}

// What the import will write, in its order; sections it cannot write and
// the section that stops it become notes.
std::vector<Planned> Plan(ConfigText* text) {
    std::vector<Planned> plan;
    for (size_t i = 0; i < text->sections.size(); ++i) {
        const FileSection& section = text->sections[i];
        if (section.keys.empty()) continue;  // never tested, never written
        HKEY root;
        std::string path;
        if (!SectionRoot(section.name, &root, &path)) {
            const size_t after = text->sections.size() - i - 1;
            text->notes.push_back(
                {section.line,
                 "section [" + section.name + "] is not a registry location (it must begin with ZV_HKEY_CONFIG\\ or "
                 "ZV_HKEY_CLASSES\\, in capitals): the import stops here" +
                     (after ? ", so the " + std::to_string(after) + " section(s) after it are not imported either" : ""),
                 true});
            break;
        }
        for (const FileKey& key : section.keys) {
            if (section.name.size() > kTextLimit || key.key.size() > kTextLimit || key.value.size() > kTextLimit) {
                text->notes.push_back({key.line, "section name, key or value longer than 255 characters: not imported",
                                       true});
                continue;
            }
            plan.push_back({root, FromLatin1(path), key.key == "default" ? WString() : FromLatin1(key.key), key.value,
                            key.line, "[" + section.name + "] " + key.key});
        }
    }
    return plan;
}

// Reads back every planned value; a value that did not arrive becomes a note.
void Verify(const std::vector<Planned>& plan, ConfigText* text) {
    std::string cause;
    bool probed = false;
    for (const Planned& entry : plan) {
        HKEY key;
        Value value;
        LONG error = OpenKey(entry.root, entry.path, KEY_READ, &key);
        if (error == ERROR_SUCCESS) {
            error = ReadValue(key, &entry.name, &value);
            RegCloseKey(key);
        }
        if (error == ERROR_SUCCESS && IsText(value.type) && LowBytes(value.text) == entry.value) continue;
        if (!probed) cause = RegistryCause(ProbeWrite());
        probed = true;
        text->notes.push_back({entry.line, Utf8(FromLatin1(entry.where)) + " was not written" +
                                               (cause.empty() ? "" : ": " + cause), true});
    }
}

// The notes in line order: skipped lines as errors, the rest as warnings.
int Report(const std::string& file, ConfigText* text) {
    std::stable_sort(text->notes.begin(), text->notes.end(),
                     [](const FileNote& a, const FileNote& b) { return a.line < b.line; });
    int skipped = 0;
    for (const FileNote& note : text->notes) {
        fprintf(stderr, "zv: %s%s:%d: %s\n", note.skipped ? "" : "warning: ", file.c_str(), note.line,
                Utf8(FromLatin1(note.text)).c_str());
        skipped += note.skipped ? 1 : 0;
    }
    return skipped;
}

}  // namespace

int ImportCommand(const Args& args) {
    bool undo = false, lenient = false;
    Args rest = WithoutFlag(WithoutFlag(args, "--undo", &undo), "--lenient", &lenient);
    if (rest.size() != 1) return UsageError("reg import FILE [--undo] [--lenient]");
    const std::string& file = rest[0];
    ConfigText text = ReadConfigText(file);
    const std::vector<Planned> plan = text.opened ? Plan(&text) : std::vector<Planned>();
    HRESULT status = ZVImportRegistryEntry(Wide(file).c_str(), undo ? 1 : 0);
    if (!text.opened) {
        std::error_code error;
        bool exists = std::filesystem::exists(std::filesystem::u8path(file), error);
        return Fail((exists ? "cannot read file: " : "file not found: ") + file, status);
    }
    if (FAILED(status) && undo && !file.empty() && file[0] == '~')
        return Fail("cannot keep an undo file for " + file + ": its name begins with '~', so the undo file would "
                    "be the file itself", status);
    Verify(plan, &text);
    const int skipped = Report(file, &text);
    if (FAILED(status)) return Fail("the import of " + file + " stopped (see above)", status);
    if (undo) printf("undo file: %s\n", Utf8(ZVWCHAR('~') + Wide(file).substr(1)).c_str());
    if (skipped > 0 && !lenient)
        return Fail(std::to_string(skipped) + " line(s) or section(s) of " + file +
                        " were not imported (see above; --lenient accepts this)", status);
    return kExitOk;
}

}  // namespace zvtool
