// PortThread.cpp - POSIX implementation of the thread layer.
#include "PortThread.h"

#include <atomic>

namespace {

// Failures the tests ask for, taken one by one by the calls they stand for.
std::atomic<unsigned> pendingLockFailures{0};    // lock attempts still to fail
std::atomic<unsigned> locksBeforeFailures{0};    // lock attempts to let through before those fail
std::atomic<int> lockFailureCode{0};             // the code a failed lock throws
std::atomic<unsigned> pendingCreateFailures{0};  // mutex or slot constructions still to fail
std::atomic<unsigned> createFailureCode{0};      // the code a failed construction throws

// Takes one pending failure, if any, atomically.
bool takeOne(std::atomic<unsigned>& pending) {
    unsigned n = pending.load(std::memory_order_relaxed);
    while (n > 0) {
        if (pending.compare_exchange_weak(n, n - 1, std::memory_order_acq_rel))
            return true;
    }
    return false;
}

void throwIfCreateShouldFail() {
    if (takeOne(pendingCreateFailures))
        throw Port_ThrException(createFailureCode.load());
}

}  // namespace

namespace Port::Thread::Testing {

void failNextLocks(unsigned count, Error code, unsigned skip) {
    lockFailureCode.store(code);
    locksBeforeFailures.store(skip);
    pendingLockFailures.store(count);
}

void failNextCreates(unsigned count, unsigned code) {
    createFailureCode.store(code);
    pendingCreateFailures.store(count);
}

void reset() {
    pendingLockFailures.store(0);
    locksBeforeFailures.store(0);
    pendingCreateFailures.store(0);
}

}  // namespace Port::Thread::Testing

Port_ThrMutex::Port_ThrMutex() {
    throwIfCreateShouldFail();
    if (int rc = pthread_mutex_init(&mutex_, nullptr); rc != 0)
        throw Port_ThrException(static_cast<unsigned>(rc));
}

Port_ThrMutex::~Port_ThrMutex() { pthread_mutex_destroy(&mutex_); }

Port::Thread::Error Port_ThrMutex::lock() {
    if (pendingLockFailures.load(std::memory_order_relaxed) > 0 && !takeOne(locksBeforeFailures) &&
        takeOne(pendingLockFailures))
        return lockFailureCode.load();
    return pthread_mutex_lock(&mutex_);
}

Port::Thread::Error Port_ThrMutex::unlock() { return pthread_mutex_unlock(&mutex_); }

Port_ThrThreadDataHelper::Port_ThrThreadDataHelper(Cleanup cleanup) {
    throwIfCreateShouldFail();
    if (int rc = pthread_key_create(&key_, cleanup); rc != 0)
        throw Port_ThrException(static_cast<unsigned>(rc));
}

Port_ThrThreadDataHelper::~Port_ThrThreadDataHelper() { pthread_key_delete(key_); }

void* Port_ThrThreadDataHelper::getData() const { return pthread_getspecific(key_); }

Port::Thread::Error Port_ThrThreadDataHelper::setData(void* data) { return pthread_setspecific(key_, data); }
