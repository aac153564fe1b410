// Prompts: the choice wait, placing the pointer on an input box, the line
// editor that runs inside a text field, and reading a field's text.
//
// Buttons are field records of kind 206 (rectangle in bytes 1..8, code in
// byte 9) and 230..233 (rectangle in bytes 2..9, code in byte 12). Code 255
// marks an input box over an editable field; any other code a button.
//
// Line editor keys (queued by the input loop, see input.h):
//   Enter, Tab, a click   end: 255 with the cursor at 0, else the width
//   Up / Down             end: 253 / 254
//   Esc                   end: 0, and mouseButton := 2
//   Ctrl+Delete           clear from the cursor to the end; end: the width
//   Left / Right          move the cursor (Right turns a NUL into a blank)
//   Delete                remove the character under the cursor
//   Backspace             remove the character before the cursor
//   Insert                toggle insert mode
//   a printable character written at the cursor (shifting right in insert
//                         mode); control characters are ignored
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessil {

// Results of WaitForChoice.
enum : uint16_t {
    kChoiceEdited = 0,  // the editor ended without a click; field = its result
    kChoiceButton = 1,  // field = the clicked button's index
    kChoiceCancel = 2,  // right button, Esc or shutdown
    kChoiceMissed = 3,  // a click outside every button, no field edited
};

// field: in, the index the hit test starts from; out, the chosen index or the
// editor's result. wait = 255 waits for the user. entry: the text-field
// ordinal to edit while waiting, 0 for none. A mouseButton code of 201 or
// more is returned as it is.
uint16_t WaitForChoice(uint16_t& field, uint8_t wait, uint16_t entry);

// True while a choice wait runs (a form is shown): the window then refuses
// to be maximised.
bool ChoiceWaitRunning();

// The code byte of a button field (255 for an input box); 0 for an index that
// names no button.
uint8_t ButtonCode(uint16_t field);

// Moves the pointer onto the first input box at or after field index `from`;
// returns its index + 1, or 0 when there is none.
uint16_t PlaceCursorOnButton(uint16_t from);

// Edits text field number `entry` (its ordinal among the text fields). With a
// caller's buffer (text, of textSize bytes) the field starts from and is kept
// in step with it; keep = 0 starts empty. Results: 255, the width, 253, 254
// or 0 (see the key table above).
uint16_t EditField(uint16_t entry, char* text, size_t textSize, bool keep);

// Copies a text field's characters into out (of outSize bytes, cleared
// first) up to the first one equal to stop or its width + 100, NULs before
// that becoming blanks; resets the scroll offset. Returns the length, 0 for
// an index that names no text field.
uint16_t GetFieldText(int16_t field, char* out, size_t outSize, char stop);

} // namespace tessil
