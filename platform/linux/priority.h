// Process and thread priority (KERNEL32) on Linux, as nice values. Linux
// keeps a nice value per thread, so a priority class is applied to every
// thread of the process and a thread priority is an offset from it:
//
//   class            nice      thread priority     nice offset
//   IDLE              19       IDLE                 to 19
//   BELOW_NORMAL      10       LOWEST               +4
//   NORMAL             0       BELOW_NORMAL         +2
//   ABOVE_NORMAL      -5       NORMAL                0
//   HIGH             -10       ABOVE_NORMAL         -2
//   REALTIME         -20       HIGHEST              -4
//                              TIME_CRITICAL        to -20
//
// A nice value that needs privileges the process lacks falls back to the
// nearest value it may take (as Windows silently gives HIGH for REALTIME), and
// the call still succeeds. Real-time scheduling policies are never used.
#pragma once

#include "platform/linux/win32_types.h"

HANDLE GetCurrentProcess(void);  // the pseudo-handle (HANDLE)-1
HANDLE GetCurrentThread(void);   // the pseudo-handle (HANDLE)-2
BOOL SetPriorityClass(HANDLE process, DWORD priorityClass);
DWORD GetPriorityClass(HANDLE process);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
