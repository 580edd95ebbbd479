#include "ToneOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Lv2ToneControl.h"

namespace vurnel::host {

namespace {

const ToneOptionInfo kOptions[kToneControls] = {
    {"--bass-cutoff", "bass_cutoff", "Hz", 0, 0, 0},
    {"--treble-cutoff", "treble_cutoff", "Hz", 0, 0, 0},
    {"--bass", "bass", "dB", 0, 0, 0},
    {"--treble", "treble", "dB", 0, 0, 0},
};

// The options with the ports' ranges filled in from the LV2 plug-in.
const ToneOptionInfo* Options() {
    static const struct Table {
        ToneOptionInfo entries[kToneControls];
        Table() {
            for (int c = 0; c < kToneControls; ++c) {
                entries[c] = kOptions[c];
                const auto& range =
                    Lv2ToneControl::RangeOf(Lv2ToneControl::kFirstControl + std::uint32_t(c));
                entries[c].minimum = range.minimum;
                entries[c].maximum = range.maximum;
                entries[c].defaultValue = range.defaultValue;
            }
        }
    } table;
    return table.entries;
}

bool EqualNoCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if ((*a | 0x20) != (*b | 0x20)) return false;
    return *a == *b;
}

std::string Range(const ToneOptionInfo& o) {
    char text[96];
    std::snprintf(text, sizeof text, "%g to %g %s", static_cast<double>(o.minimum),
                  static_cast<double>(o.maximum), o.unit);
    return text;
}

} // namespace

const ToneOptionInfo& ToneOptionOf(int control) {
    return Options()[control];
}

bool ToneSettings::Any() const {
    for (const auto& v : value)
        if (v) return true;
    return false;
}

float ParseToneValue(int control, const std::string& text) {
    const ToneOptionInfo& o = ToneOptionOf(control);
    const bool hertz = std::strcmp(o.unit, "Hz") == 0;
    const std::string what = std::string(o.option) + " '" + text + "'";
    const std::string wanted = " (" + Range(o) + ")";
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || errno == ERANGE || !std::isfinite(value))
        throw ToneOptionError(what + " is not a number" + wanted);
    while (*end == ' ')
        ++end;
    if (*end != '\0') {
        if (hertz && EqualNoCase(end, "kHz")) {
            value *= 1000.0;
        } else if (!EqualNoCase(end, o.unit)) {
            throw ToneOptionError(what + " has a unit that is not " + o.unit + wanted);
        }
    }
    const float f = static_cast<float>(value);
    if (!(f >= o.minimum && f <= o.maximum))
        throw ToneOptionError(what + " is outside " + Range(o));
    return f;
}

bool ParseToneOption(const std::vector<std::string>& args, std::size_t& i, ToneSettings& into) {
    const std::string& arg = args[i];
    for (int c = 0; c < kToneControls; ++c) {
        const std::string name = ToneOptionOf(c).option;
        std::string text;
        if (arg == name) {
            if (i + 1 >= args.size())
                throw ToneOptionError(name + " needs a value (" + Range(ToneOptionOf(c)) + ")");
            text = args[++i];
        } else if (arg.compare(0, name.size() + 1, name + "=") == 0) {
            text = arg.substr(name.size() + 1);
        } else {
            continue;
        }
        into.value[c] = ParseToneValue(c, text);
        ++i;
        return true;
    }
    return false;
}

float ToneParameterValue(int control, float value) {
    const std::uint32_t port = Lv2ToneControl::kFirstControl + static_cast<std::uint32_t>(control);
    return Lv2ToneControl::ToParameter(port, Lv2ToneControl::Clamp(port, value));
}

std::string ToneValueText(int control, float value) {
    return Lv2ToneControl::ValueText(Lv2ToneControl::kFirstControl + std::uint32_t(control), value);
}

const char kToneOptionsHelp[] =
    "  --bass DB            bass gain, -20 to 20 dB (0 is flat)\n"
    "  --treble DB          treble gain, -20 to 20 dB (0 is flat)\n"
    "  --bass-cutoff HZ     bass cutoff, 50 to 500 Hz\n"
    "  --treble-cutoff HZ   treble cutoff, 3000 to 10000 Hz (3.5kHz also reads)\n";

} // namespace vurnel::host
