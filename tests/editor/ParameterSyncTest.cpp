// Host changes against the window's write-back at the end of a gesture. The rule: a value
// the host changed after the form last showed that parameter is never overwritten by the
// form's stale copy; it stays in the effect and reaches the form at the GUI thread's next
// idle. Everything else the form holds is written as before.

#include <cmath>

#include "EditorFixture.h"

namespace vm::testing_editor {
namespace {

// The form's value of a parameter in the effect's convention (Clones as a voice count).
float Shown(const tVoicemultiplyEditForm& form, int32_t index) {
  switch (index) {
    case kClones: return std::nearbyint(form.Clones * 31.0f) + 1.0f;
    case kTiming: return form.Timing;
    case kMix: return form.Mix;
    default: ADD_FAILURE() << "no form value for " << index; return NAN;
  }
}

class ParameterSync : public tEditorFixture {};

// The measured fault: a host thread sets Mix, then the user releases the Timing knob before
// the GUI thread's idle has shown Mix. The release used to write the form's old Mix back.
TEST_F(ParameterSync, HostChangeFromAnotherThreadOutlivesAReleaseBeforeIdle) {
  tVoicemultiplyEditForm& form = Open();
  TRubberKnob& timing = *form.rkTiming;
  const float timingBefore = effect.Setting(kTiming);
  Press(timing, kKnobLeft);
  Drag(timing, kKnobRight);
  OnThread([&] { effect.setParameter(kMix, 0.2f); });
  Release(timing, kKnobRight);

  EXPECT_EQ(effect.Setting(kMix), 0.2f) << "the form's stale Mix was written back";
  EXPECT_NE(effect.Setting(kTiming), timingBefore);
  EXPECT_EQ(effect.Setting(kTiming), form.Timing) << "the user's change is written";
  EXPECT_EQ(editor->writeBacks, 1);

  editor->idle();
  EXPECT_EQ(form.Mix, 0.2f);
  EXPECT_EQ(form.rkMix->Value(), 0.2f);
  EXPECT_EQ(effect.Setting(kMix), 0.2f);
  EXPECT_EQ(editor->writeBacks, 1) << "showing a host value writes nothing back";
}

// Who wins when a host change meets a gesture: the host's value if it came after the form
// last showed that parameter, the user's if the user moved the control after the form
// showed the host's value. On the GUI thread a host change is shown at once; from any
// other thread only at the next idle, so there the host wins until then.
struct tRace {
  const char* name;
  bool hostOnGuiThread;
  int32_t hostParameter;
  float hostValue;
  float hostSetting;        // what the effect stores for hostValue
  bool userDragsAfterHost;  // the pointer moves on after the host's change, then releases
  bool hostWins;            // for the Timing knob the user holds
};

// Test output names the case.
void PrintTo(const tRace& c, std::ostream* out) { *out << c.name; }

const tRace kRaces[] = {
    {"GuiThreadOtherParameter", true, kMix, 0.2f, 0.2f, false, false},
    {"OtherThreadOtherParameter", false, kMix, 0.2f, 0.2f, false, false},
    {"OtherThreadClones", false, kClones, 0.0f, 1.0f, false, false},
    {"GuiThreadSameParameter", true, kTiming, 0.3f, 0.3f, false, true},
    {"OtherThreadSameParameter", false, kTiming, 0.3f, 0.3f, false, true},
    {"GuiThreadSameParameterUserMovesLast", true, kTiming, 0.3f, 0.3f, true, false},
    {"OtherThreadSameParameterUserMovesBeforeIdle", false, kTiming, 0.3f, 0.3f, true, true},
};

class ParameterRace : public tEditorFixture, public ::testing::WithParamInterface<tRace> {};

TEST_P(ParameterRace, HostValueStandsUnlessTheFormShowedItBeforeTheUserMoved) {
  const tRace& race = GetParam();
  tVoicemultiplyEditForm& form = Open();
  TRubberKnob& timing = *form.rkTiming;
  Press(timing, kKnobLeft);
  Drag(timing, kKnobRight);
  float userTiming = timing.Value();  // where the user's pointer last put the knob
  auto hostChange = [&] { effect.setParameter(race.hostParameter, race.hostValue); };
  if (race.hostOnGuiThread)
    hostChange();
  else
    OnThread(hostChange);
  tPointer releaseAt = kKnobRight;
  if (race.userDragsAfterHost) {
    releaseAt = kKnobLowerRight;
    Drag(timing, releaseAt);
    userTiming = timing.Value();
  }
  ASSERT_NE(userTiming, 0.3f);
  Release(timing, releaseAt);

  if (race.hostParameter != kTiming) {
    EXPECT_EQ(effect.Setting(race.hostParameter), race.hostSetting);
    EXPECT_EQ(effect.Setting(kTiming), userTiming) << "the user's own change is written";
  } else {
    EXPECT_EQ(effect.Setting(kTiming), race.hostWins ? race.hostSetting : userTiming);
  }

  editor->idle();
  // The window and the effect agree again, and showing them wrote nothing.
  EXPECT_EQ(Shown(form, race.hostParameter), effect.Setting(race.hostParameter));
  EXPECT_EQ(form.Timing, effect.Setting(kTiming));
  EXPECT_EQ(timing.Value(), effect.Setting(kTiming));
  EXPECT_EQ(editor->writeBacks, 1);
}

INSTANTIATE_TEST_SUITE_P(Races, ParameterRace, ::testing::ValuesIn(kRaces),
                         [](const ::testing::TestParamInfo<tRace>& info) { return info.param.name; });

// A change the user makes after the form has shown a host value is written: the editor's
// record of what it showed moves on with each write-back, so the next gesture is not
// mistaken for a stale copy.
TEST_F(ParameterSync, LaterGesturesOnTheSameControlAreWrittenEachTime) {
  tVoicemultiplyEditForm& form = Open();
  TRubberKnob& mix = *form.rkMix;
  OnThread([&] { effect.setParameter(kMix, 0.2f); });
  editor->idle();
  for (tPointer at : {kKnobLeft, kKnobRight, kKnobLowerRight, kKnobLeft}) {
    Press(mix, at);
    Release(mix, at);
    EXPECT_EQ(effect.Setting(kMix), mix.Value());
    EXPECT_EQ(effect.Setting(kMix), form.Mix);
  }
  // And a host change between two gestures is again shown, then overwritten by the next.
  effect.setParameter(kMix, 0.5f);
  EXPECT_EQ(form.Mix, 0.5f);
  Press(mix, kKnobRight);
  Release(mix, kKnobRight);
  EXPECT_EQ(effect.Setting(kMix), mix.Value());
}

// Many host changes from another thread while the user keeps releasing knobs: at the end
// every parameter the host set last holds the host's value, in the effect and the form.
TEST_F(ParameterSync, ConcurrentHostChangesAreNeverLost) {
  tVoicemultiplyEditForm& form = Open();
  TRubberKnob& timing = *form.rkTiming;
  std::atomic<bool> hostDone{false};
  std::thread host([&] {
    for (int round = 0; round < 200; ++round)
      for (int32_t index : {kMix, kGain, kFocus, kBalance})
        effect.setParameter(index, static_cast<float>((round * 7 + index) % 100) / 100.0f);
    hostDone = true;
  });
  for (int gesture = 0; !hostDone || gesture < 20; ++gesture) {
    const tPointer at = gesture % 2 ? kKnobLeft : kKnobRight;
    Press(timing, at);
    Release(timing, at);
    editor->idle();
  }
  host.join();
  editor->idle();
  const float expected[] = {(199 * 7 + kMix) % 100 / 100.0f, (199 * 7 + kGain) % 100 / 100.0f,
                            (199 * 7 + kFocus) % 100 / 100.0f, (199 * 7 + kBalance) % 100 / 100.0f};
  EXPECT_EQ(effect.Setting(kMix), expected[0]);
  EXPECT_EQ(effect.Setting(kGain), expected[1]);
  EXPECT_EQ(effect.Setting(kFocus), expected[2]);
  EXPECT_EQ(effect.Setting(kBalance), expected[3]);
  EXPECT_EQ(form.Mix, expected[0]);
  EXPECT_EQ(form.Gain, expected[1]);
  EXPECT_EQ(form.Focus, expected[2]);
  EXPECT_EQ(form.Balance, expected[3]);
}

}  // namespace
}  // namespace vm::testing_editor
