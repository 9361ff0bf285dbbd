// Tests of the sparse matrix: linking, node reuse, copying and the solver.
#include "TestSupport.h"

#include <UtilSpr.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

TEST(SparseMatrix, ElementsAreOrderedInRowsAndColumnsAndNodesAreReused) {
    UT_SPRMTX m(3, 3);
    m.insertelement(0, 2, 2.0);
    m.insertelement(0, 0, 0.5);
    m.insertelement(0, 1, 1.0);
    m.addvalue(1, 1, 1.5);
    m.addvalue(1, 1, 2.0);
    EXPECT_DOUBLE_EQ(m.findelement(1, 1)->value, 3.5);
    EXPECT_DOUBLE_EQ(m.findelement(0, 1)->value, 1.0);
    EXPECT_EQ(m.findelement(2, 2), nullptr);

    UT_SPRNODE* gone = m.findelement(0, 1);
    m.deleteelement(0, 1);
    EXPECT_EQ(m.findelement(0, 1), nullptr);
    EXPECT_EQ(m.newnode(2, 2, 7.0), gone);  // from the spare list
    m.insertelement(2, 2, gone);
    EXPECT_EQ(m.findelement(2, 2), gone);
    m.deleteelement(2, 2);
    m.insertelement(2, 0, 1.0);
    EXPECT_NE(m.findelement(2, 0), gone);  // a fresh node: the spare is kept

    UT_SPRMTX small(2, 2);
    UtilTest::CapturedReports seen;
    small.copy(m);  // (0,2) does not fit: refused, the rest copied
    small.copy(small);
    EXPECT_DOUBLE_EQ(small.findelement(0, 0)->value, 0.5);
    EXPECT_DOUBLE_EQ(small.findelement(1, 1)->value, 3.5);
    auto msgs = seen.messages();
    ASSERT_EQ(msgs.size(), 2u);
    EXPECT_EQ(msgs[0].kind, Port::MsgKind::Internal);
    EXPECT_EQ(msgs[0].text, "Attempt to insert element (0,2) outside of matrix of size (2,2)\n");
    EXPECT_EQ(msgs[1].text, "Attempt to insert element (2,0) outside of matrix of size (2,2)\n");
}

TEST(SparseMatrix, SizesAndRefusals) {
    UT_SPRMTX m(-5, 3);
    EXPECT_EQ(m.getrows(), 1);
    EXPECT_EQ(m.getcols(), 3);
    UT_SPRMTX none(0, 0);
    UtilTest::CapturedReports seen;
    EXPECT_EQ(none.findelement(0, 0), nullptr);
    none.insertelement(0, 0, 1.0);
    none.addvalue(-1, 0, 1.0);
    none.deleteelement(0, 0);
    std::vector<std::string> texts;
    for (const auto& msg : seen.messages())
        texts.push_back(msg.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Attempt to find element (0,0) outside of matrix of size (0,0)\n",
                                               "Attempt to insert element (0,0) outside of matrix of size (0,0)\n",
                                               "Attempt to find element (-1,0) outside of matrix of size (0,0)\n",
                                               "Attempt to delete element (0,0) outside of matrix of size (0,0)\n"}));
}

TEST(GaussSeidel, TwoByTwoDiagonalStopsAfterTheSweepWithoutChange) {
    UT_SPRMTX m(2, 2);
    m.insertelement(0, 0, 2.0);
    m.insertelement(1, 1, 4.0);
    double b[2] = {2, 8}, x[2] = {0, 0};
    m.solvegauss(b, x, 0.001, 10);
    EXPECT_EQ(x[0], 1.0);
    EXPECT_EQ(x[1], 2.0);

    UtilTest::CapturedReports seen;  // a refused system is not looked into
    double y[2] = {5, 5};
    UT_SPRMTX(2, 3).solvegauss(b, y, 0.001, 10);
    m.solvegauss(b, y, 0.001, 0);
    EXPECT_EQ(y[0], 5.0);

    UT_SPRMTX missing(2, 2);
    missing.insertelement(0, 0, 1.0);
    missing.insertelement(1, 0, 1.0);
    missing.solvegauss(b, y, 0.001, 10);
    EXPECT_EQ(y[1], 5.0);
    ASSERT_EQ(seen.messages().size(), 1u);
    EXPECT_EQ(seen.messages()[0].text, "Row 1 of the matrix has no usable diagonal element: not solved\n");
}

TEST(GaussSeidel, SolvesADiagonallyDominantSystemOfThousandsOfUnknowns) {
    const int n = 3000;
    UT_SPRMTX m(n, n);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> v(-1.0, 1.0);
    std::vector<std::vector<std::pair<int, double>>> rows(n);
    for (int i = 0; i < n; ++i) {
        double off = 0;
        for (int k = 0; k < 6; ++k) {
            int j = static_cast<int>(rng() % n);
            if (j == i)
                continue;
            double a = v(rng);
            m.addvalue(i, j, a);
            rows[i].push_back({j, a});
            off += std::fabs(a);
        }
        m.insertelement(i, i, off + 1.0);
        rows[i].push_back({i, off + 1.0});
    }
    std::vector<double> b(n), x(n, 0.0);
    for (auto& e : b)
        e = v(rng);
    m.solvegauss(b.data(), x.data(), 1e-12, 500);
    double residual = 0;
    for (int i = 0; i < n; ++i) {
        double s = -b[i];
        for (auto [j, a] : rows[i])
            s += a * x[j];
        residual = std::max(residual, std::fabs(s));
    }
    EXPECT_LT(residual, 1e-10);
}

}  // namespace
