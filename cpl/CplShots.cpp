// tovkcplshots: pictures of the setup dialog's tabs, for the documentation.
//
//   TOVK_REGISTRY=/tmp/shots.db tovkcplshots OUTDIR
//
// It writes a sample configuration into the registry that TOVK_REGISTRY
// names (it refuses to run without one, so a real configuration is never
// touched), opens the dialog and saves each tab as OUTDIR/cpl-<tab>.png.

#include <QApplication>
#include <QPixmap>
#include <QTabWidget>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cpl/SetupModel.h"
#include "cpl/mainform.h"

namespace {

void WriteSample() {
  TSetupModel sample;
  sample.Index = "index.html,default.htm";
  sample.ProtFile = "c:\\tovk\\logs";
  sample.SSLon = true;
  sample.AddMime("html", "text/html");
  sample.AddMime("txt", "text/plain");
  sample.AddMime("gif", "image/gif");
  sample.AddMime("jpg", "image/jpeg");
  sample.AddMime("css", "text/css");
  sample.AddVirtual("www.example.cz", 0);
  sample.AddVirtual("www.example.cz", 1);
  sample.AddVirtual("127.0.0.1", 0);
  std::string prefix = "/", directory = "c:\\www";
  sample.AddAlias("* (HTTP)", prefix, directory);
  prefix = "cgi-bin";
  directory = "c:\\www\\cgi-bin\\";
  sample.AddAlias("* (HTTP)", prefix, directory);
  prefix = "/";
  directory = "c:\\example\\";
  sample.AddAlias("www.example.cz (HTTPS)", prefix, directory);
  sample.AddApp("pl", "c:\\perl\\bin\\perl.exe");
  sample.AddApp("cgi", "tovk/exec");
  sample.AddApp("shtml", "tovk/ssi");
  sample.AddApp("dll", "tovk/isapi");
  std::string error;
  if (sample.Save(error) != TSetupModel::TSaveResult::Saved)
    std::fprintf(stderr, "tovkcplshots: the sample was not written: %s\n", error.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: TOVK_REGISTRY=FILE tovkcplshots OUTDIR\n", stderr);
    return 2;
  }
  if (std::getenv("TOVK_REGISTRY") == nullptr) {
    std::fputs("tovkcplshots: set TOVK_REGISTRY to a throwaway registry file\n", stderr);
    return 2;
  }
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  WriteSample();

  TCPLSetupForm form;
  form.show();
  const char* names[] = {"server", "mime", "virtual", "alias", "interpreters", "about"};
  int failed = 0;
  for (int tab = 0; tab < form.PageControl1->count(); ++tab) {
    form.PageControl1->setCurrentIndex(tab);
    QApplication::processEvents();
    const std::string path = std::string(argv[1]) + "/cpl-" + names[tab] + ".png";
    if (!form.grab().save(QString::fromLocal8Bit(path.c_str()), "PNG")) {
      std::fprintf(stderr, "tovkcplshots: cannot write %s\n", path.c_str());
      ++failed;
    }
  }
  return failed == 0 ? 0 : 1;
}
