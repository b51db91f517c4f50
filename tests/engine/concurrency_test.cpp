// Hosts call setParameter from any thread while the audio thread processes. Under
// ThreadSanitizer this shows any data race; natively it checks the output stays sane.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "EngineFixture.h"

namespace vm {
namespace {

TEST(Concurrency, SetParameterWhileProcessing) {
  tVoicemultiply effect(nullptr);
  std::atomic<bool> done{false};
  std::atomic<long> blocks{0};
  std::atomic<bool> allFinite{true};

  std::thread audio([&] {
    std::vector<float> in(256), left(256), right(256);
    for (size_t i = 0; i < in.size(); ++i) in[i] = 0.4f * std::sin(0.07f * i);
    float* inputs[] = {in.data()};
    float* outputs[] = {left.data(), right.data()};
    while (!done.load()) {
      effect.processReplacing(inputs, outputs, 256);
      for (float v : left)
        if (!std::isfinite(v)) allFinite = false;
      ++blocks;
    }
  });

  // Parameter changes of every kind, table growth included, from a second thread.
  uint32_t seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1664525u + 1013904223u;
    const int index = static_cast<int>(seed >> 27) % kParameterCount;
    const float value = static_cast<float>((seed >> 8) & 0xFFFF) / 65535.0f;
    effect.setParameter(index, value);
    if (i % 500 == 0) std::this_thread::yield();
  }
  // A second processing thread must find the engine busy, never run it twice.
  std::thread intruder([&] {
    std::vector<float> in(64, 0.1f), left(64, 7.0f), right(64, 7.0f);
    float* inputs[] = {in.data()};
    float* outputs[] = {left.data(), right.data()};
    for (int i = 0; i < 200; ++i) effect.processReplacing(inputs, outputs, 64);
  });
  intruder.join();
  done = true;
  audio.join();
  EXPECT_GT(blocks.load(), 0);
  EXPECT_TRUE(allFinite.load());
}

}  // namespace
}  // namespace vm
