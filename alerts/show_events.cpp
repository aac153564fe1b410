#include "alerts/show_events.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "alerts/event_lines.h"
#include "alerts/event_log.h"
#include "alerts/smtp_client.h"
#include "sites/data_files.h"
#include "sites/site_list.h"
#include "records/record_file.h"
#include "tessil/display_commands.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

int alertRetrySeconds = 60;

namespace {

constexpr int kAlertAttempts = 5;

HANDLE messageFile = INVALID_HANDLE_VALUE;

int16_t ScreenLine(int line) { return int16_t(tessil::FindField(tessil::kCmdTextFieldRecord, uint16_t(line))); }

void DrawEventPage()
{
    if (ReadEventRecord(eventRecord, 1) != 1) {
        CloseEventLog();
        return;
    }
    for (int i = 0; i < kEventsPerPage; ++i) {
        char line[kEventLineSize];
        FormatEventLine(eventRecord, line, sizeof line);
        int16_t field = ScreenLine(kFirstEventLine + i);
        tessil::SetFieldText(field, line, ' ');
        tessil::SetFieldColour(field, EventLineColour(line));
        if (ReadEventRecord(eventRecord, 0) != 1) {
            for (int rest = kFirstEventLine + i + 1; rest <= kSiteLine; ++rest)
                tessil::SetFieldText(ScreenLine(rest), "  ", ' ');
            break;
        }
    }
    tessil::RefreshFields();
    CloseEventLog();
}

// Writes the pending events' lines, newest first, to the open message file.
// A record without a line of its own counts as an event but writes nothing.
void WritePendingLines()
{
    int got = ReadEventRecord(eventRecord, 1);
    while (got == 1 && pendingEvents > 0) {
        char line[kEventLineSize + 1];
        if (FormatEventLine(eventRecord, line, sizeof line - 1)) {
            std::strcat(line, "\n");
            DWORD written = 0;
            WriteFile(messageFile, line, DWORD(std::strlen(line)), &written, nullptr);
        }
        --pendingEvents;
        if (pendingEvents > 0)
            got = ReadEventRecord(eventRecord, 0);
    }
    CloseEventLog();
}

// The lines of this alert only: what an earlier alert left undelivered was
// given up on then, and a shorter list written over a longer one must not
// leave the tail of an old line behind.
bool OpenMessageFile()
{
    messageFile = CreateFileA(kAlertMessageFile, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    return messageFile != INVALID_HANDLE_VALUE;
}

void CloseMessageFile()
{
    if (messageFile == INVALID_HANDLE_VALUE)
        return;
    SetEndOfFile(messageFile);
    CloseHandle(messageFile);
    messageFile = INVALID_HANDLE_VALUE;
}

// One second with the window live, then a poll; a mouse button (or Esc) seen
// in either ends the program.
void WaitOneRetrySecond()
{
    tessil::mouseButton = 0;
    tessil::WaitTick();
    uint8_t seen = tessil::mouseButton;
    tessil::SystemRequest(1);
    if (seen || tessil::mouseButton) {
        if (tessil::screenHost.exitProgram)
            tessil::screenHost.exitProgram();
        std::exit(0);
    }
}

// Sends the message file, retrying a minute apart. True when an attempt got
// a final answer (accepted, or refused for good).
bool SendAlert()
{
    // The record's field need not end with a NUL.
    char recipient[sizeof currentSite.alertRecipient + 1];
    std::string_view address = FieldText(currentSite.alertRecipient);
    std::snprintf(recipient, sizeof recipient, "%.*s", int(address.size()), address.data());
    for (int attempt = 0; attempt < kAlertAttempts; ++attempt) {
        if (SendAlertMail(recipient, kAlertMessageFile) != 0)
            return true;
        char text[200];
        // No address of the user's own is kept: the alert's recipient is the user.
        std::snprintf(text, sizeof text, "ALERT: UNABLE TO SEND AN EMAIL ALERT TO USER - %.80s", recipient);
        ShowScreenLine(kTitleLine, text);
        std::snprintf(text, sizeof text,
                      "RETRYING EACH MINUTE FOR %d MINUTES, PRESS A MOUSE BUTTON TO EXIT NOW",
                      kAlertAttempts - attempt);
        ShowScreenLine(kSiteLine, text);
        tessil::RefreshFields();
        for (int second = 0; second < alertRetrySeconds; ++second)
            WaitOneRetrySecond();
    }
    return false;
}

void Alert()
{
    uint16_t savedPage = eventPage;
    EventRecord savedRecord = eventRecord;
    eventPage = 1;

    OpenMessageFile();
    ShowEvents(kWriteEventLines);
    CloseMessageFile();

    ShowScreenLine(kSiteLine, "Sending an Email Alert");
    tessil::WaitTick();
    tessil::RefreshFields();
    if (SendAlert())
        DeleteFileA(kAlertMessageFile);

    eventPage = savedPage;
    eventRecord = savedRecord;
}

} // namespace

void ShowScreenLine(int line, const char* text) { tessil::SetFieldText(ScreenLine(line), text, ' '); }

void ShowEvents(uint16_t mode)
{
    switch (mode) {
    case kMailEvents: {
        // The events of this visit count whether or not they were mailed:
        // the driver runs the site's event program on a non-zero count.
        int32_t count = pendingEvents;
        if (count != 0 && currentSite.emailAlerts)
            Alert();
        alertedEvents = uint8_t(count);
        pendingEvents = 0;
        DrawEventPage();
        break;
    }
    case kWriteEventLines:
        if (messageFile != INVALID_HANDLE_VALUE)
            WritePendingLines();
        break;
    case kDrawEvents:
        DrawEventPage();
        break;
    default:
        break;
    }
}
