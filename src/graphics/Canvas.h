// A drawing surface on a bitmap with the platform's pixel conventions: lines drawn
// move-to/line-to without their end point; rectangles covering left..right-1 and
// top..bottom-1; elliptical arcs counter-clockwise from a start to an end point.
// An origin and a clip rectangle let a control draw in its own coordinates.
#pragma once

#include <string>

#include "graphics/Bitmap.h"
#include "graphics/Font.h"

namespace vm {

struct TPen {
  TColor Color = clBlack;
  bool Visible = true;  // false: no outline (the platform's clear pen)
};

struct TBrush {
  TColor Color = clWhite;
  bool Visible = true;  // false: no fill (the platform's clear brush)
};

class TCanvas {
 public:
  // Draws on `target`, with (0, 0) at (originX, originY) of the bitmap, clipped to `clip`
  // (bitmap coordinates; defaults to the whole bitmap).
  explicit TCanvas(TBitmap& target);
  TCanvas(TBitmap& target, int originX, int originY, const TRect& clip);

  TPen Pen;
  TBrush Brush;
  TFont Font;

  TBitmap& Target() { return target; }
  // The clip rectangle in the canvas' own coordinates.
  TRect ClipRect() const { return clip.Offset(-originX, -originY); }

  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor c);
  void SetRawPixel(int x, int y, TPixel p);  // with alpha, no blending

  void MoveTo(int x, int y);
  void LineTo(int x, int y);  // pen from the current point to (x, y), (x, y) left out
  TPoint PenPos() const { return penPos; }

  void FillRect(const TRect& r);                                   // brush only
  void FrameRect(const TRect& r);                                  // brush colour, 1 pixel
  void Rectangle(int left, int top, int right, int bottom);        // pen outline, brush inside
  void RoundRect(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);
  void Ellipse(int left, int top, int right, int bottom);
  // Outline of the ellipse in the box, counter-clockwise (y up on screen) from the ray
  // towards (x1, y1) to the ray towards (x2, y2); equal rays draw the whole ellipse.
  void Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2);

  void TextOut(int x, int y, const std::string& text);  // Font, transparent background
  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;

  void Draw(int x, int y, const TBitmap& bitmap);            // bitmap's own transparency
  void DrawTransparent(int x, int y, const TBitmap& bitmap, TColor key);
  void StretchDraw(const TRect& r, const TBitmap& bitmap);   // bitmap's own transparency
  void CopyFrom(int x, int y, const TBitmap& bitmap);        // every pixel, as it stands

 private:
  void Plot(int x, int y, TColor c);  // canvas coordinates, clipped
  // Pixels of a rounded shape: rounded rectangle with corner radii rx, ry (in half-pixel
  // units), outline with pen, interior with brush.
  void RoundShape(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight);

  TBitmap& target;
  int originX = 0;
  int originY = 0;
  TRect clip;
  TPoint penPos;
};

}  // namespace vm
