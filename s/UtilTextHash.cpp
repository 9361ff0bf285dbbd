// UtilTextHash.cpp - the process's hash key.
#include "UtilTextHash.h"

#include "UtilTyped.h"

#include <chrono>
#include <random>

namespace Util::KeyedHash {

const Key& processKey() noexcept {
    static const Key key = [] {
        uint64_t words[4] = {};
        try {
            std::random_device source;
            for (uint64_t& w : words)
                w = uint64_t{source()} << 32 | source();
        } catch (...) {
            // No random source: the clock and where this process was loaded
            // still differ from run to run.
            const uint64_t now = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
            const uint64_t here = reinterpret_cast<uintptr_t>(&words);
            const Key fallback{now, here, ~now, ~here};
            for (uint64_t& w : words)
                w = hashWord(static_cast<uint64_t>(&w - words), fallback);
        }
        return Key{words[0], words[1], words[2], words[3]};
    }();
    return key;
}

}  // namespace Util::KeyedHash

namespace Util::Details {

unsigned int hashText(std::string_view text) noexcept {
    return static_cast<unsigned int>(KeyedHash::hashBytes(text.data(), text.size(), KeyedHash::processKey()));
}

}  // namespace Util::Details
