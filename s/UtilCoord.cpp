// UtilCoord.cpp - segment meets and rectangle overlap.
#include <UtilCoord.h>

#include <PortHeap.h>

#include <utility>

namespace {

constexpr const char* kUnitPath = "s/UtilCoord.cpp";
constexpr const char* kCondition = "LineIntersect - non-orthogonal lines";
constexpr const char* kFmtSegments = "(%d, %d  %d, %d) (%d, %d  %d, %d)";

bool within(int v, int lo, int hi) { return lo <= v && v <= hi; }

struct Segment {
    int x1, y1, x2, y2;
    bool vertical() const { return x1 == x2; }
    bool horizontal() const { return y1 == y2; }
    // Vertical ones lower end first, horizontal ones left end first.
    void normalise() {
        if (vertical()) {
            if (y2 < y1) {
                std::swap(x1, x2);
                std::swap(y1, y2);
            }
        } else if (horizontal() && x2 < x1) {
            std::swap(x1, x2);
            std::swap(y1, y2);
        }
    }
};

// Collinear pieces [a1, a2] and [b1, b2] share a point when either holds an
// end of the other (testing only B's ends would miss a B that covers A).
bool shareSpan(int a1, int a2, int b1, int b2) {
    return within(b1, a1, a2) || within(b2, a1, a2) || within(a1, b1, b2);
}

unsigned char meet(Segment a, Segment b) {
    a.normalise();
    b.normalise();
    if (a.vertical() && b.horizontal())
        return within(a.x1, b.x1, b.x2) && within(b.y1, a.y1, a.y2);
    if (a.horizontal() && b.vertical())
        return within(a.y1, b.y1, b.y2) && within(b.x1, a.x1, a.x2);
    if (a.vertical() && b.vertical())
        return a.x1 == b.x1 && shareSpan(a.y1, a.y2, b.y1, b.y2);
    if (a.horizontal() && b.horizontal())
        return a.y1 == b.y1 && shareSpan(a.x1, a.x2, b.x1, b.x2);
    ut_assert_failed(kUnitPath, __LINE__, kCondition,
                     qrnform(kFmtSegments, a.x1, a.y1, a.x2, a.y2, b.x1, b.y1, b.x2, b.y2));
    return 0;
}

// The rectangle test of both widths, on values widened to int.
struct Box {
    int xmin, xmax, ymin, ymax;
    bool holds(int x, int y) const { return within(x, xmin, xmax) && within(y, ymin, ymax); }
    bool holdsTopOf(const Box& o) const {
        return (within(o.xmin, xmin, xmax) || within(o.xmax, xmin, xmax)) && within(o.ymax, ymin, ymax);
    }
};

unsigned char overlaps(const Box& t, const Box& o) {
    if (t.holds(o.xmin, o.ymin) || t.holds(o.xmax, o.ymin) || t.holdsTopOf(o))
        return 1;
    if (o.holds(t.xmin, t.ymin) || o.holds(t.xmax, t.ymin) || o.holdsTopOf(t))
        return 1;
    for (int tx : {t.xmin, t.xmax})
        for (int oy : {o.ymin, o.ymax})
            if (meet({tx, t.ymin, tx, t.ymax}, {o.xmin, oy, o.xmax, oy}))
                return 1;
    for (int ty : {t.ymin, t.ymax})
        for (int ox : {o.xmin, o.xmax})
            if (meet({t.xmin, ty, t.xmax, ty}, {ox, o.ymin, ox, o.ymax}))
                return 1;
    return 0;
}

}  // namespace

unsigned char Util_Point32::LineIntersect(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
    return meet({x1, y1, x2, y2}, {x3, y3, x4, y4});
}

unsigned char Util_Point32::LineIntersect(const Util_Point32& a1, const Util_Point32& a2, const Util_Point32& b1,
                                          const Util_Point32& b2) {
    return meet({a1.x, a1.y, a2.x, a2.y}, {b1.x, b1.y, b2.x, b2.y});
}

unsigned char Util_Point16::LineIntersect(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
    return meet({x1, y1, x2, y2}, {x3, y3, x4, y4});
}

unsigned char Util_Point16::LineIntersect(const Util_Point16& a1, const Util_Point16& a2, const Util_Point16& b1,
                                          const Util_Point16& b2) {
    return meet({a1.x, a1.y, a2.x, a2.y}, {b1.x, b1.y, b2.x, b2.y});
}

unsigned char Util_Extrema32::overlap(const Util_Extrema32& o) const {
    return overlaps({xmin, xmax, ymin, ymax}, {o.xmin, o.xmax, o.ymin, o.ymax});
}

unsigned char Util_Extrema16::overlap(const Util_Extrema16& o) const {
    return overlaps({xmin, xmax, ymin, ymax}, {o.xmin, o.xmax, o.ymin, o.ymax});
}
