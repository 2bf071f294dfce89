// files_find.cpp - listing the files of a directory by a wildcard name.
//
// FindFirstFileA takes a snapshot of the matching names when it is called;
// FindNextFileA hands them out one by one.  Names the ANSI code page cannot
// spell, or longer than MAX_PATH allows, are not listed: no narrow caller
// could name them anyway.
#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/posix/handles.h"

namespace zvp {
namespace {

struct FoundFile {
    std::string name;  // ANSI code page
    struct stat info;
};

class FileFind : public KernelObject {
  public:
    FileFind() : KernelObject(ObjectKind::FileFind) {}
    std::vector<FoundFile> found;
    size_t next = 0;
};

// "*" matches any run of characters, "?" any one; nothing else is special.
bool Matches(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name) {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == 0;
}

FILETIME FileTime(const struct timespec& when) {
    // 100-nanosecond steps since 1601-01-01.
    uint64_t ticks =
        (uint64_t(when.tv_sec) + 11644473600ull) * 10000000ull + uint64_t(when.tv_nsec) / 100;
    FILETIME out;
    out.dwLowDateTime = DWORD(ticks);
    out.dwHighDateTime = DWORD(ticks >> 32);
    return out;
}

void Fill(const FoundFile& file, LPWIN32_FIND_DATAA data) {
    memset(data, 0, sizeof(*data));
    data->dwFileAttributes =
        S_ISDIR(file.info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = FileTime(file.info.st_mtim);
    data->ftLastAccessTime = FileTime(file.info.st_atim);
    data->ftLastWriteTime = FileTime(file.info.st_mtim);
    data->nFileSizeHigh = DWORD(uint64_t(file.info.st_size) >> 32);
    data->nFileSizeLow = DWORD(uint64_t(file.info.st_size));
    memcpy(data->cFileName, file.name.c_str(), file.name.size() + 1);
}

}  // namespace
}  // namespace zvp

HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
    using namespace zvp;
    if (!fileName || !findData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string path = Latin1ToUtf8(fileName);
    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "."
                                  : slash == 0               ? "/"
                                                             : path.substr(0, slash);
    const std::string pattern =
        Utf8ToLatin1(slash == std::string::npos ? path : path.substr(slash + 1));
    DIR* listing = opendir(directory.c_str());
    if (!listing) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? DWORD(ERROR_PATH_NOT_FOUND)
                                                         : Win32ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_shared<FileFind>();
    while (struct dirent* entry = readdir(listing)) {
        FoundFile file;
        file.name = Utf8ToLatin1(entry->d_name);
        if (file.name.size() >= MAX_PATH || Latin1ToUtf8(file.name.c_str()) != entry->d_name)
            continue;
        if (!Matches(pattern.c_str(), file.name.c_str())) continue;
        if (fstatat(dirfd(listing), entry->d_name, &file.info, 0) != 0) continue;  // gone meanwhile
        find->found.push_back(std::move(file));
    }
    closedir(listing);
    if (find->found.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    Fill(find->found[0], findData);
    find->next = 1;
    HANDLE handle = InsertHandle(find);
    return handle ? handle : INVALID_HANDLE_VALUE;
}

BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
    auto object = zvp::LookupHandleAs<zvp::FileFind>(find, zvp::ObjectKind::FileFind);
    if (!object) return FALSE;
    if (!findData) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // One caller per find handle at a time, as on Windows.
    if (object->next >= object->found.size()) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    zvp::Fill(object->found[object->next++], findData);
    return TRUE;
}

BOOL FindClose(HANDLE find) {
    if (!zvp::LookupHandle(find, zvp::ObjectKind::FileFind)) return FALSE;
    return zvp::RemoveHandle(find) ? TRUE : FALSE;
}
