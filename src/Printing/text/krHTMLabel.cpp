#include "Printing/text/krHTMLabel.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QPolygon>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// Bounds against bad input: sizes, indents and list levels beyond these are
// cut to them.
constexpr int kMaxIndent = 100000;
constexpr int kMaxPointSize = 1000;
constexpr int kMaxListLevel = 10000;
// Long runs are measured and drawn in pieces of this many characters, so a
// huge word neither overflows the toolkit's text widths nor shapes glyphs
// far outside the clip.
constexpr qsizetype kChunk = 512;
constexpr int kBulletIndent = 12;

constexpr int kTextFlags = Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine | Qt::TextExpandTabs |
                           Qt::TextShowMnemonic | Qt::TextDontClip;

const QColor kLinkColor(0x80, 0x80, 0x80);
const QColor kShadowColor(0x80, 0x80, 0x80);

struct TEntity {
  const char* Name;
  const char16_t* Text;
};

// The first table; "&amp;" stays a doubled ampersand for prefix processing.
// "&permil;" is the per-mille sign alone (mended: not the registered sign
// followed by it); Windows-1252 bytes are the characters they stand for.
const TEntity kEntities[] = {
    {"amp", u"&&"},        {"quot", u"\""},       {"sect", u"\u00A7"}, {"permil", u"\u2030"}, {"reg", u"\u00AE"},
    {"copy", u"\u00A9"},   {"para", u"\u00B6"},   {"trade", u"\u2122"}, {"euro", u"\u20AC"},
};

const TEntity kRunEntities[] = {
    {"nbsp", u"\u00A0"},
    {"lt", u"<"},
    {"gt", u">"},
};

qint64 ClampI64(qint64 v, qint64 lo, qint64 hi) { return v < lo ? lo : (v > hi ? hi : v); }
int ToInt(qint64 v) { return static_cast<int>(ClampI64(v, -0x3FFFFFFF, 0x3FFFFFFF)); }

// A number attribute; false when the value is not a whole number.
bool ParseNumber(const QString& AValue, qint64& AResult) {
  bool ok = false;
  const QString v = AValue.trimmed();
  const qint64 n = v.toLongLong(&ok);
  if (ok) {
    AResult = n;
    return true;
  }
  // Bigger than 64 bits: only the sign matters once clamped.
  if (!v.isEmpty()) {
    qsizetype i = (v[0] == QLatin1Char('-') || v[0] == QLatin1Char('+')) ? 1 : 0;
    if (i < v.size()) {
      for (qsizetype k = i; k < v.size(); ++k)
        if (!v[k].isDigit()) return false;
      AResult = v[0] == QLatin1Char('-') ? -(qint64(1) << 40) : (qint64(1) << 40);
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------
// Style and state

struct TStyle {
  QFont Font;
  QColor Color;
  QColor Background;  // invalid: none
  bool Sub = false;
  bool Sup = false;
  bool Shadow = false;
  bool Highlight = false;
  bool Error = false;
  bool Hidden = false;
  bool Link = false;

  QFont DrawFont() const {
    if (!Link || Font.underline()) return Font;
    QFont f(Font);
    f.setUnderline(true);
    return f;
  }
};

struct TState {
  TStyle Style;
  TMarkupAlignment Align = maLeft;
  int Indent = 0;
  QColor ParaBg;  // invalid: none
  int ListLevel = 0;
  int Rotation = 0;  // the R tag: consumed, text is not turned
};

struct TAttribute {
  QString Name;  // upper case
  QString Value;
};

QList<TAttribute> ParseAttributes(QStringView s) {
  QList<TAttribute> result;
  qsizetype i = 0;
  const qsizetype n = s.size();
  auto isBlank = [](QChar c) { return c.isSpace() || c == QLatin1Char('/'); };
  while (i < n) {
    while (i < n && isBlank(s[i])) ++i;
    const qsizetype nameStart = i;
    while (i < n && !s[i].isSpace() && s[i] != QLatin1Char('=') && s[i] != QLatin1Char('/')) ++i;
    TAttribute a;
    a.Name = s.mid(nameStart, i - nameStart).toString().toUpper();
    while (i < n && s[i].isSpace()) ++i;
    if (i < n && s[i] == QLatin1Char('=')) {
      ++i;
      while (i < n && s[i].isSpace()) ++i;
      if (i < n && (s[i] == QLatin1Char('"') || s[i] == QLatin1Char('\''))) {
        const QChar quote = s[i++];
        const qsizetype valueStart = i;
        while (i < n && s[i] != quote) ++i;
        a.Value = s.mid(valueStart, i - valueStart).toString();
        if (i < n) ++i;
      } else {
        const qsizetype valueStart = i;
        while (i < n && !s[i].isSpace()) ++i;
        a.Value = s.mid(valueStart, i - valueStart).toString();
      }
    }
    if (!a.Name.isEmpty()) result.append(a);
    if (i == nameStart) ++i;  // always move on
  }
  return result;
}

const TAttribute* FindAttribute(const QList<TAttribute>& Attrs, const char* Name) {
  for (const TAttribute& a : Attrs)
    if (a.Name == QLatin1String(Name)) return &a;
  return nullptr;
}

bool KnownFamily(const QString& AFamily) {
  if (AFamily.isEmpty() || AFamily.size() > 200) return false;
  static QHash<QString, bool> known;  // answers of the font database, bounded
  const auto it = known.constFind(AFamily);
  if (it != known.constEnd()) return *it;
  const bool result = QFontDatabase::hasFamily(AFamily);
  if (known.size() > 1000) known.clear();
  known.insert(AFamily, result);
  return result;
}

QPalette AppPalette() { return qGuiApp ? QGuiApplication::palette() : QPalette(); }

// ---------------------------------------------------------------------------
// The layout engine

class TEngine {
public:
  TEngine(QPaintDevice* ADevice, const QFont& AFont, const QColor& AColor, QPainter* APainter)
      : FDevice(ADevice), FStartFont(AFont), FStartColor(AColor), FPainter(APainter) {
    FState.Style.Font = AFont;
    FState.Style.Color = AColor;
  }

  TMarkupLayout Run(const QRect& R, const QString& AText, bool AAllLines, bool AKeepLines);

private:
  struct TItem {
    enum TKind { ikText, ikBullet, ikBodyFill };
    TKind Kind = ikText;
    qint64 X = 0;
    qint64 W = 0;
    int H = 0;
    QString Text;  // with prefix characters
    TStyle Style;
    QColor Fill;
  };

  struct TLine {
    std::vector<TItem> Items;
    qint64 Width = 0;
    int Height = 0;
    int SubDrop = 0;
    TMarkupAlignment Align = maLeft;
    int Indent = 0;
    bool Rule = false;
    QColor Bg;
  };

  struct TMeasure {
    qint64 X = 0;
    qint64 Trailing = 0;
    bool EndsWithSpace = false;
    bool HasText = false;  // a visible run or a bullet was taken
    bool Ended = false;
    int Above = 0;  // extent above the normal bottom
  };

  const QFontMetrics& Metrics(const TStyle& S);
  qint64 RunWidth(const QFontMetrics& FM, const QString& ARun);
  void MeasureLine(TLine& L, const QString& S, qsizetype& Pos, qint64 W);
  qint64 WordRestWidth(const QString& S, qsizetype P);
  void ApplyTag(QStringView ATag, TLine& L, TMeasure& M);
  void DrawLine(const TLine& L, qint64 Left, qint64 Top, const QRect& R, qint64 TextRight);
  void DrawRun(const TItem& It, qint64 RunLeft, qint64 Bottom, qint64 TextRight, const QRect& Clip);
  void DrawPieces(const QString& ARun, qint64 AWidth, const QFontMetrics& FM, qint64 X, qint64 Bottom, int H,
                  qint64 MinX, qint64 MaxX);

  QPaintDevice* FDevice;
  QFont FStartFont;
  QColor FStartColor;
  QPainter* FPainter;
  TState FState;
  QFont FMetricsFont;
  std::unique_ptr<QFontMetrics> FMetrics;
  QHash<QString, qint64> FWidths;  // run widths in FMetricsFont
};

const QFontMetrics& TEngine::Metrics(const TStyle& S) {
  const QFont f = S.DrawFont();
  if (!FMetrics || !(f == FMetricsFont)) {
    FMetricsFont = f;
    FMetrics = std::make_unique<QFontMetrics>(f, FDevice);
    FWidths.clear();
  }
  return *FMetrics;
}

// Calls Fn(start, length) for the pieces of a run; a piece never ends right
// after an ampersand, so prefix pairs stay together.
template <class F>
void ForPieces(const QString& ARun, F Fn) {
  const qsizetype n = ARun.size();
  qsizetype start = 0;
  while (start < n) {
    qsizetype end = std::min(n, start + kChunk);
    while (end < n && ARun[end - 1] == QLatin1Char('&')) ++end;
    if (!Fn(start, end - start)) return;
    start = end;
  }
}

qint64 PieceWidth(const QFontMetrics& FM, const QString& APiece) {
  if (APiece.contains(QLatin1Char('\t')))
    return FM.size(Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextShowMnemonic, APiece).width();
  return FM.horizontalAdvance(Markup::ShownText(APiece));
}

qint64 TEngine::RunWidth(const QFontMetrics& FM, const QString& ARun) {
  if (ARun.size() <= kChunk) {
    const auto it = FWidths.constFind(ARun);
    if (it != FWidths.constEnd()) return *it;
    if (FWidths.size() > 4096) FWidths.clear();
    const qint64 w = PieceWidth(FM, ARun);
    FWidths.insert(ARun, w);
    return w;
  }
  qint64 w = 0;
  ForPieces(ARun, [&](qsizetype s, qsizetype l) {
    w += PieceWidth(FM, ARun.mid(s, l));
    return true;
  });
  return w;
}

void TEngine::MeasureLine(TLine& L, const QString& S, qsizetype& Pos, qint64 W) {
  const qsizetype n = S.size();
  L.Bg = FState.ParaBg;
  L.Height = Metrics(FState.Style).height();  // the height of "gh"
  TMeasure m;
  m.Above = L.Height;
  while (!m.Ended && Pos < n) {
    // 1. The next run: up to and including the first space, or up to "<".
    qsizetype q = Pos;
    while (q < n && S[q] != QLatin1Char(' ') && S[q] != QLatin1Char('<')) ++q;
    if (q < n && S[q] == QLatin1Char(' ')) ++q;
    if (q > Pos) {
      const TStyle& st = FState.Style;
      const QString run = Markup::ReplaceRunEntities(S.mid(Pos, q - Pos));
      qint64 w = 0;
      int h = 0;
      if (!st.Hidden) {
        const QFontMetrics& fm = Metrics(st);
        w = RunWidth(fm, run);
        h = fm.height();
      }
      const int quarter = (st.Sub || st.Sup) ? h / 4 : 0;
      L.Height = std::max(L.Height, h + quarter);
      m.X += w;
      // 3. It fits when x < W. The first run of a line is always taken (a
      // word wider than the whole line stands on a line of its own and is cut
      // off). A run that continues a word (the line's text does not end in a
      // space) is always taken, so a word split by tags is never broken; the
      // first part of such a word decides for the whole word, which moves to
      // the next line as a whole when it does not fit.
      bool fits;
      if (!m.HasText)
        fits = true;
      else if (!m.EndsWithSpace)
        fits = true;
      else if (!run.endsWith(QLatin1Char(' ')) && q < n && S[q] == QLatin1Char('<'))
        fits = m.X + WordRestWidth(S, q) < W;
      else
        fits = m.X < W;
      if (!fits) {
        m.X -= w;
        m.Ended = true;
        break;
      }
      Pos = q;
      if (!st.Hidden) {
        m.HasText = true;
        TItem it;
        it.X = m.X - w;
        it.W = w;
        it.H = h;
        it.Text = run;
        it.Style = st;
        L.Items.push_back(std::move(it));
        m.EndsWithSpace = run.endsWith(QLatin1Char(' '));
        m.Trailing = m.EndsWithSpace ? Metrics(st).horizontalAdvance(QLatin1Char(' ')) : 0;
        if (st.Sup)
          m.Above = std::max(m.Above, h + quarter);
        else if (st.Sub) {
          L.SubDrop = std::max(L.SubDrop, quarter);
          m.Above = std::max(m.Above, h - quarter);
        } else
          m.Above = std::max(m.Above, h);
      }
    }
    // 5. A tag.
    if (!m.Ended && Pos < n && S[Pos] == QLatin1Char('<')) {
      const qsizetype gt = S.indexOf(QLatin1Char('>'), Pos + 1);
      if (gt < 0) {  // a "<" without ">" removes the rest of the text
        Pos = n;
        break;
      }
      const QStringView tag(S.constData() + Pos + 1, gt - Pos - 1);
      Pos = gt + 1;
      ApplyTag(tag, L, m);
    }
  }
  L.Width = m.X - m.Trailing;
  L.Height = std::max(L.Height, m.Above + L.SubDrop);
  L.Align = FState.Align;
  L.Indent = FState.Indent;
}

qint64 TEngine::WordRestWidth(const QString& S, qsizetype P) {
  // The rest of a word split by tags, from P (a tag right after a run that
  // does not end in a space), in the styles the tags give: up to and with
  // the first run that ends in a space; a tag that ends the line or moves
  // the position ends the word too. The state is put back afterwards.
  const TState saved = FState;
  const qsizetype n = S.size();
  qint64 w = 0;
  while (P < n) {
    if (S[P] == QLatin1Char('<')) {
      const qsizetype gt = S.indexOf(QLatin1Char('>'), P + 1);
      if (gt < 0) break;
      TLine line;
      TMeasure m;
      ApplyTag(QStringView(S.constData() + P + 1, gt - P - 1), line, m);
      P = gt + 1;
      if (m.Ended || m.X != 0 || !line.Items.empty()) break;
      continue;
    }
    qsizetype q = P;
    while (q < n && S[q] != QLatin1Char(' ') && S[q] != QLatin1Char('<')) ++q;
    const bool space = q < n && S[q] == QLatin1Char(' ');
    if (space) ++q;
    if (!FState.Style.Hidden) w += RunWidth(Metrics(FState.Style), Markup::ReplaceRunEntities(S.mid(P, q - P)));
    P = q;
    if (space) break;
  }
  FState = saved;
  return w;
}

void TEngine::ApplyTag(QStringView ATag, TLine& L, TMeasure& M) {
  const bool closing = ATag.startsWith(QLatin1Char('/'));
  const QStringView body = closing ? ATag.mid(1) : ATag;
  qsizetype k = 0;
  while (k < body.size() && body[k].isLetterOrNumber()) ++k;
  const QString name = body.left(k).toString().toUpper();
  if (name.isEmpty()) return;
  TStyle& st = FState.Style;
  auto is = [&name](const char* n) { return name == QLatin1String(n); };

  if (closing) {
    if (is("B"))
      st.Font.setBold(false);
    else if (is("I"))
      st.Font.setItalic(false);
    else if (is("U"))
      st.Font.setUnderline(false);
    else if (is("S"))
      st.Font.setStrikeOut(false);
    else if (is("P")) {
      M.Ended = true;
      FState.ParaBg = QColor();
    } else if (is("FONT")) {
      st.Font.setFamilies(FStartFont.families());
      if (FStartFont.families().isEmpty()) st.Font.setFamily(FStartFont.family());
      if (FStartFont.pointSizeF() > 0)
        st.Font.setPointSizeF(FStartFont.pointSizeF());
      else if (FStartFont.pixelSize() > 0)
        st.Font.setPixelSize(FStartFont.pixelSize());
      st.Color = FStartColor;
      st.Background = QColor();
    } else if (is("SUB") || is("SUP")) {
      st.Sub = false;
      st.Sup = false;
    } else if (is("SHAD"))
      st.Shadow = false;
    else if (is("HI"))
      st.Highlight = false;
    else if (is("E"))
      st.Error = false;
    else if (is("Z"))
      st.Hidden = false;
    else if (is("A"))
      st.Link = false;
    else if (is("UL"))
      FState.ListLevel = std::max(0, FState.ListLevel - 1);
    else if (is("R"))
      FState.Rotation = 0;
    return;
  }

  const QList<TAttribute> attrs = ParseAttributes(body.mid(k));
  if (is("B"))
    st.Font.setBold(true);
  else if (is("I"))
    st.Font.setItalic(true);
  else if (is("U"))
    st.Font.setUnderline(true);
  else if (is("S"))
    st.Font.setStrikeOut(true);
  else if (is("BR"))
    M.Ended = true;
  else if (is("P")) {
    if (const TAttribute* a = FindAttribute(attrs, "ALIGN")) {
      const QString v = a->Value.toUpper();
      if (v.contains(QLatin1String("RIGHT"))) FState.Align = maRight;
      if (v.contains(QLatin1String("LEFT"))) FState.Align = maLeft;
      if (v.contains(QLatin1String("CENTER"))) FState.Align = maCenter;
    }
    qint64 n = 0;
    if (const TAttribute* a = FindAttribute(attrs, "INDENT"); a && ParseNumber(a->Value, n))
      FState.Indent = static_cast<int>(ClampI64(n, -kMaxIndent, kMaxIndent));
    if (const TAttribute* a = FindAttribute(attrs, "BGCOLOR")) {
      FState.ParaBg = Markup::ParseColor(a->Value);
      if (!L.Bg.isValid()) L.Bg = FState.ParaBg;
    }
  } else if (is("FONT")) {
    // A face the font database does not know keeps the current one: it would
    // only fall back, and every unknown name asked for stays in the toolkit's
    // font caches.
    if (const TAttribute* a = FindAttribute(attrs, "FACE"); a && KnownFamily(a->Value.trimmed()))
      st.Font.setFamily(a->Value.trimmed());
    qint64 n = 0;
    if (const TAttribute* a = FindAttribute(attrs, "SIZE"); a && ParseNumber(a->Value, n)) {
      static const int kSizes[] = {8, 10, 12, 14, 16};
      const qint64 points = (n >= 1 && n <= 5) ? kSizes[n - 1] : n;
      st.Font.setPointSize(static_cast<int>(ClampI64(points, 1, kMaxPointSize)));
    }
    if (const TAttribute* a = FindAttribute(attrs, "COLOR")) st.Color = Markup::ParseColor(a->Value);
    if (const TAttribute* a = FindAttribute(attrs, "BGCOLOR")) st.Background = Markup::ParseColor(a->Value);
  } else if (is("SUB")) {
    st.Sub = true;
    st.Sup = false;
  } else if (is("SUP")) {
    st.Sup = true;
    st.Sub = false;
  } else if (is("SHAD"))
    st.Shadow = true;
  else if (is("HI"))
    st.Highlight = true;
  else if (is("E"))
    st.Error = true;
  else if (is("Z"))
    st.Hidden = true;
  else if (is("HR")) {
    L.Rule = true;
    M.Ended = true;
  } else if (is("IND")) {
    qint64 n = 0;
    if (const TAttribute* a = FindAttribute(attrs, "X"); a && ParseNumber(a->Value, n))
      M.X = std::max(M.X, ClampI64(n, 0, kMaxIndent));
  } else if (is("UL"))
    FState.ListLevel = std::min(kMaxListLevel, FState.ListLevel + 1);
  else if (is("LI")) {
    if (st.Hidden) return;
    const QFontMetrics& fm = Metrics(st);
    TItem it;
    it.Kind = TItem::ikBullet;
    it.X = std::max(M.X, qint64(kBulletIndent) * FState.ListLevel);
    it.Text = QStringLiteral("\u2022 ");
    it.W = fm.horizontalAdvance(it.Text);
    it.H = fm.height();
    it.Style = st;
    M.X = it.X + it.W;
    M.HasText = true;
    M.EndsWithSpace = true;
    M.Trailing = fm.horizontalAdvance(QLatin1Char(' '));
    M.Above = std::max(M.Above, it.H);
    L.Items.push_back(std::move(it));
  } else if (is("A"))
    st.Link = true;
  else if (is("BODY")) {
    if (const TAttribute* a = FindAttribute(attrs, "BGCOLOR")) {
      TItem it;
      it.Kind = TItem::ikBodyFill;
      it.Fill = Markup::ParseColor(a->Value);
      L.Items.push_back(std::move(it));
    }
  } else if (is("R")) {
    qint64 n = 0;
    if (const TAttribute* a = FindAttribute(attrs, "A"); a && ParseNumber(a->Value, n))
      FState.Rotation = static_cast<int>(n % 360);
  }
  // IMG and unknown tags: consumed, nothing drawn.
}

void TEngine::DrawPieces(const QString& ARun, qint64 AWidth, const QFontMetrics& FM, qint64 X, qint64 Bottom, int H,
                         qint64 MinX, qint64 MaxX) {
  auto drawOne = [&](const QString& piece, qint64 x, qint64 w) {
    if (x + w < MinX || x >= MaxX) return;
    const QRectF r(static_cast<qreal>(x), static_cast<qreal>(Bottom - H), static_cast<qreal>(w + H + 8),
                   static_cast<qreal>(H));
    FPainter->drawText(r, kTextFlags, piece);
  };
  if (ARun.size() <= kChunk) {
    drawOne(ARun, X, AWidth);
    return;
  }
  qint64 x = X;
  ForPieces(ARun, [&](qsizetype s, qsizetype l) {
    const QString piece = ARun.mid(s, l);
    const qint64 w = PieceWidth(FM, piece);
    drawOne(piece, x, w);
    x += w;
    return x < MaxX;
  });
}

void TEngine::DrawRun(const TItem& It, qint64 RunLeft, qint64 Bottom, qint64 TextRight, const QRect& Clip) {
  const TStyle& st = It.Style;
  const QFont font = st.DrawFont();
  const QFontMetrics& fm = Metrics(st);
  FPainter->save();
  FPainter->setClipRect(Clip, Qt::IntersectClip);
  FPainter->setFont(font);
  QColor color = st.Link ? kLinkColor : st.Color;
  QColor background = st.Background;
  if (st.Highlight) {
    const QPalette pal = AppPalette();
    background = pal.color(QPalette::Active, QPalette::Highlight);
    color = pal.color(QPalette::Active, QPalette::HighlightedText);
  }
  const qint64 minX = Clip.left();
  if (background.isValid())
    FPainter->fillRect(QRectF(static_cast<qreal>(std::max(RunLeft, minX - 1)), static_cast<qreal>(Bottom - It.H),
                              static_cast<qreal>(std::min(It.W, TextRight - minX + 1)), static_cast<qreal>(It.H)),
                       background);
  if (st.Shadow) {
    const int off = std::max(1, It.H / 16);
    FPainter->setPen(kShadowColor);
    DrawPieces(It.Text, It.W, fm, RunLeft + off, Bottom + off, It.H, minX, TextRight);
  }
  FPainter->setPen(color);
  DrawPieces(It.Text, It.W, fm, RunLeft, Bottom, It.H, minX, TextRight);
  if (st.Error) {
    const qint64 from = std::max(RunLeft, minX);
    const qint64 to = std::min(RunLeft + It.W, TextRight);
    if (to > from) {
      QPolygon zigzag;
      const int y = ToInt(Bottom - 1);
      for (qint64 x = from; x <= to; x += 2) zigzag << QPoint(ToInt(x), ((x - from) / 2) % 2 ? y - 2 : y);
      FPainter->setPen(QPen(Qt::red, 1));
      FPainter->drawPolyline(zigzag);
    }
  }
  FPainter->restore();
}

void TEngine::DrawLine(const TLine& L, qint64 Left, qint64 Top, const QRect& R, qint64 TextRight) {
  const qint64 lineBottom = Top + L.Height;
  for (const TItem& it : L.Items)
    if (it.Kind == TItem::ikBodyFill) FPainter->fillRect(R, it.Fill);
  if (L.Bg.isValid()) FPainter->fillRect(QRect(R.left(), ToInt(Top), R.width(), L.Height), L.Bg);
  for (const TItem& it : L.Items) {
    if (it.Kind == TItem::ikBodyFill) continue;
    const qint64 runLeft = Left + it.X;
    if (runLeft >= TextRight || runLeft + it.W < R.left()) continue;
    const qint64 clipLeft = std::max<qint64>(runLeft, R.left());
    const QRect clip(ToInt(clipLeft), ToInt(Top), ToInt(TextRight - clipLeft), L.Height);
    qint64 bottom = lineBottom - L.SubDrop;
    if (it.Style.Sub) bottom += it.H / 4;
    if (it.Style.Sup) bottom -= it.H / 4;
    DrawRun(it, runLeft, bottom, TextRight, clip);
  }
  if (L.Rule) {
    FPainter->save();
    FPainter->setPen(QPen(Qt::black, 1));
    const int y = ToInt(lineBottom - 1);
    FPainter->drawLine(R.left(), y, R.left() + R.width() - 1, y);
    FPainter->restore();
  }
}

TMarkupLayout TEngine::Run(const QRect& R, const QString& AText, bool AAllLines, bool AKeepLines) {
  TMarkupLayout result;
  const QString s = Markup::PrepareText(AText);
  const qsizetype n = s.size();
  const qint64 textLeft = qint64(R.left()) + 1;
  const qint64 textRight = qint64(R.left()) + R.width();
  const qint64 W = textRight - textLeft;
  const qint64 bottom = qint64(R.top()) + R.height();
  qint64 top = R.top();
  qint64 widest = 0;
  qsizetype pos = 0;
  while (pos < n) {
    TLine line;
    MeasureLine(line, s, pos, W);
    qint64 x = textLeft;
    if (line.Align == maRight) {
      if (textRight - line.Width > textLeft) x = textRight - line.Width;
    } else if (line.Align == maCenter) {
      const qint64 free = W - line.Width;
      if (free > 0) x = textLeft + free / 2;
    }
    x += line.Indent;
    if (FPainter) DrawLine(line, x, top, R, textRight);
    if (AKeepLines) {
      TMarkupLine info;
      info.Left = ToInt(x);
      info.Top = ToInt(top);
      info.Width = ToInt(line.Width);
      info.Height = line.Height;
      info.Alignment = line.Align;
      result.Lines.append(info);
    }
    widest = std::max(widest, line.Width);
    top += line.Height;
    if (!AAllLines && top >= bottom) {
      result.Truncated = pos < n;
      break;
    }
  }
  result.Width = ToInt(widest);
  result.Height = ToInt(top - R.top());
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------
// Markup helpers

namespace Markup {

QString ReplaceEntities(const QString& AText) {
  // Every entity starts with "&" and ends with ";" and has neither inside, so
  // replacing until none is left has one result whatever the order; one scan
  // that looks back at every ";" finds it in linear time.
  QString out;
  out.reserve(AText.size());
  for (const QChar c : AText) {
    out.append(c);
    if (c != QLatin1Char(';')) continue;
    const qsizetype semi = out.size() - 1;
    qsizetype amp = -1;
    for (qsizetype k = semi - 1; k >= 0 && k >= semi - 7; --k) {
      if (out[k] == QLatin1Char('&')) {
        amp = k;
        break;
      }
    }
    if (amp < 0) continue;
    const QStringView name(out.constData() + amp + 1, semi - amp - 1);
    for (const TEntity& e : kEntities) {
      if (name.compare(QLatin1String(e.Name), Qt::CaseInsensitive) == 0) {
        out.truncate(amp);
        out.append(QString::fromUtf16(e.Text));
        break;
      }
    }
  }
  return out;
}

QString ReplaceRunEntities(const QString& ARun) {
  if (!ARun.contains(QLatin1Char('&'))) return ARun;
  QString out;
  out.reserve(ARun.size());
  const qsizetype n = ARun.size();
  qsizetype i = 0;
  while (i < n) {
    if (ARun[i] == QLatin1Char('&')) {
      bool replaced = false;
      for (const TEntity& e : kRunEntities) {
        const QLatin1String name(e.Name);
        const qsizetype len = name.size();
        if (i + 1 + len < n && ARun[i + 1 + len] == QLatin1Char(';') &&
            QStringView(ARun).mid(i + 1, len).compare(name, Qt::CaseInsensitive) == 0) {
          out.append(QString::fromUtf16(e.Text));
          i += len + 2;
          replaced = true;
          break;
        }
      }
      if (replaced) continue;
    }
    out.append(ARun[i]);
    ++i;
  }
  return out;
}

QString PrepareText(const QString& AText) {
  QString s = ReplaceEntities(AText);
  const qsizetype hash = s.indexOf(QLatin1String("<#"));
  if (hash >= 0) {
    const qsizetype gt = s.indexOf(QLatin1Char('>'), hash + 1);
    if (gt >= 0) s.remove(gt, 1);
    s.remove(hash, 1);
  }
  s.remove(QLatin1Char('\n'));
  s.replace(QLatin1Char('\r'), QLatin1String("<BR>"));
  return s;
}

QString ShownText(const QString& ARun) {
  if (!ARun.contains(QLatin1Char('&'))) return ARun;
  QString out;
  out.reserve(ARun.size());
  const qsizetype n = ARun.size();
  for (qsizetype i = 0; i < n; ++i) {
    if (ARun[i] == QLatin1Char('&')) {
      ++i;
      if (i >= n) break;
    }
    out.append(ARun[i]);
  }
  return out;
}

QColor ParseColor(const QString& AValue) {
  const QString v = AValue.trimmed();
  if (v.startsWith(QLatin1Char('#'))) {
    const QString hex = v.mid(1, 6).toUpper();
    if (hex.size() != 6) return QColor(Qt::black);
    unsigned rgb = 0;
    for (const QChar c : hex) {
      const int d = c.isDigit() ? c.unicode() - '0'
                    : (c >= QLatin1Char('A') && c <= QLatin1Char('F')) ? c.unicode() - 'A' + 10
                                                                          : -1;
      if (d < 0) return QColor(Qt::black);
      rgb = rgb * 16 + static_cast<unsigned>(d);
    }
    return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
  }
  struct TNamed {
    const char* Name;
    unsigned Rgb;
  };
  static const TNamed kNamed[] = {
      {"clred", 0xFF0000},    {"clblack", 0x000000}, {"clblue", 0x0000FF},   {"clgreen", 0x008000},
      {"claqua", 0x00FFFF},   {"clyellow", 0xFFFF00}, {"clfuchsia", 0xFF00FF}, {"clwhite", 0xFFFFFF},
      {"cllime", 0x00FF00},   {"clsilver", 0xC0C0C0}, {"clgray", 0x808080},   {"clolive", 0x808000},
      {"clnavy", 0x000080},   {"clpurple", 0x800080}, {"clteal", 0x008080},   {"clmaroon", 0x800000},
  };
  const QString lower = v.toLower();
  for (const TNamed& c : kNamed)
    if (lower == QLatin1String(c.Name)) return QColor((c.Rgb >> 16) & 0xFF, (c.Rgb >> 8) & 0xFF, c.Rgb & 0xFF);
  // The system colours (by their system colour index 1 to 24) from the
  // application's palette.
  struct TSystem {
    const char* Name;
    QPalette::ColorGroup Group;
    QPalette::ColorRole Role;
  };
  static const TSystem kSystem[] = {
      {"clbackground", QPalette::Active, QPalette::Window},
      {"clactivecaption", QPalette::Active, QPalette::Highlight},
      {"clinactivecaption", QPalette::Inactive, QPalette::Window},
      {"clmenu", QPalette::Active, QPalette::Window},
      {"clwindow", QPalette::Active, QPalette::Base},
      {"clwindowframe", QPalette::Active, QPalette::Shadow},
      {"clmenutext", QPalette::Active, QPalette::WindowText},
      {"clwindowtext", QPalette::Active, QPalette::Text},
      {"clcaptiontext", QPalette::Active, QPalette::HighlightedText},
      {"clactiveborder", QPalette::Active, QPalette::Window},
      {"clinactiveborder", QPalette::Inactive, QPalette::Window},
      {"clappworkspace", QPalette::Active, QPalette::Dark},
      {"clhighlight", QPalette::Active, QPalette::Highlight},
      {"clhighlighttext", QPalette::Active, QPalette::HighlightedText},
      {"clbtnface", QPalette::Active, QPalette::Button},
      {"clbtnshadow", QPalette::Active, QPalette::Dark},
      {"clgraytext", QPalette::Disabled, QPalette::Text},
      {"clbtntext", QPalette::Active, QPalette::ButtonText},
      {"clinactivecaptiontext", QPalette::Inactive, QPalette::WindowText},
      {"clbtnhighlight", QPalette::Active, QPalette::Light},
      {"cl3ddkshadow", QPalette::Active, QPalette::Shadow},
      {"cl3dlight", QPalette::Active, QPalette::Midlight},
      {"clinfotext", QPalette::Active, QPalette::ToolTipText},
      {"clinfobk", QPalette::Active, QPalette::ToolTipBase},
  };
  for (const TSystem& c : kSystem)
    if (lower == QLatin1String(c.Name)) return AppPalette().color(c.Group, c.Role);
  return QColor(Qt::black);
}

}  // namespace Markup

// ---------------------------------------------------------------------------
// Entry points

void DrawMarkup(QPainter& Canvas, const QRect& ARect, const QString& AText) {
  if (!Canvas.isActive() || AText.isEmpty()) return;
  Canvas.save();
  Canvas.setBackgroundMode(Qt::TransparentMode);
  TEngine engine(Canvas.device(), Canvas.font(), Canvas.pen().color(), &Canvas);
  engine.Run(ARect, AText, false, false);
  Canvas.restore();
}

TMarkupLayout MeasureMarkup(QPainter& Canvas, const QRect& ARect, const QString& AText, bool AAllLines) {
  return MeasureMarkup(Canvas.isActive() ? Canvas.device() : nullptr, Canvas.font(), ARect, AText, AAllLines);
}

TMarkupLayout MeasureMarkup(QPaintDevice* ADevice, const QFont& AFont, const QRect& ARect, const QString& AText,
                            bool AAllLines) {
  TEngine engine(ADevice, AFont, QColor(Qt::black), nullptr);
  return engine.Run(ARect, AText, AAllLines, true);
}
