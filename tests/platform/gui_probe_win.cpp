// The probes on Windows: SendInput for the keyboard and mouse, BitBlt from
// the screen's device context into a 32-bit DIB section.
#include "gui_probe.h"

namespace {

bool Send(INPUT input) {
    return SendInput(1, &input, sizeof input) == 1;
}

bool Key(BYTE vk, bool down) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = vk;
    input.ki.wScan = WORD(MapVirtualKeyA(vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    if (vk >= VK_PRIOR && vk <= VK_DELETE) input.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    return Send(input);
}

bool Button(int button, bool down) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    if (button == 3) input.mi.dwFlags = down ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_RIGHTUP;
    else input.mi.dwFlags = down ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_LEFTUP;
    return Send(input);
}

}  // namespace

bool ProbeMove(int x, int y) {
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dx = LONG((x * 65536 + GetSystemMetrics(SM_CXSCREEN) / 2) / GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = LONG((y * 65536 + GetSystemMetrics(SM_CYSCREEN) / 2) / GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return Send(input);
}

bool ProbeClick(int x, int y, int button) {
    return ProbeMove(x, y) && Button(button, true) && Button(button, false);
}

bool ProbeKeyDown(BYTE vk) {
    return Key(vk, true);
}

bool ProbeKeyUp(BYTE vk) {
    return Key(vk, false);
}

bool ProbeTap(BYTE vk) {
    return Key(vk, true) && Key(vk, false);
}

bool ProbeGrab(int x, int y, int width, int height, std::vector<uint32_t>& pixels) {
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = bitmap && bits;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != 0;
        GdiFlush();
        if (ok) {
            const auto* words = static_cast<const uint32_t*>(bits);
            pixels.assign(words, words + size_t(width) * size_t(height));
            for (uint32_t& p : pixels) p &= 0x00FFFFFF;
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}
