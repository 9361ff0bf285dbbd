// Rom.h - one call of the equation converter by mode, for utiltool and the
// Python module alike.
#pragma once

#include <UtilEquate.h>

#include <cstddef>
#include <string>
#include <vector>

namespace UtilTool {

// The converter's range of address lines.
inline constexpr std::size_t kFewestLines = 2;
inline constexpr std::size_t kMostLines = 6;

// "hex": the digits of the equation `text`; "eqn": the equation of the
// digits `text`; anything else: a check of the equation `text`. `out` is the
// converter's result (hex, eqn), valid until this thread's next conversion.
inline UT_EQUATE::STATUS convertRom(UT_EQUATE& e, const std::string& mode, const std::string& text,
                                    const std::vector<std::string>& lines, const std::string& lhs, char*& out) {
    std::vector<const char*> names;
    for (const auto& n : lines)
        names.push_back(n.c_str());
    const int n = static_cast<int>(names.size());
    out = nullptr;
    if (mode == "hex")
        return e.gen_hex(text.c_str(), names.data(), n, lhs.c_str(), out);
    if (mode == "eqn")
        return e.gen_equatestr(text.c_str(), names.data(), n, lhs.c_str(), out);
    return e.validate(text.c_str(), lhs.c_str(), names.data(), n);
}

}  // namespace UtilTool
