#include "Printing/document/PreviewItemsU.h"

#include "TestSupport.h"

#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

// Every list agrees with every other: items on a page are the document's,
// each item's page lists it, the selection points at something listed.
void ExpectConsistent(TPrintPreview* doc) {
  for (TPagePreview* page : doc->Pages()) {
    ASSERT_EQ(page->PrintPreviewOrNull(), doc);
    for (int i = 0; i < page->Items().Count(); ++i) {
      QObject* item = page->Items()[i];
      EXPECT_TRUE(doc->Items().Contains(item));
      EXPECT_EQ(doc->Items().Previewable(doc->Items().IndexOf(item))->GetPagePreview(), page);
    }
  }
  for (int i = 0; i < doc->Items().Count(); ++i) {
    TPagePreview* page = doc->Items().Previewable(i)->GetPagePreview();
    if (page) {
      EXPECT_TRUE(doc->Pages().Contains(page));
    }
  }
  if (doc->SelectedItem()) {
    EXPECT_TRUE(doc->Items().Contains(doc->SelectedItem()));
  }
  if (doc->SelectedPage()) {
    EXPECT_TRUE(doc->Pages().Contains(doc->SelectedPage()));
  }
}

}  // namespace

// Adding lets the window process its messages after every picture: the
// user's commands run in the middle of the batch.
TEST(Reentrance, CommandsBetweenAdditionsLeaveTheDocumentConsistent) {
  TTestPrinterScope printer;
  QWidget form;
  auto* doc = new TPrintPreview(&form, &form);
  doc->SetName(QStringLiteral("PrintPreview"));
  doc->setGeometry(0, 0, 706, 624);
  doc->SetDisplayPagesHorizontal(2);
  doc->Loaded();
  int changes = 0;
  doc->OnChanged = [&](QObject*, const QString&) { ++changes; };

  int tick = 0;
  int maxLock = 0;
  QTimer commands;
  commands.setInterval(0);
  QObject::connect(&commands, &QTimer::timeout, [&] {
    maxLock = std::max(maxLock, doc->UpdateLock());
    switch (tick++ % 4) {
      case 0: doc->SelectItems(1); break;
      case 1:
        if (doc->PageCount() > 1) doc->DeletePage(doc->Pages()[doc->PageCount() / 2]);
        break;
      case 2: {
        QImage small(50, 40, QImage::Format_RGB888);
        small.fill(Qt::darkGreen);
        doc->AddBitmap(QStringLiteral("from the timer"), small, afKeepSelection);
        break;
      }
      case 3: doc->DeleteSelected(); break;
    }
    ExpectConsistent(doc);
  });
  commands.start();

  QImage picture(300, 200, QImage::Format_RGB888);
  picture.fill(Qt::darkBlue);
  int returned = 0;
  {
    TPrintPreview::TUpdateGuard batch(*doc);
    for (int i = 0; i < 50; ++i) returned += doc->AddBitmap(QStringLiteral("batch %1").arg(i), picture, 0) != nullptr;
  }
  commands.stop();

  EXPECT_GT(tick, 20);        // the commands really ran in between
  EXPECT_GE(maxLock, 1);      // inside the batch
  EXPECT_EQ(doc->UpdateLock(), 0);
  EXPECT_EQ(doc->PendingReflowFrom(), INT_MAX);
  EXPECT_GT(changes, 0);
  EXPECT_LE(returned, 50);
  ExpectConsistent(doc);
  // What survived still lays out and goes away cleanly.
  doc->ReflowFrom(0);
  ExpectConsistent(doc);
  doc->ClearAll();
  EXPECT_EQ(doc->Items().Count(), 0);
}
