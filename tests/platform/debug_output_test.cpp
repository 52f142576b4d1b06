// OutputDebugStringW: what a listener on the channel
// receives, and that a sender never waits for it.
#include "nltest.h"

namespace {

class DebugOutputTest : public ::testing::Test {
  protected:
    nltest::TestEnv env_;
    nltest::DebugListener listener_{env_.path("channel.sock")};
};

// Each call is one UTF-8 message, and the last error is left alone. A long
// text is cut at a character boundary: two-byte characters run across the
// limit, and the cut may not split one.
TEST_F(DebugOutputTest, EachCallIsOneUtf8Message) {
    ASSERT_TRUE(listener_.bound());
    SetLastError(1234);
    const std::wstring longText = L"a" + std::wstring(NL_DEBUG_CHANNEL_MAX_MESSAGE / 2 + 10, L'\u00e9');
    for (const wchar_t* text : {L"plain text\n", L"gr\u00fc\u00df \u20ac \U0001F600", L"", longText.c_str()})
        OutputDebugStringW(text);
    std::string cut = "a";
    while (cut.size() < NL_DEBUG_CHANNEL_MAX_MESSAGE - 2) cut += "\xc3\xa9";
    for (const std::string& text :
         {std::string("plain text\n"), std::string("gr\xc3\xbc\xc3\x9f \xe2\x82\xac \xf0\x9f\x98\x80"),
          std::string(), cut}) {
        std::string message;
        ASSERT_TRUE(listener_.Receive(&message)) << text.substr(0, 20);
        EXPECT_EQ(message, text);
    }
    EXPECT_FALSE(listener_.Pending());
    EXPECT_EQ(GetLastError(), 1234u);
}

// With the listener not reading, its queue fills: the rest is lost, and no
// call waits (a blocking send would hang the case until its time-out).
TEST_F(DebugOutputTest, AFullQueueLosesTextsInsteadOfBlocking) {
    std::wstring text(1000, L'x');
    for (int i = 0; i < 5000; ++i) OutputDebugStringW(text.c_str());
    int received = 0;
    std::string message;
    while (listener_.Receive(&message, 0)) ++received;
    EXPECT_GT(received, 0);
    EXPECT_LT(received, 5000);
}

// Nobody there, or a path no socket can have: texts are lost, the last error
// is left alone, and nobody is tried again for a second, so a viewer that
// starts late gets texts within a second; another channel at once.
TEST_F(DebugOutputTest, WithoutAListenerNothingHappensAndAViewerThatStartsLateGetsTextsWithinASecond) {
    nltest::FakeClock clock;
    const std::string latePath = env_.path("late.sock");
    SetLastError(1234);
    for (const std::string& path :
         {env_.path("missing/dir/x.sock"), std::string(200, 'p'), env_.path(""), latePath}) {
        setenv("NL_DEBUG_CHANNEL", path.c_str(), 1);
        for (int i = 0; i < 1000; ++i) OutputDebugStringW(L"lost");
    }
    EXPECT_FALSE(listener_.Pending());
    EXPECT_EQ(GetLastError(), 1234u);
    {
        nltest::DebugListener late(latePath);
        clock.Advance(1000);
        OutputDebugStringW(L"in time");
        std::string message;
        ASSERT_TRUE(late.Receive(&message));
        EXPECT_EQ(message, "in time");
    }
    setenv("NL_DEBUG_CHANNEL", latePath.c_str(), 1);
    OutputDebugStringW(L"nobody there again");
    setenv("NL_DEBUG_CHANNEL", env_.path("channel.sock").c_str(), 1);
    OutputDebugStringW(L"another channel");
    std::string message;
    ASSERT_TRUE(listener_.Receive(&message));
    EXPECT_EQ(message, "another channel");
}

// The channel's path, and too small a buffer for it.
TEST(DebugChannelPath, IsTheEnvironmentsOrTheMachinesAndFitsTheBufferWhole) {
    char path[200];
    setenv("NL_DEBUG_CHANNEL", std::string(150, 'p').c_str(), 1);
    EXPECT_EQ(NlGetDebugChannelPath(path, sizeof path), 0u);
    unsetenv("NL_DEBUG_CHANNEL");
    const DWORD length = strlen(NL_DEBUG_CHANNEL_PATH);
    EXPECT_EQ(NlGetDebugChannelPath(path, length), 0u);  // no room for the terminator
    EXPECT_EQ(NlGetDebugChannelPath(path, length + 1), length);
    EXPECT_STREQ(path, NL_DEBUG_CHANNEL_PATH);
}

}  // namespace
