// tovkcontrol: opens a Control Panel applet library the way Control Panel
// does. It loads the library, asks for its applets, runs the chosen one and
// lets the library clean up.
//
//   tovkcontrol [--list] LIBRARY [N]
//
// --list only prints the applets (number, name and description); N picks
// the applet to open, 0 by default.

#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cpl/CPlApplet.h"
#include "cpl/Cp1250.h"
#include "platform/Module.h"

namespace {

int Usage() {
  std::fputs("usage: tovkcontrol [--list] LIBRARY [N]\n", stderr);
  return 2;
}

// The applet's texts are Windows-1250; the terminal wants UTF-8.
std::string Printable(const char* field, std::size_t size) {
  std::size_t length = 0;
  while (length < size && field[length] != '\0') ++length;
  return T(std::string(field, length)).toStdString();
}

}  // namespace

int main(int argc, char** argv) {
  bool listOnly = false;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--list")
      listOnly = true;
    else
      args.push_back(arg);
  }
  if (args.empty() || args.size() > 2) return Usage();
  char* end = nullptr;
  const long chosen = args.size() == 2 ? std::strtol(args[1].c_str(), &end, 10) : 0;
  if (args.size() == 2 && (*end != '\0' || chosen < 0)) return Usage();

  // The applets' windows need an application object; Control Panel has one
  // before it loads any applet.
  QApplication app(argc, argv);

  HMODULE library = LoadLibrary(args[0]);
  if (library == nullptr) {
    std::fprintf(stderr, "tovkcontrol: %s: %s\n", args[0].c_str(), LastModuleError().c_str());
    return 1;
  }
  auto applet = reinterpret_cast<APPLET_PROC>(GetProcAddress(library, kCPlAppletName));
  if (applet == nullptr) {
    std::fprintf(stderr, "tovkcontrol: %s exports no %s\n", args[0].c_str(), kCPlAppletName);
    FreeLibrary(library);
    return 1;
  }
  if (applet(nullptr, CPL_INIT, 0, 0) == 0) {
    std::fprintf(stderr, "tovkcontrol: %s refused to start\n", args[0].c_str());
    FreeLibrary(library);
    return 1;
  }

  const LONG count = applet(nullptr, CPL_GETCOUNT, 0, 0);
  std::vector<NEWCPLINFO> infos(count > 0 ? static_cast<std::size_t>(count) : 0);
  for (LONG i = 0; i < count; ++i) {
    NEWCPLINFO& info = infos[static_cast<std::size_t>(i)];
    info = NEWCPLINFO{};
    info.dwSize = sizeof(NEWCPLINFO);
    applet(nullptr, CPL_NEWINQUIRE, i, reinterpret_cast<LPARAM>(&info));
    if (listOnly)
      std::printf("%d\t%s\t%s\n", static_cast<int>(i), Printable(info.szName, sizeof info.szName).c_str(),
                  Printable(info.szInfo, sizeof info.szInfo).c_str());
  }

  int status = 0;
  if (!listOnly) {
    if (chosen >= count) {
      std::fprintf(stderr, "tovkcontrol: %s has %d applet(s)\n", args[0].c_str(), static_cast<int>(count));
      status = 1;
    } else {
      const NEWCPLINFO& info = infos[static_cast<std::size_t>(chosen)];
      if (info.hIcon != nullptr && info.hIcon->Png != nullptr) {
        QImage icon;
        if (icon.loadFromData(info.hIcon->Png, static_cast<int>(info.hIcon->PngSize), "PNG"))
          QApplication::setWindowIcon(QIcon(QPixmap::fromImage(icon)));
      }
      applet(nullptr, CPL_DBLCLK, chosen, info.lData);
    }
  }
  for (LONG i = 0; i < count; ++i) applet(nullptr, CPL_STOP, i, infos[static_cast<std::size_t>(i)].lData);
  applet(nullptr, CPL_EXIT, 0, 0);
  FreeLibrary(library);
  return status;
}
