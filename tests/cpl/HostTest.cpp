// Hosts of the applet: one without an application object, whose dialog the
// applet must give one of its own, and the tovkcontrol program.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include "common/RegNames.h"
#include "cpl/CPlApplet.h"
#include "platform/Module.h"
#include "tests/cpl/CplTestSupport.h"

namespace {

constexpr int kMaxLooks = 500;  // 10 s at 20 ms
bool gShown = false;

// Runs inside the constructor of whatever application object appears in
// this process: the applet's own. It presses "OK" once the dialog is up.
void PressOkOnceShown() {
  auto* poll = new QTimer(QCoreApplication::instance());
  auto* looks = new int(0);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, looks] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->isVisible() && top->inherits("TCPLSetupForm")) {
        if (auto* ok = top->findChild<QPushButton*>(QStringLiteral("Button2"))) {
          gShown = true;
          ok->click();
        }
      }
    }
    if (gShown || ++*looks > kMaxLooks) {
      poll->stop();
      delete looks;
    }
  });
  poll->start(20);
}

}  // namespace

TEST(AppletHost, WithoutAnApplicationObjectTheAppletMakesItsOwn) {
  cpltest::TScratchRegistry scratch;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  HMODULE library = LoadLibrary(tovktest::BinDir() + "/tovkcpl.cpl");
  ASSERT_NE(library, nullptr) << LastModuleError();
  auto applet = reinterpret_cast<APPLET_PROC>(GetProcAddress(library, kCPlAppletName));
  ASSERT_NE(applet, nullptr);

  qAddPreRoutine(PressOkOnceShown);
  EXPECT_EQ(applet(nullptr, CPL_INIT, 0, 0), 1);
  EXPECT_EQ(applet(nullptr, CPL_DBLCLK, 0, 0), 0);
  EXPECT_TRUE(gShown);
  EXPECT_EQ(QCoreApplication::instance(), nullptr) << "the applet's application object is gone again";
  EXPECT_EQ(cpltest::Integer(reg::kPort), 80);
  EXPECT_EQ(applet(nullptr, CPL_EXIT, 0, 0), 0);
  FreeLibrary(library);
}

TEST(AppletHost, TovkcontrolListsTheApplets) {
  auto run = tovktest::Run({tovktest::BinDir() + "/tovkcontrol", "--list", tovktest::BinDir() + "/tovkcpl.cpl"},
                           {{"QT_QPA_PLATFORM", "offscreen"}});
  EXPECT_EQ(run.ExitCode, 0) << run.Err;
  EXPECT_EQ(run.Out, "0\tQuillon web server\tNastaven\xC3\xAD Quillon web serveru\n");

  auto missing = tovktest::Run({tovktest::BinDir() + "/tovkcontrol", "/no/such.cpl"}, {{"QT_QPA_PLATFORM", "offscreen"}});
  EXPECT_EQ(missing.ExitCode, 1);
  EXPECT_NE(missing.Err.find("/no/such.cpl"), std::string::npos) << missing.Err;

  auto usage = tovktest::Run({tovktest::BinDir() + "/tovkcontrol"});
  EXPECT_EQ(usage.ExitCode, 2);
}
