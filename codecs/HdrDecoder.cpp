// Radiance RGBE (.hdr) decoder, by hand like its writer (no Debian library
// reads it on its own): the text header, the "-Y H +X W" size line, then
// flat or run-length scanlines. The result is RgbF96.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "codecs/DecoderRegistry.h"
#include "imaging/Errors.h"
#include "imaging/SourceLimits.h"

namespace skyfold {
namespace {

constexpr const char* kHdrMessage = "HDR ファイルを読み込めません。";

struct HdrHeader {
  int width = 0;
  int height = 0;
  std::uint64_t dataOffset = 0;
};

HdrHeader ReadHeader(const InputFile& file) {
  const std::vector<std::uint8_t> head = file.head(64 * 1024);
  std::size_t pos = 0;
  auto line = [&]() {
    std::string text;
    while (pos < head.size() && head[pos] != '\n') text += static_cast<char>(head[pos++]);
    if (pos >= head.size()) throw CodecError(kHdrMessage, "header without end");
    ++pos;
    return text;
  };
  const std::string magic = line();
  if (magic.rfind("#?", 0) != 0) throw CodecError(kHdrMessage, "not a Radiance file");
  for (;;) {
    const std::string text = line();
    if (text.empty()) break;
    if (text.rfind("FORMAT=", 0) == 0 && text != "FORMAT=32-bit_rle_rgbe") {
      throw CodecError(kHdrMessage, "only RGBE pixels are read: " + text);
    }
  }
  HdrHeader h;
  const std::string size = line();
  char tail = 0;
  if (std::sscanf(size.c_str(), "-Y %d +X %d%c", &h.height, &h.width, &tail) != 2 || h.width <= 0 ||
      h.height <= 0) {
    throw CodecError(kHdrMessage, "unsupported size line: " + size);
  }
  h.dataOffset = pos;
  return h;
}

float Component(std::uint8_t m, std::uint8_t e) {
  return e == 0 ? 0.0f : std::ldexp((m + 0.5f) / 256.0f, e - 128);
}

class HdrDecoder final : public ImageDecoder {
 public:
  const char* name() const override { return "HDR"; }
  bool canRead(std::istream& stream) const override {
    const auto head = PeekBytes(stream, 10);
    const std::string text(head.begin(), head.end());
    return text.rfind("#?RADIANCE", 0) == 0 || text.rfind("#?RGBE", 0) == 0;
  }
  void load(const InputFile& file, Bitmap& bitmap, LoadReport*) const override {
    const HdrHeader h = ReadHeader(file);
    CheckImageSize(h.width, h.height, PixelFormat::RgbF96);
    const std::vector<std::uint8_t> data = file.readAll();
    std::size_t pos = h.dataOffset;
    const auto need = [&](std::size_t n) {
      if (data.size() - pos < n) throw CodecError(kHdrMessage, "unexpected end of file");
    };
    Bitmap out(h.width, h.height, PixelFormat::RgbF96, Uninitialised{}, bitmap.pool());
    std::vector<std::uint8_t> rgbe(static_cast<std::size_t>(h.width) * 4);
    for (int y = 0; y < h.height; ++y) {
      need(4);
      const bool rle = h.width >= 8 && h.width < 32768 && data[pos] == 2 && data[pos + 1] == 2 &&
                       ((data[pos + 2] << 8) | data[pos + 3]) == h.width;
      if (rle) {
        pos += 4;
        for (int c = 0; c < 4; ++c) {
          int x = 0;
          while (x < h.width) {
            need(2);
            int count = data[pos++];
            if (count > 128) {
              count -= 128;
              if (x + count > h.width) throw CodecError(kHdrMessage, "bad run length");
              const std::uint8_t value = data[pos++];
              for (int i = 0; i < count; ++i) rgbe[static_cast<std::size_t>(x++) * 4 + c] = value;
            } else {
              if (count == 0 || x + count > h.width) throw CodecError(kHdrMessage, "bad run");
              need(static_cast<std::size_t>(count));
              for (int i = 0; i < count; ++i)
                rgbe[static_cast<std::size_t>(x++) * 4 + c] = data[pos++];
            }
          }
        }
      } else {
        need(rgbe.size());
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(pos),
                  data.begin() + static_cast<std::ptrdiff_t>(pos + rgbe.size()), rgbe.begin());
        pos += rgbe.size();
      }
      auto* d = reinterpret_cast<float*>(out.row(y));
      for (int x = 0; x < h.width; ++x) {
        const std::uint8_t* p = rgbe.data() + static_cast<std::size_t>(x) * 4;
        *d++ = Component(p[0], p[3]);
        *d++ = Component(p[1], p[3]);
        *d++ = Component(p[2], p[3]);
      }
    }
    bitmap.swap(out);
  }
  ImageHeader probe(const InputFile& file) const override {
    const HdrHeader h = ReadHeader(file);
    CheckImageSize(h.width, h.height, PixelFormat::RgbF96);
    ImageHeader info;
    info.format = "HDR";
    info.width = h.width;
    info.height = h.height;
    info.channels = 3;
    info.bitsPerSample = 8;
    info.bitsPerPixel = 32;
    info.loadedFormat = PixelFormat::RgbF96;
    info.fileBytes = file.size();
    info.bitmapBytes = static_cast<std::uint64_t>(h.width) * h.height * 12;
    info.peakBytes = info.bitmapBytes + info.fileBytes;
    return info;
  }
};

}  // namespace

std::unique_ptr<const ImageDecoder> MakeHdrDecoder() { return std::make_unique<HdrDecoder>(); }

}  // namespace skyfold
