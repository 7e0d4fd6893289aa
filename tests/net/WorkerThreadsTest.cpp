#include "platform/WorkerThreads.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct TProbe {
  std::promise<pthread_t> Ran;
  std::shared_future<void> Release;
};

void RecordThread(void* probe) {
  auto* p = static_cast<TProbe*>(probe);
  p->Ran.set_value(pthread_self());
  p->Release.wait();
}

// Waits, bounded, until the pool shows that many idle threads.
bool IdleBecomes(TWorkerThreads& pool, std::size_t count) {
  for (int i = 0; i < 500; ++i) {
    if (pool.IdleCount() == count) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// A job ends, its thread waits and takes the next job; jobs running at the
// same time get threads of their own; no more than the idle bound wait, and
// waiting threads end after their idle life.
TEST(WorkerThreads, ReusesAnIdleThreadKeepsJobsApartAndLetsIdleThreadsGo) {
  static TWorkerThreads pool(256 * 1024, 1, 300ms);  // outlives any thread the test leaves
  std::string failure;
  std::promise<void> open;
  const std::shared_future<void> released = open.get_future().share();
  open.set_value();

  TProbe first{{}, released};
  ASSERT_TRUE(pool.Run(&RecordThread, &first, failure)) << failure;
  const pthread_t firstThread = first.Ran.get_future().get();
  ASSERT_TRUE(IdleBecomes(pool, 1));
  TProbe second{{}, released};
  ASSERT_TRUE(pool.Run(&RecordThread, &second, failure)) << failure;
  EXPECT_TRUE(pthread_equal(firstThread, second.Ran.get_future().get()));

  // Two jobs held at once run on two threads; when both end only one may wait.
  ASSERT_TRUE(IdleBecomes(pool, 1));
  std::promise<void> hold;
  const std::shared_future<void> held = hold.get_future().share();
  TProbe a{{}, held}, b{{}, held};
  ASSERT_TRUE(pool.Run(&RecordThread, &a, failure));
  ASSERT_TRUE(pool.Run(&RecordThread, &b, failure));
  EXPECT_FALSE(pthread_equal(a.Ran.get_future().get(), b.Ran.get_future().get()));
  EXPECT_EQ(pool.IdleCount(), 0u);
  hold.set_value();
  ASSERT_TRUE(IdleBecomes(pool, 1));
  // Nobody comes: the last waiting thread ends too.
  EXPECT_TRUE(IdleBecomes(pool, 0));
}

}  // namespace
