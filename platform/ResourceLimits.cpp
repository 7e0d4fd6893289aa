#include "platform/ResourceLimits.h"

#include <sys/resource.h>

#include <limits>

namespace {

// What an unlimited or unreadable limit counts as: large enough that every
// bound derived from it is decided by the bound's own ceiling.
constexpr long kUnlimitedDescriptors = std::numeric_limits<int>::max();

long AsCount(rlim_t value) {
  if (value == RLIM_INFINITY || value > static_cast<rlim_t>(kUnlimitedDescriptors))
    return kUnlimitedDescriptors;
  return static_cast<long>(value);
}

}  // namespace

long RaiseDescriptorLimit(long useful) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return kUnlimitedDescriptors;
  rlim_t target = limit.rlim_max;
  if (useful > 0 && static_cast<rlim_t>(useful) < target) target = static_cast<rlim_t>(useful);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < target) {
    rlimit raised = limit;
    raised.rlim_cur = target;
    // Refused (a hard limit above what the kernel allows a process): the
    // old limit stays in force.
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return AsCount(limit.rlim_cur);
}

long DescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return kUnlimitedDescriptors;
  return AsCount(limit.rlim_cur);
}
