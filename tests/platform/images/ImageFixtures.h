#pragma once

// Small pictures made by the tests, in every format the picture layer
// reads: through Qt's writers where Qt has one, byte by byte where not.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QImageWriter>
#include <QList>
#include <QString>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace ImageFixtures {

inline void WriteBytes(const QString& FileName, const QByteArray& Bytes) {
  QFile f(FileName);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  ASSERT_EQ(f.write(Bytes), Bytes.size());
}

// 32 x 24: red top left, green top right, blue bottom left, yellow bottom
// right.
inline QImage Quadrants() {
  QImage image(32, 24, QImage::Format_RGB888);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x)
      image.setPixelColor(x, y, y < 12 ? (x < 16 ? QColor(200, 30, 40) : QColor(20, 180, 60))
                                       : (x < 16 ? QColor(30, 50, 210) : QColor(230, 220, 40)));
  return image;
}

inline QImage Greys() {
  QImage image(32, 24, QImage::Format_RGB888);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) image.setPixelColor(x, y, QColor::fromRgb(x * 8, x * 8, x * 8));
  return image;
}

inline QImage BlackAndWhite() {
  QImage image(30, 20, QImage::Format_RGB888);  // not a multiple of 8 wide
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 30; ++x) image.setPixelColor(x, y, ((x / 4) + (y / 4)) % 2 ? Qt::white : Qt::black);
  return image;
}

// The 16 colours the PCX fixtures put in their header palette.
inline QColor SixteenColour(int I) { return QColor(I * 16, 255 - I * 16, (I * 37) % 256); }

// 19 x 3: the 16 colours, then 3 more of the first.
inline QImage SixteenColours() {
  QImage image(19, 3, QImage::Format_RGB888);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 19; ++x) image.setPixelColor(x, y, SixteenColour((x + y) % 16));
  return image;
}

// Deterministic, photo-like: smooth shapes with some noise.
inline QImage Noise(int W, int H) {
  QImage image(W, H, QImage::Format_RGB888);
  quint32 seed = 0x9E3779B9u ^ quint32(W * 7919 + H);
  for (int y = 0; y < H; ++y) {
    uchar* d = image.scanLine(y);
    for (int x = 0; x < W; ++x, d += 3) {
      seed ^= seed << 13;
      seed ^= seed >> 17;
      seed ^= seed << 5;
      const int n = int(seed % 41) - 20;
      d[0] = uchar(std::clamp((x * 255) / std::max(1, W - 1) + n, 0, 255));
      d[1] = uchar(std::clamp((y * 255) / std::max(1, H - 1) + n, 0, 255));
      d[2] = uchar(std::clamp(((x + y) % 64) * 4 + n, 0, 255));
    }
  }
  return image;
}

inline QByteArray QtBytes(const QImage& Image, const char* Format, int Quality = -1) {
  QByteArray out;
  QBuffer buffer(&out);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, Format);
  writer.setQuality(Quality);
  EXPECT_TRUE(writer.write(Image)) << Format << ": " << writer.errorString().toStdString();
  return out;
}

inline void ExpectNear(const QColor& A, const QColor& B, int Tolerance) {
  EXPECT_NEAR(A.red(), B.red(), Tolerance);
  EXPECT_NEAR(A.green(), B.green(), Tolerance);
  EXPECT_NEAR(A.blue(), B.blue(), Tolerance);
}

inline void ExpectSamePixels(const QImage& A, const QImage& B, int Tolerance) {
  ASSERT_EQ(A.size(), B.size());
  int bad = 0;
  for (int y = 0; y < A.height(); ++y)
    for (int x = 0; x < A.width(); ++x) {
      const QColor a = A.pixelColor(x, y), b = B.pixelColor(x, y);
      if (std::abs(a.red() - b.red()) > Tolerance || std::abs(a.green() - b.green()) > Tolerance ||
          std::abs(a.blue() - b.blue()) > Tolerance) {
        if (++bad <= 3)
          ADD_FAILURE() << "pixel " << x << "," << y << ": " << a.name().toStdString() << " vs " << b.name().toStdString();
      }
    }
  EXPECT_EQ(bad, 0);
}

inline void ExpectQuadrantCentres(const QImage& A, const QImage& B, int Tolerance) {
  ASSERT_EQ(A.size(), B.size());
  for (int qy : {1, 3})
    for (int qx : {1, 3}) ExpectNear(A.pixelColor(A.width() * qx / 4, A.height() * qy / 4), B.pixelColor(B.width() * qx / 4, B.height() * qy / 4), Tolerance);
}

// --- Little-endian helpers -------------------------------------------------------

inline void Put16(QByteArray& B, int V) {
  B.append(char(V & 0xFF));
  B.append(char((V >> 8) & 0xFF));
}
inline void Put32(QByteArray& B, quint32 V) {
  Put16(B, int(V & 0xFFFF));
  Put16(B, int(V >> 16));
}
inline void PutBE32(QByteArray& B, quint32 V) {
  for (int s : {24, 16, 8, 0}) B.append(char((V >> s) & 0xFF));
}

// --- GIF ---------------------------------------------------------------------------

// A GIF of a picture with at most 4 colours, LZW coded with a clear code
// before every pixel (so the code size never grows). TransparentIndex -1
// for none.
inline QByteArray Gif(const QImage& Image, int TransparentIndex) {
  QList<QRgb> palette;
  QList<int> indices;
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x) {
      const QRgb c = Image.pixel(x, y);
      qsizetype i = palette.indexOf(c);
      if (i < 0) {
        palette.append(c);
        i = palette.size() - 1;
      }
      indices.append(int(i));
    }
  EXPECT_LE(palette.size(), 4);
  while (palette.size() < 4) palette.append(qRgb(0, 0, 0));
  QByteArray b("GIF89a");
  Put16(b, Image.width());
  Put16(b, Image.height());
  b.append(char(0x91));  // global table of 4 colours
  b.append('\0');
  b.append('\0');
  for (QRgb c : palette) {
    b.append(char(qRed(c)));
    b.append(char(qGreen(c)));
    b.append(char(qBlue(c)));
  }
  if (TransparentIndex >= 0) {
    b.append("\x21\xF9\x04\x01\x00\x00", 6);
    b.append(char(TransparentIndex));
    b.append('\0');
  }
  b.append(',');
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, Image.width());
  Put16(b, Image.height());
  b.append('\0');
  b.append('\x02');  // minimum code size
  QByteArray codes;
  quint32 acc = 0;
  int bits = 0;
  auto put = [&](int Code) {
    acc |= quint32(Code) << bits;
    bits += 3;
    while (bits >= 8) {
      codes.append(char(acc & 0xFF));
      acc >>= 8;
      bits -= 8;
    }
  };
  for (int i : indices) {
    put(4);  // clear
    put(i);
  }
  put(5);  // end
  if (bits) codes.append(char(acc & 0xFF));
  for (qsizetype at = 0; at < codes.size(); at += 255) {
    const QByteArray block = codes.mid(at, 255);
    b.append(char(block.size()));
    b.append(block);
  }
  b.append('\0');
  b.append(';');
  return b;
}

// --- TGA ---------------------------------------------------------------------------

inline QByteArray TgaHeader(int W, int H, int Bits, int Descriptor) {
  QByteArray b(18, '\0');
  b[2] = 2;  // true colour, stored
  b[12] = char(W & 0xFF);
  b[13] = char(W >> 8);
  b[14] = char(H & 0xFF);
  b[15] = char(H >> 8);
  b[16] = char(Bits);
  b[17] = char(Descriptor);
  return b;
}

inline QByteArray Tga(const QImage& Image, bool Alpha) {
  QByteArray b = TgaHeader(Image.width(), Image.height(), Alpha ? 32 : 24, Alpha ? 0x28 : 0x20);
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x) {
      const QColor c = Image.pixelColor(x, y);
      b.append(char(c.blue()));
      b.append(char(c.green()));
      b.append(char(c.red()));
      if (Alpha) b.append(char(c.alpha()));
    }
  return b;
}

// --- PCX ---------------------------------------------------------------------------

inline QByteArray PcxHeader(int Bits, int Planes, int W, int H, int BytesPerLine, int Encoding) {
  QByteArray b(128, '\0');
  b[0] = 0x0A;
  b[1] = 5;
  b[2] = char(Encoding);
  b[3] = char(Bits);
  auto put = [&](int At, int V) {
    b[At] = char(V & 0xFF);
    b[At + 1] = char((V >> 8) & 0xFF);
  };
  put(4, 0);
  put(6, 0);
  put(8, W - 1);
  put(10, H - 1);
  put(12, 72);
  put(14, 72);
  for (int i = 0; i < 16; ++i) {
    const QColor c = SixteenColour(i);
    b[16 + 3 * i] = char(c.red());
    b[17 + 3 * i] = char(c.green());
    b[18 + 3 * i] = char(c.blue());
  }
  b[65] = char(Planes);
  put(66, BytesPerLine);
  put(68, 1);
  return b;
}

// Run-length codes one scan line as PCX writers do: runs of up to 63, and
// every byte of 0xC0 or more as a run of one.
inline QByteArray PcxRle(const QByteArray& Line) {
  QByteArray out;
  for (qsizetype i = 0; i < Line.size();) {
    qsizetype n = 1;
    while (i + n < Line.size() && n < 63 && Line[i + n] == Line[i]) ++n;
    if (n > 1 || (uchar(Line[i]) & 0xC0) == 0xC0) out.append(char(0xC0 | n));
    out.append(Line[i]);
    i += n;
  }
  return out;
}

// Adds the lines (each of planes x bytes per line) to the header.
inline QByteArray PcxFile(QByteArray Header, const QList<QByteArray>& Lines, bool Rle) {
  for (const QByteArray& line : Lines) Header.append(Rle ? PcxRle(line) : line);
  return Header;
}

inline QByteArray Pcx24(const QImage& Image, bool Rle) {
  const int bpl = (Image.width() + 1) & ~1;
  QList<QByteArray> lines;
  for (int y = 0; y < Image.height(); ++y) {
    QByteArray line(bpl * 3, '\0');
    for (int x = 0; x < Image.width(); ++x) {
      const QColor c = Image.pixelColor(x, y);
      line[x] = char(c.red());
      line[bpl + x] = char(c.green());
      line[2 * bpl + x] = char(c.blue());
    }
    lines.append(line);
  }
  return PcxFile(PcxHeader(8, 3, Image.width(), Image.height(), bpl, Rle ? 1 : 0), lines, Rle);
}

// 8 bits: with a palette of the picture's colours at the end, or without
// one (the picture must then be grey: the index is the grey level).
inline QByteArray Pcx8(const QImage& Image, bool WithPalette) {
  const int bpl = (Image.width() + 1) & ~1;
  QList<QRgb> palette;
  QList<QByteArray> lines;
  for (int y = 0; y < Image.height(); ++y) {
    QByteArray line(bpl, '\0');
    for (int x = 0; x < Image.width(); ++x) {
      const QRgb c = Image.pixel(x, y);
      qsizetype i = qRed(c);
      if (WithPalette) {
        i = palette.indexOf(c);
        if (i < 0) {
          palette.append(c);
          i = palette.size() - 1;
        }
      }
      line[x] = char(i);
    }
    lines.append(line);
  }
  QByteArray b = PcxFile(PcxHeader(8, 1, Image.width(), Image.height(), bpl, 1), lines, true);
  if (!WithPalette) b[1] = 4;  // before version 5, 8-bit files could be grey
  if (WithPalette) {
    b.append('\x0C');
    for (int i = 0; i < 256; ++i) {
      const QRgb c = i < palette.size() ? palette[i] : qRgb(0, 0, 0);
      b.append(char(qRed(c)));
      b.append(char(qGreen(c)));
      b.append(char(qBlue(c)));
    }
  }
  return b;
}

inline int SixteenIndex(const QImage& Image, int X, int Y) {
  for (int i = 0; i < 16; ++i)
    if (Image.pixelColor(X, Y) == SixteenColour(i)) return i;
  ADD_FAILURE() << "not one of the 16 colours";
  return 0;
}

inline QByteArray PcxPlanar16(const QImage& Image) {
  const int bpl = ((Image.width() + 7) / 8 + 1) & ~1;
  QList<QByteArray> lines;
  for (int y = 0; y < Image.height(); ++y) {
    QByteArray line(bpl * 4, '\0');
    for (int x = 0; x < Image.width(); ++x) {
      const int index = SixteenIndex(Image, x, y);
      for (int p = 0; p < 4; ++p)
        if (index & (1 << p)) line[p * bpl + x / 8] = char(uchar(line[p * bpl + x / 8]) | (0x80 >> (x % 8)));
    }
    lines.append(line);
  }
  return PcxFile(PcxHeader(1, 4, Image.width(), Image.height(), bpl, 1), lines, true);
}

inline QByteArray PcxPacked16(const QImage& Image) {
  const int bpl = ((Image.width() + 1) / 2 + 1) & ~1;
  QList<QByteArray> lines;
  for (int y = 0; y < Image.height(); ++y) {
    QByteArray line(bpl, '\0');
    for (int x = 0; x < Image.width(); ++x)
      line[x / 2] = char(uchar(line[x / 2]) | (SixteenIndex(Image, x, y) << (x % 2 ? 0 : 4)));
    lines.append(line);
  }
  return PcxFile(PcxHeader(4, 1, Image.width(), Image.height(), bpl, 1), lines, true);
}

inline QByteArray PcxMono(const QImage& Image) {
  const int bpl = ((Image.width() + 7) / 8 + 1) & ~1;
  QList<QByteArray> lines;
  for (int y = 0; y < Image.height(); ++y) {
    QByteArray line(bpl, '\0');
    for (int x = 0; x < Image.width(); ++x)
      if (Image.pixelColor(x, y) == QColor(Qt::white)) line[x / 8] = char(uchar(line[x / 8]) | (0x80 >> (x % 8)));
    lines.append(line);
  }
  return PcxFile(PcxHeader(1, 1, Image.width(), Image.height(), bpl, 1), lines, true);
}

inline QByteArray HugePcx(int W, int H) {
  QByteArray b = PcxHeader(8, 3, W, H, W + (W & 1), 1);
  b.append(QByteArray(4096, char(0xFF)));
  return b;
}

// --- Crafted headers of other formats ----------------------------------------------

inline QByteArray HugeBmp(int W, int H) {
  QByteArray b("BM");
  Put32(b, 54 + 64);
  Put32(b, 0);
  Put32(b, 54);
  Put32(b, 40);
  Put32(b, quint32(W));
  Put32(b, quint32(H));
  Put16(b, 1);
  Put16(b, 24);
  Put32(b, 0);
  Put32(b, 0);
  Put32(b, 2835);
  Put32(b, 2835);
  Put32(b, 0);
  Put32(b, 0);
  b.append(QByteArray(64, '\x55'));
  return b;
}

inline QByteArray HugeGif(int W, int H) {
  QByteArray b("GIF89a");
  Put16(b, W);
  Put16(b, H);
  b.append(char(0x91));
  b.append('\0');
  b.append('\0');
  b.append(QByteArray(12, '\0'));
  b.append(',');
  Put16(b, 0);
  Put16(b, 0);
  Put16(b, W);
  Put16(b, H);
  b.append('\0');
  b.append('\x02');
  b.append("\x02\x4C\x01\x00;", 5);
  return b;
}

inline QByteArray HugeTiff(quint32 W, quint32 H) {
  QByteArray b("II*\0", 4);
  Put32(b, 8);
  const int entries = 8;
  Put16(b, entries);
  auto entry = [&](int Tag, int Type, quint32 Value) {
    Put16(b, Tag);
    Put16(b, Type);
    Put32(b, 1);
    if (Type == 3) {
      Put16(b, int(Value));
      Put16(b, 0);
    } else {
      Put32(b, Value);
    }
  };
  const quint32 data = 8 + 2 + entries * 12 + 4;
  entry(256, 4, W);    // width
  entry(257, 4, H);    // height
  entry(258, 3, 8);    // bits per sample
  entry(259, 3, 1);    // no compression
  entry(262, 3, 1);    // black is zero
  entry(273, 4, data); // strip offset
  entry(278, 4, H);    // rows per strip
  entry(279, 4, 64);   // strip bytes
  Put32(b, 0);
  b.append(QByteArray(64, '\x10'));
  return b;
}

inline QByteArray HugeTga(int W, int H) {
  QByteArray b = TgaHeader(W, H, 24, 0x20);
  b.append(QByteArray(64, '\x20'));
  return b;
}

}  // namespace ImageFixtures
