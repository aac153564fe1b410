// What a file name may be used for, and the safety of local writes.
//
// A name listed by a server is untrusted: it may be spelled so that, used as
// a local name, it reaches another file ("INDEX.HTML" or "index.html." is the
// local "index.html", both on Windows and through our path translation), a
// device ("CON"), a stream ("shell:.php") or another folder ("a\b"). Such a
// file is still seen and reported; it is only never turned into a local path.
//
// The rule, for every pass and for both systems:
//
//   kNotAFile    "", "." and "..": never acted on.
//   kScratch     the program's own scratch file (a download in progress, or
//                one a killed program left behind): ".kv-part-D-D.part" or,
//                as earlier builds named them, ".kv-ftpget-D-D.part", D a run
//                of digits. Never acted on as a file of the site; the
//                start-up clean-up removes it from the secure server folders.
//   kServerOnly  unsafe as a local name: contains "/", "\", ":", "*", "?",
//                '"', "<", ">", "|" or a control character (below 32, or
//                127); ends in "." or " "; is a device name (CON, PRN, AUX,
//                NUL, CONIN$, CONOUT$, COM0-9, LPT0-9, COM and LPT with a
//                superscript 1-3) with or without an extension; or is longer
//                than kMaxLocalNameLength. Used on the server only, as itself
//                in its own folder (compared, reported, deleted there); never
//                downloaded, quarantined or mirrored.
//   kLocal       may also be a local file name. A local write still goes
//                through LocalWriteAllowed, which catches a file of another
//                spelling (case) that already holds the name.
#pragma once

#include <cstdint>

#include "platform/win32.h"

enum class FileNameUse : uint8_t { kNotAFile, kScratch, kServerOnly, kLocal };

// A path component of either system holds at most 255 bytes.
inline constexpr int kMaxLocalNameLength = 255;

// The scratch names: kScratchPrefix, digits, "-", digits, kScratchSuffix.
inline constexpr const char kScratchPrefix[] = ".kv-part-";
inline constexpr const char kScratchSuffix[] = ".part";

// Call for every name a listing (remote or local) returns, before acting on
// it. `name` is untrusted; only its first 300 bytes are looked at, and a
// longer name is kServerOnly. A null name is kNotAFile.
FileNameUse ClassifyFileName(const char* name);

// Call just before writing a local file whose name came from a listing
// (download, quarantine copy, mirror write). True when `path` may be written:
// its last component is a kLocal name, the path is shorter than MAX_PATH,
// and the system finds no entry for it (FindFirstFileA) or one that carries
// exactly that last component, byte for byte. False, with
// the last error set, otherwise: ERROR_INVALID_NAME for a name that is not
// kLocal or a path too long, ERROR_ALREADY_EXISTS when a file of another
// spelling would be written through, the lookup's own error when the folder
// cannot be read. Only the last component is checked; the folder part is the
// program's own.
bool LocalWriteAllowed(const char* path);

// Deletes the program's scratch files (kScratch names, files only) in
// `folder` ("" for the current folder; with or without a trailing "\").
// Call at start for each secure server folder, before any download runs
// there. Returns the number removed; a folder that cannot be read is 0.
int RemoveScratchFiles(const char* folder);
