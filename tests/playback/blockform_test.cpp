// The block forms of the section engines must give exactly the floats of the sample-by-sample
// forms: the filters run side by side over a block, the rest sample by sample, so any slip of
// a lag, a link or a state written back shows as a differing bit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "playback/FormantShifter.h"
#include "playback/XPlayback.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr int kRate = 44100;

// A sawtooth of 150 Hz with a 5 Hz vibrato, deterministic hiss, a silent gap (the octaver's
// fade and restart), and a few samples no real input holds: NaN, infinities, +-5000.
std::vector<float> Awkward(size_t length) {
  std::vector<float> x(length);
  double phase = 0.0;
  uint32_t noise = 11;
  for (size_t i = 0; i < length; ++i) {
    phase += 150.0 * (1 + 0.02 * std::sin(2 * M_PI * 5.0 * i / kRate)) / kRate;
    phase -= std::floor(phase);
    noise = noise * 1664525u + 1013904223u;
    x[i] = static_cast<float>(0.4 * (2 * phase - 1) + 0.01 * ((noise >> 8) / 16777216.0 - 0.5));
  }
  for (size_t i = length / 2; i < length / 2 + 3000 && i < length; ++i) x[i] = 0.0f;
  const float odd[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                       -std::numeric_limits<float>::infinity(), 5000.0f, -5000.0f};
  for (size_t k = 0; k < 5; ++k) x[length / 5 + 997 * k] = odd[k];
  return x;
}

std::vector<float> Vowel(size_t length) { return signals::SungVowel(110.0, kRate, length, 0.5); }

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

struct tOctaverOut {
  std::vector<float> half, dbl;
};

tOctaverOut PerSample(tOctaver& o, const std::vector<float>& in) {
  tOctaverOut out{std::vector<float>(in.size()), std::vector<float>(in.size())};
  for (size_t i = 0; i < in.size(); ++i) {
    o.Process(in[i]);
    out.half[i] = o.HalfOut;
    out.dbl[i] = o.DoubleOut;
  }
  return out;
}

tOctaverOut InBlocks(tOctaver& o, const std::vector<float>& in, size_t block) {
  tOctaverOut out{std::vector<float>(in.size()), std::vector<float>(in.size())};
  for (size_t i = 0; i < in.size(); i += block) {
    const int32_t n = static_cast<int32_t>(std::min(block, in.size() - i));
    o.ProcessBlock(in.data() + i, n, out.half.data() + i, out.dbl.data() + i);
  }
  return out;
}

TEST(BlockFormTest, OctaverBlocksMatchSampleBySampleToTheBit) {
  const size_t length = 3 * kRate;
  for (const auto& input : {Awkward(length), Vowel(length)}) {
    for (const bool half : {true, false}) {
      tOctaver reference(kRate, half, !half);
      const tOctaverOut expected = PerSample(reference, input);
      for (const size_t block : {1, 7, 256, 300, 1024}) {
        tOctaver octaver(kRate, half, !half);
        const tOctaverOut got = InBlocks(octaver, input, block);
        EXPECT_TRUE(SameBits(got.half, expected.half)) << "half " << half << " block " << block;
        EXPECT_TRUE(SameBits(got.dbl, expected.dbl)) << "half " << half << " block " << block;
      }
    }
  }
}

// A boundary forced by the timeout between the countdown's boundaries (on a voice the
// countdown always comes first, so the timeout's position is moved near in both forms at
// the same sample): the block form's runs must stop at it.
TEST(BlockFormTest, OctaverBlocksStopAtAForcedBoundary) {
  const size_t length = kRate, block = 256;
  const std::vector<float> input = Vowel(length);
  for (const bool half : {true, false}) {
    tOctaver reference(kRate, half, !half), octaver(kRate, half, !half);
    tOctaverOut expected{std::vector<float>(length), std::vector<float>(length)};
    tOctaverOut got = expected;
    int forced = 0;
    for (size_t i = 0; i < length; i += block) {
      const int32_t n = static_cast<int32_t>(std::min(block, length - i));
      if ((i / block) % 3 == 2) {
        for (tOctaver* o : {&reference, &octaver}) o->ForcedPos = (o->WritePos + 90) & o->Mask;
        ++forced;
      }
      for (int32_t k = 0; k < n; ++k) {
        reference.Process(input[i + k]);
        expected.half[i + k] = reference.HalfOut;
        expected.dbl[i + k] = reference.DoubleOut;
      }
      octaver.ProcessBlock(input.data() + i, n, got.half.data() + i, got.dbl.data() + i);
    }
    ASSERT_GT(forced, 10);
    EXPECT_TRUE(SameBits(got.half, expected.half)) << "half " << half;
    EXPECT_TRUE(SameBits(got.dbl, expected.dbl)) << "half " << half;
  }
}

// Two octavers whose filters run side by side in one loop give what each gives alone.
TEST(BlockFormTest, PairedOctaversMatchEachAlone) {
  const size_t length = 2 * kRate;
  const std::vector<float> low = Vowel(length), high = Awkward(length);
  tOctaver bassAlone(kRate, true, false), altoAlone(kRate, false, true);
  const tOctaverOut bassExpected = PerSample(bassAlone, low);
  const tOctaverOut altoExpected = PerSample(altoAlone, high);
  tOctaver bass(kRate, true, false), alto(kRate, false, true);
  std::vector<float> bassOut(length), altoOut(length), unused(tOctaver::kBlock);
  for (size_t i = 0; i < length; i += tOctaver::kBlock) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(tOctaver::kBlock, length - i));
    bass.PrepareBlock(low.data() + i, n);
    alto.PrepareBlock(high.data() + i, n);
    tOctaver::FilterBlocks(&bass, &alto, n);
    bass.FinishBlock(n, bassOut.data() + i, unused.data());
    alto.FinishBlock(n, unused.data(), altoOut.data() + i);
  }
  EXPECT_TRUE(SameBits(bassOut, bassExpected.half));
  EXPECT_TRUE(SameBits(altoOut, altoExpected.dbl));
}

TEST(BlockFormTest, ShifterBlocksMatchSampleBySampleToTheBit) {
  const size_t length = 3 * kRate;
  auto configure = [](tFormantShifter& s) {
    s.SetHalfHead(1.7f, 0.8f, 8000.0f, 0.05f, 0.8f);
    s.SetUnisonHead(1.3f, 0.8f, 8000.0f, 0.05f, 0.8f);
    s.SetDoubleHead(0.6f, 1.5f, 8000.0f, 0.05f, 0.8f);
  };
  for (const auto& input : {Awkward(length), Vowel(length)}) {
    tFormantShifter reference(kRate);
    configure(reference);
    std::vector<float> half(length), unison(length), dbl(length);
    for (size_t i = 0; i < length; ++i) {
      reference.Process(input[i]);
      half[i] = reference.HalfOut;
      unison[i] = reference.UnisonOut;
      dbl[i] = reference.DoubleOut;
    }
    for (const size_t block : {1, 5, 256, 1000}) {
      tFormantShifter shifter(kRate);
      configure(shifter);
      std::vector<float> h(length), u(length), d(length);
      for (size_t i = 0; i < length; i += block) {
        const int32_t n = static_cast<int32_t>(std::min(block, length - i));
        shifter.ProcessBlock(input.data() + i, n, h.data() + i, u.data() + i, d.data() + i);
      }
      EXPECT_TRUE(SameBits(h, half)) << block;
      EXPECT_TRUE(SameBits(u, unison)) << block;
      EXPECT_TRUE(SameBits(d, dbl)) << block;
    }
  }
}

// Settings and switches changed before every 64-sample block, at the same samples in both
// forms: the block form, which may rewrite a completed cycle a block or more later, must
// still use the settings and switches of the moment the cycle completed.
TEST(BlockFormTest, ShifterBlocksFollowSettingsChangedBetweenBlocks) {
  const size_t length = 2 * kRate;
  constexpr size_t kBlock = 64;
  auto change = [](tFormantShifter& s, size_t block) {
    const float step = static_cast<float>(block % 7);
    s.SetHalfHead(1.2f + 0.1f * step, 0.8f, 8000.0f - 300.0f * step, 0.05f, 0.8f);
    s.SetUnisonHead(1.3f - 0.05f * step, 0.8f + 0.1f * step, 8000.0f, 0.05f, 0.8f);
    s.SetDoubleHead(0.6f + 0.05f * step, 1.5f, 8000.0f, 0.02f * step, 0.8f);
    s.HalfOn = block % 29 != 3;
    s.UnisonOn = block % 13 != 5;
    s.DoubleOn = block % 17 < 12;
  };
  for (const auto& input : {Awkward(length), Vowel(length)}) {
    tFormantShifter reference(kRate), shifter(kRate);
    std::vector<float> half(length), unison(length), dbl(length);
    for (size_t i = 0; i < length; ++i) {
      if (i % kBlock == 0) change(reference, i / kBlock);
      reference.Process(input[i]);
      half[i] = reference.HalfOut;
      unison[i] = reference.UnisonOut;
      dbl[i] = reference.DoubleOut;
    }
    std::vector<float> h(length), u(length), d(length);
    for (size_t i = 0; i < length; i += kBlock) {
      change(shifter, i / kBlock);
      const int32_t n = static_cast<int32_t>(std::min(kBlock, length - i));
      shifter.ProcessBlock(input.data() + i, n, h.data() + i, u.data() + i, d.data() + i);
    }
    EXPECT_TRUE(SameBits(h, half));
    EXPECT_TRUE(SameBits(u, unison));
    EXPECT_TRUE(SameBits(d, dbl));
  }
}

}  // namespace
}  // namespace vm
