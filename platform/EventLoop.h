#pragma once
// The window toolkit's message loop, without windows: work posted from any
// thread, timers, and signals read through a signalfd (never handled inside
// a signal handler). A loop and its timers belong to the thread that runs it;
// only Post and Terminate may be called from other threads.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

class TEventLoop;

// A timer as the toolkit has it: while enabled it fires every interval,
// counted from when it was enabled or its interval was set. An interval of 0
// never fires.
class TEventTimer {
 public:
  TEventTimer(TEventLoop& loop, uint32_t intervalMs, bool enabled,
              std::function<void()> onTimer = {});
  ~TEventTimer();
  TEventTimer(const TEventTimer&) = delete;
  TEventTimer& operator=(const TEventTimer&) = delete;

  bool Enabled() const { return IsEnabled; }
  void SetEnabled(bool enabled);
  uint32_t Interval() const { return IntervalMs; }
  void SetInterval(uint32_t intervalMs);

  std::function<void()> OnTimer;

 private:
  friend class TEventLoop;
  TEventLoop& Loop;
  uint32_t IntervalMs;
  bool IsEnabled;
  std::chrono::steady_clock::time_point Due;
};

class TEventLoop {
 public:
  TEventLoop();
  ~TEventLoop();
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  // From any thread: run `work` on the loop's thread.
  void Post(std::function<void()> work);
  // Runs `handler` on the loop's thread whenever the signal arrives. The
  // signal is blocked in the calling thread; a process that has threads must
  // block it in all of them (the service dispatcher does).
  void OnSignal(int signalNumber, std::function<void()> handler);

  // Runs until Terminate. Exceptions that escape posted work, timers or
  // signal handlers go to OnException; the loop goes on.
  void Run();
  // From any thread: Run returns after the work it is doing now.
  void Terminate();
  bool Terminated() const { return Stop; }
  // Runs what is due now (signals, posted work, timers) without waiting.
  void ProcessMessages();

  std::function<void(const std::exception&)> OnException;
  // Runs after each round of signals, posted work and timers.
  std::function<void()> OnIdle;

 private:
  friend class TEventTimer;
  void Iterate(bool wait);
  void Guarded(const std::function<void()>& work);
  int TimeoutMs() const;

  int WakeFd = -1;
  int SignalFd = -1;
  std::map<int, std::function<void()>> SignalHandlers;
  std::mutex QueueLock;
  std::deque<std::function<void()>> Queue;
  std::vector<TEventTimer*> Timers;
  std::atomic<bool> Stop{false};
};
