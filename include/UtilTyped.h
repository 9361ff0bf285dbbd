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
#include "UtilHash.h"
#include "UtilList.h"
#include "UtilRange.h"

#include <bit>
#include <compare>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <string_view>
#include <type_traits>

namespace Util {

// An untyped iterator whose void* elements are T*.
template <class T, class Base>
class TypedIterator : public Ranges::ForwardIterator<TypedIterator<T, Base>, T*> {
public:
    using Ranges::ForwardIterator<TypedIterator, T*>::operator++;

    TypedIterator() = default;
    explicit TypedIterator(Base base) : base_(std::move(base)) {}

    T* operator*() const { return static_cast<T*>(*base_); }
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

// 32-bit FNV-1a: short, and spreads the shared prefixes of design names.
inline unsigned int hashText(std::string_view text) {
    uint32_t h = 2166136261u;
    for (unsigned char c : text)
        h = (h ^ c) * 16777619u;
    return h;
}

// An element's key as KeyOf gives it: a member pointer is read, anything
// else called.
template <auto KeyOf, class T>
decltype(auto) keyText(const T& item) {
    return std::invoke(KeyOf, item);
}

// Holds the caller's variable of UT_DARRAY before the array is made.
struct ArrayBlock {
    void* block = nullptr;  // UT_DARRAY keeps its storage's address here
};

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

    TextTree() : tree_(&compare) {}

    T* find(std::string_view key) const {
        void** slot = tree_.find(Details::keyArg(key));
        return slot ? static_cast<T*>(*slot) : nullptr;
    }
    // Stores `item` under its key and returns it; when the key is taken, the
    // element stored under it is returned and `item` is not stored.
    T* insert(T* item) {
        // Held for the call: a key returned by value must outlive the add.
        auto&& held = Details::keyText<KeyOf>(*item);
        const std::string_view key(held);
        void** slot = tree_.add(Details::keyArg(key));
        if (!*slot)
            *slot = item;
        return static_cast<T*>(*slot);
    }
    // Takes the element stored under `key` out and returns it, or null.
    T* remove(std::string_view key) { return static_cast<T*>(tree_.remove(Details::keyArg(key))); }
    unsigned int size() const { return tree_.get_count(); }
    bool empty() const { return size() == 0; }
    void clear() { tree_.flush(nullptr); }

    iterator begin() const { return iterator(Ranges::TreeIterator(tree_)); }
    iterator end() const { return iterator(); }
    UT_BTR_TREE& untyped() { return tree_; }

private:
    // Negative when the key orders before the element's, as the tree expects.
    static int compare(void* data, const char* key) {
        // Only add's new entry holds no data, and only its own key reaches it.
        if (!data)
            return 0;
        return Details::compareText(Details::keyOf(key), Details::keyText<KeyOf>(*static_cast<const T*>(data)));
    }

    mutable UT_BTR_TREE tree_;  // the entries; its calls are const in meaning only
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

    explicit TextHash(unsigned int buckets) : table_(buckets) {}

    T* find(std::string_view key) const { return static_cast<T*>(table_.s_find(&key)); }
    void insert(T* item) {
        auto&& held = Details::keyText<KeyOf>(*item);  // held for the call, as in TextTree
        std::string_view key(held);
        table_.add(&key, item);
    }
    T* remove(std::string_view key) { return static_cast<T*>(table_.s_remove(&key)); }
    unsigned int size() const { return table_.get_count(); }
    bool empty() const { return size() == 0; }
    void clear() { table_.empty(); }

    iterator begin() const { return iterator(::begin(table_)); }
    iterator end() const { return iterator(::end(table_)); }
    UT_HASH& untyped() { return table_; }

private:
    mutable Table table_;  // the entries; its calls are const in meaning only
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
class TypedList : private UT_LIST {
public:
    using iterator = TypedIterator<T, Ranges::ListIterator>;

    TypedList() = default;
    ~TypedList() override = default;

    // false (and nothing stored) for a null element.
    bool push_front(T* item) { return push(item) != 0; }
    bool push_back(T* item) { return append(item) != 0; }
    T* pop_front() { return static_cast<T*>(pop()); }
    T* pop_back() { return static_cast<T*>(popend()); }
    // Takes the first occurrence out; false when there is none.
    bool remove(T* item) { return rmunowned(item) != 0; }
    bool contains(const T* item) const {
        for (T* e : *this)
            if (e == item)
                return true;
        return false;
    }
    // Adds `item` after every element that does not order after it.
    bool merge(T* item) { return mergesort(item) != 0; }
    void sort() { UT_LIST::sort(); }
    int size() const { return count(); }
    bool empty() const { return begin() == end(); }
    void clear() { freelist(); }

    iterator begin() const { return iterator(::begin(static_cast<const UT_LIST&>(*this))); }
    iterator end() const { return iterator(); }
    UT_LIST& untyped() { return *this; }

private:
    int compdata(void* a, void* b) override {
        if constexpr (std::is_void_v<Order>)
            return UT_LIST::compdata(a, b);
        else
            return Details::orderOf<Order>(*static_cast<const T*>(a), *static_cast<const T*>(b));
    }
};

// A block list of T* (UT_BLIST: 1 to 65535 slots a block). Its iterators are
// registered with the list (see UtilRange.h); the range ends in a sentinel.
template <class T>
class TypedBlist {
public:
    using iterator = TypedIterator<T, Ranges::BlistIterator>;

    explicit TypedBlist(unsigned short slots) : list_(slots) {}

    void append(T* item) { list_.l_append(item); }
    bool contains(const T* item) const { return list_.l_find(const_cast<T*>(item)) != 0; }
    bool remove(T* item) { return list_.l_remove(item) != 0; }
    uint32_t size() const { return list_.get_count(); }
    bool empty() const { return size() == 0; }
    void clear() { list_.clear(); }

    iterator begin() { return iterator(Ranges::BlistIterator(list_)); }
    std::default_sentinel_t end() { return {}; }
    UT_BLIST& untyped() { return list_; }

private:
    UT_BLIST list_;  // the elements
};

// A UT_DARRAY of T: one block that grows by `grow` elements, T's bytes
// moved as they are (so T is trivially copyable). Indexing grows the array
// as getaddr does: element i makes elements 0 .. i exist.
template <class T>
class TypedArray : private Details::ArrayBlock {
    static_assert(std::is_trivially_copyable_v<T>, "the array moves its elements as bytes");

public:
    using iterator = T*;
    using const_iterator = const T*;

    explicit TypedArray(int grow = 16, bool clear = true)
        : array_(&block, static_cast<int>(sizeof(T)), grow, clear ? 1 : 0) {}

    T& operator[](int i) { return *static_cast<T*>(array_.getaddr(i)); }
    void push_back(const T& value) { (*this)[size()] = value; }
    int size() const { return array_.getcount(); }
    bool empty() const { return size() == 0; }
    void reserve(uint64_t n) { array_.reserve(n); }
    T* data() { return static_cast<T*>(block); }
    const T* data() const { return static_cast<const T*>(block); }

    iterator begin() { return data(); }
    iterator end() { return data() + size(); }
    const_iterator begin() const { return data(); }
    const_iterator end() const { return data() + size(); }
    UT_DARRAY& untyped() { return array_; }

private:
    UT_DARRAY array_;  // the elements; writes its block's address to `block`
};

}  // namespace Util
