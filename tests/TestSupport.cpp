#include "TestSupport.h"

#include "Printing/document/PrintPreviewU.h"

#include <QImage>
#include <QLocale>
#include <QMetaProperty>
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

namespace {

// Every published property of a component (sub-objects with dotted names,
// references as the target's name), whatever its stored condition.
void Describe(const QObject& Obj, const QString& Prefix, QStringList& Out) {
  QList<const QMetaObject*> chain;
  for (const QMetaObject* m = Obj.metaObject(); m && m->className()[0] != 'Q'; m = m->superClass()) chain.prepend(m);
  for (const QMetaObject* m : chain)
    for (int i = m->propertyOffset(); i < m->propertyCount(); ++i) {
      const QMetaProperty p = m->property(i);
      if (!p.isStored() && QLatin1String(p.name()) != QLatin1String("CurLayout")) continue;
      const QString name = Prefix + QLatin1String(p.name());
      const QVariant v = p.read(&Obj);
      if (p.metaType().flags().testFlag(QMetaType::PointerToQObject)) {
        QObject* target = *static_cast<QObject* const*>(v.constData());
        if (target && !dynamic_cast<TComponent*>(target))
          Describe(*target, name + QLatin1Char('.'), Out);
        else
          Out << name + QStringLiteral(" -> ") + (target ? target->objectName() : QStringLiteral("nil"));
        continue;
      }
      QString text;
      if (QLatin1String(p.name()) == QLatin1String("CurLayout")) {
        // The free rectangles as a set: reading them back sorts them. Their
        // text has two decimals: a strip thinner than that is not read back.
        QStringList cells;
        for (const QString& cell : v.toString().split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
          const QStringList n = cell.split(QLatin1Char(','));
          if (n.size() == 4 && n[0] != n[2] && n[1] != n[3]) cells << cell;
        }
        cells.sort();
        text = cells.join(QLatin1Char(';'));
      } else if (p.isEnumType())
        text = QString::number(v.toInt());
      else if (v.metaType().id() == QMetaType::QStringList)
        text = v.toStringList().join(QStringLiteral("|"));
      else if (v.metaType().id() == QMetaType::QColor)
        text = v.value<QColor>().name();
      else
        text = v.toString();
      Out << name + QStringLiteral(" = ") + text;
    }
}

}  // namespace

QStringList DescribeDocument(TPrintPreview& Doc) {
  QStringList out;
  for (TPagePreview* page : Doc.Pages()) Describe(*page, page->Name() + QLatin1Char('.'), out);
  for (QObject* item : Doc.Items()) Describe(*item, item->objectName() + QLatin1Char('.'), out);
  Describe(Doc, QStringLiteral("PrintPreview."), out);
  return out;
}
