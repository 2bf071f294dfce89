// registry_volatile.cpp - the database of the volatile keys.
//
// The emulated machine restarts when the host boots: the volatile database
// is a file on a memory file system ($XDG_RUNTIME_DIR, else /dev/shm), gone
// after a boot, and it carries the boot id it was made in, so that a file
// that outlived a boot (a runtime directory on a disk) is emptied too.  It
// also carries the identity of its store's file (device, inode, birth
// time), so that a new store that reuses the name and inode of a deleted
// one does not inherit keys hung under the old one's ids.
#include "platform/posix/registry_volatile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace zvp {
namespace reg {
namespace {

// The host's boot: its boot id, else its boot time.
std::string BootStamp() {
    std::ifstream bootId("/proc/sys/kernel/random/boot_id");
    std::string line;
    if (std::getline(bootId, line) && !line.empty()) return line;
    std::ifstream stat("/proc/stat");
    while (std::getline(stat, line))
        if (line.compare(0, 6, "btime ") == 0) return line;
    return "unknown boot";
}

// The store file's identity; its birth time where the file system keeps one.
std::string FileStamp(const std::string& path) {
    struct statx info;
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &info) != 0) return "";
    char text[96];
    snprintf(text, sizeof(text), "%x:%x:%llx:%llx.%x", info.stx_dev_major, info.stx_dev_minor,
             static_cast<unsigned long long>(info.stx_ino),
             (info.stx_mask & STATX_BTIME) ? static_cast<long long>(info.stx_btime.tv_sec) : 0LL,
             (info.stx_mask & STATX_BTIME) ? info.stx_btime.tv_nsec : 0u);
    return text;
}

// A directory of this user alone on a memory file system, or "".
std::string PrivateDirectory() {
    const char* runtime = getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && runtime[0] == '/' ? runtime : "/dev/shm";
    std::string directory = base + "/zv-" + std::to_string(geteuid());
    if (mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) return "";
    struct stat info;
    // Made by someone else, or open to others: not a place for this user's keys.
    if (lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != geteuid() || (info.st_mode & 077) != 0)
        return "";
    return directory;
}

std::string VolatilePath(const std::string& storePath) {
    std::string directory = PrivateDirectory();
    struct stat info;
    if (directory.empty() || stat(storePath.c_str(), &info) != 0) return ":memory:";
    char name[64];
    snprintf(name, sizeof(name), "/registry-%llx-%llx.vol",
             static_cast<unsigned long long>(info.st_dev),
             static_cast<unsigned long long>(info.st_ino));
    return directory + name;
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

int Attach(sqlite3* db, const std::string& path) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, "ATTACH DATABASE ?1 AS vol", -1, &statement, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_bind_text(statement, 1, path.c_str(), -1, SQLITE_TRANSIENT);
        rc = sqlite3_step(statement);
        if (rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return rc;
}

// Inside the set-up transaction: empties the database when its stamp is
// not this boot's and this store's, and starts its ids at kVolatileBase.
int Restamp(sqlite3* db, const std::string& stamp) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT text FROM vol.stamp", -1, &statement, nullptr);
    if (rc != SQLITE_OK) return rc;
    rc = sqlite3_step(statement);
    bool found = rc == SQLITE_ROW;
    bool same = found && stamp == reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    sqlite3_finalize(statement);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return rc;
    if (same) return SQLITE_OK;
    std::string sql = "DELETE FROM vol.vals; DELETE FROM vol.keys; DELETE FROM vol.stamp;";
    // Ids keep rising across restarts, so none is ever given twice.
    sql += "INSERT INTO vol.sqlite_sequence(name, seq) SELECT 'keys', " +
           std::to_string(kVolatileBase) +
           " WHERE NOT EXISTS (SELECT 1 FROM vol.sqlite_sequence WHERE name = 'keys');";
    char* quoted = sqlite3_mprintf("INSERT INTO vol.stamp VALUES(%Q);", stamp.c_str());
    if (!quoted) return SQLITE_NOMEM;
    sql += quoted;
    sqlite3_free(quoted);
    return Exec(db, sql.c_str());
}

int SetUp(sqlite3* db, const std::string& stamp, bool file) {
    int rc = SQLITE_OK;
    // Nothing to keep through a crash of the machine: no flushes.
    if (file) rc = Exec(db, "PRAGMA vol.journal_mode = WAL; PRAGMA vol.synchronous = OFF");
    if (rc == SQLITE_OK) rc = Exec(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return rc;
    rc = Exec(db, (KeyTablesSql("vol") + "CREATE TABLE IF NOT EXISTS vol.stamp(text TEXT NOT NULL);").c_str());
    if (rc == SQLITE_OK) rc = Restamp(db, stamp);
    if (rc == SQLITE_OK) rc = Exec(db, "COMMIT");
    if (rc != SQLITE_OK && !sqlite3_get_autocommit(db)) Exec(db, "ROLLBACK");
    return rc;
}

}  // namespace

int AttachVolatile(sqlite3* db, const std::string& storePath, bool memory, bool readOnly) {
    std::string stamp = BootStamp() + "|" + (memory ? "" : FileStamp(storePath));
    std::string path = memory || readOnly ? ":memory:" : VolatilePath(storePath);
    int rc = Attach(db, path);
    // Two processes that meet a new file both try to set it up; SQLite
    // fails one of them at once (a deadlock, to it) rather than wait.
    for (int attempt = 0; rc == SQLITE_OK; ++attempt) {
        rc = SetUp(db, stamp, path != ":memory:");
        if ((rc & 0xFF) != SQLITE_BUSY || attempt == 200) break;
        usleep(5000);
        rc = SQLITE_OK;
    }
    if (rc == SQLITE_OK || path == ":memory:") return rc;
    // The shared file cannot be used: this process keeps its volatile keys
    // to itself rather than fail every registry call.
    Exec(db, "DETACH DATABASE vol");
    rc = Attach(db, ":memory:");
    return rc == SQLITE_OK ? SetUp(db, stamp, false) : rc;
}

std::string VolatileSql(const char* sql) {
    std::string text = sql;
    for (const char* table : {"keys", "vals"}) {
        for (const char* verb : {"FROM ", "INTO ", "JOIN "}) {
            std::string from = std::string(verb) + table;
            std::string to = std::string(verb) + "vol." + table;
            for (size_t at = text.find(from); at != std::string::npos;
                 at = text.find(from, at + to.size())) {
                char next = at + from.size() < text.size() ? text[at + from.size()] : ' ';
                if (next == ' ' || next == '(') text.replace(at, from.size(), to);
            }
        }
    }
    return text;
}

std::string VolatilePathForTesting(const std::string& storePath) { return VolatilePath(storePath); }

}  // namespace reg
}  // namespace zvp
