// Feeds arbitrary DIB bytes to the banded printer on the test printer: a
// few bytes choose the options, the rectangles and the printer's faults, a
// length splits the rest into the header block and the bits. Every input
// must end in one of the printer's result codes, a bad parameter always
// with its message, and every bitmap that reaches the printer inside the
// clip rectangle.

#include "Printing/printing/BandedPrintU.h"
#include "platform/Dialogs.h"
#include "platform/TestPrinter.h"

#include <QApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

class TReader {
public:
  TReader(const uint8_t* Data, size_t Size) : FData(Data), FSize(Size) {}
  uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  int16_t Short() { return static_cast<int16_t>(Byte() | (Byte() << 8)); }
  QByteArray Bytes(size_t Length) {
    const size_t n = Length < FSize - FPos ? Length : FSize - FPos;
    QByteArray b(reinterpret_cast<const char*>(FData + FPos), static_cast<qsizetype>(n));
    FPos += n;
    return b;
  }
  QByteArray Rest() { return Bytes(FSize - FPos); }

private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPos = 0;
};

void Check(bool Ok) {
  if (!Ok) std::abort();
}

TDialogScript* GScript = nullptr;

constexpr int kPageWidth = 600;
constexpr int kPageHeight = 400;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(*argc, *argv);
  GScript = new TDialogScript;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  TReader in(Data, Size);
  const uint8_t options = in.Byte();
  const uint8_t factors = in.Byte();

  TTestPrinter::TInfo info;
  info.PrintableWidthPx = kPageWidth;
  info.PrintableHeightPx = kPageHeight;
  if (options & 0x10) info.RasterCaps = RC_DIBTODEV | RC_STRETCHDIB;  // no bitmaps over 64 KB
  info.WrongStretchLineCalls = (options & 0x20) ? ((options & 0x40) ? -1 : 1) : 0;
  info.FailsDDB = options & 0x80;
  TTestPrinter& printer = TTestPrinter::Install({info});
  printer.BeginDoc();

  TBandedPrinter banded;
  banded.TileSize = QSize(64 + (factors & 0x30) * 4, 48 + (factors & 0xC0));
  banded.MaxBlockSize = 4 * 1024 * 1024;
  banded.SetScaleOnPrinter(options & 0x01);
  banded.SetDDBMode(options & 0x02);
  banded.FallbackToDDB = !(options & 0x04);
  banded.SetScaleFactors(1 + (factors & 3), 1 + ((factors >> 2) & 3));

  TPrintDIBRequest request;
  request.Canvas = printer.Canvas();
  request.Dest = {in.Short(), in.Short(), in.Short(), in.Short()};
  request.Src = {in.Short(), in.Short(), in.Short(), in.Short()};
  request.Clip = {0, 0, kPageWidth, kPageHeight};
  int calls = 0;
  const bool stop = options & 0x08;
  request.Progress = [&](int, int) { return !stop || ++calls < 3; };
  const int infoLength = static_cast<uint8_t>(in.Byte()) | (static_cast<uint8_t>(in.Byte()) << 8);
  request.Info = in.Bytes(static_cast<size_t>(infoLength));
  request.Bits = in.Rest();

  GScript->Clear();
  const int result = banded.PrintDIBRect(request);
  Check(result == brPrinted || result == brNothing || result == brBadParameter || result == brOutOfMemory ||
        result == brReadFailed || result == brStopped);
  Check((result == brBadParameter) == (GScript->Texts().size() == 1));
  Check(result != brBadParameter || printer.BitmapCalls().empty());
  const QRect clip(0, 0, kPageWidth, kPageHeight);
  for (const auto& call : printer.BitmapCalls()) Check(clip.contains(call.Dest));
  printer.Abort();
  return 0;
}
