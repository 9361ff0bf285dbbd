// UtilArray.cpp - the array base: sorting, sorted insertion and binary search.
#include "UtilArrayImp.h"

#include <UtilArray.h>

#include <PortHeap.h>

#include <cstring>
#include <vector>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilArray.cpp", "1.0"};

}  // namespace

using namespace Util::Array;

UT_BASE_ARRAY::UT_BASE_ARRAY(int size, int step, unsigned char clear)
    : clearflag(clear), elsize(size), capacity(0), count(0), grow(step) {
    if (size < 1)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgBadElementSize, size);
}

UT_BASE_ARRAY::~UT_BASE_ARRAY() = default;

void UT_BASE_ARRAY::clearmem(void* p, int bytes) {
    if (clearflag && bytes > 0)
        std::memset(p, 0, static_cast<std::size_t>(bytes));
}

void UT_BASE_ARRAY::clearrange(void* p, std::size_t bytes) {
    auto* at = static_cast<char*>(p);
    while (bytes > 0) {
        std::size_t step = bytes < INT_MAX ? bytes : INT_MAX;
        clearmem(at, static_cast<int>(step));
        at += step;
        bytes -= step;
    }
}

void UT_BASE_ARRAY::reserve(uint64_t) {}

void UT_BASE_ARRAY::testaddr(int i) const {
    if (i < 0 || i >= count)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgOutOfRange);
}

void UT_BASE_ARRAY::copyelement(int from, int to) {
    std::memcpy(getaddr(to), getaddr(from), static_cast<std::size_t>(elsize));
}

void UT_BASE_ARRAY::swapelements(int a, int b) {
    void* p = getaddr(a);
    void* q = getaddr(b);
    // The same element twice: swapBytes wants two separate ranges.
    if (p != q)
        Util::Array::swapBytes(p, q, static_cast<std::size_t>(elsize));
}

void UT_BASE_ARRAY::a_resetnum(int n) {
    if (n < 0)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgBadIndex);
    if (n <= count)
        count = n;
    else
        getaddr(n - 1);
}

void UT_BASE_ARRAY::a_shift(int start, int dir) {
    if (dir >= 1) {
        if (start < 0 || start > count)
            return;
        int old = count;
        getaddr(count);
        for (int j = old - 1; j >= start; --j)
            copyelement(j, j + 1);
    } else {
        if (start < 1 || start > count)
            return;
        for (int j = start; j < count; ++j)
            copyelement(j, j - 1);
        a_resetnum(count - 1);
    }
}

void* UT_BASE_ARRAY::a_makearray() {
    if (count < 1)
        return nullptr;
    auto* out = static_cast<char*>(qrn_malloc(static_cast<std::size_t>(count) * static_cast<std::size_t>(elsize)));
    if (!out)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNoMemory);
    for (int i = 0; i < count; ++i)
        std::memcpy(out + static_cast<std::size_t>(i) * elsize, getaddr(i), static_cast<std::size_t>(elsize));
    return out;
}

namespace {

// Elements of `size` bytes from `base`, for arrays whose addresses are known.
// The sizes of ints and pointers are fixed at compile time (kSize), others
// are read at run time (kSize 0).
template <std::size_t kSize>
struct PlainElements {
    char* base;
    std::size_t size;
    UT_BASE_ARRAY::CompareFn cmp;

    std::size_t bytes() const { return kSize ? kSize : size; }
    char* at(int i) const { return base + static_cast<std::size_t>(i) * bytes(); }
    // The callables hold a copy of this object, which stays in registers
    // across the comparison calls; a pointer to it would be read again after
    // each one.
    void sort(int lo, int hi) const {
        const PlainElements self = *this;
        Util::Details::quicksort(
            lo, hi, cmp, [self](int i) { return self.at(i); },
            [self](int a, int b) {
                if (a != b)
                    swapBytes(self.at(a), self.at(b), self.bytes());
            },
            [self](int l, int h) { self.sort(l, h); });
    }
};

}  // namespace

void UT_BASE_ARRAY::qsort(int lo, int hi, CompareFn cmp) {
    Util::Details::quicksort(
        lo, hi, cmp, [this](int i) { return getaddr(i); }, [this](int a, int b) { swapelements(a, b); },
        [this, cmp](int l, int h) { qsort(l, h, cmp); });
}

void UT_BASE_ARRAY::a_sort(CompareFn cmp, int lo, int hi) {
    if (count == 0)
        return;
    if (hi == -1)
        hi = count - 1;
    // The range must lie inside the elements: getaddr would grow the array.
    if (lo < 0 || hi >= count || (lo <= hi && lo >= count))
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgOutOfRange);
    // Where nothing the sort calls is overridden, only cmp can see it work:
    // the elements are then reached by their addresses, not by a virtual
    // call each, with the same comparisons in the same order.
    char* const base = plainElements();
    const auto size = static_cast<std::size_t>(elsize);
    if (!base)
        qsort(lo, hi, cmp);
    else if (size == 4)
        PlainElements<4>{base, size, cmp}.sort(lo, hi);
    else if (size == 8)
        PlainElements<8>{base, size, cmp}.sort(lo, hi);
    else
        PlainElements<0>{base, size, cmp}.sort(lo, hi);
    auto at = [&](int i) -> const void* { return base ? base + static_cast<std::size_t>(i) * size : getaddr(i); };
    for (int i = lo + 1; i <= hi; ++i)
        if (cmp(at(i - 1), at(i)) > 0)
            UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgUnsorted);
}

namespace {
// Set by a_sortadd for the length of its call on this thread, so that the
// virtual a_bsearch it calls inserts the key.
thread_local bool insertMode = false;

// Insert mode for one a_sortadd call, cleared also when the call throws.
struct InsertScope {
    InsertScope() { insertMode = true; }
    ~InsertScope() { insertMode = false; }
};

}  // namespace

int UT_BASE_ARRAY::a_sortadd(const void* key, CompareFn cmp) {
    InsertScope scope;
    return a_bsearch(key, cmp);
}

int UT_BASE_ARRAY::a_bsearch(const void* key, CompareFn cmp) {
    bool insert = insertMode;
    insertMode = false;  // a comparison function's own searches only search
    return search(key, cmp, insert);
}

int UT_BASE_ARRAY::search(const void* key, CompareFn cmp, bool insert) {
    int lo = 0, hi = count - 1, result = -1, mid = 0;
    while (lo <= hi) {
        mid = lo + (hi - lo) / 2;
        int r = cmp(key, getaddr(mid));
        if (r == 0) {
            while (mid > 0 && cmp(key, getaddr(mid - 1)) == 0)
                --mid;
            result = mid;
            break;
        }
        if (r > 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    if (!insert)
        return result;
    // The key may lie inside this array, which the insertion moves.
    std::vector<unsigned char> copy(static_cast<const unsigned char*>(key),
                                    static_cast<const unsigned char*>(key) + elsize);
    if (mid >= count) {
        std::memcpy(getaddr(mid), copy.data(), copy.size());
    } else {
        if (cmp(copy.data(), getaddr(mid)) > 0)
            ++mid;
        a_shift(mid, 1);
        std::memcpy(getaddr(mid), copy.data(), copy.size());
    }
    return result;
}
