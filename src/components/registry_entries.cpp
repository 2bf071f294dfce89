// registry_entries.cpp - string values in the registry under a caller's
// root key, and the text form of registry locations.
//
// Each call goes to the wide or the narrow registry functions by the
// wide-call switch.  On the narrow path names and values are staged in
// fixed buffers on the stack, so writing and reading allocate nothing.
#include <vector>

#include "components/components.h"
#include "frame/frame.h"
#include "platform/win32.h"
#include "zv.h"

namespace zv {
namespace {

const ZVWCHAR kConfigRootText[] = ZV_W("ZV_HKEY_CONFIG\\");
const ZVWCHAR kClassesRootText[] = ZV_W("ZV_HKEY_CLASSES\\");

// Narrow staging buffers and the subkey name buffer of the deletion.
constexpr uint32_t kStagingSize = 256;
constexpr uint32_t kNameBufferSize = 256;
// A value is read with a capacity of 255 bytes on both paths, and a subkey
// name enumerated with a capacity of 255 characters.
constexpr DWORD kReadCapacity = 255;
constexpr DWORD kNameCapacity = 255;

// Narrows text into a staging buffer; null becomes the empty string.  Text
// that would not fit is refused rather than written past the buffer.
bool Stage(char* staging, const ZVWCHAR* text) {
    if (!text) {
        staging[0] = 0;
        return true;
    }
    if (ZVStrLenW(text) >= kStagingSize) return false;
    ZVToAnsi(staging, text);
    return true;
}

HRESULT AddWide(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                const ZVWCHAR* value) {
    HKEY key;
    if (RegCreateKeyExW(root, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    // The terminator is stored with the string.
    DWORD size = DWORD((ZVStrLenW(value) + 1) * sizeof(ZVWCHAR));
    LONG status =
        RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

HRESULT AddNarrow(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                  const ZVWCHAR* value) {
    char path[kStagingSize], name[kStagingSize], data[kStagingSize];
    if (!Stage(path, keyPath) || !Stage(name, valueName) || !Stage(data, value)) return E_FAIL;
    HKEY key;
    if (RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return E_FAIL;
    LONG status = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                 ZVStrLenA(data) + 1);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

HRESULT GetWide(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName, ZVWCHAR* buffer) {
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return E_FAIL;
    // Straight into the caller's buffer: up to 126 characters and the
    // terminator fit in 255 bytes.
    DWORD size = kReadCapacity;
    LONG status =
        RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

HRESULT GetNarrow(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName, ZVWCHAR* buffer) {
    char path[kStagingSize], name[kStagingSize];
    if (!Stage(path, keyPath) || !Stage(name, valueName)) return E_FAIL;
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return E_FAIL;
    // Zeroed, so that data without a terminator (a value of another type)
    // still ends inside the buffer: the query writes at most 255 bytes.
    char data[kStagingSize] = {};
    DWORD size = kReadCapacity;
    LONG status =
        RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return E_FAIL;
    ZVFromAnsi(buffer, data);
    return S_OK;
}

// One enumerated subkey's name, kept in a list until the enumeration is
// over: nothing is deleted while indices are still being walked.
struct SubkeyName {
    SubkeyName* next;
    ZVWCHAR name[kNameBufferSize];
};

// One key being emptied: its handle, the next index to enumerate and the
// names of its subkeys found so far.
struct Emptying {
    HKEY key;
    DWORD next;
    SubkeyName* first;
    SubkeyName* last;
};

// Removes every key below an open key, depth first: each key's children
// are emptied before any of them is deleted.  A stack of keys being emptied
// stands in for recursion, so that no depth of tree exhausts the stack.
// The result (the OR of the deletions' results) is for the record; the
// caller's final delete tells.
LONG EmptySubtree(HKEY top) {
    std::vector<Emptying> levels(1, Emptying{top, 0, nullptr, nullptr});
    LONG result = ERROR_SUCCESS;
    while (!levels.empty()) {
        Emptying& level = levels.back();
        SubkeyName* entry = static_cast<SubkeyName*>(ZVMalloc(sizeof(SubkeyName)));
        DWORD length = kNameCapacity;
        if (entry && RegEnumKeyExW(level.key, level.next++, entry->name, &length, nullptr, nullptr,
                                   nullptr, nullptr) == ERROR_SUCCESS) {
            entry->next = nullptr;
            *(level.last ? &level.last->next : &level.first) = entry;
            level.last = entry;
            HKEY child;
            if (RegOpenKeyExW(level.key, entry->name, 0, KEY_ALL_ACCESS, &child) == ERROR_SUCCESS)
                levels.push_back(Emptying{child, 0, nullptr, nullptr});
            continue;
        }
        ZVFree(entry);
        // Nothing was deleted while the indices were walked; now the
        // subkeys go, in the order they were found.
        for (SubkeyName* name = level.first; name;) {
            SubkeyName* next = name->next;
            result |= RegDeleteKeyW(level.key, name->name);
            ZVFree(name);
            name = next;
        }
        if (levels.size() > 1) RegCloseKey(level.key);
        levels.pop_back();
    }
    return result;
}

HRESULT DeleteWide(HKEY root, const ZVWCHAR* keyPath) {
    HKEY key;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return E_FAIL;
    EmptySubtree(key);
    RegCloseKey(key);
    return RegDeleteKeyW(root, keyPath) == ERROR_SUCCESS ? S_OK : E_FAIL;
}

HRESULT DeleteNarrow(HKEY root, const ZVWCHAR* keyPath) {
    char* path = static_cast<char*>(ZVMalloc(ZVStrLenW(keyPath) + 1));
    if (!path) return E_FAIL;
    ZVToAnsi(path, keyPath);
    // The narrow family's delete takes the subkeys with the key.
    LONG status = RegDeleteKeyA(root, path);
    ZVFree(path);
    return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

}  // namespace

const ZVWCHAR* RootText(HKEY root) {
    if (root == HKEY_LOCAL_MACHINE) return kConfigRootText;
    if (root == HKEY_CLASSES_ROOT) return kClassesRootText;
    return nullptr;
}

bool RootFromText(const ZVWCHAR* text, HKEY* root, const ZVWCHAR** keyPath) {
    uint32_t length = ZVStrLenW(kConfigRootText);
    if (ZVStrNCmpW(text, kConfigRootText, length) == 0) {
        *root = HKEY_LOCAL_MACHINE;
        *keyPath = text + length;
        return true;
    }
    length = ZVStrLenW(kClassesRootText);
    if (ZVStrNCmpW(text, kClassesRootText, length) == 0) {
        *root = HKEY_CLASSES_ROOT;
        *keyPath = text + length;
        return true;
    }
    return false;
}

}  // namespace zv

extern "C" {

// A missing key path, value or buffer is refused: a null key path would
// otherwise name the root key itself.
ZV_API HRESULT ZVAddRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                                  const ZVWCHAR* value) {
    if (!keyPath || !value) return E_FAIL;
    return zv::g_wideCalls ? zv::AddWide(root, keyPath, valueName, value)
                           : zv::AddNarrow(root, keyPath, valueName, value);
}

ZV_API HRESULT ZVGetRegistryEntry(HKEY root, const ZVWCHAR* keyPath, const ZVWCHAR* valueName,
                                  ZVWCHAR* buffer) {
    if (!keyPath || !buffer) return E_FAIL;
    return zv::g_wideCalls ? zv::GetWide(root, keyPath, valueName, buffer)
                           : zv::GetNarrow(root, keyPath, valueName, buffer);
}

ZV_API HRESULT ZVDeleteRegistryEntry(HKEY root, const ZVWCHAR* keyPath) {
    if (!keyPath) return E_FAIL;
    return zv::g_wideCalls ? zv::DeleteWide(root, keyPath) : zv::DeleteNarrow(root, keyPath);
}

}  // extern "C"
