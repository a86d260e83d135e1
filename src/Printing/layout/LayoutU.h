#pragma once

// Free-rectangle packing of one page, and the layout text format.
//
// Without a layout text the printable area starts as one free rectangle and
// every placed item is cut out of the free rectangle that receives it; with
// a layout text the free rectangles are fixed cells (fractions of the page)
// and an item takes a whole cell. All lengths are integers in tenths of a
// millimetre on the printer's axes, (0, 0) at the paper's top left corner.

#include "platform/Exceptions.h"
#include "platform/Printer.h"

#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class TRectangle {
public:
  // The all-zero rectangle (the page rectangle before it is set).
  TRectangle() = default;
  // Fails with "Left and top must be greater than 0" for a negative corner,
  // "Width and height must be greater than 0" for an empty size.
  TRectangle(int ALeft, int ATop, int AWidth, int AHeight);

  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;

  int Right() const { return Left + Width; }
  int Bottom() const { return Top + Height; }
  qint64 Area() const { return static_cast<qint64>(Width) * Height; }

  bool Fits(int W, int H) const { return Width >= W && Height >= H; }
  // The number of W x H tiles in a grid inside the rectangle.
  qint64 CountFit(qint64 W, qint64 H) const;
  void SetRight(int X);
  // For drawing: (left, top) to (right, bottom).
  QRect AsRect() const;

  bool operator==(const TRectangle& O) const {
    return Left == O.Left && Top == O.Top && Width == O.Width && Height == O.Height;
  }
};

// The free rectangles of a layout; the list owns them.
class TRectangleList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  TRectangle* Get(int Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
  TRectangle* operator[](int Index) const { return Get(Index); }
  void Add(std::unique_ptr<TRectangle> R) { FItems.push_back(std::move(R)); }
  int IndexOf(const TRectangle* R) const;
  // Removes and frees the rectangle; false when it is not in the list.
  bool Remove(const TRectangle* R);
  void Clear() { FItems.clear(); }
  // Stable sort: rectangles that compare equal keep their order.
  void Sort(const std::function<bool(const TRectangle&, const TRectangle&)>& Less);

private:
  std::vector<std::unique_ptr<TRectangle>> FItems;
};

// The rectangle an item was given, and whether it must be turned by a quarter.
struct TLayoutPosition {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Rotated = false;
};

// Raised when a page has no room for an item.
class LayoutException : public Exception {
public:
  using Exception::Exception;
};

class TLayout {
public:
  TLayout();
  ~TLayout();
  TLayout(const TLayout&) = delete;
  TLayout& operator=(const TLayout&) = delete;

  // The printable area of the page; the page sets it before every Reset.
  TRectangle PageRect;

  // Back to the initial state for the current text and page rectangle.
  void Reset();
  // Frees every free rectangle.
  void Clear();

  const QString& LayoutText() const { return FLayoutText; }
  void SetLayoutText(const QString& Text);
  bool HasLayout() const { return !FLayoutText.isEmpty(); }

  TPrinterOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TPrinterOrientation Value);

  const TRectangleList& FreeRects() const { return FFreeRects; }

  TRectangle* FindFreeRect(bool& Rotated, int W, int H, bool AllowRotate);
  bool CanPlace(int W, int H, bool AllowRotate);
  // FreeRect must be one of FreeRects() or nullptr (the layout finds one).
  void Place(int W, int H, int Gap, bool AllowRotate, TRectangle* FreeRect, bool Force,
             TLayoutPosition& Position);
  void SubtractFromFreeRectangle(TRectangle* FreeRect, int W, int H, int Gap, bool RightAligned);

  // Give space back.
  void AddFreeRect(int Left, int Top, int Width, int Height);
  void AddFreeRectFrom(const TLayoutPosition& Position);
  bool TryMerge(TRectangle* Rect);

  // The current free rectangles as layout text (two decimals), and back.
  QString FreeRectsText() const;
  void SetFreeRectsText(const QString& Text);

  // One cell of layout text for a rectangle given relative to the corner of
  // PageRect.
  QString FormatRect(const TLayoutPosition& Position) const;
  // A grid of Across x Down cells, row by row.
  static QString ThumbsText(int Across, int Down);

  void Sort(bool ByPosition);

private:
  void ParseLayout(const QString& Text, bool RotateIfLandscape);
  bool MergeRects(TRectangle* AFirst, TRectangle* ASecond);
  void SortForMode() { Sort(HasLayout()); }

  TRectangleList FFreeRects;
  QString FLayoutText;
  TPrinterOrientation FOrientation = poPortrait;
};
