// UtilString.cpp - the growable character buffer.
#include "UtilReport.h"

#include <UtilStrobj.h>

#include <climits>
#include <cstring>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilString.cpp", "1.0"};

constexpr const char* kMsgTooLong = "UT_STRING: a text of more than %d characters.\n";

}  // namespace

UT_STRING::UT_STRING(int size) : buf(nullptr), capacity(size < kMinCapacity ? kMinCapacity : size), length(0) {
    buf = new char[static_cast<std::size_t>(capacity) + 1];
    buf[0] = '\0';
}

UT_STRING::~UT_STRING() { delete[] buf; }

void UT_STRING::grow_buffer() {
    if (capacity > INT_MAX / 2)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgTooLong, INT_MAX / 2);
    int grown = capacity * 2;
    char* bigger = new char[static_cast<std::size_t>(grown) + 1];
    std::memcpy(bigger, buf, static_cast<std::size_t>(capacity));
    bigger[capacity] = '\0';
    delete[] buf;
    buf = bigger;
    capacity = grown;
}

void UT_STRING::append(const char* s) {
    for (; s && *s; ++s) {
        if (length >= capacity)
            grow_buffer();
        buf[length++] = *s;
    }
    buf[length] = '\0';
}

void UT_STRING::append(char c) {
    if (c == '\0')
        return;
    if (length >= capacity)
        grow_buffer();
    buf[length++] = c;
    buf[length] = '\0';
}

void UT_STRING::reset() {
    length = 0;
    buf[0] = '\0';
}
