// The built plug-in seen from outside: loaded with dlopen and driven only through its
// record, as a host does.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "PluginHost.h"
#include "vst/Voicemultiply.h"
#include "signals/Envelope.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {

std::string PluginPath() {
  const char* path = std::getenv("VM_PLUGIN");
  return path ? path : DefaultPluginPath();
}

intptr_t SilentHost(AEffect*, int32_t, int32_t, intptr_t, void*, float) { return 0; }

TEST(Binary, HostWithoutVersionGetsNoEffect) {
  void* library = dlopen(PluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(dlsym(library, "main"));
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry(SilentHost), nullptr);
  EXPECT_EQ(entry(nullptr), nullptr);
  dlclose(library);
}

TEST(Binary, RecordNamesAndProgram) {
  tPluginHost host(PluginPath());
  const AEffect* record = host.Effect();
  EXPECT_EQ(record->numParams, 21);
  EXPECT_EQ(record->numPrograms, 1);
  EXPECT_EQ(record->numInputs, 1);
  EXPECT_EQ(record->numOutputs, 2);
  EXPECT_TRUE(record->flags & effFlagsCanReplacing);
  EXPECT_NE(record->uniqueID, 0);
  const char* names[] = {"Clones", "Timing", "VibDepth", "VibRate", "VibRandom", "Split",
                         "BassFmnts", "BassLevel", "AltoFmnts", "AltoLevel", "Section",
                         "Focus", "Balance", "Mix", "DryDelay", "DynDepth", "DynRate",
                         "DynRandom", "UnisonFmnts", "UnisonLevel", "Gain"};
  for (int i = 0; i < 21; ++i) EXPECT_EQ(host.ParameterName(i), names[i]);
  char program[64];
  host.Dispatch(effGetProgramName, 0, 0, program);
  EXPECT_STREQ(program, "Default");
  host.Dispatch(effSetProgramName, 0, 0, const_cast<char*>("Choir"));
  host.Dispatch(effGetProgramName, 0, 0, program);
  EXPECT_STREQ(program, "Choir");
  host.SetParameter(kTiming, 0.7f);
  EXPECT_FLOAT_EQ(host.GetParameter(kTiming), 0.7f);
  EXPECT_EQ(host.ParameterDisplay(kTiming), "7.299999");  // 9 * 0.7f + 1 as a float
  EXPECT_EQ(host.Dispatch(effIdentify), FourCC('N', 'v', 'E', 'f'));
}

// A host asks before it records automation of a parameter: each of the 21 may be
// automated, no other index; asking writes nothing and changes no value.
TEST(Binary, EveryParameterCanBeAutomated) {
  tPluginHost host(PluginPath());
  constexpr unsigned char kFill = 0x5a;
  std::vector<float> valuesBefore;
  for (int32_t i = 0; i < 21; ++i) valuesBefore.push_back(host.GetParameter(i));
  const auto ask = [&](int32_t index) {
    unsigned char text[256];
    std::memset(text, kFill, sizeof text);
    const intptr_t answer = host.Dispatch(effCanBeAutomated, index, 0, text);
    EXPECT_EQ(std::count(std::begin(text), std::end(text), kFill), std::ssize(text))
        << "index " << index << " wrote into the text";
    return answer;
  };
  for (int32_t i = 0; i < 21; ++i) EXPECT_EQ(ask(i), 1) << host.ParameterName(i);
  for (int32_t index : {-1, 21, 1000}) EXPECT_EQ(ask(index), 0) << "index " << index;
  for (int32_t i = 0; i < 21; ++i) EXPECT_EQ(host.GetParameter(i), valuesBefore[i]) << host.ParameterName(i);
}

// The binary's audio equals the engine's, sample for sample, for settings without random
// draws (the binary has a generator of its own).
TEST(Binary, ProcessesLikeTheEngineItIsBuiltFrom) {
  tPluginHost host(PluginPath());
  tVoicemultiply engine(nullptr);
  const std::pair<int, float> settings[] = {{kVibRandom, 0}, {kDynRandom, 0}, {kClones, 0.3f},
                                            {kTiming, 0.8f}, {kMix, 0.7f}, {kDryDelay, 0.1f}};
  for (const auto& [index, value] : settings) {
    host.SetParameter(index, value);
    engine.setParameter(index, value);
  }
  host.Start(48000.0f, 300);
  engine.setSampleRate(48000.0f);
  std::vector<float> input(48000);
  for (size_t i = 0; i < input.size(); ++i) input[i] = 0.5f * std::sin(2 * 3.14159265f * 220 * i / 48000.0f);
  std::vector<float> left, right;
  host.Render(input, left, right, 300);
  std::vector<float> engineLeft(input.size()), engineRight(input.size()), in(input);
  for (size_t start = 0; start < input.size(); start += 300) {
    float* inputs[] = {in.data() + start};
    float* outputs[] = {engineLeft.data() + start, engineRight.data() + start};
    engine.processReplacing(inputs, outputs, static_cast<int32_t>(std::min<size_t>(300, input.size() - start)));
  }
  EXPECT_EQ(left, engineLeft);
  EXPECT_EQ(right, engineRight);
  float peak = 0;
  for (float v : left) peak = std::max(peak, std::fabs(v));
  EXPECT_GT(peak, 0.1f);  // it does sound
}

// Each Split through the binary, with six static voices on a 200 Hz vowel: the output is
// finite, its pitch is the one of its lowest section, and its spectrum holds the harmonic
// series of the sections it is made of. Lines at odd multiples of 100 Hz come only from the
// bass section; odd harmonics of 200 Hz never from the alto section alone.
TEST(Binary, EachSplitSoundsItsSections) {
  constexpr int kRateHz = 44100;
  constexpr double kF0Hz = 200.0;
  enum tHas { kNo, kYes, kEither };
  const struct {
    int split;
    double pitchRatio;  // output f0 / input f0
    tHas bassLines;     // odd multiples of f0 / 2
    tHas oddHarmonics;  // odd multiples of f0
  } cases[] = {
      {0, 1.0, kNo, kYes},  {1, 0.5, kYes, kEither}, {2, 2.0, kNo, kNo},
      {3, 0.5, kYes, kYes}, {4, 1.0, kNo, kYes},     {5, 0.5, kYes, kYes},
  };
  const std::vector<float> vowel = signals::SungVowel(kF0Hz, kRateHz, kRateHz * 3 / 2);
  const size_t from = kRateHz * 7 / 10, length = kRateHz / 2;
  for (const auto& c : cases) {
    tPluginHost host(PluginPath());
    const std::pair<int, float> settings[] = {
        {kClones, 5.0f / 31}, {kVibDepth, 0.0f}, {kVibRandom, 0.0f}, {kDynDepth, 0.0f},
        {kDynRandom, 0.0f},   {kMix, 1.0f},      {kSplit, c.split / 5.0f}};
    for (const auto& [index, value] : settings) host.SetParameter(index, value);
    host.Start(static_cast<float>(kRateHz), 512);
    std::vector<float> left, right;
    host.Render(vowel, left, right, 512);
    for (size_t i = 0; i < left.size(); ++i) {
      ASSERT_TRUE(std::isfinite(left[i]) && std::isfinite(right[i])) << "Split " << c.split << ", " << i;
    }
    const double pitch = signals::EstimatePitchHz(left, from, 4096, kRateHz, 50.0, 1000.0);
    EXPECT_NEAR(pitch / kF0Hz, c.pitchRatio, 0.02 * c.pitchRatio) << "Split " << c.split;

    const double total = signals::RmsDb(left, from, from + length);
    EXPECT_GT(total, -40.0) << "Split " << c.split;
    const double bass = signals::SeriesDb(left, from, length, kRateHz, kF0Hz / 2, kF0Hz, 3000.0) - total;
    const double odd = signals::SeriesDb(left, from, length, kRateHz, kF0Hz, 2 * kF0Hz, 3000.0) - total;
    const auto check = [&](tHas has, double db, const char* what) {
      // Present lines carry -5 to -15 dB of the output; the octavers' cycle-to-cycle
      // differences leave absent ones at -33 dB or below.
      if (has == kYes) {
        EXPECT_GT(db, -20.0) << "Split " << c.split << ": " << what << " missing";
      } else if (has == kNo) {
        EXPECT_LT(db, -28.0) << "Split " << c.split << ": " << what << " present";
      }
    };
    check(c.bassLines, bass, "bass lines");
    check(c.oddHarmonics, odd, "odd harmonics of f0");
  }
}

}  // namespace
}  // namespace vm
