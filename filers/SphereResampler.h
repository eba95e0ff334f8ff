// The general resampler: every output pixel is mapped straight to the
// source (a face pixel to its direction, turned by the view's orientation,
// to a panorama position; for a panorama the reverse, sampling the six faces
// and, across a face edge, the neighbouring face). Any face edge, any
// panorama size, a turned view, and filters that average over the source
// area a coarser output pixel covers. It stands beside the classic table
// warp, which stays the default.
//
// Geometry. A direction is (x right, y up, z forward) with the classic
// front face looking along +z. Panorama column x stands for the azimuth
// 360° · (x + 0.5) / W − 180° (0 at the front, +90° at the right face) and
// row y for the polar angle 180° · (y + 0.5) / H from the zenith: pixel
// centres, so any size maps evenly. Face pixel (c, r) of an edge E stands for
// u = 2 (c + 0.5) / E − 1, v = 2 (r + 0.5) / E − 1 on the face plane, in the
// classic face orientations (sides: the panorama's left to right and the
// zenith up; top: front along its bottom edge; bottom: front along its top).
//
// Samples are 8-bit, 16-bit or float, 1 to 4 channels, interpolated in
// float; integer results are rounded and clipped, float results are not.
// The result of a pixel depends on nothing but its position, so it is the
// same for any thread count and any tiling.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "filers/JobOptions.h"
#include "imaging/Cancel.h"
#include "imaging/Parallel.h"
#include "imaging/RowGate.h"

namespace skyfold {

// A raster in memory: `stride` is the distance between row starts in
// samples of T (not bytes); pixel (x, y) channel k is
// data[y * stride + x * channels + k].
template <typename T>
struct RasterView {
  T* data = nullptr;
  int width = 0;
  int height = 0;
  int channels = 3;
  std::ptrdiff_t stride = 0;

  T* row(int y) const { return data + static_cast<std::ptrdiff_t>(y) * stride; }
  // A writable view reads as a read-only one.
  operator RasterView<const T>() const { return {data, width, height, channels, stride}; }
};

// Camera to world: the view turned by yaw (to the right), then pitch (up),
// then roll (the camera clockwise), each about the already turned camera.
// With yaw 90 the front face shows the classic right face, with pitch 90
// its top face (in the top face's orientation), with roll 90 its front face
// turned a quarter counter-clockwise.
struct Orientation {
  std::array<std::array<double, 3>, 3> m{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};

  static Orientation FromYawPitchRoll(double yawDegrees, double pitchDegrees, double rollDegrees);
  // First `first`, then `second` about the camera `first` turned.
  static Orientation Then(const Orientation& first, const Orientation& second);
  Orientation Inverse() const;
  bool IsIdentity() const;
};

// The face index of the classic conversion (0 left, 1 front, 2 right, 3 back, 4 top,
// 5 bottom).
using CubeFaceIndex = int;

// Fills `face` (any size) with cube face `faceIndex` of the view turned by
// `view`, sampled from the equirectangular `panorama` (any size; longitudes
// wrap around, rows continue across the poles). Rows are split over
// `workers` in tiles; `cancel` is checked between tiles.
template <typename T>
void ResampleFaceFromPanorama(const RasterView<const T>& panorama, CubeFaceIndex faceIndex,
                              const RasterView<T>& face, const Orientation& view,
                              ResampleFilter filter, const Workers& workers,
                              const CancelToken* cancel);

// Several faces of one panorama, each faceWidth × faceHeight, band by band:
// band(i, firstRow, rows) gives the raster (faceWidth × rows) rows
// [firstRow, firstRow + rows) of face i go to, filled(i, firstRow, rows)
// (if set) runs once that band is filled, and done(i) (if set) once face i
// and every face before it in faceIndices are made, in their order; all on
// the calling thread. Bands are bandRows tall, a face's in order; those of
// different faces are merged in the order of the panorama rows they read,
// and passed(rows) (if set) says that no later band reads panorama rows
// [0, rows): the caller may let their memory go. With bandRows 0 each face
// is one band, made in the order of faceIndices. Cheaper than face by face:
// what the filters prepare from the panorama is made once. With `decoded`,
// the panorama is still being decoded: each tile waits for the rows it
// reads, and the face that reads the fewest rows is begun first, as the
// decoder starts, as one band.
template <typename T>
struct FaceBands {
  int bandRows = 0;
  std::function<RasterView<T>(CubeFaceIndex faceIndex, int firstRow, int rows)> band;
  std::function<void(CubeFaceIndex faceIndex, int firstRow, int rows)> filled;
  std::function<void(CubeFaceIndex faceIndex)> done;
  std::function<void(int rows)> passed;
  // With `decoded`: while the decoder is more than leadRows rows ahead of
  // the rows passed, it makes tiles whose rows it has decoded on its own
  // thread, between its batches of rows (0: never).
  int leadRows = 0;
};
template <typename T>
void ResampleFacesFromPanorama(const RasterView<const T>& panorama,
                               const std::vector<CubeFaceIndex>& faceIndices, int faceWidth,
                               int faceHeight, const FaceBands<T>& outputs, const Orientation& view,
                               ResampleFilter filter, const Workers& workers,
                               const CancelToken* cancel, RowGate* decoded = nullptr);

// Fills rows [firstRow, firstRow + band.height) of a panoramaWidth ×
// panoramaHeight equirectangular panorama into `band` (band.width ==
// panoramaWidth), sampled from the six faces of a view turned by `view`
// (faces[i] is face index i; each may have its own size). The same `view`
// as the faces were made with gives back the panorama they came from.
template <typename T>
void ResamplePanoramaFromFaces(const std::array<RasterView<const T>, 6>& faces, int panoramaWidth,
                               int panoramaHeight, int firstRow, const RasterView<T>& band,
                               const Orientation& view, ResampleFilter filter,
                               const Workers& workers, const CancelToken* cancel);

// A whole panorama, band by band: target(firstRow, rows) gives the raster
// (panoramaWidth × rows) band rows [firstRow, firstRow + rows) go to, and
// done(firstRow) (if set) runs once it is filled, on the calling thread,
// before the next band is started. What the filters prepare from the faces
// is made once for all bands.
template <typename T>
using BandTarget = std::function<RasterView<T>(int firstRow, int rows)>;
using BandDone = std::function<void(int firstRow)>;
template <typename T>
void ResamplePanoramaBands(const std::array<RasterView<const T>, 6>& faces, int panoramaWidth,
                           int panoramaHeight, int bandRows, const BandTarget<T>& target,
                           const BandDone& done, const Orientation& view, ResampleFilter filter,
                           const Workers& workers, const CancelToken* cancel);

// The face edge that keeps a panorama's detail at the face centre:
// 8 · ⌊W / π / 8⌋, at least 8 and at most 16384.
int AutoFaceEdge(int panoramaWidth);
// The panorama width that keeps the faces' detail: 8 · ⌈π E / 8⌉, within 64
// … 65496.
int AutoPanoramaWidth(int faceEdge);

// True when a job's options ask for the general resampler instead of the
// classic warp.
bool UsesGeneralResampler(const ResampleOptions& options);

}  // namespace skyfold
