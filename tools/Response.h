// Measuring a plug-in's magnitude response and drawing it.
#pragma once

#include <string>
#include <vector>

#include "VstHost.h"

namespace vurnel::host {

struct ResponsePoint {
    double hertz;
    double leftDb;
    double rightDb;
};

// Feeds a unit impulse to both inputs of a started instance and evaluates the spectrum of the
// response at `points` log-spaced frequencies from 20 Hz to just below Nyquist.
std::vector<ResponsePoint> MeasureResponse(const VstInstance& instance, float sampleRate,
                                           int points = 200);

// Frequencies to mark: the displays of the parameters whose label is "Hz".
std::vector<std::pair<std::string, double>> CutoffMarks(const VstInstance& instance);

std::string ResponseCsv(const std::vector<ResponsePoint>& response);
std::string ResponseSvg(const std::vector<ResponsePoint>& response,
                        const std::vector<std::pair<std::string, double>>& marks,
                        const std::string& title);

} // namespace vurnel::host
