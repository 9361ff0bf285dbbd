// FaultSupport.h - failures on demand: the K-th system call under the
// library's files fails, as on a full disk or a failing device.
#pragma once

#include "TestSupport.h"

#include <PortStream.h>

#include <cerrno>
#include <functional>

namespace UtilTest {

// While it lives, every write, seek, sync and close under the library's files
// is counted (together, from 1); the `k`-th fails, and with `sticky` every one
// after it too. Reads are left alone: the sweeps are about what is written.
class IoFault {
public:
    IoFault(long k, bool sticky) {
        state() = State{k, sticky, 0, false};
        auto& d = Port::defaultIoCalls();
        previous_ = Port::setIoCalls(Port::IoCalls{
            d.read,
            [](int fd, const void* b, std::size_t n) -> ssize_t {
                return hit(ENOSPC) ? -1 : Port::defaultIoCalls().write(fd, b, n);
            },
            [](int fd, off_t o, int w) -> off_t { return hit(EIO) ? -1 : Port::defaultIoCalls().lseek(fd, o, w); },
            [](int fd) { return hit(EIO) ? -1 : Port::defaultIoCalls().fsync(fd); },
            [](int fd) {
                // The descriptor is released even when close reports failure.
                bool fail = hit(EIO);
                int r = Port::defaultIoCalls().close(fd);
                return fail ? -1 : r;
            }});
    }
    ~IoFault() { Port::setIoCalls(previous_); }
    IoFault(const IoFault&) = delete;
    IoFault& operator=(const IoFault&) = delete;

    // True when the chosen call came (and failed).
    bool fired() const { return state().fired; }

private:
    struct State {
        long k;
        bool sticky;
        long seen;
        bool fired;
    };
    static State& state() {
        static State s;
        return s;
    }
    static bool hit(int error) {
        State& s = state();
        ++s.seen;
        if (s.seen == s.k || (s.sticky && s.seen > s.k)) {
            s.fired = true;
            errno = error;
            return true;
        }
        return false;
    }
    Port::IoCalls previous_;
};

// Runs `attempt` with the K-th call failing, for K = 1, 2, ... until a run
// meets no failure; `check(ok, k)` judges each run that met one.
inline void sweep(bool sticky, const std::function<bool()>& attempt, const std::function<void(bool, long)>& check) {
    for (long k = 1;; ++k) {
        bool ok, fired;
        {
            UtilTest::CapturedReports quiet;
            UtilTest::IoFault fault(k, sticky);
            try {
                ok = attempt();
            } catch (const Port::FatalError&) {
                ok = false;
            }
            fired = fault.fired();
        }
        if (!fired) {
            EXPECT_TRUE(ok) << "without a failure at K=" << k;
            EXPECT_GT(k, 1) << "the sweep met no call at all";
            return;
        }
        check(ok, k);
    }
}

}  // namespace UtilTest
