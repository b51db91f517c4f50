// The section recipes of the README, run as written: each one's settings are read from the
// README's recipe table, the renderer runs them on a sung vowel, and the rendered file must
// sound the way the table says (an octave down, an octave up, or all three sections).
// A recipe that is missing from the README, or that no longer does what its row says,
// fails.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "signals/Envelope.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace vm {
namespace {

constexpr int kRateHz = 44100;
constexpr double kF0Hz = 200.0;

std::string Renderer() {
  const char* path = std::getenv("VM_RENDERER");
  return path ? path : VM_RENDERER_DEFAULT;
}

// The code spans (`...`) of the recipe row whose first cell is `sound`; empty if no row.
std::vector<std::string> RecipeSpans(const std::string& sound) {
  std::ifstream readme(VM_README);
  std::string line;
  while (std::getline(readme, line)) {
    if (line.rfind("| " + sound + " |", 0) != 0) continue;
    std::vector<std::string> spans;
    for (size_t open = line.find('`'); open != std::string::npos; open = line.find('`', open)) {
      const size_t close = line.find('`', open + 1);
      if (close == std::string::npos) break;
      spans.push_back(line.substr(open + 1, close - open - 1));
      open = close + 1;
    }
    return spans;
  }
  return {};
}

class RendererRecipes : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vm-recipes-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    input = folder + "/solo.wav";
    WriteMono(input, signals::SungVowel(kF0Hz, kRateHz, kRateHz * 2));
  }
  void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }

  static void WriteMono(const std::string& path, const std::vector<float>& x) {
    SF_INFO info{};
    info.samplerate = kRateHz;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(sf_writef_float(file, x.data(), static_cast<sf_count_t>(x.size())), sf_count_t(x.size()));
    sf_close(file);
  }

  // Runs the renderer with `settings` on the vowel; returns the left channel.
  std::vector<float> Render(const std::string& settings) {
    const std::string output = folder + "/out.wav";
    std::remove(output.c_str());
    const std::string command = "'" + Renderer() + "' " + settings + " '" + input + "' '" +
                                output + "' 2>" + folder + "/render.log";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    SF_INFO info{};
    SNDFILE* file = sf_open(output.c_str(), SFM_READ, &info);
    if (file == nullptr) {
      ADD_FAILURE() << "no output for " << settings;
      return {};
    }
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, kRateHz);
    std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, frames.data(), info.frames);
    sf_close(file);
    std::vector<float> left;
    for (size_t i = 0; i < frames.size(); i += static_cast<size_t>(info.channels)) left.push_back(frames[i]);
    return left;
  }

  std::string folder, input;
};

// Measures of the second half of a rendered vowel: its pitch relative to the input's, its
// level, and the share of the lines only the bass section makes (odd multiples of f0 / 2)
// and of the odd harmonics of f0 that the alto section alone cannot make. The voices'
// vibrato smears a line by a few per cent, so only lines up to 1 kHz are counted.
struct tSound {
  double pitchRatio, levelDb, bassLinesDb, oddHarmonicsDb;
};

tSound Measure(const std::vector<float>& x) {
  const size_t from = kRateHz, length = kRateHz / 2;
  if (x.size() < from + length + 8192) return {0, -300, -300, -300};
  const double level = signals::RmsDb(x, from, from + length);
  return {signals::EstimatePitchHz(x, from, 4096, kRateHz, 50.0, 1000.0) / kF0Hz, level,
          signals::SeriesDb(x, from, length, kRateHz, kF0Hz / 2, kF0Hz, 1000.0) - level,
          signals::SeriesDb(x, from, length, kRateHz, kF0Hz, 2 * kF0Hz, 1000.0) - level};
}

std::string Describe(const tSound& s) {
  std::ostringstream text;
  text << "pitch x" << s.pitchRatio << ", level " << s.levelDb << " dB, bass lines "
       << s.bassLinesDb << " dB, odd harmonics " << s.oddHarmonicsDb << " dB";
  return text.str();
}

TEST_F(RendererRecipes, SectionRecipesDoWhatTheReadmeSays) {
  const struct {
    const char* sound;   // first cell of the recipe row
    double pitchRatio;   // output f0 / input f0
    bool bassLines;      // an octave-down section sounds
    bool oddHarmonics;   // a section at the input's pitch or below sounds
  } cases[] = {
      {"bass section only", 0.5, true, true},
      {"alto section only", 2.0, false, false},
      // A chorus of three octaves with vibrato has no single pitch: not judged (0).
      {"bass, unison and alto", 0.0, true, true},
  };
  for (const auto& c : cases) {
    const std::vector<std::string> spans = RecipeSpans(c.sound);
    ASSERT_FALSE(spans.empty()) << "README has no recipe '" << c.sound << "'";
    const tSound sound = Measure(Render(spans[0]));
    const std::string what = std::string(c.sound) + " (" + spans[0] + "): " + Describe(sound);
    if (c.pitchRatio > 0) {
      EXPECT_NEAR(sound.pitchRatio, c.pitchRatio, 0.03 * c.pitchRatio) << what;
    }
    EXPECT_GT(sound.levelDb, -40.0) << what;
    // Present: within 28 dB of the whole (a third of the voices sing them in the three-way
    // split); absent: below -35 dB, the leakage of the other sections' vibrato.
    if (c.bassLines) {
      EXPECT_GT(sound.bassLinesDb, -28.0) << what;
    } else {
      EXPECT_LT(sound.bassLinesDb, -35.0) << what;
    }
    if (c.oddHarmonics) {
      EXPECT_GT(sound.oddHarmonicsDb, -20.0) << what;
    } else {
      EXPECT_LT(sound.oddHarmonicsDb, -35.0) << what;
    }
  }
}

// The three-way recipe holds the alto section too: its level moves the multiples of
// 2 f0 (which the other sections share, so by less than its 20 dB), and the bass level
// moves the lines only the bass section makes by exactly its 20 dB.
TEST_F(RendererRecipes, ThreeWayRecipeHoldsEverySection) {
  const std::vector<std::string> spans = RecipeSpans("bass, unison and alto");
  ASSERT_FALSE(spans.empty());
  const size_t from = kRateHz, length = kRateHz / 2;
  const auto series = [&](const std::string& extra, double firstHz, double stepHz) {
    const std::vector<float> x = Render(spans[0] + " " + extra);
    return signals::SeriesDb(x, from, length, kRateHz, firstHz, stepHz, 1000.0);
  };
  const double altoRise = series("--set AltoLevel=1", 2 * kF0Hz, 2 * kF0Hz) -
                          series("--set AltoLevel=0", 2 * kF0Hz, 2 * kF0Hz);
  EXPECT_GT(altoRise, 4.0);
  EXPECT_LT(altoRise, 20.5);
  const double bassRise = series("--set BassLevel=1", kF0Hz / 2, kF0Hz) -
                          series("--set BassLevel=0", kF0Hz / 2, kF0Hz);
  EXPECT_NEAR(bassRise, 20.0, 1.0);
}

// The bass row's second setting raises the section: same octave, a louder output.
TEST_F(RendererRecipes, BassLevelOfTheBassRecipeRaisesIt) {
  const std::vector<std::string> spans = RecipeSpans("bass section only");
  ASSERT_GE(spans.size(), 2u) << "the bass recipe names no level setting";
  const tSound plain = Measure(Render(spans[0]));
  const tSound raised = Measure(Render(spans[0] + " " + spans[1]));
  EXPECT_NEAR(raised.pitchRatio, 0.5, 0.015) << Describe(raised);
  // BassLevel 0.6 against the default 0.45: 10^(0.6 - 0.5) / 10^(0.45 - 0.5), +3 dB.
  EXPECT_NEAR(raised.levelDb - plain.levelDb, 3.0, 0.5) << Describe(plain) << " / " << Describe(raised);
}

}  // namespace
}  // namespace vm
