// crt.cpp - the runtime library's file opening under narrow names.
//
// A narrow name is in the emulated machine's ANSI code page (ISO-8859-1) and
// reaches the host as UTF-8, so it names the same file as the wide name that
// DeleteFileW, CreateDirectoryW, ... receive.  (Plain fopen would pass the
// bytes through unconverted and miss every name beyond ASCII.)
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "platform/posix/handles.h"

// Modes as the Windows runtime reads them: "r", "w" or "a", then any of "+",
// "t", "b" and further letters, which POSIX streams do not need (text and
// binary mode are the same here).  The share flag has no POSIX counterpart:
// every open shares.  As on Windows, a directory cannot be opened as a
// file: that fails with EACCES.
FILE* _fsopen(const char* fileName, const char* mode, int shareFlag) {
    (void)shareFlag;
    if (!fileName || !mode || (mode[0] != 'r' && mode[0] != 'w' && mode[0] != 'a')) {
        errno = EINVAL;
        return nullptr;
    }
    char hostMode[3] = {mode[0], 0, 0};
    if (strchr(mode + 1, '+')) hostMode[1] = '+';
    if (!fileName[0]) {
        errno = ENOENT;
        return nullptr;
    }
    FILE* file = fopen(zvp::Latin1ToUtf8(fileName).c_str(), hostMode);
    if (!file) return nullptr;
    struct stat info;
    if (fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        fclose(file);
        errno = EACCES;
        return nullptr;
    }
    return file;
}
