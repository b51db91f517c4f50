#include "controls/Artwork.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "graphics/Canvas.h"

namespace vm::artwork {

namespace {

// A colour with coverage, channels 0..1, not premultiplied.
struct Paint {
  double r = 1, g = 1, b = 1, a = 0;
};

Paint Rgb(int r, int g, int b, double a = 1) { return {r / 255.0, g / 255.0, b / 255.0, a}; }

Paint Mix(const Paint& p, const Paint& q, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {p.r + (q.r - p.r) * t, p.g + (q.g - p.g) * t, p.b + (q.b - p.b) * t, p.a + (q.a - p.a) * t};
}

// Porter-Duff "over" of top onto bottom.
Paint Over(const Paint& top, const Paint& bottom) {
  const double a = top.a + bottom.a * (1 - top.a);
  if (a <= 0) return {1, 1, 1, 0};
  auto ch = [&](double t, double b) { return (t * top.a + b * bottom.a * (1 - top.a)) / a; };
  return {ch(top.r, bottom.r), ch(top.g, bottom.g), ch(top.b, bottom.b), a};
}

using Shader = std::function<Paint(double x, double y)>;

constexpr int kSamples = 4;  // per axis: 16 samples per pixel

// Renders a shader over a width-by-height picture, averaging premultiplied samples.
TBitmap Render(int width, int height, const Shader& shader) {
  TBitmap out(width, height, clWhite);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx) {
          const Paint p = shader(x + (sx + 0.5) / kSamples, y + (sy + 0.5) / kSamples);
          r += p.r * p.a, g += p.g * p.a, b += p.b * p.a, a += p.a;
        }
      a /= kSamples * kSamples;
      if (a < 0.5 / 255) {
        out.SetPixel(x, y, PixelOf(clWhite, 0));
        continue;
      }
      const double n = a * kSamples * kSamples;
      auto byte = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
      int R = byte(r / n), G = byte(g / n), B = byte(b / n);
      if (R == 255 && G == 255 && B == 255) B = 254;  // pure white is the key: keep it off shapes
      out.SetPixel(x, y, PixelOf(RGB(R, G, B), byte(a)));
    }
  out.Transparent = true;
  out.TransparentColor = clWhite;
  return out;
}

// Opaque result: the picture flattened onto a background colour.
TBitmap Flatten(TBitmap picture, TColor background) {
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) {
      const TPixel p = picture.Pixel(x, y);
      picture.SetPixel(x, y, BlendPixel(PixelOf(background), p, AlphaOf(p)) | 0xFF000000u);
    }
  picture.Transparent = false;
  return picture;
}

double Smooth(double edge0, double edge1, double v) {
  const double t = std::clamp((v - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

double Disc(double x, double y, double cx, double cy, double radius) {
  return std::hypot(x - cx, y - cy) <= radius ? 1.0 : 0.0;
}

// Distance outside a rounded rectangle (negative inside).
double RoundBoxDistance(double x, double y, double l, double t, double r, double b, double radius) {
  const double cx = (l + r) / 2, cy = (t + b) / 2;
  const double hx = (r - l) / 2 - radius, hy = (b - t) / 2 - radius;
  const double qx = std::abs(x - cx) - hx, qy = std::abs(y - cy) - hy;
  return std::hypot(std::max(qx, 0.0), std::max(qy, 0.0)) + std::min(std::max(qx, qy), 0.0) - radius;
}

struct KnobColours {
  Paint capLight, capDark;
};

KnobColours CapColours(TKnobShade shade, bool disabled) {
  if (disabled) return {Rgb(226, 230, 226), Rgb(170, 176, 170)};
  switch (shade) {
    case TKnobShade::Dark: return {Rgb(40, 150, 40), Rgb(0, 70, 0)};
    case TKnobShade::Light: return {Rgb(120, 230, 120), Rgb(20, 140, 20)};
    case TKnobShade::Normal: break;
  }
  return {Rgb(70, 195, 70), Rgb(0, 105, 0)};
}

constexpr double kFaceCentre = 26.0;  // the body sits at centre - Diameter div 2 = centre - 26
constexpr double kRingRadius = 25.0;
constexpr double kCapRadius = 19.5;

// The cap: a dome lit from the upper left, with a light at (hx, hy).
Paint Cap(double x, double y, double cx, double cy, const KnobColours& c, double hx, double hy) {
  const double d = std::hypot(x - hx, y - hy) / (kCapRadius * 1.7);
  Paint p = Mix(c.capLight, c.capDark, d);
  const double rim = Smooth(kCapRadius - 2.5, kCapRadius, std::hypot(x - cx, y - cy));
  return Mix(p, c.capDark, rim * 0.5);
}

}  // namespace

TBitmap KnobFace(TKnobShade shade, bool disabled) {
  const KnobColours colours = CapColours(shade, disabled);
  const double c = kFaceCentre;
  return Render(56, 56, [&](double x, double y) {
    const double r = std::hypot(x - c, y - c);
    // Soft drop shadow towards the lower right.
    const double shadowDistance = std::hypot(x - c - 2.5, y - c - 3);
    Paint out = Rgb(20, 30, 20, 0.45 * (1 - Smooth(kRingRadius - 2, kRingRadius + 2.5, shadowDistance)));
    if (r <= kRingRadius) {
      // Dark grey ring, lighter at its upper-left edge.
      const double lit = std::clamp(((c - x) + (c - y)) / (2 * kRingRadius) + 0.5, 0.0, 1.0);
      Paint ring = disabled ? Mix(Rgb(120, 120, 120), Rgb(170, 170, 170), lit) : Mix(Rgb(36, 38, 36), Rgb(96, 100, 96), lit);
      out = Over(ring, out);
    }
    if (r <= kCapRadius) out = Over(Cap(x, y, c, c, colours, c - 6, c - 7), out);
    return out;
  });
}

TBitmap KnobDot() {
  return Render(6, 6, [](double x, double y) {
    if (!Disc(x, y, 3, 3, 2.7)) return Paint{1, 1, 1, 0};
    return Mix(Rgb(250, 252, 240), Rgb(170, 190, 160), std::hypot(x - 2.4, y - 2.4) / 3);
  });
}

TBitmap Shimmer(int k) {
  // Each overlay puts the cap's highlight a little elsewhere, so flicking between them
  // reads as light moving across the rubber.
  static constexpr double kShift[4][2] = {{-6, -7}, {-3, -8}, {-8, -4}, {-5, -5}};
  const int index = std::clamp(k, 1, 4) - 1;
  const KnobColours colours = CapColours(TKnobShade::Normal, false);
  const double c = 17.5;
  return Render(36, 36, [&](double x, double y) {
    if (!Disc(x, y, c, c, kCapRadius - 1.5)) return Paint{1, 1, 1, 0};
    Paint p = Cap(x, y, c, c, colours, c + kShift[index][0], c + kShift[index][1]);
    const double glint = 1 - Smooth(0, 5, std::hypot(x - c - kShift[index][0] * 1.2, y - c - kShift[index][1] * 1.2));
    p = Mix(p, Rgb(220, 255, 220), glint * 0.6);
    p.a = 0.55;  // an overlay: the body shows through
    return p;
  });
}

TBitmap Button(TButtonPicture picture) {
  const bool down = picture == TButtonPicture::DownOn || picture == TButtonPicture::DownOff;
  const bool lit = picture == TButtonPicture::UpOn || picture == TButtonPicture::DownOn || picture == TButtonPicture::UpOnDis;
  const bool disabled = picture == TButtonPicture::UpOffDis || picture == TButtonPicture::UpOnDis;
  const int wear = picture == TButtonPicture::UpOff2 ? 1 : picture == TButtonPicture::UpOff3 ? 2
                 : picture == TButtonPicture::UpOff4 ? 3 : 0;
  const double press = down ? 1.0 : 0.0;  // a pressed key sits one pixel lower
  return Render(38, 45, [=](double x, double y) {
    const double l = 2, t = 2 + press, r = 36, b = 42 + press;
    Paint out = Rgb(0, 0, 0, 0.5 * (1 - Smooth(-1, 2.5, RoundBoxDistance(x - 1.5, y - 2 + press, l, t, r, b, 5))));
    const double d = RoundBoxDistance(x, y, l, t, r, b, 5);
    if (d > 0.0) return out;
    const double lightness = std::clamp(((r - x) + (b - y)) / ((r - l) + (b - t)), 0.0, 1.0);
    Paint key = disabled ? Mix(Rgb(200, 200, 200), Rgb(235, 235, 235), lightness)
              : down     ? Mix(Rgb(90, 92, 94), Rgb(140, 142, 146), lightness)
                         : Mix(Rgb(120, 122, 126), Rgb(200, 202, 206), lightness - wear * 0.03);
    key = Mix(key, disabled ? Rgb(250, 250, 250) : Rgb(60, 62, 64), Smooth(-2.0, 0.0, d) * 0.6);  // bevelled edge
    out = Over(key, out);
    // The lamp: a small rectangle in the upper middle.
    const double lampDistance = RoundBoxDistance(x, y, 13, 9 + press, 25, 15 + press, 1.5);
    if (lit && !disabled) {
      const double glow = 1 - Smooth(0, 6, lampDistance);
      out = Over(Rgb(255, 60, 40, glow * 0.55), out);
    }
    if (lampDistance <= 0) {
      const double centre = 1 - Smooth(0, 6, std::hypot(x - 19, y - 12 - press));
      Paint lamp = disabled ? (lit ? Mix(Rgb(235, 190, 190), Rgb(250, 225, 225), centre) : Rgb(215, 195, 195))
                 : lit      ? Mix(Rgb(230, 20, 10), Rgb(255, 235, 200), centre)
                            : Mix(Rgb(70, 10, 10), Rgb(120, 30, 30), centre);
      out = Over(lamp, out);
    }
    return out;
  });
}

TBitmap Screw() {
  return Render(12, 12, [](double x, double y) {
    const double c = 6;
    const double r = std::hypot(x - c, y - c);
    if (r > 5.6) return Paint{1, 1, 1, 0};
    const double lit = std::clamp(((c - x) + (c - y)) / 11 + 0.5, 0.0, 1.0);
    Paint head = Mix(Rgb(110, 110, 114), Rgb(235, 235, 240), lit);
    head = Mix(head, Rgb(80, 80, 84), Smooth(4.6, 5.6, r));
    // Cross slot at 30 degrees.
    const double a = std::numbers::pi / 6;
    const double u = (x - c) * std::cos(a) + (y - c) * std::sin(a), v = -(x - c) * std::sin(a) + (y - c) * std::cos(a);
    const bool slot = (std::abs(u) < 0.75 && std::abs(v) < 4) || (std::abs(v) < 0.75 && std::abs(u) < 4);
    return slot ? Rgb(50, 50, 54) : head;
  });
}

namespace {

// A black recess with a thin grey-green frame; `glare` adds the screen's blue reflection.
TBitmap FramedBlack(int width, int height, bool glare) {
  const double w = width, h = height;
  TBitmap picture = Render(width, height, [=](double x, double y) {
    const double edge = std::min({x, y, w - x, h - y});
    if (edge < 1.0) return Rgb(112, 130, 112);   // the frame
    if (edge < 2.0) return Rgb(40, 52, 40);      // its inner shade
    Paint screen = Rgb(0, 0, 0);
    if (glare) {
      const double d = std::hypot(x / w, y / h * 0.6);
      screen = Mix(Rgb(40, 60, 150), Rgb(0, 0, 0), Smooth(0.0, 0.45, d));
    }
    return screen;
  });
  return Flatten(std::move(picture), clBlack);
}

}  // namespace

TBitmap DisplayBezel() { return FramedBlack(182, 88, true); }

TBitmap Recess(int width, int height) { return FramedBlack(width, height, false); }

TBitmap Logo() {
  // The product name set large, white with a dark drop shadow, its edges in alpha.
  TBitmap logo(183, 34, clWhite);
  for (int y = 0; y < 34; ++y)
    for (int x = 0; x < 183; ++x) logo.SetPixel(x, y, PixelOf(clWhite, 0));
  TFont font;
  font.Name = "Arial";
  font.Height = -26;
  font.Bold = true;
  const std::string name = "Voicemultiply";
  const int x = (183 - TextWidth(font, name)) / 2;
  const int y = (34 - TextHeight(font)) / 2;
  const TRect all = Bounds(0, 0, 183, 34);
  DrawTextOverKey(logo, font, x + 2, y + 2, name, RGB(30, 50, 30), clWhite, all);
  DrawTextOverKey(logo, font, x, y, name, RGB(250, 250, 246), clWhite, all);
  logo.Transparent = true;
  logo.TransparentColor = clWhite;
  return logo;
}

}  // namespace vm::artwork
