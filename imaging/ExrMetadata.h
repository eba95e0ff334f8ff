// Metadata as an EXR header holds it, both ways: the ICC profile as a
// "bytes" attribute `iccProfile` (the layout OpenEXR 3.4 reads as bytes;
// older readers keep it opaque), the XMP packet as the string `xmp`, the
// camera's date, copyright and position as the standard capDate, owner,
// latitude, longitude and altitude, and a full panorama as the standard
// latitude-longitude environment map.
#pragma once

#include <ImfHeader.h>

#include <string>

#include "imaging/ImageMetadata.h"

namespace skyfold {

void PutExrMetadata(Imf::Header& header, const ImageMetadata& metadata);

// What an EXR file's header carries; false when fileName is no EXR file.
bool GetExrMetadata(const std::string& fileName, ImageMetadata& metadata);

}  // namespace skyfold
