// components.h - what the registry and component-object layer shares with
// the rest of the library.
#ifndef ZV_COMPONENTS_H
#define ZV_COMPONENTS_H

#include "platform/win32.h"

namespace zv {

// Start-up hook of the component layer, run by the first ZVInit just before
// the ZCom lock is created.  A negative status fails ZVInit.
HRESULT ComponentStartupHook();

}  // namespace zv

#endif  // ZV_COMPONENTS_H
