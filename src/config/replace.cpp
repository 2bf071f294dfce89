// replace.cpp - replacing a file whole: the new text goes to a temporary
// file beside the target, which then takes the target's place.
//
// Temporary names are "<target>.<process id>-<thread id>.zvtmp" (a complete
// one waiting for its rename on the 9x family: ".zvnew"), or, when the
// target's own name leaves no room for the suffix, "~zv<hash of the
// target>." followed by the same.  The ids keep concurrent savers apart and
// tell a later save whose leftovers belong to a process that has died.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <vector>

#include "config/document.h"

namespace zv {

namespace {

const char kWriting[] = "zvtmp";
const char kComplete[] = "zvnew";
// Room a name component has on the host file systems, in UTF-8 bytes, and
// the longest suffix: ".4294967295-4294967295.zvtmp".
const size_t kMaxComponent = 255;
const size_t kMaxSuffix = 28;

size_t LastSeparator(const std::string& name) {
    size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

// What every temporary name of the target begins with.
std::string TemporaryPrefix(const std::string& target) {
    const size_t base = LastSeparator(target);
    size_t bytes = 0;  // the base name in UTF-8, as the host sees it
    for (size_t i = base; i < target.size(); ++i)
        bytes += static_cast<unsigned char>(target[i]) < 0x80 ? 1 : 2;
    if (bytes + kMaxSuffix <= kMaxComponent) return target + ".";
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (unsigned char c : target) hash = (hash ^ c) * 1099511628211ull;
    char name[32];
    snprintf(name, sizeof(name), "~zv%016llx.", static_cast<unsigned long long>(hash));
    return target.substr(0, base) + name;
}

std::string TemporaryName(const std::string& prefix, DWORD process, DWORD thread,
                          const char* kind) {
    char suffix[48];
    snprintf(suffix, sizeof(suffix), "%lu-%lu.%s", static_cast<unsigned long>(process),
             static_cast<unsigned long>(thread), kind);
    return prefix + suffix;
}

// A temporary file of the target: its writer's process id and its kind.
bool ParseTemporary(const std::string& name, const std::string& prefixBase, DWORD* process,
                    bool* complete) {
    if (name.compare(0, prefixBase.size(), prefixBase) != 0) return false;
    unsigned long pid = 0, tid = 0;
    char kind[8] = {};
    int used = 0;
    const char* rest = name.c_str() + prefixBase.size();
    if (sscanf(rest, "%lu-%lu.%5[a-z]%n", &pid, &tid, kind, &used) != 3 || rest[used] != 0)
        return false;
    // Only the exact form this code writes ("%lu" also takes signs and spaces).
    if (name != prefixBase + TemporaryName("", DWORD(pid), DWORD(tid), kind)) return false;
    *process = DWORD(pid);
    *complete = strcmp(kind, kComplete) == 0;
    return strcmp(kind, kWriting) == 0 || *complete;
}

bool Later(const FILETIME& a, const FILETIME& b) {
    return a.dwHighDateTime != b.dwHighDateTime ? a.dwHighDateTime > b.dwHighDateTime
                                                : a.dwLowDateTime > b.dwLowDateTime;
}

struct Temporary {
    std::string name;
    DWORD process;
    bool complete;
    FILETIME written;
};

std::vector<Temporary> TemporariesOf(const std::string& target) {
    std::vector<Temporary> found;
    const std::string prefix = TemporaryPrefix(target);
    const std::string directory = prefix.substr(0, LastSeparator(prefix));
    const std::string prefixBase = prefix.substr(directory.size());
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((prefix + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return found;
    do {
        Temporary entry;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            ParseTemporary(data.cFileName, prefixBase, &entry.process, &entry.complete)) {
            entry.name = directory + data.cFileName;
            entry.written = data.ftLastWriteTime;
            found.push_back(entry);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return found;
}

// Whether the process that wrote a temporary file has died.  This
// process's own files belong to threads that are saving now.
bool WriterDied(const Temporary& entry) {
    return entry.process != GetCurrentProcessId() && GetProcessVersion(entry.process) == 0;
}

// Removes what savers that have died left of the target's temporary files.
void RemoveLeftovers(const std::string& target) {
    for (const Temporary& entry : TemporariesOf(target))
        if (WriterDied(entry)) DeleteFileA(entry.name.c_str());
}

// Everything written, flushed and closed without an error.
bool WriteAndClose(FILE* file, const std::string& text) {
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = fflush(file) == 0 && ok;
    ok = fclose(file) == 0 && ok;
    return ok;
}

// Without a replacing rename (the 9x family): the complete file is renamed
// to its ".zvnew" name first, which tells it complete; then the old target
// goes and the new file is renamed into its place.  Death between the two
// leaves no target, and the next Load puts the ".zvnew" file in its place.
bool MoveOverWithoutReplacing(const std::string& temporary, const std::string& complete,
                              const std::string& target) {
    // One of this thread's names: left by a process of the same id before.
    DeleteFileA(complete.c_str());
    if (!MoveFileA(temporary.c_str(), complete.c_str())) return false;
    // Another writer may put its file in place in between: try again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DeleteFileA(target.c_str());
        if (MoveFileA(complete.c_str(), target.c_str())) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    // Left complete under its ".zvnew" name: a Load can still recover it.
    return false;
}

bool Exists(const std::string& name) {
    if (FILE* file = OpenNarrow(name, "r")) {
        fclose(file);
        return true;
    }
    return errno != ENOENT && errno != ENOTDIR;
}

// Errors of making a file that a plain truncating open would meet as well:
// the target could not be written at all.  Others (no space, no inode, too
// many files) are a failure to keep the old file whole.
bool NotWritableHere(int error) {
    return error == ENOENT || error == ENOTDIR || error == EACCES || error == EPERM ||
           error == EROFS || error == EISDIR || error == ENAMETOOLONG || error == EINVAL;
}

}  // namespace

FILE* OpenNarrow(const std::string& narrowName, const char* mode) {
    return _fsopen(narrowName.c_str(), mode, _SH_DENYNO);
}

FILE* OpenExisting(const std::string& narrowName, const char* mode) {
    FILE* file = OpenNarrow(narrowName, mode);
    if (file || errno != ENOENT) return file;
    if (!RecoverInterruptedSave(narrowName)) {
        errno = ENOENT;
        return nullptr;
    }
    return OpenNarrow(narrowName, mode);
}

bool RecoverInterruptedSave(const std::string& narrowName) {
    const Temporary* newest = nullptr;
    const std::vector<Temporary> found = TemporariesOf(narrowName);
    // Only what a dead saver left: a live one puts its file in place itself.
    for (const Temporary& entry : found) {
        if (!entry.complete || !WriterDied(entry)) continue;
        if (!newest || Later(entry.written, newest->written)) newest = &entry;
    }
    // Not over a target that appeared meanwhile.
    return newest && MoveFileA(newest->name.c_str(), narrowName.c_str());
}

SaveResult ReplaceFileContents(const std::string& narrowName, const std::string& text) {
    const bool existed = Exists(narrowName);
    if (existed) {
        // The target must be open to writing, as for a plain truncating
        // open; appending changes nothing in it.
        FILE* probe = OpenNarrow(narrowName, "a");
        if (!probe) return SaveResult::kCannotOpen;
        fclose(probe);
    }
    RemoveLeftovers(narrowName);

    const std::string prefix = TemporaryPrefix(narrowName);
    const DWORD process = GetCurrentProcessId(), thread = GetCurrentThreadId();
    const std::string temporary = TemporaryName(prefix, process, thread, kWriting);
    FILE* file = OpenNarrow(temporary, "w");
    if (!file) {
        // Never written in place: that is what leaves a part of a file.
        return !existed && NotWritableHere(errno) ? SaveResult::kCannotOpen : SaveResult::kFailed;
    }
    if (!WriteAndClose(file, text)) {
        DeleteFileA(temporary.c_str());  // a full disk: the old file stays whole
        return SaveResult::kFailed;
    }
    if (MoveFileExA(temporary.c_str(), narrowName.c_str(), MOVEFILE_REPLACE_EXISTING))
        return SaveResult::kSaved;
    if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED &&
        MoveOverWithoutReplacing(temporary, TemporaryName(prefix, process, thread, kComplete),
                                 narrowName))
        return SaveResult::kSaved;
    DeleteFileA(temporary.c_str());
    return SaveResult::kFailed;
}

}  // namespace zv
