// Screen programs: records of display commands in screen files ("books"),
// loaded into the field table and drawn.
//
// Loading walks a record command by command (lengths from
// display_commands.h). 128/129 start a screen (the field table is emptied);
// a text field command with bit 7 of byte 1 set becomes a text field record;
// 205/206 and 230..233 become button records (206 is drawn as a flat box);
// 161 chains to another record of the same file; 216 names a follow-up
// screen; other drawing commands go to the output list, data-only commands
// are passed over.
//
// Field records (in the dynamic block's field area):
//   text field   252, bytes 1..6 of the command, its w characters, 100 zeros
//   button 205   205, bytes 2..10 of the command
//   button 206   206, bytes 2..10 of the command (rectangle, code), its
//                caption of b[11] characters, a 0
//   230..233     the whole command
//
// Screen options, command 216 (4 bytes, data only):
//   b[1]  record of the same file run when this one has loaded (0: none)
//   b[2]  0 = a field edited in the choice wait starts empty, else it keeps
//         its text (the default when a screen has no 216)
#pragma once

#include <cstdint>

namespace tessil {

// A screen file is an array of records of kRecordSize bytes; a display list
// the framework builds fits kCommandBufferSize bytes.
constexpr int kRecordSize = 3200;
constexpr int kCommandBufferSize = 3200;
// The screen library's record that carries the 8 x 8 font, stored inverted
// from byte kFont8x8Offset on (its list must end before it).
constexpr int kFontRecord = 21;
constexpr int kFont8x8Offset = 1152;
constexpr int kFont8x8Size = 2048;

// Loads one record of kRecordSize bytes; `output` (kCommandBufferSize bytes)
// takes the display lists it draws. Load modes: 0 and 1 draw; 2 and above only rebuild the field table (3
// re-runs the current screen after a pause); 4 also copies every command
// to the output.
int LoadScreenProgram(const uint8_t* record, uint8_t* output, int mode);

// Makes `path` the current screen file and loads record `record` of it; when
// that fails the previous file is tried with the same record, and then the
// book-not-found notice is shown and the program ends after 5 seconds.
int OpenBook(const char* path, int record, int mode);

// Runs record `record` of the screen named `name` (its extension replaced by
// ".plt"). Returns 1 when the record is empty or begins with 255, else 0.
int RunScreen(const char* name, int record, int mode);

// The screen last run through RunScreen (the program switches its menu by it).
const char* MenuScreenName();

// The keep option of the current screen for fields edited in the choice wait.
bool ScreenKeepsEntryText();

// Command 163 with 255: waits for the user's choice and has the current
// screen re-run (after the list that holds the command) unless the choice was
// a right click or a function key.
void WaitAndRerunScreen();
void RunPendingRerun();

} // namespace tessil
