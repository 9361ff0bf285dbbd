// PortThread.h - mutex, scoped guard and per-thread slot of the platform layer.
//
// A thin layer on POSIX threads. Failures are values, not crashes: a mutex or
// slot that cannot be made throws Port_ThrException with the system's error
// code, and lock() returns that code instead of throwing, so that callers
// decide (the library throws Port_ThrException::LOCK_FAILED, value 8).
//
// Port::Thread::Testing lets a test make the next locks or creations fail, so
// that the failure paths of the callers can be exercised deterministically.
//
// Lives in: port/PortThread.cpp; tests: tests/port_test.cpp; docs: docs/port.md.
#pragma once

#include "PortExport.h"

#include <pthread.h>

namespace Port::Thread {

// Zero on success, otherwise the POSIX error code.
using Error = int;

namespace Testing {
// After `skip` more successful calls, the next `count` calls of
// Port_ThrMutex::lock() (on any mutex, any thread) return `code` without locking.
PORT_EXPORT void failNextLocks(unsigned count, Error code, unsigned skip = 0);
// The next `count` constructions of a Port_ThrMutex or Port_ThrThreadDataHelper
// throw Port_ThrException carrying `code`.
PORT_EXPORT void failNextCreates(unsigned count, unsigned code);
// Cancels both of the above.
PORT_EXPORT void reset();
}  // namespace Testing

}  // namespace Port::Thread

// What the thread layer throws. An object carries the error code of a mutex or
// slot that could not be made; the nested enumeration is thrown by value when a
// lock cannot be taken.
class PORT_EXPORT Port_ThrException {
public:
    enum Exception { LOCK_FAILED = 8 };

    explicit Port_ThrException(unsigned errcode) : errcode_(errcode) {}
    unsigned getErrorCode() const { return errcode_; }

private:
    unsigned errcode_;  // the system's error code, or LOCK_FAILED
};

// A non-recursive mutex, constructed unlocked.
class PORT_EXPORT Port_ThrMutex {
public:
    Port_ThrMutex();
    virtual ~Port_ThrMutex();
    Port_ThrMutex(const Port_ThrMutex&) = delete;
    Port_ThrMutex& operator=(const Port_ThrMutex&) = delete;

    Port::Thread::Error lock();
    Port::Thread::Error unlock();

private:
    pthread_mutex_t mutex_;  // the system mutex (default kind: not recursive)
};

// Scoped lock: locks in its constructor (throwing LOCK_FAILED when it cannot)
// and unlocks in its destructor only if it holds the lock.
template <class Mutex>
class Port_ThrGuard {
public:
    explicit Port_ThrGuard(Mutex& mutex) : mutex_(mutex) {
        if (mutex_.lock() != 0)
            throw Port_ThrException::LOCK_FAILED;
        locked_ = true;
    }
    ~Port_ThrGuard() {
        if (locked_)
            mutex_.unlock();
    }
    Port_ThrGuard(const Port_ThrGuard&) = delete;
    Port_ThrGuard& operator=(const Port_ThrGuard&) = delete;

private:
    Mutex& mutex_;         // the mutex held
    bool locked_ = false;  // whether this guard holds it now
};

// One untyped pointer per thread; `cleanup` is called with a thread's non-null
// pointer when that thread ends.
class PORT_EXPORT Port_ThrThreadDataHelper {
public:
    using Cleanup = void (*)(void*);

    explicit Port_ThrThreadDataHelper(Cleanup cleanup);
    virtual ~Port_ThrThreadDataHelper();
    Port_ThrThreadDataHelper(const Port_ThrThreadDataHelper&) = delete;
    Port_ThrThreadDataHelper& operator=(const Port_ThrThreadDataHelper&) = delete;

    // This thread's pointer; null until the thread first calls setData.
    void* getData() const;
    Port::Thread::Error setData(void* data);

private:
    pthread_key_t key_;  // the system's slot key
};

// Typed wrapper of one slot.
template <class T>
class Port_ThrThreadData {
public:
    explicit Port_ThrThreadData(Port_ThrThreadDataHelper::Cleanup cleanup) : helper_(cleanup) {}

    T* getData() const { return static_cast<T*>(helper_.getData()); }
    Port::Thread::Error setData(T* data) { return helper_.setData(data); }

private:
    Port_ThrThreadDataHelper helper_;  // the untyped slot
};
