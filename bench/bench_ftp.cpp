// FTP through our WinINet subset against libcurl, in one process and against
// one server. Each side keeps one logged-in connection for the whole run
// (ours: one InternetConnectA; curl: one multi handle whose connection cache
// serves the easy handle of each kind of work, see bench_ftp_curl.cpp), so
// what is timed is the listing or the transfer, not the login.
//
//   list   the folder of many files: FtpFindFirstFileA and
//          InternetFindNextFileA until ERROR_NO_MORE_FILES, against curl
//          fetching the same folder's MLSD listing into memory. Our client
//          lists with MLSD when the server offers it, so curl is asked for
//          MLSD too (CURLOPT_CUSTOMREQUEST): both make the server do the
//          same work and carry the same bytes; ours also parses every line
//          into an entry, curl only collects the text.
//   put    the local file uploaded: FtpPutFileA against CURLOPT_UPLOAD
//          reading the file through stdio.
//   get    a copy of the local file (uploaded before the runs) downloaded
//          into a fresh local file: FtpGetFileA against curl writing through
//          stdio. The previous download is deleted, untimed, before each
//          one.
//
// Every repetition is one operation (21 of each unless
// --benchmark_repetitions says otherwise), and the repetitions of all six
// are interleaved at random, so that drift in the server or the page cache
// falls on both sides alike. After the runs each pair's median real time
// (with its range and the calling thread's CPU time) and the ratio of the medians,
// ours / curl, are printed (target: at most 1.1). The exit status is 0 when
// everything ran, whatever the ratios.
//
//   bench_ftp [benchmark flags] HOST PORT USER PASSWORD FOLDER LOCALFILE [CAFILE LIST]
//
// With CAFILE (the server's authority, PEM) both sides speak FTP over TLS
// only: ours with INTERNET_FLAG_SECURE (explicit TLS, PROT P data, the file
// as its trust file), curl with CURLUSESSL_ALL (--ssl-reqd) and the file as
// its CA, listing with LIST (the command our client uses on that server:
// MLSD or LIST). Then list and get are timed (target: at most 1.2 each);
// our upload is only checked, untimed.
//
// bench/ftp.py starts a server and runs this.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench_ftp_curl.h"
#include "bench_stats.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

struct Settings {
    std::string host, user, password, folder;
    int port = 0;
    fs::path local;
    uint64_t localSize = 0;
} settings;

const char* const kGetSource = "bench-get-source.bin";
const char* const kPutOurs = "bench-put-ours.bin";
const char* const kPutCurl = "bench-put-curl.bin";

HINTERNET internet = nullptr;
HINTERNET connection = nullptr;
CurlPeer curl;

// ---- our client

// Entries of one full listing, or -1 with the last error.
long long ListOurs() {
    const std::string pattern = settings.folder + "/*";
    WIN32_FIND_DATAA data;
    HINTERNET find = FtpFindFirstFileA(connection, pattern.c_str(), &data, INTERNET_FLAG_RELOAD, 0);
    if (!find) return GetLastError() == ERROR_NO_MORE_FILES ? 0 : -1;
    long long count = 1;
    while (InternetFindNextFileA(find, &data)) ++count;
    const DWORD error = GetLastError();
    InternetCloseHandle(find);
    return error == ERROR_NO_MORE_FILES ? count : -1;
}

bool PutOurs() {
    return FtpPutFileA(connection, settings.local.c_str(), kPutOurs, FTP_TRANSFER_TYPE_BINARY, 0);
}

bool GetOurs(const fs::path& target) {
    return FtpGetFileA(connection, kGetSource, target.c_str(), FALSE, FILE_ATTRIBUTE_NORMAL,
                       FTP_TRANSFER_TYPE_BINARY, 0);
}

// ---- the benchmarks

fs::path DownloadTarget(const char* side) {
    return settings.local.parent_path() / (std::string("bench-got-") + side + ".bin");
}

bool SameSize(const fs::path& file) {
    std::error_code error;
    return fs::file_size(file, error) == settings.localSize && !error;
}

void BM_List(benchmark::State& state, bool ours) {
    long long entries = 0;
    for (auto _ : state) {
        entries = ours ? ListOurs() : curl.List();
        if (entries <= 0) {
            state.SkipWithError("listing failed");
            return;
        }
    }
    state.SetItemsProcessed(state.iterations() * entries);
}

void BM_Put(benchmark::State& state, bool ours) {
    for (auto _ : state) {
        if (!(ours ? PutOurs() : curl.Put())) {
            state.SkipWithError("upload failed");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t(settings.localSize));
}

void BM_Get(benchmark::State& state, bool ours) {
    const fs::path target = DownloadTarget(ours ? "ours" : "curl");
    for (auto _ : state) {
        state.PauseTiming();
        std::error_code ignored;
        fs::remove(target, ignored);
        state.ResumeTiming();
        if (!(ours ? GetOurs(target) : curl.Get(target.string()))) {
            state.SkipWithError("download failed");
            return;
        }
        state.PauseTiming();
        const bool complete = SameSize(target);
        state.ResumeTiming();
        if (!complete) {
            state.SkipWithError("download incomplete");
            return;
        }
    }
    state.SetBytesProcessed(state.iterations() * int64_t(settings.localSize));
}

// Real and CPU time of every repetition, per benchmark.
struct Samples {
    std::vector<double> real, cpu;
};
std::map<std::string, Samples> samples;
int failures = 0;

double Seconds(double time, benchmark::TimeUnit unit) {
    return time / benchmark::GetTimeUnitMultiplier(unit);
}

// Records every repetition for the summary and shows only the statistics
// over them (all of a single repetition), so that the console stays short.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const Run& r : runs) {
            if (r.error_occurred) ++failures;
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                Samples& s = samples[r.run_name.function_name];
                s.real.push_back(Seconds(r.GetAdjustedRealTime(), r.time_unit));
                s.cpu.push_back(Seconds(r.GetAdjustedCPUTime(), r.time_unit));
            }
            if (r.run_type == Run::RT_Aggregate || r.repetitions <= 1 || r.error_occurred)
                shown.push_back(r);
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }
};

int Fail(const char* what) {
    std::fprintf(stderr, "bench_ftp: %s (last error %u)\n", what, unsigned(GetLastError()));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    // Defaults of our own, unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=21";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    if (!HasFlag(argc, argv, "--benchmark_repetitions")) args.push_back(repetitions);
    if (!HasFlag(argc, argv, "--benchmark_enable_random_interleaving")) args.push_back(interleave);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (count != 7 && count != 9) {
        std::fprintf(stderr, "usage: bench_ftp [benchmark flags] HOST PORT USER PASSWORD FOLDER LOCALFILE"
                             " [CAFILE LIST]\n");
        return 2;
    }
    const std::string caFile = count == 9 ? fs::absolute(args[7]).string() : "";
    const char* listCommand = count == 9 ? args[8] : "MLSD";
    const bool tls = !caFile.empty();
    if (tls) PlatformSetFtpTrustFile(caFile.c_str());
    settings.host = args[1];
    settings.port = std::atoi(args[2]);
    settings.user = args[3];
    settings.password = args[4];
    settings.folder = args[5];
    settings.local = fs::absolute(args[6]);
    std::error_code error;
    settings.localSize = fs::file_size(settings.local, error);
    if (error || settings.port <= 0 || settings.port > 65535) return Fail("bad port or local file");

    // Log in and check, untimed, that both sides see the same folder and
    // move the whole file; this also puts the download's source in place.
    internet = InternetOpenA("bench_ftp", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    if (!internet) return Fail("InternetOpenA");
    connection = InternetConnectA(internet, settings.host.c_str(), INTERNET_PORT(settings.port),
                                  settings.user.c_str(), settings.password.c_str(),
                                  INTERNET_SERVICE_FTP,
                                  INTERNET_FLAG_PASSIVE | (tls ? INTERNET_FLAG_SECURE : 0), 0);
    if (!connection) return Fail("InternetConnectA");
    if (!FtpPutFileA(connection, settings.local.c_str(), kGetSource, FTP_TRANSFER_TYPE_BINARY, 0))
        return Fail("uploading the download's source");
    if (!curl.SetUp(settings.host, settings.port, settings.user, settings.password, settings.folder,
                    kGetSource, kPutCurl, settings.local.string(), settings.localSize, caFile,
                    listCommand))
        return Fail("libcurl");
    const long long oursEntries = ListOurs(), curlLines = curl.List();
    std::printf("folder %s: %lld entries (ours), %lld %s lines (curl); file %llu bytes\n",
                settings.folder.c_str(), oursEntries, curlLines, listCommand,
                (unsigned long long)settings.localSize);
    if (oursEntries <= 0 || oursEntries != curlLines) return Fail("the listings differ");
    if (!PutOurs()) return Fail("first upload (ours)");
    // curl's uploads over TLS fail against vsftpd (bench_ftp_curl.cpp):
    // over TLS they are not compared.
    if (!tls && !curl.Put()) return Fail("first upload (curl)");
    if (!GetOurs(DownloadTarget("ours")) || !SameSize(DownloadTarget("ours")) ||
        !curl.Get(DownloadTarget("curl").string()) || !SameSize(DownloadTarget("curl")))
        return Fail("first downloads");

    // One operation per repetition, so that the random interleaving mixes
    // single operations of both sides.
    struct Pair {
        const char* name;
        void (*function)(benchmark::State&, bool);
    };
    std::vector<Pair> pairs = {{"list", BM_List}, {"put", BM_Put}, {"get", BM_Get}};
    if (tls) pairs.erase(pairs.begin() + 1);
    const double target = tls ? 1.2 : 1.1;
    for (const Pair& p : pairs) {
        for (bool ours : {true, false})
            benchmark::RegisterBenchmark((std::string(p.name) + (ours ? "/ours" : "/curl")).c_str(),
                                         p.function, ours)
                ->Iterations(1)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond)
                ->ComputeStatistics("min", Smallest)
                ->ComputeStatistics("max", Largest);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nmedian real time (min..max) and median CPU time of the calling thread, ms:\n");
    double worst = 0;
    int compared = 0;
    for (const Pair& p : pairs) {
        const Samples& ours = samples[std::string(p.name) + "/ours"];
        const Samples& peer = samples[std::string(p.name) + "/curl"];
        if (ours.real.empty() || peer.real.empty()) continue;
        const double ratio = Median(ours.real) / Median(peer.real);
        worst = std::max(worst, ratio);
        ++compared;
        std::printf("%-4s  ours %6.1f (%6.1f..%6.1f) cpu %5.1f   curl %6.1f (%6.1f..%6.1f) cpu %5.1f"
                    "   ratio %.2f\n",
                    p.name, Median(ours.real) * 1e3, Smallest(ours.real) * 1e3,
                    Largest(ours.real) * 1e3, Median(ours.cpu) * 1e3, Median(peer.real) * 1e3,
                    Smallest(peer.real) * 1e3, Largest(peer.real) * 1e3, Median(peer.cpu) * 1e3,
                    ratio);
    }
    if (compared)
        std::printf("%s: worst ratio ours/curl %.2f over %d pair%s (target: at most %.1f each): %s\n",
                    tls ? "ftps vs curl --ssl-reqd" : "ftp vs curl", worst, compared,
                    compared == 1 ? "" : "s", target, worst <= target ? "met" : "missed");

    for (const char* side : {"ours", "curl"}) {
        std::error_code ignored;
        fs::remove(DownloadTarget(side), ignored);
    }
    curl.CleanUp();
    InternetCloseHandle(internet);
    benchmark::Shutdown();
    return failures ? 1 : 0;
}
