// The editor object between a real effect and its form, in a stand-in window that records
// what the editor asks of the windowing system and can run a test's code inside each of
// its operations (as a host's window procedure may, re-entering the editor).
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "editor/Editor.h"

namespace vm::testing_editor {

// What the editor asked of its window.
struct tWindowLog {
  std::vector<void*> attached;
  int detached = 0;
  int pumped = 0;
  int destroyed = 0;
};

// Code run inside the window's operations (empty: nothing). `attach` decides Attach's
// result; without it every parent but kRefusedParent is taken.
struct tWindowHooks {
  std::function<bool(void*)> attach;
  std::function<void()> detach;
  std::function<void()> pump;
  std::function<void(TForm&)> destroy;
};

inline void* const kRefusedParent = reinterpret_cast<void*>(0xBAD);

// The log and hooks of the running test (a platform holds plain functions only).
inline tWindowLog* gLog = nullptr;
inline tWindowHooks* gHooks = nullptr;

class tFakeWindow : public tNativeWindow {
 public:
  explicit tFakeWindow(TForm& form) : form(form) {}
  ~tFakeWindow() override {
    if (gHooks && gHooks->destroy) gHooks->destroy(form);
    if (gLog) ++gLog->destroyed;
  }
  bool Attach(void* p) override {
    const bool taken = gHooks && gHooks->attach ? gHooks->attach(p) : p != kRefusedParent;
    if (!taken) return false;
    gLog->attached.push_back(p);
    parent = p;
    return true;
  }
  void Detach() override {
    ++gLog->detached;
    parent = nullptr;
    if (gHooks && gHooks->detach) gHooks->detach();
  }
  void* ParentWindow() const override { return parent; }
  void Pump() override {
    ++gLog->pumped;
    if (gHooks && gHooks->pump) gHooks->pump();
  }

 private:
  TForm& form;
  void* parent = nullptr;
};

inline const tPlatform kFakePlatform{
    [] { return 96; },
    [](TForm& form) -> std::unique_ptr<tNativeWindow> { return std::make_unique<tFakeWindow>(form); }};

// Counts the write-backs that get past the editor's own guard.
class tCountingEditor : public tVoicemultiplyEditor {
 public:
  using tVoicemultiplyEditor::tVoicemultiplyEditor;
  void update() override {
    if (!Updating()) ++writeBacks;
    tVoicemultiplyEditor::update();
  }
  int writeBacks = 0;
};

// Runs `step` on a thread of its own and waits for it.
template <class F>
void OnThread(F&& step) {
  std::thread(std::forward<F>(step)).join();
}

// Where a knob's pointer goes, relative to its centre: the value follows the angle.
struct tPointer {
  int dx, dy;
};
inline constexpr tPointer kKnobLeft{-30, 0};       // about 0.21
inline constexpr tPointer kKnobRight{30, 0};       // about 0.79
inline constexpr tPointer kKnobLowerRight{20, 20}; // about 0.94

class tEditorFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    gLog = &log;
    gHooks = &hooks;
  }
  void TearDown() override {
    hooks = {};          // they may refer to the finished test's locals
    delete ownedEffect;  // and the editor with it, before the log and hooks go
    ownedEffect = nullptr;
    gLog = nullptr;
    gHooks = nullptr;
  }

  // Opens into `parent` on the calling thread and paints once, as the window's first
  // paint does, so that the knobs know their geometry.
  tVoicemultiplyEditForm& Open(void* parent = kParent) {
    EXPECT_EQ(editor->open(parent), 1);
    tVoicemultiplyEditForm& form = *editor->Form();
    form.PaintInvalid();
    return form;
  }

  // A user's gesture on a knob, through the form's mouse input.
  void Press(TRubberKnob& knob, tPointer at) {
    editor->Form()->MouseDown(TMouseButton::mbLeft, X(knob, at), Y(knob, at));
  }
  void Drag(TRubberKnob& knob, tPointer to) { editor->Form()->MouseMove(X(knob, to), Y(knob, to)); }
  void Release(TRubberKnob& knob, tPointer at) {
    editor->Form()->MouseUp(TMouseButton::mbLeft, X(knob, at), Y(knob, at));
  }

  static int X(const TRubberKnob& knob, tPointer p) { return knob.Left() + knob.CentreX() + p.dx; }
  static int Y(const TRubberKnob& knob, tPointer p) { return knob.Top() + knob.CentreY() + p.dy; }

  static inline void* const kParent = reinterpret_cast<void*>(0x1234);
  tWindowLog log;
  tWindowHooks hooks;
  tVoicemultiply* ownedEffect = new tVoicemultiply(nullptr);
  tVoicemultiply& effect = *ownedEffect;
  // Owned by the effect from here on (setEditor), freed with it.
  tCountingEditor* editor = new tCountingEditor(effect, &kFakePlatform);
};

}  // namespace vm::testing_editor
