#include "imaging/ImageProbe.h"

#include <new>

#include "codecs/DecoderRegistry.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/InputFile.h"
#include "imaging/JpegIO.h"
#include "imaging/SimImgUtils.h"

namespace skyfold {

ImageHeader ProbeImageFile(const std::string& fileName) {
  const InputFile file(fileName);
  try {
    switch (GetImageFileKind(fileName)) {
      case ikBitmap:
        return ProbeBmp(file);
      case ikJpeg:
        return ProbeJpeg(file);
      default:
        return ProbeImageByContent(file);
    }
  } catch (const std::bad_alloc&) {
    throw MemoryError(kOutOfMemoryMessage);
  }
}

}  // namespace skyfold
