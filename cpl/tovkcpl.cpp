// The applet library's entry: Control Panel calls CPlApplet with its
// messages, and a double click runs the setup dialog.

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cpl/CPlApplet.h"
#include "cpl/Pictures.h"
#include "cpl/mainform.h"

namespace {

constexpr const char* kAppletName = "Quillon web server";
constexpr const char* kAppletInfo = "Nastavení Quillon web serveru";

// Copies a text whole into a fixed field, padded with zero bytes; a text
// longer than the field is cut so that the field still ends in a NUL.
template <std::size_t N>
void CopyField(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::strncpy(field, text, N - 1);
}

HICON MainIcon() {
  static const CPLICON icon = [] {
    const std::string& png = MainIconPng();
    return CPLICON{sizeof(CPLICON), reinterpret_cast<const unsigned char*>(png.data()),
                   static_cast<DWORD>(png.size())};
  }();
  return &icon;
}

void Inquire(NEWCPLINFO& info) {
  info.dwSize = sizeof(NEWCPLINFO);
  info.dwFlags = 0;
  info.dwHelpContext = 0;
  info.lData = 0;
  info.hIcon = MainIcon();
  CopyField(info.szName, kAppletName);
  CopyField(info.szInfo, kAppletInfo);
  CopyField(info.szHelpFile, "");
}

// Runs the dialog until it closes. A host that has its own application
// object lends it; otherwise the applet makes one for the dialog's life.
void RunDialog() {
  std::unique_ptr<QApplication> own;
  if (QCoreApplication::instance() == nullptr) {
    // The application object keeps referring to these for its whole life.
    static int argc = 1;
    static char name[] = "tovkcpl";
    static char* argv[] = {name, nullptr};
    own = std::make_unique<QApplication>(argc, argv);
    QGuiApplication::setApplicationDisplayName(QString());
  } else if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    std::fputs("tovkcpl: the host's application object cannot show windows\n", stderr);
    return;
  }
  TCPLSetupForm form;
  form.exec();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) LONG CPlApplet(HWND, UINT message, LPARAM, LPARAM lParam2) {
  switch (message) {
    case CPL_INIT:
      return 1;
    case CPL_GETCOUNT:
      return 1;
    case CPL_DBLCLK:
      RunDialog();
      return 0;
    case CPL_NEWINQUIRE:
      if (lParam2 != 0) Inquire(*reinterpret_cast<NEWCPLINFO*>(lParam2));
      return 0;
    default:
      return 0;
  }
}
