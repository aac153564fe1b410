// The input loop: the window's messages pumped on request, keys and clicks
// turned into input-queue bytes, one-second ticks, and the mouse pointer.
//
// The main window's procedure only records what happened in the variables
// below; SystemRequest pumps the messages and TranslateInput turns a recorded
// key into queue bytes. Editing and function keys are queued as 0 and a PC
// extended scan code, so screens treat keyboard and mouse alike:
//
//   key              function-key mode    with Ctrl
//   Left  (37)       0, 75
//   Up    (38)       0, 72
//   Right (39)       0, 77
//   Down  (40)       0, 80
//   Delete (46)      0, 83                0, 84
//   F1..F8 (112..)   0, 59..66            0, 94..101
//   Insert (45)      toggles insert mode
//   Esc (27)         (mode off) mouseButton := 2
//   a character      the character; 255 queues a mouse record
//                    (255, button, x high, x low, y high, y low)
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace tessil {

// The PC extended scan codes the framework queues after a 0 byte, and the
// byte that starts a queued mouse record.
constexpr uint8_t kScanF1 = 59;     // F1..F8: 59..66
constexpr uint8_t kScanUp = 72;
constexpr uint8_t kScanLeft = 75;
constexpr uint8_t kScanRight = 77;
constexpr uint8_t kScanDown = 80;
constexpr uint8_t kScanDelete = 83;
constexpr uint8_t kScanCtrlDelete = 84;
constexpr uint8_t kScanCtrlF1 = 94; // Ctrl+F1..F8: 94..101
constexpr uint8_t kMouseRecord = 255;

// Written by the window procedure, read by the framework.
extern HWND mainWindow;
extern uint16_t keyKind;   // 0 none, 1 key down, 2 character, 3 key down with Ctrl
extern uint16_t keyCode;   // virtual key (1, 3) or character (2)
extern uint16_t mouseX, mouseY; // client pixels
extern uint8_t mouseButton; // 0, 1 left, 2 right or Esc, 59..66 / 94..101 bar clicks
extern uint8_t shutdownRequested;
extern uint8_t focusState;  // 1 at start, 0 focused, 2 focus lost
extern uint8_t functionKeyMode; // on while the line editor wants editing keys
extern uint8_t insertMode;
extern uint8_t oneSecondElapsed; // set by timer 100

// The 30-byte input ring: only its writer's index lives here; readers keep
// their own.
constexpr int kInputQueueSize = 30;
extern uint8_t inputQueue[kInputQueueSize];
extern uint16_t inputWrite;
void QueueInput(uint8_t byte);

// Request codes: 1 poll, 2 wait for one message, 3 show the pointer, 4 hide
// it, 5 free it and put it at the recorded position, 7 put it back at the
// last function-key bar click, 10 confine it to the current rectangle and
// centre it there, then free it. Other codes do nothing.
void SystemRequest(int code);
// True when there is a user to wait for: a window, or a scripted stand-in.
bool CanWaitForInput();
void TranslateInput();

// One-second ticks with the window live (timer 100). mouseButton holds the
// last button seen during the wait.
void WaitTick();
void WaitTicks(int n);
// Keeps the window live for about `milliseconds`.
void PauseLive(int milliseconds);

// What a left click at client pixel (x, y) means: a function-key code when it
// lies on the enabled function-key bar (text row 0), else 1. A bar click is
// also remembered for SystemRequest 7.
uint8_t ClickCode(int x, int y);

} // namespace tessil
