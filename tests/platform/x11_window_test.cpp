// The X11 window of the platform layer on its own, with a form whose control divides by
// zero when it paints and when it is pressed: the host's thread runs with division-by-zero
// and invalid-operation traps enabled, and the window's pump must mask them before any
// event or paint reaches a control.

#include <gtest/gtest.h>

#include <cfenv>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

#include "graphics/Controls.h"
#include "platform/Platform.h"

// Last: Xlib defines None, Bool, Status and friends as macros.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace vm {
namespace {

constexpr int kFormSide = 120;

// Counts its paints and presses, each of which computes 1 / 0 and 0 / 0.
class DividingControl : public TControl {
 public:
  void Paint(TCanvas&) override { Divide(paints); }
  void MouseDown(TMouseButton, int, int) override { Divide(presses); }
  int paints = 0;
  int presses = 0;
  double lastQuotient = 0;

 private:
  void Divide(int& count) {
    volatile double zero = 0.0;
    lastQuotient = 1.0 / zero + zero / zero;
    ++count;
  }
};

// Traps enabled on this thread for as long as it lives (the host's own setting).
struct TrappingThread {
  TrappingThread() {
    std::feclearexcept(FE_ALL_EXCEPT);
    feenableexcept(FE_DIVBYZERO | FE_INVALID);
  }
  ~TrappingThread() {
    fedisableexcept(FE_ALL_EXCEPT);
    std::feclearexcept(FE_ALL_EXCEPT);
  }
};

TEST(X11Window, EventsAndPaintingReachControlsWithExceptionsMasked) {
  Display* display = XOpenDisplay(nullptr);
  ASSERT_NE(display, nullptr) << "no X display (the test runs under xvfb-run)";
  const int screen = DefaultScreen(display);
  const Window host = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, kFormSide,
                                          kFormSide, 0, BlackPixel(display, screen),
                                          BlackPixel(display, screen));
  XMapRaised(display, host);
  XSync(display, False);

  TForm form(kFormSide, kFormSide);
  auto* control = form.Make<DividingControl>();
  control->SetBounds(0, 0, kFormSide, kFormSide);
  {
    std::unique_ptr<tNativeWindow> window = NativePlatform().CreateWindow(form);
    ASSERT_TRUE(window->Attach(reinterpret_cast<void*>(static_cast<uintptr_t>(host))));
    auto pump = [&] {
      for (int round = 0; round < 10; ++round) {
        XSync(display, False);
        const TrappingThread traps;  // re-armed before every pump, as a host's code might
        window->Pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    };
    pump();
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(display, host, RootWindow(display, screen), kFormSide / 2, kFormSide / 2,
                          &rootX, &rootY, &child);
    XTestFakeMotionEvent(display, screen, rootX, rootY, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    pump();
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    pump();
  }
  EXPECT_GT(control->paints, 0);
  EXPECT_EQ(control->presses, 1);
  XDestroyWindow(display, host);
  XCloseDisplay(display);
}

}  // namespace
}  // namespace vm
