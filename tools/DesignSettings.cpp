#include "DesignSettings.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "dspExtended.h"

namespace vurnel::host {

namespace {

const char* const kKinds[] = {"butterworth", "chebyshev", "bessel", "chebyshev2", "elliptic"};
const char* const kResponses[] = {"lowpass",  "highpass", "bandpass",
                                  "bandstop", "lowshelf", "highshelf"};

// The index of `value` among `names`, or N when it is none of them.
template <std::size_t N>
std::size_t IndexOf(const std::string& value, const char* const (&names)[N]) {
    std::size_t k = 0;
    while (k < N && value != names[k])
        ++k;
    return k;
}

std::string Format(const char* format, long double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The attenuation as the library stores it: the magnitude, clamped into its range.
long double StoredAttenuation(long double value) {
    return std::fmin(std::fmax(std::fabs(value), dsp::MinAttenuation), dsp::MaxAttenuation);
}

} // namespace

dsp::TdspIIRFilterKind KindNamed(const std::string& name) {
    const std::size_t k = IndexOf(name, kKinds);
    if (k == std::size(kKinds))
        throw DesignError("unknown kind '" + name +
                          "' (butterworth, chebyshev, bessel, chebyshev2 or elliptic)");
    return static_cast<dsp::TdspIIRFilterKind>(k);
}

dsp::TdspIIRFilterResponse ResponseNamed(const std::string& name) {
    const std::size_t k = IndexOf(name, kResponses);
    if (k == std::size(kResponses))
        throw DesignError("unknown response '" + name +
                          "' (lowpass, highpass, bandpass, bandstop, lowshelf or highshelf)");
    return static_cast<dsp::TdspIIRFilterResponse>(k);
}

std::string KindName(dsp::TdspIIRFilterKind kind) {
    return kind <= dsp::fkElliptic ? kKinds[kind] : "?";
}

std::string ResponseName(dsp::TdspIIRFilterResponse response) {
    return response <= dsp::ftHighShelf ? kResponses[response] : "?";
}

bool IsBand(dsp::TdspIIRFilterResponse response) {
    return response == dsp::ftBandpass || response == dsp::ftBandstop;
}

bool IsShelf(dsp::TdspIIRFilterResponse response) {
    return response == dsp::ftLowShelf || response == dsp::ftHighShelf;
}

long double ParseNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long double value = std::strtold(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE)
        throw DesignError(option + " wants a number, not '" + text + "'");
    CheckNumber(option, value, text);
    return value;
}

void CheckNumber(const std::string& option, long double value, const std::string& text) {
    if (!std::isfinite(value)) throw DesignError(option + " wants a number, not '" + text + "'");
}

int CheckedOrder(long double value, const std::string& text) {
    if (value != std::floor(value) || value < 1 || value > 8)
        throw DesignError("order '" + text + "' must be a whole number from 1 to 8");
    return static_cast<int>(value);
}

void CheckRate(long double value, const std::string& text) {
    if (!(value > 0)) throw DesignError("sample rate '" + text + "' must be above 0");
}

void CheckDesignSettings(const DesignSettings& s, const std::string& prefix) {
    if (IsBand(s.response) && !s.f2Given)
        throw DesignError(std::string("a ") + kResponses[s.response] + " filter needs " + prefix +
                          "f2, its upper band edge");
    // Edges in the wrong order would design a band of negative width.
    if (IsBand(s.response) && !(s.f2 > s.f1))
        throw DesignError(std::string("a ") + kResponses[s.response] + " filter needs " + prefix +
                          "f2 (" + Format("%.10Lg", s.f2) + " Hz) above " + prefix + "f1 (" +
                          Format("%.10Lg", s.f1) + " Hz)");
    if (IsShelf(s.response) && s.kind != dsp::fkButterworth)
        throw DesignError(std::string("a ") + kResponses[s.response] +
                          " is designed for butterworth filters only, not " + kKinds[s.kind]);
    if (s.kind == dsp::fkElliptic && !(std::fabs(s.ripple) < StoredAttenuation(s.attenuation)))
        throw DesignError("an elliptic filter needs " + prefix + "attenuation (" +
                          Format("%.10Lg", StoredAttenuation(s.attenuation)) + " dB) above " +
                          prefix + "ripple (" + Format("%.10Lg", std::fabs(s.ripple)) + " dB)");
}

void ConfigureFilter(dsp::TdspIIRFilter& filter, const DesignSettings& s) {
    filter.SetSampleRate(s.rate);
    filter.SetRipple(s.ripple);
    filter.SetAttenuation(s.attenuation);
    filter.SetGain(s.gain);
    filter.SetKind(s.kind);
    filter.SetResponse(s.response);
    filter.SetOrder(static_cast<dsp::TdspIIRFilterOrder>(s.order));
    filter.SetFrequency(1, s.f1);
    filter.SetFrequency(2, s.f2);
}

std::vector<std::string> StorageNotes(const dsp::TdspIIRFilter& f, const DesignSettings& s) {
    std::vector<std::string> notes;
    auto note = [&](const char* what, long double asked, long double stored,
                    const std::string& why) {
        if (asked != stored)
            notes.push_back(std::string(what) + " " + Format("%.10Lg", asked) + " was stored as " +
                            Format("%.10Lg", stored) + " (" + why + ")");
    };
    const std::string edgeRule = "band edges lie between " + Format("%.3Lg", dsp::Epsilon) +
                                 " Hz and half the sample rate less 0.0001 Hz";
    note("f1", s.f1, f.GetFrequency(1), edgeRule);
    if (IsBand(f.GetResponse())) note("f2", s.f2, f.GetFrequency(2), edgeRule);
    // The design floors each normalised frequency at order·10⁻⁴ cycles per sample (a band below
    // the floor becomes silence, a bandstop a pass-through).
    const long double floor = f.GetOrder() * 1e-4L * f.GetSampleRate();
    auto floored = [&](const char* what, long double stored) {
        if (stored / f.GetSampleRate() < f.GetOrder() * 1e-4L)
            notes.push_back(std::string(what) + " " + Format("%.10Lg", stored) +
                            " Hz is designed at " + Format("%.10Lg", floor) +
                            " Hz (the design's lowest frequency is the order times 0.0001 of the "
                            "sample rate)");
    };
    floored("f1", f.GetFrequency(1));
    if (IsBand(f.GetResponse())) floored("f2", f.GetFrequency(2));
    note("ripple", s.ripple, f.GetRipple(), "the ripple is stored as its magnitude");
    note("attenuation", s.attenuation, f.GetAttenuation(),
         "the attenuation is stored as its magnitude, between " +
             Format("%.10Lg", dsp::MinAttenuation) + " and " +
             Format("%.10Lg", dsp::MaxAttenuation) + " dB");
    note("gain", s.gain, f.GetGain(),
         "a shelf's gain lies between -" + Format("%.10Lg", dsp::MaxShelfGain) + " and " +
             Format("%.10Lg", dsp::MaxShelfGain) + " dB");
    return notes;
}

long double AngularFrequency(long double hertz, long double rate) {
    return 2.0L * dsp::Pi * hertz / rate;
}

} // namespace vurnel::host
