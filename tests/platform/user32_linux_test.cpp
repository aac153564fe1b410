// What only the GTK layer decides: window geometry without a frame of its
// own, the window manager's close request, the folder chooser, the XDG
// folders, the raw command line, nice values, life without a display, and
// what presenting and polling cost.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/resources.h"
#include "gui_fixture.h"
#include "platform/linux/winmain.h"

namespace fs = std::filesystem;

namespace {

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// The X id of the (only) visible window with this title, or 0.
unsigned long XWindowNamed(const std::string& title) {
    std::string ids = Output("xdotool search --onlyvisible --name '^" + title + "$'");
    return std::strtoul(ids.c_str(), nullptr, 10);
}

class LinuxWindows : public GuiTest {};

TEST_F(LinuxWindows, GeometryHasNoFrameOfItsOwn) {
    // The window manager's caption and borders are outside: only the menu
    // bar, as tall as Windows' (19 pixels), lies between the outer and the
    // client rectangle.
    EXPECT_EQ(GetSystemMetrics(SM_CYMENU), 19);
    EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXFULLSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYFULLSCREEN), 768);
    RECT rect = {0, 0, 640, 480};
    ASSERT_TRUE(AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, FALSE));
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(rect.right, 640);
    EXPECT_EQ(rect.bottom, 480);
    ASSERT_TRUE(AdjustWindowRect(&rect, WS_OVERLAPPEDWINDOW, TRUE));
    EXPECT_EQ(rect.top, -19);

    // The program's own arithmetic (the adjusted height plus 19 for the menu
    // bar) gives a 640 x 480 client area.
    RECT outer = {0, 0, 640, 480};
    AdjustWindowRect(&outer, WS_OVERLAPPEDWINDOW, FALSE);
    window = CreateWindowExA(0, kTestClass, "kv-geometry", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                             outer.right - outer.left, outer.bottom - outer.top + 19, nullptr,
                             nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    PumpFor(200);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
    // No window manager: the window sits at the screen's corner.
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, 0);
    EXPECT_EQ(origin.y, 19);

    // The class icon is the window's icon, 32 x 32.
    unsigned long id = XWindowNamed("kv-geometry");
    ASSERT_NE(id, 0u);
    std::string icon = Output("xprop -id " + std::to_string(id) + " _NET_WM_ICON | head -c 200");
    EXPECT_NE(icon.find("Icon (32 x 32)"), std::string::npos) << icon;
}

TEST_F(LinuxWindows, WindowManagerCloseRequestIsASystemCommand) {
    ASSERT_TRUE(MakeWindow(200, 100));
    SetWindowTextA(window, "kv-close-test");
    PumpFor(100);
    unsigned long id = XWindowNamed("kv-close-test");
    ASSERT_NE(id, 0u);
    std::string request = std::string("/usr/bin/python3 ") + KV_TEST_SOURCE_DIR "/close_request.py " +
                          std::to_string(id);

    Settle();
    procedureRules.swallowClose = true;
    ASSERT_EQ(std::system(request.c_str()), 0);
    ASSERT_TRUE(PumpUntil([&] { return Find(WM_SYSCOMMAND) != nullptr; }));
    EXPECT_EQ(Find(WM_SYSCOMMAND)->wParam & 0xFFF0, WPARAM(SC_CLOSE));
    PumpFor(100);
    EXPECT_TRUE(IsWindow(window));  // the procedure said no
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_NE(XWindowNamed("kv-close-test"), 0u);

    procedureRules.swallowClose = false;
    HWND target = window;
    ASSERT_EQ(std::system(request.c_str()), 0);
    EXPECT_TRUE(PumpUntil([&] { return !IsWindow(target); }));
    EXPECT_NE(Find(WM_DESTROY), nullptr);
    window = nullptr;
}

// Plays the user at the folder chooser from another thread: types `typed`
// into the location bar and presses Return, or presses Escape when `typed` is
// empty. On a loaded machine xdotool's keys can miss the dialog, so an answer
// that has not closed it within kAnswerWait is given again, and at kBound the
// dialog is closed as the window manager's close button would, so that the
// call returns and the test fails instead of waiting for ever.
class ChooserUser {
public:
    static constexpr auto kBound = std::chrono::seconds(20);
    static constexpr auto kAnswerWait = std::chrono::seconds(4);

    ChooserUser(std::string title, std::string typed)
        : title_(std::move(title)), typed_(std::move(typed)), thread_([this] { Play(); }) {}
    ~ChooserUser() { Returned(); }

    // Call when the chooser has returned. True when the answer closed it.
    bool Returned() {
        returned_ = true;
        if (thread_.joinable()) thread_.join();
        return !closedByForce_;
    }

private:
    bool WaitForReturn(std::chrono::steady_clock::duration wait) const {
        auto until = std::chrono::steady_clock::now() + wait;
        while (!returned_ && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return returned_;
    }

    void Play() {
        auto deadline = std::chrono::steady_clock::now() + kBound;
        std::string id;
        while (!returned_ && std::chrono::steady_clock::now() < deadline) {
            if (id.empty()) {
                id = Output("timeout 5 xdotool search --sync --onlyvisible --name '" + title_ + "'");
                id = id.substr(0, id.find('\n'));
                continue;
            }
            std::system(("xdotool windowfocus --sync " + id + " >/dev/null 2>&1").c_str());
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (typed_.empty()) {
                std::system("xdotool key Escape");
            } else {
                std::system("xdotool key ctrl+l");
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                std::system(("xdotool type --delay 5 '" + typed_ + "'").c_str());
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                std::system("xdotool key Return");
            }
            if (WaitForReturn(kAnswerWait)) return;
        }
        if (returned_ || id.empty()) return;
        closedByForce_ = true;
        std::string close = "/usr/bin/python3 " KV_TEST_SOURCE_DIR "/close_request.py " + id + " 2>/dev/null";
        do std::system(close.c_str());
        while (!WaitForReturn(std::chrono::seconds(1)));
    }

    std::string title_, typed_;
    std::atomic<bool> returned_{false};
    std::atomic<bool> closedByForce_{false};
    std::thread thread_;  // last: it starts once the rest is made
};

TEST_F(LinuxWindows, FolderBrowserReturnsTheChosenFolder) {
    ASSERT_TRUE(MakeWindow(200, 100));
    fs::path chosen = fs::temp_directory_path() / "kv chooser test";
    fs::create_directories(chosen);
    SetTimer(window, 4, 50, nullptr);
    Settle();

    char display[MAX_PATH] = "";
    BROWSEINFOA info = {};
    info.hwndOwner = window;
    info.lpszTitle = "Select the Secure Server Folder";
    info.pszDisplayName = display;
    ChooserUser user("Select the Secure Server Folder", chosen.string() + "/");
    LPITEMIDLIST list = SHBrowseForFolderA(&info);
    ASSERT_TRUE(user.Returned()) << "the typed folder missed the chooser; it was closed after "
                                 << ChooserUser::kBound.count() << " s";
    ASSERT_NE(list, nullptr);
    char path[MAX_PATH];
    ASSERT_TRUE(SHGetPathFromIDListA(list, path));
    EXPECT_EQ(std::string(path), chosen.string());
    EXPECT_STREQ(display, "kv chooser test");
    CoTaskMemFree(list);
    // The program's timers went on while the dialog was open.
    EXPECT_GT(Count(WM_TIMER), 0);

    ChooserUser cancel("Select the Secure Server Folder", "");
    EXPECT_EQ(SHBrowseForFolderA(&info), nullptr);
    EXPECT_TRUE(cancel.Returned()) << "Escape missed the chooser; it was closed after "
                                   << ChooserUser::kBound.count() << " s";
    KillTimer(window, 4);
    fs::remove_all(chosen);

    EXPECT_FALSE(SHGetPathFromIDListA(nullptr, path));
    CoTaskMemFree(nullptr);
}

TEST(LinuxShell, SpecialFoldersFollowTheXdgVariables) {
    // The test's environment points XDG_DATA_HOME and XDG_CONFIG_HOME into
    // the build tree (tests/platform/CMakeLists.txt).
    const char* data = std::getenv("XDG_DATA_HOME");
    ASSERT_NE(data, nullptr);
    fs::remove_all(data);
    char path[MAX_PATH];
    SetLastError(0);
    EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_PROGRAMS, TRUE));
    EXPECT_EQ(std::string(path), std::string(data) + "/applications");
    EXPECT_TRUE(fs::is_directory(path));
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_APPDATA, FALSE));
    EXPECT_EQ(std::string(path), data);
    // Files under it are reached by the native path as it is.
    std::string file = std::string(path) + "/probe.txt";
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_TRUE(fs::exists(file));

    const char* desktop = std::getenv("KV_TEST_DESKTOP");
    ASSERT_NE(desktop, nullptr);
    fs::remove_all(desktop);
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY | CSIDL_FLAG_CREATE, FALSE));
    EXPECT_EQ(std::string(path), desktop);
    EXPECT_TRUE(fs::is_directory(desktop));

    EXPECT_FALSE(SHGetSpecialFolderPathA(nullptr, path, 0x0025, TRUE));
}

TEST(LinuxStartup, RawCommandLineFromArguments) {
    auto line = [](std::vector<std::string> words) {
        std::vector<char*> argv;
        static char program[] = "kestrovane";
        argv.push_back(program);
        for (auto& w : words) argv.push_back(w.data());
        return PlatformRawCommandLine(int(argv.size()), argv.data());
    };
    EXPECT_EQ(line({}), "");
    EXPECT_EQ(line({"run"}), "run");
    EXPECT_EQ(line({"_infofile:/tmp/sites.info", "run"}), "_infofile:/tmp/sites.info run");
    EXPECT_EQ(line({"_infofile:c:\\my sites\\s.info", "minimize"}),
              "\"_infofile:c:\\my sites\\s.info\" minimize");
    EXPECT_EQ(line({"a", "", "b\tc"}), "a \"\" \"b\tc\"");
}

// The nice value of the calling thread, from /proc.
int ThreadNice() {
    std::ifstream in("/proc/thread-self/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    for (int i = 3; i <= 19 && fields >> field; i++) {
    }
    return std::stoi(field);
}

TEST(NicePriority, ClassesBecomeNiceValues) {
    // Run in a process of its own: it lowers the priority for good when the
    // process may not raise it again.
    int start = ThreadNice();
    ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS));
    bool privileged = ThreadNice() == -10;
    if (!privileged) {
        EXPECT_EQ(ThreadNice(), start);  // the nearest allowed: unchanged
    }
    // Real-time falls back to what the process may have, and succeeds.
    ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), REALTIME_PRIORITY_CLASS));
    EXPECT_EQ(ThreadNice(), privileged ? -20 : start);
    ASSERT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL));
    EXPECT_EQ(ThreadNice(), privileged ? -18 : start + 2);
    // Other threads take the class too.
    int other = 0;
    std::thread worker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        other = ThreadNice();
    });
    ASSERT_TRUE(SetPriorityClass(GetCurrentProcess(), BELOW_NORMAL_PRIORITY_CLASS));
    worker.join();
    EXPECT_EQ(ThreadNice(), 10);
    EXPECT_EQ(other, 10);
    EXPECT_EQ(GetPriorityClass(GetCurrentProcess()), DWORD(BELOW_NORMAL_PRIORITY_CLASS));
}

// Run with DISPLAY unset (its own test entry).
TEST(NoDisplay, WindowsFailCleanlyAndTheQueueStillWorks) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "KvNoDisplay";
    SetLastError(0);
    EXPECT_EQ(RegisterClassA(&wc), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEVICE_NOT_AVAILABLE));
    SetLastError(0);
    EXPECT_EQ(CreateWindowExA(0, "KvNoDisplay", "x", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEVICE_NOT_AVAILABLE));
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_FALSE(MessageBeep(0));
    EXPECT_FALSE(SetCursorPos(1, 1));
    EXPECT_EQ(SHBrowseForFolderA(nullptr), nullptr);

    // Thread messages and thread timers need no display.
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER, 1, 2));
    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.message, UINT(WM_USER));
    static int ticks;
    ticks = 0;
    UINT_PTR id = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ticks++; });
    ASSERT_NE(id, 0u);
    while (ticks < 2 && GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    EXPECT_EQ(ticks, 2);
    EXPECT_TRUE(KillTimer(nullptr, id));
    PostQuitMessage(3);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, WPARAM(3));
}

TEST_F(LinuxWindows, CostOfPresentingAndPolling) {
    ASSERT_TRUE(MakeWindow(640, 480));
    std::vector<uint32_t> pixels(size_t(640) * 480);
    for (size_t i = 0; i < pixels.size(); i++) pixels[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
    ASSERT_TRUE(PlatformPresentPixels(window, pixels.data(), 640, 480, 640));
    Settle();
    constexpr int kPresents = 200, kPeeks = 20000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kPresents; i++) {
        pixels[size_t(i)] ^= 0xFFFFFF;
        PlatformPresentPixels(window, pixels.data(), 640, 480, 640);
    }
    auto presented = std::chrono::steady_clock::now();
    MSG msg;
    int got = 0;
    for (int i = 0; i < kPeeks; i++) got += PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) ? 1 : 0;
    auto polled = std::chrono::steady_clock::now();
    double presentUs = std::chrono::duration<double, std::micro>(presented - start).count() / kPresents;
    double peekUs = std::chrono::duration<double, std::micro>(polled - presented).count() / kPeeks;
    std::printf("PlatformPresentPixels 640x480: %.1f us; idle PeekMessageA: %.2f us\n", presentUs, peekUs);
    RecordProperty("present_us", int(presentUs));
    RecordProperty("peeks_with_a_message", got);
    // Four presents a second must be a small part of a second.
    EXPECT_LT(presentUs, 20000.0);
    EXPECT_LT(peekUs, 200.0);
}

}  // namespace
