// A small window program for the end-to-end tests: the program's own window
// procedure and framework, a screen with one text field and an input box
// over it, and the line editor running in that field. When the editing ends
// the field's text is written to the file named on the command line, and
// the program ends.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "app/resources.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/screen_program.h"
#include "tessil/tessil.h"
#include "probe_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR line, int show)
{
    StartProbeWindow(instance, "KESTROVANE FIELD PROBE", show);
    // A title, a field of 30 characters at row 10 and an input box over it.
    static const uint8_t screenProgram[] = {
        129, 170, 14, 0, 0, 0, 0, 0x27, 0x10, 0x27, 0x10,
        152, 0x80 | 3, 30, 0x01, 0xF4, 0x06, 0x83,
        'T', 'y', 'p', 'e', ' ', 'h', 'e', 'r', 'e', ':', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
        ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
        230, 7, 0x01, 0xF4, 0x06, 0x83, 0x0F, 0xA0, 0x07, 0x08, 0, 0, 255,
        255};
    static uint8_t record[tessil::kRecordSize];
    static uint8_t output[tessil::kCommandBufferSize];
    std::memset(record, 255, sizeof record);
    std::memcpy(record, screenProgram, sizeof screenProgram);
    tessil::LoadScreenProgram(record, output, 0);
    tessil::PlaceCursorOnButton(0);

    uint16_t result = tessil::EditField(1, nullptr, 0, false);
    char text[160];
    tessil::GetFieldText(int16_t(tessil::FindField(252, 1)), text, sizeof text, 0);
    char path[MAX_PATH];
    std::snprintf(path, sizeof path, "%s", line ? line : "");
    HANDLE out = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out != INVALID_HANDLE_VALUE) {
        char report[200];
        int n = std::snprintf(report, sizeof report, "%u %s", unsigned(result), text);
        DWORD written = 0;
        WriteFile(out, report, DWORD(n), &written, nullptr);
        CloseHandle(out);
    }
    ShutdownCleanup();
}
