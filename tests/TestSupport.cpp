#include "TestSupport.h"

#include <QLocale>

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
