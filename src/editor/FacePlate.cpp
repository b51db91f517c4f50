#include "editor/FacePlate.h"

#include "editor/EditForm.h"

namespace vm {

TBitmap PaintFacePlate() {
  // The drawn look never asks for the face plate, so this cannot recurse.
  tVoicemultiplyEditForm form(tFormLook::Drawn);
  form.LogoImageClick(form.LogoImage);
  // Enabled bodies and dark lamps: the live controls paint their own state over these.
  for (TControl* c : form.Controls()) {
    if (dynamic_cast<TRubberKnob*>(c) != nullptr) c->SetEnabled(true);
    if (auto* button = dynamic_cast<TRubberLEDButton*>(c)) {
      button->SetEnabled(true);
      button->SetButtonState(TRubberLEDButtonState::rlbUpOff);
    }
  }
  form.PaintRect(Bounds(0, 0, form.ClientWidth(), form.ClientHeight()));
  TBitmap picture = form.BackBuffer();
  picture.Transparent = false;
  return picture;
}

const TBitmap& FacePlatePicture() {
  static const TBitmap picture = PaintFacePlate();
  return picture;
}

}  // namespace vm
