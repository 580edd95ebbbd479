// Small helpers of the plug-in frame: four-character codes and the texts that show a
// parameter's current value.
#pragma once

#include <cstdint>

namespace vurnel {

// c1 × 2^24 + c2 × 2^16 + c3 × 2^8 + c4: the first character is the most significant byte.
constexpr std::int32_t FourCharCode(char c1, char c2, char c3, char c4) {
    return static_cast<std::int32_t>(
        (static_cast<std::uint32_t>(static_cast<unsigned char>(c1)) << 24) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(c2)) << 16) |
        (static_cast<std::uint32_t>(static_cast<unsigned char>(c3)) << 8) |
        static_cast<std::uint32_t>(static_cast<unsigned char>(c4)));
}

// The longest text FloatToDisplayText writes for any float, without its NUL.
constexpr int kMaxDisplayTextLength = 22;

// Writes value in fixed-point notation with two decimals ("50.00", "-0.13", "INF", "NAN"),
// using the locale's decimal separator and no grouping. Values whose integer part has more than
// 18 digits are written as "d.ddddddddddddddE+NN" (trailing zeros of the mantissa dropped).
// Writes at most 22 characters and the NUL. Any thread; does not allocate.
void FloatToDisplayText(char* text, float value);

// Writes an amplitude factor in decibels in the form of FloatToDisplayText; values that are not
// positive (0, negative, NaN) give the fixed text "   -\xB0   ". Any thread; does not allocate.
void AmplitudeToDbText(char* text, float value);

// The same texts with an explicit separator (what the two routines above use).
void FormatFixed2(char* text, float value, char separator);
void FormatAmplitudeDb(char* text, float value, char separator);

// The process-wide decimal separator, read once when the library is loaded.
char DecimalSeparator();

// Reads the decimal separator of the user's locale without touching the process's own locale:
// on Windows the thread locale's LOCALE_SDECIMAL, elsewhere the numeric locale the environment
// names (LC_ALL, then LC_NUMERIC, then LANG). Anything that is not a single byte gives '.'.
char ReadLocaleDecimalSeparator();

} // namespace vurnel
