#pragma once

#include "platform/Dialogs.h"
#include "platform/Printer.h"
#include "platform/TestPrinter.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>

// Readable texts in test failures.
inline void PrintTo(const QString& S, std::ostream* Os) { *Os << '"' << S.toStdString() << '"'; }
inline void PrintTo(const QStringList& L, std::ostream* Os) {
  *Os << '{';
  for (qsizetype i = 0; i < L.size(); ++i) *Os << (i ? ", \"" : "\"") << L[i].toStdString() << '"';
  *Os << '}';
}

// The dialog script every test runs under: boxes nobody scripted are
// answered by default and recorded here.
TDialogScript& TestDialogs();

class QTemporaryDir;
class TPrintPreview;

// Every published property of the document's pages, items and control, one
// "name.property = value" per line (sub-objects with dotted names,
// references as the target's name), whatever its stored condition.
QStringList DescribeDocument(TPrintPreview& Doc);

// Writes a picture file of the given size into Dir and answers its path: a
// colour gradient, so that scaling and turning can be told apart.
QString WritePicture(const QTemporaryDir& Dir, const QString& Name, int W, int H);

// The message of the exception of type E that F throws, or "<no exception>".
template <class E, class F>
QString MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  }
  return QStringLiteral("<no exception>");
}

// A test printer at 254 dpi, so that one pixel is one unit: paper W x H
// with unprintable strips of Offset pixels all round.
inline TTestPrinter::TInfo UnitPrinter(int W, int H, int Offset = 0) {
  TTestPrinter::TInfo p;
  p.DpiX = p.DpiY = 254;
  p.PaperWidthPx = W;
  p.PaperHeightPx = H;
  p.OffsetLeftPx = p.OffsetTopPx = Offset;
  p.PrintableWidthPx = W - 2 * Offset;
  p.PrintableHeightPx = H - 2 * Offset;
  return p;
}

// Installs a test printer for the life of the object and puts the previous
// printer back afterwards.
class TTestPrinterScope {
public:
  explicit TTestPrinterScope(const QList<TTestPrinter::TInfo>& Printers = {TTestPrinter::TInfo()});
  ~TTestPrinterScope();
  TTestPrinter& operator*() { return *FPrinter; }
  TTestPrinter* operator->() { return FPrinter; }

private:
  TTestPrinter* FPrinter;
  std::unique_ptr<TPrinter> FPrevious;
};

// Runs a function under a given LC_NUMERIC / C++ global locale and restores
// the previous one.
class TLocaleScope {
public:
  explicit TLocaleScope(const char* Name);
  ~TLocaleScope();
  bool Active() const { return FActive; }

private:
  QString FPrevious;
  bool FActive = false;
};
