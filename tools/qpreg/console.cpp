#include "console.h"

#include <stdio.h>
#include <unistd.h>

#include <cwctype>

#include "text_encoding.h"

namespace qpreg {
namespace {

void WriteUtf8(FILE* stream, const std::wstring& text) {
    std::string bytes = Utf8FromWide(text);
    fwrite(bytes.data(), 1, bytes.size(), stream);
    fflush(stream);
}

// One line of standard input without its line end and trailing blanks;
// false at the end of input.
bool ReadAnswerLine(std::wstring* answer) {
    std::string line;
    int c;
    while ((c = getchar()) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) return false;
    *answer = WideFromUtf8(line);
    while (!answer->empty() && iswspace(answer->back())) answer->pop_back();
    return true;
}

// Whether standard input holds anything to read; waits for it, as reading
// the answer would.
bool InputPending() {
    int c = getchar();
    if (c == EOF) return false;
    ungetc(c, stdin);
    return true;
}

bool IsOneOf(const std::wstring& answer, const wchar_t* shortForm, const wchar_t* longForm) {
    std::wstring lower;
    for (wchar_t c : answer) lower += static_cast<wchar_t>(towlower(c));
    return lower == shortForm || lower == longForm;
}

}  // namespace

void PrintOut(const std::wstring& text) { WriteUtf8(stdout, text); }

void PrintError(const std::wstring& text) { WriteUtf8(stderr, text); }

Answer AskYesNo(const std::wstring& question) {
    const bool terminal = isatty(STDIN_FILENO);
    if (!terminal && !InputPending()) return Answer::kNoAnswer;
    for (;;) {
        PrintOut(question + L" ");
        std::wstring answer;
        bool read = ReadAnswerLine(&answer);
        // A piped answer is not echoed: end the question's line.
        if (!terminal) PrintOut(L"\n");
        if (!read) return terminal ? Answer::kNo : Answer::kNoAnswer;
        if (IsOneOf(answer, L"y", L"yes")) return Answer::kYes;
        if (IsOneOf(answer, L"n", L"no")) return Answer::kNo;
    }
}

int ReportNotConfirmed(Answer answer, const wchar_t* forceOption) {
    if (answer == Answer::kNo) {
        PrintOut(L"The operation was cancelled by the user.\n");
        return 0;
    }
    PrintError(std::wstring(L"ERROR: Confirmation is needed, but standard input gave no yes or no.\n") +
               L"Nothing was changed; add " + forceOption + L" to go ahead without asking.\n");
    return 1;
}

}  // namespace qpreg
