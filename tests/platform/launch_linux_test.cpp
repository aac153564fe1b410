// Linux only: which Linux program a Windows command line starts, how its
// words are split, and what the child gets from us. ctest points the editor,
// the browser and xdg-open at record-launch (KV_TEST_FAKE_DESKTOP), so no
// real editor or browser is ever opened.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

class Launch : public ScratchFolder {
protected:
    void SetUp() override {
        ScratchFolder::SetUp();
        const char* fake = std::getenv("KV_TEST_FAKE_DESKTOP");
        if (!fake) GTEST_SKIP() << "run through ctest";
        fake_ = fake;
        fs::create_directory(folder_ / "kestrovane");
    }

    // Starts line, waits for it and returns its exit code; -1 when it could
    // not be started (the last error tells why).
    long long Run(const std::string& line) {
        STARTUPINFOA startup;
        GetStartupInfoA(&startup);
        PROCESS_INFORMATION info{};
        std::string text = line;
        if (!CreateProcessA(nullptr, text.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info))
            return -1;
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0)) << line;
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return code;
    }

    // The lines record-launch wrote, and a fresh start for the next ones.
    std::vector<std::string> Launched() {
        std::vector<std::string> lines;
        std::istringstream in(GetText("launched.txt"));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        fs::remove("launched.txt");
        return lines;
    }

    void PutScript(const fs::path& path, const std::string& text, bool executable) {
        PutText(path.string(), text);
        if (executable) fs::permissions(path, fs::perms::owner_exec, fs::perm_options::add);
    }

    fs::path fake_;
};

using Lines = std::vector<std::string>;

TEST_F(Launch, NotepadOpensTheTranslatedFileInTheEditor) {
    PutText((folder_ / "kestrovane" / "ksvhelp.txt").string(), "help");
    std::string here = fs::current_path().string();
    EXPECT_EQ(Run("notepad.exe \\Kestrovane\\KSVHELP.TXT"), 0);
    EXPECT_EQ(Run("C:\\WINDOWS\\system32\\NOTEPAD a b.txt"), 0);
    EXPECT_EQ(Run("notepad \"c d.txt\""), 0);
    EXPECT_EQ(Launched(), (Lines{"[editor][" + (folder_ / "kestrovane" / "ksvhelp.txt").string() + "]",
                                 "[editor][" + here + "/a b.txt]",
                                 "[editor][" + here + "/c d.txt]"}));
}

TEST_F(Launch, ExplorerOpensTheAddressInTheBrowser) {
    EXPECT_EQ(Run("explorer http://forum.example/?a=1&b=$HOME;x"), 0);
    EXPECT_EQ(Run("Explorer.exe \\kestrovane"), 0);
    EXPECT_EQ(Launched(), (Lines{"[browser][http://forum.example/?a=1&b=$HOME;x]",
                                 "[browser][" + (folder_ / "kestrovane").string() + "]"}));
}

// Run by ctest a second time without KESTROVANE_EDITOR and KESTROVANE_BROWSER.
TEST_F(Launch, WithoutChoicesTheDesktopOpensBoth) {
    if (std::getenv("KESTROVANE_EDITOR") || std::getenv("KESTROVANE_BROWSER"))
        GTEST_SKIP() << "the editor and browser are set";
    EXPECT_EQ(Run("notepad.exe x.txt"), 0);
    EXPECT_EQ(Run("explorer https://forum.example/"), 0);
    EXPECT_EQ(Launched(), (Lines{"[xdg-open][" + fs::current_path().string() + "/x.txt]",
                                 "[xdg-open][https://forum.example/]"}));
}

TEST_F(Launch, BatchFilesAndCmdRunThroughTheShell) {
    // Not executable: the shell reads it, as cmd reads a batch file.
    PutScript(folder_ / "kestrovane" / "Monitor.BAT", "printf 'ran %s\\n' \"$*\" >> bat.txt\n",
              false);
    EXPECT_EQ(Run("cmd /c \\kestrovane\\monitor.bat"), 0);
    EXPECT_EQ(Run("cmd.exe /C \\KESTROVANE\\MONITOR.BAT one 'two  three'"), 0);
    EXPECT_EQ(Run("\\kestrovane\\monitor.bat four"), 0);
    EXPECT_EQ(GetText("bat.txt"), "ran \nran one two  three\nran four\n");

    fs::create_directory(folder_ / "it's here");
    PutScript(folder_ / "it's here" / "quit.bat", "exit 9\n", false);
    EXPECT_EQ(Run("cmd /c \"\\it's here\\quit.bat\""), 9);
    EXPECT_EQ(Run("command.com /c exit 7"), 7);
    // As with cmd, a missing batch file is the interpreter's failure, not ours.
    EXPECT_GT(Run("cmd /c \\kestrovane\\missing.bat"), 0);
    EXPECT_EQ(Run("\\kestrovane\\missing.bat"), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

TEST_F(Launch, OtherProgramsByTheirPathOrFromPath) {
    PutScript(folder_ / "kestrovane" / "Tool", "#!/bin/sh\nexit 5\n", true);
    PutScript(folder_ / "kestrovane" / "plain", "#!/bin/sh\nexit 5\n", false);
    EXPECT_EQ(Run("\\kestrovane\\tool"), 5);
    EXPECT_EQ(Run("c:\\KESTROVANE\\TOOL extra words"), 5);
    EXPECT_EQ(Run("sh -c \"exit 4\""), 4);
    EXPECT_EQ(Run("\\kestrovane\\plain"), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

TEST_F(Launch, AQuotedProgramNameMayHoldBlanks) {
    fs::create_directory("sub dir");
    fs::copy_file(fake_ / "record-launch", "sub dir/rec");
    std::string here = fs::current_path().string();
    EXPECT_EQ(Run("\"" + here + "/sub dir/rec\" x"), 0);
    EXPECT_EQ(Run(here + "/\"sub dir\"/rec y"), 0);
    EXPECT_EQ(Launched(), (Lines{"[rec][x]", "[rec][y]"}));
}

TEST_F(Launch, ChildrenGetOnlyStandardDescriptorsAndDefaultSignals) {
    // std::fopen does not ask for close-on-exec.
    std::vector<std::FILE*> open;
    for (int i = 0; i < 5; ++i) open.push_back(std::fopen(("f" + std::to_string(i)).c_str(), "w"));
    auto previous = std::signal(SIGPIPE, SIG_IGN);
    EXPECT_EQ(Run("cmd /c ls /proc/self/fd > fds.txt; grep SigIgn /proc/self/status > sig.txt"), 0);
    std::signal(SIGPIPE, previous);
    for (std::FILE* f : open) std::fclose(f);

    std::istringstream fds(GetText("fds.txt"));
    int count = 0;
    for (int fd; fds >> fd; ++count) EXPECT_LE(fd, 3) << "inherited descriptor";  // 3: ls's own
    EXPECT_GE(count, 3);
    // Signals 1 to 31; the C library keeps its own real-time ones to itself.
    std::string ignored = GetText("sig.txt");
    ASSERT_EQ(ignored.rfind("SigIgn:\t", 0), 0u) << ignored;
    EXPECT_EQ(std::stoull(ignored.substr(8), nullptr, 16) & 0x7FFFFFFFu, 0u) << ignored;
}

TEST_F(Launch, ChildrenAreReapedWhenNobodyWaits) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION info{};
    char line[] = "cmd /c exit 0";
    ASSERT_TRUE(CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &info));
    EXPECT_EQ(info.dwThreadId, info.dwProcessId);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    // A zombie keeps its /proc entry until it is reaped.
    fs::path entry = "/proc/" + std::to_string(info.dwProcessId);
    for (int i = 0; i < 1000 && fs::exists(entry); ++i) Sleep(10);
    EXPECT_FALSE(fs::exists(entry));

    EXPECT_EQ(Run("cmd /c kill -9 $$"), 128 + 9);  // killed by a signal: 128 + N
}

DWORD WINAPI SleepForever(LPVOID) {
    Sleep(INFINITE);
    return 0;
}

DWORD WINAPI WaitForThread(LPVOID thread) {
    return WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
}

TEST(LinuxThreads, TheProcessExitsPastAbandonedThreads) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto abandon = [] {
        HANDLE sleeper = CreateThread(nullptr, 0, SleepForever, nullptr, 0, nullptr);
        CreateThread(nullptr, 0, WaitForThread, sleeper, 0, nullptr);
        CloseHandle(CreateThread(nullptr, 0, SleepForever, nullptr, 0, nullptr));
        // A reaper blocked in waitpid too; the child lets go of our output.
        STARTUPINFOA startup;
        GetStartupInfoA(&startup);
        PROCESS_INFORMATION info;
        char line[] = "cmd /c exec sleep 1 >/dev/null 2>&1";
        CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &info);
        Sleep(50);
        std::exit(0);
    };
    EXPECT_EXIT(abandon(), ::testing::ExitedWithCode(0), "");
}

TEST(LinuxThreads, WhatThisLayerRefuses) {
    EXPECT_EQ(CreateThread(nullptr, 0, SleepForever, nullptr, CREATE_SUSPENDED, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    HANDLE thread = CreateThread(nullptr, 0, SleepForever, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    char buffer[4];
    DWORD got = 0;
    EXPECT_FALSE(ReadFile(thread, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(FindClose(thread));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeProcess(thread, &code));
    EXPECT_TRUE(CloseHandle(thread));  // the sleeper is abandoned, never killed

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    PROCESS_INFORMATION info;
    char line[] = "cmd /c exit 0";
    EXPECT_FALSE(CreateProcessA("/bin/sh", line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                &startup, &info));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
