#pragma once

// The sizing frame: a frame with nine handles laid over one control so that
// the user can move it (drag the frame or its centre handle) or size it (drag
// one of the eight edge and corner handles), optionally keeping its
// proportions. While the mouse is down the frame hides itself and shows an
// inverting outline over the parent (or sizes the control live); on release
// it applies the new rectangle to itself and to the control. A control that
// is a document item carries the change into print geometry through its own
// SetBounds. The frame knows nothing of pages or print units: it works in
// screen pixels of its parent, which it shares with the control.

#include "platform/Component.h"

#include <QBrush>
#include <QColor>
#include <QFlags>
#include <QMenu>
#include <QPen>
#include <QPointer>
#include <QWidget>

#include <array>
#include <functional>

class TResizer;

namespace ResizerTypes {
Q_NAMESPACE

enum TResizerOption {
  roRedrawControlWhileSizing = 0x01,  // size the control live instead of showing an outline
  roAlwaysDrag = 0x02,                // a press on the frame starts a move; no centre handle
  roCanResize = 0x04,                 // the eight sizing handles work
  roCanMove = 0x08,                   // moving is allowed
  roAlwaysShowHandles = 0x10,         // disabled handles are drawn too, in HandleDisabledColor
};
Q_DECLARE_FLAGS(TResizerOptions, TResizerOption)
Q_FLAG_NS(TResizerOptions)
}  // namespace ResizerTypes

Q_DECLARE_OPERATORS_FOR_FLAGS(ResizerTypes::TResizerOptions)

using ResizerTypes::TResizerOption;
using ResizerTypes::TResizerOptions;
using namespace ResizerTypes;  // the option values (roCanMove, ...)

// The handle number, row by row in a 3 x 3 grid: 0 top left, 1 top, 2 top
// right, 3 left, 4 centre (move), 5 right, 6 bottom left, 7 bottom, 8 bottom
// right.
using THandlePosition = int;
constexpr THandlePosition hpMove = 4;

using TBeginReSizingEvent = std::function<void(QObject* Sender, QWidget* ResizeControl, THandlePosition Position,
                                               int X, int Y, bool& Cancel)>;
using TReSizingEvent =
    std::function<void(QObject* Sender, QWidget* ResizeControl, THandlePosition Position, int X, int Y)>;
using TEndSizingEvent = std::function<void(QObject* Sender, QWidget* ResizeControl)>;
using TResizerNotifyEvent = std::function<void(QObject* Sender)>;
// Milliseconds of a steady clock.
using TTickSource = std::function<qint64()>;

// Limits of sizing: 0 is no limit.
struct TResizerConstraints {
  int MaxWidth = 0;
  int MaxHeight = 0;
};

// One handle of the frame. It lives beside the frame, in the frame's parent,
// so that it may stick out of the frame.
class TResizerHandle : public QWidget {
  Q_OBJECT

public:
  TResizerHandle(TResizer* AResizer, THandlePosition APosition);

  TResizer* Resizer() const { return FResizer; }
  THandlePosition Position() const { return FPosition; }
  // Whether the handle's option (moving for the centre, sizing for the
  // others) is on.
  bool HandleEnabled() const;
  // Whether the handle is drawn at all while the frame shows.
  bool Drawn() const;
  const QPen& Pen() const { return FPen; }
  void SetPen(const QPen& Value) { FPen = Value; }
  // Whether this handle's press started the current drag.
  bool StartedDrag() const { return FStartedDrag; }

protected:
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;

private:
  TResizer* FResizer;
  THandlePosition FPosition;
  QPen FPen;
  bool FStartedDrag = false;
};

class TResizer : public QWidget, public TComponent {
  Q_OBJECT

public:
  // A frame owned by AOwner, drawn in AParent (the document control).
  explicit TResizer(QObject* AOwner, QWidget* AParent = nullptr);
  ~TResizer() override;

  const QPen& Pen() const { return FPen; }
  void SetPen(const QPen& Value);
  const QBrush& Brush() const { return FBrush; }
  void SetBrush(const QBrush& Value);
  const QBrush& HandleBrush() const { return FHandleBrush; }
  void SetHandleBrush(const QBrush& Value);
  QColor HandleEnabledColor() const { return FHandleEnabledColor; }
  void SetHandleEnabledColor(const QColor& Value);
  QColor HandleDisabledColor() const { return FHandleDisabledColor; }
  void SetHandleDisabledColor(const QColor& Value);
  int HandleSize() const { return FHandleSize; }
  // A size of 0 or less is ignored.
  void SetHandleSize(int Value);
  bool KeepAspectRatio() const { return FKeepAspectRatio; }
  // Switched on with no ratio yet, the frame's own proportions are taken.
  void SetKeepAspectRatio(bool Value);
  float AspectRatio() const { return FAspectRatio; }
  void SetAspectRatio(float Value) { FAspectRatio = Value; }
  QWidget* ResizeControl() const { return FResizeControl; }
  // Frames a control (shown over it, with its bounds and proportions), or
  // with nullptr hides the frame.
  void SetResizeControl(QWidget* Value);
  TResizerOptions Options() const { return FOptions; }
  void SetOptions(TResizerOptions Value);
  TResizerConstraints& Constraints() { return FConstraints; }
  const TResizerConstraints& Constraints() const { return FConstraints; }
  // The menu shown on a right click outside a drag.
  QMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(QMenu* Value) { FPopupMenu = Value; }

  TBeginReSizingEvent OnBeginSizing;  // may refuse a drag
  TReSizingEvent OnReSizing;          // each mouse move of a drag
  TEndSizingEvent OnEndSizing;        // kept for handlers; the frame does not fire it
  TResizerNotifyEvent OnDblClick;
  // The clock of the guard after a cancel; a steady clock unless replaced.
  TTickSource TickSource;

  // Takes the control's bounds, proportions and visibility.
  void FitToControl();
  // The control, then the frame, then its handles on top.
  void BringAllToFront();
  // Bounds in the parent's pixels; the handles follow.
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
  void setVisible(bool Visible) override;

  // The drag. Coordinates are those of the widget that got the press; only
  // their differences matter.
  void BeginSizing(THandlePosition Position, int X, int Y);
  void TrackSizing(THandlePosition Position, int X, int Y);
  void EndSizing();
  void CancelSizing();

  // Drag state.
  bool Sizing() const { return FSizing; }
  int StartX() const { return FStartX; }
  int StartY() const { return FStartY; }
  int OrigLeft() const { return FOrigLeft; }
  int OrigTop() const { return FOrigTop; }
  int OrigRight() const { return FOrigRight; }
  int OrigBottom() const { return FOrigBottom; }
  int CurLeft() const { return FCurLeft; }
  int CurTop() const { return FCurTop; }
  int CurRight() const { return FCurRight; }
  int CurBottom() const { return FCurBottom; }
  bool FirstMove() const { return FFirstMove; }
  qint64 LastCancelTick() const { return FLastCancelTick; }
  // Whether the frame is hidden for a drag (it keeps the mouse meanwhile).
  bool HiddenForSizing() const { return FHiddenForSizing; }

  TResizerHandle* Handle(THandlePosition Position) const { return FHandles[Position]; }
  // The outline shown during a drag, nullptr before the first drag.
  QWidget* Band() const { return FBand; }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void paintEvent(QPaintEvent* Event) override;
  void moveEvent(QMoveEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void contextMenuEvent(QContextMenuEvent* Event) override;

private:
  friend class TResizerHandle;
  void PlaceHandles();
  void UpdateHandles();
  void UpdateCursors();
  bool SizingLive() const;
  // The outline at the current rectangle, or hidden.
  void DrawBand();
  void EraseBand();
  QWidget* DrawingParent() const;
  void ApplyRect(QWidget* Control);
  // A right press during a drag cancels it, and its menu is not shown.
  void CancelByRightPress();
  // The popup menu at a screen point; false without one.
  bool ShowPopupMenu(const QPoint& GlobalPos);

  QPen FPen;
  QBrush FBrush;
  QBrush FHandleBrush;
  QColor FHandleEnabledColor = Qt::black;
  QColor FHandleDisabledColor = Qt::black;
  int FHandleSize = 5;
  bool FKeepAspectRatio = false;
  float FAspectRatio = 0;
  QPointer<QWidget> FResizeControl;
  TComponent* FResizeComponent = nullptr;
  TResizerOptions FOptions = TResizerOptions(roCanResize) | roCanMove;
  TResizerConstraints FConstraints;
  QPointer<QMenu> FPopupMenu;
  std::array<QPointer<TResizerHandle>, 9> FHandles{};
  QPointer<QWidget> FBand;

  bool FSizing = false;
  bool FHiddenForSizing = false;
  bool FFrameStartedDrag = false;
  bool FSkipContextMenu = false;
  int FStartX = 0, FStartY = 0;
  int FOrigLeft = 0, FOrigTop = 0, FOrigRight = 0, FOrigBottom = 0;
  int FCurLeft = 0, FCurTop = 0, FCurRight = 0, FCurBottom = 0;
  bool FFirstMove = false;
  qint64 FLastCancelTick = 0;
  bool FCancelled = false;  // a cancel has happened: the guard applies
};
