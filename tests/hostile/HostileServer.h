#pragma once
// A running server with a site laid out for attacks: a document root with a
// protected subdirectory, an aliased directory, a CGI directory, and marker
// files outside all of them whose contents must never be served.

#include <chrono>
#include <string>

#include "tests/support/ServerProcess.h"

namespace hostile {

// Bytes that only the files outside the served directories hold, and the
// secret inside the access file.
inline const std::string kOutsideMarker = "OUTSIDE-MARKER-5e1d07";
inline const std::string kAccessSecret = "0123456789ABCDEFFEDCBA9876543210";

class HostileServer {
 public:
  HostileServer();
  // Imports the configuration (plus `extra` registry lines) and starts.
  bool Start(const std::string& extra = "");
  tovktest::ServerProcess& Process() { return Server; }
  int Port() const { return Server.Port(); }
  std::string Get(const std::string& request,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    return tovktest::HttpExchange(Server.Port(), request, timeout);
  }
  // True when a plain GET of the index is answered in full.
  bool Healthy();

  std::string AliasDir() const { return Server.Dir() / "aliased"; }
  std::string CgiDir() const { return Server.DocRoot() + "/cgi"; }

 private:
  tovktest::ServerProcess Server;
};

// Lifts the soft limit of open files to at least `wanted` (up to the hard
// limit), for this process and the server it starts; the limit reached.
long RaiseOpenFileLimit(long wanted);

// Status code of an HTTP answer, 0 when it has none.
int StatusOf(const std::string& answer);

}  // namespace hostile
