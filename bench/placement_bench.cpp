// Adding many photographs to a document placed by size.
//
// 200 photo-like 4000 x 3000 JPEGs (24 made once, the rest copies) are
// added to an ltAutoBySize document inside one BeginUpdate/EndUpdate, the
// way the browser adds a selection, with the picture layer's scaled
// reader as the loading handler. Printed: the whole time, the time per
// picture against the picture layer's 512-pixel preview decode of the same
// files (the floor; target within 1.3 x), the reflow alone, the previews'
// and kept bytes' memory and the peak resident memory.

#include "BenchPhotos.h"
#include "Printing/document/PreviewItemsU.h"
#include "platform/Application.h"
#include "platform/TestPrinter.h"
#include "platform/images/Images.h"

#include <QBuffer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication app(argc, argv);
  const int count = 200;
  QString folder = qEnvironmentVariable("TAVORA_BENCH_DATA");
  if (folder.isEmpty()) folder = QCoreApplication::applicationDirPath() + QStringLiteral("/thumbs-data");
  const QStringList files = BenchPhotos::Pictures(folder, count);
  TTestPrinter::Install();

  // The floor: the picture layer's 512-pixel decode of every file.
  const double floor = BenchPhotos::Seconds([&] {
    for (const QString& f : files) (void)Images::ReadScaled(f, nullptr, 512);
  });

  QWidget form;
  form.resize(1200, 800);
  auto* doc = new TPrintPreview(&form, &form);
  doc->SetName(QStringLiteral("PrintPreview"));
  doc->setGeometry(0, 0, 1200, 800);
  doc->SetDisplayPagesHorizontal(2);
  doc->OnLoadingBitmap = PictureLayerLoader();
  doc->Loaded();
  const double adding = BenchPhotos::Seconds([&] {
    TPrintPreview::TUpdateGuard batch(*doc);
    for (const QString& f : files) doc->AddFile(f, 0);
  });
  // The reflow alone: every automatic page cleared and every picture placed
  // again, from the first page.
  const double reflow = BenchPhotos::Seconds([&] { doc->ReflowFrom(0); });
  int placed = 0;
  for (int i = 0; i < doc->Items().Count(); ++i) placed += doc->Items().Previewable(i)->GetPagePreview() != nullptr;

  qint64 previews = 0, kept = 0, full = 0;
  for (int i = 0; i < doc->Items().Count(); ++i) {
    auto* image = dynamic_cast<TPreviewImage*>(doc->Items()[i]);
    if (!image) continue;
    for (int r = 0; r < 4; ++r)
      if (image->HasPreview(r)) previews += 3LL * image->GetPreview(r).width() * image->GetPreview(r).height();
    if (image->HasStream()) kept += image->Stream().size();
    full += image->HasBitmap();
  }

  std::printf("%d pictures of 4000 x 3000 on %d pages\n", count, doc->PageCount());
  std::printf("  adding (one batch, with the reflow): %8.2f s, %6.1f ms/picture\n", adding, adding * 1000 / count);
  std::printf("  picture layer 512-pixel decode:      %8.2f s, %6.1f ms/picture\n", floor, floor * 1000 / count);
  std::printf("  adding / decode:                     %8.2f   (target <= 1.30)\n", adding / floor);
  std::printf("  reflow of the whole document alone:  %8.1f ms (%d pictures placed again)\n", reflow * 1000, placed);
  std::printf("  previews in memory:                  %8.1f MB\n", previews / 1048576.0);
  std::printf("  kept file bytes:                     %8.1f MB\n", kept / 1048576.0);
  std::printf("  full bitmaps held:                   %8lld\n", full);
  std::printf("  peak resident memory:                %8.1f MB\n", BenchPhotos::PeakResidentMb());
  return 0;
}
