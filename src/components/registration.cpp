// registration.cpp - recording in-process servers in the registry and
// removing them again.
#include "components/components.h"

namespace {

// Key paths are built here; the longest is "CLSID\" + C + "\InprocServer32".
constexpr uint32_t kKeyPathChars = 512;
constexpr uint32_t kProgIdCopyLimit = 510;
// The lengths for which every key path fits with its terminator.
constexpr uint32_t kMaxProgIdChars = 505;
constexpr uint32_t kMaxClsidTextChars = 490;

// Unregistration builds "CLSID\" + C here.
constexpr uint32_t kClassKeyChars = 262;
constexpr uint32_t kMaxUnregisterClsidChars = kClassKeyChars - 6 - 1;

bool Fits(const ZVWCHAR* text, uint32_t maxChars) {
    return text && text[0] != 0 && ZVStrLenW(text) <= maxChars;
}

}  // namespace

extern "C" {

ZV_API HRESULT ZVRegisterComponent(const ZVWCHAR* serverPath, const ZVWCHAR* progId,
                                   const ZVWCHAR* description, const ZVWCHAR* clsidText) {
    // An identifier that is empty or too long for the key buffer would write
    // to the root's own values or past the buffer: refused before any write.
    if (!serverPath || !description || !Fits(progId, kMaxProgIdChars) ||
        !Fits(clsidText, kMaxClsidTextChars)) {
        return E_FAIL;
    }
    WCHAR key[kKeyPathChars];

    HRESULT status = ZVAddRegistryEntry(HKEY_CLASSES_ROOT, progId, ZV_W(""), description);
    if (status < 0) return status;

    ZVStrNCpyW(key, progId, kProgIdCopyLimit);
    ZVStrNCatW(key, ZV_W("\\CLSID"), kProgIdCopyLimit);
    status = ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key, ZV_W(""), clsidText);
    if (status < 0) return status;

    ZVStrCpyW(key, ZV_W("CLSID\\"));
    ZVStrCatW(key, clsidText);
    status = ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key, ZV_W(""), progId);
    if (status < 0) return status;

    ZVStrCatW(key, ZV_W("\\InprocServer32"));
    status = ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key, ZV_W(""), serverPath);
    if (status < 0) return status;

    return ZVAddRegistryEntry(HKEY_CLASSES_ROOT, key, ZV_W("ThreadingModel"), ZV_W("Both"));
}

ZV_API HRESULT ZVUnregisterComponent(const ZVWCHAR* progId, const ZVWCHAR* clsidText) {
    // Each deletion removes a whole subtree, so an empty name, which would
    // name the root itself or all of "CLSID", is never passed on.
    if (progId && progId[0] != 0) ZVDeleteRegistryEntry(HKEY_CLASSES_ROOT, progId);
    if (Fits(clsidText, kMaxUnregisterClsidChars)) {
        WCHAR key[kClassKeyChars];
        ZVStrCpyW(key, ZV_W("CLSID\\"));
        ZVStrCatW(key, clsidText);
        ZVDeleteRegistryEntry(HKEY_CLASSES_ROOT, key);
    }
    return S_OK;
}

}  // extern "C"
