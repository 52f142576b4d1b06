// DebugStringToWindbg: what a listener on the debug-output channel receives
// from both overloads (a channel nobody reads is the platform's concern).
#include "nltest.h"

namespace {

using namespace nltest;

TEST(DebuggerOutputTest, TheFormatOverloadSendsItsOutputAsItComes) {
    TestEnv env;
    DebugListener listener(env.path("debug.sock"));
    auto next = [&] {
        std::string message;
        EXPECT_TRUE(listener.Receive(&message));
        return message;
    };
    DebugStringToWindbg(L"plain text, no line feed");
    EXPECT_EQ(next(), "plain text, no line feed");
    DebugStringToWindbg(L"%s=%d %S", L"count", 42, "narrow");
    EXPECT_EQ(next(), "count=42 narrow");
    // 1,023 characters at most.
    std::wstring longText(2000, L'x');
    DebugStringToWindbg(L"%s!", longText.c_str());
    EXPECT_EQ(next(), std::string(1023, 'x'));
    std::wstring exact(1023, L'y');
    DebugStringToWindbg(L"%s", exact.c_str());
    EXPECT_EQ(next(), std::string(1023, 'y'));
    DebugStringToWindbg(static_cast<const wchar_t*>(nullptr));
    EXPECT_FALSE(listener.Pending());
}

}  // namespace
