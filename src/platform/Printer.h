#pragma once

#include <QObject>
#include <QPageSize>
#include <QString>
#include <QStringList>

#include <memory>

class QImage;
class QPainter;
class QRect;

// Shared printer enumerations, declared for the meta-object system so that
// streamed properties can carry them by name.
namespace TavoraPrinterTypes {
Q_NAMESPACE
enum TPrinterOrientation { poPortrait, poLandscape };
Q_ENUM_NS(TPrinterOrientation)
}  // namespace TavoraPrinterTypes
using TavoraPrinterTypes::TPrinterOrientation;
using TavoraPrinterTypes::poLandscape;
using TavoraPrinterTypes::poPortrait;

// The device-settings record of a printer: what the driver keeps for the
// selected printer (paper code, orientation, ...). `Fields` marks which of
// them are present.
struct TDeviceMode {
  enum TField : unsigned {
    dmOrientation = 0x0001,
    dmPaperSize = 0x0002,
    dmPaperLength = 0x0004,
    dmPaperWidth = 0x0008,
    dmScale = 0x0010,
    dmCopies = 0x0100,
    dmDefaultSource = 0x0200,
    dmPrintQuality = 0x0400,
    dmColor = 0x0800,
    dmDuplex = 0x1000,
    dmYResolution = 0x2000,
    dmTTOption = 0x4000,
  };
  static constexpr unsigned AllFields = dmOrientation | dmPaperSize | dmPaperLength | dmPaperWidth | dmScale |
                                        dmCopies | dmDefaultSource | dmPrintQuality | dmColor | dmDuplex |
                                        dmYResolution | dmTTOption;

  unsigned Fields = 0;
  TPrinterOrientation Orientation = poPortrait;
  int PaperSize = 0;    // the paper code (9 = A4, 1 = Letter, 256 = user defined)
  int PaperLength = 0;  // 0.1 mm
  int PaperWidth = 0;   // 0.1 mm
  int Scale = 100;
  int Copies = 1;
  int DefaultSource = 0;
  int PrintQuality = 0;  // horizontal resolution in dpi
  int Color = 2;         // 1 monochrome, 2 colour
  int Duplex = 1;        // 1 simplex, 2 long edge, 3 short edge
  int YResolution = 0;   // dpi
  int TTOption = 0;
};

// The device capabilities the program asks a printer for.
enum TDeviceCap {
  HORZRES,          // printable width, pixels
  VERTRES,          // printable height, pixels
  PHYSICALWIDTH,    // paper width, pixels
  PHYSICALHEIGHT,   // paper height, pixels
  PHYSICALOFFSETX,  // unprintable strip at the left, pixels
  PHYSICALOFFSETY,  // unprintable strip at the top, pixels
  LOGPIXELSX,       // horizontal resolution, pixels per inch
  LOGPIXELSY,       // vertical resolution, pixels per inch
  RASTERCAPS,       // the RC_ flags below
};

enum TRasterCaps : int {
  RC_BITMAP64 = 0x0008,  // takes bitmaps larger than 64 KB
  RC_DIBTODEV = 0x0200,
  RC_STRETCHDIB = 0x2000,
};

// The printer object: the list of printers, the selected one with its device
// settings and capabilities, and the print job with its canvas. Two
// back-ends: TQtPrinter (every CUPS queue and a PDF file) and TTestPrinter
// (settable metrics, records the pages).
class TPrinter {
public:
  virtual ~TPrinter();

  // The printers to choose from, and the selected one. Index -1 selects the
  // default printer.
  virtual QStringList Printers() const = 0;
  int PrinterIndex() const;
  void SetPrinterIndex(int Value);

  // Device name, driver and port of the selected printer and its device
  // settings (nullptr when the printer has none to give).
  virtual void GetPrinter(QString& ADevice, QString& ADriver, QString& APort, TDeviceMode*& ADeviceMode) = 0;
  // Selects the printer of that device name and takes the device settings
  // given (nullptr keeps the printer's own).
  virtual void SetPrinter(const QString& ADevice, const QString& ADriver, const QString& APort,
                          const TDeviceMode* ADeviceMode) = 0;
  // Lets the driver check and complete the settings in place, and applies
  // them to the selected printer. False when the driver rejects them.
  virtual bool UpdateDeviceMode(TDeviceMode& DevMode) = 0;

  virtual TPrinterOrientation Orientation() const = 0;
  virtual void SetOrientation(TPrinterOrientation Value) = 0;

  // Device capabilities of the selected printer in its current orientation.
  virtual int GetDeviceCaps(TDeviceCap Cap) const = 0;
  int PageWidth() const { return GetDeviceCaps(HORZRES); }
  int PageHeight() const { return GetDeviceCaps(VERTRES); }

  // The name of the selected printer (its device name).
  QString PrinterName();

  // The print job. The canvas draws in device pixels with (0, 0) at the top
  // left corner of the printable area.
  QString Title() const { return FTitle; }
  void SetTitle(const QString& Value) { FTitle = Value; }
  void BeginDoc();
  void NewPage();
  void EndDoc();
  void Abort();
  bool Printing() const { return FPrinting; }
  bool Aborted() const { return FAborted; }
  int PageNumber() const { return FPageNumber; }
  QPainter* Canvas();

  // The bitmap transfers of the banded picture output, onto a canvas of this
  // printer. StretchDIBits draws a device-independent bitmap stretched into
  // Dest and answers the number of scan lines the device took (0 when it
  // failed). DrawDDB sends the bitmap as a device-dependent one (a pixmap):
  // copied at 1:1 when Dest has the bitmap's size, else stretched; false
  // when it failed.
  virtual int StretchDIBits(QPainter* ACanvas, const QRect& Dest, const QImage& Bits);
  virtual bool DrawDDB(QPainter* ACanvas, const QRect& Dest, const QImage& Bits);

protected:
  virtual int DoGetPrinterIndex() const = 0;
  virtual void DoSetPrinterIndex(int Value) = 0;
  virtual int DefaultPrinterIndex() const = 0;
  virtual QPainter* DoBeginDoc() = 0;  // answers the canvas, or throws EPrinter
  virtual void DoNewPage() = 0;
  virtual void DoEndDoc() = 0;
  virtual void DoAbort() = 0;

private:
  void CheckPrinting(bool Value) const;

  QString FTitle;
  bool FPrinting = false;
  bool FAborted = false;
  int FPageNumber = 0;
  QPainter* FCanvas = nullptr;
};

// The program's printer: created on first use (the Qt back-end) unless one
// was installed.
TPrinter& Printer();
// Installs another printer object; answers the previous one.
std::unique_ptr<TPrinter> SetPrinter(std::unique_ptr<TPrinter> NewPrinter);

// Paper codes and Qt page sizes. Unknown codes map to QPageSize::Custom;
// sizes without a code map to 256 ("User Defined Size").
QPageSize::PageSizeId PaperCodeToPageSizeId(int Code);
int PageSizeToPaperCode(const QPageSize& Size);
