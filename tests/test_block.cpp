// The block calls of the filter library: the bits of the per-sample routine over every design
// and buffer type, and the recovery after a sample that is not finite.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dspSections.h"

using namespace vurnel::dsp;

namespace {

struct Setting {
    TdspIIRFilterKind kind;
    TdspIIRFilterResponse response;
    int order;
};

// Every kind with every response it designs, at every order.
std::vector<Setting> EveryDesign() {
    std::vector<Setting> all;
    for (int kind = fkButterworth; kind <= fkElliptic; ++kind)
        for (int response = ftLowpass; response <= ftHighShelf; ++response)
            for (int order = 1; order <= 8; ++order)
                if (response < ftLowShelf || kind == fkButterworth)
                    all.push_back({static_cast<TdspIIRFilterKind>(kind),
                                   static_cast<TdspIIRFilterResponse>(response), order});
    return all;
}

void Configure(TdspIIRFilter& f, const Setting& s, long double rate) {
    f.SetSampleRate(rate);
    f.SetKind(s.kind);
    f.SetResponse(s.response);
    f.SetOrder(static_cast<TdspIIRFilterOrder>(s.order));
    f.SetRipple(1);
    f.SetAttenuation(60);
    f.SetGain(-9);
    f.SetFrequency(1, 700);
    f.SetFrequency(2, 2500);
}

// Noise, then silence with zeros of either sign, then a quiet tone; as T.
template <typename T> std::vector<T> Signal(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> d(-1, 1);
    std::vector<T> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        if (i < n / 2)
            v[i] = static_cast<T>(d(rng));
        else if (i < 3 * n / 4)
            v[i] = (rng() & 1) ? T(0) : -T(0);
        else
            v[i] = static_cast<T>(1e-3 * std::sin(0.01 * static_cast<double>(i)));
    }
    return v;
}

template <typename T> bool SameBits(const std::vector<T>& a, const std::vector<T>& b) {
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(T) > 8 ? 10 : sizeof(T)) != 0) return false;
    return true;
}

bool SameBits(long double a, long double b) {
    return std::memcmp(&a, &b, 10) == 0;
}

// The filter and its sections run sample by sample and by blocks of random sizes (some longer
// than the block loops' chunks), in place or not: every output and every history entry alike.
template <typename T> void CompareBlocks(const Setting& s, long double rate, unsigned seed) {
    TdspIIRFilter plain, blocks;
    Configure(plain, s, rate);
    Configure(blocks, s, rate);
    TdspIIRSections plainSections(plain), blockSections(blocks);
    const std::vector<T> in = Signal<T>(3000, seed);
    std::vector<T> expected(in.size()), expectedSections(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        expected[i] = static_cast<T>(plain.ProcessSample(in[i]));
        expectedSections[i] = static_cast<T>(plainSections.ProcessSample(in[i]));
    }
    std::vector<T> out(in.size()), outSections(in), scratch(in.size());
    std::mt19937 rng(seed);
    for (std::size_t at = 0; at < in.size();) {
        const int n = static_cast<int>(std::min<std::size_t>(rng() % 600, in.size() - at));
        if (rng() & 1) {
            blocks.ProcessBlock(in.data() + at, out.data() + at, n);
        } else {
            std::copy(in.begin() + at, in.begin() + at + n, out.begin() + at);
            blocks.ProcessBlock(out.data() + at, out.data() + at, n);
        }
        blockSections.ProcessBlock(outSections.data() + at, outSections.data() + at, n);
        at += n;
    }
    const char* type = sizeof(T) == 4 ? "float" : sizeof(T) == 8 ? "double" : "long double";
    SCOPED_TRACE(testing::Message() << "kind " << int(s.kind) << ", response " << int(s.response)
                                    << ", order " << s.order << ", " << rate << " Hz, " << type);
    if (plain.IsStable()) { // an unstable recursion overflows, and the block call starts again
        EXPECT_TRUE(SameBits(out, expected));
        bool histories = true;
        for (int i = 0; i <= plain.GetNumTaps(); ++i)
            histories = histories && SameBits(plain.GetXV()[i], blocks.GetXV()[i]) &&
                        SameBits(plain.GetYV()[i], blocks.GetYV()[i]);
        EXPECT_TRUE(histories);
    }
    EXPECT_TRUE(SameBits(outSections, expectedSections));
}

} // namespace

TEST(FilterBlock, BlockCallsKeepTheBitsOfProcessSampleForEveryDesignAndBufferType) {
    unsigned seed = 1;
    for (const Setting& s : EveryDesign()) {
        const long double rate = (seed % 3 == 0) ? 22050 : (seed % 3 == 1) ? 48000 : 96000;
        CompareBlocks<float>(s, rate, seed++);
        CompareBlocks<double>(s, rate, seed++);
        CompareBlocks<long double>(s, rate, seed++);
    }
}

// A block after samples of other types (long double samples that are not floats, then a double
// block): the block loops find the inputs before it again only where they give the stored
// products' bits, and run the older loop otherwise; every output keeps the bits of ProcessSample.
TEST(FilterBlock, ABlockAfterSamplesOfAnotherTypeOrANewDesignKeepsTheBits) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<long double> d(-1, 1);
    for (int order = 1; order <= 8; ++order) {
        for (const Setting& s :
             {Setting{fkButterworth, ftLowpass, order}, Setting{fkChebyshev, ftHighpass, order}}) {
            TdspIIRFilter plain, blocks;
            Configure(plain, s, 48000);
            Configure(blocks, s, 48000);
            for (int i = 0; i < 16; ++i) {
                const long double v = d(rng);
                EXPECT_TRUE(SameBits(plain.ProcessSample(v), blocks.ProcessSample(v)));
            }
            std::vector<double> wide(64);
            for (double& v : wide)
                v = static_cast<double>(d(rng));
            std::vector<float> narrow(wide.begin(), wide.end());
            std::vector<double> wideOut(wide.size());
            std::vector<float> narrowOut(narrow.size());
            blocks.ProcessBlock(wide.data(), wideOut.data(), 64);
            blocks.ProcessBlock(narrow.data(), narrowOut.data(), 64);
            bool same = true;
            for (std::size_t i = 0; i < wide.size(); ++i)
                same = same && static_cast<double>(plain.ProcessSample(wide[i])) == wideOut[i];
            for (std::size_t i = 0; i < narrow.size(); ++i)
                same = same && static_cast<float>(plain.ProcessSample(narrow[i])) == narrowOut[i];
            // A new design of as many taps: the block calls' cached work on the coefficients is
            // done again.
            plain.SetFrequency(1, 1100);
            blocks.SetFrequency(1, 1100);
            blocks.ProcessBlock(narrow.data(), narrowOut.data(), 64);
            for (std::size_t i = 0; i < narrow.size(); ++i)
                same = same && static_cast<float>(plain.ProcessSample(narrow[i])) == narrowOut[i];
            for (int i = 0; i <= plain.GetNumTaps(); ++i)
                same = same && SameBits(plain.GetXV()[i], blocks.GetXV()[i]) &&
                       SameBits(plain.GetYV()[i], blocks.GetYV()[i]);
            EXPECT_TRUE(same) << "order " << order << ", kind " << int(s.kind);
        }
    }
}

// A NaN or an infinity in one block: the next block's output is finite, and it is the output of
// the same filter started from rest.
TEST(FilterBlock, ASampleThatIsNotFiniteLeavesTheOutputFiniteFromTheNextBlock) {
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(),
                         std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    for (const Setting& s :
         {Setting{fkButterworth, ftLowpass, 1}, Setting{fkChebyshev, ftHighpass, 3},
          Setting{fkElliptic, ftBandstop, 8}}) {
        for (float x : bad) {
            TdspIIRFilter f, fresh;
            Configure(f, s, 44100);
            Configure(fresh, s, 44100);
            TdspIIRSections sections(f), freshSections(fresh);
            std::vector<float> block = Signal<float>(256, 7), sectionsBlock = block;
            block[100] = sectionsBlock[100] = x;
            f.ProcessBlock(block.data(), block.data(), 256);
            sections.ProcessBlock(sectionsBlock.data(), sectionsBlock.data(), 256);
            EXPECT_FALSE(std::isfinite(block[100]));
            const std::vector<float> next = Signal<float>(512, 8);
            std::vector<float> out(512), expected(512), outSections(512), expectedSections(512);
            f.ProcessBlock(next.data(), out.data(), 512);
            fresh.ProcessBlock(next.data(), expected.data(), 512);
            sections.ProcessBlock(next.data(), outSections.data(), 512);
            freshSections.ProcessBlock(next.data(), expectedSections.data(), 512);
            EXPECT_TRUE(SameBits(out, expected));
            EXPECT_TRUE(SameBits(outSections, expectedSections));
            for (float y : out)
                ASSERT_TRUE(std::isfinite(y));
        }
    }
}
