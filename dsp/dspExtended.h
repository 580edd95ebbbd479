// The extended real type of the filter library: the 80-bit x87 format, 64-bit significand.
#pragma once

#include <cfloat>

static_assert(LDBL_MANT_DIG == 64, "long double must be the 80-bit extended format");

namespace vurnel::dsp {

// The extended value nearest to π.
constexpr long double Pi = 3.141592653589793238462643383279502884L;

} // namespace vurnel::dsp
