// Raster operations at face size: quarter and half turns of a 4096 face,
// transparent drawing of a polar piece, the 2048 → 4096 point stretch and a
// whole-face rectangle copy. Thread counts 1 and 2 where the operation
// splits rows across threads.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "imaging/Parallel.h"
#include "imaging/Raster.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {
namespace {

// A picture with a white triangle, like a polar piece on its white ground.
Bitmap Picture(int width, int height) {
  Bitmap b(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < width; ++x, p += 3) {
      if (x > y && x < width - y) continue;  // stays white
      p[0] = static_cast<std::uint8_t>(x * 7 + y);
      p[1] = static_cast<std::uint8_t>(x ^ y);
      p[2] = static_cast<std::uint8_t>(y * 3);
    }
  }
  return b;
}

void BM_RotateBitmap90(benchmark::State& state) {
  ThreadPool pool(static_cast<int>(state.range(0)));
  Bitmap face = Picture(4096, 4096);
  for (auto _ : state) {
    RotateBitmap90(face, rdClockwise, pool.workers());
    benchmark::DoNotOptimize(face.data());
  }
}
BENCHMARK(BM_RotateBitmap90)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RotateBitmap180(benchmark::State& state) {
  ThreadPool pool(static_cast<int>(state.range(0)));
  Bitmap face = Picture(4096, 4096);
  for (auto _ : state) {
    RotateBitmap180(face, pool.workers());
    benchmark::DoNotOptimize(face.data());
  }
}
BENCHMARK(BM_RotateBitmap180)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DrawTransparent(benchmark::State& state) {
  const Bitmap piece = Picture(2048, 1024);
  Bitmap face(2048, 2048);
  for (auto _ : state) {
    DrawTransparent(face, 0, 1024, piece);
    benchmark::DoNotOptimize(face.data());
  }
}
BENCHMARK(BM_DrawTransparent)->Unit(benchmark::kMillisecond);

void BM_StretchDrawDouble(benchmark::State& state) {
  const Bitmap face = Picture(2048, 2048);
  Bitmap out(4096, 4096);
  for (auto _ : state) {
    StretchDraw(out, Rect{0, 0, 4096, 4096}, face);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_StretchDrawDouble)->Unit(benchmark::kMillisecond);

void BM_CopyRectFace(benchmark::State& state) {
  const Bitmap pano = Picture(8192, 4096);
  Bitmap face(2048, 2048, PixelFormat::Bgr24, Uninitialised{});
  for (auto _ : state) {
    CopyRect(face, 0, 0, pano, 1024, 1024, 2048, 2048);
    benchmark::DoNotOptimize(face.data());
  }
}
BENCHMARK(BM_CopyRectFace)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace skyfold
