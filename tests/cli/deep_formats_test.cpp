// Deep samples, alpha, the new file types and the metadata through whole
// to-cube / to-pano jobs: sources made here with the real libraries, the
// results read back with our deep decoders, exiv2, and Debian's oiiotool and
// exiftool.
#include <ImfInputFile.h>
#include <ImfOpaqueAttribute.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "cli/Jobs.h"
#include "cli/OutputTypes.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/OutputFile.h"
#include "imaging/OutputFormats.h"
#include "imaging/PixelConvert.h"
#include "imaging/SimImgUtils.h"
#include "support/PanoramaTestImages.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

constexpr const char* kFaces[6] = {"_left", "_front", "_right", "_back", "_top", "_bottom"};

void WriteFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

void SaveAs(const char* type, const std::string& name, const Bitmap& bitmap) {
  SaveBitmapAs(*FindOutputFormat(type), name, bitmap, {});
}

Bitmap LoadDeep(const std::string& name) {
  Bitmap b;
  DecodeContext context;
  context.keepDepth = true;
  EXPECT_TRUE(LoadImageFile(b, name, nullptr, context)) << name;
  return b;
}

std::string Ext(const std::string& type) {
  return ExtractImageTypeExt(*ExtractImageTypeFromName(type));
}

struct Job {
  int status;
  std::string err;
};

// Faces c_left … c_bottom in dir.
Job ToCube(const test::TempDir& dir, const std::string& source, const std::string& type, int size,
           bool strip = false, const ResampleOptions& resample = {}) {
  cli::ToCubeOptions options;
  options.resample = resample;
  options.panoramas = {source};
  options.outputDir = dir.path();
  options.baseName = "c";
  options.size = size;
  options.type = *ExtractImageTypeFromName(type);
  options.outputOptions.stripMetadata = strip;
  options.force = true;
  options.quiet = false;
  std::ostringstream out, err;
  return {cli::RunToCube(options, out, err), err.str()};
}

// The panorama of the faces of that type in dir.
Job ToPano(const test::TempDir& dir, const std::string& faceType, const std::string& output,
           const std::string& type, int width, const ResampleOptions& resample = {}) {
  cli::ToPanoOptions options;
  options.resample = resample;
  options.face = dir.file("c_front" + Ext(faceType));
  options.output = output;
  options.width = width;
  options.type = *ExtractImageTypeFromName(type);
  options.force = true;
  std::ostringstream out, err;
  return {cli::RunToPano(options, out, err), err.str()};
}

// R rises along the columns, G down the rows, in 16 bits.
Bitmap Gradient16(int w) {
  Bitmap b(w, w / 2, PixelFormat::Rgb48);
  for (int y = 0; y < w / 2; ++y) {
    auto* p = reinterpret_cast<std::uint16_t*>(b.row(y));
    for (int x = 0; x < w; ++x, p += 3) {
      p[0] = static_cast<std::uint16_t>(x * 65535 / (w - 1));
      p[1] = static_cast<std::uint16_t>(y * 65535 / (w / 2 - 1));
      p[2] = 30000;
    }
  }
  return b;
}

// The general resampler: a turned view and a filter, undone by to-pano.
ResampleOptions Turned() {
  ResampleOptions options;
  options.yaw = 30;
  options.pitch = 20;
  options.filter = ResampleFilter::Bilinear;  // no negative lobes on the shadow
  return options;
}

class DeepRoundTrip : public ::testing::TestWithParam<std::tuple<const char*, bool>> {};

// A 16-bit gradient keeps more than 256 levels through 16-bit or float
// faces and back, and stays close to the source, on the classic geometry
// and through a turned, filtered view.
TEST_P(DeepRoundTrip, A16BitGradientKeepsMoreThan256Levels) {
  test::TempDir dir;
  const int w = 512;
  const Bitmap source = Gradient16(w);
  SaveAs("png", dir.file("pano.png"), source);
  const std::string type = std::get<0>(GetParam());
  const ResampleOptions resample = std::get<1>(GetParam()) ? Turned() : ResampleOptions{};
  ASSERT_EQ(ToCube(dir, dir.file("pano.png"), type, 128, false, resample).status, 0);
  const Job pano = ToPano(dir, type, dir.file("back" + Ext(type)), type, w, resample);
  ASSERT_EQ(pano.status, 0) << pano.err;
  const Bitmap back = LoadDeep(dir.file("back" + Ext(type)));
  ASSERT_EQ(back.width(), w);
  std::set<int> levels;
  double error = 0;
  for (int x = 0; x < w; ++x) {
    const Rgba p = ReadRgba(back, x, w / 4);
    levels.insert(static_cast<int>(std::lround(p.r * 65535)));
    error += std::abs(p.r - ReadRgba(source, x, w / 4).r);
  }
  EXPECT_GT(levels.size(), 256u) << type;
  EXPECT_LT(error / w, 0.004) << type;
}

INSTANTIATE_TEST_SUITE_P(Types, DeepRoundTrip,
                         ::testing::Combine(::testing::Values("png", "tif16", "tiff-float", "exr"),
                                            ::testing::Bool()));

// Deep faces in any preset or single-image layout come back as the same
// panorama as the classic six files: arranging only turns whole pixels.
class DeepArranged : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(DeepArranged, GiveTheSamePanoramaAsTheSixFaces) {
  test::TempDir dir;
  SaveAs("png", dir.file("pano.png"), Gradient16(256));
  ASSERT_EQ(ToCube(dir, dir.file("pano.png"), "png", 64).status, 0);
  ASSERT_EQ(ToPano(dir, "png", dir.file("design.png"), "png", 256).status, 0);

  const auto [preset, layout] = GetParam();
  cli::ToCubeOptions cube;
  cube.panoramas = {dir.file("pano.png")};
  cube.outputDir = dir.path();
  cube.baseName = "a";
  cube.size = 64;
  cube.type = eiPng;
  cube.arrangement.preset = preset;
  cube.arrangement.layout = layout;
  cube.quiet = true;
  std::ostringstream out, err;
  ASSERT_EQ(cli::RunToCube(cube, out, err), 0) << err.str();
  std::string first = out.str().substr(0, out.str().find('\n'));

  cli::ToPanoOptions pano;
  pano.face = first;
  pano.output = dir.file("arranged.png");
  pano.width = 256;
  pano.type = eiPng;
  pano.arrangement.preset = preset;
  pano.quiet = true;
  ASSERT_EQ(cli::RunToPano(pano, out, err), 0) << err.str();
  const Bitmap a = LoadDeep(dir.file("design.png")), b = LoadDeep(dir.file("arranged.png"));
  ASSERT_EQ(b.format(), PixelFormat::Rgb48);
  ASSERT_EQ(a.byteSize(), b.byteSize());
  EXPECT_EQ(std::memcmp(a.data(), b.data(), a.byteSize()), 0) << preset << " " << layout;
}

INSTANTIATE_TEST_SUITE_P(Arrangements, DeepArranged,
                         ::testing::Values(std::pair{"threejs", "faces"},
                                           std::pair{"opengl", "3x2"},
                                           std::pair{"design", "hcross"}));

// Sky, a sun of 50.0 and a shadow from −0.0 to 0.001 in float.
Bitmap HdrScene(int w) {
  const int h = w / 2;
  Bitmap b(w, h, PixelFormat::RgbF96);
  for (int y = 0; y < h; ++y) {
    auto* p = reinterpret_cast<float*>(b.row(y));
    for (int x = 0; x < w; ++x, p += 3) {
      float v = 0.2f + 0.6f * static_cast<float>(y) / static_cast<float>(h);
      if (std::hypot(x - w * 7 / 12, y - h / 3) < w / 40.0) v = 50.0f;
      if (y > h * 3 / 4)
        v = x == 0 ? -0.0f : 0.001f * static_cast<float>(x) / static_cast<float>(w);
      p[0] = p[1] = p[2] = v;
    }
  }
  return b;
}

class HdrRoundTrip : public ::testing::TestWithParam<std::tuple<const char*, bool>> {};

TEST_P(HdrRoundTrip, TheSunAndTheShadowSurviveFacesAndBack) {
  test::TempDir dir;
  const int w = 512;
  const Bitmap source = HdrScene(w);
  SaveAs("exr", dir.file("pano.exr"), source);
  const std::string type = std::get<0>(GetParam());
  const ResampleOptions resample = std::get<1>(GetParam()) ? Turned() : ResampleOptions{};
  const double precision = type == std::string("hdr") ? 0.01 : 0.001;  // RGBE, half
  ASSERT_EQ(ToCube(dir, dir.file("pano.exr"), type, 128, false, resample).status, 0);
  ASSERT_EQ(ToPano(dir, type, dir.file("back" + Ext(type)), type, w, resample).status, 0);
  const Bitmap back = LoadDeep(dir.file("back" + Ext(type)));
  ASSERT_EQ(SampleTypeOf(back.format()), SampleType::F32);
  float brightest = 0;
  double shadowError = 0;
  int shadowCount = 0;
  for (int y = 0; y < w / 2; ++y) {
    for (int x = 0; x < w; ++x) {
      const Rgba p = ReadRgba(back, x, y);
      brightest = std::max(brightest, p.g);
      if (y > w * 3 / 8 + 4 && y < w / 2 - 16) {
        EXPECT_GE(p.g, -1e-6f) << x << "," << y;
        shadowError += std::abs(p.g - ReadRgba(source, x, y).g);
        ++shadowCount;
      }
    }
  }
  EXPECT_NEAR(brightest, 50.0, 50.0 * precision) << type;
  EXPECT_LT(shadowError / shadowCount, 0.001 * precision * 20) << type;
}

INSTANTIATE_TEST_SUITE_P(Types, HdrRoundTrip,
                         ::testing::Combine(::testing::Values("exr", "hdr", "tiff-float"),
                                            ::testing::Bool()));

bool HaveTool(const char* tool);
std::string Capture(const std::string& command);

class Alpha : public ::testing::TestWithParam<const char*> {};

// An 8-bit RGBA PNG (or the same as TIFF, written by oiiotool) keeps alpha.
TEST_P(Alpha, An8BitRgbaSourceKeepsItsAlphaThroughFacesAndBack) {
  test::TempDir dir;
  const std::string name = GetParam();
  const int w = 256, h = 128;
  Bitmap source(w, h, PixelFormat::Bgra32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      std::uint8_t* p = source.row(y) + x * 4;
      const bool opaque = x >= w / 2;  // longitudes 0 … 180: the right half
      p[0] = opaque ? 40 : 0, p[1] = opaque ? 120 : 0, p[2] = opaque ? 200 : 0;
      p[3] = opaque ? 255 : 0;
    }
  }
  SaveAs("png", dir.file("pano.png"), source);
  if (name != "pano.png") {
    if (!HaveTool("oiiotool")) GTEST_SKIP() << "oiiotool is missing (scripts/test installs it)";
    Capture("oiiotool " + dir.file("pano.png") + " -o " + dir.file(name));
  }
  ASSERT_EQ(ToCube(dir, dir.file(name), "png", 64).status, 0);
  const Bitmap right = LoadDeep(dir.file("c_right.png"));
  const Bitmap left = LoadDeep(dir.file("c_left.png"));
  const Bitmap front = LoadDeep(dir.file("c_front.png"));
  ASSERT_EQ(right.format(), PixelFormat::Bgra32);
  for (int y = 0; y < 64; ++y) {
    for (int x = 0; x < 64; ++x) {
      EXPECT_EQ(right.row(y)[x * 4 + 3], 255);
      EXPECT_EQ(left.row(y)[x * 4 + 3], 0);
      // Premultiplied: the colour beside the transparent half is not darkened.
      const std::uint8_t* p = front.row(y) + x * 4;
      if (p[3] > 0) {
        EXPECT_NEAR(p[2], 200, 1) << x << "," << y;
      }
    }
  }
  EXPECT_EQ(front.row(32)[4 * 4 + 3], 0);
  EXPECT_EQ(front.row(32)[60 * 4 + 3], 255);
  ASSERT_EQ(ToPano(dir, "png", dir.file("back.png"), "png", 256).status, 0);
  const Bitmap back = LoadDeep(dir.file("back.png"));
  ASSERT_EQ(back.format(), PixelFormat::Bgra32);
  EXPECT_EQ(back.row(64)[40 * 4 + 3], 0);
  EXPECT_EQ(back.row(64)[200 * 4 + 3], 255);
  EXPECT_EQ(back.row(64)[200 * 4 + 2], 200);
}

INSTANTIATE_TEST_SUITE_P(Sources, Alpha, ::testing::Values("pano.png", "pano.tif"),
                         [](const auto& info) { return std::string(info.param).substr(5); });

TEST(Depth, ADeepSourceIntoAn8BitTypeIsRoundedAndSaysSo) {
  test::TempDir dir;
  SaveAs("exr", dir.file("pano.exr"), HdrScene(256));
  const Job job = ToCube(dir, dir.file("pano.exr"), "bmp", 64);
  ASSERT_EQ(job.status, 0);
  EXPECT_NE(job.err.find("値を丸めて切り詰めます"), std::string::npos) << job.err;
  Bitmap face;
  ASSERT_TRUE(LoadImageFile(face, dir.file("c_top.bmp")));
  EXPECT_EQ(face.format(), PixelFormat::Bgr24);

  // Deep faces into an 8-bit panorama say so too.
  ASSERT_EQ(ToCube(dir, dir.file("pano.exr"), "exr", 64).status, 0);
  const Job back = ToPano(dir, "exr", dir.file("back.jpg"), "jpg", 256);
  ASSERT_EQ(back.status, 0) << back.err;
  EXPECT_NE(back.err.find("値を丸めて切り詰めます"), std::string::npos) << back.err;
}

// ---- metadata ----

std::vector<std::uint8_t> FakeProfile() {
  std::vector<std::uint8_t> icc(256, 7);
  icc[0] = 0, icc[1] = 0, icc[2] = 1, icc[3] = 0;  // size 256, big-endian
  icc[36] = 'a', icc[37] = 'c', icc[38] = 's', icc[39] = 'p';
  return icc;
}

// A JPEG panorama with a profile, camera EXIF (and a lying size), XMP with a
// GPano description.
std::string MetadataSource(const test::TempDir& dir) {
  const std::string name = dir.file("tagged.jpg");
  WriteFile(name, EncodeJpeg(test::DrawTexturedPanorama(256), 100));
  auto image = Exiv2::ImageFactory::open(name);
  image->readMetadata();
  image->exifData()["Exif.Image.Make"] = "TestCam";
  image->exifData()["Exif.Image.Copyright"] = "(c) Skyfold tests";
  image->exifData()["Exif.Photo.DateTimeOriginal"] = "2026:12:08 12:00:00";
  image->exifData()["Exif.GPSInfo.GPSLatitudeRef"] = "S";
  auto latitude = Exiv2::Value::create(Exiv2::unsignedRational);
  latitude->read("35/1 30/1 0/1");
  image->exifData().add(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitude"), latitude.get());
  image->exifData()["Exif.Photo.PixelXDimension"] = uint32_t{9999};
  image->xmpData()["Xmp.xmp.CreatorTool"] = "Skyfold tests";
  image->xmpData()["Xmp.GPano.ProjectionType"] = "equirectangular";
  Exiv2::DataBuf icc(FakeProfile().data(), 256);
  image->setIccProfile(icc, false);
  image->writeMetadata();
  return name;
}

std::unique_ptr<Exiv2::Image> ReadTags(const std::string& name) {
  auto image = Exiv2::ImageFactory::open(name);
  image->readMetadata();
  return std::unique_ptr<Exiv2::Image>(image.release());
}

class FaceMetadata : public ::testing::TestWithParam<const char*> {};

TEST_P(FaceMetadata, ProfileExifAndXmpComeOutInEveryFaceWithoutTheLyingTags) {
  test::TempDir dir;
  const std::string type = GetParam();
  ASSERT_EQ(ToCube(dir, MetadataSource(dir), type, 64).status, 0);
  const bool designJpeg = type == "jpg";
  for (const char* face : kFaces) {
    const auto tags = ReadTags(dir.file(std::string("c") + face + Ext(type)));
    ASSERT_TRUE(tags->iccProfileDefined()) << type << face;
    EXPECT_EQ(std::vector<std::uint8_t>(tags->iccProfile()->pData_,
                                        tags->iccProfile()->pData_ + tags->iccProfile()->size_),
              FakeProfile());
    const auto& exif = tags->exifData();
    const auto& xmp = tags->xmpData();
    EXPECT_TRUE(xmp.findKey(Exiv2::XmpKey("Xmp.GPano.ProjectionType")) == xmp.end());
    EXPECT_TRUE(exif.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) == exif.end());
    if (designJpeg) {
      // The classic JPEG takes the profile alone.
      EXPECT_TRUE(exif.findKey(Exiv2::ExifKey("Exif.Image.Make")) == exif.end());
      continue;
    }
    const auto make = exif.findKey(Exiv2::ExifKey("Exif.Image.Make"));
    ASSERT_TRUE(make != exif.end()) << type << face;
    EXPECT_EQ(make->toString(), "TestCam");
    EXPECT_TRUE(exif.findKey(Exiv2::ExifKey("Exif.Photo.DateTimeOriginal")) != exif.end());
    EXPECT_TRUE(exif.findKey(Exiv2::ExifKey("Exif.GPSInfo.GPSLatitudeRef")) != exif.end());
    const auto tool = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.CreatorTool"));
    ASSERT_TRUE(tool != xmp.end()) << type << face;
    EXPECT_EQ(tool->toString(), "Skyfold tests");
  }
}

INSTANTIATE_TEST_SUITE_P(Types, FaceMetadata,
                         ::testing::Values("png", "webp-lossless", "tif16", "jpg"));

TEST(FaceMetadata, StripMetadataWritesNone) {
  test::TempDir dir;
  ASSERT_EQ(ToCube(dir, MetadataSource(dir), "png", 64, true).status, 0);
  const auto tags = ReadTags(dir.file("c_top.png"));
  EXPECT_FALSE(tags->iccProfileDefined());
  EXPECT_TRUE(tags->exifData().empty());
  EXPECT_TRUE(tags->xmpData().empty());
}

class PanoramaXmp : public ::testing::TestWithParam<const char*> {};

TEST_P(PanoramaXmp, AToPanoResultDescribesItselfAsAFullPanorama) {
  test::TempDir dir;
  const std::string type = GetParam();
  ASSERT_EQ(ToCube(dir, MetadataSource(dir), "png", 64).status, 0);
  ASSERT_EQ(ToPano(dir, "png", dir.file("pano" + Ext(type)), type, 512).status, 0);
  const auto tags = ReadTags(dir.file("pano" + Ext(type)));
  const auto& xmp = tags->xmpData();
  const auto value = [&](const char* key) {
    const auto it = xmp.findKey(Exiv2::XmpKey(std::string("Xmp.GPano.") + key));
    return it == xmp.end() ? std::string("(none)") : it->toString();
  };
  EXPECT_EQ(value("ProjectionType"), "equirectangular");
  EXPECT_EQ(value("FullPanoWidthPixels"), "512");
  EXPECT_EQ(value("FullPanoHeightPixels"), "256");
  EXPECT_EQ(value("CroppedAreaImageWidthPixels"), "512");
  EXPECT_EQ(value("CroppedAreaImageHeightPixels"), "256");
  EXPECT_EQ(value("CroppedAreaLeftPixels"), "0");
  EXPECT_TRUE(tags->iccProfileDefined());
}

INSTANTIATE_TEST_SUITE_P(Types, PanoramaXmp, ::testing::Values("png", "webp", "tif16"));

// The general resampler's results carry the same: the camera's tags on
// turned faces, and the size it made in a panorama's GPano.
TEST(ResampledMetadata, TurnedFacesKeepTheTagsAndAnyWidthIsTheWidthDescribed) {
  test::TempDir dir;
  ASSERT_EQ(ToCube(dir, MetadataSource(dir), "png", 64, false, Turned()).status, 0);
  const auto face = ReadTags(dir.file("c_front.png"));
  EXPECT_TRUE(face->iccProfileDefined());
  EXPECT_TRUE(face->exifData().findKey(Exiv2::ExifKey("Exif.Image.Make")) !=
              face->exifData().end());
  ResampleOptions wide = Turned();
  wide.panoramaWidth = 600;
  ASSERT_EQ(ToPano(dir, "png", dir.file("pano.png"), "png", 512, wide).status, 0);
  const auto pano = ReadTags(dir.file("pano.png"));
  const auto width = pano->xmpData().findKey(Exiv2::XmpKey("Xmp.GPano.FullPanoWidthPixels"));
  ASSERT_TRUE(width != pano->xmpData().end());
  EXPECT_EQ(width->toString(), "600");
}

// EXR has no EXIF or XMP of its own: the profile, the camera's tags and
// the panorama's projection go into its header as attributes.
TEST(ExrMetadata, TheProfileCameraTagsAndProjectionAreHeaderAttributesBothWays) {
  test::TempDir dir;
  ASSERT_EQ(ToCube(dir, MetadataSource(dir), "exr", 64).status, 0);
  const Imf::InputFile face(dir.file("c_front.exr").c_str());
  const auto* icc = face.header().findTypedAttribute<Imf::OpaqueAttribute>("iccProfile");
  ASSERT_NE(icc, nullptr);
  EXPECT_STREQ(icc->typeName(), "bytes");
  // The hint's length, the hint, the profile.
  const std::string hint = "application/vnd.iccprofile";
  ASSERT_EQ(icc->dataSize(), static_cast<int>(4 + hint.size() + 256));
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(static_cast<const char*>(icc->data()));
  EXPECT_EQ(bytes[0], hint.size());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes + 4 + hint.size(), bytes + icc->dataSize()),
            FakeProfile());
  EXPECT_EQ(Imf::capDate(face.header()), "2026:12:08 12:00:00");
  EXPECT_EQ(Imf::owner(face.header()), "(c) Skyfold tests");
  ASSERT_TRUE(Imf::hasLatitude(face.header()));
  EXPECT_FLOAT_EQ(Imf::latitude(face.header()), -35.5f);
  EXPECT_FALSE(Imf::hasEnvmap(face.header()));

  ASSERT_EQ(ToPano(dir, "exr", dir.file("pano.exr"), "exr", 512).status, 0);
  const Imf::InputFile pano(dir.file("pano.exr").c_str());
  ASSERT_TRUE(Imf::hasEnvmap(pano.header()));
  EXPECT_EQ(Imf::envmap(pano.header()), Imf::ENVMAP_LATLONG);
  const auto* xmp = pano.header().findTypedAttribute<Imf::StringAttribute>("xmp");
  ASSERT_NE(xmp, nullptr);
  EXPECT_NE(xmp->value().find("FullPanoWidthPixels=\"512\""), std::string::npos) << xmp->value();

  // Read back from EXR faces, they go on into other types.
  ASSERT_EQ(ToPano(dir, "exr", dir.file("pano.png"), "png", 512).status, 0);
  const auto tags = ReadTags(dir.file("pano.png"));
  ASSERT_TRUE(tags->iccProfileDefined());
  EXPECT_EQ(tags->iccProfile()->size_, 256);
  const auto owner = tags->exifData().findKey(Exiv2::ExifKey("Exif.Image.Copyright"));
  ASSERT_TRUE(owner != tags->exifData().end());
  EXPECT_EQ(owner->toString(), "(c) Skyfold tests");
}

// The writers that stream to the file report a full disk as the file's own
// error (not a codec's) and leave nothing behind.
class StreamedWriters : public ::testing::TestWithParam<const char*> {};

TEST_P(StreamedWriters, AFullDiskIsTheFilesErrorAndLeavesNothing) {
  test::TempDir dir;
  const std::string mount = dir.file("small");
  std::filesystem::create_directories(mount);
  if (std::system(("mount -t tmpfs -o size=64k tmpfs '" + mount + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  // Noise in 16 bits: no codec packs it into 64 KB.
  Bitmap noise(256, 128, PixelFormat::Rgb48);
  std::uint32_t state = 1;
  for (int y = 0; y < noise.height(); ++y) {
    auto* p = reinterpret_cast<std::uint16_t*>(noise.row(y));
    for (int i = 0; i < noise.width() * 3; ++i) {
      state = state * 1664525u + 1013904223u;
      p[i] = static_cast<std::uint16_t>(state >> 16);
    }
  }
  const std::string name = mount + "/face" + FindOutputFormat(GetParam())->extension;
  EXPECT_THROW(SaveBitmapAs(*FindOutputFormat(GetParam()), name, noise, {}), FileError);
  EXPECT_TRUE(std::filesystem::is_empty(mount));
  std::system(("umount '" + mount + "'").c_str());
}

INSTANTIATE_TEST_SUITE_P(Types, StreamedWriters, ::testing::Values("png", "exr", "hdr"));

// ---- other readers ----

std::string Capture(const std::string& command) {
  std::string text;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
    pclose(pipe);
  }
  return text;
}

bool HaveTool(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

class Interoperability : public ::testing::TestWithParam<OutputFormat> {};

TEST_P(Interoperability, OiiotoolAndExiftoolReadEveryFileWritten) {
  const bool oiio = HaveTool("oiiotool"), exiftool = HaveTool("exiftool");
  if (!oiio || !exiftool)
    GTEST_SKIP() << "oiiotool or exiftool is missing (scripts/test installs them)";
  test::TempDir dir;
  const std::string type = GetParam().name;
  SaveAs("png", dir.file("pano.png"), Gradient16(128));
  ASSERT_EQ(ToCube(dir, dir.file("pano.png"), type, 64).status, 0);
  ASSERT_EQ(ToPano(dir, type, dir.file("back" + Ext(type)), type, 256).status, 0);
  for (const auto& [name, size] : {std::pair{std::string("c_top"), std::string("64")},
                                   std::pair{std::string("back"), std::string("256")}}) {
    const std::string file = dir.file(name + Ext(type));
    const std::string info = Capture("oiiotool --info " + file);
    EXPECT_NE(info.find(size + " x"), std::string::npos) << type << ": " << info;
    const std::string tags = Capture("exiftool -s -s -s -ImageWidth " + file);
    EXPECT_EQ(tags, size + "\n") << type;
  }
}

INSTANTIATE_TEST_SUITE_P(Types, Interoperability, ::testing::ValuesIn(OutputFormats()),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

struct ForeignFile {
  const char* name;
  const char* options;  // oiiotool's, before -o
  double tolerance;     // in 0 … 1 levels
};

class ForeignFiles : public ::testing::TestWithParam<ForeignFile> {};

// Files another program wrote (run-length Radiance scanlines, tiled EXR,
// float and 16-bit TIFF) are read with their depth.
TEST_P(ForeignFiles, OiiotoolsFilesAreReadAtTheirDepth) {
  if (!HaveTool("oiiotool")) GTEST_SKIP() << "oiiotool is missing (scripts/test installs it)";
  test::TempDir dir;
  const Bitmap source = Gradient16(64);
  SaveAs("png", dir.file("in.png"), source);
  const std::string out = dir.file(GetParam().name);
  Capture("oiiotool " + dir.file("in.png") + " " + GetParam().options + " -o " + out);
  const Bitmap read = LoadDeep(out);
  ASSERT_EQ(read.width(), 64);
  EXPECT_NE(SampleTypeOf(read.format()), SampleType::U8);
  for (int y = 0; y < 32; y += 7) {
    for (int x = 0; x < 64; x += 5) {
      EXPECT_NEAR(ReadRgba(read, x, y).r, ReadRgba(source, x, y).r, GetParam().tolerance);
      EXPECT_NEAR(ReadRgba(read, x, y).g, ReadRgba(source, x, y).g, GetParam().tolerance);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ForeignFiles,
                         ::testing::Values(ForeignFile{"rle.hdr", "-d float", 0.01},
                                           ForeignFile{"tiled.exr", "-d half --tile 16 16", 0.001},
                                           ForeignFile{"float.tif", "-d float", 1e-6},
                                           ForeignFile{"sixteen.tif", "-d uint16", 1e-6}),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           std::replace(name.begin(), name.end(), '.', '_');
                           return name;
                         });

}  // namespace
}  // namespace skyfold
