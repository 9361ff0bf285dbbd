// UtilHash.cpp - the chained hash table.
#include "UtilReport.h"

#include <UtilHash.h>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilHash.cpp", "1.0"};

constexpr const char* kMsgBadBuckets = "Invalid Bucket Count: %d\n";

}  // namespace

UT_HASH::UT_HASH(unsigned int n, unsigned char own)
    : nbuckets(n), buckets(nullptr), owner(own), count(0) {
    if (n == 0)
        UTIL_REPORT().fatal(Util::Frame::kFatalDerived, kMsgBadBuckets, static_cast<int>(n));
    buckets = new Node*[n]();
}

UT_HASH::~UT_HASH() {
    for (uint32_t b = 0; b < nbuckets; ++b)
        for (Node* node = buckets[b]; node;) {
            Node* next = node->next;
            delete node;
            node = next;
        }
    delete[] buckets;
}

void UT_HASH::del_func(void*) {}

UT_HASH::Node*& UT_HASH::bucketOf(void* key) { return buckets[hash_func(key) % nbuckets]; }

void UT_HASH::add(void* key, void* value) {
    Node*& head = bucketOf(key);
    head = new Node{head, value ? value : key};
    ++count;
}

unsigned char UT_HASH::s_add(void* key, void* value) {
    add(key, value);
    return 1;
}

void* UT_HASH::find_and_remove(void* key, unsigned char remove) {
    for (Node** link = &bucketOf(key); *link; link = &(*link)->next) {
        Node* node = *link;
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
    for (uint32_t b = 0; b < nbuckets; ++b)
        for (Node* node = buckets[b]; node; node = node->next) {
            if (use_del_func)
                del_func(node->value);
            else if (fn)
                fn(node->value);
        }
}

void UT_HASH::empty() {
    count = 0;
    if (owner)
        process_and_kill(1, nullptr);
    for (uint32_t b = 0; b < nbuckets; ++b) {
        for (Node* node = buckets[b]; node;) {
            Node* next = node->next;
            delete node;
            node = next;
        }
        buckets[b] = nullptr;
    }
}
