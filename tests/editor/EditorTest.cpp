// The editor object between the effect and its form, without a real window: a recording
// stand-in for the native window shows what the editor asks of the windowing system.

#include <cmath>

#include "EditorFixture.h"

namespace vm::testing_editor {
namespace {

class EditorTest : public tEditorFixture {};

TEST_F(EditorTest, RectangleBeforeOpenIsTheFormsSizeAtTheOrigin) {
  ERect* rect = nullptr;
  ASSERT_EQ(editor->getRect(&rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->top, 0);
  EXPECT_EQ(rect->left, 0);
  EXPECT_EQ(rect->bottom, 423);
  EXPECT_EQ(rect->right, 828);
  EXPECT_NE(editor->Form(), nullptr);
  EXPECT_TRUE(log.attached.empty()) << "getRect shows no window";
  EXPECT_EQ(editor->getRect(nullptr), 0);
}

TEST_F(EditorTest, OpenLoadsTheFormFromTheEffectWithoutWritingBack) {
  effect.setParameter(kClones, 0.5f);  // 17 voices
  effect.setParameter(kSplit, 0.6f);   // 3
  effect.setParameter(kSection, 1.0f); // 4: no button lit
  effect.setParameter(kGain, 0.25f);
  effect.setParameter(kDynRandom, 0.0f);
  EXPECT_EQ(editor->open(nullptr), 0);
  EXPECT_EQ(editor->Form(), nullptr) << "a null parent changes nothing";

  tVoicemultiplyEditForm& form = Open();
  EXPECT_EQ(log.attached, std::vector<void*>{kParent});
  EXPECT_EQ(editor->writeBacks, 0);
  EXPECT_FLOAT_EQ(form.Clones, 16.0f / 31.0f);
  EXPECT_FLOAT_EQ(form.rkClones->Value(), 16.0f / 31.0f);
  EXPECT_EQ(form.Split, 3);
  EXPECT_FLOAT_EQ(form.rkSplit->Value(), 3.0f / 5.0f);
  EXPECT_EQ(form.Section, 4);
  for (TRubberLEDButton* button : {form.rbSectionA, form.rbSectionB, form.rbSectionC, form.rbSectionD})
    EXPECT_EQ(button->ButtonState(), TRubberLEDButtonState::rlbUpOff);
  EXPECT_FLOAT_EQ(form.Gain, 0.25f);
  EXPECT_FALSE(form.DynamicsRandom);
  EXPECT_EQ(int32_t(effect.Setting(kClones)), 17);
}

TEST_F(EditorTest, HostChangeMovesExactlyOneControlAndWritesNothingBack) {
  tVoicemultiplyEditForm& form = Open();
  std::vector<float> before;
  for (TControl* c : form.Controls())
    if (auto* knob = dynamic_cast<TRubberKnob*>(c)) before.push_back(knob->Value());

  effect.setParameter(kFocus, 0.125f);
  std::vector<float> after;
  for (TControl* c : form.Controls())
    if (auto* knob = dynamic_cast<TRubberKnob*>(c)) after.push_back(knob->Value());
  ASSERT_EQ(before.size(), after.size());
  int moved = 0;
  for (size_t i = 0; i < before.size(); ++i) moved += before[i] != after[i];
  EXPECT_EQ(moved, 1);
  EXPECT_FLOAT_EQ(form.rkFocus->Value(), 0.125f);
  EXPECT_EQ(editor->writeBacks, 0);
}

TEST_F(EditorTest, ReleaseOfAGestureWritesAllValuesOnce) {
  tVoicemultiplyEditForm& form = Open();
  // Values of the form that differ from the effect's before the write-back.
  form.Timing = 0.9f;
  form.VibratoDepth = 0.1f;
  form.Mix = 0.3f;
  form.Gain = 0.7f;
  form.Section = 2;
  form.Split = 4;
  form.Clones = 0.0f;
  form.SetVibratoRate(0.33f);  // not in a drag: writes back
  EXPECT_EQ(editor->writeBacks, 1);
  EXPECT_FLOAT_EQ(effect.Setting(kTiming), 0.9f);
  EXPECT_FLOAT_EQ(effect.Setting(kVibDepth), 0.1f);
  EXPECT_FLOAT_EQ(effect.Setting(kVibRate), 0.33f);
  EXPECT_FLOAT_EQ(effect.Setting(kMix), 0.3f);
  EXPECT_FLOAT_EQ(effect.Setting(kGain), 0.7f);
  EXPECT_EQ(int32_t(effect.Setting(kSection)), 2);
  EXPECT_EQ(int32_t(effect.Setting(kSplit)), 4);
  EXPECT_EQ(int32_t(effect.Setting(kClones)), 1);
  EXPECT_EQ(effect.getParameter(kClones), 0.0f);
}

TEST_F(EditorTest, DragOnAFollowingKnobWritesOnlyAtTheRelease) {
  tVoicemultiplyEditForm& form = Open();
  TRubberKnob& knob = *form.rkClones;
  const int cx = knob.Left() + knob.CentreX(), cy = knob.Top() + knob.CentreY();
  const int32_t clonesBefore = int32_t(effect.Setting(kClones));
  form.MouseDown(TMouseButton::mbLeft, cx - 30, cy);
  form.MouseMove(cx - 20, cy - 25);
  form.MouseMove(cx, cy - 30);
  form.MouseMove(cx + 25, cy - 20);
  EXPECT_EQ(editor->writeBacks, 0);
  EXPECT_EQ(int32_t(effect.Setting(kClones)), clonesBefore);
  EXPECT_NE(form.Clones, 15.0f / 31.0f) << "the form follows the drag";
  form.MouseUp(TMouseButton::mbLeft, cx + 25, cy - 20);
  EXPECT_EQ(editor->writeBacks, 1);
  EXPECT_EQ(int32_t(effect.Setting(kClones)), static_cast<int32_t>(std::nearbyint(form.Clones * 31)) + 1);
}

TEST_F(EditorTest, CloseDetachesAndOpenElsewhereReparentsTheSameForm) {
  tVoicemultiplyEditForm& form = Open();
  editor->close();
  EXPECT_EQ(log.detached, 1);
  EXPECT_FALSE(editor->IsOpen());
  effect.setParameter(kBalance, 0.2f);  // while closed the controls still follow
  EXPECT_FLOAT_EQ(form.rkBalance->Value(), 0.2f);

  void* other = reinterpret_cast<void*>(0x5678);
  effect.Parameters().SetSetting(kBalance, 0.8f);  // changed behind the editor's back: the next open reloads it
  tVoicemultiplyEditForm& again = Open(other);
  EXPECT_EQ(&again, &form);
  EXPECT_EQ(log.attached, (std::vector<void*>{kParent, other}));
  EXPECT_FLOAT_EQ(form.rkBalance->Value(), 0.8f);
  EXPECT_EQ(editor->writeBacks, 0);
}

TEST_F(EditorTest, ChangesFromAnotherThreadWaitForTheGuiThreadsIdle) {
  tVoicemultiplyEditForm& form = Open();
  std::thread([&] { effect.setParameter(kMix, 0.5f); }).join();
  EXPECT_NE(form.Mix, 0.5f) << "applied on the wrong thread";
  const int pumpsBefore = log.pumped;
  editor->idle();
  EXPECT_FLOAT_EQ(form.Mix, 0.5f);
  EXPECT_FLOAT_EQ(form.rkMix->Value(), 0.5f);
  EXPECT_GT(log.pumped, pumpsBefore);
  EXPECT_EQ(editor->writeBacks, 0);

  // Nothing pending: idle changes nothing.
  const float gain = form.Gain;
  editor->idle();
  EXPECT_EQ(form.Gain, gain);
  EXPECT_EQ(editor->writeBacks, 0);
}

TEST_F(EditorTest, HostValuesOutsideTheRangeReachTheFormLimited) {
  tVoicemultiplyEditForm& form = Open();
  struct Case {
    int32_t index;
    float hostValue;
    float formValue;
  };
  const Case cases[] = {{kGain, 7.0f, 1.0f}, {kGain, -3.0f, 0.0f}, {kTiming, NAN, 0.0f}, {kMix, INFINITY, 1.0f}};
  for (const Case& c : cases) {
    effect.setParameter(c.index, c.hostValue);
    const float shown = c.index == kGain ? form.Gain : c.index == kTiming ? form.Timing : form.Mix;
    EXPECT_EQ(shown, c.formValue) << c.index << " " << c.hostValue;
  }
}

}  // namespace
}  // namespace vm::testing_editor
