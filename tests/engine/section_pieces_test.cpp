// The section engines run a chunk in pieces, the formant shifter's filters one piece ahead
// of the octavers' in the same vector lanes. Whatever the pieces, each engine must see its
// samples in order: host blocks that cut chunks into uneven pieces (a short last piece, so
// that the shifter's piece ahead is shorter than the octavers') render the bits of
// one-sample blocks, in which every piece is a single sample and nothing runs ahead.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "EngineFixture.h"

namespace vm {
namespace {

// A 180 Hz tone with two harmonics, a slow glide and a pause: cycles of changing length,
// and a stretch where the octavers' silence detectors fade them out and back in.
std::vector<float> Voice(size_t length, double rateHz) {
  std::vector<float> x(length);
  double phase = 0.0;
  for (size_t i = 0; i < length; ++i) {
    const double t = static_cast<double>(i) / rateHz;
    phase += 2 * M_PI * 180.0 * (1.0 + 0.1 * t) / rateHz;
    const double level = (t > 0.6 && t < 0.75) ? 0.0 : 0.4;
    x[i] = static_cast<float>(level * (std::sin(phase) + 0.4 * std::sin(2 * phase) +
                                       0.2 * std::sin(3 * phase)));
  }
  return x;
}

void Configure(tVoicemultiply& effect, int split) {
  effect.setSampleRate(44100.0f);
  effect.setParameter(kClones, 3 / 31.0f);
  test::MakeStatic(effect);
  effect.setParameter(kVibDepth, 0.5f);
  effect.setParameter(kSplit, split / 5.0f);
  effect.setParameter(kUnisonFmnts, 0.8f);  // the shifted unison copy as well
  effect.setParameter(kMix, 1.0f);          // wet only: the sections' rings are all we hear
}

// Bass only, alto only and both octavers (seven, eight and eleven filters in the lanes), in
// blocks that leave a short last piece, chunks too short for pieces, and sizes that change.
TEST(SectionPieces, UnevenPiecesRenderTheBitsOfOneSampleBlocks) {
  const std::vector<float> input = Voice(44100, 44100.0);
  for (const int split : {1, 2, 5}) {
    SCOPED_TRACE(testing::Message() << "split " << split);
    tVoicemultiply reference(nullptr);
    Configure(reference, split);
    const test::tStereo expected = test::RenderInBlocksOf(reference, input, {1});
    double energy = 0.0;
    for (float v : expected.left) energy += double(v) * v;
    ASSERT_GT(energy, 1.0);
    for (const std::vector<int>& sizes :
         std::vector<std::vector<int>>{{100}, {130}, {1000}, {37, 300, 33, 129, 2, 611}}) {
      SCOPED_TRACE(testing::Message() << "first block " << sizes[0]);
      tVoicemultiply effect(nullptr);
      Configure(effect, split);
      const test::tStereo got = test::RenderInBlocksOf(effect, input, sizes);
      EXPECT_EQ(test::FirstDifference(got.left, expected.left), -1);
      EXPECT_EQ(test::FirstDifference(got.right, expected.right), -1);
    }
  }
}

}  // namespace
}  // namespace vm
