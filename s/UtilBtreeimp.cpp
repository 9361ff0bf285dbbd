// UtilBtreeimp.cpp - the height-balanced tree, its shared node pool and locks.
#include "UtilStatics.h"

#include <UtilBtree.h>
#include <UtilFstmem.h>

#include <PortStream.h>

#include <algorithm>
#include <cassert>
#include <climits>
#include <memory>
#include <new>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilBtreeimp.cpp", "1.0"};
// The tree's one fatal code of its own: a comparison the derived class had to supply.
constexpr int kFatalMustDerive = 3;

constexpr unsigned kNodeSize = 32;
constexpr unsigned kNodesPerBlock = 4000;
static_assert(sizeof(UT_BTR_NODE) == kNodeSize, "a node is one pool element");

constexpr const char* kMsgMustDerive = "This function must be defined in the derived class.\n";
constexpr const char* kMsgViewAsData =
    "Key \"%.*s\" given as a view cannot be stored as its own data: it does not outlive the call.\n";
constexpr const char* kBalanceNames[] = {"RIGHT\n", "LEFT\n", "EQUAL\n"};

Util::Statics::Shared<Util::Statics::Btree> btreeShared;

using Node = UT_BTR_NODE;

}  // namespace

UT_FASTMEM* UT_BTR_NODE::mem = nullptr;

namespace Util::Statics {

const Btree& btree() {
    return once(btreeShared, kUnit, __LINE__, [] {
        std::unique_ptr<Port_ThrMutex> dump(new Port_ThrMutex), nodes(new Port_ThrMutex);
        std::unique_ptr<UT_FASTMEM> pool(new UT_FASTMEM(kNodeSize, kNodesPerBlock, "UT_BTR_NODE"));
        pool->set_guard(nodes.get());
        auto* made = new Btree{dump.release(), nodes.release()};
        UT_BTR_NODE::mem = pool.release();
        return made;
    });
}

}  // namespace Util::Statics

UT_STORE::~UT_STORE() = default;

unsigned char UT_STORE::s_add(std::string_view key, void* data) {
    if (!data) {
        UTIL_REPORT().error(kMsgViewAsData, static_cast<int>(std::min<std::size_t>(key.size(), INT_MAX)), key.data());
        return 0;
    }
    return s_add(Util::CText(key).data(), data);
}

// ---- nodes -------------------------------------------------------------

void UT_BTR_NODE::dump(int depth, void (*fn)(void*), unsigned char verbose) const {
    Util::Frame::Reporter report(kUnit, __LINE__);
    if (fn)
        fn(data);
    else
        report.status("   Data = %p", data);
    if (verbose) {
        report.status("      depth = %d, balance = ", depth);
        report.status("%s", kBalanceNames[balance]);
    }
}

void UT_BTR_NODE::dump(Port::Stream& s, int depth, void (*fn)(Port::Stream&, void*), unsigned char verbose) const {
    if (fn)
        fn(s, data);
    else
        s << "   Data = " << static_cast<const void*>(data);
    if (verbose)
        s << "      depth = " << depth << ", balance = " << kBalanceNames[balance];
    s.flush();
}

void UT_BTR_NODE::flush(UT_BTR_TREE_IMP* tree, void (*fn)(void**, void*)) {
    if (left) {
        left->flush(tree, fn);
        tree->freenode(left);
        left = nullptr;
    }
    if (right) {
        right->flush(tree, fn);
        tree->freenode(right);
        right = nullptr;
    }
    if (fn) {
        if (data)
            fn(&data, nullptr);
    } else if (tree->owner) {
        tree->parent->del_func(data);
    }
}

// ---- implementation object -----------------------------------------------

UT_BTR_TREE_IMP::UT_BTR_TREE_IMP(UT_BTR_TREE::CompareFn c)
    : root(nullptr), comp(c), count(0), owner(0), parent(nullptr) {}

UT_BTR_TREE_IMP::UT_BTR_TREE_IMP(unsigned char own)
    : root(nullptr), comp(nullptr), count(0), owner(own), parent(nullptr) {}

// Only nodes go back: the public object's derived part, and with it any
// del_func override, is already gone.
UT_BTR_TREE_IMP::~UT_BTR_TREE_IMP() { freeall(root); }

void UT_BTR_TREE_IMP::freeall(Node* node) {
    while (node) {
        freeall(node->left);
        Node* right = node->right;
        freenode(node);
        node = right;
    }
}

Node* UT_BTR_TREE_IMP::newnode() {
    const auto& shared = Util::Statics::btree();
    void* p = Util::Frame::guarded(*shared.nodePoolLock, [] { return UT_BTR_NODE::mem->getnewptr(); });
    if (!p)
        throw std::bad_alloc();
    ++version;
    return ::new (p) Node;
}

void UT_BTR_TREE_IMP::freenode(Node* node) {
    ++version;
    const auto& shared = Util::Statics::btree();
    Util::Frame::guarded(*shared.nodePoolLock, [node] { UT_BTR_NODE::mem->qrn_free(node); });
}

int UT_BTR_TREE_IMP::compare(void* data, const char* key) {
    return comp ? comp(data, key) : parent->comp_func(data, key);
}

void UT_BTR_TREE_IMP::del_func(void*) {}

int UT_BTR_TREE_IMP::comp_func(void*, const char*) { UTIL_REPORT().fatal(kFatalMustDerive, "%s", kMsgMustDerive); }

void** UT_BTR_TREE_IMP::find_recurse(const char* key) {
    for (Node* node = root; node;) {
        __builtin_prefetch(node->left);  // as in add_recurse
        __builtin_prefetch(node->right);
        int r = compare(node->data, key);
        if (r == 0)
            return &node->data;
        node = r < 0 ? node->left : node->right;
    }
    return nullptr;
}

void** UT_BTR_TREE_IMP::find(const char* key) { return key ? find_recurse(key) : nullptr; }

void* UT_BTR_TREE_IMP::s_find(void* key) {
    void** slot = find(static_cast<const char*>(key));
    return slot ? *slot : nullptr;
}

void** UT_BTR_TREE_IMP::add(const char* key) {
    if (!key)
        return nullptr;
    unsigned char grew = 0;
    void** slot = add_recurse(&root, key, grew);
    if (!*slot)
        ++count;
    return slot;
}

unsigned char UT_BTR_TREE_IMP::s_add(void* key, void* data) {
    void** slot = add(static_cast<const char*>(key));
    if (!slot)
        return 0;  // a null key stores nothing
    *slot = data ? data : key;
    return 1;
}

void** UT_BTR_TREE_IMP::add_recurse(Node** link, const char* key, unsigned char& grew) {
    Node* node = *link;
    if (!node) {
        node = newnode();
        *link = node;
        grew = 1;
        return &node->data;
    }
    // Both children are fetched while the compare reads the key's text: in a
    // large tree each level is otherwise a wait on memory.
    __builtin_prefetch(node->left);
    __builtin_prefetch(node->right);
    int r = compare(node->data, key);
    if (r == 0)
        return &node->data;
    void** slot;
    if (r < 0) {
        slot = add_recurse(&node->left, key, grew);
        if (grew) {
            if (node->balance == Node::RIGHT) {
                node->balance = Node::EQUAL;
                grew = 0;
            } else if (node->balance == Node::EQUAL) {
                node->balance = Node::LEFT;
            } else {
                Node* child = node->left;
                assert(child && child->balance != Node::EQUAL &&
                       "a subtree that grew under a node already leaning its way leans itself");
                if (child->balance == Node::LEFT) {
                    node->left = child->right;
                    child->right = node;
                    node->balance = Node::EQUAL;
                    *link = child;
                } else {
                    double_lr(link);
                }
                (*link)->balance = Node::EQUAL;
                grew = 0;
            }
        }
    } else {
        slot = add_recurse(&node->right, key, grew);
        if (grew) {
            if (node->balance == Node::LEFT) {
                node->balance = Node::EQUAL;
                grew = 0;
            } else if (node->balance == Node::EQUAL) {
                node->balance = Node::RIGHT;
            } else {
                Node* child = node->right;
                assert(child && child->balance != Node::EQUAL &&
                       "a subtree that grew under a node already leaning its way leans itself");
                if (child->balance == Node::RIGHT) {
                    node->right = child->left;
                    child->left = node;
                    node->balance = Node::EQUAL;
                    *link = child;
                } else {
                    double_rl(link);
                }
                (*link)->balance = Node::EQUAL;
                grew = 0;
            }
        }
    }
    return slot;
}

void UT_BTR_TREE_IMP::double_lr(Node** link) {
    Node* x = *link;
    Node* z = x->left;
    Node* y = z->right;
    assert(y && "a double rotation turns on the grandchild the tree leans towards");
    z->right = y->left;
    y->left = z;
    x->left = y->right;
    y->right = x;
    *link = y;
    x->balance = y->balance == Node::LEFT ? Node::RIGHT : Node::EQUAL;
    z->balance = y->balance == Node::RIGHT ? Node::LEFT : Node::EQUAL;
}

void UT_BTR_TREE_IMP::double_rl(Node** link) {
    Node* x = *link;
    Node* z = x->right;
    Node* y = z->left;
    assert(y && "a double rotation turns on the grandchild the tree leans towards");
    z->left = y->right;
    y->right = z;
    x->right = y->left;
    y->left = x;
    *link = y;
    x->balance = y->balance == Node::RIGHT ? Node::LEFT : Node::EQUAL;
    z->balance = y->balance == Node::LEFT ? Node::RIGHT : Node::EQUAL;
}

void* UT_BTR_TREE_IMP::remove(const char* key) {
    if (!key)
        return nullptr;
    unsigned char shrunk = 0;
    void* result = remove_recurse(&root, key, shrunk);
    if (result)
        --count;
    return result;
}

void* UT_BTR_TREE_IMP::s_remove(void* key) { return remove(static_cast<const char*>(key)); }

void* UT_BTR_TREE_IMP::remove_recurse(Node** link, const char* key, unsigned char& shrunk) {
    Node* node = *link;
    if (!node)
        return nullptr;
    int r = compare(node->data, key);
    if (r < 0) {
        void* result = remove_recurse(&node->left, key, shrunk);
        if (shrunk)
            shrink_left(link, shrunk);
        return result;
    }
    if (r > 0) {
        void* result = remove_recurse(&node->right, key, shrunk);
        if (shrunk)
            shrink_right(link, shrunk);
        return result;
    }
    void* result = node->data;
    if (!node->right || !node->left) {
        *link = node->right ? node->right : node->left;
        shrunk = 1;
        freenode(node);
    } else {
        shrink_recurse(&node->left, shrunk, node);
        if (shrunk)
            shrink_left(link, shrunk);
    }
    return result;
}

void UT_BTR_TREE_IMP::shrink_recurse(Node** link, unsigned char& shrunk, Node* target) {
    Node* n = *link;
    if (n->right) {
        shrink_recurse(&n->right, shrunk, target);
        if (shrunk)
            shrink_right(link, shrunk);
        return;
    }
    target->data = n->data;
    *link = n->left;
    freenode(n);
    shrunk = 1;
}

void UT_BTR_TREE_IMP::shrink_left(Node** link, unsigned char& shrunk) {
    Node* x = *link;
    if (x->balance == Node::LEFT) {
        x->balance = Node::EQUAL;
        return;
    }
    if (x->balance == Node::EQUAL) {
        x->balance = Node::RIGHT;
        shrunk = 0;
        return;
    }
    Node* r = x->right;
    assert(r && "a node leaning right has a right subtree");
    if (r->balance == Node::LEFT) {
        Node* y = r->left;
        assert(y && "a subtree leaning left has a left child");
        r->left = y->right;
        x->right = y->left;
        y->right = r;
        y->left = x;
        x->balance = y->balance == Node::RIGHT ? Node::LEFT : Node::EQUAL;
        r->balance = y->balance == Node::LEFT ? Node::RIGHT : Node::EQUAL;
        y->balance = Node::EQUAL;
        *link = y;
        return;
    }
    x->right = r->left;
    r->left = x;
    *link = r;
    if (r->balance == Node::EQUAL) {
        x->balance = Node::RIGHT;
        r->balance = Node::LEFT;
        shrunk = 0;
    } else {
        x->balance = Node::EQUAL;
        r->balance = Node::EQUAL;
    }
}

void UT_BTR_TREE_IMP::shrink_right(Node** link, unsigned char& shrunk) {
    Node* x = *link;
    if (x->balance == Node::RIGHT) {
        x->balance = Node::EQUAL;
        return;
    }
    if (x->balance == Node::EQUAL) {
        x->balance = Node::LEFT;
        shrunk = 0;
        return;
    }
    Node* l = x->left;
    assert(l && "a node leaning left has a left subtree");
    if (l->balance == Node::RIGHT) {
        Node* y = l->right;
        assert(y && "a subtree leaning right has a right child");
        l->right = y->left;
        x->left = y->right;
        y->left = l;
        y->right = x;
        x->balance = y->balance == Node::LEFT ? Node::RIGHT : Node::EQUAL;
        l->balance = y->balance == Node::RIGHT ? Node::LEFT : Node::EQUAL;
        y->balance = Node::EQUAL;
        *link = y;
        return;
    }
    x->left = l->right;
    l->right = x;
    *link = l;
    if (l->balance == Node::EQUAL) {
        x->balance = Node::LEFT;
        l->balance = Node::RIGHT;
        shrunk = 0;
    } else {
        x->balance = Node::EQUAL;
        l->balance = Node::EQUAL;
    }
}

void UT_BTR_TREE_IMP::flush(UT_BTR_TREE::SlotFn fn) {
    if (!root)
        return;
    root->flush(this, fn);
    freenode(root);
    root = nullptr;
    count = 0;
}

template <class Visit>
void UT_BTR_NODE::inorder(const UT_BTR_NODE* node, int depth, Visit& visit) {
    for (; node; node = node->right, ++depth) {
        inorder(node->left, depth + 1, visit);
        visit(node, depth + 1);
    }
}

void UT_BTR_TREE_IMP::dump(void (*fn)(void*), unsigned char verbose) const {
    Util::Frame::guarded(*Util::Statics::btree().dumpLock, [&] {
        auto visit = [&](const Node* n, int depth) { n->dump(depth, fn, verbose); };
        Node::inorder(root, 0, visit);
    });
}

void UT_BTR_TREE_IMP::dump(Port::Stream& s, void (*fn)(Port::Stream&, void*), unsigned char verbose) const {
    Util::Frame::guarded(*Util::Statics::btree().dumpLock, [&] {
        auto visit = [&](const Node* n, int depth) { n->dump(s, depth, fn, verbose); };
        Node::inorder(root, 0, visit);
    });
}

void UT_BTR_TREE_IMP::traverse_recurse(UT_BTR_TREE::SlotFn fn, void* arg, int order, Node* node) {
    while (node) {
        switch (order) {
        case UT_BTR_TREE::INORDER:
            traverse_recurse(fn, arg, order, node->left);
            fn(&node->data, arg);
            node = node->right;
            break;
        case UT_BTR_TREE::REV_INORDER:
            traverse_recurse(fn, arg, order, node->right);
            fn(&node->data, arg);
            node = node->left;
            break;
        case UT_BTR_TREE::PREORDER:
            fn(&node->data, arg);
            traverse_recurse(fn, arg, order, node->left);
            node = node->right;
            break;
        case UT_BTR_TREE::REV_PREORDER:
            fn(&node->data, arg);
            traverse_recurse(fn, arg, order, node->right);
            node = node->left;
            break;
        case UT_BTR_TREE::POSTORDER:
            traverse_recurse(fn, arg, order, node->left);
            traverse_recurse(fn, arg, order, node->right);
            fn(&node->data, arg);
            return;
        case UT_BTR_TREE::REV_POSTORDER:
            traverse_recurse(fn, arg, order, node->right);
            traverse_recurse(fn, arg, order, node->left);
            fn(&node->data, arg);
            return;
        default:
            return;
        }
    }
}

// ---- public object ---------------------------------------------------------

UT_BTR_TREE::UT_BTR_TREE(CompareFn comp) : imp(new UT_BTR_TREE_IMP(comp)) { imp->SetParent(this); }
UT_BTR_TREE::UT_BTR_TREE(unsigned char owner) : imp(new UT_BTR_TREE_IMP(owner)) { imp->SetParent(this); }
UT_BTR_TREE::~UT_BTR_TREE() { delete imp; }

unsigned char UT_BTR_TREE::s_add(void* key, void* data) { return imp->s_add(key, data); }
void* UT_BTR_TREE::s_find(void* key) { return imp->s_find(key); }
void* UT_BTR_TREE::s_remove(void* key) { return imp->s_remove(key); }
void UT_BTR_TREE::del_func(void* data) { imp->del_func(data); }
int UT_BTR_TREE::comp_func(void* data, const char* key) { return imp->comp_func(data, key); }
void** UT_BTR_TREE::add(const char* key) { return imp->add(key); }
void** UT_BTR_TREE::find(const char* key) { return imp->find(key); }
void* UT_BTR_TREE::remove(const char* key) { return imp->remove(key); }
unsigned int UT_BTR_TREE::get_count() const { return imp->count; }
uint32_t UT_BTR_TREE::get_version() const { return imp->version; }
void** UT_BTR_TREE::get_root() const { return imp->root ? &imp->root->data : nullptr; }
void UT_BTR_TREE::traverse(SlotFn fn, void* arg, TRAV_TYPE order) { imp->traverse_recurse(fn, arg, order, imp->root); }
unsigned char UT_BTR_TREE::is_owner() const { return imp->owner; }
void UT_BTR_TREE::flush(SlotFn fn) { imp->flush(fn); }
void UT_BTR_TREE::dump(void (*fn)(void*), unsigned char verbose) const { imp->dump(fn, verbose); }
void UT_BTR_TREE::dump(Port::Stream& s, void (*fn)(Port::Stream&, void*), unsigned char verbose) const {
    imp->dump(s, fn, verbose);
}
