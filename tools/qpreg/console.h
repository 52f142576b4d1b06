// The terminal side of qpreg: text goes out as UTF-8 bytes whatever the
// locale, errors go to stderr, and questions are answered on standard input,
// typed on a terminal or piped in by a script (echo y | qpreg delete ...).
#pragma once

#include <string>

namespace qpreg {

void PrintOut(const std::wstring& text);
void PrintError(const std::wstring& text);

enum class Answer { kYes, kNo, kNoAnswer };

// Asks a "(Yes/No)?" question on stdout and reads the answer from stdin,
// repeating until it reads yes or no (y, yes, n, no in any case). On a
// terminal, the end of input counts as no. Input that is not a terminal is
// asked only when it holds something: when it ends before a yes or a no, or
// holds nothing at all (/dev/null, a closed pipe), there is no answer.
Answer AskYesNo(const std::wstring& question);

// Says why nothing was done after an answer other than yes and returns the
// exit status: 0 when the user declined, 1 when no answer came (forceOption
// names the option that skips the question).
int ReportNotConfirmed(Answer answer, const wchar_t* forceOption);

}  // namespace qpreg
