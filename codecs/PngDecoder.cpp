// PNG decoder over libpng's progressive-free read API.
//
// Palette images without transparency become Indexed8 with the file's
// palette; grey images Indexed8 with a grey ramp; RGB Bgr24; anything with
// alpha (an alpha channel or a tRNS chunk) Bgrx32 with alpha as the fourth
// byte. 16-bit samples keep their high byte; no gamma correction is applied.
//
// Before libpng runs, the IHDR chunk is read here: a size of zero, or one
// the stored bytes cannot describe even at zlib's best, is refused with a
// message of ours.
//
// libpng reports errors through a callback that must not return. Ours copies
// the message into plain data and longjmps back to RunGuarded, whose guarded
// bodies hold only trivially destructible locals; the C++ side then throws
// a short message of ours with libpng's words as the detail. The bytes come
// from an InputFile through our read callback.
#include <png.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "codecs/DecoderRegistry.h"
#include "imaging/Errors.h"
#include "imaging/SourceLimits.h"

namespace skyfold {
namespace {

constexpr const char* kPngMessage = "PNG ファイルを読み込めません。";
constexpr const char* kPngTruncatedMessage = "PNG ファイルが途中で切れています。";

struct PngErrorState {
  std::jmp_buf jump;
  char message[256] = {};
  // The read callback's: where it reads, and why it stopped.
  const InputFile* file = nullptr;
  std::uint64_t offset = 0;
  bool truncated = false;
  std::exception_ptr failure;
};

[[noreturn]] void PngError(png_structp png, png_const_charp text) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", text ? text : "");
  std::longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void ReadData(png_structp png, png_bytep data, png_size_t length) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::size_t got = 0;
  bool failed = false;
  try {
    got = state->file->readAt(state->offset, data, length);
  } catch (...) {
    state->failure = std::current_exception();
    failed = true;
  }
  if (failed) png_error(png, "read error");
  state->offset += got;
  if (got < length) {
    state->truncated = true;
    png_error(png, "unexpected end of file");
  }
}

template <typename Body>
bool RunGuarded(PngErrorState& state, Body& body) {
  if (setjmp(state.jump) != 0) return false;
  body();
  return true;
}

[[noreturn]] void ThrowPngFailure(const PngErrorState& state) {
  if (state.failure) std::rethrow_exception(state.failure);
  // libpng has no error codes; its allocation failures all say "memory".
  std::string text = state.message;
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.find("memory") != std::string::npos) throw MemoryError(kOutOfMemoryMessage, text);
  throw CodecError(state.truncated ? kPngTruncatedMessage : kPngMessage, text);
}

template <typename Body>
void Guarded(PngErrorState& state, Body body) {
  if (!RunGuarded(state, body)) ThrowPngFailure(state);
}

class PngReadHandle {
 public:
  PngReadHandle() {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state_, PngError, PngWarning);
    if (!png_) throw MemoryError(kOutOfMemoryMessage);
    info_ = png_create_info_struct(png_);  // returns null on failure, never errors
    if (!info_) {
      png_destroy_read_struct(&png_, nullptr, nullptr);
      throw MemoryError(kOutOfMemoryMessage);
    }
  }
  ~PngReadHandle() { png_destroy_read_struct(&png_, &info_, nullptr); }
  PngReadHandle(const PngReadHandle&) = delete;
  PngReadHandle& operator=(const PngReadHandle&) = delete;

  png_structp png() { return png_; }
  png_infop info() { return info_; }
  PngErrorState& state() { return state_; }

 private:
  PngErrorState state_;
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

std::uint32_t Big32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The IHDR chunk, which must come first, read and judged before libpng runs.
void CheckIhdr(const InputFile& file) {
  std::uint8_t b[33];
  const std::size_t got = file.readAt(0, b, sizeof b);
  if (got < 8 || png_sig_cmp(b, 0, 8) != 0) throw CodecError(kPngMessage, "no PNG signature");
  if (got < sizeof b) throw CodecError(kPngTruncatedMessage, "the file ends inside IHDR");
  if (Big32(b + 8) != 13 || std::memcmp(b + 12, "IHDR", 4) != 0) {
    throw CodecError(kPngMessage, "the first chunk is not IHDR");
  }
  const std::uint32_t width = Big32(b + 16), height = Big32(b + 20);
  if (std::string why = ZeroSizeReason(width, height); !why.empty()) {
    throw CodecError(kZeroSizeMessage, why);
  }
  const int depth = b[24];
  int channels = 0;
  switch (b[25]) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
      channels = 1;
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      channels = 2;
      break;
    case PNG_COLOR_TYPE_RGB:
      channels = 3;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      channels = 4;
      break;
    default:
      throw CodecError(kPngMessage, "colour type " + std::to_string(b[25]));
  }
  // Each row is a filter byte and the packed samples, all deflated.
  const std::uint64_t rowBytes =
      1 + (std::uint64_t{width} * static_cast<std::uint64_t>(depth * channels) + 7) / 8;
  if (std::string why =
          DataBoundReason(rowBytes * height, file.size(), expansion::kDeflate, width, height);
      !why.empty()) {
    throw CodecError(kTooLittleDataMessage, why);
  }
}

// What the header says, after png_read_info.
struct PngHeader {
  png_uint_32 width = 0, height = 0;
  int depth = 0, colorType = 0;
  bool transparency = false;
  PixelFormat format = PixelFormat::Bgr24;
};

PngHeader ReadHeader(PngReadHandle& handle, const InputFile& file) {
  CheckIhdr(file);
  png_structp png = handle.png();
  png_infop info = handle.info();
  handle.state().file = &file;
  Guarded(handle.state(), [png, info] {
    png_set_read_fn(png, nullptr, ReadData);
    png_set_user_limits(png, kMaxBitmapSide, kMaxBitmapSide);
    png_read_info(png, info);
  });
  PngHeader h;
  h.width = png_get_image_width(png, info);
  h.height = png_get_image_height(png, info);
  h.depth = png_get_bit_depth(png, info);
  h.colorType = png_get_color_type(png, info);
  h.transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  if (!h.transparency &&
      (h.colorType == PNG_COLOR_TYPE_PALETTE || h.colorType == PNG_COLOR_TYPE_GRAY)) {
    h.format = PixelFormat::Indexed8;
  } else if ((h.colorType & PNG_COLOR_MASK_ALPHA) != 0 || h.transparency) {
    h.format = PixelFormat::Bgrx32;
  }
  CheckImageSize(h.width, h.height, h.format);
  return h;
}

ImageHeader ProbePng(const InputFile& file) {
  PngReadHandle handle;
  const PngHeader h = ReadHeader(handle, file);
  ImageHeader info;
  info.format = "PNG";
  info.width = h.width;
  info.height = h.height;
  info.channels = png_get_channels(handle.png(), handle.info());
  info.bitsPerSample = h.depth;
  info.bitsPerPixel = h.depth * info.channels;
  info.loadedFormat = h.format;
  info.bitmapBytes =
      std::uint64_t{h.width} * h.height * static_cast<std::uint64_t>(BytesPerPixel(h.format));
  // libpng's own: two rows of the file's samples.
  info.peakBytes = info.bitmapBytes + 2 * png_get_rowbytes(handle.png(), handle.info()) + 65536;
  info.fileBytes = file.size();
  return info;
}

// deep: every colour type as R, G, B (, A) at 8 or 16 bits as stored
// (Bgr24 / Bgra32 / Rgb48 / Rgba64).
void LoadPng(const InputFile& file, Bitmap& bitmap, bool deep) {
  PngReadHandle handle;
  png_structp png = handle.png();
  png_infop info = handle.info();
  const PngHeader h = ReadHeader(handle, file);
  const bool alpha = (h.colorType & PNG_COLOR_MASK_ALPHA) != 0 || h.transparency;
  const bool sixteen = h.depth == 16;
  const PixelFormat format =
      deep ? DirectFormat(sixteen ? SampleType::U16 : SampleType::U8, alpha) : h.format;
  if (deep) CheckImageSize(h.width, h.height, format);
  const int colorType = h.colorType;
  const bool transparency = h.transparency;

  std::vector<PaletteEntry> palette;
  if (format == PixelFormat::Indexed8 && colorType == PNG_COLOR_TYPE_PALETTE) {
    png_colorp entries = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &entries, &count);
    // Indices past the stored palette read black rather than out of range.
    palette.resize(std::size_t{1} << h.depth);
    for (int i = 0; i < count && i < static_cast<int>(palette.size()); ++i) {
      palette[i] = {entries[i].blue, entries[i].green, entries[i].red};
    }
  } else if (format == PixelFormat::Indexed8) {
    palette.resize(256);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<std::uint8_t>(i);
      palette[i] = {v, v, v};
    }
  }

  const bool grey = (colorType & PNG_COLOR_MASK_COLOR) == 0;
  Guarded(handle.state(), [png, info, format, grey, colorType, transparency, deep, sixteen] {
    if (deep && sixteen) {
      png_set_swap(png);  // little-endian samples in memory
    } else {
      png_set_strip_16(png);
    }
    png_set_packing(png);
    if (format == PixelFormat::Indexed8) {
      if (grey) png_set_expand_gray_1_2_4_to_8(png);
    } else {
      if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
      if (grey) {
        png_set_expand_gray_1_2_4_to_8(png);
        png_set_gray_to_rgb(png);
      }
      if (transparency) png_set_tRNS_to_alpha(png);
      if (!(deep && sixteen)) png_set_bgr(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
  });

  Bitmap result(static_cast<int>(h.width), static_cast<int>(h.height), format);
  if (png_get_rowbytes(png, info) != result.rowBytes()) {
    throw CodecError("Cannot load image. Unexpected PNG row layout.");
  }
  result.setPalette(std::move(palette));
  std::vector<png_bytep> rows(h.height);
  for (png_uint_32 y = 0; y < h.height; ++y) rows[y] = result.row(static_cast<int>(y));
  png_bytepp rowArray = rows.data();
  Guarded(handle.state(), [png, rowArray] { png_read_image(png, rowArray); });
  bitmap.swap(result);
}

class PngDecoder final : public ImageDecoder {
 public:
  const char* name() const override { return "PNG"; }
  bool canRead(std::istream& stream) const override {
    const auto head = PeekBytes(stream, 8);
    return head.size() == 8 && png_sig_cmp(head.data(), 0, 8) == 0;
  }
  void load(const InputFile& file, Bitmap& bitmap, LoadReport*) const override {
    LoadPng(file, bitmap, false);
  }
  void loadDeep(const InputFile& file, Bitmap& bitmap, LoadReport*) const override {
    LoadPng(file, bitmap, true);
  }
  ImageHeader probe(const InputFile& file) const override { return ProbePng(file); }
};

}  // namespace

std::unique_ptr<const ImageDecoder> MakePngDecoder() { return std::make_unique<PngDecoder>(); }

}  // namespace skyfold
