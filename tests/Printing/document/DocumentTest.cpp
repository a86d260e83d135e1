#include "Printing/document/PreviewItemsU.h"
#include "Printing/document/PrintPreviewU.h"
#include "Printing/editing/vexUndoRedo.h"

#include "TestSupport.h"
#include "platform/Exceptions.h"

#include <QPointer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

// A minimal item of the tests' own.
class TPreviewSample : public TPreviewItem {
  Q_OBJECT
public:
  explicit TPreviewSample(QObject* AOwner, int W = 500, int H = 400) : TPreviewItem(AOwner) {
    FPrintWidth = W;
    FPrintHeight = H;
  }
};

// An object that is previewable but not an item of the document's kind.
class TForeignPreviewable : public QObject, public IPreviewable {
public:
  void SetBounds(int, int, int, int) override {}
  void SetScale(float) override {}
  float GetScale() const override { return 1; }
  float AspectRatio() override { return 0; }
  int GetPrintLeft() const override { return 0; }
  void SetPrintHeight(int) override {}
  void SetPrintLeft(int) override {}
  void SetPrintTop(int) override {}
  void SetPrintWidth(int) override {}
  int GetPrintTop() const override { return 0; }
  int GetPrintHeight() const override { return 10; }
  int GetPrintWidth() const override { return 10; }
  TPagePreview* GetPagePreview() const override { return nullptr; }
  TPreviewableOptions GetOptions() const override { return {}; }
  void SetOptions(TPreviewableOptions) override {}
  int GetActualHeight() const override { return 10; }
  int GetActualWidth() const override { return 10; }
  void Rotate(int) override {}
  void RotateQuarter() override {}
  void SetPagePreview(TPagePreview*) override {}
  void UpdateScreenBounds(int) override {}
  IPreviewable* GetAttachedItem() const override { return nullptr; }
  int GetAttachedItemOffset() const override { return 0; }
  TAttachPosition GetAttachPosition() const override { return apBelow; }
  bool GetKeepAspectRatio() const override { return true; }
  void SetPrintBounds(int, int, int, int) override {}
  bool PrintTo(QPainter*, int, int) override { return false; }
  void SetPrintDimensions(int, int, unsigned) override {}
  void SetDescription(const QString&) override {}
  QString GetDescription() const override { return {}; }
  void RepositionAttached(int, int) override {}
  void FitToLayoutPosition(int, int) override {}
  TLayoutPosition GetLayoutPosition() const override { return {}; }
  void SetLayoutPosition(const TLayoutPosition&) override {}
  bool HasLayoutPosition() const override { return false; }
  void ClearLayoutPosition() override {}
  bool IsCellLayout() override { return false; }
  void SetLayoutType(TLayoutType) override {}
  TLayoutType GetLayoutType() const override { return ltManual; }
  QObject* GetItem() override { return this; }
};

namespace {

// A hosting form with a document named PrintPreview on the test printer.
class DocumentTest : public ::testing::Test {
protected:
  DocumentTest() {
    form = std::make_unique<QWidget>();
    form->resize(800, 600);
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->setGeometry(0, 0, 706, 624);
    doc->OnChanged = [this](QObject*, const QString& d) { changes << d; };
    doc->OnPagesChange = [this](int, int, int, int) { ++pagesChanges; };
  }

  // The document as its host starts it.
  void Start() { doc->Loaded(); }

  TPreviewSample* AddSample(int W = 500, int H = 400) {
    auto* item = new TPreviewSample(form.get(), W, H);
    doc->AddItemToPrintQueue(item);
    return item;
  }

  QStringList PageNames() const {
    QStringList names;
    for (TPagePreview* p : doc->Pages()) names << p->Name();
    return names;
  }

  QStringList Visits(int IType) {
    QStringList seen;
    doc->Iterate(doc->Pages(), IType, 1, QStringLiteral("x"), true, nullptr,
                 [&](QObject* c, QObject*, const QVariant& a, const QVariant& b, const QVariant& d) {
                   EXPECT_EQ(a.toInt(), 1);
                   EXPECT_EQ(b.toString(), QStringLiteral("x"));
                   EXPECT_TRUE(d.toBool());
                   seen << c->objectName();
                 });
    return seen;
  }

  TTestPrinterScope printer;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc;
  QStringList changes;
  int pagesChanges = 0;
};

}  // namespace

TEST_F(DocumentTest, AFreshDocumentShowsItsDisplayGridWithTheLastPageSelected) {
  struct {
    int across, down;
  } cases[] = {{1, 1}, {2, 2}, {3, 1}};
  for (const auto& c : cases) {
    TPrintPreview d(form.get(), form.get());
    d.SetName(QStringLiteral("Doc%1x%2").arg(c.across).arg(c.down));
    d.SetDisplayPagesHorizontal(c.across);
    d.SetDisplayPagesVertical(c.down);
    d.Loaded();
    ASSERT_EQ(d.PageCount(), c.across * c.down);
    EXPECT_EQ(d.SelectedPage(), d.Pages().Last());
    int selected = 0;
    for (TPagePreview* p : d.Pages()) selected += p->Selected();
    EXPECT_EQ(selected, 1);
    EXPECT_FALSE(d.IsModifiedSinceSave());
    EXPECT_FALSE(d.IsModifiedSincePrint());
  }
  Start();
  EXPECT_EQ(changes, QStringList{QStringLiteral("Initial")});
  EXPECT_EQ(doc->ChangeCount(), 0);
}

TEST_F(DocumentTest, ClearAllLeavesFreshEmptyPagesAndShowsTheFirstAlone) {
  Start();
  AddSample();
  doc->ClearAll();
  EXPECT_EQ(doc->PageCount(), 1);
  EXPECT_EQ(doc->Items().Count(), 0);

  doc->SetDisplayPagesHorizontal(2);
  doc->SetDisplayPagesVertical(2);
  AddSample();
  AddSample();
  const QPointer<TPagePreview> old = doc->Pages()[0];
  doc->ClearAll();
  EXPECT_TRUE(old.isNull());
  ASSERT_EQ(doc->PageCount(), 4);  // made again by the arrangement while shown 2 x 2
  EXPECT_EQ(doc->Items().Count(), 0);
  EXPECT_EQ(doc->DisplayPagesHorizontal(), 1);
  EXPECT_EQ(doc->DisplayPagesVertical(), 1);
  EXPECT_EQ(doc->DisplayPageStart(), 0);
  EXPECT_FALSE(doc->Pages()[0]->isHidden());
  for (int i = 1; i < 4; ++i) EXPECT_TRUE(doc->Pages()[i]->isHidden()) << i;
  for (TPagePreview* p : doc->Pages()) EXPECT_EQ(p->Items().Count(), 0);
}

TEST_F(DocumentTest, NewDocumentStartsUnmodified) {
  Start();
  AddSample();
  doc->Changed(QStringLiteral("Add File(s)"));
  doc->NewDocument();
  EXPECT_EQ(doc->PageCount(), 1);
  EXPECT_EQ(doc->UpdateLock(), 0);
  EXPECT_FALSE(doc->IsModifiedSinceSave());
}

TEST_F(DocumentTest, NamesRiseAndSkipNamesTheOwnerHolds) {
  TPagePreview* p1 = doc->NewPage();
  TPagePreview* p2 = doc->NewPage();
  EXPECT_EQ(p1->Name(), QStringLiteral("PrintPreview_Page_1"));
  EXPECT_EQ(p2->Name(), QStringLiteral("PrintPreview_Page_2"));
  EXPECT_FALSE(p1->Selected());  // NewPage selects nothing
  TPreviewSample* item = AddSample();
  EXPECT_EQ(item->Name(), QStringLiteral("PrintPreview_Sample_3"));

  // The owner already holds the next name (a plain child of the form, and
  // an owned component): the counter moves on.
  auto* taken = new QObject(form.get());
  taken->setObjectName(QStringLiteral("PrintPreview_Page_4"));
  auto* takenItem = new TPreviewSample(form.get());
  takenItem->SetName(QStringLiteral("PrintPreview_Page_5"));
  EXPECT_EQ(doc->NewPage()->Name(), QStringLiteral("PrintPreview_Page_6"));
  // The counter is never reset.
  doc->ClearAll();
  EXPECT_EQ(doc->Pages()[0]->Name(), QStringLiteral("PrintPreview_Page_7"));
  delete takenItem;
  EXPECT_EQ(doc->UniqueName(QString()), QStringLiteral("PrintPreview_8"));

  EXPECT_EQ(MessageOf<Exception>([&] { doc->Pages()[0]->SetName(QStringLiteral("printpreview_page_4x")); }),
            QStringLiteral("<no exception>"));
  auto* other = new TPreviewSample(form.get());
  // Names compare without regard to case.
  EXPECT_EQ(MessageOf<Exception>([&] { other->SetName(QStringLiteral("PRINTPREVIEW_page_4X")); }),
            QStringLiteral("A component named PRINTPREVIEW_page_4X already exists."));
}

// Owners find their components by name however the name was set, and the
// first of two that share a name while both are there.
TEST(ComponentNames, AreFoundHoweverTheyWereSetAndAfterTheirOwnerChanges) {
  QObject form, other;
  auto* a = new TvexUndoRedo(&form);
  a->setObjectName(QStringLiteral("First"));  // not through SetName
  EXPECT_EQ(FindComponent(&form, QStringLiteral("FIRST")), a);
  a->SetName(QStringLiteral("Renamed"));
  EXPECT_EQ(FindComponent(&form, QStringLiteral("First")), nullptr);
  EXPECT_EQ(FindComponent(&form, QStringLiteral("renamed")), a);

  auto* b = new TvexUndoRedo(&form);
  b->setObjectName(QStringLiteral("Renamed"));  // around the name check
  EXPECT_EQ(FindComponent(&form, QStringLiteral("Renamed")), a);
  a->SetOwner(&other);
  EXPECT_EQ(FindComponent(&form, QStringLiteral("Renamed")), b);
  EXPECT_EQ(FindComponent(&other, QStringLiteral("Renamed")), a);
  delete b;
  EXPECT_EQ(FindComponent(&form, QStringLiteral("Renamed")), nullptr);
  a->SetOwner(&form);
  EXPECT_EQ(FindComponent(&form, QStringLiteral("Renamed")), a);
}

TEST_F(DocumentTest, ABatchIsOneChangeNamedByItsLastDescription) {
  doc->BeginUpdate();
  doc->Changed(QStringLiteral("Add File(s)"));
  doc->BeginUpdate();  // nested
  doc->Changed(QStringLiteral("Add File(s)"));
  doc->EndUpdate();
  doc->Changed(QStringLiteral("Add File(s)"));
  EXPECT_TRUE(changes.isEmpty());
  doc->EndUpdate();
  EXPECT_EQ(changes, QStringList{QStringLiteral("Add File(s)")});
  EXPECT_EQ(doc->ChangeCount(), 1);

  changes.clear();
  for (int i = 0; i < 3; ++i) doc->Changed(QStringLiteral("Add File(s)"));
  EXPECT_EQ(changes.size(), 3);

  changes.clear();
  {
    TPrintPreview::TUpdateGuard guard(*doc);
    doc->Changed(QStringLiteral("Rotate"));
    doc->Changed(QStringLiteral("Item(s) delete"));
  }
  EXPECT_EQ(changes, QStringList{QStringLiteral("Item(s) delete")});
  // An empty batch records nothing.
  changes.clear();
  doc->BeginUpdate();
  doc->EndUpdate();
  EXPECT_TRUE(changes.isEmpty());
}

TEST_F(DocumentTest, TheUpdateGuardClosesTheBatchWhenItThrows) {
  changes.clear();
  EXPECT_THROW(
      {
        TPrintPreview::TUpdateGuard guard(*doc);
        doc->Changed(QStringLiteral("Add File(s)"));
        throw Exception(QStringLiteral("a picture could not be read"));
      },
      Exception);
  EXPECT_EQ(doc->UpdateLock(), 0);
  EXPECT_EQ(doc->PendingReflowFrom(), INT_MAX);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Add File(s)")});
  // An EndUpdate without its BeginUpdate changes nothing.
  doc->EndUpdate();
  EXPECT_EQ(doc->UpdateLock(), 0);
}

TEST_F(DocumentTest, ReflowsWaitForTheBatchAndStartAtTheLowestPage) {
  doc->BeginUpdate();
  doc->ReflowFrom(3);
  doc->ReflowFrom(1);
  doc->ReflowFrom(2);
  EXPECT_EQ(doc->PendingReflowFrom(), 1);
  doc->EndUpdate();
  EXPECT_EQ(doc->PendingReflowFrom(), INT_MAX);
}

TEST_F(DocumentTest, ModifiedFlags) {
  doc->ResetModified();
  EXPECT_FALSE(doc->IsModifiedSinceSave());
  EXPECT_FALSE(doc->IsModifiedSincePrint());
  doc->Changed(QStringLiteral("Add Text Item"));
  EXPECT_TRUE(doc->IsModifiedSinceSave());
  EXPECT_TRUE(doc->IsModifiedSincePrint());
  doc->MarkSaved();
  EXPECT_FALSE(doc->IsModifiedSinceSave());
  EXPECT_TRUE(doc->IsModifiedSincePrint());
  doc->MarkPrinted();
  EXPECT_FALSE(doc->IsModifiedSincePrint());
  doc->Changed(QStringLiteral("Rotate"));
  EXPECT_TRUE(doc->IsModifiedSinceSave());
  EXPECT_TRUE(doc->IsModifiedSincePrint());
}

TEST_F(DocumentTest, DefaultsAndMarginsRefuseBadValues) {
  EXPECT_EQ(doc->DefaultImageWidth(), 1524);
  EXPECT_EQ(doc->DefaultImageHeight(), 1016);
  EXPECT_EQ(doc->DefaultTextWidth(), 400);
  EXPECT_EQ(doc->DefaultTextHeight(), 50);
  EXPECT_EQ(doc->DefaultThumbsAcross(), 4);
  EXPECT_EQ(doc->DefaultThumbsDown(), 6);
  EXPECT_EQ(doc->CachedBitmapSize(), 512);
  EXPECT_EQ(doc->KeepBitmapsInMemory(), bcCompressed);
  EXPECT_EQ(doc->PrinterTitle(), QStringLiteral("Tavora"));
  EXPECT_TRUE(doc->CentreOnPage());
  EXPECT_EQ(doc->DefaultLayoutType(), ltAutoBySize);

  struct {
    std::function<void(int)> set;
    std::function<int()> get;
    const char* message;
  } refused[] = {
      {[&](int v) { doc->SetDefaultImageWidth(v); }, [&] { return doc->DefaultImageWidth(); },
       "FDefaultImageWidth must be greater than 0"},
      {[&](int v) { doc->SetDefaultImageHeight(v); }, [&] { return doc->DefaultImageHeight(); },
       "FDefaultImageHeight must be greater than 0"},
      {[&](int v) { doc->SetDefaultThumbsAcross(v); }, [&] { return doc->DefaultThumbsAcross(); },
       "Thumbs Across must be greater than 0"},
      {[&](int v) { doc->SetDefaultThumbsDown(v); }, [&] { return doc->DefaultThumbsDown(); },
       "Thumbs Down must be greater than 0"},
      {[&](int v) { doc->SetDisplayPagesHorizontal(v); }, [&] { return doc->DisplayPagesHorizontal(); },
       "DisplayPages value must be greater than 0"},
      {[&](int v) { doc->SetDisplayPagesVertical(v); }, [&] { return doc->DisplayPagesVertical(); },
       "DisplayPages value must be greater than 0"},
  };
  for (const auto& c : refused) {
    const int before = c.get();
    for (int bad : {0, -3})
      EXPECT_EQ(MessageOf<Exception>([&] { c.set(bad); }), QString::fromLatin1(c.message)) << c.message;
    EXPECT_EQ(c.get(), before);
    c.set(7);
    EXPECT_EQ(c.get(), 7);
  }

  struct {
    std::function<void(int)> set;
    std::function<int()> get;
  } ignored[] = {
      {[&](int v) { doc->SetDefaultTextWidth(v); }, [&] { return doc->DefaultTextWidth(); }},
      {[&](int v) { doc->SetDefaultTextHeight(v); }, [&] { return doc->DefaultTextHeight(); }},
      {[&](int v) { doc->SetMarginLeft(v); }, [&] { return doc->MarginLeft(); }},
      {[&](int v) { doc->SetMarginRight(v); }, [&] { return doc->MarginRight(); }},
      {[&](int v) { doc->SetMarginTop(v); }, [&] { return doc->MarginTop(); }},
      {[&](int v) { doc->SetMarginBottom(v); }, [&] { return doc->MarginBottom(); }},
  };
  for (const auto& c : ignored) {
    c.set(120);
    c.set(0);
    c.set(-5);
    EXPECT_EQ(c.get(), 120);
  }
  EXPECT_EQ(MessageOf<Exception>([&] { doc->SetDefaultLayoutType(static_cast<TLayoutType>(4)); }),
            QStringLiteral("Unknown Layout type"));
}

TEST_F(DocumentTest, ChangingTheDefaultLayoutTypeBelowCellsEmptiesTheDefaultLayout) {
  doc->SetDefaultPageLayout(TLayout::ThumbsText(2, 2));
  doc->SetDefaultLayoutType(ltAutoByLayout);
  EXPECT_FALSE(doc->DefaultPageLayout().isEmpty());
  doc->SetDefaultLayoutType(ltManual);
  EXPECT_TRUE(doc->DefaultPageLayout().isEmpty());
}

TEST_F(DocumentTest, IterateWalksFromTheLastElementWithItsFilter) {
  QStringList seen = Visits(0);
  EXPECT_TRUE(seen.isEmpty());  // an empty list calls nothing
  for (int i = 0; i < 4; ++i) doc->NewPage();
  doc->Pages()[0]->SetSelected(true);
  doc->Pages()[2]->SetSelected(true);
  EXPECT_EQ(Visits(0), (QStringList{"PrintPreview_Page_4", "PrintPreview_Page_3", "PrintPreview_Page_2",
                                    "PrintPreview_Page_1"}));
  EXPECT_EQ(Visits(1), (QStringList{"PrintPreview_Page_3", "PrintPreview_Page_1"}));
  EXPECT_EQ(Visits(2), (QStringList{"PrintPreview_Page_4", "PrintPreview_Page_2"}));
  EXPECT_EQ(MessageOf<Exception>([&] { Visits(3); }), QStringLiteral("Unknown IType in 'tPrintPreview.Iterate'."));

  // A callback may free the element it is given.
  doc->Iterate(doc->Pages(), 2, {}, {}, {}, nullptr,
               [](QObject* c, QObject*, const QVariant&, const QVariant&, const QVariant&) { delete c; });
  EXPECT_EQ(PageNames(), (QStringList{"PrintPreview_Page_1", "PrintPreview_Page_3"}));
}

TEST_F(DocumentTest, IterateRefusesObjectsThatAreNeitherPagesNorItems) {
  TForeignPreviewable foreign;
  TPreviewItems list;
  list.Add(&foreign);
  int calls = 0;
  EXPECT_EQ(MessageOf<Exception>([&] {
              doc->Iterate(list, 0, {}, {}, {}, nullptr,
                           [&](QObject*, QObject*, const QVariant&, const QVariant&, const QVariant&) { ++calls; });
            }),
            QStringLiteral("Unknown List object in 'tPrintPreview.Iterate'."));
  EXPECT_EQ(calls, 0);
}

TEST_F(DocumentTest, ItemListsTakeOnlyPreviewableObjects) {
  TPreviewItems list;
  QObject plain;
  EXPECT_EQ(MessageOf<Exception>([&] { list.Add(&plain); }),
            QStringLiteral("Error adding PreviewItem.  Items must be IPreviewable"));
  EXPECT_EQ(list.Count(), 0);
  Start();
  EXPECT_EQ(MessageOf<Exception>([&] { doc->Pages()[0]->AddPreviewItem(&plain, false); }),
            QStringLiteral("APreviewItem is not IPreviewable in AddPreviewItem"));
  EXPECT_EQ(MessageOf<Exception>([&] { doc->AddItemToPrintQueue(&plain); }),
            QStringLiteral("AItem passed to AddItemToPrintQueue is not TPreviewItem"));
}

TEST_F(DocumentTest, DeletingTheSelectedPageOrThePageOfTheSelectedItemClearsTheSelection) {
  Start();
  doc->NewPage();
  TPagePreview* first = doc->Pages()[0];
  doc->SelectPage(first, true);
  TPreviewSample* a = AddSample();
  TPreviewSample* b = AddSample();
  ASSERT_EQ(a->PagePreview(), first);
  ASSERT_EQ(b->PagePreview(), first);
  doc->SelectItem(b, true);
  ASSERT_EQ(doc->SelectedItem(), b);
  ASSERT_EQ(doc->SelectedPage(), first);
  const QPointer<TPreviewSample> pa = a, pb = b;
  changes.clear();
  doc->DeletePage(first);
  EXPECT_TRUE(pa.isNull());
  EXPECT_TRUE(pb.isNull());
  EXPECT_EQ(doc->SelectedItem(), nullptr);
  EXPECT_EQ(doc->SelectedPage(), nullptr);
  EXPECT_EQ(doc->Items().Count(), 0);
  EXPECT_EQ(doc->PageCount(), 1);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Delete page(s)")});
}

TEST_F(DocumentTest, DeletePagesKeepsAtLeastTheShownPages) {
  Start();
  for (int i = 0; i < 3; ++i) doc->NewPage();
  doc->SelectPage(doc->Pages()[1], true);
  doc->Pages()[3]->SetSelected(true);
  const int before = pagesChanges;
  doc->DeletePages(1);
  EXPECT_EQ(PageNames(), (QStringList{"PrintPreview_Page_1", "PrintPreview_Page_3"}));
  EXPECT_GT(pagesChanges, before);
  doc->DeletePages(0);
  EXPECT_EQ(doc->PageCount(), 1);  // the arrangement adds the page shown
}

// Pages and items go away in every order, and no list keeps a pointer to
// anything gone (the address sanitizer sees the rest).
TEST_F(DocumentTest, DestroyingPagesAndItemsFromOutsideKeepsEveryListConsistent) {
  Start();
  doc->NewPage();
  TPagePreview* p1 = doc->Pages()[0];
  TPagePreview* p2 = doc->Pages()[1];
  doc->SelectPage(p1, true);
  TPreviewSample* a = AddSample();
  TPreviewSample* b = AddSample();
  TPreviewSample* c = new TPreviewSample(form.get());
  doc->AddItemToPrintQueue(c);
  c->PagePreview()->RemoveFromLayout(c);
  p2->AddPreviewItem(c, false);
  doc->SelectItem(a, true);

  // An item deleted by the program.
  delete a;
  EXPECT_EQ(doc->SelectedItem(), nullptr);
  EXPECT_FALSE(doc->Items().Contains(a));
  EXPECT_FALSE(p1->Items().Contains(a));
  EXPECT_EQ(doc->Items().Count(), 2);

  // A page deleted by the program: its items stay in the document.
  delete p1;
  EXPECT_EQ(doc->PageCount(), 1);
  EXPECT_EQ(doc->SelectedPage(), nullptr);
  EXPECT_EQ(b->PagePreview(), nullptr);
  EXPECT_TRUE(doc->Items().Contains(b));
  doc->Iterate(doc->Items(), 0, {}, {}, {}, nullptr,
               [](QObject* e, QObject*, const QVariant&, const QVariant&, const QVariant&) {
                 static_cast<TPreviewItem*>(e)->SetSelected(true);
               });

  // The document goes first: pages and items forget it and live on with
  // their owner.
  const QPointer<TPagePreview> page2 = p2;
  const QPointer<TPreviewSample> itemB = b, itemC = c;
  delete doc;
  doc = nullptr;
  ASSERT_FALSE(page2.isNull());
  ASSERT_FALSE(itemB.isNull());
  EXPECT_EQ(page2->PrintPreviewOrNull(), nullptr);
  EXPECT_EQ(itemB->PrintPreview(), nullptr);
  EXPECT_EQ(itemC->PagePreview(), page2.data());
  EXPECT_EQ(MessageOf<Exception>([&] { page2->PrintPreview(); }),
            QStringLiteral("FPrintPreview not assigned in GetPrintPreview"));
  EXPECT_EQ(MessageOf<Exception>([&] { page2->PageIndex(); }),
            QStringLiteral("FPrintPreview not assigned in SetPageIndex"));

  // Then the page, then the owner with the rest.
  delete p2;
  EXPECT_EQ(itemC->PagePreview(), nullptr);
  form.reset();
  EXPECT_TRUE(itemB.isNull());
  EXPECT_TRUE(itemC.isNull());
}

TEST_F(DocumentTest, TheOwnerFreesEverythingWhateverWasCreatedFirst) {
  Start();
  for (int i = 0; i < 3; ++i) AddSample();
  doc->NewPage();
  const QPointer<TPrintPreview> d = doc;
  const QPointer<TPagePreview> page = doc->Pages()[1];
  const QPointer<QObject> item = doc->Items()[0];
  form.reset();
  EXPECT_TRUE(d.isNull());
  EXPECT_TRUE(page.isNull());
  EXPECT_TRUE(item.isNull());
  doc = nullptr;
}

TEST_F(DocumentTest, ClearDocumentFreesItemsThenPages) {
  Start();
  AddSample();
  AddSample();
  doc->ClearDocument();
  EXPECT_EQ(doc->PageCount(), 0);
  EXPECT_EQ(doc->Items().Count(), 0);
  EXPECT_EQ(doc->SelectedPage(), nullptr);
}

TEST_F(DocumentTest, PageIndexReadsAndMovesThePage) {
  for (int i = 0; i < 3; ++i) doc->NewPage();
  TPagePreview* p3 = doc->Pages()[2];
  EXPECT_EQ(p3->PageIndex(), 2);
  p3->SetPageIndex(0);
  EXPECT_EQ(PageNames(), (QStringList{"PrintPreview_Page_3", "PrintPreview_Page_1", "PrintPreview_Page_2"}));
  doc->Pages().Remove(p3);
  EXPECT_EQ(MessageOf<Exception>([&] { p3->SetPageIndex(1); }), QStringLiteral("Couldn't find page in print preview"));
  TPagePreview orphan(form.get(), nullptr);
  EXPECT_EQ(MessageOf<Exception>([&] { orphan.SetPageIndex(0); }),
            QStringLiteral("FPrintPreview not assigned in SetPageIndex"));
}

TEST_F(DocumentTest, PagesTakeTheirPaperFromThePrinterAndTheDocumentsMargins) {
  doc->SetMarginLeft(100);
  doc->SetMarginTop(120);
  TPagePreview* page = doc->NewPage();
  // The test printer: A4 at 300 dpi, 2099 x 2970, own margins 42/50/42/67.
  EXPECT_EQ(page->PaperWidth(), 2099);
  EXPECT_EQ(page->PaperLength(), 2970);
  EXPECT_EQ(page->PrinterSettings.MarginLeft, 100);
  EXPECT_EQ(page->PrinterSettings.MarginTop, 120);
  // Centring comes before the wanted margins: the right margin stays the
  // printer's 42, the bottom the centred 67.
  EXPECT_EQ(page->PrintableWidth(), 2099 - 100 - 42);
  EXPECT_EQ(page->PrintableHeight(), 2970 - 120 - 67);
  const TRectangle& r = page->Layout().PageRect;
  EXPECT_EQ(r.Left, 100);
  EXPECT_EQ(r.Top, 120);
  EXPECT_EQ(r.Width, page->PrintableWidth());
  EXPECT_EQ(r.Height, page->PrintableHeight());
  ASSERT_EQ(page->Layout().FreeRects().Count(), 1);

  // A page without a document gets the printer's own margins.
  TPagePreview orphan(form.get(), nullptr);
  EXPECT_EQ(orphan.PrinterSettings.MarginLeft, 42);
  EXPECT_EQ(orphan.PrinterSettings.MarginTop, 50);
}

TEST_F(DocumentTest, SheetsGrowThePaperAndAreSeenInThePagesOrientation) {
  TPagePreview* page = doc->NewPage();
  const TPrinterSettings& s = page->PrinterSettings;
  changes.clear();
  page->SetSheetsHorizontal(2);
  page->SetSheetsVertical(3);
  EXPECT_EQ(page->SheetsX(), 2);
  EXPECT_EQ(page->SheetsY(), 3);
  EXPECT_EQ(page->PaperWidth(), s.UsableWidth + s.PaperWidth);
  EXPECT_EQ(page->PaperLength(), 2 * s.UsableHeight + s.PaperHeight);
  EXPECT_EQ(page->PrintableWidth(), 2 * s.UsableWidth);
  EXPECT_EQ(changes, (QStringList{"Page Sheets", "Page Sheets"}));
  page->SetSheetsHorizontal(2);  // the same value
  page->SetSheetsHorizontal(0);
  page->SetSheetsVertical(-1);
  EXPECT_EQ(changes.size(), 2);

  // A page lying on its side sees the sheets the other way round.
  page->SetPaperOrientation(poLandscape);
  EXPECT_TRUE(page->LyingOnSide());
  EXPECT_EQ(page->Rotation(), 3);
  EXPECT_EQ(page->SheetsHorizontal(), 3);
  EXPECT_EQ(page->SheetsVertical(), 2);
  page->SetSheetsHorizontal(4);
  EXPECT_EQ(page->SheetsY(), 4);
  EXPECT_EQ(page->SheetsX(), 2);
  page->SetPaperOrientation(poPortrait);
  EXPECT_FALSE(page->LyingOnSide());
}

TEST_F(DocumentTest, PaperOrientationGoesToTheSelectedPages) {
  Start();
  doc->NewPage();
  doc->NewPage();
  doc->SelectPage(doc->Pages()[0], true);
  doc->Pages()[2]->SetSelected(true);
  int layoutChanges = 0;
  doc->OnChangeLayout = [&](QObject* sender) {
    EXPECT_EQ(sender, doc);
    ++layoutChanges;
  };
  changes.clear();
  doc->SetPaperOrientation(poLandscape);
  EXPECT_EQ(layoutChanges, 1);
  EXPECT_EQ(doc->Pages()[0]->PaperOrientation(), poLandscape);
  EXPECT_EQ(doc->Pages()[1]->PaperOrientation(), poPortrait);
  EXPECT_EQ(doc->Pages()[2]->PaperOrientation(), poLandscape);
  EXPECT_EQ(doc->Pages()[0]->Layout().Orientation(), poLandscape);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Paper orientation")});
  // The same value again still reaches newly selected pages.
  doc->Pages()[1]->SetSelected(true);
  doc->SetPaperOrientation(poLandscape);
  EXPECT_EQ(layoutChanges, 1);
  EXPECT_EQ(doc->Pages()[1]->PaperOrientation(), poLandscape);
  // New pages take the document's orientation.
  EXPECT_EQ(doc->NewPage()->PaperOrientation(), poLandscape);
}

TEST_F(DocumentTest, PageAtItemFindsThePageUnderTheItemsCorner) {
  doc->SetDisplayPagesHorizontal(2);
  Start();
  TPagePreview* left = doc->Pages()[0];
  TPagePreview* right = doc->Pages()[1];
  ASSERT_EQ(left->geometry(), QRect(0, 0, 353, 624));
  ASSERT_EQ(right->geometry(), QRect(353, 0, 353, 624));
  QWidget probe(doc);
  probe.move(352, 10);
  EXPECT_EQ(doc->PageAtItem(&probe), left);
  probe.move(353, 0);
  EXPECT_EQ(doc->PageAtItem(&probe), right);
  probe.move(706, 0);
  EXPECT_EQ(doc->PageAtItem(&probe), nullptr);
}

TEST_F(DocumentTest, RefreshPrinterSettingsRefillsTheDocumentAndEveryPage) {
  Start();
  doc->NewPage();
  printer->Current().PaperCode = 1;
  printer->Current().PaperWidthPx = 2550;  // Letter at 300 dpi
  printer->Current().PaperHeightPx = 3300;
  printer->Current().PrintableWidthPx = 2450;
  printer->Current().PrintableHeightPx = 3160;
  doc->RefreshPrinterSettings();
  EXPECT_EQ(doc->PrinterSettings.PaperWidth, 2159);
  for (TPagePreview* p : doc->Pages()) {
    EXPECT_EQ(p->PaperWidth(), 2159);
    EXPECT_EQ(p->PaperLength(), 2794);
  }
}

TEST_F(DocumentTest, EnsureDisplayPagesAddsTheMissingPagesAndTellsTheHost) {
  doc->SetDisplayPagesHorizontal(3);
  const int before = pagesChanges;
  doc->EnsureDisplayPages();
  EXPECT_EQ(doc->PageCount(), 3);
  doc->EnsureDisplayPages();
  EXPECT_EQ(pagesChanges, before);
  int newPages = 0;
  doc->OnNewPage = [&](TPagePreview*) { ++newPages; };
  doc->SetDisplayPagesVertical(2);
  EXPECT_EQ(doc->PageCount(), 6);
  EXPECT_EQ(newPages, 3);
}

TEST_F(DocumentTest, APrinterWithoutPaperKeepsTheDocumentUsable) {
  printer->Current().PaperWidthPx = printer->Current().PaperHeightPx = 0;
  printer->Current().PrintableWidthPx = printer->Current().PrintableHeightPx = 0;
  printer->Current().OffsetLeftPx = printer->Current().OffsetTopPx = 0;
  Start();
  ASSERT_EQ(doc->PageCount(), 1);
  EXPECT_EQ(doc->Pages()[0]->Layout().FreeRects().Count(), 0);
  doc->ClearAll();
  EXPECT_EQ(doc->PageCount(), 1);
}

#include "DocumentTest.moc"
