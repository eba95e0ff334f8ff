#include "filers/FaceArrangement.h"

#include <cstring>
#include <set>

#include "filers/SimFilers.h"
#include "imaging/PathUtils.h"

namespace skyfold {

namespace {

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + with.size())) {
    text.replace(at, what.size(), with);
  }
}

// The base that expands pattern (its {face} already filled) to name: the
// number of "{base}" fixes the base's length.
std::optional<std::string> MatchBase(const std::string& pattern, const std::string& name) {
  const std::string token = "{base}";
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (std::size_t at = pattern.find(token); at != std::string::npos;
       at = pattern.find(token, from)) {
    parts.push_back(pattern.substr(from, at - from));
    from = at + token.size();
  }
  parts.push_back(pattern.substr(from));
  const std::size_t bases = parts.size() - 1;
  std::size_t fixed = 0;
  for (const std::string& part : parts) fixed += part.size();
  if (bases == 0) return pattern == name ? std::optional<std::string>("") : std::nullopt;
  if (name.size() < fixed || (name.size() - fixed) % bases != 0) return std::nullopt;
  const std::size_t length = (name.size() - fixed) / bases;
  if (name.compare(0, parts[0].size(), parts[0]) != 0) return std::nullopt;
  std::string base = name.substr(parts[0].size(), length);
  if (base.empty() || ExpandNameTemplate(pattern, base, "") != name) return std::nullopt;
  return base;
}

void FillBlack(Bitmap& image) {
  if (image.byteSize() != 0) std::memset(image.data(), 0, image.byteSize());
}

}  // namespace

std::string ExpandNameTemplate(const std::string& nameTemplate, const std::string& base,
                               const std::string& face) {
  std::string name = nameTemplate;
  ReplaceAll(name, "{face}", face);
  ReplaceAll(name, "{base}", base);
  return name;
}

std::optional<Arrangement> Arrangement::Make(const FaceArrangement& options, std::string& problem) {
  Arrangement arrangement;
  arrangement.preset_ = FindPreset(options.preset);
  if (arrangement.preset_ == nullptr) {
    problem = "unknown preset \"" + options.preset + "\"";
    return std::nullopt;
  }
  if (options.layout != "faces") {
    arrangement.layout_ = FindLayout(options.layout);
    if (arrangement.layout_ == nullptr) {
      problem = "unknown layout \"" + options.layout + "\" (one of " + LayoutNames() + ")";
      return std::nullopt;
    }
  }
  arrangement.template_ = options.nameTemplate;
  if (!options.nameTemplate.empty() && arrangement.layout_ == nullptr) {
    for (const TCubeSuffix rule : {csLeft, csZero}) {
      std::set<std::string> seen;
      for (int k = 0; k < 6; ++k) {
        const std::string name =
            ExpandNameTemplate(options.nameTemplate, "BASE", arrangement.FaceLabel(k, rule));
        if (!seen.insert(name).second) {
          problem = "the name template \"" + options.nameTemplate +
                    "\" gives two faces the same name (\"" + name + "\"); use {face}";
          return std::nullopt;
        }
      }
      if (!IsDesignPreset(*arrangement.preset_)) break;
    }
  }
  return arrangement;
}

bool Arrangement::IsDesign() const {
  return IsDesignPreset(*preset_) && layout_ == nullptr && template_.empty();
}

std::string Arrangement::FaceLabel(int slot, TCubeSuffix rule) const {
  const std::string suffix =
      IsDesignPreset(*preset_) ? CubeFaceSuffix(rule, slot) : std::string(preset_->suffixes[slot]);
  return suffix.empty() ? suffix : suffix.substr(1);
}

std::vector<std::string> Arrangement::Names(const std::string& base, const std::string& ext,
                                            TCubeSuffix rule) const {
  const std::string pattern = template_.empty() ? "{base}_{face}" : template_;
  if (layout_ != nullptr) {
    return {ExpandNameTemplate(pattern, base, std::string(layout_->name)) + ext};
  }
  std::vector<std::string> names;
  for (int k = 0; k < 6; ++k)
    names.push_back(ExpandNameTemplate(pattern, base, FaceLabel(k, rule)) + ext);
  return names;
}

std::optional<std::string> Arrangement::BaseOf(const std::string& fileName,
                                               TCubeSuffix& rule) const {
  const std::string stem = fileName.substr(0, fileName.size() - ExtractFileExt(fileName).size());
  const std::string pattern = template_.empty() ? "{base}_{face}" : template_;
  for (const TCubeSuffix candidate : {csLeft, csZero}) {
    for (int k = 0; k < 6; ++k) {
      const std::string filled = ExpandNameTemplate(pattern, "{base}", FaceLabel(k, candidate));
      if (std::optional<std::string> base = MatchBase(filled, stem)) {
        rule = candidate;
        return base;
      }
    }
    if (!IsDesignPreset(*preset_)) break;
  }
  return std::nullopt;
}

std::vector<Bitmap> Arrangement::Arrange(std::array<Bitmap, 6>& faces, const PoolRef& pool) const {
  std::vector<Bitmap> images;
  if (layout_ == nullptr) {
    for (const PresetFace& slot : preset_->faces) {
      Bitmap& face = faces[static_cast<std::size_t>(slot.designFace)];
      if (slot.turn.None()) {
        images.push_back(std::move(face));
        continue;
      }
      Bitmap turned(face.width(), face.height(), face.format(), Uninitialised{}, pool);
      DrawTurned(turned, 0, 0, face, slot.turn);
      images.push_back(std::move(turned));
      face = Bitmap();
    }
    return images;
  }
  const int n = faces[0].width();
  Bitmap image(layout_->columns * n, layout_->rows * n, faces[0].format(), Uninitialised{}, pool);
  // The empty cells of a cross are black.
  if (layout_->insideView) FillBlack(image);
  for (int k = 0; k < 6; ++k) {
    const LayoutCell& cell = layout_->cells[static_cast<std::size_t>(k)];
    const PresetFace slot = layout_->insideView ? PresetFace{k, cell.turn}
                                                : preset_->faces[static_cast<std::size_t>(k)];
    Bitmap& face = faces[static_cast<std::size_t>(slot.designFace)];
    DrawTurned(image, cell.column * n, cell.row * n, face, slot.turn);
    face = Bitmap();
  }
  images.push_back(std::move(image));
  return images;
}

std::optional<std::array<Bitmap, 6>> Arrangement::Unarrange(std::vector<Bitmap>& images,
                                                            const PoolRef& pool,
                                                            std::string& problem) const {
  std::array<Bitmap, 6> faces;
  if (layout_ == nullptr) {
    for (int k = 0; k < 6; ++k) {
      const PresetFace& slot = preset_->faces[static_cast<std::size_t>(k)];
      Bitmap& image = images[static_cast<std::size_t>(k)];
      Bitmap& face = faces[static_cast<std::size_t>(slot.designFace)];
      if (slot.turn.None()) {
        // Unturned faces go on as they are, of any size, as the classic do.
        face = std::move(image);
        continue;
      }
      if (image.width() != image.height()) {
        problem = "a turned face must be square";
        return std::nullopt;
      }
      face = TakeUnturned(image, 0, 0, image.width(), slot.turn, pool);
      image = Bitmap();
    }
    return faces;
  }
  const Bitmap& image = images.front();
  const int n = image.width() / layout_->columns;
  if (n <= 0 || image.width() != n * layout_->columns || image.height() != n * layout_->rows) {
    problem = "the image is not " + std::to_string(layout_->columns) + " × " +
              std::to_string(layout_->rows) + " square cells (" + std::string(layout_->name) + ")";
    return std::nullopt;
  }
  for (int k = 0; k < 6; ++k) {
    const LayoutCell& cell = layout_->cells[static_cast<std::size_t>(k)];
    const PresetFace slot = layout_->insideView ? PresetFace{k, cell.turn}
                                                : preset_->faces[static_cast<std::size_t>(k)];
    faces[static_cast<std::size_t>(slot.designFace)] =
        TakeUnturned(image, cell.column * n, cell.row * n, n, slot.turn, pool);
  }
  return faces;
}

}  // namespace skyfold
