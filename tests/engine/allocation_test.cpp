// No call a host makes on the audio thread may allocate, free, lock or wait: this
// executable counts them on the thread marked as the audio thread (support/AudioThreadCounter.h).
//
// The audio thread runs blocks with host automation arriving on that same thread between
// them (setParameter, getParameter and the text queries), sweeping the extremes: vibrato
// rate 0 and 1 (largest and smallest tables), 1 and 32 voices, every Split and Section,
// random switches on and off, at 44.1 and 192 kHz, then 20000 blocks of random automation.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "EngineFixture.h"
#include "support/AudioThreadCounter.h"

namespace vm {
namespace {

using test::tAudioThreadScope;
using tCounts = test::tAudioThreadCounts;
tCounts TakeCounts() { return test::TakeAudioThreadCounts(); }

// What a host does on its audio thread around one block: set a value, read values and
// texts back, process.
class tAudioHost {
 public:
  explicit tAudioHost(tVoicemultiply& effect) : effect(effect) {
    for (size_t i = 0; i < in.size(); ++i) in[i] = 0.3f * std::sin(0.02f * i);
  }
  void Block(int index, float value, int count, bool replacing) {
    effect.setParameter(index, value);
    char text[64];
    effect.getParameterDisplay(index, text);
    effect.getParameterName(index, text);
    effect.getParameterLabel(index, text);
    sink += effect.getParameter(index);
    float* inputs[] = {in.data()};
    float* outputs[] = {left.data(), right.data()};
    if (replacing)
      effect.processReplacing(inputs, outputs, count);
    else
      effect.process(inputs, outputs, count);
  }
  float sink = 0.0f;

 private:
  tVoicemultiply& effect;
  std::vector<float> in = std::vector<float>(1024), left = std::vector<float>(1024),
                     right = std::vector<float>(1024);
};

// The extremes every block size sees: values that size or rebuild tables, move voices in
// and out, switch sections, and a random stretch in between.
std::vector<std::pair<int, float>> ExtremeAutomation() {
  std::vector<std::pair<int, float>> steps;
  for (float v : {0.0f, 1.0f, 0.0f, 0.5f, 1.0f}) {
    steps.push_back({kVibRate, v});
    steps.push_back({kClones, 1.0f - v});
    steps.push_back({kVibRandom, v});
    steps.push_back({kDynRandom, 1.0f - v});
  }
  for (int split = 0; split <= 5; ++split) steps.push_back({kSplit, split / 5.0f});
  for (int section = 0; section <= 4; ++section) steps.push_back({kSection, section / 4.0f});
  for (float v : {0.0f, 1.0f}) {
    steps.push_back({kUnisonFmnts, v});
    steps.push_back({kDynDepth, v});
    steps.push_back({kDryDelay, v});
    steps.push_back({kVibDepth, v});
    steps.push_back({kTiming, v});
    steps.push_back({kMix, 0.5f * v});
    steps.push_back({kGain, v});
  }
  steps.push_back({kSplit, 0.0f});
  steps.push_back({kUnisonFmnts, 0.5f});
  return steps;
}

class AudioThread : public testing::TestWithParam<float> {};

TEST_P(AudioThread, AutomationAndProcessingNeverAllocateLockOrWait) {
  tVoicemultiply effect(nullptr);
  effect.setSampleRate(GetParam());
  effect.resume();
  tAudioHost host(effect);
  const std::vector<std::pair<int, float>> steps = ExtremeAutomation();
  TakeCounts();
  std::thread audio([&] {
    const tAudioThreadScope scope;
    // Each extreme for a few blocks of several sizes, so fades start, wait and end.
    for (int round = 0; round < 3; ++round)
      for (const auto& [index, value] : steps)
        for (int count : {1, 64, 1024})
          host.Block(index, value, count, (round + count) % 2 == 0);
    uint32_t seed = 2024;
    for (int block = 0; block < 20000; ++block) {
      seed = seed * 1664525u + 1013904223u;
      const int index = static_cast<int>((seed >> 16) % kParameterCount);
      host.Block(index, static_cast<float>((seed >> 8) & 0xFFF) / 4095.0f, 128, true);
    }
  });
  audio.join();
  const tCounts counts = TakeCounts();
  EXPECT_EQ(counts.allocations, 0);
  EXPECT_EQ(counts.frees, 0);
  EXPECT_EQ(counts.locks, 0);
  EXPECT_EQ(counts.waits, 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, AudioThread, testing::Values(44100.0f, 192000.0f));

// After a suspend the first block applies the settings at once, on the audio thread too.
TEST(RealTime, FirstBlockAfterResumeAppliesSettingsWithoutAllocating) {
  tVoicemultiply effect(nullptr);
  tAudioHost host(effect);
  host.Block(kGain, 0.5f, 512, true);
  effect.suspend();
  for (const auto& [index, value] : ExtremeAutomation()) effect.setParameter(index, value);
  effect.setParameter(kVibRate, 0.0f);
  effect.setParameter(kClones, 0.0f);
  effect.resume();
  TakeCounts();
  {
    const tAudioThreadScope scope;
    host.Block(kVibRandom, 1.0f, 1024, true);
  }
  const tCounts counts = TakeCounts();
  EXPECT_EQ(counts.allocations + counts.frees + counts.locks + counts.waits, 0);
}

TEST(RealTime, TheCountersSeeWhatTheyCount) {
  TakeCounts();
  {
    const tAudioThreadScope scope;
    auto* table = new std::vector<float>(100);
    delete table;
#if VM_COUNT_LIBC
    std::mutex mutex;
    mutex.lock();
    mutex.unlock();
    std::this_thread::yield();
    void* p = std::malloc(16);
    std::free(p);
#endif
  }
  auto* elsewhere = new int(1);  // not the audio thread: not counted
  delete elsewhere;
  const tCounts counts = TakeCounts();
  EXPECT_GE(counts.allocations, 2);  // the vector and its storage
  EXPECT_GE(counts.frees, 2);
#if VM_COUNT_LIBC
  EXPECT_GE(counts.allocations, 3);
  EXPECT_EQ(counts.locks, 1);
  EXPECT_EQ(counts.waits, 1);
#endif
}

}  // namespace
}  // namespace vm
