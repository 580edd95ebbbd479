#include "RenderStream.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vurnel::host {
namespace {

struct Chunk {
    std::vector<float> samples; // interleaved
    long long frames = 0;
};

// A queue of chunks between two threads; Pop waits, and returns null once closed and empty.
class Queue {
public:
    void Push(Chunk* c) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (closed_) return;
            items_.push_back(c);
        }
        ready_.notify_one();
    }
    Chunk* Pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return closed_ || !items_.empty(); });
        if (items_.empty()) return nullptr;
        Chunk* c = items_.front();
        items_.pop_front();
        return c;
    }
    void Close() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            closed_ = true;
        }
        ready_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Chunk*> items_;
    bool closed_ = false;
};

std::string Clock(double seconds) {
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

class ProgressBar {
public:
    ProgressBar(bool on, long long total, int rate) : on_(on), total_(total), rate_(rate) {}
    void Show(long long done, bool last) {
        if (!on_) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (!last && drawn_ && elapsed - shownAt_ < 0.1) return;
        shownAt_ = elapsed;
        drawn_ = true;
        const double audio = static_cast<double>(done) / rate_;
        const double speed = elapsed > 0 ? audio / elapsed : 0;
        if (total_ > 0) {
            const double part =
                std::min(1.0, static_cast<double>(done) / static_cast<double>(total_));
            const int filled = static_cast<int>(part * 30);
            const double left =
                speed > 0 ? (static_cast<double>(total_ - done) / rate_) / speed : 0;
            std::fprintf(stderr, "\r%3d%% [%s%s] %5.1f× real time, %s left ",
                         static_cast<int>(part * 100), std::string(filled, '#').c_str(),
                         std::string(30 - filled, '.').c_str(), speed,
                         Clock(std::max(0.0, left)).c_str());
        } else {
            std::fprintf(stderr, "\r%s done, %5.1f× real time ", Clock(audio).c_str(), speed);
        }
        if (last) std::fprintf(stderr, "\n");
    }

private:
    bool on_;
    long long total_;
    int rate_;
    bool drawn_ = false;
    double shownAt_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

} // namespace

BlockRunner::BlockRunner(const VstInstance& instance, int frames, bool add)
    : fx(instance), block(frames), accumulate(add), inL(frames), inR(frames), outL(frames),
      outR(frames) {}

void BlockRunner::Run(float* samples, long long count, int channels) {
    long long bad = 0;
    for (long long i = 0; i < count * channels; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &samples[i], sizeof bits);
        bad += (bits & 0x7F800000u) == 0x7F800000u;
    }
    nonFinite += bad;
    for (long long at = 0; at < count; at += block) {
        const int n = static_cast<int>(std::min<long long>(block, count - at));
        float* frame = samples + at * channels;
        if (channels == 2) {
            for (int i = 0; i < n; ++i) {
                inL[i] = frame[2 * i];
                inR[i] = frame[2 * i + 1];
            }
        } else {
            std::copy(frame, frame + n, inL.begin());
            std::copy(frame, frame + n, inR.begin());
        }
        if (accumulate) { // the outputs already hold the dry signal; process adds to it
            std::copy(inL.begin(), inL.begin() + n, outL.begin());
            std::copy(inR.begin(), inR.begin() + n, outR.begin());
        }
        float* inputs[] = {inL.data(), inR.data()};
        float* outputs[] = {outL.data(), outR.data()};
        fx.Process(inputs, outputs, n, accumulate);
        if (channels == 2) {
            for (int i = 0; i < n; ++i) {
                frame[2 * i] = outL[i];
                frame[2 * i + 1] = outR[i];
            }
        } else {
            std::copy(outL.begin(), outL.begin() + n, frame);
        }
    }
}

RenderStats RenderStream(AudioReader& in, AudioWriter& out, const VstInstance& fx, int block,
                         bool accumulate, bool progress) {
    const auto start = std::chrono::steady_clock::now();
    const int channels = in.Info().channels;
    // Chunks of whole blocks, so the instance gets the calls it would get from one buffer.
    const long long chunkFrames = static_cast<long long>(block) * std::max(1, 16384 / block);
    constexpr int kChunks = 6;
    std::vector<Chunk> chunks(kChunks);
    Queue empty, filled, processed;
    for (auto& c : chunks) {
        c.samples.resize(static_cast<std::size_t>(chunkFrames * channels));
        empty.Push(&c);
    }
    std::mutex errorMutex;
    std::exception_ptr error;
    auto fail = [&](std::exception_ptr e) {
        {
            std::lock_guard<std::mutex> lock(errorMutex);
            if (!error) error = e;
        }
        empty.Close();
        filled.Close();
        processed.Close();
    };
    std::thread reader([&] {
        try {
            while (Chunk* c = empty.Pop()) {
                c->frames = in.Read(c->samples.data(), chunkFrames);
                if (c->frames > 0) filled.Push(c);
                if (c->frames < chunkFrames) break;
            }
        } catch (...) {
            fail(std::current_exception());
        }
        filled.Close();
    });
    std::thread writer([&] {
        try {
            while (Chunk* c = processed.Pop()) {
                out.Write(c->samples.data(), c->frames);
                empty.Push(c);
            }
        } catch (...) {
            fail(std::current_exception());
        }
    });

    BlockRunner runner(fx, block, accumulate);
    ProgressBar bar(progress, in.Info().frames, in.Info().sampleRate);
    long long done = 0;
    while (Chunk* c = filled.Pop()) {
        runner.Run(c->samples.data(), c->frames, channels);
        done += c->frames;
        processed.Push(c);
        bar.Show(done, false);
    }
    processed.Close();
    reader.join();
    writer.join();
    if (error) std::rethrow_exception(error);
    bar.Show(done, true);
    RenderStats stats;
    stats.frames = done;
    stats.nonFinite = runner.NonFinite();
    stats.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return stats;
}

} // namespace vurnel::host
