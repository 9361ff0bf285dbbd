// UtilExprParse.h - the scanner and shift-reduce machine that both expression
// grammars share, and Util::Expression<T> on top of them.
//
// The machine is a hand-written operator-precedence parser that behaves like
// the LALR(1) parser of the grammars in UtilExpression.h, step for step:
//  - a token is read only when the next decision needs it, so a variable is
//    looked up (and a bad character reported) exactly when it is reached;
//  - a value's range check runs as soon as the value has been read;
//  - pending operators are applied as soon as the look-ahead shows that their
//    right operand is complete, even when that look-ahead is then refused;
//  - the stack is counted the way an LR parser fills it (1 to start, 1 per
//    open parenthesis or pending prefix operator, 2 per pending binary
//    operator, 1 for the value just read and 1 more for a ')' just shifted),
//    and reaching kStackLimit entries is "parser stack overflow".
// Nothing recurses, so hostile nesting costs a fixed 200 entries at most.
//
// A grammar G supplies:
//   Value, Map, kIsOperator(c)           working value, variable map, its operator characters
//   prefixLevel(op), pendingLevel(op),   binding levels (0 = not that kind); a pending
//   lookaheadLevel(op)                   operator is applied while its level >= the look-ahead's
//   literal(v, outOfRange), keyword(..), fromVar(t), checkValue(v)
//   prefix(op, v), binary(op, a, b)      the actions; they raise on failure
//   result(v)                            the final value as T
#pragma once

#include "UtilReport.h"

#include <UtilExpression.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>

namespace Util::Expr {

inline constexpr Frame::Unit kUnit{"s/UtilExprParse.h", "1.0"};

inline constexpr int kStackLimit = 200;
inline constexpr const char* kMsgSyntax = "parse error";
inline constexpr const char* kMsgStackOverflow = "parser stack overflow";
inline constexpr const char* kMsgEmpty = "empty expression";
inline constexpr const char* kMsgNoText = "no expression text";

// Throws E with its default message, or with `message`.
template <class E>
[[noreturn]] void raise(int line, const char* message = nullptr) {
    if (message)
        throw E(Frame::kModule, kUnit.path, kUnit.revision, line, message);
    throw E(Frame::kModule, kUnit.path, kUnit.revision, line);
}

// 7-bit ASCII only: other bytes start no token.
inline bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }
inline bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool isNameChar(char c) { return isLetter(c) || isDigit(c) || c == '_'; }

template <class V>
struct Token {
    enum Kind : uint8_t { End, Value, Open, Close, Op };
    Kind kind;  // what the token is
    char op;    // Op: the operator's character
    V value;    // Value: the number, or a variable's value
};

template <class G>
class Scanner {
public:
    using V = typename G::Value;

    Scanner(const char* text, const typename G::Map* vars) : at_(text), vars_(vars) {}

    Token<V> next() {
        while (isBlank(*at_))
            ++at_;
        const char c = *at_;
        if (c == '\0')
            return {Token<V>::End, 0, V()};
        if (c == '(' || c == ')') {
            ++at_;
            return {c == '(' ? Token<V>::Open : Token<V>::Close, c, V()};
        }
        if (G::isOperator(c)) {
            ++at_;
            return {Token<V>::Op, c, V()};
        }
        if (isDigit(c)) {
            char* end = nullptr;
            errno = 0;
            const long v = UT_STR::StrToL(at_, &end, 10);
            const bool outOfRange = errno == ERANGE || v > std::numeric_limits<int32_t>::max();
            at_ = end;
            return {Token<V>::Value, 0, G::literal(v, outOfRange)};
        }
        if (!isLetter(c))
            raise<ParserException>(__LINE__);
        const char* name = at_;
        while (isNameChar(*++at_)) {
        }
        V v{};
        if (G::keyword(name, static_cast<std::size_t>(at_ - name), v))
            return {Token<V>::Value, 0, v};
        if (!vars_)
            raise<NoVarsException>(__LINE__);
        const auto it = vars_->find(Port::StringBase<char>(name, static_cast<std::size_t>(at_ - name)));
        if (it == vars_->end())
            raise<UndefVarException>(__LINE__);
        return {Token<V>::Value, 0, G::fromVar(it->second)};
    }

private:
    const char* at_;               // the next character to read
    const typename G::Map* vars_;  // the caller's variables; null when none were given
};

template <class G>
typename G::Value evaluate(const char* text, const typename G::Map* vars) {
    using V = typename G::Value;
    using Tok = Token<V>;
    struct Pending {
        enum Kind : uint8_t { Open, Prefix, Binary };
        Kind kind;
        char op;
        int level;
        V left;
    };
    Pending pending[kStackLimit];  // never more items than counted entries
    int top = 0;                   // items in `pending`
    int entries = 1;               // the LR parser's stack height
    auto push = [&entries] {
        if (++entries >= kStackLimit)
            raise<ParserException>(__LINE__, kMsgStackOverflow);
    };

    Scanner<G> scan(text, vars);
    Tok t = scan.next();
    if (t.kind == Tok::End)
        raise<ParserException>(__LINE__, kMsgEmpty);
    for (;;) {
        // An operand is due: open parentheses and prefix operators, then a value.
        for (;;) {
            if (t.kind == Tok::Value)
                break;
            const int level = t.kind == Tok::Op ? G::prefixLevel(t.op) : 0;
            if (t.kind != Tok::Open && level == 0)
                raise<ParserException>(__LINE__, kMsgSyntax);
            push();
            pending[top++] = {t.kind == Tok::Open ? Pending::Open : Pending::Prefix, t.op, level, V()};
            t = scan.next();
        }
        push();
        V v = G::checkValue(t.value);

        // The operand is complete; what follows decides what is applied.
        for (;;) {
            t = scan.next();
            const int pull = t.kind == Tok::Op ? G::lookaheadLevel(t.op) : 0;
            while (top > 0 && pending[top - 1].kind != Pending::Open && pending[top - 1].level >= pull) {
                const Pending& p = pending[--top];
                if (p.kind == Pending::Prefix) {
                    v = G::prefix(p.op, v);
                    entries -= 1;
                } else {
                    v = G::binary(p.op, p.left, v);
                    entries -= 2;
                }
            }
            if (pull > 0) {  // a binary operator: v is its left operand
                pending[top++] = {Pending::Binary, t.op, G::pendingLevel(t.op), v};
                push();
                break;
            }
            if (t.kind == Tok::Close && top > 0) {  // top is the matching '('
                push();
                --top;
                entries -= 2;
                continue;
            }
            if (t.kind == Tok::End && top == 0)
                return v;
            raise<ParserException>(__LINE__, kMsgSyntax);
        }
        t = scan.next();
    }
}

// Which grammar evaluates an Expression<T>; each grammar's unit says so.
template <class T>
struct GrammarOf;

}  // namespace Util::Expr

namespace Util {

template <class T>
struct Expression<T>::Impl {
    std::unique_ptr<char[]> text;  // from UT_STR::Dup, so released by delete[]
};

template <class T>
Expression<T>::Expression() : impl_(new Impl) {}

template <class T>
Expression<T>::Expression(const char* text) : impl_(nullptr) {
    auto impl = std::make_unique<Impl>();
    impl->text.reset(UT_STR::Dup(text));
    impl_ = impl.release();
}

template <class T>
Expression<T>::~Expression() {
    delete impl_;
}

template <class T>
bool Expression<T>::Set(const char* text) {
    impl_->text.reset(UT_STR::Dup(text));
    return true;
}

template <class T>
Port::StringBase<char> Expression<T>::Get() const {
    return Port::StringBase<char>(impl_->text.get());
}

template <class T>
T Expression<T>::operator()(const VarMap* vars) const {
    using G = typename Expr::GrammarOf<T>::type;
    if (!impl_->text)
        Expr::raise<ParserException>(__LINE__, Expr::kMsgNoText);
    return G::result(Expr::evaluate<G>(impl_->text.get(), vars));
}

}  // namespace Util
