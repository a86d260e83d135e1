// Loads arbitrary bytes as a document file: fresh, and onto an existing
// document whose pages and items are re-used by name (as an undo does).
// Every input must end in success or in one of the program's exceptions,
// without crash, hang or unbounded allocation, and leave a document whose
// pages and items all belong to it. A document that loaded saves and opens
// again. (Values a hand-made file gives may be settled by the first reload,
// so the bytes of a second save are compared only for documents the
// program wrote, in the unit tests.)

#include "Printing/document/PreviewItemsU.h"
#include "Printing/document/PrintPreviewU.h"
#include "Printing/text/PreviewTextU.h"
#include "platform/Dialogs.h"
#include "platform/TestPrinter.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

struct THost {
  THost() {
    Form = std::make_unique<QWidget>();
    Form->setObjectName(QStringLiteral("frmPreview"));
    Doc = new TPrintPreview(Form.get(), Form.get());
    Doc->SetName(QStringLiteral("PrintPreview"));
    Doc->setGeometry(0, 0, 706, 624);
  }
  std::unique_ptr<QWidget> Form;
  TPrintPreview* Doc;
};

void Check(bool Ok, const char* What) {
  if (Ok) return;
  std::fprintf(stderr, "inconsistent document: %s\n", What);
  std::abort();
}

void CheckConsistent(TPrintPreview& Doc) {
  for (TPagePreview* page : Doc.Pages()) Check(page && page->PrintPreviewOrNull() == &Doc, "page outside");
  for (int i = 0; i < Doc.Items().Count(); ++i) {
    TPreviewItem* item = Doc.Items().Item(i);
    Check(item != nullptr, "item of a foreign class");
    Check(item->PrintPreview() == &Doc, "item outside");
    if (item->PagePreview()) Check(Doc.Pages().Contains(item->PagePreview()), "item on a page outside");
    if (TPreviewItem* caption = item->AttachedPreviewItem()) Check(caption->Attacher() == item, "caption unlinked");
  }
  Check(Doc.StreamState() == ssIdle, "state");
  Check(Doc.UpdateLock() == 0, "update lock");
}

QByteArray Saved(TPrintPreview& Doc, bool AsText) {
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  Doc.SaveToStream(out, AsText, QStringLiteral("SAVE_IMAGES"));
  return out.data();
}

void Load(TPrintPreview& Doc, QByteArray Bytes, bool Fresh) {
  QBuffer in(&Bytes);
  in.open(QIODevice::ReadOnly);
  Doc.LoadFromStream(in, Fresh);
}

// A document of every kind of item to load onto.
QByteArray* GBase = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static QApplication app(*argc, *argv);
  new TDialogScript;
  TTestPrinter::Install({TTestPrinter::TInfo()});
  THost host;
  host.Doc->Loaded();
  QImage picture(8, 6, QImage::Format_RGB888);
  picture.fill(Qt::blue);
  host.Doc->AddBitmap(QStringLiteral("Scan"), picture, afAttachText);
  host.Doc->AddText(QStringLiteral("<B>Text</B>"));
  host.Doc->AddPage()->SetSheetsHorizontal(2);
  GBase = new QByteArray(Saved(*host.Doc, false));
  // FUZZ_DOCUMENT_SEEDS=<folder> writes the seeds: the document in both
  // forms, to load fresh and onto itself.
  if (const char* folder = std::getenv("FUZZ_DOCUMENT_SEEDS")) {
    int n = 0;
    for (bool asText : {false, true})
      for (char mode : {'\x00', '\x01'}) {
        QFile seed(QStringLiteral("%1/document_%2").arg(QString::fromLocal8Bit(folder)).arg(++n));
        if (seed.open(QIODevice::WriteOnly)) seed.write(QByteArray(1, mode) + Saved(*host.Doc, asText));
      }
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0) return 0;
  const bool fresh = Data[0] & 1;
  const QByteArray bytes(reinterpret_cast<const char*>(Data + 1), static_cast<qsizetype>(Size - 1));
  THost host;
  if (!fresh) Load(*host.Doc, *GBase, true);
  bool loaded = false;
  try {
    Load(*host.Doc, bytes, fresh);
    loaded = true;
  } catch (const Exception& E) {
    if (std::getenv("FUZZ_VERBOSE")) std::fprintf(stderr, "%s\n", E.what());
  }
  CheckConsistent(*host.Doc);
  if (!loaded) return 0;
  // What loaded must save and open again.
  for (bool asText : {false, true}) {
    QByteArray first;
    try {
      first = Saved(*host.Doc, asText);
    } catch (const Exception& E) {
      // A picture named by its path only, whose file cannot be read.
      if (std::getenv("FUZZ_VERBOSE")) std::fprintf(stderr, "save: %s\n", E.what());
      return 0;
    }
    THost again;
    try {
      Load(*again.Doc, first, true);
    } catch (const Exception& E) {
      std::fprintf(stderr, "a saved document does not open: %s\n", E.what());
      if (std::getenv("FUZZ_VERBOSE")) std::fwrite(first.constData(), 1, size_t(first.size()), stderr);
      std::abort();
    }
    CheckConsistent(*again.Doc);
  }
  return 0;
}
