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

long RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return kUnlimitedDescriptors;
  if (limit.rlim_cur != limit.rlim_max) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max;
    // Some systems refuse an unlimited soft limit for descriptors; the old
    // limit then stays in force.
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return AsCount(limit.rlim_cur);
}

long DescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return kUnlimitedDescriptors;
  return AsCount(limit.rlim_cur);
}
