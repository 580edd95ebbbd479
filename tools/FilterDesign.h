// `vurnel design`: a filter of the library designed from settings a user gives, reported the way
// an engineer checks one: the settings as the filter stored them, its poles, zeros and
// coefficients, and its frequency response computed from the coefficients as the recursion
// runs them, in extended precision.
#pragma once

#include <string>
#include <vector>

#include "DesignSettings.h"
#include "dspIIRFilters.h"
#include "dspSections.h"

namespace vurnel::host {

// The settings as the command line gives them, with the outputs it asks for.
struct DesignRequest : DesignSettings {
    std::string svg, csv;  // output files, empty for none
    int impulse = 0;       // how many impulse-response samples to print
    bool sections = false; // report, draw and write the second-order sections
};

// Reads the options after `design`; throws DesignError for an unknown kind or response, an
// order outside 1..8, band edges out of order, a value that is not a number, a missing --f2 for a
// band filter, a rate that is not above 0, a shelf of another kind than Butterworth, an elliptic
// filter whose attenuation is not above its ripple, or an unknown option.
DesignRequest ParseDesignArguments(const std::vector<std::string>& args);

struct FrequencyPoint {
    long double hertz;
    long double magnitudeDb;
    long double phaseDegrees; // wrapped into (−180, 180]
    long double groupDelay;   // samples
    // False only where the evaluation may be off by more than 0.1 % (at a point within about
    // 1e−15 of a pole or zero on the unit circle, or where the response is exactly zero); the
    // plot leaves such points out. Everywhere else the values are those of the exact response
    // of the rounded coefficients, next to zeros on the unit circle too.
    bool reliable;
};

// H(e^jw) of the recursion y = g·x + Σ (xc[k]·g·x[n−N+k] + yc[k]·y[n−N+k]) at `points`
// log-spaced frequencies from Nyquist/10⁴ to 0.9999·Nyquist.
std::vector<FrequencyPoint> FrequencyResponse(const dsp::TdspIIRFilter& filter, int points = 1000);

// The first n outputs for a unit impulse, from the filter's own per-sample routine (the filter's
// histories are used and left changed).
std::vector<long double> ImpulseResponse(dsp::TdspIIRFilter& filter, int n);

// The same for the design run as second-order sections (dsp::SectionsResponse), at the same
// frequencies for a filter at `rate`.
std::vector<FrequencyPoint> SectionsFrequencyResponse(const dsp::TdspIIRSections& sections,
                                                      long double rate, int points = 1000);

// The first n outputs of the sections for a unit impulse (their histories are used and left
// changed).
std::vector<long double> ImpulseResponse(dsp::TdspIIRSections& sections, int n);

// "stable", "unstable (largest root |z| = 1.090342354)", or that the routine runs no recursion.
std::string StabilityText(const dsp::TdspIIRFilter& filter);
// The largest distance between a root of the rounded recursion and the nearest of the design's
// z-plane poles, and back (0 without taps).
long double RootShift(const dsp::TdspIIRFilter& filter);

// The sections' coefficients in the order they run, their gain and, if given, their impulse
// response.
std::string SectionsReport(const dsp::TdspIIRSections& sections,
                           const std::vector<long double>& impulse);

std::string DesignTitle(const dsp::TdspIIRFilter& filter);

// The printed report: stored settings and notes, s- and z-plane poles and zeros, gain factor,
// recursion coefficients (21 significant digits), routine, ErrorText, impulse response.
std::string DesignReport(const dsp::TdspIIRFilter& filter, const DesignRequest& request,
                         const std::vector<long double>& impulse);

// One row per frequency: hertz, magnitude dB, phase degrees, group delay in samples; a non-empty
// `note` follows the rows as one comment line ("# note").
std::string FrequencyCsv(const std::vector<FrequencyPoint>& response, const std::string& note = "");

} // namespace vurnel::host
