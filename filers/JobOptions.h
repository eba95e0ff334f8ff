// What a job may ask beyond the classic properties: the face arrangement
// for a consumer, the view's turn and the resampling filter, sizes the
// classic conversion does not offer, output depth and metadata. Every field defaults to
// the classic behaviour, so a job that sets none of them gives the
// classic files and bytes.
#pragma once

#include <cstdint>
#include <string>

namespace skyfold {

// Faces for a consumer: order, suffixes and each face's turn or mirror
// (preset), one file or six (layout), and custom names.
struct FaceArrangement {
  std::string preset = "design";  // design, opengl, threejs, pannellum, psv, ...
  std::string layout = "faces";   // faces, row, column, 3x2, 2x3, hcross, vcross
  std::string nameTemplate;       // e.g. "{base}/{face}"; empty: the preset's names
};

enum class ResampleFilter { Design, Bilinear, Bicubic, Lanczos3 };

// The general resampler is used when any of these differs from its default.
struct ResampleOptions {
  double yaw = 0, pitch = 0, roll = 0;  // degrees, applied yaw, pitch, roll
  ResampleFilter filter = ResampleFilter::Design;
  std::int32_t faceEdge = 0;       // to-cube: any edge 8..16384; 0 = the classic size
  std::int32_t panoramaWidth = 0;  // to-pano: any even width 64..65500; 0 = the classic
  bool autoSize = false;           // -s auto / -w auto
};

// Output depth and metadata.
struct OutputOptions {
  bool stripMetadata = false;
  // A registered output type by name ("png", "exr", ...) in place of the
  // filer's own type; empty: the filer's. An inverse job's output name then
  // takes that type's extension.
  std::string type;
};

struct JobOptions {
  FaceArrangement arrangement;
  ResampleOptions resample;
  OutputOptions output;
};

}  // namespace skyfold
