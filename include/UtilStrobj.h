// UtilStrobj.h - a growable character buffer and a compact text value.
//
// UT_STRING keeps its text always terminated in `buf`; it grows by doubling
// its capacity (at least 10 characters). Growth past INT_MAX characters is a
// fatal report (code 19).
//
// UT_STROBJ holds an owned copy of a text, or no text at all (which orders
// before every text, the empty one included). The objects themselves are
// 16-byte elements of the shared pool ut_stringmem, taken and given back under
// the string pool lock, so they may be made and destroyed on any thread; one
// object is used by one thread at a time. Indexing outside the text is a
// fatal report (code 19, "Index out of bounds.\n").
//
// Lives in: s/UtilString.cpp, s/UtilStrobj.cpp; tests: tests/strobj_test.cpp; docs:
//   docs/strings.md.
#pragma once

#include "UtilExport.h"

#include <cstddef>

class UTIL_EXPORT UT_STRING {
public:
    static constexpr int kMinCapacity = 10;  // the smallest buffer, so that short texts never regrow it

    explicit UT_STRING(int size);
    ~UT_STRING();
    UT_STRING(const UT_STRING&) = delete;
    UT_STRING& operator=(const UT_STRING&) = delete;

    // A null text appends nothing.
    void append(const char* s);
    // A zero character is ignored.
    void append(char c);
    void reset();
    char* getbuf() const { return buf; }
    int getlength() const { return length; }
    int getcapacity() const { return capacity; }

private:
    void grow_buffer();

    char* buf;     // capacity bytes; the text and its zero
    int capacity;  // bytes of buf
    int length;    // characters of the text, below capacity
};

class UTIL_EXPORT UT_STROBJ {
public:
    UT_STROBJ() : text(nullptr), length(0) {}
    // A copy of `s`; a null `s` makes an object without text.
    UT_STROBJ(const char* s);
    UT_STROBJ(const UT_STROBJ& o);
    ~UT_STROBJ();

    UT_STROBJ& operator=(const UT_STROBJ& o);
    // Appends `s` and returns the new text (null when neither held a text).
    const char* append(const char* s);
    UT_STROBJ operator+(const UT_STROBJ& o) const;
    char& operator[](int i) const;

    // The text, or null.
    const char* getstring() const { return text; }
    int getlength() const { return length; }

    bool operator==(const UT_STROBJ& o) const { return compare(o) == 0; }
    bool operator!=(const UT_STROBJ& o) const { return compare(o) != 0; }
    bool operator<(const UT_STROBJ& o) const { return compare(o) < 0; }
    bool operator<=(const UT_STROBJ& o) const { return compare(o) <= 0; }
    bool operator>(const UT_STROBJ& o) const { return compare(o) > 0; }
    bool operator>=(const UT_STROBJ& o) const { return compare(o) >= 0; }

    // One element of ut_stringmem; a larger object (of a derived class) comes
    // from the general heap instead.
    static void* operator new(std::size_t size);
    static void operator delete(void* p, std::size_t size) noexcept;

private:
    struct Joined;
    char* intdupstr(const char* s);
    int compare(const UT_STROBJ& o) const;

    char* text;  // the text with its zero, from the string pool; null for none
    int length;  // characters of text
};
