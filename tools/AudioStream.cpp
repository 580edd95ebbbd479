#include "AudioStream.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace vurnel::host {
namespace {

// The temporary file being written, for the signal handler to remove: a fixed buffer, since
// the handler may only make async-signal-safe calls.
char gTemporary[4096];

extern "C" void RemoveTemporaryAndDie(int signal) {
    if (gTemporary[0]) unlink(gTemporary);
    ::signal(signal, SIG_DFL);
    raise(signal);
}

// Rounding to integer samples, written so that the result does not depend on the precision
// the compiler evaluates double expressions in (32-bit x86 keeps them in the x87 registers,
// where adding and taking away 1.5·2^52 does not round to an integer).

// The nearest integer to s, ties to even; beyond ±2^40 (far outside any sample format) s is
// held at ±2^40, so the clamp that follows still sees it out of range.
std::int64_t RoundDouble(double s) {
    constexpr double kFar = 0x1p40;
    if (!(s > -kFar)) return s != s ? 0 : -(std::int64_t{1} << 40);
    if (!(s < kFar)) return std::int64_t{1} << 40;
    return std::llrint(s); // s is exact here, and rounded by the current mode (to nearest)
}

// The nearest integer to the double sum s + d as one double addition rounds it (to 53 bits,
// ties to even) before the integer rounding: the sum is formed in extended precision together
// with its exact error (two-sum), and its 64-bit significand is rounded to 53 bits with the
// error breaking a tie, all of it exact in any evaluation of double.
std::int64_t RoundSumOfDoubles(double s, double d) {
    static_assert(std::numeric_limits<long double>::digits == 64, "80-bit extended expected");
    const long double a = s, b = d;
    const long double sum = a + b;
    const long double bv = sum - a;
    const long double err = (a - (sum - bv)) + (b - bv);
    if (sum != sum) return 0;
    if (!(std::fabs(sum) < 0x1p40L))
        return sum < 0 ? -(std::int64_t{1} << 40) : std::int64_t{1} << 40;
    if (sum == 0) return 0;
    unsigned char raw[sizeof(long double)];
    std::memcpy(raw, &sum, sizeof raw);
    std::uint64_t mant;
    std::memcpy(&mant, raw, sizeof mant);
    const int top = raw[8] | (raw[9] << 8);
    const bool negative = (top & 0x8000) != 0;
    int exponent =
        (top & 0x7FFF) - 16383 - 52; // value = (mant >> 11) · 2^exponent, before rounding
    std::uint64_t m = mant >> 11;
    const std::uint64_t low = mant & 0x7FF;
    const bool errAway = err != 0 && ((err < 0) == negative);
    if (low > 0x400 || (low == 0x400 && (errAway || (err == 0 && (m & 1))))) ++m;
    if (m >> 53) m >>= 1, ++exponent;
    // The 53-bit value m·2^exponent to the nearest integer, ties to even.
    std::uint64_t q;
    if (exponent >= 0) {
        q = m << exponent; // |sum| < 2^40, so no bit is lost
    } else if (exponent < -54) {
        q = 0; // below a half
    } else {
        const int shift = -exponent;
        q = m >> shift;
        const std::uint64_t rest = m & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (q & 1))) ++q;
    }
    const auto r = static_cast<std::int64_t>(q);
    return negative ? -r : r;
}

void InstallSignalHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = RemoveTemporaryAndDie;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
}

struct Container {
    const char* name;
    int type;
    const char* extensions[3];
};
const Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, {"wav", "wave", nullptr}},
    {"flac", SF_FORMAT_FLAC, {"flac", nullptr, nullptr}},
    {"aiff", SF_FORMAT_AIFF, {"aiff", "aif", nullptr}},
    {"au", SF_FORMAT_AU, {"au", "snd", nullptr}},
    {"caf", SF_FORMAT_CAF, {"caf", nullptr, nullptr}},
    {"ogg", SF_FORMAT_OGG, {"ogg", "oga", nullptr}},
    {"raw", SF_FORMAT_RAW, {"raw", "pcm", nullptr}},
};

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string Extension(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot + 1));
}

const Container* ContainerOf(int type) {
    for (const auto& c : kContainers)
        if (c.type == type) return &c;
    return nullptr;
}

bool Writable(int format) {
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 48000;
    info.format = format;
    return sf_format_check(&info) != 0;
}

int BitsOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
        return 32;
    default:
        return 0;
    }
}

// Little-endian fields of a WAV header.
void Put16(std::vector<unsigned char>& b, unsigned v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}
void Put32(std::vector<unsigned char>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}
void Tag(std::vector<unsigned char>& b, const char* id) {
    b.insert(b.end(), id, id + 4);
}
void Patch32(std::vector<unsigned char>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

const char* InfoId(int tag) {
    switch (tag) {
    case SF_STR_TITLE:
        return "INAM";
    case SF_STR_COPYRIGHT:
        return "ICOP";
    case SF_STR_SOFTWARE:
        return "ISFT";
    case SF_STR_ARTIST:
        return "IART";
    case SF_STR_COMMENT:
        return "ICMT";
    case SF_STR_DATE:
        return "ICRD";
    case SF_STR_ALBUM:
        return "IPRD";
    case SF_STR_GENRE:
        return "IGNR";
    case SF_STR_TRACKNUMBER:
        return "ITRK";
    default:
        return nullptr;
    }
}

} // namespace

AudioReader::AudioReader(const std::string& path) : path_(path == "-" ? "standard input" : path) {
    SF_INFO info{};
    if (path == "-") {
        if (isatty(STDIN_FILENO))
            throw AudioError("standard input is a terminal; pipe or redirect audio into it");
        file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE);
    } else {
        file_ = sf_open(path.c_str(), SFM_READ, &info);
    }
    if (!file_) throw AudioError("cannot read " + path_ + ": " + sf_strerror(nullptr));
    info_.channels = info.channels;
    info_.sampleRate = info.samplerate;
    info_.frames = info.frames >= 0 && info.frames < (1LL << 50) ? info.frames : -1;
    info_.format = info.format;
    for (int t = SF_STR_FIRST; t <= SF_STR_LAST; ++t)
        if (const char* s = sf_get_string(file_, t); s && *s) info_.tags.emplace_back(t, s);
}

AudioReader::~AudioReader() {
    sf_close(file_);
}

long long AudioReader::Read(float* interleaved, long long frames) {
    long long got = 0;
    while (got < frames) {
        const sf_count_t n =
            sf_readf_float(file_, interleaved + got * info_.channels, frames - got);
        if (n <= 0) break;
        got += n;
    }
    if (got < frames && sf_error(file_) != SF_ERR_NO_ERROR)
        throw AudioError("cannot read " + path_ + ": " + sf_strerror(file_));
    return got;
}

int ChooseOutputFormat(const std::string& outPath, int inputFormat, const std::string& formatName,
                       const std::string& bits) {
    int type = 0;
    if (!formatName.empty()) {
        for (const auto& c : kContainers)
            if (Lower(formatName) == c.name) type = c.type;
        if (!type)
            throw FormatError("--format '" + formatName +
                              "' is not one of wav, flac, aiff, au, caf, ogg, raw");
    } else if (outPath != "-") {
        const std::string ext = Extension(outPath);
        for (const auto& c : kContainers)
            for (const char* e : c.extensions)
                if (e && ext == e) type = c.type;
        if (!type)
            throw FormatError("unknown output format '" + outPath +
                              "' (use .wav, .flac, .aiff, .au, .caf, .ogg or .raw, or --format)");
    } else {
        type = inputFormat & SF_FORMAT_TYPEMASK;
        if (!ContainerOf(type) || type == SF_FORMAT_RAW) type = SF_FORMAT_WAV;
    }
    const std::string container = ContainerOf(type)->name;
    if (type == SF_FORMAT_OGG) {
        if (!bits.empty())
            throw FormatError("--bits '" + bits + "' does not apply to ogg (Vorbis has no " +
                              "sample format to choose)");
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    }
    int sub = 0;
    if (!bits.empty()) {
        const std::pair<const char*, int> named[] = {{"16", SF_FORMAT_PCM_16},
                                                     {"24", SF_FORMAT_PCM_24},
                                                     {"32", SF_FORMAT_PCM_32},
                                                     {"float", SF_FORMAT_FLOAT}};
        for (const auto& [name, value] : named)
            if (Lower(bits) == name) sub = value;
        if (!sub) throw FormatError("--bits '" + bits + "' is not one of 16, 24, 32, float");
        if (!Writable(type | sub))
            throw FormatError("--bits '" + bits + "' is not a sample format " + container +
                              " holds" + (type == SF_FORMAT_FLAC ? " (16 or 24)" : ""));
        return type | sub;
    }
    switch (inputFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        sub = inputFormat & SF_FORMAT_SUBMASK;
        break;
    case SF_FORMAT_DOUBLE:
        sub = SF_FORMAT_FLOAT;
        break;
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        sub = SF_FORMAT_PCM_16;
        break;
    default:
        sub = SF_FORMAT_PCM_24;
        break; // decoded from a lossy or companded format
    }
    if (!Writable(type | sub)) sub = SF_FORMAT_PCM_24; // FLAC holds no 32-bit or float samples
    return type | sub;
}

std::string FormatName(int format) {
    const Container* c = ContainerOf(format & SF_FORMAT_TYPEMASK);
    std::string name = c ? c->name : "audio";
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_VORBIS) return "Ogg Vorbis";
    const int bits = BitsOf(format);
    if (bits) return std::to_string(bits) + "-bit " + name;
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) return "32-bit float " + name;
    return name;
}

AudioWriter::AudioWriter(const std::string& path, int format, int channels, int sampleRate,
                         long long frames, const AudioTags& tags, bool dither)
    : path_(path == "-" ? "standard output" : path), toStdout_(path == "-"), format_(format),
      channels_(channels), sampleRate_(sampleRate), bits_(BitsOf(format)), dither_(dither),
      expectedFrames_(frames), tags_(tags) {
    if (const char* hook = std::getenv("VURNEL_FAIL_AFTER_FRAMES")) // a test's injected failure
        failAfter_ = std::atoll(hook);
    const int type = format & SF_FORMAT_TYPEMASK;
    ownWav_ = type == SF_FORMAT_WAV || type == SF_FORMAT_RAW;
    const int bytes = bits_ ? bits_ / 8 : 4;
    if (type == SF_FORMAT_WAV && frames > 0 &&
        static_cast<unsigned long long>(frames) * static_cast<unsigned>(channels * bytes) >
            0xFFFFFF00ull)
        throw FormatError("the output is too long for a WAV file (4 GiB); use --format caf or "
                          "--format flac");
    if (toStdout_) {
        if (isatty(STDOUT_FILENO))
            throw AudioError("standard output is a terminal; redirect it to a file or a pipe");
        fd_ = STDOUT_FILENO;
    } else {
        InstallSignalHandlers();
        sigset_t block, old;
        sigemptyset(&block);
        for (int s : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&block, s);
        pthread_sigmask(SIG_BLOCK, &block, &old);
        temporary_ = path + ".partial-XXXXXX";
        fd_ = mkstemp(temporary_.data());
        if (fd_ >= 0 && temporary_.size() < sizeof gTemporary)
            std::memcpy(gTemporary, temporary_.c_str(), temporary_.size() + 1);
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        if (fd_ < 0) {
            temporary_.clear();
            throw AudioError("cannot create a file beside " + path + ": " + std::strerror(errno));
        }
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd_, 0666 & ~mask); // what a plain create would give
    }
    seekable_ = lseek(fd_, 0, SEEK_CUR) >= 0;
    if (ownWav_) {
        if (type == SF_FORMAT_WAV) WriteWavHeader(frames);
        return;
    }
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = sampleRate;
    info.format = format;
    file_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_FALSE);
    if (!file_) {
        const std::string why = sf_strerror(nullptr);
        Abandon();
        throw AudioError("cannot write " + path_ + " as " + FormatName(format) + ": " + why);
    }
    for (const auto& [tag, text] : tags)
        sf_set_string(file_, tag, text.c_str()); // formats without a place for one ignore it
}

AudioWriter::~AudioWriter() {
    if (!committed_) Abandon();
}

void AudioWriter::Abandon() noexcept {
    if (file_) sf_close(file_);
    file_ = nullptr;
    if (fd_ >= 0 && !toStdout_) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        gTemporary[0] = '\0';
        temporary_.clear();
    }
}

void AudioWriter::WriteBytes(const void* data, std::size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw AudioError("cannot write " + path_ + ": " + std::strerror(errno));
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

// A canonical header: PCM as format 1, float as format 3 with its 18-byte fmt chunk and a fact
// chunk (what readers such as sox expect), the tags as a LIST INFO chunk, then the samples.
void AudioWriter::WriteWavHeader(long long frames) {
    const bool isFloat = bits_ == 0;
    const unsigned bytes = isFloat ? 4 : static_cast<unsigned>(bits_ / 8);
    std::vector<unsigned char> h;
    Tag(h, "RIFF");
    Put32(h, 0);
    Tag(h, "WAVE");
    Tag(h, "fmt ");
    Put32(h, isFloat ? 18 : 16);
    Put16(h, isFloat ? 3 : 1);
    Put16(h, static_cast<unsigned>(channels_));
    Put32(h, static_cast<std::uint32_t>(sampleRate_));
    Put32(h, static_cast<std::uint32_t>(sampleRate_) * static_cast<unsigned>(channels_) * bytes);
    Put16(h, static_cast<unsigned>(channels_) * bytes);
    Put16(h, bytes * 8);
    if (isFloat) {
        Put16(h, 0);
        Tag(h, "fact");
        Put32(h, 4);
        factOffset_ = static_cast<std::int64_t>(h.size());
        Put32(h, frames > 0 ? static_cast<std::uint32_t>(frames) : 0);
    }
    std::vector<unsigned char> info;
    for (const auto& [tag, text] : tags_) {
        const char* id = InfoId(tag);
        if (!id) continue;
        Tag(info, id);
        Put32(info, static_cast<std::uint32_t>(text.size() + 1));
        info.insert(info.end(), text.begin(), text.end());
        info.push_back(0);
        if (info.size() & 1) info.push_back(0);
    }
    if (!info.empty()) {
        Tag(h, "LIST");
        Put32(h, static_cast<std::uint32_t>(info.size() + 4));
        Tag(h, "INFO");
        h.insert(h.end(), info.begin(), info.end());
    }
    Tag(h, "data");
    Put32(h, 0);
    dataOffset_ = static_cast<std::int64_t>(h.size());
    // A stream that cannot be rewound gets its final sizes now: exact when the length is known,
    // else the largest, which readers take as "until the end".
    const unsigned long long data =
        frames >= 0 ? static_cast<unsigned long long>(frames) * channels_ * bytes : 0xFFFFFFFFull;
    const unsigned long long padded = data + (data & 1);
    Patch32(h, 4, static_cast<std::uint32_t>(std::min(0xFFFFFFFFull, padded + h.size() - 8)));
    Patch32(h, h.size() - 4, static_cast<std::uint32_t>(std::min(0xFFFFFFFFull, data)));
    WriteBytes(h.data(), h.size());
}

void AudioWriter::Write(const float* x, long long frames) {
    if (failAfter_ >= 0 && written_ + frames > failAfter_)
        throw AudioError("cannot write " + path_ + ": stopped after " + std::to_string(failAfter_) +
                         " frames (VURNEL_FAIL_AFTER_FRAMES)");
    const std::size_t n = static_cast<std::size_t>(frames) * static_cast<std::size_t>(channels_);
    if (bits_ == 0) {
        float peak = peak_;
        for (std::size_t i = 0; i < n; ++i)
            peak = std::max(peak, std::fabs(x[i]));
        peak_ = peak;
        if (ownWav_) {
            WriteBytes(x, n * sizeof(float));
        } else if (sf_writef_float(file_, x, frames) != frames) {
            throw AudioError("cannot write " + path_ + ": " + sf_strerror(file_));
        }
        written_ += frames;
        return;
    }
    const double scale = std::ldexp(1.0, bits_ - 1);
    const std::int64_t hi = (std::int64_t{1} << (bits_ - 1)) - 1, lo = -hi - 1;
    const int bytes = bits_ / 8;
    ints_.resize(n);
    float peak = peak_;
    long long clipped = 0;
    // v·scale is exact (a float times a power of two); it is rounded to nearest even, clamped,
    // and what the clamp changed is counted. NaN writes silence.
    auto convert = [&](auto dither) {
        for (std::size_t i = 0; i < n; ++i) {
            const float v = x[i];
            peak = std::max(peak, std::fabs(v));
            const double s = static_cast<double>(v) * scale;
            std::int64_t r;
            if constexpr (decltype(dither)::value) { // triangular, one LSB each way
                auto uniform = [this] {
                    random_ ^= random_ >> 12;
                    random_ ^= random_ << 25;
                    random_ ^= random_ >> 27;
                    return static_cast<double>((random_ * 0x2545F4914F6CDD1Dull) >> 11) * 0x1p-53;
                };
                const double u1 = uniform();
                const double u2 = uniform();
                r = RoundSumOfDoubles(s, u1 - u2);
            } else {
                r = RoundDouble(s);
            }
            if (s != s) r = 0;
            const std::int64_t c = std::min(std::max(r, lo), hi);
            clipped += c != r;
            ints_[i] = static_cast<std::int32_t>(c);
        }
    };
    if (dither_)
        convert(std::true_type{});
    else
        convert(std::false_type{});
    if (ownWav_) {
        bytes_.resize(n * static_cast<std::size_t>(bytes));
        unsigned char* p = bytes_.data();
        for (std::size_t i = 0; i < n; ++i, p += bytes) {
            const auto u = static_cast<std::uint32_t>(ints_[i]);
            p[0] = static_cast<unsigned char>(u);
            p[1] = static_cast<unsigned char>(u >> 8);
            if (bytes > 2) p[2] = static_cast<unsigned char>(u >> 16);
            if (bytes > 3) p[3] = static_cast<unsigned char>(u >> 24);
        }
    } else {
        for (auto& q : ints_)
            q = static_cast<std::int32_t>(static_cast<std::uint32_t>(q) << (32 - bits_));
    }
    peak_ = peak;
    clipped_ += clipped;
    if (ownWav_) {
        WriteBytes(bytes_.data(), bytes_.size());
    } else if (sf_writef_int(file_, ints_.data(), frames) != frames) {
        throw AudioError("cannot write " + path_ + ": " + sf_strerror(file_));
    }
    written_ += frames;
}

void AudioWriter::Commit() {
    if (ownWav_ && (format_ & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
        const unsigned long long bytes = bits_ ? static_cast<unsigned>(bits_ / 8) : 4u;
        const unsigned long long data =
            static_cast<unsigned long long>(written_) * channels_ * bytes;
        if (data & 1) {
            const unsigned char pad = 0;
            WriteBytes(&pad, 1);
        }
        if (data > 0xFFFFFF00ull)
            throw AudioError("cannot write " + path_ + ": too long for a WAV file (4 GiB)");
        if (written_ != expectedFrames_) {
            if (!seekable_)
                throw AudioError("cannot write " + path_ + ": the input ended early and the " +
                                 "header already went out");
            std::vector<unsigned char> b;
            Put32(b, static_cast<std::uint32_t>(data + (data & 1) + dataOffset_ - 8));
            Put32(b, static_cast<std::uint32_t>(data));
            Put32(b, static_cast<std::uint32_t>(written_));
            if (pwrite(fd_, b.data(), 4, 4) != 4 ||
                pwrite(fd_, b.data() + 4, 4, dataOffset_ - 4) != 4 ||
                (factOffset_ >= 0 && pwrite(fd_, b.data() + 8, 4, factOffset_) != 4))
                throw AudioError("cannot write " + path_ + ": " + std::strerror(errno));
        }
    }
    if (file_) {
        const int closed = sf_close(file_);
        file_ = nullptr;
        if (closed != 0) throw AudioError("cannot write " + path_ + ": " + sf_error_number(closed));
    }
    if (!toStdout_) {
        const int closed = close(fd_);
        fd_ = -1;
        if (closed != 0) throw AudioError("cannot write " + path_ + ": " + std::strerror(errno));
        if (std::rename(temporary_.c_str(), path_.c_str()) != 0)
            throw AudioError("cannot write " + path_ + ": " + std::strerror(errno));
        gTemporary[0] = '\0';
        temporary_.clear();
    }
    committed_ = true;
}

} // namespace vurnel::host
