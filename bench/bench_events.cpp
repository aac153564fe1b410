// The newest page of events drawn from a log of 25 events and from one of
// 1,000,000, in one process: the page reads its 25 records from the end of
// the file, so the cost must not grow with the log.
//
//   small   25 events
//   large   1,000,000 events (365 MB; all but the newest 1,000 records are
//           a sparse hole of zero records, so the file costs no disk and
//           no time to make: only where the page reads matters)
//
// After the runs the ratio large / small is printed (target under 1.5).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <vector>

#include "alerts/event_log.h"
#include "alerts/show_events.h"
#include "sites/site_files.h"
#include "bench/page_fields.h"
#include "tessil/tessil.h"

using namespace tessil;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kLargeEvents = 1000000;
constexpr int kWrittenEvents = 1000;
double smallNs = 0, largeNs = 0;
std::vector<Pixel> window;

bool CopyToWindow(const Surface& s, int width, int height)
{
    window.resize(size_t(width) * size_t(height));
    std::memcpy(window.data(), s.pixels.data(), window.size() * sizeof(Pixel));
    return true;
}

// The monitor page on a screen library that carries the shipped 8 x 8 font.
void SetUpScreen(const fs::path& folder)
{
    std::vector<char> library(21 * 3200, char(255));
    std::ifstream font(KV_FONT8X8_FILE, std::ios::binary);
    font.read(library.data() + 20 * 3200 + 1152, 2048);
    std::ofstream(folder / "screens.lib", std::ios::binary).write(library.data(), std::streamsize(library.size()));
    PlatformSetDriveRoot(folder.string().c_str());
    fs::current_path(folder);
    CreateDynamicBuffers();
    SetScreenLibraryPath("screens.lib");
    screenMode = 1;
    SetScreenMode(640, 480);
    CreateScreenBitmap();
    screenHost.present = CopyToWindow;
    LoadPageFields([](int) { return uint8_t(3); });
}

void LogEvents(const char* file, int count)
{
    std::snprintf(siteEventLogFile, sizeof siteEventLogFile, "%s", file);
    std::time_t now = std::time(nullptr);
    std::tm stamp = *std::localtime(&now);
    for (int i = 0; i < count; ++i) {
        WIN32_FIND_DATAA entry = {};
        entry.dwFileAttributes = 0x20;
        std::snprintf(entry.cFileName, sizeof entry.cFileName, "folder/page-%06d.html", i);
        LogEvent(uint8_t(1 + i % kLastEventType), entry, i & 1, &stamp, 2);
    }
}

void MakeLogs()
{
    LogEvents("small.msg", kEventsPerPage);
    LogEvents("tail.msg", kWrittenEvents);
    std::ifstream tailFile("tail.msg", std::ios::binary);
    std::vector<char> tail(size_t(kWrittenEvents) * kEventRecordSize);
    tailFile.read(tail.data(), std::streamsize(tail.size()));
    {
        std::ofstream("large.msg", std::ios::binary);
    }
    fs::resize_file("large.msg", uint64_t(kLargeEvents - kWrittenEvents) * kEventRecordSize);
    std::ofstream large("large.msg", std::ios::binary | std::ios::in | std::ios::ate);
    large.write(tail.data(), std::streamsize(tail.size()));
}

void DrawNewestPage(benchmark::State& state, const char* file)
{
    std::snprintf(siteEventLogFile, sizeof siteEventLogFile, "%s", file);
    eventPage = 1;
    for (auto _ : state) {
        ShowEvents(kDrawEvents);
        benchmark::DoNotOptimize(window.data());
    }
}

void BM_PageOf25(benchmark::State& state) { DrawNewestPage(state, "small.msg"); }
void BM_PageOf1000000(benchmark::State& state) { DrawNewestPage(state, "large.msg"); }

BENCHMARK(BM_PageOf25)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PageOf1000000)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            double ns = r.GetAdjustedRealTime() * (r.time_unit == benchmark::kMicrosecond ? 1000.0 : 1.0);
            if (r.benchmark_name() == "BM_PageOf25")
                smallNs = ns;
            else if (r.benchmark_name() == "BM_PageOf1000000")
                largeNs = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    fs::path folder = fs::temp_directory_path() / ("kvbench-events-" + std::to_string(std::time(nullptr)));
    fs::create_directories(folder);
    SetUpScreen(folder);
    MakeLogs();
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (smallNs > 0 && largeNs > 0)
        std::printf("\nnewest page: %.1f us from 25 events, %.1f us from 1,000,000: ratio %.2f (target under 1.5)\n",
                    smallNs / 1000, largeNs / 1000, largeNs / smallNs);
    ReleaseScreenResources();
    PlatformSetDriveRoot(nullptr);
    fs::current_path(folder.parent_path());
    fs::remove_all(folder);
    return smallNs > 0 && largeNs > 0 && largeNs / smallNs < 1.5 ? 0 : 1;
}
