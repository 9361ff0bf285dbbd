// cmd_rom.cpp - `utiltool rom`: between boolean equations and ROM contents.
#include "Command.h"
#include "Rom.h"

#include <UtilEquate.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

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

struct Options {
    std::string mode;
    std::string text;
    std::string lines;
    std::string lhs = "O";
    std::string attribute;
};

UtilTool::Action setup(CLI::App& app) {
    auto o = std::make_shared<Options>();
    app.add_option("mode", o->mode,
                   "hex: the INIT digits of EQUATION; eqn: the equation of HEX; check: checks EQUATION")
        ->required()
        ->check(CLI::IsMember({"hex", "eqn", "check"}));
    app.add_option("text", o->text, "the equation or the hexadecimal digits, in ASCII")->required();
    app.add_option("--lines", o->lines, "the address lines A0,A1,... in order: 2 to 6 names")->required();
    app.add_option("--lhs", o->lhs, "left-hand side of the plain form's equation (default O)");
    app.add_option("--attribute", o->attribute,
                   "attribute form with this left-hand side: case-sensitive names, \"LHS=0x...\" texts");
    app.footer(
        "Exit status 1 when the library refuses the input; warnings go to standard error and\n"
        "the result is still printed.");
    return [o] {
        for (const std::string* t : {&o->text, &o->lines, &o->lhs, &o->attribute})
            if (std::string c = UtilTool::firstNonAscii(*t); !c.empty())
                return UtilTool::refuse("rom", "'%s' is not allowed: equations and names are ASCII", c.c_str());
        std::setlocale(LC_ALL, "");
        std::vector<std::string> names = split(o->lines);
        if (names.size() < UtilTool::kFewestLines || names.size() > UtilTool::kMostLines)
            return UtilTool::refuse("rom", "--lines names %zu address lines; the converter takes 2 to 6", names.size());
        const bool attribute = !o->attribute.empty();
        const std::string lhs = attribute ? o->attribute : o->lhs;
        UT_EQUATE e(attribute ? 1 : 0);
        char* out = nullptr;
        const UT_EQUATE::STATUS st = UtilTool::convertRom(e, o->mode, o->text, names, lhs, out);
        if (st != UT_EQUATE::STATUS_OK && st != UT_EQUATE::STATUS_WARNING)
            return UtilTool::refuse("rom", "%s", narrow(e.geterrmsg()).c_str());
        if (st == UT_EQUATE::STATUS_WARNING)
            std::fprintf(stderr, "utiltool rom: warning: %s\n", narrow(e.geterrmsg()).c_str());
        std::printf("%s\n", o->mode == "check" ? "valid" : out);
        return UtilTool::kDone;
    };
}

UtilTool::Registration reg({"rom", "boolean equations to ROM contents and back", setup});

}  // namespace
