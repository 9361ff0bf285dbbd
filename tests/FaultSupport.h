// FaultSupport.h - failures on demand: the K-th system call under the
// library's files fails, as on a full disk or a failing device.
#pragma once

#include "TestSupport.h"

#include <PortStream.h>

#include <cerrno>
#include <functional>

namespace UtilTest {

// The K-th of a run of requests fails, and with `sticky` every one after it;
// requests made while it is not armed pass. Shared by the I/O faults below
// and the heap faults of heap_fault_test.
struct Countdown {
    long k = 0;
    bool sticky = false;
    long seen = 0;
    bool fired = false;  // the K-th request came (and failed)
    bool armed = false;

    void arm(long failing, bool stickyFailure) { *this = Countdown{failing, stickyFailure, 0, false, true}; }
    bool failsNow() {
        if (!armed)
            return false;
        ++seen;
        if (seen == k || (sticky && seen > k)) {
            fired = true;
            return true;
        }
        return false;
    }
};

// Runs `run(k)` for K = 1, 2, ... while it returns true (the K-th request
// came): every sweep's loop, stopping early once a run has failed a check.
template <class Run>
void forEachK(Run run) {
    for (long k = 1; run(k); ++k)
        if (testing::Test::HasFailure())
            return;
}

// While it lives, every write, seek, sync and close under the library's files
// is counted (together, from 1); the `k`-th fails, and with `sticky` every one
// after it too. Reads are left alone: the sweeps are about what is written.
class IoFault {
public:
    IoFault(long k, bool sticky) {
        state().arm(k, sticky);
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
    ~IoFault() {
        Port::setIoCalls(previous_);
        state().armed = false;
    }
    IoFault(const IoFault&) = delete;
    IoFault& operator=(const IoFault&) = delete;

    // True when the chosen call came (and failed).
    bool fired() const { return state().fired; }

private:
    static Countdown& state() {
        static Countdown s;
        return s;
    }
    static bool hit(int error) {
        if (!state().failsNow())
            return false;
        errno = error;
        return true;
    }
    Port::IoCalls previous_;
};

// Runs `attempt` with the K-th call failing, for K = 1, 2, ... until a run
// meets no failure; `check(ok, k)` judges each run that met one.
inline void sweep(bool sticky, const std::function<bool()>& attempt, const std::function<void(bool, long)>& check) {
    forEachK([&](long k) {
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
            return false;
        }
        check(ok, k);
        return true;
    });
}

}  // namespace UtilTest
