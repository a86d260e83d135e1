#pragma once

// Scope guards. A guard is a reference-counted holder; what it
// guards is released when the last reference to it goes away.
//
//   IvexGuard g = Guard(new TFoo);          // frees the TFoo at scope end
//   IvexGuard u = GuardWindowUpdate(form);  // no redraws until u goes

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

// A reference-counted object holding one object reference; the object is
// freed when the last reference to the guard goes.
class TvexGuard {
public:
  template <class T>
  explicit TvexGuard(T* AObject) : FObject(AObject), FFree([AObject] { delete AObject; }) {}
  ~TvexGuard();
  TvexGuard(const TvexGuard&) = delete;
  TvexGuard& operator=(const TvexGuard&) = delete;

  // The object held (nullptr after Release).
  void* Object() const { return FObject; }
  // Gives the object up: the guard no longer frees it.
  void Release();

private:
  void* FObject;
  std::function<void()> FFree;
};

// A reference-counted object holding one window: the window does not redraw
// while the guard lives; when the last reference goes, redrawing is switched
// back on (unless it was already off when the guard was made) and the window
// with all its children is repainted in full. A window that is destroyed
// before the guard is simply forgotten.
class TvexGuardWindowUpdate {
public:
  explicit TvexGuardWindowUpdate(QWidget* AWindow);
  ~TvexGuardWindowUpdate();
  TvexGuardWindowUpdate(const TvexGuardWindowUpdate&) = delete;
  TvexGuardWindowUpdate& operator=(const TvexGuardWindowUpdate&) = delete;

  QWidget* Window() const { return FWindow; }

private:
  QPointer<QWidget> FWindow;
  bool FWasEnabled = true;
};

// The reference-counted variables the callers hold.
using IvexGuard = std::shared_ptr<TvexGuard>;
using IvexGuardWindowUpdate = std::shared_ptr<TvexGuardWindowUpdate>;

// Answers a reference to a new guard holding AObject (which may be nullptr).
template <class T>
IvexGuard Guard(T* AObject) {
  return std::make_shared<TvexGuard>(AObject);
}

// Answers a reference to a new window-update guard for AWindow (which may be
// nullptr: the guard then does nothing).
IvexGuardWindowUpdate GuardWindowUpdate(QWidget* AWindow);
