// A fixed markup text rendered with the DejaVu fonts and compared
// with the reference picture committed beside this file
// (data/markup_reference.png). Set TAVORA_UPDATE_REFERENCE=1 to write the
// picture anew (then look at it before committing it).

#include "Printing/text/krHTMLabel.h"

#include "MarkupTestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

QString ReferencePath() {
  return QFileInfo(QString::fromUtf8(__FILE__)).absolutePath() + QStringLiteral("/data/markup_reference.png");
}

// Uses only what does not depend on the machine's palette or style.
const char16_t kReferenceMarkup[] =
    u"<P align=\"center\"><B>Tavora</B> <FONT size=\"5\">markup</FONT> renderer<BR>"
    u"<P align=\"left\">Plain, <B>bold</B>, <I>italic</I>, <U>underline</U>, <S>strike</S>, "
    u"<B><I>both</I></B>.<BR>"
    u"<FONT color=\"#C00000\">red</FONT> <FONT color=\"clNavy\" size=\"4\">navy 14pt</FONT> "
    u"<FONT bgcolor=\"clYellow\">on yellow</FONT> x<SUP>2</SUP> H<SUB>2</SUB>O<BR>"
    u"&amp; &euro; &permil; &copy; &reg; &trade; &sect; &para; &quot;q&quot; &lt;B&gt; &Hotkey<BR>"
    u"<P align=\"right\">right aligned <SHAD>shadow</SHAD> <E>zigzag</E><BR>"
    u"<P align=\"left\" indent=\"16\" bgcolor=\"#E0F0FF\">indented paragraph on blue</P>"
    u"<UL><LI>bullet one<BR><UL><LI>bullet two</UL></UL><HR>"
    u"<P align=\"center\">A long line of words that wraps at the spaces because the box is narrow.";

QImage RenderReference() {
  QImage img = WhiteImage(360, 240);
  QPainter p(&img);
  p.setFont(TestFont(10));
  p.setPen(Qt::black);
  DrawMarkup(p, QRect(4, 4, 352, 232), QString::fromUtf16(kReferenceMarkup));
  p.end();
  return img;
}

}  // namespace

TEST(MarkupReference, FixedTextMatchesTheReferencePicture) {
  const QImage actual = RenderReference();
  if (qEnvironmentVariableIsSet("TAVORA_UPDATE_REFERENCE")) {
    QDir().mkpath(QFileInfo(ReferencePath()).absolutePath());
    ASSERT_TRUE(actual.save(ReferencePath(), "PNG"));
    GTEST_SKIP() << "reference written to " << ReferencePath().toStdString();
  }
  QImage expected(ReferencePath());
  ASSERT_FALSE(expected.isNull()) << "missing " << ReferencePath().toStdString();
  expected = expected.convertToFormat(QImage::Format_RGB888);
  ASSERT_EQ(expected.size(), actual.size());

  // A pixel differs when a channel is off by more than 64 (anti-aliasing of a
  // glyph edge may vary a little); at most 0.5 % of the pixels may differ.
  int differing = 0;
  for (int y = 0; y < actual.height(); ++y)
    for (int x = 0; x < actual.width(); ++x) {
      const QColor a = actual.pixelColor(x, y);
      const QColor e = expected.pixelColor(x, y);
      if (std::abs(a.red() - e.red()) > 64 || std::abs(a.green() - e.green()) > 64 ||
          std::abs(a.blue() - e.blue()) > 64)
        ++differing;
    }
  const int allowed = actual.width() * actual.height() / 200;
  if (differing > allowed) {
    const QString out = QDir::tempPath() + QStringLiteral("/markup_actual.png");
    actual.save(out, "PNG");
    ADD_FAILURE() << differing << " pixels differ (allowed " << allowed << "); rendering saved as "
                  << out.toStdString();
  }
}

TEST(MarkupReference, RenderingIsRepeatable) { EXPECT_EQ(RenderReference(), RenderReference()); }
