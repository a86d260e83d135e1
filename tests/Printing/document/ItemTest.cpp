#include "Printing/document/PreviewItemsU.h"

#include "TestSupport.h"
#include "platform/Exceptions.h"

#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

// An item with proportions, as a picture has: width over height of the
// content as shown.
class TProportionedSample : public TPreviewItem {
  Q_OBJECT
public:
  TProportionedSample(QObject* AOwner, double ARatio) : TPreviewItem(AOwner), FRatio(ARatio) {}
  float AspectRatio() override { return static_cast<float>(FIntRotation % 2 ? 1 / FRatio : FRatio); }

private:
  double FRatio;
};

namespace {

struct TScreenRect {
  int x, y, w, h;
  bool operator==(const TScreenRect&) const = default;
};

void PrintTo(const TScreenRect& r, std::ostream* os) { *os << "(" << r.x << "," << r.y << " " << r.w << "x" << r.h << ")"; }

TScreenRect ScreenOf(const QWidget* w) { return {w->x(), w->y(), w->width(), w->height()}; }

// A manual document (nothing moves items by itself) on a unit printer, its
// pages with a margin of 10 pixels around the paper.
class ItemTest : public ::testing::Test {
protected:
  void Open(int PaperW, int PaperH, int DocW, int DocH, int Across = 1, int Down = 1) {
    printer = std::make_unique<TTestPrinterScope>(QList<TTestPrinter::TInfo>{UnitPrinter(PaperW, PaperH)});
    form = std::make_unique<QWidget>();
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->SetDefaultLayoutType(ltManual);
    doc->setGeometry(0, 0, DocW, DocH);
    doc->SetDisplayPagesHorizontal(Across);
    doc->SetDisplayPagesVertical(Down);
    doc->Loaded();
    for (TPagePreview* p : doc->Pages()) p->SetParentMargin(10);
    doc->OnChanged = [this](QObject*, const QString& d) { changes << d; };
  }

  // An item of 400 x 300 at (100, 200) on the given page.
  TProportionedSample* ItemOn(TPagePreview* Page, double Ratio = 4.0 / 3) {
    auto* item = new TProportionedSample(form.get(), Ratio);
    item->SetPrintPreview(doc);
    doc->Items().Add(item);
    Page->AddPreviewItem(item, false);
    item->SetPrintBounds(100, 200, 400, 300);
    return item;
  }

  std::unique_ptr<TTestPrinterScope> printer;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc = nullptr;
  QStringList changes;
};

}  // namespace

TEST_F(ItemTest, UprightPageMapsPrintToScreenAndBack) {
  // Paper 2000 x 2800 in a page control of 1020 x 1440: Scale 0.5, the
  // paper at (10, 20).
  Open(2000, 2800, 1020, 1440);
  TPagePreview* page = doc->Pages()[0];
  ASSERT_FLOAT_EQ(page->Scale(), 0.5f);
  ASSERT_EQ(page->Displayleft(), 10);
  ASSERT_EQ(page->DisplayTop(), 20);
  TProportionedSample* item = ItemOn(page);
  EXPECT_EQ(ScreenOf(item), (TScreenRect{60, 120, 200, 150}));
  changes.clear();
  item->SetBounds(70, 120, 200, 150);
  EXPECT_EQ(item->PrintLeft(), 120);
  EXPECT_EQ(item->PrintTop(), 200);
  EXPECT_EQ(item->PrintWidth(), 400);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Item size/position")});
  // Print setters move the control.
  item->SetPrintTop(400);
  EXPECT_EQ(item->y(), 220);
}

TEST_F(ItemTest, SidewaysPageMapsPrintToScreenAndBackAlsoInTheSecondRow) {
  // Paper 2100 wide, 2800 long, shown on its side in cells of 1420 x 1200:
  // Scale 0.5, the paper 1400 x 1050 at (10, 75).
  Open(2100, 2800, 1420, 2400, 1, 2);
  for (int row = 0; row < 2; ++row) {
    TPagePreview* page = doc->Pages()[row];
    page->SetPaperOrientation(poLandscape);
    ASSERT_TRUE(page->LyingOnSide());
    ASSERT_FLOAT_EQ(page->Scale(), 0.5f);
    ASSERT_EQ(page->Displayleft(), 10);
    ASSERT_EQ(page->DisplayTop(), 75);
    ASSERT_EQ(page->y(), 1200 * row);
    TProportionedSample* item = ItemOn(page);
    EXPECT_EQ(ScreenOf(item), (TScreenRect{110, 1200 * row + 875, 150, 200})) << "row " << row;
    // Moved on screen and back again: the same print rectangle.
    item->SetBounds(111, 1200 * row + 875, 150, 200);
    item->SetBounds(110, 1200 * row + 875, 150, 200);
    EXPECT_EQ(item->PrintLeft(), 100);
    EXPECT_EQ(item->PrintTop(), 200);
    EXPECT_EQ(item->PrintWidth(), 400);
    EXPECT_EQ(item->PrintHeight(), 300);
    EXPECT_EQ(item->TotalRotation(), 3);
  }
}

TEST_F(ItemTest, QuarterTurnsExchangeWidthAndHeight) {
  Open(2000, 2800, 1020, 1440);
  TProportionedSample* item = ItemOn(doc->Pages()[0]);
  struct {
    int turns;
    int rotation, w, h;
  } steps[] = {{1, 1, 300, 400}, {2, 3, 300, 400}, {1, 0, 400, 300}, {3, 3, 300, 400}, {-3, 0, 400, 300}};
  for (const auto& s : steps) {
    item->Rotate(s.turns);
    EXPECT_EQ(item->_IntRotation(), s.rotation) << s.turns;
    EXPECT_EQ(item->PrintWidth(), s.w);
    EXPECT_EQ(item->PrintHeight(), s.h);
    EXPECT_EQ(item->PrintLeft(), 100);
    EXPECT_EQ(item->PrintTop(), 200);
    EXPECT_EQ(item->width(), s.w / 2);
  }
  // RotateQuarter turns back a picture turned once.
  item->RotateQuarter();
  EXPECT_EQ(item->_IntRotation(), 1);
  item->RotateQuarter();
  EXPECT_EQ(item->_IntRotation(), 0);
}

TEST_F(ItemTest, SetPrintDimensionsWithTheFlags) {
  Open(2000, 2800, 1020, 1440);
  struct {
    unsigned flags;
    int w, h, rotation;
  } cases[] = {
      {sdKeepAspect | sdSwapToContent | sdNoRelayout, 1016, 1355, 0},  // the box turns, then the height follows
      {sdKeepAspect | sdRotateToBox | sdNoRelayout, 1355, 1016, 1},    // the content turns to the box
      {sdKeepAspect, 762, 1016, 0},                                    // fitted upright in the box
      {0, 1524, 1016, 0},                                              // taken as it is
  };
  for (const auto& c : cases) {
    auto* item = new TProportionedSample(form.get(), 0.75);  // a portrait picture
    item->SetPrintDimensions(1524, 1016, c.flags);
    EXPECT_EQ(item->PrintWidth(), c.w) << c.flags;
    EXPECT_EQ(item->PrintHeight(), c.h) << c.flags;
    EXPECT_EQ(item->_IntRotation(), c.rotation) << c.flags;
    delete item;
  }
  TProportionedSample item(form.get(), 1.0);
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}})
    EXPECT_EQ(MessageOf<Exception>([&] { item.SetPrintDimensions(w, h, 0); }),
              QStringLiteral("Invalid dimensions in TPreviewItem.SetPrintDimensions"));
  // Absurd sizes are cut down so that nothing unbounded follows.
  item.SetPrintDimensions(2000000000, 5, 0);
  EXPECT_EQ(item.PrintWidth(), MaxPrintLength);
  item.SetPrintBounds(-2000000000, 0, 0, -7);
  EXPECT_EQ(item.PrintLeft(), -MaxPrintLength);
  EXPECT_EQ(item.PrintWidth(), 1);
  EXPECT_EQ(item.PrintHeight(), 1);
  item.SetPrintDimensionsFixed(300, 200, 0);
  EXPECT_FALSE(item.GetOptions().testFlag(poCanAutoSize));
}

TEST_F(ItemTest, DraggingOntoTheNextPageMovesTheItemThereWithOneChange) {
  // Two pages side by side, 1020 x 1440 each.
  Open(2000, 2800, 2040, 1440, 2, 1);
  TPagePreview* first = doc->Pages()[0];
  TPagePreview* second = doc->Pages()[1];
  TProportionedSample* item = ItemOn(first);
  changes.clear();
  // The corner onto the second page's paper at print (300, 400).
  item->SetBounds(1020 + 10 + 150, 20 + 200, 200, 150);
  EXPECT_EQ(item->PagePreview(), second);
  EXPECT_FALSE(first->Items().Contains(item));
  EXPECT_TRUE(second->Items().Contains(item));
  EXPECT_EQ(item->PrintLeft(), 300);
  EXPECT_EQ(item->PrintTop(), 400);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Item size/position")});
  EXPECT_EQ(doc->UpdateLock(), 0);
}

TEST_F(ItemTest, FitTurnsALandscapePictureOnAPortraitPageAndCentresIt) {
  Open(2000, 2800, 1020, 1440);
  TPagePreview* page = doc->Pages()[0];
  TProportionedSample* item = ItemOn(page, 1.5);
  item->Fit(true, true);
  EXPECT_EQ(item->_IntRotation(), 1);
  EXPECT_EQ(item->PrintWidth(), 1867);  // 2800 / 1.5, turned
  EXPECT_EQ(item->PrintHeight(), 2800);
  EXPECT_EQ(item->PrintLeft(), (2000 - 1867) / 2);
  EXPECT_EQ(item->PrintTop(), 0);

  // Only the width: the height follows the proportions.
  TProportionedSample* wide = ItemOn(page, 2.0);
  wide->Fit(true, false);
  EXPECT_EQ(wide->_IntRotation(), 0);
  EXPECT_EQ(wide->PrintWidth(), 2000);
  EXPECT_EQ(wide->PrintHeight(), 1000);
  EXPECT_EQ(wide->PrintLeft(), 0);
  EXPECT_EQ(wide->PrintTop(), 200);  // not centred vertically
}

TEST_F(ItemTest, RotateBitmapTurnsClockwiseAndLetsAHandlerDoIt) {
  Open(2000, 2800, 1020, 1440);
  TProportionedSample* item = ItemOn(doc->Pages()[0]);
  // 3 x 2 pixels, each its own colour.
  QImage source(3, 2, QImage::Format_RGB888);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) source.setPixelColor(x, y, QColor(x * 80, y * 80, 7));
  const QImage cw = item->RotateBitmap(source, 1);
  ASSERT_EQ(cw.size(), QSize(2, 3));
  EXPECT_EQ(cw.pixelColor(1, 0), source.pixelColor(0, 0));  // (x, y) -> (H-1-y, x)
  EXPECT_EQ(cw.pixelColor(0, 2), source.pixelColor(2, 1));
  const QImage half = item->RotateBitmap(source, 2);
  EXPECT_EQ(half.pixelColor(2, 1), source.pixelColor(0, 0));
  const QImage ccw = item->RotateBitmap(source, 3);
  ASSERT_EQ(ccw.size(), QSize(2, 3));
  EXPECT_EQ(ccw.pixelColor(0, 2), source.pixelColor(0, 0));  // (x, y) -> (y, W-1-x)
  EXPECT_EQ(ccw.pixelColor(1, 0), source.pixelColor(2, 1));
  EXPECT_EQ(item->RotateBitmap(source, 0), source);

  int calls = 0;
  item->OnRotateBitmap = [&](bool& handled, QImage& bitmap, TRotation turns) {
    ++calls;
    EXPECT_EQ(turns, 1);
    bitmap = bitmap.scaled(1, 1);
    handled = calls == 1;
  };
  EXPECT_EQ(item->RotateBitmap(source, 1).size(), QSize(1, 1));
  EXPECT_EQ(item->RotateBitmap(source, 1).size(), QSize(2, 3));  // not handled: our own turn
}

TEST_F(ItemTest, VisibilityFollowsThePageAndIsReported) {
  Open(2000, 2800, 1020, 1440);
  doc->NewPage();  // a second page, not shown with 1 x 1
  doc->ArrangePages();
  TPagePreview* hidden = doc->Pages()[1];
  ASSERT_TRUE(hidden->isHidden());
  int reports = 0;
  TProportionedSample* item = ItemOn(doc->Pages()[0]);
  item->OnVisibleResize = [&](QObject* sender) {
    EXPECT_EQ(sender, item);
    ++reports;
  };
  item->SetPageIndex(1);
  EXPECT_EQ(item->PagePreview(), hidden);
  EXPECT_FALSE(hidden->Items().Contains(item));  // set, not listed
  EXPECT_TRUE(item->isHidden());
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(item->PageIndex(), 1);
  EXPECT_EQ(item->PrintPreviewIndex(), 0);
}

#include "ItemTest.moc"
