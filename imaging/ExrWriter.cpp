// OpenEXR: half-float R, G, B (, A), ZIP-compressed scanlines. EXR stores
// premultiplied alpha, so colour is multiplied by alpha here; values above 1
// and below 0 are kept (within half precision).
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfOutputFile.h>
#include <half.h>

#include <cstring>
#include <exception>
#include <vector>

#include "imaging/Errors.h"
#include "imaging/OutputFormats.h"
#include "imaging/PixelConvert.h"

namespace skyfold {

namespace {

// The library writes through a stream; ours collects the bytes.
class MemoryStream : public Imf::OStream {
 public:
  explicit MemoryStream(EncodedFile& out) : Imf::OStream("memory"), out_(out) {}
  void write(const char c[], int n) override {
    const std::size_t end = position_ + static_cast<std::size_t>(n);
    if (end > out_.size()) out_.resize(end);
    std::memcpy(out_.data() + position_, c, static_cast<std::size_t>(n));
    position_ = end;
  }
  std::uint64_t tellp() override { return position_; }
  void seekp(std::uint64_t pos) override { position_ = static_cast<std::size_t>(pos); }

 private:
  EncodedFile& out_;
  std::size_t position_ = 0;
};

}  // namespace

EncodedFile EncodeExr(const Bitmap& bitmap) {
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
  std::vector<half> pixels(static_cast<std::size_t>(w) * h * channels);
  for (int y = 0; y < h; ++y) {
    const auto* s = reinterpret_cast<const float*>(image->row(y));
    half* d = pixels.data() + static_cast<std::size_t>(y) * w * channels;
    for (int x = 0; x < w; ++x, s += channels, d += channels) {
      const float a = alpha ? s[3] : 1.0f;
      for (int c = 0; c < 3; ++c) d[c] = half(s[c] * a);
      if (alpha) d[3] = half(a);
    }
  }
  EncodedFile out;
  try {
    Imf::Header header(w, h);
    header.compression() = Imf::ZIP_COMPRESSION;
    const char* names[4] = {"R", "G", "B", "A"};
    Imf::FrameBuffer frame;
    const std::size_t xStride = sizeof(half) * channels;
    for (int c = 0; c < channels; ++c) {
      header.channels().insert(names[c], Imf::Channel(Imf::HALF));
      frame.insert(names[c], Imf::Slice(Imf::HALF, reinterpret_cast<char*>(pixels.data() + c),
                                        xStride, xStride * w));
    }
    MemoryStream stream(out);
    Imf::OutputFile file(stream, header, 1);
    file.setFrameBuffer(frame);
    file.writePixels(h);
  } catch (const std::exception& e) {
    throw CodecError("EXR ファイルを書き出せません。", e.what());
  }
  return out;
}

}  // namespace skyfold
