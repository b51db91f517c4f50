// The editor of the built plug-in in a real X11 window: a top-level window of this host,
// the editor opened into it through the record, the host's idle pumped, and the pointer
// driven with synthetic events, as a person would.

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
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
constexpr uintptr_t kBogusWindow = 0x7ffffff0;  // an id that names no window

// The host's own X error handler, as a DAW installs it. It tells the errors of the
// host's connections apart from any other connection's (the plug-in's own).
struct HostErrors {
  static inline std::array<std::atomic<Display*>, 4> hostConnections{};
  static inline std::atomic<int> onHostConnections{0};
  static inline std::atomic<int> elsewhere{0};
  static inline std::atomic<int> lastCode{0};

  static int Handler(Display* d, XErrorEvent* error) {
    bool host = false;
    for (const auto& c : hostConnections) host = host || c.load() == d;
    ++(host ? onHostConnections : elsewhere);
    lastCode = error->error_code;
    return 0;
  }
  static void Install(Display* main) {
    for (auto& c : hostConnections) c = nullptr;
    hostConnections[0] = main;
    onHostConnections = 0;
    elsewhere = 0;
    XSetErrorHandler(&Handler);
  }
  static void AddConnection(Display* d) {
    for (auto& c : hostConnections) {
      Display* none = nullptr;
      if (c.compare_exchange_strong(none, d)) return;
    }
  }
  // The handler installed now (installing this one again, which is what the test wants).
  static XErrorHandler Current() { return XSetErrorHandler(&Handler); }
};

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
    HostErrors::Install(display);
    host = std::make_unique<tPluginHost>(PluginPath());
    window = MakeTopLevel();
  }

  void TearDown() override {
    host.reset();
    if (display) {
      if (window) XDestroyWindow(display, window);
      XCloseDisplay(display);
    }
    // Whatever the plug-in ran into on its own connection never reached the host.
    EXPECT_EQ(HostErrors::elsewhere, 0) << "the host's error handler got a plug-in's X error";
    XSetErrorHandler(nullptr);
  }

  Window MakeTopLevel() { return MakeTopLevel(display); }
  static Window MakeTopLevel(Display* connection) {
    const int screen = DefaultScreen(connection);
    Window w = XCreateSimpleWindow(connection, RootWindow(connection, screen), 0, 0, kEditorWidth,
                                   kEditorHeight, 0, BlackPixel(connection, screen),
                                   BlackPixel(connection, screen));
    XMapRaised(connection, w);
    XSync(connection, False);
    return w;
  }

  static void* Handle(uintptr_t w) { return reinterpret_cast<void*>(w); }

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
  // Destroyed and closed before any idle: the editor's close and the next open still name
  // the destroyed window.
  window = MakeTopLevel();
  ASSERT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  XDestroyWindow(display, window);
  XSync(display, False);
  host->Dispatch(effEditClose);
  window = MakeTopLevel();
  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(window)), 1);
  Idle();
  // A window id that names nothing.
  host->Dispatch(effEditClose);
  EXPECT_EQ(host->Dispatch(effEditOpen, 0, 0, Handle(kBogusWindow)), 0);
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

// A host that drives two editors from two threads of its own, each thread with its own
// connection and window, with its X error handler installed. Each round opens an editor
// into a bogus window first (an X error inside the plug-in), then into the real one, idles
// and closes. Afterwards the host's handler is still the one installed, none of the
// plug-ins' errors reached it, and the host's own errors still do.
TEST_F(X11Host, HostErrorHandlerStaysWithEditorsIdlingOnTwoThreads) {
  constexpr int kRounds = 12;
  constexpr int kIdlesPerRound = 25;
  struct Side {
    Display* connection = nullptr;
    Window window = 0;
    std::unique_ptr<tPluginHost> plugin;
    int opened = 0;
  };
  std::array<Side, 2> sides;
  for (Side& side : sides) {
    side.connection = XOpenDisplay(nullptr);
    ASSERT_NE(side.connection, nullptr);
    HostErrors::AddConnection(side.connection);
    side.window = MakeTopLevel(side.connection);
    side.plugin = std::make_unique<tPluginHost>(PluginPath());
  }
  auto run = [](Side& side) {
    for (int round = 0; round < kRounds; ++round) {
      side.plugin->Dispatch(effEditOpen, 0, 0, Handle(kBogusWindow));
      side.opened += static_cast<int>(side.plugin->Dispatch(effEditOpen, 0, 0, Handle(side.window)));
      for (int idle = 0; idle < kIdlesPerRound; ++idle) side.plugin->Dispatch(effEditIdle);
      side.plugin->Dispatch(effEditClose);
    }
  };
  std::thread first(run, std::ref(sides[0]));
  std::thread second(run, std::ref(sides[1]));
  first.join();
  second.join();
  for (const Side& side : sides) EXPECT_EQ(side.opened, kRounds);

  EXPECT_EQ(HostErrors::elsewhere, 0);
  EXPECT_EQ(HostErrors::onHostConnections, 0);
  // The host's own mistake, on its own connection, goes to the host's handler.
  XMapWindow(display, static_cast<Window>(kBogusWindow));
  XSync(display, False);
  EXPECT_EQ(HostErrors::onHostConnections, 1) << "the host's error went elsewhere";
  EXPECT_EQ(HostErrors::lastCode, BadWindow);
  EXPECT_EQ(HostErrors::Current(), &HostErrors::Handler) << "the host's error handler was replaced";

  for (Side& side : sides) {
    side.plugin.reset();
    XDestroyWindow(side.connection, side.window);
    XCloseDisplay(side.connection);
  }
}

}  // namespace
}  // namespace vm
