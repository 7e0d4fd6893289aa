#pragma once
// TWorkerThreads: runs each job on a thread of its own, one job at a time
// per thread. A thread whose job has ended waits a while for the next one
// instead of ending, so a busy server hands a new connection to a thread
// that is already there rather than creating one and tearing it down for
// every connection (a dozen system calls and a fresh stack each time).

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

class TWorkerThreads {
 public:
  using TJob = void (*)(void*);

  // `stackBytes` is the stack of every thread; at most `maxIdle` threads
  // wait for work at once, each for at most `idleLife`.
  TWorkerThreads(std::size_t stackBytes, std::size_t maxIdle, std::chrono::milliseconds idleLife);
  // Threads still waiting are left to end with the process: they own
  // nothing but their wait, and the pool is meant to live as long as it.
  ~TWorkerThreads() = default;
  TWorkerThreads(const TWorkerThreads&) = delete;
  TWorkerThreads& operator=(const TWorkerThreads&) = delete;

  // Runs job(argument) on a waiting thread, or on a new one when none
  // waits. False, with the reason in `failure`, when no thread could be
  // started; the job has then not run and the caller still owns the
  // argument.
  bool Run(TJob job, void* argument, std::string& failure);

  // Threads waiting for work now (for tests and the status text).
  std::size_t IdleCount();

 private:
  struct TWorker;
  static void* ThreadMain(void* worker);
  void Serve(TWorker& worker);

  const std::size_t StackBytes;
  const std::size_t MaxIdle;
  const std::chrono::milliseconds IdleLife;
  std::mutex Lock;
  // The most recently idle thread is handed the next job: its stack and
  // caches are the warmest.
  std::vector<TWorker*> Idle;
};
