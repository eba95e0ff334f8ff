#include "filers/SphereResampler.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "filers/StripBlend.h"
#include "imaging/Errors.h"
#include "imaging/PixelMemory.h"

namespace skyfold {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Subsamples per output axis at most: reached only within a few degrees of
// a pole, where a face pixel spans many panorama columns.
constexpr int kMaxSubsamples = 32;
// Output pixels at most this many source pixels wide are sampled once: the
// filter's own kernel covers them; wider ones are averaged.
constexpr double kAverageAbove = 1.5;
// Rows a worker takes at a time: small, so the cost of the rows near the
// poles is shared out.
constexpr int kGrainRows = 4;
// Face rows a worker takes at a time: made tile by tile (kTileColumns), so
// more rows share what a tile reads of the panorama.
constexpr int kFaceGrainRows = 32;

struct Vec3 {
  double x, y, z;
};

Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec3 operator*(double s, const Vec3& a) { return {s * a.x, s * a.y, s * a.z}; }

Vec3 Apply(const Orientation& o, const Vec3& v) {
  const auto& m = o.m;
  return {m[0][0] * v.x + m[0][1] * v.y + m[0][2] * v.z,
          m[1][0] * v.x + m[1][1] * v.y + m[1][2] * v.z,
          m[2][0] * v.x + m[2][1] * v.y + m[2][2] * v.z};
}

// A face plane as origin + u · a + v · b, in the camera's frame.
struct FacePlane {
  Vec3 o, a, b;
};

FacePlane PlaneOf(int face) {
  switch (face) {
    case 0:  // left
      return {{-1, 0, 0}, {0, 0, 1}, {0, -1, 0}};
    case 1:  // front
      return {{0, 0, 1}, {1, 0, 0}, {0, -1, 0}};
    case 2:  // right
      return {{1, 0, 0}, {0, 0, -1}, {0, -1, 0}};
    case 3:  // back
      return {{0, 0, -1}, {-1, 0, 0}, {0, -1, 0}};
    case 4:  // top
      return {{0, 1, 0}, {1, 0, 0}, {0, 0, 1}};
    default:  // bottom
      return {{0, -1, 0}, {1, 0, 0}, {0, 0, -1}};
  }
}

// (u, v) of direction d on face f's plane (extended beyond the face).
void OnFace(int f, const Vec3& d, double& u, double& v) {
  switch (f) {
    case 0:
      u = -d.z / d.x;
      v = d.y / d.x;
      return;
    case 2:
      u = -d.z / d.x;
      v = -d.y / d.x;
      return;
    case 4:
      u = d.x / d.y;
      v = d.z / d.y;
      return;
    case 5:
      u = -d.x / d.y;
      v = d.z / d.y;
      return;
    case 1:
      u = d.x / d.z;
      v = -d.y / d.z;
      return;
    default:
      u = d.x / d.z;
      v = d.y / d.z;
      return;
  }
}

// The face a direction points into (ties go to the first axis).
int FaceOf(const Vec3& d) {
  const double ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
  if (ax >= ay && ax >= az) return d.x > 0 ? 2 : 0;
  if (ay >= az) return d.y > 0 ? 4 : 5;
  return d.z > 0 ? 1 : 3;
}

// atan2 to about 1e-9 rad (a millionth of a pixel at 65500 wide) at a
// fraction of the library's cost: the forward path takes two per sample.
inline double FastAtan2(double y, double x) {
  const double ax = std::fabs(x), ay = std::fabs(y);
  const double big = std::max(ax, ay);
  if (big == 0) return 0;
  double t = std::min(ax, ay) / big;
  double base = 0;
  if (t > 0.41421356237309503) {  // tan(π/8): atan(t) = π/4 + atan((t − 1)/(t + 1))
    t = (t - 1) / (t + 1);
    base = kPi / 4;
  }
  const double s = t * t;
  double p = -1.0 / 19;
  p = p * s + 1.0 / 17;
  p = p * s - 1.0 / 15;
  p = p * s + 1.0 / 13;
  p = p * s - 1.0 / 11;
  p = p * s + 1.0 / 9;
  p = p * s - 1.0 / 7;
  p = p * s + 1.0 / 5;
  p = p * s - 1.0 / 3;
  p = p * s + 1.0;
  double r = base + t * p;
  if (ay > ax) r = kPi / 2 - r;
  if (x < 0) r = kPi - r;
  return y < 0 ? -r : r;
}

// ---- kernels: taps and their weights for a source position p ----
//
// The 8-bit paths take the weights across in 16-bit fixed point, times
// kTapScale: every form must round them alike to give the same bytes.
constexpr float kTapScale = 16384;
//
// Kernel<Taps>::Weights(f, w): the weights of the taps floor(p) − (Taps/2 − 1)
// onward, for the fraction f = p − floor(p).

template <int Taps>
struct Kernel;

template <>
struct Kernel<2> {
  [[gnu::always_inline]] static void Weights(float f, float* w) {
    w[0] = 1 - f;
    w[1] = f;
  }
};

// Keys' cubic convolution (a = −0.5, Catmull-Rom).
// F: a float, or a vector of them for as many positions at once.
template <>
struct Kernel<4> {
  template <typename F>
  [[gnu::always_inline]] static void Weights(F f, F* w) {
    const F f2 = f * f, f3 = f2 * f;
    w[0] = -0.5f * f3 + f2 - 0.5f * f;
    w[1] = 1.5f * f3 - 2.5f * f2 + 1.0f;
    w[2] = -1.5f * f3 + 2.0f * f2 + 0.5f * f;
    w[3] = 0.5f * f3 - 0.5f * f2;
  }
};

// Lanczos with three lobes, from a table of 1024 phases (each normalised to
// sum 1): sines per tap would cost more than the taps.
template <>
struct Kernel<6> {
  static constexpr int kPhases = 1024;
  struct Table {
    float w[kPhases + 1][6];
    // The same weights as the 8-bit paths use them: times kTapScale, rounded.
    alignas(16) std::int16_t fixed[kPhases + 1][8] = {};
    // And down, over kTapScale (exact: a power of two), as the line's rows
    // take them.
    alignas(16) float down[kPhases + 1][8] = {};
    Table() {
      for (int i = 0; i <= kPhases; ++i) {
        const double f = static_cast<double>(i) / kPhases;
        double sum = 0;
        double raw[6];
        for (int k = 0; k < 6; ++k) {
          const double t = f + 2 - k;  // distance of tap k from p
          const double x = kPi * t;
          raw[k] = std::fabs(t) < 1e-12 ? 1.0
                   : std::fabs(t) >= 3  ? 0.0
                                        : 3 * std::sin(x) * std::sin(x / 3) / (x * x);
          sum += raw[k];
        }
        for (int k = 0; k < 6; ++k) {
          w[i][k] = static_cast<float>(raw[k] / sum);
          fixed[i][k] = static_cast<std::int16_t>(std::lrint(w[i][k] * kTapScale));
          down[i][k] = w[i][k] / kTapScale;
        }
      }
    }
  };
  // Made once at start-up, so that reading it needs no guard per sample.
  static const Table kTable;
  [[gnu::always_inline]] static int Phase(float f) { return static_cast<int>(f * kPhases + 0.5f); }
  [[gnu::always_inline]] static void Weights(float f, float* w) {
    const float* row = kTable.w[Phase(f)];
    for (int k = 0; k < 6; ++k) w[k] = row[k];
  }
};

const Kernel<6>::Table Kernel<6>::kTable;

// The first tap and the weights for position p.
template <int Taps>
[[gnu::always_inline]] inline void TapsAt(double p, int& first, float* w) {
  const double f0 = std::floor(p);
  first = static_cast<int>(f0) - (Taps / 2 - 1);
  Kernel<Taps>::Weights(static_cast<float>(p - f0), w);
}

template <typename T>
T ToSample(float v) {
  if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(v);
  } else {
    // Clipped without branches (a NaN gives 0).
    constexpr float kMax = static_cast<float>(std::numeric_limits<T>::max());
    const float clipped = std::min(v > 0 ? v : 0.0f, kMax);
    return static_cast<T>(clipped + 0.5f);
  }
}

// Four samples as floats, for three or four channels a pixel at a time
// (the fourth lane of a three-channel pixel is the next pixel's first
// sample, read and ignored). Each lane does what the scalar loop does for
// its channel, in the same order: the sums are the same to the bit.
using Float4 = float __attribute__((vector_size(16)));

template <typename T>
[[gnu::always_inline]] inline Float4 Load4(const T* p) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  if constexpr (std::is_same_v<T, std::uint8_t>) {
    std::int32_t bytes = 0;
    std::memcpy(&bytes, p, sizeof bytes);
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero);
    return static_cast<Float4>(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    const __m128i words = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return static_cast<Float4>(_mm_cvtepi32_ps(_mm_unpacklo_epi16(words, zero)));
  } else {
    return static_cast<Float4>(_mm_loadu_ps(p));
  }
#else
  return Float4{static_cast<float>(p[0]), static_cast<float>(p[1]), static_cast<float>(p[2]),
                static_cast<float>(p[3])};
#endif
}

// Adds weight × the kernel's value at (px, py) of src to acc. `outside`
// gives the pixel for taps beyond the raster.
template <typename T, int C, int Taps, typename Outside>
[[gnu::always_inline]] inline void AddTaps(const RasterView<const T>& src, int ix, int iy,
                                           const float* wx, const float* wy, float weight,
                                           float* acc, const Outside& outside) {
  const bool inside = ix >= 0 && iy >= 0 && ix + Taps <= src.width && iy + Taps <= src.height;
  if constexpr (C == 3 || C == 4) {
    // A three-channel raster's very last pixel has nothing after it to read.
    if (inside && (C == 4 || iy + Taps < src.height || ix + Taps < src.width)) {
      Float4 sum = {acc[0], acc[1], acc[2], C == 4 ? acc[C - 1] : 0.0f};
#if defined(__SSE2__)
      if constexpr (std::is_same_v<T, std::uint8_t> && Taps >= 4) {
        // 8-bit rows of four or six taps in 16-bit fixed point, two taps a
        // multiply-add: each row's sum exact in 32 bits, its weights within
        // 1 / 32768 of the float ones.
        const __m128i zero = _mm_setzero_si128();
        const __m128i lo = _mm_cvtps_epi32(_mm_mul_ps(_mm_loadu_ps(wx), _mm_set1_ps(kTapScale)));
        __m128i hi = lo;
        if constexpr (Taps > 4) {
          hi = _mm_cvtps_epi32(_mm_mul_ps(_mm_setr_ps(wx[4], wx[5], 0, 0), _mm_set1_ps(kTapScale)));
        }
        const __m128i packed = _mm_packs_epi32(lo, hi);  // w0 … w7
        __m128i pairs[Taps / 2];
        pairs[0] = _mm_shuffle_epi32(packed, 0x00);
        pairs[1] = _mm_shuffle_epi32(packed, 0x55);
        if constexpr (Taps > 4) pairs[2] = _mm_shuffle_epi32(packed, 0xAA);
        const auto load = [](const T* q) {
          std::int32_t bytes = 0;
          std::memcpy(&bytes, q, sizeof bytes);
          return _mm_cvtsi32_si128(bytes);
        };
        for (int j = 0; j < Taps; ++j) {
          const T* p = src.row(iy + j) + static_cast<std::ptrdiff_t>(ix) * C;
          __m128i line = zero;
          for (int k = 0; k < Taps / 2; ++k) {
            // a0 b0 a1 b1 a2 b2 a3 b3 of the pair's pixels a and b.
            const __m128i ab = _mm_unpacklo_epi8(load(p + 2 * k * C), load(p + (2 * k + 1) * C));
            line = _mm_add_epi32(line, _mm_madd_epi16(_mm_unpacklo_epi8(ab, zero), pairs[k]));
          }
          sum += (weight * wy[j] / kTapScale) * static_cast<Float4>(_mm_cvtepi32_ps(line));
        }
        for (int c = 0; c < C; ++c) acc[c] = sum[c];
        return;
      }
#endif
      for (int j = 0; j < Taps; ++j) {
        const T* p = src.row(iy + j) + static_cast<std::ptrdiff_t>(ix) * C;
        Float4 line = {};
        for (int i = 0; i < Taps; ++i) line += wx[i] * Load4(p + i * C);
        sum += (weight * wy[j]) * line;
      }
      for (int c = 0; c < C; ++c) acc[c] = sum[c];
      return;
    }
  }
  for (int j = 0; j < Taps; ++j) {
    float line[C] = {};
    if (inside) {
      const T* p = src.row(iy + j) + static_cast<std::ptrdiff_t>(ix) * C;
      for (int i = 0; i < Taps; ++i) {
        for (int c = 0; c < C; ++c) line[c] += wx[i] * static_cast<float>(p[i * C + c]);
      }
    } else {
      // Only the taps beyond the raster are looked up elsewhere.
      const int y = iy + j;
      const bool rowInside = y >= 0 && y < src.height;
      for (int i = 0; i < Taps; ++i) {
        const int x = ix + i;
        const T* p = rowInside && x >= 0 && x < src.width
                         ? src.row(y) + static_cast<std::ptrdiff_t>(x) * C
                         : outside(x, y);
        for (int c = 0; c < C; ++c) line[c] += wx[i] * static_cast<float>(p[c]);
      }
    }
    const float wj = weight * wy[j];
    for (int c = 0; c < C; ++c) acc[c] += wj * line[c];
  }
}

template <typename T, int C, int Taps, typename Outside>
[[gnu::always_inline]] inline void AddSample(const RasterView<const T>& src, double px, double py,
                                             float weight, float* acc, const Outside& outside) {
  int ix = 0, iy = 0;
  float wx[Taps], wy[Taps];
  TapsAt<Taps>(px, ix, wx);
  TapsAt<Taps>(py, iy, wy);
  AddTaps<T, C, Taps>(src, ix, iy, wx, wy, weight, acc, outside);
}

// Positions along a line of output pixels in fixed point, 16 bits of
// fraction (no floor per pixel): p(i) = p0 + s·i + a·i², with a kept to 16
// more bits. The quadratic term follows the mapping's bend over a cell.
struct LineSteps {
  static constexpr double kOne = 65536;
  long long x0, y0, sx, sy, ax, ay;

  LineSteps(double x, double y, double gx, double gy, double hx = 0, double hy = 0)
      : x0(std::llround(x * kOne)),
        y0(std::llround(y * kOne)),
        sx(std::llround(gx * kOne)),
        sy(std::llround(gy * kOne)),
        ax(std::llround(hx * kOne * kOne)),
        ay(std::llround(hy * kOne * kOne)) {}

  long long X(long long i) const { return x0 + sx * i + ((ax * i * i) >> 16); }
  long long Y(long long i) const { return y0 + sy * i + ((ay * i * i) >> 16); }

  // Whether positions 0 … n − 1 all have their taps, from `before` left of
  // (above) floor(p) to `after` right of (below) it, inside a raster of this
  // size (rows: `afterY` below): between the ends, or off the chord by at
  // most a·(n − 1)²/4.
  bool Within(int n, int width, int height, int before, int after, int afterY) const {
    const long long last = n - 1;
    const auto inside = [&](long long a, long long b, long long bend, int size, int below) {
      const long long margin = bend == 0 ? 0 : ((bend < 0 ? -bend : bend) * last * last >> 18) + 1;
      return ((std::min(a, b) - margin) >> 16) - before >= 0 &&
             ((std::max(a, b) + margin) >> 16) + below < size;
    };
    return inside(x0, X(last), ax, width, after) && inside(y0, Y(last), ay, height, afterY);
  }
};

// The positions of a line along one axis in turn, by differences: the
// same values as LineSteps::X or Y, without their multiplies.
class LineAxis {
 public:
  LineAxis(long long start, long long step, long long bend)
      : p_(start), step_(step), dq_(bend), bend2_(2 * bend) {}
  [[gnu::always_inline]] long long Next() {
    const long long p = p_ + (q_ >> 16);
    p_ += step_, q_ += dq_, dq_ += bend2_;
    return p;
  }

 private:
  long long p_, step_, q_ = 0, dq_, bend2_;
};

// Both axes of a line.
struct LineWalk {
  LineAxis x, y;
  explicit LineWalk(const LineSteps& line)
      : x(line.x0, line.sx, line.ax), y(line.y0, line.sy, line.ay) {}
  [[gnu::always_inline]] void Next(long long& px, long long& py) { px = x.Next(), py = y.Next(); }
};

// Sample i of a line in 8-bit fixed point: its upper-left tap, the one
// below it, and 8 bits of weight across and down.
template <int C>
struct BilinearTap {
  const std::uint8_t* p0;
  const std::uint8_t* p1;
  int fx, fy;

  BilinearTap(const RasterView<const std::uint8_t>& src, const LineSteps& line, int i) {
    const long long px = line.X(i), py = line.Y(i);
    fx = static_cast<int>(px >> 8) & 255;
    fy = static_cast<int>(py >> 8) & 255;
    p0 = src.row(static_cast<int>(py >> 16)) + static_cast<std::ptrdiff_t>(px >> 16) * C;
    p1 = p0 + src.stride;
  }
  void Blend(std::uint8_t* out) const {
    for (int c = 0; c < C; ++c) {
      const int top = p0[c] * 256 + (p0[c + C] - p0[c]) * fx;
      const int bottom = p1[c] * 256 + (p1[c + C] - p1[c]) * fx;
      out[c] = static_cast<std::uint8_t>((top * 256 + (bottom - top) * fy + 32768) >> 16);
    }
  }
};

#if defined(__SSE2__)
// The fixed-point bilinear line below, two pixels per vector, in integers:
// the same sums, so the same bytes. Per channel top = P00·(256 − fx) +
// P01·fx is at most 65280, exact in 16 bits; top·(256 − fy) + bottom·fy is
// one multiply-add of (top − 32768, bottom − 32768) pairs plus 32768·256.
// A three-channel pixel is read and written as four bytes, the fourth the
// next pixel's first: written before that pixel overwrites it, except
// after the last.
template <int C>
void BilinearLineSse2(const RasterView<const std::uint8_t>& src, const LineSteps& line, int n,
                      std::uint8_t* out) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
  const __m128i bias = _mm_set1_epi32(32768 * 256 + 32768);
  // The last pixel of a three-channel raster has nothing after it to read.
  const std::uint8_t* end = src.row(src.height - 1) + static_cast<std::ptrdiff_t>(src.width) * C;
  const std::ptrdiff_t stride = src.stride;
  LineWalk walk(line);
  struct Tap {
    const std::uint8_t* p;
    int fx, fy;
  };
  const auto next = [&]() {
    long long px = 0, py = 0;
    walk.Next(px, py);
    return Tap{src.row(static_cast<int>(py >> 16)) + static_cast<std::ptrdiff_t>(px >> 16) * C,
               static_cast<int>(px >> 8) & 255, static_cast<int>(py >> 8) & 255};
  };
  // The pixel and the one right of it at p, as 16-bit lanes: P0 then P1.
  const auto pair = [&](const std::uint8_t* p) {
    const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    return _mm_unpacklo_epi8(C == 4 ? v : _mm_unpacklo_epi32(v, _mm_srli_epi64(v, 24)), zero);
  };
  // Weights (256 − f) for the four lanes of P0 and f for those of P1.
  const auto across = [](int f) {
    const __m128i w = _mm_cvtsi32_si128((f << 16) | (256 - f));
    const __m128i twice = _mm_unpacklo_epi16(w, w);
    return _mm_unpacklo_epi32(twice, twice);
  };
  // top of both pixels (a, b): four lanes each, offset by −32768.
  const auto row = [&](const std::uint8_t* a, int fa, const std::uint8_t* b, int fb) {
    const __m128i ma = _mm_mullo_epi16(pair(a), across(fa));
    const __m128i mb = _mm_mullo_epi16(pair(b), across(fb));
    return _mm_xor_si128(_mm_add_epi16(_mm_unpacklo_epi64(ma, mb), _mm_unpackhi_epi64(ma, mb)),
                         flip);
  };
  const auto down = [&](__m128i pairs, int fy) {
    return _mm_srli_epi32(
        _mm_add_epi32(_mm_madd_epi16(pairs, _mm_set1_epi32((fy << 16) | (256 - fy))), bias), 16);
  };
  // A pixel too near the raster's end for eight-byte reads: the plain sum.
  const auto single = [&](int i, std::uint8_t* o) { BilinearTap<C>(src, line, i).Blend(o); };
  int i = 0;
  for (; i + 1 < n; i += 2, out += 2 * C) {
    const Tap a = next(), b = next();
    if (C == 3 && (a.p + stride + 8 > end || b.p + stride + 8 > end)) {
      single(i, out);
      single(i + 1, out + C);
      continue;
    }
    const __m128i top = row(a.p, a.fx, b.p, b.fx);
    const __m128i bottom = row(a.p + stride, a.fx, b.p + stride, b.fx);
    const __m128i levels = _mm_packs_epi32(down(_mm_unpacklo_epi16(top, bottom), a.fy),
                                           down(_mm_unpackhi_epi16(top, bottom), b.fy));
    const __m128i bytes = _mm_packus_epi16(levels, levels);
    if (C == 4) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    } else {
      const std::int32_t first = _mm_cvtsi128_si32(bytes);
      std::memcpy(out, &first, 4);
      const std::int32_t second = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 4));
      if (i + 2 < n) {
        std::memcpy(out + C, &second, 4);
      } else {
        std::memcpy(out + C, &second, 3);
      }
    }
  }
  if (i < n) single(i, out);
}
#endif

#if defined(__SSE2__)
// Pixels a pass of the line below: the positions, then their weights, then
// the pixels, so that each pass keeps its own work in registers.
constexpr int kLineChunk = 64;

// 16 bytes at `a` in the low 128-bit lane, 16 at `b` in the high one.
__attribute__((target("avx2"), always_inline)) inline __m256i TwoReads(const void* a,
                                                                       const void* b) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(static_cast<const __m128i*>(a))),
      _mm_loadu_si128(static_cast<const __m128i*>(b)), 1);
}

// The 32-bit entries at `at` and after it, each across a 128-bit lane.
__attribute__((target("avx2"), always_inline)) inline __m256i TwoEntries(const void* at) {
  return _mm256_permutevar8x32_epi32(
      _mm256_castsi128_si256(_mm_loadl_epi64(static_cast<const __m128i*>(at))),
      _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1));
}

// Where a line pass's pixels find their weights: for pixels k and b of a
// pass (Pair), the 16-bit weights of tap pair t across (Across) and the
// float weight of row j over kTapScale (Down), each in its pixel's 128-bit
// lane.
//
// Bicubic: made per pass from the fractions, four pixels at once, per tap
// pair and per row (b is k + 1, or the pass's padding after its last).
struct CubicWeights {
  alignas(16) std::int32_t key[2][kLineChunk];  // per axis, the 16-bit fractions
  alignas(16) std::int32_t across[2][kLineChunk];
  alignas(16) float down[4][kLineChunk];
  struct Pair {
    const CubicWeights& of;
    int k;
    __attribute__((target("avx2"), always_inline)) Pair(const CubicWeights& of, int k, int)
        : of(of), k(k) {}
    __attribute__((target("avx2"), always_inline)) __m256i Across(int t) const {
      return TwoEntries(&of.across[t][k]);
    }
    __attribute__((target("avx2"), always_inline)) __m256 Down(int j) const {
      return _mm256_castsi256_ps(TwoEntries(&of.down[j][k]));
    }
  };
};

// Lanczos3: a row of each of its tables per pixel, by its phase across and
// down.
struct LanczosWeights {
  alignas(16) std::int32_t key[2][kLineChunk];  // per axis, the phases
  struct Pair {
    __m256i across;  // 8 weights of k, then of b
    __m256 down[2];  // rows 0 to 3 of k then of b; rows 4 and 5
    __attribute__((target("avx2"), always_inline)) Pair(const LanczosWeights& of, int k, int b) {
      const auto& table = Kernel<6>::kTable;
      const float* dk = table.down[of.key[1][k]];
      const float* db = table.down[of.key[1][b]];
      across = TwoReads(table.fixed[of.key[0][k]], table.fixed[of.key[0][b]]);
      down[0] = _mm256_castsi256_ps(TwoReads(dk, db));
      down[1] = _mm256_castsi256_ps(TwoReads(dk + 4, db + 4));
    }
    __attribute__((target("avx2"), always_inline)) __m256i Across(int t) const {
      return _mm256_shuffle_epi8(across, _mm256_set1_epi32(0x03020100 + 0x04040404 * t));
    }
    __attribute__((target("avx2"), always_inline)) __m256 Down(int j) const {
      return _mm256_permutevar_ps(down[j / 4], _mm256_set1_epi32(j % 4));
    }
  };
};

// What a line pass does with the sums of pixels k and b (KernelPixelsAvx2:
// C lanes of each 128-bit half; b == k for the last of an odd pass).
//
// Pixels: ToSample's clip and rounding, into a line of bytes (C a pixel).
struct LineBytes {
  std::uint8_t* out;
  int m = 0;              // pixels in the pass
  bool lineEnds = false;  // the pass is the line's last

  template <int C>
  LineBytes Pass(int i, int count, bool last) const {
    return {out + i * C, count, last};
  }
  template <int C>
  __attribute__((target("avx2"), always_inline)) void Put(int k, int b, __m256 sum) const {
    const __m256i value = _mm256_cvttps_epi32(_mm256_add_ps(
        _mm256_min_ps(_mm256_max_ps(sum, _mm256_setzero_ps()), _mm256_set1_ps(255.0f)),
        _mm256_set1_ps(0.5f)));
    const __m256i words = _mm256_packs_epi32(value, value);
    const __m256i packed = _mm256_packus_epi16(words, words);
    const std::int32_t bytes[2] = {_mm256_cvtsi256_si32(packed),
                                   _mm_cvtsi128_si32(_mm256_extracti128_si256(packed, 1))};
    // A three-channel pixel's fourth byte is the next one's first, written
    // over by it; the line's last pixel writes three.
    // (Lengths fixed at compile time: a variable one is a byte loop.)
    const auto put = [&](int q, const std::int32_t& v) {
      if (C == 3 && lineEnds && q == m - 1) {
        std::memcpy(out + q * C, &v, 3);
      } else {
        std::memcpy(out + q * C, &v, 4);
      }
    };
    put(k, bytes[0]);
    if (b != k) put(b, bytes[1]);
  }
};

// Sums: weight × each pixel's, added to its four floats (C of them used).
struct LineSums {
  float* sums;
  float weight;

  template <int C>
  LineSums Pass(int i, int, bool) const {
    return {sums + 4 * i, weight};
  }
  template <int C>
  __attribute__((target("avx2"), always_inline)) void Put(int k, int b, __m256 sum) const {
    const __m256 scaled = _mm256_mul_ps(sum, _mm256_set1_ps(weight));
    float* a = sums + 4 * k;
    _mm_storeu_ps(a, _mm_add_ps(_mm_loadu_ps(a), _mm256_castps256_ps128(scaled)));
    if (b != k) {
      float* c = sums + 4 * b;
      _mm_storeu_ps(c, _mm_add_ps(_mm_loadu_ps(c), _mm256_extractf128_ps(scaled, 1)));
    }
  }
};

// Pixels [0, m) of a line pass (KernelLine), two a vector: each lane does
// what the plain sum does for its channel, in the same order. A pair of
// pixels' taps is one read of up to 16 bytes, spread into 16-bit words by a
// shuffle; the last taps of a three-channel row read past it, into the row
// below.
template <int C, int Taps, typename Weights, typename Out>
__attribute__((target("avx2"))) void KernelPixelsAvx2(const std::uint8_t* const* first,
                                                      const Weights& weights, int m,
                                                      std::ptrdiff_t stride, const Out& out) {
  // Tap pairs (0, 1) and (2, 3) of a 16-byte read, (4, 5) of one from 4·C.
  const auto spread = [](int first) {
    alignas(16) std::int8_t index[16];
    for (int c = 0; c < 4; ++c) {
      index[4 * c] = static_cast<std::int8_t>(first + c);
      index[4 * c + 1] = -128;  // zero
      index[4 * c + 2] = static_cast<std::int8_t>(first + C + c);
      index[4 * c + 3] = -128;
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(index));
  };
  const __m256i pair0 = _mm256_broadcastsi128_si256(spread(0));
  const __m256i pair1 = _mm256_broadcastsi128_si256(spread(2 * C));
  for (int k = 0; k < m; k += 2) {
    // An odd pass's last pixel is made twice and written once.
    const int b = k + 1 < m ? k + 1 : k;
    const typename Weights::Pair weight(weights, k, b);
    __m256i w[Taps / 2];
    for (int t = 0; t < Taps / 2; ++t) w[t] = weight.Across(t);
    const std::uint8_t* pa = first[k];
    const std::uint8_t* pb = first[b];
    __m256 sum = _mm256_setzero_ps();
    for (int j = 0; j < Taps; ++j, pa += stride, pb += stride) {
      const __m256i v = TwoReads(pa, pb);
      __m256i row = _mm256_add_epi32(_mm256_madd_epi16(_mm256_shuffle_epi8(v, pair0), w[0]),
                                     _mm256_madd_epi16(_mm256_shuffle_epi8(v, pair1), w[1]));
      if constexpr (Taps == 6) {
        const __m256i rest = _mm256_inserti128_si256(
            _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(pa + 4 * C))),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pb + 4 * C)), 1);
        row = _mm256_add_epi32(row, _mm256_madd_epi16(_mm256_shuffle_epi8(rest, pair0), w[2]));
      }
      sum = _mm256_add_ps(sum, _mm256_mul_ps(weight.Down(j), _mm256_cvtepi32_ps(row)));
    }
    out.template Put<C>(k, b, sum);
  }
}

// LineAxis's positions four at a time, in 64-bit lanes.
class LineAxis4 {
 public:
  __attribute__((target("avx2"), always_inline))
  LineAxis4(long long start, long long step, long long bend)
      : p_(_mm256_setr_epi64x(start, start + step, start + 2 * step, start + 3 * step)),
        q_(_mm256_setr_epi64x(0, bend, 4 * bend, 9 * bend)),
        // q(i + 4) − q(i) = bend·(8i + 16), growing by 32·bend a step.
        dq_(_mm256_setr_epi64x(16 * bend, 24 * bend, 32 * bend, 40 * bend)),
        step_(_mm256_set1_epi64x(4 * step)),
        bend_(_mm256_set1_epi64x(32 * bend)) {}
  __attribute__((target("avx2"), always_inline)) __m256i Next() {
    // q >> 16, arithmetic (AVX2 shifts 64-bit lanes only logically).
    const __m256i sign = _mm256_set1_epi64x(std::numeric_limits<long long>::min());
    const __m256i shifted = _mm256_sub_epi64(_mm256_srli_epi64(_mm256_xor_si256(q_, sign), 16),
                                             _mm256_set1_epi64x(1LL << 47));
    const __m256i p = _mm256_add_epi64(p_, shifted);
    p_ = _mm256_add_epi64(p_, step_), q_ = _mm256_add_epi64(q_, dq_);
    dq_ = _mm256_add_epi64(dq_, bend_);
    return p;
  }

 private:
  __m256i p_, q_, dq_, step_, bend_;
};

// The low 32 bits of four 64-bit lanes.
__attribute__((target("avx2"), always_inline)) inline __m128i Low32(__m256i v) {
  return _mm256_castsi256_si128(
      _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6)));
}

// The 8-bit line of four or six taps a row, as AddTaps sums each pixel
// (16-bit weights across, two taps a multiply-add; the rows weighted in
// float, in turn), so the same bytes; but the positions are walked four at
// once, bicubic weights made four at once, lanczos3 ones read by phase from
// its tables, two pixels are summed a vector, and the line was checked whole
// for taps beyond the raster. Its reads go past a row's last taps for three
// channels: the line has a row below them (Within), so those bytes are
// there.
template <int C, int Taps, typename Out>
__attribute__((target("avx2"))) void KernelLine(const RasterView<const std::uint8_t>& src,
                                                const LineSteps& line, int n, const Out& out) {
  static_assert(Taps == 4 || Taps == 6);
  LineAxis4 walkX(line.x0, line.sx, line.ax), walkY(line.y0, line.sy, line.ay);
  // Every pixel's first tap: its row and column of the raster, back by
  // Taps / 2 − 1 each way (the positions are inside, so not negative).
  const __m256i base = _mm256_set1_epi64x(reinterpret_cast<std::intptr_t>(src.data) -
                                          (Taps / 2 - 1) * (C + src.stride));
  const __m256i stride = _mm256_set1_epi64x(src.stride);
  const __m128i fractionBits = _mm_set1_epi32(0xFFFF);
  std::conditional_t<Taps == 4, CubicWeights, LanczosWeights> weights;
  alignas(32) const std::uint8_t* first[kLineChunk];
  for (int i = 0; i < n; i += kLineChunk) {
    const int m = std::min(kLineChunk, n - i);
    // Four positions at a time, past the end of the last pass too (unused).
    for (int k = 0; k < m; k += 4) {
      const __m256i px = walkX.Next(), py = walkY.Next();
      for (int a = 0; a < 2; ++a) {
        __m128i f = _mm_and_si128(Low32(a == 0 ? px : py), fractionBits);
        // Kernel<6>::Phase of a 16-bit fraction f, in integers: f / 64 + 0.5
        // is exact in float, so it truncates to (f + 32) >> 6.
        if constexpr (Taps == 6) f = _mm_srli_epi32(_mm_add_epi32(f, _mm_set1_epi32(32)), 6);
        _mm_store_si128(reinterpret_cast<__m128i*>(&weights.key[a][k]), f);
      }
      const __m256i column = _mm256_srli_epi64(px, 16);
      const __m256i across = C == 4 ? _mm256_slli_epi64(column, 2)
                                    : _mm256_add_epi64(column, _mm256_slli_epi64(column, 1));
      const __m256i down = _mm256_mul_epu32(_mm256_srli_epi64(py, 16), stride);
      _mm256_store_si256(reinterpret_cast<__m256i*>(&first[k]),
                         _mm256_add_epi64(base, _mm256_add_epi64(across, down)));
    }
    if constexpr (Taps == 4) {
      for (int k = 0; k < m; k += 4) {
        const auto fraction = [k](const std::int32_t* f) {
          constexpr float kFraction = 1.0f / 65536;
          return static_cast<Float4>(
                     _mm_cvtepi32_ps(_mm_load_si128(reinterpret_cast<const __m128i*>(f + k)))) *
                 kFraction;
        };
        Float4 wx[4], wy[4];
        Kernel<4>::Weights(fraction(weights.key[0]), wx);
        Kernel<4>::Weights(fraction(weights.key[1]), wy);
        const auto fixed = [&](int t) {
          return _mm_cvtps_epi32(_mm_mul_ps(static_cast<__m128>(wx[t]), _mm_set1_ps(kTapScale)));
        };
        const __m128i even = _mm_packs_epi32(fixed(0), fixed(2));  // w0 of the pixels, then w2
        const __m128i odd = _mm_packs_epi32(fixed(1), fixed(3));
        _mm_store_si128(reinterpret_cast<__m128i*>(weights.across[0] + k),
                        _mm_unpacklo_epi16(even, odd));
        _mm_store_si128(reinterpret_cast<__m128i*>(weights.across[1] + k),
                        _mm_unpackhi_epi16(even, odd));
        for (int j = 0; j < 4; ++j) {
          _mm_store_ps(weights.down[j] + k, static_cast<__m128>(wy[j] / kTapScale));
        }
      }
    }
    KernelPixelsAvx2<C, Taps>(first, weights, m, src.stride,
                              out.template Pass<C>(i, m, i + m == n));
  }
}
#endif

// Sample i of a line (LineSteps) into acc (C floats), as the plain form
// sums it.
template <typename T, int C, int Taps, typename Outside>
[[gnu::always_inline]] inline void LineSample(const RasterView<const T>& src, const LineSteps& line,
                                              int i, float* acc, const Outside& outside) {
  constexpr float kFraction = 1.0f / 65536;
  const long long px = line.X(i), py = line.Y(i);
  float wx[Taps], wy[Taps];
  Kernel<Taps>::Weights(static_cast<float>(px & 0xFFFF) * kFraction, wx);
  Kernel<Taps>::Weights(static_cast<float>(py & 0xFFFF) * kFraction, wy);
  AddTaps<T, C, Taps>(src, static_cast<int>(px >> 16) - (Taps / 2 - 1),
                      static_cast<int>(py >> 16) - (Taps / 2 - 1), wx, wy, 1.0f, acc, outside);
}

// Whether KernelLine takes n samples of this line: 8-bit, bicubic or
// lanczos3, the CPU has AVX2 and every tap is inside the raster.
template <typename T, int C, int Taps>
bool TakesKernelLine(const RasterView<const T>& src, const LineSteps& line, int n) {
#if defined(__SSE2__)
  if constexpr (std::is_same_v<T, std::uint8_t> && Taps >= 4 && (C == 3 || C == 4)) {
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return n > 0 && avx2 && VectorBlendInUse() &&
           line.Within(n, src.width, src.height, Taps / 2 - 1, Taps / 2, Taps / 2 + (C == 3));
  }
#endif
  (void)src, (void)line, (void)n;
  return false;
}

// n single samples along a line of src (LineSteps), into out (C samples a
// pixel).
template <typename T, int C, int Taps, typename Outside>
void SampleLine(const RasterView<const T>& src, const LineSteps& line, int n, T* out,
                const Outside& outside) {
  if constexpr (std::is_same_v<T, std::uint8_t> && Taps == 2) {
    // Bilinear 8-bit samples in fixed point, 8 bits of weight, where every
    // pixel has its taps inside: a third of the float path's time, within a
    // level of it.
    if (n > 0 && line.Within(n, src.width, src.height, 0, 1, 1)) {
#if defined(__SSE2__)
      if constexpr (C == 3 || C == 4) {
        if (VectorBlendInUse()) {
          BilinearLineSse2<C>(src, line, n, out);
          return;
        }
      }
#endif
      for (int i = 0; i < n; ++i, out += C) BilinearTap<C>(src, line, i).Blend(out);
      return;
    }
  }
#if defined(__SSE2__)
  if constexpr (std::is_same_v<T, std::uint8_t> && Taps >= 4 && (C == 3 || C == 4)) {
    if (TakesKernelLine<T, C, Taps>(src, line, n)) {
      KernelLine<C, Taps>(src, line, n, LineBytes{out});
      return;
    }
  }
#endif
  for (int i = 0; i < n; ++i, out += C) {
    float acc[C] = {};
    LineSample<T, C, Taps>(src, line, i, acc, outside);
    for (int c = 0; c < C; ++c) out[c] = ToSample<T>(acc[c]);
  }
}

// Adds weight × n single samples along a line of src to sums (four floats
// a pixel, C of them used): one subsample of a row of averaged pixels.
template <typename T, int C, int Taps, typename Outside>
void AddLineSamples(const RasterView<const T>& src, const LineSteps& line, int n, float weight,
                    float* sums, const Outside& outside) {
#if defined(__SSE2__)
  if constexpr (std::is_same_v<T, std::uint8_t> && Taps >= 4 && (C == 3 || C == 4)) {
    if (TakesKernelLine<T, C, Taps>(src, line, n)) {
      KernelLine<C, Taps>(src, line, n, LineSums{sums, weight});
      return;
    }
  }
#endif
  for (int i = 0; i < n; ++i, sums += 4) {
    float acc[C] = {};
    LineSample<T, C, Taps>(src, line, i, acc, outside);
    for (int c = 0; c < C; ++c) sums[c] += weight * acc[c];
  }
}

// Whether a step of (x, y) source pixels is covered by one sample: no more
// than kAverageAbove long (told without a root).
bool OneSample(double x, double y) { return x * x + y * y <= kAverageAbove * kAverageAbove; }

// The halvings after which a span of `span` source pixels is at most
// kAverageAbove of them.
int HalvingsFor(double span) {
  return span > kAverageAbove ? static_cast<int>(std::ceil(std::log2(span / kAverageAbove))) : 0;
}

// Subsamples along one output axis whose step spans `span` source pixels:
// at most one source pixel apart over ± 1 output pixel.
// Takes the span squared: most spans are single samples, told without a root.
int SubsampleCount(double span2, ResampleFilter filter) {
  if (filter == ResampleFilter::Design || !(span2 > kAverageAbove * kAverageAbove)) return 1;
  return std::min(kMaxSubsamples, static_cast<int>(std::ceil(2 * std::sqrt(span2))));
}

// The subsamples of one output pixel, whose steps along the output axes
// move Ju = (ux, uy) and Jv = (vx, vy) source pixels: a triangle over ± 1
// output pixel, sampled at most one source pixel apart. On a grid along the
// output axes, or, when that takes more, along the footprint's diagonals
// Ju ± Jv: near a pole both steps run along the same source row, and a grid
// of both lengths would sample the same line many times over.
struct Footprint {
  int n1 = 1, n2 = 1;
  bool diagonal = false;
  double sign = 1;

  Footprint() = default;
  Footprint(double ux, double uy, double vx, double vy, ResampleFilter filter) {
    n1 = SubsampleCount(ux * ux + uy * uy, filter);
    n2 = SubsampleCount(vx * vx + vy * vy, filter);
    if (n1 * n2 < 4) return;
    sign = ux * vx + uy * vy < 0 ? -1 : 1;
    const double ax = ux + sign * vx, ay = uy + sign * vy;
    const double bx = ux - sign * vx, by = uy - sign * vy;
    const int d1 = SubsampleCount(ax * ax + ay * ay, filter);
    const int d2 = SubsampleCount(bx * bx + by * by, filter);
    if (d1 * d2 < n1 * n2) {
      n1 = d1;
      n2 = d2;
      diagonal = true;
    }
  }

  bool Single() const { return n1 == 1 && n2 == 1; }
  bool operator==(const Footprint&) const = default;

  // Subsample (i, j): its offset (u, v) in output pixels and its weight (0:
  // outside the triangle's support).
  void At(int i, int j, double& u, double& v, float& weight) const {
    const double a = (2.0 * i + 1) / n1 - 1, b = (2.0 * j + 1) / n2 - 1;
    u = diagonal ? a + b : a;
    v = diagonal ? sign * (a - b) : b;
    weight = static_cast<float>(std::max(0.0, 1 - std::fabs(u)) * std::max(0.0, 1 - std::fabs(v)));
  }
  // Calls add(u, v, weight) for each subsample inside the support, then
  // divides the `count` sums of acc by the weights' total.
  template <typename Add>
  void Average(float* acc, int count, const Add& add) const {
    float total = 0;
    for (int j = 0; j < n2; ++j) {
      for (int i = 0; i < n1; ++i) {
        double u = 0, v = 0;
        float weight = 0;
        At(i, j, u, v, weight);
        if (weight <= 0) continue;
        add(u, v, weight);
        total += weight;
      }
    }
    for (int k = 0; k < count; ++k) acc[k] /= total;
  }
};

// ---- panorama → face ----

template <typename T, int C>
struct PanoramaSource {
  RasterView<const T> pano;
  double toX, toY;  // radians to pixels

  // A tap beyond the panorama: columns wrap, rows continue over the pole on
  // the opposite meridian.
  const T* operator()(int x, int y) const {
    const int w = pano.width, h = pano.height;
    if (y < 0 || y >= h) {
      y = y < 0 ? -1 - y : 2 * h - 1 - y;
      x += w / 2;
      y = std::clamp(y, 0, h - 1);
    }
    x %= w;
    if (x < 0) x += w;
    return pano.row(y) + static_cast<std::ptrdiff_t>(x) * C;
  }

  void Position(const Vec3& d, double& px, double& py) const {
    const double rho = std::sqrt(d.x * d.x + d.z * d.z);
    px = (FastAtan2(d.x, d.z) + kPi) * toX - 0.5;
    py = FastAtan2(rho, d.y) * toY - 0.5;
  }

  // Source pixels (x, y) one step dd of direction d moves, from the
  // derivatives of longitude and polar angle.
  void Step(const Vec3& d, const Vec3& dd, double& sx, double& sy) const {
    const double r2 = d.x * d.x + d.z * d.z;
    const double rho = std::sqrt(r2);
    if (rho == 0) {
      sx = sy = kMaxSubsamples;
      return;
    }
    const double dlon = (d.z * dd.x - d.x * dd.z) / r2;
    const double drho = (d.x * dd.x + d.z * dd.z) / rho;
    const double dpolar = (d.y * drho - rho * dd.y) / (r2 + d.y * d.y);
    sx = dlon * toX;
    sy = dpolar * toY;
  }
};

// Columns between two exactly mapped ones along a panorama row: the
// positions between are interpolated when the cell's midpoint shows the
// mapping straight enough there; cells of kCell that still are not are
// mapped column by column.
constexpr int kCell = 8;
// Along face rows, cells from kMaxCell columns down to kMinCell. A cell is
// only kept where its points show it within kMaxInterpolationError, so long
// cells cost no accuracy; where the mapping is smooth they save exact
// positions (7 % of a forward run's instructions at 64 against 32).
constexpr int kMaxCell = 64;
constexpr int kMinCell = 2;
// Cells from this many columns may follow a parabola (the mapping's bend).
constexpr int kMinBentCell = 8;
// A straight cell partly of single samples is split down to this many
// columns.
constexpr int kMinSplitCell = 4;
constexpr double kMaxInterpolationError = 0.02;  // source pixels

// Positions at columns 0, n/4, n/2, 3n/4 and n of a cell, as they are
// mapped, and how the columns between may be interpolated.
struct CellPoints {
  double x[5], y[5];

  static bool Close(double x, double y, double ex, double ey) {
    return std::fabs(x - ex) < kMaxInterpolationError && std::fabs(y - ey) < kMaxInterpolationError;
  }
  // Whether the midpoint lies on the line through the ends.
  bool Line() const { return Close(x[2], y[2], (x[0] + x[4]) / 2, (y[0] + y[4]) / 2); }
  // The bend (hx, hy) of the parabola through the ends and the midpoint, a
  // column squared: the midpoint's distance from the chord. True when the
  // quarter points lie on it too, 3/4 of that bend off their chords.
  bool Parabola(int n, double& hx, double& hy) const {
    hx = 4 * ((x[0] + x[4]) / 2 - x[2]) / (n * n);
    hy = 4 * ((y[0] + y[4]) / 2 - y[2]) / (n * n);
    const double off = static_cast<double>(n) * n / 16;
    return Close(x[1], y[1], (x[0] + x[2]) / 2 - hx * off, (y[0] + y[2]) / 2 - hy * off) &&
           Close(x[3], y[3], (x[2] + x[4]) / 2 - hx * off, (y[2] + y[4]) / 2 - hy * off);
  }
};

// The panorama halved in width k times (k = 0: itself), for footprints
// many columns wide: near the poles a face pixel spans many panorama
// columns, and one sample of a halved panorama replaces a row of
// subsamples. A halved panorama holds only the rows near the poles where
// footprints get that wide (`rows` at the top and as many at the bottom).
template <typename T, int C>
struct Level {
  PanoramaSource<T, C> src;
  int rows = 0;
  double scale = 1;    // columns of the full panorama per column here
  double toLevel = 1;  // 1 / scale, so that no pixel divides

  // Whether the rows `reach` about py are held.
  bool Holds(double py, double reach) const {
    const int h = src.pano.height;
    return rows >= h || py + reach < rows || py - reach > h - 1 - rows;
  }
};

// The halved panorama whose columns a footprint of widest column span `xs`
// spans at most kAverageAbove of, if it holds the rows `reach` about py.
template <typename T, int C>
std::size_t LevelFor(const std::vector<Level<T, C>>& levels, double xs, double py, double reach) {
  int k = std::min(static_cast<int>(levels.size()) - 1, HalvingsFor(xs));
  while (k > 0 && !levels[static_cast<std::size_t>(k)].Holds(py, reach)) --k;
  return static_cast<std::size_t>(k);
}

constexpr int kMaxLevels = 8;
// Face columns made across a worker's rows before the next columns.
constexpr int kTileColumns = 128;

// Face rows [r0, r1), columns [c0, c1), of a face faceHeight tall into
// `face`, which holds its rows from firstRow on.
template <typename T, int C, int Taps>
void FaceRows(const std::vector<Level<T, C>>& levels, const FacePlane& plane,
              const RasterView<T>& face, int faceHeight, int firstRow, ResampleFilter filter,
              int r0, int r1, int c0, int c1) {
  const PanoramaSource<T, C>& src = levels[0].src;
  const double su = 2.0 / face.width, sv = 2.0 / faceHeight;
  const Vec3 stepU = su * plane.a, stepV = sv * plane.b;
  const double w = src.pano.width;
  const bool averages = filter != ResampleFilter::Design;
  // The unwrapped column of x nearest to `near`.
  const auto unwrap = [w](double x, double near) {
    if (x - near > w / 2) return x - w;
    if (near - x > w / 2) return x + w;
    return x;
  };
  // The rows are made a tile of columns at a time: on the top and bottom
  // faces one face row sweeps more of the panorama than a cache holds, and
  // the next row reads much the same panorama rows while they are at hand.
  for (int t0 = c0; t0 < c1; t0 += kTileColumns) {
    const int tEnd = std::min(c1, t0 + kTileColumns);
    for (int r = r0; r < r1; ++r) {
      const double v = (r + 0.5) * sv - 1;
      const Vec3 rowStart = plane.o + v * plane.b;
      const auto direction = [&](double c) { return rowStart + ((c + 0.5) * su - 1) * plane.a; };
      T* out = face.row(r - firstRow);
      // Cell [c0, c0 + n) between the positions (x0, y0) and (x1, y1) of
      // its ends (x1 unwrapped next to x0), bent by (hx, hy) a pixel
      // squared: column c0 + t sits at (x0, y0) + g·t + h·t², and one step
      // along the row there moves g + 2h·t.
      struct Slope {
        double gx, gy;  // the step along the row at the near end
        double ex, ey;  // at the far end
        Slope(int n, double x0, double y0, double x1, double y1, double hx, double hy)
            : gx((x1 - x0) / n - hx * n),
              gy((y1 - y0) / n - hy * n),
              ex(gx + 2 * hx * n),
              ey(gy + 2 * hy * n) {}
      };
      // A cell's pixels one at a time (straight: at the positions between
      // its ends, else each mapped exactly).
      const auto pixels = [&](int c0, int n, double x0, double y0, const Slope& slope, double hx,
                              double hy, bool straight) {
        const double gx = slope.gx, gy = slope.gy;
        const int cEnd = std::min(face.width, c0 + n);
        for (int c = c0; c < cEnd; ++c) {
          const Vec3 d = direction(c);
          const double t = c - c0;
          double px = x0 + (gx + hx * t) * t, py = y0 + (gy + hy * t) * t;
          if (!straight) src.Position(d, px, py);
          double ux = gx + 2 * hx * t, uy = gy + 2 * hy * t, vx = 0, vy = 0;
          Footprint foot;
          const Level<T, C>* level = &levels[0];
          if (averages) {
            if (!straight) src.Step(d, stepU, ux, uy);
            src.Step(d, stepV, vx, vy);
            level = &levels[LevelFor(levels, std::max(std::fabs(ux), std::fabs(vx)), py,
                                     std::fabs(uy) + std::fabs(vy) + Taps + 1)];
            foot = Footprint(ux * level->toLevel, uy, vx * level->toLevel, vy, filter);
          }
          const double toLevel = level->toLevel;
          float acc[C] = {};
          if (foot.Single()) {
            AddSample<T, C, Taps>(level->src.pano, (px + 0.5) * toLevel - 0.5, py, 1.0f, acc,
                                  level->src);
          } else {
            foot.Average(acc, C, [&](double ou, double ov, float wt) {
              double qx = 0, qy = 0;
              if (straight) {
                // Within the cell the mapping is smooth along the row, and
                // one row step is the derivative's.
                qx = px + ou * ux + ov * vx;
                qy = py + ou * uy + ov * vy;
              } else {
                src.Position(d + ou * stepU + ov * stepV, qx, qy);
              }
              AddSample<T, C, Taps>(level->src.pano, (qx + 0.5) * toLevel - 0.5, qy, wt, acc,
                                    level->src);
            });
          }
          for (int k = 0; k < C; ++k) out[c * C + k] = ToSample<T>(acc[k]);
        }
      };
      // A straight cell's pixels as a line of single samples of level k.
      const auto asLine = [&](std::size_t k, int c0, int n, double x0, double y0,
                              const Slope& slope, double hx, double hy) {
        const Level<T, C>& level = levels[k];
        const double s = level.toLevel;
        SampleLine<T, C, Taps>(
            level.src.pano, LineSteps((x0 + 0.5) * s - 0.5, y0, slope.gx * s, slope.gy, hx * s, hy),
            std::min(face.width, c0 + n) - c0, out + c0 * C, level.src);
      };
      // The step across (one face row down) at column c, in source pixels.
      struct Across {
        double x = 0, y = 0;
      };
      const auto across = [&](int c) {
        Across v;
        src.Step(direction(c), stepV, v.x, v.y);
        return v;
      };
      // A straight cell that averages, with the steps across at its ends.
      // Where both ends take the same level and their steps there are
      // single samples, so do the pixels between (the steps change as
      // slowly as the positions): near the poles that is a halved panorama.
      const auto averaged = [&](const auto& self, int c0, int n, double x0, double y0, double x1,
                                double y1, double hx, double hy, const Across& v0,
                                const Across& v1) -> void {
        const Slope slope(n, x0, y0, x1, y1, hx, hy);
        const double gx = slope.gx, gy = slope.gy, ex = slope.ex, ey = slope.ey;
        const double reach0 = std::fabs(gy) + std::fabs(v0.y) + Taps + 1;
        const double reach1 = std::fabs(ey) + std::fabs(v1.y) + Taps + 1;
        const std::size_t k =
            LevelFor(levels, std::max(std::fabs(gx), std::fabs(v0.x)), y0, reach0);
        const std::size_t k1 =
            LevelFor(levels, std::max(std::fabs(ex), std::fabs(v1.x)), y1, reach1);
        const double s0 = levels[k].toLevel, s1 = levels[k1].toLevel;
        const bool single0 = OneSample(gx * s0, gy) && OneSample(v0.x * s0, v0.y);
        const bool single1 = OneSample(ex * s1, ey) && OneSample(v1.x * s1, v1.y);
        // The step across at the middle, mapped once when asked for.
        const int m = n / 2;
        std::optional<Across> mid;
        const auto middle = [&]() -> const Across& {
          if (!mid) mid = across(c0 + m);
          return *mid;
        };
        if (k == k1 && single0 && single1) {
          // A long cell: the step across at its middle too.
          if (n <= kMinBentCell || OneSample(middle().x * s0, middle().y)) {
            asLine(k, c0, n, x0, y0, slope, hx, hy);
            return;
          }
        }
        // A cell of averaged pixels whose ends and middle take one level
        // and one footprint: each subsample is a line too, offset across
        // by the step across, which follows a line between the ends.
        if (k == k1 && !single0 && !single1) {
          const Footprint foot(gx * s0, gy, v0.x * s0, v0.y, filter);
          const double dvx = (v1.x - v0.x) / n, dvy = (v1.y - v0.y) / n;
          if (foot == Footprint(ex * s0, ey, v1.x * s0, v1.y, filter) &&
              foot == Footprint((gx + 2 * hx * m) * s0, gy + 2 * hy * m, middle().x * s0,
                                middle().y, filter) &&
              CellPoints::Close(middle().x, middle().y, v0.x + dvx * m, v0.y + dvy * m)) {
            const Level<T, C>& level = levels[k];
            const int count = std::min(face.width, c0 + n) - c0;
            alignas(16) float sums[kMaxCell][4] = {};
            foot.Average(sums[0], count * 4, [&](double ou, double ov, float weight) {
              const double qx = x0 + ou * gx + ov * v0.x, qy = y0 + ou * gy + ov * v0.y;
              const double sx = gx + 2 * hx * ou + ov * dvx, sy = gy + 2 * hy * ou + ov * dvy;
              AddLineSamples<T, C, Taps>(
                  level.src.pano, LineSteps((qx + 0.5) * s0 - 0.5, qy, sx * s0, sy, hx * s0, hy),
                  count, weight, sums[0], level.src);
            });
            for (int c = 0; c < count; ++c) {
              for (int q = 0; q < C; ++q) out[(c0 + c) * C + q] = ToSample<T>(sums[c][q]);
            }
            return;
          }
        }
        // Else its halves are tried: the lines cost a fraction of the
        // pixels one by one.
        if (n >= 2 * kMinSplitCell) {
          const double xm = x0 + (gx + hx * m) * m, ym = y0 + (gy + hy * m) * m;
          self(self, c0, m, x0, y0, xm, ym, hx, hy, v0, middle());
          if (c0 + m < face.width) self(self, c0 + m, n - m, xm, ym, x1, y1, hx, hy, middle(), v1);
          return;
        }
        pixels(c0, n, x0, y0, slope, hx, hy, true);
      };
      const auto cell = [&](int c0, int n, double x0, double y0, double x1, double y1, double hx,
                            double hy, bool straight) {
        if (straight && averages) {
          averaged(averaged, c0, n, x0, y0, x1, y1, hx, hy, across(c0), across(c0 + n));
        } else if (straight) {
          asLine(0, c0, n, x0, y0, Slope(n, x0, y0, x1, y1, hx, hy), hx, hy);
        } else {
          pixels(c0, n, x0, y0, Slope(n, x0, y0, x1, y1, hx, hy), hx, hy, false);
        }
      };
      // The position of column c, unwrapped next to x.
      const auto at = [&](int c, double x, double& px, double& py) {
        src.Position(direction(c), px, py);
        px = unwrap(px, x);
      };
      // Cells as long as the mapping is straight enough over them: a line
      // through the ends where the midpoint lies on it; else, from
      // kMinBentCell columns up, the parabola through the ends and the
      // midpoint where the quarter points lie on it; else halved, down to
      // kMinCell columns. The exact positions cost more than the samples.
      // (xm, ym): the midpoint's position when known (hasMid).
      const auto split = [&](const auto& self, int c0, int n, double x0, double y0, double x1,
                             double y1, bool hasMid, double xm, double ym) -> void {
        CellPoints p{{x0, 0, xm, 0, x1}, {y0, 0, ym, 0, y1}};
        if (!hasMid) at(c0 + n / 2, x0, p.x[2], p.y[2]);
        const bool line = p.Line();
        if (line || n <= kMinCell) {
          cell(c0, n, x0, y0, x1, y1, 0, 0, line);
          return;
        }
        at(c0 + n / 4, x0, p.x[1], p.y[1]);
        const bool second = c0 + n / 2 < tEnd;
        if (second) at(c0 + 3 * n / 4, x0, p.x[3], p.y[3]);
        double hx = 0, hy = 0;
        if (n >= kMinBentCell && second && p.Parabola(n, hx, hy)) {
          cell(c0, n, x0, y0, x1, y1, hx, hy, true);
          return;
        }
        self(self, c0, n / 2, x0, y0, p.x[2], p.y[2], true, p.x[1], p.y[1]);
        if (second) self(self, c0 + n / 2, n / 2, p.x[2], p.y[2], x1, y1, true, p.x[3], p.y[3]);
      };
      double x0 = 0, y0 = 0;
      src.Position(direction(t0), x0, y0);
      for (int c0 = t0; c0 < tEnd; c0 += kMaxCell) {
        double x1 = 0, y1 = 0;
        src.Position(direction(c0 + kMaxCell), x1, y1);
        x1 = unwrap(x1, x0);
        split(split, c0, kMaxCell, x0, y0, x1, y1, false, 0, 0);
        x0 = x1 > w ? x1 - w : x1 < 0 ? x1 + w : x1;
        y0 = y1;
      }
    }
  }
}

// Columns [x0, x1) of a line halved across: each the mean of the two
// pixels it covers, rounded up and down by turns (no drift over the
// levels); an odd width's last column pairs with the first.
template <typename T, int C>
void HalveColumns(const T* in, int fromWidth, T* out, int x0, int x1) {
  for (int x = x0; x < x1; ++x) {
    const T* a = in + static_cast<std::ptrdiff_t>(2 * x) * C;
    const T* b = 2 * x + 1 < fromWidth ? a + C : in;
    for (int c = 0; c < C; ++c) {
      if constexpr (std::is_floating_point_v<T>) {
        out[x * C + c] = (a[c] + b[c]) * T(0.5);
      } else {
        out[x * C + c] = static_cast<T>((unsigned{a[c]} + unsigned{b[c]} + (x & 1)) / 2);
      }
    }
  }
}

// A line of width fromWidth halved into toWidth columns.
template <typename T, int C>
void HalveLine(const T* in, int fromWidth, T* out, int toWidth) {
  int x = 0;
#if defined(__SSE2__)
  if constexpr (std::is_same_v<T, std::uint8_t> && (C == 3 || C == 4)) {
    // Two columns a vector, as four-byte reads and writes (a three-channel
    // write's fourth byte is the next column's, written after): the last
    // column is left to the plain loop, which may not read past the line.
    if (VectorBlendInUse()) {
      const auto load = [](const std::uint8_t* q) {
        std::int32_t bytes = 0;
        std::memcpy(&bytes, q, sizeof bytes);
        return _mm_cvtsi32_si128(bytes);
      };
      // Even columns round down: the rounded-up mean less the odd bit.
      const __m128i downBit = _mm_set_epi32(0, 0, 0, 0x01010101);
      for (; x + 2 < toWidth; x += 2) {
        const std::uint8_t* a = in + static_cast<std::ptrdiff_t>(2 * x) * C;
        const __m128i left = _mm_unpacklo_epi32(load(a), load(a + 2 * C));
        const __m128i right = _mm_unpacklo_epi32(load(a + C), load(a + 3 * C));
        const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(left, right),
                                          _mm_and_si128(_mm_xor_si128(left, right), downBit));
        std::uint8_t* o = out + static_cast<std::ptrdiff_t>(x) * C;
        const std::int32_t first = _mm_cvtsi128_si32(mean);
        const std::int32_t second = _mm_cvtsi128_si32(_mm_srli_si128(mean, 4));
        std::memcpy(o, &first, 4);
        std::memcpy(o + C, &second, 4);
      }
    }
  }
#endif
  HalveColumns<T, C>(in, fromWidth, out, x, toWidth);
}

// The panorama and its halved levels (Level). The levels are filled row by
// row (HalveRow), so that they can follow a decoder.
template <typename T, int C, int Taps>
struct PanoramaLevels {
  std::vector<Level<T, C>> levels;
  std::vector<std::unique_ptr<T[]>> halves;

  // s0: the columns a face pixel spans at the equator.
  PanoramaLevels(const RasterView<const T>& pano, double s0, bool averages)
      : levels{Level<T, C>{{pano, pano.width / (2 * kPi), pano.height / kPi}, pano.height, 1}} {
    if (!averages) return;
    const int h = pano.height;
    // At polar angle θ a face pixel spans at most s0 / sin θ columns: level k
    // is chosen only where that exceeds kAverageAbove · 2^(k − 1).
    const int margin = static_cast<int>(std::ceil(2 * s0)) + Taps + 3;
    for (int k = 1; k < kMaxLevels; ++k) {
      const Level<T, C>& prev = levels.back();
      const int pw = prev.src.pano.width;
      const int nw = (pw + 1) / 2;
      if (nw < 8) break;
      const double limit = s0 / (kAverageAbove * std::ldexp(1.0, k - 1));
      int rows = limit >= 1 ? h : static_cast<int>(std::ceil(std::asin(limit) / kPi * h)) + margin;
      rows = std::min(rows, prev.rows);
      if (2 * rows >= h) rows = h;
      const std::size_t count = static_cast<std::size_t>(nw) * h * C;
      halves.push_back(std::make_unique_for_overwrite<T[]>(count));
      AdviseHugePages(halves.back().get(), count * sizeof(T));
      const RasterView<const T> view{halves.back().get(), nw, h, C,
                                     static_cast<std::ptrdiff_t>(nw) * C};
      const double scale = prev.scale * pw / nw;
      levels.push_back(Level<T, C>{{view, nw / (2 * kPi), h / kPi}, rows, scale, 1 / scale});
    }
  }

  // Rows [0, rows) of the halved levels will not be read again.
  void LetGo(int rows) {
    for (std::size_t k = 1; k < levels.size(); ++k) {
      const std::ptrdiff_t stride = levels[k].src.pano.stride;
      DiscardPixels(halves[k - 1].get(), static_cast<std::size_t>(rows) * stride * sizeof(T));
    }
  }

  // Row y of every halved level that holds it, each from the level before
  // (a level halves columns only: a row needs nothing but the same row).
  void HalveRow(int y) {
    const int h = levels[0].src.pano.height;
    for (std::size_t k = 1; k < levels.size(); ++k) {
      const int rows = levels[k].rows;
      if (rows < h && y >= rows && y < h - rows) break;  // the held rows shrink with k
      const RasterView<const T>& from = levels[k - 1].src.pano;
      const RasterView<const T>& to = levels[k].src.pano;
      HalveLine<T, C>(from.row(y), from.width,
                      halves[k - 1].get() + static_cast<std::ptrdiff_t>(y) * to.stride, to.width);
    }
  }
};

// Face rows [r0, r1), columns [c0, c1), and the panorama rows [first,
// need) they read.
struct FaceTile {
  int r0, r1, c0, c1;
  int first, need;
};

// The tiles of one band that the decoder's thread may take while it is far
// ahead of the faces: it makes them instead of filling fresh pages further
// on, which on a virtual machine cost more than the making. Only tiles whose
// rows it has decoded are taken there, so the decoder never waits for
// itself.
struct DecoderHelp {
  std::mutex m;
  std::condition_variable idle;
  const std::vector<FaceTile>* tiles = nullptr;  // null: none on offer
  std::atomic<std::size_t>* next = nullptr;
  const std::function<void(const FaceTile&)>* make = nullptr;
  int inFlight = 0;
  std::exception_ptr failure;

  // On the decoder's thread, `rows` rows decoded: makes the next tile if it
  // reads no further and prepare(need) can make its rows ready without
  // waiting; false when there is none such.
  bool TakeOne(int rows, const std::function<bool(int need)>& prepare) {
    const FaceTile* tile = nullptr;
    const std::function<void(const FaceTile&)>* run = nullptr;
    {
      const std::lock_guard lock(m);
      if (tiles == nullptr || failure) return false;
      std::size_t t = next->load();
      do {
        if (t >= tiles->size() || (*tiles)[t].need > rows || !prepare((*tiles)[t].need)) {
          return false;
        }
      } while (!next->compare_exchange_weak(t, t + 1));
      tile = &(*tiles)[t];
      run = make;
      ++inFlight;
    }
    try {
      (*run)(*tile);
    } catch (...) {
      const std::lock_guard lock(m);
      failure = std::current_exception();
    }
    {
      const std::lock_guard lock(m);
      --inFlight;
    }
    idle.notify_all();
    return true;
  }

  // A band's tiles on offer while it lives; the tiles taken are made before
  // it ends.
  class Offer {
   public:
    Offer(DecoderHelp* help, const std::vector<FaceTile>& tiles, std::atomic<std::size_t>& next,
          const std::function<void(const FaceTile&)>& make)
        : help_(help) {
      if (help_ == nullptr) return;
      const std::lock_guard lock(help_->m);
      help_->tiles = &tiles;
      help_->next = &next;
      help_->make = &make;
    }
    ~Offer() {
      if (help_ == nullptr) return;
      std::unique_lock lock(help_->m);
      help_->tiles = nullptr;
      help_->idle.wait(lock, [this] { return help_->inFlight == 0; });
    }
    Offer(const Offer&) = delete;
    Offer& operator=(const Offer&) = delete;

   private:
    DecoderHelp* help_;
  };
};

template <typename T, int C, int Taps>
void FacesFromPanorama(const RasterView<const T>& pano, const std::vector<int>& faceIndices,
                       int faceWidth, int faceHeight, const FaceBands<T>& outputs,
                       const Orientation& view, ResampleFilter filter, const Workers& workers,
                       const CancelToken* cancel, RowGate* decoded) {
  const int h = pano.height;
  // A face pixel spans at most 2 / E radians: s0 columns at the equator.
  const double s0 = pano.width / (kPi * std::min(faceWidth, faceHeight));
  PanoramaLevels<T, C, Taps> pyramid(pano, s0, filter != ResampleFilter::Design);
  const std::vector<Level<T, C>>& levels = pyramid.levels;
  // The panorama rows decoded and halved so far. While the decoder is still
  // at work, a face tile first waits for the rows it reads; the thread that
  // needs further rows halves them.
  std::atomic<int> ready{decoded == nullptr ? h : 0};
  std::atomic<bool> starving{false};  // a thread waits for the decoder
  std::mutex readying;
  // With `readying` held and rows [0, need) decoded: halves those not yet.
  const auto halveTo = [&](int need) {
    const int from = ready.load(std::memory_order_relaxed);
    for (int y = from; y < need; ++y) pyramid.HalveRow(y);
    if (need > from) ready.store(need, std::memory_order_release);
  };
  const auto makeReady = [&](int need) {
    if (need <= ready.load(std::memory_order_acquire)) return;
    const std::lock_guard lock(readying);
    if (need <= ready.load(std::memory_order_relaxed)) return;
    starving.store(true);
    decoded->WaitFor(need);
    starving.store(false);
    halveTo(need);
  };
  if (decoded == nullptr && levels.size() > 1) {
    workers.For(0, h, [&](int first, int last) {
      CheckCancel(cancel);
      for (int y = first; y < last; ++y) pyramid.HalveRow(y);
    });
  }
  // The panorama rows [first, need) face rows [r0, r1) of `plane` read: the
  // highest and lowest points of the tile's edge (those inside are on the
  // edge unless a pole is there), sampled every few pixels, and what a
  // footprint and the taps reach beyond them.
  const PanoramaSource<T, C>& src = levels[0].src;
  const double rowsPerPixel = h / kPi * 2.0 / std::min(faceWidth, faceHeight);
  const int reach = static_cast<int>(std::ceil(6 * rowsPerPixel)) + Taps + 4;
  const auto rowsRead = [&](const FacePlane& plane, FaceTile& tile) {
    const double su = 2.0 / faceWidth, sv = 2.0 / faceHeight;
    bool zenith = false, nadir = false;
    // The pole (0, ±1, 0) the plane faces: u = a · n / o · n, v = b · n / o · n.
    if (plane.o.y != 0) {
      const double u = plane.a.y / plane.o.y, v = plane.b.y / plane.o.y;
      const double c = (u + 1) / su - 0.5, r = (v + 1) / sv - 0.5;
      if (c >= tile.c0 - 1 && c <= tile.c1 && r >= tile.r0 - 1 && r <= tile.r1) {
        (plane.o.y > 0 ? zenith : nadir) = true;
      }
    }
    double highest = h, lowest = 0;
    const auto at = [&](int c, int r) {
      double px = 0, py = 0;
      src.Position(plane.o + ((c + 0.5) * su - 1) * plane.a + ((r + 0.5) * sv - 1) * plane.b, px,
                   py);
      highest = std::min(highest, py);
      lowest = std::max(lowest, py);
    };
    constexpr int kEvery = 4;
    for (int c = tile.c0; c < tile.c1; c += kEvery) {
      at(c, tile.r0);
      at(c, tile.r1 - 1);
    }
    for (int r = tile.r0; r < tile.r1; r += kEvery) {
      at(tile.c0, r);
      at(tile.c1 - 1, r);
    }
    at(tile.c1 - 1, tile.r0);
    at(tile.c1 - 1, tile.r1 - 1);
    tile.first = zenith ? 0 : std::max(0, static_cast<int>(std::floor(highest)) - reach);
    tile.need = nadir ? h : std::min(h, static_cast<int>(std::ceil(lowest)) + reach);
  };
  const auto planeOf = [&](int faceIndex) {
    const FacePlane local = PlaneOf(faceIndex);
    return FacePlane{Apply(view, local.o), Apply(view, local.a), Apply(view, local.b)};
  };
  // Where tiles wait for the decoder or rows are let go, each tile knows the
  // rows it reads.
  const bool tracksRows = decoded != nullptr || outputs.passed;
  // Face rows [b0, b1) of one face, in tiles: rows across the face; while
  // the panorama is still being decoded, the first face's rows are cut in
  // columns too and made in the order of the panorama rows they read.
  struct Band {
    std::size_t slot;  // in faceIndices
    int b0, rows;
    std::vector<FaceTile> tiles;
    int first = 0, need = 0;  // over its tiles
    // A band made in pieces: the first takes its raster, the last fills it.
    bool opens = true, fills = true;

    void Add(const FaceTile& tile) {
      first = std::min(first, tile.first);
      need = std::max(need, tile.need);
      tiles.push_back(tile);
    }
  };
  const auto bandOf = [&](std::size_t slot, bool first, int b0, int b1) {
    const FacePlane plane = planeOf(faceIndices[slot]);
    Band band{slot, b0, b1 - b0, {}, h, 0};
    const int columns = first ? 4 * kTileColumns : faceWidth;
    for (int r0 = b0; r0 < b1; r0 += kFaceGrainRows) {
      for (int c0 = 0; c0 < faceWidth; c0 += columns) {
        FaceTile tile{
            r0, std::min(b1, r0 + kFaceGrainRows), c0, std::min(faceWidth, c0 + columns), 0, h};
        if (tracksRows) rowsRead(plane, tile);
        band.Add(tile);
      }
    }
    if (first) {
      std::stable_sort(band.tiles.begin(), band.tiles.end(),
                       [](const FaceTile& x, const FaceTile& y) { return x.need < y.need; });
    }
    return band;
  };
  // Faces are handed on (done) in the given order. While the panorama is
  // still being decoded, the face that reads the fewest rows (the top face
  // of an unturned view) is made first, as the decoder starts, as one band.
  std::size_t early = 0;
  if (decoded != nullptr && faceIndices.size() > 1) {
    int least = h + 1;
    for (std::size_t i = 0; i < faceIndices.size(); ++i) {
      // The least any of its tiles reads: that of its middle.
      FaceTile middle{faceHeight / 2, faceHeight / 2 + 1, faceWidth / 2, faceWidth / 2 + 1, 0, h};
      rowsRead(planeOf(faceIndices[i]), middle);
      if (middle.need < least) {
        least = middle.need;
        early = i;
      }
    }
  }
  // The bands in the order they are made. A face made in several bands
  // makes them in order; the bands of different faces are merged by the
  // rows they read, so the panorama rows the faces have passed can go.
  const int bandRows = outputs.bandRows < 1 ? faceHeight : outputs.bandRows;
  std::vector<std::vector<Band>> perFace(faceIndices.size());
  for (std::size_t i = 0; i < faceIndices.size(); ++i) {
    const bool whole = early != 0 && i == early;
    const int rows = whole ? faceHeight : bandRows;
    for (int b0 = 0; b0 < faceHeight; b0 += rows) {
      perFace[i].push_back(bandOf(i, whole, b0, std::min(faceHeight, b0 + rows)));
    }
  }
  const bool merges = outputs.bandRows > 0;
  std::vector<Band> schedule;
  std::vector<std::size_t> taken(faceIndices.size(), 0);
  if (early != 0 && merges) {
    // The early face's tiles, in pieces of about a band's pixels, are
    // merged with the other bands too: the faces follow the decoder.
    Band whole = std::move(perFace[early][0]);
    perFace[early].clear();
    const std::size_t perPiece = std::max<std::size_t>(
        1, static_cast<std::size_t>(bandRows) / kFaceGrainRows * faceWidth / (4 * kTileColumns));
    for (std::size_t t = 0; t < whole.tiles.size(); t += perPiece) {
      Band piece{whole.slot, whole.b0, whole.rows, {},
                 h,          0,        t == 0,     t + perPiece >= whole.tiles.size()};
      for (std::size_t k = t; k < std::min(whole.tiles.size(), t + perPiece); ++k) {
        piece.Add(whole.tiles[k]);
      }
      perFace[early].push_back(std::move(piece));
    }
  } else if (early != 0) {
    schedule.push_back(std::move(perFace[early][0]));
    taken[early] = 1;
  }
  for (std::size_t i = 0; i < faceIndices.size(); ++i) {
    for (;;) {
      std::size_t pick = i;
      if (merges) {
        for (std::size_t j = i + 1; j < faceIndices.size(); ++j) {
          if (taken[j] < perFace[j].size() &&
              (taken[pick] >= perFace[pick].size() ||
               perFace[j][taken[j]].need < perFace[pick][taken[pick]].need)) {
            pick = j;
          }
        }
      }
      if (taken[pick] >= perFace[pick].size()) break;
      schedule.push_back(std::move(perFace[pick][taken[pick]++]));
    }
  }
  // passed[j]: no band from j on reads a row above it.
  std::vector<int> passed(schedule.size() + 1, h);
  for (std::size_t j = schedule.size(); j-- > 0;) {
    passed[j] = std::min(passed[j + 1], schedule[j].first);
  }
  // The rows let go so far. A decoder more than leadRows ahead of them
  // makes tiles of the band at hand whose rows it has decoded, unless a face
  // thread waits for it.
  std::atomic<int> letGo{0};
  DecoderHelp help;
  const bool helps = decoded != nullptr && outputs.leadRows > 0;
  struct PaceScope {
    RowGate* gate;
    ~PaceScope() {
      if (gate != nullptr) gate->SetPace(nullptr);
    }
  };
  // Rows the decoder has passed are made ready there, unless a face thread
  // is at it (and may be waiting for the decoder).
  const std::function<bool(int)> prepare = [&](int need) {
    if (need <= ready.load(std::memory_order_acquire)) return true;
    const std::unique_lock lock(readying, std::try_to_lock);
    if (!lock.owns_lock()) return false;
    halveTo(need);
    return true;
  };
  if (helps) {
    decoded->SetPace([&](int rows) {
      while (rows - letGo.load(std::memory_order_acquire) > outputs.leadRows && !starving.load() &&
             help.TakeOne(rows, prepare)) {
      }
    });
  }
  const PaceScope pace{helps ? decoded : nullptr};
  std::vector<int> rowsMade(faceIndices.size(), 0);
  std::vector<RasterView<T>> open(faceIndices.size());
  std::size_t handed = 0;
  for (std::size_t j = 0; j < schedule.size(); ++j) {
    CheckCancel(cancel);
    const Band& job = schedule[j];
    const int faceIndex = faceIndices[job.slot];
    const FacePlane plane = planeOf(faceIndex);
    if (job.opens) {
      open[job.slot] = outputs.band(faceIndex, job.b0, job.rows);
      const RasterView<T>& band = open[job.slot];
      if (band.width != faceWidth || band.height != job.rows || band.channels != C) {
        throw ArgumentError("The face raster does not match.");
      }
    }
    const RasterView<T> band = open[job.slot];
    // Each thread takes the next tile while any are left: a worker busy
    // elsewhere (the decoder, an encoder) joins when it is free.
    std::atomic<std::size_t> nextTile{0};
    const std::function<void(const FaceTile&)> make = [&](const FaceTile& tile) {
      FaceRows<T, C, Taps>(levels, plane, band, faceHeight, job.b0, filter, tile.r0, tile.r1,
                           tile.c0, tile.c1);
    };
    {
      const DecoderHelp::Offer offer(helps ? &help : nullptr, job.tiles, nextTile, make);
      workers.For(0, workers.Count(), [&](int, int) {
        for (std::size_t t = 0; (t = nextTile.fetch_add(1)) < job.tiles.size();) {
          CheckCancel(cancel);
          const FaceTile& tile = job.tiles[t];
          if (decoded != nullptr) makeReady(tile.need);
          make(tile);
        }
      });
    }
    if (help.failure) std::rethrow_exception(help.failure);
    if (job.fills && outputs.filled) outputs.filled(faceIndex, job.b0, job.rows);
    // Rows no later band reads, once decoded and halved, can go.
    const int frontier = std::min(passed[j + 1], ready.load(std::memory_order_acquire));
    if (frontier > letGo.load(std::memory_order_relaxed)) {
      pyramid.LetGo(frontier);
      if (outputs.passed) outputs.passed(frontier);
      letGo.store(frontier, std::memory_order_release);
    }
    if (job.fills) rowsMade[job.slot] += job.rows;
    for (; handed < faceIndices.size() && rowsMade[handed] == faceHeight; ++handed) {
      if (outputs.done) outputs.done(faceIndices[handed]);
    }
  }
}

// ---- faces → panorama ----

template <typename T, int C>
struct FaceSource {
  const std::array<RasterView<const T>, 6>* faces;
  int face;  // the face being sampled

  static void Pixel(const RasterView<const T>& f, double u, double v, double& px, double& py) {
    px = (u + 1) * 0.5 * f.width - 0.5;
    py = (v + 1) * 0.5 * f.height - 0.5;
  }

  // A tap beyond the face: the pixel of the neighbouring face its centre
  // direction falls into.
  const T* operator()(int x, int y) const {
    const RasterView<const T>& f = (*faces)[face];
    const double u = 2.0 * (x + 0.5) / f.width - 1;
    const double v = 2.0 * (y + 0.5) / f.height - 1;
    const FacePlane plane = PlaneOf(face);
    const Vec3 d = plane.o + u * plane.a + v * plane.b;
    const int g = FaceOf(d);
    const RasterView<const T>& n = (*faces)[g];
    double gu = 0, gv = 0;
    OnFace(g, d, gu, gv);
    const int gx =
        std::clamp(static_cast<int>(std::floor((gu + 1) * 0.5 * n.width)), 0, n.width - 1);
    const int gy =
        std::clamp(static_cast<int>(std::floor((gv + 1) * 0.5 * n.height)), 0, n.height - 1);
    return n.row(gy) + static_cast<std::ptrdiff_t>(gx) * C;
  }
};

template <typename T, int C, int Taps>
void AddFaceSample(const std::array<RasterView<const T>, 6>& faces, const Vec3& d, float weight,
                   float* acc) {
  const int f = FaceOf(d);
  double u = 0, v = 0, px = 0, py = 0;
  OnFace(f, d, u, v);
  FaceSource<T, C>::Pixel(faces[f], u, v, px, py);
  AddSample<T, C, Taps>(faces[f], px, py, weight, acc, FaceSource<T, C>{&faces, f});
}

// Where a panorama column's direction lands on the faces: the face, its
// pixel position there and, when the filter averages, the face pixels one
// step along (ux, uy) and across (vx, vy) the panorama moves.
struct FacePoint {
  int face = 0;
  double px = 0, py = 0;
  double ux = 0, uy = 0, vx = 0, vy = 0;
};

template <typename T>
FacePoint MapToFace(const std::array<RasterView<const T>, 6>& faces, const Vec3& d,
                    const Vec3& stepU, const Vec3& stepV, bool averages) {
  FacePoint p;
  p.face = FaceOf(d);
  const RasterView<const T>& f = faces[p.face];
  const double sx = 0.5 * f.width, sy = 0.5 * f.height;
  double u = 0, v = 0;
  OnFace(p.face, d, u, v);
  p.px = (u + 1) * sx - 0.5;
  p.py = (v + 1) * sy - 0.5;
  if (averages) {
    double u1 = 0, v1 = 0;
    OnFace(p.face, d + stepU, u1, v1);
    p.ux = (u1 - u) * sx;
    p.uy = (v1 - v) * sy;
    OnFace(p.face, d + stepV, u1, v1);
    p.vx = (u1 - u) * sx;
    p.vy = (v1 - v) * sy;
  }
  return p;
}

// Whether a footprint of these steps is a single sample.
bool SingleFootprint(const FacePoint& p) { return OneSample(p.ux, p.uy) && OneSample(p.vx, p.vy); }

template <typename T>
using FaceSet = std::array<RasterView<const T>, 6>;

// The faces halved in both axes k times (k = 0: the faces themselves), for
// panorama pixels that cover many face pixels (near the faces' corners, or
// a panorama narrower than the faces): one sample of a halved face replaces
// a grid of subsamples.
template <typename T, int C>
struct FaceLevels {
  std::vector<FaceSet<T>> sets;
  std::vector<std::unique_ptr<T[]>> store;

  FaceLevels(const FaceSet<T>& faces, int panoramaHeight, bool averages, const Workers& workers,
             const CancelToken* cancel) {
    sets.push_back(faces);
    if (!averages) return;
    // A panorama row step is π / H radians; a face pixel at a corner spans
    // a third of 2 / E: at most 1.5 π E / H face pixels per step.
    int edge = 0;
    for (const RasterView<const T>& f : faces) edge = std::max({edge, f.width, f.height});
    const double widest = 1.5 * kPi * edge / panoramaHeight;
    const int levels = 1 + HalvingsFor(widest);
    for (int k = 1; k < std::min(levels, kMaxLevels); ++k) {
      FaceSet<T> next;
      for (std::size_t i = 0; i < faces.size(); ++i) {
        const RasterView<const T>& from = sets.back()[i];
        const int w = (from.width + 1) / 2, h = (from.height + 1) / 2;
        if (std::min(w, h) < 8) return;
        store.push_back(std::make_unique_for_overwrite<T[]>(static_cast<std::size_t>(w) * h * C));
        T* data = store.back().get();
        next[i] = {data, w, h, C, static_cast<std::ptrdiff_t>(w) * C};
        workers.For(0, h, [&](int first, int last) {
          CheckCancel(cancel);
          for (int y = first; y < last; ++y)
            Halve(from, y, data + static_cast<std::ptrdiff_t>(y) * w * C, w);
        });
      }
      sets.push_back(next);
    }
  }

  // Row y of `from` halved in both axes into `out` (w pixels); an odd size's
  // last column or row stands alone.
  static void Halve(const RasterView<const T>& from, int y, T* out, int w) {
    const T* r0 = from.row(2 * y);
    const T* r1 = from.row(std::min(2 * y + 1, from.height - 1));
    for (int x = 0; x < w; ++x) {
      const int x1 = std::min(2 * x + 1, from.width - 1);
      const T* p[4] = {r0 + 2 * x * C, r0 + x1 * C, r1 + 2 * x * C, r1 + x1 * C};
      for (int c = 0; c < C; ++c) {
        if constexpr (std::is_floating_point_v<T>) {
          out[x * C + c] = (p[0][c] + p[1][c] + p[2][c] + p[3][c]) * T(0.25);
        } else {
          // Rounded up and down by turns: no drift over the levels.
          const unsigned sum = unsigned{p[0][c]} + p[1][c] + p[2][c] + p[3][c];
          out[x * C + c] = static_cast<T>((sum + 1 + ((x ^ y) & 1)) / 4);
        }
      }
    }
  }

  // The level whose pixels a footprint of p (level 0) spans at most
  // kAverageAbove of, or the coarsest.
  std::size_t LevelOf(const FacePoint& p) const {
    if (sets.size() == 1 || SingleFootprint(p)) return 0;
    const double span = std::sqrt(std::max(p.ux * p.ux + p.uy * p.uy, p.vx * p.vx + p.vy * p.vy));
    return static_cast<std::size_t>(std::min(HalvingsFor(span), static_cast<int>(sets.size()) - 1));
  }

  // p (level 0) in the pixels of level k.
  FacePoint At(const FacePoint& p, std::size_t k) const {
    if (k == 0) return p;
    const RasterView<const T>& f0 = sets[0][p.face];
    const RasterView<const T>& fk = sets[k][p.face];
    const double rx = static_cast<double>(fk.width) / f0.width;
    const double ry = static_cast<double>(fk.height) / f0.height;
    FacePoint q = p;
    q.px = (p.px + 0.5) * rx - 0.5;
    q.py = (p.py + 0.5) * ry - 0.5;
    q.ux *= rx;
    q.vx *= rx;
    q.uy *= ry;
    q.vy *= ry;
    return q;
  }
};

// One panorama pixel of direction d whose place on the faces is p (level
// 0): a single sample of the face level its footprint needs, or the
// footprint's subsamples there, each mapped exactly (they may fall on other
// faces). With `straight` (the mapping linear about p) a footprint that
// stays on p's face takes its subsamples from p's steps instead.
template <typename T, int C, int Taps>
void PanoramaPixel(const FaceLevels<T, C>& levels, const FacePoint& at, const Vec3& d,
                   const Vec3& stepU, const Vec3& stepV, ResampleFilter filter, bool single,
                   bool straight, T* out) {
  float acc[C] = {};
  const std::size_t level = single ? 0 : levels.LevelOf(at);
  const FacePoint p = levels.At(at, level);
  const FaceSet<T>& faces = levels.sets[level];
  Footprint foot;
  if (!single) foot = Footprint(p.ux, p.uy, p.vx, p.vy, filter);
  const RasterView<const T>& f = faces[p.face];
  const FaceSource<T, C> outside{&faces, p.face};
  if (foot.Single()) {
    AddSample<T, C, Taps>(f, p.px, p.py, 1.0f, acc, outside);
  } else {
    const double reachX = std::fabs(p.ux) + std::fabs(p.vx);
    const double reachY = std::fabs(p.uy) + std::fabs(p.vy);
    const bool linear = straight && p.px >= reachX && p.px + reachX <= f.width - 1 &&
                        p.py >= reachY && p.py + reachY <= f.height - 1;
    foot.Average(acc, C, [&](double ou, double ov, float wt) {
      if (linear) {
        AddSample<T, C, Taps>(f, p.px + ou * p.ux + ov * p.vx, p.py + ou * p.uy + ov * p.vy, wt,
                              acc, outside);
      } else {
        AddFaceSample<T, C, Taps>(faces, d + ou * stepU + ov * stepV, wt, acc);
      }
    });
  }
  for (int k = 0; k < C; ++k) out[k] = ToSample<T>(acc[k]);
}

template <typename T, int C, int Taps>
void PanoramaRows(const FaceLevels<T, C>& levels, const std::vector<Vec3>& along,
                  const std::vector<Vec3>& across, const Vec3& axisY, double dTheta, int firstRow,
                  const RasterView<T>& band, ResampleFilter filter, int r0, int r1) {
  const FaceSet<T>& faces = levels.sets[0];
  const int width = band.width;
  const bool averages = filter != ResampleFilter::Design;
  // A tile of columns across the rows at a time, as for the faces: the face
  // rows one panorama row reads are still in cache for the next.
  for (int t0 = 0; t0 < width; t0 += kTileColumns) {
    const int tEnd = std::min(width, t0 + kTileColumns);
    for (int r = r0; r < r1; ++r) {
      const double theta = (firstRow + r + 0.5) * dTheta;
      const double st = std::sin(theta), ct = std::cos(theta);
      const Vec3 up = ct * axisY, upStep = (-st * dTheta) * axisY;
      T* out = band.row(r);
      // Column x's direction and its steps along and across; columns past
      // the last are the first ones again.
      const auto map = [&](int x, Vec3& d, Vec3& stepU, Vec3& stepV) {
        const Vec3& p = along[static_cast<std::size_t>(x % width)];
        d = st * p + up;
        stepU = st * across[static_cast<std::size_t>(x % width)];
        stepV = (ct * dTheta) * p + upStep;
        return MapToFace(faces, d, stepU, stepV, averages);
      };
      Vec3 d, stepU, stepV;
      // Columns [x0, x0 + n) between the face points a and b of its ends
      // (with m at its middle): with `straight`, on one face and along a
      // parabola of bend (hx, hy) face pixels a column squared (0: a line),
      // else every column mapped exactly.
      const auto cell = [&](int x0, int n, const FacePoint& a, const FacePoint& m,
                            const FacePoint& b, double hx, double hy, bool straight) {
        const int xEnd = std::min(width, x0 + n);
        if (!straight) {
          for (int x = x0; x < xEnd; ++x) {
            const FacePoint p = map(x, d, stepU, stepV);
            PanoramaPixel<T, C, Taps>(levels, p, d, stepU, stepV, filter, !averages, false,
                                      out + x * C);
          }
          return;
        }
        // The footprint changes as slowly as the positions: where both ends
        // (and the middle of a long cell) take the same face level as single
        // samples, every pixel between does.
        bool single = !averages;
        std::size_t k = 0;
        if (averages) {
          k = levels.LevelOf(a);
          single = k == levels.LevelOf(b) && SingleFootprint(levels.At(a, k)) &&
                   SingleFootprint(levels.At(b, k)) &&
                   (n <= kCell || (k == levels.LevelOf(m) && SingleFootprint(levels.At(m, k))));
        }
        if (single) {
          const FaceSet<T>& set = levels.sets[k];
          const FacePoint pa = levels.At(a, k), pb = levels.At(b, k);
          // Level k's pixels per level 0 pixel, which scale the bend too.
          const RasterView<const T>& f0 = levels.sets[0][a.face];
          const RasterView<const T>& fk = set[a.face];
          const double sx = static_cast<double>(fk.width) / f0.width;
          const double sy = static_cast<double>(fk.height) / f0.height;
          const double gx = (pb.px - pa.px) / n - hx * sx * n;
          const double gy = (pb.py - pa.py) / n - hy * sy * n;
          SampleLine<T, C, Taps>(set[a.face], LineSteps(pa.px, pa.py, gx, gy, hx * sx, hy * sy),
                                 xEnd - x0, out + x0 * C, FaceSource<T, C>{&set, a.face});
          return;
        }
        FacePoint p = a;
        const double gx = (b.px - a.px) / n - hx * n, gy = (b.py - a.py) / n - hy * n;
        for (int x = x0; x < xEnd; ++x) {
          const double t = x - x0, s = t / n;
          p.px = a.px + (gx + hx * t) * t;
          p.py = a.py + (gy + hy * t) * t;
          p.ux = a.ux + (b.ux - a.ux) * s;
          p.uy = a.uy + (b.uy - a.uy) * s;
          p.vx = a.vx + (b.vx - a.vx) * s;
          p.vy = a.vy + (b.vy - a.vy) * s;
          map(x, d, stepU, stepV);
          PanoramaPixel<T, C, Taps>(levels, p, d, stepU, stepV, filter, false, true, out + x * C);
        }
      };
      // Cells as for the faces: on a line through the ends where the
      // midpoint lies on it; else, from kMinBentCell columns up, on the
      // parabola through the ends and the midpoint where the quarter points
      // lie on it; else halved, down to kCell columns, which are mapped
      // column by column when still not straight.
      const auto split = [&](const auto& self, int x0, int n, const FacePoint& a,
                             const FacePoint& b, bool hasMid, FacePoint m) -> void {
        if (!hasMid) m = map(x0 + n / 2, d, stepU, stepV);
        const bool oneFace = a.face == b.face && m.face == a.face;
        CellPoints p{{a.px, 0, m.px, 0, b.px}, {a.py, 0, m.py, 0, b.py}};
        const bool line = oneFace && p.Line();
        if (line || n <= kCell) {
          cell(x0, n, a, m, b, 0, 0, line);
          return;
        }
        const bool second = x0 + n / 2 < tEnd;
        const FacePoint q1 = map(x0 + n / 4, d, stepU, stepV);
        const FacePoint q3 = second ? map(x0 + 3 * n / 4, d, stepU, stepV) : FacePoint{};
        p.x[1] = q1.px, p.y[1] = q1.py, p.x[3] = q3.px, p.y[3] = q3.py;
        double hx = 0, hy = 0;
        if (oneFace && second && n >= kMinBentCell && q1.face == a.face && q3.face == a.face &&
            p.Parabola(n, hx, hy)) {
          cell(x0, n, a, m, b, hx, hy, true);
          return;
        }
        self(self, x0, n / 2, a, m, true, q1);
        if (second) self(self, x0 + n / 2, n / 2, m, b, true, q3);
      };
      FacePoint a = map(t0, d, stepU, stepV);
      for (int x0 = t0; x0 < tEnd; x0 += kMaxCell) {
        const FacePoint b = map(x0 + kMaxCell, d, stepU, stepV);
        split(split, x0, kMaxCell, a, b, false, FacePoint{});
        a = b;
      }
    }
  }
}

template <typename T, int C, int Taps>
void PanoramaFromFaces(const FaceSet<T>& faces, int width, int height, int firstRow, int lastRow,
                       int bandRows, const BandTarget<T>& target, const BandDone& done,
                       const Orientation& view, ResampleFilter filter, const Workers& workers,
                       const CancelToken* cancel) {
  // The camera-frame direction of panorama pixel (x, y) is
  // sin θ · P[x] + cos θ · Q, with P[x] = sin φ · X + cos φ · Z and X, Y, Z
  // the world axes seen from the turned camera.
  const Orientation toCamera = view.Inverse();
  const Vec3 axisX = Apply(toCamera, {1, 0, 0});
  const Vec3 axisY = Apply(toCamera, {0, 1, 0});
  const Vec3 axisZ = Apply(toCamera, {0, 0, 1});
  const double dPhi = 2 * kPi / width, dTheta = kPi / height;
  std::vector<Vec3> along(static_cast<std::size_t>(width)), across(static_cast<std::size_t>(width));
  for (int x = 0; x < width; ++x) {
    const double phi = (x + 0.5) * dPhi - kPi;
    const double s = std::sin(phi), c = std::cos(phi);
    along[static_cast<std::size_t>(x)] = s * axisX + c * axisZ;
    across[static_cast<std::size_t>(x)] = (c * dPhi) * axisX + (-s * dPhi) * axisZ;
  }
  const FaceLevels<T, C> levels(faces, height, filter != ResampleFilter::Design, workers, cancel);
  for (int y0 = firstRow; y0 < lastRow; y0 += bandRows) {
    CheckCancel(cancel);
    const int rows = std::min(bandRows, lastRow - y0);
    const RasterView<T> band = target(y0, rows);
    if (band.width != width || band.height != rows || band.channels != C) {
      throw ArgumentError("The band raster does not match.");
    }
    // Each thread takes the next few rows while any are left: a worker busy
    // elsewhere (the encoder of the previous band) joins when it is free and
    // nobody waits for a share dealt to it in advance. A row's samples do not
    // depend on who makes them.
    std::atomic<int> nextRow{0};
    workers.For(0, workers.Count(), [&](int, int) {
      for (int r0 = 0; (r0 = nextRow.fetch_add(kGrainRows)) < rows;) {
        CheckCancel(cancel);
        PanoramaRows<T, C, Taps>(levels, along, across, axisY, dTheta, y0, band, filter, r0,
                                 std::min(rows, r0 + kGrainRows));
      }
    });
    if (done) done(y0);
  }
}

template <typename F>
void WithTaps(ResampleFilter filter, const F& f) {
  switch (filter) {
    case ResampleFilter::Bicubic:
      f(std::integral_constant<int, 4>{});
      break;
    case ResampleFilter::Lanczos3:
      f(std::integral_constant<int, 6>{});
      break;
    default:
      f(std::integral_constant<int, 2>{});
      break;
  }
}

template <typename F>
void WithChannels(int channels, const F& f) {
  switch (channels) {
    case 1:
      f(std::integral_constant<int, 1>{});
      break;
    case 2:
      f(std::integral_constant<int, 2>{});
      break;
    case 3:
      f(std::integral_constant<int, 3>{});
      break;
    case 4:
      f(std::integral_constant<int, 4>{});
      break;
    default:
      throw ArgumentError("Unsupported channel count.");
  }
}

}  // namespace

Orientation Orientation::FromYawPitchRoll(double yawDegrees, double pitchDegrees,
                                          double rollDegrees) {
  const double y = yawDegrees * kPi / 180, p = pitchDegrees * kPi / 180,
               r = rollDegrees * kPi / 180;
  Orientation yaw, pitch, roll;
  // Yaw turns forward (+z) toward the right (+x) about the up axis.
  yaw.m = {{{std::cos(y), 0, std::sin(y)}, {0, 1, 0}, {-std::sin(y), 0, std::cos(y)}}};
  // Pitch turns forward toward up (+y) about the camera's right axis.
  pitch.m = {{{1, 0, 0}, {0, std::cos(p), std::sin(p)}, {0, -std::sin(p), std::cos(p)}}};
  // Roll turns the camera clockwise: its up axis toward its right.
  roll.m = {{{std::cos(r), std::sin(r), 0}, {-std::sin(r), std::cos(r), 0}, {0, 0, 1}}};
  return Then(Then(yaw, pitch), roll);
}

Orientation Orientation::Then(const Orientation& first, const Orientation& second) {
  Orientation out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      double s = 0;
      for (int k = 0; k < 3; ++k) s += first.m[i][k] * second.m[k][j];
      out.m[i][j] = s;
    }
  }
  return out;
}

Orientation Orientation::Inverse() const {
  Orientation out;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) out.m[i][j] = m[j][i];
  }
  return out;
}

bool Orientation::IsIdentity() const {
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      if (m[i][j] != (i == j ? 1.0 : 0.0)) return false;
    }
  }
  return true;
}

template <typename T>
void ResampleFacesFromPanorama(const RasterView<const T>& panorama,
                               const std::vector<CubeFaceIndex>& faceIndices, int faceWidth,
                               int faceHeight, const FaceBands<T>& outputs, const Orientation& view,
                               ResampleFilter filter, const Workers& workers,
                               const CancelToken* cancel, RowGate* decoded) {
  for (const int f : faceIndices) {
    if (f < 0 || f > 5) throw ArgumentError("Invalid face index.");
  }
  if (panorama.width < 1 || panorama.height < 1 || faceWidth < 1 || faceHeight < 1) return;
  WithChannels(panorama.channels, [&](auto c) {
    WithTaps(filter, [&](auto taps) {
      FacesFromPanorama<T, decltype(c)::value, decltype(taps)::value>(
          panorama, faceIndices, faceWidth, faceHeight, outputs, view, filter, workers, cancel,
          decoded);
    });
  });
}

template <typename T>
void ResampleFaceFromPanorama(const RasterView<const T>& panorama, CubeFaceIndex faceIndex,
                              const RasterView<T>& face, const Orientation& view,
                              ResampleFilter filter, const Workers& workers,
                              const CancelToken* cancel) {
  if (panorama.channels != face.channels) throw ArgumentError("Channel counts differ.");
  ResampleFacesFromPanorama<T>(
      panorama, {faceIndex}, face.width, face.height,
      FaceBands<T>{0, [&face](int, int, int) { return face; }, {}, {}, {}, 0}, view, filter,
      workers, cancel);
}

namespace {

// Faces to resample a panorama from: none empty, all with `channels`.
template <typename T>
void CheckFaces(const std::array<RasterView<const T>, 6>& faces, int channels) {
  for (const RasterView<const T>& f : faces) {
    if (f.channels != channels) throw ArgumentError("Channel counts differ.");
    if (f.width < 1 || f.height < 1) throw ArgumentError("Empty face.");
  }
}

}  // namespace

template <typename T>
void ResamplePanoramaBands(const std::array<RasterView<const T>, 6>& faces, int panoramaWidth,
                           int panoramaHeight, int bandRows, const BandTarget<T>& target,
                           const BandDone& done, const Orientation& view, ResampleFilter filter,
                           const Workers& workers, const CancelToken* cancel) {
  if (bandRows < 1) throw ArgumentError("Invalid band height.");
  CheckFaces(faces, faces[0].channels);
  if (panoramaHeight < 1 || panoramaWidth < 1) return;
  WithChannels(faces[0].channels, [&](auto c) {
    WithTaps(filter, [&](auto taps) {
      PanoramaFromFaces<T, decltype(c)::value, decltype(taps)::value>(
          faces, panoramaWidth, panoramaHeight, 0, panoramaHeight, bandRows, target, done, view,
          filter, workers, cancel);
    });
  });
}

template <typename T>
void ResamplePanoramaFromFaces(const std::array<RasterView<const T>, 6>& faces, int panoramaWidth,
                               int panoramaHeight, int firstRow, const RasterView<T>& band,
                               const Orientation& view, ResampleFilter filter,
                               const Workers& workers, const CancelToken* cancel) {
  if (band.width != panoramaWidth || firstRow < 0 || firstRow + band.height > panoramaHeight) {
    throw ArgumentError("The band is not part of the panorama.");
  }
  CheckFaces(faces, band.channels);
  if (band.height < 1 || panoramaWidth < 1) return;
  WithChannels(band.channels, [&](auto c) {
    WithTaps(filter, [&](auto taps) {
      PanoramaFromFaces<T, decltype(c)::value, decltype(taps)::value>(
          faces, panoramaWidth, panoramaHeight, firstRow, firstRow + band.height, band.height,
          [&band](int, int) { return band; }, {}, view, filter, workers, cancel);
    });
  });
}

#define SKYFOLD_RESAMPLER_TYPE(T)                                                                  \
  template void ResampleFacesFromPanorama<T>(                                                      \
      const RasterView<const T>&, const std::vector<CubeFaceIndex>&, int, int,                     \
      const FaceBands<T>&, const Orientation&, ResampleFilter, const Workers&, const CancelToken*, \
      RowGate*);                                                                                   \
  template void ResampleFaceFromPanorama<T>(const RasterView<const T>&, CubeFaceIndex,             \
                                            const RasterView<T>&, const Orientation&,              \
                                            ResampleFilter, const Workers&, const CancelToken*);   \
  template void ResamplePanoramaFromFaces<T>(const std::array<RasterView<const T>, 6>&, int, int,  \
                                             int, const RasterView<T>&, const Orientation&,        \
                                             ResampleFilter, const Workers&, const CancelToken*);  \
  template void ResamplePanoramaBands<T>(                                                          \
      const std::array<RasterView<const T>, 6>&, int, int, int, const BandTarget<T>&,              \
      const BandDone&, const Orientation&, ResampleFilter, const Workers&, const CancelToken*);
SKYFOLD_RESAMPLER_TYPE(std::uint8_t)
SKYFOLD_RESAMPLER_TYPE(std::uint16_t)
SKYFOLD_RESAMPLER_TYPE(float)
#undef SKYFOLD_RESAMPLER_TYPE

int AutoFaceEdge(int panoramaWidth) {
  const int edge = 8 * static_cast<int>(std::floor(panoramaWidth / kPi / 8));
  return std::clamp(edge, 8, 16384);
}

int AutoPanoramaWidth(int faceEdge) {
  const int width = 8 * static_cast<int>(std::ceil(kPi * faceEdge / 8));
  return std::clamp(width, 64, 65496);
}

bool UsesGeneralResampler(const ResampleOptions& options) {
  return options.yaw != 0 || options.pitch != 0 || options.roll != 0 ||
         options.filter != ResampleFilter::Design || options.faceEdge != 0 ||
         options.panoramaWidth != 0 || options.autoSize;
}

}  // namespace skyfold
