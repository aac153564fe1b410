// The program's window and start-up: the main window's procedure, start-up
// initialisation, the framework settings and the one way the program ends.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Globals of the main thread that the window procedure sets and the driver
// polls (the framework's input variables live in tessil/input.h).
extern int32_t menuCommand;   // the last menu item chosen; 0 when none is pending
extern uint8_t siteDue;       // timer 98
extern uint8_t cycleDue;      // timer 99
extern int32_t siteIntervalSeconds;
extern int32_t updatePeriodSeconds;
extern int32_t screenMaxX, screenMaxY; // last drawable pixel column and row
extern char commandWord[260];
extern HMENU liveMenu;   // resource menu 101
extern HMENU greyedMenu; // resource menu 106

// Window timers.
constexpr UINT_PTR kTimerRepaint = 4;
constexpr UINT_PTR kTimerSite = 98;
constexpr UINT_PTR kTimerCycle = 99;
constexpr UINT_PTR kTimerTick = 100;

constexpr const char* kWindowClass = "TESSILApp";
constexpr const char* kWindowTitle = "KESTROVANE Revision 1 Version 0.1";

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// Creates the framework's dynamic block and reads the framework settings;
// gives the framework its start state.
void StartupInit();

// Reads "\kestrovane\rttw.ini": 12 values separated by white space (two
// reals: the screen's physical proportions across and down; the option byte;
// three integers; the screen library path; a text; two integers; two texts).
// Values that are missing or not numbers keep their defaults; a missing
// library path is the default "c:\kestrovane\kvscreens.lib". Returns false
// when the file cannot be read.
bool LoadFrameworkSettings();

// Removes leftover scratch files (net/file_names.h) from the secure server
// folder of every site in the site list at `listPath` (deleted records are
// skipped). Called once at start, before any download runs.
void RemoveScratchFilesOfAllSites(const char* listPath);

// Ends the program: releases what the subsystems hold and exits with code 0.
[[noreturn]] void ShutdownCleanup();
