// Limits, format detection, file access, the readers and writers of Qt's
// image plugins, and the dispatch by format.

#include "platform/images/ImageInternal.h"
#include "platform/images/Images.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace Images {

namespace {

constexpr qint64 kMaxSide = 30000;

qint64 DefaultMaxPixels() {
  qint64 limit = kMaxSide * kMaxSide;
  // Keep a picture (3 bytes a pixel) and its working copies within an eighth
  // of the machine's memory.
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) {
    const qint64 memory = static_cast<qint64>(pages) * pageSize;
    limit = std::min(limit, std::max<qint64>(memory / 8 / 3, 4096 * 4096));
  }
  return limit;
}

std::atomic<qint64> GMaxPixels{0};

struct TExtension {
  const char* Ext;
  TImageFormat Format;
};

const TExtension kExtensions[] = {
    {"jpg", TImageFormat::Jpeg}, {"jpeg", TImageFormat::Jpeg}, {"jpe", TImageFormat::Jpeg},
    {"jfif", TImageFormat::Jpeg}, {"png", TImageFormat::Png},  {"bmp", TImageFormat::Bmp},
    {"dib", TImageFormat::Bmp},  {"gif", TImageFormat::Gif},   {"tif", TImageFormat::Tiff},
    {"tiff", TImageFormat::Tiff}, {"tga", TImageFormat::Tga},  {"ico", TImageFormat::Ico},
    {"cur", TImageFormat::Ico},  {"webp", TImageFormat::WebP}, {"pbm", TImageFormat::Pnm},
    {"pgm", TImageFormat::Pnm},  {"ppm", TImageFormat::Pnm},   {"pnm", TImageFormat::Pnm},
    {"xpm", TImageFormat::Xpm},  {"pcx", TImageFormat::Pcx},
};

bool StartsWith(const QByteArray& Data, const char* Magic, qsizetype Length, qsizetype At = 0) {
  return Data.size() >= At + Length && std::memcmp(Data.constData() + At, Magic, static_cast<size_t>(Length)) == 0;
}

quint8 ByteAt(const QByteArray& Data, qsizetype I) { return static_cast<quint8>(Data.at(I)); }

// TGA has no signature: take a header whose fields all make sense.
bool LooksLikeTga(const QByteArray& Data) {
  if (Data.size() < 18) return false;
  const quint8 mapType = ByteAt(Data, 1);
  const quint8 type = ByteAt(Data, 2);
  const quint8 mapBits = ByteAt(Data, 7);
  const int width = ByteAt(Data, 12) | (ByteAt(Data, 13) << 8);
  const int height = ByteAt(Data, 14) | (ByteAt(Data, 15) << 8);
  const quint8 bits = ByteAt(Data, 16);
  const quint8 descriptor = ByteAt(Data, 17);
  if (mapType > 1) return false;
  if (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) return false;
  if ((type == 1 || type == 9) != (mapType == 1)) return false;
  if (mapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32) return false;
  if (bits != 8 && bits != 15 && bits != 16 && bits != 24 && bits != 32) return false;
  if (descriptor & 0xC0) return false;  // interleaving: never used
  return width > 0 && height > 0;
}

quint32 Le16(const QByteArray& D, qsizetype I) { return ByteAt(D, I) | (quint32(ByteAt(D, I + 1)) << 8); }
quint32 Le32(const QByteArray& D, qsizetype I) { return Le16(D, I) | (Le16(D, I + 2) << 16); }

[[noreturn]] void Truncated(TImageFormat Format) {
  throw EImageError(QStringLiteral("Unable to read the %1 picture: the file ends early").arg(FormatName(Format)));
}

// Qt's readers take some truncated files without a word and do not always
// tell the size before they allocate it: for those formats the header is
// checked here first.
void CheckBmp(const QByteArray& D) {
  if (D.size() < 26) Truncated(TImageFormat::Bmp);
  const quint32 offset = Le32(D, 10);
  const quint32 headerSize = Le32(D, 14);
  qint64 width, height, bits, compression = 0;
  if (headerSize == 12) {
    width = Le16(D, 18);
    height = Le16(D, 20);
    bits = Le16(D, 24);
  } else {
    if (D.size() < 34) Truncated(TImageFormat::Bmp);
    width = qint32(Le32(D, 18));
    height = qint32(Le32(D, 22));
    bits = Le16(D, 28);
    compression = Le32(D, 30);
  }
  height = height < 0 ? -height : height;
  CheckSize(width, height);
  // Stored pixels (also with bit fields): the file must hold every line.
  if (compression == 0 || compression == 3 || compression == 6) {
    const qint64 line = (width * bits + 31) / 32 * 4;
    if (qint64(offset) + line * height > D.size()) Truncated(TImageFormat::Bmp);
  }
}

// Walks the blocks up to the end of the first picture.
void CheckGif(const QByteArray& D) {
  if (D.size() < 13) Truncated(TImageFormat::Gif);
  CheckSize(Le16(D, 6), Le16(D, 8));
  qsizetype at = 13;
  if (ByteAt(D, 10) & 0x80) at += 3 << ((ByteAt(D, 10) & 7) + 1);
  auto skipBlocks = [&] {
    for (;;) {
      if (at >= D.size()) Truncated(TImageFormat::Gif);
      const int n = ByteAt(D, at++);
      if (n == 0) return;
      at += n;
    }
  };
  for (;;) {
    if (at >= D.size()) Truncated(TImageFormat::Gif);
    const quint8 kind = ByteAt(D, at++);
    if (kind == 0x21) {
      ++at;  // label
      skipBlocks();
    } else if (kind == 0x2C) {
      if (at + 9 > D.size()) Truncated(TImageFormat::Gif);
      CheckSize(Le16(D, at + 4), Le16(D, at + 6));
      const quint8 flags = ByteAt(D, at + 8);
      at += 9;
      if (flags & 0x80) at += 3 << ((flags & 7) + 1);
      ++at;  // code size
      skipBlocks();
      return;
    } else {
      throw EImageError(QStringLiteral("Unable to read the GIF picture: no picture in the file"));
    }
  }
}

void CheckPnm(const QByteArray& D) {
  // "P<n>", then width and height as decimal numbers between blanks and
  // comments.
  qsizetype at = 2;
  qint64 size[2] = {0, 0};
  for (qint64& value : size) {
    for (;;) {
      while (at < D.size() && QByteArrayView(" \t\r\n").contains(D.at(at))) ++at;
      if (at < D.size() && D.at(at) == '#') {
        while (at < D.size() && D.at(at) != '\n') ++at;
        continue;
      }
      break;
    }
    if (at >= D.size() || D.at(at) < '0' || D.at(at) > '9') Truncated(TImageFormat::Pnm);
    while (at < D.size() && D.at(at) >= '0' && D.at(at) <= '9' && value < (qint64(1) << 40))
      value = value * 10 + (D.at(at++) - '0');
  }
  CheckSize(size[0], size[1]);
}

// Qt reads only TGA files with the footer of version 2, which the older
// (and most common) files do not carry: they get one.
QByteArray WithTgaFooter(const QByteArray& D) {
  static const QByteArray signature("TRUEVISION-XFILE.\0", 18);
  if (D.size() < 18) Truncated(TImageFormat::Tga);
  const qint64 width = Le16(D, 12), height = Le16(D, 14);
  CheckSize(width, height);
  const bool footer = D.endsWith(signature);
  const quint8 type = ByteAt(D, 2);
  if (type == 1 || type == 2 || type == 3) {
    // Stored pixels: the file must hold them all.
    const qint64 map = ByteAt(D, 1) ? qint64(Le16(D, 5)) * ((ByteAt(D, 7) + 7) / 8) : 0;
    const qint64 pixels = width * height * ((ByteAt(D, 16) + 7) / 8);
    if (18 + ByteAt(D, 0) + map + pixels > D.size() - (footer ? 26 : 0)) Truncated(TImageFormat::Tga);
  }
  if (footer) return D;
  QByteArray out = D;
  out.append(QByteArray(8, '\0'));
  out.append(signature);
  return out;
}

const char* QtFormat(TImageFormat Format) {
  switch (Format) {
    case TImageFormat::Bmp: return "bmp";
    case TImageFormat::Gif: return "gif";
    case TImageFormat::Tiff: return "tiff";
    case TImageFormat::Tga: return "tga";
    case TImageFormat::Ico: return "ico";
    case TImageFormat::WebP: return "webp";
    case TImageFormat::Pnm: return "ppm";  // the ppm handler reads P1 to P6
    case TImageFormat::Xpm: return "xpm";
    default: return nullptr;
  }
}

QImage ReadWithQt(const QByteArray& Data, TImageFormat Format, const TReadOptions& Options) {
  const char* format = QtFormat(Format);
  if (!QImageReader::supportedImageFormats().contains(format))
    throw EImageError(QStringLiteral("No reader for %1 pictures").arg(FormatName(Format)));
  // Qt refuses on its own what would need more memory than this.
  const qint64 megabytes = MaxPixels() * 4 / (1024 * 1024) + 1;
  QImageReader::setAllocationLimit(static_cast<int>(std::min<qint64>(megabytes, 1 << 30)));

  QByteArray data = Data;
  if (Format == TImageFormat::Bmp) CheckBmp(Data);
  if (Format == TImageFormat::Gif) CheckGif(Data);
  if (Format == TImageFormat::Pnm) CheckPnm(Data);
  if (Format == TImageFormat::Tga) data = WithTgaFooter(Data);

  if (Options.Progress) Options.Progress(0);
  QBuffer buffer;
  buffer.setData(data);
  buffer.open(QIODevice::ReadOnly);
  QImageReader reader(&buffer, format);
  reader.setDecideFormatFromContent(false);
  reader.setAutoTransform(false);
  const QSize size = reader.size();
  if (size.isValid()) CheckSize(size.width(), size.height());
  QImage image;
  if (!reader.read(&image) || image.isNull())
    throw EImageError(QStringLiteral("Unable to read the %1 picture: %2").arg(FormatName(Format), reader.errorString()));
  CheckSize(image.width(), image.height());
  QImage result = ToRgb24(image);
  if (Options.Progress) Options.Progress(100);
  return result;
}

}  // namespace

// --- Limits -------------------------------------------------------------------

qint64 MaxPixels() {
  qint64 limit = GMaxPixels.load();
  if (limit <= 0) {
    limit = DefaultMaxPixels();
    GMaxPixels.store(limit);
  }
  return limit;
}

qint64 SetMaxPixels(qint64 Pixels) {
  const qint64 previous = MaxPixels();
  GMaxPixels.store(Pixels > 0 ? Pixels : DefaultMaxPixels());
  return previous;
}

void CheckSize(qint64 Width, qint64 Height) {
  if (Width <= 0 || Height <= 0)
    throw EImageError(QStringLiteral("Invalid picture size (%1 x %2 pixels)").arg(Width).arg(Height));
  if (Width > MaxPixels() / Height)
    throw EImageError(QStringLiteral("Picture too large (%1 x %2 pixels)").arg(Width).arg(Height));
}

// --- Formats ------------------------------------------------------------------

TImageFormat FormatFromExtension(const QString& FileNameOrExtension) {
  QString ext = FileNameOrExtension;
  const qsizetype slash = ext.lastIndexOf(QLatin1Char('/'));
  if (slash >= 0) ext = ext.mid(slash + 1);
  const qsizetype dot = ext.lastIndexOf(QLatin1Char('.'));
  if (dot >= 0) ext = ext.mid(dot + 1);
  ext = ext.toLower();
  for (const TExtension& e : kExtensions)
    if (ext == QLatin1String(e.Ext)) return e.Format;
  return TImageFormat::Unknown;
}

TImageFormat FormatFromContent(const QByteArray& Data) {
  if (StartsWith(Data, "\xFF\xD8\xFF", 3)) return TImageFormat::Jpeg;
  if (StartsWith(Data, "\x89PNG\r\n\x1A\n", 8)) return TImageFormat::Png;
  if (StartsWith(Data, "GIF87a", 6) || StartsWith(Data, "GIF89a", 6)) return TImageFormat::Gif;
  if (StartsWith(Data, "II*\0", 4) || StartsWith(Data, "MM\0*", 4)) return TImageFormat::Tiff;
  if (StartsWith(Data, "RIFF", 4) && StartsWith(Data, "WEBP", 4, 8)) return TImageFormat::WebP;
  if (StartsWith(Data, "BM", 2) && Data.size() >= 26) return TImageFormat::Bmp;
  if (StartsWith(Data, "/* XPM */", 9)) return TImageFormat::Xpm;
  if (Data.size() >= 3 && Data.at(0) == 'P' && Data.at(1) >= '1' && Data.at(1) <= '6' &&
      QByteArrayView(" \t\r\n#").contains(Data.at(2)))
    return TImageFormat::Pnm;
  if (Data.size() >= 6 && StartsWith(Data, "\0\0", 2) && (ByteAt(Data, 2) == 1 || ByteAt(Data, 2) == 2) &&
      ByteAt(Data, 3) == 0 && (ByteAt(Data, 4) | ByteAt(Data, 5)) != 0)
    return TImageFormat::Ico;
  if (Data.size() >= 128 && ByteAt(Data, 0) == 0x0A && ByteAt(Data, 1) <= 5 && ByteAt(Data, 2) <= 1 &&
      QByteArrayView("\x01\x02\x04\x08", 4).contains(Data.at(3)))
    return TImageFormat::Pcx;
  if (LooksLikeTga(Data)) return TImageFormat::Tga;
  return TImageFormat::Unknown;
}

QString FormatName(TImageFormat Format) {
  switch (Format) {
    case TImageFormat::Jpeg: return QStringLiteral("JPEG");
    case TImageFormat::Png: return QStringLiteral("PNG");
    case TImageFormat::Bmp: return QStringLiteral("BMP");
    case TImageFormat::Gif: return QStringLiteral("GIF");
    case TImageFormat::Tiff: return QStringLiteral("TIFF");
    case TImageFormat::Tga: return QStringLiteral("TGA");
    case TImageFormat::Ico: return QStringLiteral("ICO");
    case TImageFormat::WebP: return QStringLiteral("WebP");
    case TImageFormat::Pnm: return QStringLiteral("PNM");
    case TImageFormat::Xpm: return QStringLiteral("XPM");
    case TImageFormat::Pcx: return QStringLiteral("PCX");
    case TImageFormat::Unknown: break;
  }
  return QStringLiteral("unknown");
}

// --- Reading ------------------------------------------------------------------

QByteArray ReadFileBytes(const QString& FileName) {
  const QFileInfo info(FileName);
  if (info.isDir()) throw EImageError(QStringLiteral("Not a picture file, %1").arg(FileName));
  QFile file(FileName);
  if (!file.open(QIODevice::ReadOnly))
    throw EImageError(QStringLiteral("Unable to open the file, %1").arg(FileName));
  return ReadDeviceBytes(file, FileName);
}

QByteArray ReadDeviceBytes(QIODevice& Device, const QString& Name) {
  const qint64 size = Device.size() - Device.pos();
  if (size <= 0) throw EImageError(QStringLiteral("Empty picture file, %1").arg(Name));
  // A compressed picture is smaller than its pixels; what is larger than
  // the largest picture we hold is not a picture to read.
  if (size > MaxPixels() * 4 + (1 << 20)) throw EImageError(QStringLiteral("Picture file too large, %1").arg(Name));
  QByteArray data;
  data.resize(static_cast<qsizetype>(size));
  qint64 done = 0;
  while (done < size) {
    // A file cut short or removed while we read ends here.
    const qint64 n = Device.read(data.data() + done, size - done);
    if (n <= 0) throw EImageError(QStringLiteral("Unable to read the file, %1").arg(Name));
    done += n;
  }
  return data;
}

QImage Read(const QByteArray& Data, TImageFormat Format, const TReadOptions& Options) {
  if (Data.isEmpty()) throw EImageError(QStringLiteral("Empty picture file"));
  switch (Format) {
    case TImageFormat::Jpeg: return ReadJpeg(Data, Options);
    case TImageFormat::Png: return ReadPng(Data, Options);
    case TImageFormat::Pcx: return ReadPcx(Data, Options);
    case TImageFormat::Unknown: throw EImageError(QStringLiteral("Unknown picture format"));
    default: return ReadWithQt(Data, Format, Options);
  }
}

QImage ReadByContent(const QByteArray& Data, const TReadOptions& Options) {
  return Read(Data, FormatFromContent(Data), Options);
}

QImage ReadFile(const QString& FileName, const TReadOptions& Options) {
  const QByteArray data = ReadFileBytes(FileName);
  const TImageFormat format = FormatFromExtension(FileName);
  if (format == TImageFormat::Unknown) return ReadByContent(data, Options);
  return Read(data, format, Options);
}

QImage ReadScaled(const QString& FileName, QIODevice* Stream, int MaxSize) {
  TReadOptions options;
  if (MaxSize > 0) options.RequestedWidth = options.RequestedHeight = MaxSize;
  QByteArray data;
  if (Stream && Stream->size() > 0) {
    Stream->seek(0);
    data = ReadDeviceBytes(*Stream, FileName);
  } else {
    data = ReadFileBytes(FileName);
  }
  const TImageFormat format = FormatFromExtension(FileName);
  if (format == TImageFormat::Unknown) return ReadByContent(data, options);
  return Read(data, format, options);
}

// --- Writing ------------------------------------------------------------------

void WriteFile(const QImage& Image, const QString& FileName, const TWriteOptions& Options) {
  if (Image.isNull()) throw EImageError(QStringLiteral("No picture to write"));
  const TImageFormat format = FormatFromExtension(FileName);
  QByteArray data;
  if (format == TImageFormat::Jpeg) {
    data = WriteJpeg(Image, Options);
  } else if (format == TImageFormat::Png) {
    data = WritePng(Image, Options);
  } else {
    const QString suffix = QFileInfo(FileName).suffix().toLower();
    QByteArray name;
    if (format == TImageFormat::Pnm)
      name = suffix == QLatin1String("pnm") ? QByteArray("ppm") : suffix.toLatin1();
    else if (format != TImageFormat::Unknown)
      name = QtFormat(format);
    if (name.isEmpty() || !QImageWriter::supportedImageFormats().contains(name))
      throw EImageError(QStringLiteral("No writer for the file, %1").arg(FileName));
    if (Options.Progress) Options.Progress(0);
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, name);
    if (!writer.write(ToRgb24(Image)))
      throw EImageError(QStringLiteral("Unable to write the file, %1").arg(FileName));
    if (Options.Progress) Options.Progress(100);
  }
  WriteFileBytes(FileName, data);
}

void WriteFileBytes(const QString& FileName, const QByteArray& Data) {
  QFile file(FileName);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(Data) != Data.size() || !file.flush()) {
    file.close();
    file.remove();
    throw EImageError(QStringLiteral("Unable to write the file, %1").arg(FileName));
  }
}

// --- Conversion ---------------------------------------------------------------

QImage AllocateRgb24(int Width, int Height) {
  QImage image(Width, Height, QImage::Format_RGB888);
  if (image.isNull())
    throw EImageError(QStringLiteral("Not enough memory for the picture (%1 x %2 pixels)").arg(Width).arg(Height));
  return image;
}

QImage ToRgb24(const QImage& Image) {
  if (Image.isNull()) return QImage();
  if (Image.format() == QImage::Format_RGB888) return Image;
  if (!Image.hasAlphaChannel()) return Image.convertToFormat(QImage::Format_RGB888);
  const QImage rgba = Image.convertToFormat(QImage::Format_RGBA8888);
  QImage out = AllocateRgb24(rgba.width(), rgba.height());
  for (int y = 0; y < rgba.height(); ++y) {
    const uchar* s = rgba.constScanLine(y);
    uchar* d = out.scanLine(y);
    for (int x = 0; x < rgba.width(); ++x, s += 4, d += 3) MergeOntoWhite(s, d);
  }
  return out;
}

}  // namespace Images
