// UtilSort.cpp - quicksort of a plain memory range.
//
// A median-of-three quicksort that leaves partitions of fewer than four
// elements alone, then one insertion sort over the whole range; the smallest
// element is moved to the front first so that it stops the insertion walks.
// Its parameters travel in a context of the call, not in shared variables, so
// that sorts on different threads do not disturb each other.
//
// The partitioning alone goes quadratic on inputs with many repeated keys (a
// million ints of 8 distinct values took 86 s). Each range therefore has a
// budget of 2 log2(n) partition rounds; a range that exhausts it is finished
// by heapsort. Inputs that stay within the budget are sorted exactly as
// before, equal keys included.
#include "UtilArrayImp.h"

#include <UtilArray.h>

#include <cstring>
#include <vector>

namespace {

constexpr int kPartitionMin = 4;  // partitions below this many elements stay unsorted
constexpr int kMedianMin = 6;     // partitions from this many elements use a median of three

struct Sort {
    int size;                      // bytes per element
    UT_BASE_ARRAY::CompareFn cmp;  // the caller's comparison
    std::ptrdiff_t thresh;         // kPartitionMin elements, in bytes
    std::ptrdiff_t mthresh;        // kMedianMin elements, in bytes

    int compare(const char* a, const char* b) const { return cmp(a, b); }

    void swap(char* a, char* b) const {
        if (a != b)
            Util::Array::swapBytes(a, b, static_cast<std::size_t>(size));
    }

    void heapsort(char* lo, std::size_t n) const {
        auto at = [&](std::size_t i) { return lo + i * static_cast<std::size_t>(size); };
        auto sift = [&](std::size_t root, std::size_t end) {
            for (std::size_t child; (child = 2 * root + 1) < end; root = child) {
                if (child + 1 < end && compare(at(child), at(child + 1)) < 0)
                    ++child;
                if (compare(at(root), at(child)) >= 0)
                    return;
                swap(at(root), at(child));
            }
        };
        for (std::size_t i = n / 2; i-- > 0;)
            sift(i, n);
        for (std::size_t end = n; end-- > 1;) {
            swap(at(0), at(end));
            sift(0, end);
        }
    }

    // Sorts [lo, hi) down to partitions of fewer than kPartitionMin elements,
    // in at most `budget` partition rounds.
    void partition(char* lo, char* hi, int budget) const {
        std::ptrdiff_t len = hi - lo;
        while (len >= thresh) {
            if (budget-- == 0) {
                heapsort(lo, static_cast<std::size_t>(len / size));
                return;
            }
            char* mid = lo + size * ((len / size) / 2);
            if (len >= mthresh) {
                char* last = hi - size;
                char* j = compare(lo, mid) > 0 ? lo : mid;
                if (compare(j, last) > 0) {
                    j = (j == lo) ? mid : lo;
                    if (compare(j, last) < 0)
                        j = last;
                }
                if (j != mid)
                    swap(j, mid);
            }
            char* i = lo;
            char* j = hi - size;
            for (;;) {
                while (i < mid && compare(i, mid) <= 0)
                    i += size;
                bool swapped = false;
                while (j > mid) {
                    if (compare(mid, j) <= 0) {
                        j -= size;
                        continue;
                    }
                    if (i == mid) {
                        swap(mid, j);
                        mid = j;
                        i += size;
                    } else {
                        swap(i, j);
                        j -= size;
                        i += size;
                    }
                    swapped = true;
                    break;
                }
                if (swapped)
                    continue;
                if (i == mid)
                    break;
                swap(i, mid);
                mid = i;
                j -= size;
            }
            char* right = mid + size;
            std::ptrdiff_t leftLen = mid - lo;
            std::ptrdiff_t rightLen = hi - right;
            if (leftLen <= rightLen) {
                if (leftLen >= thresh)
                    partition(lo, mid, budget);
                lo = right;
                len = rightLen;
            } else {
                if (rightLen >= thresh)
                    partition(right, hi, budget);
                hi = mid;
                len = leftLen;
            }
        }
    }
};

}  // namespace

unsigned char UT_SORT::qsort(char* base, int n, int size, UT_BASE_ARRAY::CompareFn cmp) {
    if (n < 2 || size < 1 || !base || !cmp)
        return 0;
    const Sort s{size, cmp, static_cast<std::ptrdiff_t>(kPartitionMin) * size,
                 static_cast<std::ptrdiff_t>(kMedianMin) * size};
    char* end = base + static_cast<std::ptrdiff_t>(n) * size;
    char* scanEnd = end;
    if (n >= kPartitionMin) {
        int budget = 0;
        for (int m = n; m > 1; m >>= 1)
            budget += 2;
        s.partition(base, end, budget);
        scanEnd = base + s.thresh;
    }
    char* smallest = base;
    for (char* p = base + size; p < scanEnd; p += size)
        if (s.compare(smallest, p) > 0)
            smallest = p;
    if (smallest != base)
        s.swap(base, smallest);

    std::vector<char> held(static_cast<std::size_t>(size));
    for (char* item = base + size; item < end; item += size) {
        // The walk also stops at the front, so an inconsistent comparison
        // cannot lead it out of the range.
        char* place = item;
        while (place > base && s.compare(place - size, item) > 0)
            place -= size;
        if (place != item) {
            std::memcpy(held.data(), item, held.size());
            std::memmove(place + size, place, static_cast<std::size_t>(item - place));
            std::memcpy(place, held.data(), held.size());
        }
    }
    return 1;
}
