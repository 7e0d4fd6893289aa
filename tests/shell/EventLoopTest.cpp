// The message loop under the tray window: posted work, timers, errors.

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <thread>

#include "platform/EventLoop.h"

namespace {

TEST(EventLoop, WorkPostedFromAnotherThreadRunsOnTheLoopThread) {
  TEventLoop loop;
  std::thread::id ranOn;
  std::thread poster([&] {
    loop.Post([&] {
      ranOn = std::this_thread::get_id();
      loop.Terminate();
    });
  });
  loop.Run();
  poster.join();
  EXPECT_EQ(std::this_thread::get_id(), ranOn);
}

TEST(EventLoop, TimersFireUntilDisabledAndMayDisableThemselves) {
  TEventLoop loop;
  int ticks = 0;
  TEventTimer repeating(loop, 5, true);
  TEventTimer once(loop, 1, true);
  int onceTicks = 0;
  once.OnTimer = [&] {
    ++onceTicks;
    once.SetEnabled(false);
  };
  repeating.OnTimer = [&] {
    if (++ticks == 3) loop.Terminate();
  };
  TEventTimer never(loop, 1, false, [&] { ADD_FAILURE() << "a disabled timer fired"; });
  loop.Run();
  EXPECT_EQ(3, ticks);
  EXPECT_EQ(1, onceTicks);
}

TEST(EventLoop, AnExceptionInAHandlerIsReportedAndTheLoopGoesOn) {
  TEventLoop loop;
  std::string reported;
  loop.OnException = [&](const std::exception& e) { reported = e.what(); };
  loop.Post([] { throw std::runtime_error("boom"); });
  bool after = false;
  loop.Post([&] {
    after = true;
    loop.Terminate();
  });
  loop.Run();
  EXPECT_EQ("boom", reported);
  EXPECT_TRUE(after);
}

TEST(EventLoop, SignalsArriveAsWorkOnTheLoop) {
  TEventLoop loop;
  int hups = 0;
  loop.OnSignal(SIGUSR2, [&] {
    ++hups;
    loop.Terminate();
  });
  ::raise(SIGUSR2);
  TEventTimer guard(loop, 10000, true, [&] { loop.Terminate(); });
  loop.Run();
  EXPECT_EQ(1, hups);
}

}  // namespace
