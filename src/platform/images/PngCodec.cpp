// PNG through libpng. As with libjpeg, errors jump back into a function
// whose state lives in a context object, which frees libpng's state on
// every way out.

#include "platform/images/ImageInternal.h"
#include "platform/images/Images.h"

#include <png.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace Images {

namespace {

struct TPngDecoder {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  const uchar* Data = nullptr;
  size_t Size = 0;
  size_t Pos = 0;
  char Message[256] = {};
  QImage Image;
  QImage Rgba;  // interlaced pictures: all passes land here first
  QByteArray Row;
  ~TPngDecoder() {
    if (Png) png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
  }
};

struct TPngEncoder {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  QByteArray Out;
  char Message[256] = {};
  ~TPngEncoder() {
    if (Png) png_destroy_write_struct(&Png, Info ? &Info : nullptr);
  }
};

template <class T>
[[noreturn]] void ErrorFn(png_structp Png, png_const_charp Message) {
  auto* ctx = static_cast<T*>(png_get_error_ptr(Png));
  std::snprintf(ctx->Message, sizeof ctx->Message, "%s", Message ? Message : "error");
  png_longjmp(Png, 1);
}

void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp Png, png_bytep Out, png_size_t Length) {
  auto* d = static_cast<TPngDecoder*>(png_get_io_ptr(Png));
  if (Length > d->Size - d->Pos) png_error(Png, "the file ends early");
  std::memcpy(Out, d->Data + d->Pos, Length);
  d->Pos += Length;
}

void WriteFn(png_structp Png, png_bytep In, png_size_t Length) {
  auto* e = static_cast<TPngEncoder*>(png_get_io_ptr(Png));
  e->Out.append(reinterpret_cast<const char*>(In), static_cast<qsizetype>(Length));
}

void FlushFn(png_structp) {}

bool Decode(TPngDecoder& D, const TReadOptions& Options) {
  D.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &D, ErrorFn<TPngDecoder>, WarningFn);
  if (D.Png) D.Info = png_create_info_struct(D.Png);
  if (!D.Png || !D.Info) {
    std::snprintf(D.Message, sizeof D.Message, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(D.Png))) return false;
  png_set_read_fn(D.Png, &D, ReadFn);
  // The size is checked against our own limit below.
  png_set_user_limits(D.Png, 0x7fffffff, 0x7fffffff);
  png_read_info(D.Png, D.Info);
  png_uint_32 w = 0, h = 0;
  int bitDepth = 0, colorType = 0, interlace = 0;
  png_get_IHDR(D.Png, D.Info, &w, &h, &bitDepth, &colorType, &interlace, nullptr, nullptr);
  CheckSize(w, h);
  const int width = static_cast<int>(w);
  const int height = static_cast<int>(h);

  // Everything becomes 8-bit RGBA, then is merged onto white.
  png_set_expand(D.Png);
  png_set_strip_16(D.Png);
  if (!(colorType & PNG_COLOR_MASK_COLOR)) png_set_gray_to_rgb(D.Png);
  if (!(colorType & PNG_COLOR_MASK_ALPHA) && !png_get_valid(D.Png, D.Info, PNG_INFO_tRNS))
    png_set_filler(D.Png, 0xFF, PNG_FILLER_AFTER);
  const int passes = png_set_interlace_handling(D.Png);
  png_read_update_info(D.Png, D.Info);
  if (png_get_rowbytes(D.Png, D.Info) != size_t(width) * 4) png_error(D.Png, "unexpected row layout");

  D.Image = AllocateRgb24(width, height);
  const qint64 rows = qint64(passes) * height;
  int lastPercent = 0;
  if (Options.Progress) Options.Progress(0);
  if (passes == 1) D.Row.resize(qsizetype(width) * 4);
  else {
    D.Rgba = QImage(width, height, QImage::Format_RGBA8888);
    if (D.Rgba.isNull()) png_error(D.Png, "not enough memory for the picture");
  }
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < height; ++y) {
      if (passes == 1) {
        png_read_row(D.Png, reinterpret_cast<png_bytep>(D.Row.data()), nullptr);
        const uchar* s = reinterpret_cast<const uchar*>(D.Row.constData());
        uchar* d = D.Image.scanLine(y);
        for (int x = 0; x < width; ++x, s += 4, d += 3) MergeOntoWhite(s, d);
      } else {
        png_read_row(D.Png, D.Rgba.scanLine(y), nullptr);
      }
      if (Options.Progress) {
        const int percent = static_cast<int>((qint64(pass) * height + y + 1) * 100 / rows);
        if (percent != lastPercent) Options.Progress(lastPercent = percent);
      }
    }
  }
  if (passes != 1) {
    for (int y = 0; y < height; ++y) {
      const uchar* s = D.Rgba.constScanLine(y);
      uchar* d = D.Image.scanLine(y);
      for (int x = 0; x < width; ++x, s += 4, d += 3) MergeOntoWhite(s, d);
    }
  }
  // What follows the pixels (text, the end chunk) is not needed.
  return true;
}

bool Encode(TPngEncoder& E, const QImage& Rgb, const TWriteOptions& Options) {
  E.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &E, ErrorFn<TPngEncoder>, WarningFn);
  if (E.Png) E.Info = png_create_info_struct(E.Png);
  if (!E.Png || !E.Info) {
    std::snprintf(E.Message, sizeof E.Message, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(E.Png))) return false;
  png_set_write_fn(E.Png, &E, WriteFn, FlushFn);
  png_set_IHDR(E.Png, E.Info, static_cast<png_uint_32>(Rgb.width()), static_cast<png_uint_32>(Rgb.height()), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(E.Png, E.Info);
  int lastPercent = 0;
  if (Options.Progress) Options.Progress(0);
  for (int y = 0; y < Rgb.height(); ++y) {
    png_write_row(E.Png, Rgb.constScanLine(y));
    if (Options.Progress) {
      const int percent = static_cast<int>(qint64(y + 1) * 100 / Rgb.height());
      if (percent != lastPercent) Options.Progress(lastPercent = percent);
    }
  }
  png_write_end(E.Png, nullptr);
  return true;
}

}  // namespace

QImage ReadPng(const QByteArray& Data, const TReadOptions& Options) {
  auto decoder = std::make_unique<TPngDecoder>();
  decoder->Data = reinterpret_cast<const uchar*>(Data.constData());
  decoder->Size = static_cast<size_t>(Data.size());
  if (!Decode(*decoder, Options))
    throw EImageError(QStringLiteral("Unable to read the PNG picture: %1").arg(QString::fromLatin1(decoder->Message)));
  QImage image = decoder->Image;
  decoder.reset();
  if (Options.Progress) Options.Progress(100);
  return image;
}

QByteArray WritePng(const QImage& Image, const TWriteOptions& Options) {
  const QImage rgb = ToRgb24(Image);
  if (rgb.isNull()) throw EImageError(QStringLiteral("No picture to write"));
  auto encoder = std::make_unique<TPngEncoder>();
  if (!Encode(*encoder, rgb, Options))
    throw EImageError(QStringLiteral("Unable to write the PNG picture: %1").arg(QString::fromLatin1(encoder->Message)));
  if (Options.Progress) Options.Progress(100);
  return encoder->Out;
}

}  // namespace Images
