#include "Printing/document/PreviewItemsU.h"

#include "Printing/text/PreviewTextU.h"
#include "Printing/text/krHTMLabel.h"
#include "components/vexDelayU.h"
#include "platform/Exceptions.h"
#include "platform/images/Images.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>

bool DifferInOrientation(double A, double B, bool Strict) {
  auto sign = [](double v) { return (v > 0) - (v < 0); };
  if (Strict && (A == 1.0 || B == 1.0)) return false;
  return sign(A - 1) != sign(B - 1);
}

TPreviewItem::TPreviewItem(QObject* AOwner) : QWidget(nullptr), TComponent(this, AOwner) {
  FPrintPreview = dynamic_cast<TPrintPreview*>(AOwner);
  if (FPrintPreview) FreeNotification(FPrintPreview);
}

TPreviewItem::~TPreviewItem() { BeforeDestruction(); }

void TPreviewItem::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation != opRemove) return;
  if (AComponent == FPagePreview) FPagePreview = nullptr;
  if (AComponent == FPrintPreview) FPrintPreview = nullptr;
  if (AComponent == FAttachedPreviewItem) FAttachedPreviewItem = nullptr;
  if (AComponent == FAttacher) FAttacher = nullptr;
}

void TPreviewItem::SetPrintPreview(TPrintPreview* Value) {
  if (FPrintPreview == Value) return;
  if (FPrintPreview) RemoveFreeNotification(FPrintPreview);
  FPrintPreview = Value;
  if (Value) {
    FreeNotification(Value);
    if (parentWidget() != Value) setParent(Value);
  }
}

void TPreviewItem::SetAttacher(TPreviewItem* Value) {
  if (Value == FAttacher) return;
  if (FAttacher) FAttacher->SetAttachedPreviewItem(nullptr);
  if (Value) Value->SetAttachedPreviewItem(this);
}

void TPreviewItem::SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) {
  SaveOwnRecord(*this, *this, AStream, AsText, SaveParams);
}

void TPreviewItem::WriteAdditionalData(QIODevice&, bool, const QString&) {}

void TPreviewItem::ReadAdditionalData(QIODevice&, const QString&) {}

void TPreviewItem::SetSelected(bool Value) {
  if (Value == FSelected) return;
  FSelected = Value;
  if (isVisible()) update();
}

int TPreviewItem::PageIndex() const {
  if (!FPagePreview || !FPagePreview->PrintPreviewOrNull()) return -1;
  return FPagePreview->PageIndex();
}

void TPreviewItem::SetPageIndex(int Value) {
  if (!FPrintPreview || Value < 0 || Value >= FPrintPreview->PageCount()) return;
  SetPagePreview(FPrintPreview->Pages()[Value]);
}

int TPreviewItem::PrintPreviewIndex() const {
  if (!FPrintPreview) return -1;
  return FPrintPreview->Items().IndexOf(this);
}

void TPreviewItem::SetAttachedPreviewItem(TPreviewItem* Value) {
  if (Value == FAttachedPreviewItem) return;
  // A caption is a text item without a caption of its own, attached to an
  // item that is no text and no caption itself.
  if (Value && (Value == this || Value->FAttachedPreviewItem || FAttacher || !dynamic_cast<TPreviewText*>(Value) ||
                dynamic_cast<TPreviewText*>(this)))
    throw Exception(QStringLiteral("An attached item cannot carry an attached item"));
  if (FAttachedPreviewItem) {
    RemoveFreeNotification(FAttachedPreviewItem);
    FAttachedPreviewItem->FAttacher = nullptr;
  }
  FAttachedPreviewItem = Value;
  if (Value) {
    FAttachedItemOffset = 10;  // the gap every caption keeps
    if (Value->FAttacher && Value->FAttacher != this) Value->FAttacher->SetAttachedPreviewItem(nullptr);
    Value->FAttacher = this;
    FreeNotification(Value);
  }
}

TPagePreview* TPreviewItem::GetPagePreview() const {
  if (!FPagePreview && FAttacher) return FAttacher->PagePreview();
  return FPagePreview;
}

int TPreviewItem::GetActualWidth() const {
  if (FPagePreview && (FLayoutType == ltAutoByLayout || FLayoutType == ltThumb) && HasLayoutPosition() &&
      FLayoutPosition.Width != 0)
    return FLayoutPosition.Width;
  if (FAttachedPreviewItem && (FAttachPosition == apLeft || FAttachPosition == apRight))
    return FPrintWidth + FAttachedPreviewItem->PrintWidth() + FAttachedItemOffset;
  return FPrintWidth;
}

int TPreviewItem::GetActualHeight() const {
  if (FPagePreview && (FLayoutType == ltAutoByLayout || FLayoutType == ltThumb) && HasLayoutPosition() &&
      FLayoutPosition.Width != 0)
    return FLayoutPosition.Height;
  if (FAttachedPreviewItem && (FAttachPosition == apAbove || FAttachPosition == apBelow))
    return FPrintHeight + FAttachedPreviewItem->PrintHeight() + FAttachedItemOffset;
  return FPrintHeight;
}

bool TPreviewItem::HasLayoutPosition() const {
  if (FLayoutPosition.Width != 0) return true;
  return FPagePreview && FPagePreview->IsAutomatic();
}

bool TPreviewItem::IsCellLayout() {
  if (FPagePreview) FLayoutType = FPagePreview->LayoutType();
  CheckLayoutType(FLayoutType);
  return FLayoutType == ltAutoByLayout || FLayoutType == ltThumb;
}

void TPreviewItem::SetLayoutType(TLayoutType Value) {
  CheckLayoutType(Value);
  FLayoutType = Value;
  // The caption is on the same page and keeps the same copy.
  if (FAttachedPreviewItem) FAttachedPreviewItem->SetLayoutType(Value);
}

void TPreviewItem::SetPagePreview(TPagePreview* Value) {
  if (FPagePreview && FPagePreview != Value) {
    // The page it leaves no longer hears when it goes: it must not list it
    // either (an item re-read onto another page, a page index set).
    FPagePreview->Items().Remove(this);
    RemoveFreeNotification(FPagePreview);
  }
  FPagePreview = Value;
  FPageChanged = true;
  if (FAttachedPreviewItem) FAttachedPreviewItem->SetPagePreview(Value);
  if (Value) {
    FreeNotification(Value);
    FLayoutType = Value->LayoutType();
    setVisible(!Value->isHidden());
  }
  FOptions.setFlag(poNeverBeenOnPage, false);
}

void TPreviewItem::SetScale(float Value) {
  if (Value == FScale) return;
  FScale = Value;
  UpdateScreenBounds(15);
  if (FAttachedPreviewItem) FAttachedPreviewItem->SetScale(Value);
}

void TPreviewItem::SetPrintLeft(int Value) {
  if (Value == FPrintLeft) return;
  FPrintLeft = Value;
  if (FPagePreview) UpdateScreenBounds(FPagePreview->Rotation() == 0 ? 1 : 2);
}

void TPreviewItem::SetPrintTop(int Value) {
  if (Value == FPrintTop) return;
  FPrintTop = Value;
  if (FPagePreview) UpdateScreenBounds(FPagePreview->Rotation() == 0 ? 2 : 1);
}

void TPreviewItem::UpdateScreenBounds(int Which) {
  if (FInScreenUpdate || !FPagePreview || FScale == 0) return;
  FInScreenUpdate = true;
  const TPagePreview* p = FPagePreview;
  const double s = FScale;
  int l = x(), t = y(), w = width(), h = height();
  try {
    if (p->Rotation() == 0) {
      if (Which & 1) l = p->x() + p->Displayleft() + Trunc(FPrintLeft * s);
      if (Which & 2) t = p->y() + p->DisplayTop() + Trunc(FPrintTop * s);
      if (Which & 4) w = Trunc(FPrintWidth * s);
      if (Which & 8) h = Trunc(FPrintHeight * s);
    } else {
      if (Which & 1) l = p->x() + p->Displayleft() + Trunc(FPrintTop * s);
      if (Which & 2)
        t = p->y() + p->DisplayTop() + Trunc((static_cast<double>(p->PaperWidth()) - FPrintWidth - FPrintLeft) * s);
      if (Which & 4) w = Trunc(FPrintHeight * s);
      if (Which & 8) h = Trunc(FPrintWidth * s);
    }
    if (l != x() || t != y() || w != width() || h != height()) setGeometry(l, t, std::max(w, 0), std::max(h, 0));
  } catch (...) {
    FInScreenUpdate = false;
    throw;
  }
  FInScreenUpdate = false;
}

void TPreviewItem::ScreenToPrint() {
  const TPagePreview* p = FPagePreview;
  if (!p || FScale == 0) return;
  const double s = FScale;
  int l, t, w, h;
  if (p->Rotation() == 0) {
    l = Trunc((x() - p->Displayleft() - p->x()) / s);
    t = Trunc((y() - p->DisplayTop() - p->y()) / s);
    w = Trunc(width() / s);
    h = Trunc(height() / s);
  } else {
    l = Trunc((p->DisplayHeight() + p->DisplayTop() + p->y() - height() - y()) / s);
    t = Trunc((x() - p->Displayleft() - p->x()) / s);
    w = Trunc(height() / s);
    h = Trunc(width() / s);
  }
  SetPrintBounds(l, t, w, h);
}

void TPreviewItem::SetPrintBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  // No geometry beyond what any paper could hold, and never an empty item.
  ALeft = std::clamp(ALeft, -MaxPrintLength, MaxPrintLength);
  ATop = std::clamp(ATop, -MaxPrintLength, MaxPrintLength);
  AWidth = std::clamp(AWidth, 1, MaxPrintLength);
  AHeight = std::clamp(AHeight, 1, MaxPrintLength);
  if (FPageChanged || ALeft != FPrintLeft || ATop != FPrintTop || AWidth != FPrintWidth || AHeight != FPrintHeight) {
    FPrintLeft = ALeft;
    FPrintTop = ATop;
    FPrintWidth = AWidth;
    FPrintHeight = AHeight;
  }
  if (!FInScreenUpdate && !FInPrintUpdate) {
    FInPrintUpdate = true;
    UpdateScreenBounds(15);
    FInPrintUpdate = false;
    FPageChanged = false;
  }
}

void TPreviewItem::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (ALeft == x() && ATop == y() && AWidth == width() && AHeight == height()) return;
  setGeometry(ALeft, ATop, std::max(AWidth, 0), std::max(AHeight, 0));
  if (!FInScreenUpdate && !FInPrintUpdate) {
    // Moved or sized on screen: the print side follows.
    FInScreenUpdate = true;
    TPrintPreview* doc = FPrintPreview;
    if (doc) doc->BeginUpdate();
    TPagePreview* relayoutPage = nullptr;
    // The caption follows before the batch ends, so that the change recorded
    // then (the undo snapshot) holds it where it is shown.
    auto finish = [&] {
      FInScreenUpdate = false;
      try {
        RepositionAttached();
      } catch (...) {
        if (doc) doc->EndUpdate();
        throw;
      }
      if (doc) doc->EndUpdate();
    };
    try {
      if (TPagePreview* p = FPagePreview) {
        relayoutPage = p;
        if (ALeft < p->x() || ATop < p->y() || ALeft > p->Right() || ATop > p->Bottom()) {
          TPagePreview* q = doc ? doc->PageAtItem(this) : p;
          if (q && q != p) {
            try {
              p->RemoveFromLayout(this);
            } catch (const LayoutException&) {
            }
            try {
              q->AddPreviewItem(this, false);
            } catch (const LayoutException&) {
            }
            const int ip = doc ? doc->Pages().IndexOf(p) : -1;
            const int iq = doc ? doc->Pages().IndexOf(q) : -1;
            relayoutPage = (ip >= 0 && ip < iq) || iq < 0 ? p : q;
          }
        }
      }
      ScreenToPrint();
      if (FStreamState != ssLoading && doc) {
        const QRect dropped(FPrintLeft, FPrintTop, FPrintWidth, FPrintHeight);
        if (relayoutPage && doc->Pages().Contains(relayoutPage)) doc->Relayout(relayoutPage, true);
        // Laid out elsewhere than it was dropped: shown where it now is.
        if (QRect(FPrintLeft, FPrintTop, FPrintWidth, FPrintHeight) != dropped) {
          FInScreenUpdate = false;
          UpdateScreenBounds(15);
          FInScreenUpdate = true;
        }
        doc->Changed(QStringLiteral("Item size/position"));
      }
      if (IsAttached()) {
        // A moved caption: its page is laid out again once the move is over.
        const QPointer<TPagePreview> page = relayoutPage ? relayoutPage : GetPagePreview();
        if (page)
          DelayedNotifyEx(100, this, doReplaceQueued, QStringLiteral("Relayout ") + page->Name(),
                          [page](QObject*) {
                            if (page && page->PrintPreviewOrNull()) page->Relayout(true);
                          });
      }
    } catch (...) {
      finish();
      throw;
    }
    finish();
  }
  FireVisibleResize();
}

void TPreviewItem::FireVisibleResize() {
  if (OnVisibleResize) OnVisibleResize(this);
  if (FAttachedPreviewItem && FAttachedPreviewItem->OnVisibleResize)
    FAttachedPreviewItem->OnVisibleResize(FAttachedPreviewItem);
}

void TPreviewItem::setVisible(bool Visible) {
  const bool changed = Visible == isHidden();
  QWidget::setVisible(Visible);
  if (changed && !IsDestroying()) FireVisibleResize();
}

int TPreviewItem::TotalRotation() const {
  if (!FPagePreview) return FIntRotation;
  return (FPagePreview->Rotation() + FIntRotation) % 4;
}

void TPreviewItem::Rotate(int QuarterTurns) {
  if (QuarterTurns != 0) {
    FIntRotation = ((FIntRotation + QuarterTurns) % 4 + 4) % 4;
    if (!IsAttached() && (QuarterTurns % 2 != 0)) {
      FInScreenUpdate = FInPrintUpdate = true;
      setGeometry(x(), y(), height(), width());
      std::swap(FPrintWidth, FPrintHeight);
      FInScreenUpdate = FInPrintUpdate = false;
    }
    RepositionAttached();
  }
  update();
}

void TPreviewItem::RotateQuarter() { Rotate(FIntRotation == 1 ? 3 : 1); }

bool TPreviewItem::PrintTo(QPainter* Canvas, int OffsetX, int OffsetY) {
  if (FAttachedPreviewItem) FAttachedPreviewItem->PrintTo(Canvas, OffsetX, OffsetY);
  return false;
}

void TPreviewItem::SetPrintDimensions(int AWidth, int AHeight, unsigned Flags) {
  if (AWidth < 1 || AHeight < 1) throw Exception(QStringLiteral("Invalid dimensions in TPreviewItem.SetPrintDimensions"));
  double r = AspectRatio();
  if (r != 0 && DifferInOrientation(r, static_cast<double>(AWidth) / AHeight, false)) {
    if (Flags & sdSwapToContent) {
      std::swap(AWidth, AHeight);
    } else if (Flags & sdRotateToBox) {
      RotateQuarter();
      r = AspectRatio();
    }
  }
  if ((Flags & sdKeepAspect) && r != 0) FitToAspectRatio(AWidth, AHeight, false, r);
  FPrintHeight = std::clamp(AHeight, 1, MaxPrintLength);
  FPrintWidth = std::clamp(AWidth, 1, MaxPrintLength);
  UpdateScreenBounds(15);
  if (!(Flags & sdNoRelayout) && FPagePreview) FPagePreview->Relayout(true);
}

TLayoutPosition TPreviewItem::GetItemLayoutRect(int CaptionWidth, int CaptionHeight) {
  if (!HasLayoutPosition() || FLayoutPosition.Width == 0)
    throw Exception(QStringLiteral("Does not have a valid LayoutPosition"));
  TLayoutPosition r = FLayoutPosition;
  if (!FAttachedPreviewItem || !IsCellLayout()) return r;
  if (CaptionWidth == 0) CaptionWidth = FAttachedPreviewItem->PrintWidth();
  if (CaptionHeight == 0) CaptionHeight = FAttachedPreviewItem->PrintHeight();
  const int offset = FAttachedItemOffset;
  switch (FAttachPosition) {
    case apAbove:
      r.Height = FLayoutPosition.Height - CaptionHeight - offset;
      r.Top = FLayoutPosition.Top + CaptionHeight + offset;
      break;
    case apRight: r.Width = FLayoutPosition.Width - CaptionWidth - offset; break;
    case apBelow: r.Height = FLayoutPosition.Height - CaptionHeight - offset; break;
    case apLeft:
      r.Width = FLayoutPosition.Width - CaptionWidth - offset;
      r.Left = FLayoutPosition.Left + CaptionWidth + offset;
      break;
  }
  r.Width = std::max(r.Width, 5);
  r.Height = std::max(r.Height, 5);
  return r;
}

void TPreviewItem::FitToLayoutPosition(int CaptionWidth, int CaptionHeight) {
  const TLayoutPosition r = GetItemLayoutRect(CaptionWidth, CaptionHeight);
  SetPrintDimensions(r.Width, r.Height, sdKeepAspect | sdNoRelayout);
  int dx = 0, dy = 0;
  if (IsCellLayout()) {
    dy = (r.Height - FPrintHeight) / 2;
    dx = (r.Width - FPrintWidth) / 2;
  } else if (FAttachedPreviewItem) {
    if (FAttachPosition == apLeft) dx = FAttachedPreviewItem->PrintWidth() + FAttachedItemOffset;
    if (FAttachPosition == apAbove) dy = FAttachedPreviewItem->PrintHeight() + FAttachedItemOffset;
  }
  SetPrintLeft(dx > 0 ? r.Left + dx : r.Left);
  SetPrintTop(dy > 0 ? r.Top + dy : r.Top);
}

void TPreviewItem::RepositionAttached(int CaptionWidth, int CaptionHeight) {
  TPreviewItem* caption = FAttachedPreviewItem;
  if (!caption) return;
  if (CaptionWidth == 0) CaptionWidth = caption->PrintWidth();
  if (CaptionHeight == 0) CaptionHeight = caption->PrintHeight();
  const int offset = FAttachedItemOffset;
  int l = 0, t = 0, w = 0, h = 0;
  const TLayoutPosition& c = FLayoutPosition;
  if (c.Width != 0 && IsCellLayout()) {
    switch (FAttachPosition) {
      case apAbove: l = c.Left, t = c.Top, w = c.Width, h = CaptionHeight; break;
      case apBelow: l = c.Left, t = c.Top + c.Height - CaptionHeight, w = c.Width, h = CaptionHeight; break;
      case apRight:
      case apLeft: l = c.Left, t = c.Top, w = CaptionWidth, h = c.Height; break;
    }
  } else {
    switch (FAttachPosition) {
      case apRight: l = PrintRight() + offset, t = FPrintTop, w = CaptionWidth, h = FPrintHeight; break;
      case apBelow: l = FPrintLeft, t = PrintBottom() + offset, w = FPrintWidth, h = CaptionHeight; break;
      case apLeft: l = FPrintLeft - offset - CaptionWidth, t = FPrintTop, w = CaptionWidth, h = FPrintHeight; break;
      case apAbove: throw Exception(QStringLiteral("not done yet"));
    }
  }
  caption->FPageChanged = true;
  caption->SetPrintBounds(l, t, w, h);
}

void TPreviewItem::CreateCaption() {
  FAttachedItemOffset = 10;
  if (FAttachedPreviewItem) return;
  TPagePreview* page = FPagePreview;
  const int rotation = page ? page->Rotation() : 0;
  if (rotation != 0 && rotation != 3) throw Exception(QStringLiteral("not done yet"));
  auto* caption = new TPreviewText(this, FDescription);
  SetAttachedPreviewItem(caption);
  if (page) page->AddPreviewItem(caption, false);
  caption->SetOptions(caption->GetOptions() | poNoLayout | poAttached);
  if (rotation == 0) {
    FAttachPosition = apBelow;
  } else {
    FAttachPosition = apLeft;
    caption->Rotate(1);
  }
  bool automatic = false;
  if (TPrintPreview* doc = FPrintPreview) {
    automatic = page && page->IsAutomatic();
    doc->RegisterItem(caption);
  }
  if (parentWidget() && caption->parentWidget() != parentWidget()) caption->setParent(parentWidget());
  if (automatic && HasLayoutPosition() && FLayoutPosition.Width != 0) FitToLayoutPosition(50, 50);
  RepositionAttached(50, 50);
  if (FPagePreview) caption->setVisible(!FPagePreview->isHidden());
  caption->raise();
}

void TPreviewItem::SetPrintDimensionsFixed(int AWidth, int AHeight, unsigned Flags) {
  SetPrintDimensions(AWidth, AHeight, Flags);
  FOptions.setFlag(poCanAutoSize, false);
}

void TPreviewItem::Fit(bool FitWidth, bool FitHeight) {
  TPagePreview* page = FPagePreview;
  if (!page) return;
  const bool side = page->LyingOnSide();
  const double r = AspectRatio();
  const int pw = page->PrintableWidth();
  const int ph = page->PrintableHeight();
  int w, h;
  if (side ? FitHeight : FitWidth)
    w = pw;
  else
    w = r > 0 ? Trunc(r * ph + 0.5) : FPrintWidth;
  if (side ? FitWidth : FitHeight)
    h = ph;
  else
    h = r > 0 ? Trunc(pw / r + 0.5) : FPrintHeight;
  const bool turn = FitWidth && FitHeight && h != 0 && DifferInOrientation(static_cast<double>(w) / h, r, true);
  FitToAspectRatio(w, h, turn, r);
  SetPrintDimensions(std::max(w, 1), std::max(h, 1), turn ? static_cast<unsigned>(sdRotateToBox) : 0u);
  Centre(FitWidth, FitHeight);
  RepositionAttached();
}

void TPreviewItem::Centre(bool Horizontally, bool Vertically) {
  TPagePreview* page = FPagePreview;
  if (!page) return;
  const bool side = page->LyingOnSide();
  if (side ? Vertically : Horizontally)
    FPrintLeft = std::max((page->PaperWidth() - FPrintWidth) / 2, page->PrinterSettings.MarginLeft);
  if (side ? Horizontally : Vertically)
    FPrintTop = std::max((page->PaperLength() - FPrintHeight) / 2, page->PrinterSettings.MarginTop);
  UpdateScreenBounds(1 | 2);
  RepositionAttached();
}

QImage TPreviewItem::RotateBitmap(const QImage& Bitmap, int QuarterTurns) {
  QuarterTurns = ((QuarterTurns % 4) + 4) % 4;
  if (OnRotateBitmap) {
    QImage copy = Bitmap.copy();
    bool handled = false;
    OnRotateBitmap(handled, copy, QuarterTurns);
    if (handled) return copy;
  }
  if (QuarterTurns == 0) return Bitmap;
  QImage source = Bitmap.format() == QImage::Format_RGB888 ? Bitmap : Bitmap.convertToFormat(QImage::Format_RGB888);
  const int w = source.width(), h = source.height();
  QImage out = QuarterTurns == 2 ? QImage(w, h, QImage::Format_RGB888) : QImage(h, w, QImage::Format_RGB888);
  if (out.isNull() || source.isNull()) return out;
  for (int y = 0; y < h; ++y) {
    const uchar* src = source.constScanLine(y);
    for (int x = 0; x < w; ++x) {
      int tx, ty;
      switch (QuarterTurns) {
        case 1: tx = h - 1 - y; ty = x; break;       // clockwise
        case 2: tx = w - 1 - x; ty = h - 1 - y; break;
        default: tx = y; ty = w - 1 - x; break;      // counter-clockwise
      }
      uchar* dst = out.scanLine(ty) + 3 * tx;
      dst[0] = src[3 * x];
      dst[1] = src[3 * x + 1];
      dst[2] = src[3 * x + 2];
    }
  }
  return out;
}

void TPreviewItem::paintEvent(QPaintEvent* Event) {
  Q_UNUSED(Event);
  QPainter p(this);
  PaintContent(p);
  if (FAttachedPreviewItem) FAttachedPreviewItem->update();
  if (FSelected) PaintSelection(p);
}

void TPreviewItem::PaintSelection(QPainter& Canvas) {
  Canvas.setBrush(Qt::NoBrush);
  Canvas.setPen(QPen(Qt::black, 2, Qt::DashLine));
  Canvas.drawRect(QRect(1, 1, width() - 2, height() - 2));
  Canvas.setPen(QPen(Qt::black, 1));
  Canvas.setBrush(Qt::red);
  const int r = width() - 5, b = height() - 5;
  for (const QPoint& c : {QPoint(0, 0), QPoint(r, 0), QPoint(0, b), QPoint(r, b)})
    Canvas.drawRect(QRect(c, QSize(4, 4)));
}

void TPreviewItem::mousePressEvent(QMouseEvent* Event) {
  if (FPrintPreview) FPrintPreview->SelectItem(this, !(Event->modifiers() & Qt::ShiftModifier));
  if (OnMouseDown) OnMouseDown(this);
  QWidget::mousePressEvent(Event);
}

void TPreviewItem::mouseReleaseEvent(QMouseEvent* Event) {
  if (OnClick && rect().contains(Event->position().toPoint())) OnClick(this);
  QWidget::mouseReleaseEvent(Event);
}

// --- TPreviewImage -------------------------------------------------------------

TPreviewImage::TPreviewImage(QObject* AOwner) : TPreviewItem(AOwner) {}

TPreviewImage::~TPreviewImage() {
  BeforeDestruction();
  for (auto& p : FPreviews) p.reset();
  FBitmap.reset();
  FStream.reset();
}

QBuffer& TPreviewImage::Stream() {
  if (!FStream) {
    FStream = std::make_unique<QBuffer>();
    FStream->open(QIODevice::ReadWrite);
  }
  return *FStream;
}

void TPreviewImage::WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) {
  Q_UNUSED(AsText);
  if (!ParamListContains(QStringLiteral("SAVE_IMAGES"), SaveParams)) return;
  QBuffer& stream = Stream();
  if (stream.size() == 0 && !FFileName.isEmpty()) {
    QFile file(FFileName);
    if (!file.open(QIODevice::ReadOnly))
      throw EStreamError(QStringLiteral("Cannot open file \"%1\". %2").arg(FFileName, file.errorString()));
    stream.buffer() = file.readAll();
    if (file.error() != QFileDevice::NoError)
      throw EReadError(QStringLiteral("Stream read error"));
    stream.seek(0);
  }
  WriteStreamBlock(AStream, stream, QStringLiteral("Filestream"));
}

void TPreviewImage::ReadAdditionalData(QIODevice& AStream, const QString& ALine) {
  QString rest = ALine;
  SplitAtChar(rest, QLatin1Char(':'));
  if (rest != QLatin1String("Filestream")) throw EStreamError(QStringLiteral("Unknown additional data in stream"));
  ReadStreamBlock(AStream, Stream());
  Stream().seek(0);
}

TBitmapCache TPreviewImage::Policy() const {
  return FPrintPreview ? FPrintPreview->KeepBitmapsInMemory() : bcCompressed;
}

int TPreviewImage::CachedBitmapSize() const { return FPrintPreview ? FPrintPreview->CachedBitmapSize() : 512; }

void TPreviewImage::SetPrintPreview(TPrintPreview* Value) {
  TPreviewItem::SetPrintPreview(Value);
  if (!Value) return;
  hide();
  OnLoadingBitmap = Value->OnLoadingBitmap;
  OnSaveBitmap = Value->OnSaveBitmap;
  OnResampleBitmap = Value->OnResampleBitmap;
}

float TPreviewImage::AspectRatio() {
  if (FContentRatio == 0) return 0;
  return FIntRotation % 2 ? 1 / FContentRatio : FContentRatio;
}

void TPreviewImage::LoadFromFile(const QString& AFileName) {
  if (AFileName.isEmpty()) throw Exception(QStringLiteral("No filename provided in TPreviewImage.LoadFromFile"));
  if (!FBitmap) FBitmap = std::make_unique<QImage>();
  FFileName.clear();
  const TBitmapCache policy = Policy();
  if (policy == bcCompressed) {
    QBuffer& stream = Stream();
    stream.buffer().clear();
    stream.seek(0);
    QFile file(AFileName);
    if (file.open(QIODevice::ReadOnly)) stream.buffer() = file.readAll();
    stream.seek(0);
  }
  for (auto& p : FPreviews) p.reset();
  LoadBitmap(*FBitmap, AFileName, policy != bcUncompressed);
  setToolTip(QFileInfo(AFileName).fileName());
  FFileName = AFileName;
  FPreviews[0] = std::make_unique<QImage>(MakePreview());
  ReleaseBitmap();
}

void TPreviewImage::LoadBitmap(QImage& Bitmap, const QString& AFileName, bool ForScreen) {
  LoadBitmapSized(Bitmap, AFileName, ForScreen ? CachedBitmapSize() : 0);
}

void TPreviewImage::LoadBitmapSized(QImage& Bitmap, const QString& AFileName, int maxSize) {
  try {
    bool handled = false;
    if (OnLoadingBitmap) {
      QBuffer* stream = FStream ? FStream.get() : nullptr;
      if (stream) stream->seek(0);
      OnLoadingBitmap(handled, Bitmap, AFileName, stream, maxSize);
      if (handled && Bitmap.isNull()) throw Exception(QStringLiteral("The picture could not be read."));
    }
    if (!handled) {
      if (AFileName.isEmpty()) throw Exception(QStringLiteral("Must have a filename to load picture internally"));
      QImageReader reader(AFileName);
      reader.setAutoTransform(true);
      QImage picture = reader.read();
      if (picture.isNull()) throw Exception(reader.errorString());
      QImage onWhite(picture.size(), QImage::Format_RGB888);
      if (onWhite.isNull()) throw Exception(QStringLiteral("Not enough memory for the picture."));
      onWhite.fill(Qt::white);
      QPainter p(&onWhite);
      p.drawImage(0, 0, picture);
      p.end();
      Bitmap = onWhite;
    }
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    const QString message = dynamic_cast<const Exception*>(&e) ? static_cast<const Exception&>(e).Message()
                                                                : QString::fromLocal8Bit(e.what());
    FDescription = QStringLiteral("<P align=\"left\">Error loading file <BR>%1<BR>").arg(message);
    Bitmap = QImage(128, 128, QImage::Format_RGB888);
    DrawErrorPicture(Bitmap, AFileName);
  }
  FContentRatio = Bitmap.height() == 0 ? 0.0f : static_cast<float>(Bitmap.width()) / Bitmap.height();
}

QImage& TPreviewImage::GetBitmap(bool ForScreen) {
  if (FBitmap) return *FBitmap;
  FBitmap = std::make_unique<QImage>();
  if (!FFileName.isEmpty() || (FStream && FStream->size() > 0)) LoadBitmap(*FBitmap, FFileName, ForScreen);
  return *FBitmap;
}

void TPreviewImage::ReleaseBitmap() {
  if (!FFileName.isEmpty() && FPrintPreview && Policy() != bcUncompressed) FBitmap.reset();
}

void TPreviewImage::CopyBitmap(const QImage& ABitmap) {
  if (ABitmap.isNull()) throw Exception(QStringLiteral("No Bitmap provided in TPreviewImage.CopyBitmap"));
  FBitmap = std::make_unique<QImage>(ABitmap.convertToFormat(QImage::Format_RGB888));
  FFileName.clear();
  QBuffer& stream = Stream();
  stream.buffer().clear();
  stream.seek(0);
  bool handled = false;
  QString name;
  if (OnSaveBitmap) OnSaveBitmap(handled, name, true, *FBitmap, &stream);
  if (!handled) FBitmap->save(&stream, "BMP");
  stream.seek(0);
  FContentRatio = ABitmap.height() == 0 ? 0.0f : static_cast<float>(ABitmap.width()) / ABitmap.height();
  for (auto& p : FPreviews) p.reset();
  FPreviews[0] = std::make_unique<QImage>(MakePreview());
}

const QImage& TPreviewImage::GetPreview(int Rotation) {
  Rotation = ((Rotation % 4) + 4) % 4;
  if (!FPreviews[Rotation]) {
    if (Rotation == 0)
      FPreviews[0] = std::make_unique<QImage>(MakePreview());
    else
      FPreviews[Rotation] = std::make_unique<QImage>(RotateBitmap(GetPreview(0), Rotation));
  }
  if (Rotation != 0 && Policy() != bcUncompressed) FPreviews[0].reset();
  return *FPreviews[Rotation];
}

QImage TPreviewImage::MakePreview() {
  const int limit = std::max(CachedBitmapSize(), 1);
  const bool forScreen = !FFileName.isEmpty() && FPrintPreview && Policy() != bcUncompressed;
  const QImage& source = GetBitmap(forScreen);
  int w = source.width(), h = source.height();
  while (limit < w || limit < h) {
    w /= 2;
    h /= 2;
  }
  QImage preview;
  if (w > 0 && h > 0) {
    // Always a bitmap of its own, also at the source's size.
    if (w == source.width() && h == source.height())
      preview = source.convertToFormat(QImage::Format_RGB888).copy();
    else
      preview = source.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_RGB888);
  }
  ReleaseBitmap();
  return preview;
}

void TPreviewImage::FreeCache(bool All) {
  if (All)
    for (auto& p : FPreviews) p.reset();
  ReleaseBitmap();
}

int TPreviewImage::GetMemoryUsed() {
  qint64 bytes = 0;
  auto size = [](const QImage& i) { return 3LL * i.width() * i.height(); };
  if (FBitmap) bytes += size(*FBitmap);
  for (const auto& p : FPreviews)
    if (p && (!FBitmap || p->cacheKey() != FBitmap->cacheKey())) bytes += size(*p);
  if (FStream) bytes += FStream->size();
  return static_cast<int>(std::min<qint64>(bytes, INT_MAX));
}

void TPreviewImage::PaintContent(QPainter& Canvas) {
  if (!FPagePreview) return;
  const QImage& preview = GetPreview(TotalRotation());
  if (!preview.isNull()) Canvas.drawImage(rect(), preview);
}

bool TPreviewImage::PrintTo(QPainter* Canvas, int OffsetX, int OffsetY) {
  TPreviewItem::PrintTo(Canvas, OffsetX, OffsetY);
  TPagePreview* page = FPagePreview;
  if (!page || page->PaperWidth() == 0 || page->PaperLength() == 0) return false;
  const TPrinterSettings& s = page->PrinterSettings;
  if (s.PrintableWidth == 0 || s.PrintableHeight == 0) return false;
  const double sx = static_cast<double>(Printer().PageWidth()) / s.PrintableWidth;
  const double sy = static_cast<double>(Printer().PageHeight()) / s.PrintableHeight;
  const int x0 = Trunc(FPrintLeft * sx) - OffsetX, x1 = Trunc(PrintRight() * sx) - OffsetX;
  const int y0 = Trunc(FPrintTop * sy) - OffsetY, y1 = Trunc(PrintBottom() * sy) - OffsetY;
  const int w = x1 - x0, h = y1 - y0;

  QImage bitmap;
  const int rotation = FIntRotation;
  if (FPreviews[rotation] && FPreviews[rotation]->width() >= w && FPreviews[rotation]->height() >= h) {
    bitmap = *FPreviews[rotation];
  } else {
    QImage full;
    if (!FBitmap && OnLoadingBitmap && (!FFileName.isEmpty() || (FStream && FStream->size() > 0))) {
      // Read no larger than the print needs: the loader may decode reduced
      // to no less than the printed size on either side.
      const int side = rotation % 2 ? std::max(h, w) : std::max(w, h);
      LoadBitmapSized(full, FFileName, std::max(side, 1));
    } else {
      full = GetBitmap(false);
    }
    if (full.format() != QImage::Format_RGB888) full = full.convertToFormat(QImage::Format_RGB888);
    bitmap = rotation != 0 ? RotateBitmap(full, rotation) : full;
  }
  bool handled = false;
  if (OnPrintImage) OnPrintImage(handled, bitmap, Canvas, s, x0, y0, w, h);
  if (!handled && Canvas) {
    if (bitmap.size() != QSize(w, h) && OnResampleBitmap) {
      bool resampled = false;
      OnResampleBitmap(resampled, bitmap, w, h, 0);
    }
    if (bitmap.size() == QSize(w, h))
      Canvas->drawImage(x0, y0, bitmap);
    else
      Canvas->drawImage(QRect(x0, y0, w, h), bitmap);
  }
  ReleaseBitmap();
  return true;
}

void DrawErrorPicture(QImage& Bitmap, const QString& AFileName) {
  Bitmap.fill(Qt::white);
  QPainter p(&Bitmap);
  p.setPen(Qt::black);
  DrawMarkup(p, Bitmap.rect(), QStringLiteral("Error loading<BR>") + QFileInfo(AFileName).fileName());
}

TOnLoadingBitmap PictureLayerLoader() {
  return [](bool& Handled, QImage& Bitmap, const QString& AFileName, QIODevice* AStream, int MaxSize) {
    Bitmap = Images::ReadScaled(AFileName, AStream, MaxSize);
    Handled = true;
  };
}
