#include "Printing/printing/PrinterSettingsU.h"

#include "TestSupport.h"
#include "platform/Exceptions.h"
#include "platform/QtPrinter.h"

#include <QPageLayout>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The default test printer: A4 at 300 dpi, 50 px strips left and right,
// 60 px at the top and 80 px at the bottom.
TPrinterSettings DefaultPrinterRecord() {
  TPrinterSettings s;
  s.PrintableWidth = 2015;
  s.PrintableHeight = 2851;
  s.PaperWidth = 2099;
  s.PaperHeight = 2970;
  s.PrintableWidthPx = 2380;
  s.PrintableHeightPx = 3368;
  s.PaperWidthPx = 2480;
  s.PaperHeightPx = 3508;
  s.OffsetLeftPx = 50;
  s.OffsetRightPx = 50;
  s.OffsetTopPx = 60;
  s.OffsetBottomPx = 80;
  s.MarginLeft = 42;
  s.MarginRight = 42;
  s.MarginTop = 50;
  s.MarginBottom = 67;
  s.UsableWidth = 2099 - 84;
  s.UsableHeight = 2970 - 117;
  s.PixelsPerInchX = 300;
  s.PixelsPerInchY = 300;
  s.HardMarginLeft = 42;
  s.HardOffsetLeftPx = 50;
  s.HardMarginTop = 50;
  s.HardOffsetTopPx = 60;
  s.Orientation = poPortrait;
  return s;
}

}  // namespace

// Shown by the test framework when two records differ.
void PrintTo(const TPrinterSettings& s, std::ostream* os) {
  *os << "{printable " << s.PrintableWidth << "x" << s.PrintableHeight << ", usable " << s.UsableWidth << "x"
      << s.UsableHeight << ", paper " << s.PaperWidth << "x" << s.PaperHeight << ", px " << s.PrintableWidthPx
      << "x" << s.PrintableHeightPx << " of " << s.PaperWidthPx << "x" << s.PaperHeightPx << ", offsets "
      << s.OffsetLeftPx << "/" << s.OffsetTopPx << "/" << s.OffsetRightPx << "/" << s.OffsetBottomPx
      << ", margins " << s.MarginLeft << "/" << s.MarginTop << "/" << s.MarginRight << "/" << s.MarginBottom
      << ", dpi " << s.PixelsPerInchX << "x" << s.PixelsPerInchY << ", hard " << s.HardMarginLeft << "/"
      << s.HardOffsetLeftPx << "/" << s.HardMarginTop << "/" << s.HardOffsetTopPx << ", orientation "
      << s.Orientation << "}";
}

TEST(PaperSizeName, NamesByCode) {
  struct {
    int code;
    QString name;
  } cases[] = {
      {1, QStringLiteral("Letter 8 1/2 x 11 in")},
      {9, QStringLiteral("A4 210 x 297 mm")},
      {12, QStringLiteral("B4 250 x 354")},
      {17, QStringLiteral("11x17 in")},
      {22, QStringLiteral("Envelope #12 4") + QChar(0x00BE) + QStringLiteral(" x 11 in")},
      {26, QStringLiteral("E size sheet")},
      {256, QStringLiteral("User Defined Size")},
      {27, QStringLiteral("Unknown Paper Size")},
      {0, QStringLiteral("Unknown Paper Size")},
      {-1, QStringLiteral("Unknown Paper Size")},
      {255, QStringLiteral("Unknown Paper Size")},
  };
  for (const auto& c : cases) EXPECT_EQ(PaperSizeName(c.code), c.name) << c.code;
  // Every code from 1 to 26 has a name of its own.
  QStringList names;
  for (int code = 1; code <= 26; ++code) names << PaperSizeName(code);
  names.removeDuplicates();
  EXPECT_EQ(names.size(), 26);
  EXPECT_FALSE(names.contains(QStringLiteral("Unknown Paper Size")));
}

TEST(CurrentPaper, ReadsTheCodeOfTheSelectedPrinter) {
  TTestPrinter::TInfo letter;
  letter.Name = QStringLiteral("Letter printer");
  letter.PaperCode = 1;
  TTestPrinter::TInfo a4;
  a4.Name = QStringLiteral("A4 printer");
  TTestPrinterScope printer({letter, a4});
  EXPECT_EQ(CurrentPaperSize(), 1);
  EXPECT_EQ(CurrentPaperName(), QStringLiteral("Letter 8 1/2 x 11 in"));
  printer->SetPrinterIndex(1);
  EXPECT_EQ(CurrentPaperName(), QStringLiteral("A4 210 x 297 mm"));
}

TEST(CurrentPaper, AsksASecondTimeWhenTheFirstAnswerHasNoSettings) {
  TTestPrinter::TInfo info;
  info.PaperCode = 5;
  info.MissingDeviceModeCalls = 1;
  TTestPrinterScope printer({info});
  EXPECT_EQ(CurrentPaperSize(), 5);
  printer->Current().NoDeviceMode = true;
  EXPECT_EQ(CurrentPaperSize(), 0);
  EXPECT_EQ(CurrentPaperName(), QStringLiteral("Unknown Paper Size"));
}

TEST(FillPrinterSettings, WithoutWantedMarginsGivesThePrintersOwn) {
  TTestPrinterScope printer;
  TPrinterSettings s;
  FillPrinterSettings(s, 0, 0, 0, 0, false);
  EXPECT_EQ(s, DefaultPrinterRecord());
}

TEST(FillPrinterSettings, WantedMarginsRaiseOnlyTheSmallerMargins) {
  TTestPrinterScope printer;
  TPrinterSettings s;
  FillPrinterSettings(s, 100, 20, 30, 200, false);
  EXPECT_EQ(s.MarginLeft, 100);
  EXPECT_EQ(s.MarginTop, 50);   // the printer's own is larger
  EXPECT_EQ(s.MarginRight, 42);  // idem
  EXPECT_EQ(s.MarginBottom, 200);
  EXPECT_EQ(s.UsableWidth, 2099 - 100 - 42);
  EXPECT_EQ(s.UsableHeight, 2970 - 50 - 200);
  // The hard margins stay the printer's.
  EXPECT_EQ(s.HardMarginLeft, 42);
  EXPECT_EQ(s.HardMarginTop, 50);
  EXPECT_EQ(s.HardOffsetLeftPx, 50);
}

TEST(FillPrinterSettings, CentringTakesTheWiderStripBeforeTheWantedMargins) {
  TTestPrinter::TInfo info;
  info.OffsetLeftPx = 120;  // right strip: 2480 - 2330 - 120 = 30 px
  info.PrintableWidthPx = 2330;
  TTestPrinterScope printer({info});
  TPrinterSettings s;
  FillPrinterSettings(s, 0, 0, 0, 0, true);
  EXPECT_EQ(s.MarginLeft, 101);
  EXPECT_EQ(s.MarginRight, 101);
  EXPECT_EQ(s.MarginTop, 67);
  EXPECT_EQ(s.MarginBottom, 67);
  // A wanted right margin beyond the centred one widens only the right.
  FillPrinterSettings(s, 0, 0, 150, 0, true);
  EXPECT_EQ(s.MarginLeft, 101);
  EXPECT_EQ(s.MarginRight, 150);
  EXPECT_EQ(s.UsableWidth, 2099 - 101 - 150);
}

TEST(FillPrinterSettings, MarginsLeavingNoPaperFallBackToThePrintersOwn) {
  TTestPrinterScope printer;
  struct {
    int l, t, r, b;
    bool centre;
  } cases[] = {
      {1100, 0, 1000, 0, true},  // no usable width
      {0, 1500, 0, 1470, false}, // no usable height, exactly 0 left
      {5000, 5000, 5000, 5000, true},
  };
  for (const auto& c : cases) {
    TPrinterSettings s;
    FillPrinterSettings(s, c.l, c.t, c.r, c.b, c.centre);
    EXPECT_EQ(s, DefaultPrinterRecord()) << c.l << "," << c.t << "," << c.r << "," << c.b;
  }
}

TEST(FillPrinterSettings, LandscapeReportsTheTurnedPaper) {
  TTestPrinter::TInfo info;
  info.DpiY = 600;  // so that the turned axes can be told apart
  info.PaperHeightPx = 7016;
  info.PrintableHeightPx = 6736;
  info.OffsetTopPx = 120;
  info.Orientation = poLandscape;
  TTestPrinterScope printer({info});
  TPrinterSettings s;
  FillPrinterSettings(s, 0, 0, 0, 0, false);
  EXPECT_EQ(s.Orientation, poLandscape);
  EXPECT_EQ(s.PixelsPerInchX, 600);
  EXPECT_EQ(s.PixelsPerInchY, 300);
  EXPECT_EQ(s.PaperWidthPx, 7016);
  EXPECT_EQ(s.PaperWidth, 2970);
  EXPECT_EQ(s.PaperHeight, 2099);
  EXPECT_EQ(s.MarginLeft, 50);  // 120 px at 600 dpi
  EXPECT_EQ(s.MarginTop, 42);
}

TEST(FillPrinterSettings, APrinterWithoutPaperInformationGivesAnEmptyRecord) {
  TTestPrinter::TInfo info;
  info.DpiX = info.DpiY = 0;
  info.PaperWidthPx = info.PaperHeightPx = 0;
  info.PrintableWidthPx = info.PrintableHeightPx = 0;
  info.OffsetLeftPx = info.OffsetTopPx = 0;
  TTestPrinterScope printer({info});
  TPrinterSettings s;
  s.PaperWidth = 77;
  FillPrinterSettings(s, 100, 100, 100, 100, true);  // must end, even with nothing usable
  EXPECT_EQ(s.PaperWidth, 0);
  EXPECT_EQ(s.UsableWidth, 0);
  EXPECT_EQ(s.MarginLeft, 0);
}

// A QPrinter writing a PDF on A4 at 600 dpi: the page is 595 x 842 points,
// 4958 x 7017 pixels.
TEST(FillPrinterSettings, FromAPdfPrinterOnA4At600Dpi) {
  QTemporaryDir dir;
  auto owned = std::make_unique<TQtPrinter>();
  TQtPrinter& qt = *owned;
  auto previous = SetPrinter(std::move(owned));
  qt.SetPrinterIndex(static_cast<int>(qt.Printers().indexOf(TQtPrinter::PdfPrinterName())));
  qt.SetPdfFileName(dir.filePath(QStringLiteral("out.pdf")));
  qt.QtPrinter().setPageSize(QPageSize(QPageSize::A4));
  qt.SetOrientation(poPortrait);

  TPrinterSettings s;
  FillPrinterSettings(s, 0, 0, 0, 0, false);
  EXPECT_EQ(s.PixelsPerInchX, 600);
  EXPECT_EQ(s.PixelsPerInchY, 600);
  EXPECT_EQ(s.PaperWidthPx, 4958);
  EXPECT_EQ(s.PaperHeightPx, 7017);
  EXPECT_EQ(s.PaperWidth, 2098);
  EXPECT_EQ(s.PaperHeight, 2970);
  // A file has no unprintable strips.
  EXPECT_EQ(s.PrintableWidth, 2098);
  EXPECT_EQ(s.MarginLeft, 0);
  EXPECT_EQ(s.MarginBottom, 0);
  EXPECT_EQ(CurrentPaperSize(), 9);

  // With the unprintable strips of a real printer. Qt keeps page margins
  // in whole points; these come to whole pixels at 600 dpi: 12 pt = 100 px
  // left, 18 pt = 150 px top, 9 pt = 75 px right, 36 pt = 300 px bottom.
  qt.QtPrinter().setPageMargins(QMarginsF(12, 18, 9, 36), QPageLayout::Point);
  FillPrinterSettings(s, 0, 0, 0, 0, false);
  EXPECT_EQ(s.OffsetLeftPx, 100);
  EXPECT_EQ(s.OffsetTopPx, 150);
  EXPECT_EQ(s.OffsetRightPx, 75);
  EXPECT_EQ(s.OffsetBottomPx, 300);
  EXPECT_EQ(s.PrintableWidthPx, 4783);
  EXPECT_EQ(s.PrintableHeightPx, 6567);
  EXPECT_EQ(s.PrintableWidth, 2024);
  EXPECT_EQ(s.PrintableHeight, 2780);
  EXPECT_EQ(s.MarginLeft, 42);
  EXPECT_EQ(s.MarginTop, 63);
  EXPECT_EQ(s.MarginRight, 31);
  EXPECT_EQ(s.MarginBottom, 127);
  EXPECT_EQ(s.UsableWidth, 2098 - 42 - 31);
  EXPECT_EQ(s.UsableHeight, 2970 - 63 - 127);
  EXPECT_EQ(s.HardMarginLeft, 42);
  EXPECT_EQ(s.HardOffsetTopPx, 150);

  // Centred with wanted margins.
  FillPrinterSettings(s, 0, 200, 0, 0, true);
  EXPECT_EQ(s.MarginLeft, 42);
  EXPECT_EQ(s.MarginRight, 42);
  EXPECT_EQ(s.MarginTop, 200);
  EXPECT_EQ(s.MarginBottom, 127);

  // Landscape turns the page.
  qt.SetOrientation(poLandscape);
  FillPrinterSettings(s, 0, 0, 0, 0, false);
  EXPECT_EQ(s.Orientation, poLandscape);
  EXPECT_EQ(s.PaperWidthPx, 7017);
  EXPECT_EQ(s.PaperHeight, 2098);
  SetPrinter(std::move(previous));
}

TEST(TPrintSet, KeepsStepWithThePrinterSelection) {
  TTestPrinter::TInfo first;
  first.Name = QStringLiteral("First");
  TTestPrinter::TInfo second;
  second.Name = QStringLiteral("Second");
  second.DpiX = 600;
  second.DpiY = 1200;
  TTestPrinterScope printer({first, second});
  TPrintSet set;
  EXPECT_EQ(set.PrinterIndex(), -99);
  EXPECT_EQ(set.PrinterName(), QStringLiteral("First"));
  EXPECT_EQ(set.PrinterIndex(), 0);
  EXPECT_EQ(set.XResolution(), 300);
  const int updates = printer->UpdateDeviceModeCalls();
  EXPECT_EQ(set.PrinterName(), QStringLiteral("First"));
  EXPECT_EQ(printer->UpdateDeviceModeCalls(), updates);  // in step: nothing done

  printer->SetPrinterIndex(1);
  EXPECT_EQ(set.PrinterName(), QStringLiteral("Second"));
  EXPECT_EQ(set.PrinterIndex(), 1);
  EXPECT_EQ(set.XResolution(), 600);
  EXPECT_EQ(set.YResolution(), 1200);
  EXPECT_GT(printer->UpdateDeviceModeCalls(), updates);
}

TEST(TPrintSet, FetchesOnceMoreAfterSelectingThePrinterAgain) {
  TTestPrinter::TInfo info;
  info.MissingDeviceModeCalls = 2;  // the first two answers carry no settings
  TTestPrinterScope printer({info});
  TPrintSet set;
  EXPECT_EQ(set.PrinterName(), QStringLiteral("Test Printer"));
  EXPECT_EQ(set.PrinterIndex(), 0);
}

TEST(TPrintSet, Failures) {
  TTestPrinter::TInfo info;
  info.NoDeviceMode = true;
  TTestPrinterScope printer({info});
  TPrintSet set;
  EXPECT_EQ(MessageOf<EPrinter>([&] { set.PrinterName(); }), QStringLiteral("Error retrieving DeviceMode"));
  EXPECT_EQ(set.PrinterIndex(), -99);
  EXPECT_NO_THROW(set.Refresh(true));
  EXPECT_EQ(set.PrinterIndex(), -99);

  printer->Current().NoDeviceMode = false;
  printer->Current().RejectsDeviceMode = true;
  EXPECT_EQ(MessageOf<EPrinter>([&] { set.Refresh(); }), QStringLiteral("Error updating printer driver."));
}

// The orientation exchange around a print or printer-setup dialog, with a
// scripted dialog and a stand-in document.
class RunPrinterDialogTest : public ::testing::Test {
protected:
  RunPrinterDialogTest() : printer(Printers()) {}

  static QList<TTestPrinter::TInfo> Printers() {
    TTestPrinter::TInfo a;
    a.Name = QStringLiteral("Office");
    TTestPrinter::TInfo b;
    b.Name = QStringLiteral("Photo");
    return {a, b};
  }

  TOrientationExchange Document() {
    TOrientationExchange d;
    d.DocumentOrientation = [this] { return documentOrientation; };
    d.SetDocumentOrientation = [this](TPrinterOrientation o) { documentOrientation = o; };
    d.RebuildLayoutLists = [this] { ++rebuilds; };
    d.RefreshPrinterSettings = [this] {
      ++refreshes;
      orientationAtRefresh = Printer().Orientation();
    };
    return d;
  }

  TTestPrinterScope printer;
  TPrinterOrientation documentOrientation = poPortrait;
  TPrinterOrientation orientationAtRefresh = poPortrait;
  int rebuilds = 0;
  int refreshes = 0;
};

TEST_F(RunPrinterDialogTest, TheDialogOpensWithTheDocumentsOrientationAndThePrinterGetsItsOwnBack) {
  documentOrientation = poLandscape;
  for (bool confirm : {false, true}) {
    TPrinterOrientation seen = poPortrait;
    const bool result = RunPrinterDialog(
        [&] {
          seen = Printer().Orientation();
          return confirm;
        },
        false, Document());
    EXPECT_EQ(result, confirm);
    EXPECT_EQ(seen, poLandscape);
    EXPECT_EQ(Printer().Orientation(), poPortrait);
    EXPECT_EQ(documentOrientation, poLandscape);
    EXPECT_EQ(refreshes, 0);
  }
}

TEST_F(RunPrinterDialogTest, OnlyThePrinterSetupDialogHandsTheChosenOrientationToTheDocument) {
  struct {
    bool takeOrientation;
    bool confirm;
    TPrinterOrientation expected;
  } cases[] = {
      {true, true, poLandscape},
      {true, false, poPortrait},
      {false, true, poPortrait},
  };
  for (const auto& c : cases) {
    documentOrientation = poPortrait;
    RunPrinterDialog(
        [&] {
          Printer().SetOrientation(poLandscape);
          return c.confirm;
        },
        c.takeOrientation, Document());
    EXPECT_EQ(documentOrientation, c.expected) << c.takeOrientation << c.confirm;
    EXPECT_EQ(Printer().Orientation(), poPortrait);
    EXPECT_EQ(refreshes, 0);
    EXPECT_EQ(rebuilds, 0);
  }
}

TEST_F(RunPrinterDialogTest, AnotherPrinterWithTheSamePaperKeepsTheDocumentsOrientationAndRefreshes) {
  documentOrientation = poLandscape;
  RunPrinterDialog(
      [&] {
        Printer().SetPrinterIndex(1);
        return true;
      },
      false, Document());
  EXPECT_EQ(documentOrientation, poLandscape);
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(rebuilds, 0);
  EXPECT_EQ(orientationAtRefresh, poPortrait);  // the remembered orientation
  EXPECT_EQ(Printer().Orientation(), poPortrait);
}

TEST_F(RunPrinterDialogTest, AnotherPaperRebuildsTheLayoutListsAndRefreshes) {
  RunPrinterDialog(
      [&] {
        TDeviceMode mode;
        mode.Fields = TDeviceMode::dmPaperSize;
        mode.PaperSize = 1;
        Printer().UpdateDeviceMode(mode);
        return true;
      },
      true, Document());
  EXPECT_EQ(rebuilds, 1);
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(CurrentPaperSize(), 1);
}

TEST(GeometryHelpers, ScaleToFitTakesTheSmallerRatio) {
  EXPECT_FLOAT_EQ(ScaleToFit(100, 200, 300, 400), 0.5f);
  EXPECT_FLOAT_EQ(ScaleToFit(900, 300, 100, 50), 2.0f);
  for (auto [b, d] : {std::pair{0.0, 1.0}, std::pair{1.0, 0.0}})
    EXPECT_EQ(MessageOf<Exception>([&] { ScaleToFit(1, b, 1, d); }), QStringLiteral("Destination sizes cannot be 0."));
}

TEST(GeometryHelpers, FitToAspectRatioGivesTheLargestBoxOfThatRatioInside) {
  struct {
    int w, h;
    bool turn;
    double ratio;
    int ew, eh;
  } cases[] = {
      {1000, 500, false, 1.5, 750, 500},
      {500, 1000, false, 1.5, 500, 333},
      {500, 1000, true, 1.5, 500, 750},   // a tall box turns a wide ratio
      {1000, 500, true, 1.5, 750, 500},   // already the same side of 1
      {500, 500, true, 2.0, 500, 250},    // a square box turns nothing
      {1000, 500, true, 1.0, 500, 500},   // nor does a square ratio
      {3, 100, false, 2.0, 3, 2},         // 1.5 rounds up
      {640, 480, false, 0.0, 640, 480},   // no ratio: unchanged
      {640, 480, false, -1.0, 640, 480},
  };
  for (const auto& c : cases) {
    int w = c.w, h = c.h;
    FitToAspectRatio(w, h, c.turn, c.ratio);
    EXPECT_EQ(w, c.ew) << c.w << "x" << c.h << " ratio " << c.ratio << " turn " << c.turn;
    EXPECT_EQ(h, c.eh) << c.w << "x" << c.h << " ratio " << c.ratio << " turn " << c.turn;
  }
}
