// PortString.cpp - text and path helpers.
#include "PortString.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Port {

std::string vformat(const char* fmt, va_list args) {
    if (!fmt)
        return {};
    char small[256];
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    if (n < 0)
        return {};
    if (static_cast<std::size_t>(n) < sizeof small)
        return std::string(small, static_cast<std::size_t>(n));
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, args);
    return std::string(big.data(), static_cast<std::size_t>(n));
}

std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    std::string s = vformat(fmt, args);
    va_end(args);
    return s;
}

}  // namespace Port

namespace {

const char* orEmpty(const char* s) { return s ? s : ""; }

int asciiLower(int c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

}  // namespace

std::size_t UT_STR::Len(const char* s) { return s ? std::strlen(s) : 0; }
char* UT_STR::Copy(char* dst, const char* src) { return std::strcpy(dst, orEmpty(src)); }
char* UT_STR::Cat(char* dst, const char* src) { return std::strcat(dst, orEmpty(src)); }
int UT_STR::Compare(const char* a, const char* b) { return std::strcmp(orEmpty(a), orEmpty(b)); }

int UT_STR::ICompare(const char* a, const char* b) { return INCompare(a, b, static_cast<std::size_t>(-1)); }

int UT_STR::INCompare(const char* a, const char* b, std::size_t n) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(orEmpty(a));
    const unsigned char* q = reinterpret_cast<const unsigned char*>(orEmpty(b));
    for (; n > 0; --n, ++p, ++q) {
        int d = asciiLower(*p) - asciiLower(*q);
        if (d != 0 || *p == 0)
            return d;
    }
    return 0;
}

const char* UT_STR::FindChar(const char* s, int c) { return s ? std::strchr(s, c) : nullptr; }
char* UT_STR::FindChar(char* s, int c) { return s ? std::strchr(s, c) : nullptr; }

long UT_STR::StrToL(const char* s, char** end, int base) { return std::strtol(orEmpty(s), end, base); }

int UT_STR::SPrintf(char* buf, std::size_t size, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    int n = std::vsnprintf(buf, size, fmt, args);
    va_end(args);
    return n;
}

int UT_STR::ToUpper(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }
bool UT_STR::IsAlpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool UT_STR::IsAlnum(int c) { return IsAlpha(c) || (c >= '0' && c <= '9'); }
bool UT_STR::IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool UT_STR::IsXDigit(int c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char* UT_STR::Dup(const char* s) {
    if (!s)
        return nullptr;
    std::size_t n = std::strlen(s) + 1;
    char* copy = new char[n];
    std::memcpy(copy, s, n);
    return copy;
}

void UT_STR::DelStrings(char** array, int n) {
    if (!array)
        return;
    for (int i = 0; i < n; ++i) {
        delete[] array[i];
        array[i] = nullptr;
    }
}

void UT_STR::Decode(char* text) {
    if (!text)
        return;
    for (; *text; ++text) {
        if (*text >= '!' && *text <= '~')
            *text = static_cast<char>('!' + (*text - '!' + 47) % 94);
    }
}

namespace {

// Index of the start of the final path component.
std::size_t componentStart(const std::string& path) {
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? 0 : slash + 1;
}

// Index of the extension's dot, or npos.
std::size_t extensionDot(const std::string& path) {
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < componentStart(path))
        return std::string::npos;
    return dot;
}

const char* deliver(const std::string& result, char* buf) {
    if (buf) {
        std::memcpy(buf, result.c_str(), result.size() + 1);
        return buf;
    }
    thread_local std::string storage;
    storage = result;
    return storage.c_str();
}

}  // namespace

const char* UT_PATH::GetRoot(const char* path, char* buf) {
    std::string p = orEmpty(path);
    std::size_t dot = extensionDot(p);
    return deliver(dot == std::string::npos ? p : p.substr(0, dot), buf);
}

const char* UT_PATH::GetBase(const char* path, char* buf) {
    std::string p = orEmpty(path);
    std::size_t start = componentStart(p);
    std::size_t dot = extensionDot(p);
    return deliver(p.substr(start, dot == std::string::npos ? std::string::npos : dot - start), buf);
}

const char* UT_PATH::GetExt(const char* path, char* buf) {
    std::string p = orEmpty(path);
    std::size_t dot = extensionDot(p);
    if (dot == std::string::npos)
        return nullptr;
    return deliver(p.substr(dot + 1), buf);
}
