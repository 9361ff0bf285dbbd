// PortHeap.h - heap, formatting, assertion report and the statistics base.
//
// Lives in: port/PortHeap.cpp; tests: tests/port_test.cpp, tests/heap_fault_test.cpp; docs:
//   docs/port.md.
#pragma once

#include "PortExport.h"

#include <cstddef>
#include <cstdlib>

// malloc / realloc / free. A request for 0 bytes gives a unique non-null block.
PORT_EXPORT void* qrn_malloc(std::size_t size);
PORT_EXPORT void* qrn_realloc(void* p, std::size_t size);
PORT_EXPORT void qrn_free(void* p);

namespace Port {
// The calls under qrn_malloc, qrn_realloc and qrn_free: the C library's by
// default. A test replaces them to make a chosen request fail; replace them
// only while no other thread uses the heap, and free every block with the
// calls that made it.
struct HeapCalls {
    void* (*malloc)(std::size_t size);
    void* (*realloc)(void* p, std::size_t size);
    void (*free)(void* p);
};
// Installs `calls` and returns the ones they replace.
PORT_EXPORT HeapCalls setHeapCalls(const HeapCalls& calls);
// True while the C library's calls are installed: inline paths elsewhere may
// then call malloc and free themselves.
PORT_EXPORT extern bool heapCallsDefault;

// qrn_malloc and qrn_free for hot paths: the C library's calls directly while
// they are installed, without a call into the library.
inline void* heapTake(std::size_t size) { return heapCallsDefault && size ? std::malloc(size) : ::qrn_malloc(size); }
inline void heapGive(void* p) {
    if (heapCallsDefault)
        std::free(p);
    else
        ::qrn_free(p);
}
}  // namespace Port

// printf-style formatting into storage of the calling thread, valid until the
// thread's next call.
PORT_EXPORT const char* qrnform(const char* format, ...) PORT_PRINTF(1, 2);

// Reports a failed internal assertion as an internal notice and returns.
PORT_EXPORT void ut_assert_failed(const char* file, int line, const char* condition, const char* message);

// Base of objects that report statistics; it only remembers their class name.
// It has no virtual operations, so it adds nothing but a pointer to a class.
class PORT_EXPORT UT_STATOBJ {
public:
    explicit UT_STATOBJ(const char* classname) : statname_(classname) {}
    const char* getstatname() const { return statname_; }

private:
    const char* statname_;  // the class name statistics print; the caller's, may be null
};
