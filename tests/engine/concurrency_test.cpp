// Hosts call setParameter from any thread while the audio thread processes, the editor
// writes its knobs back from the GUI thread, and some hosts suspend, resume or change the
// rate while audio still runs. Under ThreadSanitizer this shows any data race; natively it
// checks what the audio thread gets: every block written, finite, and never silent while
// the input sounds.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "EngineFixture.h"

namespace vm {
namespace {

constexpr int kBlock = 256;

TEST(Concurrency, SetParameterWhileProcessing) {
  tVoicemultiply effect(nullptr);
  std::atomic<bool> done{false};
  std::atomic<long> blocks{0};
  std::atomic<bool> allFinite{true};

  std::thread audio([&] {
    std::vector<float> in(256), left(256), right(256);
    for (size_t i = 0; i < in.size(); ++i) in[i] = 0.4f * std::sin(0.07f * i);
    float* inputs[] = {in.data()};
    float* outputs[] = {left.data(), right.data()};
    while (!done.load()) {
      effect.processReplacing(inputs, outputs, 256);
      for (float v : left)
        if (!std::isfinite(v)) allFinite = false;
      ++blocks;
    }
  });

  // The changes must meet a running audio thread: on a busy machine its first block can
  // come after all of them unless we wait for it (bounded, so a stuck engine fails below).
  const auto started = std::chrono::steady_clock::now();
  const auto patience = std::chrono::seconds(30);
  while (blocks.load() == 0 && std::chrono::steady_clock::now() - started < patience)
    std::this_thread::yield();
  // Parameter changes of every kind, table growth included, from a second thread.
  uint32_t seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int index = static_cast<int>(seed >> 27) % kParameterCount;
    const float value = static_cast<float>((seed >> 8) & 0xFFFF) / 65535.0f;
    effect.setParameter(index, value);
    if (i % 500 == 0) std::this_thread::yield();
  }
  // A second processing thread must find the engine busy, never run it twice.
  std::thread intruder([&] {
    std::vector<float> in(64, 0.1f), left(64, 7.0f), right(64, 7.0f);
    float* inputs[] = {in.data()};
    float* outputs[] = {left.data(), right.data()};
    for (int i = 0; i < 200; ++i) effect.processReplacing(inputs, outputs, 64);
  });
  intruder.join();
  done = true;
  audio.join();
  EXPECT_GT(blocks.load(), 0);
  EXPECT_TRUE(allFinite.load());
}

// A small deterministic generator per thread.
struct tDice {
  uint32_t state;
  uint32_t Next() { return state = state * 1664525u + 1013904223u; }
  float Unit() { return static_cast<float>((Next() >> 8) & 0xFFFF) / 65535.0f; }
  int Below(int n) { return static_cast<int>((Next() >> 16) % static_cast<uint32_t>(n)); }
};

// The parameters the storm may move while the one voice must stay audible: everything but
// the voice count, the section switch, the unison formants (a shifted copy restarts from
// its ring) and the levels and depths that may legitimately make it near silent.
bool KeepsItAudible(int index) {
  switch (index) {
    case kClones: case kSplit: case kUnisonFmnts: case kGain: case kMix: case kUnisonLevel:
    case kDynDepth:
      return false;
    default:
      return true;
  }
}

struct tStorm {
  bool lifecycle;    // suspend, resume and sample-rate changes from a third thread
  bool oneVoice;     // a single voice, and only changes that keep it audible
};

// The audio thread processes blocks of a 220 Hz sine while a host thread sets parameters,
// the editor writes the store back and, with `lifecycle`, another thread suspends, resumes
// and changes the rate; it goes on until each of them has made its share of calls. Each
// block's outputs are filled with NaN first.
struct tStormResult {
  long blocks = 0;
  long unwritten = 0;      // samples still NaN or not finite after the block
  long silentBlocks = 0;   // blocks from 0.4 s on with RMS below 0.01
  bool othersDone = false;  // every other thread made its calls before the time ran out
};

// The audio thread runs at least kMinBlocks and then until the other threads have made
// their calls. A busy machine may starve them for a while (the blocks are cheap, the
// other threads yield), so the bound is a generous wall-clock time, not a block count.
constexpr long kMinBlocks = 1500;
constexpr auto kMaxStorm = std::chrono::seconds(90);
constexpr long kMinHostCalls = 3000, kMinEditorCalls = 1000, kMinLifecycleCalls = 60;

tStormResult RunStorm(const tStorm& storm) {
  tVoicemultiply effect(nullptr);
  if (storm.oneVoice) effect.setParameter(kClones, 0.0f);
  effect.resume();
  std::atomic<bool> done{false};
  std::atomic<long> hostCalls{0}, editorCalls{0}, lifecycleCalls{0};
  auto othersDone = [&] {
    return hostCalls.load() >= kMinHostCalls && editorCalls.load() >= kMinEditorCalls &&
           (!storm.lifecycle || lifecycleCalls.load() >= kMinLifecycleCalls);
  };
  tStormResult result;

  std::thread audio([&] {
    std::vector<float> in(kBlock), left(kBlock), right(kBlock);
    float* inputs[] = {in.data()};
    float* outputs[] = {left.data(), right.data()};
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const auto deadline = std::chrono::steady_clock::now() + kMaxStorm;
    for (long b = 0;; ++b) {
      if (b >= kMinBlocks && othersDone()) {
        result.othersDone = true;
        break;
      }
      if (b % 256 == 0 && std::chrono::steady_clock::now() > deadline) break;
      result.blocks = b + 1;
      for (int i = 0; i < kBlock; ++i)
        in[i] = 0.5f * std::sin(2.0f * 3.14159265f * 220.0f * ((b * kBlock + i) % 44100) / 44100.0f);
      std::fill(left.begin(), left.end(), nan);
      std::fill(right.begin(), right.end(), nan);
      effect.processReplacing(inputs, outputs, kBlock);
      double energy = 0.0;
      for (int i = 0; i < kBlock; ++i) {
        if (!std::isfinite(left[i])) ++result.unwritten;
        if (!std::isfinite(right[i])) ++result.unwritten;
        energy += double(left[i]) * left[i] + double(right[i]) * right[i];
      }
      if (b * kBlock > 0.4 * 44100 && std::sqrt(energy / kBlock) < 0.01) ++result.silentBlocks;
    }
    done = true;
  });

  auto pickIndex = [&](tDice& dice) {
    for (;;) {
      const int index = dice.Below(kParameterCount);
      if (!storm.oneVoice || KeepsItAudible(index)) return index;
    }
  };
  std::thread host([&] {
    tDice dice{1};
    while (!done.load()) {
      const int index = pickIndex(dice);
      effect.setParameter(index, dice.Unit());
      ++hostCalls;
      if (dice.Below(8) == 0) std::this_thread::yield();
    }
  });
  std::thread editor([&] {
    tDice dice{2};
    tParameterStore& store = effect.Parameters();
    while (!done.load()) {
      // A knob released: the value the form computed, written unless the host came first.
      const int index = pickIndex(dice);
      const uint32_t seen = store.Version(index);
      const float setting = SettingFromHost(index, dice.Unit());
      if (dice.Below(2) == 0)
        store.SetSettingIfUnchanged(index, setting, seen);
      else
        store.SetSetting(index, setting);
      ++editorCalls;
      std::this_thread::yield();
    }
  });
  std::thread lifecycle([&] {
    if (!storm.lifecycle) return;
    tDice dice{3};
    const float rates[] = {44100.0f, 48000.0f, 96000.0f};
    while (!done.load()) {
      switch (dice.Below(3)) {
        case 0: effect.suspend(); break;
        case 1: effect.resume(); break;
        default: effect.setSampleRate(rates[dice.Below(3)]); break;
      }
      ++lifecycleCalls;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  audio.join();
  host.join();
  editor.join();
  lifecycle.join();
  return result;
}

TEST(Concurrency, HostAndEditorChangesNeverSilenceTheVoice) {
  const tStormResult result = RunStorm({false, true});
  ASSERT_TRUE(result.othersDone) << "the other threads never got their calls in";
  EXPECT_EQ(result.unwritten, 0);
  EXPECT_EQ(result.silentBlocks, 0);
}

TEST(Concurrency, EveryBlockIsWrittenWhileTheHostSuspendsResumesAndChangesTheRate) {
  const tStormResult result = RunStorm({true, false});
  ASSERT_TRUE(result.othersDone) << "the other threads never got their calls in";
  EXPECT_EQ(result.unwritten, 0);
}

}  // namespace
}  // namespace vm
