// Prints through a real spooler: a private CUPS scheduler (started by CTest
// with scripts/cups-test-server.sh, or by this test when run on its own)
// whose queue runs the cups-pdf driver's filter chain into a file. The
// PostScript that comes out is rendered with Ghostscript and must show the
// three pages in order with every picture's colours in its place; the same
// pages printed to the PDF-file printer, rendered with pdftoppm, must give
// the same sheets.

#include "Printing/document/PreviewItemsU.h"
#include "Printing/printing/PrintImageU.h"
#include "Printing/text/PreviewTextU.h"

#include "TestSupport.h"
#include "platform/QtPrinter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <vector>

namespace {

const QString kQueue = QStringLiteral("tavora-test");
const QString kCupsDir = QStringLiteral(TAVORA_CUPS_DIR);

QString ReadText(const QString& AFile) {
  QFile f(AFile);
  if (!f.open(QIODevice::ReadOnly)) return QString();
  return QString::fromUtf8(f.readAll()).trimmed();
}

bool RunTool(const QString& AProgram, const QStringList& AArgs, QString* AOutput = nullptr, int ATimeoutMs = 120000) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(AProgram, AArgs);
  if (!p.waitForFinished(ATimeoutMs)) {
    p.kill();
    p.waitForFinished();
    return false;
  }
  if (AOutput) *AOutput = QString::fromLocal8Bit(p.readAll());
  return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A picture of one colour.
QImage Plain(int W, int H, QRgb C) {
  QImage image(W, H, QImage::Format_RGB888);
  image.fill(C);
  return image;
}

// Red, green / blue, yellow quarters.
QImage Quarters(int W, int H) {
  QImage image(W, H, QImage::Format_RGB888);
  QPainter p(&image);
  p.fillRect(0, 0, W / 2, H / 2, QColor(255, 0, 0));
  p.fillRect(W / 2, 0, W - W / 2, H / 2, QColor(0, 255, 0));
  p.fillRect(0, H / 2, W / 2, H - H / 2, QColor(0, 0, 255));
  p.fillRect(W / 2, H / 2, W - W / 2, H - H / 2, QColor(255, 255, 0));
  return image;
}

// A picture at a place given in fractions of the printable area, and how it
// goes out.
struct TPicture {
  QImage Image;
  QRectF Place;
  bool CanvasDraw = false;
  bool Winscale = false;
  int Scaling = 1;
};

// A point on the sheet (fractions of the printable area) and the colour it
// must have.
struct TProbe {
  QPointF At;
  QRgb Colour;
};

struct TSheet {
  std::vector<TPicture> Pictures;
  std::vector<TProbe> Probes;
};

const QRgb kWhite = qRgb(255, 255, 255);

std::vector<TSheet> Document() {
  std::vector<TSheet> d(3);
  // 1: two pictures, one reaching past the right and bottom edges.
  d[0].Pictures = {{Plain(60, 40, qRgb(255, 0, 0)), {0.1, 0.1, 0.3, 0.2}},
                   {Plain(50, 50, qRgb(0, 0, 255)), {0.8, 0.85, 0.4, 0.3}}};
  d[0].Probes = {{{0.25, 0.2}, qRgb(255, 0, 0)}, {{0.9, 0.95}, qRgb(0, 0, 255)}, {{0.6, 0.5}, kWhite},
                 {{0.7, 0.95}, kWhite}};
  // 2: a picture in quarters, drawn on the canvas, partly off the top left.
  d[1].Pictures = {{Quarters(80, 80), {-0.1, -0.1, 0.6, 0.6}, true}};
  d[1].Probes = {{{0.05, 0.05}, qRgb(255, 0, 0)}, {{0.35, 0.05}, qRgb(0, 255, 0)},
                 {{0.05, 0.35}, qRgb(0, 0, 255)}, {{0.35, 0.35}, qRgb(255, 255, 0)},
                 {{0.75, 0.75}, kWhite}};
  // 3: an enlarged picture scaled by the printer, and one reduced in bands
  // shrunk by a scaling factor.
  d[2].Pictures = {{Plain(20, 20, qRgb(0, 255, 0)), {0.2, 0.1, 0.3, 0.2}, false, true},
                   {Quarters(40, 40), {0.2, 0.5, 0.6, 0.4}, false, false, 3}};
  d[2].Probes = {{{0.35, 0.2}, qRgb(0, 255, 0)}, {{0.3, 0.6}, qRgb(255, 0, 0)}, {{0.7, 0.6}, qRgb(0, 255, 0)},
                 {{0.3, 0.8}, qRgb(0, 0, 255)}, {{0.7, 0.8}, qRgb(255, 255, 0)}, {{0.8, 0.3}, kWhite}};
  return d;
}

// Where the printable area lies on the sheet, in fractions of the paper.
struct TArea {
  double Left, Top, Width, Height;
};

TArea AreaOf(const TPrinter& P) {
  const double pw = P.GetDeviceCaps(PHYSICALWIDTH), ph = P.GetDeviceCaps(PHYSICALHEIGHT);
  return {P.GetDeviceCaps(PHYSICALOFFSETX) / pw, P.GetDeviceCaps(PHYSICALOFFSETY) / ph, P.PageWidth() / pw,
          P.PageHeight() / ph};
}

void SelectA4(TPrinter& P) {
  QString device, driver, port;
  TDeviceMode* mode = nullptr;
  P.GetPrinter(device, driver, port, mode);
  ASSERT_TRUE(mode);
  TDeviceMode a4 = *mode;
  a4.Fields = TDeviceMode::dmPaperSize | TDeviceMode::dmOrientation;
  a4.PaperSize = 9;
  a4.Orientation = poPortrait;
  P.UpdateDeviceMode(a4);
}

// Prints the document on the selected printer through the picture output.
void PrintDocument(TPrinter& P) {
  TPrintImageHandler handler;
  handler.BeforePrint(nullptr);
  P.SetTitle(QStringLiteral("Tavora spooler test"));
  P.BeginDoc();
  bool first = true;
  for (const TSheet& sheet : Document()) {
    if (!first) P.NewPage();
    first = false;
    for (const TPicture& pic : sheet.Pictures) {
      handler.UseCanvasDraw = pic.CanvasDraw;
      handler.UseWinscale = pic.Winscale;
      handler.BandedPrinter.SetScaleOnPrinter(pic.Winscale);
      handler.SetPrinterScaling(pic.Scaling);
      const int w = P.PageWidth(), h = P.PageHeight();
      bool handled = false;
      handler.OnPrintImage(handled, pic.Image, P.Canvas(), TPrinterSettings(), int(pic.Place.x() * w),
                           int(pic.Place.y() * h), int(pic.Place.width() * w), int(pic.Place.height() * h));
      EXPECT_TRUE(handled);
    }
  }
  P.EndDoc();
  handler.AfterPrint();
}

QList<QImage> LoadSheets(const QString& ADir, const QString& APrefix) {
  QDir dir(ADir);
  QStringList files = dir.entryList({APrefix + QStringLiteral("*.png")}, QDir::Files, QDir::Name);
  // pdftoppm and Ghostscript both number from 1; order by the number.
  std::sort(files.begin(), files.end(), [&](const QString& a, const QString& b) {
    auto n = [&](const QString& s) { return s.mid(APrefix.size()).section(QLatin1Char('.'), 0, 0).toInt(); };
    return n(a) < n(b);
  });
  QList<QImage> sheets;
  for (const QString& f : files) sheets.append(QImage(dir.filePath(f)).convertToFormat(QImage::Format_RGB32));
  return sheets;
}

bool Near(QRgb A, QRgb B) {
  const int t = 48;  // the output may pass through lossy compression
  return std::abs(qRed(A) - qRed(B)) <= t && std::abs(qGreen(A) - qGreen(B)) <= t &&
         std::abs(qBlue(A) - qBlue(B)) <= t;
}

std::string Hex(QRgb C) { return QString::asprintf("#%06x", C & 0xFFFFFF).toStdString(); }

QRgb ColourAt(const QImage& ASheet, const TArea& A, QPointF AAt) {
  const int x = int((A.Left + AAt.x() * A.Width) * ASheet.width());
  const int y = int((A.Top + AAt.y() * A.Height) * ASheet.height());
  return ASheet.pixel(std::clamp(x, 0, ASheet.width() - 1), std::clamp(y, 0, ASheet.height() - 1));
}

void ExpectSheets(const QList<QImage>& ASheets, const TArea& A, const char* AWhat) {
  const std::vector<TSheet> doc = Document();
  ASSERT_EQ(ASheets.size(), qsizetype(doc.size())) << AWhat;
  for (size_t s = 0; s < doc.size(); ++s) {
    // A4 portrait
    EXPECT_NEAR(double(ASheets[qsizetype(s)].height()) / ASheets[qsizetype(s)].width(), 297.0 / 210.0, 0.02);
    for (const TProbe& p : doc[s].Probes) {
      const QRgb c = ColourAt(ASheets[qsizetype(s)], A, p.At);
      EXPECT_TRUE(Near(c, p.Colour)) << AWhat << " sheet " << s + 1 << " at (" << p.At.x() << ", " << p.At.y()
                                     << ") is " << Hex(c) << ", want " << Hex(p.Colour);
    }
  }
}

// Waits until the queue has done every job, then renders what it wrote into
// PNGs named Prefix1.png, Prefix2.png, ... in Dir; answers an error or "".
QString RenderQueueOutput(const QString& AOutput, const QString& ADir, const QString& APrefix) {
  QElapsedTimer waited;
  waited.start();
  bool done = false;
  while (waited.elapsed() < 180000) {
    QString out;
    if (RunTool(QStringLiteral("lpstat"),
                {QStringLiteral("-W"), QStringLiteral("not-completed"), QStringLiteral("-o"), kQueue}, &out) &&
        out.trimmed().isEmpty()) {
      done = true;
      break;
    }
    QThread::msleep(250);
  }
  if (!done) return QStringLiteral("the print job did not finish");
  if (QFileInfo(AOutput).size() <= 0) return QStringLiteral("the queue wrote nothing");
  QString log;
  if (!RunTool(QStringLiteral("gs"), {QStringLiteral("-q"), QStringLiteral("-dNOPAUSE"), QStringLiteral("-dBATCH"),
                                      QStringLiteral("-dSAFER"), QStringLiteral("-sDEVICE=png16m"), QStringLiteral("-r20"),
                                      QStringLiteral("-sOutputFile=") + ADir + QLatin1Char('/') + APrefix +
                                          QStringLiteral("%d.png"),
                                      AOutput},
               &log))
    return log;
  return QString();
}

// The scheduler of the test run; started here only when CTest did not.
class TSpoolerScope {
public:
  TSpoolerScope() {
    if (!QFile::exists(kCupsDir + QStringLiteral("/server")) &&
        !QFile::exists(kCupsDir + QStringLiteral("/unavailable"))) {
      FStarted = true;
      RunTool(QStringLiteral(TAVORA_CUPS_SCRIPT), {QStringLiteral("start"), kCupsDir});
    }
    FUnavailable = ReadText(kCupsDir + QStringLiteral("/unavailable"));
    FSocket = ReadText(kCupsDir + QStringLiteral("/server"));
    if (FUnavailable.isEmpty() && FSocket.isEmpty()) FUnavailable = QStringLiteral("the scheduler did not start");
  }
  ~TSpoolerScope() {
    if (FStarted) RunTool(QStringLiteral(TAVORA_CUPS_SCRIPT), {QStringLiteral("stop"), kCupsDir});
  }
  QString Unavailable() const { return FUnavailable; }
  QString Socket() const { return FSocket; }

private:
  bool FStarted = false;
  QString FUnavailable;
  QString FSocket;
};

}  // namespace

// The private scheduler and the Qt printer object installed as the
// program's printer; the queue's output file is emptied first.
class TSpooler : public ::testing::Test {
protected:
  void SetUp() override {
    if (!spooler.Unavailable().isEmpty()) GTEST_SKIP() << "no CUPS scheduler: " << spooler.Unavailable().toStdString();
    for (const char* tool : {"gs", "pdftoppm", "lpstat"})
      ASSERT_FALSE(QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) << tool << " is missing";
    // Every CUPS client of this process talks to the private scheduler.
    qputenv("CUPS_SERVER", spooler.Socket().toLocal8Bit());
    QFile::remove(output);
    auto owned = std::make_unique<TQtPrinter>();
    qt = owned.get();
    previous = SetPrinter(std::move(owned));
  }
  void TearDown() override {
    if (qt) SetPrinter(std::move(previous));
  }

  TSpoolerScope spooler;
  const QString output = kCupsDir + QStringLiteral("/out/job.ps");
  TQtPrinter* qt = nullptr;
  std::unique_ptr<TPrinter> previous;
};

TEST_F(TSpooler, ThePagesReachTheQueueInOrderAndMatchThePdfPrinter) {
  TQtPrinter& printer = *qt;

  const int queue = static_cast<int>(printer.Printers().indexOf(kQueue));
  ASSERT_GE(queue, 0) << printer.Printers().join(QStringLiteral(", ")).toStdString();
  printer.SetPrinterIndex(queue);
  SelectA4(printer);
  const TArea queueArea = AreaOf(printer);
  PrintDocument(printer);

  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  const QString error = RenderQueueOutput(output, work.path(), QStringLiteral("queue-"));
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  QString log;
  ExpectSheets(LoadSheets(work.path(), QStringLiteral("queue-")), queueArea, "queue");

  // The same pages on the PDF-file printer.
  printer.SetPrinterIndex(static_cast<int>(printer.Printers().indexOf(TQtPrinter::PdfPrinterName())));
  printer.SetPdfFileName(work.filePath(QStringLiteral("doc.pdf")));
  SelectA4(printer);
  const TArea pdfArea = AreaOf(printer);
  PrintDocument(printer);
  ASSERT_TRUE(RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-png"),
                                               work.filePath(QStringLiteral("doc.pdf")),
                                               work.filePath(QStringLiteral("pdf"))},
                  &log))
      << log.toStdString();
  ExpectSheets(LoadSheets(work.path(), QStringLiteral("pdf-")), pdfArea, "PDF");
}

namespace {

// Prints on the current printer a three-page document: pictures with
// captions and a text box; a poster
// page of 2 x 2 sheets under one picture; an empty page. Five sheets.
struct TDocumentProbe {
  int Sheet;
  QPointF At;  // fraction of the paper
  QRgb Colour;
};

std::vector<TDocumentProbe> PrintDocumentControl(QWidget& AForm) {
  auto* doc = new TPrintPreview(&AForm, &AForm);
  doc->SetName(QStringLiteral("PrintPreview"));
  doc->SetDefaultLayoutType(ltManual);
  doc->setGeometry(0, 0, 700, 500);
  doc->Loaded();
  TPrintImageHandler handler;
  doc->OnPrintImage = handler.Handler();
  doc->OnBeforePrint = [&](QObject*) { handler.BeforePrint(&AForm); };
  doc->OnAfterPrint = [&](QObject*) { handler.AfterPrint(); };
  while (doc->PageCount() < 3) doc->NewPage();

  auto picture = [&](int Page, int L, int T, int W, int H, QRgb C, bool Caption) {
    auto* image = dynamic_cast<TPreviewImage*>(doc->AddBitmap(QStringLiteral("Photo"), Plain(W / 8, H / 8, C), 0)->GetItem());
    if (image->PagePreview() != doc->Pages()[Page]) {
      image->PagePreview()->RemoveFromLayout(image);
      doc->Pages()[Page]->AddPreviewItem(image, false);
    }
    image->SetPrintBounds(L, T, W, H);
    if (Caption) image->CreateCaption();
  };
  TPagePreview* first = doc->Pages()[0];
  const TPrinterSettings& s = first->PrinterSettings;
  const int ml = s.MarginLeft, mt = s.MarginTop;
  picture(0, ml + 100, mt + 100, 800, 600, qRgb(220, 30, 30), true);
  picture(0, ml + 1000, mt + 100, 600, 800, qRgb(30, 170, 40), true);
  auto* text = dynamic_cast<TPreviewText*>(doc->AddText(QStringLiteral("<P align=\"center\"><B>Tavora</B>"))->GetItem());
  text->PagePreview()->RemoveFromLayout(text);
  first->AddPreviewItem(text, false);
  text->SetPrintBounds(ml + 100, mt + 1200, 1500, 200);

  TPagePreview* poster = doc->Pages()[1];
  poster->SetSheets(2, 2);
  const int uw = s.UsableWidth, uh = s.UsableHeight;
  picture(1, uw - 400, uh - 400, 800, 800, qRgb(30, 60, 210), false);

  doc->Print(1, 3);

  // Where each colour must be: the first page as laid out; sheet (c, r) of
  // the poster shows the poster from c printable widths and r printable
  // heights on.
  const double pw = s.PaperWidth, ph = s.PaperHeight;
  const double kx = double(s.PrintableWidthPx) / s.PrintableWidth, ky = double(s.PrintableHeightPx) / s.PrintableHeight;
  auto onSheet = [&](int Sheet, double X, double Y) {
    const int c = (Sheet - 1) / 2, r = (Sheet - 1) % 2;
    return QPointF((X * kx - c * s.PrintableWidthPx) / kx / pw, (Y * ky - r * s.PrintableHeightPx) / ky / ph);
  };
  std::vector<TDocumentProbe> probes = {
      {0, QPointF((ml + 500) / pw, (mt + 400) / ph), qRgb(220, 30, 30)},
      {0, QPointF((ml + 1300) / pw, (mt + 500) / ph), qRgb(30, 170, 40)},
      {0, QPointF((ml + 100 + 40) / pw, (mt + 1200 + 20) / ph), qRgb(255, 255, 255)},  // the box's white
      {0, QPointF((ml + 500) / pw, (mt + 1600) / ph), qRgb(255, 255, 255)},
  };
  for (int sheet = 1; sheet <= 4; ++sheet) {
    const int c = (sheet - 1) / 2, r = (sheet - 1) % 2;
    probes.push_back({sheet, onSheet(sheet, uw - 200 + 400 * c, uh - 200 + 400 * r), qRgb(30, 60, 210)});
  }
  delete doc;
  return probes;
}

void ExpectDocumentSheets(const QList<QImage>& ASheets, const std::vector<TDocumentProbe>& AProbes, const char* AWhat) {
  ASSERT_EQ(ASheets.size(), 5) << AWhat << ": one sheet for the first page, four for the poster, none for the empty page";
  for (const TDocumentProbe& p : AProbes) {
    const QImage& sheet = ASheets[p.Sheet];
    const int x = std::clamp(int(p.At.x() * sheet.width()), 0, sheet.width() - 1);
    const int y = std::clamp(int(p.At.y() * sheet.height()), 0, sheet.height() - 1);
    EXPECT_TRUE(Near(sheet.pixel(x, y), p.Colour)) << AWhat << " sheet " << p.Sheet + 1 << " at (" << p.At.x() << ", "
                                                   << p.At.y() << ") is " << Hex(sheet.pixel(x, y)) << ", want "
                                                   << Hex(p.Colour);
  }
}

}  // namespace

// The document control itself through the spooler: pictures with captions,
// a text box, a poster page and an empty page.
TEST_F(TSpooler, ADocumentReachesTheQueueSheetBySheetAndMatchesThePdfPrinter) {
  TQtPrinter& printer = *qt;
  QWidget form;

  const int queue = static_cast<int>(printer.Printers().indexOf(kQueue));
  ASSERT_GE(queue, 0);
  printer.SetPrinterIndex(queue);
  SelectA4(printer);
  const std::vector<TDocumentProbe> queueProbes = PrintDocumentControl(form);
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  const QString error = RenderQueueOutput(output, work.path(), QStringLiteral("doc-queue-"));
  ASSERT_TRUE(error.isEmpty()) << error.toStdString();
  ExpectDocumentSheets(LoadSheets(work.path(), QStringLiteral("doc-queue-")), queueProbes, "queue");

  printer.SetPrinterIndex(static_cast<int>(printer.Printers().indexOf(TQtPrinter::PdfPrinterName())));
  printer.SetPdfFileName(work.filePath(QStringLiteral("doc.pdf")));
  SelectA4(printer);
  const std::vector<TDocumentProbe> pdfProbes = PrintDocumentControl(form);
  QString log;
  ASSERT_TRUE(RunTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("20"), QStringLiteral("-png"),
                                               work.filePath(QStringLiteral("doc.pdf")),
                                               work.filePath(QStringLiteral("docpdf"))},
                  &log))
      << log.toStdString();
  ExpectDocumentSheets(LoadSheets(work.path(), QStringLiteral("docpdf-")), pdfProbes, "PDF");
}
