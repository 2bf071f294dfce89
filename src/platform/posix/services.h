// services.h - internals of the time, debug-output and message-box services
// of the POSIX platform layer that the library's tests reach.  Nothing here
// is part of the emulated Win32 interface.
#ifndef ZV_POSIX_SERVICES_H
#define ZV_POSIX_SERVICES_H

#include <string>

#include "platform/win32.h"

namespace zvp {

// The tick count for a clock reading: milliseconds, wrapping at 2^32.
DWORD TickCountFrom(uint64_t seconds, uint32_t nanoseconds);

// The debug-output sink is chosen from ZV_DEBUG_OUTPUT at the first output
// and kept; this chooses it again.  Not to be called while other threads
// write debug output.
void ReopenDebugOutput();

// Watchers for tests: each sees every debug output (as the UTF-8 text the
// sink receives, one call per output) or every message box (text and
// caption as 16-bit units, narrow text widened unit per byte) before the
// layer acts on it.  Null removes the watcher.  Set them while no other
// thread uses these services.
using DebugOutputWatcher = void (*)(const std::string& text);
using MessageBoxWatcher = void (*)(const std::u16string& text, const std::u16string& caption,
                                   UINT type, bool wide);
void WatchDebugOutput(DebugOutputWatcher watcher);
void WatchMessageBoxes(MessageBoxWatcher watcher);

// True when a debugger (any tracer) is attached to this process.
bool DebuggerAttached();

}  // namespace zvp

#endif  // ZV_POSIX_SERVICES_H
