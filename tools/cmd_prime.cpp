// cmd_prime.cpp - `utiltool prime` and `utiltool stamp`.
#include "Command.h"
#include "ExactPrime.h"

#include <UtilPrime.h>
#include <UtilTstamp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>

namespace {

// ---- prime -----------------------------------------------------------------

using UtilTool::isPrimeExact;

struct PrimeOptions {
    std::string what;
    uint64_t a = 0;
    uint64_t b = 0;
    std::string method = "exact";
};

void print(uint64_t v) { std::printf("%llu\n", static_cast<unsigned long long>(v)); }

int runPrime(const PrimeOptions& o, bool haveB) {
    if ((o.what == "range") != haveB) {
        std::fprintf(stderr, "utiltool prime: %s takes %s\n", o.what.c_str(),
                     o.what == "range" ? "two numbers, A and B" : "one number");
        return UtilTool::kUsage;
    }
    const bool exact = o.method == "exact";
    Util::Prime primes;
    primes.checkPrimeBy(o.method == "witness" ? Util::Prime::Witness : Util::Prime::TrialDivision);
    if (o.what == "is") {
        const bool yes = exact ? isPrimeExact(o.a) : primes.isPrime(o.a);
        std::printf("%s\n", yes ? "prime" : "not prime");
        return yes ? 0 : 1;
    }
    if (o.what == "next" || o.what == "prev") {
        if (!exact) {
            print(o.what == "next" ? primes.primeGreaterThanEqual(o.a) : primes.primeLessThanEqual(o.a));
            return UtilTool::kDone;
        }
        print(o.what == "next" ? UtilTool::nextPrimeExact(o.a) : UtilTool::prevPrimeExact(o.a));
        return UtilTool::kDone;
    }
    const uint64_t lo = std::min(o.a, o.b), hi = std::max(o.a, o.b);
    if (!exact) {
        for (uint64_t v : primes.primeNumbersInRange(lo, hi))
            print(v);
        return UtilTool::kDone;
    }
    // In pieces, each printed as soon as it is known.
    for (uint64_t from = lo;;) {
        const uint64_t to = UtilTool::pieceEnd(from, hi);
        for (uint64_t v : UtilTool::primesBetween(primes, from, to))
            print(v);
        if (std::ferror(stdout) || to == hi)
            break;
        std::fflush(stdout);
        from = to + 1;
    }
    return UtilTool::kDone;
}

UtilTool::Action setupPrime(CLI::App& app) {
    auto o = std::make_shared<PrimeOptions>();
    app.add_option("question", o->what, "is N, next N, prev N or range A B")
        ->required()
        ->check(CLI::IsMember({"is", "next", "prev", "range"}));
    app.add_option("N", o->a, "a number from 0 to 18446744073709551615")->required();
    CLI::Option* b = app.add_option("B", o->b, "the other end of a range");
    app.add_option("--method", o->method,
                   "exact (default): exact for every 64-bit number, well under a second; trial: the "
                   "library's trial division; witness: the library's probabilistic test")
        ->check(CLI::IsMember({"exact", "trial", "witness"}));
    app.footer(
        "`is` exits with 0 for a prime and 1 for a number that is not (as test(1) does);\n"
        "next gives 0 above the largest 64-bit prime, prev 0 below 2; range prints as it goes.");
    return [o, b] { return runPrime(*o, b->count() > 0); };
}

// ---- stamp -----------------------------------------------------------------

struct StampOptions {
    long long seconds = 0;
};

UtilTool::Action setupStamp(CLI::App& app) {
    auto o = std::make_shared<StampOptions>();
    CLI::Option* given = app.add_option("seconds", o->seconds, "seconds since the epoch (default: now)");
    return [o, given] {
        if (given->count() == 0) {
            UT_TIMESTAMP now;
            std::fputs(now.get_timestamp_string(), stdout);
            return UtilTool::kDone;
        }
        // A time the system cannot turn into a date is refused, not shown
        // as the epoch.
        const auto t = static_cast<std::time_t>(o->seconds);
        std::tm parts;
        if (static_cast<long long>(t) != o->seconds || !localtime_r(&t, &parts))
            return UtilTool::refuse("stamp", "%lld seconds is outside the dates this system can show", o->seconds);
        UT_TIMESTAMP stamp(o->seconds);
        std::fputs(stamp.get_timestamp_string(), stdout);
        return UtilTool::kDone;
    };
}

UtilTool::Registration regPrime({"prime", "prime tests, searches and ranges", setupPrime});
UtilTool::Registration regStamp({"stamp", "the timestamp line for now or given seconds", setupStamp});

}  // namespace
