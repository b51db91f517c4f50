#include "editor/Display.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/Numeric.h"
#include "engine/VoiceTables.h"

namespace vm {
namespace {

struct tMarkerColours {
  TColor Outline;
  TColor Fill;
};

constexpr TColor kGuideColour = RGB(0, 128, 0);  // centre line, base line and range rings
constexpr tMarkerColours kUnisonColours{RGB(0, 224, 0), RGB(0, 160, 0)};    // green
constexpr tMarkerColours kBassColours{RGB(0, 0, 255), RGB(0, 0, 192)};      // blue
constexpr tMarkerColours kAltoColours{RGB(255, 0, 255), RGB(192, 0, 192)};  // magenta
constexpr tMarkerColours kDryColours{RGB(255, 255, 255), RGB(192, 192, 192)};
constexpr TColor kScreenColour = clBlack;  // under the border picture, should it not cover

// From this mix on the output counts as fully wet and the dry marker is left out.
constexpr float kDryShownBelowMix = 0.97f;

// Distance 0 sits on the inner ring's scale (0.2 of the outer one), 1 on the outer ring.
constexpr double kInnerScale = 0.2;
constexpr double kScaleSpan = 0.8;

// Marker half-sizes in pixels: the rounded frame is 6 by 4, its centre 4 by 2.
constexpr int kFrameHalfWidth = 3;
constexpr int kFrameHalfHeight = 2;
constexpr int kFrameCorner = 3;  // corner ellipse, 3 by 3
constexpr int kCentreHalfWidth = 2;
constexpr int kCentreHalfHeight = 1;

// The marker area inside the full picture: markers stay clear of the border's frame.
constexpr int kAreaInsetLeft = 4;
constexpr int kAreaInsetTop = 7;
constexpr int kAreaInsetRight = 4;
constexpr int kAreaInsetBottom = 5;

// Range rings at 0, half and full distance.
constexpr float kRingDistances[] = {0.0f, 0.5f, 1.0f};

// The stereo placement of the voices: the Focus range [Base, Base + Span] of 0..1.
struct tPlacement {
  float Base = 0;
  float Span = 0;
};

tPlacement PlacementOf(const tDisplayValues& values) {
  const float lo = std::max(1.0f - values.Balance - 0.5f * values.Focus, 0.0f);
  const float hi = std::min(1.0f - values.Balance + 0.5f * values.Focus, 1.0f);
  return {lo, hi - lo};
}

int32_t VoiceCount(float clones) {
  return std::clamp(nearest(double(clones) * (kMaxClones - 1)) + 1, 1, kMaxClones);
}

// Section 4 (reachable from a host value) reads as order A.
int32_t OrderOf(int32_t section) { return ((section % 4) + 4) % 4; }

tMarkerColours VoiceColours(int32_t split, int32_t voice) {
  const bool even = voice % 2 == 0;
  switch (split) {
    case 1: return kBassColours;
    case 2: return kAltoColours;
    case 3: return even ? kBassColours : kUnisonColours;
    case 4: return even ? kUnisonColours : kAltoColours;
    case 5: {
      constexpr tMarkerColours byThirds[] = {kBassColours, kUnisonColours, kAltoColours};
      return byThirds[voice % 3];
    }
    default: return kUnisonColours;
  }
}

// The engine's stereo place of a voice, 0 left .. 1 right: the voice's speed as a
// percentage, rotated by a quarter per order, mirrored for all voices of a pair or
// solo and for the even voices of a larger ensemble, then squeezed into the Focus range.
float VoicePosition(int32_t voice, int32_t order, int32_t count, const tDisplayValues& values,
                    const tPlacement& placement) {
  const int32_t percent = (nearest(100.0 * speedTable[voice]) + 25 * order) % 100;
  float p = static_cast<float>(percent * 0.01);
  if (count <= 2 || voice % 2 == 0) p = 1.0f - p;
  p = (p - 0.5f) * values.Focus + 0.5f;
  p = p * placement.Span + placement.Base;
  return 1.0f - p;
}

// Voice delay as a share 0..1 of the Timing span.
float VoiceDistance(int32_t voice, int32_t order, float timing) {
  const int32_t slot = sectionOrder[order][voice];
  return static_cast<float>(timingTable[slot] * double(timing) / 1000.0);
}

void DrawGuides(TCanvas& canvas, const TRect& full) {
  canvas.Pen.Color = kGuideColour;
  const int cx = full.Left + full.Width() / 2;
  canvas.MoveTo(cx, full.Top);
  canvas.LineTo(cx, full.Bottom);
  canvas.MoveTo(full.Left, full.Bottom - 1);
  canvas.LineTo(full.Right, full.Bottom - 1);
  // Upper halves of ellipses centred on the listener at the bottom centre.
  for (const float distance : kRingDistances) {
    const float scale = static_cast<float>(kScaleSpan) * distance + static_cast<float>(kInnerScale);
    const int a = nearest(double(full.Width() / 2) * scale);
    const int c = nearest(double(full.Height()) * scale);
    canvas.Arc(cx - a, full.Bottom - c, cx + a, full.Bottom + c, cx + a, full.Bottom, cx - a,
               full.Bottom);
  }
}

void DrawVoices(TCanvas& canvas, const TRect& area, const tDisplayValues& values,
                const tPlacement& placement) {
  const int32_t count = VoiceCount(values.Clones);
  const int32_t order = OrderOf(values.Section);
  for (int32_t voice = 0; voice < count; ++voice) {
    const tMarkerColours colours = VoiceColours(values.Split, voice);
    DrawMarker(canvas, area, colours.Outline, VoiceDistance(voice, order, values.Timing),
               VoicePosition(voice, order, count, values, placement), colours.Fill);
  }
}

}  // namespace

TPoint MarkerCentre(const TRect& area, float distance, float position) {
  const double scale = kScaleSpan * distance + kInnerScale;
  const double angle = (double(position) - 0.5) * std::numbers::pi;  // 0 left, up, 1 right
  const int half = area.Width() / 2;
  const int height = area.Height();
  return {area.Left + half + nearest(std::sin(angle) * half * scale),
          area.Bottom - nearest(std::cos(angle) * height * scale)};
}

void DrawMarker(TCanvas& canvas, const TRect& area, TColor outline, float distance,
                float position, TColor fill) {
  const TPoint centre = MarkerCentre(area, distance, position);
  canvas.Brush.Color = clBlack;
  canvas.Pen.Color = outline;
  canvas.RoundRect(centre.X - kFrameHalfWidth, centre.Y - kFrameHalfHeight,
                   centre.X + kFrameHalfWidth, centre.Y + kFrameHalfHeight, kFrameCorner,
                   kFrameCorner);
  canvas.Brush.Color = fill;
  canvas.Pen.Color = fill;
  canvas.Rectangle(centre.X - kCentreHalfWidth, centre.Y - kCentreHalfHeight,
                   centre.X + kCentreHalfWidth, centre.Y + kCentreHalfHeight);
}

void RenderDisplay(TBitmap& bitmap, int width, int height, const TBitmap& border,
                   const TRect& borderRect, const tDisplayValues& values) {
  bitmap.SetSize(width, height, kScreenColour);
  // Nothing of the previous picture may show through a transparent border.
  bitmap.Fill(kScreenColour);
  TCanvas canvas(bitmap);
  canvas.Pen = TPen{};
  canvas.Brush = TBrush{};
  canvas.StretchDraw(borderRect, border);

  const TRect full{0, 0, width, height};
  DrawGuides(canvas, full);

  const TRect area{full.Left + kAreaInsetLeft, full.Top + kAreaInsetTop,
                   full.Right - kAreaInsetRight, full.Bottom - kAreaInsetBottom};
  const tPlacement placement = PlacementOf(values);
  DrawVoices(canvas, area, values, placement);

  // The dry signal sits at the middle of the voices' stereo range, drawn over them.
  if (values.Mix < kDryShownBelowMix)
    DrawMarker(canvas, area, kDryColours.Outline, values.DryDelay,
               1.0f - (0.5f * placement.Span + placement.Base), kDryColours.Fill);
}

}  // namespace vm
