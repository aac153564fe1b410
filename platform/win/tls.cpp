// platform/tls.h over Schannel. Schannel only transforms bytes: this file
// moves them over the caller's non-blocking socket, keeps the records that
// arrive in pieces, and verifies the server itself, because Schannel is asked
// not to (SCH_CRED_MANUAL_CRED_VALIDATION) and Wine's does no checks at all.
#define SECURITY_WIN32
#include "platform/tls.h"

#include <schannel.h>
#include <security.h>
#include <wincrypt.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/tls_session.h"
#include "platform/tls_trust.h"

namespace {

// The handshake's messages (a certificate chain) may span several records.
constexpr size_t kHandshakeBuffer = 64 * 1024;
constexpr size_t kRecordHeader = 5;  // type, version, length
constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR;

// A credential handle, shared by a session and those that resume it:
// Schannel resumes sessions of the same credentials and target name.
struct Credentials {
    CredHandle handle{};
    bool valid = false;
    ~Credentials() {
        if (valid) FreeCredentialsHandle(&handle);
    }
};

}  // namespace

struct PlatformTls : TlsSession {
    SOCKET socket = INVALID_SOCKET;
    std::shared_ptr<Credentials> credentials;
    CtxtHandle context{};
    bool haveContext = false;
    std::string host;
    bool sendName = false;     // SNI: not for an IP literal
    TlsTrust trust;
    SecPkgContext_StreamSizes sizes{};
    bool established = false;  // handshake (or renegotiation) done and verified
    bool needInput = false;    // the handshake waits for the server's bytes
    std::vector<char> in;      // received, not yet decrypted; capacity is the bound
    size_t inUsed = 0;
    std::string out;           // to send: a handshake token or one record
    size_t outSent = 0;
    int outPlain = 0;          // plaintext bytes in `out`, reported once it is sent
    std::string plain;         // decrypted, not yet read
    size_t plainAt = 0;
    bool shuttingDown = false;

    ~PlatformTls() {
        if (haveContext) DeleteSecurityContext(&context);
    }
};

namespace {

int FailStatus(PlatformTls* tls, const char* what, SECURITY_STATUS status) {
    char text[120];
    std::snprintf(text, sizeof text, "TLS %s failed (0x%08lx)", what, static_cast<unsigned long>(status));
    return TlsFail(tls, PLATFORM_TLS_PROTOCOL, text);
}

bool IsIpLiteral(const char* host, unsigned char* address, size_t* size) {
    in6_addr v6;
    in_addr v4;
    if (inet_pton(AF_INET, host, &v4) == 1) {
        std::memcpy(address, &v4, 4);
        *size = 4;
        return true;
    }
    if (inet_pton(AF_INET6, host, &v6) == 1) {
        std::memcpy(address, &v6, 16);
        *size = 16;
        return true;
    }
    return false;
}

// Sends what waits in `out`.
int Flush(PlatformTls* tls) {
    while (tls->outSent < tls->out.size()) {
        int n = send(tls->socket, tls->out.data() + tls->outSent, int(tls->out.size() - tls->outSent), 0);
        if (n == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK) return PLATFORM_TLS_WANT_WRITE;
            return TlsFail(tls, PLATFORM_TLS_CONNECTION, "the connection failed");
        }
        tls->outSent += size_t(n);
    }
    tls->out.clear();
    tls->outSent = 0;
    return PLATFORM_TLS_OK;
}

// Receives into the free end of `in`; PLATFORM_TLS_CLOSED at the end of the
// stream (the caller decides what that means).
int Fill(PlatformTls* tls) {
    if (tls->inUsed == tls->in.size()) return TlsFail(tls, PLATFORM_TLS_PROTOCOL, "TLS record too large");
    int n = recv(tls->socket, tls->in.data() + tls->inUsed, int(tls->in.size() - tls->inUsed), 0);
    if (n > 0) {
        tls->inUsed += size_t(n);
        return PLATFORM_TLS_OK;
    }
    if (n == 0) return PLATFORM_TLS_CLOSED;
    if (WSAGetLastError() == WSAEWOULDBLOCK) return PLATFORM_TLS_WANT_READ;
    return TlsFail(tls, PLATFORM_TLS_CONNECTION, "the connection failed");
}

// Keeps the `extra` unprocessed bytes at the end of `in` and drops the rest.
void KeepExtra(PlatformTls* tls, size_t extra) {
    extra = std::min(extra, tls->inUsed);
    std::memmove(tls->in.data(), tls->in.data() + tls->inUsed - extra, extra);
    tls->inUsed = extra;
}

// ---- Verification ----

bool Sha256(const BYTE* bytes, DWORD size, unsigned char (&digest)[kTlsFingerprintSize]) {
    DWORD length = sizeof digest;
    return CryptHashCertificate2(L"SHA256", 0, nullptr, bytes, size, digest, &length) && length == sizeof digest;
}

bool InTrustFile(const TlsTrust& trust, PCCERT_CONTEXT certificate) {
    for (const auto& der : trust.certificates)
        if (der.size() == certificate->cbCertEncoded &&
            std::memcmp(der.data(), certificate->pbCertEncoded, der.size()) == 0)
            return true;
    return false;
}

bool LabelsEqual(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

// "*.example.com" stands for exactly one whole leftmost label.
bool NameMatches(const std::string& pattern, const std::string& host) {
    if (pattern.size() > 2 && pattern[0] == '*' && pattern[1] == '.') {
        size_t dot = host.find('.');
        std::string rest = pattern.substr(1);
        return dot != std::string::npos && dot > 0 && rest.find('.', 1) != std::string::npos &&
               LabelsEqual(host.substr(dot), rest);
    }
    return LabelsEqual(pattern, host);
}

// A name from the certificate, short and printable, for the failure text.
template <typename Char>
std::string Printable(const Char* name) {
    std::string out;
    for (; name && *name && out.size() < 100; ++name)
        out += (*name >= 0x20 && *name < 0x7f) ? char(*name) : '?';
    return out;
}

// Whether the certificate names `host`: DNS names of the subject alternative
// names (the common name only when there are none), IP names for an IP
// literal. *shown gets the first name, for the failure text.
bool NamesHost(PCCERT_CONTEXT certificate, const std::string& host, std::string* shown) {
    unsigned char address[16];
    size_t addressSize = 0;
    bool ip = IsIpLiteral(host.c_str(), address, &addressSize);
    bool found = false, anyDns = false;
    PCERT_EXTENSION extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, certificate->pCertInfo->cExtension,
                                                  certificate->pCertInfo->rgExtension);
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (extension && CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                         extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size)) {
        for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
            const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
            if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
                anyDns = true;
                std::string name = Printable(entry.pwszDNSName);
                if (shown->empty()) *shown = name;
                found = !ip && NameMatches(name, host);
            } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
                const CRYPT_DATA_BLOB& blob = entry.IPAddress;
                if (shown->empty() && blob.cbData == 4) {
                    char text[16];
                    std::snprintf(text, sizeof text, "%u.%u.%u.%u", blob.pbData[0], blob.pbData[1], blob.pbData[2],
                                  blob.pbData[3]);
                    *shown = text;
                }
                found = ip && blob.cbData == addressSize && std::memcmp(blob.pbData, address, addressSize) == 0;
            }
        }
        LocalFree(names);
    }
    if (!found && !anyDns) {
        char common[256] = "";
        CertGetNameStringA(certificate, CERT_NAME_ATTR_TYPE, 0, const_cast<char*>(szOID_COMMON_NAME), common,
                           sizeof common);
        std::string name(common);
        if (shown->empty()) *shown = Printable(common);
        found = !ip && !name.empty() && NameMatches(name, host);
    }
    return found;
}

// Errors of a chain that say it must not be trusted; others (revocation not
// asked for, nesting of validity periods) say nothing here.
constexpr DWORD kChainErrors = ~(CERT_TRUST_IS_NOT_TIME_NESTED | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                 CERT_TRUST_IS_OFFLINE_REVOCATION);

// T4 for the certificate the server sent.
int Verify(PlatformTls* tls) {
    PCCERT_CONTEXT leaf = nullptr;
    SECURITY_STATUS status = QueryContextAttributesA(&tls->context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &leaf);
    if (status != SEC_E_OK || !leaf) return TlsFail(tls, PLATFORM_TLS_PROTOCOL, "the server sent no certificate");
    std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)> leafOwner(leaf,
                                                                                        CertFreeCertificateContext);
    unsigned char digest[kTlsFingerprintSize];
    if (!tls->trust.pins.empty() && Sha256(leaf->pbCertEncoded, leaf->cbCertEncoded, digest) &&
        TlsPinned(tls->trust, digest))
        return PLATFORM_TLS_OK;

    // The trust file's certificates and the server's intermediates, for the
    // chain engine to find.
    HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr);
    if (!extra) return TlsFail(tls, PLATFORM_TLS_PROTOCOL, "no memory for the certificate check");
    for (const auto& der : tls->trust.certificates)
        CertAddEncodedCertificateToStore(extra, X509_ASN_ENCODING, der.data(), DWORD(der.size()),
                                         CERT_STORE_ADD_USE_EXISTING, nullptr);
    for (PCCERT_CONTEXT c = nullptr; leaf->hCertStore && (c = CertEnumCertificatesInStore(leaf->hCertStore, c));)
        CertAddCertificateContextToStore(extra, c, CERT_STORE_ADD_USE_EXISTING, nullptr);

    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    char* usages[] = {serverAuth};
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    bool built = CertGetCertificateChain(nullptr, leaf, nullptr, extra, &para, 0, nullptr, &chain) && chain &&
                 chain->cChain > 0 && chain->rgpChain[0]->cElement > 0;
    DWORD errors = built ? chain->TrustStatus.dwErrorStatus & kChainErrors : CERT_TRUST_IS_PARTIAL_CHAIN;
    if (built && (errors & CERT_TRUST_IS_UNTRUSTED_ROOT)) {
        // An extra store's root is not trusted by the chain engine: it is
        // when it is the trust file's.
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
        if (InTrustFile(tls->trust, simple->rgpElement[simple->cElement - 1]->pCertContext))
            errors &= ~DWORD(CERT_TRUST_IS_UNTRUSTED_ROOT);
    }
    if (chain) CertFreeCertificateChain(chain);
    CertCloseStore(extra, 0);

    constexpr DWORD kTime = CERT_TRUST_IS_NOT_TIME_VALID;
    if (errors & ~kTime) return TlsFail(tls, PLATFORM_TLS_UNTRUSTED, "certificate not trusted");
    if (errors & kTime) return TlsFail(tls, PLATFORM_TLS_EXPIRED, "certificate expired or not yet valid");
    std::string shown;
    if (!NamesHost(leaf, tls->host, &shown))
        return TlsFail(tls, PLATFORM_TLS_WRONG_NAME, "certificate is for " + shown);
    return PLATFORM_TLS_OK;
}

// ---- The handshake (also a renegotiation the server asks for) ----

int DriveHandshake(PlatformTls* tls) {
    for (;;) {
        int r = Flush(tls);
        if (r != PLATFORM_TLS_OK) return r;
        if (tls->established) return PLATFORM_TLS_OK;
        if (tls->needInput) {
            r = Fill(tls);
            if (r == PLATFORM_TLS_CLOSED)
                return TlsFail(tls, PLATFORM_TLS_CONNECTION, "the server closed the connection during the handshake");
            if (r != PLATFORM_TLS_OK) return r;
        }
        SecBuffer input[2] = {{DWORD(tls->inUsed), SECBUFFER_TOKEN, tls->in.data()}, {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inputDesc = {SECBUFFER_VERSION, 2, input};
        SecBuffer output[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outputDesc = {SECBUFFER_VERSION, 1, output};
        DWORD attributes = 0;
        SECURITY_STATUS status = InitializeSecurityContextA(
            &tls->credentials->handle, tls->haveContext ? &tls->context : nullptr,
            tls->sendName ? tls->host.data() : nullptr, kContextFlags, 0, 0,
            tls->haveContext ? &inputDesc : nullptr, 0, &tls->context, &outputDesc, &attributes, nullptr);
        tls->haveContext = true;
        if (output[0].pvBuffer) {
            if (output[0].cbBuffer > 0 && !FAILED(status))
                tls->out.assign(static_cast<const char*>(output[0].pvBuffer), output[0].cbBuffer);
            FreeContextBuffer(output[0].pvBuffer);
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            tls->needInput = true;
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            tls->needInput = false;  // no client certificate: ask again with what there is
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            tls->out.clear();
            return FailStatus(tls, "handshake", status);
        }
        size_t extra = input[1].BufferType == SECBUFFER_EXTRA ? input[1].cbBuffer : 0;
        KeepExtra(tls, extra);
        tls->needInput = extra == 0;
        if (status == SEC_E_OK) {
            status = QueryContextAttributesA(&tls->context, SECPKG_ATTR_STREAM_SIZES, &tls->sizes);
            if (status != SEC_E_OK) return FailStatus(tls, "handshake", status);
            // From here on one record at most waits undecrypted (T7).
            size_t record = size_t(tls->sizes.cbHeader) + tls->sizes.cbMaximumMessage + tls->sizes.cbTrailer;
            if (tls->inUsed > record) return TlsFail(tls, PLATFORM_TLS_PROTOCOL, "TLS record too large");
            tls->in.resize(std::max(record, tls->inUsed));
            r = Verify(tls);
            if (r != PLATFORM_TLS_OK) return r;
            tls->established = true;
            tls->needInput = false;
        }
    }
}

// Whether `in` holds a whole record, which select cannot announce.
bool WholeRecordWaits(const PlatformTls* tls) {
    if (tls->inUsed < kRecordHeader) return false;
    size_t length = (size_t(static_cast<unsigned char>(tls->in[3])) << 8) | static_cast<unsigned char>(tls->in[4]);
    return tls->inUsed >= kRecordHeader + length;
}

}  // namespace

PlatformTls* PlatformTlsCreate(SOCKET socket, const struct PlatformTlsOptions* options) {
    if (!TlsCreateArgumentsValid(socket, options)) return nullptr;
    std::unique_ptr<PlatformTls> tls(new (std::nothrow) PlatformTls);
    if (!tls) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    tls->socket = socket;
    tls->host = options->host;
    unsigned char address[16];
    size_t addressSize = 0;
    tls->sendName = !IsIpLiteral(options->host, address, &addressSize);
    tls->trust = TlsReadTrust(options->trustFile);
    tls->in.resize(kHandshakeBuffer);
    if (options->resume && options->resume->credentials) {
        tls->credentials = options->resume->credentials;
    } else {
        tls->credentials = std::make_shared<Credentials>();
        SCHANNEL_CRED cred = {};
        cred.dwVersion = SCHANNEL_CRED_VERSION;
        cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        TimeStamp expiry;
        char package[] = UNISP_NAME_A;
        SECURITY_STATUS status = AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &cred,
                                                           nullptr, nullptr, &tls->credentials->handle, &expiry);
        if (status != SEC_E_OK) {
            SetLastError(DWORD(status));
            return nullptr;
        }
        tls->credentials->valid = true;
    }
    return tls.release();
}

int PlatformTlsHandshake(PlatformTls* tls) {
    if (int early = TlsEarlyResult(tls); early != PLATFORM_TLS_OK) return early;
    return DriveHandshake(tls);
}

int PlatformTlsRead(PlatformTls* tls, void* buffer, int size, int* received) {
    if (int early = TlsEarlyTransferResult(tls, buffer, size, received); early != PLATFORM_TLS_OK) return early;
    for (;;) {
        if (tls->plainAt < tls->plain.size()) {
            size_t n = std::min(size_t(size), tls->plain.size() - tls->plainAt);
            std::memcpy(buffer, tls->plain.data() + tls->plainAt, n);
            tls->plainAt += n;
            *received = int(n);
            return PLATFORM_TLS_OK;
        }
        if (!tls->established) {
            int r = DriveHandshake(tls);
            if (r != PLATFORM_TLS_OK) return r;
        }
        if (!WholeRecordWaits(tls)) {
            int r = Fill(tls);
            if (r == PLATFORM_TLS_CLOSED) return TlsClosed(tls);
            if (r != PLATFORM_TLS_OK) return r;
            if (!WholeRecordWaits(tls)) continue;
        }
        SecBuffer buffers[4] = {{DWORD(tls->inUsed), SECBUFFER_DATA, tls->in.data()},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = DecryptMessage(&tls->context, &desc, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            // The header said whole; Schannel knows better: wait for more.
            int r = Fill(tls);
            if (r == PLATFORM_TLS_CLOSED) return TlsClosed(tls);
            if (r != PLATFORM_TLS_OK) return r;
            continue;
        }
        if (status == SEC_I_CONTEXT_EXPIRED) return TlsClosed(tls);  // close_notify
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) return FailStatus(tls, "record", status);
        size_t extra = 0;
        tls->plain.clear();
        tls->plainAt = 0;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.pvBuffer) tls->plain.assign(static_cast<char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA) extra = b.cbBuffer;
        }
        KeepExtra(tls, extra);
        if (status == SEC_I_RENEGOTIATE) {
            // The server starts a new handshake (or sends a post-handshake
            // message): its bytes are the extra ones, and the result is
            // verified again.
            tls->established = false;
            tls->needInput = tls->inUsed == 0;
            if (tls->inUsed > kHandshakeBuffer) return TlsFail(tls, PLATFORM_TLS_PROTOCOL, "TLS record too large");
            tls->in.resize(std::max(tls->in.size(), kHandshakeBuffer));
        }
    }
}

int PlatformTlsWrite(PlatformTls* tls, const void* bytes, int size, int* sent) {
    if (int early = TlsEarlyTransferResult(tls, bytes, size, sent); early != PLATFORM_TLS_OK) return early;
    if (!tls->established) {
        int r = DriveHandshake(tls);
        if (r != PLATFORM_TLS_OK) return r;
    }
    if (tls->out.empty()) {
        // One record: header, the bytes, trailer (EncryptMessage works in place).
        DWORD n = std::min(DWORD(size), tls->sizes.cbMaximumMessage);
        std::string record(size_t(tls->sizes.cbHeader) + n + tls->sizes.cbTrailer, '\0');
        std::memcpy(&record[tls->sizes.cbHeader], bytes, n);
        SecBuffer buffers[4] = {{tls->sizes.cbHeader, SECBUFFER_STREAM_HEADER, &record[0]},
                                {n, SECBUFFER_DATA, &record[tls->sizes.cbHeader]},
                                {tls->sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, &record[tls->sizes.cbHeader + n]},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = EncryptMessage(&tls->context, 0, &desc, 0);
        if (status != SEC_E_OK) return FailStatus(tls, "record", status);
        record.resize(size_t(buffers[0].cbBuffer) + buffers[1].cbBuffer + buffers[2].cbBuffer);
        tls->out = std::move(record);
        tls->outSent = 0;
        tls->outPlain = int(n);
    }
    // A record already under way is the one this call (repeated, T2) made.
    int r = Flush(tls);
    if (r != PLATFORM_TLS_OK) return r;
    *sent = tls->outPlain;
    tls->outPlain = 0;
    return PLATFORM_TLS_OK;
}

BOOL PlatformTlsPending(const PlatformTls* tls) {
    return tls && tls->final == kTlsOpen && (tls->plainAt < tls->plain.size() || WholeRecordWaits(tls)) ? TRUE : FALSE;
}

int PlatformTlsShutdown(PlatformTls* tls) {
    if (int early = TlsEarlyResult(tls); early != PLATFORM_TLS_OK) return early;
    if (!tls->shuttingDown && tls->haveContext) {
        tls->shuttingDown = true;
        DWORD type = SCHANNEL_SHUTDOWN;
        SecBuffer token = {sizeof type, SECBUFFER_TOKEN, &type};
        SecBufferDesc tokenDesc = {SECBUFFER_VERSION, 1, &token};
        if (ApplyControlToken(&tls->context, &tokenDesc) != SEC_E_OK) return PLATFORM_TLS_OK;
        SecBuffer output = {0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outputDesc = {SECBUFFER_VERSION, 1, &output};
        DWORD attributes = 0;
        SECURITY_STATUS status = InitializeSecurityContextA(
            &tls->credentials->handle, &tls->context, tls->sendName ? tls->host.data() : nullptr, kContextFlags, 0,
            0, nullptr, 0, &tls->context, &outputDesc, &attributes, nullptr);
        if (output.pvBuffer) {
            if (!FAILED(status) && output.cbBuffer > 0) {
                tls->out.assign(static_cast<const char*>(output.pvBuffer), output.cbBuffer);
                tls->outSent = 0;
            }
            FreeContextBuffer(output.pvBuffer);
        }
    }
    return Flush(tls);
}

int PlatformTlsFailure(const PlatformTls* tls, char* text, int size) { return TlsFailureText(tls, text, size); }

void PlatformTlsFree(PlatformTls* tls) { delete tls; }
