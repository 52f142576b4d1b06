// Case folding as Windows compares names that ignore case (registry keys and
// values, profile sections): letters upper-cased one by one, without regard
// to the process's locale.
#pragma once

#include <string>

namespace nlplatform {

// Upper-cases the letters of Latin, Greek and Cyrillic script and of
// full-width Latin; every other character is returned as it is.
char32_t UpperCase(char32_t c);

// Whether two texts are equal once both are upper-cased.
bool EqualIgnoringCase(const std::wstring& a, const std::wstring& b);

}  // namespace nlplatform
