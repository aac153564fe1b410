// The program's resources, listed once for both systems: the Windows
// resource script (app/kestrovane.rc) expands these lists into MENU and
// STRINGTABLE statements, and app/resources.cpp into the table that the
// Linux layer's LoadMenuA, LoadStringA and LoadIconA read. This header is
// also read by the resource compiler (RC_INVOKED), so it holds only macros
// outside that guard.
#pragma once

#define KV_MENU_LIVE 101  // the main menu while the driver waits
#define KV_MENU_BUSY 106  // the same titles, all greyed, while it works
#define KV_ICON_MAIN 104

#define IDM_SETUP 40010
#define IDM_RESET 40020
#define IDM_HELP 40030
#define IDM_QUIT 40040
#define IDM_FILTER 40050
#define IDM_SYNC 40216
#define IDM_EMAIL_ALERT 40217
#define IDM_FORUM 40225
// Update rates: the identifier minus 40600 is the period in minutes.
#define IDM_RATE_BASE 40600
#define IDM_RATE_1 40601
#define IDM_RATE_5 40605
#define IDM_RATE_10 40610
#define IDM_RATE_15 40615
#define IDM_RATE_20 40620
#define IDM_RATE_30 40630
#define IDM_RATE_60 40660
#define IDM_RATE_CUSTOM 40699

// The main menu in menu order: ITEM(title, id) on the bar, POPUP(title) opens
// a pop-up whose SUB(title, id) items run to END().
#define KV_MAIN_MENU(ITEM, POPUP, SUB, END) \
    ITEM("Help", IDM_HELP)                  \
    ITEM("Setup", IDM_SETUP)                \
    POPUP("Update Rate")                    \
    SUB("1 Minute", IDM_RATE_1)             \
    SUB("5 Minutes", IDM_RATE_5)            \
    SUB("10 Minutes", IDM_RATE_10)          \
    SUB("15 Minutes", IDM_RATE_15)          \
    SUB("20 Minutes", IDM_RATE_20)          \
    SUB("1/2 Hour", IDM_RATE_30)            \
    SUB("1 Hour", IDM_RATE_60)              \
    SUB("Custom Rate", IDM_RATE_CUSTOM)     \
    END()                                   \
    ITEM("Filter", IDM_FILTER)              \
    ITEM("Reset", IDM_RESET)                \
    ITEM("Sync", IDM_SYNC)                  \
    ITEM("Email Alert", IDM_EMAIL_ALERT)    \
    ITEM("Forum", IDM_FORUM)                \
    ITEM("Quit", IDM_QUIT)

// The string table: STRING(id, text).
#define KV_STRINGS(STRING)                       \
    STRING(IDM_HELP, "Click here for Help")      \
    STRING(IDM_RESET, "Reset the Message File")

#ifndef RC_INVOKED
// Hands the resources to the platform layer (PlatformSetResources); call it
// once at start, before the window class is registered. On Windows the
// executable's own resources are used and this does nothing more.
void RegisterResources(void);

// The table behind RegisterResources, for tests that compare it with what
// LoadMenuA and LoadStringA give.
struct PlatformResources;
const PlatformResources* ProgramResources(void);
#endif
