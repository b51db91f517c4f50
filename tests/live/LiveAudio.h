// Changes while sound runs, judged on the output alone.
//
// A click is a sample whose second difference x[n+1] - 2 x[n] + x[n-1] is far larger
// than any the same effect produces when nothing changes. A sine of amplitude A and
// frequency f has second differences up to A (2 pi f / rate)^2 (about 0.0005 for 0.5 at
// 220 Hz and 44.1 kHz); a sum of delayed, slowly modulated copies stays of that order,
// while a step of height h or a kink in the slope shows as a second difference of the
// order of h. The limit is a multiple of the largest second difference of unchanged runs.
//
// Also here: the test tone, and a lockstep that lets another thread change the effect
// between two given blocks of an audio thread, so a cross-thread change always lands at
// the same place of the signal. Header-only.
#pragma once

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vm::live {

constexpr int kRateHz = 44100;
constexpr int32_t kBlockSamples = 256;
constexpr double kToneHz = 220.0;
constexpr double kToneAmplitude = 0.5;
constexpr double kFadeInSeconds = 0.02;
// The voices start from silence behind their delays; both the reference and the run
// under test are judged only from here on (samples).
constexpr size_t kJudgedFrom = kRateHz * 3 / 10;
// A change must be heard within this many samples: the voices read the sections with
// delays of up to 271 ms.
constexpr size_t kAudibleWithin = kRateHz * 3 / 10;
// A change is a click when a second difference exceeds this many times the largest of
// the unchanged runs.
constexpr float kClickFactor = 6.0f;

constexpr size_t Blocks(double seconds) {
  return static_cast<size_t>(seconds * kRateHz / kBlockSamples + 0.5);
}

// A 220 Hz sine of amplitude 0.5 with a raised-cosine fade-in (an abrupt start would be
// a kink of its own), whole blocks long.
inline std::vector<float> ToneInput(size_t blocks) {
  constexpr double kPi = 3.14159265358979323846;
  const size_t samples = blocks * kBlockSamples;
  const double fadeSamples = kFadeInSeconds * kRateHz;
  std::vector<float> x(samples);
  for (size_t n = 0; n < samples; ++n) {
    const double fade = n < fadeSamples ? 0.5 - 0.5 * std::cos(kPi * n / fadeSamples) : 1.0;
    x[n] = static_cast<float>(fade * kToneAmplitude * std::sin(2.0 * kPi * kToneHz * n / kRateHz));
  }
  return x;
}

struct tStereo {
  std::vector<float> left, right;
  explicit tStereo(size_t samples = 0) : left(samples), right(samples) {}
};

inline float SecondDifference(const std::vector<float>& x, size_t n) {
  return std::fabs(x[n + 1] - 2.0f * x[n] + x[n - 1]);
}

inline float LargestSecondDifference(const std::vector<float>& x, size_t from) {
  float largest = 0.0f;
  for (size_t n = std::max<size_t>(from, 1); n + 1 < x.size(); ++n)
    largest = std::max(largest, SecondDifference(x, n));
  return largest;
}

// The samples of one channel whose second difference exceeds `limit`.
struct tClicks {
  size_t count = 0;
  size_t first = 0;      // sample index of the first, when count > 0
  float largest = 0.0f;  // largest second difference of the judged stretch
};

inline tClicks ClicksAbove(const std::vector<float>& x, size_t from, float limit) {
  tClicks clicks;
  for (size_t n = std::max<size_t>(from, 1); n + 1 < x.size(); ++n) {
    const float d = SecondDifference(x, n);
    clicks.largest = std::max(clicks.largest, d);
    if (d > limit) {
      if (clicks.count == 0) clicks.first = n;
      ++clicks.count;
    }
  }
  return clicks;
}

// The largest second difference of the test tone itself: a sampled sine of angular step
// w has x[n+1] - 2 x[n] + x[n-1] = -2 (1 - cos w) x[n].
inline float ToneSecondDifference() {
  constexpr double kPi = 3.14159265358979323846;
  return static_cast<float>(kToneAmplitude * 2.0 * (1.0 - std::cos(2.0 * kPi * kToneHz / kRateHz)));
}

// An unchanged run whose second differences reach this many times the tone's clicks by
// itself and cannot serve as a scale. Ordinary runs stay near 1x (unison at unity gain),
// near 3x at +8 dB output gain and below 13x with all three sections singing (the alto
// section an octave up has four times the tone's second differences).
constexpr float kOrdinaryFactor = 20.0f;

// The scale of ordinary second differences: the largest of every unchanged run, per
// channel.
struct tScale {
  float left = 0.0f, right = 0.0f;
  void Include(const tStereo& unchanged) {
    left = std::max(left, LargestSecondDifference(unchanged.left, kJudgedFrom));
    right = std::max(right, LargestSecondDifference(unchanged.right, kJudgedFrom));
  }
  bool Ordinary() const { return std::max(left, right) < kOrdinaryFactor * ToneSecondDifference(); }
  std::string Account() const {
    std::ostringstream text;
    text << "an unchanged run clicks by itself: its second differences reach " << left
         << " (left) and " << right << " (right), the tone's " << ToneSecondDifference()
         << "; ordinary runs stay below " << kOrdinaryFactor << " x the tone's";
    return text.str();
  }
};

// The click count of both channels against the scale, with a readable account.
struct tClickVerdict {
  size_t count = 0;
  std::string account;
};

inline tClickVerdict JudgeClicks(const tStereo& changed, const tScale& scale) {
  const tClicks left = ClicksAbove(changed.left, kJudgedFrom, kClickFactor * scale.left);
  const tClicks right = ClicksAbove(changed.right, kJudgedFrom, kClickFactor * scale.right);
  std::ostringstream text;
  auto describe = [&](const char* channel, const tClicks& c, float reference) {
    text << channel << ": " << c.count << " samples above " << kClickFactor << " x " << reference
         << ", largest " << c.largest << " (" << c.largest / reference << " x)";
    if (c.count > 0) text << ", first at " << static_cast<double>(c.first) / kRateHz << " s";
    text << "\n";
  };
  describe("left", left, scale.left);
  describe("right", right, scale.right);
  return {left.count + right.count, text.str()};
}

// The first sample (from `from` on) where two runs differ; the length when they never do.
inline size_t FirstDifference(const tStereo& a, const tStereo& b, size_t from = 0) {
  const size_t samples = std::min(a.left.size(), b.left.size());
  for (size_t n = from; n < samples; ++n)
    if (a.left[n] != b.left[n] || a.right[n] != b.right[n]) return n;
  return samples;
}

// Runs process(block) for blocks 0..blockCount-1 on a thread of its own, the audio
// thread. Before each block listed in `changeBefore` (ascending), the audio thread stops
// and the calling thread runs change(block); the audio thread goes on when it returns.
// The change thus comes from another thread while processing runs, yet always between
// the same two blocks: the result does not depend on scheduling.
inline void RunWithChangesBetweenBlocks(size_t blockCount, const std::vector<size_t>& changeBefore,
                                        const std::function<void(size_t)>& process,
                                        const std::function<void(size_t)>& change) {
  std::mutex mutex;
  std::condition_variable wake;
  std::optional<size_t> waitingBefore;  // set by the audio thread, cleared by the changer
  std::thread audio([&] {
    size_t nextChange = 0;
    for (size_t block = 0; block < blockCount; ++block) {
      if (nextChange < changeBefore.size() && changeBefore[nextChange] == block) {
        std::unique_lock<std::mutex> held(mutex);
        waitingBefore = block;
        wake.notify_all();
        wake.wait(held, [&] { return !waitingBefore.has_value(); });
        ++nextChange;
      }
      process(block);
    }
  });
  for (size_t i = 0; i < changeBefore.size(); ++i) {
    std::unique_lock<std::mutex> held(mutex);
    wake.wait(held, [&] { return waitingBefore.has_value(); });
    const size_t block = *waitingBefore;
    held.unlock();
    change(block);
    held.lock();
    waitingBefore.reset();
    wake.notify_all();
  }
  audio.join();
}

}  // namespace vm::live
