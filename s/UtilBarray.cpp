// UtilBarray.cpp - the array kept in equal buckets that never move.
#include "UtilArrayImp.h"

#include <UtilArray.h>

#include <PortHeap.h>

#include <cstring>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilBarray.cpp", "1.0"};

}  // namespace

using namespace Util::Array;

UT_BARRAY::UT_BARRAY(void*** ref, int size, int step, unsigned char clear)
    : UT_BASE_ARRAY(size, step, clear), tableref(ref), nbuckets(0), bucketbytes(0), perbucket(0) {
    perbucket = adjustedStep(elsize, grow);
    int64_t bytes = static_cast<int64_t>(perbucket) * elsize;
    if (bytes > INT_MAX)
        UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgBadElementSize, elsize);
    bucketbytes = static_cast<int>(bytes);
    *tableref = nullptr;
    addbuckets(1);
}

UT_BARRAY::~UT_BARRAY() {
    for (int b = 0; b < nbuckets; ++b)
        qrn_free((*tableref)[b]);
    qrn_free(*tableref);
    *tableref = nullptr;
}

// Grows the table to `newnbuckets` and makes the new buckets. On failure the
// array is unchanged.
void UT_BARRAY::addbuckets(int newnbuckets) {
    void** table = static_cast<void**>(qrn_realloc(*tableref, static_cast<std::size_t>(newnbuckets) * sizeof(void*)));
    if (!table)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNoMemory);
    *tableref = table;
    for (int b = nbuckets; b < newnbuckets; ++b) {
        table[b] = qrn_malloc(static_cast<std::size_t>(bucketbytes));
        if (!table[b]) {
            for (int made = nbuckets; made < b; ++made)
                qrn_free(table[made]);
            UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgNoMemory);
        }
        clearmem(table[b], bucketbytes);
    }
    nbuckets = newnbuckets;
    capacity = static_cast<uint32_t>(static_cast<int64_t>(nbuckets) * perbucket);
}

void* UT_BARRAY::getaddr(int i) {
    if (i < 0 || i > kMaxIndex)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgBadExpandIndex);
    if (i >= count) {
        if (static_cast<int64_t>(i) >= static_cast<int64_t>(nbuckets) * perbucket)
            addbuckets(i / perbucket + 1);
        count = i + 1;
    }
    return static_cast<char*>((*tableref)[i / perbucket]) + static_cast<std::size_t>(i % perbucket) * elsize;
}

void UT_BARRAY::reserve(uint64_t n) {
    if (n > static_cast<uint64_t>(kMaxIndex) + 1)
        UTIL_REPORT().fatal(Util::Frame::kFatal, "%s", kMsgBadExpandIndex);
    if (n > 0 && n > static_cast<uint64_t>(count) &&
        n > static_cast<uint64_t>(nbuckets) * static_cast<uint64_t>(perbucket))
        addbuckets(static_cast<int>((n - 1) / perbucket + 1));
}

int UT_BARRAY::intgetindex(void* p) {
    int used = static_cast<int>((static_cast<int64_t>(count) + perbucket - 1) / perbucket);
    for (int b = 0; b < used; ++b) {
        intptr_t d = reinterpret_cast<intptr_t>(p) - reinterpret_cast<intptr_t>((*tableref)[b]);
        if (d >= 0 && d < bucketbytes)
            return static_cast<int>(d / elsize) + b * perbucket;
    }
    return -1;
}
