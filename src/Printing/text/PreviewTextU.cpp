#include "Printing/text/PreviewTextU.h"

#include "Printing/text/krHTMLabel.h"
#include "platform/Exceptions.h"

#include <QApplication>
#include <QPainter>

#include <cmath>

namespace {

QFont DefaultTextFont() {
  QFont font = QApplication::font();
  font.setFamily(QStringLiteral("Arial"));
  return font;
}

}  // namespace

TPreviewText::TPreviewText(QObject* AOwner)
    : TPreviewItem(AOwner), FFont(DefaultTextFont()), FFontProperties(new TFontProperties(&FFont, this)) {
  FFontProperties->OnChange = [this] {
    FFontAssigned = true;
    Invalidate();
    update();
  };
  FKeepAspectRatio = false;
  hide();
}

TPreviewText::TPreviewText(QObject* AOwner, const QString& AText) : TPreviewText(AOwner) {
  SetText(QStringLiteral("<P align=\"center\">") + AText);
}

TPreviewText::~TPreviewText() { BeforeDestruction(); }

void TPreviewText::Invalidate() {
  FCacheValid = false;
  FCache = QImage();
}

void TPreviewText::SetLines(const QStringList& Value) {
  FLines = Value;
  Invalidate();
  update();
}

QString TPreviewText::Text() const { return FLines.join(QStringLiteral("\r\n")); }

void TPreviewText::SetText(const QString& Value) {
  if (Value == Text()) return;
  QString text = Value;
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  FLines = text.split(QLatin1Char('\n'));
  if (Value.isEmpty()) FLines.clear();
  Invalidate();
  update();
}

void TPreviewText::SetFont(const QFont& Value) {
  FFont = Value;
  FFontAssigned = true;
  Invalidate();
  update();
}

void TPreviewText::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  Invalidate();
  update();
}

void TPreviewText::SetTransparentColor(const QColor& Value) {
  if (Value == FTransparentColor) return;
  FTransparentColor = Value;
  Invalidate();
  update();
}

QImage TPreviewText::Render(int W, int H, int Resolution, int QuarterTurns) {
  if (W <= 0 || H <= 0) return QImage();
  // Beyond the limit the text is laid out at a reduced scale: the same
  // picture, fewer pixels.
  double reduce = 1.0;
  const double pixels = static_cast<double>(W) * H;
  if (pixels > MaxRenderPixels) reduce = std::sqrt(MaxRenderPixels / pixels);
  const int w = std::max(1, static_cast<int>(W * reduce));
  const int h = std::max(1, static_cast<int>(H * reduce));
  const bool turned = QuarterTurns % 2 != 0;
  QImage bitmap(turned ? h : w, turned ? w : h, QImage::Format_RGB888);
  if (bitmap.isNull()) return QImage();
  bitmap.fill(Qt::white);
  int dpi = Resolution > 0 ? static_cast<int>(Resolution * reduce) : 0;
  if (dpi > 0) {
    // The font's point size follows the bitmap's resolution.
    const int dotsPerMeter = std::max(1, static_cast<int>(std::lround(dpi / 0.0254)));
    bitmap.setDotsPerMeterX(dotsPerMeter);
    bitmap.setDotsPerMeterY(dotsPerMeter);
  }
  {
    QPainter p(&bitmap);
    p.setFont(QFont(FFont, &bitmap));
    p.setPen(Qt::black);
    DrawMarkup(p, bitmap.rect(), Text());
  }
  if (QuarterTurns % 4 != 0) return RotateBitmap(bitmap, QuarterTurns);
  return bitmap;
}

void TPreviewText::Rotate(int QuarterTurns) {
  TPreviewItem::Rotate(QuarterTurns);
  Invalidate();
}

void TPreviewText::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  TPreviewItem::SetBounds(ALeft, ATop, AWidth, AHeight);
  Invalidate();
}

void TPreviewText::FreeCache(bool All) {
  TPreviewItem::FreeCache(All);
  Invalidate();
}

int TPreviewText::GetMemoryUsed() {
  qint64 bytes = Text().size();
  if (FCacheValid && !FCache.isNull()) bytes += 3LL * FCache.width() * FCache.height();
  return static_cast<int>(std::min<qint64>(bytes, INT_MAX));
}

void TPreviewText::PaintContent(QPainter& Canvas) {
  if (!FPagePreview || FPagePreview->isHidden()) return;
  if (!FCacheValid || FCache.isNull()) {
    QImage rendered = Render(width(), height(), Trunc(FScale * 254.0), TotalRotation());
    if (FTransparent) {
      // The transparent colour is left out.
      QImage masked = rendered.convertToFormat(QImage::Format_ARGB32);
      const QRgb key = FTransparentColor.rgb() & 0xFFFFFF;
      for (int y = 0; y < masked.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(masked.scanLine(y));
        for (int x = 0; x < masked.width(); ++x)
          if ((line[x] & 0xFFFFFF) == key) line[x] = 0;
      }
      rendered = masked;
    }
    FCache = rendered;
    FCacheValid = true;
  }
  if (!FCache.isNull()) Canvas.drawImage(rect(), FCache);
  if (!FSelected) {
    Canvas.setBrush(Qt::NoBrush);
    Canvas.setPen(QPen(Qt::black, 2, Qt::DashLine));
    Canvas.drawRect(QRect(1, 1, width() - 2, height() - 2));
  }
}

void TPreviewText::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (OnDblClick) OnDblClick(this);
  TPreviewItem::mouseDoubleClickEvent(Event);
}

bool TPreviewText::PrintTo(QPainter* Canvas, int OffsetX, int OffsetY) {
  TPreviewItem::PrintTo(Canvas, OffsetX, OffsetY);
  TPagePreview* page = FPagePreview;
  if (!page || page->PaperWidth() == 0 || page->PaperLength() == 0) return false;
  const TPrinterSettings& s = page->PrinterSettings;
  if (s.PrintableWidth == 0 || s.PrintableHeight == 0) return false;
  const double fx = static_cast<double>(Printer().PageWidth()) / s.PrintableWidth;
  const double fy = static_cast<double>(Printer().PageHeight()) / s.PrintableHeight;
  const int left = Trunc(FPrintLeft * fx) - OffsetX, right = Trunc(PrintRight() * fx) - OffsetX;
  const int top = Trunc(FPrintTop * fy) - OffsetY, bottom = Trunc(PrintBottom() * fy) - OffsetY;
  const QRect target(left, top, right - left, bottom - top);
  // On paper the white of the box covers what lies below it.
  const QImage bitmap = Render(target.width(), target.height(), Trunc(fx * 254.0), FIntRotation);
  bool handled = false;
  if (OnPrintImage && !bitmap.isNull())
    OnPrintImage(handled, bitmap, Canvas, s, target.x(), target.y(), target.width(), target.height());
  if (!handled && Canvas && !bitmap.isNull()) {
    if (bitmap.size() == target.size())
      Canvas->drawImage(target.topLeft(), bitmap);
    else
      Canvas->drawImage(target, bitmap);
  }
  Invalidate();
  return true;
}
