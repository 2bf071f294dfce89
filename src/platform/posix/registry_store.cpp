// registry_store.cpp - the registry store on an SQLite database.
//
// One connection per process, behind one lock, with its statements
// prepared once.  WAL journal with synchronous=FULL: a write that has been
// reported done is on stable storage, and a process killed at any moment
// leaves the file consistent.  Every call that writes is one transaction.
// docs/registry-store.md has the schema and the reasons.
#include "platform/posix/registry_store.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/posix/fork.h"
#include "platform/posix/handles.h"
#include "platform/posix/registry_volatile.h"

namespace zvp {
namespace reg {
namespace {

constexpr int64_t kApplicationId = 0x5A565247;  // "ZVRG" in the file header
constexpr int64_t kSchemaVersion = 1;
constexpr int kDefaultBusyMilliseconds = 10000;
constexpr KeyId kLocalMachineId = 1;
constexpr KeyId kUsersId = 2;
constexpr int kProtectedKey = 1;  // keys.flags: a root or view root, never deleted
constexpr size_t kCacheLimit = 16384;

// The roots of a new file.  The volatile database has the same tables.
const char kRoots[] =
    "INSERT INTO keys(id, parent, fold, name, flags) VALUES"
    " (1, 0, x'01', 'HKEY_LOCAL_MACHINE', 1), (2, 0, x'02', 'HKEY_USERS', 1);";

enum StatementId {
    kBegin,
    kBeginWrite,
    kCommit,
    kRollback,
    kChild,
    kKeyFlags,
    kInsertKey,
    kHasChild,
    kSubtree,
    kDeleteValues,
    kDeleteKey,
    kQueryValue,
    kSetValue,
    kEnumKey,
    kEnumValue,
    kEnumKeyAt,
    kEnumKeyAfter,
    kEnumValueAt,
    kEnumValueAfter,
    kKeyDepth,
    kStatementCount
};

const char* const kStatementSql[kStatementCount] = {
    "BEGIN",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    // Lookups by parent see the volatile keys too (registry_volatile.h).
    "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"
    " UNION ALL SELECT id FROM vol.keys WHERE parent = ?1 AND fold = ?2",
    "SELECT flags FROM keys WHERE id = ?1",
    "INSERT INTO keys(parent, fold, name, flags) VALUES(?1, ?2, ?3, ?4)",
    "SELECT 1 FROM keys WHERE parent = ?1 UNION ALL SELECT 1 FROM vol.keys WHERE parent = ?1"
    " LIMIT 1",
    "WITH RECURSIVE sub(id, flags) AS (SELECT id, flags FROM keys WHERE id = ?1"
    " UNION ALL SELECT id, flags FROM vol.keys WHERE id = ?1"
    " UNION ALL SELECT keys.id, keys.flags FROM keys JOIN sub ON keys.parent = sub.id"
    " UNION ALL SELECT v.id, v.flags FROM vol.keys AS v JOIN sub ON v.parent = sub.id)"
    " SELECT id, flags FROM sub",
    "DELETE FROM vals WHERE key = ?1",
    "DELETE FROM keys WHERE id = ?1",
    // No row: the key is gone; a row of nulls: the value is missing.
    "SELECT vals.type, vals.data FROM keys LEFT JOIN vals ON vals.key = keys.id"
    " AND vals.fold = ?2 WHERE keys.id = ?1",
    // No row inserted or updated: the key is gone.  An existing value keeps
    // its place in the order and its first spelling.
    "INSERT INTO vals(key, fold, name, seq, type, data)"
    " SELECT ?1, ?2, ?3, IFNULL((SELECT MAX(seq) FROM vals WHERE key = ?1), 0) + 1, ?4, ?5"
    " FROM keys WHERE id = ?1"
    " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data",
    "SELECT name, fold FROM keys WHERE parent = ?1"
    " UNION ALL SELECT name, fold FROM vol.keys WHERE parent = ?1 ORDER BY 2 LIMIT 1 OFFSET ?2",
    "SELECT name, type, data, seq FROM vals WHERE key = ?1 ORDER BY seq LIMIT 1 OFFSET ?2",
    // The same rows found from a cursor: the remembered one or the next.
    "SELECT name, fold FROM keys WHERE parent = ?1 AND fold >= ?2"
    " UNION ALL SELECT name, fold FROM vol.keys WHERE parent = ?1 AND fold >= ?2"
    " ORDER BY 2 LIMIT 1",
    "SELECT name, fold FROM keys WHERE parent = ?1 AND fold > ?2"
    " UNION ALL SELECT name, fold FROM vol.keys WHERE parent = ?1 AND fold > ?2"
    " ORDER BY 2 LIMIT 1",
    "SELECT name, type, data, seq FROM vals WHERE key = ?1 AND seq >= ?2 ORDER BY seq LIMIT 1",
    "SELECT name, type, data, seq FROM vals WHERE key = ?1 AND seq > ?2 ORDER BY seq LIMIT 1",
    // Levels between a key and its root (0 for a root), through both
    // databases; bounded, in case a damaged file held a loop.
    "WITH RECURSIVE up(id, n) AS (SELECT parent, 0 FROM keys WHERE id = ?1"
    " UNION ALL SELECT parent, 0 FROM vol.keys WHERE id = ?1"
    " UNION ALL SELECT keys.parent, up.n + 1 FROM keys JOIN up ON keys.id = up.id"
    " WHERE up.n < 100000"
    " UNION ALL SELECT v.parent, up.n + 1 FROM vol.keys AS v JOIN up ON v.id = up.id"
    " WHERE up.n < 100000) SELECT max(n) FROM up",
};

// The statements on one key, which the volatile database has twins of.
bool OnOneKey(int id) {
    return id == kKeyFlags || id == kInsertKey || id == kDeleteValues || id == kDeleteKey ||
           id == kQueryValue || id == kSetValue || id == kEnumValue || id == kEnumValueAt ||
           id == kEnumValueAfter;
}

DWORD ErrorFromSqlite(int rc) {
    switch (rc & 0xFF) {
        case SQLITE_OK:
        case SQLITE_ROW:
        case SQLITE_DONE: return ERROR_SUCCESS;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
        case SQLITE_BUSY:
        case SQLITE_LOCKED: return ERROR_BUSY;
        case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_FULL: return ERROR_DISK_FULL;
        case SQLITE_TOOBIG: return ERROR_INVALID_PARAMETER;
        case SQLITE_NOTADB:
        case SQLITE_SCHEMA:
        case SQLITE_ERROR: return ERROR_BADDB;  // not our schema
        case SQLITE_CORRUPT:
        case SQLITE_CONSTRAINT: return ERROR_REGISTRY_CORRUPT;
        case SQLITE_CANTOPEN: return ERROR_CANTOPEN;
        default: return ERROR_REGISTRY_IO_FAILED;
    }
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// The first column of the first row (0 when there is none).
int QueryInt(sqlite3* db, const char* sql, int64_t* value) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    *value = 0;
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) *value = sqlite3_column_int64(statement, 0);
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return rc;
}

int QueryText(sqlite3* db, const char* sql, std::string* value) {
    sqlite3_stmt* statement = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    value->clear();
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(statement);
        if (rc == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            if (text) value->assign(reinterpret_cast<const char*>(text));
        }
        if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(statement);
    return rc;
}

DWORD ResolveStorePath(std::string* path) {
    const char* registry = getenv("ZV_REGISTRY");
    if (registry && *registry) {
        *path = registry;
        return ERROR_SUCCESS;
    }
    std::string base;
    const char* dataHome = getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = getenv("HOME");
        std::string fromPasswd;
        if (!home || home[0] != '/') {
            struct passwd entry;
            struct passwd* found = nullptr;
            char buffer[4096];
            if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found &&
                found->pw_dir && found->pw_dir[0] == '/')
                fromPasswd = found->pw_dir;
            if (fromPasswd.empty()) return ERROR_PATH_NOT_FOUND;
            home = fromPasswd.c_str();
        }
        base = std::string(home) + "/.local/share";
    }
    *path = base + "/zv/registry.db";
    return ERROR_SUCCESS;
}

DWORD MakeParentDirectories(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        std::string directory = path.substr(0, slash);
        if (mkdir(directory.c_str(), 0700) == 0 || errno == EEXIST) continue;
        int error = errno;
        struct stat info;
        if (stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            continue;  // read-only medium
        return error == EACCES || error == EPERM || error == EROFS ? DWORD(ERROR_ACCESS_DENIED)
                                                                   : DWORD(ERROR_CANTOPEN);
    }
    return ERROR_SUCCESS;
}

// SQLite could not make the log's shared-memory index (a read-only medium,
// a directory closed to this process): the file can still be read as it
// stands, unless a log beside it holds changes that reading it so would
// miss.  Then nobody can be writing it either: a writer needs the index.
bool NeedsSnapshot(int rc, const std::string& path) {
    if (rc != SQLITE_READONLY_DIRECTORY && rc != SQLITE_READONLY_CANTINIT &&
        (rc & 0xFF) != SQLITE_CANTOPEN)
        return false;
    struct stat info;
    return stat((path + "-wal").c_str(), &info) != 0 || info.st_size == 0;
}

// A file name as an SQLite URI path.
std::string UriPath(const std::string& path) {
    std::string out = "file:";
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char escaped[4];
            snprintf(escaped, sizeof(escaped), "%%%02X", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// Counts deletions of keys, in a small file beside the database that every
// process using it maps.  A process answers "which key is child X of key
// P" from memory only while no deletion has begun since it learnt the
// answer (ids are never reused and keys are never renamed, so nothing else
// makes such an answer wrong).  A deleter counts `begun` before its commit
// and `done` after it, holding a lock on the file in between; a reader
// learns answers only when the two counts agree, so every deletion that
// began before has committed and its snapshot shows it.  A deleter that
// died between the two leaves the counts apart: the first reader that gets
// the lock (no deleter holds it) sets them equal again.
struct DeletionCounts {
    uint64_t begun;
    uint64_t done;
};

class DeletionCounter {
  public:
    bool usable() const { return counts_ != nullptr; }
    bool writable() const { return writable_; }

    void OpenPrivate() {
        Close();
        local_ = DeletionCounts{0, 0};
        counts_ = &local_;
        writable_ = true;
    }

    // Read-write when this process may, else read-only.
    void OpenShared(const std::string& databasePath) {
        Close();
        std::string path = databasePath + "-gen";
        struct stat info;
        mode_t mode = 0644;
        if (stat(databasePath.c_str(), &info) == 0) mode = info.st_mode & 0666;
        bool readWrite = false;
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0) {
            readWrite = true;
            // Same permissions as the database, as SQLite gives its own
            // side files; only the owner may change them.
            if (fstat(fd, &info) == 0 && info.st_uid == geteuid()) fchmod(fd, mode);
            if (fstat(fd, &info) != 0 || (info.st_size < off_t(sizeof(DeletionCounts)) &&
                                          ftruncate(fd, sizeof(DeletionCounts)) != 0)) {
                close(fd);
                fd = -1;
                readWrite = false;
            }
        }
        if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return;
        if (fstat(fd, &info) != 0 || info.st_size < off_t(sizeof(DeletionCounts))) {
            close(fd);
            return;
        }
        void* map = mmap(nullptr, sizeof(DeletionCounts),
                         readWrite ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            close(fd);
            return;
        }
        fd_ = fd;
        counts_ = static_cast<DeletionCounts*>(map);
        shared_ = true;
        writable_ = readWrite;
    }

    // Forgets the counts; a forked child must not unlock its parent's file
    // lock, and an open file description shared with the parent keeps it.
    void Close() {
        if (shared_ && counts_) munmap(counts_, sizeof(DeletionCounts));
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        counts_ = nullptr;
        shared_ = false;
        writable_ = false;
    }

    // The begun count, and whether every begun deletion is done.
    bool Settled(uint64_t* begun) {
        if (!counts_) {
            *begun = 0;
            return false;
        }
        uint64_t b = __atomic_load_n(&counts_->begun, __ATOMIC_SEQ_CST);
        uint64_t d = __atomic_load_n(&counts_->done, __ATOMIC_SEQ_CST);
        if (b != d && shared_ && writable_ && LockWindow(false)) {
            // No deleter is between its two counts: the one that left them
            // apart is dead.
            b = __atomic_load_n(&counts_->begun, __ATOMIC_SEQ_CST);
            __atomic_store_n(&counts_->done, b, __ATOMIC_SEQ_CST);
            d = b;
            UnlockWindow();
        }
        *begun = b;
        return b == d;
    }

    // Called inside the deleting transaction, just before its commit.
    bool Enter() {
        if (!counts_ || !writable_) return false;
        if (shared_ && !LockWindow(true)) return false;
        __atomic_fetch_add(&counts_->begun, 1, __ATOMIC_SEQ_CST);
        return true;
    }

    // Called after the commit, whether it succeeded or not.
    void Leave() {
        __atomic_fetch_add(&counts_->done, 1, __ATOMIC_SEQ_CST);
        if (shared_) UnlockWindow();
    }

    // Serialises setting up a new file between processes: two that find
    // it empty must not both change its journal mode and create the
    // tables (SQLite would fail one of them as a deadlock).
    bool LockSetup() { return shared_ && writable_ && LockByte(kSetupByte, true); }
    void UnlockSetup() { UnlockByte(kSetupByte); }

  private:
    static constexpr off_t kWindowByte = 0;
    static constexpr off_t kSetupByte = 1;

    bool LockWindow(bool wait) { return LockByte(kWindowByte, wait); }
    void UnlockWindow() { UnlockByte(kWindowByte); }

    bool LockByte(off_t byte, bool wait) {
        for (;;) {
            if (SetByteLock(byte, F_WRLCK, wait ? F_OFD_SETLKW : F_OFD_SETLK)) return true;
            if (errno != EINTR) return false;
        }
    }

    void UnlockByte(off_t byte) { SetByteLock(byte, F_UNLCK, F_OFD_SETLK); }

    bool SetByteLock(off_t byte, short type, int command) {
        struct flock lock;
        memset(&lock, 0, sizeof(lock));
        lock.l_type = type;
        lock.l_whence = SEEK_SET;
        lock.l_start = byte;
        lock.l_len = 1;
        return fcntl(fd_, command, &lock) == 0;
    }

    int fd_ = -1;
    DeletionCounts* counts_ = nullptr;
    DeletionCounts local_{0, 0};
    bool shared_ = false;
    bool writable_ = false;
};

class Store;

// A transaction of the store's connection: rolled back unless committed.
class Transaction {
  public:
    explicit Transaction(Store& store) : store_(store) {}
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    DWORD Begin(bool write);
    DWORD Commit();

  private:
    Store& store_;
    bool open_ = false;
};

// Resets a kept statement when the step that used it is over.
class Use {
  public:
    explicit Use(sqlite3_stmt* statement) : statement_(statement) {}
    ~Use() { sqlite3_reset(statement_); }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* get() const { return statement_; }
    int Step() { return sqlite3_step(statement_); }

  private:
    sqlite3_stmt* statement_;
};

const char16_t kEmptyText[] = u"";
const BYTE kEmptyData[1] = {0};

class Store {
  public:
    std::mutex lock;

    DWORD Ready() {
        if (inherited_) Abandon();
        if (db_) return ERROR_SUCCESS;
        return Open();
    }

    bool readOnly() const { return readOnly_; }
    KeyId classesId() const { return classesId_; }
    KeyId userId() const { return userId_; }

    void SetBusyTimeout(int milliseconds) { busyMilliseconds_ = milliseconds; }

    // Waiting for another process's lock.  SQLite's own handler sleeps up
    // to 100 ms between tries; a writer that commits back to back holds
    // the lock nearly all the time (each commit waits for the disk) and
    // frees it only for microseconds, so long sleeps would almost never
    // land in a gap.  Short, steady tries do: a waiting writer gets its
    // turn within a few of the other's commits.
    static int BusyWait(void* context, int attempts) {
        Store* store = static_cast<Store*>(context);
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long nowUs = now.tv_sec * 1000000LL + now.tv_nsec / 1000;
        if (attempts == 0) store->busySinceUs_ = nowUs;
        long long waitedUs = nowUs - store->busySinceUs_;
        if (waitedUs >= store->busyMilliseconds_ * 1000LL) return 0;
        usleep(waitedUs < 1000000 ? 100 : 1000);
        return 1;
    }

    // A forked child may not use the parent's connection (its file locks
    // stay with the parent); it opens its own on first use.
    void MarkInherited() { inherited_ = true; }

    void CloseAtExit() {
        if (!db_ || inherited_) return;
        CloseConnection();
    }

    void Reopen() {
        if (inherited_) Abandon();
        if (db_) CloseConnection();
    }

    int Run(StatementId id) {
        Use use(statements_[id]);
        return use.Step();
    }

    void Rollback() {
        if (!sqlite3_get_autocommit(db_)) Run(kRollback);
    }

    DWORD Resolve(KeyId base, const NameRef* parts, size_t count, bool create, bool mayCreate,
                  int lastFlags, KeyId* id, bool* created, bool volatileKeys = false);
    DWORD SetValue(KeyId key, NameRef name, DWORD type, const BYTE* data, size_t size);
    DWORD QueryValue(KeyId key, NameRef name, ValueVisitor visitor, void* context);
    DWORD EnumKey(KeyId key, DWORD index, EnumCursor* cursor, std::u16string* name);
    DWORD EnumValue(KeyId key, DWORD index, EnumCursor* cursor, ValueVisitor visitor,
                    void* context);
    DWORD DeleteKey(KeyId base, const NameRef* parts, size_t count, bool subtree);

  private:
    DWORD Open();
    DWORD Attach(sqlite3* db, const std::string& path, bool memory, bool* snapshotInstead);
    DWORD Initialize(sqlite3* db, bool memory);
    DWORD EnsureViews();
    void CloseConnection();
    void Abandon();

    void FoldParts(const NameRef* parts, size_t count) {
        if (folds_.size() < count) folds_.resize(count);
        for (size_t i = 0; i < count; ++i) FoldName(parts[i].text, parts[i].length, &folds_[i]);
    }
    DWORD Walk(KeyId base, size_t count, size_t* found);
    DWORD KeyFlags(KeyId id, int* flags);
    DWORD CheckDepth(KeyId base, size_t count);

    // Enumeration cursors (EnumCursor): which statement finds the index-th
    // row, and what to remember of the row found.
    uint64_t DataVersion();
    StatementId CursorStep(const EnumCursor* cursor, KeyId key, DWORD index, uint64_t version,
                           StatementId fromStart, StatementId at, StatementId after) const;
    void Remember(EnumCursor* cursor, KeyId key, DWORD index, uint64_t version) const;

    // The memory of key lookups (see DeletionCounter).
    void SyncCache() {
        uint64_t begun;
        cacheFillable_ = deletions_.Settled(&begun);
        if (begun != cacheTag_) {
            cache_.clear();
            cacheTag_ = begun;
        }
    }
    void CacheKey(KeyId parent, const std::string* fold) {
        cacheKey_.assign(reinterpret_cast<const char*>(&parent), sizeof(parent));
        if (fold) cacheKey_ += *fold;
    }
    bool CacheFind(KeyId parent, const std::string* fold, KeyId* child) {
        CacheKey(parent, fold);
        auto it = cache_.find(cacheKey_);
        if (it == cache_.end()) return false;
        *child = it->second;
        return true;
    }
    // Remembers base (as existing) and the chain below it; only answers
    // that came from a snapshot taken while the counts agreed.
    void CacheChain(KeyId base, size_t count) {
        if (!cacheFillable_) return;
        if (cache_.size() + count + 1 > kCacheLimit) cache_.clear();
        CacheKey(base, nullptr);
        cache_[cacheKey_] = base;
        KeyId parent = base;
        for (size_t i = 0; i < count; ++i) {
            CacheKey(parent, &folds_[i]);
            cache_[cacheKey_] = chain_[i];
            parent = chain_[i];
        }
    }

    // A statement on one key, addressed to the database that holds it.
    sqlite3_stmt* On(StatementId id, KeyId key) {
        return IsVolatileKey(key) ? volatile_[id] : statements_[id];
    }
    void FinalizeStatements() {
        for (int i = 0; i < kStatementCount; ++i) {
            sqlite3_finalize(statements_[i]);
            sqlite3_finalize(volatile_[i]);
            statements_[i] = volatile_[i] = nullptr;
        }
    }

    sqlite3* db_ = nullptr;
    uint64_t connection_ = 0;  // counts the connections opened, for cursors
    sqlite3_stmt* statements_[kStatementCount] = {};
    sqlite3_stmt* volatile_[kStatementCount] = {};
    bool readOnly_ = false;
    bool inherited_ = false;
    KeyId classesId_ = 0;
    KeyId userId_ = 0;
    int busyMilliseconds_ = kDefaultBusyMilliseconds;
    long long busySinceUs_ = 0;
    DeletionCounter deletions_;
    std::unordered_map<std::string, KeyId> cache_;
    uint64_t cacheTag_ = 0;
    bool cacheFillable_ = false;
    std::string cacheKey_;
    std::string valueFold_;
    std::vector<std::string> folds_;
    std::vector<KeyId> chain_;
};

Transaction::~Transaction() {
    if (open_) store_.Rollback();
}

DWORD Transaction::Begin(bool write) {
    int rc = store_.Run(write ? kBeginWrite : kBegin);
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    open_ = true;
    return ERROR_SUCCESS;
}

DWORD Transaction::Commit() {
    int rc = store_.Run(kCommit);
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    open_ = false;
    return ERROR_SUCCESS;
}

DWORD Store::Open() {
    std::string path;
    DWORD error = ResolveStorePath(&path);
    if (error != ERROR_SUCCESS) return error;
    bool memory = path == ":memory:";
    if (!memory) {
        error = MakeParentDirectories(path);
        if (error != ERROR_SUCCESS) return error;
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    bool snapshotInstead = false;
    if (rc == SQLITE_OK) {
        error = Attach(db, path, memory, &snapshotInstead);
    } else {
        sqlite3_close(db);
        error = ErrorFromSqlite(rc);
    }
    if (error != ERROR_SUCCESS && snapshotInstead) {
        // A file where this process may create neither the shared-memory
        // index nor the log (a read-only medium, a directory closed to it):
        // read the file as it stands, without locking (nobody can be writing
        // it through a log), and refuse every write.
        db = nullptr;
        // The file alone is read-only (mode=ro): the connection itself stays
        // writable, since attached databases take its flags and the volatile
        // keys' database must accept writes.
        rc = sqlite3_open_v2(UriPath(path).append("?mode=ro&immutable=1").c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                             nullptr);
        if (rc == SQLITE_OK) {
            error = Attach(db, path, memory, &snapshotInstead);
        } else {
            sqlite3_close(db);
            error = ErrorFromSqlite(rc);
        }
    }
    if (error != ERROR_SUCCESS) {
        deletions_.Close();
        return error;
    }
    if (!deletions_.usable()) {
        if (memory)
            deletions_.OpenPrivate();
        else
            deletions_.OpenShared(path);
    }
    error = EnsureViews();
    if (error != ERROR_SUCCESS) CloseConnection();
    return error;
}

DWORD Store::Attach(sqlite3* db, const std::string& path, bool memory, bool* snapshotInstead) {
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, BusyWait, this);
    bool readOnly = sqlite3_db_readonly(db, "main") == 1;
    *snapshotInstead = false;

    // What the file holds, seen in one snapshot.
    int64_t applicationId = 0, version = 0, tables = 0;
    int rc = Exec(db, "BEGIN");
    if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA application_id", &applicationId);
    if (rc == SQLITE_OK) rc = QueryInt(db, "PRAGMA user_version", &version);
    if (rc == SQLITE_OK) rc = QueryInt(db, "SELECT count(*) FROM sqlite_master", &tables);
    if (!sqlite3_get_autocommit(db)) Exec(db, "COMMIT");
    if (!memory && NeedsSnapshot(rc, path)) {
        *snapshotInstead = true;
        sqlite3_close(db);
        return ErrorFromSqlite(rc);
    }
    DWORD error = rc == SQLITE_OK ? DWORD(ERROR_SUCCESS) : ErrorFromSqlite(rc);
    if (error == ERROR_SUCCESS) {
        if (applicationId == kApplicationId) {
            if (version > kSchemaVersion) error = ERROR_BADDB;  // a newer layout
        } else if (applicationId != 0 || tables != 0) {
            error = ERROR_BADDB;  // some other program's database: never touched
        } else if (readOnly) {
            error = ERROR_ACCESS_DENIED;  // empty, and may not be set up
        } else {
            // Another process may be setting it up too: one at a time.
            bool locked = false;
            if (!memory) {
                deletions_.OpenShared(path);
                locked = deletions_.LockSetup();
            }
            error = Initialize(db, memory);
            if (locked) deletions_.UnlockSetup();
        }
    }
    if (error == ERROR_SUCCESS && !readOnly && !memory) {
        std::string mode;
        rc = QueryText(db, "PRAGMA journal_mode", &mode);
        if (rc == SQLITE_OK && mode != "wal") rc = QueryText(db, "PRAGMA journal_mode = WAL", &mode);
        if (rc == SQLITE_OK && mode != "wal") rc = SQLITE_IOERR;
        if (rc != SQLITE_OK) error = ErrorFromSqlite(rc);
    }
    if (error == ERROR_SUCCESS) {
        rc = Exec(db, "PRAGMA synchronous = FULL; PRAGMA journal_size_limit = 4194304");
        if (rc == SQLITE_OK) rc = AttachVolatile(db, path, memory, readOnly);
        for (int i = 0; rc == SQLITE_OK && i < kStatementCount; ++i) {
            rc = sqlite3_prepare_v3(db, kStatementSql[i], -1, SQLITE_PREPARE_PERSISTENT,
                                    &statements_[i], nullptr);
            if (rc == SQLITE_OK && OnOneKey(i))
                rc = sqlite3_prepare_v3(db, VolatileSql(kStatementSql[i]).c_str(), -1,
                                        SQLITE_PREPARE_PERSISTENT, &volatile_[i], nullptr);
        }
        if (rc != SQLITE_OK) error = ErrorFromSqlite(rc);
    }
    if (error != ERROR_SUCCESS) {
        FinalizeStatements();
        sqlite3_close(db);
        return error;
    }

    db_ = db;
    ++connection_;
    readOnly_ = readOnly;
    cache_.clear();
    return ERROR_SUCCESS;
}

DWORD Store::Initialize(sqlite3* db, bool memory) {
    // Before anything writes the first page: names are kept as UTF-16, so
    // they come back unit for unit, unpaired surrogates included.
    int rc = Exec(db, "PRAGMA encoding = 'UTF-16le'");
    if (rc == SQLITE_OK && !memory) rc = Exec(db, "PRAGMA journal_mode = WAL");
    if (rc == SQLITE_OK) rc = Exec(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
    // Another process may have set the file up meanwhile.
    int64_t applicationId = 0, tables = 0;
    rc = QueryInt(db, "PRAGMA application_id", &applicationId);
    if (rc == SQLITE_OK) rc = QueryInt(db, "SELECT count(*) FROM sqlite_master", &tables);
    DWORD error = ErrorFromSqlite(rc);
    if (error == ERROR_SUCCESS && applicationId != kApplicationId) {
        if (applicationId != 0 || tables != 0) {
            error = ERROR_BADDB;
        } else {
            std::string setup = KeyTablesSql("main") + kRoots;
            setup += "PRAGMA application_id = " + std::to_string(kApplicationId) + ";";
            setup += "PRAGMA user_version = " + std::to_string(kSchemaVersion) + ";";
            rc = Exec(db, setup.c_str());
            error = ErrorFromSqlite(rc);
        }
    }
    if (error == ERROR_SUCCESS) error = ErrorFromSqlite(Exec(db, "COMMIT"));
    if (error != ERROR_SUCCESS && !sqlite3_get_autocommit(db)) Exec(db, "ROLLBACK");
    return error;
}

// HKEY_CLASSES_ROOT and HKEY_CURRENT_USER are views of keys below the two
// roots; they exist from the start, as on Windows, unless the file may
// only be read.
DWORD Store::EnsureViews() {
    static const char16_t kSoftware[] = u"Software";
    static const char16_t kClasses[] = u"Classes";
    NameRef classes[2] = {{kSoftware, 8}, {kClasses, 7}};
    std::u16string user = u"S-1-22-1-";
    for (char c : std::to_string(getuid())) user += char16_t(c);
    NameRef userPart = {user.c_str(), user.size()};

    bool created;
    DWORD error = Resolve(kLocalMachineId, classes, 2, !readOnly_, true, kProtectedKey,
                          &classesId_, &created);
    if (error == ERROR_FILE_NOT_FOUND) classesId_ = 0, error = ERROR_SUCCESS;
    if (error != ERROR_SUCCESS) return error;
    error = Resolve(kUsersId, &userPart, 1, !readOnly_, true, kProtectedKey, &userId_, &created);
    if (error == ERROR_FILE_NOT_FOUND) userId_ = 0, error = ERROR_SUCCESS;
    return error;
}

void Store::CloseConnection() {
    FinalizeStatements();
    sqlite3_close(db_);
    db_ = nullptr;
    deletions_.Close();
    cache_.clear();
    classesId_ = userId_ = 0;
}

// In a forked child.  The connection is closed rather than left: SQLite
// keeps per-file state for the whole process, which a new connection would
// share.  Closing is safe for the parent: every lock decision is a real
// file lock, which the child does not hold, so the child can neither
// release the parent's locks nor, while the parent has the file open, take
// the exclusive lock that would let it remove the log.
void Store::Abandon() {
    inherited_ = false;
    if (db_) CloseConnection();
    deletions_.Close();
}

DWORD Store::KeyFlags(KeyId id, int* flags) {
    Use use(On(kKeyFlags, id));
    sqlite3_bind_int64(use.get(), 1, id);
    int rc = use.Step();
    if (rc == SQLITE_ROW) {
        *flags = sqlite3_column_int(use.get(), 0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? DWORD(ERROR_KEY_DELETED) : ErrorFromSqlite(rc);
}

// Inside a transaction: follows folds_[0..count) from base, filling
// chain_; *found is how many exist.  ERROR_KEY_DELETED when base is gone.
DWORD Store::Walk(KeyId base, size_t count, size_t* found) {
    if (chain_.size() < count) chain_.resize(count);
    KeyId parent = base;
    size_t i = 0;
    for (; i < count; ++i) {
        Use use(statements_[kChild]);
        sqlite3_bind_int64(use.get(), 1, parent);
        sqlite3_bind_blob(use.get(), 2, folds_[i].data(), int(folds_[i].size()), SQLITE_STATIC);
        int rc = use.Step();
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
        parent = chain_[i] = sqlite3_column_int64(use.get(), 0);
    }
    *found = i;
    if (i == 0) {
        // Missing below base, or base itself gone?
        int flags;
        DWORD error = KeyFlags(base, &flags);
        if (error != ERROR_SUCCESS) return error;
    }
    return ERROR_SUCCESS;
}

DWORD Store::Resolve(KeyId base, const NameRef* parts, size_t count, bool create, bool mayCreate,
                     int lastFlags, KeyId* id, bool* created, bool volatileKeys) {
    SyncCache();
    FoldParts(parts, count);
    *created = false;

    // From memory, when every step is known.
    KeyId current = base;
    bool known = count > 0 || CacheFind(base, nullptr, &current);
    for (size_t i = 0; known && i < count; ++i) known = CacheFind(current, &folds_[i], &current);
    if (known) {
        *id = current;
        return ERROR_SUCCESS;
    }

    size_t found = 0;
    {
        Transaction transaction(*this);
        DWORD error = transaction.Begin(false);
        if (error == ERROR_SUCCESS) error = Walk(base, count, &found);
        if (error == ERROR_SUCCESS) error = transaction.Commit();
        if (error != ERROR_SUCCESS) return error;
    }
    if (found < count) {
        if (!create) return ERROR_FILE_NOT_FOUND;
        if (!mayCreate || readOnly_) return ERROR_ACCESS_DENIED;
        Transaction transaction(*this);
        DWORD error = transaction.Begin(true);
        // Walk again: the keys may have changed since the read.
        if (error == ERROR_SUCCESS) error = Walk(base, count, &found);
        // A key that is not volatile cannot be made below a volatile one.
        if (error == ERROR_SUCCESS && found < count && !volatileKeys &&
            IsVolatileKey(found ? chain_[found - 1] : base))
            error = ERROR_CHILD_MUST_BE_VOLATILE;
        if (error == ERROR_SUCCESS)
            error = CheckDepth(found ? chain_[found - 1] : base, count - found);
        for (size_t i = found; error == ERROR_SUCCESS && i < count; ++i) {
            // Every key made on the way is volatile when the last one is to be.
            Use use(On(kInsertKey, volatileKeys ? kVolatileBase : 0));
            sqlite3_bind_int64(use.get(), 1, i ? chain_[i - 1] : base);
            sqlite3_bind_blob(use.get(), 2, folds_[i].data(), int(folds_[i].size()), SQLITE_STATIC);
            sqlite3_bind_text16(use.get(), 3, parts[i].length ? parts[i].text : kEmptyText,
                                int(parts[i].length * 2), SQLITE_STATIC);
            sqlite3_bind_int(use.get(), 4, i + 1 == count ? lastFlags : 0);
            int rc = use.Step();
            if (rc != SQLITE_DONE) error = ErrorFromSqlite(rc);
            chain_[i] = sqlite3_last_insert_rowid(db_);
        }
        if (error == ERROR_SUCCESS) error = transaction.Commit();
        if (error != ERROR_SUCCESS) return error;
        *created = found < count;
    }
    CacheChain(base, count);
    *id = count ? chain_[count - 1] : base;
    return ERROR_SUCCESS;
}

DWORD Store::SetValue(KeyId key, NameRef name, DWORD type, const BYTE* data, size_t size) {
    if (readOnly_) return ERROR_ACCESS_DENIED;
    FoldName(name.text, name.length, &valueFold_);
    Use use(On(kSetValue, key));
    sqlite3_bind_int64(use.get(), 1, key);
    sqlite3_bind_blob(use.get(), 2, valueFold_.data(), int(valueFold_.size()), SQLITE_STATIC);
    sqlite3_bind_text16(use.get(), 3, name.length ? name.text : kEmptyText, int(name.length * 2),
                        SQLITE_STATIC);
    sqlite3_bind_int64(use.get(), 4, type);
    // A null pointer would bind NULL; an empty value is an empty blob.
    int rc = sqlite3_bind_blob64(use.get(), 5, size ? data : kEmptyData, size, SQLITE_STATIC);
    if (rc != SQLITE_OK) return ErrorFromSqlite(rc);
    rc = use.Step();
    if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    return sqlite3_changes(db_) == 0 ? DWORD(ERROR_KEY_DELETED) : DWORD(ERROR_SUCCESS);
}

DWORD Store::QueryValue(KeyId key, NameRef name, ValueVisitor visitor, void* context) {
    FoldName(name.text, name.length, &valueFold_);
    Use use(On(kQueryValue, key));
    sqlite3_bind_int64(use.get(), 1, key);
    sqlite3_bind_blob(use.get(), 2, valueFold_.data(), int(valueFold_.size()), SQLITE_STATIC);
    int rc = use.Step();
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
    if (sqlite3_column_type(use.get(), 0) == SQLITE_NULL) return ERROR_FILE_NOT_FOUND;
    ValueView view;
    view.name = name.text;
    view.nameLength = name.length;
    view.type = DWORD(sqlite3_column_int64(use.get(), 0));
    view.data = static_cast<const BYTE*>(sqlite3_column_blob(use.get(), 1));
    view.size = size_t(sqlite3_column_bytes(use.get(), 1));
    return visitor(context, view);
}

// Creating `count` levels below `parent` must stay within kMaxKeyDepth.
DWORD Store::CheckDepth(KeyId parent, size_t count) {
    if (count == 0) return ERROR_SUCCESS;
    Use use(statements_[kKeyDepth]);
    sqlite3_bind_int64(use.get(), 1, parent);
    int rc = use.Step();
    if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
    size_t depth = size_t(sqlite3_column_int64(use.get(), 0));
    return depth + count > kMaxKeyDepth ? DWORD(ERROR_NO_SYSTEM_RESOURCES) : DWORD(ERROR_SUCCESS);
}

// Inside a read transaction: changes whenever anything was committed to the
// file, by this connection or another, since the last time it was read.
// Changes to either database, the file's and the volatile one, end a cursor.
uint64_t Store::DataVersion() {
    unsigned int file = 0, memory = 0;
    sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &file);
    sqlite3_file_control(db_, "vol", SQLITE_FCNTL_DATA_VERSION, &memory);
    return uint64_t(file) << 32 | memory;
}

StatementId Store::CursorStep(const EnumCursor* cursor, KeyId key, DWORD index, uint64_t version,
                              StatementId fromStart, StatementId at, StatementId after) const {
    if (!cursor || cursor->connection != connection_ || cursor->version != version ||
        cursor->key != key)
        return fromStart;
    if (index == cursor->index) return at;
    if (uint64_t(index) == uint64_t(cursor->index) + 1) return after;
    return fromStart;
}

void Store::Remember(EnumCursor* cursor, KeyId key, DWORD index, uint64_t version) const {
    if (!cursor) return;
    cursor->connection = connection_;
    cursor->version = version;
    cursor->key = key;
    cursor->index = index;
}

DWORD Store::EnumKey(KeyId key, DWORD index, EnumCursor* cursor, std::u16string* name) {
    Transaction transaction(*this);
    DWORD error = transaction.Begin(false);
    int flags;
    if (error == ERROR_SUCCESS) error = KeyFlags(key, &flags);
    if (error != ERROR_SUCCESS) return error;
    const uint64_t version = DataVersion();
    std::string fold;  // the row's, for the cursor (its old one is bound)
    {
        StatementId step =
            CursorStep(cursor, key, index, version, kEnumKey, kEnumKeyAt, kEnumKeyAfter);
        Use use(statements_[step]);
        sqlite3_bind_int64(use.get(), 1, key);
        if (step == kEnumKey)
            sqlite3_bind_int64(use.get(), 2, index);
        else
            sqlite3_bind_blob(use.get(), 2, cursor->fold.data(), int(cursor->fold.size()),
                              SQLITE_STATIC);
        int rc = use.Step();
        if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
        if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
        const void* text = sqlite3_column_text16(use.get(), 0);
        size_t bytes = size_t(sqlite3_column_bytes16(use.get(), 0));
        name->assign(static_cast<const char16_t*>(text), bytes / 2);
        if (cursor)
            fold.assign(static_cast<const char*>(sqlite3_column_blob(use.get(), 1)),
                        size_t(sqlite3_column_bytes(use.get(), 1)));
    }
    if (cursor) {
        cursor->fold.swap(fold);
        Remember(cursor, key, index, version);
    }
    return transaction.Commit();
}

DWORD Store::EnumValue(KeyId key, DWORD index, EnumCursor* cursor, ValueVisitor visitor,
                       void* context) {
    Transaction transaction(*this);
    DWORD error = transaction.Begin(false);
    int flags;
    if (error == ERROR_SUCCESS) error = KeyFlags(key, &flags);
    if (error != ERROR_SUCCESS) return error;
    {
        const uint64_t version = DataVersion();
        StatementId step =
            CursorStep(cursor, key, index, version, kEnumValue, kEnumValueAt, kEnumValueAfter);
        Use use(On(step, key));
        sqlite3_bind_int64(use.get(), 1, key);
        sqlite3_bind_int64(use.get(), 2, step == kEnumValue ? int64_t(index) : cursor->seq);
        int rc = use.Step();
        if (rc == SQLITE_DONE) return ERROR_NO_MORE_ITEMS;
        if (rc != SQLITE_ROW) return ErrorFromSqlite(rc);
        ValueView view;
        view.name = static_cast<const char16_t*>(sqlite3_column_text16(use.get(), 0));
        view.nameLength = size_t(sqlite3_column_bytes16(use.get(), 0)) / 2;
        if (!view.name) view.name = kEmptyText;
        view.type = DWORD(sqlite3_column_int64(use.get(), 1));
        view.data = static_cast<const BYTE*>(sqlite3_column_blob(use.get(), 2));
        view.size = size_t(sqlite3_column_bytes(use.get(), 2));
        if (cursor) {
            cursor->seq = sqlite3_column_int64(use.get(), 3);
            Remember(cursor, key, index, version);
        }
        error = visitor(context, view);
    }
    DWORD commit = transaction.Commit();
    return error != ERROR_SUCCESS ? error : commit;
}

DWORD Store::DeleteKey(KeyId base, const NameRef* parts, size_t count, bool subtree) {
    // Without the shared counts, other processes could keep answering
    // lookups of the deleted keys from memory.
    if (readOnly_ || !deletions_.writable()) return ERROR_ACCESS_DENIED;
    FoldParts(parts, count);
    Transaction transaction(*this);
    DWORD error = transaction.Begin(true);
    size_t found = 0;
    if (error == ERROR_SUCCESS) error = Walk(base, count, &found);
    if (error != ERROR_SUCCESS) return error;
    if (found < count) return ERROR_FILE_NOT_FOUND;
    KeyId target = count ? chain_[count - 1] : base;

    std::vector<KeyId> doomed;
    if (subtree) {
        Use use(statements_[kSubtree]);
        sqlite3_bind_int64(use.get(), 1, target);
        int rc;
        while ((rc = use.Step()) == SQLITE_ROW) {
            if (sqlite3_column_int(use.get(), 1) & kProtectedKey) return ERROR_ACCESS_DENIED;
            doomed.push_back(sqlite3_column_int64(use.get(), 0));
        }
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
    } else {
        int flags = 0;
        error = KeyFlags(target, &flags);
        if (error != ERROR_SUCCESS) return error;
        if (flags & kProtectedKey) return ERROR_ACCESS_DENIED;
        Use use(statements_[kHasChild]);
        sqlite3_bind_int64(use.get(), 1, target);
        int rc = use.Step();
        if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;  // as Windows answers for subkeys
        if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
        doomed.push_back(target);
    }
    for (KeyId id : doomed) {
        for (StatementId statement : {kDeleteValues, kDeleteKey}) {
            Use use(On(statement, id));
            sqlite3_bind_int64(use.get(), 1, id);
            int rc = use.Step();
            if (rc != SQLITE_DONE) return ErrorFromSqlite(rc);
        }
    }
    if (!deletions_.Enter()) return ERROR_REGISTRY_IO_FAILED;
    error = transaction.Commit();
    deletions_.Leave();
    cache_.clear();
    return error;
}

Store& TheStore();

void LockBeforeFork() { TheStore().lock.lock(); }
void UnlockInParent() { TheStore().lock.unlock(); }
void UnlockInChild() {
    TheStore().MarkInherited();
    TheStore().lock.unlock();
}

// At exit another thread may still be inside a call, or be suspended or
// killed there, holding the lock for good.  Wait a while, then leave the
// connection as it is: the file is consistent at every commit, and the next
// process to open it recovers the log.
constexpr int kExitWaitMilliseconds = 1000;

void CloseAtExit() {
    Store& store = TheStore();
    std::unique_lock<std::mutex> guard(store.lock, std::try_to_lock);
    for (int waited = 0; !guard.owns_lock() && waited < kExitWaitMilliseconds; ++waited) {
        usleep(1000);
        guard.try_lock();
    }
    if (guard.owns_lock()) store.CloseAtExit();
}

Store& TheStore() {
    // Never destroyed: other modules' static destructors may still call
    // the registry.  The connection is closed at exit, so that the last
    // process to leave folds the log back into the file.
    static Store* store = [] {
        Store* created = new Store;
        atexit(CloseAtExit);
        return created;
    }();
    return *store;
}

}  // namespace

DWORD RootKey(Root root, KeyId* id, bool* readOnly) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    if (error != ERROR_SUCCESS) return error;
    *readOnly = store.readOnly();
    switch (root) {
        case Root::LocalMachine: *id = kLocalMachineId; break;
        case Root::Users: *id = kUsersId; break;
        case Root::ClassesRoot: *id = store.classesId(); break;
        case Root::CurrentUser: *id = store.userId(); break;
    }
    // A view whose key a read-only file lacks.
    return *id ? DWORD(ERROR_SUCCESS) : DWORD(ERROR_FILE_NOT_FOUND);
}

DWORD OpenKey(KeyId base, const NameRef* parts, size_t count, bool wantWrite, KeyId* id) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    if (error != ERROR_SUCCESS) return error;
    bool created;
    error = store.Resolve(base, parts, count, false, false, 0, id, &created);
    // A missing key is missing before it is out of reach.
    if (error == ERROR_SUCCESS && wantWrite && store.readOnly()) return ERROR_ACCESS_DENIED;
    return error;
}

DWORD CreateKey(KeyId base, const NameRef* parts, size_t count, bool wantWrite, bool mayCreate,
                KeyId* id, bool* created, bool isVolatile) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    if (error != ERROR_SUCCESS) return error;
    if (wantWrite && store.readOnly()) return ERROR_ACCESS_DENIED;
    return store.Resolve(base, parts, count, true, mayCreate, 0, id, created, isVolatile);
}

DWORD SetValue(KeyId key, NameRef name, DWORD type, const BYTE* data, size_t size) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    return error != ERROR_SUCCESS ? error : store.SetValue(key, name, type, data, size);
}

DWORD QueryValue(KeyId key, NameRef name, ValueVisitor visitor, void* context) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    return error != ERROR_SUCCESS ? error : store.QueryValue(key, name, visitor, context);
}

DWORD EnumKey(KeyId key, DWORD index, EnumCursor* cursor, std::u16string* name) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    return error != ERROR_SUCCESS ? error : store.EnumKey(key, index, cursor, name);
}

DWORD EnumValue(KeyId key, DWORD index, EnumCursor* cursor, ValueVisitor visitor, void* context) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    return error != ERROR_SUCCESS ? error : store.EnumValue(key, index, cursor, visitor, context);
}

DWORD DeleteKey(KeyId base, const NameRef* parts, size_t count, bool subtree) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    DWORD error = store.Ready();
    return error != ERROR_SUCCESS ? error : store.DeleteKey(base, parts, count, subtree);
}

void SetBusyTimeoutForTesting(int milliseconds) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    store.SetBusyTimeout(milliseconds);
}

void ReopenForTesting() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    store.Reopen();
}

bool InsideACallForTesting() {
    Store& store = TheStore();
    if (!store.lock.try_lock()) return true;
    store.lock.unlock();
    return false;
}

std::string StorePathForTesting() {
    std::string path;
    ResolveStorePath(&path);
    return path;
}

std::string KeyTablesSql(const std::string& database) {
    const std::string create = "CREATE TABLE IF NOT EXISTS " + database + ".";
    const std::string index = " IF NOT EXISTS " + database + ".";
    return create + "keys("
           " id INTEGER PRIMARY KEY AUTOINCREMENT,"
           " parent INTEGER NOT NULL,"
           " fold BLOB NOT NULL,"
           " name TEXT NOT NULL,"
           " flags INTEGER NOT NULL DEFAULT 0);"
           "CREATE UNIQUE INDEX" + index + "keys_by_name ON keys(parent, fold);" +
           create + "vals("
           " key INTEGER NOT NULL,"
           " fold BLOB NOT NULL,"
           " name TEXT NOT NULL,"
           " seq INTEGER NOT NULL,"
           " type INTEGER NOT NULL,"
           " data BLOB NOT NULL,"
           " PRIMARY KEY(key, fold)) WITHOUT ROWID;"
           "CREATE INDEX" + index + "vals_by_seq ON vals(key, seq);";
}

}  // namespace reg
}  // namespace zvp

// Called by fork.cpp, in the layer's lock order.
void zvp::StorePrepareFork() { reg::LockBeforeFork(); }
void zvp::StoreParentAfterFork() { reg::UnlockInParent(); }
void zvp::StoreChildAfterFork() { reg::UnlockInChild(); }
