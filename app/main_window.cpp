// The main window's procedure: it only records what happened in globals; the
// framework and the driver act on them between message pumps.
#include "app/app.h"
#include "app/monitor.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/tessil.h"

int32_t menuCommand = 0;
uint8_t siteDue = 0;
uint8_t cycleDue = 0;
int32_t siteIntervalSeconds = 0;
int32_t updatePeriodSeconds = 0;
int32_t screenMaxX = 639, screenMaxY = 479;
HMENU liveMenu = nullptr;
HMENU greyedMenu = nullptr;
char commandWord[260];

namespace {

void ArmRepaint(HWND window, UINT milliseconds) { SetTimer(window, kTimerRepaint, milliseconds, nullptr); }

void OnTimer(HWND window, UINT_PTR id)
{
    switch (id) {
    case kTimerRepaint:
        KillTimer(window, kTimerRepaint);
        if (!tessil::PresentSurface())
            ShutdownCleanup();
        break;
    case kTimerSite:
        siteDue = 1;
        SetTimer(window, kTimerSite, TimerMilliseconds(siteIntervalSeconds), nullptr);
        break;
    case kTimerCycle:
        cycleDue = 1;
        SetTimer(window, kTimerCycle, TimerMilliseconds(updatePeriodSeconds), nullptr);
        break;
    case kTimerTick:
        tessil::oneSecondElapsed = 255;
        break;
    default:
        break;
    }
}

void RecordPosition(LPARAM lparam)
{
    tessil::mouseX = uint16_t(LOWORD(lparam));
    tessil::mouseY = uint16_t(HIWORD(lparam));
}

} // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_CREATE: {
        // The alert mail's sockets.
        WSADATA sockets;
        WSAStartup(MAKEWORD(1, 1), &sockets);
        return 0;
    }
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        tessil::shutdownRequested = 1;
        ShutdownCleanup();
    case WM_MOVE:
    case WM_PAINT:
        ArmRepaint(window, 50);
        break;
    case WM_SETFOCUS:
        tessil::focusState = 0;
        ArmRepaint(window, 50);
        break;
    case WM_KILLFOCUS:
        tessil::focusState = 2;
        break;
    case WM_SIZE:
        return 0;
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        tessil::keyKind = GetKeyState(VK_CONTROL) < 0 ? 3 : 1;
        tessil::keyCode = uint16_t(wparam);
        break;
    case WM_CHAR:
        tessil::keyKind = 2;
        tessil::keyCode = uint16_t(wparam & 0xFF);
        break;
    case WM_COMMAND:
        menuCommand = int32_t(LOWORD(wparam));
        return 0;
    case WM_SYSCOMMAND:
        switch (wparam & 0xFFF0) {
        case SC_CLOSE:
            tessil::ShowMessageLine("KESTROVANE is shutting down...PLEASE WAIT", 0, 2, 195);
            tessil::shutdownRequested = 1;
            ShutdownCleanup();
        case SC_RESTORE:
            ArmRepaint(window, 500);
            tessil::PlaceCursorOnButton(0);
            break;
        case SC_MAXIMIZE:
            if (tessil::ChoiceWaitRunning()) {
                MessageBeep(UINT(-1));
                return 0;
            }
            break;
        default:
            break;
        }
        break;
    case WM_TIMER:
        OnTimer(window, UINT_PTR(wparam));
        break;
    case WM_MOUSEMOVE:
        RecordPosition(lparam);
        break;
    case WM_LBUTTONDOWN:
        RecordPosition(lparam);
        tessil::mouseButton = tessil::ClickCode(tessil::mouseX, tessil::mouseY);
        break;
    case WM_RBUTTONDOWN:
        tessil::mouseButton = 2;
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}
