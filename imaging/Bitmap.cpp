#include "imaging/Bitmap.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "imaging/Errors.h"
#include "imaging/SourceLimits.h"

namespace skyfold {

bool IsIndexed(PixelFormat format) {
  return format == PixelFormat::Indexed1 || format == PixelFormat::Indexed4 ||
         format == PixelFormat::Indexed8;
}

int BytesPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::Bgr24:
      return 3;
    case PixelFormat::Bgrx32:
    case PixelFormat::Bgra32:
      return 4;
    case PixelFormat::Rgb48:
      return 6;
    case PixelFormat::Rgba64:
      return 8;
    case PixelFormat::RgbF96:
      return 12;
    case PixelFormat::RgbaF128:
      return 16;
    default:
      return 1;
  }
}

SampleType SampleTypeOf(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb48:
    case PixelFormat::Rgba64:
      return SampleType::U16;
    case PixelFormat::RgbF96:
    case PixelFormat::RgbaF128:
      return SampleType::F32;
    default:
      return SampleType::U8;
  }
}

int ChannelCount(PixelFormat format) {
  if (IsIndexed(format)) return 1;
  switch (format) {
    case PixelFormat::Bgr24:
    case PixelFormat::Rgb48:
    case PixelFormat::RgbF96:
      return 3;
    default:
      return 4;
  }
}

bool HasAlpha(PixelFormat format) {
  return format == PixelFormat::Bgra32 || format == PixelFormat::Rgba64 ||
         format == PixelFormat::RgbaF128;
}

PixelFormat DirectFormat(SampleType type, bool alpha) {
  switch (type) {
    case SampleType::U16:
      return alpha ? PixelFormat::Rgba64 : PixelFormat::Rgb48;
    case SampleType::F32:
      return alpha ? PixelFormat::RgbaF128 : PixelFormat::RgbF96;
    default:
      return alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
  }
}

bool BitmapSizeAllowed(std::int64_t width, std::int64_t height, PixelFormat format) {
  if (width < 0 || height < 0 || width > kMaxBitmapSide || height > kMaxBitmapSide) return false;
  return width * height * BytesPerPixel(format) <= kMaxBitmapBytes;
}

namespace {

PixelMemory Allocate(int width, int height, PixelFormat format, const PoolRef& pool) {
  if (!BitmapSizeAllowed(width, height, format)) {
    throw MemoryError(kOutOfMemoryMessage, TooLargeReason(width, height, format));
  }
  const std::size_t bytes =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * BytesPerPixel(format);
  if (bytes == 0) return nullptr;
  try {
    // Contents undefined: the caller fills every byte once.
    return AllocatePixelMemory(bytes, pool);
  } catch (const std::bad_alloc&) {
    throw MemoryError(kOutOfMemoryMessage, SizeText(width, height) + " 画素の画像を確保できません");
  }
}

// White: every byte 255 (the palette's white entry), or 1.0 in every float
// sample (alpha included: opaque).
void FillWhite(std::uint8_t* data, std::size_t bytes, PixelFormat format, std::uint8_t white) {
  if (SampleTypeOf(format) != SampleType::F32) {
    std::memset(data, white, bytes);
    return;
  }
  std::fill_n(reinterpret_cast<float*>(data), bytes / sizeof(float), 1.0f);
}

}  // namespace

Bitmap::Bitmap(int width, int height, PixelFormat format, PoolRef pool) : pool_(std::move(pool)) {
  reset(width, height, format);
}

Bitmap::Bitmap(int width, int height, PixelFormat format, Uninitialised, PoolRef pool)
    : width_(width), height_(height), format_(format), pool_(std::move(pool)) {
  data_ = Allocate(width, height, format, pool_);
}

Bitmap Bitmap::clone() const {
  Bitmap copy(pool_);
  copy.data_ = Allocate(width_, height_, format_, pool_);
  copy.width_ = width_;
  copy.height_ = height_;
  copy.format_ = format_;
  copy.palette_ = palette_;
  if (byteSize() != 0) std::memcpy(copy.data_.get(), data_.get(), byteSize());
  return copy;
}

void Bitmap::reset(int width, int height, PixelFormat format) {
  auto data = Allocate(width, height, format, pool_);
  data_ = std::move(data);
  width_ = width;
  height_ = height;
  format_ = format;
  if (!IsIndexed(format)) palette_.clear();
  if (byteSize() != 0) FillWhite(data_.get(), byteSize(), format_, whiteIndex());
}

void Bitmap::setSize(int width, int height) {
  if (width == width_ && height == height_) return;
  auto data = Allocate(width, height, format_, pool_);
  const std::uint8_t white = whiteIndex();
  const int bpp = bytesPerPixel();
  const std::size_t newRow = static_cast<std::size_t>(width) * bpp;
  const std::size_t keep = static_cast<std::size_t>(std::min(width, width_)) * bpp;
  const int keepRows = std::min(height, height_);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* dst = data.get() + newRow * y;
    if (y < keepRows) {
      std::memcpy(dst, row(y), keep);
      FillWhite(dst + keep, newRow - keep, format_, white);
    } else {
      FillWhite(dst, newRow, format_, white);
    }
  }
  data_ = std::move(data);
  width_ = width;
  height_ = height;
}

std::uint8_t Bitmap::whiteIndex() const {
  if (!IsIndexed(format_)) return 255;
  const PaletteEntry white{255, 255, 255};
  auto it = std::find(palette_.begin(), palette_.end(), white);
  return it == palette_.end() ? 0 : static_cast<std::uint8_t>(it - palette_.begin());
}

PaletteEntry Bitmap::pixel(int x, int y) const {
  const std::uint8_t* p = row(y) + static_cast<std::size_t>(x) * bytesPerPixel();
  if (IsIndexed(format_)) {
    return *p < palette_.size() ? palette_[*p] : PaletteEntry{};
  }
  return PaletteEntry{p[0], p[1], p[2]};
}

void Bitmap::swap(Bitmap& other) noexcept {
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(format_, other.format_);
  std::swap(data_, other.data_);
  std::swap(palette_, other.palette_);
  std::swap(pool_, other.pool_);
}

}  // namespace skyfold
