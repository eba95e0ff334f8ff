// The strip blend: the plain per-pixel form, which is the definition, and
// the choice, made once, of the form that runs (the vector form of
// StripBlendAvx2.cpp where the CPU has it).
#include "filers/StripBlend.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "filers/StripBlendDetail.h"

namespace skyfold {

namespace blend {

void DeriveRow(const TmxCurrencyUV& table, int y, int width, PackedUV* out) {
  DeriveRowFrom(table, y, width, out, 0);
}

void DeriveRowFrom(const TmxCurrencyUV& table, int y, int width, PackedUV* out, int from) {
  const int columns = table.Columns();
  const int rows = table.Rows();
  const bool lower = y >= rows / 2;
  const PackedUV* stored = table.Row(lower ? rows - 1 - y : y);
  const int half = columns / 2;
  for (int x = from; x < width; ++x) {
    const bool right = x >= half;
    out[x] = MirroredAcross(stored[right ? columns - 1 - x : x], right, columns, lower, rows);
  }
}

}  // namespace blend

namespace {

using blend::BlendPixel;
using blend::DeriveRow;
using blend::RowEntries;

// Bilinear blend of rows [first, last) of one strip into dest (dest row y at
// destData + y·destStride).
template <int kBytes>
void BlendRows(const StripTarget& dest, const StripView& src, const TmxCurrencyUV& table, int first,
               int last) {
  const int w = src.width;
  const int h = src.height;
  const std::size_t stride = src.stride;
  RowEntries<DeriveRow> rowEntries;
  for (int y = first; y < last; ++y) {
    const PackedUV* entries = rowEntries.Of(table, y, w);
    std::uint8_t* out = dest.data + dest.stride * static_cast<std::size_t>(y - first);
    for (int x = 0; x < w; ++x, out += kBytes) {
      const PackedUV e = entries[x];
      if (e.U < 0) {  // no source: the pixel keeps what dest holds, or turns white
        if (dest.whiteWithoutSource) std::memset(out, 255, 3);
        continue;
      }
      // Neighbours are clamped to the strip, never taken from the next one.
      const int c0 = std::min<int>(e.U, w - 1);
      const int r0 = std::clamp<int>(e.V, 0, h - 1);
      const std::uint8_t* p00 =
          src.data + stride * static_cast<std::size_t>(r0) + static_cast<std::size_t>(c0) * kBytes;
      BlendPixel(out, p00, c0 + 1 < w ? kBytes : 0, r0 + 1 < h ? stride : 0, e);
    }
  }
}

void BlendStripRowsPlain(const StripTarget& dest, const StripView& src, int bytes,
                         const TmxCurrencyUV& table, int first, int last) {
  if (bytes == 3) {
    BlendRows<3>(dest, src, table, first, last);
  } else if (bytes == 4) {
    BlendRows<4>(dest, src, table, first, last);
  }
}

using BlendFunction = void (*)(const StripTarget&, const StripView&, int, const TmxCurrencyUV&, int,
                               int);

BlendFunction Chosen(bool vector) {
#if defined(__x86_64__) || defined(__i386__)
  if (vector && blend::VectorFormSupported()) return blend::BlendStripRowsVector;
#endif
  (void)vector;
  return BlendStripRowsPlain;
}

// SKYFOLD_PLAIN_BLEND=1 in the environment keeps the vector forms off.
std::atomic<bool>& VectorWanted() {
  static std::atomic<bool> wanted{[] {
    const char* plain = std::getenv("SKYFOLD_PLAIN_BLEND");
    return plain == nullptr || std::strcmp(plain, "1") != 0;
  }()};
  return wanted;
}

std::atomic<BlendFunction>& Active() {
  static std::atomic<BlendFunction> active{Chosen(VectorWanted().load())};
  return active;
}

}  // namespace

void BlendStripRows(const StripTarget& dest, const StripView& src, int bytes,
                    const TmxCurrencyUV& table, int first, int last) {
  Active().load(std::memory_order_relaxed)(dest, src, bytes, table, first, last);
}

void UseVectorBlend(bool enabled) {
  VectorWanted() = enabled;
  Active() = Chosen(enabled);
}

bool VectorBlendInUse() { return VectorWanted().load(std::memory_order_relaxed); }

}  // namespace skyfold
