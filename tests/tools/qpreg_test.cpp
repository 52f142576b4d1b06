// qpreg as a user runs it: each case runs the built tool as a process on a
// private registry and checks its output, exit status and the registry left
// behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_env.h"

namespace {

using Args = std::vector<std::string>;

const std::string kKey = "HKLM\\SOFTWARE\\Norlake\\Test";
const std::string kFullKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake\\Test";
const std::string kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
const std::string kSuccess = "The operation completed successfully.\n";

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

    // Runs with a terminal on standard input that answers with the text.
    Result RunOnTerminal(const Args& args, const std::string& answer) {
        Result result;
        result.status = nltest::RunCommand(
            "printf " + ShellQuote(answer) + " | script -qec " + ShellQuote(CommandLine(args)) + " /dev/null",
            &result.out);
        return result;
    }

    // Runs without the right to change the registry database.
    Result RunUnprivileged(const Args& args) {
        if (geteuid() == 0) return Run(args, "setpriv --reuid=65534 --regid=65534 --clear-groups ");
        chmod(env_.registryFile().c_str(), 0444);
        return Run(args);
    }

    void Add(const Args& args) {
        Args command = {"add"};
        command.insert(command.end(), args.begin(), args.end());
        command.push_back("/f");
        Result result = Run(command);
        ASSERT_EQ(result.status, 0) << result.err;
    }

    std::string Listing(const std::string& key = kKey) { return Run({"query", key, "/s"}).out; }

    std::string ValueLine(const std::string& name) {
        Result result = Run({"query", kKey, "/v", name});
        size_t start = result.out.find("\n    ");
        return start == std::string::npos
                   ? ""
                   : result.out.substr(start + 5, result.out.find('\n', start + 1) - start - 5);
    }

    nltest::TestEnv env_;
};

// ---- Command line ------------------------------------------------------------

TEST_F(QpregTest, HelpDescribesEveryOperation) {
    for (const Args& args : {Args{"--help"}, Args{"/?"}, Args{"-?"}}) {
        Result result = Run(args);
        EXPECT_EQ(result.status, 0);
        for (const char* operation : {"query", "add", "delete", "export", "import"})
            EXPECT_NE(result.out.find(std::string("qpreg ") + operation), std::string::npos) << operation;
        EXPECT_NE(result.out.find("NL_REGISTRY_FILE"), std::string::npos);
    }
    Result add = Run({"add", "/?"});
    EXPECT_EQ(add.status, 0);
    EXPECT_NE(add.out.find("REG_MULTI_SZ"), std::string::npos);
}

TEST_F(QpregTest, MalformedCommandLinesAreInvalidSyntax) {
    const Args cases[] = {
        {},
        {"frobnicate"},
        {"query"},
        {"query", kKey, "/x"},
        {"query", kKey, "/v"},
        {"query", kKey, "/v", "a", "/ve"},
        {"add", kKey, "/v", "a", "/v", "b"},
        {"add", kKey, "/t", "REG_MULTI_SZ", "/s", "ab", "/d", "x"},
        {"delete", kKey, "/v", "a", "/va"},
        {"export", kKey},
        {"import"},
        {"import", "a.reg", "extra"},
    };
    for (const Args& args : cases) {
        Result result = Run(args);
        EXPECT_EQ(result.status, 1) << CommandLine(args);
        EXPECT_EQ(result.err.rfind("ERROR: Invalid syntax.\n", 0), 0u)
            << CommandLine(args) << ": " << result.err;
        EXPECT_EQ(result.out, "");
    }
}

TEST_F(QpregTest, KeysOutsideHklmAreInvalidKeyNames) {
    for (const char* key : {"HKCU\\Software", "HKEY_CURRENT_USER\\Software", "SOFTWARE\\Norlake", "HKLMX",
                            "HKLM\\SOFTWARE\\\\Norlake"}) {
        Result result = Run({"add", key, "/f"});
        EXPECT_EQ(result.status, 1) << key;
        EXPECT_EQ(result.err.rfind("ERROR: Invalid key name.\n", 0), 0u) << key;
    }
    EXPECT_EQ(Run({"delete", "HKLM", "/f"}).err.rfind("ERROR: Invalid key name.\n", 0), 0u);
}

TEST_F(QpregTest, OptionsStartWithSlashOrDashInAnyCase) {
    Add({"hkey_local_machine\\SOFTWARE\\Norlake\\Test", "-V", "Level", "-T", "reg_dword", "-D", "7"});
    Result result = Run({"QUERY", kKey, "/V", "level"});
    EXPECT_EQ(result.status, 0);
    // The name is shown as asked for.
    EXPECT_EQ(result.out, "\n" + kFullKey + "\n    level    REG_DWORD    0x7\n\n");
}

// ---- add and the data of each type -------------------------------------------------

TEST_F(QpregTest, AddStoresEachTypeAsQueryShowsIt) {
    struct Case {
        const char* type;
        const char* data;
        const char* shown;
    };
    const Case cases[] = {
        {"REG_SZ", "worker=1;indexer=0", "worker=1;indexer=0"},
        {"REG_SZ",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x98\x83 \xF0\x9F\x98\x80",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x98\x83 \xF0\x9F\x98\x80"},
        {"REG_SZ", "", ""},
        {"REG_EXPAND_SZ", "%HOME%\\logs", "%HOME%\\logs"},
        {"REG_MULTI_SZ", "a\\0b\\0c", "a\\0b\\0c"},
        {"REG_MULTI_SZ", "fax\\0mail\\0", "fax\\0mail"},
        {"REG_DWORD", "30", "0x1e"},
        {"REG_DWORD", "0xFFFFFFFF", "0xffffffff"},
        {"REG_DWORD", "0", "0x0"},
        {"REG_QWORD", "0x100000000", "0x100000000"},
        {"REG_QWORD", "18446744073709551615", "0xffffffffffffffff"},
        {"REG_BINARY", "fe340ead", "FE340EAD"},
        {"REG_BINARY", "", ""},
        {"REG_NONE", "ab", "610062000000"},
    };
    for (const Case& c : cases) {
        Add({kKey, "/v", "V", "/t", c.type, "/d", c.data});
        EXPECT_EQ(ValueLine("V"), std::string("V    ") + c.type + "    " + c.shown)
            << c.type << " " << c.data;
    }
}

TEST_F(QpregTest, AddReportsSuccessAndCreatesMissingKeys) {
    Result result = Run({"add", kKey + "\\Deep\\Deeper", "/f"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kSuccess);
    EXPECT_EQ(Run({"query", kKey + "\\Deep\\Deeper"}).status, 0);
}

TEST_F(QpregTest, MultiStringSeparatorCanBeChosen) {
    Add({kKey, "/v", "List", "/t", "REG_MULTI_SZ", "/s", ",", "/d", "one,two"});
    EXPECT_EQ(ValueLine("List"), "List    REG_MULTI_SZ    one\\0two");
}

TEST_F(QpregTest, DataWithoutValueNameSetsTheDefaultValue) {
    Add({kKey, "/d", "fallback"});
    Add({kKey, "/ve", "/t", "REG_EXPAND_SZ", "/d", "%PATH%"});
    Result result = Run({"query", kKey, "/ve"});
    EXPECT_EQ(result.out, "\n" + kFullKey + "\n    (Default)    REG_EXPAND_SZ    %PATH%\n\n");
}

TEST_F(QpregTest, DataThatDoesNotFitTheTypeIsRejected) {
    const Args cases[] = {
        {"/t", "REG_DWORD", "/d", "abc"},         {"/t", "REG_DWORD", "/d", "-1"},
        {"/t", "REG_DWORD", "/d", "4294967296"},  {"/t", "REG_DWORD", "/d", "0x1FFFFFFFF"},
        {"/t", "REG_DWORD", "/d", "0x"},          {"/t", "REG_DWORD", "/d", ""},
        {"/t", "REG_DWORD", "/d", "1.5"},         {"/t", "REG_DWORD"},
        {"/t", "REG_QWORD", "/d", "-5"},          {"/t", "REG_QWORD", "/d", "18446744073709551616"},
        {"/t", "REG_BINARY", "/d", "xyz"},        {"/t", "REG_BINARY", "/d", "0x12"},
        {"/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"}, {"/t", "REG_FOO", "/d", "1"},
    };
    for (const Args& options : cases) {
        Args args = {"add", kKey, "/v", "V", "/f"};
        args.insert(args.end(), options.begin(), options.end());
        Result result = Run(args);
        EXPECT_EQ(result.status, 1) << CommandLine(args);
        EXPECT_EQ(result.err.rfind("ERROR: ", 0), 0u) << CommandLine(args);
        EXPECT_EQ(result.out, "");
    }
    // Nothing was created on the way.
    EXPECT_EQ(Run({"query", kKey}).err, kNotFound);
}

TEST_F(QpregTest, OverwritingNeedsConfirmationOrForce) {
    Add({kKey, "/v", "Mode", "/d", "old"});
    Result refused = Run({"add", kKey, "/v", "Mode", "/d", "new"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("not a terminal"), std::string::npos) << refused.err;
    EXPECT_EQ(ValueLine("Mode"), "Mode    REG_SZ    old");

    Result declined = RunOnTerminal({"add", kKey, "/v", "Mode", "/d", "new"}, "n\n");
    EXPECT_NE(declined.out.find("Value Mode exists, overwrite(Yes/No)?"), std::string::npos) << declined.out;
    EXPECT_EQ(ValueLine("Mode"), "Mode    REG_SZ    old");

    Result accepted = RunOnTerminal({"add", kKey, "/v", "Mode", "/d", "new"}, "maybe\nyes\n");
    EXPECT_EQ(accepted.status, 0);
    EXPECT_NE(accepted.out.find(kSuccess.substr(0, kSuccess.size() - 1)), std::string::npos);
    EXPECT_EQ(ValueLine("Mode"), "Mode    REG_SZ    new");
}

// ---- query ---------------------------------------------------------------------

TEST_F(QpregTest, QueryListsValuesThenSubkeysAsFullPaths) {
    Add({kKey, "/ve", "/d", "root"});
    Add({kKey, "/v", "Name", "/d", "value"});
    Add({kKey + "\\Alpha"});
    Add({kKey + "\\Beta", "/v", "Hidden", "/d", "below"});
    Result result = Run({"query", kKey});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\n" + kFullKey +
                              "\n"
                              "    (Default)    REG_SZ    root\n"
                              "    Name    REG_SZ    value\n"
                              "\n" +
                              kFullKey + "\\Alpha\n" + kFullKey + "\\Beta\n\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(QpregTest, QueryOfAnEmptyKeyShowsOnlyItsPath) {
    Add({kKey});
    EXPECT_EQ(Run({"query", kKey}).out, "\n" + kFullKey + "\n");
    EXPECT_EQ(Run({"query", kKey, "/ve"}).out,
              "\n" + kFullKey + "\n    (Default)    REG_SZ    (value not set)\n\n");
}

TEST_F(QpregTest, RecursiveQueryListsTheWholeTree) {
    Add({kKey, "/v", "Top", "/t", "REG_DWORD", "/d", "1"});
    Add({kKey + "\\Child", "/v", "Mid", "/t", "REG_BINARY", "/d", "00ff"});
    Add({kKey + "\\Child\\Grandchild"});
    Result result = Run({"query", kKey, "/s"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "\n" + kFullKey + "\n    Top    REG_DWORD    0x1\n\n" + kFullKey +
                              "\\Child\n    Mid    REG_BINARY    00FF\n\n" + kFullKey +
                              "\\Child\\Grandchild\n\n");
}

TEST_F(QpregTest, RecursiveValueSearchCountsMatches) {
    Add({kKey, "/v", "Level", "/t", "REG_DWORD", "/d", "1"});
    Add({kKey + "\\A", "/v", "Other", "/d", "x"});
    Add({kKey + "\\A\\B", "/v", "LEVEL", "/t", "REG_DWORD", "/d", "2"});
    Result found = Run({"query", kKey, "/v", "level", "/s"});
    EXPECT_EQ(found.status, 0);
    EXPECT_EQ(found.out, "\n" + kFullKey + "\n    level    REG_DWORD    0x1\n\n" + kFullKey +
                             "\\A\\B\n    level    REG_DWORD    0x2\n\n"
                             "End of search: 2 match(es) found.\n");
    Result none = Run({"query", kKey, "/v", "Absent", "/s"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "\nEnd of search: 0 match(es) found.\n");
}

TEST_F(QpregTest, QueryOfMissingKeyOrValueFails) {
    Add({kKey, "/v", "Present", "/d", "x"});
    for (const Args& args :
         {Args{"query", kKey + "\\Missing"}, Args{"query", kKey, "/v", "Missing"},
          Args{"query", kKey + "\\Missing", "/ve"}, Args{"query", kKey + "\\Missing", "/s"}}) {
        Result result = Run(args);
        EXPECT_EQ(result.status, 1) << CommandLine(args);
        EXPECT_EQ(result.err, kNotFound) << CommandLine(args);
        EXPECT_EQ(result.out, "") << CommandLine(args);
    }
}

// ---- delete --------------------------------------------------------------------

TEST_F(QpregTest, DeleteRemovesOneValueTheDefaultOrAllValues) {
    Add({kKey, "/ve", "/d", "default"});
    Add({kKey, "/v", "A", "/d", "a"});
    Add({kKey, "/v", "B", "/d", "b"});
    Add({kKey + "\\Sub", "/v", "C", "/d", "c"});

    Result result = Run({"delete", kKey, "/v", "a", "/f"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kSuccess);
    EXPECT_EQ(Run({"query", kKey, "/v", "A"}).status, 1);
    EXPECT_EQ(Run({"query", kKey, "/v", "B"}).status, 0);

    EXPECT_EQ(Run({"delete", kKey, "/ve", "/f"}).status, 0);
    EXPECT_EQ(ValueLine(""), "(Default)    REG_SZ    (value not set)");

    EXPECT_EQ(Run({"delete", kKey, "/va", "/f"}).status, 0);
    EXPECT_EQ(Run({"query", kKey}).out, "\n" + kFullKey + "\n" + kFullKey + "\\Sub\n\n");
    EXPECT_EQ(Run({"query", kKey + "\\Sub", "/v", "C"}).status, 0);
}

TEST_F(QpregTest, DeleteOfAKeyRemovesItsSubtree) {
    Add({kKey + "\\Sub\\Leaf", "/v", "X", "/d", "x"});
    Add({"HKLM\\SOFTWARE\\Norlake\\Sibling"});
    Result result = Run({"delete", kKey, "/f"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, kSuccess);
    EXPECT_EQ(Run({"query", kKey}).status, 1);
    EXPECT_EQ(Run({"query", "HKLM\\SOFTWARE\\Norlake"}).out,
              "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Norlake\\Sibling\n\n");
}

TEST_F(QpregTest, DeleteAsksFirstAndRefusesWithoutATerminal) {
    Add({kKey, "/v", "A", "/d", "a"});
    std::string before = Listing();
    for (const Args& args :
         {Args{"delete", kKey}, Args{"delete", kKey, "/v", "A"}, Args{"delete", kKey, "/va"}}) {
        Result result = Run(args);
        EXPECT_EQ(result.status, 1) << CommandLine(args);
        EXPECT_NE(result.err.find("/f"), std::string::npos) << result.err;
    }
    EXPECT_EQ(Listing(), before);

    Result declined = RunOnTerminal({"delete", kKey, "/v", "A"}, "n\n");
    EXPECT_NE(declined.out.find("Delete the registry value A (Yes/No)?"), std::string::npos) << declined.out;
    EXPECT_EQ(Listing(), before);

    Result accepted = RunOnTerminal({"delete", kKey}, "y\n");
    EXPECT_NE(accepted.out.find("Permanently delete the registry key " + kFullKey + " (Yes/No)?"),
              std::string::npos)
        << accepted.out;
    EXPECT_EQ(accepted.status, 0);
    EXPECT_EQ(Run({"query", kKey}).status, 1);
}

TEST_F(QpregTest, DeleteOfMissingKeyOrValueFails) {
    Add({kKey});
    for (const Args& args :
         {Args{"delete", kKey + "\\Missing", "/f"}, Args{"delete", kKey, "/v", "Missing", "/f"}}) {
        Result result = Run(args);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, kNotFound);
    }
}

// ---- export ----------------------------------------------------------------------

TEST_F(QpregTest, ExportWritesARegistryEditorFile) {
    Add({kKey, "/ve", "/d", "root"});
    Add({kKey, "/v", "Path", "/d", "C:\\Temp\\\"q\""});
    Add({kKey, "/v", "Level", "/t", "REG_DWORD", "/d", "30"});
    Add({kKey, "/v", "Big", "/t", "REG_QWORD", "/d", "0x0102030405060708"});
    Add({kKey, "/v", "List", "/t", "REG_MULTI_SZ", "/d", "a\\0b"});
    Add({kKey, "/v", "Home", "/t", "REG_EXPAND_SZ", "/d", "%HOME%"});
    std::string blob;
    for (int i = 0; i < 40; ++i)
        blob += "0123456789abcdef"[i / 16] + std::string(1, "0123456789abcdef"[i % 16]);
    Add({kKey, "/v", "Blob", "/t", "REG_BINARY", "/d", blob});
    Add({kKey + "\\Sub", "/v", "x", "/d", "y"});

    std::string file = env_.path("out.reg");
    Result result = Run({"export", kKey, file});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, kSuccess);
    EXPECT_EQ(
        nltest::ReadFile(file),
        Utf16File("Windows Registry Editor Version 5.00\r\n"
                  "\r\n"
                  "[" +
                  kFullKey +
                  "]\r\n"
                  "@=\"root\"\r\n"
                  "\"Path\"=\"C:\\\\Temp\\\\\\\"q\\\"\"\r\n"
                  "\"Level\"=dword:0000001e\r\n"
                  "\"Big\"=hex(b):08,07,06,05,04,03,02,01\r\n"
                  "\"List\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                  "\"Home\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\r\n"
                  "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
                  "  16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27\r\n"
                  "\r\n"
                  "[" +
                  kFullKey +
                  "\\Sub]\r\n"
                  "\"x\"=\"y\"\r\n"
                  "\r\n"));
}

TEST_F(QpregTest, ExportOverwritesAFileOnlyWhenAllowed) {
    Add({kKey, "/v", "A", "/d", "a"});
    std::string file = env_.path("existing.reg");
    nltest::WriteFile(file, "keep me");
    Result refused = Run({"export", kKey, file});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("/y"), std::string::npos) << refused.err;
    EXPECT_EQ(nltest::ReadFile(file), "keep me");

    EXPECT_EQ(Run({"export", kKey, file, "/y"}).status, 0);
    EXPECT_EQ(nltest::ReadFile(file).substr(0, 4), std::string("\xFF\xFEW\0", 4));
}

TEST_F(QpregTest, ExportOfMissingKeyFailsWithoutAFile) {
    std::string file = env_.path("none.reg");
    Result result = Run({"export", kKey, file});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, kNotFound);
    EXPECT_FALSE(nltest::FileExists(file));
}

// ---- import --------------------------------------------------------------------

TEST_F(QpregTest, ExportThenImportRestoresValuesTypesAndBytes) {
    Add({kKey, "/ve", "/d",
         "d\xC3\xA9"
         "faut"});
    Add({kKey, "/v", "Unicode \xE2\x98\x83", "/d",
         "\xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC \"quoted\" \\back\\"});
    Add({kKey, "/v", "Empty", "/d", ""});
    Add({kKey, "/v", "Dword", "/t", "REG_DWORD", "/d", "4294967295"});
    Add({kKey, "/v", "Qword", "/t", "REG_QWORD", "/d", "1"});
    Add({kKey, "/v", "Binary", "/t", "REG_BINARY", "/d", "00ff7f80" + std::string(200, 'e')});
    Add({kKey, "/v", "NoData", "/t", "REG_BINARY"});
    Add({kKey, "/v", "None", "/t", "REG_NONE"});
    Add({kKey, "/v", "Multi", "/t", "REG_MULTI_SZ", "/d", "\xC3\xA5\\0b"});
    Add({kKey, "/v", "Expand", "/t", "REG_EXPAND_SZ", "/d", "%TMP%\\x"});
    Add({kKey + "\\Sub\\Deeper", "/v", "Leaf", "/d", "leaf"});
    std::string before = Listing();
    std::string first = env_.path("first.reg");
    ASSERT_EQ(Run({"export", kKey, first}).status, 0);

    ASSERT_EQ(Run({"delete", kKey, "/f"}).status, 0);
    Result imported = Run({"import", first});
    EXPECT_EQ(imported.status, 0) << imported.err;
    EXPECT_EQ(imported.out, kSuccess);

    EXPECT_EQ(Listing(), before);
    std::string second = env_.path("second.reg");
    ASSERT_EQ(Run({"export", kKey, second}).status, 0);
    EXPECT_EQ(nltest::ReadFile(second), nltest::ReadFile(first));
}

TEST_F(QpregTest, ImportReadsUtf8AndRegedit4Files) {
    const std::string body =
        "\r\n[" + kFullKey + "]\r\n\"Name\"=\"caf\xC3\xA9\"\r\n\"Count\"=dword:00000010\r\n";
    const std::string files[] = {
        "Windows Registry Editor Version 5.00\r\n" + body,
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n" + body,
        "REGEDIT4\n" + body + "\"Multi\"=hex(7):61,00,62,00,00\n",
    };
    for (const std::string& content : files) {
        Run({"delete", kKey, "/f"});
        std::string file = env_.path("utf8.reg");
        nltest::WriteFile(file, content);
        Result result = Run({"import", file});
        EXPECT_EQ(result.status, 0) << result.err;
        EXPECT_EQ(ValueLine("Name"), "Name    REG_SZ    caf\xC3\xA9");
        EXPECT_EQ(ValueLine("Count"), "Count    REG_DWORD    0x10");
    }
    // In a REGEDIT4 file string data in hex form is ANSI text.
    EXPECT_EQ(ValueLine("Multi"), "Multi    REG_MULTI_SZ    a\\0b");
}

TEST_F(QpregTest, ImportDeletesKeysAndValuesAndReadsContinuedLines) {
    Add({kKey + "\\Doomed\\Child", "/v", "X", "/d", "x"});
    Add({kKey, "/v", "Stale", "/d", "old"});
    Add({kKey, "/v", "Kept", "/d", "kept"});
    std::string file = env_.path("changes.reg");
    nltest::WriteFile(file, Utf16File("Windows Registry Editor Version 5.00\r\n"
                                      "\r\n"
                                      "; a comment\r\n"
                                      "[-" +
                                      kFullKey +
                                      "\\Doomed]\r\n"
                                      "[-" +
                                      kFullKey +
                                      "\\NeverExisted]\r\n"
                                      "\r\n"
                                      "[" +
                                      kFullKey +
                                      "]\r\n"
                                      "\"Stale\"=-\r\n"
                                      "\"Gone\" = -\r\n"
                                      "@ = \"new default\"\r\n"
                                      "\"Bytes\"=hex:01,02,\\\r\n"
                                      "  03,04 ; trailing comment\r\n"
                                      "\"Typed\"=hex(b):2a,00,00,00,00,00,00,00\r\n"));
    Result result = Run({"import", file});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(Run({"query", kKey}).out, "\n" + kFullKey +
                                            "\n"
                                            "    Kept    REG_SZ    kept\n"
                                            "    (Default)    REG_SZ    new default\n"
                                            "    Bytes    REG_BINARY    01020304\n"
                                            "    Typed    REG_QWORD    0x2a\n\n");
}

TEST_F(QpregTest, MalformedFilesAreRejectedWithTheLineAndChangeNothing) {
    struct Case {
        std::string body;  // after the header line
        int line;
    };
    const std::string key = "[" + kFullKey + "]\n";
    const Case cases[] = {
        {key + "\"A\"=\"changed\"\n\"B\"=dword:xyz\n", 4},
        {key + "\"A\"=\"changed\"\n\"B\"=dword:123456789\n", 4},
        {key + "\"A\"=\"unterminated\n", 3},
        {key + "\"A\"=\"bad \\q escape\"\n", 3},
        {key + "\"A\"=unknown:1\n", 3},
        {key + "\"A\"\n", 3},
        {"\"A\"=\"before any key\"\n", 2},
        {"[" + kFullKey + "\n", 2},
        {"[HKEY_CURRENT_USER\\Software]\n", 2},
        {"[-" + kFullKey + "]\n\"A\"=\"in a deleted key\"\n", 3},
        {key + "\"A\"=hex:01,02,\\\n  03,zz\n", 4},
        {key + "\"A\"=hex:01,02,\\\n", 3},
        {key + "\"A\"=hex(2):41,00,42\n", 3},
        {key + "\"A\"=hex:01 02\n", 3},
        {key + "just text\n", 3},
    };
    Add({kKey, "/v", "A", "/d", "original"});
    std::string before = Listing();
    std::string file = env_.path("bad.reg");
    for (const Case& c : cases) {
        nltest::WriteFile(file, "Windows Registry Editor Version 5.00\n" + c.body);
        Result result = Run({"import", file});
        EXPECT_EQ(result.status, 1) << c.body;
        EXPECT_EQ(
            result.err.rfind("ERROR: Malformed line " + std::to_string(c.line) + " in " + file + ": ", 0), 0u)
            << c.body << " -> " << result.err;
        EXPECT_EQ(Listing(), before) << c.body;
    }
    nltest::WriteFile(file, "Windows Registry Editor Version 4.00\n" + key);
    EXPECT_EQ(Run({"import", file}).err.rfind("ERROR: Malformed line 1 in ", 0), 0u);
}

TEST_F(QpregTest, ImportThatFailsWhileApplyingChangesNothing) {
    Add({kKey, "/v", "A", "/d", "original"});
    std::string before = Listing();
    // The first changes fit, the large value does not: the database may grow
    // by a few kilobytes only.
    std::string file = env_.path("large.reg");
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += i ? ",ab" : "ab";
    nltest::WriteFile(file, "Windows Registry Editor Version 5.00\n[" + kFullKey + "]\n\"A\"=\"changed\"\n[" +
                                kFullKey + "\\New]\n\"Large\"=hex:" + bytes + "\n");
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

TEST_F(QpregTest, ImportOfMissingFileFails) {
    Result result = Run({"import", env_.path("absent.reg")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("ERROR: ", 0), 0u);
}

// ---- access ----------------------------------------------------------------------

TEST_F(QpregTest, ChangesWithoutWriteAccessAreDeniedAndChangeNothing) {
    Add({kKey, "/v", "A", "/d", "a"});
    std::string file = env_.path("import.reg");
    nltest::WriteFile(file, "Windows Registry Editor Version 5.00\n[" + kFullKey + "]\n\"B\"=\"b\"\n");
    std::string before = Listing();

    for (const Args& args : {Args{"add", kKey, "/v", "A", "/d", "new", "/f"}, Args{"delete", kKey, "/f"},
                             Args{"delete", kKey, "/va", "/f"}, Args{"import", file}}) {
        Result result = RunUnprivileged(args);
        EXPECT_EQ(result.status, 1) << CommandLine(args);
        EXPECT_EQ(result.err.rfind("ERROR: Access is denied.\n", 0), 0u)
            << CommandLine(args) << ": " << result.err;
    }
    Result read = RunUnprivileged({"query", kKey, "/s"});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, before);
    EXPECT_EQ(Listing(), before);
}

}  // namespace
