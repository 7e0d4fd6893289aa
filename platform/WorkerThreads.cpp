#include "platform/WorkerThreads.h"

#include <pthread.h>

#include <algorithm>
#include <cstring>
#include <memory>

struct TWorkerThreads::TWorker {
  TWorkerThreads* Pool = nullptr;
  std::condition_variable Wake;
  // Set, under the pool's lock, by the one who hands the thread a job;
  // cleared by the thread when the job has ended.
  TJob Job = nullptr;
  void* Argument = nullptr;
};

TWorkerThreads::TWorkerThreads(std::size_t stackBytes, std::size_t maxIdle,
                               std::chrono::milliseconds idleLife)
    : StackBytes(stackBytes), MaxIdle(maxIdle), IdleLife(idleLife) {}

bool TWorkerThreads::Run(TJob job, void* argument, std::string& failure) {
  {
    std::lock_guard<std::mutex> hold(Lock);
    if (!Idle.empty()) {
      TWorker* worker = Idle.back();
      Idle.pop_back();
      worker->Job = job;
      worker->Argument = argument;
      // Woken under the lock: once it is released the thread may run the
      // job, end it and end itself before a later wake would reach it.
      worker->Wake.notify_one();
      return true;
    }
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
  for (;;) {
    worker.Job(worker.Argument);
    std::unique_lock<std::mutex> hold(Lock);
    worker.Job = nullptr;
    worker.Argument = nullptr;
    if (Idle.size() >= MaxIdle) return;
    Idle.push_back(&worker);
    if (!worker.Wake.wait_for(hold, IdleLife, [&] { return worker.Job != nullptr; })) {
      // Nobody took it in time; it is still listed, since whoever takes a
      // thread sets its job under the same lock.
      Idle.erase(std::find(Idle.begin(), Idle.end(), &worker));
      return;
    }
  }
}
