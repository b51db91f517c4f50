// Writes the bundle's Turtle files from the parameter table: manifest.ttl (what the bundle
// holds), VoicemultiplyV42_MS.ttl (ports) and presets.ttl (the README's recipes).
// Usage: vm_lv2_ttl BUNDLE_FOLDER

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/Parameters.h"
#include "lv2/PortMapping.h"

namespace vm::lv2 {
namespace {

constexpr const char* kPluginUri = "urn:voicemultiply:VoicemultiplyV42_MS";
constexpr const char* kUiUri = "urn:voicemultiply:VoicemultiplyV42_MS#ui";
constexpr const char* kBinary = "VoicemultiplyV42_MS.so";
constexpr const char* kUiBinary = "VoicemultiplyV42_MS_ui.so";
constexpr const char* kPrefixes =
    "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
    "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
    "@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n"
    "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
    "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
    "@prefix ui: <http://lv2plug.in/ns/extensions/ui#> .\n\n";

// The README's recipes: settings by parameter name, in host values 0..1, on top of the
// defaults.
struct tRecipe {
  const char* slug;
  const char* label;
  std::vector<std::pair<const char*, float>> settings;
};
const std::vector<tRecipe>& Recipes() {
  static const std::vector<tRecipe> recipes{
      {"small-tight-group", "Small, tight group", {{"Clones", 0.2f}, {"Timing", 0.2f}, {"VibDepth", 0.3f}}},
      {"large-loose-choir", "Large, loose choir", {{"Clones", 1.0f}, {"Timing", 0.8f}, {"VibRandom", 1.0f}}},
      {"bass-section-only", "Bass section only", {{"Split", 0.2f}}},
      {"alto-section-only", "Alto section only", {{"Split", 0.4f}}},
      {"bass-unison-alto", "Bass, unison and alto", {{"Split", 1.0f}}},
      {"half-dry-dry-delayed", "Half dry, dry delayed", {{"Mix", 0.5f}, {"DryDelay", 0.4f}}},
  };
  return recipes;
}

// The shortest decimal text that reads back as the same float, always with a point so
// Turtle types it as a decimal.
std::string Number(float value) {
  char text[32];
  for (int digits = 1; digits <= 9; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    if (std::strtof(text, nullptr) == value) break;
  }
  std::string result = text;
  if (result.find_first_of(".e") == std::string::npos) result += ".0";
  return result;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string PresetUri(const tRecipe& recipe) {
  return std::string(kPluginUri) + ":preset:" + recipe.slug;
}

void WriteManifest(std::ostream& out) {
  out << kPrefixes;
  out << "<" << kPluginUri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << kBinary
      << "> ;\n    rdfs:seeAlso <VoicemultiplyV42_MS.ttl> .\n\n";
  out << "<" << kUiUri << ">\n    a ui:X11UI ;\n    ui:binary <" << kUiBinary << "> ;\n"
      << "    lv2:requiredFeature ui:idleInterface , ui:parent ;\n"
      << "    lv2:optionalFeature ui:noUserResize , ui:resize ;\n"
      << "    lv2:extensionData ui:idleInterface .\n";
  for (const tRecipe& recipe : Recipes())
    out << "\n<" << PresetUri(recipe) << ">\n    a pset:Preset ;\n    lv2:appliesTo <"
        << kPluginUri << "> ;\n    rdfs:label " << Quoted(recipe.label)
        << " ;\n    rdfs:seeAlso <presets.ttl> .\n";
}

void WriteAudioPort(std::ostream& out, uint32_t index, const char* direction,
                    const char* symbol, const char* name) {
  out << "[\n        a lv2:" << direction << " , lv2:AudioPort ;\n        lv2:index " << index
      << " ;\n        lv2:symbol " << Quoted(symbol) << " ;\n        lv2:name " << Quoted(name)
      << " ;\n    ]";
}

void WriteScalePoints(std::ostream& out, const tParameterInfo& p) {
  for (const tChoiceNames& choice : kChoiceNames) {
    if (choice.index != p.index) continue;
    for (int32_t value = p.lowest; value <= p.highest; ++value)
      out << "        lv2:scalePoint [ rdfs:label "
          << Quoted(choice.names[static_cast<size_t>(value)]) << " ; rdf:value "
          << Number(float(value)) << " ] ;\n";
  }
}

void WriteControlPort(std::ostream& out, const tParameterInfo& p) {
  const tPortRange range = PortRange(p);
  out << "[\n        a lv2:InputPort , lv2:ControlPort ;\n        lv2:index "
      << kFirstControlPort + static_cast<uint32_t>(p.index) << " ;\n        lv2:symbol "
      << Quoted(p.name) << " ;\n        lv2:name " << Quoted(p.name) << " ;\n"
      << "        lv2:default " << Number(range.defaultValue) << " ;\n"
      << "        lv2:minimum " << Number(range.minimum) << " ;\n"
      << "        lv2:maximum " << Number(range.maximum) << " ;\n";
  std::vector<const char*> properties;
  if (range.integer) properties.push_back("lv2:integer");
  if (range.enumeration) properties.push_back("lv2:enumeration");
  if (range.toggled) properties.push_back("lv2:toggled");
  for (size_t i = 0; i < properties.size(); ++i)
    out << (i == 0 ? "        lv2:portProperty " : " , ") << properties[i];
  if (!properties.empty()) out << " ;\n";
  WriteScalePoints(out, p);
  out << "    ]";
}

void WritePlugin(std::ostream& out) {
  out << kPrefixes;
  out << "<" << kPluginUri << ">\n    a lv2:Plugin , lv2:ChorusPlugin ;\n"
      << "    doap:name \"VoicemultiplyV42_MS\" ;\n"
      << "    lv2:minorVersion " << VM_VERSION_MINOR << " ;\n"
      << "    lv2:microVersion " << VM_VERSION_PATCH << " ;\n"
      << "    lv2:optionalFeature lv2:hardRTCapable ;\n"
      << "    ui:ui <" << kUiUri << "> ;\n    lv2:port ";
  WriteAudioPort(out, kInputPort, "InputPort", "in", "In");
  out << " , ";
  WriteAudioPort(out, kLeftPort, "OutputPort", "out_left", "Out left");
  out << " , ";
  WriteAudioPort(out, kRightPort, "OutputPort", "out_right", "Out right");
  for (const tParameterInfo& p : kParameters) {
    out << " , ";
    WriteControlPort(out, p);
  }
  out << " .\n";
}

// Every port of a preset: the defaults with the recipe's settings on top, in port units.
bool WritePresets(std::ostream& out) {
  out << kPrefixes;
  for (const tRecipe& recipe : Recipes()) {
    std::vector<float> portValues;
    for (const tParameterInfo& p : kParameters) portValues.push_back(PortRange(p).defaultValue);
    for (const auto& [name, hostValue] : recipe.settings) {
      const int32_t index = ParameterIndexOf(name);
      if (index < 0) {
        std::fprintf(stderr, "vm_lv2_ttl: recipe '%s' names no parameter '%s'\n", recipe.label, name);
        return false;
      }
      portValues[static_cast<size_t>(index)] = PortValueFromHost(index, hostValue);
    }
    out << "<" << PresetUri(recipe) << ">\n    a pset:Preset ;\n    lv2:appliesTo <"
        << kPluginUri << "> ;\n    rdfs:label " << Quoted(recipe.label) << " ;\n    lv2:port ";
    for (const tParameterInfo& p : kParameters)
      out << (p.index == 0 ? "" : " , ") << "[\n        lv2:symbol " << Quoted(p.name)
          << " ;\n        pset:value " << Number(portValues[static_cast<size_t>(p.index)])
          << "\n    ]";
    out << " .\n\n";
  }
  return true;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) std::fprintf(stderr, "vm_lv2_ttl: cannot write %s\n", path.c_str());
  return static_cast<bool>(file);
}

}  // namespace
}  // namespace vm::lv2

int main(int argc, char** argv) {
  using namespace vm::lv2;
  if (argc != 2) {
    std::fprintf(stderr, "usage: vm_lv2_ttl BUNDLE_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::ostringstream manifest, plugin, presets;
  WriteManifest(manifest);
  WritePlugin(plugin);
  if (!WritePresets(presets)) return 1;
  const bool written = WriteFile(folder + "/manifest.ttl", manifest.str()) &&
                       WriteFile(folder + "/VoicemultiplyV42_MS.ttl", plugin.str()) &&
                       WriteFile(folder + "/presets.ttl", presets.str());
  return written ? 0 : 1;
}
