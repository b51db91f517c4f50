// What the jalv test needs from the X server, one step per run:
//   window SECONDS             the plug-in's window (828x423, no children), printed as a number
//   shot WINDOW FILE.png       the window's pixels as a PNG; fails when they are not painted
//   press|move WINDOW KNOB DX  the pointer DX pixels right of a knob's centre (press: and button 1 down)
//   release                    button 1 up
//   peak FILE.wav              the median of the first channel's peaks over 100 ms windows
// Knob places come from the editor form's own layout (a form without a window), never
// from numbers of this file. Exit status 0 on success, 1 on failure, with a line on stderr.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <sndfile.h>

#include "editor/EditForm.h"
#include "graphics/Bitmap.h"
#include "graphics/Png.h"

// Last: Xlib defines None, Bool, Status and friends as macros.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace {

using vm::tVoicemultiplyEditForm;

int Fail(const std::string& message) {
  std::fprintf(stderr, "jalv_probe: %s\n", message.c_str());
  return 1;
}

// The first viewable window of the form's size without children, depth first.
Window FindFormWindow(Display* display, Window under) {
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, under, &root, &parent, &children, &count)) return 0;
  Window found = 0;
  for (unsigned i = 0; i < count && !found; ++i) {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display, children[i], &a) || a.map_state != IsViewable) continue;
    Window r, p, *grandChildren = nullptr;
    unsigned n = 0;
    XQueryTree(display, children[i], &r, &p, &grandChildren, &n);
    if (grandChildren) XFree(grandChildren);
    if (n == 0 && a.width == tVoicemultiplyEditForm::kClientWidth &&
        a.height == tVoicemultiplyEditForm::kClientHeight)
      found = children[i];
    else
      found = FindFormWindow(display, children[i]);
  }
  if (children) XFree(children);
  return found;
}

int FindWindow(Display* display, double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < end) {
    if (const Window w = FindFormWindow(display, DefaultRootWindow(display))) {
      std::printf("%lu\n", w);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return Fail("no 828x423 window appeared");
}

int Screenshot(Display* display, Window window, const std::string& path) {
  XWindowAttributes a;
  if (!XGetWindowAttributes(display, window, &a)) return Fail("no such window");
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(a.width),
                            static_cast<unsigned>(a.height), AllPlanes, ZPixmap);
  if (!image) return Fail("the window's pixels cannot be read");
  vm::TBitmap bitmap(a.width, a.height);
  std::set<uint32_t> colours;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x) {
      const auto rgb = static_cast<uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFFu;
      bitmap.SetPixel(x, y, 0xFF000000u | rgb);
      colours.insert(rgb);
    }
  XDestroyImage(image);
  if (!vm::SavePng(bitmap, path)) return Fail("cannot write " + path);
  std::printf("%zu colours\n", colours.size());
  // The painted form's metal, knobs and display shade through thousands of colours; a
  // window left to its background, or cleared to one colour, has one or a handful.
  constexpr size_t kPaintedColours = 256;
  return colours.size() >= kPaintedColours ? 0 : Fail("the window is not painted (too few colours)");
}

int MovePointer(Display* display, Window window, const std::string& knobName, int dx, bool press) {
  tVoicemultiplyEditForm form;
  form.PaintInvalid();  // places the knobs' dials
  const auto* knob = form.Find<vm::TRubberKnob>(knobName);
  if (!knob) return Fail("no knob named " + knobName);
  int rootX = 0, rootY = 0;
  Window child;
  if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), knob->Left() + knob->CentreX() + dx,
                             knob->Top() + knob->CentreY(), &rootX, &rootY, &child))
    return Fail("no such window");
  XTestFakeMotionEvent(display, DefaultScreen(display), rootX, rootY, CurrentTime);
  if (press) XTestFakeButtonEvent(display, 1, True, CurrentTime);
  XSync(display, False);
  return 0;
}

int Release(Display* display) {
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  XSync(display, False);
  return 0;
}

int Peak(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return Fail("cannot read " + path);
  std::vector<float> frames(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
  const sf_count_t read = sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  if (read <= 0) return Fail(path + " holds no sound");
  // The median of the peaks of 100 ms windows: each window holds two clicks, and neither a
  // period lost to a late cycle nor a stretch of garbage from an overrun moves the median.
  const sf_count_t window = std::max<sf_count_t>(1, info.samplerate / 10);
  std::vector<float> windowPeaks;
  for (sf_count_t start = 0; start + window <= read; start += window) {
    float windowPeak = 0;
    for (sf_count_t i = start; i < start + window; ++i)
      windowPeak = std::max(windowPeak, std::fabs(frames[static_cast<size_t>(i * info.channels)]));
    windowPeaks.push_back(windowPeak);
  }
  if (windowPeaks.empty()) return Fail(path + " is shorter than one window");
  std::nth_element(windowPeaks.begin(), windowPeaks.begin() + windowPeaks.size() / 2, windowPeaks.end());
  const float peak = windowPeaks[windowPeaks.size() / 2];
  std::printf("%.9g\n", static_cast<double>(peak));
  return 0;
}

int Run(Display* display, int argc, char** argv) {
  const std::string command = argv[1];
  auto window = [&] { return static_cast<Window>(std::strtoul(argv[2], nullptr, 10)); };
  if (command == "window" && argc == 3) return FindWindow(display, std::atof(argv[2]));
  if (command == "shot" && argc == 4) return Screenshot(display, window(), argv[3]);
  if ((command == "press" || command == "move") && argc == 5)
    return MovePointer(display, window(), argv[3], std::atoi(argv[4]), command == "press");
  if (command == "release" && argc == 2) return Release(display);
  return Fail("usage: window SECONDS | shot WINDOW FILE | press|move WINDOW KNOB DX | release | peak FILE");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("no command");
  if (std::string(argv[1]) == "peak" && argc == 3) return Peak(argv[2]);
  Display* display = XOpenDisplay(nullptr);
  if (!display) return Fail("no X display");
  int eventBase, errorBase, major, minor;
  if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) return Fail("no XTest");
  const int status = Run(display, argc, argv);
  XCloseDisplay(display);
  return status;
}
