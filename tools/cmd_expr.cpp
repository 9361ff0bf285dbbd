// cmd_expr.cpp - `utiltool expr`: evaluates one expression.
#include "Command.h"

#include <UtilExpression.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

namespace {

template <class T>
bool toValue(const std::string& text, T& out) {
    if constexpr (std::is_same_v<T, bool>) {
        if (text == "true" || text == "1" || text == "false" || text == "0") {
            out = text == "true" || text == "1";
            return true;
        }
        return false;
    } else {
        char* end = nullptr;
        errno = 0;
        const long long v = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end || errno || v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max())
            return false;
        out = static_cast<T>(v);
        return true;
    }
}

template <class T>
int evaluate(const std::string& text, const std::vector<std::string>& bindings) {
    typename Util::Expression<T>::VarMap vars;
    for (const auto& binding : bindings) {
        const auto eq = binding.find('=');
        T value{};
        if (eq == std::string::npos || eq == 0 || !toValue(binding.substr(eq + 1), value)) {
            std::fprintf(stderr, "utiltool expr: '%s' is not NAME=VALUE with a value of the type\n", binding.c_str());
            return UtilTool::kUsage;
        }
        vars[binding.substr(0, eq)] = value;
    }
    try {
        const T v = Util::Expression<T>(text.c_str())(&vars);
        if constexpr (std::is_same_v<T, bool>)
            std::printf("%s\n", v ? "true" : "false");
        else
            std::printf("%" PRId64 "\n", static_cast<int64_t>(v));
        return UtilTool::kDone;
    } catch (const Port::Exception& e) {
        std::string why = e.getMessage();
        if (!why.empty() && why.back() == '\n')
            why.pop_back();
        return UtilTool::refuse("expr", "%s", why.c_str());
    }
}

struct Options {
    std::string type = "int";
    std::string text;
    std::vector<std::string> bindings;
};

UtilTool::Action setup(CLI::App& app) {
    auto o = std::make_shared<Options>();
    app.add_option("--type", o->type, "the value type (default int)")
        ->check(CLI::IsMember({"short", "int", "int64", "bool"}));
    app.add_option("expression", o->text, "the expression, in ASCII; put -- before one that starts with '-'")
        ->required();
    app.add_option("bindings", o->bindings, "NAME=VALUE: a variable's value (bool: true, false, 1 or 0)");
    app.footer("Prints the value; exit status 1 with the evaluator's message when it refuses.");
    return [o] {
        if (std::string c = UtilTool::firstNonAscii(o->text); !c.empty())
            return UtilTool::refuse("expr", "'%s' is not part of an expression: expressions are ASCII", c.c_str());
        if (o->type == "short")
            return evaluate<short>(o->text, o->bindings);
        if (o->type == "int64")
            return evaluate<int64_t>(o->text, o->bindings);
        if (o->type == "bool")
            return evaluate<bool>(o->text, o->bindings);
        return evaluate<int>(o->text, o->bindings);
    };
}

UtilTool::Registration reg({"expr", "evaluate an integer or boolean expression", setup});

}  // namespace
