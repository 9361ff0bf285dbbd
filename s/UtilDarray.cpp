// UtilDarray.cpp - the array kept in one contiguous, reallocated block.
#include "UtilArrayImp.h"

#include <UtilArray.h>

#include <PortHeap.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilDarray.cpp", "1.0"};

}  // namespace

using namespace Util::Array;

UT_DARRAY::UT_DARRAY(void** ref, int size, int step, unsigned char clear)
    : UT_BASE_ARRAY(size, step, clear), dataref(ref) {
    grow = adjustedStep(elsize, grow);
    *dataref = nullptr;
    resize(static_cast<uint32_t>(grow));
}

UT_DARRAY::~UT_DARRAY() {
    qrn_free(*dataref);
    *dataref = nullptr;
    dataref = nullptr;
}

// Reallocates the block to `newcapacity` elements, zeroing what is added when
// the array clears. On failure the block and the array are unchanged.
void UT_DARRAY::resize(uint32_t newcapacity) {
    std::size_t bytes = static_cast<std::size_t>(newcapacity) * static_cast<std::size_t>(elsize);
    void* moved = qrn_realloc(*dataref, bytes);
    if (!moved)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNoMemory);
    *dataref = moved;
    if (newcapacity > capacity)
        clearrange(block() + static_cast<std::size_t>(capacity) * elsize,
                   bytes - static_cast<std::size_t>(capacity) * elsize);
    capacity = newcapacity;
}

void* UT_DARRAY::getaddr(int i) {
    if (i < 0 || i > kMaxIndex)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgBadIndex);
    if (i >= count) {
        if (static_cast<uint32_t>(i) >= capacity)
            resize(static_cast<uint32_t>((i / grow + 1) * static_cast<int64_t>(grow)));
        count = i + 1;
    }
    return block() + static_cast<std::size_t>(i) * elsize;
}

void UT_DARRAY::reserve(uint64_t n) {
    if (n > static_cast<uint64_t>(kMaxIndex) + 1)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgBadIndex);
    if (n > 0 && n > static_cast<uint64_t>(count) && n > capacity)
        resize(static_cast<uint32_t>(((n - 1) / grow + 1) * grow));
}

void UT_DARRAY::a_resetnum(int n) {
    if (n < 0)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgBadIndex);
    if (n == count)
        return;
    if (n > count) {
        getaddr(n - 1);
        return;
    }
    int old = count;
    count = n;
    int clearTo = old;
    if (capacity != static_cast<uint32_t>(grow) && capacity - n >= static_cast<uint32_t>(grow)) {
        resize(static_cast<uint32_t>(((n > 0 ? n - 1 : 0) / grow + 1) * static_cast<int64_t>(grow)));
        clearTo = static_cast<int>(capacity);
    }
    clearrange(block() + static_cast<std::size_t>(n) * elsize, static_cast<std::size_t>(clearTo - n) * elsize);
}

void UT_DARRAY::a_shift(int start, int dir) {
    if (dir >= 1) {
        if (start < 0 || start > count)
            return;
        int old = count;
        getaddr(count);
        std::memmove(block() + static_cast<std::size_t>(start + 1) * elsize,
                     block() + static_cast<std::size_t>(start) * elsize,
                     static_cast<std::size_t>(old - start) * elsize);
    } else {
        if (start < 1 || start > count)
            return;
        std::memmove(block() + static_cast<std::size_t>(start - 1) * elsize,
                     block() + static_cast<std::size_t>(start) * elsize,
                     static_cast<std::size_t>(count - start) * elsize);
        a_resetnum(count - 1);
    }
}

int UT_DARRAY::intgetindex(void* p) {
    intptr_t d = reinterpret_cast<intptr_t>(p) - reinterpret_cast<intptr_t>(*dataref);
    if (d < 0 || d % elsize != 0)
        return -1;
    return static_cast<int>(d / elsize);
}

void* UT_DARRAY::a_makearray() {
    if (count < 1)
        return nullptr;
    std::size_t bytes = static_cast<std::size_t>(count) * elsize;
    void* out = qrn_malloc(bytes);
    if (!out)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNoMemory);
    std::memcpy(out, *dataref, bytes);
    return out;
}

namespace {

// Whether `a` and `b` have the same function in the vtable slot of the
// virtual member `fn`. The Itanium C++ ABI (GCC and clang) holds in a pointer
// to a virtual member function 1 + the byte offset of its slot, with no
// adjustment for a single base. Where that is not known to hold, the answer
// is no, which only means the slower, always correct path.
template <class Fn>
bool sameSlot(const UT_BASE_ARRAY& a, const UT_BASE_ARRAY& b, Fn fn) {
#if defined(__GXX_ABI_VERSION) && (defined(__x86_64__) || defined(__i386__))
    struct Representation {
        uintptr_t ptr;
        std::ptrdiff_t adj;
    };
    static_assert(sizeof(Fn) == sizeof(Representation), "a pointer to member function is two words here");
    Representation rep;
    std::memcpy(&rep, &fn, sizeof rep);
    if ((rep.ptr & 1) == 0 || rep.adj != 0)
        return false;
    const std::size_t slot = (rep.ptr - 1) / sizeof(void*);
    void* const* va;
    void* const* vb;
    std::memcpy(&va, static_cast<const void*>(&a), sizeof va);
    std::memcpy(&vb, static_cast<const void*>(&b), sizeof vb);
    return va[slot] == vb[slot];
#else
    (void)a;
    (void)b;
    (void)fn;
    return false;
#endif
}

}  // namespace

char* UT_BASE_ARRAY::plainElements() {
    if (count == 0 || !dynamic_cast<UT_DARRAY*>(this))
        return nullptr;
    // An array of UT_DARRAY's own functions to compare with; made once.
    static void* probeBlock = nullptr;
    static UT_DARRAY probe(&probeBlock, 1, 1, 0);
    if (!sameSlot(*this, probe, &UT_BASE_ARRAY::getaddr) || !sameSlot(*this, probe, &UT_BASE_ARRAY::qsort))
        return nullptr;
    // UT_DARRAY's own getaddr, for an element that exists: nothing grows.
    return static_cast<char*>(getaddr(0));
}
