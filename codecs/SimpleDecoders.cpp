// Content tests for the formats whose readers live in imaging/: JPEG starts
// with the SOI marker followed by another marker, BMP with "BM".

#include "codecs/DecoderRegistry.h"
#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"

namespace skyfold {
namespace {

class JpegDecoder final : public ImageDecoder {
 public:
  const char* name() const override { return "JPEG"; }
  bool canRead(std::istream& stream) const override {
    const auto head = PeekBytes(stream, 3);
    return head.size() == 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
  }
  void load(const InputFile& file, Bitmap& bitmap, LoadReport* report) const override {
    ReadJpeg(file, bitmap, report);
  }
  ImageHeader probe(const InputFile& file) const override { return ProbeJpeg(file); }
};

class BmpDecoder final : public ImageDecoder {
 public:
  const char* name() const override { return "BMP"; }
  bool canRead(std::istream& stream) const override {
    const auto head = PeekBytes(stream, 2);
    return head.size() == 2 && head[0] == 'B' && head[1] == 'M';
  }
  void load(const InputFile& file, Bitmap& bitmap, LoadReport*) const override {
    ReadBmp(file, bitmap);
  }
  ImageHeader probe(const InputFile& file) const override { return ProbeBmp(file); }
};

}  // namespace

std::unique_ptr<const ImageDecoder> MakeJpegDecoder() { return std::make_unique<JpegDecoder>(); }
std::unique_ptr<const ImageDecoder> MakeBmpDecoder() { return std::make_unique<BmpDecoder>(); }

}  // namespace skyfold
