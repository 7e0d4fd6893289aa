#include "server/shell/ServiceApp.h"

#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/EventLog.h"
#include "platform/EventLoop.h"
#include "platform/Paths.h"
#include "platform/ServiceManager.h"
#include "server/net/Misc.h"
#include "server/shell/MainWin.h"
#include "server/shell/MsgCat.h"

namespace {

constexpr uint32_t kStartWaitHintMs = 3000;
constexpr auto kStopPoll = std::chrono::milliseconds(1000);
// A service that stays in "stop pending" longer than this is taken as not
// stopping; its manager kills it well before (90 s).
constexpr int kMaxStopPolls = 120;

std::string& StoredServiceName() {
  static auto* name = new std::string;
  return *name;
}
std::string& StoredDisplayName() {
  static auto* name = new std::string;
  return *name;
}

SERVICE_STATUS ServiceStatus;
SERVICE_STATUS_HANDLE StatusHandle = nullptr;
std::mutex StatusLock;  // ServiceMain's thread and the control handler both report

// The application of the service, while RunServerApplication runs it.
std::mutex ApplicationLock;
std::condition_variable ApplicationEnded;
TEventLoop* Application = nullptr;
TSvrWin* MainForm = nullptr;
bool ApplicationRunning = false;

void PrintLine(const std::string& text) { std::cout << text << std::endl; }

}  // namespace

const std::string& ServiceName() { return StoredServiceName(); }
const std::string& DisplayName() { return StoredDisplayName(); }

int RunService(int argc, char** argv, const std::string& serviceName,
               const std::string& displayName) {
  StoredServiceName() = serviceName;
  StoredDisplayName() = displayName;
  if (argc == 2) {
    std::string parameter = argv[1];
    if (parameter == "/?") {
      std::string dashes(40, '-');
      PrintLine(dashes);
      PrintLine(GetMsg(2));
      PrintLine(dashes);
      PrintLine(GetMsg(3));
      PrintLine(GetMsg(4));
      PrintLine(GetMsg(5));
      return 0;
    }
    std::string option = UpperCase(parameter.substr(0, 2));
    if (option == "/I") return InstallService() ? 0 : 1;
    if (option == "/R") return RemoveService() ? 0 : 1;
    PrintLine(SubstituteArgument(GetMsg(1), parameter));
    return 1;
  }
  static const SERVICE_TABLE_ENTRY table[] = {{ServiceName().c_str(), ServiceMain},
                                              {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcher(table)) {
    LogServiceError("StartServiceCtrlDispatcher Error!");
    return 1;
  }
  return 0;
}

bool InstallService() {
  // The path is a string of our own: it stays valid for as long as
  // CreateService needs it.
  std::string path = ProgramFileName();
  if (path.empty()) {
    PrintLine("Unable to install " + ServiceName() + ", GetModuleFileName Fail.");
    return false;
  }
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    PrintLine("Unable to install " + ServiceName() + ", OpenSCManager Fail.");
    return false;
  }
  SC_HANDLE service =
      CreateService(manager, ServiceName(), DisplayName(), SERVICE_ALL_ACCESS,
                    SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path);
  bool ok = service != nullptr;
  if (ok) {
    PrintLine("Install Ok.");
    CloseServiceHandle(service);
  } else {
    PrintLine("Unable to install " + ServiceName() + ", CreateService Fail.");
  }
  CloseServiceHandle(manager);
  return ok;
}

bool RemoveService() {
  SC_HANDLE manager = OpenSCManager(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (!manager) {
    PrintLine("OpenSCManager fail (" + SystemErrorText() + ").");
    return false;
  }
  SC_HANDLE service = OpenService(manager, ServiceName(), SERVICE_ALL_ACCESS);
  if (!service) {
    PrintLine("OpenService fail (" + SystemErrorText() + ").");
    CloseServiceHandle(manager);
    return false;
  }
  SERVICE_STATUS status;
  if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
    std::cout << "Stopping Service " << std::flush;
    std::this_thread::sleep_for(kStopPoll);
    for (int polls = 0; polls < kMaxStopPolls && QueryServiceStatus(service, &status) &&
                        status.dwCurrentState == SERVICE_STOP_PENDING;
         ++polls) {
      std::cout << "." << std::flush;
      std::this_thread::sleep_for(kStopPoll);
    }
    std::cout << std::endl;
    if (status.dwCurrentState != SERVICE_STOPPED) {
      PrintLine("Service Stop Fail");
      CloseServiceHandle(service);
      CloseServiceHandle(manager);
      return false;
    }
    PrintLine("Service Stop Now");
  }
  bool ok = DeleteService(service);
  if (ok) PrintLine("Service Uninstall Ok.");
  else PrintLine("DeleteService fail (" + SystemErrorText() + ").");
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok;
}

void ServiceMain(uint32_t /*argc*/, char** /*argv*/) {
  StatusHandle = RegisterServiceCtrlHandler(ServiceName(), ServiceCtrlHandler);
  if (!StatusHandle) {
    ReportServiceStatus(SERVICE_STOPPED, static_cast<uint32_t>(ServiceLastError()), 0);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(StatusLock);
    ServiceStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    ServiceStatus.dwServiceSpecificExitCode = 0;
    ServiceStatus.dwCheckPoint = 1;
  }
  if (!ReportServiceStatus(SERVICE_START_PENDING, 0, kStartWaitHintMs)) {
    ReportServiceStatus(SERVICE_STOPPED, static_cast<uint32_t>(ServiceLastError()), 0);
    return;
  }
  RunServerApplication();
}

void RunServerApplication() {
  if (!ReportServiceStatus(SERVICE_START_PENDING, 0, kStartWaitHintMs)) return;
  TEventLoop application;
  // The form is never shown in the service; its creation loads the
  // configuration, opens the logs and arms the start of the listeners.
  TSvrWin form(application);
  form.HideLogWin.SetEnabled(false);
  {
    std::lock_guard<std::mutex> guard(ApplicationLock);
    Application = &application;
    MainForm = &form;
    ApplicationRunning = true;
  }
  if (ReportServiceStatus(SERVICE_RUNNING, 0, 0)) application.Run();
  else form.Close();  // no loop will run: close the logs and settings now
  {
    std::lock_guard<std::mutex> guard(ApplicationLock);
    Application = nullptr;
    MainForm = nullptr;
    ApplicationRunning = false;
  }
  ApplicationEnded.notify_all();
}

void ServiceCtrlHandler(uint32_t control) {
  if (control != SERVICE_CONTROL_STOP) {
    uint32_t state;
    {
      std::lock_guard<std::mutex> guard(StatusLock);
      state = ServiceStatus.dwCurrentState;
    }
    ReportServiceStatus(state, 0, 0);
    return;
  }
  ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0);
  {
    // The form's close handling (stop the server, close the logs, free the
    // settings) runs on the application's own thread; the stop is reported
    // once it is done.
    std::unique_lock<std::mutex> lock(ApplicationLock);
    if (ApplicationRunning) {
      TSvrWin* form = MainForm;
      Application->Post([form] { form->Close(); });
      ApplicationEnded.wait(lock, [] { return !ApplicationRunning; });
    }
  }
  ReportServiceStatus(SERVICE_STOPPED, 0, 0);
}

bool ReportServiceStatus(uint32_t currentState, uint32_t exitCode, uint32_t waitHint) {
  SERVICE_STATUS report;
  {
    std::lock_guard<std::mutex> guard(StatusLock);
    ServiceStatus.dwControlsAccepted =
        currentState == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    ServiceStatus.dwCurrentState = currentState;
    ServiceStatus.dwWin32ExitCode = exitCode;
    ServiceStatus.dwWaitHint = waitHint;
    if (currentState == SERVICE_RUNNING || currentState == SERVICE_STOPPED)
      ServiceStatus.dwCheckPoint = 0;
    else
      ++ServiceStatus.dwCheckPoint;
    report = ServiceStatus;
  }
  bool ok = SetServiceStatus(StatusHandle, &report);
  if (!ok) LogServiceError("SetServiceStauts");
  return ok;
}

void LogServiceError(const std::string& text) {
  HANDLE_EVENTSOURCE source = RegisterEventSource(nullptr, ServiceName());
  if (!source) return;
  ReportEvent(source, EVENTLOG_ERROR_TYPE, 0, 0, {ServiceName() + " error: " + "0", text});
  DeregisterEventSource(source);
}

std::string SystemErrorText() {
  constexpr std::size_t kMessageBuffer = 512;
  return SystemErrorMessage(ServiceLastError(), kMessageBuffer);
}
