// The metadata a result carries from its source: the ICC colour profile,
// EXIF and XMP, read from any source exiv2 reads and written into every
// output type that holds them (JPEG and TIFF through exiv2, WebP through
// libwebpmux, PNG and EXR by their own writers; Radiance holds none). Tags that would lie about
// a result are dropped on reading (ForResult): sizes, orientation,
// thumbnails and maker notes, the strip layout, and any GPano panorama
// description; a panorama written by to-pano gets its own GPano XMP
// (AddPanoramaXmp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace skyfold {

class OutputFile;

struct ImageMetadata {
  std::vector<std::uint8_t> icc;
  std::vector<std::uint8_t> exif;  // TIFF-structured EXIF, little-endian
  std::string xmp;                 // XMP packet
  bool equirectangular = false;    // a full panorama (AddPanoramaXmp)
  bool Empty() const { return icc.empty() && exif.empty() && xmp.empty(); }
};

// What fileName carries, with the lying tags already dropped; empty when it
// carries nothing or exiv2 cannot read it (metadata never fails a job).
ImageMetadata ReadResultMetadata(const std::string& fileName);

// Adds GPano XMP describing a full equirectangular panorama of w × h.
void AddPanoramaXmp(ImageMetadata& metadata, int width, int height);

// The EXIF tags that formats without EXIF keep as their own attributes.
struct CaptureTags {
  std::string date;                                     // DateTimeOriginal, "YYYY:MM:DD hh:mm:ss"
  std::string copyright;                                // Copyright, else Artist
  std::optional<double> latitude, longitude, altitude;  // degrees north, east; metres
};
CaptureTags ReadCaptureTags(const ImageMetadata& metadata);
// Sets them as the metadata's EXIF (replacing any).
void AddCaptureTags(ImageMetadata& metadata, const CaptureTags& tags);

// Writes bytes (a whole encoded file) into file with the metadata added:
// by exiv2 for TIFF and JPEG, libwebpmux for WebP; the bytes as they are
// for a type neither writes or when the metadata cannot
// be written (metadata never fails a job). Throws what file.write throws.
void WriteWithMetadata(OutputFile& file, std::vector<std::uint8_t> bytes,
                       const ImageMetadata& metadata);

}  // namespace skyfold
