#pragma once

// The base of everything that is placed on a page and printed: its print
// geometry in the document's unit, its screen geometry as a control drawn
// over its page, quarter turns, options, its cell from the automatic layout,
// its page and document, and its selection.

#include "Printing/document/PrintPreviewU.h"

#include <QPointer>
#include <QWidget>

// SetPrintDimensions flags.
enum TSetDimensionsFlag : unsigned {
  sdKeepAspect = 1,     // fit the content's proportions inside the box
  sdSwapToContent = 2,  // turn the box to the content's orientation
  sdRotateToBox = 4,    // turn the content to the box's orientation
  sdNoRelayout = 8,     // do not re-lay the page afterwards
};

// The longest print length an item may have: beyond the paper of a poster
// of a hundred A0 sheets. Larger sizes are cut down to it.
constexpr int MaxPrintLength = 100 * 11890;

// UpdateScreenBounds components.
enum TScreenComponent : int { sbLeft = 1, sbTop = 2, sbWidth = 4, sbHeight = 8, sbAll = 15 };

class TPreviewItem : public QWidget, public TComponent, public IPreviewable, public IStreamableComponent {
  Q_OBJECT
  Q_INTERFACES(IStreamableComponent)
  Q_CLASSINFO("stored:Selected", "IsSaving")
  Q_CLASSINFO("default:Visible", "false")
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
  Q_PROPERTY(int Left READ Left WRITE SetLeft)
  Q_PROPERTY(int Top READ Top WRITE SetTop)
  Q_PROPERTY(int Width READ Width WRITE SetWidth)
  Q_PROPERTY(int Height READ Height WRITE SetHeight)
  Q_PROPERTY(TPagePreview* PagePreview READ PagePreview WRITE SetPagePreview)
  Q_PROPERTY(TPrintPreview* PrintPreview READ PrintPreview WRITE SetPrintPreview)
  Q_PROPERTY(TPreviewItem* AttachedPreviewItem READ AttachedPreviewItem WRITE SetAttachedPreviewItem)
  Q_PROPERTY(TPreviewItem* Attacher READ Attacher WRITE SetAttacher)
  Q_PROPERTY(int LayoutLeft READ LayoutLeft WRITE SetLayoutLeft)
  Q_PROPERTY(int LayoutTop READ LayoutTop WRITE SetLayoutTop)
  Q_PROPERTY(int LayoutWidth READ LayoutWidth WRITE SetLayoutWidth)
  Q_PROPERTY(int LayoutHeight READ LayoutHeight WRITE SetLayoutHeight)
  Q_PROPERTY(bool LayoutRotated READ LayoutRotated WRITE SetLayoutRotated)
  Q_PROPERTY(int PrintLeft READ GetPrintLeft WRITE SetPrintLeft)
  Q_PROPERTY(int PrintTop READ GetPrintTop WRITE SetPrintTop)
  Q_PROPERTY(int PrintWidth READ GetPrintWidth WRITE SetPrintWidth)
  Q_PROPERTY(int PrintHeight READ GetPrintHeight WRITE SetPrintHeight)
  Q_PROPERTY(float Scale READ GetScale WRITE SetScale)
  Q_PROPERTY(int _IntRotation READ _IntRotation WRITE Set_IntRotation)
  Q_PROPERTY(bool KeepAspectRatio READ GetKeepAspectRatio WRITE SetKeepAspectRatio)
  Q_PROPERTY(PrintPreviewTypes::TPreviewableOptions Options READ GetOptions WRITE SetOptions)
  Q_PROPERTY(QString Description READ GetDescription WRITE SetDescription)
  Q_PROPERTY(PrintPreviewTypes::TLayoutType LayoutType READ GetLayoutType WRITE SetLayoutType)
  Q_PROPERTY(bool Selected READ Selected WRITE SetSelected)
  Q_PROPERTY(bool Visible READ IsVisibleFlag WRITE SetVisibleFlag)

public:
  explicit TPreviewItem(QObject* AOwner);
  ~TPreviewItem() override;

  // Print geometry.
  int PrintLeft() const { return FPrintLeft; }
  int PrintTop() const { return FPrintTop; }
  int PrintWidth() const { return FPrintWidth; }
  int PrintHeight() const { return FPrintHeight; }
  int PrintRight() const { return FPrintLeft + FPrintWidth; }
  int PrintBottom() const { return FPrintTop + FPrintHeight; }
  int _IntRotation() const { return FIntRotation; }
  // The quarter turns in which the content is drawn on screen: the page's
  // turn and the item's own.
  Q_INVOKABLE int TotalRotation() const;

  bool Selected() const { return FSelected; }
  void SetSelected(bool Value);
  void SetKeepAspectRatio(bool Value) { FKeepAspectRatio = Value; }
  TPreviewableOptions Options() const { return FOptions; }

  TPagePreview* PagePreview() const { return FPagePreview; }
  TPrintPreview* PrintPreview() const { return FPrintPreview; }
  virtual void SetPrintPreview(TPrintPreview* Value);
  // The page's index, -1 without a page; setting it puts the item on the
  // document's page of that index without placing or listing it.
  int PageIndex() const;
  void SetPageIndex(int Value);
  // Position in the document's Items, -1 without a document.
  int PrintPreviewIndex() const;
  TPreviewItem* AttachedPreviewItem() const { return FAttachedPreviewItem; }
  TPreviewItem* Attacher() const { return FAttacher; }
  bool IsAttached() const { return FAttacher != nullptr; }
  void SetAttachedPreviewItem(TPreviewItem* Value);
  TStreamState StreamState() const { return FStreamState; }
  Q_INVOKABLE bool IsSaving() const { return FStreamState == ssSaving; }

  // The streamed control properties: the screen rectangle inside the
  // document control (moving the control only, within 100000 pixels), the
  // hint, and the control's own visible flag.
  QString Hint() const { return toolTip(); }
  void SetHint(const QString& Value) { setToolTip(Value); }
  int Left() const { return x(); }
  void SetLeft(int Value) { setGeometry(std::clamp(Value, -100000, 100000), y(), width(), height()); }
  int Top() const { return y(); }
  void SetTop(int Value) { setGeometry(x(), std::clamp(Value, -100000, 100000), width(), height()); }
  int Width() const { return width(); }
  void SetWidth(int Value) { setGeometry(x(), y(), std::clamp(Value, 0, 100000), height()); }
  int Height() const { return height(); }
  void SetHeight(int Value) { setGeometry(x(), y(), width(), std::clamp(Value, 0, 100000)); }
  bool IsVisibleFlag() const { return !isHidden(); }
  // A control without a parent stays hidden: it would become a window.
  void SetVisibleFlag(bool Value) {
    if (parentWidget() || !Value) setVisible(Value);
  }
  // Attaches this item to Value as its caption (nullptr: detaches it).
  void SetAttacher(TPreviewItem* Value);
  // The cell the automatic layout gave the item.
  int LayoutLeft() const { return FLayoutPosition.Left; }
  void SetLayoutLeft(int Value) { FLayoutPosition.Left = Value; }
  int LayoutTop() const { return FLayoutPosition.Top; }
  void SetLayoutTop(int Value) { FLayoutPosition.Top = Value; }
  int LayoutWidth() const { return FLayoutPosition.Width; }
  void SetLayoutWidth(int Value) { FLayoutPosition.Width = Value; }
  int LayoutHeight() const { return FLayoutPosition.Height; }
  void SetLayoutHeight(int Value) { FLayoutPosition.Height = Value; }
  bool LayoutRotated() const { return FLayoutPosition.Rotated; }
  void SetLayoutRotated(bool Value) { FLayoutPosition.Rotated = Value; }
  // Sets the quarter turns as they are, without turning the geometry.
  void Set_IntRotation(int Value) { FIntRotation = ((Value % 4) + 4) % 4; }

  // IStreamableComponent: the item's own record; pictures add their bytes.
  TStreamState GetStreamState() const override { return FStreamState; }
  void SetStreamState(TStreamState Value) override { FStreamState = Value; }
  void SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void ReadAdditionalData(QIODevice& AStream, const QString& ALine) override;
  virtual int GetMemoryUsed() { return 0; }
  // Attaches a caption showing the description; text items have none.
  virtual void CreateCaption();
  virtual void FreeCache(bool All) { Q_UNUSED(All); }

  TNotifyEvent OnVisibleResize;
  TNotifyEvent OnClick;
  TNotifyEvent OnMouseDown;
  TContextPopupEvent OnContextPopup;
  TOnRotateBitmap OnRotateBitmap;
  TOnPrintImage OnPrintImage;

  // IPreviewable.
  void SetBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  void SetScale(float Value) override;
  float GetScale() const override { return FScale; }
  float AspectRatio() override { return 0; }
  int GetPrintLeft() const override { return FPrintLeft; }
  void SetPrintHeight(int Value) override { FPrintHeight = Value; }
  void SetPrintLeft(int Value) override;
  void SetPrintTop(int Value) override;
  void SetPrintWidth(int Value) override { FPrintWidth = Value; }
  int GetPrintTop() const override { return FPrintTop; }
  int GetPrintHeight() const override { return FPrintHeight; }
  int GetPrintWidth() const override { return FPrintWidth; }
  TPagePreview* GetPagePreview() const override;
  TPreviewableOptions GetOptions() const override { return FOptions; }
  void SetOptions(TPreviewableOptions Value) override { FOptions = Value; }
  int GetActualHeight() const override;
  int GetActualWidth() const override;
  void Rotate(int QuarterTurns) override;
  void RotateQuarter() override;
  void SetPagePreview(TPagePreview* Value) override;
  void UpdateScreenBounds(int Which) override;
  IPreviewable* GetAttachedItem() const override { return FAttachedPreviewItem; }
  int GetAttachedItemOffset() const override { return FAttachedItemOffset; }
  TAttachPosition GetAttachPosition() const override { return FAttachPosition; }
  bool GetKeepAspectRatio() const override { return FKeepAspectRatio; }
  void SetPrintBounds(int ALeft, int ATop, int AWidth, int AHeight) override;
  bool PrintTo(QPainter* Canvas, int OffsetX, int OffsetY) override;
  void SetPrintDimensions(int AWidth, int AHeight, unsigned Flags) override;
  void SetDescription(const QString& Value) override { FDescription = Value; }
  QString GetDescription() const override { return FDescription; }
  void RepositionAttached(int CaptionWidth = 0, int CaptionHeight = 0) override;
  void FitToLayoutPosition(int CaptionWidth, int CaptionHeight) override;
  TLayoutPosition GetLayoutPosition() const override { return FLayoutPosition; }
  void SetLayoutPosition(const TLayoutPosition& Value) override { FLayoutPosition = Value; }
  bool HasLayoutPosition() const override;
  void ClearLayoutPosition() override { FLayoutPosition.Width = 0; }
  bool IsCellLayout() override;
  void SetLayoutType(TLayoutType Value) override;
  TLayoutType GetLayoutType() const override { return FLayoutType; }
  QObject* GetItem() override { return this; }

  // The part of the layout cell left for the item itself.
  TLayoutPosition GetItemLayoutRect(int CaptionWidth, int CaptionHeight);
  // SetPrintDimensions for a size the user gave: the item no longer sizes
  // itself.
  void SetPrintDimensionsFixed(int AWidth, int AHeight, unsigned Flags);
  // Fits the item to the page's printable area (flags in screen terms),
  // and centres it.
  void Fit(bool FitWidth, bool FitHeight);
  void Centre(bool Horizontally, bool Vertically);
  // The bitmap turned by quarter turns clockwise (the rotation handler may
  // do it); 0 answers the bitmap itself.
  QImage RotateBitmap(const QImage& Bitmap, int QuarterTurns);

  void setVisible(bool Visible) override;

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  // Maps the control's screen bounds back to print geometry.
  void ScreenToPrint();
  void paintEvent(QPaintEvent* Event) override;
  // The item's own content; the base draws nothing.
  virtual void PaintContent(QPainter& Canvas) { Q_UNUSED(Canvas); }
  // The frame of a selected item.
  void PaintSelection(QPainter& Canvas);
  void FireVisibleResize();

  int FPrintLeft = 0, FPrintTop = 0, FPrintWidth = 0, FPrintHeight = 0;
  float FScale = 1.0f;
  int FIntRotation = 0;
  bool FSelected = false;
  bool FKeepAspectRatio = true;
  TPreviewableOptions FOptions = poNeverBeenOnPage;
  QString FDescription;
  TPagePreview* FPagePreview = nullptr;
  TPrintPreview* FPrintPreview = nullptr;
  TPreviewItem* FAttachedPreviewItem = nullptr;
  TPreviewItem* FAttacher = nullptr;
  int FAttachedItemOffset = 0;
  TAttachPosition FAttachPosition = apBelow;
  TLayoutPosition FLayoutPosition;
  TLayoutType FLayoutType = ltAutoBySize;
  TStreamState FStreamState = ssIdle;
  bool FInScreenUpdate = false;
  bool FInPrintUpdate = false;
  bool FPageChanged = false;
};

// Whether two proportions lie on different sides of 1 (Strict: neither is 1).
bool DifferInOrientation(double A, double B, bool Strict);

class QBuffer;

// The picture item: shows a reduced preview on screen, loads the full
// bitmap only while it is needed, and keeps the file's bytes or the
// pixels as the document's KeepBitmapsInMemory says.
class TPreviewImage : public TPreviewItem {
  Q_OBJECT
  Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)

public:
  explicit TPreviewImage(QObject* AOwner);
  ~TPreviewImage() override;

  // Reads a picture file into the item; a file that cannot be read gives
  // the error picture. Fails with "No filename provided in
  // TPreviewImage.LoadFromFile" for an empty name.
  void LoadFromFile(const QString& AFileName);
  // Takes a copy of a bitmap ("No Bitmap provided in
  // TPreviewImage.CopyBitmap" for a null one).
  void CopyBitmap(const QImage& ABitmap);
  // The full bitmap, loaded when absent (empty when there is nothing to load).
  QImage& GetBitmap(bool ForScreen);
  bool HasBitmap() const { return FBitmap != nullptr; }
  // Frees the full bitmap when the keeping policy allows.
  void ReleaseBitmap();
  // The screen bitmap for a rotation (quarter turns clockwise).
  const QImage& GetPreview(int Rotation);
  bool HasPreview(int Rotation) const { return Rotation >= 0 && Rotation < 4 && FPreviews[Rotation] != nullptr; }
  QImage MakePreview();

  QString FileName() const { return FFileName; }
  void SetFileName(const QString& Value) { FFileName = Value; }
  float ContentRatio() const { return FContentRatio; }
  // The file's bytes or the encoded form of a given bitmap.
  QBuffer& Stream();
  bool HasStream() const { return FStream != nullptr; }

  // With "SAVE_IMAGES": the kept bytes (read from the file when there are
  // none) as the stream block "Filestream".
  void WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  // The block "Filestream", appended to Stream; "Unknown additional data in
  // stream" for any other.
  void ReadAdditionalData(QIODevice& AStream, const QString& ALine) override;

  TOnLoadingBitmap OnLoadingBitmap;
  TOnSaveBitmap OnSaveBitmap;
  TOnResampleBitmap OnResampleBitmap;

  void SetPrintPreview(TPrintPreview* Value) override;
  float AspectRatio() override;
  void FreeCache(bool All) override;
  int GetMemoryUsed() override;
  bool PrintTo(QPainter* Canvas, int OffsetX, int OffsetY) override;

protected:
  void PaintContent(QPainter& Canvas) override;

private:
  void LoadBitmap(QImage& Bitmap, const QString& AFileName, bool ForScreen);
  // The same with the size asked of the loading handler (0: full size).
  void LoadBitmapSized(QImage& Bitmap, const QString& AFileName, int MaxSize);
  TBitmapCache Policy() const;
  int CachedBitmapSize() const;

  std::unique_ptr<QImage> FBitmap;
  std::unique_ptr<QImage> FPreviews[4];
  std::unique_ptr<QBuffer> FStream;
  QString FFileName;
  float FContentRatio = 0;
};

// The loading handler of the program: the picture layer's reader, from the
// kept bytes when there are any, reduced to MaxSize when one is given.
TOnLoadingBitmap PictureLayerLoader();

// Draws the picture shown for a file that cannot be read.
void DrawErrorPicture(QImage& Bitmap, const QString& AFileName);
