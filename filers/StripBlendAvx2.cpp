// The vector form of the strip blend, for CPUs with AVX2 and FMA: the same
// bytes as the plain form several times faster. Chosen once by
// StripBlend.cpp; tests run both forms on the same machine.
#include <immintrin.h>

#include <algorithm>
#include <cstring>

#include "filers/StripBlendDetail.h"

namespace skyfold::blend {

namespace {

// The vector forms below need AVX2, the blend also FMA.

// The same four entries at a time: the right half is read backwards and
// turned round in the register.
__attribute__((target("avx2"))) void DeriveRowAvx2(const TmxCurrencyUV& table, int y, int width,
                                                   PackedUV* out) {
  const int columns = table.Columns();
  const int rows = table.Rows();
  const bool lower = y >= rows / 2;
  const PackedUV* stored = table.Row(lower ? rows - 1 - y : y);
  const int half = std::min(width, columns / 2);
  // Per entry, as 16-bit words (U, UFrac, V, VFrac): what a mirrored word
  // is taken from, and which words each mirroring changes.
  const __m256i from = _mm256_set1_epi64x(static_cast<long long>(
      std::uint64_t{static_cast<std::uint16_t>(columns - 2)} | (std::uint64_t{kFracOne} << 16) |
      (std::uint64_t{static_cast<std::uint16_t>(rows - 2)} << 32) |
      (std::uint64_t{kFracOne} << 48)));
  const __m256i rowWords =
      _mm256_set1_epi64x(lower ? static_cast<long long>(0xffffffff00000000ULL) : 0);
  const __m256i columnWords = _mm256_set1_epi64x(0xffffffffLL);
  const __m256i zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 4 <= half; x += 4) {
    const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stored + x));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_blendv_epi8(e, _mm256_sub_epi16(from, e), rowWords));
  }
  if (x < half) {
    DeriveRowFrom(table, y, half, out, x);
    x = half;
  }
  for (; x + 4 <= width; x += 4) {
    const __m256i e = _mm256_permute4x64_epi64(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stored + (columns - 4 - x))), 0x1B);
    // U < 0 (no source) in word 0, copied to word 1: those keep U and UFrac.
    const __m256i negative =
        _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(_mm256_cmpgt_epi16(zero, e), 0xA0), 0xA0);
    const __m256i flip = _mm256_or_si256(_mm256_andnot_si256(negative, columnWords), rowWords);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                        _mm256_blendv_epi8(e, _mm256_sub_epi16(from, e), flip));
  }
  DeriveRowFrom(table, y, width, out, x);
}

// Why the vector forms below give exactly BlendPixel's bytes: every product
// and sum before the division is an integer below 2^53, so exact in 32-bit
// lanes or in double; the division by 10^8 is correctly rounded, and since n
// is an integer the true quotient is either exactly k + 0.5 (then
// representable and returned exactly) or at least 10^-8 away from it, far
// beyond the division's error; rounding to nearest-even then gives the
// definition's half-to-even result.

// One pixel, its three channels in the lanes of a vector. Pixels whose
// eight-byte loads would cross the end of a row, and those with clamped
// neighbours, take BlendPixel.
template <int kBytes>
__attribute__((target("avx2,fma"))) inline void BlendPixelAvx2(std::uint8_t* out,
                                                               const StripView& src,
                                                               const PackedUV e, bool white) {
  if (e.U < 0) {  // no source: the pixel keeps what dest holds, or turns white
    if (white) std::memset(out, 255, 3);
    return;
  }
  const int w = src.width;
  const int h = src.height;
  const std::size_t stride = src.stride;
  const int c0 = e.U;
  const int r0 = e.V;
  // The vector path loads eight bytes from (c0, r0) and from (c0, r0 + 1).
  if (c0 > w - 3 || r0 < 0 || r0 > h - 2) {
    const int cc = std::min(c0, w - 1);
    const int rc = std::clamp(r0, 0, h - 1);
    BlendPixel(
        out,
        src.data + stride * static_cast<std::size_t>(rc) + static_cast<std::size_t>(cc) * kBytes,
        cc + 1 < w ? kBytes : 0, rc + 1 < h ? stride : 0, e);
    return;
  }
  const std::uint8_t* p00 =
      src.data + stride * static_cast<std::size_t>(r0) + static_cast<std::size_t>(c0) * kBytes;
  const __m128i top = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p00));
  const __m128i bottom = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p00 + stride));
  // upper = P00·gu + P01·fu = P00·10^4 + (P01 − P00)·fu, likewise lower.
  const __m128i fu = _mm_set1_epi32(e.UFrac);
  const __m128i t0 = _mm_cvtepu8_epi32(top);
  const __m128i b0 = _mm_cvtepu8_epi32(bottom);
  const __m128i tenThousand = _mm_set1_epi32(kFracOne);
  const __m128i upper = _mm_add_epi32(
      _mm_mullo_epi32(t0, tenThousand),
      _mm_mullo_epi32(_mm_sub_epi32(_mm_cvtepu8_epi32(_mm_srli_si128(top, kBytes)), t0), fu));
  const __m128i lower = _mm_add_epi32(
      _mm_mullo_epi32(b0, tenThousand),
      _mm_mullo_epi32(_mm_sub_epi32(_mm_cvtepu8_epi32(_mm_srli_si128(bottom, kBytes)), b0), fu));
  // n = upper·10^4 + (lower − upper)·fv; the fused form is exact too.
  const __m256d fv = _mm256_set1_pd(static_cast<double>(e.VFrac));
  const __m256d n =
      _mm256_fmadd_pd(_mm256_cvtepi32_pd(_mm_sub_epi32(lower, upper)), fv,
                      _mm256_mul_pd(_mm256_cvtepi32_pd(upper), _mm256_set1_pd(kFracOne)));
  __m256d v = _mm256_round_pd(_mm256_div_pd(n, _mm256_set1_pd(1e8)),
                              _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
  v = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(255.0));
  const __m128i levels = _mm256_cvtpd_epi32(v);
  const __m128i bytes = _mm_packus_epi16(_mm_packus_epi32(levels, levels), levels);
  const auto bgr = static_cast<std::uint32_t>(_mm_cvtsi128_si32(bytes));
  const auto bg = static_cast<std::uint16_t>(bgr);
  std::memcpy(out, &bg, 2);
  out[2] = static_cast<std::uint8_t>(bgr >> 16);
}

// Pixels ahead of the one being blended whose source lines are fetched
// early: the source is read along curves, which the hardware prefetcher
// does not follow.
constexpr int kPrefetchAhead = 32;

// Asks for the two source lines of entry e; never faults, whatever e holds.
__attribute__((target("avx2,fma"))) inline void PrefetchSource(const StripView& src,
                                                               const PackedUV& e) {
  const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(src.data) +
                            src.stride * static_cast<std::uint16_t>(e.V) +
                            std::size_t{3} * static_cast<std::uint16_t>(e.U);
  _mm_prefetch(reinterpret_cast<const char*>(at), _MM_HINT_T0);
  _mm_prefetch(reinterpret_cast<const char*>(at + src.stride), _MM_HINT_T0);
}

// Pixel i of a group of four ordinary entries (see BlendRowsAvx2Bgr24):
// pairs holds the (g, f) 16-bit pairs of the group, UFrac's in dword 2i and
// VFrac's in dword 2i + 1; fu the four UFracs in double. Returns the levels
// of B, G, R (and one unused lane) as 32-bit integers.
template <int i>
__attribute__((target("avx2,fma"))) inline __m128i BlendGroupPixel(const StripView& src,
                                                                   const PackedUV& entry,
                                                                   __m256i pairs, __m256d fu) {
  const std::uint8_t* p00 = src.data + src.stride * static_cast<std::size_t>(entry.V) +
                            static_cast<std::size_t>(entry.U) * 3;
  const __m128i top = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p00));
  const __m128i bottom = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p00 + src.stride));
  // (top, bottom) byte pairs of the two source columns, as 16-bit pairs.
  const __m256i column = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(top, bottom));
  const __m256i l =
      _mm256_madd_epi16(column, _mm256_permutevar8x32_epi32(pairs, _mm256_set1_epi32(2 * i + 1)));
  const __m128i left = _mm256_castsi256_si128(l);
  const __m128i right = _mm_alignr_epi8(_mm256_extracti128_si256(l, 1), left, 12);
  const __m256d a = _mm256_cvtepi32_pd(left);
  const __m256d n = _mm256_fmadd_pd(_mm256_sub_pd(_mm256_cvtepi32_pd(right), a),
                                    _mm256_permute4x64_pd(fu, i * 0x55),
                                    _mm256_mul_pd(a, _mm256_set1_pd(kFracOne)));
  return _mm256_cvtpd_epi32(_mm256_round_pd(_mm256_div_pd(n, _mm256_set1_pd(1e8)),
                                            _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC));
}

// 24-bit rows, four pixels at a time where all four entries are ordinary:
// a source inside the fast range and both fractions within 0 … 10000. Then
// the vertical step runs first, in 16-bit pairs: L = gv·P(r0) + fv·P(r0+1)
// for the six bytes of the two source columns (exact in 32 bits), and
// n = L_left·10^4 + (L_right − L_left)·fu in double, the same integer as
// the definition's upper·gv + lower·fv. Other groups go pixel by pixel.
template <typename RowsOf>
__attribute__((target("avx2,fma"))) void BlendRowsAvx2Bgr24(const StripTarget& dest,
                                                            const StripView& src, RowsOf rowsOf,
                                                            int first, int last) {
  const int w = src.width;
  const bool white = dest.whiteWithoutSource;
  const auto limit = [](int v) {
    return static_cast<std::uint64_t>(std::clamp(v, -1, 32767)) & 0xffff;
  };
  // Per entry (U, UFrac, V, VFrac) as 16-bit words: the largest fast values.
  const __m256i highest = _mm256_set1_epi64x(
      static_cast<long long>(limit(w - 3) | (std::uint64_t{kFracOne} << 16) |
                             (limit(src.height - 2) << 32) | (std::uint64_t{kFracOne} << 48)));
  const __m256i zero = _mm256_setzero_si256();
  const __m256i tenThousand = _mm256_set1_epi32(kFracOne);
  const __m256i lowWords = _mm256_set1_epi32(0xffff);
  const __m256i uFractions = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  // Bytes 0–2 of each 32-bit result, packed: the four pixels' 12 bytes.
  const __m128i packPixels = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  for (int y = first; y < last; ++y) {
    const PackedUV* entries = rowsOf(y);
    std::uint8_t* out = dest.data + dest.stride * static_cast<std::size_t>(y - first);
    int x = 0;
    for (; x + 4 <= w; x += 4) {
      if (x + kPrefetchAhead + 4 <= w) {
        PrefetchSource(src, entries[x + kPrefetchAhead]);
        PrefetchSource(src, entries[x + kPrefetchAhead + 2]);
      }
      const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries + x));
      const __m256i outside =
          _mm256_or_si256(_mm256_cmpgt_epi16(e, highest), _mm256_cmpgt_epi16(zero, e));
      if (!_mm256_testz_si256(outside, outside)) {
        for (int i = 0; i < 4; ++i)
          BlendPixelAvx2<3>(out + (x + i) * 3, src, entries[x + i], white);
        continue;
      }
      // Per pixel i: dword 2i = UFrac, dword 2i + 1 = VFrac; as 16-bit pairs
      // (g, f) for the multiply-add, and fu in double.
      const __m256i fractions = _mm256_srai_epi32(e, 16);
      const __m256i pairs =
          _mm256_or_si256(_mm256_slli_epi32(fractions, 16),
                          _mm256_and_si256(_mm256_sub_epi32(tenThousand, fractions), lowWords));
      const __m256d fu = _mm256_cvtepi32_pd(
          _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(fractions, uFractions)));
      const __m128i levels[4] = {
          BlendGroupPixel<0>(src, entries[x], pairs, fu),
          BlendGroupPixel<1>(src, entries[x + 1], pairs, fu),
          BlendGroupPixel<2>(src, entries[x + 2], pairs, fu),
          BlendGroupPixel<3>(src, entries[x + 3], pairs, fu),
      };
      // Weights within 0 … 10000 keep every level within 0 … 255.
      const __m128i bytes =
          _mm_shuffle_epi8(_mm_packus_epi16(_mm_packs_epi32(levels[0], levels[1]),
                                            _mm_packs_epi32(levels[2], levels[3])),
                           packPixels);
      std::uint8_t* o = out + x * 3;
      _mm_storel_epi64(reinterpret_cast<__m128i*>(o), bytes);
      const auto last4 = static_cast<std::uint32_t>(_mm_extract_epi32(bytes, 2));
      std::memcpy(o + 8, &last4, 4);
    }
    for (; x < w; ++x) BlendPixelAvx2<3>(out + x * 3, src, entries[x], white);
  }
}

template <int kBytes>
__attribute__((target("avx2,fma"))) void BlendRowsAvx2(const StripTarget& dest,
                                                       const StripView& src,
                                                       const TmxCurrencyUV& table, int first,
                                                       int last) {
  if constexpr (kBytes == 3) {
    // A stored table is read in place; only a mirrored one needs RowEntries.
    if (table.Mirrored()) {
      RowEntries<DeriveRowAvx2> rowEntries;
      BlendRowsAvx2Bgr24(
          dest, src, [&](int y) { return rowEntries.Of(table, y, src.width); }, first, last);
    } else {
      BlendRowsAvx2Bgr24(
          dest, src, [&](int y) { return table.Row(y); }, first, last);
    }
  } else {
    RowEntries<DeriveRowAvx2> rowEntries;
    for (int y = first; y < last; ++y) {
      const PackedUV* entries = rowEntries.Of(table, y, src.width);
      std::uint8_t* out = dest.data + dest.stride * static_cast<std::size_t>(y - first);
      for (int x = 0; x < src.width; ++x, out += kBytes)
        BlendPixelAvx2<kBytes>(out, src, entries[x], dest.whiteWithoutSource);
    }
  }
}

}  // namespace

bool VectorFormSupported() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

void BlendStripRowsVector(const StripTarget& dest, const StripView& src, int bytes,
                          const TmxCurrencyUV& table, int first, int last) {
  if (bytes == 3) {
    BlendRowsAvx2<3>(dest, src, table, first, last);
  } else if (bytes == 4) {
    BlendRowsAvx2<4>(dest, src, table, first, last);
  }
}

}  // namespace skyfold::blend
