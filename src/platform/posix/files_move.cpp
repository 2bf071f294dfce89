// files_move.cpp - renaming and replacing files of the emulated machine.
//
// MoveFileExA's replacing rename is what lets a writer swap a complete new
// file in for an old one.  The 9x family lacks MoveFileEx altogether (the
// call fails with ERROR_CALL_NOT_IMPLEMENTED there), as on the real thing.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <string>

#include "platform/posix/handles.h"

namespace zvp {
namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

void SetMoveError(int error, const std::string& from) {
    switch (error) {
        case ENOENT: SetLastError(Exists(from) ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND); break;
        case ENOTDIR: SetLastError(ERROR_PATH_NOT_FOUND); break;
        case EEXIST: SetLastError(ERROR_ALREADY_EXISTS); break;
        // A directory in the target's place, or a directory to be moved
        // over something: Win32 refuses both as access denied.
        case EISDIR:
        case ENOTEMPTY: SetLastError(ERROR_ACCESS_DENIED); break;
        case EXDEV: SetLastError(ERROR_NOT_SAME_DEVICE); break;
        default: SetLastError(Win32ErrorFromErrno(error)); break;
    }
}

BOOL MoveHostFile(const char* existing, const char* newName, bool replace) {
    if (!existing || !newName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!existing[0] || !newName[0]) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    std::string from = Latin1ToUtf8(existing);
    std::string to = Latin1ToUtf8(newName);
    if (replace) {
        struct stat info;
        // rename() would replace an empty directory; Win32 never does.
        if (stat(to.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (rename(from.c_str(), to.c_str()) == 0) return TRUE;
        SetMoveError(errno, from);
        return FALSE;
    }
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return TRUE;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // A file system without the no-replace rename: test, then rename.
        if (Exists(to)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (rename(from.c_str(), to.c_str()) == 0) return TRUE;
        error = errno;
    }
    SetMoveError(error, from);
    return FALSE;
}

}  // namespace
}  // namespace zvp

BOOL MoveFileA(LPCSTR existingFileName, LPCSTR newFileName) {
    return zvp::MoveHostFile(existingFileName, newFileName, false);
}

BOOL MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
    if (zvp::IsFamily9x()) {
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return FALSE;
    }
    if (flags & ~DWORD(MOVEFILE_REPLACE_EXISTING)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return zvp::MoveHostFile(existingFileName, newFileName, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
}
