// Reads arbitrary bytes as component records, component data in both forms
// and stream blocks, into a small component with a property of every kind.
// Every input must end in success or in one of the program's exceptions,
// without crash, hang or unbounded allocation. Whatever was read
// successfully must write out and read back to the same bytes.

#include "components/krStreaming.h"
#include "platform/Component.h"

#include <QBuffer>
#include <QColor>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace FuzzTypes {
Q_NAMESPACE
enum TKind { kA, kB, kC };
Q_ENUM_NS(TKind)
enum TBit { bOne = 1, bTwo = 2, bFour = 4 };
Q_DECLARE_FLAGS(TBits, TBit)
Q_FLAG_NS(TBits)
}  // namespace FuzzTypes
using namespace FuzzTypes;

class TFuzzSub : public QObject {
  Q_OBJECT
  Q_CLASSINFO("default:Size", "8")
  Q_PROPERTY(QString Name MEMBER FName)
  Q_PROPERTY(int Size MEMBER FSize)
  Q_PROPERTY(QColor Color MEMBER FColor)

public:
  using QObject::QObject;
  QString FName;
  int FSize = 8;
  QColor FColor;
};

class TFuzzComponent : public QObject, public TComponent, public IStreamableComponent {
  Q_OBJECT
  Q_INTERFACES(IStreamableComponent)
  Q_CLASSINFO("stored:Saving", "IsSaving")
  Q_CLASSINFO("default:Kind", "kB")
  Q_PROPERTY(int Count MEMBER FCount)
  Q_PROPERTY(bool Flag MEMBER FFlag)
  Q_PROPERTY(QString Caption MEMBER FCaption)
  Q_PROPERTY(float Scale MEMBER FScale)
  Q_PROPERTY(double Ratio MEMBER FRatio)
  Q_PROPERTY(qint64 Big MEMBER FBig)
  Q_PROPERTY(FuzzTypes::TKind Kind MEMBER FKind)
  Q_PROPERTY(FuzzTypes::TBits Bits MEMBER FBits)
  Q_PROPERTY(QStringList Lines MEMBER FLines)
  Q_PROPERTY(QByteArray Data MEMBER FData)
  Q_PROPERTY(QColor Colour MEMBER FColour)
  Q_PROPERTY(TFuzzComponent* Partner MEMBER FPartner)
  Q_PROPERTY(TFuzzSub* Sub READ Sub)
  Q_PROPERTY(int Saving MEMBER FSaving)

public:
  explicit TFuzzComponent(QObject* AOwner) : TComponent(this, AOwner), FSub(new TFuzzSub(this)) {}
  ~TFuzzComponent() override { BeforeDestruction(); }
  TFuzzSub* Sub() const { return FSub; }
  Q_INVOKABLE bool IsSaving() const { return FState == ssSaving; }

  TStreamState GetStreamState() const override { return FState; }
  void SetStreamState(TStreamState V) override { FState = V; }
  void SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) override {
    WriteComponentRecord(AStream, *this, AsText, SaveParams);
  }
  void WriteAdditionalData(QIODevice& AStream, bool, const QString&) override {
    QBuffer source(&FBlob);
    source.open(QIODevice::ReadOnly);
    WriteStreamBlock(AStream, source, QStringLiteral("Filestream"));
  }
  void ReadAdditionalData(QIODevice& AStream, const QString& ALine) override {
    QString rest = ALine;
    SplitAtChar(rest, QLatin1Char(':'));
    if (rest != QLatin1String("Filestream")) throw Exception(QStringLiteral("Unknown additional data in stream"));
    QBuffer destination(&FBlob);
    destination.open(QIODevice::WriteOnly | QIODevice::Append);
    ReadStreamBlock(AStream, destination);
  }

  int FCount = 0;
  bool FFlag = false;
  QString FCaption;
  float FScale = 0;
  double FRatio = 0;
  qint64 FBig = 0;
  TKind FKind = kB;
  TBits FBits;
  QStringList FLines;
  QByteArray FData;
  QColor FColour;
  TFuzzComponent* FPartner = nullptr;
  int FSaving = 0;
  QByteArray FBlob;

private:
  TFuzzSub* FSub;
  TStreamState FState = ssIdle;
};

namespace {

QByteArray Written(QObject& C, bool AsText) {
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  if (AsText)
    WriteComponentDataText(out, C);
  else
    WriteComponentData(out, C);
  return out.data();
}

// What was read writes out and reads back to the same bytes.
void CheckRoundTrip(QObject& C) {
  for (bool asText : {false, true}) {
    QByteArray first = Written(C, asText);
    QBuffer in(&first);
    in.open(QIODevice::ReadOnly);
    std::unique_ptr<QObject> again(asText ? ReadComponentDataText(in, nullptr) : ReadComponentData(in, nullptr));
    ResolvePendingReferences();
    const QByteArray second = Written(*again, asText);
    if (second != first) {
      if (std::getenv("FUZZ_VERBOSE"))
        std::fprintf(stderr, "first:\n%s\nsecond:\n%s\n", first.toHex().constData(), second.toHex().constData());
      std::abort();
    }
  }
}

struct TSetup {
  TSetup() {
    RegisterStreamableClass<TFuzzComponent>();
    Form.setObjectName(QStringLiteral("frmFuzz"));
    RegisterGlobalComponent(&Form);
    Target = new TFuzzComponent(&Form);
    Target->SetName(QStringLiteral("Target"));
  }
  QObject Form;
  TFuzzComponent* Target;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  static TSetup setup;
  if (Size == 0) return 0;
  const int mode = Data[0] % 4;
  QByteArray bytes(reinterpret_cast<const char*>(Data + 1), static_cast<qsizetype>(Size - 1));
  QBuffer in(&bytes);
  in.open(QIODevice::ReadOnly);
  std::unique_ptr<QObject> fresh;
  setup.Target->FBlob.clear();  // what earlier inputs appended
  try {
    switch (mode) {
      case 0: {  // a file of records, read fresh and into the existing component by turns
        bool intoExisting = false;
        while (!in.atEnd()) {
          QString name, cls;
          ReadComponentDeclaration(in, name, cls);
          if (intoExisting) {
            ReadComponentRecord(in, setup.Target);
          } else {
            fresh.reset(ReadComponentRecord(in, nullptr));
            CheckRoundTrip(*fresh);
          }
          intoExisting = !intoExisting;
        }
        CheckPendingReferences();
        break;
      }
      case 1:
        fresh.reset(ReadComponentData(in, nullptr));
        CheckRoundTrip(*fresh);
        break;
      case 2:
        fresh.reset(ReadComponentDataText(in, nullptr));
        CheckRoundTrip(*fresh);
        break;
      default: {
        QBuffer out;
        out.open(QIODevice::ReadWrite);
        ReadStreamBlock(in, out);
        QBuffer text;
        text.open(QIODevice::ReadWrite);
        ObjectBinaryToText(in, text);
        text.seek(0);
        QBuffer binary;
        binary.open(QIODevice::ReadWrite);
        ObjectTextToBinary(text, binary);
        break;
      }
    }
  } catch (const Exception& E) {
    if (std::getenv("FUZZ_VERBOSE")) std::fprintf(stderr, "%s\n", E.what());
  }
  ClearPendingReferences();
  return 0;
}

#include "componentstream_fuzz.moc"
