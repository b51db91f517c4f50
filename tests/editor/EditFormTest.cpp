#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "editor/EditForm.h"
#include "editor/Editor.h"
#include "editor/FacePlate.h"
#include "editor/Layout.h"
#include "vst/Voicemultiply.h"
#include "graphics/Png.h"

namespace vm {
namespace {

using S = TRubberLEDButtonState;

// The plug-in's form, painted once so that every knob knows its centre.
struct FormFixture : ::testing::Test {
  tVoicemultiplyEditForm form;

  void SetUp() override { form.PaintInvalid(); }

  TLabel* Label(const std::string& name) const {
    TLabel* label = form.Find<TLabel>(name);
    EXPECT_NE(label, nullptr) << name;
    return label;
  }
  uint64_t DisplaySum() const { return form.DisplayBitmap->Checksum(); }
  // Mouse gestures at a point given relative to a knob's centre.
  void Down(TRubberKnob* knob, int dx, int dy) {
    form.MouseDown(TMouseButton::mbLeft, knob->Left() + knob->CentreX() + dx, knob->Top() + knob->CentreY() + dy);
  }
  void Move(TRubberKnob* knob, int dx, int dy) {
    form.MouseMove(knob->Left() + knob->CentreX() + dx, knob->Top() + knob->CentreY() + dy);
  }
  void Up(TRubberKnob* knob, int dx, int dy) {
    form.MouseUp(TMouseButton::mbLeft, knob->Left() + knob->CentreX() + dx, knob->Top() + knob->CentreY() + dy);
  }
  void Press(TControl* c) { form.MouseDown(TMouseButton::mbLeft, c->Left() + 20, c->Top() + 20); }
  void Release(TControl* c) { form.MouseUp(TMouseButton::mbLeft, c->Left() + 20, c->Top() + 20); }
};

// ---- building from the layout ----

TEST_F(FormFixture, ComponentsComeInLayoutOrderWithTheirKinds) {
  std::vector<std::string> named;
  for (TControl* c : form.Controls())
    if (!c->Name.empty()) named.push_back(c->Name);
  ASSERT_EQ(named.size(), 120u);
  EXPECT_EQ(named[0], "IFacePlate");
  EXPECT_EQ(named[93], "pbDisplay");
  EXPECT_EQ(named[94], "rkVibratoDepth");
  EXPECT_EQ(named[117], "rkGain");
  EXPECT_EQ(named[119], "iKnobLightDisabled");
  int knobs = 0, buttons = 0, labels = 0;
  for (TControl* c : form.Controls()) {
    knobs += dynamic_cast<TRubberKnob*>(c) != nullptr;
    buttons += dynamic_cast<TRubberLEDButton*>(c) != nullptr;
    labels += dynamic_cast<TLabel*>(c) != nullptr;
  }
  EXPECT_EQ(knobs, 18);
  EXPECT_EQ(buttons, 6);
  EXPECT_EQ(labels, 54);
  EXPECT_EQ(form.ClientWidth(), 828);
  EXPECT_EQ(form.ClientHeight(), 423);
  EXPECT_EQ(form.rkSplit->BoundsRect(), (TRect{142, 165, 258, 282}));
  EXPECT_EQ(form.pbDisplay->BoundsRect(), (TRect{41, 60, 231, 141}));
  EXPECT_EQ(form.rbSectionD->BoundsRect(), (TRect{288, 325, 328, 373}));
}

TEST_F(FormFixture, KnobsAndButtonsGetTheirPicturesAndHandlers) {
  for (const layout::tKnob& row : layout::Knobs()) {
    TRubberKnob* knob = form.Find<TRubberKnob>(row.Name);
    ASSERT_NE(knob, nullptr) << row.Name;
    EXPECT_EQ(knob->MainImage(), form.FindControl(row.Face)) << row.Name;
    EXPECT_EQ(knob->DisabledImage()->Name, std::string(row.Face) + "Disabled") << row.Name;
    EXPECT_EQ(knob->DotImage()->Name, "InnerDot");
    EXPECT_EQ(knob->Shimmer(4)->Name, "IShimmer4");
    EXPECT_FALSE(knob->MainImage()->Picture.Empty()) << row.Name;
    EXPECT_TRUE(knob->OnChange) << row.Name;
    EXPECT_TRUE(knob->OnChanging) << row.Name;
    EXPECT_EQ(knob->Diameter(), 52);
    EXPECT_EQ(knob->Ticks(), row.Ticks);
  }
  for (const layout::tLEDButton& row : layout::LEDButtons()) {
    TRubberLEDButton* button = form.Find<TRubberLEDButton>(row.Name);
    EXPECT_EQ(button->UpOff()->Name, row.UpOff);
    EXPECT_FALSE(button->UpOn()->Picture.Empty());
    EXPECT_TRUE(button->OnChange) << row.Name;
    EXPECT_EQ(static_cast<bool>(button->OnLEDChange), row.OnLEDChange != nullptr) << row.Name;
  }
  EXPECT_FALSE(form.Handler("rkNoSuchKnobChange"));
}

// Holders lend pictures and never show or take the mouse.
TEST_F(FormFixture, PictureHoldersStayHiddenAndDisabled) {
  for (const layout::tPicture& row : layout::PictureHolders()) {
    TControl* c = form.FindControl(row.Name);
    EXPECT_FALSE(c->Visible()) << row.Name;
    EXPECT_FALSE(c->Enabled()) << row.Name;
    EXPECT_GE(c->Top(), form.ClientHeight()) << row.Name;
  }
}

// ---- rules between controls ----

TEST_F(FormFixture, DynamicsDepthEnablesRateAndRandomAboveTwoHundredths) {
  struct Case { float depth; bool active; };
  const Case cases[] = {{0, false}, {0.02f, false}, {0.0201f, true}, {1, true}};
  form.SetDynamicsRandom(true);
  for (const Case& c : cases) {
    form.SetDynamicsDepth(c.depth);
    EXPECT_EQ(form.rkDynamicsRate->Enabled(), c.active) << c.depth;
    EXPECT_EQ(form.rbDynamicsRandom->Enabled(), c.active) << c.depth;
    EXPECT_EQ(form.rbDynamicsRandom->ButtonState(), c.active ? S::rlbUpOn : S::rlbUpOff) << c.depth;
    EXPECT_TRUE(form.DynamicsRandom);  // the setting itself is kept
  }
  // The random setting alone lights the lamp, even on a disabled button.
  form.SetDynamicsDepth(0);
  form.SetDynamicsRandom(true);
  EXPECT_EQ(form.rbDynamicsRandom->ButtonState(), S::rlbUpOn);
  EXPECT_FALSE(form.rbDynamicsRandom->Enabled());
}

TEST_F(FormFixture, MixEnablesDryDelayBelowNinetySevenHundredths) {
  struct Case { float mix; bool enabled; };
  const Case cases[] = {{0, true}, {0.9699f, true}, {0.97f, false}, {1, false}, {0.5f, true}};
  for (const Case& c : cases) {
    form.SetMix(c.mix);
    EXPECT_EQ(form.rkDryDelay->Enabled(), c.enabled) << c.mix;
  }
}

TEST_F(FormFixture, SplitEnablesTheKnobsOfTheSingingSections) {
  struct Case { int split; bool bass, unison, alto; };
  const Case cases[] = {{0, false, true, false}, {1, true, false, false}, {2, false, false, true},
                        {3, true, true, false},  {4, false, true, true},  {5, true, true, true}};
  for (const Case& c : cases) {
    form.SetSplit(c.split);
    EXPECT_FLOAT_EQ(form.rkSplit->Value(), c.split / 5.0f);
    EXPECT_EQ(form.rkBassFormants->Enabled(), c.bass) << c.split;
    EXPECT_EQ(form.rkBassLevel->Enabled(), c.bass) << c.split;
    EXPECT_EQ(form.rkUnisonFormants->Enabled(), c.unison) << c.split;
    EXPECT_EQ(form.rkUnisonLevel->Enabled(), c.unison) << c.split;
    EXPECT_EQ(form.rkAltoFormants->Enabled(), c.alto) << c.split;
    EXPECT_EQ(form.rkAltoLevel->Enabled(), c.alto) << c.split;
  }
}

TEST_F(FormFixture, UnshiftedIsBoldWithinTwoHundredthsOfTheMiddle) {
  struct Case { float formants; bool bold; };
  const Case cases[] = {{0.5f, true}, {0.49f, true}, {0.51f, true}, {0.45f, false}, {0.55f, false}, {0, false}};
  for (const Case& c : cases) {
    form.SetUnisonFormants(c.formants);
    EXPECT_EQ(form.labUnshifted->Font().Bold, c.bold) << c.formants;
    EXPECT_EQ(form.labUnshiftedShadow->Font().Bold, c.bold) << c.formants;
  }
}

TEST_F(FormFixture, TextLineShowsTheSetupAndTheSectionsInARow) {
  struct Case { int split; const char* setup; std::vector<std::string> row; };
  const Case cases[] = {
      {0, "All ", {"labLCDSetup", "labLCDUnison"}},
      {1, "All ", {"labLCDSetup", "labLCDBass"}},
      {2, "All ", {"labLCDSetup", "labLCDAlto"}},
      {3, "2-way: ", {"labLCDSetup", "labLCDBass", "labLCDDiv1", "labLCDUnison"}},
      {4, "2-way: ", {"labLCDSetup", "labLCDUnison", "labLCDDiv1", "labLCDAlto"}},
      {5, "3-way: ", {"labLCDSetup", "labLCDBass", "labLCDDiv1", "labLCDUnison", "labLCDDiv2", "labLCDAlto"}},
  };
  for (const Case& c : cases) {
    form.SetSplit(5 - c.split);  // from another layout, so every label has to move
    form.SetSplit(c.split);
    EXPECT_EQ(form.labLCDSetup->Caption(), c.setup);
    int x = form.iLCDHole->Left() + 4;
    for (const std::string& name : c.row) {
      EXPECT_TRUE(Label(name)->Visible()) << c.split << " " << name;
      EXPECT_EQ(Label(name)->Left(), x) << c.split << " " << name;
      EXPECT_GT(Label(name)->Width(), 0) << name;
      x = Label(name)->Left() + Label(name)->Width() + 2;
    }
    for (const char* name : layout::kLCDLabels) {
      if (std::find(c.row.begin(), c.row.end(), name) != c.row.end()) continue;
      EXPECT_FALSE(Label(name)->Visible()) << c.split << " " << name;
    }
  }
}

// ---- creation ----

TEST_F(FormFixture, CreationLeavesTheInitialValuesAndTheirDependants) {
  EXPECT_EQ(form.Editor, nullptr);
  EXPECT_FALSE(form.Changing);
  for (TRubberKnob* knob : {form.rkBassFormants, form.rkBassLevel, form.rkAltoFormants, form.rkAltoLevel,
                            form.rkDynamicsRate})
    EXPECT_FALSE(knob->Enabled()) << knob->Name;
  for (TRubberKnob* knob : {form.rkUnisonFormants, form.rkUnisonLevel, form.rkDryDelay, form.rkGain, form.rkClones})
    EXPECT_TRUE(knob->Enabled()) << knob->Name;
  EXPECT_FALSE(form.rbDynamicsRandom->Enabled());
  EXPECT_EQ(form.rbSectionA->ButtonState(), S::rlbUpOn);
  for (TRubberLEDButton* b : {form.rbSectionB, form.rbSectionC, form.rbSectionD, form.rbVibratoRandom})
    EXPECT_EQ(b->ButtonState(), S::rlbUpOff) << b->Name;
  EXPECT_TRUE(form.labUnshifted->Font().Bold);
  EXPECT_EQ(form.labLCDSetup->Caption(), "All ");
  EXPECT_TRUE(Label("labLCDUnison")->Visible());
  EXPECT_NEAR(form.rkClones->AngleOffset(), 0.013825, 1e-6);
  EXPECT_FLOAT_EQ(form.Gain, 1);
  EXPECT_FLOAT_EQ(form.rkGain->Value(), 1);
  EXPECT_FLOAT_EQ(form.BassLevel, 0.5f);
  EXPECT_FLOAT_EQ(form.rkAltoFormants->Value(), 0.5f);
  EXPECT_FLOAT_EQ(form.DryDelay, 0);
  EXPECT_EQ(form.labVersion->Caption(), form.labVersionShadow->Caption());
  EXPECT_FALSE(form.labVersion->Caption().empty());
  EXPECT_LE(form.labVersion->Caption().size(), 4u);
  ASSERT_NE(form.DisplayBitmap, nullptr);
  EXPECT_EQ(form.DisplayBitmap->Width(), 190);
  EXPECT_EQ(form.DisplayBitmap->Height(), 81);
}

TEST(EditFormFont, ScreenResolutionPicksTheFontOfKnobsAndLabels) {
  struct Case { int ppi; const char* name; };
  const Case cases[] = {{96, "MS Sans Serif"}, {100, "MS Sans Serif"}, {101, "Arial"}, {120, "Arial"}};
  for (const Case& c : cases) {
    tVoicemultiplyEditForm form(tFormLook::FacePlate, c.ppi);
    int checked = 0;
    for (TControl* control : form.Controls()) {
      if (dynamic_cast<TRubberKnob*>(control) == nullptr && dynamic_cast<TLabel*>(control) == nullptr) continue;
      EXPECT_EQ(control->Font().Name, c.name) << c.ppi << " " << control->Name;
      EXPECT_EQ(control->Font().Height, -11) << control->Name;
      ++checked;
    }
    EXPECT_EQ(checked, 18 + 54);
    // Colour and weight of the layout survive the change of name.
    EXPECT_EQ(form.Find<TLabel>("labLCDAlto")->Font().Color, RGB(255, 64, 255));
    EXPECT_TRUE(form.Find<TLabel>("labGain")->Font().Bold);
  }
}

// ---- looks ----

TEST_F(FormFixture, FacePlateShowsOnlyTheValueDependentLabelsAndNoScales) {
  form.SetSplit(4);
  std::set<std::string> visible;
  for (TControl* c : form.Controls())
    if (dynamic_cast<TLabel*>(c) != nullptr && c->Visible()) visible.insert(c->Name);
  const std::set<std::string> expected = {"labVersion", "labVersionShadow", "labUnshifted", "labUnshiftedShadow",
                                          "labLCDSetup", "labLCDUnison",    "labLCDDiv1",   "labLCDAlto"};
  EXPECT_EQ(visible, expected);
  for (const layout::tKnob& row : layout::Knobs())
    EXPECT_EQ(form.Find<TRubberKnob>(row.Name)->Labels().Count(), 0) << row.Name;
  for (const char* name : {"BrushedMetal", "panTitle", "panDisplay", "panVibrato", "panDynamics", "panClones",
                           "panVoxmorph", "panPositions", "LogoImage", "Bevel1", "Bevel2", "ImageScrew1",
                           "ImageScrew4", "iDisplayBorder", "iRandomVibratoHole", "iRandomDynamicsHole",
                           "i4ButtonHole"})
    EXPECT_FALSE(form.FindControl(name)->Visible()) << name;
  EXPECT_TRUE(form.IFacePlate->Visible());
  EXPECT_TRUE(form.iLCDHole->Visible());
  EXPECT_EQ(form.IFacePlate->Picture.Width(), 828);
  EXPECT_EQ(form.IFacePlate->Picture.Height(), 423);
  EXPECT_FALSE(form.ToolWindowBorder);
}

TEST(EditFormLook, DrawnLookShowsPanelsLabelsAndScales) {
  tVoicemultiplyEditForm form(tFormLook::Drawn);
  EXPECT_FALSE(form.IFacePlate->Visible());
  EXPECT_TRUE(form.IFacePlate->Picture.Empty());  // never asks for the face plate
  for (const char* name : {"BrushedMetal", "panTitle", "panClones", "panPositions", "LogoImage", "ImageScrew2",
                           "labCopyright", "labURLShadow", "labGain", "labSectionDShadow", "iDisplayBorder"})
    EXPECT_TRUE(form.FindControl(name)->Visible()) << name;
  EXPECT_EQ(form.rkClones->Labels().Count(), 32);
  EXPECT_EQ(form.rkClones->Labels()[31], "32");
  EXPECT_EQ(form.rkBalance->Labels()[1], "Even spread");
  EXPECT_TRUE(form.ToolWindowBorder);
  // The maker's lines stay inside their title strip, clear of the right bevel.
  TControl* copyright = form.FindControl("labCopyright");
  TControl* url = form.FindControl("labURL");
  EXPECT_LE(copyright->Left() + copyright->Width(), 805);
  EXPECT_GE(url->Left(), 615);
  EXPECT_EQ(url->Left() + url->Width(), 673 + 121);  // right-aligned: its right edge stays
}

TEST(EditFormLook, LogoClickStripsValuesInTheDrawnLookOnly) {
  struct Case { tFormLook look; bool strips; };
  for (const Case& c : {Case{tFormLook::Drawn, true}, Case{tFormLook::FacePlate, false}}) {
    tVoicemultiplyEditForm form(c.look);
    form.SetSplit(5);
    form.LogoImageClick(form.LogoImage);
    for (const layout::tKnob& row : layout::Knobs()) {
      TRubberKnob* knob = form.Find<TRubberKnob>(row.Name);
      EXPECT_EQ(knob->DotImage() == nullptr, c.strips) << row.Name;
      EXPECT_EQ(knob->DotLayer()->Visible(), !c.strips) << row.Name;
    }
    for (TLabel* label : {form.labVersion, form.labVersionShadow, form.labUnshifted, form.labUnshiftedShadow})
      EXPECT_EQ(label->Visible(), !c.strips) << label->Name;
    EXPECT_EQ(form.pbDisplay->Visible(), !c.strips);
    for (const char* name : layout::kLCDLabels)
      EXPECT_EQ(form.Find<TLabel>(name)->Caption().empty(), c.strips) << name;
    const TBitmap& display = *form.DisplayBitmap;
    bool allBlack = true;
    for (int y = 0; y < display.Height(); ++y)
      for (int x = 0; x < display.Width(); ++x) allBlack = allBlack && display.Colour(x, y) == clBlack;
    EXPECT_EQ(allBlack, c.strips);
  }
}

// ---- where labels are drawn ----

// The pixels that drawing `text` with its cell's top-left at (x, y) touches, found by
// drawing it alone on a blank bitmap with room on every side.
TRect DrawnInk(const TFont& font, const std::string& text, int x, int y) {
  constexpr int kRoom = 16;
  TBitmap scratch(TextWidth(font, text) + 2 * kRoom, TextHeight(font) + 2 * kRoom);
  scratch.Fill(clBlack);
  DrawText(scratch, font, kRoom, kRoom, text, clWhite, Bounds(0, 0, scratch.Width(), scratch.Height()));
  TRect ink;
  for (int py = 0; py < scratch.Height(); ++py)
    for (int px = 0; px < scratch.Width(); ++px)
      if (scratch.Colour(px, py) != clBlack) ink = ink.Union(Bounds(px, py, 1, 1));
  return ink.Offset(x - kRoom, y - kRoom);
}

// The green panel under a control (the one holding its centre), less its one-pixel border.
TRect PanelInterior(const tVoicemultiplyEditForm& form, const TControl* control) {
  const TRect box = control->BoundsRect();
  const int cx = (box.Left + box.Right) / 2, cy = (box.Top + box.Bottom) / 2;
  for (TControl* c : form.Controls())
    if (dynamic_cast<TPaintedPanel*>(c) != nullptr && c->BoundsRect().Contains(cx, cy))
      return TRect{c->Left() + 1, c->Top() + 1, c->Left() + c->Width() - 1, c->Top() + c->Height() - 1};
  return {};
}

bool Holds(const TRect& outer, const TRect& inner) { return outer.Intersect(inner) == inner; }

// One drawn text: the control that draws it and its ink in that control's pixels.
struct DrawnLabel {
  const TControl* control;
  std::string text;
  TRect ink;
};

// Every caption of the drawn look (the face plate is made from it) and every knob's scale
// labels, shadow and highlight included.
std::vector<DrawnLabel> EveryDrawnLabel(const tVoicemultiplyEditForm& form) {
  std::vector<DrawnLabel> drawn;
  for (TControl* c : form.Controls()) {
    if (auto* label = dynamic_cast<TLabel*>(c); label != nullptr && label->Visible()) {
      const std::string text = label->DisplayText();
      drawn.push_back({label, text, DrawnInk(label->Font(), text, label->TextStart(), 0)});
    }
    if (auto* knob = dynamic_cast<TRubberKnob*>(c))
      for (const TRubberKnob::TLabelPlacement& p : knob->LabelPlacements()) {
        const TRect ink = DrawnInk(p.Font, p.Text, p.X, p.Y);
        TRect all = ink;
        if (knob->DoShadow()) all = all.Union(ink.Offset(1, 1));
        if (knob->DoHilight()) all = all.Union(ink.Offset(-1, -1));
        drawn.push_back({knob, p.Text, all});
      }
  }
  return drawn;
}

TEST(EditFormLabels, EveryLabelIsDrawnInsideItsControlAndItsPanel) {
  tVoicemultiplyEditForm form(tFormLook::Drawn);
  form.SetSplit(5);  // the whole text line
  form.PaintInvalid();
  const std::vector<DrawnLabel> drawn = EveryDrawnLabel(form);
  ASSERT_GT(drawn.size(), 100u);
  for (const DrawnLabel& label : drawn) {
    const std::string what = label.control->Name + " \"" + label.text + "\"";
    ASSERT_FALSE(label.ink.IsEmpty()) << what;
    EXPECT_TRUE(Holds(Bounds(0, 0, label.control->Width(), label.control->Height()), label.ink))
        << what << " runs past its control: ink x " << label.ink.Left << ".." << label.ink.Right << " y "
        << label.ink.Top << ".." << label.ink.Bottom << " in " << label.control->Width() << " by "
        << label.control->Height();
    const TRect panel = PanelInterior(form, label.control);
    const TRect onForm = label.ink.Offset(label.control->Left(), label.control->Top());
    EXPECT_TRUE(Holds(panel, onForm)) << what << " runs past its panel: ink x " << onForm.Left << ".."
                                      << onForm.Right << ", panel " << panel.Left << ".." << panel.Right;
  }
}

// The ink a control adds to the painted form: the form painted with and without it.
TRect InkOf(tVoicemultiplyEditForm& form, TControl* control) {
  const TRect all = Bounds(0, 0, form.ClientWidth(), form.ClientHeight());
  form.PaintRect(all);
  const TBitmap with = form.BackBuffer();
  control->Hide();
  form.PaintRect(all);
  control->Show();
  TRect ink;
  for (int y = 0; y < with.Height(); ++y)
    for (int x = 0; x < with.Width(); ++x)
      if (with.Pixel(x, y) != form.BackBuffer().Pixel(x, y)) ink = ink.Union(Bounds(x, y, 1, 1));
  return ink;
}

TEST(EditFormLabels, CaptionsAreCentredUnderTheirKnobs) {
  struct Case { const char* caption; std::vector<const char*> knobs; };
  const Case cases[] = {
      {"labClones", {"rkClones"}},
      {"labTiming", {"rkTiming"}},
      {"labSplit", {"rkSplit"}},
      {"labUnshifted", {"rkUnisonFormants"}},
      {"labBassClones", {"rkBassFormants", "rkBassLevel"}},
      {"labUnisonClones", {"rkUnisonFormants", "rkUnisonLevel"}},
      {"labAltoClones", {"rkAltoFormants", "rkAltoLevel"}},
      {"labFocus", {"rkFocus"}},
      {"labBalance", {"rkBalance"}},
      {"labMix", {"rkMix"}},
      {"labDryDelay", {"rkDryDelay"}},
      {"labGain", {"rkGain"}},
  };
  tVoicemultiplyEditForm form(tFormLook::Drawn);
  form.PaintInvalid();
  for (const Case& c : cases) {
    double knobCentre = 0;
    for (const char* name : c.knobs) {
      const TRubberKnob* knob = form.Find<TRubberKnob>(name);
      knobCentre += (knob->Left() + knob->CentreX() + 0.5) / static_cast<double>(c.knobs.size());
    }
    const TRect ink = InkOf(form, form.FindControl(c.caption));
    ASSERT_FALSE(ink.IsEmpty()) << c.caption;
    EXPECT_NEAR((ink.Left + ink.Right) / 2.0, knobCentre, 1.0) << c.caption << " ink " << ink.Left << ".." << ink.Right;
  }
}

// The text line's dividers keep their colour on the black screen: solid dots on whole
// pixels, not glyph dots blended into the black.
TEST_F(FormFixture, TextLineDividersAreSolidDotsOfTheirColour) {
  form.SetSplit(5);
  for (const char* name : {"labLCDDiv1", "labLCDDiv2"}) {
    TControl* divider = form.FindControl(name);
    const TRect all = Bounds(0, 0, form.ClientWidth(), form.ClientHeight());
    form.PaintRect(all);
    const TBitmap with = form.BackBuffer();
    divider->Hide();
    form.PaintRect(all);
    divider->Show();
    std::set<int> inkRows;
    int inked = 0;
    for (int y = 0; y < with.Height(); ++y)
      for (int x = 0; x < with.Width(); ++x) {
        if (with.Pixel(x, y) == form.BackBuffer().Pixel(x, y)) continue;
        EXPECT_EQ(with.Colour(x, y), RGB(0, 191, 0)) << name << " at " << x << ", " << y;
        inkRows.insert(y);
        ++inked;
      }
    EXPECT_GE(inked, 4) << name;
    // Two dots one above the other: the rows with ink are not one run.
    ASSERT_FALSE(inkRows.empty()) << name;
    EXPECT_GT(*inkRows.rbegin() - *inkRows.begin() + 1, static_cast<int>(inkRows.size())) << name;
  }
}

// ---- display and drags ----

TEST_F(FormFixture, DisplayIsCopiedOntoThePaintBoxAtOnce) {
  form.SetFocus(1);
  form.SetBalance(0.5f);
  form.SetTiming(1);
  form.SetClones(1);
  const TBitmap& shown = form.BackBuffer();
  const TBitmap& display = *form.DisplayBitmap;
  int differing = 0;
  for (int y = 0; y < display.Height(); ++y)
    for (int x = 0; x < display.Width(); ++x)
      differing += shown.Colour(form.pbDisplay->Left() + x, form.pbDisplay->Top() + y) != display.Colour(x, y);
  EXPECT_EQ(differing, 0);
}

// A following knob redraws the display at every step; the form's value follows too.
TEST_F(FormFixture, DraggingClonesRedrawsTheDisplayAtEveryStep) {
  form.SetFocus(1);
  form.SetBalance(0.5f);
  form.SetTiming(1);
  TRubberKnob* knob = form.rkClones;
  uint64_t before = DisplaySum();
  const int path[][2] = {{-30, 0}, {-20, -25}, {0, -30}, {25, -20}, {30, 5}};
  Down(knob, path[0][0], path[0][1]);
  for (const auto& p : path) {
    Move(knob, p[0], p[1]);
    EXPECT_FALSE(form.Changing);
    EXPECT_EQ(form.Clones, knob->Value());
    EXPECT_NE(DisplaySum(), before) << p[0] << "," << p[1];
    before = DisplaySum();
  }
  Up(knob, path[4][0], path[4][1]);
  EXPECT_FALSE(form.Changing);
  EXPECT_EQ(form.Clones, knob->Value());
  EXPECT_GT(form.Clones, 0.5f);
}

// A knob that does not follow moves alone until it is released.
TEST_F(FormFixture, DraggingVibratoDepthChangesNothingUntilRelease) {
  TRubberKnob* knob = form.rkVibratoDepth;
  const uint64_t display = DisplaySum();
  Down(knob, -30, 0);
  Move(knob, 0, -30);
  Move(knob, 30, 0);
  EXPECT_GT(knob->Value(), 0.5f);
  EXPECT_EQ(form.VibratoDepth, 0);
  EXPECT_EQ(DisplaySum(), display);
  Up(knob, 30, 0);
  EXPECT_EQ(form.VibratoDepth, knob->Value());
  EXPECT_GT(form.VibratoDepth, 0.5f);
}

TEST_F(FormFixture, SplitKnobRoundsToItsSixSettings) {
  TRubberKnob* knob = form.rkSplit;
  Down(knob, 30, 5);  // near the top of the scale
  EXPECT_GE(form.Split, 4);
  EXPECT_FLOAT_EQ(knob->Value(), form.Split / 5.0f);
  EXPECT_TRUE(form.rkAltoLevel->Enabled());  // dependants follow the drag
  Up(knob, 30, 5);
  EXPECT_EQ(form.Split, static_cast<int>(std::nearbyint(knob->Value() * 5)));
}

// During a followed drag a value equal to the stored one, with the control already there,
// is skipped; outside a drag nothing is.
TEST_F(FormFixture, SetOperationsSkipOnlyRedundantDragSteps) {
  struct Case { const char* what; bool changing; bool moveControlAway; bool rendered; };
  const Case cases[] = {
      {"outside a drag", false, false, true},
      {"drag, nothing new", true, false, false},
      {"drag, control elsewhere", true, true, true},
  };
  struct Op { const char* name; std::function<void()> set; std::function<void()> moveAway; };
  const Op ops[] = {
      {"Timing", [&] { form.SetTiming(0.3f); }, [&] { form.rkTiming->SetValue(0.9f); }},
      {"Split", [&] { form.SetSplit(2); }, [&] { form.rkSplit->SetValue(0); }},
      {"VibratoRandom", [&] { form.SetVibratoRandom(true); },
       [&] { form.rbVibratoRandom->SetButtonState(S::rlbUpOff); }},
  };
  for (const Op& op : ops)
    for (const Case& c : cases) {
      op.set();  // the stored value and the control agree
      if (c.moveControlAway) op.moveAway();
      form.DisplayBitmap->Fill(clRed);  // a render overwrites it
      form.Changing = c.changing;
      op.set();
      form.Changing = false;
      EXPECT_EQ(form.DisplayBitmap->Colour(0, 40) != clRed, c.rendered) << op.name << ": " << c.what;
    }
  EXPECT_FLOAT_EQ(form.rkTiming->Value(), 0.3f);
  EXPECT_FLOAT_EQ(form.rkSplit->Value(), 0.4f);
  EXPECT_EQ(form.rbVibratoRandom->ButtonState(), S::rlbUpOn);
  // Section is never skipped.
  form.DisplayBitmap->Fill(clRed);
  form.Changing = true;
  form.SetSection(0);
  form.Changing = false;
  EXPECT_NE(form.DisplayBitmap->Colour(0, 40), clRed);
}

// ---- buttons ----

TEST_F(FormFixture, SectionButtonsAreARadioGroup) {
  Press(form.rbSectionB);
  EXPECT_EQ(form.Section, 0);  // selected only at the release
  EXPECT_EQ(form.rbSectionA->ButtonState(), S::rlbUpOff);
  EXPECT_EQ(form.rbSectionB->ButtonState(), S::rlbDownOn);
  Release(form.rbSectionB);
  EXPECT_EQ(form.Section, 1);
  EXPECT_EQ(form.rbSectionB->ButtonState(), S::rlbUpOn);
  for (TRubberLEDButton* b : {form.rbSectionA, form.rbSectionC, form.rbSectionD})
    EXPECT_EQ(b->ButtonState(), S::rlbUpOff) << b->Name;
  // Pressing the lit button darkens it; its release lights it again.
  Press(form.rbSectionB);
  EXPECT_EQ(form.rbSectionB->ButtonState(), S::rlbDownOff);
  Release(form.rbSectionB);
  EXPECT_EQ(form.Section, 1);
  EXPECT_EQ(form.rbSectionB->ButtonState(), S::rlbUpOn);
  // Any other sender selects nothing.
  form.rbSectionChange(form.rkGain);
  EXPECT_EQ(form.Section, 1);
  // A host Section 4 lights none.
  form.SetSection(4);
  for (TRubberLEDButton* b : {form.rbSectionA, form.rbSectionB, form.rbSectionC, form.rbSectionD})
    EXPECT_EQ(b->ButtonState(), S::rlbUpOff) << b->Name;
}

TEST_F(FormFixture, RandomButtonsToggleAtTheRelease) {
  Press(form.rbVibratoRandom);
  EXPECT_FALSE(form.VibratoRandom);
  Release(form.rbVibratoRandom);
  EXPECT_TRUE(form.VibratoRandom);
  EXPECT_EQ(form.rbVibratoRandom->ButtonState(), S::rlbUpOn);
  // Disabled at depth 0: the press goes nowhere.
  Press(form.rbDynamicsRandom);
  Release(form.rbDynamicsRandom);
  EXPECT_FALSE(form.DynamicsRandom);
  form.SetDynamicsDepth(0.5f);
  Press(form.rbDynamicsRandom);
  Release(form.rbDynamicsRandom);
  EXPECT_TRUE(form.DynamicsRandom);
}

// ---- the face plate and the pictures of both looks ----

TEST(FacePlate, MadeOnceAndFreeOfValues) {
  const TBitmap& plate = FacePlatePicture();
  EXPECT_EQ(&plate, &FacePlatePicture());
  ASSERT_EQ(plate.Width(), 828);
  ASSERT_EQ(plate.Height(), 423);
  tVoicemultiplyEditForm form;
  EXPECT_EQ(form.IFacePlate->Picture.Checksum(), plate.Checksum());
  // No voice marker in the screen and no text on the LCD line: both are drawn live.
  const TRect screen = form.pbDisplay->BoundsRect();
  const TRect line = form.iLCDHole->BoundsRect();
  int markers = 0, lcdText = 0;
  for (int y = 0; y < plate.Height(); ++y)
    for (int x = 0; x < plate.Width(); ++x) {
      const TColor c = plate.Colour(x, y);
      if (screen.Contains(x, y) && (c == RGB(0, 224, 0) || c == RGB(0, 160, 0))) ++markers;
      if (line.Contains(x, y) && GetG(c) > 150 && GetR(c) < 100) ++lcdText;
    }
  EXPECT_EQ(markers, 0);
  EXPECT_EQ(lcdText, 0);
  SaveSnapshot(plate, "editor_face_plate");
}

TEST(EditFormSnapshot, BothLooksWithAFewValues) {
  for (tFormLook look : {tFormLook::FacePlate, tFormLook::Drawn}) {
    tVoicemultiplyEditForm form(look);
    form.SetClones(0.5f);
    form.SetTiming(0.6f);
    form.SetFocus(0.8f);
    form.SetBalance(0.5f);
    form.SetSplit(5);
    form.SetMix(0.6f);
    form.SetDryDelay(0.4f);
    form.SetSection(2);
    form.SetVibratoDepth(0.3f);
    form.SetVibratoRandom(true);
    form.PaintInvalid();
    const TBitmap& shown = form.BackBuffer();
    // The screen shows the display, the text line the Bass label's blue.
    int blue = 0;
    const TRect line = form.iLCDHole->BoundsRect();
    for (int y = line.Top; y < line.Bottom; ++y)
      for (int x = line.Left; x < line.Right; ++x) blue += GetB(shown.Colour(x, y)) > 200 && GetG(shown.Colour(x, y)) < 150;
    EXPECT_GT(blue, 5);
    EXPECT_EQ(shown.Colour(form.pbDisplay->Left() + 10, form.pbDisplay->Top() + 10),
              form.DisplayBitmap->Colour(10, 10));
    SaveSnapshot(shown, look == tFormLook::FacePlate ? "editor_face_plate_look" : "editor_drawn_look");
  }
}

// ---- write-back to the effect ----

// The real editor, counting the write-backs the form asks for.
struct CountingEditor : tVoicemultiplyEditor {
  using tVoicemultiplyEditor::tVoicemultiplyEditor;
  int updates = 0;
  void update() override {
    ++updates;
    tVoicemultiplyEditor::update();
  }
};

struct WriteBackFixture : ::testing::Test {
  tVoicemultiply effect{nullptr};
  CountingEditor* editor = new CountingEditor(effect);  // the effect owns its editor
  tVoicemultiplyEditForm* shown = nullptr;

  void SetUp() override {
    ERect* rect = nullptr;
    ASSERT_EQ(editor->getRect(&rect), 1);
    shown = editor->Form();
    ASSERT_NE(shown, nullptr);
    ASSERT_EQ(shown->Editor, editor);
    shown->PaintInvalid();
    editor->updates = 0;
  }
  void Drag(TRubberKnob* knob, const std::function<void()>& duringDrag) {
    auto at = [knob](int dx, int dy) { return std::pair{knob->Left() + knob->CentreX() + dx, knob->Top() + knob->CentreY() + dy}; };
    auto [x0, y0] = at(-30, 0);
    auto [x1, y1] = at(0, -30);
    auto [x2, y2] = at(30, 0);
    shown->MouseDown(TMouseButton::mbLeft, x0, y0);
    shown->MouseMove(x1, y1);
    shown->MouseMove(x2, y2);
    duringDrag();
    shown->MouseUp(TMouseButton::mbLeft, x2, y2);
  }
};

TEST_F(WriteBackFixture, DragsReachTheEffectOnlyAtTheRelease) {
  struct Case { const char* knob; std::function<float()> effectValue; std::function<float()> formValue; };
  const Case cases[] = {
      {"rkVibratoDepth", [&] { return static_cast<float>(effect.Setting(kVibDepth)); }, [&] { return shown->VibratoDepth; }},
      {"rkClones", [&] { return static_cast<float>(effect.Setting(kClones)); },
       [&] { return static_cast<float>(std::nearbyint(shown->Clones * 31) + 1); }},
      {"rkGain", [&] { return static_cast<float>(effect.Setting(kGain)); }, [&] { return shown->Gain; }},
  };
  for (const Case& c : cases) {
    editor->updates = 0;
    const float before = c.effectValue();
    Drag(shown->Find<TRubberKnob>(c.knob), [&] {
      EXPECT_EQ(editor->updates, 0) << c.knob;
      EXPECT_EQ(c.effectValue(), before) << c.knob;
    });
    EXPECT_EQ(editor->updates, 1) << c.knob;
    EXPECT_EQ(c.effectValue(), c.formValue()) << c.knob;
    EXPECT_NE(c.effectValue(), before) << c.knob;
  }
}

TEST_F(WriteBackFixture, ButtonsWriteBackAtEachReleaseAndSetOperationsAtOnce) {
  shown->MouseDown(TMouseButton::mbLeft, shown->rbSectionC->Left() + 20, shown->rbSectionC->Top() + 20);
  EXPECT_EQ(editor->updates, 0);
  shown->MouseUp(TMouseButton::mbLeft, shown->rbSectionC->Left() + 20, shown->rbSectionC->Top() + 20);
  EXPECT_EQ(editor->updates, 1);
  EXPECT_EQ(static_cast<int32_t>(effect.Setting(kSection)), 2);
  // The lit button again: the same Section is written once more.
  shown->MouseDown(TMouseButton::mbLeft, shown->rbSectionC->Left() + 20, shown->rbSectionC->Top() + 20);
  shown->MouseUp(TMouseButton::mbLeft, shown->rbSectionC->Left() + 20, shown->rbSectionC->Top() + 20);
  EXPECT_EQ(editor->updates, 2);
  EXPECT_EQ(static_cast<int32_t>(effect.Setting(kSection)), 2);
  shown->SetMix(0.25f);
  EXPECT_EQ(editor->updates, 3);
  EXPECT_FLOAT_EQ(effect.Setting(kMix), 0.25f);
  // A redundant step of a followed drag asks for nothing, as does any step of it.
  shown->Changing = true;
  shown->SetMix(0.25f);
  shown->SetMix(0.5f);
  shown->Changing = false;
  EXPECT_EQ(editor->updates, 3);
}

}  // namespace
}  // namespace vm
