// components.h - what the registry and component-object layer shares with
// the rest of the library.
#ifndef ZV_COMPONENTS_H
#define ZV_COMPONENTS_H

#include "platform/win32.h"

namespace zv {

// Start-up hook of the component layer, run by the first ZVInit just before
// the ZCom lock is created.  A negative status fails ZVInit.
HRESULT ComponentStartupHook();

// The text form of a registry location starts with its root's text:
// "ZV_HKEY_CONFIG\" for HKEY_LOCAL_MACHINE, "ZV_HKEY_CLASSES\" for
// HKEY_CLASSES_ROOT, followed directly by the key path.  Null for any
// other key, which has no text form.
const ZVWCHAR* RootText(HKEY root);

// The root key and key path of a location text: the root text must begin
// the text exactly (same case); the key path is the rest, possibly empty
// (the root itself).  False when the text begins with neither root text.
bool RootFromText(const ZVWCHAR* text, HKEY* root, const ZVWCHAR** keyPath);

}  // namespace zv

#endif  // ZV_COMPONENTS_H
