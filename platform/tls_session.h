// What both TLS layers (platform/linux/tls.cpp over OpenSSL,
// platform/win/tls.cpp over Schannel) keep and check alike, whatever the
// library: how a session ended (T6), the checks every call of platform/tls.h
// starts with, and the failure text handed out. Internal to platform/.
#pragma once

#include <string>

#include "platform/tls.h"

inline constexpr int kTlsOpen = -1;  // TlsSession::final while the session is usable

// The part of each layer's PlatformTls that the layers share (its base).
struct TlsSession {
    int final = kTlsOpen;  // PLATFORM_TLS_CLOSED / _FAILED once reached
    int kind = PLATFORM_TLS_NO_FAILURE;
    std::string text;
};

// Ends the session for good with a failure of `kind` that `text` explains;
// returns PLATFORM_TLS_FAILED.
int TlsFail(TlsSession* tls, int kind, std::string text);

// Ends the session for good as the peer ended the stream; returns
// PLATFORM_TLS_CLOSED.
int TlsClosed(TlsSession* tls);

// Whether PlatformTlsCreate has a socket and options that name a host; false
// with ERROR_INVALID_PARAMETER.
bool TlsCreateArgumentsValid(SOCKET socket, const PlatformTlsOptions* options);

// What a call returns before it reaches the library: PLATFORM_TLS_FAILED for
// no session, the end the session reached (T6), PLATFORM_TLS_OK to go on.
int TlsEarlyResult(const TlsSession* tls);

// The same for PlatformTlsRead and PlatformTlsWrite, which first set *count
// (when given) to 0, and fail a missing buffer or count or a size below 1
// with ERROR_INVALID_PARAMETER.
int TlsEarlyTransferResult(const TlsSession* tls, const void* buffer, int size, int* count);

// PlatformTlsFailure of a session (NULL: none).
int TlsFailureText(const TlsSession* tls, char* text, int size);
