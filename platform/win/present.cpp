// PlatformPresentPixels on Windows: the pixels go to the window's client DC
// with SetDIBitsToDevice from a top-down 32-bit DIB description.
#include "platform/win32.h"

BOOL PlatformPresentPixels(HWND window, const uint32_t* pixels, int width, int height, int stride) {
    if (!IsWindow(window)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!pixels || width < 1 || height < 1 || stride < width) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = stride;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(window);
    if (!dc) return FALSE;
    int lines = SetDIBitsToDevice(dc, 0, 0, DWORD(width), DWORD(height), 0, 0, 0, UINT(height),
                                  pixels, &info, DIB_RGB_COLORS);
    if (ReleaseDC(window, dc) != 1) return FALSE;
    return lines > 0 ? TRUE : FALSE;
}
