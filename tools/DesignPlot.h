// The picture of a design: magnitude, phase and group delay against a logarithmic frequency
// axis up to Nyquist, with the band edges and the −3 dB line marked, and the poles and zeros in
// the z-plane with the unit circle. Plain SVG, drawn here.
#pragma once

#include <string>
#include <vector>

#include "FilterDesign.h"

namespace vurnel::host {

std::string DesignSvg(const dsp::TdspIIRFilter& filter, const std::vector<FrequencyPoint>& response,
                      const std::string& title);

} // namespace vurnel::host
