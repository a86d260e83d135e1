#include "components/krStreaming.h"

#include <QIODevice>

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>

namespace {

const QString kDeclare = QStringLiteral("KR Comp Declare");
const QString kDefine = QStringLiteral("KR Comp Define");
const QString kDone = QStringLiteral("KR Comp Done");
const QString kFormatBinary = QStringLiteral("FMT:BIN");
const QString kFormatText = QStringLiteral("FMT:TEXT");

// The reader looks for CR LF within this many bytes.
constexpr qint64 kLineWindow = 255;
constexpr qint64 kCopyChunk = 64 * 1024;

void CheckStream(const QIODevice& AStream) {
  if (!AStream.isOpen()) throw EStreamError(QStringLiteral("AStream must be defined"));
}

// A decimal 32-bit integer with an optional sign.
int StrToInt(const QString& S) {
  bool ok = false;
  const QByteArray text = S.toLatin1();
  bool digits = !text.isEmpty();
  for (qsizetype i = 0; i < text.size(); ++i)
    if (!(std::isdigit(static_cast<unsigned char>(text[i])) || (i == 0 && (text[i] == '-' || text[i] == '+'))))
      digits = false;
  const qint64 v = digits ? text.toLongLong(&ok) : 0;
  if (!ok || v < INT_MIN || v > INT_MAX)
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(S));
  return static_cast<int>(v);
}

qint64 BytesLeft(QIODevice& AStream) {
  return AStream.isSequential() ? AStream.bytesAvailable() : AStream.size() - AStream.pos();
}

}  // namespace

IStreamableComponent* StreamableOf(QObject* AComponent) { return dynamic_cast<IStreamableComponent*>(AComponent); }

void StreamWriteString(QIODevice& AStream, const QString& S) {
  CheckStream(AStream);
  WriteBytes(AStream, S.toUtf8());
}

void StreamWriteLn(QIODevice& AStream, const QString& S) {
  CheckStream(AStream);
  QByteArray line = S.toUtf8();
  if (line.size() > kLineWindow - 2 || line.contains("\r\n"))
    throw EStreamError(QStringLiteral("Line too long for WriteLn"));
  line += "\r\n";
  WriteBytes(AStream, line);
}

QString StreamReadLn(QIODevice& AStream) {
  CheckStream(AStream);
  const QByteArray window = AStream.peek(kLineWindow);
  const qsizetype end = window.indexOf("\r\n");
  if (end < 0) throw EStreamError(QStringLiteral("Line to long for ReadLn"));
  AStream.read(end + 2);
  return QString::fromUtf8(window.left(end));
}

void StreamReadKeyValue(QIODevice& AStream, QString& Key, QString& Value) {
  Value = StreamReadLn(AStream);
  Key = SplitAtChar(Value, QLatin1Char(':'));
}

void WriteComponentRecord(QIODevice& AStream, QObject& AComponent, bool AsText, const QString& SaveParams) {
  CheckStream(AStream);
  StreamWriteLn(AStream, kDeclare);
  StreamWriteLn(AStream, AComponent.objectName() + QLatin1Char(':') + QLatin1String(AComponent.metaObject()->className()));
  StreamWriteLn(AStream, kDefine);
  if (AsText) {
    StreamWriteLn(AStream, kFormatText);
    WriteComponentDataText(AStream, AComponent);
  } else {
    StreamWriteLn(AStream, kFormatBinary);
    WriteComponentData(AStream, AComponent);
  }
  if (IStreamableComponent* s = StreamableOf(&AComponent)) s->WriteAdditionalData(AStream, AsText, SaveParams);
  StreamWriteLn(AStream, kDone);
}

void ReadComponentDeclaration(QIODevice& AStream, QString& AName, QString& AClassName) {
  CheckStream(AStream);
  if (StreamReadLn(AStream) != kDeclare)
    throw EStreamError(QStringLiteral("Incorrect signature for Component Declaration"));
  AClassName = StreamReadLn(AStream);
  AName = SplitAtChar(AClassName, QLatin1Char(':'));
}

QObject* ReadComponentRecord(QIODevice& AStream, QObject* AComponent, const TStoredAtWrite* AResetUnwritten) {
  CheckStream(AStream);
  QString line = StreamReadLn(AStream);
  if (line == kDeclare) {
    StreamReadLn(AStream);
    line = StreamReadLn(AStream);
  }
  if (line != kDefine) throw EStreamError(QStringLiteral("Incorrect signature for Component Definition"));
  const QString format = StreamReadLn(AStream);
  if (AComponent)
    if (IStreamableComponent* s = StreamableOf(AComponent)) s->SetStreamState(ssLoading);
  QObject* result = format == kFormatBinary ? ReadComponentData(AStream, AComponent, AResetUnwritten)
                                            : ReadComponentDataText(AStream, AComponent, AResetUnwritten);
  // A new component is the caller's once the whole record has been read.
  std::unique_ptr<QObject> created(AComponent ? nullptr : result);
  IStreamableComponent* streamable = StreamableOf(result);
  for (line = StreamReadLn(AStream); line != kDone; line = StreamReadLn(AStream)) {
    if (!streamable) continue;
    streamable->ReadAdditionalData(AStream, line);
    streamable->SetStreamState(ssIdle);
  }
  ResolvePendingReferences();
  created.release();
  return result;
}

void WriteStreamBlock(QIODevice& AStream, QIODevice& ASource, const QString& AName) {
  CheckStream(AStream);
  const qint64 size = ASource.size();
  if (size > INT_MAX) throw EStreamError(QStringLiteral("Stream block too large"));
  StreamWriteLn(AStream, QStringLiteral("STREAM:") + AName);
  StreamWriteLn(AStream, QStringLiteral("STREAM_SIZE:") + QString::number(size));
  if (!ASource.seek(0) && size > 0) throw EReadError(QStringLiteral("Stream read error"));
  for (qint64 left = size; left > 0;) {
    const QByteArray chunk = ASource.read(std::min(left, kCopyChunk));
    if (chunk.isEmpty()) throw EReadError(QStringLiteral("Stream read error"));
    WriteBytes(AStream, chunk);
    left -= chunk.size();
  }
  StreamWriteLn(AStream, QStringLiteral("STREAM_DONE"));
}

void ReadStreamBlock(QIODevice& AStream, QIODevice& ADestination) {
  CheckStream(AStream);
  QString key, value;
  StreamReadKeyValue(AStream, key, value);
  if (key == QLatin1String("STREAM")) StreamReadKeyValue(AStream, key, value);
  if (key != QLatin1String("STREAM_SIZE")) throw EStreamError(QStringLiteral("Invalid stream format"));
  const int size = StrToInt(value);
  if (size < 0) throw EStreamError(QStringLiteral("Invalid stream format"));
  if (size > BytesLeft(AStream)) throw EReadError(QStringLiteral("Stream read error"));
  for (qint64 left = size; left > 0;) {
    const QByteArray chunk = AStream.read(std::min(left, kCopyChunk));
    if (chunk.isEmpty()) throw EReadError(QStringLiteral("Stream read error"));
    WriteBytes(ADestination, chunk);
    left -= chunk.size();
  }
  if (StreamReadLn(AStream) != QLatin1String("STREAM_DONE"))
    throw EStreamError(QStringLiteral("Invalid stream copy"));
}

bool ParamListContains(const QString& AParam, const QString& AParamList) {
  if (AParamList.isEmpty()) return false;
  const QString comma = QStringLiteral(",");
  return (comma + AParamList + comma).contains(comma + AParam + comma, Qt::CaseSensitive);
}

QString SplitAtChar(QString& S, QChar AChar) {
  const qsizetype i = S.indexOf(AChar);
  if (i < 0) {
    QString all = S;
    S.clear();
    return all;
  }
  const QString before = S.left(i);
  S = S.mid(i + 1, 255);
  return before;
}
