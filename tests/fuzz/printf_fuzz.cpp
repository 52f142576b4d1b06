// The counted formatting engine with any format, in both widths. The
// arguments come from slots that are safe whatever reads them: each points at
// text terminated in both widths, and read as a number it is just a number;
// past the slots every argument reads zero. Whatever the format, the length
// measured, the full output and an output cut short must agree, and the work
// stays bounded (libFuzzer's time limit catches the rest).
#include <windows.h>

#include <string.h>

#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

alignas(8) const wchar_t kSlotText[] = L"slot \u00e9\u20ac\U0001F600 text";

template <typename Char>
int Format(Char* buffer, size_t count, const Char* format, const ULONG_PTR* slots, size_t slotCount) {
    if constexpr (sizeof(Char) == 1)
        return NlFormatSlots(buffer, count, format, slots, slotCount);
    else
        return NlFormatSlotsW(buffer, count, format, slots, slotCount);
}

template <typename Char>
void CheckAgreement(const std::basic_string<Char>& format, const ULONG_PTR* slots, size_t slotCount) {
    constexpr size_t kCut = 48;
    constexpr int kFullLimit = 1 << 16;
    int measured = Format<Char>(nullptr, 0, format.c_str(), slots, slotCount);
    Char cut[kCut];
    int cutResult = Format<Char>(cut, kCut, format.c_str(), slots, slotCount);
    if (measured < 0 || measured > kFullLimit) return;  // beyond INT_MAX, or too long to compare cheaply
    std::vector<Char> full(static_cast<size_t>(measured) + 1);
    FUZZ_CHECK(Format<Char>(full.data(), full.size(), format.c_str(), slots, slotCount) == measured);
    FUZZ_CHECK(full[static_cast<size_t>(measured)] == 0);
    if (static_cast<size_t>(measured) < kCut) {
        FUZZ_CHECK(cutResult == measured);
    } else {
        FUZZ_CHECK(cutResult == (static_cast<size_t>(measured) == kCut ? measured : -1));
    }
    size_t compared = std::min(static_cast<size_t>(measured), kCut);
    FUZZ_CHECK(memcmp(cut, full.data(), compared * sizeof(Char)) == 0);
}

}  // namespace

// The first byte chooses the width and how many slots there are; the rest is
// the format (two bytes to a wide character).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    ++data, --size;
    const ULONG_PTR text = reinterpret_cast<ULONG_PTR>(kSlotText);
    const ULONG_PTR slots[4] = {text, text + sizeof(wchar_t), text, text + 2 * sizeof(wchar_t)};
    const size_t slotCount = mode & 3;
    if (mode & 4) {
        std::wstring format;
        for (size_t i = 0; i + 1 < size; i += 2) format += static_cast<wchar_t>(data[i] | data[i + 1] << 8);
        CheckAgreement(format.substr(0, format.find(L'\0')), slots, slotCount);
    } else {
        std::string format(reinterpret_cast<const char*>(data), size);
        CheckAgreement(format.substr(0, format.find('\0')), slots, slotCount);
    }
    return 0;
}
