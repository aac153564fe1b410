// The pure parts of the roadmap pass's clean-up: the site command's numbers
// and the dates it compares. Internal to engine/.
#pragma once

#include <ctime>
#include <string_view>

#include "platform/win32.h"

namespace engine {

// What the site command asks to clean up before the roadmap.
enum class CleanUpKind { kNone, kByListedDate, kByNameDate };
struct CleanUp {
    CleanUpKind kind = CleanUpKind::kNone;
    long days = 0;
    bool thenExit = false; // end after the clean-up, without a roadmap
};

// Reads the site command `command` (untrusted; its bytes only):
// "DELETE_OLD_FILES" with its number 17 bytes on (by listed date; then
// "THEN_EXIT" after the number ends the pass), otherwise "CLEANUP" with its
// number 8 bytes on (by the date in the name). A number that cannot be read
// (CommandNumber) asks for no clean-up; "DELETE_OLD_FILES" still hides
// "CLEANUP" then.
CleanUp ReadCleanUp(std::string_view command);

// Dates are compared as text: "YYYYMMDD" and its NUL.
using DateText = char[9];

// The furthest a clean-up's number may reach either way, in days (about a
// century). A larger number is a typo, not a wish: the clean-up is skipped.
inline constexpr long kMaxCleanUpDays = 36500;

// The number that starts `offset` bytes after the first `keyword` of the
// site command `command` (untrusted: read only within its bytes): blanks, an
// optional sign, then decimal digits. Returns false when the keyword is
// missing, no digit follows, or the number passes kMaxCleanUpDays either
// way; otherwise `days` holds it and `end` the offset just past its digits.
bool CommandNumber(std::string_view command, std::string_view keyword, size_t offset, long& days, size_t& end);

// The local calendar date `days` days after `now` ("%04d%02d%02d"). False
// when the system cannot express it.
bool CutOffDate(std::time_t now, long days, DateText& date);

// The date a listing gives for an entry, as listed (no clock offset). False
// for a time the listing could not read (all zero) or cannot convert: such
// an entry is never taken for old.
bool ListedDate(const FILETIME& lastWrite, DateText& date);

// The date a file name carries: the 8 characters from its third character
// when that is a digit, otherwise from its fourth. False unless all eight
// are decimal digits ("FAQ-2011.htm" carries none).
bool NameDate(std::string_view name, DateText& date);

} // namespace engine
