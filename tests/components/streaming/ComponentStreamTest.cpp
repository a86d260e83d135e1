// The component data: the binary "TPF0" form and its text form written from
// and read into a component's published properties.

#include "StreamTestComponents.h"
#include "TestSupport.h"

#include <QBuffer>
#include <QMetaProperty>

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <functional>
#include <memory>

namespace {

QByteArray Binary(QObject& C) {
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  WriteComponentData(out, C);
  return out.data();
}

QByteArray Text(QObject& C) {
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  WriteComponentDataText(out, C);
  return out.data();
}

QByteArray Short(const QByteArray& S) { return char(S.size()) + S; }

QByteArray LE(quint64 V, int Bytes) {
  QByteArray b;
  for (int i = 0; i < Bytes; ++i) b += char(i < 8 ? V >> (8 * i) : 0);
  return b;
}

// Component data written by hand: the properties are name and value bytes.
QByteArray Data(const QByteArray& Props, const QByteArray& Class = "TTestComponent", const QByteArray& Name = "C") {
  return "TPF0" + Short(Class) + Short(Name) + Props + QByteArray(2, '\0');
}
QByteArray Prop(const QByteArray& Name, const QByteArray& Value) { return Short(Name) + Value; }

// The bytes after the property name in binary data, up to the end.
QByteArray ValueOf(const QByteArray& Data, const QByteArray& Name) {
  const qsizetype at = Data.indexOf(Short(Name));
  return at < 0 ? QByteArray() : Data.mid(at + Name.size() + 1);
}

QObject* ReadBinary(const QByteArray& Bytes, QObject* Into) {
  QByteArray copy = Bytes;
  QBuffer in(&copy);
  in.open(QIODevice::ReadOnly);
  return ReadComponentData(in, Into);
}

QObject* ReadText(const QByteArray& Bytes, QObject* Into) {
  QByteArray copy = Bytes;
  QBuffer in(&copy);
  in.open(QIODevice::ReadOnly);
  return ReadComponentDataText(in, Into);
}

QByteArray Convert(const QByteArray& Input, bool ToText) {
  QByteArray copy = Input;
  QBuffer in(&copy);
  in.open(QIODevice::ReadOnly);
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  if (ToText)
    ObjectBinaryToText(in, out);
  else
    ObjectTextToBinary(in, out);
  return out.data();
}

class ComponentStreamTest : public ::testing::Test {
protected:
  TTestClassScope Classes;
  QObject Form;
  void SetUp() override { Form.setObjectName(QStringLiteral("frmTest")); }

  // Source written in one form and read into a fresh component of the form.
  TTestComponent& ReadBack(TTestComponent& Source, bool AsText) {
    auto* target = new TTestComponent(&Form);
    if (AsText)
      ReadText(Text(Source), target);
    else
      ReadBinary(Binary(Source), target);
    return *target;
  }

  // A component with every property away from its default.
  void Fill(TTestComponent& C) {
    C.SetName(QStringLiteral("Full"));
    C.SetCount(-40000);
    C.SetFlag(true);
    C.SetShown(true);
    C.SetCaption(QStringLiteral("Bold <b>text</b> 'quoted', Ελληνικά, 日本語 😀"));
    C.SetScale(0.3f);
    C.SetRatio(1.0 / 3.0);
    C.SetBig(-(qint64(1) << 40));
    C.SetShade(shDark);
    C.SetOrientation(poLandscape);
    C.SetStyles(fsBold | fsUnderline);
    C.SetLines({QStringLiteral("<p align=center>first</p>"), QString(), QStringLiteral("ünïcödé"), QString(300, 'x')});
    C.SetData(QByteArray("\0\x01\xfe\xff binary", 11));
    C.SetColour(QColor(0x12, 0x34, 0x56));
    C.Font()->SetName(QStringLiteral("DejaVu Sans"));
    C.Font()->SetSize(12);
    C.Font()->SetStyle(fsItalic);
    C.Font()->SetColor(Qt::red);
  }
};

// --- Writing --------------------------------------------------------------------------

TEST_F(ComponentStreamTest, WrittenPropertiesFollowStoredConditionsAndDefaults) {
  TTestComponent c(&Form);
  c.SetName(QStringLiteral("D"));
  c.SetHidden(5);
  QByteArray idle =
      "object D: TTestComponent\r\n"
      "  Count = 0\r\n"
      "  Flag = False\r\n"
      "  Big = 0\r\n"
      "  Orientation = poPortrait\r\n"
      "  Styles = []\r\n"
      "  Colour = clWhite\r\n"
      "  Font.Style = []\r\n"
      "  Font.Color = clBlack\r\n"
      "end\r\n";
  idle.replace("end\r\n", "  Checked = 0\r\nend\r\n");
  EXPECT_EQ(Text(c), idle);
  c.SetStreamState(ssSaving);
  QByteArray saving = idle;
  saving.replace("  Checked", "  Saving = 0\r\n  Checked");
  EXPECT_EQ(Text(c), saving);
  c.SetStreamState(ssIdle);
  c.SetShown(true);
  c.SetShade(shLight);
  c.Font()->SetSize(9);
  EXPECT_EQ(Text(c),
            "object D: TTestComponent\r\n"
            "  Count = 0\r\n"
            "  Flag = False\r\n"
            "  Shown = True\r\n"
            "  Big = 0\r\n"
            "  Shade = shLight\r\n"
            "  Orientation = poPortrait\r\n"
            "  Styles = []\r\n"
            "  Colour = clWhite\r\n"
            "  Font.Size = 9\r\n"
            "  Font.Style = []\r\n"
            "  Font.Color = clBlack\r\n"
            "  Checked = 0\r\n"
            "end\r\n");
}

TEST_F(ComponentStreamTest, IntegersTakeTheSmallestType) {
  struct {
    qint64 Value;
    QByteArray Bytes;
  } cases[] = {
      {0, "\x02" + LE(0, 1)},
      {127, "\x02" + LE(127, 1)},
      {-128, "\x02" + LE(0x80, 1)},
      {128, "\x03" + LE(128, 2)},
      {-129, "\x03" + LE(0xFF7F, 2)},
      {32767, "\x03" + LE(32767, 2)},
      {32768, "\x04" + LE(32768, 4)},
      {-32769, "\x04" + LE(0xFFFF7FFF, 4)},
      {INT_MAX, "\x04" + LE(INT_MAX, 4)},
      {INT_MIN, "\x04" + LE(0x80000000, 4)},
      {qint64(INT_MAX) + 1, "\x13" + LE(quint64(INT_MAX) + 1, 8)},
      {LLONG_MIN, "\x13" + LE(quint64(LLONG_MIN), 8)},
  };
  for (const auto& c : cases) {
    TTestComponent source(&Form);
    source.SetBig(c.Value);
    const QByteArray data = Binary(source);
    EXPECT_TRUE(ValueOf(data, "Big").startsWith(c.Bytes)) << c.Value;
    for (bool text : {false, true}) EXPECT_EQ(ReadBack(source, text).Big(), c.Value) << c.Value << text;
  }
}

TEST_F(ComponentStreamTest, StringsAreNeverLost) {
  struct {
    QString Value;
    char Type;  // 0: not written
  } cases[] = {
      {QString(), 0},
      {QStringLiteral("abc"), vaString},
      {QString(255, 'a'), vaString},
      {QString(256, 'a'), vaLString},
      {QStringLiteral("tab\tquote' CR\rLF\n#hash"), vaString},
      {QStringLiteral("é"), vaWString},
      {QStringLiteral("日本語"), vaWString},
      {QStringLiteral("emoji 😀 and \u0001"), vaWString},
      {QString(300, QChar(0x0416)), vaWString},
  };
  for (const auto& c : cases) {
    TTestComponent source(&Form);
    source.SetCaption(c.Value);
    const QByteArray data = Binary(source);
    const QByteArray value = ValueOf(data, "Caption");
    if (!c.Type) {
      EXPECT_TRUE(value.isEmpty());
      continue;
    }
    ASSERT_FALSE(value.isEmpty()) << c.Value.toStdString();
    EXPECT_EQ(value[0], c.Type) << c.Value.toStdString();
    if (c.Type == vaWString) {
      EXPECT_EQ(value.mid(1, 4), LE(quint64(c.Value.size()), 4));
    }
    for (bool text : {false, true}) EXPECT_EQ(ReadBack(source, text).Caption(), c.Value) << text;
  }
}

TEST_F(ComponentStreamTest, ExtendedFloatConversion) {
  struct {
    double Value;
    QByteArray Bytes;
  } cases[] = {
      {1.0, LE(0x8000000000000000ull, 8) + LE(0x3FFF, 2)},
      {-2.5, LE(0xA000000000000000ull, 8) + LE(0xC000, 2)},
      {0.0, LE(0, 10)},
      {-0.0, LE(0, 8) + LE(0x8000, 2)},
      {DBL_TRUE_MIN, LE(0x8000000000000000ull, 8) + LE(16383 - 1074, 2)},
      {DBL_MAX, LE(0xFFFFFFFFFFFFF800ull, 8) + LE(0x43FE, 2)},
      {INFINITY, LE(0x8000000000000000ull, 8) + LE(0x7FFF, 2)},
      {-INFINITY, LE(0x8000000000000000ull, 8) + LE(0xFFFF, 2)},
  };
  for (const auto& c : cases) {
    unsigned char b[10];
    DoubleToExtended(c.Value, b);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(b), 10).toHex(), c.Bytes.toHex()) << c.Value;
    const double back = ExtendedToDouble(b);
    EXPECT_EQ(back, c.Value);
    EXPECT_EQ(std::signbit(back), std::signbit(c.Value));
  }
  for (double v : {0.1, 1.0 / 3.0, DBL_MIN, DBL_MIN / 3, -123456.789e300}) {
    unsigned char b[10];
    DoubleToExtended(v, b);
    EXPECT_EQ(ExtendedToDouble(b), v);
  }
  // NaNs keep sign and payload.
  for (quint64 bits : {0x7FF8000000000000ull, 0xFFF0000000000001ull, 0x7FFFFFFFFFFFFFFFull}) {
    unsigned char b[10];
    DoubleToExtended(std::bit_cast<double>(bits), b);
    EXPECT_EQ(std::bit_cast<quint64>(ExtendedToDouble(b)), bits);
  }
  const QByteArray lowPayload = LE(0x8000000000000001ull, 8) + LE(0x7FFF, 2);
  EXPECT_TRUE(std::isnan(ExtendedToDouble(reinterpret_cast<const unsigned char*>(lowPayload.constData()))));

  // Values only the extended format holds.
  struct {
    QByteArray Bytes;
    double Value;
  } wide[] = {
      {LE(0xAAAAAAAAAAAAAAABull, 8) + LE(0x3FFD, 2), 1.0 / 3.0},  // one third, rounded to double
      {LE(0x8000000000000000ull, 8) + LE(0x7FFE, 2), INFINITY},   // too large for a double
      {LE(0x8000000000000000ull, 8) + LE(0x0001, 2), 0.0},        // too small for a double
      {LE(0x0000000000000001ull, 8) + LE(0x0000, 2), 0.0},        // an extended subnormal
  };
  for (const auto& c : wide)
    EXPECT_EQ(ExtendedToDouble(reinterpret_cast<const unsigned char*>(c.Bytes.constData())), c.Value);
}

// --- Reading ----------------------------------------------------------------------------

TEST_F(ComponentStreamTest, EveryValueTypeIsRead) {
  struct {
    QByteArray Props;
    std::function<bool(const TTestComponent&)> Check;
  } cases[] = {
      {Prop("Count", "\x02" + LE(0xFB, 1)), [](auto& c) { return c.Count() == -5; }},
      {Prop("Count", "\x03" + LE(0x1234, 2)), [](auto& c) { return c.Count() == 0x1234; }},
      {Prop("Count", "\x04" + LE(0x80000000, 4)), [](auto& c) { return c.Count() == INT_MIN; }},
      {Prop("Count", "\x13" + LE(77, 8)), [](auto& c) { return c.Count() == 77; }},
      {Prop("Big", "\x13" + LE(quint64(1) << 50, 8)), [](auto& c) { return c.Big() == qint64(1) << 50; }},
      {Prop("Ratio", "\x05" + LE(0xC000000000000000ull, 8) + LE(0x4000, 2)), [](auto& c) { return c.Ratio() == 3.0; }},
      {Prop("Ratio", "\x0f" + LE(0x3FC00000, 4)), [](auto& c) { return c.Ratio() == 1.5; }},
      {Prop("Ratio", "\x10" + LE(25000, 8)), [](auto& c) { return c.Ratio() == 2.5; }},
      {Prop("Ratio", "\x11" + LE(0x4002000000000000ull, 8)), [](auto& c) { return c.Ratio() == 2.25; }},
      {Prop("Ratio", "\x03" + LE(1000, 2)), [](auto& c) { return c.Ratio() == 1000.0; }},
      {Prop("Scale", "\x0f" + LE(0x3E800000, 4)), [](auto& c) { return c.Scale() == 0.25f; }},
      {Prop("Caption", "\x06" + Short("caf\xe9")), [](auto& c) { return c.Caption() == QStringLiteral("café"); }},
      {Prop("Caption", "\x0c" + LE(3, 4) + "abc"), [](auto& c) { return c.Caption() == QStringLiteral("abc"); }},
      {Prop("Caption", "\x12" + LE(2, 4) + LE(0x65E5, 2) + LE(0x672C, 2)),
       [](auto& c) { return c.Caption() == QStringLiteral("日本"); }},
      {Prop("Lines", "\x01" + ("\x06" + Short("a")) + ("\x12" + LE(1, 4) + LE(0x00E9, 2)) + '\0'),
       [](auto& c) { return c.Lines() == QStringList{QStringLiteral("a"), QStringLiteral("é")}; }},
      {Prop("Data", "\x0a" + LE(3, 4) + QByteArray("\0\1\2", 3)),
       [](auto& c) { return c.Data() == QByteArray("\0\1\2", 3); }},
      {Prop("Styles", "\x0b" + Short("fsBold") + Short("FSUNDERLINE") + '\0'),
       [](auto& c) { return c.Styles() == (fsBold | fsUnderline); }},
      {Prop("Shade", "\x07" + Short("shDark")), [](auto& c) { return c.Shade() == shDark; }},
      {Prop("Shade", "\x02" + LE(0, 1)), [](auto& c) { return c.Shade() == shLight; }},
      {Prop("Orientation", "\x07" + Short("poLandscape")), [](auto& c) { return c.Orientation() == poLandscape; }},
      {Prop("Flag", "\x09"), [](auto& c) { return c.Flag(); }},
      {Prop("Flag", "\x09") + Prop("Flag", "\x08"), [](auto& c) { return !c.Flag(); }},
      {Prop("Colour", "\x07" + Short("clRed")), [](auto& c) { return c.Colour() == QColor(Qt::red); }},
      {Prop("Colour", "\x04" + LE(0x563412, 4)), [](auto& c) { return c.Colour() == QColor(0x12, 0x34, 0x56); }},
      {Prop("Colour", "\x07" + Short("clNone")), [](auto& c) { return !c.Colour().isValid(); }},
      {Prop("Font.Name", "\x06" + Short("Serif")), [](auto& c) { return c.Font()->Name() == QStringLiteral("Serif"); }},
      {Prop("font.size", "\x02" + LE(11, 1)), [](auto& c) { return c.Font()->Size() == 11; }},
      {Prop("Partner", "\x0d"), [](auto& c) { return c.Partner() == nullptr; }},
  };
  for (const auto& c : cases) {
    TTestComponent target(&Form);
    target.SetPartner(&target);
    ReadBinary(Data(c.Props), &target);
    EXPECT_TRUE(c.Check(target)) << c.Props.toHex().toStdString();
  }
}

TEST_F(ComponentStreamTest, CollectionsAndPrefixesPassThroughTheTextForm) {
  const QByteArray collection = "\x0e" + ("\x01" + Prop("A", "\x02" + LE(1, 1)) + '\0') +
                                ("\x02" + LE(3, 1) + "\x01" + Prop("B", "\x06" + Short("x")) + '\0') + '\0';
  const QByteArray data = "TPF0" + QByteArray("\xf3") + "\x02" + LE(2, 1) + Short("TThing") + Short("T1") +
                          Prop("Items", collection) + Prop("Flt", "\x0f" + LE(0x3FC00000, 4)) +
                          Prop("Cur", "\x10" + LE(quint64(-12345), 8)) + Prop("When", "\x11" + LE(0x4002000000000000ull, 8)) +
                          Prop("Ext", "\x05" + LE(0xC000000000000000ull, 8) + LE(0x4000, 2)) + Prop("Bin", "\x0a" + LE(0, 4)) +
                          Prop("Nothing", "\x0d") + '\0' + ("TPF0" + Short("TChild") + Short("") + QByteArray(2, '\0')).mid(4) +
                          '\0';
  const QByteArray text = Convert(data, true);
  EXPECT_EQ(text,
            "inherited T1: TThing [2]\r\n"
            "  Items = <\r\n"
            "    item\r\n"
            "      A = 1\r\n"
            "    end\r\n"
            "    item [3]\r\n"
            "      B = 'x'\r\n"
            "    end>\r\n"
            "  Flt = 1.5s\r\n"
            "  Cur = -1.2345c\r\n"
            "  When = 2.25d\r\n"
            "  Ext = 3.0\r\n"
            "  Bin = {}\r\n"
            "  Nothing = nil\r\n"
            "  object TChild\r\n"
            "  end\r\n"
            "end\r\n");
  EXPECT_EQ(Convert(text, false).toHex(), data.toHex());
  // A collection is read but no property of ours takes one.
  TTestComponent target(&Form);
  EXPECT_EQ(MessageOf<Exception>([&] { ReadBinary(Data(Prop("Lines", collection)), &target); }),
            QStringLiteral("Invalid property value"));
}

TEST_F(ComponentStreamTest, RoundTripKeepsEveryProperty) {
  TTestComponent partner(&Form);
  partner.SetName(QStringLiteral("Partner1"));
  TTestComponent source(&Form);
  Fill(source);
  source.SetPartner(&partner);
  TGlobalComponentScope scope(&Form);
  for (bool text : {false, true}) {
    const QByteArray data = text ? Text(source) : Binary(source);
    std::unique_ptr<QObject> read(text ? ReadText(data, nullptr) : ReadBinary(data, nullptr));
    auto* target = qobject_cast<TTestComponent*>(read.get());
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->Name(), QStringLiteral("Full"));
    ResolvePendingReferences();
    EXPECT_EQ(target->Partner(), &partner);
    for (QObject* pair : {static_cast<QObject*>(&source), static_cast<QObject*>(source.Font())}) {
      QObject* other = pair == &source ? static_cast<QObject*>(target) : target->Font();
      const QMetaObject* m = pair->metaObject();
      for (int i = QObject::staticMetaObject.propertyCount(); i < m->propertyCount(); ++i) {
        const QMetaProperty p = m->property(i);
        if (p.enclosingMetaObject()->className()[0] == 'Q' || !p.isStored() || QByteArray(p.name()) == "Font" ||
            QByteArray(p.name()) == "Saving")
          continue;
        EXPECT_EQ(p.read(other), p.read(pair)) << p.name() << (text ? " text" : " binary");
      }
    }
    // The other form of the same data converts to identical bytes.
    EXPECT_EQ(Convert(data, !text), text ? Binary(source) : Text(source));
  }
}

TEST_F(ComponentStreamTest, ReadingIntoAnExistingComponentKeepsItsNameAndWhatTheDataLacks) {
  TTestComponent target(&Form);
  target.SetName(QStringLiteral("Mine"));
  target.SetCaption(QStringLiteral("kept"));
  EXPECT_EQ(ReadBinary(Data(Prop("Count", "\x02" + LE(4, 1)), "TTestComponent", "Other"), &target), &target);
  EXPECT_EQ(target.Name(), QStringLiteral("Mine"));
  EXPECT_EQ(target.Count(), 4);
  EXPECT_EQ(target.Caption(), QStringLiteral("kept"));
}

// Read back onto the component it came from, data gives what it left out
// (for holding its default) that default again, sub-objects included;
// what is always written stays until data names it.
TEST_F(ComponentStreamTest, ReadingOntoAnExistingComponentCanGiveTheLeftOutTheirDefaults) {
  TTestComponent target(&Form);
  target.SetCount(9);
  target.SetFlag(true);
  target.SetCaption(QStringLiteral("changed"));
  target.SetShown(true);
  target.SetShade(shDark);
  target.SetScale(2.5f);
  target.SetLines({QStringLiteral("a")});
  target.SetData("b");
  target.Font()->SetSize(20);
  target.Font()->SetName(QStringLiteral("Sans"));
  QByteArray data = Data(Prop("Caption", "\x06" + Short("read")));
  QBuffer in(&data);
  in.open(QIODevice::ReadOnly);
  const TStoredAtWrite always = [](const QString&) { return true; };
  ReadComponentData(in, &target, &always);
  EXPECT_EQ(target.Caption(), QStringLiteral("read"));
  EXPECT_FALSE(target.Shown());
  EXPECT_EQ(target.Shade(), shMedium);
  EXPECT_EQ(target.Scale(), 0.0f);
  EXPECT_TRUE(target.Lines().isEmpty());
  EXPECT_TRUE(target.Data().isEmpty());
  EXPECT_EQ(target.Font()->Size(), 8);
  EXPECT_TRUE(target.Font()->Name().isEmpty());
  EXPECT_EQ(target.Count(), 9);  // integers and flags are always written
  EXPECT_TRUE(target.Flag());
}

// --- References ----------------------------------------------------------------------------

TEST_F(ComponentStreamTest, ReferencesAreWrittenAsOwnerAndNameAndResolvedByName) {
  TTestComponent a(&Form);
  a.SetName(QStringLiteral("A"));
  auto* b = new TTestComponent(&Form);
  b->SetName(QStringLiteral("B"));
  a.SetPartner(b);
  EXPECT_TRUE(Text(a).contains("  Partner = frmTest.B\r\n"));
  const QByteArray data = Binary(a);
  delete b;

  TGlobalComponentScope scope(&Form);
  TTestComponent target(&Form);
  ReadBinary(data, &target);
  ResolvePendingReferences();
  EXPECT_EQ(target.Partner(), nullptr);
  EXPECT_EQ(PendingReferences(), QStringList{QStringLiteral(".Partner -> frmTest.B")});
  // The target appears later: a later record resolves it.
  TTestComponent later(&Form);
  later.SetName(QStringLiteral("b"));
  ResolvePendingReferences();
  EXPECT_EQ(target.Partner(), &later);
  EXPECT_TRUE(PendingReferences().isEmpty());
}

TEST_F(ComponentStreamTest, ReferencesThatCannotBeResolved) {
  TGlobalComponentScope scope(&Form);
  TPlainComponent wrongClass(&Form);
  wrongClass.SetName(QStringLiteral("Plain"));
  TTestComponent target(&Form);
  ReadBinary(Data(Prop("Partner", "\x07" + Short("frmTest.Plain"))), &target);
  EXPECT_EQ(MessageOf<Exception>([] { ResolvePendingReferences(); }), QStringLiteral("Invalid property value"));

  ReadBinary(Data(Prop("Partner", "\x07" + Short("frmTest.Nobody"))), &target);
  EXPECT_EQ(MessageOf<Exception>([] { CheckPendingReferences(); }), QStringLiteral("Unresolved reference to frmTest.Nobody"));
  EXPECT_TRUE(PendingReferences().isEmpty());

  // A holder that is freed takes its pending reference with it.
  {
    TTestComponent gone(&Form);
    ReadBinary(Data(Prop("Partner", "\x07" + Short("frmTest.Nobody"))), &gone);
  }
  EXPECT_NO_THROW(CheckPendingReferences());
}

// --- Bad input ---------------------------------------------------------------------------------

TEST_F(ComponentStreamTest, MalformedBinaryData) {
  struct {
    QByteArray Data;
    QString Message;
  } cases[] = {
      {Data(Prop("Checked", "\x03" + LE(1000, 2))), QStringLiteral("Checked out of range")},
      {"TPF1" + Data("").mid(4), QStringLiteral("Invalid stream format")},
      {"TP", QStringLiteral("Invalid stream format")},
      {Data(Prop("Nope", "\x02" + LE(1, 1))), QStringLiteral("Property Nope does not exist")},
      {Data(Prop("Hidden", "\x02" + LE(1, 1))), QStringLiteral("Property Hidden does not exist")},
      {Data(Prop("objectName", "\x06" + Short("x"))), QStringLiteral("Property objectName does not exist")},
      {Data(Prop("Font.Nope", "\x02" + LE(1, 1))), QStringLiteral("Property Font.Nope does not exist")},
      {Data(Prop("Count.X", "\x02" + LE(1, 1))), QStringLiteral("Property Count.X does not exist")},
      {Data(Prop("Partner.Count", "\x02" + LE(1, 1))), QStringLiteral("Property Partner.Count does not exist")},
      {Data(Prop("Count", "\x06" + Short("1"))), QStringLiteral("Invalid property value")},
      {Data(Prop("Count", "\x13" + LE(quint64(1) << 40, 8))), QStringLiteral("Invalid property value")},
      {Data(Prop("Shade", "\x07" + Short("shNope"))), QStringLiteral("Invalid property value")},
      {Data(Prop("Shade", "\x02" + LE(9, 1))), QStringLiteral("Invalid property value")},
      {Data(Prop("Styles", "\x0b" + Short("fsNope") + '\0')), QStringLiteral("Invalid property value")},
      {Data(Prop("Lines", "\x01\x02\x01\x00")), QStringLiteral("Invalid property value")},
      {Data(Prop("Colour", "\x07" + Short("clBtnFace"))), QStringLiteral("Invalid property value")},
      {Data(Prop("Font", "\x0d")), QStringLiteral("Invalid property value")},
      {Data(Prop("Caption", "\x0c" + LE(1000, 4) + "abc")), QStringLiteral("Stream read error")},
      {Data(Prop("Caption", "\x0c" + LE(0x7FFFFFFF, 4))), QStringLiteral("Stream read error")},
      {Data(Prop("Caption", "\x12" + LE(0x7FFFFFFF, 4))), QStringLiteral("Stream read error")},
      {Data(Prop("Caption", "\x0c" + LE(0xFFFFFFFF, 4))), QStringLiteral("Invalid stream format")},
      {Data(Prop("Data", "\x0a" + LE(0x40000000, 4))), QStringLiteral("Stream read error")},
      {Data(Prop("Caption", "\x06\xff" + QByteArray("abc"))), QStringLiteral("Stream read error")},
      {Data(Prop("Caption", "\x14")), QStringLiteral("Invalid stream format")},
      {Data(Prop("Caption", "\x00")), QStringLiteral("Invalid stream format")},
      {Data(Prop("Lines", QByteArray(100000, '\x01'))), QStringLiteral("Lists nested too deeply")},
      {Data(Prop("Lines", QByteArray(100000, '\x0e'))), QStringLiteral("Invalid stream format")},
      {Data(Prop("Lines", "\x0e" + QByteArray(100000, '\x01'))), QStringLiteral("Lists nested too deeply")},
      {Data("").left(Data("").size() - 1) + "\x0f" + "TChildOfMine" + '\0', QStringLiteral("Invalid stream format")},
  };
  for (const auto& c : cases) {
    TTestComponent target(&Form);
    EXPECT_EQ(MessageOf<Exception>([&] { ReadBinary(c.Data, &target); }), c.Message) << c.Data.left(60).toHex().toStdString();
    std::unique_ptr<QObject> fresh;
    EXPECT_NE(MessageOf<Exception>([&] { fresh.reset(ReadBinary(c.Data, nullptr)); }), QStringLiteral("<no exception>"));
  }
}

TEST_F(ComponentStreamTest, ANewComponentNeedsAKnownClassAndAValidName) {
  EXPECT_EQ(MessageOf<Exception>([&] { ReadBinary(Data("", "TNope"), nullptr); }), QStringLiteral("Class TNope not found"));
  for (const char* name : {"C\t", "1st", "a b", "a.b", "x:y"})
    EXPECT_EQ(MessageOf<Exception>([&] { ReadBinary(Data("", "TTestComponent", name), nullptr); }),
              QStringLiteral("'%1' is not a valid component name").arg(QLatin1String(name)));
  for (const char* name : {"", "_x9", "Größe"}) {
    std::unique_ptr<QObject> read(ReadBinary(Data("", "TTestComponent", name), nullptr));
    EXPECT_EQ(read->objectName(), QString::fromUtf8(name));
  }
  // Read into a given component, the class named in the data is not used.
  TTestComponent target(&Form);
  EXPECT_EQ(ReadBinary(Data(Prop("Count", "\x02" + LE(3, 1)), "TNope"), &target), &target);
  EXPECT_EQ(target.Count(), 3);
}

TEST_F(ComponentStreamTest, TruncatedDataAlwaysFails) {
  TTestComponent source(&Form);
  Fill(source);
  const QByteArray binary = Binary(source);
  const QByteArray text = Text(source);
  for (qsizetype n = 0; n < binary.size(); ++n) {
    std::unique_ptr<QObject> read;
    EXPECT_NE(MessageOf<Exception>([&] { read.reset(ReadBinary(binary.left(n), nullptr)); }), QStringLiteral("<no exception>")) << n;
  }
  for (qsizetype n = 0; n < text.size() - 2; ++n) {  // without the last line end it still ends in "end"
    std::unique_ptr<QObject> read;
    EXPECT_NE(MessageOf<Exception>([&] { read.reset(ReadText(text.left(n), nullptr)); }), QStringLiteral("<no exception>")) << n;
  }
}

TEST_F(ComponentStreamTest, MalformedText) {
  const QByteArray head = "object C: TTestComponent\r\n";
  struct {
    QByteArray Body;
    QString Message;
  } cases[] = {
      {"  Count = 1\r\n", QStringLiteral("'end' expected on line 3")},
      {"  Count 1\r\nend\r\n", QStringLiteral("'=' expected on line 2")},
      {"  Caption = 'abc\r\nend\r\n", QStringLiteral("Unterminated string on line 2")},
      {"  Caption = #70000\r\nend\r\n", QStringLiteral("Invalid string constant on line 2")},
      {"  Caption = #\r\nend\r\n", QStringLiteral("Invalid string constant on line 2")},
      {"  Data = {0G}\r\nend\r\n", QStringLiteral("Invalid binary value on line 2")},
      {"  Data = {012}\r\nend\r\n", QStringLiteral("Invalid binary value on line 2")},
      {"  Data = {01", QStringLiteral("Invalid binary value on line 2")},
      {"  Count = @\r\nend\r\n", QStringLiteral("Invalid character 64 on line 2")},
      {"  Count = 1.2.3\r\nend\r\n", QStringLiteral("Invalid number on line 2")},
      {"  Count = " + QByteArray(100, '9') + "\r\nend\r\n", QStringLiteral("Invalid number on line 2")},
      {"  " + QByteArray(300, 'x') + " = 1\r\nend\r\n", QStringLiteral("Identifier too long on line 2")},
      {"  Lines = " + QByteArray(5000, '(') + "\r\nend\r\n", QStringLiteral("Lists nested too deeply on line 2")},
      {"  Styles = [fsBold fsItalic]\r\nend\r\n", QStringLiteral("',' expected on line 2")},
      {"  Count = )\r\nend\r\n", QStringLiteral("Invalid property value on line 2")},
      {"  Count = 'one'\r\nend\r\n", QStringLiteral("Invalid property value")},
      {"  Count = 99999999999999999999\r\nend\r\n", QStringLiteral("Invalid property value")},
      {"  object C2: TTestComponent\r\n  end\r\nend\r\n", QStringLiteral("Invalid stream format")},
      {"  KR Comp Done\r\n", QStringLiteral("'=' expected on line 2")},
  };
  for (const auto& c : cases) {
    TTestComponent target(&Form);
    EXPECT_EQ(MessageOf<Exception>([&] { ReadText(head + c.Body, &target); }), c.Message) << c.Body.left(60).toStdString();
  }
  TTestComponent target(&Form);
  EXPECT_EQ(MessageOf<Exception>([&] { ReadText("objekt C: TTestComponent\r\nend\r\n", &target); }),
            QStringLiteral("'object' expected on line 1"));
  EXPECT_EQ(MessageOf<Exception>([&] { ReadText("", &target); }), QStringLiteral("'object' expected on line 1"));
}

TEST_F(ComponentStreamTest, HandWrittenTextIsRead) {
  TTestComponent target(&Form);
  QByteArray data =
      "object C: TTestComponent\n"
      "  Caption = 'It''s'#13#10'Grüße'\n"
      "  Lines = ('one' 'two'#9)\n"
      "  Data = {00ff\n  10}\n"
      "  Styles = [ fsItalic , fsBold ]\n"
      "  Ratio = -2.5e-3\n"
      "  Flag = true\n"
      "end   \nNEXT";
  QBuffer in(&data);
  in.open(QIODevice::ReadOnly);
  ReadComponentDataText(in, &target);
  EXPECT_EQ(target.Caption(), QStringLiteral("It's\r\nGrüße"));
  EXPECT_EQ(target.Lines(), (QStringList{QStringLiteral("one"), QStringLiteral("two\t")}));
  EXPECT_EQ(target.Data(), QByteArray("\x00\xff\x10", 3));
  EXPECT_EQ(target.Styles(), fsItalic | fsBold);
  EXPECT_EQ(target.Ratio(), -2.5e-3);
  EXPECT_TRUE(target.Flag());
  // The stream stands at the line after "end".
  EXPECT_EQ(in.readAll(), QByteArray("NEXT"));
}

}  // namespace
