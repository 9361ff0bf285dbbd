// UtilStrobj.cpp - text values in the shared 16-byte pool.
#include "UtilReport.h"
#include "UtilStatics.h"

#include <UtilSmem.h>
#include <UtilStrobj.h>

#include <PortHeap.h>
#include <PortString.h>

#include <climits>
#include <cstring>
#include <new>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilStrobj.cpp", "1.0"};

constexpr std::size_t kElementBytes = 16;
constexpr const char* kMsgIndex = "Index out of bounds.\n";
constexpr const char* kMsgTooLong = "UT_STROBJ: a text of more than %d characters.\n";

// A length that the object's int can hold.
int checkedLength(std::size_t n) {
    if (n > static_cast<std::size_t>(INT_MAX))
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgTooLong, INT_MAX);
    return static_cast<int>(n);
}

Util::Statics::Shared<Port_ThrMutex> poolLock;

// The texts come from the library's heap calls: one call, not operator
// new[]'s two, for a text that lives as long as its object.
char* newText(std::size_t length) {
    void* p = Port::heapTake(length + 1);
    if (!p)
        throw std::bad_alloc();
    return static_cast<char*>(p);
}
void freeText(char* text) { Port::heapGive(text); }

}  // namespace

namespace Util::Statics {

Port_ThrMutex& stringPoolLock() {
    return once(poolLock, kUnit, __LINE__, [] { return new Port_ThrMutex; });
}

}  // namespace Util::Statics

static_assert(sizeof(UT_STROBJ) <= kElementBytes, "a string object fits one pool element");

// The concatenation of two texts, either of which may be null: null when both
// are, else a new text.
struct UT_STROBJ::Joined {
    Joined(const char* l, const char* r) {
        if (!l && !r)
            return;
        std::size_t a = UT_STR::Len(l), b = UT_STR::Len(r);
        checkedLength(a + b);
        text = newText(a + b);
        if (a)
            std::memcpy(text, l, a);
        if (b)
            std::memcpy(text + a, r, b);
        text[a + b] = '\0';
        length = static_cast<int>(a + b);  // checked above; a and b end at their first zero byte
    }
    char* text = nullptr;
    int length = 0;
};

char* UT_STROBJ::intdupstr(const char* s) {
    if (!s) {
        text = nullptr;
        length = 0;
        return nullptr;
    }
    std::size_t n = UT_STR::Len(s);
    int checked = checkedLength(n);
    text = newText(n);
    std::memcpy(text, s, n + 1);
    length = checked;
    return text;
}

UT_STROBJ::UT_STROBJ(const char* s) : text(nullptr), length(0) { intdupstr(s); }

UT_STROBJ::UT_STROBJ(const UT_STROBJ& o) : text(nullptr), length(0) { intdupstr(o.text); }

UT_STROBJ::~UT_STROBJ() { freeText(text); }

UT_STROBJ& UT_STROBJ::operator=(const UT_STROBJ& o) {
    if (this == &o)
        return *this;  // freeing first would lose the very text to copy
    char* old = text;
    intdupstr(o.text);
    freeText(old);
    return *this;
}

const char* UT_STROBJ::append(const char* s) {
    Joined j(text, s);
    freeText(text);
    text = j.text;
    length = j.length;
    return text;
}

UT_STROBJ UT_STROBJ::operator+(const UT_STROBJ& o) const {
    Joined j(text, o.text);
    UT_STROBJ out;
    out.text = j.text;
    out.length = j.length;
    return out;
}

char& UT_STROBJ::operator[](int i) const {
    if (i < 0 || i >= length)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgIndex);
    return text[i];
}

int UT_STROBJ::compare(const UT_STROBJ& o) const {
    if (text == o.text)
        return 0;
    if (!text)
        return -1;
    if (!o.text)
        return 1;
    return UT_STR::Compare(text, o.text);
}

void* UT_STROBJ::operator new(std::size_t size) {
    if (size > kElementBytes)
        return ::operator new(size);
    void* p = Util::Frame::guarded(Util::Statics::stringPoolLock(), [] { return ut_stringmem.getmem(); });
    if (!p)
        throw std::bad_alloc();
    return p;
}

void UT_STROBJ::operator delete(void* p, std::size_t size) noexcept {
    if (!p)
        return;
    if (size > kElementBytes) {
        ::operator delete(p);
        return;
    }
    try {
        Util::Frame::guarded(Util::Statics::stringPoolLock(), [p] { ut_stringmem.relmem(p); });
    } catch (...) {
        // The pool cannot be locked: the element stays taken rather than
        // corrupt the pool.
    }
}
