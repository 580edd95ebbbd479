// The settings of one filter design as a user gives them, and what each one means to the library:
// the checks that refuse a setting the library would not design as asked, the order in which they
// reach the filter's setters, the notes on values the filter stored otherwise, and the angular
// frequency at which a response is evaluated. `vurnel design` and the Python module share this
// one reading of the settings.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "dspIIRFilters.h"

namespace vurnel::host {

// One line naming what is wrong with the settings.
struct DesignError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct DesignSettings {
    dsp::TdspIIRFilterKind kind = dsp::fkButterworth;
    dsp::TdspIIRFilterResponse response = dsp::ftLowpass;
    int order = 1;
    long double f1 = 300.0L;
    long double f2 = 3000.0L; // the library's default second edge
    bool f2Given = false;
    long double rate = 44100.0L;
    long double ripple = 0.0L;
    long double attenuation = 40.0L; // the library's default
    long double gain = 0.0L;         // of a shelf
    bool attenuationGiven = false, gainGiven = false;
};

// The kind or response of that name; DesignError for any other name.
dsp::TdspIIRFilterKind KindNamed(const std::string& name);
dsp::TdspIIRFilterResponse ResponseNamed(const std::string& name);
std::string KindName(dsp::TdspIIRFilterKind kind);
std::string ResponseName(dsp::TdspIIRFilterResponse response);
bool IsBand(dsp::TdspIIRFilterResponse response);
bool IsShelf(dsp::TdspIIRFilterResponse response);

// The number `text` spells, read in the extended format (strtold); DesignError ("OPTION wants a
// number, not 'TEXT'") for anything else, or a value that is not finite.
long double ParseNumber(const std::string& option, const std::string& text);
// DesignError unless `value` is finite ("OPTION wants a number, not 'TEXT'").
void CheckNumber(const std::string& option, long double value, const std::string& text);
// DesignError unless `value` is a whole number from 1 to 8.
int CheckedOrder(long double value, const std::string& text);
// DesignError unless `value` is above 0.
void CheckRate(long double value, const std::string& text);

// The checks across settings: a band filter needs f2, above f1; a shelf is Butterworth; an
// elliptic filter's attenuation (as stored) lies above its ripple. `prefix` goes before the
// settings' names in the message ("--" on the command line).
void CheckDesignSettings(const DesignSettings& settings, const std::string& prefix);

// Sets the filter's properties through its public setters, as any caller would: rate first,
// then ripple, attenuation, gain, kind, response, order and the band edges.
void ConfigureFilter(dsp::TdspIIRFilter& filter, const DesignSettings& settings);

// One line for each setting the filter stored as another value than the one asked for ("f1
// 1000000000 was stored as 22049.9999 (band edges lie …)") or designs at another value (an edge
// below the design's floor of order·10⁻⁴ cycles per sample).
std::vector<std::string> StorageNotes(const dsp::TdspIIRFilter& filter,
                                      const DesignSettings& settings);

// w = 2π·hertz/rate, radians per sample, as every response of a design is evaluated.
long double AngularFrequency(long double hertz, long double rate);

} // namespace vurnel::host
