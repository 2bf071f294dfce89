// The shared library exports exactly the library's functions, and a second
// name of a function is the same function at the same address.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <set>
#include <string>

namespace {

std::set<std::string> ExportList() {
    std::set<std::string> names;
    std::ifstream in(ZV_TEST_DATA_DIR "/exports.txt");
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.insert(line);
    return names;
}

// Defined symbols that `nm OPTIONS FILE` lists, with addresses; data
// symbols are prefixed "data:" so they never pass for functions.
std::map<std::string, std::string> DefinedSymbols(const std::string& options, const char* file) {
    std::map<std::string, std::string> symbols;
    FILE* nm = popen(("nm " + options + " " + file + " 2>/dev/null").c_str(), "r");
    if (!nm) return symbols;
    char address[64], type[8], name[512];
    char line[700];
    while (fgets(line, sizeof(line), nm)) {
        if (sscanf(line, "%63s %7s %511s", address, type, name) != 3) continue;
        if (type[0] == 'T' || type[0] == 'W' || type[0] == 'i') symbols[name] = address;
        else if (type[0] != 'U' && type[0] != 'w' && type[0] != 'v')
            symbols[std::string("data:") + name] = address;
    }
    pclose(nm);
    return symbols;
}

std::map<std::string, std::string> DynamicFunctions() {
    return DefinedSymbols("-D --defined-only", ZV_SHARED_LIBRARY_PATH);
}

// The list's names that the library's objects define at all: a name that is
// built must be exported, whatever service it belongs to.
std::set<std::string> BuiltNames(const std::set<std::string>& list) {
    std::set<std::string> built;
    for (const auto& [name, address] : DefinedSymbols("-g --defined-only", ZV_STATIC_LIBRARY_PATH))
        if (list.count(name)) built.insert(name);
    return built;
}

}  // namespace

TEST(Exports, SharedLibraryExportsTheListAndNothingElse) {
    const std::set<std::string> list = ExportList();
    ASSERT_EQ(list.size(), 144u);
    const auto exported = DynamicFunctions();
    ASSERT_FALSE(exported.empty()) << "could not read the symbols of " ZV_SHARED_LIBRARY_PATH;

    for (const auto& [name, address] : exported)
        EXPECT_TRUE(list.count(name)) << "exported but not in the list: " << name;
    const std::set<std::string> built = BuiltNames(list);
    ASSERT_FALSE(built.empty()) << "could not read the symbols of " ZV_STATIC_LIBRARY_PATH;
    for (const std::string& name : built)
        EXPECT_TRUE(exported.count(name)) << "built but not exported: " << name;
    // Every service is built: the table holds the whole list.
    for (const std::string& name : list) EXPECT_TRUE(built.count(name)) << "not built: " << name;
}

TEST(Exports, AliasesShareTheirTargetsAddress) {
    const auto exported = DynamicFunctions();
    const std::pair<const char*, const char*> aliases[] = {
        {"ZVHardwareType", "ZVCompilerType"}, {"ZVPlatformType", "ZVCompilerType"},
        {"ZVUnicodeToAnsi", "ZVToAnsi"},      {"ZVAnsiToUnicode", "ZVFromAnsi"},
        {"ZVFromUnicode", "ZVToUnicode"},
    };
    for (const auto& [alias, target] : aliases) {
        ASSERT_TRUE(exported.count(alias) && exported.count(target)) << alias;
        EXPECT_EQ(exported.at(alias), exported.at(target)) << alias << " is not " << target;
    }
}
