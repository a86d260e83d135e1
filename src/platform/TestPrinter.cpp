#include "platform/TestPrinter.h"

#include "platform/Exceptions.h"

#include <QPainter>

#include <utility>

TTestPrinter::TTestPrinter(const QList<TInfo>& APrinters) : FPrinters(APrinters) {
  if (FPrinters.isEmpty()) FPrinters.append(TInfo());
  DoSetPrinterIndex(0);
}

TTestPrinter::~TTestPrinter() = default;

TTestPrinter& TTestPrinter::Install(const QList<TInfo>& APrinters) {
  auto printer = std::make_unique<TTestPrinter>(APrinters);
  TTestPrinter& result = *printer;
  ::SetPrinter(std::move(printer));
  return result;
}

TTestPrinter::TInfo& TTestPrinter::Info(int Index) { return FPrinters[Index]; }

QStringList TTestPrinter::Printers() const {
  QStringList names;
  for (const TInfo& p : FPrinters) names << p.Name;
  return names;
}

void TTestPrinter::DoSetPrinterIndex(int Value) {
  FIndex = Value;
  FillDeviceMode();
}

void TTestPrinter::FillDeviceMode() {
  const TInfo& p = FPrinters[FIndex];
  FDevMode = TDeviceMode();
  FDevMode.Fields = TDeviceMode::AllFields;
  FDevMode.Orientation = p.Orientation;
  FDevMode.PaperSize = p.PaperCode;
  FDevMode.PaperWidth = p.DpiX > 0 ? p.PaperWidthPx * 254 / p.DpiX : 0;
  FDevMode.PaperLength = p.DpiY > 0 ? p.PaperHeightPx * 254 / p.DpiY : 0;
  FDevMode.PrintQuality = p.DpiX;
  FDevMode.YResolution = p.DpiY;
}

void TTestPrinter::GetPrinter(QString& ADevice, QString& ADriver, QString& APort, TDeviceMode*& ADeviceMode) {
  TInfo& p = FPrinters[FIndex];
  ADevice = p.Name;
  ADriver = p.Driver;
  APort = p.Port;
  if (p.NoDeviceMode || p.MissingDeviceModeCalls > 0) {
    if (p.MissingDeviceModeCalls > 0) --p.MissingDeviceModeCalls;
    ADeviceMode = nullptr;
    return;
  }
  ADeviceMode = &FDevMode;
}

void TTestPrinter::SetPrinter(const QString& ADevice, const QString& ADriver, const QString& APort,
                              const TDeviceMode* ADeviceMode) {
  Q_UNUSED(ADriver);
  Q_UNUSED(APort);
  const int i = static_cast<int>(Printers().indexOf(ADevice));
  if (i < 0) throw EPrinter(QStringLiteral("Printer selected is not valid"));
  if (i != FIndex) DoSetPrinterIndex(i);
  if (ADeviceMode && ADeviceMode != &FDevMode) {
    TDeviceMode copy = *ADeviceMode;
    UpdateDeviceMode(copy);
  }
}

bool TTestPrinter::UpdateDeviceMode(TDeviceMode& DevMode) {
  ++FUpdateCalls;
  TInfo& p = FPrinters[FIndex];
  if (p.RejectsDeviceMode) return false;
  if (DevMode.Fields & TDeviceMode::dmOrientation) p.Orientation = DevMode.Orientation;
  if ((DevMode.Fields & TDeviceMode::dmPaperSize) && DevMode.PaperSize > 0) p.PaperCode = DevMode.PaperSize;
  const unsigned fields = DevMode.Fields;
  const TDeviceMode wanted = DevMode;
  FillDeviceMode();
  DevMode = FDevMode;
  DevMode.Fields = fields;
  DevMode.Copies = wanted.Copies;
  DevMode.Color = wanted.Color;
  DevMode.Duplex = wanted.Duplex;
  return true;
}

TPrinterOrientation TTestPrinter::Orientation() const { return FPrinters[FIndex].Orientation; }

void TTestPrinter::SetOrientation(TPrinterOrientation Value) {
  FPrinters[FIndex].Orientation = Value;
  FDevMode.Orientation = Value;
}

int TTestPrinter::GetDeviceCaps(TDeviceCap Cap) const {
  const TInfo& p = FPrinters[FIndex];
  const bool turned = p.Orientation == poLandscape;
  auto pick = [turned](int portrait, int landscape) { return turned ? landscape : portrait; };
  switch (Cap) {
    case HORZRES: return pick(p.PrintableWidthPx, p.PrintableHeightPx);
    case VERTRES: return pick(p.PrintableHeightPx, p.PrintableWidthPx);
    case PHYSICALWIDTH: return pick(p.PaperWidthPx, p.PaperHeightPx);
    case PHYSICALHEIGHT: return pick(p.PaperHeightPx, p.PaperWidthPx);
    case PHYSICALOFFSETX: return pick(p.OffsetLeftPx, p.OffsetTopPx);
    case PHYSICALOFFSETY: return pick(p.OffsetTopPx, p.OffsetLeftPx);
    case LOGPIXELSX: return pick(p.DpiX, p.DpiY);
    case LOGPIXELSY: return pick(p.DpiY, p.DpiX);
    case RASTERCAPS: return p.RasterCaps;
  }
  return 0;
}

QPainter* TTestPrinter::DoBeginDoc() {
  const TInfo& p = FPrinters[FIndex];
  if (p.FailsBeginDoc) throw EPrinter(QStringLiteral("The printer \"%1\" cannot start the print job.").arg(p.Name));
  TJob job;
  job.Title = Title();
  job.PrinterName = p.Name;
  FJobs.push_back(job);
  FPage = std::make_unique<QPicture>();
  FPainter = std::make_unique<QPainter>(FPage.get());
  return FPainter.get();
}

void TTestPrinter::EndPage() {
  if (FPainter) FPainter->end();
  FJobs.back().Pages.append(*FPage);
}

void TTestPrinter::DoNewPage() {
  EndPage();
  FPage = std::make_unique<QPicture>();
  FPainter->begin(FPage.get());
}

void TTestPrinter::DoEndDoc() {
  EndPage();
  FJobs.back().Ended = true;
  FPainter.reset();
  FPage.reset();
}

void TTestPrinter::DoAbort() {
  if (FPainter) FPainter->end();
  FJobs.back().Aborted = true;
  FPainter.reset();
  FPage.reset();
}

QImage TTestPrinter::RenderPage(int Job, int Page, double Scale) const {
  const int w = qMax(1, static_cast<int>(GetDeviceCaps(HORZRES) * Scale));
  const int h = qMax(1, static_cast<int>(GetDeviceCaps(VERTRES) * Scale));
  QImage image(w, h, QImage::Format_RGB888);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.scale(Scale, Scale);
  painter.drawPicture(0, 0, FJobs.at(Job).Pages.at(Page));
  painter.end();
  return image;
}

int TTestPrinter::StretchDIBits(QPainter* ACanvas, const QRect& Dest, const QImage& Bits) {
  TInfo& p = FPrinters[FIndex];
  TBitmapCall call;
  call.Kind = TBitmapCall::bkStretchDIB;
  call.Dest = Dest;
  call.Bits = Bits;
  if (p.WrongStretchLineCalls != 0) {
    if (p.WrongStretchLineCalls > 0) --p.WrongStretchLineCalls;
    call.Lines = Bits.height() / 2;  // a driver that took part of the bitmap, or none
    call.Ok = false;
  } else {
    call.Lines = TPrinter::StretchDIBits(ACanvas, Dest, Bits);
    call.Ok = call.Lines > 0;
  }
  FBitmapCalls.push_back(call);
  if (OnBitmapCall) OnBitmapCall(call);
  return call.Lines;
}

bool TTestPrinter::DrawDDB(QPainter* ACanvas, const QRect& Dest, const QImage& Bits) {
  const TInfo& p = FPrinters[FIndex];
  TBitmapCall call;
  call.Kind = TBitmapCall::bkDDB;
  call.Dest = Dest;
  call.Bits = Bits;
  call.Ok = !p.FailsDDB && TPrinter::DrawDDB(ACanvas, Dest, Bits);
  FBitmapCalls.push_back(call);
  if (OnBitmapCall) OnBitmapCall(call);
  return call.Ok;
}
