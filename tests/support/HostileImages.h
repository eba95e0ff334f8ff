// Builders of broken and hostile image files, assembled in the test itself
// (no binary fixtures): JPEGs encoded by libjpeg and then given another size
// or cut, TIFFs and BMPs laid out byte by byte, a PNG header.
#pragma once

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace skyfold::test {

using Bytes = std::vector<std::uint8_t>;

inline void WriteBytes(const std::string& fileName, const Bytes& bytes) {
  std::ofstream(fileName, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// --- JPEG --------------------------------------------------------------------

struct JpegSpec {
  int width = 64, height = 64;
  int components = 3;  // 1 grey, 3 RGB, 4 CMYK
  bool progressive = false;
  bool optimize = true;  // small Huffman tables: a header of a few hundred bytes
  bool noise = true;     // noisy samples: a row costs many bytes
};

inline Bytes EncodeJpegWithLibjpeg(const JpegSpec& spec) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = spec.width;
  cinfo.image_height = spec.height;
  cinfo.input_components = spec.components;
  cinfo.in_color_space = spec.components == 1   ? JCS_GRAYSCALE
                         : spec.components == 4 ? JCS_CMYK
                                                : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  cinfo.optimize_coding = spec.optimize ? TRUE : FALSE;
  if (spec.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  Bytes row(static_cast<std::size_t>(spec.width) * spec.components, 128);
  std::uint32_t seed = 1;
  while (cinfo.next_scanline < cinfo.image_height) {
    if (spec.noise) {
      for (auto& v : row) v = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    }
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&cinfo, &r, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  Bytes bytes(out, out + outSize);
  std::free(out);
  return bytes;
}

// Position of the first FF code marker, or npos.
inline std::size_t FindJpegMarker(const Bytes& b, std::uint8_t code) {
  for (std::size_t i = 2; i + 1 < b.size(); ++i) {
    if (b[i] == 0xFF && b[i + 1] == code) return i;
  }
  return std::string::npos;
}

// The bytes up to the end of the first scan header: the entropy data would
// start here.
inline std::size_t JpegScanDataStart(const Bytes& b) {
  const std::size_t sos = FindJpegMarker(b, 0xDA);
  return sos + 2 + (std::size_t{b[sos + 2]} << 8 | b[sos + 3]);
}

// The same file declaring another size in its frame header (baseline or
// progressive).
inline Bytes WithJpegSize(Bytes b, int width, int height) {
  std::size_t sof = FindJpegMarker(b, 0xC0);
  if (sof == std::string::npos) sof = FindJpegMarker(b, 0xC2);
  b[sof + 5] = static_cast<std::uint8_t>(height >> 8);
  b[sof + 6] = static_cast<std::uint8_t>(height);
  b[sof + 7] = static_cast<std::uint8_t>(width >> 8);
  b[sof + 8] = static_cast<std::uint8_t>(width);
  return b;
}

inline Bytes Cut(Bytes b, std::size_t size) {
  if (b.size() > size) b.resize(size);
  return b;
}

// --- TIFF (little-endian, laid out by hand) ----------------------------------

struct TiffField {
  std::uint16_t tag;
  std::uint16_t type;  // 3 SHORT, 4 LONG
  std::vector<std::uint32_t> values;
};

// Header, then `data` at offset 8 (so strip offsets start at 8), then the
// directory and the values that do not fit in it.
inline Bytes BuildTiff(std::vector<TiffField> fields, const Bytes& data) {
  auto put16 = [](Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
  };
  auto put32 = [&](Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
  };
  Bytes b(8 + data.size(), 0);
  b[0] = b[1] = 'I';
  b[2] = 42;
  std::copy(data.begin(), data.end(), b.begin() + 8);
  if (b.size() % 2) b.push_back(0);
  const std::size_t ifd = b.size();
  put32(b, 4, static_cast<std::uint32_t>(ifd));
  b.resize(ifd + 2 + fields.size() * 12 + 4, 0);
  put16(b, ifd, static_cast<std::uint32_t>(fields.size()));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const TiffField& f = fields[i];
    const std::size_t at = ifd + 2 + i * 12;
    const std::size_t size = f.type == 3 ? 2 : 4;
    put16(b, at, f.tag);
    put16(b, at + 2, f.type);
    put32(b, at + 4, static_cast<std::uint32_t>(f.values.size()));
    std::size_t where = at + 8;
    if (f.values.size() * size > 4) {
      where = b.size();
      put32(b, at + 8, static_cast<std::uint32_t>(where));
      b.resize(b.size() + f.values.size() * size + 1, 0);
    }
    for (std::size_t k = 0; k < f.values.size(); ++k) {
      if (size == 2) {
        put16(b, where + k * 2, f.values[k]);
      } else {
        put32(b, where + k * 4, f.values[k]);
      }
    }
  }
  return b;
}

// A width × height grey or palette TIFF of one byte a pixel in strips of
// rowsPerStrip rows, uncompressed, with the strip tables right; extra
// fields are added (or replace the defaults of the same tag).
inline Bytes UncompressedTiff(std::uint32_t width, std::uint32_t height, std::uint32_t photometric,
                              std::uint32_t rowsPerStrip, std::vector<TiffField> extra = {},
                              std::uint32_t samples = 1) {
  const std::uint32_t strip = width * samples * rowsPerStrip;
  const std::uint32_t strips = rowsPerStrip ? (height + rowsPerStrip - 1) / rowsPerStrip : 1;
  std::vector<std::uint32_t> offsets, counts;
  for (std::uint32_t i = 0; i < strips; ++i) {
    offsets.push_back(8 + i * strip);
    counts.push_back(strip);
  }
  std::vector<TiffField> fields = {{256, 4, {width}},
                                   {257, 4, {height}},
                                   {258, 3, std::vector<std::uint32_t>(samples, 8)},
                                   {259, 3, {1}},
                                   {262, 3, {photometric}},
                                   {273, 4, offsets},
                                   {277, 3, {samples}},
                                   {278, 4, {rowsPerStrip}},
                                   {279, 4, counts}};
  for (const TiffField& e : extra) {
    bool replaced = false;
    for (TiffField& f : fields) {
      if (f.tag == e.tag) f = e, replaced = true;
    }
    if (!replaced) fields.push_back(e);
  }
  std::sort(fields.begin(), fields.end(),
            [](const TiffField& a, const TiffField& b) { return a.tag < b.tag; });
  return BuildTiff(fields, Bytes(std::size_t{strip} * strips, 7));
}

// --- BMP and PNG ---------------------------------------------------------------

// A 40-byte-header BMP of `bits` per pixel with `colors` palette entries and
// every row present (rows of value 0).
inline Bytes BuildBmp(std::int32_t width, std::int32_t height, std::uint16_t bits,
                      std::uint32_t colors = 0) {
  const std::uint64_t stride = (std::uint64_t(width < 0 ? -width : width) * bits + 31) / 32 * 4;
  const std::uint64_t pixels = stride * std::uint64_t(height < 0 ? -height : height);
  const std::uint32_t offset = 54 + 4 * colors;
  Bytes b(offset + pixels, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<std::uint32_t>(b.size()));
  put32(10, offset);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  b[26] = 1;  // planes
  b[28] = static_cast<std::uint8_t>(bits);
  put32(46, colors);
  return b;
}

// PNG signature, IHDR (8-bit RGB) and IEND: a header and no image data.
inline Bytes PngHeaderOnly(std::uint32_t width, std::uint32_t height) {
  auto crc = [](const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
      c ^= p[i];
      for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
  };
  auto put32 = [](Bytes& b, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
  };
  Bytes b{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, const Bytes& data) {
    put32(b, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = b.size();
    b.insert(b.end(), type, type + 4);
    b.insert(b.end(), data.begin(), data.end());
    put32(b, crc(b.data() + start, b.size() - start));
  };
  Bytes ihdr;
  put32(ihdr, width);
  put32(ihdr, height);
  ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});
  chunk("IHDR", ihdr);
  chunk("IEND", {});
  return b;
}

}  // namespace skyfold::test
