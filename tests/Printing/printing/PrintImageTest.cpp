#include "Printing/printing/PrintImageU.h"

#include "Printing/document/PrintPreviewU.h"
#include "TestSupport.h"
#include "platform/Exceptions.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <map>
#include <type_traits>
#include <utility>
#include <vector>

using Calls = std::vector<TTestPrinter::TBitmapCall>;
using TKind = TTestPrinter::TBitmapCall::TKind;

namespace {

// A 400 x 300 pixel printable area keeps the recorded pages small.
TTestPrinter::TInfo SmallPage() {
  TTestPrinter::TInfo p;
  p.PaperWidthPx = 500;
  p.PaperHeightPx = 400;
  p.PrintableWidthPx = 400;
  p.PrintableHeightPx = 300;
  return p;
}

// Every pixel different from its neighbours, so that sampling errors show.
QImage Gradient(int W, int H) {
  QImage image(W, H, QImage::Format_RGB888);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) image.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y * 13) % 256));
  return image;
}

// Red, green / blue, yellow quarters.
QImage Quarters(int W, int H) {
  QImage image(W, H, QImage::Format_RGB888);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool right = x >= W / 2, bottom = y >= H / 2;
      image.setPixel(x, y, !bottom ? (right ? qRgb(0, 255, 0) : qRgb(255, 0, 0))
                                   : (right ? qRgb(255, 255, 0) : qRgb(0, 0, 255)));
    }
  return image;
}

bool Near(QRgb A, QRgb B, int Tolerance = 3) {
  return std::abs(qRed(A) - qRed(B)) <= Tolerance && std::abs(qGreen(A) - qGreen(B)) <= Tolerance &&
         std::abs(qBlue(A) - qBlue(B)) <= Tolerance;
}

std::string Hex(QRgb C) { return QString::asprintf("#%06x", C & 0xFFFFFF).toStdString(); }

class TPictureOutput : public ::testing::Test {
protected:
  void SetUp() override {
    TestDialogs().Clear();
    H.BandedPrinter.TileSize = QSize(150, 100);
    Printer().BeginDoc();
  }
  void TearDown() override {
    H.AfterPrint();
    if (Printer().Printing()) Printer().EndDoc();
  }

  void Print(const QImage& AImage, const QRect& R) {
    bool handled = false;
    H.OnPrintImage(handled, AImage, Printer().Canvas(), TPrinterSettings(), R.x(), R.y(), R.width(), R.height());
    EXPECT_TRUE(handled);
  }
  QImage Page() {
    if (Printer().Printing()) Printer().EndDoc();
    return P->RenderPage(0, 0);
  }
  const Calls& Sent() { return P->BitmapCalls(); }
  // Sends a request onto the current page.
  static int Send(TBandedPrinter& APrinter, TPrintDIBRequest ARequest) {
    ARequest.Canvas = Printer().Canvas();
    return APrinter.PrintDIBRect(ARequest);
  }
  std::vector<QRect> Dests() {
    std::vector<QRect> r;
    for (const auto& c : Sent()) r.push_back(c.Dest);
    return r;
  }
  std::vector<TKind> Kinds() {
    std::vector<TKind> r;
    for (const auto& c : Sent()) r.push_back(c.Kind);
    return r;
  }

  TTestPrinterScope P{{SmallPage()}};
  TPrintImageHandler H;
};

// The picture as nearest-neighbour sampling puts it into R, white elsewhere.
void ExpectNearestNeighbour(const QImage& APage, const QImage& ASource, const QRect& R) {
  const long double rx = static_cast<long double>(ASource.width()) / R.width();
  const long double ry = static_cast<long double>(ASource.height()) / R.height();
  int wrong = 0;
  for (int y = 0; y < APage.height() && wrong < 5; ++y)
    for (int x = 0; x < APage.width() && wrong < 5; ++x) {
      QRgb want = qRgb(255, 255, 255);
      if (R.contains(x, y))
        want = ASource.pixel(static_cast<int>((x - R.x()) * rx), static_cast<int>((y - R.y()) * ry));
      if ((APage.pixel(x, y) & 0xFFFFFF) != (want & 0xFFFFFF)) {
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") is " << Hex(APage.pixel(x, y)) << ", want " << Hex(want);
        ++wrong;
      }
    }
}

}  // namespace

// The handler fits the document's event.
static_assert(std::is_convertible_v<decltype(std::declval<TPrintImageHandler&>().Handler()), TOnPrintImage>);

TEST_F(TPictureOutput, TilesGoRowByRowLeftToRightCutAtTheVisibleEdges) {
  const QImage picture = Gradient(400, 300);
  Print(picture, QRect(0, 0, 400, 300));
  const std::vector<QRect> want = {
      {0, 0, 150, 100},   {150, 0, 150, 100},   {300, 0, 100, 100},   {0, 100, 150, 100},  {150, 100, 150, 100},
      {300, 100, 100, 100}, {0, 200, 150, 100}, {150, 200, 150, 100}, {300, 200, 100, 100},
  };
  EXPECT_EQ(Dests(), want);
  for (const auto& c : Sent()) {
    EXPECT_EQ(c.Kind, TKind::bkStretchDIB);
    EXPECT_EQ(c.Bits.size(), c.Dest.size());
    EXPECT_EQ(c.Bits, picture.copy(c.Dest).convertToFormat(c.Bits.format()));
  }
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
}

struct TPlacement {
  const char* Name;
  QSize Source;
  QRect Dest;
  QRect FirstTile;
};

void PrintTo(const TPlacement& C, std::ostream* Os) { *Os << C.Name; }

class TPictureOutputPlacement : public TPictureOutput, public ::testing::WithParamInterface<TPlacement> {};

// Enlarged, reduced, and partly off the sheet on each side: only the visible
// part is sent, where it would have been.
TEST_P(TPictureOutputPlacement, PrintsTheVisiblePartByNearestNeighbourSampling) {
  const TPlacement& c = GetParam();
  const QImage picture = Gradient(c.Source.width(), c.Source.height());
  Print(picture, c.Dest);
  ASSERT_FALSE(Sent().empty());
  EXPECT_EQ(Sent().front().Dest, c.FirstTile);
  const QRect visible = c.Dest.intersected(QRect(0, 0, 400, 300));
  for (const auto& call : Sent()) EXPECT_TRUE(visible.contains(call.Dest)) << call.Dest.x() << "," << call.Dest.y();
  ExpectNearestNeighbour(Page(), picture, c.Dest);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, TPictureOutputPlacement,
    ::testing::Values(TPlacement{"Enlarged", {100, 75}, {0, 0, 400, 300}, {0, 0, 150, 100}},
                      TPlacement{"Reduced", {800, 600}, {0, 0, 400, 300}, {0, 0, 150, 100}},
                      TPlacement{"Inside", {100, 75}, {37, 21, 200, 150}, {37, 21, 150, 100}},
                      TPlacement{"OffLeftTop", {200, 150}, {-100, -60, 400, 300}, {0, 0, 150, 100}},
                      TPlacement{"OffRightBottom", {200, 150}, {250, 200, 400, 300}, {250, 200, 150, 100}}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(TPictureOutput, APictureWhollyOffTheSheetPrintsNothingAndIsHandled) {
  const QImage picture = Quarters(40, 30);
  for (const QRect& r : {QRect(400, 0, 400, 300), QRect(-400, 0, 400, 300), QRect(0, 300, 400, 300),
                         QRect(0, -300, 400, 300), QRect(10, 10, 0, 50), QRect(10, 10, 50, -5)})
    Print(picture, r);
  H.UseCanvasDraw = true;
  Print(picture, QRect(-400, 0, 400, 300));
  EXPECT_TRUE(Sent().empty());
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
  const QImage page = Page();
  EXPECT_EQ(page.pixel(0, 0) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(page.pixel(399, 299) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(TPictureOutput, AScalingFactorShrinksTheTilesOfEnlargedPicturesAndLeavesEdgesBlank) {
  H.SetPrinterScaling(3);
  Print(Quarters(50, 40), QRect(0, 0, 400, 300));
  ASSERT_EQ(Sent().size(), 9u);
  EXPECT_EQ(Sent()[0].Bits.size(), QSize(50, 33));
  EXPECT_EQ(Sent()[0].Dest, QRect(0, 0, 150, 99));
  EXPECT_EQ(Sent()[2].Bits.size(), QSize(33, 33));
  EXPECT_EQ(Sent()[2].Dest, QRect(300, 0, 99, 99));
  const QImage page = Page();
  for (int x = 0; x < 400; x += 7) EXPECT_EQ(page.pixel(x, 99) & 0xFFFFFF, 0xFFFFFFu) << x;   // below each tile row
  for (int y = 0; y < 300; y += 7) EXPECT_EQ(page.pixel(399, y) & 0xFFFFFF, 0xFFFFFFu) << y;  // right of the last column
  EXPECT_EQ(page.pixel(10, 10) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(page.pixel(390, 290) & 0xFFFFFF, 0xFFFF00u);
}

TEST_F(TPictureOutput, TheScalingFactorIsNotUsedForPicturesThatAreNotEnlarged) {
  H.SetPrinterScaling(3);
  Print(Gradient(800, 600), QRect(0, 0, 400, 300));
  ASSERT_FALSE(Sent().empty());
  EXPECT_EQ(Sent()[0].Bits.size(), QSize(150, 100));
  EXPECT_EQ(Sent()[0].Dest, QRect(0, 0, 150, 100));
}

TEST_F(TPictureOutput, PrinterScalingKeepsToOneThroughEight) {
  for (auto [value, want] : std::vector<std::pair<int, int>>{{0, 1}, {-4, 1}, {1, 1}, {5, 5}, {8, 8}, {9, 8}}) {
    H.SetPrinterScaling(value);
    EXPECT_EQ(H.PrinterScaling(), want) << value;
  }
}

TEST_F(TPictureOutput, AWrongLineCountSwitchesThisPictureToDeviceDependentBitmaps) {
  P->Current().WrongStretchLineCalls = 1;
  const QImage picture = Gradient(400, 300);
  Print(picture, QRect(0, 0, 400, 300));
  std::vector<TKind> want = {TKind::bkStretchDIB};
  want.insert(want.end(), 9, TKind::bkDDB);  // the refused tile again, then every later one
  EXPECT_EQ(Kinds(), want);
  EXPECT_EQ(Sent()[1].Dest, Sent()[0].Dest);
  P->ClearBitmapCalls();
  Print(picture, QRect(0, 0, 400, 300));  // the next picture tries the DIB stretch again
  EXPECT_EQ(Kinds(), std::vector<TKind>(9, TKind::bkStretchDIB));
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
  ExpectNearestNeighbour(Page(), picture, QRect(0, 0, 400, 300));
}

TEST_F(TPictureOutput, UseDDBSendsEveryTileAsDeviceDependentBitmap) {
  H.UseDDB = true;
  H.BeforePrint(nullptr);
  const QImage picture = Gradient(100, 75);
  Print(picture, QRect(0, 0, 400, 300));
  EXPECT_EQ(Kinds(), std::vector<TKind>(9, TKind::bkDDB));
  ExpectNearestNeighbour(Page(), picture, QRect(0, 0, 400, 300));
}

TEST_F(TPictureOutput, ATileThatCannotBeSentAtAllStopsTheBandsAndTheCanvasDrawsThePicture) {
  P->Current().WrongStretchLineCalls = -1;
  P->Current().FailsDDB = true;
  const QImage picture = Gradient(400, 300);
  Print(picture, QRect(0, 0, 400, 300));
  EXPECT_EQ(Kinds(), (std::vector<TKind>{TKind::bkStretchDIB, TKind::bkDDB}));
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
  ExpectNearestNeighbour(Page(), picture, QRect(0, 0, 400, 300));
}

TEST_F(TPictureOutput, ScaleOnPrinterBuildsTilesAtThePicturesResolutionForEnlargedPictures) {
  H.UseWinscale = true;
  H.BeforePrint(nullptr);
  Print(Quarters(100, 75), QRect(0, 0, 400, 300));
  ASSERT_EQ(Sent().size(), 9u);
  EXPECT_EQ(Sent()[0].Bits.size(), QSize(37, 25));
  EXPECT_EQ(Sent()[0].Dest, QRect(0, 0, 150, 100));
  EXPECT_EQ(Sent()[2].Bits.size(), QSize(25, 25));
  EXPECT_EQ(Sent()[2].Dest, QRect(300, 0, 100, 100));
  P->ClearBitmapCalls();
  Print(Gradient(800, 600), QRect(0, 0, 400, 300));  // reduced: the default tiles
  ASSERT_FALSE(Sent().empty());
  EXPECT_EQ(Sent()[0].Bits.size(), QSize(150, 100));
  ExpectNearestNeighbour(Page(), Gradient(800, 600), QRect(0, 0, 400, 300));
}

TEST_F(TPictureOutput, PrintersWithoutLargeBitmapsGetTilesBelow64KB) {
  P->Current().RasterCaps = RC_DIBTODEV | RC_STRETCHDIB;
  H.BandedPrinter.TileSize = QSize(150, 400);
  Print(Gradient(400, 300), QRect(0, 0, 400, 300));
  // 65503 div 452 bytes per row of 150 pixels at 24 bits
  std::map<int, int> heights;
  for (const QRect& r : Dests()) heights[r.y()] = r.height();
  EXPECT_EQ(heights, (std::map<int, int>{{0, 144}, {144, 144}, {288, 12}}));
}

TEST_F(TPictureOutput, TilesAreTheScreensSizeByDefault) {
  H.BandedPrinter.TileSize = QSize();
  P->Current().PrintableWidthPx = 3000;
  P->Current().PrintableHeightPx = 3000;
  const QSize screen = QGuiApplication::primaryScreen()->size();
  Print(Gradient(100, 100), QRect(0, 0, 3000, 3000));
  ASSERT_FALSE(Sent().empty());
  EXPECT_EQ(Sent()[0].Dest, QRect(QPoint(0, 0), screen));
  if (Sent().size() > 1) {
    EXPECT_EQ(Sent()[1].Dest.topLeft(), QPoint(screen.width(), 0));
  }
}

TEST_F(TPictureOutput, EveryRowBlockAndTileCountsAsAPrintedBlockInTheDialog) {
  H.BeforePrint(nullptr);
  ASSERT_TRUE(H.AbortDialog());
  EXPECT_EQ(H.BlockCount(), 0);
  Print(Gradient(400, 300), QRect(0, 0, 400, 300));
  // 9 tiles of 100 rows: after rows 0 and 64, and after the tile
  EXPECT_EQ(H.BlockCount(), 27);
  EXPECT_EQ(H.AbortDialog()->windowTitle(), QStringLiteral("Printing Block 27"));
  Print(Gradient(400, 300), QRect(0, 0, 400, 300));
  EXPECT_EQ(H.BlockCount(), 54);  // the counter runs over the whole print run
  H.AfterPrint();
  EXPECT_FALSE(H.AbortDialog());
  Print(Gradient(400, 300), QRect(0, 0, 400, 300));  // without a dialog the run goes on
  EXPECT_EQ(H.BlockCount(), 81);
}

TEST_F(TPictureOutput, CancelStopsAtTheNextCallbackAndEndsTheRunSilently) {
  H.BeforePrint(nullptr);
  ASSERT_TRUE(H.AbortDialog());
  QPushButton* cancel = H.AbortDialog()->btnCancel;
  P->OnBitmapCall = [cancel](const TTestPrinter::TBitmapCall&) {
    const QPointF at(10, 10);
    QCoreApplication::postEvent(cancel, new QMouseEvent(QEvent::MouseButtonPress, at, cancel->mapToGlobal(at),
                                                        Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    QCoreApplication::postEvent(cancel, new QMouseEvent(QEvent::MouseButtonRelease, at, cancel->mapToGlobal(at),
                                                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
  };
  EXPECT_THROW(Print(Gradient(400, 300), QRect(0, 0, 400, 300)), EAbort);
  P->OnBitmapCall = nullptr;
  EXPECT_EQ(Sent().size(), 1u);  // the other tiles are skipped, and no canvas drawing follows
  EXPECT_EQ(H.BlockCount(), 3);
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
  const QImage page = Page();
  EXPECT_EQ(page.pixel(200, 150) & 0xFFFFFF, 0xFFFFFFu);
}

TEST_F(TPictureOutput, UseCanvasDrawNeverAsksTheDialog) {
  H.UseCanvasDraw = true;
  H.BeforePrint(nullptr);
  ASSERT_TRUE(H.AbortDialog());
  H.AbortDialog()->btnCancel->click();
  ASSERT_TRUE(H.AbortDialog()->Cancelled());
  EXPECT_NO_THROW(Print(Quarters(40, 30), QRect(0, 0, 400, 300)));
  EXPECT_EQ(H.AbortDialog()->windowTitle(), QStringLiteral("Printing"));
  EXPECT_EQ(H.BlockCount(), 0);
  EXPECT_TRUE(Sent().empty());
  const QImage page = Page();
  EXPECT_TRUE(Near(page.pixel(100, 75), qRgb(255, 0, 0)));
  EXPECT_TRUE(Near(page.pixel(300, 75), qRgb(0, 255, 0)));
  EXPECT_TRUE(Near(page.pixel(100, 225), qRgb(0, 0, 255)));
  EXPECT_TRUE(Near(page.pixel(300, 225), qRgb(255, 255, 0)));
}

struct TCanvasCase {
  const char* Name;
  QRect Dest;
};

void PrintTo(const TCanvasCase& C, std::ostream* Os) { *Os << C.Name; }

class TCanvasPlacement : public TPictureOutput, public ::testing::WithParamInterface<TCanvasCase> {};

// The canvas crops the picture to the visible part and draws it where it
// would have been.
TEST_P(TCanvasPlacement, DrawsTheVisiblePartInItsPlace) {
  H.UseCanvasDraw = true;
  const QRect d = GetParam().Dest;
  Print(Quarters(80, 60), d);
  const QImage page = Page();
  const QRgb colours[2][2] = {{qRgb(255, 0, 0), qRgb(0, 255, 0)}, {qRgb(0, 0, 255), qRgb(255, 255, 0)}};
  for (int y = 5; y < 300; y += 10)
    for (int x = 5; x < 400; x += 10) {
      // Keep clear of the quarter borders, where the filter blends.
      const double fx = double(x - d.x()) / d.width(), fy = double(y - d.y()) / d.height();
      if (std::abs(fx - 0.5) < 0.08 || std::abs(fy - 0.5) < 0.08 || std::abs(fx) < 0.04 || std::abs(fy) < 0.04 ||
          std::abs(fx - 1) < 0.04 || std::abs(fy - 1) < 0.04)
        continue;
      const QRgb want = d.contains(x, y) ? colours[fy >= 0.5][fx >= 0.5] : qRgb(255, 255, 255);
      EXPECT_TRUE(Near(page.pixel(x, y), want, 8)) << x << "," << y << " " << Hex(page.pixel(x, y));
    }
}

INSTANTIATE_TEST_SUITE_P(Placements, TCanvasPlacement,
                         ::testing::Values(TCanvasCase{"Whole", {0, 0, 400, 300}},
                                           TCanvasCase{"OffLeftTop", {-200, -100, 400, 300}},
                                           TCanvasCase{"OffRightBottom", {200, 150, 400, 300}},
                                           TCanvasCase{"ReducedInside", {50, 40, 40, 30}}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

namespace {

// Black even columns, white odd ones: dropping every other pixel leaves one
// colour, any filter over the whole leaves grey.
QImage Stripes(int W, int H) {
  QImage image(W, H, QImage::Format_RGB888);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) image.setPixel(x, y, x % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
  return image;
}

}  // namespace

TEST_F(TPictureOutput, ACanvasPictureMoreThanTwiceTheTargetBothWaysIsHalvedFirst) {
  H.UseCanvasDraw = true;
  Print(Stripes(250, 250), QRect(0, 0, 100, 100));  // 2.5 x both ways: halved, then filtered
  Print(Stripes(250, 150), QRect(200, 0, 100, 100));  // 2.5 x across, 1.5 x down: filtered only
  const QImage page = Page();
  // Halving keeps one kind of column only; the filter alone blends them.
  EXPECT_GT(std::abs(qGray(page.pixel(50, 50)) - 128), 100) << Hex(page.pixel(50, 50));
  EXPECT_LT(std::abs(qGray(page.pixel(250, 50)) - 128), 50) << Hex(page.pixel(250, 50));
}

TEST_F(TPictureOutput, TheDebugOptionOutlinesTheDestination) {
  H.DebugOutline = true;
  QImage white(40, 30, QImage::Format_RGB888);
  white.fill(Qt::white);
  Print(white, QRect(100, 100, 200, 100));
  const QImage page = Page();
  EXPECT_EQ(qGray(page.pixel(100, 150)), 0);
  EXPECT_EQ(qGray(page.pixel(200, 100)), 0);
  EXPECT_EQ(qGray(page.pixel(200, 150)), 255);
}

// --- DIBs -------------------------------------------------------------------

namespace {

void Put16(QByteArray& B, int At, uint32_t V) {
  B[At] = static_cast<char>(V & 0xFF);
  B[At + 1] = static_cast<char>((V >> 8) & 0xFF);
}
void Put32(QByteArray& B, int At, uint32_t V) {
  Put16(B, At, V & 0xFFFF);
  Put16(B, At + 2, V >> 16);
}

// A 40-byte information header (or HeaderSize bytes with that size in the
// first field) and a colour table of 0xRRGGBB entries.
struct THeaderSpec {
  int HeaderSize = 40;
  int Width = 4;
  int Height = 2;
  int Planes = 1;
  int BitCount = 24;
  uint32_t Compression = BI_RGB;
  uint32_t SizeImage = 0;
  uint32_t ClrUsed = 0;
  std::vector<uint32_t> Table;
};

QByteArray InfoOf(const THeaderSpec& S) {
  QByteArray b(std::max(S.HeaderSize, 40), '\0');
  Put32(b, 0, static_cast<uint32_t>(S.HeaderSize));
  Put32(b, 4, static_cast<uint32_t>(S.Width));
  Put32(b, 8, static_cast<uint32_t>(S.Height));
  Put16(b, 12, static_cast<uint32_t>(S.Planes));
  Put16(b, 14, static_cast<uint32_t>(S.BitCount));
  Put32(b, 16, S.Compression);
  Put32(b, 20, S.SizeImage);
  Put32(b, 32, S.ClrUsed);
  b.resize(S.HeaderSize);
  for (uint32_t c : S.Table) {
    QByteArray e(4, '\0');
    Put32(e, 0, c);
    b += e;
  }
  return b;
}

// A 12-byte core header and a table of 3-byte entries.
QByteArray CoreInfo(int W, int H, int Planes, int BitCount, const std::vector<uint32_t>& Table) {
  QByteArray b(12, '\0');
  Put32(b, 0, 12);
  Put16(b, 4, static_cast<uint32_t>(W));
  Put16(b, 6, static_cast<uint32_t>(H));
  Put16(b, 8, static_cast<uint32_t>(Planes));
  Put16(b, 10, static_cast<uint32_t>(BitCount));
  for (uint32_t c : Table) {
    QByteArray e(4, '\0');
    Put32(e, 0, c);
    b += e.left(3);
  }
  return b;
}

// Rows of raw pixel values, top row first, packed at a depth into 32-bit
// aligned rows, bottom-up unless asked otherwise.
QByteArray Pack(int BitCount, const std::vector<std::vector<uint32_t>>& Rows, bool TopDown = false) {
  const int w = static_cast<int>(Rows[0].size());
  const int stride = (w * BitCount + 31) / 32 * 4;
  QByteArray out;
  for (size_t k = 0; k < Rows.size(); ++k) {
    const auto& row = Rows[TopDown ? k : Rows.size() - 1 - k];
    QByteArray r(stride, '\0');
    for (int x = 0; x < w; ++x) {
      const uint32_t v = row[static_cast<size_t>(x)];
      switch (BitCount) {
        case 1: r[x / 8] = static_cast<char>(r[x / 8] | (v << (7 - x % 8))); break;
        case 4: r[x / 2] = static_cast<char>(r[x / 2] | (x % 2 ? v : v << 4)); break;
        case 8: r[x] = static_cast<char>(v); break;
        case 16: Put16(r, 2 * x, v); break;
        case 24:
          Put16(r, 3 * x, v & 0xFFFF);
          r[3 * x + 2] = static_cast<char>((v >> 16) & 0xFF);
          break;
        default: Put32(r, 4 * x, v); break;
      }
    }
    out += r;
  }
  return out;
}

QByteArray Bytes(std::initializer_list<int> V) {
  QByteArray b;
  for (int c : V) b += static_cast<char>(c);
  return b;
}

// The colours of a 4 x 2 test picture by letter, top row first.
QRgb Colour(char C) {
  switch (C) {
    case 'R': return qRgb(255, 0, 0);
    case 'G': return qRgb(0, 255, 0);
    case 'B': return qRgb(0, 0, 255);
    case 'W': return qRgb(255, 255, 255);
    default: return qRgb(0, 0, 0);
  }
}

constexpr uint32_t R24 = 0xFF0000, G24 = 0x00FF00, B24 = 0x0000FF, W24 = 0xFFFFFF, K24 = 0;
// Palette order of the indexed cases: black, red, green, blue, white.
const std::vector<uint32_t> kPalette = {K24, R24, G24, B24, W24};
std::vector<uint32_t> Padded(std::vector<uint32_t> T, size_t N) {
  T.resize(N, 0);
  return T;
}

struct TDibCase {
  const char* Name;
  QByteArray Info;
  QByteArray Bits;
  const char* Want;  // 8 letters, top row then bottom row
};

TPrintDIBRequest RequestFor(const QByteArray& Info, const QByteArray& Bits, int W = 4, int H = 2) {
  TPrintDIBRequest r;  // the canvas is the test's
  r.Dest = {0, 0, W, H};
  r.Src = {0, 0, W, H};
  r.Info = Info;
  r.Bits = Bits;
  r.Clip = {0, 0, 400, 300};
  return r;
}

std::vector<TDibCase> FormatCases() {
  const std::vector<std::vector<uint32_t>> rgb = {{R24, G24, B24, W24}, {K24, W24, R24, G24}};
  const std::vector<std::vector<uint32_t>> idx = {{1, 2, 3, 4}, {0, 4, 1, 2}};
  auto rgb555 = [](uint32_t c) { return ((c >> 19 & 31) << 10) | ((c >> 11 & 31) << 5) | (c >> 3 & 31); };
  auto rgb565 = [](uint32_t c) { return ((c >> 19 & 31) << 11) | ((c >> 10 & 63) << 5) | (c >> 3 & 31); };
  auto bgr = [](uint32_t c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | (c >> 16 & 0xFF); };
  auto map = [&](auto f) {
    std::vector<std::vector<uint32_t>> out = rgb;
    for (auto& row : out)
      for (auto& v : row) v = f(v);
    return out;
  };
  THeaderSpec s;
  std::vector<TDibCase> cases;
  s.BitCount = 24;
  cases.push_back({"Rgb24BottomUp", InfoOf(s), Pack(24, rgb), "RGBWKWRG"});
  s.Height = -2;
  cases.push_back({"Rgb24TopDown", InfoOf(s), Pack(24, rgb, true), "RGBWKWRG"});
  s.Height = 2;
  s.BitCount = 32;
  cases.push_back({"Rgb32", InfoOf(s), Pack(32, rgb), "RGBWKWRG"});
  s.Compression = BI_BITFIELDS;
  s.Table = {0x0000FF, 0x00FF00, 0xFF0000};  // red in the low byte
  cases.push_back({"BitFields32", InfoOf(s), Pack(32, map(bgr)), "RGBWKWRG"});
  s.BitCount = 16;
  s.Table = {0xF800, 0x07E0, 0x001F};
  cases.push_back({"BitFields565", InfoOf(s), Pack(16, map(rgb565)), "RGBWKWRG"});
  s.Compression = BI_RGB;
  s.Table.clear();
  cases.push_back({"Rgb555", InfoOf(s), Pack(16, map(rgb555)), "RGBWKWRG"});
  s.BitCount = 8;
  s.ClrUsed = 5;
  s.Table = kPalette;
  cases.push_back({"Indexed8", InfoOf(s), Pack(8, idx), "RGBWKWRG"});
  s.ClrUsed = 0;
  s.BitCount = 4;
  s.Table = Padded(kPalette, 16);
  cases.push_back({"Indexed4", InfoOf(s), Pack(4, idx), "RGBWKWRG"});
  s.BitCount = 1;
  s.Table = {K24, W24};
  cases.push_back({"Indexed1", InfoOf(s), Pack(1, {{1, 0, 1, 0}, {0, 0, 1, 1}}), "WKWKKKWW"});
  s.BitCount = 8;
  s.ClrUsed = 2;
  s.Table = {K24, R24};
  cases.push_back({"IndexPastTheTableIsBlack", InfoOf(s), Pack(8, {{1, 7, 1, 200}, {0, 1, 0, 1}}), "RKRKKRKR"});
  cases.push_back({"Core24", CoreInfo(4, 2, 1, 24, {}), Pack(24, rgb), "RGBWKWRG"});
  cases.push_back({"Core8", CoreInfo(4, 2, 1, 8, Padded(kPalette, 256)), Pack(8, idx), "RGBWKWRG"});
  // Run lengths, bottom row first: literal pixels; then runs, a skip of one
  // pixel (which takes the white entry) and the end mark.
  const QByteArray rle8 = Bytes({0, 4, 0, 4, 1, 2, 0, 0, 1, 1, 1, 2, 0, 2, 1, 0, 1, 4, 0, 1});
  s = THeaderSpec();
  s.BitCount = 8;
  s.Compression = BI_RLE8;
  s.SizeImage = static_cast<uint32_t>(rle8.size());
  s.ClrUsed = 5;
  s.Table = kPalette;
  cases.push_back({"Rle8", InfoOf(s), rle8, "RGWWKWRG"});
  const QByteArray rle4 = Bytes({4, 0x04, 0, 0, 0, 4, 0x12, 0x34, 0, 1});
  s.BitCount = 4;
  s.Compression = BI_RLE4;
  s.SizeImage = static_cast<uint32_t>(rle4.size());
  s.ClrUsed = 0;
  s.Table = Padded(kPalette, 16);
  cases.push_back({"Rle4", InfoOf(s), rle4, "RGBWKWKW"});
  return cases;
}

}  // namespace

namespace {
void PrintTo(const TDibCase& C, std::ostream* Os) { *Os << C.Name; }
}  // namespace

class TDibFormats : public TPictureOutput, public ::testing::WithParamInterface<TDibCase> {};

TEST_P(TDibFormats, ReachThePrinterWithTheirColours) {
  const TDibCase& c = GetParam();
  TBandedPrinter printer;
  EXPECT_EQ(Send(printer, RequestFor(c.Info, c.Bits)), brPrinted);
  ASSERT_EQ(Sent().size(), 1u);
  const QImage tile = Sent()[0].Bits;
  ASSERT_EQ(tile.size(), QSize(4, 2));
  for (int i = 0; i < 8; ++i)
    EXPECT_EQ(tile.pixel(i % 4, i / 4) & 0xFFFFFF, Colour(c.Want[i]) & 0xFFFFFF)
        << "pixel " << i << " is " << Hex(tile.pixel(i % 4, i / 4));
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Formats, TDibFormats, ::testing::ValuesIn(FormatCases()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

namespace {

struct TBadDib {
  const char* Name;
  TPrintDIBRequest Request;
  int Result;
  QStringList Messages;  // of the banded printer
  QString HandlerMessage;
};

std::vector<TBadDib> BadDibs() {
  const QByteArray bits24 = Pack(24, {{R24, G24, B24, W24}, {K24, W24, R24, G24}});
  const QByteArray bits8 = Pack(8, {{1, 2, 3, 4}, {0, 4, 1, 2}});
  auto header = [](auto change) {
    THeaderSpec s;
    change(s);
    return InfoOf(s);
  };
  auto rle8 = [](QByteArray data) {
    THeaderSpec s;
    s.BitCount = 8;
    s.Compression = BI_RLE8;
    s.SizeImage = static_cast<uint32_t>(data.size());
    s.ClrUsed = 5;
    s.Table = kPalette;
    return InfoOf(s);
  };
  const QStringList header1 = {QStringLiteral("Bad param dib header")};
  const QStringList src = {QStringLiteral("Bad param srcbitmap")};
  const QStringList none;
  const QString bad = QStringLiteral("BAD_PARAMETER"), read = QStringLiteral("MEMORY_READ_FAILED");
  std::vector<TBadDib> v;
  auto add = [&](const char* name, TPrintDIBRequest r, int result, QStringList messages, QString handler) {
    v.push_back({name, std::move(r), result, std::move(messages), std::move(handler)});
  };
  // Headers.
  add("HeaderSize41", RequestFor(header([](auto& s) { s.HeaderSize = 41; }), bits24), -1, header1, bad);
  add("HeaderSize108", RequestFor(header([](auto& s) { s.HeaderSize = 108; }), bits24), -1, header1, bad);
  add("HeaderCut", RequestFor(header([](auto&) {}).left(30), bits24), -1, header1, bad);
  add("NoHeader", RequestFor(QByteArray(), bits24), -1, header1, bad);
  add("ZeroWidth", RequestFor(header([](auto& s) { s.Width = 0; }), bits24), -1, header1, bad);
  add("NegativeWidth", RequestFor(header([](auto& s) { s.Width = -4; }), bits24), -1, header1, bad);
  add("ZeroHeight", RequestFor(header([](auto& s) { s.Height = 0; }), bits24), -1, header1, bad);
  add("LowestHeight", RequestFor(header([](auto& s) { s.Height = INT_MIN; }), bits24), -1, header1, bad);
  add("TwoPlanes", RequestFor(header([](auto& s) { s.Planes = 2; }), bits24), -1, header1, bad);
  add("SevenBits", RequestFor(header([](auto& s) { s.BitCount = 7; }), bits24), -1, header1, bad);
  add("UnknownCompression", RequestFor(header([](auto& s) { s.Compression = 4; }), bits24), -1, header1, bad);
  add("Rle8At24Bits", RequestFor(header([](auto& s) {
        s.Compression = BI_RLE8;
        s.SizeImage = 8;
      }), bits24), -1, header1, bad);
  add("Rle4At8Bits", RequestFor(header([](auto& s) {
        s.BitCount = 8;
        s.Compression = BI_RLE4;
        s.SizeImage = 8;
        s.Table = kPalette;
        s.ClrUsed = 5;
      }), bits8), -1, header1, bad);
  add("RleWithoutImageSize", RequestFor(header([](auto& s) {
        s.BitCount = 8;
        s.Compression = BI_RLE8;
        s.Table = kPalette;
        s.ClrUsed = 5;
      }), Bytes({0, 1})), -1, header1, bad);
  add("RleTopDown", RequestFor(header([](auto& s) {
        s.BitCount = 8;
        s.Height = -2;
        s.Compression = BI_RLE8;
        s.SizeImage = 2;
        s.Table = kPalette;
        s.ClrUsed = 5;
      }), Bytes({0, 1})), -1, header1, bad);
  add("BitFieldsAt24Bits", RequestFor(header([](auto& s) {
        s.Compression = BI_BITFIELDS;
        s.Table = {1, 2, 3};
      }), bits24), -1, header1, bad);
  add("NoBits", RequestFor(header([](auto&) {}), QByteArray()), -1, header1, bad);
  add("CoreTwoPlanes", RequestFor(CoreInfo(4, 2, 2, 24, {}), bits24), -1, header1, bad);
  add("Core16Bits", RequestFor(CoreInfo(4, 2, 1, 16, {}), bits24), -1, header1, bad);
  add("CoreZeroWidth", RequestFor(CoreInfo(0, 2, 1, 24, {}), bits24), -1, header1, bad);
  {
    auto r = RequestFor(header([](auto&) {}), bits24);
    r.Src.X = -1;
    add("NegativeSourceX", r, -1, header1, QString());
    r = RequestFor(header([](auto&) {}), bits24);
    r.Src.Width = 0;
    add("EmptySource", r, -1, header1, QString());
    r = RequestFor(header([](auto&) {}), bits24);
    r.Dest.Height = -3;
    add("NegativeDestination", r, -1, header1, QString());
  }
  // Sizes that do not fit.
  add("HugeColourCount", RequestFor(header([](auto& s) {
        s.BitCount = 8;
        s.ClrUsed = 0x7FFFFFFF;
      }), bits8), -1, src, bad);
  add("HugeWidth", RequestFor(header([](auto& s) {
        s.BitCount = 32;
        s.Width = 0x7FFFFFFF;
      }), bits24), -1, src, bad);
  add("HugeHeight", RequestFor(header([](auto& s) { s.Height = 0x7FFFFFFF; }), bits24), -1, src, bad);
  // Blocks shorter than the header says.
  add("ColourCountPastTheTable", RequestFor(header([](auto& s) {
        s.BitCount = 8;
        s.ClrUsed = 256;
        s.Table = kPalette;
      }), bits8), -3, none, read);
  add("CoreTableCut", RequestFor(CoreInfo(4, 2, 1, 8, kPalette), bits8), -3, none, read);
  add("BitsCut", RequestFor(header([](auto&) {}), bits24.left(20)), -3, none, read);
  // Run-length data that ends early or writes outside.
  const QByteArray runs[][1] = {{Bytes({1, 1})},
                                {Bytes({5, 1})},
                                {Bytes({0, 0, 0, 0, 1, 1})},
                                {Bytes({0, 2, 5, 0})},
                                {Bytes({0, 2, 0, 3, 1, 1})},
                                {Bytes({0, 5, 1, 1, 1, 1, 1, 0})},
                                {Bytes({0, 4, 1, 2})},
                                {Bytes({0, 0, 0, 2})}};
  const char* runNames[] = {"RleTruncated",     "RleRunPastTheRow",    "RleRunPastTheImage", "RleSkipPastTheRow",
                            "RleSkipPastImage", "RleLiteralPastTheRow", "RleLiteralCut",      "RleSkipCut"};
  for (size_t k = 0; k < std::size(runs); ++k)
    add(runNames[k], RequestFor(rle8(runs[k][0]), runs[k][0]), -3, none, read);
  // The source outside the bitmap.
  {
    auto r = RequestFor(header([](auto&) {}), bits24);
    r.Src = {0, 0, 5, 2};
    add("SourceWiderThanTheBitmap", r, -1, {QStringLiteral("Bad param 1")}, QString());
    r.Src = {2, 1, 3, 1};
    add("SourceOffTheBitmap", r, -1, {QStringLiteral("Bad param 1")}, QString());
    r = RequestFor(header([](auto&) {}), bits24);
    r.Dest = {500, 0, 4, 2};
    add("DestinationOffTheClip", r, 0, none, QString());
    r.Dest = {0, 0, 4, 2};
    r.Clip = {0, 0, 0, 0};
    add("EmptyClip", r, 0, none, QString());
  }
  return v;
}

}  // namespace

namespace {
void PrintTo(const TBadDib& C, std::ostream* Os) { *Os << C.Name; }
}  // namespace

class TBadDibs : public TPictureOutput, public ::testing::WithParamInterface<TBadDib> {};

TEST_P(TBadDibs, EndInTheirResultAndMessageWithoutOutput) {
  const TBadDib& c = GetParam();
  TBandedPrinter printer;
  EXPECT_EQ(Send(printer, c.Request), c.Result);
  EXPECT_EQ(TestDialogs().Texts(), c.Messages);
  EXPECT_TRUE(Sent().empty());
}

INSTANTIATE_TEST_SUITE_P(Dibs, TBadDibs, ::testing::ValuesIn(BadDibs()),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(TPictureOutput, AnExpansionLargerThanTheLimitIsAnAllocationFailure) {
  const QByteArray data = Bytes({4, 1, 0, 0, 4, 2, 0, 1});
  THeaderSpec s;
  s.BitCount = 8;
  s.Compression = BI_RLE8;
  s.SizeImage = static_cast<uint32_t>(data.size());
  s.ClrUsed = 5;
  s.Table = kPalette;
  TBandedPrinter printer;
  printer.MaxBlockSize = 4;
  EXPECT_EQ(Send(printer, RequestFor(InfoOf(s), data)), brOutOfMemory);
  printer.MaxBlockSize = 8;
  EXPECT_EQ(Send(printer, RequestFor(InfoOf(s), data)), brPrinted);
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());

  H.BandedPrinter.MaxBlockSize = 4;
  H.ConvertGraphic = [&](const QImage&, TDib& ADib) {
    ADib = TDib{InfoOf(s), data, 4, 2};
    return true;
  };
  const QImage picture = Gradient(40, 30);
  Print(picture, QRect(0, 0, 40, 30));
  EXPECT_EQ(TestDialogs().Texts(), QStringList{QStringLiteral("MEMORY_ALLOC_FAILED")});
  ExpectNearestNeighbour(Page(), picture, QRect(0, 0, 40, 30));
}

// Through the handler every failure of the banded printer ends in its
// message and the picture drawn on the canvas instead.
TEST_F(TPictureOutput, BadDibsFallBackToTheCanvasWithTheMessages) {
  const QImage picture = Gradient(400, 300);
  for (const TBadDib& c : BadDibs()) {
    if (c.HandlerMessage.isEmpty()) continue;
    SCOPED_TRACE(c.Name);
    TestDialogs().Clear();
    H.ConvertGraphic = [&c](const QImage&, TDib& ADib) {
      ADib.Info = c.Request.Info;
      ADib.Bits = c.Request.Bits;
      ADib.Width = 4;
      ADib.Height = 2;
      return true;
    };
    Print(picture, QRect(0, 0, 400, 300));
    EXPECT_EQ(TestDialogs().Texts(), c.Messages + QStringList{c.HandlerMessage});
  }
  EXPECT_TRUE(Sent().empty());
  ExpectNearestNeighbour(Page(), picture, QRect(0, 0, 400, 300));
}

TEST_F(TPictureOutput, ADibThatCannotBeMadeOrDoesNotMatchItsSizeFallsBackToTheCanvas) {
  const QImage picture = Gradient(400, 300);
  H.ConvertGraphic = [](const QImage&, TDib&) { return false; };
  Print(picture, QRect(0, 0, 400, 300));
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
  H.ConvertGraphic = [](const QImage& AGraphic, TDib& ADib) {
    const bool ok = GraphicToDIB(AGraphic, ADib);
    ADib.Width += 1;  // a size the header does not have
    return ok;
  };
  Print(picture, QRect(0, 0, 400, 300));
  EXPECT_EQ(TestDialogs().Texts(), (QStringList{QStringLiteral("Bad param 1"), QStringLiteral("BAD_PARAMETER")}));
  EXPECT_TRUE(Sent().empty());
  ExpectNearestNeighbour(Page(), picture, QRect(0, 0, 400, 300));
}

TEST(TDibHelpers, APictureBecomesABottomUp24BitDib) {
  QImage picture(3, 2, QImage::Format_RGB888);
  picture.setPixel(0, 0, qRgb(1, 2, 3));
  picture.setPixel(2, 1, qRgb(4, 5, 6));
  TDib dib;
  ASSERT_TRUE(GraphicToDIB(picture, dib));
  EXPECT_EQ(dib.Width, 3);
  EXPECT_EQ(dib.Height, 2);
  ASSERT_EQ(dib.Info.size(), 40);
  EXPECT_EQ(dib.Info[14], 24);
  ASSERT_EQ(dib.Bits.size(), 2 * 12);
  EXPECT_EQ(dib.Bits.mid(12, 3), Bytes({3, 2, 1}));  // the top row is the last one, blue first
  EXPECT_EQ(dib.Bits.mid(6, 3), Bytes({6, 5, 4}));
  EXPECT_FALSE(GraphicToDIB(QImage(), dib));
}

TEST(TDibHelpers, BmpFilesThatDoNotHoldTogetherAreRefused) {
  const QByteArray good = ImageToBmp(Gradient(5, 3));
  TDib dib;
  ASSERT_TRUE(BmpToDib(good, dib));
  auto with = [&](int At, uint32_t V) {
    QByteArray b = good;
    Put32(b, At, V);
    return b;
  };
  EXPECT_FALSE(BmpToDib(QByteArray("XM") + good.mid(2), dib));
  EXPECT_FALSE(BmpToDib(good.left(20), dib));
  EXPECT_FALSE(BmpToDib(with(10, 30), dib));                            // bits inside the header
  EXPECT_FALSE(BmpToDib(with(10, static_cast<uint32_t>(good.size())), dib));  // bits past the end
  EXPECT_FALSE(BmpToDib(with(14, 64), dib));                            // an unknown header
  EXPECT_FALSE(BmpToDib(with(18, 0), dib));                             // no width
  EXPECT_FALSE(BmpToDib(with(22, 0), dib));                             // no height
}
