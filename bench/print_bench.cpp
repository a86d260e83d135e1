// Printing a contact sheet.
//
// 24 photo-like 4000 x 3000 JPEGs as a 4 x 6 thumbnail page, added and
// printed to the PDF-file printer at 300 dpi through the banded picture
// output, against ImageMagick's "montage -tile 4x6 -geometry
// 560x560+10+10" of the same files into a PNG. Printed: time and peak
// memory of each and their ratios. Target: at least 4 x faster than
// montage with less than a third of its memory.

#include "BenchPhotos.h"
#include "Printing/document/PreviewItemsU.h"
#include "Printing/printing/PrintImageU.h"
#include "platform/Application.h"
#include "platform/QtPrinter.h"
#include "platform/images/Images.h"

#include <QPrinter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cstdio>
#include <vector>

extern char** environ;

namespace {

// Runs a program; answers false when it cannot run or fails. PeakMb gets
// the child's largest resident memory.
bool RunMeasured(const QStringList& Arguments, double& PeakMb) {
  std::vector<QByteArray> bytes;
  for (const QString& a : Arguments) bytes.push_back(a.toLocal8Bit());
  std::vector<char*> argv;
  for (QByteArray& b : bytes) argv.push_back(b.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) < 0) return false;
  PeakMb = usage.ru_maxrss / 1024.0;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication app(argc, argv);
  QString folder = qEnvironmentVariable("TAVORA_BENCH_DATA");
  if (folder.isEmpty()) folder = QCoreApplication::applicationDirPath() + QStringLiteral("/thumbs-data");
  const QStringList files = BenchPhotos::Pictures(folder, 24);
  QTemporaryDir work;

  // Ours: the document with the picture layer's loader and the banded output.
  auto owned = std::make_unique<TQtPrinter>();
  TQtPrinter& printer = *owned;
  SetPrinter(std::move(owned));
  printer.SetPrinterIndex(static_cast<int>(printer.Printers().indexOf(TQtPrinter::PdfPrinterName())));
  printer.SetPdfFileName(work.filePath(QStringLiteral("sheet.pdf")));
  printer.QtPrinter().setPageSize(QPageSize(QPageSize::A4));
  printer.QtPrinter().setResolution(300);

  QWidget form;
  auto* doc = new TPrintPreview(&form, &form);
  doc->SetName(QStringLiteral("PrintPreview"));
  doc->setGeometry(0, 0, 800, 600);
  doc->OnLoadingBitmap = PictureLayerLoader();
  TPrintImageHandler handler;
  doc->OnPrintImage = handler.Handler();
  doc->OnBeforePrint = [&](QObject*) { handler.BeforePrint(&form); };
  doc->OnAfterPrint = [&](QObject*) { handler.AfterPrint(); };
  doc->Loaded();
  doc->RefreshPrinterSettings();
  doc->ThumbLayout();  // 4 x 6 by default
  double printing = 0;
  const double ours = BenchPhotos::Seconds([&] {
    {
      TPrintPreview::TUpdateGuard batch(*doc);
      for (const QString& f : files) doc->AddFile(f, 0);
    }
    printing = BenchPhotos::Seconds([&] { doc->Print(1, 1); });
  });
  const double oursMb = BenchPhotos::PeakResidentMb();

  std::printf("24 pictures of 4000 x 3000 as a 4 x 6 contact sheet, A4 at 300 dpi\n");
  std::printf("  Tavora (add + print to PDF):     %7.2f s (printing %.2f s), peak %7.1f MB, %d page(s)\n", ours,
              printing, oursMb, doc->PageCount());
  if (QStandardPaths::findExecutable(QStringLiteral("montage")).isEmpty()) {
    std::printf("  montage                          not installed\n");
    return 0;
  }
  double montageMb = 0;
  bool ok = false;
  QStringList args{QStringLiteral("montage")};
  args << files << QStringLiteral("-tile") << QStringLiteral("4x6") << QStringLiteral("-geometry")
       << QStringLiteral("560x560+10+10") << work.filePath(QStringLiteral("montage.png"));
  // Debian's default resource policy stops montage at 256 MB of pixel
  // cache; lift it, as a user printing 24 photographs would.
  QFile policy(work.filePath(QStringLiteral("policy.xml")));
  if (policy.open(QIODevice::WriteOnly))
    policy.write("<?xml version=\"1.0\"?><policymap>"
                 "<policy domain=\"resource\" name=\"memory\" value=\"8GiB\"/>"
                 "<policy domain=\"resource\" name=\"map\" value=\"8GiB\"/>"
                 "<policy domain=\"resource\" name=\"area\" value=\"2GP\"/>"
                 "<policy domain=\"resource\" name=\"disk\" value=\"16GiB\"/></policymap>");
  policy.close();
  qputenv("MAGICK_CONFIGURE_PATH", work.path().toLocal8Bit());
  const double montage = BenchPhotos::Seconds([&] { ok = RunMeasured(args, montageMb); });
  std::printf("  montage -tile 4x6 (PNG):         %7.2f s,                  peak %7.1f MB%s\n", montage, montageMb,
              ok ? "" : "  (FAILED)");
  std::printf("  montage / Tavora time:           %7.2f   (target >= 4)\n", montage / ours);
  std::printf("  Tavora / montage memory:         %7.2f   (target < 0.33)\n", oursMb / montageMb);
  return 0;
}
