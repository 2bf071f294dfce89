// files.cpp - files, directories, full paths, time and dynamic libraries.
//
// Every name goes to the wide Win32 function when the wide-call switch is
// on; otherwise it is narrowed into a staging buffer on the stack and the
// narrow function is used.  A name that does not fit its buffer with its
// terminator is refused with an error rather than cut: a cut name would
// name a different file, library or symbol.
#include "frame/frame.h"
#include "os/os.h"
#include "platform/win32.h"
#include "zv.h"

namespace {

constexpr uint32_t kPathStaging = 512;         // file and directory paths, full paths
constexpr uint32_t kLibraryNameStaging = 260;  // library file names
constexpr uint32_t kSymbolStaging = 512;       // symbol names, on both paths

// Narrows `name` into `buffer` of `size` bytes.  A null name goes on as null,
// for the system call to reject.  Returns false, with `tooLong` as the last
// error, when the name and its terminator do not fit.
bool StageName(const ZVWCHAR* name, char* buffer, uint32_t size, DWORD tooLong, const char** staged) {
    if (!name) {
        *staged = nullptr;
        return true;
    }
    if (ZVStrNLenW(name, size) >= size) {
        SetLastError(tooLong);
        return false;
    }
    ZVToAnsi(buffer, name);
    *staged = buffer;
    return true;
}

}  // namespace

namespace zv {

int32_t ZVDeleteFile(const WCHAR* path) {
    if (g_wideCalls) return DeleteFileW(path);
    char narrow[kPathStaging];
    const char* staged;
    if (!StageName(path, narrow, kPathStaging, ERROR_FILENAME_EXCED_RANGE, &staged)) return 0;
    return DeleteFileA(staged);
}

}  // namespace zv

extern "C" {

ZV_API int32_t ZVCreateDirectory(const ZVWCHAR* path) {
    if (zv::g_wideCalls) return CreateDirectoryW(path, nullptr);
    char narrow[kPathStaging];
    const char* staged;
    if (!StageName(path, narrow, kPathStaging, ERROR_FILENAME_EXCED_RANGE, &staged)) return 0;
    return CreateDirectoryA(staged, nullptr);
}

ZV_API int32_t ZVRemoveDirectory(const ZVWCHAR* path) {
    if (zv::g_wideCalls) return RemoveDirectoryW(path);
    char narrow[kPathStaging];
    const char* staged;
    if (!StageName(path, narrow, kPathStaging, ERROR_FILENAME_EXCED_RANGE, &staged)) return 0;
    return RemoveDirectoryA(staged);
}

// A null destination is accepted on both paths: the result is then a new
// block of the library's heap, sized to fit, that the caller releases with
// ZVFree, and the capacity is not used.
ZV_API ZVWCHAR* ZVGetFullPath(ZVWCHAR* dest, const ZVWCHAR* relativePath, uint32_t capacity) {
    if (zv::g_wideCalls) return _wfullpath(dest, relativePath, capacity);

    char relative[kPathStaging];
    const char* staged;
    if (!StageName(relativePath, relative, kPathStaging, ERROR_FILENAME_EXCED_RANGE, &staged))
        return nullptr;
    // The full path must fit the staging buffer as well as the caller's.
    char full[kPathStaging];
    uint32_t limit = dest && capacity < kPathStaging ? capacity : kPathStaging;
    if (!_fullpath(full, staged, limit)) return nullptr;
    if (!dest) {
        dest = static_cast<ZVWCHAR*>(ZVMalloc((ZVStrLenA(full) + 1) * uint32_t(sizeof(ZVWCHAR))));
        if (!dest) return nullptr;
    }
    ZVFromAnsi(dest, full);
    return dest;
}

ZV_API uint32_t ZVGetTickCount(void) { return GetTickCount(); }

ZV_API void ZVGetLocalTime(SYSTEMTIME* time) { GetLocalTime(time); }

ZV_API ZVHANDLE ZVOpenLibrary(const ZVWCHAR* fileName) {
    if (zv::g_wideCalls) return LoadLibraryW(fileName);
    char narrow[kLibraryNameStaging];
    const char* staged;
    if (!StageName(fileName, narrow, kLibraryNameStaging, ERROR_FILENAME_EXCED_RANGE, &staged))
        return nullptr;
    return LoadLibraryA(staged);
}

// GetProcAddress takes narrow names only, so the name is narrowed whatever
// the switch says.  A name too long for the buffer cannot be an export
// that this function finds.
ZV_API void* ZVGetSymbol(ZVHANDLE library, const ZVWCHAR* name) {
    char narrow[kSymbolStaging];
    const char* staged;
    if (!StageName(name, narrow, kSymbolStaging, ERROR_PROC_NOT_FOUND, &staged)) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), staged));
}

ZV_API HRESULT ZVCloseLibrary(ZVHANDLE library) {
    return FreeLibrary(static_cast<HMODULE>(library)) ? S_OK : E_FAIL;
}

}  // extern "C"
