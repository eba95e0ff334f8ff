// The steps of a job on the general resampler (filers/SphereResampler.h),
// which the engine runs instead of the classic warp when the job's
// resampling options ask for it: a turned view, a filter, a size the classic conversion
// does not offer.
#pragma once

#include <string>

#include "filers/CubeFiler.h"
#include "filers/PanoFiler.h"
#include "imaging/Bitmap.h"

namespace skyfold {

// Forward: loads the panorama (any size, not stretched), then makes and
// saves each face straight from it. False, after the loader's message,
// when nothing was loaded.
bool ResampleCubeFaces(TCubeFiler& filer, Bitmap& panorama);

// Inverse: loads the six faces named in FileNames (each at its own size),
// makes the panorama straight from them and saves it under fileName. False,
// after one message, when a face is missing or of a kind the loader does
// not read.
bool ResamplePanorama(TPanoFiler& filer, const std::string& fileName,
                      const std::string& savingLine);

}  // namespace skyfold
