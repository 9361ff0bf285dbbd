// cmd_rom.cpp - `utiltool rom`: between boolean equations and ROM contents.
#include "Command.h"

#include <UtilEquate.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "  rom hex EQUATION --lines A0,A1,...   the INIT digits of the equation\n"
    "  rom eqn HEX --lines A0,A1,...        the equation of the digits\n"
    "  rom check EQUATION --lines A0,...    checks the equation\n"
    "  --attribute LHS   attribute form: case-sensitive names, \"LHS=0x...\" texts\n"
    "  --lhs NAME        left-hand side of the plain form's equation (default O)\n"
    "Exit status 1 when the library refuses the input; warnings go to standard\n"
    "error and the result is still printed.\n";

std::vector<std::string> split(const std::string& list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t comma; (comma = list.find(',', start)) != std::string::npos; start = comma + 1)
        out.push_back(list.substr(start, comma - start));
    out.push_back(list.substr(start));
    return out;
}

// The library's wide message in the terminal's encoding.
std::string narrow(const wchar_t* w) {
    if (!w)
        return "";
    std::size_t n = std::wcstombs(nullptr, w, 0);
    if (n == static_cast<std::size_t>(-1))
        return "(message not representable)";
    std::string out(n, '\0');
    std::wcstombs(out.data(), w, n + 1);
    return out;
}

int run(const std::vector<std::string>& args) {
    UtilTool::Options opts;
    if (!opts.parse(args, {"--lines", "--attribute", "--lhs"}, {}, 2))
        return 2;
    const auto& p = opts.positional;
    std::string lines, lhs = "O";
    bool attribute = false;
    for (const auto& [key, value] : opts.values) {
        if (key == "--lines")
            lines = value;
        else if (key == "--lhs")
            lhs = value;
        else if (key == "--attribute") {
            attribute = true;
            lhs = value;
        }
    }
    if (p.size() != 2 || lines.empty() || (p[0] != "hex" && p[0] != "eqn" && p[0] != "check")) {
        std::fprintf(stderr, "usage:\n%s", kUsage);
        return 2;
    }
    std::setlocale(LC_ALL, "");
    std::vector<std::string> names = split(lines);
    std::vector<const char*> ptrs;
    for (const auto& n : names)
        ptrs.push_back(n.c_str());
    UT_EQUATE e(attribute ? 1 : 0);
    char* out = nullptr;
    UT_EQUATE::STATUS st;
    const int n = static_cast<int>(ptrs.size());
    if (p[0] == "hex")
        st = e.gen_hex(p[1].c_str(), ptrs.data(), n, lhs.c_str(), out);
    else if (p[0] == "eqn")
        st = e.gen_equatestr(p[1].c_str(), ptrs.data(), n, lhs.c_str(), out);
    else
        st = e.validate(p[1].c_str(), lhs.c_str(), ptrs.data(), n);
    if (st != UT_EQUATE::STATUS_OK && st != UT_EQUATE::STATUS_WARNING) {
        std::fprintf(stderr, "utiltool rom: %s\n", narrow(e.geterrmsg()).c_str());
        return 1;
    }
    if (st == UT_EQUATE::STATUS_WARNING)
        std::fprintf(stderr, "utiltool rom: warning: %s\n", narrow(e.geterrmsg()).c_str());
    std::printf("%s\n", p[0] == "check" ? "valid" : out);
    return 0;
}

UtilTool::Registration reg({"rom", "boolean equations to ROM contents and back", kUsage, run});

}  // namespace
