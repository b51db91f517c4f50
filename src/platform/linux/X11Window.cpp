// The editor's window on X11: a child of the host's window, shown from the form's back
// buffer with XPutImage. The plug-in starts no thread: the host's idle calls Pump, which
// handles the window's events and copies what the form repainted to the screen.
//
// Nothing here changes state of the process that the host or another thread relies on:
// each window has a display connection of its own (the host's connection and event queue
// are never touched), the process-wide X error handler is never replaced, and XInitThreads
// is left to the host. X errors on the plug-in's connection (a host that destroyed its
// window before closing the editor, a bogus window id) are claimed by an error hook
// registered on that connection alone and make the request fail instead of ending the
// process. One mutex per window serialises every use of its connection, so a host that
// calls open, idle and close from different threads never runs two Xlib calls on it at once.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "analysis/Numeric.h"
#include "graphics/Controls.h"
#include "platform/Platform.h"

// Last: the extension hooks live in Xlib's internal header, which defines min and max.
#include <X11/Xlibint.h>
#undef min
#undef max

namespace vm {
namespace {

// Opening and closing a connection touch Xlib's process-wide tables, which Xlib only
// guards itself when the host called XInitThreads; the plug-in's own opens and closes
// therefore never run at the same time. Requests on an open connection need no such lock.
std::mutex& ConnectionLifecycleLock() {
  static std::mutex lock;
  return lock;
}

// Errors counted on one connection. Allocated with calloc and hung on the display's
// extension list, so Xlib frees it with the display.
struct tErrorTally {
  unsigned long count;
};

// A display connection of the plug-in's own whose X errors never reach the process-wide
// handler. Xlib offers each error it reads while waiting for a reply (XSync, or any
// request with a reply) to the error hooks of the connection's extensions before the
// global handler; the hook registered here claims every error of this connection and
// counts it. The error of a request without reply reaches the hooks only when such a
// wait reads it, so every batch of requests ends with a synchronisation (tXErrorTrap)
// before events are read again.
class tXConnection {
 public:
  static std::unique_ptr<tXConnection> Open();
  ~tXConnection();
  tXConnection(const tXConnection&) = delete;
  tXConnection& operator=(const tXConnection&) = delete;

  Display* Get() const { return display; }
  unsigned long ErrorCount() const { return tally->count; }

 private:
  tXConnection(Display* display, tErrorTally* tally) : display(display), tally(tally) {}
  static int ClaimError(Display* display, xError* error, XExtCodes* codes, int* status);

  Display* display;
  tErrorTally* tally;  // owned by the display's extension list
};

std::unique_ptr<tXConnection> tXConnection::Open() {
  std::lock_guard<std::mutex> serialised(ConnectionLifecycleLock());
  Display* display = XOpenDisplay(nullptr);
  if (!display) return nullptr;
  XExtCodes* codes = XAddExtension(display);
  auto* data = static_cast<XExtData*>(std::calloc(1, sizeof(XExtData)));
  auto* tally = static_cast<tErrorTally*>(std::calloc(1, sizeof(tErrorTally)));
  if (!codes || !data || !tally) {
    std::free(data);
    std::free(tally);
    XCloseDisplay(display);
    return nullptr;
  }
  data->number = codes->extension;
  data->private_data = reinterpret_cast<XPointer>(tally);
  XEDataObject owner;
  owner.display = display;
  XAddToExtensionList(XEHeadOfExtensionList(owner), data);
  XESetError(display, codes->extension, &ClaimError);
  return std::unique_ptr<tXConnection>(new tXConnection(display, tally));
}

// XCloseDisplay synchronises first (the hook still claims what arrives then) and frees the
// tally with the display: nothing of the plug-in's stays registered with Xlib afterwards.
tXConnection::~tXConnection() {
  std::lock_guard<std::mutex> serialised(ConnectionLifecycleLock());
  XCloseDisplay(display);
}

// Non-zero marks the error handled: no other hook and not the global handler sees it.
// The request that failed reports status 0.
int tXConnection::ClaimError(Display* display, xError*, XExtCodes* codes, int* status) {
  XEDataObject owner;
  owner.display = display;
  if (XExtData* data = XFindOnExtensionList(XEHeadOfExtensionList(owner), codes->extension))
    ++reinterpret_cast<tErrorTally*>(data->private_data)->count;
  *status = 0;
  return 1;
}

// The requests made between construction and Ok() on one connection; Ok() waits for the
// server and tells whether none of them failed.
class tXErrorTrap {
 public:
  explicit tXErrorTrap(const tXConnection& connection)
      : connection(connection), errorsBefore(connection.ErrorCount()) {}
  bool Ok() {
    XSync(connection.Get(), False);
    return connection.ErrorCount() == errorsBefore;
  }

 private:
  const tXConnection& connection;
  unsigned long errorsBefore;
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
  void* NativeHandle() const override;

 private:
  void SetFixedSize();
  bool Connect();
  bool ParentExists(::Window parentId);
  bool Create(::Window parentId);
  bool WindowAlive();
  bool Show(::Window parentId);
  void DispatchEvents();
  void Handle(const XEvent& event);
  void Grab(Time time);
  void Ungrab(Time time);
  void Present(TRect area);
  void ReleaseImage();

  TForm& form;
  mutable std::mutex lock;  // one thread at a time on the connection, the window and the form
  std::unique_ptr<tXConnection> connection;
  Display* display = nullptr;  // the connection's, while it is open
  ::Window window = 0;
  GC gc = nullptr;
  XImage* image = nullptr;  // wraps the form's back buffer, owns nothing
  std::atomic<void*> parent{nullptr};
  TRect exposed;
  bool grabbed = false;
};

tX11Window::~tX11Window() {
  std::lock_guard<std::mutex> serialised(lock);
  if (!connection) return;
  {
    tXErrorTrap trap(*connection);
    if (grabbed) XUngrabPointer(display, CurrentTime);
    if (window) XDestroyWindow(display, window);
    trap.Ok();
  }
  ReleaseImage();
  if (gc) XFreeGC(display, gc);
  connection.reset();
}

void tX11Window::ReleaseImage() {
  if (!image) return;
  image->data = nullptr;  // the pixels belong to the form
  XDestroyImage(image);
  image = nullptr;
}

bool tX11Window::Connect() {
  if (!connection) {
    connection = tXConnection::Open();
    display = connection ? connection->Get() : nullptr;
  }
  return connection != nullptr;
}

bool tX11Window::ParentExists(::Window parentId) {
  XWindowAttributes attributes;
  tXErrorTrap trap(*connection);
  const Status status = XGetWindowAttributes(display, parentId, &attributes);
  return trap.Ok() && status;
}

bool tX11Window::WindowAlive() {
  if (!window) return false;
  XWindowAttributes attributes;
  tXErrorTrap trap(*connection);
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
  // Border and colour map of the window's own visual: a parent of another depth or visual
  // (a toolkit's 32-bit frame) refuses a child that copies them from it.
  attributes.border_pixel = BlackPixel(display, screen);
  attributes.colormap = DefaultColormap(display, screen);
  attributes.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask |
                          PointerMotionMask | StructureNotifyMask;
  tXErrorTrap trap(*connection);
  window = XCreateWindow(display, parentId, 0, 0, static_cast<unsigned>(form.ClientWidth()),
                         static_cast<unsigned>(form.ClientHeight()), 0, depth, InputOutput,
                         visual, CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes);
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
  SetFixedSize();
  return image != nullptr && trap.Ok();
}

// The form is not scaled: a host that sizes its frame from the embedded window's size
// hints (as LV2 hosts' X11 wrappers do) keeps it at the form's client size.
void tX11Window::SetFixedSize() {
  XSizeHints* hints = XAllocSizeHints();
  if (!hints) return;
  hints->flags = PMinSize | PMaxSize | PBaseSize;
  hints->min_width = hints->max_width = hints->base_width = form.ClientWidth();
  hints->min_height = hints->max_height = hints->base_height = form.ClientHeight();
  XSetWMNormalHints(display, window, hints);
  XFree(hints);
}

void* tX11Window::NativeHandle() const {
  std::lock_guard<std::mutex> serialised(lock);
  return reinterpret_cast<void*>(static_cast<uintptr_t>(window));
}

// Re-parents the existing window or makes it, then maps it.
bool tX11Window::Show(::Window parentId) {
  if (WindowAlive()) {
    tXErrorTrap trap(*connection);
    XReparentWindow(display, window, parentId, 0, 0);
    if (!trap.Ok()) return false;
  } else if (!Create(parentId)) {
    return false;
  }
  tXErrorTrap trap(*connection);
  XMapRaised(display, window);
  return trap.Ok();
}

bool tX11Window::Attach(void* parentHandle) {
  std::lock_guard<std::mutex> serialised(lock);
  SetFloatControl();
  if (!parentHandle || !Connect()) return false;
  const auto parentId = static_cast<::Window>(reinterpret_cast<uintptr_t>(parentHandle));
  if (!ParentExists(parentId) || !Show(parentId)) return false;
  parent = parentHandle;
  form.Invalidate();
  return true;
}

void tX11Window::Detach() {
  std::lock_guard<std::mutex> serialised(lock);
  parent = nullptr;
  if (!connection || !window) return;
  tXErrorTrap trap(*connection);
  if (grabbed) XUngrabPointer(display, CurrentTime);
  grabbed = false;
  XUnmapWindow(display, window);
  XReparentWindow(display, window, DefaultRootWindow(display), 0, 0);
  trap.Ok();
}

// Requests made while handling an event are synchronised at once (Grab, Ungrab), so the
// next XPending never reads an error, which would bypass the connection's hook.
void tX11Window::Grab(Time time) {
  if (grabbed || !window) return;
  tXErrorTrap trap(*connection);
  const int result = XGrabPointer(display, window, False, ButtonReleaseMask | PointerMotionMask,
                                  GrabModeAsync, GrabModeAsync, None, None, time);
  grabbed = trap.Ok() && result == GrabSuccess;
}

void tX11Window::Ungrab(Time time) {
  if (!grabbed) return;
  tXErrorTrap trap(*connection);
  XUngrabPointer(display, time);
  trap.Ok();
  grabbed = false;
}

void tX11Window::Handle(const XEvent& event) {
  switch (event.type) {
    case Expose:
      exposed = exposed.Union(Bounds(event.xexpose.x, event.xexpose.y, event.xexpose.width,
                                     event.xexpose.height));
      break;
    case ButtonPress:
      if (event.xbutton.button > Button3) break;  // wheel steps
      Grab(event.xbutton.time);
      form.MouseDown(ButtonOf(event.xbutton.button), event.xbutton.x, event.xbutton.y);
      break;
    case MotionNotify:
      form.MouseMove(event.xmotion.x, event.xmotion.y);
      break;
    case ButtonRelease:
      if (event.xbutton.button > Button3) break;
      form.MouseUp(ButtonOf(event.xbutton.button), event.xbutton.x, event.xbutton.y);
      Ungrab(event.xbutton.time);
      break;
    case DestroyNotify:
      if (event.xdestroywindow.window == window) window = 0;
      break;
    default:
      break;
  }
}

void tX11Window::DispatchEvents() {
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    Handle(event);
  }
}

void tX11Window::Present(TRect area) {
  area = area.Intersect(Bounds(0, 0, form.ClientWidth(), form.ClientHeight()));
  if (area.IsEmpty() || !window || !image) return;
  tXErrorTrap trap(*connection);
  XPutImage(display, window, gc, image, area.Left, area.Top, area.Left, area.Top,
            static_cast<unsigned>(area.Width()), static_cast<unsigned>(area.Height()));
  trap.Ok();
}

// Events reach the controls and the form repaints here: both run with the floating-point
// exceptions masked, whatever the host's thread had set.
void tX11Window::Pump() {
  std::lock_guard<std::mutex> serialised(lock);
  SetFloatControl();
  if (!connection) return;
  DispatchEvents();
  form.PaintInvalid();
  const TRect changed = form.TakeChangedRect().Union(exposed);
  exposed = {};
  if (parent) Present(changed);
}

int ScreenPixelsPerInch() {
  const std::unique_ptr<tXConnection> connection = tXConnection::Open();
  if (!connection) return 96;
  Display* display = connection->Get();
  const int screen = DefaultScreen(display);
  const int widthMm = DisplayWidthMM(display, screen);
  const int widthPixels = DisplayWidth(display, screen);
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
