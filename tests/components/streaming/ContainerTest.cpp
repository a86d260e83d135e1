// The record container: lines in their 255-byte window, component records
// in both forms read by one path, extra data, stream blocks and the save
// parameter list.

#include "StreamTestComponents.h"
#include "TestSupport.h"

#include <QBuffer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

QByteArray Line(const QByteArray& S) { return S + "\r\n"; }

// A read-only buffer over Data, positioned at 0.
class TInput {
public:
  explicit TInput(const QByteArray& Data) : FData(Data), FBuffer(&FData) { FBuffer.open(QIODevice::ReadOnly); }
  QBuffer& operator*() { return FBuffer; }
  QBuffer* operator->() { return &FBuffer; }

private:
  QByteArray FData;
  QBuffer FBuffer;
};

QByteArray Record(TTestComponent& C, bool AsText, const QString& Params = QString()) {
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  C.SaveToStream(out, AsText, Params);
  return out.data();
}

class ContainerTest : public ::testing::Test {
protected:
  TTestClassScope Classes;
  QObject Form;
  void SetUp() override { Form.setObjectName(QStringLiteral("frmTest")); }
};

// --- Lines ---------------------------------------------------------------------

TEST_F(ContainerTest, ReadLnFindsTheLineEndOnlyWithinTheWindow) {
  struct {
    QByteArray Data;
    QString Expected;  // the line, or the error
  } cases[] = {
      {Line(QByteArray(253, 'a')), QString(253, QLatin1Char('a'))},
      {Line(QByteArray(254, 'a')), QStringLiteral("Line to long for ReadLn")},
      {"no line end at the end", QStringLiteral("Line to long for ReadLn")},
      {"", QStringLiteral("Line to long for ReadLn")},
      {Line("lone\rCR and lone\nLF"), QStringLiteral("lone\rCR and lone\nLF")},
      {Line(""), QString()},
  };
  for (const auto& c : cases) {
    TInput in(c.Data);
    QString got;
    try {
      got = StreamReadLn(*in);
    } catch (const Exception& E) {
      got = E.Message();
    }
    EXPECT_EQ(got, c.Expected) << c.Data.left(40).toStdString();
  }
}

TEST_F(ContainerTest, ReadLnLeavesTheStreamAfterTheLineFeed) {
  TInput in(Line("first") + Line("second") + "rest");
  EXPECT_EQ(StreamReadLn(*in), QStringLiteral("first"));
  EXPECT_EQ(in->pos(), 7);
  EXPECT_EQ(StreamReadLn(*in), QStringLiteral("second"));
  EXPECT_EQ(in->readAll(), QByteArray("rest"));
}

TEST_F(ContainerTest, WriteLnRefusesLinesTheReaderCouldNotReadBack) {
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  StreamWriteLn(out, QString(253, QLatin1Char('x')));
  EXPECT_EQ(out.size(), 255);
  EXPECT_EQ(MessageOf<Exception>([&] { StreamWriteLn(out, QString(254, QLatin1Char('x'))); }),
            QStringLiteral("Line too long for WriteLn"));
  EXPECT_EQ(MessageOf<Exception>([&] { StreamWriteLn(out, QStringLiteral("a\r\nb")); }),
            QStringLiteral("Line too long for WriteLn"));
  EXPECT_EQ(out.size(), 255);
  StreamWriteString(out, QStringLiteral("tail"));
  EXPECT_EQ(out.data().right(7), QByteArray("x\r\ntail"));
}

TEST_F(ContainerTest, EveryOperationNeedsAnOpenStream) {
  QBuffer closed;
  TTestComponent c(&Form);
  QString name, cls;
  const std::function<void()> calls[] = {
      [&] { StreamWriteLn(closed, QStringLiteral("x")); },
      [&] { StreamReadLn(closed); },
      [&] { WriteComponentRecord(closed, c, false, QString()); },
      [&] { ReadComponentRecord(closed, &c); },
      [&] { ReadComponentDeclaration(closed, name, cls); },
      [&] { ReadStreamBlock(closed, closed); },
      [&] { WriteStreamBlock(closed, closed, QStringLiteral("x")); },
  };
  for (const auto& call : calls) EXPECT_EQ(MessageOf<Exception>(call), QStringLiteral("AStream must be defined"));
}

TEST_F(ContainerTest, SplitAtCharAndKeyValueLines) {
  struct {
    QString Text, Before, After;
  } cases[] = {
      {QStringLiteral("STREAM_SIZE:12"), QStringLiteral("STREAM_SIZE"), QStringLiteral("12")},
      {QStringLiteral("a:b:c"), QStringLiteral("a"), QStringLiteral("b:c")},
      {QStringLiteral("no colon"), QStringLiteral("no colon"), QString()},
      {QStringLiteral(":x"), QString(), QStringLiteral("x")},
      {QStringLiteral("k:") + QString(300, QLatin1Char('v')), QStringLiteral("k"), QString(255, QLatin1Char('v'))},
  };
  for (const auto& c : cases) {
    QString rest = c.Text;
    EXPECT_EQ(SplitAtChar(rest, QLatin1Char(':')), c.Before) << c.Text.toStdString();
    EXPECT_EQ(rest, c.After) << c.Text.toStdString();
  }
  TInput in(Line("STREAM:Filestream"));
  QString key, value;
  StreamReadKeyValue(*in, key, value);
  EXPECT_EQ(key, QStringLiteral("STREAM"));
  EXPECT_EQ(value, QStringLiteral("Filestream"));
}

TEST_F(ContainerTest, ParamListContainsWholeEntriesOnly) {
  struct {
    const char* List;
    bool Found;
  } cases[] = {
      {"SAVE_IMAGES", true},        {"OTHER,SAVE_IMAGES", true}, {"SAVE_IMAGES,OTHER", true},
      {"SAVE_IMAGESX", false},      {"", false},                 {"save_images", false},
      {"XSAVE_IMAGES,OTHER", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParamListContains(QStringLiteral("SAVE_IMAGES"), QLatin1String(c.List)), c.Found) << c.List;
}

// --- Records -------------------------------------------------------------------------

TEST_F(ContainerTest, RecordLayoutInBothForms) {
  TPlainComponent c(&Form);
  c.SetName(QStringLiteral("P1"));
  c.SetValue(5);
  QBuffer bin;
  bin.open(QIODevice::ReadWrite);
  WriteComponentRecord(bin, c, false, QString());
  const QByteArray data = QByteArray("TPF0") + '\x0f' + "TPlainComponent" + '\x02' + "P1" + '\x05' + "Value" + '\x02' +
                          '\x05' + '\0' + '\0';
  EXPECT_EQ(bin.data(),
            Line("KR Comp Declare") + Line("P1:TPlainComponent") + Line("KR Comp Define") + Line("FMT:BIN") + data +
                Line("KR Comp Done"));
  QBuffer text;
  text.open(QIODevice::ReadWrite);
  WriteComponentRecord(text, c, true, QString());
  EXPECT_EQ(text.data(), Line("KR Comp Declare") + Line("P1:TPlainComponent") + Line("KR Comp Define") +
                             Line("FMT:TEXT") + Line("object P1: TPlainComponent") + Line("  Value = 5") + Line("end") +
                             Line("KR Comp Done"));
}

TEST_F(ContainerTest, TextAndBinaryRecordsReadThroughTheSamePath) {
  for (bool asText : {false, true}) {
    TTestComponent source(&Form);
    source.SetName(QStringLiteral("Comp1"));
    source.SetCount(-7);
    source.SetCaption(QStringLiteral("Grüße, 世界"));
    source.Blob = QByteArray("raw\r\nKR Comp Done\r\n\0bytes", 26);
    const QByteArray records = Record(source, asText, QStringLiteral("OTHER,SAVE_BLOB")) + Record(source, asText);

    TInput in(records);
    QString name, cls;
    ReadComponentDeclaration(*in, name, cls);
    EXPECT_EQ(name, QStringLiteral("Comp1"));
    EXPECT_EQ(cls, QStringLiteral("TTestComponent"));
    std::unique_ptr<QObject> fresh(ReadComponentRecord(*in, nullptr));
    auto* read = qobject_cast<TTestComponent*>(fresh.get());
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->Name(), QStringLiteral("Comp1"));
    EXPECT_EQ(read->Owner(), nullptr);
    EXPECT_EQ(read->Count(), -7);
    EXPECT_EQ(read->Caption(), source.Caption());
    EXPECT_EQ(read->Blob, source.Blob);
    EXPECT_EQ(read->GetStreamState(), ssIdle);

    // The second record, declaration included, into an existing component.
    TTestComponent existing(&Form);
    ReadComponentRecord(*in, &existing);
    EXPECT_EQ(existing.Caption(), source.Caption());
    EXPECT_TRUE(existing.Blob.isEmpty());
    EXPECT_TRUE(in->atEnd());
  }
}

TEST_F(ContainerTest, AnyFormatLineButFmtBinIsText) {
  TTestComponent source(&Form);
  source.SetName(QStringLiteral("C"));
  source.SetCount(3);
  const QByteArray text = Record(source, true);
  for (const char* format : {"FMT:text", "", "FMT:BINARY"}) {
    QByteArray data = text;
    data.replace("FMT:TEXT", format);
    TInput in(data);
    TTestComponent target(&Form);
    ReadComponentRecord(*in, &target);
    EXPECT_EQ(target.Count(), 3) << format;
  }
  QByteArray data = text;
  data.replace("FMT:TEXT", "FMT:BIN");
  TInput in(data);
  TTestComponent target(&Form);
  EXPECT_EQ(MessageOf<Exception>([&] { ReadComponentRecord(*in, &target); }), QStringLiteral("Invalid stream format"));
}

TEST_F(ContainerTest, MarkerErrors) {
  TTestComponent source(&Form);
  source.SetName(QStringLiteral("C"));
  const QByteArray record = Record(source, false);
  TTestComponent target(&Form);
  QString name, cls;
  {
    QByteArray data = record;
    data.replace("KR Comp Define", "KR Comp Defined");
    TInput in(data);
    EXPECT_EQ(MessageOf<Exception>([&] { ReadComponentRecord(*in, &target); }),
              QStringLiteral("Incorrect signature for Component Definition"));
  }
  {
    TInput in(record.mid(QByteArray("KR Comp Declare\r\n").size()));
    EXPECT_EQ(MessageOf<Exception>([&] { ReadComponentDeclaration(*in, name, cls); }),
              QStringLiteral("Incorrect signature for Component Declaration"));
  }
  {
    // All records read, then an empty line.
    TInput in(record + Line(""));
    ReadComponentDeclaration(*in, name, cls);
    ReadComponentRecord(*in, &target);
    EXPECT_EQ(MessageOf<Exception>([&] { ReadComponentDeclaration(*in, name, cls); }),
              QStringLiteral("Incorrect signature for Component Declaration"));
  }
  {
    QByteArray data = record;
    data.chop(2);  // the last line end
    TInput in(data);
    EXPECT_EQ(MessageOf<Exception>([&] { ReadComponentRecord(*in, &target); }), QStringLiteral("Line to long for ReadLn"));
  }
}

TEST_F(ContainerTest, ExtraLinesOfAComponentWithoutTheInterfaceAreSkipped) {
  TPlainComponent source(&Form);
  source.SetName(QStringLiteral("P"));
  source.SetValue(9);
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  WriteComponentRecord(out, source, false, QString());
  QByteArray data = out.data();
  data.insert(data.indexOf("KR Comp Done"), Line("STREAM:Filestream") + Line("unknown extra"));
  data += Line("KR Comp Declare");
  TInput in(data);
  TPlainComponent target(&Form);
  EXPECT_EQ(ReadComponentRecord(*in, &target), &target);
  EXPECT_EQ(target.Value(), 9);
  EXPECT_EQ(StreamReadLn(*in), QStringLiteral("KR Comp Declare"));
}

TEST_F(ContainerTest, StreamStateWhileReadingIntoAnExistingComponent) {
  TTestComponent source(&Form);
  source.SetName(QStringLiteral("C"));
  source.Blob = "abc";
  // Without extra data the component stays loading; each extra line handled
  // puts it back to idle.
  TTestComponent target(&Form);
  {
    TInput in(Record(source, false));
    ReadComponentRecord(*in, &target);
    EXPECT_EQ(target.GetStreamState(), ssLoading);
  }
  {
    TInput in(Record(source, false, QStringLiteral("SAVE_BLOB")));
    ReadComponentRecord(*in, &target);
    EXPECT_EQ(target.GetStreamState(), ssIdle);
    EXPECT_EQ(target.ExtraLines, QStringList{QStringLiteral("STREAM:Filestream")});
  }
  // Writing a record leaves the state alone; the component's own save sets
  // it around the record, also when the write fails.
  target.SetStreamState(ssLoading);
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  WriteComponentRecord(out, target, false, QString());
  EXPECT_EQ(target.GetStreamState(), ssLoading);
  TFailingDevice failing(40);
  EXPECT_EQ(MessageOf<Exception>([&] { target.SaveToStream(failing, false, QString()); }), QStringLiteral("Stream write error"));
  EXPECT_EQ(target.GetStreamState(), ssIdle);
}

TEST_F(ContainerTest, ANewComponentIsFreedWhenItsRecordFails) {
  TTestComponent source(&Form);
  source.SetName(QStringLiteral("C"));
  source.Blob = "abc";
  QByteArray data = Record(source, false, QStringLiteral("SAVE_BLOB"));
  data.replace("STREAM:Filestream", "STREAM:Other");
  TInput in(data);
  // The leak checker reports the component if it survives.
  EXPECT_EQ(MessageOf<Exception>([&] { ReadComponentRecord(*in, nullptr); }), QStringLiteral("Unknown additional data in stream"));
}

// --- Stream blocks --------------------------------------------------------------------

TEST_F(ContainerTest, StreamBlockLayoutAndRoundTrip) {
  QByteArray payload("line\r\nKR Comp Done\r\n\0\xff", 22);
  QBuffer source(&payload);
  source.open(QIODevice::ReadOnly);
  source.seek(5);  // the whole source is written, wherever it stands
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  WriteStreamBlock(out, source, QStringLiteral("Filestream"));
  EXPECT_EQ(out.data(), Line("STREAM:Filestream") + Line("STREAM_SIZE:22") + payload + Line("STREAM_DONE"));

  // Appended at the destination's position; with or without the name line.
  for (bool nameRead : {false, true}) {
    TInput in(out.data() + "after");
    if (nameRead) StreamReadLn(*in);
    QByteArray dest("0123456789");
    QBuffer destination(&dest);
    destination.open(QIODevice::ReadWrite);
    destination.seek(4);
    ReadStreamBlock(*in, destination);
    EXPECT_EQ(dest, QByteArray("0123") + payload);
    EXPECT_EQ(in->readAll(), QByteArray("after"));
  }
}

TEST_F(ContainerTest, EmptyStreamBlock) {
  QBuffer empty;
  empty.open(QIODevice::ReadOnly);
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  WriteStreamBlock(out, empty, QStringLiteral("Filestream"));
  EXPECT_EQ(out.data(), Line("STREAM:Filestream") + Line("STREAM_SIZE:0") + Line("STREAM_DONE"));
  TInput in(out.data());
  QBuffer destination;
  destination.open(QIODevice::ReadWrite);
  ReadStreamBlock(*in, destination);
  EXPECT_EQ(destination.size(), 0);
  EXPECT_TRUE(in->atEnd());
}

TEST_F(ContainerTest, StreamBlockErrors) {
  struct {
    QByteArray Data;
    QString Message;
  } cases[] = {
      {Line("STREAM:x") + Line("SIZE:3") + "abc" + Line("STREAM_DONE"), QStringLiteral("Invalid stream format")},
      {Line("STREAM_SIZE:50") + "abc" + Line("STREAM_DONE"), QStringLiteral("Stream read error")},
      {Line("STREAM_SIZE:2147483647") + "abc", QStringLiteral("Stream read error")},
      {Line("STREAM_SIZE:2147483648") + "abc", QStringLiteral("'2147483648' is not a valid integer value")},
      {Line("STREAM_SIZE:") + Line("STREAM_DONE"), QStringLiteral("'' is not a valid integer value")},
      {Line("STREAM_SIZE:1x") + "a" + Line("STREAM_DONE"), QStringLiteral("'1x' is not a valid integer value")},
      {Line("STREAM_SIZE:-1") + Line("STREAM_DONE"), QStringLiteral("Invalid stream format")},
      {Line("STREAM_SIZE:3") + "abc" + Line("STREAM_DONEX"), QStringLiteral("Invalid stream copy")},
      {Line("STREAM_SIZE:3") + "abcd" + Line("STREAM_DONE"), QStringLiteral("Invalid stream copy")},
  };
  for (const auto& c : cases) {
    TInput in(c.Data);
    QBuffer destination;
    destination.open(QIODevice::ReadWrite);
    EXPECT_EQ(MessageOf<Exception>([&] { ReadStreamBlock(*in, destination); }), c.Message) << c.Data.toStdString();
    if (c.Message == QLatin1String("Stream read error")) {
      EXPECT_EQ(destination.size(), 0);
    }
  }
}

// A source that claims a size of 3 GiB.
class THugeSource : public QIODevice {
public:
  THugeSource() { open(QIODevice::ReadOnly); }
  qint64 size() const override { return qint64(3) << 30; }

protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char*, qint64) override { return -1; }
};

TEST_F(ContainerTest, ABlockTooLargeToReadBackIsNotWritten) {
  THugeSource source;
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  EXPECT_EQ(MessageOf<Exception>([&] { WriteStreamBlock(out, source, QStringLiteral("Filestream")); }),
            QStringLiteral("Stream block too large"));
  EXPECT_EQ(out.size(), 0);
}

TEST_F(ContainerTest, AFailedWriteIsAnError) {
  TTestComponent c(&Form);
  c.SetName(QStringLiteral("C"));
  c.Blob = QByteArray(1000, 'b');
  const qint64 full = Record(c, false, QStringLiteral("SAVE_BLOB")).size();
  for (qint64 limit : {qint64(0), qint64(10), qint64(60), full - 500, full - 1}) {
    TFailingDevice device(limit);
    EXPECT_EQ(MessageOf<Exception>([&] { c.SaveToStream(device, false, QStringLiteral("SAVE_BLOB")); }),
              QStringLiteral("Stream write error"))
        << limit;
  }
}

}  // namespace
