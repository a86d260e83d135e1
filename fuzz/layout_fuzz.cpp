// Drives a page layout from arbitrary bytes: a page rectangle, an optional
// layout text, then a sequence of placements (with and without force),
// give-backs of placed positions, resets and text round trips. Every input
// must end in the layout's own errors or in success; in free packing the
// free rectangles must stay disjoint, inside the page rectangle and clear of
// every placed item after every step.

#include "Printing/layout/LayoutU.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

class TReader {
public:
  TReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  bool AtEnd() const { return FPos >= FSize; }
  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  QString Text(size_t Length) {
    const size_t n = Length < FSize - FPos ? Length : FSize - FPos;
    QString s = QString::fromLatin1(reinterpret_cast<const char*>(FData + FPos), static_cast<qsizetype>(n));
    FPos += n;
    return s;
  }

private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

const TRectangle kPages[] = {
    TRectangle(0, 0, 2000, 2800),   TRectangle(50, 50, 2000, 2800), TRectangle(30, 40, 2800, 2000),
    TRectangle(0, 0, 1000, 1000),   TRectangle(0, 0, 1, 1),         TRectangle(7, 3, 21, 29),
    TRectangle(0, 0, 40000, 40000), TRectangle(100, 0, 999, 2),
};

bool Overlap(int l1, int t1, int w1, int h1, int l2, int t2, int w2, int h2) {
  return l1 < l2 + w2 && l2 < l1 + w1 && t1 < t2 + h2 && t2 < t1 + h1;
}

void Check(bool Ok) {
  if (!Ok) std::abort();
}

void CheckFreePacking(const TLayout& L, const std::vector<TLayoutPosition>& Placed) {
  const TRectangleList& free = L.FreeRects();
  const TRectangle& page = L.PageRect;
  for (int i = 0; i < free.Count(); ++i) {
    const TRectangle& a = *free[i];
    Check(a.Width > 0 && a.Height > 0);
    Check(a.Left >= page.Left && a.Top >= page.Top && a.Right() <= page.Right() && a.Bottom() <= page.Bottom());
    for (int j = i + 1; j < free.Count(); ++j) {
      const TRectangle& b = *free[j];
      Check(!Overlap(a.Left, a.Top, a.Width, a.Height, b.Left, b.Top, b.Width, b.Height));
    }
    for (const TLayoutPosition& p : Placed)
      Check(!Overlap(a.Left, a.Top, a.Width, a.Height, p.Left, p.Top, p.Width, p.Height));
  }
  for (const TLayoutPosition& p : Placed)
    Check(p.Left >= page.Left && p.Top >= page.Top && p.Left + p.Width <= page.Right() &&
          p.Top + p.Height <= page.Bottom());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TReader in(Data, Size);
  const uint8_t setup = in.Byte();
  TLayout L;
  L.PageRect = kPages[setup & 7];
  L.SetOrientation((setup & 8) ? poLandscape : poPortrait);
  const int mode = (setup >> 4) % 3;  // 0 free packing, 1 page layout, 2 restored free rectangles
  try {
    if (mode == 0) {
      L.Reset();
    } else {
      const QString text = in.Text(in.Word() % 1024);
      if (mode == 1)
        L.SetLayoutText(text);
      else
        L.SetFreeRectsText(text);
    }
  } catch (const Exception&) {
    // a text the layout refuses; what was read before stays, go on with it
  }

  // Invariants hold only while the layout packs freely from its own state.
  bool checked = mode == 0 && !L.HasLayout();
  std::vector<TLayoutPosition> placed;
  for (int step = 0; step < 128 && !in.AtEnd(); ++step) {
    const uint8_t op = in.Byte();
    try {
      switch (op % 8) {
        case 0:
        case 1:
        case 2: {  // place, with or without force, at any size
          const uint8_t shift = in.Byte();
          const int w = static_cast<int>(in.Word()) << (shift & 15);
          const int h = static_cast<int>(in.Word()) << ((shift >> 4) & 15);
          const int gap = (op >> 3) & 7;
          const bool allowRotate = op & 0x40;
          const bool force = op & 0x80;
          TLayoutPosition p;
          TRectangle* freeRect = nullptr;
          if (op % 8 == 2 && L.FreeRects().Count() > 0) freeRect = L.FreeRects()[in.Byte() % L.FreeRects().Count()];
          L.Place(w, h, gap, allowRotate, freeRect, force, p);
          Check(p.Width >= 0 && p.Height >= 0);
          placed.push_back(p);
          break;
        }
        case 3:
        case 4: {  // give a placed position back
          if (placed.empty()) break;
          const size_t k = in.Byte() % placed.size();
          L.AddFreeRectFrom(placed[k]);
          placed.erase(placed.begin() + static_cast<long>(k));
          break;
        }
        case 5:  // start again
          L.Reset();
          placed.clear();
          checked = !L.HasLayout();
          break;
        case 6: {  // the free rectangles through their text and back
          const QString text = L.FreeRectsText();
          L.SetFreeRectsText(text);
          placed.clear();
          break;
        }
        case 7: {  // texts that need no state
          bool rotated = false;
          L.FindFreeRect(rotated, 1 + in.Byte(), 1 + in.Byte(), op & 0x10);
          (void)TLayout::ThumbsText(in.Byte() % 13, in.Byte() % 13);
          if (!placed.empty()) (void)L.FormatRect(placed.back());
          L.SetOrientation((op & 0x20) ? poLandscape : poPortrait);
          break;
        }
      }
    } catch (const Exception&) {
      // the layout's own errors: the layout must still be consistent
    }
    if (checked) CheckFreePacking(L, placed);
  }
  return 0;
}
