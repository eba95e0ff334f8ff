// The presets and where each convention comes from. Direction names below
// are ours: F front (the panorama's centre), R right (longitude +90°), L, B
// back, T top, D bottom; "inside" is how our faces are cut.
#include "filers/FacePresets.h"

#include "filers/SimFilers.h"

namespace skyfold {

namespace {

constexpr FaceTurn kMirror{0, true};
constexpr FaceTurn kFlipVertical{2, true};
constexpr FaceTurn kClockwise{1, false};
constexpr FaceTurn kCounterClockwise{3, false};
constexpr FaceTurn kHalfTurn{2, false};

constexpr std::array<std::string_view, 6> kAxisSuffixes{"_px", "_nx", "_py", "_ny", "_pz", "_nz"};

// Our own order, as cut.
constexpr std::array<PresetFace, 6> kInside{{{fiLeft, kNoTurn},
                                             {fiFront, kNoTurn},
                                             {fiRight, kNoTurn},
                                             {fiBack, kNoTurn},
                                             {fiTop, kNoTurn},
                                             {fiBottom, kNoTurn}}};

std::vector<FacePreset> MakePresets() {
  return {
      {"design", {}, kInside},
      // The OpenGL face-selection table read with texel row 0 the image's
      // first row, world right-handed, +Y up, F at −Z, R at +X: each side
      // face is seen from outside (mirrored), +Y has −Z on its first row.
      {"opengl",
       kAxisSuffixes,
       {{{fiRight, kMirror},
         {fiLeft, kMirror},
         {fiTop, kFlipVertical},
         {fiBottom, kFlipVertical},
         {fiBack, kMirror},
         {fiFront, kMirror}}}},
      // three.js: a CubeTexture background is sampled with x negated, and an
      // equirectangular background puts the panorama's centre at +X.
      {"threejs",
       kAxisSuffixes,
       {{{fiBack, kNoTurn},
         {fiFront, kNoTurn},
         {fiTop, kClockwise},
         {fiBottom, kCounterClockwise},
         {fiRight, kNoTurn},
         {fiLeft, kNoTurn}}}},
      // Pannellum 2.5 cubeMap: front, right, back, left, up, down.
      {"pannellum",
       {"_f", "_r", "_b", "_l", "_u", "_d"},
       {{{fiFront, kNoTurn},
         {fiRight, kNoTurn},
         {fiBack, kNoTurn},
         {fiLeft, kNoTurn},
         {fiTop, kNoTurn},
         {fiBottom, kNoTurn}}}},
      // Photo Sphere Viewer 5 cubemap adapter, separate files: left, front,
      // right, back, top, bottom; with flipTopBottom false (its default) the
      // poles are turned half a turn against a net's (which it flips).
      {"psv",
       {"_left", "_front", "_right", "_back", "_top", "_bottom"},
       {{{fiLeft, kNoTurn},
         {fiFront, kNoTurn},
         {fiRight, kNoTurn},
         {fiBack, kNoTurn},
         {fiTop, kHalfTurn},
         {fiBottom, kHalfTurn}}}},
      // krpano <cube url="pano_%s.jpg"/>: %s is l, f, r, b, u, d.
      {"krpano", {"_l", "_f", "_r", "_b", "_u", "_d"}, kInside},
  };
}

}  // namespace

const std::vector<FacePreset>& AllPresets() {
  static const std::vector<FacePreset> presets = MakePresets();
  return presets;
}

const FacePreset* FindPreset(std::string_view name) {
  for (const FacePreset& preset : AllPresets()) {
    if (preset.name == name) return &preset;
  }
  return nullptr;
}

bool IsDesignPreset(const FacePreset& preset) { return preset.name == "design"; }

}  // namespace skyfold
