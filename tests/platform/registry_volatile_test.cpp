// Volatile keys: shared between processes like the others, never in the
// store's file, and gone when the machine restarts.
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "child.h"
#include "platform/posix/registry_volatile.h"
#include "registry_util.h"

// Answers by its exit code whether the key `argument` holds v = "volatile-data".
ZVTEST_CHILD_ROLE(VolatileReader) {
    (void)reportFd;
    HKEY key = nullptr;
    return OpenKey(kMachine, argument, &key) || QueryString(key, "v") != "volatile-data";
}

static std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

static bool HoldsName(const std::string& bytes, const std::string& name) {
    std::string utf16;
    for (char c : name) utf16 += std::string{c, '\0'};
    return bytes.find(utf16) != std::string::npos || bytes.find(name) != std::string::npos;
}

static LSTATUS Create(const char* path, DWORD options, HKEY* key, DWORD* made = nullptr) {
    return RegCreateKeyExA(kMachine, path, 0, 0, options, KEY_ALL_ACCESS, 0, key, made);
}

TEST(RegistryVolatile, KeysLiveUntilTheMachineRestartsAndNeverReachTheFile) {
    zvtest::TempDir dir;
    ASSERT_EQ(0, setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1));
    const std::string path = dir.file("registry.db");
    UseRegistry(path);
    HKEY sub = nullptr, key = nullptr;
    DWORD made = 0;
    // The keys made on the way are volatile too.
    ASSERT_EQ(0, Create("Software\\Evanescent\\Sub", REG_OPTION_VOLATILE, &sub, &made));
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), made);
    ASSERT_EQ(0, SetString(sub, "v", "volatile-data"));
    RegCloseKey(CreateKey(kMachine, "Software\\Stay"));
    ASSERT_EQ(0, SetString(CreateKey(kMachine, "Software\\Stay"), "v", "lasting-data"));
    // Below a volatile key only volatile ones are made; an existing key opens
    // whatever the option says.
    for (const char* below : {"Software\\Evanescent\\Sub\\Keep", "Software\\Evanescent\\Other"})
        EXPECT_EQ(ERROR_CHILD_MUST_BE_VOLATILE, Create(below, 0, &key)) << below;
    ASSERT_EQ(0, Create("Software\\Evanescent", 0, &key, &made));
    EXPECT_EQ(DWORD(REG_OPENED_EXISTING_KEY), made);
    RegCloseKey(key);
    ASSERT_EQ(0, Create("Software\\Stay\\Brief", REG_OPTION_VOLATILE, &key));
    RegCloseKey(key);
    // Subkeys of both kinds enumerate together, in name order.
    HKEY software = CreateKey(kMachine, "Software");
    EXPECT_EQ((Strings{"Classes", "Evanescent", "Stay"}), Names(software));
    EXPECT_EQ(Strings{"Brief"}, Names(CreateKey(kMachine, "Software\\Stay")));
    // Another process sees them.
    EXPECT_EQ(0, zvtest::Child("VolatileReader", "Software\\Evanescent\\Sub").Wait(60000));
    // The store's file (and its log) hold the lasting key, never the volatile ones.
    const std::string file = Bytes(path) + Bytes(path + "-wal");
    EXPECT_TRUE(HoldsName(file, "Stay") && HoldsName(file, "lasting-data"));
    for (const char* name : {"Evanescent", "volatile-data", "Brief"}) EXPECT_FALSE(HoldsName(file, name)) << name;
    EXPECT_TRUE(std::filesystem::exists(zvp::reg::VolatilePathForTesting(path)));
    // NT refuses to delete a key with subkeys, volatile ones included; 9x
    // deletes the subtree of both kinds.
    EXPECT_EQ(zvtest::Family9x() ? ERROR_SUCCESS : ERROR_ACCESS_DENIED, RegDeleteKeyA(kMachine, "Software\\Stay"));
    EXPECT_EQ(zvtest::Family9x() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS, OpenKey(kMachine, "Software\\Stay\\Brief"));

    // The machine restarts: the stamp no longer matches, the volatile keys
    // are gone (a handle to one names a deleted key), the others stay.
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(zvp::reg::VolatilePathForTesting(path).c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "UPDATE stamp SET text = 'another boot'", 0, 0, 0));
    sqlite3_close(db);
    zvp::reg::ReopenForTesting();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(kMachine, "Software\\Evanescent"));
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(sub, "v", "again"));
    EXPECT_EQ(zvtest::Family9x() ? Strings{"Classes"} : (Strings{"Classes", "Stay"}), Names(software));
    EXPECT_EQ(1, zvtest::Child("VolatileReader", "Software\\Evanescent\\Sub").Wait(60000));
    // Made anew, the key has a new id: the old handle stays dead.
    ASSERT_EQ(0, Create("Software\\Evanescent\\Sub", REG_OPTION_VOLATILE, &key));
    EXPECT_EQ(ERROR_KEY_DELETED, SetString(sub, "v", "again"));
    for (HKEY open : {sub, key, software}) RegCloseKey(open);
}

// Makes the volatile key Software\Evanescent\<argument> and exits 0 when it
// made it.
ZVTEST_CHILD_ROLE(VolatileMaker) {
    (void)reportFd;
    HKEY key = nullptr;
    const std::string path = "Software\\Evanescent\\" + argument;
    return Create(path.c_str(), REG_OPTION_VOLATILE, &key) || SetString(key, "v", argument);
}

// Processes that meet a new store at once all set up, and share, one
// volatile database: none falls back to keys of its own.
TEST(RegistryVolatile, ProcessesMeetingANewStoreShareOneVolatileDatabase) {
    for (int round = 0; round < 3; ++round) {
        zvtest::TempDir dir;
        ASSERT_EQ(0, setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1));
        UseRegistry(dir.file("registry.db"));
        std::vector<std::unique_ptr<zvtest::Child>> makers;
        for (int i = 0; i < 6; ++i) makers.emplace_back(new zvtest::Child("VolatileMaker", "m" + std::to_string(i)));
        for (auto& maker : makers) EXPECT_EQ(0, maker->Wait(60000)) << round;
        HKEY key = CreateKey(kMachine, "Software\\Evanescent");
        EXPECT_EQ((Strings{"m0", "m1", "m2", "m3", "m4", "m5"}), Names(key)) << round;
        RegCloseKey(key);
    }
}

// Makes volatile keys Software\Evanescent\<argument><i>\Sub with v = i, one
// after another, reporting each, until it is killed.
ZVTEST_CHILD_ROLE(VolatileWriter) {
    for (int i = 0;; ++i) {
        HKEY key = nullptr;
        const std::string data = std::to_string(i), path = "Software\\Evanescent\\" + argument + data + "\\Sub";
        if (Create(path.c_str(), REG_OPTION_VOLATILE, &key) || SetString(key, "v", data) || RegCloseKey(key))
            return 1;
        zvtest::Report(reportFd, data);
    }
}

// Writers of volatile keys killed mid-way lose nothing they reported, and
// leave no key half made.
TEST(RegistryVolatile, WritersKilledMidWayLoseNothing) {
    zvtest::TempDir dir;
    ASSERT_EQ(0, setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1));
    UseRegistry(dir.file("registry.db"));
    Strings reported;
    for (std::string prefix : {"x20-", "y57-", "z93-"}) {
        zvtest::Child writer("VolatileWriter", prefix);
        std::string line;
        for (int left = atoi(prefix.c_str() + 1); writer.ReadLine(&line, 60000);)
            if (reported.push_back(prefix + line), --left == 0) writer.Kill(SIGKILL);
        EXPECT_EQ(128 + SIGKILL, writer.Wait(30000));
    }
    EXPECT_GE(reported.size(), 170u);
    for (const std::string& name : reported) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, OpenKey(kMachine, "Software\\Evanescent\\" + name + "\\Sub", &key)) << name;
        EXPECT_EQ(name.substr(name.find('-') + 1), QueryString(key, "v")) << name;
        RegCloseKey(key);
    }
    for (const std::string& name : Names(CreateKey(kMachine, "Software\\Evanescent")))
        EXPECT_EQ(ERROR_SUCCESS, OpenKey(kMachine, "Software\\Evanescent\\" + name + "\\Sub")) << name;
}
