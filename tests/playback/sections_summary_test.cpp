// The section engines' outputs summarised at a low rate and held to a millionth: the RMS
// of each half second and the RMS of the first difference over the whole render (a level
// weighted towards the treble, which moves with any filter or splice). Where a change of
// the engines is allowed to alter the last bits of their samples (a different summation
// order), the bit-exact renders beside this test must be recorded again; these figures
// must not move by more than that allowance.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <iomanip>
#include <memory>
#include <ostream>
#include <vector>

#include "playback/FormantShifter.h"
#include "playback/XPlayback.h"
#include "signals/Sawtooth.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr int kRateHz = 44100;
constexpr int kHalves = 6;  // three seconds
constexpr double kRelativeTolerance = 1e-6;

enum tStream { kOctaveDown, kOctaveUp, kBassHead, kUnisonHead, kAltoHead, kStreams };
enum tInput { kVowel, kSawtooth };

using tOutputs = std::array<std::vector<float>, kStreams>;

// Each octaver on its own, and the shifter's heads as the ensemble sets them by default.
tOutputs Render(tInput input) {
  const size_t samples = static_cast<size_t>(kHalves) * kRateHz / 2;
  const std::vector<float> x = input == kVowel
                                   ? signals::SungVowel(150.0, kRateHz, samples, 0.5, signals::kVowelA)
                                   : signals::VibratoSawtooth(kRateHz, samples);
  tOctaver down(kRateHz, true, false), up(kRateHz, false, true);
  auto shifter = std::make_unique<tFormantShifter>(kRateHz);
  shifter->SetHalfHead(1.76f, 0.8f, 8000.0f, 0.05f, 0.8f);
  shifter->SetUnisonHead(1.3f, 0.8f, 8000.0f, 0.05f, 0.8f);
  shifter->SetDoubleHead(0.57f, 1.5f, 8000.0f, 0.05f, 0.8f);
  tOutputs out;
  for (float v : x) {
    down.Process(v);
    up.Process(v);
    shifter->Process(v);
    const float values[kStreams] = {down.HalfOut, up.DoubleOut, shifter->HalfOut,
                                    shifter->UnisonOut, shifter->DoubleOut};
    for (int s = 0; s < kStreams; ++s) out[s].push_back(values[s]);
  }
  return out;
}

struct tSummary {
  double halfSecondRms[kHalves];
  double differenceRms;
};

tSummary Summarise(const std::vector<float>& y) {
  tSummary s{};
  const size_t half = kRateHz / 2;
  for (int h = 0; h < kHalves; ++h) {
    double sum = 0.0;
    for (size_t n = h * half; n < (h + 1) * half; ++n) sum += double(y[n]) * y[n];
    s.halfSecondRms[h] = std::sqrt(sum / half);
  }
  double sum = 0.0;
  for (size_t n = 1; n < y.size(); ++n) sum += (double(y[n]) - y[n - 1]) * (double(y[n]) - y[n - 1]);
  s.differenceRms = std::sqrt(sum / (y.size() - 1));
  return s;
}

struct tSummaryCase {
  const char* name;
  tInput input;
  tStream stream;
  tSummary recorded;
};

void PrintTo(const tSummaryCase& c, std::ostream* os) { *os << c.name; }

class SectionSummary : public testing::TestWithParam<tSummaryCase> {};

void ExpectClose(double measured, double recorded, const char* what) {
  EXPECT_NEAR(measured, recorded, kRelativeTolerance * std::fabs(recorded))
      << what << std::setprecision(10) << ": measured " << measured;
}

TEST_P(SectionSummary, LevelsAsRecorded) {
  const tSummaryCase& c = GetParam();
  static const tOutputs vowel = Render(kVowel), sawtooth = Render(kSawtooth);
  const tSummary s = Summarise((c.input == kVowel ? vowel : sawtooth)[c.stream]);
  for (int h = 0; h < kHalves; ++h) {
    ASSERT_GT(s.halfSecondRms[h], 1e-3) << "half second " << h << " is silent";
    ExpectClose(s.halfSecondRms[h], c.recorded.halfSecondRms[h], "half-second RMS");
  }
  ExpectClose(s.differenceRms, c.recorded.differenceRms, "difference RMS");
}

INSTANTIATE_TEST_SUITE_P(
    Recorded, SectionSummary,
    testing::Values(
        tSummaryCase{"OctaveDownVowel", kVowel, kOctaveDown,
                     {{0.194502163, 0.195222877, 0.195943024, 0.195222877, 0.195943024, 0.195222877}, 0.00949475796}},
        tSummaryCase{"OctaveUpVowel", kVowel, kOctaveUp,
                     {{0.194237725, 0.196032951, 0.196032951, 0.196032951, 0.196032951, 0.196032951}, 0.0380249861}},
        tSummaryCase{"BassHeadVowel", kVowel, kBassHead,
                     {{0.152632578, 0.151673991, 0.151673991, 0.151673991, 0.151673991, 0.151673991}, 0.0237654658}},
        tSummaryCase{"UnisonHeadVowel", kVowel, kUnisonHead,
                     {{0.191994068, 0.1923532, 0.1923532, 0.1923532, 0.1923532, 0.1923532}, 0.0241576243}},
        tSummaryCase{"AltoHeadVowel", kVowel, kAltoHead,
                     {{0.168864256, 0.168787347, 0.168787347, 0.168787347, 0.168787347, 0.168787347}, 0.0102358595}},
        tSummaryCase{"OctaveDownSawtooth", kSawtooth, kOctaveDown,
                     {{0.230821562, 0.230813275, 0.230717782, 0.230732621, 0.23050146, 0.230383582}, 0.0283667942}},
        tSummaryCase{"OctaveUpSawtooth", kSawtooth, kOctaveUp,
                     {{0.228021488, 0.230683757, 0.231198386, 0.230578961, 0.231094084, 0.230313771}, 0.0617628058}},
        tSummaryCase{"BassHeadSawtooth", kSawtooth, kBassHead,
                     {{0.208062539, 0.207391174, 0.207236794, 0.207442421, 0.207210165, 0.207332539}, 0.0381364193}},
        tSummaryCase{"UnisonHeadSawtooth", kSawtooth, kUnisonHead,
                     {{0.227392823, 0.227480136, 0.22716847, 0.227507656, 0.227126103, 0.227435871}, 0.0382530442}},
        tSummaryCase{"AltoHeadSawtooth", kSawtooth, kAltoHead,
                     {{0.228750403, 0.228702023, 0.228566908, 0.228769672, 0.228517758, 0.228637379}, 0.037793919}}),
    [](const testing::TestParamInfo<tSummaryCase>& info) { return info.param.name; });

}  // namespace
}  // namespace vm
