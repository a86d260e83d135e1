#include "platform/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

#include <cstdio>

namespace {

TDialogScript* GCurrentScript = nullptr;

// Without a screen to show a box on (no application, or the offscreen
// platform of the tests) nobody could answer it: report it on stderr and
// take the default answer instead of blocking forever.
bool CanShowBoxes() {
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
  return QGuiApplication::platformName() != QLatin1String("offscreen");
}

void ReportUnshown(const char* kind, const QString& text) {
  std::fprintf(stderr, "[%s] %s\n", kind, qPrintable(text));
}

QMessageBox::Icon IconOf(TMsgDlgType t) {
  switch (t) {
    case mtWarning: return QMessageBox::Warning;
    case mtError: return QMessageBox::Critical;
    case mtInformation: return QMessageBox::Information;
    case mtConfirmation: return QMessageBox::Question;
    case mtCustom: break;
  }
  return QMessageBox::NoIcon;
}

QString CaptionOf(TMsgDlgType t) {
  switch (t) {
    case mtWarning: return QStringLiteral("Warning");
    case mtError: return QStringLiteral("Error");
    case mtInformation: return QStringLiteral("Information");
    case mtConfirmation: return QStringLiteral("Confirm");
    case mtCustom: break;
  }
  return QGuiApplication::applicationDisplayName();
}

struct TButtonMap {
  TMsgDlgBtn Btn;
  QMessageBox::StandardButton Std;
  int Result;
};

constexpr TButtonMap kButtons[] = {
    {mbYes, QMessageBox::Yes, mrYes},
    {mbNo, QMessageBox::No, mrNo},
    {mbOK, QMessageBox::Ok, mrOk},
    {mbCancel, QMessageBox::Cancel, mrCancel},
    {mbAbort, QMessageBox::Abort, mrAbort},
    {mbRetry, QMessageBox::Retry, mrRetry},
    {mbIgnore, QMessageBox::Ignore, mrIgnore},
    {mbYesToAll, QMessageBox::YesToAll, mrYesToAll},
    {mbNoToAll, QMessageBox::NoToAll, mrNoToAll},
    {mbAll, QMessageBox::YesToAll, mrAll},
    {mbHelp, QMessageBox::Help, mrNone},
};

}  // namespace

namespace Dialogs {

int DefaultAnswer(TMsgDlgButtons Buttons) {
  if (Buttons.testFlag(mbCancel)) return mrCancel;
  if (Buttons.testFlag(mbNo)) return mrNo;
  if (Buttons.testFlag(mbAbort)) return mrAbort;
  return mrOk;
}

void ShowMessage(const QString& Msg) {
  if (TDialogScript* s = TDialogScript::Current()) {
    TDialogRequest r;
    r.Kind = TDialogRequest::dkMessage;
    r.Text = Msg;
    r.Buttons = mbOK;
    s->Take(r);
    return;
  }
  if (!CanShowBoxes()) {
    ReportUnshown("message", Msg);
    return;
  }
  QMessageBox box(QMessageBox::NoIcon, QGuiApplication::applicationDisplayName(), Msg, QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

int ShowModal(QDialog& Dialog, const QString& Summary) {
  if (TDialogScript* s = TDialogScript::Current()) {
    TDialogRequest r;
    r.Kind = TDialogRequest::dkMessage;
    r.Caption = Dialog.windowTitle();
    r.Text = Summary;
    s->Take(r);
    return mrNone;
  }
  if (!CanShowBoxes()) {
    ReportUnshown("dialog", Dialog.windowTitle());
    return mrNone;
  }
  return Dialog.exec();
}

int MessageDlg(const QString& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx) {
  Q_UNUSED(HelpCtx);
  if (Buttons == TMsgDlgButtons()) Buttons = mbOK;
  if (TDialogScript* s = TDialogScript::Current()) {
    TDialogRequest r;
    r.Kind = TDialogRequest::dkMessageDlg;
    r.Text = Msg;
    r.DlgType = DlgType;
    r.Buttons = Buttons;
    return s->Take(r);
  }
  if (!CanShowBoxes()) {
    ReportUnshown("question", Msg);
    return DefaultAnswer(Buttons);
  }
  QMessageBox box(IconOf(DlgType), CaptionOf(DlgType), Msg, QMessageBox::NoButton, QApplication::activeWindow());
  for (const TButtonMap& b : kButtons)
    if (Buttons.testFlag(b.Btn) && b.Btn != mbHelp) box.addButton(b.Std);
  box.exec();
  const auto pressed = box.standardButton(box.clickedButton());
  for (const TButtonMap& b : kButtons)
    if (b.Std == pressed && Buttons.testFlag(b.Btn)) return b.Result;
  return DefaultAnswer(Buttons);  // closed with Escape or the window's close box
}

bool InputQuery(const QString& ACaption, const QString& APrompt, QString& Value) {
  if (TDialogScript* s = TDialogScript::Current()) {
    TDialogRequest r;
    r.Kind = TDialogRequest::dkInputQuery;
    r.Caption = ACaption;
    r.Text = APrompt;
    r.Value = Value;
    const bool ok = s->Take(r) == mrOk;
    if (ok) Value = r.Value;
    return ok;
  }
  if (!CanShowBoxes()) {
    ReportUnshown("input", APrompt);
    return false;
  }
  bool ok = false;
  const QString text =
      QInputDialog::getText(QApplication::activeWindow(), ACaption, APrompt, QLineEdit::Normal, Value, &ok);
  if (ok) Value = text;
  return ok;
}

}  // namespace Dialogs

TDialogScript::TDialogScript() : FPrevious(GCurrentScript) { GCurrentScript = this; }

TDialogScript::~TDialogScript() {
  // Scripts end in reverse order of their start; unlink wherever we are.
  if (GCurrentScript == this) {
    GCurrentScript = FPrevious;
    return;
  }
  for (TDialogScript* s = GCurrentScript; s; s = s->FPrevious)
    if (s->FPrevious == this) {
      s->FPrevious = FPrevious;
      break;
    }
}

TDialogScript* TDialogScript::Current() { return GCurrentScript; }

TDialogScript& TDialogScript::Answer(int ModalResult) {
  TAnswer a;
  a.ModalResult = ModalResult;
  FAnswers.append(a);
  return *this;
}

TDialogScript& TDialogScript::AnswerInput(bool Ok, const QString& Value) {
  TAnswer a;
  a.ModalResult = Ok ? mrOk : mrCancel;
  a.InputOk = Ok;
  a.InputValue = Value;
  FAnswers.append(a);
  return *this;
}

int TDialogScript::Take(TDialogRequest& Request) {
  if (Request.Kind == TDialogRequest::dkMessage) {
    // A plain message needs no answer and takes none from the queue.
    Request.Scripted = true;
    Request.Answer = mrOk;
    FAsked.append(Request);
    return mrOk;
  }
  if (!FAnswers.isEmpty()) {
    const TAnswer a = FAnswers.takeFirst();
    Request.Scripted = true;
    Request.Answer = a.ModalResult;
    FAsked.append(Request);
    if (Request.Kind == TDialogRequest::dkInputQuery) {
      Request.Answer = a.InputOk ? mrOk : mrCancel;
      if (a.InputOk) Request.Value = a.InputValue;
      FAsked.last() = Request;
    }
    return Request.Answer;
  }
  Request.Scripted = false;
  Request.Answer = Request.Kind == TDialogRequest::dkInputQuery ? mrCancel : Dialogs::DefaultAnswer(Request.Buttons);
  FAsked.append(Request);
  return Request.Answer;
}

QStringList TDialogScript::Texts() const {
  QStringList out;
  for (const TDialogRequest& r : FAsked) out << r.Text;
  return out;
}

int TDialogScript::Unanswered() const {
  int n = 0;
  for (const TDialogRequest& r : FAsked)
    if (!r.Scripted) ++n;
  return n;
}

void TDialogScript::Clear() {
  FAnswers.clear();
  FAsked.clear();
}
