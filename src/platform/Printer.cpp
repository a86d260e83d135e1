#include "platform/Printer.h"

#include "platform/Exceptions.h"
#include "platform/QtPrinter.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRect>

TPrinter::~TPrinter() = default;

int TPrinter::PrinterIndex() const { return DoGetPrinterIndex(); }

void TPrinter::SetPrinterIndex(int Value) {
  CheckPrinting(false);
  const int count = static_cast<int>(Printers().size());
  if (Value == -1) Value = DefaultPrinterIndex();
  if (Value < 0 || Value >= count) throw EPrinter(QStringLiteral("Printer index out of range"));
  DoSetPrinterIndex(Value);
}

QString TPrinter::PrinterName() {
  QString device, driver, port;
  TDeviceMode* mode = nullptr;
  GetPrinter(device, driver, port, mode);
  return device;
}

void TPrinter::CheckPrinting(bool Value) const {
  if (FPrinting != Value) {
    if (Value)
      throw EPrinter(QStringLiteral("Printer is not currently printing"));
    throw EPrinter(QStringLiteral("Printing in progress"));
  }
}

void TPrinter::BeginDoc() {
  CheckPrinting(false);
  FAborted = false;
  FPageNumber = 1;
  FCanvas = DoBeginDoc();
  FPrinting = true;
}

void TPrinter::NewPage() {
  CheckPrinting(true);
  DoNewPage();
  ++FPageNumber;
}

void TPrinter::EndDoc() {
  CheckPrinting(true);
  FPrinting = false;
  FCanvas = nullptr;
  DoEndDoc();
}

void TPrinter::Abort() {
  CheckPrinting(true);
  FPrinting = false;
  FAborted = true;
  FCanvas = nullptr;
  DoAbort();
}

QPainter* TPrinter::Canvas() {
  CheckPrinting(true);
  return FCanvas;
}

int TPrinter::StretchDIBits(QPainter* ACanvas, const QRect& Dest, const QImage& Bits) {
  if (!ACanvas || !ACanvas->isActive() || Bits.isNull() || Dest.isEmpty()) return 0;
  ACanvas->drawImage(Dest, Bits);
  return Bits.height();
}

bool TPrinter::DrawDDB(QPainter* ACanvas, const QRect& Dest, const QImage& Bits) {
  if (!ACanvas || !ACanvas->isActive() || Bits.isNull() || Dest.isEmpty()) return false;
  const QPixmap bitmap = QPixmap::fromImage(Bits);
  if (bitmap.isNull()) return false;
  if (Dest.size() == bitmap.size())
    ACanvas->drawPixmap(Dest.topLeft(), bitmap);
  else
    ACanvas->drawPixmap(Dest, bitmap);
  return true;
}

namespace {

std::unique_ptr<TPrinter>& CurrentPrinter() {
  static std::unique_ptr<TPrinter> printer;
  return printer;
}

}  // namespace

TPrinter& Printer() {
  auto& p = CurrentPrinter();
  if (!p) p = std::make_unique<TQtPrinter>();
  return *p;
}

std::unique_ptr<TPrinter> SetPrinter(std::unique_ptr<TPrinter> NewPrinter) {
  auto& p = CurrentPrinter();
  std::swap(p, NewPrinter);
  return NewPrinter;
}

// Qt knows the driver paper codes of every standard size it has.
QPageSize::PageSizeId PaperCodeToPageSizeId(int Code) {
  if (Code <= 0) return QPageSize::Custom;
  return QPageSize::id(Code);
}

int PageSizeToPaperCode(const QPageSize& Size) {
  if (!Size.isValid()) return 0;
  const int code = Size.windowsId();
  // Sizes without a code of their own are user defined.
  return code > 0 && code != 256 && PaperCodeToPageSizeId(code) != QPageSize::Custom ? code : 256;
}
