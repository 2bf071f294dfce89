// document.h - ConfigDocument, the in-memory form of a configuration file,
// and what the reader, the writer, the export and the import share.
#ifndef ZV_CONFIG_DOCUMENT_H
#define ZV_CONFIG_DOCUMENT_H

#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "zv.h"

namespace zv {

// Orders texts by their bytes after lowering A-Z (nothing else: bytes from
// 0x80 up stay as they are); a proper prefix orders first.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// Strips leading and trailing spaces (0x20 only) from a text that holds
// something else too; empty or all-space texts are returned unchanged.
std::string TrimSpaces(const std::string& text);

enum class SaveResult;

typedef std::map<std::string, std::string, NoCaseLess> KeyTable;
typedef std::map<std::string, KeyTable, NoCaseLess> SectionTable;
typedef std::vector<std::string> NameList;
typedef std::basic_string<WCHAR> WString;

// A file name plus ordered sections of ordered key/value pairs, narrow text
// inside and wide text at the operations.  Every change is written through
// to the file, unless the owner defers saves for the duration of one call
// (see DeferSaves).
class ConfigDocument {
  public:
    // Longest file name the document accepts, in UTF-16 units.
    static const uint32_t kMaxFileName = 510;
    // Longest line the reader takes, line feed not counted.
    static const uint32_t kMaxLine = 510;

    ConfigDocument();
    virtual ~ConfigDocument();
    ConfigDocument(const ConfigDocument&) = delete;
    ConfigDocument& operator=(const ConfigDocument&) = delete;

    // reader.cpp: 0 when reading ended normally (also for a file that could
    // not be opened), 1 for a rejected name or a format error.
    int32_t Load(const WCHAR* fileName);
    // writer.cpp: null writes the document's own file.  Always 0: a file
    // that cannot be opened for writing is left alone.
    int32_t Save(const WCHAR* fileName);
    // Save, telling how it went (kSaved for a document without a name).
    SaveResult SaveFile(const WCHAR* fileName);

    uint16_t SectionExists(const WCHAR* section) const;
    uint16_t KeyExists(const WCHAR* section, const WCHAR* key) const;
    // 0 when added and saved, 1 when it existed already.
    int32_t AddSection(const WCHAR* section);
    // 1 when the key existed and overwrite is 0; otherwise 0 after storing.
    int32_t SetValue(const WCHAR* section, const WCHAR* key, const WCHAR* value,
                     uint16_t overwrite);
    // 0 and the widened value in out, or 1 with out untouched.  out needs
    // room for the value's length plus one units.
    int32_t GetValue(const WCHAR* section, const WCHAR* key, WCHAR* out) const;
    NameList GetSectionNames() const;
    NameList GetKeyNames(const WCHAR* section) const;

    // While deferring, a change marks the document instead of saving it;
    // SavePendingChanges writes the file once if anything is marked.  The
    // owner must call it on every way out of the call that deferred, so
    // that the file then holds what write-through would have left.
    void DeferSaves(bool defer) { deferSaves_ = defer; }
    bool SavePending() const { return savePending_; }
    void SavePendingChanges();

    // The document's own file name (empty when it was never loaded).
    const WCHAR* FileName() const { return fileName_; }
    bool HasFileName() const { return hasFileName_; }
    const SectionTable& Sections() const { return sections_; }

  private:
    void WriteThrough();

    WCHAR fileName_[kMaxFileName + 2];
    SectionTable sections_;
    bool hasFileName_ = false;
    bool deferSaves_ = false;
    bool savePending_ = false;
};

// Text helpers of the configuration files.
std::string Narrow(const WCHAR* text);          // by ZVToAnsi
WString Widen(const std::string& text);  // by ZVFromAnsi

// How a whole-file replacement ended.
enum class SaveResult {
    kSaved,
    // The target cannot be written at all (a read-only file, a missing
    // directory, a name that cannot exist): nothing was touched.
    kCannotOpen,
    // No temporary file could be made, written or put in place (no space,
    // no inode, a directory closed to writing): the old file is whole.
    kFailed,
};

// Writes text to a file under a narrow name so that the file holds either
// its previous content or all of text, never a part, also when the process
// dies or the disk fills on the way (replace.cpp).  Temporary files that
// dead savers left beside the target are removed first.
SaveResult ReplaceFileContents(const std::string& narrowName, const std::string& text);

// Puts back a target that a save without a replacing rename (9x) had
// removed when it died, from its complete temporary file; true if it did.
bool RecoverInterruptedSave(const std::string& narrowName);

// Opens a file by its narrow name in the runtime library's way (the layer's
// ANSI code page, sharing allowed); null when it cannot be opened.
FILE* OpenNarrow(const std::string& narrowName, const char* mode);
// As OpenNarrow for a file that should exist: a missing one is first
// recovered from an interrupted save, if one left it.
FILE* OpenExisting(const std::string& narrowName, const char* mode);

}  // namespace zv

#endif  // ZV_CONFIG_DOCUMENT_H
