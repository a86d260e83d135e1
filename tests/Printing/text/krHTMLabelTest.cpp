// The markup renderer. Positions are checked through
// MeasureMarkup (which lays out exactly as DrawMarkup draws) against the
// DejaVu font's own metrics; drawing is checked by its pixels.

#include "Printing/text/krHTMLabel.h"

#include "MarkupTestSupport.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <gtest/gtest.h>

namespace {

// A box whose text area (one pixel in from the left) is W wide.
QRect BoxFor(int W, int H = 400) { return QRect(0, 0, W + 1, H); }

class MarkupTest : public ::testing::Test {
protected:
  MarkupTest() : Image(WhiteImage(400, 300)), Font(TestFont(12)) {}

  TMarkupLayout Layout(const QString& Text, const QRect& R, bool All = false) {
    return MeasureMarkup(&Image, Font, R, Text, All);
  }
  TMarkupLayout Layout(const QString& Text, int W = 398) { return Layout(Text, BoxFor(W)); }

  QFontMetrics Fm(bool Bold = false, bool Italic = false, int Points = 12) {
    QFont f(Font);
    f.setBold(Bold);
    f.setItalic(Italic);
    f.setPointSize(Points);
    return QFontMetrics(f, &Image);
  }
  int W(const QString& S, bool Bold = false) { return Fm(Bold).horizontalAdvance(S); }
  // A line's width is the sum of its runs' widths (a run is a word with its
  // trailing space), not the width of the whole text at once.
  int Runs(std::initializer_list<const char*> Parts) {
    int w = 0;
    for (const char* part : Parts) w += W(QString::fromUtf8(part));
    return w;
  }

  QImage Draw(const QString& Text, const QRect& R, const QColor& Pen = Qt::black) {
    QImage img = WhiteImage(Image.width(), Image.height());
    QPainter p(&img);
    p.setFont(Font);
    p.setPen(Pen);
    DrawMarkup(p, R, Text);
    return img;
  }
  QImage Draw(const QString& Text) { return Draw(Text, QRect(0, 0, 400, 300)); }

  static int CountPixels(const QImage& Img, const QRect& Area, const std::function<bool(QColor)>& Pred) {
    int n = 0;
    const QRect a = Area.intersected(Img.rect());
    for (int y = a.top(); y <= a.bottom(); ++y)
      for (int x = a.left(); x <= a.right(); ++x)
        if (Pred(Img.pixelColor(x, y))) ++n;
    return n;
  }
  static bool Dark(QColor c) { return c.red() < 128 && c.green() < 128 && c.blue() < 128; }
  static bool NotWhite(QColor c) { return c != QColor(Qt::white); }
  static int Inked(const QImage& Img, const QRect& Area) { return CountPixels(Img, Area, NotWhite); }

  QImage Image;
  QFont Font;
};

}  // namespace

// ---------------------------------------------------------------------------
// Preparing the text

struct TTextCase {
  const char16_t* In;
  const char16_t* Out;
};

TEST(MarkupEntities, FirstTableIsReplacedIgnoringCaseUntilNoneIsLeft) {
  const TTextCase cases[] = {
      {u"&amp;", u"&&"},
      {u"&AMP;", u"&&"},
      {u"&quot;", u"\""},
      {u"&sect;", u"\u00A7"},
      {u"&permil;", u"\u2030"},  // the per-mille sign alone
      {u"&PerMil;", u"\u2030"},
      {u"&reg;", u"\u00AE"},
      {u"&copy;", u"\u00A9"},
      {u"&para;", u"\u00B6"},
      {u"&trade;", u"\u2122"},  // Windows-1252 0x99
      {u"&euro;", u"\u20AC"},   // Windows-1252 0x80
      {u"&amp;amp;", u"&&&"},   // "&&amp;" contains "&amp;" again
      {u"&amp;quot;", u"&\""},
      {u"a &amp b", u"a &amp b"},
      {u"&unknown; &nbsp; &lt;", u"&unknown; &nbsp; &lt;"},
      {u"x&euro;&euro;y", u"x\u20AC\u20ACy"},
      {u"&;&&;", u"&;&&;"},
      {u"", u""},
  };
  for (const TTextCase& c : cases)
    EXPECT_EQ(Markup::ReplaceEntities(QString::fromUtf16(c.In)), QString::fromUtf16(c.Out))
        << QString::fromUtf16(c.In).toStdString();
}

TEST(MarkupEntities, LongChainsOfAmpersands) {
  QString s;
  for (int i = 0; i < 200000; ++i) s += QStringLiteral("&amp;");
  const QString out = Markup::ReplaceEntities(s);
  EXPECT_EQ(out, QString(400000, QLatin1Char('&')));
  QString nested = QStringLiteral("&");
  for (int i = 0; i < 100000; ++i) nested += QStringLiteral("amp;");
  EXPECT_EQ(Markup::ReplaceEntities(nested), QString(100001, QLatin1Char('&')));
}

TEST(MarkupEntities, RunEntities) {
  const TTextCase cases[] = {
      {u"&nbsp;", u"\u00A0"}, {u"&LT;B&gt;", u"<B>"}, {u"a&lt", u"a&lt"},
      {u"&&lt;", u"&<"},      {u"&amp;", u"&amp;"},   {u"&gt;&gt;&nbsp", u">>&nbsp"},
  };
  for (const TTextCase& c : cases)
    EXPECT_EQ(Markup::ReplaceRunEntities(QString::fromUtf16(c.In)), QString::fromUtf16(c.Out));
}

TEST(MarkupEntities, PreparingTheText) {
  const TTextCase cases[] = {
      {u"a\r\nb", u"a<BR>b"},
      {u"a\nb\rc", u"ab<BR>c"},
      {u"x<#y>z<#w>", u"x#yz<#w>"},  // once
      {u"<#abc", u"#abc"},
      {u"&copy;\r\n", u"\u00A9<BR>"},
  };
  for (const TTextCase& c : cases) EXPECT_EQ(Markup::PrepareText(QString::fromUtf16(c.In)), QString::fromUtf16(c.Out));
}

TEST(MarkupEntities, PrefixProcessing) {
  const TTextCase cases[] = {{u"a&&b", u"a&b"}, {u"&x", u"x"}, {u"a&", u"a"}, {u"&&&", u"&"}, {u"plain", u"plain"}};
  for (const TTextCase& c : cases) EXPECT_EQ(Markup::ShownText(QString::fromUtf16(c.In)), QString::fromUtf16(c.Out));
}

TEST(MarkupColors, HexNamesAndSystemColours) {
  struct TCase {
    const char* In;
    QColor Out;
  };
  const QPalette pal = QGuiApplication::palette();
  const TCase cases[] = {
      {"#FF0000", QColor(255, 0, 0)},
      {"#00ff80", QColor(0, 255, 128)},
      {" #123456 ", QColor(0x12, 0x34, 0x56)},
      {"clRed", QColor(255, 0, 0)},
      {"CLNAVY", QColor(0, 0, 0x80)},
      {"clGreen", QColor(0, 0x80, 0)},
      {"clSilver", QColor(0xC0, 0xC0, 0xC0)},
      {"clGray", QColor(0x80, 0x80, 0x80)},
      {"clMaroon", QColor(0x80, 0, 0)},
      {"clWindow", pal.color(QPalette::Active, QPalette::Base)},
      {"clHighlight", pal.color(QPalette::Active, QPalette::Highlight)},
      {"clBtnFace", pal.color(QPalette::Active, QPalette::Button)},
      {"clInfoBk", pal.color(QPalette::Active, QPalette::ToolTipBase)},
      {"nonsense", QColor(0, 0, 0)},
      {"#12", QColor(0, 0, 0)},
      {"#GG0000", QColor(0, 0, 0)},
      {"", QColor(0, 0, 0)},
  };
  for (const TCase& c : cases) EXPECT_EQ(Markup::ParseColor(QString::fromLatin1(c.In)), c.Out) << c.In;
}

// ---------------------------------------------------------------------------
// Lines

TEST_F(MarkupTest, EmptyTextDrawsNothing) {
  EXPECT_TRUE(Layout(QString()).Lines.isEmpty());
  const QImage img = Draw(QString());
  EXPECT_EQ(Inked(img, img.rect()), 0);
}

TEST_F(MarkupTest, TwoLineBreaksAdvanceTwoLinesOfTheStartingFont) {
  const TMarkupLayout l = Layout(QStringLiteral("<BR><BR>"));
  ASSERT_EQ(l.Lines.size(), 2);
  EXPECT_EQ(l.Lines[0].Height, Fm().height());
  EXPECT_EQ(l.Lines[1].Top, Fm().height());
  EXPECT_EQ(l.Height, 2 * Fm().height());
  EXPECT_EQ(l.Lines[0].Width, 0);
  // A carriage return is a line break, a line feed is dropped.
  EXPECT_EQ(Layout(QStringLiteral("a\r\nb\r\nc")).Lines.size(), 3);
}

TEST_F(MarkupTest, TextWiderThanTheBoxWrapsAtSpaces) {
  const QString text = QStringLiteral("aaa bbb ccc ddd");
  const int lineW = Runs({"aaa ", "bbb "});
  const TMarkupLayout l = Layout(text, lineW + W(QStringLiteral("c")));
  ASSERT_EQ(l.Lines.size(), 2);
  EXPECT_EQ(l.Lines[0].Width, lineW - W(QStringLiteral(" ")));  // the trailing space does not count
  EXPECT_EQ(l.Lines[1].Width, Runs({"ccc ", "ddd"}));
  EXPECT_EQ(l.Lines[0].Left, 1);  // one pixel in from the left edge
  EXPECT_EQ(l.Lines[1].Top, l.Lines[0].Height);
}

TEST_F(MarkupTest, WordsEndingExactlyAtTheRightEdgeDoNotFit) {
  const QString text = QStringLiteral("aaa bbb");
  const int exact = Runs({"aaa ", "bbb"});
  EXPECT_EQ(Layout(text, exact).Lines.size(), 2);
  EXPECT_EQ(Layout(text, exact + 1).Lines.size(), 1);
  // The width of a run includes its trailing space.
  const QString spaced = QStringLiteral("aaa bbb ");
  const int withSpace = Runs({"aaa ", "bbb "});
  EXPECT_EQ(Layout(spaced, withSpace).Lines.size(), 2);
  EXPECT_EQ(Layout(spaced, withSpace + 1).Lines.size(), 1);
}

TEST_F(MarkupTest, AWordWiderThanTheBoxGetsALineOfItsOwnAndIsCutOff) {
  const QString word = QStringLiteral("Supercalifragilistic");
  const int box = Runs({"ab ", "cd"});
  const TMarkupLayout l = Layout(QStringLiteral("ab ") + word + QStringLiteral(" cd"), box);
  ASSERT_EQ(l.Lines.size(), 3);
  EXPECT_EQ(l.Lines[1].Width, W(word));
  EXPECT_GT(l.Lines[1].Width, box);
  // Drawn: nothing right of the box.
  const QRect r(20, 10, box + 1, 200);
  const QImage img = Draw(QStringLiteral("ab ") + word + QStringLiteral(" cd"), r);
  EXPECT_GT(Inked(img, QRect(r.left(), r.top(), r.width(), 3 * Fm().height())), 0);
  EXPECT_EQ(Inked(img, QRect(r.left() + r.width(), 0, 400, 300)), 0);
  EXPECT_EQ(Inked(img, QRect(0, 0, r.left(), 300)), 0);
}

TEST_F(MarkupTest, AWordSplitByTagsMovesAsAWhole) {
  const QString text = QStringLiteral("aaa bb<B>cc</B>dd");
  const int box = Runs({"aaa ", "bb"}) + 2;  // "bb" would fit, "cc" not
  const TMarkupLayout l = Layout(text, box);
  ASSERT_EQ(l.Lines.size(), 2);
  EXPECT_EQ(l.Lines[0].Width, Runs({"aaa "}) - W(QStringLiteral(" ")));
  EXPECT_EQ(l.Lines[1].Width, W(QStringLiteral("bb")) + W(QStringLiteral("cc"), true) + W(QStringLiteral("dd")));
  // When the whole word fits it stays.
  const int whole = Runs({"aaa ", "bb"}) + W(QStringLiteral("cc"), true) + W(QStringLiteral("dd"));
  EXPECT_EQ(Layout(text, whole).Lines.size(), 2);
  EXPECT_EQ(Layout(text, whole + 1).Lines.size(), 1);
  // The rest of the word ends at its first space.
  EXPECT_EQ(Layout(text + QStringLiteral(" ee"), whole + 1).Lines.size(), 2);
  // A word split by tags on a line of its own is never broken at a tag.
  const TMarkupLayout alone = Layout(QStringLiteral("bb<B>cc</B>dd"), W(QStringLiteral("b")));
  EXPECT_EQ(alone.Lines.size(), 1);
}

struct TAlignCase {
  const char* Markup;
  TMarkupAlignment Align;
};

TEST_F(MarkupTest, ParagraphAlignment) {
  const TAlignCase cases[] = {
      {"<P align=\"left\">", maLeft},         {"<P align=\"right\">", maRight},
      {"<P align=\"center\">", maCenter},     {"<P ALIGN=\"Right\">", maRight},
      {"<P align=right>", maRight},           {"<p align='center'>", maCenter},
      {"<P align=\"leftright\">", maLeft},    // RIGHT, then LEFT: the last match wins
      {"<P align=\"rightcenter\">", maCenter}, {"<P>", maLeft},
      {"<P align=\"middle\">", maLeft},
  };
  for (const TAlignCase& c : cases) {
    const TMarkupLayout l = Layout(QString::fromLatin1(c.Markup) + QStringLiteral("word"));
    ASSERT_EQ(l.Lines.size(), 1) << c.Markup;
    EXPECT_EQ(l.Lines[0].Alignment, c.Align) << c.Markup;
  }
}

TEST_F(MarkupTest, RightAlignedWordIsFlushWithTheRightEdgeAndStaysRightAfterABreak) {
  const QRect r(10, 5, 300, 200);
  const TMarkupLayout l = Layout(QStringLiteral("<P align=\"right\">word<BR>next line"), r);
  ASSERT_EQ(l.Lines.size(), 2);
  EXPECT_EQ(l.Lines[0].Left + l.Lines[0].Width, r.left() + r.width());
  EXPECT_EQ(l.Lines[1].Left + l.Lines[1].Width, r.left() + r.width());
  EXPECT_EQ(l.Lines[1].Alignment, maRight);
  // Drawn: ink ends at the right edge.
  const QImage img = Draw(QStringLiteral("<P align=\"right\">word"), r);
  const int h = Fm().height();
  EXPECT_EQ(Inked(img, QRect(r.left(), r.top(), r.width() - W(QStringLiteral("word")) - 1, h)), 0);
  EXPECT_GT(Inked(img, QRect(r.left() + r.width() - 6, r.top(), 6, h)), 0);
}

TEST_F(MarkupTest, CentredLineTakesHalfTheFreeWidth) {
  const QRect r = BoxFor(301);
  const TMarkupLayout l = Layout(QStringLiteral("<P align=\"center\">abc"), r);
  ASSERT_EQ(l.Lines.size(), 1);
  EXPECT_EQ(l.Lines[0].Left, 1 + (301 - W(QStringLiteral("abc"))) / 2);
  // Without free width a centred or right-aligned line starts at the left.
  const QString wide = QStringLiteral("Supercalifragilistic");
  EXPECT_EQ(Layout(QStringLiteral("<P align=\"center\">") + wide, 20).Lines[0].Left, 1);
  EXPECT_EQ(Layout(QStringLiteral("<P align=\"right\">") + wide, 20).Lines[0].Left, 1);
}

TEST_F(MarkupTest, AlignmentIsTakenAtTheEndOfTheLineAndDoesNotBreakIt) {
  const TMarkupLayout l = Layout(QStringLiteral("ab<P align=\"right\">cd<BR>ef<P align=\"left\">"));
  ASSERT_EQ(l.Lines.size(), 2);
  EXPECT_EQ(l.Lines[0].Alignment, maRight);
  EXPECT_EQ(l.Lines[0].Width, Runs({"ab", "cd"}));
  EXPECT_EQ(l.Lines[1].Alignment, maLeft);
}

TEST_F(MarkupTest, ParagraphEndAndRuleEndTheLine) {
  EXPECT_EQ(Layout(QStringLiteral("a</P>b")).Lines.size(), 2);
  EXPECT_EQ(Layout(QStringLiteral("a<HR>b")).Lines.size(), 2);
  EXPECT_EQ(Layout(QStringLiteral("a<P>b")).Lines.size(), 1);
}

TEST_F(MarkupTest, IndentMovesLinesRight) {
  const TMarkupLayout l = Layout(QStringLiteral("<P indent=\"20\">ab<BR>cd<P indent=\"0\"><BR>ef"));
  ASSERT_EQ(l.Lines.size(), 3);
  EXPECT_EQ(l.Lines[0].Left, 21);
  EXPECT_EQ(l.Lines[1].Left, 1);  // the indent in effect at the end of the line
  EXPECT_EQ(l.Lines[2].Left, 1);
  const TMarkupLayout r = Layout(QStringLiteral("<P align=\"right\" indent=\"15\">ab"), BoxFor(200));
  EXPECT_EQ(r.Lines[0].Left, 201 - W(QStringLiteral("ab")) + 15);
}

TEST_F(MarkupTest, IndTagMovesThePositionOnlyForward) {
  EXPECT_EQ(Layout(QStringLiteral("<IND x=\"50\">a")).Lines[0].Width, 50 + W(QStringLiteral("a")));
  EXPECT_EQ(Layout(QStringLiteral("abcdefgh<IND x=\"2\">a")).Lines[0].Width, W(QStringLiteral("abcdefgh")) + W(QStringLiteral("a")));
}

// ---------------------------------------------------------------------------
// Style switches

TEST_F(MarkupTest, BoldIsASwitchNotACounter) {
  EXPECT_EQ(Layout(QStringLiteral("<B>abc</B>abc")).Lines[0].Width, W(QStringLiteral("abc"), true) + W(QStringLiteral("abc")));
  EXPECT_EQ(Layout(QStringLiteral("<B><B>ab</B>cd</B>")).Lines[0].Width, W(QStringLiteral("ab"), true) + W(QStringLiteral("cd")));
}

TEST_F(MarkupTest, StylesCarryOverToTheNextLine) {
  const TMarkupLayout l = Layout(QStringLiteral("<B>ab<BR>cd</B><BR>cd"));
  ASSERT_EQ(l.Lines.size(), 3);
  EXPECT_EQ(l.Lines[1].Width, W(QStringLiteral("cd"), true));
  EXPECT_EQ(l.Lines[2].Width, W(QStringLiteral("cd")));
}

TEST_F(MarkupTest, ItalicUnderlineAndStrikeOut) {
  EXPECT_EQ(Layout(QStringLiteral("<I>abc</I>")).Lines[0].Width, Fm(false, true).horizontalAdvance(QStringLiteral("abc")));
  const QImage plain = Draw(QStringLiteral("mmmm"));
  const QImage under = Draw(QStringLiteral("<U>mmmm</U>"));
  const QImage strike = Draw(QStringLiteral("<S>mmmm</S>"));
  const QImage closed = Draw(QStringLiteral("<U>mmmm</U><S></S>"));
  EXPECT_GT(Inked(under, under.rect()), Inked(plain, plain.rect()));
  EXPECT_GT(Inked(strike, strike.rect()), Inked(plain, plain.rect()));
  EXPECT_NE(under, strike);
  EXPECT_EQ(closed, under);
  // Underline and strike-out do not change widths.
  EXPECT_EQ(Layout(QStringLiteral("<U><S>abc")).Lines[0].Width, W(QStringLiteral("abc")));
}

TEST_F(MarkupTest, FontTagSizesAndBackToTheStartingFont) {
  struct TCase {
    const char* Size;
    int Points;
  };
  const TCase cases[] = {{"1", 8}, {"2", 10}, {"3", 12}, {"4", 14}, {"5", 16}, {"20", 20}, {"6", 6}, {"0", 1}, {"-7", 1}};
  for (const TCase& c : cases) {
    const TMarkupLayout l =
        Layout(QStringLiteral("<FONT size=\"%1\">ab</FONT>cd").arg(QString::fromLatin1(c.Size)));
    ASSERT_EQ(l.Lines.size(), 1);
    EXPECT_EQ(l.Lines[0].Width,
              Fm(false, false, c.Points).horizontalAdvance(QStringLiteral("ab")) + W(QStringLiteral("cd")))
        << c.Size;
    EXPECT_EQ(l.Lines[0].Height, std::max(Fm().height(), Fm(false, false, c.Points).height())) << c.Size;
  }
}

TEST_F(MarkupTest, FontFaceAndColourAreDrawn) {
  const QImage img = Draw(QStringLiteral("<B><FONT color=\"#FF0000\" size=\"20\">MMM</FONT>MMM</B>"));
  const QFontMetrics big(QFont(Font.family(), 20, QFont::Bold), &Image);
  const int split = 1 + big.horizontalAdvance(QStringLiteral("MMM"));
  auto red = [](QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; };
  EXPECT_GT(CountPixels(img, QRect(0, 0, split, 60), red), 50);
  EXPECT_EQ(CountPixels(img, QRect(split, 0, 200, 60), red), 0);
  EXPECT_GT(CountPixels(img, QRect(split, 0, 200, 60), Dark), 50);  // back to the pen's black
  // The pen colour is the starting colour.
  const QImage blue = Draw(QStringLiteral("<B>MMM</B>"), QRect(0, 0, 400, 300), Qt::blue);
  EXPECT_GT(CountPixels(blue, blue.rect(), [](QColor c) { return c.blue() > 200 && c.red() < 60; }), 20);
}

TEST_F(MarkupTest, FontBackgroundAndBodyAndParagraphColours) {
  const QImage bg = Draw(QStringLiteral("<FONT bgcolor=\"clLime\">MM</FONT>"));
  auto lime = [](QColor c) { return c == QColor(0, 255, 0); };
  EXPECT_GT(CountPixels(bg, QRect(0, 0, 400, 30), lime), 100);
  EXPECT_EQ(CountPixels(bg, QRect(0, 30, 400, 270), lime), 0);

  const QRect r(10, 10, 100, 50);
  const QImage body = Draw(QStringLiteral("<BODY bgcolor=\"#0000FF\">x"), r);
  EXPECT_EQ(body.pixelColor(10, 10), QColor(0, 0, 255));
  EXPECT_EQ(body.pixelColor(109, 59), QColor(0, 0, 255));
  EXPECT_EQ(body.pixelColor(110, 60), QColor(Qt::white));

  const QImage para = Draw(QStringLiteral("<P bgcolor=\"clYellow\">a<BR>b</P>c"), r);
  const int h = Fm().height();
  EXPECT_EQ(para.pixelColor(108, 12), QColor(255, 255, 0));          // first line, across the box
  EXPECT_EQ(para.pixelColor(108, 10 + h + 2), QColor(255, 255, 0));  // second line of the paragraph
  EXPECT_EQ(para.pixelColor(108, 10 + 2 * h + 2), QColor(Qt::white));  // after </P>
}

TEST_F(MarkupTest, HiddenTextIsNeitherMeasuredNorDrawn) {
  EXPECT_EQ(Layout(QStringLiteral("a<Z>bbbbbb </Z>c")).Lines[0].Width, Runs({"a", "c"}));
  EXPECT_EQ(Draw(QStringLiteral("<Z>hidden</Z>")), Draw(QString()));
}

TEST_F(MarkupTest, SubscriptSuperscriptShadowHighlightAndZigzag) {
  const int h = Fm().height();
  const TMarkupLayout sup = Layout(QStringLiteral("x<SUP>2</SUP>"));
  const TMarkupLayout sub = Layout(QStringLiteral("x<SUB>2</SUP>y"));
  EXPECT_EQ(sup.Lines[0].Height, h + h / 4);
  EXPECT_EQ(sub.Lines[0].Height, h + h / 4);
  EXPECT_EQ(sub.Lines[0].Width, Runs({"x", "2", "y"}));  // either closing tag ends both
  EXPECT_NE(Draw(QStringLiteral("<SHAD>MM</SHAD>")), Draw(QStringLiteral("MM")));
  const QImage zig = Draw(QStringLiteral("<E>mmmm</E>"));
  EXPECT_GT(CountPixels(zig, zig.rect(), [](QColor c) { return c.red() > 200 && c.green() < 80; }), 5);
  const QImage hi = Draw(QStringLiteral("<HI>MM</HI>"));
  const QColor highlight = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
  EXPECT_GT(CountPixels(hi, hi.rect(), [&](QColor c) { return c == highlight; }), 50);
}

TEST_F(MarkupTest, ListsLinksAndTagsThatAreOnlyConsumed) {
  const TMarkupLayout list = Layout(QStringLiteral("<UL><LI>a<BR><UL><LI>b</UL></UL><LI>c"));
  ASSERT_EQ(list.Lines.size(), 2);
  const int bullet = W(QStringLiteral("\u2022 "));
  EXPECT_EQ(list.Lines[0].Width, 12 + bullet + W(QStringLiteral("a")));
  EXPECT_EQ(list.Lines[1].Width, 24 + bullet + W(QStringLiteral("b")) + bullet + W(QStringLiteral("c")));
  EXPECT_EQ(Layout(QStringLiteral("<A href=\"x\">ab</A>")).Lines[0].Width, W(QStringLiteral("ab")));
  const QImage link = Draw(QStringLiteral("<A href=\"x\">MM</A>"));
  EXPECT_EQ(CountPixels(link, link.rect(), Dark), 0);  // grey, not black
  EXPECT_GT(Inked(link, link.rect()), 20);
  EXPECT_EQ(Layout(QStringLiteral("a<IMG src=\"x.png\">b<R a=\"90\">c</R><UNKNOWN>d")).Lines[0].Width,
            Runs({"a", "b", "c", "d"}));
}

// ---------------------------------------------------------------------------
// Entities and the tags users type

TEST_F(MarkupTest, AmpersandsAndPrefixUnderline) {
  EXPECT_EQ(Layout(QStringLiteral("&amp;")).Lines[0].Width, W(QStringLiteral("&")));
  EXPECT_EQ(Layout(QStringLiteral("&x")).Lines[0].Width, W(QStringLiteral("x")));
  // "&x" shows an underlined x: more ink than a plain x, below the text.
  const QImage prefixed = Draw(QStringLiteral("a&x"));
  const QImage plain = Draw(QStringLiteral("ax"));
  EXPECT_GT(Inked(prefixed, prefixed.rect()), Inked(plain, plain.rect()));
}

TEST_F(MarkupTest, EscapedTagShowsItsCharactersAndDoesNotSwitch) {
  EXPECT_EQ(Layout(QStringLiteral("&lt;B&gt;x")).Lines[0].Width, W(QStringLiteral("<B>x")));
  EXPECT_EQ(Layout(QStringLiteral("a&nbsp;b")).Lines[0].Width, W(QStringLiteral("a\u00A0b")));
  // A no-break space does not break: the run is cut at real spaces only.
  EXPECT_EQ(Layout(QStringLiteral("aaaa&nbsp;bbbb"), W(QStringLiteral("aaaa"))).Lines.size(), 1);
}

TEST_F(MarkupTest, LessThanWithoutGreaterThanLosesTheRest) {
  EXPECT_EQ(Layout(QStringLiteral("a<b")).Lines[0].Width, W(QStringLiteral("a")));
  EXPECT_EQ(Layout(QStringLiteral("ab<")).Lines[0].Width, W(QStringLiteral("ab")));
  EXPECT_EQ(Layout(QStringLiteral("ab<c d e f<BR>more")).Lines.size(), 1);
  EXPECT_EQ(Layout(QStringLiteral("a<>b")).Lines[0].Width, Runs({"a", "b"}));
}

TEST_F(MarkupTest, EntitiesTheProgramWritesAreDrawn) {
  EXPECT_EQ(Layout(QStringLiteral("&euro;&permil;&trade;&copy;&reg;&sect;&para;&quot;")).Lines[0].Width,
            W(QStringLiteral("\u20AC\u2030\u2122\u00A9\u00AE\u00A7\u00B6\"")));
}

TEST_F(MarkupTest, ErrorPictureText) {
  // An image item that cannot load its file draws this into a 128 x 128 picture.
  QImage img = WhiteImage(128, 128);
  QPainter p(&img);
  p.setFont(TestFont(8));
  const QString text = QStringLiteral("Error loading<BR>picture.jpg");
  const TMarkupLayout l = MeasureMarkup(p, img.rect(), text);
  DrawMarkup(p, img.rect(), text);
  p.end();
  ASSERT_EQ(l.Lines.size(), 2);
  EXPECT_GT(Inked(img, img.rect()), 50);
}

// ---------------------------------------------------------------------------
// The canvas

TEST_F(MarkupTest, PainterStateIsPutBack) {
  QImage img = WhiteImage(200, 100);
  QPainter p(&img);
  QFont f = TestFont(9);
  f.setItalic(true);
  p.setFont(f);
  p.setPen(QColor(1, 2, 3));
  p.setBrush(QColor(4, 5, 6));
  p.setBackgroundMode(Qt::OpaqueMode);
  p.setClipRect(QRect(5, 5, 100, 50));
  DrawMarkup(p, img.rect(), QStringLiteral("<B><FONT face=\"Serif\" color=\"clRed\" size=\"30\">x<HI>y"));
  EXPECT_EQ(p.font(), f);
  EXPECT_EQ(p.pen().color(), QColor(1, 2, 3));
  EXPECT_EQ(p.brush().color(), QColor(4, 5, 6));
  EXPECT_EQ(p.backgroundMode(), Qt::OpaqueMode);
  EXPECT_EQ(p.clipBoundingRect().toRect(), QRect(5, 5, 100, 50));
  p.end();
  // The caller's clip is honoured.
  EXPECT_EQ(Inked(img, QRect(105, 0, 95, 100)), 0);
}

TEST_F(MarkupTest, TextIsDrawnWithATransparentBackground) {
  QImage img = WhiteImage(200, 60);
  img.fill(QColor(0, 0, 255));
  QPainter p(&img);
  p.setFont(Font);
  p.setBackground(Qt::red);
  p.setBackgroundMode(Qt::OpaqueMode);
  DrawMarkup(p, img.rect(), QStringLiteral("MM ii"));
  p.end();
  EXPECT_EQ(CountPixels(img, img.rect(), [](QColor c) { return c.red() > 200; }), 0);
}

TEST_F(MarkupTest, TheDeviceResolutionDecidesPixelSizes) {
  QImage hi = WhiteImage(800, 600, 192);
  const TMarkupLayout at96 = MeasureMarkup(&Image, Font, BoxFor(398), QStringLiteral("abc<BR>def"));
  const TMarkupLayout at192 = MeasureMarkup(&hi, Font, BoxFor(798), QStringLiteral("abc<BR>def"));
  EXPECT_NEAR(at192.Lines[0].Height, 2 * at96.Lines[0].Height, 2);
  EXPECT_NEAR(at192.Lines[0].Width, 2 * at96.Lines[0].Width, 3);
  QPainter p(&hi);
  p.setFont(Font);
  const TMarkupLayout viaPainter = MeasureMarkup(p, BoxFor(798), QStringLiteral("abc<BR>def"));
  EXPECT_EQ(viaPainter.Lines[0].Height, at192.Lines[0].Height);
}

TEST_F(MarkupTest, OnlyLinesStartingInsideTheRectangleAreDrawn) {
  const int h = Fm().height();
  const QRect r(0, 0, 200, h + h / 2);
  const QString text = QStringLiteral("MMM<BR>MMM<BR>MMM<BR>MMM");
  const TMarkupLayout l = Layout(text, r);
  ASSERT_EQ(l.Lines.size(), 2);  // the second starts inside and may extend below
  EXPECT_TRUE(l.Truncated);
  EXPECT_EQ(Layout(text, r, true).Lines.size(), 4);
  EXPECT_EQ(Layout(text, r, true).Height, 4 * h);
  const QImage img = Draw(text, r);
  EXPECT_GT(Inked(img, QRect(0, h, 200, h)), 0);
  EXPECT_EQ(Inked(img, QRect(0, 2 * h, 400, 300)), 0);
  // A rectangle exactly two lines high holds two lines.
  EXPECT_EQ(Layout(text, QRect(0, 0, 200, 2 * h)).Lines.size(), 2);
  EXPECT_EQ(Layout(text, QRect(0, 0, 200, 2 * h + 1)).Lines.size(), 3);
}

// ---------------------------------------------------------------------------
// Bad input

TEST_F(MarkupTest, BadInputDrawsWhatItCanAndEnds) {
  QString deepLists;
  for (int i = 0; i < 20000; ++i) deepLists += QStringLiteral("<UL><LI>x");
  QString deepClose;
  for (int i = 0; i < 20000; ++i) deepClose += QStringLiteral("</UL>");
  const QString longWord(200000, QLatin1Char('W'));
  QString manyLines;
  for (int i = 0; i < 50000; ++i) manyLines += QStringLiteral("<BR>");
  QString manyTags;
  for (int i = 0; i < 50000; ++i) manyTags += QStringLiteral("<B><I></I></B>a ");
  const QString cases[] = {
      QStringLiteral("<B><I><U>unclosed"),
      QStringLiteral("<"),
      QStringLiteral("<x"),
      QStringLiteral("text <FONT size=\"99999999999999999999999\">huge</FONT> after"),
      QStringLiteral("<FONT size=\"1000000\">M</FONT>"),
      QStringLiteral("<FONT size=-5 color=#zz face=>neg"),
      QStringLiteral("<P indent=\"-100000000\">left<BR><P indent=\"99999999999\">right"),
      QStringLiteral("<P indent=-2147483648 align=center bgcolor=clRed>x"),
      QStringLiteral("<IND x=\"99999999999999\">far<IND x=-5>"),
      QStringLiteral("<P align=\"right\" \"\"=\"\" = =\">x"),
      QStringLiteral("<FONT color=\"#FF0000>unterminated quote"),
      QStringLiteral("<SUB><SUP><SHAD><HI><E><A href=x><S>all on</S>"),
      QStringLiteral("<R a=\"99999999999999999999\">turned</R><R a=-720>"),
      QStringLiteral("&&&&&amp;&&x&"),
      QStringLiteral("\t\ttabs\tand<BR>\t"),
      QStringLiteral("<#<#<#>>>"),
      QString(QChar(0)) + QStringLiteral("nul<B>") + QChar(0xD800),
      deepLists,
      deepLists + deepClose,
      longWord,
      QStringLiteral("<FONT size=\"200\">") + longWord,
      manyLines,
      manyTags,
  };
  const QRect rects[] = {QRect(0, 0, 120, 80), QRect(), QRect(0, 0, 0, 0), QRect(10, 10, 1, 1),
                         QRect(50, 50, -30, -30), QRect(-100, -100, 50, 400)};
  for (const QString& text : cases) {
    for (const QRect& r : rects) {
      QImage img = WhiteImage(120, 80);
      QPainter p(&img);
      p.setFont(Font);
      DrawMarkup(p, r, text);
      const TMarkupLayout l = MeasureMarkup(p, r, text);
      EXPECT_GE(l.Height, 0);
      p.end();
    }
  }
  // Measuring everything also ends.
  for (const QString& text : cases) (void)Layout(text, BoxFor(100), true);
}

TEST_F(MarkupTest, HugeFontsAreCut) {
  const TMarkupLayout l = Layout(QStringLiteral("<FONT size=\"1000000\">M"));
  EXPECT_EQ(l.Lines[0].Height, Fm(false, false, 1000).height());
}

TEST_F(MarkupTest, AnEmptyRectangleDrawsNothing) {
  const TMarkupLayout l = Layout(QStringLiteral("aa bb cc"), QRect(0, 0, 0, 0));
  ASSERT_EQ(l.Lines.size(), 1);  // the first line is laid out, then the bottom is reached
  EXPECT_EQ(l.Lines[0].Width, Runs({"aa "}) - W(QStringLiteral(" ")));
  EXPECT_EQ(Layout(QStringLiteral("aa bb cc"), QRect(0, 0, 0, 0), true).Lines.size(), 3);  // a word per line
  EXPECT_EQ(Draw(QStringLiteral("aa bb cc"), QRect(10, 10, 0, 0)), Draw(QString()));
  EXPECT_EQ(Draw(QStringLiteral("aa bb cc"), QRect(10, 10, 0, 50)), Draw(QString()));
}
