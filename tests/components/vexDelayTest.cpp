// Delayed calls on one shared timer. The scheduler's clock runs on
// a replaced tick source, so due times and the 32-bit wrap are tested
// without waiting; the tick is fired directly.

#include "components/vexDelayU.h"

#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

class TFakeClock {
public:
  explicit TFakeClock(quint32 Start = 1000) : FTick(Start) {}
  TSharedClock::TTickSource Source() {
    return [this] { return FTick; };
  }
  void Advance(quint32 Ms) { FTick += Ms; }  // wraps like the platform's counter
  quint32 Tick() const { return FTick; }

private:
  quint32 FTick;
};

class DelayTest : public ::testing::Test {
protected:
  void SetUp() override {
    Timer.SetTickSource(Clock.Source());
    TestDialogs().Clear();
  }
  // Moves the clock and fires the platform timer's tick.
  void AdvanceAndTick(quint32 Ms) {
    Clock.Advance(Ms);
    Timer.Tick();
  }
  int Interval() { return Timer.Timer()->interval(); }

  TFakeClock Clock;
  TvexSharedTimer Timer;
};

TNotifyEvent Count(int& N) {
  return [&N](QObject*) { ++N; };
}

}  // namespace

TEST_F(DelayTest, CallFiresWhenDueAndIsFreed) {
  int fired = 0;
  const TDelayedCallRef call = Timer.DelayedNotify(100, nullptr, Count(fired));
  ASSERT_FALSE(call.isNull());
  EXPECT_EQ(call->DueTime(), Timer.Now() + 100);
  EXPECT_EQ(Interval(), 100);
  EXPECT_TRUE(Timer.Timer()->isActive());
  AdvanceAndTick(99);
  EXPECT_EQ(fired, 0);
  EXPECT_EQ(Interval(), 1);
  AdvanceAndTick(1);
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(call.isNull());  // freed after running: the answer reads empty
  EXPECT_EQ(Timer.List().Count(), 0);
  AdvanceAndTick(1000);
  EXPECT_EQ(fired, 1);
}

TEST_F(DelayTest, HandlerGetsTheSender) {
  QObject sender;
  QObject* got = nullptr;
  Timer.DelayedNotify(10, &sender, [&](QObject* s) { got = s; });
  AdvanceAndTick(10);
  EXPECT_EQ(got, &sender);
}

TEST_F(DelayTest, CallsFireInDueOrder) {
  std::vector<int> order;
  Timer.DelayedNotify(300, nullptr, [&](QObject*) { order.push_back(300); });
  Timer.DelayedNotify(100, nullptr, [&](QObject*) { order.push_back(100); });
  Timer.DelayedNotify(200, nullptr, [&](QObject*) { order.push_back(200); });
  Timer.DelayedNotify(100, nullptr, [&](QObject*) { order.push_back(101); });
  EXPECT_EQ(Interval(), 100);
  ASSERT_EQ(Timer.List().Count(), 4);
  for (int i = 1; i < Timer.List().Count(); ++i)
    EXPECT_LE(Timer.List()[i - 1]->DueTime(), Timer.List()[i]->DueTime());
  AdvanceAndTick(150);
  EXPECT_EQ(order, (std::vector<int>{100, 101}));
  EXPECT_EQ(Interval(), 50);
  AdvanceAndTick(1000);  // overdue calls all fire in one tick, in order
  EXPECT_EQ(order, (std::vector<int>{100, 101, 200, 300}));
}

TEST_F(DelayTest, ReplaceQueuedKeepsOnlyTheNewestRequest) {
  // Two requests 300 ms apart, each 1000 ms: only the second fires, 1000 ms
  // after it was made, also with a later call waiting.
  const qint64 start = Timer.Now();
  int first = 0, second = 0, other = 0;
  qint64 firedAt = -1;
  Timer.DelayedNotifyEx(5000, nullptr, TDelayOptions(), QStringLiteral("other"), Count(other));
  const TDelayedCallRef a = Timer.DelayedNotifyEx(1000, nullptr, doReplaceQueued, QStringLiteral("id"), Count(first));
  Clock.Advance(300);
  const TDelayedCallRef b = Timer.DelayedNotifyEx(1000, nullptr, doReplaceQueued, QStringLiteral("id"), [&](QObject*) {
    ++second;
    firedAt = Timer.Now();
  });
  EXPECT_TRUE(a.isNull());  // the replaced call is freed at once
  ASSERT_FALSE(b.isNull());
  EXPECT_EQ(Timer.List().Count(), 2);
  AdvanceAndTick(700);  // 1000 ms after the first request
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  EXPECT_EQ(Interval(), 300);
  AdvanceAndTick(300);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(firedAt, start + 1300);
  EXPECT_EQ(other, 0);
  EXPECT_EQ(Interval(), 5000 - 1300);
  AdvanceAndTick(3700);
  EXPECT_EQ(other, 1);
  EXPECT_EQ(first, 0);
}

TEST_F(DelayTest, NotIfQueuedAnswersTheWaitingCall) {
  QObject s1, s2;
  QObject* got = nullptr;
  int firstRuns = 0, secondRuns = 0;
  const TDelayedCallRef a = Timer.DelayedNotifyEx(500, &s1, doNotIfQueued, QStringLiteral("id"), [&](QObject* s) {
    ++firstRuns;
    got = s;
  });
  Clock.Advance(100);
  const TDelayedCallRef b = Timer.DelayedNotifyEx(100, &s2, doNotIfQueued, QStringLiteral("id"), Count(secondRuns));
  EXPECT_EQ(a.data(), b.data());
  EXPECT_EQ(Timer.List().Count(), 1);
  auto* notify = qobject_cast<TDelayedNotifyEvent*>(b.data());
  ASSERT_NE(notify, nullptr);
  EXPECT_EQ(notify->Sender(), &s1);
  AdvanceAndTick(100);  // the dropped request would have been due now
  EXPECT_EQ(firstRuns + secondRuns, 0);
  AdvanceAndTick(300);
  EXPECT_EQ(firstRuns, 1);
  EXPECT_EQ(secondRuns, 0);
  EXPECT_EQ(got, &s1);
  // Once nothing waits, a request with the identifier is queued again.
  const TDelayedCallRef c = Timer.DelayedNotifyEx(100, &s2, doNotIfQueued, QStringLiteral("id"), Count(secondRuns));
  EXPECT_FALSE(c.isNull());
  AdvanceAndTick(100);
  EXPECT_EQ(secondRuns, 1);
}

TEST_F(DelayTest, IdentifiersAreComparedExactly) {
  int n = 0;
  Timer.DelayedNotifyEx(100, nullptr, doNotIfQueued, QStringLiteral("Id"), Count(n));
  Timer.DelayedNotifyEx(100, nullptr, doNotIfQueued, QStringLiteral("id"), Count(n));
  EXPECT_EQ(Timer.List().Count(), 2);
  EXPECT_EQ(Timer.Cancel(QStringLiteral("id")), 1);
  EXPECT_EQ(Timer.List().Count(), 1);
  Timer.DelayedNotify(100, nullptr, Count(n));
  EXPECT_EQ(Timer.Cancel(QString()), 0);  // calls without an identifier are never matched
  EXPECT_EQ(Timer.FindQueued(QString()), nullptr);
  EXPECT_EQ(Timer.List().Count(), 2);
}

TEST_F(DelayTest, RepeatRunsAgainWithTheSameDelay) {
  int n = 0;
  const TDelayedCallRef call = Timer.DelayedNotifyEx(100, nullptr, doRepeat, QStringLiteral("rep"), Count(n));
  AdvanceAndTick(100);
  EXPECT_EQ(n, 1);
  ASSERT_FALSE(call.isNull());
  EXPECT_EQ(call->DueTime(), Timer.Now() + 100);
  EXPECT_EQ(Interval(), 100);
  AdvanceAndTick(50);
  EXPECT_EQ(n, 1);
  AdvanceAndTick(50);
  EXPECT_EQ(n, 2);
  AdvanceAndTick(1000);  // a late tick runs it once, not once per missed period
  EXPECT_EQ(n, 3);
  EXPECT_EQ(Timer.Cancel(QStringLiteral("rep")), 1);
  EXPECT_TRUE(call.isNull());
  AdvanceAndTick(1000);
  EXPECT_EQ(n, 3);
}

TEST_F(DelayTest, RepeatWithDelayZeroDoesNotHang) {
  int n = 0;
  Timer.DelayedNotifyEx(0, nullptr, doRepeat, QStringLiteral("rep"), Count(n));
  EXPECT_GE(n, 1);
  EXPECT_LE(n, 2);
  const int before = n;
  Timer.Tick();  // the clock stands still: at most one run per pass
  EXPECT_LE(n - before, 2);
  EXPECT_EQ(Timer.Cancel(QStringLiteral("rep")), 1);
}

TEST_F(DelayTest, RepeatingCallReplacedByItsOwnHandler) {
  int n = 0, replacement = 0;
  TDelayedCallRef call;
  call = Timer.DelayedNotifyEx(100, nullptr, doRepeat, QStringLiteral("r"), [&](QObject*) {
    ++n;
    // The running call is removed; it must stay alive until its Execute ends.
    Timer.DelayedNotifyEx(100, nullptr, doReplaceQueued, QStringLiteral("r"), Count(replacement));
    EXPECT_FALSE(call.isNull());
  });
  AdvanceAndTick(100);
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(call.isNull());
  EXPECT_EQ(Timer.List().Count(), 1);
  AdvanceAndTick(100);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(replacement, 1);
}

TEST_F(DelayTest, SharedClockKeepsIncreasingAcrossTheWrap) {
  TSharedClock clock;
  quint32 raw = 0xFFFFFFF0u;
  clock.SetTickSource([&raw] { return raw; });
  EXPECT_EQ(clock.Now(), qint64(0xFFFFFFF0u));
  raw = 0xFFFFFFFFu;
  EXPECT_EQ(clock.Now(), qint64(0xFFFFFFFFu));
  raw = 5;
  EXPECT_EQ(clock.Now(), (qint64(1) << 32) + 5);
  EXPECT_EQ(clock.Wraps(), 1);
  raw = 5;
  EXPECT_EQ(clock.Now(), (qint64(1) << 32) + 5);
  raw = 0xFFFFFFFEu;
  EXPECT_EQ(clock.Now(), (qint64(1) << 32) + 0xFFFFFFFEu);
  raw = 1;
  EXPECT_EQ(clock.Now(), (qint64(2) << 32) + 1);
  EXPECT_EQ(clock.Wraps(), 2);
}

TEST_F(DelayTest, CallDueJustAfterTheWrapFiresOnTime) {
  TFakeClock clock(0xFFFFFF00u);
  TvexSharedTimer timer;
  timer.SetTickSource(clock.Source());
  int n = 0;
  qint64 firedAt = 0;
  const qint64 start = timer.Now();
  timer.DelayedNotify(0x200, nullptr, [&](QObject*) {
    ++n;
    firedAt = timer.Now();
  });
  clock.Advance(0xFF);  // 0xFFFFFFFF
  timer.Tick();
  clock.Advance(1);  // the raw counter wraps to 0
  timer.Tick();
  EXPECT_EQ(clock.Tick(), 0u);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(timer.Timer()->interval(), 0x100);  // not a day, not overdue
  clock.Advance(0xFF);
  timer.Tick();
  EXPECT_EQ(n, 0);
  EXPECT_EQ(timer.Timer()->interval(), 1);
  clock.Advance(1);
  timer.Tick();
  EXPECT_EQ(n, 1);
  EXPECT_EQ(firedAt, start + 0x200);
  EXPECT_EQ(firedAt, (qint64(1) << 32) + 0x100);
}

TEST_F(DelayTest, WithNothingPendingTheTimerTicksOnceADay) {
  Timer.Tick();
  EXPECT_TRUE(Timer.Timer()->isActive());
  EXPECT_EQ(Interval(), TvexSharedTimer::kOneDay);
  EXPECT_EQ(Interval(), 86400000);
  // A call further away than a day: the timer still looks once a day.
  int n = 0;
  Timer.DelayedNotify(3 * 86400000, nullptr, Count(n));
  EXPECT_EQ(Interval(), 86400000);
  AdvanceAndTick(86400000);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(Interval(), 86400000);
}

TEST_F(DelayTest, DelayZeroRunsBeforeTheRequestReturnsAndAnswersEmpty) {
  int n = 0;
  const TDelayedCallRef call = Timer.DelayedNotify(0, nullptr, Count(n));
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(call.isNull());  // never a dangling pointer
  const TDelayedCallRef negative = Timer.DelayedNotify(-50, nullptr, Count(n));
  EXPECT_EQ(n, 2);
  EXPECT_TRUE(negative.isNull());
  EXPECT_EQ(Timer.List().Count(), 0);
}

TEST_F(DelayTest, LockedSchedulerOnlyRemembersTheRun) {
  int n = 0;
  Timer.Lock();
  EXPECT_TRUE(Timer.Locked());
  const TDelayedCallRef call = Timer.DelayedNotify(0, nullptr, Count(n));
  EXPECT_EQ(n, 0);
  EXPECT_FALSE(call.isNull());
  EXPECT_TRUE(Timer.RunPending());
  EXPECT_EQ(Interval(), TvexSharedTimer::kOverdueInterval);  // due now: 10 ms
  Timer.Unlock();
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(call.isNull());
  EXPECT_FALSE(Timer.RunPending());
}

struct TOptionCase {
  TDelayOptions Options;
  const char* Identifier;
  const char* Message;  // nullptr: accepted
  bool Identifier_error;
};

TEST_F(DelayTest, BadOptionsAndIdentifiersAreRefusedAndNothingIsQueued) {
  const TOptionCase cases[] = {
      {doReplaceQueued | doNotIfQueued, "id", "Can't have both doReplaceQueued doNotIfQueued in Options.", false},
      {doReplaceQueued | doNotIfQueued | doRepeat, "", "Can't have both doReplaceQueued doNotIfQueued in Options.",
       false},
      {doReplaceQueued, "", "If doReplaceQueued or doNotIfQueued are in Options then Identifier must not be ''.", true},
      {doNotIfQueued, "", "If doReplaceQueued or doNotIfQueued are in Options then Identifier must not be ''.", true},
      {doRepeat, "", nullptr, false},
      {TDelayOptions(), "", nullptr, false},
  };
  for (const TOptionCase& c : cases) {
    SCOPED_TRACE(c.Message ? c.Message : "accepted");
    int n = 0;
    const QString id = QString::fromLatin1(c.Identifier);
    if (!c.Message) {
      const TDelayedCallRef call = Timer.DelayedNotifyEx(100, nullptr, c.Options, id, Count(n));
      EXPECT_FALSE(call.isNull());
      EXPECT_EQ(Timer.List().Count(), 1);
      delete call.data();  // a call freed by its holder leaves the list
      EXPECT_EQ(Timer.List().Count(), 0);
      continue;
    }
    try {
      Timer.DelayedNotifyEx(100, nullptr, c.Options, id, Count(n));
      ADD_FAILURE() << "no error";
    } catch (const EBadIdentifier& e) {
      EXPECT_TRUE(c.Identifier_error);
      EXPECT_EQ(e.Message(), QString::fromLatin1(c.Message));
    } catch (const EBadOptions& e) {
      EXPECT_FALSE(c.Identifier_error);
      EXPECT_EQ(e.Message(), QString::fromLatin1(c.Message));
    }
    EXPECT_EQ(Timer.List().Count(), 0);
  }
}

TEST_F(DelayTest, ThrowingHandlerIsShownFreedAndTheTimerRescheduled) {
  int after = 0;
  const TDelayedCallRef bad =
      Timer.DelayedNotify(100, nullptr, [](QObject*) { throw Exception(QStringLiteral("Handler failed")); });
  Timer.DelayedNotify(100, nullptr, Count(after));  // due at the same time
  Timer.DelayedNotify(500, nullptr, Count(after));
  EXPECT_NO_THROW(AdvanceAndTick(100));
  EXPECT_TRUE(bad.isNull());
  EXPECT_EQ(after, 1);  // the other due call still ran
  EXPECT_EQ(TestDialogs().Texts(), QStringList{QStringLiteral("Handler failed")});
  EXPECT_TRUE(Timer.Timer()->isActive());
  EXPECT_EQ(Interval(), 400);
  AdvanceAndTick(400);
  EXPECT_EQ(after, 2);
}

TEST_F(DelayTest, AbortInAHandlerIsSilent) {
  const TDelayedCallRef call = Timer.DelayedNotify(10, nullptr, [](QObject*) { throw EAbort(); });
  AdvanceAndTick(10);
  EXPECT_TRUE(call.isNull());
  EXPECT_TRUE(TestDialogs().Texts().isEmpty());
}

TEST_F(DelayTest, ForeignExceptionsAreShownToo) {
  Timer.DelayedNotify(10, nullptr, [](QObject*) { throw std::runtime_error("std failure"); });
  AdvanceAndTick(10);
  EXPECT_EQ(TestDialogs().Texts(), QStringList{QStringLiteral("std failure")});
}

TEST_F(DelayTest, ThrowingHandlerWithDelayZeroDoesNotReachTheRequester) {
  TDelayedCallRef call;
  EXPECT_NO_THROW(call = Timer.DelayedNotify(0, nullptr, [](QObject*) { throw Exception(QStringLiteral("Now")); }));
  EXPECT_TRUE(call.isNull());
  EXPECT_EQ(TestDialogs().Texts(), QStringList{QStringLiteral("Now")});
}

TEST_F(DelayTest, ThrowingRepeatingHandlerKeepsRepeating) {
  int n = 0;
  const TDelayedCallRef call = Timer.DelayedNotifyEx(50, nullptr, doRepeat, QStringLiteral("r"), [&](QObject*) {
    ++n;
    throw Exception(QStringLiteral("again"));
  });
  AdvanceAndTick(50);
  AdvanceAndTick(50);
  EXPECT_EQ(n, 2);
  EXPECT_FALSE(call.isNull());
  EXPECT_EQ(TestDialogs().Texts().size(), 2);
  Timer.Cancel(QStringLiteral("r"));
}

TEST_F(DelayTest, RequestFromAHandlerRunsDueCallsNested) {
  std::vector<QString> log;
  Timer.DelayedNotify(100, nullptr, [&](QObject*) {
    log.push_back(QStringLiteral("outer start"));
    Timer.DelayedNotify(0, nullptr, [&](QObject*) { log.push_back(QStringLiteral("inner")); });
    log.push_back(QStringLiteral("outer end"));
  });
  AdvanceAndTick(100);
  EXPECT_EQ(log, (std::vector<QString>{QStringLiteral("outer start"), QStringLiteral("inner"),
                                       QStringLiteral("outer end")}));
}

TEST_F(DelayTest, HandlerQueuingItselfWithDelayZeroIsBounded) {
  int n = 0;
  std::function<void(QObject*)> again;
  again = [&](QObject*) {
    if (++n < 10000) Timer.DelayedNotify(0, nullptr, again);
  };
  Timer.DelayedNotify(0, nullptr, again);
  EXPECT_GT(n, 1);
  EXPECT_LT(n, 100);  // nesting stops; the rest is left to the timer
  EXPECT_EQ(Timer.List().Count(), 1);
  EXPECT_EQ(Interval(), TvexSharedTimer::kOverdueInterval);
  const int before = n;
  Timer.Tick();
  EXPECT_GT(n, before);
  while (Timer.List().Count() > 0) Timer.Tick();
  EXPECT_EQ(n, 10000);
}

TEST_F(DelayTest, CallWhoseSenderIsGoneIsDropped) {
  int n = 0;
  auto* sender = new QObject;
  const TDelayedCallRef call = Timer.DelayedNotify(100, sender, Count(n));
  delete sender;
  AdvanceAndTick(100);
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(call.isNull());
}

TEST_F(DelayTest, CallWithoutHandlerDoesNothing) {
  const TDelayedCallRef call = Timer.DelayedNotify(10, nullptr, TNotifyEvent());
  AdvanceAndTick(10);
  EXPECT_TRUE(call.isNull());
}

TEST_F(DelayTest, DelayedParamPassesItsValues) {
  int gotInt = 0;
  QVariant g1, g2, g3;
  const TDelayedCallRef call = Timer.DelayedParam(
      200, QVariant(QStringLiteral("one")), QVariant(2.5), QStringLiteral("p"), 42, doReplaceQueued, QVariant(true),
      [&](int i, const QVariant& v1, const QVariant& v2, const QVariant& v3) {
        gotInt = i;
        g1 = v1;
        g2 = v2;
        g3 = v3;
      });
  auto* param = qobject_cast<TDelayedParamEvent*>(call.data());
  ASSERT_NE(param, nullptr);
  EXPECT_EQ(param->Integer(), 42);
  EXPECT_EQ(param->Identifier(), QStringLiteral("p"));
  AdvanceAndTick(200);
  EXPECT_EQ(gotInt, 42);
  EXPECT_EQ(g1.toString(), QStringLiteral("one"));
  EXPECT_DOUBLE_EQ(g2.toDouble(), 2.5);
  EXPECT_TRUE(g3.toBool());
}

TEST_F(DelayTest, CallFreedByItsHolderLeavesTheList) {
  int n = 0;
  const TDelayedCallRef call = Timer.DelayedNotify(100, nullptr, Count(n));
  delete call.data();
  EXPECT_EQ(Timer.List().Count(), 0);
  AdvanceAndTick(100);
  EXPECT_EQ(n, 0);
}

TEST_F(DelayTest, CallNeedsAnOwner) {
  try {
    TDelayedNotifyEvent call(nullptr, 10, TDelayOptions(), QString(), nullptr, TNotifyEvent());
    ADD_FAILURE() << "no error";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("TDelayedCall must have an owner"));
  }
}

TEST_F(DelayTest, ThePlatformTimerFiresTheTick) {
  int n = 0;
  Timer.DelayedNotify(20, nullptr, Count(n));
  Clock.Advance(20);  // due on the shared clock; the QTimer still waits 20 ms
  QElapsedTimer elapsed;
  elapsed.start();
  while (n == 0 && elapsed.elapsed() < 5000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(1);
  }
  EXPECT_EQ(n, 1);
  EXPECT_EQ(Interval(), TvexSharedTimer::kOneDay);
}

TEST_F(DelayTest, FreeingTheTimerFreesItsCalls) {
  TDelayedCallRef call;
  {
    TvexSharedTimer timer;
    timer.SetTickSource(Clock.Source());
    call = timer.DelayedNotify(100, nullptr, TNotifyEvent());
    EXPECT_FALSE(call.isNull());
  }
  EXPECT_TRUE(call.isNull());
}

TEST(DelayList, SortsByDueTimeAndFreesItsCalls) {
  TvexSharedTimer timer;
  quint32 tick = 0;
  timer.SetTickSource([&tick] { return tick; });
  TDelayedCallRef a, b, c;
  {
    TDelayList list;
    list.Add(a = new TDelayedCall(&timer, 300, TDelayOptions(), QString()));
    list.Add(b = new TDelayedCall(&timer, 100, TDelayOptions(), QString()));
    list.Add(c = new TDelayedCall(&timer, 100, TDelayOptions(), QStringLiteral("second")));
    list.Sort();
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], b.data());
    EXPECT_EQ(list[1], c.data());
    EXPECT_EQ(list[2], a.data());
    TDelayedCall* taken = list.Extract(2);
    EXPECT_EQ(taken, a.data());
    delete taken;
    EXPECT_EQ(list.IndexOf(c.data()), 1);
  }
  EXPECT_TRUE(a.isNull());
  EXPECT_TRUE(b.isNull());
  EXPECT_TRUE(c.isNull());
}

TEST(SharedTimer, IsOneObjectServingTheGlobalRequests) {
  TvexSharedTimer* t = SharedTimer();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(SharedTimer(), t);
  int n = 0;
  const TDelayedCallRef now = DelayedNotify(0, nullptr, [&n](QObject*) { ++n; });
  EXPECT_EQ(n, 1);
  EXPECT_TRUE(now.isNull());
  const TDelayedCallRef later =
      DelayedNotifyEx(1000000, nullptr, doReplaceQueued, QStringLiteral("global test"), [&n](QObject*) { ++n; });
  EXPECT_FALSE(later.isNull());
  EXPECT_EQ(later->Owner(), t);
  const TDelayedCallRef param = DelayedParam(1000000, QVariant(), QVariant(), QStringLiteral("global test"), 1,
                                             doNotIfQueued, QVariant(), TDelayedParamHandler());
  EXPECT_EQ(param.data(), later.data());
  EXPECT_EQ(t->Cancel(QStringLiteral("global test")), 1);
  EXPECT_TRUE(later.isNull());
  EXPECT_EQ(n, 1);
}
