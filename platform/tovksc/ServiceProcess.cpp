#include "platform/tovksc/ServiceProcess.h"

#include <grp.h>
#include <linux/capability.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace {

// The kernel's capability numbers, by name; the position is the number.
constexpr const char* kCapabilityNames[] = {
    "CAP_CHOWN",           "CAP_DAC_OVERRIDE",    "CAP_DAC_READ_SEARCH", "CAP_FOWNER",
    "CAP_FSETID",          "CAP_KILL",            "CAP_SETGID",          "CAP_SETUID",
    "CAP_SETPCAP",         "CAP_LINUX_IMMUTABLE", "CAP_NET_BIND_SERVICE", "CAP_NET_BROADCAST",
    "CAP_NET_ADMIN",       "CAP_NET_RAW",         "CAP_IPC_LOCK",        "CAP_IPC_OWNER",
    "CAP_SYS_MODULE",      "CAP_SYS_RAWIO",       "CAP_SYS_CHROOT",      "CAP_SYS_PTRACE",
    "CAP_SYS_PACCT",       "CAP_SYS_ADMIN",       "CAP_SYS_BOOT",        "CAP_SYS_NICE",
    "CAP_SYS_RESOURCE",    "CAP_SYS_TIME",        "CAP_SYS_TTY_CONFIG",  "CAP_MKNOD",
    "CAP_LEASE",           "CAP_AUDIT_WRITE",     "CAP_AUDIT_CONTROL",   "CAP_SETFCAP",
    "CAP_MAC_OVERRIDE",    "CAP_MAC_ADMIN",       "CAP_SYSLOG",          "CAP_WAKE_ALARM",
    "CAP_BLOCK_SUSPEND",   "CAP_AUDIT_READ",      "CAP_PERFMON",         "CAP_BPF",
    "CAP_CHECKPOINT_RESTORE",
};
constexpr int kCapabilityCount = sizeof kCapabilityNames / sizeof kCapabilityNames[0];
static_assert(kCapabilityCount == CAP_LAST_CAP + 1, "the names follow the kernel headers");

// A user in more groups than this is refused rather than cut short; the
// kernel's own bound (NGROUPS_MAX) is far above any real system account.
constexpr int kMaxGroups = 1024;

bool CapabilityMask(const std::vector<std::string>& names, uint64_t& mask, std::string& error) {
  mask = 0;
  for (const auto& name : names) {
    int number = TServiceProcess::CapabilityNumber(name);
    if (number < 0) {
      error = "unknown capability " + name;
      return false;
    }
    mask |= uint64_t{1} << number;
  }
  return true;
}

bool SetCapabilities(uint64_t permitted, uint64_t inheritable) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  for (int i = 0; i < 2; ++i) {
    data[i].permitted = data[i].effective = static_cast<uint32_t>(permitted >> (32 * i));
    data[i].inheritable = static_cast<uint32_t>(inheritable >> (32 * i));
  }
  return syscall(SYS_capset, &header, data) == 0;
}

// As systemd does: where the hard limit may not be raised (a container
// without CAP_SYS_RESOURCE), the service gets as close as it may.
bool SetClosestFileLimit(const rlimit& wanted) {
  if (setrlimit(RLIMIT_NOFILE, &wanted) == 0) return true;
  rlimit current;
  if (errno != EPERM || getrlimit(RLIMIT_NOFILE, &current) != 0) return false;
  rlimit closest{std::min(wanted.rlim_cur, current.rlim_max),
                 std::min(wanted.rlim_max, current.rlim_max)};
  return setrlimit(RLIMIT_NOFILE, &closest) == 0;
}

}  // namespace

int TServiceProcess::CapabilityNumber(const std::string& name) {
  std::string upper;
  for (char c : name) upper += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  if (upper.rfind("CAP_", 0) != 0) upper = "CAP_" + upper;
  for (int i = 0; i < kCapabilityCount; ++i)
    if (upper == kCapabilityNames[i]) return i;
  return -1;
}

bool TServiceProcess::ParseFileLimit(const std::string& text, rlimit& limit) {
  auto number = [](const std::string& part, rlim_t& value) {
    if (part == "infinity") {
      value = RLIM_INFINITY;
      return true;
    }
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos) return false;
    errno = 0;
    unsigned long long n = std::strtoull(part.c_str(), nullptr, 10);
    if (errno == ERANGE) return false;
    value = static_cast<rlim_t>(n);
    return true;
  };
  std::size_t colon = text.find(':');
  if (colon == std::string::npos) {
    if (!number(text, limit.rlim_cur)) return false;
    limit.rlim_max = limit.rlim_cur;
    return true;
  }
  return number(text.substr(0, colon), limit.rlim_cur) &&
         number(text.substr(colon + 1), limit.rlim_max) && limit.rlim_cur <= limit.rlim_max;
}

bool TServiceProcess::Prepare(const TUnitFile& unit, std::string& error) {
  *this = TServiceProcess{};
  if (!unit.User.empty()) {
    errno = 0;
    passwd* user = getpwnam(unit.User.c_str());
    if (!user) {
      error = "no user " + unit.User;
      return false;
    }
    SwitchUser = true;
    Uid = user->pw_uid;
    Gid = user->pw_gid;
    Account = {{"USER", user->pw_name}, {"LOGNAME", user->pw_name}, {"HOME", user->pw_dir}};
    std::string name = user->pw_name;
    if (!unit.Group.empty()) {
      group* chosen = getgrnam(unit.Group.c_str());
      if (!chosen) {
        error = "no group " + unit.Group;
        return false;
      }
      Gid = chosen->gr_gid;
    }
    int count = kMaxGroups;
    Groups.resize(static_cast<std::size_t>(count));
    if (getgrouplist(name.c_str(), Gid, Groups.data(), &count) < 0) {
      error = "user " + name + " is in too many groups";
      return false;
    }
    Groups.resize(static_cast<std::size_t>(count));
  } else if (!unit.Group.empty()) {
    group* chosen = getgrnam(unit.Group.c_str());
    if (!chosen) {
      error = "no group " + unit.Group;
      return false;
    }
    SwitchUser = true;
    Uid = getuid();
    Gid = chosen->gr_gid;
    Groups = {Gid};
  }
  if (!CapabilityMask(unit.AmbientCapabilities, Ambient, error)) return false;
  BoundCapabilities = unit.HasCapabilityBoundingSet;
  if (!CapabilityMask(unit.CapabilityBoundingSet, Bounding, error)) return false;
  NoNewPrivileges = unit.NoNewPrivileges;
  if (!unit.LimitNOFILE.empty()) {
    if (!ParseFileLimit(unit.LimitNOFILE, FileLimit)) {
      error = "LimitNOFILE=" + unit.LimitNOFILE + " is not a limit";
      return false;
    }
    LimitFiles = true;
  }
  return true;
}

bool TServiceProcess::Apply(const char*& step) const {
  // The limit first: raising a hard limit needs the root the switch gives up.
  if (LimitFiles && !SetClosestFileLimit(FileLimit)) {
    step = "set LimitNOFILE";
    return false;
  }
  if (BoundCapabilities) {
    for (int cap = 0; cap < kCapabilityCount; ++cap) {
      if (Bounding & (uint64_t{1} << cap)) continue;
      // EINVAL: a capability this kernel does not know, so nothing to drop.
      if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0 && errno != EINVAL) {
        step = "drop a capability from the bounding set";
        return false;
      }
    }
  }
  if (SwitchUser) {
    // Keeps the permitted capabilities through setuid, so that the ambient
    // ones can be raised from them below.
    if (Ambient && prctl(PR_SET_KEEPCAPS, 1, 0, 0, 0) != 0) {
      step = "keep capabilities";
      return false;
    }
    if (setgroups(Groups.size(), Groups.data()) != 0 || setgid(Gid) != 0) {
      step = "switch to the group";
      return false;
    }
    if (setuid(Uid) != 0) {
      step = "switch to the user";
      return false;
    }
  }
  if (Ambient) {
    // An ambient capability must be permitted and inheritable; it then
    // survives the exec of a program that has no file capabilities.
    if (!SetCapabilities(Ambient, Ambient)) {
      step = "set the capabilities";
      return false;
    }
    for (int cap = 0; cap < kCapabilityCount; ++cap) {
      if (!(Ambient & (uint64_t{1} << cap))) continue;
      if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, cap, 0, 0) != 0) {
        step = "raise an ambient capability";
        return false;
      }
    }
  }
  if (NoNewPrivileges && prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
    step = "set NoNewPrivileges";
    return false;
  }
  return true;
}
