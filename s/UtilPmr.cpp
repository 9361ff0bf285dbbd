// UtilPmr.cpp - pools of small blocks for standard containers: one thread's,
// shared between threads, and the allocator's per-thread caches.
#include "UtilReport.h"

#include <UtilPmr.h>

#include <PortEnv.h>

#include <atomic>
#include <cassert>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilPmr.cpp", "1.0"};

using Util::Details::FreeBlocks;
using Util::Details::kBlockClasses;
using Util::Details::kBlockStep;

// Blocks are carved from chunks of this many bytes, each for one class.
constexpr std::size_t kChunkBytes = 64 * 1024;
// A per-thread list longer than this gives its blocks to the depot, so that a
// thread that frees what another allocates does not hoard them. Large: a
// thread that takes and gives back many blocks in turn then rarely meets the
// depot's lock, and keeps blocks its own cache has touched.
constexpr std::size_t kMostCached = 8192;

constexpr const char* kMsgWrongSize = "A block of %zu bytes was given back as one of %zu bytes.\n";

std::size_t blockBytes(std::size_t c) { return (c + 1) * kBlockStep; }

// Which class each chunk was carved for: checked when a block comes back in
// builds with assertions, where a wrong size would otherwise hand the block
// out later as a larger one.
class ChunkClasses {
public:
    void note(const void* chunk, std::size_t c) {
#ifndef NDEBUG
        std::lock_guard<std::mutex> hold(lock_);
        classes_[reinterpret_cast<uintptr_t>(chunk)] = c;
#else
        (void)chunk;
        (void)c;
#endif
    }
    void forget(const void* chunk) {
#ifndef NDEBUG
        std::lock_guard<std::mutex> hold(lock_);
        classes_.erase(reinterpret_cast<uintptr_t>(chunk));
#else
        (void)chunk;
#endif
    }
    void check(const void* block, std::size_t c) {
#ifndef NDEBUG
        std::lock_guard<std::mutex> hold(lock_);
        auto after = classes_.upper_bound(reinterpret_cast<uintptr_t>(block));
        if (after == classes_.begin())
            return;
        --after;
        if (reinterpret_cast<uintptr_t>(block) - after->first < kChunkBytes && after->second != c)
            UTIL_REPORT().fatal(Util::Frame::kFatal, kMsgWrongSize, blockBytes(after->second), blockBytes(c));
#else
        (void)block;
        (void)c;
#endif
    }

private:
#ifndef NDEBUG
    std::mutex lock_;
    std::map<uintptr_t, std::size_t> classes_;  // chunk address -> class
#endif
};

ChunkClasses& chunkClasses() {
    static ChunkClasses* const classes = new ChunkClasses;  // outlives every pool, also at exit
    return *classes;
}

// Splits a new chunk into blocks of class c, all onto `into`.
void carve(void* chunk, std::size_t c, FreeBlocks& into) {
    chunkClasses().note(chunk, c);
    const std::size_t bytes = blockBytes(c);
    char* at = static_cast<char*>(chunk);
    for (std::size_t n = kChunkBytes / bytes; n > 0; --n, at += bytes)
        into.push(at);
}

// A new chunk from `upstream`, recorded in `chunks` and carved into blocks
// of class c onto `into`.
void carveNew(std::pmr::memory_resource* upstream, std::vector<void*>& chunks, std::size_t c, FreeBlocks& into) {
    chunks.reserve(chunks.size() + 1);  // so that a chunk once taken is always recorded
    void* chunk = upstream->allocate(kChunkBytes, alignof(std::max_align_t));
    chunks.push_back(chunk);
    carve(chunk, c, into);
}

// Gives every chunk in `chunks` back to `upstream`.
void giveBack(std::pmr::memory_resource* upstream, std::vector<void*>& chunks) {
    for (void* chunk : chunks) {
        chunkClasses().forget(chunk);
        upstream->deallocate(chunk, kChunkBytes, alignof(std::max_align_t));
    }
    chunks.clear();
}

// Full lists of free blocks given up by caches, per class, under one lock.
class Depot {
public:
    void put(std::size_t c, FreeBlocks& list) {
        std::lock_guard<std::mutex> hold(lock_);
        lists_[c].push_back(list);
        list = FreeBlocks{};
    }
    bool take(std::size_t c, FreeBlocks& into) {
        std::lock_guard<std::mutex> hold(lock_);
        if (lists_[c].empty())
            return false;
        into = lists_[c].back();
        lists_[c].pop_back();
        return true;
    }

private:
    std::mutex lock_;
    std::vector<FreeBlocks> lists_[kBlockClasses];
};

}  // namespace

namespace Util {

// ---- one thread's pools ----------------------------------------------------

UnsynchronizedPoolResource::UnsynchronizedPoolResource(std::pmr::memory_resource* upstream) : upstream_(upstream) {}

UnsynchronizedPoolResource::~UnsynchronizedPoolResource() { release(); }

void UnsynchronizedPoolResource::release() {
    giveBack(upstream_, chunks_);
    for (FreeBlocks& l : free_)
        l = FreeBlocks{};
}

void* UnsynchronizedPoolResource::do_allocate(std::size_t bytes, std::size_t align) {
    if (!Details::pooled(bytes, align))
        return upstream_->allocate(bytes, align);
    FreeBlocks& list = free_[Details::classOf(bytes)];
    if (!list.head)
        carveNew(upstream_, chunks_, Details::classOf(bytes), list);
    return list.pop();
}

void UnsynchronizedPoolResource::do_deallocate(void* p, std::size_t bytes, std::size_t align) {
    if (!Details::pooled(bytes, align))
        return upstream_->deallocate(p, bytes, align);
    chunkClasses().check(p, Details::classOf(bytes));
    free_[Details::classOf(bytes)].push(p);
}

// ---- pools that threads share ----------------------------------------------

namespace {
// Each thread's shard of every shared resource: threads numbered in the
// order they first ask, spread over the shards.
std::size_t myShard() {
    static std::atomic<std::size_t> threads{0};
    thread_local const std::size_t mine = threads.fetch_add(1, std::memory_order_relaxed);
    return mine % SynchronizedPoolResource::kShards;
}
}  // namespace

struct SynchronizedPoolResource::Shard {
    std::mutex lock;
    FreeBlocks free[kBlockClasses];
};

struct SynchronizedPoolResource::Shared {
    Shard shards[kShards];
    Depot depot;
    std::mutex chunkLock;
    std::vector<void*> chunks;  // every chunk, freed with the resource
};

SynchronizedPoolResource::SynchronizedPoolResource(std::pmr::memory_resource* upstream)
    : upstream_(upstream), shared_(new Shared) {}

SynchronizedPoolResource::~SynchronizedPoolResource() {
    giveBack(upstream_, shared_->chunks);
    delete shared_;
}

void* SynchronizedPoolResource::do_allocate(std::size_t bytes, std::size_t align) {
    if (!Details::pooled(bytes, align))
        return upstream_->allocate(bytes, align);
    const std::size_t c = Details::classOf(bytes);
    Shard& shard = shared_->shards[myShard()];
    std::lock_guard<std::mutex> hold(shard.lock);
    FreeBlocks& list = shard.free[c];
    if (!list.head && !shared_->depot.take(c, list)) {
        std::lock_guard<std::mutex> chunkHold(shared_->chunkLock);
        carveNew(upstream_, shared_->chunks, c, list);
    }
    return list.pop();
}

void SynchronizedPoolResource::do_deallocate(void* p, std::size_t bytes, std::size_t align) {
    if (!Details::pooled(bytes, align))
        return upstream_->deallocate(p, bytes, align);
    const std::size_t c = Details::classOf(bytes);
    chunkClasses().check(p, c);
    Shard& shard = shared_->shards[myShard()];
    std::lock_guard<std::mutex> hold(shard.lock);
    FreeBlocks& list = shard.free[c];
    list.push(p);
    if (list.count > kMostCached) {
        try {
            shared_->depot.put(c, list);
        } catch (...) {
            // The depot could not grow: the shard keeps its longer list.
        }
    }
}

// ---- the allocator's per-thread caches -------------------------------------

namespace {

struct AllocatorPools {
    Depot depot;
    std::mutex chunkLock;
    std::vector<void*> chunks;  // kept for the whole process: containers may outlive any thread
};

AllocatorPools& allocatorPools() {
    static AllocatorPools* const pools = new AllocatorPools;
    return *pools;
}

// Set once the thread's cache is gone: containers that the thread destroys
// later (its own thread_local ones, or static ones at the process's exit)
// then take and give blocks through the depot. Trivial, so it outlives it.
thread_local bool cacheGone = false;

// What a thread holds; given to the depot when the thread ends.
struct ThreadCache {
    FreeBlocks free[kBlockClasses];
    ~ThreadCache() {
        cacheGone = true;
        for (std::size_t c = 0; c < kBlockClasses; ++c)
            if (free[c].head)
                allocatorPools().depot.put(c, free[c]);
    }
};

ThreadCache& threadCache() {
    thread_local ThreadCache cache;
    return cache;
}

// A new chunk of class c for the allocator, carved onto `into`.
void carveForAllocator(std::size_t c, FreeBlocks& into) {
    AllocatorPools& pools = allocatorPools();
    std::lock_guard<std::mutex> hold(pools.chunkLock);
    carveNew(std::pmr::new_delete_resource(), pools.chunks, c, into);
}

}  // namespace

Port_ThrMutex& Details::smallPoolLock(std::size_t c) {
    static Port_ThrMutex* const locks = new Port_ThrMutex[kBlockClasses];  // outlive every resource
    return locks[c];
}

bool Details::allocatorPoolsOn() {
    static const bool on = Port_Env::GetEnv("QRN_MEMPOOL_ON") || Port_Env::GetEnv("QRN_SM_MEMPOOL_ON");
    return on;
}

void* Details::allocatorTake(std::size_t c) {
    if (cacheGone) {
        FreeBlocks batch;
        if (!allocatorPools().depot.take(c, batch))
            carveForAllocator(c, batch);
        void* block = batch.pop();
        if (batch.head)
            allocatorPools().depot.put(c, batch);
        return block;
    }
    FreeBlocks& list = threadCache().free[c];
    if (void* block = list.pop())
        return block;
    if (!allocatorPools().depot.take(c, list))
        carveForAllocator(c, list);
    return list.pop();
}

void Details::allocatorGive(void* p, std::size_t c) noexcept {
    try {
        chunkClasses().check(p, c);
        if (cacheGone) {
            FreeBlocks one;
            one.push(p);
            allocatorPools().depot.put(c, one);
            return;
        }
        FreeBlocks& list = threadCache().free[c];
        list.push(p);
        if (list.count > kMostCached)
            allocatorPools().depot.put(c, list);
    } catch (const Port::FatalError&) {
        std::abort();  // a block given back as another size: nothing sound can follow
    } catch (...) {
        // The depot could not grow: the thread keeps its longer list.
    }
}

}  // namespace Util
