// Util_ExprInt.cpp - the integer expression grammar, for short, int and int64_t.
//
//   input    : nothing | sum
//   sum      : product { ('+' | '-') product }      left to right
//   product  : signed { ('*' | '/') signed }        left to right
//   signed   : '-' signed | power
//   power    : primary [ '^' signed ]                right to left
//   primary  : value | '(' sum ')'
//
// Working values are int64_t; arithmetic is done on uint64_t so that it wraps
// instead of being undefined, and short and int check the result instead.
#include "UtilExprParse.h"

#include <limits>

namespace Util::Expr {
namespace {

// Binding levels of the pending operators; '^' as look-ahead is above every
// level, so it is always shifted (it binds to the primary just before it).
constexpr int kLevelSum = 1;
constexpr int kLevelProduct = 2;
constexpr int kLevelNegate = 3;
constexpr int kLevelPower = 4;
constexpr int kLevelShiftAlways = 5;

constexpr int64_t kPowerOutOfRange = std::numeric_limits<int64_t>::min();

int64_t wrap(uint64_t v) { return static_cast<int64_t>(v); }

// a ^ b by squaring in double, with the exponent's low 32 bits as a signed
// number; truncated toward zero, and kPowerOutOfRange for what int64_t cannot
// hold (including the infinity of 0 to a negative power).
int64_t power(int64_t a, int64_t b) {
    double base = static_cast<double>(a);
    const auto e = static_cast<int32_t>(static_cast<uint32_t>(b));
    uint32_t m = e < 0 ? 0u - static_cast<uint32_t>(e) : static_cast<uint32_t>(e);
    double r = 1.0;
    for (;;) {
        if (m & 1u)
            r *= base;
        m >>= 1;
        if (m == 0)
            break;
        base *= base;
    }
    if (e < 0) {
        if (r == 0.0)
            return kPowerOutOfRange;
        r = 1.0 / r;
    }
    constexpr double kLimit = 9223372036854775808.0;  // 2^63
    if (!(r >= -kLimit && r < kLimit))
        return kPowerOutOfRange;
    return static_cast<int64_t>(r);
}

template <class T>
struct IntGrammar {
    using Value = int64_t;
    using Map = typename Expression<T>::VarMap;

    static bool isOperator(char c) { return c == '+' || c == '-' || c == '*' || c == '/' || c == '^'; }
    static int prefixLevel(char op) { return op == '-' ? kLevelNegate : 0; }
    static int pendingLevel(char op) {
        return op == '^' ? kLevelPower : (op == '*' || op == '/') ? kLevelProduct : kLevelSum;
    }
    static int lookaheadLevel(char op) { return op == '^' ? kLevelShiftAlways : pendingLevel(op); }

    static Value literal(long v, bool outOfRange) {
        if (outOfRange)
            raise<IntOverflowException>(__LINE__);
        return v;
    }
    static bool keyword(const char*, std::size_t, Value&) { return false; }
    static Value fromVar(T v) { return v; }
    static Value checkValue(Value v) { return checked(v); }

    static Value prefix(char, Value v) { return wrap(0 - static_cast<uint64_t>(v)); }
    static Value binary(char op, Value a, Value b) {
        const auto ua = static_cast<uint64_t>(a);
        const auto ub = static_cast<uint64_t>(b);
        switch (op) {
        case '+':
            return checked(wrap(ua + ub));
        case '-':
            return checked(wrap(ua - ub));
        case '*':
            return checked(wrap(ua * ub));
        case '/':
            if (b == 0)
                raise<DivZeroException>(__LINE__);
            if (b == -1)  // also the one quotient that does not fit: it wraps
                return wrap(0 - ua);
            return a / b;
        default:
            return checked(power(a, b));
        }
    }
    // T's low bits, as the unchecked negation and division may leave more.
    static T result(Value v) { return static_cast<T>(v); }

    static Value checked(Value v) {
        if constexpr (sizeof(T) < sizeof(Value)) {
            if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
                raise<IntOverflowException>(__LINE__);
        }
        return v;
    }
};

}  // namespace

template <>
struct GrammarOf<short> {
    using type = IntGrammar<short>;
};
template <>
struct GrammarOf<int> {
    using type = IntGrammar<int>;
};
template <>
struct GrammarOf<int64_t> {
    using type = IntGrammar<int64_t>;
};

}  // namespace Util::Expr

template class Util::Expression<short>;
template class Util::Expression<int>;
template class Util::Expression<int64_t>;
