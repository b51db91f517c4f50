// The host's view of the parameters: value mapping, texts, names and the program.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "vst/Voicemultiply.h"

namespace vm {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::string Display(tVoicemultiply& effect, int index) {
  char text[64];
  std::memset(text, '#', sizeof text);
  effect.getParameterDisplay(index, text);
  return text;
}

// An editor that only counts what the effect tells it.
class tCountingEditor : public TEffEditor, public tParameterListener {
 public:
  explicit tCountingEditor(TAudioEffect* effect) : TEffEditor(effect) {}
  void ParameterChanged(int32_t index) override {
    ++calls;
    lastIndex = index;
  }
  int calls = 0;
  int lastIndex = -1;
};

TEST(Parameters, DefaultsAsTheHostSeesThem) {
  tVoicemultiply effect(nullptr);
  const float expected[kParameterCount] = {15.0f / 31, 0.5f, 0.45f, 0.8f, 0, 0, 0.4f,
                                           0.45f, 0.4f, 0.4f, 0, 1, 0.5f, 1, 0, 0.25f,
                                           0.5f, 1, 0.5f, 0.5f, 0.5f};
  for (int i = 0; i < kParameterCount; ++i) EXPECT_FLOAT_EQ(effect.getParameter(i), expected[i]) << i;
  EXPECT_EQ(int32_t(effect.Setting(kClones)), 16);
}

struct tMappingCase {
  int index;
  float hostValue;
  float readBack;       // getParameter afterwards
  const char* display;  // getParameterDisplay afterwards
};

class ParameterMapping : public testing::TestWithParam<tMappingCase> {};

TEST_P(ParameterMapping, StoresReadsBackAndDisplays) {
  const tMappingCase c = GetParam();
  tVoicemultiply effect(nullptr);
  effect.setParameter(c.index, c.hostValue);
  EXPECT_FLOAT_EQ(effect.getParameter(c.index), c.readBack);
  EXPECT_EQ(Display(effect, c.index), c.display);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParameterMapping,
    testing::Values(
        tMappingCase{kClones, 0.0f, 0.0f, "1"}, tMappingCase{kClones, 1.0f, 1.0f, "32"},
        // 0.5 * 31 = 15.5 rounds to the even 16: 17 voices.
        tMappingCase{kClones, 0.5f, 16.0f / 31, "17"},
        tMappingCase{kSplit, 0.5f, 0.4f, "2"},  // 2.5 rounds to 2
        tMappingCase{kSplit, 1.0f, 1.0f, "5"}, tMappingCase{kSplit, 0.0f, 0.0f, "0.000000"},
        tMappingCase{kSection, 0.0f, 0.0f, "1"}, tMappingCase{kSection, 0.25f, 0.25f, "2"},
        tMappingCase{kSection, 0.5f, 0.5f, "3"}, tMappingCase{kSection, 0.75f, 0.75f, "4"},
        tMappingCase{kSection, 1.0f, 1.0f, "5"},
        tMappingCase{kVibRandom, 0.49f, 0.0f, "No"}, tMappingCase{kVibRandom, 0.5f, 1.0f, "Yes"},
        tMappingCase{kDynRandom, 0.2f, 0.0f, "No"},
        tMappingCase{kTiming, 0.5f, 0.5f, "5.5"}, tMappingCase{kDynDepth, 0.25f, 0.25f, "2.5"},
        tMappingCase{kVibDepth, 0.45f, 0.45f, "4.5"}, tMappingCase{kGain, 0.5f, 0.5f, "0.5"},
        tMappingCase{kBassFmnts, 0.4f, 0.4f, "0.400000"},
        // The float nearest 0.45, cut after eight characters.
        tMappingCase{kBassLevel, 0.45f, 0.45f, "0.449999"},
        // Real settings are kept as the host sent them.
        tMappingCase{kMix, 1.5f, 1.5f, "1.5"}, tMappingCase{kFocus, -5.0f, -5.0f, "-5"},
        tMappingCase{kGain, 1e9f, 1e9f, "  Huge! "},
        // Integer settings take the host value limited to 0..1 first.
        tMappingCase{kClones, 1e9f, 1.0f, "32"}, tMappingCase{kClones, -5.0f, 0.0f, "1"},
        tMappingCase{kClones, kNaN, 0.0f, "1"}, tMappingCase{kSplit, kInf, 1.0f, "5"},
        tMappingCase{kSection, -kInf, 0.0f, "1"}, tMappingCase{kVibRandom, kNaN, 0.0f, "No"}));

TEST(Parameters, SectionBoundariesOfTheHostValue) {
  tVoicemultiply effect(nullptr);
  const struct {
    float v;
    int section;
  } cases[] = {{0.0f, 0}, {1e-6f, 1}, {0.2505f, 1}, {0.2507f, 2}, {0.5012f, 2},
               {0.5014f, 3}, {0.7518f, 3}, {0.752f, 4}, {1.0f, 4}};
  for (const auto& c : cases) {
    effect.setParameter(kSection, c.v);
    EXPECT_EQ(int32_t(effect.Setting(kSection)), c.section) << c.v;
  }
}

TEST(Parameters, ReturnedClonesValueGivesTheSameCountBack) {
  tVoicemultiply effect(nullptr);
  for (int count = 1; count <= 32; ++count) {
    effect.setParameter(kClones, (count - 1) / 31.0f);
    ASSERT_EQ(int32_t(effect.Setting(kClones)), count);
    effect.setParameter(kClones, effect.getParameter(kClones));
    EXPECT_EQ(int32_t(effect.Setting(kClones)), count);
  }
}

TEST(Parameters, EditorIsToldOfEveryCallEvenWithoutChange) {
  tVoicemultiply effect(nullptr);
  auto* editor = new tCountingEditor(&effect);
  effect.setEditor(editor);
  effect.setParameter(kTiming, 0.5f);  // the value it already has
  effect.setParameter(kTiming, 0.7f);
  effect.setParameter(99, 0.7f);       // no such parameter: nothing changes, still told
  EXPECT_EQ(editor->calls, 3);
  EXPECT_EQ(editor->lastIndex, 99);
  EXPECT_FLOAT_EQ(effect.getParameter(kTiming), 0.7f);
  EXPECT_EQ(effect.getParameter(99), 0.0f);
}

TEST(Parameters, NamesAreElevenCharactersAndLabelsEightSpaces) {
  tVoicemultiply effect(nullptr);
  char text[64];
  effect.getParameterName(kClones, text);
  EXPECT_STREQ(text, "Clones     ");
  effect.getParameterName(kUnisonFmnts, text);
  EXPECT_STREQ(text, "UnisonFmnts");
  effect.getParameterLabel(kGain, text);
  EXPECT_STREQ(text, "        ");
  std::strcpy(text, "untouched");
  effect.getParameterName(21, text);
  effect.getParameterLabel(-1, text);
  effect.getParameterDisplay(21, text);
  EXPECT_STREQ(text, "untouched");
}

TEST(Programs, OneProgramWhoseNameKeepsTwentyFourCharacters) {
  tVoicemultiply effect(nullptr);
  char name[64];
  effect.getProgramName(name);
  EXPECT_STREQ(name, "Default");
  effect.setProgramName("abcdefghijklmnopqrstuvwxyz0123");
  effect.getProgramName(name);
  EXPECT_STREQ(name, "abcdefghijklmnopqrstuvwx");
  for (int program : {1, -1, 0}) {
    effect.setProgram(program);
    EXPECT_EQ(effect.getProgram(), 0);
  }
}

}  // namespace
}  // namespace vm
