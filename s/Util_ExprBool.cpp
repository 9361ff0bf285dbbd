// Util_ExprBool.cpp - the boolean expression grammar.
//
//   input       : nothing | disjunction
//   disjunction : conjunction { '+' conjunction }     left to right
//   conjunction : negation { '*' negation }           left to right
//   negation    : '!' negation | operand
//   operand     : primary [ ('|' | '&') disjunction ]
//   primary     : value | '(' disjunction ')'
//
// '|' and '&' mean OR and AND like '+' and '*', but grab the rest of the
// group as their right operand.
#include "UtilExprParse.h"

#include <cstring>

namespace Util::Expr {
namespace {

// Binding levels of the pending operators; '|' and '&' as look-ahead are above
// every level, so they are always shifted.
constexpr int kLevelRest = 1;
constexpr int kLevelOr = 2;
constexpr int kLevelAnd = 3;
constexpr int kLevelNot = 4;
constexpr int kLevelShiftAlways = 5;

struct Keyword {
    const char* text;  // a word that stands for a constant
    bool value;        // its value
};
constexpr Keyword kKeywords[] = {
    {"true", true},   {"TRUE", true},   {"yes", true}, {"YES", true},
    {"false", false}, {"FALSE", false}, {"no", false}, {"NO", false},
};

struct BoolGrammar {
    using Value = bool;
    using Map = Expression<bool>::VarMap;

    static bool isOperator(char c) { return c == '+' || c == '|' || c == '*' || c == '&' || c == '!'; }
    static int prefixLevel(char op) { return op == '!' ? kLevelNot : 0; }
    static int pendingLevel(char op) { return op == '+' ? kLevelOr : op == '*' ? kLevelAnd : kLevelRest; }
    static int lookaheadLevel(char op) {
        return op == '!' ? 0 : (op == '|' || op == '&') ? kLevelShiftAlways : pendingLevel(op);
    }

    // Saturation keeps a long literal non-zero, which is all that counts here.
    static Value literal(long v, bool) { return v != 0; }
    static bool keyword(const char* name, std::size_t len, Value& v) {
        for (const Keyword& k : kKeywords)
            if (std::strlen(k.text) == len && std::memcmp(k.text, name, len) == 0) {
                v = k.value;
                return true;
            }
        return false;
    }
    static Value fromVar(bool v) { return v; }
    static Value checkValue(Value v) { return v; }

    static Value prefix(char, Value v) { return !v; }
    static Value binary(char op, Value a, Value b) { return (op == '+' || op == '|') ? (a || b) : (a && b); }
    static bool result(Value v) { return v; }
};

}  // namespace

template <>
struct GrammarOf<bool> {
    using type = BoolGrammar;
};

}  // namespace Util::Expr

template class Util::Expression<bool>;
