#pragma once

#include "platform/Printer.h"

#include <QImage>
#include <QList>
#include <QPicture>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// One printer of the list. Metrics are those of portrait orientation; in
// landscape the printer reports them turned (widths and heights, the two
// offsets and the two resolutions exchanged), as printer drivers do.
struct TTestPrinterInfo {
  QString Name = QStringLiteral("Test Printer");
  QString Driver = QStringLiteral("TEST");
  QString Port = QStringLiteral("test:");
  int PaperCode = 9;  // A4
  TPrinterOrientation Orientation = poPortrait;
  int DpiX = 300;
  int DpiY = 300;
  int PaperWidthPx = 2480;  // A4 at 300 dpi
  int PaperHeightPx = 3508;
  int OffsetLeftPx = 50;
  int OffsetTopPx = 60;
  int PrintableWidthPx = 2380;
  int PrintableHeightPx = 3368;
  int RasterCaps = RC_BITMAP64 | RC_DIBTODEV | RC_STRETCHDIB;
  // Faults a real driver may show.
  int MissingDeviceModeCalls = 0;  // GetPrinter answers no device settings this many times
  bool NoDeviceMode = false;       // never answers device settings
  bool RejectsDeviceMode = false;  // UpdateDeviceMode fails
  bool FailsBeginDoc = false;
  // The next this many DIB stretches (-1: all) draw nothing and report a
  // wrong number of scan lines.
  int WrongStretchLineCalls = 0;
  bool FailsDDB = false;  // device-dependent bitmap transfers fail
};

// A printer object with settable metrics that records what is printed:
// every job with its title and its pages, each page as a QPicture that can
// be rendered again. For tests, and for trying print layouts without paper.
class TTestPrinter : public TPrinter {
public:
  using TInfo = TTestPrinterInfo;

  struct TJob {
    QString Title;
    QString PrinterName;
    QList<QPicture> Pages;
    bool Ended = false;
    bool Aborted = false;
  };

  // One bitmap transfer of the banded picture output, as the printer saw it.
  struct TBitmapCall {
    enum TKind { bkStretchDIB, bkDDB };
    TKind Kind = bkStretchDIB;
    QRect Dest;
    QImage Bits;
    int Lines = 0;   // DIB stretch: the scan lines reported
    bool Ok = true;  // drawn
  };

  explicit TTestPrinter(const QList<TInfo>& APrinters = {TInfo()});
  ~TTestPrinter() override;

  // Installs a new test printer as the program's printer and answers it.
  static TTestPrinter& Install(const QList<TInfo>& APrinters = {TInfo()});

  TInfo& Info(int Index);
  TInfo& Current() { return Info(PrinterIndex()); }
  int DefaultIndex = 0;

  const std::vector<TJob>& Jobs() const { return FJobs; }
  // Renders a recorded page onto white, the size of the printable area
  // times Scale.
  QImage RenderPage(int Job, int Page, double Scale = 1.0) const;
  int UpdateDeviceModeCalls() const { return FUpdateCalls; }
  const std::vector<TBitmapCall>& BitmapCalls() const { return FBitmapCalls; }
  void ClearBitmapCalls() { FBitmapCalls.clear(); }
  // Called after every bitmap transfer (tests press Cancel from here).
  std::function<void(const TBitmapCall&)> OnBitmapCall;

  QStringList Printers() const override;
  void GetPrinter(QString& ADevice, QString& ADriver, QString& APort, TDeviceMode*& ADeviceMode) override;
  void SetPrinter(const QString& ADevice, const QString& ADriver, const QString& APort,
                  const TDeviceMode* ADeviceMode) override;
  bool UpdateDeviceMode(TDeviceMode& DevMode) override;
  TPrinterOrientation Orientation() const override;
  void SetOrientation(TPrinterOrientation Value) override;
  int GetDeviceCaps(TDeviceCap Cap) const override;
  int StretchDIBits(QPainter* ACanvas, const QRect& Dest, const QImage& Bits) override;
  bool DrawDDB(QPainter* ACanvas, const QRect& Dest, const QImage& Bits) override;

protected:
  int DoGetPrinterIndex() const override { return FIndex; }
  void DoSetPrinterIndex(int Value) override;
  int DefaultPrinterIndex() const override { return DefaultIndex; }
  QPainter* DoBeginDoc() override;
  void DoNewPage() override;
  void DoEndDoc() override;
  void DoAbort() override;

private:
  void FillDeviceMode();
  void EndPage();

  QList<TInfo> FPrinters;
  int FIndex = 0;
  TDeviceMode FDevMode;
  std::vector<TJob> FJobs;
  std::unique_ptr<QPicture> FPage;
  std::unique_ptr<QPainter> FPainter;
  int FUpdateCalls = 0;
  std::vector<TBitmapCall> FBitmapCalls;
};
