// Loading by kind: the extension picks BMP, JPEG or the content-sniffing
// registry (".TIF"/".TIFF"), whose decoders are tried in registration order.
// Every file is written to a temporary folder by a real writer.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/DecoderRegistry.h"
#include "imaging/Bitmap.h"
#include "imaging/Bmp2Tiff.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"
#include "support/PanoramaTestImages.h"

namespace skyfold {
namespace {

using test::TempDir;

void WriteText(const std::string& fileName, const std::string& text) {
  std::ofstream(fileName, std::ios::binary) << text;
}

void WritePngRgb(const std::string& fileName, const Bitmap& bgr) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = bgr.width();
  image.height = bgr.height();
  image.format = PNG_FORMAT_BGR;
  ASSERT_TRUE(png_image_write_to_file(&image, fileName.c_str(), 0, bgr.data(),
                                      static_cast<png_int_32>(bgr.rowBytes()), nullptr))
      << image.message;
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
  if (a.width() != b.width() || a.height() != b.height()) return false;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (!(a.pixel(x, y) == b.pixel(x, y))) return false;
    }
  }
  return true;
}

// Records ShowErrorMessage texts for the duration of a test.
class RecordedMessages {
 public:
  RecordedMessages() : sink_([this](const std::string& t) { texts.push_back(t); }) {}
  std::vector<std::string> texts;

 private:
  ScopedErrorMessageSink sink_;
};

TEST(ImageFileKind, DecidedByTheLastExtensionInAnyCase) {
  EXPECT_EQ(GetImageFileKind("/photos/pano.JPG"), ikJpeg);
  EXPECT_EQ(GetImageFileKind("pano.jpeg"), ikJpeg);
  EXPECT_EQ(GetImageFileKind("x.JpG"), ikJpeg);
  EXPECT_EQ(GetImageFileKind("x.Jpeg"), ikJpeg);
  EXPECT_EQ(GetImageFileKind("a.b.TIFF"), ikTiff);
  EXPECT_EQ(GetImageFileKind("face_0.tif"), ikTiff);
  EXPECT_EQ(GetImageFileKind("face.Bmp"), ikBitmap);
  EXPECT_EQ(GetImageFileKind(".bmp"), ikBitmap);
  EXPECT_EQ(GetImageFileKind("写真/パノラマ.jpg"), ikJpeg);
}

TEST(ImageFileKind, OtherOrMissingExtensionsAreUnknown) {
  EXPECT_EQ(GetImageFileKind("pano.jpe"), ikUnknown);
  EXPECT_EQ(GetImageFileKind("pano.jfif"), ikUnknown);
  EXPECT_EQ(GetImageFileKind("pano.dib"), ikUnknown);
  EXPECT_EQ(GetImageFileKind("pano.gif"), ikUnknown);
  EXPECT_EQ(GetImageFileKind("pano"), ikUnknown);
  EXPECT_EQ(GetImageFileKind(""), ikUnknown);
  EXPECT_EQ(GetImageFileKind("pano.jpg.txt"), ikUnknown);
  EXPECT_EQ(GetImageFileKind("pano.jpg "), ikUnknown);
  // A dot in a folder name is not an extension.
  EXPECT_EQ(GetImageFileKind("dir.tif/pano"), ikUnknown);
}

TEST(LoadImageFile, UnknownKindShowsTheMessageAndMissingFileDoesNothing) {
  TempDir dir;
  RecordedMessages messages;
  Bitmap bitmap(5, 4);
  bitmap.row(0)[0] = 7;

  // PNG data under a name no reader takes.
  WritePngRgb(dir.file("pano.gif"), test::DrawTexturedPanorama(16));
  EXPECT_FALSE(LoadImageFile(bitmap, dir.file("pano.gif")));
  ASSERT_EQ(messages.texts.size(), 1u);
  EXPECT_EQ(messages.texts[0], "扱えない画像ファイルです。");

  EXPECT_FALSE(LoadImageFile(bitmap, dir.file("missing.jpg")));
  EXPECT_FALSE(LoadImageFile(bitmap, dir.file("missing.png")));
  EXPECT_EQ(messages.texts.size(), 1u);

  EXPECT_EQ(bitmap.width(), 5);
  EXPECT_EQ(bitmap.height(), 4);
  EXPECT_EQ(bitmap.row(0)[0], 7);
}

TEST(LoadImageFile, EachKindGoesToItsReader) {
  TempDir dir;
  const Bitmap image = test::DrawTexturedPanorama(32);

  SaveBitmapAsBmp(dir.file("a.BMP"), image);
  Bitmap loaded;
  ASSERT_TRUE(LoadImageFile(loaded, dir.file("a.BMP")));
  EXPECT_TRUE(SamePixels(loaded, image));

  SaveBitmapAsTiff(dir.file("a.Tiff"), image);
  ASSERT_TRUE(LoadImageFile(loaded, dir.file("a.Tiff")));
  EXPECT_EQ(loaded.format(), PixelFormat::Bgr24);
  EXPECT_TRUE(SamePixels(loaded, image));

  SaveBitmapAsJpeg(dir.file("a.jpeg"), image);
  ASSERT_TRUE(LoadImageFile(loaded, dir.file("a.jpeg")));
  EXPECT_EQ(loaded.format(), PixelFormat::Bgr24);
  EXPECT_EQ(loaded.width(), 32);
  EXPECT_EQ(loaded.height(), 16);
}

TEST(LoadImageFile, TiffNamesAreDecodedByContent) {
  TempDir dir;
  const Bitmap image = test::DrawTexturedPanorama(32);
  Bitmap loaded;

  // A PNG named .tif: the PNG decoder reads it, exactly.
  WritePngRgb(dir.file("x.tif"), image);
  ASSERT_TRUE(LoadImageFile(loaded, dir.file("x.tif")));
  EXPECT_EQ(loaded.format(), PixelFormat::Bgr24);
  EXPECT_TRUE(SamePixels(loaded, image));

  // A BMP and a JPEG named .tif.
  SaveBitmapAsBmp(dir.file("b.tif"), image);
  ASSERT_TRUE(LoadImageFile(loaded, dir.file("b.tif")));
  EXPECT_TRUE(SamePixels(loaded, image));
  SaveBitmapAsJpeg(dir.file("j.TIF"), image);
  ASSERT_TRUE(LoadImageFile(loaded, dir.file("j.TIF")));
  EXPECT_EQ(loaded.width(), 32);
}

TEST(LoadImageFile, DecoderFailuresThrowAndLeaveTheBitmapAsItWas) {
  TempDir dir;
  Bitmap bitmap(3, 2);
  bitmap.row(1)[2] = 9;

  // A TIFF named .jpg goes to the JPEG reader, which refuses it.
  SaveBitmapAsTiff(dir.file("x.jpg"), test::DrawTexturedPanorama(16));
  try {
    LoadImageFile(bitmap, dir.file("x.jpg"));
    FAIL() << "no error";
  } catch (const CodecError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("JPEG エラー #", 0), 0u) << e.what();
  }

  // Content no decoder accepts.
  WriteText(dir.file("text.tif"), "just some text, not an image at all");
  try {
    LoadImageFile(bitmap, dir.file("text.tif"));
    FAIL() << "no error";
  } catch (const CodecError& e) {
    EXPECT_STREQ(e.what(), "Cannot load image. Unknown image format.");
  }
  WriteText(dir.file("empty.tiff"), "");
  EXPECT_THROW(LoadImageFile(bitmap, dir.file("empty.tiff")), CodecError);

  // A broken BMP.
  WriteText(dir.file("bad.bmp"), "BM this is not a bitmap");
  EXPECT_THROW(LoadImageFile(bitmap, dir.file("bad.bmp")), CodecError);

  EXPECT_EQ(bitmap.width(), 3);
  EXPECT_EQ(bitmap.row(1)[2], 9);
}

TEST(DecoderRegistry, DecodersAreAskedInRegistrationOrder) {
  const auto& decoders = RegisteredDecoders();
  ASSERT_EQ(decoders.size(), 7u);
  EXPECT_STREQ(decoders[0]->name(), "TIFF");
  EXPECT_STREQ(decoders[1]->name(), "PNG");
  EXPECT_STREQ(decoders[2]->name(), "JPEG");
  EXPECT_STREQ(decoders[3]->name(), "BMP");
  EXPECT_STREQ(decoders[4]->name(), "EXR");
  EXPECT_STREQ(decoders[5]->name(), "HDR");
  EXPECT_STREQ(decoders[6]->name(), "WebP");
  EXPECT_EQ(&RegisteredDecoders(), &decoders);  // filled once
}

const ImageDecoder* Sniff(const std::string& bytes) {
  std::istringstream stream(bytes);
  const ImageDecoder* decoder = FindDecoder(stream);
  EXPECT_EQ(stream.tellg(), 0) << "a content test moved the stream";
  return decoder;
}

std::string NameOf(const ImageDecoder* decoder) { return decoder ? decoder->name() : "none"; }

TEST(DecoderRegistry, TiffHeaderTestFollowsTheByteOrderAndTheStreamSize) {
  using namespace std::string_literals;
  // Offset 8 in a 9-byte stream is inside it; in an 8-byte stream nothing is.
  EXPECT_EQ(NameOf(Sniff("II\x2a\0\x08\0\0\0X"s)), "TIFF");
  EXPECT_EQ(NameOf(Sniff("II\x2a\0\x08\0\0\0"s)), "none");
  EXPECT_EQ(NameOf(Sniff("MM\0\x2a\0\0\0\x08X"s)), "TIFF");
  // 42 in the wrong byte order, BigTIFF's 43, and an offset past the end.
  EXPECT_EQ(NameOf(Sniff("II\0\x2a\x08\0\0\0XX"s)), "none");
  EXPECT_EQ(NameOf(Sniff("II\x2b\0\x08\0\0\0XX"s)), "none");
  EXPECT_EQ(NameOf(Sniff("MM\0\x2a\0\0\0\x0aXX"s)), "none");
  EXPECT_EQ(NameOf(Sniff("MM\0\x2a\0\0\0\x09XX"s)), "TIFF");
  EXPECT_EQ(NameOf(Sniff("IM\x2a\0\x08\0\0\0XX"s)), "none");

  EXPECT_EQ(NameOf(Sniff("\x89PNG\r\n\x1a\n"s)), "PNG");
  EXPECT_EQ(NameOf(Sniff("\x89PNG\r\n\x1a"s)), "none");
  EXPECT_EQ(NameOf(Sniff("\xff\xd8\xff\xe0"s)), "JPEG");
  EXPECT_EQ(NameOf(Sniff("\xff\xd8\x00"s)), "none");
  EXPECT_EQ(NameOf(Sniff("BM"s)), "BMP");
  EXPECT_EQ(NameOf(Sniff(""s)), "none");

  // The test starts at the current position and restores it.
  std::istringstream stream("skipII\x2a\0\x08\0\0\0XX"s);
  stream.seekg(4);
  EXPECT_EQ(NameOf(FindDecoder(stream)), "TIFF");
  EXPECT_EQ(stream.tellg(), 4);
}

}  // namespace
}  // namespace skyfold
