// JpegResultFile: a JPEG written a few rows at a time, as a panorama made
// band by band is. Without metadata to splice in, the encoder writes the
// file as it goes, so the compressed image is never held in memory (a
// 70 MB buffer of fresh pages at 16384 wide); with metadata, the bytes are
// gathered first and written with it. Either way the file is the bytes
// SaveBitmapAsJpeg would write for the same rows.
#pragma once

#include <optional>
#include <string>

#include "imaging/ImageMetadata.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"

namespace skyfold {

class JpegResultFile {
 public:
  JpegResultFile(const std::string& fileName, int width, int height, ImageMetadata metadata,
                 OutputCommit* commit);
  JpegResultFile(const JpegResultFile&) = delete;
  JpegResultFile& operator=(const JpegResultFile&) = delete;

  // Encodes the next `count` rows (width B, G, R pixels each).
  void WriteRows(const std::uint8_t* const* rows, int count) { encoder_.WriteRows(rows, count); }
  // The first `count` rows of a 24-bit bitmap as wide.
  void WriteRows(const Bitmap& band, int count) { encoder_.WriteRows(band, count); }
  // After all rows: completes the encoding, then the file (see
  // OutputFile::close). Until then nothing is under the final name. The file
  // is opened when the first bytes are written, so a name that cannot be
  // written fails where the writing does, not before the rows are made.
  void Close();

 private:
  std::string fileName_;
  OutputCommit* commit_;
  ImageMetadata metadata_;
  std::optional<OutputFile> direct_;  // when there is no metadata, once written
  JpegStreamEncoder encoder_;
};

}  // namespace skyfold
