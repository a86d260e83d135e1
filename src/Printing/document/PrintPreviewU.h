#pragma once

// The print document: the control that holds the pages and items of a print
// job and shows them. Every command that changes the job ends in an
// operation of TPrintPreview.
//
// Geometry is in tenths of a millimetre on the physical paper along the
// printer's axes, (0, 0) at the paper's top left corner.

#include "Printing/layout/LayoutU.h"
#include "Printing/printing/PrinterSettingsU.h"
#include "components/krStreaming.h"
#include "platform/Component.h"

#include <QBrush>
#include <QColor>
#include <QFont>
#include <QFlags>
#include <QImage>
#include <QList>
#include <QPen>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <climits>
#include <functional>

class QIODevice;
class QPainter;
class TPagePreview;
class TPrintPreview;
class TPreviewItem;

namespace PrintPreviewTypes {
Q_NAMESPACE

// How a page places its items.
enum TLayoutType { ltManual, ltAutoBySize, ltAutoByLayout, ltThumb };
Q_ENUM_NS(TLayoutType)

// How pictures keep their full bitmaps.
enum TBitmapCache { bcNone, bcCompressed, bcUncompressed };
Q_ENUM_NS(TBitmapCache)

enum TUserOption {
  uoCanRotate = 0x01,                   // new pictures may be turned for a better fit
  uoCanResize = 0x02,                   // new items get poCanAutoSize
  uoDebug = 0x04,                       // layout rectangles drawn green
  uoApplyPageChangesToSelected = 0x08,  // layout changes go to the selected pages only
  uoShowLayout = 0x10,                  // free layout rectangles drawn on the pages
  uoTrace = 0x20,
  uoPrintSeparatePages = 0x40,  // every page is its own print job
};
Q_DECLARE_FLAGS(TUserOptions, TUserOption)
Q_FLAG_NS(TUserOptions)

enum TPreviewableOption {
  poCanAutoRotate = 0x01,
  poCanAutoSize = 0x02,
  poNoLayout = 0x04,
  poAttached = 0x08,
  poNeverBeenOnPage = 0x10,
};
Q_DECLARE_FLAGS(TPreviewableOptions, TPreviewableOption)
Q_FLAG_NS(TPreviewableOptions)

// Where a caption sits next to its item.
enum TAttachPosition { apAbove, apRight, apBelow, apLeft };
Q_ENUM_NS(TAttachPosition)

// The streamed forms of a fill, an outline and a font.
enum TBrushStyle { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
Q_ENUM_NS(TBrushStyle)
enum TPenMode {
  pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
  pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
Q_ENUM_NS(TPenMode)
enum TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
Q_ENUM_NS(TPenStyle)
enum TFontPitch { fpDefault, fpVariable, fpFixed };
Q_ENUM_NS(TFontPitch)
enum TFontStyle { fsBold = 0x01, fsItalic = 0x02, fsUnderline = 0x04, fsStrikeOut = 0x08 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_FLAG_NS(TFontStyles)
}  // namespace PrintPreviewTypes

Q_DECLARE_OPERATORS_FOR_FLAGS(PrintPreviewTypes::TUserOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(PrintPreviewTypes::TPreviewableOptions)
Q_DECLARE_OPERATORS_FOR_FLAGS(PrintPreviewTypes::TFontStyles)

using PrintPreviewTypes::TAttachPosition;
using PrintPreviewTypes::TBitmapCache;
using PrintPreviewTypes::TLayoutType;
using PrintPreviewTypes::TPreviewableOption;
using PrintPreviewTypes::TPreviewableOptions;
using PrintPreviewTypes::TUserOption;
using PrintPreviewTypes::TUserOptions;
using namespace PrintPreviewTypes;  // the enumeration values (ltManual, bcCompressed, ...)

// Flags of the adding operations.
enum TAddFlag : unsigned {
  afAttachText = 1,     // attach a caption showing the item's description
  afNoAutoRotate = 2,   // keep the layout from turning the picture
  afKeepSelection = 4,  // add the new item to the selection
};

// Quarter turns clockwise, 0 to 3.
using TRotation = int;
// Resampling options of the resample handler (passed empty).
using TResampleOptions = unsigned;

// --- Event types -------------------------------------------------------------

using TNotifyEvent = std::function<void(QObject* Sender)>;
using TContextPopupEvent = std::function<void(QObject* Sender, QPoint MousePos, bool& Handled)>;
using TOnLoadingBitmap =
    std::function<void(bool& AHandled, QImage& ABitmap, const QString& AFileName, QIODevice* AStream, int MaxSize)>;
using TOnSaveBitmap =
    std::function<void(bool& AHandled, QString& AFileName, bool SaveToStream, const QImage& ABitmap, QIODevice* AStream)>;
using TOnResampleBitmap =
    std::function<void(bool& AHandled, QImage& ABitmap, int NewWidth, int NewHeight, TResampleOptions Options)>;
using TOnRotateBitmap = std::function<void(bool& AHandled, QImage& ABitmap, TRotation ARotation)>;
using TOnPrintImage = std::function<void(bool& AHandled, const QImage& ABitmap, QPainter* PrtCanvas,
                                         const TPrinterSettings& APrinterSettings, int x, int y, int Width, int Height)>;
using TOnNewPage = std::function<void(TPagePreview* NewPage)>;
using TPagesChange =
    std::function<void(int CurrentPage, int MaxPage, int DisplayPagesHorizontal, int DisplayPagesVertical)>;
using TOnProgress = std::function<void(QObject* Sender, const QString& AMessage, float AProgress)>;
using TOnTranslateFileName = std::function<void(QObject* Sender, QString& AFilename)>;
using TOnFileLoaded = std::function<void(QObject* sender, const QString& AFilename)>;
using TOnChanged = std::function<void(QObject* sender, const QString& ADescription)>;

// The callback of Iterate: the element, the control to leave alone, and the
// command's three arguments.
using TIterateCallback = std::function<void(QObject* AControl, QObject* AExceptControl, const QVariant& Param1,
                                            const QVariant& Param2, const QVariant& Param3)>;

// --- IPreviewable ------------------------------------------------------------

// How pages, the document and the editor frame use items. Items are owned by
// their form; the interface does not keep them alive.
class IPreviewable {
public:
  virtual ~IPreviewable() = default;

  virtual void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) = 0;
  virtual void SetScale(float Value) = 0;
  virtual float GetScale() const = 0;
  virtual float AspectRatio() = 0;
  virtual int GetPrintLeft() const = 0;
  virtual void SetPrintHeight(int Value) = 0;
  virtual void SetPrintLeft(int Value) = 0;
  virtual void SetPrintTop(int Value) = 0;
  virtual void SetPrintWidth(int Value) = 0;
  virtual int GetPrintTop() const = 0;
  virtual int GetPrintHeight() const = 0;
  virtual int GetPrintWidth() const = 0;
  // The item's page, or its attacher's page when it has none.
  virtual TPagePreview* GetPagePreview() const = 0;
  virtual TPreviewableOptions GetOptions() const = 0;
  virtual void SetOptions(TPreviewableOptions Value) = 0;
  virtual int GetActualHeight() const = 0;
  virtual int GetActualWidth() const = 0;
  virtual void Rotate(int QuarterTurns) = 0;
  virtual void RotateQuarter() = 0;
  virtual void SetPagePreview(TPagePreview* Value) = 0;
  virtual void UpdateScreenBounds(int Which) = 0;
  virtual IPreviewable* GetAttachedItem() const = 0;
  virtual int GetAttachedItemOffset() const = 0;
  virtual TAttachPosition GetAttachPosition() const = 0;
  virtual bool GetKeepAspectRatio() const = 0;
  virtual void SetPrintBounds(int ALeft, int ATop, int AWidth, int AHeight) = 0;
  virtual bool PrintTo(QPainter* Canvas, int OffsetX, int OffsetY) = 0;
  virtual void SetPrintDimensions(int AWidth, int AHeight, unsigned Flags) = 0;
  virtual void SetDescription(const QString& Value) = 0;
  virtual QString GetDescription() const = 0;
  virtual void RepositionAttached(int CaptionWidth = 0, int CaptionHeight = 0) = 0;
  virtual void FitToLayoutPosition(int CaptionWidth, int CaptionHeight) = 0;
  virtual TLayoutPosition GetLayoutPosition() const = 0;
  virtual void SetLayoutPosition(const TLayoutPosition& Value) = 0;
  virtual bool HasLayoutPosition() const = 0;
  virtual void ClearLayoutPosition() = 0;
  virtual bool IsCellLayout() = 0;
  virtual void SetLayoutType(TLayoutType Value) = 0;
  virtual TLayoutType GetLayoutType() const = 0;
  // The object itself.
  virtual QObject* GetItem() = 0;
};

// --- Lists -------------------------------------------------------------------

// A plain list of pointers that owns nothing.
template <class T>
class TPointerList {
public:
  int Count() const { return static_cast<int>(FItems.size()); }
  T* operator[](int Index) const { return FItems.at(Index); }
  T* Get(int Index) const { return FItems.at(Index); }
  int IndexOf(const T* Item) const { return static_cast<int>(FItems.indexOf(const_cast<T*>(Item))); }
  bool Contains(const T* Item) const { return IndexOf(Item) >= 0; }
  int Add(T* Item) {
    FItems.append(Item);
    return Count() - 1;
  }
  void Insert(int Index, T* Item) { FItems.insert(Index, Item); }
  void Remove(const T* Item) { FItems.removeAll(const_cast<T*>(Item)); }
  void Delete(int Index) { FItems.removeAt(Index); }
  void Move(int CurIndex, int NewIndex) { FItems.move(CurIndex, NewIndex); }
  void Clear() { FItems.clear(); }
  T* Last() const { return FItems.last(); }
  template <class Less>
  void Sort(Less less) {
    std::stable_sort(FItems.begin(), FItems.end(), less);
  }
  const QList<T*>& List() const { return FItems; }
  auto begin() const { return FItems.begin(); }
  auto end() const { return FItems.end(); }

protected:
  QList<T*> FItems;
};

class TPages : public TPointerList<TPagePreview> {};

// The items of a document or a page. Only objects that implement
// IPreviewable get in.
class TPreviewItems : public TPointerList<QObject> {
public:
  // Fails with "Error adding PreviewItem.  Items must be IPreviewable".
  int Add(QObject* Item);
  IPreviewable* Previewable(int Index) const;
  TPreviewItem* Item(int Index) const;
};

// --- Streamed fill, outline and font ---------------------------------------------

// The fill of a page as its record holds it ("Brush.Color", "Brush.Style"):
// a view of a QBrush kept by its owner.
class TBrushProperties : public QObject {
  Q_OBJECT
  Q_CLASSINFO("default:Color", "clWhite")
  Q_CLASSINFO("default:Style", "bsSolid")
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)
  Q_PROPERTY(PrintPreviewTypes::TBrushStyle Style READ Style WRITE SetStyle)

public:
  TBrushProperties(QBrush* ATarget, QObject* AParent) : QObject(AParent), FTarget(ATarget) {}
  QColor Color() const { return FTarget->color(); }
  void SetColor(const QColor& Value);
  TBrushStyle Style() const;
  void SetStyle(TBrushStyle Value);

private:
  QBrush* FTarget;
};

// The outline of a page ("Pen.Color", "Pen.Mode", "Pen.Style", "Pen.Width").
class TPenProperties : public QObject {
  Q_OBJECT
  Q_CLASSINFO("default:Color", "clBlack")
  Q_CLASSINFO("default:Mode", "pmCopy")
  Q_CLASSINFO("default:Style", "psSolid")
  Q_CLASSINFO("default:Width", "1")
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)
  Q_PROPERTY(PrintPreviewTypes::TPenMode Mode READ Mode WRITE SetMode)
  Q_PROPERTY(PrintPreviewTypes::TPenStyle Style READ Style WRITE SetStyle)
  Q_PROPERTY(int Width READ Width WRITE SetWidth)

public:
  TPenProperties(QPen* ATarget, QObject* AParent) : QObject(AParent), FTarget(ATarget) {}
  QColor Color() const { return FTarget->color(); }
  void SetColor(const QColor& Value);
  TPenMode Mode() const { return FMode; }
  void SetMode(TPenMode Value) { FMode = Value; }
  TPenStyle Style() const;
  void SetStyle(TPenStyle Value);
  int Width() const { return FTarget->width(); }
  // Widths beyond 1000 pixels are cut down to it.
  void SetWidth(int Value);

private:
  QPen* FTarget;
  TPenMode FMode = pmCopy;
};

// A font as records hold it ("Font.Name", "Font.Height", ...): a view of a
// QFont kept by its owner, who hears of every change through OnChange.
// Height is the negative character height in pixels at 96 pixels per inch.
class TFontProperties : public QObject {
  Q_OBJECT
  Q_CLASSINFO("default:Charset", "1")
  Q_CLASSINFO("default:Pitch", "fpDefault")
  Q_CLASSINFO("default:Style", "")
  Q_PROPERTY(int Charset READ Charset WRITE SetCharset)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)
  Q_PROPERTY(int Height READ Height WRITE SetHeight)
  Q_PROPERTY(QString Name READ Name WRITE SetName)
  Q_PROPERTY(PrintPreviewTypes::TFontPitch Pitch READ Pitch WRITE SetPitch)
  Q_PROPERTY(PrintPreviewTypes::TFontStyles Style READ Style WRITE SetStyle)

public:
  TFontProperties(QFont* ATarget, QObject* AParent) : QObject(AParent), FTarget(ATarget) {}
  int Charset() const { return FCharset; }
  void SetCharset(int Value);
  QColor Color() const { return FColor; }
  void SetColor(const QColor& Value);
  int Height() const;
  // Heights are kept between 1 and 2000 pixels.
  void SetHeight(int Value);
  QString Name() const { return FTarget->family(); }
  void SetName(const QString& Value);
  TFontPitch Pitch() const { return FPitch; }
  void SetPitch(TFontPitch Value);
  TFontStyles Style() const;
  void SetStyle(TFontStyles Value);

  std::function<void()> OnChange;

private:
  void Change();
  QFont* FTarget;
  int FCharset = 1;
  QColor FColor = Qt::black;
  TFontPitch FPitch = fpDefault;
};

// --- TPagePreview --------------------------------------------------------------

// One page of the document: one printed sheet, or a group of sheets for a
// poster. Drawn on the document control; owned by the document's owner.
class TPagePreview : public QWidget, public TComponent, public IStreamableComponent {
  Q_OBJECT
  Q_INTERFACES(IStreamableComponent)
  Q_CLASSINFO("stored:CurLayout", "IsSaving")
  Q_CLASSINFO("stored:PrintPreview", "IsSaving")
  Q_CLASSINFO("stored:Font", "IsFontStored")
  Q_CLASSINFO("default:ParentFont", "true")
  Q_PROPERTY(QString PageLayout READ PageLayout WRITE SetPageLayout)
  Q_PROPERTY(TBrushProperties* Brush READ BrushProperties)
  Q_PROPERTY(TPenProperties* Pen READ PenProperties)
  Q_PROPERTY(int ParentMargin READ ParentMargin WRITE SetParentMargin)
  Q_PROPERTY(bool Selected READ Selected WRITE SetSelected)
  Q_PROPERTY(int PageIndex READ PageIndex WRITE SetPageIndex STORED false)
  Q_PROPERTY(PrintPreviewTypes::TLayoutType LayoutType READ LayoutType WRITE SetLayoutType)
  Q_PROPERTY(TavoraPrinterTypes::TPrinterOrientation PaperOrientation READ PaperOrientation WRITE SetPaperOrientation)
  Q_PROPERTY(int SheetsHorizontal READ SheetsHorizontal WRITE SetSheetsHorizontal)
  Q_PROPERTY(int SheetsVertical READ SheetsVertical WRITE SetSheetsVertical)
  Q_PROPERTY(QString CurLayout READ CurLayout WRITE SetCurLayout)
  Q_PROPERTY(TPrintPreview* PrintPreview READ PrintPreviewOrNull WRITE SetPrintPreview)
  Q_PROPERTY(TFontProperties* Font READ FontProperties)
  Q_PROPERTY(bool ParentFont READ ParentFont WRITE SetParentFont)

public:
  // A page owned by AOwner, belonging to ADocument (which may be nullptr).
  TPagePreview(QObject* AOwner, TPrintPreview* ADocument);
  ~TPagePreview() override;

  // The owning document; "FPrintPreview not assigned in GetPrintPreview"
  // when there is none.
  TPrintPreview* PrintPreview() const;
  TPrintPreview* PrintPreviewOrNull() const { return FPrintPreview; }
  void SetPrintPreview(TPrintPreview* Value);

  TPreviewItems& Items() { return FItems; }
  const TPreviewItems& Items() const { return FItems; }
  TLayout& Layout() { return FLayout; }
  const TLayout& Layout() const { return FLayout; }
  TPrinterSettings PrinterSettings;

  // Paper geometry (printer axes).
  int PaperWidth() const;
  int PaperLength() const;
  int PrintableWidth() const { return PrinterSettings.UsableWidth * FSheetsX; }
  int PrintableHeight() const { return PrinterSettings.UsableHeight * FSheetsY; }
  int Rotation() const { return FRotation; }
  bool LyingOnSide() const { return FRotation == 1 || FRotation == 3; }
  bool UseLayout() const { return FLayoutType != ltManual && FLayout.HasLayout(); }
  // The page lays its items out automatically.
  bool IsAutomatic() const { return FLayoutType != ltManual; }

  // Screen geometry (Right and Bottom of the page control).
  int Right() const { return x() + width(); }
  int Bottom() const { return y() + height(); }
  float Scale() const { return FScale; }
  void SetScale(float Value);
  int Displayleft() const { return FDisplayleft; }
  int DisplayTop() const { return FDisplayTop; }
  int DisplayWidth() const { return FDisplayWidth; }
  int DisplayHeight() const { return FDisplayHeight; }
  QBrush Brush{Qt::white};
  QPen Pen{Qt::black};
  TBrushProperties* BrushProperties() const { return FBrushProperties; }
  TPenProperties* PenProperties() const { return FPenProperties; }
  // The page's own font, used once ParentFont is false.
  QFont PageFont;
  TFontProperties* FontProperties() const { return FFontProperties; }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool Value) { FParentFont = Value; }
  Q_INVOKABLE bool IsFontStored() const { return !FParentFont; }
  // The free rectangles of the layout as text. A page with none left says so with an empty
  // cell: an empty text would not be written, and the page would be read
  // back with all its space free.
  QString CurLayout() const {
    const QString text = FLayout.FreeRectsText();
    return text.isEmpty() ? QStringLiteral("0.00,0.00,0.00,0.00;") : text;
  }
  void SetCurLayout(const QString& Value) { FLayout.SetFreeRectsText(Value); }

  QString PageLayout() const { return FLayout.LayoutText(); }
  void SetPageLayout(const QString& Value);
  int ParentMargin() const { return FParentMargin; }
  void SetParentMargin(int Value);
  bool Selected() const { return FSelected; }
  void SetSelected(bool Value);
  // Position in the document's Pages; setting it moves the page.
  int PageIndex() const;
  void SetPageIndex(int Value);
  TLayoutType LayoutType() const { return FLayoutType; }
  void SetLayoutType(TLayoutType Value);
  TPrinterOrientation PaperOrientation() const { return FPaperOrientation; }
  void SetPaperOrientation(TPrinterOrientation Value);
  // Sheets seen in the page's own orientation.
  int SheetsHorizontal() const;
  void SetSheetsHorizontal(int Value);
  int SheetsVertical() const;
  void SetSheetsVertical(int Value);
  // Sheets along the printer's axes.
  int SheetsX() const { return FSheetsX; }
  int SheetsY() const { return FSheetsY; }
  void SetSheets(int ASheetsX, int ASheetsY);
  TStreamState StreamState() const { return FStreamState; }
  Q_INVOKABLE bool IsSaving() const { return FStreamState == ssSaving; }

  // IStreamableComponent: the page's own record, no extra data.
  TStreamState GetStreamState() const override { return FStreamState; }
  void SetStreamState(TStreamState Value) override { FStreamState = Value; }
  void SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void ReadAdditionalData(QIODevice& AStream, const QString& ALine) override;

  TOnProgress OnProgress;
  TNotifyEvent OnClick;
  TNotifyEvent OnMouseDown;

  // Items.
  void AddPreviewItem(QObject* Item, bool Place);
  void PlaceItem(IPreviewable* Item);
  void RemoveFromLayout(QObject* Item);
  void ClearItems();
  int NextFreeTop() const;
  bool CanAccept(int AWidth, int AHeight, IPreviewable* Item);
  QString ItemsLayoutText() const;

  void ResetLayout();
  void UpdatePrinterSettings();
  void Relayout(bool Sort);
  void FreeItemCaches(bool All);

  // Display.
  void CalcDisplay();
  void UpdateItemsDisplay();

  // Prints the page's items on its sheets; true when something was drawn
  // on the last sheet.
  bool PrintPage();

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void paintEvent(QPaintEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  bool AllowRotateFor(IPreviewable* Item) const;

  TPrintPreview* FPrintPreview = nullptr;
  TPreviewItems FItems;
  TLayout FLayout;
  float FScale = 0;
  int FDisplayleft = 0, FDisplayTop = 0, FDisplayWidth = 0, FDisplayHeight = 0;
  int FParentMargin = 4;
  bool FSelected = false;
  TLayoutType FLayoutType = ltAutoBySize;
  TPrinterOrientation FPaperOrientation = poPortrait;
  int FRotation = 0;
  int FSheetsX = 1, FSheetsY = 1;
  TStreamState FStreamState = ssIdle;
  TBrushProperties* FBrushProperties;
  TPenProperties* FPenProperties;
  TFontProperties* FFontProperties;
  bool FParentFont = true;
};

// --- TPrintPreview -------------------------------------------------------------

class TPrintPreview : public QWidget, public TComponent, public IStreamableComponent {
  Q_OBJECT
  Q_INTERFACES(IStreamableComponent)
  Q_CLASSINFO("stored:DisplayPagesVertical", "IsSaving")
  Q_CLASSINFO("stored:DisplayPagesHorizontal", "IsSaving")
  Q_CLASSINFO("stored:DisplayPageStart", "IsSaving")
  Q_CLASSINFO("stored:SelectedPage", "IsSaving")
  Q_CLASSINFO("stored:SelectedItem", "IsSaving")
  Q_CLASSINFO("stored:PrinterTitle", "IsNotSaving")
  Q_CLASSINFO("stored:CachedBitmapSize", "IsNotSaving")
  Q_CLASSINFO("stored:KeepBitmapsInMemory", "IsNotSaving")
  Q_PROPERTY(int ParentMargin READ ParentMargin WRITE SetParentMargin)
  Q_PROPERTY(TavoraPrinterTypes::TPrinterOrientation PaperOrientation READ PaperOrientation WRITE SetPaperOrientation)
  Q_PROPERTY(int DisplayPagesVertical READ DisplayPagesVertical WRITE SetDisplayPagesVertical)
  Q_PROPERTY(int DisplayPagesHorizontal READ DisplayPagesHorizontal WRITE SetDisplayPagesHorizontal)
  Q_PROPERTY(int DisplayPageStart READ DisplayPageStart WRITE SetDisplayPageStart)
  Q_PROPERTY(int DefaultImageWidth READ DefaultImageWidth WRITE SetDefaultImageWidth)
  Q_PROPERTY(int DefaultImageHeight READ DefaultImageHeight WRITE SetDefaultImageHeight)
  Q_PROPERTY(int DefaultTextWidth READ DefaultTextWidth WRITE SetDefaultTextWidth)
  Q_PROPERTY(int DefaultTextHeight READ DefaultTextHeight WRITE SetDefaultTextHeight)
  Q_PROPERTY(int DefaultThumbsAcross READ DefaultThumbsAcross WRITE SetDefaultThumbsAcross)
  Q_PROPERTY(int DefaultThumbsDown READ DefaultThumbsDown WRITE SetDefaultThumbsDown)
  Q_PROPERTY(QString DefaultPageLayout READ DefaultPageLayout WRITE SetDefaultPageLayout)
  Q_PROPERTY(PrintPreviewTypes::TUserOptions UserOptions READ UserOptions WRITE SetUserOptions)
  Q_PROPERTY(PrintPreviewTypes::TLayoutType DefaultLayoutType READ DefaultLayoutType WRITE SetDefaultLayoutType)
  Q_PROPERTY(TPagePreview* SelectedPage READ SelectedPage WRITE SetSelectedPage)
  Q_PROPERTY(QObject* SelectedItem READ SelectedItem WRITE SetSelectedItem)
  Q_PROPERTY(QString PrinterTitle READ PrinterTitle WRITE SetPrinterTitle)
  Q_PROPERTY(int CachedBitmapSize READ CachedBitmapSize WRITE SetCachedBitmapSize)
  Q_PROPERTY(PrintPreviewTypes::TBitmapCache KeepBitmapsInMemory READ KeepBitmapsInMemory WRITE SetKeepBitmapsInMemory)
  Q_PROPERTY(bool ShowLayout READ ShowLayout WRITE SetShowLayout STORED false)
  Q_PROPERTY(int MarginLeft READ MarginLeft WRITE SetMarginLeft)
  Q_PROPERTY(int MarginRight READ MarginRight WRITE SetMarginRight)
  Q_PROPERTY(int MarginTop READ MarginTop WRITE SetMarginTop)
  Q_PROPERTY(int MarginBottom READ MarginBottom WRITE SetMarginBottom)
  Q_PROPERTY(bool CentreOnPage READ CentreOnPage WRITE SetCentreOnPage)

public:
  explicit TPrintPreview(QObject* AOwner, QWidget* AParent = nullptr);
  ~TPrintPreview() override;

  // Runs BeginUpdate now and EndUpdate when it goes out of scope, also when
  // the batch ends with an exception.
  class TUpdateGuard {
  public:
    explicit TUpdateGuard(TPrintPreview& ADocument);
    ~TUpdateGuard() noexcept(false);
    TUpdateGuard(const TUpdateGuard&) = delete;
    TUpdateGuard& operator=(const TUpdateGuard&) = delete;

  private:
    TPrintPreview& FDocument;
    int FExceptions;
  };

  // Pages.
  TPages& Pages() { return FPages; }
  const TPages& Pages() const { return FPages; }
  TPreviewItems& Items() { return FItems; }
  const TPreviewItems& Items() const { return FItems; }
  int PageCount() const { return FPages.Count(); }
  TPagePreview* NewPage();
  TPagePreview* AddPage();
  void EnsureDisplayPages();
  void DeletePage(TPagePreview* Page);
  void DeletePages(int IType);
  TPagePreview* PageAtItem(QObject* Item) const;
  void RefreshPrinterSettings();
  QString UniqueName(const QString& Prefix);
  TPrinterSettings PrinterSettings;

  // Adding items and the commands on the selected items.
  IPreviewable* AddFile(QString FileName, unsigned Flags);
  IPreviewable* AddBitmap(const QString& Description, const QImage& Bitmap, unsigned Flags);
  // Adds every entry of the folder whose extension is in Masks ("*.JPG;*.PNG;"
  // or "*.*"). Fails with "Invalid Directory: %s".
  void AddFromDirectory(const QString& Directory, const QString& Masks, unsigned Flags);
  IPreviewable* AddImageItem(TPreviewItem* Image, unsigned Flags);
  void DeleteSelected();
  void RotateSelected(int QuarterTurns);
  void ResizeSelected(int AWidth, int AHeight, unsigned Flags);
  void FitItems(int IType, bool FitWidth, bool FitHeight);
  // A new text box with the markup text (empty for a blank one).
  IPreviewable* AddText(const QString& Text);
  void AttachTextToSelected();
  // Gives every item of the filter a caption (Add) or takes them away.
  void AddRemoveText(int IType, bool Add);
  // 1: every selected item has a caption or is no picture (also when nothing
  // is selected); 3: every one is a picture without; 2: both kinds.
  int CaptionState() const;
  // Whether a name matches the masks of AddFromDirectory.
  static bool MatchesMasks(const QString& Name, const QString& Masks);

  // Items and placement.
  void AddItemToPrintQueue(QObject* Item);
  // Makes the item the document's: its handlers, its place in Items, its
  // removal notice and a name of its own when it has none.
  void RegisterItem(TPreviewItem* Item);
  TPagePreview* FindPageFor(int AWidth, int AHeight, IPreviewable* Item);
  TPagePreview* PlaceNewItem(IPreviewable* Item);
  void ReflowFrom(int PageIndex);
  void Relayout(TPagePreview* Page, bool Sort);
  void SetLayout(const QString& LayoutText, TLayoutType LayoutType);
  void ThumbLayout();

  // Printing: pages StartPage to EndPage, numbered from 1 ("Must have
  // StartPage<=endpage"). One print job, or one per page with
  // uoPrintSeparatePages, SeparateJobPause milliseconds apart.
  void Print(int StartPage, int EndPage);
  int SeparateJobPause = 1000;
  // The figures of the statistics dialog.
  struct TStatistics {
    int Images = 0;
    int TextBoxes = 0;
    int Pages = 0;
    qint64 ItemMemory = 0;
  };
  TStatistics Statistics() const;
  void ShowStatistics();

  // Whole document.
  void ClearAll();
  void NewDocument();
  void ClearDocument();

  // Change tracking.
  void BeginUpdate();
  void EndUpdate();
  void Changed(const QString& Description);
  bool IsModifiedSinceSave() const { return FSavedAtCount < FChangeCount; }
  bool IsModifiedSincePrint() const { return FPrintedAtCount < FChangeCount; }
  void MarkSaved() { FSavedAtCount = FChangeCount; }
  void MarkPrinted() { FPrintedAtCount = FChangeCount; }
  void ResetModified();
  int UpdateLock() const { return FUpdateLock; }
  int PendingReflowFrom() const { return FPendingReflowFrom; }
  int ChangeCount() const { return FChangeCount; }

  // Walks Pages or Items from the last element to the first; IType 0 takes
  // every element, 1 the selected, 2 the unselected ones.
  void Iterate(const TPages& List, int IType, const QVariant& Param1, const QVariant& Param2,
               const QVariant& Param3, QObject* ExceptControl, const TIterateCallback& Callback);
  void Iterate(const TPreviewItems& List, int IType, const QVariant& Param1, const QVariant& Param2,
               const QVariant& Param3, QObject* ExceptControl, const TIterateCallback& Callback);

  // Display and selection.
  void ArrangePages();
  void PositionPages();
  int DisplayPageEnd() const { return FDisplayPageStart + FDisplayPagesHorizontal * FDisplayPagesVertical - 1; }
  void SetDisplayPageStartEx(int Value, bool Notify);
  void ScrollToPage(TPagePreview* Page);
  void NextPages();
  void PriorPages();
  void LastPages();
  // Frees the bitmaps of the items on the pages not shown.
  void FreeHiddenCaches(bool All);
  TPagePreview* SelectedPage() const { return FSelectedPage; }
  void SetSelectedPage(TPagePreview* Value);
  QObject* SelectedItem() const { return FSelectedItem; }
  void SetSelectedItem(QObject* Value);
  void SelectPage(TPagePreview* Page, bool Exclusive);
  void SelectItem(QObject* Item, bool Exclusive);
  void SelectOnly(QObject* Control);
  void PageSelectionChanged(QObject* Control);
  void ItemSelectionChanged(QObject* Control);
  void BeginSelectionUpdate() { ++FSelectionLock; }
  void EndSelectionUpdate();
  // Selection modes: 0 none, 1 all, 2 those on the pages shown, 3 invert.
  void SelectItems(int Mode);
  void SelectPages(int Mode);
  TPreviewItem* FirstSelectedItem() const;
  TPagePreview* FirstSelectedPage() const;
  int SelectedCount() const;
  TLayoutType CurrentLayoutType() const;

  // Host hooks.
  void Loaded();
  void SaveDefaults();

  // Properties.
  int ParentMargin() const { return FParentMargin; }
  void SetParentMargin(int Value) { FParentMargin = std::clamp(Value, 0, 10000); }
  TPrinterOrientation PaperOrientation() const { return FPaperOrientation; }
  void SetPaperOrientation(TPrinterOrientation Value);
  int DisplayPagesVertical() const { return FDisplayPagesVertical; }
  void SetDisplayPagesVertical(int Value);
  int DisplayPagesHorizontal() const { return FDisplayPagesHorizontal; }
  void SetDisplayPagesHorizontal(int Value);
  int DisplayPageStart() const { return FDisplayPageStart; }
  void SetDisplayPageStart(int Value);
  int DefaultImageWidth() const { return FDefaultImageWidth; }
  void SetDefaultImageWidth(int Value);
  int DefaultImageHeight() const { return FDefaultImageHeight; }
  void SetDefaultImageHeight(int Value);
  int DefaultTextWidth() const { return FDefaultTextWidth; }
  void SetDefaultTextWidth(int Value);
  int DefaultTextHeight() const { return FDefaultTextHeight; }
  void SetDefaultTextHeight(int Value);
  int DefaultThumbsAcross() const { return FDefaultThumbsAcross; }
  void SetDefaultThumbsAcross(int Value);
  int DefaultThumbsDown() const { return FDefaultThumbsDown; }
  void SetDefaultThumbsDown(int Value);
  QString DefaultPageLayout() const { return FDefaultPageLayout; }
  void SetDefaultPageLayout(const QString& Value) { FDefaultPageLayout = Value; }
  TUserOptions UserOptions() const { return FUserOptions; }
  void SetUserOptions(TUserOptions Value);
  TLayoutType DefaultLayoutType() const { return FDefaultLayoutType; }
  void SetDefaultLayoutType(TLayoutType Value);
  QString PrinterTitle() const { return FPrinterTitle; }
  void SetPrinterTitle(const QString& Value) { FPrinterTitle = Value; }
  int CachedBitmapSize() const { return FCachedBitmapSize; }
  void SetCachedBitmapSize(int Value) { FCachedBitmapSize = Value; }
  TBitmapCache KeepBitmapsInMemory() const { return FKeepBitmapsInMemory; }
  void SetKeepBitmapsInMemory(TBitmapCache Value) { FKeepBitmapsInMemory = Value; }
  bool ShowLayout() const { return FUserOptions.testFlag(uoShowLayout); }
  void SetShowLayout(bool Value);
  int MarginLeft() const { return FMarginLeft; }
  void SetMarginLeft(int Value);
  int MarginRight() const { return FMarginRight; }
  void SetMarginRight(int Value);
  int MarginTop() const { return FMarginTop; }
  void SetMarginTop(int Value);
  int MarginBottom() const { return FMarginBottom; }
  void SetMarginBottom(int Value);
  bool CentreOnPage() const { return FCentreOnPage; }
  void SetCentreOnPage(bool Value) { FCentreOnPage = Value; }
  TStreamState StreamState() const { return FStreamState; }
  Q_INVOKABLE bool IsSaving() const { return FStreamState == ssSaving; }
  Q_INVOKABLE bool IsNotSaving() const { return FStreamState != ssSaving; }

  // The document file. Records of every page (in page order), every item
  // (in item order) and of the document control itself.
  // IStreamableComponent: writes all of them at the stream's position.
  TStreamState GetStreamState() const override { return FStreamState; }
  void SetStreamState(TStreamState Value) override { FStreamState = Value; }
  void SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void ReadAdditionalData(QIODevice& AStream, const QString& ALine) override;
  // Reads records from the stream's position to its end: Fresh discards the
  // document first, else pages and items are re-used by name.
  void LoadFromStream(QIODevice& AStream, bool Fresh);
  // Writes the document with its pictures; text records when ForceText is
  // set or the extension is ".txt". The file is replaced only once all of it
  // was written.
  void SaveToFile(const QString& FileName, bool ForceText);
  void LoadFromFile(const QString& FileName);

  // Events.
  TNotifyEvent OnNewPreviewItem;
  TNotifyEvent OnPreviewItemClick;
  TNotifyEvent OnPageClick;
  TContextPopupEvent OnPreviewItemContextPopup;
  TNotifyEvent OnChangeLayout;
  TPagesChange OnPagesChange;
  TOnLoadingBitmap OnLoadingBitmap;
  TOnSaveBitmap OnSaveBitmap;
  TOnResampleBitmap OnResampleBitmap;
  TOnRotateBitmap OnRotateBitmap;
  TOnPrintImage OnPrintImage;
  TNotifyEvent OnPreviewItemVisibleResize;
  TOnNewPage OnNewPage;
  TNotifyEvent OnPageSelectionChange;
  TNotifyEvent OnItemSelectionChange;
  TNotifyEvent OnLoadDefaults;
  TNotifyEvent OnSaveDefaults;
  TOnProgress OnProgress;
  TOnTranslateFileName OnTranslateFileName;
  TOnFileLoaded OnFileLoaded;
  TOnChanged OnChanged;
  TNotifyEvent OnBeforePrint;
  TNotifyEvent OnAfterPrint;

  // Tells the host that pages were added or removed or the shown range moved.
  void PagesChanged();

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void resizeEvent(QResizeEvent* Event) override;

private:
  friend class TPagePreview;
  friend class TDocumentFile;
  void AttachPage(TPagePreview* Page);
  template <class List>
  void IterateList(const List& L, int IType, const QVariant& Param1, const QVariant& Param2, const QVariant& Param3,
                   QObject* ExceptControl, const TIterateCallback& Callback);

  TPages FPages;
  TPreviewItems FItems;
  int FParentMargin = 10;
  TPrinterOrientation FPaperOrientation = poPortrait;
  int FDisplayPagesVertical = 1;
  int FDisplayPagesHorizontal = 1;
  int FDisplayPageStart = 0;
  int FDefaultImageWidth = 1524;
  int FDefaultImageHeight = 1016;
  int FDefaultTextWidth = 400;
  int FDefaultTextHeight = 50;
  int FDefaultThumbsAcross = 4;
  int FDefaultThumbsDown = 6;
  QString FDefaultPageLayout;
  TUserOptions FUserOptions;
  TLayoutType FDefaultLayoutType = ltAutoBySize;
  QString FPrinterTitle = QStringLiteral("Tavora");
  int FCachedBitmapSize = 512;
  TBitmapCache FKeepBitmapsInMemory = bcCompressed;
  QPointer<TPagePreview> FSelectedPage;
  QPointer<QObject> FSelectedItem;
  int FMarginLeft = 0, FMarginRight = 0, FMarginTop = 0, FMarginBottom = 0;
  bool FCentreOnPage = true;

  int FUpdateLock = 0;
  int FPendingReflowFrom = INT_MAX;
  int FChangeCount = 0;
  int FSavedAtCount = 0;
  int FPrintedAtCount = 0;
  bool FChangePending = false;
  QString FPendingChangeText;
  int FNameCounter = 0;
  TStreamState FStreamState = ssIdle;

  QPointer<QObject> FLastPageNotified;
  QPointer<QObject> FLastItemNotified;
  int FSelectionLock = 0;
  bool FSelectionPending = false;
};

// Writes a page's or item's own record: ssSaving while it is written, ssIdle
// afterwards (also on failure).
void SaveOwnRecord(QObject& AComponent, IStreamableComponent& AStreamable, QIODevice& AStream, bool AsText,
                   const QString& SaveParams);

// The layout type check shared by the document, its pages and items:
// "Unknown Layout type" for a value above ltThumb.
void CheckLayoutType(int Value);
