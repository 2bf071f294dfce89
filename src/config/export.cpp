// export.cpp - ZVExportRegistryEntry: the string values of a registry tree
// into a new configuration file, one section per key.
//
// The walk is depth-first, each key's values before its subkeys.  A key is
// named by its root text and path ("ZV_HKEY_CONFIG\Software\Demo"), its
// unnamed value by the key "default".  Values of other types than REG_SZ
// are passed over; a key without string values gives no section.
#include <vector>

#include "components/components.h"
#include "config/config.h"
#include "config/document.h"
#include "frame/frame.h"

namespace zv {

namespace {

// Names are enumerated into 256-unit buffers; the capacity counts the
// terminator, so a name has at most 254 characters.
const DWORD kNameCapacity = 255;
// Value data fills its whole buffer: 512 bytes on the wide path, 256 on the
// narrow one, so a string of up to 255 characters is carried either way (a
// longer value ends its key's enumeration, as any value that does not fit).
const DWORD kWideDataCapacity = 512;
const DWORD kNarrowDataCapacity = 256;

const WCHAR kDefaultKey[] = {'d', 'e', 'f', 'a', 'u', 'l', 't', 0};

void ExportValues(HKEY key, const WString& section, ConfigDocument& doc) {
    for (DWORD index = 0;; ++index) {
        WCHAR name[kNameCapacity + 1];
        WCHAR data[kWideDataCapacity / 2 + 1];
        DWORD nameLength = kNameCapacity;
        DWORD type = REG_NONE;
        if (g_wideCalls) {
            DWORD dataSize = kWideDataCapacity;
            if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type,
                              reinterpret_cast<LPBYTE>(data), &dataSize) != ERROR_SUCCESS)
                break;
            // The data need not carry its terminator; it gets one here.
            data[dataSize / sizeof(WCHAR)] = 0;
        } else {
            char narrowName[kNameCapacity + 1];
            char narrowData[kNarrowDataCapacity + 1];
            DWORD dataSize = kNarrowDataCapacity;
            if (RegEnumValueA(key, index, narrowName, &nameLength, nullptr, &type,
                              reinterpret_cast<LPBYTE>(narrowData), &dataSize) != ERROR_SUCCESS)
                break;
            narrowName[nameLength < kNameCapacity ? nameLength : kNameCapacity] = 0;
            narrowData[dataSize] = 0;
            ZVFromAnsi(name, narrowName);
            ZVFromAnsi(data, narrowData);
        }
        name[nameLength < kNameCapacity ? nameLength : kNameCapacity] = 0;
        if (type != REG_SZ) continue;
        doc.SetValue(section.c_str(), name[0] ? name : kDefaultKey, data, 1);
    }
}

// The index-th subkey's name, widened; false when the enumeration ends
// (no more subkeys, or a name too long for the capacity).
bool SubkeyName(HKEY key, DWORD index, WString* out) {
    WCHAR name[kNameCapacity + 1];
    DWORD nameLength = kNameCapacity;
    if (g_wideCalls) {
        if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return false;
        name[nameLength < kNameCapacity ? nameLength : kNameCapacity] = 0;
    } else {
        char narrowName[kNameCapacity + 1];
        if (RegEnumKeyExA(key, index, narrowName, &nameLength, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS)
            return false;
        narrowName[nameLength < kNameCapacity ? nameLength : kNameCapacity] = 0;
        ZVFromAnsi(name, narrowName);
    }
    *out = name;
    return true;
}

// A key below `base` (the root, or a parent key of the walk).
LONG OpenForReading(HKEY base, const WString& path, HKEY* key) {
    if (g_wideCalls) return RegOpenKeyExW(base, path.c_str(), 0, KEY_READ, key);
    return RegOpenKeyExA(base, Narrow(path.c_str()).c_str(), 0, KEY_READ, key);
}

// A key's string values, unless its header would exceed the reader's line
// limit: such a line would end the reading of the whole file there.
void ExportSection(HKEY key, const WCHAR* rootText, const WString& keyPath, ConfigDocument& doc) {
    if (ZVStrLenW(rootText) + keyPath.size() + 2 > ConfigDocument::kMaxLine) return;
    WString section = rootText;
    section += keyPath;
    ExportValues(key, section, doc);
}

// One level of the walk: an open key, the length of its path, and the next
// of its subkeys to visit.
struct Level {
    HKEY key;
    size_t pathLength;
    DWORD next;
};

// Depth first, each key's values before its subkeys, with a stack of open
// keys instead of recursion, so that no depth of tree exhausts the stack.
// A subkey is opened through its parent's handle (the same key as through
// the root and its whole path, without walking the path again at every
// level).  A subkey that cannot be opened is simply missing from the file.
HRESULT ExportKey(HKEY root, const WString& keyPath, ConfigDocument& doc) {
    HKEY key = nullptr;
    if (OpenForReading(root, keyPath, &key) != ERROR_SUCCESS) return E_FAIL;
    // Only now is the root looked at: an unknown root with a missing path
    // fails as missing.
    const WCHAR* rootText = RootText(root);
    if (!rootText) {
        RegCloseKey(key);
        return E_INVALIDARG;
    }
    ExportSection(key, rootText, keyPath, doc);
    WString path = keyPath;  // of the key at the top of the stack
    std::vector<Level> levels(1, Level{key, path.size(), 0});
    WString name;
    while (!levels.empty()) {
        Level& top = levels.back();
        path.resize(top.pathLength);
        if (!SubkeyName(top.key, top.next++, &name)) {
            RegCloseKey(top.key);
            levels.pop_back();
            continue;
        }
        HKEY child = nullptr;
        if (OpenForReading(top.key, name, &child) != ERROR_SUCCESS) continue;
        path += WCHAR('\\');
        path += name;
        ExportSection(child, rootText, path, doc);
        levels.push_back(Level{child, path.size(), 0});
    }
    return S_OK;
}

}  // namespace

HRESULT ExportRegistryTree(HKEY root, const WCHAR* keyPath, const WCHAR* fileName,
                           bool batchSaves) {
    if (!keyPath || !fileName) return E_INVALIDARG;
    // The file must be new; the test is a plain open for reading (and a
    // file that a save died replacing exists).
    if (FILE* existing = OpenExisting(Narrow(fileName), "r")) {
        fclose(existing);
        return E_FAIL;
    }
    // A name the document cannot hold would leave it nowhere to write.
    if (ZVStrLenW(fileName) > ConfigDocument::kMaxFileName) return E_FAIL;

    ConfigDocument doc;
    doc.Load(fileName);  // the file does not exist: this names the document
    doc.DeferSaves(batchSaves);
    HRESULT result = ExportKey(root, keyPath, doc);
    if (result >= 0) {
        doc.Save(nullptr);  // also when nothing was exported: an empty file
    } else {
        doc.SavePendingChanges();
    }
    return result;
}

}  // namespace zv

extern "C" {

// Batched: the document is written once, when the walk is done, which
// leaves the file as a save after every value would have left it.
ZV_API HRESULT ZVExportRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* fileName) {
    return zv::ExportRegistryTree(root, keyPath, fileName, true);
}

}  // extern "C"
