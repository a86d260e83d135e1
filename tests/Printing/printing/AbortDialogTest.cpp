#include "Printing/printing/AbortDialogU.h"

#include "TestSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

// A click as the window system delivers it: queued, seen only when someone
// pumps the messages.
void PostClick(QWidget* W) {
  const QPointF at(W->width() / 2.0, W->height() / 2.0);
  QCoreApplication::postEvent(W, new QMouseEvent(QEvent::MouseButtonPress, at, W->mapToGlobal(at), Qt::LeftButton,
                                                 Qt::LeftButton, Qt::NoModifier));
  QCoreApplication::postEvent(W, new QMouseEvent(QEvent::MouseButtonRelease, at, W->mapToGlobal(at),
                                                 Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
}

}  // namespace

TEST(TAbortDialog, IsASmallModelessOnTopWindowWithOneDefaultCancelButton) {
  auto dialog = AbortDialogCreate(nullptr);
  ASSERT_TRUE(dialog);
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(dialog->isModal());
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Printing"));
  EXPECT_EQ(dialog->size(), QSize(174, 98));
  const Qt::WindowFlags flags = dialog->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  ASSERT_TRUE(dialog->btnCancel);
  EXPECT_EQ(dialog->btnCancel->text(), QStringLiteral("&Cancel"));
  EXPECT_EQ(dialog->btnCancel->geometry(), QRect(48, 32, 75, 25));
  EXPECT_TRUE(dialog->btnCancel->isDefault());
  EXPECT_FALSE(dialog->Cancelled());
  // It renders (the picture lands in the test run's temporary home).
  dialog->grab().save(QString::fromLocal8Bit(qgetenv("TAVORA_HOME")) + QStringLiteral("/abort-dialog.png"));
  AbortDialogFree(dialog);
  EXPECT_FALSE(dialog);
}

TEST(TAbortDialog, ACancelClickIsSeenWhenTheDialogIsAskedAndStaysSet) {
  auto dialog = AbortDialogCreate(nullptr);
  ASSERT_TRUE(dialog);
  PostClick(dialog->btnCancel);
  EXPECT_FALSE(dialog->Cancelled());          // nobody pumped yet
  EXPECT_TRUE(AbortDialogCancelled(dialog.get()));  // asking pumps the click through
  PostClick(dialog->btnCancel);
  EXPECT_TRUE(AbortDialogCancelled(dialog.get()));
  EXPECT_TRUE(dialog->isVisible());  // pressing Cancel does nothing else
}

TEST(TAbortDialog, EscapeAndCloseNeitherHideNorCancel) {
  auto dialog = AbortDialogCreate(nullptr);
  ASSERT_TRUE(dialog);
  dialog->reject();
  dialog->close();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_FALSE(AbortDialogCancelled(dialog.get()));
}

TEST(TAbortDialog, SetTextBecomesTheCaption) {
  auto dialog = AbortDialogCreate(nullptr);
  ASSERT_TRUE(dialog);
  AbortDialogSetText(dialog.get(), QStringLiteral("Printing Block 7"));
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Printing Block 7"));
}

TEST(TAbortDialog, OperationsWithoutADialogDoNothing) {
  std::unique_ptr<TAbortDialog> none;
  AbortDialogSetText(none.get(), QStringLiteral("x"));
  EXPECT_FALSE(AbortDialogCancelled(none.get()));
  AbortDialogFree(none);
  EXPECT_FALSE(none);
}
