// UtilEquateimp.cpp - equations to ROM contents and back.
#include "UtilReport.h"
#include "UtilStatics.h"

#include <UtilEquate.h>

#include <PortMsg.h>
#include <PortString.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilEquateimp.cpp", "1.0"};

constexpr int kMinLines = 2;               // the fewest address lines a ROM has
constexpr int kMaxLines = 6;               // the most: 64 addresses, one 64-bit truth table
constexpr std::size_t kMaxName = 255;      // the longest line name or left-hand side
constexpr std::size_t kMaxHexDigits = 79;  // the longest digit string read
constexpr std::size_t kHexBuffer = 17;     // 16 digits and a terminator
constexpr const char* kDigits = "0123456789ABCDEF";
constexpr const char* kInitState = "INITSTATE";  // what the messages call the digit string
// Line i's truth table over the 64 addresses: bit a is bit i of a. An
// equation is evaluated on all addresses at once, as 64-bit AND, OR and NOT
// of these words.
constexpr uint64_t kLineTables[kMaxLines] = {0xAAAAAAAAAAAAAAAAull, 0xCCCCCCCCCCCCCCCCull, 0xF0F0F0F0F0F0F0F0ull,
                                             0xFF00FF00FF00FF00ull, 0xFFFF0000FFFF0000ull, 0xFFFFFFFF00000000ull};

constexpr const char* kMsgLines = "Wrong number of address lines.";
constexpr const char* kMsgBadChar = "Bad character '%c' in %s string.";
constexpr const char* kMsgShort = "INITSTATE string shorter than width of the ROM - padding with zeros.";
constexpr const char* kMsgExtra = "Extra bits specified in the %s - ignoring.";
constexpr const char* kMsgUnknown = "Unknown literal \"%s\".";
constexpr const char* kMsgUnexpected = "Unexpected '%s'.";
constexpr const char* kMsgUnmatched = "Unmatched '('.";
constexpr const char* kMsgRightParens = "Too many right parens.";
constexpr const char* kMsgEmpty = "Empty equate string - ignoring.";
constexpr const char* kMsgMissingEq = "Missing = .";
constexpr const char* kMsgBadLhs = "Invalid left hand side, \"%s\".";
constexpr const char* kMsgBadHex = "Invalid hexdecimal string \"%s\".";
constexpr const char* kMsgBadDigit = "Invalid hexdecimal digit <%c> in string \"%s\".";
constexpr const char* kMsgLongName = "Literal longer than 255 characters.";
constexpr const char* kMsgTooDeep = "More than 100 operands or operators pending on one level.";
constexpr const char* kMsgLongHex = "More than 79 characters in the %s string.";

// A thread's plain hexadecimal output.
struct ThreadOutput {
    char hex[kHexBuffer];
};

Util::Statics::Shared<Port_ThrThreadDataHelper> slot;

int precedence(UT_OPERATOR_TYPE t) { return t == OP_OR ? 1 : 2; }

bool isHexPrefix(const char* s) { return s[0] == '0' && (s[1] == 'x' || s[1] == 'X'); }

}  // namespace

namespace Util::Statics {

Port_ThrThreadDataHelper& equateSlot() { return threadSlot<ThreadOutput>(slot, kUnit, __LINE__); }

}  // namespace Util::Statics

// ---- predicate tree --------------------------------------------------------

// Takes a tree apart without recursion and without memory: an operator with
// an operator on its left is rotated right until its left is a leaf, which is
// deleted with the operator; the walk goes on down the right. Every node is
// rotated at most once per node above it on the left spine, so the whole is
// linear. A destructor may neither allocate nor throw.
void UT_OPERATOR::destroy(UT_PREDICATE* p) noexcept {
    while (p) {
        if (p->gettype() != PRED_OPERATOR) {
            delete p;
            return;
        }
        auto* op = static_cast<UT_OPERATOR*>(p);
        if (op->left && op->left->gettype() == PRED_OPERATOR) {
            auto* l = static_cast<UT_OPERATOR*>(op->left);
            op->left = l->right;
            l->right = op;
            p = l;
            continue;
        }
        delete op->left;
        UT_PREDICATE* next = op->right;
        op->left = op->right = nullptr;
        delete op;  // no children left: its destructor does nothing more
        p = next;
    }
}

UT_OPERATOR::~UT_OPERATOR() {
    UT_PREDICATE* l = left;
    UT_PREDICATE* r = right;
    left = right = nullptr;
    destroy(l);
    destroy(r);
}

uint64_t UT_OPERATOR::eval() const {
    // Post-order on an explicit stack, for the same reason.
    struct Frame {
        const UT_OPERATOR* op;  // the operator being evaluated
        uint64_t left;          // its left operand's value, once known
        int stage;              // 0 and 1: the left operand is evaluated and kept, 2 and 3: the right
    };
    std::vector<Frame> stack{{this, 0, 0}};
    uint64_t result = 0;
    while (!stack.empty()) {
        std::size_t top = stack.size() - 1;
        const UT_OPERATOR* op = stack[top].op;
        const UT_PREDICATE* child = stack[top].stage < 2 ? op->left : op->right;
        int stage = stack[top].stage;
        if (stage == 0 || stage == 2) {
            if (child->gettype() == PRED_OPERATOR) {
                stack[top].stage = stage + 1;
                stack.push_back({static_cast<const UT_OPERATOR*>(child), 0, 0});
                continue;
            }
            result = child->eval();
            ++stage;
        }
        if (stage == 1) {
            stack[top].left = result;
            stack[top].stage = 2;
            continue;
        }
        uint64_t l = stack[top].left, r = result;
        uint64_t v = op->type == OP_AND ? (l & r) : op->type == OP_OR ? (l | r) : (l ^ r);
        result = op->inverted ? ~v : v;
        stack.pop_back();
    }
    return result;
}

UT_PRED_STACK::~UT_PRED_STACK() {
    while (!entries.empty())
        delete pop();
}

bool UT_PRED_STACK::push(UT_PREDICATE* p) {
    if (entries.size() >= static_cast<std::size_t>(kRoom))
        return false;
    entries.push_back(p);
    return true;
}

UT_PREDICATE* UT_PRED_STACK::pop() {
    if (entries.empty())
        return nullptr;
    UT_PREDICATE* p = entries.back();
    entries.pop_back();
    return p;
}

// ---- parsing ---------------------------------------------------------------

struct UT_EQUATE_IMP::Parse {
    enum Kind { END, OPEN, CLOSE, OPERATOR, CONSTANT, INVERT, NAME, BAD };
    struct Token {
        Kind kind;                     // what the token is
        std::string_view text;         // into the equation
        UT_OPERATOR_TYPE op = OP_AND;  // OPERATOR: which one
    };
    // One parenthesis level: its pending operands and operators, and the
    // inversion that applies to it as a whole.
    struct Level {
        UT_PRED_STACK operands;             // the operands read on this level
        std::vector<UT_OPERATOR_TYPE> ops;  // the operators between them
        bool inverted = false;              // the level is preceded by an inversion
    };

    UT_EQUATE_IMP& self;       // the converter, for its name comparison and messages
    const char* at;            // the next character to read
    const char** names;        // the address lines' names
    int nlines;                // how many names there are
    std::deque<Level> levels;  // the open parenthesis levels, the outermost first

    Token next() {
        while (*at && UT_STR::IsSpace(*at))
            ++at;
        const char* start = at;
        char c = *at;
        if (!c)
            return {END, {}};
        ++at;
        std::string_view one(start, 1);
        switch (c) {
        case '(':
            return {OPEN, one};
        case ')':
            return {CLOSE, one};
        case '*':
            return {OPERATOR, one, OP_AND};
        case '+':
            return {OPERATOR, one, OP_OR};
        case '@':
            return {OPERATOR, one, OP_XOR};
        case '0':
        case '1':
            return {CONSTANT, one};
        case '~':
            return {INVERT, one};
        default:
            break;
        }
        if (!UT_STR::IsAlpha(c))
            return {BAD, one};
        while (*at && UT_STR::IsAlnum(*at))
            ++at;
        return {NAME, std::string_view(start, static_cast<std::size_t>(at - start))};
    }

    UT_PREDICATE* fail(wchar_t* msg) {
        self.setmsg(msg);
        return nullptr;
    }
    UT_PREDICATE* unexpected(const Token& t) {
        return fail(
            Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgUnexpected, std::string(t.text).c_str()));
    }
    UT_PREDICATE* plain(const char* msg) {
        return fail(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, "%s", msg));
    }

    void combine(Level& l) {
        UT_OPERATOR_TYPE t = l.ops.back();
        l.ops.pop_back();
        // Owned here until the operator holds them: its allocation may fail.
        std::unique_ptr<UT_PREDICATE> right(l.operands.pop());
        std::unique_ptr<UT_PREDICATE> left(l.operands.pop());
        auto* op = new UT_OPERATOR(t, left.get(), right.get());
        left.release();
        right.release();
        l.operands.push(op);  // two were taken: there is room
    }

    UT_PREDICATE* run() {
        levels.emplace_back();
        std::unique_ptr<UT_PREDICATE> term;
        for (;;) {
            if (!term) {
                bool invert = false;
                Token t = next();
                for (; t.kind == INVERT; t = next())
                    invert = !invert;
                switch (t.kind) {
                case END:
                    return plain(levels.size() > 1 ? kMsgUnmatched : kMsgEmpty);
                case NAME: {
                    if (t.text.size() > kMaxName)
                        return plain(kMsgLongName);
                    char name[kMaxName + 1];
                    std::memcpy(name, t.text.data(), t.text.size());
                    name[t.text.size()] = '\0';
                    int line = -1;
                    for (int i = 0; i < nlines && line < 0; ++i)
                        if (names && names[i] && self.namecmp(name, names[i]) == 0)
                            line = i;
                    if (line < 0)
                        return fail(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgUnknown, name));
                    uint64_t table = line < kMaxLines ? kLineTables[line] : 0;
                    term.reset(new UT_ATOM(invert ? ~table : table));
                    break;
                }
                case CONSTANT:
                    term.reset(new UT_ATOM(t.text[0] == '1' ? ~uint64_t{0} : 0));
                    term->toggleinversion(invert);
                    break;
                case OPEN:
                    levels.emplace_back();
                    levels.back().inverted = invert;
                    continue;
                default:
                    return unexpected(t);
                }
                continue;
            }
            Token t = next();
            Level& level = levels.back();
            if (t.kind == OPERATOR) {
                if (!level.operands.push(term.get()))
                    return plain(kMsgTooDeep);
                term.release();
                while (!level.ops.empty() &&
                       (precedence(t.op) < precedence(level.ops.back()) || t.op == level.ops.back()))
                    combine(level);
                if (level.ops.size() >= static_cast<std::size_t>(UT_PRED_STACK::kRoom))
                    return plain(kMsgTooDeep);
                level.ops.push_back(t.op);
                continue;
            }
            if (t.kind != END && t.kind != CLOSE)
                return unexpected(t);
            if (!level.operands.push(term.get()))
                return plain(kMsgTooDeep);
            term.release();
            while (!level.ops.empty())
                combine(level);
            term.reset(level.operands.pop());
            if (t.kind == END)
                return levels.size() > 1 ? plain(kMsgUnmatched) : term.release();
            if (levels.size() == 1)
                return plain(kMsgRightParens);
            term->toggleinversion(level.inverted);
            levels.pop_back();
        }
    }
};

UT_PREDICATE* UT_EQUATE_IMP::parse(const char* eqn, const char** names, int nlines) {
    const char* text = eqn ? eqn : "";
    if (const char* eq = UT_STR::FindChar(text, '='))
        text = eq + 1;
    Parse p{*this, text, names, nlines, {}};
    return p.run();
}

// ---- the converter ---------------------------------------------------------

UT_EQUATE_IMP::UT_EQUATE_IMP(unsigned char attribute_form)
    : output(100), message(nullptr), attributeForm(attribute_form),
      namecmp(attribute_form ? UT_STR::Compare : UT_STR::ICompare) {}

UT_EQUATE_IMP::~UT_EQUATE_IMP() { delete[] message; }

void UT_EQUATE_IMP::setmsg(wchar_t* msg) {
    delete[] message;
    message = msg;
}

UT_EQUATE_IMP::STATUS UT_EQUATE_IMP::gen_hex(const char* eqn, const char** names, int nlines, const char* lhs,
                                             char*& out) {
    setmsg(nullptr);
    out = nullptr;
    if (nlines < kMinLines || nlines > kMaxLines) {
        setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, "%s", kMsgLines));
        return STATUS_BAD_LINES;
    }
    std::unique_ptr<UT_PREDICATE> tree(parse(eqn, names, nlines));
    if (!tree)
        return STATUS_INVALID;
    const uint64_t table = tree->eval();
    tree.reset();

    Port_ThrThreadDataHelper& helper = Util::Statics::equateSlot();
    auto* mine = static_cast<ThreadOutput*>(helper.getData());
    if (!mine) {
        auto made = std::make_unique<ThreadOutput>();
        if (Port::Thread::Error e = helper.setData(made.get()))
            UTIL_REPORT().fatal(Util::Frame::kFatal, Util::Frame::kMsgLockCreate, static_cast<unsigned>(e));
        mine = made.release();
    }
    const int digits = (1 << nlines) / 4;
    for (int d = 0; d < digits; ++d)
        mine->hex[digits - 1 - d] = kDigits[(table >> (4 * d)) & 0xF];
    mine->hex[digits] = '\0';
    if (!attributeForm) {
        out = mine->hex;
        return STATUS_OK;
    }
    output.reset();
    output.append(lhs);
    output.append("=0x");
    output.append(mine->hex);
    out = output.getbuf();
    return STATUS_OK;
}

UT_EQUATE_IMP::STATUS UT_EQUATE_IMP::gen_equatestr(const char* init, const char** names, int nlines, const char* lhs,
                                                   char*& out) {
    setmsg(nullptr);
    if (nlines < kMinLines || nlines > kMaxLines) {
        setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, "%s", kMsgLines));
        return STATUS_BAD_LINES;
    }
    const int size = 1 << nlines;
    const std::size_t digits = static_cast<std::size_t>(size / 4);
    const char* hex = init ? init : "";
    if (attributeForm) {
        if (const char* eq = UT_STR::FindChar(hex, '='))
            hex = eq + 1;
        if (isHexPrefix(hex))
            hex += 2;
    }
    std::string text = hex;
    if (text.size() > kMaxHexDigits) {
        setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgLongHex, kInitState));
        return STATUS_BAD_CHAR;
    }
    bool warned = false;
    if (text.size() < digits) {
        text.insert(0, digits - text.size(), '0');
        if (!attributeForm) {
            setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, "%s", kMsgShort));
            warned = true;
        }
    }
    uint64_t table = 0;
    int bits = 0;
    for (auto c = text.rbegin(); c != text.rend(); ++c, bits += 4) {
        if (bits >= size) {
            setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgExtra, kInitState));
            warned = true;
            break;
        }
        if (!UT_STR::IsXDigit(*c)) {
            setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgBadChar, *c, kInitState));
            return STATUS_BAD_CHAR;
        }
        const char* digit = std::strchr(kDigits, UT_STR::ToUpper(*c));
        table |= static_cast<uint64_t>(digit - kDigits) << bits;
    }
    const char* join = attributeForm ? "+" : " + ";
    output.reset();
    output.append(lhs);
    output.append(attributeForm ? "=" : " = ");
    bool any = false;
    for (int a = 0; a < size; ++a) {
        if (!((table >> a) & 1))
            continue;
        if (any)
            output.append(join);
        any = true;
        for (int i = 0; i < nlines; ++i) {
            if (i)
                output.append('*');
            if (!((a >> i) & 1))
                output.append('~');
            output.append(names && names[i] ? names[i] : "");
        }
    }
    if (!any)
        output.append('0');
    out = output.getbuf();
    return warned ? STATUS_WARNING : STATUS_OK;
}

UT_EQUATE_IMP::STATUS UT_EQUATE_IMP::checkhex(const char* s) {
    if (std::strlen(s) < 3 || !isHexPrefix(s)) {
        setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgBadHex, s));
        return STATUS_INVALID;
    }
    for (const char* c = s + 2; *c; ++c)
        if (!UT_STR::IsXDigit(*c)) {
            setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgBadDigit, *c, s));
            return STATUS_INVALID;
        }
    return STATUS_OK;
}

UT_EQUATE_IMP::STATUS UT_EQUATE_IMP::validate(const char* eqn, const char* lhs, const char** names, int nlines) {
    setmsg(nullptr);
    const char* text = eqn ? eqn : "";
    const char* left = lhs ? lhs : "";
    if (attributeForm) {
        const char* eq = UT_STR::FindChar(text, '=');
        if (!eq) {
            setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, "%s", kMsgMissingEq));
            return STATUS_INVALID;
        }
        const std::size_t n = static_cast<std::size_t>(eq - text);
        if (n > 0 && UT_STR::INCompare(text, left, n) != 0) {
            setmsg(Port_MsgDispatcher::translateMsg(Util::Frame::kModule, kMsgBadLhs, left));
            return STATUS_INVALID;
        }
        if (isHexPrefix(eq + 1))
            return checkhex(eq + 1);
    }
    std::unique_ptr<UT_PREDICATE> tree(parse(text, names, nlines));
    return tree ? STATUS_OK : STATUS_INVALID;
}

// ---- public object ---------------------------------------------------------

UT_EQUATE::UT_EQUATE(unsigned char attributeForm) : imp(new UT_EQUATE_IMP(attributeForm)) {}
UT_EQUATE::~UT_EQUATE() { delete imp; }

UT_EQUATE::STATUS UT_EQUATE::gen_hex(const char* eqn, const char** names, int nlines, const char* lhs, char*& out) {
    return static_cast<STATUS>(imp->gen_hex(eqn, names, nlines, lhs, out));
}
UT_EQUATE::STATUS UT_EQUATE::gen_hex(const char* eqn, const char** names, int nlines, char*& out) {
    return static_cast<STATUS>(imp->gen_hex(eqn, names, nlines, "", out));
}
UT_EQUATE::STATUS UT_EQUATE::gen_equatestr(const char* init, const char** names, int nlines, const char* lhs,
                                           char*& out) {
    return static_cast<STATUS>(imp->gen_equatestr(init, names, nlines, lhs, out));
}
UT_EQUATE::STATUS UT_EQUATE::validate(const char* eqn, const char* lhs, const char** names, int nlines) {
    return static_cast<STATUS>(imp->validate(eqn, lhs, names, nlines));
}
UT_EQUATE::STATUS UT_EQUATE::validate(const char* eqn, const char** names, int nlines) {
    return static_cast<STATUS>(imp->validate(eqn, "", names, nlines));
}
wchar_t* UT_EQUATE::geterrmsg() const { return imp->geterrmsg(); }
