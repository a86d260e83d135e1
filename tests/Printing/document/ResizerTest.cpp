#include "Printing/document/ResizerU.h"

#include "Printing/document/PreviewItemsU.h"
#include "TestSupport.h"

#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

// An item with proportions that fills itself with one colour, so that the
// frame can be seen over it.
class TFilledSample : public TPreviewItem {
  Q_OBJECT
public:
  TFilledSample(QObject* AOwner, double ARatio) : TPreviewItem(AOwner), FRatio(ARatio) {}
  float AspectRatio() override { return static_cast<float>(FRatio); }

protected:
  void PaintContent(QPainter& Canvas) override { Canvas.fillRect(rect(), QColor(40, 80, 200)); }

private:
  double FRatio;
};

namespace {

struct TRect {
  int x, y, w, h;
  bool operator==(const TRect&) const = default;
};

void PrintTo(const TRect& r, std::ostream* os) { *os << "(" << r.x << "," << r.y << " " << r.w << "x" << r.h << ")"; }

TRect RectOf(const QWidget* w) { return {w->x(), w->y(), w->width(), w->height()}; }
TRect RectOf(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }

// Presses the left button in the middle of a widget, moves by Delta in two
// steps (so the outline is moved once after the first move) and releases.
void Drag(QWidget* W, QPoint Delta) {
  const QPoint from = W->rect().center();
  QTest::mousePress(W, Qt::LeftButton, {}, from);
  QTest::mouseMove(W, from + Delta / 2);
  QTest::mouseMove(W, from + Delta);
  QTest::mouseRelease(W, Qt::LeftButton, {}, from + Delta);
}

// A frame over a plain control of 200 x 100 at (50, 40) in a shown form,
// with a clock the test turns.
class ResizerTest : public ::testing::Test {
protected:
  void SetUp() override {
    form = std::make_unique<QWidget>();
    form->resize(600, 500);
    control = new QWidget(form.get());
    control->setGeometry(50, 40, 200, 100);
    resizer = new TResizer(form.get(), form.get());
    resizer->TickSource = [this] { return now; };
    form->show();
    resizer->SetResizeControl(control);
  }

  TResizerHandle* H(THandlePosition p) { return resizer->Handle(p); }

  qint64 now = 100000;
  std::unique_ptr<QWidget> form;
  QWidget* control = nullptr;
  TResizer* resizer = nullptr;
};

}  // namespace

TEST_F(ResizerTest, FramingAControlTakesItsBoundsProportionsAndVisibility) {
  EXPECT_EQ(RectOf(resizer), (TRect{50, 40, 200, 100}));
  EXPECT_FLOAT_EQ(resizer->AspectRatio(), 2.0f);
  EXPECT_TRUE(resizer->isVisible());
  // The frame lies over the control and the handles over the frame.
  const QObjectList& children = form->children();
  EXPECT_LT(children.indexOf(control), children.indexOf(resizer));
  EXPECT_LT(children.indexOf(resizer), children.indexOf(H(8)));

  // A hidden control of height 0: the frame hides, the ratio is 1.
  auto* flat = new QWidget(form.get());
  flat->setGeometry(10, 10, 30, 0);
  flat->hide();
  resizer->SetResizeControl(flat);
  EXPECT_FLOAT_EQ(resizer->AspectRatio(), 1.0f);
  EXPECT_FALSE(resizer->isVisible());
  EXPECT_FALSE(H(8)->isVisible());

  resizer->SetResizeControl(nullptr);
  EXPECT_FALSE(resizer->isVisible());
}

TEST_F(ResizerTest, AFramedItemThatIsDestroyedIsForgotten) {
  auto* item = new TFilledSample(form.get(), 1.0);
  item->setParent(form.get());
  item->setGeometry(100, 100, 80, 80);
  item->show();
  resizer->SetResizeControl(item);
  ASSERT_EQ(resizer->ResizeControl(), item);
  delete item;
  EXPECT_EQ(resizer->ResizeControl(), nullptr);
  EXPECT_FALSE(resizer->isVisible());
  // A drag on the frame alone still works and touches nothing else.
  resizer->show();
  resizer->SetOptions(resizer->Options() | roAlwaysDrag);
  Drag(resizer, {5, 5});
  EXPECT_EQ(RectOf(resizer), (TRect{105, 105, 80, 80}));
}

TEST_F(ResizerTest, HandlesSitOnTheCornersEdgesAndCentre) {
  resizer->SetHandleSize(7);
  resizer->SetHandleSize(0);  // ignored
  resizer->SetHandleSize(-3);
  ASSERT_EQ(resizer->HandleSize(), 7);
  // Half a handle is 3: columns at 50 - 3, 50 + 100 - 3, 50 + 200 - 3 - 1.
  const int xs[3] = {47, 147, 246}, ys[3] = {37, 87, 136};
  for (THandlePosition p = 0; p < 9; ++p)
    EXPECT_EQ(RectOf(H(p)), (TRect{xs[p % 3], ys[p / 3], 7, 7})) << "handle " << p;
  // They follow the frame.
  resizer->SetBounds(0, 0, 20, 10);
  EXPECT_EQ(RectOf(H(8)), (TRect{20 - 3 - 1, 10 - 3 - 1, 7, 7}));
  resizer->move(100, 0);
  EXPECT_EQ(H(0)->x(), 97);
}

TEST_F(ResizerTest, SizingByEachHandleWithAndWithoutKeepingTheProportions) {
  struct {
    bool keep;
    THandlePosition handle;
    QPoint delta;
    TRect result;
  } cases[] = {
      // Ratio 2: the larger of the rectangle driven by each direction.
      {true, 8, {50, 10}, {50, 40, 250, 125}},
      {true, 8, {10, 50}, {50, 40, 300, 150}},
      {true, 0, {-50, -10}, {0, 15, 250, 125}},
      {true, 2, {10, -50}, {50, -10, 300, 150}},
      {true, 6, {-50, 10}, {0, 40, 250, 125}},
      {true, 7, {0, 50}, {50, 40, 300, 150}},
      {true, 1, {0, -50}, {50, -10, 300, 150}},
      {true, 5, {100, 0}, {50, 40, 300, 150}},
      {true, 3, {-100, 0}, {-50, 40, 300, 150}},
      {true, 4, {30, 20}, {80, 60, 200, 100}},  // a move keeps the size
      // Free sizing moves only the handle's own edges.
      {false, 8, {50, 10}, {50, 40, 250, 110}},
      {false, 0, {-20, 30}, {30, 70, 220, 70}},
      {false, 7, {60, 25}, {50, 40, 200, 125}},
      {false, 4, {-30, 5}, {20, 45, 200, 100}},
  };
  for (const auto& c : cases) {
    control->setGeometry(50, 40, 200, 100);
    resizer->FitToControl();
    resizer->SetKeepAspectRatio(c.keep);
    Drag(H(c.handle), c.delta);
    EXPECT_EQ(RectOf(resizer), c.result) << "handle " << c.handle << " keep " << c.keep;
    EXPECT_EQ(RectOf(control), c.result) << "handle " << c.handle << " keep " << c.keep;
    EXPECT_FALSE(resizer->Sizing());
  }
}

TEST_F(ResizerTest, KeepingProportionsWithoutARatioTakesTheFramesOwn) {
  resizer->SetAspectRatio(0);
  resizer->SetKeepAspectRatio(true);
  EXPECT_FLOAT_EQ(resizer->AspectRatio(), 2.0f);
  resizer->SetAspectRatio(0.5f);
  resizer->SetKeepAspectRatio(true);
  EXPECT_FLOAT_EQ(resizer->AspectRatio(), 0.5f);
}

TEST_F(ResizerTest, DraggingTheLeftHandlePastTheRightEdgeFlipsTheRectangle) {
  control->setGeometry(0, 40, 200, 100);
  resizer->FitToControl();
  TResizerHandle* left = H(3);
  const QPoint from = left->rect().center();
  QTest::mousePress(left, Qt::LeftButton, {}, from);
  EXPECT_TRUE(resizer->Sizing());
  EXPECT_TRUE(resizer->HiddenForSizing());
  QTest::mouseMove(left, from + QPoint(250, 0));
  // The outline already shows the flipped rectangle, and the control has
  // not moved yet.
  ASSERT_NE(resizer->Band(), nullptr);
  EXPECT_TRUE(resizer->Band()->isVisible());
  EXPECT_EQ(RectOf(resizer->Band()->geometry()), (TRect{200, 40, 50, 100}));
  EXPECT_EQ(RectOf(control), (TRect{0, 40, 200, 100}));
  QTest::mouseRelease(left, Qt::LeftButton, {}, from + QPoint(250, 0));
  EXPECT_EQ(RectOf(resizer), (TRect{200, 40, 50, 100}));
  EXPECT_EQ(RectOf(control), (TRect{200, 40, 50, 100}));
  EXPECT_FALSE(resizer->Band()->isVisible());
  EXPECT_FALSE(resizer->HiddenForSizing());
}

TEST_F(ResizerTest, MaximumSizesStopSizing) {
  struct {
    int maxW, maxH;
    bool keep;
    THandlePosition handle;
    QPoint delta;
    TRect result;
  } cases[] = {
      {300, 0, false, 5, {250, 0}, {50, 40, 300, 100}},
      {0, 120, false, 7, {0, 80}, {50, 40, 200, 120}},
      {300, 0, false, 5, {-600, 0}, {-250, 40, 300, 100}},  // past the left edge too
      {300, 0, true, 8, {250, 0}, {50, 40, 300, 150}},      // the height follows the limited width
      {0, 0, false, 5, {250, 0}, {50, 40, 450, 100}},       // 0 is no limit
  };
  for (const auto& c : cases) {
    control->setGeometry(50, 40, 200, 100);
    resizer->FitToControl();
    resizer->SetKeepAspectRatio(c.keep);
    resizer->Constraints().MaxWidth = c.maxW;
    resizer->Constraints().MaxHeight = c.maxH;
    Drag(H(c.handle), c.delta);
    EXPECT_EQ(RectOf(control), c.result) << "max " << c.maxW << "x" << c.maxH << " handle " << c.handle;
  }
}

TEST_F(ResizerTest, ARightClickCancelsTheDragAndBlocksPressesForOneSecond) {
  TResizerHandle* corner = H(8);
  const QPoint from = corner->rect().center();
  QTest::mousePress(corner, Qt::LeftButton, {}, from);
  QTest::mouseMove(corner, from + QPoint(60, 30));
  QTest::mousePress(corner, Qt::RightButton, {}, from + QPoint(60, 30));
  EXPECT_FALSE(resizer->Sizing());
  EXPECT_FALSE(resizer->HiddenForSizing());
  EXPECT_FALSE(resizer->Band()->isVisible());
  EXPECT_EQ(RectOf(resizer), (TRect{50, 40, 200, 100}));
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));
  EXPECT_EQ(resizer->LastCancelTick(), now);
  // The rest of the gesture does nothing.
  QTest::mouseMove(corner, from + QPoint(90, 30));
  QTest::mouseRelease(corner, Qt::RightButton, {}, from + QPoint(90, 30));
  QTest::mouseRelease(corner, Qt::LeftButton, {}, from + QPoint(90, 30));
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));

  // 999 ms later a press is still ignored; at 1000 ms it starts a drag.
  now += 999;
  Drag(corner, {20, 20});
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));
  now += 1;
  Drag(corner, {20, 20});
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 220, 120}));
}

TEST_F(ResizerTest, TheFirstPressWorksWhateverTheClockShows) {
  // No cancel has happened yet: nothing is blocked, even right after the
  // clock's zero.
  now = 300;
  Drag(H(8), {10, 10});
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 210, 110}));
}

TEST_F(ResizerTest, BeginSizingCanBeRefusedAndEveryMoveIsReported) {
  struct TCall {
    QWidget* control;
    THandlePosition position;
  };
  QList<TCall> begun, moved;
  bool refuse = true;
  resizer->OnBeginSizing = [&](QObject* Sender, QWidget* C, THandlePosition P, int, int, bool& Cancel) {
    EXPECT_EQ(Sender, resizer);
    begun.append({C, P});
    Cancel = refuse;
  };
  resizer->OnReSizing = [&](QObject*, QWidget* C, THandlePosition P, int, int) { moved.append({C, P}); };
  Drag(H(2), {30, -30});
  EXPECT_EQ(begun.size(), 1);
  EXPECT_TRUE(moved.isEmpty());
  EXPECT_FALSE(resizer->HiddenForSizing());
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));

  refuse = false;
  Drag(H(2), {30, -30});
  ASSERT_EQ(begun.size(), 2);
  EXPECT_EQ(begun[1].control, control);
  EXPECT_EQ(begun[1].position, 2);
  ASSERT_EQ(moved.size(), 2);
  EXPECT_EQ(moved[1].position, 2);
  EXPECT_EQ(RectOf(control), (TRect{50, 10, 230, 130}));
}

TEST_F(ResizerTest, WithoutResizingTheSizingHandlesShowOnlyOnRequestAndDoNotSize) {
  resizer->SetHandleEnabledColor(Qt::green);
  resizer->SetHandleDisabledColor(Qt::red);
  resizer->SetHandleSize(7);
  resizer->SetOptions(roCanMove | roAlwaysShowHandles);
  for (THandlePosition p : {0, 1, 2, 3, 5, 6, 7, 8}) {
    EXPECT_TRUE(H(p)->isVisible()) << p;
    EXPECT_EQ(H(p)->cursor().shape(), Qt::ArrowCursor) << p;
    EXPECT_EQ(H(p)->grab().toImage().pixelColor(3, 3), QColor(Qt::red)) << p;
  }
  EXPECT_EQ(H(4)->grab().toImage().pixelColor(3, 3), QColor(Qt::green));
  Drag(H(8), {40, 40});
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));
  EXPECT_FALSE(resizer->Sizing());
  // The centre handle still moves.
  Drag(H(4), {10, 0});
  EXPECT_EQ(RectOf(control), (TRect{60, 40, 200, 100}));

  // Without the request the disabled handles are not there at all.
  resizer->SetOptions(roCanMove);
  for (THandlePosition p : {0, 1, 2, 3, 5, 6, 7, 8}) EXPECT_FALSE(H(p)->isVisible()) << p;
  // Sizing brings them back with their sizing cursors.
  resizer->SetOptions(roCanMove | roCanResize);
  const Qt::CursorShape shapes[9] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                     Qt::SizeHorCursor,   Qt::SizeAllCursor, Qt::SizeHorCursor,
                                     Qt::SizeBDiagCursor, Qt::SizeVerCursor, Qt::SizeFDiagCursor};
  for (THandlePosition p = 0; p < 9; ++p) {
    EXPECT_TRUE(H(p)->isVisible()) << p;
    EXPECT_EQ(H(p)->cursor().shape(), shapes[p]) << p;
  }
}

TEST_F(ResizerTest, AlwaysDragMovesByTheFrameInsteadOfTheCentreHandle) {
  // Without the option a press on the frame does nothing.
  Drag(resizer, {25, 15});
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));
  EXPECT_EQ(resizer->cursor().shape(), Qt::ArrowCursor);

  resizer->SetOptions(roAlwaysDrag | roCanMove | roCanResize);
  EXPECT_FALSE(H(4)->isVisible());
  EXPECT_EQ(resizer->cursor().shape(), Qt::SizeAllCursor);
  resizer->SetKeepAspectRatio(true);
  Drag(resizer, {25, 15});
  EXPECT_EQ(RectOf(control), (TRect{75, 55, 200, 100}));

  // Not movable: no moving and no four-way cursor.
  resizer->SetOptions(roAlwaysDrag | roCanResize);
  EXPECT_EQ(resizer->cursor().shape(), Qt::ArrowCursor);
  Drag(resizer, {25, 15});
  EXPECT_EQ(RectOf(control), (TRect{75, 55, 200, 100}));
  // A cursor of its own is left alone.
  resizer->setCursor(Qt::PointingHandCursor);
  resizer->SetOptions(roAlwaysDrag | roCanMove);
  EXPECT_EQ(resizer->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(ResizerTest, LiveSizingMovesTheControlDuringTheDragWithoutAnOutline) {
  resizer->SetOptions(roRedrawControlWhileSizing | roCanMove | roCanResize);
  TResizerHandle* corner = H(8);
  const QPoint from = corner->rect().center();
  QTest::mousePress(corner, Qt::LeftButton, {}, from);
  QTest::mouseMove(corner, from + QPoint(30, 20));
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 230, 120}));
  EXPECT_EQ(RectOf(resizer), (TRect{50, 40, 200, 100}));
  EXPECT_TRUE(resizer->Band() == nullptr || !resizer->Band()->isVisible());
  // A cancel puts the control back.
  QTest::mousePress(corner, Qt::RightButton, {}, from + QPoint(30, 20));
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));
}

TEST_F(ResizerTest, ADoubleClickOnTheFrameIsReportedAndCancelsTheDragItsFirstClickBegan) {
  resizer->SetOptions(roAlwaysDrag | roCanMove | roCanResize);
  int clicks = 0;
  resizer->OnDblClick = [&](QObject* Sender) {
    EXPECT_EQ(Sender, resizer);
    ++clicks;
  };
  const QPoint at = resizer->rect().center();
  QTest::mousePress(resizer, Qt::LeftButton, {}, at);
  QTest::mouseRelease(resizer, Qt::LeftButton, {}, at);
  QTest::mouseDClick(resizer, Qt::LeftButton, {}, at);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(resizer->Sizing());
  EXPECT_EQ(resizer->LastCancelTick(), now);
  EXPECT_EQ(RectOf(control), (TRect{50, 40, 200, 100}));
}

TEST_F(ResizerTest, AFrameWithNoParentToDrawOnDoesNotStartADrag) {
  TestDialogs().Clear();
  TResizer orphan(nullptr);
  orphan.SetOptions(roAlwaysDrag | roCanMove);
  QTest::mousePress(&orphan, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(TestDialogs().Texts(), QStringList{QStringLiteral("Can't find valid parent")});
  EXPECT_FALSE(orphan.Sizing());
  EXPECT_FALSE(orphan.HiddenForSizing());
  QTest::mouseRelease(&orphan, Qt::LeftButton, {}, QPoint(10, 10));
  TestDialogs().Clear();
}

namespace {

// A manual document: paper 2000 x 2800 shown at Scale 0.5 with its top left
// corner at (10, 20); a 4:3 item at print (100, 200) 400 x 300 shows at
// (60, 120) 200 x 150. The frame is set up as the editor sets it up.
class ResizerDocumentTest : public ::testing::Test {
protected:
  void SetUp() override {
    printer = std::make_unique<TTestPrinterScope>(QList<TTestPrinter::TInfo>{UnitPrinter(2000, 2800)});
    form = std::make_unique<QWidget>();
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->SetDefaultLayoutType(ltManual);
    doc->setGeometry(0, 0, 1020, 1440);
    doc->Loaded();
    for (TPagePreview* p : doc->Pages()) p->SetParentMargin(10);
    doc->OnChanged = [this](QObject*, const QString& d) { changes << d; };
    item = new TFilledSample(form.get(), 4.0 / 3);
    item->SetPrintPreview(doc);
    doc->Items().Add(item);
    doc->Pages()[0]->AddPreviewItem(item, false);
    item->SetPrintBounds(100, 200, 400, 300);
    item->show();

    resizer = new TResizer(form.get(), doc);
    resizer->TickSource = [] { return qint64(50000); };
    resizer->SetOptions(roAlwaysDrag | roCanResize | roCanMove | roAlwaysShowHandles);
    resizer->SetHandleSize(7);
    resizer->SetHandleBrush(Qt::green);
    resizer->SetHandleEnabledColor(QColor(0, 255, 0));
    resizer->SetHandleDisabledColor(Qt::red);
    resizer->SetResizeControl(item);
    resizer->SetKeepAspectRatio(item->GetKeepAspectRatio());
    // The frame follows its item, as the editor has it.
    item->OnVisibleResize = [this](QObject* Sender) {
      if (Sender == resizer->ResizeControl()) resizer->FitToControl();
    };
    form->resize(1020, 1440);
    form->show();
    changes.clear();
  }

  std::unique_ptr<TTestPrinterScope> printer;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc = nullptr;
  TFilledSample* item = nullptr;
  TResizer* resizer = nullptr;
  QStringList changes;
};

}  // namespace

TEST_F(ResizerDocumentTest, DraggingAnItemMovesAndSizesItsPrintGeometryWithOneChangeEach) {
  ASSERT_EQ(RectOf(item), (TRect{60, 120, 200, 150}));
  ASSERT_EQ(RectOf(resizer), (TRect{60, 120, 200, 150}));

  Drag(resizer, {20, 30});
  EXPECT_EQ(item->PrintLeft(), 140);
  EXPECT_EQ(item->PrintTop(), 260);
  EXPECT_EQ(item->PrintWidth(), 400);
  EXPECT_EQ(item->PrintHeight(), 300);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Item size/position")});
  EXPECT_EQ(RectOf(resizer), (TRect{80, 150, 200, 150}));

  // The bottom edge down by 30: the width follows the item's proportions.
  changes.clear();
  Drag(resizer->Handle(7), {0, 30});
  EXPECT_EQ(RectOf(item), (TRect{80, 150, 240, 180}));
  EXPECT_EQ(item->PrintLeft(), 140);
  EXPECT_EQ(item->PrintTop(), 260);
  EXPECT_EQ(item->PrintWidth(), 480);
  EXPECT_EQ(item->PrintHeight(), 360);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Item size/position")});
  EXPECT_EQ(doc->UpdateLock(), 0);
}

TEST_F(ResizerDocumentTest, ACancelledDragOrAClickRecordsNoChange) {
  const QPoint at = resizer->rect().center();
  QTest::mousePress(resizer, Qt::LeftButton, {}, at);
  QTest::mouseMove(resizer, at + QPoint(100, 100));
  QTest::mousePress(resizer, Qt::RightButton, {}, at + QPoint(100, 100));
  QTest::mouseRelease(resizer, Qt::RightButton, {}, at + QPoint(100, 100));
  QTest::mouseRelease(resizer, Qt::LeftButton, {}, at + QPoint(100, 100));
  EXPECT_EQ(item->PrintLeft(), 100);
  EXPECT_EQ(item->PrintTop(), 200);
  EXPECT_TRUE(changes.isEmpty()) << changes.join(QStringLiteral(", ")).toStdString();
}

TEST_F(ResizerDocumentTest, TheFrameAndTheOutlineShowOverTheItem) {
  const QImage before = doc->grab().toImage();
  if (qEnvironmentVariableIsSet("TAVORA_RESIZER_GRAB"))
    before.save(qEnvironmentVariable("TAVORA_RESIZER_GRAB") + QStringLiteral("-frame.png"));
  const QColor blue(40, 80, 200);
  // Inside the item its own colour; its edge carries the frame's black pen.
  EXPECT_EQ(before.pixelColor(160, 190), blue);
  EXPECT_EQ(before.pixelColor(120, 120), QColor(Qt::black));
  EXPECT_EQ(before.pixelColor(60, 150), QColor(Qt::black));
  // Enabled handles are filled in their colour: the bottom-right one at
  // (60 + 200 - 3 - 1, 120 + 150 - 3 - 1).
  EXPECT_EQ(before.pixelColor(256 + 3, 266 + 3), QColor(0, 255, 0));

  // During a move the frame and handles are gone and the outline inverts
  // what lies beneath it.
  const QPoint at = resizer->rect().center();
  QTest::mousePress(resizer, Qt::LeftButton, {}, at);
  QTest::mouseMove(resizer, at + QPoint(100, 40));
  const QImage during = doc->grab().toImage();
  if (qEnvironmentVariableIsSet("TAVORA_RESIZER_GRAB"))
    during.save(qEnvironmentVariable("TAVORA_RESIZER_GRAB") + QStringLiteral("-band.png"));
  // The outline's top edge runs at y = 160, partly over the item.
  const QRgb under = before.pixel(200, 160);
  EXPECT_EQ(during.pixel(200, 160) & 0xFFFFFF, ~under & 0xFFFFFF);
  const QRgb paper = before.pixel(300, 160);
  EXPECT_EQ(during.pixel(300, 160) & 0xFFFFFF, ~paper & 0xFFFFFF);
  // The frame's edge and its handle at the old place show the item again.
  EXPECT_EQ(during.pixelColor(120, 120), blue);
  EXPECT_EQ(during.pixelColor(256 + 3, 266 + 3), blue);
  QTest::mouseRelease(resizer, Qt::LeftButton, {}, at + QPoint(100, 40));
  EXPECT_EQ(RectOf(item), (TRect{160, 160, 200, 150}));
}

#include "ResizerTest.moc"
