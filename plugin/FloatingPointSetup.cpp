#include "FloatingPointSetup.h"

#if !defined(__i386__) && !defined(__x86_64__)
#error "the floating-point set-up is written for x86"
#endif

namespace vurnel {

std::uint16_t ReadX87ControlWord() noexcept {
    std::uint16_t word = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(word));
    return word;
}

void LoadX87ControlWord(std::uint16_t word) noexcept {
    __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(word));
}

std::uint32_t ReadMxcsr() noexcept {
    std::uint32_t value = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(value));
    return value;
}

void LoadMxcsr(std::uint32_t value) noexcept {
    __asm__ __volatile__("ldmxcsr %0" : : "m"(value));
}

void MaskFloatingPointExceptions() noexcept {
    LoadX87ControlWord(static_cast<std::uint16_t>(ReadX87ControlWord() | kX87ExceptionMasks));
#if defined(__x86_64__)
    LoadMxcsr(ReadMxcsr() | kMxcsrExceptionMasks);
#endif
}

} // namespace vurnel
