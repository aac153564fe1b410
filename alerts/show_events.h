// The monitor screen's event page and the alert that mails the events
// gathered since the last one. Screen lines are the monitor screen's text
// fields: 1 the title, 2..26 the 25 event lines, 27 the site line.
#pragma once

#include <cstdint>

// 0: mail the pending events if the site's alerts are on, then draw the page;
// 1: write the pending events' lines to the open message file (part of 0);
// 2: draw the page.
void ShowEvents(uint16_t mode);

// Seconds between two attempts to send an alert (60). Tests shorten it.
extern int alertRetrySeconds;

// Puts a text on one of the monitor screen's lines (1..27), blank-filled.
void ShowScreenLine(int line, const char* text);
