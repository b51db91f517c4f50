// Renders of the section engines, pinned to the bit: the octaver halving and doubling, the
// formant shifter's three heads with their formants moved, the shifted copies octaved as
// the bass and alto sections use them, and the two cycle analysers, each fed three seconds
// of a sung vowel and of a sawtooth with vibrato and noise. Each case hashes the float bits
// of every output sample (and, for the analysers, the band-limited signal they decide on).
//
// These engines are plain single-precision code without fused multiply-adds (the x86-64
// baseline has none and ISO C++ mode does not contract), so the bits are the same in the
// optimised, debug and sanitizer builds. A failure here means an engine's sound changed:
// if that was intended (a different summation order, say), the behavioural tests beside
// this one must still pass before the hash is recorded again.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <vector>

#include "analysis/PeakStepper.h"
#include "playback/FormantShifter.h"
#include "playback/XPlayback.h"
#include "signals/Sawtooth.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr double kSeconds = 3.0;
constexpr double kVowelF0Hz = 150.0;

// The heads as the ensemble sets them by default: bass formants raised by 1.76 before the
// octave down, alto formants lowered to 0.57 before the octave up, unison raised by 1.3.
// Band from 0.8 f0 (1.5 f0 for the alto copy) to 8 kHz, faded in over its first 5 % and
// out from 80 %.
struct tHeadSetting {
  float ratio, lowFactor;
};
constexpr tHeadSetting kBassHead{1.76f, 0.8f}, kUnisonHead{1.3f, 0.8f}, kAltoHead{0.57f, 1.5f};
constexpr float kBandTopHz = 8000.0f, kFadeIn = 0.05f, kFadeOut = 0.8f;

void SetHeads(tFormantShifter& shifter) {
  shifter.SetHalfHead(kBassHead.ratio, kBassHead.lowFactor, kBandTopHz, kFadeIn, kFadeOut);
  shifter.SetUnisonHead(kUnisonHead.ratio, kUnisonHead.lowFactor, kBandTopHz, kFadeIn, kFadeOut);
  shifter.SetDoubleHead(kAltoHead.ratio, kAltoHead.lowFactor, kBandTopHz, kFadeIn, kFadeOut);
}

// FNV-1a over the bytes of each value fed to it.
class tBitHash {
 public:
  void Add(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    AddBits(bits);
  }
  void Add(int32_t v) { AddBits(static_cast<uint32_t>(v)); }
  uint64_t Value() const { return hash; }

 private:
  void AddBits(uint32_t bits) {
    for (int b = 0; b < 4; ++b) {
      hash ^= (bits >> (8 * b)) & 0xFFu;
      hash *= 0x100000001b3ull;
    }
  }
  uint64_t hash = 0xcbf29ce484222325ull;
};

// What a render produced: the hash of everything observed, and the energy of the engine's
// main output (a silent engine would make the hash meaningless).
struct tRender {
  uint64_t hash;
  double energy;
};

using tEngineRun = std::function<tRender(const std::vector<float>&, int)>;

// One octaver direction alone: halving (down) or doubling (up).
template <bool kHalving>
tRender Octave(const std::vector<float>& x, int rate) {
  tOctaver octaver(rate, kHalving, !kHalving);
  tBitHash h;
  double energy = 0;
  for (float v : x) {
    octaver.Process(v);
    const float out = kHalving ? octaver.HalfOut : octaver.DoubleOut;
    h.Add(out);
    energy += double(out) * out;
  }
  return {h.Value(), energy};
}
const tEngineRun OctaveDown = Octave<true>;
const tEngineRun OctaveUp = Octave<false>;

tRender FormantHeads(const std::vector<float>& x, int rate) {
  auto shifter = std::make_unique<tFormantShifter>(rate);
  SetHeads(*shifter);
  tBitHash h;
  double energy = 0;
  for (float v : x) {
    shifter->Process(v);
    h.Add(shifter->HalfOut);
    h.Add(shifter->UnisonOut);
    h.Add(shifter->DoubleOut);
    energy += double(shifter->UnisonOut) * shifter->UnisonOut;
  }
  return {h.Value(), energy};
}

// The bass and alto sections: each shifted copy through its own octaver.
tRender ShiftedThenOctaved(const std::vector<float>& x, int rate) {
  auto shifter = std::make_unique<tFormantShifter>(rate);
  SetHeads(*shifter);
  shifter->UnisonOn = false;
  tOctaver bass(rate, true, false), alto(rate, false, true);
  tBitHash h;
  double energy = 0;
  for (float v : x) {
    shifter->Process(v);
    bass.Process(shifter->HalfOut);
    alto.Process(shifter->DoubleOut);
    h.Add(bass.HalfOut);
    h.Add(alto.DoubleOut);
    energy += double(bass.HalfOut) * bass.HalfOut + double(alto.DoubleOut) * alto.DoubleOut;
  }
  return {h.Value(), energy};
}

// The keeper's polarity and the band-limited signal it picks the extremes of.
tRender Keeper(const std::vector<float>& x, int rate) {
  tExtremeKeeper keeper(rate);
  tBitHash h;
  double energy = 0;
  for (float v : x) {
    const float polarity = keeper.Process(v);
    h.Add(polarity);
    h.Add(keeper.lowPass2.y1);
    energy += double(keeper.lowPass2.y1) * keeper.lowPass2.y1;
  }
  return {h.Value(), energy};
}

// The analyser's low-passed copy, its lobe area and the crossing it names.
tRender Analyser(const std::vector<float>& x, int rate) {
  tZeroCrossingAnalyser analyser;
  analyser.SetSampleRate(rate);
  tBitHash h;
  double energy = 0;
  for (size_t n = 0; n < x.size(); ++n) {
    analyser.Process(static_cast<int32_t>(n & 32767), x[n]);
    h.Add(analyser.lastFiltered);
    h.Add(analyser.area);
    h.Add(analyser.BestRising());
    energy += double(analyser.lastFiltered) * analyser.lastFiltered;
  }
  return {h.Value(), energy};
}

enum tInput { kVowel, kSawtooth };

std::vector<float> Input(tInput kind, int rate) {
  const size_t samples = static_cast<size_t>(kSeconds * rate);
  if (kind == kVowel) return signals::SungVowel(kVowelF0Hz, rate, samples, 0.5, signals::kVowelA);
  return signals::VibratoSawtooth(rate, samples);
}

struct tGoldenCase {
  const char* name;
  tEngineRun run;
  tInput input;
  int rate;  // Hz
  uint64_t hash;
};

void PrintTo(const tGoldenCase& c, std::ostream* os) { *os << c.name; }

class SectionGolden : public testing::TestWithParam<tGoldenCase> {};

TEST_P(SectionGolden, EngineSoundsAsRecorded) {
  const tGoldenCase& c = GetParam();
  const tRender r = c.run(Input(c.input, c.rate), c.rate);
  ASSERT_GT(r.energy, 1.0) << "the engine must sound for the hash to mean anything";
  EXPECT_EQ(r.hash, c.hash) << std::hex << "0x" << r.hash;
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, SectionGolden,
    testing::Values(
        tGoldenCase{"OctaveDownVowel", OctaveDown, kVowel, 44100, 0xcb792d726c1fc3ccull},
        tGoldenCase{"OctaveDownSawtooth", OctaveDown, kSawtooth, 44100, 0xc45d1187efb7c779ull},
        tGoldenCase{"OctaveUpVowel", OctaveUp, kVowel, 44100, 0x53d7bdea4b7b08a1ull},
        tGoldenCase{"OctaveUpSawtooth", OctaveUp, kSawtooth, 44100, 0xae2dea38f1e27286ull},
        tGoldenCase{"OctaveUpSawtoothHighRate", OctaveUp, kSawtooth, 96000, 0xd976ba890d0e93aull},
        tGoldenCase{"FormantHeadsVowel", FormantHeads, kVowel, 44100, 0x6b49b71275aa8087ull},
        tGoldenCase{"FormantHeadsSawtooth", FormantHeads, kSawtooth, 44100, 0xe133dd86f7224fd1ull},
        tGoldenCase{"FormantHeadsVowelHighRate", FormantHeads, kVowel, 96000, 0xfc2af42fbbbd59bbull},
        tGoldenCase{"ShiftedThenOctavedVowel", ShiftedThenOctaved, kVowel, 44100, 0x4c32374905bafd6aull},
        tGoldenCase{"ShiftedThenOctavedSawtooth", ShiftedThenOctaved, kSawtooth, 44100, 0xae091df36b43745cull},
        tGoldenCase{"KeeperVowel", Keeper, kVowel, 44100, 0x9bb89a20de352445ull},
        tGoldenCase{"KeeperSawtooth", Keeper, kSawtooth, 44100, 0x941c2fe3aca34e18ull},
        tGoldenCase{"AnalyserVowel", Analyser, kVowel, 44100, 0x195704b1fbbc3f2dull},
        tGoldenCase{"AnalyserSawtooth", Analyser, kSawtooth, 44100, 0xfdcf52b836db5683ull}),
    [](const testing::TestParamInfo<tGoldenCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vm
