#include "CodecFixtures.h"

#include "ImageFixtures.h"
#include "platform/images/Images.h"

#include <cstdio>
#include <cstdlib>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace ImageFixtures {

namespace {

void PngWrite(png_structp Png, png_bytep Data, png_size_t Length) {
  static_cast<QByteArray*>(png_get_io_ptr(Png))->append(reinterpret_cast<const char*>(Data), qsizetype(Length));
}
void PngFlush(png_structp) {}

void PutChunk(QByteArray& B, const char* Type, const QByteArray& Data) {
  PutBE32(B, quint32(Data.size()));
  QByteArray body(Type, 4);
  body.append(Data);
  B.append(body);
  PutBE32(B, quint32(crc32(0, reinterpret_cast<const Bytef*>(body.constData()), uInt(body.size()))));
}

// Compresses rows of Components bytes a pixel.
QByteArray Compress(int W, int H, int Components, J_COLOR_SPACE Space, const QByteArray& Pixels, bool Progressive) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = JDIMENSION(W);
  info.image_height = JDIMENSION(H);
  info.input_components = Components;
  info.in_color_space = Space;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 90, TRUE);
  if (Progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(const_cast<char*>(Pixels.constData())) +
                   size_t(info.next_scanline) * size_t(W) * size_t(Components);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  QByteArray out(reinterpret_cast<const char*>(buffer), qsizetype(size));
  std::free(buffer);
  return out;
}

}  // namespace

QByteArray InterlacedPng() {
  QByteArray out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_IHDR(png, info, 9, 9, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_interlace_handling(png);
  QByteArray pixels(9 * 9 * 3, '\0');
  png_bytep rows[9];
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 9; ++x) {
      pixels[(y * 9 + x) * 3] = char(x * 20);
      pixels[(y * 9 + x) * 3 + 1] = char(y * 20);
      pixels[(y * 9 + x) * 3 + 2] = char(100);
    }
    rows[y] = reinterpret_cast<png_bytep>(pixels.data()) + y * 27;
  }
  png_write_image(png, rows);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

QByteArray CmykJpeg() {
  QByteArray pixels;
  for (int i = 0; i < 16 * 16; ++i) pixels.append("\xFF\x00\x00\xFF", 4);  // inverted: no cyan, full M and Y, no K
  return Compress(16, 16, 4, JCS_CMYK, pixels, false);
}

QByteArray WithExifOrientation(const QByteArray& Jpeg, int Orientation, bool LittleEndian) {
  QByteArray tiff;
  auto u16 = [&](int V) {
    if (LittleEndian) Put16(tiff, V);
    else {
      tiff.append(char((V >> 8) & 0xFF));
      tiff.append(char(V & 0xFF));
    }
  };
  auto u32 = [&](quint32 V) {
    if (LittleEndian) Put32(tiff, V);
    else PutBE32(tiff, V);
  };
  tiff.append(LittleEndian ? "II" : "MM");
  u16(42);
  u32(8);
  u16(2);  // two entries: a resolution first, then the orientation
  u16(0x011A);
  u16(5);
  u32(1);
  u32(38);
  u16(0x0112);
  u16(3);
  u32(1);
  u16(Orientation);
  u16(0);
  u32(0);
  u32(72);
  u32(1);
  QByteArray segment("\xFF\xE1", 2);
  const int length = 2 + 6 + int(tiff.size());
  segment.append(char(length >> 8));
  segment.append(char(length & 0xFF));
  segment.append(QByteArray("Exif\0\0", 6));
  segment.append(tiff);
  return Jpeg.left(2) + segment + Jpeg.mid(2);
}

QByteArray HugeJpeg(int W, int H) {
  QByteArray jpeg = Images::WriteJpeg(Quadrants());
  const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
  jpeg[sof + 5] = char(H >> 8);
  jpeg[sof + 6] = char(H & 0xFF);
  jpeg[sof + 7] = char(W >> 8);
  jpeg[sof + 8] = char(W & 0xFF);
  return jpeg;
}

QByteArray HugePng(quint32 W, quint32 H) {
  QByteArray b("\x89PNG\r\n\x1A\n", 8);
  QByteArray ihdr;
  PutBE32(ihdr, W);
  PutBE32(ihdr, H);
  ihdr.append("\x08\x02\x00\x00\x00", 5);
  PutChunk(b, "IHDR", ihdr);
  PutChunk(b, "IDAT", QByteArray("\x78\x9C\x03\x00\x00\x00\x00\x01", 8));
  PutChunk(b, "IEND", QByteArray());
  return b;
}

QByteArray ManyScansJpeg(int Scans) {
  QByteArray pixels;
  for (int i = 0; i < 32 * 32; ++i) pixels.append(char(i * 7));
  QByteArray jpeg = Compress(32, 32, 1, JCS_GRAYSCALE, pixels, true);
  const QByteArray sos("\xFF\xDA", 2);
  const int have = int(jpeg.count(sos));
  const qsizetype last = jpeg.lastIndexOf(sos);
  const qsizetype end = jpeg.lastIndexOf(QByteArray("\xFF\xD9", 2));
  const QByteArray scan = jpeg.mid(last, end - last);
  QByteArray out = jpeg.left(end);
  for (int i = have; i < Scans; ++i) out.append(scan);
  out.append("\xFF\xD9", 2);
  return out;
}

}  // namespace ImageFixtures
