// The audio path allocates nothing and takes no lock. A counting hook sits under operator new,
// malloc and pthread_mutex_lock (the linker wraps the last two), active only while a guard is
// held on this thread.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <random>
#include <thread>
#include <vector>

#include "Lv2ToneControl.h"
#include "Main.h"
#include "Vst3Factory.h"
#include "Vst3Processor.h"
#include "dspSections.h"
#include "vst3_host.h"

namespace {
thread_local bool g_guarding = false;
thread_local int g_allocations = 0;
thread_local int g_locks = 0;
thread_local int g_blockingLocks = 0; // locks that found the mutex held and had to wait

struct RealtimeGuard {
    RealtimeGuard() {
        g_allocations = g_locks = g_blockingLocks = 0;
        g_guarding = true;
    }
    ~RealtimeGuard() { g_guarding = false; }
};
} // namespace

extern "C" {
void* __real_malloc(std::size_t);
void* __real_calloc(std::size_t, std::size_t);
void* __real_realloc(void*, std::size_t);
int __real_pthread_mutex_lock(pthread_mutex_t*);
void* __wrap_malloc(std::size_t n) {
    if (g_guarding) ++g_allocations;
    return __real_malloc(n);
}
void* __wrap_calloc(std::size_t n, std::size_t s) {
    if (g_guarding) ++g_allocations;
    return __real_calloc(n, s);
}
void* __wrap_realloc(void* p, std::size_t n) {
    if (g_guarding) ++g_allocations;
    return __real_realloc(p, n);
}
int __wrap_pthread_mutex_lock(pthread_mutex_t* m) {
    if (g_guarding) {
        ++g_locks;
        if (pthread_mutex_trylock(m) == 0) return 0;
        ++g_blockingLocks;
    }
    return __real_pthread_mutex_lock(m);
}
}

void* operator new(std::size_t n) {
    if (g_guarding) ++g_allocations;
    if (void* p = __real_malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

using vurnel::TMirvakEffect;

TEST(Realtime, GuardCountsAllocationsAndLocks) {
    int allocations, locks;
    {
        RealtimeGuard guard;
        std::vector<int> v(100);
        void* volatile p = std::malloc(16);
        std::free(p);
        std::mutex m;
        m.lock();
        m.unlock();
        allocations = g_allocations;
        locks = g_locks;
    }
    EXPECT_GE(allocations, 2);
    EXPECT_EQ(locks, 1);
}

TEST(Realtime, ProcessingAllocatesNothingAndTakesNoLock) {
    TMirvakEffect fx(nullptr, 0, 0);
    std::mt19937 rng(5);
    std::vector<float> l(4096, 0.25f), r(4096, -0.25f), ol(4096), orr(4096);
    float* in[] = {l.data(), r.data()};
    float* out[] = {ol.data(), orr.data()};
    float* inPlace[] = {ol.data(), orr.data()};
    float* crossed[] = {l.data(), ol.data()}; // the left output is the right input
    for (int block : {1, 64, 512, 4096}) {
        for (int round = 0; round < 20; ++round) {
            // A new design waits for the audio thread before every block.
            fx.setParameter(static_cast<int>(rng() % 4), (rng() % 1000) / 1000.0f);
            if (round % 5 == 0) fx.setSampleRate(round % 10 ? 48000.0f : 44100.0f);
            RealtimeGuard guard;
            fx.processReplacing(in, out, block);
            fx.process(in, out, block);
            fx.processReplacing(inPlace, inPlace, block);
            fx.processReplacing(in, crossed, block);
            fx.getParameter(round % 4);
            ASSERT_EQ(g_allocations, 0) << "block " << block;
            ASSERT_EQ(g_locks, 0) << "block " << block;
        }
    }
}

TEST(Realtime, StabilityCheckAndSectionsAllocateNothing) {
    using namespace vurnel::dsp;
    TdspIIRFilter tone, band;
    band.SetOrder(8);
    band.SetResponse(ftBandpass);
    band.SetFrequency(2, 5000);
    band.SetFrequency(1, 1000);
    ASSERT_TRUE(band.IsStable());
    TdspIIRSections sections;
    long double sink = 0;
    {
        RealtimeGuard guard;
        tone.SetFrequency(1, 120); // a first-order cutoff design, as the LV2 run() does
        band.DesignFilter();       // a stable design of 16 poles
        sections.Design(band);
        for (int i = 0; i < 512; ++i)
            sink += sections.ProcessSample(i == 0 ? 1.0L : 0.0L);
        EXPECT_EQ(g_allocations, 0);
        EXPECT_EQ(g_locks, 0);
    }
    EXPECT_TRUE(tone.IsStable());
    EXPECT_TRUE(std::isfinite(sink));
}

TEST(Realtime, GuardCountsALockThatHadToWait) {
    std::mutex m;
    std::atomic<bool> held{false};
    std::thread holder([&] {
        m.lock();
        held = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        m.unlock();
    });
    while (!held)
        std::this_thread::yield();
    int blocking;
    {
        RealtimeGuard guard;
        m.lock(); // waits for the holder
        blocking = g_blockingLocks;
    }
    m.unlock();
    holder.join();
    EXPECT_EQ(blocking, 1);
}

// The LV2 instance designs on the audio thread when a cutoff port changes: run() allocates
// nothing, and the effect's setter lock it takes is its own, never held by anyone else.
TEST(Realtime, Lv2RunAllocatesNothingAndNeverWaitsForALock) {
    vurnel::Lv2ToneControl plugin(48000.0);
    std::vector<float> l(4096, 0.25f), r(4096, -0.25f), ol(4096), orr(4096);
    float controls[4] = {50.0f, 10000.0f, 0.0f, 0.0f};
    plugin.ConnectPort(0, l.data());
    plugin.ConnectPort(1, r.data());
    plugin.ConnectPort(2, ol.data());
    plugin.ConnectPort(3, orr.data());
    for (std::uint32_t i = 0; i < 4; ++i)
        plugin.ConnectPort(4 + i, &controls[i]);
    plugin.Activate();
    std::mt19937 rng(9);
    int locks = 0;
    for (std::uint32_t block : {1u, 64u, 512u, 4096u}) {
        for (int round = 0; round < 20; ++round) {
            controls[0] = 50.0f + static_cast<float>(rng() % 450);
            controls[1] = 3000.0f + static_cast<float>(rng() % 7000);
            controls[2] = static_cast<float>(rng() % 40) - 20.0f;
            controls[3] = static_cast<float>(rng() % 40) - 20.0f;
            RealtimeGuard guard;
            plugin.Run(block);
            locks += g_locks;
            ASSERT_EQ(g_allocations, 0) << "block " << block;
            ASSERT_EQ(g_blockingLocks, 0) << "block " << block;
        }
    }
    EXPECT_GT(locks, 0); // the cutoff changes were designed inside run()
}

// While controls glide the effect moves them every sample and designs a cutoff's end on the
// audio thread: run() still allocates nothing and never waits for a lock.
TEST(Realtime, Lv2GlidesAllocateNothingAndNeverWaitForALock) {
    vurnel::Lv2ToneControl plugin(48000.0);
    std::vector<float> l(4096, 0.25f), r(4096, -0.25f), ol(4096), orr(4096);
    float controls[4] = {50.0f, 10000.0f, 0.0f, 0.0f};
    float smooth = 1.0f;
    plugin.ConnectPort(0, l.data());
    plugin.ConnectPort(1, r.data());
    plugin.ConnectPort(2, ol.data());
    plugin.ConnectPort(3, orr.data());
    for (std::uint32_t i = 0; i < 4; ++i)
        plugin.ConnectPort(4 + i, &controls[i]);
    plugin.ConnectPort(vurnel::Lv2ToneControl::kSmooth, &smooth);
    plugin.Activate();
    plugin.Run(64); // the first settings apply at once; from here on changes glide
    std::mt19937 rng(10);
    int locks = 0;
    for (std::uint32_t block : {1u, 5u, 64u, 512u, 4096u}) {
        for (int round = 0; round < 60; ++round) {
            if (round % 3 == 0) {
                controls[0] = 50.0f + static_cast<float>(rng() % 450);
                controls[1] = 3000.0f + static_cast<float>(rng() % 7000);
                controls[2] = static_cast<float>(rng() % 40) - 20.0f;
                controls[3] = static_cast<float>(rng() % 40) - 20.0f;
            }
            RealtimeGuard guard;
            plugin.Run(block);
            locks += g_locks;
            ASSERT_EQ(g_allocations, 0) << "block " << block;
            ASSERT_EQ(g_blockingLocks, 0) << "block " << block;
        }
    }
    {
        RealtimeGuard guard; // every glide ends in here
        plugin.Run(4096);
        locks += g_locks;
        ASSERT_EQ(g_allocations, 0);
    }
    // A glide takes no lock at all: it designs a cutoff's end under a try-lock, which never
    // waits. Those designs were made inside run(): the cutoffs read back as set.
    EXPECT_EQ(locks, 0);
    for (std::int32_t i = 0; i < 2; ++i) {
        TMirvakEffect expected(nullptr, 0, 0);
        expected.setSampleRate(48000.0f);
        expected.setParameter(i, vurnel::Lv2ToneControl::ToParameter(
                                     vurnel::Lv2ToneControl::kFirstControl + i, controls[i]));
        EXPECT_EQ(plugin.Effect().getParameter(i), expected.getParameter(i));
    }
}

// The VST 3 processor's process call: points at any offsets split the block and reach the
// effect (designs, glides, smooth switched, bypass), a state loaded on the UI thread is taken
// at the next call: no allocation, and never a wait for a lock.
TEST(Realtime, Vst3ProcessAllocatesNothingAndNeverWaitsForALock) {
    vst3host::Instance plugin(vurnel::vst3::Factory(), vurnel::vst3::kProcessorCid);
    ASSERT_TRUE(plugin.Start(48000.0, 4096));
    std::vector<float> l(4096, 0.25f), r(4096, -0.25f), ol(4096), orr(4096);
    std::mt19937 rng(11);
    const auto saved = plugin.ComponentState();
    int locks = 0;
    for (int block : {1, 64, 512, 4096}) {
        for (int round = 0; round < 30; ++round) {
            vst3host::Changes changes;
            for (int point = 0; point < 6; ++point)
                changes.Add(rng() % 6, static_cast<int>(rng() % static_cast<unsigned>(block)),
                            static_cast<double>(rng() % 1000) / 999.0);
            if (round % 10 == 9) {
                vst3host::Stream state(saved, 7);
                ASSERT_EQ(plugin.component->setState(&state), vurnel::vst3::kResultOk);
            }
            RealtimeGuard guard;
            plugin.Process(l.data(), r.data(), ol.data(), orr.data(), block, &changes);
            locks += g_locks;
            ASSERT_EQ(g_allocations, 0) << "block " << block;
            ASSERT_EQ(g_blockingLocks, 0) << "block " << block;
        }
    }
    EXPECT_GT(locks, 0); // cutoff changes were designed inside process()
}
