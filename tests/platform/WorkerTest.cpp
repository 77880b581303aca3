#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/ProtocolThread.h"
#include "platform/Worker.h"
#include "tests/support/LoopWait.h"

namespace {

using namespace std::chrono_literals;

// Serves hand-overs on this (the protocol) thread until done() or a generous deadline.
template <typename Done>
bool PumpUntil(RunLoop& loop, Done done) {
  return WaitFor(loop, done, 10s);
}

void PumpFor(RunLoop& loop, std::chrono::milliseconds span) {
  loop.RunFor(span);
}

// Lets a worker thread get to where it blocks without serving it.
void LetWorkerRun() {
  std::this_thread::sleep_for(50ms);
}

}  // namespace

TEST(Worker, SuspendHoldsHandOversBackAndResumeLetsThemRun) {
  RunLoop guiThread;
  int runs = 0;  // touched only by routines, on this thread
  Worker worker("test", guiThread);
  worker.Start(
      [&](Worker& self) {
        self.HandOver([&] { ++runs; });
        self.Sleep(1);
      },
      true);
  EXPECT_TRUE(worker.IsSuspended());
  PumpFor(guiThread, 100ms);
  EXPECT_EQ(runs, 0);

  worker.Resume();
  ASSERT_TRUE(PumpUntil(guiThread, [&] { return runs >= 3; }));

  worker.Suspend();
  PumpFor(guiThread, 50ms);  // a hand-over already past its check may still finish
  const int held = runs;
  PumpFor(guiThread, 100ms);
  EXPECT_EQ(runs, held);

  worker.Resume();
  EXPECT_TRUE(PumpUntil(guiThread, [&] { return runs > held; }));
  worker.Stop();
}

TEST(Worker, HandOverIgnoringSuspendRunsWhileSuspended) {
  RunLoop guiThread;
  std::atomic<bool> started{false};
  std::atomic<bool> suspended{false};
  int urgent = 0;
  int normal = 0;
  Worker worker("test", guiThread);
  worker.Start(
      [&](Worker& self) {
        started = true;
        while (!suspended && !self.Stopping()) std::this_thread::sleep_for(1ms);
        self.HandOver([&] { ++urgent; }, true);
        self.HandOver([&] { ++normal; });
      },
      false);
  while (!started) std::this_thread::sleep_for(1ms);
  worker.Suspend();
  suspended = true;
  EXPECT_TRUE(PumpUntil(guiThread, [&] { return urgent == 1; }));
  PumpFor(guiThread, 50ms);
  EXPECT_EQ(normal, 0);
  worker.Stop();
}

TEST(Worker, RoutinesOfTwoWorkersNeverInterleaveEvenAcrossANestedLoop) {
  RunLoop guiThread;
  bool inside = false;
  int overlaps = 0;
  std::vector<char> trace;
  int runsA = 0;
  int runsB = 0;
  auto routine = [&](char who, bool modal) {
    if (inside) ++overlaps;
    inside = true;
    trace.push_back(who);
    if (modal) {
      // What a modal message box does: a nested loop that serves posted routines.
      guiThread.RunFor(100ms);
    }
    trace.push_back(who);
    inside = false;
  };

  Worker a("a", guiThread);
  Worker b("b", guiThread);
  a.Start(
      [&](Worker& self) {
        self.HandOver([&] {
          routine('a', true);
          ++runsA;
        });
        self.Sleep(1);
      },
      false);
  b.Start(
      [&](Worker& self) {
        self.HandOver([&] {
          routine('b', false);
          ++runsB;
        });
        self.Sleep(1);
      },
      false);
  EXPECT_TRUE(PumpUntil(guiThread, [&] { return runsA >= 3 && runsB >= 3; }));
  a.Stop();
  b.Stop();

  EXPECT_EQ(overlaps, 0);
  ASSERT_EQ(trace.size() % 2, 0u);
  for (std::size_t i = 0; i < trace.size(); i += 2) EXPECT_EQ(trace[i], trace[i + 1]) << i;
}

TEST(Worker, StopReturnsWhileAHandOverWaitsForAnIdleGuiThread) {
  RunLoop guiThread;
  std::atomic<bool> posting{false};
  int ran = 0;
  {
    Worker worker("test", guiThread);
    worker.Start(
        [&](Worker& self) {
          posting = true;
          self.HandOver([&] { ++ran; });
          self.Sleep(60000);
        },
        false);
    while (!posting) std::this_thread::sleep_for(1ms);
    LetWorkerRun();
    worker.Stop();  // this thread serves no events meanwhile
    EXPECT_TRUE(worker.Stopping());
    worker.Stop();
  }
  // The routine was posted but given up; serving the queue now must not run it.
  PumpFor(guiThread, 50ms);
  EXPECT_EQ(ran, 0);
}

TEST(Worker, StopWhileWaitingForAnotherWorkersRoutine) {
  RunLoop guiThread;
  std::atomic<bool> aPosting{false};
  int ranA = 0;
  int ranB = 0;
  Worker a("a", guiThread);
  Worker b("b", guiThread);
  a.Start(
      [&](Worker& self) {
        aPosting = true;
        self.HandOver([&] { ++ranA; });
        self.Sleep(60000);
      },
      false);
  while (!aPosting) std::this_thread::sleep_for(1ms);
  LetWorkerRun();
  b.Start(
      [&](Worker& self) {
        self.HandOver([&] { ++ranB; });
        self.Sleep(60000);
      },
      false);
  LetWorkerRun();
  b.Stop();

  EXPECT_TRUE(PumpUntil(guiThread, [&] { return ranA == 1; }));
  PumpFor(guiThread, 50ms);
  EXPECT_EQ(ranB, 0);
  a.Stop();
}

TEST(Worker, StopWhileSuspendedNeverRunsTheBody) {
  RunLoop guiThread;
  std::atomic<int> bodies{0};
  Worker worker("test", guiThread);
  worker.Start(
      [&](Worker& self) {
        ++bodies;
        self.Sleep(1);
      },
      true);
  LetWorkerRun();
  worker.Stop();
  EXPECT_EQ(bodies, 0);
}

TEST(Worker, WakeEndsASleepAndStopEndsOneToo) {
  RunLoop guiThread;
  int ran = 0;
  Worker worker("test", guiThread);
  worker.Start(
      [&](Worker& self) {
        if (self.Sleep(60000)) self.HandOver([&] { ++ran; });
      },
      false);
  worker.Wake();
  EXPECT_TRUE(PumpUntil(guiThread, [&] { return ran == 1; }));
  worker.Stop();  // the body sleeps again; Stop must not wait the minute out
  EXPECT_EQ(ran, 1);
}

TEST(Worker, StopFromInsideARoutineIsRefusedAndTheWorkerGoesOn) {
  RunLoop guiThread;
  int runs = 0;
  bool refused = false;
  Worker worker("test", guiThread);
  worker.Start(
      [&](Worker& self) {
        self.HandOver([&] {
          // Joining the worker from here would wait for this very routine to end.
          if (runs++ == 0) refused = !worker.Stop();
        });
        self.Sleep(1);
      },
      false);
  ASSERT_TRUE(PumpUntil(guiThread, [&] { return runs >= 3; }));
  EXPECT_TRUE(refused);
  EXPECT_FALSE(worker.Stopping());
  EXPECT_TRUE(worker.Stop());
}

TEST(Worker, TheProtocolThreadIsTheThreadThatMadeTheLoop) {
  RunLoop guiThread;
  EXPECT_TRUE(guiThread.IsCurrent());
  bool elsewhere = true;
  std::thread([&] { elsewhere = guiThread.IsCurrent(); }).join();
  EXPECT_FALSE(elsewhere);
}
