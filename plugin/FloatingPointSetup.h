// The load-time floating-point set-up: every exception masked on the loading thread, so that
// arithmetic faults give infinities or NaNs instead of traps. Precision and rounding stay as
// the host set them.
#pragma once

#include <cstdint>

namespace vurnel {

// Sets bits 0..5 of the calling thread's x87 control word (clearing pending exception flags
// first) and, on x86-64, the six exception-mask bits of MXCSR. Every other bit is left alone.
// Runs once on the thread that loads the library.
void MaskFloatingPointExceptions() noexcept;

// Direct access to the x87 control word and MXCSR of the calling thread.
std::uint16_t ReadX87ControlWord() noexcept;
void LoadX87ControlWord(std::uint16_t word) noexcept;
std::uint32_t ReadMxcsr() noexcept;
void LoadMxcsr(std::uint32_t value) noexcept;

constexpr std::uint16_t kX87ExceptionMasks = 0x3F;
constexpr std::uint32_t kMxcsrExceptionMasks = 0x1F80;

} // namespace vurnel
