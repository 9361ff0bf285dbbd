// UtilPrime.cpp - primality tests, prime searches and the prime table.
#include "UtilWide.h"

#include <UtilPrime.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <vector>

namespace {

constexpr uint64_t kPrimeTable[] = {
#include "UtilPrimeTable.inc"
};
static_assert(std::size(kPrimeTable) == 410, "the table holds 410 primes");

constexpr uint64_t kLargestPrime = 18446744073709551557ull;

// Ranges whose top is at most this are sieved when the test is exact (trial
// division gives exactly the primes, so the sieve gives the same list): the
// base primes then stay below 2^20.
constexpr uint64_t kSieveTop = uint64_t(1) << 40;
constexpr uint64_t kSieveSegment = uint64_t(1) << 16;  // odd numbers per segment

// Appends the primes among the odd numbers first, first + 2, ... <= last
// (first odd, at least 5) with a segmented sieve of Eratosthenes.
void sieveOdd(uint64_t first, uint64_t last, std::vector<uint64_t>& out) {
    uint64_t root = 1;
    while ((root + 1) * (root + 1) <= last)
        ++root;
    std::vector<bool> composite(root + 1, false);
    std::vector<uint64_t> base;
    for (uint64_t p = 3; p <= root; p += 2) {
        if (composite[p])
            continue;
        base.push_back(p);
        for (uint64_t m = p * p; m <= root; m += 2 * p)
            composite[m] = true;
    }
    std::vector<unsigned char> marks(kSieveSegment);
    for (uint64_t lo = first; lo <= last; lo += 2 * kSieveSegment) {
        const uint64_t hi = std::min(last, lo + 2 * (kSieveSegment - 1));
        const uint64_t count = (hi - lo) / 2 + 1;
        std::fill(marks.begin(), marks.begin() + static_cast<std::ptrdiff_t>(count), 0);
        for (uint64_t p : base) {
            if (p * p > hi)
                break;
            uint64_t m = std::max(p * p, (lo + p - 1) / p * p);
            if (m % 2 == 0)
                m += p;
            for (; m <= hi; m += 2 * p)
                marks[(m - lo) / 2] = 1;
        }
        for (uint64_t i = 0; i < count; ++i)
            if (!marks[i])
                out.push_back(lo + 2 * i);
    }
}

}  // namespace

namespace Util {

// ---- tests -----------------------------------------------------------------

uint64_t PrimeImp::randomInRange(uint64_t lo, uint64_t hi) {
    return lo + static_cast<uint64_t>(std::rand()) % (hi - lo + 1);
}

bool PrimeImp::isPrimeByTrialDivision(uint64_t n) {
    if (n == 2)
        return true;
    if (n < 2 || n % 2 == 0)
        return false;
    if (n == 3 || n == 5 || n == 7)
        return true;
    // d <= n / d: d * d would overflow for n near 2^64.
    for (uint64_t d = 3; d <= n / d; d += 2)
        if (n % d == 0)
            return false;
    return true;
}

bool PrimeImp::witnessComposite(uint64_t a, uint64_t n) {
    const uint64_t m = n - 1;
    uint64_t d = 1;
    for (int i = 63; i >= 0; --i) {
        uint64_t x = d;
        d = Util::Wide::mulmod(d, d, n);
        if (d == 1 && x != 1 && x != n - 1)
            return true;
        if (bitValAt(m, i))
            d = Util::Wide::mulmod(d, a, n);
    }
    return d != 1;
}

bool PrimeImp::isPrimeByWitness(uint64_t n) const {
    if (n == 2)
        return true;
    if (n < 2 || n % 2 == 0)
        return false;
    for (uint64_t t = 1; t < maxTrials; ++t)
        if (witnessComposite(randomInRange(1, n - 1), n))
            return false;
    return true;
}

bool PrimeImp::isPrime(uint64_t n) const {
    if (method == Prime::TrialDivision)
        return isPrimeByTrialDivision(n);
    if (method == Prime::Witness)
        return isPrimeByWitness(n);
    return false;
}

// ---- searches --------------------------------------------------------------

uint64_t PrimeImp::primeGreaterThanEqual(uint64_t n) const {
    if (n < 3)
        return 2;
    if (n > kLargestPrime || !knownMethod())
        return 0;  // no larger prime fits in 64 bits
    for (uint64_t c = n | 1;; c += 2)
        if (isPrime(c))
            return c;
}

uint64_t PrimeImp::primeLessThanEqual(uint64_t n) const {
    if (n < 2 || !knownMethod())
        return 0;
    if (n <= 3)
        return n;
    for (uint64_t c = (n % 2) ? n : n - 1; c >= 5; c -= 2)
        if (isPrime(c))
            return c;
    return 3;
}

std::vector<uint64_t> PrimeImp::primeNumbersInRange(uint64_t a, uint64_t b) const {
    if (a > b)
        std::swap(a, b);
    std::vector<uint64_t> out;
    if (!knownMethod())
        return out;
    for (uint64_t p : {2u, 3u})
        if (a <= p && p <= b)
            out.push_back(p);
    const uint64_t first = std::max<uint64_t>(a, 4) | 1;
    if (method == Prime::TrialDivision && b <= kSieveTop) {
        if (first <= b)
            sieveOdd(first, b, out);
        return out;
    }
    // Odd candidates up to b, stopping before the step past the top of the
    // 64-bit range.
    for (uint64_t c = first; c <= b; c += 2) {
        if (isPrime(c))
            out.push_back(c);
        if (c > UINT64_MAX - 2)
            break;
    }
    return out;
}

// ---- public object ---------------------------------------------------------

Prime::Prime() : imp(new PrimeImp) {}
Prime::Prime(const Prime& other) : imp(new PrimeImp(other.imp->getMethod(), other.imp->getMaxTrials())) {}

Prime& Prime::operator=(const Prime& other) {
    if (this != &other) {
        auto* copy = new PrimeImp(other.imp->getMethod(), other.imp->getMaxTrials());
        delete imp;
        imp = copy;
    }
    return *this;
}

Prime::~Prime() { delete imp; }

void Prime::checkPrimeBy(PrimeCheckMethod method) { imp->checkPrimeBy(method); }
void Prime::setMaxTrialsForWitnessCheck(uint64_t count) { imp->setMaxTrialsForWitnessCheck(count); }
bool Prime::isPrime(uint64_t n) const { return imp->isPrime(n); }
uint64_t Prime::primeGreaterThanEqual(uint64_t n) const { return imp->primeGreaterThanEqual(n); }
uint64_t Prime::primeLessThanEqual(uint64_t n) const { return imp->primeLessThanEqual(n); }
std::vector<uint64_t> Prime::primeNumbersInRange(uint64_t a, uint64_t b) const {
    return imp->primeNumbersInRange(a, b);
}

uint64_t Prime::anyPrimeGreaterThanEqual(uint64_t n) {
    if (n < 4)
        return n;
    const uint64_t* end = std::end(kPrimeTable);
    const uint64_t* at = std::lower_bound(std::begin(kPrimeTable), end, n);
    return at == end ? n : *at;
}

}  // namespace Util
