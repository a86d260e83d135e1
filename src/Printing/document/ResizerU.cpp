#include "Printing/document/ResizerU.h"

#include "Printing/document/PrintPreviewU.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>

namespace {

// The rectangle a pen of that width outlines inside a box of w x h pixels:
// inset by half the pen, so that a wide pen stays inside the box.
QRectF OutlineRect(int PenWidth, int W, int H) {
  const int inset = PenWidth / 2;
  const int w = W - PenWidth + (PenWidth != 0 ? 1 : 0);
  const int h = H - PenWidth + (PenWidth != 0 ? 1 : 0);
  // The pixels inset .. inset + w - 1 carry the line of a one-pixel pen.
  return QRectF(inset + 0.5, inset + 0.5, w - 1, h - 1);
}

qint64 SteadyMilliseconds() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Qt::CursorShape HandleCursor(THandlePosition Position) {
  static const Qt::CursorShape shapes[9] = {Qt::SizeFDiagCursor, Qt::SizeVerCursor, Qt::SizeBDiagCursor,
                                            Qt::SizeHorCursor,   Qt::SizeAllCursor, Qt::SizeHorCursor,
                                            Qt::SizeBDiagCursor, Qt::SizeVerCursor, Qt::SizeFDiagCursor};
  return shapes[Position];
}

}  // namespace

// The outline shown during a drag: drawn over whatever lies below it with
// an inverting pen, so it shows on any picture. It takes no mouse input.
class TResizerBand : public QWidget {
public:
  explicit TResizerBand(QWidget* AParent) : QWidget(AParent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setObjectName(QStringLiteral("ResizerBand"));
  }
  QPen Pen;
  QBrush Brush;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter canvas(this);
    canvas.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
    canvas.setPen(Pen);
    canvas.setBrush(Brush);
    canvas.drawRect(OutlineRect(Pen.width(), width(), height()));
  }
};

// --- TResizerHandle ------------------------------------------------------------
//
// The mouse handlers of the handles and the frame keep errors to themselves
// (shown in a message box): Qt's event delivery must never be unwound.

TResizerHandle::TResizerHandle(TResizer* AResizer, THandlePosition APosition)
    : QWidget(AResizer->parentWidget()), FResizer(AResizer), FPosition(APosition), FPen(AResizer->Pen()) {
  setObjectName(QStringLiteral("ResizerHandle%1").arg(APosition));
  setAttribute(Qt::WA_NoSystemBackground);
  if (APosition == hpMove) setCursor(Qt::SizeAllCursor);
  hide();
}

bool TResizerHandle::HandleEnabled() const {
  return FResizer->Options().testFlag(FPosition == hpMove ? roCanMove : roCanResize);
}

bool TResizerHandle::Drawn() const {
  if (FPosition == hpMove && FResizer->Options().testFlag(roAlwaysDrag)) return false;
  return HandleEnabled() || FResizer->Options().testFlag(roAlwaysShowHandles);
}

void TResizerHandle::paintEvent(QPaintEvent*) {
  if (FResizer->isHidden() || FResizer->HiddenForSizing() || !Drawn()) return;
  QPainter canvas(this);
  QBrush fill = FResizer->HandleBrush();
  fill.setColor(HandleEnabled() ? FResizer->HandleEnabledColor() : FResizer->HandleDisabledColor());
  canvas.setPen(FPen);
  canvas.setBrush(fill);
  canvas.drawRect(OutlineRect(1, width(), height()));
}

void TResizerHandle::mousePressEvent(QMouseEvent* Event) {
  FResizer->FSkipContextMenu = false;
  if (Event->button() == Qt::RightButton) {
    if (FResizer->Sizing()) CallGuarded([&] { FResizer->CancelByRightPress(); });
    return;
  }
  if (Event->button() != Qt::LeftButton) return;
  // A disabled handle, though drawn, neither moves nor sizes.
  if (!HandleEnabled()) return;
  FStartedDrag = false;
  const QPoint at = Event->position().toPoint();
  CallGuarded([&] { FResizer->BeginSizing(FPosition, at.x(), at.y()); });
  FStartedDrag = FResizer->Sizing();
}

void TResizerHandle::mouseMoveEvent(QMouseEvent* Event) {
  if (!FStartedDrag || !FResizer->Sizing()) return;
  const QPoint at = Event->position().toPoint();
  CallGuarded([&] { FResizer->TrackSizing(FPosition, at.x(), at.y()); });
}

void TResizerHandle::mouseReleaseEvent(QMouseEvent*) {
  FStartedDrag = false;
  CallGuarded([&] { FResizer->EndSizing(); });
}

void TResizerHandle::contextMenuEvent(QContextMenuEvent* Event) {
  if (FResizer->FSkipContextMenu) {
    FResizer->FSkipContextMenu = false;
    return;
  }
  if (!FResizer->ShowPopupMenu(Event->globalPos())) Event->ignore();
}

// --- TResizer ------------------------------------------------------------------

TResizer::TResizer(QObject* AOwner, QWidget* AParent)
    : QWidget(AParent), TComponent(this, AOwner), FPen(Qt::black, 1), FBrush(Qt::NoBrush),
      FHandleBrush(FPen.color()) {
  TickSource = SteadyMilliseconds;
  setAttribute(Qt::WA_NoSystemBackground);
  setGeometry(0, 0, 65, 65);
  for (THandlePosition i = 0; i < 9; ++i) FHandles[i] = new TResizerHandle(this, i);
  UpdateCursors();
  PlaceHandles();
  UpdateHandles();
}

TResizer::~TResizer() {
  BeforeDestruction();
  for (auto& handle : FHandles) delete handle.data();
  delete FBand.data();
}

void TResizer::SetPen(const QPen& Value) {
  FPen = Value;
  for (auto& handle : FHandles)
    if (handle) {
      handle->SetPen(FPen);
      handle->update();
    }
  update();
}

void TResizer::SetBrush(const QBrush& Value) {
  FBrush = Value;
  update();
}

void TResizer::SetHandleBrush(const QBrush& Value) {
  FHandleBrush = Value;
  UpdateHandles();
}

void TResizer::SetHandleEnabledColor(const QColor& Value) {
  FHandleEnabledColor = Value;
  UpdateHandles();
}

void TResizer::SetHandleDisabledColor(const QColor& Value) {
  FHandleDisabledColor = Value;
  UpdateHandles();
}

void TResizer::SetHandleSize(int Value) {
  if (Value <= 0 || Value == FHandleSize) return;
  FHandleSize = Value;
  PlaceHandles();
}

void TResizer::SetKeepAspectRatio(bool Value) {
  FKeepAspectRatio = Value;
  if (Value && FAspectRatio == 0 && height() != 0) FAspectRatio = static_cast<float>(width()) / height();
}

void TResizer::SetResizeControl(QWidget* Value) {
  if (FResizeComponent && FResizeComponent->Self() != Value) RemoveFreeNotification(FResizeComponent);
  FResizeControl = Value;
  FResizeComponent = dynamic_cast<TComponent*>(Value);
  if (Value) {
    show();
    if (FResizeComponent) FreeNotification(FResizeComponent);
    FitToControl();
    BringAllToFront();
  } else {
    hide();
  }
}

void TResizer::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent && AComponent == FResizeComponent) {
    FResizeComponent = nullptr;
    FResizeControl = nullptr;
    if (!IsDestroying()) hide();
  }
}

void TResizer::FitToControl() {
  QWidget* control = FResizeControl;
  if (!control) return;
  const QRect r = control->geometry();
  SetBounds(r.x(), r.y(), r.width(), r.height());
  FAspectRatio = r.height() != 0 ? static_cast<float>(r.width()) / r.height() : 1.0f;
  setVisible(!control->isHidden());
}

void TResizer::BringAllToFront() {
  if (FResizeControl) FResizeControl->raise();
  raise();
  for (auto& handle : FHandles)
    if (handle) handle->raise();
}

void TResizer::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  setGeometry(ALeft, ATop, std::max(AWidth, 0), std::max(AHeight, 0));
  PlaceHandles();
}

void TResizer::setVisible(bool Visible) {
  QWidget::setVisible(Visible);
  UpdateHandles();
}

void TResizer::SetOptions(TResizerOptions Value) {
  if (Value == FOptions) return;
  FOptions = Value;
  UpdateCursors();
  UpdateHandles();
}

void TResizer::UpdateCursors() {
  // The frame shows the four-way arrow while a press on it moves.
  const bool drags = FOptions.testFlag(roAlwaysDrag) && FOptions.testFlag(roCanMove);
  const Qt::CursorShape shape = testAttribute(Qt::WA_SetCursor) ? cursor().shape() : Qt::ArrowCursor;
  if (drags && shape == Qt::ArrowCursor)
    setCursor(Qt::SizeAllCursor);
  else if (!drags && shape == Qt::SizeAllCursor)
    unsetCursor();
  for (THandlePosition i = 0; i < 9; ++i) {
    if (i == hpMove || !FHandles[i]) continue;
    if (FOptions.testFlag(roCanResize))
      FHandles[i]->setCursor(HandleCursor(i));
    else
      FHandles[i]->unsetCursor();
  }
}

void TResizer::PlaceHandles() {
  const int h = FHandleSize / 2;
  const int xs[3] = {x() - h, x() + width() / 2 - h, x() + width() - h - 1};
  const int ys[3] = {y() - h, y() + height() / 2 - h, y() + height() - h - 1};
  for (THandlePosition i = 0; i < 9; ++i)
    if (FHandles[i]) FHandles[i]->setGeometry(xs[i % 3], ys[i / 3], FHandleSize, FHandleSize);
}

void TResizer::UpdateHandles() {
  // A frame not yet shown in a parent that is not shown yet counts as shown:
  // its handles come up with it.
  const bool explicitlyHidden = isHidden() && testAttribute(Qt::WA_WState_ExplicitShowHide);
  for (auto& handle : FHandles) {
    if (!handle) continue;
    const bool shown = !explicitlyHidden && handle->parentWidget() && handle->Drawn();
    if (shown != !handle->isHidden()) handle->setVisible(shown);
    handle->update();
  }
}

void TResizer::moveEvent(QMoveEvent* Event) {
  QWidget::moveEvent(Event);
  PlaceHandles();
}

void TResizer::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  PlaceHandles();
}

void TResizer::changeEvent(QEvent* Event) {
  QWidget::changeEvent(Event);
  if (Event->type() != QEvent::ParentChange) return;
  // The handles live in the frame's parent.
  for (auto& handle : FHandles)
    if (handle && handle->parentWidget() != parentWidget()) handle->setParent(parentWidget());
  PlaceHandles();
  UpdateHandles();
  BringAllToFront();
}

void TResizer::paintEvent(QPaintEvent*) {
  if (FHiddenForSizing) return;
  QPainter canvas(this);
  canvas.setPen(FPen);
  canvas.setBrush(FBrush);
  canvas.drawRect(OutlineRect(FPen.width(), width(), height()));
}

void TResizer::mousePressEvent(QMouseEvent* Event) {
  FSkipContextMenu = false;
  if (Event->button() == Qt::RightButton) {
    if (FSizing) CallGuarded([&] { CancelByRightPress(); });
    else Event->ignore();
    return;
  }
  if (Event->button() == Qt::LeftButton && FOptions.testFlag(roAlwaysDrag) && FOptions.testFlag(roCanMove)) {
    const QPoint at = Event->position().toPoint();
    FFrameStartedDrag = false;
    CallGuarded([&] { BeginSizing(hpMove, at.x(), at.y()); });
    FFrameStartedDrag = FSizing;
    return;
  }
  Event->ignore();
}

void TResizer::mouseMoveEvent(QMouseEvent* Event) {
  if (!FFrameStartedDrag || !FSizing) return;
  const QPoint at = Event->position().toPoint();
  CallGuarded([&] { TrackSizing(hpMove, at.x(), at.y()); });
}

void TResizer::mouseReleaseEvent(QMouseEvent*) {
  FFrameStartedDrag = false;
  CallGuarded([&] { EndSizing(); });
}

void TResizer::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (Event->button() != Qt::LeftButton) {
    mousePressEvent(Event);
    return;
  }
  // The first click of the double click may have started a drag.
  FFrameStartedDrag = false;
  if (OnDblClick) CallGuarded([&] { OnDblClick(this); });
  CallGuarded([&] { CancelSizing(); });
}

void TResizer::contextMenuEvent(QContextMenuEvent* Event) {
  if (FSkipContextMenu) {
    FSkipContextMenu = false;
    return;
  }
  if (!ShowPopupMenu(Event->globalPos())) Event->ignore();
}

bool TResizer::ShowPopupMenu(const QPoint& GlobalPos) {
  if (!FPopupMenu || FSizing) return false;
  FPopupMenu->popup(GlobalPos);
  return true;
}

void TResizer::CancelByRightPress() {
  FSkipContextMenu = true;
  CancelSizing();
}

bool TResizer::SizingLive() const { return FOptions.testFlag(roRedrawControlWhileSizing) && FResizeControl; }

void TResizer::BeginSizing(THandlePosition Position, int X, int Y) {
  // A cancel keeps new drags away for a second: the button that cancelled
  // may come down again at once.
  if (FCancelled) {
    const qint64 since = TickSource() - FLastCancelTick;
    if (since >= 0 && since <= 999) return;
  }
  if (OnBeginSizing) {
    bool cancel = false;
    OnBeginSizing(this, FResizeControl, Position, X, Y, cancel);
    if (cancel) {
      QApplication::beep();
      return;
    }
  }
  FHiddenForSizing = true;
  FSizing = true;
  FStartX = X;
  FStartY = Y;
  FOrigLeft = FCurLeft = x();
  FOrigTop = FCurTop = y();
  FOrigRight = FCurRight = x() + width();
  FOrigBottom = FCurBottom = y() + height();
  if (!SizingLive()) {
    try {
      DrawBand();
    } catch (...) {
      // No outline can be shown: the drag does not start.
      FHiddenForSizing = false;
      FSizing = false;
      throw;
    }
  }
  FFirstMove = true;
  update();
  UpdateHandles();
}

void TResizer::TrackSizing(THandlePosition Position, int X, int Y) {
  if (!FSizing) return;
  if (OnReSizing) OnReSizing(this, FResizeControl, Position, X, Y);
  const int dx = X - FStartX;
  const int dy = Y - FStartY;
  int L = FOrigLeft, T = FOrigTop, R = FOrigRight, B = FOrigBottom;
  const int col = Position % 3;
  const int row = Position / 3;
  if (Position == hpMove) {
    L += dx;
    R += dx;
    T += dy;
    B += dy;
  } else {
    if (col == 0) L += dx;
    if (col == 2) R += dx;
    if (row == 0) T += dy;
    if (row == 2) B += dy;
  }
  if (Position == hpMove) {
    FCurLeft = L;
    FCurTop = T;
    FCurRight = R;
    FCurBottom = B;
  } else {
    int h = B - T;
    int w = R - L;
    if (FConstraints.MaxHeight > 0) h = std::clamp(h, -FConstraints.MaxHeight, FConstraints.MaxHeight);
    if (FConstraints.MaxWidth > 0) w = std::clamp(w, -FConstraints.MaxWidth, FConstraints.MaxWidth);
    int w2 = w, h2 = h;
    if (FKeepAspectRatio && FAspectRatio != 0) {
      w2 = Trunc(std::fabs(static_cast<double>(FAspectRatio) * h));
      h2 = Trunc(std::fabs(w / static_cast<double>(FAspectRatio)));
    }
    // The edges the handle does not own stay; a corner takes the larger of
    // the rectangle driven by the horizontal drag and the one driven by the
    // vertical drag.
    const bool vertical = w < w2;
    L = FOrigLeft;
    T = FOrigTop;
    R = FOrigRight;
    B = FOrigBottom;
    switch (Position) {
      case 0:
        T = B - (vertical ? h : h2);
        L = R - (vertical ? w2 : w);
        break;
      case 1:
        T = B - h;
        R = L + w2;
        break;
      case 2:
        T = B - (vertical ? h : h2);
        R = L + (vertical ? w2 : w);
        break;
      case 3:
        B = T + h2;
        L = R - w;
        break;
      case 5:
        B = T + h2;
        R = L + w;
        break;
      case 6:
        B = T + (vertical ? h : h2);
        L = R - (vertical ? w2 : w);
        break;
      case 7:
        B = T + h;
        R = L + w2;
        break;
      case 8:
        B = T + (vertical ? h : h2);
        R = L + (vertical ? w2 : w);
        break;
      default:
        return;
    }
    FCurLeft = L;
    FCurTop = T;
    FCurRight = R;
    FCurBottom = B;
  }
  if (SizingLive()) {
    ApplyRect(FResizeControl);
  } else {
    // The outline follows; the first move finds it where the press put it.
    DrawBand();
  }
  FFirstMove = false;
}

void TResizer::EndSizing() {
  if (!FSizing) return;
  FHiddenForSizing = false;
  FSizing = false;
  EraseBand();
  update();
  UpdateHandles();
  ApplyRect(this);
  if (FResizeControl) ApplyRect(FResizeControl);
}

void TResizer::CancelSizing() {
  FLastCancelTick = TickSource();
  FCancelled = true;
  if (!FSizing) return;
  EraseBand();
  FCurLeft = FOrigLeft;
  FCurTop = FOrigTop;
  FCurRight = FOrigRight;
  FCurBottom = FOrigBottom;
  EndSizing();
}

QWidget* TResizer::DrawingParent() const {
  for (QWidget* p = parentWidget(); p; p = p->parentWidget())
    if (p->isWindow() || qobject_cast<TPrintPreview*>(p)) return p;
  throw Exception(QStringLiteral("Can't find valid parent"));
}

void TResizer::DrawBand() {
  QWidget* target = DrawingParent();
  if (!FBand || FBand->parentWidget() != target) {
    delete FBand.data();
    FBand = new TResizerBand(target);
  }
  auto* band = static_cast<TResizerBand*>(FBand.data());
  band->Pen = FPen;
  band->Brush = FBrush;
  // A drag past the opposite edge shows the flipped rectangle.
  const QRect r(std::min(FCurLeft, FCurRight), std::min(FCurTop, FCurBottom), std::abs(FCurRight - FCurLeft),
                std::abs(FCurBottom - FCurTop));
  const QPoint origin = parentWidget()->mapTo(target, r.topLeft());
  band->setGeometry(QRect(origin, r.size()));
  band->show();
  band->raise();
  band->update();
}

void TResizer::EraseBand() {
  if (FBand) FBand->hide();
}

void TResizer::ApplyRect(QWidget* Control) {
  if (!Control) return;
  const int l = std::min(FCurLeft, FCurRight), r = std::max(FCurLeft, FCurRight);
  const int t = std::min(FCurTop, FCurBottom), b = std::max(FCurTop, FCurBottom);
  if (Control == this)
    SetBounds(l, t, r - l, b - t);
  else if (auto* item = dynamic_cast<IPreviewable*>(Control))
    item->SetBounds(l, t, r - l, b - t);  // the item carries it into print geometry
  else
    Control->setGeometry(l, t, r - l, b - t);
}
