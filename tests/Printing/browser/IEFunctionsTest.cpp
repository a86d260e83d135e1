#include "Printing/browser/IEFunctions.h"

#include "TestSupport.h"
#include "platform/images/ImageFixtures.h"
#include "platform/images/Images.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace ImageFixtures;

namespace {

class TIEFunctionsTest : public ::testing::Test {
protected:
  QString Write(const QString& Name, const QByteArray& Bytes) {
    const QString file = FDir.filePath(Name);
    WriteBytes(file, Bytes);
    return file;
  }
  QString WriteJpeg(const QString& Name, const QImage& Image) { return Write(Name, Images::WriteJpeg(Image)); }

  QTemporaryDir FDir;
  TIEFunctions FFunctions;
};

int Colours(const QImage& Image) {
  QSet<QRgb> seen;
  for (int y = 0; y < Image.height(); ++y)
    for (int x = 0; x < Image.width(); ++x) seen.insert(Image.pixel(x, y));
  return int(seen.size());
}

}  // namespace

// --- Loading ------------------------------------------------------------------------

TEST_F(TIEFunctionsTest, LoadThumbnailDecodesJpegsScaledAndOthersAtFullSize) {
  const QImage photo = Noise(800, 600);
  const QString jpg = WriteJpeg("photo.JPG", photo);
  const QString jpe = WriteJpeg("photo.jpe", photo);
  const QString png = Write("photo.png", Images::WritePng(photo));
  QImage bitmap;
  ASSERT_TRUE(FFunctions.LoadThumbnail(bitmap, jpg, false, 75, 90));
  EXPECT_EQ(bitmap.size(), QSize(100, 75));
  ASSERT_TRUE(FFunctions.LoadThumbnail(bitmap, jpe, false, 150, 200));
  EXPECT_EQ(bitmap.size(), QSize(200, 150));
  ASSERT_TRUE(FFunctions.LoadThumbnail(bitmap, png, false, 75, 90));
  EXPECT_EQ(bitmap.size(), QSize(800, 600));
  // A requested size of 1 means full size.
  ASSERT_TRUE(FFunctions.LoadThumbnail(bitmap, jpg, false, 1, 90));
  EXPECT_EQ(bitmap.size(), QSize(800, 600));
  EXPECT_EQ(bitmap.format(), QImage::Format_RGB888);
}

TEST_F(TIEFunctionsTest, LoadJpegScaledWithoutSizesIsFullSizeAndFailsOnOtherFiles) {
  const QString jpg = WriteJpeg("photo.jpg", Noise(400, 300));
  QImage bitmap;
  ASSERT_TRUE(FFunctions.LoadJpegScaled(bitmap, jpg, false, 0, 50));
  EXPECT_EQ(bitmap.size(), QSize(400, 300));
  ASSERT_TRUE(FFunctions.LoadJpegScaled(bitmap, jpg, false, 37, 50));
  EXPECT_EQ(bitmap.size(), QSize(50, 38));
  const QString png = Write("other.jpg", Images::WritePng(Quadrants()));
  EXPECT_FALSE(FFunctions.LoadJpegScaled(bitmap, png, false, 10, 10));
  EXPECT_FALSE(FFunctions.LoadJpegScaled(bitmap, FDir.filePath("missing.jpg"), false, 10, 10));
  EXPECT_FALSE(FFunctions.LastError().isEmpty());
}

TEST_F(TIEFunctionsTest, FalseExtensionsAreReadByContent) {
  FFunctions.SetFalseExtensionformats("*.EZP;*.NDE;*.OCN;*.PICT;*.PX;*.QTE;*.SPIX;*.SPM;*.SPX;*.X;*.MVK;*.XXX;");
  const QByteArray png = Images::WritePng(Quadrants());
  QImage bitmap;
  ASSERT_TRUE(FFunctions.LoadImageFile(bitmap, Write("picture.spx", png), false));
  ExpectSamePixels(bitmap, Quadrants(), 0);
  ASSERT_TRUE(FFunctions.LoadImageFile(bitmap, Write("picture.x", Images::WriteJpeg(Quadrants())), false));
  EXPECT_EQ(bitmap.size(), QSize(32, 24));

  EXPECT_FALSE(FFunctions.LoadImageFile(bitmap, Write("picture.zzz", png), false));
  EXPECT_EQ(FFunctions.LastError(), "Unknown Extension");
  EXPECT_EQ(bitmap.size(), QSize(1, 1));
  // In the list, but no reader knows the content.
  EXPECT_FALSE(FFunctions.LoadImageFile(bitmap, Write("notes.xxx", "just some text"), false));
  EXPECT_EQ(bitmap.size(), QSize(1, 1));
  // A picture of one pixel is a picture, not a sign that nothing was read.
  QImage pixel(1, 1, QImage::Format_RGB888);
  pixel.fill(Qt::red);
  ASSERT_TRUE(FFunctions.LoadImageFile(bitmap, Write("pixel.png", Images::WritePng(pixel)), false));
  EXPECT_EQ(bitmap.pixelColor(0, 0), QColor(Qt::red));
}

TEST_F(TIEFunctionsTest, BadFilesFailWithoutRaising) {
  QDir(FDir.path()).mkdir("folder.jpg");
  const QByteArray jpeg = Images::WriteJpeg(Noise(64, 48));
  const QString files[] = {
      Write("empty.png", QByteArray()),
      Write("cut.jpg", jpeg.left(jpeg.size() / 2)),
      Write("cut.pcx", Pcx24(Noise(40, 30), true).left(300)),
      Write("huge.pcx", HugePcx(65535, 65535)),
      Write("garbage.png", QByteArray(300, 'g')),
      FDir.filePath("folder.jpg"),
      FDir.filePath("missing.bmp"),
  };
  for (const QString& file : files) {
    SCOPED_TRACE(file.toStdString());
    QImage bitmap;
    EXPECT_FALSE(FFunctions.LoadImageFile(bitmap, file, true));
    EXPECT_FALSE(FFunctions.LastError().isEmpty());
    EXPECT_FALSE(FFunctions.LoadThumbnail(bitmap, file, false, 75, 90));
  }
}

// --- Progress -------------------------------------------------------------------------

TEST_F(TIEFunctionsTest, ProgressIsReportedOnlyWhenAskedAndEndsOnce) {
  const QString jpg = WriteJpeg("photo.jpg", Noise(64, 400));
  QList<int> percents;
  int ends = 0;
  FFunctions.OnProgress = [&](QObject* Sender, int per) {
    EXPECT_EQ(Sender, &FFunctions);
    percents.append(per);
  };
  FFunctions.OnProgressEnd = [&](QObject*) { ++ends; };
  QImage bitmap;
  ASSERT_TRUE(FFunctions.LoadImageFile(bitmap, jpg, false));
  EXPECT_TRUE(percents.isEmpty());
  EXPECT_EQ(ends, 0);
  // A quiet operation leaves the next one free to report.
  ASSERT_TRUE(FFunctions.LoadImageFile(bitmap, jpg, true));
  EXPECT_GE(percents.size(), 3);
  EXPECT_EQ(percents.back(), 100);
  EXPECT_EQ(ends, 1);
  percents.clear();
  ASSERT_TRUE(FFunctions.ResampleBitmap(bitmap, 30, true, false, false, true, 200));
  EXPECT_FALSE(percents.isEmpty());
  EXPECT_EQ(ends, 2);
}

TEST_F(TIEFunctionsTest, AStopFromTheProgressHandlerIsAFailureNotAnException) {
  const QString jpg = WriteJpeg("photo.jpg", Noise(64, 400));
  FFunctions.OnProgress = [](QObject*, int per) {
    if (per > 30) throw EAbort();
  };
  QImage bitmap;
  EXPECT_FALSE(FFunctions.LoadImageFile(bitmap, jpg, true));
  EXPECT_EQ(FFunctions.LastError(), "Operation aborted");
  QImage picture = Noise(300, 300);
  EXPECT_FALSE(FFunctions.ResampleBitmap(picture, 100, true, false, false, true, 100));
  EXPECT_EQ(picture.size(), QSize(300, 300));
  EXPECT_FALSE(FFunctions.SaveImageFile(picture, FDir.filePath("out.jpg"), true, false, 80));
}

// --- Saving ---------------------------------------------------------------------------

TEST_F(TIEFunctionsTest, SaveImageFileWritesJpegWithTheQuality) {
  QImage picture = Noise(200, 150);
  const QString low = FDir.filePath("low.jpg"), high = FDir.filePath("high.jpg");
  ASSERT_TRUE(FFunctions.SaveImageFile(picture, low, false, false, 10));
  ASSERT_TRUE(FFunctions.SaveImageFile(picture, high, false, false, 95));
  EXPECT_LT(QFileInfo(low).size() * 2, QFileInfo(high).size());
  EXPECT_EQ(Images::FormatFromContent(Images::ReadFileBytes(high)), Images::TImageFormat::Jpeg);
  // Without a quality the default is used.
  ASSERT_TRUE(FFunctions.SaveImageFile(picture, FDir.filePath("default.jpg"), false, false, 0));
  // Reduced to 256 colours first, in place.
  ASSERT_TRUE(FFunctions.SaveImageFile(picture, FDir.filePath("reduced.jpg"), false, true, 90));
  EXPECT_LE(Colours(picture), 256);
  // Nowhere to write.
  EXPECT_FALSE(FFunctions.SaveImageFile(picture, FDir.filePath("no/such/folder/x.jpg"), false, false, 90));
  QImage none;
  EXPECT_FALSE(FFunctions.SaveImageFile(none, FDir.filePath("none.jpg"), false, false, 90));
  EXPECT_FALSE(QFile::exists(FDir.filePath("none.jpg")));
}

// --- Resampling -------------------------------------------------------------------------

TEST_F(TIEFunctionsTest, ResampleBitmapChoosesTheFilterAndKeepsWhatItShould) {
  QImage stripes(64, 64, QImage::Format_RGB888);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) stripes.setPixelColor(x, y, x % 2 ? Qt::white : Qt::black);

  QImage filtered = stripes;
  ASSERT_TRUE(FFunctions.ResampleBitmap(filtered, 16, false, false, false, true, 16));
  EXPECT_EQ(filtered.size(), QSize(16, 16));
  EXPECT_NEAR(filtered.pixelColor(8, 8).red(), 128, 3);  // averaged

  QImage plain = stripes;
  ASSERT_TRUE(FFunctions.ResampleBitmap(plain, 16, false, false, false, false, 16));
  EXPECT_EQ(Colours(plain), 1);  // picked, not averaged

  // Four pixels or fewer on a side: no filter even when asked.
  QImage tiny = stripes;
  ASSERT_TRUE(FFunctions.ResampleBitmap(tiny, 4, false, false, false, true, 40));
  EXPECT_LE(Colours(tiny), 2);

  // The same size, or a zero side: unchanged.
  QImage same = Quadrants();
  const uchar* bits = same.constBits();
  ASSERT_TRUE(FFunctions.ResampleBitmap(same, 32, false, false, false, true, 24));
  EXPECT_EQ(same.constBits(), bits);
  ASSERT_TRUE(FFunctions.ResampleBitmap(same, 0, false, false, false, true, 10));
  EXPECT_EQ(same.size(), QSize(32, 24));
  EXPECT_FALSE(FFunctions.ResampleBitmap(same, -5, false, false, false, true, 10));

  // Many colours reduced to 256.
  QImage noise = Noise(100, 80);
  ASSERT_TRUE(FFunctions.ResampleBitmap(noise, 60, false, false, true, true, 50));
  EXPECT_LE(Colours(noise), 256);
}

TEST_F(TIEFunctionsTest, OneBitPicturesStayOneBitUnlessConverted) {
  const QImage mono = BlackAndWhite().convertToFormat(QImage::Format_Mono);
  QImage kept = mono;
  ASSERT_TRUE(FFunctions.ResampleBitmap(kept, 15, false, false, false, true, 10));
  EXPECT_EQ(kept.depth(), 1);
  EXPECT_EQ(kept.size(), QSize(15, 10));
  QImage converted = mono;
  ASSERT_TRUE(FFunctions.ResampleBitmap(converted, 15, false, true, false, true, 10));
  EXPECT_EQ(converted.format(), QImage::Format_RGB888);
  EXPECT_GT(Colours(converted), 2);  // filtered: greys at the edges
}

// --- Fitting ----------------------------------------------------------------------------

TEST(TIEFunctionsFitRect, FitsKeepingTheAspectRatio) {
  struct TCase {
    int W, H;
    bool CentreV, CentreH, Shrink, Enlarge;
    int Top, Left, BoxH, BoxW;
    QRect Expected;
  } cases[] = {
      {4000, 2000, true, true, true, true, 0, 0, 75, 90, QRect(0, 15, 90, 45)},
      {4000, 2000, true, true, true, true, 10, 20, 75, 90, QRect(20, 25, 90, 45)},
      {50, 40, false, false, true, true, 0, 0, 75, 90, QRect(0, 0, 90, 72)},
      {50, 40, true, true, true, false, 0, 0, 75, 90, QRect(20, 18, 50, 40)},  // may not enlarge: centred as it is
      {4000, 2000, false, false, false, true, 0, 0, 75, 90, QRect(0, 0, 4000, 2000)},
      {2000, 4000, true, true, true, true, 0, 0, 75, 90, QRect(26, 0, 38, 75)},  // height-bound
      {90, 75, true, true, true, true, 5, 5, 75, 90, QRect(5, 5, 90, 75)},
      {0, 100, true, true, true, true, 7, 3, 75, 90, QRect(3, 7, 0, 0)},
      {100, 100, true, true, true, true, 0, 0, 0, 0, QRect(0, 0, 0, 0)},  // a box without room
  };
  TIEFunctions functions;
  for (const TCase& c : cases) {
    QRect out;
    const QRect r = functions.FitRect(c.W, c.H, out, c.CentreV, c.CentreH, c.Shrink, c.Enlarge, c.Top, c.Left, c.BoxH, c.BoxW);
    EXPECT_EQ(r, c.Expected) << c.W << "x" << c.H << " in " << c.BoxW << "x" << c.BoxH;
    EXPECT_EQ(out, r);
  }
}

TEST(TIEFunctionsFitRect, RoundsHalvesToEven) {
  TIEFunctions functions;
  QRect out;
  // 3 x 1 into 5 x 5: width-bound, 5 x 1.67 -> 5 x 2; centred: 2.5 - 1 = 1.5 -> 2.
  EXPECT_EQ(functions.FitRect(3, 1, out, true, false, true, true, 0, 0, 5, 5), QRect(0, 2, 5, 2));
  // 10 x 5 into 6 x 6: 6 x 3; centred: 3 - 1.5 = 1.5 -> 2.
  EXPECT_EQ(functions.FitRect(10, 5, out, true, false, true, true, 0, 0, 6, 6), QRect(0, 2, 6, 3));
  // 10 x 5 into 4 x 9: 4 x 2; centred: 4.5 - 1 = 3.5 -> 4.
  EXPECT_EQ(functions.FitRect(10, 5, out, true, false, true, true, 0, 0, 9, 4), QRect(0, 4, 4, 2));
  // 10 x 5 into 4 x 7: 4 x 2; centred: 3.5 - 1 = 2.5 -> 2.
  EXPECT_EQ(functions.FitRect(10, 5, out, true, false, true, true, 0, 0, 7, 4), QRect(0, 2, 4, 2));
}

// --- File helpers ------------------------------------------------------------------------

TEST(FileHelpers, FormatFileSize) {
  struct TCase {
    qint64 Size;
    const char* Text;
  } cases[] = {{0, "0 KB"},          {511, "0 KB"},          {512, "1 KB"},           {1000, "1 KB"},
               {1048575, "1024 KB"}, {1048576, "1.00 MB"},   {2000000, "1.91 MB"},   {10485247, "10.00 MB"},
               {10485248, "10 MB"},  {20000000, "19 MB"},    {5000000000LL, "4768 MB"}};
  for (const TCase& c : cases) EXPECT_EQ(FormatFileSize(c.Size), c.Text) << c.Size;
}

TEST(FileHelpers, ExtensionListTest) {
  struct TCase {
    const char* Name;
    const char* List;
    bool Matches;
  } cases[] = {
      {"a.jpg", "*.JPG;*.PNG;", true},    {"a.JPG", "*.jpg", true},           {"dir.x/a.png", "*.JPG;*.PNG", true},
      {"a.pg", "*.JPG;", false},          {"a.jpgx", "*.JPG;", false},        {"a.bmp", "*.JPG;*.PNG;", false},
      {"noext", "*.JPG;", false},         {"noext", "*.AAA;", true},          {"dot.", "*.aaa", true},
      {"anything.q", "*.*", true},        {"anything", "*.*;", true},         {"a.jpg", "", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(matchesExtensionList(c.Name, c.List), c.Matches) << c.Name << " " << c.List;
}

TEST(FileHelpers, ListFolderKeepsMatchingEntries) {
  QTemporaryDir dir;
  for (const char* name : {"a.jpg", "b.PNG", "c.txt", "d"}) WriteBytes(dir.filePath(name), "x");
  QDir(dir.path()).mkdir("sub.jpg");
  QStringList list{"stale"};
  ASSERT_TRUE(listFolder(dir.path(), "*.JPG;*.PNG;", list, false));
  list.sort();
  EXPECT_EQ(list, QStringList({"a.jpg", "b.PNG", "sub.jpg"}));
  ASSERT_TRUE(listFolder(dir.path(), "*.*", list, true));
  EXPECT_EQ(list.size(), 5);
  EXPECT_TRUE(list.contains(dir.path() + "/d"));

  TestDialogs().Clear();
  const QString missing = dir.filePath("missing");
  EXPECT_FALSE(listFolder(missing, "*.*", list, true));
  EXPECT_TRUE(list.isEmpty());
  ASSERT_EQ(TestDialogs().Asked().size(), 1);
  EXPECT_EQ(TestDialogs().Asked()[0].Text, "Unable to change to the directory, " + missing + ".");
  EXPECT_EQ(TestDialogs().Asked()[0].DlgType, mtInformation);
}

TEST(FileHelpers, CreateFolderAsksAndReports) {
  QTemporaryDir dir;
  TestDialogs().Clear();
  EXPECT_FALSE(createFolder("/ab", false, true));
  const QString deep = dir.filePath("one/two/three");
  {
    TDialogScript script;
    script.Answer(mrCancel);
    EXPECT_FALSE(createFolder(deep, true, true));
    ASSERT_EQ(script.Asked().size(), 1);
    EXPECT_EQ(script.Asked()[0].Text, "The folder, " + deep + " does not exist.  Would you like to create it?");
    EXPECT_EQ(script.Asked()[0].Buttons, mbOK | mbCancel);
  }
  EXPECT_FALSE(QFileInfo(deep).isDir());
  {
    TDialogScript script;
    script.Answer(mrOk);
    EXPECT_TRUE(createFolder(deep, true, true));
  }
  EXPECT_TRUE(QFileInfo(deep).isDir());
  EXPECT_TRUE(createFolder(deep, true, true));  // already there: nothing to ask
  // Under a file: cannot be made.
  WriteBytes(dir.filePath("file"), "x");
  TDialogScript script;
  EXPECT_FALSE(createFolder(dir.filePath("file/sub"), false, true));
  ASSERT_EQ(script.Asked().size(), 1);
  EXPECT_EQ(script.Asked()[0].Text, "An error was encountered while creating the folder, " + dir.filePath("file/sub"));
  EXPECT_EQ(script.Asked()[0].DlgType, mtWarning);
  EXPECT_FALSE(createFolder(dir.filePath("file/sub2"), false, false));
  EXPECT_EQ(script.Asked().size(), 1);
}

TEST(FileHelpers, MakeUniqueFileNameCountsFromTwo) {
  QTemporaryDir dir;
  const QString name = dir.filePath("pic.jpg");
  EXPECT_EQ(MakeUniqueFileName(name), name);
  WriteBytes(name, "x");
  EXPECT_EQ(MakeUniqueFileName(name), dir.filePath("pic_2.jpg"));
  WriteBytes(dir.filePath("pic_2.jpg"), "x");
  EXPECT_EQ(MakeUniqueFileName(name), dir.filePath("pic_3.jpg"));
  EXPECT_EQ(MakeUniqueFileName(name, "-"), dir.filePath("pic-2.jpg"));
  EXPECT_EQ(MakeUniqueFileName(name, ""), dir.filePath("pic_3.jpg"));
  WriteBytes(dir.filePath("README"), "x");
  EXPECT_EQ(MakeUniqueFileName(dir.filePath("README")), dir.filePath("README_2"));
}

TEST(FileHelpers, TemporaryFileNameAndNameWithoutExtension) {
  const QString temp = temporaryFileName("/some/where/scan.jpg");
  EXPECT_EQ(QFileInfo(temp).path(), QDir::tempPath());
  EXPECT_TRUE(QFileInfo(temp).fileName().startsWith("scan"));
  EXPECT_FALSE(QFileInfo::exists(temp));
  EXPECT_EQ(nameWithoutExtension("/a/b.c/photo.final.jpg"), "photo.final");
  EXPECT_EQ(nameWithoutExtension("/a/b.c/photo"), "photo");
  EXPECT_EQ(nameWithoutExtension("photo.jpg"), "photo");
}
