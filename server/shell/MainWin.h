#pragma once
// TSvrWin, the server's control centre (see MainWin.cpp). This header also
// carries what other threads may ask of the window: they post, and the
// window's own thread carries the change out. The request path reaches the
// window only through TShellLink (ShellLink.h), which the window implements.

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/EventLoop.h"
#include "server/net/ShellLink.h"

// From any thread: the window caption and tray hint (the listeners report
// through the callback that StartServer hands them).
void PostCaptionAndHint(const std::string& caption);
// From any thread: set the restart timer's interval and start it, unless a
// restart is pending already.
void PostArmRestartTimer(uint32_t intervalMs);

// The form's components, without a desktop: plain state that the handlers
// change and that the service publishes as its status text.
struct TMenuItem {
  std::string Caption;
  bool Enabled = true;
  bool Default = false;
  std::function<void()> OnClick;
  void Click() {  // a disabled item cannot be chosen
    if (Enabled && OnClick) OnClick();
  }
};

struct TStatusPanel {
  int Width = 0;
  bool Centred = false;
  std::string Text;
};

struct TStatusBar {
  std::array<TStatusPanel, 2> Panels;
};

struct TTrayIcon {
  std::string Hint;
};

// What the version resource would give: the build puts it into the program.
struct TVersionInfo {
  std::string FileVersion;
  std::string InternalName;
  void LoadFromProgram();
};

class TSvrWin : public TShellLink {
 public:
  // Runs FormCreate. The loop must outlive the form.
  explicit TSvrWin(TEventLoop& application);
  ~TSvrWin();
  TSvrWin(const TSvrWin&) = delete;
  TSvrWin& operator=(const TSvrWin&) = delete;

  // The form.
  std::string Caption = "Quillon web server";
  int Width = 590, Height = 73;
  bool Visible = false;    // in the service the form is never shown
  bool Minimised = false;
  // Components, as laid out on the form.
  TStatusBar Bar;
  TTrayIcon TrayIcon;
  TMenuItem Ukaprotokol1, N1, Zapniserver1, Vypniserver1, N2, Konec1;
  TEventTimer Obnovovani, AutoStart, HideLogWin;
  TVersionInfo VersionInfo;
  TEventTimer RestartTimer;

  // Handlers.
  void FormCreate();
  bool FormCloseQuery();
  void FormClose();
  void ObnovovaniTimer();
  void AutoStartTimer();
  void HideLogWinTimer();
  void RestartTimerTimer();
  void Ukaprotokol1Click();
  void Zapniserver1Click();
  void Vypniserver1Click();
  void Konec1Click();
  void AppEvents1Exception(const std::exception& error);

  void StartServer();
  void StopServer();
  // Arms the restart timer unless a restart is pending already; true when
  // it armed it.
  bool ArmRestart(uint32_t intervalMs);
  // TShellLink: posts ArmRestart to the window's thread.
  void ArmRestartFromAnyThread(uint32_t delayMs) override;
  // FormCloseQuery, then FormClose, then the application ends. A second
  // call does nothing.
  void Close();

  bool ServerRunning() const { return Running; }
  // "caption | tray hint | panel 0 | panel 1": what the service manager shows.
  std::string StatusLine() const;

 private:
  void PublishStatus();
  // StopServer's steps, with the listeners ended by `endListeners`.
  void SwitchOff(void (*endListeners)());

  TEventLoop& Application;
  bool Running = false;
  bool Closed = false;
  std::string Published;
};
