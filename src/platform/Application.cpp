#include "platform/Application.h"

#include "platform/Dialogs.h"
#include "platform/Exceptions.h"

#include <exception>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("tavora"));
  setApplicationDisplayName(QStringLiteral("Tavora"));
  setOrganizationName(QStringLiteral("Morvek"));
}

bool TApplication::notify(QObject* Receiver, QEvent* Event) {
  try {
    return QApplication::notify(Receiver, Event);
  } catch (...) {
    HandleException();
  }
  return false;
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const EAbort&) {
    // silent
  } catch (const Exception& e) {
    Dialogs::ShowMessage(e.Message());
  } catch (const std::exception& e) {
    Dialogs::ShowMessage(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    Dialogs::ShowMessage(QStringLiteral("An unknown error occurred."));
  }
}

bool CallGuarded(const std::function<void()>& Fn) {
  try {
    Fn();
    return true;
  } catch (...) {
    TApplication::HandleException();
  }
  return false;
}

TWaitCursor::TWaitCursor() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    FActive = true;
  }
}

void TWaitCursor::Restore() {
  if (!FActive) return;
  FActive = false;
  QGuiApplication::restoreOverrideCursor();
}
