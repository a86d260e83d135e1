#include "Printing/document/PreviewItemsU.h"

#include "TestSupport.h"
#include "platform/Exceptions.h"

#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

class DisplayTest : public ::testing::Test {
protected:
  DisplayTest() : printer(QList<TTestPrinter::TInfo>{UnitPrinter(2100, 2970)}) {
    form = std::make_unique<QWidget>();
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->setGeometry(0, 0, 706, 624);
    doc->OnItemSelectionChange = [this](QObject* c) { itemNotices << c; };
    doc->OnPageSelectionChange = [this](QObject* c) { pageNotices << c; };
  }

  void Grid(int Across, int Down, int Pages) {
    doc->SetDisplayPagesHorizontal(Across);
    doc->SetDisplayPagesVertical(Down);
    doc->Loaded();
    while (doc->PageCount() < Pages) doc->NewPage();
    doc->ArrangePages();
  }

  TPreviewItem* ItemAt(TPagePreview* Page, int Left, int Top) {
    auto* item = new TPreviewItem(form.get());
    item->SetPrintPreview(doc);
    doc->Items().Add(item);
    Page->AddPreviewItem(item, false);
    item->SetPrintBounds(Left, Top, 400, 300);
    return item;
  }

  TTestPrinterScope printer;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc;
  QList<QObject*> itemNotices, pageNotices;
};

}  // namespace

TEST_F(DisplayTest, PagesShareTheControlInAGrid) {
  struct {
    int across, down, pages;
    QSize cell;
  } cases[] = {{2, 1, 2, {353, 624}}, {3, 3, 10, {235, 208}}, {2, 2, 4, {353, 312}}};
  for (const auto& c : cases) {
    auto* d = new TPrintPreview(form.get(), form.get());
    d->SetName(QStringLiteral("Grid%1").arg(c.across * 10 + c.down));
    d->setGeometry(0, 0, 706, 624);
    d->SetDisplayPagesHorizontal(c.across);
    d->SetDisplayPagesVertical(c.down);
    d->Loaded();
    while (d->PageCount() < c.pages) d->NewPage();
    d->ArrangePages();
    for (int i = 0; i < d->PageCount(); ++i) {
      TPagePreview* p = d->Pages()[i];
      const bool shown = i < c.across * c.down;
      EXPECT_EQ(p->isHidden(), !shown) << i;
      if (!shown) continue;
      EXPECT_EQ(p->geometry(), QRect(QPoint(c.cell.width() * (i % c.across), c.cell.height() * (i / c.across)), c.cell))
          << c.across << "x" << c.down << " page " << i;
    }
    delete d;
  }
}

TEST_F(DisplayTest, AnA4PageIsScaledIntoItsControlAndCentred) {
  Grid(2, 1, 2);
  TPagePreview* page = doc->Pages()[0];
  ASSERT_EQ(page->size(), QSize(353, 624));
  EXPECT_EQ(page->Scale(), 345.0f / 2100.0f);
  EXPECT_FLOAT_EQ(page->Scale(), 0.16428572f);
  EXPECT_EQ(page->DisplayWidth(), 345);
  EXPECT_EQ(page->DisplayHeight(), 487);
  EXPECT_EQ(page->Displayleft(), 4);
  EXPECT_EQ(page->DisplayTop(), 68);
  // On its side the paper's length lies across (Trunc of the single
  // precision scale: 344.99... pixels).
  page->SetPaperOrientation(poLandscape);
  EXPECT_FLOAT_EQ(page->Scale(), 345.0f / 2970.0f);
  EXPECT_EQ(page->DisplayWidth(), 344);
  EXPECT_EQ(page->DisplayHeight(), 243);
  EXPECT_EQ(page->Displayleft(), 4);
  EXPECT_EQ(page->DisplayTop(), (624 - 243) / 2);
}

TEST_F(DisplayTest, TheStartMovesBackSoThatTheGridStaysFull) {
  Grid(2, 2, 5);
  struct {
    std::function<void()> step;
    int start;
  } steps[] = {
      {[&] { doc->SetDisplayPageStart(4); }, 1},  // 5 - 4
      {[&] { doc->SetDisplayPageStart(0); }, 0},
      {[&] { doc->NextPages(); }, 1},  // asks for 2
      {[&] { doc->PriorPages(); }, 0},
      {[&] { doc->LastPages(); }, 1},  // asks for 4
  };
  for (const auto& s : steps) {
    s.step();
    EXPECT_EQ(doc->DisplayPageStart(), s.start);
  }
  EXPECT_EQ(doc->DisplayPageEnd(), 4);
  EXPECT_TRUE(doc->Pages()[0]->isHidden());
  EXPECT_FALSE(doc->Pages()[4]->isHidden());
  // Page 2 (index 1) lies at the top left when the start is 1.
  EXPECT_EQ(doc->Pages()[1]->pos(), QPoint(0, 0));
}

TEST_F(DisplayTest, ScrollToPageMovesOnlyWhenThePageIsNotShown) {
  Grid(2, 1, 6);
  doc->ScrollToPage(doc->Pages()[1]);
  EXPECT_EQ(doc->DisplayPageStart(), 0);
  doc->ScrollToPage(doc->Pages()[5]);
  EXPECT_EQ(doc->DisplayPageStart(), 4);
  doc->ScrollToPage(doc->Pages()[2]);
  EXPECT_EQ(doc->DisplayPageStart(), 2);
}

TEST_F(DisplayTest, PageSelectionModes) {
  Grid(2, 1, 4);
  auto selected = [&] {
    QList<int> out;
    for (int i = 0; i < doc->PageCount(); ++i)
      if (doc->Pages()[i]->Selected()) out << i;
    return out;
  };
  doc->SelectPages(0);
  EXPECT_EQ(doc->SelectedPage(), nullptr);
  doc->Pages()[0]->SetSelected(true);
  doc->Pages()[2]->SetSelected(true);
  doc->SelectPages(3);
  EXPECT_EQ(selected(), (QList<int>{1, 3}));
  EXPECT_EQ(doc->SelectedPage(), doc->Pages()[1]);
  doc->SelectPages(0);
  doc->SelectPages(2);  // the shown pages
  EXPECT_EQ(selected(), (QList<int>{0, 1}));
  EXPECT_EQ(doc->SelectedPage(), doc->Pages()[0]);
  doc->SelectPages(1);
  EXPECT_EQ(selected(), (QList<int>{0, 1, 2, 3}));
  EXPECT_EQ(doc->FirstSelectedPage(), doc->Pages()[0]);
}

TEST_F(DisplayTest, ItemSelectionModes) {
  doc->SetDefaultLayoutType(ltManual);
  Grid(1, 1, 2);
  TPreviewItem* a = ItemAt(doc->Pages()[0], 100, 100);
  TPreviewItem* b = ItemAt(doc->Pages()[1], 100, 100);  // on a page not shown
  QStringList changes;
  doc->OnChanged = [&](QObject*, const QString& d) { changes << d; };
  doc->SelectItems(2);
  EXPECT_TRUE(a->Selected());
  EXPECT_FALSE(b->Selected());
  EXPECT_EQ(doc->SelectedItem(), a);
  doc->SelectItems(3);
  EXPECT_FALSE(a->Selected());
  EXPECT_TRUE(b->Selected());
  EXPECT_EQ(doc->SelectedItem(), b);
  EXPECT_EQ(doc->SelectedCount(), 1);
  doc->SelectItems(1);
  EXPECT_EQ(doc->SelectedCount(), 2);
  EXPECT_EQ(doc->SelectedItem(), b);  // kept: it was set
  doc->SelectItems(0);
  EXPECT_EQ(doc->SelectedCount(), 0);
  EXPECT_EQ(doc->SelectedItem(), nullptr);
  doc->SelectItems(3);  // invert with nothing selected before
  EXPECT_EQ(doc->FirstSelectedItem(), a);
  EXPECT_EQ(changes.size(), 5);
  EXPECT_EQ(changes.last(), QStringLiteral("Selected item(s)"));
  EXPECT_EQ(doc->CurrentLayoutType(), ltManual);
}

TEST_F(DisplayTest, ShiftClicksAddToTheSelectionAndAPlainClickSelectsOnlyOne) {
  doc->SetDefaultLayoutType(ltManual);
  Grid(1, 1, 1);
  form->resize(706, 624);
  form->show();
  TPagePreview* page = doc->Pages()[0];
  QList<TPreviewItem*> items;
  for (int i = 0; i < 4; ++i) items << ItemAt(page, 100 + 450 * (i % 2), 100 + 400 * (i / 2));
  for (TPreviewItem* item : items) ASSERT_FALSE(item->isHidden());
  for (int i = 0; i < 3; ++i) QTest::mouseClick(items[i], Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 5));
  EXPECT_EQ(doc->SelectedCount(), 3);
  itemNotices.clear();
  QTest::mouseClick(items[3], Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_EQ(doc->SelectedCount(), 1);
  EXPECT_TRUE(items[3]->Selected());
  EXPECT_EQ(doc->SelectedItem(), items[3]);
  EXPECT_EQ(itemNotices, QList<QObject*>{items[3]});
  // A click on the paper selects the page.
  pageNotices.clear();
  page->SetSelected(false);
  QTest::mouseClick(page, Qt::LeftButton, Qt::NoModifier, QPoint(page->width() / 2, page->height() - 20));
  EXPECT_TRUE(page->Selected());
  EXPECT_EQ(doc->SelectedPage(), page);
}

TEST_F(DisplayTest, SelectionNoticesComeOncePerBatch) {
  doc->SetDefaultLayoutType(ltManual);
  Grid(1, 1, 1);
  TPreviewItem* a = ItemAt(doc->Pages()[0], 100, 100);
  TPreviewItem* b = ItemAt(doc->Pages()[0], 600, 100);
  itemNotices.clear();
  doc->BeginSelectionUpdate();
  doc->SelectItem(a, true);
  doc->SelectItem(b, false);
  EXPECT_TRUE(itemNotices.isEmpty());
  doc->EndSelectionUpdate();
  EXPECT_EQ(itemNotices, QList<QObject*>{b});
  // The page notice only when the page changes.
  pageNotices.clear();
  doc->SelectPage(doc->Pages()[0], true);
  doc->SelectPage(doc->Pages()[0], true);
  EXPECT_LE(pageNotices.size(), 1);
}

TEST_F(DisplayTest, ItemsFollowThePageScale) {
  doc->SetDefaultLayoutType(ltManual);
  Grid(1, 1, 1);
  TPagePreview* page = doc->Pages()[0];
  TPreviewItem* item = ItemAt(page, 210, 297);
  EXPECT_EQ(item->GetScale(), page->Scale());
  form->resize(1500, 1300);
  form->show();
  doc->setGeometry(0, 0, 1412, 1248);  // twice as large
  ASSERT_EQ(page->width(), 1412);
  EXPECT_EQ(item->GetScale(), page->Scale());
  EXPECT_EQ(item->x(), page->x() + page->Displayleft() + Trunc(210 * static_cast<double>(page->Scale())));
  EXPECT_EQ(item->width(), Trunc(400 * static_cast<double>(page->Scale())));
}
