// config_text.h - the zv tool's own reading of a configuration file: what
// the library's reader keeps of it, and every line it passes over, with the
// reason, so that `reg import` and `reg export` can say what happened.
#ifndef ZV_TOOLS_CONFIG_TEXT_H
#define ZV_TOOLS_CONFIG_TEXT_H

#include <string>
#include <vector>

namespace zvtool {

// Names compare case-insensitively in ASCII, as the library's documents do.
bool NoCaseLess(const std::string& a, const std::string& b);
bool NoCaseEqual(const std::string& a, const std::string& b);

struct FileKey {
    std::string key, value;
    int line;
};
struct FileSection {
    std::string name;
    int line;
    std::vector<FileKey> keys;  // in the library's order, each key once
};
// A line the reader passes over (skipped) or reads differently than a
// person might expect (a warning).
struct FileNote {
    int line;
    std::string text;
    bool skipped;
};
struct ConfigText {
    bool opened = false;
    std::vector<FileSection> sections;  // in the library's order, each name once
    std::vector<FileNote> notes;        // in line order
};

ConfigText ReadConfigText(const std::string& path);

}  // namespace zvtool

#endif  // ZV_TOOLS_CONFIG_TEXT_H
