// Fuzzes the equation converter on arbitrary text: gen_hex, validate and
// gen_equatestr in both forms. Whatever converts must round-trip: the
// equation made from the digits gives the same digits again.
#include <UtilEquate.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char* kLines[] = {"A0", "A1", "A2", "A3", "A4", "A5", "b7"};

[[noreturn]] void broken() { std::abort(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const unsigned char form = data[0] & 1;
    const int nlines = 1 + (data[0] >> 1) % 7;  // 1 to 7: the refused counts too
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    UT_EQUATE e(form);
    char* out = nullptr;
    e.validate(text.c_str(), "INIT", kLines, nlines);
    e.gen_equatestr(text.c_str(), kLines, nlines, "INIT", out);
    if (e.gen_hex(text.c_str(), kLines, nlines, "INIT", out) != UT_EQUATE::STATUS_OK)
        return 0;
    const std::string hex = out;
    const std::size_t digits = static_cast<std::size_t>((1 << nlines) / 4);
    if ((form ? hex.size() - std::strlen("INIT=0x") : hex.size()) != digits)
        broken();
    char* eqn = nullptr;
    if (e.gen_equatestr(hex.c_str(), kLines, nlines, "INIT", eqn) != UT_EQUATE::STATUS_OK)
        broken();
    const std::string equation = eqn;
    if (e.gen_hex(equation.c_str(), kLines, nlines, "INIT", out) != UT_EQUATE::STATUS_OK || hex != out)
        broken();
    return 0;
}
