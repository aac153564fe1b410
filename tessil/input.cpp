#include "tessil/input.h"

#include "tessil/state.h"

namespace tessil {

HWND mainWindow = nullptr;
uint16_t keyKind = 0;
uint16_t keyCode = 0;
uint16_t mouseX = 0, mouseY = 0;
uint8_t mouseButton = 0;
uint8_t shutdownRequested = 0;
uint8_t focusState = 1;
uint8_t functionKeyMode = 0;
uint8_t insertMode = 0;
uint8_t oneSecondElapsed = 0;
uint8_t inputQueue[kInputQueueSize];
uint16_t inputWrite = 0;

namespace {

constexpr UINT_PTR kTickTimer = 100;
bool pointerHidden = false;
POINT lastBarClick = {0, 0};

// The function-key bar's 16 places: F1..F8, then Ctrl+F1..F8.
constexpr uint8_t BarCode(int place) { return uint8_t(place < 8 ? kScanF1 + place : kScanCtrlF1 + place - 8); }

void QueueKey(uint8_t code)
{
    QueueInput(0);
    QueueInput(code);
}

uint8_t FunctionKey(uint16_t vk, uint8_t first)
{
    return vk >= VK_F1 && vk <= VK_F8 ? uint8_t(first + (vk - VK_F1)) : 0;
}

void PutPointerAt(int x, int y)
{
    if (!mainWindow)
        return;
    POINT p = {x, y};
    ClientToScreen(mainWindow, &p);
    SetCursorPos(p.x, p.y);
}

} // namespace

void QueueInput(uint8_t byte)
{
    inputQueue[inputWrite] = byte;
    if (++inputWrite >= kInputQueueSize)
        inputWrite = 0;
}

void TranslateInput()
{
    switch (keyKind) {
    case 1:
        if (functionKeyMode) {
            uint8_t code = 0;
            switch (keyCode) {
            case VK_LEFT: code = kScanLeft; break;
            case VK_UP: code = kScanUp; break;
            case VK_RIGHT: code = kScanRight; break;
            case VK_DOWN: code = kScanDown; break;
            case VK_DELETE: code = kScanDelete; break;
            case VK_INSERT: insertMode = !insertMode; break;
            default: code = FunctionKey(keyCode, kScanF1); break;
            }
            if (code)
                QueueKey(code);
        } else if (keyCode == VK_ESCAPE) {
            mouseButton = 2;
        }
        break;
    case 3: {
        uint8_t code = keyCode == VK_DELETE ? kScanCtrlDelete : FunctionKey(keyCode, kScanCtrlF1);
        if (code)
            QueueKey(code);
        break;
    }
    case 2:
        if (keyCode == kMouseRecord) {
            QueueInput(kMouseRecord);
            QueueInput(mouseButton);
            QueueInput(uint8_t(mouseX >> 8));
            QueueInput(uint8_t(mouseX));
            QueueInput(uint8_t(mouseY >> 8));
            QueueInput(uint8_t(mouseY));
        } else {
            QueueInput(uint8_t(keyCode));
        }
        break;
    default:
        break;
    }
    keyKind = 0;
}

void SystemRequest(int code)
{
    MSG msg;
    switch (code) {
    case 1:
        mouseButton = 0;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (keyKind) {
                TranslateInput();
                break;
            }
        }
        break;
    case 2:
        mouseButton = 0;
        if (!shutdownRequested && screenHost.nextEvent) {
            screenHost.nextEvent();
        } else if (!shutdownRequested && mainWindow && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (keyKind)
            TranslateInput();
        if (focusState == 1)
            focusState = 0;
        break;
    case 3:
        if (pointerHidden) {
            ShowCursor(TRUE);
            pointerHidden = false;
        }
        break;
    case 4:
        if (!pointerHidden) {
            ShowCursor(FALSE);
            pointerHidden = true;
        }
        break;
    case 5:
        ClipCursor(nullptr);
        PutPointerAt(mouseX, mouseY);
        break;
    case 7:
        PutPointerAt(lastBarClick.x, lastBarClick.y);
        break;
    case 10:
        if (mainWindow) {
            POINT a = {draw.x1, draw.y1}, b = {draw.x2, draw.y2};
            ClientToScreen(mainWindow, &a);
            ClientToScreen(mainWindow, &b);
            RECT r = {a.x, a.y, b.x + 1, b.y + 1};
            ClipCursor(&r);
            SetCursorPos((a.x + b.x) / 2, (a.y + b.y) / 2);
            ClipCursor(nullptr);
        }
        break;
    default:
        break;
    }
}

bool CanWaitForInput() { return mainWindow || screenHost.nextEvent; }

void WaitTick()
{
    if (screenHost.waitTicks) {
        screenHost.waitTicks(1);
        return;
    }
    if (!mainWindow)
        return;
    uint8_t seen = 0;
    oneSecondElapsed = 0;
    SetTimer(mainWindow, kTickTimer, 1000, nullptr);
    while (!oneSecondElapsed && !shutdownRequested) {
        SystemRequest(2);
        if (mouseButton)
            seen = mouseButton;
    }
    KillTimer(mainWindow, kTickTimer);
    mouseButton = seen;
}

void WaitTicks(int n)
{
    if (screenHost.waitTicks) {
        screenHost.waitTicks(n < 1 ? 1 : n);
        return;
    }
    do
        WaitTick();
    while (--n > 0 && !shutdownRequested);
}

void PauseLive(int milliseconds)
{
    if (screenHost.pause) {
        screenHost.pause(milliseconds);
        return;
    }
    if (!mainWindow)
        return;
    DWORD start = GetTickCount();
    while (!shutdownRequested && int(GetTickCount() - start) < milliseconds) {
        SystemRequest(1);
        Sleep(milliseconds < 50 ? DWORD(milliseconds) : 50);
    }
}

// Words of the line buffer (what ShowMessageLine last placed on the bar) are
// counted up to the click column; a word's blanks belong to it, so a click
// before the first word or on its blanks gives the first code, one right of
// the last word the last word's code.
uint8_t ClickCode(int x, int y)
{
    if (screen.cellHeightPx <= 0 || screen.cellWidthPx <= 0 || y / screen.cellHeightPx != 0 ||
        draw.functionBarDisabled)
        return 1;
    lastBarClick = {x, y};
    int column = x / screen.cellWidthPx;
    const char* line = LineBuffer();
    int words = 0;
    for (int c = 0; c < 80 && c <= column; ++c) {
        bool starts = line[c] != ' ' && line[c] != 0 && (c == 0 || line[c - 1] == ' ' || line[c - 1] == 0);
        words += starts;
    }
    int k = words > 0 ? words - 1 : 0;
    return BarCode(k < 16 ? k : 15);
}

} // namespace tessil
