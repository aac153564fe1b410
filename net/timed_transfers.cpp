#include "net/timed_transfers.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "net/connection.h"
#include "net/file_names.h"
#include "tessil/input.h"

int openUrlRounds = 301;
int readUrlRounds = 101;
int transferFloorRounds = 1200;
int64_t transferBytesPerRound = 410;

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

// Starts the job and polls it with the window live, for at most `rounds`
// rounds and while `overrun` (when given) says false. True when it finished;
// false when it could not start or was given up.
bool RunWorker(const std::shared_ptr<WorkerJob>& job, int64_t rounds,
               const std::function<bool()>& overrun = nullptr)
{
    auto* reference = new std::shared_ptr<WorkerJob>(job);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WorkerMain, reference, 0, &id);
    if (!thread) {
        delete reference;
        return false;
    }
    // Waiting on the thread itself wakes the caller as soon as the call is
    // done; the window is served at least every round.
    for (int64_t round = 0;; ++round) {
        if (job->state.load() == WorkerJob::kDone)
            break;
        // The overrun test looks at what the worker made: not before it ran.
        if (round >= rounds || (round > 0 && overrun && overrun()))
            break;
        WaitForSingleObject(thread, kPollMilliseconds);
        tessil::SystemRequest(1);
    }
    CloseHandle(thread);
    if (job->state.load() == WorkerJob::kDone)
        return true;
    uint8_t running = WorkerJob::kRunning;
    return !job->state.compare_exchange_strong(running, WorkerJob::kAbandoned);
}

// An FTP transfer takes the connection when it is made: the caller may
// close it (and clear ftpConnection) before the worker starts.
class TransferJob : public WorkerJob {
public:
    explicit TransferJob(HINTERNET handle) : connection(handle) {}
    const HINTERNET connection;
    BOOL result = FALSE;
    DWORD error = 0; // the worker's last error, handed to the caller
};

class PutJob : public TransferJob {
public:
    PutJob(HINTERNET handle, const char* local, const char* remote)
        : TransferJob(handle), local_(local), remote_(remote)
    {
    }
    void Run() override
    {
        result = FtpPutFileA(connection, local_.c_str(), remote_.c_str(), FTP_TRANSFER_TYPE_BINARY, 0);
        error = GetLastError();
    }
private:
    std::string local_, remote_;
};

// Into a scratch file that must not exist yet; hidden while it is written.
class GetJob : public TransferJob {
public:
    GetJob(HINTERNET handle, const char* remote, const std::string& scratch, int64_t size)
        : TransferJob(handle), remote_(remote), scratch_(scratch), size_(size)
    {
    }
    void Run() override
    {
        constexpr DWORD kFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RESYNCHRONIZE |
                                 FTP_TRANSFER_TYPE_UNKNOWN;
        result = size_ >= 0 ? PlatformFtpGetFileOfSize(connection, remote_.c_str(), scratch_.c_str(), TRUE,
                                                       FILE_ATTRIBUTE_HIDDEN, kFlags, size_)
                            : FtpGetFileA(connection, remote_.c_str(), scratch_.c_str(), TRUE, FILE_ATTRIBUTE_HIDDEN,
                                          kFlags, 0);
        error = GetLastError();
    }
    // The caller deleted the scratch file when it gave up, but a call that
    // still held it open may have kept it (Windows) or made it late.
    void Release() override { DeleteFileA(scratch_.c_str()); }

private:
    std::string remote_, scratch_;
    int64_t size_; // the size the listing gave, or kSizeNotReported
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

// The size of a local file, or -1. Opened for queries only, so a file that a
// transfer holds open can be measured on Windows too.
int64_t LocalFileSize(const char* path)
{
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER size;
    const BOOL known = GetFileSizeEx(file, &size);
    CloseHandle(file);
    return known ? int64_t(size.QuadPart) : -1;
}

// Runs a transfer of `size` bytes within the overall bound. When it is given
// up, the connection it uses is closed, which ends a call blocked on it.
bool RunTransfer(const std::shared_ptr<TransferJob>& job, int64_t size,
                 const std::function<bool()>& overrun = nullptr)
{
    const int64_t perRound = transferBytesPerRound > 0 ? transferBytesPerRound : 1;
    const int64_t rounds = int64_t(transferFloorRounds) + (size > 0 ? size : 0) / perRound;
    if (RunWorker(job, rounds, overrun))
        return true;
    if (job->state.load() == WorkerJob::kAbandoned) {
        if (job->connection)
            InternetCloseHandle(job->connection);
        if (ftpConnection == job->connection)
            ftpConnection = nullptr;
        SetLastError(ERROR_INTERNET_TIMEOUT);
    }
    return false;
}

// True when the FTP connection still answers a command.
bool ConnectionAnswers()
{
    char folder[MAX_PATH];
    DWORD length = sizeof folder;
    return FtpGetCurrentDirectoryA(ftpConnection, folder, &length) != FALSE;
}

// The folder part of a path, with its trailing separator; "" for a bare name.
std::string FolderOf(const char* path)
{
    size_t end = 0;
    for (size_t i = 0; path[i]; ++i)
        if (path[i] == '\\' || path[i] == '/' || (i == 1 && path[i] == ':'))
            end = i + 1;
    return std::string(path, end);
}

// Scratch files are left only by a run that was killed, so a folder needs
// the clean-up once per run, before our own first download there (called
// from the main thread only, as the transfers are).
void RemoveLeftoversOnce(const std::string& folder)
{
    static std::set<std::string> cleaned;
    // A relative folder is known by where it lies now.
    std::string key = folder;
    const bool absolute = !folder.empty() && (folder[0] == '\\' || folder[0] == '/' || folder.find(':') == 1);
    char current[MAX_PATH];
    const DWORD length = absolute ? 0 : GetCurrentDirectoryA(sizeof current, current);
    if (length > 0 && length < sizeof current)
        key = std::string(current, length) + "\\" + folder;
    if (cleaned.insert(key).second)
        RemoveScratchFiles(folder.c_str());
}

} // namespace

int32_t UploadFile(HINTERNET, const char* localPath, const char* remoteName)
{
    auto job = std::make_shared<PutJob>(ftpConnection, localPath, remoteName);
    if (!RunTransfer(job, LocalFileSize(localPath)))
        return 0;
    SetLastError(job->error);
    return job->result ? 1 : 0;
}

int32_t DownloadFile(HINTERNET, const char* remoteName, const char* localPath, int64_t reportedSize)
{
    if (!remoteName || !LocalWriteAllowed(localPath))
        return 0;
    const std::string folder = FolderOf(localPath);
    RemoveLeftoversOnce(folder);
    static std::atomic<unsigned> counter{0};
    const std::string scratch = folder + kScratchPrefix + std::to_string(GetCurrentThreadId()) + "-" +
                                std::to_string(++counter) + kScratchSuffix;
    const bool sized = reportedSize >= 0;
    auto job = std::make_shared<GetJob>(ftpConnection, remoteName, scratch, sized ? reportedSize : kSizeNotReported);
    auto grownPast = [&] { return sized && LocalFileSize(scratch.c_str()) > reportedSize; };
    bool ok = RunTransfer(job, sized ? reportedSize : kUnknownTransferSize, grownPast);
    if (ok && !job->result) {
        SetLastError(job->error);
        ok = false;
    }
    if (ok && sized && LocalFileSize(scratch.c_str()) != reportedSize) {
        SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
        ok = false;
    }
    if (ok) {
        SetFileAttributesA(scratch.c_str(), FILE_ATTRIBUTE_NORMAL);
        ok = MoveFileExA(scratch.c_str(), localPath, MOVEFILE_REPLACE_EXISTING) != FALSE;
    }
    if (!ok) {
        const DWORD error = GetLastError();
        DeleteFileA(scratch.c_str());
        // A download that grew past its size leaves the server still
        // sending: the connection is no longer usable. It is handed back
        // closed, as after a time out, so that the caller reconnects.
        if (ftpConnection == job->connection && ftpConnection && !ConnectionAnswers()) {
            InternetCloseHandle(ftpConnection);
            ftpConnection = nullptr;
        }
        SetLastError(error);
    }
    return ok ? 1 : 0;
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
