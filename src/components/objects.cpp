// objects.cpp - class lookup by programmatic identifier and object creation
// through the class factories of in-process servers.
#include "components/components.h"
#include "frame/frame.h"

namespace zv {

namespace {

// Key path of a programmatic identifier's class: the identifier and
// "\CLSID" with its terminator.
constexpr uint32_t kProgIdKeyChars = 510;
constexpr uint32_t kClsidSuffixChars = 6;  // "\CLSID"
constexpr uint32_t kMaxProgIdChars = kProgIdKeyChars - kClsidSuffixChars - 1;

// The largest value the registry read delivers, terminator included: 255
// units, and one more for a narrow value of 255 bytes stored without its
// terminator, which widens to 255 characters and the terminator.
constexpr uint32_t kRegistryValueChars = 256;

// Narrow staging of a class identifier text, room to spare.
constexpr uint32_t kClsidNarrowChars = 40;

// First characters of the Data4 byte pairs in a class identifier text.
constexpr uint32_t kData4Positions[8] = {20, 22, 25, 27, 29, 31, 33, 35};

// The server's export, with the calling convention of the platform's servers.
typedef HRESULT(ZV_STDCALL* GetClassObjectFn)(const CLSID& clsid, const IID& riid,
                                              void** object);

int32_t HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Two characters at position of text (length characters long) to one byte;
// the byte is written only on success.
HRESULT HexPairToByte(const char* text, uint32_t length, uint32_t position, uint8_t* byte) {
    // Both characters must lie before the terminator.
    if (position + 1 >= length) return E_FAIL;
    int32_t high = HexDigitValue(text[position]);
    int32_t low = HexDigitValue(text[position + 1]);
    if (high < 0 || low < 0) return E_FAIL;
    *byte = uint8_t(16 * high + low);
    return S_OK;
}

}  // namespace

void FormatClsidText(const CLSID& clsid, WCHAR* text) {
    char narrow[kClsidNarrowChars];
    sprintf(narrow, "{%08lX-%04hX-%04hX-%02hX%02hX-%02hX%02hX%02hX%02hX%02hX%02hX}",
            static_cast<unsigned long>(clsid.Data1), static_cast<unsigned short>(clsid.Data2),
            static_cast<unsigned short>(clsid.Data3),
            static_cast<unsigned short>(clsid.Data4[0]),
            static_cast<unsigned short>(clsid.Data4[1]),
            static_cast<unsigned short>(clsid.Data4[2]),
            static_cast<unsigned short>(clsid.Data4[3]),
            static_cast<unsigned short>(clsid.Data4[4]),
            static_cast<unsigned short>(clsid.Data4[5]),
            static_cast<unsigned short>(clsid.Data4[6]),
            static_cast<unsigned short>(clsid.Data4[7]));
    ZVFromAnsi(text, narrow);
}

HRESULT LookUpServerPath(const CLSID& clsid, WCHAR* path) {
    // "CLSID\" + text + "\InprocServer32" + terminator.
    WCHAR key[6 + kClsidTextChars + 15 + 1];
    WCHAR text[kClsidTextChars + 1];
    FormatClsidText(clsid, text);
    ZVStrCpyW(key, ZV_W("CLSID\\"));
    ZVStrCatW(key, text);
    ZVStrCatW(key, ZV_W("\\InprocServer32"));
    return ZVGetRegistryEntry(HKEY_CLASSES_ROOT, key, nullptr, path);
}

}  // namespace zv

extern "C" {

ZV_API HRESULT ZVClsidFromProgId(const ZVWCHAR* progId, CLSID* clsid) {
    // An identifier too long for the key buffer cannot name a registered
    // class; the class identifier stays as it was.
    if (ZVStrLenW(progId) > zv::kMaxProgIdChars) return E_FAIL;
    WCHAR key[zv::kProgIdKeyChars];
    ZVStrCpyW(key, progId);
    ZVStrCatW(key, ZV_W("\\CLSID"));

    // Zero-filled, so that a value stored without its terminator still ends
    // inside the buffer.
    WCHAR value[zv::kRegistryValueChars] = {};
    HRESULT status = ZVGetRegistryEntry(HKEY_CLASSES_ROOT, key, nullptr, value);
    if (status < 0) return status;

    char text[zv::kRegistryValueChars + 1];
    ZVToAnsi(text, value);

    // The scan stops at the first character that does not fit; the fields
    // after that point keep what they held.  Data1 goes through an unsigned
    // long, which is wider than the field where long has 64 bits.
    unsigned long data1 = clsid->Data1;
    sscanf(text, "{%08lX-%04hX-%04hX", &data1, &clsid->Data2, &clsid->Data3);
    clsid->Data1 = uint32_t(data1);

    // Each byte on its own: a pair that is not hexadecimal keeps its byte.
    const uint32_t length = ZVStrLenA(text);
    for (uint32_t i = 0; i < 8; ++i) {
        zv::HexPairToByte(text, length, zv::kData4Positions[i], &clsid->Data4[i]);
    }
    return status;
}

ZV_API HRESULT ZVCreateObject(uint32_t unused, const CLSID* clsid, IUnknown* outer,
                              const IID* iid, void** out) {
    (void)unused;
    // The look-up, the load and the insertion form one step under the lock,
    // so that concurrent first creations of a class load its server once.
    EnterCriticalSection(&zv::g_zcomLock);
    IClassFactory* factory = nullptr;
    if (zv::ServerCacheLookup(*clsid, &factory) < 0) {
        WCHAR path[zv::kServerPathChars];
        if (zv::LookUpServerPath(*clsid, path) < 0) {
            LeaveCriticalSection(&zv::g_zcomLock);
            return REGDB_E_CLASSNOTREG;
        }
        ZVHANDLE library = ZVOpenLibrary(path);
        if (!library) {
            LeaveCriticalSection(&zv::g_zcomLock);
            return REGDB_E_CLASSNOTREG;
        }
        // From here on a failure closes the library again: no record keeps it.
        void* entry = ZVGetSymbol(library, ZV_W("DllGetClassObject"));
        if (!entry) {
            ZVCloseLibrary(library);
            LeaveCriticalSection(&zv::g_zcomLock);
            return REGDB_E_CLASSNOTREG;
        }
        HRESULT status = reinterpret_cast<zv::GetClassObjectFn>(entry)(
            *clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        // A server that reports success without a factory has failed.
        if (status >= 0 && !factory) status = E_FAIL;
        if (status >= 0) {
            status = zv::ServerCacheInsert(library, path, *clsid, factory);
            if (status < 0) factory->Release();
        }
        if (status < 0) {
            ZVCloseLibrary(library);
            LeaveCriticalSection(&zv::g_zcomLock);
            return status;
        }
    }
    LeaveCriticalSection(&zv::g_zcomLock);

    // The cache's reference keeps the factory alive across the call.
    return factory->CreateInstance(outer, *iid, out);
}

}  // extern "C"
