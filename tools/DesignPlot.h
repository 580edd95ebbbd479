// The picture of a design: magnitude, phase and group delay against a logarithmic frequency
// axis up to Nyquist, with the band edges and the −3 dB line marked, and the poles and zeros in
// the z-plane with the unit circle. Plain SVG, drawn here.
#pragma once

#include <string>
#include <vector>

#include "FilterDesign.h"

namespace vurnel::host {

// `note`, if not empty, is drawn under the title (what the curves show, when it is not the
// recursion); `recursion`, if not empty, is the recursion's own magnitude, drawn thin and dashed
// beside the main curve.
std::string DesignSvg(const dsp::TdspIIRFilter& filter, const std::vector<FrequencyPoint>& response,
                      const std::string& title, const std::string& note = "",
                      const std::vector<FrequencyPoint>& recursion = {});

} // namespace vurnel::host
