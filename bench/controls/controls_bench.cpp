// Costs of the editor's drawing: composite rebuilds and textures (done once per look
// change) against the per-gesture work (moving the dot, repainting a knob).
#include <benchmark/benchmark.h>

#include "controls/Artwork.h"
#include "controls/PlugInControls.h"

namespace vm {
namespace {

struct KnobScene {
  TForm form{828, 423};
  TImage* face = Picture(artwork::KnobFace(TKnobShade::Normal, false));
  TImage* faceOff = Picture(artwork::KnobFace(TKnobShade::Normal, true));
  TImage* dot = Picture(artwork::KnobDot());
  TRubberKnob* knob = form.Make<TRubberKnob>();

  KnobScene() {
    knob->SetBounds(247, 48, 104, 104);
    knob->SetMainImage(face);
    knob->SetDisabledImage(faceOff);
    for (int k = 1; k <= 4; ++k) knob->SetShimmer(k, Picture(artwork::Shimmer(k)));
    knob->SetDotImage(dot);
    knob->SetDiameter(52);
    knob->SetLabels({"Thin", "Thick"});
    form.PaintInvalid();
  }
  TImage* Picture(const TBitmap& b) {
    TImage* i = form.Make<TImage>();
    i->SetVisible(false);
    i->SetPicture(b);
    return i;
  }
};

void BM_KnobCompositeRebuild(benchmark::State& state) {
  KnobScene scene;
  for (auto _ : state) {
    scene.knob->SetColour(scene.knob->Colour());
    scene.form.PaintInvalid();
  }
}
BENCHMARK(BM_KnobCompositeRebuild);

void BM_KnobDragStep(benchmark::State& state) {
  KnobScene scene;
  float v = 0;
  for (auto _ : state) {
    v = v > 0.99f ? 0 : v + 0.01f;
    scene.knob->SetValue(v);
    scene.form.PaintInvalid();
  }
}
BENCHMARK(BM_KnobDragStep);

void BM_BrushedMetalFacePlate(benchmark::State& state) {
  TForm form(828, 425);
  auto* metal = form.Make<TBrushedMetal>();
  metal->SetBounds(0, 0, 828, 425);
  for (auto _ : state) metal->BuildImage();
}
BENCHMARK(BM_BrushedMetalFacePlate);

void BM_PaintedPanelDisplay(benchmark::State& state) {
  TForm form(828, 423);
  auto* panel = form.Make<TPaintedPanel>();
  panel->SetBounds(23, 50, 225, 119);
  panel->SetShadeInParent(true);
  for (auto _ : state) panel->BuildImage();
}
BENCHMARK(BM_PaintedPanelDisplay);

void BM_ArtworkKnobFace(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(artwork::KnobFace(TKnobShade::Dark, false));
}
BENCHMARK(BM_ArtworkKnobFace);

}  // namespace
}  // namespace vm
BENCHMARK_MAIN();
