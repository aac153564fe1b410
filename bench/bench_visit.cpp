// The CPU of one visit of a quiet site (VisitSite, app/monitor.h) with site
// lists of 10, 100 and 1,000 records, in one process against one server
// (bench/driver.py starts it and makes the site): a visit's cost must not
// grow with the list.
//
// Each list is records 1 .. N-1 of other sites, active, then the site itself
// as record N: the visit reads the list's last record, and anything a visit
// did per record or per active site (walking the list to its record,
// counting) would cost most there. The other sites are never visited: only
// the count of active sites, made when the rate is set, reads them.
//
// The figure is the CPU time of the whole process (std::clock): the engine's
// transfers run in worker threads, and the waits for the network cost none.
// The window is not presented (the screen framework draws into its surface
// and a copy of it), so the figure is the visit's own work. The peer is the
// same visit with the list of 10.
//
// First, untimed, the baseline visit and a settling visit, then one visit of
// each list; then each repetition takes every list in a shuffled order, sets
// the rate anew (the count walks the list, as whenever the user picks a
// rate) and visits twice: the figure is the second visit's (the first one's
// is shown too: it also pays for the caches the count's walk cleared, a cost
// of setting the rate). Every visit must be quiet: worked, and nothing
// logged. Last, so that the figure is not that of a visit that checks
// nothing, a page is altered on the server: the next visit must log it and
// put it back.
//
//   bench_visit [--repetitions=N] HOST PORT USER PASSWORD FOLDER SERVED SECURE DIST SCRATCH
//
// FOLDER is the site's folder on the server and SERVED the same folder as a
// native path; SECURE its clean copy (a native path); DIST the distribution
// folder, whose files go into the data folder; SCRATCH a folder for the
// drive. Exits 0 when every visit did what it should, whatever the ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "alerts/event_log.h"
#include "bench/bench_stats.h"
#include "app/app.h"
#include "sites/data_files.h"
#include "app/monitor.h"
#include "sites/site_files.h"
#include "sites/site_list.h"
#include "keyfile/keyfile.h"
#include "platform/extensions.h"
#include "platform/win32.h"
#include "tessil/tessil.h"

namespace fs = std::filesystem;

namespace {

constexpr int kListSizes[] = {10, 100, 1000};
constexpr int kSizes = int(std::size(kListSizes));

std::vector<tessil::Pixel> window;

bool CopyToWindow(const tessil::Surface& s, int width, int height)
{
    window.assign(s.pixels.begin(), s.pixels.begin() + ptrdiff_t(width) * height);
    return true;
}

std::string ListPath(int size) { return "\\kestrovane\\sites-" + std::to_string(size) + ".info"; }

// Site lists of every size whose last record is `site`.
bool WriteLists(const SiteRecord& site)
{
    for (int size : kListSizes) {
        const std::string path = ListPath(size);
        for (int n = 1; n < size; ++n) {
            SiteRecord other{};
            CopyField(other.ftpHost, ("site-" + std::to_string(n) + ".invalid").c_str());
            CopyField(other.userName, "nobody");
            CopyField(other.fileMask, "*.*");
            other.active = 1;
            if (WriteSiteRecord(path.c_str(), other, n) != kSiteRecordSize) return false;
        }
        if (WriteSiteRecord(path.c_str(), site, size) != kSiteRecordSize) return false;
    }
    return true;
}

// The list of `size` records becomes the site list, at one minute per active
// site ("run").
void UseList(int size)
{
    std::snprintf(siteListPath, sizeof siteListPath, "%s", ListPath(size).c_str());
    SetUpdateRate(size);
}

// Size of the current site's event log, or -1 when it cannot be read.
int64_t EventLogSize()
{
    HANDLE file = CreateFileA(siteEventLogFile, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? 0 : -1;
    LARGE_INTEGER size;
    const BOOL known = GetFileSizeEx(file, &size);
    CloseHandle(file);
    return known ? int64_t(size.QuadPart) : -1;
}

struct Visit {
    bool quiet;
    double cpuMs, realMs;
};

// Visits the last record of the list of `size`.
Visit VisitLast(int size)
{
    const int64_t logged = EventLogSize();
    const auto start = std::chrono::steady_clock::now();
    const std::clock_t cpu = std::clock();
    const SiteVisit result = VisitSite(size);
    const std::clock_t cpuEnd = std::clock();
    const auto end = std::chrono::steady_clock::now();
    const int64_t after = EventLogSize();
    const bool quiet = result == SiteVisit::kWorked && after >= 0 && after == logged;
    if (!quiet)
        std::fprintf(stderr, "visit of record %d: result %d, event log %lld -> %lld bytes\n", size, int(result),
                     static_cast<long long>(logged), static_cast<long long>(after));
    return {quiet, double(cpuEnd - cpu) * 1000.0 / CLOCKS_PER_SEC,
            std::chrono::duration<double, std::milli>(end - start).count()};
}

// The data folder on SCRATCH/drive holding DIST's files, with the monitor
// screen drawn into memory, as the program has it before its first visit.
bool Start(const fs::path& dist, const fs::path& scratch)
{
    const fs::path drive = scratch / "drive";
    std::error_code error;
    // Without its settings file start-up would end the process.
    if (!fs::exists(dist / "rttw.ini", error)) return false;
    fs::create_directories(drive / "kestrovane", error);
    fs::copy(dist, drive / "kestrovane", fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
    if (error || !PlatformSetDriveRoot(drive.c_str()) || !SetCurrentDirectoryA(kDataFolder)) return false;
    StartupInit();
    tessil::SetScreenMode(640, 480);
    tessil::CreateScreenBitmap();
    tessil::screenHost.present = CopyToWindow;
    eventPage = 1;
    return KfStart(0, 0) == 1;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Alters the first page of the clean copy on the server; true when the next
// visit logs that and puts the page back.
bool AlteredPageRestored(const fs::path& served, const fs::path& secure, int size)
{
    std::error_code error;
    fs::directory_iterator first(secure, error);
    if (error || first == fs::directory_iterator()) return false;
    const fs::path page = served / first->path().filename();
    if (!(std::ofstream(page, std::ios::binary | std::ios::app) << "altered\n")) return false;
    const int64_t logged = EventLogSize();
    return VisitSite(size) == SiteVisit::kWorked && EventLogSize() > logged &&
           ReadBytes(page) == ReadBytes(first->path());
}

int Fail(const char* what)
{
    std::fprintf(stderr, "bench_visit: %s (last error %u)\n", what, unsigned(GetLastError()));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    int repetitions = 21;
    std::vector<char*> args;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--repetitions=", 14) == 0)
            repetitions = std::max(1, std::atoi(argv[i] + 14));
        else
            args.push_back(argv[i]);
    }
    if (args.size() != 9) {
        std::fprintf(stderr, "usage: bench_visit [--repetitions=N] HOST PORT USER PASSWORD FOLDER SERVED SECURE "
                             "DIST SCRATCH\n");
        return 2;
    }
    const fs::path served = fs::absolute(args[5]), secure = fs::absolute(args[6]);
    if (!Start(fs::absolute(args[7]), fs::absolute(args[8]))) return Fail("setting up the data folder");

    SiteRecord site{};
    CopyField(site.ftpHost, (std::string(args[0]) + ":" + args[1]).c_str());
    CopyField(site.userName, args[2]);
    CopyField(site.password, args[3]);
    CopyField(site.remoteFolder, args[4]);
    CopyField(site.fileMask, "*.*");
    CopyField(site.secureFolder, secure.c_str());
    site.active = 1;
    site.offsetMeasured = 1;
    SetSiteOffsetHours(site, 0);
    if (!WriteLists(site)) return Fail("writing the site lists");

    // Untimed: the baseline and a settling visit (they may log), then a
    // warm-up visit of every list, which must be quiet.
    UseList(kListSizes[0]);
    VisitSite(kListSizes[0]);
    VisitSite(kListSizes[0]);
    for (int size : kListSizes) {
        UseList(size);
        if (!VisitLast(size).quiet) return Fail("a warm-up visit of the quiet site was not quiet");
    }

    std::vector<double> cpu[kSizes], real[kSizes], first[kSizes];
    std::mt19937 random(20261209);
    int order[kSizes];
    for (int i = 0; i < kSizes; ++i) order[i] = i;
    for (int r = 0; r < repetitions; ++r) {
        std::shuffle(order, order + kSizes, random);
        for (int i : order) {
            UseList(kListSizes[i]);
            // Counting walked the whole list: the first visit starts in the
            // caches that left (shown, not the figure), the second does not.
            const Visit warm = VisitLast(kListSizes[i]);
            const Visit v = VisitLast(kListSizes[i]);
            if (!warm.quiet || !v.quiet) return Fail("a visit of the quiet site was not quiet");
            first[i].push_back(warm.cpuMs);
            cpu[i].push_back(v.cpuMs);
            real[i].push_back(v.realMs);
        }
    }

    UseList(kListSizes[0]);
    if (!AlteredPageRestored(served, secure, kListSizes[0]))
        return Fail("the visit after a page was altered did not log it and put it back");

    std::printf("%d repetitions; CPU time of the process per visit, ms: median (min..max); real time median; "
                "CPU median of the first visit after the rate was set\n",
                repetitions);
    for (int i = 0; i < kSizes; ++i)
        std::printf("list of %5d records  %7.3f (%7.3f..%7.3f)   real %7.1f   first %7.3f\n", kListSizes[i],
                    Median(cpu[i]), Smallest(cpu[i]), Largest(cpu[i]), Median(real[i]), Median(first[i]));
    const double ratio = Median(cpu[kSizes - 1]) / Median(cpu[0]);
    std::printf("ratio list of 1,000 / list of 10 (the peer: the same visit with a list of 10) = %.2f "
                "(target: at most 1.2): %s\n",
                ratio, ratio <= 1.2 ? "met" : "missed");
    return 0;
}
