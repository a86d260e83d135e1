#include "MarkupTestSupport.h"

#include <QFontDatabase>
#include <QStringList>

#include <gtest/gtest.h>

QString DejaVuSans() {
  static const QString family = [] {
    const QString dir = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
    QString name;
    for (const char* file : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf", "DejaVuSans-Oblique.ttf",
                             "DejaVuSans-BoldOblique.ttf"}) {
      const int id = QFontDatabase::addApplicationFont(dir + QString::fromLatin1(file));
      EXPECT_GE(id, 0) << "cannot load " << file << " (package fonts-dejavu-core)";
      if (id >= 0 && name.isEmpty()) name = QFontDatabase::applicationFontFamilies(id).value(0);
    }
    return name.isEmpty() ? QStringLiteral("DejaVu Sans") : name;
  }();
  return family;
}

QFont TestFont(int PointSize) {
  QFont f(DejaVuSans());
  f.setPointSize(PointSize);
  f.setStyleStrategy(QFont::NoFontMerging);
  return f;
}

QImage WhiteImage(int Width, int Height, int Dpi) {
  QImage image(Width, Height, QImage::Format_RGB888);
  const int dpm = qRound(Dpi / 0.0254);
  image.setDotsPerMeterX(dpm);
  image.setDotsPerMeterY(dpm);
  image.fill(Qt::white);
  return image;
}
