// Tests of the typed expression evaluator: grouping, range checks per type,
// the order of failures, the nesting limits and the boolean keywords.
#include "TestSupport.h"

#include <UtilExpression.h>

#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

namespace {

template <class T>
using Vars = typename Util::Expression<T>::VarMap;

template <class T>
T eval(const std::string& text, const Vars<T>* vars = nullptr) {
    Util::Expression<T> e(text.c_str());
    return e(vars);
}

// "E: message" for the exception raised, so that a test sees type and text.
template <class T>
std::string failure(const std::string& text, const Vars<T>* vars = nullptr) {
    try {
        eval<T>(text, vars);
    } catch (const Port::Exception& e) {
        const std::type_info& type = typeid(e);
        const char* name = type == typeid(Util::IntOverflowException) ? "IntOverflowException"
                           : type == typeid(Util::DivZeroException)   ? "DivZeroException"
                           : type == typeid(Util::ParserException)    ? "ParserException"
                           : type == typeid(Util::NoVarsException)    ? "NoVarsException"
                           : type == typeid(Util::UndefVarException)  ? "UndefVarException"
                                                                      : "another exception";
        return std::string(name).append(": ").append(e.getMessage());
    }
    return "no exception";
}

const std::string kOverflow = "IntOverflowException: Integer overflow\n";
const std::string kDivZero = "DivZeroException: Division by zero\n";
const std::string kBadChar = "ParserException: Parser error\n";
const std::string kSyntax = "ParserException: parse error";
const std::string kStack = "ParserException: parser stack overflow";
const std::string kNoVars = "NoVarsException: No variables defined\n";
const std::string kUndef = "UndefVarException: Undefined variable\n";

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

TEST(ExprGrouping, PrecedenceAndAssociativity) {
    EXPECT_EQ(eval<int>("2+3*4"), 14);
    EXPECT_EQ(eval<int>("2^3^2"), 512);
    EXPECT_EQ(eval<int>("-2^2"), -4);
    EXPECT_EQ(eval<int>("(-2)^2"), 4);
    EXPECT_EQ(eval<int>("7/-2"), -3);
    EXPECT_EQ(eval<int>("-7/2"), -3);
    EXPECT_EQ(eval<int>("2^-1"), 0);
    EXPECT_EQ(eval<int>("(-1)^-3"), -1);
    EXPECT_EQ(eval<int>("0^0"), 1);
    EXPECT_EQ(eval<int>("10-4-3"), 3);
    EXPECT_EQ(eval<int>("64/4/2"), 8);
    EXPECT_EQ(eval<int>("-2*3"), -6);
    EXPECT_EQ(eval<int>("2^-2^-1"), 1);  // 2^(-(2^-1)) = 2^0
    EXPECT_EQ(eval<int>("--3 - -3"), 6);
    EXPECT_EQ(eval<int>(" \t1 +\n2\r\f\v "), 3);
    EXPECT_EQ(eval<int64_t>("3^34"), 16677181699666568);  // double rounding, exact ends in 9
    EXPECT_EQ(eval<int64_t>("0^-1"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(eval<int64_t>("2^63"), std::numeric_limits<int64_t>::min());
    EXPECT_EQ(eval<int64_t>("2^62"), int64_t{1} << 62);
}

TEST(ExprRange, ShortChecksLiteralsAndResultsButNotNegation) {
    EXPECT_EQ(eval<short>("32767"), 32767);
    EXPECT_EQ(failure<short>("32768"), kOverflow);
    EXPECT_EQ(failure<short>("-32768"), kOverflow);  // the literal is checked before '-'
    EXPECT_EQ(failure<short>("200*200"), kOverflow);
    EXPECT_EQ(failure<short>("32767+1"), kOverflow);
    EXPECT_EQ(failure<short>("2^15"), kOverflow);
    EXPECT_EQ(failure<short>("0^-1"), kOverflow);
    const Vars<short> x{{"x", -32768}};
    EXPECT_EQ(eval<short>("x", &x), -32768);
    EXPECT_EQ(eval<short>("-x", &x), -32768);  // 32768, kept to 16 bits
    EXPECT_EQ(eval<short>("x/-1", &x), -32768);
    EXPECT_EQ(failure<short>("-x+0", &x), kOverflow);
}

TEST(ExprRange, IntAndInt64) {
    EXPECT_EQ(failure<int>("65536*32768"), kOverflow);
    EXPECT_EQ(eval<int64_t>("65536*32768"), 2147483648);
    EXPECT_EQ(eval<int>("2147483647"), 2147483647);
    EXPECT_EQ(failure<int>("-2147483648"), kOverflow);
    EXPECT_EQ(failure<int>("0^-1"), kOverflow);
    const Vars<int> m{{"m", std::numeric_limits<int>::min()}};
    EXPECT_EQ(eval<int>("-m", &m), std::numeric_limits<int>::min());
    EXPECT_EQ(failure<int>("m-1", &m), kOverflow);

    // 64 bits wrap, and the one quotient that does not fit does not trap.
    const int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
    const Vars<int64_t> w{{"lo", lo}, {"hi", hi}};
    EXPECT_EQ(eval<int64_t>("hi+1", &w), lo);
    EXPECT_EQ(eval<int64_t>("lo-1", &w), hi);
    EXPECT_EQ(eval<int64_t>("hi*2", &w), -2);
    EXPECT_EQ(eval<int64_t>("-lo", &w), lo);
    EXPECT_EQ(eval<int64_t>("lo/-1", &w), lo);
    EXPECT_EQ(eval<int64_t>("lo/1", &w), lo);
}

TEST(ExprRange, LiteralsBeyond32BitsAreRefusedNotChanged) {
    EXPECT_EQ(eval<int64_t>("2147483647"), 2147483647);
    EXPECT_EQ(failure<int64_t>("2147483648"), kOverflow);
    EXPECT_EQ(failure<int64_t>("4294967297"), kOverflow);
    EXPECT_EQ(failure<int64_t>("99999999999999999999999999"), kOverflow);
    EXPECT_EQ(eval<int64_t>("000000000000000000000000012"), 12);
    EXPECT_TRUE(eval<bool>("99999999999999999999999999"));
    EXPECT_FALSE(eval<bool>("0000"));
}

TEST(ExprVariables, MapsAndNames) {
    EXPECT_EQ(failure<int>("a+1"), kNoVars);
    const Vars<int> none;
    EXPECT_EQ(failure<int>("a+1", &none), kUndef);
    EXPECT_EQ(eval<int>("1+2"), 3);
    const Vars<int> v{{"a", 5}, {"A_1", 7}, {"ab", 100}};
    EXPECT_EQ(eval<int>("a*A_1 + ab", &v), 135);
    EXPECT_EQ(failure<int>("A", &v), kUndef);  // names are case-sensitive
    EXPECT_EQ(failure<int>("_a", &v), kBadChar);
    EXPECT_EQ(failure<int>("3a", &v), kSyntax);  // the literal 3, then the name a
}

TEST(ExprSyntax, BadTextRaisesParserException) {
    EXPECT_EQ(failure<int>("+5"), kSyntax);
    EXPECT_EQ(failure<int>("5%2"), kBadChar);
    EXPECT_EQ(failure<int>("1.5"), kBadChar);
    EXPECT_EQ(failure<int>("a=1"), kNoVars);
    EXPECT_EQ(failure<int>("()"), kSyntax);
    EXPECT_EQ(failure<int>("1 2"), kSyntax);
    EXPECT_EQ(failure<int>("1+"), kSyntax);
    EXPECT_EQ(failure<int>("(1"), kSyntax);
    EXPECT_EQ(failure<int>("1)"), kSyntax);
    EXPECT_EQ(failure<int>("1 !"), kBadChar);
    EXPECT_EQ(failure<int>("1 + \xc3\xa9"), kBadChar);  // no byte above 127 starts a token
    EXPECT_EQ(failure<int>(""), "ParserException: empty expression");
    EXPECT_EQ(failure<bool>(" \t\n"), "ParserException: empty expression");

    Util::Expression<int> none;
    EXPECT_EQ(none.Get(), "");
    EXPECT_THROW(none(nullptr), Util::ParserException);
    EXPECT_TRUE(none.Set("1 +* 2"));
    EXPECT_EQ(none.Get(), "1 +* 2");
    EXPECT_THROW(none(nullptr), Util::ParserException);
    EXPECT_TRUE(none.Set("6*7"));
    EXPECT_EQ(none(nullptr), 42);
    EXPECT_TRUE(none.Set(nullptr));
    EXPECT_THROW(none(nullptr), Util::ParserException);
}

TEST(ExprOrder, FirstFailureInReadingOrderWins) {
    const Vars<int> none;
    const Vars<int> y{{"y", 1}};
    const Vars<short> noShort;
    EXPECT_EQ(failure<int>("1/0 + y", &none), kDivZero);
    EXPECT_EQ(failure<int>("1/0 y", &none), kUndef);  // y is read before '/' is applied
    EXPECT_EQ(failure<int>("1/0 y", &y), kDivZero);   // '/' is applied before y is refused
    EXPECT_EQ(failure<int>("1/0 )"), kDivZero);
    EXPECT_EQ(failure<int>("(1/0 y)", &y), kDivZero);
    EXPECT_EQ(failure<int>("1/0^y", &none), kUndef);
    EXPECT_EQ(failure<int>("1 + 1/0 * y", &none), kDivZero);
    EXPECT_EQ(failure<short>("32768 + y", &noShort), kOverflow);  // checked as soon as read
    EXPECT_EQ(failure<short>("1/0 + 32768"), kDivZero);
    EXPECT_EQ(failure<int>("1/0 99999999999"), kOverflow);  // the scanner's check comes first
    EXPECT_EQ(failure<int>("1/0 %"), kBadChar);
    EXPECT_EQ(failure<int>("(1/0"), kDivZero);
}

// Each limit is checked for one value type per grammar (both share the machine).
TEST(ExprLimits, NestingAndChains) {
    EXPECT_EQ(eval<int>(repeat("(", 196) + "7" + repeat(")", 196)), 7);
    EXPECT_EQ(failure<int>(repeat("(", 197) + "7" + repeat(")", 197)), kStack);
    EXPECT_TRUE(eval<bool>(repeat("(", 196) + "1" + repeat(")", 196)));
    EXPECT_EQ(failure<bool>(repeat("(", 197) + "1" + repeat(")", 197)), kStack);

    EXPECT_EQ(eval<int>(repeat("-", 197) + "1"), -1);
    EXPECT_EQ(failure<int>(repeat("-", 198) + "1"), kStack);
    EXPECT_FALSE(eval<bool>(repeat("!", 197) + "1"));
    EXPECT_EQ(failure<bool>(repeat("!", 198) + "1"), kStack);

    EXPECT_EQ(eval<int>(repeat("1^", 98) + "1"), 1);
    EXPECT_EQ(failure<int>(repeat("1^", 99) + "1"), kStack);
    EXPECT_TRUE(eval<bool>(repeat("1|", 98) + "1"));
    EXPECT_EQ(failure<bool>(repeat("1|", 99) + "1"), kStack);
    EXPECT_FALSE(eval<bool>(repeat("1&", 98) + "0"));
    EXPECT_EQ(failure<bool>(repeat("1&", 99) + "0"), kStack);

    // Left-grouping chains are not limited; hostile nesting fails cleanly.
    EXPECT_EQ(eval<int>(repeat("1+", 100000) + "1"), 100001);
    EXPECT_TRUE(eval<bool>(repeat("0+", 100000) + "1*1"));
    EXPECT_EQ(failure<int64_t>(repeat("(", 1000000)), kStack);
    EXPECT_EQ(failure<bool>(repeat("!", 1000000)), kStack);
}

TEST(ExprBool, KeywordsNumbersAndGrouping) {
    const Vars<bool> vars{{"True", false}, {"true", false}, {"a", false}, {"b", false},
                          {"c", true},     {"d", true},     {"t", true}};
    EXPECT_FALSE(eval<bool>("true & FALSE"));
    EXPECT_TRUE(eval<bool>("yes"));
    EXPECT_TRUE(eval<bool>("YES * TRUE * !no * !NO * !false"));
    EXPECT_TRUE(eval<bool>("true", &vars));   // a keyword, never looked up
    EXPECT_FALSE(eval<bool>("True", &vars));  // a variable
    EXPECT_EQ(failure<bool>("True"), kNoVars);
    EXPECT_TRUE(eval<bool>("2"));
    EXPECT_FALSE(eval<bool>("0"));
    EXPECT_FALSE(eval<bool>("!1 | 1"));  // NOT applies to all of 1 | 1
    EXPECT_TRUE(eval<bool>("!1 + 1"));
    EXPECT_EQ(failure<bool>("1 - 0"), kBadChar);
    EXPECT_EQ(failure<bool>("1 / 0"), kBadChar);
    EXPECT_EQ(failure<bool>("1 ! 0"), kSyntax);

    // a=0 b=0 c=1 d=1: each text below differs from its ordinary reading.
    EXPECT_TRUE(eval<bool>("a * b + c", &vars));
    EXPECT_FALSE(eval<bool>("!c + a", &vars));
    EXPECT_FALSE(eval<bool>("!a | c", &vars));     // !(a | c)
    EXPECT_FALSE(eval<bool>("a & b | c", &vars));  // a & (b | c)
    EXPECT_FALSE(eval<bool>("a * b | c * d", &vars));
    EXPECT_TRUE(eval<bool>("t + a & c + d", &vars));  // t + (a & (c + d))
    EXPECT_FALSE(eval<bool>("c & a + b", &vars));     // c & (a + b)
    EXPECT_TRUE(eval<bool>("(a | c) & d", &vars));
    EXPECT_TRUE(eval<bool>("(a & c) + d", &vars));

    // Both operands are always evaluated.
    EXPECT_EQ(failure<bool>("1 + u", &vars), kUndef);
    EXPECT_EQ(failure<bool>("0 & u", &vars), kUndef);
}

TEST(ExprThreads, OneObjectEvaluatedFromSeveralThreads) {
    const Util::Expression<int64_t> e("(a + b) * c - d / 2 + 3 ^ 2");
    const Vars<int64_t> vars{{"a", 1}, {"b", 2}, {"c", 3}, {"d", 10}};
    const Util::Expression<bool> b("a * !b + c | d");
    const Vars<bool> bvars{{"a", true}, {"b", false}, {"c", false}, {"d", false}};
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i)
                wrong[t] += (e(&vars) != 13) + (b(&bvars) != true);
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
