// support.h - helpers shared by the test suites.
#ifndef ZV_TEST_SUPPORT_H
#define ZV_TEST_SUPPORT_H

#include <string>

#include "zv.h"

namespace zvtest {

// A wide string from narrow ASCII/Latin-1 text, unit per byte (no sign
// extension, unlike ZVFromAnsi).
std::u16string W(const char* text);

// Narrow text from a wide string: each unit's low byte.
std::string N(const ZVWCHAR* text);

// A fresh, empty directory under the system's temporary directory, removed
// with its contents when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// True when the emulated machine is of the 9x family.
bool Family9x();

}  // namespace zvtest

#endif  // ZV_TEST_SUPPORT_H
