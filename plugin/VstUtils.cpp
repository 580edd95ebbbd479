#include "VstUtils.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <langinfo.h>
#include <locale.h>
#endif

namespace vurnel {
namespace {

// The exact decimal expansion of a float, built without the C library so that every platform
// writes the same digits. |value| = 0.D × 10^pointPos, D without leading zeros.
struct DecimalDigits {
    char digits[128];
    int count;
    int pointPos;
};

// A small unsigned big integer in base 10^9, enough for 2^24 × 5^149 (about 112 digits).
struct BigDecimal {
    static constexpr std::uint32_t kBase = 1000000000u;
    std::uint32_t limbs[16]; // least significant first
    int used;

    explicit BigDecimal(std::uint32_t v) : limbs{}, used(1) {
        limbs[0] = v % kBase;
        if (v >= kBase) {
            limbs[1] = v / kBase;
            used = 2;
        }
    }
    void MultiplySmall(std::uint32_t factor) {
        std::uint64_t carry = 0;
        for (int i = 0; i < used; ++i) {
            const std::uint64_t p = static_cast<std::uint64_t>(limbs[i]) * factor + carry;
            limbs[i] = static_cast<std::uint32_t>(p % kBase);
            carry = p / kBase;
        }
        while (carry != 0) {
            limbs[used++] = static_cast<std::uint32_t>(carry % kBase);
            carry /= kBase;
        }
    }
    void MultiplyPower(std::uint32_t base, int exponent, std::uint32_t chunkFactor, int chunk) {
        while (exponent >= chunk) {
            MultiplySmall(chunkFactor);
            exponent -= chunk;
        }
        std::uint32_t rest = 1;
        while (exponent-- > 0)
            rest *= base;
        MultiplySmall(rest);
    }
    int ToDigits(char* out) const {
        int n = 0;
        char limbText[10];
        for (int i = used - 1; i >= 0; --i) {
            std::uint32_t v = limbs[i];
            for (int k = 8; k >= 0; --k) {
                limbText[k] = static_cast<char>('0' + v % 10);
                v /= 10;
            }
            for (int k = 0; k < 9; ++k) {
                if (n == 0 && limbText[k] == '0') continue; // leading zeros
                out[n++] = limbText[k];
            }
        }
        return n;
    }
};

// Exact expansion of a finite, non-zero float's magnitude.
DecimalDigits ExactDigits(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    const int biased = static_cast<int>((bits >> 23) & 0xFFu);
    std::uint32_t mantissa = bits & 0x7FFFFFu;
    int exponent;
    if (biased == 0) {
        exponent = -149;
    } else {
        mantissa |= 0x800000u;
        exponent = biased - 150;
    }
    BigDecimal big(mantissa);
    DecimalDigits d{};
    if (exponent >= 0) {
        big.MultiplyPower(2, exponent, 1u << 29, 29);
        d.count = big.ToDigits(d.digits);
        d.pointPos = d.count;
    } else {
        // m × 2^e = m × 5^-e × 10^e
        big.MultiplyPower(5, -exponent, 1220703125u, 13);
        d.count = big.ToDigits(d.digits);
        d.pointPos = d.count + exponent;
    }
    return d;
}

// Rounds the digit string to `keep` significant digits, to nearest with ties to even.
void RoundSignificant(DecimalDigits& d, int keep) {
    if (d.count <= keep) return;
    const char first = d.digits[keep];
    bool up = first > '5';
    if (first == '5') {
        bool tail = false;
        for (int i = keep + 1; i < d.count; ++i)
            tail = tail || d.digits[i] != '0';
        up = tail || ((d.digits[keep - 1] - '0') % 2 == 1);
    }
    d.count = keep;
    if (!up) return;
    int i = keep - 1;
    while (i >= 0 && d.digits[i] == '9')
        d.digits[i--] = '0';
    if (i >= 0) {
        ++d.digits[i];
    } else {
        d.digits[0] = '1'; // all nines: one more integer digit
        ++d.pointPos;
    }
}

// "d.ddddddddddddddE+NN" for magnitudes whose integer part has more than 18 digits.
void WriteExponentForm(char* text, bool negative, DecimalDigits d, char separator) {
    RoundSignificant(d, 15);
    int last = d.count - 1;
    while (last > 0 && d.digits[last] == '0')
        --last;
    char* p = text;
    if (negative) *p++ = '-';
    *p++ = d.digits[0];
    if (last > 0) {
        *p++ = separator;
        for (int i = 1; i <= last; ++i)
            *p++ = d.digits[i];
    }
    const int exponent = d.pointPos - 1;
    *p++ = 'E';
    *p++ = '+';
    *p++ = static_cast<char>('0' + exponent / 10);
    *p++ = static_cast<char>('0' + exponent % 10);
    *p = '\0';
}

const char kNoLevelText[] = "   -\xB0   ";

char g_decimalSeparator = ReadLocaleDecimalSeparator(); // once, when the library is loaded

} // namespace

void FormatFixed2(char* text, float value, char separator) {
    if (std::isnan(value)) {
        std::memcpy(text, "NAN", 4);
        return;
    }
    if (std::isinf(value)) {
        std::memcpy(text, value < 0 ? "-INF" : "INF", value < 0 ? 5 : 4);
        return;
    }
    const char zero[] = {'0', separator, '0', '0', '\0'};
    if (value == 0.0f) {
        std::memcpy(text, zero, sizeof zero);
        return;
    }
    const bool negative = std::signbit(value);
    DecimalDigits d = ExactDigits(value);
    RoundSignificant(d, 18);
    if (d.pointPos > 18) {
        WriteExponentForm(text, negative, d, separator);
        return;
    }
    // Hundredths: the digits down to the second decimal, rounded half up at the third.
    const int keep = d.pointPos + 2;
    char hundredths[24];
    int n = 0;
    for (int i = 0; i < keep; ++i)
        hundredths[n++] = i < d.count ? d.digits[i] : '0';
    if (keep >= 0 && keep < d.count && d.digits[keep] >= '5') {
        int i = n - 1;
        while (i >= 0 && hundredths[i] == '9')
            hundredths[i--] = '0';
        if (i >= 0) {
            ++hundredths[i];
        } else {
            std::memmove(hundredths + 1, hundredths, static_cast<std::size_t>(n));
            hundredths[0] = '1';
            ++n;
        }
    }
    bool allZero = true;
    for (int i = 0; i < n; ++i)
        allZero = allZero && hundredths[i] == '0';
    if (allZero) {
        std::memcpy(text, zero, sizeof zero);
        return;
    }
    while (n < 3) { // at least one integer digit
        std::memmove(hundredths + 1, hundredths, static_cast<std::size_t>(n));
        hundredths[0] = '0';
        ++n;
    }
    int start = 0;
    while (start < n - 3 && hundredths[start] == '0')
        ++start;
    char* p = text;
    if (negative) *p++ = '-';
    for (int i = start; i < n - 2; ++i)
        *p++ = hundredths[i];
    *p++ = separator;
    *p++ = hundredths[n - 2];
    *p++ = hundredths[n - 1];
    *p = '\0';
}

void FormatAmplitudeDb(char* text, float value, char separator) {
    if (value > 0.0f) {
        const long double db = 20.0L * std::log10(static_cast<long double>(value));
        FormatFixed2(text, static_cast<float>(db), separator);
    } else {
        std::memcpy(text, kNoLevelText, sizeof kNoLevelText);
    }
}

void FloatToDisplayText(char* text, float value) {
    FormatFixed2(text, value, g_decimalSeparator);
}

void AmplitudeToDbText(char* text, float value) {
    FormatAmplitudeDb(text, value, g_decimalSeparator);
}

char DecimalSeparator() {
    return g_decimalSeparator;
}

char ReadLocaleDecimalSeparator() {
#if defined(_WIN32)
    char buffer[8] = {};
    const int length = GetLocaleInfoA(GetThreadLocale(), LOCALE_SDECIMAL, buffer, sizeof buffer);
    return length == 2 ? buffer[0] : '.';
#else
    // "" names the locale the environment chooses (LC_ALL, then LC_NUMERIC, then LANG); the
    // process's own locale is left alone.
    locale_t locale = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) return '.';
    const char* radix = nl_langinfo_l(RADIXCHAR, locale);
    const char separator =
        (radix != nullptr && radix[0] != '\0' && radix[1] == '\0') ? radix[0] : '.';
    freelocale(locale);
    return separator;
#endif
}

} // namespace vurnel
