#include "Printing/printing/BandedPrintU.h"

#include "platform/Dialogs.h"
#include "platform/Printer.h"

#include <QGuiApplication>
#include <QPainter>
#include <QRect>
#include <QScreen>

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
constexpr int kCoreHeaderSize = 12;

uint16_t U16(const char* P) {
  const auto* b = reinterpret_cast<const unsigned char*>(P);
  return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
uint32_t U32(const char* P) {
  const auto* b = reinterpret_cast<const unsigned char*>(P);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}
int32_t I32(const char* P) { return static_cast<int32_t>(U32(P)); }

void Put16(char* P, uint32_t V) {
  P[0] = static_cast<char>(V & 0xFF);
  P[1] = static_cast<char>((V >> 8) & 0xFF);
}
void Put32(char* P, uint32_t V) {
  Put16(P, V & 0xFFFF);
  Put16(P + 2, V >> 16);
}

qint64 StrideOf(qint64 Width, int BitCount) { return (Width * BitCount + 31) / 32 * 4; }

// The fields of an information header the printer works with.
struct THeader {
  int Width = 0;
  int Height = 0;  // negative: top-down
  int BitCount = 0;
  uint32_t Compression = BI_RGB;
  uint32_t SizeImage = 0;
  int ColorEntries = 0;  // entries of 4 bytes after the header (masks included)
};

void ShowBad(const char* AMessage) { Dialogs::ShowMessage(QString::fromLatin1(AMessage)); }

// Runs of BMP run-length data decoded into an uncompressed bottom-up block.
// Pixels the data skips keep the fill index. False on data that ends early
// or writes outside a row or the image.
bool ExpandRLE(const QByteArray& AData, qint64 ALength, int ABitCount, int AWidth, int AHeight, qint64 AStride,
               uint8_t AFill, QByteArray& AOut) {
  const auto* d = reinterpret_cast<const unsigned char*>(AData.constData());
  const qint64 n = std::min<qint64>(ALength, AData.size());
  char fillByte = static_cast<char>(ABitCount == 4 ? ((AFill & 0x0F) << 4) | (AFill & 0x0F) : AFill);
  AOut.fill(fillByte);
  auto* out = reinterpret_cast<unsigned char*>(AOut.data());
  auto put = [&](qint64 x, qint64 y, unsigned v) {
    unsigned char* row = out + y * AStride;
    if (ABitCount == 8) {
      row[x] = static_cast<unsigned char>(v);
    } else {
      unsigned char& b = row[x / 2];
      if (x % 2 == 0)
        b = static_cast<unsigned char>((b & 0x0F) | ((v & 0x0F) << 4));
      else
        b = static_cast<unsigned char>((b & 0xF0) | (v & 0x0F));
    }
  };
  qint64 x = 0, y = 0, p = 0;
  for (;;) {
    if (p + 2 > n) return y >= AHeight;  // the data may end after the last row without an end mark
    const unsigned a = d[p], b = d[p + 1];
    p += 2;
    if (a > 0) {  // a run of one index (two alternating ones at 4 bits)
      if (y >= AHeight || x + a > AWidth) return false;
      for (unsigned k = 0; k < a; ++k, ++x)
        put(x, y, ABitCount == 8 ? b : (k % 2 == 0 ? b >> 4 : b & 0x0F));
      continue;
    }
    switch (b) {
      case 0:  // end of line
        x = 0;
        ++y;
        break;
      case 1:  // end of bitmap
        return true;
      case 2: {  // move right and up
        if (p + 2 > n) return false;
        x += d[p];
        y += d[p + 1];
        p += 2;
        if (x > AWidth || y > AHeight) return false;
        break;
      }
      default: {  // b literal pixels, padded to 16 bits
        const qint64 bytes = ABitCount == 8 ? b : (b + 1) / 2;
        const qint64 padded = (bytes + 1) / 2 * 2;
        if (p + bytes > n) return false;
        if (y >= AHeight || x + b > AWidth) return false;
        for (unsigned k = 0; k < b; ++k, ++x) {
          const unsigned v = ABitCount == 8 ? d[p + k] : (k % 2 == 0 ? d[p + k / 2] >> 4 : d[p + k / 2] & 0x0F);
          put(x, y, v);
        }
        p += std::min(padded, n - p);
        break;
      }
    }
  }
}

// Reads pixel Col of a row of the given depth as a raw value.
inline uint32_t PixelAt(const unsigned char* Row, qint64 Col, int BitCount) {
  switch (BitCount) {
    case 1: return (Row[Col / 8] >> (7 - Col % 8)) & 1;
    case 4: return Col % 2 == 0 ? Row[Col / 2] >> 4 : Row[Col / 2] & 0x0F;
    case 8: return Row[Col];
    case 16: return static_cast<uint32_t>(Row[Col * 2] | (Row[Col * 2 + 1] << 8));
    case 24: {
      const unsigned char* p = Row + Col * 3;
      return static_cast<uint32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
    }
    default: {
      const unsigned char* p = Row + Col * 4;
      return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
             (static_cast<uint32_t>(p[3]) << 24);
    }
  }
}

inline void SetPixel(unsigned char* Row, qint64 Col, int BitCount, uint32_t V) {
  switch (BitCount) {
    case 1: {
      const unsigned char bit = static_cast<unsigned char>(0x80 >> (Col % 8));
      Row[Col / 8] = static_cast<unsigned char>(V ? Row[Col / 8] | bit : Row[Col / 8] & ~bit);
      break;
    }
    case 4: {
      unsigned char& b = Row[Col / 2];
      b = Col % 2 == 0 ? static_cast<unsigned char>((b & 0x0F) | (V << 4)) : static_cast<unsigned char>((b & 0xF0) | V);
      break;
    }
    case 8: Row[Col] = static_cast<unsigned char>(V); break;
    case 16: Put16(reinterpret_cast<char*>(Row + Col * 2), V); break;
    case 24:
      Row[Col * 3] = static_cast<unsigned char>(V & 0xFF);
      Row[Col * 3 + 1] = static_cast<unsigned char>((V >> 8) & 0xFF);
      Row[Col * 3 + 2] = static_cast<unsigned char>((V >> 16) & 0xFF);
      break;
    default: Put32(reinterpret_cast<char*>(Row + Col * 4), V); break;
  }
}

// One colour channel of a bit-field mask.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  uint64_t Max = 0;
  explicit TChannel(uint32_t AMask) : Mask(AMask) {
    if (!Mask) return;
    while (!((Mask >> Shift) & 1)) ++Shift;
    Max = Mask >> Shift;
  }
  int Value(uint32_t Pixel) const {
    if (!Max) return 0;
    return static_cast<int>(static_cast<uint64_t>((Pixel & Mask) >> Shift) * 255 / Max);
  }
};

// A tile bitmap (the header and colour table of the source, uncompressed,
// top-down) as the picture the printer takes.
QImage TileToImage(const THeader& H, const QByteArray& Info, const QByteArray& Bits, int W, int Rows) {
  QImage image(W, Rows, QImage::Format_RGB32);
  if (image.isNull()) return image;
  const qint64 stride = StrideOf(W, H.BitCount);
  const char* table = Info.constData() + kInfoHeaderSize;
  const int entries = H.ColorEntries;
  std::vector<QRgb> palette;
  if (H.BitCount <= 8) {
    palette.assign(static_cast<size_t>(1) << H.BitCount, qRgb(0, 0, 0));  // indices past the table print black
    for (int k = 0; k < entries && k < static_cast<int>(palette.size()); ++k) {
      const auto* q = reinterpret_cast<const unsigned char*>(table + 4 * k);
      palette[static_cast<size_t>(k)] = qRgb(q[2], q[1], q[0]);
    }
  }
  const bool fields = H.Compression == BI_BITFIELDS;
  const TChannel red(fields ? U32(table) : (H.BitCount == 16 ? 0x7C00u : 0xFF0000u));
  const TChannel green(fields ? U32(table + 4) : (H.BitCount == 16 ? 0x03E0u : 0x00FF00u));
  const TChannel blue(fields ? U32(table + 8) : (H.BitCount == 16 ? 0x001Fu : 0x0000FFu));
  for (int i = 0; i < Rows; ++i) {
    const auto* row = reinterpret_cast<const unsigned char*>(Bits.constData()) + i * stride;
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(i));
    for (int j = 0; j < W; ++j) {
      const uint32_t v = PixelAt(row, j, H.BitCount);
      if (H.BitCount <= 8)
        dst[j] = palette[v];
      else
        dst[j] = qRgb(red.Value(v), green.Value(v), blue.Value(v));
    }
  }
  return image;
}

inline qint64 ClampIndex(long double V, qint64 Lo, qint64 Hi) {
  if (!(V >= static_cast<long double>(Lo))) return Lo;  // also NaN
  if (V >= static_cast<long double>(Hi)) return Hi;
  return static_cast<qint64>(V);
}

// Everything one picture's tiles share.
struct TTileJob {
  const TPrintDIBRequest* Request = nullptr;
  THeader Header;            // of the source, colour table included in Info
  QByteArray Info;           // 40-byte header and colour table
  const unsigned char* First = nullptr;  // the top row
  qint64 Step = 0;                       // from one row to the next one down
  long double Rx = 1, Ry = 1;  // source pixels per destination pixel
  int Fx = 1, Fy = 1;
  bool DDB = false;  // device-dependent bitmaps for this and later tiles
  bool FallbackToDDB = true;
  qint64 MaxBlockSize = 0;

  const unsigned char* Row(qint64 R) const { return First + R * Step; }
};

// Builds the tile bitmap of Cols x Rows source-depth pixels, sampling source
// row RowAt(i) and column ColAt[j], calling the progress callback after rows
// 0, 64, 128...; then sends it into Dest. False to stop.
template <class TRowAt>
bool SendTile(TTileJob& J, int Tile, int Tiles, int Cols, int Rows, const std::vector<qint64>& ColAt, TRowAt RowAt,
              const QRect& Dest) {
  const TPrintDIBRequest& R = *J.Request;
  const qint64 stride = StrideOf(Cols, J.Header.BitCount);
  if (stride * Rows > J.MaxBlockSize) return false;
  QByteArray bits(static_cast<qsizetype>(stride * Rows), '\0');
  for (int i = 0; i < Rows; ++i) {
    const unsigned char* src = J.Row(RowAt(i));
    auto* dst = reinterpret_cast<unsigned char*>(bits.data()) + i * stride;
    for (int j = 0; j < Cols; ++j) SetPixel(dst, j, J.Header.BitCount, PixelAt(src, ColAt[static_cast<size_t>(j)], J.Header.BitCount));
    if (i % 64 == 0 && R.Progress && !R.Progress(Tile, Tiles)) return false;
  }
  const QImage image = TileToImage(J.Header, J.Info, bits, Cols, Rows);
  if (image.isNull()) return false;
  TPrinter& printer = Printer();
  bool ok = true;
  if (!J.DDB) {
    const int lines = printer.StretchDIBits(R.Canvas, Dest, image);
    if (lines != Rows) {
      if (J.FallbackToDDB)
        J.DDB = true;
      else
        ok = false;
    }
  }
  if (ok && J.DDB) ok = printer.DrawDDB(R.Canvas, Dest, image);
  // Flushing the graphics queue is nothing to do here: the canvas takes
  // every drawing at once.
  if (!ok) return false;
  return !R.Progress || R.Progress(Tile, Tiles);
}

// The default tile: sampled at the size it takes on the printer (divided by
// the scale factors) and stretched by them.
bool DefaultTile(TTileJob& J, const QRect& T, int Tile, int Tiles) {
  const TPrintDIBRequest& R = *J.Request;
  const int cols = std::max(1, T.width() / J.Fx);
  const int rows = std::max(1, T.height() / J.Fy);
  const qint64 sx = R.Src.X, sy = R.Src.Y;
  const qint64 lastCol = sx + R.Src.Width - 1, lastRow = sy + R.Src.Height - 1;
  const long double x0 = static_cast<long double>(T.left() - static_cast<qint64>(R.Dest.X)) * J.Rx;
  const long double y0 = static_cast<long double>(T.top() - static_cast<qint64>(R.Dest.Y)) * J.Ry;
  std::vector<qint64> colAt(static_cast<size_t>(cols));
  for (int j = 0; j < cols; ++j) colAt[static_cast<size_t>(j)] = ClampIndex(x0 + j * J.Fx * J.Rx + sx, sx, lastCol);
  auto rowAt = [&](int i) { return ClampIndex(y0 + i * J.Fy * J.Ry + sy, sy, lastRow); };
  return SendTile(J, Tile, Tiles, cols, rows, colAt, rowAt, QRect(T.left(), T.top(), cols * J.Fx, rows * J.Fy));
}

// The scale-on-printer tile: sampled at the picture's resolution and
// stretched by the printer onto the whole tile.
bool ScaleOnPrinterTile(TTileJob& J, const QRect& T, int Tile, int Tiles) {
  const TPrintDIBRequest& R = *J.Request;
  const int cols = static_cast<int>(std::clamp<qint64>(ClampIndex(T.width() * J.Rx / J.Fx, 0, INT_MAX), 1, INT_MAX));
  const int rows = static_cast<int>(std::clamp<qint64>(ClampIndex(T.height() * J.Ry / J.Fy, 0, INT_MAX), 1, INT_MAX));
  const qint64 sx = R.Src.X, sy = R.Src.Y;
  const qint64 lastCol = sx + R.Src.Width - 1, lastRow = sy + R.Src.Height - 1;
  const qint64 x0 = ClampIndex(static_cast<long double>(T.left() - static_cast<qint64>(R.Dest.X)) * J.Rx, 0, INT_MAX);
  const qint64 y0 = ClampIndex(static_cast<long double>(T.top() - static_cast<qint64>(R.Dest.Y)) * J.Ry, 0, INT_MAX);
  if (static_cast<qint64>(cols) * rows > J.MaxBlockSize) return false;
  std::vector<qint64> colAt(static_cast<size_t>(cols));
  for (int j = 0; j < cols; ++j) colAt[static_cast<size_t>(j)] = std::min(x0 + qint64(j) * J.Fx + sx, lastCol);
  auto rowAt = [&](int i) { return std::min(y0 + qint64(i) * J.Fy + sy, lastRow); };
  return SendTile(J, Tile, Tiles, cols, rows, colAt, rowAt, T);
}

}  // namespace

QByteArray ImageToBmp(const QImage& AImage) {
  if (AImage.isNull() || AImage.width() <= 0 || AImage.height() <= 0) return QByteArray();
  const QImage image = AImage.format() == QImage::Format_RGB888 ? AImage : AImage.convertToFormat(QImage::Format_RGB888);
  const qint64 stride = StrideOf(image.width(), 24);
  const qint64 size = stride * image.height();
  const qint64 total = kFileHeaderSize + kInfoHeaderSize + size;
  if (total > INT_MAX) return QByteArray();
  QByteArray bmp(static_cast<qsizetype>(total), '\0');
  char* p = bmp.data();
  p[0] = 'B';
  p[1] = 'M';
  Put32(p + 2, static_cast<uint32_t>(total));
  Put32(p + 10, kFileHeaderSize + kInfoHeaderSize);
  char* h = p + kFileHeaderSize;
  Put32(h, kInfoHeaderSize);
  Put32(h + 4, static_cast<uint32_t>(image.width()));
  Put32(h + 8, static_cast<uint32_t>(image.height()));
  Put16(h + 12, 1);
  Put16(h + 14, 24);
  Put32(h + 16, BI_RGB);
  Put32(h + 20, static_cast<uint32_t>(size));
  Put32(h + 24, 2835);  // 72 dpi
  Put32(h + 28, 2835);
  char* bits = h + kInfoHeaderSize;
  for (int y = 0; y < image.height(); ++y) {
    const uchar* src = image.constScanLine(image.height() - 1 - y);
    char* dst = bits + y * stride;
    for (int x = 0; x < image.width(); ++x) {
      dst[3 * x] = static_cast<char>(src[3 * x + 2]);
      dst[3 * x + 1] = static_cast<char>(src[3 * x + 1]);
      dst[3 * x + 2] = static_cast<char>(src[3 * x]);
    }
  }
  return bmp;
}

bool BmpToDib(const QByteArray& ABmp, TDib& ADib) {
  ADib = TDib();
  if (ABmp.size() < kFileHeaderSize + kCoreHeaderSize) return false;
  const char* p = ABmp.constData();
  if (p[0] != 'B' || p[1] != 'M') return false;
  const qint64 offBits = U32(p + 10);
  const qint64 headerSize = U32(p + kFileHeaderSize);
  if (headerSize != kInfoHeaderSize && headerSize != kCoreHeaderSize) return false;
  if (offBits < kFileHeaderSize + headerSize || offBits >= ABmp.size()) return false;
  const char* h = p + kFileHeaderSize;
  if (headerSize == kInfoHeaderSize) {
    if (ABmp.size() < kFileHeaderSize + kInfoHeaderSize) return false;
    ADib.Width = I32(h + 4);
    ADib.Height = I32(h + 8);
  } else {
    ADib.Width = U16(h + 4);
    ADib.Height = U16(h + 6);
  }
  if (ADib.Width <= 0 || ADib.Height == 0 || ADib.Height == INT_MIN) return false;
  try {
    ADib.Info = ABmp.mid(kFileHeaderSize, static_cast<qsizetype>(offBits - kFileHeaderSize));
    ADib.Bits = ABmp.mid(static_cast<qsizetype>(offBits));
  } catch (const std::bad_alloc&) {
    ADib = TDib();
    return false;
  }
  return true;
}

bool GraphicToDIB(const QImage& AGraphic, TDib& ADib) {
  try {
    return BmpToDib(ImageToBmp(AGraphic), ADib);
  } catch (const std::bad_alloc&) {
    ADib = TDib();
    return false;
  }
}

bool PrinterPageInfo(int& AWidth, int& AHeight) {
  AWidth = Printer().PageWidth();
  AHeight = Printer().PageHeight();
  return AWidth > 0 && AHeight > 0;
}

void TBandedPrinter::SetScaleFactors(int X, int Y) {
  FScaleX = std::max(1, X);
  FScaleY = std::max(1, Y);
}

int TBandedPrinter::PrintDIBRect(const TPrintDIBRequest& ARequest) {
  const TPrintDIBRequest& R = ARequest;
  const QByteArray& info = R.Info;

  // 1. The header and the rectangles.
  THeader h;
  qint64 headerSize = info.size() >= 4 ? U32(info.constData()) : 0;
  bool valid = false;
  int planes = 0;
  qint64 colorsUsed = 0;
  if (headerSize == kInfoHeaderSize && info.size() >= kInfoHeaderSize) {
    const char* p = info.constData();
    h.Width = I32(p + 4);
    h.Height = I32(p + 8);
    planes = U16(p + 12);
    h.BitCount = U16(p + 14);
    h.Compression = U32(p + 16);
    h.SizeImage = U32(p + 20);
    colorsUsed = U32(p + 32);
    const int b = h.BitCount;
    valid = h.Width > 0 && h.Height != 0 && h.Height != INT_MIN && planes == 1 &&
            (b == 1 || b == 4 || b == 8 || b == 16 || b == 24 || b == 32);
    switch (h.Compression) {
      case BI_RGB: break;
      case BI_RLE8:
      case BI_RLE4:
        valid = valid && b == (h.Compression == BI_RLE8 ? 8 : 4) && h.SizeImage != 0 && h.Height > 0;
        break;
      case BI_BITFIELDS: valid = valid && (b == 16 || b == 32); break;
      default: valid = false;
    }
  } else if (headerSize == kCoreHeaderSize && info.size() >= kCoreHeaderSize) {
    const char* p = info.constData();
    h.Width = U16(p + 4);
    h.Height = U16(p + 6);
    planes = U16(p + 8);
    h.BitCount = U16(p + 10);
    const int b = h.BitCount;
    valid = h.Width > 0 && h.Height > 0 && planes == 1 && (b == 1 || b == 4 || b == 8 || b == 24);
  }
  valid = valid && !R.Bits.isEmpty() && R.Src.X >= 0 && R.Src.Y >= 0 && R.Src.Width > 0 && R.Src.Height > 0 &&
          R.Dest.Width > 0 && R.Dest.Height > 0;
  if (!valid) {
    ShowBad("Bad param dib header");
    return brBadParameter;
  }

  // 2. Colour table, row stride and image size.
  const bool core = headerSize == kCoreHeaderSize;
  qint64 entries = 0;  // colour-table entries
  if (h.BitCount <= 8)
    entries = core || colorsUsed == 0 ? (qint64(1) << h.BitCount) : colorsUsed;
  else
    entries = (core ? 0 : colorsUsed) + (h.Compression == BI_BITFIELDS ? 3 : 0);
  const qint64 tableBytes = entries * (core ? 3 : 4);
  const qint64 rows = h.Height < 0 ? -qint64(h.Height) : h.Height;
  const qint64 stride = StrideOf(h.Width, h.BitCount);
  const qint64 imageSize = stride * rows;
  if ((h.BitCount <= 8 && entries <= 0) || tableBytes < 0 || entries * 4 > INT_MAX - kInfoHeaderSize || stride <= 0 ||
      imageSize <= 0 || imageSize > INT_MAX) {
    ShowBad("Bad param srcbitmap");
    return brBadParameter;
  }
  h.ColorEntries = static_cast<int>(entries);

  // 3. A copy of the header and its colour table (a core header becomes an
  // information header with a 4-byte colour table).
  if (info.size() < headerSize + tableBytes) return brReadFailed;  // the table is shorter than its count
  QByteArray work;
  try {
    work = QByteArray(static_cast<qsizetype>(kInfoHeaderSize + entries * 4), '\0');
  } catch (const std::bad_alloc&) {
    return brOutOfMemory;
  }
  {
    char* w = work.data();
    const char* src = info.constData();
    if (core) {
      Put32(w, kInfoHeaderSize);
      Put32(w + 4, static_cast<uint32_t>(h.Width));
      Put32(w + 8, static_cast<uint32_t>(h.Height));
      Put16(w + 12, 1);
      Put16(w + 14, static_cast<uint32_t>(h.BitCount));
      for (qint64 k = 0; k < entries; ++k) {
        std::memcpy(w + kInfoHeaderSize + 4 * k, src + kCoreHeaderSize + 3 * k, 3);
        w[kInfoHeaderSize + 4 * k + 3] = 0;
      }
    } else {
      std::memcpy(w, src, static_cast<size_t>(kInfoHeaderSize + tableBytes));
    }
  }

  // 4. The rectangles.
  if (qint64(R.Src.X) + R.Src.Width > h.Width || qint64(R.Src.Y) + R.Src.Height > rows) {
    ShowBad("Bad param 1");
    return brBadParameter;
  }
  const qint64 visL = std::max<qint64>(R.Dest.X, R.Clip.X);
  const qint64 visT = std::max<qint64>(R.Dest.Y, R.Clip.Y);
  const qint64 visR = std::min<qint64>(qint64(R.Dest.X) + R.Dest.Width, qint64(R.Clip.X) + R.Clip.Width);
  const qint64 visB = std::min<qint64>(qint64(R.Dest.Y) + R.Dest.Height, qint64(R.Clip.Y) + R.Clip.Height);
  if (R.Clip.Width <= 0 || R.Clip.Height <= 0 || visR <= visL || visB <= visT || visR > INT_MAX || visB > INT_MAX)
    return brNothing;

  // 5. Run-length data is expanded first; skipped pixels take the first pure
  // white entry of the colour table.
  QByteArray expanded;
  const QByteArray* bits = &R.Bits;
  if (h.Compression == BI_RLE8 || h.Compression == BI_RLE4) {
    if (imageSize <= 0) {
      ShowBad("Bad param 2");
      return brBadParameter;
    }
    if (imageSize > MaxBlockSize) return brOutOfMemory;
    try {
      expanded = QByteArray(static_cast<qsizetype>(imageSize), '\0');
    } catch (const std::bad_alloc&) {
      return brOutOfMemory;
    }
    uint8_t white = 0;
    const int searched = static_cast<int>(std::min<qint64>(entries, qint64(1) << h.BitCount));
    for (int k = 0; k < searched; ++k) {
      const char* q = work.constData() + kInfoHeaderSize + 4 * k;
      if (static_cast<unsigned char>(q[0]) == 255 && static_cast<unsigned char>(q[1]) == 255 &&
          static_cast<unsigned char>(q[2]) == 255) {
        white = static_cast<uint8_t>(k);
        break;
      }
    }
    if (!ExpandRLE(R.Bits, h.SizeImage, h.BitCount, h.Width, static_cast<int>(rows), stride, white, expanded))
      return brReadFailed;
    Put32(work.data() + 16, BI_RGB);
    Put32(work.data() + 20, static_cast<uint32_t>(imageSize));
    h.Compression = BI_RGB;
    bits = &expanded;
  } else if (R.Bits.size() < imageSize) {
    return brReadFailed;  // the bits end before the image does
  }

  // 6. Rows from the top.
  TTileJob job;
  const auto* base = reinterpret_cast<const unsigned char*>(bits->constData());
  if (h.Height > 0) {
    job.First = base + (rows - 1) * stride;
    job.Step = -stride;
  } else {
    job.First = base;
    job.Step = stride;
  }
  if (!job.First || job.Step == 0) {
    ShowBad("Bad param 3");
    return brBadParameter;
  }
  job.Request = &R;
  job.Header = h;
  job.Info = work;

  // 7. Ratios.
  job.Rx = static_cast<long double>(R.Src.Width) / R.Dest.Width;
  job.Ry = static_cast<long double>(R.Src.Height) / R.Dest.Height;
  job.Fx = FScaleX;
  job.Fy = FScaleY;

  // 8. Tile size.
  QSize tile = TileSize;
  if (tile.isEmpty()) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    tile = screen ? screen->size() : QSize(1024, 768);
    if (tile.isEmpty()) tile = QSize(1024, 768);
  }
  if (!(Printer().GetDeviceCaps(RASTERCAPS) & RC_BITMAP64)) {
    const qint64 tileStride = StrideOf(tile.width(), h.BitCount);
    tile.setHeight(static_cast<int>(std::max<qint64>(1, 65503 / tileStride)));
  }

  // 9. Mode and tile routine.
  job.DDB = FDDBMode;
  job.FallbackToDDB = FallbackToDDB;
  job.MaxBlockSize = MaxBlockSize;
  bool (*routine)(TTileJob&, const QRect&, int, int) = FScaleOnPrinter ? ScaleOnPrinterTile : DefaultTile;

  // 10. Tiles over the visible rectangle, rows from the top, left to right.
  const qint64 across = (visR - visL + tile.width() - 1) / tile.width();
  const qint64 down = (visB - visT + tile.height() - 1) / tile.height();
  const qint64 count64 = across * down;
  const int count = static_cast<int>(std::min<qint64>(count64, INT_MAX));
  int number = 0;
  for (qint64 top = visT; top < visB; top += tile.height()) {
    for (qint64 left = visL; left < visR; left += tile.width()) {
      const qint64 right = std::min<qint64>(left + tile.width(), visR);
      const qint64 bottom = std::min<qint64>(top + tile.height(), visB);
      if (right <= left || bottom <= top) continue;
      const QRect t(static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
                    static_cast<int>(bottom - top));
      bool ok = false;
      try {
        ok = routine(job, t, number, count);
      } catch (...) {
        ok = false;  // a tile that fails stops the picture like an output failure
      }
      if (!ok) return brStopped;
      ++number;
    }
  }
  return brPrinted;
}
