// _vsnprintf, _vsnwprintf and their variadic forms: the legacy counted
// formatting of the Windows CRT with the Microsoft conventions, in both widths.
//
// One engine, templated on the output character type, walks the format
// itself: glibc's printf gives %s, %S, %c, %C and %I other meanings, and
// converts text through the process's locale. Only floating-point conversions
// are handed to snprintf, one translated directive at a time.
#include <windows.h>

#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <vector>

#include "common/unicode.h"

namespace {

// Counts every character of the output and stores those that fit in the
// caller's buffer; what does not fit is only counted.
template <typename CharT>
class CountedOutput {
  public:
    CountedOutput(CharT* buffer, size_t capacity) : buffer_(buffer), capacity_(buffer ? capacity : 0) {}

    size_t length() const { return length_; }

    void Put(CharT c) {
        if (length_ < capacity_) buffer_[length_] = c;
        ++length_;
    }

    void Append(const CharT* text, size_t count) {
        size_t stored = std::min(count, Room());
        if (stored) memcpy(buffer_ + length_, text, stored * sizeof(CharT));
        length_ += count;
    }

    // ASCII text rendered by the number formatting, in either output width.
    void AppendAscii(const char* text, size_t count) {
        size_t stored = std::min(count, Room());
        for (size_t i = 0; i < stored; ++i) buffer_[length_ + i] = static_cast<CharT>(text[i]);
        length_ += count;
    }

    void Fill(CharT c, size_t count) {
        size_t stored = std::min(count, Room());
        std::fill_n(buffer_ + length_, stored, c);
        length_ += count;
    }

  private:
    size_t Room() const { return length_ < capacity_ ? capacity_ - length_ : 0; }

    CharT* buffer_;
    size_t capacity_;
    size_t length_ = 0;
};

// The argument size a directive's prefix selects.
enum class ArgSize : unsigned char {
    kDefault,
    kChar,        // hh
    kShort,       // h
    kLong,        // l: the platform's long, as the caller's compiler passed it
    kLongLong,    // ll, I64, and L with an integer conversion
    kInt32,       // I32
    kPointer,     // I, z, t
    kIntMax,      // j
    kLongDouble,  // L with a floating-point conversion
    kWide,        // w: only meaningful with c and s
};

struct Directive {
    bool leftAlign = false;
    bool plusSign = false;
    bool spaceSign = false;
    bool alternate = false;
    bool zeroPad = false;
    size_t width = 0;
    int precision = -1;  // -1: none given
    ArgSize size = ArgSize::kDefault;
    char conversion = 0;
};

// va_list in a struct, so that helpers can take arguments off the one list.
struct Arguments {
    va_list list;
};

template <typename CharT>
bool IsDigit(CharT c) {
    return c >= '0' && c <= '9';
}

// A decimal field of the format; absurd values saturate instead of wrapping.
template <typename CharT>
int ParseNumber(const CharT*& p) {
    long long value = 0;
    for (; IsDigit(*p); ++p) value = std::min<long long>(value * 10 + (*p - '0'), INT_MAX);
    return static_cast<int>(value);
}

template <typename CharT>
void ParseFlags(const CharT*& p, Directive& d) {
    for (;; ++p) {
        switch (*p) {
            case '-':
                d.leftAlign = true;
                break;
            case '+':
                d.plusSign = true;
                break;
            case ' ':
                d.spaceSign = true;
                break;
            case '#':
                d.alternate = true;
                break;
            case '0':
                d.zeroPad = true;
                break;
            default:
                return;
        }
    }
}

// A '*' width takes an int; a negative one means left alignment, as in C.
template <typename CharT>
void ParseWidth(const CharT*& p, Directive& d, Arguments& args) {
    if (*p != '*') {
        d.width = static_cast<size_t>(ParseNumber(p));
        return;
    }
    ++p;
    long long width = va_arg(args.list, int);
    if (width < 0) {
        d.leftAlign = true;
        width = -width;
    }
    d.width = static_cast<size_t>(width);
}

// A negative '*' precision counts as none given.
template <typename CharT>
void ParsePrecision(const CharT*& p, Directive& d, Arguments& args) {
    if (*p != '.') return;
    ++p;
    if (*p == '*') {
        ++p;
        int precision = va_arg(args.list, int);
        d.precision = precision < 0 ? -1 : precision;
    } else {
        d.precision = ParseNumber(p);
    }
}

// The size prefixes of both worlds: h hh l ll L w j z t, and Microsoft's
// I (pointer-sized), I32 and I64.
template <typename CharT>
void ParseSize(const CharT*& p, Directive& d) {
    switch (*p) {
        case 'h':
            ++p;
            d.size = ArgSize::kShort;
            if (*p == 'h') ++p, d.size = ArgSize::kChar;
            return;
        case 'l':
            ++p;
            d.size = ArgSize::kLong;
            if (*p == 'l') ++p, d.size = ArgSize::kLongLong;
            return;
        case 'L':
            ++p, d.size = ArgSize::kLongDouble;
            return;
        case 'w':
            ++p, d.size = ArgSize::kWide;
            return;
        case 'j':
            ++p, d.size = ArgSize::kIntMax;
            return;
        case 'z':
        case 't':
            ++p, d.size = ArgSize::kPointer;
            return;
        case 'I':
            ++p;
            if (p[0] == '6' && p[1] == '4') {
                p += 2, d.size = ArgSize::kLongLong;
            } else if (p[0] == '3' && p[1] == '2') {
                p += 2, d.size = ArgSize::kInt32;
            } else {
                d.size = ArgSize::kPointer;
            }
            return;
        default:
            return;
    }
}

// ---- padding ---------------------------------------------------------------

// Unlike glibc, the Windows CRT pads strings and characters with zeros when
// the '0' flag is given.
template <typename CharT>
void PadBefore(CountedOutput<CharT>& out, const Directive& d, size_t length) {
    if (!d.leftAlign && d.width > length) out.Fill(d.zeroPad ? '0' : ' ', d.width - length);
}

template <typename CharT>
void PadAfter(CountedOutput<CharT>& out, const Directive& d, size_t length) {
    if (d.leftAlign && d.width > length) out.Fill(' ', d.width - length);
}

// ---- integers ----------------------------------------------------------------

long long ReadSigned(Arguments& args, ArgSize size) {
    switch (size) {
        case ArgSize::kChar:
            return static_cast<signed char>(va_arg(args.list, int));
        case ArgSize::kShort:
            return static_cast<short>(va_arg(args.list, int));
        case ArgSize::kLong:
            return va_arg(args.list, long);
        case ArgSize::kLongLong:
        case ArgSize::kLongDouble:
            return va_arg(args.list, long long);
        case ArgSize::kInt32:
            return va_arg(args.list, int32_t);
        case ArgSize::kPointer:
            return va_arg(args.list, ptrdiff_t);
        case ArgSize::kIntMax:
            return va_arg(args.list, intmax_t);
        default:
            return va_arg(args.list, int);
    }
}

unsigned long long ReadUnsigned(Arguments& args, ArgSize size) {
    switch (size) {
        case ArgSize::kChar:
            return static_cast<unsigned char>(va_arg(args.list, unsigned));
        case ArgSize::kShort:
            return static_cast<unsigned short>(va_arg(args.list, unsigned));
        case ArgSize::kLong:
            return va_arg(args.list, unsigned long);
        case ArgSize::kLongLong:
        case ArgSize::kLongDouble:
            return va_arg(args.list, unsigned long long);
        case ArgSize::kInt32:
            return va_arg(args.list, uint32_t);
        case ArgSize::kPointer:
            return va_arg(args.list, size_t);
        case ArgSize::kIntMax:
            return va_arg(args.list, uintmax_t);
        default:
            return va_arg(args.list, unsigned);
    }
}

// Renders the digits of value backwards from end and returns where they start.
char* RenderDigits(unsigned long long value, char conversion, char* end) {
    const unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
    const char* symbols = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    char* p = end;
    do {
        *--p = symbols[value % base];
        value /= base;
    } while (value);
    return p;
}

// C's integer layout: [padding][sign][0x][precision zeros][digits][padding].
// A precision turns off zero padding; precision 0 prints no digits for 0;
// '#' adds 0x to non-zero hex and makes octal start with 0.
template <typename CharT>
void PutInteger(CountedOutput<CharT>& out, const Directive& d, unsigned long long magnitude, char sign) {
    char buffer[24];
    char* end = buffer + sizeof buffer;
    size_t digitCount = static_cast<size_t>(end - RenderDigits(magnitude, d.conversion, end));
    if (d.precision == 0 && magnitude == 0) digitCount = 0;

    const size_t precision = d.precision < 0 ? 0 : static_cast<size_t>(d.precision);
    size_t zeros = precision > digitCount ? precision - digitCount : 0;
    if (d.conversion == 'o' && d.alternate && zeros == 0 && (digitCount == 0 || magnitude != 0)) zeros = 1;
    const char* prefix = "";
    if (d.alternate && magnitude != 0 && (d.conversion == 'x' || d.conversion == 'X')) {
        prefix = d.conversion == 'x' ? "0x" : "0X";
    }
    size_t length = (sign ? 1 : 0) + strlen(prefix) + zeros + digitCount;

    if (d.zeroPad && !d.leftAlign && d.precision < 0 && d.width > length) {
        zeros += d.width - length;
        length = d.width;
    }
    if (!d.leftAlign && d.width > length) out.Fill(' ', d.width - length);
    if (sign) out.Put(sign);
    out.AppendAscii(prefix, strlen(prefix));
    out.Fill('0', zeros);
    out.AppendAscii(end - digitCount, digitCount);
    PadAfter(out, d, length);
}

char SignOf(const Directive& d, bool negative) {
    if (negative) return '-';
    if (d.plusSign) return '+';
    if (d.spaceSign) return ' ';
    return 0;
}

template <typename CharT>
void FormatSigned(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    long long value = ReadSigned(args, d.size);
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value) : value;
    PutInteger(out, d, magnitude, SignOf(d, value < 0));
}

template <typename CharT>
void FormatUnsigned(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    PutInteger(out, d, ReadUnsigned(args, d.size), 0);
}

// Windows prints a pointer as upper-case hex, zero-filled to its full width,
// without a 0x (with '#': 0X); a null pointer is all zeros, not "(nil)".
template <typename CharT>
void FormatPointer(CountedOutput<CharT>& out, Directive d, Arguments& args) {
    uintptr_t value = reinterpret_cast<uintptr_t>(va_arg(args.list, void*));
    d.conversion = 'X';
    d.precision = 2 * sizeof(void*);
    PutInteger(out, d, value, 0);
}

// ---- floating point --------------------------------------------------------------

// One directive rebuilt for snprintf from the parsed fields only, so no glibc
// extension (the I flag, ') can slip in. The decimal point follows LC_NUMERIC,
// as the Windows CRT follows its locale.
template <typename CharT>
void FormatFloat(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    char spec[16];
    char* s = spec;
    *s++ = '%';
    if (d.leftAlign) *s++ = '-';
    if (d.plusSign) *s++ = '+';
    if (d.spaceSign) *s++ = ' ';
    if (d.alternate) *s++ = '#';
    if (d.zeroPad) *s++ = '0';
    *s++ = '*', *s++ = '.', *s++ = '*';
    if (d.size == ArgSize::kLongDouble) *s++ = 'L';
    *s++ = d.conversion;
    *s = '\0';

    const int width = static_cast<int>(std::min<size_t>(d.width, INT_MAX));
    const bool isLong = d.size == ArgSize::kLongDouble;
    long double longValue = isLong ? va_arg(args.list, long double) : 0;
    double value = isLong ? 0 : va_arg(args.list, double);
    auto render = [&](char* buffer, size_t size) {
        return isLong ? snprintf(buffer, size, spec, width, d.precision, longValue)
                      : snprintf(buffer, size, spec, width, d.precision, value);
    };

    char small[512];
    int length = render(small, sizeof small);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        out.AppendAscii(small, length);
        return;
    }
    // Only enormous widths and precisions, or huge values in %f, get here.
    std::vector<char> large(static_cast<size_t>(length) + 1);
    render(large.data(), large.size());
    out.AppendAscii(large.data(), length);
}

// ---- characters and strings -------------------------------------------------------

// In the Windows convention %s and %c take the format's own width, %S and %C
// the other one; h forces narrow, l and w force wide.
template <typename CharT>
bool TakesWideText(const Directive& d) {
    if (d.size == ArgSize::kShort) return false;
    if (d.size == ArgSize::kLong || d.size == ArgSize::kWide) return true;
    const bool sameWidth = d.conversion == 's' || d.conversion == 'c';
    return sameWidth == (sizeof(CharT) == sizeof(wchar_t));
}

template <typename CharT>
struct Text;

// Narrow output: narrow text is copied as given; wide text becomes UTF-8.
// A precision counts bytes and never splits a character's UTF-8 sequence.
template <>
struct Text<char> {
    static void PutNarrow(CountedOutput<char>& out, const Directive& d, const char* s) {
        size_t length = d.precision < 0 ? strlen(s) : strnlen(s, d.precision);
        PadBefore(out, d, length);
        out.Append(s, length);
        PadAfter(out, d, length);
    }

    static void PutWide(CountedOutput<char>& out, const Directive& d, const wchar_t* s) {
        const size_t limit = d.precision < 0 ? SIZE_MAX : static_cast<size_t>(d.precision);
        const size_t available = d.precision < 0 ? wcslen(s) : wcsnlen(s, limit);
        char bytes[4];
        size_t length = 0, count = 0;
        for (; count < available; ++count) {
            size_t n = nlplatform::EncodeUtf8(static_cast<char32_t>(s[count]), bytes);
            if (length + n > limit) break;
            length += n;
        }
        PadBefore(out, d, length);
        for (size_t i = 0; i < count; ++i) {
            out.Append(bytes, nlplatform::EncodeUtf8(static_cast<char32_t>(s[i]), bytes));
        }
        PadAfter(out, d, length);
    }

    static void PutNarrowChar(CountedOutput<char>& out, const Directive& d, char c) {
        PadBefore(out, d, 1);
        out.Put(c);
        PadAfter(out, d, 1);
    }

    static void PutWideChar(CountedOutput<char>& out, const Directive& d, wchar_t c) {
        char bytes[4];
        size_t length = nlplatform::EncodeUtf8(static_cast<char32_t>(c), bytes);
        PadBefore(out, d, length);
        out.Append(bytes, length);
        PadAfter(out, d, length);
    }
};

// Wide output: wide text is copied as given; narrow text is decoded from
// UTF-8. A precision counts wide characters.
template <>
struct Text<wchar_t> {
    static void PutNarrow(CountedOutput<wchar_t>& out, const Directive& d, const char* s) {
        const size_t limit = d.precision < 0 ? SIZE_MAX : static_cast<size_t>(d.precision);
        // Each character takes at most 4 bytes: the bound keeps an unterminated
        // array with a precision from being read past its end.
        const size_t bytes = d.precision < 0 ? strlen(s) : strnlen(s, 4 * limit);
        size_t length = 0;
        for (size_t pos = 0; pos < bytes && length < limit; ++length) nlplatform::DecodeUtf8(s, bytes, &pos);
        PadBefore(out, d, length);
        size_t pos = 0;
        for (size_t i = 0; i < length; ++i)
            out.Put(static_cast<wchar_t>(nlplatform::DecodeUtf8(s, bytes, &pos)));
        PadAfter(out, d, length);
    }

    static void PutWide(CountedOutput<wchar_t>& out, const Directive& d, const wchar_t* s) {
        size_t length = d.precision < 0 ? wcslen(s) : wcsnlen(s, d.precision);
        PadBefore(out, d, length);
        out.Append(s, length);
        PadAfter(out, d, length);
    }

    // A single byte is a whole character only in ASCII; others become U+FFFD.
    static void PutNarrowChar(CountedOutput<wchar_t>& out, const Directive& d, char c) {
        size_t pos = 0;
        PutWideChar(out, d, static_cast<wchar_t>(nlplatform::DecodeUtf8(&c, 1, &pos)));
    }

    static void PutWideChar(CountedOutput<wchar_t>& out, const Directive& d, wchar_t c) {
        PadBefore(out, d, 1);
        out.Put(c);
        PadAfter(out, d, 1);
    }
};

// A null string prints "(null)", as in the Windows CRT.
template <typename CharT>
void FormatString(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    if (TakesWideText<CharT>(d)) {
        const wchar_t* s = va_arg(args.list, const wchar_t*);
        Text<CharT>::PutWide(out, d, s ? s : L"(null)");
    } else {
        const char* s = va_arg(args.list, const char*);
        Text<CharT>::PutNarrow(out, d, s ? s : "(null)");
    }
}

// A narrow character argument is an int of which the low byte counts.
template <typename CharT>
void FormatChar(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    if (TakesWideText<CharT>(d)) {
        Text<CharT>::PutWideChar(out, d, static_cast<wchar_t>(va_arg(args.list, wint_t)));
    } else {
        Text<CharT>::PutNarrowChar(out, d, static_cast<char>(va_arg(args.list, int)));
    }
}

// ---- the walk ------------------------------------------------------------------

inline const char* FindDirective(const char* p) { return strchrnul(p, '%'); }
inline const wchar_t* FindDirective(const wchar_t* p) { return wcschrnul(p, L'%'); }

inline size_t TextLength(const char* s) { return strlen(s); }
inline size_t TextLength(const wchar_t* s) { return wcslen(s); }

// Formats one conversion; false for a conversion character it does not know.
template <typename CharT>
bool FormatConversion(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    switch (d.conversion) {
        case 'd':
        case 'i':
            FormatSigned(out, d, args);
            return true;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            FormatUnsigned(out, d, args);
            return true;
        case 'p':
            FormatPointer(out, d, args);
            return true;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A':
            FormatFloat(out, d, args);
            return true;
        case 'c':
        case 'C':
            FormatChar(out, d, args);
            return true;
        case 's':
        case 'S':
            FormatString(out, d, args);
            return true;
        // %n is never executed: its pointer is taken off the list, so the
        // arguments after it stay in step, and nothing is written through it.
        case 'n':
            va_arg(args.list, void*);
            return true;
        case '%':
            out.Put('%');
            return true;
        default:
            return false;
    }
}

// Where Windows would call the invalid-parameter handler for an unknown
// conversion (or a format ending inside a directive), the directive and the
// rest of the format are copied as they stand: the arguments after an unknown
// conversion cannot be located, so none is read any more.
template <typename CharT>
void FormatTo(CountedOutput<CharT>& out, const CharT* format, Arguments& args) {
    const CharT* p = format;
    for (;;) {
        const CharT* percent = FindDirective(p);
        out.Append(p, static_cast<size_t>(percent - p));
        if (*percent == '\0') return;

        Directive d;
        p = percent + 1;
        ParseFlags(p, d);
        ParseWidth(p, d, args);
        ParsePrecision(p, d, args);
        ParseSize(p, d);
        d.conversion = static_cast<char>(*p >= 0 && *p < 0x80 ? *p : 0);
        if (!FormatConversion(out, d, args)) {
            out.Append(percent, TextLength(percent));
            return;
        }
        ++p;
    }
}

// The legacy truncation contract: at most count characters; a terminator only
// when the output is shorter; -1 when it did not fit. A null buffer with a
// count of 0 asks for the length.
template <typename CharT>
int FormatCounted(CharT* buffer, size_t count, const CharT* format, va_list list) {
    if (!format || (!buffer && count != 0)) {
        errno = EINVAL;
        return -1;
    }
    CountedOutput<CharT> out(buffer, count);
    Arguments args;
    va_copy(args.list, list);
    FormatTo(out, format, args);
    va_end(args.list);

    const size_t length = out.length();
    if (length > INT_MAX) {
        errno = EOVERFLOW;
        return -1;
    }
    if (!buffer) return static_cast<int>(length);
    if (length > count) return -1;
    if (length < count) buffer[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace

extern "C" {

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
    return FormatCounted(buffer, count, format, args);
}

int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    return FormatCounted(buffer, count, format, args);
}

int _snprintf(char* buffer, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int result = FormatCounted(buffer, count, format, args);
    va_end(args);
    return result;
}

int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int result = FormatCounted(buffer, count, format, args);
    va_end(args);
    return result;
}

}  // extern "C"
