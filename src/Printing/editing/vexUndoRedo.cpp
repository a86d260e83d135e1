#include "Printing/editing/vexUndoRedo.h"

#include "platform/Application.h"

#include <QIODevice>

namespace {

const char* const kNoValidState = "Do not have valid state.  Check OnGetState event";
const char* const kNothingRestored = "Nothing happened in OnRestoreState event handler";
const char* const kCanNotUndo = "Can not undo.";

}  // namespace

// Sets the mode for the length of a save or a restore and puts it back to
// idle however the step ends.
class TvexUndoRedo::TModeScope {
public:
  TModeScope(TMode& AMode, TMode AValue) : FMode(AMode) { FMode = AValue; }
  ~TModeScope() { FMode = mIdle; }
  TModeScope(const TModeScope&) = delete;
  TModeScope& operator=(const TModeScope&) = delete;

private:
  TMode& FMode;
};

TvexUndoRedo::TvexUndoRedo(QObject* AOwner) : QObject(nullptr), TComponent(this, AOwner) {}

TvexUndoRedo::~TvexUndoRedo() {
  BeforeDestruction();
  // A disposal handler that fails cannot stop the destruction: the entry has
  // left the history already, the rest are still disposed of.
  while (!FStates.empty()) {
    try {
      DisposeEntry(0);
    } catch (...) {
    }
  }
}

void TvexUndoRedo::SetUndoAction(QAction* Value) {
  if (FUndoAction == Value) return;
  QObject::disconnect(FUndoConnection);
  FUndoAction = Value;
  if (Value) {
    FUndoConnection = connect(Value, &QAction::triggered, this, [this] { CallGuarded([this] { Undo(); }); });
    UpdateUndoAction();
  }
}

void TvexUndoRedo::SetRedoAction(QAction* Value) {
  if (FRedoAction == Value) return;
  QObject::disconnect(FRedoConnection);
  FRedoAction = Value;
  if (Value) {
    FRedoConnection = connect(Value, &QAction::triggered, this, [this] { CallGuarded([this] { Redo(); }); });
    UpdateRedoAction();
  }
}

int TvexUndoRedo::IndexOf(const QObject* AStateObject) const {
  if (!AStateObject) return -1;
  for (size_t i = 0; i < FStates.size(); ++i)
    if (FStates[i].StateObject == AStateObject) return static_cast<int>(i);
  return -1;
}

int TvexUndoRedo::CurrentIndex() const { return IndexOf(FCurrent); }

int TvexUndoRedo::RedoIndex() const {
  const int current = CurrentIndex();
  if (current < 0 || current == StateCount() - 1) return -1;
  return current + 1;
}

QString TvexUndoRedo::CurrentDescription() const {
  const int current = CurrentIndex();
  return current < 0 ? QString() : FStates[static_cast<size_t>(current)].Description;
}

void TvexUndoRedo::SaveState(const QString& ADescription, std::unique_ptr<QObject> AStateObject) {
  if (FMode != mIdle) return;
  if (!AStateObject && FSuspendCount >= 1) return;
  TModeScope scope(FMode, mSaving);

  QString description = ADescription;
  QObject* state = AStateObject.release();
  QObject* const givenRaw = state;
  const QPointer<QObject> given(state);
  bool handled = state != nullptr;
  try {
    if (OnGetState) OnGetState(description, state, handled);
  } catch (...) {
    // What the handler created before failing stays its own; the object the
    // caller handed over is ours (unless the handler deleted it).
    if (given) DisposeObject(description, given.data());
    throw;
  }
  // A given object the handler replaced is ours to dispose of; one it
  // deleted but left in place is no state.
  if (given && given.data() != state) DisposeObject(description, given.data());
  if (state && state == givenRaw && !given) state = nullptr;
  if (!handled || !state) {
    if (state) DisposeObject(description, state);
    throw Exception(QString::fromLatin1(kNoValidState));
  }

  // The handler may have dropped entries (the memory limit), the current one
  // among them: the new entry then goes first.
  const size_t at = static_cast<size_t>(CurrentIndex() + 1);
  FStates.insert(FStates.begin() + static_cast<std::ptrdiff_t>(at), TvexStateEntry{description, state});
  FCurrent = state;
  // Whatever could have been redone is gone.
  while (FStates.size() > at + 1) DisposeEntry(StateCount() - 1);
  while (FMaxStates >= 0 && StateCount() > FMaxStates && StateCount() > 1) DisposeEntry(0);
  UpdateActions();
}

void TvexUndoRedo::Undo() {
  const int current = CurrentIndex();
  if (current > 0) RestoreIndex(current - 1);
}

void TvexUndoRedo::Redo() { RestoreIndex(RedoIndex()); }

void TvexUndoRedo::RestoreState(QObject* AStateObject) {
  const int index = IndexOf(AStateObject);
  if (index < 0) throw Exception(QString::fromLatin1(kCanNotUndo));
  RestoreIndex(index);
}

void TvexUndoRedo::RestoreIndex(int Index) {
  // A restore started while a snapshot is being written or read (a handler
  // that processes pending events) would corrupt both: it is ignored.
  if (Index < 0 || Index >= StateCount() || FMode != mIdle) return;
  TModeScope scope(FMode, mRestoring);

  QString description = FStates[static_cast<size_t>(Index)].Description;
  QObject* const entryObject = FStates[static_cast<size_t>(Index)].StateObject;
  QObject* state = entryObject;
  bool handled = false;
  if (OnRestoreState) OnRestoreState(description, state, handled);
  if (!handled) throw Exception(QString::fromLatin1(kNothingRestored));
  // The entry becomes current only if the handler left it in the history.
  if (IndexOf(entryObject) >= 0) FCurrent = entryObject;
  UpdateActions();
}

// Clearing and dropping change what can be undone, not the current state:
// the actions follow, OnStateChanged is not raised.
void TvexUndoRedo::Clear() {
  while (!FStates.empty()) DisposeEntry(0);
  UpdateUndoAction();
  UpdateRedoAction();
}

void TvexUndoRedo::DropOldest() {
  if (FStates.empty()) return;
  DisposeEntry(0);
  UpdateUndoAction();
  UpdateRedoAction();
}

qint64 TvexUndoRedo::StateStreamsSize() const {
  qint64 total = 0;
  for (const TvexStateEntry& entry : FStates)
    if (auto* stream = qobject_cast<QIODevice*>(entry.StateObject)) total += stream->size();
  return total;
}

void TvexUndoRedo::DropOldestOverLimit(qint64 ALimit, int AMinStates) {
  while (StateStreamsSize() > ALimit && StateCount() > AMinStates) DropOldest();
}

void TvexUndoRedo::Resume() {
  if (FSuspendCount > 0) --FSuspendCount;
  SaveState(QStringLiteral("Resume"));
}

void TvexUndoRedo::DisposeEntry(int Index) {
  const TvexStateEntry entry = FStates[static_cast<size_t>(Index)];
  // The entry leaves the history first, so that the history stays sound
  // whatever the disposal handler does.
  FStates.erase(FStates.begin() + Index);
  if (FCurrent == entry.StateObject) FCurrent = nullptr;
  DisposeObject(entry.Description, entry.StateObject);
}

void TvexUndoRedo::DisposeObject(QString ADescription, QObject* AStateObject) {
  bool handled = false;
  if (OnFreeState) OnFreeState(ADescription, AStateObject, handled);
  if (!handled) delete AStateObject;
}

void TvexUndoRedo::UpdateUndoAction() {
  if (!FUndoAction) return;
  FUndoAction->setEnabled(CanUndo());
  const QString hint = FCurrent ? QStringLiteral("Undo ") + CurrentDescription() : QStringLiteral("Undo");
  FUndoAction->setStatusTip(hint);
  FUndoAction->setToolTip(hint);
}

void TvexUndoRedo::UpdateRedoAction() {
  if (!FRedoAction) return;
  FRedoAction->setEnabled(CanRedo());
  const int redo = RedoIndex();
  const QString hint =
      redo >= 0 ? QStringLiteral("Redo ") + FStates[static_cast<size_t>(redo)].Description : QStringLiteral("Redo");
  FRedoAction->setStatusTip(hint);
  FRedoAction->setToolTip(hint);
}

void TvexUndoRedo::UpdateActions() {
  UpdateUndoAction();
  UpdateRedoAction();
  if (FCurrent && OnStateChanged) OnStateChanged(CurrentDescription(), FCurrent);
}
