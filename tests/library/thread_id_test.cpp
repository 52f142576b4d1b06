// DBG::NL_GetThreadId: the thread behind a handle, or 0, and a lookup that
// fails for good.
#include "nltest.h"

namespace {

using namespace nltest;

// What a handle means is the platform's (its own tests); here the library
// hands the handle on and gives 0 for one that names no thread, also from
// threads whose first call races the lookup.
TEST(ThreadId, HandlesAreHandedToTheLookup) {
    HANDLE own = OpenThread(THREAD_QUERY_INFORMATION, FALSE, GetCurrentThreadId());
    EXPECT_EQ(DBG::NL_GetThreadId(own), GetCurrentThreadId());
    CloseHandle(own);
    EXPECT_EQ(DBG::NL_GetThreadId(own), 0ul);
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
    RunCommand("'" NO_THREAD_ID_PROBE_PATH "' < '" + env.path("commands") + "'", &output);
    std::string expected = "lookup GetThreadId\n";
    for (int i = 0; i < 6; ++i) expected += "threadid=0\n";
    EXPECT_EQ(output, expected);
}

}  // namespace
