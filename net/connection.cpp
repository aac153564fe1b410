#include "net/connection.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "net/timed_transfers.h"
#include "sites/site_record.h"
#include "tessil/input.h"
#include "tessil/tessil.h"

HINTERNET internetHandle = nullptr;
HINTERNET ftpConnection = nullptr;
char connectionHost[100];
char connectionUser[100];
char connectionPassword[100];
char connectionFailureReason[200];
uint8_t lostConnection = kNoOutage;
uint8_t connectionFailed = 0;
INTERNET_PORT ftpPort = INTERNET_DEFAULT_FTP_PORT;
int connectionPauseMilliseconds = 10000;
void (*internetListener)(InternetNews news) = nullptr;

namespace {

constexpr int kAttempts = 5;
constexpr int kProbesPerAttempt = 5; // failed probes before the attempt gives up waiting

const char* DefaultProbeUrl()
{
    const char* configured = PlatformSetting("KESTROVANE_PROBE_URL");
    return configured && *configured ? configured : "http://www.example.com/";
}

void Tell(InternetNews news)
{
    if (internetListener)
        internetListener(news);
}

void Pause()
{
    tessil::SystemRequest(1);
    tessil::PauseLive(connectionPauseMilliseconds);
}

bool InternetReachable()
{
    char url[300];
    std::snprintf(url, sizeof url, "%s", probeUrl);
    return FetchUrl(url, sizeof url, 0) != 0;
}

// Probes until the internet answers or the attempt has waited long enough.
// True when the outage was recorded here and the internet came back.
bool WaitForInternet()
{
    int waited = 0;
    bool recordedHere = false;
    for (;;) {
        if (InternetReachable() || waited >= kProbesPerAttempt)
            break;
        connectionFailed = 1;
        if (!recordedHere) {
            recordedHere = true;
            lostConnection = kOutageRecorded;
            Tell(InternetNews::kLost);
        }
        Pause();
        ++waited;
    }
    return lostConnection == kOutageRecorded && recordedHere && waited < kProbesPerAttempt;
}

// The failures of a secure connection that a new attempt within the pass
// cannot mend: the certificate, or the server's TLS itself.
bool RefusedForSecurity(DWORD error)
{
    return error == ERROR_INTERNET_INVALID_CA || error == ERROR_INTERNET_SEC_CERT_DATE_INVALID ||
           error == ERROR_INTERNET_SEC_CERT_CN_INVALID || error == ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
}

// connectionFailureReason for `error`: the platform's line of text (its
// first line, control characters as blanks), or a plain word of our own when
// it gave none.
void KeepFailureReason(DWORD error)
{
    char text[512] = {};
    DWORD length = sizeof text;
    DWORD responseError = 0;
    if (!InternetGetLastResponseInfoA(&responseError, text, &length))
        text[0] = '\0';
    text[sizeof text - 1] = '\0';
    text[std::strcspn(text, "\r\n")] = '\0';
    for (char* c = text; *c; ++c)
        if (static_cast<unsigned char>(*c) < 32 || *c == 127)
            *c = ' ';
    const char* fallback = error == ERROR_INTERNET_INVALID_CA            ? "certificate not trusted"
                           : error == ERROR_INTERNET_SEC_CERT_DATE_INVALID ? "certificate expired or not yet valid"
                           : error == ERROR_INTERNET_SEC_CERT_CN_INVALID   ? "certificate names another host"
                                                                           : "secure connection failed";
    std::snprintf(connectionFailureReason, sizeof connectionFailureReason, "%s", text[0] ? text : fallback);
}

// True when `text` begins with `prefix`, without regard to case.
bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

} // namespace

char probeUrl[300] = {};

void SetConnectionAccount(const char* host, const char* user, const char* password)
{
    CopyField(connectionHost, host);
    CopyField(connectionUser, user);
    CopyField(connectionPassword, password);
}

bool OpenInternetHandle()
{
    if (!probeUrl[0])
        std::snprintf(probeUrl, sizeof probeUrl, "%s", DefaultProbeUrl());
    if (!internetHandle)
        internetHandle = InternetOpenA("Kestrovane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    return internetHandle != nullptr;
}

HINTERNET OpenFtpConnection(HINTERNET internet, const char* host, INTERNET_PORT port, const char* user,
                            const char* password, DWORD service, DWORD flags, DWORD_PTR context)
{
    return InternetConnectA(internet, host, port, user, password, service, flags, context);
}

bool SplitHostPort(const char* text, std::string& host, INTERNET_PORT& port, INTERNET_PORT defaultPort)
{
    host.clear();
    port = defaultPort;
    const std::string whole = text ? text : "";
    std::string portText;
    if (!whole.empty() && whole[0] == '[') {
        const size_t close = whole.find(']');
        if (close == std::string::npos)
            return false;
        host = whole.substr(1, close - 1);
        const std::string rest = whole.substr(close + 1);
        if (!rest.empty()) {
            if (rest[0] != ':')
                return false;
            portText = rest.substr(1);
            if (portText.empty())
                return false;
        }
    } else {
        const size_t colon = whole.find(':');
        if (colon != std::string::npos && whole.find(':', colon + 1) == std::string::npos) {
            host = whole.substr(0, colon);
            portText = whole.substr(colon + 1);
            if (portText.empty())
                return false;
        } else {
            host = whole; // no port, or a bare IPv6 address
        }
    }
    if (host.empty())
        return false;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const long value = std::strtol(portText.c_str(), nullptr, 10);
        if (value < 1 || value > 65535)
            return false;
        port = INTERNET_PORT(value);
    }
    return true;
}

bool SplitSiteHost(const char* text, std::string& host, INTERNET_PORT& port, DWORD& securityFlags,
                   INTERNET_PORT defaultPort)
{
    host.clear();
    port = defaultPort;
    securityFlags = 0;
    const std::string whole = text ? text : "";
    const size_t schemeEnd = whole.find("://");
    if (schemeEnd == std::string::npos)
        return SplitHostPort(whole.c_str(), host, port, defaultPort);
    const struct {
        const char* scheme; // with its "://"
        DWORD flags;
        INTERNET_PORT port; // 0: defaultPort
    } schemes[] = {
        {"ftp://", 0, 0},
        {"ftpes://", INTERNET_FLAG_SECURE, 0},
        {"ftps://", INTERNET_FLAG_SECURE | PLATFORM_FLAG_IMPLICIT_TLS, kImplicitTlsPort},
    };
    for (const auto& s : schemes) {
        if (std::strlen(s.scheme) != schemeEnd + 3 || !StartsWithNoCase(whole, s.scheme))
            continue;
        std::string rest = whole.substr(schemeEnd + 3);
        if (!rest.empty() && rest.back() == '/')
            rest.pop_back();
        if (rest.find_first_of("/@") != std::string::npos)
            return false;
        if (!SplitHostPort(rest.c_str(), host, port, s.port ? s.port : defaultPort)) {
            host.clear();
            return false;
        }
        securityFlags = s.flags;
        return true;
    }
    return false;
}

int32_t ConnectSite(int16_t mode)
{
    if (ftpConnection) {
        InternetCloseHandle(ftpConnection);
        ftpConnection = nullptr;
    }
    if (mode != kOpenConnection)
        return 1;
    connectionFailureReason[0] = '\0';
    if (!OpenInternetHandle())
        return 0;
    std::string host;
    INTERNET_PORT port = ftpPort;
    DWORD security = 0;
    const bool dialable = SplitSiteHost(connectionHost, host, port, security, ftpPort);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!OpenInternetHandle())
            continue;
        // A host text that names no server is a failed attempt like any
        // other: the outage handling below tells the user.
        ftpConnection = !dialable ? nullptr
                                  : OpenFtpConnection(internetHandle, host.c_str(), port, connectionUser,
                                                      connectionPassword, INTERNET_SERVICE_FTP,
                                                      INTERNET_FLAG_PASSIVE | security, 0);
        if (ftpConnection)
            break;
        if (dialable && security) {
            const DWORD error = GetLastError();
            if (RefusedForSecurity(error)) {
                KeepFailureReason(error);
                break;
            }
        }
        if (WaitForInternet()) {
            lostConnection = kNoOutage;
            connectionFailed = 0;
            Tell(InternetNews::kBack);
            continue;
        }
        Pause();
    }
    connectionFailed = ftpConnection ? 0 : 1;
    return ftpConnection ? 1 : 0;
}

void CloseConnections()
{
    if (ftpConnection)
        InternetCloseHandle(ftpConnection);
    if (internetHandle)
        InternetCloseHandle(internetHandle);
    ftpConnection = internetHandle = nullptr;
}
