#pragma once

// Delayed calls on one shared timer.
//
// Any part of the program can ask for a handler to be called once, a given
// number of milliseconds later, on the GUI thread. All requests share one
// scheduler, TvexSharedTimer, which keeps the pending calls sorted by due
// time and programs a single QTimer for the earliest one. A request may carry
// an identifier, so that a newer request replaces an older one
// (doReplaceQueued) or is dropped while one is waiting (doNotIfQueued).
//
// The answer of a request is a guarded pointer (TDelayedCallRef): it reads as
// nullptr once the call has run and been freed (a call with delay 0 runs
// before the request returns), so it can be held safely.
//
// A handler that throws never lets the exception reach Qt: the scheduler
// catches it, frees the call, goes on and shows the message the way the
// application shows any unhandled error (EAbort is silent).

#include "platform/Exceptions.h"

#include <QFlags>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>

#include <functional>
#include <vector>

class QTimer;
class TvexSharedTimer;

using TNotifyEvent = std::function<void(QObject* Sender)>;

// A handler taking an integer and three variant values (TDelayedParamEvent).
using TDelayedParamHandler =
    std::function<void(int AInteger, const QVariant& AValue1, const QVariant& AValue2, const QVariant& AValue3)>;

// Options of a call.
enum TDelayOption {
  doRepeat = 1,         // after running, scheduled again with the same delay instead of being freed
  doReplaceQueued = 2,  // before queuing, remove every waiting call with the same identifier
  doNotIfQueued = 4,    // with a call of the same identifier waiting, drop the new one and answer the waiting one
};
Q_DECLARE_FLAGS(TDelayOptions, TDelayOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TDelayOptions)

// Base exception of the unit.
class ESharedTimer : public Exception {
public:
  using Exception::Exception;
};

// "Can't have both doReplaceQueued doNotIfQueued in Options."
class EBadOptions : public ESharedTimer {
public:
  using ESharedTimer::ESharedTimer;
};

// "If doReplaceQueued or doNotIfQueued are in Options then Identifier must not be ''."
class EBadIdentifier : public ESharedTimer {
public:
  using ESharedTimer::ESharedTimer;
};

// The base of a pending call. A QObject only so that the answer of a request
// can be a guarded pointer.
class TDelayedCall : public QObject {
  Q_OBJECT
public:
  // The due time is now + ADelay on the owner's clock. Fails with Exception
  // "TDelayedCall must have an owner", with EBadOptions when both
  // doReplaceQueued and doNotIfQueued are given, and with EBadIdentifier when
  // either is given without an identifier.
  TDelayedCall(TvexSharedTimer* AOwner, int ADelay, TDelayOptions AOptions, const QString& AIdentifier);
  ~TDelayedCall() override;

  // Does nothing in the base.
  virtual void Execute();

  TvexSharedTimer* Owner() const { return FOwner; }
  qint64 DueTime() const { return FDueTime; }
  int Delay() const { return FDelay; }
  TDelayOptions Options() const { return FOptions; }
  const QString& Identifier() const { return FIdentifier; }

private:
  friend class TvexSharedTimer;
  TvexSharedTimer* FOwner;
  qint64 FDueTime = 0;
  int FDelay;
  TDelayOptions FOptions;
  QString FIdentifier;
  // A repeating call stays in the list while it runs; when it is removed
  // meanwhile (a handler replaced it), it is freed once Execute has ended.
  bool FExecuting = false;
  bool FFreeAfterExecute = false;
  quint64 FSerial = 0;  // order of queuing
};

using TDelayedCallRef = QPointer<TDelayedCall>;

// A call of a notify event with its sender. When the sender was given and is
// destroyed before the call is due, the handler is not called (it would get a
// dangling sender).
class TDelayedNotifyEvent : public TDelayedCall {
  Q_OBJECT
public:
  TDelayedNotifyEvent(TvexSharedTimer* AOwner, int ADelay, TDelayOptions AOptions, const QString& AIdentifier,
                      QObject* ASender, TNotifyEvent AEvent);
  void Execute() override;

  QObject* Sender() const { return FSender; }
  const TNotifyEvent& Event() const { return FEvent; }

private:
  QPointer<QObject> FSender;
  bool FHadSender;
  TNotifyEvent FEvent;
};

// A call of a handler with an integer and three variant values.
class TDelayedParamEvent : public TDelayedCall {
  Q_OBJECT
public:
  TDelayedParamEvent(TvexSharedTimer* AOwner, int ADelay, TDelayOptions AOptions, const QString& AIdentifier,
                     int AInteger, const QVariant& AValue1, const QVariant& AValue2, const QVariant& AValue3,
                     TDelayedParamHandler AEvent);
  void Execute() override;

  int Integer() const { return FInteger; }
  const QVariant& Value1() const { return FValue1; }
  const QVariant& Value2() const { return FValue2; }
  const QVariant& Value3() const { return FValue3; }

private:
  int FInteger;
  QVariant FValue1, FValue2, FValue3;
  TDelayedParamHandler FEvent;
};

// A list of calls that owns them: it frees its calls when it is freed.
class TDelayList {
public:
  TDelayList() = default;
  ~TDelayList();
  TDelayList(const TDelayList&) = delete;
  TDelayList& operator=(const TDelayList&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  bool IsEmpty() const { return FItems.empty(); }
  TDelayedCall* operator[](int Index) const { return FItems[static_cast<size_t>(Index)]; }
  TDelayedCall* First() const { return FItems.empty() ? nullptr : FItems.front(); }
  void Add(TDelayedCall* ACall);  // takes ownership
  // Takes the call out of the list without freeing it; answers it.
  TDelayedCall* Extract(int Index);
  int IndexOf(const TDelayedCall* ACall) const;
  // Sorts by due time, ascending (calls with equal due times keep their order).
  void Sort();
  void Clear();  // frees every call

private:
  std::vector<TDelayedCall*> FItems;
};

// The 32-bit millisecond tick count extended to 64 bits: each reading that is
// smaller than the previous one means the counter wrapped.
class TSharedClock {
public:
  using TTickSource = std::function<quint32()>;

  // The platform's tick count: milliseconds of the steady clock, cut to 32 bits.
  static quint32 PlatformTick();

  // Replaces the source of raw ticks (nullptr = the platform's) and starts
  // the clock again: no wraps counted, the next reading is the reference.
  void SetTickSource(TTickSource ASource);
  qint64 Now();

  quint32 LastTick() const { return FLastTick; }
  qint64 Wraps() const { return FWraps; }

private:
  TTickSource FSource;
  quint32 FLastTick = 0;
  qint64 FWraps = 0;
};

// The scheduler.
class TvexSharedTimer : public QObject {
  Q_OBJECT
public:
  static constexpr int kOneDay = 86400000;
  static constexpr int kOverdueInterval = 10;

  explicit TvexSharedTimer(QObject* AParent = nullptr);
  ~TvexSharedTimer() override;

  // The shared clock, in milliseconds; its source can be replaced (tests).
  qint64 Now() { return FClock.Now(); }
  TSharedClock& Clock() { return FClock; }
  void SetTickSource(TSharedClock::TTickSource ASource) { FClock.SetTickSource(std::move(ASource)); }

  // Requests (the global functions below use SharedTimer()).
  TDelayedCallRef DelayedNotify(int ADelay, QObject* ASender, TNotifyEvent AEvent);
  TDelayedCallRef DelayedNotifyEx(int ADelay, QObject* ASender, TDelayOptions AOptions, const QString& AIdentifier,
                                  TNotifyEvent AEvent);
  TDelayedCallRef DelayedParam(int ADelay, const QVariant& AValue1, const QVariant& AValue2,
                               const QString& AIdentifier, int AInteger, TDelayOptions AOptions,
                               const QVariant& AValue3, TDelayedParamHandler AEvent);

  // Queues a call made for this timer and takes ownership: doReplaceQueued
  // first frees the waiting calls of its identifier, doNotIfQueued drops the
  // new call while one of its identifier waits. Answers the call queued or
  // the waiting one that was kept.
  TDelayedCallRef Queue(TDelayedCall* ACall);

  // Removes and frees every waiting call with the identifier (what
  // doReplaceQueued does before queuing); calls without an identifier are
  // never matched. Answers how many were removed.
  int Cancel(const QString& AIdentifier);
  // The first waiting call with the identifier in due order, or nullptr.
  TDelayedCall* FindQueued(const QString& AIdentifier) const;

  // Disables the timer, runs what is due and programs the timer for the first
  // waiting call.
  void Reschedule();
  // Fires every call that is due (only remembers that a run is pending while
  // the scheduler is locked).
  void RunDue();
  // The platform timer's tick: disable the timer, run what is due,
  // reschedule in every case.
  void Tick();

  void Lock();
  void Unlock();
  bool Locked() const { return !FEnabled; }
  bool RunPending() const { return FRunPending; }

  // The pending calls (created on first use) and the platform timer.
  const TDelayList& List();
  QTimer* Timer();

private:
  friend class TDelayedCall;
  // A call that is freed while it waits leaves the list.
  void Forget(TDelayedCall* ACall);
  void FireFirst();
  void RemoveCall(int Index);

  TDelayList* FList = nullptr;
  QTimer* FTimer = nullptr;
  TSharedClock FClock;
  bool FEnabled = true;
  bool FRunPending = false;
  int FNesting = 0;  // handlers running, one inside the other
  quint64 FNextSerial = 1;
};

// The single scheduler, created on first use and freed when the program ends
// (a guard holding it is kept in a global and released with the application).
TvexSharedTimer* SharedTimer();

// Queue a TDelayedNotifyEvent with no options and no identifier.
TDelayedCallRef DelayedNotify(int ADelay, QObject* ASender, TNotifyEvent AEvent);
// The same with options and identifier.
TDelayedCallRef DelayedNotifyEx(int ADelay, QObject* ASender, TDelayOptions AOptions, const QString& AIdentifier,
                                TNotifyEvent AEvent);
// Queue a TDelayedParamEvent.
TDelayedCallRef DelayedParam(int ADelay, const QVariant& AValue1, const QVariant& AValue2, const QString& AIdentifier,
                             int AInteger, TDelayOptions AOptions, const QVariant& AValue3,
                             TDelayedParamHandler AEvent);
