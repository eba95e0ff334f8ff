// The deep path's geometry at full size: six 2048 faces sampled straight from
// an 8192 × 4096 panorama of 16-bit and of float samples, and the panorama
// back from six 2048 faces; compare with BM_WarpImage and the face cutting
// of the 8-bit path (forward_bench.cpp). Thread counts 1 and 2.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "filers/DeepCube.h"
#include "imaging/Parallel.h"
#include "imaging/PixelConvert.h"

namespace skyfold {
namespace {

constexpr int kWidth = 8192;
constexpr int kFace = 2048;

Bitmap Patterned(int width, int height, PixelFormat format) {
  Bitmap b(width, height, PixelFormat::Bgr24);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = static_cast<std::uint8_t>(x * 7 + y);
      p[1] = static_cast<std::uint8_t>(x ^ y);
      p[2] = static_cast<std::uint8_t>(y * 3);
    }
  }
  return ConvertFormat(b, format);
}

void Faces(benchmark::State& state, PixelFormat format) {
  ThreadPool pool(static_cast<int>(state.range(0)));
  const Workers workers = pool.workers();
  const Bitmap pano = Patterned(kWidth, kWidth / 2, format);
  for (auto _ : state) {
    for (int face = 0; face < 6; ++face) {
      Bitmap out = SampleCubeFace(pano, face, kFace, workers);
      benchmark::DoNotOptimize(out.data());
    }
  }
}

void Panorama(benchmark::State& state, PixelFormat format) {
  ThreadPool pool(static_cast<int>(state.range(0)));
  const Workers workers = pool.workers();
  std::vector<Bitmap> faces;
  std::array<const Bitmap*, 6> pointers{};
  for (int face = 0; face < 6; ++face) faces.push_back(Patterned(kFace, kFace, format));
  for (int face = 0; face < 6; ++face) pointers[face] = &faces[face];
  for (auto _ : state) {
    Bitmap out = SamplePanorama(pointers, kWidth, workers);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_DeepFaces16(benchmark::State& s) { Faces(s, PixelFormat::Rgb48); }
void BM_DeepFacesFloat(benchmark::State& s) { Faces(s, PixelFormat::RgbF96); }
void BM_DeepPanorama16(benchmark::State& s) { Panorama(s, PixelFormat::Rgb48); }
void BM_DeepPanoramaFloat(benchmark::State& s) { Panorama(s, PixelFormat::RgbF96); }
BENCHMARK(BM_DeepFaces16)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeepFacesFloat)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeepPanorama16)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DeepPanoramaFloat)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace skyfold
