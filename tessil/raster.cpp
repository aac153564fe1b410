// Integer rasterisation into a Surface. Every figure is computed in 64-bit
// arithmetic from the caller's int coordinates and walked only where it meets
// the clip, so any int input is safe and the work is bounded by the clip's
// size, not by how far off the surface a figure reaches.
//
// Invariants:
//   1. No pixel outside the effective clip (canvas clip ∩ surface) is touched.
//   2. Every figure that takes a RasterOp paints each of its pixels once, so
//      exclusive-or drawing the same figure twice restores the surface.
//   3. A figure's pixels do not depend on the clip: clipping only hides them.
#include "tessil/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>
#include <vector>

namespace tessil {

namespace {

// Ellipse and rounded-corner boxes larger than this (in pixels, per side)
// would overflow the 64-bit error terms of the outline walk.
constexpr int64_t kMaxArcSpan = int64_t(1) << 18;

// Exact floor((a * b + c) / d), d > 0, |a|, |b|, |c|, d < 2^62, when the result
// fits in 63 bits; `remainder` gets the non-negative rest. Coordinates far off
// the surface push a * b past 64 bits, so the slow path divides a 128-bit
// two's-complement value by long division.
int64_t FloorMulAddDiv(int64_t a, int64_t b, int64_t c, int64_t d, int64_t* remainder = nullptr)
{
    constexpr int64_t kSmall = int64_t(1) << 30;
    if (a > -kSmall && a < kSmall && b > -kSmall && b < kSmall) {
        const int64_t n = a * b + c;
        int64_t q = n / d, r = n % d;
        if (r < 0) {
            --q;
            r += d;
        }
        if (remainder) *remainder = r;
        return q;
    }
    const uint64_t ua = a < 0 ? 0 - uint64_t(a) : uint64_t(a);
    const uint64_t ub = b < 0 ? 0 - uint64_t(b) : uint64_t(b);
    const uint64_t a0 = ua & 0xFFFFFFFFu, a1 = ua >> 32, b0 = ub & 0xFFFFFFFFu, b1 = ub >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const uint64_t mid = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
    uint64_t lo = (p00 & 0xFFFFFFFFu) | (mid << 32);
    uint64_t hi = p11 + (p01 >> 32) + (p10 >> 32) + (mid >> 32);
    auto negate = [](uint64_t& h, uint64_t& l) {
        l = ~l + 1;
        h = ~h + (l == 0 ? 1 : 0);
    };
    if ((a < 0) != (b < 0)) negate(hi, lo);
    const uint64_t clo = uint64_t(c), chi = c < 0 ? ~uint64_t(0) : 0;
    const uint64_t sum = lo + clo;
    hi += chi + (sum < lo ? 1 : 0);
    lo = sum;
    const bool negative = (hi >> 63) != 0;
    if (negative) negate(hi, lo);

    const uint64_t ud = uint64_t(d);
    uint64_t q = 0, r = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const uint64_t next = bit >= 64 ? (hi >> (bit - 64)) & 1 : (lo >> bit) & 1;
        r = (r << 1) | next;
        if (r >= ud) {
            r -= ud;
            if (bit < 64) q |= uint64_t(1) << bit;
        }
    }
    int64_t quotient = int64_t(q), rest = int64_t(r);
    if (negative && rest != 0) {
        quotient = -quotient - 1;
        rest = d - rest;
    } else if (negative) {
        quotient = -quotient;
    }
    if (remainder) *remainder = rest;
    return quotient;
}

// The canvas clip limited to the surface once more: a canvas made by hand, or
// a surface resized after MakeCanvas, must not lead outside the pixels.
bool EffectiveClip(const Canvas& canvas, Clip& out)
{
    const Surface* s = canvas.surface;
    if (!s || s->width <= 0 || s->height <= 0 ||
        s->pixels.size() < size_t(s->width) * size_t(s->height))
        return false;
    out.left = std::max(canvas.clip.left, 0);
    out.top = std::max(canvas.clip.top, 0);
    out.right = std::min(canvas.clip.right, s->width - 1);
    out.bottom = std::min(canvas.clip.bottom, s->height - 1);
    return out.left <= out.right && out.top <= out.bottom;
}

bool InClip(const Clip& c, int64_t x, int64_t y)
{
    return x >= c.left && x <= c.right && y >= c.top && y <= c.bottom;
}

// Paints single pixels already known to lie in the clip.
struct Painter {
    Surface& surface;
    Pixel colour;
    RasterOp op;
    void operator()(int64_t x, int64_t y) const
    {
        Pixel& p = surface.Row(int(y))[x];
        p = op == RasterOp::Copy ? colour : p ^ colour;
    }
};

// Bresenham along the major axis a (|da| >= |db|), from the end with the
// smaller a, so that a line and its reverse are the same pixels. Pixel i is
// (a1 + i, b1 + s * floor((2 i db + da) / (2 da))); only the i whose a lies
// in [aLo, aHi] are walked, and of those only the ones whose b lies in
// [bLo, bHi] are emitted.
template <class Emit>
void WalkMajor(int64_t a1, int64_t b1, int64_t a2, int64_t b2, int64_t aLo, int64_t aHi, int64_t bLo,
               int64_t bHi, Emit&& emit)
{
    if (a1 > a2) {
        std::swap(a1, a2);
        std::swap(b1, b2);
    }
    const int64_t da = a2 - a1, db = b2 >= b1 ? b2 - b1 : b1 - b2;
    const int64_t step = b2 >= b1 ? 1 : -1;
    const int64_t i0 = std::max<int64_t>(0, aLo - a1), i1 = std::min(da, aHi - a1);
    if (i0 > i1) return;
    if (da == 0) {
        if (b1 >= bLo && b1 <= bHi) emit(a1, b1);
        return;
    }
    const int64_t twoDa = 2 * da, twoDb = 2 * db;
    int64_t r = 0;
    int64_t q = FloorMulAddDiv(i0, twoDb, da, twoDa, &r);
    for (int64_t i = i0; i <= i1; ++i) {
        const int64_t b = b1 + step * q;
        if (b >= bLo && b <= bHi)
            emit(a1 + i, b);
        else if (step > 0 ? b > bHi : b < bLo)
            return; // moving away from the clip for good
        r += twoDb;
        if (r >= twoDa) {
            r -= twoDa;
            ++q;
        }
    }
}

// The pixels of a line inside `clip`, both ends included.
template <class Emit>
void WalkLine(int64_t x1, int64_t y1, int64_t x2, int64_t y2, const Clip& clip, Emit&& emit)
{
    const int64_t dx = x2 >= x1 ? x2 - x1 : x1 - x2, dy = y2 >= y1 ? y2 - y1 : y1 - y2;
    if (dx >= dy)
        WalkMajor(x1, y1, x2, y2, clip.left, clip.right, clip.top, clip.bottom,
                  [&](int64_t x, int64_t y) { emit(x, y); });
    else
        WalkMajor(y1, x1, y2, x2, clip.top, clip.bottom, clip.left, clip.right,
                  [&](int64_t y, int64_t x) { emit(x, y); });
}

// A filled box, corners sorted and already limited to the clip.
void FillBox(Surface& s, int x1, int y1, int x2, int y2, Pixel colour, RasterOp op)
{
    const size_t n = size_t(x2 - x1) + 1;
    for (int y = y1; y <= y2; ++y) {
        Pixel* row = s.Row(y) + x1;
        if (op == RasterOp::Copy) {
            std::fill_n(row, n, colour);
        } else {
            for (size_t i = 0; i < n; ++i) row[i] ^= colour;
        }
    }
}

// A box given by any two corners, limited to the clip; false when nothing of
// it is visible.
bool ClipBox(const Clip& c, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int& l, int& t, int& r, int& b)
{
    const int64_t left = std::max<int64_t>(std::min(x1, x2), c.left);
    const int64_t right = std::min<int64_t>(std::max(x1, x2), c.right);
    const int64_t top = std::max<int64_t>(std::min(y1, y2), c.top);
    const int64_t bottom = std::min<int64_t>(std::max(y1, y2), c.bottom);
    if (left > right || top > bottom) return false;
    l = int(left), t = int(top), r = int(right), b = int(bottom);
    return true;
}

// The first quadrant of the ellipse u²h² + v²w² = w²h² in doubled pixel units
// (u and v move in steps of 2 and have the parity of w and h), walked from
// the middle of the top edge (u = w mod 2, v = h) to the middle of the side
// (u = w, v = h mod 2). Each step goes right, down or diagonally, whichever
// leaves the smallest |F|, so the path is a thin 8-connected line that
// reaches the box's edges exactly. w, h <= kMaxArcSpan keeps F in 64 bits.
template <class Emit>
void WalkQuadrant(int64_t w, int64_t h, Emit&& emit)
{
    const int64_t w2 = w * w, h2 = h * h, vEnd = h & 1;
    int64_t u = w & 1, v = h;
    int64_t f = u * u * h2;
    for (;;) {
        emit(u, v);
        const bool right = u + 2 <= w, down = v - 2 >= vEnd;
        if (!right && !down) return;
        const int64_t dRight = h2 * (4 * u + 4), dDown = -w2 * (4 * v - 4);
        const int64_t fRight = f + dRight, fDown = f + dDown, fDiag = f + dRight + dDown;
        int64_t best = INT64_MAX;
        int move = 0; // 1 right, 2 down, 3 diagonal
        if (right && down && std::llabs(fDiag) < best) best = std::llabs(fDiag), move = 3;
        if (right && std::llabs(fRight) < best) best = std::llabs(fRight), move = 1;
        if (down && std::llabs(fDown) < best) best = std::llabs(fDown), move = 2;
        if (move & 1) u += 2;
        if (move & 2) v -= 2;
        f = move == 1 ? fRight : move == 2 ? fDown : fDiag;
    }
}

} // namespace

Canvas MakeCanvas(Surface& surface)
{
    Canvas c;
    c.surface = &surface;
    c.clip = Clip{0, 0, surface.width - 1, surface.height - 1};
    return c;
}

Canvas MakeCanvas(Surface& surface, const Clip& clip)
{
    Canvas c;
    c.surface = &surface;
    c.clip.left = std::max(clip.left, 0);
    c.clip.top = std::max(clip.top, 0);
    c.clip.right = std::min(clip.right, surface.width - 1);
    c.clip.bottom = std::min(clip.bottom, surface.height - 1);
    return c;
}

void RasterPixel(Canvas& canvas, int x, int y, Pixel colour, RasterOp op)
{
    Clip c;
    if (EffectiveClip(canvas, c) && InClip(c, x, y)) Painter{*canvas.surface, colour, op}(x, y);
}

void RasterLine(Canvas& canvas, int x1, int y1, int x2, int y2, Pixel colour, RasterOp op)
{
    Clip c;
    if (!EffectiveClip(canvas, c)) return;
    WalkLine(x1, y1, x2, y2, c, Painter{*canvas.surface, colour, op});
}

void RasterFillRect(Canvas& canvas, int x1, int y1, int x2, int y2, Pixel colour, RasterOp op)
{
    Clip c;
    int l, t, r, b;
    if (!EffectiveClip(canvas, c) || !ClipBox(c, x1, y1, x2, y2, l, t, r, b)) return;
    FillBox(*canvas.surface, l, t, r, b, colour, op);
}

void RasterFloodFill(Canvas& canvas, int x, int y, Pixel colour)
{
    Clip c;
    if (!EffectiveClip(canvas, c) || !InClip(c, x, y)) return;
    Surface& s = *canvas.surface;
    const Pixel target = s.Get(x, y);
    if (target == colour) return;

    // Seeds are pixels of the target colour; filling a span pushes at most one
    // seed per run of the target colour above and below it, and every pixel is
    // filled once, so the stack never holds more than about twice the clip's
    // pixels.
    std::vector<std::pair<int, int>> seeds;
    seeds.emplace_back(x, y);
    while (!seeds.empty()) {
        const auto [sx, sy] = seeds.back();
        seeds.pop_back();
        Pixel* row = s.Row(sy);
        if (row[sx] != target) continue;
        int l = sx, r = sx;
        while (l > c.left && row[l - 1] == target) --l;
        while (r < c.right && row[r + 1] == target) ++r;
        std::fill(row + l, row + r + 1, colour);
        for (int ny : {sy - 1, sy + 1}) {
            if (ny < c.top || ny > c.bottom) continue;
            const Pixel* next = s.Row(ny);
            for (int i = l; i <= r; ++i) {
                if (next[i] != target) continue;
                seeds.emplace_back(i, ny);
                while (i < r && next[i + 1] == target) ++i;
            }
        }
    }
}

void RasterEllipse(Canvas& canvas, int left, int top, int right, int bottom, Pixel colour, RasterOp op)
{
    Clip c;
    if (!EffectiveClip(canvas, c)) return;
    const int64_t l = std::min(left, right), r = std::max(left, right);
    const int64_t t = std::min(top, bottom), b = std::max(top, bottom);
    const int64_t w = r - l, h = b - t;
    if (w > kMaxArcSpan || h > kMaxArcSpan) return;
    // Quick reject: nothing of the box is visible.
    if (r < c.left || l > c.right || b < c.top || t > c.bottom) return;
    const Painter paint{*canvas.surface, colour, op};
    const int64_t cx2 = l + r, cy2 = t + b; // doubled centre; same parity as w, h
    auto plot = [&](int64_t u2, int64_t v2) {
        const int64_t px = (cx2 + u2) / 2, py = (cy2 + v2) / 2;
        if (InClip(c, px, py)) paint(px, py);
    };
    // Mirror the quadrant; pixels on an axis of symmetry are painted once.
    WalkQuadrant(w, h, [&](int64_t u, int64_t v) {
        plot(u, v);
        if (u != 0) plot(-u, v);
        if (v != 0) plot(u, -v);
        if (u != 0 && v != 0) plot(-u, -v);
    });
}

void RasterCurve(Canvas& canvas, int x0, int y0, int x1, int y1, int x2, int y2, Pixel colour, RasterOp op)
{
    Clip c;
    if (!EffectiveClip(canvas, c)) return;
    // The path is traced one pixel beyond the clip so that thinning at the
    // clip's edge sees the same neighbours as it would without the clip.
    const Clip wide{c.left - 1, c.top - 1, c.right + 1, c.bottom + 1};

    // Flat enough pieces by de Casteljau subdivision, in path order; a piece
    // whose control triangle lies off the wide clip is replaced by its chord,
    // which lies inside that triangle and so is off the clip as well.
    struct Point {
        int64_t x, y;
    };
    struct Piece {
        double x0, y0, x1, y1, x2, y2; // from (x0, y0) to (x2, y2)
        int depth;
    };
    std::vector<Point> ends{Point{x0, y0}};
    std::vector<Piece> pending{{double(x0), double(y0), double(x1), double(y1), double(x2), double(y2), 0}};
    while (!pending.empty()) {
        const Piece p = pending.back();
        pending.pop_back();
        const double minX = std::min({p.x0, p.x1, p.x2}), maxX = std::max({p.x0, p.x1, p.x2});
        const double minY = std::min({p.y0, p.y1, p.y2}), maxY = std::max({p.y0, p.y1, p.y2});
        const bool off = maxX < wide.left - 1.0 || minX > wide.right + 1.0 || maxY < wide.top - 1.0 ||
                         minY > wide.bottom + 1.0;
        const double ex = p.x0 - 2 * p.x1 + p.x2, ey = p.y0 - 2 * p.y1 + p.y2;
        const bool flat = ex * ex + ey * ey <= 1.0; // within 1/4 pixel of its chord
        if (off || flat || p.depth >= 48) {
            ends.push_back(Point{int64_t(std::floor(p.x2 + 0.5)), int64_t(std::floor(p.y2 + 0.5))});
            continue;
        }
        const double ax = (p.x0 + p.x1) / 2, ay = (p.y0 + p.y1) / 2;
        const double bx = (p.x1 + p.x2) / 2, by = (p.y1 + p.y2) / 2;
        const double mx = (ax + bx) / 2, my = (ay + by) / 2;
        pending.push_back({mx, my, bx, by, p.x2, p.y2, p.depth + 1}); // second half, popped last
        pending.push_back({p.x0, p.y0, ax, ay, mx, my, p.depth + 1});
    }

    // Trace the chords in path order, dropping repeated pixels and the inner
    // pixel of every L-shaped corner, so the line stays one pixel thin.
    std::vector<Point> path, chord;
    auto append = [&](Point q) {
        if (!path.empty() && path.back().x == q.x && path.back().y == q.y) return;
        if (path.size() >= 2) {
            const Point& before = path[path.size() - 2];
            // Not when the path turns back on itself: the tip is a real pixel.
            if (std::max(std::llabs(before.x - q.x), std::llabs(before.y - q.y)) == 1) path.pop_back();
        }
        path.push_back(q);
    };
    for (size_t i = 0; i + 1 < ends.size(); ++i) {
        const Point a = ends[i], b = ends[i + 1];
        chord.clear();
        WalkLine(a.x, a.y, b.x, b.y, wide, [&](int64_t x, int64_t y) { chord.push_back(Point{x, y}); });
        // The walk runs along increasing major axis; turn it to run from a.
        if (!chord.empty()) {
            const Point& first = chord.front();
            const int64_t toFirst = std::max(std::llabs(first.x - a.x), std::llabs(first.y - a.y));
            const Point& last = chord.back();
            const int64_t toLast = std::max(std::llabs(last.x - a.x), std::llabs(last.y - a.y));
            if (toLast < toFirst) std::reverse(chord.begin(), chord.end());
        }
        for (const Point& q : chord) append(q);
    }

    // A curve can double back over its own pixels; paint each one once.
    Surface& s = *canvas.surface;
    std::vector<size_t> cells;
    cells.reserve(path.size());
    for (const Point& q : path)
        if (InClip(c, q.x, q.y)) cells.push_back(size_t(q.y) * size_t(s.width) + size_t(q.x));
    std::sort(cells.begin(), cells.end());
    cells.erase(std::unique(cells.begin(), cells.end()), cells.end());
    for (size_t i : cells) s.pixels[i] = op == RasterOp::Copy ? colour : s.pixels[i] ^ colour;
}

void RasterPolygon(Canvas& canvas, const int* xs, const int* ys, int count, Pixel colour, RasterOp op)
{
    Clip c;
    if (!xs || !ys || count <= 0 || !EffectiveClip(canvas, c)) return;
    if (count < 3) {
        RasterLine(canvas, xs[0], ys[0], xs[count - 1], ys[count - 1], colour, op);
        return;
    }

    // Edges top end first; horizontal edges never cross a pixel-centre row.
    struct Edge {
        int64_t x, y, dx, dy; // top end, then the vector to the bottom end (dy > 0)
    };
    std::vector<Edge> edges;
    int64_t minY = INT64_MAX, maxY = INT64_MIN;
    for (int i = 0; i < count; ++i) {
        const int j = i + 1 == count ? 0 : i + 1;
        int64_t ax = xs[i], ay = ys[i], bx = xs[j], by = ys[j];
        if (ay == by) continue;
        if (ay > by) {
            std::swap(ax, bx);
            std::swap(ay, by);
        }
        edges.push_back(Edge{ax, ay, bx - ax, by - ay});
        minY = std::min(minY, ay);
        maxY = std::max(maxY, by);
    }
    if (edges.empty()) return;

    // Row py samples y = py + 1/2, never a vertex's y, so each edge with
    // y <= py < y + dy crosses it once. A pixel is inside when its centre has
    // an odd number of crossings at or left of it: with k = ceil(x - 1/2) for
    // each crossing x, the sorted k pair up into half-open spans [k0, k1).
    const int64_t rowFirst = std::max<int64_t>(minY, c.top), rowLast = std::min<int64_t>(maxY - 1, c.bottom);
    std::vector<int64_t> ks;
    Surface& s = *canvas.surface;
    for (int64_t py = rowFirst; py <= rowLast; ++py) {
        ks.clear();
        for (const Edge& e : edges) {
            if (py < e.y || py >= e.y + e.dy) continue;
            // x - 1/2 = e.x + (dx t - dy) / (2 dy) with t = 2 (py - e.y) + 1,
            // so k = e.x - floor((dy - dx t) / (2 dy)).
            const int64_t t = 2 * (py - e.y) + 1;
            const int64_t k = e.x - FloorMulAddDiv(-e.dx, t, e.dy, 2 * e.dy);
            ks.push_back(std::clamp<int64_t>(k, int64_t(c.left), int64_t(c.right) + 1));
        }
        std::sort(ks.begin(), ks.end());
        for (size_t i = 0; i + 1 < ks.size(); i += 2) {
            if (ks[i] < ks[i + 1])
                FillBox(s, int(ks[i]), int(py), int(ks[i + 1] - 1), int(py), colour, op);
        }
    }
}

void RasterRoundRect(Canvas& canvas, int left, int top, int right, int bottom, int radius, Pixel colour,
                     RasterOp op)
{
    Clip c;
    if (!EffectiveClip(canvas, c)) return;
    const int64_t l = std::min(left, right), r = std::max(left, right);
    const int64_t t = std::min(top, bottom), b = std::max(top, bottom);
    if (l == r || t == b) {
        RasterLine(canvas, int(l), int(t), int(r), int(b), colour, op);
        return;
    }
    const Painter paint{*canvas.surface, colour, op};
    const int64_t rad = std::clamp<int64_t>(radius, 0, std::min({(r - l) / 2, (b - t) / 2, kMaxArcSpan / 2}));
    const int64_t cl = l + rad, cr = r - rad, ct = t + rad, cb = b - rad; // the corner arcs' centres

    // Straight parts between the arcs; opposite sides are distinct here.
    auto span = [&](int64_t x1, int64_t y1, int64_t x2, int64_t y2) {
        int sl, st, sr, sb;
        if (x1 <= x2 && y1 <= y2 && ClipBox(c, x1, y1, x2, y2, sl, st, sr, sb))
            FillBox(*canvas.surface, sl, st, sr, sb, colour, op);
    };
    span(cl + 1, t, cr - 1, t);
    span(cl + 1, b, cr - 1, b);
    span(l, ct + 1, l, cb - 1);
    span(r, ct + 1, r, cb - 1);

    auto plot = [&](int64_t x, int64_t y) {
        if (InClip(c, x, y)) paint(x, y);
    };
    // Quarter circles of the 2r box; where the arcs of two corners meet (a side
    // exactly 2r long) their shared pixel is painted once.
    WalkQuadrant(2 * rad, 2 * rad, [&](int64_t u, int64_t v) {
        const int64_t du = u / 2, dv = v / 2;
        const bool oneColumn = cl == cr && du == 0, oneRow = ct == cb && dv == 0;
        plot(cr + du, ct - dv);
        if (!oneColumn) plot(cl - du, ct - dv);
        if (!oneRow) plot(cr + du, cb + dv);
        if (!oneRow && !oneColumn) plot(cl - du, cb + dv);
    });
}

void RasterBits(Canvas& canvas, int x, int y, const uint8_t* rows, int width, int height, int bytesPerRow,
                Pixel colour, const Pixel* background)
{
    Clip c;
    if (!rows || width <= 0 || height <= 0 || bytesPerRow <= 0 || !EffectiveClip(canvas, c)) return;
    const int64_t usable = std::min<int64_t>(width, int64_t(bytesPerRow) * 8);
    // Visible part in image coordinates: columns [i0, i1], rows [j0, j1].
    const int64_t i0 = std::max<int64_t>(0, int64_t(c.left) - x);
    const int64_t i1 = std::min<int64_t>(usable - 1, int64_t(c.right) - x);
    const int64_t j0 = std::max<int64_t>(0, int64_t(c.top) - y);
    const int64_t j1 = std::min<int64_t>(int64_t(height) - 1, int64_t(c.bottom) - y);
    if (i0 > i1 || j0 > j1) return;
    Surface& s = *canvas.surface;
    const int first = int(i0), last = int(i1);
    for (int64_t j = j0; j <= j1; ++j) {
        const uint8_t* src = rows + size_t(j) * size_t(bytesPerRow);
        Pixel* dst = s.Row(int(y + j)) + (x + i0); // image column `first`
        if (background) {
            const Pixel bg = *background;
            for (int i = first; i <= last; ++i, ++dst) *dst = (src[i >> 3] & (0x80 >> (i & 7))) ? colour : bg;
        } else {
            for (int i = first; i <= last; ++i, ++dst)
                if (src[i >> 3] & (0x80 >> (i & 7))) *dst = colour;
        }
    }
}

void RasterImage(Canvas& canvas, int x, int y, const Pixel* pixels, int width, int height)
{
    Clip c;
    if (!pixels || width <= 0 || height <= 0 || !EffectiveClip(canvas, c)) return;
    const int64_t i0 = std::max<int64_t>(0, int64_t(c.left) - x);
    const int64_t i1 = std::min<int64_t>(int64_t(width) - 1, int64_t(c.right) - x);
    const int64_t j0 = std::max<int64_t>(0, int64_t(c.top) - y);
    const int64_t j1 = std::min<int64_t>(int64_t(height) - 1, int64_t(c.bottom) - y);
    if (i0 > i1 || j0 > j1) return;
    Surface& s = *canvas.surface;
    const size_t n = size_t(i1 - i0) + 1;
    for (int64_t j = j0; j <= j1; ++j) {
        const Pixel* src = pixels + size_t(j) * size_t(width) + size_t(i0);
        std::copy_n(src, n, s.Row(int(y + j)) + (x + i0));
    }
}

} // namespace tessil
