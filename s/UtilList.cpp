// UtilList.cpp - the singly linked list with a cursor.
#include "UtilReport.h"

#include <UtilList.h>

#include <cassert>
#include <cstdint>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilList.cpp", "1.0"};

constexpr const char* kMsgElement = "%lx \n";
constexpr const char* kMsgIndex = "%d \n";

}  // namespace

UT_LIST::UT_LIST() : head(new Node{nullptr, nullptr}), tail(head), cursor(head) {}

UT_LIST::~UT_LIST() {
    free_nodes(false);
    delete head;
}

void UT_LIST::freedata(void*) {}

void UT_LIST::printdata(void* elem) {
    UTIL_REPORT().status(kMsgElement, static_cast<unsigned long>(reinterpret_cast<uintptr_t>(elem)));
}

unsigned char UT_LIST::finddata(void* elem, void* key) { return elem == key; }

int UT_LIST::compdata(void* a, void* b) {
    auto diff = reinterpret_cast<uintptr_t>(a) - reinterpret_cast<uintptr_t>(b);
    return static_cast<int>(static_cast<uint32_t>(diff));
}

int UT_LIST::count() const {
    int n = 0;
    for (const Node* p = head->next; p; p = p->next)
        ++n;
    return n;
}

unsigned char UT_LIST::link_after(Node* anchor, void* e) {
    if (!e || !anchor)
        return 0;
    assert((anchor != tail || !anchor->next) && "nothing follows the tail");
    anchor->next = new Node{anchor->next, e};
    if (anchor == tail)
        tail = anchor->next;
    return 1;
}

void* UT_LIST::drop_after(Node* before) {
    Node* node = before->next;
    assert(node && node != head && "only a node after another is unlinked, never the sentinel");
    before->next = node->next;
    if (node == tail)
        tail = before;
    if (node == cursor)
        cursor = node->next;
    assert(cursor != node && "the cursor never stays on a freed node");
    assert((tail == before) == !before->next && "the tail is the one node with no successor");
    void* e = node->data;
    delete node;
    return e;
}

UT_LIST::Node* UT_LIST::before_first(void* e) {
    for (Node* p = head; p->next; p = p->next)
        if (p->next->data == e)
            return p;
    return nullptr;
}

unsigned char UT_LIST::push(void* e) { return link_after(head, e); }
unsigned char UT_LIST::pushend(void* e) { return link_after(tail, e); }
unsigned char UT_LIST::append(void* e) { return link_after(tail, e); }

void* UT_LIST::pop() { return head->next ? drop_after(head) : nullptr; }

void* UT_LIST::popend() {
    if (!head->next)
        return nullptr;
    Node* before = head;
    while (before->next != tail) {
        assert(before->next && "the tail is reachable from the head");
        before = before->next;
    }
    return drop_after(before);
}

void* UT_LIST::find(void* key) {
    if (!key)
        return nullptr;
    for (Node* p = head->next; p; p = p->next)
        if (finddata(p->data, key)) {
            cursor = p;
            return p->data;
        }
    return nullptr;
}

unsigned char UT_LIST::insert(void* e) { return cursor ? link_after(cursor, e) : 0; }

unsigned char UT_LIST::insert(void* after, void* e) {
    if (!after || !e)
        return 0;
    if (cursor && cursor != head && cursor->data == after)
        return link_after(cursor, e);
    Node* before = before_first(after);
    return before ? link_after(before->next, e) : 0;
}

unsigned char UT_LIST::drop_pointer(void* e, bool owned) {
    if (!e)
        return 0;
    Node* before = before_first(e);
    if (!before)
        return 0;
    if (owned)
        freedata(e);
    drop_after(before);
    return 1;
}

unsigned char UT_LIST::remove(void* e) { return drop_pointer(e, true); }
unsigned char UT_LIST::rmunowned(void* e) { return drop_pointer(e, false); }
// Past the end the cursor is null: refused like the position before the first.
unsigned char UT_LIST::remove() { return cursor ? drop_pointer(cursor->data, true) : 0; }
unsigned char UT_LIST::rmunowned() { return cursor ? drop_pointer(cursor->data, false) : 0; }

unsigned char UT_LIST::mergesort(void* e) {
    if (!e)
        return 0;
    if (!head->next || compdata(tail->data, e) <= 0)
        return link_after(tail, e);
    Node* before = head;
    while (before->next && compdata(before->next->data, e) <= 0)
        before = before->next;
    return link_after(before, e);
}

void UT_LIST::sort() {
    if (!head->next)
        return;
    // A list in order costs one pass.
    Node* p = head->next;
    while (p->next && compdata(p->data, p->next->data) <= 0)
        p = p->next;
    if (!p->next) {
        cursor = head;
        return;
    }
    // Bottom-up merge sort on the nodes themselves: bin i holds a sorted run
    // of 2^i nodes, all earlier in the list than those being added. Ties take
    // the earlier run's node first, so the order is that of inserting every
    // element in turn by mergesort(), without its quadratic cost.
    auto merge = [this](Node* earlier, Node* later) {
        Node out{nullptr, nullptr};
        Node* last = &out;
        while (earlier && later) {
            Node*& from = compdata(later->data, earlier->data) < 0 ? later : earlier;
            last->next = from;
            last = from;
            from = from->next;
        }
        last->next = earlier ? earlier : later;
        return out.next;
    };
    constexpr int kBins = 64;
    Node* bins[kBins] = {};
    int used = 0;
    for (Node* rest = head->next; rest;) {
        Node* run = rest;
        rest = rest->next;
        run->next = nullptr;
        int i = 0;
        for (; i < used && bins[i]; ++i) {
            run = merge(bins[i], run);
            bins[i] = nullptr;
        }
        bins[i] = run;
        if (i == used)
            ++used;
    }
    Node* sorted = nullptr;
    for (int i = 0; i < used; ++i)
        if (bins[i])
            sorted = sorted ? merge(bins[i], sorted) : bins[i];
    head->next = sorted;
    for (tail = head; tail->next;)
        tail = tail->next;
    cursor = head;
}

void UT_LIST::free_nodes(bool owned) {
    Node* p = head->next;
    cursor = tail = head;
    head->next = nullptr;
    while (p) {
        Node* next = p->next;
        if (owned)
            freedata(p->data);
        delete p;
        p = next;
    }
}

void UT_LIST::freelist() { free_nodes(true); }

void UT_LIST::printlist(unsigned char withindex) {
    int i = 0;
    for (Node* p = head->next; p; p = p->next, ++i) {
        if (withindex)
            UTIL_REPORT().status(kMsgIndex, i);
        printdata(p->data);
    }
}
