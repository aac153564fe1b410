// Starting programs as LaunchProgram starts them. "cmd /c" is the one program
// both systems have: Windows' (or Wine's) command interpreter, and /bin/sh
// through our mapping, so the commands here are ones both understand.
#include <filesystem>
#include <string>

#include "scratch_folder.h"

namespace fs = std::filesystem;

namespace {

class Processes : public ScratchFolder {};

// CreateProcessA as the program calls it; FALSE leaves info zeroed.
BOOL Start(const char* commandLine, PROCESS_INFORMATION& info, const char* directory = nullptr) {
    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    info = PROCESS_INFORMATION{};
    std::string line = commandLine;  // CreateProcessA may write to it
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, directory,
                          &startup, &info);
}

bool AppearsWithin(const fs::path& file, DWORD milliseconds) {
    for (DWORD waited = 0; waited < milliseconds; waited += 20) {
        if (fs::exists(file)) return true;
        Sleep(20);
    }
    return fs::exists(file);
}

TEST_F(Processes, StartupInfoOfTheProgramItself) {
    STARTUPINFOA startup;
    startup.cb = 0;
    GetStartupInfoA(&startup);
    EXPECT_EQ(startup.cb, DWORD(sizeof startup));
}

TEST_F(Processes, ExitCodeOfAProgramThatRan) {
    PROCESS_INFORMATION info;
    ASSERT_TRUE(Start("cmd /c exit 3", info)) << GetLastError();
    EXPECT_NE(info.hProcess, nullptr);
    EXPECT_NE(info.hThread, nullptr);
    EXPECT_NE(info.dwProcessId, 0u);
    EXPECT_NE(info.dwThreadId, 0u);

    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 3u);
    // Its main thread has ended with it.
    EXPECT_EQ(WaitForSingleObject(info.hThread, 20000), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(GetExitCodeThread(info.hThread, &code));
    EXPECT_EQ(code, 3u);
    // A process handle is not a thread handle.
    EXPECT_FALSE(GetExitCodeProcess(info.hThread, &code));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

TEST_F(Processes, HandlesClosedAtOnceLeaveTheProgramRunning) {
    PROCESS_INFORMATION info;
    ASSERT_TRUE(Start("cmd /c echo done> ran.txt", info)) << GetLastError();
    EXPECT_TRUE(CloseHandle(info.hThread));
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_TRUE(AppearsWithin(cwd_ / "ran.txt", 20000));
}

TEST_F(Processes, StartsInTheFolderAskedFor) {
    fs::create_directory(cwd_ / "sub");
    PROCESS_INFORMATION info;
    ASSERT_TRUE(Start("cmd /c echo here> here.txt", info, "sub")) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    EXPECT_TRUE(fs::exists(cwd_ / "sub" / "here.txt"));

    EXPECT_FALSE(Start("cmd /c exit 0", info, "missing"));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DIRECTORY));
}

// Windows leaves the splitting to the program's C runtime; on Linux
// CreateProcessA splits, and must agree with it.
TEST_F(Processes, WordsAreSplitAsTheRuntimeSplitsThem) {
    struct Case {
        const char* line;
        const char* words;
    };
    const Case cases[] = {
        {R"(a "b c" d)", "[a][b c][d]"},
        {R"("ab\"c" "\\" d)", R"([ab"c][\][d])"},
        {R"(a\\\b d"e f"g h)", R"([a\\\b][de fg][h])"},
        {R"(a\\\"b c d)", R"([a\"b][c][d])"},
        {R"(a\\\\"b c" d e)", R"([a\\b c][d][e])"},
        {"\"\" x\t y  ", "[][x][y]"},
        {R"("a ""b"" c")", R"([a "b" c])"},
        {R"(a"b"" c d)", R"([ab" c d])"},
        {R"(C:\kestrovane\x.txt %PATH% $HOME)", R"([C:\kestrovane\x.txt][%PATH%][$HOME])"},
    };
    for (const Case& c : cases) {
        PROCESS_INFORMATION info;
        std::string line = std::string("\"") + KV_ARGV_RECORD + "\" " + c.line;
        ASSERT_TRUE(Start(line.c_str(), info)) << GetLastError();
        EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        EXPECT_EQ(GetText("launched.txt"), std::string(c.words) + "\n") << c.line;
        fs::remove("launched.txt");
    }
}

TEST_F(Processes, ABareNameIsFoundInTheCurrentFolder) {
    fs::copy_file(KV_ARGV_RECORD, cwd_ / "ArgvCopy.exe");
    PROCESS_INFORMATION info;
    ASSERT_TRUE(Start("argvcopy.exe here", info)) << GetLastError();
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 20000), DWORD(WAIT_OBJECT_0));
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    EXPECT_EQ(GetText("launched.txt"), "[here]\n");
}

TEST_F(Processes, AProgramThatIsNotThere) {
    PROCESS_INFORMATION info;
    EXPECT_FALSE(Start("kv-no-such-program-4711.exe \\kestrovane\\file.txt", info));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(info.hProcess, nullptr);
    // Also when the folder is missing.
    EXPECT_FALSE(Start("\\kv-no-such-folder\\program.exe", info));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
}

}  // namespace
