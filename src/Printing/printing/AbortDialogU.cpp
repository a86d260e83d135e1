#include "Printing/printing/AbortDialogU.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

namespace {

// Dispatches whatever is waiting (input to the dialog among it) without
// waiting for anything new.
void PumpMessages(TAbortDialog* ADialog) {
  QCoreApplication::sendPostedEvents(ADialog);
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

}  // namespace

TAbortDialog::TAbortDialog(QWidget* AOwner)
    : QDialog(AOwner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowStaysOnTopHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("AbortDialog"));
  setWindowTitle(QStringLiteral("Printing"));
  setModal(false);
  setFixedSize(174, 98);
  btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(48, 32, 75, 25);
  btnCancel->setDefault(true);
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

TAbortDialog::~TAbortDialog() = default;

void TAbortDialog::closeEvent(QCloseEvent* Event) { Event->ignore(); }

void TAbortDialog::btnCancelClick() { FCancelled = true; }

std::unique_ptr<TAbortDialog> AbortDialogCreate(QWidget* AOwner) {
  try {
    auto dialog = std::make_unique<TAbortDialog>(AOwner);
    dialog->show();
    PumpMessages(dialog.get());
    return dialog;
  } catch (...) {
    return nullptr;
  }
}

void AbortDialogSetText(TAbortDialog* ADialog, const QString& AText) {
  if (!ADialog) return;
  try {
    ADialog->setWindowTitle(AText);
    PumpMessages(ADialog);
  } catch (...) {
  }
}

bool AbortDialogCancelled(TAbortDialog* ADialog) {
  if (!ADialog) return false;
  try {
    PumpMessages(ADialog);
    return ADialog->Cancelled();
  } catch (...) {
    return false;
  }
}

void AbortDialogFree(std::unique_ptr<TAbortDialog>& ADialog) {
  try {
    ADialog.reset();
  } catch (...) {
  }
}
