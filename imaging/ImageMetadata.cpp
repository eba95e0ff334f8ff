#include "imaging/ImageMetadata.h"

#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <exiv2/exiv2.hpp>
#include <memory>
#include <mutex>
#include <string_view>

#include "imaging/ExrMetadata.h"
#include "imaging/OutputFile.h"

namespace skyfold {

namespace {

// exiv2's XMP toolkit wants one initialisation before any thread uses it,
// and a lock to be used from several (faces are saved on the run's workers).
void LockXmp(void* data, bool lock) {
  auto* mutex = static_cast<std::mutex*>(data);
  if (lock) {
    mutex->lock();
  } else {
    mutex->unlock();
  }
}

void InitialiseXmp() {
  static std::once_flag once;
  static std::mutex xmpMutex;
  std::call_once(once, [] {
    Exiv2::XmpParser::initialize(LockXmp, &xmpMutex);
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
  });
}

bool KeepExif(const Exiv2::Exifdatum& datum) {
  const std::string group = datum.groupName();
  if (group != "Image" && group != "Photo" && group != "GPSInfo" && group != "Iop") return false;
  static constexpr std::string_view kLying[] = {
      "ImageWidth",
      "ImageLength",
      "PixelXDimension",
      "PixelYDimension",
      "Orientation",
      "StripOffsets",
      "StripByteCounts",
      "RowsPerStrip",
      "Compression",
      "BitsPerSample",
      "SamplesPerPixel",
      "PhotometricInterpretation",
      "PlanarConfiguration",
      "MakerNote",
      "JPEGInterchangeFormat",
      "JPEGInterchangeFormatLength",
      "InterColorProfile",
      "XMLPacket",
      "ExifTag",
      "GPSTag",
      "InteroperabilityTag",
      "TileOffsets",
      "TileByteCounts",
      "TileWidth",
      "TileLength",
      "SampleFormat",
      "ExtraSamples",
      "SubIFDs",
  };
  const std::string name = datum.tagName();
  return std::find(std::begin(kLying), std::end(kLying), name) == std::end(kLying);
}

bool KeepXmp(const Exiv2::Xmpdatum& datum) {
  const std::string key = datum.key();
  static constexpr std::string_view kLying[] = {
      "Xmp.tiff.ImageWidth",      "Xmp.tiff.ImageLength", "Xmp.exif.PixelXDimension",
      "Xmp.exif.PixelYDimension", "Xmp.tiff.Orientation",
  };
  if (key.rfind("Xmp.GPano.", 0) == 0 || key.rfind("Xmp.xmp.Thumbnails", 0) == 0) return false;
  return std::find(std::begin(kLying), std::end(kLying), key) == std::end(kLying);
}

std::vector<std::uint8_t> ToVector(const Exiv2::DataBuf& buf) {
  if (buf.pData_ == nullptr || buf.size_ <= 0) return {};
  return std::vector<std::uint8_t>(buf.pData_, buf.pData_ + buf.size_);
}

bool IsWebp(const std::vector<std::uint8_t>& bytes) {
  return bytes.size() >= 12 && std::equal(bytes.begin(), bytes.begin() + 4, "RIFF") &&
         std::equal(bytes.begin() + 8, bytes.begin() + 12, "WEBP");
}

// exiv2 0.27 drops the profile of a WebP it rewrites; libwebpmux writes the
// ICCP, EXIF and XMP chunks (and the extended header they need) itself.
std::vector<std::uint8_t> EmbedInWebp(std::vector<std::uint8_t> bytes,
                                      const ImageMetadata& metadata) {
  const WebPData image{bytes.data(), bytes.size()};
  std::unique_ptr<WebPMux, void (*)(WebPMux*)> mux(WebPMuxCreate(&image, 1), WebPMuxDelete);
  if (!mux) return bytes;
  const auto set = [&](const char* fourcc, const std::uint8_t* data, std::size_t size) {
    if (size == 0) return true;
    const WebPData chunk{data, size};
    return WebPMuxSetChunk(mux.get(), fourcc, &chunk, 1) == WEBP_MUX_OK;
  };
  const auto* xmp = reinterpret_cast<const std::uint8_t*>(metadata.xmp.data());
  // A WebP's EXIF chunk holds the TIFF structure without the "Exif\0\0".
  if (!set("ICCP", metadata.icc.data(), metadata.icc.size()) ||
      !set("EXIF", metadata.exif.data(), metadata.exif.size()) ||
      !set("XMP ", xmp, metadata.xmp.size())) {
    return bytes;
  }
  WebPData out{nullptr, 0};
  if (WebPMuxAssemble(mux.get(), &out) != WEBP_MUX_OK) return bytes;
  std::vector<std::uint8_t> result(out.bytes, out.bytes + out.size);
  WebPDataClear(&out);
  return result;
}

// The packet without the tags that would lie.
std::string ResultXmp(const Exiv2::XmpData& all) {
  Exiv2::XmpData xmp;
  for (const Exiv2::Xmpdatum& datum : all) {
    if (KeepXmp(datum)) xmp.add(datum);
  }
  std::string packet;
  if (!xmp.empty()) Exiv2::XmpParser::encode(packet, xmp);
  return packet;
}

}  // namespace

ImageMetadata ReadResultMetadata(const std::string& fileName) {
  ImageMetadata metadata;
  try {
    InitialiseXmp();
    // exiv2 does not read EXR; its header holds what it carries.
    if (GetExrMetadata(fileName, metadata)) {
      metadata.equirectangular = false;
      Exiv2::XmpData xmp;
      if (!metadata.xmp.empty()) Exiv2::XmpParser::decode(xmp, metadata.xmp);
      metadata.xmp = ResultXmp(xmp);
      return metadata;
    }
    auto image = Exiv2::ImageFactory::open(fileName, false);
    if (image.get() == nullptr) return metadata;
    image->readMetadata();
    if (image->iccProfileDefined()) metadata.icc = ToVector(*image->iccProfile());
    Exiv2::ExifData exif;
    for (const Exiv2::Exifdatum& datum : image->exifData()) {
      if (KeepExif(datum)) exif.add(datum);
    }
    if (!exif.empty()) {
      Exiv2::Blob blob;
      Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
      metadata.exif.assign(blob.begin(), blob.end());
    }
    metadata.xmp = ResultXmp(image->xmpData());
  } catch (const std::exception&) {
    return ImageMetadata{};
  }
  return metadata;
}

void AddPanoramaXmp(ImageMetadata& metadata, int width, int height) {
  try {
    InitialiseXmp();
    Exiv2::XmpData xmp;
    if (!metadata.xmp.empty()) Exiv2::XmpParser::decode(xmp, metadata.xmp);
    metadata.equirectangular = true;
    xmp["Xmp.GPano.UsePanoramaViewer"] = "True";
    xmp["Xmp.GPano.ProjectionType"] = "equirectangular";
    xmp["Xmp.GPano.FullPanoWidthPixels"] = std::to_string(width);
    xmp["Xmp.GPano.FullPanoHeightPixels"] = std::to_string(height);
    xmp["Xmp.GPano.CroppedAreaImageWidthPixels"] = std::to_string(width);
    xmp["Xmp.GPano.CroppedAreaImageHeightPixels"] = std::to_string(height);
    xmp["Xmp.GPano.CroppedAreaLeftPixels"] = "0";
    xmp["Xmp.GPano.CroppedAreaTopPixels"] = "0";
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, xmp) == 0) metadata.xmp = packet;
  } catch (const std::exception&) {
  }
}

void AddCaptureTags(ImageMetadata& metadata, const CaptureTags& tags) {
  metadata.exif.clear();
  try {
    Exiv2::ExifData exif;
    if (!tags.date.empty()) exif["Exif.Photo.DateTimeOriginal"] = tags.date;
    if (!tags.copyright.empty()) exif["Exif.Image.Copyright"] = tags.copyright;
    // Degrees, minutes and seconds in hundredths, and the hemisphere.
    const auto angle = [&](const char* key, const char* ref, double value, const char* positive,
                           const char* negative) {
      const double a = std::fabs(value);
      const int degrees = static_cast<int>(a), minutes = static_cast<int>((a - degrees) * 60);
      const auto seconds = static_cast<long>(std::lround(((a - degrees) * 60 - minutes) * 6000));
      auto v = Exiv2::Value::create(Exiv2::unsignedRational);
      v->read(std::to_string(degrees) + "/1 " + std::to_string(minutes) + "/1 " +
              std::to_string(seconds) + "/100");
      exif.add(Exiv2::ExifKey(key), v.get());
      exif[ref] = value < 0 ? negative : positive;
    };
    if (tags.latitude) {
      angle("Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLatitudeRef", *tags.latitude, "N", "S");
    }
    if (tags.longitude) {
      angle("Exif.GPSInfo.GPSLongitude", "Exif.GPSInfo.GPSLongitudeRef", *tags.longitude, "E", "W");
    }
    if (tags.altitude) {
      auto v = Exiv2::Value::create(Exiv2::unsignedRational);
      v->read(std::to_string(std::lround(std::fabs(*tags.altitude) * 100)) + "/100");
      exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSAltitude"), v.get());
      auto below = Exiv2::Value::create(Exiv2::unsignedByte);
      below->read(*tags.altitude < 0 ? "1" : "0");
      exif.add(Exiv2::ExifKey("Exif.GPSInfo.GPSAltitudeRef"), below.get());
    }
    if (exif.empty()) return;
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    metadata.exif.assign(blob.begin(), blob.end());
  } catch (const std::exception&) {
    metadata.exif.clear();
  }
}

CaptureTags ReadCaptureTags(const ImageMetadata& metadata) {
  CaptureTags tags;
  if (metadata.exif.empty()) return tags;
  try {
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, metadata.exif.data(),
                              static_cast<std::uint32_t>(metadata.exif.size()));
    const auto text = [&](const char* key) {
      const auto it = exif.findKey(Exiv2::ExifKey(key));
      return it == exif.end() ? std::string() : it->toString();
    };
    // Degrees, minutes, seconds, negative toward the south or west.
    const auto angle = [&](const char* key, const char* ref,
                           char negative) -> std::optional<double> {
      const auto it = exif.findKey(Exiv2::ExifKey(key));
      if (it == exif.end() || it->count() != 3) return std::nullopt;
      const double degrees = it->toFloat(0) + it->toFloat(1) / 60 + it->toFloat(2) / 3600;
      const std::string r = text(ref);
      return !r.empty() && r[0] == negative ? -degrees : degrees;
    };
    tags.date = text("Exif.Photo.DateTimeOriginal");
    tags.copyright = text("Exif.Image.Copyright");
    if (tags.copyright.empty()) tags.copyright = text("Exif.Image.Artist");
    tags.latitude = angle("Exif.GPSInfo.GPSLatitude", "Exif.GPSInfo.GPSLatitudeRef", 'S');
    tags.longitude = angle("Exif.GPSInfo.GPSLongitude", "Exif.GPSInfo.GPSLongitudeRef", 'W');
    const auto altitude = exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSAltitude"));
    if (altitude != exif.end() && altitude->count() == 1) {
      const auto below = exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSAltitudeRef"));
      const bool under = below != exif.end() && below->toLong() == 1;
      tags.altitude = under ? -altitude->toFloat() : altitude->toFloat();
    }
  } catch (const std::exception&) {
    return CaptureTags{};  // metadata never fails a job
  }
  return tags;
}

void WriteWithMetadata(OutputFile& file, std::vector<std::uint8_t> bytes,
                       const ImageMetadata& metadata) {
  if (metadata.Empty()) {
    file.write(bytes.data(), bytes.size());
    return;
  }
  if (IsWebp(bytes)) {
    const std::vector<std::uint8_t> out = EmbedInWebp(std::move(bytes), metadata);
    file.write(out.data(), out.size());
    return;
  }
  std::unique_ptr<Exiv2::Image> image;
  try {
    InitialiseXmp();
    auto opened = Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size()));
    image.reset(opened.release());
  } catch (const std::exception&) {
  }
  if (!image) {  // a type exiv2 does not write (EXR, Radiance)
    file.write(bytes.data(), bytes.size());
    return;
  }
  // exiv2 reads bytes in place and copies only what it writes; its result
  // goes to the file straight from its memory.
  try {
    image->readMetadata();
    if (!metadata.icc.empty()) {
      Exiv2::DataBuf icc(metadata.icc.data(), static_cast<long>(metadata.icc.size()));
      image->setIccProfile(icc, false);
    }
    if (!metadata.exif.empty()) {
      Exiv2::ExifData exif;
      Exiv2::ExifParser::decode(exif, metadata.exif.data(),
                                static_cast<std::uint32_t>(metadata.exif.size()));
      // The encoder's own layout tags stay; the source's tags come on top.
      for (const Exiv2::Exifdatum& datum : exif) image->exifData()[datum.key()] = datum.value();
    }
    if (!metadata.xmp.empty()) {
      image->setXmpPacket(metadata.xmp);
      image->writeXmpFromPacket(true);
    }
    image->writeMetadata();
  } catch (const std::exception&) {
    // The image's bytes stay as encoded until a write completes.
  }
  Exiv2::BasicIo& io = image->io();
  io.open();
  const Exiv2::byte* data = io.mmap();
  file.write(data, static_cast<std::size_t>(io.size()));
  io.munmap();
  io.close();
}

}  // namespace skyfold
