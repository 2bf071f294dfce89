// record_sizes.cpp - the public records' sizes, fixed for callers that were
// compiled elsewhere: the packed layouts hold four-byte pointers and
// handles and a 24-byte critical section on 32-bit machines, eight-byte ones
// and a 40-byte section on 64-bit ones.
#include "platform/win32.h"
#include "zv.h"

constexpr bool kWide = sizeof(void*) == 8;
static_assert(sizeof(void*) == 4 || kWide, "a 32-bit or a 64-bit machine");
static_assert(sizeof(ZVContainer) == (kWide ? 178 : 110), "ZVContainer's packed size");
static_assert(sizeof(ZVContainerObj) == (kWide ? 27 : 15), "ZVContainerObj's packed size");
static_assert(sizeof(ZVMutex) == (kWide ? 20 : 16), "ZVMutex's packed size");
static_assert(sizeof(ParsedURI) == (kWide ? 112 : 56), "ParsedURI's size");
