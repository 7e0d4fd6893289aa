#pragma once
// What a unit asks of its service's process, carried out by tovksc between
// fork and exec as systemd would: the account (User=, Group=), the
// capabilities kept across the switch (AmbientCapabilities=,
// CapabilityBoundingSet=), NoNewPrivileges= and LimitNOFILE=.
//
// Everything is looked up before the fork (Prepare), so that a unit naming
// an unknown user or capability is refused with a message to the person who
// started it; the child then only makes system calls (Apply).

#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ServiceManager.h"

class TServiceProcess {
 public:
  // False with the reason in `error` when the unit cannot be carried out.
  bool Prepare(const TUnitFile& unit, std::string& error);
  // In the child. False with errno set and the failed step in `step`.
  bool Apply(const char*& step) const;
  // The variables systemd sets for a service with User=: USER, LOGNAME, HOME.
  const std::map<std::string, std::string>& AccountEnvironment() const { return Account; }

  // CAP_NET_BIND_SERVICE and the like (case as written), -1 when unknown.
  static int CapabilityNumber(const std::string& name);
  // "N", "SOFT:HARD" or "infinity", as systemd reads LimitNOFILE=.
  static bool ParseFileLimit(const std::string& text, rlimit& limit);

 private:
  bool SwitchUser = false;
  uid_t Uid = 0;
  gid_t Gid = 0;
  std::vector<gid_t> Groups;
  std::map<std::string, std::string> Account;
  uint64_t Ambient = 0;
  bool BoundCapabilities = false;
  uint64_t Bounding = 0;
  bool NoNewPrivileges = false;
  bool LimitFiles = false;
  rlimit FileLimit{};
};
