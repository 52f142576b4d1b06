// qpreg as a user runs it: each case runs the built tool as a process on a
// private registry and checks its output, exit status and the registry left
// behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "test_env.h"
#include "vectors.h"

namespace {

using Args = std::vector<std::string>;

const std::string kKey = "HKLM\\SOFTWARE\\Norlake\\Test";
const std::string kFullKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake\\Test";
const std::string kSuccess = "The operation completed successfully.\n";
const std::string kHeader = "Windows Registry Editor Version 5.00";

struct Result {
    int status;
    std::string out;
    std::string err;
};

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string CommandLine(const Args& args) {
    std::string line = QPREG_PATH;
    for (const std::string& arg : args) line += " " + ShellQuote(arg);
    return line;
}

// The lines, each ended with end.
std::string Lines(const std::vector<std::string>& lines, const std::string& end = "\n") {
    std::string text;
    for (const std::string& line : lines) text += line + end;
    return text;
}

// The bytes of a UTF-16LE file with a byte-order mark holding ASCII text.
std::string Utf16File(const std::string& ascii) {
    std::string bytes = "\xFF\xFE";
    for (char c : ascii) bytes += std::string{c, '\0'};
    return bytes;
}

class QpregTest : public ::testing::Test {
  protected:
    // Standard input is never a terminal here, so questions are refused.
    Result Run(const Args& args, const std::string& runner = "") {
        Result result;
        std::string errFile = env_.path("stderr.txt");
        result.status =
            nltest::RunCommand(runner + CommandLine(args) + " </dev/null 2>" + errFile, &result.out);
        result.err = nltest::ReadFile(errFile);
        return result;
    }

    // Runs with the text piped to standard input.
    Result RunPiped(const Args& args, const std::string& input) {
        Result result;
        std::string errFile = env_.path("stderr.txt");
        result.status = nltest::RunCommand(
            "printf " + ShellQuote(input) + " | " + CommandLine(args) + " 2>" + errFile, &result.out);
        result.err = nltest::ReadFile(errFile);
        return result;
    }

    // Runs with a terminal on standard input that answers with the text.
    Result RunOnTerminal(const Args& args, const std::string& answer, const std::string& environment = "") {
        Result result;
        result.status = nltest::RunCommand("printf " + ShellQuote(answer) + " | " + environment +
                                               "script -qec " + ShellQuote(CommandLine(args)) + " /dev/null",
                                           &result.out);
        return result;
    }

    // Runs without the right to change the registry database.
    Result RunUnprivileged(const Args& args) {
        if (geteuid() == 0) return Run(args, "setpriv --reuid=65534 --regid=65534 --clear-groups ");
        chmod(env_.registryFile().c_str(), 0444);
        return Run(args);
    }

    // Runs "add LINE /f" for each line, as Words reads it, and expects success.
    void Add(const std::vector<std::string>& lines) {
        for (const std::string& line : lines) {
            Result result = Run(Words("add " + line + " /f"));
            ASSERT_EQ(result.status, 0) << line << ": " << result.err;
            ASSERT_EQ(result.out, kSuccess) << line;
        }
    }

    std::string Listing() { return Run({"query", kKey, "/s"}).out; }

    // The line of one value as query shows it, without its indent.
    std::string ValueLine(const std::string& name) {
        std::string out = Run({"query", kKey, "/v", name}).out, start = "\n" + kFullKey + "\n    ";
        return out.rfind(start, 0) == 0 ? out.substr(start.size(), out.size() - start.size() - 2) : "";
    }

    // A file of the private directory, which does not exist until written.
    std::string File() { return env_.path("file.reg"); }

    // A command line as typed, split at blanks: KEY stands for the test's key,
    // FILE for File(), '' for an empty argument.
    Args Words(const std::string& line) {
        Args args;
        for (size_t start = 0, end; start < line.size(); start = end + 1) {
            end = std::min(line.find(' ', start), line.size());
            std::string word = line.substr(start, end - start);
            if (word.rfind("KEY", 0) == 0) word = kKey + word.substr(3);
            args.push_back(word == "FILE" ? File() : word == "''" ? "" : word);
        }
        return args;
    }

    // Imports the text from File().
    Result Import(const std::string& content) {
        nltest::WriteFile(File(), content);
        return Run({"import", File()});
    }

    nltest::TestEnv env_;
};

// ---- Command line and faults -------------------------------------------------------

// A registry file named in a folder that does not exist is a mistyped name:
// nothing is created, and the error names the file. A file created in an
// existing folder is named on a terminal.
TEST_F(QpregTest, RegistryFileIsCreatedOnlyInAnExistingFolderAndNamed) {
    const std::string missing = env_.path("no-such-folder/sub/registry.db");
    for (const char* line : {"add KEY /v V /d x /f", "import FILE"}) {
        nltest::WriteFile(File(), "Windows Registry Editor Version 5.00\r\n\r\n[" + kFullKey + "]\r\n");
        Result result = Run(Words(line), "NL_REGISTRY_FILE=" + ShellQuote(missing) + " ");
        EXPECT_EQ(result.status, 1) << line;
        EXPECT_NE(result.err.find(missing + " (NL_REGISTRY_FILE) is in a folder that does not exist"),
                  std::string::npos)
            << result.err;
        EXPECT_FALSE(nltest::FileExists(env_.path("no-such-folder"))) << line;
    }
    const std::string fresh = env_.path("fresh.db");
    Result created =
        RunOnTerminal(Words("add KEY /v V /d x /f"), "", "NL_REGISTRY_FILE=" + ShellQuote(fresh) + " ");
    EXPECT_EQ(created.status, 0);
    EXPECT_NE(created.out.find("qpreg: created the registry file " + fresh), std::string::npos)
        << created.out;
    Result again =
        RunOnTerminal(Words("add KEY /v V /d y /f"), "", "NL_REGISTRY_FILE=" + ShellQuote(fresh) + " ");
    EXPECT_EQ(again.out.find("created the registry file"), std::string::npos) << again.out;
}

// ---- sessions kept as data (tests/data/qpreg, whose README gives the format) ----

class QpregSession : public QpregTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(QpregSession, GivesWhatTheTranscriptSays) {
    std::istringstream transcript(nltest::ReadFile(std::string(QPREG_DATA_DIR "/") + GetParam() + ".txt"));
    ASSERT_FALSE(transcript.str().empty()) << GetParam();
    int status = 0, number = 0;
    std::string errStart, command, out, file, written, input;
    bool unprivileged = false;
    Result result{0, "", ""};
    auto check = [&] {
        if (command.empty()) return;
        EXPECT_EQ(result.status, status) << command << ": " << result.err;
        EXPECT_EQ(result.err.rfind(errStart, 0), 0u) << command << ": " << result.err;
        EXPECT_EQ(result.out, out) << command;
        if (!written.empty()) {
            EXPECT_EQ(nltest::ReadFile(File()), Utf16File(written)) << command;
        }
        command.clear(), written.clear();
    };
    for (std::string line; std::getline(transcript, line);) {
        ++number;
        std::string tag = line.substr(0, 1), text = line.size() > 2 ? line.substr(2) : "";
        const std::string blank = "\u00b6";
        if (text.size() >= blank.size() && text.compare(text.size() - blank.size(), blank.size(), blank) == 0)
            text.resize(text.size() - blank.size());
        SCOPED_TRACE(std::string(GetParam()) + ".txt:" + std::to_string(number));
        if (tag == ">") {
            out += text + "\n";
        } else if (tag == "<") {
            file += text + "\n";
        } else if (tag == "!") {
            unprivileged = true;
        } else if (tag == "|") {
            input = nltest::Unescape(text);
        } else if (tag == "^") {
            file += nltest::Unescape(text);
        } else if (tag == "*") {
            written += text + "\r\n";
        } else if (tag == ":") {
            EXPECT_NE(result.out.find(text), std::string::npos) << command << ": " << result.out;
            out = result.out;  // the rest is not compared
        } else if (tag == "~" || tag == "-") {
            EXPECT_EQ(result.err.find(text) != std::string::npos, tag == "~")
                << command << ": " << result.err;
        } else if (tag != "#" && tag != "") {
            check();
            if (tag == "+") {
                Add({text});
            } else if (tag == "$") {
                command = text, out.clear();
                if (!file.empty()) nltest::WriteFile(File(), file);
                file.clear();
                result = unprivileged    ? RunUnprivileged(Words(text))
                         : input.empty() ? Run(Words(text))
                                         : RunPiped(Words(text), input);
                input.clear(), unprivileged = false;
            } else if (tag == "?") {
                status = std::stoi(text), errStart = text.size() > 2 ? text.substr(2) : "";
            } else if (tag == "=") {
                std::string name = text.substr(0, text.find("    "));
                EXPECT_EQ(ValueLine(name == "(Default)" ? "" : name), text);
            } else {
                ADD_FAILURE() << "unknown line: " << line;
            }
        }
    }
    check();
}

INSTANTIATE_TEST_SUITE_P(Transcripts, QpregSession,
                         ::testing::Values("faults", "add", "query", "find", "delete", "import", "export",
                                           "import_files", "questions", "access"));

// ---- add, query, delete --------------------------------------------------------------

// On a terminal a change asks, and goes ahead on a yes. (Without one:
// data/qpreg/questions.txt.)
TEST_F(QpregTest, ChangesAskOnATerminal) {
    Add({"KEY /v Mode /d old", "KEY /ve /d kept"});
    const std::string before = Listing();
    const std::pair<std::string, std::string> questions[] = {
        {"add KEY /v Mode /d new", "Value Mode exists, overwrite(Yes/No)?"},
        {"delete KEY /v Mode", "Delete the registry value Mode (Yes/No)?"},
        {"delete KEY /va", "Delete all values under the registry key " + kFullKey + " (Yes/No)?"},
        {"delete KEY", "Permanently delete the registry key " + kFullKey + " (Yes/No)?"},
        {"add KEY", "Value (Default) exists, overwrite(Yes/No)?"},
    };
    for (const auto& [line, question] : questions) {
        Result declined = RunOnTerminal(Words(line), "n\n");
        EXPECT_NE(declined.out.find(question), std::string::npos) << declined.out;
        EXPECT_EQ(Listing(), before) << line;
    }
    Result accepted = RunOnTerminal(Words(questions[0].first), "maybe\nyes\n");
    EXPECT_EQ(accepted.status, 0);
    EXPECT_NE(accepted.out.find(kSuccess.substr(0, kSuccess.size() - 1)), std::string::npos);
    EXPECT_EQ(ValueLine("Mode"), "Mode    REG_SZ    new");
    EXPECT_EQ(RunOnTerminal(Words(questions[3].first), "y\n").status, 0);
    EXPECT_EQ(Run({"query", kKey}).status, 1);
}

// ---- export and import ---------------------------------------------------------------------

// (What export writes: data/qpreg/export.txt.)
TEST_F(QpregTest, ImportRestoresWhatExportWrote) {
    Add({"KEY /ve /d root", "KEY /v Path /d C:\\Temp\\\"q\"", "KEY /v Level /t REG_DWORD /d 30",
         "KEY /v Big /t REG_QWORD /d 0x0102030405060708", "KEY /v List /t REG_MULTI_SZ /d a\\0b",
         "KEY /v Home /t REG_EXPAND_SZ /d %HOME%",
         "KEY /v Bin /t REG_BINARY /d "
         "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f2021222324252627",
         "KEY\\Sub /v x /d y"});
    std::string file = env_.path("out.reg");
    // Import restores what export wrote: every type, text beyond ASCII, empty
    // and missing data, hex that goes on over several lines, deeper keys.
    Add({"KEY /v Unicode\u2603 /d \U0001F600\u65e5\u672c\"quoted\"\\back\\", "KEY /v Empty /d ''",
         "KEY /v Bin /t REG_BINARY /d 00ff7f80" + std::string(200, 'e'), "KEY /v NoData /t REG_BINARY",
         "KEY /v None /t REG_NONE", "KEY /v List /t REG_MULTI_SZ /d \u00e5\\0b",
         "KEY\\Sub\\Deeper /v Leaf /d leaf"});
    // A string of odd size keeps its size: the half code unit is a zero byte.
    ASSERT_EQ(Import(Lines({kHeader, "[" + kFullKey + "]", "\"Odd\"=hex(1):41,00,00"})).status, 0);
    std::string before = Listing();
    ASSERT_EQ(Run({"export", kKey, file}).status, 0);
    EXPECT_NE(nltest::ReadFile(file).find(Utf16File("\"Odd\"=hex(1):41,00,00\r\n").substr(2)),
              std::string::npos);
    ASSERT_EQ(Run({"delete", kKey, "/f"}).status, 0);
    Result imported = Run({"import", file});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out, kSuccess);
    EXPECT_EQ(Listing(), before);
    std::string second = env_.path("second.reg");
    ASSERT_EQ(Run({"export", kKey, second}).status, 0);
    EXPECT_EQ(nltest::ReadFile(second), nltest::ReadFile(file));
}

TEST_F(QpregTest, ImportThatFailsWhileApplyingChangesNothing) {
    Add({"KEY /v A /d original"});
    std::string before = Listing();
    // The first changes fit, the large value does not: the database may grow
    // by a few kilobytes only.
    std::string file = File();
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += i ? ",ab" : "ab";
    nltest::WriteFile(file, Lines({kHeader, "[" + kFullKey + "]", "\"A\"=\"changed\"",
                                   "[" + kFullKey + "\\New]", "\"Large\"=hex:" + bytes}));
    struct stat database;
    ASSERT_EQ(stat(env_.registryFile().c_str(), &database), 0);
    std::string limitKiB = std::to_string(database.st_size / 1024 + 8);

    Result result =
        Run({"import", file}, "bash -c 'trap \"\" XFSZ; ulimit -f " + limitKiB + "; exec \"$0\" \"$@\"' ");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("ERROR: ", 0), 0u) << result.err;
    EXPECT_NE(result.err.find("Nothing was imported."), std::string::npos) << result.err;
    EXPECT_EQ(Listing(), before);
    EXPECT_EQ(Run({"import", file}).status, 0);
}

// A .reg file that could block qpreg or feed it without end is refused at
// once: only a regular file, of bounded size, is read or written.
TEST_F(QpregTest, ImportAndExportUseOnlyRegularFilesOfBoundedSize) {
    std::string folder = env_.path("odd");
    ASSERT_EQ(nltest::RunCommand("mkdir '" + folder + "' && cd '" + folder +
                                 "' && mkfifo fifo.reg && ln -s /dev/null null.reg && mkdir folder.reg && "
                                 "truncate -s 67108865 large.reg"),
              0);
    Add({"KEY /v A /d a"});
    std::string before = Listing();
    // Bounded, so that the fault this guards against fails instead of
    // hanging. The device gives nothing, so that a qpreg that read it would
    // not fill the memory either.
    const std::string bounded = "timeout 20 ";
    const std::pair<const char*, const char*> files[] = {
        {"fifo.reg", "it is a FIFO, not a regular file"},
        {"null.reg", "it is a device, not a regular file"},
        {"folder.reg", "it is a folder, not a regular file"},
        {"large.reg", "it is larger than the limit of 67108864 bytes"},
    };
    for (const auto& [name, reason] : files) {
        std::string file = folder + "/" + name;
        Result result = Run({"import", file}, bounded);
        EXPECT_EQ(result.status, 1) << name;
        EXPECT_EQ(result.err, "ERROR: Error opening the file " + file + ": " + reason + "\n") << name;
    }
    Result exported = Run({"export", kKey, folder + "/fifo.reg", "/y"}, bounded);
    EXPECT_EQ(exported.status, 1);
    EXPECT_NE(exported.err.find("it is a FIFO, not a regular file"), std::string::npos) << exported.err;
    EXPECT_EQ(Listing(), before);
}

}  // namespace
