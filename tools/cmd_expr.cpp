// cmd_expr.cpp - `utiltool expr`: evaluates one expression.
#include "Command.h"

#include <UtilExpression.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <type_traits>

namespace {

constexpr const char* kUsage =
    "  expr [--type short|int|int64|bool] EXPRESSION [NAME=VALUE ...]\n"
    "  prints the value (int when no type is given); put -- before an\n"
    "  expression that starts with '-'. Boolean values are true, false, 1 or 0.\n";

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
int evaluate(const std::vector<std::string>& p) {
    typename Util::Expression<T>::VarMap vars;
    for (std::size_t i = 1; i < p.size(); ++i) {
        const auto eq = p[i].find('=');
        T value{};
        if (eq == std::string::npos || eq == 0 || !toValue(p[i].substr(eq + 1), value)) {
            std::fprintf(stderr, "utiltool expr: '%s' is not NAME=VALUE with a value of the type\n", p[i].c_str());
            return 2;
        }
        vars[p[i].substr(0, eq)] = value;
    }
    try {
        const T v = Util::Expression<T>(p[0].c_str())(&vars);
        if constexpr (std::is_same_v<T, bool>)
            std::printf("%s\n", v ? "true" : "false");
        else
            std::printf("%" PRId64 "\n", static_cast<int64_t>(v));
        return 0;
    } catch (const Port::Exception& e) {
        std::string why = e.getMessage();
        if (!why.empty() && why.back() == '\n')
            why.pop_back();
        std::fprintf(stderr, "utiltool expr: %s\n", why.c_str());
        return 1;
    }
}

int run(const std::vector<std::string>& args) {
    UtilTool::Options opts;
    if (!opts.parse(args, {"--type"}, {}, std::numeric_limits<std::size_t>::max()))
        return 2;
    if (opts.positional.empty()) {
        std::fprintf(stderr, "usage:\n%s", kUsage);
        return 2;
    }
    std::string type = "int";
    for (const auto& [key, value] : opts.values)
        type = value;
    if (type == "short")
        return evaluate<short>(opts.positional);
    if (type == "int")
        return evaluate<int>(opts.positional);
    if (type == "int64")
        return evaluate<int64_t>(opts.positional);
    if (type == "bool")
        return evaluate<bool>(opts.positional);
    std::fprintf(stderr, "utiltool expr: --type is short, int, int64 or bool, not '%s'\n", type.c_str());
    return 2;
}

UtilTool::Registration reg({"expr", "evaluate an integer or boolean expression", kUsage, run});

}  // namespace
