// The program's forms: the web site setup, the site list chooser, the e-mail
// alert screen (screens/email_alert_screen.h) and the request screens of the
// main menu (filter, sync, reset). Each runs its own choice loop on the main thread with the window
// live and returns when the user leaves it or the program is told to end
// (shutdownRequested).
#pragma once

#include <cstdint>

// ---- Web site setup ("setup.tmp") ----------------------------------------------

// The form that edits the site list one record at a time and starts
// monitoring. Returns when monitoring is started (the timers are then armed
// and currentRecordNumber is the record shown last) or the program ends.
void WebSiteSetup();

// Replaces, in every record of the site list, the value of the field typed
// last (field number `field` minus 1; 7 when it is 1) by a value the user
// types, where the record's field equals the old value exactly. Deleted
// records (no FTP host) are left as they are; Esc replaces nothing.
void ReplaceInAllSites(int16_t field, int32_t recordNumber);

// The account of the records IndexSubFolders adds, filled by the setup first.
extern char indexHost[100];
extern char indexUser[100];
extern char indexPassword[100];
extern char indexFileMask[50];

// Adds a site record for every sub-folder of `folder` (depth first) that the
// site list does not yet hold with the remote folder "<remoteFolder>/<name>".
// Folder names come from the disk: a path that would not fit its record
// field is left out rather than cut, and the walk stops 32 levels down.
void IndexSubFolders(const char* folder, const char* remoteFolder, int16_t depth);

// ---- Site list ("list.tmp") -----------------------------------------------------

// Shows the site list four records a page; the user switches records active
// or inactive and picks one. Returns the record number picked, -1 when the
// user left without picking.
int32_t SiteListChooser();

// ---- Request screens --------------------------------------------------------------

// Takes files of the site on screen out of monitoring, or puts them back, by
// clicking their event lines.
void FilterFilesScreen();
// Switches the driver's working synchronise-web and mirror switches, or runs
// the web synchronisation or the mirror once, now ("sync.tmp").
void SyncScreen();
// A new baseline for the site on screen, or a cleared event log ("reset.tmp").
void ResetScreen();

// ---- The driver's entry points ----------------------------------------------------
//
// The screens sit below the monitoring driver (app/) and reach it only
// through this table, which the program's entry fills once at start-up. A
// program without the driver (a test probe of one screen) keeps the
// defaults: no timers, no monitor page, no notice, switches of its own.
struct DriverEntryPoints {
    // Counts the active sites of the site list; with at least one, spreads
    // the update period over them and arms both timers. Returns the count.
    int32_t (*startTimers)();
    // Loads the monitor screen and draws the current site's event page.
    void (*showMonitorPage)();
    // Shows `text` on the monitor's site line for a few seconds.
    void (*showNotice)(const char* text);
    // The driver's working synchronise-web and mirror switches of this cycle.
    uint8_t* syncWebSwitch;
    uint8_t* mirrorSwitch;
};
extern DriverEntryPoints driverEntryPoints;
