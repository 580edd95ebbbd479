#include "AudioFile.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace vurnel::host {
namespace {

std::string Extension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

int FormatFor(const std::string& path) {
    const std::string ext = Extension(path);
    if (ext == "wav") return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    if (ext == "flac") return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
    if (ext == "aif" || ext == "aiff") return SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
    if (ext == "au") return SF_FORMAT_AU | SF_FORMAT_FLOAT;
    if (ext == "caf") return SF_FORMAT_CAF | SF_FORMAT_FLOAT;
    if (ext == "ogg") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    return 0;
}

} // namespace

void CheckWritableFormat(const std::string& path) {
    if (FormatFor(path) == 0)
        throw AudioError("unknown output format '" + path +
                         "' (use .wav, .flac, .aiff, .au, .caf or .ogg)");
}

Audio ReadAudio(const std::string& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) throw AudioError("cannot read " + path + ": " + sf_strerror(nullptr));
    Audio audio;
    audio.channels = info.channels;
    audio.sampleRate = info.samplerate;
    audio.samples.resize(static_cast<std::size_t>(info.frames) * info.channels);
    const sf_count_t got = sf_readf_float(file, audio.samples.data(), info.frames);
    sf_close(file);
    if (got != info.frames) throw AudioError("cannot read all of " + path);
    return audio;
}

void WriteAudio(const std::string& path, const Audio& audio) {
    CheckWritableFormat(path);
    std::string temporary = path + ".partial-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0) throw AudioError("cannot create a file beside " + path);
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask); // what a plain create would give
    SF_INFO info{};
    info.channels = audio.channels;
    info.samplerate = audio.sampleRate;
    info.format = FormatFor(path);
    SNDFILE* file = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!file) {
        close(fd);
        std::remove(temporary.c_str());
        throw AudioError("cannot write " + path + ": " + sf_strerror(nullptr));
    }
    // Integer formats cannot hold samples beyond full scale: clip them rather than fail, and
    // say so. 32-bit float WAV keeps them.
    const bool integerFormat = (info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT;
    if (integerFormat) {
        sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
        const auto clipped = std::count_if(audio.samples.begin(), audio.samples.end(),
                                           [](float v) { return v > 1.0f || v < -1.0f; });
        if (clipped > 0)
            std::fprintf(stderr,
                         "vurnel: note: %ld samples beyond full scale were clipped in %s "
                         "(a .wav file keeps them as 32-bit floats)\n",
                         static_cast<long>(clipped), path.c_str());
    }
    const sf_count_t written = sf_writef_float(file, audio.samples.data(), audio.Frames());
    const int closed = sf_close(file);
    if (written != audio.Frames() || closed != 0 || std::rename(temporary.c_str(), path.c_str())) {
        std::remove(temporary.c_str());
        throw AudioError("cannot write " + path);
    }
}

} // namespace vurnel::host
