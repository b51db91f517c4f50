// The editor's custom controls: the rubber knob, the LED button and the two procedurally
// painted backgrounds. All are light-weight controls of the drawing layer; the pictures
// they show come from image components that the form owns.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "graphics/Controls.h"
#include "graphics/StringList.h"

namespace vm {

// A rotary control: the value 0..1 follows the pointer's angle around the centre. It
// draws a composite of labels, ticks and body (rebuilt only when a look property
// changes), flashes shimmer images while the value moves, and keeps its value dot in a
// separate image control above itself.
class TRubberKnob : public TControl {
 public:
  TRubberKnob();
  ~TRubberKnob() override;

  struct TAngularPosition {
    int X;
    int Y;
    int Degrees;
  };
  // Where a scale label is drawn: its text cell's top-left in control pixels, and the font.
  struct TLabelPlacement {
    std::string Text;
    TFont Font;
    int X;
    int Y;
  };

  void SetParent(TForm* form) override;
  void Paint(TCanvas& canvas) override;
  void MouseDown(TMouseButton button, int x, int y) override;
  void MouseMove(int x, int y) override;
  void MouseUp(TMouseButton button, int x, int y) override;

  TImage* MainImage() const { return mainImage; }
  void SetMainImage(TImage* image);
  TImage* DisabledImage() const { return disabledImage; }
  void SetDisabledImage(TImage* image);
  TImage* DotImage() const { return dotImage; }
  void SetDotImage(TImage* image);
  TImage* Shimmer(int k) const { return shimmerImages[static_cast<size_t>(k - 1)]; }  // k = 1..4
  void SetShimmer(int k, TImage* image);
  void SetShimmer1(TImage* image) { SetShimmer(1, image); }
  void SetShimmer2(TImage* image) { SetShimmer(2, image); }
  void SetShimmer3(TImage* image) { SetShimmer(3, image); }
  void SetShimmer4(TImage* image) { SetShimmer(4, image); }

  int Diameter() const { return diameter; }
  void SetDiameter(int v) { Store(diameter, v); }
  int Ticks() const { return ticks; }
  void SetTicks(int v) { Store(ticks, v); }
  TStringList& Labels() { return labels; }
  void SetLabels(const std::vector<std::string>& texts);
  const std::string& ShowTicks() const { return showTicks; }
  void SetShowTicks(const std::string& v) { Store(showTicks, v); }
  float Wedge() const { return wedge; }
  void SetWedge(float v) { Store(wedge, v); }
  float AngleOffset() const { return angleOffset; }
  void SetAngleOffset(float v) { Store(angleOffset, v); }
  int TextRadius() const { return textRadius; }
  void SetTextRadius(int v) { Store(textRadius, v); }
  int TickRadius() const { return tickRadius; }
  void SetTickRadius(int v) { Store(tickRadius, v); }
  int DotRadius() const { return dotRadius; }
  void SetDotRadius(int v) { Store(dotRadius, v); }
  TColor Colour() const { return colour; }
  void SetColour(TColor v) { Store(colour, v); }
  TColor Hilight() const { return hilight; }
  void SetHilight(TColor v) { Store(hilight, v); }
  TColor Shadow() const { return shadow; }
  void SetShadow(TColor v) { Store(shadow, v); }
  bool DoHilight() const { return doHilight; }
  void SetDoHilight(bool v) { Store(doHilight, v); }
  bool DoShadow() const { return doShadow; }
  void SetDoShadow(bool v) { Store(doShadow, v); }
  TColor TransColour() const { return transColour; }
  void SetTransColour(TColor v) { Store(transColour, v); }

  float Value() const { return value; }
  void SetValue(float v);

  bool Quantise = false;
  float BotLabNudge = 0;
  float Min = 0;  // kept with the form; the knob does not read them
  float Max = 1;
  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

  // The rules behind the drawing, open for the form and for tests.
  TAngularPosition AngularPosition(double index, int count, int radius, double stretch) const;
  // The value for a pointer at (x, y) of the control; false at the exact centre.
  bool PointerValue(int x, int y, float& result) const;
  // The non-empty labels as the composite draws them (around the centre of its last build).
  std::vector<TLabelPlacement> LabelPlacements() const;

  // Read-only views of the internal state.
  const TBitmap& Composite() const { return composite; }
  bool CompositeValid() const { return compositeValid; }
  TImage* DotLayer() const { return dotLayer.get(); }
  int ShimmerCount() const { return shimmerCount; }
  int ShimmerIndex() const { return shimmerIndex; }
  bool Dragging() const { return dragging; }
  int CentreX() const { return centreX; }
  int CentreY() const { return centreY; }

 protected:
  void EnabledChanged() override;
  void FontChanged() override;

 private:
  template <class T>
  void Store(T& field, const T& v) {
    field = v;
    InvalidateComposite();
  }
  void InvalidateComposite();
  void BuildComposite();
  void DrawLabels();
  TLabelPlacement PlaceLabel(const std::string& text, int x, int y, double dx, double dy, int nudge,
                             int count) const;
  TPoint KeptInside(const TFont& font, const std::string& text, int x, int y) const;
  void CopyBody();
  void DrawTicks();
  void PutBlock(int x, int y, TColor tl, TColor tr, TColor bl, TColor br);
  void CollectShimmers();
  void PlaceDot();
  void ShowDotPicture();

  TImage* mainImage = nullptr;
  TImage* disabledImage = nullptr;
  TImage* dotImage = nullptr;
  std::array<TImage*, 4> shimmerImages{};
  int diameter = 39;
  int ticks = 11;
  TStringList labels;
  std::string showTicks;
  float wedge = 1.0f / 7.0f;  // one seventh of a turn left free at the bottom
  float angleOffset = 0;
  int textRadius = 39;
  int tickRadius = 30;
  int dotRadius = 22;
  float value = 0;
  TColor colour = RGB(48, 48, 48);
  TColor hilight = RGB(0, 0, 0);
  TColor shadow = RGB(248, 240, 248);
  bool doHilight = false;
  bool doShadow = true;
  TColor transColour = clWhite;

  TBitmap composite;
  bool compositeValid = false;
  int centreX = 0;
  int centreY = 0;
  std::unique_ptr<TImage> dotLayer;
  std::array<TImage*, 4> shimmers{};
  int shimmerCount = 0;
  int shimmerIndex = 0;
  int shimmerX = 0;
  int shimmerY = 0;
  int lastDotX = 0;
  int lastDotY = 0;
  bool dragging = false;
  bool ready = false;
};

enum class TRubberLEDButtonState : uint8_t { rlbUpOff = 0, rlbDownOff = 1, rlbUpOn = 2, rlbDownOn = 3 };

// A rubber key with a lamp: shows pressed or released, lamp lit or dark, toggling the
// lamp once per click (on the press with QuickChange, else on the release).
class TRubberLEDButton : public TControl {
 public:
  TRubberLEDButton();

  void Paint(TCanvas& canvas) override;
  void MouseDown(TMouseButton button, int x, int y) override;
  void MouseUp(TMouseButton button, int x, int y) override;

  TImage* UpOff() const { return upOff; }
  void SetUpOff(TImage* image) { upOff = image; Invalidate(); }
  TImage* DownOff() const { return downOff; }
  void SetDownOff(TImage* image) { downOff = image; Invalidate(); }
  TImage* UpOn() const { return upOn; }
  void SetUpOn(TImage* image) { upOn = image; Invalidate(); }
  TImage* DownOn() const { return downOn; }
  void SetDownOn(TImage* image) { downOn = image; Invalidate(); }
  TImage* DisabledOff = nullptr;
  TImage* DisabledOn = nullptr;

  TRubberLEDButtonState ButtonState() const { return buttonState; }
  void SetButtonState(TRubberLEDButtonState state);
  bool LEDOn() const { return ledOn; }
  // The picture that a paint shows now (null when that image is not set).
  TImage* CurrentPicture() const;

  bool QuickChange = true;
  TNotifyEvent OnChange;
  TNotifyEvent OnLEDChange;

 protected:
  void EnabledChanged() override { Repaint(); }

 private:
  void ToggleLamp();

  TImage* upOff = nullptr;
  TImage* downOff = nullptr;
  TImage* upOn = nullptr;
  TImage* downOn = nullptr;
  TRubberLEDButtonState buttonState = TRubberLEDButtonState::rlbUpOff;
  bool ledOn = false;
};

// A label whose caption is a divider of dots (":" or "."), each dot a solid square on whole
// pixels in the font's colour where the glyph's dot lies. A rasterised dot of a small font
// straddles pixel edges and blends into the background, so on a dark screen it shows
// darker than its colour; these keep it. Other characters are drawn as text.
class TDividerLabel : public TLabel {
 public:
  void Paint(TCanvas& canvas) override;

 private:
  void DrawDots(TCanvas& canvas, int penX, const std::string& glyph, int dots);
};

// Brushed metal: horizontal streaks of four greys drawn from the process-wide random
// generator, darkened in steps towards the bottom-right corner.
class TBrushedMetal : public TControl {
 public:
  TBrushedMetal();
  void Paint(TCanvas& canvas) override;

  TColor Light() const { return light; }
  void SetLight(TColor v) { Store(light, v); }
  TColor MedLight() const { return medLight; }
  void SetMedLight(TColor v) { Store(medLight, v); }
  TColor MedDark() const { return medDark; }
  void SetMedDark(TColor v) { Store(medDark, v); }
  TColor Dark() const { return dark; }
  void SetDark(TColor v) { Store(dark, v); }
  int Shading() const { return shading; }
  void SetShading(int v) { Store(shading, v); }
  int Quantise() const { return quantise; }
  void SetQuantise(int v) { Store(quantise, v); }
  TNotifyEvent OnPaint;

  const TBitmap& CachedImage() const { return cachedImage; }
  bool ImageStale() const { return imageStale; }
  void BuildImage();  // regenerates the texture at the control's current size

 private:
  template <class T>
  void Store(T& field, const T& v) {
    field = v;
    imageStale = true;
    Invalidate();
  }
  TColor PickStreak(TColor current) const;

  TColor light = RGB(247, 241, 247);
  TColor medLight = RGB(239, 239, 239);
  TColor medDark = RGB(231, 231, 231);
  TColor dark = RGB(223, 223, 223);
  int shading = 4;
  int quantise = 10;
  TBitmap cachedImage;
  bool imageStale = true;
};

// A rounded panel with a diagonal two-colour gradient (optionally laid over the whole
// parent), a fine random grain and a two-tone border; white is left out when painted.
class TPaintedPanel : public TControl {
 public:
  TPaintedPanel();
  void Paint(TCanvas& canvas) override;

  TColor Fill1() const { return fill1; }
  void SetFill1(TColor v) { Store(fill1, v); }
  TColor Fill2() const { return fill2; }
  void SetFill2(TColor v) { Store(fill2, v); }
  TColor Border1() const { return border1; }
  void SetBorder1(TColor v) { Store(border1, v); }
  TColor Border2() const { return border2; }
  void SetBorder2(TColor v) { Store(border2, v); }
  int Rounding() const { return rounding; }
  void SetRounding(int v) { Store(rounding, v); }
  int Texture() const { return texture; }
  void SetTexture(int v) { Store(texture, v); }
  bool ShadeInParent() const { return shadeInParent; }
  void SetShadeInParent(bool v) { Store(shadeInParent, v); }

  const TBitmap& CachedImage() const { return cachedImage; }
  bool ImageStale() const { return imageStale; }
  void BuildImage();

 private:
  template <class T>
  void Store(T& field, const T& v) {
    field = v;
    imageStale = true;
    Invalidate();
  }
  TColor InteriorColour(int x, int y, int ox, int oy, int ew, int eh) const;

  TColor fill1 = RGB(0, 255, 0);
  TColor fill2 = RGB(0, 128, 0);
  TColor border1 = RGB(128, 128, 128);
  TColor border2 = RGB(224, 224, 224);
  int rounding = 10;
  int texture = 4;
  bool shadeInParent = false;
  TBitmap cachedImage;
  bool imageStale = true;
};

}  // namespace vm
