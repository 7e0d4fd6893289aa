#include "server/shell/MainWin.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "common/NTRegistry.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/ServiceManager.h"
#include "server/net/SvrMain.h"
#include "server/reply/SvrSetupHolder.h"
#include "server/shell/Loging.h"
#include "server/shell/MsgCat.h"
#include "server/shell/ServiceApp.h"

#ifndef TOVK_FILE_VERSION
#error "the build defines TOVK_FILE_VERSION and TOVK_INTERNAL_NAME for this unit"
#endif

namespace {

constexpr uint32_t kObnovovaniMs = 5000;
constexpr uint32_t kAutoStartMs = 1000;  // the toolkit's default interval
constexpr uint32_t kHideLogWinMs = 3000;
constexpr auto kStopSettleTime = std::chrono::milliseconds(100);

const char* const kMakersNotice = "© Kestrane, Quillon Web Server";
// What the caption and the tray hint say once a listener listens, before
// its host name.
const char* const kListeningCaption = "Quillon Web Server - ";

// The one window of the process, for the threads that post to it.
std::mutex WindowLock;
TSvrWin* Window = nullptr;
TEventLoop* WindowLoop = nullptr;

void PostToWindow(std::function<void(TSvrWin&)> change) {
  std::lock_guard<std::mutex> guard(WindowLock);
  if (!Window) return;
  TSvrWin* target = Window;
  WindowLoop->Post([target, change = std::move(change)] {
    {
      // The window may have gone between posting and now.
      std::lock_guard<std::mutex> check(WindowLock);
      if (Window != target) return;
    }
    change(*target);
  });
}

uint32_t RestartInterval() {
  auto settings = CurrentSettings();
  return RestartDelay(settings && settings->KeepAlive);
}

}  // namespace

void PostCaptionAndHint(const std::string& caption) {
  PostToWindow([caption](TSvrWin& w) {
    w.Caption = caption;
    // A listener that reports after the server was switched off again must
    // not hide the "switched off" hint.
    if (w.ServerRunning()) w.TrayIcon.Hint = caption;
  });
}

void PostArmRestartTimer(uint32_t intervalMs) {
  PostToWindow([intervalMs](TSvrWin& w) { w.ArmRestart(intervalMs); });
}

void TVersionInfo::LoadFromProgram() {
  FileVersion = TOVK_FILE_VERSION;
  InternalName = TOVK_INTERNAL_NAME;
}

TSvrWin::TSvrWin(TEventLoop& application)
    : Obnovovani(application, kObnovovaniMs, false),
      AutoStart(application, kAutoStartMs, false),
      HideLogWin(application, kHideLogWinMs, true),
      RestartTimer(application, kRestartDelayMs, false),
      Application(application) {
  Bar.Panels[0] = {50, true, "0"};
  Bar.Panels[1] = {300, false, kMakersNotice};
  TrayIcon.Hint = "WWW Server (vypnut)";
  Ukaprotokol1 = {"Ukaž stavové okno", true, true, [this] { Ukaprotokol1Click(); }};
  N1 = {"-", true, false, {}};
  Zapniserver1 = {"Zapni server", true, false, [this] { Zapniserver1Click(); }};
  Vypniserver1 = {"Vypni server", false, false, [this] { Vypniserver1Click(); }};
  N2 = {"-", true, false, {}};
  Konec1 = {"&Konec", true, false, [this] { Konec1Click(); }};
  Obnovovani.OnTimer = [this] { ObnovovaniTimer(); };
  AutoStart.OnTimer = [this] { AutoStartTimer(); };
  HideLogWin.OnTimer = [this] { HideLogWinTimer(); };
  RestartTimer.OnTimer = [this] { RestartTimerTimer(); };
  Application.OnException = [this](const std::exception& e) { AppEvents1Exception(e); };
  Application.OnIdle = [this] { PublishStatus(); };

  // The menu commands arrive as signals.
  Application.OnSignal(MenuCommandSignal(TMenuCommand::Restart), [this] {
    LogError(GetMsg(23));
    ArmRestart(RestartInterval());
  });
  Application.OnSignal(MenuCommandSignal(TMenuCommand::SwitchOn),
                       [this] { Zapniserver1.Click(); });
  Application.OnSignal(MenuCommandSignal(TMenuCommand::SwitchOff),
                       [this] { Vypniserver1.Click(); });
  {
    std::lock_guard<std::mutex> guard(WindowLock);
    Window = this;
    WindowLoop = &application;
  }
  RegisterShell(this);
  FormCreate();
  PublishStatus();
}

TSvrWin::~TSvrWin() {
  UnregisterShell(this);
  std::lock_guard<std::mutex> guard(WindowLock);
  if (Window == this) {
    Window = nullptr;
    WindowLoop = nullptr;
  }
  Application.OnException = nullptr;
  Application.OnIdle = nullptr;
}

namespace {

// Loads the configuration; a registry error is handed back as text, for the
// log that is opened after the settings.
std::string CreateSettingsKeepingError() {
  try {
    CreateSettings();
  } catch (const ERegistryException& e) {
    return e.what();
  }
  return {};
}

}  // namespace

void TSvrWin::FormCreate() {
  SetSettingDefaults();
  // A registry that cannot be read leaves the values read so far in place;
  // the server still starts, and the error is logged once the log is open.
  std::string loadError = CreateSettingsKeepingError();
  auto settings = CurrentSettings();
  std::string protFile = settings ? settings->ProtFile : std::string("c:\\");
  bool newLogFile = settings && settings->NewLogFile;
  if (!LogInit(protFile, newLogFile)) {
    const std::string& source = ServiceName().empty() ? std::string("tovksrv") : ServiceName();
    ShowServerMessage(source, "Nepodarilo se inicializovat protokoly");
    FreeSettings();
    std::fflush(nullptr);
    std::_Exit(EXIT_FAILURE);
  }
  if (!loadError.empty()) LogError(loadError);
  Obnovovani.SetEnabled(true);

  VersionInfo.LoadFromProgram();
  ServerSoftware = VersionInfo.FileVersion + "/" + VersionInfo.InternalName;

  if (settings && settings->SSLon) {
    std::string dir = ProgramDirectory();
    bool keys = true;
    for (const char* name : {".rnd", "key.pem", "cert.pem"}) {
      if (!FileExists(dir + name)) {
        keys = false;
        break;
      }
    }
    if (!keys) {
      settings->SSLon = false;
      LogError(GetMsg(12));
    }
  }
  AutoStart.SetEnabled(true);
}

void TSvrWin::StartServer() {
  SetStatusText(GetMsg(6));
  Running = true;
  auto settings = CurrentSettings();
  StartListeners(settings ? settings->Port : 80, settings && settings->SSLon,
                 [](const std::string& hostName) {
                   PostCaptionAndHint(kListeningCaption + hostName);
                 });
  TrayIcon.Hint = "Quillon web server";
  Vypniserver1.Enabled = true;
  Zapniserver1.Enabled = false;
  ActiveConnections = 0;
}

void TSvrWin::StopServer() { SwitchOff(StopListeners); }

void TSvrWin::SwitchOff(void (*endListeners)()) {
  ObnovovaniTimer();
  SetStatusText(GetMsg(7));
  Running = false;
  endListeners();
  TrayIcon.Hint = GetMsg(8);
  Vypniserver1.Enabled = false;
  Zapniserver1.Enabled = true;
}

void TSvrWin::AutoStartTimer() {
  AutoStart.SetEnabled(false);
  StartServer();
}

void TSvrWin::ObnovovaniTimer() {
  std::string text = TakeStatusText();
  if (!text.empty()) Bar.Panels[1].Text = text;
  Bar.Panels[0].Text = std::to_string(ActiveConnections.load());
  LogTimer();
}

void TSvrWin::RestartTimerTimer() {
  RestartTimer.SetEnabled(false);
  Obnovovani.SetEnabled(false);
  // Switched off as by StopServer, except that the listening sockets stay
  // open when the port does not change: clients connecting meanwhile wait
  // in the listen queue instead of being refused, and the start that
  // follows serves them with the settings read here.
  SwitchOff(PauseListeners);
  LogDone();
  // Connections still running keep the holder they pinned; only new ones
  // see the settings read here.
  FreeSettings();
  std::string loadError = CreateSettingsKeepingError();
  auto settings = CurrentSettings();
  LogInit(settings ? settings->ProtFile : std::string("c:\\"), settings && settings->NewLogFile);
  if (!loadError.empty()) LogError(loadError);
  AutoStart.SetEnabled(true);
  Obnovovani.SetEnabled(true);
  LogError(GetMsg(23) + " (II)");
}

void TSvrWin::Ukaprotokol1Click() {
  std::string caption;
  if (Visible) {
    Minimised = true;
    caption = GetMsg(14);
  } else {
    Minimised = false;
    caption = GetMsg(13);
  }
  Ukaprotokol1.Caption = caption;
  Visible = !Visible;
}

void TSvrWin::HideLogWinTimer() {
  Ukaprotokol1Click();
  HideLogWin.SetEnabled(false);
}

bool TSvrWin::ArmRestart(uint32_t intervalMs) {
  // A restart already pending reads the registry when it comes, so it
  // covers this request too; arming again would only put it off, and a
  // steady stream of requests would put it off for ever.
  if (RestartTimer.Enabled()) return false;
  RestartTimer.SetInterval(intervalMs);
  RestartTimer.SetEnabled(true);
  return true;
}

void TSvrWin::ArmRestartFromAnyThread(uint32_t delayMs) { PostArmRestartTimer(delayMs); }

void TSvrWin::Zapniserver1Click() { StartServer(); }
void TSvrWin::Vypniserver1Click() { StopServer(); }
void TSvrWin::Konec1Click() { Close(); }

bool TSvrWin::FormCloseQuery() {
  if (Running) {
    StopServer();
    std::this_thread::sleep_for(kStopSettleTime);
  }
  return true;
}

void TSvrWin::FormClose() {
  // A restart may have kept listening sockets for a start that now never
  // comes; with no listener this does nothing.
  StopListeners();
  LogDone();
  FreeSettings();
}

void TSvrWin::Close() {
  if (Closed) return;
  if (!FormCloseQuery()) return;
  Closed = true;
  FormClose();
  PublishStatus();
  Application.Terminate();
}

void TSvrWin::AppEvents1Exception(const std::exception& error) { LogError(error.what()); }

std::string TSvrWin::StatusLine() const {
  return Caption + " | " + TrayIcon.Hint + " | " + Bar.Panels[0].Text + " | " +
         Bar.Panels[1].Text;
}

void TSvrWin::PublishStatus() {
  std::string line = StatusLine();
  if (line == Published) return;
  Published = line;
  SetServiceStatusText(line);
}
