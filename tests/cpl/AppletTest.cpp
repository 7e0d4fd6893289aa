// The real applet library, loaded the way Control Panel loads it, in a host
// that already has its application object.

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <cstring>
#include <functional>

#include "common/RegNames.h"
#include "cpl/CPlApplet.h"
#include "platform/Module.h"
#include "tests/cpl/CplTestSupport.h"

namespace {

class AppletTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cpltest::EnsureApplication();
    Library = LoadLibrary(tovktest::BinDir() + "/tovkcpl.cpl");
    ASSERT_NE(Library, nullptr) << LastModuleError();
    Applet = reinterpret_cast<APPLET_PROC>(GetProcAddress(Library, kCPlAppletName));
    ASSERT_NE(Applet, nullptr);
  }
  void TearDown() override {
    if (Library) FreeLibrary(Library);
  }

  LONG Send(UINT message, LPARAM one = 0, LPARAM two = 0) { return Applet(nullptr, message, one, two); }

  // Presses a button of the applet's dialog once it is up; gives up after
  // a bounded number of looks so that a missing dialog fails the test.
  void PressWhenShown(const char* button) {
    auto* poll = new QTimer(qApp);
    auto looks = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, looks, button, this] {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && top->inherits("TCPLSetupForm")) {
          if (auto* b = top->findChild<QPushButton*>(QLatin1String(button))) {
            Shown = true;
            b->click();
            poll->deleteLater();
            return;
          }
        }
      }
      if (++*looks > kMaxLooks) poll->deleteLater();
    });
    poll->start(20);
  }

  static constexpr int kMaxLooks = 500;  // 10 s at 20 ms
  cpltest::TScratchRegistry Scratch;
  HMODULE Library = nullptr;
  APPLET_PROC Applet = nullptr;
  bool Shown = false;
};

}  // namespace

TEST_F(AppletTest, AnswersTheControlPanelMessages) {
  EXPECT_EQ(Send(CPL_INIT), 1);
  EXPECT_EQ(Send(CPL_GETCOUNT), 1);
  EXPECT_EQ(Send(CPL_INQUIRE, 0, 0), 0);
  EXPECT_EQ(Send(CPL_SELECT, 0, 0), 0);

  NEWCPLINFO info;
  std::memset(&info, 0xCC, sizeof info);
  EXPECT_EQ(Send(CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&info)), 0);
  EXPECT_EQ(info.dwSize, sizeof(NEWCPLINFO));
  EXPECT_EQ(info.dwFlags, 0u);
  EXPECT_EQ(info.dwHelpContext, 0u);
  EXPECT_EQ(info.lData, 0);
  EXPECT_EQ(std::string(info.szName, sizeof info.szName),
            std::string("Quillon web server") + std::string(32 - 18, '\0'));
  const std::string description = "Nastavení Quillon web serveru";
  EXPECT_EQ(std::string(info.szInfo, sizeof info.szInfo), description + std::string(64 - description.size(), '\0'));
  EXPECT_EQ(std::string(info.szHelpFile, sizeof info.szHelpFile), std::string(128, '\0'));
  ASSERT_NE(info.hIcon, nullptr);
  EXPECT_EQ(info.hIcon->cbSize, sizeof(CPLICON));
  ASSERT_GT(info.hIcon->PngSize, 8u);
  EXPECT_EQ(std::memcmp(info.hIcon->Png, "\x89PNG\r\n\x1a\n", 8), 0);

  EXPECT_EQ(Send(CPL_STOP, 0, 0), 0);
  EXPECT_EQ(Send(CPL_EXIT), 0);
  EXPECT_EQ(Send(0x1234), 0);
}

TEST_F(AppletTest, DoubleClickRunsTheDialogWithTheHostsApplication) {
  PressWhenShown("Button2");
  EXPECT_EQ(Send(CPL_DBLCLK, 0, 0), 0);
  EXPECT_TRUE(Shown);
  EXPECT_EQ(cpltest::Integer(reg::kPort), 80) << "OK wrote the design values";
  EXPECT_EQ(cpltest::String("Virt 1"), "*,HTTP");

  Shown = false;
  cpltest::PutInteger(reg::kPort, 8080);
  PressWhenShown("Button1");
  EXPECT_EQ(Send(CPL_DBLCLK, 0, 0), 0);
  EXPECT_TRUE(Shown);
  EXPECT_EQ(cpltest::Integer(reg::kPort), 8080) << "\"Zruš\" wrote nothing";
}
