// A host change meeting a knob's release, with the editor in a real X11 window of the
// platform layer. The release is an X event that the GUI thread's idle pumps; the host's
// change comes from another thread after that idle took the changes recorded so far and
// just before the write-back, so the form still shows the old value when it writes back.
// The host's value must stay in the effect and reach the window at the next idle.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "editor/Editor.h"
#include "platform/Platform.h"

// Last: Xlib defines None, Bool, Status and friends as macros.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace vm {
namespace {

// Runs `beforeFirstWriteBack` on a thread of its own at the first write-back the form asks
// for, and counts the write-backs.
class tRacedEditor : public tVoicemultiplyEditor {
 public:
  using tVoicemultiplyEditor::tVoicemultiplyEditor;
  void update() override {
    if (!Updating() && writeBacks++ == 0 && beforeFirstWriteBack) std::thread(beforeFirstWriteBack).join();
    tVoicemultiplyEditor::update();
  }
  std::function<void()> beforeFirstWriteBack;
  int writeBacks = 0;
};

class EditorX11 : public ::testing::Test {
 protected:
  void SetUp() override {
    display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X display (the test runs under xvfb-run)";
    int eventBase, errorBase, major, minor;
    ASSERT_TRUE(XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor));
    const int screen = DefaultScreen(display);
    window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, 828, 423, 0,
                                 BlackPixel(display, screen), BlackPixel(display, screen));
    XMapRaised(display, window);
    XSync(display, False);
  }

  void TearDown() override {
    effect.reset();  // the editor and its window with it
    if (display) {
      if (window) XDestroyWindow(display, window);
      XCloseDisplay(display);
    }
  }

  void* Handle() const { return reinterpret_cast<void*>(static_cast<uintptr_t>(window)); }

  // The host's idle, as a DAW calls it, until `done` holds (at most `rounds` times, to give
  // the server's events time to arrive).
  bool IdleUntil(const std::function<bool()>& done, int rounds = 200) {
    for (int i = 0; i < rounds; ++i) {
      XSync(display, False);
      editor->idle();
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  void PointerTo(int x, int y) {
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    XSync(display, False);
  }
  void Button(bool down) {
    XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
    XSync(display, False);
  }

  Display* display = nullptr;
  Window window = 0;
  std::unique_ptr<tVoicemultiply> effect = std::make_unique<tVoicemultiply>(nullptr);
  // Owned by the effect (setEditor), freed with it.
  tRacedEditor* editor = new tRacedEditor(*effect, &NativePlatform());
};

TEST_F(EditorX11, HostChangeFromAnotherThreadOutlivesAKnobReleaseTheFormHadNotSeen) {
  ASSERT_EQ(editor->open(Handle()), 1);
  tVoicemultiplyEditForm& form = *editor->Form();
  IdleUntil([] { return false; }, 10);  // mapped and painted
  TRubberKnob& timing = *form.rkTiming;
  const int cx = timing.Left() + timing.CentreX(), cy = timing.Top() + timing.CentreY();
  const float timingBefore = effect->Setting(kTiming);
  editor->beforeFirstWriteBack = [this] { effect->setParameter(kMix, 0.2f); };

  PointerTo(cx - 30, cy);
  Button(true);
  PointerTo(cx + 30, cy);
  ASSERT_TRUE(IdleUntil([&] { return form.Timing != timingBefore; })) << "the drag never reached the form";
  EXPECT_EQ(editor->writeBacks, 0) << "written during the drag";
  Button(false);
  ASSERT_TRUE(IdleUntil([&] { return editor->writeBacks > 0; })) << "the release never reached the form";

  EXPECT_EQ(effect->Setting(kMix), 0.2f) << "the form's stale Mix was written back";
  EXPECT_NE(effect->Setting(kTiming), timingBefore);
  EXPECT_EQ(effect->Setting(kTiming), form.Timing) << "the user's change is written";

  editor->idle();
  EXPECT_EQ(form.Mix, 0.2f);
  EXPECT_EQ(form.rkMix->Value(), 0.2f);
  EXPECT_EQ(effect->Setting(kMix), 0.2f);
  EXPECT_EQ(editor->writeBacks, 1);
  editor->close();
}

}  // namespace
}  // namespace vm
