// WebP decoder through libwebp: Bgr24, or Bgra32 when the file has alpha
// (loadDeep; load, for the classic path, gives Bgrx32 with alpha as the
// fourth byte like the PNG and TIFF decoders).
#include <webp/decode.h>

#include <vector>

#include "codecs/DecoderRegistry.h"
#include "imaging/Errors.h"
#include "imaging/SourceLimits.h"

namespace skyfold {
namespace {

constexpr const char* kWebpMessage = "WebP ファイルを読み込めません。";

WebPBitstreamFeatures Features(const std::vector<std::uint8_t>& data) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(data.data(), data.size(), &features) != VP8_STATUS_OK) {
    throw CodecError(kWebpMessage, "not a WebP bitstream");
  }
  return features;
}

class WebpDecoder final : public ImageDecoder {
 public:
  const char* name() const override { return "WebP"; }
  bool canRead(std::istream& stream) const override {
    const auto head = PeekBytes(stream, 12);
    return head.size() == 12 && std::string(head.begin(), head.begin() + 4) == "RIFF" &&
           std::string(head.begin() + 8, head.end()) == "WEBP";
  }
  void load(const InputFile& file, Bitmap& bitmap, LoadReport* report) const override {
    Decode(file, bitmap, report, false);
  }
  void loadDeep(const InputFile& file, Bitmap& bitmap, LoadReport* report) const override {
    Decode(file, bitmap, report, true);
  }
  ImageHeader probe(const InputFile& file) const override {
    const std::vector<std::uint8_t> head = file.head(64);
    WebPBitstreamFeatures features = Features(head);
    ImageHeader h;
    h.format = "WebP";
    h.width = features.width;
    h.height = features.height;
    h.channels = features.has_alpha ? 4 : 3;
    h.bitsPerSample = 8;
    h.bitsPerPixel = 8 * h.channels;
    h.loadedFormat = features.has_alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
    CheckImageSize(h.width, h.height, h.loadedFormat);
    h.fileBytes = file.size();
    h.bitmapBytes = static_cast<std::uint64_t>(h.width * h.height) * h.channels;
    h.peakBytes = h.bitmapBytes + h.fileBytes;
    return h;
  }

 private:
  static void Decode(const InputFile& file, Bitmap& bitmap, LoadReport*, bool keepAlpha) {
    const std::vector<std::uint8_t> data = file.readAll();
    const WebPBitstreamFeatures features = Features(data);
    const bool alpha = features.has_alpha != 0;
    const PixelFormat format =
        alpha ? (keepAlpha ? PixelFormat::Bgra32 : PixelFormat::Bgrx32) : PixelFormat::Bgr24;
    CheckImageSize(features.width, features.height, format);
    Bitmap out(features.width, features.height, format, Uninitialised{}, bitmap.pool());
    const int stride = static_cast<int>(out.rowBytes());
    const bool ok =
        alpha ? WebPDecodeBGRAInto(data.data(), data.size(), out.data(), out.byteSize(), stride)
              : WebPDecodeBGRInto(data.data(), data.size(), out.data(), out.byteSize(), stride);
    if (!ok) throw CodecError(kWebpMessage, "the bitstream does not decode");
    bitmap.swap(out);
  }
};

}  // namespace

std::unique_ptr<const ImageDecoder> MakeWebpDecoder() { return std::make_unique<WebpDecoder>(); }

}  // namespace skyfold
