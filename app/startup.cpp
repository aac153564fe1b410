// Start-up initialisation and the framework settings file.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"
#include "net/file_names.h"
#include "sites/data_files.h"
#include "sites/site_list.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

namespace {

constexpr const char* kDefaultLibrary = "c:\\kestrovane\\kvscreens.lib";
// A settings file is a line or two; more is not a settings file.
constexpr DWORD kMaxSettingsFile = 4096;

// The next white-space separated value, or an empty string.
const char* NextValue(const char*& p, char* out, size_t size)
{
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    size_t n = 0;
    while (*p && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') {
        if (n + 1 < size)
            out[n++] = *p;
        ++p;
    }
    out[n] = 0;
    return out;
}

// A number, or 0 (which the framework treats as missing) when the text is not one.
double RealOf(const char* text)
{
    char* end = nullptr;
    double v = std::strtod(text, &end);
    return end != text && *end == 0 ? v : 0;
}

} // namespace

bool LoadFrameworkSettings()
{
    HANDLE file = CreateFileA(kFrameworkSettings, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char text[kMaxSettingsFile + 1];
    DWORD got = 0;
    BOOL ok = ReadFile(file, text, kMaxSettingsFile, &got, nullptr);
    CloseHandle(file);
    if (!ok)
        return false;
    text[got] = 0;

    const char* p = text;
    char value[128];
    tessil::Settings settings;
    settings.screenAcross = RealOf(NextValue(p, value, sizeof value));
    settings.screenDown = RealOf(NextValue(p, value, sizeof value));
    NextValue(p, value, sizeof value); // the option byte
    for (int i = 0; i < 3; ++i)
        NextValue(p, value, sizeof value);
    char library[80];
    NextValue(p, library, sizeof library);
    if (!library[0])
        std::snprintf(library, sizeof library, "%s", kDefaultLibrary);
    // The remaining five values are read by the format and not used.
    settings.libraryPath = library;
    tessil::ApplySettings(settings);
    return true;
}

void StartupInit()
{
    // Every secure FTP session reads the user's own trusted certificates.
    PlatformSetFtpTrustFile(kTrustFile);
    if (!tessil::CreateDynamicBuffers()) {
        tessil::ShowMessageLine("Unable to allocate memory for dynamic buffers", 0, 2, 195);
        tessil::WaitTicks(2);
        ShutdownCleanup();
    }
    if (!LoadFrameworkSettings()) {
        std::puts("RTTW.INI file not found, please run BRENNOX");
        std::fflush(stdout);
        ShutdownCleanup();
    }
    tessil::ResetState();
}

void RemoveScratchFilesOfAllSites(const char* listPath)
{
    SiteRecord site;
    for (int32_t number = 1; ReadSiteRecord(listPath, site, number); ++number) {
        if (SiteIsDeleted(site) || !site.secureFolder[0])
            continue;
        char folder[sizeof site.secureFolder + 1];
        std::snprintf(folder, sizeof folder, "%.*s", int(strnlen(site.secureFolder, sizeof site.secureFolder)),
                      site.secureFolder);
        RemoveScratchFiles(folder);
    }
}
