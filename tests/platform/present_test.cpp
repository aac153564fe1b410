// PlatformPresentPixels: what is presented is what the screen shows.
#include <vector>

#include "gui_fixture.h"
#include "gui_probe.h"

namespace {

class Present : public GuiTest {
protected:
    // The client area's pixels as the screen shows them.
    std::vector<uint32_t> Screen(int width, int height) {
        POINT origin = {0, 0};
        ClientToScreen(window, &origin);
        std::vector<uint32_t> pixels;
        EXPECT_TRUE(ProbeGrab(origin.x, origin.y, width, height, pixels));
        return pixels;
    }
};

// Four quadrants and a diagonal, so that a flip, a shift or swapped channels
// all show.
uint32_t Pattern(int x, int y, int width, int height) {
    if (x == y) return 0xFFFFFF;
    uint32_t quadrant = (x < width / 2 ? 0 : 1) + (y < height / 2 ? 0 : 2);
    static const uint32_t colours[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0x804020};
    return colours[quadrant];
}

TEST_F(Present, PixelsReachTheClientArea) {
    ASSERT_TRUE(MakeWindow(200, 120, false));
    RECT client;
    GetClientRect(window, &client);
    ASSERT_EQ(client.right, 200);
    ASSERT_EQ(client.bottom, 120);
    const int width = 200, height = 120, stride = 256;  // rows wider than the picture
    std::vector<uint32_t> pixels(size_t(stride) * height, 0x123456);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) pixels[size_t(y) * stride + x] = Pattern(x, y, width, height);
    ASSERT_TRUE(PlatformPresentPixels(window, pixels.data(), width, height, stride));
    PumpFor(100);
    std::vector<uint32_t> shown = Screen(width, height);
    ASSERT_EQ(shown.size(), size_t(width) * height);
    int wrong = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++)
            if (shown[size_t(y) * width + x] != Pattern(x, y, width, height)) wrong++;
    EXPECT_EQ(wrong, 0);

    // A smaller picture replaces its corner and leaves the rest as it was.
    std::vector<uint32_t> corner(20 * 10, 0x00FFFF);
    ASSERT_TRUE(PlatformPresentPixels(window, corner.data(), 20, 10, 20));
    PumpFor(100);
    shown = Screen(width, height);
    ASSERT_EQ(shown.size(), size_t(width) * height);
    EXPECT_EQ(shown[0], 0x00FFFFu);
    EXPECT_EQ(shown[size_t(9) * width + 19], 0x00FFFFu);
    EXPECT_EQ(shown[size_t(10) * width + 19], Pattern(19, 10, width, height));
    EXPECT_EQ(shown[size_t(100) * width + 150], Pattern(150, 100, width, height));

    // A picture larger than the client area is cut to it.
    std::vector<uint32_t> large(size_t(400) * 300, 0x808080);
    EXPECT_TRUE(PlatformPresentPixels(window, large.data(), 400, 300, 400));
}

TEST_F(Present, RefusesBadArguments) {
    ASSERT_TRUE(MakeWindow(100, 100));
    uint32_t pixel = 0;
    SetLastError(0);
    EXPECT_FALSE(PlatformPresentPixels(window, nullptr, 1, 1, 1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(PlatformPresentPixels(window, &pixel, 0, 1, 1));
    EXPECT_FALSE(PlatformPresentPixels(window, &pixel, 2, 1, 1));  // stride below the width
    SetLastError(0);
    EXPECT_FALSE(PlatformPresentPixels(reinterpret_cast<HWND>(uintptr_t(0x7FFF0001)), &pixel, 1, 1, 1));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_WINDOW_HANDLE));
}

}  // namespace
