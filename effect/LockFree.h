// Two small lock-free hand-overs between the threads a host calls on.
//
// TripleBuffer: one writer at a time (callers serialise writers themselves) publishes whole
// values to one reader; neither side ever waits. The reader always sees a complete value, the
// newest one published before its last Acquire.
//
// SeqLockedExtended: one writer at a time, any number of readers; a reader retries while a write
// is in progress (a write is two stores long), so it never sees half of a value.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

namespace vurnel {

template <typename T> class TripleBuffer {
public:
    // Writer side: fill Back(), then Publish().
    T& Back() { return slots[back]; }
    void Publish() {
        const std::uint8_t previous =
            middle.exchange(static_cast<std::uint8_t>(back | kFresh), std::memory_order_acq_rel);
        back = previous & kIndexMask;
    }

    // Reader side: Acquire() takes the newest published value, if any (true when it did);
    // Front() is the reader's current value.
    bool Acquire() {
        if ((middle.load(std::memory_order_relaxed) & kFresh) == 0) return false;
        const std::uint8_t previous = middle.exchange(front, std::memory_order_acq_rel);
        front = previous & kIndexMask;
        return true;
    }
    const T& Front() const { return slots[front]; }

private:
    static constexpr std::uint8_t kIndexMask = 3;
    static constexpr std::uint8_t kFresh = 4;
    T slots[3]{};
    std::uint8_t back = 1;               // owned by the writer
    std::uint8_t front = 0;              // owned by the reader
    std::atomic<std::uint8_t> middle{2}; // the slot in between, and whether it is fresh
};

class SeqLockedExtended {
public:
    explicit SeqLockedExtended(long double initial = 0.0L) { Store(initial); }

    // One writer at a time. The odd sequence number goes out before the data (each data store
    // releases it), the even one after.
    void Store(long double value) {
        std::uint64_t words[2] = {0, 0};
        std::memcpy(words, &value,
                    sizeof(long double) < sizeof words ? sizeof(long double) : sizeof words);
        const std::uint32_t s = sequence.load(std::memory_order_relaxed);
        sequence.store(s + 1, std::memory_order_relaxed);
        data[0].store(words[0], std::memory_order_release);
        data[1].store(words[1], std::memory_order_release);
        sequence.store(s + 2, std::memory_order_release);
    }

    // Retries while a write is in progress or happened between the two sequence reads: a reader
    // that saw any new data also sees the odd sequence number that came before it.
    long double Load() const {
        std::uint64_t words[2];
        for (;;) {
            const std::uint32_t before = sequence.load(std::memory_order_acquire);
            words[0] = data[0].load(std::memory_order_acquire);
            words[1] = data[1].load(std::memory_order_acquire);
            if ((before & 1u) == 0 && sequence.load(std::memory_order_relaxed) == before) break;
        }
        long double value;
        std::memcpy(&value, words,
                    sizeof(long double) < sizeof words ? sizeof(long double) : sizeof words);
        return value;
    }

private:
    std::atomic<std::uint32_t> sequence{0};
    std::atomic<std::uint64_t> data[2]{};
};

} // namespace vurnel
