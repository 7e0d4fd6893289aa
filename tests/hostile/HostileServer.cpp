#include "tests/hostile/HostileServer.h"

#include <sys/resource.h>
#include <sys/stat.h>

namespace hostile {

using tovktest::MakeDirs;
using tovktest::ServerProcess;
using tovktest::WriteFile;

HostileServer::HostileServer() {
  const std::string www = Server.DocRoot();
  WriteFile(www + "/index.html", "<p>root index</p>");
  MakeDirs(www + "/sub");
  WriteFile(www + "/sub/page.txt", "sub page");
  WriteFile(www + "/sub/guarded.txt", "guarded");
  WriteFile(www + "/sub/http.aut",
            "[ostatni]\nisSSL=0\nspoustet=0\n[prava]\nguarded.txt=" + kAccessSecret + "\n");
  MakeDirs(AliasDir());
  WriteFile(AliasDir() + "/a.txt", "aliased file");
  MakeDirs(CgiDir());
  WriteFile(CgiDir() + "/http.aut", "[ostatni]\nisSSL=0\nspoustet=1\n");
  // Outside every served directory: beside the root, above it, and at the
  // root of the drive c: that Windows paths map to.
  WriteFile(Server.Dir() / "outside.txt", kOutsideMarker);
  WriteFile(Server.Dir() / "www-outside.txt", kOutsideMarker);
  WriteFile(Server.Dir() / "c/outside.txt", kOutsideMarker);
  WriteFile(Server.Dir() / "c/http.aut", kOutsideMarker);
}

bool HostileServer::Start(const std::string& extra) {
  std::string config = Server.BaseConfig() +
                       "\"App num\"=dword:00000001\n"
                       "\"App 1\"=\"cgi,TOVK/EXEC\"\n"
                       "\"Alias num\"=dword:00000002\n"
                       "\"Alias 2\"=\"" +
                       ServerProcess::RegEscape("*,/al/," + ServerProcess::SystemPath(AliasDir()) +
                                                "\\") +
                       "\"\n" + extra;
  if (!Server.ImportReg(config)) return false;
  return Server.Start();
}

bool HostileServer::Healthy() {
  std::string answer = Get("GET /index.html HTTP/1.0\r\n\r\n", std::chrono::seconds(10));
  return StatusOf(answer) == 200 && answer.find("root index") != std::string::npos;
}

long RaiseOpenFileLimit(long wanted) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur != RLIM_INFINITY && static_cast<long>(limit.rlim_cur) < wanted) {
    rlim_t target = static_cast<rlim_t>(wanted);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < target) target = limit.rlim_max;
    limit.rlim_cur = target;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<long>(limit.rlim_cur);
}

int StatusOf(const std::string& answer) {
  if (answer.rfind("HTTP/1.", 0) != 0 || answer.size() < 12) return 0;
  return std::atoi(answer.substr(9, 3).c_str());
}

}  // namespace hostile
