// A command-line tool's session kept as data: a transcript of command lines
// and what each gives. A tool's test derives from Transcript for its own
// words and tags.
//
// The transcripts of qpreg sessions (tests/data/qpreg), one case each, run by
// tests/tools/qpreg_test.cpp on a fresh private registry; qpdebug's and
// qpdbgview's are written the same way. A line is:
//
//   # ...          a comment
//   + LINE         runs "qpreg add LINE /f" and expects success
//   $ LINE         runs "qpreg LINE" (a $ alone: without arguments); the lines
//                  after it say what it gives
//   % WORDS        the next $ line runs after these shell words (an assignment,
//                  a wrapper such as timeout)
//   & TEXT         the next $ line runs on a terminal that answers TEXT (its
//                  escapes read); standard error shows with standard output
//   @ SHELL        runs in the case's folder, $TOOL naming the tool; expects exit 0
//   !              the next $ line runs without the right to change the registry
//   | TEXT         the next $ line's standard input, its escapes read (as for ^)
//   < TEXT         a line of FILE, written before the next $ line
//   ^ TEXT         a part of FILE as it stands, no line end added, its escapes read:
//                  \r, \n, \0, \\ and \xHH
//   > TEXT         a line of its standard output (all of them, in order; none
//                  means no output); a ¶ at the end marks trailing blanks
//   : TEXT         standard output holds TEXT (then the rest of it is not compared)
//   ? N [TEXT]     the exit status (and the start of standard error) of this
//                  and every later $ line, until the next ? line; 0 at first
//   ~ TEXT         standard error holds TEXT
//   - TEXT         standard error does not hold TEXT
//   * TEXT         a line of FILE as the last $ line left it, read as UTF-16LE with a
//                  byte-order mark and CRLF line ends (all of them, in order)
//   :              (alone) standard output is not compared
//   = LINE         query /v shows the value as LINE (its name is the text
//                  before the first four blanks; (Default) is the unnamed one)
//
// In LINE words are split at blanks: KEY stands for HKLM\SOFTWARE\Norlake\Test,
// FILE for a file in the case's folder, '' for an empty argument. DIR/ anywhere
// in a line stands for the case's folder.
#pragma once

namespace nltest {

struct Outcome {
    int status = 0;
    std::string out, err;
};

// How a $ line runs, as the lines before it ask.
struct How {
    std::string input, prefix, answer;
    bool terminal = false, unprivileged = false;
};

inline std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class Transcript {
  public:
    Transcript(const TestEnv& env, std::string tool) : env_(env), tool_(std::move(tool)) {}
    virtual ~Transcript() = default;

    // Runs the tool with the arguments.
    Outcome Run(const std::vector<std::string>& args, How how = How()) {
        std::string line = tool_;
        for (const std::string& arg : args) line += " " + ShellQuote(arg);
        if (how.unprivileged && geteuid() == 0)
            how.prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        if (how.unprivileged && geteuid() != 0) chmod(env_.registryFile().c_str(), 0444);
        if (how.terminal) line = "script -qec " + ShellQuote(line) + " /dev/null", how.input = how.answer;
        Outcome result;
        std::string errFile = env_.path("stderr.txt");
        result.status = RunCommand(
            "printf " + ShellQuote(how.input) + " | " + how.prefix + line + " 2>" + errFile, &result.out);
        result.err = how.terminal ? result.out : ReadFile(errFile);  // a terminal shows both
        if (how.unprivileged && geteuid() != 0) chmod(env_.registryFile().c_str(), 0644);
        return result;
    }

    std::string File() const { return env_.path("file.reg"); }

    // Plays tests/data/<relative>; a failure names its line.
    void Play(const std::string& relative) {
        std::istringstream transcript(ReadFile(NL_TEST_DATA_DIR "/" + relative));
        ASSERT_FALSE(transcript.str().empty()) << relative;
        int status = 0, number = 0;
        std::string errStart, command, out, file, written;
        bool ran = false;
        How how;
        Outcome result;
        auto check = [&] {
            if (!ran) return;
            EXPECT_EQ(result.status, status) << command << ": " << result.err;
            EXPECT_EQ(result.err.rfind(errStart, 0), 0u) << command << ": " << result.err;
            EXPECT_EQ(result.out, out) << command;
            std::string utf16 = "\xFF\xFE";  // UTF-16LE with a byte-order mark
            for (char c : written) utf16 += std::string{c, '\0'};
            EXPECT_EQ(written.empty() ? utf16 : ReadFile(File()), utf16) << command;  // when a * line asks
            ran = false, written.clear();
        };
        for (std::string line; std::getline(transcript, line);) {
            SCOPED_TRACE(relative + ":" + std::to_string(++number));
            for (const auto& [name, value] : names_)
                for (size_t at; (at = line.find(name)) != std::string::npos;)
                    line.replace(at, name.size(), value);
            std::string tag = line.substr(0, 1), text = line.size() > 2 ? line.substr(2) : "";
            // A pilcrow ends a line whose blanks at its end count.
            size_t pilcrow = text.rfind("\u00b6");
            if (pilcrow != std::string::npos && pilcrow + 2 == text.size()) text.resize(pilcrow);
            if (tag == ">") {
                out += text + "\n";
            } else if (tag == "<") {
                file += text + "\n";
            } else if (tag == "^") {
                file += Unescape(text);
            } else if (tag == "*") {
                written += text + "\r\n";
            } else if (tag == "!") {
                how.unprivileged = true;
            } else if (tag == "|") {
                how.input = Unescape(text);
            } else if (tag == "%") {
                how.prefix = text + " ";
            } else if (tag == "&") {
                how.terminal = true, how.answer = Unescape(text);
            } else if (tag == ":") {
                EXPECT_NE(Shown(result.out).find(text), std::string::npos) << command << ": " << result.out;
                out = result.out;  // the rest is not compared
            } else if (tag == "~" || tag == "-") {
                EXPECT_EQ(result.err.find(text) != std::string::npos, tag == "~")
                    << command << ": " << result.err;
            } else if (tag != "#" && tag != "") {
                check();
                if (tag == "$") {
                    command = text, out.clear(), ran = true;
                    if (!file.empty()) WriteFile(File(), file);
                    file.clear();
                    result = Run(Words(text), how);
                    how = How();
                } else if (tag == "?") {
                    size_t blank = text.find(' ');
                    status = std::stoi(text),
                    errStart = blank == std::string::npos ? "" : text.substr(blank + 1);
                } else if (tag == "@") {
                    EXPECT_EQ(RunCommand("cd " + ShellQuote(env_.path("")) + " && TOOL=" + ShellQuote(tool_) +
                                         " && " + text),
                              0)
                        << text;
                } else if (!Extra(tag, text)) {
                    ADD_FAILURE() << "unknown line: " << line;
                }
            }
        }
        check();
    }

  protected:
    // A $ line's arguments: its words, split at blanks, '' an empty one.
    virtual std::vector<std::string> Words(const std::string& line) {
        std::vector<std::string> args;
        std::istringstream words(line);
        for (std::string word; words >> word;) args.push_back(word == "''" ? "" : word);
        return args;
    }
    // A tag of the tool's own; false when it is unknown.
    virtual bool Extra(const std::string& /*tag*/, const std::string& /*text*/) { return false; }
    // Standard output as a ":" line reads it.
    virtual std::string Shown(const std::string& out) { return out; }

    const TestEnv& env_;
    std::string tool_;
    // Replaced in every line before it is read: DIR/ is the case's folder.
    std::vector<std::pair<std::string, std::string>> names_{{"DIR/", env_.path("")}};
};

}  // namespace nltest
