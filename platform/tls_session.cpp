// The part of platform/tls.h that does not depend on the TLS library, for
// both layers (tls_session.h).
#include "platform/tls_session.h"

#include <algorithm>
#include <cstring>
#include <utility>

int TlsFail(TlsSession* tls, int kind, std::string text) {
    tls->final = PLATFORM_TLS_FAILED;
    tls->kind = kind;
    tls->text = std::move(text);
    return PLATFORM_TLS_FAILED;
}

int TlsClosed(TlsSession* tls) {
    tls->final = PLATFORM_TLS_CLOSED;
    return PLATFORM_TLS_CLOSED;
}

bool TlsCreateArgumentsValid(SOCKET socket, const PlatformTlsOptions* options) {
    if (socket == INVALID_SOCKET || !options || !options->host || !*options->host) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

int TlsEarlyResult(const TlsSession* tls) {
    if (!tls) return PLATFORM_TLS_FAILED;
    if (tls->final != kTlsOpen) return tls->final;
    return PLATFORM_TLS_OK;
}

int TlsEarlyTransferResult(const TlsSession* tls, const void* buffer, int size, int* count) {
    if (count) *count = 0;
    const int early = TlsEarlyResult(tls);
    if (early != PLATFORM_TLS_OK) return early;
    if (!buffer || size <= 0 || !count) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return PLATFORM_TLS_FAILED;
    }
    return PLATFORM_TLS_OK;
}

int TlsFailureText(const TlsSession* tls, char* text, int size) {
    int kind = tls ? tls->kind : PLATFORM_TLS_NO_FAILURE;
    if (text && size > 0) {
        std::string line = tls ? tls->text : std::string();
        size_t n = std::min(line.size(), size_t(size - 1));
        std::memcpy(text, line.data(), n);
        text[n] = '\0';
    }
    return kind;
}
