// Renders arbitrary markup into a small image. The first byte
// picks the rectangle, the font size and the resolution, the second how the
// rest is read (Latin-1 or UTF-8) and whether to measure all lines; the rest
// is the markup. Every input must end: no crash, no hang, no unbounded
// allocation, and the painter's state must be put back.

#include "Printing/text/krHTMLabel.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QGuiApplication* GApp = nullptr;
QString GFamily;

void Check(bool Ok) {
  if (!Ok) std::abort();
}

const QRect kRects[] = {
    QRect(0, 0, 64, 48), QRect(2, 3, 40, 20),        QRect(0, 0, 0, 0),          QRect(),
    QRect(10, 10, 1, 1), QRect(50, 40, -20, -30),    QRect(-30, -20, 200, 100),  QRect(0, 0, 64, 100000),
};
const int kDpi[] = {96, 72, 150, 300};

}  // namespace

// Fontconfig keeps the patterns of every font the target asks for (FONT
// FACE names) in caches the leak checker cannot see through.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "fuzz_markup";
  static char* argv[] = {name, nullptr};
  GApp = new QGuiApplication(argc, argv);
  const int id = QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
  QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"));
  GFamily = id >= 0 ? QFontDatabase::applicationFontFamilies(id).value(0) : QStringLiteral("DejaVu Sans");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size < 2) return 0;
  const uint8_t setup = Data[0];
  const uint8_t mode = Data[1];
  const char* text = reinterpret_cast<const char*>(Data + 2);
  const qsizetype length = static_cast<qsizetype>(Size - 2);
  const QString markup = (mode & 1) ? QString::fromUtf8(text, length) : QString::fromLatin1(text, length);

  QImage image(64, 48, QImage::Format_RGB888);
  const int dpm = qRound(kDpi[(setup >> 6) & 3] / 0.0254);
  image.setDotsPerMeterX(dpm);
  image.setDotsPerMeterY(dpm);
  image.fill(Qt::white);

  const QRect rect = kRects[setup & 7];
  QFont font(GFamily);
  font.setPointSize(4 + ((setup >> 3) & 7) * 2);
  QPainter p(&image);
  p.setFont(font);
  p.setPen(QColor(10, 20, 30));
  p.setBrush(QColor(40, 50, 60));
  DrawMarkup(p, rect, markup);
  Check(p.font() == font);
  Check(p.pen().color() == QColor(10, 20, 30));
  Check(p.brush().color() == QColor(40, 50, 60));
  const TMarkupLayout layout = MeasureMarkup(p, rect, markup, (mode & 2) != 0);
  p.end();
  Check(layout.Height >= 0 && layout.Width >= 0);
  for (const TMarkupLine& line : layout.Lines) Check(line.Height >= 0);
  // Qt trims its font caches from a timer; let it run as the program's event
  // loop would.
  QCoreApplication::processEvents();
  return 0;
}
