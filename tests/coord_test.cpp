// Tests of the integer geometry, against a reference at the ends of the ranges.
#include "TestSupport.h"

#include <UtilCoord.h>

#include <algorithm>
#include <climits>
#include <random>

namespace {

TEST(Segments, CrossingsTouchingAndCollinearPieces) {
    EXPECT_TRUE(Util_Point32::LineIntersect(0, 0, 0, 10, -5, 5, 5, 5));
    EXPECT_TRUE(Util_Point32::LineIntersect(0, 0, 0, 10, 0, 10, 5, 10));
    EXPECT_TRUE(Util_Point32::LineIntersect(0, 10, 0, 0, 5, 10, 0, 10));
    EXPECT_FALSE(Util_Point32::LineIntersect(0, 0, 0, 10, 1, 5, 5, 5));
    EXPECT_TRUE(Util_Point32::LineIntersect(0, 0, 0, 10, 0, 5, 0, 20));
    // A collinear segment covering the other meets it, in both orders.
    EXPECT_TRUE(Util_Point32::LineIntersect(0, 0, 0, 10, 0, -5, 0, 20));
    EXPECT_TRUE(Util_Point32::LineIntersect(0, -5, 0, 20, 0, 0, 0, 10));
    EXPECT_TRUE(
        Util_Point32::LineIntersect(Util_Point32(2, 3), Util_Point32(8, 3), Util_Point32(0, 3), Util_Point32(9, 3)));
    EXPECT_FALSE(Util_Point32::LineIntersect(0, 0, 0, 10, 1, 0, 1, 10));
    EXPECT_TRUE(Util_Point16::LineIntersect(Util_Point16(INT16_MIN, 0), Util_Point16(INT16_MAX, 0),
                                            Util_Point16(INT16_MAX, INT16_MIN), Util_Point16(INT16_MAX, INT16_MAX)));
    EXPECT_TRUE(Util_Point32::LineIntersect(INT_MIN, INT_MAX, INT_MAX, INT_MAX, INT_MIN, INT_MIN, INT_MIN, INT_MAX));

    UtilTest::CapturedReports seen;
    EXPECT_FALSE(Util_Point32::LineIntersect(0, 0, 5, 5, 0, 1, 0, 9));
    auto msgs = seen.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_NE(msgs[0].text.find("LineIntersect - non-orthogonal lines"), std::string::npos) << msgs[0].text;
    EXPECT_NE(msgs[0].text.find("(0, 0  5, 5) (0, 1  0, 9)"), std::string::npos) << msgs[0].text;
}

// Rectangles share a point exactly when their ranges overlap on both axes.
bool reference(long long ax0, long long ax1, long long ay0, long long ay1, long long bx0, long long bx1, long long by0,
               long long by1) {
    return std::max(ax0, bx0) <= std::min(ax1, bx1) && std::max(ay0, by0) <= std::min(ay1, by1);
}

TEST(Rectangles, CornersCrossesAndTheEndsOfTheRanges) {
    // Coordinates drawn near the ends and the middle of each range: corners
    // that touch, crosses and containment all come up.
    std::mt19937 rng(23);
    const int pool32[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX - 1, INT_MAX};
    const int16_t pool16[] = {INT16_MIN, INT16_MIN + 1, -1, 0, 1, INT16_MAX - 1, INT16_MAX};
    auto pick = [&](auto& pool, auto& lo, auto& hi) {
        lo = pool[rng() % 7];
        hi = pool[rng() % 7];
        if (hi < lo)
            std::swap(lo, hi);
    };
    for (int i = 0; i < 20000; ++i) {
        int a[4], b[4];
        pick(pool32, a[0], a[1]);
        pick(pool32, a[2], a[3]);
        pick(pool32, b[0], b[1]);
        pick(pool32, b[2], b[3]);
        ASSERT_EQ(Util_Extrema32(a[0], a[1], a[2], a[3]).overlap(Util_Extrema32(b[0], b[1], b[2], b[3])),
                  reference(a[0], a[1], a[2], a[3], b[0], b[1], b[2], b[3]));
        int16_t c[4], d[4];
        pick(pool16, c[0], c[1]);
        pick(pool16, c[2], c[3]);
        pick(pool16, d[0], d[1]);
        pick(pool16, d[2], d[3]);
        ASSERT_EQ(Util_Extrema16(c[0], c[1], c[2], c[3]).overlap(Util_Extrema16(d[0], d[1], d[2], d[3])),
                  reference(c[0], c[1], c[2], c[3], d[0], d[1], d[2], d[3]));
    }
}

}  // namespace
