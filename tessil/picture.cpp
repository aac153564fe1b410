// Viewports and pictures: a rectangle that later positions are scaled into,
// and command 234, which draws a .bmp file or a screen record into one.
#include <cstring>
#include <vector>

#include "tessil/bmp.h"
#include "tessil/display_commands.h"
#include "tessil/draw.h"
#include "tessil/state.h"

namespace tessil {

namespace {

// Pictures larger than this are not pictures a screen shows.
constexpr DWORD kMaxBitmapFile = 64u << 20;

struct Frame {
    int x0, y0, scaleRight, scaleBottom, aspect;
};

Frame CurrentFrame() { return {screen.x0, screen.y0, screen.scaleRight, screen.scaleBottom, screen.aspect}; }

void SetFrame(const Frame& f)
{
    screen.x0 = f.x0;
    screen.y0 = f.y0;
    screen.scaleRight = f.scaleRight;
    screen.scaleBottom = f.scaleBottom;
    screen.aspect = f.aspect;
}

bool EndsWithBmp(const char* name)
{
    size_t n = std::strlen(name);
    if (n < 4)
        return false;
    const char* e = name + n - 4;
    return e[0] == '.' && (e[1] | 0x20) == 'b' && (e[2] | 0x20) == 'm' && (e[3] | 0x20) == 'p';
}

bool ReadWholeFile(const char* path, std::vector<uint8_t>& bytes)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD high = 0;
    DWORD size = GetFileSize(h, &high);
    bool ok = size != INVALID_FILE_SIZE && high == 0 && size <= kMaxBitmapFile;
    if (ok) {
        bytes.resize(size);
        DWORD got = 0;
        ok = size == 0 || (ReadFile(h, bytes.data(), size, &got, nullptr) && got == size);
    }
    CloseHandle(h);
    return ok;
}

bool DrawBitmapFile(const char* path, int x, int y)
{
    std::vector<uint8_t> bytes;
    Image image;
    if (!ReadWholeFile(path, bytes) || !DecodeBmp(bytes.data(), bytes.size(), image))
        return false;
    RasterImage(DrawCanvas(), x, y, image.pixels.data(), image.width, image.height);
    return true;
}

} // namespace

// How far outside the screen a viewport's corners may lie, in pixels. A
// viewport is given in the units of the frame in force, so viewports opened
// inside viewports (a screen may leave one open for the next) would otherwise
// multiply the frame until its arithmetic overflows; within this reach a unit
// times the frame's width stays far inside 64 bits and a pixel inside int.
constexpr int kViewportReach = 32767;

void BeginViewport(const uint8_t* rectangle)
{
    auto reach = [](int v) { return v < -kViewportReach ? -kViewportReach : v > kViewportReach ? kViewportReach : v; };
    int left = reach(UnitsToX(Word16(rectangle))), top = reach(UnitsToY(Word16(rectangle + 2)));
    int right = reach(UnitsToX(Word16(rectangle + 4))), bottom = reach(UnitsToY(Word16(rectangle + 6)));
    if (left > right) {
        int t = left;
        left = right;
        right = t;
    }
    if (top > bottom) {
        int t = top;
        top = bottom;
        bottom = t;
    }
    int width = right - left, height = bottom - top;
    // A rectangle that all but covers the screen is taken as the screen.
    if (screen.width - (width + 1) < screen.cellWidth && screen.height - (height + 1) < screen.cellHeight / 2) {
        EndViewport();
        return;
    }
    screen.x0 = left;
    screen.y0 = top;
    screen.scaleRight = width;
    screen.scaleBottom = height;
    if (width > 0 && screen.bottomEdge > 0)
        screen.aspect = int(int64_t(screen.screenAspect) * height * screen.rightEdge / (int64_t(width) * screen.bottomEdge));
    SetDrawClip({left, top, right, bottom});
}

void EndViewport()
{
    SetFrame({0, 0, screen.rightEdge, screen.bottomEdge, screen.screenAspect});
    ResetDrawClip();
}

void DrawPicture(const uint8_t* command)
{
    // The picture's record area is in use while one is drawn: pictures do not nest.
    if (draw.pictureDepth || !dyn)
        return;
    char name[sizeof dyn->screenFilePath];
    size_t n = command[13] < sizeof name - 1 ? command[13] : sizeof name - 1;
    std::memcpy(name, command + 14, n);
    name[n] = 0;
    int record = command[12];
    draw.colour = command[1];

    Frame savedFrame = CurrentFrame();
    Canvas savedCanvas = DrawCanvas();
    uint8_t savedSize[2] = {draw.charSize[0], draw.charSize[1]};
    uint8_t savedBackground = draw.textBackground;
    char savedFile[sizeof dyn->screenFilePath];
    std::memcpy(savedFile, dyn->screenFilePath, sizeof savedFile);

    BeginViewport(command + 2);
    std::memcpy(dyn->screenFilePath, name, sizeof name);
    ++draw.pictureDepth;
    bool failed = false;
    if ((record == 0 || record >= 21) && EndsWithBmp(name)) {
        failed = !DrawBitmapFile(name, screen.x0, screen.y0);
    } else if (record >= 1 && record <= 20) {
        uint8_t* area = PictureRecordArea();
        if (ReadScreenRecord(name, record, area) > 0)
            ExecuteDisplayList(area, area + kRecordSize, 0);
    }
    --draw.pictureDepth;

    SetFrame(savedFrame);
    SetDrawClip(savedCanvas.clip);
    draw.charSize[0] = savedSize[0];
    draw.charSize[1] = savedSize[1];
    draw.textBackground = savedBackground;
    std::memcpy(dyn->screenFilePath, savedFile, sizeof savedFile);
    if (failed)
        DrawTextAt(100, 100, "LoadBitmap Failed", 17, 3, 0);
}

} // namespace tessil
