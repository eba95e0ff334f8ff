// WebP through libwebp's simple encoding API: 8-bit B, G, R (, A), lossy at
// quality 90 or lossless. Deeper samples are rounded and clipped to 8 bits.
#include <webp/encode.h>

#include "imaging/Errors.h"
#include "imaging/ImageMetadata.h"
#include "imaging/OutputFormats.h"
#include "imaging/PixelConvert.h"

namespace skyfold {

namespace {

constexpr float kLossyQuality = 90.0f;

EncodedFile Encode(const Bitmap& bitmap, bool lossless) {
  const bool alpha = HasAlpha(bitmap.format());
  const PixelFormat want = alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
  Bitmap converted;
  const Bitmap* image = &bitmap;
  if (bitmap.format() != want) {
    converted = ConvertFormat(bitmap, want);
    image = &converted;
  }
  if (image->width() > WEBP_MAX_DIMENSION || image->height() > WEBP_MAX_DIMENSION) {
    throw CodecError("WebP ファイルを書き出せません。", "WebP holds at most 16383 pixels a side");
  }
  std::uint8_t* data = nullptr;
  const int stride = static_cast<int>(image->rowBytes());
  std::size_t size = 0;
  if (lossless) {
    size =
        alpha
            ? WebPEncodeLosslessBGRA(image->data(), image->width(), image->height(), stride, &data)
            : WebPEncodeLosslessBGR(image->data(), image->width(), image->height(), stride, &data);
  } else {
    size = alpha ? WebPEncodeBGRA(image->data(), image->width(), image->height(), stride,
                                  kLossyQuality, &data)
                 : WebPEncodeBGR(image->data(), image->width(), image->height(), stride,
                                 kLossyQuality, &data);
  }
  if (size == 0 || data == nullptr) {
    WebPFree(data);
    throw CodecError("WebP ファイルを書き出せません。");
  }
  EncodedFile out(data, data + size);
  WebPFree(data);
  return out;
}

}  // namespace

void SaveWebpLossy(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata) {
  WriteWithMetadata(file, Encode(bitmap, false), metadata);
}
void SaveWebpLossless(OutputFile& file, const Bitmap& bitmap, const ImageMetadata& metadata) {
  WriteWithMetadata(file, Encode(bitmap, true), metadata);
}

}  // namespace skyfold
