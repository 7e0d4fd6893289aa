#include "platform/WorkerThreads.h"

#include <pthread.h>
#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace {

// Waits on the semaphore for at most `wait`, on the monotonic clock so
// that a change of the wall clock cannot end the wait early or make it
// last for ever. True when it was posted.
bool WaitForJob(sem_t& semaphore, std::chrono::milliseconds wait) {
  timespec deadline;
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(wait.count() / 1000);
  deadline.tv_nsec += static_cast<long>(wait.count() % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  for (;;) {
    if (sem_clockwait(&semaphore, CLOCK_MONOTONIC, &deadline) == 0) return true;
    if (errno != EINTR) return false;
  }
}

}  // namespace

struct TWorkerThreads::TWorker {
  TWorkerThreads* Pool = nullptr;
  TWorker() { sem_init(&Wake, 0, 0); }
  ~TWorker() { sem_destroy(&Wake); }
  // Posted once for every job handed over, after the pool's lock is let
  // go, so the thread does not wake only to wait for that lock. A plain
  // semaphore, not the standard one: that spins on sched_yield first,
  // a system call each turn.
  sem_t Wake;
  // Set, under the pool's lock, by the one who hands the thread a job;
  // cleared by the thread when the job has ended.
  TJob Job = nullptr;
  void* Argument = nullptr;
};

TWorkerThreads::TWorkerThreads(std::size_t stackBytes, std::size_t maxIdle,
                               std::chrono::milliseconds idleLife)
    : StackBytes(stackBytes), MaxIdle(maxIdle), IdleLife(idleLife) {}

bool TWorkerThreads::Run(TJob job, void* argument, std::string& failure) {
  TWorker* waiting = nullptr;
  {
    std::lock_guard<std::mutex> hold(Lock);
    if (!Idle.empty()) {
      waiting = Idle.back();
      Idle.pop_back();
      waiting->Job = job;
      waiting->Argument = argument;
    }
  }
  if (waiting) {
    // Taken off the list with a job set, the thread cannot end before it
    // has been woken and has run the job.
    sem_post(&waiting->Wake);
    return true;
  }
  auto worker = std::make_unique<TWorker>();
  worker->Pool = this;
  worker->Job = job;
  worker->Argument = argument;
  pthread_attr_t attributes;
  int result = pthread_attr_init(&attributes);
  if (result == 0) {
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, StackBytes);
    pthread_t thread;
    result = pthread_create(&thread, &attributes, &ThreadMain, worker.get());
    pthread_attr_destroy(&attributes);
  }
  if (result != 0) {
    failure = std::strerror(result);
    return false;
  }
  worker.release();  // the thread owns it now
  return true;
}

std::size_t TWorkerThreads::IdleCount() {
  std::lock_guard<std::mutex> hold(Lock);
  return Idle.size();
}

void* TWorkerThreads::ThreadMain(void* worker) {
  std::unique_ptr<TWorker> self(static_cast<TWorker*>(worker));
  self->Pool->Serve(*self);
  return nullptr;
}

void TWorkerThreads::Serve(TWorker& worker) {
  // Set before the thread started, which orders it before this read.
  TJob job = worker.Job;
  void* argument = worker.Argument;
  for (;;) {
    job(argument);
    {
      std::lock_guard<std::mutex> hold(Lock);
      worker.Job = nullptr;
      worker.Argument = nullptr;
      if (Idle.size() >= MaxIdle) return;
      Idle.push_back(&worker);
    }
    const bool woken = WaitForJob(worker.Wake, IdleLife);
    std::unique_lock<std::mutex> hold(Lock);
    if (!woken) {
      if (worker.Job == nullptr) {
        // Nobody took it in time. It is still listed, since whoever takes
        // a thread takes it off the list and sets its job under this lock.
        Idle.erase(std::find(Idle.begin(), Idle.end(), &worker));
        return;
      }
      // Taken just as the wait ran out: the wake is on its way.
      hold.unlock();
      while (sem_wait(&worker.Wake) != 0) {
      }
      hold.lock();
    }
    // Read under the lock they were written under: the semaphore orders
    // them too, but not every checker can see that.
    job = worker.Job;
    argument = worker.Argument;
  }
}
