// cmd_prime.cpp - `utiltool prime` and `utiltool stamp`.
#include "Command.h"

#include <UtilPrime.h>
#include <UtilTstamp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kPrimeUsage =
    "  prime is N | next N | prev N | range A B   [--method trial|witness]\n"
    "  next gives 0 above the largest 64-bit prime, prev 0 below 2.\n";
constexpr const char* kStampUsage =
    "  stamp [SECONDS]   the timestamp line for now or for SECONDS since the epoch\n";

bool toNumber(const std::string& text, uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end || errno) {
        std::fprintf(stderr, "utiltool: '%s' is not a number from 0 to 18446744073709551615\n", text.c_str());
        return false;
    }
    out = v;
    return true;
}

int prime(const std::vector<std::string>& args) {
    UtilTool::Options opts;
    if (!opts.parse(args, {"--method"}, {}, 3))
        return 2;
    const auto& p = opts.positional;
    Util::Prime primes;
    for (const auto& [key, value] : opts.values)
        if (value == "witness")
            primes.checkPrimeBy(Util::Prime::Witness);
        else if (value != "trial") {
            std::fprintf(stderr, "utiltool prime: --method is trial or witness, not '%s'\n", value.c_str());
            return 2;
        }
    const std::size_t need = !p.empty() && p[0] == "range" ? 3 : 2;
    uint64_t a = 0, b = 0;
    if (p.size() != need || (p[0] != "is" && p[0] != "next" && p[0] != "prev" && p[0] != "range")) {
        std::fprintf(stderr, "usage:\n%s", kPrimeUsage);
        return 2;
    }
    if (!toNumber(p[1], a) || (need == 3 && !toNumber(p[2], b)))
        return 2;
    if (p[0] == "is") {
        bool yes = primes.isPrime(a);
        std::printf("%s\n", yes ? "prime" : "not prime");
        return yes ? 0 : 1;
    }
    if (p[0] == "range") {
        for (uint64_t v : primes.primeNumbersInRange(a, b))
            std::printf("%llu\n", static_cast<unsigned long long>(v));
        return 0;
    }
    uint64_t v = p[0] == "next" ? primes.primeGreaterThanEqual(a) : primes.primeLessThanEqual(a);
    std::printf("%llu\n", static_cast<unsigned long long>(v));
    return 0;
}

int stamp(const std::vector<std::string>& args) {
    UtilTool::Options opts;
    if (!opts.parse(args, {}, {}, 1))
        return 2;
    if (opts.positional.empty()) {
        UT_TIMESTAMP now;
        std::fputs(now.get_timestamp_string(), stdout);
        return 0;
    }
    const std::string& text = opts.positional[0];
    char* end = nullptr;
    errno = 0;
    long long seconds = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end || errno) {
        std::fprintf(stderr, "utiltool stamp: '%s' is not a number of seconds\n", text.c_str());
        return 2;
    }
    UT_TIMESTAMP t(seconds);
    std::fputs(t.get_timestamp_string(), stdout);
    return 0;
}

UtilTool::Registration regPrime({"prime", "prime tests, searches and ranges", kPrimeUsage, prime});
UtilTool::Registration regStamp({"stamp", "the timestamp line for now or given seconds", kStampUsage, stamp});

}  // namespace
