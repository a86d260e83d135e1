#pragma once

// The record container: several components, each with its published
// properties and optional extra data, written one after another into one
// seekable byte stream and read back in the same order. Records are framed
// by marker lines ended by CR LF:
//
//   KR Comp Declare
//   <name>:<class name>
//   KR Comp Define
//   FMT:BIN or FMT:TEXT
//   <component data, binary or text form (ComponentStreamU)>
//   <extra items, each beginning with a line: stream blocks>
//   KR Comp Done
//
// A stream block carries raw bytes:
//
//   STREAM:<name>
//   STREAM_SIZE:<byte count>
//   <the bytes>
//   STREAM_DONE
//
// A line is read within a window of 255 bytes, so a line holds at most 253
// characters before its CR LF. Lines are UTF-8 (the markers are ASCII).
// Every failure raises an exception and leaves the stream where it stopped.

#include "components/ComponentStreamU.h"

#include <QObject>
#include <QSet>
#include <QString>

class QIODevice;

namespace krStreamingTypes {
Q_NAMESPACE
enum TStreamState { ssIdle, ssLoading, ssSaving };
Q_ENUM_NS(TStreamState)
}  // namespace krStreamingTypes
using krStreamingTypes::ssIdle;
using krStreamingTypes::ssLoading;
using krStreamingTypes::ssSaving;
using krStreamingTypes::TStreamState;

// What a component offers the container: its streaming state and extra
// data after its component data. A component without it is written and
// read all the same, without state or extra data.
class IStreamableComponent {
public:
  virtual ~IStreamableComponent() = default;
  virtual TStreamState GetStreamState() const = 0;
  virtual void SetStreamState(TStreamState Value) = 0;
  // Writes the component's own record (and, for a component that holds
  // others, their records): sets ssSaving, writes, sets ssIdle (also on
  // failure).
  virtual void SaveToStream(QIODevice& AStream, bool AsText, const QString& SaveParams) = 0;
  // Writes extra items after the component data; may write nothing.
  virtual void WriteAdditionalData(QIODevice& AStream, bool AsText, const QString& SaveParams) = 0;
  // Reads the rest of the extra item whose first line ALine was read.
  virtual void ReadAdditionalData(QIODevice& AStream, const QString& ALine) = 0;
};
#define IStreamableComponent_iid "{3E266F26-2B76-44A5-8586-463BD2DF3B98}"
Q_DECLARE_INTERFACE(IStreamableComponent, IStreamableComponent_iid)

// The interface of a component, or nullptr.
IStreamableComponent* StreamableOf(QObject* AComponent);

// Every operation fails with "AStream must be defined" when the stream is
// not open.

// Writes the text's bytes, no line end.
void StreamWriteString(QIODevice& AStream, const QString& S);
// Writes the text and CR LF. A text the reader could not read back as one
// line (longer than 253 bytes, or holding CR LF) fails with
// "Line too long for WriteLn" before anything is written.
void StreamWriteLn(QIODevice& AStream, const QString& S);
// The next line without its CR LF; the stream stands after the LF. Fails
// with "Line to long for ReadLn" when no CR LF is within the next 255
// bytes.
QString StreamReadLn(QIODevice& AStream);
// Reads a line and splits it at its first colon; the value is cut to 255
// characters. A line without colon is all key.
void StreamReadKeyValue(QIODevice& AStream, QString& Key, QString& Value);

// Writes one component record; the component's extra items come from its
// WriteAdditionalData. The component's streaming state is not changed.
void WriteComponentRecord(QIODevice& AStream, QObject& AComponent, bool AsText, const QString& SaveParams);
// Reads the declaration of a record: fails with "Incorrect signature for
// Component Declaration" unless the line is "KR Comp Declare"; returns the
// name and class name of the next line.
void ReadComponentDeclaration(QIODevice& AStream, QString& AName, QString& AClassName);
// Reads a record from its definition marker (or from its declaration
// marker) to "KR Comp Done": "Incorrect signature for Component
// Definition" when the definition marker is missing. Data in "FMT:BIN" is
// binary, in any other format text. With AComponent the data goes into it
// (which is set to ssLoading first when it offers IStreamableComponent);
// without one a new component of the class the data names is created from
// the registry, named from the data and handed to the caller, who owns it
// (on failure it is freed). Each extra line goes to ReadAdditionalData,
// after which the state is ssIdle; a component without the interface skips
// the line. Pending references are resolved at the end of the record.
// With AResetUnwritten, what the record leaves out of an existing component
// is given its default first (see ResetUnwrittenProperties).
QObject* ReadComponentRecord(QIODevice& AStream, QObject* AComponent,
                             const TStoredAtWrite* AResetUnwritten = nullptr);

// Writes the whole of ASource, from its first byte, as a stream block. A
// source of 2 GiB or more, whose size line could not be read back, fails
// with "Stream block too large" before anything is written.
void WriteStreamBlock(QIODevice& AStream, QIODevice& ASource, const QString& AName);
// Reads one stream block (the "STREAM:" line may already have been read)
// and appends its bytes to ADestination at its position. Fails with
// "Invalid stream format" without a size line or with a negative size,
// with "'<text>' is not a valid integer value" (EConvertError) for a size
// that is no 32-bit decimal integer, with "Stream read error" before
// copying anything when fewer bytes are left than the size, and with
// "Invalid stream copy" when "STREAM_DONE" does not follow.
void ReadStreamBlock(QIODevice& AStream, QIODevice& ADestination);

// Whether AParam is one of the comma-separated entries of AParamList
// (case-sensitive; an empty list holds nothing).
bool ParamListContains(const QString& AParam, const QString& AParamList);

// Returns the part of S before the first AChar and leaves in S the part
// after it, cut to 255 characters; without AChar returns all of S and
// leaves S empty.
QString SplitAtChar(QString& S, QChar AChar);
