#pragma once

#include "platform/Printer.h"

#include <QStringList>

#include <memory>

class QPrinter;

// The printer object over QPrinter: every CUPS queue, and a printer that
// writes a PDF file, listed last. The PDF printer is the default when no
// queue is installed, so that the program prints out of the box.
class TQtPrinter : public TPrinter {
public:
  TQtPrinter();
  ~TQtPrinter() override;

  QStringList Printers() const override;
  void GetPrinter(QString& ADevice, QString& ADriver, QString& APort, TDeviceMode*& ADeviceMode) override;
  void SetPrinter(const QString& ADevice, const QString& ADriver, const QString& APort,
                  const TDeviceMode* ADeviceMode) override;
  bool UpdateDeviceMode(TDeviceMode& DevMode) override;
  TPrinterOrientation Orientation() const override;
  void SetOrientation(TPrinterOrientation Value) override;
  int GetDeviceCaps(TDeviceCap Cap) const override;

  // The underlying printer, for QPrintDialog and QPageSetupDialog.
  QPrinter& QtPrinter() { return *FPrinter; }

  // Reads the list of queues again (keeps the selected printer when it is
  // still there).
  void RefreshPrinters();

  // The PDF printer's name in the list, its output file and resolution.
  static QString PdfPrinterName();
  QString PdfFileName() const { return FPdfFileName; }
  void SetPdfFileName(const QString& Value);
  static constexpr int PdfResolution = 600;

protected:
  int DoGetPrinterIndex() const override { return FIndex; }
  void DoSetPrinterIndex(int Value) override;
  int DefaultPrinterIndex() const override;
  QPainter* DoBeginDoc() override;
  void DoNewPage() override;
  void DoEndDoc() override;
  void DoAbort() override;

private:
  bool IsPdf() const { return FIndex == static_cast<int>(FQueues.size()); }
  void SyncDeviceMode();

  QStringList FQueues;
  QString FDefaultQueue;
  int FIndex = 0;
  std::unique_ptr<QPrinter> FPrinter;
  std::unique_ptr<QPainter> FPainter;
  TDeviceMode FDevMode;
  QString FPdfFileName;
};
