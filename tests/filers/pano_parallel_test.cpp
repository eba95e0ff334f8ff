// The face unfolding decodes ahead on worker threads and places faces with
// its own row-parallel loops. These tests hold it to the plain sequential
// unfolding built from the raster operations (scale, copy, quarter turns),
// byte for byte, whatever the thread count, with faces of odd sizes and of
// palette format; and they check that progress lines, and the error of the
// first face in list order that cannot be decoded, come out as if the faces
// were read one by one.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "filers/PanoFiler.h"
#include "imaging/BmpIO.h"
#include "imaging/Errors.h"
#include "imaging/JpegIO.h"
#include "imaging/Raster.h"
#include "imaging/ShowErrorMessage.h"
#include "imaging/SimImgUtils.h"
#include "support/ScopedRun.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

const std::array<const char*, 6> kSuffixes{"_left", "_front", "_right", "_back", "_top", "_bottom"};

// Fine, seeded grain: every pixel differs from its neighbours, so a pixel
// taken from the wrong place shows.
std::uint8_t Grain(int seed, int x, int y, int channel) {
  std::uint32_t v =
      static_cast<std::uint32_t>(seed) * 2654435761u ^ static_cast<std::uint32_t>(x) * 73856093u ^
      static_cast<std::uint32_t>(y) * 19349663u ^ static_cast<std::uint32_t>(channel) * 83492791u;
  v ^= v >> 15;
  v *= 0x2c1b3c6du;
  v ^= v >> 12;
  return static_cast<std::uint8_t>(v);
}

Bitmap GrainFace(int seed, int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    std::uint8_t* p = b.row(y);
    for (int x = 0; x < w; ++x, p += 3) {
      for (int c = 0; c < 3; ++c) p[c] = Grain(seed, x, y, c);
    }
  }
  return b;
}

// An uncompressed 8-bit palette BMP (our writer only writes 24 bits), so the
// unfolding also meets a face in a palette format.
void WritePaletteBmp(const std::string& fileName, int seed, int w, int h) {
  const int stride = (w + 3) / 4 * 4;
  const std::uint32_t offset = 14 + 40 + 256 * 4;
  const std::uint32_t size = offset + static_cast<std::uint32_t>(stride * h);
  std::vector<std::uint8_t> bytes(size, 0);
  auto put16 = [&](std::size_t at, std::uint32_t v) {
    bytes[at] = static_cast<std::uint8_t>(v);
    bytes[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    put16(at, v & 0xffff);
    put16(at + 2, v >> 16);
  };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, size);
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(w));
  put32(22, static_cast<std::uint32_t>(h));
  put16(26, 1);
  put16(28, 8);
  put32(46, 256);
  for (int i = 0; i < 256; ++i) {
    std::uint8_t* e = &bytes[54 + static_cast<std::size_t>(i) * 4];
    e[0] = Grain(seed, i, 0, 0);
    e[1] = Grain(seed, i, 0, 1);
    e[2] = Grain(seed, i, 0, 2);
  }
  for (int y = 0; y < h; ++y) {  // stored bottom-up
    std::uint8_t* row = &bytes[offset + static_cast<std::size_t>((h - 1 - y) * stride)];
    for (int x = 0; x < w; ++x) row[x] = Grain(seed + 1, x, y, 3);
  }
  std::ofstream(fileName, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
}

// The unfolding done the straightforward way: one face at a time, scaled
// with StretchDraw/StretchRect, polar faces scaled into a square that is
// turned a quarter at a time between the four band copies.
Bitmap ReferenceUnfolding(const std::vector<std::string>& names, int w) {
  const int f = w / 4;
  const int q = f / 2;
  Bitmap pano(w, w / 2);
  Bitmap face;
  for (int d = 0; d < 6; ++d) {
    EXPECT_TRUE(LoadImageFile(face, names[static_cast<std::size_t>(d)]));
    const int fw = face.width();
    const int fh = face.height();
    if (d < 3) {
      StretchDraw(pano, Rect{q + d * f, q, f, f}, face);
    } else if (d == 3) {
      StretchRect(pano, Rect{7 * q, q, q, f}, face, Rect{0, 0, std::max(fw / 2, 1), fh});
      StretchRect(pano, Rect{0, q, q, f}, face, Rect{fw / 2, 0, fw - fw / 2, fh});
    } else {
      const bool top = d == 4;
      Bitmap square(f, f);
      StretchDraw(square, Rect{0, 0, f, f}, face);
      for (int k = 0; k < 4; ++k) {
        const int x = (3 * q + k * f) % w;
        const int first = std::min(f, w - x);
        CopyRect(pano, x, top ? 0 : 3 * q, square, 0, top ? q : 0, first, q);
        CopyRect(pano, 0, top ? 0 : 3 * q, square, first, top ? q : 0, f - first, q);
        if (k < 3) RotateBitmap90(square, top ? rdClockwise : rdCounterClockwise);
      }
    }
  }
  return pano;
}

struct Event {
  std::string text;
  TSimProgressMode mode;
  friend bool operator==(const Event&, const Event&) = default;
};

class ParallelUnfolding : public ::testing::Test {
 protected:
  ParallelUnfolding() : sink_([this](const std::string& t) { messages.push_back(t); }) {}

  std::string FaceName(int d, const std::string& ext) const {
    return dir.file(std::string("cube") + kSuffixes[static_cast<std::size_t>(d)] + ext);
  }
  std::vector<std::string> FaceNames(const std::string& ext) const {
    std::vector<std::string> names;
    for (int d = 0; d < 6; ++d) names.push_back(FaceName(d, ext));
    return names;
  }

  // Unfolds the faces named cube_*<ext> at width w on the given threads,
  // recording every progress event.
  bool Load(Bitmap& bitmap, int threads, const std::string& ext, TPanoImageSize size,
            std::vector<Event>* events = nullptr) {
    TPanoFiler filer;
    const test::ScopedRun run(filer, threads);
    filer.SetImageFileName(dir.file("pano.bmp"));
    filer.SetCubeImageFileName(FaceName(1, ext));
    filer.SetPanoImageSize(size);
    filer.OnProgress = [events](TSimFiler*, const std::string& s, TSimProgressMode mode) {
      if (events) events->push_back(Event{s, mode});
    };
    if (!filer.CheckParameters()) return false;
    filer.PrepareImageSize();
    filer.BuildFileNames();
    return filer.LoadCubeFaces(bitmap);
  }

  static bool SameBytes(const Bitmap& a, const Bitmap& b) {
    return a.width() == b.width() && a.height() == b.height() && a.format() == b.format() &&
           std::memcmp(a.data(), b.data(), a.byteSize()) == 0;
  }

  test::TempDir dir;
  std::vector<std::string> messages;

 private:
  ScopedErrorMessageSink sink_;
};

TEST_F(ParallelUnfolding, MatchesTheRasterOperationsOnAnyThreadCount) {
  // Odd, non-square and palette faces, scaled both up (F = 128) and down
  // (F = 64); the back face's odd width puts its middle column on the right.
  SaveBitmapAsBmp(FaceName(0, ".bmp"), GrainFace(0, 45, 33));
  WritePaletteBmp(FaceName(1, ".bmp"), 1, 64, 64);
  SaveBitmapAsBmp(FaceName(2, ".bmp"), GrainFace(2, 17, 90));
  SaveBitmapAsBmp(FaceName(3, ".bmp"), GrainFace(3, 131, 20));
  WritePaletteBmp(FaceName(4, ".bmp"), 4, 70, 51);
  SaveBitmapAsBmp(FaceName(5, ".bmp"), GrainFace(5, 200, 199));

  for (const TPanoImageSize size : {ps256, ps512}) {
    const Bitmap reference = ReferenceUnfolding(FaceNames(".bmp"), 256 << size);
    for (const int threads : {1, 3}) {
      Bitmap bitmap;
      ASSERT_TRUE(Load(bitmap, threads, ".bmp", size));
      EXPECT_TRUE(SameBytes(bitmap, reference))
          << "width " << (256 << size) << ", " << threads << " threads";
    }
  }
  EXPECT_TRUE(messages.empty());
}

TEST_F(ParallelUnfolding, JpegFacesGiveTheSameImageAndLinesOnOneAndThreeThreads) {
  for (int d = 0; d < 6; ++d) SaveBitmapAsJpeg(FaceName(d, ".jpg"), GrainFace(d, 80, 80), 90);

  std::vector<Event> one, three;
  Bitmap a, b;
  ASSERT_TRUE(Load(a, 1, ".jpg", ps256, &one));
  ASSERT_TRUE(Load(b, 3, ".jpg", ps256, &three));
  EXPECT_TRUE(SameBytes(a, b));
  EXPECT_TRUE(SameBytes(a, ReferenceUnfolding(FaceNames(".jpg"), 256)));

  // Each face: its line, then four dots in updates (the back face's in two
  // pairs, the polar faces' one by one).
  std::vector<Event> expected;
  const std::vector<std::vector<std::string>> dots{
      {"...."}, {"...."}, {"...."}, {"..", ".."}, {".", ".", ".", "."}, {".", ".", ".", "."}};
  for (int d = 0; d < 6; ++d) {
    expected.push_back(Event{
        std::string("読み込んでいます。　cube") + kSuffixes[static_cast<std::size_t>(d)] + ".jpg",
        spAppend});
    for (const std::string& s : dots[static_cast<std::size_t>(d)]) {
      expected.push_back(Event{s, spUpdate});
    }
  }
  EXPECT_EQ(one, expected);
  EXPECT_EQ(three, expected);
}

TEST_F(ParallelUnfolding, TheFirstFaceInListOrderThatCannotBeDecodedRaisesItsError) {
  for (int d = 0; d < 6; ++d) SaveBitmapAsJpeg(FaceName(d, ".jpg"), GrainFace(d, 40, 40), 90);
  // Two different decoder failures: the right face is not a JPEG at all, the
  // top face starts like one and then breaks off in its header.
  std::ofstream(FaceName(2, ".jpg"), std::ios::binary | std::ios::trunc) << "not a JPEG file";
  std::ofstream(FaceName(4, ".jpg"), std::ios::binary | std::ios::trunc)
      << std::string("\xFF\xD8\xFF\xC0\x00\x02", 6);
  auto errorOf = [](const std::string& name) -> std::string {
    Bitmap face;
    try {
      LoadImageFile(face, name);
    } catch (const CodecError& e) {
      return e.what();
    }
    return "";
  };
  const std::string rightError = errorOf(FaceName(2, ".jpg"));
  const std::string topError = errorOf(FaceName(4, ".jpg"));
  ASSERT_FALSE(rightError.empty());
  ASSERT_FALSE(topError.empty());
  ASSERT_NE(rightError, topError);

  for (const int threads : {1, 3}) {
    std::vector<Event> events;
    Bitmap bitmap;
    try {
      Load(bitmap, threads, ".jpg", ps256, &events);
      ADD_FAILURE() << "no error on " << threads << " threads";
    } catch (const CodecError& e) {
      EXPECT_EQ(e.what(), rightError) << threads << " threads";
    }
    // Half an unfolding is not handed back.
    EXPECT_TRUE(bitmap.empty());
    // The right face's line is the last one: nothing after the failure.
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), (Event{"読み込んでいます。　cube_right.jpg", spAppend}));
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const Event& e) { return e.mode == spAppend; }),
              3);
  }

  // With only the last face broken, all six lines come first.
  SaveBitmapAsJpeg(FaceName(2, ".jpg"), GrainFace(2, 40, 40), 90);
  SaveBitmapAsJpeg(FaceName(4, ".jpg"), GrainFace(4, 40, 40), 90);
  std::ofstream(FaceName(5, ".jpg"), std::ios::binary | std::ios::trunc) << "not a JPEG file";
  std::vector<Event> events;
  Bitmap bitmap;
  EXPECT_THROW(Load(bitmap, 3, ".jpg", ps256, &events), CodecError);
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), (Event{"読み込んでいます。　cube_bottom.jpg", spAppend}));
  EXPECT_TRUE(messages.empty());
}

TEST_F(ParallelUnfolding, EmptyFacesAreRefused) {
  for (int d = 0; d < 6; ++d) SaveBitmapAsBmp(FaceName(d, ".bmp"), GrainFace(d, 24, 24));
  SaveBitmapAsBmp(FaceName(3, ".bmp"), Bitmap(0, 0));
  for (const int threads : {1, 3}) {
    Bitmap bitmap;
    try {
      Load(bitmap, threads, ".bmp", ps256);
      ADD_FAILURE() << "no error on " << threads << " threads";
    } catch (const CodecError& e) {
      EXPECT_STREQ(e.what(), "ビットマップイメージが不正です");
      EXPECT_NE(e.detail().find("幅 0"), std::string::npos) << e.detail();
    }
    EXPECT_TRUE(bitmap.empty());
  }
}

}  // namespace
}  // namespace skyfold
