// Starting the editor, the web browser and batch files for every part of the
// program.
#pragma once

#include <cstdint>

// Starts `program` with its arguments: with count 1 `arguments` is one text,
// with count 2 or more it is a list of `count` texts (const char* const*).
// A program text that contains "editor" or "EDITOR" means "notepad.exe";
// "notepad.exe" is replaced by the editor that "\kestrovane\notepad.alias"
// names, when it names one. doNotWait 0 waits: for an editor or the browser
// until the main window has the focus back, for any other program until it
// creates "\kestrovane\STATUS.FIL". Returns 0 when started, -1 when not.
int32_t LaunchProgram(uint16_t count, uint16_t doNotWait, const char* program, const void* arguments);
