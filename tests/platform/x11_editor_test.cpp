// The editor of the built plug-in in a real X11 window: a top-level window of this host,
// the editor opened into it through the record, the host's idle pumped, and the pointer
// driven with synthetic events, as a person would.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "PluginHost.h"
#include "graphics/Bitmap.h"
#include "graphics/Png.h"

// Last: Xlib defines None, Bool, Status and friends as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace vm {
namespace {

constexpr int kEditorWidth = 828;
constexpr int kEditorHeight = 423;
constexpr int32_t kGainIndex = 20;
constexpr int32_t kSectionIndex = 10;

std::string PluginPath() {
  const char* path = std::getenv("VM_PLUGIN");
  return path ? path : DefaultPluginPath();
}

// A host window on the test's own display connection.
class X11Host : public ::testing::Test {
 protected:
  void SetUp() override {
    display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr) << "no X display (the test runs under xvfb-run)";
    int eventBase, errorBase, major, minor;
    ASSERT_TRUE(XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor));
    host = std::make_unique<tPluginHost>(PluginPath());
    window = MakeTopLevel();
  }

  void TearDown() override {
    host.reset();
    if (display) {
      if (window) XDestroyWindow(display, window);
      XCloseDisplay(display);
    }
  }

  Window MakeTopLevel() {
    const int screen = DefaultScreen(display);
    Window w = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0, kEditorWidth,
                                   kEditorHeight, 0, BlackPixel(display, screen),
                                   BlackPixel(display, screen));
    XMapRaised(display, w);
    XSync(display, False);
    return w;
  }

  void* Handle(Window w) const { return reinterpret_cast<void*>(static_cast<uintptr_t>(w)); }

  // The host's idle, as a DAW calls it, long enough for the server's events to arrive.
  void Idle(int rounds = 10) {
    for (int i = 0; i < rounds; ++i) {
      XSync(display, False);
      host->Dispatch(effEditIdle);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  // Pointer to (x, y) of the host window.
  void MoveTo(int x, int y) {
    int rootX = 0, rootY = 0;
    Window child;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &rootX, &rootY,
                          &child);
    XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
    Idle(3);
  }
  void Button(bool down) {
    XTestFakeButtonEvent(display, 1, down ? True : False, CurrentTime);
    Idle(3);
  }

  TBitmap Screenshot() {
    XImage* image = XGetImage(display, window, 0, 0, kEditorWidth, kEditorHeight, AllPlanes,
                              ZPixmap);
    TBitmap shot(kEditorWidth, kEditorHeight);
    if (!image) return shot;
    for (int y = 0; y < kEditorHeight; ++y)
      for (int x = 0; x < kEditorWidth; ++x)
        shot.SetPixel(x, y, static_cast<TPixel>(XGetPixel(image, x, y)) | 0xFF000000u);
    XDestroyImage(image);
    return shot;
  }

  Display* display = nullptr;
  Window window = 0;
  std::unique_ptr<tPluginHost> host;
};

TEST_F(X11Host, RectangleBeforeOpenAndTheEditorShowsInTheHostWindow) {
  ASSERT_TRUE(host->Effect()->flags & effFlagsHasEditor);
  ERect* rect = nullptr;
  ASSERT_EQ(host->Dispatch(effEditGetRect, 0, 0, &rect), 1);
  ASSERT_NE(rect, nullptr);
  EXPECT_EQ(rect->top, 0);
  EXPECT_EQ(rect->left, 0);
  EXPECT_EQ(rect->bottom, kEditorHeight);
  EXPECT_EQ(rect->right, kEditorWidth);

  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, nullptr), 0);
  ASSERT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  Idle();
  // The editor is a child of the host's window at its top-left corner.
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  ASSERT_TRUE(XQueryTree(display, window, &root, &parent, &children, &count));
  ASSERT_EQ(count, 1u);
  XWindowAttributes attributes;
  XGetWindowAttributes(display, children[0], &attributes);
  EXPECT_EQ(attributes.x, 0);
  EXPECT_EQ(attributes.y, 0);
  EXPECT_EQ(attributes.width, kEditorWidth);
  EXPECT_EQ(attributes.height, kEditorHeight);
  EXPECT_EQ(attributes.map_state, IsViewable);
  XFree(children);

  // Not one colour: the face plate and the controls were painted into the window.
  const TBitmap shot = Screenshot();
  SaveSnapshot(shot, "editor-x11");
  EXPECT_NE(shot.Pixel(10, 10), shot.Pixel(756, 347));
  EXPECT_NE(shot.Checksum(), TBitmap(kEditorWidth, kEditorHeight).Checksum());
}

TEST_F(X11Host, KnobWritesTheEffectOnlyAtReleaseAndSectionButtonsSelect) {
  ASSERT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  Idle();
  const float gainBefore = host->GetParameter(kGainIndex);

  // rkGain spans 704..808, 295..399: from the top of its dial round to the right.
  const int cx = 704 + 52, cy = 295 + 52;
  MoveTo(cx, cy - 30);
  Button(true);
  MoveTo(cx + 21, cy - 21);
  MoveTo(cx + 30, cy);
  EXPECT_EQ(host->GetParameter(kGainIndex), gainBefore) << "changed during the drag";
  Button(false);
  EXPECT_NE(host->GetParameter(kGainIndex), gainBefore) << "unchanged after the release";

  // rbSectionC at 249, 325, 40 by 48.
  MoveTo(249 + 20, 325 + 24);
  Button(true);
  Button(false);
  EXPECT_FLOAT_EQ(host->GetParameter(kSectionIndex), 2.0f / 4.0f);
}

TEST_F(X11Host, CloseThenOpenInAnotherWindowReparents) {
  ASSERT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  Idle();
  host->Dispatch(effEditClose);
  Idle();
  Window root, parent, *children = nullptr;
  unsigned int count = 0;
  XQueryTree(display, window, &root, &parent, &children, &count);
  EXPECT_EQ(count, 0u) << "close leaves the editor in the host's window";
  if (children) XFree(children);

  const Window second = MakeTopLevel();
  ASSERT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(second)), 1);
  Idle();
  XQueryTree(display, second, &root, &parent, &children, &count);
  EXPECT_EQ(count, 1u);
  if (children) XFree(children);
  host->Dispatch(effEditClose);
  XDestroyWindow(display, second);
}

// Hosts get it wrong in both directions; neither may end the process.
TEST_F(X11Host, SurvivesHostWindowDestroyedFirstAndEffectDestroyedWhileOpen) {
  ASSERT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  Idle();
  XDestroyWindow(display, window);
  window = 0;
  XSync(display, False);
  Idle();
  host->Dispatch(effEditClose);
  window = MakeTopLevel();
  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  Idle();
  // A window id that names nothing.
  host->Dispatch(effEditClose);
  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(0x7ffffff0)), 0);
  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  Idle();
  host.reset();  // the effect goes with its window open
  XSync(display, False);
}

TEST_F(X11Host, ManyOpenCloseCyclesAndInstances) {
  for (int cycle = 0; cycle < 200; ++cycle) {
    ASSERT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
    host->Dispatch(effEditIdle);
    host->Dispatch(effEditClose);
  }
  for (int instance = 0; instance < 8; ++instance) {
    tPluginHost other(PluginPath());
    ASSERT_EQ(other.Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
    other.Dispatch(effEditIdle);
  }
  XSync(display, False);
}

}  // namespace
}  // namespace vm
