#include "editor/EditForm.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>
#include <string_view>

#include "editor/Display.h"
#include "editor/FacePlate.h"
#include "editor/Layout.h"
#include "engine/VoiceTables.h"

namespace vm {

namespace {

using tLED = TRubberLEDButtonState;

constexpr float kDynamicsActiveDepth = 0.02f;  // dynamics rate and random matter above this depth
constexpr float kUnshiftedTolerance = 0.02f;   // formants within this of 0.5 count as unshifted
constexpr float kDryVisibleMix = 0.97f;        // from this mix up the dry signal is inaudible
constexpr int kSplitSteps = 5;                 // Split 0..5 on the knob's 0..1
constexpr int kLCDFirstInset = 4;              // pixels from the LCD hole's left edge
constexpr int kLCDGap = 2;                     // pixels between LCD labels
constexpr int kLowResolutionPpi = 100;         // up to this the bitmap font, above it Arial

tLED LEDState(bool on) { return on ? tLED::rlbUpOn : tLED::rlbUpOff; }

// The text line under the display for each Split: the setup caption, then the section
// names left to right (null ends a row).
struct tLCDLine {
  const char* Setup;
  std::array<const char*, 5> Sequence;
};
constexpr tLCDLine kLCDLines[] = {
    {"All ", {"labLCDUnison"}},
    {"All ", {"labLCDBass"}},
    {"All ", {"labLCDAlto"}},
    {"2-way: ", {"labLCDBass", "labLCDDiv1", "labLCDUnison"}},
    {"2-way: ", {"labLCDUnison", "labLCDDiv1", "labLCDAlto"}},
    {"3-way: ", {"labLCDBass", "labLCDDiv1", "labLCDUnison", "labLCDDiv2", "labLCDAlto"}},
};

// The program's version as major.minor ("0.1" of "0.1.0"): four characters at most fit
// the centred 22-pixel label pair.
std::string VersionText() {
  const std::string_view full = VM_VERSION;
  const size_t firstDot = full.find('.');
  if (firstDot == std::string_view::npos) return std::string(full);
  return std::string(full.substr(0, full.find('.', firstDot + 1)));
}

TControl* MakeComponent(TForm& form, layout::tKind kind) {
  using K = layout::tKind;
  switch (kind) {
    case K::Image: return form.Make<TImage>();
    case K::BrushedMetal: return form.Make<TBrushedMetal>();
    case K::PaintedPanel: return form.Make<TPaintedPanel>();
    case K::Bevel: return form.Make<TBevel>();
    case K::Label: return form.Make<TLabel>();
    case K::DividerLabel: return form.Make<TDividerLabel>();
    case K::PaintBox: return form.Make<TPaintBox>();
    case K::Knob: return form.Make<TRubberKnob>();
    case K::LEDButton: return form.Make<TRubberLEDButton>();
  }
  throw std::logic_error("unknown component kind");
}

TFont LayoutFont(TColor colour, bool bold) {
  TFont font;
  font.Name = layout::kLabelFontName;
  font.Height = layout::kLabelFontHeight;
  font.Color = colour;
  font.Bold = bold;
  return font;
}

void SetBold(TLabel* label, bool bold) {
  TFont font = label->Font();
  if (font.Bold == bold) return;
  font.Bold = bold;
  label->SetFont(font);
}

}  // namespace

// ---- construction from the layout ------------------------------------------------------

tVoicemultiplyEditForm::tVoicemultiplyEditForm(tFormLook look, int pixelsPerInch)
    : TForm(kClientWidth, kClientHeight), look(look) {
  Color = clBtnFace;
  Font = LayoutFont(clWindowText, false);
  BuildComponents();
  LinkComponents();
  ApplyProperties();
  RegisterHandlers();
  BindHandlers();
  for (TControl* c : Controls()) c->EndLoad();
  FormCreate(pixelsPerInch);
}

tVoicemultiplyEditForm::~tVoicemultiplyEditForm() { FormDestroy(); }

void tVoicemultiplyEditForm::BuildComponents() {
  for (const layout::tComponent& row : layout::Components()) {
    TControl* c = MakeComponent(*this, row.Kind);
    c->BeginLoad();
    c->Name = row.Name;
    c->SetBounds(row.Left, row.Top, row.Width, row.Height);
    c->SetVisible(row.Visible);
  }
}

void tVoicemultiplyEditForm::LinkComponents() {
  rkClones = Find<TRubberKnob>("rkClones");
  rkTiming = Find<TRubberKnob>("rkTiming");
  rkVibratoDepth = Find<TRubberKnob>("rkVibratoDepth");
  rkVibratoRate = Find<TRubberKnob>("rkVibratoRate");
  rbVibratoRandom = Find<TRubberLEDButton>("rbVibratoRandom");
  rkDynamicsDepth = Find<TRubberKnob>("rkDynamicsDepth");
  rkDynamicsRate = Find<TRubberKnob>("rkDynamicsRate");
  rbDynamicsRandom = Find<TRubberLEDButton>("rbDynamicsRandom");
  rkSplit = Find<TRubberKnob>("rkSplit");
  rkBassFormants = Find<TRubberKnob>("rkBassFormants");
  rkBassLevel = Find<TRubberKnob>("rkBassLevel");
  rkUnisonFormants = Find<TRubberKnob>("rkUnisonFormants");
  rkUnisonLevel = Find<TRubberKnob>("rkUnisonLevel");
  rkAltoFormants = Find<TRubberKnob>("rkAltoFormants");
  rkAltoLevel = Find<TRubberKnob>("rkAltoLevel");
  rbSectionA = Find<TRubberLEDButton>("rbSectionA");
  rbSectionB = Find<TRubberLEDButton>("rbSectionB");
  rbSectionC = Find<TRubberLEDButton>("rbSectionC");
  rbSectionD = Find<TRubberLEDButton>("rbSectionD");
  rkFocus = Find<TRubberKnob>("rkFocus");
  rkBalance = Find<TRubberKnob>("rkBalance");
  rkMix = Find<TRubberKnob>("rkMix");
  rkDryDelay = Find<TRubberKnob>("rkDryDelay");
  rkGain = Find<TRubberKnob>("rkGain");
  pbDisplay = Find<TPaintBox>("pbDisplay");
  IFacePlate = Find<TImage>("IFacePlate");
  iDisplayBorder = Find<TImage>("iDisplayBorder");
  iLCDHole = Find<TImage>("iLCDHole");
  LogoImage = Find<TImage>("LogoImage");
  labVersion = Find<TLabel>("labVersion");
  labVersionShadow = Find<TLabel>("labVersionShadow");
  labUnshifted = Find<TLabel>("labUnshifted");
  labUnshiftedShadow = Find<TLabel>("labUnshiftedShadow");
  labLCDSetup = Find<TLabel>("labLCDSetup");
}

void tVoicemultiplyEditForm::ApplyProperties() {
  for (const layout::tLabel& row : layout::Labels()) {
    TLabel* label = Find<TLabel>(row.Name);
    label->Transparent = true;
    label->AutoSize = true;
    label->Alignment = row.Alignment;
    label->SetFont(LayoutFont(row.Colour, row.Bold));
    label->SetCaption(row.Caption);
  }
  for (const layout::tPicture& row : layout::PanelPictures()) {
    TImage* image = Find<TImage>(row.Name);
    image->Stretch = row.Stretch;
    image->SetTransparent(row.Transparent);
    if (row.Make != nullptr) image->SetPicture(row.Make());
  }
  for (const layout::tPicture& row : layout::PictureHolders()) {
    TImage* image = Find<TImage>(row.Name);
    image->SetEnabled(false);
    image->SetTransparent(row.Transparent);
    image->SetPicture(row.Make());
  }
  for (TControl* c : Controls()) {
    if (auto* panel = dynamic_cast<TPaintedPanel*>(c)) {
      panel->SetFill1(layout::kPanelFill1);
      panel->SetFill2(layout::kPanelFill2);
      panel->SetBorder1(layout::kPanelBorder1);
      panel->SetBorder2(layout::kPanelBorder2);
      panel->SetRounding(layout::kPanelRounding);
      panel->SetTexture(layout::kPanelTexture);
      panel->SetShadeInParent(layout::kPanelShadeInParent);
    } else if (auto* metal = dynamic_cast<TBrushedMetal*>(c)) {
      metal->SetLight(layout::kMetalLight);
      metal->SetMedLight(layout::kMetalMedLight);
      metal->SetMedDark(layout::kMetalMedDark);
      metal->SetDark(layout::kMetalDark);
      metal->SetShading(layout::kMetalShading);
      metal->SetQuantise(layout::kMetalQuantise);
    } else if (auto* bevel = dynamic_cast<TBevel*>(c)) {
      bevel->Shape = TBevelShape::bsLeftLine;
    }
  }
  for (const layout::tKnob& row : layout::Knobs()) {
    TRubberKnob* knob = Find<TRubberKnob>(row.Name);
    knob->SetMainImage(Find<TImage>(row.Face));
    knob->SetDisabledImage(Find<TImage>(std::string(row.Face) + "Disabled"));
    knob->SetDotImage(Find<TImage>(layout::kKnobDot));
    for (int k = 1; k <= 4; ++k) knob->SetShimmer(k, Find<TImage>(layout::kKnobShimmers[k - 1]));
    knob->SetDiameter(layout::kKnobDiameter);
    knob->SetWedge(layout::kKnobWedge);
    knob->SetTextRadius(layout::kKnobTextRadius);
    knob->SetTickRadius(layout::kKnobTickRadius);
    knob->SetDotRadius(layout::kKnobDotRadius);
    knob->Min = layout::kKnobMin;
    knob->Max = layout::kKnobMax;
    knob->SetColour(layout::kKnobColour);
    knob->SetHilight(layout::kKnobHilight);
    knob->SetShadow(layout::kKnobShadow);
    knob->SetDoHilight(layout::kKnobDoHilight);
    knob->SetDoShadow(layout::kKnobDoShadow);
    knob->SetTransColour(layout::kKnobTransColour);
    knob->SetFont(LayoutFont(clWindowText, false));
    knob->SetTicks(row.Ticks);
    knob->SetLabels(row.Labels);
    knob->Quantise = row.Quantise;
    knob->BotLabNudge = row.BotLabNudge;
    if (row.ShowTicks != nullptr) knob->SetShowTicks(row.ShowTicks);
    knob->SetAngleOffset(row.AngleOffset);
  }
  for (const layout::tLEDButton& row : layout::LEDButtons()) {
    TRubberLEDButton* button = Find<TRubberLEDButton>(row.Name);
    button->SetUpOff(Find<TImage>(row.UpOff));
    button->SetDownOff(Find<TImage>(layout::kButtonDownOff));
    button->SetUpOn(Find<TImage>(layout::kButtonUpOn));
    button->SetDownOn(Find<TImage>(layout::kButtonDownOn));
    button->DisabledOff = Find<TImage>(layout::kButtonDisabledOff);
    button->DisabledOn = Find<TImage>(layout::kButtonDisabledOn);
    button->QuickChange = row.QuickChange;
    button->SetButtonState(tLED::rlbUpOff);
  }
}

// Every event handler of the layout under its name: each knob's <name>Change and
// <name>Changing, the buttons' and the logo's.
void tVoicemultiplyEditForm::RegisterHandlers() {
  using F = tVoicemultiplyEditForm;
  struct tKnobLogic {
    const char* Name;
    void (F::*Set)(float);
    bool FollowsDrag;  // display and dependent controls follow a drag, not just its release
  };
  static const tKnobLogic kKnobLogic[] = {
      {"rkVibratoDepth", &F::SetVibratoDepth, false}, {"rkVibratoRate", &F::SetVibratoRate, false},
      {"rkDynamicsDepth", &F::SetDynamicsDepth, false}, {"rkDynamicsRate", &F::SetDynamicsRate, false},
      {"rkClones", &F::SetClones, true},             {"rkTiming", &F::SetTiming, true},
      {"rkSplit", &F::SetSplitFromKnob, true},       {"rkBassFormants", &F::SetBassFormants, false},
      {"rkBassLevel", &F::SetBassLevel, false},      {"rkUnisonFormants", &F::SetUnisonFormants, false},
      {"rkUnisonLevel", &F::SetUnisonLevel, false},  {"rkAltoFormants", &F::SetAltoFormants, false},
      {"rkAltoLevel", &F::SetAltoLevel, false},      {"rkFocus", &F::SetFocus, true},
      {"rkBalance", &F::SetBalance, true},           {"rkMix", &F::SetMix, true},
      {"rkDryDelay", &F::SetDryDelay, true},         {"rkGain", &F::SetGain, true},
  };
  for (const tKnobLogic& row : kKnobLogic) {
    TRubberKnob* knob = Find<TRubberKnob>(row.Name);
    const auto set = row.Set;
    const std::string name = row.Name;
    handlers[name + "Change"] = [this, knob, set](TControl*) { KnobChange(knob, set); };
    if (row.FollowsDrag)
      handlers[name + "Changing"] = [this, knob, set](TControl*) { KnobChangingFollowed(knob, set); };
    else
      handlers[name + "Changing"] = [](TControl*) {};  // only the knob itself moves
  }
  handlers["rbVibratoRandomChange"] = [this](TControl* s) { rbVibratoRandomChange(s); };
  handlers["rbDynamicsRandomChange"] = [this](TControl* s) { rbDynamicsRandomChange(s); };
  handlers["rbSectionChange"] = [this](TControl* s) { rbSectionChange(s); };
  handlers["rbSectionLEDChange"] = [this](TControl* s) { rbSectionLEDChange(s); };
  handlers["LogoImageClick"] = [this](TControl* s) { LogoImageClick(s); };
}

TNotifyEvent tVoicemultiplyEditForm::Handler(const std::string& name) const {
  const auto found = handlers.find(name);
  return found == handlers.end() ? TNotifyEvent{} : found->second;
}

void tVoicemultiplyEditForm::BindHandlers() {
  auto required = [this](const std::string& name) {
    TNotifyEvent handler = Handler(name);
    if (!handler) throw std::logic_error("no handler " + name);
    return handler;
  };
  for (const layout::tKnob& row : layout::Knobs()) {
    TRubberKnob* knob = Find<TRubberKnob>(row.Name);
    knob->OnChange = required(std::string(row.Name) + "Change");
    knob->OnChanging = required(std::string(row.Name) + "Changing");
  }
  for (const layout::tLEDButton& row : layout::LEDButtons()) {
    TRubberLEDButton* button = Find<TRubberLEDButton>(row.Name);
    button->OnChange = required(row.OnChange);
    if (row.OnLEDChange != nullptr) button->OnLEDChange = required(row.OnLEDChange);
  }
  LogoImage->OnClick = required("LogoImageClick");
  pbDisplay->OnPaint = [this](TPaintBox* sender, TCanvas& canvas) { pbDisplayPaint(sender, canvas); };
}

// ---- creation and destruction -------------------------------------------------------------

void tVoicemultiplyEditForm::FormCreate(int pixelsPerInch) {
  DisplayBitmap = std::make_unique<TBitmap>();
  // Half a tick step: the even voice counts' numbers sit between the ticks.
  rkClones->SetAngleOffset((1.0f - rkClones->Wedge()) * 0.5f / static_cast<float>(rkClones->Ticks() - 1));
  SelectLook();
  labVersion->SetCaption(VersionText());
  labVersionShadow->SetCaption(VersionText());
  SetInitialValues();
  // The form has no window of its own: its native window places it at (0, 0) of the host's.
  NormaliseFonts(pixelsPerInch);
}

void tVoicemultiplyEditForm::FormDestroy() { DisplayBitmap.reset(); }

// Runs with Editor still null, so none of these values reaches the effect.
void tVoicemultiplyEditForm::SetInitialValues() {
  SetDynamicsDepth(0);
  SetDynamicsRate(0);
  SetDynamicsRandom(false);
  SetVibratoDepth(0);
  SetVibratoRate(0);
  SetVibratoRandom(false);
  SetClones(0);
  SetTiming(0);
  SetSplit(0);
  SetBassFormants(0.5f);
  SetBassLevel(0.5f);
  SetUnisonFormants(0.5f);
  SetUnisonLevel(0.5f);
  SetAltoFormants(0.5f);
  SetAltoLevel(0.5f);
  SetSection(0);
  SetFocus(0);
  SetBalance(0);
  SetMix(0);
  SetGain(1);
}

// Bitmap-font screens get the design font, high-resolution ones a scalable one, always at
// 11 pixels (the form is not scaled).
void tVoicemultiplyEditForm::NormaliseFonts(int pixelsPerInch) {
  PixelsPerInch = pixelsPerInch;
  const char* name = pixelsPerInch <= kLowResolutionPpi ? "MS Sans Serif" : "Arial";
  for (TControl* c : Controls()) {
    if (dynamic_cast<TRubberKnob*>(c) == nullptr && dynamic_cast<TLabel*>(c) == nullptr) continue;
    TFont font = c->Font();
    font.Name = name;
    font.Height = layout::kLabelFontHeight;
    c->SetFont(font);
  }
}

// ---- the two looks ---------------------------------------------------------------------

void tVoicemultiplyEditForm::SelectLook() {
  if (look == tFormLook::FacePlate)
    ApplyFacePlateLook();
  else
    ApplyDrawnLook();
}

// The printed panel is one picture; only the live controls, the display, its text line,
// the version and the Unshifted mark are drawn over it.
void tVoicemultiplyEditForm::ApplyFacePlateLook() {
  const TControl* keep[] = {labVersion, labVersionShadow, labUnshifted, labUnshiftedShadow};
  for (TControl* c : Controls()) {
    if (dynamic_cast<TLabel*>(c) != nullptr && std::find(std::begin(keep), std::end(keep), c) == std::end(keep))
      c->Hide();
    if (auto* knob = dynamic_cast<TRubberKnob*>(c)) knob->SetLabels({});  // scales are printed
    if (dynamic_cast<TPaintedPanel*>(c) != nullptr || dynamic_cast<TBrushedMetal*>(c) != nullptr) c->Hide();
  }
  for (const char* name : {"LogoImage", "Bevel1", "Bevel2", "ImageScrew1", "ImageScrew2", "ImageScrew3",
                           "ImageScrew4", "iDisplayBorder", "iRandomVibratoHole", "iRandomDynamicsHole",
                           "i4ButtonHole"})
    FindControl(name)->Hide();
  IFacePlate->SetPicture(FacePlatePicture());
  IFacePlate->Show();
}

void tVoicemultiplyEditForm::ApplyDrawnLook() {
  ToolWindowBorder = true;
  IFacePlate->Hide();
  for (TControl* c : Controls())
    if (dynamic_cast<TPaintedPanel*>(c) != nullptr || dynamic_cast<TBrushedMetal*>(c) != nullptr) c->Show();
}

void tVoicemultiplyEditForm::LogoImageClick(TControl*) {
  if (look != tFormLook::Drawn) return;
  for (TControl* c : Controls())
    if (auto* knob = dynamic_cast<TRubberKnob*>(c)) {
      knob->SetDotImage(nullptr);
      knob->Invalidate();
    }
  for (TLabel* label : {labVersion, labVersionShadow, labUnshifted, labUnshiftedShadow}) label->Hide();
  if (DisplayBitmap) DisplayBitmap->Fill(clBlack);
  pbDisplay->Hide();
  for (const char* name : layout::kLCDLabels) Find<TLabel>(name)->SetCaption("");
}

// ---- set-operations ------------------------------------------------------------------------

bool tVoicemultiplyEditForm::StoreKnobValue(float& field, TRubberKnob* knob, float v) {
  if (Changing && field == v && knob->Value() == v) return false;
  field = v;
  knob->SetValue(v);
  return true;
}

bool tVoicemultiplyEditForm::StoreButtonValue(bool& field, TRubberLEDButton* button, bool b) {
  if (Changing && field == b && button->ButtonState() == LEDState(b)) return false;
  field = b;
  button->SetButtonState(LEDState(b));
  return true;
}

void tVoicemultiplyEditForm::SetClones(float knobPosition) {
  if (StoreKnobValue(Clones, rkClones, knobPosition)) ControlChanged();
}

void tVoicemultiplyEditForm::SetTiming(float v) {
  if (StoreKnobValue(Timing, rkTiming, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetVibratoDepth(float v) {
  if (StoreKnobValue(VibratoDepth, rkVibratoDepth, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetVibratoRate(float v) {
  if (StoreKnobValue(VibratoRate, rkVibratoRate, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetVibratoRandom(bool on) {
  if (StoreButtonValue(VibratoRandom, rbVibratoRandom, on)) ControlChanged();
}

// Rate and random only act on a depth above the threshold; the random lamp shows the
// random setting only while they act.
void tVoicemultiplyEditForm::SetDynamicsDepth(float v) {
  if (!StoreKnobValue(DynamicsDepth, rkDynamicsDepth, v)) return;
  const bool active = DynamicsDepth > kDynamicsActiveDepth;
  rkDynamicsRate->SetEnabled(active);
  rbDynamicsRandom->SetEnabled(active);
  rbDynamicsRandom->SetButtonState(LEDState(DynamicsRandom && active));
  ControlChanged();
}

void tVoicemultiplyEditForm::SetDynamicsRate(float v) {
  if (StoreKnobValue(DynamicsRate, rkDynamicsRate, v)) ControlChanged();
}

// Lights the lamp from the setting alone; only SetDynamicsDepth looks at the depth.
void tVoicemultiplyEditForm::SetDynamicsRandom(bool on) {
  if (StoreButtonValue(DynamicsRandom, rbDynamicsRandom, on)) ControlChanged();
}

void tVoicemultiplyEditForm::SetSplit(int32_t split) {
  const float knobValue = static_cast<float>(split) / kSplitSteps;
  if (Changing && split == Split && rkSplit->Value() == knobValue) return;
  Split = split;
  rkSplit->SetValue(knobValue);
  const tSplitSections sings = SectionsOf(split);
  rkBassFormants->SetEnabled(sings.bass);
  rkBassLevel->SetEnabled(sings.bass);
  rkUnisonFormants->SetEnabled(sings.unison);
  rkUnisonLevel->SetEnabled(sings.unison);
  rkAltoFormants->SetEnabled(sings.alto);
  rkAltoLevel->SetEnabled(sings.alto);
  LayOutLCDLabels(split);
  ControlChanged();
}

void tVoicemultiplyEditForm::SetSplitFromKnob(float knobValue) {
  SetSplit(static_cast<int32_t>(std::nearbyint(knobValue * kSplitSteps)));
}

// The setup caption and the singing sections' names in a row, each 2 pixels after the
// previous one ends, starting 4 pixels into the LCD recess.
void tVoicemultiplyEditForm::LayOutLCDLabels(int32_t split) {
  for (const char* name : layout::kLCDLabels) FindControl(name)->Hide();
  const tLCDLine& line = kLCDLines[std::clamp(split, 0, static_cast<int32_t>(std::size(kLCDLines)) - 1)];
  labLCDSetup->SetCaption(line.Setup);
  int x = iLCDHole->Left() + kLCDFirstInset;
  auto place = [&x](TControl* label) {
    label->SetLeft(x);
    label->Show();
    x += label->Width() + kLCDGap;
  };
  place(labLCDSetup);
  for (const char* name : line.Sequence)
    if (name != nullptr) place(FindControl(name));
}

void tVoicemultiplyEditForm::SetBassFormants(float v) {
  if (StoreKnobValue(BassFormants, rkBassFormants, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetBassLevel(float v) {
  if (StoreKnobValue(BassLevel, rkBassLevel, v)) ControlChanged();
}

// The Unshifted caption is bold while the formants sit at (or one knob step within) the middle.
void tVoicemultiplyEditForm::SetUnisonFormants(float v) {
  if (!StoreKnobValue(UnisonFormants, rkUnisonFormants, v)) return;
  const bool unshifted = std::fabs(UnisonFormants - 0.5f) <= kUnshiftedTolerance;
  SetBold(labUnshifted, unshifted);
  SetBold(labUnshiftedShadow, unshifted);
  ControlChanged();
}

void tVoicemultiplyEditForm::SetUnisonLevel(float v) {
  if (StoreKnobValue(UnisonLevel, rkUnisonLevel, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetAltoFormants(float v) {
  if (StoreKnobValue(AltoFormants, rkAltoFormants, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetAltoLevel(float v) {
  if (StoreKnobValue(AltoLevel, rkAltoLevel, v)) ControlChanged();
}

// Never skipped; Section 4 (possible from the host) lights no button.
void tVoicemultiplyEditForm::SetSection(int32_t section) {
  Section = section;
  rbSectionA->SetButtonState(LEDState(section == 0));
  rbSectionB->SetButtonState(LEDState(section == 1));
  rbSectionC->SetButtonState(LEDState(section == 2));
  rbSectionD->SetButtonState(LEDState(section == 3));
  ControlChanged();
}

void tVoicemultiplyEditForm::SetFocus(float v) {
  if (StoreKnobValue(Focus, rkFocus, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetBalance(float v) {
  if (StoreKnobValue(Balance, rkBalance, v)) ControlChanged();
}

// A fully wet mix has no dry signal whose delay could matter.
void tVoicemultiplyEditForm::SetMix(float v) {
  if (!StoreKnobValue(Mix, rkMix, v)) return;
  rkDryDelay->SetEnabled(Mix < kDryVisibleMix);
  ControlChanged();
}

void tVoicemultiplyEditForm::SetDryDelay(float v) {
  if (StoreKnobValue(DryDelay, rkDryDelay, v)) ControlChanged();
}

void tVoicemultiplyEditForm::SetGain(float v) {
  if (StoreKnobValue(Gain, rkGain, v)) ControlChanged();
}

// ---- the common tail: display, then write-back ---------------------------------------------

void tVoicemultiplyEditForm::ControlChanged() {
  RenderDisplayNow();
  if (!Changing) WriteBack();
}

void tVoicemultiplyEditForm::RenderDisplayNow() {
  if (!DisplayBitmap) return;
  const tDisplayValues values{Clones, Timing, Split, Section, Focus, Balance, Mix, DryDelay};
  // The bezel picture lies under the paint box: its place relative to the box.
  const TRect border = iDisplayBorder->BoundsRect().Offset(-pbDisplay->Left(), -pbDisplay->Top());
  RenderDisplay(*DisplayBitmap, pbDisplay->Width(), pbDisplay->Height(), iDisplayBorder->Picture, border, values);
  if (pbDisplay->Visible() && pbDisplay->Parent() != nullptr) {
    TCanvas canvas = pbDisplay->GetCanvas();
    pbDisplayPaint(pbDisplay, canvas);
  }
}

void tVoicemultiplyEditForm::WriteBack() {
  if (Editor != nullptr) Editor->FormChanged();
}

void tVoicemultiplyEditForm::pbDisplayPaint(TPaintBox*, TCanvas& canvas) {
  if (DisplayBitmap) canvas.Draw(0, 0, *DisplayBitmap);
}

// ---- knob and button handlers ---------------------------------------------------------------

// The release: the knob's final value, written back to the effect.
void tVoicemultiplyEditForm::KnobChange(TRubberKnob* knob, void (tVoicemultiplyEditForm::*set)(float)) {
  Changing = false;
  (this->*set)(knob->Value());
}

// A step of a drag that the display follows; the effect hears only the release.
void tVoicemultiplyEditForm::KnobChangingFollowed(TRubberKnob* knob, void (tVoicemultiplyEditForm::*set)(float)) {
  struct tClearOnExit {
    bool& flag;
    ~tClearOnExit() { flag = false; }
  };
  Changing = true;
  const tClearOnExit clear{Changing};
  (this->*set)(knob->Value());
}

void tVoicemultiplyEditForm::rbVibratoRandomChange(TControl*) { SetVibratoRandom(rbVibratoRandom->LEDOn()); }

void tVoicemultiplyEditForm::rbDynamicsRandomChange(TControl*) { SetDynamicsRandom(rbDynamicsRandom->LEDOn()); }

// The section buttons are one radio group: pressing one darkens the others at once.
void tVoicemultiplyEditForm::rbSectionLEDChange(TControl* sender) {
  for (TRubberLEDButton* button : {rbSectionA, rbSectionB, rbSectionC, rbSectionD})
    if (button != sender) button->SetButtonState(tLED::rlbUpOff);
}

void tVoicemultiplyEditForm::rbSectionChange(TControl* sender) {
  const TControl* buttons[] = {rbSectionA, rbSectionB, rbSectionC, rbSectionD};
  for (int32_t k = 0; k < 4; ++k)
    if (buttons[k] == sender) {
      SetSection(k);
      return;
    }
}

}  // namespace vm
