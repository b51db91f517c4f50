// The editor's window on Windows: a WS_CHILD window of the host's window, painted from
// the form's back buffer with SetDIBitsToDevice. The host's message loop delivers the
// window's messages; the mouse is captured from button down to button up.
//
// Lifetimes. The window is a system "STATIC" window whose procedure is replaced by ours
// (subclassed), so no window class of this library is ever registered. Before the object
// goes away the system's procedure is put back and the object pointer cleared, so no
// message (posted, sent or painted later) reaches this object or this library's code
// again, even after the library is unloaded. Only the thread that made the window
// touches it beyond that; another thread that closes or destroys it hides it
// asynchronously and posts WM_CLOSE, which the system's procedure handles by destroying
// the window on its own thread. Nothing here waits for that thread's message loop: a
// destruction from another thread only waits for a call of our procedure already under
// way to return.
#include <atomic>
#include <cstdint>
#include <memory>

#include "analysis/Numeric.h"
#include "graphics/Controls.h"
#include "platform/Platform.h"

// After the drawing layer: windows.h defines RGB and friends as macros.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace vm {
namespace {

// Posted by a thread that does not own the window: hide and detach it there. (Showing,
// hiding and re-parenting send messages to the owning thread and would wait for it; a
// host that calls from another thread may be holding that thread.)
constexpr UINT kDetachMessage = WM_APP + 1;

// The module this code lives in (the plug-in DLL, not the host's executable).
HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// Calls of our window procedure under way, on all threads, and on this thread (a
// thread-local slot, freed with the library, without destructors to run at thread exit).
std::atomic<int> gProcedureCalls{0};

struct tThreadDepth {
  DWORD slot = TlsAlloc();
  ~tThreadDepth() {
    if (slot != TLS_OUT_OF_INDEXES) TlsFree(slot);
  }
  int Get() const {
    return slot == TLS_OUT_OF_INDEXES ? 0 : static_cast<int>(reinterpret_cast<intptr_t>(TlsGetValue(slot)));
  }
  void Add(int step) const {
    if (slot != TLS_OUT_OF_INDEXES) TlsSetValue(slot, reinterpret_cast<void*>(intptr_t{Get() + step}));
  }
};
const tThreadDepth gThreadDepth;

// Counts one call of the procedure for as long as it touches our objects.
class tProcedureCall {
 public:
  tProcedureCall() {
    gThreadDepth.Add(1);
    gProcedureCalls.fetch_add(1, std::memory_order_seq_cst);
  }
  ~tProcedureCall() { Leave(); }
  void Leave() {
    if (left) return;
    left = true;
    gProcedureCalls.fetch_sub(1, std::memory_order_seq_cst);
    gThreadDepth.Add(-1);
  }

 private:
  bool left = false;
};

// Returns once no other thread is inside our procedure. Calls on this thread (further
// up its stack) are not waited for: they can only go on once this returns.
void WaitForOtherThreadsCalls() {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  const int own = gThreadDepth.Get();
  for (int round = 0; gProcedureCalls.load(std::memory_order_seq_cst) > own; ++round) {
    if (round < 1000)
      YieldProcessor();
    else
      Sleep(round < 2000 ? 0 : 1);
  }
}

class tWin32Window final : public tNativeWindow {
 public:
  explicit tWin32Window(TForm& form) : form(form) {}
  ~tWin32Window() override;

  bool Attach(void* parent) override;
  void Detach() override;
  void* ParentWindow() const override { return parent.load(); }
  void Pump() override { Present(); }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  // True when the message was handled here, with its result in `result`.
  bool Handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);
  bool Create(HWND parentWindow);
  void Unhook(HWND hwnd);
  void Blit(HDC dc, const TRect& area);
  static bool OwnedByThisThread(HWND hwnd) {
    return GetWindowThreadProcessId(hwnd, nullptr) == GetCurrentThreadId();
  }
  void HideAndDetach(HWND hwnd);
  void Present();

  TForm& form;
  std::atomic<HWND> window{nullptr};
  std::atomic<void*> parent{nullptr};
  WNDPROC systemProcedure = nullptr;    // the STATIC window's own, replaced by Procedure
  std::atomic<DWORD> ownerThread{0};    // of the last window made; 0 before the first
};

tWin32Window::~tWin32Window() {
  HWND hwnd = window.exchange(nullptr);
  if (hwnd) Unhook(hwnd);
  // A message being handled on the window's thread right now still uses this object and
  // the form; it ends without waiting for anything of ours.
  const DWORD owner = ownerThread.load();
  if (owner != 0 && owner != GetCurrentThreadId()) WaitForOtherThreadsCalls();
  form.OnInvalidate = nullptr;
  if (!hwnd || !IsWindow(hwnd)) return;
  if (OwnedByThisThread(hwnd)) {
    DestroyWindow(hwnd);
  } else {
    ShowWindowAsync(hwnd, SW_HIDE);
    PostMessageW(hwnd, WM_CLOSE, 0, 0);  // the system's procedure destroys it there
  }
}

// Puts the system's procedure back and forgets this object: callable from any thread of
// the process (SetWindowLongPtr sends no message for either).
void tWin32Window::Unhook(HWND hwnd) {
  SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(systemProcedure));
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
}

bool tWin32Window::Create(HWND parentWindow) {
  // No parent notifications: creating and destroying the window sends nothing to the
  // host's window, which may belong to another thread.
  HWND hwnd = CreateWindowExW(WS_EX_NOPARENTNOTIFY, L"STATIC", L"", WS_CHILD | WS_CLIPSIBLINGS,
                              0, 0, form.ClientWidth(), form.ClientHeight(), parentWindow,
                              nullptr, ThisModule(), nullptr);
  if (!hwnd) return false;
  ownerThread = GetCurrentThreadId();
  SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  systemProcedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure)));
  window = hwnd;
  form.OnInvalidate = [this] {
    if (HWND shown = window.load()) InvalidateRect(shown, nullptr, FALSE);
  };
  return true;
}

bool tWin32Window::Attach(void* parentHandle) {
  HWND parentWindow = static_cast<HWND>(parentHandle);
  if (!parentWindow || !IsWindow(parentWindow)) return false;
  HWND hwnd = window.load();
  if (hwnd && !IsWindow(hwnd)) {  // went with its thread, without a WM_DESTROY for us
    window = nullptr;
    hwnd = nullptr;
  }
  if (!hwnd) {
    if (!Create(parentWindow)) return false;
    hwnd = window.load();
  } else if (!OwnedByThisThread(hwnd)) {
    return false;  // only the thread that made the window can show it elsewhere
  } else {
    SetParent(hwnd, parentWindow);
  }
  SetWindowPos(hwnd, HWND_TOP, 0, 0, form.ClientWidth(), form.ClientHeight(), SWP_SHOWWINDOW);
  parent = parentHandle;
  form.Invalidate();
  InvalidateRect(hwnd, nullptr, FALSE);
  return true;
}

void tWin32Window::Detach() {
  parent = nullptr;
  HWND hwnd = window.load();
  if (!hwnd || !IsWindow(hwnd)) return;
  if (OwnedByThisThread(hwnd))
    HideAndDetach(hwnd);
  else
    PostMessageW(hwnd, kDetachMessage, 0, 0);
}

void tWin32Window::HideAndDetach(HWND hwnd) {
  if (GetCapture() == hwnd) ReleaseCapture();
  ShowWindow(hwnd, SW_HIDE);
  SetParent(hwnd, nullptr);
}

void tWin32Window::Blit(HDC dc, const TRect& area) {
  const TBitmap& buffer = form.BackBuffer();
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = buffer.Width();
  info.bmiHeader.biHeight = -buffer.Height();  // rows top to bottom, as the buffer keeps them
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;  // 0x00RRGGBB words: the buffer's own layout
  info.bmiHeader.biCompression = BI_RGB;
  // With a top-down source, the scan lines given are counted from the top.
  SetDIBitsToDevice(dc, area.Left, area.Top, static_cast<DWORD>(area.Width()),
                    static_cast<DWORD>(area.Height()), area.Left,
                    buffer.Height() - area.Bottom, 0, static_cast<UINT>(buffer.Height()),
                    buffer.Row(0), &info, DIB_RGB_COLORS);
}

void tWin32Window::Present() {
  HWND hwnd = window.load();
  if (!hwnd || !parent.load()) return;
  form.PaintInvalid();
  const TRect area =
      form.TakeChangedRect().Intersect(Bounds(0, 0, form.ClientWidth(), form.ClientHeight()));
  if (area.IsEmpty()) return;
  HDC dc = GetDC(hwnd);
  if (!dc) return;
  Blit(dc, area);
  ReleaseDC(hwnd, dc);
}

// The object is looked up only after the call is counted: a destruction on another
// thread clears the pointer first and then waits for the counted calls, so a call either
// finds the object alive for its whole length or finds no object.
LRESULT CALLBACK tWin32Window::Procedure(HWND hwnd, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  SetFloatControl();  // the drawing and the knobs' arithmetic must not trap
  tProcedureCall call;
  WNDPROC next = nullptr;
  if (auto* self = reinterpret_cast<tWin32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
    next = self->systemProcedure;
    LRESULT result = 0;
    bool handled = true;
    try {
      handled = self->Handle(hwnd, message, wParam, lParam, result);
    } catch (...) {
      // nothing may unwind into the host's message loop
    }
    if (handled) return result;
  }
  call.Leave();  // the system's procedure needs nothing of ours
  // Without an object (a call that began as the window was being given back) the
  // class's procedure is the STATIC window's own.
  if (!next) next = reinterpret_cast<WNDPROC>(GetClassLongPtrW(hwnd, GCLP_WNDPROC));
  return CallWindowProcW(next, hwnd, message, wParam, lParam);
}

bool tWin32Window::Handle(HWND hwnd, UINT message, WPARAM, LPARAM lParam, LRESULT& result) {
  const int x = static_cast<short>(LOWORD(lParam));
  const int y = static_cast<short>(HIWORD(lParam));
  auto button = [](UINT m) {
    return m == WM_LBUTTONDOWN || m == WM_LBUTTONUP   ? TMouseButton::mbLeft
           : m == WM_RBUTTONDOWN || m == WM_RBUTTONUP ? TMouseButton::mbRight
                                                      : TMouseButton::mbMiddle;
  };
  result = 0;
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd, &paint);
      form.PaintInvalid();
      form.TakeChangedRect();
      const RECT& r = paint.rcPaint;
      const TRect area = TRect{r.left, r.top, r.right, r.bottom}.Intersect(
          Bounds(0, 0, form.ClientWidth(), form.ClientHeight()));
      if (dc && !area.IsEmpty()) Blit(dc, area);
      EndPaint(hwnd, &paint);
      return true;
    }
    case WM_ERASEBKGND:
      result = 1;  // the paint covers every pixel
      return true;
    case WM_NCHITTEST:
      result = HTCLIENT;  // a STATIC window lets the mouse through to its parent
      return true;
    case kDetachMessage:
      if (!parent.load()) HideAndDetach(hwnd);  // unless an open came after the close
      return true;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      SetCapture(hwnd);
      form.MouseDown(button(message), x, y);
      Present();
      return true;
    case WM_MOUSEMOVE:
      form.MouseMove(x, y);
      Present();
      return true;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      form.MouseUp(button(message), x, y);
      if (GetCapture() == hwnd) ReleaseCapture();
      Present();
      return true;
    case WM_DESTROY: {
      // Destroyed with the host's window before any close: from here on the window is
      // the system's alone, and the next open makes a new one.
      HWND mine = hwnd;
      if (window.compare_exchange_strong(mine, nullptr)) Unhook(hwnd);
      parent = nullptr;
      return false;  // the system's procedure cleans up its part
    }
    default:
      return false;
  }
}

int ScreenPixelsPerInch() {
  HDC screen = GetDC(nullptr);
  if (!screen) return 96;
  const int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return pixelsPerInch > 0 ? pixelsPerInch : 96;
}

std::unique_ptr<tNativeWindow> MakeWindow(TForm& form) {
  return std::make_unique<tWin32Window>(form);
}

}  // namespace

const tPlatform& NativePlatform() {
  static const tPlatform platform{&ScreenPixelsPerInch, &MakeWindow};
  return platform;
}

}  // namespace vm
