// TestSupport.h - helpers shared by the library's tests.
#pragma once

#include <UtilIfile.h>
#include <UtilPtrfile.h>

#include <PortMsg.h>
#include <PortThread.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

namespace UtilTest {

// Installs a sink that keeps every report, for the life of the object.
class CapturedReports {
public:
    std::vector<Port::Message> messages() const {
        std::lock_guard<std::mutex> hold(lock_);
        return messages_;
    }
    // The texts of the status reports, in order.
    std::vector<std::string> status() const {
        std::vector<std::string> out;
        for (const auto& m : messages())
            if (m.kind == Port::MsgKind::Status)
                out.push_back(m.text);
        return out;
    }
    void clear() {
        std::lock_guard<std::mutex> hold(lock_);
        messages_.clear();
    }

private:
    void keep(const Port::Message& m) {
        std::lock_guard<std::mutex> hold(lock_);
        messages_.push_back(m);
    }

    mutable std::mutex lock_;              // reports may come from several threads
    std::vector<Port::Message> messages_;  // every report, in the order it came
    // Last, so that it is installed after and removed before the fields it fills.
    Port::ScopedMsgSink sink_{[this](const Port::Message& m) { keep(m); }};
};

// Sets (or unsets, with a null value) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

private:
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// A path in the test's scratch directory, unique to this process.
inline std::string tempPath(const std::string& name) {
    return testing::TempDir() + "util_test_" + std::to_string(getpid()) + "_" + name;
}

// prefix followed by n, with zeros before n up to `width` digits: built with
// append, since operator+ on a literal draws a false -Wrestrict from GCC 12
// at -O3.
inline std::string numbered(const char* prefix, long long n, std::size_t width = 0) {
    std::string out(prefix);
    const std::string digits = std::to_string(n);
    if (digits.size() < width)
        out.append(width - digits.size(), '0');
    out.append(digits);
    return out;
}

// A pointer file written by `write(file)`: whether it opened and closed
// (so was written) whole.
template <class Write>
bool writePtrfile(const std::string& path, Write write) {
    UT_PTRFILE f(Port::Stream::WRITE);
    if (!f.open(path.c_str()))
        return false;
    write(f);
    return f.close();
}

// The bytes of segment `name` (of `type`, -1 any) in a loaded segmented file,
// or "<missing>"; `info` receives its directory entry.
inline std::string segmentOf(UT_IFILE& f, std::string name, int type = -1, UT_IFILESEGINFO* info = nullptr) {
    UT_IFILESEGINFO own;
    info = info ? info : &own;
    Port::Stream* s = f.getdataseg(name.data(), type, info);
    if (!s)
        return "<missing>";
    std::string bytes(static_cast<std::size_t>(info->getsize()), '\0');
    const bool read = s->readbytes(bytes.data(), bytes.size());
    f.enddataseg();
    return read ? bytes : "<unreadable>";
}

inline std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void spit(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// Cancels any pending failure of the thread layer when a test ends.
struct ThreadFailureReset {
    ~ThreadFailureReset() { Port::Thread::Testing::reset(); }
};

}  // namespace UtilTest

// Runs `statement`, expects Port::FatalError with `code` and `text`, and that
// the sink saw exactly that fatal report.
#define EXPECT_FATAL(statement, expected_code, expected_text)       \
    do {                                                            \
        ::UtilTest::CapturedReports captured_;                      \
        try {                                                       \
            statement;                                              \
            ADD_FAILURE() << "no fatal report from: " #statement;   \
        } catch (const Port::FatalError& e_) {                      \
            EXPECT_EQ(e_.getCode(), (expected_code));               \
            EXPECT_EQ(e_.getMessage(), std::string(expected_text)); \
            auto seen_ = captured_.messages();                      \
            ASSERT_EQ(seen_.size(), 1u);                            \
            EXPECT_EQ(seen_[0].kind, Port::MsgKind::Fatal);         \
            EXPECT_EQ(seen_[0].module, "Utilities");                \
            EXPECT_EQ(seen_[0].text, std::string(expected_text));   \
        }                                                           \
    } while (0)
