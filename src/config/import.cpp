// import.cpp - ZVImportRegistryEntry: every key line of a configuration
// file into the registry as a string value, optionally recording the values
// it overwrites in an undo file.
//
// Sections name keys by their root text ("ZV_HKEY_CONFIG\...",
// "ZV_HKEY_CLASSES\..."), key lines name values, and the key "default"
// (exactly so) names the unnamed value.  The undo file's name is the
// import file's with its first character replaced by "~".
#include "components/components.h"
#include "config/config.h"
#include "config/document.h"
#include "os/os.h"

namespace zv {

namespace {

const WCHAR kDefaultKey[] = {'d', 'e', 'f', 'a', 'u', 'l', 't', 0};
const WCHAR kUndoMark = '~';

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

    const std::string narrowName = Narrow(fileName);
    WString undoName = fileName;
    undoName[0] = kUndoMark;
    // On every call, with or without the undo flag, before the input is
    // looked at.
    if (!ownUndoName) ZVDeleteFile(undoName.c_str());

    FILE* input = OpenNarrow(narrowName, "r");
    if (!input) return E_FAIL;
    fclose(input);

    ConfigDocument source;
    source.Load(fileName);  // after a format error, what was read is imported
    ConfigDocument undoDoc;
    if (undo) undoDoc.Load(undoName.c_str());  // deleted above: this names it
    undoDoc.DeferSaves(batchSaves);

    HRESULT result = S_OK;
    const NameList sections = source.GetSectionNames();
    for (size_t s = 0; s < sections.size() && result == S_OK; ++s) {
        const WString section = Widen(sections[s]);
        const NameList keys = source.GetKeyNames(section.c_str());
        for (size_t k = 0; k < keys.size(); ++k) {
            const WString key = Widen(keys[k]);
            // A loaded value is at most 509 characters: the line limit.
            WCHAR value[ConfigDocument::kMaxLine + 2];
            source.GetValue(section.c_str(), key.c_str(), value);

            // Tested for every key, so a section without keys passes
            // whatever its name.
            HKEY root;
            const WCHAR* keyPath;
            if (!RootFromText(section.c_str(), &root, &keyPath)) {
                result = E_FAIL;
                break;
            }
            // Longer texts than the registry functions' narrow buffers take
            // are passed over on both families alike.
            if (section.size() > kMaxImportText || key.size() > kMaxImportText ||
                ZVStrLenW(value) > kMaxImportText)
                continue;
            const WCHAR* valueName = ZVStrCmpW(key.c_str(), kDefaultKey) == 0 ? nullptr : key.c_str();

            if (undo) {
                // Cleared, so data stored without a terminator still ends.
                WCHAR old[kMaxImportText + 2] = {};
                if (ZVGetRegistryEntry(root, keyPath, valueName, old) == S_OK)
                    undoDoc.SetValue(section.c_str(), key.c_str(), old, 1);
            }
            // A value that cannot be written is skipped silently.
            ZVAddRegistryEntry(root, keyPath, valueName, value);
        }
    }

    if (result == S_OK) {
        // Also when nothing was recorded: an empty undo file.
        if (undo) undoDoc.Save(nullptr);
    } else {
        // Stopped early: the undo file holds the records made so far.
        undoDoc.SavePendingChanges();
    }
    return result;
}

}  // namespace zv

extern "C" {

// Batched: the undo file is written once before the call returns, which
// leaves it as a save after every recorded value would have left it.
ZV_API HRESULT ZVImportRegistryEntry(const ZVWCHAR* fileName, uint16_t undo) {
    return zv::ImportRegistryFile(fileName, undo, true);
}

}  // extern "C"
