// The line each event shows on the monitor screen and in an alert mail, and
// its colour.
//
//   Type  Entry / flags                 Line after "MM-DD hh:mm "
//   ----  ----------------------------  ------------------------------------
//    1    detail 3                      PUTB FAIL (SW  ) name
//    1    detail 4, changed / not       LINK RELO / LINK FND  (SW  ) name
//    1    detail 5, changed / not       MODE RELO / MODE CHNG (SW  ) name
//    1    detail 6                      CLCK SHFT (SW  ) shift  (in the name)
//    1    detail 7                      LIST TRNC (SW  ) folder (in the name)
//    1    folder entry, other detail    FLDR CHNG (SW  ) name   (not . or ..)
//    1    file, changed                 FILE RELO (SW  ) name
//    1    file, not changed             FILE XFND (SW  ) name
//    2    file, changed, detail 2       NEWF UPLD (CWU ) name
//    2    file, changed, other detail   FILE CHUP (CWU ) name
//    3/4  -                             COMM STAT (SW  ) UNABLE TO CONNECT TO
//                                       WEBSERVER / CONNECTION RE-ESTABLISHED
//    5/6  -                             the same with (CWU )
//    7/8  -                             the same with (MFS )
//    9    -                             FILE DEL  (STAT) name
//    9    detail 1 (not deleted)        FILE NDEL (STAT) name
//   10    -                             FILE DWNL (DYN ) name
//  11/12  -                             the same as 3/4 with (BLNE)
//  13/14  -                             the same as 3/4 with (MFW )
//  15/16  -                             COMM STAT (OPEN) UNABLE TO CONNECT TO
//                                       INTERNET / CONNECTION TO INTERNET
//                                       RE-ESTABLISHED
//   17    -                             FLDR DEL  (STAT) name
//   17    detail 1 (not deleted)        FLDR NDEL (STAT) name
//
// A folder entry is any attribute word with the directory bit. The entry of
// a connection event is empty, but an "UNABLE TO CONNECT" event (3, 5, 7, 11,
// 13, 15) may hold why in the name ("certificate expired"): the line then
// ends with ": " and that text.
#pragma once

#include <cstddef>

#include "alerts/event_log.h"

// A buffer that holds any event line: the stamp and tag, and a whole name.
constexpr size_t kEventLineSize = 320;

// Makes the record's line. False, with an empty line, for a record that has
// none of its own (a type-1 "." or ".." folder, a type-2 folder or unchanged
// file, a type outside 1..17). Control characters of the name become '?', so
// one event is always one line of text.
bool FormatEventLine(const EventRecord& record, char* line, size_t lineSize);

// The palette index of a line: 11 for FLDR CHNG and CLCK SHFT, 4 for PUTB
// FAIL, LIST TRNC and NDEL, 4 or 5 for COMM STAT (UNABLE TO or not), 7 for
// FILE XFND, LINK FND and MODE CHNG, else 3.
uint8_t EventLineColour(const char* line);
