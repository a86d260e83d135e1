// JPEG through libjpeg: scaled decoding, EXIF orientation, CMYK, and
// encoding with a quality.
//
// libjpeg reports errors by a jump out of its own frames. The jump lands in
// a function whose state all lives in a context object on the heap, so no
// C++ object is skipped; the context's destructor frees libjpeg's state on
// every way out, exceptions included.

#include "platform/images/ImageInternal.h"
#include "platform/images/Images.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>
#include <jerror.h>

namespace Images {

namespace {

// More scans than any real progressive picture uses; crafted files with
// thousands of scans would take minutes.
constexpr int kMaxScans = 500;

struct TJpegError {
  jpeg_error_mgr Pub;  // first: libjpeg sees only this part
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr Info) {
  auto* err = reinterpret_cast<TJpegError*>(Info->err);
  (*Info->err->format_message)(Info, err->Message);
  std::longjmp(err->Jump, 1);
}

void EmitMessage(j_common_ptr Info, int Level) {
  if (Level >= 0) return;
  // The data ended before the picture did: a truncated file is an error.
  if (Info->err->msg_code == JWRN_JPEG_EOF) ErrorExit(Info);
  ++Info->err->num_warnings;
}

void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr Info) {
  if (!Info->is_decompressor) return;
  const auto* d = reinterpret_cast<j_decompress_ptr>(Info);
  if (d->input_scan_number > kMaxScans) {
    auto* err = reinterpret_cast<TJpegError*>(Info->err);
    std::snprintf(err->Message, sizeof err->Message, "more than %d scans", kMaxScans);
    std::longjmp(err->Jump, 1);
  }
}

void InitError(TJpegError& Error) {
  jpeg_std_error(&Error.Pub);
  Error.Pub.error_exit = ErrorExit;
  Error.Pub.emit_message = EmitMessage;
  Error.Pub.output_message = OutputMessage;
  Error.Message[0] = 0;
}

struct TJpegDecoder {
  jpeg_decompress_struct Info{};
  TJpegError Error{};
  jpeg_progress_mgr Progress{};
  bool Created = false;
  QImage Image;
  QByteArray CmykRow;
  int Orientation = 1;
  ~TJpegDecoder() {
    if (Created) jpeg_destroy_decompress(&Info);
  }
};

// The orientation tag (0x0112) of IFD0 in an EXIF block; 1 when missing.
int ExifOrientation(jpeg_saved_marker_ptr Markers) {
  for (jpeg_saved_marker_ptr m = Markers; m; m = m->next) {
    if (m->marker != JPEG_APP0 + 1 || m->data_length < 6 + 8 || std::memcmp(m->data, "Exif\0\0", 6) != 0) continue;
    const JOCTET* p = m->data + 6;
    const size_t n = m->data_length - 6;
    const bool little = p[0] == 'I' && p[1] == 'I';
    if (!little && !(p[0] == 'M' && p[1] == 'M')) continue;
    auto u16 = [&](size_t o) -> unsigned { return little ? p[o] | (p[o + 1] << 8) : (p[o] << 8) | p[o + 1]; };
    auto u32 = [&](size_t o) -> size_t {
      return little ? (size_t(p[o]) | size_t(p[o + 1]) << 8 | size_t(p[o + 2]) << 16 | size_t(p[o + 3]) << 24)
                    : (size_t(p[o]) << 24 | size_t(p[o + 1]) << 16 | size_t(p[o + 2]) << 8 | size_t(p[o + 3]));
    };
    if (u16(2) != 42) continue;
    const size_t ifd = u32(4);
    if (ifd < 8 || ifd > n - 2) continue;
    const unsigned count = u16(ifd);
    for (unsigned i = 0; i < count; ++i) {
      const size_t e = ifd + 2 + 12 * size_t(i);
      if (e + 12 > n) break;
      if (u16(e) == 0x0112 && u16(e + 2) == 3) {
        const unsigned v = u16(e + 8);
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
      }
    }
  }
  return 1;
}

QImage ApplyOrientation(const QImage& Image, int Orientation) {
  switch (Orientation) {
    case 2: return Image.mirrored(true, false);
    case 3: return RotateQuarterTurns(Image, 2);
    case 4: return Image.mirrored(false, true);
    case 5: return RotateQuarterTurns(Image.mirrored(true, false), 3);  // transpose
    case 6: return RotateQuarterTurns(Image, 1);
    case 7: return RotateQuarterTurns(Image.mirrored(true, false), 1);  // transverse
    case 8: return RotateQuarterTurns(Image, 3);
    default: return Image;
  }
}

// Answers false when libjpeg reported an error (the message is in
// D.Error.Message).
bool Decode(TJpegDecoder& D, const QByteArray& Data, const TReadOptions& Options) {
  if (setjmp(D.Error.Jump)) return false;
  D.Info.err = &D.Error.Pub;
  jpeg_create_decompress(&D.Info);
  D.Created = true;
  // libjpeg's own buffers (whole-picture coefficients of progressive files)
  // stay within what the pixel limit allows.
  D.Info.mem->max_memory_to_use = static_cast<long>(MaxPixels() * 8 + (64 << 20));
  D.Progress.progress_monitor = ProgressMonitor;
  D.Info.progress = &D.Progress;
  jpeg_mem_src(&D.Info, reinterpret_cast<const unsigned char*>(Data.constData()), static_cast<unsigned long>(Data.size()));
  jpeg_save_markers(&D.Info, JPEG_APP0 + 1, 0xFFFF);
  if (jpeg_read_header(&D.Info, TRUE) != JPEG_HEADER_OK) {
    std::snprintf(D.Error.Message, sizeof D.Error.Message, "no picture in the file");
    return false;
  }
  CheckSize(D.Info.image_width, D.Info.image_height);
  D.Orientation = ExifOrientation(D.Info.marker_list);
  const bool turned = D.Orientation >= 5;
  const int denominator =
      JpegScaleDenominator(static_cast<int>(D.Info.image_width), static_cast<int>(D.Info.image_height),
                           turned ? Options.RequestedHeight : Options.RequestedWidth,
                           turned ? Options.RequestedWidth : Options.RequestedHeight);
  D.Info.scale_num = 1;
  D.Info.scale_denom = static_cast<unsigned>(denominator);
  const bool cmyk = D.Info.jpeg_color_space == JCS_CMYK || D.Info.jpeg_color_space == JCS_YCCK;
  D.Info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_calc_output_dimensions(&D.Info);
  const int width = static_cast<int>(D.Info.output_width);
  const int height = static_cast<int>(D.Info.output_height);
  CheckSize(width, height);
  D.Image = AllocateRgb24(width, height);
  if (cmyk) D.CmykRow.resize(qsizetype(width) * 4);

  jpeg_start_decompress(&D.Info);
  int lastPercent = 0;
  if (Options.Progress) Options.Progress(0);
  JSAMPROW rows[16];
  while (D.Info.output_scanline < D.Info.output_height) {
    const int y = static_cast<int>(D.Info.output_scanline);
    if (cmyk) {
      rows[0] = reinterpret_cast<JSAMPROW>(D.CmykRow.data());
      if (jpeg_read_scanlines(&D.Info, rows, 1) != 1) break;
      // Adobe writes CMYK inverted (0 is full ink), as almost every file is.
      const bool inverted = D.Info.saw_Adobe_marker;
      const uchar* s = reinterpret_cast<const uchar*>(D.CmykRow.constData());
      uchar* d = D.Image.scanLine(y);
      for (int x = 0; x < width; ++x, s += 4, d += 3) {
        const unsigned k = inverted ? s[3] : 255u - s[3];
        for (int c = 0; c < 3; ++c) d[c] = static_cast<uchar>(((inverted ? s[c] : 255u - s[c]) * k + 127) / 255);
      }
    } else {
      const int n = std::min<int>(16, height - y);
      for (int i = 0; i < n; ++i) rows[i] = D.Image.scanLine(y + i);
      if (jpeg_read_scanlines(&D.Info, rows, static_cast<JDIMENSION>(n)) == 0) break;
    }
    if (Options.Progress) {
      const int percent = static_cast<int>(qint64(D.Info.output_scanline) * 100 / height);
      if (percent != lastPercent) Options.Progress(lastPercent = percent);
    }
  }
  if (D.Info.output_scanline < D.Info.output_height) {
    std::snprintf(D.Error.Message, sizeof D.Error.Message, "the picture data ends early");
    return false;
  }
  // The rest of the file (up to the end marker) is not needed.
  return true;
}

// Collects the coded bytes in a QByteArray (libjpeg's own memory
// destination loses track of its buffer when the coding is abandoned).
struct TJpegDestination {
  jpeg_destination_mgr Pub;  // first: libjpeg sees only this part
  QByteArray Out;
  JOCTET Buffer[65536];
};

void InitDestination(j_compress_ptr Info) {
  auto* d = reinterpret_cast<TJpegDestination*>(Info->dest);
  d->Pub.next_output_byte = d->Buffer;
  d->Pub.free_in_buffer = sizeof d->Buffer;
}

boolean EmptyDestination(j_compress_ptr Info) {
  auto* d = reinterpret_cast<TJpegDestination*>(Info->dest);
  d->Out.append(reinterpret_cast<const char*>(d->Buffer), qsizetype(sizeof d->Buffer));
  InitDestination(Info);
  return TRUE;
}

void TermDestination(j_compress_ptr Info) {
  auto* d = reinterpret_cast<TJpegDestination*>(Info->dest);
  d->Out.append(reinterpret_cast<const char*>(d->Buffer), qsizetype(sizeof d->Buffer - d->Pub.free_in_buffer));
}

struct TJpegEncoder {
  jpeg_compress_struct Info{};
  TJpegError Error{};
  TJpegDestination Destination{};
  bool Created = false;
  ~TJpegEncoder() {
    if (Created) jpeg_destroy_compress(&Info);
  }
};

bool Encode(TJpegEncoder& E, const QImage& Rgb, const TWriteOptions& Options) {
  if (setjmp(E.Error.Jump)) return false;
  E.Info.err = &E.Error.Pub;
  jpeg_create_compress(&E.Info);
  E.Created = true;
  E.Destination.Pub.init_destination = InitDestination;
  E.Destination.Pub.empty_output_buffer = EmptyDestination;
  E.Destination.Pub.term_destination = TermDestination;
  E.Info.dest = &E.Destination.Pub;
  E.Info.image_width = static_cast<JDIMENSION>(Rgb.width());
  E.Info.image_height = static_cast<JDIMENSION>(Rgb.height());
  E.Info.input_components = 3;
  E.Info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&E.Info);
  jpeg_set_quality(&E.Info, std::clamp(Options.JpegQuality, 1, 100), TRUE);
  jpeg_start_compress(&E.Info, TRUE);
  int lastPercent = 0;
  if (Options.Progress) Options.Progress(0);
  while (E.Info.next_scanline < E.Info.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(Rgb.constScanLine(static_cast<int>(E.Info.next_scanline)));
    jpeg_write_scanlines(&E.Info, &row, 1);
    if (Options.Progress) {
      const int percent = static_cast<int>(qint64(E.Info.next_scanline) * 100 / Rgb.height());
      if (percent != lastPercent) Options.Progress(lastPercent = percent);
    }
  }
  jpeg_finish_compress(&E.Info);
  return true;
}

}  // namespace

int JpegScaleDenominator(int Width, int Height, int RequestedWidth, int RequestedHeight) {
  if (RequestedWidth <= 0 || RequestedHeight <= 0) return 1;
  for (int d : {8, 4, 2}) {
    const qint64 w = (qint64(Width) + d - 1) / d;
    const qint64 h = (qint64(Height) + d - 1) / d;
    if (w >= RequestedWidth && h >= RequestedHeight) return d;
  }
  return 1;
}

QImage ReadJpeg(const QByteArray& Data, const TReadOptions& Options) {
  auto decoder = std::make_unique<TJpegDecoder>();
  InitError(decoder->Error);
  if (!Decode(*decoder, Data, Options))
    throw EImageError(QStringLiteral("Unable to read the JPEG picture: %1").arg(QString::fromLatin1(decoder->Error.Message)));
  QImage image = ApplyOrientation(decoder->Image, decoder->Orientation);
  decoder.reset();
  if (Options.Progress) Options.Progress(100);
  return image;
}

QByteArray WriteJpeg(const QImage& Image, const TWriteOptions& Options) {
  const QImage rgb = ToRgb24(Image);
  if (rgb.isNull()) throw EImageError(QStringLiteral("No picture to write"));
  auto encoder = std::make_unique<TJpegEncoder>();
  InitError(encoder->Error);
  if (!Encode(*encoder, rgb, Options))
    throw EImageError(QStringLiteral("Unable to write the JPEG picture: %1").arg(QString::fromLatin1(encoder->Error.Message)));
  QByteArray data = encoder->Destination.Out;
  if (Options.Progress) Options.Progress(100);
  return data;
}

}  // namespace Images
