#include "net/timed_transfers.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "net/connection.h"
#include "tessil/input.h"

int openUrlRounds = 301;
int readUrlRounds = 101;

namespace {

constexpr DWORD kPollMilliseconds = 50;

// One call on a worker thread. The state moves from running to done (the
// worker finished first) or to abandoned (the caller gave up first), once.
class WorkerJob {
public:
    virtual ~WorkerJob() = default;
    virtual void Run() = 0;
    // On the worker, after Run, when the caller has given up: releases what
    // the late call returned.
    virtual void Release() {}

    enum State : uint8_t { kRunning, kDone, kAbandoned };
    std::atomic<uint8_t> state{kRunning};
};

DWORD WINAPI WorkerMain(LPVOID parameter)
{
    // The worker's own reference keeps the job alive however late it ends.
    std::unique_ptr<std::shared_ptr<WorkerJob>> own(static_cast<std::shared_ptr<WorkerJob>*>(parameter));
    WorkerJob& job = **own;
    job.Run();
    uint8_t running = WorkerJob::kRunning;
    if (!job.state.compare_exchange_strong(running, WorkerJob::kDone))
        job.Release();
    return 1;
}

// Starts the job and polls it with the window live. rounds 0: no limit.
// True when it finished; false when it could not start or ran out of time.
bool RunWorker(const std::shared_ptr<WorkerJob>& job, int rounds)
{
    auto* reference = new std::shared_ptr<WorkerJob>(job);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WorkerMain, reference, 0, &id);
    if (!thread) {
        delete reference;
        return false;
    }
    CloseHandle(thread);
    for (int round = 0; rounds == 0 || round < rounds; ++round) {
        if (job->state.load() == WorkerJob::kDone)
            return true;
        Sleep(kPollMilliseconds);
        tessil::SystemRequest(1);
    }
    uint8_t running = WorkerJob::kRunning;
    return !job->state.compare_exchange_strong(running, WorkerJob::kAbandoned);
}

class PutJob : public WorkerJob {
public:
    PutJob(const char* local, const char* remote) : local_(local), remote_(remote) {}
    void Run() override
    {
        result = FtpPutFileA(ftpConnection, local_.c_str(), remote_.c_str(), FTP_TRANSFER_TYPE_BINARY, 0);
    }
    BOOL result = FALSE;

private:
    std::string local_, remote_;
};

class GetJob : public WorkerJob {
public:
    GetJob(const char* remote, const char* local) : remote_(remote), local_(local) {}
    void Run() override
    {
        result = FtpGetFileA(ftpConnection, remote_.c_str(), local_.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RESYNCHRONIZE |
                                 FTP_TRANSFER_TYPE_UNKNOWN,
                             0);
    }
    BOOL result = FALSE;

private:
    std::string remote_, local_;
};

class OpenUrlJob : public WorkerJob {
public:
    OpenUrlJob(HINTERNET internet, const char* url, const char* headers, DWORD headersLength, DWORD flags,
               DWORD_PTR context)
        : internet_(internet), url_(url), hasHeaders_(headers != nullptr), flags_(flags), context_(context)
    {
        if (headers)
            headers_.assign(headers, headersLength == DWORD(-1) ? std::strlen(headers) : headersLength);
    }
    void Run() override
    {
        result = InternetOpenUrlA(internet_, url_.c_str(), hasHeaders_ ? headers_.c_str() : nullptr,
                                  DWORD(headers_.size()), flags_, context_);
    }
    void Release() override
    {
        if (result)
            InternetCloseHandle(result);
    }
    HINTERNET result = nullptr;

private:
    HINTERNET internet_;
    std::string url_, headers_;
    bool hasHeaders_;
    DWORD flags_;
    DWORD_PTR context_;
};

// Reads into a buffer of its own: a read that ends after the caller gave up
// must not write into memory the caller has moved on from.
class ReadUrlJob : public WorkerJob {
public:
    ReadUrlJob(HINTERNET request, DWORD size) : data(size ? size : 1), request_(request), size_(size) {}
    void Run() override { result = InternetReadFile(request_, data.data(), size_, &count); }
    void Release() override { InternetCloseHandle(request_); }
    BOOL result = FALSE;
    DWORD count = 0;
    std::vector<char> data;

private:
    HINTERNET request_;
    DWORD size_;
};

enum class ReadOutcome { kRead, kFailed, kTimedOut };

ReadOutcome ReadUrl(HINTERNET request, void* buffer, DWORD size, DWORD* bytesRead)
{
    auto job = std::make_shared<ReadUrlJob>(request, size);
    if (!RunWorker(job, readUrlRounds))
        return job->state.load() == WorkerJob::kAbandoned ? ReadOutcome::kTimedOut : ReadOutcome::kFailed;
    if (!job->result || job->count > size)
        return ReadOutcome::kFailed;
    std::memcpy(buffer, job->data.data(), job->count);
    *bytesRead = job->count;
    return ReadOutcome::kRead;
}

} // namespace

int32_t UploadFile(HINTERNET, const char* localPath, const char* remoteName)
{
    auto job = std::make_shared<PutJob>(localPath, remoteName);
    return RunWorker(job, 0) ? job->result : 0;
}

int32_t DownloadFile(HINTERNET, const char* remoteName, const char* localPath)
{
    auto job = std::make_shared<GetJob>(remoteName, localPath);
    return RunWorker(job, 0) ? job->result : 0;
}

HINTERNET OpenUrlTimed(HINTERNET internet, const char* url, const char* headers, DWORD headersLength, DWORD flags,
                       DWORD_PTR context)
{
    auto job = std::make_shared<OpenUrlJob>(internet, url, headers, headersLength, flags, context);
    return RunWorker(job, openUrlRounds) ? job->result : nullptr;
}

BOOL ReadUrlTimed(HINTERNET request, void* buffer, DWORD size, DWORD* bytesRead)
{
    return ReadUrl(request, buffer, size, bytesRead) == ReadOutcome::kRead;
}

int32_t FetchUrl(char* buffer, int32_t size, uint16_t readBody)
{
    if (!buffer || size < 1 || !buffer[0])
        return 0;
    char url[300];
    size_t length = strnlen(buffer, size_t(size) < sizeof url ? size_t(size) : sizeof url - 1);
    std::memcpy(url, buffer, length);
    url[length] = '\0';
    if (!OpenInternetHandle())
        return 0;
    HINTERNET request = OpenUrlTimed(internetHandle, url, nullptr, 0,
                                     INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_NO_CACHE_WRITE |
                                         INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_HYPERLINK | INTERNET_FLAG_NO_UI,
                                     0);
    if (!readBody) {
        if (!request)
            return 0;
        InternetCloseHandle(request);
        return 1;
    }
    std::memset(buffer, 0, size_t(size));
    if (!request)
        return 0;
    int32_t total = 0;
    ReadOutcome outcome;
    for (;;) {
        DWORD count = 0;
        outcome = ReadUrl(request, buffer + total, DWORD(size - total), &count);
        if (outcome != ReadOutcome::kRead)
            break;
        total += int32_t(count);
        if (count == 0)
            break;
    }
    // A read that timed out owns the request now and closes it itself.
    if (outcome != ReadOutcome::kTimedOut)
        InternetCloseHandle(request);
    return outcome == ReadOutcome::kRead ? total : 0;
}
