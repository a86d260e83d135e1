// PCX pictures: 1 bit (1 to 4 planes), 2, 4 and 8 bits in one plane, and
// 24 bits in three planes; run-length encoded or stored.
//
// The 128-byte header: 0 maker (0x0A), 1 version, 2 encoding (1 = RLE),
// 3 bits per pixel and plane, 4..11 xmin, ymin, xmax, ymax, 16..63 the
// 16-colour palette, 65 planes, 66..67 bytes per line and plane. An 8-bit
// picture may end with 0x0C and a 256-colour palette of 768 bytes.

#include "platform/images/ImageInternal.h"
#include "platform/images/Images.h"

#include <algorithm>
#include <array>

namespace Images {

namespace {

constexpr qsizetype kHeaderSize = 128;
constexpr qsizetype kPalette256Size = 769;

// The colours of version 3 files, which carry no palette of their own.
constexpr uchar kEgaPalette[48] = {0,   0,   0,   0,   0,   170, 0,   170, 0,   0,   170, 170, 170, 0,   0,   170,
                                   0,   170, 170, 85,  0,   170, 170, 170, 85,  85,  85,  85,  85,  255, 85,  255,
                                   85,  85,  255, 255, 255, 85,  85,  255, 85,  255, 255, 255, 85,  255, 255, 255};

[[noreturn]] void Fail(const char* Why) {
  throw EImageError(QStringLiteral("Unable to read the PCX picture: %1").arg(QLatin1String(Why)));
}

// Takes the bytes of one scan line after the other; a run may go on into
// the next line, as some writers let it.
class TPcxDecoder {
public:
  TPcxDecoder(const uchar* Data, qsizetype Size, bool Rle) : FData(Data), FSize(Size), FRle(Rle) {}

  void Line(uchar* Out, qsizetype Length) {
    qsizetype filled = 0;
    while (filled < Length) {
      if (FRun > 0) {
        const qsizetype n = std::min<qsizetype>(FRun, Length - filled);
        std::fill_n(Out + filled, n, FRunValue);
        filled += n;
        FRun -= static_cast<int>(n);
        continue;
      }
      if (FPos >= FSize) Fail("the picture data ends early");
      const uchar b = FData[FPos++];
      if (FRle && (b & 0xC0) == 0xC0) {
        if (FPos >= FSize) Fail("the picture data ends early");
        FRun = b & 0x3F;
        FRunValue = FData[FPos++];
      } else {
        Out[filled++] = b;
      }
    }
  }

private:
  const uchar* FData;
  qsizetype FSize;
  bool FRle;
  qsizetype FPos = 0;
  int FRun = 0;
  uchar FRunValue = 0;
};

}  // namespace

QImage ReadPcx(const QByteArray& Data, const TReadOptions& Options) {
  if (Data.size() < kHeaderSize) Fail("the header is incomplete");
  const uchar* h = reinterpret_cast<const uchar*>(Data.constData());
  auto u16 = [h](int At) { return h[At] | (h[At + 1] << 8); };
  const int version = h[1];
  const int encoding = h[2];
  const int bits = h[3];
  const int planes = h[65];
  const int bytesPerLine = u16(66);
  if (h[0] != 0x0A) Fail("not a PCX file");
  if (encoding > 1) Fail("unknown encoding");
  const bool indexedPlanes = bits == 1 && planes >= 1 && planes <= 4;
  const bool packed = (bits == 2 || bits == 4 || bits == 8) && planes == 1;
  const bool rgb = bits == 8 && planes == 3;
  if (!indexedPlanes && !packed && !rgb) Fail("unsupported number of bits or planes");
  const int width = u16(8) - u16(4) + 1;
  const int height = u16(10) - u16(6) + 1;
  CheckSize(width, height);
  if (qint64(bytesPerLine) * 8 < qint64(width) * bits) Fail("the lines are shorter than the picture");

  // Colours.
  std::array<uchar, 768> palette{};
  qsizetype dataEnd = Data.size();
  if (bits == 8 && planes == 1) {
    if (Data.size() >= kHeaderSize + kPalette256Size && h[Data.size() - kPalette256Size] == 0x0C) {
      std::copy_n(h + Data.size() - 768, 768, palette.begin());
      dataEnd = Data.size() - kPalette256Size;
    } else if (version >= 5) {
      // Version 5 always ends with its palette: a file without one was cut.
      Fail("the palette is missing");
    } else {
      for (int i = 0; i < 256; ++i) palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = static_cast<uchar>(i);
    }
  } else if (bits == 1 && planes == 1) {
    palette[3] = palette[4] = palette[5] = 255;  // black and white
  } else {
    const bool none = version == 3 || std::all_of(h + 16, h + 64, [](uchar c) { return c == 0; });
    std::copy_n(none ? kEgaPalette : h + 16, 48, palette.begin());
  }

  // Refuse data too short for the picture before anything is allocated:
  // a run of two bytes gives at most 63.
  const qint64 lineBytes = qint64(bytesPerLine) * planes;
  const qint64 needed = lineBytes * height;
  const qint64 available = dataEnd - kHeaderSize;
  const qint64 most = encoding == 1 ? (available + 1) / 2 * 63 : available;
  if (most < needed) Fail("the picture data ends early");

  QImage image = AllocateRgb24(width, height);
  QByteArray lineBuffer(static_cast<qsizetype>(lineBytes), '\0');
  uchar* line = reinterpret_cast<uchar*>(lineBuffer.data());
  TPcxDecoder decoder(h + kHeaderSize, dataEnd - kHeaderSize, encoding == 1);
  int lastPercent = 0;
  if (Options.Progress) Options.Progress(0);
  for (int y = 0; y < height; ++y) {
    decoder.Line(line, lineBytes);
    uchar* d = image.scanLine(y);
    if (rgb) {
      for (int x = 0; x < width; ++x, d += 3) {
        d[0] = line[x];
        d[1] = line[bytesPerLine + x];
        d[2] = line[2 * bytesPerLine + x];
      }
    } else {
      for (int x = 0; x < width; ++x, d += 3) {
        int index = 0;
        if (indexedPlanes) {
          for (int p = 0; p < planes; ++p)
            index |= ((line[p * bytesPerLine + x / 8] >> (7 - x % 8)) & 1) << p;
        } else if (bits == 8) {
          index = line[x];
        } else {
          const int perByte = 8 / bits;
          index = (line[x / perByte] >> ((perByte - 1 - x % perByte) * bits)) & ((1 << bits) - 1);
        }
        std::copy_n(palette.begin() + 3 * index, 3, d);
      }
    }
    if (Options.Progress) {
      const int percent = static_cast<int>(qint64(y + 1) * 100 / height);
      if (percent != lastPercent) Options.Progress(lastPercent = percent);
    }
  }
  return image;
}

}  // namespace Images
