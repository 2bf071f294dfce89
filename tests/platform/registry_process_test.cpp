// The registry file shared between processes: persistence, concurrent
// writers, a writer killed mid-way, deletions seen by other processes, a
// file that may only be read, a locked file, and files that are not a
// registry.  Every test works on a file of its own.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "child.h"
#include "registry_util.h"
#include "support.h"
#include "zv.h"

using regtest::CreateKey;
using regtest::KeyExists;
using regtest::OpenKey;
using regtest::QueryString;
using regtest::SetString;
using regtest::Subkeys;
using regtest::ValueNames;

namespace {

std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields;
    std::stringstream in(text);
    std::string field;
    while (std::getline(in, field, '|')) fields.push_back(field);
    return fields;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// ---- Roles run by child processes -----------------------------------------

// Writes count values named prefix<i> under a key: "path|count|prefix".
ZVTEST_CHILD_ROLE(RegistryWriter) {
    std::vector<std::string> f = Fields(argument);
    HKEY key;
    LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, f[0].c_str(), 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        zvtest::Report(reportFd, "create failed " + std::to_string(status));
        return 2;
    }
    int count = atoi(f[1].c_str()), written = 0;
    for (int i = 0; i < count; ++i) {
        std::string name = f[2] + std::to_string(i);
        status = SetString(key, name.c_str(), f[2] + "data" + std::to_string(i));
        if (status == ERROR_SUCCESS)
            ++written;
        else
            zvtest::Report(reportFd, "failed " + name + " " + std::to_string(status));
    }
    RegCloseKey(key);
    zvtest::Report(reportFd, "done " + std::to_string(written));
    return written == count ? 0 : 1;
}

// Reports a value: "path|name".
ZVTEST_CHILD_ROLE(RegistryReader) {
    std::vector<std::string> f = Fields(argument);
    HKEY key;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, f[0].c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        std::string value = QueryString(key, f[1].c_str(), &status);
        RegCloseKey(key);
        if (status == ERROR_SUCCESS) {
            zvtest::Report(reportFd, "value " + value);
            return 0;
        }
    }
    zvtest::Report(reportFd, "error " + std::to_string(status));
    return 1;
}

// Makes keys and values until it is killed, reporting each one done.
ZVTEST_CHILD_ROLE(RegistryKilledWriter) {
    for (int i = atoi(argument.c_str());; ++i) {
        std::string data = std::to_string(i);
        std::string path = "Software\\Kill\\K" + data + "\\Sub\\Leaf";
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return 2;
        LSTATUS status = SetString(key, "v", data);
        RegCloseKey(key);
        if (status != ERROR_SUCCESS) return 3;
        zvtest::Report(reportFd, data);
    }
}

// "delete|path", or "recreate|path|value" (deletes, then makes the key
// again with v = value).
ZVTEST_CHILD_ROLE(RegistryDeleter) {
    std::vector<std::string> f = Fields(argument);
    LSTATUS status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, f[1].c_str());
    if (status == ERROR_SUCCESS && f[0] == "recreate") {
        HKEY key;
        status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, f[1].c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr);
        if (status == ERROR_SUCCESS) {
            status = SetString(key, "v", f[2]);
            RegCloseKey(key);
        }
    }
    zvtest::Report(reportFd, "status " + std::to_string(status));
    return status == ERROR_SUCCESS ? 0 : 1;
}

// Stands for a deleter that died after counting its deletion begun and
// before counting it done (the counts file is two 64-bit counters).
ZVTEST_CHILD_ROLE(RegistryDeadDeleter) {
    (void)reportFd;
    int fd = open(argument.c_str(), O_RDWR);
    if (fd < 0) return 2;
    void* map = mmap(nullptr, 16, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (map == MAP_FAILED) return 3;
    __atomic_fetch_add(static_cast<uint64_t*>(map), 1, __ATOMIC_SEQ_CST);
    return 0;
}

// Holds the write lock of a registry file until it is killed.
ZVTEST_CHILD_ROLE(RegistryLockHolder) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argument.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return 2;
    sqlite3_busy_timeout(db, 10000);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) return 3;
    zvtest::Report(reportFd, "locked");
    for (;;) pause();
}

// Checks, as a user who may only read the file, that reads work and every
// write is refused: "path|count" of what RegistryWriter left there.
ZVTEST_CHILD_ROLE(RegistryReadOnlyChecker) {
    if (geteuid() == 0) {
        // Root may write any file: become nobody.
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
            zvtest::Report(reportFd, "cannot become nobody");
            return 90;
        }
    }
    ZVInit();
    std::vector<std::string> f = Fields(argument);
    int count = atoi(f[1].c_str());
    int failures = 0;
    auto check = [&](bool ok, const std::string& what) {
        if (ok) return;
        ++failures;
        zvtest::Report(reportFd, "failed: " + what);
    };
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, f[0].c_str(), 0, KEY_READ, &key);
    check(status == ERROR_SUCCESS, "open for reading " + std::to_string(status));
    check(QueryString(key, "p0") == "pdata0", "read p0");
    check(ValueNames(key).size() == size_t(count), "enumerate values");
    check(SetString(key, "p0", "x") == ERROR_ACCESS_DENIED, "set through the read handle");
    check(SetString(HKEY_LOCAL_MACHINE, "top", "x") == ERROR_ACCESS_DENIED,
          "set through a predefined key");
    HKEY other = nullptr;
    check(RegOpenKeyExA(HKEY_LOCAL_MACHINE, f[0].c_str(), 0, KEY_ALL_ACCESS, &other) ==
              ERROR_ACCESS_DENIED,
          "open for writing");
    check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, f[0].c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &other, nullptr) == ERROR_ACCESS_DENIED,
          "create an existing key for writing");
    DWORD disposition = 0;
    status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, f[0].c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                             &other, &disposition);
    check(status == ERROR_SUCCESS && disposition == REG_OPENED_EXISTING_KEY,
          "create an existing key for reading");
    if (status == ERROR_SUCCESS) RegCloseKey(other);
    check(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Fresh", 0, nullptr, 0, KEY_READ, nullptr,
                          &other, nullptr) == ERROR_ACCESS_DENIED,
          "create a new key");
    check(RegDeleteKeyA(HKEY_LOCAL_MACHINE, f[0].c_str()) == ERROR_ACCESS_DENIED, "delete");

    std::u16string path = zvtest::W(f[0].c_str());
    check(ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), u"p0", u"x") == E_FAIL,
          "ZVAddRegistryEntry");
    check(ZVDeleteRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str()) == E_FAIL,
          "ZVDeleteRegistryEntry");
    ZVWCHAR buffer[256];
    check(ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, path.c_str(), u"p1", buffer) == S_OK &&
              std::u16string(buffer) == u"pdata1",
          "ZVGetRegistryEntry");
    check(QueryString(key, "p0") == "pdata0", "p0 unchanged");
    check(!KeyExists(HKEY_LOCAL_MACHINE, "Software\\Fresh"), "no new key");
    RegCloseKey(key);
    zvtest::Report(reportFd, "checked " + std::to_string(failures));
    return failures;
}

// ---- Tests -------------------------------------------------------------------

class RegistryProcesses : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.file("registry.db");
        regtest::UseRegistry(path_);
    }
    zvtest::TempDir dir_;
    std::string path_;
};

// A directory in memory when the machine has one: the tests that make
// thousands of commits then measure locking and atomicity rather than how
// long the disk takes to flush each commit.
class MemoryDir {
  public:
    MemoryDir() {
        std::string pattern = "/dev/shm/zvtest-XXXXXX";
        if (access("/dev/shm", W_OK) == 0 && mkdtemp(&pattern[0])) path_ = pattern;
    }
    ~MemoryDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    // The file in memory, or the fallback when there is no such directory.
    std::string file(const std::string& name, const std::string& fallback) const {
        return path_.empty() ? fallback : path_ + "/" + name;
    }

  private:
    std::string path_;
};

void WriteConcurrently(const std::string& file, int each) {
    std::vector<std::string> environment = {"ZV_REGISTRY=" + file};
    std::string count = std::to_string(each);
    zvtest::Child first("RegistryWriter", "Software\\Stress|" + count + "|a", environment);
    zvtest::Child second("RegistryWriter", "Software\\Stress|" + count + "|b", environment);
    std::string line;
    EXPECT_TRUE(first.ReadLine(&line, 240000));
    EXPECT_EQ("done " + count, line);
    EXPECT_TRUE(second.ReadLine(&line, 240000));
    EXPECT_EQ("done " + count, line);
    EXPECT_EQ(0, first.Wait(60000));
    EXPECT_EQ(0, second.Wait(60000));

    regtest::UseRegistry(file);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Stress", &key));
    for (const char* prefix : {"a", "b"}) {
        for (int i = 0; i < each; ++i) {
            std::string name = prefix + std::to_string(i);
            ASSERT_EQ(prefix + std::string("data") + std::to_string(i),
                      QueryString(key, name.c_str()));
        }
    }
    // Exactly these values: the last index is 2 * each - 1.
    char name[32];
    DWORD length = sizeof(name);
    EXPECT_EQ(ERROR_SUCCESS, RegEnumValueA(key, 2 * each - 1, name, &length, nullptr, nullptr,
                                           nullptr, nullptr));
    length = sizeof(name);
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumValueA(key, 2 * each, name, &length, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(key);
}

TEST_F(RegistryProcesses, WhatOneProcessWritesAnotherReads) {
    HKEY parent = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Persist");
    ASSERT_EQ(ERROR_SUCCESS, SetString(parent, "fromParent", "hello"));

    zvtest::Child writer("RegistryWriter", "Software\\Persist\\Child|20|c");
    std::string line;
    ASSERT_TRUE(writer.ReadLine(&line, 60000));
    EXPECT_EQ("done 20", line);
    EXPECT_EQ(0, writer.Wait(60000));
    // Seen through a key opened before the child wrote, and through new ones.
    EXPECT_EQ(std::vector<std::string>{"Child"}, Subkeys(parent));
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Persist\\Child", &child));
    std::vector<std::string> names = ValueNames(child);
    ASSERT_EQ(20u, names.size());
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ("c" + std::to_string(i), names[i]);
        EXPECT_EQ("cdata" + std::to_string(i), QueryString(child, names[i].c_str()));
    }
    RegCloseKey(child);
    RegCloseKey(parent);

    // The other way round: a new process reads what this one wrote.
    zvtest::Child reader("RegistryReader", "Software\\Persist|fromParent");
    ASSERT_TRUE(reader.ReadLine(&line, 60000));
    EXPECT_EQ("value hello", line);
    EXPECT_EQ(0, reader.Wait(60000));

    // And the file holds it all once nobody has it open.
    regtest::UseRegistry(":memory:");
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Persist"));
    EXPECT_FALSE(FileExists(path_ + "-wal"));
    regtest::UseRegistry(path_);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Persist\\Child"));
}

TEST_F(RegistryProcesses, TwoWritersAtOnceLoseNothing) {
    MemoryDir memory;
    WriteConcurrently(memory.file("registry.db", path_), 5000);
}

// On the disk every commit waits for the flush, so a writer holds the lock
// nearly all the time: the other must still get its turns.
TEST_F(RegistryProcesses, TwoWritersOnDiskBothGetTheirTurns) {
    WriteConcurrently(dir_.file("disk.db"), 400);
}

TEST_F(RegistryProcesses, AWriterKilledMidWayLeavesAConsistentFileWithEverythingItReported) {
    MemoryDir memory;
    path_ = memory.file("registry.db", path_);
    regtest::UseRegistry(path_);
    std::set<int> reported;
    int start = 0;
    for (int want : {40, 107, 173}) {
        zvtest::Child writer("RegistryKilledWriter", std::to_string(start),
                             {"ZV_REGISTRY=" + path_});
        int got = 0;
        std::string line;
        while (got < want && writer.ReadLine(&line, 60000)) {
            reported.insert(atoi(line.c_str()));
            ++got;
        }
        ASSERT_EQ(want, got);
        writer.Kill(SIGKILL);
        // What it reported before it died counts too.
        while (writer.ReadLine(&line, 10000)) reported.insert(atoi(line.c_str()));
        EXPECT_EQ(128 + SIGKILL, writer.Wait(30000));
        start += 100000;
    }

    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr));
    sqlite3_stmt* check = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr));
    ASSERT_EQ(SQLITE_ROW, sqlite3_step(check));
    EXPECT_STREQ("ok", reinterpret_cast<const char*>(sqlite3_column_text(check, 0)));
    sqlite3_finalize(check);
    sqlite3_close(db);

    for (int i : reported) {
        HKEY key = nullptr;
        std::string path = "Software\\Kill\\K" + std::to_string(i) + "\\Sub\\Leaf";
        ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, path, &key)) << path;
        EXPECT_EQ(std::to_string(i), QueryString(key, "v")) << path;
        RegCloseKey(key);
    }
    // A key is made whole or not at all: every K has its Sub\Leaf.
    HKEY kill = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Kill", &kill));
    std::vector<std::string> made = Subkeys(kill);
    EXPECT_GE(made.size(), reported.size());
    for (const std::string& name : made) EXPECT_TRUE(KeyExists(kill, name + "\\Sub\\Leaf")) << name;
    RegCloseKey(kill);
}

TEST_F(RegistryProcesses, KeysDeletedByAnotherProcessAreNotAnsweredFromMemory) {
    const std::string path = "Software\\Cache\\Victim";
    HKEY victim = CreateKey(HKEY_LOCAL_MACHINE, path);
    ASSERT_EQ(ERROR_SUCCESS, SetString(victim, "v", "1"));
    for (int i = 0; i < 3; ++i) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, path, &key));
        RegCloseKey(key);
    }

    zvtest::Child recreate("RegistryDeleter", "recreate|" + path + "|2");
    ASSERT_EQ(0, recreate.Wait(60000));
    LSTATUS status;
    QueryString(victim, "v", &status);
    EXPECT_EQ(ERROR_KEY_DELETED, status);
    HKEY again = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, path, &again));
    EXPECT_EQ("2", QueryString(again, "v"));
    RegCloseKey(again);
    HKEY parent = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, OpenKey(HKEY_LOCAL_MACHINE, "Software\\Cache", &parent));

    zvtest::Child remove("RegistryDeleter", "delete|" + path);
    ASSERT_EQ(0, remove.Wait(60000));
    HKEY gone = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(HKEY_LOCAL_MACHINE, path, &gone));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenKey(parent, "Victim", &gone));
    DWORD disposition = 0;
    HKEY made = CreateKey(HKEY_LOCAL_MACHINE, path, &disposition);
    EXPECT_EQ(DWORD(REG_CREATED_NEW_KEY), disposition);
    for (HKEY key : {victim, parent, made}) RegCloseKey(key);
}

TEST_F(RegistryProcesses, ADeleterThatDiedBetweenItsCountsIsRecoveredFrom) {
    RegCloseKey(CreateKey(HKEY_LOCAL_MACHINE, "Software\\Dead"));
    std::string counts = path_ + "-gen";
    auto read = [&](uint64_t* begun, uint64_t* done) {
        uint64_t both[2] = {};
        int fd = open(counts.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ssize_t(sizeof(both)), pread(fd, both, sizeof(both), 0));
        close(fd);
        *begun = both[0];
        *done = both[1];
    };
    zvtest::Child dead("RegistryDeadDeleter", counts);
    ASSERT_EQ(0, dead.Wait(60000));
    uint64_t begun = 0, done = 0;
    read(&begun, &done);
    EXPECT_EQ(done + 1, begun);

    // The next lookup finds no deleter at work and settles the counts.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Dead"));
    read(&begun, &done);
    EXPECT_EQ(done, begun);
    // Lookups are learnt again, and still forgotten when another process deletes.
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Dead"));
    zvtest::Child remove("RegistryDeleter", "delete|Software\\Dead");
    ASSERT_EQ(0, remove.Wait(60000));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Dead"));
}

TEST_F(RegistryProcesses, AForkedChildOpensAConnectionOfItsOwn) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Fork");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "parent", "1"));
    pid_t pid = fork();
    if (pid == 0) {
        // Handles are inherited with the process; the store is not.
        bool ok = SetString(key, "child", "2") == ERROR_SUCCESS;
        HKEY other = nullptr;
        ok = ok && OpenKey(HKEY_LOCAL_MACHINE, "Software\\Fork", &other) == ERROR_SUCCESS &&
             QueryString(other, "parent") == "1";
        zvp::reg::ReopenForTesting();  // closes the child's own connection
        _exit(ok ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("2", QueryString(key, "child"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, "after", "3"));
    EXPECT_EQ((std::vector<std::string>{"parent", "child", "after"}), ValueNames(key));
    RegCloseKey(key);
    // The parent's connection still works as before, and the file is sound.
    regtest::UseRegistry(path_);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Fork"));
}

// A directory that the checker can reach also after it has become nobody.
class SharedTempDir {
  public:
    SharedTempDir() {
        std::string pattern = "/tmp/zvtest-ro-XXXXXX";
        if (mkdtemp(&pattern[0])) path_ = pattern;
    }
    ~SharedTempDir() {
        if (path_.empty()) return;
        chmod(path_.c_str(), 0755);
        std::filesystem::remove_all(path_);
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

void CheckReadOnly(bool directoryWritable) {
    SCOPED_TRACE(directoryWritable ? "directory writable" : "directory read-only");
    SharedTempDir dir;
    ASSERT_FALSE(dir.path().empty());
    ASSERT_EQ(0, chmod(dir.path().c_str(), 0755));
    std::string file = dir.path() + "/registry.db";
    std::vector<std::string> environment = {"ZV_REGISTRY=" + file};
    {
        zvtest::Child writer("RegistryWriter", "Software\\RO|10|p", environment);
        ASSERT_EQ(0, writer.Wait(60000));
    }
    std::string before = ReadFile(file);
    ASSERT_FALSE(before.empty());
    ASSERT_EQ(0, chmod(file.c_str(), 0444));
    ASSERT_EQ(0, chmod(dir.path().c_str(), directoryWritable ? 0777 : 0555));

    zvtest::Child checker("RegistryReadOnlyChecker", "Software\\RO|10", environment);
    std::string line, lines;
    while (checker.ReadLine(&line, 60000)) lines += line + "\n";
    int status = checker.Wait(60000);
    if (lines.find("cannot become nobody") != std::string::npos)
        GTEST_SKIP() << "running as root without the right to change user";
    EXPECT_EQ(0, status) << lines;
    EXPECT_NE(std::string::npos, lines.find("checked 0")) << lines;
    EXPECT_TRUE(before == ReadFile(file)) << "the file changed";
}

TEST(RegistryReadOnly, ReadsWorkAndEveryWriteIsRefused) {
    CheckReadOnly(true);
    CheckReadOnly(false);
}

TEST_F(RegistryProcesses, AFileLockedTooLongRefusesWritesButNotReads) {
    HKEY key = CreateKey(HKEY_LOCAL_MACHINE, "Software\\Locked");
    ASSERT_EQ(ERROR_SUCCESS, SetString(key, "v", "before"));
    zvp::reg::SetBusyTimeoutForTesting(200);

    zvtest::Child holder("RegistryLockHolder", path_);
    std::string line;
    ASSERT_TRUE(holder.ReadLine(&line, 60000));
    ASSERT_EQ("locked", line);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(ERROR_BUSY, SetString(key, "v", "during"));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(150));
    HKEY fresh = nullptr;
    EXPECT_EQ(ERROR_BUSY, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Locked\\New", 0, nullptr,
                                          0, KEY_ALL_ACCESS, nullptr, &fresh, nullptr));
    EXPECT_EQ(ERROR_BUSY, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Locked"));
    EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Locked", u"v", u"zv"));
    EXPECT_EQ("before", QueryString(key, "v"));
    ZVWCHAR buffer[256];
    EXPECT_EQ(S_OK, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Locked", u"v", buffer));

    holder.Kill(SIGKILL);
    EXPECT_EQ(128 + SIGKILL, holder.Wait(30000));
    EXPECT_EQ(ERROR_SUCCESS, SetString(key, "v", "after"));
    EXPECT_EQ("after", QueryString(key, "v"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Locked\\New"));
    RegCloseKey(key);
}

TEST_F(RegistryProcesses, AFileThatIsNotARegistryIsNeitherUsedNorChanged) {
    std::string garbage;
    for (int i = 0; i < 16384; ++i) garbage += char(i * 31 + 7);
    std::string foreign = dir_.file("foreign.db");
    sqlite3* db = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(foreign.c_str(), &db));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(db, "CREATE TABLE notes(text); INSERT INTO notes VALUES('x')",
                                      nullptr, nullptr, nullptr));
    sqlite3_close(db);

    struct Case {
        std::string name;
        std::string path;
    } cases[] = {{"garbage", dir_.file("garbage.db")},
                 {"text", dir_.file("text.db")},
                 {"another program's database", foreign}};
    WriteFile(cases[0].path, garbage);
    WriteFile(cases[1].path, "this is not a database\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string before = ReadFile(c.path);
        regtest::UseRegistry(c.path);
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_BADDB, OpenKey(HKEY_LOCAL_MACHINE, "Software", &key));
        EXPECT_EQ(ERROR_BADDB, RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\X", 0, nullptr, 0,
                                               KEY_ALL_ACCESS, nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_BADDB, SetString(HKEY_LOCAL_MACHINE, "v", "x"));
        EXPECT_EQ(ERROR_BADDB, RegDeleteKeyA(HKEY_CLASSES_ROOT, "x"));
        EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software", u"v", u"x"));
        ZVWCHAR buffer[256];
        EXPECT_EQ(E_FAIL, ZVGetRegistryEntry(HKEY_LOCAL_MACHINE, u"Software", u"v", buffer));
        EXPECT_TRUE(before == ReadFile(c.path));
        EXPECT_FALSE(FileExists(c.path + "-gen"));
        EXPECT_FALSE(FileExists(c.path + "-wal"));
    }
}

TEST_F(RegistryProcesses, ADamagedRegistryGivesErrorsNotCrashes) {
    {
        zvtest::Child writer("RegistryWriter", "Software\\Damaged|400|d");
        ASSERT_EQ(0, writer.Wait(120000));
    }
    ASSERT_FALSE(FileExists(path_ + "-wal"));
    // Keep the header and schema page, overwrite every page after it.
    std::string bytes = ReadFile(path_);
    ASSERT_GT(bytes.size(), 8192u);
    for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = char(0x5A ^ (i * 13));
    WriteFile(path_, bytes);

    regtest::UseRegistry(path_);
    for (int attempt = 0; attempt < 2; ++attempt) {
        HKEY key = nullptr;
        LSTATUS status = OpenKey(HKEY_LOCAL_MACHINE, "Software\\Damaged", &key);
        EXPECT_TRUE(status == ERROR_REGISTRY_CORRUPT || status == ERROR_BADDB) << status;
        status = SetString(HKEY_LOCAL_MACHINE, "v", "x");
        EXPECT_TRUE(status == ERROR_REGISTRY_CORRUPT || status == ERROR_BADDB) << status;
        EXPECT_EQ(E_FAIL, ZVAddRegistryEntry(HKEY_LOCAL_MACHINE, u"Software\\Damaged", u"v", u"x"));
    }
}

TEST(RegistryLocation, TheFileAndItsDirectoriesAreMadeOnFirstUse) {
    zvtest::TempDir dir;
    // XDG_DATA_HOME first,
    unsetenv("ZV_REGISTRY");
    setenv("XDG_DATA_HOME", dir.file("data").c_str(), 1);
    zvp::reg::ReopenForTesting();
    EXPECT_EQ(dir.file("data") + "/zv/registry.db", zvp::reg::StorePathForTesting());
    EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, "v", "x"));
    EXPECT_TRUE(FileExists(dir.file("data") + "/zv/registry.db"));
    struct stat info;
    ASSERT_EQ(0, stat((dir.file("data") + "/zv").c_str(), &info));
    EXPECT_EQ(0700u, info.st_mode & 0777);
    // then HOME (an empty ZV_REGISTRY counts as unset),
    setenv("ZV_REGISTRY", "", 1);
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", dir.file("home").c_str(), 1);
    zvp::reg::ReopenForTesting();
    EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, "v", "x"));
    EXPECT_TRUE(FileExists(dir.file("home") + "/.local/share/zv/registry.db"));
    // and ZV_REGISTRY, with its directories made too.
    regtest::UseRegistry(dir.file("a/b/c/reg.db"));
    EXPECT_EQ(ERROR_SUCCESS, SetString(HKEY_LOCAL_MACHINE, "v", "x"));
    EXPECT_TRUE(FileExists(dir.file("a/b/c/reg.db")));
    // A path that cannot be a file is an error, not a crash.
    regtest::UseRegistry(dir.path());
    EXPECT_EQ(ERROR_CANTOPEN, SetString(HKEY_LOCAL_MACHINE, "v", "x"));
}

}  // namespace
