// The libcurl peer of bench_ftp and bench_engine (see bench_ftp_curl.h): libcurl
// with its default buffers and stdio for the local file.
//
// Transfers run through the multi interface rather than curl_easy_perform.
// In libcurl 7.88 an FTP transfer now and then reaches a state in which curl
// waits on no socket at all (seen between the passive reply and the data
// connection's connect), and curl_easy_perform then sleeps its full 1 s poll
// before going on: 1 in 20 to 1 in 3 of the transfers here. Polling at most
// 1 ms at a time removes that stall, so what is measured is curl's transfer
// itself. Over TLS, though, curl 7.88's multi interface driven that way
// breaks uploads and downloads off ("Failed sending data to the peer",
// "Transferred a partial file") where its own tool succeeds; TLS transfers
// go through curl_easy_perform, stall and all.
#include "bench_ftp_curl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>

namespace {

size_t AppendText(char* data, size_t size, size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

CURL* NewHandle(const std::string& url, const std::string& user, const std::string& password) {
    CURL* curl = curl_easy_init();
    if (!curl) return nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    return curl;
}

// Runs one transfer of `easy` through `multi` to its end, polling at most
// 1 ms at a time.
bool PerformIn(CURLM* multi, CURL* easy) {
    if (curl_multi_add_handle(multi, easy) != CURLM_OK) return false;
    CURLMcode status = CURLM_OK;
    for (;;) {
        int running = 0;
        status = curl_multi_perform(multi, &running);
        if (status != CURLM_OK || !running) break;
        status = curl_multi_poll(multi, nullptr, 0, 1, nullptr);
        if (status != CURLM_OK) break;
    }
    bool done = false;
    CURLcode result = CURLE_OK;
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == easy) {
            done = true;
            result = message->data.result;
        }
    }
    curl_multi_remove_handle(multi, easy);
    if (done && result != CURLE_OK) std::fprintf(stderr, "curl: %s\n", curl_easy_strerror(result));
    return status == CURLM_OK && done && result == CURLE_OK;
}

}  // namespace

bool CurlPeer::SetUp(const std::string& host, int port, const std::string& user,
                     const std::string& password, const std::string& folder,
                     const std::string& downloadSource, const std::string& uploadTarget,
                     const std::string& localFile, uint64_t localSize, const std::string& caFile,
                     const char* listCommand) {
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return false;
    initialised_ = true;
    multi_ = curl_multi_init();
    if (!multi_) return false;
    const std::string base = "ftp://" + host + ":" + std::to_string(port) + "/";
    localFile_ = localFile;
    CURL* list = NewHandle(base + folder + "/", user, password);
    CURL* put = NewHandle(base + uploadTarget, user, password);
    CURL* get = NewHandle(base + downloadSource, user, password);
    list_ = list;
    put_ = put;
    get_ = get;
    if (!list || !put || !get) return false;
    tls_ = !caFile.empty();
    if (tls_) {
        for (CURL* easy : {list, put, get}) {
            curl_easy_setopt(easy, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
            curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.c_str());
        }
    }
    // Our client lists with MLSD where offered; curl would send LIST.
    curl_easy_setopt(list, CURLOPT_CUSTOMREQUEST, listCommand);
    curl_easy_setopt(list, CURLOPT_WRITEFUNCTION, AppendText);
    curl_easy_setopt(put, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(put, CURLOPT_INFILESIZE_LARGE, curl_off_t(localSize));
    return true;
}

void CurlPeer::CleanUp() {
    for (void** handle : {&list_, &put_, &get_}) {
        if (*handle) curl_easy_cleanup(static_cast<CURL*>(*handle));
        *handle = nullptr;
    }
    if (multi_) curl_multi_cleanup(static_cast<CURLM*>(multi_));
    multi_ = nullptr;
    if (initialised_) curl_global_cleanup();
    initialised_ = false;
}

bool CurlPeer::Perform(void* easy) {
    if (tls_) {
        const CURLcode result = curl_easy_perform(static_cast<CURL*>(easy));
        if (result != CURLE_OK) std::fprintf(stderr, "curl: %s\n", curl_easy_strerror(result));
        return result == CURLE_OK;
    }
    return PerformIn(static_cast<CURLM*>(multi_), static_cast<CURL*>(easy));
}

long long CurlPeer::List() {
    std::string text;
    curl_easy_setopt(static_cast<CURL*>(list_), CURLOPT_WRITEDATA, &text);
    if (!Perform(list_)) return -1;
    return std::count(text.begin(), text.end(), '\n');
}

bool CurlPeer::Put() {
    FILE* file = std::fopen(localFile_.c_str(), "rb");
    if (!file) return false;
    curl_easy_setopt(static_cast<CURL*>(put_), CURLOPT_READDATA, file);
    const bool ok = Perform(put_);
    std::fclose(file);
    return ok;
}

bool CurlPeer::Get(const std::string& target) {
    FILE* file = std::fopen(target.c_str(), "wb");
    if (!file) return false;
    curl_easy_setopt(static_cast<CURL*>(get_), CURLOPT_WRITEDATA, file);
    const bool ok = Perform(get_);
    return std::fclose(file) == 0 && ok;
}

long long CurlListFresh(const std::string& host, int port, const std::string& user,
                        const std::string& password, const std::string& folder, const char* command) {
    CURLM* multi = curl_multi_init();
    CURL* list = NewHandle("ftp://" + host + ":" + std::to_string(port) + "/" + folder + "/", user, password);
    long long lines = -1;
    if (multi && list) {
        std::string text;
        curl_easy_setopt(list, CURLOPT_CUSTOMREQUEST, command);
        curl_easy_setopt(list, CURLOPT_WRITEFUNCTION, AppendText);
        curl_easy_setopt(list, CURLOPT_WRITEDATA, &text);
        if (PerformIn(multi, list)) lines = std::count(text.begin(), text.end(), '\n');
    }
    if (list) curl_easy_cleanup(list);
    if (multi) curl_multi_cleanup(multi);
    return lines;
}
