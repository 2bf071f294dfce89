// The registry file shared between processes: persistence, concurrent
// writers, a writer killed mid-way, deletions seen by other processes, a
// file that may only be read, a locked file, and files that are not a
// registry.  Every test works on a file of its own.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "child.h"
#include "registry_util.h"
#include "support.h"
#include "zv.h"

using namespace regtest;
namespace fs = std::filesystem;

namespace {

const HKEY kMachine = HKEY_LOCAL_MACHINE;

std::string ReadFile(const std::string& path) {
    if (!fs::is_regular_file(path)) return "";
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value "v" of a key, or "" when either is missing.
std::string ValueAt(const std::string& path) {
    HKEY key = nullptr;
    std::string value = OpenKey(kMachine, path, &key) == ERROR_SUCCESS ? QueryString(key, "v") : "";
    RegCloseKey(key);
    return value;
}

// A directory of its own under `base`, or none ("") where base is missing.
struct ScratchDir {
    explicit ScratchDir(std::string base) {
        base += "/zvtest-XXXXXX";
        if (access(base.substr(0, base.rfind('/')).c_str(), W_OK) == 0 && mkdtemp(&base[0]))
            path = base;
    }
    ~ScratchDir() {
        if (path.empty()) return;
        chmod(path.c_str(), 0755);
        fs::remove_all(path);
    }
    std::string path;
};

// Makes keys Software\W\<prefix><i>\Sub, each with v = i, reporting each one
// done: "prefix|count", or until it is killed with a count of 0.
ZVTEST_CHILD_ROLE(RegistryWriter) {
    std::string prefix = argument.substr(0, argument.find('|'));
    int count = atoi(argument.c_str() + prefix.size() + 1);
    for (int i = 0; count == 0 || i < count; ++i) {
        std::string data = std::to_string(i), path = "Software\\W\\" + prefix + data + "\\Sub";
        HKEY key = nullptr;
        LSTATUS status = RegCreateKeyExA(kMachine, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                         nullptr, &key, nullptr);
        if (status == ERROR_SUCCESS) status = SetString(key, "v", data);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return 1;
        zvtest::Report(reportFd, data);
    }
    return 0;
}

// Deletes a key and makes it again with v = "again".
ZVTEST_CHILD_ROLE(RegistryRemaker) {
    (void)reportFd;
    HKEY key = nullptr;
    LSTATUS status = RegDeleteKeyA(kMachine, argument.c_str());
    if (status == ERROR_SUCCESS)
        status = RegCreateKeyExA(kMachine, argument.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                 &key, nullptr);
    if (status == ERROR_SUCCESS) status = SetString(key, "v", "again");
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? 0 : 1;
}

// Holds the write lock of a registry file until it is killed.
ZVTEST_CHILD_ROLE(RegistryLockHolder) {
    sqlite3* db = nullptr;
    if (sqlite3_open(argument.c_str(), &db) != SQLITE_OK ||
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return 2;
    zvtest::Report(reportFd, "locked");
    for (;;) pause();
}

// As a user who may only read the file (nobody, when run as root): reads
// work and every write is refused.  Reports the checks that failed.
ZVTEST_CHILD_ROLE(RegistryReadOnlyChecker) {
    (void)argument;
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        return 90;
    ZVInit();
    const char* path = "Software\\W\\p0\\Sub";
    std::u16string wide = zvtest::W(path);
    HKEY key = nullptr, other = nullptr;
    DWORD made = 0;
    ZVWCHAR buffer[256];
    auto create = [&](const char* name, REGSAM access) {
        return RegCreateKeyExA(kMachine, name, 0, nullptr, 0, access, nullptr, &other, &made);
    };
    const std::pair<const char*, bool> checks[] = {
        {"open to read", OpenKey(kMachine, path, &key) == ERROR_SUCCESS},
        {"read", QueryString(key, "v") == "0" && ValueNames(key).size() == 1},
        {"set", SetString(key, "v", "x") == ERROR_ACCESS_DENIED},
        {"set at a root", SetString(kMachine, "v", "x") == ERROR_ACCESS_DENIED},
        {"open to write", OpenKey(kMachine, path, &other, KEY_ALL_ACCESS) == ERROR_ACCESS_DENIED},
        {"create to write", create(path, KEY_ALL_ACCESS) == ERROR_ACCESS_DENIED},
        {"create to read", create(path, KEY_READ) == ERROR_SUCCESS && made == REG_OPENED_EXISTING_KEY},
        {"create new", create("Software\\Fresh", KEY_READ) == ERROR_ACCESS_DENIED},
        {"delete", RegDeleteKeyA(kMachine, path) == ERROR_ACCESS_DENIED},
        {"add entry", ZVAddRegistryEntry(kMachine, wide.c_str(), u"v", u"x") == E_FAIL},
        {"get entry", ZVGetRegistryEntry(kMachine, wide.c_str(), u"v", buffer) == S_OK},
        {"unchanged", QueryString(key, "v") == "0" && !KeyExists(kMachine, "Software\\Fresh")}};
    std::string failed = "failed:";
    for (const auto& check : checks)
        if (!check.second) failed += std::string(" ") + check.first;
    zvtest::Report(reportFd, failed);
    return 0;
}

class RegistryProcesses : public ::testing::Test {
  protected:
    void SetUp() override { UseRegistry(path_); }
    zvtest::TempDir dir_;
    std::string path_ = dir_.file("registry.db");
};

// Two writers at once lose nothing, and this process reads all they wrote.
void WriteConcurrently(const std::string& file, int each) {
    std::vector<std::string> environment = {"ZV_REGISTRY=" + file};
    zvtest::Child a("RegistryWriter", "a|" + std::to_string(each), environment);
    zvtest::Child b("RegistryWriter", "b|" + std::to_string(each), environment);
    EXPECT_EQ(0, a.Wait(240000));
    EXPECT_EQ(0, b.Wait(240000));
    UseRegistry(file);
    for (int i = 0; i < each; ++i)
        for (std::string prefix : {"a", "b"})
            ASSERT_EQ(std::to_string(i), ValueAt("Software\\W\\" + prefix + std::to_string(i) + "\\Sub"));
    HKEY all = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(kMachine, "Software\\W", &all));
    EXPECT_EQ(size_t(2 * each), Subkeys(all).size());
    RegCloseKey(all);
}

TEST_F(RegistryProcesses, TwoWritersAtOnceLoseNothing) {
    // In memory, where the machine has it: the test then measures locking
    // and atomicity rather than how long the disk takes to flush.
    ScratchDir memory("/dev/shm");
    WriteConcurrently(memory.path.empty() ? path_ : memory.path + "/registry.db", 2000);
}

// On the disk every commit waits for the flush, so a writer holds the lock
// nearly all the time: the other must still get its turns.
TEST_F(RegistryProcesses, TwoWritersOnDiskBothGetTheirTurns) { WriteConcurrently(path_, 200); }

TEST_F(RegistryProcesses, AWriterKilledMidWayLeavesASoundFileWithEverythingItReported) {
    ScratchDir memory("/dev/shm");
    std::string file = memory.path.empty() ? path_ : memory.path + "/registry.db";
    UseRegistry(file);
    std::set<std::string> reported;
    for (std::string prefix : {"x40-", "y107-", "z173-"}) {
        zvtest::Child writer("RegistryWriter", prefix + "|0", {"ZV_REGISTRY=" + file});
        std::string line;
        for (int got = atoi(prefix.c_str() + 1); got > 0; --got) {
            ASSERT_TRUE(writer.ReadLine(&line, 60000));
            reported.insert(prefix + line);
        }
        writer.Kill(SIGKILL);
        while (writer.ReadLine(&line, 10000)) reported.insert(prefix + line);
        EXPECT_EQ(128 + SIGKILL, writer.Wait(30000));
    }
    sqlite3* db = nullptr;
    std::string check;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(file.c_str(), &db));
    auto append = [](void* out, int, char** row, char**) {
        *static_cast<std::string*>(out) += row[0];
        return 0;
    };
    sqlite3_exec(db, "PRAGMA integrity_check", append, &check, nullptr);
    sqlite3_close(db);
    EXPECT_EQ("ok", check);
    for (const std::string& key : reported)
        EXPECT_EQ(key.substr(key.find('-') + 1), ValueAt("Software\\W\\" + key + "\\Sub")) << key;
    // A key is made whole or not at all: every one has its Sub.
    HKEY all = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(kMachine, "Software\\W", &all));
    Strings made = Subkeys(all);
    EXPECT_GE(made.size(), reported.size());
    for (const std::string& name : made) EXPECT_TRUE(KeyExists(all, name + "\\Sub")) << name;
    RegCloseKey(all);
}

TEST_F(RegistryProcesses, KeysDeletedByAnotherProcessAreNotAnsweredFromMemory) {
    const std::string path = "Software\\Cache\\Victim";
    HKEY victim = CreateKey(kMachine, path);
    ASSERT_EQ(ERROR_SUCCESS, SetString(victim, "v", "first"));
    EXPECT_EQ("first", ValueAt(path));
    // A deleter that died between counting its deletion begun and done (the
    // counts file holds the two 64-bit counts) is settled by the next lookup.
    int fd = open((path_ + "-gen").c_str(), O_RDWR);
    uint64_t counts[2] = {};
    ASSERT_EQ(16, pread(fd, counts, 16, 0));
    counts[0] = counts[1] + 1;
    ASSERT_EQ(8, pwrite(fd, counts, 8, 0));
    EXPECT_EQ("first", ValueAt(path));
    ASSERT_EQ(16, pread(fd, counts, 16, 0));
    close(fd);
    EXPECT_EQ(counts[0], counts[1]);
    // Lookups are learnt again, and still forgotten when another process
    // deletes and remakes the key.
    EXPECT_EQ("first", ValueAt(path));
    ASSERT_EQ(0, zvtest::Child("RegistryRemaker", path).Wait(60000));
    EXPECT_EQ("again", ValueAt(path));
    LSTATUS status;
    QueryString(victim, "v", &status);
    EXPECT_EQ(ERROR_KEY_DELETED, status);
    RegCloseKey(victim);
}

TEST_F(RegistryProcesses, AForkedChildOpensAConnectionOfItsOwn) {
    HKEY key = CreateKey(kMachine, "Software\\Fork");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "parent", "1"));
    pid_t pid = fork();
    if (pid == 0) {
        // Handles are inherited with the process; the store's connection is not.
        bool ok = SetString(key, "child", "2") == ERROR_SUCCESS && QueryString(key, "parent") == "1";
        zvp::reg::ReopenForTesting();  // closes the child's own connection
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_EQ(0, status);
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, "after", "3"));
    EXPECT_EQ((Strings{"parent", "child", "after"}), ValueNames(key));
    RegCloseKey(key);
}

TEST(RegistryReadOnly, ReadsWorkAndEveryWriteIsRefused) {
    // With the directory writable, and without (no shared-memory index then).
    for (mode_t directory : {0777, 0555}) {
        ScratchDir dir("/tmp");  // that nobody can reach too
        ASSERT_EQ(0, chmod(dir.path.c_str(), 0755));
        std::vector<std::string> environment = {"ZV_REGISTRY=" + dir.path + "/registry.db"};
        ASSERT_EQ(0, zvtest::Child("RegistryWriter", "p|1", environment).Wait(60000));
        std::string before = ReadFile(dir.path + "/registry.db"), line;
        ASSERT_EQ(0, chmod((dir.path + "/registry.db").c_str(), 0444));
        ASSERT_EQ(0, chmod(dir.path.c_str(), directory));
        zvtest::Child checker("RegistryReadOnlyChecker", "", environment);
        checker.ReadLine(&line, 60000);
        int status = checker.Wait(60000);
        if (status == 90) GTEST_SKIP() << "running as root without the right to change user";
        EXPECT_EQ(0, status);
        EXPECT_EQ("failed:", line) << std::oct << directory;
        EXPECT_TRUE(before == ReadFile(dir.path + "/registry.db")) << "the file changed";
    }
}

TEST_F(RegistryProcesses, AFileLockedTooLongRefusesWritesButNotReads) {
    HKEY key = CreateKey(kMachine, "Software\\Locked"), made = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "v", "before"));
    zvp::reg::SetBusyTimeoutForTesting(200);
    zvtest::Child holder("RegistryLockHolder", path_);
    std::string line;
    ASSERT_TRUE(holder.ReadLine(&line, 60000) && line == "locked");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ERROR_BUSY, SetString(key, "v", "during"));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    EXPECT_EQ(ERROR_BUSY, RegCreateKeyExA(key, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                          &made, nullptr));
    EXPECT_EQ(ERROR_BUSY, RegDeleteKeyA(kMachine, "Software\\Locked"));
    EXPECT_EQ("before", QueryString(key, "v"));
    holder.Kill(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, holder.Wait(30000));
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, "v", "after"));
    EXPECT_EQ(Strings{}, Subkeys(key));
    RegCloseKey(key);
}

TEST_F(RegistryProcesses, FilesThatAreNoUsableRegistryGiveErrorsAndStayAsTheyAre) {
    // A registry whose pages after the first are overwritten,
    HKEY key = CreateKey(kMachine, "Software\\Damaged");
    std::string bytes(65536, 'd');
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "v", 0, REG_BINARY,
                                            reinterpret_cast<const BYTE*>(bytes.data()), 65536));
    RegCloseKey(key);
    UseRegistry(":memory:");  // closing it folds the log back
    ASSERT_FALSE(fs::exists(path_ + "-wal"));
    bytes = ReadFile(path_);
    for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = char(0x5A ^ (i * 13));
    std::ofstream(path_, std::ios::binary) << bytes;
    // another program's database, text, bytes, and a directory.
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(dir_.file("foreign.db").c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "CREATE TABLE notes(text)", nullptr, nullptr, nullptr));
    sqlite3_close(db);
    std::ofstream(dir_.file("text.db")) << "this is not a database\n";
    std::ofstream(dir_.file("bytes.db")) << bytes.substr(4096);
    const std::pair<std::string, LSTATUS> files[] = {
        {path_, ERROR_REGISTRY_CORRUPT}, {dir_.file("foreign.db"), ERROR_BADDB},
        {dir_.file("text.db"), ERROR_BADDB}, {dir_.file("bytes.db"), ERROR_BADDB},
        {dir_.path(), ERROR_CANTOPEN}};
    for (const auto& file : files) {
        std::string before = ReadFile(file.first);
        UseRegistry(file.first);
        EXPECT_EQ(file.second, OpenKey(kMachine, "Software\\Damaged", &key)) << file.first;
        EXPECT_EQ(file.second, SetString(kMachine, "v", "x")) << file.first;
        EXPECT_EQ(file.second, RegDeleteKeyA(HKEY_CLASSES_ROOT, "x")) << file.first;
        EXPECT_TRUE(before == ReadFile(file.first)) << file.first;
        EXPECT_FALSE(fs::exists(file.first + "-wal")) << file.first;
    }
}

TEST(RegistryLocation, TheFileAndItsDirectoriesAreMadeOnFirstUse) {
    zvtest::TempDir dir;
    // XDG_DATA_HOME first (a directory only its user may enter),
    unsetenv("ZV_REGISTRY");
    setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    zvp::reg::ReopenForTesting();
    EXPECT_EQ(ERROR_SUCCESS, SetString(kMachine, "v", "x"));
    EXPECT_EQ(fs::perms::owner_all, fs::status(dir.file("data/zv")).permissions());
    EXPECT_TRUE(fs::exists(dir.file("data/zv/registry.db")));
    // then HOME (an empty ZV_REGISTRY counts as unset),
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", dir.file("home").c_str(), 1);
    UseRegistry("");
    EXPECT_EQ(ERROR_SUCCESS, SetString(kMachine, "v", "x"));
    EXPECT_TRUE(fs::exists(dir.file("home/.local/share/zv/registry.db")));
    // and ZV_REGISTRY, with its directories made too.
    UseRegistry(dir.file("a/b/reg.db"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(kMachine, "v", "x"));
    EXPECT_TRUE(fs::exists(dir.file("a/b/reg.db")));
}

}  // namespace
