// Drawing commands, pixel by pixel, grouped by figure.
#include "tessil/tessil_fixture.h"

#include <fstream>

namespace tessil_test {
namespace {

class DrawTest : public TessilTest {};

// Screen units that convert to exactly pixel x (y) with the rounding term.
int Ux(int x) { return x ? (x * 10000 - 9000 + 638) / 639 : 0; }
int Uy(int y) { return y ? (y * 10000 - 9000 + 478) / 479 : 0; }

std::vector<uint8_t> Rect(uint8_t op, uint8_t colour, int x1, int y1, int x2, int y2)
{
    std::vector<uint8_t> c = {op, colour};
    Put(c, Ux(x1)), Put(c, Uy(y1)), Put(c, Ux(x2)), Put(c, Uy(y2));
    return c;
}

TEST_F(DrawTest, UnitHelpersHitExactPixels)
{
    for (int x : {0, 1, 10, 100, 320, 638, 639})
        ASSERT_EQ(UnitsToX(Ux(x)), x);
    for (int y : {0, 1, 10, 240, 479})
        ASSERT_EQ(UnitsToY(Uy(y)), y);
}

TEST_F(DrawTest, FilledRectangles)
{
    Run(Rect(170, 4, 10, 10, 10, 10));
    EXPECT_EQ(CountAll(4), 1);
    EXPECT_EQ(At(10, 10), Colour(4));

    Run(Rect(170, 5, 30, 20, 20, 25)); // corners in either order, edges included
    EXPECT_EQ(Count(5, 20, 20, 30, 25), 11 * 6);
    EXPECT_EQ(CountAll(5), 66);

    // 188 combines by exclusive-or: twice leaves the screen as it was.
    std::vector<uint8_t> x = {188, 7, 1};
    Put(x, Ux(0)), Put(x, Uy(0)), Put(x, Ux(100)), Put(x, Uy(100));
    Run(x);
    EXPECT_EQ(At(10, 10), Pixel(Colour(4) ^ Colour(7)));
    Run(x);
    EXPECT_EQ(At(10, 10), Colour(4));
    EXPECT_EQ(At(50, 50), Colour(0));
    EXPECT_EQ(draw.forcedMode, 0);

    std::vector<uint8_t> skipped = {185, 0, 0};
    Put(skipped, 0), Put(skipped, 0), Put(skipped, 10000), Put(skipped, 10000);
    Run(skipped);
    EXPECT_EQ(CountAll(4), 1);
}

TEST_F(DrawTest, FramesOfThicknessThree)
{
    // 189: three nested lines on every side, all in b[1].
    std::vector<uint8_t> flat = Rect(189, 4, 100, 100, 140, 130);
    int u3 = 0; // the thickness converts like a width, with the rounding term
    while (UnitsToWidth(u3) != 3)
        ++u3;
    Put(flat, u3);
    Run(flat);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(At(120, 100 + i), Colour(4));
        EXPECT_EQ(At(100 + i, 115), Colour(4));
        EXPECT_EQ(At(140 - i, 115), Colour(4));
        EXPECT_EQ(At(120, 130 - i), Colour(4));
    }
    EXPECT_EQ(At(120, 103), Colour(0));
    EXPECT_EQ(At(103, 115), Colour(0));
    EXPECT_EQ(Count(4, 100, 100, 140, 130), 41 * 31 - 35 * 25);

    // 191 (sunken): left and top in black, right and bottom in b[1].
    std::vector<uint8_t> sunken = Rect(191, 5, 100, 100, 140, 130);
    Put(sunken, u3);
    Run(sunken);
    EXPECT_EQ(At(120, 101), Colour(0));
    EXPECT_EQ(At(101, 115), Colour(0));
    EXPECT_EQ(At(139, 115), Colour(5));
    EXPECT_EQ(At(120, 129), Colour(5));
    EXPECT_EQ(At(140, 100), Colour(5)); // the dark edges are drawn last

    // 190 (raised): light b[1] at top and left, black at right and bottom.
    std::vector<uint8_t> raised = Rect(190, 6, 200, 200, 220, 220);
    Put(raised, 0); // thickness 0 is still one pixel
    Run(raised);
    EXPECT_EQ(At(210, 200), Colour(6));
    EXPECT_EQ(At(200, 210), Colour(6));
    EXPECT_EQ(At(220, 210), Colour(0));
    EXPECT_EQ(At(201, 201), Colour(0));
}

TEST_F(DrawTest, ShadowFrameBandsPlacement)
{
    std::vector<uint8_t> frame = Rect(192, 4, 100, 100, 140, 130);
    Put(frame, 0);
    Run(frame);
    Run(Rect(170, 3, 0, 0, 639, 479));
    Run(frame); // on white, the black band shows: right and bottom, shifted by t = 1
    EXPECT_EQ(At(141, 115), Colour(0));
    EXPECT_EQ(At(120, 131), Colour(0));
    EXPECT_EQ(At(141, 100), Colour(3));
    EXPECT_EQ(At(99, 115), Colour(3));
    frame[0] = 193;
    Run(frame);
    EXPECT_EQ(At(99, 115), Colour(0));
    EXPECT_EQ(At(120, 99), Colour(0));
}

TEST_F(DrawTest, PolylinesSolidAndDashed)
{
    // Five points on one row, 10 pixels apart: 135 draws segments 1 and 3.
    std::vector<uint8_t> dashed = {135, 4, 5};
    for (int i = 0; i < 5; ++i)
        Put(dashed, Ux(100 + 10 * i)), Put(dashed, Uy(50));
    Run(dashed);
    EXPECT_EQ(Count(4, 100, 50, 110, 50), 11);
    EXPECT_EQ(Count(4, 111, 50, 119, 50), 0);
    EXPECT_EQ(Count(4, 120, 50, 130, 50), 11);
    EXPECT_EQ(Count(4, 131, 50, 140, 50), 0);

    std::vector<uint8_t> solid = dashed;
    solid[0] = 131;
    solid[1] = 5;
    Run(solid);
    EXPECT_EQ(Count(5, 100, 50, 140, 50), 41);

    // Exclusive-or: the joints are painted once, so nothing is left after two runs.
    draw.forcedMode = kForcedXor;
    std::vector<uint8_t> zigzag = {131, 6, 3};
    Put(zigzag, Ux(200)), Put(zigzag, Uy(200)), Put(zigzag, Ux(230)), Put(zigzag, Uy(210));
    Put(zigzag, Ux(240)), Put(zigzag, Uy(260));
    Run(zigzag);
    EXPECT_GT(CountAll(6), 50);
    Run(zigzag);
    EXPECT_EQ(CountAll(6), 0);
}

TEST_F(DrawTest, EllipsesAndFloodFill)
{
    std::vector<uint8_t> e = {132, 4};
    Put(e, Ux(300)), Put(e, Uy(200)), Put(e, Ux(340)), Put(e, Uy(200));
    Run(e);
    // r = 20: the box runs from y 180 to 220, x 300 to 340.
    EXPECT_EQ(At(300, 200), Colour(4));
    EXPECT_EQ(At(340, 200), Colour(4));
    EXPECT_EQ(At(320, 180), Colour(4));
    EXPECT_EQ(At(320, 220), Colour(4));
    EXPECT_EQ(Count(4, 0, 0, 639, 179) + Count(4, 0, 221, 639, 479), 0);

    // A flood fill from the centre fills the inside and stops at the outline.
    std::vector<uint8_t> fill = {172, 5};
    Put(fill, Ux(320)), Put(fill, Uy(200));
    Run(fill);
    EXPECT_EQ(At(320, 200), Colour(5));
    EXPECT_EQ(At(301, 200), Colour(5));
    EXPECT_EQ(At(10, 10), Colour(0));
    EXPECT_EQ(At(300, 200), Colour(4));

    // 133: the height is the vertical distance from P1 to the y of b[12..13].
    std::vector<uint8_t> h = {133, 6};
    Put(h, Ux(100)), Put(h, Uy(400)), Put(h, Ux(140)), Put(h, Uy(400)), Put(h, 0), Put(h, Uy(390));
    Run(h);
    EXPECT_EQ(At(120, 390), Colour(6));
    EXPECT_EQ(At(120, 410), Colour(6));
    EXPECT_EQ(Count(6, 0, 0, 639, 389), 0);
}

TEST_F(DrawTest, PolygonImageAndCurve)
{
    std::vector<uint8_t> poly = {215, 0, 0, 1, 4};
    for (auto [x, y] : {std::pair{10, 300}, {19, 300}, {19, 309}, {10, 309}})
        Put(poly, Ux(x)), Put(poly, Uy(y));
    Put(poly, 7); // the colour, after the points
    Run(poly);
    EXPECT_GE(Count(7, 10, 300, 19, 309), 81);
    EXPECT_EQ(Count(7, 0, 0, 639, 299), 0);

    // 130: two rows of a 10-pixel image; the command claims 3 rows but its data holds 2.
    std::vector<uint8_t> image = {130, 4, 0, 4};
    Put(image, Ux(50)), Put(image, Uy(60)), Put(image, 10), Put(image, 3);
    image.insert(image.end(), {0xFF, 0xC0, 0x80, 0x40});
    Run(image);
    EXPECT_EQ(Count(4, 50, 60, 59, 60), 10);
    EXPECT_EQ(At(50, 61), Colour(4));
    EXPECT_EQ(At(59, 61), Colour(4));
    EXPECT_EQ(Count(4, 50, 62, 59, 62), 0);

    std::vector<uint8_t> curve = {134, 5};
    Put(curve, Ux(400)), Put(curve, Uy(400)), Put(curve, Ux(500)), Put(curve, Uy(400));
    Put(curve, Ux(450)), Put(curve, Uy(300));
    Run(curve);
    EXPECT_EQ(At(400, 400), Colour(5));
    EXPECT_EQ(At(500, 400), Colour(5));
    EXPECT_GT(Count(5, 440, 340, 460, 360), 0); // the top of the arc lies near y 350
    EXPECT_EQ(Count(5, 0, 0, 639, 330), 0);
}

TEST_F(DrawTest, TextFieldsWithTheEightPixelFont)
{
    std::vector<uint8_t> field = {152, 0x80 | 4, 3};
    Put(field, Ux(16)), Put(field, Uy(8));
    field.insert(field.end(), {'A', 'x', 'A'});
    draw.colourParameter = 5; // opaque background colour
    Run(field);
    // 'A' is the top row and left column; 'x' is blank in the test font.
    EXPECT_EQ(Count(4, 16, 8, 23, 8), 8);
    EXPECT_EQ(Count(4, 16, 8, 16, 15), 8);
    EXPECT_EQ(Count(5, 24, 8, 31, 15), 64); // the blank cell is filled opaque
    EXPECT_EQ(Count(4, 32, 8, 39, 15), 15);
    EXPECT_EQ(Count(5, 16, 8, 39, 15), 3 * 64 - 30);

    Run(Rect(170, 0, 0, 0, 639, 479));
    draw.textBackground = 1;
    Run(field);
    EXPECT_EQ(CountAll(5), 0);
    EXPECT_EQ(CountAll(4), 30);
}

// Each character of a 151 command is centred in its cell; capitals move the
// next character 2 pixels further. Opaque boxes of equal-width glyphs show
// where each character was placed, with any font.
TEST_F(DrawTest, TextCommandAdvancesAfterCapitals)
{
    Run(Rect(170, 6, 0, 0, 200, 100)); // the colour current before 151 is the background
    std::vector<uint8_t> text = {151, 3, 3};
    Put(text, 0), Put(text, Uy(40));
    text.insert(text.end(), {'A', 'A', 'A'});
    Run(text);
    // Find the left edge of each opaque box along one row inside them.
    int row = -1;
    for (int y = 30; y < 70 && row < 0; ++y)
        if (At(1, y) == Colour(6) && Count(6, 0, y, 60, y) < 61)
            row = y;
    std::vector<int> starts;
    bool inside = false;
    for (int x = 0; x < 60 && row >= 0; ++x) {
        bool box = At(x, row) != Colour(6);
        if (box && !inside)
            starts.push_back(x);
        inside = box;
    }
    if (starts.size() == 3) {
        EXPECT_EQ(starts[1] - starts[0], 8 + 2);
        EXPECT_EQ(starts[2] - starts[0], 2 * 8 + 4);
    } else {
        // Boxes may touch; then the glyphs' own pixels tell the advance.
        ADD_FAILURE() << "expected three separate boxes on row " << row << ", found " << starts.size();
    }
}

TEST_F(DrawTest, ViewportScalesAndClips)
{
    std::vector<uint8_t> list = {186, 0};
    Put(list, 5000), Put(list, 5000), Put(list, 10000), Put(list, 10000);
    std::vector<uint8_t> fill = {170, 4, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10};
    list.insert(list.end(), fill.begin(), fill.end());
    list.push_back(187);
    Run(list);
    EXPECT_EQ(At(319, 239), Colour(0));
    EXPECT_EQ(At(320, 240), Colour(4));
    EXPECT_EQ(At(639, 479), Colour(4));
    EXPECT_EQ(screen.x0, 0);
    EXPECT_EQ(screen.scaleRight, 639);
}

class PictureTest : public DrawTest {
protected:
    std::vector<uint8_t> Picture(const std::string& name, uint8_t record)
    {
        std::vector<uint8_t> c = {234, 3};
        Put(c, Ux(200)), Put(c, Uy(200)), Put(c, Ux(300)), Put(c, Uy(300));
        c.insert(c.end(), {0, 0, record, uint8_t(name.size())});
        c.insert(c.end(), name.begin(), name.end());
        return c;
    }
};

TEST_F(PictureTest, MissingBitmapSaysSo)
{
    Run(Picture("nothere.bmp", 0));
    // The notice is drawn at (100, 100) in fixed font B on black: something
    // white appears right of and below that point.
    EXPECT_GT(Count(3, 100, 100, 300, 130), 10);
    EXPECT_EQ(Count(3, 0, 0, 99, 99), 0);
}

TEST_F(PictureTest, BitmapIsCopiedToTheCornerAndClipped)
{
    // A 24-bit bottom-up 2 x 2 bitmap: bottom row blue, red; top row green, white.
    std::vector<uint8_t> bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,
                                1, 0, 24, 0, 0, 0, 0, 0, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                255, 0, 0, 0, 0, 255, 0, 0, 0, 255, 0, 255, 255, 255, 0, 0};
    WriteWholeFile(folder.path() / "pic.bmp", std::string(bmp.begin(), bmp.end()));
    Run(Picture("pic.bmp", 0));
    EXPECT_EQ(At(200, 201), MakePixel(0, 0, 255));
    EXPECT_EQ(At(201, 201), MakePixel(255, 0, 0));
    EXPECT_EQ(At(200, 200), MakePixel(0, 255, 0));
    EXPECT_EQ(At(201, 200), MakePixel(255, 255, 255));
    EXPECT_EQ(Count(3, 100, 100, 300, 130), 0);
}

TEST_F(PictureTest, ScreenRecordIsScaledIntoTheRectangle)
{
    std::vector<uint8_t> book(3200, 255);
    // The record fills its whole screen, draws text (passed over in a
    // picture) and clears the screen (not while a picture is drawn).
    uint8_t r[] = {129, 170, 4, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10, 151, 3, 1, 0, 0, 0, 0, 'A', 178, 4, 4};
    std::memcpy(book.data(), r, sizeof r);
    std::ofstream(folder.native("pics.plt"), std::ios::binary)
        .write(reinterpret_cast<const char*>(book.data()), std::streamsize(book.size()));
    Run(Rect(170, 5, 0, 0, 639, 479));
    Run(Picture("pics.plt", 1));
    EXPECT_EQ(Count(4, 200, 200, 300, 300), 101 * 101);
    EXPECT_EQ(CountAll(4), 101 * 101);
    EXPECT_EQ(draw.charSize[0], 0); // restored after the picture
    EXPECT_EQ(screen.x0, 0);
    EXPECT_EQ(dyn->screenFilePath[0], 0);
}

} // namespace
} // namespace tessil_test
