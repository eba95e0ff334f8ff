// OpenEXR: half-float R, G, B (, A), ZIP-compressed scanlines, written
// straight to the output. EXR stores premultiplied alpha, so colour is
// multiplied by alpha here; values above 1 and below 0 are kept (within half
// precision).
// The metadata goes into the header (ExrMetadata.h).
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>
#include <half.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/ExrMetadata.h"
#include "imaging/OutputFile.h"
#include "imaging/OutputFormats.h"
#include "imaging/PixelConvert.h"

namespace skyfold {

namespace {

// The library writes through a stream; ours is the output file, which
// seeks back for the offset table at the end.
class FileStream : public Imf::OStream {
 public:
  explicit FileStream(OutputFile& out) : Imf::OStream(out.fileName().c_str()), out_(out) {}
  void write(const char c[], int n) override {
    try {
      out_.write(c, static_cast<std::size_t>(n));
    } catch (...) {
      failure = std::current_exception();
      throw;
    }
    position_ += static_cast<std::uint64_t>(n);
  }
  std::uint64_t tellp() override { return position_; }
  void seekp(std::uint64_t pos) override {
    out_.seek(static_cast<long>(pos));
    position_ = pos;
  }

  // The file's own failure (a full disk), which the library reports as its
  // own error.
  std::exception_ptr failure;

 private:
  OutputFile& out_;
  std::uint64_t position_ = 0;
};

}  // namespace

void SaveExr(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata) {
  const bool alpha = HasAlpha(bitmap.format());
  const int channels = alpha ? 4 : 3;
  const int w = bitmap.width();
  const int h = bitmap.height();
  Bitmap converted;
  const Bitmap* image = &bitmap;
  if (SampleTypeOf(bitmap.format()) != SampleType::F32) {
    converted = ConvertFormat(bitmap, DirectFormat(SampleType::F32, alpha));
    image = &converted;
  }
  // Converted to half a band of rows at a time, so a panorama is never held
  // twice more.
  constexpr int kBandRows = 64;
  std::vector<half> band(static_cast<std::size_t>(w) * kBandRows * channels);
  FileStream stream(file);
  try {
    Imf::Header header(w, h);
    header.compression() = Imf::ZIP_COMPRESSION;
    PutExrMetadata(header, metadata);
    const char* names[4] = {"R", "G", "B", "A"};
    for (int c = 0; c < channels; ++c) header.channels().insert(names[c], Imf::Channel(Imf::HALF));
    Imf::OutputFile exr(stream, header, 1);
    const std::size_t xStride = sizeof(half) * channels;
    for (int y0 = 0; y0 < h; y0 += kBandRows) {
      const int rows = std::min(kBandRows, h - y0);
      for (int r = 0; r < rows; ++r) {
        const auto* s = reinterpret_cast<const float*>(image->row(y0 + r));
        half* d = band.data() + static_cast<std::size_t>(r) * w * channels;
        for (int x = 0; x < w; ++x, s += channels, d += channels) {
          const float a = alpha ? s[3] : 1.0f;
          for (int c = 0; c < 3; ++c) d[c] = half(s[c] * a);
          if (alpha) d[3] = half(a);
        }
      }
      // The slices' origin is row 0 of the image: the band starts at y0.
      Imf::FrameBuffer frame;
      for (int c = 0; c < channels; ++c) {
        char* origin = reinterpret_cast<char*>(band.data() + c) -
                       static_cast<std::ptrdiff_t>(xStride * w) * y0;
        frame.insert(names[c], Imf::Slice(Imf::HALF, origin, xStride, xStride * w));
      }
      exr.setFrameBuffer(frame);
      exr.writePixels(rows);
    }
  } catch (const std::exception& e) {
    if (stream.failure) std::rethrow_exception(stream.failure);
    throw CodecError("EXR ファイルを書き出せません。", e.what());
  }
}

}  // namespace skyfold
