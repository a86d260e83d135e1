#pragma once

#include "platform/Exceptions.h"

#include <QByteArray>
#include <QIODevice>
#include <QImage>
#include <QRect>
#include <QString>

#include <functional>

// Our picture layer: reading, writing and transforming pictures.
//
// Every picture handed out is 24 bits per pixel (QImage::Format_RGB888), with
// any transparency merged onto white. Readers check the size a header claims
// against MaxPixels() before they allocate anything for it. Failures raise
// EImageError with a fixed English message; nothing else escapes, and
// nothing is left allocated.
namespace Images {

// A picture that cannot be read, written or transformed.
class EImageError : public Exception {
public:
  using Exception::Exception;
};

enum class TImageFormat { Unknown, Jpeg, Png, Bmp, Gif, Tiff, Tga, Ico, WebP, Pnm, Xpm, Pcx };

// Called with the percentage done (0 to 100). Whatever it throws ends the
// operation cleanly and is passed on to the caller unchanged.
using TProgress = std::function<void(int Percent)>;

struct TReadOptions {
  // JPEG only: when both are positive the decoder reduces the picture by the
  // largest of 1/2, 1/4 and 1/8 that still leaves at least this size (after
  // the EXIF orientation is applied); else it decodes at full size.
  int RequestedWidth = 0;
  int RequestedHeight = 0;
  TProgress Progress;
};

struct TWriteOptions {
  int JpegQuality = 80;  // 1 to 100
  TProgress Progress;
};

enum class TResampleFilter { None, Lanczos3 };

// --- Limits -------------------------------------------------------------------

// The most pixels a picture may have: 30000 x 30000, or less on a machine
// with less memory. Pictures whose header claims more are refused.
qint64 MaxPixels();
// Sets the limit (tests, fuzzing) and answers the previous one; 0 or less
// restores the default.
qint64 SetMaxPixels(qint64 Pixels);
// Raises EImageError "Picture too large (W x H pixels)" when the size is
// beyond the limit, and "Invalid picture size (W x H pixels)" when a side is
// not positive.
void CheckSize(qint64 Width, qint64 Height);

// --- Formats ------------------------------------------------------------------

// The format an extension stands for (case-insensitive, with or without
// the dot, or a whole file name); Unknown when no reader takes it.
TImageFormat FormatFromExtension(const QString& FileNameOrExtension);
// The format the first bytes show; Unknown when none matches.
TImageFormat FormatFromContent(const QByteArray& Data);
QString FormatName(TImageFormat Format);

// --- Reading ------------------------------------------------------------------

// The whole content of a picture file. Raises EImageError for a missing
// file, a folder, an empty file, or a read that fails or falls short.
QByteArray ReadFileBytes(const QString& FileName);
// The rest of a seekable device; raises EImageError when it is empty or
// gives fewer bytes than its size promised.
QByteArray ReadDeviceBytes(QIODevice& Device, const QString& Name);

// A picture for the screen or the printer: from Stream when it holds the
// file's bytes, else from the file; a JPEG is decoded reduced when MaxSize
// is positive (to no less than MaxSize on either side). By extension, and
// by content when the extension names no format.
QImage ReadScaled(const QString& FileName, QIODevice* Stream, int MaxSize);

// Reads Data as the given format.
QImage Read(const QByteArray& Data, TImageFormat Format, const TReadOptions& Options = {});
// Reads Data as the format its content shows ("Unknown picture format"
// otherwise).
QImage ReadByContent(const QByteArray& Data, const TReadOptions& Options = {});
// Reads a file by its extension; an extension no reader takes is read by
// content.
QImage ReadFile(const QString& FileName, const TReadOptions& Options = {});

// The readers of our own.
QImage ReadJpeg(const QByteArray& Data, const TReadOptions& Options = {});
QImage ReadPng(const QByteArray& Data, const TReadOptions& Options = {});
QImage ReadPcx(const QByteArray& Data, const TReadOptions& Options = {});

// The reduction 1, 2, 4 or 8 the JPEG decoder uses for a picture of the
// given size and a requested size.
int JpegScaleDenominator(int Width, int Height, int RequestedWidth, int RequestedHeight);

// --- Writing ------------------------------------------------------------------

QByteArray WriteJpeg(const QImage& Image, const TWriteOptions& Options = {});
QByteArray WritePng(const QImage& Image, const TWriteOptions& Options = {});
// Writes by the file's extension: JPEG and PNG ourselves, BMP, TIFF, WebP,
// PPM/PGM/PBM and XPM through Qt's writers.
void WriteFile(const QImage& Image, const QString& FileName, const TWriteOptions& Options = {});
// Writes the bytes of a picture to a file; a file left incomplete is removed.
void WriteFileBytes(const QString& FileName, const QByteArray& Data);

// --- Transforming -------------------------------------------------------------

// Any picture as 24 bits per pixel, transparency merged onto white.
QImage ToRgb24(const QImage& Image);
QImage Resample(const QImage& Image, int NewWidth, int NewHeight, TResampleFilter Filter,
                const TProgress& Progress = {});
// Turns by quarter turns clockwise (any integer; taken modulo 4).
QImage RotateQuarterTurns(const QImage& Image, int QuarterTurns);
// The part of the picture inside Rect (clipped to the picture); raises
// EImageError when nothing is left.
QImage Crop(const QImage& Image, const QRect& Rect);
// The picture with at most 256 different colours (median cut), still 24 bits
// per pixel.
QImage ReduceTo256Colours(const QImage& Image);

}  // namespace Images
