#include "StreamTestComponents.h"

void TTestComponent::SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) {
  SetStreamState(ssSaving);
  try {
    WriteComponentRecord(AStream, *this, AsText, SaveParams);
  } catch (...) {
    SetStreamState(ssIdle);
    throw;
  }
  SetStreamState(ssIdle);
}

void TTestComponent::WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) {
  Q_UNUSED(AsText);
  if (!ParamListContains(QStringLiteral("SAVE_BLOB"), SaveParams)) return;
  QBuffer source(&Blob);
  source.open(QIODevice::ReadOnly);
  WriteStreamBlock(AStream, source, QStringLiteral("Filestream"));
}

void TTestComponent::ReadAdditionalData(QIODevice& AStream, const QString& ALine) {
  ExtraLines.append(ALine);
  QString rest = ALine;
  SplitAtChar(rest, QLatin1Char(':'));
  if (rest != QLatin1String("Filestream")) throw Exception(QStringLiteral("Unknown additional data in stream"));
  QBuffer destination(&Blob);
  destination.open(QIODevice::ReadWrite);
  destination.seek(destination.size());
  ReadStreamBlock(AStream, destination);
}

TTestClassScope::TTestClassScope() {
  RegisterStreamableClass<TTestComponent>();
  RegisterStreamableClass<TPlainComponent>();
}

TTestClassScope::~TTestClassScope() {
  UnRegisterStreamableClass(TTestComponent::staticMetaObject);
  UnRegisterStreamableClass(TPlainComponent::staticMetaObject);
  ClearPendingReferences();
}
