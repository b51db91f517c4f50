// The editor's window on Windows: a WS_CHILD window of the host's window, painted from
// the form's back buffer with SetDIBitsToDevice. The host's message loop delivers the
// window's messages; the mouse is captured from button down to button up.
#include <cstdint>
#include <memory>

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

constexpr wchar_t kClassName[] = L"VoicemultiplyV42_MS_Editor";
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

class tWin32Window final : public tNativeWindow {
 public:
  explicit tWin32Window(TForm& form) : form(form) {}
  ~tWin32Window() override;

  bool Attach(void* parent) override;
  void Detach() override;
  void* ParentWindow() const override { return parent; }
  void Pump() override { Present(); }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool Create(HWND parentWindow);
  void Blit(HDC dc, const TRect& area);
  bool OwnedByThisThread() const {
    return GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId();
  }
  void HideAndDetach();
  void Present();

  TForm& form;
  HWND window = nullptr;
  void* parent = nullptr;
};

// The class is registered while any editor window exists, and unregistered with the
// last one, so that no class outlives the DLL whose procedure it names.
int gClassUsers = 0;

bool AcquireClass() {
  if (gClassUsers++ > 0) return true;
  WNDCLASSEXW description{};
  description.cbSize = sizeof(description);
  description.style = CS_HREDRAW | CS_VREDRAW;
  description.hInstance = ThisModule();
  description.hCursor = LoadCursor(nullptr, IDC_ARROW);
  description.lpszClassName = kClassName;
  description.lpfnWndProc = DefWindowProcW;
  if (RegisterClassExW(&description) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS) return true;
  --gClassUsers;
  return false;
}

void ReleaseClass() {
  if (gClassUsers > 0 && --gClassUsers == 0) UnregisterClassW(kClassName, ThisModule());
}

tWin32Window::~tWin32Window() {
  if (window && IsWindow(window)) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);  // from now on nothing reaches this object
    if (OwnedByThisThread())
      DestroyWindow(window);
    else
      PostMessageW(window, WM_CLOSE, 0, 0);  // destroyed by its own thread
  }
  if (window) ReleaseClass();
}

bool tWin32Window::Create(HWND parentWindow) {
  if (!AcquireClass()) return false;
  window = CreateWindowExW(0, kClassName, L"Voicemultiply", WS_CHILD | WS_CLIPSIBLINGS, 0, 0,
                           form.ClientWidth(), form.ClientHeight(), parentWindow, nullptr,
                           ThisModule(), nullptr);
  if (!window) {
    ReleaseClass();
    return false;
  }
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Procedure));
  form.OnInvalidate = [this] {
    if (window) InvalidateRect(window, nullptr, FALSE);
  };
  return true;
}

bool tWin32Window::Attach(void* parentHandle) {
  HWND parentWindow = static_cast<HWND>(parentHandle);
  if (!parentWindow || !IsWindow(parentWindow)) return false;
  if (window && !IsWindow(window)) {  // destroyed with a host window that went away
    window = nullptr;
    ReleaseClass();
  }
  if (!window) {
    if (!Create(parentWindow)) return false;
  } else if (!OwnedByThisThread()) {
    return false;  // only the thread that made the window can show it elsewhere
  } else {
    SetParent(window, parentWindow);
  }
  SetWindowPos(window, HWND_TOP, 0, 0, form.ClientWidth(), form.ClientHeight(),
               SWP_SHOWWINDOW);
  parent = parentHandle;
  form.Invalidate();
  InvalidateRect(window, nullptr, FALSE);
  return true;
}

void tWin32Window::Detach() {
  parent = nullptr;
  if (!window || !IsWindow(window)) return;
  if (OwnedByThisThread())
    HideAndDetach();
  else
    PostMessageW(window, kDetachMessage, 0, 0);
}

void tWin32Window::HideAndDetach() {
  if (GetCapture() == window) ReleaseCapture();
  ShowWindow(window, SW_HIDE);
  SetParent(window, nullptr);
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
  if (!window || !parent) return;
  form.PaintInvalid();
  const TRect area =
      form.TakeChangedRect().Intersect(Bounds(0, 0, form.ClientWidth(), form.ClientHeight()));
  if (area.IsEmpty()) return;
  HDC dc = GetDC(window);
  if (!dc) return;
  Blit(dc, area);
  ReleaseDC(window, dc);
}

LRESULT CALLBACK tWin32Window::Procedure(HWND hwnd, UINT message, WPARAM wParam,
                                         LPARAM lParam) {
  auto* self = reinterpret_cast<tWin32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  try {
    return self->Handle(message, wParam, lParam);
  } catch (...) {
    return 0;  // nothing may unwind into the host's message loop
  }
}

LRESULT tWin32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  const int x = static_cast<short>(LOWORD(lParam));
  const int y = static_cast<short>(HIWORD(lParam));
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      form.PaintInvalid();
      form.TakeChangedRect();
      const RECT& r = paint.rcPaint;
      const TRect area = TRect{r.left, r.top, r.right, r.bottom}.Intersect(
          Bounds(0, 0, form.ClientWidth(), form.ClientHeight()));
      if (dc && !area.IsEmpty()) Blit(dc, area);
      EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the paint covers every pixel
    case kDetachMessage:
      if (!parent) HideAndDetach();  // unless an open came after the close
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
      SetCapture(window);
      form.MouseDown(message == WM_LBUTTONDOWN   ? TMouseButton::mbLeft
                     : message == WM_RBUTTONDOWN ? TMouseButton::mbRight
                                                 : TMouseButton::mbMiddle,
                     x, y);
      Present();
      return 0;
    case WM_MOUSEMOVE:
      form.MouseMove(x, y);
      Present();
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
      form.MouseUp(message == WM_LBUTTONUP   ? TMouseButton::mbLeft
                   : message == WM_RBUTTONUP ? TMouseButton::mbRight
                                             : TMouseButton::mbMiddle,
                   x, y);
      if (GetCapture() == window) ReleaseCapture();
      Present();
      return 0;
    case WM_DESTROY:
      form.OnInvalidate = nullptr;
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      window = nullptr;
      ReleaseClass();
      parent = nullptr;
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
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
