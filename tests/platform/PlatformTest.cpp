#include "TestSupport.h"

#include "platform/Application.h"
#include "platform/Dialogs.h"
#include "platform/Exceptions.h"
#include "platform/Paths.h"
#include "platform/QtPrinter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// Sets or clears an environment variable for the life of the object.
class TEnvScope {
public:
  TEnvScope(const char* Name, const QString& Value) : FName(Name), FHad(qEnvironmentVariableIsSet(Name)) {
    FOld = qgetenv(Name);
    if (Value.isNull())
      qunsetenv(Name);
    else
      qputenv(Name, Value.toLocal8Bit());
  }
  ~TEnvScope() {
    if (FHad)
      qputenv(FName, FOld);
    else
      qunsetenv(FName);
  }

private:
  const char* FName;
  bool FHad;
  QByteArray FOld;
};

}  // namespace

// --- Numbers -----------------------------------------------------------------

TEST(StrToFloat, ReadsDotDecimalsWhateverTheLocale) {
  TLocaleScope locale("de_DE.UTF-8");
  struct {
    const char* text;
    double value;
  } good[] = {{"0.5", 0.5}, {" 1.2500 ", 1.25}, {"-3", -3}, {"+2.5", 2.5}, {"1e-3", 0.001}, {".5", 0.5}};
  for (const auto& c : good) EXPECT_DOUBLE_EQ(StrToFloat(QString::fromLatin1(c.text)), c.value) << c.text;
  for (const char* bad : {"", " ", "0,5", "1.2.3", "abc", "1x", "inf", "nan", "1e999", "++1", "0.5\xc3\xa9"})
    EXPECT_EQ(MessageOf<EConvertError>([&] { StrToFloat(QString::fromUtf8(bad)); }),
              QStringLiteral("'%1' is not a valid floating point value").arg(QString::fromUtf8(bad)))
        << bad;
}

TEST(Trunc, TruncatesTowardsZeroAndRefusesWhatDoesNotFit) {
  EXPECT_EQ(Trunc(2.9), 2);
  EXPECT_EQ(Trunc(-2.9), -2);
  EXPECT_EQ(Trunc(2147483647.9), 2147483647);
  for (double x : {2147483648.0, -2147483649.0, 1e300, std::numeric_limits<double>::quiet_NaN(),
                   std::numeric_limits<double>::infinity()})
    EXPECT_EQ(MessageOf<EInvalidOp>([&] { Trunc(x); }), QStringLiteral("Invalid floating point operation")) << x;
}

// --- Dialogs -----------------------------------------------------------------

TEST(Dialogs, AScriptAnswersInOrderAndRecordsWhatWasAsked) {
  TDialogScript script;
  script.Answer(mrNo).Answer(mrYes).AnswerInput(true, QStringLiteral("My layout"));
  Dialogs::ShowMessage(QStringLiteral("Hello"));  // takes no answer
  EXPECT_EQ(Dialogs::MessageDlg(QStringLiteral("First?"), mtConfirmation, mbYes | mbNo), mrNo);
  EXPECT_EQ(Dialogs::MessageDlg(QStringLiteral("Second?"), mtWarning, mbYes | mbNo | mbCancel), mrYes);
  QString value = QStringLiteral("A4 210 x 297 mm");
  EXPECT_TRUE(Dialogs::InputQuery(QStringLiteral("Save Layout"), QStringLiteral("Name:"), value));
  EXPECT_EQ(value, QStringLiteral("My layout"));

  ASSERT_EQ(script.Asked().size(), 4);
  EXPECT_EQ(script.Texts(), (QStringList{"Hello", "First?", "Second?", "Name:"}));
  EXPECT_EQ(script.Asked()[1].DlgType, mtConfirmation);
  EXPECT_EQ(script.Asked()[2].Buttons, mbYes | mbNo | mbCancel);
  EXPECT_EQ(script.Asked()[3].Caption, QStringLiteral("Save Layout"));
  EXPECT_EQ(script.Asked()[3].Value, QStringLiteral("My layout"));
  EXPECT_EQ(script.Unanswered(), 0);
  EXPECT_EQ(script.Pending(), 0);
}

TEST(Dialogs, BoxesBeyondTheScriptTakeTheDefaultAnswerAndAreCounted) {
  TDialogScript script;
  EXPECT_EQ(Dialogs::MessageDlg(QStringLiteral("a"), mtConfirmation, mbYes | mbNo | mbCancel), mrCancel);
  EXPECT_EQ(Dialogs::MessageDlg(QStringLiteral("b"), mtConfirmation, mbYes | mbNo), mrNo);
  EXPECT_EQ(Dialogs::MessageDlg(QStringLiteral("c"), mtError, mbOK), mrOk);
  QString value = QStringLiteral("kept");
  EXPECT_FALSE(Dialogs::InputQuery(QStringLiteral("x"), QStringLiteral("y"), value));
  EXPECT_EQ(value, QStringLiteral("kept"));
  EXPECT_EQ(script.Unanswered(), 4);
}

TEST(Dialogs, ScriptsNestAndTheNewestAnswers) {
  TDialogScript outer;
  outer.Answer(mrYes);
  {
    TDialogScript inner;
    inner.Answer(mrNo);
    EXPECT_EQ(Dialogs::MessageDlg(QStringLiteral("inner"), mtConfirmation, mbYes | mbNo), mrNo);
    EXPECT_EQ(inner.Asked().size(), 1);
  }
  EXPECT_EQ(Dialogs::MessageDlg(QStringLiteral("outer"), mtConfirmation, mbYes | mbNo), mrYes);
  EXPECT_EQ(outer.Texts(), QStringList{QStringLiteral("outer")});
}

// --- The application object --------------------------------------------------

namespace {

class TThrower : public QObject {
public:
  std::function<void()> Throw;

protected:
  bool event(QEvent* e) override {
    if (e->type() == QEvent::User) Throw();
    return QObject::event(e);
  }
};

}  // namespace

TEST(TApplication, NoExceptionReachesTheEventLoop) {
  TDialogScript script;
  TThrower target;
  struct {
    std::function<void()> raise;
    QStringList shown;
  } cases[] = {
      {[] { throw Exception(QStringLiteral("Something failed")); }, {QStringLiteral("Something failed")}},
      {[] { throw EAbort(); }, {}},  // the silent abort
      {[] { throw std::runtime_error("plain"); }, {QStringLiteral("plain")}},
      {[] { throw 42; }, {QStringLiteral("An unknown error occurred.")}},
  };
  for (const auto& c : cases) {
    script.Clear();
    target.Throw = c.raise;
    QEvent event(QEvent::User);
    EXPECT_NO_THROW(QCoreApplication::sendEvent(&target, &event));
    EXPECT_EQ(script.Texts(), c.shown);
  }
}

TEST(TApplication, CallGuardedKeepsExceptionsInside) {
  TDialogScript script;
  EXPECT_TRUE(CallGuarded([] {}));
  EXPECT_FALSE(CallGuarded([] { throw EAbort(); }));
  EXPECT_TRUE(script.Texts().isEmpty());
  EXPECT_FALSE(CallGuarded([] { throw EPrinter(QStringLiteral("Error retrieving DeviceMode")); }));
  EXPECT_EQ(script.Texts(), QStringList{QStringLiteral("Error retrieving DeviceMode")});
}

// --- Folders -------------------------------------------------------------------

TEST(Paths, TavoraHomeHoldsEverythingTheUserWrites) {
  QTemporaryDir dir;
  const QString home = dir.filePath(QStringLiteral("home"));
  TEnvScope env("TAVORA_HOME", home);
  EXPECT_EQ(Paths::UserSettingsDir(), home);
  EXPECT_EQ(Paths::UserDataDir(), home);
  EXPECT_TRUE(QFileInfo(home).isDir());
}

TEST(Paths, WithoutTavoraHomeTheFreedesktopFolders) {
  QTemporaryDir dir;
  TEnvScope noHome("TAVORA_HOME", QString());
  TEnvScope home("HOME", dir.path());
  TEnvScope config("XDG_CONFIG_HOME", QString());
  TEnvScope data("XDG_DATA_HOME", QString());
  TEnvScope cache("XDG_CACHE_HOME", QString());
  EXPECT_EQ(Paths::UserSettingsDir(), dir.path() + QStringLiteral("/.config/tavora"));
  EXPECT_EQ(Paths::UserDataDir(), dir.path() + QStringLiteral("/.local/share/tavora"));
  EXPECT_EQ(Paths::ThumbnailCacheDir(), dir.path() + QStringLiteral("/.cache/Morvek/Common/Cache/"));
  EXPECT_TRUE(QFileInfo(Paths::ThumbnailCacheDir()).isDir());
  TEnvScope xdgCache("XDG_CACHE_HOME", dir.filePath(QStringLiteral("c")));
  EXPECT_EQ(Paths::ThumbnailCacheDir(), dir.filePath(QStringLiteral("c")) + QStringLiteral("/Morvek/Common/Cache/"));
}

TEST(Paths, ProgramFilesBesideTheProgramWinOverTheInstalledOnes) {
  const QString name = QStringLiteral("tavora-test-%1.data").arg(QCoreApplication::applicationPid());
  EXPECT_EQ(Paths::ProgramFile(name), QStringLiteral(TAVORA_DATADIR "/") + name);
  const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
  QFile f(beside);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.close();
  EXPECT_EQ(Paths::ProgramFile(name), beside);
  QFile::remove(beside);
}

// --- Printers ------------------------------------------------------------------

TEST(TTestPrinter, RecordsJobsAndPages) {
  TTestPrinterScope printer;
  TPrinter& p = Printer();
  EXPECT_EQ(&p, &*printer);
  p.SetTitle(QStringLiteral("Holiday"));
  p.BeginDoc();
  EXPECT_TRUE(p.Printing());
  p.Canvas()->fillRect(QRect(0, 0, 100, 50), Qt::black);
  p.NewPage();
  EXPECT_EQ(p.PageNumber(), 2);
  p.Canvas()->fillRect(QRect(200, 100, 10, 10), Qt::black);
  p.EndDoc();
  EXPECT_FALSE(p.Printing());

  ASSERT_EQ(printer->Jobs().size(), 1u);
  const auto& job = printer->Jobs()[0];
  EXPECT_EQ(job.Title, QStringLiteral("Holiday"));
  EXPECT_TRUE(job.Ended);
  ASSERT_EQ(job.Pages.size(), 2);
  const QImage page1 = printer->RenderPage(0, 0);
  EXPECT_EQ(page1.size(), QSize(2380, 3368));
  EXPECT_EQ(page1.pixelColor(50, 25), QColor(Qt::black));
  EXPECT_EQ(page1.pixelColor(205, 105), QColor(Qt::white));
  EXPECT_EQ(printer->RenderPage(0, 1).pixelColor(205, 105), QColor(Qt::black));

  p.BeginDoc();
  p.Abort();
  EXPECT_TRUE(p.Aborted());
  EXPECT_TRUE(printer->Jobs()[1].Aborted);
}

TEST(TTestPrinter, JobStateAndSelectionErrors) {
  TTestPrinter::TInfo a, b;
  a.Name = QStringLiteral("A");
  b.Name = QStringLiteral("B");
  TTestPrinterScope printer({a, b});
  TPrinter& p = Printer();
  EXPECT_EQ(MessageOf<EPrinter>([&] { p.EndDoc(); }), QStringLiteral("Printer is not currently printing"));
  EXPECT_EQ(MessageOf<EPrinter>([&] { p.NewPage(); }), QStringLiteral("Printer is not currently printing"));
  EXPECT_EQ(MessageOf<EPrinter>([&] { p.SetPrinterIndex(2); }), QStringLiteral("Printer index out of range"));
  printer->DefaultIndex = 1;
  p.SetPrinterIndex(-1);
  EXPECT_EQ(p.PrinterName(), QStringLiteral("B"));
  p.BeginDoc();
  EXPECT_EQ(MessageOf<EPrinter>([&] { p.BeginDoc(); }), QStringLiteral("Printing in progress"));
  EXPECT_EQ(MessageOf<EPrinter>([&] { p.SetPrinterIndex(0); }), QStringLiteral("Printing in progress"));
  p.EndDoc();
  printer->Current().FailsBeginDoc = true;
  EXPECT_THROW(p.BeginDoc(), EPrinter);
  EXPECT_FALSE(p.Printing());
}

TEST(TTestPrinter, LandscapeTurnsTheCapabilities) {
  TTestPrinterScope printer;
  TPrinter& p = Printer();
  const int w = p.PageWidth(), h = p.PageHeight(), ox = p.GetDeviceCaps(PHYSICALOFFSETX);
  const int oy = p.GetDeviceCaps(PHYSICALOFFSETY);
  p.SetOrientation(poLandscape);
  EXPECT_EQ(p.PageWidth(), h);
  EXPECT_EQ(p.PageHeight(), w);
  EXPECT_EQ(p.GetDeviceCaps(PHYSICALOFFSETX), oy);
  EXPECT_EQ(p.GetDeviceCaps(PHYSICALOFFSETY), ox);
  QString device, driver, port;
  TDeviceMode* mode = nullptr;
  p.GetPrinter(device, driver, port, mode);
  ASSERT_NE(mode, nullptr);
  EXPECT_EQ(mode->Orientation, poLandscape);
}

TEST(PaperCodes, MapToAndFromQtPageSizes) {
  struct {
    int code;
    QPageSize::PageSizeId id;
  } cases[] = {
      {1, QPageSize::Letter}, {5, QPageSize::Legal}, {8, QPageSize::A3},  {9, QPageSize::A4},
      {11, QPageSize::A5},    {2, QPageSize::LetterSmall}, {10, QPageSize::A4Small},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PaperCodeToPageSizeId(c.code), c.id) << c.code;
    EXPECT_EQ(PageSizeToPaperCode(QPageSize(c.id)), c.code) << c.code;
  }
  EXPECT_EQ(PaperCodeToPageSizeId(0), QPageSize::Custom);
  EXPECT_EQ(PaperCodeToPageSizeId(999), QPageSize::Custom);
  EXPECT_EQ(PageSizeToPaperCode(QPageSize(QSizeF(123, 45), QPageSize::Millimeter)), 256);
  EXPECT_EQ(PageSizeToPaperCode(QPageSize()), 0);
}

TEST(TQtPrinter, APdfFilePrinterIsAlwaysThereAndPrints) {
  QTemporaryDir dir;
  TQtPrinter p;
  const QStringList names = p.Printers();
  ASSERT_FALSE(names.isEmpty());
  EXPECT_EQ(names.last(), TQtPrinter::PdfPrinterName());
  const int pdf = static_cast<int>(names.size()) - 1;
  if (names.size() == 1) {
    EXPECT_EQ(p.PrinterIndex(), pdf);  // no queue: the PDF file is the default
  }
  p.SetPrinterIndex(pdf);
  const QString file = dir.filePath(QStringLiteral("job.pdf"));
  p.SetPdfFileName(file);

  // Device settings go to the printer and come back completed.
  TDeviceMode mode;
  mode.Fields = TDeviceMode::dmPaperSize | TDeviceMode::dmOrientation;
  mode.PaperSize = 8;
  mode.Orientation = poLandscape;
  EXPECT_TRUE(p.UpdateDeviceMode(mode));
  EXPECT_EQ(mode.PaperWidth, 2970);
  EXPECT_EQ(mode.PaperLength, 4200);
  EXPECT_EQ(p.Orientation(), poLandscape);
  EXPECT_GT(p.PageWidth(), p.PageHeight());
  EXPECT_EQ(p.GetDeviceCaps(LOGPIXELSX), TQtPrinter::PdfResolution);

  QString device, driver, port;
  TDeviceMode* current = nullptr;
  p.GetPrinter(device, driver, port, current);
  EXPECT_EQ(device, TQtPrinter::PdfPrinterName());
  EXPECT_EQ(port, file);
  ASSERT_NE(current, nullptr);
  EXPECT_EQ(current->PaperSize, 8);

  p.SetTitle(QStringLiteral("Tavora"));
  p.BeginDoc();
  p.Canvas()->fillRect(QRect(0, 0, p.PageWidth() / 2, p.PageHeight() / 2), Qt::black);
  p.NewPage();
  p.EndDoc();
  QFile out(file);
  ASSERT_TRUE(out.open(QIODevice::ReadOnly));
  EXPECT_TRUE(out.read(5).startsWith("%PDF-"));
  const QByteArray all = out.readAll();
  EXPECT_EQ(all.count("/Type /Page\n") + all.count("/Type /Page\r") + all.count("/Type /Page ") +
                all.count("/Type /Page/") + all.count("/Type /Page>"),
            2);
}
