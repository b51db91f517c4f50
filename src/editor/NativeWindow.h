// What the editor needs from the windowing system: a child window of the host's window
// that shows the form's back buffer and feeds it the mouse, and the screen's resolution.
// Implemented once per OS in src/platform; the editor runs without one (headless).
#pragma once

#include <memory>

namespace vm {

class TForm;

class tNativeWindow {
 public:
  virtual ~tNativeWindow() = default;
  // Shows the form in a child window of `parent` at left 0, top 0, the form's client
  // size: creates the window the first time, re-parents it afterwards. False when the
  // parent cannot take a child (the form then stays hidden).
  virtual bool Attach(void* parent) = 0;
  // Hides the window and takes it away from the host's window; it stays alive.
  virtual void Detach() = 0;
  // The parent given to the last successful Attach, or null after Detach.
  virtual void* ParentWindow() const = 0;
  // Handles the window's pending events and repaints what the form invalidated. Called
  // on the GUI thread from the host's idle; on systems whose host loop delivers the
  // window's messages itself it only repaints.
  virtual void Pump() = 0;
  // The window's own handle (an X11 window id) once it exists, else null: what a host
  // that embeds the window by its handle is given.
  virtual void* NativeHandle() const { return nullptr; }
};

// The windowing system as the editor sees it.
struct tPlatform {
  int (*PixelsPerInch)();                                  // of the screen, 96 when unknown
  std::unique_ptr<tNativeWindow> (*CreateWindow)(TForm& form);  // not yet shown
};

}  // namespace vm
