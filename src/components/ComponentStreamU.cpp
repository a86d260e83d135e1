#include "components/ComponentStreamU.h"

#include "platform/Component.h"

#include <QBuffer>
#include <QColor>
#include <QHash>
#include <QIODevice>
#include <QMetaEnum>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QPointer>
#include <QSet>
#include <QVariant>

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

namespace {

// Lists, collections and objects nest at most this deep; sub-objects of
// written components at most kMaxSubObjectDepth.
constexpr int kMaxDepth = 32;
constexpr int kMaxSubObjectDepth = 8;
const QByteArray kSignature("TPF0");

QString ReadErrorText() { return QStringLiteral("Stream read error"); }
QString InvalidFormatText() { return QStringLiteral("Invalid stream format"); }
QString InvalidValueText() { return QStringLiteral("Invalid property value"); }

[[noreturn]] void TooDeep() { throw EReadError(QStringLiteral("Lists nested too deeply")); }

// --- Values -------------------------------------------------------------------

struct TCollectionItem;

// One value of the binary form, as read or about to be written.
struct TStreamValue {
  TValueType Type = vaNull;
  qint64 Int = 0;    // integers; currency as value x 10000
  double Float = 0;  // extended, single and date
  QString Text;      // strings and identifiers
  QByteArray Bytes;  // binary data
  QStringList Names;                      // set members
  std::vector<TStreamValue> Items;        // list values
  std::vector<TCollectionItem> Elements;  // collection items
};

struct TCollectionItem {
  bool HasIndex = false;
  qint64 Index = 0;
  QStringList Names;
  std::vector<TStreamValue> Values;
};

TStreamValue IntValue(qint64 V) {
  TStreamValue r;
  r.Int = V;
  if (V >= -128 && V <= 127)
    r.Type = vaInt8;
  else if (V >= -32768 && V <= 32767)
    r.Type = vaInt16;
  else if (V >= INT_MIN && V <= INT_MAX)
    r.Type = vaInt32;
  else
    r.Type = vaInt64;
  return r;
}

bool IsAscii(const QString& S) {
  for (QChar c : S)
    if (c.unicode() > 127) return false;
  return true;
}

// ASCII text as a short or long string, anything else as a wide string.
TStreamValue StringValue(const QString& S) {
  TStreamValue r;
  r.Text = S;
  if (!IsAscii(S))
    r.Type = vaWString;
  else
    r.Type = S.size() <= 255 ? vaString : vaLString;
  return r;
}

TStreamValue SimpleValue(TValueType T) {
  TStreamValue r;
  r.Type = T;
  return r;
}

TStreamValue IdentValue(const QString& S) {
  TStreamValue r;
  r.Type = vaIdent;
  r.Text = S;
  return r;
}

bool IsIntType(TValueType T) { return T == vaInt8 || T == vaInt16 || T == vaInt32 || T == vaInt64; }

// --- Reading bytes --------------------------------------------------------------

class TByteReader {
public:
  explicit TByteReader(QIODevice& ADevice) : FDevice(ADevice) {}

  qint64 Remaining() const {
    return FDevice.isSequential() ? FDevice.bytesAvailable() : FDevice.size() - FDevice.pos();
  }
  QByteArray Read(qint64 N) {
    if (N < 0 || N > Remaining()) throw EReadError(ReadErrorText());
    QByteArray b = FDevice.read(N);
    if (b.size() != N) throw EReadError(ReadErrorText());
    return b;
  }
  quint8 Byte() {
    char c;
    if (!FDevice.getChar(&c)) throw EReadError(ReadErrorText());
    return static_cast<quint8>(c);
  }
  quint8 PeekByte() {
    char c;
    if (FDevice.peek(&c, 1) != 1) throw EReadError(ReadErrorText());
    return static_cast<quint8>(c);
  }
  quint64 Unsigned(int Bytes) {
    const QByteArray b = Read(Bytes);
    quint64 v = 0;
    for (int i = Bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<quint8>(b[i]);
    return v;
  }
  qint64 Signed(int Bytes) {
    const quint64 u = Unsigned(Bytes);
    if (Bytes == 8) return static_cast<qint64>(u);
    const quint64 sign = quint64(1) << (Bytes * 8 - 1);
    return static_cast<qint64>((u ^ sign) - sign);
  }
  // A 4-byte length, never negative and never more than the bytes left
  // (times the size of one unit).
  qint64 Length(int UnitSize) {
    const qint64 n = Signed(4);
    if (n < 0) throw EReadError(InvalidFormatText());
    if (n * UnitSize > Remaining()) throw EReadError(ReadErrorText());
    return n;
  }
  QByteArray ShortBytes() { return Read(Byte()); }
  // Names and identifiers are UTF-8.
  QString ShortString() { return QString::fromUtf8(ShortBytes()); }

private:
  QIODevice& FDevice;
};

TStreamValue ReadValue(TByteReader& R, int Depth);

// Properties of a collection item or an object, up to the empty name.
void ReadNamedValues(TByteReader& R, int Depth, QStringList& Names, std::vector<TStreamValue>& Values) {
  for (;;) {
    const QString name = R.ShortString();
    if (name.isEmpty()) return;
    Names.append(name);
    Values.push_back(ReadValue(R, Depth));
  }
}

TStreamValue ReadValue(TByteReader& R, int Depth) {
  if (Depth > kMaxDepth) TooDeep();
  TStreamValue v;
  v.Type = static_cast<TValueType>(R.Byte());
  switch (v.Type) {
    case vaList:
      while (R.PeekByte() != vaNull) v.Items.push_back(ReadValue(R, Depth + 1));
      R.Byte();
      break;
    case vaInt8: v.Int = R.Signed(1); break;
    case vaInt16: v.Int = R.Signed(2); break;
    case vaInt32: v.Int = R.Signed(4); break;
    case vaInt64: v.Int = R.Signed(8); break;
    case vaExtended: {
      const QByteArray b = R.Read(10);
      v.Float = ExtendedToDouble(reinterpret_cast<const unsigned char*>(b.constData()));
      break;
    }
    case vaSingle: {
      const quint32 bits = static_cast<quint32>(R.Unsigned(4));
      v.Float = std::bit_cast<float>(bits);
      break;
    }
    case vaDate: {
      const quint64 bits = R.Unsigned(8);
      v.Float = std::bit_cast<double>(bits);
      break;
    }
    case vaCurrency: v.Int = R.Signed(8); break;
    case vaString: v.Text = QString::fromLatin1(R.ShortBytes()); break;
    case vaLString: v.Text = QString::fromLatin1(R.Read(R.Length(1))); break;
    case vaWString: {
      const QByteArray b = R.Read(R.Length(2) * 2);
      v.Text.resize(b.size() / 2);
      for (qsizetype i = 0; i < v.Text.size(); ++i)
        v.Text[i] = QChar(static_cast<char16_t>(static_cast<quint8>(b[2 * i]) | (static_cast<quint8>(b[2 * i + 1]) << 8)));
      break;
    }
    case vaIdent: v.Text = R.ShortString(); break;
    case vaFalse:
    case vaTrue:
    case vaNil: break;
    case vaBinary: v.Bytes = R.Read(R.Length(1)); break;
    case vaSet:
      for (;;) {
        const QString name = R.ShortString();
        if (name.isEmpty()) break;
        v.Names.append(name);
      }
      break;
    case vaCollection:
      while (R.PeekByte() != vaNull) {
        if (Depth + 1 > kMaxDepth) TooDeep();
        TCollectionItem item;
        if (IsIntType(static_cast<TValueType>(R.PeekByte()))) {
          item.HasIndex = true;
          item.Index = ReadValue(R, Depth + 1).Int;
        }
        if (R.Byte() != vaList) throw EReadError(InvalidFormatText());
        ReadNamedValues(R, Depth + 1, item.Names, item.Values);
        v.Elements.push_back(std::move(item));
      }
      R.Byte();
      break;
    default: throw EReadError(InvalidFormatText());
  }
  return v;
}

// The head of an object: optional prefix (flags, child position), class
// name and name.
struct TObjectHead {
  int Flags = 0;
  bool HasPosition = false;
  qint64 Position = 0;
  QString ClassName;
  QString Name;
};

enum : int { ffInherited = 1, ffChildPos = 2, ffInline = 4 };

TObjectHead ReadObjectHead(TByteReader& R) {
  TObjectHead h;
  if ((R.PeekByte() & 0xF0) == 0xF0) {
    h.Flags = R.Byte() & 0x0F;
    if (h.Flags & ffChildPos) {
      const TStreamValue pos = ReadValue(R, 0);
      if (!IsIntType(pos.Type)) throw EReadError(InvalidFormatText());
      h.HasPosition = true;
      h.Position = pos.Int;
    }
  }
  h.ClassName = R.ShortString();
  h.Name = R.ShortString();
  return h;
}

void ReadSignature(TByteReader& R) {
  if (R.Remaining() < 4 || R.Read(4) != kSignature) throw EReadError(InvalidFormatText());
}

// --- Writing bytes --------------------------------------------------------------

class TByteWriter {
public:
  QByteArray Data;

  void Byte(quint8 B) { Data.append(static_cast<char>(B)); }
  void Unsigned(quint64 V, int Bytes) {
    for (int i = 0; i < Bytes; ++i) Byte(static_cast<quint8>(V >> (8 * i)));
  }
  void ShortBytes(const QByteArray& B) {
    if (B.size() > 255) throw EStreamError(QStringLiteral("Identifier too long: %1").arg(QString::fromUtf8(B.left(64))));
    Byte(static_cast<quint8>(B.size()));
    Data.append(B);
  }
  void ShortString(const QString& S) { ShortBytes(S.toUtf8()); }
  void Length(qsizetype N) {
    if (N > INT_MAX) throw EStreamError(QStringLiteral("Value too long for the stream"));
    Unsigned(static_cast<quint32>(N), 4);
  }
  void Value(const TStreamValue& V);
  void Head(const TObjectHead& H) {
    if (H.Flags) {
      Byte(static_cast<quint8>(0xF0 | H.Flags));
      if (H.Flags & ffChildPos) Value(IntValue(H.Position));
    }
    ShortString(H.ClassName);
    ShortString(H.Name);
  }
};

void TByteWriter::Value(const TStreamValue& V) {
  Byte(V.Type);
  switch (V.Type) {
    case vaList:
      for (const TStreamValue& item : V.Items) Value(item);
      Byte(vaNull);
      break;
    case vaInt8: Unsigned(static_cast<quint64>(V.Int), 1); break;
    case vaInt16: Unsigned(static_cast<quint64>(V.Int), 2); break;
    case vaInt32: Unsigned(static_cast<quint64>(V.Int), 4); break;
    case vaInt64:
    case vaCurrency: Unsigned(static_cast<quint64>(V.Int), 8); break;
    case vaExtended: {
      unsigned char b[10];
      DoubleToExtended(V.Float, b);
      Data.append(reinterpret_cast<const char*>(b), 10);
      break;
    }
    case vaSingle: Unsigned(std::bit_cast<quint32>(static_cast<float>(V.Float)), 4); break;
    case vaDate: Unsigned(std::bit_cast<quint64>(V.Float), 8); break;
    case vaString: ShortBytes(V.Text.toLatin1()); break;
    case vaLString: {
      const QByteArray b = V.Text.toLatin1();
      Length(b.size());
      Data.append(b);
      break;
    }
    case vaWString:
      Length(V.Text.size());
      for (QChar c : V.Text) Unsigned(c.unicode(), 2);
      break;
    case vaIdent: ShortString(V.Text); break;
    case vaBinary:
      Length(V.Bytes.size());
      Data.append(V.Bytes);
      break;
    case vaSet:
      for (const QString& n : V.Names) ShortString(n);
      Byte(0);
      break;
    case vaCollection:
      for (const TCollectionItem& item : V.Elements) {
        if (item.HasIndex) Value(IntValue(item.Index));
        Byte(vaList);
        for (qsizetype i = 0; i < item.Names.size(); ++i) {
          ShortString(item.Names[i]);
          Value(item.Values[static_cast<size_t>(i)]);
        }
        Byte(vaNull);
      }
      Byte(vaNull);
      break;
    default: break;  // false, true, nil: the type byte alone
  }
}

// --- Colours ------------------------------------------------------------------------

struct TColourName {
  const char* Name;
  qint64 Value;
};
// Colours as the stream names them: 0x00BBGGRR.
constexpr TColourName kColours[] = {
    {"clBlack", 0x000000},  {"clMaroon", 0x000080}, {"clGreen", 0x008000},   {"clOlive", 0x008080},
    {"clNavy", 0x800000},   {"clPurple", 0x800080}, {"clTeal", 0x808000},    {"clGray", 0x808080},
    {"clSilver", 0xC0C0C0}, {"clRed", 0x0000FF},    {"clLime", 0x00FF00},    {"clYellow", 0x00FFFF},
    {"clBlue", 0xFF0000},   {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},   {"clWhite", 0xFFFFFF},
    {"clNone", 0x1FFFFFFF},
};
constexpr qint64 kColourNone = 0x1FFFFFFF;

TStreamValue ColourValue(const QColor& C) {
  const qint64 v = C.isValid() ? (C.red() | (C.green() << 8) | (qint64(C.blue()) << 16)) : kColourNone;
  for (const TColourName& n : kColours)
    if (n.Value == v) return IdentValue(QString::fromLatin1(n.Name));
  return IntValue(v);
}

bool ColourFromValue(const TStreamValue& V, QColor& C) {
  qint64 v;
  if (V.Type == vaIdent) {
    bool found = false;
    for (const TColourName& n : kColours)
      if (V.Text.compare(QLatin1String(n.Name), Qt::CaseInsensitive) == 0) {
        v = n.Value;
        found = true;
      }
    if (!found) return false;
  } else if (IsIntType(V.Type)) {
    v = V.Int;
  } else {
    return false;
  }
  // Anything outside plain RGB (none, system colours) has no colour here.
  C = (v < 0 || v > 0xFFFFFF) ? QColor() : QColor(int(v & 0xFF), int((v >> 8) & 0xFF), int((v >> 16) & 0xFF));
  return true;
}

// --- Properties ---------------------------------------------------------------------

bool IsToolkitClass(const QMetaObject* M) { return M->className()[0] == 'Q'; }

// The published properties of a class, inherited ones first, and the same
// by name. Classes do not change while the program runs: each is worked out
// once (per thread, as streams may be read on other threads).
struct TPublishedProperty {
  QMetaProperty Property;
  QByteArray Name;                         // as it is written
  std::optional<QString> StoredCondition;  // the method's name
  int StoredMethod = -1;                   // its index; -1: none usable
  std::optional<QString> Default;          // the declared default
};

struct TPublished {
  QList<TPublishedProperty> Properties;
  QHash<QString, QMetaProperty> ByName;        // exact names
  QHash<QString, QMetaProperty> ByFoldedName;  // case ignored; the first of a name wins
};

const TPublished& Published(const QMetaObject* M) {
  // Node-based: what was handed out stays in place as others are added.
  thread_local std::unordered_map<const QMetaObject*, TPublished> cache;
  auto it = cache.find(M);
  if (it != cache.end()) return it->second;
  // Class infos by key; a subclass's entry hides its base's.
  QHash<QByteArray, QString> infos;
  for (int i = M->classInfoCount() - 1; i >= 0; --i) {
    const QByteArray key = M->classInfo(i).name();
    if (!infos.contains(key)) infos.insert(key, QString::fromUtf8(M->classInfo(i).value()));
  }
  QList<const QMetaObject*> chain;
  for (const QMetaObject* m = M; m; m = m->superClass()) chain.prepend(m);
  TPublished result;
  for (const QMetaObject* m : chain) {
    if (IsToolkitClass(m)) continue;
    for (int i = m->propertyOffset(); i < m->propertyCount(); ++i) {
      TPublishedProperty e;
      e.Property = m->property(i);
      e.Name = QByteArray(e.Property.name());
      if (const auto c = infos.constFind("stored:" + e.Name); c != infos.cend()) {
        e.StoredCondition = *c;
        const int index = M->indexOfMethod(QMetaObject::normalizedSignature((*c + QStringLiteral("()")).toLatin1()));
        if (index >= 0 && M->method(index).returnMetaType().id() == QMetaType::Bool) e.StoredMethod = index;
      }
      if (const auto d = infos.constFind("default:" + e.Name); d != infos.cend()) e.Default = *d;
      const QString name = QString::fromLatin1(e.Name);
      if (!result.ByName.contains(name)) result.ByName.insert(name, e.Property);
      if (!result.ByFoldedName.contains(name.toCaseFolded())) result.ByFoldedName.insert(name.toCaseFolded(), e.Property);
      result.Properties.append(std::move(e));
    }
  }
  return cache.emplace(M, std::move(result)).first->second;
}


bool IsObjectPointer(const QMetaProperty& P) { return P.metaType().flags().testFlag(QMetaType::PointerToQObject); }

QObject* ReadObjectPointer(const QMetaProperty& P, const QObject& Obj) {
  const QVariant v = P.read(&Obj);
  if (!v.isValid() || !v.constData()) return nullptr;
  return *static_cast<QObject* const*>(v.constData());
}

bool IsComponent(QObject* Obj) { return dynamic_cast<TComponent*>(Obj) != nullptr; }

// The published property of that name (case ignored), or an invalid one.
QMetaProperty FindPublished(const QMetaObject* M, const QString& Name) {
  const TPublished& published = Published(M);
  if (auto it = published.ByName.find(Name); it != published.ByName.end()) return *it;
  return published.ByFoldedName.value(Name.toCaseFolded());
}

// Whether a published property is written now: its stored condition,
// where it has one.
bool StoredNow(QObject& Obj, const TPublishedProperty& E) {
  if (!E.StoredCondition) return true;
  const QMetaObject* m = Obj.metaObject();
  if (E.StoredMethod < 0)
    throw Exception(QStringLiteral("Stored condition %1 of %2.%3 is not an invokable method returning bool")
                        .arg(*E.StoredCondition, QLatin1String(m->className()), QLatin1String(E.Name)));
  bool stored = true;
  m->method(E.StoredMethod).invoke(&Obj, Qt::DirectConnection, Q_RETURN_ARG(bool, stored));
  return stored;
}

bool IsIntMetaType(int Id) {
  switch (Id) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar: return true;
    default: return false;
  }
}

// The integer held by an enumeration or flags variant.
int EnumInt(const QVariant& V) {
  const QMetaType t = V.metaType();
  if (t.sizeOf() == 1) return *static_cast<const qint8*>(V.constData());
  if (t.sizeOf() == 2) return *static_cast<const qint16*>(V.constData());
  if (t.sizeOf() == 8) return static_cast<int>(*static_cast<const qint64*>(V.constData()));
  return *static_cast<const int*>(V.constData());
}

QVariant EnumVariant(QMetaType T, int Value) {
  switch (T.sizeOf()) {
    case 1: {
      const qint8 v = static_cast<qint8>(Value);
      return QVariant(T, &v);
    }
    case 2: {
      const qint16 v = static_cast<qint16>(Value);
      return QVariant(T, &v);
    }
    case 8: {
      const qint64 v = Value;
      return QVariant(T, &v);
    }
    default: return QVariant(T, &Value);
  }
}

TStreamValue SetValue(const QMetaEnum& E, int Value) {
  TStreamValue r;
  r.Type = vaSet;
  for (int i = 0; i < E.keyCount(); ++i) {
    const int bit = E.value(i);
    if (bit != 0 && (Value & bit) == bit && std::popcount(static_cast<unsigned>(bit)) == 1)
      r.Names.append(QString::fromLatin1(E.key(i)));
  }
  return r;
}

// The value a default text stands for, as the property's type; false when
// the text does not fit the type.
bool DefaultVariant(const QMetaProperty& P, const QString& Text, QVariant& Out) {
  if (P.isEnumType()) {
    const QMetaEnum e = P.enumerator();
    bool ok = false;
    int d = 0;
    if (P.isFlagType() && Text.trimmed().isEmpty())
      ok = true;
    else
      d = P.isFlagType() ? e.keysToValue(Text.toLatin1().constData(), &ok) : e.keyToValue(Text.toLatin1().constData(), &ok);
    if (!ok) return false;
    Out = EnumVariant(P.metaType(), d);
    return true;
  }
  const int id = P.metaType().id();
  if (id == QMetaType::Bool) {
    Out = Text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
  } else if (IsIntMetaType(id)) {
    Out = Text.toLongLong();
  } else if (id == QMetaType::Float || id == QMetaType::Double) {
    try {
      Out = StrToFloat(Text);
    } catch (const EConvertError&) {
      return false;
    }
  } else if (id == QMetaType::QString) {
    Out = Text;
  } else if (id == QMetaType::QColor) {
    QColor c;
    TStreamValue v = IdentValue(Text);
    bool isInt = false;
    const qint64 n = Text.toLongLong(&isInt);
    if (isInt) v = IntValue(n);
    if (!ColourFromValue(v, c)) return false;
    Out = c;
  } else {
    return false;
  }
  return Out.convert(P.metaType());
}

bool SameValue(const QMetaProperty& P, const QVariant& A, const QVariant& B) {
  if (P.isEnumType()) return EnumInt(A) == EnumInt(B);
  return A == B;
}

// Whether Value equals the declared default Text.
bool EqualsDefault(const QMetaProperty& P, const QVariant& Value, const QString& Text) {
  QVariant d;
  return DefaultVariant(P, Text, d) && SameValue(P, Value, d);
}

// The value a property is written with; false when it is not written.
bool PropertyValue(QObject& Obj, const TPublishedProperty& E, TStreamValue& Out) {
  const QMetaProperty& P = E.Property;
  const QVariant v = P.read(&Obj);
  const QMetaObject* m = Obj.metaObject();
  if (E.Default && EqualsDefault(P, v, *E.Default)) return false;
  const bool zeroRule = !E.Default;
  if (P.isEnumType()) {
    const QMetaEnum e = P.enumerator();
    const int n = EnumInt(v);
    if (P.isFlagType()) {
      Out = SetValue(e, n);
    } else {
      const char* key = e.valueToKey(n);
      Out = key ? IdentValue(QString::fromLatin1(key)) : IntValue(n);
    }
    return true;
  }
  const int id = P.metaType().id();
  if (id == QMetaType::Bool) {
    Out = SimpleValue(v.toBool() ? vaTrue : vaFalse);
    return true;
  }
  if (IsIntMetaType(id)) {
    if (id == QMetaType::ULongLong || id == QMetaType::ULong)
      Out = IntValue(static_cast<qint64>(v.toULongLong()));
    else
      Out = IntValue(v.toLongLong());
    return true;
  }
  if (id == QMetaType::Float || id == QMetaType::Double) {
    const double d = v.toDouble();
    if (zeroRule && d == 0) return false;
    Out.Type = id == QMetaType::Float ? vaSingle : vaExtended;
    Out.Float = d;
    return true;
  }
  if (id == QMetaType::QString) {
    const QString s = v.toString();
    if (zeroRule && s.isEmpty()) return false;
    Out = StringValue(s);
    return true;
  }
  if (id == QMetaType::QStringList) {
    const QStringList l = v.toStringList();
    if (zeroRule && l.isEmpty()) return false;
    Out = SimpleValue(vaList);
    for (const QString& s : l) Out.Items.push_back(StringValue(s));
    return true;
  }
  if (id == QMetaType::QByteArray) {
    const QByteArray b = v.toByteArray();
    if (zeroRule && b.isEmpty()) return false;
    Out = SimpleValue(vaBinary);
    Out.Bytes = b;
    return true;
  }
  if (id == QMetaType::QColor) {
    Out = ColourValue(v.value<QColor>());
    return true;
  }
  throw Exception(QStringLiteral("Property %1.%2 has a type the component stream cannot hold (%3)")
                      .arg(QLatin1String(m->className()), QLatin1String(P.name()), QLatin1String(P.typeName())));
}

void WriteProperties(TByteWriter& W, QObject& Obj, const QByteArray& Prefix, int Depth) {
  for (const TPublishedProperty& e : Published(Obj.metaObject()).Properties) {
    const QMetaProperty& p = e.Property;
    if (!p.isStored() || !p.isReadable()) continue;
    const QByteArray name = Prefix.isEmpty() ? e.Name : Prefix + e.Name;
    if (IsObjectPointer(p)) {
      QObject* target = ReadObjectPointer(p, Obj);
      if (!target || !StoredNow(Obj, e)) continue;
      if (IsComponent(target)) {
        const QString ref = ComponentReference(target);
        if (!p.isWritable() || ref.isEmpty()) continue;
        W.ShortBytes(name);
        W.Value(IdentValue(ref));
      } else if (Depth < kMaxSubObjectDepth) {
        WriteProperties(W, *target, name + '.', Depth + 1);
      }
      continue;
    }
    if (!p.isWritable() || !StoredNow(Obj, e)) continue;
    TStreamValue value;
    if (!PropertyValue(Obj, e, value)) continue;
    W.ShortBytes(name);
    W.Value(value);
  }
}

// --- Pending references ------------------------------------------------------------------

struct TFixup {
  QPointer<QObject> Instance;
  QByteArray Property;
  QString Reference;
};

QList<TFixup>& Fixups() {
  static QList<TFixup> list;
  return list;
}

// The components references may start from, in the order they were
// registered (the first of a name is the one found), with indexes by
// object and by name. A component freed while registered leaves a null
// entry behind.
struct TGlobalComponents {
  QList<QPointer<QObject>> List;
  QHash<QObject*, QPointer<QObject>> Members;
  QHash<QString, QPointer<QObject>> ByName;  // by ComponentNameKey of the name at registration

  bool Contains(QObject* C) const {
    auto it = Members.find(C);
    return it != Members.end() && it->data() == C;
  }
};

TGlobalComponents& GlobalComponents() {
  static TGlobalComponents globals;
  return globals;
}

QObject* OwnerOf(QObject* Obj) {
  if (auto* c = dynamic_cast<TComponent*>(Obj)) return c->Owner();
  return nullptr;
}

QObject* FindReferenced(QObject* Holder, const QString& Reference) {
  const qsizetype dot = Reference.indexOf(QLatin1Char('.'));
  QObject* root;
  QString name;
  if (dot < 0) {
    root = OwnerOf(Holder);
    name = Reference;
  } else {
    const QString rootName = Reference.left(dot);
    name = Reference.mid(dot + 1);
    root = FindGlobalComponent(rootName);
    QObject* owner = OwnerOf(Holder);
    if (!root && owner && owner->objectName().compare(rootName, Qt::CaseInsensitive) == 0) root = owner;
  }
  if (!root) return nullptr;
  if (TComponent* c = FindComponent(root, name)) return c->Self();
  // A reference to a component of an unnamed owner is written with its name
  // alone, also from a component its sibling owns (a caption naming the
  // page of its picture): it is looked for among the owners further out.
  int depth = 0;
  if (dot < 0)
    for (QObject* outer = OwnerOf(root); outer && outer != root && ++depth <= 8; outer = OwnerOf(outer))
      if (outer->objectName().isEmpty())
        if (TComponent* c = FindComponent(outer, name)) return c->Self();
  return nullptr;
}

void AddFixup(QObject& Obj, const QMetaProperty& P, const QString& Reference) {
  // A later value of the same property replaces an earlier one.
  QList<TFixup>& list = Fixups();
  for (qsizetype i = list.size() - 1; i >= 0; --i)
    if (list[i].Instance == &Obj && list[i].Property == P.name()) list.removeAt(i);
  list.append(TFixup{QPointer<QObject>(&Obj), QByteArray(P.name()), Reference});
}

// --- Setting properties from values ---------------------------------------------------------

[[noreturn]] void InvalidValue() { throw EReadError(InvalidValueText()); }

bool FindEnumKey(const QMetaEnum& E, const QString& Key, int& Value) {
  for (int i = 0; i < E.keyCount(); ++i)
    if (Key.compare(QLatin1String(E.key(i)), Qt::CaseInsensitive) == 0) {
      Value = E.value(i);
      return true;
    }
  return false;
}

bool IsStringType(TValueType T) { return T == vaString || T == vaLString || T == vaWString; }

bool IntInRange(int Id, qint64 V) {
  switch (Id) {
    case QMetaType::Int: return V >= INT_MIN && V <= INT_MAX;
    case QMetaType::UInt: return V >= 0 && V <= qint64(UINT_MAX);
    case QMetaType::Short: return V >= SHRT_MIN && V <= SHRT_MAX;
    case QMetaType::UShort: return V >= 0 && V <= USHRT_MAX;
    case QMetaType::Char:
    case QMetaType::SChar: return V >= SCHAR_MIN && V <= SCHAR_MAX;
    case QMetaType::UChar: return V >= 0 && V <= UCHAR_MAX;
    case QMetaType::ULong:
    case QMetaType::ULongLong: return V >= 0;
    default: return true;
  }
}

double FloatOf(const TStreamValue& V) {
  if (IsIntType(V.Type)) return static_cast<double>(V.Int);
  if (V.Type == vaExtended || V.Type == vaSingle || V.Type == vaDate) return V.Float;
  if (V.Type == vaCurrency) return static_cast<double>(V.Int) / 10000.0;
  InvalidValue();
}

QVariant VariantFor(const QMetaProperty& P, const TStreamValue& V) {
  const QMetaType t = P.metaType();
  if (P.isEnumType()) {
    const QMetaEnum e = P.enumerator();
    int n = 0;
    if (P.isFlagType()) {
      if (V.Type != vaSet) InvalidValue();
      for (const QString& name : V.Names) {
        int bit;
        if (!FindEnumKey(e, name, bit)) InvalidValue();
        n |= bit;
      }
    } else if (V.Type == vaIdent) {
      if (!FindEnumKey(e, V.Text, n)) InvalidValue();
    } else if (IsIntType(V.Type)) {
      if (!e.valueToKey(static_cast<int>(V.Int)) || V.Int < INT_MIN || V.Int > INT_MAX) InvalidValue();
      n = static_cast<int>(V.Int);
    } else {
      InvalidValue();
    }
    return EnumVariant(t, n);
  }
  const int id = t.id();
  if (id == QMetaType::Bool) {
    if (V.Type != vaTrue && V.Type != vaFalse) InvalidValue();
    return QVariant(V.Type == vaTrue);
  }
  if (IsIntMetaType(id)) {
    if (!IsIntType(V.Type) || !IntInRange(id, V.Int)) InvalidValue();
    QVariant r(V.Int);
    r.convert(t);
    return r;
  }
  if (id == QMetaType::Float) return QVariant(static_cast<float>(FloatOf(V)));
  if (id == QMetaType::Double) return QVariant(FloatOf(V));
  if (id == QMetaType::QString) {
    if (!IsStringType(V.Type)) InvalidValue();
    return QVariant(V.Text);
  }
  if (id == QMetaType::QStringList) {
    if (V.Type != vaList) InvalidValue();
    QStringList l;
    for (const TStreamValue& item : V.Items) {
      if (!IsStringType(item.Type)) InvalidValue();
      l.append(item.Text);
    }
    return QVariant(l);
  }
  if (id == QMetaType::QByteArray) {
    if (V.Type != vaBinary) InvalidValue();
    return QVariant(V.Bytes);
  }
  if (id == QMetaType::QColor) {
    QColor c;
    if (!ColourFromValue(V, c)) InvalidValue();
    return QVariant(c);
  }
  InvalidValue();
}

void ApplyProperty(QObject& Obj, const QString& Path, qsizetype From, const TStreamValue& V) {
  const qsizetype dot = Path.indexOf(QLatin1Char('.'), From);
  const QString head = Path.mid(From, dot < 0 ? -1 : dot - From);
  const QMetaProperty p = FindPublished(Obj.metaObject(), head);
  if (!p.isValid() || !p.isStored())
    throw EReadError(QStringLiteral("Property %1 does not exist").arg(Path));
  if (dot >= 0) {
    QObject* sub = IsObjectPointer(p) ? ReadObjectPointer(p, Obj) : nullptr;
    if (!sub || IsComponent(sub)) throw EReadError(QStringLiteral("Property %1 does not exist").arg(Path));
    ApplyProperty(*sub, Path, dot + 1, V);
    return;
  }
  if (!p.isWritable()) InvalidValue();
  if (IsObjectPointer(p)) {
    if (V.Type == vaNil) {
      QObject* none = nullptr;
      if (!p.write(&Obj, QVariant(p.metaType(), &none))) InvalidValue();
    } else if (V.Type == vaIdent) {
      AddFixup(Obj, p, V.Text);
    } else {
      InvalidValue();
    }
    return;
  }
  if (!p.write(&Obj, VariantFor(p, V))) InvalidValue();
}

// --- Text form: writing ---------------------------------------------------------------

QByteArray FloatText(double D, bool Single) {
  if (std::isnan(D)) return "+nan";
  if (std::isinf(D)) return D > 0 ? "+inf" : "-inf";
  char buf[64];
  const auto res = Single ? std::to_chars(buf, buf + sizeof buf, static_cast<float>(D))
                          : std::to_chars(buf, buf + sizeof buf, D);
  QByteArray s(buf, static_cast<qsizetype>(res.ptr - buf));
  if (!s.contains('.') && !s.contains('e')) s += ".0";
  return s;
}

QByteArray QuotedText(const QString& S) {
  if (S.isEmpty()) return "''";
  QByteArray out;
  bool inQuote = false;
  for (QChar c : S) {
    const char16_t u = c.unicode();
    if (u >= 32 && u < 127) {
      if (!inQuote) out += '\'';
      inQuote = true;
      out += static_cast<char>(u);
      if (u == '\'') out += '\'';
    } else {
      if (inQuote) out += '\'';
      inQuote = false;
      out += '#' + QByteArray::number(static_cast<int>(u));
    }
  }
  if (inQuote) out += '\'';
  return out;
}

QByteArray Indent(int N) { return QByteArray(N, ' '); }

void TextValue(QByteArray& Out, const TStreamValue& V, int Ind) {
  switch (V.Type) {
    case vaInt8:
    case vaInt16:
    case vaInt32:
    case vaInt64: Out += QByteArray::number(V.Int); break;
    case vaExtended: Out += FloatText(V.Float, false); break;
    case vaSingle: Out += FloatText(V.Float, true) + 's'; break;
    case vaDate: Out += FloatText(V.Float, false) + 'd'; break;
    case vaCurrency: {
      const quint64 a = V.Int < 0 ? 0 - static_cast<quint64>(V.Int) : static_cast<quint64>(V.Int);
      Out += (V.Int < 0 ? "-" : "") + QByteArray::number(a / 10000) + '.' +
             QByteArray::number(a % 10000).rightJustified(4, '0') + 'c';
      break;
    }
    case vaString:
    case vaLString:
    case vaWString: Out += QuotedText(V.Text); break;
    case vaIdent: Out += V.Text.toUtf8(); break;
    case vaFalse: Out += "False"; break;
    case vaTrue: Out += "True"; break;
    case vaNil: Out += "nil"; break;
    case vaBinary: {
      Out += '{';
      const QByteArray hex = V.Bytes.toHex().toUpper();
      for (qsizetype i = 0; i < hex.size(); i += 64) Out += "\r\n" + Indent(Ind + 2) + hex.mid(i, 64);
      Out += '}';
      break;
    }
    case vaSet: Out += '[' + V.Names.join(QStringLiteral(", ")).toUtf8() + ']'; break;
    case vaList:
      Out += '(';
      for (const TStreamValue& item : V.Items) {
        Out += "\r\n" + Indent(Ind + 2);
        TextValue(Out, item, Ind + 2);
      }
      Out += ')';
      break;
    case vaCollection:
      Out += '<';
      for (const TCollectionItem& item : V.Elements) {
        Out += "\r\n" + Indent(Ind + 2) + "item";
        if (item.HasIndex) Out += " [" + QByteArray::number(item.Index) + ']';
        for (qsizetype i = 0; i < item.Names.size(); ++i) {
          Out += "\r\n" + Indent(Ind + 4) + item.Names[i].toUtf8() + " = ";
          TextValue(Out, item.Values[static_cast<size_t>(i)], Ind + 4);
        }
        Out += "\r\n" + Indent(Ind + 2) + "end";
      }
      Out += '>';
      break;
    default: break;
  }
}

void ObjectToText(TByteReader& R, QByteArray& Out, int Ind, int Depth) {
  if (Depth > kMaxDepth) TooDeep();
  const TObjectHead h = ReadObjectHead(R);
  Out += Indent(Ind);
  Out += (h.Flags & ffInherited) ? "inherited " : (h.Flags & ffInline) ? "inline " : "object ";
  if (!h.Name.isEmpty()) Out += h.Name.toUtf8() + ": ";
  Out += h.ClassName.toUtf8();
  if (h.HasPosition) Out += " [" + QByteArray::number(h.Position) + ']';
  Out += "\r\n";
  for (;;) {
    const QString name = R.ShortString();
    if (name.isEmpty()) break;
    Out += Indent(Ind + 2) + name.toUtf8() + " = ";
    TextValue(Out, ReadValue(R, 0), Ind + 2);
    Out += "\r\n";
  }
  while (R.PeekByte() != vaNull) ObjectToText(R, Out, Ind + 2, Depth + 1);
  R.Byte();
  Out += Indent(Ind) + "end\r\n";
}

// --- Text form: reading -------------------------------------------------------------------

enum TTokenKind { tkEOF, tkIdent, tkString, tkNumber, tkSymbol };

class TTextParser {
public:
  explicit TTextParser(QIODevice& ADevice) : FDevice(ADevice) {}

  TTokenKind Kind = tkEOF;
  QByteArray Token;  // identifier, number text
  QString Text;      // string value
  char Symbol = 0;

  [[noreturn]] void Error(const QString& What) const {
    throw EParserError(QStringLiteral("%1 on line %2").arg(What).arg(FLine));
  }

  void Next() {
    char c;
    for (;;) {
      if (!Get(c)) {
        Kind = tkEOF;
        return;
      }
      if (c == '\n') ++FLine;
      if (c != ' ' && c != '\t' && c != '\r' && c != '\n') break;
    }
    const auto uc = static_cast<unsigned char>(c);
    if (std::isalpha(uc) || c == '_' || uc >= 0x80) {
      Kind = tkIdent;
      Token = QByteArray(1, c);
      while (Peek(c)) {
        const auto u = static_cast<unsigned char>(c);
        if (!(std::isalnum(u) || c == '_' || c == '.' || u >= 0x80)) break;
        Get(c);
        Token += c;
        if (Token.size() > 255) Error(QStringLiteral("Identifier too long"));
      }
    } else if (std::isdigit(uc) || c == '-' || c == '+') {
      Kind = tkNumber;
      Token = QByteArray(1, c);
      while (Peek(c)) {
        const auto u = static_cast<unsigned char>(c);
        const char last = Token.back();
        if (!(std::isalnum(u) || c == '.' || ((c == '-' || c == '+') && (last == 'e' || last == 'E')))) break;
        Get(c);
        Token += c;
        if (Token.size() > 64) Error(QStringLiteral("Invalid number"));
      }
    } else if (c == '\'' || c == '#') {
      Kind = tkString;
      Text.clear();
      ReadString(c);
    } else if (std::strchr("=:[](){}<>,", c)) {
      Kind = tkSymbol;
      Symbol = c;
    } else {
      Error(QStringLiteral("Invalid character %1").arg(static_cast<int>(uc)));
    }
  }

  bool IsSymbol(char C) const { return Kind == tkSymbol && Symbol == C; }
  bool IsIdent(const char* S) const { return Kind == tkIdent && Token.compare(S, Qt::CaseInsensitive) == 0; }
  void Expect(char C) const {
    if (!IsSymbol(C)) Error(QStringLiteral("'%1' expected").arg(QLatin1Char(C)));
  }
  QString Ident() const {
    if (Kind != tkIdent) Error(QStringLiteral("Identifier expected"));
    return QString::fromUtf8(Token);
  }

  // The hexadecimal digits after "{", up to "}".
  QByteArray ReadBinary() {
    QByteArray hex;
    char c;
    for (;;) {
      if (!Get(c)) Error(QStringLiteral("Invalid binary value"));
      if (c == '}') break;
      if (c == '\n') ++FLine;
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
      if (!std::isxdigit(static_cast<unsigned char>(c))) Error(QStringLiteral("Invalid binary value"));
      hex += c;
    }
    if (hex.size() % 2) Error(QStringLiteral("Invalid binary value"));
    return QByteArray::fromHex(hex);
  }

  // After the closing "end": blanks and the line end.
  void FinishLine() {
    char c;
    while (Peek(c) && (c == ' ' || c == '\t')) Get(c);
    if (Peek(c) && c == '\r') Get(c);
    if (Peek(c) && c == '\n') Get(c);
  }

private:
  bool Get(char& C) { return FDevice.getChar(&C); }
  bool Peek(char& C) { return FDevice.peek(&C, 1) == 1; }

  // Quoted runs ('' for a quote, UTF-8 inside) and #<code> characters,
  // directly after each other. C is the first character, already read.
  void ReadString(char C) {
    for (;;) {
      if (C == '\'') {
        QByteArray run;
        for (;;) {
          char d;
          if (!Get(d) || d == '\r' || d == '\n') Error(QStringLiteral("Unterminated string"));
          if (d == '\'') {
            if (!Peek(d) || d != '\'') break;
            Get(d);
          }
          run += d;
        }
        Text += QString::fromUtf8(run);
      } else {
        QByteArray digits;
        char d;
        while (Peek(d) && std::isdigit(static_cast<unsigned char>(d))) {
          Get(d);
          digits += d;
          if (digits.size() > 5) Error(QStringLiteral("Invalid string constant"));
        }
        const int code = digits.toInt();
        if (digits.isEmpty() || code > 0xFFFF) Error(QStringLiteral("Invalid string constant"));
        Text += QChar(static_cast<char16_t>(code));
      }
      if (!Peek(C) || (C != '\'' && C != '#')) return;
      Get(C);
    }
  }

  QIODevice& FDevice;
  int FLine = 1;
};

TStreamValue ParseNumber(const TTextParser& P) {
  QByteArray t = P.Token;
  char suffix = 0;
  const char last = static_cast<char>(std::tolower(static_cast<unsigned char>(t.back())));
  if (last == 's' || last == 'c' || last == 'd') {
    suffix = last;
    t.chop(1);
  }
  QByteArray body = t;
  if (body.startsWith('+')) body.remove(0, 1);
  const char* first = body.constData();
  const char* end = first + body.size();
  if (!suffix) {
    qint64 n = 0;
    const auto res = std::from_chars(first, end, n);
    if (res.ec == std::errc() && res.ptr == end) return IntValue(n);
  }
  TStreamValue v;
  if (suffix == 's') {
    float f = 0;
    const auto res = std::from_chars(first, end, f);
    if (body.isEmpty() || res.ec != std::errc() || res.ptr != end) P.Error(QStringLiteral("Invalid number"));
    v.Type = vaSingle;
    v.Float = f;
    return v;
  }
  double d = 0;
  const auto res = std::from_chars(first, end, d);
  if (body.isEmpty() || res.ec != std::errc() || res.ptr != end) P.Error(QStringLiteral("Invalid number"));
  if (suffix == 'c') {
    const double scaled = std::round(d * 10000.0);
    if (!(std::fabs(scaled) < 9.2e18)) P.Error(QStringLiteral("Invalid number"));
    v.Type = vaCurrency;
    v.Int = static_cast<qint64>(scaled);
    return v;
  }
  v.Type = suffix == 'd' ? vaDate : vaExtended;
  v.Float = d;
  return v;
}

// A value starting at the current token; the current token is left at the
// value's last token.
TStreamValue ParseValue(TTextParser& P, int Depth);

void ParseNamedValues(TTextParser& P, int Depth, QStringList& Names, std::vector<TStreamValue>& Values) {
  // Current token: the first name or "end".
  while (!P.IsIdent("end")) {
    if (P.Kind == tkEOF) P.Error(QStringLiteral("'end' expected"));
    Names.append(P.Ident());
    P.Next();
    P.Expect('=');
    P.Next();
    Values.push_back(ParseValue(P, Depth));
    P.Next();
  }
}

TStreamValue ParseValue(TTextParser& P, int Depth) {
  if (Depth > kMaxDepth) P.Error(QStringLiteral("Lists nested too deeply"));
  switch (P.Kind) {
    case tkNumber: return ParseNumber(P);
    case tkString: return StringValue(P.Text);
    case tkIdent:
      if (P.IsIdent("true")) return SimpleValue(vaTrue);
      if (P.IsIdent("false")) return SimpleValue(vaFalse);
      if (P.IsIdent("nil")) return SimpleValue(vaNil);
      return IdentValue(P.Ident());
    case tkSymbol: break;
    case tkEOF: P.Error(QStringLiteral("Unexpected end of text"));
  }
  TStreamValue v;
  if (P.IsSymbol('[')) {
    v.Type = vaSet;
    P.Next();
    if (P.IsSymbol(']')) return v;
    for (;;) {
      v.Names.append(P.Ident());
      P.Next();
      if (P.IsSymbol(']')) return v;
      P.Expect(',');
      P.Next();
    }
  }
  if (P.IsSymbol('(')) {
    v.Type = vaList;
    P.Next();
    while (!P.IsSymbol(')')) {
      v.Items.push_back(ParseValue(P, Depth + 1));
      P.Next();
    }
    return v;
  }
  if (P.IsSymbol('{')) {
    v.Type = vaBinary;
    v.Bytes = P.ReadBinary();
    return v;
  }
  if (P.IsSymbol('<')) {
    v.Type = vaCollection;
    P.Next();
    while (!P.IsSymbol('>')) {
      if (!P.IsIdent("item")) P.Error(QStringLiteral("'item' expected"));
      if (Depth + 1 > kMaxDepth) P.Error(QStringLiteral("Lists nested too deeply"));
      TCollectionItem item;
      P.Next();
      if (P.IsSymbol('[')) {
        P.Next();
        const TStreamValue index = P.Kind == tkNumber ? ParseNumber(P) : TStreamValue();
        if (!IsIntType(index.Type)) P.Error(QStringLiteral("Integer expected"));
        item.HasIndex = true;
        item.Index = index.Int;
        P.Next();
        P.Expect(']');
        P.Next();
      }
      ParseNamedValues(P, Depth + 1, item.Names, item.Values);
      v.Elements.push_back(std::move(item));
      P.Next();
    }
    return v;
  }
  P.Error(QStringLiteral("Invalid property value"));
}

// An object from its keyword to its "end"; the current token is left at
// that "end".
void ParseObject(TTextParser& P, TByteWriter& W, int Depth) {
  if (Depth > kMaxDepth) P.Error(QStringLiteral("Objects nested too deeply"));
  TObjectHead h;
  if (P.IsIdent("inherited"))
    h.Flags = ffInherited;
  else if (P.IsIdent("inline"))
    h.Flags = ffInline;
  else if (!P.IsIdent("object"))
    P.Error(QStringLiteral("'object' expected"));
  P.Next();
  const QString first = P.Ident();
  P.Next();
  if (P.IsSymbol(':')) {
    h.Name = first;
    P.Next();
    h.ClassName = P.Ident();
    P.Next();
  } else {
    h.ClassName = first;
  }
  if (P.IsSymbol('[')) {
    P.Next();
    const TStreamValue pos = P.Kind == tkNumber ? ParseNumber(P) : TStreamValue();
    if (!IsIntType(pos.Type)) P.Error(QStringLiteral("Integer expected"));
    h.Flags |= ffChildPos;
    h.HasPosition = true;
    h.Position = pos.Int;
    P.Next();
    P.Expect(']');
    P.Next();
  }
  W.Head(h);
  while (!P.IsIdent("end") && !P.IsIdent("object") && !P.IsIdent("inherited") && !P.IsIdent("inline")) {
    if (P.Kind == tkEOF) P.Error(QStringLiteral("'end' expected"));
    W.ShortString(P.Ident());
    P.Next();
    P.Expect('=');
    P.Next();
    W.Value(ParseValue(P, 0));
    P.Next();
  }
  W.Byte(vaNull);
  while (!P.IsIdent("end")) {
    ParseObject(P, W, Depth + 1);
    P.Next();
  }
  W.Byte(vaNull);
}

// A name the text form can carry: letters (any beyond ASCII too), digits
// and underscores, not starting with a digit; or no name at all.
bool IsValidComponentName(const QString& Name) {
  for (qsizetype i = 0; i < Name.size(); ++i) {
    const char16_t c = Name[i].unicode();
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
    if (!letter && !(i > 0 && c >= '0' && c <= '9')) return false;
  }
  return true;
}

void SetComponentName(QObject& Obj, const QString& Name) {
  if (!IsValidComponentName(Name)) throw EReadError(QStringLiteral("'%1' is not a valid component name").arg(Name));
  if (auto* c = dynamic_cast<TComponent*>(&Obj))
    c->SetName(Name);
  else
    Obj.setObjectName(Name);
}

struct TClassEntry {
  QString Name;
  const QMetaObject* Meta;
  TComponentFactory Factory;
};

QList<TClassEntry>& Classes() {
  static QList<TClassEntry> list;
  return list;
}

}  // namespace

// --- Extended floats ------------------------------------------------------------------

void DoubleToExtended(double Value, unsigned char Bytes[10]) {
  const quint64 bits = std::bit_cast<quint64>(Value);
  const bool negative = bits >> 63;
  const int exponent = static_cast<int>((bits >> 52) & 0x7FF);
  const quint64 fraction = bits & ((quint64(1) << 52) - 1);
  quint64 mantissa;
  int e80;
  if (exponent == 0x7FF) {  // infinity, NaN
    e80 = 0x7FFF;
    mantissa = (quint64(1) << 63) | (fraction << 11);
  } else if (exponent == 0) {
    if (fraction == 0) {
      e80 = 0;
      mantissa = 0;
    } else {  // a subnormal double is a normal extended
      const int shift = std::countl_zero(fraction);
      mantissa = fraction << shift;
      e80 = 16383 - 1074 + 63 - shift;
    }
  } else {
    e80 = exponent - 1023 + 16383;
    mantissa = (quint64(1) << 63) | (fraction << 11);
  }
  for (int i = 0; i < 8; ++i) Bytes[i] = static_cast<unsigned char>(mantissa >> (8 * i));
  const unsigned se = (negative ? 0x8000u : 0u) | static_cast<unsigned>(e80);
  Bytes[8] = static_cast<unsigned char>(se & 0xFF);
  Bytes[9] = static_cast<unsigned char>(se >> 8);
}

double ExtendedToDouble(const unsigned char Bytes[10]) {
  quint64 mantissa = 0;
  for (int i = 7; i >= 0; --i) mantissa = (mantissa << 8) | Bytes[i];
  const unsigned se = Bytes[8] | (unsigned(Bytes[9]) << 8);
  const bool negative = se & 0x8000;
  const int e = static_cast<int>(se & 0x7FFF);
  double r;
  if (e == 0x7FFF && (mantissa << 1) != 0) {
    // NaN: its sign and the top of its payload survive, so that a double
    // written as an extended reads back bit for bit.
    quint64 fraction = (mantissa << 1) >> 12;
    if (fraction == 0) fraction = quint64(1) << 51;
    return std::bit_cast<double>((negative ? quint64(1) << 63 : 0) | (quint64(0x7FF) << 52) | fraction);
  }
  if (e == 0x7FFF)
    r = std::numeric_limits<double>::infinity();
  else if (mantissa == 0)
    r = 0.0;
  else  // value = mantissa x 2^(e - 16383 - 63); exponent 0 counts as 1
    r = std::ldexp(static_cast<double>(mantissa), (e == 0 ? 1 : e) - 16383 - 63);
  return negative ? -r : r;
}

// --- Registry ---------------------------------------------------------------------------

void RegisterStreamableClass(const QMetaObject& AClass, TComponentFactory AFactory) {
  UnRegisterStreamableClass(AClass);
  Classes().append(TClassEntry{QString::fromLatin1(AClass.className()), &AClass, std::move(AFactory)});
}

void UnRegisterStreamableClass(const QMetaObject& AClass) {
  QList<TClassEntry>& list = Classes();
  for (qsizetype i = list.size() - 1; i >= 0; --i)
    if (list[i].Meta == &AClass) list.removeAt(i);
}

bool IsStreamableClass(const QString& AClassName) {
  for (const TClassEntry& e : Classes())
    if (e.Name.compare(AClassName, Qt::CaseInsensitive) == 0) return true;
  return false;
}

std::unique_ptr<QObject> CreateStreamableComponent(const QString& AClassName) {
  for (const TClassEntry& e : Classes())
    if (e.Name.compare(AClassName, Qt::CaseInsensitive) == 0) return std::unique_ptr<QObject>(e.Factory());
  throw EClassNotFound(QStringLiteral("Class %1 not found").arg(AClassName));
}

// --- References ---------------------------------------------------------------------------

bool RegisterGlobalComponent(QObject* AComponent) {
  TGlobalComponents& g = GlobalComponents();
  if (!AComponent || g.Contains(AComponent)) return false;
  g.List.append(AComponent);
  g.Members.insert(AComponent, AComponent);
  const QString key = ComponentNameKey(AComponent->objectName());
  if (!key.isEmpty() && g.ByName.value(key).isNull()) g.ByName.insert(key, AComponent);
  return true;
}

void UnRegisterGlobalComponent(QObject* AComponent) {
  TGlobalComponents& g = GlobalComponents();
  if (!AComponent || !g.Contains(AComponent)) return;
  g.Members.remove(AComponent);
  // Searched from the end: scopes give back the newest first.
  const qsizetype at = g.List.lastIndexOf(AComponent);
  if (at >= 0) g.List.removeAt(at);
  const QString key = ComponentNameKey(AComponent->objectName());
  if (auto it = g.ByName.find(key); it != g.ByName.end() && it->data() == AComponent) g.ByName.erase(it);
}

QObject* FindGlobalComponent(const QString& AName) {
  TGlobalComponents& g = GlobalComponents();
  const QString key = ComponentNameKey(AName);
  // The index names one registered component per name; one renamed since,
  // or given back, is looked for in the list.
  if (QObject* c = g.ByName.value(key);
      c && g.Contains(c) && c->objectName().compare(AName, Qt::CaseInsensitive) == 0)
    return c;
  g.List.removeAll(nullptr);
  for (const QPointer<QObject>& c : g.List)
    if (c->objectName().compare(AName, Qt::CaseInsensitive) == 0) {
      g.ByName.insert(key, c);
      return c;
    }
  return nullptr;
}

TGlobalComponentScope::TGlobalComponentScope(QObject* AComponent) : FComponent(AComponent) {
  RegisterGlobalComponent(AComponent);
}

TGlobalComponentScope::~TGlobalComponentScope() { UnRegisterGlobalComponent(FComponent); }

QString ComponentReference(const QObject* AComponent) {
  if (!AComponent || AComponent->objectName().isEmpty()) return QString();
  QObject* owner = OwnerOf(const_cast<QObject*>(AComponent));
  if (!owner || owner->objectName().isEmpty()) return AComponent->objectName();
  return owner->objectName() + QLatin1Char('.') + AComponent->objectName();
}

void ResolvePendingReferences() {
  QList<TFixup>& list = Fixups();
  qsizetype i = 0;
  while (i < list.size()) {
    if (!list[i].Instance) {
      list.removeAt(i);
      continue;
    }
    QObject* holder = list[i].Instance;
    QObject* target = FindReferenced(holder, list[i].Reference);
    if (!target) {
      ++i;
      continue;
    }
    const QMetaProperty p = holder->metaObject()->property(holder->metaObject()->indexOfProperty(list[i].Property));
    list.removeAt(i);
    const QMetaObject* wanted = p.metaType().metaObject();
    if (wanted && !target->metaObject()->inherits(wanted)) throw EReadError(InvalidValueText());
    if (!p.write(holder, QVariant(p.metaType(), &target))) throw EReadError(InvalidValueText());
  }
}

QStringList PendingReferences() {
  QStringList result;
  for (const TFixup& f : Fixups())
    if (f.Instance)
      result.append(QStringLiteral("%1.%2 -> %3")
                        .arg(f.Instance->objectName(), QString::fromLatin1(f.Property), f.Reference));
  return result;
}

void ClearPendingReferences() { Fixups().clear(); }

void CheckPendingReferences() {
  ResolvePendingReferences();
  QList<TFixup>& list = Fixups();
  list.removeIf([](const TFixup& f) { return !f.Instance; });
  if (list.isEmpty()) return;
  const QString ref = list.first().Reference;
  list.clear();
  throw EReadError(QStringLiteral("Unresolved reference to %1").arg(ref));
}

// --- Component data ----------------------------------------------------------------------

void WriteBytes(QIODevice& AStream, const QByteArray& Data) {
  if (AStream.write(Data) != Data.size()) throw EStreamError(QStringLiteral("Stream write error"));
}

void WriteComponentData(QIODevice& AStream, QObject& AComponent) {
  TByteWriter w;
  w.Data = kSignature;
  TObjectHead h;
  h.ClassName = QString::fromLatin1(AComponent.metaObject()->className());
  h.Name = AComponent.objectName();
  w.Head(h);
  WriteProperties(w, AComponent, QByteArray(), 0);
  w.Byte(vaNull);  // end of the properties
  w.Byte(vaNull);  // no children
  WriteBytes(AStream, w.Data);
}

void WriteComponentDataText(QIODevice& AStream, QObject& AComponent) {
  QBuffer binary;
  binary.open(QIODevice::ReadWrite);
  WriteComponentData(binary, AComponent);
  binary.seek(0);
  ObjectBinaryToText(binary, AStream);
}

QObject* ReadComponentData(QIODevice& AStream, QObject* AComponent, const TStoredAtWrite* AResetUnwritten) {
  TByteReader r(AStream);
  ReadSignature(r);
  const TObjectHead h = ReadObjectHead(r);
  std::unique_ptr<QObject> created;
  QObject* target = AComponent;
  if (!target) {
    created = CreateStreamableComponent(h.ClassName);
    target = created.get();
    SetComponentName(*target, h.Name);
  }
  std::vector<std::pair<QString, TStreamValue>> values;
  for (;;) {
    QString name = r.ShortString();
    if (name.isEmpty()) break;
    values.emplace_back(std::move(name), ReadValue(r, 0));
  }
  // Onto a component that exists, what the data leaves out is its default
  // first, as on a new one.
  if (AComponent && AResetUnwritten) {
    QSet<QString> written;
    for (const auto& [name, value] : values) written.insert(name);
    ResetUnwrittenProperties(*AComponent, written, *AResetUnwritten);
  }
  for (const auto& [name, value] : values) ApplyProperty(*target, name, 0, value);
  // These records hold one component alone: a child list must be empty.
  if (r.Byte() != vaNull) throw EReadError(InvalidFormatText());
  created.release();
  return target;
}

QObject* ReadComponentDataText(QIODevice& AStream, QObject* AComponent, const TStoredAtWrite* AResetUnwritten) {
  QBuffer binary;
  binary.open(QIODevice::ReadWrite);
  ObjectTextToBinary(AStream, binary);
  binary.seek(0);
  return ReadComponentData(binary, AComponent, AResetUnwritten);
}

namespace {

void ResetUnwritten(QObject& Obj, const QString& Prefix, const QSet<QString>& Written,
                    const TStoredAtWrite& StoredAtWrite, int Depth) {
  for (const TPublishedProperty& e : Published(Obj.metaObject()).Properties) {
    const QMetaProperty& p = e.Property;
    if (!p.isStored() || !p.isReadable()) continue;
    const QString path = Prefix + QLatin1String(p.name());
    if (Written.contains(path) || std::any_of(Written.begin(), Written.end(), [&](const QString& w) {
          return w.compare(path, Qt::CaseInsensitive) == 0;
        }))
      continue;
    if (e.StoredCondition && !(StoredAtWrite && StoredAtWrite(*e.StoredCondition))) continue;
    if (IsObjectPointer(p)) {
      // References are settled by whoever reads the records; the
      // properties of a sub-object are its owner's.
      QObject* target = ReadObjectPointer(p, Obj);
      if (target && !IsComponent(target) && Depth < kMaxSubObjectDepth)
        ResetUnwritten(*target, path + QLatin1Char('.'), Written, StoredAtWrite, Depth + 1);
      continue;
    }
    if (!p.isWritable()) continue;
    QVariant value;
    if (e.Default) {
      if (!DefaultVariant(p, *e.Default, value)) continue;
    } else {
      // Only these are left out for being empty; the others are always written.
      const int id = p.metaType().id();
      if (p.isEnumType() || (id != QMetaType::Float && id != QMetaType::Double && id != QMetaType::QString &&
                             id != QMetaType::QStringList && id != QMetaType::QByteArray))
        continue;
      value = QVariant(p.metaType());
    }
    if (SameValue(p, p.read(&Obj), value)) continue;
    if (!p.write(&Obj, value)) InvalidValue();
  }
}

}  // namespace

void ResetUnwrittenProperties(QObject& AComponent, const QSet<QString>& AWritten, const TStoredAtWrite& StoredAtWrite) {
  ResetUnwritten(AComponent, QString(), AWritten, StoredAtWrite, 0);
}

void ObjectBinaryToText(QIODevice& AInput, QIODevice& AOutput) {
  TByteReader r(AInput);
  ReadSignature(r);
  QByteArray out;
  ObjectToText(r, out, 0, 0);
  WriteBytes(AOutput, out);
}

void ObjectTextToBinary(QIODevice& AInput, QIODevice& AOutput) {
  TTextParser p(AInput);
  TByteWriter w;
  w.Data = kSignature;
  p.Next();
  ParseObject(p, w, 0);
  p.FinishLine();
  WriteBytes(AOutput, w.Data);
}
