// Fuzz target for ConfigDocument::Load.  The input bytes are the file.  The
// document that comes out must save and load again to the same document:
// everything Load keeps is writable, with one known exception (a value that
// ends in a carriage return, which only the file's last line can give).
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "config/document.h"

namespace {

// A directory of this run's own, removed at exit; in memory where the
// system has such a file system, since every run writes and renames files.
char g_directory[] = "/dev/shm/zvfuzz-config-XXXXXX";

void RemoveDirectory() {
    const std::string directory = g_directory;
    unlink((directory + "/in.cfg").c_str());
    unlink((directory + "/out.cfg").c_str());
    rmdir(directory.c_str());
}

const char* Directory() {
    static bool made = false;
    if (!made) {
        if (!mkdtemp(g_directory)) {
            memcpy(g_directory, "/tmp/zvfuzz-config-XXXXXX", sizeof("/tmp/zvfuzz-config-XXXXXX"));
            if (!mkdtemp(g_directory)) abort();
        }
        atexit(RemoveDirectory);
        made = true;
    }
    return g_directory;
}

zv::WString Wide(const std::string& text) {
    zv::WString out;
    for (char c : text) out += WCHAR(static_cast<unsigned char>(c));
    return out;
}

bool EndsInCarriageReturn(const zv::ConfigDocument& doc) {
    for (const auto& section : doc.Sections())
        for (const auto& entry : section.second)
            if (!entry.second.empty() && entry.second.back() == '\r') return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = std::string(Directory()) + "/in.cfg";
    const std::string output = std::string(Directory()) + "/out.cfg";
    FILE* file = fopen(input.c_str(), "wb");
    if (!file) abort();
    if (size && fwrite(data, 1, size, file) != size) abort();
    fclose(file);

    zv::ConfigDocument doc;
    const int32_t result = doc.Load(Wide(input).c_str());
    if (result != 0 && result != 1) abort();
    if (doc.FileName() != Wide(input)) abort();

    if (doc.Save(Wide(output).c_str()) != 0) abort();
    zv::ConfigDocument back;
    if (back.Load(Wide(output).c_str()) != 0) abort();
    if (!EndsInCarriageReturn(doc) && back.Sections() != doc.Sections()) abort();
    return 0;
}
