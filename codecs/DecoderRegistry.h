// The decoders consulted for ".TIF"/".TIFF" names, which are read by content,
// not by name. Each decoder says whether it can read a stream from its first
// bytes; the first one that accepts, in registration order, loads the file.
// The registry is filled once, on first use (thread-safe), and only read
// afterwards.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/ImageInfo.h"
#include "imaging/InputFile.h"

namespace skyfold {

class ImageDecoder {
 public:
  virtual ~ImageDecoder() = default;

  // Short format name ("TIFF", "PNG", ...).
  virtual const char* name() const = 0;
  // True when the stream, from its current position, looks like this format.
  // Leaves the stream's position as it found it.
  virtual bool canRead(std::istream& stream) const = 0;
  // Decodes the whole file into bitmap; throws CodecError / MemoryError /
  // FileError. report, when given, learns of an incomplete file.
  virtual void load(const InputFile& file, Bitmap& bitmap, LoadReport* report) const = 0;
  // The same, keeping 16-bit and float samples and alpha as stored (the
  // deep formats of Bitmap.h) where load reduces them to the classic 8 bits.
  virtual void loadDeep(const InputFile& file, Bitmap& bitmap, LoadReport* report) const {
    load(file, bitmap, report);
  }
  // The header alone, with every check load makes before it allocates
  // (ImageHeader); throws as load does.
  virtual ImageHeader probe(const InputFile& file) const = 0;

  // Opens fileName as an InputFile and loads it.
  void load(const std::string& fileName, Bitmap& bitmap) const;
};

// Registered decoders in order: TIFF, PNG, JPEG, BMP, then OpenEXR, Radiance
// RGBE and WebP.
const std::vector<std::unique_ptr<const ImageDecoder>>& RegisteredDecoders();

// The first registered decoder that accepts the stream (or the file, from
// its start), or nullptr.
const ImageDecoder* FindDecoder(std::istream& stream);
const ImageDecoder* FindDecoder(const InputFile& file);

// Opens fileName (InputFile: folders, FIFOs and devices are refused), picks
// a decoder by content and loads the file with it. A file no decoder
// accepts throws CodecError "Cannot load image. Unknown image format.".
void LoadImageByContent(const std::string& fileName, Bitmap& bitmap, LoadReport* report = nullptr);
// keepDepth: the decoder's loadDeep.
void LoadImageByContent(const InputFile& file, Bitmap& bitmap, LoadReport* report = nullptr,
                        bool keepDepth = false);
// The same decoder's header probe.
ImageHeader ProbeImageByContent(const InputFile& file);

// Reads up to count bytes from the current position and restores it; fewer
// bytes come back near the end of the stream.
std::vector<std::uint8_t> PeekBytes(std::istream& stream, std::size_t count);
// Bytes from the current position to the end; the position is restored.
std::uint64_t RemainingBytes(std::istream& stream);

// The decoders themselves, one per file.
std::unique_ptr<const ImageDecoder> MakeTiffDecoder();
std::unique_ptr<const ImageDecoder> MakePngDecoder();
std::unique_ptr<const ImageDecoder> MakeJpegDecoder();
std::unique_ptr<const ImageDecoder> MakeBmpDecoder();
std::unique_ptr<const ImageDecoder> MakeExrDecoder();
std::unique_ptr<const ImageDecoder> MakeHdrDecoder();
std::unique_ptr<const ImageDecoder> MakeWebpDecoder();

}  // namespace skyfold
