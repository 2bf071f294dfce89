// Fuzz target for ParseURI.  The input bytes, taken two at a time, are the
// wide text; it is copied into a heap block of exactly its size plus the
// terminator so that the sanitizer catches any access past it.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <memory>

#include "zv.h"

namespace {

// The field lies inside the text and a terminator follows it there.
void CheckField(const ZVWCHAR* field, const ZVWCHAR* text, size_t length) {
    if (field == nullptr) return;
    if (field < text || field > text + length) abort();
    for (const ZVWCHAR* p = field;; ++p) {
        if (p > text + length) abort();
        if (*p == 0) break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t length = size / 2;
    std::unique_ptr<ZVWCHAR[]> text(new ZVWCHAR[length + 1]);
    memcpy(text.get(), data, length * sizeof(ZVWCHAR));
    text[length] = 0;

    ParsedURI record;
    memset(&record, 0xA5, sizeof record);
    const int32_t result = ParseURI(text.get(), &record);
    if (result != 0 && result != 1) abort();
    if (result == 0 && (record.path == nullptr || *record.path == 0)) abort();
    // On a refusal the record is cleared first, so every field is either
    // null or set by the parser; the same checks hold.
    const ZVWCHAR* fields[] = {record.scheme, record.host, record.port, record.path,
                               record.link, record.transport};
    for (const ZVWCHAR* field : fields) CheckField(field, text.get(), length);
    for (int i = 0; i < 8; ++i) CheckField(record.attributes[i], text.get(), length);
    if (text[length] != 0) abort();
    // The only writes are terminators over delimiters.
    for (size_t i = 0; i < length; ++i) {
        ZVWCHAR before;
        memcpy(&before, data + 2 * i, sizeof before);
        if (text[i] == before) continue;
        if (text[i] != 0) abort();
        if (before != u'/' && before != u':' && before != u',' && before != u'=') abort();
    }
    return 0;
}
