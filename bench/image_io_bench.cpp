// Image file speed: loading a full-size 8192 × 4096 panorama JPEG, and
// writing the six 2048 × 2048 faces of a conversion as JPEG (quality 100),
// BMP and TIFF. The panorama is photo-like (gradients, texture, noise) so the
// entropy coder sees realistic data; it is written to /tmp once per process.
// Compare with the stock tools on the same file:
//   djpeg -bmp /tmp/skyfold_bench_pano_8192.jpg > /dev/null
//   cjpeg -quality 100 face.ppm > /dev/null
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/Bitmap.h"
#include "imaging/Bmp2Tiff.h"
#include "imaging/BmpIO.h"
#include "imaging/JpegIO.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {
namespace {

constexpr int kPanoWidth = 8192;
constexpr int kFaceEdge = 2048;

Bitmap DrawPhotoLike(int width, int height) {
  Bitmap b(width, height, PixelFormat::Bgr24);
  std::vector<double> waveX(static_cast<std::size_t>(width));
  std::vector<double> waveY(static_cast<std::size_t>(height));
  for (int x = 0; x < width; ++x) waveX[x] = std::sin(x * 0.031) + 0.5 * std::sin(x * 0.173);
  for (int y = 0; y < height; ++y) waveY[y] = std::cos(y * 0.027) + 0.5 * std::sin(y * 0.211);
  std::uint32_t seed = 12345;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* p = b.row(y);
    const double sky = static_cast<double>(y) / height;
    for (int x = 0; x < width; ++x, p += 3) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = static_cast<int>(seed >> 28) - 8;
      const double texture = 18.0 * waveX[x] * waveY[y];
      const double base = 60.0 + 120.0 * sky + 30.0 * std::sin(x * 6.2832 / width);
      auto clamp = [](double v) {
        return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
      };
      p[0] = clamp(base * 1.1 - texture + noise);
      p[1] = clamp(base + texture * 0.7 + noise);
      p[2] = clamp(base * 0.8 + texture + noise);
    }
  }
  return b;
}

const Bitmap& Panorama() {
  static const Bitmap pano = DrawPhotoLike(kPanoWidth, kPanoWidth / 2);
  return pano;
}

const std::string& PanoramaJpeg() {
  static const std::string file = [] {
    const std::string name = "/tmp/skyfold_bench_pano_8192.jpg";
    SaveBitmapAsJpeg(name, Panorama(), 100);
    return name;
  }();
  return file;
}

const std::vector<Bitmap>& Faces() {
  static const std::vector<Bitmap> faces = [] {
    std::vector<Bitmap> list;
    const Bitmap& pano = Panorama();
    for (int f = 0; f < 6; ++f) {
      Bitmap face(kFaceEdge, kFaceEdge, PixelFormat::Bgr24);
      const int left = (f % 4) * kFaceEdge;
      for (int y = 0; y < kFaceEdge; ++y) {
        const std::uint8_t* src = pano.row(y) + static_cast<std::size_t>(left) * 3;
        std::copy(src, src + face.rowBytes(), face.row(y));
      }
      list.push_back(std::move(face));
    }
    return list;
  }();
  return faces;
}

std::string OutputFolder() {
  const std::string folder = "/tmp/skyfold_bench_io";
  std::filesystem::create_directories(folder);
  return folder;
}

void BM_LoadJpegPanorama(benchmark::State& state) {
  const std::string& file = PanoramaJpeg();
  for (auto _ : state) {
    Bitmap b;
    LoadImageFile(b, file);
    benchmark::DoNotOptimize(b.data());
  }
  state.SetBytesProcessed(state.iterations() * std::int64_t{kPanoWidth} * (kPanoWidth / 2) * 3);
}
BENCHMARK(BM_LoadJpegPanorama)->Unit(benchmark::kMillisecond)->UseRealTime();

template <void (*Save)(const std::string&, const Bitmap&)>
void WriteSixFaces(benchmark::State& state, const char* extension) {
  const auto& faces = Faces();
  const std::string folder = OutputFolder();
  for (auto _ : state) {
    for (int f = 0; f < 6; ++f) {
      Save(folder + "/face_" + std::to_string(f) + extension, faces[f]);
    }
  }
  state.SetBytesProcessed(state.iterations() * 6 * std::int64_t{kFaceEdge} * kFaceEdge * 3);
}

void SaveJpeg100(const std::string& name, const Bitmap& b) { SaveBitmapAsJpeg(name, b, 100); }
void SaveBmp(const std::string& name, const Bitmap& b) { SaveBitmapAsBmp(name, b); }
void SaveTiff(const std::string& name, const Bitmap& b) { SaveBitmapAsTiff(name, b); }

void BM_WriteSixFacesJpeg(benchmark::State& state) { WriteSixFaces<SaveJpeg100>(state, ".jpg"); }
void BM_WriteSixFacesBmp(benchmark::State& state) { WriteSixFaces<SaveBmp>(state, ".bmp"); }
void BM_WriteSixFacesTiff(benchmark::State& state) { WriteSixFaces<SaveTiff>(state, ".tif"); }
BENCHMARK(BM_WriteSixFacesJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteSixFacesBmp)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WriteSixFacesTiff)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace skyfold
