// InternetOpenUrlA / InternetReadFile through libcurl's multi interface, so
// that each call can wait for exactly what it needs (the headers, or the next
// bytes of the body) with the layer's time limit, and a close from another
// thread wakes a call that waits.
//
// libcurl is opened on the first URL request rather than linked: it brings
// two dozen libraries (TLS, Kerberos, LDAP...) whose loading and relocation
// cost every start of the program about 15 ms, before its window can open.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <curl/curl.h>
#include <dlfcn.h>
#include <functional>
#include <new>
#include <pthread.h>
#include <signal.h>
#include <type_traits>

#include "platform/ftp/ftp_control.h"
#include "platform/linux/kernel32.h"
#include "platform/ftp/internet_handles.h"

namespace {

// The libcurl functions used here, from the library opened at run time.
struct CurlLibrary {
    decltype(&curl_global_init) global_init;
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_pause) easy_pause;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_multi_init) multi_init;
    decltype(&curl_multi_add_handle) multi_add_handle;
    decltype(&curl_multi_remove_handle) multi_remove_handle;
    decltype(&curl_multi_perform) multi_perform;
    decltype(&curl_multi_info_read) multi_info_read;
    decltype(&curl_multi_poll) multi_poll;
    decltype(&curl_multi_wakeup) multi_wakeup;
    decltype(&curl_multi_cleanup) multi_cleanup;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
};

// The library, opened and initialised once (the library stays for the life
// of the process); null when it cannot be loaded or lacks a function.
const CurlLibrary* Curl() {
    static const CurlLibrary* const library = []() -> const CurlLibrary* {
        void* module = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (!module) return nullptr;
        static CurlLibrary table;
        bool complete = true;
        auto bind = [&](auto& slot, const char* name) {
            slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(dlsym(module, name));
            complete = complete && slot;
        };
        bind(table.global_init, "curl_global_init");
        bind(table.easy_init, "curl_easy_init");
        bind(table.easy_setopt, "curl_easy_setopt");
        bind(table.easy_getinfo, "curl_easy_getinfo");
        bind(table.easy_pause, "curl_easy_pause");
        bind(table.easy_cleanup, "curl_easy_cleanup");
        bind(table.multi_init, "curl_multi_init");
        bind(table.multi_add_handle, "curl_multi_add_handle");
        bind(table.multi_remove_handle, "curl_multi_remove_handle");
        bind(table.multi_perform, "curl_multi_perform");
        bind(table.multi_info_read, "curl_multi_info_read");
        bind(table.multi_poll, "curl_multi_poll");
        bind(table.multi_wakeup, "curl_multi_wakeup");
        bind(table.multi_cleanup, "curl_multi_cleanup");
        bind(table.slist_append, "curl_slist_append");
        bind(table.slist_free_all, "curl_slist_free_all");
        if (!complete || table.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
        return &table;
    }();
    return library;
}

// Body bytes kept unread before the transfer is paused.
constexpr size_t kMaxPending = 1024 * 1024;

int64_t NowMs() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// With CURLOPT_NOSIGNAL (needed with threads) libcurl leaves SIGPIPE to the
// application, and a TLS write to a peer that has gone can raise it. While
// libcurl runs, the signal is blocked in this thread; one raised meanwhile
// is taken before unblocking, so it never ends the program.
class SigpipeBlocked {
public:
    SigpipeBlocked() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeBlocked() {
        sigset_t pending;
        sigpending(&pending);
        if (!wasPending_ && sigismember(&pending, SIGPIPE) == 1) {
            const struct timespec none = {0, 0};
            sigtimedwait(&pipe_, nullptr, &none);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeBlocked(const SigpipeBlocked&) = delete;
    SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
};

struct UrlRequest final : InternetObject {
    static constexpr InternetKind kKind = InternetKind::UrlRequest;
    UrlRequest() : InternetObject(kKind) {}
    ~UrlRequest() override {
        SigpipeBlocked quiet;  // a TLS goodbye is a write
        const CurlLibrary& curl = *Curl();  // a request exists only once it is loaded
        if (multi && easy) curl.multi_remove_handle(multi, easy);
        if (easy) curl.easy_cleanup(easy);
        if (multi) curl.multi_cleanup(multi);
        if (headers) curl.slist_free_all(headers);
    }
    void Abort() override {
        closed = true;
        if (multi) Curl()->multi_wakeup(multi);
    }

    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    struct curl_slist* headers = nullptr;
    bool followRedirects = true;
    std::atomic<bool> closed{false};
    std::mutex lock;  // one call at a time

    std::string pending;   // body bytes received, not yet read
    size_t received = 0;   // body bytes received in all
    bool headersDone = false;
    bool paused = false;
    bool done = false;
    CURLcode result = CURLE_OK;
};

DWORD ErrorFromCurl(CURLcode code) {
    switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL: return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT: return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_PEER_FAILED_VERIFICATION: return ERROR_INTERNET_INVALID_CA;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_OUT_OF_MEMORY: return ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE: return ERROR_INTERNET_CONNECTION_ABORTED;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<UrlRequest*>(user);
    const size_t bytes = size * count;
    if (bytes > 0 && bytes <= 2 && (data[0] == '\r' || data[0] == '\n')) {
        // The end of one response's headers: the final one unless it is an
        // interim 1xx or a redirect that libcurl is about to follow.
        long status = 0;
        const CurlLibrary& curl = *Curl();
        curl.easy_getinfo(request->easy, CURLINFO_RESPONSE_CODE, &status);
        char* location = nullptr;
        curl.easy_getinfo(request->easy, CURLINFO_REDIRECT_URL, &location);
        const bool followed = request->followRedirects && status >= 300 && status < 400 && location;
        if (status >= 200 && !followed) request->headersDone = true;
    }
    return bytes;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* request = static_cast<UrlRequest*>(user);
    const size_t bytes = size * count;
    if (request->pending.size() >= kMaxPending) {
        request->paused = true;
        return CURL_WRITEFUNC_PAUSE;  // delivered again after curl_easy_pause
    }
    try {
        request->pending.append(data, bytes);
    } catch (const std::bad_alloc&) {
        return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
    }
    request->headersDone = true;  // body bytes come after the final headers
    request->received += bytes;
    return bytes;
}

// Runs the transfer until satisfied() or the end. Fails with
// ERROR_INTERNET_TIMEOUT when nothing arrives within the time limit,
// ERROR_INTERNET_OPERATION_CANCELLED when the handle is closed meanwhile.
bool Drive(UrlRequest& request, const std::function<bool()>& satisfied) {
    SigpipeBlocked quiet;
    const CurlLibrary& curl = *Curl();
    int64_t lastProgress = NowMs();
    size_t seenBytes = request.received;
    bool seenHeaders = request.headersDone;
    while (!satisfied() && !request.done) {
        if (request.closed) {
            SetLastError(ERROR_INTERNET_OPERATION_CANCELLED);
            return false;
        }
        int running = 0;
        if (curl.multi_perform(request.multi, &running) != CURLM_OK) {
            SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
            return false;
        }
        int queued = 0;
        while (CURLMsg* message = curl.multi_info_read(request.multi, &queued)) {
            if (message->msg == CURLMSG_DONE) {
                request.done = true;
                request.result = message->data.result;
            }
        }
        if (satisfied() || request.done) break;
        const int64_t now = NowMs();
        if (request.received != seenBytes || request.headersDone != seenHeaders) {
            seenBytes = request.received;
            seenHeaders = request.headersDone;
            lastProgress = now;
        }
        const int64_t left = lastProgress + InternetTimeoutMs() - now;
        if (left <= 0) {
            SetLastError(ERROR_INTERNET_TIMEOUT);
            return false;
        }
        curl.multi_poll(request.multi, nullptr, 0, int(std::min<int64_t>(left, 1000)), nullptr);
    }
    if (!satisfied() && request.result != CURLE_OK) {
        SetLastError(ErrorFromCurl(request.result));
        return false;
    }
    return true;
}

bool StartsWithIgnoringCase(const char* text, const char* prefix) {
    for (; *prefix; ++text, ++prefix) {
        char c = *text;
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (c != *prefix) return false;
    }
    return true;
}

}  // namespace

HINTERNET InternetOpenUrlA(HINTERNET internet, LPCSTR url, LPCSTR headers, DWORD headersLength,
                           DWORD flags, DWORD_PTR context) {
    std::shared_ptr<InternetSession> session = InternetLookupAs<InternetSession>(internet);
    if (!session) return nullptr;
    if (!url || !*url) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (!StartsWithIgnoringCase(url, "http://") && !StartsWithIgnoringCase(url, "https://")) {
        SetLastError(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
        return nullptr;
    }
    const CurlLibrary* library = Curl();
    if (!library) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    const CurlLibrary& curl = *library;

    std::shared_ptr<UrlRequest> request;
    try {
        request = std::make_shared<UrlRequest>();
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    request->multi = curl.multi_init();
    request->easy = curl.easy_init();
    if (!request->multi || !request->easy) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    CURL* easy = request->easy;
    request->followRedirects = !(flags & INTERNET_FLAG_NO_AUTO_REDIRECT);
    curl.easy_setopt(easy, CURLOPT_URL, url);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl.easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl.easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    curl.easy_setopt(easy, CURLOPT_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
    curl.easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS, long(CURLPROTO_HTTP | CURLPROTO_HTTPS));
#endif
    curl.easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl.easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request->followRedirects ? 1L : 0L);
    curl.easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl.easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(InternetTimeoutMs()));
    curl.easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!session->agent.empty()) curl.easy_setopt(easy, CURLOPT_USERAGENT, session->agent.c_str());
    // PRECONFIG: libcurl takes http_proxy, https_proxy and no_proxy itself.
    if (session->accessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl.easy_setopt(easy, CURLOPT_PROXY, "");
    } else if (session->accessType == INTERNET_OPEN_TYPE_PROXY) {
        curl.easy_setopt(easy, CURLOPT_PROXY, session->proxy.c_str());
        std::string bypass = session->proxyBypass;
        for (char& c : bypass)
            if (c == ';' || c == ' ') c = ',';
        curl.easy_setopt(easy, CURLOPT_NOPROXY, bypass.c_str());
    }
    if (headers) {
        std::string text = (headersLength == 0 || headersLength == DWORD(-1))
                               ? std::string(headers)
                               : std::string(headers, strnlen(headers, headersLength));
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find_first_of("\r\n", at);
            if (end == std::string::npos) end = text.size();
            if (end > at) {
                struct curl_slist* grown =
                    curl.slist_append(request->headers, text.substr(at, end - at).c_str());
                if (!grown) {
                    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
                    return nullptr;
                }
                request->headers = grown;
            }
            at = end + 1;
        }
        curl.easy_setopt(easy, CURLOPT_HTTPHEADER, request->headers);
    }
    curl.easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
    curl.easy_setopt(easy, CURLOPT_HEADERDATA, request.get());
    curl.easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl.easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
    if (curl.multi_add_handle(request->multi, easy) != CURLM_OK) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
    // Registered first, so that closing the session while this waits for
    // the headers ends the wait.
    HINTERNET handle = InternetRegister(request, internet);
    if (!handle) return nullptr;
    UrlRequest& r = *request;
    std::lock_guard<std::mutex> lock(r.lock);
    if (!Drive(r, [&r] { return r.headersDone; })) {
        const DWORD error = GetLastError();
        InternetCloseHandle(handle);
        SetLastError(error);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead) {
    std::shared_ptr<UrlRequest> request = InternetLookupAs<UrlRequest>(file);
    if (!request) return FALSE;
    if (!bytesRead || (!buffer && bytesToRead)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *bytesRead = 0;
    UrlRequest& r = *request;
    std::lock_guard<std::mutex> lock(r.lock);
    if (r.paused && r.pending.size() < kMaxPending) {
        SigpipeBlocked quiet;
        r.paused = false;
        Curl()->easy_pause(r.easy, CURLPAUSE_CONT);
    }
    const size_t wanted = bytesToRead;
    if (!Drive(r, [&r, wanted] { return r.pending.size() >= wanted || r.paused; })) {
        if (r.pending.empty()) return FALSE;
        // What did arrive is handed out; the next read reports the fault.
    }
    const size_t count = std::min(wanted, r.pending.size());
    std::memcpy(buffer, r.pending.data(), count);
    r.pending.erase(0, count);
    *bytesRead = DWORD(count);
    return TRUE;
}
