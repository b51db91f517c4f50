// The form's only way back to whatever shows it in a plug-in format: the VST 2 editor
// writes the form's values into the effect's store, the LV2 user interface writes the
// changed ones to the host's ports. Neither the form nor this interface knows either.
#pragma once

namespace vm {

class tFormOwner {
 public:
  // The end of a gesture: a knob released, a button switched, or a value set outside a
  // drag the display follows. The owner reads the form's values and passes them on.
  virtual void FormChanged() = 0;

 protected:
  ~tFormOwner() = default;  // never deleted through this interface
};

}  // namespace vm
