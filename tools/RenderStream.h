// Rendering a file through a plug-in instance block by block: a reader thread decodes, the
// calling thread runs the instance, a writer thread encodes, with a few fixed buffers passed
// between them, so memory does not depend on the file's length and the file handling overlaps
// the processing. The instance sees the same calls as with the whole file in memory.
#pragma once

#include <vector>

#include "AudioStream.h"
#include "VstHost.h"

namespace vurnel::host {

struct RenderStats {
    long long frames = 0;
    double seconds = 0;      // wall time
    long long nonFinite = 0; // input samples that were NaN or infinite
};

// Runs interleaved frames (one or two channels) through a started instance in place, in calls
// of `block` frames, as a host would: mono feeds both inputs and keeps the left output.
class BlockRunner {
public:
    BlockRunner(const VstInstance& fx, int block, bool accumulate);
    void Run(float* frames, long long count, int channels);
    // Input samples so far that were NaN or infinite.
    long long NonFinite() const { return nonFinite; }

private:
    const VstInstance& fx;
    int block;
    bool accumulate;
    long long nonFinite = 0;
    std::vector<float> inL, inR, outL, outR;
};

// Runs every frame of `in` through the started instance in calls of `block` frames (mono feeds
// both inputs and keeps the left output) into `out`, which the caller commits. With `progress`
// a bar on stderr shows the percentage, the speed and the time left. Rethrows the first error of
// any of the three threads.
RenderStats RenderStream(AudioReader& in, AudioWriter& out, const VstInstance& fx, int block,
                         bool accumulate, bool progress);

} // namespace vurnel::host
