// The FTP control connection and the data bounds (see ftp_control.h).
#include "platform/ftp/ftp_control.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/win32.h"

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool IsCodeDigits(const std::string& line) {
    return line.size() >= 3 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' &&
           line[1] <= '9' && line[2] >= '0' && line[2] <= '9';
}

}  // namespace

int InternetTimeoutMs() {
    static const int limit = [] {
        const char* text = PlatformSetting("KV_INTERNET_TIMEOUT_MS");
        if (text && *text) {
            char* end = nullptr;
            long value = std::strtol(text, &end, 10);
            if (*end == '\0' && value > 0 && value <= 24L * 3600 * 1000) return int(value);
        }
        return 60000;
    }();
    return limit;
}

FtpTransferLimits ftpTransferLimits;

FtpDataBound::FtpDataBound(uint64_t maximumBytes) : start_(NowMs()), maximum_(maximumBytes) {}

bool FtpDataBound::Wait(FtpStream& stream, FtpReady what) {
    const uint64_t rate = std::max<uint64_t>(ftpTransferLimits.minimumBytesPerSecond, 1);
    const int limit = InternetTimeoutMs();
    // The time the bytes so far buy at the minimum rate, in milliseconds.
    const uint64_t earned = bytes_ / rate * 1000 + bytes_ % rate * 1000 / rate;
    const int64_t allowed = std::max<int64_t>(limit, int64_t(std::min<uint64_t>(earned, INT64_MAX / 2)));
    const int64_t left = allowed - (NowMs() - start_);
    if (left >= limit) return stream.Wait(what, limit);
    if (left > 0 && stream.Wait(what, int(left))) return true;
    if (left > 0 && GetLastError() != ERROR_INTERNET_TIMEOUT) return false;
    tripped_ = true;
    SetLastError(ERROR_INTERNET_TIMEOUT);
    return false;
}

long long FtpDataBound::Receive(FtpStream& stream, char* buffer, size_t size) {
    FtpReady wait = FtpReady::Read;
    for (;;) {
        if (!Wait(stream, wait)) return -1;
        const long long got = stream.ReceiveSome(buffer, size, wait);
        if (got == kFtpWouldBlock) continue;
        if (got < 0) return -1;
        bytes_ += uint64_t(got);
        if (bytes_ > maximum_) {
            tripped_ = true;
            SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
            return -1;
        }
        return got;
    }
}

bool FtpDataBound::Send(FtpStream& stream, const char* data, size_t size) {
    FtpReady wait = FtpReady::Write;
    while (size > 0) {
        if (!Wait(stream, wait)) return false;
        const long long sent = stream.SendSome(data, size, wait);
        if (sent == kFtpWouldBlock) continue;
        if (sent < 0) return false;
        wait = FtpReady::Write;
        bytes_ += uint64_t(sent);
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

uint32_t FtpErrorFromReply(int code) {
    switch (code) {
    case 425: return ERROR_INTERNET_CANNOT_CONNECT;
    case 426: return ERROR_INTERNET_CONNECTION_ABORTED;
    case 530: return ERROR_INTERNET_LOGIN_FAILURE;
    default: return ERROR_INTERNET_EXTENDED_ERROR;
    }
}

bool FtpControl::Connect(const char* host, uint16_t port) {
    return stream_.ConnectHost(host, port, InternetTimeoutMs());
}

bool FtpControl::Send(const char* verb, const std::string& argument) {
    if (dead_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    // A name with a line end would end the command and start another.
    if (argument.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string line = verb;
    if (!argument.empty()) line += ' ' + argument;
    line += "\r\n";
    if (!stream_.SendAll(line.data(), line.size(), InternetTimeoutMs())) {
        dead_ = true;
        return false;
    }
    return true;
}

bool FtpControl::ReadLine(std::string& line, size_t& budget, int64_t deadline) {
    line.clear();
    char buffer[4096];
    for (;;) {
        size_t end = pending_.find('\n');
        size_t take = end == std::string::npos ? pending_.size() : end;
        if (line.size() < kFtpMaxLineKept)
            line.append(pending_, 0, std::min(take, kFtpMaxLineKept - line.size()));
        if (end != std::string::npos) {
            pending_.erase(0, end + 1);
            break;
        }
        pending_.clear();
        if (budget == 0) {  // a reply that does not end
            SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
            return false;
        }
        int64_t left = deadline - NowMs();
        if (left <= 0) {
            SetLastError(ERROR_INTERNET_TIMEOUT);
            return false;
        }
        const long long got = stream_.Receive(buffer, std::min(sizeof buffer, budget), int(left));
        if (got < 0) return false;
        if (got == 0) {
            SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
            return false;
        }
        budget -= size_t(got);
        pending_.append(buffer, size_t(got));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool FtpControl::Read(FtpReply& reply) {
    if (dead_) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        return false;
    }
    const int64_t deadline = NowMs() + InternetTimeoutMs();
    size_t budget = kFtpMaxReplyBytes;
    std::string line, text;
    int code = -1;
    for (int lines = 0;; ++lines) {
        if (lines == kFtpMaxReplyLines || !ReadLine(line, budget, deadline)) {
            if (lines == kFtpMaxReplyLines) SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
            dead_ = true;
            return false;
        }
        text += line;
        text += "\r\n";
        if (code < 0) {
            if (!IsCodeDigits(line) || (line.size() > 3 && line[3] != ' ' && line[3] != '-')) {
                InternetSetLastResponse(0, text);
                SetLastError(ERROR_INTERNET_EXTENDED_ERROR);
                dead_ = true;
                return false;
            }
            code = std::atoi(line.substr(0, 3).c_str());
            if (line.size() == 3 || line[3] == ' ') break;
        } else if (IsCodeDigits(line) && std::atoi(line.substr(0, 3).c_str()) == code &&
                   (line.size() == 3 || line[3] == ' ')) {
            break;
        }
    }
    reply.code = code;
    reply.text = std::move(text);
    InternetSetLastResponse(DWORD(code), reply.text);
    return true;
}

bool FtpControl::Exchange(const char* verb, const std::string& argument, FtpReply& reply) {
    return Send(verb, argument) && Read(reply);
}
