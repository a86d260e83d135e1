#include "Printing/document/PreviewItemsU.h"
#include "Printing/document/ResizerU.h"
#include "Printing/editing/vexUndoRedo.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

// The document and its undo history wired as the editor does it: every
// change takes a snapshot (the document in memory, without picture bytes),
// undo and redo read one back onto the existing pages and items.
TEST(UndoWithTheDocument, DraggingWithTheFrameThenUndoAndRedo) {
  TTestPrinterScope printer({UnitPrinter(2000, 2800)});
  QWidget form;
  form.resize(1020, 1440);
  auto* doc = new TPrintPreview(&form, &form);
  doc->SetName(QStringLiteral("PrintPreview"));
  doc->SetDefaultLayoutType(ltManual);
  doc->setGeometry(0, 0, 1020, 1440);
  auto* undo = new TvexUndoRedo(&form);
  undo->OnGetState = [doc](QString&, QObject*& state, bool& handled) {
    auto buffer = std::make_unique<QBuffer>();
    buffer->open(QIODevice::ReadWrite);
    doc->SaveToStream(*buffer, false, QString());
    state = buffer.release();
    handled = true;
  };
  undo->OnRestoreState = [doc](QString&, QObject*& state, bool& handled) {
    auto* stream = qobject_cast<QIODevice*>(state);
    ASSERT_NE(stream, nullptr);
    stream->seek(0);
    doc->LoadFromStream(*stream, false);
    handled = true;
  };
  doc->OnChanged = [undo](QObject*, const QString& description) { undo->SaveState(description); };
  doc->Loaded();
  for (TPagePreview* p : doc->Pages()) p->SetParentMargin(10);

  QImage bitmap(400, 300, QImage::Format_RGB888);
  bitmap.fill(Qt::darkCyan);
  auto* item = dynamic_cast<TPreviewItem*>(doc->AddBitmap(QStringLiteral("Boat"), bitmap, 0)->GetItem());
  item->SetPrintBounds(100, 200, 400, 300);
  doc->Changed(QStringLiteral("Item size/position"));  // a snapshot of it there
  const QPointer<TPreviewItem> guard = item;
  form.show();

  auto* resizer = new TResizer(&form, doc);
  resizer->SetOptions(roAlwaysDrag | roCanResize | roCanMove);
  resizer->SetResizeControl(item);
  const QPoint from = resizer->rect().center();
  QTest::mousePress(resizer, Qt::LeftButton, {}, from);
  QTest::mouseMove(resizer, from + QPoint(20, 30));
  QTest::mouseRelease(resizer, Qt::LeftButton, {}, from + QPoint(20, 30));
  ASSERT_EQ(item->PrintLeft(), 140);
  ASSERT_EQ(item->PrintTop(), 260);
  EXPECT_EQ(undo->CurrentDescription(), QStringLiteral("Item size/position"));

  ASSERT_TRUE(undo->CanUndo());
  undo->Undo();
  ASSERT_FALSE(guard.isNull());  // the same item, read back in place
  EXPECT_EQ(item->PrintLeft(), 100);
  EXPECT_EQ(item->PrintTop(), 200);
  EXPECT_EQ(doc->Items().Count(), 1);
  EXPECT_TRUE(undo->CanRedo());

  undo->Redo();
  EXPECT_EQ(item->PrintLeft(), 140);
  EXPECT_EQ(item->PrintTop(), 260);
  EXPECT_FALSE(undo->CanRedo());
  EXPECT_EQ(doc->Items().Count(), 1);
}
