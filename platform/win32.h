// The Win32 subset that Kestrovane's code is written against.
//
// On Windows this is the system's own <windows.h>. On Linux it is platform/'s
// own declarations of exactly the subset the program uses (see
// platform/linux/MANIFEST.md for what is provided and how completely). This is
// the one header outside platform/ code may include for operating-system
// services; nothing else may test which system it is on.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>
#include "platform/win/wininet_routing.h"
#else
#include "platform/linux/win32_types.h"
#include "platform/linux/kernel32.h"
#include "platform/linux/priority.h"
#include "platform/linux/shell32.h"
#include "platform/linux/user32.h"
#include "platform/linux/winsock.h"
#include "platform/linux/wininet.h"
#endif

#include "platform/extensions.h"
