// files.cpp - file deletion, directories and full paths of the emulated
// machine.
//
// Names reach the host as UTF-8: wide names are UTF-16, narrow names are the
// ANSI code page (ISO-8859-1).  The host reports one errno for several Win32
// conditions (ENOENT is "file not found" or "path not found"), so the
// failures are told apart by looking at the path again.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/posix/handles.h"

namespace zvp {
namespace {

// Without its trailing slashes ("a/b/" is "a/b"); the root stays "/".
std::string WithoutTrailingSlashes(const std::string& path) {
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    return path.substr(0, end);
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ExistsAsNonDirectory(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Win32 says "file not found" when only the last component is missing and
// "path not found" when a directory on the way is.
DWORD MissingNameError(const std::string& path) {
    std::string name = WithoutTrailingSlashes(path);
    size_t slash = name.rfind('/');
    std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    return IsDirectory(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

// Null and empty names fail before the host sees them, as Win32's do: NT
// turns either into an empty path, which names nothing.
bool ValidName(const void* name, bool empty) {
    if (!name || empty) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    return true;
}

BOOL DeleteHostFile(const std::string& path) {
    if (unlink(path.c_str()) == 0) return TRUE;
    int error = errno;
    switch (error) {
        case ENOENT: SetLastError(MissingNameError(path)); break;
        case ENOTDIR: SetLastError(ERROR_PATH_NOT_FOUND); break;
        // A directory is not a file: Win32 refuses it as access denied.
        case EISDIR: SetLastError(ERROR_ACCESS_DENIED); break;
        default: SetLastError(Win32ErrorFromErrno(error)); break;
    }
    return FALSE;
}

BOOL CreateHostDirectory(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) return TRUE;
    int error = errno;
    switch (error) {
        // An existing file of that name counts as well.
        case EEXIST: SetLastError(ERROR_ALREADY_EXISTS); break;
        // The parent must exist: no intermediate directories are made.
        case ENOENT:
        case ENOTDIR: SetLastError(ERROR_PATH_NOT_FOUND); break;
        default: SetLastError(Win32ErrorFromErrno(error)); break;
    }
    return FALSE;
}

BOOL RemoveHostDirectory(const std::string& path) {
    if (rmdir(path.c_str()) == 0) return TRUE;
    int error = errno;
    switch (error) {
        case ENOENT: SetLastError(MissingNameError(path)); break;
        case ENOTEMPTY:
        case EEXIST: SetLastError(ERROR_DIR_NOT_EMPTY); break;
        // The name is a file, or a file stands where a directory should.
        case ENOTDIR:
            SetLastError(ExistsAsNonDirectory(WithoutTrailingSlashes(path)) ? ERROR_DIRECTORY
                                                                            : ERROR_PATH_NOT_FOUND);
            break;
        default: SetLastError(Win32ErrorFromErrno(error)); break;
    }
    return FALSE;
}

// The current directory as the host names it (UTF-8), or false with errno.
bool CurrentDirectory(std::string* out) {
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(&buffer[0], buffer.size())) {
            buffer.resize(strlen(buffer.c_str()));
            *out = buffer;
            return true;
        }
        if (errno != ERANGE) return false;
        buffer.resize(buffer.size() * 2);
    }
}

template <class C>
size_t Length(const C* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// Joins a relative path to the current directory and resolves "." and ".."
// by the text alone, as Win32 does: no link is followed and no component
// needs to exist.  ".." above the root stays at the root; a trailing slash
// of the input is kept.  Works in the caller's own units, so every unit of
// the input comes back unchanged.
template <class C>
std::basic_string<C> AbsolutePath(const std::basic_string<C>& currentDirectory, const C* relative) {
    std::basic_string<C> input;
    if (!relative || !relative[0]) {
        input = currentDirectory;
    } else if (relative[0] == C('/')) {
        input = relative;
    } else {
        input = currentDirectory;
        input += C('/');
        input += relative;
    }

    std::basic_string<C> result;
    size_t i = 0;
    while (i < input.size()) {
        while (i < input.size() && input[i] == C('/')) ++i;
        size_t start = i;
        while (i < input.size() && input[i] != C('/')) ++i;
        size_t length = i - start;
        if (length == 0 || (length == 1 && input[start] == C('.'))) continue;
        if (length == 2 && input[start] == C('.') && input[start + 1] == C('.')) {
            size_t slash = result.rfind(C('/'));
            result.erase(slash == std::basic_string<C>::npos ? 0 : slash);
            continue;
        }
        result += C('/');
        result.append(input, start, length);
    }
    if (result.empty()) return std::basic_string<C>(1, C('/'));
    if (relative && relative[0] && relative[Length(relative) - 1] == C('/')) result += C('/');
    return result;
}

// The runtime library's rules: a null destination gets a block from malloc
// sized to fit (the capacity is then ignored); otherwise the result and its
// terminator must fit the capacity, or the call fails with ERANGE.
template <class C>
C* DeliverPath(C* destination, size_t capacity, const std::basic_string<C>& path) {
    size_t needed = path.size() + 1;
    if (!destination) {
        destination = static_cast<C*>(malloc(needed * sizeof(C)));
        if (!destination) {
            errno = ENOMEM;
            return nullptr;
        }
    } else if (needed > capacity) {
        errno = ERANGE;
        return nullptr;
    }
    memcpy(destination, path.c_str(), needed * sizeof(C));
    return destination;
}

}  // namespace
}  // namespace zvp

BOOL DeleteFileW(LPCWSTR path) {
    if (zvp::WideCallUnavailable()) return FALSE;
    if (!zvp::ValidName(path, path && !path[0])) return FALSE;
    return zvp::DeleteHostFile(zvp::Utf16ToUtf8(path));
}

BOOL DeleteFileA(LPCSTR path) {
    if (!zvp::ValidName(path, path && !path[0])) return FALSE;
    return zvp::DeleteHostFile(zvp::Latin1ToUtf8(path));
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    if (zvp::WideCallUnavailable()) return FALSE;
    if (!zvp::ValidName(path, path && !path[0])) return FALSE;
    return zvp::CreateHostDirectory(zvp::Utf16ToUtf8(path));
}

BOOL CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES) {
    if (!zvp::ValidName(path, path && !path[0])) return FALSE;
    return zvp::CreateHostDirectory(zvp::Latin1ToUtf8(path));
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    if (zvp::WideCallUnavailable()) return FALSE;
    if (!zvp::ValidName(path, path && !path[0])) return FALSE;
    return zvp::RemoveHostDirectory(zvp::Utf16ToUtf8(path));
}

BOOL RemoveDirectoryA(LPCSTR path) {
    if (!zvp::ValidName(path, path && !path[0])) return FALSE;
    return zvp::RemoveHostDirectory(zvp::Latin1ToUtf8(path));
}

WCHAR* _wfullpath(WCHAR* absolutePath, const WCHAR* relativePath, size_t maxLength) {
    if (zvp::WideCallUnavailable()) {
        errno = ENOSYS;
        return nullptr;
    }
    std::string current;
    if (!zvp::CurrentDirectory(&current)) return nullptr;
    std::u16string path = zvp::AbsolutePath<char16_t>(zvp::Utf8ToUtf16(current), relativePath);
    return zvp::DeliverPath<char16_t>(absolutePath, maxLength, path);
}

// The result is in the ANSI code page: a directory name with characters
// beyond ISO-8859-1 comes back with '?' in their place.
char* _fullpath(char* absolutePath, const char* relativePath, size_t maxLength) {
    std::string current;
    if (!zvp::CurrentDirectory(&current)) return nullptr;
    std::string path = zvp::AbsolutePath<char>(zvp::Utf8ToLatin1(current), relativePath);
    return zvp::DeliverPath<char>(absolutePath, maxLength, path);
}
