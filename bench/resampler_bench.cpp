// The general resampler alone, one thread, a face at a time: 8192 × 4096
// into a 2048 side face and the top face, and a panorama band from six 2048
// faces, for each filter. Side and polar faces differ: the polar ones average
// over halved panoramas.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <vector>

#include "filers/SphereResampler.h"

namespace skyfold {
namespace {

std::vector<std::uint8_t> Patterned(int width, int height) {
  std::vector<std::uint8_t> b(static_cast<std::size_t>(width) * height * 3);
  std::uint8_t* p = b.data();
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = static_cast<std::uint8_t>(x * 7 + y);
      p[1] = static_cast<std::uint8_t>(x ^ y);
      p[2] = static_cast<std::uint8_t>(y * 3);
    }
  }
  return b;
}

template <typename T>
RasterView<T> View(T* data, int width, int height) {
  return {data, width, height, 3, static_cast<std::ptrdiff_t>(width) * 3};
}

// Args: face index, filter.
void BM_FaceFromPanorama(benchmark::State& state) {
  const std::vector<std::uint8_t> pano = Patterned(8192, 4096);
  std::vector<std::uint8_t> face(2048u * 2048u * 3u);
  const auto filter = static_cast<ResampleFilter>(state.range(1));
  for (auto _ : state) {
    ResampleFaceFromPanorama<std::uint8_t>(
        View(pano.data(), 8192, 4096), static_cast<int>(state.range(0)),
        View(face.data(), 2048, 2048), {}, filter, Workers(), nullptr);
    benchmark::DoNotOptimize(face.data());
  }
  state.SetItemsProcessed(state.iterations() * 2048 * 2048);
}

// Args: first row of a 256-row band (0: the pole, 1024: the equator), filter.
void BM_PanoramaFromFaces(benchmark::State& state) {
  const std::vector<std::uint8_t> data = Patterned(2048, 2048 * 6);
  std::array<RasterView<const std::uint8_t>, 6> faces;
  for (int i = 0; i < 6; ++i) {
    faces[static_cast<std::size_t>(i)] = View<const std::uint8_t>(
        data.data() + static_cast<std::size_t>(i) * 2048 * 2048 * 3, 2048, 2048);
  }
  std::vector<std::uint8_t> band(8192u * 256u * 3u);
  const auto filter = static_cast<ResampleFilter>(state.range(1));
  for (auto _ : state) {
    ResamplePanoramaFromFaces<std::uint8_t>(faces, 8192, 4096, static_cast<int>(state.range(0)),
                                            View(band.data(), 8192, 256), {}, filter, Workers(),
                                            nullptr);
    benchmark::DoNotOptimize(band.data());
  }
  state.SetItemsProcessed(state.iterations() * 8192 * 256);
}

constexpr auto kBilinear = static_cast<std::int64_t>(ResampleFilter::Bilinear);
constexpr auto kBicubic = static_cast<std::int64_t>(ResampleFilter::Bicubic);
constexpr auto kLanczos3 = static_cast<std::int64_t>(ResampleFilter::Lanczos3);

BENCHMARK(BM_FaceFromPanorama)
    ->ArgsProduct({{1, 4}, {0, kBilinear, kBicubic, kLanczos3}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PanoramaFromFaces)
    ->ArgsProduct({{0, 1024}, {kBilinear, kBicubic, kLanczos3}})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace skyfold
