#pragma once

// Pictures made with libjpeg and libpng directly, for what our own writers
// never produce: interlaced PNG, CMYK and progressive JPEG, EXIF blocks,
// crafted sizes.

#include <QByteArray>

namespace ImageFixtures {

// 9 x 9, Adam7 interlaced; pixel (x, y) is (20x, 20y, 100).
QByteArray InterlacedPng();
// 16 x 16 of pure red, stored as Adobe (inverted) CMYK.
QByteArray CmykJpeg();
// The JPEG with an EXIF block of that orientation in front.
QByteArray WithExifOrientation(const QByteArray& Jpeg, int Orientation, bool LittleEndian);
// A JPEG whose frame header claims that size.
QByteArray HugeJpeg(int W, int H);
// A PNG whose header claims that size.
QByteArray HugePng(quint32 W, quint32 H);
// A progressive JPEG of that many scans (its last scan repeated).
QByteArray ManyScansJpeg(int Scans);

}  // namespace ImageFixtures
