// Bitmap: the in-memory raster every part of Skyfold works on.
//
// Rows run top-down (row 0 is the top row) and are contiguous with no
// padding, so row(y) + x * bytesPerPixel() addresses pixel (x, y).
// Direct formats store B, G, R (and a fourth byte for Bgrx32). Palette
// formats store one index byte per pixel whatever their bit depth (the depth
// is kept only to report the format the file had); the palette maps an
// index to B, G, R.
//
// Raster behaviour the conversions rely on:
//  - a new bitmap is white (every byte 255; palette bitmaps: the palette's
//    white entry, or index 0 when it has none);
//  - setSize keeps the area old and new size share and fills the rest white;
//    setSize to the current size changes nothing;
//  - copies are explicit (clone()), so a 402 MB panorama is never duplicated
//    by accident.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/PixelMemory.h"

namespace skyfold {

enum class PixelFormat : std::uint8_t {
  Indexed1,  // 1-bit palette
  Indexed4,  // 2- to 4-bit palette
  Indexed8,  // 8-bit palette (grey images too)
  Bgr24,     // B, G, R
  Bgrx32,    // B, G, R, fourth byte carried along
  // Sources and results that keep more than the classic 8-bit colour.
  // Deep formats store R, G, B (, A) in that order; alpha is straight (not
  // premultiplied) in every bitmap, premultiplied only while resampling.
  Bgra32,    // B, G, R, alpha (8 bits)
  Rgb48,     // 16-bit R, G, B
  Rgba64,    // 16-bit R, G, B, A
  RgbF96,    // 32-bit float R, G, B
  RgbaF128,  // 32-bit float R, G, B, A
};

enum class SampleType : std::uint8_t { U8, U16, F32 };

struct PaletteEntry {
  std::uint8_t b = 0, g = 0, r = 0;
  friend bool operator==(const PaletteEntry&, const PaletteEntry&) = default;
};

bool IsIndexed(PixelFormat format);
// Bytes one pixel takes in memory: 1 for palette formats, channels × sample
// bytes otherwise.
int BytesPerPixel(PixelFormat format);
// U8 for the palette and 8-bit formats.
SampleType SampleTypeOf(PixelFormat format);
// Colour channels plus alpha: 1 for palette formats, 3 or 4 otherwise
// (Bgrx32 counts 4: its fourth byte is carried along).
int ChannelCount(PixelFormat format);
bool HasAlpha(PixelFormat format);  // Bgra32, Rgba64, RgbaF128
// The format of that sample type with or without alpha.
PixelFormat DirectFormat(SampleType type, bool alpha);

// The largest raster we agree to allocate; headers announcing more are
// refused before any allocation.
inline constexpr std::int64_t kMaxBitmapBytes = std::int64_t{1} << 32;  // 4 GiB
inline constexpr int kMaxBitmapSide = 1 << 18;

// True when a width × height raster of the given format may be allocated
// (both sides ≥ 0 and ≤ kMaxBitmapSide, bytes ≤ kMaxBitmapBytes). Computed in
// 64 bits, so overflowing headers are caught.
bool BitmapSizeAllowed(std::int64_t width, std::int64_t height, PixelFormat format);

// Marks a bitmap whose every byte its creator writes at once: it is not
// filled with white first (the contents are undefined until written).
struct Uninitialised {};

class Bitmap {
 public:
  Bitmap() = default;  // 0 × 0, Bgr24
  // A white bitmap; throws MemoryError when the size is not allowed or the
  // allocation fails.
  Bitmap(int width, int height, PixelFormat format = PixelFormat::Bgr24, PoolRef pool = {});
  // The same without the white fill, for a creator that overwrites every
  // byte (a rotation's target, a face copied out whole).
  Bitmap(int width, int height, PixelFormat format, Uninitialised, PoolRef pool = {});
  // An empty bitmap whose later pixels (reset, setSize, a decoder filling
  // it) come from pool.
  explicit Bitmap(PoolRef pool) : pool_(std::move(pool)) {}

  Bitmap(Bitmap&&) noexcept = default;
  Bitmap& operator=(Bitmap&&) noexcept = default;
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  Bitmap clone() const;

  int width() const { return width_; }
  int height() const { return height_; }
  bool empty() const { return width_ == 0 || height_ == 0; }
  PixelFormat format() const { return format_; }
  int bytesPerPixel() const { return BytesPerPixel(format_); }
  std::size_t rowBytes() const { return static_cast<std::size_t>(width_) * bytesPerPixel(); }
  std::size_t byteSize() const { return rowBytes() * static_cast<std::size_t>(height_); }

  std::uint8_t* row(int y) { return data_.get() + rowBytes() * static_cast<std::size_t>(y); }
  const std::uint8_t* row(int y) const {
    return data_.get() + rowBytes() * static_cast<std::size_t>(y);
  }
  std::uint8_t* data() { return data_.get(); }
  const std::uint8_t* data() const { return data_.get(); }

  // Replaces everything by a new white bitmap of that size and format.
  void reset(int width, int height, PixelFormat format = PixelFormat::Bgr24);
  // New size, same format: the shared area is kept, the rest is white.
  void setSize(int width, int height);

  const std::vector<PaletteEntry>& palette() const { return palette_; }
  void setPalette(std::vector<PaletteEntry> palette) { palette_ = std::move(palette); }
  // The byte value that stands for white in this bitmap's format.
  std::uint8_t whiteIndex() const;

  // Colour of pixel (x, y) as B, G, R whatever the format (slow: for tests
  // and edge handling, never for pixel loops).
  PaletteEntry pixel(int x, int y) const;

  void swap(Bitmap& other) noexcept;

  // Where this bitmap's pixels come from (null: the system); a decoder
  // filling the bitmap, a clone and a new size use the same pool.
  const PoolRef& pool() const { return pool_; }

 private:
  int width_ = 0;
  int height_ = 0;
  PixelFormat format_ = PixelFormat::Bgr24;
  PixelMemory data_;
  std::vector<PaletteEntry> palette_;
  PoolRef pool_;
};

}  // namespace skyfold
