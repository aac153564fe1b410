// Bitmap files built byte by byte here: every depth and row order decodes to
// the right pixels, and headers that lie are refused without reading past the
// buffer.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

#include "tessil/bmp.h"

namespace {

using tessil::DecodeBmp;
using tessil::Image;
using tessil::Pixel;

using Bytes = std::vector<uint8_t>;

// Offsets of the fields the tests rewrite.
constexpr size_t kOffBits = 10, kInfoSize = 14, kWidth = 18, kHeight = 22, kPlanes = 26, kBitCount = 28,
                 kCompression = 30, kClrUsed = 46;

void Put16(Bytes& b, size_t at, uint32_t v)
{
    b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

struct BmpFile {
    int width = 1;
    int height = 1; // negative: top row first in the file
    int bits = 24;
    std::vector<Pixel> palette;         // 0x00RRGGBB
    std::vector<uint32_t> values;       // per pixel, top row first: index or 0x00RRGGBB
    uint32_t headerSize = 40;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
};

Bytes Encode(const BmpFile& f)
{
    const int rows = f.height < 0 ? -f.height : f.height;
    const size_t stride = (size_t(f.width) * size_t(f.bits) + 31) / 32 * 4;
    const bool masksAfter = f.compression == 3 && f.headerSize == 40;
    const size_t offBits = 14 + f.headerSize + (masksAfter ? 12 : 0) + 4 * f.palette.size();
    Bytes b(offBits + stride * size_t(rows), 0);
    b[0] = 'B', b[1] = 'M';
    Put32(b, 2, uint32_t(b.size()));
    Put32(b, kOffBits, uint32_t(offBits));
    Put32(b, kInfoSize, f.headerSize);
    Put32(b, kWidth, uint32_t(f.width));
    Put32(b, kHeight, uint32_t(f.height));
    Put16(b, kPlanes, 1);
    Put16(b, kBitCount, uint32_t(f.bits));
    Put32(b, kCompression, f.compression);
    Put32(b, kClrUsed, f.clrUsed);
    if (f.compression == 3) {
        Put32(b, 54, 0x00FF0000);
        Put32(b, 58, 0x0000FF00);
        Put32(b, 62, 0x000000FF);
    }
    size_t at = 14 + f.headerSize + (masksAfter ? 12 : 0);
    for (Pixel p : f.palette) {
        b[at] = uint8_t(p), b[at + 1] = uint8_t(p >> 8), b[at + 2] = uint8_t(p >> 16), b[at + 3] = 0x5A;
        at += 4;
    }
    for (int r = 0; r < rows; ++r) {
        const int imageRow = f.height < 0 ? r : rows - 1 - r;
        uint8_t* row = b.data() + offBits + size_t(r) * stride;
        for (int x = 0; x < f.width; ++x) {
            const uint32_t v = f.values[size_t(imageRow) * size_t(f.width) + size_t(x)];
            switch (f.bits) {
            case 1: row[x / 8] |= uint8_t((v & 1) << (7 - x % 8)); break;
            case 4: row[x / 2] |= uint8_t((v & 15) << (x % 2 ? 0 : 4)); break;
            case 8: row[x] = uint8_t(v); break;
            default: {
                uint8_t* p = row + size_t(x) * size_t(f.bits / 8);
                p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16);
                if (f.bits == 32) p[3] = 0xC3; // never part of the colour
            }
            }
        }
    }
    return b;
}

// A small random picture of the given depth, with the pixels it must decode to.
BmpFile Picture(int bits, int width, int height, std::mt19937& random, std::vector<Pixel>& expected)
{
    BmpFile f;
    f.width = width, f.height = height, f.bits = bits;
    if (bits <= 8)
        for (int i = 0; i < (1 << bits); ++i) f.palette.push_back(Pixel(random() & 0xFFFFFF));
    const int rows = height < 0 ? -height : height;
    expected.clear();
    for (int i = 0; i < width * rows; ++i) {
        const uint32_t v = bits <= 8 ? uint32_t(random() % (1u << bits)) : uint32_t(random() & 0xFFFFFF);
        f.values.push_back(v);
        expected.push_back(bits <= 8 ? f.palette[v] : v);
    }
    return f;
}

bool Decode(const Bytes& b, Image& out)
{
    return DecodeBmp(b.data(), b.size(), out);
}

TEST(DecodeBmp, EveryDepthAndRowOrder)
{
    std::mt19937 random(11);
    std::vector<Pixel> expected;
    for (int bits : {1, 4, 8, 24, 32})
        for (int width : {1, 2, 3, 5, 7, 9, 17, 33})
            for (int height : {1, 2, 5, -1, -4}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, " << width << " x " << height);
                const Bytes b = Encode(Picture(bits, width, height, random, expected));
                Image image;
                ASSERT_TRUE(Decode(b, image));
                EXPECT_EQ(image.width, width);
                EXPECT_EQ(image.height, height < 0 ? -height : height);
                EXPECT_EQ(image.pixels, expected);
            }
}

TEST(DecodeBmp, KnownPixelsOfASmallFile)
{
    // Two rows of three 24-bit pixels, bottom row first, rows padded to 12 bytes.
    const uint8_t file[] = {
        'B', 'M', 78, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,                          // file header
        40, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0, 0, 0, 0, 0, 0, // info header
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,                           //
        0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 9, 9, 9,                              // blue green red
        1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9,                                       // top row
    };
    Image image;
    ASSERT_TRUE(DecodeBmp(file, sizeof file, image));
    EXPECT_EQ(image.pixels, (std::vector<Pixel>{0x030201, 0x060504, 0x090807, 0x0000FF, 0x00FF00, 0xFF0000}));
}

TEST(DecodeBmp, LaterHeaderVersionsAndBitfields)
{
    std::mt19937 random(3);
    std::vector<Pixel> expected;
    for (uint32_t headerSize : {40u, 52u, 56u, 108u, 124u}) {
        SCOPED_TRACE(headerSize);
        BmpFile f = Picture(8, 6, 3, random, expected);
        f.headerSize = headerSize;
        Image image;
        ASSERT_TRUE(Decode(Encode(f), image));
        EXPECT_EQ(image.pixels, expected);

        BmpFile g = Picture(32, 5, -2, random, expected);
        g.headerSize = headerSize;
        g.compression = 3;
        Bytes b = Encode(g);
        ASSERT_TRUE(Decode(b, image));
        EXPECT_EQ(image.pixels, expected);
        Put32(b, 54, 0x000000FF); // red and blue masks swapped: not ours
        Put32(b, 62, 0x00FF0000);
        EXPECT_FALSE(Decode(b, image));
    }
}

TEST(DecodeBmp, ShortAndOverlongColourTables)
{
    // Two colours for 8 bits: indices past them are black.
    BmpFile f;
    f.width = 3, f.height = 1, f.bits = 8, f.clrUsed = 2;
    f.palette = {0x112233, 0x445566};
    f.values = {1, 0, 200};
    Image image;
    ASSERT_TRUE(Decode(Encode(f), image));
    EXPECT_EQ(image.pixels, (std::vector<Pixel>{0x445566, 0x112233, 0}));

    // More entries claimed than 8 bits can index: only 256 are read.
    std::mt19937 random(1);
    std::vector<Pixel> expected;
    BmpFile g = Picture(8, 4, 2, random, expected);
    g.clrUsed = 300;
    ASSERT_TRUE(Decode(Encode(g), image));
    EXPECT_EQ(image.pixels, expected);
    BmpFile h = Picture(1, 9, 2, random, expected);
    h.clrUsed = 0xFFFFFFFF;
    ASSERT_TRUE(Decode(Encode(h), image));
    EXPECT_EQ(image.pixels, expected);

    // A full table claimed (0) that the file does not hold.
    Bytes b = Encode(f);
    Put32(b, kClrUsed, 0);
    EXPECT_FALSE(Decode(b, image));
}

TEST(DecodeBmp, SizesAtTheLimit)
{
    BmpFile f;
    f.width = 16384, f.height = 1, f.bits = 1;
    f.palette = {0, 0xFFFFFF};
    f.values.assign(16384, 1);
    Image image;
    ASSERT_TRUE(Decode(Encode(f), image));
    EXPECT_EQ(image.pixels.size(), 16384u);
    f.width = 1, f.height = -16384;
    f.values.assign(16384, 0);
    ASSERT_TRUE(Decode(Encode(f), image));
    EXPECT_EQ(image.height, 16384);
}

TEST(DecodeBmp, TrailingBytesAndAWrongFileSizeAreHarmless)
{
    std::mt19937 random(8);
    std::vector<Pixel> expected;
    Bytes b = Encode(Picture(4, 5, 3, random, expected));
    Put32(b, 2, 7);
    b.insert(b.end(), 100, 0xEE);
    Image image;
    ASSERT_TRUE(Decode(b, image));
    EXPECT_EQ(image.pixels, expected);
}

TEST(DecodeBmp, LyingHeadersAreRefused)
{
    std::mt19937 random(5);
    std::vector<Pixel> expected;
    const Bytes good = Encode(Picture(8, 5, 3, random, expected));
    struct Lie {
        const char* what;
        size_t at;
        int width; // 2 or 4 bytes
        uint32_t value;
    } lies[] = {
        {"magic", 1, 2, 'N'},
        {"header size 12", kInfoSize, 4, 12},
        {"header size 39", kInfoSize, 4, 39},
        {"header size 64", kInfoSize, 4, 64},
        {"header size huge", kInfoSize, 4, 0xFFFFFFFF},
        {"width 0", kWidth, 4, 0},
        {"width -5", kWidth, 4, uint32_t(-5)},
        {"width 16385", kWidth, 4, 16385},
        {"width INT_MAX", kWidth, 4, uint32_t(INT_MAX)},
        {"width INT_MIN", kWidth, 4, uint32_t(INT_MIN)},
        {"height 0", kHeight, 4, 0},
        {"height 16385", kHeight, 4, 16385},
        {"height -16385", kHeight, 4, uint32_t(-16385)},
        {"height INT_MIN", kHeight, 4, uint32_t(INT_MIN)},
        {"height 4: rows missing", kHeight, 4, 4},
        {"planes 0", kPlanes, 2, 0},
        {"planes 2", kPlanes, 2, 2},
        {"bits 0", kBitCount, 2, 0},
        {"bits 2", kBitCount, 2, 2},
        {"bits 16", kBitCount, 2, 16},
        {"bits 48", kBitCount, 2, 48},
        {"bits 24: rows missing", kBitCount, 2, 24},
        {"run-length 8", kCompression, 4, 1},
        {"run-length 4", kCompression, 4, 2},
        {"bit fields at 8 bits", kCompression, 4, 3},
        {"jpeg", kCompression, 4, 4},
        {"offset inside the header", kOffBits, 4, 30},
        {"offset past the file", kOffBits, 4, uint32_t(good.size() + 1)},
        {"offset huge", kOffBits, 4, 0xFFFFFFFF},
        {"pixel data a byte short", kOffBits, 4, 14 + 40 + 1024 + 1},
    };
    for (const Lie& lie : lies) {
        SCOPED_TRACE(lie.what);
        Bytes b = good;
        if (lie.width == 2)
            Put16(b, lie.at, lie.value);
        else
            Put32(b, lie.at, lie.value);
        Image image;
        image.width = 9, image.height = 9;
        image.pixels.assign(81, 1);
        EXPECT_FALSE(Decode(b, image));
        EXPECT_EQ(image.width, 0);
        EXPECT_EQ(image.height, 0);
        EXPECT_TRUE(image.pixels.empty());
    }
}

TEST(DecodeBmp, EveryTruncationIsRefused)
{
    std::mt19937 random(6);
    std::vector<Pixel> expected;
    for (int bits : {1, 8, 24}) {
        const Bytes good = Encode(Picture(bits, 3, 2, random, expected));
        for (size_t n = 0; n < good.size(); ++n) {
            const Bytes cut(good.begin(), good.begin() + std::ptrdiff_t(n));
            Image image;
            ASSERT_FALSE(DecodeBmp(cut.data(), cut.size(), image)) << bits << " bits, " << n << " bytes";
        }
    }
    Image image;
    EXPECT_FALSE(DecodeBmp(nullptr, 100, image));
}

} // namespace
