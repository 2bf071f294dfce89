#include "support.h"

#include <stdlib.h>
#include <string.h>

#include <filesystem>

namespace zvtest {

std::u16string W(const char* text) {
    std::u16string out;
    for (; *text; ++text) out += char16_t(static_cast<unsigned char>(*text));
    return out;
}

std::string N(const ZVWCHAR* text) {
    std::string out;
    for (; *text; ++text) out += char(*text & 0xFF);
    return out;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zvtest-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) abort();
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

bool Family9x() {
    const char* family = getenv("ZV_EMULATE_FAMILY");
    return family && strcmp(family, "9x") == 0;
}

}  // namespace zvtest
