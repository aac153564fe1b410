// The trust file (format in platform/tls.h), read for both TLS layers:
// certificates as DER, pins as SHA-256 digests. Internal to platform/.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

inline constexpr size_t kTlsTrustFileLimit = 1024 * 1024;  // bytes read at most
inline constexpr size_t kTlsFingerprintSize = 32;           // SHA-256

using TlsFingerprint = std::array<unsigned char, kTlsFingerprintSize>;

struct TlsTrust {
    std::vector<std::vector<unsigned char>> certificates;  // DER, not yet parsed
    std::vector<TlsFingerprint> pins;
};

// Parses the trust file's text (untrusted: malformed lines and blocks are
// skipped; a block's DER is only base64-decoded here, the caller's library
// parses it and drops what it cannot read).
TlsTrust TlsParseTrust(const std::string& text);

// Reads and parses the trust file at `path` (the program's path form), at
// most kTlsTrustFileLimit bytes; NULL or a missing or unreadable file gives
// an empty trust.
TlsTrust TlsReadTrust(const char* path);

// Whether `digest` is one of the pins.
bool TlsPinned(const TlsTrust& trust, const unsigned char* digest);
