// The registry file shared between processes: concurrent writers, a writer
// killed mid-way, deletions seen by other processes, a file that may only be
// read, a locked file, and files that are not a registry.  Every test works
// on a file of its own.
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "child.h"
#include "registry_util.h"

namespace fs = std::filesystem;

static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return fs::is_regular_file(path) ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
}

// The value "v" of Software\W\<name>\Sub, or "" when either is missing.
static std::string ValueAt(const std::string& name) {
    HKEY key = nullptr;
    OpenKey(kMachine, "Software\\W\\" + name + "\\Sub", &key);
    const std::string value = QueryString(key, "v");
    return RegCloseKey(key), value;
}

// Makes keys Software\W\<prefix><i>\Sub anew, each with v = i, reporting
// each one done: "prefix|count", or until it is killed with a count of 0.
ZVTEST_CHILD_ROLE(RegistryWriter) {
    std::string prefix = argument.substr(0, argument.find('|'));
    int count = atoi(argument.c_str() + prefix.size() + 1);
    for (int i = 0; count == 0 || i < count; ++i) {
        std::string data = std::to_string(i), path = "Software\\W\\" + prefix + data + "\\Sub";
        HKEY key = nullptr;
        RegDeleteKeyA(kMachine, path.c_str());
        LSTATUS s = RegCreateKeyExA(kMachine, path.c_str(), 0, 0, 0, KEY_ALL_ACCESS, 0, &key, 0);
        if (s || SetString(key, "v", data) || RegCloseKey(key)) return 1;
        zvtest::Report(reportFd, data);
    }
    return 0;
}

// As a user who may only read the file (nobody, when run as root): reads
// work and every write is refused.  Exits with a bit set for each check that
// failed: read, set, create to write, create to read, create new, delete.
ZVTEST_CHILD_ROLE(RegistryReadOnlyChecker) {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        return 200;
    const char* path = argument.c_str();
    (void)reportFd;  // answers by its exit code
    HKEY key = nullptr, other = nullptr;
    DWORD made = 0;
    auto create = [&](const char* name, REGSAM access) {
        return RegCreateKeyExA(kMachine, name, 0, 0, 0, access, 0, &other, &made); };
    const bool checks[] = {OpenKey(kMachine, path, &key) == 0 && QueryString(key, "v") == "0",
                           SetString(key, "v", "x") == ERROR_ACCESS_DENIED,
                           create(path, KEY_ALL_ACCESS) == ERROR_ACCESS_DENIED,
                           !create(path, KEY_READ) && made == REG_OPENED_EXISTING_KEY,
                           create("Software\\Fresh", KEY_READ) == ERROR_ACCESS_DENIED,
                           RegDeleteKeyA(kMachine, path) == ERROR_ACCESS_DENIED};
    int failed = 0;
    for (int i = 0; i < 6; ++i) failed |= !checks[i] << i;
    return failed;
}

struct RegistryProcesses : ::testing::Test {
    void SetUp() override { UseRegistry(path_); }
    zvtest::TempDir dir_;
    std::string path_ = dir_.file("registry.db");
};

// Two writers at once lose nothing (on the disk every commit waits for the
// flush, so a writer holds the lock nearly all the time: the other must still
// get its turns), writers killed meanwhile leave every key whole and all they
// reported, and a key deleted elsewhere is not answered from memory.
TEST_F(RegistryProcesses, WritersAtOnceOrKilledMidWayLoseNothing) {
    HKEY victim = CreateKey(kMachine, "Software\\W\\a-0\\Sub");
    ASSERT_EQ(ERROR_SUCCESS, SetString(victim, "v", "first"));
    zvtest::Child a("RegistryWriter", "a-|150"), b("RegistryWriter", "b-|150");
    Strings reported;
    for (std::string prefix : {"x20-", "y57-", "z93-"}) {
        zvtest::Child writer("RegistryWriter", prefix + "|0");
        std::string line;
        for (int left = atoi(prefix.c_str() + 1); writer.ReadLine(&line, 60000);)
            if (reported.push_back(prefix + line), --left == 0) writer.Kill(SIGKILL);
        EXPECT_EQ(128 + SIGKILL, writer.Wait(30000));  // killed, not ended on its own
    }
    EXPECT_EQ(0, a.Wait(240000) | b.Wait(240000));
    for (int i = 0; i < 150; ++i)
        reported.insert(reported.end(), {"a-" + std::to_string(i), "b-" + std::to_string(i)});
    for (const std::string& key : reported)
        ASSERT_EQ(key.substr(key.find('-') + 1), ValueAt(key)) << key;
    // A key is made whole or not at all: every one has its Sub.
    for (const std::string& name : Names(CreateKey(kMachine, "Software\\W")))
        EXPECT_EQ(ERROR_SUCCESS, OpenKey(kMachine, "Software\\W\\" + name + "\\Sub")) << name;
    EXPECT_EQ(ERROR_KEY_DELETED, RegQueryValueExA(victim, "v", 0, 0, 0, 0));
}

// Checks the file through a read-only bind mount of its directory, where
// SQLite can make neither its shared-memory index nor its log: -1 when the
// mount cannot be made (not root), else the checker's exit code.
static int CheckOnReadOnlyMount(const std::string& directory, const std::string& registry) {
    const std::string view = directory + "/view";
    fs::create_directory(view);
    if (geteuid() != 0 || mount(directory.c_str(), view.c_str(), nullptr, MS_BIND, nullptr) != 0) return -1;
    int failed = -1;
    if (mount(nullptr, view.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0) {
        setenv("ZV_REGISTRY", (view + "/registry.db").c_str(), 1);
        failed = zvtest::Child("RegistryReadOnlyChecker", "Software\\W\\p0\\Sub").Wait(60000);
        setenv("ZV_REGISTRY", registry.c_str(), 1);
    }
    umount2(view.c_str(), MNT_DETACH);
    return failed;
}

TEST_F(RegistryProcesses, AFileThatMayOnlyBeReadAnswersReadsAndRefusesEveryWrite) {
    ASSERT_EQ(0, zvtest::Child("RegistryWriter", "p|1").Wait(60000));
    const std::string before = ReadFile(path_);
    ASSERT_EQ(0, chmod(dir_.path().c_str(), 0755));
    // On a read-only medium (first, while no index lies beside the file).
    const int onMount = CheckOnReadOnlyMount(dir_.path(), path_);
    if (onMount == -1) printf("not checked on a read-only mount: that needs root\n");
    EXPECT_TRUE(onMount == 0 || onMount == -1) << "on a read-only mount: " << onMount;
    ASSERT_EQ(0, chmod(path_.c_str(), 0444));
    // With the directory writable, and without (no shared-memory index then).
    for (mode_t directory : {0555, 0777}) {
        ASSERT_EQ(0, chmod(dir_.path().c_str(), directory));
        int failed = zvtest::Child("RegistryReadOnlyChecker", "Software\\W\\p0\\Sub").Wait(60000);
        chmod(dir_.path().c_str(), 0700);
        if (failed == 200) GTEST_SKIP() << "running as root without the right to change user";
        EXPECT_EQ(0, failed) << std::oct << directory;
        EXPECT_TRUE(before == ReadFile(path_)) << "the file changed";
    }
}

TEST_F(RegistryProcesses, AFileLockedTooLongRefusesWritesButNotReads) {
    HKEY key = CreateKey(kMachine, "Software\\Locked"), made = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "v", "before"));
    zvp::reg::SetBusyTimeoutForTesting(200);
    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(path_.c_str(), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
    for (LSTATUS s : {SetString(key, "v", "during"), RegDeleteKeyA(kMachine, "Software\\Locked"),
                      RegCreateKeyExA(key, "New", 0, 0, 0, KEY_ALL_ACCESS, 0, &made, 0)})
        EXPECT_EQ(ERROR_BUSY, s);
    EXPECT_EQ("before", QueryString(key, "v"));
    sqlite3_close(holder);  // rolls back and lets go
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, "v", "after"));
    EXPECT_EQ(Strings{}, Names(key));
}

TEST_F(RegistryProcesses, FilesThatAreNotARegistryGiveErrorsAndStayAsTheyAre) {
    // A registry whose pages after the first are overwritten,
    ASSERT_EQ(0, SetString(CreateKey(kMachine, "Software\\Damaged"), "v", std::string(65536, 'd')));
    UseRegistry(":memory:");  // closing it folds the log back
    ASSERT_FALSE(fs::exists(path_ + "-wal"));
    std::string bytes = ReadFile(path_);
    for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = char(0x5A ^ (i * 13));
    std::ofstream(path_, std::ios::binary) << bytes;
    // another program's database and a directory.
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dir_.file("foreign.db").c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "CREATE TABLE notes(text)", nullptr, nullptr, nullptr));
    sqlite3_close(db);
    const std::pair<std::string, LSTATUS> files[] = {
        {path_, ERROR_REGISTRY_CORRUPT}, {dir_.file("foreign.db"), ERROR_BADDB},
        {dir_.path(), ERROR_CANTOPEN}};
    for (const auto& file : files) {
        std::string before = ReadFile(file.first);
        UseRegistry(file.first);
        EXPECT_EQ(file.second, OpenKey(kMachine, "Software\\Damaged")) << file.first;
        EXPECT_EQ(file.second, SetString(kMachine, "v", "x")) << file.first;
        EXPECT_TRUE(before == ReadFile(file.first)) << file.first;
        EXPECT_FALSE(fs::exists(file.first + "-wal")) << file.first;
    }
}
