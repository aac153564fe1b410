// The program's forms above the monitoring driver: the web site setup, the
// site list chooser and the request screens of the main menu (filter, sync,
// reset). Each runs its own choice loop on the main thread with the window
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

// Fills the driver's screen table (core/monitor.h) with the screens above;
// called once by the program's entry.
void InstallSetupScreens();
