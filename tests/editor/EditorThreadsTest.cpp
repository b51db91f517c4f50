// Which thread the editor treats as the GUI thread, what it serialises, what a host's
// audio thread may do to it, and its destruction from any thread.

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <queue>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

#include "EditorFixture.h"

namespace vm::testing_editor {
namespace {

using namespace std::chrono_literals;

// A thread that runs the steps it is given one after another, each to its end before Run
// returns: a host's GUI thread that is not the test's own.
class tWorker {
 public:
  tWorker() : thread([this] { Loop(); }) {}
  ~tWorker() {
    Run(nullptr);
    thread.join();
  }
  void Run(std::function<void()> step) {
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    {
      std::lock_guard<std::mutex> guard(mutex);
      steps.push({std::move(step), std::move(done)});
    }
    ready.notify_one();
    finished.wait();
  }

 private:
  struct tStep {
    std::function<void()> step;
    std::promise<void> done;
  };
  void Loop() {
    for (;;) {
      std::unique_lock<std::mutex> guard(mutex);
      ready.wait(guard, [this] { return !steps.empty(); });
      tStep next = std::move(steps.front());
      steps.pop();
      guard.unlock();
      const bool last = !next.step;
      if (next.step) next.step();
      next.done.set_value();
      if (last) return;
    }
  }
  std::mutex mutex;
  std::condition_variable ready;
  std::queue<tStep> steps;
  std::thread thread;
};

class EditorThreads : public tEditorFixture {};

// ---- the GUI thread ----

// A stray open, idle and close from a second thread, while the window is open or after an
// open whose attach failed, must not take the GUI thread's role: the host's changes made on
// the real GUI thread still reach the form at once, and other threads' at its idle.
struct tStray {
  const char* name;
  bool closedFirst;  // the GUI thread closed the window before the stray calls
  void* strayParent;
};

// Test output names the case.
void PrintTo(const tStray& c, std::ostream* out) { *out << c.name; }

const tStray kStrays[] = {
    {"WhileOpen", false, reinterpret_cast<void*>(0x5678)},
    {"ClosedAndTheStrayAttachFails", true, kRefusedParent},
};

class StrayThread : public tEditorFixture, public ::testing::WithParamInterface<tStray> {};

TEST_P(StrayThread, OpenIdleCloseElsewhereLeaveTheGuiThreadItsRole) {
  const tStray& stray = GetParam();
  tVoicemultiplyEditForm& form = Open();
  if (stray.closedFirst) editor->close();
  OnThread([&] {
    EXPECT_EQ(editor->open(stray.strayParent), 0) << "refused: the window is not this thread's";
    editor->idle();
    editor->close();
  });
  EXPECT_EQ(log.attached, std::vector<void*>{kParent});

  effect.setParameter(kMix, 0.3f);
  EXPECT_EQ(form.Mix, 0.3f) << "a change on the GUI thread is shown at once";
  OnThread([&] { effect.setParameter(kGain, 0.1f); });
  editor->idle();
  EXPECT_EQ(form.Gain, 0.1f) << "the GUI thread's idle shows other threads' changes";
  EXPECT_EQ(editor->writeBacks, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, StrayThread, ::testing::ValuesIn(kStrays),
                         [](const ::testing::TestParamInfo<tStray>& info) { return info.param.name; });

// A host may move its user interface to another thread between a close and the next open;
// the thread of that open is the GUI thread from then on.
TEST_F(EditorThreads, TheGuiThreadMovesWithASuccessfulOpenAfterAClose) {
  Open();
  editor->close();
  tWorker gui;
  void* other = reinterpret_cast<void*>(0x5678);
  tVoicemultiplyEditForm* form = nullptr;
  gui.Run([&] {
    EXPECT_EQ(editor->open(other), 1);
    form = editor->Form();
    effect.setParameter(kMix, 0.4f);
    EXPECT_EQ(form->Mix, 0.4f) << "shown at once on the new GUI thread";
  });
  effect.setParameter(kGain, 0.1f);  // the test's thread is just another host thread now
  editor->idle();
  gui.Run([&] {
    editor->idle();
    EXPECT_EQ(form->Gain, 0.1f);
  });
  EXPECT_EQ(log.attached, (std::vector<void*>{kParent, other}));
  gui.Run([&] { editor->close(); });
}

// ---- serialisation ----

// A close from another thread must not run while the GUI thread pumps the window (on X11
// both would use one display connection). The pump holds on for a moment; a close that
// gets into the window meanwhile is caught.
TEST_F(EditorThreads, CloseFromAnotherThreadWaitsForTheGuiThreadsPump) {
  Open();
  std::mutex mutex;
  std::condition_variable changed;
  bool pumping = false, detached = false, overlapped = false;
  hooks.pump = [&] {
    std::unique_lock<std::mutex> guard(mutex);
    pumping = true;
    changed.notify_all();
    changed.wait_for(guard, 300ms, [&] { return detached; });
    pumping = false;
  };
  hooks.detach = [&] {
    std::lock_guard<std::mutex> guard(mutex);
    overlapped = overlapped || pumping;
    detached = true;
    changed.notify_all();
  };
  std::thread closer([&] {
    {
      std::unique_lock<std::mutex> guard(mutex);
      changed.wait(guard, [&] { return pumping; });
    }
    editor->close();
  });
  editor->idle();
  closer.join();
  EXPECT_FALSE(overlapped) << "the window was detached in the middle of a pump";
  EXPECT_TRUE(detached);
  EXPECT_FALSE(editor->IsOpen());
}

// setParameter may come on the audio thread: its report to the editor neither waits for
// the editor's lock (held here by the GUI thread, pumping) nor touches the form; the GUI
// thread shows the value at its next idle.
TEST_F(EditorThreads, AParameterReportFromAnotherThreadNeverWaitsForTheGuiThread) {
  tVoicemultiplyEditForm& form = Open();
  std::thread audio;
  std::future_status status = std::future_status::deferred;
  bool armed = true;
  hooks.pump = [&] {
    if (!armed) return;
    armed = false;
    std::promise<void> done;
    std::future<void> finished = done.get_future();
    audio = std::thread([&effect = effect, done = std::move(done)]() mutable {
      effect.setParameter(kMix, 0.6f);
      done.set_value();
    });
    status = finished.wait_for(10s);
  };
  editor->idle();
  audio.join();
  EXPECT_EQ(status, std::future_status::ready) << "the report waited for the GUI thread";
  EXPECT_NE(form.Mix, 0.6f) << "the form was touched from the reporting thread";
  editor->idle();
  EXPECT_EQ(form.Mix, 0.6f);
}

// ---- destruction ----

// The editor is destroyed with the effect, on whatever thread the host closes it, with its
// window open or not. While the window goes, the form is still alive and nothing the
// window does any more reaches the editor's write-back, its pending changes or the pump.
struct tTeardown {
  const char* name;
  bool open;
  bool onGuiThread;
};

// Test output names the case.
void PrintTo(const tTeardown& c, std::ostream* out) { *out << c.name; }

const tTeardown kTeardowns[] = {
    {"OpenOnTheGuiThread", true, true},
    {"OpenOnAnotherThread", true, false},
    {"ClosedOnTheGuiThread", false, true},
    {"ClosedOnAnotherThread", false, false},
};

class Teardown : public tEditorFixture, public ::testing::WithParamInterface<tTeardown> {};

TEST_P(Teardown, NothingReachesTheEditorOnceItsDestructionBegins) {
  const tTeardown& teardown = GetParam();
  tVoicemultiplyEditForm& form = Open();
  if (!teardown.open) editor->close();
  effect.setParameter(kMix, 0.7f);
  OnThread([&] { effect.setParameter(kGain, 0.1f); });  // pending for the GUI thread's idle
  const float gainShown = form.Gain;
  const int pumpsBefore = log.pumped;

  int formWidth = 0;
  float gainDuringTeardown = -1;
  hooks.destroy = [&](TForm& windowForm) {
    auto& f = static_cast<tVoicemultiplyEditForm&>(windowForm);
    formWidth = f.ClientWidth();  // the form outlives its window
    f.SetMix(0.123f);             // as a window's last message reaching a control
    editor->idle();               // and a host idle arriving meanwhile
    editor->ParameterChanged(kGain);
    gainDuringTeardown = f.Gain;
  };
  tCountingEditor* dying = editor;
  auto destroy = [&] {
    effect.setEditor(nullptr);  // the effect stays, to be looked at
    delete dying;
  };
  if (teardown.onGuiThread)
    destroy();
  else
    OnThread(destroy);

  EXPECT_EQ(log.destroyed, 1);
  EXPECT_EQ(formWidth, 828);
  EXPECT_EQ(effect.Setting(kMix), 0.7f) << "the write-back ran during destruction";
  EXPECT_EQ(gainDuringTeardown, gainShown) << "a pending change was shown during destruction";
  EXPECT_EQ(log.pumped, pumpsBefore);
  effect.setParameter(kMix, 0.2f);  // the effect goes on without an editor
  EXPECT_EQ(effect.Setting(kMix), 0.2f);
}

INSTANTIATE_TEST_SUITE_P(Cases, Teardown, ::testing::ValuesIn(kTeardowns),
                         [](const ::testing::TestParamInfo<tTeardown>& info) { return info.param.name; });

// The effect frees the editor in its own destructor; a window open at that moment is
// destroyed with it, from whatever thread closes the effect.
TEST_F(EditorThreads, EffectClosedOnAnotherThreadWithTheWindowOpen) {
  Open();
  OnThread([&] { effect.setParameter(kMix, 0.25f); });
  tVoicemultiply* closing = ownedEffect;
  ownedEffect = nullptr;
  OnThread([closing] { delete closing; });
  EXPECT_EQ(log.destroyed, 1);
}

// ---- floating point ----

#if defined(__x86_64__) || defined(__i386__)
constexpr unsigned kExceptionMasks = 0x1F80u;  // MXCSR bits 7..12
constexpr unsigned kRoundingBits = 0x6000u;

struct tEntry {
  const char* name;
  bool onOtherThread;
  bool destroys;
  void (*call)(tVoicemultiplyEditor& editor);
};

// Test output names the case.
void PrintTo(const tEntry& c, std::ostream* out) { *out << c.name; }

const tEntry kEntries[] = {
    {"getRect", false, false, [](tVoicemultiplyEditor& e) { ERect* r = nullptr; e.getRect(&r); }},
    {"open", false, false, [](tVoicemultiplyEditor& e) { e.open(reinterpret_cast<void*>(0x1234)); }},
    {"close", false, false, [](tVoicemultiplyEditor& e) { e.close(); }},
    {"idle", false, false, [](tVoicemultiplyEditor& e) { e.idle(); }},
    {"update", false, false, [](tVoicemultiplyEditor& e) { e.update(); }},
    {"ParameterChangedOnTheGuiThread", false, false, [](tVoicemultiplyEditor& e) { e.ParameterChanged(kMix); }},
    {"ParameterChangedElsewhere", true, false, [](tVoicemultiplyEditor& e) { e.ParameterChanged(kMix); }},
    {"Destructor", false, true, [](tVoicemultiplyEditor& e) { delete &e; }},
};

class FloatEntry : public tEditorFixture, public ::testing::WithParamInterface<tEntry> {};

// A host may unmask floating-point exceptions; every entry masks them again (and selects
// rounding to nearest) for the calling thread before it computes anything.
TEST_P(FloatEntry, MasksEveryExceptionForTheCallingThread) {
  const tEntry& entry = GetParam();
  Open();
  if (entry.destroys) effect.setEditor(nullptr);  // freed by the entry itself
  unsigned after = 0;
  auto call = [&] {
    const unsigned saved = _mm_getcsr();
    _mm_setcsr((saved & ~kExceptionMasks) | kRoundingBits);  // all unmasked, rounding toward zero
    entry.call(*editor);
    after = _mm_getcsr();
    _mm_setcsr(saved);
  };
  if (entry.onOtherThread)
    OnThread(call);
  else
    call();
  EXPECT_EQ(after & kExceptionMasks, kExceptionMasks);
  EXPECT_EQ(after & kRoundingBits, 0u);
}

INSTANTIATE_TEST_SUITE_P(Entries, FloatEntry, ::testing::ValuesIn(kEntries),
                         [](const ::testing::TestParamInfo<tEntry>& info) { return info.param.name; });
#endif

}  // namespace
}  // namespace vm::testing_editor
