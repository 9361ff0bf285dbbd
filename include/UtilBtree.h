// UtilBtree.h - a height-balanced (AVL) tree from key texts to stored pointers.
//
// The tree keeps no keys of its own: an entry is one stored pointer, and a
// comparison function says how a key text compares with the key held inside a
// stored pointer, comp(data, key) < 0 when the key sorts before. Operations
// hand out slots: the address of the stored pointer, which the caller fills in
// place for a new entry. Nodes of all trees come from one shared pool.
//
// get_count follows the slots: it rises each time add returns a slot that
// holds null (so a new key added twice without storing anything counts twice)
// and falls when remove returns a non-null pointer. Removing a key with two
// children moves its in-order predecessor's pointer into the removed key's
// node, so a slot obtained earlier for the predecessor is then stale.
//
// A tree without a comparison function compares through its virtual
// comp_func, which a derived class must override (otherwise a fatal report,
// code 3). An owner tree releases entries through del_func when flushed
// without a callback; destruction releases nodes only, never stored data.
//
// One thread uses a tree at a time. Dumps of all trees are serialised, so a
// dump callback must not itself dump a tree.
//
// Lives in: s/UtilBtreeimp.cpp; tests: tests/btree_test.cpp; docs: docs/stores.md.
#pragma once

#include "UtilExport.h"
#include "UtilStore.h"
#include "UtilTextView.h"

#include <cstdint>
#include <string_view>

namespace Util::Ranges {
struct Access;  // the standard iterators of UtilRange.h
}

class UT_FASTMEM;
class UT_BTR_TREE;
class UT_BTR_TREE_IMP;

namespace Port {
class Stream;
}

class UTIL_EXPORT UT_BTR_NODE {
public:
    enum BALANCE : int32_t { RIGHT = 0, LEFT = 1, EQUAL = 2 };

    // The pool of every tree's nodes (32 bytes, 4000 a block).
    static UT_FASTMEM* mem;

private:
    friend class UT_BTR_TREE;
    friend class UT_BTR_TREE_IMP;
    friend struct Util::Ranges::Access;
    UT_BTR_NODE() = default;
    // Visits a subtree in ascending order with each node's depth (root 1).
    template <class Visit>
    static void inorder(const UT_BTR_NODE* node, int parentDepth, Visit& visit);
    ~UT_BTR_NODE() = default;
    void dump(int depth, void (*fn)(void*), unsigned char verbose) const;
    void dump(Port::Stream& s, int depth, void (*fn)(Port::Stream&, void*), unsigned char verbose) const;
    void flush(UT_BTR_TREE_IMP* tree, void (*fn)(void**, void*));

    UT_BTR_NODE* right = nullptr;  // keys that compare greater
    UT_BTR_NODE* left = nullptr;   // keys that compare less
    void* data = nullptr;          // the stored pointer; null only between add's slot and the caller's store
    BALANCE balance = EQUAL;       // which subtree is one level deeper, or EQUAL
};

class UTIL_EXPORT UT_BTR_TREE : public UT_STORE {
public:
    enum TRAV_TYPE { INORDER = 0, POSTORDER = 1, REV_INORDER = 2, REV_POSTORDER = 3, PREORDER = 4, REV_PREORDER = 5 };
    using CompareFn = int (*)(void* data, const char* key);
    using SlotFn = void (*)(void** slot, void* arg);

    explicit UT_BTR_TREE(CompareFn comp);
    explicit UT_BTR_TREE(unsigned char owner = 0);
    ~UT_BTR_TREE() override;
    UT_BTR_TREE(const UT_BTR_TREE&) = delete;
    UT_BTR_TREE& operator=(const UT_BTR_TREE&) = delete;

    using UT_STORE::s_add;
    using UT_STORE::s_find;
    using UT_STORE::s_remove;
    unsigned char s_add(void* key, void* data) override;
    void* s_find(void* key) override;
    void* s_remove(void* key) override;
    virtual void del_func(void* data);
    virtual int comp_func(void* data, const char* key);

    // The entry's slot, made (holding null) if absent; null for a null key.
    void** add(const char* key);
    // The entry's slot, or null.
    void** find(const char* key);
    // Removes the entry and returns its data (not released), or null.
    void* remove(const char* key);
    // The same for a std::string_view (see UtilTextView.h).
    void** add(std::string_view key) { return add(Util::CText(key).c_str()); }
    void** find(std::string_view key) { return find(Util::CText(key).c_str()); }
    void* remove(std::string_view key) { return remove(Util::CText(key).c_str()); }
    unsigned int get_count() const;
    // Changes whenever a node is added or removed (not when a slot is filled),
    // so that a derived class can tell whether an index it keeps beside the
    // tree still holds.
    uint32_t get_version() const;
    void** get_root() const;
    // Calls fn(slot, arg) for every entry in the given order; an order outside
    // the enumeration visits nothing.
    void traverse(SlotFn fn, void* arg, TRAV_TYPE order);
    unsigned char is_owner() const;
    // Empties the tree, children before parents: fn(slot, null) for every
    // non-null entry, or without fn del_func(data) for every entry of an owner.
    void flush(SlotFn fn);
    // Status lines "   Data = %p" (or fn(data)) per entry in ascending order;
    // verbose adds "      depth = %d, balance = " and "RIGHT\n"/"LEFT\n"/"EQUAL\n".
    void dump(void (*fn)(void* data), unsigned char verbose) const;
    void dump(Port::Stream& s, void (*fn)(Port::Stream&, void* data), unsigned char verbose) const;

private:
    friend struct Util::Ranges::Access;
    UT_BTR_TREE_IMP* imp;  // the implementation; never null
};

class UTIL_EXPORT UT_BTR_TREE_IMP : public UT_STORE {
public:
    explicit UT_BTR_TREE_IMP(UT_BTR_TREE::CompareFn comp);
    explicit UT_BTR_TREE_IMP(unsigned char owner = 0);
    ~UT_BTR_TREE_IMP() override;
    UT_BTR_TREE_IMP(const UT_BTR_TREE_IMP&) = delete;
    UT_BTR_TREE_IMP& operator=(const UT_BTR_TREE_IMP&) = delete;

    void SetParent(UT_BTR_TREE* p) { parent = p; }
    UT_BTR_TREE* GetParent() const { return parent; }

    unsigned char s_add(void* key, void* data) override;
    void* s_find(void* key) override;
    void* s_remove(void* key) override;
    virtual void del_func(void* data);
    virtual int comp_func(void* data, const char* key);

    void** add(const char* key);
    void** find(const char* key);
    void* remove(const char* key);
    void flush(UT_BTR_TREE::SlotFn fn);
    void dump(void (*fn)(void* data), unsigned char verbose) const;
    void dump(Port::Stream& s, void (*fn)(Port::Stream&, void* data), unsigned char verbose) const;

private:
    friend class UT_BTR_TREE;
    friend class UT_BTR_NODE;
    friend struct Util::Ranges::Access;
    int compare(void* data, const char* key);
    UT_BTR_NODE* newnode();
    void freenode(UT_BTR_NODE* node);
    void freeall(UT_BTR_NODE* node);
    void** find_recurse(const char* key);
    void** add_recurse(UT_BTR_NODE** link, const char* key, unsigned char& grew);
    void* remove_recurse(UT_BTR_NODE** link, const char* key, unsigned char& shrunk);
    void shrink_left(UT_BTR_NODE** link, unsigned char& shrunk);
    void shrink_right(UT_BTR_NODE** link, unsigned char& shrunk);
    void shrink_recurse(UT_BTR_NODE** link, unsigned char& shrunk, UT_BTR_NODE* target);
    void double_lr(UT_BTR_NODE** link);
    void double_rl(UT_BTR_NODE** link);
    void traverse_recurse(UT_BTR_TREE::SlotFn fn, void* arg, int order, UT_BTR_NODE* node);

    UT_BTR_NODE* root;            // null for an empty tree
    UT_BTR_TREE::CompareFn comp;  // the comparison given at construction; null: comp_func decides
    uint32_t count;               // entries holding data
    unsigned char owner;          // nonzero: the tree deletes its data (del_func) when it lets entries go
    UT_BTR_TREE* parent;          // the public tree whose overridden hooks are called; null: this object's
    uint32_t version = 0;         // nodes made and released so far (wraps)
};
