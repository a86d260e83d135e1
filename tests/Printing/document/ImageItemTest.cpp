#include "Printing/document/PreviewItemsU.h"

#include "TestSupport.h"
#include "platform/Exceptions.h"
#include "platform/images/Images.h"

#include <QBuffer>
#include <QDir>
#include <QImageReader>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ImageItemTest : public ::testing::Test {
protected:
  ImageItemTest() {
    form = std::make_unique<QWidget>();
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->setGeometry(0, 0, 706, 624);
    doc->Loaded();
  }

  TPreviewImage* NewImage() {
    auto* image = new TPreviewImage(form.get());
    image->SetPrintPreview(doc);
    return image;
  }

  TTestPrinterScope printer;
  QTemporaryDir dir;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc;
};

}  // namespace

TEST_F(ImageItemTest, PreviewsAreHalvedUntilTheyFitTheCachedSize) {
  struct {
    int w, h, pw, ph;
  } cases[] = {{3000, 2000, 375, 250}, {400, 300, 400, 300}, {1025, 10, 512, 5}, {512, 512, 512, 512}};
  for (const auto& c : cases) {
    TPreviewImage* image = NewImage();
    image->LoadFromFile(WritePicture(dir, QStringLiteral("p%1x%2.png").arg(c.w).arg(c.h), c.w, c.h));
    ASSERT_TRUE(image->HasPreview(0));
    EXPECT_EQ(image->GetPreview(0).size(), QSize(c.pw, c.ph)) << c.w << "x" << c.h;
    EXPECT_FLOAT_EQ(image->ContentRatio(), static_cast<float>(c.w) / c.h);
    EXPECT_FALSE(image->HasBitmap());  // only while it is needed
    EXPECT_EQ(image->GetBitmap(false).size(), QSize(c.w, c.h));
    image->ReleaseBitmap();
    EXPECT_FALSE(image->HasBitmap());
  }
}

TEST_F(ImageItemTest, KeepingPoliciesAfterATurn) {
  const QString file = WritePicture(dir, QStringLiteral("turn.png"), 400, 300);
  struct {
    TBitmapCache policy;
    bool keepsRotation0, keepsBitmap, keepsStream;
  } cases[] = {
      {bcNone, false, false, false},
      {bcCompressed, false, false, true},
      {bcUncompressed, true, true, false},
  };
  for (const auto& c : cases) {
    doc->SetKeepBitmapsInMemory(c.policy);
    TPreviewImage* image = NewImage();
    image->LoadFromFile(file);
    image->Rotate(1);
    EXPECT_EQ(image->GetPreview(1).size(), QSize(300, 400));
    EXPECT_TRUE(image->HasPreview(1));
    EXPECT_EQ(image->HasPreview(0), c.keepsRotation0) << c.policy;
    EXPECT_EQ(image->HasBitmap(), c.keepsBitmap) << c.policy;
    EXPECT_EQ(image->HasStream() && image->Stream().size() > 0, c.keepsStream) << c.policy;
    EXPECT_FLOAT_EQ(image->AspectRatio(), 0.75f);
    image->FreeCache(true);
    EXPECT_FALSE(image->HasPreview(1));
  }
}

TEST_F(ImageItemTest, AMissingFileGivesTheErrorPicture) {
  TPreviewImage* image = NewImage();
  image->LoadFromFile(dir.filePath(QStringLiteral("gone/holiday.jpg")));
  EXPECT_EQ(image->GetBitmap(true).size(), QSize(128, 128));
  EXPECT_FLOAT_EQ(image->ContentRatio(), 1.0f);
  EXPECT_TRUE(image->GetDescription().startsWith(QStringLiteral("<P align=\"left\">Error loading file <BR>")))
      << image->GetDescription().toStdString();
  EXPECT_TRUE(image->GetDescription().endsWith(QStringLiteral("<BR>")));
  // The picture is not blank: something is written on it.
  const QImage& preview = image->GetPreview(0);
  bool ink = false;
  for (int y = 0; y < preview.height() && !ink; ++y)
    for (int x = 0; x < preview.width() && !ink; ++x) ink = preview.pixelColor(x, y) != QColor(Qt::white);
  EXPECT_TRUE(ink);
  EXPECT_EQ(MessageOf<Exception>([&] { image->LoadFromFile(QString()); }),
            QStringLiteral("No filename provided in TPreviewImage.LoadFromFile"));
}

TEST_F(ImageItemTest, ALoadingHandlerDecodesAndGetsTheReducedSizeForTheScreen) {
  const QString file = WritePicture(dir, QStringLiteral("handled.png"), 2048, 1024);
  QList<int> sizes;
  QList<qint64> streamSizes;
  doc->OnLoadingBitmap = [&](bool& handled, QImage& bitmap, const QString& name, QIODevice* stream, int maxSize) {
    sizes << maxSize;
    streamSizes << (stream ? stream->size() : -1);
    QImageReader reader(name);
    if (maxSize > 0) reader.setScaledSize(QSize(maxSize, maxSize / 2));
    bitmap = reader.read().convertToFormat(QImage::Format_RGB888);
    handled = true;
  };
  TPreviewImage* image = NewImage();
  image->LoadFromFile(file);
  EXPECT_EQ(image->GetPreview(0).size(), QSize(512, 256));
  EXPECT_EQ(image->GetBitmap(false).size(), QSize(2048, 1024));  // full size for printing
  EXPECT_EQ(sizes, (QList<int>{512, 0}));
  ASSERT_EQ(streamSizes.size(), 2);
  EXPECT_EQ(streamSizes[0], QFileInfo(file).size());  // the file's bytes are kept
}

TEST_F(ImageItemTest, APictureFromABitmapKeepsItAndCountsItsMemory) {
  QImage bitmap(100, 50, QImage::Format_RGB888);
  bitmap.fill(Qt::red);
  TPreviewImage* image = NewImage();
  image->CopyBitmap(bitmap);
  ASSERT_TRUE(image->HasStream());
  const qint64 stream = image->Stream().size();
  EXPECT_GT(stream, 15000);  // a lossless bitmap file
  EXPECT_EQ(image->GetMemoryUsed(), 15000 + 15000 + stream);
  image->FreeCache(true);
  EXPECT_TRUE(image->HasBitmap());  // no file to read it again from
  EXPECT_EQ(image->GetMemoryUsed(), 15000 + stream);
  EXPECT_FLOAT_EQ(image->AspectRatio(), 2.0f);
  EXPECT_EQ(MessageOf<Exception>([&] { image->CopyBitmap(QImage()); }),
            QStringLiteral("No Bitmap provided in TPreviewImage.CopyBitmap"));

  // An encoding handler stores its own form.
  doc->OnSaveBitmap = [](bool& handled, QString&, bool toStream, const QImage& b, QIODevice* s) {
    EXPECT_TRUE(toStream);
    handled = b.save(s, "PNG");
  };
  TPreviewImage* encoded = NewImage();
  encoded->CopyBitmap(bitmap);
  EXPECT_TRUE(encoded->Stream().buffer().startsWith("\x89PNG"));
}

TEST_F(ImageItemTest, AddFileAndAddBitmapSizeAndPlaceThePicture) {
  QStringList changes;
  doc->OnChanged = [&](QObject*, const QString& d) { changes << d; };
  IPreviewable* landscape = doc->AddFile(WritePicture(dir, QStringLiteral("wide.png"), 300, 200), 0);
  ASSERT_NE(landscape, nullptr);
  EXPECT_EQ(landscape->GetPrintWidth(), 1524);  // the default 6 x 4 inch box
  EXPECT_EQ(landscape->GetPrintHeight(), 1016);
  EXPECT_EQ(landscape->GetDescription(), QStringLiteral("wide.png"));
  IPreviewable* portrait = doc->AddFile(WritePicture(dir, QStringLiteral("tall.png"), 200, 300), afKeepSelection);
  EXPECT_EQ(portrait->GetPrintWidth(), 1016);  // turned box
  EXPECT_EQ(portrait->GetPrintHeight(), 1524);
  EXPECT_EQ(doc->SelectedCount(), 2);  // kept the first selected
  QImage scan(400, 400, QImage::Format_RGB888);
  scan.fill(Qt::blue);
  IPreviewable* scanned = doc->AddBitmap(QStringLiteral("TWAIN"), scan, 0);
  EXPECT_EQ(scanned->GetDescription(), QStringLiteral("TWAIN"));
  EXPECT_EQ(doc->SelectedCount(), 1);
  EXPECT_EQ(changes, (QStringList{"Add File(s)", "Add File(s)", "Add File(s)"}));
  for (int i = 0; i < doc->Items().Count(); ++i) EXPECT_NE(doc->Items().Previewable(i)->GetPagePreview(), nullptr);
}

TEST_F(ImageItemTest, AddFromDirectoryTakesTheMaskedNames) {
  for (const char* name : {"a.jpg", "b.PNG", "c.gif", "readme", "d."}) {
    QFile f(dir.filePath(QString::fromLatin1(name)));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  QDir(dir.path()).mkdir(QStringLiteral("sub.jpg"));
  EXPECT_TRUE(TPrintPreview::MatchesMasks(QStringLiteral("x/a.jpg"), QStringLiteral("*.JPG;*.PNG;")));
  struct {
    QString masks;
    QStringList added;
  } cases[] = {
      {QStringLiteral("*.JPG;*.PNG;"), {"a.jpg", "b.PNG", "sub.jpg"}},
      {QStringLiteral("*.JPG;*.PNG"), {"a.jpg", "b.PNG", "sub.jpg"}},
      {QStringLiteral("*.*"), {"a.jpg", "b.PNG", "c.gif", "d.", "readme", "sub.jpg"}},
  };
  for (const auto& c : cases) {
    doc->ClearAll();
    QStringList progress;
    doc->OnProgress = [&](QObject*, const QString& m, float) { progress << m; };
    doc->AddFromDirectory(dir.path(), c.masks, 0);
    QStringList added;
    for (int i = 0; i < doc->Items().Count(); ++i) added << doc->Items().Previewable(i)->GetDescription();
    added.sort();
    EXPECT_EQ(added, c.added) << c.masks.toStdString();
    EXPECT_EQ(progress.last(), QStringLiteral("Adding files from directory: Complete"));
    EXPECT_EQ(doc->UpdateLock(), 0);
  }
  EXPECT_EQ(MessageOf<Exception>([&] { doc->AddFromDirectory(dir.filePath(QStringLiteral("nope")), "*.*", 0); }),
            QStringLiteral("Invalid Directory: %1").arg(dir.filePath(QStringLiteral("nope"))));
  EXPECT_EQ(doc->UpdateLock(), 0);
}

TEST_F(ImageItemTest, CommandsOnTheSelectedItems) {
  QStringList changes;
  for (int i = 0; i < 3; ++i) doc->AddFile(WritePicture(dir, QStringLiteral("c%1.png").arg(i), 300, 200), afKeepSelection);
  doc->OnChanged = [&](QObject*, const QString& d) { changes << d; };
  doc->SelectItems(0);
  changes.clear();
  doc->DeleteSelected();  // nothing selected: nothing happens
  doc->RotateSelected(1);
  EXPECT_TRUE(changes.isEmpty());

  TPreviewItem* a = doc->Items().Item(0);
  TPreviewItem* b = doc->Items().Item(1);
  a->SetSelected(true);
  b->SetSelected(true);
  a->SetOptions(a->GetOptions() | poCanAutoRotate);
  doc->RotateSelected(1);
  EXPECT_EQ(a->_IntRotation(), 1);
  EXPECT_EQ(b->_IntRotation(), 1);
  EXPECT_FALSE(a->GetOptions().testFlag(poCanAutoRotate));
  EXPECT_EQ(changes, QStringList{QStringLiteral("Rotate")});

  // On an automatic page the reflow fits the turned pictures (2 : 3) into
  // the new boxes again.
  doc->ResizeSelected(500, 400, 0);
  EXPECT_EQ(a->PrintWidth(), 267);
  EXPECT_EQ(a->PrintHeight(), 400);
  EXPECT_EQ(b->PrintHeight(), 400);
  EXPECT_FALSE(a->GetOptions().testFlag(poCanAutoSize));
  EXPECT_EQ(changes.last(), QStringLiteral("Item(s) resize"));

  const QPointer<TPreviewItem> pa = a, pb = b;
  doc->DeleteSelected();
  EXPECT_TRUE(pa.isNull());
  EXPECT_TRUE(pb.isNull());
  EXPECT_EQ(doc->Items().Count(), 1);
  EXPECT_EQ(doc->SelectedItem(), nullptr);
  EXPECT_EQ(changes.last(), QStringLiteral("Item(s) delete"));
}

// The loading handler the program uses: the picture layer's scaled reader,
// the kept bytes first.
TEST_F(ImageItemTest, ThePictureLayerLoadsReducedForTheScreenAndFromTheKeptBytes) {
  doc->OnLoadingBitmap = PictureLayerLoader();
  QImage photo(4000, 3000, QImage::Format_RGB888);
  photo.fill(QColor(30, 120, 200));
  const QString file = dir.filePath(QStringLiteral("photo.jpg"));
  Images::WriteFile(photo, file);
  TPreviewImage* image = NewImage();
  image->LoadFromFile(file);
  // Decoded at 1/4 (1000 x 750, at least 512 each way), then halved once.
  EXPECT_EQ(image->GetPreview(0).size(), QSize(500, 375));
  EXPECT_FLOAT_EQ(image->ContentRatio(), 4.0f / 3.0f);
  // The file goes; the kept bytes still print at full size.
  QFile::remove(file);
  EXPECT_EQ(image->GetBitmap(false).size(), QSize(4000, 3000));
  image->ReleaseBitmap();
  // Without the kept bytes (policy bcNone) a vanished file gives the error picture.
  doc->SetKeepBitmapsInMemory(bcNone);
  Images::WriteFile(photo, file);
  TPreviewImage* uncached = NewImage();
  uncached->LoadFromFile(file);
  QFile::remove(file);
  EXPECT_EQ(uncached->GetBitmap(false).size(), QSize(128, 128));
}

// Printing asks the loader for no more than the printed size.
TEST_F(ImageItemTest, PrintingReadsThePictureAtThePrintedSize) {
  QList<int> sizes;
  doc->OnLoadingBitmap = [&](bool& handled, QImage& bitmap, const QString& name, QIODevice* stream, int maxSize) {
    sizes << maxSize;
    bitmap = Images::ReadScaled(name, stream, maxSize);
    handled = true;
  };
  QImage photo(4000, 3000, QImage::Format_RGB888);
  photo.fill(QColor(200, 30, 30));
  const QString file = dir.filePath(QStringLiteral("print.jpg"));
  Images::WriteFile(photo, file);
  TPreviewImage* image = NewImage();
  image->LoadFromFile(file);
  doc->Pages()[0]->AddPreviewItem(image, false);
  image->SetPrintBounds(300, 300, 1000, 750);  // 300 dpi: 1181 x 886 pixels
  sizes.clear();
  QList<QSize> offered;
  image->OnPrintImage = [&](bool& handled, const QImage& bitmap, QPainter*, const TPrinterSettings&, int, int, int w,
                            int h) {
    offered << bitmap.size();
    EXPECT_GE(bitmap.width(), w);
    EXPECT_GE(bitmap.height(), h);
    handled = true;
  };
  printer->BeginDoc();
  image->PrintTo(printer->Canvas(), 0, 0);
  printer->EndDoc();
  ASSERT_EQ(sizes.size(), 1);
  EXPECT_GE(sizes[0], 1181);
  ASSERT_EQ(offered.size(), 1);
  EXPECT_EQ(offered[0], QSize(2000, 1500));  // decoded at 1/2, not at full size
  EXPECT_FALSE(image->HasBitmap());
}
