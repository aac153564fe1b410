// TLS over a connected TCP socket, for the program's own protocol clients
// (the alert mail; later FTP over TLS). One interface, two implementations:
// Linux platform/linux/tls.cpp (OpenSSL), Windows platform/win/tls.cpp
// (Schannel), and what they share in platform/tls_session.cpp. The program
// never sees either library.
//
// Contract:
//  T1. The caller owns the socket: it connects it, makes it non-blocking
//      (ioctlsocket FIONBIO) before PlatformTlsCreate, does every wait itself
//      (select), and closes it after PlatformTlsFree. No call here blocks.
//  T2. A call that cannot go on without the network returns
//      PLATFORM_TLS_WANT_READ or PLATFORM_TLS_WANT_WRITE: wait until the
//      socket is readable / writable (or give up at the caller's deadline),
//      then make the same call again with the same arguments.
//  T3. Decrypted bytes may be buffered inside the session where select cannot
//      see them: call PlatformTlsRead before waiting whenever
//      PlatformTlsPending is TRUE.
//  T4. The server is verified during the handshake, never after: its chain
//      must lead to a root of the system's trust store or to a certificate
//      of the trust file, be valid now, and name `host` (a DNS name, matched
//      with the usual single-label wildcard rule, or an IP literal, matched
//      against IP subject-alternative names only). A certificate whose
//      SHA-256 fingerprint is in the trust file is accepted as it is (the
//      user vouched for that exact certificate: chain, name and dates are
//      not checked). Anything else fails the handshake with
//      PLATFORM_TLS_FAILED; there is no way to switch verification off.
//  T5. TLS 1.2 at least. SNI carries `host` unless it is an IP literal.
//  T6. Once a call returns PLATFORM_TLS_FAILED or PLATFORM_TLS_CLOSED, every
//      later call but PlatformTlsFailure and PlatformTlsFree returns the same.
//  T7. Everything from the peer is untrusted: records are bounded by the
//      protocol (16 KiB + overhead), and the session never buffers more than
//      one record's worth beyond what the caller asked for.
//
// The trust file (the user's own, untrusted in form, at most 1 MiB read):
// text lines; "#" starts a comment line; PEM blocks
// "-----BEGIN CERTIFICATE-----" ... "-----END CERTIFICATE-----" add trust
// anchors (a self-made authority, or a self-signed server certificate that
// carries the right name); a line of 64 hexadecimal digits, optionally in
// pairs separated by ":", optionally after "sha256 " or "SHA256=", pins one
// server certificate by its SHA-256 fingerprint. Anything else is skipped.
// A missing file is an empty one.
#pragma once

#include "platform/win32.h"

typedef struct PlatformTls PlatformTls;

enum PlatformTlsResult {
    PLATFORM_TLS_OK = 0,          // the handshake is done / bytes were moved
    PLATFORM_TLS_WANT_READ = 1,   // wait until the socket is readable, call again
    PLATFORM_TLS_WANT_WRITE = 2,  // wait until the socket is writable, call again
    PLATFORM_TLS_CLOSED = 3,      // the peer ended the stream (close_notify or EOF)
    PLATFORM_TLS_FAILED = 4,      // unusable from now on; PlatformTlsFailure says why
};

// Why a session failed.
enum PlatformTlsFailureKind {
    PLATFORM_TLS_NO_FAILURE = 0,
    PLATFORM_TLS_UNTRUSTED = 1,   // the chain leads to no trusted root and no pin matches
    PLATFORM_TLS_EXPIRED = 2,     // a certificate of the chain is expired or not yet valid
    PLATFORM_TLS_WRONG_NAME = 3,  // the certificate does not name the host
    PLATFORM_TLS_PROTOCOL = 4,    // handshake or record error: no common version or cipher, a bad record
    PLATFORM_TLS_CONNECTION = 5,  // the socket failed (reset, closed during the handshake)
};

struct PlatformTlsOptions {
    // The server's name as the user wrote it (DNS name or IPv4/IPv6 literal,
    // no port): verified against the certificate, sent as SNI. Required.
    const char* host;
    // The trust file, a path in the program's form ("\kestrovane\...");
    // NULL for none.
    const char* trustFile;
    // A session whose TLS session the new one resumes (an FTP data
    // connection resumes its control connection's, as servers demand), or
    // NULL. The new session is verified in full all the same.
    const PlatformTls* resume;
};

// A session over `socket` (connected, non-blocking, see T1) as a client.
// Nothing is sent yet. NULL with the last error set when resources fail or an
// argument is missing.
PlatformTls* PlatformTlsCreate(SOCKET socket, const struct PlatformTlsOptions* options);

// Drives the handshake; PLATFORM_TLS_OK once it is done and the server is
// verified (T4).
int PlatformTlsHandshake(PlatformTls* tls);

// Reads up to `size` decrypted bytes into `buffer`; *received gets the count
// (> 0 with PLATFORM_TLS_OK).
int PlatformTlsRead(PlatformTls* tls, void* buffer, int size, int* received);

// Encrypts and sends up to `size` bytes; *sent gets how many were taken
// (> 0 with PLATFORM_TLS_OK; the rest is the caller's to send again).
int PlatformTlsWrite(PlatformTls* tls, const void* bytes, int size, int* sent);

// TRUE when decrypted bytes wait inside the session (T3).
BOOL PlatformTlsPending(const PlatformTls* tls);

// Sends close_notify (PLATFORM_TLS_WANT_WRITE until it is out). The peer's
// answer is not waited for.
int PlatformTlsShutdown(PlatformTls* tls);

// Why the session failed: the kind, and a line of text for the screen and the
// event log (NUL-terminated, cut to `size`), e.g. "certificate expired" or
// "certificate is for other.example.com". `text` may be NULL.
int PlatformTlsFailure(const PlatformTls* tls, char* text, int size);

// Frees the session (not the socket). NULL is ignored.
void PlatformTlsFree(PlatformTls* tls);
