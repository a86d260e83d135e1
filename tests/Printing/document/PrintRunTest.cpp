#include "Printing/document/PreviewItemsU.h"

#include "TestSupport.h"
#include "platform/Exceptions.h"

#include <QPainter>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

// An item whose printing fails, or stops the run.
class TFailingSample : public TPreviewItem {
  Q_OBJECT
public:
  TFailingSample(QObject* AOwner, bool AStop) : TPreviewItem(AOwner), FStop(AStop) {
    FPrintWidth = 300;
    FPrintHeight = 200;
    SetDescription(QStringLiteral("broken.jpg"));
  }
  bool PrintTo(QPainter*, int, int) override {
    if (FStop) throw EAbort();
    throw Exception(QStringLiteral("The disk is gone"));
  }

private:
  bool FStop;
};

namespace {

// A manual document: pictures stay where the test puts them.
class PrintRunTest : public ::testing::Test {
protected:
  PrintRunTest() : printer(QList<TTestPrinter::TInfo>{UnitPrinter(2100, 2970, 50)}) {
    form = std::make_unique<QWidget>();
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->SetDefaultLayoutType(ltManual);
    doc->setGeometry(0, 0, 706, 624);
    doc->OnProgress = [this](QObject*, const QString& m, float) { progress << m; };
    doc->OnAfterPrint = [this](QObject*) { ++afterPrint; };
    doc->Loaded();
  }

  // A one-colour picture at a print position on a page.
  TPreviewImage* PictureOn(int PageIndex, int Left, int Top, QColor Colour, int W = 400, int H = 300) {
    while (doc->PageCount() <= PageIndex) doc->NewPage();
    QImage bitmap(W / 4, H / 4, QImage::Format_RGB888);
    bitmap.fill(Colour);
    auto* image = dynamic_cast<TPreviewImage*>(doc->AddBitmap(QStringLiteral("pic"), bitmap, 0)->GetItem());
    if (image->PagePreview() != doc->Pages()[PageIndex]) {
      image->PagePreview()->RemoveFromLayout(image);
      doc->Pages()[PageIndex]->AddPreviewItem(image, false);
    }
    image->SetPrintBounds(Left, Top, W, H);
    return image;
  }

  QColor At(int Job, int Sheet, int X, int Y) { return printer->RenderPage(Job, Sheet).pixelColor(X, Y); }

  TTestPrinterScope printer;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc;
  QStringList progress;
  int afterPrint = 0;
};

}  // namespace

TEST_F(PrintRunTest, ThePageRangeIsCutToTheDocument) {
  const QColor colours[] = {Qt::red, Qt::green, Qt::blue};
  for (int i = 0; i < 3; ++i) PictureOn(i, 100, 100, colours[i]);
  struct {
    int from, to, sheets;
  } cases[] = {{2, 99, 2}, {0, 1, 1}, {1, 3, 3}};
  for (const auto& c : cases) {
    const size_t before = printer->Jobs().size();
    doc->Print(c.from, c.to);
    ASSERT_EQ(printer->Jobs().size(), before + 1);
    EXPECT_EQ(printer->Jobs().back().Pages.size(), c.sheets) << c.from << "-" << c.to;
    EXPECT_EQ(printer->Jobs().back().Title, QStringLiteral("Tavora"));
  }
  // Page 2 of the first run is the document's page 2: its colour at (50, 50)
  // of the printable area, the picture's corner at (100, 100) on the paper.
  EXPECT_EQ(At(0, 0, 60, 60), QColor(Qt::green));
  EXPECT_EQ(progress.last(), QStringLiteral("Printing complete."));
  EXPECT_TRUE(progress.contains(QStringLiteral("Spooling.")));
  EXPECT_EQ(afterPrint, 3);
  EXPECT_FALSE(doc->IsModifiedSincePrint());
}

TEST_F(PrintRunTest, AReversedRangePrintsNothing) {
  PictureOn(0, 100, 100, Qt::red);
  try {
    doc->Print(3, 2);
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Must have StartPage<=endpage"));
  }
  EXPECT_TRUE(printer->Jobs().empty());
}

TEST_F(PrintRunTest, AnEmptyPageUsesNoSheet) {
  PictureOn(0, 100, 100, Qt::red);
  doc->NewPage();  // page 2 stays empty
  PictureOn(2, 100, 100, Qt::blue);
  doc->Print(1, 3);
  ASSERT_EQ(printer->Jobs().size(), 1u);
  ASSERT_EQ(printer->Jobs()[0].Pages.size(), 2);
  EXPECT_EQ(At(0, 1, 60, 60), QColor(Qt::blue));
}

TEST_F(PrintRunTest, SeparateJobsGetTheirOwnTitles) {
  doc->SetUserOptions(uoPrintSeparatePages);
  doc->SetPrinterTitle(QStringLiteral("Job"));
  doc->SeparateJobPause = 10;
  PictureOn(0, 100, 100, Qt::red);
  PictureOn(1, 100, 100, Qt::blue);
  doc->Print(1, 2);
  ASSERT_EQ(printer->Jobs().size(), 2u);
  EXPECT_EQ(printer->Jobs()[0].Title, QStringLiteral("Job"));
  EXPECT_EQ(printer->Jobs()[1].Title, QStringLiteral("Job: Page 2"));
  EXPECT_EQ(printer->Jobs()[1].Pages.size(), 1);
  EXPECT_TRUE(printer->Jobs()[1].Ended);
}

TEST_F(PrintRunTest, APosterPagePrintsEverySheetColumnByColumn) {
  TPagePreview* page = doc->Pages()[0];
  page->SetSheets(2, 2);
  // One picture over the middle of the four sheets, another only on the
  // second column's first sheet.
  const int usableW = page->PrinterSettings.UsableWidth, usableH = page->PrinterSettings.UsableHeight;
  PictureOn(0, usableW - 200, usableH - 200, Qt::red, 400, 400);
  PictureOn(0, usableW + 500, 300, Qt::blue);
  doc->Print(1, 1);
  ASSERT_EQ(printer->Jobs().size(), 1u);
  ASSERT_EQ(printer->Jobs()[0].Pages.size(), 4);
  // Sheets: (column 0, row 0), (0, 1), (1, 0), (1, 1); sheet (c, r) shows
  // the paper from (2000 c + 50, 2870 r + 50). The red picture, paper
  // (1800..2200, 2670..3070), touches each at its inner corner; the blue
  // one, paper (2500, 300), only sheet 3.
  ASSERT_EQ(usableW, 2000);
  ASSERT_EQ(usableH, 2870);
  auto sheet = [&](int index, int paperX, int paperY) {
    const int c = index / 2, r = index % 2;
    return At(0, index, paperX - 2000 * c - 50, paperY - 2870 * r - 50);
  };
  EXPECT_EQ(sheet(0, 2000, 2800), QColor(Qt::red));
  EXPECT_EQ(sheet(1, 2000, 3000), QColor(Qt::red));
  EXPECT_EQ(sheet(2, 2100, 2800), QColor(Qt::red));
  EXPECT_EQ(sheet(3, 2100, 3000), QColor(Qt::red));
  EXPECT_EQ(sheet(2, 2510, 310), QColor(Qt::blue));
  EXPECT_EQ(sheet(3, 2510, 3000 + 310), QColor(Qt::white));
  EXPECT_EQ(At(0, 0, 1000, 1000), QColor(Qt::white));
}

TEST_F(PrintRunTest, AHandlerThatTakesThePictureStopsTheDocumentDrawingIt) {
  TPreviewImage* image = PictureOn(0, 100, 100, Qt::red);
  QList<QRect> offered;
  image->OnPrintImage = [&](bool& handled, const QImage& bitmap, QPainter*, const TPrinterSettings&, int x, int y,
                            int w, int h) {
    offered << QRect(x, y, w, h);
    EXPECT_FALSE(bitmap.isNull());
    handled = true;
  };
  doc->Print(1, 1);
  EXPECT_EQ(offered, QList<QRect>{QRect(50, 50, 400, 300)});
  EXPECT_EQ(At(0, 0, 60, 60), QColor(Qt::white));

  // Without a taker the picture is resampled by the resample handler, then
  // drawn 1 : 1.
  image->OnPrintImage = nullptr;
  QList<QSize> resampled;
  image->OnResampleBitmap = [&](bool& handled, QImage& bitmap, int w, int h, TResampleOptions) {
    resampled << QSize(w, h);
    bitmap = bitmap.scaled(w, h);
    handled = true;
  };
  doc->Print(1, 1);
  EXPECT_EQ(resampled, QList<QSize>{QSize(400, 300)});
  EXPECT_EQ(At(1, 0, 60, 60), QColor(Qt::red));
}

TEST_F(PrintRunTest, AFailingItemIsReportedAndTheOthersStillPrint) {
  TDialogScript script;
  auto* broken = new TFailingSample(form.get(), false);
  doc->AddItemToPrintQueue(broken);
  PictureOn(0, 1000, 1000, Qt::red);
  doc->Print(1, 1);
  EXPECT_EQ(script.Texts(),
            QStringList{QStringLiteral("Error \"The disk is gone\" occurred in printing item \"broken.jpg\".")});
  EXPECT_EQ(At(0, 0, 1000, 1000), QColor(Qt::red));
  EXPECT_FALSE(doc->IsModifiedSincePrint());
}

TEST_F(PrintRunTest, AFailingPageAsksWhetherToGoOn) {
  PictureOn(0, 100, 100, Qt::red);
  PictureOn(1, 100, 100, Qt::green);
  PictureOn(2, 100, 100, Qt::blue);
  doc->Changed(QStringLiteral("Add File(s)"));
  doc->Pages()[1]->OnProgress = [](QObject*, const QString&, float) { throw Exception(QStringLiteral("jammed")); };
  for (int answer : {mrYes, mrNo}) {
    TDialogScript script;
    script.Answer(answer);
    doc->Print(1, 3);
    EXPECT_EQ(script.Texts(),
              QStringList{QStringLiteral("There was an error printing page 2.  Do you want to continue")});
    const auto& job = printer->Jobs().back();
    if (answer == mrYes) {
      EXPECT_TRUE(job.Ended);
      EXPECT_EQ(At(static_cast<int>(printer->Jobs().size()) - 1, job.Pages.size() - 1, 60, 60), QColor(Qt::blue));
      EXPECT_FALSE(doc->IsModifiedSincePrint());
      doc->Changed(QStringLiteral("Rotate"));
    } else {
      EXPECT_TRUE(job.Aborted);
      EXPECT_TRUE(doc->IsModifiedSincePrint());  // not marked printed
    }
  }
  EXPECT_EQ(afterPrint, 2);
}

TEST_F(PrintRunTest, AStopAbortsTheJobAndEndsTheRun) {
  auto* stop = new TFailingSample(form.get(), true);
  doc->AddItemToPrintQueue(stop);
  EXPECT_THROW(doc->Print(1, 1), EAbort);
  ASSERT_EQ(printer->Jobs().size(), 1u);
  EXPECT_TRUE(printer->Jobs()[0].Aborted);
  EXPECT_EQ(afterPrint, 1);
  EXPECT_EQ(progress.last(), QStringLiteral("Printing complete."));
}

TEST_F(PrintRunTest, StatisticsCountPicturesTextBoxesPagesAndMemory) {
  PictureOn(0, 100, 100, Qt::red);
  TPreviewImage* captioned = PictureOn(0, 100, 600, Qt::blue);
  captioned->CreateCaption();
  doc->AddText(QStringLiteral("note"));
  doc->NewPage();
  const TPrintPreview::TStatistics s = doc->Statistics();
  EXPECT_EQ(s.Images, 2);
  EXPECT_EQ(s.TextBoxes, 2);  // the caption counts
  EXPECT_EQ(s.Pages, 2);
  EXPECT_GT(s.ItemMemory, 2 * 3 * 100 * 75);
  TDialogScript script;
  doc->ShowStatistics();
  ASSERT_EQ(script.Asked().size(), 1);
  EXPECT_EQ(script.Asked()[0].Caption, QStringLiteral("Statistics"));
  EXPECT_TRUE(script.Asked()[0].Text.startsWith(QStringLiteral("Images: 2\nText Boxes: 2\nPages: 2\nItem Memory: ")));
}

#include "PrintRunTest.moc"
