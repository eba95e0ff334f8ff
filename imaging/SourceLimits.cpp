#include "imaging/SourceLimits.h"

#include "imaging/Errors.h"

namespace skyfold {

std::string SizeText(std::int64_t width, std::int64_t height) {
  return std::to_string(width) + " × " + std::to_string(height);
}

std::string ZeroSizeReason(std::int64_t width, std::int64_t height) {
  if (width > 0 && height > 0) return {};
  return "幅 " + std::to_string(width) + "、高さ " + std::to_string(height) + " の画像です";
}

std::string TooLargeReason(std::int64_t width, std::int64_t height, PixelFormat format) {
  if (BitmapSizeAllowed(width, height, format)) return {};
  return SizeText(width, height) + " 画素は扱える大きさ（一辺 " + std::to_string(kMaxBitmapSide) +
         " 画素、" + std::to_string(kMaxBitmapBytes >> 30) + " GiB）を超えています";
}

void CheckImageSize(std::int64_t width, std::int64_t height, PixelFormat format) {
  if (std::string why = ZeroSizeReason(width, height); !why.empty()) {
    throw CodecError(kZeroSizeMessage, why);
  }
  if (std::string why = TooLargeReason(width, height, format); !why.empty()) {
    throw MemoryError(kTooLargeMessage, why);
  }
}

std::string DataBoundReason(std::uint64_t declared, std::uint64_t stored, std::uint64_t perByte,
                            std::int64_t width, std::int64_t height) {
  if (declared <= expansion::kFloor) return {};
  // declared / perByte rounded up is the fewest bytes that could hold it.
  const std::uint64_t needed = declared / perByte + (declared % perByte != 0);
  if (stored >= needed) return {};
  return SizeText(width, height) + " 画素の画像と書かれていますが、データは " +
         std::to_string(stored) + " バイトしかありません（少なくとも " + std::to_string(needed) +
         " バイト必要です）";
}

}  // namespace skyfold
