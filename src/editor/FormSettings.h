// The form's values in the parameter table's settings (Parameters.h: Clones a voice
// count 1..32, Split 0..5, Section 0..4, switches 0/1, reals 0..1), both ways. Shared by
// every owner of a form, so that each plug-in format loads and reads it the same way.
#pragma once

#include <cstdint>

namespace vm {

class tVoicemultiplyEditForm;

// Feeds one stored setting to the parameter's set-operation (reals limited to 0..1, NaN
// as 0; counts and choices limited to their range). Unknown indexes change nothing.
void ShowSetting(tVoicemultiplyEditForm& form, int32_t index, float setting);
// The form's value of one parameter as a stored setting; 0 for an unknown index.
float FormSetting(const tVoicemultiplyEditForm& form, int32_t index);

}  // namespace vm
