#include "graphics/Canvas.h"

#include <cmath>
#include <cstdlib>
#include <numbers>

namespace vm {

TCanvas::TCanvas(TBitmap& target) : TCanvas(target, 0, 0, Bounds(0, 0, target.Width(), target.Height())) {}

TCanvas::TCanvas(TBitmap& target, int originX, int originY, const TRect& clip)
    : target(target),
      originX(originX),
      originY(originY),
      clip(clip.Intersect(Bounds(0, 0, target.Width(), target.Height()))) {}

void TCanvas::Plot(int x, int y, TColor c) {
  x += originX;
  y += originY;
  if (clip.Contains(x, y)) target.Row(y)[x] = PixelOf(c);
}

TColor TCanvas::Pixel(int x, int y) const { return target.Colour(x + originX, y + originY); }
void TCanvas::SetPixel(int x, int y, TColor c) { Plot(x, y, c); }
void TCanvas::SetRawPixel(int x, int y, TPixel p) {
  if (clip.Contains(x + originX, y + originY)) target.SetPixel(x + originX, y + originY, p);
}

void TCanvas::MoveTo(int x, int y) { penPos = {x, y}; }

// Bresenham from the pen position to (x, y), the end point not drawn.
void TCanvas::LineTo(int x, int y) {
  int x0 = penPos.X, y0 = penPos.Y;
  const int dx = std::abs(x - x0), dy = -std::abs(y - y0);
  const int sx = x0 < x ? 1 : -1, sy = y0 < y ? 1 : -1;
  int err = dx + dy;
  while (!(x0 == x && y0 == y)) {
    if (Pen.Visible) Plot(x0, y0, Pen.Color);
    const int e2 = 2 * err;
    if (e2 >= dy) { err += dy; x0 += sx; }
    if (e2 <= dx) { err += dx; y0 += sy; }
  }
  penPos = {x, y};
}

void TCanvas::FillRect(const TRect& r) {
  if (!Brush.Visible) return;
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) Plot(x, y, Brush.Color);
}

void TCanvas::FrameRect(const TRect& r) {
  if (r.IsEmpty()) return;
  for (int x = r.Left; x < r.Right; ++x) {
    Plot(x, r.Top, Brush.Color);
    Plot(x, r.Bottom - 1, Brush.Color);
  }
  for (int y = r.Top; y < r.Bottom; ++y) {
    Plot(r.Left, y, Brush.Color);
    Plot(r.Right - 1, y, Brush.Color);
  }
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
  RoundShape(left, top, right, bottom, 0, 0);
}

void TCanvas::RoundRect(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
  RoundShape(left, top, right, bottom, ellipseWidth, ellipseHeight);
}

void TCanvas::Ellipse(int left, int top, int right, int bottom) {
  RoundShape(left, top, right, bottom, right - left, bottom - top);
}

namespace {

// Membership of pixel (x, y) (its centre) in the rectangle [l, r] x [t, b] of continuous
// coordinates whose corners are quarter ellipses of half-axes rx, ry.
struct RoundedShape {
  double l, t, r, b, rx, ry;

  bool Inside(int x, int y) const {
    const double px = x + 0.5, py = y + 0.5;
    if (px < l || px > r || py < t || py > b) return false;
    if (rx <= 0 || ry <= 0) return true;
    const double cx = px < l + rx ? l + rx : (px > r - rx ? r - rx : px);
    const double cy = py < t + ry ? t + ry : (py > b - ry ? b - ry : py);
    const double u = (px - cx) / rx, v = (py - cy) / ry;
    return u * u + v * v <= 1.0 + 1e-9;
  }
  bool OnOutline(int x, int y) const {
    return Inside(x, y) && !(Inside(x - 1, y) && Inside(x + 1, y) && Inside(x, y - 1) && Inside(x, y + 1));
  }
};

RoundedShape MakeShape(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
  if (right < left) std::swap(left, right);
  if (bottom < top) std::swap(top, bottom);
  const double rx = std::min(std::abs(ellipseWidth), right - left) / 2.0;
  const double ry = std::min(std::abs(ellipseHeight), bottom - top) / 2.0;
  return {double(left), double(top), double(right), double(bottom), rx, ry};
}

}  // namespace

void TCanvas::RoundShape(int left, int top, int right, int bottom, int ellipseWidth, int ellipseHeight) {
  const RoundedShape shape = MakeShape(left, top, right, bottom, ellipseWidth, ellipseHeight);
  const TRect area = TRect{std::min(left, right), std::min(top, bottom), std::max(left, right),
                           std::max(top, bottom)}
                         .Intersect(ClipRect());
  for (int y = area.Top; y < area.Bottom; ++y)
    for (int x = area.Left; x < area.Right; ++x) {
      if (!shape.Inside(x, y)) continue;
      if (Pen.Visible && shape.OnOutline(x, y))
        Plot(x, y, Pen.Color);
      else if (Brush.Visible)
        Plot(x, y, Brush.Color);
    }
}

void TCanvas::Arc(int left, int top, int right, int bottom, int x1, int y1, int x2, int y2) {
  if (!Pen.Visible) return;
  const RoundedShape shape = MakeShape(left, top, right, bottom, right - left, bottom - top);
  const double mx = (shape.l + shape.r) / 2, my = (shape.t + shape.b) / 2;
  constexpr double kTurn = 2 * std::numbers::pi;
  auto angleOf = [&](double px, double py) {
    const double a = std::atan2(my - py, px - mx);  // screen y grows downwards
    return a < 0 ? a + kTurn : a;
  };
  const double start = angleOf(x1, y1);
  double sweep = angleOf(x2, y2) - start;
  if (sweep <= 0) sweep += kTurn;
  const TRect area = TRect{int(shape.l), int(shape.t), int(shape.r), int(shape.b)}.Intersect(ClipRect());
  for (int y = area.Top; y < area.Bottom; ++y)
    for (int x = area.Left; x < area.Right; ++x) {
      if (!shape.OnOutline(x, y)) continue;
      double rel = angleOf(x + 0.5, y + 0.5) - start;
      if (rel < 0) rel += kTurn;
      if (rel <= sweep + 1e-9) Plot(x, y, Pen.Color);
    }
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  DrawText(target, Font, x + originX, y + originY, text, Font.Color, clip);
}
int TCanvas::TextWidth(const std::string& text) const { return vm::TextWidth(Font, text); }
int TCanvas::TextHeight(const std::string&) const { return vm::TextHeight(Font); }

void TCanvas::Draw(int x, int y, const TBitmap& bitmap) { bitmap.DrawTo(target, x + originX, y + originY, clip); }

void TCanvas::DrawTransparent(int x, int y, const TBitmap& bitmap, TColor key) {
  bitmap.DrawTransparentTo(target, x + originX, y + originY, key, clip);
}

void TCanvas::StretchDraw(const TRect& r, const TBitmap& bitmap) {
  bitmap.StretchTo(target, r.Offset(originX, originY), clip);
}

void TCanvas::CopyFrom(int x, int y, const TBitmap& bitmap) { bitmap.CopyTo(target, x + originX, y + originY, clip); }

}  // namespace vm
