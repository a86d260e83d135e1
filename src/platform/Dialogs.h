#pragma once

#include <QFlags>
#include <QList>
#include <QString>

class QDialog;

// Message boxes, questions and input boxes. Every box of the program goes
// through here, so that tests can script the answers (TDialogScript) and no
// test ever opens a blocking window.

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

enum TMsgDlgBtn {
  mbYes = 0x001,
  mbNo = 0x002,
  mbOK = 0x004,
  mbCancel = 0x008,
  mbAbort = 0x010,
  mbRetry = 0x020,
  mbIgnore = 0x040,
  mbAll = 0x080,
  mbNoToAll = 0x100,
  mbYesToAll = 0x200,
  mbHelp = 0x400,
};
Q_DECLARE_FLAGS(TMsgDlgButtons, TMsgDlgBtn)
Q_DECLARE_OPERATORS_FOR_FLAGS(TMsgDlgButtons)

enum TModalResult {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10,
};

namespace Dialogs {

// An information box with an OK button.
void ShowMessage(const QString& Msg);

// A box of the given type with the given buttons; answers the modal result of
// the button pressed.
int MessageDlg(const QString& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int HelpCtx = 0);

// An input box; true when confirmed, Value then holds the text entered.
bool InputQuery(const QString& ACaption, const QString& APrompt, QString& Value);

// Runs a dialog of the program's own modally and answers its result. Under
// a test script, or without a screen, it is recorded as a message with its
// caption and the summary given, and not shown.
int ShowModal(QDialog& Dialog, const QString& Summary);

// The answer a box gives when nobody can press a button: Cancel where there
// is one, else No, else OK.
int DefaultAnswer(TMsgDlgButtons Buttons);

}  // namespace Dialogs

// One box that was asked for.
struct TDialogRequest {
  enum TKind { dkMessage, dkMessageDlg, dkInputQuery };
  TKind Kind = dkMessage;
  QString Caption;  // input boxes
  QString Text;     // message or prompt
  TMsgDlgType DlgType = mtInformation;
  TMsgDlgButtons Buttons;
  QString Value;  // input boxes: the value offered
  int Answer = mrNone;
  bool Scripted = false;  // answered from the script (not by default)
};

// While alive, answers every box from its queue of answers and records what
// was asked. Boxes beyond the queue get Dialogs::DefaultAnswer (input boxes:
// cancelled) and are counted as unanswered. Scripts nest; the newest answers.
class TDialogScript {
public:
  TDialogScript();
  ~TDialogScript();
  TDialogScript(const TDialogScript&) = delete;
  TDialogScript& operator=(const TDialogScript&) = delete;

  // Queue the answer for the next MessageDlg (a modal result). Plain
  // messages (ShowMessage) are recorded but take no answer.
  TDialogScript& Answer(int ModalResult);
  // Queue the answer for the next InputQuery.
  TDialogScript& AnswerInput(bool Ok, const QString& Value = QString());

  const QList<TDialogRequest>& Asked() const { return FAsked; }
  QStringList Texts() const;  // the texts of every box asked, in order
  int Unanswered() const;     // boxes that found no scripted answer
  int Pending() const { return static_cast<int>(FAnswers.size()); }
  void Clear();

  // Used by the Dialogs layer.
  static TDialogScript* Current();
  int Take(TDialogRequest& Request);

private:
  struct TAnswer {
    int ModalResult = mrNone;
    bool InputOk = false;
    QString InputValue;
  };
  QList<TAnswer> FAnswers;
  QList<TDialogRequest> FAsked;
  TDialogScript* FPrevious = nullptr;
};
