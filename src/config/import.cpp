// import.cpp - ZVImportRegistryEntry: every key line of a configuration
// file into the registry as a string value, optionally recording the values
// it overwrites in an undo file.
//
// Sections name keys by their root text ("ZV_HKEY_CONFIG\...",
// "ZV_HKEY_CLASSES\..."), key lines name values, and the key "default"
// (exactly so) names the unnamed value.  The undo file's name is the
// import file's with its first character replaced by "~".
//
// The undo file is on disk, holding a value's old text, before that value
// is overwritten: the lines go in batches (1, 2, 4, ... lines), each one's
// old values read and saved to the undo file before any of its writes.  So
// an import killed at any point leaves every overwritten value in the undo
// file, at the price of about twice the undo file's size in writing.
#include <unordered_set>
#include <vector>

#include "components/components.h"
#include "config/config.h"
#include "config/document.h"
#include "os/os.h"

namespace zv {

namespace {

const WCHAR kDefaultKey[] = {'d', 'e', 'f', 'a', 'u', 'l', 't', 0};
const WCHAR kUndoMark = '~';

// One key line of the import file, on its way to the registry.
struct Line {
    WString section;  // also the undo record's section
    WString key;
    WString value;
    HKEY root;
    size_t pathStart;  // the key path is the section from here on
    bool unnamed;      // the key "default"

    const WCHAR* KeyPath() const { return section.c_str() + pathStart; }
    const WCHAR* ValueName() const { return unnamed ? nullptr : key.c_str(); }
};

// A text's units as the registry compares them, or more loosely: the low
// byte (a widened byte comes back sign-extended, and the 9x family sends the
// byte itself), with A-Z and the ISO-8859-1 letters in one case.
void AppendFolded(const WCHAR* text, size_t length, std::string* out) {
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i] & 0xFF);
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            c = static_cast<unsigned char>(c - 0x20);
        out->push_back(static_cast<char>(c));
    }
}

// The registry value a line reaches.  Two lines with equal identities may
// reach the same value (the key "default" and the empty key, a key under
// both roots, names that differ in case beyond A-Z); lines with different
// ones never do.
std::string ValueIdentity(const Line& line) {
    static const WCHAR kClasses[] = {'S', 'o', 'f', 't', 'w', 'a', 'r', 'e',  '\\',
                                     'C', 'l', 'a', 's', 's', 'e', 's', '\\', 0};
    WString path = line.root == HKEY_CLASSES_ROOT ? WString(kClasses) : WString();
    path += line.KeyPath();
    std::string identity;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\') continue;
        if (i > start) {  // empty names between backslashes do not count
            AppendFolded(path.c_str() + start, i - start, &identity);
            identity.push_back('\\');
        }
        start = i + 1;
    }
    identity.push_back('\0');
    if (!line.unnamed) AppendFolded(line.key.c_str(), line.key.size(), &identity);
    return identity;
}

// The key lines of the document in the order they are written, up to the
// first section with keys that names no root (then *result is E_FAIL).
std::vector<Line> PlanLines(const ConfigDocument& source, HRESULT* result) {
    std::vector<Line> lines;
    *result = S_OK;
    for (const std::string& narrowSection : source.GetSectionNames()) {
        const WString section = Widen(narrowSection);
        for (const std::string& narrowKey : source.GetKeyNames(section.c_str())) {
            Line line;
            line.section = section;
            line.key = Widen(narrowKey);
            // Tested for every key, so a section without keys passes
            // whatever its name.
            const WCHAR* keyPath;
            if (!RootFromText(section.c_str(), &line.root, &keyPath)) {
                *result = E_FAIL;
                return lines;
            }
            line.pathStart = size_t(keyPath - section.c_str());
            // A loaded value is at most 509 characters: the line limit.
            WCHAR value[ConfigDocument::kMaxLine + 2];
            source.GetValue(section.c_str(), line.key.c_str(), value);
            line.value = value;
            // Longer texts than the registry functions' narrow buffers take
            // are passed over on both families alike.
            if (section.size() > kMaxImportText || line.key.size() > kMaxImportText ||
                line.value.size() > kMaxImportText)
                continue;
            line.unnamed = ZVStrCmpW(line.key.c_str(), kDefaultKey) == 0;
            lines.push_back(std::move(line));
        }
    }
    return lines;
}

// Records the line's current value in the undo document; true if it had one.
bool RecordOldValue(const Line& line, ConfigDocument& undoDoc) {
    // Cleared, so data stored without a terminator still ends.
    WCHAR old[kMaxImportText + 2] = {};
    if (ZVGetRegistryEntry(line.root, line.KeyPath(), line.ValueName(), old) != S_OK) return false;
    undoDoc.SetValue(line.section.c_str(), line.key.c_str(), old, 1);
    return true;
}

void WriteLine(const Line& line) {
    // A value that cannot be written is skipped silently.
    ZVAddRegistryEntry(line.root, line.KeyPath(), line.ValueName(), line.value.c_str());
}

// The end of the batch that starts at `first`: at most `size` lines, none
// reaching a value that an earlier line of the batch reaches, since its
// record must be the value as that earlier line left it.
size_t BatchEnd(const std::vector<Line>& lines, size_t first, size_t size) {
    std::unordered_set<std::string> reached;
    size_t end = first;
    while (end < lines.size() && end - first < size &&
           reached.insert(ValueIdentity(lines[end])).second)
        ++end;
    return end;
}

// Writes the lines with their old values saved ahead in batches.  E_FAIL,
// with the batch unwritten, when the undo file could not be kept.
HRESULT WriteWithUndo(const std::vector<Line>& lines, ConfigDocument& undoDoc) {
    size_t size = 1;
    for (size_t first = 0; first < lines.size(); size *= 2) {
        const size_t end = BatchEnd(lines, first, size);
        bool recorded = false;
        for (size_t i = first; i < end; ++i)
            recorded = RecordOldValue(lines[i], undoDoc) || recorded;
        // An undo name that cannot be written at all (no such directory)
        // leaves the import without an undo file; a save that failed (a
        // full disk) would lose the old values, so the import stops.
        if (recorded && undoDoc.SaveFile(nullptr) == SaveResult::kFailed) return E_FAIL;
        for (size_t i = first; i < end; ++i) WriteLine(lines[i]);
        first = end;
    }
    return S_OK;
}

}  // namespace

HRESULT ImportRegistryFile(const WCHAR* fileName, uint16_t undo, bool batchSaves) {
    // Neither an empty name (it has no first character to replace) nor one
    // whose undo name would not fit is looked at.
    if (!fileName || !fileName[0] || ZVStrLenW(fileName) > kMaxImportFileName) return E_FAIL;
    // A name that begins with "~" is its own undo name: the import never
    // deletes its input, and refuses to give it an undo file it could not
    // keep apart from the input.
    const bool ownUndoName = fileName[0] == kUndoMark;
    if (ownUndoName && undo) return E_FAIL;

    WString undoName = fileName;
    undoName[0] = kUndoMark;
    // On every call, with or without the undo flag, before the input is
    // looked at.
    if (!ownUndoName) ZVDeleteFile(undoName.c_str());

    FILE* input = OpenExisting(Narrow(fileName), "r");
    if (!input) return E_FAIL;
    fclose(input);

    ConfigDocument source;
    source.Load(fileName);  // after a format error, what was read is imported
    HRESULT result;
    const std::vector<Line> lines = PlanLines(source, &result);

    if (!undo) {
        for (const Line& line : lines) WriteLine(line);
        return result;
    }
    ConfigDocument undoDoc;
    undoDoc.Load(undoName.c_str());  // deleted above: this names it
    if (batchSaves) {
        undoDoc.DeferSaves(true);
        if (WriteWithUndo(lines, undoDoc) != S_OK) return E_FAIL;
    } else {
        // Every record saved on its own, before its write (write-through).
        for (const Line& line : lines) {
            RecordOldValue(line, undoDoc);
            WriteLine(line);
        }
    }
    // Also when nothing was recorded: an empty undo file.  (Records were
    // saved with their batch: a last save would write the same.)  An import
    // stopped by a section without a root keeps what its batches saved.
    if (result == S_OK && (undoDoc.SavePending() || undoDoc.Sections().empty()))
        undoDoc.Save(nullptr);
    return result;
}

}  // namespace zv

extern "C" {

// Batched: each batch's old values are in the undo file before its writes.
ZV_API HRESULT ZVImportRegistryEntry(const ZVWCHAR* fileName, uint16_t undo) {
    return zv::ImportRegistryFile(fileName, undo, true);
}

}  // extern "C"
