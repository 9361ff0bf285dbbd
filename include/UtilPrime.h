// UtilPrime.h - primality of 64-bit numbers, prime searches and a table.
//
// isPrime decides by trial division (the default) or by the randomised
// witness (Miller-Rabin) test with a trial count (default 100; rounds =
// count - 1, bases from the runtime's rand(), which is never seeded here).
// Products are reduced exactly in 128 bits, and trial division stops at the
// square root without overflow, for every 64-bit n.
//
// Searches always end: primeGreaterThanEqual gives 0 above the largest
// 64-bit prime (18446744073709551557), primeLessThanEqual gives 0 below 2,
// and an object with an unknown method finds nothing (0, or an empty range).
// anyPrimeGreaterThanEqual makes no test: the smallest entry at least n of a
// fixed table of 410 primes from 3 to 2056468787 (n itself below 4 or above
// the table).
//
// Lives in: s/UtilPrime.cpp, s/UtilPrimeTable.inc; tests: tests/prime_test.cpp; docs:
//   docs/utilities.md.
#pragma once

#include "UtilExport.h"

#include <cstdint>
#include <vector>

namespace Util {

class PrimeImp;

class UTIL_EXPORT Prime {
public:
    enum PrimeCheckMethod : int32_t { TrialDivision = 0, Witness = 1 };

    Prime();
    Prime(const Prime& other);
    Prime& operator=(const Prime& other);
    ~Prime();

    void checkPrimeBy(PrimeCheckMethod method);
    void setMaxTrialsForWitnessCheck(uint64_t count);
    bool isPrime(uint64_t n) const;
    uint64_t primeGreaterThanEqual(uint64_t n) const;
    uint64_t primeLessThanEqual(uint64_t n) const;
    std::vector<uint64_t> primeNumbersInRange(uint64_t a, uint64_t b) const;
    static uint64_t anyPrimeGreaterThanEqual(uint64_t n);

private:
    PrimeImp* imp;  // the implementation; never null
};

class UTIL_EXPORT PrimeImp {
public:
    PrimeImp() = default;
    PrimeImp(Prime::PrimeCheckMethod m, uint64_t trials) : method(m), maxTrials(trials) {}

    void checkPrimeBy(Prime::PrimeCheckMethod m) { method = m; }
    void setMaxTrialsForWitnessCheck(uint64_t count) { maxTrials = count; }
    Prime::PrimeCheckMethod getMethod() const { return method; }
    uint64_t getMaxTrials() const { return maxTrials; }
    bool isPrime(uint64_t n) const;
    uint64_t primeGreaterThanEqual(uint64_t n) const;
    uint64_t primeLessThanEqual(uint64_t n) const;
    std::vector<uint64_t> primeNumbersInRange(uint64_t a, uint64_t b) const;

private:
    static uint64_t randomInRange(uint64_t lo, uint64_t hi);
    static bool bitValAt(uint64_t n, int i) { return (n >> i) & 1; }
    static bool witnessComposite(uint64_t a, uint64_t n);
    bool isPrimeByWitness(uint64_t n) const;
    static bool isPrimeByTrialDivision(uint64_t n);
    bool knownMethod() const { return method == Prime::TrialDivision || method == Prime::Witness; }

    Prime::PrimeCheckMethod method = Prime::TrialDivision;  // how isPrime decides
    uint64_t maxTrials = 100;                               // the witnesses the Witness method tries at most
};

}  // namespace Util
