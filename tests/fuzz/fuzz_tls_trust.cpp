// Fuzzes the reader of the user's trust file with hostile text: it must not
// crash, every certificate block it keeps must be bounded, and what OpenSSL
// is then given (as the TLS layer gives it) must not crash OpenSSL either.
#include <openssl/x509.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/tls_trust.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    TlsTrust trust = TlsParseTrust(text);
    if (trust.pins.size() > size / (2 * kTlsFingerprintSize) + 1) std::abort();
    for (const auto& der : trust.certificates) {
        if (der.empty() || der.size() > size) std::abort();
        const unsigned char* p = der.data();
        X509_free(d2i_X509(nullptr, &p, long(der.size())));
    }
    return 0;
}
