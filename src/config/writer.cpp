// writer.cpp - Save: a ConfigDocument to its file.
//
// The whole text is built first and then replaces the file in one step
// (ReplaceFileContents), so a reader of the file, or a process that dies
// halfway, sees the old file or the new one, never a part.
#include <stdio.h>

#include "config/document.h"

namespace zv {

namespace {

// Everything written, flushed and closed without an error.
bool WriteAndClose(FILE* file, const std::string& text) {
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = fflush(file) == 0 && ok;
    ok = fclose(file) == 0 && ok;
    return ok;
}

// Puts the complete temporary file in the target's place.
bool MoveOver(const std::string& temporary, const std::string& target) {
    if (MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    // Without a replacing rename: the old file goes first; a crash between
    // the two steps leaves the complete new text under the temporary name.
    // Another writer may put its file in place in between: try again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        DeleteFileA(target.c_str());
        if (MoveFileA(temporary.c_str(), target.c_str())) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

}  // namespace

FILE* OpenNarrow(const std::string& narrowName, const char* mode) {
    return _fsopen(narrowName.c_str(), mode, _SH_DENYNO);
}

bool ReplaceFileContents(const std::string& narrowName, const std::string& text) {
    // The target must be open to writing, as for a plain truncating open;
    // appending changes nothing in a file that exists and creates a missing
    // one, as that open would.
    FILE* probe = OpenNarrow(narrowName, "a");
    if (!probe) return false;
    fclose(probe);

    // One writer per thread at a time, so the thread id keeps concurrent
    // saves to the same target, in this process or another, apart.
    char suffix[32];
    snprintf(suffix, sizeof(suffix), ".%lx.zvtmp", static_cast<unsigned long>(GetCurrentThreadId()));
    const std::string temporary = narrowName + suffix;
    if (FILE* file = OpenNarrow(temporary, "w")) {
        const bool written = WriteAndClose(file, text);
        if (written && MoveOver(temporary, narrowName)) return true;
        DeleteFileA(temporary.c_str());
        // A full disk: the old file stays whole rather than cut short.
        if (!written) return true;
    }
    // No temporary file beside the target (a directory closed to writing
    // holding a file open to it) or no way to put it in place: write the
    // target itself, as a plain truncating open would.
    FILE* file = OpenNarrow(narrowName, "w");
    if (!file) return false;
    WriteAndClose(file, text);
    return true;
}

int32_t ConfigDocument::Save(const WCHAR* fileName) {
    if (!fileName) {
        // A document that no Load has named has no file to write.
        if (!hasFileName_) return 0;
        fileName = fileName_;
        savePending_ = false;  // this save carries every deferred change
    }
    size_t size = 0;
    for (const auto& section : sections_) {
        size += section.first.size() + 4;
        for (const auto& entry : section.second) size += entry.first.size() + entry.second.size() + 2;
    }
    std::string text;
    text.reserve(size);
    for (const auto& section : sections_) {
        text += '[';
        text += section.first;
        text += "]\n";
        for (const auto& entry : section.second) {
            text += entry.first;
            text += '=';
            text += entry.second;
            text += '\n';
        }
        text += '\n';
    }
    ReplaceFileContents(Narrow(fileName), text);
    return 0;
}

}  // namespace zv
