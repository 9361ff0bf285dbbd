// UtilEquate.h - boolean equations over 2 to 6 address lines to and from the
// hexadecimal contents of a small ROM.
//
// gen_hex("O = A0*~A1 + A2", {"A0","A1","A2"}, 3, ...) evaluates the equation
// at every address and gives its INIT digits, most significant first (the last
// digit holds addresses 0 to 3, lowest address in the lowest bit).
// gen_equatestr goes the other way, one product term per address whose bit is
// 1. validate checks an equation (or, in attribute form, a hexadecimal value).
//
// Grammar: names (a letter, then letters and digits), the constants 0 and 1,
// '~' inverting the one term after it, '*' AND, '@' XOR (both binding tighter
// than '+' OR), parentheses. A run of one operator groups to the left; a mixed
// run of '*' and '@' groups to the right. Parsing keeps no recursion on the
// machine stack, so any nesting depth is safe.
//
// Modes: attribute form (names case-sensitive, "LHS=0x..." texts) or plain
// form (case-insensitive names, bare digits, the result of gen_hex in a
// buffer of the calling thread that the thread's next gen_hex overwrites).
//
// Every call returns a status and leaves a message (geterrmsg, wide text) or
// none. Input beyond the limits (more than 100 operands or operators pending
// on one level, names over 255 characters, more than 79 hexadecimal digits) is
// refused with STATUS_INVALID (STATUS_BAD_CHAR for the digits) and a message.
// An object is used by one thread at a time.
//
// Lives in: s/UtilEquateimp.cpp; tests: tests/equate_test.cpp; docs: docs/equations.md.
#pragma once

#include "UtilExport.h"
#include "UtilStrobj.h"

#include <cstdint>
#include <vector>

enum UT_OPERATOR_TYPE { OP_XOR = 0, OP_AND = 1, OP_OR = 2 };
enum UT_PRED_TYPE { PRED_OPERATOR = 0, PRED_ATOM = 1 };
enum UT_PRED_STATUS { PRED_OK = 0, PRED_ERROR = 1, PRED_RPAREN = 2 };

class UTIL_EXPORT UT_PREDICATE {
public:
    virtual ~UT_PREDICATE() = default;
    virtual void toggleinversion(unsigned char b) = 0;
    virtual UT_PRED_TYPE gettype() const = 0;
    virtual uint64_t eval() const = 0;
};

class UTIL_EXPORT UT_ATOM : public UT_PREDICATE {
public:
    explicit UT_ATOM(uint64_t v) : value(v) {}
    void toggleinversion(unsigned char b) override {
        if (b)
            value = ~value;
    }
    UT_PRED_TYPE gettype() const override { return PRED_ATOM; }
    uint64_t eval() const override { return value; }

private:
    uint64_t value;  // one bit per ROM address: the atom's truth table
};

// Owns its operands. Evaluating a deep tree uses no recursion either.
class UTIL_EXPORT UT_OPERATOR : public UT_PREDICATE {
public:
    UT_OPERATOR(UT_OPERATOR_TYPE t, UT_PREDICATE* l, UT_PREDICATE* r) : type(t), left(l), right(r) {}
    ~UT_OPERATOR() override;
    UT_OPERATOR(const UT_OPERATOR&) = delete;
    UT_OPERATOR& operator=(const UT_OPERATOR&) = delete;
    void toggleinversion(unsigned char b) override {
        if (b)
            inverted = !inverted;
    }
    UT_PRED_TYPE gettype() const override { return PRED_OPERATOR; }
    uint64_t eval() const override;

private:
    static void destroy(UT_PREDICATE* p) noexcept;

    UT_OPERATOR_TYPE type;  // AND, OR or XOR
    UT_PREDICATE* left;     // owned operand
    UT_PREDICATE* right;    // owned operand
    bool inverted = false;  // the result is complemented
};

// The operands pending on one parenthesis level; deletes what is left on it.
class UTIL_EXPORT UT_PRED_STACK {
public:
    // operands one parenthesis level may hold, as equations have always been limited
    static constexpr int kRoom = 100;

    UT_PRED_STACK() = default;
    ~UT_PRED_STACK();
    UT_PRED_STACK(const UT_PRED_STACK&) = delete;
    UT_PRED_STACK& operator=(const UT_PRED_STACK&) = delete;

    // False when the stack is full (the caller still owns `p`).
    bool push(UT_PREDICATE* p);
    UT_PREDICATE* pop();
    int size() const { return static_cast<int>(entries.size()); }

private:
    std::vector<UT_PREDICATE*> entries;  // grows as needed, up to kRoom
};

class UTIL_EXPORT UT_EQUATE_IMP {
public:
    enum STATUS { STATUS_OK = 1, STATUS_WARNING = 2, STATUS_BAD_CHAR = 3, STATUS_BAD_LINES = 4, STATUS_INVALID = 5 };

    explicit UT_EQUATE_IMP(unsigned char attribute_form);
    ~UT_EQUATE_IMP();
    UT_EQUATE_IMP(const UT_EQUATE_IMP&) = delete;
    UT_EQUATE_IMP& operator=(const UT_EQUATE_IMP&) = delete;

    STATUS gen_hex(const char* eqn, const char** names, int nlines, const char* lhs, char*& out);
    STATUS gen_equatestr(const char* init, const char** names, int nlines, const char* lhs, char*& out);
    STATUS validate(const char* eqn, const char* lhs, const char** names, int nlines);
    wchar_t* geterrmsg() const { return message; }

private:
    struct Parse;
    // Parses the equation after the first '=' into a tree (owned by the
    // caller), or leaves a message and gives null.
    UT_PREDICATE* parse(const char* eqn, const char** names, int nlines);
    void setmsg(wchar_t* msg);
    STATUS checkhex(const char* s);

    UT_STRING output;             // the text of the last result, reused between calls
    wchar_t* message;             // the last failure's message; null after a success
    unsigned char attributeForm;  // nonzero: names and hex in the attribute form (see gen_hex)
    int (*namecmp)(const char*, const char*);
};

class UTIL_EXPORT UT_EQUATE {
public:
    enum STATUS {
        STATUS_OK = UT_EQUATE_IMP::STATUS_OK,
        STATUS_WARNING = UT_EQUATE_IMP::STATUS_WARNING,
        STATUS_BAD_CHAR = UT_EQUATE_IMP::STATUS_BAD_CHAR,
        STATUS_BAD_LINES = UT_EQUATE_IMP::STATUS_BAD_LINES,
        STATUS_INVALID = UT_EQUATE_IMP::STATUS_INVALID
    };

    explicit UT_EQUATE(unsigned char attributeForm = 0);
    ~UT_EQUATE();
    UT_EQUATE(const UT_EQUATE&) = delete;
    UT_EQUATE& operator=(const UT_EQUATE&) = delete;

    STATUS gen_hex(const char* eqn, const char** names, int nlines, const char* lhs, char*& out);
    STATUS gen_hex(const char* eqn, const char** names, int nlines, char*& out);
    STATUS gen_equatestr(const char* init, const char** names, int nlines, const char* lhs, char*& out);
    STATUS validate(const char* eqn, const char* lhs, const char** names, int nlines);
    STATUS validate(const char* eqn, const char** names, int nlines);
    // The last call's message, or null; valid until the next call.
    wchar_t* geterrmsg() const;

private:
    UT_EQUATE_IMP* imp;  // the implementation; never null
};
