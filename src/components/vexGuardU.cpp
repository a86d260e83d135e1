#include "components/vexGuardU.h"

TvexGuard::~TvexGuard() {
  if (FObject && FFree) FFree();
}

void TvexGuard::Release() {
  FObject = nullptr;
  FFree = nullptr;
}

TvexGuardWindowUpdate::TvexGuardWindowUpdate(QWidget* AWindow) : FWindow(AWindow) {
  if (!FWindow) return;
  FWasEnabled = FWindow->updatesEnabled();
  FWindow->setUpdatesEnabled(false);
}

TvexGuardWindowUpdate::~TvexGuardWindowUpdate() {
  if (!FWindow || !FWasEnabled) return;
  FWindow->setUpdatesEnabled(true);
  // The window, its frame and all its children: invalidated and erased.
  FWindow->update();
  const QList<QWidget*> children = FWindow->findChildren<QWidget*>();
  for (QWidget* w : children) w->update();
}

IvexGuardWindowUpdate GuardWindowUpdate(QWidget* AWindow) { return std::make_shared<TvexGuardWindowUpdate>(AWindow); }
