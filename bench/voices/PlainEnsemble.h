// A plain, literal ensemble with the unison section only: the yardstick the engine's voices
// are measured against. Per sample it writes the dry and unison rings, runs every sounding
// voice's step one after the other (ring read at delay plus vibrato offset with linear
// interpolation, vibrato walk, level ramp, two stereo gains) and mixes the delayed dry
// copy in; no chunks, no vectors, no precomputed reciprocals. It holds its own voice
// tables and its own random generator, so it keeps compiling whatever the engine's
// voices look like inside; it is built with the benchmark's flags (Release).
//
// The voices' set-up follows the engine's reconfiguration for a settled set of parameters
// (no glides or crossfades: the engine applies settings made before its first block at
// once), so both produce the same sound from the same input and generator state, up to
// the rounding of the level ramp's division.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vm::bench {

class tPlainEnsemble {
 public:
  static constexpr int32_t kVoices = 32;
  static constexpr int32_t kRingLength = 32768;  // samples, a power of two
  static constexpr float kRateHz = 44100.0f;

  // The parameter settings the plain engine honours (the engine's defaults).
  struct tSettings {
    int32_t clones = 16;
    float timing = 0.5f, vibDepth = 0.45f, vibRate = 0.8f;
    bool vibRandom = false;
    int32_t section = 0;
    float focus = 1.0f, balance = 0.5f, mix = 1.0f, dryDelay = 0.0f;
    float dynDepth = 0.25f, dynRate = 0.5f;
    bool dynRandom = true;
    float unisonLevel = 0.5f, gain = 0.5f;
  };

  explicit tPlainEnsemble(const tSettings& s) : settings(s) {
    dryRing.assign(kRingLength, 0.0f);
    unisonRing.assign(kRingLength, 0.0f);
    for (int32_t i = 0; i < kVoices; ++i) InitVoiceTable(i);
    Reconfigure();
  }

  // The generator state (32-bit linear congruential), so a run can start where the
  // engine's does.
  void SetRandomState(uint32_t state) { randomState = state; }

  // `count` samples from `input` to the two outputs, replacing.
  void Process(const float* input, float* outA, float* outB, int32_t count) {
    const int32_t n = settings.clones;
    const bool dynOn = settings.dynDepth > 0.02f;
    const float dynDepth = settings.dynDepth;
    const float unisonGain = static_cast<float>(std::pow(10.0, settings.unisonLevel - 0.5));
    const float outGain = static_cast<float>(std::pow(10.0, (settings.gain - 0.5) * 40.0 / 20.0));
    float wet = outGain * settings.mix;
    float dry = (1.0f - settings.mix) * outGain;
    if (wet < 0.1f) wet += 1e-23f;
    if (dry < 0.1f) dry += 1e-23f;
    const float p = lo + 0.5f * (hi - lo);
    const float dryA = 1.3f * p, dryB = 1.3f * (1.0f - p);
    for (int32_t i = 0; i < count; ++i) {
      const float x = input[i] + 1e-23f;
      writePos = (writePos - 1) & (kRingLength - 1);
      dryRing[writePos] = unisonGain * x;
      unisonRing[writePos] = unisonGain * x;
      float sumA = 0.0f, sumB = 0.0f;
      for (int32_t k = 0; k < n; ++k) VoiceStep(k, dynOn, dynDepth, sumA, sumB);
      const float d = dryRing[(writePos + dryDelaySamples) & (kRingLength - 1)];
      outA[i] = sumA * wet + dry * d * dryA;
      outB[i] = sumB * wet + dry * d * dryB;
    }
  }

 private:
  struct tVoice {
    int32_t vibStep = 1, vibPos = 0;
    float timing = 0.56f;
    int32_t delay = 0;
    float speed = 0.65f, vibRateHz = 0.0f;
    bool vibRandom = false;
    int32_t vibTurn = 0;
    float phase = 0.0f, dynRate = 0.0f;
    bool dynRandom = false;
    float dynRise = 0.0f, dynDip = 0.0f, dynSpan = 0.0f;
    int32_t dynLen = 0, dynPeriod = 0, dynPos = 0, dynStep = 0;
    float gainLeft = 0.5f, gainRight = 0.5f, vibRate = 0.5f, vibDepth = 0.5f;
    bool busy = false;
    std::vector<float> vibTable;  // offsets in samples, entries 0..half
    float vibScale = 0.0f;
    int32_t vibSource = 0, vibLen = 0;
    int32_t tableDepth = -1, tableHalf = -1;
  };

  static constexpr float kSpeed[kVoices] = {
      0.65f, 0.65f, 0.65f, 0.53f, 0.53f, 0.53f, 0.8f,  0.8f,  0.49f, 0.49f, 0.9f,
      0.9f,  0.41f, 0.56f, 0.75f, 1.0f,  0.38f, 0.38f, 0.38f, 0.47f, 0.47f, 0.47f,
      0.72f, 0.72f, 0.34f, 0.34f, 0.95f, 0.95f, 0.38f, 0.4f,  0.7777f, 0.92f};
  static constexpr float kPhaseA[kVoices] = {
      0, 1.0f / 3, 2.0f / 3, 0, 1.0f / 3, 2.0f / 3, 0, 0.5f, 0, 0.5f, 0, 0.5f, 0, 0, 0, 0,
      0, 1.0f / 3, 2.0f / 3, 0, 1.0f / 3, 2.0f / 3, 0, 0.5f, 0, 0.5f, 0, 0.5f, 0, 0, 0, 0};
  static constexpr float kPhaseB[kVoices] = {
      0.3f, 0.3f, 0.3f, 0.5f, 0.5f, 0.5f, 0.7f, 0.7f, 0.2f, 0.2f, 0.6f, 0.6f, 0.9f, 0.7f, 0.5f, 0.3f,
      0.1f, 0.1f, 0.1f, 0.8f, 0.8f, 0.8f, 0.3f, 0.3f, 0.5f, 0.5f, 0.9f, 0.9f, 0.2f, 0.4f, 0.6f, 0.8f};
  static constexpr float kVibScale[kVoices] = {
      1.0f, 1.0f, 1.0f, 1.1f, 1.1f, 1.1f, 0.9f, 0.9f, 1.05f, 1.05f, 0.95f,
      0.95f, 0.85f, 0.8f, 0.95f, 0.9f, 0.75f, 0.75f, 0.75f, 0.8f, 0.8f, 0.8f,
      0.85f, 0.85f, 0.9f, 0.9f, 1.0f, 1.0f, 1.1f, 1.15f, 1.2f, 1.25f};
  static constexpr int32_t kTimingThousandths[kVoices] = {
      0,   1000, 477, 337, 696, 146, 400, 890, 214, 530, 75,  789, 278, 431, 610, 375,
      20,  950,  497, 357, 716, 166, 420, 910, 234, 550, 95,  809, 298, 451, 630, 395};

  // Position into the timing table of voice i in voice order `order` (A..D).
  static int32_t SectionOrder(int32_t order, int32_t i) {
    switch (order) {
      case 1: return 31 - i;
      case 2: return (i + 16) % 32;
      case 3: return i < 15 ? 14 - i : 46 - i;
      default: return i;
    }
  }

  static int32_t Nearest(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

  double Random() {  // 0..1, 1 excluded
    randomState = randomState * 134775813u + 1u;
    return randomState * (1.0 / 4294967296.0);
  }
  int32_t RandomInt(uint32_t n) {
    randomState = randomState * 134775813u + 1u;
    return static_cast<int32_t>((static_cast<uint64_t>(randomState) * n) >> 32);
  }

  void InitVoiceTable(int32_t i) {
    voices[i].speed = 1.0f + (kSpeed[i] - 0.65f);
    float phase = kPhaseA[i] + kPhaseB[i];
    while (phase > 1.0f) phase -= 1.0f;
    voices[i].phase = phase;
  }

  void Reconfigure() {
    const int32_t count = settings.clones;
    const float levelNorm = count >= 1 ? 1.078f / std::sqrt(static_cast<float>(count)) : 0.0f;
    const int32_t order = settings.section % 4;
    lo = std::max(0.0f, 1.0f - settings.balance - 0.5f * settings.focus);
    hi = std::min(1.0f, 1.0f - settings.balance + 0.5f * settings.focus);
    const float width = hi - lo;
    const bool wide = count > 3 || settings.vibRandom;
    vibRateLogMin = static_cast<float>(std::log10(wide ? 1.1 : 0.75));
    vibRateLogMax = static_cast<float>(std::log10(wide ? 8.0 : 12.0));
    const int32_t setUp = settings.vibRandom || settings.dynRandom ? kVoices : count;
    for (int32_t i = 0; i < setUp; ++i) SetUpVoice(i, order, levelNorm, width, count);
    dryDelaySamples = Nearest(settings.dryDelay * 0.25f * kRateHz);
  }

  void SetUpVoice(int32_t i, int32_t order, float levelNorm, float width, int32_t count) {
    tVoice& v = voices[i];
    const int32_t pos = SectionOrder(order, i);
    v.vibDepth = settings.vibDepth * kVibScale[i];
    v.vibRandom = settings.vibRandom;
    v.vibRate = settings.vibRate;
    v.dynRate = settings.dynRate;
    v.dynRandom = settings.dynRandom;
    v.dynRise = 0.35f * settings.dynDepth;
    v.dynDip = 0.99f * settings.dynDepth;
    v.dynSpan = v.dynRise + v.dynDip;
    const float p = static_cast<float>((Nearest(100.0f * kSpeed[i]) + 25 * order) % 100) / 100.0f;
    float q = count > 2 && i % 2 == 1 ? p : 1.0f - p;
    q = (q - 0.5f) * settings.focus + 0.5f;
    q = q * width + lo;
    v.gainLeft = levelNorm * q;
    v.gainRight = levelNorm * (1.0f - q);
    v.timing = (29.0f * settings.timing + 1.0f) * static_cast<float>(kTimingThousandths[pos]) / 1000.0f;
    v.vibSource = i;
    Configure(v);
  }

  void Configure(tVoice& v) {
    v.vibRateHz = static_cast<float>(
        std::pow(10.0, vibRateLogMin + (vibRateLogMax - vibRateLogMin) * v.vibRate) * v.speed);
    const int32_t period = Nearest(kRateHz / v.vibRateHz);
    const int32_t depth = Nearest(period * v.vibDepth * 0.025f);
    const int32_t half = period / 2;
    v.vibTurn = half - 1;
    v.busy = true;
    if (v.vibTable.size() < static_cast<size_t>(half + 1))
      v.vibTable.resize(std::max(Nearest(half * 1.25), half + 1));
    if (depth != v.tableDepth || half != v.tableHalf) {
      for (int32_t j = 0; j <= half; ++j)
        v.vibTable[j] = static_cast<float>((0.5 - std::cos(j * M_PI / half) / 2) * depth + 1e-23);
      v.tableDepth = depth;
      v.tableHalf = half;
    }
    // The walk starts and turns on the table just built.
    v.vibLen = v.vibTurn;
    if (v.vibRandom) {
      v.vibStep = 1;
      v.vibPos = 0;
    } else if (v.phase > 0.5f) {
      v.vibStep = -1;
      v.vibPos = Nearest((1.0f - v.phase) * static_cast<float>(v.vibLen));
    } else {
      v.vibStep = 1;
      v.vibPos = Nearest(static_cast<float>(v.vibLen) * v.phase);
    }
    v.busy = false;
    v.dynPeriod = Nearest(((1.0f - v.dynRate) * 1.9f + 0.1f) * v.speed * kRateHz);
    v.dynLen = v.dynPeriod;
    if (v.phase > 0.5f) {
      v.dynStep = -1;
      v.dynPos = Nearest((1.0f - v.phase) * static_cast<float>(v.dynLen));
    } else {
      v.dynStep = 1;
      v.dynPos = Nearest(static_cast<float>(v.dynLen) * v.phase);
    }
    v.delay = Nearest((kRateHz / 100.0f - kRateHz / 1000.0f) * v.timing + kRateHz / 1000.0f);
  }

  // One sample of voice k: its two weighted contributions added to sumA and sumB.
  void VoiceStep(int32_t k, bool dynOn, float dynDepth, float& sumA, float& sumB) {
    tVoice& v = voices[k];
    float s = 0.0f;
    if (!v.busy) {
      v.vibPos += v.vibStep;
      if (v.vibPos <= 0) {
        v.vibStep = -v.vibStep;
        v.vibPos = 0;
        if (v.vibRandom) {
          v.vibScale = static_cast<float>(Random() + 0.5);
          v.vibSource = RandomInt(kVoices);
          v.vibLen = voices[v.vibSource].vibTurn;
        } else {
          v.vibScale = 1.0f;
          v.vibSource = k;
          v.vibLen = v.vibTurn;
        }
      } else if (v.vibPos >= v.vibLen) {
        v.vibStep = -v.vibStep;
        v.vibPos = v.vibLen;
      }
      const float off = v.vibRandom ? v.vibScale * voices[v.vibSource].vibTable[v.vibPos]
                                    : v.vibTable[v.vibPos];
      const int32_t ip = static_cast<int32_t>(std::nearbyint(off - 0.5f));
      const int32_t r0 = (writePos + v.delay + ip) & (kRingLength - 1);
      const int32_t r1 = (r0 + 1) & (kRingLength - 1);
      const float frac = off + 1e-23f - static_cast<float>(ip);
      s = unisonRing[r0] + frac * (unisonRing[r1] - unisonRing[r0]);
    }
    if (!dynOn) {
      sumA += 1e-23f + s * v.gainLeft;
      sumB += 1e-23f + s * v.gainRight;
      return;
    }
    v.dynPos += v.dynStep;
    if (v.dynPos <= 0) {
      v.dynStep = -v.dynStep;
      v.dynPos = 0;
      float r = 1.0f;
      if (v.dynRandom) {
        r = static_cast<float>(Random() + 0.5);
        v.dynLen = voices[RandomInt(kVoices)].dynPeriod;
      } else {
        v.dynLen = v.dynPeriod;
      }
      v.dynRise = 0.35f * r * dynDepth;
      if (!v.dynRandom) v.dynDip = 0.99f * r * dynDepth;
      if (v.dynDip > 1.0f) v.dynDip = 1.0f;
      v.dynSpan = v.dynRise + v.dynDip;
    } else if (v.dynPos >= v.dynLen) {
      v.dynStep = -v.dynStep;
      v.dynPos = v.dynLen;
      if (v.dynRandom) {
        v.dynDip = std::min(1.0f, 0.99f * static_cast<float>(Random() + 0.5) * dynDepth);
        v.dynSpan = v.dynRise + v.dynDip;
      }
    }
    const float g = (1.0f - v.dynDip) +
                    (static_cast<float>(v.dynPos) / static_cast<float>(v.dynLen)) * v.dynSpan;
    sumA += (s + 1e-23f) * v.gainLeft * g;
    sumB += (s + 1e-23f) * v.gainRight * g;
  }

  tSettings settings;
  std::array<tVoice, kVoices> voices;
  std::vector<float> dryRing, unisonRing;
  int32_t writePos = 0;
  int32_t dryDelaySamples = 0;
  float lo = 0.0f, hi = 1.0f;
  float vibRateLogMin = 0.0f, vibRateLogMax = 0.0f;
  uint32_t randomState = 0;
};

}  // namespace vm::bench
