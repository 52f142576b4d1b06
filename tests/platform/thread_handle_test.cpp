// Handles: thread handles and the one table that recognises every handle
// the layer gave out (GetComputerNameW is checked through the banner).
#include "nltest.h"

namespace {

// A handle gives its thread's kernel id, also after the thread ends; the
// pseudo-handle means the thread that uses it.
TEST(ThreadHandles, GiveTheKernelIdOfTheirThreadAlsoAfterItEnds) {
    EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
    std::atomic<DWORD> otherId{0}, seenByOther{0};
    std::atomic<bool> stop{false};
    std::thread other([&] {
        seenByOther = GetThreadId(GetCurrentThread());
        otherId = GetCurrentThreadId();
        EXPECT_TRUE(nltest::WaitUntil([&] { return stop.load(); }, "the test to end its thread"));
    });
    EXPECT_TRUE(nltest::WaitUntil([&] { return otherId != 0; }, "the thread to start"));
    HANDLE handle = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, otherId);
    EXPECT_EQ(GetThreadId(handle), otherId);
    stop = true;
    other.join();
    EXPECT_EQ(seenByOther, otherId);
    EXPECT_NE(otherId, GetCurrentThreadId());
    EXPECT_EQ(GetThreadId(handle), otherId);
    EXPECT_TRUE(CloseHandle(handle));
}

// Each handle the layer gave out is closed once; anything else, a live handle
// of another kind included, is no thread's handle and is never followed.
TEST(CloseHandle, ClosesEachHandleOnceAndRecognisesBadHandles) {
    nltest::TestEnv env;
    HANDLE file = CreateFileW(nltest::Widen(env.path("f")).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              0, nullptr);
    HANDLE thread = OpenThread(THREAD_ALL_ACCESS, FALSE, GetCurrentThreadId());
    HANDLE transaction = CreateTransaction(nullptr, nullptr, 0, 0, 0, 0, nullptr);
    int notAnObject = 0;
    for (HANDLE handle : {file, HANDLE{}, INVALID_HANDLE_VALUE, HANDLE(&notAnObject), HANDLE(0x1234)}) {
        SetLastError(0);
        EXPECT_EQ(GetThreadId(handle), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    for (HANDLE handle : {file, thread, transaction}) {
        ASSERT_NE(handle, nullptr);
        EXPECT_TRUE(CloseHandle(handle));
        SetLastError(0);
        EXPECT_FALSE(CloseHandle(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    EXPECT_EQ(GetThreadId(thread), 0u);
    EXPECT_FALSE(CloseHandle(&notAnObject));
    // A closed transaction is unknown to the transaction functions too.
    SetLastError(0);
    EXPECT_FALSE(CommitTransaction(transaction));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));
    EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
}

}  // namespace
