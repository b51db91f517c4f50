// The editor form: 828 by 423 client pixels of knobs, LED buttons, labels and the
// display, built from a layout table, holding its own copy of the 21 parameter values.
// Values enter only through the set-operations; after each accepted value the form
// redraws the display and, unless a drag is being followed, tells its owner (the VST 2
// editor or the LV2 user interface) to pass the values on.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "controls/PlugInControls.h"
#include "editor/FormOwner.h"
#include "graphics/Controls.h"

namespace vm {


// Face plate: one flattened picture of the printed panel under the live controls (the
// plug-in). Drawn: metal, panels, labels and scales drawn by their own components.
enum class tFormLook { FacePlate, Drawn };

class tVoicemultiplyEditForm : public TForm {
 public:
  static constexpr int kClientWidth = 828;
  static constexpr int kClientHeight = 423;

  // Creates every component of the layout in order, then runs FormCreate with the
  // screen's resolution (which picks the font).
  explicit tVoicemultiplyEditForm(tFormLook look = tFormLook::FacePlate, int pixelsPerInch = 96);
  ~tVoicemultiplyEditForm() override;  // runs FormDestroy

  // ---- set-operations: each takes the value in the form's convention ----
  void SetClones(float knobPosition);  // (n - 1) / 31
  void SetTiming(float v);
  void SetVibratoDepth(float v);
  void SetVibratoRate(float v);
  void SetVibratoRandom(bool on);
  void SetDynamicsDepth(float v);
  void SetDynamicsRate(float v);
  void SetDynamicsRandom(bool on);
  void SetSplit(int32_t split);  // 0..5
  void SetBassFormants(float v);
  void SetBassLevel(float v);
  void SetUnisonFormants(float v);
  void SetUnisonLevel(float v);
  void SetAltoFormants(float v);
  void SetAltoLevel(float v);
  void SetSection(int32_t section);  // 0..4
  void SetFocus(float v);
  void SetBalance(float v);
  void SetMix(float v);
  void SetDryDelay(float v);
  void SetGain(float v);

  // The common tail of every set-operation: display redrawn, then the write-back.
  void ControlChanged();

  // ---- the form's copy of the values ----
  float VibratoDepth = 0;
  float VibratoRate = 0;
  bool VibratoRandom = false;
  float DynamicsDepth = 0;
  float DynamicsRate = 0;
  bool DynamicsRandom = false;
  float Clones = 0;
  float Timing = 0;
  int32_t Split = 0;
  float BassFormants = 0;
  float BassLevel = 0;
  float UnisonFormants = 0;
  float UnisonLevel = 0;
  float AltoFormants = 0;
  float AltoLevel = 0;
  int32_t Section = 0;
  float Focus = 0;
  float Balance = 0;
  float Mix = 0;
  float DryDelay = 0;
  float Gain = 0;
  tFormOwner* Editor = nullptr;  // not owned; none during FormCreate
  std::unique_ptr<TBitmap> DisplayBitmap;  // the rendered display
  bool Changing = false;                   // a following drag is in progress

  tFormLook Look() const { return look; }

  // ---- components (in creation order; owned by the form) ----
  // The layout builds and names every component; these are the ones the editor, the
  // native windows and the tests reach directly. All others are found by name.
  TRubberKnob* rkClones = nullptr;
  TRubberKnob* rkTiming = nullptr;
  TRubberKnob* rkVibratoDepth = nullptr;
  TRubberKnob* rkVibratoRate = nullptr;
  TRubberLEDButton* rbVibratoRandom = nullptr;
  TRubberKnob* rkDynamicsDepth = nullptr;
  TRubberKnob* rkDynamicsRate = nullptr;
  TRubberLEDButton* rbDynamicsRandom = nullptr;
  TRubberKnob* rkSplit = nullptr;
  TRubberKnob* rkBassFormants = nullptr;
  TRubberKnob* rkBassLevel = nullptr;
  TRubberKnob* rkUnisonFormants = nullptr;
  TRubberKnob* rkUnisonLevel = nullptr;
  TRubberKnob* rkAltoFormants = nullptr;
  TRubberKnob* rkAltoLevel = nullptr;
  TRubberLEDButton* rbSectionA = nullptr;
  TRubberLEDButton* rbSectionB = nullptr;
  TRubberLEDButton* rbSectionC = nullptr;
  TRubberLEDButton* rbSectionD = nullptr;
  TRubberKnob* rkFocus = nullptr;
  TRubberKnob* rkBalance = nullptr;
  TRubberKnob* rkMix = nullptr;
  TRubberKnob* rkDryDelay = nullptr;
  TRubberKnob* rkGain = nullptr;
  TPaintBox* pbDisplay = nullptr;
  TImage* IFacePlate = nullptr;
  TImage* iDisplayBorder = nullptr;
  TImage* iLCDHole = nullptr;
  TImage* LogoImage = nullptr;
  TLabel* labVersion = nullptr;
  TLabel* labVersionShadow = nullptr;
  TLabel* labUnshifted = nullptr;
  TLabel* labUnshiftedShadow = nullptr;
  TLabel* labLCDSetup = nullptr;

  // The component of that name and class, or null.
  template <class T>
  T* Find(const std::string& name) const {
    return dynamic_cast<T*>(FindControl(name));
  }

  // Window properties a native window applies (the form itself has no window).
  std::string Caption = "Voicemultiply";
  bool ToolWindowBorder = false;  // the drawn look's border; the plug-in has none

  // ---- handlers of the buttons, the logo and the display ----
  void rbVibratoRandomChange(TControl* sender);
  void rbDynamicsRandomChange(TControl* sender);
  void rbSectionLEDChange(TControl* sender);  // darkens the other section buttons
  void rbSectionChange(TControl* sender);     // selects the released button's section
  void LogoImageClick(TControl* sender);      // drawn look: strips every value-dependent element
  void pbDisplayPaint(TPaintBox* sender, TCanvas& canvas);

  // The handler bound under `name` (knob, button and logo events); empty when unknown.
  TNotifyEvent Handler(const std::string& name) const;

 private:
  void BuildComponents();
  void ApplyProperties();
  void LinkComponents();
  void RegisterHandlers();
  void BindHandlers();
  void FormCreate(int pixelsPerInch);
  void FormDestroy();
  void SelectLook();
  void ApplyFacePlateLook();
  void ApplyDrawnLook();
  void SetInitialValues();
  void NormaliseFonts(int pixelsPerInch);
  void LayOutLCDLabels(int32_t split);
  void SetSplitFromKnob(float knobValue);
  // Stores v in `field` and moves `knob`; false when a followed drag brings nothing new.
  bool StoreKnobValue(float& field, TRubberKnob* knob, float v);
  // Stores b in `field` and lights `button`; false when a followed drag brings nothing new.
  bool StoreButtonValue(bool& field, TRubberLEDButton* button, bool b);
  void KnobChange(TRubberKnob* knob, void (tVoicemultiplyEditForm::*set)(float));
  void KnobChangingFollowed(TRubberKnob* knob, void (tVoicemultiplyEditForm::*set)(float));
  void RenderDisplayNow();
  void WriteBack();

  tFormLook look;
  std::map<std::string, TNotifyEvent> handlers;
};

}  // namespace vm
