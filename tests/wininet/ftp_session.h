// What the Internet tests share: handles that close themselves, an FTP
// login to a fixture's server, and listing helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "support/server_info.h"

// An Internet handle closed at the end of its scope.
class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET h) : h_(h) {}
    ~InternetHandle() { reset(); }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    void reset(HINTERNET h = nullptr) {
        if (h_) InternetCloseHandle(h_);
        h_ = h;
    }
    HINTERNET release() {
        HINTERNET h = h_;
        h_ = nullptr;
        return h;
    }

private:
    HINTERNET h_ = nullptr;
};

inline HINTERNET OpenInternet() {
    return InternetOpenA("Kestrovane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
}

// Connects to the fixture's server as its user (or with the password given).
inline HINTERNET ConnectFtp(HINTERNET internet, const char* fixture,
                            const std::string& password = std::string()) {
    const std::string user = ServerInfo(fixture, "user");
    const std::string pass = password.empty() ? ServerInfo(fixture, "password") : password;
    return InternetConnectA(internet, "127.0.0.1", INTERNET_PORT(ServerPort(fixture)),
                            user.c_str(), pass.c_str(), INTERNET_SERVICE_FTP,
                            INTERNET_FLAG_PASSIVE, 0);
}

// Every entry of a listing, or none when FtpFindFirstFileA fails; lastError
// gets the error of the failing call (18 at a clean end).
inline std::vector<WIN32_FIND_DATAA> ListAll(HINTERNET connection, const char* mask,
                                             DWORD* lastError = nullptr) {
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA data;
    HINTERNET find = FtpFindFirstFileA(connection, mask, &data, INTERNET_FLAG_NO_CACHE_WRITE, 0);
    if (!find) {
        if (lastError) *lastError = GetLastError();
        return entries;
    }
    do {
        entries.push_back(data);
    } while (InternetFindNextFileA(find, &data));
    if (lastError) *lastError = GetLastError();
    InternetCloseHandle(find);
    return entries;
}

inline const WIN32_FIND_DATAA* FindEntry(const std::vector<WIN32_FIND_DATAA>& entries,
                                         const std::string& name) {
    for (const auto& e : entries)
        if (name == e.cFileName) return &e;
    return nullptr;
}

inline std::vector<std::string> Names(const std::vector<WIN32_FIND_DATAA>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.cFileName);
    return names;
}

inline uint64_t Ticks(const FILETIME& ft) {
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// The FILETIME of a Unix time.
inline uint64_t TicksOfUnixTime(int64_t seconds) {
    return uint64_t(seconds + 11644473600LL) * 10000000ULL;
}

inline SYSTEMTIME Calendar(const FILETIME& ft) {
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&ft, &st);
    return st;
}
