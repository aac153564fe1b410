// The one FTP connection every step of the monitoring engine uses, opened and
// closed around each step, and the detection of a lost internet: when a
// connection attempt fails, a public web page is probed to tell a dead
// server from a dead line. The outage and the recovery are told to the
// listener the program installs (internetListener), which logs, draws and
// acts on them; this room does none of that.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32.h"
// kImplicitTlsPort, the port of an "ftps://" host written without one.
#include "platform/extensions.h"

// The internet handle: opened on first use ("Kestrovane", the system's
// proxy settings), kept until the program ends.
extern HINTERNET internetHandle;
// The open FTP connection, or null.
extern HINTERNET ftpConnection;

// The account of the next connection, set from the current site by the
// caller. A new connection stays in the folder the server logs into.
extern char connectionHost[100];
extern char connectionUser[100];
extern char connectionPassword[100];
void SetConnectionAccount(const char* host, const char* user, const char* password);

// What a connection attempt learned of the internet, told the moment it is
// known:
//   kLost  the first probe of this attempt failed: the line, not only the
//          server, is down (told once per attempt; lostConnection is 1)
//   kBack  a probe answered again after an outage told in this attempt
//          (lostConnection and connectionFailed are 0); the next attempt
//          follows at once
enum class InternetNews : uint8_t { kLost, kBack };
// The program's listener (app/); none: the news is only in the flags below.
extern void (*internetListener)(InternetNews news);

// Whether an outage is recorded, so that it is logged once: kNoOutage;
// kOutageRecorded when this layer found the internet unreachable, or a pass
// logged its own "unable to connect" event; kUploadOutageRecorded when an
// uploading pass did. The passes clear it with their recovery event.
inline constexpr uint8_t kNoOutage = 0;
inline constexpr uint8_t kOutageRecorded = 1;
inline constexpr uint8_t kUploadOutageRecorded = 2;
extern uint8_t lostConnection;
// 1 while connection attempts fail (the beeper thread sounds it and clears it).
extern uint8_t connectionFailed;

// The page opened to learn whether the internet is reachable: a reliable
// public page ("http://www.example.com/"), or KESTROVANE_PROBE_URL when set.
extern char probeUrl[300];
// The FTP port of a host written without one (21). Tests connect to servers
// on other ports.
extern INTERNET_PORT ftpPort;
// The pause between probes and between attempts (10 s), with the window live.
extern int connectionPauseMilliseconds;

// The host text of a site (untrusted) as a server to dial and its port:
//   "NAME" or "ADDRESS"          that host, `defaultPort`
//   "NAME:PORT", "1.2.3.4:PORT"  that host, PORT
//   "[V6]" or "[V6]:PORT"        the IPv6 address in brackets, PORT or
//                                `defaultPort`
//   "V6" (two or more ":")       the bare IPv6 address, `defaultPort`
// PORT is 1 to 65535 in decimal digits. False, and nothing to dial, for an
// empty host, a port that is not such a number, or text after "]" other
// than ":PORT". The site's file names keep the whole text (sites/site_files.h
// makes any text safe as a name).
bool SplitHostPort(const char* text, std::string& host, INTERNET_PORT& port, INTERNET_PORT defaultPort);

// A site's host text (untrusted) as the server to dial, its port and the
// security flags of InternetConnectA (platform/extensions.h):
//   "ftpes://HOST"  explicit TLS: INTERNET_FLAG_SECURE, `defaultPort`
//   "ftps://HOST"   implicit TLS: INTERNET_FLAG_SECURE |
//                   PLATFORM_FLAG_IMPLICIT_TLS, kImplicitTlsPort
//   "ftp://HOST"    clear text: no flags, `defaultPort`
//   HOST            the same, exactly as SplitHostPort reads it
// After a scheme (matched without regard to case) one "/" may end the text;
// HOST is what SplitHostPort takes, a port in it wins. False, and nothing to
// dial, for an unknown scheme, a path, a user ("user@") or a HOST that
// SplitHostPort refuses.
bool SplitSiteHost(const char* text, std::string& host, INTERNET_PORT& port, DWORD& securityFlags,
                   INTERNET_PORT defaultPort);

// Why the last ConnectSite(kOpenConnection) failed when trying again cannot
// help within the pass (the server's certificate does not verify, the server
// refuses TLS): the platform's line of text, at most 199 bytes without
// control characters, e.g. "certificate expired". Empty after any other
// outcome.
extern char connectionFailureReason[200];

// ConnectSite's modes.
inline constexpr int16_t kOpenConnection = 2;
inline constexpr int16_t kCloseConnection = 3;

// kOpenConnection: close any open connection, then connect to connectionHost (as
// SplitSiteHost reads it, always passive; a host text it refuses never
// connects) with up to five attempts, probing the internet and pausing after
// each failure (the outage and the recovery told to internetListener); a secure site never goes on in clear text, and a failure
// that names its reason in connectionFailureReason ends the attempts at once
// (the internet is fine, and the server will answer the same). 1 when
// connected, 0 when not. kCloseConnection: close any open connection; 1.
int32_t ConnectSite(int16_t mode);

// InternetConnectA with these arguments.
HINTERNET OpenFtpConnection(HINTERNET internet, const char* host, INTERNET_PORT port, const char* user,
                            const char* password, DWORD service, DWORD flags, DWORD_PTR context);

// Opens the internet handle when it is not open; false when that fails.
bool OpenInternetHandle();

// Closes the FTP connection and the internet handle (at shutdown).
void CloseConnections();
