// Threads as the worker wrappers use them: start, exit code, waits with and
// without a limit, and a handle closed while its thread still runs.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "platform/win32.h"

namespace {

struct Gate {
    std::atomic<bool> open{false};
    std::atomic<bool> finished{false};
    std::atomic<DWORD> id{0};
};

DWORD WINAPI WaitAtGate(LPVOID parameter) {
    auto* gate = static_cast<Gate*>(parameter);
    gate->id = GetCurrentThreadId();
    while (!gate->open) Sleep(5);
    gate->finished = true;
    return 42;
}

DWORD WINAPI ReturnParameter(LPVOID parameter) {
    return DWORD(reinterpret_cast<UINT_PTR>(parameter));
}

TEST(Threads, RunWaitAndReportTheExitCode) {
    Gate gate;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());

    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, DWORD(STILL_ACTIVE));
    EXPECT_EQ(WaitForSingleObject(thread, 0), DWORD(WAIT_TIMEOUT));
    DWORD before = GetTickCount();
    EXPECT_EQ(WaitForSingleObject(thread, 150), DWORD(WAIT_TIMEOUT));
    EXPECT_GE(GetTickCount() - before, 130u);  // Windows' tick is 16 ms coarse

    gate.open = true;
    EXPECT_EQ(WaitForSingleObject(thread, INFINITE), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(gate.id.load(), id);  // the id handed out is the thread's own
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    // An ended thread stays signalled.
    EXPECT_EQ(WaitForSingleObject(thread, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Threads, ClosingTheHandleLeavesTheThreadRunning) {
    Gate gate;
    HANDLE thread = CreateThread(nullptr, 0, WaitAtGate, &gate, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    gate.open = true;
    for (int i = 0; i < 400 && !gate.finished; ++i) Sleep(5);
    EXPECT_TRUE(gate.finished);
    EXPECT_FALSE(CloseHandle(thread));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Threads, ManyAtOnceEachWithItsOwnResult) {
    std::vector<HANDLE> threads;
    for (UINT_PTR i = 0; i < 32; ++i) {
        HANDLE thread = CreateThread(nullptr, 64 * 1024, ReturnParameter,
                                     reinterpret_cast<LPVOID>(i * 7), 0, nullptr);
        ASSERT_NE(thread, nullptr);
        threads.push_back(thread);
    }
    for (size_t i = 0; i < threads.size(); ++i) {
        EXPECT_EQ(WaitForSingleObject(threads[i], 10000), DWORD(WAIT_OBJECT_0));
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeThread(threads[i], &code));
        EXPECT_EQ(code, DWORD(i * 7));
        EXPECT_TRUE(CloseHandle(threads[i]));
    }
}

TEST(Threads, HandlesThatAreNotThreads) {
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), DWORD(WAIT_FAILED));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(nullptr, &code));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    HANDLE thread = CreateThread(nullptr, 0, ReturnParameter, nullptr, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), DWORD(WAIT_OBJECT_0));
    ASSERT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), DWORD(WAIT_FAILED));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
