// UtilSpr.cpp - the sparse matrix and its Gauss-Seidel solver.
#include "UtilReport.h"

#include <UtilSpr.h>

#include <cmath>
#include <memory>
#include <new>

namespace {

constexpr Util::Frame::Unit kUnit{"s/UtilSpr.cpp", "1.0"};

constexpr const char* kMsgInsert = "Attempt to insert element (%d,%d) outside of matrix of size (%d,%d)\n";
constexpr const char* kMsgFind = "Attempt to find element (%d,%d) outside of matrix of size (%d,%d)\n";
constexpr const char* kMsgDelete = "Attempt to delete element (%d,%d) outside of matrix of size (%d,%d)\n";
constexpr const char* kMsgNoDiagonal = "Row %d of the matrix has no usable diagonal element: not solved\n";
constexpr const char* kMsgNode = "(%d,%d) = %g\n";

UT_SPRNODE* nodeOf(void* p) { return static_cast<UT_SPRNODE*>(p); }

}  // namespace

// ---- node lists ------------------------------------------------------------

void LIST_UT_SPRNODE::freedata(void*) {}

void LIST_UT_SPRNODE::printdata(void* elem) {
    UTIL_REPORT().status(kMsgNode, nodeOf(elem)->row, nodeOf(elem)->col, nodeOf(elem)->value);
}

unsigned char LIST_UT_SPRNODE::finddata(void* elem, void* key) {
    return nodeOf(elem)->row == nodeOf(key)->row && nodeOf(elem)->col == nodeOf(key)->col;
}

int LIST_UT_SPRNODE::compdata(void* a, void* b) {
    const UT_SPRNODE& x = *nodeOf(a);
    const UT_SPRNODE& y = *nodeOf(b);
    if (x.row != y.row)
        return x.row < y.row ? -1 : 1;
    return x.col < y.col ? -1 : (x.col > y.col ? 1 : 0);
}

// ---- matrix ----------------------------------------------------------------

UT_SPRMTX::UT_SPRMTX(int nrows, int ncols)
    : rows(nrows < 0 ? 1 : nrows), cols(ncols < 0 ? 1 : ncols), rowlists(nullptr), collists(nullptr) {
    std::unique_ptr<LIST_UT_SPRNODE[]> r(new LIST_UT_SPRNODE[static_cast<std::size_t>(rows)]);
    collists = new LIST_UT_SPRNODE[static_cast<std::size_t>(cols)];
    rowlists = r.release();
}

UT_SPRMTX::~UT_SPRMTX() {
    clear();
    delete[] rowlists;
    delete[] collists;
}

bool UT_SPRMTX::valid(int r, int c, const char* refusal) const {
    if (r >= 0 && r < rows && c >= 0 && c < cols)
        return true;
    UTIL_REPORT().internal(refusal, r, c, rows, cols);
    return false;
}

void UT_SPRMTX::link(UT_SPRNODE* node) {
    LIST_UT_SPRNODE& row = rowlists[node->row];
    row.reset();
    while (row.peeknext() && nodeOf(row.peeknext())->col <= node->col)
        row.getnext();
    row.insert(node);
    LIST_UT_SPRNODE& col = collists[node->col];
    col.reset();
    while (col.peeknext() && nodeOf(col.peeknext())->row <= node->row)
        col.getnext();
    col.insert(node);
}

UT_SPRNODE* UT_SPRMTX::findelement(int r, int c) const {
    if (!valid(r, c, kMsgFind))
        return nullptr;
    LIST_UT_SPRNODE& row = rowlists[r];
    row.reset();
    while (void* p = row.getnext())
        if (nodeOf(p)->col == c)
            return nodeOf(p);
    return nullptr;
}

void UT_SPRMTX::insertelement(int r, int c, UT_SPRNODE* node) {
    if (!node || !valid(r, c, kMsgInsert))
        return;
    node->row = r;
    node->col = c;
    link(node);
}

void UT_SPRMTX::insertelement(int r, int c, double v) {
    if (valid(r, c, kMsgInsert))
        link(new UT_SPRNODE{r, c, v});
}

void UT_SPRMTX::addvalue(int r, int c, double v) {
    if (!valid(r, c, kMsgFind))
        return;
    if (UT_SPRNODE* node = findelement(r, c))
        node->value += v;
    else
        link(new UT_SPRNODE{r, c, v});
}

void UT_SPRMTX::deleteelement(int r, int c) {
    if (!valid(r, c, kMsgDelete))
        return;
    UT_SPRNODE* node = findelement(r, c);
    if (!node)
        return;
    rowlists[r].rmunowned(node);
    collists[c].rmunowned(node);
    spares.push(node);
}

UT_SPRNODE* UT_SPRMTX::newnode(int r, int c, double v) {
    auto* node = nodeOf(spares.pop());
    if (!node)
        node = new (std::nothrow) UT_SPRNODE;
    if (node)
        *node = UT_SPRNODE{r, c, v};
    return node;
}

void UT_SPRMTX::clear() {
    for (int r = 0; r < rows; ++r)
        while (void* p = rowlists[r].pop())
            spares.push(p);
    for (int c = 0; c < cols; ++c)
        collists[c].freelist();
    while (void* p = spares.pop())
        delete nodeOf(p);
}

void UT_SPRMTX::copy(const UT_SPRMTX& other) {
    if (&other == this)
        return;  // clearing first would lose the very nodes to copy
    clear();
    for (int r = 0; r < other.rows; ++r) {
        LIST_UT_SPRNODE& row = other.rowlists[r];
        row.reset();
        while (void* p = row.getnext())
            if (valid(nodeOf(p)->row, nodeOf(p)->col, kMsgInsert))
                link(new UT_SPRNODE(*nodeOf(p)));
    }
}

void UT_SPRMTX::solvegauss(double* const b, double* const x, double tol, int maxiter) const {
    if (rows != cols || maxiter <= 0 || !b || !x)
        return;
    // Every row's diagonal, found before x is touched: a row without a usable
    // one cannot be solved for.
    auto diagonal = [this](int i) -> double {
        LIST_UT_SPRNODE& row = rowlists[i];
        row.reset();
        while (void* p = row.getnext())
            if (nodeOf(p)->col == i)
                return nodeOf(p)->value;
        return 0.0;
    };
    for (int i = 0; i < rows; ++i) {
        double d = diagonal(i);
        if (d == 0.0 || !std::isfinite(d)) {
            UTIL_REPORT().internal(kMsgNoDiagonal, i);
            return;
        }
    }
    double err = tol;
    for (int iter = 0; iter < maxiter && err >= tol; ++iter) {
        double sum = 0.0;
        for (int i = rows - 1; i >= 0; --i) {
            double d = 0.0, s = 0.0;
            bool seen = false;
            LIST_UT_SPRNODE& row = rowlists[i];
            row.reset();
            while (void* p = row.getnext()) {
                const UT_SPRNODE& n = *nodeOf(p);
                if (n.col == i && !seen) {
                    d = n.value;
                    seen = true;
                }
                s += x[n.col] * n.value;
            }
            double old = x[i];
            x[i] = (b[i] - (s - old * d)) / d;
            sum += (x[i] - old) * (x[i] - old);
        }
        err = std::sqrt(sum);
    }
}
