// qpreg as a user runs it: each case is a session kept as data
// (tests/data/qpreg, whose README gives the format), run with the built tool
// as a process on a private registry.
#include "nltest.h"

namespace {

const std::string kKey = "HKLM\\SOFTWARE\\Norlake\\Test";

class QpregTranscript : public nltest::Transcript {
  public:
    explicit QpregTranscript(const nltest::TestEnv& env) : Transcript(env, QPREG_PATH) {}

  protected:
    // Split at each blank: KEY stands for the test's key, FILE for File().
    std::vector<std::string> Words(const std::string& line) override {
        std::vector<std::string> args;
        for (size_t start = 0, end; start < line.size(); start = end + 1) {
            end = std::min(line.find(' ', start), line.size());
            std::string word = line.substr(start, end - start);
            if (word.rfind("KEY", 0) == 0) word = kKey + word.substr(3);
            args.push_back(word == "FILE" ? File() : word == "''" ? "" : word);
        }
        return args;
    }
    bool Extra(const std::string& tag, const std::string& text) override {
        if (tag == "+") {
            nltest::Outcome result = Run(Words("add " + text + " /f"));
            EXPECT_EQ(result.status, 0) << text << ": " << result.err;
            EXPECT_EQ(result.out, "The operation completed successfully.\n") << text;
        } else if (tag == "=") {
            std::string name = text.substr(0, text.find("    "));
            std::string out = Run({"query", kKey, "/v", name == "(Default)" ? "" : name}).out;
            std::string start = "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake\\Test\n    ";
            EXPECT_EQ(
                out.rfind(start, 0) == 0 ? out.substr(start.size(), out.size() - start.size() - 2) : out,
                text);
        }
        return tag == "+" || tag == "=";
    }
};

class QpregSession : public ::testing::TestWithParam<const char*> {};

TEST_P(QpregSession, GivesWhatTheTranscriptSays) {
    nltest::TestEnv env;
    QpregTranscript(env).Play(std::string("qpreg/") + GetParam() + ".txt");
}

INSTANTIATE_TEST_SUITE_P(Transcripts, QpregSession,
                         ::testing::Values("faults", "add", "query", "find", "delete", "import", "export",
                                           "import_files", "questions", "access", "registry_file", "terminal",
                                           "round_trip", "limits"));

}  // namespace
