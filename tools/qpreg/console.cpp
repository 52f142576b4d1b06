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

std::wstring ReadAnswerLine() {
    std::string line;
    int c;
    while ((c = getchar()) != EOF && c != '\n') line += static_cast<char>(c);
    if (c == EOF && line.empty()) return L"n";
    std::wstring answer = WideFromUtf8(line);
    while (!answer.empty() && iswspace(answer.back())) answer.pop_back();
    return answer;
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
    if (!isatty(STDIN_FILENO)) return Answer::kNoTerminal;
    for (;;) {
        PrintOut(question + L" ");
        std::wstring answer = ReadAnswerLine();
        if (IsOneOf(answer, L"y", L"yes")) return Answer::kYes;
        if (IsOneOf(answer, L"n", L"no")) return Answer::kNo;
    }
}

int ReportNotConfirmed(Answer answer, const wchar_t* forceOption) {
    if (answer == Answer::kNo) {
        PrintOut(L"The operation was cancelled by the user.\n");
        return 0;
    }
    PrintError(std::wstring(L"ERROR: Confirmation is needed, but standard input is not a terminal.\n") +
               L"Nothing was changed; add " + forceOption + L" to go ahead without asking.\n");
    return 1;
}

}  // namespace qpreg
