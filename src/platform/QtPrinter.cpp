#include "platform/QtPrinter.h"

#include "platform/Exceptions.h"

#include <QDir>
#include <QPageLayout>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QStandardPaths>

#include <cmath>

TQtPrinter::TQtPrinter() : FPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
  QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  if (docs.isEmpty() || !QDir(docs).exists()) docs = QDir::homePath();
  FPdfFileName = docs + QStringLiteral("/Tavora.pdf");
  FQueues = QPrinterInfo::availablePrinterNames();
  FDefaultQueue = QPrinterInfo::defaultPrinterName();
  DoSetPrinterIndex(DefaultPrinterIndex());
}

TQtPrinter::~TQtPrinter() {
  if (FPainter && FPainter->isActive()) {
    FPrinter->abort();
    FPainter->end();
  }
}

QString TQtPrinter::PdfPrinterName() { return QStringLiteral("PDF file"); }

QStringList TQtPrinter::Printers() const { return FQueues + QStringList{PdfPrinterName()}; }

int TQtPrinter::DefaultPrinterIndex() const {
  const int i = static_cast<int>(FQueues.indexOf(FDefaultQueue));
  if (!FDefaultQueue.isEmpty() && i >= 0) return i;
  return FQueues.isEmpty() ? 0 : static_cast<int>(FQueues.size());  // no default queue: the PDF file
}

void TQtPrinter::RefreshPrinters() {
  const QString current = Printers().value(FIndex);
  FQueues = QPrinterInfo::availablePrinterNames();
  FDefaultQueue = QPrinterInfo::defaultPrinterName();
  const int i = static_cast<int>(Printers().indexOf(current));
  DoSetPrinterIndex(i >= 0 ? i : DefaultPrinterIndex());
}

void TQtPrinter::SetPdfFileName(const QString& Value) {
  FPdfFileName = Value;
  if (IsPdf()) FPrinter->setOutputFileName(FPdfFileName);
}

void TQtPrinter::DoSetPrinterIndex(int Value) {
  FIndex = Value;
  if (IsPdf()) {
    FPrinter->setPrinterName(QString());
    FPrinter->setOutputFormat(QPrinter::PdfFormat);
    FPrinter->setOutputFileName(FPdfFileName);
    FPrinter->setResolution(PdfResolution);
    // A file has no unprintable strips: the document's margins rule.
    FPrinter->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  } else {
    FPrinter->setOutputFormat(QPrinter::NativeFormat);
    FPrinter->setOutputFileName(QString());
    FPrinter->setPrinterName(FQueues.at(FIndex));
  }
  SyncDeviceMode();
}

void TQtPrinter::SyncDeviceMode() {
  const QPageLayout layout = FPrinter->pageLayout();
  const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
  FDevMode.Fields = TDeviceMode::AllFields;
  FDevMode.Orientation = layout.orientation() == QPageLayout::Landscape ? poLandscape : poPortrait;
  FDevMode.PaperSize = PageSizeToPaperCode(layout.pageSize());
  FDevMode.PaperWidth = static_cast<int>(std::lround(mm.width() * 10));
  FDevMode.PaperLength = static_cast<int>(std::lround(mm.height() * 10));
  FDevMode.Copies = FPrinter->copyCount();
  FDevMode.PrintQuality = FPrinter->resolution();
  FDevMode.YResolution = FPrinter->resolution();
  FDevMode.Color = FPrinter->colorMode() == QPrinter::Color ? 2 : 1;
  switch (FPrinter->duplex()) {
    case QPrinter::DuplexLongSide: FDevMode.Duplex = 2; break;
    case QPrinter::DuplexShortSide: FDevMode.Duplex = 3; break;
    default: FDevMode.Duplex = 1; break;
  }
}

void TQtPrinter::GetPrinter(QString& ADevice, QString& ADriver, QString& APort, TDeviceMode*& ADeviceMode) {
  SyncDeviceMode();
  ADevice = Printers().value(FIndex);
  ADriver = IsPdf() ? QStringLiteral("PDF") : QStringLiteral("CUPS");
  APort = IsPdf() ? FPdfFileName : ADevice;
  ADeviceMode = &FDevMode;
}

void TQtPrinter::SetPrinter(const QString& ADevice, const QString& ADriver, const QString& APort,
                            const TDeviceMode* ADeviceMode) {
  Q_UNUSED(ADriver);
  Q_UNUSED(APort);
  const int i = static_cast<int>(Printers().indexOf(ADevice));
  if (i < 0) throw EPrinter(QStringLiteral("Printer selected is not valid"));
  if (i != FIndex) DoSetPrinterIndex(i);
  if (ADeviceMode) {
    TDeviceMode copy = *ADeviceMode;
    UpdateDeviceMode(copy);
  }
}

bool TQtPrinter::UpdateDeviceMode(TDeviceMode& DevMode) {
  bool ok = true;
  if (DevMode.Fields & TDeviceMode::dmPaperSize) {
    const QPageSize::PageSizeId id = PaperCodeToPageSizeId(DevMode.PaperSize);
    if (id != QPageSize::Custom) {
      if (FPrinter->pageLayout().pageSize().id() != id) ok = FPrinter->setPageSize(QPageSize(id)) && ok;
    } else if ((DevMode.Fields & TDeviceMode::dmPaperWidth) && (DevMode.Fields & TDeviceMode::dmPaperLength) &&
               DevMode.PaperWidth > 0 && DevMode.PaperLength > 0) {
      const QSizeF mm(DevMode.PaperWidth / 10.0, DevMode.PaperLength / 10.0);
      if (FPrinter->pageLayout().pageSize().size(QPageSize::Millimeter) != mm)
        ok = FPrinter->setPageSize(QPageSize(mm, QPageSize::Millimeter)) && ok;
    }
  }
  if (DevMode.Fields & TDeviceMode::dmOrientation) SetOrientation(DevMode.Orientation);
  if ((DevMode.Fields & TDeviceMode::dmCopies) && DevMode.Copies > 0) FPrinter->setCopyCount(DevMode.Copies);
  if (DevMode.Fields & TDeviceMode::dmColor)
    FPrinter->setColorMode(DevMode.Color == 1 ? QPrinter::GrayScale : QPrinter::Color);
  if (DevMode.Fields & TDeviceMode::dmDuplex) {
    FPrinter->setDuplex(DevMode.Duplex == 2   ? QPrinter::DuplexLongSide
                        : DevMode.Duplex == 3 ? QPrinter::DuplexShortSide
                                              : QPrinter::DuplexNone);
  }
  // The driver completes the record with what it really uses.
  SyncDeviceMode();
  const unsigned fields = DevMode.Fields;
  DevMode = FDevMode;
  DevMode.Fields = fields;
  return ok;
}

TPrinterOrientation TQtPrinter::Orientation() const {
  return FPrinter->pageLayout().orientation() == QPageLayout::Landscape ? poLandscape : poPortrait;
}

void TQtPrinter::SetOrientation(TPrinterOrientation Value) {
  FPrinter->setPageOrientation(Value == poLandscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  FDevMode.Orientation = Value;
}

int TQtPrinter::GetDeviceCaps(TDeviceCap Cap) const {
  const int res = FPrinter->resolution();
  const QPageLayout layout = FPrinter->pageLayout();
  switch (Cap) {
    case HORZRES: return layout.paintRectPixels(res).width();
    case VERTRES: return layout.paintRectPixels(res).height();
    case PHYSICALWIDTH: return layout.fullRectPixels(res).width();
    case PHYSICALHEIGHT: return layout.fullRectPixels(res).height();
    case PHYSICALOFFSETX: return layout.paintRectPixels(res).left();
    case PHYSICALOFFSETY: return layout.paintRectPixels(res).top();
    case LOGPIXELSX:
    case LOGPIXELSY: return res;
    case RASTERCAPS: return RC_BITMAP64 | RC_DIBTODEV | RC_STRETCHDIB;
  }
  return 0;
}

QPainter* TQtPrinter::DoBeginDoc() {
  FPrinter->setDocName(Title());
  FPrinter->setFullPage(false);
  FPainter = std::make_unique<QPainter>();
  if (!FPainter->begin(FPrinter.get())) {
    FPainter.reset();
    throw EPrinter(QStringLiteral("The printer \"%1\" cannot start the print job.").arg(Printers().value(FIndex)));
  }
  return FPainter.get();
}

void TQtPrinter::DoNewPage() {
  if (!FPrinter->newPage()) throw EPrinter(QStringLiteral("The printer cannot start a new page."));
}

void TQtPrinter::DoEndDoc() {
  if (FPainter) FPainter->end();
  FPainter.reset();
}

void TQtPrinter::DoAbort() {
  FPrinter->abort();
  if (FPainter && FPainter->isActive()) FPainter->end();
  FPainter.reset();
}
