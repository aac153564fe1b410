// Display commands: the byte code every screen is drawn with.
//
// A display list is a sequence of commands ending with 255. Each command
// starts with its opcode (128..255); its length is fixed by the opcode or
// carried in the command (b[i] is byte i of the command, the opcode b[0]):
//
//   opcode        length                  action
//   128           1                       restore the user's text font
//   129           1                       clear the screen to colour 0, restore the font
//   130           12 + 256 b[2] + b[3]    monochrome image: colour b[1], data length
//                                         b[2..3], at (b[4..5], b[6..7]), b[8..9] x
//                                         b[10..11] pixels, rows of whole bytes from b[12]
//   131, 135      3 + 4 b[2]              polyline, colour b[1], b[2] points; 135 dashed
//   132           10                      ellipse through two points
//   133           14                      ellipse through two points with a height
//   134           14                      curve: colour b[1], from (b[2..5]) to (b[6..9])
//                                         pulled toward (b[10..13])
//   151           7 + b[2]                text in fixed font B, colour b[1]
//   152, 153      7 + b[2]                text field
//   160           2                       colour parameter := b[1] - 16
//   161, 162      2                       chain to screen record b[1]
//   163           2                       show now; pause b[1] x 50 ms, 255 = wait for a choice
//   170           10                      filled rectangle, colour b[1], corners b[2..9]
//   172           6                       flood fill, colour b[1], seed b[2..5]
//   178           3                       character size codes b[1] (font), b[2] (row height)
//   179           5                       text grid for Windows-font text
//   180, 181      1                       text background opaque / transparent
//   185, 188      11                      filled rectangle b[3..10] in colour b[1]; 188 by
//                                         exclusive-or; skipped when b[1] = b[2] = 0
//   186           10                      begin a viewport (b[2..9])
//   187           1                       end the viewport
//   189-191       12                      bevelled frame: flat, raised, sunken
//   192, 193      12                      flat frame with a black shadow band
//   201, 205, 222 11                      data only
//   202           13 + 4 b[11]            data only
//   203, 207      12                      rounded box: colour b[1], corners b[2..9],
//                                         corner radius b[10..11]
//   206           12 + b[11]              button (drawn by the screen loader)
//   208, 209      28                      data only
//   210, 212      13                      table lookup
//   211           10                      data only
//   213, 214      11                      table lookup
//   215           5 + 4 b[4] + 2 b[3]     filled polygon of b[4] points from b[5], then
//                                         b[3] 16-bit values; the first is its colour
//   216           4                       data only
//   217           8                       data only
//   220           6 + b[5]                data only
//   221           2 + b[1]                data only
//   230, 232      13                      button
//   231           14 + b[13]              raised frame of a button (as 190)
//   233           14 + b[13]              button
//   234           14 + b[13]              picture: colour b[1], rectangle b[2..9],
//                                         record b[12], file name of b[13] characters
//   254           1                       no operation
//   255           1                       end of list
//
// Positions are screen units (0..10000), high byte first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessil {

enum : uint8_t {
    kCmdRestoreFont = 128,
    kCmdClearScreen = 129,
    kCmdImage = 130,
    kCmdPolyline = 131,
    kCmdEllipse = 132,
    kCmdEllipseHeight = 133,
    kCmdCurve = 134,
    kCmdDashedPolyline = 135,
    kCmdText = 151,
    kCmdTextField = 152,
    kCmdTextField2 = 153,
    kCmdColourParameter = 160,
    kCmdChain = 161,
    kCmdChain2 = 162,
    kCmdShowNow = 163,
    kCmdFillRect = 170,
    kCmdFloodFill = 172,
    kCmdCharSize = 178,
    kCmdTextGrid = 179,
    kCmdOpaqueText = 180,
    kCmdTransparentText = 181,
    kCmdSavedRect = 185,
    kCmdViewport = 186,
    kCmdEndViewport = 187,
    kCmdXorRect = 188,
    kCmdFlatFrame = 189,
    kCmdRaisedFrame = 190,
    kCmdSunkenFrame = 191,
    kCmdShadowFrame = 192,
    kCmdShadowFrame2 = 193,
    kCmdData201 = 201,
    kCmdData202 = 202,
    kCmdRoundBox = 203,
    kCmdButton205 = 205,
    kCmdButton206 = 206,
    kCmdRoundBox2 = 207,
    kCmdData208 = 208,
    kCmdData209 = 209,
    kCmdTableLookup210 = 210,
    kCmdData211 = 211,
    kCmdTableLookup212 = 212,
    kCmdTableLookup213 = 213,
    kCmdTableLookup214 = 214,
    kCmdPolygon = 215,
    kCmdScreenOptions = 216,
    kCmdData217 = 217,
    kCmdData220 = 220,
    kCmdData221 = 221,
    kCmdData222 = 222,
    kCmdButton230 = 230,
    kCmdButtonFrame = 231,
    kCmdButton232 = 232,
    kCmdButton233 = 233,
    kCmdPicture = 234,
    kCmdTextFieldRecord = 252, // the kind byte of a text field record, not a command
    kCmdNop = 254,
    kCmdEnd = 255,
};

// Bit 7 of byte 1 of a text field command (152, 153): the loader makes the
// command a text field record. In a record the same bit means "drawn".
constexpr uint8_t kFieldFlag = 0x80;
// Where the text starts in a text command (151..153) and in a text field
// record, which keeps the command's bytes 1..6 after its kind byte.
constexpr size_t kFieldTextOffset = 7;
// A text field record holds its width's characters and this many more, so
// that an edited text may run past what the field shows.
constexpr int kFieldOverrun = 100;

// True for the bytes that start a command.
bool IsDisplayOpcode(uint8_t byte);

// The length of the command at `command`, of which `available` bytes are in
// the buffer. 0 for a byte that is no known opcode, or when the bytes the
// length depends on, or the command itself, run past the buffer.
size_t DisplayCommandLength(const uint8_t* command, size_t available);

// Executes the commands in [start, end) into the surface without presenting
// it (ExecuteDisplayList presents). mode 0 runs every command; any other mode
// only a leading text command (151). A byte that is no opcode stops the list
// with the notice "Invalid TWINDOW Event %d, encountered"; a command that
// would run past `end` stops it silently.
void DispatchDisplayCommands(const uint8_t* start, const uint8_t* end, int mode);

} // namespace tessil
