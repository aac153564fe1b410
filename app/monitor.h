// The monitoring driver and the main menu: the loop that works every active
// site of the site list once per cycle at the update rate, the menu commands
// carried out while it waits, and the connection beeper.
//
// The cycle (main thread only):
//   1. For each record of the site list in record order, until one does not
//      read whole or shutdownRequested is set: an active record is visited
//      (VisitSite); then the driver waits with the live menu (101) until
//      timer 98 marks the next site due. An inactive or deleted record is
//      skipped without a wait.
//   2. After the last record the driver waits with the live menu until timer
//      99 marks the next cycle due; both timers are then re-armed.
//   3. The program ends through ShutdownCleanup when shutdownRequested is set
//      (menu Quit, the window closed, "QUIT" in a site's option text).
//
// Invariants:
//   D1  No FTP connection stays open between two engine steps:
//       ConnectSite(kCloseConnection) follows every step of a visit.
//   D2  A visit is never interrupted by the timers; they only decide when the
//       next visit starts. Menu 106 (all greyed) is set while a visit works,
//       101 while the driver waits (menuLive says which).
//   D3  Every wait pumps the window's messages and tests shutdownRequested at
//       least every 250 ms, so the menu, the page buttons and Quit stay live.
//   D4  A pass that asks to be run again is run again at most passRepeats
//       times per visit (engine.h): a site that keeps failing cannot hold
//       the driver on one visit for ever.
//   D5  A visit's cost does not depend on the length of the site list: the
//       record is read at its offset and only counting walks the list, once
//       whenever the rate is set.
#pragma once

#include <cstdint>
#include <string>

#include "net/connection.h"

// ---- State of the driver ------------------------------------------------------
//
// updatePeriodSeconds, siteIntervalSeconds, siteDue and cycleDue are in
// app/app.h; currentSite and currentRecordNumber in sites/site_list.h;
// eventPage and alertedEvents in alerts/event_log.h.

// Number of records with the active flag on, counted whenever the rate is set.
extern int32_t activeSiteCount;
// The record number (from 1) of the site last visited; 0 before the first.
extern int32_t visitedRecordNumber;
// 1 while the live menu is shown (the driver waits), 0 while it works.
extern uint8_t menuLive;
// The working copies of the current site's synchronise-web and mirror
// switches: taken from its record at the start of each visit; the sync
// request may change them for the rest of the cycle without writing them to
// the site list.
extern uint8_t syncWebSwitch;
extern uint8_t mirrorSwitch;
// Set by ShutdownCleanup; the beeper thread ends when it sees it.
extern volatile uint8_t exitingFlag;

// ---- The driver -------------------------------------------------------------------

// The program's main loop, called once at the end of start-up; returns only
// through ShutdownCleanup. The command word (app/app.h) chooses the rate:
// "run" (any case): one minute per active site; a decimal number M: M
// minutes a cycle; empty or anything else: the web site setup first.
void MonitorMain();

// What VisitSite did with a record.
enum class SiteVisit : uint8_t {
    kEndOfList, // the record does not read whole: the cycle's site loop ends
    kSkipped,   // inactive or deleted: no work, no wait
    kWorked,    // worked; the site wait follows
    kQuit,      // worked, and its option text holds "QUIT": the program ends
};

// Works site list record `number` (from 1) once: copies it into the current
// site, fills the connection account, runs the baseline and then the check
// or mirror passes, shows the status and site lines and the event page
// (mailing the visit's events when the site's alerts are on), and carries
// out the option text. currentRecordNumber := number.
SiteVisit VisitSite(int32_t number);

// ---- The monitor screen ---------------------------------------------------------------

// Loads the monitor screen (kestrvane.bk record 1) and draws the current
// site's event page; the status and site lines are drawn anew next time.
void ShowMonitorPage();

// Puts the status line into text line 1 and the site line into text line 27
// and draws them, when they differ from what they show.
void ShowDriverLines();

// "MONITOR - PAGE %d STATUS: SUSPENDED UPDATE: %d MINUTES, EMAIL ALERTS: ON"
// (or "OFF") is the status line; the site line is "%s/%s/%s" (host, remote
// folder, mask) or "%s/%s" without a remote folder, the site list's path
// before the first visit, or a notice while one is shown.
std::string DriverSiteLine();

// Shows `text` on the site line for a few seconds (the driver's waits keep
// it there) and then the site line again.
void ShowDriverNotice(const char* text);

// ---- Update rate and timers ----------------------------------------------------------

// Sets the update period to `minutes` and counts the active sites; when there
// is at least one, siteIntervalSeconds := the period / the count (at least 1)
// and both timers are re-armed; otherwise only the period is stored. Returns
// the count.
int32_t SetUpdateRate(int32_t minutes);

// The same at the period set last: counts the active sites and, with at
// least one, spreads the period over them and arms both timers (the setup's
// start command, through the screens' table of the driver's entry points).
int32_t SpreadPeriodOverActiveSites();

// Fills that table (screens/screens.h); called once by the program's entry.
void FillDriverEntryPoints();

// Kills and sets timer 98 (siteIntervalSeconds) and timer 99
// (updatePeriodSeconds) on the main window.
void ArmTimers();

// The milliseconds of a timer of `seconds`. KESTROVANE_TIME_SCALE (an integer
// 1..3600, platform/extensions.h) divides them, so that tests and demos can
// watch whole cycles in seconds; the periods and the status line stay as the
// user chose them. At least 1 ms; never overflows.
uint32_t TimerMilliseconds(int32_t seconds);

// ---- The main menu ----------------------------------------------------------------

// Called four times a second by the driver's waits: pumps the window's
// messages, turns the event page on a click of the page buttons (codes 90
// and 91), and carries out the menu command the window procedure recorded
// (app/resources.h lists the items). Quit wakes the driver and sets
// shutdownRequested.
void MenuPoll();

// Ends the current wait of the driver at its next test (siteDue and cycleDue).
void WakeDriver();

// The user forum page that "Forum" opens.
inline constexpr const char* kForumAddress = "https://forum.kestrovane.com/";

// ---- The connection's news and the beeper -------------------------------------------

// The connection layer's listener (internetListener, net/connection.h), set
// by the program's entry: kLost logs event 15 and mails it at once, and
// shows "KESTROVANE MONITOR - PAGE %d STATUS: 0 LOST INTERNET CONNECTION";
// kBack logs event 16 likewise, shows "... STATUS: INTERNET CONNECTION
// RE-ESTABLISHED" and starts "cmd /c \kestrovane\monitor.bat" without
// waiting for it.
void ActOnInternetNews(InternetNews news);

// Starts the beeper thread once: while connection attempts fail
// (connectionFailed, net/connection.h) it sounds the system beep at most once
// a second; it ends when exitingFlag or shutdownRequested is set.
void StartConnectionBeeper();

// Waits until the beeper thread has ended (at most about a second).
void StopConnectionBeeper();
