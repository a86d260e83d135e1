#pragma once

// Small components that carry one property of every kind the component
// stream knows, for the streaming tests.

#include "components/krStreaming.h"
#include "platform/Component.h"
#include "platform/Printer.h"

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFlags>
#include <QStringList>
#include <QWidget>

namespace StreamTestTypes {
Q_NAMESPACE
enum TShade { shLight, shMedium, shDark };
Q_ENUM_NS(TShade)
enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4 };
Q_DECLARE_FLAGS(TFontStyles, TFontStyle)
Q_FLAG_NS(TFontStyles)
}  // namespace StreamTestTypes
Q_DECLARE_OPERATORS_FOR_FLAGS(StreamTestTypes::TFontStyles)
using namespace StreamTestTypes;

// A sub-object: written with dotted names ("Font.Name").
class TTestFont : public QObject {
  Q_OBJECT
  Q_CLASSINFO("default:Size", "8")
  Q_PROPERTY(QString Name READ Name WRITE SetName)
  Q_PROPERTY(int Size READ Size WRITE SetSize)
  Q_PROPERTY(StreamTestTypes::TFontStyles Style READ Style WRITE SetStyle)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)

public:
  using QObject::QObject;
  QString Name() const { return FName; }
  void SetName(const QString& V) { FName = V; }
  int Size() const { return FSize; }
  void SetSize(int V) { FSize = V; }
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles V) { FStyle = V; }
  QColor Color() const { return FColor; }
  void SetColor(const QColor& V) { FColor = V; }

private:
  QString FName;
  int FSize = 8;
  TFontStyles FStyle;
  QColor FColor = Qt::black;
};

// Offers the container interface; its extra data is one stream block
// "Filestream" holding Blob, written when the parameters contain
// "SAVE_BLOB".
class TTestComponent : public QWidget, public TComponent, public IStreamableComponent {
  Q_OBJECT
  Q_INTERFACES(IStreamableComponent)
  Q_CLASSINFO("stored:Saving", "IsSaving")
  Q_CLASSINFO("default:Shown", "false")
  Q_CLASSINFO("default:Shade", "shMedium")
  Q_PROPERTY(int Count READ Count WRITE SetCount)
  Q_PROPERTY(bool Flag READ Flag WRITE SetFlag)
  Q_PROPERTY(bool Shown READ Shown WRITE SetShown)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(float Scale READ Scale WRITE SetScale)
  Q_PROPERTY(double Ratio READ Ratio WRITE SetRatio)
  Q_PROPERTY(qint64 Big READ Big WRITE SetBig)
  Q_PROPERTY(StreamTestTypes::TShade Shade READ Shade WRITE SetShade)
  Q_PROPERTY(TavoraPrinterTypes::TPrinterOrientation Orientation READ Orientation WRITE SetOrientation)
  Q_PROPERTY(StreamTestTypes::TFontStyles Styles READ Styles WRITE SetStyles)
  Q_PROPERTY(QStringList Lines READ Lines WRITE SetLines)
  Q_PROPERTY(QByteArray Data READ Data WRITE SetData)
  Q_PROPERTY(QColor Colour READ Colour WRITE SetColour)
  Q_PROPERTY(TTestComponent* Partner READ Partner WRITE SetPartner)
  Q_PROPERTY(TTestFont* Font READ Font)
  Q_PROPERTY(int Saving READ Saving WRITE SetSaving)
  Q_PROPERTY(int Hidden READ Hidden WRITE SetHidden STORED false)
  Q_PROPERTY(int Checked READ Checked WRITE SetChecked)

public:
  explicit TTestComponent(QObject* AOwner) : TComponent(this, AOwner), FFont(new TTestFont(this)) {}
  ~TTestComponent() override { BeforeDestruction(); }

  int Count() const { return FCount; }
  void SetCount(int V) { FCount = V; }
  bool Flag() const { return FFlag; }
  void SetFlag(bool V) { FFlag = V; }
  bool Shown() const { return FShown; }
  void SetShown(bool V) { FShown = V; }
  QString Caption() const { return FCaption; }
  void SetCaption(const QString& V) { FCaption = V; }
  float Scale() const { return FScale; }
  void SetScale(float V) { FScale = V; }
  double Ratio() const { return FRatio; }
  void SetRatio(double V) { FRatio = V; }
  qint64 Big() const { return FBig; }
  void SetBig(qint64 V) { FBig = V; }
  TShade Shade() const { return FShade; }
  void SetShade(TShade V) { FShade = V; }
  TPrinterOrientation Orientation() const { return FOrientation; }
  void SetOrientation(TPrinterOrientation V) { FOrientation = V; }
  TFontStyles Styles() const { return FStyles; }
  void SetStyles(TFontStyles V) { FStyles = V; }
  QStringList Lines() const { return FLines; }
  void SetLines(const QStringList& V) { FLines = V; }
  QByteArray Data() const { return FData; }
  void SetData(const QByteArray& V) { FData = V; }
  QColor Colour() const { return FColour; }
  void SetColour(const QColor& V) { FColour = V; }
  TTestComponent* Partner() const { return FPartner; }
  void SetPartner(TTestComponent* V) { FPartner = V; }
  TTestFont* Font() const { return FFont; }
  int Saving() const { return FSaving; }
  void SetSaving(int V) { FSaving = V; }
  int Hidden() const { return FHidden; }
  void SetHidden(int V) { FHidden = V; }
  int Checked() const { return FChecked; }
  // A setter that refuses values, as the document's setters do.
  void SetChecked(int V) {
    if (V > 100) throw Exception(QStringLiteral("Checked out of range"));
    FChecked = V;
  }
  Q_INVOKABLE bool IsSaving() const { return FState == ssSaving; }

  QByteArray Blob;
  QStringList ExtraLines;  // every extra line handed to ReadAdditionalData

  TStreamState GetStreamState() const override { return FState; }
  void SetStreamState(TStreamState V) override { FState = V; }
  void SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) override;
  void ReadAdditionalData(QIODevice& AStream, const QString& ALine) override;

private:
  int FCount = 0;
  bool FFlag = false;
  bool FShown = false;
  QString FCaption;
  float FScale = 0;
  double FRatio = 0;
  qint64 FBig = 0;
  TShade FShade = shMedium;
  TPrinterOrientation FOrientation = poPortrait;
  TFontStyles FStyles;
  QStringList FLines;
  QByteArray FData;
  QColor FColour = Qt::white;
  TTestComponent* FPartner = nullptr;
  TTestFont* FFont;
  int FSaving = 0;
  int FHidden = 0;
  int FChecked = 0;
  TStreamState FState = ssIdle;
};

// A component without the container interface.
class TPlainComponent : public QObject, public TComponent {
  Q_OBJECT
  Q_PROPERTY(int Value READ Value WRITE SetValue)

public:
  explicit TPlainComponent(QObject* AOwner) : TComponent(this, AOwner) {}
  ~TPlainComponent() override { BeforeDestruction(); }
  int Value() const { return FValue; }
  void SetValue(int V) { FValue = V; }

private:
  int FValue = 0;
};

// Registers the test classes for the life of the object.
class TTestClassScope {
public:
  TTestClassScope();
  ~TTestClassScope();
};

// A device that takes at most Limit bytes and then fails every write.
class TFailingDevice : public QBuffer {
public:
  explicit TFailingDevice(qint64 ALimit) : FLimit(ALimit) { open(QIODevice::ReadWrite); }

protected:
  qint64 writeData(const char* Data, qint64 Len) override {
    if (size() + Len > FLimit) return -1;
    return QBuffer::writeData(Data, Len);
  }

private:
  qint64 FLimit;
};
