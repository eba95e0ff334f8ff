// OpenEXR decoder through the library's RGBA interface (any channel layout,
// half or float, scanline or tiled, becomes R, G, B, A): RgbF96, or RgbaF128
// when the file has alpha, with colour divided by alpha (EXR stores it
// premultiplied, our bitmaps straight). Values keep their range.
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfRgbaFile.h>

#include <cstring>
#include <exception>
#include <vector>

#include "codecs/DecoderRegistry.h"
#include "imaging/Errors.h"
#include "imaging/SourceLimits.h"

namespace skyfold {
namespace {

constexpr const char* kExrMessage = "EXR ファイルを読み込めません。";

class InputStream : public Imf::IStream {
 public:
  explicit InputStream(const InputFile& file) : Imf::IStream(file.name().c_str()), file_(file) {}
  bool read(char c[], int n) override {
    const std::size_t got = file_.readAt(position_, c, static_cast<std::size_t>(n));
    position_ += got;
    if (got < static_cast<std::size_t>(n)) throw CodecError(kExrMessage, "unexpected end of file");
    return position_ < file_.size();
  }
  std::uint64_t tellg() override { return position_; }
  void seekg(std::uint64_t pos) override { position_ = pos; }

 private:
  const InputFile& file_;
  std::uint64_t position_ = 0;
};

ImageHeader Header(Imf::RgbaInputFile& in) {
  const Imath::Box2i window = in.dataWindow();
  ImageHeader h;
  h.format = "EXR";
  h.width = std::int64_t{window.max.x} - window.min.x + 1;
  h.height = std::int64_t{window.max.y} - window.min.y + 1;
  const bool alpha = (in.channels() & Imf::WRITE_A) != 0;
  h.channels = alpha ? 4 : 3;
  h.bitsPerSample = 16;
  h.bitsPerPixel = 16 * h.channels;
  h.loadedFormat = alpha ? PixelFormat::RgbaF128 : PixelFormat::RgbF96;
  return h;
}

class ExrDecoder final : public ImageDecoder {
 public:
  const char* name() const override { return "EXR"; }
  bool canRead(std::istream& stream) const override {
    const auto head = PeekBytes(stream, 4);
    return head.size() == 4 && head[0] == 0x76 && head[1] == 0x2f && head[2] == 0x31 &&
           head[3] == 0x01;
  }
  void load(const InputFile& file, Bitmap& bitmap, LoadReport*) const override {
    try {
      InputStream stream(file);
      Imf::RgbaInputFile in(stream, 1);
      const ImageHeader h = Header(in);
      if (h.width <= 0 || h.height <= 0) throw CodecError(kExrMessage, "empty image");
      CheckImageSize(h.width, h.height, h.loadedFormat);
      const int w = static_cast<int>(h.width);
      const int rows = static_cast<int>(h.height);
      const Imath::Box2i window = in.dataWindow();
      std::vector<Imf::Rgba> line(static_cast<std::size_t>(w));
      Bitmap out(w, rows, h.loadedFormat, Uninitialised{}, bitmap.pool());
      const bool alpha = h.channels == 4;
      for (int y = 0; y < rows; ++y) {
        // One row at a time: the frame buffer's origin moves with the row.
        in.setFrameBuffer(line.data() - window.min.x - std::ptrdiff_t{window.min.y + y} * w, 1,
                          static_cast<std::size_t>(w));
        in.readPixels(window.min.y + y);
        auto* d = reinterpret_cast<float*>(out.row(y));
        for (int x = 0; x < w; ++x) {
          const float a = line[x].a;
          const float scale = alpha && a > 0.0f ? 1.0f / a : 1.0f;
          *d++ = line[x].r * scale;
          *d++ = line[x].g * scale;
          *d++ = line[x].b * scale;
          if (alpha) *d++ = a;
        }
      }
      bitmap.swap(out);
    } catch (const Error&) {
      throw;
    } catch (const std::exception& e) {
      throw CodecError(kExrMessage, e.what());
    }
  }
  ImageHeader probe(const InputFile& file) const override {
    try {
      InputStream stream(file);
      Imf::RgbaInputFile in(stream, 1);
      ImageHeader h = Header(in);
      h.fileBytes = file.size();
      h.bitmapBytes = static_cast<std::uint64_t>(h.width * h.height) *
                      static_cast<std::uint64_t>(BytesPerPixel(h.loadedFormat));
      h.peakBytes = h.bitmapBytes;
      return h;
    } catch (const Error&) {
      throw;
    } catch (const std::exception& e) {
      throw CodecError(kExrMessage, e.what());
    }
  }
};

}  // namespace

std::unique_ptr<const ImageDecoder> MakeExrDecoder() { return std::make_unique<ExrDecoder>(); }

}  // namespace skyfold
