// PortHeap.cpp - heap, formatting and assertion report.
#include "PortHeap.h"

#include "PortMsg.h"
#include "PortString.h"

#include <cstdarg>
#include <cstdlib>
#include <string>

namespace {
Port::HeapCalls heapCalls{std::malloc, std::realloc, std::free};
}  // namespace

bool Port::heapCallsDefault = true;

Port::HeapCalls Port::setHeapCalls(const HeapCalls& calls) {
    HeapCalls previous = heapCalls;
    heapCalls = calls;
    heapCallsDefault = calls.malloc == std::malloc && calls.realloc == std::realloc && calls.free == std::free;
    return previous;
}

// Direct calls while the C library's functions are installed: the common
// case costs no indirect call.
void* qrn_malloc(std::size_t size) {
    size = size ? size : 1;
    return Port::heapCallsDefault ? std::malloc(size) : heapCalls.malloc(size);
}
void* qrn_realloc(void* p, std::size_t size) {
    size = size ? size : 1;
    return Port::heapCallsDefault ? std::realloc(p, size) : heapCalls.realloc(p, size);
}
void qrn_free(void* p) {
    if (Port::heapCallsDefault)
        std::free(p);
    else
        heapCalls.free(p);
}

const char* qrnform(const char* format, ...) {
    thread_local std::string text;
    va_list args;
    va_start(args, format);
    text = Port::vformat(format, args);
    va_end(args);
    return text.c_str();
}

void ut_assert_failed(const char* file, int line, const char* condition, const char* message) {
    Port_MsgManData::createObject("Portability", file, line, "")
        .issueInternal("Assertion failed: %s (%s)\n", condition ? condition : "", message ? message : "");
}
