#include "screens/email_alert_screen.h"

#include <cstdio>
#include <cstring>

#include "screens/launch_program.h"
#include "sites/site_list.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/screen_program.h"
#include "tessil/tessil.h"

// Field and code table of the form (record 1 of email.plt):
//   text field 1..5   recipient, mail server, user name, password (masked),
//                     port: the values the user types
//   text field 6      "EMAIL:YES" / "EMAIL:NO", the record's alerts flag
//   text field 7      a notice (a refused value) or the hint
//   text field 8..12  the marker of the field being edited (1..5)
//   code 10           clear every value
//   code 11..15       edit text field 1..5
//   code 95           switch the alerts on or off
//   code 97           help (emailsetup.txt in the editor)
//   code 98 / 99      cancel / save, and close
namespace {

constexpr uint16_t kValueFields = 5;
constexpr uint16_t kAlertsField = 6;
constexpr uint16_t kNoticeField = 7;
constexpr uint16_t kFirstMarkerField = 8;
constexpr uint16_t kPortField = 5;
constexpr uint16_t kPasswordField = 4;

constexpr uint8_t kClear = 10;
constexpr uint8_t kEditFirst = 11;
constexpr uint8_t kSwitchAlerts = 95;
constexpr uint8_t kHelp = 97;
constexpr uint8_t kCancel = 98;
constexpr uint8_t kSave = 99;

constexpr int16_t kMaxPort = 32767;
constexpr uint8_t kTitleAttribute = 0xE3; // white on navy
constexpr const char* kNotWritten = "THE SITE LIST COULD NOT BE WRITTEN - NOTHING WAS SAVED";

// The working copies. They are as wide as the record's fields, so that a
// value read from a record is never cut; what the user types is held to the
// limits below.
struct WorkingCopies {
    char recipient[sizeof SiteRecord::alertRecipient];
    char server[sizeof SiteRecord::mailServer];
    char user[sizeof SiteRecord::mailUserName];
    char password[sizeof SiteRecord::mailPassword];
    int16_t port;
};
WorkingCopies work;
uint16_t entryField = 1;

struct TextValue {
    char* copy;
    size_t size;
    size_t maxTyped; // characters a typed value may have
    const char* name;
};
TextValue TextValueOf(uint16_t field)
{
    switch (field) {
    case 1: return {work.recipient, sizeof work.recipient, 79, "RECIPIENT"};
    case 2: return {work.server, sizeof work.server, 79, "MAIL SERVER"};
    case 3: return {work.user, sizeof work.user, 31, "USER NAME"};
    default: return {work.password, sizeof work.password, 29, "PASSWORD"};
    }
}

char notice[80];

void FillFromRecord(const SiteRecord& site)
{
    CopyField(work.recipient, site.alertRecipient);
    CopyField(work.server, site.mailServer);
    CopyField(work.user, site.mailUserName);
    CopyField(work.password, site.mailPassword);
    work.port = SiteMailPort(site);
}

void CopyIntoRecord(SiteRecord& site)
{
    CopyField(site.alertRecipient, work.recipient);
    CopyField(site.mailServer, work.server);
    CopyField(site.mailUserName, work.user);
    CopyField(site.mailPassword, work.password);
    SetSiteMailPort(site, work.port);
}

bool AllValuesSet()
{
    return work.recipient[0] && work.server[0] && work.user[0] && work.password[0] && work.port > 0;
}

int16_t TextField(uint16_t ordinal) { return int16_t(tessil::FindField(252, ordinal)); }

void Draw(const SiteRecord& site)
{
    tessil::RunScreen("email.tmp", 1, 1);
    tessil::ShowMessageLine("EMAIL ALERTS CONFIGURATION", 1, 0, kTitleAttribute);
    for (uint16_t field = 1; field < kPortField; ++field)
        tessil::SetFieldText(TextField(field), TextValueOf(field).copy, ' ');
    tessil::MaskField(TextField(kPasswordField));
    tessil::SetFieldValue(TextField(kPortField), "%d", &work.port, ' ');
    tessil::SetFieldText(TextField(kAlertsField), site.emailAlerts ? "EMAIL:YES" : "EMAIL:NO", ' ');
    tessil::SetFieldText(TextField(kNoticeField),
                         notice[0] ? notice : "ENTER OR TAB: NEXT FIELD. CLICK A FIELD TO EDIT IT.", ' ');
    for (uint16_t field = 1; field <= kValueFields; ++field)
        tessil::SetFieldText(TextField(uint16_t(kFirstMarkerField + field - 1)), field == entryField ? ">" : " ",
                             ' ');
    notice[0] = 0;
    tessil::RefreshFields();
    tessil::PlaceCursorOnButton(0);
}

// Takes the entry field's text into its working copy: up to the first blank
// or control character, and only when it fits.
void TakeEntry()
{
    char text[256];
    tessil::GetFieldText(TextField(entryField), text, sizeof text, 0);
    size_t length = 0;
    while (text[length] && static_cast<unsigned char>(text[length]) >= 33)
        ++length;
    text[length] = 0;
    if (entryField == kPortField) {
        // "25x" is port 25; a text that begins with no digit is no port.
        long port = 0;
        size_t digits = 0;
        while (digits < length && text[digits] >= '0' && text[digits] <= '9' && port <= kMaxPort)
            port = port * 10 + (text[digits++] - '0');
        if (digits > 0 && port <= kMaxPort)
            work.port = int16_t(port);
        else if (digits > 0)
            std::snprintf(notice, sizeof notice, "PORT: AT MOST %d - THE OLD PORT IS KEPT", kMaxPort);
    } else {
        TextValue value = TextValueOf(entryField);
        if (length <= value.maxTyped)
            CopyField(value.copy, value.size, text);
        else
            std::snprintf(notice, sizeof notice, "%s: AT MOST %zu CHARACTERS - THE OLD VALUE IS KEPT", value.name,
                          value.maxTyped);
    }
    entryField = entryField % kValueFields + 1;
}

} // namespace

void EmailAlertScreen(SiteRecord& site, int32_t recordNumber)
{
    if (!work.recipient[0])
        FillFromRecord(site);
    entryField = 1;
    // Without a window (or a scripted user) no choice can come.
    while (tessil::CanWaitForInput()) {
        Draw(site);
        uint16_t field = 0;
        uint16_t result = tessil::WaitForChoice(field, 255, entryField);
        if (tessil::shutdownRequested)
            return;
        // The click or key is used up here, so that the next wait waits.
        tessil::mouseButton = 0;
        if (result != tessil::kChoiceEdited && result != tessil::kChoiceButton)
            continue; // right button or Esc: only redraw
        TakeEntry();
        if (result != tessil::kChoiceButton)
            continue;
        uint8_t code = tessil::ButtonCode(field);
        if (code == kClear) {
            work = WorkingCopies{};
            std::memset(site.alertRecipient, 0, sizeof site.alertRecipient);
            std::memset(site.mailServer, 0, sizeof site.mailServer);
            std::memset(site.mailUserName, 0, sizeof site.mailUserName);
            std::memset(site.mailPassword, 0, sizeof site.mailPassword);
            entryField = 1;
        } else if (code >= kEditFirst && code < kEditFirst + kValueFields) {
            entryField = uint16_t(code - kEditFirst + 1);
        } else if (code == kSwitchAlerts) {
            CopyIntoRecord(site);
            if (AllValuesSet()) {
                site.emailAlerts = site.emailAlerts ? 0 : 1;
                // The switch shows what the site list holds.
                if (WriteSiteRecord(siteListPath, site, recordNumber) != kSiteRecordSize) {
                    site.emailAlerts = site.emailAlerts ? 0 : 1;
                    std::snprintf(notice, sizeof notice, "%s", kNotWritten);
                }
            } else {
                std::snprintf(notice, sizeof notice, "ALERTS NEED EVERY VALUE AND A PORT ABOVE 0");
            }
            entryField = 1;
        } else if (code == kHelp) {
            LaunchProgram(1, 1, "notepad.exe", "emailsetup.txt");
        } else if (code == kCancel) {
            ReadSiteRecord(siteListPath, site, recordNumber);
            FillFromRecord(site);
            return;
        } else if (code == kSave) {
            if (!SiteIsDeleted(site)) {
                CopyIntoRecord(site);
                // A save that did not reach the site list keeps the screen
                // open, so that the user knows and may try again or cancel.
                if (WriteSiteRecord(siteListPath, site, recordNumber) != kSiteRecordSize) {
                    std::snprintf(notice, sizeof notice, "%s", kNotWritten);
                    continue;
                }
            }
            return;
        }
    }
}
