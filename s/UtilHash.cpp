// UtilHash.cpp - the chained hash table.
#include "UtilReport.h"
#include "UtilWide.h"

#include <UtilHash.h>

#include <cassert>
#include <cstdint>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilHash.cpp", "1.0"};
// A table made with no buckets: the code callers already tell apart.
constexpr int kFatalBadBuckets = 3;

constexpr const char* kMsgBadBuckets = "Invalid Bucket Count: %d\n";

}  // namespace

// The mark of a bucket without entries: no node is ever at this address.
UT_HASH::Node* UT_HASH::vacant() {
    static Node mark{nullptr, nullptr};
    return &mark;
}

UT_HASH::UT_HASH(unsigned int n, unsigned char own) : nbuckets(n), modmagic(0), buckets(nullptr), owner(own), count(0) {
    if (n == 0)
        UTIL_REPORT().fatal(kFatalBadBuckets, kMsgBadBuckets, static_cast<int>(n));
    modmagic = UINT64_MAX / n + 1;
    buckets = new Node[n];
    for (uint32_t b = 0; b < n; ++b)
        buckets[b] = Node{vacant(), nullptr};
}

UT_HASH::~UT_HASH() {
    release_chains();
    delete[] buckets;
}

void UT_HASH::release_chains() {
    for (uint32_t b = 0; b < nbuckets; ++b) {
        if (buckets[b].next == vacant())
            continue;
        for (Node* node = buckets[b].next; node;) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        buckets[b].next = vacant();
    }
}

void UT_HASH::del_func(void*) {}

UT_HASH::Node& UT_HASH::bucketOf(void* key) {
    const uint32_t h = hash_func(key);
    // Lemire's remainder: the low 64 bits of magic * h, times n, high part.
    const auto b = static_cast<uint32_t>(Util::Wide::multiply(modmagic * h, nbuckets).high);
    assert(b == h % nbuckets && "the multiplied remainder is the remainder");
    return buckets[b];
}

void UT_HASH::add(void* key, void* value) {
    Node& head = bucketOf(key);
    void* stored = value ? value : key;
    if (head.next == vacant()) {
        head = Node{nullptr, stored};
    } else {
        // The entry that was newest moves to a node behind the new one.
        head = Node{new Node{head.next, head.value}, stored};
    }
    ++count;
}

unsigned char UT_HASH::s_add(void* key, void* value) {
    add(key, value);
    return 1;
}

void* UT_HASH::find_and_remove(void* key, unsigned char remove) {
    Node& head = bucketOf(key);
    if (head.next == vacant())
        return nullptr;
    // The chain's first node is on its way while the newest entry compares.
    if (head.next)
        __builtin_prefetch(head.next);
    if (comp_func(key, head.value) == 0) {
        void* value = head.value;
        if (remove) {
            // The next entry, if any, moves into the bucket.
            Node* next = head.next;
            if (next)
                head = *next;
            else
                head.next = vacant();
            if (owner)
                del_func(value);
            delete next;
            --count;
        }
        return value;
    }
    for (Node** link = &head.next; *link; link = &(*link)->next) {
        Node* node = *link;
        if (node->next)
            __builtin_prefetch(node->next);
        if (comp_func(key, node->value) != 0)
            continue;
        void* value = node->value;
        if (remove) {
            *link = node->next;
            if (owner)
                del_func(value);
            delete node;
            --count;
        }
        return value;
    }
    return nullptr;
}

void* UT_HASH::s_find(void* key) { return find_and_remove(key, 0); }
void* UT_HASH::s_remove(void* key) { return find_and_remove(key, 1); }

void UT_HASH::process_and_kill(unsigned char use_del_func, void (*fn)(void*)) {
    auto visit = [&](void* value) {
        if (use_del_func)
            del_func(value);
        else if (fn)
            fn(value);
    };
    for (uint32_t b = 0; b < nbuckets; ++b) {
        if (buckets[b].next == vacant())
            continue;
        visit(buckets[b].value);
        for (Node* node = buckets[b].next; node; node = node->next)
            visit(node->value);
    }
}

void UT_HASH::empty() {
    count = 0;
    if (owner)
        process_and_kill(1, nullptr);
    release_chains();
}
