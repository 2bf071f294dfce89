// components.h - what the registry and component-object layer shares with
// the rest of the library.
#ifndef ZV_COMPONENTS_H
#define ZV_COMPONENTS_H

#include "platform/win32.h"
#include "zv.h"

namespace zv {

// Start-up hook of the component layer, run by the first ZVInit just before
// the ZCom lock is created.  A negative status fails ZVInit.
HRESULT ComponentStartupHook();

// ---- Root texts (registry.cpp) --------------------------------------------

// The text form of a registry location starts with its root's text:
// "ZV_HKEY_CONFIG\" for HKEY_LOCAL_MACHINE, "ZV_HKEY_CLASSES\" for
// HKEY_CLASSES_ROOT, followed directly by the key path.  Null for any
// other key, which has no text form.
const ZVWCHAR* RootText(HKEY root);

// The root key and key path of a location text: the root text must begin
// the text exactly (same case); the key path is the rest, possibly empty
// (the root itself).  False when the text begins with neither root text.
bool RootFromText(const ZVWCHAR* text, HKEY* root, const ZVWCHAR** keyPath);

// ---- Server cache (runtime.cpp) -------------------------------------------

// Wide characters of a server path, terminator included.
constexpr uint32_t kServerPathChars = 260;

// One loaded in-process server: filled once when a class's factory is first
// obtained, never changed, freed only when the whole cache is released.
struct ServerRecord {
    ZVHANDLE library;
    WCHAR serverPath[kServerPathChars];
    CLSID clsid;
    IClassFactory* factory;  // the record owns this reference
};

// Both with g_zcomLock held.  The look-up takes the first record of the
// class, in insertion order, and hands out its factory without AddRef;
// E_FAIL (out untouched) when there is none.
HRESULT ServerCacheLookup(const CLSID& clsid, IClassFactory** factory);
// Appends a record; no check for a record of the same class.  E_OUTOFMEMORY
// when the record or the array cannot grow (nothing is then taken over).
HRESULT ServerCacheInsert(ZVHANDLE library, const WCHAR* serverPath, const CLSID& clsid,
                          IClassFactory* factory);

// For tests and the tool, with g_zcomLock held or no other thread in the
// component layer.
uint32_t ServerCacheCount();
const ServerRecord* ServerCacheRecord(uint32_t index);
int32_t ZComCount();
IMalloc* ZComTaskAllocator();

// ---- Class identifiers (objects.cpp) --------------------------------------

// Characters of a class identifier text, braces included, no terminator.
constexpr uint32_t kClsidTextChars = 38;

// Writes the braced text of a class identifier with upper-case digits and a
// terminator: text must hold kClsidTextChars + 1 characters.
void FormatClsidText(const CLSID& clsid, WCHAR* text);

// Reads the default value of "CLSID\<text>\InprocServer32" under
// HKEY_CLASSES_ROOT into path (kServerPathChars characters); the status of
// the registry read.
HRESULT LookUpServerPath(const CLSID& clsid, WCHAR* path);

}  // namespace zv

#endif  // ZV_COMPONENTS_H
