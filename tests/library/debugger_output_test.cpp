// DebugStringToWindbg: what a listener on the debug-output channel receives
// from both overloads (a channel nobody reads is the platform's concern).
#include "nltest.h"

namespace {

using namespace nltest;

const std::string kSuffix = "commonDebugUtil.cpp19\n";

class DebuggerOutputTest : public ::testing::Test {
  protected:
    std::string Next() {
        std::string message;
        EXPECT_TRUE(listener_.Receive(&message));
        return message;
    }

    TestEnv env_;
    DebugListener listener_{env_.path("debug.sock")};
};

TEST_F(DebuggerOutputTest, TheFormatOverloadSendsItsOutputAsItComes) {
    DebugStringToWindbg(L"plain text, no line feed");
    EXPECT_EQ(Next(), "plain text, no line feed");
    DebugStringToWindbg(L"%s=%d %S", L"count", 42, "narrow");
    EXPECT_EQ(Next(), "count=42 narrow");
    // 1,023 characters at most.
    std::wstring longText(2000, L'x');
    DebugStringToWindbg(L"%s!", longText.c_str());
    EXPECT_EQ(Next(), std::string(1023, 'x'));
    std::wstring exact(1023, L'y');
    DebugStringToWindbg(L"%s", exact.c_str());
    EXPECT_EQ(Next(), std::string(1023, 'y'));
    DebugStringToWindbg(static_cast<const wchar_t*>(nullptr));
    EXPECT_FALSE(listener_.Pending());
}

}  // namespace
