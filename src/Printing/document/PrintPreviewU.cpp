#include "Printing/document/PrintPreviewU.h"

#include "Printing/document/PreviewItemsU.h"
#include "Printing/persist/DocumentFileU.h"
#include "Printing/text/PreviewTextU.h"
#include "platform/Exceptions.h"

#include "platform/Application.h"
#include "platform/Dialogs.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QThread>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <exception>

void CheckLayoutType(int Value) {
  if (Value < ltManual || Value > ltThumb) throw Exception(QStringLiteral("Unknown Layout type"));
}

// --- TPreviewItems -------------------------------------------------------------

int TPreviewItems::Add(QObject* Item) {
  if (!dynamic_cast<IPreviewable*>(Item))
    throw Exception(QStringLiteral("Error adding PreviewItem.  Items must be IPreviewable"));
  return TPointerList<QObject>::Add(Item);
}

IPreviewable* TPreviewItems::Previewable(int Index) const { return dynamic_cast<IPreviewable*>(Get(Index)); }

TPreviewItem* TPreviewItems::Item(int Index) const { return dynamic_cast<TPreviewItem*>(Get(Index)); }

namespace {

IPreviewable* AsPreviewable(QObject* Item) { return dynamic_cast<IPreviewable*>(Item); }

TComponent* AsComponent(QObject* Object) { return dynamic_cast<TComponent*>(Object); }

}  // namespace

// --- Streamed fill, outline and font ---------------------------------------------------

namespace {

// The most pages a document read from a file may show across or down.
constexpr int kMaxDisplayPages = 100;
// The most sheets a poster page has each way (the longest print length is
// that many sheets of the largest paper), and the widest space around the
// paper of a page.
constexpr int kMaxSheets = 100;
constexpr int kMaxParentMargin = 10000;

constexpr Qt::BrushStyle kBrushStyles[] = {Qt::SolidPattern, Qt::NoBrush,   Qt::HorPattern,   Qt::VerPattern,
                                           Qt::FDiagPattern,  Qt::BDiagPattern, Qt::CrossPattern, Qt::DiagCrossPattern};
constexpr Qt::PenStyle kPenStyles[] = {Qt::SolidLine,      Qt::DashLine, Qt::DotLine,  Qt::DashDotLine,
                                       Qt::DashDotDotLine, Qt::NoPen,    Qt::SolidLine};

}  // namespace

void TBrushProperties::SetColor(const QColor& Value) { FTarget->setColor(Value); }

TBrushStyle TBrushProperties::Style() const {
  for (int i = 0; i < int(std::size(kBrushStyles)); ++i)
    if (kBrushStyles[i] == FTarget->style()) return static_cast<TBrushStyle>(i);
  return bsSolid;
}

void TBrushProperties::SetStyle(TBrushStyle Value) {
  if (Value >= bsSolid && Value <= bsDiagCross) FTarget->setStyle(kBrushStyles[Value]);
}

void TPenProperties::SetColor(const QColor& Value) { FTarget->setColor(Value); }

TPenStyle TPenProperties::Style() const {
  for (int i = 0; i < int(std::size(kPenStyles)); ++i)
    if (kPenStyles[i] == FTarget->style()) return static_cast<TPenStyle>(i);
  return psSolid;
}

void TPenProperties::SetStyle(TPenStyle Value) {
  if (Value >= psSolid && Value <= psInsideFrame) FTarget->setStyle(kPenStyles[Value]);
}

void TPenProperties::SetWidth(int Value) { FTarget->setWidth(std::clamp(Value, 0, 1000)); }

void TFontProperties::Change() {
  if (OnChange) OnChange();
}

void TFontProperties::SetCharset(int Value) {
  FCharset = std::clamp(Value, 0, 255);
  Change();
}

void TFontProperties::SetColor(const QColor& Value) {
  FColor = Value;
  Change();
}

int TFontProperties::Height() const {
  if (FTarget->pointSizeF() > 0) return -qRound(FTarget->pointSizeF() * 96.0 / 72.0);
  return -std::max(FTarget->pixelSize(), 1);
}

void TFontProperties::SetHeight(int Value) {
  const qint64 pixels = std::clamp<qint64>(Value < 0 ? -qint64(Value) : qint64(Value), 1, 2000);
  FTarget->setPointSizeF(pixels * 72.0 / 96.0);
  Change();
}

void TFontProperties::SetName(const QString& Value) {
  FTarget->setFamily(Value);
  Change();
}

void TFontProperties::SetPitch(TFontPitch Value) {
  FPitch = Value;
  FTarget->setFixedPitch(Value == fpFixed);
  Change();
}

TFontStyles TFontProperties::Style() const {
  TFontStyles r;
  r.setFlag(fsBold, FTarget->bold());
  r.setFlag(fsItalic, FTarget->italic());
  r.setFlag(fsUnderline, FTarget->underline());
  r.setFlag(fsStrikeOut, FTarget->strikeOut());
  return r;
}

void TFontProperties::SetStyle(TFontStyles Value) {
  FTarget->setBold(Value.testFlag(fsBold));
  FTarget->setItalic(Value.testFlag(fsItalic));
  FTarget->setUnderline(Value.testFlag(fsUnderline));
  FTarget->setStrikeOut(Value.testFlag(fsStrikeOut));
  Change();
}

// --- TPagePreview ----------------------------------------------------------------

TPagePreview::TPagePreview(QObject* AOwner, TPrintPreview* ADocument)
    : QWidget(ADocument),
      TComponent(this, AOwner),
      FPrintPreview(ADocument),
      FBrushProperties(new TBrushProperties(&Brush, this)),
      FPenProperties(new TPenProperties(&Pen, this)),
      FFontProperties(new TFontProperties(&PageFont, this)) {
  FFontProperties->OnChange = [this] { FParentFont = false; };
  if (ADocument) {
    FreeNotification(ADocument);
    FLayoutType = ADocument->DefaultLayoutType();
    FPaperOrientation = ADocument->PaperOrientation();
  }
  UpdatePrinterSettings();
  ResetLayout();
}

TPagePreview::~TPagePreview() { BeforeDestruction(); }

void SaveOwnRecord(QObject& AComponent, IStreamableComponent& AStreamable, QIODevice& AStream, bool AsText,
                   const QString& SaveParams) {
  AStreamable.SetStreamState(ssSaving);
  try {
    WriteComponentRecord(AStream, AComponent, AsText, SaveParams);
  } catch (...) {
    AStreamable.SetStreamState(ssIdle);
    throw;
  }
  AStreamable.SetStreamState(ssIdle);
}

void TPagePreview::SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) {
  SaveOwnRecord(*this, *this, AStream, AsText, SaveParams);
}

void TPagePreview::WriteAdditionalData(QIODevice&, bool, const QString&) {}

void TPagePreview::ReadAdditionalData(QIODevice&, const QString&) {}

TPrintPreview* TPagePreview::PrintPreview() const {
  if (!FPrintPreview) throw Exception(QStringLiteral("FPrintPreview not assigned in GetPrintPreview"));
  return FPrintPreview;
}

void TPagePreview::SetPrintPreview(TPrintPreview* Value) {
  if (FPrintPreview == Value) return;
  if (FPrintPreview) RemoveFreeNotification(FPrintPreview);
  FPrintPreview = Value;
  if (Value) FreeNotification(Value);
}

void TPagePreview::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation != opRemove) return;
  if (AComponent == FPrintPreview) {
    FPrintPreview = nullptr;
    return;
  }
  QObject* object = AComponent->Self();
  if (FItems.Contains(object)) RemoveFromLayout(object);
}

int TPagePreview::PaperWidth() const {
  if (FSheetsX == 1) return PrinterSettings.PaperWidth;
  return (FSheetsX - 1) * PrinterSettings.UsableWidth + PrinterSettings.PaperWidth;
}

int TPagePreview::PaperLength() const {
  if (FSheetsY == 1) return PrinterSettings.PaperHeight;
  return (FSheetsY - 1) * PrinterSettings.UsableHeight + PrinterSettings.PaperHeight;
}

void TPagePreview::UpdatePrinterSettings() {
  if (FPrintPreview)
    FillPrinterSettings(PrinterSettings, FPrintPreview->MarginLeft(), FPrintPreview->MarginTop(),
                        FPrintPreview->MarginRight(), FPrintPreview->MarginBottom(), FPrintPreview->CentreOnPage());
  else
    FillPrinterSettings(PrinterSettings, 0, 0, 0, 0, false);
  FRotation = FPaperOrientation == PrinterSettings.Orientation ? 0 : 3;
}

void TPagePreview::ResetLayout() {
  const int w = PrintableWidth();
  const int h = PrintableHeight();
  if (w <= 0 || h <= 0) {
    // No paper information from the printer: nothing can be placed, but the
    // page stays usable.
    FLayout.PageRect = TRectangle();
    FLayout.Clear();
    return;
  }
  FLayout.PageRect = TRectangle(PrinterSettings.MarginLeft, PrinterSettings.MarginTop, w, h);
  FLayout.SetOrientation(FPaperOrientation);
  FLayout.Reset();
}

void TPagePreview::SetPageLayout(const QString& Value) {
  if (Value != FLayout.LayoutText()) FLayout.SetLayoutText(Value);
}

void TPagePreview::SetParentMargin(int Value) {
  Value = std::clamp(Value, 0, kMaxParentMargin);
  if (Value == FParentMargin) return;
  FParentMargin = Value;
  CalcDisplay();
}

void TPagePreview::SetSelected(bool Value) {
  if (Value == FSelected) return;
  FSelected = Value;
  if (isVisible()) update();
}

int TPagePreview::PageIndex() const {
  if (!FPrintPreview) throw Exception(QStringLiteral("FPrintPreview not assigned in SetPageIndex"));
  return FPrintPreview->Pages().IndexOf(this);
}

void TPagePreview::SetPageIndex(int Value) {
  if (!FPrintPreview) throw Exception(QStringLiteral("FPrintPreview not assigned in SetPageIndex"));
  TPages& pages = FPrintPreview->Pages();
  const int current = pages.IndexOf(this);
  if (current < 0) throw Exception(QStringLiteral("Couldn't find page in print preview"));
  const int target = std::clamp(Value, 0, pages.Count() - 1);
  if (target != current) pages.Move(current, target);
}

void TPagePreview::SetLayoutType(TLayoutType Value) {
  CheckLayoutType(Value);
  if (Value == FLayoutType) return;
  FLayoutType = Value;
  for (int i = 0; i < FItems.Count(); ++i)
    if (IPreviewable* item = FItems.Previewable(i)) item->SetLayoutType(Value);
  // Captions sit in their item's cell or against the item itself: they move
  // with the change (manual pages are not laid out again to do it). What is
  // being read keeps the positions of its records.
  if (FStreamState == ssLoading) return;
  for (int i = 0; i < FItems.Count(); ++i)
    if (IPreviewable* item = FItems.Previewable(i)) item->RepositionAttached();
}

void TPagePreview::SetPaperOrientation(TPrinterOrientation Value) {
  if (Value == FPaperOrientation) return;
  FPaperOrientation = Value;
  FLayout.SetOrientation(Value);
  CalcDisplay();
}

int TPagePreview::SheetsHorizontal() const {
  return FPaperOrientation == PrinterSettings.Orientation ? FSheetsX : FSheetsY;
}

int TPagePreview::SheetsVertical() const {
  return FPaperOrientation == PrinterSettings.Orientation ? FSheetsY : FSheetsX;
}

void TPagePreview::SetSheetsHorizontal(int Value) {
  if (FPaperOrientation == PrinterSettings.Orientation)
    SetSheets(Value, FSheetsY);
  else
    SetSheets(FSheetsX, Value);
}

void TPagePreview::SetSheetsVertical(int Value) {
  if (FPaperOrientation == PrinterSettings.Orientation)
    SetSheets(FSheetsX, Value);
  else
    SetSheets(Value, FSheetsY);
}

void TPagePreview::SetSheets(int ASheetsX, int ASheetsY) {
  if (ASheetsX <= 0 || ASheetsY <= 0 || ASheetsX > kMaxSheets || ASheetsY > kMaxSheets) return;
  if (ASheetsX == FSheetsX && ASheetsY == FSheetsY) return;
  FSheetsX = ASheetsX;
  FSheetsY = ASheetsY;
  CalcDisplay();
  // Read from a document: the load reports its own change.
  if (FPrintPreview && FPrintPreview->StreamState() != ssLoading) FPrintPreview->Changed(QStringLiteral("Page Sheets"));
}

void TPagePreview::SetScale(float Value) {
  FScale = Value;
  CalcDisplay();
}

bool TPagePreview::AllowRotateFor(IPreviewable* Item) const {
  return FPrintPreview && FPrintPreview->UserOptions().testFlag(uoCanRotate) &&
         Item->GetOptions().testFlag(poCanAutoRotate);
}

void TPagePreview::AddPreviewItem(QObject* Item, bool Place) {
  IPreviewable* item = AsPreviewable(Item);
  if (!item) throw Exception(QStringLiteral("APreviewItem is not IPreviewable in AddPreviewItem"));
  item->SetScale(FScale);
  if (Place) PlaceItem(item);
  if (!FItems.Contains(Item)) FItems.Add(Item);
  if (TComponent* c = AsComponent(Item)) FreeNotification(c);
  item->SetPagePreview(this);
  if (Place) {
    item->UpdateScreenBounds(15);
    item->RepositionAttached();
  }
}

void TPagePreview::PlaceItem(IPreviewable* Item) {
  Item->SetLayoutType(FLayoutType);
  const bool onSide = FPaperOrientation != PrinterSettings.Orientation;
  const TPreviewableOptions options = Item->GetOptions();
  if (!options.testFlag(poCanAutoRotate) && onSide && options.testFlag(poNeverBeenOnPage)) Item->Rotate(1);

  if (FLayoutType == ltManual || options.testFlag(poNoLayout)) {
    const int left = FPaperOrientation == poPortrait ? PrinterSettings.MarginLeft
                                                     : PrinterSettings.UsableWidth - Item->GetPrintWidth();
    Item->SetPrintLeft(left);
    Item->SetPrintTop(NextFreeTop());
    Item->ClearLayoutPosition();
  } else {
    const bool allowRotate = AllowRotateFor(Item);
    TLayoutPosition position;
    const int w = Item->GetActualWidth(), h = Item->GetActualHeight();
    try {
      FLayout.Place(w, h, 0, allowRotate, nullptr, false, position);
    } catch (const Exception&) {
      // No room: the item goes into the last free rectangle, shrunk to it.
      FLayout.Place(w, h, 0, allowRotate, nullptr, true, position);
    }
    Item->SetLayoutPosition(position);
    if (position.Rotated) Item->RotateQuarter();
    Item->FitToLayoutPosition(0, 0);
  }
  if (Item->GetAttachedItem()) Item->RepositionAttached();
}

void TPagePreview::RemoveFromLayout(QObject* Item) {
  FItems.Remove(Item);
  if (TComponent* c = AsComponent(Item)) RemoveFreeNotification(c);
  IPreviewable* item = AsPreviewable(Item);
  if (!item || !IsAutomatic() || item->GetOptions().testFlag(poAttached)) return;
  try {
    if (item->HasLayoutPosition() && item->GetLayoutPosition().Width != 0)
      FLayout.AddFreeRectFrom(item->GetLayoutPosition());
    else
      FLayout.AddFreeRect(item->GetPrintLeft(), item->GetPrintTop(), item->GetActualWidth(), item->GetActualHeight());
  } catch (const Exception&) {
    // Space outside the paper is not given back.
  }
}

void TPagePreview::ClearItems() {
  for (int i = FItems.Count() - 1; i >= 0; --i) {
    QObject* object = FItems[i];
    if (TComponent* c = AsComponent(object)) RemoveFreeNotification(c);
    if (IPreviewable* item = AsPreviewable(object)) item->SetPagePreview(nullptr);
  }
  FItems.Clear();
  ResetLayout();
}

int TPagePreview::NextFreeTop() const {
  int top = PrinterSettings.MarginTop;
  for (int i = 0; i < FItems.Count(); ++i)
    if (IPreviewable* item = FItems.Previewable(i))
      top = std::max(top, item->GetPrintTop() + item->GetPrintHeight() + 100);
  return top;
}

bool TPagePreview::CanAccept(int AWidth, int AHeight, IPreviewable* Item) {
  if (FItems.Count() == 0) return true;
  if (IsAutomatic()) return FLayout.CanPlace(std::max(AWidth, 1), std::max(AHeight, 1), AllowRotateFor(Item));
  const int top = NextFreeTop();
  return top == 250 || top + AHeight < PaperLength();
}

QString TPagePreview::ItemsLayoutText() const {
  QString text;
  for (int i = 0; i < FItems.Count(); ++i) {
    IPreviewable* item = FItems.Previewable(i);
    if (!item || item->GetOptions().testFlag(poAttached)) continue;
    TLayoutPosition r;
    r.Left = item->GetPrintLeft() - PrinterSettings.MarginLeft;
    r.Top = item->GetPrintTop() - PrinterSettings.MarginTop;
    r.Width = item->GetActualWidth();
    r.Height = item->GetActualHeight();
    if (r.Width > 0 && r.Height > 0) text += FLayout.FormatRect(r);
  }
  return text;
}

void TPagePreview::Relayout(bool Sort) { PrintPreview()->Relayout(this, Sort); }

void TPagePreview::FreeItemCaches(bool All) {
  for (int i = 0; i < FItems.Count(); ++i)
    if (TPreviewItem* item = FItems.Item(i)) item->FreeCache(All);
}

void TPagePreview::CalcDisplay() {
  // The page lies on its side when its orientation differs from the printer's.
  FRotation = FPaperOrientation == PrinterSettings.Orientation ? 0 : 3;
  const int pw = PaperWidth();
  const int pl = PaperLength();
  if (pw == 0 || pl == 0) return;
  // A control too small to show any paper keeps its previous display.
  if (width() <= 2 * FParentMargin || height() <= 2 * FParentMargin) return;
  if (FRotation == 0) {
    FScale = ScaleToFit(width() - 2 * FParentMargin, pw, height() - 2 * FParentMargin, pl);
    FDisplayWidth = Trunc(pw * static_cast<double>(FScale));
    FDisplayHeight = Trunc(pl * static_cast<double>(FScale));
  } else {
    FScale = ScaleToFit(width() - 2 * FParentMargin, pl, height() - 2 * FParentMargin, pw);
    FDisplayWidth = Trunc(pl * static_cast<double>(FScale));
    FDisplayHeight = Trunc(pw * static_cast<double>(FScale));
  }
  FDisplayleft = (width() - FDisplayWidth) / 2;
  FDisplayTop = (height() - FDisplayHeight) / 2;
  UpdateItemsDisplay();
  if (FPrintPreview) FPrintPreview->update();
  update();
}

void TPagePreview::UpdateItemsDisplay() {
  for (int i = 0; i < FItems.Count(); ++i) {
    IPreviewable* item = FItems.Previewable(i);
    if (!item) continue;
    if (item->GetScale() != FScale)
      item->SetScale(FScale);
    else
      item->UpdateScreenBounds(1 | 2);
    item->RepositionAttached();
  }
}

void TPagePreview::paintEvent(QPaintEvent* Event) {
  Q_UNUSED(Event);
  QPainter p(this);
  const int pw = Pen.width();
  const int grow = pw == 0 ? 0 : 1;
  // Qt's rectangles run one pixel further than their width: take it off.
  const QRect paper(FDisplayleft + pw / 2, FDisplayTop + pw / 2, FDisplayWidth - pw + grow - 1,
                    FDisplayHeight - pw + grow - 1);
  p.setPen(Pen);
  p.setBrush(Brush);
  p.drawRect(paper);

  if (FSelected) {
    const QColor silver(192, 192, 192);  // 12632256
    p.setPen(QPen(silver, 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(paper);
    p.setPen(Qt::NoPen);
    p.setBrush(silver);
    for (const QPoint& c : {paper.topLeft(), paper.topRight(), paper.bottomLeft(), paper.bottomRight()})
      p.drawRect(QRect(c - QPoint(2, 2), QSize(5, 5)));
  }

  const double s = FScale;
  if (FPrintPreview && FPrintPreview->UserOptions().testFlag(uoShowLayout) && s > 0) {
    const bool debug = FPrintPreview->UserOptions().testFlag(uoDebug);
    p.setBrush(debug ? QColor(0, 128, 0) : QColor(Qt::white));  // 32768 with uoDebug
    p.setPen(QPen(Qt::black, 1));
    const TRectangleList& free = FLayout.FreeRects();
    for (int i = 0; i < free.Count(); ++i) {
      const TRectangle& r = *free[i];
      QRect screen;
      if (FRotation == 0) {
        screen.setCoords(Trunc(r.Left * s + FDisplayleft), Trunc(r.Top * s + FDisplayTop),
                         Trunc(r.Right() * s + FDisplayleft) - 1, Trunc(r.Bottom() * s + FDisplayTop) - 1);
      } else {
        screen.setCoords(Trunc(r.Top * s + FDisplayleft), Trunc(FDisplayTop + FDisplayHeight - r.Right() * s),
                         Trunc(r.Bottom() * s + FDisplayleft) - 1,
                         Trunc(FDisplayTop + FDisplayHeight - r.Left * s) - 1);
      }
      p.drawRect(screen);
      // The number's top left corner 10 pixels left of and above the centre.
      p.drawText(screen.center() - QPoint(10, 10) + QPoint(0, p.fontMetrics().ascent()), QString::number(i + 1));
    }
  }

  // Where the sheets of a poster meet.
  const int paperW = PaperWidth(), paperL = PaperLength();
  if ((FSheetsX > 1 || FSheetsY > 1) && paperW > 0 && paperL > 0) {
    p.setPen(QPen(Qt::black, 0));
    const TPrinterSettings& st = PrinterSettings;
    const int left = FDisplayleft, top = FDisplayTop, right = FDisplayleft + FDisplayWidth,
              bottom = FDisplayTop + FDisplayHeight;
    for (int i = 1; i < FSheetsX; ++i) {
      if (FRotation == 0) {
        const int x = left + Trunc(static_cast<double>(FDisplayWidth) / paperW * i * (st.UsableWidth + st.MarginLeft));
        p.drawLine(x, top, x, bottom);
      } else {
        const int y = top + Trunc(static_cast<double>(FDisplayHeight) / paperW * i * (st.UsableWidth + st.MarginLeft));
        p.drawLine(left, y, right, y);
      }
    }
    for (int i = 1; i < FSheetsY; ++i) {
      if (FRotation == 0) {
        const int y = top + Trunc(static_cast<double>(FDisplayHeight) / paperL * i * (st.UsableHeight + st.MarginTop));
        p.drawLine(left, y, right, y);
      } else {
        const int x = left + Trunc(static_cast<double>(FDisplayWidth) / paperL * i * (st.UsableHeight + st.MarginTop));
        p.drawLine(x, top, x, bottom);
      }
    }
  }
}

void TPagePreview::mousePressEvent(QMouseEvent* Event) {
  if (FPrintPreview) FPrintPreview->SelectPage(this, !(Event->modifiers() & Qt::ShiftModifier));
  if (OnMouseDown) OnMouseDown(this);
  QWidget::mousePressEvent(Event);
}

void TPagePreview::mouseReleaseEvent(QMouseEvent* Event) {
  if (OnClick && rect().contains(Event->position().toPoint())) OnClick(this);
  QWidget::mouseReleaseEvent(Event);
}

void TPagePreview::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  CalcDisplay();
}

// --- TPrintPreview ---------------------------------------------------------------

TPrintPreview::TUpdateGuard::TUpdateGuard(TPrintPreview& ADocument)
    : FDocument(ADocument), FExceptions(std::uncaught_exceptions()) {
  FDocument.BeginUpdate();
}

TPrintPreview::TUpdateGuard::~TUpdateGuard() noexcept(false) {
  if (std::uncaught_exceptions() > FExceptions) {
    // Unwinding already: close the batch, but let the first error through.
    try {
      FDocument.EndUpdate();
    } catch (...) {
    }
  } else {
    FDocument.EndUpdate();
  }
}

TPrintPreview::TPrintPreview(QObject* AOwner, QWidget* AParent) : QWidget(AParent), TComponent(this, AOwner) {
  ResetModified();
}

TPrintPreview::~TPrintPreview() {
  BeforeDestruction();
  // Pages and items belong to the owner, not to the document: keep them out
  // of the widget tree that goes with it.
  for (QObject* child : children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    TComponent* c = AsComponent(child);
    if (widget && c && c->Owner() && c->Owner() != this) {
      widget->hide();
      widget->setParent(nullptr);
    }
  }
}

void TPrintPreview::SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) {
  TDocumentFile::Save(*this, AStream, AsText, SaveParams);
}

void TPrintPreview::WriteAdditionalData(QIODevice&, bool, const QString&) {}

void TPrintPreview::ReadAdditionalData(QIODevice&, const QString&) {}

void TPrintPreview::LoadFromStream(QIODevice& AStream, bool Fresh) { TDocumentFile::Load(*this, AStream, Fresh); }

void TPrintPreview::SaveToFile(const QString& FileName, bool ForceText) {
  TDocumentFile::SaveFile(*this, FileName, ForceText);
}

void TPrintPreview::LoadFromFile(const QString& FileName) { TDocumentFile::LoadFile(*this, FileName); }

void TPrintPreview::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation != opRemove) return;
  QObject* object = AComponent->Self();
  if (auto* page = dynamic_cast<TPagePreview*>(AComponent)) {
    FPages.Remove(page);
    if (FSelectedPage == page) FSelectedPage = nullptr;
    if (FLastPageNotified == object) FLastPageNotified = nullptr;
  }
  FItems.Remove(object);
  if (FSelectedItem == object) FSelectedItem = nullptr;
  if (FLastItemNotified == object) FLastItemNotified = nullptr;
}

QString TPrintPreview::UniqueName(const QString& Prefix) {
  const QString prefix = Prefix.isEmpty() ? QString() : Prefix + QLatin1Char('_');
  QString name;
  do {
    ++FNameCounter;
    name = QStringLiteral("%1_%2%3").arg(Name(), prefix).arg(FNameCounter);
  } while (OwnerHoldsName(Owner(), name));
  return name;
}

void TPrintPreview::AttachPage(TPagePreview* Page) {
  Page->OnProgress = OnProgress;
  Page->OnClick = OnPageClick;
  Page->UpdatePrinterSettings();
  if (!FPages.Contains(Page)) FPages.Add(Page);
}

TPagePreview* TPrintPreview::NewPage() {
  auto* page = new TPagePreview(Owner(), this);
  page->SetName(UniqueName(QStringLiteral("Page")));
  page->lower();
  page->SetPaperOrientation(FPaperOrientation);
  AttachPage(page);
  page->ResetLayout();
  page->SetPageLayout(FDefaultPageLayout);
  page->SetLayoutType(FDefaultLayoutType);
  if (!FPages.Contains(page)) FPages.Add(page);
  page->show();
  // Into its place in the grid (shown or hidden there), so that it does not
  // lie over the pages shown and its items get its scale.
  PositionPages();
  if (OnNewPage) OnNewPage(page);
  return page;
}

TPagePreview* TPrintPreview::AddPage() {
  TPagePreview* page = NewPage();
  SelectPage(page, true);
  return page;
}

void TPrintPreview::EnsureDisplayPages() {
  const int wanted = FDisplayPagesHorizontal * FDisplayPagesVertical;
  if (PageCount() >= wanted) return;
  while (PageCount() < wanted) AddPage();
  PagesChanged();
}

void TPrintPreview::PagesChanged() {
  if (OnPagesChange) OnPagesChange(FDisplayPageStart, PageCount() - 1, FDisplayPagesHorizontal, FDisplayPagesVertical);
}

void TPrintPreview::DeletePage(TPagePreview* Page) {
  if (!Page) return;
  TPreviewItems& items = Page->Items();
  for (int i = items.Count() - 1; i >= 0; --i) {
    if (i >= items.Count()) continue;  // freeing an item may free its caption too
    QObject* item = items[i];
    if (FSelectedItem == item) FSelectedItem = nullptr;
    delete item;
  }
  if (FSelectedPage == Page) FSelectedPage = nullptr;
  delete Page;
  Changed(QStringLiteral("Delete page(s)"));
}

void TPrintPreview::DeletePages(int IType) {
  Iterate(FPages, IType, QVariant(), QVariant(), QVariant(), nullptr,
          [this](QObject* control, QObject*, const QVariant&, const QVariant&, const QVariant&) {
            DeletePage(static_cast<TPagePreview*>(control));
          });
  ArrangePages();
  PagesChanged();
}

void TPrintPreview::ClearAll() {
  DeletePages(0);
  for (int i = FItems.Count() - 1; i >= 0; --i) {
    if (i >= FItems.Count()) continue;
    QObject* item = FItems[i];
    if (FSelectedItem == item) FSelectedItem = nullptr;
    delete item;
  }
  SetDisplayPagesVertical(1);
  SetDisplayPagesHorizontal(1);
  SetDisplayPageStart(0);
  EnsureDisplayPages();
}

void TPrintPreview::NewDocument() {
  {
    TUpdateGuard guard(*this);
    ClearAll();
  }
  ResetModified();
}

void TPrintPreview::ClearDocument() {
  for (int i = FItems.Count() - 1; i >= 0; --i) {
    if (i >= FItems.Count()) continue;
    delete FItems[i];
  }
  for (int i = FPages.Count() - 1; i >= 0; --i) {
    if (i >= FPages.Count()) continue;
    delete FPages[i];
  }
  FSelectedItem = nullptr;
  FSelectedPage = nullptr;
}

TPagePreview* TPrintPreview::PageAtItem(QObject* Item) const {
  auto* widget = qobject_cast<QWidget*>(Item);
  if (!widget) return nullptr;
  const int left = widget->x(), top = widget->y();
  for (TPagePreview* page : FPages)
    if (page->x() <= left && left < page->Right() && page->y() <= top && top < page->Bottom()) return page;
  return nullptr;
}

void TPrintPreview::RefreshPrinterSettings() {
  FillPrinterSettings(PrinterSettings, FMarginLeft, FMarginTop, FMarginRight, FMarginBottom, FCentreOnPage);
  for (TPagePreview* page : FPages) {
    page->UpdatePrinterSettings();
    page->CalcDisplay();
  }
}

// --- Adding items and the commands on the selected items ----------------------------

IPreviewable* TPrintPreview::AddFile(QString FileName, unsigned Flags) {
  if (OnTranslateFileName) OnTranslateFileName(this, FileName);
  auto* image = new TPreviewImage(Owner());
  image->SetPrintPreview(this);
  image->LoadFromFile(FileName);
  image->SetDescription(QFileInfo(FileName).fileName());
  return AddImageItem(image, Flags);
}

IPreviewable* TPrintPreview::AddBitmap(const QString& Description, const QImage& Bitmap, unsigned Flags) {
  auto* image = new TPreviewImage(Owner());
  image->SetPrintPreview(this);
  try {
    image->CopyBitmap(Bitmap);
  } catch (...) {
    delete image;
    throw;
  }
  image->SetDescription(Description);
  return AddImageItem(image, Flags);
}

IPreviewable* TPrintPreview::AddImageItem(TPreviewItem* Image, unsigned Flags) {
  Image->SetPrintDimensions(FDefaultImageWidth, FDefaultImageHeight, sdKeepAspect | sdSwapToContent | sdNoRelayout);
  TPreviewableOptions options = Image->GetOptions();
  options.setFlag(poCanAutoRotate, FUserOptions.testFlag(uoCanRotate) && !(Flags & afNoAutoRotate));
  options.setFlag(poCanAutoSize, FUserOptions.testFlag(uoCanResize));
  Image->SetOptions(options);
  AddItemToPrintQueue(Image);
  if (Flags & afAttachText) {
    Image->CreateCaption();
    TPagePreview* page = Image->PagePreview();
    if (page && page->IsAutomatic() && !Image->IsCellLayout()) Relayout(page, false);
  }
  SelectItem(Image, !(Flags & afKeepSelection));
  // Let the window breathe between pictures: commands may run here, and
  // may even take the new item away again.
  const QPointer<TPreviewItem> guard = Image;
  QCoreApplication::processEvents();
  Changed(QStringLiteral("Add File(s)"));
  return guard ? static_cast<IPreviewable*>(guard.data()) : nullptr;
}

bool TPrintPreview::MatchesMasks(const QString& Name, const QString& Masks) {
  if (Masks == QLatin1String("*.*") || Masks == QLatin1String("*.*;")) return true;
  const QString fileName = QFileInfo(Name).fileName();
  const int dot = static_cast<int>(fileName.lastIndexOf(QLatin1Char('.')));
  QString ext = dot >= 0 ? fileName.mid(dot).toUpper() : QString();
  if (ext.isEmpty() || ext == QLatin1String(".")) ext = QStringLiteral(".AAA");
  return (Masks.toUpper() + QLatin1Char(';')).contains(ext + QLatin1Char(';'));
}

void TPrintPreview::AddFromDirectory(const QString& Directory, const QString& Masks, unsigned Flags) {
  TUpdateGuard guard(*this);
  QDir dir(Directory);
  if (Directory.isEmpty() || !dir.exists()) throw Exception(QStringLiteral("Invalid Directory: %1").arg(Directory));
  QStringList files;
  const QStringList entries =
      dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Unsorted);
  for (const QString& entry : entries) {
    if (!MatchesMasks(entry, Masks)) continue;
    const QString path = dir.filePath(entry);
    files << path;
    if (OnProgress) OnProgress(this, QStringLiteral("Found file: ") + path, 0);
  }
  const QString adding = QStringLiteral("Adding files from directory: ") + Directory;
  if (OnProgress) OnProgress(this, adding, 0);
  for (int i = 0; i < files.size(); ++i) {
    AddFile(files[i], Flags);
    if (OnProgress) OnProgress(this, adding, static_cast<float>(i + 1) / files.size());
  }
  if (OnProgress) OnProgress(this, QStringLiteral("Adding files from directory: Complete"), 0);
}

void TPrintPreview::DeleteSelected() {
  TPreviewItem* first = FirstSelectedItem();
  if (!first) return;
  TPagePreview* page = first->PagePreview();
  const QPointer<TPagePreview> pageGuard = page;
  for (int i = FItems.Count() - 1; i >= 0; --i) {
    if (i >= FItems.Count()) continue;
    TPreviewItem* item = FItems.Item(i);
    if (!item || !item->Selected()) continue;
    try {
      delete item;
    } catch (...) {
      // one item that cannot go does not keep the others
    }
  }
  Relayout(pageGuard.data(), false);
  SetSelectedItem(nullptr);
  Changed(QStringLiteral("Item(s) delete"));
}

void TPrintPreview::RotateSelected(int QuarterTurns) {
  TPreviewItem* first = FirstSelectedItem();
  if (!first) return;
  TPagePreview* page = first->PagePreview();
  for (int i = 0; i < FItems.Count(); ++i) {
    TPreviewItem* item = FItems.Item(i);
    if (!item || !item->Selected()) continue;
    item->Rotate(QuarterTurns);
    item->SetOptions(item->GetOptions() & ~TPreviewableOptions(poCanAutoRotate));
  }
  if (QuarterTurns == 1 || QuarterTurns == 3) Relayout(page, false);
  Changed(QStringLiteral("Rotate"));
}

void TPrintPreview::ResizeSelected(int AWidth, int AHeight, unsigned Flags) {
  {
    TUpdateGuard guard(*this);
    for (int i = 0; i < FItems.Count(); ++i) {
      TPreviewItem* item = FItems.Item(i);
      if (item && item->Selected()) item->SetPrintDimensionsFixed(AWidth, AHeight, Flags);
    }
  }
  Changed(QStringLiteral("Item(s) resize"));
}

void TPrintPreview::FitItems(int IType, bool FitWidth, bool FitHeight) {
  {
    TUpdateGuard guard(*this);
    Iterate(FItems, IType, QVariant(), QVariant(), QVariant(), nullptr,
            [&](QObject* element, QObject*, const QVariant&, const QVariant&, const QVariant&) {
              static_cast<TPreviewItem*>(element)->Fit(FitWidth, FitHeight);
            });
  }
  Changed(QStringLiteral("Item(s) resize"));
}

IPreviewable* TPrintPreview::AddText(const QString& Text) {
  auto* text = new TPreviewText(Owner());
  text->SetText(Text);
  text->setParent(this);
  text->SetPrintDimensions(FDefaultTextWidth, FDefaultTextHeight, 0);
  text->SetOptions(FUserOptions.testFlag(uoCanResize) ? text->GetOptions() | poCanAutoSize
                                                      : text->GetOptions() & ~TPreviewableOptions(poCanAutoSize));
  AddItemToPrintQueue(text);
  SelectItem(text, true);
  Changed(QStringLiteral("Add Text Item"));
  return text;
}

void TPrintPreview::AttachTextToSelected() {
  TPreviewItem* first = FirstSelectedItem();
  if (!first) return;
  const QPointer<TPagePreview> page = first->PagePreview();
  for (int i = 0; i < FItems.Count(); ++i) {
    TPreviewItem* item = FItems.Item(i);
    if (item && item->Selected() && !item->AttachedPreviewItem()) item->CreateCaption();
  }
  Relayout(page.data(), false);
  Changed(QStringLiteral("Add Text to items"));
}

void TPrintPreview::AddRemoveText(int IType, bool Add) {
  Iterate(FItems, IType, QVariant(), QVariant(), QVariant(), nullptr,
          [Add](QObject* element, QObject*, const QVariant&, const QVariant&, const QVariant&) {
            auto* item = static_cast<TPreviewItem*>(element);
            if (Add) {
              if (!item->AttachedPreviewItem() && !item->IsAttached()) item->CreateCaption();
            } else {
              delete item->AttachedPreviewItem();
            }
          });
  ReflowFrom(0);
  Changed(QStringLiteral("Add/Remove Text"));
}

int TPrintPreview::CaptionState() const {
  int state = 0;
  for (int i = 0; i < FItems.Count(); ++i) {
    TPreviewItem* item = FItems.Item(i);
    if (!item || !item->Selected()) continue;
    const bool bare = dynamic_cast<TPreviewImage*>(item) && !item->AttachedPreviewItem();
    const int one = bare ? 3 : 1;
    if (state == 0)
      state = one;
    else if (state != one)
      return 2;
  }
  return state == 0 ? 1 : state;
}

// --- Items and placement -----------------------------------------------------------

void TPrintPreview::AddItemToPrintQueue(QObject* Item) {
  auto* item = dynamic_cast<TPreviewItem*>(Item);
  if (!item) throw Exception(QStringLiteral("AItem passed to AddItemToPrintQueue is not TPreviewItem"));
  RegisterItem(item);
  TPagePreview* page = FindPageFor(item->PrintWidth(), item->PrintHeight(), item);
  page->AddPreviewItem(item, true);
  ScrollToPage(page);
  if (OnNewPreviewItem) OnNewPreviewItem(item);
  item->show();
}

void TPrintPreview::RegisterItem(TPreviewItem* Item) {
  Item->SetPrintPreview(this);
  Item->OnRotateBitmap = OnRotateBitmap;
  Item->OnPrintImage = OnPrintImage;
  Item->OnClick = OnPreviewItemClick;
  Item->OnContextPopup = OnPreviewItemContextPopup;
  Item->OnVisibleResize = OnPreviewItemVisibleResize;
  if (!FItems.Contains(Item)) FItems.Add(Item);
  FreeNotification(Item);
  // Named after the class without its first eight letters: "Image", "Text".
  if (Item->Name().isEmpty()) Item->SetName(UniqueName(QString::fromLatin1(Item->metaObject()->className()).mid(8)));
}

TPagePreview* TPrintPreview::FindPageFor(int AWidth, int AHeight, IPreviewable* Item) {
  for (TPagePreview* page : FPages)
    if (page->CanAccept(AWidth, AHeight, Item)) return page;
  TPagePreview* page = FPages.Count() > 0 ? FPages.Last() : nullptr;
  if (!page || page->Items().Count() > 0) page = AddPage();
  PagesChanged();
  return page;
}

TPagePreview* TPrintPreview::PlaceNewItem(IPreviewable* Item) {
  TPagePreview* page = FindPageFor(Item->GetPrintWidth(), Item->GetPrintHeight(), Item);
  page->AddPreviewItem(Item->GetItem(), true);
  return page;
}

void TPrintPreview::ReflowFrom(int PageIndex) {
  if (FUpdateLock > 0) {
    FPendingReflowFrom = std::min(FPendingReflowFrom, PageIndex);
    return;
  }
  bool cleared = false;
  if (PageIndex >= 0) {
    for (int i = PageIndex; i < FPages.Count(); ++i) {
      TPagePreview* page = FPages[i];
      if (!page->IsAutomatic()) continue;
      page->ClearItems();
      cleared = true;
    }
  }
  if (cleared) {
    for (int i = 0; i < FItems.Count(); ++i) {
      IPreviewable* item = FItems.Previewable(i);
      if (!item || item->GetPagePreview() || item->GetOptions().testFlag(poAttached)) continue;
      PlaceNewItem(item);
    }
    for (int i = 0; i < FItems.Count(); ++i)
      if (IPreviewable* item = FItems.Previewable(i)) item->RepositionAttached();
  }
  if (FStreamState == ssIdle) update();
}

void TPrintPreview::Relayout(TPagePreview* Page, bool Sort) {
  CheckLayoutType(FDefaultLayoutType);
  if (FDefaultLayoutType == ltManual) return;
  if (Sort) {
    FItems.Sort([](QObject* a, QObject* b) {
      TPreviewItem* ia = dynamic_cast<TPreviewItem*>(a);
      TPreviewItem* ib = dynamic_cast<TPreviewItem*>(b);
      if (!ia || !ib) return false;
      TPagePreview* pa = ia->PagePreview();
      TPagePreview* pb = ib->PagePreview();
      if (!pa || !pb) return !pa && pb;
      if (pa != pb) return pa->PageIndex() < pb->PageIndex();
      if (pa->PaperOrientation() == poLandscape) {
        if (ia->PrintLeft() != ib->PrintLeft()) return ia->PrintLeft() > ib->PrintLeft();
        return ia->PrintTop() < ib->PrintTop();
      }
      if (ia->PrintTop() != ib->PrintTop()) return ia->PrintTop() < ib->PrintTop();
      return ia->PrintLeft() < ib->PrintLeft();
    });
  }
  ReflowFrom(Page ? FPages.IndexOf(Page) : 0);
}

void TPrintPreview::SetLayout(const QString& LayoutText, TLayoutType LayoutType) {
  CheckLayoutType(LayoutType);
  SetDefaultPageLayout(LayoutText);
  SetDefaultLayoutType(LayoutType);
  auto apply = [&](QObject* control, QObject*, const QVariant&, const QVariant&, const QVariant&) {
    auto* page = static_cast<TPagePreview*>(control);
    page->SetPageLayout(LayoutText);
    page->SetLayoutType(LayoutType);
  };
  if (FUserOptions.testFlag(uoApplyPageChangesToSelected)) {
    Iterate(FPages, 1, QVariant(), QVariant(), QVariant(), nullptr, apply);
    TPagePreview* first = nullptr;
    for (TPagePreview* page : FPages)
      if (page->Selected()) {
        first = page;
        break;
      }
    Relayout(first, false);
  } else {
    Iterate(FPages, 0, QVariant(), QVariant(), QVariant(), nullptr, apply);
    ReflowFrom(0);
  }
  Changed(QStringLiteral("Layout type changed"));
}

void TPrintPreview::ThumbLayout() {
  SetDefaultLayoutType(ltThumb);
  SetLayout(TLayout::ThumbsText(FDefaultThumbsAcross, FDefaultThumbsDown), ltThumb);
}

// --- Printing ------------------------------------------------------------------------

bool TPagePreview::PrintPage() {
  TPrinter& printer = Printer();
  const TPrinterSettings s = PrinterSettings;
  bool result = false;
  for (int sx = 0; sx < FSheetsX; ++sx) {
    for (int sy = 0; sy < FSheetsY; ++sy) {
      if (result) {
        printer.NewPage();
        result = false;
      }
      // A snapshot: the window may run commands between two items.
      QList<QPointer<QObject>> items;
      for (QObject* item : FItems) items << item;
      const int n = static_cast<int>(items.size());
      for (int k = 0; k < n; ++k) {
        if (OnProgress)
          OnProgress(this, QStringLiteral("Printing page ") + QString::number(PageIndex() + 1), static_cast<float>(k) / n);
        IPreviewable* item = dynamic_cast<IPreviewable*>(items[k].data());
        if (item && !item->GetOptions().testFlag(poAttached)) {
          try {
            const bool drawn = item->PrintTo(printer.Canvas(), s.PrintableWidthPx * sx + s.HardOffsetLeftPx,
                                             s.PrintableHeightPx * sy + s.HardOffsetTopPx);
            result = result || drawn;
          } catch (const EAbort&) {
            throw;
          } catch (const std::exception& e) {
            const auto* ex = dynamic_cast<const Exception*>(&e);
            Dialogs::ShowMessage(QStringLiteral("Error \"%1\" occurred in printing item \"%2\".")
                                     .arg(ex ? ex->Message() : QString::fromLocal8Bit(e.what()), item->GetDescription()));
          }
        }
        QCoreApplication::processEvents();
      }
    }
  }
  return result;
}

void TPrintPreview::Print(int StartPage, int EndPage) {
  if (StartPage > EndPage) throw Exception(QStringLiteral("Must have StartPage<=endpage"));
  TWaitCursor cursor;
  if (OnBeforePrint) OnBeforePrint(this);
  auto report = [this](const QString& text, float progress) {
    if (OnProgress) OnProgress(this, text, progress);
  };
  // Whatever happens: the last report, the cursor and the host's hook.
  struct TFinally {
    std::function<void()> Fn;
    ~TFinally() { Fn(); }
  } finally{[&] {
    CallGuarded([&] {
      report(QStringLiteral("Printing complete."), 0);
      cursor.Restore();
      if (OnAfterPrint) OnAfterPrint(this);
    });
  }};

  const int first = std::max(StartPage - 1, 0);
  const int last = std::min(EndPage - 1, PageCount() - 1);
  TPrinter& printer = Printer();
  printer.SetTitle(FPrinterTitle);
  printer.BeginDoc();
  bool printedBefore = false;
  for (int i = first; i <= last && i < PageCount(); ++i) {
    report(QStringLiteral("Printing."), static_cast<float>(i - first) / (last - first + 1));
    TPagePreview* page = FPages[i];
    try {
      if (printedBefore && page->Items().Count() > 0) {
        if (FUserOptions.testFlag(uoPrintSeparatePages)) {
          printer.EndDoc();
          if (SeparateJobPause > 0) QThread::msleep(static_cast<unsigned long>(SeparateJobPause));
          printer.SetTitle(QStringLiteral("%1: Page %2").arg(FPrinterTitle).arg(i + 1));
          printer.BeginDoc();
        } else {
          printer.NewPage();
        }
      }
      // A page without items leaves the sheet as it is: the next page's
      // items still need a sheet of their own.
      const bool drew = page->PrintPage();
      if (page->Items().Count() > 0) printedBefore = drew;
    } catch (const EAbort&) {
      if (printer.Printing()) printer.Abort();
      throw;
    } catch (const std::exception&) {
      const int answer =
          Dialogs::MessageDlg(QStringLiteral("There was an error printing page %1.  Do you want to continue").arg(i + 1),
                              mtConfirmation, mbYes | mbNo);
      if (answer != mrYes) {
        if (printer.Printing()) printer.Abort();
        return;
      }
      if (!printer.Printing()) printer.BeginDoc();
    }
  }
  report(QStringLiteral("Spooling."), 0);
  printer.EndDoc();
  MarkPrinted();
}

TPrintPreview::TStatistics TPrintPreview::Statistics() const {
  TStatistics s;
  for (int i = 0; i < FItems.Count(); ++i) {
    TPreviewItem* item = FItems.Item(i);
    if (!item) continue;
    if (dynamic_cast<TPreviewImage*>(item)) ++s.Images;
    if (dynamic_cast<TPreviewText*>(item)) ++s.TextBoxes;
    s.ItemMemory += item->GetMemoryUsed();
  }
  s.Pages = PageCount();
  return s;
}

void TPrintPreview::ShowStatistics() {
  const TStatistics s = Statistics();
  const QLocale locale;  // "#,##0": grouped thousands
  QDialog dialog(this);
  dialog.setWindowTitle(QStringLiteral("Statistics"));
  auto* form = new QFormLayout(&dialog);
  const std::pair<const char*, qint64> rows[] = {
      {"Images:", s.Images}, {"Text Boxes:", s.TextBoxes}, {"Pages:", s.Pages}, {"Item Memory:", s.ItemMemory}};
  QStringList summary;
  for (const auto& [label, value] : rows) {
    form->addRow(QString::fromLatin1(label), new QLabel(locale.toString(value)));
    summary << QString::fromLatin1(label) + QLatin1Char(' ') + locale.toString(value);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  Dialogs::ShowModal(dialog, summary.join(QLatin1Char('\n')));
}

// --- Change tracking ---------------------------------------------------------------

void TPrintPreview::Changed(const QString& Description) {
  FPendingChangeText = Description;
  if (FUpdateLock > 0) {
    FChangePending = true;
    return;
  }
  FChangePending = false;
  ++FChangeCount;
  if (OnChanged) OnChanged(this, Description);
}

void TPrintPreview::BeginUpdate() { ++FUpdateLock; }

void TPrintPreview::EndUpdate() {
  if (FUpdateLock <= 0) return;  // an unpaired EndUpdate changes nothing
  if (--FUpdateLock > 0) return;
  const int from = FPendingReflowFrom;
  FPendingReflowFrom = INT_MAX;
  if (from != INT_MAX) ReflowFrom(from);
  if (FChangePending) Changed(FPendingChangeText);
}

void TPrintPreview::ResetModified() {
  FChangeCount = 0;
  FSavedAtCount = 0;
  FPrintedAtCount = 0;
}

// --- Iteration -----------------------------------------------------------------------

template <class List>
void TPrintPreview::IterateList(const List& L, int IType, const QVariant& Param1, const QVariant& Param2,
                                const QVariant& Param3, QObject* ExceptControl, const TIterateCallback& Callback) {
  if (IType < 0 || IType > 2) throw Exception(QStringLiteral("Unknown IType in 'tPrintPreview.Iterate'."));
  for (int i = L.Count() - 1; i >= 0; --i) {
    if (i >= L.Count()) continue;  // the callback freed more than its own element
    QObject* element = L[i];
    bool selected;
    if (auto* page = dynamic_cast<TPagePreview*>(element))
      selected = page->Selected();
    else if (auto* item = dynamic_cast<TPreviewItem*>(element))
      selected = item->Selected();
    else
      throw Exception(QStringLiteral("Unknown List object in 'tPrintPreview.Iterate'."));
    if (IType == 0 || (IType == 1 && selected) || (IType == 2 && !selected))
      Callback(element, ExceptControl, Param1, Param2, Param3);
  }
}

void TPrintPreview::Iterate(const TPages& List, int IType, const QVariant& Param1, const QVariant& Param2,
                            const QVariant& Param3, QObject* ExceptControl, const TIterateCallback& Callback) {
  IterateList(List, IType, Param1, Param2, Param3, ExceptControl, Callback);
}

void TPrintPreview::Iterate(const TPreviewItems& List, int IType, const QVariant& Param1, const QVariant& Param2,
                            const QVariant& Param3, QObject* ExceptControl, const TIterateCallback& Callback) {
  IterateList(List, IType, Param1, Param2, Param3, ExceptControl, Callback);
}

// --- Orientation, display and selection ----------------------------------------------

void TPrintPreview::SetPaperOrientation(TPrinterOrientation Value) {
  if (FStreamState == ssLoading) {
    // Read from a document: the pages bring their own orientation.
    FPaperOrientation = Value;
    return;
  }
  if (Value != FPaperOrientation) {
    FPaperOrientation = Value;
    if (OnChangeLayout) OnChangeLayout(this);
  }
  Iterate(FPages, 1, QVariant(), QVariant(), QVariant(), nullptr,
          [this](QObject* control, QObject*, const QVariant&, const QVariant&, const QVariant&) {
            static_cast<TPagePreview*>(control)->SetPaperOrientation(FPaperOrientation);
          });
  Changed(QStringLiteral("Paper orientation"));
}

void TPrintPreview::ArrangePages() {
  EnsureDisplayPages();
  const int shown = FDisplayPagesHorizontal * FDisplayPagesVertical;
  if (PageCount() - FDisplayPageStart < shown) FDisplayPageStart = std::max(PageCount() - shown, 0);
  PositionPages();
}

void TPrintPreview::PositionPages() {
  const int across = FDisplayPagesHorizontal, down = FDisplayPagesVertical;
  if (across <= 0 || down <= 0) return;
  const int cellWidth = width() / across, cellHeight = height() / down;
  for (int i = 0; i < FPages.Count(); ++i) {
    TPagePreview* page = FPages[i];
    const int column = (i - FDisplayPageStart) % across;
    const int row = (i - FDisplayPageStart) / across;
    const QRect bounds(cellWidth * column, cellHeight * row, cellWidth, cellHeight);
    if (page->geometry() != bounds) {
      page->setGeometry(bounds);
      page->CalcDisplay();  // a hidden control gets no resize event
    }
    const bool visible = FDisplayPageStart <= i && i < FDisplayPageStart + across * down;
    page->setVisible(visible);
    for (int k = 0; k < page->Items().Count(); ++k) {
      if (auto* item = qobject_cast<QWidget*>(page->Items()[k])) item->setVisible(visible);
      // A caption goes with its item, listed on the page or not.
      if (TPreviewItem* item = page->Items().Item(k); item && item->AttachedPreviewItem())
        item->AttachedPreviewItem()->setVisible(visible);
    }
  }
  update();
}

void TPrintPreview::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  PositionPages();
}

void TPrintPreview::SetDisplayPagesHorizontal(int Value) {
  if (Value <= 0) throw Exception(QStringLiteral("DisplayPages value must be greater than 0"));
  if (Value == FDisplayPagesHorizontal) return;
  FDisplayPagesHorizontal = Value;
  if (FStreamState == ssLoading) {
    // From a file: no view beyond what a screen could show.
    if (Value > kMaxDisplayPages) throw Exception(QStringLiteral("DisplayPages value is too large"));
    return;  // the load arranges the pages once at its end
  }
  ArrangePages();
  PagesChanged();
}

void TPrintPreview::SetDisplayPagesVertical(int Value) {
  if (Value <= 0) throw Exception(QStringLiteral("DisplayPages value must be greater than 0"));
  if (Value == FDisplayPagesVertical) return;
  FDisplayPagesVertical = Value;
  if (FStreamState == ssLoading) {
    // From a file: no view beyond what a screen could show.
    if (Value > kMaxDisplayPages) throw Exception(QStringLiteral("DisplayPages value is too large"));
    return;  // the load arranges the pages once at its end
  }
  ArrangePages();
  PagesChanged();
}

void TPrintPreview::SetDisplayPageStart(int Value) {
  if (FStreamState == ssLoading) {
    FDisplayPageStart = std::max(Value, 0);
    return;
  }
  if (Value != FDisplayPageStart) SetDisplayPageStartEx(Value, true);
}

void TPrintPreview::SetDisplayPageStartEx(int Value, bool Notify) {
  FDisplayPageStart = std::max(Value, 0);
  ArrangePages();
  if (Notify) PagesChanged();
}

void TPrintPreview::ScrollToPage(TPagePreview* Page) {
  const int i = FPages.IndexOf(Page);
  if (i < 0) return;
  const int across = FDisplayPagesHorizontal, shown = across * FDisplayPagesVertical;
  if (i < FDisplayPageStart || FDisplayPageStart < i - shown + 1) SetDisplayPageStart((i / across) * across);
}

void TPrintPreview::NextPages() {
  const int across = FDisplayPagesHorizontal;
  const int v = across * (FDisplayPageStart / across + 1);
  if (PageCount() - 1 >= v) SetDisplayPageStart(v);
}

void TPrintPreview::PriorPages() {
  const int across = FDisplayPagesHorizontal;
  SetDisplayPageStart(std::max((FDisplayPageStart / across - 1) * across, 0));
}

void TPrintPreview::LastPages() {
  const int across = FDisplayPagesHorizontal;
  SetDisplayPageStart(((PageCount() - 1) / across) * across);
}

void TPrintPreview::FreeHiddenCaches(bool All) {
  for (int i = 0; i < FPages.Count(); ++i)
    if (i < FDisplayPageStart || i > DisplayPageEnd()) FPages[i]->FreeItemCaches(All);
}

void TPrintPreview::SetSelectedPage(TPagePreview* Value) {
  FSelectedPage = Value;
  if (Value) Value->SetSelected(true);
  PageSelectionChanged(Value);
}

void TPrintPreview::SetSelectedItem(QObject* Value) {
  BeginSelectionUpdate();
  FSelectedItem = Value;
  if (auto* item = dynamic_cast<TPreviewItem*>(Value)) item->SetSelected(true);
  ItemSelectionChanged(Value);
  EndSelectionUpdate();
}

void TPrintPreview::SelectPage(TPagePreview* Page, bool Exclusive) {
  if (Page) Page->SetSelected(true);
  if (Exclusive)
    for (TPagePreview* other : FPages)
      if (other != Page) other->SetSelected(false);
  FSelectedPage = Page;
  PageSelectionChanged(Page);
}

void TPrintPreview::SelectItem(QObject* Item, bool Exclusive) {
  BeginSelectionUpdate();
  if (Exclusive) SelectOnly(Item);
  SetSelectedItem(Item);
  ItemSelectionChanged(Item);
  if (auto* item = dynamic_cast<TPreviewItem*>(Item))
    if (item->PagePreview()) SelectPage(item->PagePreview(), Exclusive);
  EndSelectionUpdate();
}

void TPrintPreview::SelectOnly(QObject* Control) {
  Iterate(FItems, 1, QVariant(), QVariant(), QVariant(), Control,
          [](QObject* element, QObject* except, const QVariant&, const QVariant&, const QVariant&) {
            if (element != except) static_cast<TPreviewItem*>(element)->SetSelected(false);
          });
  if (auto* page = dynamic_cast<TPagePreview*>(Control))
    PageSelectionChanged(page);
  else
    ItemSelectionChanged(Control);
}

void TPrintPreview::PageSelectionChanged(QObject* Control) {
  if (Control == FLastPageNotified) return;
  FLastPageNotified = Control;
  if (OnPageSelectionChange) OnPageSelectionChange(Control);
}

void TPrintPreview::ItemSelectionChanged(QObject* Control) {
  if (FSelectionLock > 0) {
    FSelectionPending = true;
    return;
  }
  FLastItemNotified = Control;
  if (OnItemSelectionChange) OnItemSelectionChange(Control);
  FSelectionPending = false;
}

void TPrintPreview::EndSelectionUpdate() {
  if (FSelectionLock > 0) --FSelectionLock;
  if (FSelectionLock == 0 && FSelectionPending) ItemSelectionChanged(FSelectedItem);
}

void TPrintPreview::SelectItems(int Mode) {
  BeginSelectionUpdate();
  for (int i = 0; i < FItems.Count(); ++i) {
    TPreviewItem* item = FItems.Item(i);
    if (!item) continue;
    switch (Mode) {
      case 0: item->SetSelected(false); break;
      case 1: item->SetSelected(true); break;
      case 2: {
        const int page = item->PageIndex();
        if (page >= FDisplayPageStart && page <= DisplayPageEnd()) item->SetSelected(true);
        break;
      }
      case 3: item->SetSelected(!item->Selected()); break;
      default: break;
    }
  }
  if (Mode == 0) {
    SetSelectedItem(nullptr);
  } else if (Mode == 3 || !FSelectedItem) {
    TPreviewItem* first = FirstSelectedItem();
    if (Mode == 3 || first) SetSelectedItem(first);
  }
  EndSelectionUpdate();
  Changed(QStringLiteral("Selected item(s)"));
}

void TPrintPreview::SelectPages(int Mode) {
  for (int i = 0; i < FPages.Count(); ++i) {
    TPagePreview* page = FPages[i];
    switch (Mode) {
      case 0: page->SetSelected(false); break;
      case 1: page->SetSelected(true); break;
      case 2:
        if (i >= FDisplayPageStart && i <= DisplayPageEnd()) page->SetSelected(true);
        break;
      case 3: page->SetSelected(!page->Selected()); break;
      default: break;
    }
  }
  if (Mode == 0) {
    SetSelectedPage(nullptr);
  } else if (Mode == 3 || !FSelectedPage) {
    TPagePreview* first = FirstSelectedPage();
    if (Mode == 3 || first) SetSelectedPage(first);
  }
  Changed(QStringLiteral("Select page(s)"));
}

TPreviewItem* TPrintPreview::FirstSelectedItem() const {
  for (int i = 0; i < FItems.Count(); ++i)
    if (TPreviewItem* item = FItems.Item(i); item && item->Selected()) return item;
  return nullptr;
}

TPagePreview* TPrintPreview::FirstSelectedPage() const {
  for (TPagePreview* page : FPages)
    if (page->Selected()) return page;
  return nullptr;
}

int TPrintPreview::SelectedCount() const {
  int n = 0;
  for (int i = 0; i < FItems.Count(); ++i)
    if (TPreviewItem* item = FItems.Item(i); item && item->Selected()) ++n;
  return n;
}

TLayoutType TPrintPreview::CurrentLayoutType() const {
  return FSelectedPage ? FSelectedPage->LayoutType() : FDefaultLayoutType;
}

// --- Host hooks and properties -----------------------------------------------------------

void TPrintPreview::Loaded() {
  if (FStreamState == ssLoading) return;
  if (OnLoadDefaults) OnLoadDefaults(this);
  FillPrinterSettings(PrinterSettings, FMarginLeft, FMarginTop, FMarginRight, FMarginBottom, FCentreOnPage);
  for (TPagePreview* page : FPages) AttachPage(page);
  ArrangePages();
  Changed(QStringLiteral("Initial"));
  ResetModified();
}

void TPrintPreview::SaveDefaults() {
  if (OnSaveDefaults) OnSaveDefaults(this);
}

void TPrintPreview::SetDefaultImageWidth(int Value) {
  if (Value == FDefaultImageWidth) return;
  if (Value <= 0) throw Exception(QStringLiteral("FDefaultImageWidth must be greater than 0"));
  FDefaultImageWidth = Value;
}

void TPrintPreview::SetDefaultImageHeight(int Value) {
  if (Value == FDefaultImageHeight) return;
  if (Value <= 0) throw Exception(QStringLiteral("FDefaultImageHeight must be greater than 0"));
  FDefaultImageHeight = Value;
}

void TPrintPreview::SetDefaultThumbsAcross(int Value) {
  if (Value == FDefaultThumbsAcross) return;
  if (Value <= 0) throw Exception(QStringLiteral("Thumbs Across must be greater than 0"));
  FDefaultThumbsAcross = Value;
}

void TPrintPreview::SetDefaultThumbsDown(int Value) {
  if (Value == FDefaultThumbsDown) return;
  if (Value <= 0) throw Exception(QStringLiteral("Thumbs Down must be greater than 0"));
  FDefaultThumbsDown = Value;
}

void TPrintPreview::SetDefaultTextWidth(int Value) {
  if (Value > 0) FDefaultTextWidth = Value;
}

void TPrintPreview::SetDefaultTextHeight(int Value) {
  if (Value > 0) FDefaultTextHeight = Value;
}

void TPrintPreview::SetMarginLeft(int Value) {
  if (Value > 0) FMarginLeft = Value;
}

void TPrintPreview::SetMarginRight(int Value) {
  if (Value > 0) FMarginRight = Value;
}

void TPrintPreview::SetMarginTop(int Value) {
  if (Value > 0) FMarginTop = Value;
}

void TPrintPreview::SetMarginBottom(int Value) {
  if (Value > 0) FMarginBottom = Value;
}

void TPrintPreview::SetUserOptions(TUserOptions Value) {
  if (Value == FUserOptions) return;
  FUserOptions = Value;
  update();
}

void TPrintPreview::SetShowLayout(bool Value) {
  FUserOptions.setFlag(uoShowLayout, Value);
  update();
  for (TPagePreview* page : FPages) page->update();
}

void TPrintPreview::SetDefaultLayoutType(TLayoutType Value) {
  CheckLayoutType(Value);
  if (Value == FDefaultLayoutType) return;
  FDefaultLayoutType = Value;
  // A document read from a stream keeps the default layout it names.
  if (Value < ltAutoByLayout && FStreamState != ssLoading) FDefaultPageLayout.clear();
}
