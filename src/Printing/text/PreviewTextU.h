#pragma once

// The text box of a document, and the caption of a picture: an item whose
// content is marked-up text drawn in the item's font. The text is rendered
// into a bitmap of the item's size (turned with the item), drawn on screen
// with its white left out, and rendered again at the printer's resolution
// for printing.

#include "Printing/document/PreviewItemsU.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QStringList>

#include <memory>

class TPreviewText : public TPreviewItem {
  Q_OBJECT
  Q_CLASSINFO("stored:Font", "FontAssigned")
  Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
  Q_PROPERTY(TFontProperties* Font READ FontProperties)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
  Q_PROPERTY(QColor TransparentColor READ TransparentColor WRITE SetTransparentColor)

public:
  explicit TPreviewText(QObject* AOwner);
  // A new box with the text centred: "<P align=\"center\">" and the text.
  TPreviewText(QObject* AOwner, const QString& AText);
  ~TPreviewText() override;

  // The markup, one entry per line; the text is the entries joined by CR LF.
  QStringList Lines() const { return FLines; }
  void SetLines(const QStringList& Value);
  QString Text() const;
  void SetText(const QString& Value);

  QFont Font() const { return FFont; }
  void SetFont(const QFont& Value);
  Q_INVOKABLE bool FontAssigned() const { return FFontAssigned; }
  // The font as records hold it; a change through it assigns the font.
  TFontProperties* FontProperties() const { return FFontProperties; }
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  QColor TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(const QColor& Value);

  TNotifyEvent OnDblClick;

  // The text rendered into a W x H bitmap (laid out unturned, then turned
  // by QuarterTurns) at Resolution pixels per inch (0: the screen's). A
  // bitmap beyond the size limit is rendered at a reduced scale.
  QImage Render(int W, int H, int Resolution, int QuarterTurns);
  bool HasCache() const { return FCacheValid; }
  // The most pixels a rendering may have.
  static constexpr qint64 MaxRenderPixels = 6000LL * 6000LL;

  // The description of a text box is its text; setting it changes nothing.
  QString GetDescription() const override { return Text(); }
  void SetDescription(const QString& Value) override { Q_UNUSED(Value); }
  void Rotate(int QuarterTurns) override;
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  void FreeCache(bool All) override;
  int GetMemoryUsed() override;
  bool PrintTo(QPainter* Canvas, int OffsetX, int OffsetY) override;
  void CreateCaption() override {}

protected:
  void PaintContent(QPainter& Canvas) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;

private:
  void Invalidate();

  QStringList FLines;
  QFont FFont;
  TFontProperties* FFontProperties;
  bool FFontAssigned = false;
  bool FTransparent = true;
  QColor FTransparentColor = Qt::white;
  QImage FCache;  // the rendering for the screen, white left out when transparent
  bool FCacheValid = false;
};
