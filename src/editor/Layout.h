// The editor form's layout as data: every component in creation order with its place, and
// per kind of component the properties the form gives it. The form builds itself from
// these tables; all components are children of the form (nothing is nested) and paint
// in creation order, later over earlier. Coordinates are client pixels, designed at 96
// pixels per inch.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "controls/Artwork.h"
#include "graphics/Bitmap.h"
#include "graphics/Colour.h"
#include "graphics/Controls.h"

namespace vm::layout {

// DividerLabel: a label whose dots are drawn on whole pixels (the text line's ":").
enum class tKind { Image, BrushedMetal, PaintedPanel, Bevel, Label, DividerLabel, PaintBox, Knob, LEDButton };

// One component: created in table order, named, placed, shown or hidden.
struct tComponent {
  const char* Name;
  tKind Kind;
  int Left;
  int Top;
  int Width;
  int Height;
  bool Visible;  // false: hidden in the layout (a look may show it)
};

// A label: transparent, sized to its text. Captions double '&' to show one.
struct tLabel {
  const char* Name;
  const char* Caption;
  TColor Colour;
  bool Bold;
  TAlignment Alignment;
  const char* ShadowOf;  // the label this one shadows (drawn first, 1 pixel off), or null
};

// A picture made in code for an image component; a null maker leaves the image empty
// (the face plate, which depends on the look).
struct tPicture {
  const char* Name;
  TBitmap (*Make)();
  bool Transparent;
  bool Stretch;
};

// A knob's own properties; the common ones follow below.
struct tKnob {
  const char* Name;
  int Parameter;        // index of the effect parameter it shows
  const char* Face;     // the holder of its face; the disabled face is Face + "Disabled"
  int Ticks;
  std::vector<std::string> Labels;
  bool Quantise;
  float BotLabNudge;    // pull of the end labels towards the scale, 0 when not set
  const char* ShowTicks;  // per-tick marks ('.' drawn, ' ' left out), or null for all
  float AngleOffset;    // turns; the form recomputes rkClones' exact value on create
};

// An LED button's own properties; the common pictures follow below.
struct tLEDButton {
  const char* Name;
  const char* UpOff;  // holder of its raised, unlit picture
  bool QuickChange;   // lamp toggles at mouse-down (true) or mouse-up (false)
  const char* OnChange;
  const char* OnLEDChange;  // null: not bound
  int Parameter;
  int SectionIndex;  // the Section it selects, -1 for the random buttons
};

// The 120 components in creation order.
std::span<const tComponent> Components();
std::span<const tLabel> Labels();
// Pictures of the panel's images (face plate, screws, bezel, recesses, logo).
std::span<const tPicture> PanelPictures();
// Hidden, disabled images that only lend their pictures to the knobs and buttons.
std::span<const tPicture> PictureHolders();
std::span<const tKnob> Knobs();
std::span<const tLEDButton> LEDButtons();

// The six labels of the text line under the display.
inline constexpr const char* kLCDLabels[] = {"labLCDAlto", "labLCDSetup", "labLCDDiv1",
                                             "labLCDDiv2", "labLCDUnison", "labLCDBass"};

// ---- values common to every knob ----
inline constexpr const char* kKnobDot = "InnerDot";
inline constexpr const char* kKnobShimmers[4] = {"IShimmer1", "IShimmer2", "IShimmer3", "IShimmer4"};
inline constexpr int kKnobDiameter = 52;            // body, pixels
inline constexpr float kKnobWedge = 1.0f / 7.0f;    // turn left free at the bottom (single precision)
inline constexpr int kKnobTextRadius = 40;          // scale labels' ring, pixels from the centre
inline constexpr int kKnobTickRadius = 30;          // tick marks' ring
inline constexpr int kKnobDotRadius = 12;           // position dot's ring
inline constexpr float kKnobMin = 0;
inline constexpr float kKnobMax = 1;
inline constexpr TColor kKnobColour = RGB(251, 251, 251);   // ticks and scale text
inline constexpr TColor kKnobHilight = RGB(248, 240, 248);
inline constexpr TColor kKnobShadow = RGB(80, 80, 80);      // shadow under ticks and text
inline constexpr bool kKnobDoHilight = false;
inline constexpr bool kKnobDoShadow = true;
inline constexpr TColor kKnobTransColour = clWhite;         // transparent in the faces

// ---- values common to every LED button ----
inline constexpr const char* kButtonDownOff = "iDownOff";
inline constexpr const char* kButtonUpOn = "iUpOn";
inline constexpr const char* kButtonDownOn = "iDownOn";
inline constexpr const char* kButtonDisabledOff = "iUpOffDis";
inline constexpr const char* kButtonDisabledOn = "IUpOnDis";

// ---- the brushed-metal surround ----
inline constexpr TColor kMetalLight = RGB(236, 223, 236);
inline constexpr TColor kMetalMedLight = RGB(227, 227, 227);
inline constexpr TColor kMetalMedDark = RGB(219, 219, 219);
inline constexpr TColor kMetalDark = RGB(210, 210, 210);
inline constexpr int kMetalShading = 4;   // grey steps per shading band
inline constexpr int kMetalQuantise = 10; // shading bands across the diagonal

// ---- the seven green panels ----
inline constexpr TColor kPanelFill1 = RGB(0, 179, 0);     // gradient's light end
inline constexpr TColor kPanelFill2 = RGB(0, 108, 0);     // and its dark end
inline constexpr TColor kPanelBorder1 = RGB(128, 128, 128);
inline constexpr TColor kPanelBorder2 = RGB(224, 224, 224);
inline constexpr int kPanelRounding = 10;  // corner ellipse, pixels
inline constexpr int kPanelTexture = 4;    // grain amplitude, grey levels
inline constexpr bool kPanelShadeInParent = true;  // one gradient across the whole form

// ---- labels ----
inline constexpr const char* kLabelFontName = "MS Sans Serif";
inline constexpr int kLabelFontHeight = -11;  // 11-pixel characters
inline constexpr TColor kShadowColour = RGB(80, 80, 80);

}  // namespace vm::layout
