// UtilCoord.h - axis-parallel integer geometry: segment meets and rectangle
// overlap, inclusive (touching counts), in 16- and 32-bit variants.
//
// LineIntersect takes horizontal or vertical segments, ends in either order;
// a segment of one point is both. A diagonal segment is an internal assertion
// report and gives false. Collinear segments meet when they share any point.
// Only comparisons are made, so coordinates at the ends of the ranges are
// exact. A rectangle is xmin <= x <= xmax, ymin <= y <= ymax.
//
// Lives in: s/UtilCoord.cpp; tests: tests/coord_test.cpp; docs: docs/utilities.md.
#pragma once

#include "UtilExport.h"

#include <cstdint>

class UTIL_EXPORT Util_Point32 {
public:
    Util_Point32(int32_t px, int32_t py) : x(px), y(py) {}
    int32_t getx() const { return x; }
    int32_t gety() const { return y; }

    static unsigned char LineIntersect(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
    static unsigned char LineIntersect(const Util_Point32& a1, const Util_Point32& a2, const Util_Point32& b1,
                                       const Util_Point32& b2);

private:
    int32_t x;  // horizontal coordinate
    int32_t y;  // vertical coordinate
};

class UTIL_EXPORT Util_Point16 {
public:
    Util_Point16(int16_t px, int16_t py) : x(px), y(py) {}
    int16_t getx() const { return x; }
    int16_t gety() const { return y; }

    static unsigned char LineIntersect(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4);
    static unsigned char LineIntersect(const Util_Point16& a1, const Util_Point16& a2, const Util_Point16& b1,
                                       const Util_Point16& b2);

private:
    int16_t x;  // horizontal coordinate
    int16_t y;  // vertical coordinate
};

class UTIL_EXPORT Util_Extrema32 {
public:
    Util_Extrema32(int32_t x0, int32_t x1, int32_t y0, int32_t y1) : xmin(x0), xmax(x1), ymin(y0), ymax(y1) {}
    int32_t getxmin() const { return xmin; }
    int32_t getxmax() const { return xmax; }
    int32_t getymin() const { return ymin; }
    int32_t getymax() const { return ymax; }
    unsigned char overlap(const Util_Extrema32& o) const;

private:
    int32_t xmin;  // the smallest x seen
    int32_t xmax;  // the largest x seen
    int32_t ymin;  // the smallest y seen
    int32_t ymax;  // the largest y seen
};

class UTIL_EXPORT Util_Extrema16 {
public:
    Util_Extrema16(int16_t x0, int16_t x1, int16_t y0, int16_t y1) : xmin(x0), xmax(x1), ymin(y0), ymax(y1) {}
    int16_t getxmin() const { return xmin; }
    int16_t getxmax() const { return xmax; }
    int16_t getymin() const { return ymin; }
    int16_t getymax() const { return ymax; }
    unsigned char overlap(const Util_Extrema16& o) const;

private:
    int16_t xmin;  // the smallest x seen
    int16_t xmax;  // the largest x seen
    int16_t ymin;  // the smallest y seen
    int16_t ymax;  // the largest y seen
};
