// Audio files read and written block by block, so memory does not grow with a file's length.
// "-" names standard input or output. A written file appears under its name only when it is
// complete: until then it is a temporary file beside it, removed on an error or a signal.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "AudioFile.h"

namespace vurnel::host {

// A format that cannot be written, or an option naming one that does not exist: one line.
struct FormatError : AudioError {
    using AudioError::AudioError;
};

// Text tags (title, artist, ...) as libsndfile numbers them (SF_STR_TITLE, ...).
using AudioTags = std::vector<std::pair<int, std::string>>;

struct StreamInfo {
    int channels = 0;
    int sampleRate = 0;
    long long frames = -1; // -1 when a stream does not say
    int format = 0;        // libsndfile's container | sample format
    AudioTags tags;
};

class AudioReader {
public:
    explicit AudioReader(const std::string& path); // throws AudioError
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    const StreamInfo& Info() const { return info_; }
    const std::string& Path() const { return path_; }
    // Fills up to `frames` interleaved frames; fewer only at the end. Throws AudioError.
    long long Read(float* interleaved, long long frames);

private:
    std::string path_;
    SNDFILE* file_ = nullptr;
    StreamInfo info_;
};

// The output's container and sample format: `formatName` (--format) or else the output's
// extension chooses the container, `bits` (--bits: 16, 24, 32 or float) the sample format; what
// neither names is the input's where the container can hold it. Throws FormatError.
int ChooseOutputFormat(const std::string& outPath, int inputFormat, const std::string& formatName,
                       const std::string& bits);

// "24-bit WAV", "FLAC 16-bit", ... for messages.
std::string FormatName(int format);

class AudioWriter {
public:
    // Opens a temporary file beside `path` (or standard output for "-"). `frames` is the length
    // if known (-1 if not), used for the header of a stream that cannot be rewound.
    AudioWriter(const std::string& path, int format, int channels, int sampleRate, long long frames,
                const AudioTags& tags, bool dither); // throws AudioError
    // Removes the temporary file unless Commit succeeded.
    ~AudioWriter();
    AudioWriter(const AudioWriter&) = delete;
    AudioWriter& operator=(const AudioWriter&) = delete;

    // Converts interleaved float frames to the file's sample format and writes them. Into an
    // integer format samples round to nearest (after triangular dither if asked); samples
    // beyond full scale are clipped and counted. Throws AudioError.
    void Write(const float* interleaved, long long frames);
    // Finishes the header and renames the file into place. Throws AudioError.
    void Commit();

    long long Clipped() const { return clipped_; }
    float Peak() const { return peak_; } // largest magnitude written, before conversion
    bool IntegerFormat() const { return bits_ > 0; }

private:
    void WriteBytes(const void* data, std::size_t size);
    void WriteWavHeader(long long frames);
    void Abandon() noexcept;

    std::string path_, temporary_;
    int fd_ = -1;
    bool toStdout_ = false, committed_ = false, ownWav_ = false, seekable_ = false;
    SNDFILE* file_ = nullptr;
    int format_, channels_, sampleRate_;
    int bits_ = 0; // 16, 24 or 32 for integers, 0 for float and lossy formats
    bool dither_;
    std::uint64_t random_ = 0x9E3779B97F4A7C15ull;
    long long expectedFrames_, written_ = 0, failAfter_ = -1;
    long long clipped_ = 0;
    float peak_ = 0.0f;
    std::int64_t dataOffset_ = 0, factOffset_ = -1;
    std::vector<std::int32_t> ints_;
    std::vector<unsigned char> bytes_;
    AudioTags tags_;
};

} // namespace vurnel::host
