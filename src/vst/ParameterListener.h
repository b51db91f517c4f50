// What the effect tells its editor: a host value arrived for a parameter (stored or not).
// Called on the thread that called setParameter, possibly the audio thread, so an
// implementation must not block.
#pragma once

#include <cstdint>

namespace vm {

class tParameterListener {
 public:
  virtual void ParameterChanged(int32_t index) = 0;

 protected:
  ~tParameterListener() = default;
};

}  // namespace vm
