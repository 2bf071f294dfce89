// The Win32 registry calls: keys, values, names, enumeration, rights,
// handles and deletion.  The narrow forms run on both families; the wide
// forms are checked where they exist and refused where they do not.

#include <sqlite3.h>

#include "registry_util.h"

// Creates (or opens) a key and closes it again.
static LSTATUS Create(HKEY root, const char* path, DWORD options = 0) {
    HKEY key = nullptr;
    const LSTATUS status = RegCreateKeyExA(root, path, 0, 0, options, KEY_ALL_ACCESS, 0, &key, 0);
    return RegCloseKey(key), status;
}

TEST(RegistryKeys, CreateOpenAndPathRules) {
    HKEY deep = CreateKey(kMachine, "Software\\Zv\\A\\B"), same = deep;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(kMachine, "Software\\Nope\\B", &same));
    EXPECT_EQ(nullptr, same);
    // A key name holds 255 characters, a path may end in a backslash, and a
    // refused path makes nothing on the way.
    std::string longest = "Software\\X\\" + std::string(255, 'k');
    const std::pair<std::string, LSTATUS> paths[] = {
        {"\\Software", ERROR_BAD_PATHNAME}, {"Software\\X\\\\Y", ERROR_BAD_PATHNAME},
        {longest + "k", ERROR_INVALID_PARAMETER}, {longest + "\\", ERROR_SUCCESS}};
    for (const auto& path : paths) {
        EXPECT_EQ(path.second, Create(kMachine, path.first.c_str())) << path.first;
        EXPECT_EQ(path.second ? ERROR_FILE_NOT_FOUND : 0, OpenKey(kMachine, "Software\\X"));
    }
    for (LSTATUS status : {Create(kMachine, nullptr), Create(kMachine, "V", 2 /* a link */),
                           SetString(deep, std::string(16384, 'n').c_str(), "x")})
        EXPECT_EQ(ERROR_INVALID_PARAMETER, status);
    // A value name holds 16,383 characters.
    std::string name(16383, 'n');
    EXPECT_EQ(ERROR_SUCCESS, SetString(deep, name.c_str(), "x"));
    EXPECT_EQ(Strings{name}, Names(deep, true));
}

// Names compare without case and keep their first spelling; subkeys come in
// the order of their upper-case units, values in the order they were made.
TEST(RegistryKeys, NamesFoldCaseAndEnumerateInOrder) {
    HKEY key = CreateKey(kMachine, "Software\\Mix");
    // ISO-8859-1 letters fold too; y-diaeresis has its capital outside
    // ISO-8859-1, sharp s has none (and is not "SS"); '_' sorts after letters.
    std::string kinds;
    DWORD disposition = 0;
    for (const char* n : {"\xE9t\xE9", "\xC9T\xC9", "\xFF", "\xDF", "SS", "In", "iN", "_x", "a1"}) {
        RegCloseKey(CreateKey(kMachine, std::string("SOFTWARE\\mix\\") + n, &disposition));
        kinds += disposition == REG_CREATED_NEW_KEY ? 'N' : 'E';
    }
    EXPECT_EQ("NENNNNENN", kinds);
    EXPECT_EQ((Strings{"a1", "In", "SS", "_x", "\xE9t\xE9", "\xDF", "\xFF"}), Names(key));
    // Greek, Cyrillic and fullwidth letters fold as well; surrogates stay.
    const char16_t fold[][2] = {{0x3C2, 0x3A3}, {0x451, 0x401}, {0xFF41, 0xFF21}, {0xD801, 0xD801}};
    for (const auto& pair : fold) EXPECT_EQ(pair[1], zvp::reg::UpcaseUnit(pair[0])) << int(pair[0]);
    for (const char* name : {"zeta", "alpha", "Mid", ""}) ASSERT_EQ(0, SetString(key, name, name));
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "ALPHA", "changed"));  // keeps its place and spelling
    EXPECT_EQ((Strings{"zeta", "alpha", "Mid", ""}), Names(key, true));
    // Capacities count the terminator, returned lengths do not: "In" needs
    // 3, "alpha" 6 and its data "changed" 8.
    char name[8];
    BYTE data[16];
    DWORD length = 2, size = 7;
    EXPECT_EQ(ERROR_MORE_DATA, RegEnumKeyExA(key, 1, name, &length, 0, 0, 0, 0));
    EXPECT_EQ(ERROR_SUCCESS, RegEnumKeyExA(key, 1, name, &(length = 3), 0, 0, 0, 0));
    EXPECT_EQ("In 2", std::string(name) + " " + std::to_string(length));
    for (DWORD capacity : {5, 6})  // the name short, then the data (both set the size needed)
        EXPECT_EQ(ERROR_MORE_DATA, RegEnumValueA(key, 1, name, &(length = capacity), 0, 0, data,
                                                 &(size = 7)));
    ASSERT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 1, name, &(length = 6), 0, 0, data, &size));
    EXPECT_EQ("alpha 5 changed 8", std::string(name) + " " + std::to_string(length) + " " +
                                       reinterpret_cast<char*>(data) + " " + std::to_string(size));
}

// The narrow forms keep string data as ISO-8859-1, so every byte string
// survives, with its size in bytes.
TEST(RegistryValues, KeepTheirTypeAndExactBytes) {
    HKEY key = CreateKey(kMachine, "Software\\Values");
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + (i >> 9));
    const std::pair<DWORD, std::string> values[] = {
        {REG_BINARY, std::string("\0\1\0\xFF\0", 5)}, {REG_DWORD, "\1\2\3\4"}, {REG_NONE, ""},
        {REG_SZ, "abc"} /* no terminator */, {REG_MULTI_SZ, std::string("one\0two\0", 9)},
        {REG_EXPAND_SZ, big.substr(0, 256)} /* every byte */, {0x7777, "\1"}, {REG_BINARY, big}};
    for (const auto& v : values) {
        const std::string name = "v" + std::to_string(&v - values);
        DWORD bytes = DWORD(v.second.size()), type = 0, size = bytes - (bytes ? 1 : 0);
        const BYTE* data = reinterpret_cast<const BYTE*>(v.second.data());
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name.c_str(), 0, v.first, data, bytes));
        // One byte short: ERROR_MORE_DATA, the size needed, nothing written.
        std::vector<BYTE> buffer(bytes + 1, 0xEE);
        EXPECT_EQ(bytes ? ERROR_MORE_DATA : ERROR_SUCCESS,
                  RegQueryValueExA(key, name.c_str(), nullptr, &type, buffer.data(), &size));
        EXPECT_EQ(std::make_pair(v.first, bytes), std::make_pair(type, size));
        EXPECT_EQ(0xEE, buffer[0]);
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, name.c_str(), 0, 0, buffer.data(), &size));
        EXPECT_TRUE(v.second == std::string(buffer.begin(), buffer.begin() + size)) << name;
        EXPECT_EQ(0xEE, buffer[size]) << "written past the data of " << name;
    }
    // A size without data is refused.
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExA(key, "v2", 0, REG_BINARY, nullptr, 4));
}

// What each call through a key answers: querying and setting the value "v",
// enumerating subkeys and values, creating "Sub", creating (that is,
// opening) "Old", and opening and deleting "Sub".
static std::vector<LSTATUS> Answers(HKEY key) {
    char name[16];
    DWORD keyLength = sizeof(name), valueLength = sizeof(name);
    return {RegQueryValueExA(key, "v", 0, 0, 0, 0), SetString(key, "v", "x"),
            RegEnumKeyExA(key, 0, name, &keyLength, 0, 0, 0, 0),
            RegEnumValueA(key, 0, name, &valueLength, 0, 0, 0, 0), Create(key, "Sub"),
            Create(key, "Old"), OpenKey(key, "Sub"), RegDeleteKeyA(key, "Sub")};
}

TEST(RegistryHandles, EachCallAnswersByTheRightsAndTheLifeOfItsHandle) {
    ASSERT_EQ(ERROR_SUCCESS, Create(kMachine, "A\\Old\\Old"));
    // A handle to a deleted key stays dead, also once the name is made again.
    HKEY gone = CreateKey(kMachine, "G"), closed = CreateKey(kMachine, "Software\\X");
    ASSERT_FALSE(RegDeleteKeyA(kMachine, "G") || Create(kMachine, "G") || RegCloseKey(closed));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // not a key
    const LSTATUS ok = 0, no = ERROR_ACCESS_DENIED, none = ERROR_FILE_NOT_FOUND,
                  end = ERROR_NO_MORE_ITEMS;
    const std::vector<LSTATUS> bad(8, ERROR_INVALID_HANDLE);
    // Opening or making a key through a handle needs no right on it; the value
    // read through the third (opened with GENERIC_READ) was set through the second.
    const std::pair<HKEY, std::vector<LSTATUS>> cases[] = {
        {CreateKey(kMachine, "A", 0, KEY_READ), {none, no, ok, end, ok, ok, ok, ok}},
        {CreateKey(kMachine, "A\\Old", 0, KEY_SET_VALUE), {no, ok, no, no, ok, ok, ok, ok}},
        {CreateKey(kMachine, "A\\Old", 0, 0x80000000), {ok, no, ok, ok, ok, ok, ok, ok}},
        {gone, std::vector<LSTATUS>(8, ERROR_KEY_DELETED)},
        {nullptr, bad}, {HKEY(3), bad}, {HKEY(400000), bad}, {HKEY(0x12345670), bad},
        {HKEY(intptr_t(int32_t(0x80000005))) /* HKEY_CURRENT_CONFIG */, bad},
        {HKEY(event), bad}, {closed, bad}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.second, Answers(c.first)) << c.first;
        EXPECT_EQ(c.second == bad ? ERROR_INVALID_HANDLE : ERROR_SUCCESS, RegCloseKey(c.first));
    }
    EXPECT_TRUE(CloseHandle(event));
    // Predefined keys close and stay.
    EXPECT_FALSE(RegCloseKey(kMachine) || SetString(kMachine, "still", "open"));
}

TEST(RegistryDelete, RootsStayAndFamilyRulesForKeysWithSubkeys) {
    // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes, HKEY_CURRENT_USER
    // this user's key under HKEY_USERS; none of them can be deleted, empty as they are.
    const std::string sid = "S-1-22-1-" + std::to_string(getuid());
    const std::pair<HKEY, std::string> roots[] = {{kMachine, "Software\\Classes"},
        {HKEY_USERS, sid}, {HKEY_CLASSES_ROOT, ""}, {HKEY_CURRENT_USER, ""}};
    for (const auto& r : roots)
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(r.first, r.second.c_str())) << r.second;
    EXPECT_EQ(0, Create(HKEY_CLASSES_ROOT, "Z.T") | Create(HKEY_CURRENT_USER, "z"));
    EXPECT_EQ(0, OpenKey(kMachine, "Software\\Classes\\z.t") | OpenKey(HKEY_USERS, sid + "\\Z"));
    const char* leaf = "Software\\Del\\Top\\Mid\\Leaf";
    ASSERT_EQ(ERROR_SUCCESS, SetString(CreateKey(kMachine, leaf), "v", "x"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(kMachine, "Software\\Del\\Nope"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(kMachine, nullptr));
    // On 9x the narrow form takes the whole subtree, values and all; NT
    // refuses a key with subkeys and leaves it as it was.
    const bool nt = !zvtest::Family9x();
    EXPECT_EQ(nt ? ERROR_ACCESS_DENIED : 0, RegDeleteKeyA(kMachine, "Software\\Del\\Top"));
    EXPECT_EQ(nt ? Strings{"v"} : Strings{}, Names(CreateKey(kMachine, leaf), true));
    if (!nt) return;
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyW(kMachine, u"software\\del\\top\\mid\\LEAF"));
    // Through an open key, and the key itself by the empty path.
    HKEY top = CreateKey(kMachine, "Software\\Del\\Top");
    EXPECT_FALSE(RegDeleteKeyA(top, "Mid") || RegDeleteKeyA(top, ""));  // in this order
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(kMachine, "Software\\Del\\Top"));
}

TEST(RegistryWide, WideFormsWorkOnNtAndAreRefusedOn9x) {
    HKEY key = CreateKey(kMachine, "Software\\W"), other = nullptr;
    const char16_t odd[] = {u'x', 0xD800, 0};  // a lone surrogate stays unit for unit
    char16_t name[8] = {};
    DWORD keyLength = 4, valueLength = 3, size = 8;
    const LSTATUS want = zvtest::Family9x() ? ERROR_CALL_NOT_IMPLEMENTED : ERROR_SUCCESS;
    for (LSTATUS status :
         {RegCreateKeyExW(kMachine, u"SOFTWARE\\w\\Sub", 0, 0, 0, KEY_ALL_ACCESS, 0, &other, 0),
          RegOpenKeyExW(kMachine, u"Software\\W", 0, KEY_READ, &other),
          RegSetValueExW(key, odd, 0, REG_SZ, reinterpret_cast<const BYTE*>(u"v"), 4),
          RegQueryValueExW(key, odd, 0, 0, 0, &size),
          RegEnumKeyExW(key, 0, name, &keyLength, 0, 0, 0, 0),
          RegEnumValueW(key, 0, name, &valueLength, 0, 0, 0, 0), RegDeleteKeyW(key, u"sub")})
        EXPECT_EQ(want, status);
    EXPECT_EQ(want == ERROR_SUCCESS ? Strings{"x?"} : Strings{}, Names(key, true));
    EXPECT_EQ(std::u16string(want == ERROR_SUCCESS ? odd : u""), std::u16string(name));
}

// Keys lie at most 512 levels below HKEY_LOCAL_MACHINE (HKEY_CLASSES_ROOT is
// two of them down); a path that would go deeper makes nothing.
TEST(RegistryKeys, KeysLieAtMostFiveHundredTwelveLevelsDeep) {
    std::string path = "Software";
    for (int level = 2; level <= 512; ++level) path += "\\k";
    std::string classes = path.substr(std::string("Software\\k\\k\\").size());  // 509 levels
    EXPECT_EQ(ERROR_NO_SYSTEM_RESOURCES, Create(kMachine, (path + "\\k").c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(kMachine, "Software\\k"));
    HKEY deepest = CreateKey(kMachine, path);
    EXPECT_EQ(ERROR_NO_SYSTEM_RESOURCES, Create(deepest, "k"));
    EXPECT_EQ(ERROR_SUCCESS, Create(HKEY_CLASSES_ROOT, (classes + "\\k").c_str()));
    EXPECT_EQ(ERROR_NO_SYSTEM_RESOURCES, Create(HKEY_CLASSES_ROOT, (classes + "\\k\\k").c_str()));
    EXPECT_EQ(ERROR_SUCCESS, SetString(deepest, "v", "bottom"));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(deepest));
    // The 9x family deletes the whole subtree at once.
    if (zvtest::Family9x()) {
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(kMachine, "Software\\k"));
    }
}

// Enumerating by index 0, 1, 2, ... continues from where the handle's last
// call stopped; asking again for the same index, going back, or any change
// to the registry in between (through this process or another connection)
// counts the index from the start again.
TEST(RegistryKeys, EnumerationFollowsChangesBetweenCalls) {
    zvtest::TempDir dir;
    UseRegistry(dir.file("registry.db"));
    HKEY key = CreateKey(kMachine, "Software\\Walk");
    for (const char* name : {"a", "b", "c", "d"}) {
        RegCloseKey(CreateKey(key, name));
        ASSERT_EQ(ERROR_SUCCESS, SetString(key, name, name));
    }
    auto subkey = [&](DWORD index) {
        char name[16];
        DWORD length = sizeof(name);
        LSTATUS status = RegEnumKeyExA(key, index, name, &length, 0, 0, 0, 0);
        return status ? std::to_string(status) : std::string(name, length);
    };
    auto value = [&](DWORD index, DWORD length = 16) {
        char name[16];
        LSTATUS status = RegEnumValueA(key, index, name, &length, 0, 0, 0, 0);
        return status ? std::to_string(status) : std::string(name, length);
    };
    EXPECT_EQ("a b b c a d 259", subkey(0) + " " + subkey(1) + " " + subkey(1) + " " + subkey(2) + " " +
                                     subkey(0) + " " + subkey(3) + " " + subkey(4));
    EXPECT_EQ("a b", subkey(0) + " " + subkey(1));
    EXPECT_EQ("234 a b", value(0, 1) + " " + value(0) + " " + value(1));  // too small, then again
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key, "a"));
    EXPECT_EQ("d", subkey(2));
    sqlite3* other = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dir.file("registry.db").c_str(), &other));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(other, "DELETE FROM vals WHERE name = 'a'; DELETE FROM keys WHERE name = 'b'",
                                      nullptr, nullptr, nullptr));
    sqlite3_close(other);
    EXPECT_EQ("c d", value(1) + " " + value(2));
    EXPECT_EQ("c d 259", subkey(0) + " " + subkey(1) + " " + subkey(2));
    RegCloseKey(key);
}
