// The libcurl side of bench_ftp and bench_engine. Apart from their main files
// because curl.h brings in the system's socket headers, whose names clash with
// those of our Win32 subset.
#pragma once

#include <cstdint>
#include <string>

class CurlPeer {
public:
    // One easy handle per kind of work, all in one multi handle, whose
    // connection cache keeps one logged-in connection for all of them (as
    // our side keeps one). False when libcurl could not be set up (nothing
    // is sent yet).
    // A `caFile` (PEM) makes every handle demand explicit TLS on the control
    // and data connections (curl --ssl-reqd) and trust that authority.
    // `listCommand` is the listing our client asks that server for.
    bool SetUp(const std::string& host, int port, const std::string& user,
               const std::string& password, const std::string& folder,
               const std::string& downloadSource, const std::string& uploadTarget,
               const std::string& localFile, uint64_t localSize, const std::string& caFile = "",
               const char* listCommand = "MLSD");
    void CleanUp();

    // The folder's listing into memory: its line count, or -1.
    long long List();
    // localFile uploaded to uploadTarget.
    bool Put();
    // downloadSource into a new local file at target.
    bool Get(const std::string& target);

private:
    bool Perform(void* easy);

    void* multi_ = nullptr;  // CURLM*, CURL*: kept out of this header
    void* list_ = nullptr;
    void* put_ = nullptr;
    void* get_ = nullptr;
    std::string localFile_;
    bool initialised_ = false;
    bool tls_ = false;
};

// A fresh connection for one listing, as a monitoring pass makes: connects,
// logs in, enters `folder`, fetches its listing with `command` ("MLSD" or
// "LIST") into memory and closes. The listing's line count, or -1.
long long CurlListFresh(const std::string& host, int port, const std::string& user,
                        const std::string& password, const std::string& folder, const char* command);
