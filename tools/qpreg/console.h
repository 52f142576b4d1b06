// The terminal side of qpreg: text goes out as UTF-8 bytes whatever the
// locale, errors go to stderr, and questions are asked only on a terminal.
#pragma once

#include <string>

namespace qpreg {

void PrintOut(const std::wstring& text);
void PrintError(const std::wstring& text);

enum class Answer { kYes, kNo, kNoTerminal };

// Asks a "(Yes/No)?" question on stdout and reads the answer from stdin,
// repeating until it reads yes or no. End of input counts as no.
Answer AskYesNo(const std::wstring& question);

// Says why nothing was done after an answer other than yes and returns the
// exit status: 0 when the user declined, 1 when there was no terminal to ask
// on (forceOption names the option that skips the question).
int ReportNotConfirmed(Answer answer, const wchar_t* forceOption);

}  // namespace qpreg
