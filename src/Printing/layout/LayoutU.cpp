#include "Printing/layout/LayoutU.h"

#include <algorithm>
#include <limits>

namespace {

const QString kSizeError = QStringLiteral("Width and height must be greater than 0");

// Coordinates beyond the int range cannot be represented; such a rectangle
// is refused before anything wraps around.
int CheckedSum(qint64 A, qint64 B) {
  const qint64 s = A + B;
  if (s > std::numeric_limits<int>::max() || s < std::numeric_limits<int>::min())
    throw Exception(QStringLiteral("Rectangle exceeds the coordinate range"));
  return static_cast<int>(s);
}

int Sign(qint64 V) { return (V > 0) - (V < 0); }

// printf's "%6.4f" / "%.2f", always with "." as separator.
QString FormatFloat(double V, int Decimals, int Width = 0) {
  return QStringLiteral("%1").arg(V, Width, 'f', Decimals, QLatin1Char(' '));
}

QString FormatCell(double X1, double Y1, double X2, double Y2, int Decimals, int Width) {
  return FormatFloat(X1, Decimals, Width) + QLatin1Char(',') + FormatFloat(Y1, Decimals, Width) +
         QLatin1Char(',') + FormatFloat(X2, Decimals, Width) + QLatin1Char(',') +
         FormatFloat(Y2, Decimals, Width) + QLatin1Char(';');
}

}  // namespace

// --- TRectangle --------------------------------------------------------------

TRectangle::TRectangle(int ALeft, int ATop, int AWidth, int AHeight) {
  if (ALeft < 0 || ATop < 0) throw Exception(QStringLiteral("Left and top must be greater than 0"));
  if (AWidth <= 0 || AHeight <= 0) throw Exception(kSizeError);
  CheckedSum(ALeft, AWidth);
  CheckedSum(ATop, AHeight);
  Left = ALeft;
  Top = ATop;
  Width = AWidth;
  Height = AHeight;
}

qint64 TRectangle::CountFit(qint64 W, qint64 H) const {
  if (W <= 0 || H <= 0) throw Exception(kSizeError);
  return (Width / W) * (Height / H);
}

void TRectangle::SetRight(int X) {
  if (X < Left) {
    Width = Left - X;
    Left = X;
  } else {
    Width = X - Left;
  }
}

QRect TRectangle::AsRect() const { return QRect(QPoint(Left, Top), QPoint(Right(), Bottom())); }

// --- TRectangleList ----------------------------------------------------------

int TRectangleList::IndexOf(const TRectangle* R) const {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == R) return static_cast<int>(i);
  return -1;
}

bool TRectangleList::Remove(const TRectangle* R) {
  const int i = IndexOf(R);
  if (i < 0) return false;
  FItems.erase(FItems.begin() + i);
  return true;
}

void TRectangleList::Sort(const std::function<bool(const TRectangle&, const TRectangle&)>& Less) {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [&Less](const std::unique_ptr<TRectangle>& A, const std::unique_ptr<TRectangle>& B) {
                     return Less(*A, *B);
                   });
}

// --- TLayout -----------------------------------------------------------------

TLayout::TLayout() = default;

TLayout::~TLayout() = default;

void TLayout::Clear() { FFreeRects.Clear(); }

void TLayout::Reset() {
  Clear();
  if (HasLayout())
    ParseLayout(FLayoutText, true);
  else
    FFreeRects.Add(std::make_unique<TRectangle>(PageRect.Left, PageRect.Top, PageRect.Width, PageRect.Height));
}

void TLayout::SetLayoutText(const QString& Text) {
  if (Text == FLayoutText) return;
  FLayoutText = Text;
  Reset();
}

void TLayout::SetOrientation(TPrinterOrientation Value) {
  if (Value == FOrientation) return;
  FOrientation = Value;
  if (HasLayout()) Sort(true);
}

void TLayout::Sort(bool ByPosition) {
  if (!ByPosition) {
    FFreeRects.Sort([](const TRectangle& A, const TRectangle& B) { return A.Area() < B.Area(); });
  } else if (FOrientation == poLandscape) {
    // A landscape page is shown turned a quarter counter-clockwise: its
    // rightmost column is the top row on screen.
    FFreeRects.Sort([](const TRectangle& A, const TRectangle& B) {
      if (A.Left != B.Left) return A.Left > B.Left;
      return A.Top < B.Top;
    });
  } else {
    FFreeRects.Sort([](const TRectangle& A, const TRectangle& B) {
      if (A.Top != B.Top) return A.Top < B.Top;
      return A.Left < B.Left;
    });
  }
}

void TLayout::ParseLayout(const QString& Text, bool RotateIfLandscape) {
  const bool portrait = PageRect.Width < PageRect.Height;
  const double pw = PageRect.Width;
  const double ph = PageRect.Height;
  const QString text = Text.trimmed();
  qsizetype pos = 0;
  const qsizetype len = text.size();

  // Each number ends at the first "," or ";" after it, or at the end of the
  // text; the separator is consumed.
  auto readNumber = [&]() {
    qsizetype end = pos;
    while (end < len && text.at(end) != QLatin1Char(',') && text.at(end) != QLatin1Char(';')) ++end;
    const QString number = text.mid(pos, end - pos);
    pos = end < len ? end + 1 : end;
    return StrToFloat(number);
  };

  while (pos < len) {
    const double x1 = readNumber();
    const double y1 = readNumber();
    const double x2 = readNumber();
    const double y2 = readNumber();
    if (pos < len && text.at(pos) == QLatin1Char(';')) ++pos;

    int wc, hc, l, t;
    if (portrait || !RotateIfLandscape) {
      wc = Trunc((x2 - x1) * pw);
      hc = Trunc((y2 - y1) * ph);
      l = Trunc(pw * x1);
      t = Trunc(ph * y1);
    } else {
      // A landscape page rectangle: the layout is turned a quarter.
      wc = Trunc((y2 - y1) * pw);
      hc = Trunc((x2 - x1) * ph);
      l = Trunc(pw * y1);
      t = Trunc((1 - x2) * ph);
    }
    // One unit narrower and lower than its share, so that neighbouring
    // cells never touch and are never merged.
    AddFreeRect(CheckedSum(PageRect.Left, l), CheckedSum(PageRect.Top, t), CheckedSum(wc, -1),
                CheckedSum(hc, -1));
  }
  Sort(true);
}

TRectangle* TLayout::FindFreeRect(bool& Rotated, int W, int H, bool AllowRotate) {
  if (W < 1 || H < 1) throw Exception(kSizeError);
  Rotated = false;
  const bool layout = HasLayout();
  for (int i = 0; i < FFreeRects.Count(); ++i) {
    TRectangle* r = FFreeRects[i];
    if (layout && r->Fits(20, 20)) return r;  // the item will be scaled into the cell
    if (r->Fits(W, H)) return r;
    if (AllowRotate && r->Fits(H, W)) {
      Rotated = true;
      return r;
    }
  }
  return nullptr;
}

bool TLayout::CanPlace(int W, int H, bool AllowRotate) {
  bool rotated = false;
  return FindFreeRect(rotated, W, H, AllowRotate) != nullptr;
}

void TLayout::Place(int W, int H, int Gap, bool AllowRotate, TRectangle* FreeRect, bool Force,
                    TLayoutPosition& Position) {
  if (W < 1 || H < 1) throw Exception(kSizeError);
  Gap = std::max(Gap, 0);
  bool rotated = false;
  if (!FreeRect) {
    FreeRect = FindFreeRect(rotated, W, H, AllowRotate);
  } else {
    if (FFreeRects.IndexOf(FreeRect) < 0)
      throw Exception(QStringLiteral("FreeRect is not a free rectangle of this layout"));
    rotated = FreeRect->Width < W || FreeRect->Height < H;
  }
  if (!FreeRect) {
    if (Force && FFreeRects.Count() > 0) {
      FreeRect = FFreeRects[FFreeRects.Count() - 1];
      rotated = false;
    } else {
      throw LayoutException(QStringLiteral("Insufficent free space in layout"));
    }
  }

  const bool layout = HasLayout();
  const qint64 w = W, h = H, gap = Gap;
  if (AllowRotate && !rotated) {
    if (layout)
      rotated = Sign(h - w) != Sign(static_cast<qint64>(FreeRect->Height) - FreeRect->Width);
    else
      rotated = FreeRect->CountFit(h + gap, w + gap) > FreeRect->CountFit(w + gap, h + gap);
  }

  Position.Left = FreeRect->Left;
  Position.Top = FreeRect->Top;
  Position.Rotated = rotated;

  qint64 iw = w, ih = h;
  if (layout) {  // the item takes the whole cell
    iw = rotated ? FreeRect->Height : FreeRect->Width;
    ih = rotated ? FreeRect->Width : FreeRect->Height;
  }
  const qint64 across = rotated ? ih : iw;
  const qint64 down = rotated ? iw : ih;
  const int x = static_cast<int>(std::min<qint64>(across + gap, FreeRect->Width));
  const int y = static_cast<int>(std::min<qint64>(down + gap, FreeRect->Height));
  Position.Width = x;
  Position.Height = y;

  if (layout) {
    FFreeRects.Remove(FreeRect);
  } else if (FOrientation == poLandscape) {
    Position.Left = FreeRect->Right() - x;
    SubtractFromFreeRectangle(FreeRect, x, y, Gap, true);
  } else {
    SubtractFromFreeRectangle(FreeRect, x, y, Gap, false);
  }
  SortForMode();
}

void TLayout::SubtractFromFreeRectangle(TRectangle* FreeRect, int W, int H, int Gap, bool RightAligned) {
  if (!FreeRect) throw Exception(QStringLiteral("FreeRect not assigned"));
  if (!FreeRect->Fits(W, H))
    throw Exception(QStringLiteral("Width or height too great in SubtractFromFreeRectangle"));
  if (FFreeRects.IndexOf(FreeRect) < 0)
    throw Exception(QStringLiteral("FreeRect is not a free rectangle of this layout"));
  Gap = std::max(Gap, 0);
  const TRectangle f = *FreeRect;
  const int w = static_cast<int>(std::min<qint64>(static_cast<qint64>(W) + Gap, f.Width));
  const int rw = f.Width - w;  // the width left beside the item
  const int h = static_cast<int>(std::min<qint64>(static_cast<qint64>(H) + Gap, f.Height));
  const int rh = f.Height - h;  // the height left below it

  // Keep the larger leftover piece whole: A keeps a full-width piece below,
  // B a full-height piece beside; ties choose B.
  const qint64 a = std::max(static_cast<qint64>(rw) * h, static_cast<qint64>(f.Width) * rh);
  const qint64 b = std::max(static_cast<qint64>(w) * rh, static_cast<qint64>(rw) * f.Height);
  const bool cutA = a > b;

  struct TPiece {
    int Left, Top, Width, Height;
  };
  TPiece p1, p2;
  if (cutA && !RightAligned) {
    p1 = {f.Left + w, f.Top, rw, h};
    p2 = {f.Left, f.Top + h, f.Width, rh};
  } else if (!RightAligned) {
    p1 = {f.Left, f.Top + h, w, rh};
    p2 = {f.Left + w, f.Top, rw, f.Height};
  } else if (cutA) {
    p1 = {f.Left, f.Top, rw, h};
    p2 = {f.Left, f.Top + h, f.Width, rh};
  } else {
    p1 = {f.Right() - w, f.Top + h, w, rh};
    p2 = {f.Left, f.Top, rw, f.Height};
  }

  FFreeRects.Remove(FreeRect);
  for (const TPiece& p : {p1, p2}) {
    if (p.Width <= 0 || p.Height <= 0) continue;
    auto piece = std::make_unique<TRectangle>(p.Left, p.Top, p.Width, p.Height);
    TryMerge(piece.get());
    FFreeRects.Add(std::move(piece));
  }
}

void TLayout::AddFreeRect(int Left, int Top, int Width, int Height) {
  if (Width <= 0 || Height <= 0) return;
  auto r = std::make_unique<TRectangle>(Left, Top, Width, Height);
  TryMerge(r.get());
  FFreeRects.Add(std::move(r));
}

void TLayout::AddFreeRectFrom(const TLayoutPosition& Position) {
  AddFreeRect(Position.Left, Position.Top, Position.Width, Position.Height);
}

bool TLayout::TryMerge(TRectangle* Rect) {
  if (!Rect) throw Exception(QStringLiteral("AFirst not assigned"));
  bool merged = false;
  int i = FFreeRects.Count() - 1;
  while (i >= 0) {
    TRectangle* other = FFreeRects[i];
    if (other != Rect && MergeRects(Rect, other)) {
      merged = true;
      i = FFreeRects.Count() - 1;  // start again from the new last one
      continue;
    }
    --i;
  }
  return merged;
}

bool TLayout::MergeRects(TRectangle* AFirst, TRectangle* ASecond) {
  if (!AFirst) throw Exception(QStringLiteral("AFirst not assigned"));
  if (!ASecond) throw Exception(QStringLiteral("ASecond not assigned"));
  bool merged = false;
  if (AFirst->Left == ASecond->Left && AFirst->Width == ASecond->Width) {
    if (AFirst->Bottom() == ASecond->Top) {
      AFirst->Height += ASecond->Height;
      merged = true;
    } else if (ASecond->Bottom() == AFirst->Top) {
      AFirst->Top = ASecond->Top;
      AFirst->Height += ASecond->Height;
      merged = true;
    }
  } else if (AFirst->Top == ASecond->Top && AFirst->Height == ASecond->Height) {
    if (AFirst->Right() == ASecond->Left) {
      AFirst->SetRight(ASecond->Right());
      merged = true;
    } else if (ASecond->Right() == AFirst->Left) {
      AFirst->Left = ASecond->Left;
      AFirst->Width += ASecond->Width;
      merged = true;
    }
  }
  if (merged) FFreeRects.Remove(ASecond);
  return merged;
}

QString TLayout::FreeRectsText() const {
  if (FFreeRects.Count() == 0) return QString();
  if (PageRect.Width <= 0 || PageRect.Height <= 0) throw Exception(kSizeError);
  const double pw = PageRect.Width;
  const double ph = PageRect.Height;
  QString out;
  for (int i = 0; i < FFreeRects.Count(); ++i) {
    const TRectangle& r = *FFreeRects[i];
    out += FormatCell((r.Left - PageRect.Left) / pw, (r.Top - PageRect.Top) / ph,
                      (static_cast<double>(r.Right()) - PageRect.Left) / pw,
                      (static_cast<double>(r.Bottom()) - PageRect.Top) / ph, 2, 0);
  }
  return out;
}

void TLayout::SetFreeRectsText(const QString& Text) {
  Clear();
  ParseLayout(Text, false);
}

QString TLayout::FormatRect(const TLayoutPosition& Position) const {
  if (PageRect.Width <= 0 || PageRect.Height <= 0) throw Exception(kSizeError);
  const double pw = PageRect.Width;
  const double ph = PageRect.Height;
  return FormatCell(Position.Left / pw, Position.Top / ph,
                    (static_cast<double>(Position.Left) + Position.Width) / pw,
                    (static_cast<double>(Position.Top) + Position.Height) / ph, 4, 6);
}

QString TLayout::ThumbsText(int Across, int Down) {
  if (Across <= 0) throw Exception(QStringLiteral("Thumbs Across must be >0"));
  if (Down <= 0) throw Exception(QStringLiteral("Thumbs Down must be >0"));
  QString out;
  for (int r = 0; r < Down; ++r)
    for (int c = 0; c < Across; ++c)
      out += FormatCell(static_cast<double>(c) / Across, static_cast<double>(r) / Down,
                        static_cast<double>(c + 1) / Across, static_cast<double>(r + 1) / Down, 4, 6);
  return out;
}
