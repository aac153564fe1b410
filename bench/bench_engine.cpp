// The monitoring engine's web site check against the work of its peers, in
// one process and against one server (bench/engine.py starts it and makes
// the folders).
//
//   quiet    one CheckWebSite pass over the folder "quiet" (every record
//            plain and matching: the pass acts on nothing), against the
//            floor of that work, curl connecting, logging in and fetching
//            the same folder's listing with the command our client uses on
//            this server (MLSD where offered, else LIST); and against
//            `lftp mirror --dry-run` of the folder into an identical local
//            copy.
//   restore  one CheckWebSite pass that puts back the altered files of the
//            folder "restore-ours" from the clean copies (synchronise-web
//            off; each upload to a scratch name renamed over its page, the
//            folder listed once more to verify them), against `lftp mirror -R` of the clean copies over the
//            same alterations in "restore-lftp". Before each repetition,
//            untimed, every file of the folder gets a few bytes more on the
//            server; before ours, a pass without alterations also makes the
//            records of the previous repetition plain again.
//   mirror   one MirrorWebToServer call (RepeatPass) that downloads the
//            1,000 small files of the folder "mirror-web" into a local copy
//            whose files are all older and shorter, against `lftp mirror`
//            of the same folder into a copy of its own in the same state.
//            Before each repetition, untimed, the copy is made stale again;
//            afterwards it must hold exactly the web's files, byte for byte.
//   sync     one SyncWebWithServer call (RepeatPass) that deletes from the
//            folder "sync-ours" the 1,000 files its clean copy lacks and
//            keeps the few it holds, against `lftp mirror -R --delete` of
//            the clean copy over the same files in "sync-lftp" (the kept
//            files are equal in bytes and time, so lftp uploads nothing).
//            Before each repetition, untimed, the 1,000 files are put back
//            into the server's folder on disk (and, before ours, the
//            folder's baseline made, so that every deletion also removes a
//            record); afterwards the folder must hold exactly the kept
//            files.
//
// Every repetition is one operation (11 of each unless
// --benchmark_repetitions says otherwise), interleaved at random. After the
// runs each one's median real time (with its range) and the ratios of the
// medians are printed, ours / peer. The exit status is 0 when everything
// ran and every pass did what it should, whatever the ratios.
//
//   bench_engine [benchmark flags] HOST PORT USER PASSWORD HOME SCRATCH LISTING
//
// HOME is the server's home folder as a native path (the folders above lie
// in it), SCRATCH a folder holding "drive" (the drive root), "quiet-copy"
// (the identical local copy), "clean" (the clean copies), "sync-clean" (the
// kept files) and "sync-gone" (the files the synchronisation deletes), where
// the mirror's local copies "mirror-ours" and "mirror-lftp" are made too;
// LISTING the listing command for curl.
//
//   bench_engine --settle HOST PORT USER PASSWORD FOLDER SCRATCH
//   bench_engine --memory HOST PORT USER PASSWORD FOLDER SCRATCH
//
// Resident memory of one quiet pass over FOLDER: --settle builds the
// baseline and settles it; then --memory, in a process of its own, runs the
// pass and prints the process's peak resident size and its growth over the
// size before the pass.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_ftp_curl.h"
#include "bench_stats.h"
#include "sites/site_list.h"
#include "engine/engine.h"
#include "keyfile/keyfile.h"
#include "net/connection.h"
#include "platform/extensions.h"
#include "platform/win32.h"

namespace fs = std::filesystem;

namespace {

struct Settings {
    std::string host, user, password, listing;
    int port = 0;
    fs::path home, scratch;
} settings;

const char* const kQuiet = "quiet";
const char* const kRestoreOurs = "restore-ours";
const char* const kRestoreLftp = "restore-lftp";
const char* const kMirrorWeb = "mirror-web";
const char* const kSyncOurs = "sync-ours";
const char* const kSyncLftp = "sync-lftp";
const char* const kMask = "*.*";

fs::path Clean() { return settings.scratch / "clean"; }
fs::path MirrorOurs() { return settings.scratch / "mirror-ours"; }
fs::path MirrorLftp() { return settings.scratch / "mirror-lftp"; }
fs::path SyncClean() { return settings.scratch / "sync-clean"; }
fs::path SyncGone() { return settings.scratch / "sync-gone"; }

// The current site as the driver would hold it for `folder`, with the
// server's clock offset already known (0 hours, both clocks in UTC).
void SelectSite(const char* folder, const fs::path& secure = Clean()) {
    std::memset(&currentSite, 0, sizeof currentSite);
    CopyField(currentSite.ftpHost, settings.host.c_str());
    CopyField(currentSite.userName, settings.user.c_str());
    CopyField(currentSite.password, settings.password.c_str());
    CopyField(currentSite.remoteFolder, folder);
    CopyField(currentSite.fileMask, kMask);
    CopyField(currentSite.secureFolder, secure.c_str());
    currentSite.active = 1;
    currentSite.offsetMeasured = 1;
    SetSiteOffsetHours(currentSite, 0);
    currentRecordNumber = 0;
}

int Pass(const char* folder) {
    SelectSite(folder);
    return CheckWebSite(currentSite.secureFolder, currentSite.ftpHost, currentSite.userName,
                        currentSite.password, currentSite.remoteFolder, currentSite.fileMask, 0);
}

// A new baseline of `folder`.
void Baseline(const char* folder) {
    SelectSite(folder);
    CreateBaseline(currentSite.ftpHost, currentSite.userName, currentSite.password, currentSite.remoteFolder,
                   currentSite.fileMask, "", 1);
}

// The baseline of `folder` and one pass that makes its records plain.
bool Settle(const char* folder) {
    Baseline(folder);
    return Pass(folder) == 0;
}

// Gives every file of a server folder a few bytes more than its clean copy.
int Alter(const char* folder) {
    int altered = 0;
    for (const fs::directory_entry& clean : fs::directory_iterator(Clean())) {
        std::ofstream out(settings.home / folder / clean.path().filename(), std::ios::binary | std::ios::app);
        if (out << "altered\n") ++altered;
    }
    return altered;
}

// How many files of a server folder equal their clean copies.
int Restored(const char* folder) {
    int same = 0;
    for (const fs::directory_entry& clean : fs::directory_iterator(Clean())) {
        std::ifstream a(clean.path(), std::ios::binary), b(settings.home / folder / clean.path().filename(),
                                                           std::ios::binary);
        const std::string x((std::istreambuf_iterator<char>(a)), {}), y((std::istreambuf_iterator<char>(b)), {});
        if (a && b && x == y) ++same;
    }
    return same;
}

int CleanFiles() {
    return int(std::distance(fs::directory_iterator(Clean()), fs::directory_iterator()));
}

// Every file of a local folder, name and bytes; a sub-folder or an
// unreadable file shows as "<not a file>".
using Files = std::map<std::string, std::string>;
Files ReadFiles(const fs::path& folder) {
    Files files;
    std::error_code error;
    for (fs::directory_iterator i(folder, error), end; !error && i != end; i.increment(error)) {
        std::ifstream in(i->path(), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        files[i->path().filename().string()] = in && i->is_regular_file() ? std::move(bytes) : "<not a file>";
    }
    return files;
}

// Read once: the web's files of the mirror, the kept files and the deleted
// files of the synchronisation.
Files mirrorFiles, keptFiles, goneFiles;

// A fresh local copy for the mirror: every web file present, shorter and
// last written a month ago, so that every one is strictly older on either
// side's comparison and must be downloaded.
bool MakeStale(const fs::path& local) {
    std::error_code error;
    fs::remove_all(local, error);
    if (!fs::create_directory(local, error)) return false;
    const fs::file_time_type old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
    for (const auto& [name, bytes] : mirrorFiles) {
        if (!(std::ofstream(local / name, std::ios::binary) << "stale\n")) return false;
        fs::last_write_time(local / name, old, error);
        if (error) return false;
    }
    return true;
}

// Puts the deleted files back into a server folder on disk (the server's
// user may delete them: the folder is its own).
bool Refill(const char* folder) {
    for (const auto& [name, bytes] : goneFiles)
        if (!(std::ofstream(settings.home / folder / name, std::ios::binary) << bytes)) return false;
    return true;
}

// lftp with `commands` after logging in (no TLS attempt, as our client makes
// none); its output goes to SCRATCH/lftp.out. True when it exits 0.
bool Lftp(const std::string& commands) {
    const std::string line = "lftp -c 'set ftp:ssl-allow no; open -u " + settings.user + "," + settings.password +
                             " -p " + std::to_string(settings.port) + " " + settings.host + "; " + commands +
                             "' >'" + (settings.scratch / "lftp.out").string() + "' 2>&1";
    return std::system(line.c_str()) == 0;
}

// ---- the benchmarks

void BM_QuietOurs(benchmark::State& state) {
    for (auto _ : state) {
        if (Pass(kQuiet) != 0) {
            state.SkipWithError("the quiet pass acted on something");
            return;
        }
    }
}

void BM_QuietCurl(benchmark::State& state) {
    for (auto _ : state) {
        if (CurlListFresh(settings.host, settings.port, settings.user, settings.password, kQuiet,
                          settings.listing.c_str()) <= 0) {
            state.SkipWithError("curl listing failed");
            return;
        }
    }
}

void BM_QuietLftp(benchmark::State& state) {
    const std::string commands = std::string("mirror --dry-run ") + kQuiet + " '" +
                                 (settings.scratch / "quiet-copy").string() + "'";
    for (auto _ : state) {
        const bool ran = Lftp(commands);
        state.PauseTiming();
        std::error_code error;
        const bool same = fs::file_size(settings.scratch / "lftp.out", error) == 0 && !error;
        state.ResumeTiming();
        if (!ran || !same) {
            state.SkipWithError("lftp mirror --dry-run failed or found a difference");
            return;
        }
    }
}

void BM_RestoreOurs(benchmark::State& state) {
    const int files = CleanFiles();
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = Pass(kRestoreOurs) == 0 && Alter(kRestoreOurs) == files;
        state.ResumeTiming();
        if (!ready) {
            state.SkipWithError("could not prepare the altered folder");
            return;
        }
        const int acted = Pass(kRestoreOurs);
        state.PauseTiming();
        const int restored = Restored(kRestoreOurs);
        state.ResumeTiming();
        if (acted != files || restored != files) {
            std::fprintf(stderr, "restore/ours: acted on %d, %d of %d restored\n", acted, restored, files);
            state.SkipWithError("the pass did not put back every file");
            return;
        }
    }
}

void BM_RestoreLftp(benchmark::State& state) {
    const int files = CleanFiles();
    const std::string commands = "mirror -R '" + Clean().string() + "' " + kRestoreLftp;
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = Alter(kRestoreLftp) == files;
        state.ResumeTiming();
        if (!ready) {
            state.SkipWithError("could not alter the folder");
            return;
        }
        const bool ran = Lftp(commands);
        state.PauseTiming();
        const int restored = Restored(kRestoreLftp);
        state.ResumeTiming();
        if (!ran || restored != files) {
            std::fprintf(stderr, "restore/lftp: %d of %d restored\n", restored, files);
            state.SkipWithError("lftp mirror -R did not put back every file");
            return;
        }
    }
}

int Mirror() {
    SelectSite(kMirrorWeb);
    const std::string local = MirrorOurs().string();
    const SiteRecord& site = currentSite;
    return RepeatPass([&] {
        return MirrorWebToServer(local.c_str(), site.ftpHost, site.userName, site.password, site.remoteFolder,
                                 site.fileMask);
    });
}

void BM_MirrorOurs(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = MakeStale(MirrorOurs());
        state.ResumeTiming();
        if (!ready) {
            state.SkipWithError("could not make the local copy stale");
            return;
        }
        const int result = Mirror();
        state.PauseTiming();
        const bool same = ReadFiles(MirrorOurs()) == mirrorFiles;
        state.ResumeTiming();
        if (result != 0 || !same) {
            std::fprintf(stderr, "mirror/ours: result %d, local copy %s the web's files\n", result,
                         same ? "holds" : "does not hold");
            state.SkipWithError("the mirror did not download every file");
            return;
        }
    }
}

void BM_MirrorLftp(benchmark::State& state) {
    const std::string commands = std::string("mirror ") + kMirrorWeb + " '" + MirrorLftp().string() + "'";
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = MakeStale(MirrorLftp());
        state.ResumeTiming();
        if (!ready) {
            state.SkipWithError("could not make the local copy stale");
            return;
        }
        const bool ran = Lftp(commands);
        state.PauseTiming();
        const bool same = ReadFiles(MirrorLftp()) == mirrorFiles;
        state.ResumeTiming();
        if (!ran || !same) {
            state.SkipWithError("lftp mirror did not download every file");
            return;
        }
    }
}

int Sync() {
    SelectSite(kSyncOurs, SyncClean());
    const std::string local = SyncClean().string();
    const SiteRecord& site = currentSite;
    return RepeatPass([&] {
        return SyncWebWithServer(local.c_str(), site.ftpHost, site.userName, site.password, site.remoteFolder,
                                 site.fileMask);
    });
}

void BM_SyncOurs(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = Refill(kSyncOurs);
        if (ready) Baseline(kSyncOurs);
        state.ResumeTiming();
        if (!ready) {
            state.SkipWithError("could not put the files back");
            return;
        }
        const int result = Sync();
        state.PauseTiming();
        const bool kept = ReadFiles(settings.home / kSyncOurs) == keptFiles;
        state.ResumeTiming();
        if (result != 0 || !kept) {
            std::fprintf(stderr, "sync/ours: result %d, the folder %s the kept files\n", result,
                         kept ? "holds exactly" : "does not hold exactly");
            state.SkipWithError("the synchronisation did not delete exactly the files the clean copy lacks");
            return;
        }
    }
}

void BM_SyncLftp(benchmark::State& state) {
    // -v names every transfer, so that an upload of a kept file shows.
    const std::string commands = "mirror -R --delete -v '" + SyncClean().string() + "' " + kSyncLftp;
    for (auto _ : state) {
        state.PauseTiming();
        const bool ready = Refill(kSyncLftp);
        state.ResumeTiming();
        if (!ready) {
            state.SkipWithError("could not put the files back");
            return;
        }
        const bool ran = Lftp(commands);
        state.PauseTiming();
        const bool kept = ReadFiles(settings.home / kSyncLftp) == keptFiles;
        std::ifstream out(settings.scratch / "lftp.out");
        const std::string said((std::istreambuf_iterator<char>(out)), {});
        state.ResumeTiming();
        if (!ran || !kept || said.find("Transferring") != std::string::npos) {
            std::fprintf(stderr, "sync/lftp: %s", said.c_str());
            state.SkipWithError("lftp mirror -R --delete did not only delete the files the clean copy lacks");
            return;
        }
    }
}

// Real time of every repetition, per benchmark.
std::map<std::string, std::vector<double>> samples;
int failures = 0;

// Records every repetition for the summary and shows only the statistics.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown;
        for (const Run& r : runs) {
            if (r.error_occurred) ++failures;
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                samples[r.run_name.function_name].push_back(r.GetAdjustedRealTime() /
                                                             benchmark::GetTimeUnitMultiplier(r.time_unit));
            if (r.run_type == Run::RT_Aggregate || r.repetitions <= 1 || r.error_occurred)
                shown.push_back(r);
        }
        if (!shown.empty()) ConsoleReporter::ReportRuns(shown);
    }
};

int Fail(const char* what) {
    std::fprintf(stderr, "bench_engine: %s (last error %u)\n", what, unsigned(GetLastError()));
    return 1;
}

// A value of /proc/self/status in KiB ("VmHWM:     1234 kB"), or -1.
long StatusKib(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, length, key) == 0 && line.size() > length && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    return -1;
}

// The drive root in SCRATCH/drive with "\kestrovane" as the current folder,
// the store library started, the server's account.
bool Start(char** args) {
    settings.host = args[0];
    settings.port = std::atoi(args[1]);
    settings.user = args[2];
    settings.password = args[3];
    settings.scratch = fs::absolute(args[5]);
    if (settings.port <= 0 || settings.port > 65535) return false;
    ftpPort = INTERNET_PORT(settings.port);
    const fs::path drive = settings.scratch / "drive";
    std::error_code ignored;
    fs::create_directories(drive, ignored);
    if (!PlatformSetDriveRoot(drive.c_str())) return false;
    CreateDirectoryA("\\kestrovane", nullptr);
    return SetCurrentDirectoryA("\\kestrovane") && KfStart(0, 0) == 1;
}

// --settle: the baseline of the folder and one settling pass. --memory: one
// quiet pass over the settled folder, the only work of its process.
int MemoryRun(bool settle, char** args) {
    const char* folder = args[4];
    if (!Start(args)) return Fail("setting up the drive or the store");
    if (settle) {
        const bool settled = Settle(folder);
        KfStop();
        return settled ? 0 : Fail("baseline and settling pass");
    }
    const long before = StatusKib("VmRSS");
    const int acted = Pass(folder);
    const long peak = StatusKib("VmHWM");
    KfStop();
    if (acted != 0) return Fail("the quiet pass acted on something");
    std::printf("memory  pass over folder %s: peak resident %.1f MiB, %.1f MiB above the %.1f MiB before "
                "the pass (limit 64 MiB): %s\n",
                folder, peak / 1024.0, (peak - before) / 1024.0, before / 1024.0,
                peak <= 64 * 1024 ? "met" : "missed");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 8 && (std::strcmp(argv[1], "--settle") == 0 || std::strcmp(argv[1], "--memory") == 0))
        return MemoryRun(argv[1][2] == 's', argv + 2);

    std::vector<char*> args(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=11";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    if (!HasFlag(argc, argv, "--benchmark_repetitions")) args.push_back(repetitions);
    if (!HasFlag(argc, argv, "--benchmark_enable_random_interleaving")) args.push_back(interleave);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    if (count != 8) {
        std::fprintf(stderr, "usage: bench_engine [benchmark flags] HOST PORT USER PASSWORD HOME SCRATCH LISTING\n"
                             "       bench_engine --settle|--memory HOST PORT USER PASSWORD FOLDER SCRATCH\n");
        return 2;
    }
    settings.home = fs::absolute(args[5]);
    settings.listing = args[7];
    if (!Start(args.data() + 1)) return Fail("setting up the drive or the store");

    // Untimed: both quiet folders settled and the floor's listing of the
    // same size as the folder.
    const long long lines = CurlListFresh(settings.host, settings.port, settings.user, settings.password, kQuiet,
                                          settings.listing.c_str());
    std::printf("folder %s: %lld %s lines (curl); folder %s: %d files\n", kQuiet, lines, settings.listing.c_str(),
                kRestoreOurs, CleanFiles());
    if (lines <= 0) return Fail("curl listing");
    if (!Settle(kQuiet) || !Settle(kRestoreOurs)) return Fail("baseline and settling pass");
    mirrorFiles = ReadFiles(settings.home / kMirrorWeb);
    keptFiles = ReadFiles(SyncClean());
    goneFiles = ReadFiles(SyncGone());
    std::printf("folder %s: %zu files; folder %s: %zu files, %zu of them kept\n", kMirrorWeb, mirrorFiles.size(),
                kSyncOurs, keptFiles.size() + goneFiles.size(), keptFiles.size());
    if (mirrorFiles.empty() || keptFiles.empty() || goneFiles.empty()) return Fail("the folders of mirror and sync");

    struct Bench {
        const char* name;
        void (*function)(benchmark::State&);
    };
    const Bench benches[] = {{"quiet/ours", BM_QuietOurs},     {"quiet/curl", BM_QuietCurl},
                             {"quiet/lftp", BM_QuietLftp},     {"restore/ours", BM_RestoreOurs},
                             {"restore/lftp", BM_RestoreLftp}, {"mirror/ours", BM_MirrorOurs},
                             {"mirror/lftp", BM_MirrorLftp},   {"sync/ours", BM_SyncOurs},
                             {"sync/lftp", BM_SyncLftp}};
    for (const Bench& b : benches)
        benchmark::RegisterBenchmark(b.name, b.function)
            ->Iterations(1)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond)
            ->ComputeStatistics("min", Smallest)
            ->ComputeStatistics("max", Largest);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nmedian real time (min..max), ms:\n");
    for (const Bench& b : benches) {
        const std::vector<double>& s = samples[b.name];
        if (!s.empty())
            std::printf("%-13s %8.1f (%8.1f..%8.1f)\n", b.name, Median(s) * 1e3, Smallest(s) * 1e3,
                        Largest(s) * 1e3);
    }
    struct Ratio {
        const char *ours, *peer;
        double target;  // 0: shown only
    };
    const Ratio ratios[] = {{"quiet/ours", "quiet/curl", 1.2},
                            {"quiet/ours", "quiet/lftp", 0},
                            {"restore/ours", "restore/lftp", 1.2},
                            {"mirror/ours", "mirror/lftp", 1.5},
                            {"sync/ours", "sync/lftp", 1.5}};
    for (const Ratio& r : ratios) {
        const std::vector<double>&a = samples[r.ours], &b = samples[r.peer];
        if (a.empty() || b.empty()) continue;
        const double ratio = Median(a) / Median(b);
        if (r.target > 0)
            std::printf("ratio %s / %s = %.2f (target: at most %.1f): %s\n", r.ours, r.peer, ratio, r.target,
                        ratio <= r.target ? "met" : "missed");
        else
            std::printf("ratio %s / %s = %.2f\n", r.ours, r.peer, ratio);
    }
    KfStop();
    benchmark::Shutdown();
    return failures ? 1 : 0;
}
