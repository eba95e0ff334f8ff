// Hostile and broken sources, each built here: every one is loaded (and its
// header probed) in a child process limited to 1 GiB of address space and
// 20 s, and must be refused with the right message and reason, not decoded
// into gigabytes of grey, not hang.
#include <gtest/gtest.h>
#include <sys/stat.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include <filesystem>
#include <functional>
#include <string>

#include "imaging/Bitmap.h"
#include "imaging/Errors.h"
#include "imaging/ImageProbe.h"
#include "imaging/JpegIO.h"
#include "imaging/SimImgUtils.h"
#include "support/ChildProcess.h"
#include "support/HostileImages.h"
#include "support/TempDir.h"

namespace skyfold {
namespace {

using test::Bytes;
using test::TempDir;

// "Class: what | detail" of what f threw, or "loaded".
std::string Outcome(const std::function<void()>& f) {
  auto text = [](const char* kind, const Error& e) {
    return std::string(kind) + ": " + e.what() + " | " + e.detail();
  };
  try {
    f();
    return "loaded";
  } catch (const NotAFileError& e) {
    return text("NotAFileError", e);
  } catch (const FileError& e) {
    return text("FileError", e);
  } catch (const CodecError& e) {
    return text("CodecError", e);
  } catch (const MemoryError& e) {
    return text("MemoryError", e);
  } catch (const std::bad_alloc&) {
    return "bad_alloc";
  }
}

std::string LoadInChild(const std::string& fileName) {
  const test::ChildOutcome child = test::RunInChild([&] {
    return Outcome([&] {
      Bitmap bitmap;
      LoadImageFile(bitmap, fileName);
    });
  });
  if (child.timedOut) return "(timed out)";
  return child.finished ? child.text : "(crashed)";
}

std::string ProbeInChild(const std::string& fileName) {
  const test::ChildOutcome child =
      test::RunInChild([&] { return Outcome([&] { ProbeImageFile(fileName); }); });
  return child.finished ? child.text : "(crashed or timed out)";
}

constexpr const char* kTooLittleData =
    "CodecError: "
    "画像の大きさに対してデータが少なすぎます。ファイルが壊れているか、途中で切れています。";
constexpr const char* kNoImage =
    "CodecError: JPEG ファイルに画像のデータがありません（最初の行より前で切れています）。";
constexpr const char* kBmpInvalid = "CodecError: ビットマップイメージが不正です";
constexpr const char* kZeroSize = "CodecError: 画像の幅または高さが 0 です。";

struct HostileCase {
  const char* name;
  const char* file;
  std::function<Bytes()> build;
  std::string outcome;  // what the load gives, up to the detail's start
  std::string detail;   // a part of the detail
  bool probeRefuses = true;
};

test::JpegSpec Grey8() { return {8, 8, 1, false, true, false}; }

Bytes CutInsideFirstRow() {
  const Bytes b = test::EncodeJpegWithLibjpeg({2048, 64, 3, false, true, true});
  return test::Cut(b, test::JpegScanDataStart(b) + 600);
}

Bytes CmykJpeg() { return test::EncodeJpegWithLibjpeg({32, 32, 4, false, true, true}); }

Bytes G4Blank53504() {
  // Every row the same as the one above: one bit each.
  const std::uint32_t w = 53504, h = 26752, bytes = h / 8;
  return test::BuildTiff({{256, 4, {w}},
                          {257, 4, {h}},
                          {258, 3, {1}},
                          {259, 3, {4}},
                          {262, 3, {0}},
                          {273, 4, {8}},
                          {278, 4, {h}},
                          {279, 4, {bytes}}},
                         Bytes(bytes, 0xFF));
}

std::string ConversionError() {
  return "CodecError: JPEG エラー #" + std::to_string(JERR_CONVERSION_NOTIMPL);
}

const HostileCase kCases[] = {
    {"TruncatedJpegDeclaring53504x26752", "a.jpg",
     [] {
       return test::Cut(test::WithJpegSize(test::EncodeJpegWithLibjpeg(Grey8()), 53504, 26752),
                        255);
     },
     kTooLittleData, "53504 × 26752"},
    {"ProgressiveJpeg40000x20000In255Bytes", "p.jpg",
     [] {
       test::JpegSpec s = Grey8();
       s.progressive = true;
       return test::Cut(test::WithJpegSize(test::EncodeJpegWithLibjpeg(s), 40000, 20000), 255);
     },
     kTooLittleData, "40000 × 20000"},
    {"JpegCutRightAfterItsScanHeader", "c.jpg",
     [] {
       const Bytes b = test::EncodeJpegWithLibjpeg({});
       return test::Cut(b, test::JpegScanDataStart(b));
     },
     kNoImage, "1 行目"},
    {"JpegCutInsideItsFirstRow", "r.jpg", CutInsideFirstRow, kNoImage, "Premature end of JPEG file",
     false},
    {"CmykJpegSaysWhy", "k.jpg", CmykJpeg, ConversionError(),
     "Unsupported color conversion request"},
    {"CcittG4Tiff53504x26752", "g4.tif", G4Blank53504, kTooLittleData, "53504 × 26752"},
    {"ZeroHeightBmp", "z.bmp", [] { return test::BuildBmp(128, 0, 24); }, kBmpInvalid, "高さ 0"},
    {"ZeroWidthTiff", "z.tif", [] { return test::UncompressedTiff(0, 64, 1, 64); }, kZeroSize,
     "幅 0"},
    {"ZeroWidthPng", "z.tiff", [] { return test::PngHeaderOnly(0, 64); }, kZeroSize, "幅 0"},
    {"BmpWithoutItsPalette", "np.bmp", [] { return test::BuildBmp(8, 8, 8, 0); }, kBmpInvalid,
     "パレットがありません"},
    {"PaletteTiffWithoutColorMap", "nc.tif", [] { return test::UncompressedTiff(4, 4, 3, 4); },
     "CodecError: TIFF のパレット (ColorMap) がありません。", ""},
    {"PaletteTiffWithAShortColorMap", "sc.tif",
     [] {
       return test::UncompressedTiff(4, 4, 3, 4, {{320, 3, std::vector<std::uint32_t>(48, 0)}});
     },
     "CodecError: TIFF のパレット (ColorMap) の大きさがビット数と合いません。", "768"},
    {"TiffWithTooFewStripOffsets", "so.tif",
     [] {
       return test::UncompressedTiff(4, 4, 2, 1, {{273, 4, {8, 20}}}, 3);
     },
     "CodecError: TIFF のストリップ（タイル）の表が画像の大きさと合いません。",
     "StripOffsets の数は 2"},
};

class HostileSource : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileSource, IsRefusedWithItsReasonInBoundedMemoryAndTime) {
  const HostileCase& c = GetParam();
  TempDir dir;
  const std::string name = dir.file(c.file);
  test::WriteBytes(name, c.build());
  const std::string load = LoadInChild(name);
  EXPECT_EQ(load.substr(0, c.outcome.size()), c.outcome) << load;
  EXPECT_NE(load.find(" | "), std::string::npos) << load;
  EXPECT_NE(load.find(c.detail, load.find(" | ")), std::string::npos) << load;
  // The probe refuses what the header alone condemns, before any pixel.
  if (c.probeRefuses) {
    EXPECT_EQ(ProbeInChild(name), load);
    // Nobody may prepare (a mapping table, say) for a size that is refused.
    int w = 0, h = 0;
    EXPECT_FALSE(ReadJpegSize(name, w, h));
  }
}

INSTANTIATE_TEST_SUITE_P(Files, HostileSource, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- names that are not regular files ----------------------------------------

struct SpecialCase {
  const char* name;
  std::function<std::string(const TempDir&)> make;  // returns the path
  std::string outcome;
};

const SpecialCase kSpecial[] = {
    {"Fifo",
     [](const TempDir& d) {
       const std::string p = d.file("pipe.jpg");
       mkfifo(p.c_str(), 0600);
       return p;
     },
     "NotAFileError: \""},
    {"Folder",
     [](const TempDir& d) {
       const std::string p = d.file("folder.tif");
       std::filesystem::create_directory(p);
       return p;
     },
     "NotAFileError: \""},
    {"Device", [](const TempDir&) { return std::string("/dev/zero"); }, "NotAFileError: \""},
};

class SpecialSource : public ::testing::TestWithParam<SpecialCase> {};

TEST_P(SpecialSource, IsRefusedAtOnceAsNotAFile) {
  TempDir dir;
  const std::string path = GetParam().make(dir);
  for (const std::string& outcome : {LoadInChild(path), ProbeInChild(path)}) {
    EXPECT_EQ(outcome.rfind(GetParam().outcome, 0), 0u) << outcome;
    EXPECT_NE(outcome.find(path), std::string::npos) << outcome;
  }
  const test::ChildOutcome size = test::RunInChild([&] {
    int w = 0, h = 0;
    return std::string(ReadJpegSize(path, w, h) ? "size" : "no size");
  });
  EXPECT_EQ(size.text, "no size");
}

INSTANTIATE_TEST_SUITE_P(Names, SpecialSource, ::testing::ValuesIn(kSpecial),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SpecialSource, MessagesTellAFolderFromAFifoAndAMissingFile) {
  TempDir dir;
  mkfifo(dir.file("pipe.bmp").c_str(), 0600);
  const std::string folder = Outcome([&] { ProbeImageFile(dir.path()); });
  const std::string fifo = Outcome([&] { ProbeImageFile(dir.file("pipe.bmp")); });
  const std::string missing = Outcome([&] { ProbeImageFile(dir.file("none.bmp")); });
  EXPECT_NE(folder.find("フォルダー"), std::string::npos) << folder;
  EXPECT_NE(fifo.find("通常のファイルではありません"), std::string::npos) << fifo;
  EXPECT_EQ(missing.rfind("FileError: ファイル", 0), 0u) << missing;
  Bitmap bitmap;
  EXPECT_FALSE(LoadImageFile(bitmap, dir.file("none.jpg")));  // missing: silently nothing
}

// --- what still loads ----------------------------------------------------------

TEST(HonestSource, AJpegCutLaterLoadsAndIsReportedIncomplete) {
  TempDir dir;
  const Bytes full = test::EncodeJpegWithLibjpeg({256, 256, 3, false, true, true});
  struct {
    std::size_t size;
    bool incomplete;
  } cuts[] = {{full.size(), false}, {full.size() - 2, false}, {full.size() * 2 / 3, true}};
  for (const auto& cut : cuts) {
    test::WriteBytes(dir.file("cut.jpg"), test::Cut(full, cut.size));
    Bitmap bitmap;
    LoadReport report;
    ASSERT_TRUE(LoadImageFile(bitmap, dir.file("cut.jpg"), &report)) << cut.size;
    EXPECT_EQ(bitmap.width(), 256);
    EXPECT_EQ(report.incomplete, cut.incomplete) << cut.size << " of " << full.size();
    EXPECT_EQ(report.detail.empty(), !cut.incomplete) << report.detail;
  }
}

TEST(HonestSource, TheProbeGivesTheDeclaredSizeAndTheMemoryOfTheLoad) {
  TempDir dir;
  // A wide strip is a real picture: loading it is cheap (stretching it is
  // the run's to budget).
  test::WriteBytes(dir.file("strip.bmp"), test::BuildBmp(53505, 1, 24));
  ImageHeader h = ProbeImageFile(dir.file("strip.bmp"));
  EXPECT_EQ(h.format, "BMP");
  EXPECT_EQ(h.width, 53505);
  EXPECT_EQ(h.height, 1);
  EXPECT_EQ(h.bitsPerPixel, 24);
  EXPECT_EQ(h.bitmapBytes, 53505u * 3);
  EXPECT_EQ(LoadInChild(dir.file("strip.bmp")), "loaded");

  // A progressive JPEG keeps every coefficient while it decodes.
  test::WriteBytes(dir.file("p.jpg"), test::EncodeJpegWithLibjpeg({512, 256, 3, true, true, true}));
  h = ProbeImageFile(dir.file("p.jpg"));
  EXPECT_EQ(h.format, "JPEG");
  EXPECT_EQ(h.channels, 3);
  EXPECT_EQ(h.bitmapBytes, 512u * 256 * 3);
  EXPECT_GT(h.peakBytes, h.bitmapBytes + 512u * 256 * 2);

  test::WriteBytes(dir.file("g.tif"), test::UncompressedTiff(40, 30, 1, 7));
  h = ProbeImageFile(dir.file("g.tif"));
  EXPECT_EQ(h.format, "TIFF");
  EXPECT_EQ(h.loadedFormat, PixelFormat::Indexed8);
  EXPECT_EQ(h.bitmapBytes, 1200u);
  EXPECT_EQ(LoadInChild(dir.file("g.tif")), "loaded");
}

}  // namespace
}  // namespace skyfold
