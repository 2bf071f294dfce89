// writer.cpp - Save: a ConfigDocument to its file.
//
// The whole text is built first and then replaces the file in one step
// (ReplaceFileContents, replace.cpp), so a reader of the file, or a process
// that dies halfway, sees the old file or the new one, never a part.
#include "config/document.h"

namespace zv {

int32_t ConfigDocument::Save(const WCHAR* fileName) {
    SaveFile(fileName);  // no caller looks at a failure to write
    return 0;
}

SaveResult ConfigDocument::SaveFile(const WCHAR* fileName) {
    if (!fileName) {
        // A document that no Load has named has no file to write.
        if (!hasFileName_) return SaveResult::kSaved;
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
    return ReplaceFileContents(Narrow(fileName), text);
}

}  // namespace zv
