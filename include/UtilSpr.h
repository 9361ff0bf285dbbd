// UtilSpr.h - a sparse matrix of doubles with a Gauss-Seidel solver.
//
// Each stored element is one node, linked into the list of its row (ascending
// column) and the list of its column (ascending row). Deleted nodes are kept
// on a spare list and handed out again by newnode(). The matrix owns every
// node linked into it, also those the caller made or took from newnode().
//
// Elements outside the matrix are refused with an internal report and no
// change; look-ups then give null. The size is fixed for life (a negative
// count becomes 1).
//
// One thread uses a matrix at a time: findelement and solvegauss, though
// const, move the row lists' cursors.
//
// Lives in: s/UtilSpr.cpp; tests: tests/spr_test.cpp; docs: docs/list-sparse.md.
#pragma once

#include "UtilExport.h"
#include "UtilList.h"

struct UTIL_EXPORT UT_SPRNODE {
    int row;       // the node's row, 0 .. rows - 1
    int col;       // the node's column, 0 .. cols - 1
    double value;  // the matrix's entry there
};

// A row, column or spare list of a matrix; freeing a list frees no node.
// Nodes compare and match by (row, col); finddata's key is a UT_SPRNODE*.
class UTIL_EXPORT LIST_UT_SPRNODE : public UT_LIST {
public:
    LIST_UT_SPRNODE() = default;
    ~LIST_UT_SPRNODE() override = default;

    void freedata(void* elem) override;
    // Status line "(%d,%d) = %g\n".
    void printdata(void* elem) override;
    unsigned char finddata(void* elem, void* key) override;
    int compdata(void* a, void* b) override;
};

class UTIL_EXPORT UT_SPRMTX {
public:
    UT_SPRMTX(int nrows, int ncols);
    ~UT_SPRMTX();
    UT_SPRMTX(const UT_SPRMTX&) = delete;
    UT_SPRMTX& operator=(const UT_SPRMTX&) = delete;

    int getrows() const { return rows; }
    int getcols() const { return cols; }

    UT_SPRNODE* findelement(int r, int c) const;
    // Links a node the caller made (the matrix owns it from then on); a null
    // node is ignored. A node for an element already present goes after it.
    void insertelement(int r, int c, UT_SPRNODE* node);
    void insertelement(int r, int c, double v);
    void addvalue(int r, int c, double v);
    // Unlinks the element's node onto the spare list.
    void deleteelement(int r, int c);
    // A node holding (r, c, v), from the spare list when it has one; linked
    // nowhere.
    UT_SPRNODE* newnode(int r, int c, double v);
    void clear();
    // This matrix then holds copies of `other`'s nodes (copying itself changes
    // nothing).
    void copy(const UT_SPRMTX& other);
    // Gauss-Seidel sweeps (last row first) for A x = b, x holding the start on
    // entry: at most `maxiter`, until the Euclidean length of a sweep's change
    // is below `tol`. Nothing is done for a matrix that is not square, for
    // maxiter <= 0, for null vectors, or (with an internal report) when a row
    // has no non-zero finite diagonal element.
    void solvegauss(double* const b, double* const x, double tol, int maxiter) const;
    void print() const {}
    void print(unsigned char) const {}
    void print(int, int) const {}

private:
    bool valid(int r, int c, const char* refusal) const;
    void link(UT_SPRNODE* node);

    int rows;                   // rows of the matrix, at least 1
    int cols;                   // columns of the matrix, at least 1
    LIST_UT_SPRNODE* rowlists;  // rows lists, each of its row's nodes by column
    LIST_UT_SPRNODE* collists;  // cols lists, each of its column's nodes by row
    LIST_UT_SPRNODE spares;     // removed nodes kept for reuse; owned
};
