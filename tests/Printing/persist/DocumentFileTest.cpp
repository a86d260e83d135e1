#include "Printing/document/PreviewItemsU.h"
#include "Printing/document/PrintPreviewU.h"
#include "Printing/layout/LayoutU.h"
#include "Printing/persist/DocumentFileU.h"
#include "Printing/text/PreviewTextU.h"
#include "components/krStreaming.h"
#include "platform/images/Images.h"

#include "TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QMetaProperty>
#include <QPointer>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

QByteArray Saved(TPrintPreview& Doc, bool AsText, const QString& Params = kSaveImages) {
  QBuffer out;
  out.open(QIODevice::ReadWrite);
  Doc.SaveToStream(out, AsText, Params);
  return out.data();
}

void Load(TPrintPreview& Doc, QByteArray Bytes, bool Fresh) {
  QBuffer in(&Bytes);
  in.open(QIODevice::ReadOnly);
  Doc.LoadFromStream(in, Fresh);
}

// The names and classes of the records, in file order.
QStringList Declarations(const QByteArray& Bytes) {
  QStringList out;
  qsizetype at = 0;
  const QByteArray marker = "KR Comp Declare\r\n";
  while ((at = Bytes.indexOf(marker, at)) >= 0) {
    at += marker.size();
    out << QString::fromUtf8(Bytes.mid(at, Bytes.indexOf("\r\n", at) - at));
  }
  return out;
}

// A form named as the editor form, holding one document.
struct THost {
  THost() {
    Form = std::make_unique<QWidget>();
    Form->setObjectName(QStringLiteral("frmPreview"));
    Form->resize(800, 600);
    Doc = new TPrintPreview(Form.get(), Form.get());
    Doc->SetName(QStringLiteral("PrintPreview"));
    Doc->setGeometry(0, 0, 706, 624);
    // The loader the program installs: the picture layer, kept bytes first.
    Doc->OnLoadingBitmap = [](bool& handled, QImage& bitmap, const QString& name, QIODevice* stream, int maxSize) {
      bitmap = Images::ReadScaled(name, stream, maxSize);
      handled = true;
    };
    Doc->OnChanged = [this](QObject*, const QString& d) { Changes << d; };
  }
  std::unique_ptr<QWidget> Form;
  TPrintPreview* Doc;
  QStringList Changes;
};

// Every page and item of the document is the document's, and every item's
// page is one of its pages.
void ExpectConsistent(TPrintPreview& Doc) {
  for (TPagePreview* page : Doc.Pages()) {
    EXPECT_EQ(page->PrintPreviewOrNull(), &Doc) << page->Name().toStdString();
    for (QObject* item : page->Items()) EXPECT_NE(item, nullptr);
  }
  for (int i = 0; i < Doc.Items().Count(); ++i) {
    TPreviewItem* item = Doc.Items().Item(i);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->PrintPreview(), &Doc) << item->Name().toStdString();
    if (item->PagePreview()) {
      EXPECT_TRUE(Doc.Pages().Contains(item->PagePreview())) << item->Name().toStdString();
    }
  }
}

class DocumentFileTest : public ::testing::Test {
protected:
  DocumentFileTest() { host.Doc->Loaded(); }

  // A document with every kind of item and page: a picture from a file
  // with a caption, a picture from a bitmap, a text box with styled and
  // non-Latin text in a font of its own, a sideways page, a poster page and
  // pages of every layout type.
  void BuildRichDocument() {
    TPrintPreview* doc = host.Doc;
    doc->SetMarginLeft(50);
    doc->SetMarginTop(60);
    doc->SetDefaultImageWidth(800);
    doc->SetDefaultImageHeight(600);
    doc->SetUserOptions(uoCanRotate | uoCanResize | uoPrintSeparatePages);
    doc->SetCentreOnPage(false);
    doc->RefreshPrinterSettings();
    picture = WritePicture(dir, QStringLiteral("photo.png"), 120, 80);
    doc->AddFile(picture, afAttachText);
    QImage scan(60, 90, QImage::Format_RGB888);
    scan.fill(QColor(200, 30, 40));
    doc->AddBitmap(QStringLiteral("Scan 1"), scan, 0);
    auto* text = dynamic_cast<TPreviewText*>(
        doc->AddText(QStringLiteral("<B>Bold</B> <I>italic</I> <U>under</U> \u0395\u03BB\u03BB\u03AC\u03B4\u03B1 \u65E5\u672C")));
    ASSERT_NE(text, nullptr);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(14);
    font.setBold(true);
    text->SetFont(font);
    text->SetTransparent(false);
    TPagePreview* sideways = doc->AddPage();
    sideways->SetPaperOrientation(poLandscape);
    sideways->SetLayoutType(ltManual);
    TPagePreview* poster = doc->AddPage();
    poster->SetSheetsHorizontal(2);
    poster->SetSheetsVertical(3);
    TPagePreview* byLayout = doc->AddPage();
    byLayout->SetLayoutType(ltAutoByLayout);
    byLayout->SetPageLayout(TLayout::ThumbsText(2, 2));
    TPagePreview* thumbs = doc->AddPage();
    thumbs->SetLayoutType(ltThumb);
    thumbs->SetPageLayout(TLayout::ThumbsText(3, 4));
    thumbs->Brush.setColor(QColor(0xC0, 0xC0, 0xC0));
    thumbs->Pen.setWidth(3);
    doc->SetDisplayPagesHorizontal(2);
    doc->SetDisplayPageStart(2);
  }

  TTestPrinterScope printer;
  QTemporaryDir dir;
  THost host;
  QString picture;
};

}  // namespace

TEST_F(DocumentFileTest, ADocumentSavedAndReopenedSavesToTheSameBytesAndProperties) {
  BuildRichDocument();
  for (bool asText : {false, true}) {
    const QByteArray first = Saved(*host.Doc, asText);
    THost other;
    Load(*other.Doc, first, true);
    EXPECT_EQ(DescribeDocument(*other.Doc), DescribeDocument(*host.Doc)) << "text " << asText;
    const QByteArray second = Saved(*other.Doc, asText);
    EXPECT_EQ(second, first) << "text " << asText;
    ExpectConsistent(*other.Doc);
    // The pictures carry their bytes and show them.
    auto* image = dynamic_cast<TPreviewImage*>(other.Doc->Items()[0]);
    ASSERT_NE(image, nullptr);
    QFile file(picture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(image->Stream().data(), file.readAll());
    EXPECT_EQ(image->GetBitmap(false).size(), QSize(120, 80));
    auto* caption = image->AttachedPreviewItem();
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->Attacher(), image);
    EXPECT_EQ(caption->Owner(), image);
    auto* scan = dynamic_cast<TPreviewImage*>(other.Doc->Items()[2]);
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->GetBitmap(false).pixelColor(5, 5), QColor(200, 30, 40));
    auto* text = dynamic_cast<TPreviewText*>(other.Doc->Items()[3]);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(text->FontAssigned());
    EXPECT_TRUE(text->Font().bold());
    EXPECT_TRUE(text->Text().endsWith(QStringLiteral("\u0395\u03BB\u03BB\u03AC\u03B4\u03B1 \u65E5\u672C")));
  }
}

TEST_F(DocumentFileTest, RecordsComeInPageItemDocumentOrderWithNothingAfterThem) {
  BuildRichDocument();
  const QByteArray bytes = Saved(*host.Doc, true);
  QStringList expected;
  for (TPagePreview* page : host.Doc->Pages()) expected << page->Name() + QStringLiteral(":TPagePreview");
  for (QObject* item : host.Doc->Items())
    expected << item->objectName() + QLatin1Char(':') + QLatin1String(item->metaObject()->className());
  expected << QStringLiteral("PrintPreview:TPrintPreview");
  EXPECT_EQ(Declarations(bytes), expected);
  EXPECT_TRUE(bytes.endsWith("KR Comp Done\r\n"));
  EXPECT_TRUE(bytes.startsWith("KR Comp Declare\r\n"));
}

// What a document record holds differs from what the same classes write
// outside a document.
TEST_F(DocumentFileTest, DocumentRecordsHoldTheDocumentPropertiesOnly) {
  BuildRichDocument();
  const QString file = QString::fromUtf8(Saved(*host.Doc, true));
  struct {
    const char* text;
    bool present;
  } cases[] = {
      {"  DisplayPagesHorizontal = 2\r\n", true},
      {"  DisplayPageStart = ", true},
      {"  SelectedPage = frmPreview.PrintPreview_Page_", true},
      {"  PrintPreview = frmPreview.PrintPreview\r\n", true},
      {"  PagePreview = frmPreview.PrintPreview_Page_1\r\n", true},
      {"  AttachedPreviewItem = PrintPreview_Image_", true},
      {"  Attacher = frmPreview.PrintPreview_Image_", true},
      {"  CurLayout = ", true},
      {"  Font.Name = 'DejaVu Sans'", true},
      {"  Font.Style = [fsBold]", true},
      {"  Brush.Color = clSilver", true},
      {"  Pen.Width = 3", true},
      {"  UserOptions = [uoCanRotate, uoCanResize, uoPrintSeparatePages]", true},
      {"  Hint = 'photo.png'", true},
      {"  FileName = ", true},
      {"STREAM:Filestream\r\n", true},
      {"PrinterTitle", false},
      {"CachedBitmapSize", false},
      {"KeepBitmapsInMemory", false},
      {"ShowLayout", false},
      {"PageIndex", false},
      {"ParentFont", false},
      {"Pen.Mode", false},
  };
  for (const auto& c : cases) EXPECT_EQ(file.contains(QLatin1String(c.text)), c.present) << c.text;

  // Outside a document the control writes its own settings, not the view.
  QBuffer design;
  design.open(QIODevice::ReadWrite);
  WriteComponentDataText(design, *host.Doc);
  const QString own = QString::fromUtf8(design.data());
  EXPECT_TRUE(own.contains(QLatin1String("PrinterTitle = 'Tavora'")));
  EXPECT_FALSE(own.contains(QLatin1String("DisplayPagesHorizontal")));
  EXPECT_FALSE(own.contains(QLatin1String("SelectedPage")));
}

TEST_F(DocumentFileTest, AnEmptyDocumentIsTheControlRecordAlone) {
  host.Doc->ClearDocument();
  host.Doc->SetMarginRight(77);
  host.Doc->SetDefaultThumbsAcross(9);
  const QByteArray bytes = Saved(*host.Doc, false);
  EXPECT_EQ(Declarations(bytes), QStringList{QStringLiteral("PrintPreview:TPrintPreview")});
  THost other;
  other.Doc->Loaded();
  other.Doc->AddText(QStringLiteral("gone"));
  Load(*other.Doc, bytes, true);
  EXPECT_EQ(other.Doc->PageCount(), 0);
  EXPECT_EQ(other.Doc->Items().Count(), 0);
  EXPECT_EQ(other.Doc->MarginRight(), 77);
  EXPECT_EQ(other.Doc->DefaultThumbsAcross(), 9);
}

TEST_F(DocumentFileTest, TheExtensionChoosesTheFormAndBothOpenThroughTheSamePath) {
  BuildRichDocument();
  struct {
    const char* name;
    bool force, text;
  } cases[] = {{"doc.tavora", false, false}, {"doc.TXT", false, true}, {"doc.txt", false, true},
               {"doc.Txt.tavora", false, false}, {"doc.tavora", true, true}};
  for (const auto& c : cases) {
    const QString path = dir.filePath(QLatin1String(c.name));
    host.Doc->Changed(QStringLiteral("Edit"));
    ASSERT_TRUE(host.Doc->IsModifiedSinceSave());
    host.Doc->SaveToFile(path, c.force);
    EXPECT_FALSE(host.Doc->IsModifiedSinceSave());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    EXPECT_EQ(bytes.contains("FMT:TEXT\r\n"), c.text) << c.name;
    EXPECT_EQ(bytes.contains("FMT:BIN\r\n"), !c.text) << c.name;

    THost other;
    QString loadedName;
    other.Doc->OnFileLoaded = [&](QObject*, const QString& name) { loadedName = name; };
    other.Doc->LoadFromFile(path);
    EXPECT_EQ(loadedName, path);
    EXPECT_EQ(other.Changes, QStringList{QStringLiteral("Loaded")});
    EXPECT_FALSE(other.Doc->IsModifiedSinceSave());
    EXPECT_EQ(Saved(*other.Doc, c.text), Saved(*host.Doc, c.text)) << c.name;
  }
}

TEST_F(DocumentFileTest, AFileWithoutDisplayValuesShowsOnePageFromTheFirst) {
  BuildRichDocument();
  QByteArray bytes = Saved(*host.Doc, true);
  for (const char* line : {"  DisplayPagesVertical = 1\r\n", "  DisplayPagesHorizontal = 2\r\n", "  DisplayPageStart = 2\r\n"})
    bytes.replace(line, "");
  const QString path = dir.filePath(QStringLiteral("hand.txt"));
  Images::WriteFileBytes(path, bytes);
  THost other;
  other.Doc->SetDisplayPagesHorizontal(3);
  other.Doc->SetDisplayPagesVertical(2);
  other.Doc->SetDisplayPageStart(4);
  other.Doc->LoadFromFile(path);
  EXPECT_EQ(other.Doc->DisplayPagesHorizontal(), 1);
  EXPECT_EQ(other.Doc->DisplayPagesVertical(), 1);
  EXPECT_EQ(other.Doc->DisplayPageStart(), 0);
}

TEST_F(DocumentFileTest, TheShownPagesAreKeptWithinTheDocument) {
  BuildRichDocument();  // 5 pages, 2 across from page 2
  QByteArray bytes = Saved(*host.Doc, true);
  bytes.replace("  DisplayPageStart = 2\r\n", "  DisplayPageStart = 40\r\n");
  THost other;
  int pagesChanges = 0;
  other.Doc->OnPagesChange = [&](int, int, int, int) { ++pagesChanges; };
  Load(*other.Doc, bytes, true);
  EXPECT_EQ(other.Doc->DisplayPageStart(), 3);
  EXPECT_GE(pagesChanges, 1);
  EXPECT_TRUE(other.Doc->Pages()[4]->isVisibleTo(other.Doc));
  EXPECT_FALSE(other.Doc->Pages()[0]->isVisibleTo(other.Doc));
}

TEST_F(DocumentFileTest, ATrailingEmptyLineFailsAfterAllRecordsWereRead) {
  BuildRichDocument();
  THost other;
  const QString message = MessageOf<Exception>([&] { Load(*other.Doc, Saved(*host.Doc, false) + "\r\n", true); });
  EXPECT_EQ(message, QStringLiteral("Incorrect signature for Component Declaration"));
  EXPECT_EQ(other.Doc->PageCount(), host.Doc->PageCount());
  EXPECT_EQ(other.Doc->Items().Count(), host.Doc->Items().Count());
  EXPECT_EQ(other.Doc->StreamState(), ssIdle);
  EXPECT_EQ(other.Doc->UpdateLock(), 0);
  ExpectConsistent(*other.Doc);
}

// An undo restores a snapshot without picture bytes onto the pages and items
// that are still there: they keep their pictures and caches.
TEST_F(DocumentFileTest, AnUndoSnapshotReusesPagesAndItemsByName) {
  BuildRichDocument();
  TPrintPreview* doc = host.Doc;
  const QByteArray snapshot = Saved(*doc, false, QString());
  EXPECT_FALSE(snapshot.contains("STREAM:"));
  QList<QPointer<QObject>> before;
  for (TPagePreview* page : doc->Pages()) before << page;
  for (QObject* item : doc->Items()) before << item;
  auto* image = dynamic_cast<TPreviewImage*>(doc->Items()[0]);
  ASSERT_NE(image, nullptr);
  image->GetPreview(0);
  ASSERT_TRUE(image->HasPreview(0));
  const QByteArray keptBytes = image->Stream().data();
  const QStringList described = DescribeDocument(*doc);

  // Changes after the snapshot: a move, a rotation, a new captioned picture.
  image->SetPrintLeft(image->PrintLeft() + 100);
  dynamic_cast<TPreviewItem*>(doc->Items()[2])->Rotate(1);
  QPointer<TPreviewItem> added = dynamic_cast<TPreviewItem*>(doc->AddFile(picture, afAttachText)->GetItem());
  ASSERT_TRUE(added);
  QPointer<TPreviewItem> addedCaption = added->AttachedPreviewItem();
  ASSERT_TRUE(addedCaption);
  host.Changes.clear();

  Load(*doc, snapshot, false);
  for (const QPointer<QObject>& p : before) EXPECT_TRUE(p) << "re-used";
  EXPECT_TRUE(added.isNull());
  EXPECT_TRUE(addedCaption.isNull());
  EXPECT_EQ(doc->Items().Count(), before.size() - doc->PageCount());
  EXPECT_EQ(doc->Items()[0], image);
  EXPECT_EQ(image->StreamState(), ssIdle);  // later moves are changes again
  EXPECT_TRUE(image->HasPreview(0));
  EXPECT_EQ(image->Stream().data(), keptBytes);
  EXPECT_EQ(DescribeDocument(*doc), described);
  EXPECT_EQ(Saved(*doc, false, QString()), snapshot);
  ExpectConsistent(*doc);
}

// Without a form name, references are written by name alone; a caption
// naming its picture's page still finds it when read back.
TEST_F(DocumentFileTest, AnUnnamedFormsCaptionedDocumentReadsBackInPlaceAndFresh) {
  host.Form->setObjectName(QString());
  BuildRichDocument();
  TPrintPreview* doc = host.Doc;
  auto* image = dynamic_cast<TPreviewImage*>(doc->Items()[0]);
  ASSERT_NE(image, nullptr);
  const QPointer<TPreviewItem> caption = image->AttachedPreviewItem();
  ASSERT_TRUE(caption);
  const QByteArray snapshot = Saved(*doc, false, QString());
  EXPECT_FALSE(snapshot.contains("frmPreview"));
  const QStringList described = DescribeDocument(*doc);

  image->SetPrintLeft(image->PrintLeft() + 100);
  Load(*doc, snapshot, false);
  EXPECT_TRUE(caption);
  EXPECT_EQ(image->AttachedPreviewItem(), caption.data());
  EXPECT_EQ(DescribeDocument(*doc), described);
  ExpectConsistent(*doc);

  Load(*doc, Saved(*doc, true, kSaveImages), true);
  EXPECT_EQ(DescribeDocument(*doc), described);
  ExpectConsistent(*doc);
}

// A page whose cells are all taken reopens full: the next picture goes to
// a new page instead of over the first.
TEST_F(DocumentFileTest, AFullPageReopensFull) {
  TPrintPreview* doc = host.Doc;
  doc->SetLayout(TLayout::ThumbsText(1, 1), ltAutoByLayout);
  QImage bitmap(60, 40, QImage::Format_RGB888);
  bitmap.fill(Qt::blue);
  doc->AddBitmap(QStringLiteral("One"), bitmap, 0);
  ASSERT_EQ(doc->PageCount(), 1);
  ASSERT_EQ(doc->Pages()[0]->Layout().FreeRects().Count(), 0);
  Load(*doc, Saved(*doc, false), true);
  ASSERT_EQ(doc->PageCount(), 1);
  EXPECT_EQ(doc->Pages()[0]->Layout().FreeRects().Count(), 0);
  doc->AddBitmap(QStringLiteral("Two"), bitmap, 0);
  EXPECT_EQ(doc->PageCount(), 2);
  EXPECT_EQ(doc->Pages()[0]->Items().Count(), 1);
}

TEST_F(DocumentFileTest, AFileOpensWhereItsPicturePathsDoNotExist) {
  BuildRichDocument();
  const QString path = dir.filePath(QStringLiteral("away.tavora"));
  host.Doc->SaveToFile(path, false);
  ASSERT_TRUE(QFile::remove(picture));
  THost other;
  other.Doc->LoadFromFile(path);
  auto* image = dynamic_cast<TPreviewImage*>(other.Doc->Items()[0]);
  ASSERT_NE(image, nullptr);
  EXPECT_EQ(image->FileName(), picture);
  EXPECT_EQ(image->GetBitmap(false).size(), QSize(120, 80));  // not the error picture
  EXPECT_EQ(image->GetBitmap(false).pixelColor(0, 0), QColor(0, 0, 90));
}

TEST_F(DocumentFileTest, SavingAPictureWithoutBytesReadsItsFile) {
  host.Doc->SetKeepBitmapsInMemory(bcNone);  // the item keeps no bytes
  picture = WritePicture(dir, QStringLiteral("p.png"), 30, 20);
  host.Doc->AddFile(picture, 0);
  auto* image = dynamic_cast<TPreviewImage*>(host.Doc->Items()[0]);
  EXPECT_EQ(image->Stream().size(), 0);
  const QByteArray bytes = Saved(*host.Doc, false);
  QFile file(picture);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray content = file.readAll();
  EXPECT_TRUE(bytes.contains("STREAM:Filestream\r\nSTREAM_SIZE:" + QByteArray::number(content.size()) + "\r\n" +
                             content + "STREAM_DONE\r\n"));
  // Without the file and without bytes the save stops with the file error.
  image->Stream().buffer().clear();
  ASSERT_TRUE(QFile::remove(picture));
  EXPECT_TRUE(MessageOf<Exception>([&] { Saved(*host.Doc, false); }).startsWith(QStringLiteral("Cannot open file")));
  EXPECT_EQ(host.Doc->StreamState(), ssIdle);
  EXPECT_EQ(image->StreamState(), ssIdle);
}

namespace {

// A device whose writes fail once Limit bytes were written.
class TFailingDevice : public QIODevice {
public:
  explicit TFailingDevice(qint64 Limit) : FLimit(Limit) { open(QIODevice::WriteOnly); }
  bool isSequential() const override { return false; }

protected:
  qint64 readData(char*, qint64) override { return -1; }
  qint64 writeData(const char*, qint64 Len) override {
    if (FWritten + Len > FLimit) return -1;
    FWritten += Len;
    return Len;
  }

private:
  qint64 FLimit;
  qint64 FWritten = 0;
};

}  // namespace

TEST_F(DocumentFileTest, AFailedWriteStopsTheSaveAndResetsEveryState) {
  BuildRichDocument();
  const qint64 full = Saved(*host.Doc, false).size();
  for (qint64 limit : {qint64(0), full / 3, full - 20}) {
    TFailingDevice device(limit);
    EXPECT_EQ(MessageOf<Exception>([&] { host.Doc->SaveToStream(device, false, kSaveImages); }),
              QStringLiteral("Stream write error"))
        << limit;
    EXPECT_EQ(host.Doc->StreamState(), ssIdle);
    for (TPagePreview* page : host.Doc->Pages()) EXPECT_EQ(page->StreamState(), ssIdle);
    for (int i = 0; i < host.Doc->Items().Count(); ++i) EXPECT_EQ(host.Doc->Items().Item(i)->StreamState(), ssIdle);
  }
}

// A save that fails half-way leaves the previous file as it was and no
// temporary file behind.
TEST_F(DocumentFileTest, AFailedSaveLeavesThePreviousFileByteForByte) {
  BuildRichDocument();
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("work.tavora"));
  host.Doc->SaveToFile(path, false);
  QFile original(path);
  ASSERT_TRUE(original.open(QIODevice::ReadOnly));
  const QByteArray before = original.readAll();
  original.close();
  host.Doc->AddText(QStringLiteral("more text"));

  // The disk refuses to take more than a few kilobytes.
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto* previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = static_cast<rlim_t>(before.size() / 2);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const QString message = MessageOf<Exception>([&] { host.Doc->SaveToFile(path, false); });
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_NE(message, QStringLiteral("<no exception>"));
  EXPECT_TRUE(host.Doc->IsModifiedSinceSave());

  // A picture that cannot be read stops the save as well.
  auto* image = dynamic_cast<TPreviewImage*>(host.Doc->Items()[0]);
  image->Stream().buffer().clear();
  ASSERT_TRUE(QFile::remove(picture));
  EXPECT_TRUE(MessageOf<Exception>([&] { host.Doc->SaveToFile(path, false); }).startsWith(QStringLiteral("Cannot open file")));

  ASSERT_TRUE(original.open(QIODevice::ReadOnly));
  EXPECT_EQ(original.readAll(), before);
  EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("work.tavora")});
}

TEST_F(DocumentFileTest, AFileThatCannotBeCreatedOrOpenedGivesTheFileError) {
  EXPECT_TRUE(MessageOf<Exception>([&] { host.Doc->SaveToFile(dir.filePath(QStringLiteral("no/such/dir/a.tavora")), false); })
                  .startsWith(QStringLiteral("Cannot create file")));
  EXPECT_TRUE(MessageOf<Exception>([&] { host.Doc->LoadFromFile(dir.filePath(QStringLiteral("missing.tavora"))); })
                  .startsWith(QStringLiteral("Cannot open file")));
  EXPECT_GT(host.Doc->PageCount(), 0);  // nothing was discarded
}

TEST_F(DocumentFileTest, ADocumentWithoutOwnerCannotLoad) {
  TPrintPreview orphan(nullptr);
  QByteArray nothing;
  QBuffer in(&nothing);
  in.open(QIODevice::ReadOnly);
  EXPECT_EQ(MessageOf<Exception>([&] { orphan.LoadFromStream(in, true); }), QStringLiteral("Must have an owner to load stuff)"));
  EXPECT_EQ(orphan.UpdateLock(), 0);
}

// Files from other machines, other versions and broken disks: each ends in
// a clear error, and the document stays consistent and usable.
TEST_F(DocumentFileTest, BadFilesEndInAClearErrorAndLeaveAConsistentDocument) {
  BuildRichDocument();
  const QByteArray text = Saved(*host.Doc, true);
  const QByteArray binary = Saved(*host.Doc, false);
  const QByteArray size = "STREAM_SIZE:" + QByteArray::number(QFile(picture).size()) + "\r\n";
  auto replaced = [](QByteArray b, const QByteArray& from, const QByteArray& to) { return b.replace(from, to); };
  const QByteArray imageName = host.Doc->Items()[0]->objectName().toLatin1();
  const QByteArray captionName = host.Doc->Items()[1]->objectName().toLatin1();
  const QByteArray textName = host.Doc->Items()[3]->objectName().toLatin1();
  QByteArray deepList = "KR Comp Declare\r\nP9:TPagePreview\r\nKR Comp Define\r\nFMT:BIN\r\nTPF0\x0cTPagePreview\x02P9\x0aPageLayout";
  deepList += QByteArray(100000, '\x01');
  QByteArray shortString = "KR Comp Declare\r\nP9:TPagePreview\r\nKR Comp Define\r\nFMT:BIN\r\nTPF0\x0cTPagePreview\xff" "ab";
  struct {
    const char* what;
    QByteArray bytes;
    const char* message;  // the start of the error; empty: any
  } cases[] = {
      {"truncated text", text.left(text.size() / 2), ""},
      {"truncated binary", binary.left(binary.size() / 3), ""},
      {"last line end missing", binary.left(binary.size() - 2), "Line to long for ReadLn"},
      {"block past the end", replaced(binary, size, "STREAM_SIZE:99999999\r\n"), "Stream read error"},
      {"block of 2 GiB", replaced(binary, size, "STREAM_SIZE:2147483648\r\n"), "'2147483648' is not a valid integer value"},
      {"block without size", replaced(binary, size, "STREAM_LENGTH:5\r\n"), "Invalid stream format"},
      {"unknown class in a new record", replaced(text, textName, textName + "5")
                                           .replace(": TPreviewText\r\n", ": TPreviewThing\r\n"),
       "Class TPreviewThing not found"},
      {"unknown property", replaced(text, "  Transparent = ", "  Translucent = "), "Property Translucent does not exist"},
      {"missing reference", replaced(text, "PagePreview = frmPreview.PrintPreview_Page_1\r\n", "PagePreview = frmPreview.Nowhere\r\n"),
       "Unresolved reference to frmPreview.Nowhere"},
      {"reference of the wrong class", replaced(text, "PagePreview = frmPreview.PrintPreview_Page_1\r\n",
                                               "PagePreview = frmPreview.PrintPreview\r\n"), "Invalid property value"},
      {"record of another class", replaced(text, "PrintPreview:TPrintPreview", "PrintPreview:TPagePreview"),
       "PrintPreview should be of type TPagePreview but is TPrintPreview"},
      {"unknown extra data", replaced(binary, "STREAM:Filestream", "STREAM:Thumbnail"), "Unknown additional data in stream"},
      {"text record without end", replaced(text, "end\r\nKR Comp Done", "KR Comp Done"), ""},
      {"short string past the end", shortString, ""},
      {"deep lists", deepList, ""},
      {"display of a million pages", replaced(text, "DisplayPagesHorizontal = 2", "DisplayPagesHorizontal = 1000000"),
       "DisplayPages value is too large"},
      {"no display at all", replaced(text, "DisplayPagesHorizontal = 2", "DisplayPagesHorizontal = 0"),
       "DisplayPages value must be greater than 0"},
      {"caption attached to itself", replaced(text, "Attacher = frmPreview." + imageName + "\r\n",
                                              "Attacher = " + imageName + "." + captionName + "\r\n"),
       ""},
      {"caption attached to a captioned picture", replaced(text, "Attacher = frmPreview." + imageName + "\r\n",
                                                           "AttachedPreviewItem = frmPreview." + imageName + "\r\n"),
       ""},
  };
  for (const auto& c : cases) {
    for (bool fresh : {true, false}) {
      THost other;
      other.Doc->Loaded();
      Load(*other.Doc, binary, true);
      const QString message = MessageOf<Exception>([&] { Load(*other.Doc, c.bytes, fresh); });
      EXPECT_NE(message, QStringLiteral("<no exception>")) << c.what;
      EXPECT_TRUE(message.startsWith(QLatin1String(c.message))) << c.what << ": " << message.toStdString();
      EXPECT_EQ(other.Doc->StreamState(), ssIdle) << c.what;
      EXPECT_EQ(other.Doc->UpdateLock(), 0) << c.what;
      ExpectConsistent(*other.Doc);
      // The document still saves and opens.
      Load(*other.Doc, Saved(*other.Doc, false), true);
      Load(*other.Doc, binary, true);
      EXPECT_EQ(Saved(*other.Doc, false), binary) << c.what;
    }
  }
}

TEST_F(DocumentFileTest, OutOfRangePageValuesFromAFileStayWithinBounds) {
  BuildRichDocument();
  QByteArray text = Saved(*host.Doc, true);
  ASSERT_TRUE(text.contains("  SheetsHorizontal = 2\r\n") && text.contains("  ParentMargin = 4\r\n"));
  text.replace("  SheetsHorizontal = 2\r\n", "  SheetsHorizontal = 2147483647\r\n");
  text.replace("  ParentMargin = 4\r\n", "  ParentMargin = 2147483647\r\n");
  THost other;
  Load(*other.Doc, text, true);
  for (TPagePreview* page : other.Doc->Pages()) {
    EXPECT_LE(page->SheetsHorizontal(), 100);
    EXPECT_LE(page->ParentMargin(), 10000);
  }
  ExpectConsistent(*other.Doc);
}

// A caption may be named through the form before it joins its picture.
TEST_F(DocumentFileTest, ACaptionNamedThroughTheFormIsAttachedToItsPicture) {
  BuildRichDocument();
  const QByteArray imageName = host.Doc->Items()[0]->objectName().toLatin1();
  const QByteArray captionName = host.Doc->Items()[1]->objectName().toLatin1();
  QByteArray text = Saved(*host.Doc, true);
  ASSERT_TRUE(text.contains("AttachedPreviewItem = " + imageName + "." + captionName + "\r\n"));
  text.replace("AttachedPreviewItem = " + imageName + "." + captionName + "\r\n",
               "AttachedPreviewItem = frmPreview." + captionName + "\r\n");
  THost other;
  Load(*other.Doc, text, true);
  auto* image = other.Doc->Items().Item(0);
  ASSERT_NE(image->AttachedPreviewItem(), nullptr);
  EXPECT_EQ(image->AttachedPreviewItem()->Owner(), image);
  EXPECT_EQ(Saved(*other.Doc, true), Saved(*host.Doc, true));
}
