// UtilExpression.h - small typed expressions over named variables.
//
// Util::Expression<T> keeps the text of an expression and evaluates it on
// request against a map from variable name to value. It exists for short, int,
// int64_t (one integer grammar) and bool (a grammar of its own). The text is
// scanned and parsed afresh on every evaluation; nothing is cached, nothing
// static is touched, and one object may be evaluated from several threads at
// once (Set must not run during an evaluation).
//
// Integer grammar, loosest binding first: binary + and - (left to right),
// * and / (left to right), unary -, ^ (right to left). Every value is worked
// in 64 bits; for short and int, a literal, a variable value and the result
// of + - * ^ must lie in T's range, else IntOverflowException. Negation and
// division are unchecked; the final value keeps T's low bits. For int64_t
// arithmetic wraps modulo 2^64 and never raises IntOverflowException. Power
// is computed in double and truncated toward zero; a result outside the
// 64-bit range is -9223372036854775808. Literals are decimal and at most
// 2147483647: a longer literal raises IntOverflowException for every T
// rather than being read as some other number.
//
// Boolean grammar: + and * are OR and AND with the usual precedence, ! is
// NOT and binds tighter. | and & also mean OR and AND, but take as left
// operand only the primary written just before them and as right operand
// everything up to the enclosing ')' or the end (so !a | b is !(a | b)).
// The keywords true TRUE yes YES and false FALSE no NO are constants, never
// variables; a number is true when it is not 0. There is no short circuit.
//
// Failures are exceptions derived from Port::Exception, raised in the order
// the text is read: a bad character or an unknown variable when its token is
// reached, a range or division error when its operation is applied. Nesting
// is bounded (196 parenthesis pairs, 197 prefix operators, 98 chained ^, | or
// &) and raises ParserException "parser stack overflow" beyond; chains of
// left-grouping operators are not limited. An empty or blank text, or an
// object without text, raises ParserException.
//
// Lives in: s/UtilExpression.cpp, s/Util_ExprInt.cpp, s/Util_ExprBool.cpp, s/UtilExprParse.h;
//   tests: tests/expr_test.cpp; docs: docs/expressions.md.
#pragma once

#include "UtilExport.h"

#include <PortMsg.h>
#include <PortString.h>

#include <cstdint>
#include <map>

namespace Util {

// The five failures. Each has the constructors (module, file, revision, line),
// which uses the default message, the same with a message, and a copy.
#define UTIL_EXPRESSION_EXCEPTION(Name)                                                                  \
    class UTIL_EXPORT Name : public Port::Exception {                                                    \
    public:                                                                                              \
        Name(const char* module, const char* file, const char* revision, int line);                      \
        Name(const char* module, const char* file, const char* revision, int line, const char* message); \
        Name(const Name& other);                                                                         \
        ~Name() override;                                                                                \
    };

UTIL_EXPRESSION_EXCEPTION(IntOverflowException)  // "Integer overflow\n"
UTIL_EXPRESSION_EXCEPTION(DivZeroException)      // "Division by zero\n"
UTIL_EXPRESSION_EXCEPTION(ParserException)       // "Parser error\n"
UTIL_EXPRESSION_EXCEPTION(NoVarsException)       // "No variables defined\n"
UTIL_EXPRESSION_EXCEPTION(UndefVarException)     // "Undefined variable\n"

#undef UTIL_EXPRESSION_EXCEPTION

template <class T>
class UTIL_EXPORT Expression {
public:
    // Variable values by exact (case-sensitive) name; only read.
    using VarMap = std::map<const Port::StringBase<char>, T>;

    Expression();                           // no text
    explicit Expression(const char* text);  // keeps a copy of text
    ~Expression();
    Expression(const Expression&) = delete;
    Expression& operator=(const Expression&) = delete;

    // Replaces the text; checks nothing and returns true. A null text leaves
    // the object without text.
    bool Set(const char* text);
    // The kept text (empty when there is none).
    Port::StringBase<char> Get() const;

    // Evaluates the text. `vars` may be null; that is an error only when the
    // text names a variable (NoVarsException).
    T operator()(const VarMap* vars) const;

private:
    struct Impl;
    Impl* impl_;  // the parsed tree and its variables; never null
};

extern template class Expression<short>;
extern template class Expression<int>;
extern template class Expression<int64_t>;
extern template class Expression<bool>;

}  // namespace Util
