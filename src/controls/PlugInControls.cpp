#include "controls/PlugInControls.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "analysis/Numeric.h"
#include "analysis/Random.h"

namespace vm {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kLabelStretch = 1.03;  // labels sit on a slightly wider ring than ticks
constexpr double kDisabledDotShade = 0.3;  // brightness of a disabled knob's dot

bool IsNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

bool SameColour(TPixel p, TColor c) { return ColourOf(p) == c; }

// Channel-wise a + trunc((b - a) * f), truncating towards zero.
TColor BlendTruncated(TColor a, TColor b, double f) {
  auto channel = [f](int ca, int cb) { return ca + truncated((cb - ca) * f); };
  return RGB(channel(GetR(a), GetR(b)), channel(GetG(a), GetG(b)), channel(GetB(a), GetB(b)));
}

}  // namespace

// ---- TRubberKnob ------------------------------------------------------------------------

TRubberKnob::TRubberKnob() : dotLayer(std::make_unique<TImage>()) {
  SetBounds(0, 0, 100, 100);
  std::vector<std::string> numbers;
  for (int k = 0; k <= 10; ++k) numbers.push_back(std::to_string(k));
  labels.Assign(numbers);
  labels.OnChange = [this] {
    if (ready) InvalidateComposite();
  };
  dotLayer->SetEnabled(false);  // never takes the mouse: the knob below gets it
  dotLayer->SetTransparent(true);
  dotLayer->SetVisible(false);
  dotLayer->SetBounds(0, 0, 0, 0);
  ready = true;
}

TRubberKnob::~TRubberKnob() {
  ready = false;
  MarkDestroying();
  labels.OnChange = nullptr;
}

void TRubberKnob::SetParent(TForm* form) {
  TControl::SetParent(form);
  dotLayer->SetParent(form);
}

void TRubberKnob::InvalidateComposite() {
  if (Loading() || Destroying()) return;
  compositeValid = false;
  Invalidate();
}

void TRubberKnob::SetMainImage(TImage* image) { Store(mainImage, image); }

void TRubberKnob::SetDisabledImage(TImage* image) {
  disabledImage = image;
  if (!Enabled()) InvalidateComposite();
}

void TRubberKnob::SetShimmer(int k, TImage* image) {
  if (k < 1 || k > 4) return;
  shimmerCount = 0;  // no shimmer until the composite collects them again
  Store(shimmerImages[static_cast<size_t>(k - 1)], image);
}

void TRubberKnob::SetLabels(const std::vector<std::string>& texts) {
  labels.Assign(texts);
  InvalidateComposite();
}

void TRubberKnob::SetDotImage(TImage* image) {
  dotImage = image;
  if (image != nullptr) {
    dotLayer->SetBounds(dotLayer->Left(), dotLayer->Top(), image->Width(), image->Height());
    ShowDotPicture();
    dotLayer->SetVisible(true);
  } else {
    dotLayer->SetVisible(false);
  }
  dotLayer->SetTransparent(true);
  SetValue(0);
}

void TRubberKnob::SetValue(float v) {
  value = v;
  if (dotImage != nullptr) PlaceDot();
}

void TRubberKnob::EnabledChanged() {
  compositeValid = false;
  Repaint();
  if (dotImage != nullptr) ShowDotPicture();
  dotLayer->Repaint();
}

// A light dot is lost on the pale face of a disabled knob: there the dot layer shows the
// dot darkened to kDisabledDotShade of its brightness, edges and transparency unchanged,
// so the position stays readable while the face says "disabled".
void TRubberKnob::ShowDotPicture() {
  if (Enabled()) {
    dotLayer->SetPicture(dotImage->Picture);
    return;
  }
  TBitmap dark = dotImage->Picture;
  const TColor key = dotLayer->Picture.TransparentColor;  // stays: it is not drawn
  for (int y = 0; y < dark.Height(); ++y)
    for (int x = 0; x < dark.Width(); ++x) {
      const TPixel p = dark.Pixel(x, y);
      const TColor c = ColourOf(p);
      if (c == key) continue;
      auto shade = [](int channel) { return nearest(channel * kDisabledDotShade); };
      dark.SetPixel(x, y, PixelOf(RGB(shade(GetR(c)), shade(GetG(c)), shade(GetB(c))), AlphaOf(p)));
    }
  dotLayer->SetPicture(dark);
}

void TRubberKnob::FontChanged() { compositeValid = false; }

// Item `index` of `count` on a ring of `radius` around the centre: the scale runs
// clockwise from the lower left to the lower right, leaving Wedge of a turn at the bottom.
TRubberKnob::TAngularPosition TRubberKnob::AngularPosition(double index, int count, int radius,
                                                           double stretch) const {
  const double steps = count >= 2 ? count - 1 : 1;  // a lone item sits at the scale's end
  const float turn = static_cast<float>(wedge / 2.0 - 0.25 + angleOffset +
                                        (1.0 - wedge) * (count - 1 - index) / steps);
  const float angle = static_cast<float>(kTwoPi * turn);
  return {centreX + nearest(std::cos(angle) * stretch * radius), centreY - nearest(std::sin(angle) * radius),
          nearest(360.0 * turn)};
}

bool TRubberKnob::PointerValue(int x, int y, float& result) const {
  const int dx = x - centreX, dy = y - centreY;
  if (dx == 0 && dy == 0) return false;
  double turn;
  if (dx == 0)
    turn = dy < 0 ? 0.25 : 0.75;
  else if (dy == 0)
    turn = dx > 0 ? 0.0 : 0.5;
  else
    turn = std::atan(-static_cast<double>(dy) / dx) / kTwoPi + (dx < 0 ? 0.5 : 0.0);
  float rel = static_cast<float>(turn) - angleOffset;
  const float start = 0.75f - wedge / 2;  // value 0, at the left edge of the gap
  const float end = wedge / 2 - 0.25f;    // value 1, at its right edge
  if (rel < end)
    rel = end;
  else if (rel > start)
    rel = start;
  float v = (rel - start) / (end - start);
  if (Quantise && ticks > 1) v = static_cast<float>(nearest((ticks - 1) * static_cast<double>(v))) / (ticks - 1);
  result = v;
  return true;
}

void TRubberKnob::PlaceDot() {
  const TAngularPosition p = AngularPosition(static_cast<double>(value) * (ticks - 1), ticks, dotRadius, 1.0);
  if (Enabled() && shimmerCount > 0 && p.X != lastDotX && p.Y != lastDotY) {
    shimmerIndex = (shimmerIndex + 1) % shimmerCount;
    TCanvas surface = GetCanvas();
    surface.Draw(shimmerX, shimmerY, shimmers[static_cast<size_t>(shimmerIndex)]->Picture);
    lastDotX = p.X;
    lastDotY = p.Y;
  }
  const int half = dotLayer->Width() / 2;
  dotLayer->SetBounds(Left() + p.X - half, Top() + p.Y - half, dotLayer->Width(), dotLayer->Height());
  dotLayer->SetVisible(true);
}

void TRubberKnob::BuildComposite() {
  composite.SetSize(Width(), Height());
  composite.Transparent = true;
  composite.TransparentColor = transColour;
  composite.Fill(transColour);
  centreX = Width() / 2;
  centreY = Height() / 2;
  DrawLabels();
  if (diameter > 0 && mainImage != nullptr && disabledImage != nullptr) CopyBody();
  DrawTicks();
  CollectShimmers();
  SetValue(value);
}

std::vector<TRubberKnob::TLabelPlacement> TRubberKnob::LabelPlacements() const {
  std::vector<TLabelPlacement> placements;
  const int n = labels.Count();
  if (n == 0) return placements;
  const TFont& font = Font();
  const std::string& first = labels[0];
  const std::string& last = labels[n - 1];
  const int widest = std::max(TextWidth(font, first), TextWidth(font, last));
  const int nudge = nearest(widest * static_cast<double>(BotLabNudge));
  const double radius = textRadius != 0 ? textRadius : 1;
  for (int i = 0; i < n; ++i) {
    if (labels[i].empty()) continue;
    const TAngularPosition p = AngularPosition(i, n, textRadius, kLabelStretch);
    int shift = 0;
    if (i == 0 && !IsNumber(labels[i])) shift += nudge;
    if (i == n - 1 && !IsNumber(labels[i])) shift -= nudge;
    placements.push_back(PlaceLabel(labels[i], p.X, p.Y, (p.X - centreX) / radius, (centreY - p.Y) / radius,
                                    shift, n));
  }
  return placements;
}

void TRubberKnob::DrawLabels() {
  const TRect all = Bounds(0, 0, composite.Width(), composite.Height());
  for (const TLabelPlacement& label : LabelPlacements()) {
    const int x = label.X, y = label.Y;
    if (doHilight) DrawTextOverKey(composite, label.Font, x - 1, y - 1, label.Text, hilight, transColour, all);
    if (doShadow) DrawTextOverKey(composite, label.Font, x + 1, y + 1, label.Text, shadow, transColour, all);
    DrawTextOverKey(composite, label.Font, x, y, label.Text, colour, transColour, all);
  }
}

// Text `text` anchored at (x, y) on the label ring, dx and dy its direction from the centre
// as fractions of the ring's radius: side labels hang off the ring outwards, labels below
// the centre rise a little.
TRubberKnob::TLabelPlacement TRubberKnob::PlaceLabel(const std::string& text, int x, int y, double dx, double dy,
                                                     int nudge, int count) const {
  TFont font = Font();
  font.Bold = text == "Off";  // the off position is named in bold
  const int w = TextWidth(font, text), h = TextHeight(font);
  const int length = static_cast<int>(text.size());
  const int charWidth = length == 1 ? nearest(w * 0.9 / length) : nearest(static_cast<double>(w) / length);
  y -= h / 2;
  const bool sideAligned = length > 2 || count % 2 == 1;
  if (dx < -0.01)
    x = sideAligned ? x - w + nearest(std::abs(dx) * charWidth) : x - w / 2;
  else if (dx > 0.01)
    x = sideAligned ? x - nearest(std::abs(dx) * charWidth) : x - w / 2;
  else
    x -= w / 2;
  if (dy < 0) y -= nearest((1 - std::abs(dy)) * 0.2 * h);  // below the centre: lift a little
  x += nudge;
  const TPoint inside = KeptInside(font, text, x, y);
  return {text, font, inside.X, inside.Y};
}

// The composite is the control's size, so ink beyond its edge would be cut off: a wide
// word beside a small scale (the Split knob's "Bass" on its left) or a nudged end label
// whose shadow reaches past the right edge ("Feminine" of the unison formants). Such a
// label moves in just far enough that its ink, with shadow and highlight, stays inside.
TPoint TRubberKnob::KeptInside(const TFont& font, const std::string& text, int x, int y) const {
  const TRect ink = TextInkBounds(font, text).Offset(x, y);
  TRect drawn = ink;
  if (doHilight) drawn = drawn.Union(ink.Offset(-1, -1));
  if (doShadow) drawn = drawn.Union(ink.Offset(1, 1));
  // The start edge is tested first: a label longer than the control keeps its start.
  auto moveIn = [](int low, int high, int limit) {
    if (low < 0) return -low;
    if (high > limit) return limit - high;
    return 0;
  };
  return {x + moveIn(drawn.Left, drawn.Right, Width()), y + moveIn(drawn.Top, drawn.Bottom, Height())};
}

void TRubberKnob::CopyBody() {
  const int a = diameter / 2;
  const int b = nearest(tickRadius / std::sqrt(2.0));
  const TBitmap& source = Enabled() ? mainImage->Picture : disabledImage->Picture;
  const TBitmap& walk = mainImage->Picture;
  for (int j = 0; j < walk.Height(); ++j)
    for (int i = 0; i < walk.Width(); ++i) {
      const int tx = centreX - a + i, ty = centreY - a + j;
      const int u = i - a, v = j - a;
      const TPixel t = composite.Pixel(tx, ty);
      const double distance = std::sqrt(static_cast<double>(u * u + v * v));
      const bool onTickRing = std::abs(u) > b && std::abs(v) > b && distance > tickRadius - 2 &&
                              distance < tickRadius + 2;
      const bool tickThere = SameColour(t, colour) || (doHilight && SameColour(t, hilight)) ||
                             (doShadow && SameColour(t, shadow));
      if (onTickRing && tickThere) continue;  // keep the tick drawn there
      const TPixel p = source.Pixel(i, j);
      if (SameColour(p, clWhite) || AlphaOf(p) == 0) continue;  // white is the picture's background
      composite.SetPixel(tx, ty, p);
    }
}

void TRubberKnob::PutBlock(int x, int y, TColor tl, TColor tr, TColor bl, TColor br) {
  composite.SetColour(x, y, tl);
  composite.SetColour(x + 1, y, tr);
  composite.SetColour(x, y + 1, bl);
  composite.SetColour(x + 1, y + 1, br);
}

void TRubberKnob::DrawTicks() {
  const TColor e = BlendTruncated(shadow, colour, 0.3);  // tick tint, 30 % from shadow to colour
  const int s = doShadow && !doHilight ? -1 : 0;
  for (int i = 0; i < ticks; ++i) {
    TAngularPosition p = AngularPosition(i, ticks, tickRadius, 1.0);
    if (p.Degrees < 0) p.Degrees += 360;
    if (i < static_cast<int>(showTicks.size()) && showTicks[static_cast<size_t>(i)] == ' ') {
      composite.SetColour(p.X, p.Y, colour);
      continue;
    }
    if (doHilight) PutBlock(p.X + s - 1, p.Y + s - 1, hilight, hilight, hilight, hilight);
    if (doShadow) PutBlock(p.X + s + 1, p.Y + s + 1, shadow, shadow, shadow, shadow);
    const int x = p.X + s, y = p.Y + s;
    if (p.Degrees > 330)
      PutBlock(x, y, e, colour, e, colour);
    else if (p.Degrees > 300)
      PutBlock(x, y, e, e, e, colour);
    else if (p.Degrees > 295)
      PutBlock(x, y, e, e, colour, colour);
    else
      PutBlock(x, y, colour, colour, colour, colour);
  }
}

void TRubberKnob::CollectShimmers() {
  shimmerCount = 0;
  for (TImage* image : shimmerImages)
    if (image != nullptr) shimmers[static_cast<size_t>(shimmerCount++)] = image;
  if (shimmerCount == 0) return;
  shimmerIndex = tRandom::RandomInt(static_cast<uint32_t>(shimmerCount));
  // All shimmers are placed by the first one's size (the form sets it whenever any is set).
  const TBitmap& first = shimmerImages[0] != nullptr ? shimmerImages[0]->Picture : shimmers[0]->Picture;
  const int odd = diameter % 2 != 0 ? 1 : 0;
  shimmerX = centreX - first.Width() / 2 + odd;
  shimmerY = centreY - first.Height() / 2 + odd;
}

void TRubberKnob::Paint(TCanvas& canvas) {
  SetFloatControl();
  if (!compositeValid) {
    BuildComposite();
    compositeValid = true;
  }
  canvas.DrawTransparent(0, 0, composite, transColour);
  if (Enabled() && shimmerCount > 0)
    canvas.Draw(shimmerX, shimmerY, shimmers[static_cast<size_t>(shimmerIndex)]->Picture);
}

void TRubberKnob::MouseDown(TMouseButton, int x, int y) {
  if (!Enabled()) return;
  dragging = true;
  MouseMove(x, y);  // a click jumps to the pressed angle
}

void TRubberKnob::MouseMove(int x, int y) {
  if (!dragging) return;
  const float old = value;
  float next;
  if (!PointerValue(x, y, next)) return;
  SetValue(next);
  if (next != old && OnChanging) OnChanging(this);
}

void TRubberKnob::MouseUp(TMouseButton, int, int) {
  dragging = false;
  if (OnChange) OnChange(this);
}

// ---- TRubberLEDButton -------------------------------------------------------------------

TRubberLEDButton::TRubberLEDButton() { SetBounds(0, 0, 40, 40); }

void TRubberLEDButton::SetButtonState(TRubberLEDButtonState state) {
  buttonState = state;
  ledOn = state == TRubberLEDButtonState::rlbUpOn || state == TRubberLEDButtonState::rlbDownOn;
  Repaint();
}

TImage* TRubberLEDButton::CurrentPicture() const {
  switch (buttonState) {
    case TRubberLEDButtonState::rlbUpOff:
      return !Enabled() && DisabledOff != nullptr ? DisabledOff : upOff;
    case TRubberLEDButtonState::rlbDownOff:
      return downOff;
    case TRubberLEDButtonState::rlbUpOn:
      return !Enabled() && DisabledOn != nullptr ? DisabledOn : upOn;
    case TRubberLEDButtonState::rlbDownOn:
      return downOn;
  }
  return nullptr;
}

void TRubberLEDButton::Paint(TCanvas& canvas) {
  if (TImage* picture = CurrentPicture()) canvas.Draw(0, 0, picture->Picture);
}

void TRubberLEDButton::ToggleLamp() {
  ledOn = !ledOn;
  if (OnLEDChange) OnLEDChange(this);
}

void TRubberLEDButton::MouseDown(TMouseButton, int, int) {
  if (QuickChange) ToggleLamp();
  SetButtonState(ledOn ? TRubberLEDButtonState::rlbDownOn : TRubberLEDButtonState::rlbDownOff);
}

void TRubberLEDButton::MouseUp(TMouseButton, int, int) {
  if (!QuickChange) ToggleLamp();
  SetButtonState(ledOn ? TRubberLEDButtonState::rlbUpOn : TRubberLEDButtonState::rlbUpOff);
  if (OnChange) OnChange(this);
}

// ---- TDividerLabel ----------------------------------------------------------------------

void TDividerLabel::Paint(TCanvas& canvas) {
  if (!Transparent) {
    canvas.Brush.Color = Color;
    canvas.FillRect(Bounds(0, 0, Width(), Height()));
  }
  int penX = TextStart();
  for (char c : DisplayText()) {
    const std::string glyph(1, c);
    if (c == ':' || c == '.')
      DrawDots(canvas, penX, glyph, c == ':' ? 2 : 1);
    else
      canvas.TextOut(penX, 0, glyph);
    penX += canvas.TextWidth(glyph);
  }
}

// The glyph's ink box holds its dots: as wide as one dot, the lowest dot at its bottom, a
// colon's upper one at its top. The dot's side is the box's width (the font's stroke,
// rounded out to whole pixels), at most a third of a colon's height so its dots stay apart.
void TDividerLabel::DrawDots(TCanvas& canvas, int penX, const std::string& glyph, int dots) {
  const TRect ink = TextInkBounds(Font(), glyph).Offset(penX, 0);
  if (ink.IsEmpty()) return;
  const int side = std::max(1, dots == 2 ? std::min(ink.Width(), ink.Height() / 3) : ink.Width());
  canvas.Brush.Color = Font().Color;
  canvas.FillRect(Bounds(ink.Left, ink.Bottom - side, side, side));
  if (dots == 2) canvas.FillRect(Bounds(ink.Left, ink.Top, side, side));
}

// ---- TBrushedMetal ----------------------------------------------------------------------

TBrushedMetal::TBrushedMetal() { SetBounds(0, 0, 200, 100); }

// A new streak colour: b in 1..101 keeps the colour (1), or picks the four greys in the
// proportions 9 : 43 : 43 : 5.
TColor TBrushedMetal::PickStreak(TColor current) const {
  const int b = 1 + tRandom::RandomInt(101);
  if (b == 1) return current;
  if (b <= 10) return light;
  if (b <= 53) return medLight;
  if (b <= 96) return medDark;
  return dark;
}

void TBrushedMetal::BuildImage() {
  const int w = Width(), h = Height();
  cachedImage.SetSize(w, h);
  TColor current = light;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int r = tRandom::RandomInt(15);  // a streak ends on 1 pixel in 15
      if (r == 0 || x == 0) current = PickStreak(current);
      const int s = nearest((static_cast<double>(x) / w + static_cast<double>(y) / h) * quantise) * shading;
      auto darken = [s](int c) { return c > s ? c - s : 0; };
      cachedImage.SetColour(x, y, RGB(darken(GetR(current)), darken(GetG(current)), darken(GetB(current))));
    }
  imageStale = false;
}

void TBrushedMetal::Paint(TCanvas& canvas) {
  SetFloatControl();
  if (imageStale) BuildImage();
  canvas.CopyFrom(0, 0, cachedImage);
  if (OnPaint) OnPaint(nullptr);
}

// ---- TPaintedPanel ----------------------------------------------------------------------

TPaintedPanel::TPaintedPanel() { SetBounds(0, 0, 200, 100); }

TColor TPaintedPanel::InteriorColour(int x, int y, int ox, int oy, int ew, int eh) const {
  const double f = static_cast<double>(x + ox) / ew + static_cast<double>(y + oy) / eh;
  const TColor base = BlendTruncated(fill1, fill2, f / 2);
  int channels[3] = {GetR(base), GetG(base), GetB(base)};
  for (int& c : channels) {
    // Grain of Texture steps centred on zero; a negative amplitude counts as none.
    const int d = texture > 0 ? tRandom::RandomInt(static_cast<uint32_t>(texture)) - texture / 2 : 0;
    if (c + d >= 0 && c + d <= 255) c += d;
  }
  return RGB(channels[0], channels[1], channels[2]);
}

void TPaintedPanel::BuildImage() {
  const int w = Width(), h = Height();
  cachedImage.SetSize(w, h);
  cachedImage.Fill(clWhite);
  TCanvas canvas(cachedImage);
  canvas.Pen.Color = clBlue;   // marks the outline
  canvas.Brush.Color = clRed;  // marks the interior
  canvas.RoundRect(0, 0, w, h, rounding, rounding);
  int ox = 0, oy = 0, ew = w, eh = h;
  if (shadeInParent && Parent() != nullptr) {
    ox = Left();
    oy = Top();
    ew = Parent()->ClientWidth();
    eh = Parent()->ClientHeight();
  }
  ew = std::max(ew, 1);  // an empty frame would divide by zero
  eh = std::max(eh, 1);
  const int halfRounding = rounding / 2;
  for (int x = 0; x < w; ++x)
    for (int y = 0; y < h; ++y) {
      const TColor marker = cachedImage.Colour(x, y);
      if (marker == clRed)
        cachedImage.SetColour(x, y, InteriorColour(x, y, ox, oy, ew, eh));
      else if (marker == clBlue)
        cachedImage.SetColour(x, y, x < w - halfRounding && y < h - halfRounding ? border1 : border2);
    }
  cachedImage.Transparent = true;
  cachedImage.TransparentColor = clWhite;
  imageStale = false;
}

void TPaintedPanel::Paint(TCanvas& canvas) {
  SetFloatControl();
  if (imageStale) BuildImage();
  canvas.DrawTransparent(0, 0, cachedImage, clWhite);
}

}  // namespace vm
