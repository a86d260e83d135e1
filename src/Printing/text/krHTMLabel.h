#pragma once

// The markup renderer of text boxes, captions and the error picture.
//
// DrawMarkup draws the HTML-like markup of text boxes into a rectangle of any
// QPainter (a text item's bitmap, a printer page, the error picture), with
// word wrap. MeasureMarkup lays the same text out without drawing and answers
// where every line lands.
//
// The painter's font (family, size, style) and pen colour are the starting
// font; its state (font, pen, brush, clipping, background mode) is the same
// after the call as before. Point sizes become pixels through the paint
// device's resolution (QPaintDevice::logicalDpiY), so the same text lays out
// for the screen and, on a device of printer resolution, for the printer.
//
// Bad input (unclosed tags, a "<" without ">", huge or negative sizes and
// indents, deeply nested lists, an empty rectangle) draws what it can; the
// work is bounded by the length of the text.

#include <QColor>
#include <QFont>
#include <QList>
#include <QRect>
#include <QString>

class QPainter;
class QPaintDevice;

// The alignment of a line.
enum TMarkupAlignment { maLeft, maRight, maCenter };

// One laid-out line: its placed rectangle (Left is where its first run
// starts, alignment and indent included; Width excludes a trailing space).
struct TMarkupLine {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  TMarkupAlignment Alignment = maLeft;
};

// The result of laying out a text.
struct TMarkupLayout {
  QList<TMarkupLine> Lines;
  int Width = 0;   // the widest line
  int Height = 0;  // the lines' heights added up
  // True when lines were left out because they would start below the
  // rectangle (only when measuring as DrawMarkup draws).
  bool Truncated = false;
};

// Draws the markup text into the rectangle.
void DrawMarkup(QPainter& Canvas, const QRect& ARect, const QString& AText);

// Lays the text out exactly as DrawMarkup would draw it with this painter
// and rectangle. With AAllLines the layout does not stop at the rectangle's
// bottom, which answers the height the whole text needs at that width.
TMarkupLayout MeasureMarkup(QPainter& Canvas, const QRect& ARect, const QString& AText, bool AAllLines = false);

// The same for a font on a paint device (its resolution decides the pixel
// size of point sizes); nullptr measures at the screen's resolution.
TMarkupLayout MeasureMarkup(QPaintDevice* ADevice, const QFont& AFont, const QRect& ARect, const QString& AText,
                            bool AAllLines = false);

// The pieces of the renderer, for the other Parts and for tests.
namespace Markup {

// Replaces the character entities of the first table ("&amp;", "&quot;",
// "&sect;", "&permil;", "&reg;", "&copy;", "&para;", "&trade;", "&euro;"),
// ignoring case, until none is left. "&amp;" becomes a doubled ampersand.
QString ReplaceEntities(const QString& AText);

// Replaces the run entities "&nbsp;" (a no-break space), "&lt;" and "&gt;".
QString ReplaceRunEntities(const QString& ARun);

// Preparing the text: the entities, the "<#" form, line feeds dropped and
// carriage returns made "<BR>".
QString PrepareText(const QString& AText);

// The text a run shows after prefix processing: "&&" shows one ampersand, a
// single ampersand is not shown (it underlines the next character).
QString ShownText(const QString& ARun);

// A colour value of a tag: "#RRGGBB" or a colour name ("clRed", the system
// colours "clWindow" ...); anything else is black.
QColor ParseColor(const QString& AValue);

}  // namespace Markup
