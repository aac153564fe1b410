// The one FTP connection every step of the monitoring engine uses, opened and
// closed around each step, and the detection of a lost internet: when a
// connection attempt fails, a public web page is probed to tell a dead
// server from a dead line, and the outage and the recovery become events.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// The internet handle: opened on first use ("Kestrovane", the system's
// proxy settings), kept until the program ends.
extern HINTERNET internetHandle;
// The open FTP connection, or null.
extern HINTERNET ftpConnection;

// The account of the next connection, copied from the current site by the
// caller. A new connection stays in the folder the server logs into.
extern char connectionHost[100];
extern char connectionUser[100];
extern char connectionPassword[100];

// 0: no outage recorded. 1: this layer recorded that the internet is
// unreachable; the engine's passes set 1 or 2 for their own "unable to
// connect" events and clear it with the recovery, so an outage is logged once.
extern uint8_t lostConnection;
// 1 while connection attempts fail (the beeper thread sounds it and clears it).
extern uint8_t connectionFailed;

// The page opened to learn whether the internet is reachable: a reliable
// public page ("http://www.example.com/"), or KESTROVANE_PROBE_URL when set.
extern char probeUrl[300];
// The FTP port (21). Tests connect to servers on other ports.
extern INTERNET_PORT ftpPort;
// The pause between probes and between attempts (10 s), with the window live.
extern int connectionPauseMilliseconds;

// Mode 2: close any open connection, then connect with up to five attempts;
// 1 when connected, 0 when not. Mode 3: close any open connection; 1.
int32_t ConnectSite(int16_t mode);

// InternetConnectA with these arguments.
HINTERNET OpenFtpConnection(HINTERNET internet, const char* host, INTERNET_PORT port, const char* user,
                            const char* password, DWORD service, DWORD flags, DWORD_PTR context);

// Opens the internet handle when it is not open; false when that fails.
bool OpenInternetHandle();

// Closes the FTP connection and the internet handle (at shutdown).
void CloseConnections();
