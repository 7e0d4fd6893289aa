#include "tests/fuzz/FuzzServer.h"

#include <sys/random.h>

#include <cstdint>
#include <cstdlib>

#include "platform/Paths.h"
#include "server/net/MD5.h"
#include "server/reply/SvrSetupHolder.h"
#include "tests/fuzz/FuzzSupport.h"

namespace tovkfuzz {

namespace {

// Random, so that nothing in the code under test can have compared input
// against it: if it shows in an answer, a file outside the root was read.
std::string RandomMark() {
  unsigned char bytes[12] = {};
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) std::abort();
  std::string mark = "OUTSIDE-THE-ROOT-";
  static const char kHex[] = "0123456789abcdef";
  for (unsigned char b : bytes) {
    mark += kHex[b >> 4];
    mark += kHex[b & 15];
  }
  return mark;
}

TServedTree MakeTree() {
  const std::string scratch = ScratchDir();
  ::setenv("TOVK_REGISTRY", (scratch + "/registry.db").c_str(), 1);
  ::setenv("TZ", "UTC", 1);

  TServedTree tree;
  tree.Root = scratch + "/www";
  tree.SystemRoot = ToSystemPath(tree.Root) + "\\";
  tree.OutsideMark = RandomMark();
  WriteFile(scratch + "/outside.txt", tree.OutsideMark);
  WriteFile(scratch + "/www.txt", tree.OutsideMark);  // beside the root, sharing its prefix
  MakeDir(tree.Root + "/sub");
  MakeDir(tree.Root + "/listed/deeper");
  MakeDir(tree.Root + "/docs");
  MakeDir(tree.Root + "/locked");
  MakeDir(tree.Root + "/tls");
  WriteFile(tree.Root + "/a.txt", "hello\n");
  WriteFile(tree.Root + "/index.html", "<p>root index</p>\n");
  WriteFile(tree.Root + "/sub/index.html", "<p>sub index</p>\n");
  WriteFile(tree.Root + "/listed/x.txt", "x\n");
  WriteFile(tree.Root + "/listed/y.html", "<b>y</b>\n");
  WriteFile(tree.Root + "/docs/d.txt", "docs\n");
  WriteFile(tree.Root + "/page.shtml",
            "<html><!--#include virtual=\"/a.txt\" -->\n"
            "<!--#echo var=\"DOCUMENT_URI\" --> <!--#echo var=\"$QUERY_STRING\" -->\n"
            "<!--#fsize file=\"a.txt\" --><!-- plain -->\n");
  // A protected directory: user "u", password "p".
  WriteFile(tree.Root + "/locked/http.aut",
            "[prava]\n*.*=" + MD5HexString("dTpw") + "\nopen.txt=\n[charset]\n*.*=windows-1250\n"
            "[zivotnost]\n*.*=1.1.2030\n");
  WriteFile(tree.Root + "/locked/s.txt", "locked\n");
  WriteFile(tree.Root + "/locked/open.txt", "open\n");
  WriteFile(tree.Root + "/tls/http.aut", "[ostatni]\nisSSL=1\n");
  WriteFile(tree.Root + "/tls/t.txt", "tls only\n");

  SetSettingDefaults();
  CreateSettings();  // from the empty registry
  std::shared_ptr<TSvrSetupHolder> settings = CurrentSettings();
  settings->AliasTable = {"* (HTTP),/," + tree.SystemRoot,
                          "* (HTTP),/docs," + tree.SystemRoot + "docs\\",
                          "virtual.test (HTTP),/," + tree.SystemRoot + "sub\\"};
  settings->VirtTable = {"virtual.test,HTTP"};
  settings->AppTable = {"shtml,TOVK/SSI"};
  settings->MimeTable = {"txt,text/plain", "html,text/html"};
  settings->DefaultDocuments = {"index.html"};
  settings->KeepAlive = true;
  return tree;
}

}  // namespace

namespace {

uint64_t Fnv1a(const char* bytes, std::size_t size) {
  uint64_t hash = 14695981039346656037ULL;
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= static_cast<unsigned char>(bytes[i]);
    hash *= 1099511628211ULL;
  }
  return hash;
}

}  // namespace

__attribute__((no_sanitize("coverage"))) bool ShowsOutsideMark(const std::string& text) {
  const std::string& mark = ServedTree().OutsideMark;
  static const uint64_t markHash = Fnv1a(mark.data(), mark.size());
  for (std::size_t i = 0; i + mark.size() <= text.size(); ++i)
    if (text[i] == mark[0] && Fnv1a(text.data() + i, mark.size()) == markHash) return true;
  return false;
}

const TServedTree& ServedTree() {
  static const TServedTree tree = MakeTree();
  return tree;
}

}  // namespace tovkfuzz
