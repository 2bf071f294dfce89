// fork.h - the fork hooks of each service of the POSIX layer.  fork.cpp
// calls them around fork() in one fixed order, outermost lock first, so that
// a child of a multi-threaded process finds every lock of the layer free.
#ifndef ZV_POSIX_FORK_H
#define ZV_POSIX_FORK_H

namespace zvp {

// Each Prepare takes the service's locks (which also finishes the making of
// its never-destroyed tables: a child must not find one half made); Parent
// and Child let them go.
void ModulesPrepareFork();
void ModulesParentAfterFork();
void ModulesChildAfterFork();

void StorePrepareFork();
void StoreParentAfterFork();
void StoreChildAfterFork();

void DebugPrepareFork();
void DebugParentAfterFork();
void DebugChildAfterFork();

void OlePrepareFork();
void OleParentAfterFork();
void OleChildAfterFork();

void NamesPrepareFork();
void NamesParentAfterFork();
void NamesChildAfterFork();

void ThreadsPrepareFork();
void ThreadsParentAfterFork();
void ThreadsChildAfterFork();

}  // namespace zvp

#endif  // ZV_POSIX_FORK_H
