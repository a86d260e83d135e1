#pragma once

// What the program knows about the current printer: the paper in use, the
// page metrics record, the device settings kept in step with the printer
// selection, and the orientation exchange around the print and printer-setup
// dialogs.

#include "platform/Printer.h"

#include <QObject>
#include <QString>

#include <functional>

// The page metrics of the current printer and the document's margins.
// Lengths in tenths of a millimetre unless the name ends in Px (printer
// pixels).
struct TPrinterSettings {
  int PrintableWidth = 0;
  int PrintableHeight = 0;
  int UsableWidth = 0;   // PaperWidth - MarginLeft - MarginRight
  int UsableHeight = 0;  // PaperHeight - MarginTop - MarginBottom
  int PaperWidth = 0;
  int PaperHeight = 0;
  int PrintableWidthPx = 0;
  int PrintableHeightPx = 0;
  int PaperWidthPx = 0;
  int PaperHeightPx = 0;
  int OffsetLeftPx = 0;
  int OffsetRightPx = 0;
  int OffsetTopPx = 0;
  int OffsetBottomPx = 0;
  int MarginLeft = 0;  // effective margins
  int MarginRight = 0;
  int MarginTop = 0;
  int MarginBottom = 0;
  int PixelsPerInchX = 0;
  int PixelsPerInchY = 0;
  int HardMarginLeft = 0;  // the printer's own, before any adjustment
  int HardOffsetLeftPx = 0;
  int HardMarginTop = 0;
  int HardOffsetTopPx = 0;
  TPrinterOrientation Orientation = poPortrait;

  bool operator==(const TPrinterSettings&) const = default;
};

// The name of a paper by its code ("A4 210 x 297 mm" for 9).
QString PaperSizeName(int Code);
// The paper code in the current printer's device settings (0 when the
// printer gives none).
int CurrentPaperSize();
QString CurrentPaperName();

// Fills the record from the current printer and the wanted margins (0.1 mm):
// the printer's own margins, centred when asked, raised to the wanted ones.
// Margins that leave no usable paper fall back to the printer's own.
void FillPrinterSettings(TPrinterSettings& PrinterSettings, int MarginLeft, int MarginTop, int MarginRight,
                         int MarginBottom, bool Centre);

// Keeps the printer's device settings in step with the printer selection.
class TPrintSet : public QObject {
  Q_OBJECT
public:
  explicit TPrintSet(QObject* AOwner = nullptr);

  // Brings the component in step with the selected printer and answers the
  // printer's device name. Fails with EPrinter "Error retrieving DeviceMode"
  // or "Error updating printer driver.".
  QString PrinterName();
  // Validates the device settings of the remembered printer with its driver.
  void Refresh(bool Quiet = false);

  int PrinterIndex() const { return FPrinterIndex; }  // -99 when none
  QString Device() const { return FDevice; }
  QString Driver() const { return FDriver; }
  QString Port() const { return FPort; }
  int XResolution() const { return FXResolution; }
  int YResolution() const { return FYResolution; }

private:
  QString FDevice;
  QString FDriver;
  QString FPort;
  TDeviceMode* FDeviceMode = nullptr;
  int FPrinterIndex = -99;
  int FXResolution = 0;
  int FYResolution = 0;
};

// The document's side of the orientation exchange.
struct TOrientationExchange {
  std::function<TPrinterOrientation()> DocumentOrientation;
  std::function<void(TPrinterOrientation)> SetDocumentOrientation;
  // The paper changed: the page layout lists depend on it.
  std::function<void()> RebuildLayoutLists;
  // The paper or the printer changed: the document recomputes the printer
  // settings of itself and of every page.
  std::function<void()> RefreshPrinterSettings;
};

// Runs a print or printer-setup dialog with the document's orientation on
// the printer and answers the dialog's result. The printer always gets its
// former orientation back; a printer-setup dialog (TakeOrientation) hands
// the orientation the user chose to the document.
bool RunPrinterDialog(const std::function<bool()>& Dialog, bool TakeOrientation, const TOrientationExchange& Document);

// The smaller of A / B and C / D. Fails with "Destination sizes cannot be 0."
float ScaleToFit(double A, double B, double C, double D);
// The largest box of the given aspect ratio inside Width x Height, halves
// rounded up; with AllowTurn the ratio is turned to match the box.
void FitToAspectRatio(int& Width, int& Height, bool AllowTurn, double Ratio);
void SwapValues(int& A, int& B);
