#include "ToneControls.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vurnel {

namespace {

const ToneControlRange kRanges[kToneControlCount] = {
    {50.0f, 500.0f, 50.0f},        // bass cutoff, Hz
    {3000.0f, 10000.0f, 10000.0f}, // treble cutoff, Hz
    {-20.0f, 20.0f, 0.0f},         // bass, dB
    {-20.0f, 20.0f, 0.0f},         // treble, dB
    {0.0f, 1.0f, 1.0f},            // smooth
};
const float kOffsets[kToneControlCount] = {-50.0f, -3000.0f, 20.0f, 20.0f, 0.0f};
const float kSpans[kToneControlCount] = {450.0f, 7000.0f, 40.0f, 40.0f, 1.0f};

std::uint32_t BitsOf(float value) {
    std::uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

// Whether text (spaces around it allowed) is word, ignoring ASCII case.
bool IsWord(const char* text, const char* word) {
    while (IsSpace(*text))
        ++text;
    for (; *word; ++text, ++word)
        if ((*text | 0x20) != (*word | 0x20)) return false;
    while (IsSpace(*text))
        ++text;
    return *text == '\0';
}

bool IsHertz(int control) {
    return control == kBassCutoffControl || control == kTrebleCutoffControl;
}

} // namespace

const ToneControlRange& RangeOfControl(int control) {
    return kRanges[control];
}

float ClampControl(int control, float value) {
    const ToneControlRange& range = kRanges[control];
    if (std::isnan(value)) return range.defaultValue;
    if (value < range.minimum) return range.minimum;
    if (value > range.maximum) return range.maximum;
    return value;
}

float ControlToParameter(int control, float clamped) {
    // Two float operations, each rounded to float as written, wherever float expressions are
    // evaluated: formed in extended precision and narrowed, a sum or a quotient of floats is
    // the float the single-precision operation gives, while a float expression kept in the x87
    // registers would skip the sum's rounding.
    const float sum = static_cast<float>(static_cast<long double>(clamped) + kOffsets[control]);
    return static_cast<float>(static_cast<long double>(sum) / kSpans[control]);
}

void ControlText(int control, float value, char* text, std::size_t size) {
    if (control == kSmoothControl)
        std::snprintf(text, size, "%s", value > 0.0f ? "on" : "off");
    else if (!IsHertz(control))
        std::snprintf(text, size, "%+.1f dB", static_cast<double>(value));
    else if (value >= 1000.0f)
        std::snprintf(text, size, "%.4g kHz", static_cast<double>(value) / 1000.0);
    else
        std::snprintf(text, size, "%.0f Hz", static_cast<double>(value));
}

std::string ControlText(int control, float value) {
    char text[32];
    ControlText(control, value, text, sizeof text);
    return text;
}

bool ParseControlText(int control, const char* text, float& value) {
    if (text == nullptr) return false;
    if (control == kSmoothControl) {
        if (IsWord(text, "on")) {
            value = 1.0f;
            return true;
        }
        if (IsWord(text, "off")) {
            value = 0.0f;
            return true;
        }
    }
    // The number in the C locale's notation whatever the host's locale (from_chars), a decimal
    // comma read as a point.
    const char* p = text;
    while (IsSpace(*p))
        ++p;
    if (*p == '+') ++p;
    char number[64] = {};
    std::size_t n = 0;
    for (; *p && n + 1 < sizeof number; ++p) {
        const char c = *p;
        const bool exponent = (c == 'e' || c == 'E') && n > 0 && p[1] != '\0' &&
                              std::strchr("+-0123456789", p[1]) != nullptr;
        const bool sign =
            (c == '-' || c == '+') && (n == 0 || number[n - 1] == 'e' || number[n - 1] == 'E');
        if ((c >= '0' && c <= '9') || c == '.' || c == ',' || exponent || sign)
            number[n++] = c == ',' ? '.' : c;
        else
            break;
    }
    double result = 0.0;
    const auto read = std::from_chars(number, number + n, result);
    if (n == 0 || read.ec != std::errc() || read.ptr != number + n || !std::isfinite(result))
        return false;
    while (IsSpace(*p))
        ++p;
    if (*p != '\0') {
        if (IsHertz(control) && (IsWord(p, "k") || IsWord(p, "khz")))
            result *= 1000.0;
        else if (IsHertz(control) ? !IsWord(p, "hz")
                                  : control == kSmoothControl || !IsWord(p, "db"))
            return false;
    }
    value = static_cast<float>(result);
    return std::isfinite(value);
}

std::int32_t ControlGlideFrames(double sampleRate) {
    // In extended precision (exact for any whole rate), so every target counts the same frames.
    const long double frames =
        std::ceil(static_cast<long double>(sampleRate) * kControlGlideMilliseconds / 1000);
    if (!(frames >= 1.0L)) return 1;
    if (frames > 1e8L) return 100000000; // ten seconds at ten megahertz
    return static_cast<std::int32_t>(frames);
}

void ToneControlFollower::Reset() noexcept {
    for (bool& valid : appliedValid)
        valid = false;
}

void ToneControlFollower::Apply(TMirvakEffect& effect,
                                const float* const values[kToneParameterControls], bool smooth,
                                std::int32_t glideFrames) noexcept {
    if (!smooth && effect.Gliding()) {
        // Gliding switched off: every glide's end applies at once. The effect's setter lock is
        // only ever taken by this thread, so it never waits; if it fails, the next call tries
        // again before any new change is given.
        try {
            effect.FinishGlides();
        } catch (...) {
            return;
        }
    }
    for (int i = 0; i < kToneParameterControls; ++i) {
        if (values[i] == nullptr) continue;
        const float value = ClampControl(i, *values[i]);
        const std::uint32_t bits = BitsOf(value);
        if (appliedValid[i] && applied[i] == bits) continue;
        const float parameter = ControlToParameter(i, value);
        if (smooth && appliedValid[i]) {
            if (!effect.GlideParameter(i, parameter, glideFrames)) continue; // next call
        } else {
            try {
                effect.setParameter(i, parameter); // a cutoff designs here (microseconds)
            } catch (...) {
                continue; // the lock failed to work: try again next call
            }
        }
        applied[i] = bits;
        appliedValid[i] = true;
    }
}

} // namespace vurnel
