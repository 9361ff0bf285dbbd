// UtilRange.h - standard forward iterators over the untyped containers, so
// that range-for and the std::ranges algorithms walk them.
//
//   for (void* data : tree) ...                       // UT_BTR_TREE, in order
//   auto it = std::ranges::find_if(list, isClock);    // UT_LIST, from the first
//
// begin() and end() are free functions found by argument-dependent lookup,
// for UT_BTR_TREE (ascending), UT_HASH (bucket by bucket, newest first),
// UT_LIST (first to last), UT_BLIST and UT_BLISTS (the order l_next gives),
// UT_DARRAY and UT_BARRAY (element addresses, 0 to count - 1). Each yields
// the stored void* (the element's address for the arrays); the typed
// containers of UtilTyped.h yield T*.
//
// What invalidates an iterator: for the tree, any node added or removed
// (filling a slot does not); for the hash table, any add or remove; for the
// list, removing the element it stands on; for the block lists, clear() and
// the list's destruction (appends and removes do not: a removal leaves a
// hole, which the walk skips); for the arrays, nothing within 0 .. count - 1
// (UT_DARRAY's storage may move, but the iterator asks for every address).
// A block-list range ends in std::default_sentinel; the others are common
// ranges. Const containers are walked as the others are. The tree can also
// be walked in descending order (ReverseTreeIterator).
//
// Lives in: include/UtilRange.h (header only); tests: tests/typed_test.cpp; docs: docs/typed.md.
#pragma once

#include "UtilArray.h"
#include "UtilBlist.h"
#include "UtilBtree.h"
#include "UtilHash.h"
#include "UtilList.h"

#include <algorithm>
#include <cassert>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <type_traits>
#include <utility>

namespace Util::Ranges {

// The one door to the containers' internals the iterators need.
struct Access {
    using TreeNode = UT_BTR_NODE;
    using HashNode = UT_HASH::Node;
    using ListNode = UT_LIST::Node;

    static const TreeNode* root(const UT_BTR_TREE& t) { return t.imp->root; }
    static const TreeNode* less(const TreeNode* n) { return n->left; }
    static const TreeNode* greater(const TreeNode* n) { return n->right; }
    static void* data(const TreeNode* n) { return n->data; }

    static uint32_t buckets(const UT_HASH& h) { return h.nbuckets; }
    static const HashNode* bucket(const UT_HASH& h, uint32_t b) { return &h.buckets[b]; }
    static bool vacant(const HashNode* head) { return head->next == UT_HASH::vacant(); }

    static const ListNode* first(const UT_LIST& l) { return l.head->next; }

    template <class List>
    static void** firstBlock(const List& l) {
        return l.first;
    }
    template <class List>
    static unsigned slots(const List& l) {
        return l.nslots;
    }
};

// What every forward iterator here has alike: its types, and the postfix
// increment made of the prefix one.
template <class Derived, class Value>
struct ForwardIterator {
    using iterator_concept = std::forward_iterator_tag;
    using iterator_category = std::forward_iterator_tag;
    using value_type = Value;
    using difference_type = std::ptrdiff_t;
    using reference = Value;

    Derived operator++(int) {
        Derived was = static_cast<Derived&>(*this);
        ++static_cast<Derived&>(*this);
        return was;
    }
};

// In key order (ascending, or descending for the reverse walk), with the
// path from the root on a stack of its own: the tree's nodes know no parent.
// A copy copies only the part of the path in use, about log2 n pointers.
template <bool Ascending>
class BasicTreeIterator : public ForwardIterator<BasicTreeIterator<Ascending>, void*> {
    using Node = Access::TreeNode;

public:
    using ForwardIterator<BasicTreeIterator, void*>::operator++;

    BasicTreeIterator() = default;
    explicit BasicTreeIterator(const UT_BTR_TREE& tree) { descend(Access::root(tree)); }
    // On the first entry whose data `ahead(data)` does not place before the
    // key sought: a search that keeps, on the way down, every node it passes
    // on the near side.
    template <class Ahead>
    BasicTreeIterator(const UT_BTR_TREE& tree, Ahead ahead) {
        for (const Node* node = Access::root(tree); node;) {
            if (ahead(Access::data(node))) {
                node = far(node);
            } else {
                push(node);
                node = near(node);
            }
        }
    }
    BasicTreeIterator(const BasicTreeIterator& other) : depth_(other.depth_) {
        std::copy_n(other.path_, depth_, path_);
    }
    BasicTreeIterator& operator=(const BasicTreeIterator& other) {
        depth_ = other.depth_;
        std::copy_n(other.path_, depth_, path_);
        return *this;
    }

    void* operator*() const { return Access::data(path_[depth_ - 1]); }
    BasicTreeIterator& operator++() {
        const Node* node = path_[--depth_];
        descend(far(node));
        return *this;
    }
    friend bool operator==(const BasicTreeIterator& a, const BasicTreeIterator& b) { return a.at() == b.at(); }

private:
    // 64 levels hold any AVL tree of fewer than 2^44 nodes.
    static constexpr int kMaxDepth = 64;

    // The subtree whose keys come first in this direction, and the other.
    static const Node* near(const Node* n) { return Ascending ? Access::less(n) : Access::greater(n); }
    static const Node* far(const Node* n) { return Ascending ? Access::greater(n) : Access::less(n); }

    const Node* at() const { return depth_ ? path_[depth_ - 1] : nullptr; }
    void push(const Node* node) {
        assert(depth_ < kMaxDepth && "an AVL tree is never deeper than 1.44 log2 of its size");
        path_[depth_++] = node;
    }
    void descend(const Node* node) {
        for (; node; node = near(node))
            push(node);
    }

    // The nodes whose data is still to come, the top current; only the first
    // depth_ entries are ever read.
    const Node* path_[kMaxDepth];
    int depth_ = 0;  // entries of path_ in use; 0 at the end
};

using TreeIterator = BasicTreeIterator<true>;
using ReverseTreeIterator = BasicTreeIterator<false>;

// Bucket by bucket; in a bucket, the newest entry first.
class HashIterator : public ForwardIterator<HashIterator, void*> {
public:
    using ForwardIterator::operator++;

    HashIterator() = default;
    HashIterator(const UT_HASH& table, bool atEnd) : table_(&table), bucket_(atEnd ? Access::buckets(table) : 0) {
        if (!atEnd)
            settle();
    }

    void* operator*() const { return at_->value; }
    HashIterator& operator++() {
        at_ = at_->next;
        if (!at_) {
            ++bucket_;
            settle();
        }
        return *this;
    }
    friend bool operator==(const HashIterator& a, const HashIterator& b) { return a.at_ == b.at_; }

private:
    // On the newest entry of the first bucket from bucket_ that has one, or
    // at the end.
    void settle() {
        const uint32_t n = Access::buckets(*table_);
        for (; bucket_ < n; ++bucket_) {
            const Access::HashNode* head = Access::bucket(*table_, bucket_);
            if (!Access::vacant(head)) {
                at_ = head;
                return;
            }
        }
        at_ = nullptr;
    }

    const UT_HASH* table_ = nullptr;        // the table walked
    uint32_t bucket_ = 0;                   // the bucket at_ is in; the bucket count at the end
    const Access::HashNode* at_ = nullptr;  // the entry: a bucket's head or a node of its chain; null at the end
};

class ListIterator : public ForwardIterator<ListIterator, void*> {
public:
    using ForwardIterator::operator++;

    ListIterator() = default;
    explicit ListIterator(const Access::ListNode* at) : at_(at) {}

    void* operator*() const { return at_->data; }
    ListIterator& operator++() {
        at_ = at_->next;
        return *this;
    }
    friend bool operator==(const ListIterator& a, const ListIterator& b) { return a.at_ == b.at_; }

private:
    const Access::ListNode* at_ = nullptr;  // the node; null at the end
};

// Walking exactly as l_next does, without registering with the list: it is
// as cheap to copy as a pointer, and is invalidated, as the standard
// containers' iterators are, by clear() and by the list's destruction.
// Appending and removing leave it valid: removing leaves a hole and
// compression is never done.
template <class List>
class BlockListIterator : public ForwardIterator<BlockListIterator<List>, void*> {
public:
    using ForwardIterator<BlockListIterator, void*>::operator++;

    BlockListIterator() = default;
    explicit BlockListIterator(const List& list) : block_(Access::firstBlock(list)), slots_(Access::slots(list)) {
        advance();
    }

    void* operator*() const { return current_; }
    BlockListIterator& operator++() {
        advance();
        return *this;
    }
    friend bool operator==(const BlockListIterator& a, const BlockListIterator& b) {
        if (!a.current_ || !b.current_)
            return !a.current_ && !b.current_;
        return a.block_ == b.block_ && a.index_ == b.index_;
    }
    friend bool operator==(const BlockListIterator& a, std::default_sentinel_t) { return !a.current_; }

private:
    // l_next: the next element, or null at the end.
    void advance() { current_ = Util::Details::nextElement(block_, index_, slots_); }

    void** block_ = nullptr;   // the block the walk stands in
    unsigned index_ = 0;       // 1-based slot of current_ in block_ (0: before the first)
    unsigned slots_ = 0;       // the list's slots per block
    void* current_ = nullptr;  // the element the iterator stands on; null at the end
};

// Element addresses by index, asked of the array each time.
class ArrayIterator : public ForwardIterator<ArrayIterator, void*> {
public:
    using ForwardIterator::operator++;

    ArrayIterator() = default;
    // A const array is walked through the same calls: getaddr within
    // 0 .. count - 1 changes nothing.
    ArrayIterator(const UT_BASE_ARRAY& array, int i) : array_(const_cast<UT_BASE_ARRAY*>(&array)), i_(i) {}

    void* operator*() const { return array_->getaddr(i_); }
    ArrayIterator& operator++() {
        ++i_;
        return *this;
    }
    friend bool operator==(const ArrayIterator& a, const ArrayIterator& b) { return a.i_ == b.i_; }

private:
    UT_BASE_ARRAY* array_ = nullptr;  // the array walked
    int i_ = 0;                       // the element's index; count at the end
};

using BlistIterator = BlockListIterator<UT_BLIST>;
using BlistsIterator = BlockListIterator<UT_BLISTS>;

static_assert(std::forward_iterator<TreeIterator>);
static_assert(std::forward_iterator<ReverseTreeIterator>);
static_assert(std::forward_iterator<HashIterator>);
static_assert(std::forward_iterator<ListIterator>);
static_assert(std::forward_iterator<BlistIterator>);
static_assert(std::forward_iterator<ArrayIterator>);
static_assert(std::sentinel_for<std::default_sentinel_t, BlistIterator>);

}  // namespace Util::Ranges

namespace Util::Ranges {
// A container of the untyped kind Base, or a class derived from one. The free
// begin() and end() below are templates constrained by it, for const and
// non-const containers alike, so that they beat the unconstrained templates
// std::ranges::begin sets against them.
template <class C, class Base>
concept Of = std::derived_from<std::remove_cv_t<C>, Base>;
}  // namespace Util::Ranges

template <Util::Ranges::Of<UT_BTR_TREE> C>
Util::Ranges::TreeIterator begin(const C& t) {
    return Util::Ranges::TreeIterator(t);
}
template <Util::Ranges::Of<UT_BTR_TREE> C>
Util::Ranges::TreeIterator begin(C& t) {
    return Util::Ranges::TreeIterator(t);
}
template <Util::Ranges::Of<UT_BTR_TREE> C>
Util::Ranges::TreeIterator end(const C&) {
    return {};
}
template <Util::Ranges::Of<UT_BTR_TREE> C>
Util::Ranges::TreeIterator end(C&) {
    return {};
}
template <Util::Ranges::Of<UT_HASH> C>
Util::Ranges::HashIterator begin(const C& h) {
    return {h, false};
}
template <Util::Ranges::Of<UT_HASH> C>
Util::Ranges::HashIterator begin(C& h) {
    return {h, false};
}
template <Util::Ranges::Of<UT_HASH> C>
Util::Ranges::HashIterator end(const C& h) {
    return {h, true};
}
template <Util::Ranges::Of<UT_HASH> C>
Util::Ranges::HashIterator end(C& h) {
    return {h, true};
}
template <Util::Ranges::Of<UT_LIST> C>
Util::Ranges::ListIterator begin(const C& l) {
    return Util::Ranges::ListIterator(Util::Ranges::Access::first(l));
}
template <Util::Ranges::Of<UT_LIST> C>
Util::Ranges::ListIterator begin(C& l) {
    return Util::Ranges::ListIterator(Util::Ranges::Access::first(l));
}
template <Util::Ranges::Of<UT_LIST> C>
Util::Ranges::ListIterator end(const C&) {
    return {};
}
template <Util::Ranges::Of<UT_LIST> C>
Util::Ranges::ListIterator end(C&) {
    return {};
}
template <Util::Ranges::Of<UT_BLIST> C>
Util::Ranges::BlistIterator begin(const C& l) {
    return Util::Ranges::BlistIterator(l);
}
template <Util::Ranges::Of<UT_BLIST> C>
Util::Ranges::BlistIterator begin(C& l) {
    return Util::Ranges::BlistIterator(l);
}
template <Util::Ranges::Of<UT_BLIST> C>
std::default_sentinel_t end(const C&) {
    return {};
}
template <Util::Ranges::Of<UT_BLIST> C>
std::default_sentinel_t end(C&) {
    return {};
}
template <Util::Ranges::Of<UT_BLISTS> C>
Util::Ranges::BlistsIterator begin(const C& l) {
    return Util::Ranges::BlistsIterator(l);
}
template <Util::Ranges::Of<UT_BLISTS> C>
Util::Ranges::BlistsIterator begin(C& l) {
    return Util::Ranges::BlistsIterator(l);
}
template <Util::Ranges::Of<UT_BLISTS> C>
std::default_sentinel_t end(const C&) {
    return {};
}
template <Util::Ranges::Of<UT_BLISTS> C>
std::default_sentinel_t end(C&) {
    return {};
}
template <Util::Ranges::Of<UT_BASE_ARRAY> C>
Util::Ranges::ArrayIterator begin(const C& a) {
    return {a, 0};
}
template <Util::Ranges::Of<UT_BASE_ARRAY> C>
Util::Ranges::ArrayIterator begin(C& a) {
    return {a, 0};
}
template <Util::Ranges::Of<UT_BASE_ARRAY> C>
Util::Ranges::ArrayIterator end(const C& a) {
    return {a, a.getcount()};
}
template <Util::Ranges::Of<UT_BASE_ARRAY> C>
Util::Ranges::ArrayIterator end(C& a) {
    return {a, a.getcount()};
}
