// UtilTyped.h - typed containers over the untyped ones: a caller's element
// type goes in, T* comes out, texts are looked up as std::string_view.
//
//   struct Net { std::string name; };
//   std::string_view nameOf(const Net& n) { return n.name; }
//   Util::TextTree<Net, nameOf> nets;     // UT_BTR_TREE underneath
//   nets.insert(&clk);
//   for (Net* n : nets) ...               // in name order
//
// Each is a thin shell: every call is one call of the untyped class, whose
// behaviour (order, statistics, reports) is unchanged, and untyped() hands
// out that class for the calls the shell does not repeat. The containers
// hold pointers and never own what they point to. KeyOf gives an element's
// key text: a function or function object called with a const T&, or a
// pointer to a member of T, whose result converts to std::string_view (a
// view or a reference to the element's own text; a std::string returned by
// value works, at the cost of a copy per compare). The key must not change
// while the element is stored.
//
// Lives in: include/UtilTyped.h (header only); tests: tests/typed_test.cpp; docs: docs/typed.md.
#pragma once

#include "UtilArray.h"
#include "UtilBlist.h"
#include "UtilBtree.h"
#include "UtilExport.h"
#include "UtilHash.h"
#include "UtilList.h"
#include "UtilRange.h"

#include <bit>
#include <cassert>
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <ranges>
#include <stdexcept>
#include <string_view>
#include <type_traits>
#include <utility>

namespace Util {

// An untyped iterator whose void* elements are T*.
template <class T, class Base>
class TypedIterator : public Ranges::ForwardIterator<TypedIterator<T, Base>, T*> {
public:
    using Ranges::ForwardIterator<TypedIterator, T*>::operator++;

    TypedIterator() = default;
    explicit TypedIterator(Base base) : base_(std::move(base)) {}

    using pointer = T*;

    T* operator*() const { return static_cast<T*>(*base_); }
    // The element's members: it->name reads (*it)->name.
    T* operator->() const { return **this; }
    TypedIterator& operator++() {
        ++base_;
        return *this;
    }
    friend bool operator==(const TypedIterator& a, const TypedIterator& b) { return a.base_ == b.base_; }
    friend bool operator==(const TypedIterator& a,
                           std::default_sentinel_t s) requires std::sentinel_for<std::default_sentinel_t, Base> {
        return a.base_ == s;
    }

private:
    Base base_;  // the untyped iterator
};

namespace Details {

// A std::string_view handed through the untyped classes, which pass their
// key on to the typed hooks without reading it.
inline const char* keyArg(const std::string_view& key) { return reinterpret_cast<const char*>(&key); }
inline const std::string_view& keyOf(const void* arg) { return *static_cast<const std::string_view*>(arg); }

// strcmp's order over views: the first differing byte as unsigned, else the
// shorter first. Eight bytes at a time: design names are short and share
// long prefixes, where a call of memcmp costs more than the compare.
inline int compareText(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    std::size_t i = 0;
    if constexpr (std::endian::native == std::endian::little) {
        for (; i + 8 <= n; i += 8) {
            uint64_t x, y;
            std::memcpy(&x, a.data() + i, 8);
            std::memcpy(&y, b.data() + i, 8);
            if (x != y) {
                // The lowest differing byte is the first; compare from it up.
                const int shift = std::countr_zero(x ^ y) & ~7;
                return static_cast<int>((x >> shift) & 0xff) - static_cast<int>((y >> shift) & 0xff);
            }
        }
    }
    for (; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<unsigned char>(a[i]) - static_cast<unsigned char>(b[i]);
    return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

// The library's text hash, keyed at random once per process, so that keys
// a caller takes from a file cannot crowd one bucket of a TextHash.
UTIL_EXPORT unsigned int hashText(std::string_view text) noexcept;

// An element's key as KeyOf gives it: a member pointer is read, anything
// else called.
template <auto KeyOf, class T>
decltype(auto) keyText(const T& item) {
    return std::invoke(KeyOf, item);
}

}  // namespace Details

// What TextTree and TextHash take as KeyOf for elements of type T.
template <auto KeyOf, class T>
concept KeyFunction = requires(const T& item) {
    { std::invoke(KeyOf, item) } -> std::convertible_to<std::string_view>;
};

// A UT_BTR_TREE of T keyed by KeyOf: ascending key order, the tree's AVL
// shape. Look-ups take the key as it is, without a copy.
template <class T, auto KeyOf>
requires KeyFunction<KeyOf, T>
class TextTree {
public:
    using iterator = TypedIterator<T, Ranges::TreeIterator>;
    using reverse_iterator = TypedIterator<T, Ranges::ReverseTreeIterator>;
    using size_type = std::size_t;

    TextTree() : tree_(fresh()) {}
    // A move takes the entries; the tree moved from is left empty.
    TextTree(TextTree&& other) : tree_(std::exchange(other.tree_, fresh())) {}
    TextTree& operator=(TextTree&& other) noexcept {
        std::swap(tree_, other.tree_);
        return *this;
    }

    T* find(std::string_view key) const {
        void** slot = tree_->find(Details::keyArg(key));
        return slot ? static_cast<T*>(*slot) : nullptr;
    }
    // Stores `item` under its key and returns it; when the key is taken, the
    // element stored under it is returned and `item` is not stored.
    T* insert(T* item) {
        // Held for the call: a key returned by value must outlive the add.
        auto&& held = Details::keyText<KeyOf>(*item);
        const std::string_view key(held);
        void** slot = tree_->add(Details::keyArg(key));
        if (!*slot)
            *slot = item;
        return static_cast<T*>(*slot);
    }
    // Takes the element stored under `key` out and returns it, or null.
    T* remove(std::string_view key) { return static_cast<T*>(tree_->remove(Details::keyArg(key))); }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    size_type size() const { return tree_->get_count(); }
    bool empty() const { return size() == 0; }
    void clear() { tree_->flush(nullptr); }

    iterator begin() const { return iterator(Ranges::TreeIterator(*tree_)); }
    iterator end() const { return iterator(); }
    // The first element whose key does not order before `key`, or end().
    iterator lower_bound(std::string_view key) const {
        auto ahead = [key](void* data) {
            return Details::compareText(Details::keyText<KeyOf>(*static_cast<const T*>(data)), key) < 0;
        };
        return iterator(Ranges::TreeIterator(*tree_, ahead));
    }
    // Descending key order: for (Net* n : nets.reversed()) ...
    reverse_iterator rbegin() const { return reverse_iterator(Ranges::ReverseTreeIterator(*tree_)); }
    reverse_iterator rend() const { return reverse_iterator(); }
    std::ranges::subrange<reverse_iterator> reversed() const { return {rbegin(), rend()}; }
    UT_BTR_TREE& untyped() { return *tree_; }
    const UT_BTR_TREE& untyped() const { return *tree_; }

private:
    // Negative when the key orders before the element's, as the tree expects.
    static int compare(void* data, const char* key) {
        // Only add's new entry holds no data, and only its own key reaches it.
        if (!data)
            return 0;
        return Details::compareText(Details::keyOf(key), Details::keyText<KeyOf>(*static_cast<const T*>(data)));
    }

    static std::unique_ptr<UT_BTR_TREE> fresh() { return std::make_unique<UT_BTR_TREE>(&compare); }

    // The entries, on the heap so that the container moves; never null. Its
    // calls are const in meaning only.
    std::unique_ptr<UT_BTR_TREE> tree_;
};

// A UT_HASH of T keyed by KeyOf, with a fixed number of buckets. As in the
// untyped table, insert does not look for the key: a second element of the
// same key is found first until it is removed.
template <class T, auto KeyOf>
requires KeyFunction<KeyOf, T>
class TextHash {
    // The table's hooks for T, fixed here; the table calls them virtually.
    class Table final : public UT_HASH {
    public:
        explicit Table(unsigned int n) : UT_HASH(n, 0) {}
        unsigned int hash_func(void* key) override { return Details::hashText(Details::keyOf(key)); }
        int comp_func(void* key, void* value) override {
            return Details::keyOf(key) == std::string_view(Details::keyText<KeyOf>(*static_cast<const T*>(value))) ? 0
                                                                                                                   : 1;
        }
    };

public:
    using iterator = TypedIterator<T, Ranges::HashIterator>;
    using size_type = std::size_t;

    explicit TextHash(unsigned int buckets) : table_(std::make_unique<Table>(buckets)) {}
    // A move takes the entries; the table moved from is left empty, with as
    // many buckets.
    TextHash(TextHash&& other)
        : table_(std::exchange(other.table_, std::make_unique<Table>(other.table_->get_nbuckets()))) {}
    TextHash& operator=(TextHash&& other) noexcept {
        std::swap(table_, other.table_);
        return *this;
    }

    T* find(std::string_view key) const { return static_cast<T*>(table_->s_find(&key)); }
    bool contains(std::string_view key) const { return find(key) != nullptr; }
    // Stores `item` and returns it (as TextTree::insert does when the key is new).
    T* insert(T* item) {
        auto&& held = Details::keyText<KeyOf>(*item);  // held for the call, as in TextTree
        std::string_view key(held);
        table_->add(&key, item);
        return item;
    }
    T* remove(std::string_view key) { return static_cast<T*>(table_->s_remove(&key)); }
    size_type size() const { return table_->get_count(); }
    bool empty() const { return size() == 0; }
    void clear() { table_->empty(); }

    iterator begin() const { return iterator(::begin(*table_)); }
    iterator end() const { return iterator(::end(*table_)); }
    UT_HASH& untyped() { return *table_; }
    const UT_HASH& untyped() const { return *table_; }

private:
    // The entries, on the heap so that the container moves; never null. Its
    // calls are const in meaning only.
    std::unique_ptr<Table> table_;
};

namespace Details {

// Order{}(a, b) as UT_LIST's comparison wants it (negative, zero, positive):
// an int as it is, a three-way ordering (std::compare_three_way) by its
// sign, and a "less than" (std::less, any bool) asked both ways.
template <class Order, class T>
int orderOf(const T& a, const T& b) {
    using Result = decltype(Order{}(a, b));
    if constexpr (std::is_same_v<Result, bool>)
        return Order{}(a, b) ? -1 : Order{}(b, a) ? 1 : 0;
    else if constexpr (std::is_convertible_v<Result, std::partial_ordering> && !std::is_arithmetic_v<Result>)
        return std::is_lt(Order{}(a, b)) ? -1 : std::is_gt(Order{}(a, b)) ? 1 : 0;
    else
        return static_cast<int>(Order{}(a, b));
}

}  // namespace Details

// A UT_LIST of T*, first to last. `Order`, when given, is a function object
// over two const T& that sort() and merge() use: one returning an int
// (negative, zero, positive), a three-way comparison (std::compare_three_way)
// or a "less than" (std::less<T>); without it they order by address, as
// UT_LIST does.
template <class T, class Order = void>
class TypedList {
    // The list's comparison for T, fixed here; the list calls it virtually.
    class List final : public UT_LIST {
        int compdata(void* a, void* b) override {
            if constexpr (std::is_void_v<Order>)
                return UT_LIST::compdata(a, b);
            else
                return Details::orderOf<Order>(*static_cast<const T*>(a), *static_cast<const T*>(b));
        }
    };

public:
    using iterator = TypedIterator<T, Ranges::ListIterator>;
    using size_type = std::size_t;

    TypedList() : list_(std::make_unique<List>()) {}
    // A move takes the elements; the list moved from is left empty.
    TypedList(TypedList&& other) : list_(std::exchange(other.list_, std::make_unique<List>())) {}
    TypedList& operator=(TypedList&& other) noexcept {
        std::swap(list_, other.list_);
        return *this;
    }

    // false (and nothing stored) for a null element.
    bool push_front(T* item) { return list_->push(item) != 0; }
    bool push_back(T* item) { return list_->append(item) != 0; }
    T* pop_front() { return static_cast<T*>(list_->pop()); }
    T* pop_back() { return static_cast<T*>(list_->popend()); }
    // Takes the first occurrence out; false when there is none.
    bool remove(T* item) { return list_->rmunowned(item) != 0; }
    bool contains(const T* item) const {
        for (T* e : *this)
            if (e == item)
                return true;
        return false;
    }
    // Adds `item` after every element that does not order after it.
    bool merge(T* item) { return list_->mergesort(item) != 0; }
    void sort() { list_->sort(); }
    size_type size() const { return static_cast<size_type>(list_->count()); }
    bool empty() const { return begin() == end(); }
    void clear() { list_->freelist(); }

    iterator begin() const { return iterator(::begin(static_cast<const UT_LIST&>(*list_))); }
    iterator end() const { return iterator(); }
    UT_LIST& untyped() { return *list_; }
    const UT_LIST& untyped() const { return *list_; }

private:
    std::unique_ptr<List> list_;  // the elements, on the heap so that the container moves; never null
};

// A block list of T* (UT_BLIST: 1 to 65535 slots a block). Its iterators
// survive appends and removes, not clear() (see UtilRange.h); the range ends
// in a sentinel.
template <class T>
class TypedBlist {
public:
    using iterator = TypedIterator<T, Ranges::BlistIterator>;
    using size_type = std::size_t;

    explicit TypedBlist(unsigned short slots) : list_(std::make_unique<UT_BLIST>(slots)) {}
    // A move takes the elements (an iterator stays with them); the list moved
    // from is left empty, with as many slots a block.
    TypedBlist(TypedBlist&& other)
        : list_(std::exchange(other.list_, std::make_unique<UT_BLIST>(other.list_->get_nslots()))) {}
    TypedBlist& operator=(TypedBlist&& other) noexcept {
        std::swap(list_, other.list_);
        return *this;
    }

    void append(T* item) { list_->l_append(item); }
    bool contains(const T* item) const { return list_->l_find(const_cast<T*>(item)) != 0; }
    bool remove(T* item) { return list_->l_remove(item) != 0; }
    size_type size() const { return list_->get_count(); }
    bool empty() const { return size() == 0; }
    void clear() { list_->clear(); }

    iterator begin() const { return iterator(Ranges::BlistIterator(*list_)); }
    std::default_sentinel_t end() const { return {}; }
    UT_BLIST& untyped() { return *list_; }
    const UT_BLIST& untyped() const { return *list_; }

private:
    std::unique_ptr<UT_BLIST> list_;  // the elements, on the heap so that the container moves; never null
};

// A UT_DARRAY of T: one block that grows by `grow` elements, T's bytes
// moved as they are (so T is trivially copyable). Indexing grows the array
// as getaddr does: element i makes elements 0 .. i exist; at() is the
// checked look-up, and a const array's operator[] never grows.
template <class T>
class TypedArray {
    static_assert(std::is_trivially_copyable_v<T>, "the array moves its elements as bytes");

    // The array and the variable it keeps its block's address in, together
    // on the heap so that the container moves.
    struct Held {
        class Array final : public UT_DARRAY {
        public:
            using UT_DARRAY::a_resetnum;
            using UT_DARRAY::UT_DARRAY;
            int growth() const { return grow; }
            bool clears() const { return clearflag != 0; }
        };
        Held(int grow, bool clear) : array(&block, static_cast<int>(sizeof(T)), grow, clear ? 1 : 0) {}
        // An empty array made as this one was.
        std::unique_ptr<Held> fresh() const { return std::make_unique<Held>(array.growth(), array.clears()); }
        void* block = nullptr;  // UT_DARRAY keeps its storage's address here
        Array array;            // the elements
    };

public:
    using iterator = T*;
    using const_iterator = const T*;
    using size_type = std::size_t;

    explicit TypedArray(int grow = 16, bool clear = true) : held_(std::make_unique<Held>(grow, clear)) {}
    // A move takes the elements; the array moved from is left empty.
    TypedArray(TypedArray&& other) : held_(std::exchange(other.held_, other.held_->fresh())) {}
    TypedArray& operator=(TypedArray&& other) noexcept {
        std::swap(held_, other.held_);
        return *this;
    }

    T& operator[](size_type i) { return *static_cast<T*>(held_->array.getaddr(index(i))); }
    const T& operator[](size_type i) const {
        assert(i < size() && "a const array is read inside its elements");
        return data()[i];
    }
    // Element i, or std::out_of_range when there is none: never grows.
    T& at(size_type i) { return i < size() ? data()[i] : throw std::out_of_range("TypedArray::at"); }
    const T& at(size_type i) const { return i < size() ? data()[i] : throw std::out_of_range("TypedArray::at"); }
    void push_back(const T& value) { (*this)[size()] = value; }
    void pop_back() {
        assert(!empty() && "pop_back takes an element there is");
        resize(size() - 1);
    }
    // Makes the array n elements long (new ones as the array's clear flag says).
    void resize(size_type n) { held_->array.a_resetnum(index(n)); }
    void clear() { resize(0); }
    size_type size() const { return static_cast<size_type>(held_->array.getcount()); }
    bool empty() const { return size() == 0; }
    void reserve(uint64_t n) { held_->array.reserve(n); }
    T* data() { return static_cast<T*>(held_->block); }
    const T* data() const { return static_cast<const T*>(held_->block); }

    iterator begin() { return data(); }
    iterator end() { return data() + size(); }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size(); }
    UT_DARRAY& untyped() { return held_->array; }
    const UT_DARRAY& untyped() const { return held_->array; }

private:
    // The untyped array counts in int: a larger index is refused, not wrapped.
    static int index(size_type i) {
        return i <= static_cast<size_type>(std::numeric_limits<int>::max()) ? static_cast<int>(i)
                                                                            : throw std::out_of_range("TypedArray");
    }

    std::unique_ptr<Held> held_;  // never null
};

}  // namespace Util
