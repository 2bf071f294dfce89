// runtime.cpp - the ZCom component runtime.
#include "components/components.h"

namespace zv {

// The layer keeps its state in static storage that needs no preparation,
// so there is nothing to do at start-up.
HRESULT ComponentStartupHook() { return S_OK; }

}  // namespace zv
