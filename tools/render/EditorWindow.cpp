#include "EditorWindow.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

namespace vm {

namespace {

constexpr auto kIdleInterval = std::chrono::milliseconds(15);  // about 60 idles a second

bool CloseRequested(Display* display, Atom deleteWindow) {
  bool requested = false;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == ClientMessage &&
        static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow)
      requested = true;
  }
  return requested;
}

}  // namespace

int RunEditorWindow(AEffect* effect, double seconds) {
  if (!effect || !(effect->flags & effFlagsHasEditor)) {
    std::fprintf(stderr, "voicemultiply-render: the plug-in has no editor\n");
    return 1;
  }
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "voicemultiply-render: no X display (is DISPLAY set?)\n");
    return 1;
  }
  ERect* rect = nullptr;
  effect->dispatcher(effect, effEditGetRect, 0, 0, &rect, 0.0f);
  const int width = rect ? rect->right - rect->left : 828;
  const int height = rect ? rect->bottom - rect->top : 423;

  const int screen = DefaultScreen(display);
  const Window window = XCreateSimpleWindow(display, RootWindow(display, screen), 0, 0,
                                            static_cast<unsigned>(width),
                                            static_cast<unsigned>(height), 0,
                                            BlackPixel(display, screen), BlackPixel(display, screen));
  XStoreName(display, window, "VoicemultiplyV42_MS");
  // A fixed size: the editor does not scale.
  XSizeHints hints{};
  hints.flags = PMinSize | PMaxSize;
  hints.min_width = hints.max_width = width;
  hints.min_height = hints.max_height = height;
  XSetWMNormalHints(display, window, &hints);
  Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(display, window, &deleteWindow, 1);
  XMapRaised(display, window);
  XSync(display, False);

  void* parent = reinterpret_cast<void*>(static_cast<uintptr_t>(window));
  int result = 0;
  if (effect->dispatcher(effect, effEditOpen, 0, 0, parent, 0.0f) != 1) {
    std::fprintf(stderr, "voicemultiply-render: the editor did not open\n");
    result = 1;
  } else {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!CloseRequested(display, deleteWindow)) {
      if (seconds > 0 && std::chrono::steady_clock::now() >= until) break;
      effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f);
      std::this_thread::sleep_for(kIdleInterval);
    }
    effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0.0f);
  }
  XDestroyWindow(display, window);
  XCloseDisplay(display);
  return result;
}

}  // namespace vm
