// Screen redraw against the memory-bandwidth floor, in one process.
//
//   redraw   27 text fields of 80 characters, all changed, drawn by
//            RefreshFields in the 8 x 8 font and presented (the present is a
//            copy of the whole surface into a second buffer, the part of a
//            window copy that the program itself pays for)
//   fill     a plain fill of the whole 640 x 480 surface
//
// After the runs the ratio redraw / fill is printed: how far a full page of
// text is from touching the surface's memory once.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "bench/page_fields.h"
#include "tessil/tessil.h"

using namespace tessil;

namespace {

std::vector<Pixel> window;
double redrawNs = 0, fillNs = 0;

bool CopyToWindow(const Surface& s, int width, int height)
{
    window.resize(size_t(width) * size_t(height));
    std::memcpy(window.data(), s.pixels.data(), window.size() * sizeof(Pixel));
    return true;
}

// A screen library whose record 21 carries the shipped 8 x 8 font.
void SetUpScreen(const std::filesystem::path& folder)
{
    std::vector<char> library(21 * 3200, char(255));
    std::ifstream font(KV_FONT8X8_FILE, std::ios::binary);
    font.read(library.data() + 20 * 3200 + 1152, 2048);
    std::ofstream(folder / "screens.lib", std::ios::binary).write(library.data(), std::streamsize(library.size()));
    PlatformSetDriveRoot(folder.string().c_str());
    std::filesystem::current_path(folder);
    CreateDynamicBuffers();
    SetScreenLibraryPath("screens.lib");
    screenMode = 1;
    SetScreenMode(640, 480);
    CreateScreenBitmap();
    screenHost.present = CopyToWindow;

    LoadPageFields([](int i) { return uint8_t(3 + i % 4); });
}

void BM_Redraw(benchmark::State& state)
{
    char lines[2][81];
    for (int i = 0; i < 80; ++i) {
        lines[0][i] = char(' ' + (i * 7) % 95);
        lines[1][i] = char(' ' + (i * 11 + 3) % 95);
    }
    lines[0][80] = lines[1][80] = 0;
    int turn = 0;
    for (auto _ : state) {
        for (int16_t f = 0; f < 27; ++f)
            SetFieldText(f, lines[(f + turn) & 1], ' ');
        RefreshFields();
        turn ^= 1;
        benchmark::DoNotOptimize(window.data());
    }
}

void BM_Fill(benchmark::State& state)
{
    Surface& s = ScreenSurface();
    Pixel colour = 0;
    for (auto _ : state) {
        std::fill(s.pixels.begin(), s.pixels.end(), ++colour);
        benchmark::DoNotOptimize(s.pixels.data());
    }
}

BENCHMARK(BM_Redraw)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Fill)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            double ns = r.GetAdjustedRealTime() * (r.time_unit == benchmark::kMicrosecond ? 1000.0 : 1.0);
            if (r.benchmark_name() == "BM_Redraw")
                redrawNs = ns;
            else if (r.benchmark_name() == "BM_Fill")
                fillNs = ns;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    auto folder = std::filesystem::temp_directory_path() / ("kvbench-screen-" + std::to_string(std::rand()));
    std::filesystem::create_directories(folder);
    SetUpScreen(folder);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    if (redrawNs > 0 && fillNs > 0)
        std::printf("\nfull redraw %.1f us, plain fill %.1f us: ratio %.2f (target: under 1000 us and 20)\n",
                    redrawNs / 1000, fillNs / 1000, redrawNs / fillNs);
    ReleaseScreenResources();
    PlatformSetDriveRoot(nullptr);
    std::filesystem::current_path(folder.parent_path());
    std::filesystem::remove_all(folder);
    return 0;
}
