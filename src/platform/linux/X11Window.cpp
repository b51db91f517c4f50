// The editor's window on X11: a child of the host's window, shown from the form's back
// buffer with XPutImage. The plug-in starts no thread: the host's idle calls Pump, which
// handles the window's events and copies what the form repainted to the screen.
//
// Each window has a display connection of its own, so nothing here touches the host's
// connection or its event queue. X errors (a host that destroyed its window before
// closing the editor, a bogus window id) are caught around each request and make the
// request fail instead of ending the process.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <memory>

#include "graphics/Controls.h"
#include "platform/Platform.h"

namespace vm {
namespace {

// Catches the X errors of the requests made between construction and Ok(), on this
// thread's display; the previous handler comes back afterwards.
class tXErrorTrap {
 public:
  explicit tXErrorTrap(Display* display) : display(display) {
    failed = false;
    previous = XSetErrorHandler(&Record);
  }
  ~tXErrorTrap() { XSetErrorHandler(previous); }
  bool Ok() {
    XSync(display, False);
    return !failed;
  }

 private:
  static int Record(Display*, XErrorEvent*) {
    failed = true;
    return 0;
  }
  static inline thread_local bool failed = false;
  Display* display;
  int (*previous)(Display*, XErrorEvent*);
};

TMouseButton ButtonOf(unsigned int xButton) {
  switch (xButton) {
    case Button3: return TMouseButton::mbRight;
    case Button2: return TMouseButton::mbMiddle;
    default: return TMouseButton::mbLeft;
  }
}

class tX11Window final : public tNativeWindow {
 public:
  explicit tX11Window(TForm& form) : form(form) {}
  ~tX11Window() override;

  bool Attach(void* parent) override;
  void Detach() override;
  void* ParentWindow() const override { return parent; }
  void Pump() override;

 private:
  bool Connect();
  bool Create(::Window parentId);
  bool WindowAlive();
  void Handle(const XEvent& event);
  void Present(TRect area);
  void ReleaseImage();

  TForm& form;
  Display* display = nullptr;
  ::Window window = 0;
  GC gc = nullptr;
  XImage* image = nullptr;  // wraps the form's back buffer, owns nothing
  void* parent = nullptr;
  TRect exposed;
  bool grabbed = false;
};

tX11Window::~tX11Window() {
  if (!display) return;
  {
    tXErrorTrap trap(display);
    if (grabbed) XUngrabPointer(display, CurrentTime);
    if (window) XDestroyWindow(display, window);
    trap.Ok();
  }
  ReleaseImage();
  if (gc) XFreeGC(display, gc);
  XCloseDisplay(display);
}

void tX11Window::ReleaseImage() {
  if (!image) return;
  image->data = nullptr;  // the pixels belong to the form
  XDestroyImage(image);
  image = nullptr;
}

bool tX11Window::Connect() {
  if (!display) display = XOpenDisplay(nullptr);
  return display != nullptr;
}

bool tX11Window::WindowAlive() {
  if (!window) return false;
  XWindowAttributes attributes;
  tXErrorTrap trap(display);
  const Status status = XGetWindowAttributes(display, window, &attributes);
  if (trap.Ok() && status) return true;
  window = 0;  // destroyed with a host window that went away
  return false;
}

bool tX11Window::Create(::Window parentId) {
  const int screen = DefaultScreen(display);
  Visual* visual = DefaultVisual(display, screen);
  const int depth = DefaultDepth(display, screen);
  // The back buffer is 0x00RRGGBB in 32-bit words: the layout of a 24-bit true-colour
  // visual, which every X server of the last decades offers by default.
  if (depth != 24 && depth != 32) return false;
  XSetWindowAttributes attributes{};
  attributes.background_pixel = BlackPixel(display, screen);
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask |
                          PointerMotionMask | StructureNotifyMask;
  tXErrorTrap trap(display);
  window = XCreateWindow(display, parentId, 0, 0, static_cast<unsigned>(form.ClientWidth()),
                         static_cast<unsigned>(form.ClientHeight()), 0, depth, InputOutput,
                         visual, CWBackPixel | CWEventMask, &attributes);
  if (!trap.Ok() || !window) {
    window = 0;
    return false;
  }
  if (!gc) gc = XCreateGC(display, window, 0, nullptr);
  ReleaseImage();
  TBitmap& buffer = form.BackBuffer();
  image = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0,
                       reinterpret_cast<char*>(buffer.Row(0)),
                       static_cast<unsigned>(buffer.Width()),
                       static_cast<unsigned>(buffer.Height()), 32, buffer.Width() * 4);
  XStoreName(display, window, "Voicemultiply");
  return image != nullptr && trap.Ok();
}

bool tX11Window::Attach(void* parentHandle) {
  if (!parentHandle || !Connect()) return false;
  const auto parentId = static_cast<::Window>(reinterpret_cast<uintptr_t>(parentHandle));
  {
    XWindowAttributes attributes;
    tXErrorTrap trap(display);
    const Status status = XGetWindowAttributes(display, parentId, &attributes);
    if (!trap.Ok() || !status) return false;
  }
  if (WindowAlive()) {
    tXErrorTrap trap(display);
    XReparentWindow(display, window, parentId, 0, 0);
    if (!trap.Ok()) return false;
  } else if (!Create(parentId)) {
    return false;
  }
  tXErrorTrap trap(display);
  XMapRaised(display, window);
  if (!trap.Ok()) return false;
  parent = parentHandle;
  form.Invalidate();
  return true;
}

void tX11Window::Detach() {
  parent = nullptr;
  if (!display || !window) return;
  tXErrorTrap trap(display);
  if (grabbed) XUngrabPointer(display, CurrentTime);
  grabbed = false;
  XUnmapWindow(display, window);
  XReparentWindow(display, window, DefaultRootWindow(display), 0, 0);
  trap.Ok();
}

void tX11Window::Handle(const XEvent& event) {
  switch (event.type) {
    case Expose:
      exposed = exposed.Union(Bounds(event.xexpose.x, event.xexpose.y, event.xexpose.width,
                                     event.xexpose.height));
      break;
    case ButtonPress:
      if (event.xbutton.button > Button3) break;  // wheel steps
      if (!grabbed)
        grabbed = XGrabPointer(display, window, False,
                               ButtonReleaseMask | PointerMotionMask, GrabModeAsync,
                               GrabModeAsync, None, None, event.xbutton.time) == GrabSuccess;
      form.MouseDown(ButtonOf(event.xbutton.button), event.xbutton.x, event.xbutton.y);
      break;
    case MotionNotify:
      form.MouseMove(event.xmotion.x, event.xmotion.y);
      break;
    case ButtonRelease:
      if (event.xbutton.button > Button3) break;
      form.MouseUp(ButtonOf(event.xbutton.button), event.xbutton.x, event.xbutton.y);
      if (grabbed) XUngrabPointer(display, event.xbutton.time);
      grabbed = false;
      break;
    case DestroyNotify:
      if (event.xdestroywindow.window == window) window = 0;
      break;
    default:
      break;
  }
}

void tX11Window::Present(TRect area) {
  area = area.Intersect(Bounds(0, 0, form.ClientWidth(), form.ClientHeight()));
  if (area.IsEmpty() || !window || !image) return;
  tXErrorTrap trap(display);
  XPutImage(display, window, gc, image, area.Left, area.Top, area.Left, area.Top,
            static_cast<unsigned>(area.Width()), static_cast<unsigned>(area.Height()));
  trap.Ok();
}

void tX11Window::Pump() {
  if (!display) return;
  {
    tXErrorTrap trap(display);
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      Handle(event);
    }
    trap.Ok();
  }
  form.PaintInvalid();
  const TRect changed = form.TakeChangedRect().Union(exposed);
  exposed = {};
  if (parent) Present(changed);
}

int ScreenPixelsPerInch() {
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 96;
  const int screen = DefaultScreen(display);
  const int widthMm = DisplayWidthMM(display, screen);
  const int widthPixels = DisplayWidth(display, screen);
  XCloseDisplay(display);
  if (widthMm <= 0) return 96;
  return static_cast<int>(widthPixels * 25.4 / widthMm + 0.5);
}

std::unique_ptr<tNativeWindow> MakeWindow(TForm& form) {
  return std::make_unique<tX11Window>(form);
}

}  // namespace

const tPlatform& NativePlatform() {
  static const tPlatform platform{&ScreenPixelsPerInch, &MakeWindow};
  return platform;
}

}  // namespace vm
