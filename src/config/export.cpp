// export.cpp - ZVExportRegistryEntry: the string values of a registry tree
// into a new configuration file, one section per key.
//
// The walk is depth-first, each key's values before its subkeys.  A key is
// named by its root text and path ("ZV_HKEY_CONFIG\Software\Demo"), its
// unnamed value by the key "default".  Values of other types than REG_SZ
// are passed over; a key without string values gives no section.
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

HRESULT ExportKey(HKEY root, const WString& keyPath, ConfigDocument& doc);

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

void ExportSubkeys(HKEY root, HKEY key, const WString& keyPath, ConfigDocument& doc) {
    for (DWORD index = 0;; ++index) {
        WCHAR name[kNameCapacity + 1];
        DWORD nameLength = kNameCapacity;
        if (g_wideCalls) {
            if (RegEnumKeyExW(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            name[nameLength < kNameCapacity ? nameLength : kNameCapacity] = 0;
        } else {
            char narrowName[kNameCapacity + 1];
            if (RegEnumKeyExA(key, index, narrowName, &nameLength, nullptr, nullptr, nullptr,
                              nullptr) != ERROR_SUCCESS)
                break;
            narrowName[nameLength < kNameCapacity ? nameLength : kNameCapacity] = 0;
            ZVFromAnsi(name, narrowName);
        }
        WString child = keyPath;
        child += WCHAR('\\');
        child += name;
        // A subkey that cannot be opened is simply missing from the file.
        ExportKey(root, child, doc);
    }
}

HRESULT ExportKey(HKEY root, const WString& keyPath, ConfigDocument& doc) {
    HKEY key = nullptr;
    LONG status;
    if (g_wideCalls) {
        status = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_READ, &key);
    } else {
        status = RegOpenKeyExA(root, Narrow(keyPath.c_str()).c_str(), 0, KEY_READ, &key);
    }
    if (status != ERROR_SUCCESS) return E_FAIL;
    // Only now is the root looked at: an unknown root with a missing path
    // fails as missing.
    const WCHAR* rootText = RootText(root);
    if (!rootText) {
        RegCloseKey(key);
        return E_INVALIDARG;
    }
    WString section = rootText;
    section += keyPath;
    // A header longer than the reader's line limit would end the reading of
    // the whole file at this section; such a key's values stay out of it.
    if (section.size() + 2 <= ConfigDocument::kMaxLine) ExportValues(key, section, doc);
    ExportSubkeys(root, key, keyPath, doc);
    RegCloseKey(key);
    return S_OK;
}

}  // namespace

HRESULT ExportRegistryTree(HKEY root, const WCHAR* keyPath, const WCHAR* fileName,
                           bool batchSaves) {
    if (!keyPath || !fileName) return E_INVALIDARG;
    // The file must be new; the test is a plain open for reading.
    if (FILE* existing = OpenNarrow(Narrow(fileName), "r")) {
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
