// The face names are drawn with a built-in 5 × 7 bitmap font: six words in
// capitals need no font library or font file.
#include "imaging/TestPattern.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "imaging/Errors.h"

namespace skyfold {

namespace {

struct Glyph {
  char letter;
  const char* rows[7];
};

constexpr Glyph kFont[] = {
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ####", "#    ", "#    ", "#    ", "#    ", "#    ", " ####"}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ####", "#    ", "#    ", "#  ##", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "#####"}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
};

bool Ink(char letter, int column, int row) {
  for (const Glyph& glyph : kFont) {
    if (glyph.letter == letter) return glyph.rows[row][column] == '#';
  }
  return false;
}

constexpr std::string_view kNames[6] = {"LEFT", "FRONT", "RIGHT", "BACK", "TOP", "BOTTOM"};

// Whether face coordinates (u, v) in [−1, 1] (u rightwards, v downwards)
// fall on the face's name, written across the middle.
bool OnLabel(std::string_view name, double u, double v) {
  const double cell = 1.6 / 6;  // a letter and its gap; BOTTOM fills the width
  const double width = cell * static_cast<double>(name.size());
  const double x = (u + width / 2) / cell;
  const double y = (v + cell * 0.7) / (cell * 1.4) * 7;
  if (x < 0 || y < 0 || x >= static_cast<double>(name.size()) || y >= 7) return false;
  const auto index = static_cast<std::size_t>(x);
  const int column = static_cast<int>((x - static_cast<double>(index)) * 6);
  return column < 5 && Ink(name[index], column, static_cast<int>(y));
}

// The face a direction hits (our order) and where on it, as seen from
// inside: side faces upright, the top face touching the front along its
// bottom edge, the bottom face along its top edge.
int FaceOf(double x, double y, double z, double& u, double& v) {
  const double ax = std::fabs(x), ay = std::fabs(y), az = std::fabs(z);
  if (ay >= ax && ay >= az) {
    u = x / ay;
    v = y > 0 ? z / ay : -z / ay;
    return y > 0 ? 4 : 5;
  }
  if (az >= ax) {
    u = z > 0 ? x / az : -x / az;
    v = -y / az;
    return z > 0 ? 1 : 3;
  }
  u = x > 0 ? -z / ax : z / ax;
  v = -y / ax;
  return x > 0 ? 2 : 0;
}

std::uint8_t Level(double value) {
  return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, value * 255))));
}

}  // namespace

Bitmap MakeTestPattern(int width, PoolRef pool) {
  if (width < 2 || width % 2 != 0) throw ArgumentError("Invalid panorama size.");
  const int height = width / 2;
  Bitmap bitmap(width, height, PixelFormat::Bgr24, Uninitialised{}, std::move(pool));
  const double pi = std::acos(-1.0);
  for (int row = 0; row < height; ++row) {
    const double latitude = pi / 2 - (row + 0.5) / height * pi;
    std::uint8_t* out = bitmap.row(row);
    for (int column = 0; column < width; ++column, out += 3) {
      // Longitude 0 (the front) at the centre, +90° (the right) at 3/4.
      const double longitude = (column + 0.5) / width * 2 * pi - pi;
      const double x = std::cos(latitude) * std::sin(longitude);
      const double y = std::sin(latitude);
      const double z = std::cos(latitude) * std::cos(longitude);
      double u = 0, v = 0;
      const int face = FaceOf(x, y, z, u, v);
      // Colour from the direction, softened so the dark writing stands out.
      double red = 0.55 + 0.4 * x, green = 0.55 + 0.4 * y, blue = 0.55 + 0.4 * z;
      const double gu = std::fabs(u * 4 - std::round(u * 4));
      const double gv = std::fabs(v * 4 - std::round(v * 4));
      if (gu < 0.03 || gv < 0.03) red = green = blue = 0.95;
      if (OnLabel(kNames[face], u, v)) red = green = blue = 0.08;
      out[0] = Level(blue);
      out[1] = Level(green);
      out[2] = Level(red);
    }
  }
  return bitmap;
}

}  // namespace skyfold
