// FaultSupport.h - failures on demand: the K-th system call under the
// library's files fails, as on a full disk or a failing device.
#pragma once

#include <PortStream.h>

#include <cerrno>

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

}  // namespace UtilTest
