#include "Printing/printing/PrinterSettingsU.h"

#include "platform/Exceptions.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

struct TPaperName {
  int Code;
  const char* Name;
};

constexpr TPaperName kPaperNames[] = {
    {1, "Letter 8 1/2 x 11 in"},
    {2, "Letter Small 8 1/2 x 11 in"},
    {3, "Tabloid 11 x 17 in"},
    {4, "Ledger 17 x 11 in"},
    {5, "Legal 8 1/2 x 14 in"},
    {6, "Statement 5 1/2 x 8 1/2 in"},
    {7, "Executive 7 1/2 x 10 in"},
    {8, "A3 297 x 420 mm"},
    {9, "A4 210 x 297 mm"},
    {10, "A4 Small 210 x 297 mm"},
    {11, "A5 148 x 210 mm"},
    {12, "B4 250 x 354"},
    {13, "B5 182 x 257 mm"},
    {14, "Folio 8 1/2 x 13 in"},
    {15, "Quarto 215 x 275 mm"},
    {16, "10x14 in"},
    {17, "11x17 in"},
    {18, "Note 8 1/2 x 11 in"},
    {19, "Envelope #9 3 7/8 x 8 7/8 in"},
    {20, "Envelope #10 4 1/8 x 9 1/2 in"},
    {21, "Envelope #11 4 1/2 x 10 3/8 in"},
    {22, "Envelope #12 4\u00BE x 11 in"},
    {23, "Envelope #14 5 x 11 1/2 in"},
    {24, "C size sheet"},
    {25, "D size sheet"},
    {26, "E size sheet"},
    {256, "User Defined Size"},
};

// Pixels to tenths of a millimetre, truncated towards zero.
int ToUnits(int Pixels, int Dpi) {
  if (Dpi <= 0) return 0;
  return static_cast<int>(static_cast<qint64>(Pixels) * 254 / Dpi);
}

// The device settings of the current printer; asks a second time when the
// first answer has none.
TDeviceMode* CurrentDeviceMode(QString& Device, QString& Driver, QString& Port) {
  TDeviceMode* mode = nullptr;
  Printer().GetPrinter(Device, Driver, Port, mode);
  if (!mode) Printer().GetPrinter(Device, Driver, Port, mode);
  return mode;
}

void FillFromPrinter(TPrinterSettings& S, int WantLeft, int WantTop, int WantRight, int WantBottom, bool Centre) {
  TPrinter& p = Printer();
  S = TPrinterSettings();
  S.PrintableWidthPx = p.GetDeviceCaps(HORZRES);
  S.PrintableHeightPx = p.GetDeviceCaps(VERTRES);
  S.PaperWidthPx = p.GetDeviceCaps(PHYSICALWIDTH);
  S.PaperHeightPx = p.GetDeviceCaps(PHYSICALHEIGHT);
  S.OffsetLeftPx = p.GetDeviceCaps(PHYSICALOFFSETX);
  S.OffsetTopPx = p.GetDeviceCaps(PHYSICALOFFSETY);
  S.PixelsPerInchX = p.GetDeviceCaps(LOGPIXELSX);
  S.PixelsPerInchY = p.GetDeviceCaps(LOGPIXELSY);
  S.OffsetRightPx = S.PaperWidthPx - S.PrintableWidthPx - S.OffsetLeftPx;
  S.OffsetBottomPx = S.PaperHeightPx - S.PrintableHeightPx - S.OffsetTopPx;

  S.PrintableWidth = ToUnits(S.PrintableWidthPx, S.PixelsPerInchX);
  S.PrintableHeight = ToUnits(S.PrintableHeightPx, S.PixelsPerInchY);
  S.PaperWidth = ToUnits(S.PaperWidthPx, S.PixelsPerInchX);
  S.PaperHeight = ToUnits(S.PaperHeightPx, S.PixelsPerInchY);
  S.MarginLeft = ToUnits(S.OffsetLeftPx, S.PixelsPerInchX);
  S.MarginRight = ToUnits(S.OffsetRightPx, S.PixelsPerInchX);
  S.MarginTop = ToUnits(S.OffsetTopPx, S.PixelsPerInchY);
  S.MarginBottom = ToUnits(S.OffsetBottomPx, S.PixelsPerInchY);
  S.HardMarginLeft = S.MarginLeft;
  S.HardOffsetLeftPx = S.OffsetLeftPx;
  S.HardMarginTop = S.MarginTop;
  S.HardOffsetTopPx = S.OffsetTopPx;

  if (Centre) {
    if (S.MarginTop != S.MarginBottom) S.MarginTop = S.MarginBottom = std::max(S.MarginTop, S.MarginBottom);
    if (S.MarginLeft != S.MarginRight) S.MarginLeft = S.MarginRight = std::max(S.MarginLeft, S.MarginRight);
  }
  S.MarginLeft = std::max(S.MarginLeft, WantLeft);
  S.MarginRight = std::max(S.MarginRight, WantRight);
  S.MarginTop = std::max(S.MarginTop, WantTop);
  S.MarginBottom = std::max(S.MarginBottom, WantBottom);

  S.UsableWidth = static_cast<int>(std::clamp<qint64>(
      static_cast<qint64>(S.PaperWidth) - S.MarginLeft - S.MarginRight, INT_MIN, INT_MAX));
  S.UsableHeight = static_cast<int>(std::clamp<qint64>(
      static_cast<qint64>(S.PaperHeight) - S.MarginTop - S.MarginBottom, INT_MIN, INT_MAX));
}

}  // namespace

QString PaperSizeName(int Code) {
  for (const TPaperName& n : kPaperNames)
    if (n.Code == Code) return QString::fromUtf8(n.Name);
  return QStringLiteral("Unknown Paper Size");
}

int CurrentPaperSize() {
  QString device, driver, port;
  const TDeviceMode* mode = CurrentDeviceMode(device, driver, port);
  return mode ? mode->PaperSize : 0;
}

QString CurrentPaperName() { return PaperSizeName(CurrentPaperSize()); }

void FillPrinterSettings(TPrinterSettings& PrinterSettings, int MarginLeft, int MarginTop, int MarginRight,
                         int MarginBottom, bool Centre) {
  FillFromPrinter(PrinterSettings, MarginLeft, MarginTop, MarginRight, MarginBottom, Centre);
  // Margins that leave no paper: the printer's own margins. Once only, so
  // that a printer without paper information cannot loop.
  if (PrinterSettings.UsableWidth < 1 || PrinterSettings.UsableHeight < 1)
    FillFromPrinter(PrinterSettings, 0, 0, 0, 0, false);
  PrinterSettings.Orientation = Printer().Orientation();
}

// --- TPrintSet ---------------------------------------------------------------

TPrintSet::TPrintSet(QObject* AOwner) : QObject(AOwner) {}

QString TPrintSet::PrinterName() {
  TPrinter& p = Printer();
  if (p.PrinterIndex() != FPrinterIndex) {
    p.GetPrinter(FDevice, FDriver, FPort, FDeviceMode);
    p.SetPrinter(FDevice, FDriver, FPort, FDeviceMode);
    Refresh(false);
  }
  return FDevice;
}

void TPrintSet::Refresh(bool Quiet) {
  TPrinter& p = Printer();
  p.GetPrinter(FDevice, FDriver, FPort, FDeviceMode);
  if (!FDeviceMode) {
    p.SetPrinterIndex(p.PrinterIndex());
    p.GetPrinter(FDevice, FDriver, FPort, FDeviceMode);
  }
  if (!FDeviceMode) {
    FPrinterIndex = -99;
    if (!Quiet) throw EPrinter(QStringLiteral("Error retrieving DeviceMode"));
    return;
  }
  FPrinterIndex = p.PrinterIndex();
  FDeviceMode->Fields = TDeviceMode::AllFields;
  const bool ok = p.UpdateDeviceMode(*FDeviceMode);
  FDeviceMode->Fields = 0;
  if (!ok) throw EPrinter(QStringLiteral("Error updating printer driver."));
  FXResolution = p.GetDeviceCaps(LOGPIXELSX);
  FYResolution = p.GetDeviceCaps(LOGPIXELSY);
}

// --- The orientation exchange ------------------------------------------------

bool RunPrinterDialog(const std::function<bool()>& Dialog, bool TakeOrientation, const TOrientationExchange& Document) {
  TPrinter& p = Printer();
  const TPrinterOrientation printerOrientation = p.Orientation();
  const TPrinterOrientation documentOrientation = Document.DocumentOrientation();
  const QString paperName = CurrentPaperName();
  const QString printerName = p.PrinterName();

  if (p.Orientation() != documentOrientation) p.SetOrientation(documentOrientation);

  const bool result = Dialog();
  if (result) {
    if (TakeOrientation && p.Orientation() != documentOrientation && Document.SetDocumentOrientation)
      Document.SetDocumentOrientation(p.Orientation());
    const bool paperChanged = CurrentPaperName() != paperName;
    const bool printerChanged = p.PrinterName() != printerName;
    if (paperChanged && Document.RebuildLayoutLists) Document.RebuildLayoutLists();
    if (paperChanged || printerChanged) {
      p.SetOrientation(printerOrientation);
      if (Document.RefreshPrinterSettings) Document.RefreshPrinterSettings();
    }
  }
  if (p.Orientation() != printerOrientation) p.SetOrientation(printerOrientation);
  return result;
}

// --- Geometry helpers --------------------------------------------------------

float ScaleToFit(double A, double B, double C, double D) {
  if (B == 0 || D == 0) throw Exception(QStringLiteral("Destination sizes cannot be 0."));
  return static_cast<float>(std::min(A / B, C / D));
}

void FitToAspectRatio(int& Width, int& Height, bool AllowTurn, double Ratio) {
  if (!(Ratio > 0)) return;
  if (AllowTurn && Height != 0) {
    const double box = static_cast<double>(Width) / Height;
    const bool boxOnOne = box == 1.0;
    const bool ratioOnOne = Ratio == 1.0;
    if (!boxOnOne && !ratioOnOne && ((box - 1) > 0) != ((Ratio - 1) > 0)) Ratio = 1 / Ratio;
  }
  const int a = Trunc(Height * Ratio + 0.5);
  const int b = Trunc(Width / Ratio + 0.5);
  if (Width < a)
    Height = b;
  else
    Width = a;
}

void SwapValues(int& A, int& B) { std::swap(A, B); }
