// Fuzzes the expression evaluator on arbitrary text for all four value types,
// with and without variables. Only the evaluator's own exceptions may come
// out, and a narrower type that succeeds must agree with the wider ones: it
// computes the same 64-bit working values, only with more range checks.
#include <UtilExpression.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

[[noreturn]] void broken() { std::abort(); }

template <class T>
const typename Util::Expression<T>::VarMap& variables() {
    static const typename Util::Expression<T>::VarMap vars{
        {"a", T(3)}, {"b", T(-2)}, {"c", T(0)}, {"x1", T(7)}, {"True", T(1)}};
    return vars;
}

// Evaluates with the variables, then without; true when the first succeeded.
template <class T>
bool evaluate(const char* text, T& out) {
    Util::Expression<T> e(text);
    bool ok = true;
    try {
        out = e(&variables<T>());
    } catch (const Port::Exception&) {
        ok = false;
    }
    try {
        if (e(nullptr) != out || !ok)
            broken();  // without variables it can only fail, or give the same value
    } catch (const Port::Exception&) {
    }
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    short s = 0;
    int i = 0;
    int64_t l = 0;
    bool b = false;
    const bool okShort = evaluate<short>(text.c_str(), s);
    const bool okInt = evaluate<int>(text.c_str(), i);
    const bool okLong = evaluate<int64_t>(text.c_str(), l);
    evaluate<bool>(text.c_str(), b);
    if ((okShort && (!okInt || static_cast<short>(i) != s)) || (okInt && (!okLong || static_cast<int>(l) != i)))
        broken();
    return 0;
}
