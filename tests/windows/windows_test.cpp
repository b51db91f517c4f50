// The Windows DLL under wine agrees with the Linux .so: the same input, the same settings,
// outputs within 1e-5.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "PluginHost.h"
#include "engine/Parameters.h"

namespace vm {
namespace {

TEST(WindowsBuild, DllUnderWineAgreesWithTheLinuxBuild) {
  const std::string winBuild = VM_WINDOWS_BUILD_DIR;
  const std::string dll = winBuild + "/VoicemultiplyV42_MS.dll";
  const std::string winHost = winBuild + "/tests/windows/vm_wine_host.exe";
  ASSERT_TRUE(std::ifstream(dll).good()) << dll;
  ASSERT_TRUE(std::ifstream(winHost).good()) << winHost;

  std::vector<float> input(48000);
  for (size_t i = 0; i < input.size(); ++i)
    input[i] = 0.5f * static_cast<float>(std::sin(2 * 3.141592653589793 * 220 * i / 48000.0)) +
               0.2f * static_cast<float>(std::sin(2 * 3.141592653589793 * 1234 * i / 48000.0));
  const std::string inPath = testing::TempDir() + "wine_in.raw";
  const std::string outPath = testing::TempDir() + "wine_out.raw";
  std::ofstream(inPath, std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size() * sizeof(float)));
  std::remove(outPath.c_str());

  // Stopped after 60 s, so a crash or hang in wine fails the test instead of stalling it.
  const std::string command = std::string("bash '") + VM_WINE_RUN + "' 60 '" + winHost + "' '" +
                              dll + "' '" + inPath + "' '" + outPath + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  std::ifstream result(outPath, std::ios::binary);
  std::vector<float> interleaved(input.size() * 2);
  result.read(reinterpret_cast<char*>(interleaved.data()), static_cast<std::streamsize>(interleaved.size() * sizeof(float)));
  ASSERT_EQ(result.gcount(), static_cast<std::streamsize>(interleaved.size() * sizeof(float)));

  tPluginHost host(std::getenv("VM_PLUGIN") ? std::getenv("VM_PLUGIN") : DefaultPluginPath());
  const std::pair<int, float> settings[] = {{kVibRandom, 0}, {kDynRandom, 0}, {kClones, 0.3f},
                                            {kTiming, 0.8f}, {kMix, 0.7f}, {kDryDelay, 0.1f}};
  for (const auto& [index, value] : settings) host.SetParameter(index, value);
  host.Start(48000.0f, 300);
  std::vector<float> left, right;
  host.Render(input, left, right, 300);

  double worst = 0, energy = 0;
  for (size_t i = 0; i < input.size(); ++i) {
    worst = std::max({worst, std::fabs(double(interleaved[2 * i]) - left[i]),
                      std::fabs(double(interleaved[2 * i + 1]) - right[i])});
    energy += double(left[i]) * left[i];
  }
  EXPECT_LT(worst, 1e-5);
  EXPECT_GT(energy, 100.0);  // the comparison is of real audio, not of silence
}

}  // namespace
}  // namespace vm
