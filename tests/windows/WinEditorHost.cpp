// A Windows host for the editor, run under wine on a virtual X server: opens the DLL's
// editor in a top-level window, drives the Gain knob and a section button with the mouse
// messages a person's clicks produce, and saves what the window shows as a PNG. Then two
// races with other threads: a host change made during a drag (which the release must not
// overwrite) and an open from a second thread while the editor is open (refused).
// Exit status 0 when every check holds; each failure is printed.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "graphics/Bitmap.h"
#include "graphics/Png.h"
#include "vst/VstAbi.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <xmmintrin.h>

using namespace vm;

namespace {

constexpr int kWidth = 828;
constexpr int kHeight = 423;
int failures = 0;

void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "wine editor host: %s\n", what);
  ++failures;
}

intptr_t HostCallback(AEffect*, int32_t opcode, int32_t, intptr_t, void*, float) {
  return opcode == audioMasterVersion ? 2400 : 0;
}

void PumpMessages(AEffect* effect, int rounds = 20) {
  for (int i = 0; i < rounds; ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0);
    Sleep(5);
  }
}

// The window's queue only: paints and posted input, no effEditIdle.
void PumpWindowMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

HWND MakeTopLevel() {
  WNDCLASSW description{};
  description.lpfnWndProc = DefWindowProcW;
  description.hInstance = GetModuleHandleW(nullptr);
  description.lpszClassName = L"VmEditorTestHost";
  RegisterClassW(&description);
  RECT frame{0, 0, kWidth, kHeight};
  AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
  HWND window = CreateWindowW(L"VmEditorTestHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0,
                              frame.right - frame.left, frame.bottom - frame.top, nullptr,
                              nullptr, description.hInstance, nullptr);
  ShowWindow(window, SW_SHOW);
  return window;
}

// Sends a message with every floating-point exception unmasked on this thread, as a host
// may leave them, and restores the host's control word afterwards. A window procedure that
// computes without masking them first traps (the inexact result alone is raised by
// almost every operation).
LRESULT SendUnmasked(HWND target, UINT message, WPARAM wParam, LPARAM lParam) {
  constexpr unsigned kExceptionMasks = 0x1F80u;  // MXCSR bits 7..12
  const unsigned host = _mm_getcsr();
  _mm_setcsr(host & ~kExceptionMasks);
  const LRESULT result = SendMessageW(target, message, wParam, lParam);
  _mm_setcsr(host);
  return result;
}

// A drag over a knob and a full repaint, each message sent with the exceptions unmasked.
void DragAndPaintUnmasked(HWND editor, int cx, int cy) {
  SendUnmasked(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cx, cy - 30));
  SendUnmasked(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx - 21, cy - 21));
  SendUnmasked(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx - 30, cy));
  SendUnmasked(editor, WM_LBUTTONUP, 0, MAKELPARAM(cx - 30, cy));
  InvalidateRect(editor, nullptr, FALSE);
  SendUnmasked(editor, WM_PAINT, 0, 0);
}

void Click(HWND target, UINT down, UINT up, int x, int y) {
  SendMessageW(target, down, MK_LBUTTON, MAKELPARAM(x, y));
  SendMessageW(target, up, 0, MAKELPARAM(x, y));
}

TBitmap Screenshot(HWND window) {
  TBitmap shot(kWidth, kHeight);
  HDC source = GetDC(window);
  HDC memory = CreateCompatibleDC(source);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = kWidth;
  info.bmiHeader.biHeight = -kHeight;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ previous = SelectObject(memory, section);
  BitBlt(memory, 0, 0, kWidth, kHeight, source, 0, 0, SRCCOPY);
  const auto* pixels = static_cast<const uint32_t*>(bits);
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) shot.SetPixel(x, y, pixels[y * kWidth + x] | 0xFF000000u);
  SelectObject(memory, previous);
  DeleteObject(section);
  DeleteDC(memory);
  ReleaseDC(window, source);
  return shot;
}

constexpr int kMix = 13, kTiming = 1;
constexpr int kMixLeft = 516, kMixTop = 295, kKnobSize = 104;  // rkMix's box
constexpr int kTimingX = 25 + 52, kTimingY = 295 + 52;         // rkTiming's centre

// Whether any pixel of rkMix's box differs between two captures of the editor.
bool MixKnobDiffers(const TBitmap& before, const TBitmap& after) {
  for (int y = kMixTop; y < kMixTop + kKnobSize; ++y)
    for (int x = kMixLeft; x < kMixLeft + kKnobSize; ++x)
      if (before.Pixel(x, y) != after.Pixel(x, y)) return true;
  return false;
}

// What the editor shows once its pending paints are done.
TBitmap PaintedScreenshot(HWND editor) {
  PumpWindowMessages();
  UpdateWindow(editor);
  return Screenshot(editor);
}

// A host change (from another thread, as automation comes from the audio thread) made
// while the user drags Timing: the release writes the form back, Mix must keep the host's
// value and the Mix knob must show it at the next idle.
void CheckHostChangeDuringDrag(AEffect* effect, HWND editor) {
  // The Mix knob starts far from the host's coming 0.2, so that its move shows.
  effect->setParameter(effect, kMix, 0.7f);
  effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0);
  const float timingBefore = effect->getParameter(effect, kTiming);
  SendMessageW(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(kTimingX, kTimingY - 30));
  SendMessageW(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(kTimingX + 30, kTimingY));
  const TBitmap beforeHostChange = PaintedScreenshot(editor);
  std::thread automation([effect] { effect->setParameter(effect, kMix, 0.2f); });
  automation.join();
  SendMessageW(editor, WM_LBUTTONUP, 0, MAKELPARAM(kTimingX + 30, kTimingY));
  Check(effect->getParameter(effect, kMix) == 0.2f, "the release overwrote the host's Mix");
  Check(effect->getParameter(effect, kTiming) != timingBefore, "Timing unchanged by the drag");

  effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0);
  const TBitmap afterIdle = PaintedScreenshot(editor);
  Check(effect->getParameter(effect, kMix) == 0.2f, "the idle overwrote the host's Mix");
  Check(MixKnobDiffers(beforeHostChange, afterIdle), "the Mix knob does not show the host's value");
}

// An open from a second thread, with a window of its own, while the editor is open on
// this one: refused, the editor stays in the host's window, and this thread keeps the GUI
// role (a host change made here moves the knob at this thread's next idle).
void CheckOpenFromSecondThread(AEffect* effect, HWND hostWindow, HWND editor) {
  intptr_t strayOpen = -1;
  bool strayWindowGotChild = false;
  std::atomic<bool> strayDone{false};
  std::thread stray([&] {
    HWND strayWindow = MakeTopLevel();
    strayOpen = effect->dispatcher(effect, effEditOpen, 0, 0, strayWindow, 0);
    effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0);
    PumpWindowMessages();
    strayWindowGotChild = GetWindow(strayWindow, GW_CHILD) != nullptr;
    DestroyWindow(strayWindow);
    strayDone = true;
  });
  // This thread keeps serving its windows meanwhile, as a host's user-interface thread
  // does: a message the second thread sends to the editor's window is answered.
  while (!strayDone) {
    PumpWindowMessages();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  }
  stray.join();
  Check(strayOpen == 0, "an open from a second thread while open was accepted");
  Check(!strayWindowGotChild, "the second thread's window received the editor");
  Check(GetParent(editor) == hostWindow && IsWindowVisible(editor),
        "the editor left the host's window after the second thread's open");

  const TBitmap before = PaintedScreenshot(editor);
  effect->setParameter(effect, kMix, 0.3f);
  effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0);
  const TBitmap after = PaintedScreenshot(editor);
  Check(effect->getParameter(effect, kMix) == 0.3f, "Mix not 0.3 after the host's change");
  Check(MixKnobDiffers(before, after), "the Mix knob stood still after the second thread's open");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: wineeditorhost PLUGIN.dll SCREENSHOT.png\n");
    return 2;
  }
  HMODULE library = LoadLibraryA(argv[1]);
  if (!library) return std::fprintf(stderr, "LoadLibrary failed\n"), 1;
  auto entry = reinterpret_cast<AEffect* (*)(audioMasterCallback)>(
      reinterpret_cast<void*>(GetProcAddress(library, "main")));
  AEffect* effect = entry ? entry(HostCallback) : nullptr;
  if (!effect) return std::fprintf(stderr, "no effect\n"), 1;
  Check(effect->flags & effFlagsHasEditor, "no editor flag");

  ERect* rect = nullptr;
  Check(effect->dispatcher(effect, effEditGetRect, 0, 0, &rect, 0) == 1 && rect, "getRect");
  if (rect)
    Check(rect->top == 0 && rect->left == 0 && rect->bottom == kHeight && rect->right == kWidth,
          "rectangle not 0, 0, 423, 828");

  HWND window = MakeTopLevel();
  Check(effect->dispatcher(effect, effEditOpen, 0, 0, window, 0) == 1, "open");
  PumpMessages(effect);
  HWND editor = GetWindow(window, GW_CHILD);
  Check(editor != nullptr, "no child window");
  if (editor) {
    RECT client;
    GetClientRect(editor, &client);
    Check(client.right == kWidth && client.bottom == kHeight, "child size");
    POINT inside{kWidth / 2, kHeight / 2};
    ClientToScreen(editor, &inside);
    Check(WindowFromPoint(inside) == editor, "the mouse goes through the editor window");

    const int cx = 704 + 52, cy = 295 + 52;  // rkGain's centre
    const float before = effect->getParameter(effect, 20);
    SendMessageW(editor, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(cx, cy - 30));
    SendMessageW(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx + 21, cy - 21));
    SendMessageW(editor, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(cx + 30, cy));
    Check(effect->getParameter(effect, 20) == before, "Gain changed during the drag");
    SendMessageW(editor, WM_LBUTTONUP, 0, MAKELPARAM(cx + 30, cy));
    Check(effect->getParameter(effect, 20) != before, "Gain unchanged after the release");

    Click(editor, WM_LBUTTONDOWN, WM_LBUTTONUP, 249 + 20, 325 + 24);  // rbSectionC
    Check(effect->getParameter(effect, 10) == 0.5f, "Section C not selected");

    const float mixBefore = effect->getParameter(effect, 13);
    DragAndPaintUnmasked(editor, 516 + 52, 295 + 52);  // rkMix's centre
    Check(effect->getParameter(effect, 13) != mixBefore, "Mix unchanged by the unmasked drag");

    PumpMessages(effect);
    InvalidateRect(editor, nullptr, FALSE);
    UpdateWindow(editor);
    const TBitmap shot = Screenshot(editor);
    Check(shot.Pixel(10, 10) != shot.Pixel(cx, cy), "window shows one colour");
    Check(SavePng(shot, argv[2]), "screenshot not saved");

    CheckHostChangeDuringDrag(effect, editor);
    CheckOpenFromSecondThread(effect, window, editor);
  }

  for (int cycle = 0; cycle < 50; ++cycle) {
    effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0);
    Check(effect->dispatcher(effect, effEditOpen, 0, 0, window, 0) == 1, "reopen");
  }
  Check(effect->dispatcher(effect, effEditOpen, 0, 0, nullptr, 0) == 0, "null parent opened");
  // The host's window goes first, then the effect with its editor still open.
  DestroyWindow(window);
  PumpMessages(effect, 3);
  effect->dispatcher(effect, effEditClose, 0, 0, nullptr, 0);
  effect->dispatcher(effect, effClose, 0, 0, nullptr, 0);
  FreeLibrary(library);
  if (failures == 0) std::printf("wine editor host: all checks hold\n");
  return failures == 0 ? 0 : 1;
}
