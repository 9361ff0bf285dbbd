// Tests of the equation converter: grouping, messages, both modes, round trips.
#include "TestSupport.h"

#include <UtilEquate.h>

#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

const char* kLines[] = {"A0", "A1", "A2", "A3", "A4", "A5"};

std::string message(const UT_EQUATE& e) {
    const wchar_t* w = e.geterrmsg();
    return w ? std::string(w, w + std::wcslen(w)) : "<none>";
}

// The plain-form hex of an equation, or "<status>: message".
std::string hex(const char* eqn, int nlines = 2) {
    UT_EQUATE e;
    char* out = reinterpret_cast<char*>(1);
    auto st = e.gen_hex(eqn, kLines, nlines, out);
    if (st != UT_EQUATE::STATUS_OK) {
        std::string r = out ? "<out set> " : "";
        r += std::to_string(st);
        r += ": ";
        r += message(e);
        return r;
    }
    return out;
}

TEST(EquationToHex, OperatorsConstantsAndGrouping) {
    EXPECT_EQ(hex("O = A0*A1"), "8");
    EXPECT_EQ(hex("A0+A1"), "E");
    EXPECT_EQ(hex("A0@A1"), "6");
    EXPECT_EQ(hex("~A0"), "5");
    EXPECT_EQ(hex("~~a0"), "A");  // plain form: names ignore case
    EXPECT_EQ(hex("1"), "F");
    EXPECT_EQ(hex("0"), "0");
    EXPECT_EQ(hex("A0", 4), "AAAA");
    EXPECT_EQ(hex("1", 6), std::string(16, 'F'));
    EXPECT_EQ(hex("A5", 6), "FFFFFFFF00000000");
    EXPECT_EQ(hex("~(A0+A1)"), "1");
    EXPECT_EQ(hex("a*b+c*d"), hex("(a*b)+(c*d)"));
    const char* n4[] = {"a", "b", "c", "d"};
    auto digits = [&](const char* eqn) {
        UT_EQUATE e;
        char* out = nullptr;
        e.gen_hex(eqn, n4, 4, out);
        return std::string(out ? out : "?");
    };
    EXPECT_EQ(digits("a*b+c*d"), digits("(a*b)+(c*d)"));
    EXPECT_EQ(digits("a*b@c"), digits("a*(b@c)"));
    EXPECT_NE(digits("a*b@c"), digits("(a*b)@c"));
    EXPECT_EQ(digits("a*b@c*d"), digits("a*(b@(c*d))"));
    EXPECT_EQ(digits("a@b*c"), digits("a@(b*c)"));
    EXPECT_EQ(digits("a+b+c*d"), digits("(a+b)+(c*d)"));
}

TEST(EquationToHex, RefusalsAndTheirMessages) {
    EXPECT_EQ(hex("A0+"), "5: Empty equate string - ignoring.");
    EXPECT_EQ(hex(""), "5: Empty equate string - ignoring.");
    EXPECT_EQ(hex("(A0"), "5: Unmatched '('.");
    EXPECT_EQ(hex("(A0+"), "5: Unmatched '('.");
    EXPECT_EQ(hex("A0)"), "5: Too many right parens.");
    EXPECT_EQ(hex("A0 A1"), "5: Unexpected 'A1'.");
    EXPECT_EQ(hex("A_0"), "5: Unknown literal \"A\".");
    EXPECT_EQ(hex("2"), "5: Unexpected '2'.");
    EXPECT_EQ(hex("()"), "5: Unexpected ')'.");
    EXPECT_EQ(hex("A0", 1), "4: Wrong number of address lines.");
    EXPECT_EQ(hex("A0", 7), "4: Wrong number of address lines.");
    EXPECT_EQ(hex(std::string("X").append(255, 'y').c_str()), "5: Literal longer than 255 characters.");
    std::string mixed = "A0";
    for (int i = 0; i < 100; ++i)
        mixed += i % 2 ? "*A0" : "@A1";
    EXPECT_EQ(hex(mixed.c_str()), "5: More than 100 operands or operators pending on one level.");
    // Depth is not limited and uses no machine stack.
    std::string deep = std::string(200000, '(') + "A0" + std::string(200000, ')');
    EXPECT_EQ(hex(deep.c_str()), "A");
    std::string chain = "A0";
    for (int i = 0; i < 200000; ++i)
        chain += "+A1";
    EXPECT_EQ(hex(chain.c_str()), "E");
}

TEST(EquationToHex, AttributeForm) {
    UT_EQUATE e(1);
    char* out = nullptr;
    EXPECT_EQ(e.gen_hex("O=a0", kLines, 2, "O", out), UT_EQUATE::STATUS_INVALID);
    EXPECT_EQ(message(e), "Unknown literal \"a0\".");
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(e.gen_hex("INIT=A0*A1", kLines, 2, "INIT", out), UT_EQUATE::STATUS_OK);
    EXPECT_STREQ(out, "INIT=0x8");
    EXPECT_EQ(e.geterrmsg(), nullptr);
}

std::string equation(UT_EQUATE& e, const char* init, int nlines, UT_EQUATE::STATUS expect) {
    char* out = nullptr;
    EXPECT_EQ(e.gen_equatestr(init, kLines, nlines, "O", out), expect) << init;
    return out ? out : "<null>";
}

TEST(HexToEquation, TermsPaddingAndExtraDigits) {
    UT_EQUATE e;
    EXPECT_EQ(equation(e, "E", 2, UT_EQUATE::STATUS_OK), "O = A0*~A1 + ~A0*A1 + A0*A1");
    EXPECT_EQ(e.geterrmsg(), nullptr);
    EXPECT_EQ(equation(e, "8", 2, UT_EQUATE::STATUS_OK), "O = A0*A1");
    EXPECT_EQ(equation(e, "0", 2, UT_EQUATE::STATUS_OK), "O = 0");
    EXPECT_EQ(equation(e, "", 2, UT_EQUATE::STATUS_WARNING), "O = 0");
    EXPECT_EQ(message(e), "INITSTATE string shorter than width of the ROM - padding with zeros.");
    EXPECT_EQ(equation(e, "1E", 2, UT_EQUATE::STATUS_WARNING), "O = A0*~A1 + ~A0*A1 + A0*A1");
    EXPECT_EQ(message(e), "Extra bits specified in the INITSTATE - ignoring.");
    EXPECT_EQ(equation(e, "XE", 2, UT_EQUATE::STATUS_WARNING), "O = A0*~A1 + ~A0*A1 + A0*A1");
    char* out = nullptr;
    EXPECT_EQ(e.gen_equatestr("G", kLines, 2, "O", out), UT_EQUATE::STATUS_BAD_CHAR);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(message(e), "Bad character 'G' in INITSTATE string.");
    EXPECT_EQ(e.gen_equatestr(std::string(80, '0').c_str(), kLines, 6, "O", out), UT_EQUATE::STATUS_BAD_CHAR);
    EXPECT_EQ(message(e), "More than 79 characters in the INITSTATE string.");
    EXPECT_EQ(e.gen_equatestr("1", kLines, 7, "O", out), UT_EQUATE::STATUS_BAD_LINES);
    EXPECT_EQ(message(e), "Wrong number of address lines.");

    UT_EQUATE a(1);
    EXPECT_EQ(equation(a, "O=0x8", 2, UT_EQUATE::STATUS_OK), "O=A0*A1");
    EXPECT_EQ(equation(a, "6", 2, UT_EQUATE::STATUS_OK), "O=A0*~A1+~A0*A1");
    EXPECT_EQ(equation(a, "O=0x", 3, UT_EQUATE::STATUS_OK), "O=0");  // padded silently
}

TEST(Validate, BothModes) {
    UT_EQUATE plain;
    EXPECT_EQ(plain.validate("A0*A1", kLines, 2), UT_EQUATE::STATUS_OK);
    EXPECT_EQ(plain.validate("A0*", kLines, 2), UT_EQUATE::STATUS_INVALID);
    EXPECT_EQ(message(plain), "Empty equate string - ignoring.");
    EXPECT_EQ(plain.validate("A0", kLines, 2), UT_EQUATE::STATUS_OK);
    EXPECT_EQ(plain.geterrmsg(), nullptr);  // the earlier message is gone

    UT_EQUATE a(1);
    struct Case {
        const char* eqn;
        UT_EQUATE::STATUS status;
        const char* msg;
    };
    for (Case c : {Case{"INIT=0x1F", UT_EQUATE::STATUS_OK, "<none>"}, Case{"init=0X1f", UT_EQUATE::STATUS_OK, "<none>"},
                   Case{"IN=0x1", UT_EQUATE::STATUS_OK, "<none>"}, Case{"=A0", UT_EQUATE::STATUS_OK, "<none>"},
                   Case{"INIT=0x", UT_EQUATE::STATUS_INVALID, "Invalid hexdecimal string \"0x\"."},
                   Case{"INIT=0x1G", UT_EQUATE::STATUS_INVALID, "Invalid hexdecimal digit <G> in string \"0x1G\"."},
                   Case{"INIT 0x1", UT_EQUATE::STATUS_INVALID, "Missing = ."},
                   Case{"OUT=A0", UT_EQUATE::STATUS_INVALID, "Invalid left hand side, \"INIT\"."},
                   Case{"INX=A0", UT_EQUATE::STATUS_INVALID, "Invalid left hand side, \"INIT\"."},
                   Case{"INIT=A0*a1", UT_EQUATE::STATUS_INVALID, "Unknown literal \"a1\"."}}) {
        EXPECT_EQ(a.validate(c.eqn, "INIT", kLines, 2), c.status) << c.eqn;
        EXPECT_EQ(message(a), c.msg) << c.eqn;
    }
}

// Every function of 2 and 3 lines, and random ones of 4 to 6, survive
// hex -> equation -> hex -> equation unchanged.
TEST(RoundTrips, HexEquationHex) {
    std::mt19937_64 rng(17);
    for (int n = 2; n <= 6; ++n) {
        const int digits = (1 << n) / 4;
        const uint64_t all = n < 3 ? (1u << (1 << n)) : n == 3 ? 256 : 300;
        for (uint64_t f = 0; f < all; ++f) {
            uint64_t table = n <= 3 ? f : rng();
            char init[17];
            std::snprintf(init, sizeof init, "%0*llX", digits,
                          static_cast<unsigned long long>(n == 6 ? table : table & ((1ull << (1 << n)) - 1)));
            for (unsigned char form : {0, 1}) {
                UT_EQUATE e(form);
                char* eqn = nullptr;
                ASSERT_EQ(e.gen_equatestr(init, kLines, n, "O", eqn), UT_EQUATE::STATUS_OK) << init;
                std::string first = eqn;
                char* back = nullptr;
                ASSERT_EQ(e.gen_hex(first.c_str(), kLines, n, "O", back), UT_EQUATE::STATUS_OK) << first;
                EXPECT_EQ(std::string(back), form ? std::string("O=0x").append(init) : std::string(init));
                char* again = nullptr;
                ASSERT_EQ(e.gen_equatestr(back, kLines, n, "O", again), UT_EQUATE::STATUS_OK);
                EXPECT_EQ(std::string(again), first);
            }
        }
    }
}

TEST(Threads, PlainResultsAreEachThreadsOwn) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    const char* eqns[] = {"A0*A1", "A0+A1", "A0@A1", "~A0"};
    const char* want[] = {"8", "E", "6", "5"};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            UT_EQUATE e;
            for (int i = 0; i < 3000; ++i) {
                char* out = nullptr;
                e.gen_hex(eqns[t], kLines, 2, out);
                wrong[t] += std::string(out) != want[t];
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
