// The ensemble seen from above: the listener at the bottom centre, three range rings, one
// marker per voice at the angle of its stereo place and the distance of its delay,
// coloured by the section it sings in, and a white marker for the dry signal. Computed
// from the form's values with the engine's own voice tables, never from the engine.
#pragma once

#include <cstdint>

#include "graphics/Bitmap.h"
#include "graphics/Canvas.h"

namespace vm {

// The form's values the picture depends on (the form's conventions).
struct tDisplayValues {
  float Clones = 0;     // knob position; voices = Round(Clones * 31) + 1
  float Timing = 0;
  int32_t Split = 0;    // 0..5
  int32_t Section = 0;  // 0..4; 4 draws as 0
  float Focus = 0;
  float Balance = 0;
  float Mix = 0;
  float DryDelay = 0;
};

// Renders the whole picture into `bitmap`, resized to width by height. `border` is the
// display-border picture, stretched into `borderRect` (in the bitmap's coordinates: the
// border image's place minus the paint box's place).
void RenderDisplay(TBitmap& bitmap, int width, int height, const TBitmap& border,
                   const TRect& borderRect, const tDisplayValues& values);

// Draws one marker in `area` at `distance` 0..1 (inner to outer ring) and `position`
// 0..1 (left, up, right): black rounded frame in `outline`, centre in `fill`.
void DrawMarker(TCanvas& canvas, const TRect& area, TColor outline, float distance,
                float position, TColor fill);

// The centre of that marker, for tests and the drawing alike.
TPoint MarkerCentre(const TRect& area, float distance, float position);

}  // namespace vm
