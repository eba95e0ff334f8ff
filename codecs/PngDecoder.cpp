// PNG decoder over libpng's progressive-free read API.
//
// Palette images without transparency become Indexed8 with the file's
// palette; grey images Indexed8 with a grey ramp; RGB Bgr24; anything with
// alpha (an alpha channel or a tRNS chunk) Bgrx32 with alpha as the fourth
// byte. 16-bit samples keep their high byte; no gamma correction is applied.
//
// libpng reports errors through a callback that must not return. Ours copies
// the message into plain data and longjmps back to RunGuarded, whose guarded
// bodies hold only trivially destructible locals; the C++ side then throws.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include "codecs/DecoderRegistry.h"
#include "imaging/Errors.h"

namespace skyfold {
namespace {

struct PngErrorState {
  std::jmp_buf jump;
  char message[256] = {};
};

[[noreturn]] void PngError(png_structp png, png_const_charp text) {
  auto* state = static_cast<PngErrorState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", text ? text : "");
  std::longjmp(state->jump, 1);
}

void PngWarning(png_structp, png_const_charp) {}

template <typename Body>
bool RunGuarded(PngErrorState& state, Body& body) {
  if (setjmp(state.jump) != 0) return false;
  body();
  return true;
}

template <typename Body>
void Guarded(PngErrorState& state, Body body) {
  if (!RunGuarded(state, body)) {
    throw CodecError(std::string("Cannot load image. PNG error: ") + state.message);
  }
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

class PngReadHandle {
 public:
  PngReadHandle() {
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state_, PngError, PngWarning);
    if (!png_) throw MemoryError("Out of memory.");
    info_ = png_create_info_struct(png_);  // returns null on failure, never errors
    if (!info_) {
      png_destroy_read_struct(&png_, nullptr, nullptr);
      throw MemoryError("Out of memory.");
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

void LoadPng(const std::string& fileName, Bitmap& bitmap) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(fileName.c_str(), "rb"));
  if (!file) throw FileError("ファイル \"" + fileName + "\" を開けません。");
  PngReadHandle handle;
  png_structp png = handle.png();
  png_infop info = handle.info();
  std::FILE* f = file.get();

  Guarded(handle.state(), [png, info, f] {
    png_init_io(png, f);
    png_set_user_limits(png, kMaxBitmapSide, kMaxBitmapSide);
    png_read_info(png, info);
  });

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info);
  const int colorType = png_get_color_type(png, info);
  const bool transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

  PixelFormat format = PixelFormat::Bgr24;
  std::vector<PaletteEntry> palette;
  if (colorType == PNG_COLOR_TYPE_PALETTE && !transparency) {
    format = PixelFormat::Indexed8;
    png_colorp entries = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &entries, &count);
    // Indices past the stored palette read black rather than out of range.
    palette.resize(std::size_t{1} << depth);
    for (int i = 0; i < count && i < static_cast<int>(palette.size()); ++i) {
      palette[i] = {entries[i].blue, entries[i].green, entries[i].red};
    }
  } else if (colorType == PNG_COLOR_TYPE_GRAY && !transparency) {
    format = PixelFormat::Indexed8;
    palette.resize(256);
    for (int i = 0; i < 256; ++i) {
      const auto v = static_cast<std::uint8_t>(i);
      palette[i] = {v, v, v};
    }
  } else if ((colorType & PNG_COLOR_MASK_ALPHA) != 0 || transparency) {
    format = PixelFormat::Bgrx32;
  }
  if (!BitmapSizeAllowed(width, height, format)) {
    throw MemoryError("Cannot load image. The image is too large.");
  }

  const bool grey = (colorType & PNG_COLOR_MASK_COLOR) == 0;
  Guarded(handle.state(), [png, info, format, grey, colorType, transparency] {
    png_set_strip_16(png);
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
      png_set_bgr(png);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
  });

  Bitmap result(static_cast<int>(width), static_cast<int>(height), format);
  if (png_get_rowbytes(png, info) != result.rowBytes()) {
    throw CodecError("Cannot load image. Unexpected PNG row layout.");
  }
  result.setPalette(std::move(palette));
  std::vector<png_bytep> rows(height);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = result.row(static_cast<int>(y));
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
  void load(const std::string& fileName, Bitmap& bitmap) const override {
    LoadPng(fileName, bitmap);
  }
};

}  // namespace

std::unique_ptr<const ImageDecoder> MakePngDecoder() { return std::make_unique<PngDecoder>(); }

}  // namespace skyfold
