#pragma once

// The small window that stays on screen while a document prints: the picture
// output writes its progress into the caption and asks it between blocks
// whether Cancel was pressed. It never blocks: it is shown modelessly, and
// whoever asks it pumps its pending messages.

#include <QDialog>
#include <QString>

#include <memory>

class QPushButton;

class TAbortDialog : public QDialog {
  Q_OBJECT
public:
  explicit TAbortDialog(QWidget* AOwner = nullptr);
  ~TAbortDialog() override;

  QPushButton* btnCancel = nullptr;
  bool Cancelled() const { return FCancelled; }

public Q_SLOTS:
  // Escape and the window manager's close do not hide the dialog: only the
  // Cancel button stops a print run.
  void reject() override {}

protected:
  void closeEvent(QCloseEvent* Event) override;

private:
  void btnCancelClick();
  bool FCancelled = false;
};

// Creates the dialog owned by AOwner (free it before its owner goes), shows
// it and pumps its pending messages once. Answers nothing when any of this fails; the print run then
// goes on without progress display.
std::unique_ptr<TAbortDialog> AbortDialogCreate(QWidget* AOwner);
// The text becomes the dialog's caption, then its messages are pumped.
// Failures are ignored; a missing dialog is ignored.
void AbortDialogSetText(TAbortDialog* ADialog, const QString& AText);
// Pumps the dialog's pending messages and answers whether Cancel was
// pressed; false without a dialog or when asking fails.
bool AbortDialogCancelled(TAbortDialog* ADialog);
// Frees the dialog; failures are ignored.
void AbortDialogFree(std::unique_ptr<TAbortDialog>& ADialog);
