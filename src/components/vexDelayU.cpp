#include "components/vexDelayU.h"

#include "components/vexGuardU.h"
#include "platform/Application.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

// Requests made from inside handlers run what is due nested inside the
// running handler; beyond this depth the timer's next tick does it instead,
// so that a handler queuing itself with delay 0 cannot recurse without end.
constexpr int kMaxNesting = 32;

}  // namespace

// ---------------------------------------------------------------------------
// TDelayedCall and its kinds

TDelayedCall::TDelayedCall(TvexSharedTimer* AOwner, int ADelay, TDelayOptions AOptions, const QString& AIdentifier)
    : FOwner(AOwner), FDelay(ADelay), FOptions(AOptions), FIdentifier(AIdentifier) {
  if (!FOwner) throw Exception(QStringLiteral("TDelayedCall must have an owner"));
  FDueTime = FOwner->Now() + ADelay;
  if (AOptions.testFlag(doReplaceQueued) && AOptions.testFlag(doNotIfQueued))
    throw EBadOptions(QStringLiteral("Can't have both doReplaceQueued doNotIfQueued in Options."));
  if ((AOptions.testFlag(doReplaceQueued) || AOptions.testFlag(doNotIfQueued)) && AIdentifier.isEmpty())
    throw EBadIdentifier(
        QStringLiteral("If doReplaceQueued or doNotIfQueued are in Options then Identifier must not be ''."));
}

TDelayedCall::~TDelayedCall() {
  if (FOwner) FOwner->Forget(this);
}

void TDelayedCall::Execute() {}

TDelayedNotifyEvent::TDelayedNotifyEvent(TvexSharedTimer* AOwner, int ADelay, TDelayOptions AOptions,
                                         const QString& AIdentifier, QObject* ASender, TNotifyEvent AEvent)
    : TDelayedCall(AOwner, ADelay, AOptions, AIdentifier),
      FSender(ASender),
      FHadSender(ASender != nullptr),
      FEvent(std::move(AEvent)) {}

void TDelayedNotifyEvent::Execute() {
  if (!FEvent) return;
  if (FHadSender && !FSender) return;  // the sender is gone
  FEvent(FSender.data());
}

TDelayedParamEvent::TDelayedParamEvent(TvexSharedTimer* AOwner, int ADelay, TDelayOptions AOptions,
                                       const QString& AIdentifier, int AInteger, const QVariant& AValue1,
                                       const QVariant& AValue2, const QVariant& AValue3, TDelayedParamHandler AEvent)
    : TDelayedCall(AOwner, ADelay, AOptions, AIdentifier),
      FInteger(AInteger),
      FValue1(AValue1),
      FValue2(AValue2),
      FValue3(AValue3),
      FEvent(std::move(AEvent)) {}

void TDelayedParamEvent::Execute() {
  if (FEvent) FEvent(FInteger, FValue1, FValue2, FValue3);
}

// ---------------------------------------------------------------------------
// TDelayList

TDelayList::~TDelayList() { Clear(); }

void TDelayList::Add(TDelayedCall* ACall) { FItems.push_back(ACall); }

TDelayedCall* TDelayList::Extract(int Index) {
  TDelayedCall* c = FItems[static_cast<size_t>(Index)];
  FItems.erase(FItems.begin() + Index);
  return c;
}

int TDelayList::IndexOf(const TDelayedCall* ACall) const {
  const auto it = std::find(FItems.begin(), FItems.end(), ACall);
  return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TDelayList::Sort() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [](const TDelayedCall* a, const TDelayedCall* b) { return a->DueTime() < b->DueTime(); });
}

void TDelayList::Clear() {
  std::vector<TDelayedCall*> items;
  items.swap(FItems);
  for (TDelayedCall* c : items) delete c;
}

// ---------------------------------------------------------------------------
// TSharedClock

quint32 TSharedClock::PlatformTick() {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<quint32>(static_cast<quint64>(ms.count()) & 0xFFFFFFFFu);
}

void TSharedClock::SetTickSource(TTickSource ASource) {
  FSource = std::move(ASource);
  FLastTick = 0;
  FWraps = 0;
}

qint64 TSharedClock::Now() {
  const quint32 raw = FSource ? FSource() : PlatformTick();
  if (raw < FLastTick) ++FWraps;
  FLastTick = raw;
  return (FWraps << 32) + static_cast<qint64>(raw);
}

// ---------------------------------------------------------------------------
// TvexSharedTimer

TvexSharedTimer::TvexSharedTimer(QObject* AParent) : QObject(AParent) {}

TvexSharedTimer::~TvexSharedTimer() {
  if (FTimer) FTimer->stop();
  TDelayList* list = FList;
  FList = nullptr;
  delete list;
}

void TvexSharedTimer::Forget(TDelayedCall* ACall) {
  if (!FList) return;
  const int i = FList->IndexOf(ACall);
  if (i >= 0) FList->Extract(i);
}

const TDelayList& TvexSharedTimer::List() {
  if (!FList) FList = new TDelayList;
  return *FList;
}

QTimer* TvexSharedTimer::Timer() {
  if (!FTimer) {
    FTimer = new QTimer(this);
    FTimer->setSingleShot(false);
    FTimer->stop();
    connect(FTimer, &QTimer::timeout, this, &TvexSharedTimer::Tick);
  }
  return FTimer;
}

TDelayedCallRef TvexSharedTimer::DelayedNotify(int ADelay, QObject* ASender, TNotifyEvent AEvent) {
  return DelayedNotifyEx(ADelay, ASender, TDelayOptions(), QString(), std::move(AEvent));
}

TDelayedCallRef TvexSharedTimer::DelayedNotifyEx(int ADelay, QObject* ASender, TDelayOptions AOptions,
                                                 const QString& AIdentifier, TNotifyEvent AEvent) {
  return Queue(new TDelayedNotifyEvent(this, ADelay, AOptions, AIdentifier, ASender, std::move(AEvent)));
}

TDelayedCallRef TvexSharedTimer::DelayedParam(int ADelay, const QVariant& AValue1, const QVariant& AValue2,
                                              const QString& AIdentifier, int AInteger, TDelayOptions AOptions,
                                              const QVariant& AValue3, TDelayedParamHandler AEvent) {
  return Queue(new TDelayedParamEvent(this, ADelay, AOptions, AIdentifier, AInteger, AValue1, AValue2, AValue3,
                                      std::move(AEvent)));
}

TDelayedCall* TvexSharedTimer::FindQueued(const QString& AIdentifier) const {
  if (!FList || AIdentifier.isEmpty()) return nullptr;
  for (int i = 0; i < FList->Count(); ++i)
    if ((*FList)[i]->Identifier() == AIdentifier) return (*FList)[i];
  return nullptr;
}

void TvexSharedTimer::RemoveCall(int Index) {
  TDelayedCall* c = FList->Extract(Index);
  if (c->FExecuting)
    c->FFreeAfterExecute = true;  // freed when its Execute ends
  else
    delete c;
}

int TvexSharedTimer::Cancel(const QString& AIdentifier) {
  int removed = 0;
  if (!FList || AIdentifier.isEmpty()) return 0;
  for (int i = FList->Count() - 1; i >= 0; --i) {
    if ((*FList)[i]->Identifier() == AIdentifier) {
      RemoveCall(i);
      ++removed;
    }
  }
  return removed;
}

TDelayedCallRef TvexSharedTimer::Queue(TDelayedCall* ACall) {
  IvexGuard owned = Guard(ACall);  // frees the call unless it is queued
  if (!ACall) return nullptr;
  if (ACall->Owner() != this) throw Exception(QStringLiteral("TDelayedCall must have an owner"));
  List();
  if (ACall->Options().testFlag(doReplaceQueued)) {
    Lock();
    Cancel(ACall->Identifier());
    Unlock();  // runs what became due meanwhile
  } else if (ACall->Options().testFlag(doNotIfQueued)) {
    if (TDelayedCall* waiting = FindQueued(ACall->Identifier())) return waiting;
  }
  const TDelayedCallRef answer(ACall);
  owned->Release();
  ACall->FSerial = FNextSerial++;
  FList->Add(ACall);
  FList->Sort();
  Reschedule();
  return answer;
}

void TvexSharedTimer::Reschedule() {
  Timer()->stop();
  RunDue();
  qint64 interval = kOneDay;
  if (FList && !FList->IsEmpty()) {
    interval = FList->First()->DueTime() - Now();
    if (interval <= 0) interval = kOverdueInterval;
  }
  if (interval > kOneDay) interval = kOneDay;
  FTimer->setInterval(static_cast<int>(interval));
  FTimer->start();
}

void TvexSharedTimer::RunDue() {
  if (!FEnabled || FNesting >= kMaxNesting) {
    FRunPending = true;
    return;
  }
  // One reading of the clock per run, and only calls queued before the run
  // started: a repeating call fires at most once per run, however short its
  // delay, and a handler that queues itself again with delay 0 is left to
  // the next tick once the nesting is too deep.
  const qint64 now = Now();
  const quint64 last = FNextSerial;
  while (FList && !FList->IsEmpty() && FList->First()->DueTime() <= now && FList->First()->FSerial < last && FEnabled)
    FireFirst();
}

void TvexSharedTimer::FireFirst() {
  FRunPending = false;
  TDelayedCall* c = FList->First();
  struct TNest {
    int& N;
    explicit TNest(int& n) : N(n) { ++N; }
    ~TNest() { --N; }
  };
  if (c->Options().testFlag(doRepeat)) {
    c->FDueTime = Now() + std::max(c->Delay(), 1);
    FList->Sort();
    c->FExecuting = true;
    {
      TNest nest(FNesting);
      CallGuarded([c] { c->Execute(); });
    }
    c->FExecuting = false;
    if (c->FFreeAfterExecute) delete c;
  } else {
    IvexGuard g = Guard(FList->Extract(0));  // freed after Execute however that ends
    TNest nest(FNesting);
    CallGuarded([c] { c->Execute(); });
  }
}

void TvexSharedTimer::Tick() {
  Timer()->stop();
  CallGuarded([this] { RunDue(); });
  Reschedule();
}

void TvexSharedTimer::Lock() { FEnabled = false; }

void TvexSharedTimer::Unlock() {
  FEnabled = true;
  if (FRunPending) RunDue();
}

// ---------------------------------------------------------------------------
// The single shared timer

namespace {

IvexGuard GSharedTimerGuard;
TvexSharedTimer* GSharedTimer = nullptr;

void FreeSharedTimer() {
  GSharedTimer = nullptr;
  GSharedTimerGuard.reset();
}

}  // namespace

TvexSharedTimer* SharedTimer() {
  if (!GSharedTimer) {
    GSharedTimer = new TvexSharedTimer;
    GSharedTimerGuard = Guard(GSharedTimer);
    // Its QTimer must go while the application's event dispatcher exists.
    if (QCoreApplication::instance()) qAddPostRoutine(FreeSharedTimer);
  }
  return GSharedTimer;
}

TDelayedCallRef DelayedNotify(int ADelay, QObject* ASender, TNotifyEvent AEvent) {
  return SharedTimer()->DelayedNotify(ADelay, ASender, std::move(AEvent));
}

TDelayedCallRef DelayedNotifyEx(int ADelay, QObject* ASender, TDelayOptions AOptions, const QString& AIdentifier,
                                TNotifyEvent AEvent) {
  return SharedTimer()->DelayedNotifyEx(ADelay, ASender, AOptions, AIdentifier, std::move(AEvent));
}

TDelayedCallRef DelayedParam(int ADelay, const QVariant& AValue1, const QVariant& AValue2, const QString& AIdentifier,
                             int AInteger, TDelayOptions AOptions, const QVariant& AValue3,
                             TDelayedParamHandler AEvent) {
  return SharedTimer()->DelayedParam(ADelay, AValue1, AValue2, AIdentifier, AInteger, AOptions, AValue3,
                                     std::move(AEvent));
}
