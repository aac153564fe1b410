// The monitor screen's 27 text lines on a fresh framework and drive, a
// current site whose event log is "site.msg", and the alert globals reset.
#pragma once

#include <ctime>
#include <string>

#include "alerts/event_log.h"
#include "tessil/tessil_fixture.h"

namespace alerts_test {

class AlertsTest : public tessil_test::TessilTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Text of screen line n (1..27) without its trailing blanks.
    std::string Line(int n) const;
    // The palette index of line n (without the framework's changed mark).
    uint8_t LineColour(int n) const;
    // Fills all 27 lines with a marker text ("old n").
    void MarkLines();

    // Logs an event stamped with the given day and time (month 1..12).
    void Log(uint8_t type, const char* name = "", uint32_t attributes = 0x80, int changed = 0,
             int detail = 0, int month = 3, int day = 7, int hour = 9, int minute = 5);
    // Logs n events of type 9 named "f1" (oldest) .. "fn".
    void LogNumbered(int n);
};

// A file the program names ("\kestrovane\message.txt"): read and checked
// through the same API, since on Windows the drive root is the real one.
std::string ReadProgramFile(const char* path);
bool ProgramFileExists(const char* path);

// A directory entry with a name and attributes, everything else zero.
WIN32_FIND_DATAA Entry(const char* name, uint32_t attributes);

} // namespace alerts_test
