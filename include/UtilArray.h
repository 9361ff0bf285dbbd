// UtilArray.h - growable arrays of fixed-size elements, and a plain quicksort;
// Util::quicksort is a_sort's quicksort over typed elements.
//
// UT_DARRAY keeps its elements in one block that is reallocated as it grows;
// UT_BARRAY keeps them in equal buckets reached through a table, so that an
// element never moves once made. Both write the current address of their
// storage (the block, or the bucket table) into a variable of the caller's, so
// that typed wrappers can index the elements directly, and both grow on
// access: asking for the address of element i makes elements 0..i exist.
// The caller's variable must exist before the array is made and outlive it; a
// wrapper that keeps it as a member must declare it in a base constructed
// before the array (a member would be initialised after the array's
// constructor has written it).
//
// Growth comes in whole steps of at least 40 bytes where the element size
// allows (the step becomes 40 / elsize when elsize * step < 40, and never less
// than 1), so a run of appends reallocates once per step.
//
// The base class sorts, inserts in order and binary-searches through the two
// storage primitives getaddr and intgetindex. Its operations are protected:
// they serve the typed wrappers that callers derive.
//
// Misuse is a fatal report (code 19): a negative index ("Bad index.\n" /
// "Bad expand index.\n"), an index past the largest count an int can hold, a
// sort range outside the elements ("Element out of range. Use expand.\n"), a
// comparison that is not an order ("Sort produced an unsorted list.\n"), an
// element size below 1, or an exhausted heap. After a fatal report the array
// is as it was before the call.
//
// One thread uses an array at a time. Sorting and searching keep no state
// outside the call, so different arrays may be sorted on different threads.
//
// Lives in: s/UtilArray.cpp, s/UtilDarray.cpp, s/UtilBarray.cpp, s/UtilSort.cpp, s/UtilArrayImp.h;
//   tests: tests/array_test.cpp; docs: docs/arrays.md.
#pragma once

#include "UtilExport.h"

#include <cstddef>
#include <cstdint>
#include <utility>

class UTIL_EXPORT UT_BASE_ARRAY {
public:
    using CompareFn = int (*)(const void*, const void*);

    int getcount() const { return count; }
    unsigned getcapacity() const { return capacity; }
    int getelsize() const { return elsize; }

protected:
    UT_BASE_ARRAY(int elsize, int grow, unsigned char clearflag);

    // Zeroes `bytes` bytes at p when the array clears its storage.
    virtual void clearmem(void* p, int bytes);
    // Sorts elements lo..hi (inclusive) in ascending order of cmp.
    virtual void qsort(int lo, int hi, CompareFn cmp);
    // dir >= 1: opens a slot at `start` (0 <= start <= count), moving the
    // elements after it up by one. dir <= 0: closes the slot before `start`
    // (1 <= start <= count). Other starts do nothing.
    virtual void a_shift(int start, int dir);
    // Sorts lo..hi (hi -1: to the end) and checks the result.
    virtual void a_sort(CompareFn cmp, int lo = 0, int hi = -1);
    // Inserts a copy of elsize bytes at key before the first element equal to
    // it, or at its place in the order; returns what a_bsearch returned.
    virtual int a_sortadd(const void* key, CompareFn cmp);
    // Index of the first element equal to key in the sorted array, or -1.
    virtual int a_bsearch(const void* key, CompareFn cmp);
    // Makes the array n elements long.
    virtual void a_resetnum(int n);
    // Index of the element at p, or -1.
    virtual int intgetindex(void* p) = 0;
    // A copy of the elements in one new block (released with qrn_free), or
    // null when there are none.
    virtual void* a_makearray();

public:
    virtual ~UT_BASE_ARRAY();
    // Address of element i, making elements up to i exist.
    virtual void* getaddr(int i) = 0;
    // Makes room for n elements without changing the count.
    virtual void reserve(uint64_t n);

protected:
    // Fatal report unless 0 <= i < count.
    void testaddr(int i) const;
    // clearmem over any number of bytes.
    void clearrange(void* p, std::size_t bytes);
    // Copies element `from` over element `to`.
    void copyelement(int from, int to);
    void swapelements(int a, int b);

    unsigned char clearflag;  // nonzero: new elements are cleared with clearmem
    int elsize;               // bytes per element, fixed at construction
    uint32_t capacity;        // elements the storage holds without growing
    int count;                // elements in use, 0 .. capacity
    int grow;                 // elements added per growth (UT_DARRAY)

private:
    int search(const void* key, CompareFn cmp, bool insert);
    // The first element's address when this is a UT_DARRAY whose getaddr and
    // qsort are not overridden (its elements then lie one after another from
    // there), else null.
    char* plainElements();
};

// Elements in one contiguous block; *dataref always holds its address.
class UTIL_EXPORT UT_DARRAY : public UT_BASE_ARRAY {
public:
    UT_DARRAY(void** dataref, int elsize, int grow, unsigned char clearflag);
    ~UT_DARRAY() override;
    UT_DARRAY(const UT_DARRAY&) = delete;
    UT_DARRAY& operator=(const UT_DARRAY&) = delete;

    void* getaddr(int i) override;
    void reserve(uint64_t n) override;

protected:
    void a_shift(int start, int dir) override;
    void a_resetnum(int n) override;
    int intgetindex(void* p) override;
    void* a_makearray() override;

private:
    void resize(uint32_t newcapacity);
    char* block() const { return static_cast<char*>(*dataref); }

    void** dataref;  // the caller's variable: always the block's current address
};

// Elements in buckets of perbucket elements; *tableref always holds the
// address of the bucket table. Buckets are released only at destruction.
class UTIL_EXPORT UT_BARRAY : public UT_BASE_ARRAY {
public:
    UT_BARRAY(void*** tableref, int elsize, int perbucket, unsigned char clearflag);
    ~UT_BARRAY() override;
    UT_BARRAY(const UT_BARRAY&) = delete;
    UT_BARRAY& operator=(const UT_BARRAY&) = delete;

    void* getaddr(int i) override;
    void reserve(uint64_t n) override;

protected:
    int intgetindex(void* p) override;

private:
    void addbuckets(int newnbuckets);

    void*** tableref;  // the caller's variable: always the bucket table's current address
    int nbuckets;      // buckets in the table
    int bucketbytes;   // perbucket × elsize
    int perbucket;     // elements per bucket, fixed at construction
};

class UTIL_EXPORT UT_SORT {
public:
    // Sorts n elements of `size` bytes at base in ascending order of cmp.
    // Returns 0 (doing nothing) when n < 2 or size < 1, else 1.
    static unsigned char qsort(char* base, int n, int size, UT_BASE_ARRAY::CompareFn cmp);
};

namespace Util {

namespace Details {

// The quicksort of UT_BASE_ARRAY::qsort and a_sort, over any way of reaching
// element i (at), swapping two (swap) and sorting a part (recurse): every
// caller makes the same comparisons in the same order. The middle element is
// the pivot; a part whose elements all equal it is done at once.
// The callables are taken by value: a copy in registers is not reloaded
// from memory after every comparison, as one reached by reference would be.
template <class Index, class Cmp, class At, class Swap, class Recurse>
void quicksort(Index lo, Index hi, Cmp cmp, At at, Swap swap, Recurse recurse) {
    while (lo < hi) {
        swap(lo, lo + (hi - lo) / 2);
        // The pivot rests at lo until the last swap: no swap below touches it.
        const auto& pivot = at(lo);
        Index last = lo;
        bool allequal = true;
        for (Index i = lo + 1; i <= hi; ++i) {
            const int r = cmp(at(i), pivot);
            if (r <= 0) {
                ++last;
                if (last != i)
                    swap(last, i);
                if (r < 0)
                    allequal = false;
            }
        }
        swap(lo, last);
        if (allequal) {
            lo = last + 1;  // lo..last-1 all equal the pivot
        } else if (last - lo >= hi - last) {
            recurse(last + 1, hi);
            hi = last - 1;
        } else {
            recurse(lo, last - 1);
            lo = last + 1;
        }
    }
}

}  // namespace Details

// Sorts [first, last) as UT_DARRAY::a_sort sorts: the same comparisons in the
// same order, so equal elements end in the same order, with `cmp` inline.
// `cmp(a, b)` is negative, zero or positive as a orders before, with or after b.
template <class It, class Cmp>
void quicksort(It first, It last, Cmp cmp) {
    using Index = decltype(last - first);
    auto at = [first](Index i) -> decltype(auto) { return first[i]; };
    auto swap = [first](Index a, Index b) {
        if (a != b) {
            using std::swap;
            swap(first[a], first[b]);
        }
    };
    auto part = [&](auto& self, Index lo, Index hi) -> void {
        Details::quicksort(lo, hi, cmp, at, swap, [&](Index l, Index h) { self(self, l, h); });
    };
    part(part, Index{0}, (last - first) - 1);
}

}  // namespace Util
