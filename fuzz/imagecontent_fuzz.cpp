// Reads arbitrary bytes as whatever picture their content shows (JPEG, PNG,
// PCX and Qt's readers), then resamples and turns what was read. Every
// input must end in the layer's own error or in a proper 24-bit picture.

#include "platform/images/Images.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // Qt's image plugins are found through the application object.
  static QCoreApplication app(*argc, *argv);
  Images::SetMaxPixels(4096 * 4096);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
  try {
    Images::TReadOptions options;
    if (Size > 0 && (Data[Size - 1] & 1)) {  // now and then a scaled JPEG
      options.RequestedWidth = 1 + Data[Size - 1] % 64;
      options.RequestedHeight = 1 + Data[0] % 64;
    }
    const QImage image = Images::ReadByContent(bytes, options);
    if (image.format() != QImage::Format_RGB888 || image.width() < 1 || image.height() < 1) std::abort();
    const QImage small = Images::Resample(image, 1 + image.width() % 23, 1 + image.height() % 19,
                                          Images::TResampleFilter::Lanczos3);
    const QImage turned = Images::RotateQuarterTurns(small, 1);
    if (turned.width() != small.height() || turned.height() != small.width()) std::abort();
  } catch (const Images::EImageError&) {
    // refused: fine
  }
  return 0;
}
