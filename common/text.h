// Small text helpers that every layer uses.
#pragma once

#include <cstdint>

namespace msr {

// atol as the C runtime reads a number (blanks, sign, digits), with a 32-bit long:
// out-of-range values saturate instead of overflowing.
std::int32_t atol32(const char* text);

}  // namespace msr
