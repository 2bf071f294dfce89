// os.h - functions of the operating-system services that other parts of the
// library call and the library does not export.
#ifndef ZV_OS_H
#define ZV_OS_H

#include "platform/win32.h"
#include "zv.h"

namespace zv {

// Deletes one file with DeleteFileW, or with DeleteFileA after narrowing the
// path into a 512-byte buffer when the wide-call switch is off.  Returns the
// Win32 result (non-zero on success, 0 with the last error set); callers may
// ignore it.  On the narrow path a path of 512 or more characters fails with
// ERROR_FILENAME_EXCED_RANGE.
int32_t ZVDeleteFile(const WCHAR* path);

}  // namespace zv

#endif  // ZV_OS_H
