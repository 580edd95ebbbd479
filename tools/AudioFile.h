// Reading and writing audio files through libsndfile, with writes that never leave a partial
// file behind.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace vurnel::host {

struct AudioError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Interleaved samples.
struct Audio {
    int channels = 0;
    int sampleRate = 0;
    std::vector<float> samples;
    long long Frames() const {
        return channels ? static_cast<long long>(samples.size()) / channels : 0;
    }
};

Audio ReadAudio(const std::string& path); // throws AudioError

// Writes to a temporary file beside path in the format its extension names (.wav: 32-bit float;
// .flac, .aiff, .au, .caf, .ogg) and renames it into place only when everything is written.
void WriteAudio(const std::string& path, const Audio& audio); // throws AudioError

// Throws AudioError unless path's extension names a format WriteAudio can write.
void CheckWritableFormat(const std::string& path);

} // namespace vurnel::host
