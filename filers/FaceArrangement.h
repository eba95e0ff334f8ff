// Arrangement: a job's preset, layout and name template put together: the
// names the faces are written under or looked for, and the exact moves
// between our six faces and the images a consumer loads. Nothing here runs
// per pixel of the warp; the faces are moved once they are cut, or before
// they are unfolded.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "filers/FaceLayouts.h"
#include "filers/FacePresets.h"
#include "filers/JobOptions.h"
#include "imaging/Bitmap.h"

namespace skyfold {

enum TCubeSuffix : std::uint8_t;

// template with every "{base}" and "{face}" replaced.
std::string ExpandNameTemplate(const std::string& nameTemplate, const std::string& base,
                               const std::string& face);

class Arrangement {
 public:
  // nullopt, with the reason in problem, for an unknown preset or layout or
  // a template that gives two faces the same name.
  static std::optional<Arrangement> Make(const FaceArrangement& options, std::string& problem);

  // The classic six files under the classic names: nothing to arrange.
  bool IsDesign() const;
  const FacePreset& Preset() const { return *preset_; }
  const FaceLayout* Layout() const { return layout_; }  // nullptr: six files

  // {face} of slot k: the suffix without its underscore ("px", "left", "0").
  std::string FaceLabel(int slot, TCubeSuffix rule) const;
  // The names, extension included, relative to the output folder: six in
  // the preset's order, or the one image "BASE_LAYOUT.EXT".
  std::vector<std::string> Names(const std::string& base, const std::string& ext,
                                 TCubeSuffix rule) const;
  // The base that makes fileName (extension removed) one of the six names,
  // with the rule it was found under, or nullopt.
  std::optional<std::string> BaseOf(const std::string& fileName, TCubeSuffix& rule) const;

  // Our six faces (taken, left empty) into the images to write, in the
  // order of Names.
  std::vector<Bitmap> Arrange(std::array<Bitmap, 6>& faces, const PoolRef& pool) const;
  // The images of Names (24 bits) back into our six faces. An image of the
  // wrong shape: nullopt, with the reason in problem.
  std::optional<std::array<Bitmap, 6>> Unarrange(std::vector<Bitmap>& images, const PoolRef& pool,
                                                 std::string& problem) const;

 private:
  const FacePreset* preset_ = nullptr;
  const FaceLayout* layout_ = nullptr;
  std::string template_;
};

}  // namespace skyfold
