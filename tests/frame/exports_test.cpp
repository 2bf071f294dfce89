// The shared library exports exactly the library's functions, and a second
// name of a function is the same function at the same address.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

// Defined symbols that `nm OPTIONS FILE` lists, with their addresses; data
// symbols are prefixed "data:" so that they never pass for functions.
std::map<std::string, std::string> DefinedSymbols(const std::string& options, const char* file) {
    std::map<std::string, std::string> symbols;
    FILE* nm = popen(("nm --defined-only " + options + " " + file + " 2>/dev/null").c_str(), "r");
    char line[700], address[64], type[8], name[512];
    while (nm && fgets(line, sizeof line, nm)) {
        if (sscanf(line, "%63s %7s %511s", address, type, name) != 3) continue;
        const bool function = type[0] == 'T' || type[0] == 'W' || type[0] == 'i';
        if (function || (type[0] != 'U' && type[0] != 'w' && type[0] != 'v'))
            symbols[(function ? "" : "data:") + std::string(name)] = address;
    }
    if (nm) pclose(nm);
    return symbols;
}

TEST(Exports, SharedLibraryExportsTheListAndNothingElse) {
    std::set<std::string> list;
    std::ifstream in(ZV_TEST_DATA_DIR "/exports.txt");
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) list.insert(line);
    ASSERT_EQ(list.size(), 144u);
    const auto exported = DefinedSymbols("-D", ZV_SHARED_LIBRARY_PATH);
    ASSERT_FALSE(exported.empty()) << "could not read the symbols of " ZV_SHARED_LIBRARY_PATH;
    for (const auto& [name, address] : exported) EXPECT_TRUE(list.count(name)) << "exported but not listed: " << name;
    // Every listed name is built (so no service is missing), and exported.
    const auto built = DefinedSymbols("-g", ZV_STATIC_LIBRARY_PATH);
    ASSERT_FALSE(built.empty()) << "could not read the symbols of " ZV_STATIC_LIBRARY_PATH;
    for (const std::string& name : list) {
        EXPECT_TRUE(built.count(name)) << "not built: " << name;
        EXPECT_TRUE(exported.count(name)) << "built but not exported: " << name;
    }
    const std::pair<const char*, const char*> aliases[] = {
        {"ZVHardwareType", "ZVCompilerType"}, {"ZVPlatformType", "ZVCompilerType"}, {"ZVUnicodeToAnsi", "ZVToAnsi"},
        {"ZVAnsiToUnicode", "ZVFromAnsi"},    {"ZVFromUnicode", "ZVToUnicode"}};
    for (const auto& [alias, target] : aliases) {
        ASSERT_TRUE(exported.count(alias) && exported.count(target)) << alias;
        EXPECT_EQ(exported.at(alias), exported.at(target)) << alias << " is not " << target;
    }
}

}  // namespace
