#pragma once

// Undo and redo by snapshots.
//
// TvexUndoRedo keeps a linear history of snapshots of some application state
// and moves back and forth in it. It knows nothing of what a snapshot holds:
// it asks its owner for one through OnGetState, hands one back through
// OnRestoreState and lets the owner dispose of one through OnFreeState (when
// that event does not handle it, the component deletes the object itself).
// It drives an Undo and a Redo action (enabled state, hint, execution) and
// reports every move through OnStateChanged.
//
// State objects are QObjects owned by the component from the moment they are
// handed over. A caller that keeps one to restore it later (CurrentState)
// should hold it in a QPointer: the history may have disposed of it since.

#include "platform/Component.h"
#include "platform/Exceptions.h"

#include <QAction>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// Supplies, applies or disposes of a snapshot. ADescription and
// AStateObject are in and out; the handler sets Handled when it did the work.
using TvexOnStateHandle = std::function<void(QString& ADescription, QObject*& AStateObject, bool& Handled)>;
// The current snapshot changed.
using TvexOnState = std::function<void(const QString& ADescription, QObject* AStateObject)>;

// One entry of the history.
struct TvexStateEntry {
  QString Description;
  QObject* StateObject = nullptr;  // owned by the component
};

class TvexUndoRedo : public QObject, public TComponent {
  Q_OBJECT
  Q_PROPERTY(QAction* RedoAction READ RedoAction WRITE SetRedoAction)
  Q_PROPERTY(QAction* UndoAction READ UndoAction WRITE SetUndoAction)
  Q_PROPERTY(int MaxStates READ MaxStates WRITE SetMaxStates)

public:
  // The memory the snapshot streams may take together before the oldest are
  // dropped, and how many snapshots are kept however large they are.
  static constexpr qint64 MaxStateBytes = 1000000000;
  static constexpr int MinStatesOverLimit = 3;

  explicit TvexUndoRedo(QObject* AOwner = nullptr);
  // Disposes of every entry, oldest first.
  ~TvexUndoRedo() override;

  // The actions driven: enabled when the move is possible, hint (status tip
  // and tool tip) "Undo <description>" / "Redo <description>", and executing
  // them undoes or redoes (an error is shown, never passed to Qt). A
  // destroyed action is forgotten. Assigning one brings it up to date.
  QAction* RedoAction() const { return FRedoAction; }
  void SetRedoAction(QAction* Value);
  QAction* UndoAction() const { return FUndoAction; }
  void SetUndoAction(QAction* Value);

  // Largest number of snapshots kept; negative means no limit. Applied at the
  // next SaveState, when the new snapshot is the newest entry, so lowering it
  // never disposes of the current entry.
  int MaxStates() const { return FMaxStates; }
  void SetMaxStates(int Value) { FMaxStates = Value; }

  TvexOnStateHandle OnGetState;
  TvexOnStateHandle OnRestoreState;
  TvexOnStateHandle OnFreeState;
  TvexOnState OnStateChanged;

  // Records a new snapshot right after the current one and discards what
  // could have been redone. Nothing happens while a snapshot is taken or
  // applied, nor while suspended unless AStateObject is given. The component
  // owns AStateObject in every case: OnGetState may supply the object or
  // replace the given one, which is then disposed of (unless the handler
  // deleted it). Fails with "Do not have valid state.  Check OnGetState
  // event" when no object results or the handler did not set Handled (an
  // object it handed over is then disposed of). An error of OnGetState
  // passes on; the given object is then disposed of, what the handler made
  // before failing stays the handler's.
  void SaveState(const QString& ADescription, std::unique_ptr<QObject> AStateObject = nullptr);

  // Restores the entry before / after the current one; nothing when there is
  // none, or while a snapshot is taken or applied. Fails with "Nothing
  // happened in OnRestoreState event handler" when the handler did not set
  // Handled; the current entry then stays.
  void Undo();
  void Redo();
  // Restores the entry holding AStateObject, leaving every entry in place
  // (those after it can be redone). Fails with "Can not undo." when the
  // object is not in the history.
  void RestoreState(QObject* AStateObject);

  QObject* CurrentState() const { return FCurrent; }
  QString CurrentDescription() const;
  // Position of the current entry, -1 when there is none.
  int CurrentIndex() const;
  // Position of the entry a redo restores, -1 when there is none.
  int RedoIndex() const;
  bool CanUndo() const { return CurrentIndex() > 0; }
  bool CanRedo() const { return RedoIndex() != -1; }

  // Dispose of every entry, oldest first / of the oldest entry, if any.
  void Clear();
  void DropOldest();

  int StateCount() const { return static_cast<int>(FStates.size()); }
  const TvexStateEntry& States(int Index) const { return FStates.at(static_cast<size_t>(Index)); }

  // The bytes held by the state objects that are streams (QIODevice); other
  // objects count as 0.
  qint64 StateStreamsSize() const;
  // While the state streams add up to more than ALimit bytes and more than
  // AMinStates entries are held, drops the oldest. Called by the OnGetState
  // handler once it has made its snapshot.
  void DropOldestOverLimit(qint64 ALimit = MaxStateBytes, int AMinStates = MinStatesOverLimit);

  // Suspend adds 1 to the suspend count; Resume subtracts 1 when it is
  // positive and then records a snapshot "Resume" (which happens only when no
  // other suspension is left).
  void Suspend() { ++FSuspendCount; }
  void Resume();
  int SuspendCount() const { return FSuspendCount; }

  // Brings the actions up to date (and reports the current state); called
  // once the owner has set the component up.
  void Loaded() { UpdateActions(); }

private:
  enum TMode { mIdle, mSaving, mRestoring };
  class TModeScope;

  void RestoreIndex(int Index);
  void DisposeEntry(int Index);
  void DisposeObject(QString ADescription, QObject* AStateObject);
  void UpdateActions();
  void UpdateUndoAction();
  void UpdateRedoAction();
  int IndexOf(const QObject* AStateObject) const;

  std::vector<TvexStateEntry> FStates;
  QObject* FCurrent = nullptr;
  TMode FMode = mIdle;
  int FSuspendCount = 0;
  int FMaxStates = -1;
  QPointer<QAction> FUndoAction;
  QPointer<QAction> FRedoAction;
  QMetaObject::Connection FUndoConnection;
  QMetaObject::Connection FRedoConnection;
};
