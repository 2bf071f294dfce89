// machine.cpp - the shared segment of one emulated machine: where it lives,
// how it is made and found, who is attached, and how the traces of dead
// processes are cleared.
//
// The segment is a file /dev/shm/zv-<uid>-<hash of the registry path>,
// created 0600 with O_EXCL|O_NOFOLLOW and refused unless it is ours and
// private, so that another user can neither read nor squat it.  A process
// counts as alive while /proc shows its pid with the start time it had when
// it attached.  Leftovers: the last process to leave removes the file, and
// attaching removes every other file of this user whose processes are all
// dead (a killed last process leaves one until then).
#include "platform/posix/machine.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <new>

#include "platform/posix/handles.h"

namespace zvp {
namespace machine {
namespace {

constexpr uint64_t kMagic = 0x31454e4948434d5aull;  // "ZMCHINE1"
constexpr uint64_t kPendingSeconds = 10;  // a child slot never taken up is dead after this
constexpr int kReadyWaitMs = 2000;        // how long an opener waits for a creator

Segment* g_segment = nullptr;
bool g_named = false;
uint32_t g_self = kProcesses;  // this process's slot
uint32_t g_selfPid = 0;
uint32_t g_pending = kProcesses;  // the slot claimed for a child being forked
std::mutex g_attachLock;

uint64_t BootSeconds() {
    timespec now;
    clock_gettime(CLOCK_BOOTTIME, &now);
    return uint64_t(now.tv_sec);
}

// A process whose start time could not be read (no file descriptor left,
// /proc unreadable) counts as alive: taking a live process for dead would
// free the names it still uses.
constexpr uint64_t kUnknownStart = ~uint64_t(0);

// The start time (field 22 of /proc/PID/stat), 0 when the process is gone
// or a zombie, or kUnknownStart.
uint64_t StartTimeOf(uint32_t pid) {
    char path[64];
    snprintf(path, sizeof(path), "/proc/%u/stat", pid);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ESRCH ? 0 : kUnknownStart;
    char text[1024];
    ssize_t n = read(fd, text, sizeof(text) - 1);
    const int error = errno;
    close(fd);
    if (n == 0 || (n < 0 && error == ESRCH)) return 0;
    if (n < 0) return kUnknownStart;
    text[n] = 0;
    const char* p = strrchr(text, ')');  // the command name may hold anything
    if (!p || p[1] != ' ') return kUnknownStart;
    const char state = p[2];
    if (state == 'Z' || state == 'X' || state == 'x') return 0;
    // Field 3 is the state; the start time is 19 fields on.
    p += 2;
    for (int field = 3; field < 22 && p; ++field) {
        p = strchr(p, ' ');
        if (p) ++p;
    }
    return p ? strtoull(p, nullptr, 10) : kUnknownStart;
}

void InitSegment(Segment* segment) {
    segment->creator = uint32_t(getpid());
    InitSharedMutex(&segment->lock);
    for (Waiter& waiter : segment->waiters) InitSharedMutex(&waiter.owner);
    __atomic_store_n(&segment->magic, kMagic, __ATOMIC_RELEASE);
}

bool Ready(Segment* segment) { return __atomic_load_n(&segment->magic, __ATOMIC_ACQUIRE) == kMagic; }

// Machine lock repair: objects left half made are dropped.
void RepairMachine(Segment* segment, uint32_t) {
    for (uint32_t i = 0; i < segment->objectHigh && i < kObjects; ++i) {
        if (segment->objects[i].state != kCreating) continue;
        segment->hashes[i] = 0;
        segment->objects[i].state = kFree;
    }
}

// Whether a file in /dev/shm is ours, private and of the segment's size.
// A file just created may not have its size yet: that is waited for up to
// `waitMs`; *empty tells that it never got one.
bool OwnedAndPrivate(int fd, int waitMs, bool* empty) {
    struct stat info;
    *empty = false;
    for (int waited = 0; fstat(fd, &info) == 0; ++waited) {
        if (!S_ISREG(info.st_mode) || info.st_uid != getuid() || (info.st_mode & 077) != 0) return false;
        if (info.st_size == off_t(sizeof(Segment))) return true;
        *empty = info.st_size == 0;
        if (!*empty || waited >= waitMs) return false;
        usleep(1000);
    }
    return false;
}

Segment* MapFile(int fd) {
    void* memory = mmap(nullptr, sizeof(Segment), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    return memory == MAP_FAILED ? nullptr : static_cast<Segment*>(memory);
}

bool AnyoneAliveLocked(Segment* segment) {
    for (const ProcessSlot& slot : segment->processes) {
        if (slot.state == kLive && ProcessAlive(slot)) return true;
        if (slot.state == kPending && BootSeconds() - slot.claimed < kPendingSeconds) return true;
    }
    return false;
}

std::string Prefix() { return "zv-" + std::to_string(getuid()) + "-"; }

// Removes this user's segments whose processes are all dead.  The check and
// the unlink happen under the segment's lock; an attacher re-checks, under
// that lock, that its file is still linked.
void CleanLeftovers(const std::string& keep) {
    DIR* dir = opendir("/dev/shm");
    if (!dir) return;
    const std::string prefix = Prefix();
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0 || name == keep) continue;
        std::string path = "/dev/shm/" + name;
        int fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        bool empty;
        Segment* segment = OwnedAndPrivate(fd, 0, &empty) ? MapFile(fd) : nullptr;
        struct stat info;
        // Empty for long: its creator died before giving it a size.
        if (empty && fstat(fd, &info) == 0 && time(nullptr) - info.st_mtime > time_t(kPendingSeconds))
            unlink(path.c_str());
        close(fd);
        if (!segment) continue;
        if (Ready(segment)) {
            LockMachine(segment);
            if (!AnyoneAliveLocked(segment)) unlink(path.c_str());
            UnlockMachine(segment);
        } else if (segment->creator && !StartTimeOf(segment->creator)) {
            unlink(path.c_str());  // its creator died before finishing it
        }
        munmap(segment, sizeof(Segment));
    }
    closedir(dir);
}

bool StillLinked(int fd) {
    struct stat info;
    return fstat(fd, &info) == 0 && info.st_nlink > 0;
}

// Opens or creates the named segment; null with the last error set.
Segment* MapNamed(const std::string& name) {
    const std::string path = "/dev/shm/" + name;
    for (int attempt = 0; attempt < 50; ++attempt) {
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        const bool created = fd >= 0;
        if (!created && errno == EEXIST) fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) continue;  // removed meanwhile
            SetLastError(Win32ErrorFromErrno(errno));
            return nullptr;
        }
        if (created && ftruncate(fd, off_t(sizeof(Segment))) != 0) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            unlink(path.c_str());
            close(fd);
            return nullptr;
        }
        bool empty;
        if (!OwnedAndPrivate(fd, kReadyWaitMs, &empty)) {
            close(fd);
            if (empty) {
                unlink(path.c_str());  // its creator died before giving it a size
                continue;
            }
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        Segment* segment = MapFile(fd);
        if (!segment) {
            close(fd);
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        if (created) InitSegment(segment);
        for (int waited = 0; !Ready(segment) && waited < kReadyWaitMs; ++waited) usleep(1000);
        bool usable = Ready(segment);
        if (!usable && !StartTimeOf(segment->creator)) unlink(path.c_str());
        if (usable) {
            LockMachine(segment);
            usable = StillLinked(fd);
            if (usable) {
                g_segment = segment;
                SelfSlotLocked(segment);
            }
            UnlockMachine(segment);
        }
        close(fd);
        if (usable) return segment;
        munmap(segment, sizeof(Segment));
    }
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

// At a normal exit the last process of the machine removes its file.
void LeaveAtExit() {
    std::lock_guard<std::mutex> guard(g_attachLock);
    if (!g_segment || !g_named) return;
    LockMachine(g_segment);
    bool others = false;
    for (uint32_t i = 0; i < kProcesses; ++i) {
        const ProcessSlot& slot = g_segment->processes[i];
        if (i == g_self && slot.pid == uint32_t(getpid())) continue;
        if ((slot.state == kLive && ProcessAlive(slot)) ||
            (slot.state == kPending && BootSeconds() - slot.claimed < kPendingSeconds))
            others = true;
    }
    if (!others) unlink(("/dev/shm/" + SegmentName()).c_str());
    UnlockMachine(g_segment);
}

uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ull;
    return hash;
}

std::string RegistryPath() {
    const char* registry = getenv("ZV_REGISTRY");
    if (registry && *registry) return registry;
    const char* dataHome = getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/') return std::string(dataHome) + "/zv/registry.db";
    const char* home = getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/zv/registry.db";
}

}  // namespace

void InitSharedMutex(pthread_mutex_t* mutex) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}


std::string SegmentName() {
    std::string path = RegistryPath();
    if (path == ":memory:") return std::string();
    // One registry, however it is spelled: the real path when it exists.
    if (char* real = realpath(path.c_str(), nullptr)) {
        path = real;
        free(real);
    } else if (path[0] != '/') {
        char cwd[4096];
        if (getcwd(cwd, sizeof(cwd))) path = std::string(cwd) + "/" + path;
    }
    char hash[17];
    snprintf(hash, sizeof(hash), "%016llx", static_cast<unsigned long long>(Fnv1a(path)));
    return Prefix() + hash;
}

bool ProcessAlive(const ProcessSlot& slot) {
    if (slot.pid == 0) return false;
    const uint64_t start = StartTimeOf(slot.pid);
    return start != 0 && (start == slot.start || start == kUnknownStart || slot.start == kUnknownStart);
}

void Lock(pthread_mutex_t* mutex, void (*repair)(Segment*, uint32_t), Segment* segment,
          uint32_t index) {
    if (pthread_mutex_lock(mutex) == EOWNERDEAD) {
        repair(segment, index);
        pthread_mutex_consistent(mutex);
    }
}

void LockMachine(Segment* segment) { Lock(&segment->lock, RepairMachine, segment, 0); }

void UnlockMachine(Segment* segment) { pthread_mutex_unlock(&segment->lock); }

Segment* Attach() {
    std::lock_guard<std::mutex> guard(g_attachLock);
    if (!g_segment) {
        std::string name = SegmentName();
        if (name.empty()) {
            void* memory = mmap(nullptr, sizeof(Segment), PROT_READ | PROT_WRITE,
                                MAP_SHARED | MAP_ANONYMOUS, -1, 0);
            if (memory == MAP_FAILED) {
                SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                return nullptr;
            }
            g_segment = static_cast<Segment*>(memory);
            InitSegment(g_segment);
        } else {
            CleanLeftovers(name);
            if (!MapNamed(name)) return nullptr;
            g_named = true;
            atexit(LeaveAtExit);
        }
    }
    return g_segment;
}

uint32_t CurrentSlot() { return g_selfPid == uint32_t(getpid()) ? g_self : kProcesses; }

uint32_t SelfSlotLocked(Segment* segment) {
    const uint32_t pid = uint32_t(getpid());
    if (g_self < kProcesses && g_selfPid == pid) return g_self;
    for (int round = 0; round < 2; ++round) {
        for (uint32_t i = 0; i < kProcesses; ++i) {
            ProcessSlot& slot = segment->processes[i];
            if (slot.state != kFree) continue;
            slot.pid = pid;
            slot.start = StartTimeOf(pid);
            slot.claimed = BootSeconds();
            slot.state = kLive;
            g_self = i;
            g_selfPid = pid;
            return i;
        }
        SweepDeadLocked(segment);
    }
    return kProcesses;
}

void DropHoldLocked(Segment* segment, uint32_t index, uint32_t process) {
    Object& object = segment->objects[index];
    object.holders[process / 64] &= ~(uint64_t(1) << (process % 64));
    for (uint64_t word : object.holders)
        if (word) return;
    segment->hashes[index] = 0;
    object.state = kFree;
    while (segment->objectHigh > 0 && segment->hashes[segment->objectHigh - 1] == 0) --segment->objectHigh;
}

void ReclaimDeadWaiter(Waiter* waiter) {
    int rc = pthread_mutex_trylock(&waiter->owner);
    if (rc == EBUSY) return;  // its thread is alive
    if (rc == EOWNERDEAD) pthread_mutex_consistent(&waiter->owner);
    pthread_mutex_unlock(&waiter->owner);
    __atomic_store_n(&waiter->state, kIdle, __ATOMIC_RELAXED);
    __atomic_store_n(&waiter->object, 0, __ATOMIC_RELAXED);
    __atomic_store_n(&waiter->busy, 0, __ATOMIC_RELEASE);
}

void RepairObject(Segment* segment, uint32_t index) {
    // A waker may have died between handing the event over and the wake.
    const uint32_t high = __atomic_load_n(&segment->waiterHigh, __ATOMIC_ACQUIRE);
    for (uint32_t w = 0; w < high && w < kWaiters; ++w) {
        Waiter& waiter = segment->waiters[w];
        const uint32_t state = __atomic_load_n(&waiter.state, __ATOMIC_ACQUIRE);
        if (__atomic_load_n(&waiter.object, __ATOMIC_RELAXED) == index + 1 &&
            (state == kReleased || state == kTerminated))
            syscall(SYS_futex, &waiter.state, FUTEX_WAKE, 1, nullptr, nullptr, 0);
    }
}

void SweepDeadLocked(Segment* segment) {
    for (uint32_t p = 0; p < kProcesses; ++p) {
        if (p == CurrentSlot()) continue;  // this process is alive, whatever /proc says
        ProcessSlot& slot = segment->processes[p];
        bool dead = (slot.state == kLive && !ProcessAlive(slot)) ||
                    (slot.state == kPending && BootSeconds() - slot.claimed >= kPendingSeconds);
        if (!dead) continue;
        for (uint32_t i = 0; i < segment->objectHigh; ++i) {
            const Object& object = segment->objects[i];
            if (object.state == kLive && (object.holders[p / 64] >> (p % 64) & 1)) DropHoldLocked(segment, i, p);
        }
        const uint32_t high = __atomic_load_n(&segment->waiterHigh, __ATOMIC_ACQUIRE);
        for (uint32_t w = 0; w < high && w < kWaiters; ++w) {
            Waiter& waiter = segment->waiters[w];
            if (!__atomic_load_n(&waiter.busy, __ATOMIC_ACQUIRE) || waiter.process != p) continue;
            const uint32_t object = __atomic_load_n(&waiter.object, __ATOMIC_RELAXED);
            if (object == 0 || object > kObjects) {
                ReclaimDeadWaiter(&waiter);
                continue;
            }
            Lock(&segment->objects[object - 1].lock, RepairObject, segment, object - 1);
            if (waiter.process == p) ReclaimDeadWaiter(&waiter);
            pthread_mutex_unlock(&segment->objects[object - 1].lock);
        }
        slot.state = kFree;
        slot.pid = 0;
    }
}

void PrepareFork() {
    g_attachLock.lock();
    g_pending = kProcesses;
    if (!g_segment || g_self >= kProcesses) return;
    LockMachine(g_segment);
    const uint32_t self = g_self;
    bool holds = false;
    for (uint32_t i = 0; i < g_segment->objectHigh && !holds; ++i)
        holds = g_segment->objects[i].state == kLive && (g_segment->objects[i].holders[self / 64] >> (self % 64) & 1);
    if (!holds) return;  // the child attaches on its own when it needs to
    for (uint32_t i = 0; i < kProcesses && g_pending == kProcesses; ++i) {
        if (g_segment->processes[i].state != kFree) continue;
        ProcessSlot& slot = g_segment->processes[i];
        slot.pid = 0;
        slot.claimed = BootSeconds();
        slot.state = kPending;
        g_pending = i;
    }
    if (g_pending == kProcesses) return;
    // The child holds what the parent holds: its handles are copies.
    for (uint32_t i = 0; i < g_segment->objectHigh; ++i) {
        Object& object = g_segment->objects[i];
        if (object.state == kLive && (object.holders[self / 64] >> (self % 64) & 1))
            object.holders[g_pending / 64] |= uint64_t(1) << (g_pending % 64);
    }
}

void ParentAfterFork() {
    if (g_segment && g_self < kProcesses) UnlockMachine(g_segment);
    g_attachLock.unlock();
}

void ChildAfterFork() {
    // The machine lock belongs to the parent's thread; the parent lets it go.
    g_attachLock.unlock();
    if (g_pending < kProcesses) {
        ProcessSlot& slot = g_segment->processes[g_pending];
        slot.pid = uint32_t(getpid());
        slot.start = StartTimeOf(slot.pid);
        __atomic_store_n(&slot.state, kLive, __ATOMIC_RELEASE);
        g_self = g_pending;
        g_selfPid = slot.pid;
    } else {
        g_self = kProcesses;  // claimed again on the next use
    }
    g_pending = kProcesses;
}

}  // namespace machine
}  // namespace zvp
