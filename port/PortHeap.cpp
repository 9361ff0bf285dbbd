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

Port::HeapCalls Port::setHeapCalls(const HeapCalls& calls) {
    HeapCalls previous = heapCalls;
    heapCalls = calls;
    return previous;
}

void* qrn_malloc(std::size_t size) { return heapCalls.malloc(size ? size : 1); }
void* qrn_realloc(void* p, std::size_t size) { return heapCalls.realloc(p, size ? size : 1); }
void qrn_free(void* p) { heapCalls.free(p); }

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
        .issueInternal("Assertion failed: %s (%s)\n", condition ? condition : "",
                       message ? message : "");
}
