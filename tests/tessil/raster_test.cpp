// The rasteriser pixel for pixel: exact figures, clipping, single painting
// under exclusive-or, and safety for any int coordinates.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "tessil/raster.h"

namespace {

using tessil::Canvas;
using tessil::Clip;
using tessil::MakeCanvas;
using tessil::Pixel;
using tessil::RasterOp;
using tessil::Surface;

using Cells = std::set<std::pair<int, int>>; // (x, y)

constexpr Pixel kInk = 0x00FF8040;
constexpr Pixel kSentinel = 0x00A5A5A5;

Surface Blank(int w, int h, Pixel fill = 0)
{
    Surface s;
    s.Resize(w, h, fill);
    return s;
}

Cells Painted(const Surface& s, Pixel background = 0)
{
    Cells out;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            if (s.Get(x, y) != background) out.insert({x, y});
    return out;
}

// Whether the cells form one 8-connected piece.
bool Connected(const Cells& cells)
{
    if (cells.empty()) return true;
    Cells seen{*cells.begin()};
    std::vector<std::pair<int, int>> todo{*cells.begin()};
    while (!todo.empty()) {
        auto [x, y] = todo.back();
        todo.pop_back();
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx) {
                std::pair<int, int> n{x + dx, y + dy};
                if (cells.count(n) && seen.insert(n).second) todo.push_back(n);
            }
    }
    return seen.size() == cells.size();
}

struct Box {
    int left = INT_MAX, top = INT_MAX, right = INT_MIN, bottom = INT_MIN;
};
Box Bounds(const Cells& cells)
{
    Box b;
    for (auto [x, y] : cells) {
        b.left = std::min(b.left, x), b.right = std::max(b.right, x);
        b.top = std::min(b.top, y), b.bottom = std::max(b.bottom, y);
    }
    return b;
}

// Every figure under one signature, for the properties all of them share.
using Figure = std::function<void(Canvas&, RasterOp)>;

// Drawn once by exclusive-or onto black, a figure painted twice anywhere would
// lose that pixel; so its xor cells must equal its copy cells.
void ExpectEachPixelOnce(const Figure& figure, int w = 64, int h = 48)
{
    Surface a = Blank(w, h), b = Blank(w, h);
    Canvas ca = MakeCanvas(a), cb = MakeCanvas(b);
    figure(ca, RasterOp::Copy);
    figure(cb, RasterOp::Xor);
    EXPECT_EQ(Painted(a), Painted(b));
}

// ---------------------------------------------------------------- canvas

TEST(RasterCanvas, EmptyAndBrokenCanvasesDrawNothing)
{
    Surface empty;
    Canvas c = MakeCanvas(empty);
    RasterFillRect(c, INT_MIN, INT_MIN, INT_MAX, INT_MAX, kInk, RasterOp::Copy);
    RasterFloodFill(c, 0, 0, kInk);
    RasterEllipse(c, 0, 0, 10, 10, kInk, RasterOp::Copy);
    EXPECT_TRUE(empty.pixels.empty());

    Canvas none;
    RasterLine(none, 0, 0, 5, 5, kInk, RasterOp::Copy);

    // A clip set by hand beyond the surface, or a surface shrunk afterwards.
    Surface s = Blank(8, 8);
    Canvas wide{&s, Clip{-100, -100, 100, 100}};
    RasterFillRect(wide, -50, -50, 50, 50, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s).size(), 64u);
    Canvas stale = MakeCanvas(s);
    s.Resize(4, 4);
    RasterFillRect(stale, 0, 0, 7, 7, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s).size(), 16u);
}

// ---------------------------------------------------------------- rectangles

TEST(RasterFillRect, OnePixelAndInclusiveEdges)
{
    Surface s = Blank(32, 32);
    Canvas c = MakeCanvas(s);
    RasterFillRect(c, 10, 10, 10, 10, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{10, 10}}));

    Surface t = Blank(32, 32);
    Canvas ct = MakeCanvas(t);
    RasterFillRect(ct, 12, 9, 3, 4, kInk, RasterOp::Copy); // corners in any order
    const Cells cells = Painted(t);
    EXPECT_EQ(cells.size(), 10u * 6u);
    const Box b = Bounds(cells);
    EXPECT_EQ(b.left, 3);
    EXPECT_EQ(b.right, 12);
    EXPECT_EQ(b.top, 4);
    EXPECT_EQ(b.bottom, 9);
}

TEST(RasterFillRect, ExtremeCornersFillExactlyTheClip)
{
    Surface s = Blank(40, 30, kSentinel);
    Canvas c = MakeCanvas(s, Clip{5, 6, 20, 25});
    RasterFillRect(c, INT_MAX, INT_MAX, INT_MIN, INT_MIN, kInk, RasterOp::Copy);
    const Cells cells = Painted(s, kSentinel);
    EXPECT_EQ(cells.size(), 16u * 20u);
    const Box b = Bounds(cells);
    EXPECT_EQ(b.left, 5);
    EXPECT_EQ(b.bottom, 25);
    RasterFillRect(c, INT_MIN, 0, 4, INT_MAX, 0, RasterOp::Copy); // wholly left of the clip
    EXPECT_EQ(Painted(s, kSentinel).size(), cells.size());
}

// ---------------------------------------------------------------- lines

TEST(RasterLine, StraightAndDiagonalLinesAreExact)
{
    Surface s = Blank(20, 20);
    Canvas c = MakeCanvas(s);
    RasterLine(c, 2, 3, 7, 3, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {7, 3}}));

    s = Blank(20, 20);
    RasterLine(c, 4, 9, 4, 6, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{4, 6}, {4, 7}, {4, 8}, {4, 9}}));

    s = Blank(20, 20);
    RasterLine(c, 5, 5, 1, 9, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{5, 5}, {4, 6}, {3, 7}, {2, 8}, {1, 9}}));

    s = Blank(20, 20);
    RasterLine(c, 0, 0, 5, 2, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}, {5, 2}}));

    s = Blank(20, 20);
    RasterLine(c, 8, 8, 8, 8, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{8, 8}}));
}

TEST(RasterLine, EndsPaintedEachPixelOnceAndSameBothWays)
{
    const int ends[][4] = {{0, 0, 37, 11}, {3, 40, 9, 2}, {60, 1, 2, 46}, {10, 10, 30, 20}, {5, 44, 63, 43}};
    for (const auto& e : ends) {
        SCOPED_TRACE(testing::Message() << e[0] << "," << e[1] << " " << e[2] << "," << e[3]);
        Surface a = Blank(64, 48), b = Blank(64, 48);
        Canvas ca = MakeCanvas(a), cb = MakeCanvas(b);
        RasterLine(ca, e[0], e[1], e[2], e[3], kInk, RasterOp::Xor);
        RasterLine(cb, e[2], e[3], e[0], e[1], kInk, RasterOp::Xor);
        const Cells cells = Painted(a);
        EXPECT_EQ(cells, Painted(b));
        EXPECT_TRUE(cells.count({e[0], e[1]}));
        EXPECT_TRUE(cells.count({e[2], e[3]}));
        EXPECT_EQ(int(cells.size()), std::max(std::abs(e[2] - e[0]), std::abs(e[3] - e[1])) + 1);
        EXPECT_TRUE(Connected(cells));
        // Drawing the reverse line by exclusive-or takes the whole line away.
        RasterLine(ca, e[2], e[3], e[0], e[1], kInk, RasterOp::Xor);
        EXPECT_TRUE(Painted(a).empty());
    }
}

TEST(RasterLine, FarEndsKeepTheExactSlope)
{
    // dx = 2^32 - 1 and dy = 1: the step to row 1 falls exactly at x = 0.
    Surface s = Blank(8, 3);
    Canvas c = MakeCanvas(s);
    RasterLine(c, INT_MIN, 0, INT_MAX, 1, kInk, RasterOp::Copy);
    Cells row1;
    for (int x = 0; x < 8; ++x) row1.insert({x, 1});
    EXPECT_EQ(Painted(s), row1);
    s = Blank(8, 3);
    RasterLine(c, INT_MAX, 1, INT_MIN, 0, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), row1);

    // The full diagonal of the int range passes through every (i, i).
    Surface d = Blank(16, 16);
    Canvas cd = MakeCanvas(d);
    RasterLine(cd, INT_MIN, INT_MIN, INT_MAX, INT_MAX, kInk, RasterOp::Copy);
    Cells diagonal;
    for (int i = 0; i < 16; ++i) diagonal.insert({i, i});
    EXPECT_EQ(Painted(d), diagonal);
}

// ---------------------------------------------------------------- flood fill

// Plain breadth-first reference.
Cells ReferenceFill(const Surface& s, const Clip& clip, int x, int y)
{
    const Pixel target = s.Get(x, y);
    Cells seen{{x, y}};
    std::vector<std::pair<int, int>> todo{{x, y}};
    while (!todo.empty()) {
        auto [px, py] = todo.back();
        todo.pop_back();
        const std::pair<int, int> next[] = {{px - 1, py}, {px + 1, py}, {px, py - 1}, {px, py + 1}};
        for (auto n : next)
            if (clip.Contains(n.first, n.second) && s.Get(n.first, n.second) == target && seen.insert(n).second)
                todo.push_back(n);
    }
    return seen;
}

TEST(RasterFloodFill, StopsAtBoundaryAndNotThroughDiagonals)
{
    Surface s = Blank(20, 20);
    Canvas c = MakeCanvas(s);
    RasterLine(c, 0, 10, 10, 0, kInk, RasterOp::Copy); // a diagonal wall
    RasterFloodFill(c, 0, 0, 0x00000077);
    const Cells filled = Painted(s);
    // Inside the wall: the 55 pixels with x + y < 10.
    int corner = 0;
    for (auto [x, y] : filled)
        if (s.Get(x, y) == 0x00000077u) {
            EXPECT_LT(x + y, 10);
            ++corner;
        }
    EXPECT_EQ(corner, 55);
}

TEST(RasterFloodFill, MatchesReferenceOnNoise)
{
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        Surface s = Blank(48, 40);
        for (Pixel& p : s.pixels) p = (random() % 100) < 45 ? 1 : 0;
        const Clip clip{int(random() % 8), int(random() % 8), 47 - int(random() % 8), 39 - int(random() % 8)};
        Canvas c = MakeCanvas(s, clip);
        const int x = clip.left + int(random() % 30), y = clip.top + int(random() % 20);
        Surface before = s;
        const Cells expected = ReferenceFill(s, clip, x, y);
        RasterFloodFill(c, x, y, 9);
        for (int py = 0; py < s.height; ++py)
            for (int px = 0; px < s.width; ++px) {
                const Pixel want = expected.count({px, py}) ? 9 : before.Get(px, py);
                ASSERT_EQ(s.Get(px, py), want) << px << "," << py << " round " << round;
            }
    }
}

TEST(RasterFloodFill, WholeScreenAndCombsNeedNoDeepStack)
{
    Surface s = Blank(640, 480);
    Canvas c = MakeCanvas(s);
    RasterFloodFill(c, 320, 240, kInk);
    EXPECT_EQ(Painted(s).size(), 640u * 480u);

    // Walls with alternate gaps at the bottom and top: one serpentine region
    // whose spans are one pixel wide.
    Surface comb = Blank(640, 480);
    Canvas cc = MakeCanvas(comb);
    for (int x = 1; x < 640; x += 2) {
        const bool gapBelow = x % 4 == 1;
        RasterLine(cc, x, gapBelow ? 0 : 1, x, gapBelow ? 478 : 479, 1, RasterOp::Copy);
    }
    RasterFloodFill(cc, 0, 0, 2);
    size_t filled = 0;
    for (Pixel p : comb.pixels) filled += p == 2;
    EXPECT_EQ(filled, 320u * 480u + 320u);
}

TEST(RasterFloodFill, SameColourOrOutsideIsNothing)
{
    Surface s = Blank(10, 10, 5);
    Canvas c = MakeCanvas(s, Clip{2, 2, 6, 6});
    RasterFloodFill(c, 3, 3, 5);
    RasterFloodFill(c, 0, 0, 7);
    RasterFloodFill(c, INT_MIN, INT_MAX, 7);
    EXPECT_TRUE(Painted(s, 5).empty());
}

// ---------------------------------------------------------------- ellipses

TEST(RasterEllipse, OutlineMeetsTheBoxAndIsSymmetric)
{
    for (int w = 1; w <= 24; ++w)
        for (int h = 1; h <= 24; ++h) {
            SCOPED_TRACE(testing::Message() << w << "x" << h);
            Surface s = Blank(30, 30);
            Canvas c = MakeCanvas(s);
            RasterEllipse(c, 2 + w - 1, 3 + h - 1, 2, 3, kInk, RasterOp::Xor);
            const Cells cells = Painted(s);
            const Box b = Bounds(cells);
            ASSERT_EQ(b.left, 2);
            ASSERT_EQ(b.right, 2 + w - 1);
            ASSERT_EQ(b.top, 3);
            ASSERT_EQ(b.bottom, 3 + h - 1);
            for (auto [x, y] : cells) {
                ASSERT_TRUE(cells.count({b.left + b.right - x, y}));
                ASSERT_TRUE(cells.count({x, b.top + b.bottom - y}));
            }
            ASSERT_TRUE(Connected(cells));
            if (w == 1 || h == 1) {
                ASSERT_EQ(int(cells.size()), std::max(w, h)); // a line
            }
            ExpectEachPixelOnce(
                [&](Canvas& k, RasterOp op) { RasterEllipse(k, 2, 3, 2 + w - 1, 3 + h - 1, kInk, op); }, 30, 30);
        }
}

TEST(RasterEllipse, OutlineIsClosedAndThin)
{
    for (int w = 5; w <= 40; w += 7)
        for (int h = 5; h <= 40; h += 5) {
            SCOPED_TRACE(testing::Message() << w << "x" << h);
            Surface s = Blank(44, 44);
            Canvas c = MakeCanvas(s);
            RasterEllipse(c, 1, 1, w, h, kInk, RasterOp::Copy);
            // No 2x2 block of outline pixels.
            for (int y = 0; y + 1 < 44; ++y)
                for (int x = 0; x + 1 < 44; ++x)
                    ASSERT_FALSE(s.Get(x, y) && s.Get(x + 1, y) && s.Get(x, y + 1) && s.Get(x + 1, y + 1));
            // Filling the centre never reaches the corner outside.
            RasterFloodFill(c, (1 + w) / 2, (1 + h) / 2, 3);
            ASSERT_EQ(s.Get(0, 0), 0u);
            ASSERT_EQ(s.Get((1 + w) / 2, (1 + h) / 2), 3u);
        }
}

TEST(RasterEllipse, CircleOfDiameterFive)
{
    Surface s = Blank(7, 7);
    Canvas c = MakeCanvas(s);
    RasterEllipse(c, 1, 1, 5, 5, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{2, 1}, {3, 1}, {4, 1}, {1, 2}, {5, 2}, {1, 3}, {5, 3}, {1, 4}, {5, 4},
                                 {2, 5}, {3, 5}, {4, 5}}));
}

// ---------------------------------------------------------------- curves

TEST(RasterCurve, ConnectedWithBothEndsAndEachPixelOnce)
{
    const int curves[][6] = {{1, 40, 30, -20, 60, 40}, {2, 2, 90, 20, 2, 44},  {5, 5, 60, 5, 20, 5},
                             {0, 0, 0, 0, 40, 40},     {10, 30, 10, 30, 10, 30}, {63, 0, 0, 47, 63, 47}};
    for (const auto& k : curves) {
        SCOPED_TRACE(testing::Message() << k[0] << "," << k[1] << " " << k[2] << "," << k[3] << " " << k[4]
                                        << "," << k[5]);
        Surface s = Blank(64, 48);
        Canvas c = MakeCanvas(s);
        RasterCurve(c, k[0], k[1], k[2], k[3], k[4], k[5], kInk, RasterOp::Copy);
        const Cells cells = Painted(s);
        EXPECT_TRUE(cells.count({k[0], k[1]}));
        EXPECT_TRUE(cells.count({k[4], k[5]}));
        EXPECT_TRUE(Connected(cells));
        ExpectEachPixelOnce([&](Canvas& cv, RasterOp op) {
            RasterCurve(cv, k[0], k[1], k[2], k[3], k[4], k[5], kInk, op);
        });
    }
}

TEST(RasterCurve, ControlOnTheChordIsTheLine)
{
    Surface a = Blank(64, 48), b = Blank(64, 48);
    Canvas ca = MakeCanvas(a), cb = MakeCanvas(b);
    RasterCurve(ca, 3, 4, 30, 21, 57, 38, kInk, RasterOp::Copy);
    RasterLine(cb, 3, 4, 57, 38, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(a), Painted(b));
}

TEST(RasterCurve, FoldedBackCurveKeepsItsTip)
{
    // From x = 1 out to x = 18.16 and back to x = 10, all on one row.
    Surface s = Blank(40, 10);
    Canvas c = MakeCanvas(s);
    RasterCurve(c, 1, 5, 30, 5, 10, 5, kInk, RasterOp::Xor);
    Cells row;
    for (int x = 1; x <= 18; ++x) row.insert({x, 5});
    EXPECT_EQ(Painted(s), row);
}

// ---------------------------------------------------------------- polygons

TEST(RasterPolygon, RectangleAndTriangleCoverage)
{
    Surface s = Blank(40, 40);
    Canvas c = MakeCanvas(s);
    const int rx[] = {10, 20, 20, 10}, ry[] = {10, 10, 20, 20};
    RasterPolygon(c, rx, ry, 4, kInk, RasterOp::Copy);
    Cells cells = Painted(s);
    EXPECT_EQ(cells.size(), 100u);
    EXPECT_EQ(Bounds(cells).left, 10);
    EXPECT_EQ(Bounds(cells).right, 19);

    // Pixel centres strictly inside, plus those on a left edge: 9 + 8 + ... + 1.
    s = Blank(40, 40);
    const int tx[] = {0, 10, 0}, ty[] = {0, 0, 10};
    RasterPolygon(c, tx, ty, 3, kInk, RasterOp::Copy);
    cells = Painted(s);
    EXPECT_EQ(cells.size(), 45u);
    for (auto [x, y] : cells) EXPECT_LE(x + y, 8);

    // The same with the vertices in the other order.
    Surface r = Blank(40, 40);
    Canvas cr = MakeCanvas(r);
    const int ux[] = {0, 0, 10}, uy[] = {10, 0, 0};
    RasterPolygon(cr, ux, uy, 3, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(r), cells);
}

TEST(RasterPolygon, SharedEdgesTileWithoutGapOrOverlap)
{
    // A square cut into triangles by a slanted line and a fan around an inner
    // point: by exclusive-or the pieces must give back the square exactly.
    Surface s = Blank(64, 48), whole = Blank(64, 48);
    Canvas c = MakeCanvas(s), cw = MakeCanvas(whole);
    const int px[] = {3, 57, 57, 3}, py[] = {2, 2, 45, 45};
    const int cx = 23, cy = 31;
    for (int i = 0; i < 4; ++i) {
        const int j = (i + 1) % 4;
        const int xs[] = {px[i], px[j], cx}, ys[] = {py[i], py[j], cy};
        RasterPolygon(c, xs, ys, 3, kInk, RasterOp::Xor);
    }
    RasterFillRect(cw, 3, 2, 56, 44, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), Painted(whole));
}

TEST(RasterPolygon, EvenOddAndDegenerateInputs)
{
    // A five-pointed star: its centre has two crossings each side, so it is out.
    Surface s = Blank(64, 64);
    Canvas c = MakeCanvas(s);
    const int sx[] = {32, 51, 1, 63, 13}, sy[] = {0, 60, 22, 22, 60};
    RasterPolygon(c, sx, sy, 5, kInk, RasterOp::Copy);
    EXPECT_EQ(s.Get(32, 34), 0u);
    EXPECT_EQ(s.Get(32, 10), kInk);

    // One or two vertices are a point or a line; collinear points fill nothing.
    s = Blank(64, 64);
    const int lx[] = {2, 9}, ly[] = {3, 3};
    RasterPolygon(c, lx, ly, 1, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s), (Cells{{2, 3}}));
    RasterPolygon(c, lx, ly, 2, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s).size(), 8u);
    s = Blank(64, 64);
    const int cx[] = {1, 5, 9}, cy[] = {1, 5, 9};
    RasterPolygon(c, cx, cy, 3, kInk, RasterOp::Copy);
    RasterPolygon(c, cx, cy, 0, kInk, RasterOp::Copy);
    RasterPolygon(c, nullptr, cy, 3, kInk, RasterOp::Copy);
    EXPECT_TRUE(Painted(s).empty());
}

TEST(RasterPolygon, FarVerticesAreExactAndCheap)
{
    Surface s = Blank(640, 480);
    Canvas c = MakeCanvas(s);
    const auto start = std::chrono::steady_clock::now();
    const int bx[] = {-100000, 100000, 0}, by[] = {-100000, -100000, 100000};
    RasterPolygon(c, bx, by, 3, kInk, RasterOp::Copy);
    EXPECT_EQ(Painted(s).size(), 640u * 480u);

    // Left of the int range's diagonal; centres on it are on a right edge, so out.
    Surface d = Blank(16, 16);
    Canvas cd = MakeCanvas(d);
    const int dx[] = {INT_MIN, INT_MAX, INT_MIN}, dy[] = {INT_MIN, INT_MAX, INT_MAX};
    RasterPolygon(cd, dx, dy, 3, kInk, RasterOp::Copy);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(d.Get(x, y) != 0, x < y) << x << "," << y;
    // Generous enough for a sanitizer build on a busy machine; unbounded work
    // over the vertices' span would take hours.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

// ---------------------------------------------------------------- rounded rectangles

TEST(RasterRoundRect, SquareCornersAreTheRectangleOutline)
{
    Surface s = Blank(20, 20);
    Canvas c = MakeCanvas(s);
    RasterRoundRect(c, 12, 9, 2, 3, 0, kInk, RasterOp::Xor);
    const Cells cells = Painted(s);
    EXPECT_EQ(cells.size(), 2u * 11u + 2u * 5u);
    for (auto [x, y] : cells) EXPECT_TRUE(x == 2 || x == 12 || y == 3 || y == 9);
}

TEST(RasterRoundRect, RoundedOutlineIsSymmetricAndPaintedOnce)
{
    for (int radius : {1, 3, 5, 8, 1000}) {
        for (int w : {4, 10, 17}) {
            for (int h : {3, 10, 16}) {
                SCOPED_TRACE(testing::Message() << "r " << radius << " " << w << "x" << h);
                Surface s = Blank(30, 30);
                Canvas c = MakeCanvas(s);
                RasterRoundRect(c, 3, 4, 3 + w - 1, 4 + h - 1, radius, kInk, RasterOp::Copy);
                const Cells cells = Painted(s);
                const Box b = Bounds(cells);
                EXPECT_EQ(b.left, 3);
                EXPECT_EQ(b.right, 3 + w - 1);
                EXPECT_EQ(b.top, 4);
                EXPECT_EQ(b.bottom, 4 + h - 1);
                EXPECT_TRUE(Connected(cells));
                for (auto [x, y] : cells) {
                    EXPECT_TRUE(cells.count({b.left + b.right - x, y}));
                    EXPECT_TRUE(cells.count({x, b.top + b.bottom - y}));
                }
                if (radius > 0) {
                    EXPECT_FALSE(cells.count({3, 4})); // the corner is cut
                }
                ExpectEachPixelOnce([&](Canvas& k, RasterOp op) {
                    RasterRoundRect(k, 3, 4, 3 + w - 1, 4 + h - 1, radius, kInk, op);
                });
            }
        }
    }
}

// ---------------------------------------------------------------- bitmaps

TEST(RasterBits, GlyphRowsMostSignificantBitFirst)
{
    const uint8_t glyph[8] = {0x81, 0x42, 0x00, 0xFF, 0x18, 0x00, 0x00, 0x01};
    Surface s = Blank(20, 20, kSentinel);
    Canvas c = MakeCanvas(s);
    RasterBits(c, 4, 5, glyph, 8, 8, 1, kInk);
    Cells expected;
    for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 8; ++i)
            if (glyph[j] & (0x80 >> i)) expected.insert({4 + i, 5 + j});
    EXPECT_EQ(Painted(s, kSentinel), expected);

    // Opaque: the whole cell is written, unset bits in the background.
    const Pixel background = 0x00000011;
    RasterBits(c, 4, 5, glyph, 8, 8, 1, kInk, &background);
    EXPECT_EQ(Painted(s, kSentinel).size(), 64u);
    EXPECT_EQ(s.Get(5, 5), background);
    EXPECT_EQ(s.Get(11, 5), kInk);
}

TEST(RasterBits, WideRowsAndClippedCells)
{
    // 12 pixels in 2 bytes per row; the unused low bits must not show.
    const uint8_t rows[2 * 3] = {0xFF, 0xFF, 0x80, 0x10, 0x00, 0x00};
    Surface s = Blank(30, 10);
    Canvas c = MakeCanvas(s);
    RasterBits(c, 1, 1, rows, 12, 3, 2, kInk);
    Cells expected;
    for (int i = 0; i < 12; ++i) expected.insert({1 + i, 1});
    expected.insert({1, 2});
    expected.insert({1 + 11, 2});
    EXPECT_EQ(Painted(s), expected);

    // Partly off the clip on every side.
    Surface t = Blank(10, 10, kSentinel);
    Canvas ct = MakeCanvas(t, Clip{2, 2, 7, 7});
    const uint8_t full[16] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    RasterBits(ct, -3, -4, full, 16, 16, 1, kInk); // 8 pixels per row at most
    const Cells cells = Painted(t, kSentinel);
    EXPECT_EQ(cells.size(), 3u * 6u); // columns 2..4, rows 2..7
    RasterBits(ct, INT_MIN, INT_MAX, full, 8, 8, 1, kInk);
    RasterBits(ct, INT_MAX, INT_MIN, full, 8, 8, 1, kInk);
    RasterBits(ct, 2, 2, full, 8, 8, 0, kInk);
    EXPECT_EQ(Painted(t, kSentinel), cells);
}

TEST(RasterImage, CopiesTheVisiblePart)
{
    std::vector<Pixel> image(5 * 4);
    for (size_t i = 0; i < image.size(); ++i) image[i] = Pixel(i + 1);
    Surface s = Blank(8, 8, kSentinel);
    Canvas c = MakeCanvas(s, Clip{1, 1, 6, 6});
    RasterImage(c, -1, 4, image.data(), 5, 4);
    // Columns 1..3 of the image land at 1..3 (clip), rows 0..2 at 4..6.
    EXPECT_EQ(Painted(s, kSentinel).size(), 3u * 3u);
    EXPECT_EQ(s.Get(1, 4), 3u);
    EXPECT_EQ(s.Get(3, 6), 5u + 2u * 5u);
    RasterImage(c, INT_MAX, INT_MAX, image.data(), 5, 4);
    RasterImage(c, INT_MIN, INT_MIN, image.data(), 5, 4);
    EXPECT_EQ(Painted(s, kSentinel).size(), 9u);
}

// ---------------------------------------------------------------- all figures

// Random figures, from small coordinates to the ends of the int range.
class RandomFigures {
public:
    explicit RandomFigures(unsigned seed) : random_(seed) {}

    int Coordinate()
    {
        switch (random_() % 6) {
        case 0: return INT_MIN + int(random_() % 3);
        case 1: return INT_MAX - int(random_() % 3);
        case 2: return int(random_() % 400001) - 200000;
        default: return int(random_() % 90) - 13;
        }
    }

    Figure Next()
    {
        int v[8];
        for (int& x : v) x = Coordinate();
        const Pixel colour = Pixel(random_() & 0xFFFFFF) | 1;
        switch (random_() % 8) {
        case 0: return [=](Canvas& c, RasterOp op) { RasterLine(c, v[0], v[1], v[2], v[3], colour, op); };
        case 1: return [=](Canvas& c, RasterOp op) { RasterFillRect(c, v[0], v[1], v[2], v[3], colour, op); };
        case 2: return [=](Canvas& c, RasterOp op) { RasterEllipse(c, v[0], v[1], v[2], v[3], colour, op); };
        case 3:
            return [=](Canvas& c, RasterOp op) { RasterCurve(c, v[0], v[1], v[2], v[3], v[4], v[5], colour, op); };
        case 4:
            return [=](Canvas& c, RasterOp op) {
                const int xs[] = {v[0], v[2], v[4], v[6]}, ys[] = {v[1], v[3], v[5], v[7]};
                RasterPolygon(c, xs, ys, 3 + int(unsigned(v[7]) % 2), colour, op);
            };
        case 5:
            return [=](Canvas& c, RasterOp op) { RasterRoundRect(c, v[0], v[1], v[2], v[3], v[4], colour, op); };
        // Small boxes, so that ellipses and round corners get drawn.
        case 6:
            return [=](Canvas& c, RasterOp op) {
                const int l = v[0] % 80 - 8, t = v[1] % 60 - 6;
                RasterEllipse(c, l, t, l + std::abs(v[2] % 50), t + std::abs(v[3] % 40), colour, op);
            };
        default:
            return [=](Canvas& c, RasterOp op) {
                const int l = v[0] % 80 - 8, t = v[1] % 60 - 6;
                RasterRoundRect(c, l, t, l + std::abs(v[2] % 50), t + std::abs(v[3] % 40), v[4] % 20, colour, op);
            };
        }
    }

private:
    std::mt19937 random_;
};

TEST(RasterFigures, ClipHidesButNeverMovesPixels)
{
    RandomFigures figures(2024);
    const Clip clip{10, 8, 50, 40};
    for (int i = 0; i < 600; ++i) {
        SCOPED_TRACE(i);
        const Figure figure = figures.Next();
        Surface whole = Blank(64, 48, kSentinel), part = Blank(64, 48, kSentinel);
        Canvas cw = MakeCanvas(whole), cp = MakeCanvas(part, clip);
        figure(cw, RasterOp::Copy);
        figure(cp, RasterOp::Copy);
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 64; ++x)
                ASSERT_EQ(part.Get(x, y), clip.Contains(x, y) ? whole.Get(x, y) : kSentinel) << x << "," << y;
    }
}

TEST(RasterFigures, ExclusiveOrTwiceRestores)
{
    RandomFigures figures(99);
    std::mt19937 noise(5);
    for (int i = 0; i < 600; ++i) {
        SCOPED_TRACE(i);
        const Figure figure = figures.Next();
        Surface s = Blank(64, 48);
        for (Pixel& p : s.pixels) p = Pixel(noise() & 0xFFFFFF);
        const Surface before = s;
        Canvas c = MakeCanvas(s, Clip{3, 2, 60, 44});
        figure(c, RasterOp::Xor);
        figure(c, RasterOp::Xor);
        ASSERT_EQ(s.pixels, before.pixels);
        ExpectEachPixelOnce(figure);
    }
}

} // namespace
