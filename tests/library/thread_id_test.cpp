// DBG::NL_GetThreadId: the thread behind a handle, or 0, and a lookup that
// fails for good.
#include <utilDebug.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "test_env.h"

namespace {

using namespace nltest;

TEST(ThreadId, OwnOtherAndBadHandles) {
    EXPECT_EQ(DBG::NL_GetThreadId(GetCurrentThread()), GetCurrentThreadId());
    HANDLE own = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
    EXPECT_EQ(DBG::NL_GetThreadId(own), GetCurrentThreadId());
    CloseHandle(own);

    std::atomic<DWORD> otherId{0};
    std::atomic<bool> stop{false};
    std::thread other([&] {
        otherId = GetCurrentThreadId();
        EXPECT_TRUE(WaitUntil([&] { return stop.load(); }, "the test to end its thread"));
    });
    EXPECT_TRUE(WaitUntil([&] { return otherId != 0; }, "the other thread to start"));
    HANDLE handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, otherId);
    EXPECT_EQ(DBG::NL_GetThreadId(handle), otherId.load());
    stop = true;
    other.join();
    CloseHandle(handle);

    // Bad handles give zero.
    HANDLE closed = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
    ASSERT_TRUE(CloseHandle(closed));
    int notAHandle = 0;
    for (HANDLE handle : {closed, static_cast<HANDLE>(nullptr), static_cast<HANDLE>(&notAHandle),
                          reinterpret_cast<HANDLE>(0xdeadbeef), INVALID_HANDLE_VALUE})
        EXPECT_EQ(DBG::NL_GetThreadId(handle), 0ul) << handle;
}

TEST(ThreadId, ConcurrentFirstCallsAgree) {
    std::atomic<int> wrong{0};
    std::thread threads[4];
    for (std::thread& t : threads)
        t = std::thread([&] {
            if (DBG::NL_GetThreadId(GetCurrentThread()) != GetCurrentThreadId()) ++wrong;
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

// A process whose kernel32 has no GetThreadId (the probe is linked with a
// GetProcAddress that finds nothing and reports each lookup): every call
// gives 0, and the lookup happens once.
TEST(ThreadId, AMissingGetThreadIdGivesZeroForGood) {
    TestEnv env;
    WriteFile(env.path("commands"), "threadid\nthreadid\n");
    std::string output;
    RunCommand("'" NO_THREAD_ID_PROBE "' < '" + env.path("commands") + "'", &output);
    std::string expected = "lookup GetThreadId\n";
    for (int i = 0; i < 6; ++i) expected += "threadid=0\n";
    EXPECT_EQ(output, expected);
}

}  // namespace
