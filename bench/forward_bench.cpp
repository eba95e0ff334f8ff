// The forward conversion's stages at full size (8192 × 4096): the mapping
// table (as runs store it: one mirrored quadrant), one strip's resampling, the whole warp, the
// polar face assembly (and its pieces drawn a few rows at a time) and the face cutting (faces kept
// in memory, so disk speed does not blur the figure). Thread counts 1 and 2: the stages should
// scale with cores.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "filers/PolarPieces.h"
#include "filers/SimFilers.h"
#include "imaging/Parallel.h"
#include "support/ScopedRun.h"

namespace skyfold {
namespace {

constexpr int kWidth = 8192;
constexpr int kQ = kWidth / 8;

Bitmap Patterned(int width, int height) {
  Bitmap b(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = static_cast<std::uint8_t>(x * 7 + y);
      p[1] = static_cast<std::uint8_t>(x ^ y);
      p[2] = static_cast<std::uint8_t>(y * 3);
    }
  }
  return b;
}

Bitmap Panorama(int width) { return Patterned(width, width / 2); }

// The benchmark's filer works on a run of the benchmark's thread count.
using BenchRun = test::ScopedRun;

void BM_BuildMappingTable(benchmark::State& state) {
  TSimFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(0)));
  TmxCurrencyUV table;
  table.SetSizeMirrored(2 * kQ, 4 * kQ);
  for (auto _ : state) {
    filer.BuildMappingTable(kQ, table);
    benchmark::DoNotOptimize(table.Row(0));
  }
}
BENCHMARK(BM_BuildMappingTable)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ResampleStrip(benchmark::State& state) {
  TSimFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(0)));
  TmxCurrencyUV table;
  table.SetSizeMirrored(2 * kQ, 4 * kQ);
  filer.BuildMappingTable(kQ, table);
  const Bitmap source = Patterned(2 * kQ, 4 * kQ);
  Bitmap dest(2 * kQ, 4 * kQ);
  for (auto _ : state) {
    filer.ResampleStrip(dest, source, table);
    benchmark::DoNotOptimize(dest.data());
  }
  state.SetItemsProcessed(state.iterations() * 2 * kQ * 4 * kQ);
}
BENCHMARK(BM_ResampleStrip)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WarpImage(benchmark::State& state) {
  TSimFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(0)));
  const Bitmap original = Panorama(kWidth);
  for (auto _ : state) {
    state.PauseTiming();
    Bitmap pano = original.clone();
    state.ResumeTiming();
    filer.WarpImage(pano);
    benchmark::DoNotOptimize(pano.data());
  }
}
BENCHMARK(BM_WarpImage)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_AssemblePoleFace(benchmark::State& state) {
  TSimFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(0)));
  // The top band of a warped panorama: four triangles on white.
  Bitmap pano = Panorama(kWidth);
  filer.WarpImage(pano);
  Bitmap strip(kWidth, kQ);
  std::copy_n(pano.data(), strip.byteSize(), strip.data());
  for (auto _ : state) {
    Bitmap face(2 * kQ, 2 * kQ);
    filer.AssemblePoleFace(face, strip, static_cast<int>(state.range(1)));
    benchmark::DoNotOptimize(face.data());
  }
}
BENCHMARK(BM_AssemblePoleFace)
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The polar pieces drawn turned onto a face, as the faces of a streamed
// source are made: 64 band rows at a time on one thread.
void BM_DrawPolarPieces(benchmark::State& state) {
  TSimFiler filer;
  const BenchRun run(filer, 1);
  Bitmap pano = Panorama(kWidth);
  filer.WarpImage(pano);
  const int which = static_cast<int>(state.range(0));
  const PolarBand band = PolarBandOf(pano, which);
  Bitmap face(2 * kQ, 2 * kQ);
  for (auto _ : state) {
    for (int r = 0; r < kQ; r += 64) {
      for (int p = 0; p < 4; ++p) DrawPieceTurned(face, band, p, which, Workers(), r, r + 64);
    }
    benchmark::DoNotOptimize(face.data());
  }
}
BENCHMARK(BM_DrawPolarPieces)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

class FaceKeepingFiler : public TSimFiler {
 public:
  void SaveImage(Bitmap& bitmap, const std::string&, std::uint8_t faceIndex) override {
    benchmark::DoNotOptimize(bitmap.row(0)[faceIndex]);
  }
};

void BM_SaveCubeFacesCutting(benchmark::State& state) {
  FaceKeepingFiler filer;
  const BenchRun run(filer, static_cast<int>(state.range(1)));
  filer.SetTextureBasename("bench");
  filer.BuildFileNames();
  filer.OutputSize = static_cast<int>(state.range(0));
  Bitmap pano = Panorama(kWidth);
  for (auto _ : state) filer.SaveCubeFaces(pano);
}
BENCHMARK(BM_SaveCubeFacesCutting)
    ->Args({2048, 1})
    ->Args({2048, 2})
    ->Args({4096, 1})
    ->Args({4096, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace skyfold
