// UtilPmr.h - the library's pools behind standard containers: two
// std::pmr::memory_resource classes and a standard allocator.
//
//   Util::SmallPoolResource pools;                    // the shared small-element pools
//   std::pmr::unordered_map<int, int> m(&pools);      // its nodes come from them
//   std::list<Net, Util::PoolAllocator<Net>> nets;    // the same, without pmr
//
// SmallPoolResource takes requests of up to 128 bytes (alignment up to 8)
// from the shared UT_SM_SMALLMEM pool of their size class, and passes larger
// or more strictly aligned ones to its upstream resource. FixedPoolResource
// does the same with one UT_FASTMEM for requests that fit its element.
// PoolAllocator<T> takes single elements (the nodes of std::list, std::map,
// std::unordered_map...) from the shared pool of sizeof(T)'s class and arrays
// from operator new. What they take counts in the pools' statistics and
// dumps like any other element.
//
// Like the pools, a resource is used by one thread at a time, except that
// every request holds the pool's guard when it has one (set_guard; the
// 16-byte class has the string objects' mutex). An element the pools cannot
// give is the pools' fatal report (Port::FatalError); nothing else is thrown,
// except what the upstream resource throws for the requests it serves.
//
// Lives in: include/UtilPmr.h (header only); tests: tests/typed_test.cpp; docs: docs/typed.md.
#pragma once

#include "UtilFstmem.h"
#include "UtilSmem.h"

#include <PortMsg.h>
#include <PortThread.h>

#include <cstddef>
#include <memory>
#include <memory_resource>
#include <new>

namespace Util {

namespace Details {

// The alignment every pool element has: elements are 8-byte multiples after
// an 8-byte link in a heap chunk.
inline constexpr std::size_t kPoolAlign = 8;
inline constexpr std::size_t kLargestPooled = UT_SM_MNGR::kLargestShared;

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

// An element of a shared small pool, or the fatal report.
inline void* takeFrom(UT_SM_SMALLMEM& pool) {
    return taken(pool.get_guard(), [&] { return pool.getmem(); });
}
inline void giveTo(UT_SM_SMALLMEM& pool, void* p) {
    holding(pool.get_guard(), [&] { pool.relmem(p); });
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
        return Details::takeFrom(pool(bytes));
    }
    void do_deallocate(void* p, std::size_t bytes, std::size_t align) override {
        if (!pooled(bytes, align))
            upstream_->deallocate(p, bytes, align);
        else
            Details::giveTo(pool(bytes), p);
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

// A standard allocator: one element at a time from the shared pool of
// sizeof(T)'s class, arrays from operator new. Stateless: all compare equal.
template <class T>
class PoolAllocator {
public:
    using value_type = T;

    PoolAllocator() noexcept = default;
    template <class U>
    PoolAllocator(const PoolAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n == 1 && pooledType())
            return static_cast<T*>(Details::takeFrom(pool()));
        return std::allocator<T>{}.allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
        if (n == 1 && pooledType())
            Details::giveTo(pool(), p);
        else
            std::allocator<T>{}.deallocate(p, n);
    }
    template <class U>
    friend bool operator==(const PoolAllocator&, const PoolAllocator<U>&) noexcept {
        return true;
    }

private:
    // Whether one T fits a shared size class (asked only once T is complete).
    static constexpr bool pooledType() {
        return sizeof(T) <= Details::kLargestPooled && alignof(T) <= Details::kPoolAlign;
    }

    // Made once and never destroyed, so that containers destroyed late in the
    // process's exit still give their elements back.
    static UT_SM_SMALLMEM& pool() {
        static UT_SM_SMALLMEM* const handle = new UT_SM_SMALLMEM(static_cast<int>(sizeof(T)), 0, "std::allocator", -1);
        return *handle;
    }
};

}  // namespace Util
