// platform/tls.h over OpenSSL. The socket is the program's own (a number of
// the Winsock layer, not a descriptor), so OpenSSL reaches it through a BIO
// of ours that calls send and recv; WSAEWOULDBLOCK becomes OpenSSL's retry,
// which SSL_get_error reports as WANT_READ / WANT_WRITE.
#include "platform/tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "platform/tls_session.h"
#include "platform/tls_trust.h"

namespace {

// Resumable sessions, each used once (a server may refuse a TLS 1.3 ticket
// that comes back twice). Shared by a session and every session that resumes
// it, so tickets a resumed session receives serve the next one.
struct SessionPool {
    std::mutex lock;
    std::deque<SSL_SESSION*> sessions;
    ~SessionPool() {
        for (SSL_SESSION* s : sessions) SSL_SESSION_free(s);
    }
};
constexpr size_t kPoolLimit = 8;

}  // namespace

struct PlatformTls : TlsSession {
    SOCKET socket = INVALID_SOCKET;
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    std::shared_ptr<SessionPool> pool;
    TlsTrust trust;
    bool pinned = false;       // the leaf was accepted by its fingerprint
    bool sawEof = false;       // recv returned 0
    bool socketFailed = false; // send or recv failed for a reason other than waiting
    int verifyError = X509_V_OK;
    std::string verifyName;    // what the certificate names, for WRONG_NAME

    ~PlatformTls() {
        if (ssl) SSL_free(ssl);
        if (ctx) SSL_CTX_free(ctx);
    }
};

namespace {

// ---- The BIO over the program's socket ----

int BioWrite(BIO* bio, const char* data, int size) {
    auto* tls = static_cast<PlatformTls*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int n = send(tls->socket, data, size, 0);
    if (n >= 0) return n;
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
        BIO_set_retry_write(bio);
    } else {
        tls->socketFailed = true;
    }
    return -1;
}

int BioRead(BIO* bio, char* data, int size) {
    auto* tls = static_cast<PlatformTls*>(BIO_get_data(bio));
    BIO_clear_retry_flags(bio);
    int n = recv(tls->socket, data, size, 0);
    if (n > 0) return n;
    if (n == 0) {
        tls->sawEof = true;
        return 0;
    }
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
        BIO_set_retry_read(bio);
    } else {
        tls->socketFailed = true;
    }
    return -1;
}

long BioCtrl(BIO*, int command, long, void*) { return command == BIO_CTRL_FLUSH ? 1 : 0; }

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketBio() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "program socket");
        if (m) {
            BIO_meth_set_write(m, BioWrite);
            BIO_meth_set_read(m, BioRead);
            BIO_meth_set_ctrl(m, BioCtrl);
            BIO_meth_set_create(m, BioCreate);
        }
        return m;
    }();
    return method;
}

// ---- Verification ----

bool Fingerprint(X509* certificate, unsigned char (&digest)[EVP_MAX_MD_SIZE]) {
    unsigned size = 0;
    return X509_digest(certificate, EVP_sha256(), digest, &size) == 1 && size == kTlsFingerprintSize;
}

// What the certificate names first (DNS name, else IP address, else the
// common name), for the failure text.
std::string FirstName(X509* certificate) {
    std::string name;
    auto* names = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr));
    for (int i = 0; names && i < sk_GENERAL_NAME_num(names) && name.empty(); ++i) {
        const GENERAL_NAME* entry = sk_GENERAL_NAME_value(names, i);
        if (entry->type == GEN_DNS) {
            const ASN1_IA5STRING* dns = entry->d.dNSName;
            name.assign(reinterpret_cast<const char*>(ASN1_STRING_get0_data(dns)), size_t(ASN1_STRING_length(dns)));
        } else if (entry->type == GEN_IPADD) {
            const ASN1_OCTET_STRING* ip = entry->d.iPAddress;
            if (ASN1_STRING_length(ip) == 4) {
                const unsigned char* b = ASN1_STRING_get0_data(ip);
                char buffer[16];
                std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
                name = buffer;
            }
        }
    }
    GENERAL_NAMES_free(names);
    if (name.empty()) {
        char buffer[256];
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(certificate), NID_commonName, buffer, sizeof buffer) > 0)
            name = buffer;
    }
    // The name came from the peer: keep it short and printable.
    if (name.size() > 100) name.resize(100);
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) c = '?';
    return name;
}

// OpenSSL's verdict on one certificate of the chain. A leaf the trust file
// pins is accepted whatever the verdict; otherwise the first error is kept
// and ends the handshake.
int VerifyCallback(int ok, X509_STORE_CTX* store) {
    auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* tls = static_cast<PlatformTls*>(SSL_get_app_data(ssl));
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    unsigned char digest[EVP_MAX_MD_SIZE];
    if (leaf && !tls->trust.pins.empty() && Fingerprint(leaf, digest) && TlsPinned(tls->trust, digest)) {
        tls->pinned = true;
        return 1;
    }
    if (ok) return 1;
    if (tls->verifyError == X509_V_OK) {
        tls->verifyError = X509_STORE_CTX_get_error(store);
        if (leaf) tls->verifyName = FirstName(leaf);
    }
    return 0;
}

int KindOf(int verifyError) {
    switch (verifyError) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
    case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
    case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
        return PLATFORM_TLS_EXPIRED;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return PLATFORM_TLS_WRONG_NAME;
    default:
        return PLATFORM_TLS_UNTRUSTED;
    }
}

// ---- Outcomes ----

int Fail(PlatformTls* tls, int kind, std::string text) {
    ERR_clear_error();
    return TlsFail(tls, kind, std::move(text));
}

// What an SSL_* call that returned `rc` <= 0 means for the caller.
int Outcome(PlatformTls* tls, int rc, bool handshaking) {
    int error = SSL_get_error(tls->ssl, rc);
    switch (error) {
    case SSL_ERROR_WANT_READ:
        return PLATFORM_TLS_WANT_READ;
    case SSL_ERROR_WANT_WRITE:
        return PLATFORM_TLS_WANT_WRITE;
    case SSL_ERROR_ZERO_RETURN:
        if (handshaking) return Fail(tls, PLATFORM_TLS_CONNECTION, "the server closed the connection during the handshake");
        ERR_clear_error();
        return TlsClosed(tls);
    default:
        break;
    }
    if (tls->verifyError != X509_V_OK) {
        int kind = KindOf(tls->verifyError);
        std::string text = kind == PLATFORM_TLS_EXPIRED ? "certificate expired or not yet valid"
                         : kind == PLATFORM_TLS_WRONG_NAME ? "certificate is for " + tls->verifyName
                         : std::string("certificate not trusted: ") + X509_verify_cert_error_string(tls->verifyError);
        return Fail(tls, kind, text);
    }
    if (tls->socketFailed) return Fail(tls, PLATFORM_TLS_CONNECTION, "the connection failed");
    if (tls->sawEof) {
        if (handshaking) return Fail(tls, PLATFORM_TLS_CONNECTION, "the server closed the connection during the handshake");
        ERR_clear_error();
        return TlsClosed(tls);
    }
    char reason[200] = "TLS protocol error";
    if (unsigned long code = ERR_peek_error()) {
        const char* r = ERR_reason_error_string(code);
        if (r) std::snprintf(reason, sizeof reason, "TLS protocol error: %s", r);
    }
    return Fail(tls, PLATFORM_TLS_PROTOCOL, reason);
}

bool IsIpLiteral(const char* host) {
    ASN1_OCTET_STRING* ip = a2i_IPADDRESS(host);
    bool literal = ip != nullptr;
    ASN1_OCTET_STRING_free(ip);
    return literal;
}

int NewSession(SSL* ssl, SSL_SESSION* session) {
    auto* tls = static_cast<PlatformTls*>(SSL_get_app_data(ssl));
    if (!SSL_SESSION_is_resumable(session)) return 0;
    // A copy: OpenSSL marks the connection's own session unresumable when
    // the connection is freed without close_notify.
    SSL_SESSION* copy = SSL_SESSION_dup(session);
    if (!copy) return 0;
    std::lock_guard<std::mutex> guard(tls->pool->lock);
    tls->pool->sessions.push_back(copy);
    if (tls->pool->sessions.size() > kPoolLimit) {
        SSL_SESSION_free(tls->pool->sessions.front());
        tls->pool->sessions.pop_front();
    }
    return 0;
}

// A resumed session brings no certificate to the callback: the stored chain
// is verified again against this session's trust and host.
bool VerifyResumed(PlatformTls* tls) {
    X509* leaf = SSL_get0_peer_certificate(tls->ssl);
    if (!leaf) return false;
    unsigned char digest[EVP_MAX_MD_SIZE];
    if (Fingerprint(leaf, digest) && TlsPinned(tls->trust, digest)) return true;
    X509_STORE_CTX* store = X509_STORE_CTX_new();
    bool ok = store && X509_STORE_CTX_init(store, SSL_CTX_get_cert_store(tls->ctx), leaf, SSL_get_peer_cert_chain(tls->ssl)) == 1;
    if (ok) {
        X509_STORE_CTX_set_default(store, "ssl_server");
        X509_VERIFY_PARAM_set1(X509_STORE_CTX_get0_param(store), SSL_get0_param(tls->ssl));
        ok = X509_verify_cert(store) == 1;
        if (!ok) {
            tls->verifyError = X509_STORE_CTX_get_error(store);
            tls->verifyName = FirstName(leaf);
        }
    }
    X509_STORE_CTX_free(store);
    if (!ok && tls->verifyError == X509_V_OK) tls->verifyError = X509_V_ERR_UNSPECIFIED;
    return ok;
}

// A client context: the system's roots and the trust file's certificates,
// and the settings every session shares.
SSL_CTX* NewContext(const TlsTrust& trust) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 ||
        SSL_CTX_set_default_verify_paths(ctx) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    X509_STORE* store = SSL_CTX_get_cert_store(ctx);
    for (const auto& der : trust.certificates) {
        const unsigned char* p = der.data();
        X509* certificate = d2i_X509(nullptr, &p, long(der.size()));
        if (certificate) X509_STORE_add_cert(store, certificate);  // a duplicate is harmless
        X509_free(certificate);
    }
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, VerifyCallback);
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, NewSession);
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // A peer that closes without close_notify has ended the stream (CLOSED).
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF | SSL_OP_NO_RENEGOTIATION);
    ERR_clear_error();
    return ctx;
}

// Loading the system's roots takes a tenth of a second, too long for every
// FTP data connection: contexts are kept for the process, one per set of
// extra anchors (pins are the session's own). A new reference, or NULL.
SSL_CTX* SharedContext(const TlsTrust& trust) {
    constexpr size_t kKept = 8;
    using Anchors = std::vector<std::vector<unsigned char>>;
    static std::mutex lock;
    // Never destroyed: sessions may outlive static destruction.
    static auto& kept = *new std::deque<std::pair<Anchors, SSL_CTX*>>;
    std::lock_guard<std::mutex> guard(lock);
    for (auto& entry : kept) {
        if (entry.first == trust.certificates) {
            SSL_CTX_up_ref(entry.second);
            return entry.second;
        }
    }
    SSL_CTX* ctx = NewContext(trust);
    if (!ctx) return nullptr;
    SSL_CTX_up_ref(ctx);
    kept.emplace_back(trust.certificates, ctx);
    if (kept.size() > kKept) {
        SSL_CTX_free(kept.front().second);
        kept.pop_front();
    }
    return ctx;
}

}  // namespace

PlatformTls* PlatformTlsCreate(SOCKET socket, const struct PlatformTlsOptions* options) {
    if (!TlsCreateArgumentsValid(socket, options)) return nullptr;
    std::unique_ptr<PlatformTls> tls(new (std::nothrow) PlatformTls);
    if (!tls || !SocketBio()) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    tls->socket = socket;
    tls->trust = TlsReadTrust(options->trustFile);
    tls->pool = options->resume ? options->resume->pool : std::make_shared<SessionPool>();
    const char* host = options->host;

    tls->ctx = SharedContext(tls->trust);
    if (tls->ctx) tls->ssl = SSL_new(tls->ctx);
    bool ok = tls->ssl && SSL_set1_host(tls->ssl, host) == 1 &&
         (IsIpLiteral(host) || SSL_set_tlsext_host_name(tls->ssl, host) == 1);
    BIO* bio = ok ? BIO_new(SocketBio()) : nullptr;
    if (!bio) {
        ERR_clear_error();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    BIO_set_data(bio, tls.get());
    SSL_set_bio(tls->ssl, bio, bio);
    SSL_set_app_data(tls->ssl, tls.get());
    SSL_set_connect_state(tls->ssl);
    if (options->resume) {
        SSL_SESSION* session = nullptr;
        {
            std::lock_guard<std::mutex> guard(tls->pool->lock);
            if (!tls->pool->sessions.empty()) {
                session = tls->pool->sessions.back();
                tls->pool->sessions.pop_back();
            }
        }
        if (!session && options->resume->ssl) session = SSL_get1_session(options->resume->ssl);
        if (session) SSL_set_session(tls->ssl, session);
        SSL_SESSION_free(session);
    }
    return tls.release();
}

int PlatformTlsHandshake(PlatformTls* tls) {
    if (int early = TlsEarlyResult(tls); early != PLATFORM_TLS_OK) return early;
    ERR_clear_error();
    int rc = SSL_do_handshake(tls->ssl);
    if (rc != 1) return Outcome(tls, rc, true);
    if (SSL_session_reused(tls->ssl) && !VerifyResumed(tls)) return Outcome(tls, 0, true);
    return PLATFORM_TLS_OK;
}

int PlatformTlsRead(PlatformTls* tls, void* buffer, int size, int* received) {
    if (int early = TlsEarlyTransferResult(tls, buffer, size, received); early != PLATFORM_TLS_OK) return early;
    ERR_clear_error();
    int rc = SSL_read(tls->ssl, buffer, size);
    if (rc > 0) {
        *received = rc;
        return PLATFORM_TLS_OK;
    }
    return Outcome(tls, rc, !SSL_is_init_finished(tls->ssl));
}

int PlatformTlsWrite(PlatformTls* tls, const void* bytes, int size, int* sent) {
    if (int early = TlsEarlyTransferResult(tls, bytes, size, sent); early != PLATFORM_TLS_OK) return early;
    ERR_clear_error();
    int rc = SSL_write(tls->ssl, bytes, size);
    if (rc > 0) {
        *sent = rc;
        return PLATFORM_TLS_OK;
    }
    return Outcome(tls, rc, !SSL_is_init_finished(tls->ssl));
}

BOOL PlatformTlsPending(const PlatformTls* tls) {
    return tls && tls->final == kTlsOpen && SSL_pending(tls->ssl) > 0 ? TRUE : FALSE;
}

int PlatformTlsShutdown(PlatformTls* tls) {
    if (int early = TlsEarlyResult(tls); early != PLATFORM_TLS_OK) return early;
    ERR_clear_error();
    int rc = SSL_shutdown(tls->ssl);
    if (rc >= 0) return PLATFORM_TLS_OK;  // close_notify is out; the answer is not awaited
    return Outcome(tls, rc, false);
}

int PlatformTlsFailure(const PlatformTls* tls, char* text, int size) { return TlsFailureText(tls, text, size); }

void PlatformTlsFree(PlatformTls* tls) { delete tls; }
