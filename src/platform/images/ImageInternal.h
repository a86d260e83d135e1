#pragma once

#include <QImage>

namespace Images {

// A 24-bit picture of that size (the size already checked against the
// limit); raises EImageError when the memory is not there.
QImage AllocateRgb24(int Width, int Height);

// One pixel of 8-bit RGBA merged onto white, into 3 bytes.
inline void MergeOntoWhite(const uchar* Rgba, uchar* Rgb) {
  const unsigned a = Rgba[3];
  const unsigned back = 255 * (255 - a);
  Rgb[0] = static_cast<uchar>((Rgba[0] * a + back + 127) / 255);
  Rgb[1] = static_cast<uchar>((Rgba[1] * a + back + 127) / 255);
  Rgb[2] = static_cast<uchar>((Rgba[2] * a + back + 127) / 255);
}

}  // namespace Images
