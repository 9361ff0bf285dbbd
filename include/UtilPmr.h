// UtilPmr.h - pools behind standard containers: memory resources in the
// shapes std::pmr has, and a standard allocator.
//
//   Util::UnsynchronizedPoolResource mine;            // one thread's, no locks
//   std::pmr::list<Net> nets(&mine);
//   Util::SynchronizedPoolResource shared;            // for any number of threads
//   std::pmr::unordered_map<int, int> m(&shared);
//   std::list<Net, Util::PoolAllocator<Net>> more;    // from any thread, like std::allocator
//
// Each takes requests of up to 128 bytes (alignment up to 8) from blocks of
// its size class (multiples of 8 bytes), carved from 64 KiB chunks, and
// passes larger or more strictly aligned ones upstream:
// - UnsynchronizedPoolResource is one thread's at a time, as its name says,
//   like std::pmr::unsynchronized_pool_resource: pools of its own, no locks;
//   its chunks go back upstream with release() or the resource.
// - SynchronizedPoolResource may be used by any number of threads at once,
//   like std::pmr::synchronized_pool_resource: each thread works in a shard
//   of its own (a lock nobody else usually holds); a block may be given back
//   on any thread; its chunks go back upstream with the resource.
// - PoolAllocator<T> is stateless and safe from any thread, like
//   std::allocator: single elements come from a cache of the calling thread
//   (no lock), arrays from operator new. With the pools off (neither
//   QRN_MEMPOOL_ON nor QRN_SM_MEMPOOL_ON set) it is std::allocator.
// A thread that gives back more blocks than it takes hands them on in
// batches (it keeps up to 8192 free blocks of a class), so that memory is
// reused whichever thread frees it. Giving a
// block back as another size than it was taken with is undefined, as for
// any resource; a build with assertions reports it (fatal, code 19).
//
// SmallPoolResource and FixedPoolResource put what they take in the
// library's own pools (the shared small-element pools, or a UT_FASTMEM), so
// it counts in their statistics and dumps. A SmallPoolResource holds a lock
// of its size class around every request, so resources on several threads
// are safe with each other; FixedPoolResource holds the pool's guard when it
// has one (set_guard) and is otherwise one thread's at a time.
//
// An element the library's pools cannot give is their fatal report
// (Port::FatalError); the other resources throw what their upstream throws.
//
// Lives in: include/UtilPmr.h, s/UtilPmr.cpp; tests: tests/typed_test.cpp, tests/pmr_threads_test.cpp;
//   docs: docs/typed.md.
#pragma once

#include "UtilFstmem.h"
#include "UtilSmem.h"

#include <PortMsg.h>
#include <PortThread.h>

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <new>
#include <vector>

namespace Util {

namespace Details {

// The alignment every pool element has: elements are 8-byte multiples after
// an 8-byte link in a heap chunk.
inline constexpr std::size_t kPoolAlign = 8;
inline constexpr std::size_t kLargestPooled = UT_SM_MNGR::kLargestShared;
// The size classes of the resources' own pools: multiples of kBlockStep.
inline constexpr std::size_t kBlockStep = 8;
inline constexpr std::size_t kBlockClasses = kLargestPooled / kBlockStep;

inline bool pooled(std::size_t bytes, std::size_t align) { return bytes <= kLargestPooled && align <= kPoolAlign; }
inline std::size_t classOf(std::size_t bytes) { return bytes ? (bytes - 1) / kBlockStep : 0; }

// Free blocks of one class, linked through their first word.
struct FreeBlocks {
    void* head = nullptr;
    std::size_t count = 0;

    void push(void* block) noexcept {
        *static_cast<void**>(block) = head;
        head = block;
        ++count;
    }
    void* pop() noexcept {
        void* block = head;
        if (block) {
            head = *static_cast<void**>(block);
            --count;
        }
        return block;
    }
};

// PoolAllocator's pools: whether they are on, and a block of class c from
// the calling thread's cache (given back to it on any thread).
UTIL_EXPORT bool allocatorPoolsOn();
UTIL_EXPORT void* allocatorTake(std::size_t c);
UTIL_EXPORT void allocatorGive(void* p, std::size_t c) noexcept;
// The lock SmallPoolResource holds around the shared pool of class c when
// the pool has no guard of its own.
UTIL_EXPORT Port_ThrMutex& smallPoolLock(std::size_t c);

// Runs `f` holding `lock` when there is one.
template <class F>
decltype(auto) holding(Port_ThrMutex* lock, F&& f) {
    if (!lock)
        return f();
    Port_ThrGuard<Port_ThrMutex> hold(*lock);
    return f();
}

// The report the pools make when the heap refuses them.
[[noreturn]] inline void outOfMemory(int line) {
    Port_MsgManData::createObject("Utilities", "include/UtilPmr.h", line, "1.0").issueFatal(1, "%s\n", "Out Of Memory");
}

// The element `take` gives under the pool's guard, or the fatal report.
template <class Take>
void* taken(Port_ThrMutex* guard, Take take) {
    void* p = holding(guard, take);
    if (!p)
        outOfMemory(__LINE__);
    return p;
}

// An element of a shared small pool, or the fatal report; under the pool's
// guard, or else `lock`.
inline void* takeFrom(UT_SM_SMALLMEM& pool, Port_ThrMutex& lock) {
    Port_ThrMutex* guard = pool.get_guard();
    return taken(guard ? guard : &lock, [&] { return pool.getmem(); });
}
inline void giveTo(UT_SM_SMALLMEM& pool, void* p, Port_ThrMutex& lock) {
    Port_ThrMutex* guard = pool.get_guard();
    holding(guard ? guard : &lock, [&] { pool.relmem(p); });
}

}  // namespace Details

class SmallPoolResource : public std::pmr::memory_resource {
public:
    explicit SmallPoolResource(std::pmr::memory_resource* upstream = std::pmr::get_default_resource())
        : upstream_(upstream) {}
    ~SmallPoolResource() override {
        for (UT_SM_SMALLMEM* h : handles_)
            delete h;
    }
    SmallPoolResource(const SmallPoolResource&) = delete;
    SmallPoolResource& operator=(const SmallPoolResource&) = delete;

    std::pmr::memory_resource* upstream_resource() const { return upstream_; }

private:
    static constexpr std::size_t kClasses = Details::kLargestPooled / Details::kPoolAlign;

    static bool pooled(std::size_t bytes, std::size_t align) {
        return bytes <= Details::kLargestPooled && align <= Details::kPoolAlign;
    }
    // The shared pool of the class of `bytes`, through a handle made on first use.
    UT_SM_SMALLMEM& pool(std::size_t bytes) {
        const std::size_t c = bytes ? (bytes - 1) / Details::kPoolAlign : 0;
        if (!handles_[c])
            handles_[c] = new UT_SM_SMALLMEM(static_cast<int>((c + 1) * Details::kPoolAlign), 0, "std::pmr", -1);
        return *handles_[c];
    }

    void* do_allocate(std::size_t bytes, std::size_t align) override {
        if (!pooled(bytes, align))
            return upstream_->allocate(bytes, align);
        return Details::takeFrom(pool(bytes), Details::smallPoolLock(Details::classOf(bytes)));
    }
    void do_deallocate(void* p, std::size_t bytes, std::size_t align) override {
        if (!pooled(bytes, align))
            upstream_->deallocate(p, bytes, align);
        else
            Details::giveTo(pool(bytes), p, Details::smallPoolLock(Details::classOf(bytes)));
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    std::pmr::memory_resource* upstream_;     // serves what the pools do not take
    UT_SM_SMALLMEM* handles_[kClasses] = {};  // a handle on each size class used so far
};

// Requests that fit one element of `pool` come from it; the others go
// upstream. The pool must outlive the resource.
class FixedPoolResource : public std::pmr::memory_resource {
public:
    explicit FixedPoolResource(UT_FASTMEM& pool, std::pmr::memory_resource* upstream = std::pmr::get_default_resource())
        : pool_(pool), upstream_(upstream) {}

    std::pmr::memory_resource* upstream_resource() const { return upstream_; }

private:
    bool pooled(std::size_t bytes, std::size_t align) const {
        return bytes <= pool_.element_size() && align <= Details::kPoolAlign;
    }
    void* do_allocate(std::size_t bytes, std::size_t align) override {
        if (!pooled(bytes, align))
            return upstream_->allocate(bytes, align);
        return Details::taken(pool_.get_guard(), [&] { return pool_.getnewptr(); });
    }
    void do_deallocate(void* p, std::size_t bytes, std::size_t align) override {
        if (!pooled(bytes, align))
            upstream_->deallocate(p, bytes, align);
        else
            Details::holding(pool_.get_guard(), [&] { pool_.qrn_free(p); });
    }
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    UT_FASTMEM& pool_;                     // the caller's pool
    std::pmr::memory_resource* upstream_;  // serves what does not fit an element
};

// One thread's pools (see above).
class UTIL_EXPORT UnsynchronizedPoolResource : public std::pmr::memory_resource {
public:
    explicit UnsynchronizedPoolResource(std::pmr::memory_resource* upstream = std::pmr::get_default_resource());
    ~UnsynchronizedPoolResource() override;
    UnsynchronizedPoolResource(const UnsynchronizedPoolResource&) = delete;
    UnsynchronizedPoolResource& operator=(const UnsynchronizedPoolResource&) = delete;

    std::pmr::memory_resource* upstream_resource() const { return upstream_; }
    // Gives every chunk back upstream, whether or not its blocks came back.
    void release();

private:
    void* do_allocate(std::size_t bytes, std::size_t align) override;
    void do_deallocate(void* p, std::size_t bytes, std::size_t align) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    std::pmr::memory_resource* upstream_;                    // gives the chunks and serves what is not pooled
    Details::FreeBlocks free_[Details::kBlockClasses] = {};  // the free blocks of each class
    std::vector<void*> chunks_;                              // every chunk taken from upstream
};

// Pools for any number of threads at once (see above).
class UTIL_EXPORT SynchronizedPoolResource : public std::pmr::memory_resource {
public:
    static constexpr std::size_t kShards = 8;  // threads beyond this many share shards

    explicit SynchronizedPoolResource(std::pmr::memory_resource* upstream = std::pmr::get_default_resource());
    ~SynchronizedPoolResource() override;
    SynchronizedPoolResource(const SynchronizedPoolResource&) = delete;
    SynchronizedPoolResource& operator=(const SynchronizedPoolResource&) = delete;

    std::pmr::memory_resource* upstream_resource() const { return upstream_; }

private:
    struct Shard;
    struct Shared;
    void* do_allocate(std::size_t bytes, std::size_t align) override;
    void do_deallocate(void* p, std::size_t bytes, std::size_t align) override;
    bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }

    std::pmr::memory_resource* upstream_;  // gives the chunks and serves what is not pooled
    Shared* shared_;                       // the shards, the blocks they hand on, the chunks; never null
};

// A standard allocator, safe from any thread (see above): one element at a
// time from the calling thread's cache, arrays from operator new. Stateless:
// all compare equal.
template <class T>
class PoolAllocator {
public:
    using value_type = T;

    PoolAllocator() noexcept = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n == 1 && pooledType() && poolsOn())
            return static_cast<T*>(Details::allocatorTake(Details::classOf(sizeof(T))));
        return std::allocator<T>{}.allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n == 1 && pooledType() && poolsOn())
            Details::allocatorGive(p, Details::classOf(sizeof(T)));
        else
            std::allocator<T>{}.deallocate(p, n);
    }
    template <class U>
    friend bool operator==(const PoolAllocator&, const PoolAllocator<U>&) noexcept {
        return true;
    }

private:
    // Whether one T fits a size class (asked only once T is complete).
    static constexpr bool pooledType() {
        return sizeof(T) <= Details::kLargestPooled && alignof(T) <= Details::kPoolAlign;
    }
    static bool poolsOn() {
        static const bool on = Details::allocatorPoolsOn();
        return on;
    }
};

}  // namespace Util
