// PortString.h - owned text, text helpers and path helpers of the platform layer.
//
// Port::StringBase<char> is a std::string with the few extras callers of the
// library expect (printf-style Format, += char), so it works wherever a
// std::string does, including as a key of ordered and hashed maps. A null text
// makes an empty string rather than undefined behaviour.
//
// UT_STR and UT_PATH are static helpers. Character classification is 7-bit
// ASCII only and independent of the locale: a byte outside ASCII (or a
// negative char) is never a letter, digit, space or hex digit.
//
// Lives in: port/PortString.cpp; tests: tests/port_test.cpp; docs: docs/port.md.
#pragma once

#include "PortExport.h"

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>
#include <type_traits>

namespace Port {

// printf-style formatting into a std::string (any length).
PORT_EXPORT std::string vformat(const char* format, va_list args) PORT_PRINTF(1, 0);
PORT_EXPORT std::string format(const char* format, ...) PORT_PRINTF(1, 2);

template <class C>
class StringBase : public std::basic_string<C> {
    static_assert(std::is_same_v<C, char>, "only StringBase<char> is provided");
    using Base = std::basic_string<C>;

public:
    using Base::Base;
    StringBase() = default;
    StringBase(const C* text) : Base(text ? text : "") {}
    StringBase(const Base& text) : Base(text) {}
    StringBase(Base&& text) : Base(std::move(text)) {}

    // Replaces the contents with the formatted text; returns *this.
    StringBase& Format(const char* fmt, ...) PORT_PRINTF(2, 3) {
        va_list args;
        va_start(args, fmt);
        Base::operator=(vformat(fmt, args));
        va_end(args);
        return *this;
    }

    static StringBase doFormat(const char* fmt, ...) PORT_PRINTF(1, 2) {
        va_list args;
        va_start(args, fmt);
        StringBase result(vformat(fmt, args));
        va_end(args);
        return result;
    }
};

}  // namespace Port

template <>
struct std::hash<Port::StringBase<char>> {
    std::size_t operator()(const Port::StringBase<char>& s) const noexcept { return std::hash<std::string>()(s); }
};

// Text helpers with the meaning of the C functions named beside them. A null
// text is treated as the empty text by Len and the comparisons.
class PORT_EXPORT UT_STR {
public:
    static std::size_t Len(const char* s);                              // strlen
    static char* Copy(char* dst, const char* src);                      // strcpy
    static char* Cat(char* dst, const char* src);                       // strcat
    static int Compare(const char* a, const char* b);                   // strcmp
    static int ICompare(const char* a, const char* b);                  // ASCII strcasecmp
    static int INCompare(const char* a, const char* b, std::size_t n);  // ASCII strncasecmp
    static const char* FindChar(const char* s, int c);                  // strchr
    static char* FindChar(char* s, int c);
    static long StrToL(const char* s, char** end, int base);  // strtol
    // snprintf: never writes more than `size` bytes, always terminates when size > 0.
    static int SPrintf(char* buf, std::size_t size, const char* fmt, ...) PORT_PRINTF(3, 4);
    static int ToUpper(int c);
    static bool IsAlnum(int c);
    static bool IsAlpha(int c);
    static bool IsSpace(int c);
    static bool IsXDigit(int c);
    // A new copy, released with delete[] (or DelStrings); null gives null.
    static char* Dup(const char* s);
    // Releases the n copies array[0..n-1] (not the array itself).
    static void DelStrings(char** array, int n);
    // Undoes the light obfuscation of names the library keeps encoded: every
    // printable ASCII character other than space is rotated by 47 (ROT47,
    // which is its own inverse). Rewrites the text in place.
    static void Decode(char* text);
};

// Path helpers. The extension is what follows the last '.' of the final path
// component (after the last '/' or '\'); a component without a dot has none.
// Each result is written into `buf` when one is given (it must hold the whole
// path: no result is longer) and otherwise into storage of the calling thread
// that the next call on that thread reuses.
class PORT_EXPORT UT_PATH {
public:
    static const char* GetRoot(const char* path, char* buf);  // path without extension
    static const char* GetBase(const char* path, char* buf);  // file name without directory and extension
    static const char* GetExt(const char* path, char* buf);   // extension without dot, or null
};
