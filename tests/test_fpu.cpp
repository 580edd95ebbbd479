// The load-time floating-point set-up masks exceptions and leaves every other bit alone.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "FloatingPointSetup.h"

using namespace vurnel;

namespace {
// Restores the thread's control words whatever a test does to them.
struct FpuGuard {
    std::uint16_t x87 = ReadX87ControlWord();
    std::uint32_t mxcsr = ReadMxcsr();
    ~FpuGuard() {
        LoadX87ControlWord(x87);
        LoadMxcsr(mxcsr);
    }
};
} // namespace

TEST(LoadTimeSetup, SetsTheSixMaskBitsAndKeepsPrecisionAndRounding) {
    FpuGuard guard;
    // Bit 6 is reserved and reads back as 1 whatever is loaded.
    for (std::uint16_t word : {std::uint16_t{0x1332}, std::uint16_t{0x0C00}, std::uint16_t{0x0240},
                               std::uint16_t{0x037F}}) {
        LoadX87ControlWord(word);
        const std::uint16_t before = ReadX87ControlWord();
        MaskFloatingPointExceptions();
        const std::uint16_t after = ReadX87ControlWord();
        EXPECT_EQ(after & 0x3F, 0x3F) << std::hex << word;
        EXPECT_EQ(after & ~0x3F, before & ~0x3F) << std::hex << word;
    }
    LoadX87ControlWord(0x1332);
    MaskFloatingPointExceptions();
    EXPECT_EQ(ReadX87ControlWord() & ~0x40, 0x133F);
}

TEST(LoadTimeSetup, MasksSseExceptionsAndKeepsRoundingAndFlushBits) {
#if defined(__x86_64__)
    FpuGuard guard;
    const std::uint32_t rounding = 0x6000, flushToZero = 0x8000, denormalsAreZero = 0x0040;
    LoadMxcsr(rounding | flushToZero | denormalsAreZero); // all exceptions unmasked
    MaskFloatingPointExceptions();
    EXPECT_EQ(ReadMxcsr() & 0xFFC0, rounding | flushToZero | denormalsAreZero | 0x1F80);
#else
    GTEST_SKIP() << "no SSE arithmetic on this target";
#endif
}

TEST(LoadTimeSetup, ArithmeticFaultsGiveInfinitiesNotTraps) {
    FpuGuard guard;
    LoadX87ControlWord(0x1332); // zero-divide and overflow unmasked
    MaskFloatingPointExceptions();
    volatile long double zero = 0.0L, one = 1.0L, big = std::numeric_limits<long double>::max();
    EXPECT_TRUE(std::isinf(one / zero));
    EXPECT_TRUE(std::isinf(big * big));
    EXPECT_TRUE(std::isnan(zero / zero));
}
