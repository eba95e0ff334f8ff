#include "cli/ResampleOptions.h"

#include <charconv>
#include <map>
#include <optional>
#include <string>

namespace skyfold::cli {

namespace {

std::optional<int> WholeNumber(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [rest, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || rest != end || text.empty()) return std::nullopt;
  return value;
}

// A size option: "auto", a classic size (into `design`), or any other
// accepted size (into `general`).
CLI::Option* AddSizeOption(CLI::App& command, const std::string& names, const std::string& help,
                           int& design, std::int32_t& general, bool& autoSize,
                           bool (*isDesign)(int), int min, int max, bool even,
                           const std::string& designList) {
  return command
      .add_option_function<std::string>(
          names,
          [&design, &general, &autoSize, isDesign](const std::string& text) {
            if (text == "auto") {
              autoSize = true;
              return;
            }
            const int value = *WholeNumber(text);
            if (isDesign(value)) {
              design = value;
            } else {
              general = value;
            }
          },
          help)
      ->check(
          [min, max, even, designList, names](const std::string& text) -> std::string {
            if (text == "auto") return {};
            const std::optional<int> value = WholeNumber(text);
            if (value && *value >= min && *value <= max && (!even || *value % 2 == 0)) return {};
            return text + " not in " + designList + ", " + (even ? "an even number " : "") +
                   std::to_string(min) + " … " + std::to_string(max) + " or auto";
          },
          "SIZE");
}

}  // namespace

bool IsDesignFaceEdge(int edge) {
  for (int e = 64; e <= 4096; e *= 2) {
    if (e == edge) return true;
  }
  return false;
}

bool IsDesignPanoramaWidth(int width) {
  for (int w = 256; w <= 16384; w *= 2) {
    if (w == width) return true;
  }
  return false;
}

void AddResampleOptions(CLI::App& command, ResampleOptions& options) {
  command.add_option("--yaw", options.yaw,
                     "turn the view to the right by this many degrees (applied first)");
  command.add_option("--pitch", options.pitch,
                     "tilt the view up by this many degrees (applied after --yaw)");
  command.add_option("--roll", options.roll,
                     "roll the camera clockwise by this many degrees (applied last); to-pano "
                     "with the same three values undoes to-cube's turn");
  command
      .add_option_function<std::string>(
          "--filter",
          [&options](std::string name) {
            for (char& c : name) {
              if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            }
            const std::map<std::string, ResampleFilter> filters{
                {"design", ResampleFilter::Design},
                {"bilinear", ResampleFilter::Bilinear},
                {"bicubic", ResampleFilter::Bicubic},
                {"lanczos3", ResampleFilter::Lanczos3}};
            options.filter = filters.at(name);
          },
          "design (default: one bilinear sample per pixel), bilinear, bicubic or lanczos3 (these "
          "three average over what a coarser output pixel covers)")
      ->check(CLI::IsMember({"design", "bilinear", "bicubic", "lanczos3"}, CLI::ignore_case));
}

void AddFaceSizeOption(CLI::App& command, int& size, ResampleOptions& options) {
  AddSizeOption(command, "-s,--size",
                "face edge (default 1024): 64, 128 … 4096, any edge 8 … 16384, or auto (the "
                "panorama's detail at the face centre, 8·⌊W/π/8⌋)",
                size, options.faceEdge, options.autoSize, IsDesignFaceEdge, 8, 16384, false,
                "{64,128,256,512,1024,2048,4096}");
}

void AddPanoramaWidthOption(CLI::App& command, int& width, ResampleOptions& options) {
  AddSizeOption(command, "-w,--width",
                "panorama width (default 8192): 256, 512 … 16384, any even width 64 … 65500, or "
                "auto (the faces' detail, 8·⌈πE/8⌉)",
                width, options.panoramaWidth, options.autoSize, IsDesignPanoramaWidth, 64, 65500,
                true, "{256,512,1024,2048,4096,8192,16384}");
}

}  // namespace skyfold::cli
