// The web site setup: the form "setup.tmp" that edits the site list one
// record at a time, the group switches, sub-folder indexing, deleting a site
// through a scratch copy, replacing a value in every record, and starting
// monitoring.
#include <cstdio>
#include <cstring>

#include "screens/email_alert_screen.h"
#include "sites/data_files.h"
#include "screens/launch_program.h"
#include "sites/site_list.h"
#include "screens/screens.h"
#include "tessil/display_commands.h"
#include "tessil/input.h"
#include "tessil/prompts.h"
#include "tessil/screen_program.h"
#include "tessil/tessil.h"

char indexHost[100];
char indexUser[100];
char indexPassword[100];
char indexFileMask[50];

namespace {

constexpr const char* kSetupForm = "setup.tmp";
constexpr const char* kSetupHelp = "setup.txt";
constexpr const char* kSetupTitle = "WEB SITE SETUP";
constexpr const char* kBrowseTitle = "Select the Secure Server Folder with which to Mirror/Monitor your WebSite";
constexpr const char* kNoActiveSite = "ACTIVATE ONE OR MORE SITES USING THE LIST/ACTIVATE BUTTON BELOW";
constexpr const char* kDeleteFailed = "THE SITE LIST COULD NOT BE REWRITTEN - NOTHING WAS DELETED";

// Top-line colours: navy band with white text for titles and prompts,
// maroon band for what went wrong.
constexpr uint8_t kTitleColour = 227;
constexpr uint8_t kWarningColour = 195;
// Field colours: the shown site active or not.
constexpr uint8_t kActiveColour = 7;
constexpr uint8_t kInactiveColour = 3;

// The form's value fields (text-field ordinals).
enum SetupField : int16_t {
    kFieldHost = 1,
    kFieldUser,
    kFieldPassword,
    kFieldRemoteFolder,
    kFieldFileMask,
    kFieldSecureFolder,
    kFieldOptionText,
    kFieldSyncWeb,
    kFieldMirror,
    kFieldActive,
    kFieldEmail,
    kTypedFields = kFieldOptionText,
};

// The form's action codes.
enum : uint8_t {
    kActSyncWeb = 7,
    kActMirror = 8,
    kActIndexSubFolders = 9,
    kActDelete = 10,
    kActFirstField = 11, // 11..17: make field 1..7 current
    kActBrowseFolder = 16,
    kActLastField = 17,
    kActReplace = 94,
    kActEmail = 95,
    kActActive = 96,
    kActStart = 97,
    kActHelp = 98,
    kActSiteList = 99,
};

// Deepest sub-folder IndexSubFolders walks: a folder linked into itself
// must not recurse for ever.
constexpr int16_t kDeepestIndex = 32;

int16_t FieldIndex(int16_t ordinal)
{
    return int16_t(tessil::FindField(tessil::kCmdTextFieldRecord, uint16_t(ordinal)));
}

// A record field by its form field number (1..7) and its width.
char* RecordField(SiteRecord& site, int16_t field, size_t& width)
{
    switch (field) {
    case kFieldHost: width = sizeof site.ftpHost; return site.ftpHost;
    case kFieldUser: width = sizeof site.userName; return site.userName;
    case kFieldPassword: width = sizeof site.password; return site.password;
    case kFieldRemoteFolder: width = sizeof site.remoteFolder; return site.remoteFolder;
    case kFieldFileMask: width = sizeof site.fileMask; return site.fileMask;
    case kFieldSecureFolder: width = sizeof site.secureFolder; return site.secureFolder;
    default: width = sizeof site.optionText; return site.optionText;
    }
}

// The typed value of a form field: the value ends at its first blank or
// control byte. The secure server folder keeps inner blanks (the folder
// browser gives paths like "c:\my web"); only its trailing ones are cut.
void ReadTypedValue(int16_t field, char* out, size_t size)
{
    tessil::GetFieldText(FieldIndex(field), out, size, 0);
    if (field == kFieldSecureFolder) {
        size_t n = std::strlen(out);
        while (n > 0 && static_cast<unsigned char>(out[n - 1]) < 33)
            out[--n] = 0;
        for (size_t i = 0; i < n; ++i)
            if (static_cast<unsigned char>(out[i]) < 32)
                out[i] = 0;
        return;
    }
    for (char* p = out; *p; ++p)
        if (static_cast<unsigned char>(*p) < 33) {
            *p = 0;
            break;
        }
}

bool Blank(const char* text, size_t width) { return strnlen(text, width) == 0; }

// Writes the shown record, except a blank one beyond the end of the list:
// looking at an empty form must not append an empty record.
void WriteShown(const SiteRecord& site, int32_t number)
{
    if (Blank(site.ftpHost, sizeof site.ftpHost) && number > CountSiteRecords(siteListPath))
        return;
    WriteSiteRecord(siteListPath, site, number);
}

void ReadShown(SiteRecord& site, int32_t number)
{
    if (!ReadSiteRecord(siteListPath, site, number))
        std::memset(&site, 0, sizeof site);
}

// True when `other` belongs to the site of `shown`: the same FTP host, and a
// secure server folder that is the shown one's or lies inside it ("c:\web"
// holds "c:\web\news", not "c:\website").
bool InSite(const SiteRecord& shown, const SiteRecord& other)
{
    if (strncmp(shown.ftpHost, other.ftpHost, sizeof shown.ftpHost) != 0)
        return false;
    size_t n = strnlen(shown.secureFolder, sizeof shown.secureFolder);
    if (strncmp(shown.secureFolder, other.secureFolder, n) != 0)
        return false;
    char next = n < sizeof other.secureFolder ? other.secureFolder[n] : 0;
    char last = n ? shown.secureFolder[n - 1] : 0;
    return next == 0 || next == '\\' || next == '/' || last == '\\' || last == '/';
}

bool HasHostAndFolder(const SiteRecord& site)
{
    return !Blank(site.ftpHost, sizeof site.ftpHost) && !Blank(site.secureFolder, sizeof site.secureFolder);
}

// Sets a switch in every record of the shown record's site; switching
// synchronise-web or mirror on switches the other one off.
void SwitchSite(const SiteRecord& shown, int32_t number, uint8_t action)
{
    uint8_t value = action == kActSyncWeb ? !shown.syncWeb : action == kActMirror ? !shown.mirror : !shown.active;
    SiteRecord other;
    for (int32_t n = number; ReadSiteRecord(siteListPath, other, n); ++n) {
        if (!InSite(shown, other))
            continue;
        if (action == kActSyncWeb) {
            other.syncWeb = value;
            if (value)
                other.mirror = 0;
        } else if (action == kActMirror) {
            other.mirror = value;
            if (value)
                other.syncWeb = 0;
        } else {
            other.active = value;
            if (value)
                other.newlyActivated = 1;
        }
        WriteSiteRecord(siteListPath, other, n);
    }
}

// Rewrites the site list without the shown record's site (and without
// deleted records after it) through the scratch file, which replaces the
// list only when every record reached it. Returns false when nothing
// changed because the scratch copy or the replacement failed.
bool DeleteSite(const SiteRecord& shown, int32_t number)
{
    DeleteFileA(kSiteListScratch);
    bool complete = true;
    SiteRecord other;
    int32_t next = 1;
    for (int32_t n = 1; complete && ReadSiteRecord(siteListPath, other, n); ++n) {
        if (n >= number && (InSite(shown, other) || Blank(other.ftpHost, sizeof other.ftpHost)))
            continue;
        complete = WriteSiteRecord(kSiteListScratch, other, next++) == int32_t(sizeof other);
    }
    // An empty new list is an empty file, so that the list reads as empty.
    if (complete && next == 1) {
        HANDLE file = CreateFileA(kSiteListScratch, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        complete = file != INVALID_HANDLE_VALUE;
        if (complete)
            CloseHandle(file);
    }
    if (complete &&
        MoveFileExA(kSiteListScratch, siteListPath,
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(kSiteListScratch);
    return false;
}

// Lets the user pick the secure server folder; true when one was picked.
bool BrowseSecureFolder(SiteRecord& site)
{
    char name[MAX_PATH] = {};
    BROWSEINFOA info = {};
    info.hwndOwner = tessil::mainWindow;
    info.pszDisplayName = name;
    info.lpszTitle = kBrowseTitle;
    LPITEMIDLIST list = SHBrowseForFolderA(&info);
    if (!list)
        return false;
    char path[MAX_PATH] = {};
    // A path too long for the record is not taken: a cut path names another folder.
    bool picked = SHGetPathFromIDListA(list, path) && path[0] && std::strlen(path) < sizeof site.secureFolder;
    CoTaskMemFree(list);
    if (picked)
        CopyField(site.secureFolder, path);
    return picked;
}

// Leaves the setup with monitoring started when at least one site is active.
bool StartMonitoring(int32_t number)
{
    currentRecordNumber = number;
    return driverEntryPoints.startTimers() >= 1;
}

void ShowRecord(SiteRecord site, const char* topLine, uint8_t topColour)
{
    tessil::RunScreen(kSetupForm, 1, 0);
    for (int16_t f = kFieldHost; f <= kTypedFields; ++f) {
        size_t width = 0;
        const char* value = RecordField(site, f, width);
        char text[201] = {};
        std::memcpy(text, value, width);
        tessil::SetFieldText(FieldIndex(f), text, ' ');
    }
    tessil::MaskField(FieldIndex(kFieldPassword));
    tessil::SetFieldText(FieldIndex(kFieldSyncWeb), site.syncWeb ? "YES" : "NO", ' ');
    tessil::SetFieldText(FieldIndex(kFieldMirror), site.mirror ? "YES" : "NO", ' ');
    tessil::SetFieldText(FieldIndex(kFieldActive), site.active ? "ACTIVE" : "INACTIVE", ' ');
    tessil::SetFieldText(FieldIndex(kFieldEmail), site.emailAlerts ? "EMAIL:YES" : "EMAIL:NO", ' ');
    for (int16_t f = kFieldHost; f <= kFieldActive; ++f)
        tessil::SetFieldColour(FieldIndex(f), site.active ? kActiveColour : kInactiveColour);
    tessil::RefreshFields();
    tessil::ShowMessageLine(topLine, 0, 0, topColour);
}

void EnterDataFolder()
{
    SetCurrentDirectoryA("\\");
    SetCurrentDirectoryA(kDataFolder);
}

} // namespace

void WebSiteSetup()
{
    EnterDataFolder();
    SiteRecord shown;
    int32_t number = 1;
    ReadShown(shown, number);
    int16_t current = kFieldHost;
    const char* topLine = kSetupTitle;
    uint8_t topColour = kTitleColour;

    for (;;) {
        ShowRecord(shown, topLine, topColour);
        topLine = kSetupTitle;
        topColour = kTitleColour;
        uint16_t field = 0;
        uint16_t choice = tessil::WaitForChoice(field, 255, uint16_t(current));
        if (tessil::shutdownRequested)
            return;
        bool typed = choice == tessil::kChoiceEdited && field != 0;
        if (!typed && choice != tessil::kChoiceButton)
            continue;

        size_t width = 0;
        char* target = RecordField(shown, current, width);
        char value[301] = {};
        ReadTypedValue(current, value, sizeof value);
        CopyField(target, width, value);
        current = current == kTypedFields ? int16_t(kFieldHost) : int16_t(current + 1);
        WriteShown(shown, number);
        if (!typed) {
            uint8_t action = tessil::ButtonCode(field);
            switch (action) {
            case kActSyncWeb:
            case kActMirror:
            case kActActive:
                if (HasHostAndFolder(shown)) {
                    SwitchSite(shown, number, action);
                    ReadShown(shown, number);
                }
                current = kFieldHost;
                break;
            case kActIndexSubFolders:
                if (HasHostAndFolder(shown)) {
                    SetCurrentDirectoryA("\\");
                    CopyField(indexHost, shown.ftpHost);
                    CopyField(indexUser, shown.userName);
                    CopyField(indexPassword, shown.password);
                    CopyField(indexFileMask, shown.fileMask);
                    IndexSubFolders(shown.secureFolder, shown.remoteFolder, 1);
                    SetCurrentDirectoryA(kDataFolder);
                    ReadShown(shown, number);
                }
                current = kFieldHost;
                break;
            case kActDelete:
                if (HasHostAndFolder(shown)) {
                    if (!DeleteSite(shown, number)) {
                        topLine = kDeleteFailed;
                        topColour = kWarningColour;
                    }
                    ReadShown(shown, number);
                }
                current = kFieldHost;
                break;
            case kActReplace:
                ReplaceInAllSites(current, number);
                if (tessil::shutdownRequested)
                    return;
                ReadShown(shown, number);
                break;
            case kActEmail:
                WriteShown(shown, number);
                EmailAlertScreen(shown, number);
                if (tessil::shutdownRequested)
                    return;
                current = kFieldHost;
                break;
            case kActStart:
                if (StartMonitoring(number))
                    return;
                topLine = kNoActiveSite;
                topColour = kWarningColour;
                break;
            case kActHelp:
                LaunchProgram(1, 1, "notepad.exe", kSetupHelp);
                break;
            case kActSiteList:
                if (!Blank(shown.ftpHost, sizeof shown.ftpHost))
                    WriteShown(shown, number);
                number = SiteListChooser();
                if (tessil::shutdownRequested)
                    return;
                if (number < 1)
                    number = 1;
                ReadShown(shown, number);
                break;
            default:
                if (action >= kActFirstField && action <= kActLastField) {
                    current = int16_t(action - kActFirstField + 1);
                    if (action == kActBrowseFolder && BrowseSecureFolder(shown))
                        WriteShown(shown, number);
                }
                break;
            }
        }
    }
}

void ReplaceInAllSites(int16_t field, int32_t recordNumber)
{
    int16_t typed = field <= kFieldHost ? int16_t(kTypedFields) : int16_t(field - 1);
    char oldValue[301] = {};
    ReadTypedValue(typed, oldValue, sizeof oldValue);

    tessil::ShowMessageLine("Type in the new string to replace the old string, Press <CR>", 0, 0, kTitleColour);
    tessil::mouseButton = 0;
    uint16_t result = 0;
    do
        result = tessil::EditField(uint16_t(typed), nullptr, 0, false);
    while (!result && !tessil::mouseButton && !tessil::shutdownRequested && tessil::CanWaitForInput());
    if (tessil::shutdownRequested || tessil::mouseButton == 2)
        return;
    char newValue[301] = {};
    ReadTypedValue(typed, newValue, sizeof newValue);

    SiteRecord site;
    for (int32_t n = 1; ReadSiteRecord(siteListPath, site, n); ++n) {
        // A deleted record (no host) stays deleted whatever is replaced.
        if (Blank(site.ftpHost, sizeof site.ftpHost))
            continue;
        size_t width = 0;
        char* target = RecordField(site, typed, width);
        if (strnlen(target, width) != std::strlen(oldValue) || std::strncmp(target, oldValue, width) != 0)
            continue;
        CopyField(target, width, newValue);
        WriteSiteRecord(siteListPath, site, n);
    }
}

void IndexSubFolders(const char* folder, const char* remoteFolder, int16_t depth)
{
    if (depth > kDeepestIndex || !SetCurrentDirectoryA(folder))
        return;
    char here[200] = {};
    GetCurrentDirectoryA(sizeof here, here);
    char notice[260];
    std::snprintf(notice, sizeof notice, "Indexing %s...Wait", here);
    tessil::ShowMessageLine(notice, 0, 0, kTitleColour);

    bool restart = true;
    while (restart) {
        restart = false;
        WIN32_FIND_DATAA entry;
        HANDLE listing = FindFirstFileA("*", &entry);
        if (listing == INVALID_HANDLE_VALUE)
            return;
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !std::strcmp(entry.cFileName, ".") ||
                !std::strcmp(entry.cFileName, ".."))
                continue;
            SiteRecord site = {};
            char remote[sizeof site.remoteFolder + 1];
            char secure[sizeof site.secureFolder + 1];
            size_t length = std::strlen(folder);
            const char* separator = length && (folder[length - 1] == '\\' || folder[length - 1] == '/') ? "" : "\\";
            int remoteLength = std::snprintf(remote, sizeof remote, "%s/%s", remoteFolder, entry.cFileName);
            int secureLength = std::snprintf(secure, sizeof secure, "%s%s%s", folder, separator, entry.cFileName);
            // A name that would not fit its field is left out, never cut.
            if (remoteLength >= int(sizeof site.remoteFolder) || secureLength >= int(sizeof site.secureFolder))
                continue;
            bool known = false;
            SiteRecord other;
            for (int32_t n = 1; !known && ReadSiteRecord(siteListPath, other, n); ++n)
                known = strncmp(other.remoteFolder, remote, sizeof other.remoteFolder) == 0;
            if (known)
                continue;
            CopyField(site.ftpHost, indexHost);
            CopyField(site.userName, indexUser);
            CopyField(site.password, indexPassword);
            CopyField(site.fileMask, indexFileMask);
            CopyField(site.secureFolder, secure);
            CopyField(site.remoteFolder, remote);
            if (WriteSiteRecord(siteListPath, site, CountSiteRecords(siteListPath) + 1) != int32_t(sizeof site))
                continue;
            FindClose(listing);
            IndexSubFolders(secure, remote, int16_t(depth + 1));
            SetCurrentDirectoryA(folder);
            restart = true;
            break;
        } while (FindNextFileA(listing, &entry));
        if (!restart)
            FindClose(listing);
    }
}
