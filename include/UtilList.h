// UtilList.h - a singly linked list of untyped elements with one cursor.
//
// UT_LIST is a base class: a subclass says how its elements are released
// (freedata), printed (printdata), matched against a key (finddata) and
// ordered (compdata). remove() and freelist() hand every element they drop to
// freedata; rmunowned(), pop() and popend() do not. The destructor frees only
// the nodes (a base destructor cannot call the subclass's freedata), so a list
// that owns its elements calls freelist() in its own destructor.
//
// The cursor is the node of the element getnext() returned last: before the
// first element after construction and reset(), and past the end (null) once
// a walk has gone beyond the last element. Adding never moves it; dropping the
// node under it moves it to that node's successor.
//
// No element is null: every operation that adds refuses a null element and
// returns 0. Look-ups by pointer (remove, rmunowned, insert(after, e)) find
// the first occurrence. sort() and mergesort() are stable.
//
// Nothing is reported; refusals are a 0 or null result. One thread uses a
// list at a time.
//
// Lives in: s/UtilList.cpp; tests: tests/list_test.cpp; docs: docs/list-sparse.md.
#pragma once

#include "UtilExport.h"

namespace Util::Ranges {
struct Access;  // the standard iterators of UtilRange.h
}

class UTIL_EXPORT UT_LIST {
    friend struct Util::Ranges::Access;
    struct Node {
        Node* next;
        void* data;
    };

public:
    int count() const;
    unsigned char push(void* e);
    unsigned char pushend(void* e);
    unsigned char append(void* e);
    void* pop();
    void* popend();
    void reset() { cursor = head; }
    void* getnext() {
        if (cursor)
            cursor = cursor->next;
        return cursor ? cursor->data : nullptr;
    }
    void* peeknext() const { return cursor && cursor->next ? cursor->next->data : nullptr; }
    // The first element for which finddata(elem, key) is true; the cursor moves
    // onto it. Null (and the cursor stays) when nothing matches.
    void* find(void* key);
    // After the cursor (0 when it is past the end).
    unsigned char insert(void* e);
    // After the first occurrence of `after` (the cursor's element first).
    unsigned char insert(void* after, void* e);
    unsigned char remove(void* e);
    // Drops the element under the cursor; 0 before the first element or past
    // the end.
    unsigned char remove();
    unsigned char rmunowned(void* e);
    unsigned char rmunowned();
    // Adds `e` after every element that does not order after it, in a list
    // that is ordered already. One comparison when `e` belongs at the end.
    unsigned char mergesort(void* e);
    // Orders the list by compdata, stably: n - 1 comparisons when it is in
    // order already, O(n log n) otherwise. The cursor goes before the first
    // element; freedata is not called.
    void sort();
    void freelist();
    // Per element: with `withindex`, the status line "%d \n", then printdata.
    void printlist(unsigned char withindex);

    virtual void freedata(void* elem);
    // Status line "%lx \n" with the element's address.
    virtual void printdata(void* elem);
    virtual unsigned char finddata(void* elem, void* key);
    // Negative, zero or positive: `a` orders before, with or after `b`. By
    // default the difference of the addresses, cut to its low 32 bits.
    virtual int compdata(void* a, void* b);

protected:
    UT_LIST();
    virtual ~UT_LIST();
    UT_LIST(const UT_LIST&) = delete;
    UT_LIST& operator=(const UT_LIST&) = delete;

private:
    unsigned char link_after(Node* anchor, void* e);
    // Unlinks and frees the node after `before`; returns its element.
    void* drop_after(Node* before);
    Node* before_first(void* e);
    unsigned char drop_pointer(void* e, bool owned);
    void free_nodes(bool owned);

    Node* head;    // a sentinel before the first element; never null
    Node* tail;    // the last node, or head when the list is empty
    Node* cursor;  // the node the cursor stands on; head before the first, null past the end
};
