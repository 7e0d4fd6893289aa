#include "platform/EventLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

using Clock = std::chrono::steady_clock;

TEventTimer::TEventTimer(TEventLoop& loop, uint32_t intervalMs, bool enabled,
                         std::function<void()> onTimer)
    : OnTimer(std::move(onTimer)), Loop(loop), IntervalMs(intervalMs), IsEnabled(enabled),
      Due(Clock::now() + std::chrono::milliseconds(intervalMs)) {
  Loop.Timers.push_back(this);
}

TEventTimer::~TEventTimer() {
  auto& timers = Loop.Timers;
  timers.erase(std::remove(timers.begin(), timers.end(), this), timers.end());
}

void TEventTimer::SetEnabled(bool enabled) {
  if (enabled == IsEnabled) return;
  IsEnabled = enabled;
  Due = Clock::now() + std::chrono::milliseconds(IntervalMs);
}

void TEventTimer::SetInterval(uint32_t intervalMs) {
  IntervalMs = intervalMs;
  Due = Clock::now() + std::chrono::milliseconds(IntervalMs);
}

TEventLoop::TEventLoop() {
  WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (WakeFd < 0) throw std::runtime_error("eventfd failed");
}

TEventLoop::~TEventLoop() {
  if (SignalFd >= 0) ::close(SignalFd);
  ::close(WakeFd);
}

void TEventLoop::Post(std::function<void()> work) {
  {
    std::lock_guard<std::mutex> guard(QueueLock);
    Queue.push_back(std::move(work));
  }
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
}

void TEventLoop::OnSignal(int signalNumber, std::function<void()> handler) {
  SignalHandlers[signalNumber] = std::move(handler);
  sigset_t mask;
  sigemptyset(&mask);
  for (const auto& entry : SignalHandlers) sigaddset(&mask, entry.first);
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  int fd = signalfd(SignalFd, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
  if (fd < 0) throw std::runtime_error("signalfd failed");
  SignalFd = fd;
}

void TEventLoop::Terminate() {
  Stop = true;
  uint64_t one = 1;
  [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
}

void TEventLoop::Run() {
  while (!Stop) Iterate(true);
}

void TEventLoop::ProcessMessages() { Iterate(false); }

void TEventLoop::Guarded(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& e) {
    if (OnException) OnException(e);
  } catch (...) {
    if (OnException) OnException(std::runtime_error("unknown exception"));
  }
}

int TEventLoop::TimeoutMs() const {
  auto now = Clock::now();
  long long best = -1;
  for (const TEventTimer* t : Timers) {
    if (!t->IsEnabled || t->IntervalMs == 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(t->Due - now).count() + 1;
    if (left < 0) left = 0;
    if (best < 0 || left < best) best = left;
  }
  return static_cast<int>(best);
}

void TEventLoop::Iterate(bool wait) {
  pollfd fds[2] = {{WakeFd, POLLIN, 0}, {SignalFd, POLLIN, 0}};
  int count = SignalFd >= 0 ? 2 : 1;
  if (poll(fds, static_cast<nfds_t>(count), wait ? TimeoutMs() : 0) < 0 && errno != EINTR) return;

  if (SignalFd >= 0) {
    signalfd_siginfo info;
    while (::read(SignalFd, &info, sizeof info) == sizeof info) {
      auto handler = SignalHandlers.find(static_cast<int>(info.ssi_signo));
      if (handler != SignalHandlers.end()) Guarded(handler->second);
    }
  }

  uint64_t wakes;
  [[maybe_unused]] ssize_t n = ::read(WakeFd, &wakes, sizeof wakes);
  std::deque<std::function<void()>> work;
  {
    std::lock_guard<std::mutex> guard(QueueLock);
    work.swap(Queue);
  }
  for (auto& item : work) Guarded(item);

  // A handler may enable, disable or re-arm any timer, so walk a copy and
  // look at each timer again just before firing it.
  auto now = Clock::now();
  std::vector<TEventTimer*> timers = Timers;
  for (TEventTimer* t : timers) {
    if (std::find(Timers.begin(), Timers.end(), t) == Timers.end()) continue;
    if (!t->IsEnabled || t->IntervalMs == 0 || t->Due > now) continue;
    t->Due = now + std::chrono::milliseconds(t->IntervalMs);
    if (t->OnTimer) Guarded(t->OnTimer);
  }
  if (OnIdle) Guarded(OnIdle);
}
