#include "tests/gateway/GatewayFixture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "platform/Paths.h"
#include "server/reply/SvrSetupHolder.h"

namespace gwtest {

std::string ScriptDir() { return GATEWAY_SCRIPT_DIR; }
std::string ExtensionDir() { return GATEWAY_EXT_DIR; }
std::string Sys(const std::string& linuxPath) { return ToSystemPath(linuxPath); }

std::string CopyInto(const std::string& source, const std::string& dir, const std::string& name) {
  std::string target = dir + "/" + (name.empty() ? source.substr(source.rfind('/') + 1) : name);
  tovktest::WriteFile(target, tovktest::ReadFile(source));
  chmod(target.c_str(), 0755);
  return target;
}

void AllowExecution(const std::string& dir, bool tls, const std::string& rights) {
  std::string text = "[ostatni]\r\nspoustet=1\r\nisSSL=" + std::string(tls ? "1" : "0") + "\r\n";
  if (!rights.empty()) text += "[prava]\r\n*.*=" + rights + "\r\n";
  tovktest::WriteFile(dir + "/http.aut", text);
}

TRequestContext::TRequestContext() {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0) {
    Socket.Attach(ends[0], true);
    Peer = ends[1];
  }
}

TRequestContext::~TRequestContext() {
  Socket.Close();
  if (Peer >= 0) close(Peer);
}

void TRequestContext::Request(const std::string& requestLine, const std::string& headerLines) {
  Header.RequestLine = requestLine;
  std::istringstream lines(headerLines);
  std::string line;
  while (std::getline(lines, line)) {
    if (!line.empty()) Header.ParseLine(line);
  }
}

TReplyContext TRequestContext::Context(bool isTLS) {
  Requests.push_back(TRequest::FromHeader(Header, Body, Socket.PeerAddress(), isTLS));
  return TReplyContext{Requests.back(), Socket, Settings()};
}

std::string TRequestContext::Received() {
  Socket.Close();
  std::string all;
  char piece[65536];
  // Bounded: the writer side is closed, so the data ends.
  for (int round = 0; round < 100000; ++round) {
    pollfd p{Peer, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) break;
    ssize_t n = read(Peer, piece, sizeof piece);
    if (n <= 0) break;
    all.append(piece, static_cast<std::size_t>(n));
  }
  return all;
}

std::string ResponseHead(const std::string& response) {
  std::size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? response : response.substr(0, end + 2);
}

std::string ResponseBody(const std::string& response) {
  std::size_t end = response.find("\r\n\r\n");
  return end == std::string::npos ? std::string() : response.substr(end + 4);
}

TSettingsScope::TSettingsScope() {
  TSvrSetupHolder& s = Settings();
  s.AliasTable.clear();
  s.AppTable.clear();
  s.Modules.clear();
  s.Port = 8080;
}

TSettingsScope::~TSettingsScope() {
  TSvrSetupHolder& s = Settings();
  s.AliasTable.clear();
  s.AppTable.clear();
  s.Modules.clear();
}

}  // namespace gwtest
