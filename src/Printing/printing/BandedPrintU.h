#pragma once

// The banded printer: sends a device-independent bitmap (DIB: the BMP layout
// in memory, an information header with its colour table and the pixel bits)
// to the printer in tiles no larger than the screen. Each tile is sampled in
// memory at the size it takes on the printer (or at the picture's resolution
// in scale-on-printer mode) and stretched onto the printer as a DIB; a printer
// that does not take DIBs gets device-dependent bitmaps instead.

#include "platform/Exceptions.h"

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <cstdint>
#include <functional>

class QPainter;

// An internal error that ends the printing of one item.
class EAssertionFailed : public Exception {
public:
  using Exception::Exception;
};

// Compression codes of the DIB header.
enum TDibCompression : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

// A DIB in memory: the header with its colour table, and the bits, in two
// separate blocks.
struct TDib {
  QByteArray Info;
  QByteArray Bits;
  int Width = 0;
  int Height = 0;
};

// Writes a picture as a BMP file in memory: a 40-byte information header,
// 24 bits per pixel, bottom-up. Answers an empty array for an empty picture.
QByteArray ImageToBmp(const QImage& AImage);
// Reads a BMP file in memory: checks the "BM" signature and the offsets,
// takes every byte between the 14-byte file header and the bits as header
// and colour table, and the rest as the bits. False on any inconsistency.
bool BmpToDib(const QByteArray& ABmp, TDib& ADib);
// The picture as a DIB, through a BMP file in memory. False (no exception)
// when that fails.
bool GraphicToDIB(const QImage& AGraphic, TDib& ADib);
// The printable width and height of the current printer in pixels; false
// when the printer does not give them.
bool PrinterPageInfo(int& AWidth, int& AHeight);

// A rectangle as position and size, in 32-bit integers of any value (the
// banded printer checks them with wider arithmetic).
struct TDibRect {
  int X = 0;
  int Y = 0;
  int Width = 0;
  int Height = 0;
};

// One banded print request.
struct TPrintDIBRequest {
  QPainter* Canvas = nullptr;  // of the current printer
  TDibRect Dest;               // printer pixels
  TDibRect Src;                // picture pixels, from the top left
  QByteArray Info;             // header and colour table
  QByteArray Bits;
  TDibRect Clip;  // printer pixels
  // Called with the tile number and the number of tiles; answers whether to
  // go on.
  std::function<bool(int ATile, int ATiles)> Progress;
};

// Result codes of PrintDIBRect.
enum TBandedResult {
  brPrinted = 1,
  brNothing = 0,
  brBadParameter = -1,
  brOutOfMemory = -2,
  brReadFailed = -3,
  brStopped = -5,
};

class TBandedPrinter {
public:
  // Both at least 1.
  void SetScaleFactors(int X, int Y);
  int ScaleFactorX() const { return FScaleX; }
  int ScaleFactorY() const { return FScaleY; }
  // Start every picture with device-dependent bitmaps.
  void SetDDBMode(bool Value) { FDDBMode = Value; }
  bool DDBMode() const { return FDDBMode; }
  // Build tiles at the picture's resolution and let the printer enlarge
  // them.
  void SetScaleOnPrinter(bool Value) { FScaleOnPrinter = Value; }
  bool ScaleOnPrinter() const { return FScaleOnPrinter; }

  // Fixed switches of this program: a refused DIB stretch falls back to
  // device-dependent bitmaps; the graphics queue is flushed after every tile
  // (nothing to do on this platform). There is no pause after a tile, no
  // diagnostic message box and no palette handling.
  bool FallbackToDDB = true;
  bool FlushEveryTile = true;

  // The tile size; empty takes the primary screen's size.
  QSize TileSize;
  // The largest block the printer allocates for an expanded bitmap or a
  // tile; larger ones count as an allocation failure.
  qint64 MaxBlockSize = qint64(512) * 1024 * 1024;

  // Prints the source rectangle of the DIB into the destination rectangle,
  // only where it meets the clip rectangle. Answers a TBandedResult; bad
  // parameters are also shown in a message box.
  int PrintDIBRect(const TPrintDIBRequest& ARequest);

private:
  int FScaleX = 1;
  int FScaleY = 1;
  bool FDDBMode = false;
  bool FScaleOnPrinter = false;
};
