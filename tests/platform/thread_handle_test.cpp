// Thread handles: the kernel id a handle gives, also after its thread ends
// (GetComputerNameW is checked through the banner).
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

}  // namespace
