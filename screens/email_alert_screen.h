// The e-mail alert screen ("email.tmp"): the settings with which a site's
// alerts are mailed (recipient, mail server, mail account, port) and the
// site's alerts switch. The web site setup opens it for the site it edits.
#pragma once

#include <cstdint>

#include "sites/site_record.h"

// Edits the e-mail block of `site`, record `recordNumber` (from 1) of the
// site list, until the user saves or cancels, or the program ends. Call with
// the window live, on the main thread.
//
// The screen edits working copies kept for the life of the program. They are
// filled from `site` only when the working recipient is empty (first use, or
// after Clear); otherwise they keep the values last shown, even for another
// site, and those are what Save stores. Save writes the record (when its FTP
// host is not empty); Switch writes it only when it flips the alerts flag,
// which needs every value (a port above 0); Cancel reads the record back from
// the site list into `site`. When the site list cannot be written, a notice
// says so: Switch leaves the flag as it was and Save keeps the screen open.
//
// What the user types is untrusted: each value is cut at its first blank or
// control character; a text longer than its working copy (recipient and
// server 79, user name 31, password 29 characters) is refused and the copy
// keeps its value; a port is read from its leading digits (0..32767), and a
// port that does not begin with a digit, or is larger, leaves the old one.
void EmailAlertScreen(SiteRecord& site, int32_t recordNumber);
