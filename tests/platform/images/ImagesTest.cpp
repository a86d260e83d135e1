#include "platform/images/Images.h"

#include "CodecFixtures.h"
#include "ImageFixtures.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace Images;
using namespace ImageFixtures;

namespace {

// Keeps the pixel limit for the life of the object.
class TMaxPixelsScope {
public:
  explicit TMaxPixelsScope(qint64 Pixels) : FPrevious(SetMaxPixels(Pixels)) {}
  ~TMaxPixelsScope() { SetMaxPixels(FPrevious); }

private:
  qint64 FPrevious;
};

// A device that promises more bytes than it gives: a file cut short or
// removed while it is read.
class TVanishingDevice : public QIODevice {
public:
  TVanishingDevice(QByteArray Data, qint64 Promised) : FData(std::move(Data)), FPromised(Promised) {
    open(QIODevice::ReadOnly);
  }
  qint64 size() const override { return FPromised; }
  bool isSequential() const override { return false; }

protected:
  qint64 readData(char* Out, qint64 Max) override {
    const qint64 left = FData.size() - FPos;
    if (left <= 0) return -1;
    const qint64 n = std::min(left, Max);
    std::memcpy(Out, FData.constData() + FPos, size_t(n));
    FPos += n;
    return n;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

private:
  QByteArray FData;
  qint64 FPromised;
  qint64 FPos = 0;
};

}  // namespace

// --- Every reader on a small fixture -------------------------------------------

struct TReaderCase {
  const char* Name;
  TImageFormat Format;
  std::function<QByteArray()> Bytes;
  std::function<QImage()> Expected;
  int Tolerance;        // per channel
  bool CentresOnly;     // lossy: compare the middle of each quadrant only
};

class ReaderFixture : public ::testing::TestWithParam<TReaderCase> {};

TEST_P(ReaderFixture, ReadsByExtensionAndByContent) {
  const TReaderCase& c = GetParam();
  const QByteArray bytes = c.Bytes();
  ASSERT_FALSE(bytes.isEmpty());
  EXPECT_EQ(FormatFromContent(bytes), c.Format);

  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("picture.") + QLatin1String(c.Name));
  WriteBytes(file, bytes);
  const QImage byExtension = ReadFile(file);
  const QImage byContent = ReadByContent(bytes);
  for (const QImage& image : {byExtension, byContent}) {
    ASSERT_EQ(image.format(), QImage::Format_RGB888);
    const QImage expected = c.Expected();
    ASSERT_EQ(image.size(), expected.size());
    if (c.CentresOnly)
      ExpectQuadrantCentres(image, expected, c.Tolerance);
    else
      ExpectSamePixels(image, expected, c.Tolerance);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ReaderFixture,
    ::testing::Values(
        TReaderCase{"jpg", TImageFormat::Jpeg, [] { return WriteJpeg(Quadrants(), {95, {}}); }, Quadrants, 24, true},
        TReaderCase{"png", TImageFormat::Png, [] { return WritePng(Quadrants()); }, Quadrants, 0, false},
        TReaderCase{"bmp", TImageFormat::Bmp, [] { return QtBytes(Quadrants(), "bmp"); }, Quadrants, 0, false},
        TReaderCase{"tif", TImageFormat::Tiff, [] { return QtBytes(Quadrants(), "tiff"); }, Quadrants, 0, false},
        TReaderCase{"webp", TImageFormat::WebP, [] { return QtBytes(Quadrants(), "webp", 100); }, Quadrants, 0, false},
        TReaderCase{"ppm", TImageFormat::Pnm, [] { return QtBytes(Quadrants(), "ppm"); }, Quadrants, 0, false},
        TReaderCase{"pgm", TImageFormat::Pnm, [] { return QtBytes(Greys(), "pgm"); }, Greys, 0, false},
        TReaderCase{"pbm", TImageFormat::Pnm, [] { return QtBytes(BlackAndWhite(), "pbm"); }, BlackAndWhite, 0, false},
        TReaderCase{"xpm", TImageFormat::Xpm, [] { return QtBytes(Quadrants(), "xpm"); }, Quadrants, 0, false},
        TReaderCase{"ico", TImageFormat::Ico, [] { return QtBytes(Quadrants(), "ico"); }, Quadrants, 0, false},
        TReaderCase{"gif", TImageFormat::Gif, [] { return Gif(Quadrants(), -1); }, Quadrants, 0, false},
        TReaderCase{"tga", TImageFormat::Tga, [] { return Tga(Quadrants(), false); }, Quadrants, 0, false},
        TReaderCase{"pcx", TImageFormat::Pcx, [] { return Pcx24(Quadrants(), true); }, Quadrants, 0, false}),
    [](const ::testing::TestParamInfo<TReaderCase>& Info) { return std::string(Info.param.Name); });

TEST(ImageTransparency, IsMergedOntoWhite) {
  // Half-transparent red and a fully transparent pixel, through each reader
  // that carries transparency.
  QImage rgba(2, 1, QImage::Format_RGBA8888);
  rgba.setPixelColor(0, 0, QColor(255, 0, 0, 128));
  rgba.setPixelColor(1, 0, QColor(0, 0, 0, 0));
  const QList<QPair<const char*, QByteArray>> files = {
      {"png", QtBytes(rgba, "png")},
      {"tga", Tga(rgba, true)},
      {"webp", QtBytes(rgba, "webp", 100)},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const QImage image = ReadByContent(bytes);
    ASSERT_EQ(image.format(), QImage::Format_RGB888);
    EXPECT_NEAR(image.pixelColor(0, 0).red(), 255, 1);
    EXPECT_NEAR(image.pixelColor(0, 0).green(), 127, 2);
    EXPECT_NEAR(image.pixelColor(0, 0).blue(), 127, 2);
    EXPECT_EQ(image.pixelColor(1, 0), QColor(Qt::white));
  }
  // A GIF's transparent colour.
  const QImage gif = ReadByContent(Gif(Quadrants(), 0));
  EXPECT_EQ(gif.pixelColor(0, 0), QColor(Qt::white));
  EXPECT_EQ(gif.pixelColor(gif.width() - 1, 0), Quadrants().pixelColor(gif.width() - 1, 0));
}

TEST(ImagePng, ReadsPaletteGreyAnd16BitInterlacedPictures) {
  const QImage source = Quadrants();
  const QList<QImage> variants = {
      source.convertToFormat(QImage::Format_Indexed8),
      source.convertToFormat(QImage::Format_RGBX64),
  };
  for (const QImage& v : variants) {
    const QImage image = ReadPng(QtBytes(v, "png"));
    ExpectSamePixels(image, source, 0);
  }
  const QImage grey = ReadPng(QtBytes(Greys().convertToFormat(QImage::Format_Grayscale8), "png"));
  ExpectSamePixels(grey, Greys(), 0);
  const QImage interlaced = ReadPng(InterlacedPng());
  ASSERT_EQ(interlaced.size(), QSize(9, 9));
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 9; ++x) EXPECT_EQ(interlaced.pixelColor(x, y), QColor(x * 20, y * 20, 100));
}

// --- JPEG scaling and orientation -------------------------------------------------

TEST(JpegScale, PicksTheLargestReductionThatStillGivesTheRequestedSize) {
  struct TCase {
    int W, H, RW, RH, Expected;
  } cases[] = {
      {4000, 3000, 90, 75, 8},  {800, 600, 90, 75, 8},   {800, 600, 100, 75, 8}, {800, 600, 101, 75, 4},
      {800, 600, 100, 76, 4},   {800, 600, 400, 300, 2}, {800, 600, 401, 300, 1}, {801, 601, 101, 76, 8},
      {800, 600, 0, 75, 1},     {800, 600, 90, 0, 1},    {800, 600, 2000, 2000, 1},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(JpegScaleDenominator(c.W, c.H, c.RW, c.RH), c.Expected) << c.W << "x" << c.H << " " << c.RW << "x" << c.RH;
}

TEST(JpegScale, DecodesAtTheReducedSize) {
  const QByteArray jpeg = WriteJpeg(Noise(800, 600), {});
  TReadOptions options;
  options.RequestedWidth = 90;
  options.RequestedHeight = 75;
  EXPECT_EQ(ReadJpeg(jpeg, options).size(), QSize(100, 75));
  options.RequestedWidth = 300;
  EXPECT_EQ(ReadJpeg(jpeg, options).size(), QSize(400, 300));
  EXPECT_EQ(ReadJpeg(jpeg).size(), QSize(800, 600));
}

TEST(JpegOrientation, EveryExifOrientationIsApplied) {
  // Quadrants: red top left, green top right, blue bottom left, yellow
  // bottom right. For each orientation: the displayed size and the colours
  // at the displayed top left and top right.
  const QImage source = Quadrants();  // 32 x 24
  const QColor red = source.pixelColor(0, 0), green = source.pixelColor(31, 0);
  const QColor blue = source.pixelColor(0, 23), yellow = source.pixelColor(31, 23);
  struct TCase {
    int Orientation;
    bool Turned;
    QColor TopLeft, TopRight;
  } cases[] = {
      {1, false, red, green},   {2, false, green, red},  {3, false, yellow, blue}, {4, false, blue, yellow},
      {5, true, red, blue},     {6, true, blue, red},    {7, true, yellow, green}, {8, true, green, yellow},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Orientation);
    const QImage image = ReadJpeg(WithExifOrientation(WriteJpeg(source, {95, {}}), c.Orientation, true));
    ASSERT_EQ(image.size(), c.Turned ? QSize(24, 32) : QSize(32, 24));
    ExpectNear(image.pixelColor(3, 3), c.TopLeft, 24);
    ExpectNear(image.pixelColor(image.width() - 4, 3), c.TopRight, 24);
  }
  // Big-endian EXIF too.
  EXPECT_EQ(ReadJpeg(WithExifOrientation(WriteJpeg(source, {}), 6, false)).size(), QSize(24, 32));
}

TEST(JpegOrientation, TheRequestedSizeIsMeantForTheTurnedPicture) {
  // Stored 800 x 400, shown 400 x 800: a request of 100 x 200 allows 1/4.
  const QByteArray jpeg = WithExifOrientation(WriteJpeg(Noise(800, 400), {}), 6, true);
  TReadOptions options;
  options.RequestedWidth = 100;
  options.RequestedHeight = 200;
  EXPECT_EQ(ReadJpeg(jpeg, options).size(), QSize(100, 200));
}

TEST(JpegColours, CmykPicturesBecomeRgb) {
  const QImage image = ReadJpeg(CmykJpeg());
  ASSERT_EQ(image.size(), QSize(16, 16));
  ExpectNear(image.pixelColor(8, 8), QColor(255, 0, 0), 12);  // full magenta and yellow
}

// --- PCX ----------------------------------------------------------------------------

TEST(PcxReader, ReadsEveryDepthEncodedAndStored) {
  const QImage colours = Quadrants();
  // 16 colours from the header palette, in 4 planes and in one 4-bit plane.
  const QImage sixteen = SixteenColours();
  struct TCase {
    const char* Name;
    QByteArray Bytes;
    QImage Expected;
  } cases[] = {
      {"24 bits RLE", Pcx24(colours, true), colours},
      {"24 bits stored", Pcx24(colours, false), colours},
      {"8 bits with palette", Pcx8(colours, true), colours},
      {"8 bits without palette is grey", Pcx8(Greys(), false), Greys()},
      {"4 planes of 1 bit", PcxPlanar16(sixteen), sixteen},
      {"1 plane of 4 bits", PcxPacked16(sixteen), sixteen},
      {"1 bit", PcxMono(BlackAndWhite()), BlackAndWhite()},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectSamePixels(ReadPcx(c.Bytes), c.Expected, 0);
  }
}

TEST(PcxReader, RunsMayCrossLinesAndByteArraysFromHand) {
  // 3 x 2, 8 bits, no palette (grey), bytes per line 4 (padded): one run of
  // 8 bytes of value 7 covers both lines.
  QByteArray file = PcxHeader(8, 1, 3, 2, 4, 1);
  file[1] = 4;
  file.append("\xC8\x07", 2);
  const QImage image = ReadPcx(file);
  ASSERT_EQ(image.size(), QSize(3, 2));
  EXPECT_EQ(image.pixelColor(2, 1), QColor(7, 7, 7));

  // A literal byte below 0xC0 stands for itself; 0xC1 0xC5 is one 0xC5.
  QByteArray literal = PcxHeader(8, 1, 2, 1, 2, 1);
  literal[1] = 4;
  literal.append("\x10\xC1\xC5", 3);
  const QImage l = ReadPcx(literal);
  EXPECT_EQ(l.pixelColor(0, 0), QColor(0x10, 0x10, 0x10));
  EXPECT_EQ(l.pixelColor(1, 0), QColor(0xC5, 0xC5, 0xC5));
}

TEST(PcxReader, VersionThreeFilesUseTheStandardSixteenColours) {
  QByteArray file = PcxHeader(4, 1, 2, 1, 1, 1);
  file[1] = 3;
  file.append("\x1F", 1);  // indices 1 and 15
  const QImage image = ReadPcx(file);
  EXPECT_EQ(image.pixelColor(0, 0), QColor(0, 0, 170));
  EXPECT_EQ(image.pixelColor(1, 0), QColor(255, 255, 255));
}

// --- Writing ------------------------------------------------------------------------

TEST(ImageWriting, WritesByExtension) {
  QTemporaryDir dir;
  const QImage source = Quadrants();
  struct TCase {
    const char* Ext;
    int Tolerance;
  } cases[] = {{"png", 0}, {"bmp", 0}, {"tif", 0}, {"tiff", 0}, {"ppm", 0}, {"jpg", 24}, {"jpeg", 24}, {"webp", 40}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Ext);
    const QString file = dir.filePath(QStringLiteral("out.") + QLatin1String(c.Ext));
    WriteFile(source, file);
    const QImage back = ReadFile(file);
    ASSERT_EQ(back.size(), source.size());
    ExpectQuadrantCentres(back, source, c.Tolerance);
  }
  EXPECT_EQ(FormatFromContent(ReadFileBytes(dir.filePath("out.jpg"))), TImageFormat::Jpeg);
  EXPECT_EQ(FormatFromContent(ReadFileBytes(dir.filePath("out.png"))), TImageFormat::Png);
  EXPECT_TRUE(MessageOf<EImageError>([&] { WriteFile(source, dir.filePath("out.xyz")); }).startsWith("No writer"));
  EXPECT_FALSE(QFile::exists(dir.filePath("out.xyz")));
}

TEST(ImageWriting, JpegQualityChangesTheSize) {
  const QImage noise = Noise(200, 150);
  const QByteArray low = WriteJpeg(noise, {10, {}});
  const QByteArray high = WriteJpeg(noise, {95, {}});
  EXPECT_LT(low.size() * 2, high.size());
  EXPECT_EQ(ReadJpeg(low).size(), QSize(200, 150));
}

TEST(ImageWriting, PngKeepsEveryPixel) {
  const QImage noise = Noise(61, 17);
  ExpectSamePixels(ReadPng(WritePng(noise)), noise, 0);
}

TEST(ImageProgress, ReportsRisingPercentagesToAHundred) {
  QList<int> seen;
  TReadOptions options;
  options.Progress = [&](int p) { seen.append(p); };
  for (const QByteArray& bytes : {WriteJpeg(Noise(64, 300), {}), WritePng(Noise(64, 300)), Pcx24(Noise(64, 300), true)}) {
    seen.clear();
    ReadByContent(bytes, options);
    ASSERT_GE(seen.size(), 3);
    EXPECT_EQ(seen.front(), 0);
    EXPECT_EQ(seen.back(), 100);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  }
}

TEST(ImageProgress, AnExceptionFromTheHandlerEndsTheReadCleanly) {
  // Thrown from the middle of libjpeg's, libpng's and our own decoding; the
  // sanitizers see any leak or corruption.
  struct TStop {};
  TReadOptions options;
  options.Progress = [](int p) {
    if (p >= 40) throw TStop();
  };
  for (const QByteArray& bytes : {WriteJpeg(Noise(64, 300), {}), WritePng(Noise(64, 300)), Pcx24(Noise(64, 300), true)})
    EXPECT_THROW(ReadByContent(bytes, options), TStop);
  TWriteOptions write;
  write.Progress = options.Progress;
  EXPECT_THROW(WriteJpeg(Noise(64, 300), write), TStop);
  EXPECT_THROW(WritePng(Noise(64, 300), write), TStop);
  EXPECT_THROW(Resample(Noise(64, 300), 30, 30, TResampleFilter::Lanczos3, options.Progress), TStop);
}

// --- Transforms ---------------------------------------------------------------------

TEST(ImageResample, LanczosKeepsFlatColoursAndAveragesFineDetail) {
  QImage flat(40, 30, QImage::Format_RGB888);
  flat.fill(QColor(90, 140, 200));
  for (const QSize& size : {QSize(7, 5), QSize(40, 31), QSize(123, 77)}) {
    const QImage out = Resample(flat, size.width(), size.height(), TResampleFilter::Lanczos3);
    ASSERT_EQ(out.size(), size);
    ExpectSamePixels(out, [&] {
      QImage e(size, QImage::Format_RGB888);
      e.fill(QColor(90, 140, 200));
      return e;
    }(), 1);
  }
  // One-pixel stripes reduced 4 times become grey; an edge stays sharp
  // and where it was.
  QImage stripes(64, 8, QImage::Format_RGB888);
  for (int x = 0; x < 64; ++x)
    for (int y = 0; y < 8; ++y) stripes.setPixelColor(x, y, x % 2 ? Qt::white : Qt::black);
  const QImage grey = Resample(stripes, 16, 2, TResampleFilter::Lanczos3);
  for (int x = 2; x < 14; ++x) EXPECT_NEAR(grey.pixelColor(x, 1).red(), 128, 3) << x;
  QImage edge(100, 4, QImage::Format_RGB888);
  for (int x = 0; x < 100; ++x)
    for (int y = 0; y < 4; ++y) edge.setPixelColor(x, y, x < 50 ? Qt::black : Qt::white);
  const QImage half = Resample(edge, 50, 2, TResampleFilter::Lanczos3);
  EXPECT_EQ(half.pixelColor(20, 0).red(), 0);
  EXPECT_EQ(half.pixelColor(30, 0).red(), 255);
  EXPECT_LT(half.pixelColor(23, 0).red(), 30);
  EXPECT_GT(half.pixelColor(26, 0).red(), 225);
}

TEST(ImageResample, NearestNeighbourRepeatsAndPicksPixels) {
  const QImage source = Quadrants();  // 32 x 24
  const QImage big = Resample(source, 64, 48, TResampleFilter::None);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) ASSERT_EQ(big.pixelColor(x, y), source.pixelColor(x / 2, y / 2));
  const QImage small = Resample(source, 4, 3, TResampleFilter::None);
  QSet<QRgb> colours;
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) colours.insert(small.pixel(x, y));
  EXPECT_EQ(colours.size(), 4);  // only colours of the source, no blend
  EXPECT_EQ(small.pixelColor(0, 0), source.pixelColor(0, 0));
  EXPECT_EQ(small.pixelColor(3, 2), source.pixelColor(31, 23));
  EXPECT_THROW(Resample(source, 0, 5, TResampleFilter::None), EImageError);
  EXPECT_THROW(Resample(source, -3, 5, TResampleFilter::Lanczos3), EImageError);
}

TEST(ImageRotate, QuarterTurnsClockwise) {
  const QImage source = Quadrants();
  const QColor red = source.pixelColor(0, 0), green = source.pixelColor(31, 0);
  const QColor blue = source.pixelColor(0, 23), yellow = source.pixelColor(31, 23);
  struct TCase {
    int Turns;
    QSize Size;
    QColor TopLeft, TopRight, BottomLeft;
  } cases[] = {
      {0, {32, 24}, red, green, blue},   {1, {24, 32}, blue, red, yellow},  {2, {32, 24}, yellow, blue, green},
      {3, {24, 32}, green, yellow, red}, {-1, {24, 32}, green, yellow, red}, {5, {24, 32}, blue, red, yellow},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Turns);
    const QImage r = RotateQuarterTurns(source, c.Turns);
    ASSERT_EQ(r.size(), c.Size);
    EXPECT_EQ(r.pixelColor(0, 0), c.TopLeft);
    EXPECT_EQ(r.pixelColor(r.width() - 1, 0), c.TopRight);
    EXPECT_EQ(r.pixelColor(0, r.height() - 1), c.BottomLeft);
  }
  // Four turns give the picture back pixel for pixel.
  const QImage noise = Noise(13, 7);
  ExpectSamePixels(RotateQuarterTurns(RotateQuarterTurns(noise, 1), 3), noise, 0);
}

TEST(ImageCrop, ClipsToThePictureAndRefusesNothing) {
  const QImage source = Noise(20, 10);
  const QImage part = Crop(source, QRect(15, 5, 10, 10));
  ASSERT_EQ(part.size(), QSize(5, 5));
  EXPECT_EQ(part.pixelColor(0, 0), source.pixelColor(15, 5));
  EXPECT_EQ(part.format(), QImage::Format_RGB888);
  EXPECT_THROW(Crop(source, QRect(30, 0, 5, 5)), EImageError);
  EXPECT_THROW(Crop(source, QRect(2, 2, 0, 5)), EImageError);
}

TEST(ImageColours, ReductionLeavesAtMost256ColoursCloseToTheOriginal) {
  const QImage noise = Noise(128, 96);
  const QImage reduced = ReduceTo256Colours(noise);
  ASSERT_EQ(reduced.size(), noise.size());
  ASSERT_EQ(reduced.format(), QImage::Format_RGB888);
  QSet<QRgb> colours;
  double error = 0;
  for (int y = 0; y < 96; ++y)
    for (int x = 0; x < 128; ++x) {
      colours.insert(reduced.pixel(x, y));
      const QColor a = noise.pixelColor(x, y), b = reduced.pixelColor(x, y);
      error += std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
    }
  EXPECT_LE(colours.size(), 256);
  EXPECT_GT(colours.size(), 64);
  EXPECT_LT(error / (128 * 96 * 3), 12.0);
  // A picture of few colours keeps them exactly.
  ExpectSamePixels(ReduceTo256Colours(Quadrants()), Quadrants(), 0);
}

// --- Bad input ------------------------------------------------------------------------

TEST(ImageBadInput, TruncatedFilesOfEveryFormatFail) {
  const QImage noise = Noise(40, 30);
  const QList<QPair<TImageFormat, QByteArray>> files = {
      {TImageFormat::Jpeg, WriteJpeg(noise, {})},    {TImageFormat::Png, WritePng(noise)},
      {TImageFormat::Pcx, Pcx24(noise, true)},        {TImageFormat::Pcx, Pcx8(Quadrants(), true)},
      {TImageFormat::Bmp, QtBytes(noise, "bmp")},     {TImageFormat::Tiff, QtBytes(noise, "tiff")},
      {TImageFormat::WebP, QtBytes(noise, "webp")},   {TImageFormat::Pnm, QtBytes(noise, "ppm")},
      {TImageFormat::Xpm, QtBytes(Quadrants(), "xpm")}, {TImageFormat::Ico, QtBytes(noise, "ico")},
      {TImageFormat::Gif, Gif(Quadrants(), -1)},      {TImageFormat::Tga, Tga(noise, false)},
  };
  for (const auto& [format, bytes] : files) {
    for (const double part : {0.0, 0.1, 0.5, 0.9}) {
      SCOPED_TRACE(FormatName(format).toStdString() + " cut at " + std::to_string(part));
      const QByteArray cut = bytes.left(std::max<qsizetype>(1, qsizetype(bytes.size() * part)));
      EXPECT_THROW(Read(cut, format), EImageError);
    }
  }
}

TEST(ImageBadInput, CorruptFilesEndInAnErrorOrAPicture) {
  // Bytes overwritten after the first 16: no crash, no other exception, and
  // whatever is read is a proper 24-bit picture.
  const QImage noise = Noise(40, 30);
  const QList<QByteArray> files = {WriteJpeg(noise, {}),     WritePng(noise),          Pcx24(noise, true),
                                   Pcx8(Quadrants(), true), QtBytes(noise, "bmp"),     QtBytes(noise, "tiff"),
                                   QtBytes(noise, "webp"),   QtBytes(noise, "ppm"),     QtBytes(Quadrants(), "xpm"),
                                   QtBytes(noise, "ico"),    Gif(Quadrants(), -1),     Tga(noise, false)};
  quint32 seed = 12345;
  for (const QByteArray& original : files) {
    for (int round = 0; round < 20; ++round) {
      QByteArray bytes = original;
      for (int i = 0; i < 8; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const qsizetype at = 16 + qsizetype(seed % quint32(bytes.size() - 16));
        bytes[at] = char(seed >> 24);
      }
      try {
        const QImage image = ReadByContent(bytes);
        EXPECT_EQ(image.format(), QImage::Format_RGB888);
        EXPECT_GT(image.width(), 0);
      } catch (const EImageError&) {
      }
    }
  }
}

TEST(ImageBadInput, HeadersClaimingTooManyPixelsAreRefusedBeforeAllocation) {
  // 100000 x 100000 pixels would be 30 GB: every reader must refuse from
  // the header alone.
  const QList<QPair<const char*, QByteArray>> files = {
      {"jpeg", HugeJpeg(65000, 65000)}, {"png", HugePng(100000, 100000)},
      {"pcx", HugePcx(65535, 65535)},     {"bmp", HugeBmp(100000, 100000)},
      {"gif", HugeGif(65535, 65535)},     {"tiff", HugeTiff(100000, 100000)},
      {"ppm", QByteArray("P6\n100000 100000\n255\n") + QByteArray(64, 'x')},
      {"tga", HugeTga(65535, 65535)},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const QString message = MessageOf<EImageError>([&] { ReadByContent(bytes); });
    EXPECT_TRUE(message.contains("too large")) << message.toStdString();
  }
}

TEST(ImageBadInput, ThePixelLimitAppliesToEveryReader) {
  TMaxPixelsScope limit(32 * 24 - 1);
  const QList<QByteArray> files = {WriteJpeg(Quadrants(), {}), WritePng(Quadrants()), Pcx24(Quadrants(), true),
                                   QtBytes(Quadrants(), "bmp"), QtBytes(Quadrants(), "tiff"),
                                   QtBytes(Quadrants(), "ppm"), Gif(Quadrants(), -1), Tga(Quadrants(), false)};
  for (const QByteArray& bytes : files)
    EXPECT_TRUE(MessageOf<EImageError>([&] { ReadByContent(bytes); }).contains("too large")) << FormatName(FormatFromContent(bytes)).toStdString();
  // A scaled JPEG within the limit is still refused when the whole picture is not.
  TReadOptions options;
  options.RequestedWidth = 4;
  options.RequestedHeight = 3;
  EXPECT_THROW(ReadJpeg(WriteJpeg(Quadrants(), {}), options), EImageError);
}

TEST(ImageBadInput, EmptyMissingFolderAndVanishingFilesFail) {
  QTemporaryDir dir;
  const QString empty = dir.filePath("empty.jpg");
  WriteBytes(empty, QByteArray());
  QDir(dir.path()).mkdir("folder.png");
  EXPECT_TRUE(MessageOf<EImageError>([&] { ReadFile(empty); }).startsWith("Empty picture file"));
  EXPECT_TRUE(MessageOf<EImageError>([&] { ReadFile(dir.filePath("folder.png")); }).startsWith("Not a picture file"));
  EXPECT_TRUE(MessageOf<EImageError>([&] { ReadFile(dir.filePath("missing.png")); }).startsWith("Unable to open"));
  const QByteArray png = WritePng(Quadrants());
  TVanishingDevice device(png.left(png.size() / 2), png.size());
  EXPECT_TRUE(MessageOf<EImageError>([&] { ReadDeviceBytes(device, "gone.png"); }).startsWith("Unable to read the file"));
  EXPECT_THROW(Read(QByteArray(), TImageFormat::Png), EImageError);
  EXPECT_THROW(ReadByContent(QByteArray("not a picture at all")), EImageError);
}

TEST(ImageBadInput, CraftedJpegsFail) {
  // Tables only, no frame; a progressive file with more scans than any real
  // one.
  EXPECT_THROW(ReadJpeg(QByteArray("\xFF\xD8\xFF\xD9", 4)), EImageError);
  EXPECT_THROW(ReadJpeg(ManyScansJpeg(600)), EImageError);
  EXPECT_NO_THROW(ReadJpeg(ManyScansJpeg(20)));
}

TEST(ImageFormats, ExtensionsAndContent) {
  struct TCase {
    const char* Name;
    TImageFormat Format;
  } cases[] = {{"a.JPG", TImageFormat::Jpeg}, {"b.jpeg", TImageFormat::Jpeg}, {"c.jpe", TImageFormat::Jpeg},
               {"d.Png", TImageFormat::Png},  {"e.tif", TImageFormat::Tiff},  {"f.TIFF", TImageFormat::Tiff},
               {"g.pcx", TImageFormat::Pcx},  {"h.pgm", TImageFormat::Pnm},   {"/x.y/file", TImageFormat::Unknown},
               {"i.spx", TImageFormat::Unknown}, {"webp", TImageFormat::WebP}, {".ico", TImageFormat::Ico}};
  for (const TCase& c : cases) EXPECT_EQ(FormatFromExtension(c.Name), c.Format) << c.Name;
  EXPECT_EQ(FormatFromContent(QByteArray("P5 2 2 255 ")), TImageFormat::Pnm);
  EXPECT_EQ(FormatFromContent(QByteArray("Hello world")), TImageFormat::Unknown);
  EXPECT_EQ(FormatFromContent(QByteArray()), TImageFormat::Unknown);
}
