#pragma once

// The picture output of a print run: the answer to the document's
// OnPrintImage event. It prints only the part of a picture that falls on the
// sheet, through the banded printer, and falls back to drawing the picture
// on the canvas when the banded printer fails. While a print run goes on it
// keeps the abort dialog, which shows how many blocks were sent and lets the
// user stop.

#include "Printing/printing/AbortDialogU.h"
#include "Printing/printing/BandedPrintU.h"
#include "Printing/printing/PrinterSettingsU.h"

#include <QImage>

#include <functional>
#include <memory>

class QPainter;
class QWidget;

class TPrintImageHandler {
public:
  TPrintImageHandler();
  ~TPrintImageHandler();

  // Output settings (the "Defaults" section of the settings file).
  bool UseCanvasDraw = false;  // every picture is drawn on the canvas
  bool UseWinscale = false;    // enlarged pictures are scaled by the printer
  bool UseDDB = false;         // start with device-dependent bitmaps
  int PrinterScaling() const { return FPrinterScaling; }
  void SetPrinterScaling(int Value);  // 1 to 8; values outside count as the nearest end
  // The destination rectangle of every picture is outlined (the document's
  // uoDebug).
  bool DebugOutline = false;

  TBandedPrinter BandedPrinter;
  // How a picture becomes a DIB for the banded printer.
  std::function<bool(const QImage& AGraphic, TDib& ADib)> ConvertGraphic = GraphicToDIB;

  // Before a print run: shows the abort dialog (owned by AOwner's window),
  // sets the block counter to 0 and hands "Use Winscale" and "Use DDB" to
  // the banded printer.
  void BeforePrint(QWidget* AOwner);
  // After the run: frees the abort dialog.
  void AfterPrint();
  TAbortDialog* AbortDialog() const { return FAbortDialog.get(); }
  int BlockCount() const { return FBlockCount; }

  // The handler of the document's OnPrintImage event: draws ABitmap into
  // (x, y, Width, Height), printer pixels relative to the printable area,
  // clipped to the printer's page. Always sets AHandled. A Cancel in the
  // abort dialog ends the print run with EAbort; an internal failure of the
  // banded printer raises EAssertionFailed "Assertion failure".
  void OnPrintImage(bool& AHandled, const QImage& ABitmap, QPainter* PrtCanvas,
                    const TPrinterSettings& APrinterSettings, int x, int y, int Width, int Height);
  // The handler as the document's event takes it.
  std::function<void(bool&, const QImage&, QPainter*, const TPrinterSettings&, int, int, int, int)> Handler();

  // The progress callback of the banded printer: counts a block, shows it in
  // the abort dialog and answers whether to go on.
  bool Progress(int ATile, int ATiles);

private:
  bool PrintBanded(const QImage& ABitmap, QPainter* PrtCanvas, int x, int y, int Width, int Height);
  void CanvasDraw(bool& AHandled, const QImage& ABitmap, QPainter* PrtCanvas, int x, int y, int Width, int Height);

  int FPrinterScaling = 1;
  int FBlockCount = 0;
  std::unique_ptr<TAbortDialog> FAbortDialog;
};
