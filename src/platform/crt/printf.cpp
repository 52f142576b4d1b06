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

#include <math.h>

#include <algorithm>
#include <string>
#include <type_traits>

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
        if (stored) std::fill_n(buffer_ + length_, stored, c);
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

// Where the directives' arguments come from: the caller's va_list, or an
// array of pointer-sized slots, as a 64-bit Windows caller passes them. Past
// the last slot every argument reads as zero: a null string, 0, 0.0.
class Arguments {
  public:
    explicit Arguments(va_list list) : fromList_(true) { va_copy(list_, list); }
    Arguments(const ULONG_PTR* slots, size_t count) : slots_(slots), slotCount_(slots ? count : 0) {}
    ~Arguments() {
        if (fromList_) va_end(list_);
    }
    Arguments(const Arguments&) = delete;
    Arguments& operator=(const Arguments&) = delete;

    template <typename T>
    T Next() {
        if (fromList_) return va_arg(list_, T);
        ULONG_PTR slot = next_ < slotCount_ ? slots_[next_++] : 0;
        return FromSlot<T>(slot);
    }

  private:
    // A slot holds an integer or pointer as it is, a floating-point value as
    // the bits of a double (long double is double on Windows).
    template <typename T>
    static T FromSlot(ULONG_PTR slot) {
        if constexpr (std::is_pointer_v<T>) {
            return reinterpret_cast<T>(slot);
        } else if constexpr (std::is_floating_point_v<T>) {
            double value;
            static_assert(sizeof value == sizeof slot);
            memcpy(&value, &slot, sizeof value);
            return static_cast<T>(value);
        } else {
            return static_cast<T>(slot);
        }
    }

    const bool fromList_ = false;
    va_list list_;
    const ULONG_PTR* slots_ = nullptr;
    size_t slotCount_ = 0;
    size_t next_ = 0;
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
    long long width = args.Next<int>();
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
        int precision = args.Next<int>();
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
            return static_cast<signed char>(args.Next<int>());
        case ArgSize::kShort:
            return static_cast<short>(args.Next<int>());
        case ArgSize::kLong:
            return args.Next<long>();
        case ArgSize::kLongLong:
        case ArgSize::kLongDouble:
            return args.Next<long long>();
        case ArgSize::kInt32:
            return args.Next<int32_t>();
        case ArgSize::kPointer:
            return args.Next<ptrdiff_t>();
        case ArgSize::kIntMax:
            return args.Next<intmax_t>();
        default:
            return args.Next<int>();
    }
}

unsigned long long ReadUnsigned(Arguments& args, ArgSize size) {
    switch (size) {
        case ArgSize::kChar:
            return static_cast<unsigned char>(args.Next<unsigned>());
        case ArgSize::kShort:
            return static_cast<unsigned short>(args.Next<unsigned>());
        case ArgSize::kLong:
            return args.Next<unsigned long>();
        case ArgSize::kLongLong:
        case ArgSize::kLongDouble:
            return args.Next<unsigned long long>();
        case ArgSize::kInt32:
            return args.Next<uint32_t>();
        case ArgSize::kPointer:
            return args.Next<size_t>();
        case ArgSize::kIntMax:
            return args.Next<uintmax_t>();
        default:
            return args.Next<unsigned>();
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
    uintptr_t value = reinterpret_cast<uintptr_t>(args.Next<void*>());
    d.conversion = 'X';
    d.precision = 2 * sizeof(void*);
    PutInteger(out, d, value, 0);
}

// ---- floating point --------------------------------------------------------------

// Past these precisions every further digit is a zero: a double's exact
// decimal expansion has at most 1074 places after the point and 767
// significant digits (a long double's: 16445 and 11505), and its hex form 13
// hex digits (16). So however large a precision is asked for, only this many
// digits are rendered and the rest are counted as zeros.
constexpr int kDoubleDigitBound = 1100;
constexpr int kLongDoubleDigitBound = 16500;

struct FloatValue {
    bool isLong;
    double value;
    long double longValue;

    bool isNegativeNan() const {
        return isLong ? isnan(longValue) && signbit(longValue) : isnan(value) && signbit(value);
    }
    bool isFinite() const { return isLong ? isfinite(longValue) : isfinite(value); }
};

// The number as snprintf renders it with the directive's sign and '#'
// flags, without a width, and with the precision cut to what can hold a
// non-zero digit. The decimal point follows LC_NUMERIC, as the Windows CRT
// follows its locale. The directive is rebuilt from the parsed fields only,
// so no glibc extension (the I flag, ') can slip in.
std::string RenderFloat(const Directive& d, const FloatValue& x, int precision) {
    char spec[16];
    char* s = spec;
    *s++ = '%';
    if (d.plusSign) *s++ = '+';
    if (d.spaceSign) *s++ = ' ';
    if (d.alternate) *s++ = '#';
    *s++ = '.', *s++ = '*';
    if (x.isLong) *s++ = 'L';
    *s++ = d.conversion;
    *s = '\0';
    auto render = [&](char* buffer, size_t size) {
        return x.isLong ? snprintf(buffer, size, spec, precision, x.longValue)
                        : snprintf(buffer, size, spec, precision, x.value);
    };
    char small[512];
    int length = render(small, sizeof small);
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < sizeof small) return std::string(small, length);
    std::string large(static_cast<size_t>(length) + 1, '\0');
    render(&large[0], large.size());
    large.resize(static_cast<size_t>(length));
    return large;
}

// The indeterminate NaN (what 0.0/0.0 gives) prints as the Windows CRT prints it.
std::string RenderNegativeNan(char conversion) {
    const bool upper = conversion == 'E' || conversion == 'F' || conversion == 'G' || conversion == 'A';
    return upper ? "-NAN(IND)" : "-nan(ind)";
}

// Where the zeros of a '0' flag go: after the sign and a hex prefix.
size_t ZeroPadPosition(const std::string& body) {
    size_t pos = !body.empty() && (body[0] == '-' || body[0] == '+' || body[0] == ' ') ? 1 : 0;
    if (body.size() >= pos + 2 && body[pos] == '0' && (body[pos + 1] == 'x' || body[pos + 1] == 'X'))
        pos += 2;
    return pos;
}

// Where precision zeros beyond the rendered digits go: before the exponent
// of %e and %a, at the end otherwise.
size_t TrailingZeroPosition(const std::string& body, char conversion) {
    const char* exponent = (conversion == 'a' || conversion == 'A') ? "pP" : "eE";
    size_t pos = body.find_first_of(exponent);
    return pos == std::string::npos ? body.size() : pos;
}

// Formatting work is bounded by the output: the digits past the bound and the
// width's padding are counted, and stored only as far as the buffer reaches.
template <typename CharT>
void FormatFloat(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    FloatValue x{d.size == ArgSize::kLongDouble, 0, 0};
    if (x.isLong)
        x.longValue = args.Next<long double>();
    else
        x.value = args.Next<double>();

    const int bound = x.isLong ? kLongDoubleDigitBound : kDoubleDigitBound;
    const int precision = std::min(d.precision, bound);
    std::string body = x.isNegativeNan() ? RenderNegativeNan(d.conversion) : RenderFloat(d, x, precision);
    // %g drops trailing zeros unless '#' keeps them.
    const bool keepsZeros = (d.conversion != 'g' && d.conversion != 'G') || d.alternate;
    const size_t extraZeros = x.isFinite() && keepsZeros && d.precision > bound ? d.precision - bound : 0;
    const size_t zerosAt = TrailingZeroPosition(body, d.conversion);

    const size_t length = body.size() + extraZeros;
    const size_t padding = d.width > length ? d.width - length : 0;
    const bool padsWithZeros = d.zeroPad && !d.leftAlign && x.isFinite();
    const size_t zeroPadAt = padsWithZeros ? ZeroPadPosition(body) : 0;
    if (!d.leftAlign && !padsWithZeros) out.Fill(' ', padding);
    out.AppendAscii(body.data(), zeroPadAt);
    if (padsWithZeros) out.Fill('0', padding);
    out.AppendAscii(body.data() + zeroPadAt, zerosAt - zeroPadAt);
    out.Fill('0', extraZeros);
    out.AppendAscii(body.data() + zerosAt, body.size() - zerosAt);
    if (d.leftAlign) out.Fill(' ', padding);
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
// For wide text, width and precision count wide characters, as Windows does
// in a UTF-8 locale; for narrow text, bytes.
template <>
struct Text<char> {
    static void PutNarrow(CountedOutput<char>& out, const Directive& d, const char* s) {
        size_t length = d.precision < 0 ? strlen(s) : strnlen(s, d.precision);
        PadBefore(out, d, length);
        out.Append(s, length);
        PadAfter(out, d, length);
    }

    static void PutWide(CountedOutput<char>& out, const Directive& d, const wchar_t* s) {
        const size_t count = d.precision < 0 ? wcslen(s) : wcsnlen(s, d.precision);
        char bytes[4];
        PadBefore(out, d, count);
        for (size_t i = 0; i < count; ++i) {
            out.Append(bytes, nlplatform::EncodeUtf8(static_cast<char32_t>(s[i]), bytes));
        }
        PadAfter(out, d, count);
    }

    static void PutNarrowChar(CountedOutput<char>& out, const Directive& d, char c) {
        PadBefore(out, d, 1);
        out.Put(c);
        PadAfter(out, d, 1);
    }

    static void PutWideChar(CountedOutput<char>& out, const Directive& d, wchar_t c) {
        char bytes[4];
        PadBefore(out, d, 1);
        out.Append(bytes, nlplatform::EncodeUtf8(static_cast<char32_t>(c), bytes));
        PadAfter(out, d, 1);
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
        const wchar_t* s = args.Next<const wchar_t*>();
        Text<CharT>::PutWide(out, d, s ? s : L"(null)");
    } else {
        const char* s = args.Next<const char*>();
        Text<CharT>::PutNarrow(out, d, s ? s : "(null)");
    }
}

// A narrow character argument is an int of which the low byte counts.
template <typename CharT>
void FormatChar(CountedOutput<CharT>& out, const Directive& d, Arguments& args) {
    if (TakesWideText<CharT>(d)) {
        Text<CharT>::PutWideChar(out, d, static_cast<wchar_t>(args.Next<wint_t>()));
    } else {
        Text<CharT>::PutNarrowChar(out, d, static_cast<char>(args.Next<int>()));
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
            args.Next<void*>();
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
int FormatCounted(CharT* buffer, size_t count, const CharT* format, Arguments& args) {
    if (!format || (!buffer && count != 0)) {
        errno = EINVAL;
        return -1;
    }
    CountedOutput<CharT> out(buffer, count);
    FormatTo(out, format, args);

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

template <typename CharT>
int FormatCounted(CharT* buffer, size_t count, const CharT* format, va_list list) {
    Arguments args(list);
    return FormatCounted(buffer, count, format, args);
}

}  // namespace

extern "C" {

int _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
    return FormatCounted(buffer, count, format, args);
}

int _vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
    return FormatCounted(buffer, count, format, args);
}

int _snwprintf(wchar_t* buffer, size_t count, const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    int result = FormatCounted(buffer, count, format, args);
    va_end(args);
    return result;
}

int NlFormatSlots(char* buffer, size_t count, const char* format, const ULONG_PTR* slots, size_t slotCount) {
    Arguments args(slots, slotCount);
    return FormatCounted(buffer, count, format, args);
}

int NlFormatSlotsW(wchar_t* buffer, size_t count, const wchar_t* format, const ULONG_PTR* slots,
                   size_t slotCount) {
    Arguments args(slots, slotCount);
    return FormatCounted(buffer, count, format, args);
}

}  // extern "C"
