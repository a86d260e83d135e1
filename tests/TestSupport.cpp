#include "TestSupport.h"

#include <QImage>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>

TTestPrinterScope::TTestPrinterScope(const QList<TTestPrinter::TInfo>& Printers) {
  auto printer = std::make_unique<TTestPrinter>(Printers);
  FPrinter = printer.get();
  FPrevious = SetPrinter(std::move(printer));
}

TTestPrinterScope::~TTestPrinterScope() { SetPrinter(std::move(FPrevious)); }

TLocaleScope::TLocaleScope(const char* Name) {
  FPrevious = QString::fromLatin1(std::setlocale(LC_ALL, nullptr));
  FActive = std::setlocale(LC_ALL, Name) != nullptr;
  QLocale::setDefault(QLocale(QString::fromLatin1(Name).section(QLatin1Char('.'), 0, 0)));
}

TLocaleScope::~TLocaleScope() {
  std::setlocale(LC_ALL, FPrevious.toLatin1().constData());
  QLocale::setDefault(QLocale::c());
}

QString WritePicture(const QTemporaryDir& Dir, const QString& Name, int W, int H) {
  QImage image(W, H, QImage::Format_RGB888);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) image.setPixelColor(x, y, QColor(x * 255 / W, y * 255 / H, 90));
  const QString path = Dir.filePath(Name);
  EXPECT_TRUE(image.save(path));
  return path;
}
