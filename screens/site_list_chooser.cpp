// The site list chooser ("list.tmp"): four site records a page, each row
// switchable between active and inactive, one row picked for the setup.
//
// Field and code table of the form (record 1 of list.plt):
//   text fields (r-1)*7 + 1..7  row r: host, user name, password (masked),
//                               remote folder, file mask, secure server
//                               folder, "ACTIVE" / "INACTIVE"
//   text field 29               the page shown
//   code 1..4                   pick the record of row 1..4
//   code 5..8                   switch the record of row 1..4
//   code 97                     back without picking (as Esc)
//   code 98 / 99                previous / next page
#include <cstdio>
#include <string>
#include <string_view>

#include "sites/site_list.h"
#include "records/record_file.h"
#include "screens/screens.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/screen_program.h"
#include "tessil/tessil.h"

namespace {

constexpr int kRows = 4;
constexpr int kFieldsPerRow = 7;
constexpr int kPasswordColumn = 3;
constexpr uint16_t kPageField = kRows * kFieldsPerRow + 1;
constexpr uint8_t kPickFirst = 1;
constexpr uint8_t kSwitchFirst = 5;
constexpr uint8_t kBack = 97;
constexpr uint8_t kPreviousPage = 98;
constexpr uint8_t kNextPage = 99;
// Row colours: an active record in yellow, an inactive one in white.
constexpr uint8_t kActiveColour = 7;
constexpr uint8_t kInactiveColour = 3;

// The page shown; kept between openings so that the list reopens where the
// user left it.
int16_t listPage = 1;

int32_t RowRecord(int row) { return int32_t(listPage - 1) * kRows + row; }

// The record's texts are read only up to their widths: a text without its
// NUL never shows the next field (a user name never shows the password).
void SetRowField(int row, int column, std::string_view text, uint8_t colour)
{
    auto field = int16_t(tessil::FindField(252, uint16_t((row - 1) * kFieldsPerRow + column)));
    tessil::SetFieldText(field, std::string(text).c_str(), ' ');
    tessil::SetFieldColour(field, colour);
    if (column == kPasswordColumn)
        tessil::MaskField(field);
}

void ShowPage()
{
    tessil::RunScreen("list.tmp", 1, 1);
    for (int row = 1; row <= kRows; ++row) {
        SiteRecord site;
        if (!ReadSiteRecord(siteListPath, site, RowRecord(row)))
            break;
        uint8_t colour = site.active ? kActiveColour : kInactiveColour;
        const std::string_view texts[kFieldsPerRow] = {
            FieldText(site.ftpHost),      FieldText(site.userName), FieldText(site.password),
            FieldText(site.remoteFolder), FieldText(site.fileMask), FieldText(site.secureFolder),
            site.active ? "ACTIVE" : "INACTIVE"};
        for (int column = 1; column <= kFieldsPerRow; ++column)
            SetRowField(row, column, texts[column - 1], colour);
    }
    char page[64];
    std::snprintf(page, sizeof page, "PAGE %d  (RECORDS %ld TO %ld)", listPage, long(RowRecord(1)),
                  long(RowRecord(kRows)));
    tessil::SetFieldText(int16_t(tessil::FindField(252, kPageField)), page, ' ');
    tessil::PlaceCursorOnButton(0);
    tessil::RefreshFields();
}

// Flips the active flag of a row's record in place; an empty row or a
// deleted record is left alone. Only this record changes.
void SwitchRow(int row)
{
    SiteRecord site;
    int32_t number = RowRecord(row);
    if (!ReadSiteRecord(siteListPath, site, number) || SiteIsDeleted(site))
        return;
    site.active = site.active ? 0 : 1;
    WriteSiteRecord(siteListPath, site, number);
}

} // namespace

int32_t SiteListChooser()
{
    // Without a window (or a scripted user) no choice can come.
    while (tessil::CanWaitForInput()) {
        ShowPage();
        uint16_t field = 0;
        uint16_t result = tessil::WaitForChoice(field, 255, 0);
        // The click is used up here, so that the caller's wait does not see it.
        tessil::mouseButton = 0;
        if (result == tessil::kChoiceEdited)
            continue;
        if (result != tessil::kChoiceButton || tessil::shutdownRequested)
            return -1;
        uint8_t code = tessil::ButtonCode(field);
        if (code >= kPickFirst && code < kPickFirst + kRows)
            return RowRecord(code - kPickFirst + 1);
        if (code >= kSwitchFirst && code < kSwitchFirst + kRows)
            SwitchRow(code - kSwitchFirst + 1);
        else if (code == kBack)
            return -1;
        else if (code == kPreviousPage && listPage > 1)
            --listPage;
        else if (code == kNextPage && listPage < INT16_MAX)
            ++listPage;
    }
    return -1;
}
