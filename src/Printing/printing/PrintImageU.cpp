#include "Printing/printing/PrintImageU.h"

#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/Printer.h"
#include "platform/images/Images.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

// Truncates towards zero into the range of int.
int TruncClamped(double V) {
  if (std::isnan(V)) return 0;
  if (V <= static_cast<double>(INT_MIN)) return INT_MIN;
  if (V >= static_cast<double>(INT_MAX)) return INT_MAX;
  return static_cast<int>(std::trunc(V));
}

// The part of a bw x bh bitmap that falls on a pw x ph page when drawn into
// (x, y, w, h), and where it goes.
struct TVisiblePart {
  int SrcLeft = 0, SrcTop = 0, SrcRight = 0, SrcBottom = 0;
  QRect Dest;
  bool Cropped = false;
  bool Empty() const { return SrcRight <= SrcLeft || SrcBottom <= SrcTop || Dest.isEmpty(); }
};

TVisiblePart VisiblePart(int bw, int bh, int pw, int ph, int x, int y, int w, int h) {
  TVisiblePart v;
  if (w <= 0 || h <= 0 || bw <= 0 || bh <= 0) return v;
  const qint64 right = qint64(x) + w, bottom = qint64(y) + h;
  qint64 dl = x, dt = y, dr = right, db = bottom;
  v.SrcRight = bw;
  v.SrcBottom = bh;
  if (x < 0) {
    v.SrcLeft = TruncClamped(-static_cast<double>(x) / w * bw);
    dl = 0;
    v.Cropped = true;
  }
  if (right > pw) {
    v.SrcRight = TruncClamped((static_cast<double>(pw) - x) / w * bw);
    dr = pw;
    v.Cropped = true;
  }
  if (y < 0) {
    v.SrcTop = TruncClamped(-static_cast<double>(y) / h * bh);
    dt = 0;
    v.Cropped = true;
  }
  if (bottom > ph) {
    v.SrcBottom = TruncClamped((static_cast<double>(ph) - y) / h * bh);
    db = ph;
    v.Cropped = true;
  }
  if (dr > dl && db > dt) v.Dest = QRect(int(dl), int(dt), int(dr - dl), int(db - dt));
  return v;
}

const QString kAssertionFailure = QStringLiteral("Assertion failure");

}  // namespace

TPrintImageHandler::TPrintImageHandler() = default;

TPrintImageHandler::~TPrintImageHandler() = default;

void TPrintImageHandler::SetPrinterScaling(int Value) { FPrinterScaling = std::clamp(Value, 1, 8); }

void TPrintImageHandler::BeforePrint(QWidget* AOwner) {
  AbortDialogFree(FAbortDialog);
  FAbortDialog = AbortDialogCreate(AOwner);
  FBlockCount = 0;
  BandedPrinter.SetScaleOnPrinter(UseWinscale);
  BandedPrinter.SetDDBMode(UseDDB);
}

void TPrintImageHandler::AfterPrint() { AbortDialogFree(FAbortDialog); }

std::function<void(bool&, const QImage&, QPainter*, const TPrinterSettings&, int, int, int, int)>
TPrintImageHandler::Handler() {
  return [this](bool& AHandled, const QImage& ABitmap, QPainter* PrtCanvas, const TPrinterSettings& APrinterSettings,
                int x, int y, int Width, int Height) {
    OnPrintImage(AHandled, ABitmap, PrtCanvas, APrinterSettings, x, y, Width, Height);
  };
}

bool TPrintImageHandler::Progress(int ATile, int ATiles) {
  Q_UNUSED(ATile);
  Q_UNUSED(ATiles);
  ++FBlockCount;
  if (!FAbortDialog) return true;
  AbortDialogSetText(FAbortDialog.get(), QStringLiteral("Printing Block ") + QString::number(FBlockCount));
  return !AbortDialogCancelled(FAbortDialog.get());
}

void TPrintImageHandler::OnPrintImage(bool& AHandled, const QImage& ABitmap, QPainter* PrtCanvas,
                                      const TPrinterSettings& APrinterSettings, int x, int y, int Width, int Height) {
  // The page size comes from the printer itself, not from the record.
  Q_UNUSED(APrinterSettings);
  if (UseCanvasDraw) {
    CanvasDraw(AHandled, ABitmap, PrtCanvas, x, y, Width, Height);
    return;
  }
  AHandled = true;
  const int bw = ABitmap.width(), bh = ABitmap.height();
  const int pw = Printer().PageWidth(), ph = Printer().PageHeight();
  if (VisiblePart(bw, bh, pw, ph, x, y, Width, Height).Empty()) return;
  if (UseWinscale) BandedPrinter.SetScaleOnPrinter(Width > bw);  // only enlarged pictures
  if (!PrintBanded(ABitmap, PrtCanvas, x, y, Width, Height)) CanvasDraw(AHandled, ABitmap, PrtCanvas, x, y, Width, Height);
  if (DebugOutline && PrtCanvas) {
    PrtCanvas->save();
    PrtCanvas->setPen(QPen(Qt::black, 2, Qt::SolidLine));
    PrtCanvas->setBrush(Qt::NoBrush);
    PrtCanvas->drawRect(x, y, Width, Height);
    PrtCanvas->restore();
  }
}

bool TPrintImageHandler::PrintBanded(const QImage& ABitmap, QPainter* PrtCanvas, int x, int y, int Width,
                                     int Height) {
  int result = brNothing;
  {
    TDib dib;
    if (!ConvertGraphic || !ConvertGraphic(ABitmap, dib)) return false;
    const int f = Width > dib.Width ? FPrinterScaling : 1;
    BandedPrinter.SetScaleFactors(f, f);
    int clipWidth = 0, clipHeight = 0;
    if (!PrinterPageInfo(clipWidth, clipHeight)) throw EAssertionFailed(kAssertionFailure);
    TPrintDIBRequest request;
    request.Canvas = PrtCanvas;
    request.Dest = {x, y, Width, Height};
    request.Src = {0, 0, dib.Width, static_cast<int>(std::min<qint64>(std::abs(qint64(dib.Height)), INT_MAX))};
    request.Info = dib.Info;
    request.Bits = dib.Bits;
    request.Clip = {0, 0, clipWidth, clipHeight};
    request.Progress = [this](int ATile, int ATiles) { return Progress(ATile, ATiles); };
    try {
      result = BandedPrinter.PrintDIBRect(request);
    } catch (...) {
      throw EAssertionFailed(kAssertionFailure);
    }
    switch (result) {
      case brBadParameter: Dialogs::ShowMessage(QStringLiteral("BAD_PARAMETER")); break;
      case brOutOfMemory: Dialogs::ShowMessage(QStringLiteral("MEMORY_ALLOC_FAILED")); break;
      case brReadFailed: Dialogs::ShowMessage(QStringLiteral("MEMORY_READ_FAILED")); break;
      default: break;
    }
  }  // the DIB is freed here
  if (FAbortDialog && AbortDialogCancelled(FAbortDialog.get())) throw EAbort();
  return result >= 0;
}

void TPrintImageHandler::CanvasDraw(bool& AHandled, const QImage& ABitmap, QPainter* PrtCanvas, int x, int y,
                                    int Width, int Height) {
  AHandled = true;
  if (!PrtCanvas) return;
  const int pw = Printer().PageWidth(), ph = Printer().PageHeight();
  const TVisiblePart v = VisiblePart(ABitmap.width(), ABitmap.height(), pw, ph, x, y, Width, Height);
  if (v.Empty()) return;
  // The item keeps its bitmap: work on a copy of the visible part.
  QImage bitmap = v.Cropped
                      ? ABitmap.copy(v.SrcLeft, v.SrcTop, v.SrcRight - v.SrcLeft, v.SrcBottom - v.SrcTop)
                      : ABitmap;
  if (bitmap.isNull()) return;
  const QSize target = v.Dest.size();
  if (bitmap.size() != target) {
    // Much larger pictures are halved first, without filtering.
    if (bitmap.width() > 2 * target.width() && bitmap.height() > 2 * target.height())
      bitmap = Images::Resample(bitmap, bitmap.width() / 2, bitmap.height() / 2, Images::TResampleFilter::None);
    bitmap = Images::Resample(bitmap, target.width(), target.height(), Images::TResampleFilter::Lanczos3);
  }
  PrtCanvas->drawImage(v.Dest.topLeft(), bitmap);
}
