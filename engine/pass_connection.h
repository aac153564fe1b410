// How a pass begins and keeps its connection: its screen lines and shared
// statuses, the site's account, the connection with its outage and recovery
// events, and entering the remote folder. Internal to engine/.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// Text line 1: "KESTROVANE <program> - PAGE <eventPage> STATUS: <status>".
void ShowPassTitle(const char* program, const char* status);
// Text line 1 as ShowPassTitle, then text line 27: "host/remote folder/mask",
// or "host/mask" without a folder.
void ShowPass(const char* program, const char* status, const char* host, const char* remoteFolder,
              const char* fileMask);

// Copies the account into the connection globals and names the site's files.
void StartPass(const char* host, const char* user, const char* password, const char* remoteFolder,
               const char* fileMask);

// The status of most passes while they wait for the connection.
inline constexpr char kLostConnectionStatus[] = "LOST CONNECTION, TRYING TO RECONNECT";
// The status of a pass that stopped because the record store cannot be used.
inline constexpr char kStoreUnavailableStatus[] = "RECORD STORE UNAVAILABLE";

// How a pass tells its outage.
struct OutageEvents {
    uint8_t lostType;    // logged once per outage, when lostConnection is kNoOutage
    uint8_t flag;        // lostConnection becomes this (net/connection.h)
    const char* program; // text line 1 while waiting: as ShowPassTitle, or
    const char* status;  // "KESTROVANE <program> - STATUS: <status>" when
    bool paged = true;   // not paged
};

// ConnectSite(kOpenConnection) until it connects, waiting
// reconnectPauseMilliseconds with the window live after each failure; the
// outage is logged once (and mailed at once). False after reconnectRounds
// failures or on shutdown: the pass gives up with the outage still recorded.
// A failure with a reason (connectionFailureReason: a certificate that does
// not verify) is not tried again in this pass: the event carries the reason,
// text line 1 shows "UNABLE TO CONNECT: <reason>", and the next cycle tries
// again. The recovery is the caller's (EndOutage), since the passes differ
// in what follows it.
bool ConnectWithRetry(const OutageEvents& events);

// What a pass does once its outage has ended.
enum class AfterRecovery {
    kGoOn,   // it works on over the connection just made
    kEndPass // it ends (the caller calls again): the connection is closed first
};

// Call when ConnectWithRetry has connected. When an outage is recorded
// (lostConnection), logs the recovery event `backType` and clears the flag;
// with kEndPass the connection is closed before the event. True when an
// outage ended.
bool EndOutage(uint8_t backType, AfterRecovery after = AfterRecovery::kGoOn);

// Enters the remote folder: the current FTP folder, "/", the folder's name.
// `path` receives the path tried. A pass that tries again on the same
// connection passes the path back: the current folder may then be the
// remote folder itself, and the path must not grow into a folder below it.
enum class EnterResult { kEntered, kNoCurrentFolder, kNotEntered };
EnterResult EnterRemoteFolder(const char* remoteFolder, std::string& path);

} // namespace engine
