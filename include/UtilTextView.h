// UtilTextView.h - a zero-terminated copy of a std::string_view, for the
// std::string_view overloads of calls whose texts are C strings underneath.
//
// The overloads hand the library the copy, so a view is looked up exactly as
// the same text passed as a C string would be; a view holding a zero byte
// therefore stands for its text up to that byte. Texts of up to kInline
// characters are copied on the stack, longer ones to the heap.
//
// Lives in: include/UtilTextView.h (header only); tests: tests/typed_test.cpp; docs: docs/typed.md.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace Util {

class CText {
public:
    // Names of design objects are mostly shorter: no heap request for them.
    static constexpr std::size_t kInline = 255;

    explicit CText(std::string_view text) {
        if (text.size() <= kInline) {
            std::memcpy(inline_, text.data(), text.size());
            inline_[text.size()] = '\0';
            at_ = inline_;
        } else {
            long_.assign(text);
            at_ = long_.c_str();
        }
    }
    CText(const CText&) = delete;
    CText& operator=(const CText&) = delete;

    const char* c_str() const { return at_; }
    // For the calls that take a char* they do not change.
    char* data() { return const_cast<char*>(at_); }

private:
    char inline_[kInline + 1];  // short texts and their zero
    std::string long_;          // longer texts
    const char* at_;            // whichever of the two holds the text
};

}  // namespace Util
