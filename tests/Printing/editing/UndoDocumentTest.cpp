#include "Printing/document/PreviewItemsU.h"
#include "Printing/document/ResizerU.h"
#include "Printing/editing/vexUndoRedo.h"
#include "Printing/layout/LayoutU.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

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

namespace {

// Whether two lines of a description say the same. The screen bounds of
// items (Left, Top, Width, Height) follow from the print bounds, and a spot
// dragged to and the spot mapped back from print units may be a pixel
// apart: they may differ by one.
bool SameLine(const QString& A, const QString& B) {
  if (A == B) return true;
  static const QRegularExpression screen(QStringLiteral("^(\\w+\\.(?:Left|Top|Width|Height)) = (-?\\d+)$"));
  const QRegularExpressionMatch a = screen.match(A), b = screen.match(B);
  return a.hasMatch() && b.hasMatch() && a.captured(1) == b.captured(1) &&
         std::abs(a.captured(2).toInt() - b.captured(2).toInt()) <= 1;
}

// The lines only one of the two descriptions has, marked - and +.
QStringList Difference(const QStringList& Expected, const QStringList& Actual) {
  QStringList out;
  const QSet<QString> expected(Expected.begin(), Expected.end()), actual(Actual.begin(), Actual.end());
  QStringList onlyExpected, onlyActual;
  for (const QString& line : Expected)
    if (!actual.contains(line)) onlyExpected << line;
  for (const QString& line : Actual)
    if (!expected.contains(line)) onlyActual << line;
  const auto has = [](const QStringList& lines, const QString& line) {
    return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return SameLine(l, line); });
  };
  for (const QString& line : onlyExpected)
    if (!has(onlyActual, line)) out << QStringLiteral("- ") + line;
  for (const QString& line : onlyActual)
    if (!has(onlyExpected, line)) out << QStringLiteral("+ ") + line;
  if (out.isEmpty() && Expected.size() != Actual.size()) out << QStringLiteral("(lines repeated)");
  return out;
}

// The document and its history wired as in the editor; each snapshot also
// keeps the description of the document at the time it was taken.
struct TRecordedEditor {
  TRecordedEditor() {
    Form.setObjectName(QStringLiteral("frmPreview"));
    Form.resize(1020, 1440);
    Doc = new TPrintPreview(&Form, &Form);
    Doc->SetName(QStringLiteral("PrintPreview"));
    Doc->setGeometry(0, 0, 1020, 1440);
    Undo = new TvexUndoRedo(&Form);
    Undo->OnGetState = [this](QString&, QObject*& state, bool& handled) {
      auto buffer = std::make_unique<QBuffer>();
      buffer->open(QIODevice::ReadWrite);
      Doc->SaveToStream(*buffer, false, QString());
      Described.insert(buffer.get(), DescribeDocument(*Doc));
      state = buffer.release();
      handled = true;
    };
    Undo->OnRestoreState = [this](QString&, QObject*& state, bool& handled) {
      auto* stream = qobject_cast<QIODevice*>(state);
      ASSERT_NE(stream, nullptr);
      stream->seek(0);
      Doc->LoadFromStream(*stream, false);
      handled = true;
    };
    Doc->OnChanged = [this](QObject*, const QString& description) { Undo->SaveState(description); };
    Doc->Loaded();
  }
  // What the document looked like when the current snapshot was taken.
  QStringList CurrentDescription() const { return Described.value(Undo->CurrentState()); }

  QWidget Form;
  TPrintPreview* Doc;
  TvexUndoRedo* Undo;
  QHash<const QObject*, QStringList> Described;
};

}  // namespace

// Thirty edits of every kind, then every one undone and redone: each
// snapshot read back gives the document as it was when it was taken.
TEST(UndoWithTheDocument, ThirtyRandomEditsUndoneAndRedoneStepByStep) {
  TTestPrinterScope printer({UnitPrinter(2000, 2800)});
  TRecordedEditor editor;
  TPrintPreview* doc = editor.Doc;
  doc->AddPage();
  QImage bitmap(120, 80, QImage::Format_RGB888);
  bitmap.fill(Qt::darkCyan);
  doc->AddBitmap(QStringLiteral("First"), bitmap, afAttachText);
  editor.Undo->Clear();
  doc->Changed(QStringLiteral("Start"));
  ASSERT_EQ(editor.Undo->StateCount(), 1);
  const QStringList first = DescribeDocument(*doc);

  std::mt19937 random(20261211);
  auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  // Pictures are what the user moves, turns and sizes (a caption moved by
  // hand has its page laid out later, on the timer).
  auto anyPicture = [&]() -> TPreviewItem* {
    QList<TPreviewItem*> pictures;
    for (int i = 0; i < doc->Items().Count(); ++i)
      if (!doc->Items().Item(i)->Attacher()) pictures << doc->Items().Item(i);
    return pictures.isEmpty() ? nullptr : pictures[pick(static_cast<int>(pictures.size()))];
  };
  // Every kind of edit four times, and two more additions, in random order.
  std::vector<int> kinds{0, 0};
  for (int kind = 0; kind < 7; ++kind) kinds.insert(kinds.end(), 4, kind);
  std::shuffle(kinds.begin(), kinds.end(), random);
  QStringList done;
  for (int edit = 0; edit < 30; ++edit) {
    TPreviewItem* item = anyPicture();
    const int kind = item ? kinds[static_cast<size_t>(edit)] : 0;
    switch (kind) {
      case 0:
        doc->AddBitmap(QStringLiteral("Picture %1").arg(edit), bitmap, pick(2) ? unsigned(afAttachText) : 0u);
        done << QStringLiteral("add");
        break;
      case 1:  // dragged on screen, as with the sizing frame
        item->SetBounds(item->x() + pick(100) - 50, item->y() + pick(100) - 50, item->width(), item->height());
        done << QStringLiteral("move");
        break;
      case 2:
        doc->SelectItem(item, true);
        doc->RotateSelected(1 + pick(3));
        done << QStringLiteral("turn");
        break;
      case 3:
        item->SetBounds(item->x(), item->y(), 30 + pick(200), 30 + pick(200));
        done << QStringLiteral("resize");
        break;
      case 4: {
        TPreviewItem* bare = nullptr;
        for (int i = 0; i < doc->Items().Count() && !bare; ++i) {
          TPreviewItem* candidate = doc->Items().Item(i);
          if (dynamic_cast<TPreviewImage*>(candidate) && !candidate->AttachedPreviewItem()) bare = candidate;
        }
        if (!bare) bare = dynamic_cast<TPreviewItem*>(doc->AddBitmap(QStringLiteral("Bare %1").arg(edit), bitmap, 0)->GetItem());
        ASSERT_NE(bare, nullptr);
        bare->CreateCaption();
        doc->Changed(QStringLiteral("Caption"));
        done << QStringLiteral("caption");
        break;
      }
      case 5:
        doc->SelectItem(item, true);
        doc->DeleteSelected();
        done << QStringLiteral("delete");
        break;
      case 6:  // the editor's layout commands
        switch (pick(4)) {
          case 0: doc->SetLayout(QString(), ltManual); break;
          case 1: doc->SetLayout(QString(), ltAutoBySize); break;
          case 2: doc->SetLayout(TLayout::ThumbsText(2, 2), ltAutoByLayout); break;
          default: doc->ThumbLayout(); break;
        }
        done << QStringLiteral("layout type");
        break;
    }
    ASSERT_EQ(Difference(editor.CurrentDescription(), DescribeDocument(*doc)), QStringList())
        << "snapshot of edit " << edit << ": " << done.last().toStdString();
  }
  for (const char* kind : {"add", "move", "turn", "resize", "caption", "delete", "layout type"})
    EXPECT_TRUE(done.contains(QLatin1String(kind))) << kind;
  const QStringList last = DescribeDocument(*doc);
  const int steps = editor.Undo->CurrentIndex();
  ASSERT_GE(steps, 30);

  while (editor.Undo->CanUndo()) {
    editor.Undo->Undo();
    ASSERT_EQ(Difference(editor.CurrentDescription(), DescribeDocument(*doc)), QStringList())
        << "undone to " << editor.Undo->CurrentIndex();
  }
  EXPECT_EQ(Difference(first, DescribeDocument(*doc)), QStringList());
  while (editor.Undo->CanRedo()) {
    editor.Undo->Redo();
    ASSERT_EQ(Difference(editor.CurrentDescription(), DescribeDocument(*doc)), QStringList())
        << "redone to " << editor.Undo->CurrentIndex();
  }
  EXPECT_EQ(editor.Undo->CurrentIndex(), steps);
  EXPECT_EQ(Difference(last, DescribeDocument(*doc)), QStringList());
}
