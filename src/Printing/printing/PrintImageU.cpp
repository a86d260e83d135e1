#include "Printing/printing/PrintImageU.h"

#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/Printer.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

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

// Half the size, every other pixel of every other row, no filtering.
QImage Halve(const QImage& AImage) {
  const QImage src = AImage.convertToFormat(QImage::Format_RGB888);
  QImage half(std::max(1, src.width() / 2), std::max(1, src.height() / 2), QImage::Format_RGB888);
  for (int i = 0; i < half.height(); ++i) {
    const uchar* s = src.constScanLine(std::min(2 * i, src.height() - 1));
    uchar* d = half.scanLine(i);
    for (int j = 0; j < half.width(); ++j) {
      const int k = std::min(2 * j, src.width() - 1);
      d[3 * j] = s[3 * k];
      d[3 * j + 1] = s[3 * k + 1];
      d[3 * j + 2] = s[3 * k + 2];
    }
  }
  return half;
}

// Lanczos-3 resampling of a 24-bit picture, one direction at a time.
// (A private copy until the shared image layer provides it.)
struct TContribution {
  int First = 0;
  std::vector<float> Weights;
};

double Lanczos3(double X) {
  X = std::fabs(X);
  if (X < 1e-9) return 1.0;
  if (X >= 3.0) return 0.0;
  const double px = M_PI * X;
  return 3.0 * std::sin(px) * std::sin(px / 3.0) / (px * px);
}

std::vector<TContribution> Contributions(int ASrc, int ADst) {
  std::vector<TContribution> result(static_cast<size_t>(ADst));
  const double scale = static_cast<double>(ADst) / ASrc;
  const double stretch = scale < 1.0 ? 1.0 / scale : 1.0;  // the filter widens when shrinking
  const double support = 3.0 * stretch;
  for (int i = 0; i < ADst; ++i) {
    const double centre = (i + 0.5) / scale;
    const int first = static_cast<int>(std::floor(centre - support));
    const int last = static_cast<int>(std::ceil(centre + support));
    TContribution& c = result[static_cast<size_t>(i)];
    c.First = std::max(0, first);
    const int lastIn = std::min(ASrc - 1, last);
    c.Weights.assign(static_cast<size_t>(std::max(0, lastIn - c.First + 1)), 0.0f);
    double sum = 0;
    for (int j = first; j <= last; ++j) {
      const double w = Lanczos3((j + 0.5 - centre) / stretch);
      const int k = std::clamp(j, 0, ASrc - 1);  // the edge pixels repeat
      if (k - c.First >= 0 && k - c.First < static_cast<int>(c.Weights.size()))
        c.Weights[static_cast<size_t>(k - c.First)] += static_cast<float>(w);
      sum += w;
    }
    if (sum != 0)
      for (float& w : c.Weights) w = static_cast<float>(w / sum);
  }
  return result;
}

uchar ToByte(float V) { return static_cast<uchar>(std::clamp(std::lround(V), 0L, 255L)); }

QImage ResampleLanczos3(const QImage& AImage, int AWidth, int AHeight) {
  const QImage src = AImage.convertToFormat(QImage::Format_RGB888);
  const int sw = src.width(), sh = src.height();
  const std::vector<TContribution> across = Contributions(sw, AWidth);
  const std::vector<TContribution> down = Contributions(sh, AHeight);
  QImage mid(AWidth, sh, QImage::Format_RGB888);
  for (int y = 0; y < sh; ++y) {
    const uchar* s = src.constScanLine(y);
    uchar* d = mid.scanLine(y);
    for (int x = 0; x < AWidth; ++x) {
      const TContribution& c = across[static_cast<size_t>(x)];
      float r = 0, g = 0, b = 0;
      for (size_t k = 0; k < c.Weights.size(); ++k) {
        const uchar* p = s + 3 * (c.First + static_cast<int>(k));
        r += c.Weights[k] * p[0];
        g += c.Weights[k] * p[1];
        b += c.Weights[k] * p[2];
      }
      d[3 * x] = ToByte(r);
      d[3 * x + 1] = ToByte(g);
      d[3 * x + 2] = ToByte(b);
    }
  }
  QImage out(AWidth, AHeight, QImage::Format_RGB888);
  std::vector<float> acc(static_cast<size_t>(AWidth) * 3);
  for (int y = 0; y < AHeight; ++y) {
    const TContribution& c = down[static_cast<size_t>(y)];
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (size_t k = 0; k < c.Weights.size(); ++k) {
      const uchar* s = mid.constScanLine(c.First + static_cast<int>(k));
      const float w = c.Weights[k];
      for (int i = 0; i < AWidth * 3; ++i) acc[static_cast<size_t>(i)] += w * s[i];
    }
    uchar* d = out.scanLine(y);
    for (int i = 0; i < AWidth * 3; ++i) d[i] = ToByte(acc[static_cast<size_t>(i)]);
  }
  return out;
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
    if (bitmap.width() > 2 * target.width() && bitmap.height() > 2 * target.height()) bitmap = Halve(bitmap);
    bitmap = ResampleLanczos3(bitmap, target.width(), target.height());
  }
  PrtCanvas->drawImage(v.Dest.topLeft(), bitmap);
}
