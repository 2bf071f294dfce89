// fork.cpp - one set of fork handlers for the whole layer.
//
// The locks are taken in the order in which the layer nests them: a module
// being loaded may run any code; the registry store, the debug sink and the
// task allocator call nothing else; the shared events' local table comes
// before the machine's lock, the semaphore names before the handle table.
// Per-object locks are not taken: in the child, where only the forking
// thread lives, every object of the table resets its own.
//
// These handlers are registered before any constructor of the library runs,
// so the library's own handlers (registered at load) run their prepare step
// first: its locks are taken outside the layer's, as they nest.
#include <pthread.h>

#include "platform/posix/fork.h"
#include "platform/posix/handles.h"
#include "platform/posix/waitable.h"

namespace zvp {
namespace {

void Prepare() {
    ModulesPrepareFork();
    StorePrepareFork();
    DebugPrepareFork();
    OlePrepareFork();
    SharedEventsPrepareFork();
    NamesPrepareFork();
    HandlesPrepareFork();
    ThreadsPrepareFork();
}

void Parent() {
    ThreadsParentAfterFork();
    HandlesParentAfterFork();
    NamesParentAfterFork();
    SharedEventsParentAfterFork();
    OleParentAfterFork();
    DebugParentAfterFork();
    StoreParentAfterFork();
    ModulesParentAfterFork();
}

void Child() {
    ThreadsChildAfterFork();
    HandlesChildAfterFork();
    NamesChildAfterFork();
    SharedEventsChildAfterFork();
    OleChildAfterFork();
    DebugChildAfterFork();
    StoreChildAfterFork();
    ModulesChildAfterFork();
}

__attribute__((constructor(101))) void RegisterForkHandlers() { pthread_atfork(Prepare, Parent, Child); }

}  // namespace
}  // namespace zvp
