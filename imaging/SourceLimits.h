// What every decoder checks in a header before it allocates for the image:
// a size of zero, a size too large to hold, and a size that the stored data
// cannot describe. The last is a bound per compression scheme on how many
// decoded bytes one stored byte can yield; the bounds are generous (about
// twice what the scheme can reach), so only a file whose declared size is a
// lie, or that lost most of its data, is refused.
#pragma once

#include <cstdint>
#include <string>

#include "imaging/Bitmap.h"

namespace skyfold {

inline constexpr const char* kZeroSizeMessage = "画像の幅または高さが 0 です。";
inline constexpr const char* kTooLargeMessage = "画像が大きすぎて読み込めません。";
inline constexpr const char* kTooLittleDataMessage =
    "画像の大きさに対してデータが少なすぎます。ファイルが壊れているか、途中で切れています。";

// "53504 × 26752"
std::string SizeText(std::int64_t width, std::int64_t height);

// The reason a width × height image is refused ("" when it is not): a side
// of zero (or below), or a bitmap of that format beyond the bitmap limits.
std::string ZeroSizeReason(std::int64_t width, std::int64_t height);
std::string TooLargeReason(std::int64_t width, std::int64_t height, PixelFormat format);

// Throws CodecError kZeroSizeMessage / MemoryError kTooLargeMessage (with the
// size as the detail) when the size is refused.
void CheckImageSize(std::int64_t width, std::int64_t height, PixelFormat format);

// How many decoded units (bytes, or pixels where the scheme is bounded per
// pixel) one stored byte can yield at most, generously.
namespace expansion {
inline constexpr std::uint64_t kStored = 4;         // uncompressed (subsampled YCbCr: < 3)
inline constexpr std::uint64_t kPackBits = 128;     // 2 bytes → 128
inline constexpr std::uint64_t kDeflate = 2048;     // zlib's limit is 1032
inline constexpr std::uint64_t kLzw = 4096;         // 12-bit codes of up to 4 KB strings
inline constexpr std::uint64_t kThunderScan = 128;  // one byte → 63 pixels
inline constexpr std::uint64_t kOther = 65536;      // zstd, LZMA and the like
// Pixels per byte: a bi-level CCITT row costs at least one bit (a blank
// A3 page at 600 dpi is about 56000 pixels a byte).
inline constexpr std::uint64_t kCcittPixels = 65536;
// Pixels per byte: every 8 × 8 block of a Huffman-coded JPEG costs at least
// one bit (two in a sequential scan), so 512 pixels a byte at the very most.
inline constexpr std::uint64_t kJpegPixels = 1024;
// Small images are never refused on this ground.
inline constexpr std::uint64_t kFloor = std::uint64_t{1} << 22;
}  // namespace expansion

// The reason `declared` units cannot come from `stored` bytes at `perByte`
// units a byte ("" when they can, or when declared is within the floor);
// width × height is the declared size the message names.
std::string DataBoundReason(std::uint64_t declared, std::uint64_t stored, std::uint64_t perByte,
                            std::int64_t width, std::int64_t height);

}  // namespace skyfold
