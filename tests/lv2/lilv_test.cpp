// The bundle in lilv, the LV2 reference host library: lv2info must read it without a word
// on stderr and list the ports, UI and presets the parameter table implies; its Turtle
// files must validate against the LV2 vocabularies and its presets hold the README's
// recipes; lv2apply must render files through it that sound like the VST 2 plug-in's
// renders of the same input.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Parameters.h"
#include "signals/Pitch.h"
#include "signals/Signals.h"

namespace {

constexpr const char* kUri = "urn:voicemultiply:VoicemultiplyV42_MS";
constexpr int kRateHz = 44100;

// A folder of its own holding only a link to the bundle: LV2_PATH points at it, so lilv
// sees this bundle and nothing else of the build tree.
class Lilv : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vm-lv2-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder = pattern;
    ASSERT_EQ(mkdir((folder + "/path").c_str(), 0755), 0);
    ASSERT_EQ(symlink(VM_LV2_BUNDLE, (folder + "/path/VoicemultiplyV42_MS.lv2").c_str()), 0);
  }
  void TearDown() override { std::system(("rm -rf '" + folder + "'").c_str()); }

  struct tRun {
    int status;
    std::string out, err;
  };
  tRun Run(const std::string& command) {
    const std::string out = folder + "/stdout", err = folder + "/stderr";
    const std::string line = "LV2_PATH='" + folder + "/path' " + command + " >'" + out +
                             "' 2>'" + err + "'";
    const int status = std::system(line.c_str());
    return {status, Slurp(out), Slurp(err)};
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::string folder;
};

// ---- lv2info ----

struct tPort {
  std::map<std::string, std::string> fields;  // "Symbol" -> "in"; lists joined by spaces
  std::map<float, std::string> scalePoints;
};

// Ports by index from lv2info's listing: "\tPort N:", then "\t\tKey:  value" lines (a
// value may go on over indented lines) and scale points "\t\t\tV = \"label\"".
std::map<int, tPort> ParsePorts(const std::string& listing) {
  std::map<int, tPort> ports;
  static const std::regex portLine(R"(^\tPort (\d+):\s*$)");
  static const std::regex fieldLine(R"(^\t\t([A-Za-z][A-Za-z ]*):\s*(.*)$)");
  static const std::regex pointLine(R"(^\t\t\t(-?[\d.]+) = \"(.*)\"$)");
  static const std::regex moreLine(R"(^\t\t\s+(\S.*)$)");
  std::istringstream lines(listing);
  std::string line, key;
  tPort* port = nullptr;
  std::smatch m;
  while (std::getline(lines, line)) {
    if (std::regex_match(line, m, portLine)) {
      port = &ports[std::stoi(m[1])];
      key.clear();
    } else if (!port) {
      continue;
    } else if (std::regex_match(line, m, pointLine)) {
      port->scalePoints[std::stof(m[1])] = m[2];
    } else if (std::regex_match(line, m, fieldLine)) {
      key = m[1];
      port->fields[key] = m[2];
    } else if (!key.empty() && std::regex_match(line, m, moreLine)) {
      port->fields[key] += " " + m[1].str();
    }
  }
  return ports;
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(Lilv, InfoReadsTheBundleWithoutWarnings) {
  const tRun info = Run(std::string("lv2info ") + kUri);
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.err, "") << "lilv complained about the bundle";
  EXPECT_TRUE(Has(info.out, "Has latency:       no")) << info.out;
  EXPECT_TRUE(Has(info.out, "http://lv2plug.in/ns/lv2core#hardRTCapable")) << info.out;
  // The UI: an X11 UI in the same bundle.
  EXPECT_TRUE(Has(info.out, std::string("\t\t") + kUri + "#ui\n")) << info.out;
  EXPECT_TRUE(Has(info.out, "Class:  http://lv2plug.in/ns/extensions/ui#X11UI")) << info.out;
  EXPECT_TRUE(Has(info.out, "VoicemultiplyV42_MS.lv2/VoicemultiplyV42_MS_ui.so")) << info.out;
  for (const char* preset : {"Small, tight group", "Large, loose choir", "Bass section only",
                             "Alto section only", "Bass, unison and alto",
                             "Half dry, dry delayed"})
    EXPECT_TRUE(Has(info.out, std::string("\t         ") + preset + "\n")) << preset;
}

TEST_F(Lilv, PortsFollowTheParameterTable) {
  const tRun info = Run(std::string("lv2info ") + kUri);
  ASSERT_EQ(info.status, 0) << info.err;
  const std::map<int, tPort> ports = ParsePorts(info.out);
  ASSERT_EQ(ports.size(), 3u + vm::kParameterCount);

  const struct {
    int index;
    const char* symbol;
    const char* type;
  } audio[] = {{0, "in", "InputPort"}, {1, "out_left", "OutputPort"}, {2, "out_right", "OutputPort"}};
  for (const auto& a : audio) {
    const tPort& port = ports.at(a.index);
    EXPECT_EQ(port.fields.at("Symbol"), a.symbol);
    EXPECT_TRUE(Has(port.fields.at("Type"), "#AudioPort")) << a.symbol;
    EXPECT_TRUE(Has(port.fields.at("Type"), std::string("#") + a.type)) << a.symbol;
  }

  // The ports that are not plain 0..1 values, in port units.
  const std::string kInteger = "lv2core#integer", kEnum = "lv2core#enumeration",
                    kToggled = "lv2core#toggled";
  const struct {
    const char* symbol;
    float minimum, maximum;
    std::vector<std::string> properties;
    size_t scalePoints;
  } special[] = {
      {"Clones", 1, 32, {kInteger}, 0},          {"Split", 0, 5, {kInteger, kEnum}, 6},
      {"Section", 0, 4, {kInteger, kEnum}, 5},   {"VibRandom", 0, 1, {kToggled}, 0},
      {"DynRandom", 0, 1, {kToggled}, 0},
  };
  for (const vm::tParameterInfo& p : vm::kParameters) {
    const tPort& port = ports.at(3 + p.index);
    EXPECT_EQ(port.fields.at("Symbol"), p.name) << "port " << 3 + p.index;
    EXPECT_TRUE(Has(port.fields.at("Type"), "#ControlPort") && Has(port.fields.at("Type"), "#InputPort"))
        << p.name;
    // Every setting's default is its port value (a real's setting is its host value).
    EXPECT_FLOAT_EQ(std::stof(port.fields.at("Default")), p.defaultSetting) << p.name;
    float minimum = 0, maximum = 1;
    std::vector<std::string> properties;
    size_t scalePoints = 0;
    for (const auto& s : special)
      if (std::string(s.symbol) == p.name)
        minimum = s.minimum, maximum = s.maximum, properties = s.properties, scalePoints = s.scalePoints;
    EXPECT_FLOAT_EQ(std::stof(port.fields.at("Minimum")), minimum) << p.name;
    EXPECT_FLOAT_EQ(std::stof(port.fields.at("Maximum")), maximum) << p.name;
    const std::string listed = port.fields.count("Properties") ? port.fields.at("Properties") : "";
    for (const std::string& property : {kInteger, kEnum, kToggled}) {
      const bool wanted = std::find(properties.begin(), properties.end(), property) != properties.end();
      EXPECT_EQ(Has(listed, property), wanted) << p.name << " " << property;
    }
    EXPECT_EQ(port.scalePoints.size(), scalePoints) << p.name;
  }
  const tPort& split = ports.at(3 + vm::kSplit);
  EXPECT_EQ(split.scalePoints.at(0), "Unison");
  EXPECT_EQ(split.scalePoints.at(1), "Bass");
  EXPECT_EQ(split.scalePoints.at(2), "Alto");
  EXPECT_EQ(split.scalePoints.at(5), "Bass + Unison + Alto");
  const tPort& section = ports.at(3 + vm::kSection);
  EXPECT_EQ(section.scalePoints.at(0), "A");
  EXPECT_EQ(section.scalePoints.at(3), "D");
}

// ---- the Turtle files ----

// The bundle's files against the LV2 vocabularies: every class and property defined, every
// value of the type its property takes.
TEST_F(Lilv, TurtleFilesValidateAgainstTheLv2Vocabularies) {
  const std::string bundle = VM_LV2_BUNDLE;
  const tRun check = Run("lv2_validate '" + bundle + "/manifest.ttl' '" + bundle +
                         "/VoicemultiplyV42_MS.ttl' '" + bundle + "/presets.ttl'");
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_TRUE(Has(check.out + check.err, "Found 0 errors")) << check.out << check.err;
}

// Each preset's port values by symbol, read with serdi as N-Triples: preset label ->
// symbol -> value.
std::map<std::string, std::map<std::string, float>> ReadPresets(const std::string& ntriples) {
  static const std::regex triple(R"(^(\S+) <([^>]+)> (.+) \.$)");
  static const std::regex literal(R"(^"([^"]*)\")");
  std::map<std::string, std::string> labelOf, presetOfPort, symbolOf;
  std::map<std::string, float> valueOf;
  std::istringstream lines(ntriples);
  std::string line;
  std::smatch m, text;
  while (std::getline(lines, line)) {
    if (!std::regex_match(line, m, triple)) continue;
    const std::string subject = m[1], predicate = m[2], object = m[3];
    const std::string value = std::regex_search(object, text, literal) ? text[1].str() : object;
    if (Has(predicate, "rdf-schema#label")) labelOf[subject] = value;
    if (Has(predicate, "lv2core#port")) presetOfPort[object] = subject;
    if (Has(predicate, "lv2core#symbol")) symbolOf[subject] = value;
    if (Has(predicate, "presets#value")) valueOf[subject] = std::stof(value);
  }
  std::map<std::string, std::map<std::string, float>> presets;
  for (const auto& [port, preset] : presetOfPort)
    presets[labelOf[preset]][symbolOf[port]] = valueOf.count(port) ? valueOf[port] : NAN;
  return presets;
}

// The README's recipes in port units: counts and choices as whole settings, reals as
// their host values; every port a recipe leaves alone at its default.
TEST_F(Lilv, PresetsHoldTheRecipesInPortUnits) {
  const tRun dump = Run(std::string("serdi -i turtle -o ntriples '") + VM_LV2_BUNDLE + "/presets.ttl'");
  ASSERT_EQ(dump.status, 0) << dump.err;
  const auto presets = ReadPresets(dump.out);
  const std::map<std::string, std::map<std::string, float>> recipes{
      {"Small, tight group", {{"Clones", 7}, {"Timing", 0.2f}, {"VibDepth", 0.3f}}},
      {"Large, loose choir", {{"Clones", 32}, {"Timing", 0.8f}, {"VibRandom", 1}}},
      {"Bass section only", {{"Split", 1}}},
      {"Alto section only", {{"Split", 2}}},
      {"Bass, unison and alto", {{"Split", 5}}},
      {"Half dry, dry delayed", {{"Mix", 0.5f}, {"DryDelay", 0.4f}}},
  };
  EXPECT_EQ(presets.size(), recipes.size());
  for (const auto& [label, settings] : recipes) {
    ASSERT_TRUE(presets.count(label)) << "no preset " << label;
    const auto& ports = presets.at(label);
    EXPECT_EQ(ports.size(), static_cast<size_t>(vm::kParameterCount)) << label;
    for (const vm::tParameterInfo& p : vm::kParameters) {
      ASSERT_TRUE(ports.count(p.name)) << label << " lacks " << p.name;
      const float wanted = settings.count(p.name) ? settings.at(p.name) : p.defaultSetting;
      EXPECT_FLOAT_EQ(ports.at(p.name), wanted) << label << ", " << p.name;
    }
  }
}

// ---- lv2apply ----

void WriteMono(const std::string& path, const std::vector<float>& x) {
  SF_INFO info{};
  info.samplerate = kRateHz;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  sf_writef_float(file, x.data(), static_cast<sf_count_t>(x.size()));
  sf_close(file);
}

// The channels of a WAV file; none if it cannot be read.
std::vector<std::vector<float>> ReadChannels(const std::string& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (!file) return {};
  std::vector<float> frames(static_cast<size_t>(info.frames * info.channels));
  sf_readf_float(file, frames.data(), info.frames);
  sf_close(file);
  std::vector<std::vector<float>> channels(static_cast<size_t>(info.channels));
  for (size_t i = 0; i < frames.size(); ++i) channels[i % channels.size()].push_back(frames[i]);
  return channels;
}

class Lv2Apply : public Lilv {
 protected:
  void SetUp() override {
    Lilv::SetUp();
    input = folder + "/vowel.wav";
    WriteMono(input, vm::signals::SungVowel(kF0Hz, kRateHz, kRateHz * 2));
  }
  // lv2apply with `controls` ("-c Symbol value ..."); the output's channels.
  std::vector<std::vector<float>> Apply(const std::string& controls) {
    const std::string output = folder + "/lv2.wav";
    std::remove(output.c_str());
    const tRun run = Run("lv2apply -i '" + input + "' -o '" + output + "' " + controls + " " + kUri);
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadChannels(output);
  }
  // The VST 2 plug-in through the project's renderer, settings as host values.
  std::vector<std::vector<float>> RenderVst(const std::string& settings) {
    const std::string output = folder + "/vst.wav";
    const std::string command = std::string("'") + VM_RENDERER + "' --plugin '" + VM_VST_PLUGIN +
                                "' --float " + settings + " '" + input + "' '" + output + "'";
    EXPECT_EQ(Run(command).status, 0) << command;
    return ReadChannels(output);
  }

  static constexpr double kF0Hz = 200.0;
  std::string input;
};

TEST_F(Lv2Apply, SplitOneSingsAnOctaveDown) {
  const auto out = Apply("-c Split 1");
  ASSERT_EQ(out.size(), 2u);
  for (const std::vector<float>& channel : out) {
    const double pitchHz = vm::signals::EstimatePitchHz(channel, kRateHz, 4096, kRateHz, 50.0, 1000.0);
    EXPECT_NEAR(pitchHz / kF0Hz, 0.5, 0.015) << "pitch " << pitchHz << " Hz";
  }
}

// With the random choices off, the LV2 render equals the VST 2 render of the same
// settings: in port units for lv2apply, in host values 0..1 for the renderer.
TEST_F(Lv2Apply, RendersMatchTheVst2Plugin) {
  const struct {
    const char* what;
    const char* ports;
    const char* hostValues;
  } cases[] = {
      {"defaults", "-c DynRandom 0", "--set DynRandom=0"},
      {"three sections, 32 clones, section C",
       "-c DynRandom 0 -c Split 5 -c Clones 32 -c Section 2 -c Timing 0.8 -c Mix 0.7",
       "--set DynRandom=0 --set Split=1 --set Clones=1 --set Section=0.5 --set Timing=0.8 "
       "--set Mix=0.7"},
      {"bass and unison, 7 clones, section D, slow vibrato",
       "-c DynRandom 0 -c Split 3 -c Clones 7 -c Section 3 -c VibRate 0.2 -c Gain 0.7",
       "--set DynRandom=0 --set Split=0.6 --set Clones=0.2 --set Section=0.75 "
       "--set VibRate=0.2 --set Gain=0.7"},
  };
  for (const auto& c : cases) {
    const auto lv2 = Apply(c.ports);
    const auto vst = RenderVst(c.hostValues);
    ASSERT_EQ(lv2.size(), 2u) << c.what;
    ASSERT_EQ(vst.size(), 2u) << c.what;
    for (size_t channel = 0; channel < 2; ++channel) {
      ASSERT_EQ(lv2[channel].size(), vst[channel].size()) << c.what;
      double worst = 0.0;
      for (size_t i = 0; i < lv2[channel].size(); ++i)
        worst = std::max(worst, std::fabs(static_cast<double>(lv2[channel][i]) - vst[channel][i]));
      EXPECT_LE(worst, 1e-5) << c.what << ", channel " << channel;
      EXPECT_GT(vm::signals::RmsDb(vst[channel], 0, vst[channel].size()), -40.0) << c.what;
    }
  }
}

}  // namespace
