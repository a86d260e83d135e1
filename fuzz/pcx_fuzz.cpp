// Reads arbitrary bytes as a PCX picture. Every input must end in the
// reader's own error or in a proper 24-bit picture of the size the header
// gives; the pixel limit is lowered so that no input can ask for more memory
// than a fuzzing run has.

#include "platform/images/Images.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Images::SetMaxPixels(4096 * 4096);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(Data), static_cast<qsizetype>(Size));
  try {
    const QImage image = Images::ReadPcx(bytes);
    if (image.format() != QImage::Format_RGB888 || image.width() < 1 || image.height() < 1) std::abort();
    const int width = (Data[8] | (Data[9] << 8)) - (Data[4] | (Data[5] << 8)) + 1;
    if (image.width() != width) std::abort();
  } catch (const Images::EImageError&) {
    // refused: fine
  }
  return 0;
}
