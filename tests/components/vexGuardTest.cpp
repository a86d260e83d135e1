// The scope guards.

#include "components/vexGuardU.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

struct TTracked {
  explicit TTracked(int& Freed) : FFreed(Freed) {}
  ~TTracked() { ++FFreed; }
  int& FFreed;
};

class TPaintCounter : public QWidget {
public:
  using QWidget::QWidget;
  int Paints = 0;

protected:
  void paintEvent(QPaintEvent*) override { ++Paints; }
};

void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

}  // namespace

TEST(vexGuard, FreesTheObjectWhenTheLastReferenceGoes) {
  int freed = 0;
  IvexGuard g = Guard(new TTracked(freed));
  IvexGuard copy = g;
  g.reset();
  EXPECT_EQ(freed, 0);
  EXPECT_NE(copy->Object(), nullptr);
  copy.reset();
  EXPECT_EQ(freed, 1);
}

TEST(vexGuard, FreesAtScopeEnd) {
  int freed = 0;
  {
    IvexGuard g = Guard(new TTracked(freed));
    EXPECT_EQ(freed, 0);
  }
  EXPECT_EQ(freed, 1);
}

TEST(vexGuard, FreesAQObjectWithAParent) {
  QObject parent;
  QPointer<QObject> child = new QObject(&parent);
  { IvexGuard g = Guard(child.data()); }
  EXPECT_TRUE(child.isNull());
  EXPECT_TRUE(parent.children().isEmpty());
}

TEST(vexGuard, NullAndReleasedObjectsAreLeftAlone) {
  int freed = 0;
  { IvexGuard g = Guard(static_cast<TTracked*>(nullptr)); }
  auto* kept = new TTracked(freed);
  {
    IvexGuard g = Guard(kept);
    g->Release();
    EXPECT_EQ(g->Object(), nullptr);
  }
  EXPECT_EQ(freed, 0);
  delete kept;
  EXPECT_EQ(freed, 1);
}

TEST(vexGuardWindowUpdate, StopsRedrawsForItsLifeAndRepaintsEverythingAfter) {
  TPaintCounter window;
  window.resize(100, 80);
  auto* child = new TPaintCounter(&window);
  child->setGeometry(10, 10, 40, 30);
  window.show();
  Settle();
  window.Paints = child->Paints = 0;
  {
    IvexGuardWindowUpdate u = GuardWindowUpdate(&window);
    EXPECT_FALSE(window.updatesEnabled());
    EXPECT_FALSE(child->updatesEnabled());
    child->update();
    window.update();
    Settle();
    EXPECT_EQ(window.Paints, 0);
    EXPECT_EQ(child->Paints, 0);
  }
  EXPECT_TRUE(window.updatesEnabled());
  Settle();
  EXPECT_GE(window.Paints, 1);
  EXPECT_GE(child->Paints, 1);
}

TEST(vexGuardWindowUpdate, NestedGuardsKeepRedrawsOffUntilTheOuterGoes) {
  QWidget window;
  IvexGuardWindowUpdate outer = GuardWindowUpdate(&window);
  { IvexGuardWindowUpdate inner = GuardWindowUpdate(&window); }
  EXPECT_FALSE(window.updatesEnabled());
  outer.reset();
  EXPECT_TRUE(window.updatesEnabled());
}

TEST(vexGuardWindowUpdate, WindowGoneBeforeTheGuardAndNoWindow) {
  auto* window = new QWidget;
  IvexGuardWindowUpdate u = GuardWindowUpdate(window);
  delete window;
  EXPECT_EQ(u->Window(), nullptr);
  u.reset();
  IvexGuardWindowUpdate none = GuardWindowUpdate(nullptr);
  none.reset();
}
