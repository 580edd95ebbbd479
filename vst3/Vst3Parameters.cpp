#include "Vst3Parameters.h"

#include <cmath>
#include <cstring>

#include "ToneControls.h"

namespace vurnel::vst3 {

namespace {

struct Parameter {
    const char* title;
    const char* shortTitle;
    const char* units;
    int control; // the ToneControls control, or -1 for bypass
    bool logarithmic;
};
const Parameter kParameters[kParameterCount] = {
    {"Bass cutoff", "Bass Hz", "Hz", kBassCutoffControl, true},
    {"Treble cutoff", "Treble Hz", "Hz", kTrebleCutoffControl, true},
    {"Bass", "Bass", "dB", kBassControl, false},
    {"Treble", "Treble", "dB", kTrebleControl, false},
    {"Smooth", "Smooth", "", kSmoothControl, false},
    {"Bypass", "Bypass", "", -1, false},
};

bool IsSwitch(ParamID id) {
    return id == kSmoothId || id == kBypassId;
}

void Copy(TChar* to, const char* from, std::size_t size) {
    std::size_t i = 0;
    for (; i + 1 < size && from[i] != '\0'; ++i)
        to[i] = static_cast<TChar>(static_cast<unsigned char>(from[i]));
    to[i] = 0;
}

double Clamp01(double x) {
    return x < 0.0 ? 0.0 : x > 1.0 ? 1.0 : x;
}

// State blobs: a four-byte tag, a 32-bit version, then the payload, all little-endian.
constexpr char kProcessorTag[4] = {'V', 'r', 'n', 'P'};
constexpr char kControllerTag[4] = {'V', 'r', 'n', 'C'};
constexpr std::uint32_t kStateVersion = 1;
constexpr std::size_t kHeaderBytes = 8;
constexpr std::size_t kProcessorBytes = kHeaderBytes + 8 * kParameterCount;

void PutU32(unsigned char* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint32_t GetU32(const unsigned char* at) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t{at[i]} << (8 * i);
    return v;
}
void PutU64(unsigned char* at, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<unsigned char>(v >> (8 * i));
}
std::uint64_t GetU64(const unsigned char* at) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= std::uint64_t{at[i]} << (8 * i);
    return v;
}

bool WriteAll(IBStream* stream, unsigned char* bytes, std::size_t size) {
    if (stream == nullptr) return false;
    std::size_t done = 0;
    while (done < size) {
        std::int32_t wrote = 0;
        const tresult r =
            stream->write(bytes + done, static_cast<std::int32_t>(size - done), &wrote);
        if (r != kResultOk || wrote <= 0 || static_cast<std::size_t>(wrote) > size - done)
            return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

// Reads exactly size bytes and then finds the stream's end: false for fewer or more.
bool ReadExactly(IBStream* stream, unsigned char* bytes, std::size_t size) {
    if (stream == nullptr) return false;
    std::size_t done = 0;
    while (done < size) {
        std::int32_t got = 0;
        const tresult r = stream->read(bytes + done, static_cast<std::int32_t>(size - done), &got);
        if (r != kResultOk || got <= 0 || static_cast<std::size_t>(got) > size - done) return false;
        done += static_cast<std::size_t>(got);
    }
    unsigned char extra;
    std::int32_t got = 0;
    return !(stream->read(&extra, 1, &got) == kResultOk && got > 0);
}

bool HeaderIs(const unsigned char* bytes, const char (&tag)[4]) {
    return std::memcmp(bytes, tag, 4) == 0 && GetU32(bytes + 4) == kStateVersion;
}

} // namespace

bool DescribeParameter(std::int32_t index, ParameterInfo& info) {
    if (index < 0 || index >= kParameterCount) return false;
    const Parameter& p = kParameters[index];
    std::memset(&info, 0, sizeof info);
    info.id = static_cast<ParamID>(index);
    Copy(info.title, p.title, 128);
    Copy(info.shortTitle, p.shortTitle, 128);
    Copy(info.units, p.units, 128);
    info.stepCount = IsSwitch(info.id) ? 1 : 0;
    info.defaultNormalizedValue = DefaultNormalized(info.id);
    info.unitId = kRootUnitId;
    info.flags = kCanAutomate | (index == kBypassId ? kIsBypass : 0);
    return true;
}

double DefaultNormalized(ParamID id) {
    if (id == kBypassId) return 0.0;
    if (!IsParameter(id)) return 0.0;
    return ToNormalized(id, RangeOfControl(kParameters[id].control).defaultValue);
}

double ToPlain(ParamID id, double normalized) {
    if (!IsParameter(id)) return 0.0;
    if (std::isnan(normalized)) normalized = DefaultNormalized(id);
    const double n = Clamp01(normalized);
    if (IsSwitch(id)) return n >= 0.5 ? 1.0 : 0.0;
    const ToneControlRange& r = RangeOfControl(kParameters[id].control);
    const double lo = r.minimum, hi = r.maximum;
    // On a grid of 0.01 Hz or 0.001 dB: hosts keep normalized values as 32-bit floats (Ardour
    // does), which moves a value set as 6 dB to 5.9999990 dB; on the grid it is 6 again, and
    // the sound is the LV2 plug-in's and `vurnel render`'s for 6 dB, bit for bit.
    const double plain =
        kParameters[id].logarithmic ? lo * std::exp(n * std::log(hi / lo)) : lo + n * (hi - lo);
    const double grid = kParameters[id].logarithmic ? 100.0 : 1000.0;
    const double snapped = std::round(plain * grid) / grid;
    return snapped < lo ? lo : snapped > hi ? hi : snapped;
}

double ToNormalized(ParamID id, double plain) {
    if (!IsParameter(id)) return 0.0;
    if (IsSwitch(id)) return std::isnan(plain) ? DefaultNormalized(id) : plain >= 0.5 ? 1.0 : 0.0;
    if (std::isnan(plain)) return DefaultNormalized(id);
    const ToneControlRange& r = RangeOfControl(kParameters[id].control);
    const double lo = r.minimum, hi = r.maximum;
    if (!(plain > lo)) return 0.0;
    if (!(plain < hi)) return 1.0;
    if (kParameters[id].logarithmic) return Clamp01(std::log(plain / lo) / std::log(hi / lo));
    return Clamp01((plain - lo) / (hi - lo));
}

void ParameterText(ParamID id, double normalized, String128 text) {
    text[0] = 0;
    if (!IsParameter(id)) return;
    const double plain = ToPlain(id, normalized);
    if (id == kBypassId) {
        Copy(text, plain > 0.0 ? "on" : "off", 128);
        return;
    }
    char ascii[32];
    ControlText(kParameters[id].control, static_cast<float>(plain), ascii, sizeof ascii);
    Copy(text, ascii, 128);
}

bool ParseParameterText(ParamID id, const TChar* text, double& normalized) {
    if (!IsParameter(id) || text == nullptr) return false;
    char ascii[128];
    std::size_t n = 0;
    for (; n + 1 < sizeof ascii && text[n] != 0; ++n) {
        if (text[n] > 0x7E) return false;
        ascii[n] = static_cast<char>(text[n]);
    }
    ascii[n] = '\0';
    float value = 0.0f;
    const int control =
        id == kBypassId ? static_cast<int>(kSmoothControl) : kParameters[id].control;
    if (!ParseControlText(control, ascii, value)) return false;
    normalized = ToNormalized(id, static_cast<double>(value));
    return true;
}

bool WriteProcessorState(IBStream* stream, const double values[kParameterCount]) {
    unsigned char bytes[kProcessorBytes];
    std::memcpy(bytes, kProcessorTag, 4);
    PutU32(bytes + 4, kStateVersion);
    for (int i = 0; i < kParameterCount; ++i) {
        std::uint64_t bits;
        std::memcpy(&bits, &values[i], sizeof bits);
        PutU64(bytes + kHeaderBytes + 8 * i, bits);
    }
    return WriteAll(stream, bytes, sizeof bytes);
}

bool ReadProcessorState(IBStream* stream, double values[kParameterCount]) {
    unsigned char bytes[kProcessorBytes];
    if (!ReadExactly(stream, bytes, sizeof bytes) || !HeaderIs(bytes, kProcessorTag)) return false;
    double read[kParameterCount];
    for (int i = 0; i < kParameterCount; ++i) {
        const std::uint64_t bits = GetU64(bytes + kHeaderBytes + 8 * i);
        std::memcpy(&read[i], &bits, sizeof bits);
        if (!(read[i] >= 0.0 && read[i] <= 1.0)) return false;
    }
    for (int i = 0; i < kParameterCount; ++i)
        values[i] = read[i];
    return true;
}

bool WriteControllerState(IBStream* stream) {
    unsigned char bytes[kHeaderBytes];
    std::memcpy(bytes, kControllerTag, 4);
    PutU32(bytes + 4, kStateVersion);
    return WriteAll(stream, bytes, sizeof bytes);
}

bool ReadControllerState(IBStream* stream) {
    unsigned char bytes[kHeaderBytes];
    return ReadExactly(stream, bytes, sizeof bytes) && HeaderIs(bytes, kControllerTag);
}

} // namespace vurnel::vst3
