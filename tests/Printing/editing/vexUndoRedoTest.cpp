// Undo and redo by snapshots. The state the component saves and restores is
// the tests' own: a small model of one number and a name. Its snapshots are
// either TSnapshot objects holding the values or, where the size of the
// snapshots matters, QBuffer streams of the model written as bytes (the way
// the program's snapshots are streams).

#include "Printing/editing/vexUndoRedo.h"

#include "TestSupport.h"

#include <QAction>
#include <QBuffer>
#include <QDataStream>

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// The application state the tests undo and redo.
struct TModel {
  int Value = 0;
  QString Name;
};

// A snapshot of the model; counts the live ones so tests can see what the
// component disposes of.
class TSnapshot : public QObject {
  Q_OBJECT
public:
  explicit TSnapshot(const TModel& M) : Value(M.Value), Name(M.Name) { ++Alive; }
  ~TSnapshot() override { --Alive; }
  int Value;
  QString Name;
  static int Alive;
};
int TSnapshot::Alive = 0;

class UndoRedoTest : public ::testing::Test {
protected:
  void SetUp() override {
    TSnapshot::Alive = 0;
    TestDialogs().Clear();
    Undo->OnGetState = [this](QString& ADescription, QObject*& AStateObject, bool& Handled) {
      ++GetCalls;
      Q_UNUSED(ADescription);
      AStateObject = new TSnapshot(Model);
      Handled = true;
    };
    Undo->OnRestoreState = [this](QString& ADescription, QObject*& AStateObject, bool& Handled) {
      Restored.append(ADescription);
      auto* s = qobject_cast<TSnapshot*>(AStateObject);
      ASSERT_NE(s, nullptr);
      Model.Value = s->Value;
      Model.Name = s->Name;
      Handled = true;
    };
    Undo->SetUndoAction(&UndoAct);
    Undo->SetRedoAction(&RedoAct);
  }
  void TearDown() override {
    Undo.reset();
    EXPECT_EQ(TSnapshot::Alive, 0);  // every snapshot was disposed of
  }

  // A change of the model reported the way the document reports one.
  void Change(int Value, const QString& Description) {
    Model.Value = Value;
    Model.Name = Description;
    Undo->SaveState(Description);
  }
  QStringList Descriptions() const {
    QStringList list;
    for (int i = 0; i < Undo->StateCount(); ++i) list.append(Undo->States(i).Description);
    return list;
  }

  TModel Model;
  int GetCalls = 0;
  QStringList Restored;
  QAction UndoAct{QStringLiteral("&Undo")};
  QAction RedoAct{QStringLiteral("&Redo")};
  std::unique_ptr<TvexUndoRedo> Undo = std::make_unique<TvexUndoRedo>();
};

TEST_F(UndoRedoTest, ThreeChangesAndTwoUndosLeaveTheFirstCurrentAndANewChangeDropsTheRest) {
  Change(1, "A");
  Change(2, "B");
  Change(3, "C");
  EXPECT_EQ(UndoAct.statusTip(), "Undo C");
  EXPECT_EQ(RedoAct.statusTip(), "Redo");
  EXPECT_TRUE(UndoAct.isEnabled());
  EXPECT_FALSE(RedoAct.isEnabled());

  Undo->Undo();
  Undo->Undo();
  EXPECT_EQ(Restored, (QStringList{"B", "A"}));
  EXPECT_EQ(Model.Value, 1);
  EXPECT_EQ(Undo->CurrentDescription(), "A");
  EXPECT_EQ(Undo->CurrentIndex(), 0);
  EXPECT_EQ(UndoAct.statusTip(), "Undo A");
  EXPECT_EQ(UndoAct.toolTip(), "Undo A");
  EXPECT_EQ(RedoAct.statusTip(), "Redo B");
  EXPECT_EQ(RedoAct.toolTip(), "Redo B");
  EXPECT_FALSE(UndoAct.isEnabled());
  EXPECT_TRUE(RedoAct.isEnabled());
  EXPECT_EQ(UndoAct.text(), "&Undo");  // the caption is left alone

  Undo->Redo();
  EXPECT_EQ(Model.Value, 2);
  EXPECT_EQ(RedoAct.statusTip(), "Redo C");
  Undo->Undo();

  Change(4, "D");
  EXPECT_EQ(Descriptions(), (QStringList{"A", "D"}));
  EXPECT_EQ(TSnapshot::Alive, 2);  // B and C were disposed of
  EXPECT_EQ(UndoAct.statusTip(), "Undo D");
  EXPECT_EQ(RedoAct.statusTip(), "Redo");
  EXPECT_FALSE(Undo->CanRedo());
  Undo->Undo();
  EXPECT_EQ(Model.Value, 1);
}

TEST_F(UndoRedoTest, TheFirstSnapshotCannotBeUndone) {
  EXPECT_EQ(Undo->CurrentState(), nullptr);
  EXPECT_EQ(Undo->CurrentIndex(), -1);
  EXPECT_EQ(Undo->CurrentDescription(), "");
  EXPECT_FALSE(UndoAct.isEnabled());  // brought up to date when assigned
  EXPECT_EQ(UndoAct.statusTip(), "Undo");
  Undo->Undo();
  Undo->Redo();
  EXPECT_TRUE(Restored.isEmpty());

  Undo->Clear();
  Change(1, "Loaded");
  EXPECT_FALSE(Undo->CanUndo());
  EXPECT_FALSE(UndoAct.isEnabled());
  EXPECT_EQ(UndoAct.statusTip(), "Undo Loaded");
  UndoAct.trigger();
  Undo->Undo();
  EXPECT_TRUE(Restored.isEmpty());
  EXPECT_EQ(Model.Value, 1);

  Change(2, "Rotate");
  EXPECT_TRUE(UndoAct.isEnabled());
  UndoAct.trigger();
  EXPECT_EQ(Model.Value, 1);
  RedoAct.trigger();
  EXPECT_EQ(Model.Value, 2);
}

TEST_F(UndoRedoTest, MaxStatesDropsTheOldestButNeverTheLastEntry) {
  struct TCase {
    int MaxStates;
    int Saves;
    QStringList Kept;
  };
  const TCase cases[] = {
      {5, 5, {"S1", "S2", "S3", "S4", "S5"}},
      {5, 6, {"S2", "S3", "S4", "S5", "S6"}},
      {5, 8, {"S4", "S5", "S6", "S7", "S8"}},
      {1, 3, {"S3"}},
      {0, 3, {"S3"}},
      {-1, 8, {"S1", "S2", "S3", "S4", "S5", "S6", "S7", "S8"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "MaxStates " << c.MaxStates << ", saves " << c.Saves);
    Undo->Clear();
    Undo->SetMaxStates(c.MaxStates);
    for (int i = 1; i <= c.Saves; ++i) Change(i, QStringLiteral("S%1").arg(i));
    EXPECT_EQ(Descriptions(), c.Kept);
    EXPECT_EQ(TSnapshot::Alive, c.Kept.size());
    EXPECT_EQ(Undo->CurrentDescription(), QStringLiteral("S%1").arg(c.Saves));
    EXPECT_EQ(Undo->CanUndo(), c.Kept.size() > 1);
  }
}

TEST_F(UndoRedoTest, LoweringMaxStatesKeepsTheCurrentEntry) {
  for (int i = 1; i <= 6; ++i) Change(i, QStringLiteral("S%1").arg(i));
  Undo->Undo();
  Undo->Undo();
  Undo->Undo();  // S3 is current
  Undo->SetMaxStates(2);
  EXPECT_EQ(Undo->StateCount(), 6);  // nothing goes before the next snapshot
  EXPECT_EQ(Undo->CurrentDescription(), "S3");
  Undo->Redo();
  EXPECT_EQ(Model.Value, 4);
  Change(7, "S7");
  EXPECT_EQ(Descriptions(), (QStringList{"S4", "S7"}));
  Undo->Undo();
  EXPECT_EQ(Model.Value, 4);
}

TEST_F(UndoRedoTest, ChangesWhileSuspendedBecomeOneResumeSnapshot) {
  Change(1, "Loaded");
  Undo->Suspend();
  Undo->Suspend();  // a suspension inside another
  Change(2, "Add File(s)");
  Change(3, "Rotate");
  EXPECT_EQ(GetCalls, 1);
  Undo->Resume();  // another suspension is left: nothing recorded
  EXPECT_EQ(Undo->SuspendCount(), 1);
  Change(4, "Rotate");
  EXPECT_EQ(GetCalls, 1);
  Undo->Resume();
  EXPECT_EQ(Undo->SuspendCount(), 0);
  EXPECT_EQ(Descriptions(), (QStringList{"Loaded", "Resume"}));
  EXPECT_EQ(UndoAct.statusTip(), "Undo Resume");
  Undo->Undo();
  EXPECT_EQ(Model.Value, 1);
  Undo->Redo();
  EXPECT_EQ(Model.Value, 4);  // the snapshot covers every suspended change

  // A Resume without a suspension still records a snapshot.
  Undo->Resume();
  EXPECT_EQ(Undo->SuspendCount(), 0);
  EXPECT_EQ(Undo->StateCount(), 3);
}

TEST_F(UndoRedoTest, AGivenStateIsRecordedWhileSuspended) {
  Undo->Suspend();
  Undo->OnGetState = nullptr;
  Model.Value = 7;
  Undo->SaveState("Given", std::make_unique<TSnapshot>(Model));
  Undo->SaveState("Not given");
  EXPECT_EQ(Descriptions(), (QStringList{"Given"}));
  EXPECT_EQ(qobject_cast<TSnapshot*>(Undo->CurrentState())->Value, 7);
}

TEST_F(UndoRedoTest, CancellingAWizardRestoresTheRememberedStateAndKeepsTheLaterOnes) {
  Change(1, "Loaded");
  Change(2, "Rotate");
  const QPointer<QObject> remembered = Undo->CurrentState();
  Undo->Suspend();
  Change(0, "Clear");
  Change(5, "Add File(s)");
  Undo->Resume();
  Change(0, "New Document");  // the cancelled wizard empties the document
  Undo->RestoreState(remembered);
  EXPECT_EQ(Model.Value, 2);
  EXPECT_EQ(Model.Name, "Rotate");
  EXPECT_EQ(Descriptions(), (QStringList{"Loaded", "Rotate", "Resume", "New Document"}));
  EXPECT_EQ(Undo->CurrentState(), remembered.data());
  EXPECT_EQ(RedoAct.statusTip(), "Redo Resume");
  Undo->Redo();
  EXPECT_EQ(Model.Value, 5);
  Undo->Redo();
  EXPECT_EQ(Model.Value, 0);
}

TEST_F(UndoRedoTest, RestoringAStateNotInTheHistoryFails) {
  Change(1, "A");
  Change(2, "B");
  TSnapshot stranger(Model);
  for (QObject* object : {static_cast<QObject*>(&stranger), static_cast<QObject*>(nullptr)}) {
    try {
      Undo->RestoreState(object);
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Can not undo.");
    }
  }
  EXPECT_TRUE(Restored.isEmpty());
  EXPECT_EQ(Undo->CurrentDescription(), "B");

  // A kept state that the history has dropped since reads as none.
  Undo->SetMaxStates(2);
  Undo->Undo();
  const QPointer<QObject> kept = Undo->CurrentState();
  Change(3, "C");
  Change(4, "D");
  EXPECT_TRUE(kept.isNull());
  EXPECT_THROW(Undo->RestoreState(kept), Exception);
}

TEST_F(UndoRedoTest, AMissingSnapshotFailsAndLeavesNothingBehind) {
  struct TCase {
    const char* Name;
    TvexOnStateHandle Handler;
  };
  const TCase cases[] = {
      {"no handler", nullptr},
      {"no object", [](QString&, QObject*&, bool& Handled) { Handled = true; }},
      {"not handled", [this](QString&, QObject*& O, bool&) { O = new TSnapshot(Model); }},
      {"handled, object taken back",
       [](QString&, QObject*& O, bool& Handled) {
         Handled = true;
         O = nullptr;
       }},
  };
  Change(1, "A");
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Undo->OnGetState = c.Handler;
    try {
      Undo->SaveState("B");
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Do not have valid state.  Check OnGetState event");
    }
    EXPECT_EQ(Descriptions(), (QStringList{"A"}));
    EXPECT_EQ(TSnapshot::Alive, 1);  // an object handed over without Handled is disposed of
  }
  // The mode is idle again: a valid snapshot is recorded.
  Undo->OnGetState = [this](QString&, QObject*& O, bool& Handled) {
    O = new TSnapshot(Model);
    Handled = true;
  };
  Change(2, "B");
  EXPECT_EQ(Descriptions(), (QStringList{"A", "B"}));
}

TEST_F(UndoRedoTest, AGivenObjectTheHandlerReplacesIsDisposedOf) {
  Model.Value = 3;
  Undo->SaveState("A", std::make_unique<TSnapshot>(TModel{9, "given"}));
  ASSERT_EQ(Undo->StateCount(), 1);
  EXPECT_EQ(qobject_cast<TSnapshot*>(Undo->CurrentState())->Value, 3);
  EXPECT_EQ(TSnapshot::Alive, 1);
}

TEST_F(UndoRedoTest, AFailingSnapshotPassesItsErrorAndFreesTheGivenObject) {
  Change(1, "A");
  Undo->OnGetState = [](QString&, QObject*&, bool&) { throw Exception("Disk full"); };
  try {
    Undo->SaveState("B", std::make_unique<TSnapshot>(Model));
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Disk full");
  }
  EXPECT_EQ(TSnapshot::Alive, 1);
  // A handler that deletes the given object and then fails is not freed twice.
  Undo->OnGetState = [](QString&, QObject*& O, bool&) {
    delete O;
    throw std::runtime_error("write error");
  };
  EXPECT_THROW(Undo->SaveState("B", std::make_unique<TSnapshot>(Model)), std::runtime_error);
  // Nor one that deletes it and leaves it in place.
  Undo->OnGetState = [](QString&, QObject*& O, bool& Handled) {
    delete O;
    Handled = true;
  };
  EXPECT_THROW(Undo->SaveState("B", std::make_unique<TSnapshot>(Model)), Exception);
  EXPECT_EQ(TSnapshot::Alive, 1);
  EXPECT_EQ(Descriptions(), (QStringList{"A"}));
  Undo->OnGetState = nullptr;
  Undo->SaveState("C", std::make_unique<TSnapshot>(Model));  // idle again
  EXPECT_EQ(Descriptions(), (QStringList{"A", "C"}));
}

TEST_F(UndoRedoTest, AnUnhandledRestoreFailsAndKeepsTheCurrentEntry) {
  Change(1, "A");
  Change(2, "B");
  for (const TvexOnStateHandle& handler : {TvexOnStateHandle(), TvexOnStateHandle([](QString&, QObject*&, bool&) {})}) {
    Undo->OnRestoreState = handler;
    try {
      Undo->Undo();
      ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), "Nothing happened in OnRestoreState event handler");
    }
    EXPECT_EQ(Undo->CurrentDescription(), "B");
    EXPECT_TRUE(UndoAct.isEnabled());
  }
  // A handler that fails passes its error and leaves the mode idle.
  Undo->OnRestoreState = [](QString&, QObject*&, bool&) { throw Exception("Bad stream"); };
  EXPECT_THROW(Undo->Undo(), Exception);
  EXPECT_EQ(Undo->CurrentDescription(), "B");
  Change(3, "C");
  EXPECT_EQ(Descriptions(), (QStringList{"A", "B", "C"}));
}

TEST_F(UndoRedoTest, ExecutingAnActionShowsAFailureInsteadOfThrowing) {
  Change(1, "A");
  Change(2, "B");
  Undo->OnRestoreState = [](QString&, QObject*&, bool&) {};
  UndoAct.trigger();
  EXPECT_EQ(TestDialogs().Texts(), (QStringList{"Nothing happened in OnRestoreState event handler"}));
}

TEST_F(UndoRedoTest, NothingIsRecordedOrRestoredWhileASnapshotIsTakenOrApplied) {
  Change(1, "A");
  Change(2, "B");
  // The document reports a change while a snapshot is read back.
  auto restore = Undo->OnRestoreState;
  Undo->OnRestoreState = [&](QString& D, QObject*& O, bool& H) {
    restore(D, O, H);
    Undo->SaveState("Loaded");
    Undo->Redo();
  };
  Undo->Undo();
  EXPECT_EQ(Descriptions(), (QStringList{"A", "B"}));
  EXPECT_EQ(Undo->CurrentDescription(), "A");
  EXPECT_EQ(Restored, (QStringList{"A"}));

  // And while one is written: neither a nested snapshot nor a restore.
  Undo->OnRestoreState = restore;
  auto get = Undo->OnGetState;
  Undo->OnGetState = [&](QString& D, QObject*& O, bool& H) {
    Undo->SaveState("Nested");
    Undo->Redo();
    get(D, O, H);
  };
  Change(3, "C");
  EXPECT_EQ(Descriptions(), (QStringList{"A", "C"}));
  EXPECT_EQ(Restored, (QStringList{"A"}));
}

TEST_F(UndoRedoTest, StateChangedReportsEveryMoveOutsideAnyRecording) {
  QStringList seen;
  Undo->OnStateChanged = [&](const QString& ADescription, QObject* AStateObject) {
    EXPECT_EQ(AStateObject, Undo->CurrentState());
    seen.append(ADescription);
    Undo->SaveState("From handler");  // records nothing
  };
  Change(1, "A");
  Change(2, "B");
  Undo->Undo();
  Undo->Redo();
  Undo->RestoreState(Undo->States(0).StateObject);
  EXPECT_EQ(seen, (QStringList{"A", "B", "A", "B", "A"}));
  EXPECT_EQ(Undo->StateCount(), 2);
  seen.clear();
  Undo->OnStateChanged = [&](const QString& ADescription, QObject*) { seen.append(ADescription); };
  Undo->Loaded();
  EXPECT_EQ(seen, (QStringList{"A"}));
  Change(3, "C");
  Change(4, "D");
  Undo->DropOldest();  // the current state stays: not reported
  EXPECT_EQ(seen, (QStringList{"A", "C", "D"}));
  EXPECT_TRUE(UndoAct.isEnabled());
  Undo->DropOldest();  // but undo has become impossible
  EXPECT_FALSE(UndoAct.isEnabled());
  Undo->Clear();
  EXPECT_EQ(seen.size(), 3);
  EXPECT_EQ(UndoAct.statusTip(), "Undo");
  EXPECT_FALSE(UndoAct.isEnabled());
}

TEST_F(UndoRedoTest, FreeStateMayTakeTheObjectsAndDisposalGoesOldestFirst) {
  std::vector<std::unique_ptr<QObject>> taken;
  QStringList freed;
  Undo->OnFreeState = [&](QString& ADescription, QObject*& AStateObject, bool& Handled) {
    freed.append(ADescription);
    if (ADescription.startsWith("Keep")) {
      taken.emplace_back(AStateObject);
      Handled = true;
    }
  };
  Change(1, "Keep 1");
  Change(2, "Drop 2");
  Change(3, "Keep 3");
  Change(4, "Drop 4");
  Undo->DropOldest();
  EXPECT_EQ(freed, (QStringList{"Keep 1"}));
  EXPECT_EQ(Undo->StateCount(), 3);
  Undo->Clear();
  EXPECT_EQ(freed, (QStringList{"Keep 1", "Drop 2", "Keep 3", "Drop 4"}));
  EXPECT_EQ(taken.size(), 2u);
  EXPECT_EQ(TSnapshot::Alive, 2);  // the taken ones live on
  Undo->DropOldest();              // on an empty history: nothing
  taken.clear();

  Change(5, "Drop 5");
  Change(6, "Keep 6");
  Undo.reset();  // destruction disposes of everything, oldest first
  EXPECT_EQ(freed.mid(4), (QStringList{"Drop 5", "Keep 6"}));
  EXPECT_EQ(TSnapshot::Alive, 1);
  taken.clear();
}

TEST_F(UndoRedoTest, AFailingFreeStateLeavesASoundHistory) {
  Change(1, "A");
  Change(2, "B");
  Change(3, "C");
  Undo->OnFreeState = [](QString& D, QObject*& O, bool& Handled) {
    delete O;
    Handled = true;
    if (D == "B") throw Exception("busy");
  };
  EXPECT_THROW(Undo->Clear(), Exception);
  EXPECT_EQ(Descriptions(), (QStringList{"C"}));
  EXPECT_EQ(Undo->CurrentDescription(), "C");
  Change(4, "B");
  Change(5, "E");
  Undo.reset();  // the failure inside the destruction stays inside
  EXPECT_EQ(TSnapshot::Alive, 0);
}

TEST_F(UndoRedoTest, ActionsAreForgottenWhenDestroyedAndReplaced) {
  auto other = std::make_unique<QAction>("Undo 2");
  Change(1, "A");
  Change(2, "B");
  Undo->SetUndoAction(other.get());
  EXPECT_EQ(other->statusTip(), "Undo B");
  EXPECT_TRUE(other->isEnabled());
  UndoAct.trigger();  // the old action no longer undoes
  EXPECT_EQ(Model.Value, 2);
  other->trigger();
  EXPECT_EQ(Model.Value, 1);
  other.reset();
  EXPECT_EQ(Undo->UndoAction(), nullptr);
  Undo->Redo();  // updating the forgotten action does not touch it
  Change(3, "C");
  EXPECT_EQ(Undo->CurrentDescription(), "C");

  Undo->SetRedoAction(nullptr);
  Undo->Undo();
  RedoAct.trigger();
  EXPECT_EQ(Model.Value, 2);
}

TEST_F(UndoRedoTest, TheOwnerFreesTheComponentAndItsStates) {
  auto form = std::make_unique<QObject>();
  auto* owned = new TvexUndoRedo(form.get());
  owned->SetName("vexUndoRedo1");
  owned->OnGetState = Undo->OnGetState;
  owned->SaveState("A");
  owned->SaveState("B");
  EXPECT_EQ(FindComponent(form.get(), "vexUndoRedo1"), owned);
  EXPECT_EQ(TSnapshot::Alive, 2);
  form.reset();
  EXPECT_EQ(TSnapshot::Alive, 0);
}

// Snapshots as streams: the model written into a QBuffer, read back on
// restore, and the memory limit applied by the snapshot handler.
class StreamStateTest : public ::testing::Test {
protected:
  void SetUp() override {
    Undo.OnGetState = [this](QString&, QObject*& AStateObject, bool& Handled) {
      auto stream = std::make_unique<QBuffer>();
      stream->open(QIODevice::ReadWrite);
      QDataStream out(stream.get());
      out << Value << QByteArray(Padding, 'x');
      AStateObject = stream.release();
      Handled = true;
      Undo.DropOldestOverLimit(Limit);
    };
    Undo.OnRestoreState = [this](QString&, QObject*& AStateObject, bool& Handled) {
      auto* stream = qobject_cast<QIODevice*>(AStateObject);
      ASSERT_NE(stream, nullptr);
      stream->seek(0);
      QDataStream in(stream);
      in >> Value;
      Handled = true;
    };
  }
  void Change(int AValue, int APadding) {
    Value = AValue;
    Padding = APadding;
    Undo.SaveState(QStringLiteral("V%1").arg(AValue));
  }

  int Value = 0;
  int Padding = 0;
  qint64 Limit = TvexUndoRedo::MaxStateBytes;
  TvexUndoRedo Undo;
};

TEST_F(StreamStateTest, TheLimitIsOneThousandMillionBytesAndThreeStates) {
  EXPECT_EQ(TvexUndoRedo::MaxStateBytes, 1000000000);
  EXPECT_EQ(TvexUndoRedo::MinStatesOverLimit, 3);
}

TEST_F(StreamStateTest, SnapshotsOverTheMemoryLimitDropTheOldestKeepingAtLeastThree) {
  struct TCase {
    const char* Name;
    int Padding;  // bytes of each snapshot beyond its header
    int Saves;
    int Kept;
  };
  Limit = 10000;
  const TCase cases[] = {
      {"within the limit", 100, 20, 20},
      {"over after a few", 2992, 8, 4},  // 3000-byte streams: three fit, the fourth goes over
      {"each one over the limit", 20000, 6, 4},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Undo.Clear();
    for (int i = 1; i <= c.Saves; ++i) Change(i, c.Padding);
    EXPECT_EQ(Undo.StateCount(), c.Kept);
    EXPECT_EQ(Undo.CurrentDescription(), QStringLiteral("V%1").arg(c.Saves));
    EXPECT_EQ(Undo.States(0).Description, QStringLiteral("V%1").arg(c.Saves - c.Kept + 1));
    // Without the newest, the streams are within the limit or only three.
    const auto* newest = qobject_cast<QIODevice*>(Undo.CurrentState());
    EXPECT_TRUE(Undo.StateStreamsSize() - newest->size() <= Limit || Undo.StateCount() - 1 == 3);
  }
  Undo.Undo();
  Undo.Undo();
  Undo.Undo();
  EXPECT_EQ(Value, 3);
}

TEST_F(StreamStateTest, TheSizeCountsOnlyStreams) {
  Change(1, 92);  // 100 bytes
  Change(2, 192);
  EXPECT_EQ(Undo.StateStreamsSize(), 300);
  Undo.OnGetState = nullptr;
  Undo.SaveState("Not a stream", std::make_unique<QObject>());
  EXPECT_EQ(Undo.StateStreamsSize(), 300);
  Undo.DropOldestOverLimit(0, 1);
  EXPECT_EQ(Undo.StateCount(), 1);
  EXPECT_EQ(Undo.StateStreamsSize(), 0);
}

TEST_F(StreamStateTest, TheLimitMayDropTheCurrentEntryWhenEverythingElseIsRedo) {
  Limit = 10000;
  for (int i = 1; i <= 4; ++i) Change(i, 2992);
  Undo.Undo();
  Undo.Undo();
  Undo.Undo();  // the oldest entry is current, three could be redone
  EXPECT_EQ(Undo.CurrentIndex(), 0);
  Change(9, 2992);  // its handler drops the current entry before it is recorded
  EXPECT_EQ(Undo.StateCount(), 1);
  EXPECT_EQ(Undo.CurrentDescription(), "V9");
  EXPECT_FALSE(Undo.CanUndo());
  EXPECT_FALSE(Undo.CanRedo());
}

TEST_F(StreamStateTest, StreamSnapshotsUndoAndRedoTheirValues) {
  for (int i = 1; i <= 5; ++i) Change(i * 10, 0);
  for (int expected : {40, 30, 20, 10}) {
    Undo.Undo();
    EXPECT_EQ(Value, expected);
  }
  for (int expected : {20, 30, 40, 50}) {
    Undo.Redo();
    EXPECT_EQ(Value, expected);
  }
}

}  // namespace

#include "vexUndoRedoTest.moc"
