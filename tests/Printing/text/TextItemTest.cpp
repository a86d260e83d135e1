#include "Printing/text/PreviewTextU.h"

#include "MarkupTestSupport.h"
#include "components/vexDelayU.h"
#include "TestSupport.h"

#include <QDir>
#include <QPainter>
#include <QPicture>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace {

bool HasInk(const QImage& Image, const QRect& Area, QColor Paper = Qt::white) {
  for (int y = Area.top(); y <= Area.bottom(); ++y)
    for (int x = Area.left(); x <= Area.right(); ++x)
      if (Image.rect().contains(x, y) && Image.pixelColor(x, y) != Paper) return true;
  return false;
}

// A manual document on a unit printer, 2000 x 2800, shown in 1020 x 1440
// (Scale 0.5, the paper at (10, 20)).
class TextItemTest : public ::testing::Test {
protected:
  TextItemTest() : printer(QList<TTestPrinter::TInfo>{UnitPrinter(2000, 2800)}) {
    form = std::make_unique<QWidget>();
    form->resize(1020, 1440);
    doc = new TPrintPreview(form.get(), form.get());
    doc->SetName(QStringLiteral("PrintPreview"));
    doc->SetDefaultLayoutType(ltManual);
    doc->setGeometry(0, 0, 1020, 1440);
    doc->Loaded();
    page = doc->Pages()[0];
    page->SetParentMargin(10);
  }

  TPreviewImage* Picture(int Left, int Top, QColor Colour) {
    QImage bitmap(400, 300, QImage::Format_RGB888);
    bitmap.fill(Colour);
    auto* image = dynamic_cast<TPreviewImage*>(doc->AddBitmap(QStringLiteral("Beach.jpg"), bitmap, 0)->GetItem());
    image->SetPrintBounds(Left, Top, 400, 300);
    return image;
  }

  TPreviewText* Text(const QString& Markup, int Left, int Top, int W, int H) {
    auto* text = dynamic_cast<TPreviewText*>(doc->AddText(Markup)->GetItem());
    text->SetFont(TestFont(12));
    text->SetPrintBounds(Left, Top, W, H);
    return text;
  }

  TTestPrinterScope printer;
  std::unique_ptr<QWidget> form;
  TPrintPreview* doc;
  TPagePreview* page;
};

}  // namespace

TEST_F(TextItemTest, ANewTextBoxStartsCentredAndItsDescriptionIsItsText) {
  TPreviewText box(form.get(), QStringLiteral("Hello"));
  EXPECT_EQ(box.Text(), QStringLiteral("<P align=\"center\">Hello"));
  EXPECT_FALSE(box.GetKeepAspectRatio());
  box.SetLines({QStringLiteral("<B>one</B>"), QStringLiteral("two")});
  EXPECT_EQ(box.Text(), QStringLiteral("<B>one</B>\r\ntwo"));
  EXPECT_EQ(box.GetDescription(), box.Text());
  box.SetDescription(QStringLiteral("ignored"));
  EXPECT_EQ(box.GetDescription(), box.Text());
  box.SetText(QStringLiteral("a\r\nb"));
  EXPECT_EQ(box.Lines(), (QStringList{"a", "b"}));
}

TEST_F(TextItemTest, TheSameTextAgainKeepsTheRendering) {
  form->show();
  TPreviewText* text = Text(QStringLiteral("Summer"), 100, 100, 600, 200);
  text->grab();
  ASSERT_TRUE(text->HasCache());
  text->SetText(text->Text());
  EXPECT_TRUE(text->HasCache());
  text->SetText(QStringLiteral("Winter"));
  EXPECT_FALSE(text->HasCache());
}

TEST_F(TextItemTest, ZoomingRendersAtTheNewResolutionWithTheSamePhysicalSize) {
  TPreviewText box(form.get());
  box.SetFont(TestFont(20));
  box.SetText(QStringLiteral("<P>WWWWWWWWWWWWWWWWWWWW"));
  auto inkWidth = [](const QImage& image) {
    int right = -1;
    for (int x = 0; x < image.width(); ++x)
      if (HasInk(image, QRect(x, 0, 1, image.height()))) right = x;
    return right + 1;
  };
  // The same box at 50 and at 100 pixels per inch: twice the pixels for the
  // same part of the box.
  const QImage small = box.Render(1000, 200, 50, 0);
  const QImage large = box.Render(2000, 400, 100, 0);
  const int a = inkWidth(small), b = inkWidth(large);
  ASSERT_GT(a, 0);
  EXPECT_NEAR(b, 2 * a, a / 10 + 2);
}

TEST_F(TextItemTest, ATurnedBoxLaysItsTextOutUnturnedAndThenTurnsIt) {
  TPreviewText box(form.get());
  box.SetFont(TestFont(24));
  box.SetText(QStringLiteral("<P>Top line"));
  const QImage upright = box.Render(400, 100, 96, 0);
  const QImage turned = box.Render(100, 400, 96, 1);
  ASSERT_EQ(turned.size(), QSize(100, 400));
  // Turned a quarter clockwise: the text's first line runs down the right.
  EXPECT_TRUE(HasInk(turned, QRect(70, 0, 30, 400)));
  EXPECT_FALSE(HasInk(turned, QRect(0, 0, 40, 400)));
  EXPECT_TRUE(HasInk(upright, QRect(0, 0, 400, 30)));
}

TEST_F(TextItemTest, AnEnormousBoxRendersAtAReducedScaleInsteadOfFailing) {
  TPreviewText box(form.get());
  box.SetText(QStringLiteral("Poster"));
  const QImage huge = box.Render(60000, 40000, 1200, 0);
  ASSERT_FALSE(huge.isNull());
  EXPECT_LE(static_cast<qint64>(huge.width()) * huge.height(), TPreviewText::MaxRenderPixels);
  EXPECT_NEAR(static_cast<double>(huge.width()) / huge.height(), 1.5, 0.01);
}

TEST_F(TextItemTest, ATextBoxShowsThePictureBelowOnScreenButCoversItOnPaper) {
  form->show();
  Picture(100, 100, Qt::red);
  TPreviewText* text = Text(QStringLiteral("<P>x"), 100, 100, 400, 300);
  text->raise();
  doc->SelectItems(0);
  const QImage screen = form->grab().toImage();
  // A white part of the box, inside its dashed frame.
  EXPECT_EQ(screen.pixelColor(text->x() + 150, text->y() + 120), QColor(Qt::red));

  printer->BeginDoc();
  text->PrintTo(printer->Canvas(), 0, 0);
  printer->EndDoc();
  const QImage paper = printer->RenderPage(0, 0);
  EXPECT_EQ(paper.pixelColor(100 + 300, 100 + 250), QColor(Qt::white));
  EXPECT_TRUE(HasInk(paper, QRect(100, 100, 400, 300)));
  EXPECT_FALSE(text->HasCache());  // printing leaves no cache behind
}

TEST_F(TextItemTest, CaptionsFollowTheirItem) {
  TPreviewImage* picture = Picture(200, 300, Qt::darkBlue);
  picture->CreateCaption();
  auto* caption = dynamic_cast<TPreviewText*>(picture->AttachedPreviewItem());
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->Attacher(), picture);
  EXPECT_TRUE(caption->GetOptions().testFlag(poAttached));
  EXPECT_TRUE(caption->GetOptions().testFlag(poNoLayout));
  EXPECT_EQ(caption->Text(), QStringLiteral("<P align=\"center\">Beach.jpg"));
  EXPECT_EQ(caption->Name(), QStringLiteral("PrintPreview_Text_3"));
  EXPECT_TRUE(doc->Items().Contains(caption));
  EXPECT_TRUE(page->Items().Contains(caption));
  // Below the picture, 10 units away, 50 deep, as wide as the picture.
  EXPECT_EQ(caption->PrintLeft(), 200);
  EXPECT_EQ(caption->PrintTop(), 300 + 300 + 10);
  EXPECT_EQ(caption->PrintWidth(), 400);
  EXPECT_EQ(caption->PrintHeight(), 50);
  EXPECT_EQ(picture->GetActualHeight(), 300 + 50 + 10);
  EXPECT_EQ(caption->y(), 20 + 305);

  // Moving the picture moves the caption.
  picture->SetBounds(picture->x() + 50, picture->y(), picture->width(), picture->height());
  EXPECT_EQ(picture->PrintLeft(), 300);
  EXPECT_EQ(caption->PrintLeft(), 300);
  picture->SetPrintBounds(300, 1000, 400, 300);
  picture->RepositionAttached();
  EXPECT_EQ(caption->PrintTop(), 1310);

  // The caption goes with its picture.
  const QPointer<TPreviewText> guard = caption;
  delete picture;
  EXPECT_TRUE(guard.isNull());
  EXPECT_FALSE(doc->Items().Contains(caption));
  EXPECT_EQ(page->Items().Count(), 0);
}

TEST_F(TextItemTest, OnASidewaysPageTheCaptionSitsLeftAndTurned) {
  page->SetPaperOrientation(poLandscape);
  ASSERT_EQ(page->Rotation(), 3);
  TPreviewImage* picture = Picture(500, 300, Qt::darkBlue);
  picture->CreateCaption();
  TPreviewItem* caption = picture->AttachedPreviewItem();
  EXPECT_EQ(picture->GetAttachPosition(), apLeft);
  EXPECT_EQ(caption->_IntRotation(), 1);
  EXPECT_EQ(caption->PrintLeft(), 500 - 10 - 50);
  EXPECT_EQ(caption->PrintWidth(), 50);
  EXPECT_EQ(caption->PrintHeight(), 300);
}

TEST_F(TextItemTest, CaptionCommandsAndState) {
  QStringList changes;
  doc->OnChanged = [&](QObject*, const QString& d) { changes << d; };
  EXPECT_EQ(doc->CaptionState(), 1);  // nothing selected
  TPreviewImage* a = Picture(100, 100, Qt::red);
  TPreviewImage* b = Picture(100, 800, Qt::green);
  TPreviewText* text = Text(QStringLiteral("note"), 100, 1500, 400, 100);
  doc->SelectItems(0);
  a->SetSelected(true);
  b->SetSelected(true);
  EXPECT_EQ(doc->CaptionState(), 3);
  text->SetSelected(true);
  EXPECT_EQ(doc->CaptionState(), 2);
  text->SetSelected(false);
  a->CreateCaption();
  EXPECT_EQ(doc->CaptionState(), 2);
  changes.clear();
  doc->AttachTextToSelected();
  EXPECT_NE(b->AttachedPreviewItem(), nullptr);
  EXPECT_EQ(doc->CaptionState(), 1);
  EXPECT_EQ(changes, QStringList{QStringLiteral("Add Text to items")});
  const int withCaptions = doc->Items().Count();
  doc->AddRemoveText(1, false);
  EXPECT_EQ(doc->Items().Count(), withCaptions - 2);
  EXPECT_EQ(a->AttachedPreviewItem(), nullptr);
  EXPECT_EQ(changes.last(), QStringLiteral("Add/Remove Text"));
  doc->AddRemoveText(0, true);
  EXPECT_NE(a->AttachedPreviewItem(), nullptr);
  EXPECT_EQ(text->AttachedPreviewItem(), nullptr);  // text boxes get no captions
}

// A page with a picture, its caption and a selected text box, drawn as the
// user sees it (test-output/items.png).
TEST_F(TextItemTest, APageWithAPictureItsCaptionAndASelectedTextBox) {
  QDir().mkpath(QStringLiteral("test-output"));
  form->show();
  TPreviewImage* picture = Picture(200, 200, QColor(40, 90, 200));
  picture->SetDescription(QStringLiteral("Beach at noon"));
  picture->CreateCaption();
  auto* caption = dynamic_cast<TPreviewText*>(picture->AttachedPreviewItem());
  caption->SetFont(TestFont(9));
  TPreviewText* note = Text(QStringLiteral("<P align=\"center\"><B>Holiday</B> 2026"), 900, 200, 800, 200);
  doc->SelectItem(note, true);
  const QImage shot = form->grab().toImage();
  ASSERT_TRUE(shot.save(QStringLiteral("test-output/items.png")));
  // The picture's colour in its middle.
  EXPECT_EQ(shot.pixelColor(picture->geometry().center()), QColor(40, 90, 200));
  // Ink of the caption's text below the picture, within the caption.
  EXPECT_TRUE(HasInk(shot, caption->geometry().adjusted(3, 3, -3, -3)));
  // The selection frame: red corner squares on the selected text box.
  EXPECT_EQ(shot.pixelColor(note->x() + 2, note->y() + 2), QColor(Qt::red));
  EXPECT_EQ(shot.pixelColor(note->geometry().right() - 2, note->geometry().bottom() - 2), QColor(Qt::red));
  // The picture, not selected, has none.
  EXPECT_NE(shot.pixelColor(picture->x() + 2, picture->y() + 2), QColor(Qt::red));
}

// Four pages at once: ten pictures, a text box, a caption, a page on its
// side and the free rectangles shown (test-output/display-2x2.png, kept as
// tests/Printing/text/data/display_2x2_reference.png).
TEST(DisplayPicture, TwoByTwoPagesWithPicturesTextCaptionsAndTheLayoutShown) {
  TTestPrinterScope printer;
  QDir().mkpath(QStringLiteral("test-output"));
  QWidget form;
  form.resize(800, 800);
  auto* doc = new TPrintPreview(&form, &form);
  doc->SetName(QStringLiteral("PrintPreview"));
  doc->setGeometry(0, 0, 800, 800);
  doc->SetDisplayPagesHorizontal(2);
  doc->SetDisplayPagesVertical(2);
  doc->SetUserOptions(uoShowLayout);
  doc->SetDefaultImageWidth(900);
  doc->SetDefaultImageHeight(600);
  doc->Loaded();
  doc->Pages()[3]->SetPaperOrientation(poLandscape);
  const QColor colours[] = {QColor(200, 40, 40), QColor(40, 160, 60), QColor(40, 60, 200), QColor(200, 160, 0)};
  for (int i = 0; i < 10; ++i) {
    QImage bitmap(i % 2 ? 300 : 200, i % 2 ? 200 : 300, QImage::Format_RGB888);
    bitmap.fill(colours[i % 4]);
    doc->AddBitmap(QStringLiteral("Picture %1").arg(i + 1), bitmap, i == 0 ? static_cast<unsigned>(afAttachText) : 0u);
  }
  auto* text = dynamic_cast<TPreviewText*>(doc->AddText(QStringLiteral("<P align=\"center\"><B>Summer</B>"))->GetItem());
  text->SetFont(TestFont(10));
  auto* first = doc->Items().Item(0);
  auto* caption = dynamic_cast<TPreviewText*>(first->AttachedPreviewItem());
  ASSERT_NE(caption, nullptr);
  caption->SetFont(TestFont(7));
  doc->SetDisplayPageStart(0);
  form.show();
  const QImage shot = form.grab().toImage();
  ASSERT_TRUE(shot.save(QStringLiteral("test-output/display-2x2.png")));

  // Paper: white at a page's bottom margin; the pictures in their colours.
  TPagePreview* p0 = doc->Pages()[0];
  EXPECT_EQ(shot.pixelColor(p0->x() + p0->Displayleft() + 3, p0->y() + p0->DisplayTop() + p0->DisplayHeight() - 3),
            QColor(Qt::white));
  for (int i = 0; i < doc->Items().Count(); ++i) {
    auto* image = dynamic_cast<TPreviewImage*>(doc->Items()[i]);
    if (!image || !image->PagePreview() || image->PagePreview()->isHidden()) continue;
    const int n = image->GetDescription().mid(8).toInt();
    EXPECT_EQ(shot.pixelColor(image->geometry().center()), colours[(n - 1) % 4]) << n;
  }
  // The caption, a thin strip at this zoom, right below its picture.
  EXPECT_TRUE(HasInk(shot, caption->geometry()));
  EXPECT_GE(caption->y(), first->geometry().bottom());
  EXPECT_LE(caption->y(), first->geometry().bottom() + 3);
  // The sideways page lies across and shows its free rectangle outlined.
  TPagePreview* side = doc->Pages()[3];
  EXPECT_GT(side->DisplayWidth(), side->DisplayHeight());
  const TRectangleList& free = doc->Pages()[1]->Layout().FreeRects();
  ASSERT_GT(free.Count(), 0);
  TPagePreview* p1 = doc->Pages()[1];
  const TRectangle& r = *free[free.Count() - 1];
  const int edgeX = p1->x() + Trunc(r.Left * static_cast<double>(p1->Scale()) + p1->Displayleft());
  const int midY = p1->y() + Trunc((r.Top + r.Height / 2) * static_cast<double>(p1->Scale()) + p1->DisplayTop());
  EXPECT_EQ(shot.pixelColor(edgeX, midY), QColor(Qt::black));

  // The same drawing as the reference kept with the tests (a few pixels of
  // font smoothing may differ).
  const QImage reference(QStringLiteral(TAVORA_TEST_SOURCE_DIR "/Printing/text/data/display_2x2_reference.png"));
  ASSERT_FALSE(reference.isNull());
  ASSERT_EQ(reference.size(), shot.size());
  const QImage a = reference.convertToFormat(QImage::Format_RGB888), b = shot.convertToFormat(QImage::Format_RGB888);
  int differing = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) differing += a.pixel(x, y) != b.pixel(x, y);
  EXPECT_LT(differing, a.width() * a.height() / 200);
}

// A caption moved on screen asks for its page to be laid out again once the
// move is over; the request replaces an earlier one for the same page.
TEST_F(TextItemTest, AMovedCaptionRelaysItsPageALittleLater) {
  quint32 now = 1000;
  SharedTimer()->SetTickSource([&] { return now; });
  TPreviewImage* picture = Picture(200, 300, Qt::darkBlue);
  picture->CreateCaption();
  TPreviewItem* caption = picture->AttachedPreviewItem();
  const QString id = QStringLiteral("Relayout ") + page->Name();
  caption->SetBounds(caption->x() + 20, caption->y(), caption->width(), caption->height());
  caption->SetBounds(caption->x() + 20, caption->y(), caption->width(), caption->height());
  ASSERT_NE(SharedTimer()->FindQueued(id), nullptr);
  SharedTimer()->Tick();  // not due yet
  EXPECT_NE(SharedTimer()->FindQueued(id), nullptr);
  now += 150;
  SharedTimer()->Tick();
  EXPECT_EQ(SharedTimer()->FindQueued(id), nullptr);
  SharedTimer()->SetTickSource(nullptr);
}
