// Undo snapshots of documents of 50, 200 and 500 pictures with captions.
//
// A snapshot is the document saved into memory without picture bytes; an
// undo reads one back onto the existing pages and items. Printed per size:
// time per snapshot and per undo, the time per item, and the bytes per
// snapshot. Targets: the cost per item stays flat from 50 to 500 items, and
// a 500-item snapshot takes less than one screen frame (16 ms).

#include "BenchPhotos.h"
#include "Printing/document/PreviewItemsU.h"
#include "platform/Application.h"
#include "platform/TestPrinter.h"

#include <QBuffer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication app(argc, argv);
  TTestPrinter::Install();
  std::printf("pictures  snapshot ms  per item us  undo ms  per item us  bytes/snapshot\n");
  for (int count : {50, 200, 500}) {
    QWidget form;
    form.setObjectName(QStringLiteral("frmPreview"));  // references name the form, as the editor's
    auto* doc = new TPrintPreview(&form, &form);
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->setGeometry(0, 0, 800, 600);
    doc->SetDefaultImageWidth(500);
    doc->SetDefaultImageHeight(400);
    doc->Loaded();
    QImage bitmap(64, 48, QImage::Format_RGB888);
    bitmap.fill(Qt::darkGreen);
    {
      TPrintPreview::TUpdateGuard batch(*doc);
      for (int i = 0; i < count; ++i) doc->AddBitmap(QStringLiteral("Picture %1").arg(i), bitmap, afAttachText);
    }
    const int rounds = 20;
    QBuffer snapshot;
    // One round first, so that what is worked out once per class is not timed.
    snapshot.open(QIODevice::ReadWrite);
    doc->SaveToStream(snapshot, false, QString());
    snapshot.seek(0);
    doc->LoadFromStream(snapshot, false);
    const double save = BenchPhotos::Seconds([&] {
      for (int r = 0; r < rounds; ++r) {
        snapshot.close();
        snapshot.setData(QByteArray());
        snapshot.open(QIODevice::ReadWrite);
        doc->SaveToStream(snapshot, false, QString());
      }
    }) / rounds;
    const double restore = BenchPhotos::Seconds([&] {
      for (int r = 0; r < rounds; ++r) {
        snapshot.seek(0);
        doc->LoadFromStream(snapshot, false);
      }
    }) / rounds;
    const int items = doc->Items().Count();
    std::printf("%8d  %11.2f  %11.2f  %7.2f  %11.2f  %14lld\n", count, save * 1000, save * 1e6 / items,
                restore * 1000, restore * 1e6 / items, static_cast<long long>(snapshot.size()));
  }
  return 0;
}
