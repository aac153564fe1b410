// mkfonts: draws the three bitmap character fonts of the screen framework by
// rasterising a monospaced outline face through the platform font API.
//
//   mkfonts FOLDER              writes CHAR8X8.BIN, CHAR12X12.FNT, CHAR16X16.FNT
//   mkfonts --show SIZE [TEXT]  prints glyphs of the 8, 12 or 16 font as text
//                               art (TEXT: Windows-1252 bytes; default: all
//                               printable characters)
//   mkfonts --try FACE HEIGHT WIDTH WEIGHT TEXT
//                               prints TEXT as the raw font renders it, to
//                               judge a face and size before choosing them
//
// Exit code 0 on success, 1 when a font or a file cannot be made, 2 on usage.
//
// File formats (256 glyphs each, glyph c at c times the glyph size; a set bit
// is a foreground pixel, the leftmost pixel the most significant bit):
//
//   CHAR8X8.BIN    2048 bytes, 8 a glyph: 8 rows of one byte, top row first,
//                  every byte stored inverted (XOR 255). This is bytes
//                  1152..3199 of record 21 of the screen library file.
//   CHAR12X12.FNT  5120 bytes, 20 a glyph:
//                    0..17  12 rows of 12 bits, two rows in three bytes: row A
//                           = byte 0 and the high nibble of byte 1, row B = the
//                           low nibble of byte 1 and byte 2
//                    18     vertical offset added to the row position (0)
//                    19     advance width in pixels (12)
//   CHAR16X16.FNT  8704 bytes, 34 a glyph:
//                    0..31  16 rows of 2 bytes, left byte first
//                    32     vertical offset (0)
//                    33     advance width (16)
//
// Glyph 0, the control codes 1..31 and 127, and codes the face has no glyph
// for are blank. Every glyph advances one cell so that 80 columns fill the
// screen.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

// How one bitmap font is drawn, chosen by eye from --try and --show. At 8
// pixels Liberation Mono Bold keeps its letters apart best (M, W, %, the
// accents); at 12 and 16 DejaVu Sans Mono Bold hints more evenly (Liberation
// Mono's bold angle brackets fill in). Each is widened through the average
// character width to use the square cell; the baseline leaves room for
// descenders of two, three and four rows.
struct Recipe {
    int cell;          // glyph cell, cell x cell pixels
    const char* face;  // as PlatformCreateFont maps it
    LONG weight;
    LONG emHeight;     // pixels
    LONG width;        // average character width, 0 = natural
    int baseline;      // cell rows above the baseline
};

constexpr Recipe kRecipes[] = {
    {8, "Liberation Mono", FW_BOLD, 9, 7, 7},
    {12, "DejaVu Sans Mono", FW_BOLD, 11, 10, 10},
    {16, "DejaVu Sans Mono", FW_BOLD, 15, 12, 13},
};

const Recipe* RecipeFor(int cell) {
    for (const Recipe& recipe : kRecipes) {
        if (recipe.cell == cell) return &recipe;
    }
    return nullptr;
}

LOGFONTA Description(const char* face, LONG height, LONG width, LONG weight) {
    LOGFONTA description{};
    description.lfHeight = -height;
    description.lfWidth = width;
    description.lfWeight = weight;
    description.lfCharSet = ANSI_CHARSET;
    description.lfOutPrecision = OUT_TT_PRECIS;
    description.lfQuality = PROOF_QUALITY;
    description.lfPitchAndFamily = FIXED_PITCH | FF_MODERN;
    std::snprintf(description.lfFaceName, LF_FACESIZE, "%s", face);
    return description;
}

// A glyph as a cell of pixels, row by row.
struct Cell {
    int size = 0;
    std::vector<bool> pixels;
    explicit Cell(int n) : size(n), pixels(size_t(n) * size_t(n), false) {}
    bool At(int x, int y) const { return pixels[size_t(y) * size_t(size) + size_t(x)]; }
};

// Ink of one character rendered on its own into a mask with a margin of a
// cell height all round, so that nothing it draws is lost.
struct Ink {
    int width = 0, height = 0;
    int penX = 0, baseline = 0, advance = 0;  // in the mask
    std::vector<BYTE> mask;
    int left = 0, right = -1, top = 0, bottom = -1;  // bounding box; right < left when blank
    bool Blank() const { return right < left; }
    bool At(int x, int y) const { return mask[size_t(y) * size_t(width) + size_t(x)] != 0; }
};

bool RenderInk(PlatformFont* font, unsigned char code, Ink& ink) {
    const char text[1] = {static_cast<char>(code)};
    SIZE extent;
    if (!PlatformMeasureText(font, text, 1, &extent)) return false;
    const int margin = extent.cy;
    ink.penX = margin;
    ink.baseline = margin + PlatformGetFontAscent(font);
    ink.advance = extent.cx;
    ink.width = extent.cx + 2 * margin;
    ink.height = 3 * margin;
    ink.mask.assign(size_t(ink.width) * size_t(ink.height), 0);
    if (!PlatformRenderTextAt(font, margin, margin, text, 1, ink.mask.data(), ink.width,
                              ink.height))
        return false;
    ink.left = ink.width;
    ink.right = -1;
    ink.top = ink.height;
    ink.bottom = -1;
    for (int y = 0; y < ink.height; ++y) {
        for (int x = 0; x < ink.width; ++x) {
            if (!ink.At(x, y)) continue;
            ink.left = std::min(ink.left, x);
            ink.right = std::max(ink.right, x);
            ink.top = std::min(ink.top, y);
            ink.bottom = std::max(ink.bottom, y);
        }
    }
    return true;
}

bool Printable(int code) {
    return (code >= 32 && code < 127) || code >= 128;
}

// The fonts of one recipe: the chosen size first, then smaller and narrower
// ones for glyphs that do not fit the cell at the chosen size.
class FontSet {
public:
    explicit FontSet(const Recipe& recipe) : recipe_(recipe) {
        const LONG smallest = (recipe.emHeight * 2 + 2) / 3;
        for (LONG height = recipe.emHeight; height >= smallest; --height) {
            const LONG narrowest = recipe.width ? (recipe.width * 3 + 3) / 4 : 0;
            for (LONG width = recipe.width; width >= narrowest && width >= 0; --width) {
                LOGFONTA description = Description(recipe.face, height, width, recipe.weight);
                fonts_.push_back(PlatformCreateFont(&description));
                if (!fonts_.back()) ok_ = false;
                if (width == 0) break;
            }
        }
    }
    ~FontSet() {
        for (PlatformFont* font : fonts_) PlatformDeleteFont(font);
    }
    FontSet(const FontSet&) = delete;
    FontSet& operator=(const FontSet&) = delete;

    bool ok() const { return ok_; }
    const std::vector<PlatformFont*>& fonts() const { return fonts_; }
    const Recipe& recipe() const { return recipe_; }

private:
    const Recipe& recipe_;
    std::vector<PlatformFont*> fonts_;
    bool ok_ = true;
};

// A glyph's ink in cell coordinates before it is checked against the cell:
// rows counted from the top of the cell with the baseline on the recipe's
// row, columns with the advance box centred across the cell.
struct Shape {
    int left = 0, top = 0, width = 0, rows = 0;
    std::vector<bool> pixels;  // width x rows
    bool At(int x, int y) const { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
    int Right() const { return left + width - 1; }
    int Bottom() const { return top + rows - 1; }
};

Shape ShapeOf(const Recipe& recipe, const Ink& ink) {
    Shape shape;
    shape.left = ink.left + (recipe.cell - ink.advance + 1) / 2 - ink.penX;
    shape.top = ink.top + recipe.baseline - ink.baseline;
    shape.width = ink.right - ink.left + 1;
    shape.rows = ink.bottom - ink.top + 1;
    for (int y = ink.top; y <= ink.bottom; ++y)
        for (int x = ink.left; x <= ink.right; ++x) shape.pixels.push_back(ink.At(x, y));
    return shape;
}

// The shape without its blank row `row`, the part above it lowered by one:
// an accent that sits a row too high comes down onto its letter.
Shape Squeezed(const Shape& shape, int row) {
    Shape out = shape;
    out.top += 1;
    out.rows -= 1;
    out.pixels.erase(out.pixels.begin() + ptrdiff_t(row) * shape.width,
                     out.pixels.begin() + ptrdiff_t(row + 1) * shape.width);
    return out;
}

bool BlankRow(const Shape& shape, int row) {
    for (int x = 0; x < shape.width; ++x)
        if (shape.At(x, row)) return false;
    return true;
}

// Moves a shape that sticks out of one side into the cell; false when it
// cannot fit.
bool FitInside(const Recipe& recipe, Shape& shape) {
    if (shape.width > recipe.cell || shape.rows > recipe.cell) return false;
    if (shape.Right() >= recipe.cell) shape.left = recipe.cell - shape.width;
    if (shape.left < 0) shape.left = 0;
    return shape.top >= 0 && shape.Bottom() < recipe.cell;
}

// How far a candidate lies from where the glyph would be at the chosen size.
// The baseline counts double: text must not jump up and down.
int Distance(const Shape& candidate, const Shape& wanted) {
    return std::abs(candidate.top - wanted.top) + 2 * std::abs(candidate.Bottom() - wanted.Bottom()) +
           std::abs(candidate.left - wanted.left) + std::abs(candidate.Right() - wanted.Right());
}

// Draws one glyph into its cell. A glyph that fits at the chosen size sits on
// the baseline. One that does not (accented letters, descenders at 8 pixels,
// wide signs) takes the candidate nearest to the box it would have had:
// candidates are the smaller sizes, each also with one blank row squeezed out
// and moved a row up or down. So an accented capital shrinks but keeps the
// baseline, a small accent comes down onto its letter, and a letter with a
// descender keeps its top edge level with its neighbours.
bool DrawGlyph(const FontSet& set, unsigned char code, Cell& cell) {
    if (!Printable(code)) return true;
    const Recipe& recipe = set.recipe();
    Ink reference;
    if (!RenderInk(set.fonts().front(), code, reference)) return false;
    if (reference.Blank()) return true;
    const Shape wanted = ShapeOf(recipe, reference);

    Shape best;
    int bestDistance = -1;
    auto consider = [&](Shape shape) {
        for (int shift : {0, -1, 1}) {
            Shape moved = shape;
            moved.top += shift;
            if (!FitInside(recipe, moved)) continue;
            const int distance = Distance(moved, wanted);
            if (bestDistance < 0 || distance < bestDistance) {
                best = moved;
                bestDistance = distance;
            }
        }
    };
    for (PlatformFont* font : set.fonts()) {
        Ink ink;
        if (!RenderInk(font, code, ink)) return false;
        if (ink.Blank()) continue;
        const Shape shape = ShapeOf(recipe, ink);
        consider(shape);
        for (int row = 1; row + 1 < shape.rows; ++row)
            if (BlankRow(shape, row)) consider(Squeezed(shape, row));
        if (bestDistance == 0) break;
    }
    if (bestDistance < 0) {
        std::fprintf(stderr, "mkfonts: glyph %d does not fit the %d-pixel cell\n", code,
                     recipe.cell);
        return false;
    }
    for (int y = 0; y < best.rows; ++y)
        for (int x = 0; x < best.width; ++x)
            if (best.At(x, y))
                cell.pixels[size_t(best.top + y) * size_t(cell.size) + size_t(best.left + x)] = true;
    return true;
}

bool DrawFont(const Recipe& recipe, std::vector<Cell>& cells) {
    FontSet set(recipe);
    if (!set.ok()) return false;
    cells.assign(256, Cell(recipe.cell));
    for (int code = 0; code < 256; ++code) {
        if (!DrawGlyph(set, static_cast<unsigned char>(code), cells[size_t(code)])) return false;
    }
    return true;
}

uint32_t RowBits(const Cell& cell, int y) {
    uint32_t bits = 0;
    for (int x = 0; x < cell.size; ++x) bits = (bits << 1) | (cell.At(x, y) ? 1u : 0u);
    return bits;
}

std::vector<uint8_t> Pack8(const std::vector<Cell>& cells) {
    std::vector<uint8_t> bytes;
    for (const Cell& cell : cells) {
        for (int y = 0; y < 8; ++y) bytes.push_back(static_cast<uint8_t>(RowBits(cell, y) ^ 0xFF));
    }
    return bytes;
}

std::vector<uint8_t> Pack12(const std::vector<Cell>& cells) {
    std::vector<uint8_t> bytes;
    for (const Cell& cell : cells) {
        for (int y = 0; y < 12; y += 2) {
            const uint32_t a = RowBits(cell, y), b = RowBits(cell, y + 1);
            bytes.push_back(static_cast<uint8_t>(a >> 4));
            bytes.push_back(static_cast<uint8_t>(((a & 0x0F) << 4) | (b >> 8)));
            bytes.push_back(static_cast<uint8_t>(b & 0xFF));
        }
        bytes.push_back(0);   // vertical offset
        bytes.push_back(12);  // advance
    }
    return bytes;
}

std::vector<uint8_t> Pack16(const std::vector<Cell>& cells) {
    std::vector<uint8_t> bytes;
    for (const Cell& cell : cells) {
        for (int y = 0; y < 16; ++y) {
            const uint32_t row = RowBits(cell, y);
            bytes.push_back(static_cast<uint8_t>(row >> 8));
            bytes.push_back(static_cast<uint8_t>(row & 0xFF));
        }
        bytes.push_back(0);   // vertical offset
        bytes.push_back(16);  // advance
    }
    return bytes;
}

bool SaveFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) std::fprintf(stderr, "mkfonts: cannot write %s\n", path.string().c_str());
    return bool(out);
}

// Prints cells eight to a line, a blank line between lines of glyphs.
void PrintCells(const std::vector<const Cell*>& cells, int size) {
    constexpr int kPerLine = 8;
    for (size_t first = 0; first < cells.size(); first += kPerLine) {
        const size_t last = std::min(cells.size(), first + kPerLine);
        for (int y = 0; y < size; ++y) {
            std::string line;
            for (size_t i = first; i < last; ++i) {
                for (int x = 0; x < size; ++x) line += cells[i]->At(x, y) ? '#' : '.';
                line += ' ';
            }
            std::puts(line.c_str());
        }
        std::puts("");
    }
}

int Show(int size, const std::string& text) {
    const Recipe* recipe = RecipeFor(size);
    if (!recipe) {
        std::fprintf(stderr, "mkfonts: no %d-pixel font (8, 12 or 16)\n", size);
        return 2;
    }
    std::vector<Cell> cells;
    if (!DrawFont(*recipe, cells)) {
        std::fprintf(stderr, "mkfonts: cannot load the face %s\n", recipe->face);
        return 1;
    }
    if (text.empty()) {
        std::vector<const Cell*> shown;
        for (int code = 0; code < 256; ++code)
            if (Printable(code)) shown.push_back(&cells[size_t(code)]);
        PrintCells(shown, size);
        return 0;
    }
    // Text is shown as the screen shows it, cell beside cell.
    for (int y = 0; y < size; ++y) {
        std::string line;
        for (unsigned char code : text)
            for (int x = 0; x < size; ++x) line += cells[code].At(x, y) ? '#' : '.';
        std::puts(line.c_str());
    }
    return 0;
}

int Try(const char* face, LONG height, LONG width, LONG weight, const std::string& text) {
    LOGFONTA description = Description(face, height, width, weight);
    PlatformFont* font = PlatformCreateFont(&description);
    if (!font) {
        std::fprintf(stderr, "mkfonts: cannot load the face %s\n", face);
        return 1;
    }
    SIZE extent;
    PlatformMeasureText(font, text.data(), int(text.size()), &extent);
    const int ascent = PlatformGetFontAscent(font);
    std::printf("cell %dx%d, ascent %d\n", int(extent.cx), int(extent.cy), ascent);
    std::vector<BYTE> mask(size_t(extent.cx) * size_t(extent.cy));
    if (extent.cx > 0)
        PlatformRenderText(font, text.data(), int(text.size()), mask.data(), extent.cx, extent.cy);
    for (int y = 0; y < extent.cy; ++y) {
        std::string line;
        for (int x = 0; x < extent.cx; ++x) line += mask[size_t(y) * size_t(extent.cx) + size_t(x)] ? '#' : '.';
        std::printf("%s%s\n", line.c_str(), y == ascent - 1 ? "  <- last row above the baseline" : "");
    }
    PlatformDeleteFont(font);
    return 0;
}

int Write(const std::filesystem::path& folder) {
    std::vector<Cell> cells8, cells12, cells16;
    if (!DrawFont(*RecipeFor(8), cells8) || !DrawFont(*RecipeFor(12), cells12) ||
        !DrawFont(*RecipeFor(16), cells16)) {
        std::fprintf(stderr, "mkfonts: cannot load the faces\n");
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const bool written = SaveFile(folder / "CHAR8X8.BIN", Pack8(cells8)) &&
                         SaveFile(folder / "CHAR12X12.FNT", Pack12(cells12)) &&
                         SaveFile(folder / "CHAR16X16.FNT", Pack16(cells16));
    return written ? 0 : 1;
}

int Usage() {
    std::fputs("usage: mkfonts FOLDER\n"
               "       mkfonts --show 8|12|16 [TEXT]\n"
               "       mkfonts --try FACE HEIGHT WIDTH WEIGHT TEXT\n",
               stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1][0] != '-') return Write(argv[1]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--show") == 0)
        return Show(std::atoi(argv[2]), argc == 4 ? argv[3] : "");
    if (argc == 7 && std::strcmp(argv[1], "--try") == 0)
        return Try(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]), argv[6]);
    return Usage();
}
