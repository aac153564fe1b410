// The monitor screen's event page and the alert that mails the events
// gathered since the last one. Screen lines are the monitor screen's text
// fields: 1 the title, 2..26 the 25 event lines, 27 the site line.
#pragma once

#include <cstdint>

// The monitor screen's lines.
inline constexpr int kTitleLine = 1;
inline constexpr int kFirstEventLine = 2; // the 25 event lines follow it
inline constexpr int kSiteLine = 27;

// ShowEvents' modes:
//   kMailEvents       mail the pending events if the site's alerts are on,
//                     then draw the page
//   kWriteEventLines  write the pending events' lines to the open message
//                     file (part of kMailEvents)
//   kDrawEvents       draw the page
inline constexpr uint16_t kMailEvents = 0;
inline constexpr uint16_t kWriteEventLines = 1;
inline constexpr uint16_t kDrawEvents = 2;
void ShowEvents(uint16_t mode);

// Seconds between two attempts to send an alert (60). Tests shorten it.
extern int alertRetrySeconds;

// Puts a text on one of the monitor screen's lines (kTitleLine..kSiteLine),
// blank-filled.
void ShowScreenLine(int line, const char* text);
