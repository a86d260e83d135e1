#include "Printing/document/PreviewItemsU.h"

#include "TestSupport.h"

#include <QDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

QImage Picture(int W, int H, QColor Colour) {
  QImage image(W, H, QImage::Format_RGB888);
  image.fill(Colour);
  return image;
}

// The default test printer: A4 at 300 dpi; centred margins 42 and 67, so
// the printable area is (42, 67) 2015 x 2836.
class PlacementTest : public ::testing::Test {
protected:
  explicit PlacementTest(const QList<TTestPrinter::TInfo>& Printers = {TTestPrinter::TInfo()})
      : printer(Printers) {
    form = std::make_unique<QWidget>();
    form->resize(706, 624);
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->setGeometry(0, 0, 706, 624);
    doc->OnPagesChange = [this](int, int maxPage, int, int) { lastMaxPage = maxPage; };
    doc->Loaded();
  }

  TPreviewItem* Add(int W = 300, int H = 200, unsigned Flags = 0) {
    static int n = 0;
    ++n;
    IPreviewable* item =
        doc->AddBitmap(QStringLiteral("p%1").arg(n), Picture(W, H, QColor::fromHsv(n * 37 % 360, 160, 220)), Flags);
    return dynamic_cast<TPreviewItem*>(item->GetItem());
  }

  static bool Overlap(const TPreviewItem* a, const TPreviewItem* b) {
    return a->PrintLeft() < b->PrintRight() && b->PrintLeft() < a->PrintRight() && a->PrintTop() < b->PrintBottom() &&
           b->PrintTop() < a->PrintBottom();
  }

  // Every item inside its page's printable area and clear of the others.
  void ExpectTidy() {
    for (int i = 0; i < doc->Items().Count(); ++i) {
      TPreviewItem* a = doc->Items().Item(i);
      TPagePreview* page = a->PagePreview();
      ASSERT_NE(page, nullptr);
      const TRectangle& r = page->Layout().PageRect;
      EXPECT_GE(a->PrintLeft(), r.Left) << a->Name().toStdString();
      EXPECT_GE(a->PrintTop(), r.Top);
      EXPECT_LE(a->PrintRight(), r.Right());
      EXPECT_LE(a->PrintBottom(), r.Bottom());
      for (int j = i + 1; j < doc->Items().Count(); ++j) {
        TPreviewItem* b = doc->Items().Item(j);
        if (b->PagePreview() == page) {
          EXPECT_FALSE(Overlap(a, b)) << a->Name().toStdString() << " " << b->Name().toStdString();
        }
      }
    }
  }

  TTestPrinterScope printer;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc;
  int lastMaxPage = -1;
};

class UnitPlacementTest : public PlacementTest {
protected:
  UnitPlacementTest() : PlacementTest({UnitPrinter(2000, 2800)}) {}
};

}  // namespace

TEST_F(PlacementTest, PicturesFillThePageBestFitAndTheFirstThatFitsNowhereOpensAPage) {
  TPreviewItem* a = Add();  // 1524 x 1016 each
  TPreviewItem* b = Add();
  EXPECT_EQ(a->PrintLeft(), 42);
  EXPECT_EQ(a->PrintTop(), 67);
  EXPECT_EQ(b->PrintLeft(), 42);
  EXPECT_EQ(b->PrintTop(), 67 + 1016);  // the full-width piece below, not the narrow one beside
  EXPECT_EQ(doc->PageCount(), 1);
  TPreviewItem* c = Add();
  EXPECT_EQ(doc->PageCount(), 2);
  EXPECT_EQ(c->PagePreview(), doc->Pages()[1]);
  EXPECT_EQ(lastMaxPage, 1);
  EXPECT_EQ(doc->DisplayPageStart(), 1);  // scrolled to it
  ExpectTidy();
}

TEST_F(PlacementTest, CellsTakeOnePictureEachEnlargedAndCentred) {
  doc->SetDefaultImageWidth(300);
  doc->SetDefaultImageHeight(200);
  doc->SetLayout(TLayout::ThumbsText(2, 2), ltAutoByLayout);
  QList<TPreviewItem*> items;
  for (int i = 0; i < 5; ++i) items << Add();
  EXPECT_EQ(items[3]->PagePreview(), doc->Pages()[0]);
  EXPECT_EQ(items[4]->PagePreview(), doc->Pages()[1]);
  // Cells of 1006 x 1417: a 3 : 2 picture becomes 1006 x 671, centred.
  TPreviewItem* first = items[0];
  EXPECT_EQ(first->PrintWidth(), 1006);
  EXPECT_EQ(first->PrintHeight(), 671);
  EXPECT_EQ(first->PrintLeft(), 42);
  EXPECT_EQ(first->PrintTop(), 67 + (1417 - 671) / 2);
  EXPECT_EQ(items[1]->PrintLeft(), 42 + 1007);
  ExpectTidy();
}

TEST_F(PlacementTest, APictureIsTurnedIntoAPortraitCellOnlyWithBothSwitches) {
  struct {
    bool canRotate;
    unsigned flags;
    int rotation, w, h;
  } cases[] = {
      {true, 0, 1, 945, 1417},
      {true, afNoAutoRotate, 0, 1006, 671},
      {false, 0, 0, 1006, 671},
  };
  for (const auto& c : cases) {
    doc->ClearAll();
    doc->SetUserOptions(c.canRotate ? TUserOptions(uoCanRotate) : TUserOptions());
    doc->SetLayout(TLayout::ThumbsText(2, 2), ltAutoByLayout);
    TPreviewItem* item = Add(300, 200, c.flags);
    EXPECT_EQ(item->_IntRotation(), c.rotation) << c.canRotate << c.flags;
    EXPECT_EQ(item->PrintWidth(), c.w);
    EXPECT_EQ(item->PrintHeight(), c.h);
  }
}

TEST_F(PlacementTest, AManualPagePutsItemsBelowTheLowestAndRefusesWhatRunsOffThePaper) {
  doc->SetMarginTop(100);
  doc->RefreshPrinterSettings();
  doc->SetLayout(QString(), ltManual);
  doc->SetDefaultImageWidth(1000);
  doc->SetDefaultImageHeight(1000);
  TPreviewItem* a = Add(100, 100);
  EXPECT_EQ(a->PrintTop(), 100);
  EXPECT_EQ(a->PrintLeft(), 42);
  EXPECT_EQ(a->PrintHeight(), 1000);
  TPagePreview* page = doc->Pages()[0];
  EXPECT_EQ(page->NextFreeTop(), 1200);
  TPreviewItem* b = Add(100, 100);
  EXPECT_EQ(b->PrintTop(), 1200);
  EXPECT_EQ(b->PagePreview(), page);
  EXPECT_FALSE(page->CanAccept(1000, 2000, a));  // 2300 + 2000 runs past 2970
  doc->SetDefaultImageWidth(2000);
  doc->SetDefaultImageHeight(2000);
  TPreviewItem* tall = Add(100, 100);
  EXPECT_EQ(tall->PagePreview(), doc->Pages()[1]);
}

TEST_F(PlacementTest, DraggingTheSecondPictureAboveTheFirstSwapsThemAfterTheReflow) {
  TPreviewItem* a = Add();
  TPreviewItem* b = Add();
  ASSERT_LT(a->PrintTop(), b->PrintTop());
  b->SetBounds(a->x(), a->y() - 5, b->width(), b->height());
  EXPECT_EQ(b->PrintTop(), 67);
  EXPECT_EQ(a->PrintTop(), b->PrintBottom());  // b's size came back from the screen, truncated
  EXPECT_EQ(doc->Items().Item(0), b);
  ExpectTidy();
}

TEST_F(PlacementTest, SetLayoutOnTheSelectedPagesOnly) {
  doc->NewPage();
  doc->SetUserOptions(uoApplyPageChangesToSelected);
  doc->SelectPage(doc->Pages()[0], true);
  const QString grid = TLayout::ThumbsText(2, 2);
  QStringList changes;
  doc->OnChanged = [&](QObject*, const QString& d) { changes << d; };
  doc->SetLayout(grid, ltAutoByLayout);
  EXPECT_EQ(doc->Pages()[0]->PageLayout(), grid);
  EXPECT_EQ(doc->Pages()[0]->LayoutType(), ltAutoByLayout);
  EXPECT_EQ(doc->Pages()[1]->PageLayout(), QString());
  EXPECT_EQ(doc->Pages()[1]->LayoutType(), ltAutoBySize);
  EXPECT_EQ(doc->DefaultPageLayout(), grid);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Layout type changed")});
  // Thumbnails: the document's grid on every page.
  doc->SetUserOptions({});
  doc->SetDefaultThumbsAcross(3);
  doc->SetDefaultThumbsDown(2);
  doc->ThumbLayout();
  for (TPagePreview* p : doc->Pages()) {
    EXPECT_EQ(p->LayoutType(), ltThumb);
    EXPECT_EQ(p->Layout().FreeRects().Count(), 6);
  }
}

TEST_F(PlacementTest, ADeletedPictureLeavesAHoleThatTheNextOneFills) {
  TPreviewItem* a = Add();
  TPreviewItem* b = Add();
  const int bTop = b->PrintTop();
  delete a;
  EXPECT_EQ(b->PrintTop(), bTop);  // no reflow yet
  TPreviewItem* c = Add();
  EXPECT_EQ(c->PrintTop(), 67);
  EXPECT_EQ(c->PagePreview(), doc->Pages()[0]);
  EXPECT_EQ(doc->PageCount(), 1);
}

TEST_F(UnitPlacementTest, ItemsLayoutTextReproducesThePage) {
  doc->SetLayout(QString(), ltManual);
  TPreviewItem* item = Add();
  item->SetPrintBounds(0, 0, 1000, 1400);  // half the printable area, at its corner
  EXPECT_EQ(doc->Pages()[0]->ItemsLayoutText(), QStringLiteral("0.0000,0.0000,0.5000,0.5000;"));
  // The text read back as a layout gives the same cell, one unit smaller.
  doc->SetLayout(doc->Pages()[0]->ItemsLayoutText(), ltAutoByLayout);
  ASSERT_EQ(item->GetLayoutPosition().Width, 999);
  EXPECT_EQ(item->GetLayoutPosition().Height, 1399);
}

// Twenty-four pictures as a contact sheet and in a two-cell layout; the
// pages are drawn for a look (test-output/).
TEST_F(PlacementTest, ThumbnailsAndCellsNeverOverlapAndStayOnThePrintableArea) {
  QDir().mkpath(QStringLiteral("test-output"));
  doc->SetUserOptions(uoCanRotate | uoShowLayout);
  doc->SetDisplayPagesHorizontal(2);
  for (int i = 0; i < 24; ++i) Add(i % 3 ? 400 : 300, i % 3 ? 300 : 400);
  struct {
    QString text;
    TLayoutType type;
    int pages;
    const char* file;
  } layouts[] = {
      {TLayout::ThumbsText(4, 6), ltThumb, 1, "thumbs-4x6.png"},
      {QStringLiteral("0.0000,0.0000,1.0000,0.5000;0.0000,0.5000,1.0000,1.0000;"), ltAutoByLayout, 12, "two-cells.png"},
  };
  for (const auto& l : layouts) {
    doc->SetLayout(l.text, l.type);
    int used = 0;
    for (TPagePreview* p : doc->Pages()) used += p->Items().Count() > 0;
    EXPECT_EQ(used, l.pages) << l.file;
    ExpectTidy();
    form->show();
    doc->SetDisplayPageStart(0);
    ASSERT_TRUE(form->grab().save(QStringLiteral("test-output/") + QString::fromLatin1(l.file)));
  }
}
