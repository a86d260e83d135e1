#include "Printing/layout/LayoutU.h"

#include "TestSupport.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

struct R {
  int Left, Top, Width, Height;
};

std::vector<R> Rects(const TLayout& L) {
  std::vector<R> out;
  for (int i = 0; i < L.FreeRects().Count(); ++i) {
    const TRectangle& r = *L.FreeRects()[i];
    out.push_back({r.Left, r.Top, r.Width, r.Height});
  }
  return out;
}

bool operator==(const R& a, const R& b) {
  return a.Left == b.Left && a.Top == b.Top && a.Width == b.Width && a.Height == b.Height;
}

void PrintTo(const R& r, std::ostream* os) {
  *os << "(" << r.Left << "," << r.Top << "," << r.Width << "," << r.Height << ")";
}

// A free-packing layout on the given printable area.
void SetUpFree(TLayout& L, int Left, int Top, int Width, int Height) {
  L.PageRect = TRectangle(Left, Top, Width, Height);
  L.Reset();
}

void SetUpCells(TLayout& L, int Left, int Top, int Width, int Height, const QString& Text) {
  L.PageRect = TRectangle(Left, Top, Width, Height);
  L.SetLayoutText(Text);
}

const QString kTwoCells = QStringLiteral("0.0000,0.0000,0.5000,1.0000;0.5000,0.0000,1.0000,1.0000;");

}  // namespace

TEST(TRectangle, RefusesNegativeCornerAndEmptySize) {
  struct {
    int l, t, w, h;
    const char* message;
  } cases[] = {
      {-1, 0, 10, 10, "Left and top must be greater than 0"},
      {0, -5, 10, 10, "Left and top must be greater than 0"},
      {0, 0, 0, 10, "Width and height must be greater than 0"},
      {0, 0, 10, -1, "Width and height must be greater than 0"},
      {2147483000, 0, 1000, 10, "Rectangle exceeds the coordinate range"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MessageOf<Exception>([&] { TRectangle(c.l, c.t, c.w, c.h); }), QString::fromLatin1(c.message))
        << c.l << "," << c.t << "," << c.w << "," << c.h;
  const TRectangle zero;
  EXPECT_EQ(zero.Width, 0);
}

TEST(TRectangle, SetRightLeftOfTheRectangleFlipsIt) {
  TRectangle r(100, 0, 50, 10);
  r.SetRight(300);
  EXPECT_EQ(r.Left, 100);
  EXPECT_EQ(r.Width, 200);
  r.SetRight(40);
  EXPECT_EQ(r.Left, 40);
  EXPECT_EQ(r.Width, 60);
}

TEST(TRectangle, CountFitCountsTilesOfAGrid) {
  const TRectangle r(0, 0, 1000, 700);
  EXPECT_EQ(r.CountFit(300, 400), 3);
  EXPECT_EQ(r.CountFit(400, 300), 4);
  EXPECT_EQ(r.CountFit(1001, 1), 0);
  // Areas beyond the int range are counted, not wrapped.
  const TRectangle big(0, 0, 2000000000, 2000000000);
  EXPECT_EQ(big.CountFit(1, 1), 4000000000000000000LL);
  EXPECT_EQ(big.Area(), 4000000000000000000LL);
}

TEST(TLayoutFree, PlacingCutsTheLargerPieceWholeAndGivingBackMergesEverything) {
  TLayout L;
  SetUpFree(L, 50, 50, 2000, 2800);
  TLayoutPosition p;
  L.Place(1000, 700, 0, false, nullptr, false, p);
  EXPECT_EQ(p.Left, 50);
  EXPECT_EQ(p.Top, 50);
  EXPECT_EQ(p.Width, 1000);
  EXPECT_EQ(p.Height, 700);
  EXPECT_FALSE(p.Rotated);
  // Sorted by area: the piece beside, then the full-width piece below.
  EXPECT_EQ(Rects(L), (std::vector<R>{{1050, 50, 1000, 700}, {50, 750, 2000, 2100}}));

  L.AddFreeRectFrom(p);
  EXPECT_EQ(Rects(L), (std::vector<R>{{50, 50, 2000, 2800}}));
}

TEST(TLayoutFree, FullHeightCutWhenThePieceBesideIsLarger) {
  TLayout L;
  SetUpFree(L, 0, 0, 1000, 1000);
  TLayoutPosition p;
  // A = max(800*900, 1000*100) = 720000 < B = max(200*100, 800*1000) = 800000
  L.Place(200, 900, 0, false, nullptr, false, p);
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 900, 200, 100}, {200, 0, 800, 1000}}));
}

TEST(TLayoutFree, LandscapePlacesAtTheRightEndOfTheFreeRectangle) {
  TLayout L;
  L.SetOrientation(poLandscape);
  SetUpFree(L, 50, 50, 2000, 2800);
  TLayoutPosition p;
  L.Place(1000, 700, 0, false, nullptr, false, p);
  EXPECT_EQ(p.Left, 1050);
  EXPECT_EQ(p.Top, 50);
  EXPECT_EQ(p.Width, 1000);
  // Cut A, right-aligned: the piece to the left, the full-width piece below.
  EXPECT_EQ(Rects(L), (std::vector<R>{{50, 50, 1000, 700}, {50, 750, 2000, 2100}}));
  L.AddFreeRectFrom(p);
  EXPECT_EQ(Rects(L), (std::vector<R>{{50, 50, 2000, 2800}}));
}

TEST(TLayoutFree, LandscapeFullHeightCutKeepsThePieceOnTheLeft) {
  TLayout L;
  L.SetOrientation(poLandscape);
  SetUpFree(L, 0, 0, 1000, 1000);
  TLayoutPosition p;
  L.Place(200, 900, 0, false, nullptr, false, p);
  EXPECT_EQ(p.Left, 800);
  EXPECT_EQ(Rects(L), (std::vector<R>{{800, 900, 200, 100}, {0, 0, 800, 1000}}));
}

TEST(TLayoutFree, TurnsOnlyWhenMoreTurnedCopiesFit) {
  struct {
    int pw, ph, w, h;
    bool rotated;
    int width, height;
  } cases[] = {
      {2000, 1000, 700, 1000, false, 700, 1000},  // 2 copies fit either way: a tie stays upright
      {1000, 700, 300, 400, true, 400, 300},      // 4 turned against 3 upright
      {1000, 700, 400, 300, false, 400, 300},     // already the better way round
  };
  for (const auto& c : cases) {
    TLayout L;
    SetUpFree(L, 0, 0, c.pw, c.ph);
    TLayoutPosition p;
    L.Place(c.w, c.h, 0, true, nullptr, false, p);
    EXPECT_EQ(p.Rotated, c.rotated) << c.w << "x" << c.h << " in " << c.pw << "x" << c.ph;
    EXPECT_EQ(p.Width, c.width);
    EXPECT_EQ(p.Height, c.height);
  }
}

TEST(TLayoutFree, FindsTheSmallestFreeRectangleThatFitsAndTurnsWhenOnlyThatFits) {
  TLayout L;
  SetUpFree(L, 0, 0, 2000, 2800);
  TLayoutPosition p;
  L.Place(1000, 700, 0, false, nullptr, false, p);  // leaves 1000x700 beside, 2000x2100 below
  bool rotated = true;
  EXPECT_EQ(L.FindFreeRect(rotated, 900, 600, false), L.FreeRects()[0]);
  EXPECT_FALSE(rotated);
  EXPECT_EQ(L.FindFreeRect(rotated, 1500, 600, false), L.FreeRects()[1]);
  // 600 x 1000 does not fit the small piece upright, but turned it does.
  EXPECT_EQ(L.FindFreeRect(rotated, 600, 1000, true), L.FreeRects()[0]);
  EXPECT_TRUE(rotated);
  EXPECT_EQ(L.FindFreeRect(rotated, 3000, 3000, true), nullptr);
  EXPECT_TRUE(L.CanPlace(2000, 2100, false));
  EXPECT_FALSE(L.CanPlace(2001, 2100, false));
}

TEST(TLayoutFree, GapIsAddedToTheExtentsAndToTheCut) {
  TLayout L;
  SetUpFree(L, 0, 0, 1000, 1000);
  TLayoutPosition p;
  L.Place(100, 100, 10, false, nullptr, false, p);
  EXPECT_EQ(p.Width, 110);
  EXPECT_EQ(p.Height, 110);
  // The subtraction adds the gap once more: 120 x 120 is taken.
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 120, 120, 880}, {120, 0, 880, 1000}}));
}

TEST(TLayoutFree, NoRoomFailsAndLeavesTheLayoutUnchanged) {
  TLayout L;
  SetUpFree(L, 0, 0, 1000, 1000);
  TLayoutPosition p;
  L.Place(600, 600, 0, false, nullptr, false, p);
  const auto before = Rects(L);
  EXPECT_EQ(MessageOf<LayoutException>([&] { L.Place(600, 600, 0, true, nullptr, false, p); }),
            QStringLiteral("Insufficent free space in layout"));
  EXPECT_EQ(Rects(L), before);
}

TEST(TLayoutFree, ForceTakesTheLastRectangleAndClipsTheItem) {
  TLayout L;
  SetUpFree(L, 0, 0, 1000, 1000);
  TLayoutPosition p;
  L.Place(600, 600, 0, false, nullptr, false, p);  // leaves (0,600,600,400) and (600,0,400,1000)
  L.Place(700, 700, 0, false, nullptr, true, p);
  EXPECT_EQ(p.Left, 600);
  EXPECT_EQ(p.Top, 0);
  EXPECT_EQ(p.Width, 400);
  EXPECT_EQ(p.Height, 700);
  EXPECT_FALSE(p.Rotated);
}

TEST(TLayoutFree, ForceWithoutAnyFreeRectangleFailsLikeWithoutForce) {
  TLayout L;
  SetUpFree(L, 0, 0, 1000, 1000);
  TLayoutPosition p;
  L.Place(1000, 1000, 0, false, nullptr, false, p);
  ASSERT_EQ(L.FreeRects().Count(), 0);
  EXPECT_EQ(MessageOf<LayoutException>([&] { L.Place(10, 10, 0, false, nullptr, true, p); }),
            QStringLiteral("Insufficent free space in layout"));
}

TEST(TLayoutFree, AGivenFreeRectangleTooSmallMarksTheItemTurned) {
  TLayout L;
  SetUpFree(L, 0, 0, 1000, 500);
  TLayoutPosition p;
  L.Place(400, 800, 0, false, L.FreeRects()[0], false, p);
  EXPECT_TRUE(p.Rotated);
  EXPECT_EQ(p.Width, 800);
  EXPECT_EQ(p.Height, 400);
}

TEST(TLayoutFree, RefusesAFreeRectangleOfAnotherLayout) {
  TLayout a, b;
  SetUpFree(a, 0, 0, 1000, 1000);
  SetUpFree(b, 0, 0, 1000, 1000);
  TLayoutPosition p;
  EXPECT_THROW(a.Place(10, 10, 0, false, b.FreeRects()[0], false, p), Exception);
  EXPECT_EQ(Rects(a), (std::vector<R>{{0, 0, 1000, 1000}}));
  EXPECT_EQ(Rects(b), (std::vector<R>{{0, 0, 1000, 1000}}));
}

TEST(TLayoutFree, PreconditionErrors) {
  TLayout L;
  SetUpFree(L, 0, 0, 1000, 1000);
  TLayoutPosition p;
  bool rotated = false;
  const QString size = QStringLiteral("Width and height must be greater than 0");
  EXPECT_EQ(MessageOf<Exception>([&] { L.Place(0, 10, 0, false, nullptr, false, p); }), size);
  EXPECT_EQ(MessageOf<Exception>([&] { L.Place(10, -1, 0, false, nullptr, false, p); }), size);
  EXPECT_EQ(MessageOf<Exception>([&] { L.FindFreeRect(rotated, 0, 0, true); }), size);
  EXPECT_EQ(MessageOf<Exception>([&] { L.SubtractFromFreeRectangle(L.FreeRects()[0], 1001, 10, 0, false); }),
            QStringLiteral("Width or height too great in SubtractFromFreeRectangle"));
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 1000, 1000}}));

  TLayout empty;  // no printer information yet
  EXPECT_EQ(MessageOf<Exception>([&] { empty.Reset(); }), size);
}

TEST(TLayoutFree, GivingBackMergesInEveryDirection) {
  TLayout L;
  // Merging walks from the last rectangle and starts again after each merge.
  L.PageRect = TRectangle(0, 0, 300, 300);
  L.Clear();
  L.AddFreeRect(0, 0, 100, 200);    // left column, upper part
  L.AddFreeRect(100, 200, 200, 100);  // bottom right
  L.AddFreeRect(0, 200, 100, 100);  // joins the bottom right from the left
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 100, 200}, {0, 200, 300, 100}}));
  L.AddFreeRect(100, 0, 200, 200);  // joins the column from the right, then the bottom row from above
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 300, 300}}));
  L.AddFreeRect(5, 5, 0, 10);  // empty: ignored
  EXPECT_EQ(L.FreeRects().Count(), 1);
}

TEST(TLayoutFree, TryMergeAnswersWhetherAnythingWasMerged) {
  TLayout L;
  L.PageRect = TRectangle(0, 0, 300, 300);
  L.Clear();
  L.AddFreeRect(0, 0, 100, 100);
  TRectangle lone(200, 200, 50, 50);
  EXPECT_FALSE(L.TryMerge(&lone));
  TRectangle right(100, 0, 50, 100);
  EXPECT_TRUE(L.TryMerge(&right));
  EXPECT_EQ(right.Left, 0);
  EXPECT_EQ(right.Width, 150);
  EXPECT_EQ(L.FreeRects().Count(), 0);  // the merged one left the list
}

TEST(TLayoutCells, CellsMeetingEdgeToEdgeAreOneUnitSmallerAndNeverMerge) {
  TLayout L;
  SetUpCells(L, 0, 0, 1000, 2000, kTwoCells);
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 499, 1999}, {500, 0, 499, 1999}}));
  TLayoutPosition p;
  L.Place(100, 100, 0, false, nullptr, false, p);
  L.AddFreeRectFrom(p);
  L.Sort(true);
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 499, 1999}, {500, 0, 499, 1999}}));
}

TEST(TLayoutCells, OffsetByThePrintableAreaCorner) {
  TLayout L;
  SetUpCells(L, 40, 60, 1000, 2000, kTwoCells);
  EXPECT_EQ(Rects(L), (std::vector<R>{{40, 60, 499, 1999}, {540, 60, 499, 1999}}));
}

TEST(TLayoutCells, ALandscapePageRectangleTurnsEveryCell) {
  TLayout L;
  // Wider than high: X fractions become vertical positions from the bottom.
  SetUpCells(L, 0, 0, 3000, 2000, kTwoCells);
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 2999, 999}, {0, 1000, 2999, 999}}));
  // Restoring free rectangles never turns them.
  L.SetFreeRectsText(kTwoCells);
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 1499, 1999}, {1500, 0, 1499, 1999}}));
}

TEST(TLayoutCells, SortedInReadingOrderOfTheScreen) {
  const QString grid = TLayout::ThumbsText(2, 2);
  TLayout L;
  SetUpCells(L, 0, 0, 1000, 2000, grid);
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 499, 999}, {500, 0, 499, 999}, {0, 1000, 499, 999},
                                      {500, 1000, 499, 999}}));
  // A landscape page is shown turned: its rightmost column is the top row.
  L.SetOrientation(poLandscape);
  EXPECT_EQ(Rects(L), (std::vector<R>{{500, 0, 499, 999}, {500, 1000, 499, 999}, {0, 0, 499, 999},
                                      {0, 1000, 499, 999}}));
}

TEST(TLayoutCells, AnItemTakesTheWholeCellTurnedWhenItsOrientationDiffers) {
  struct {
    int w, h;
    bool allowRotate, rotated;
  } cases[] = {
      {3000, 2000, true, true},    // landscape item, portrait cell: turned
      {3000, 2000, false, false},  // not allowed to turn
      {2000, 3000, true, false},   // same orientation as the cell
      {10, 10, true, true},        // square item, portrait cell: signs differ
  };
  for (const auto& c : cases) {
    TLayout L;
    SetUpCells(L, 0, 0, 1000, 2000, kTwoCells);
    TLayoutPosition p;
    // Far larger than the cell: a cell of at least 20 x 20 takes any item.
    L.Place(c.w, c.h, 0, c.allowRotate, nullptr, false, p);
    EXPECT_EQ(p.Rotated, c.rotated) << c.w << "x" << c.h;
    EXPECT_EQ(p.Left, 0);
    EXPECT_EQ(p.Width, 499);
    EXPECT_EQ(p.Height, 1999);
    EXPECT_EQ(Rects(L), (std::vector<R>{{500, 0, 499, 1999}}));  // the cell left the list
  }
}

TEST(TLayoutCells, CellsBelowTwentyUnitsTakeOnlyItemsThatFit) {
  TLayout L;
  SetUpCells(L, 0, 0, 100, 200, QStringLiteral("0,0,0.125,0.125;"));  // an 11 x 24 cell
  bool rotated = false;
  EXPECT_EQ(L.FindFreeRect(rotated, 12, 10, false), nullptr);
  EXPECT_NE(L.FindFreeRect(rotated, 11, 10, false), nullptr);
}

TEST(TLayoutCells, SetLayoutTextResetsOnlyWhenTheTextChanges) {
  TLayout L;
  SetUpCells(L, 0, 0, 1000, 2000, kTwoCells);
  TLayoutPosition p;
  L.Place(10, 10, 0, false, nullptr, false, p);
  L.SetLayoutText(kTwoCells);
  EXPECT_EQ(L.FreeRects().Count(), 1);
  L.SetLayoutText(TLayout::ThumbsText(2, 2));
  EXPECT_EQ(L.FreeRects().Count(), 4);
  L.SetLayoutText(QString());
  EXPECT_FALSE(L.HasLayout());
  EXPECT_EQ(Rects(L), (std::vector<R>{{0, 0, 1000, 2000}}));
}

TEST(TLayoutText, NumbersEndAtCommaOrSemicolonOrTheEnd) {
  struct {
    const char* text;
    std::vector<R> cells;
  } cases[] = {
      {"0,0,0.5,0.5", {{0, 0, 499, 999}}},                        // no final ";"
      {"0,0,0.5,0.5;;", {{0, 0, 499, 999}}},                      // a ";" after the cell is dropped
      {"0,0,0.5,0.5,0.5,0.5,1,1", {{0, 0, 499, 999}, {500, 1000, 499, 999}}},  // "," between cells
      {" 0.5 , 0 , 1.0 , 0.5 ; ", {{500, 0, 499, 999}}},          // blanks around numbers
      {"0,0,1e-1,5E-1;", {{0, 0, 99, 999}}},                      // exponents
      {"", {}},
  };
  for (const auto& c : cases) {
    TLayout L;
    L.PageRect = TRectangle(0, 0, 1000, 2000);
    L.SetFreeRectsText(QString::fromLatin1(c.text));
    EXPECT_EQ(Rects(L), c.cells) << c.text;
  }
}

TEST(TLayoutText, AnUnreadableNumberFailsAndKeepsTheCellsReadBeforeIt) {
  struct {
    const char* text;
    const char* message;
    int cellsKept;
  } cases[] = {
      {"0,0,0.5,1;0.5,x,1,1;", "'x' is not a valid floating point value", 1},
      {"0,0,0.5,1;0.5,0", "'' is not a valid floating point value", 1},
      {"0;0;0;0;0,5", "'' is not a valid floating point value", 0},  // an empty cell, then half a cell
      {"0,0,0.5,1;0,0,nan,1;", "'nan' is not a valid floating point value", 1},
      {"0,0,0.5,1;0,0,1e300,1;", "Invalid floating point operation", 1},
      {"0,0,0.5,1;0,0,0,5,1;", "'' is not a valid floating point value", 1},
      {"0,0,0.5,1;-1,0,1,1;", "Left and top must be greater than 0", 1},
  };
  for (const auto& c : cases) {
    TLayout L;
    L.PageRect = TRectangle(0, 0, 1000, 2000);
    EXPECT_EQ(MessageOf<Exception>([&] { L.SetFreeRectsText(QString::fromLatin1(c.text)); }),
              QString::fromLatin1(c.message))
        << c.text;
    EXPECT_EQ(L.FreeRects().Count(), c.cellsKept) << c.text;
  }
}

TEST(TLayoutText, ThumbsTextRowByRowWithFourDecimals) {
  EXPECT_EQ(TLayout::ThumbsText(2, 1), kTwoCells);
  const QString t = TLayout::ThumbsText(4, 6);
  const QStringList cells = t.split(QLatin1Char(';'), Qt::SkipEmptyParts);
  ASSERT_EQ(cells.size(), 24);
  EXPECT_EQ(cells[0], QStringLiteral("0.0000,0.0000,0.2500,0.1667"));
  EXPECT_EQ(cells[1], QStringLiteral("0.2500,0.0000,0.5000,0.1667"));
  EXPECT_EQ(cells[5], QStringLiteral("0.2500,0.1667,0.5000,0.3333"));
  EXPECT_EQ(cells[23], QStringLiteral("0.7500,0.8333,1.0000,1.0000"));
  EXPECT_EQ(MessageOf<Exception>([] { TLayout::ThumbsText(0, 1); }), QStringLiteral("Thumbs Across must be >0"));
  EXPECT_EQ(MessageOf<Exception>([] { TLayout::ThumbsText(1, -2); }), QStringLiteral("Thumbs Down must be >0"));
}

TEST(TLayoutText, FreeRectsTextWithTwoDecimalsRelativeToThePrintableArea) {
  TLayout L;
  SetUpFree(L, 50, 50, 2000, 2800);
  TLayoutPosition p;
  L.Place(1000, 700, 0, false, nullptr, false, p);
  EXPECT_EQ(L.FreeRectsText(), QStringLiteral("0.50,0.00,1.00,0.25;0.00,0.25,1.00,1.00;"));
  // Read back the rectangles come one unit smaller, as every cell does.
  TLayout copy;
  copy.PageRect = L.PageRect;
  copy.SetFreeRectsText(L.FreeRectsText());
  EXPECT_EQ(Rects(copy), (std::vector<R>{{1050, 50, 999, 699}, {50, 750, 1999, 2099}}));
}

TEST(TLayoutText, FormatRectWithFourDecimals) {
  TLayout L;
  SetUpFree(L, 50, 50, 2000, 2800);
  TLayoutPosition p;
  p.Left = 0;
  p.Top = 700;
  p.Width = 1000;
  p.Height = 1400;
  EXPECT_EQ(L.FormatRect(p), QStringLiteral("0.0000,0.2500,0.5000,0.7500;"));
}

TEST(TLayoutText, WrittenAndReadWithADotUnderACommaLocale) {
  TLocaleScope locale("de_DE.UTF-8");
  EXPECT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
  EXPECT_EQ(TLayout::ThumbsText(2, 1), kTwoCells);
  TLayout L;
  SetUpFree(L, 50, 50, 2000, 2800);
  TLayoutPosition p;
  L.Place(1000, 700, 0, false, nullptr, false, p);
  EXPECT_EQ(L.FreeRectsText(), QStringLiteral("0.50,0.00,1.00,0.25;0.00,0.25,1.00,1.00;"));
  EXPECT_EQ(L.FormatRect(p), QStringLiteral("0.0250,0.0179,0.5250,0.2679;"));
  L.SetFreeRectsText(QStringLiteral("0.25,0.5,0.75,1;"));
  EXPECT_EQ(Rects(L), (std::vector<R>{{550, 1450, 999, 1399}}));
}

// Random placements and give-backs in free packing: the free rectangles
// stay disjoint, inside the printable area, and never overlap a placed item.
TEST(TLayoutFree, RandomPackingKeepsFreeRectanglesDisjointAndInsideThePage) {
  std::mt19937 rng(20261211);
  for (int round = 0; round < 40; ++round) {
    TLayout L;
    L.SetOrientation(round % 2 ? poLandscape : poPortrait);
    const TRectangle page(37, 41, 1500 + round * 17, 2100 - round * 9);
    L.PageRect = page;
    L.Reset();
    std::vector<TLayoutPosition> placed;
    for (int step = 0; step < 80; ++step) {
      if (!placed.empty() && rng() % 3 == 0) {
        const size_t k = rng() % placed.size();
        L.AddFreeRectFrom(placed[k]);
        placed.erase(placed.begin() + static_cast<long>(k));
      } else {
        TLayoutPosition p;
        const int w = 1 + static_cast<int>(rng() % 700), h = 1 + static_cast<int>(rng() % 700);
        try {
          L.Place(w, h, static_cast<int>(rng() % 3) * 5, rng() % 2, nullptr, rng() % 4 == 0, p);
          placed.push_back(p);
        } catch (const LayoutException&) {
        }
      }
      const auto free = Rects(L);
      auto overlaps = [](const R& a, int l, int t, int w, int h) {
        return a.Left < l + w && l < a.Left + a.Width && a.Top < t + h && t < a.Top + a.Height;
      };
      for (size_t i = 0; i < free.size(); ++i) {
        const R& a = free[i];
        ASSERT_GE(a.Left, page.Left);
        ASSERT_GE(a.Top, page.Top);
        ASSERT_LE(a.Left + a.Width, page.Right());
        ASSERT_LE(a.Top + a.Height, page.Bottom());
        for (size_t j = i + 1; j < free.size(); ++j)
          ASSERT_FALSE(overlaps(a, free[j].Left, free[j].Top, free[j].Width, free[j].Height))
              << "round " << round << " step " << step;
        for (const TLayoutPosition& p : placed)
          ASSERT_FALSE(overlaps(a, p.Left, p.Top, p.Width, p.Height)) << "round " << round << " step " << step;
      }
    }
  }
}
