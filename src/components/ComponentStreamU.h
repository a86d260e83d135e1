#pragma once

// The component stream: one component's published state as the binary
// "TPF0" form and as its text form, written and read by walking the
// component's QMetaObject.
//
// Which properties are published: every Q_PROPERTY declared by one of our
// own classes (the toolkit's classes, whose names begin with "Q", are left
// out), in declaration order with the inherited ones first, that is
// STORED, and writable (a read-only property that holds a sub-object is
// published too: its own properties are written with dotted names such as
// "Font.Name").
//
// Two class infos refine that, the way stored conditions and declared
// defaults do:
//   Q_CLASSINFO("stored:Foo", "IsFooStored")  Foo is written only while the
//       Q_INVOKABLE method `bool IsFooStored() const` returns true;
//   Q_CLASSINFO("default:Foo", "false")       Foo is written only when its
//       value differs from this one (written as in the text form, without
//       quotes; a set as "a|b").
// Without a declared default, strings, string lists and binary data are
// written when not empty, floats when not 0, component references when set,
// and integers, booleans, enumerations, sets and colours always.
//
// Values by property type: int types as the smallest integer type,
// booleans as false/true, enumerations (Q_ENUM) as identifiers, QFlags
// (Q_FLAG) as sets, float as a single float, double as an extended float,
// QString as a string (type 6 or 12 when all characters are ASCII, else a
// wide string so that no text is lost), QStringList as a list of strings,
// QByteArray as binary data, QColor as a colour identifier or integer, a
// pointer to a component (TComponent) as a reference "Owner.Name" resolved
// after the record, a pointer to any other QObject as a sub-object.

#include "platform/Exceptions.h"

#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class QIODevice;
class QObject;

// --- Errors ------------------------------------------------------------------

// A malformed stream or container, a failed read or write of a stream.
class EStreamError : public Exception {
public:
  using Exception::Exception;
};

// Component data that cannot be read: "Stream read error" for data that
// ends early, "Invalid stream format", "Property %s does not exist",
// "Invalid property value", ...
class EReadError : public EStreamError {
public:
  using EStreamError::EStreamError;
};

// "Class %s not found": a record names a class nobody registered.
class EClassNotFound : public EReadError {
public:
  using EReadError::EReadError;
};

// A text form that cannot be parsed: "<what> on line <n>".
class EParserError : public EReadError {
public:
  using EReadError::EReadError;
};

// --- Value types of the binary form --------------------------------------------

enum TValueType : unsigned char {
  vaNull = 0,
  vaList = 1,
  vaInt8 = 2,
  vaInt16 = 3,
  vaInt32 = 4,
  vaExtended = 5,
  vaString = 6,
  vaIdent = 7,
  vaFalse = 8,
  vaTrue = 9,
  vaBinary = 10,
  vaSet = 11,
  vaLString = 12,
  vaNil = 13,
  vaCollection = 14,
  vaSingle = 15,
  vaCurrency = 16,
  vaDate = 17,
  vaWString = 18,
  vaInt64 = 19,
};

// The 80-bit extended format (little-endian: 64-bit mantissa with its
// integer bit, then sign and 15-bit exponent), converted without relying on
// the compiler's long double.
void DoubleToExtended(double Value, unsigned char Bytes[10]);
double ExtendedToDouble(const unsigned char Bytes[10]);

// --- Registry of streamable classes ---------------------------------------------

// Creates a new instance without owner.
using TComponentFactory = std::function<QObject*()>;

// Makes a class readable from records that name it (class names compare
// without regard to case). Registering a class again replaces its factory.
void RegisterStreamableClass(const QMetaObject& AClass, TComponentFactory AFactory);
template <class T>
void RegisterStreamableClass() {
  RegisterStreamableClass(T::staticMetaObject, [] { return static_cast<QObject*>(new T(nullptr)); });
}
void UnRegisterStreamableClass(const QMetaObject& AClass);
bool IsStreamableClass(const QString& AClassName);
// A new instance of the registered class; "Class %s not found" when there
// is none.
std::unique_ptr<QObject> CreateStreamableComponent(const QString& AClassName);

// --- Component references -------------------------------------------------------

// The owners that references name ("frmPreview" in "frmPreview.Page1"):
// registered for as long as they can be named in a stream. Registering
// answers false when the component was registered already.
bool RegisterGlobalComponent(QObject* AComponent);
void UnRegisterGlobalComponent(QObject* AComponent);
QObject* FindGlobalComponent(const QString& AName);

// Registers a global component for the life of the object.
class TGlobalComponentScope {
public:
  explicit TGlobalComponentScope(QObject* AComponent);
  ~TGlobalComponentScope();
  TGlobalComponentScope(const TGlobalComponentScope&) = delete;
  TGlobalComponentScope& operator=(const TGlobalComponentScope&) = delete;

private:
  QObject* FComponent;
};

// How a reference to AComponent is written: owner name, ".", name; only the
// name when the owner has none; empty when the component has no name.
QString ComponentReference(const QObject* AComponent);

// References read from component data wait here until their target can be
// found: the part before the dot names a global component or the owner of
// the component that holds the reference, the part after it a component of
// that owner; a reference without a dot is looked up in the holder's owner.
// Resolved references are set and leave the list; the others stay. A
// component that is freed takes its pending references with it.
void ResolvePendingReferences();
// "Holder.Property -> Reference" for each reference still pending.
QStringList PendingReferences();
void ClearPendingReferences();
// Resolves what it can, then fails with "Unresolved reference to %s" for
// the first reference still pending (and forgets all of them).
void CheckPendingReferences();

// --- Component data ----------------------------------------------------------------

// Writes AComponent as its own root in the binary form: "TPF0", class name,
// name, the published properties, the end of the property list and an
// empty child list.
void WriteComponentData(QIODevice& AStream, QObject& AComponent);
// The same as text, ending with "end" and a line end.
void WriteComponentDataText(QIODevice& AStream, QObject& AComponent);

// Whether a stored condition (by its method's name) held when data was
// written.
using TStoredAtWrite = std::function<bool(const QString& Condition)>;

// Reads binary component data. With AComponent the data is read into it (its
// class and name stay as they are); without one, a new instance of the class
// the data names is created from the registry and given the name from the
// data ("'%s' is not a valid component name" unless it is made of letters,
// digits and underscores, not starting with a digit): it then belongs to
// the caller. The stream is left directly after the
// data. A failure frees the new instance. References are left pending (see
// ResolvePendingReferences).
QObject* ReadComponentData(QIODevice& AStream, QObject* AComponent, const TStoredAtWrite* AResetUnwritten = nullptr);
// The same from the text form; the stream is left at the line after the
// closing "end".
QObject* ReadComponentDataText(QIODevice& AStream, QObject* AComponent,
                               const TStoredAtWrite* AResetUnwritten = nullptr);

// Data leaves out what holds its default value (the declared default, or
// for floats, strings, lists and bytes without one, zero or empty). Read
// onto a component that already exists, such properties would keep
// whatever they held: this gives them their default again, for every
// property not in AWritten (paths, sub-objects' properties as "Font.Height",
// matched without regard to case). A property with a stored condition is given its default
// only when StoredAtWrite answers true for the condition's method name
// (the condition held when the data was written); references are left
// alone. The readers above do this first, before the data's values, when
// given AResetUnwritten and a component to read into.
void ResetUnwrittenProperties(QObject& AComponent, const QSet<QString>& AWritten, const TStoredAtWrite& StoredAtWrite);

// The conversions between the two forms. Either reads one object (with any
// children) from the input's position and writes it to the output.
void ObjectBinaryToText(QIODevice& AInput, QIODevice& AOutput);
void ObjectTextToBinary(QIODevice& AInput, QIODevice& AOutput);

// Writes all of Data or fails with "Stream write error".
void WriteBytes(QIODevice& AStream, const QByteArray& Data);
