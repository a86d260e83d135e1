#pragma once

#include <QApplication>

#include <functional>

// The application object. Qt must never see an exception: notify() catches
// whatever an event handler throws, shows its message through Dialogs and
// swallows the silent abort (EAbort).
class TApplication : public QApplication {
  Q_OBJECT
public:
  TApplication(int& argc, char** argv);

  bool notify(QObject* Receiver, QEvent* Event) override;

  // Call from inside a catch block: shows the message of the exception being
  // handled (EAbort stays silent).
  static void HandleException();
};

// Runs Fn and keeps every exception inside: for timer, callback and other
// event boundaries outside notify(). Answers false when Fn threw.
bool CallGuarded(const std::function<void()>& Fn);

// The hourglass while it lives (or until Restore).
class TWaitCursor {
public:
  TWaitCursor();
  ~TWaitCursor() { Restore(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
  void Restore();

private:
  bool FActive = false;
};
