#pragma once
// The service control manager stand-in. Services are systemd units
// (NAME.service in $TOVK_UNIT_DIR, else /etc/systemd/system) and speak the
// sd_notify protocol with whichever manager runs them: systemd where it runs,
// tovksc where it does not. SIGTERM is the stop control.
//
// Calls that fail leave the reason in errno, which stands in for the
// thread's last error (SystemErrorMessage turns it into a text).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Service states and the other numbers, as Windows numbers them.
constexpr uint32_t SERVICE_STOPPED = 1;
constexpr uint32_t SERVICE_START_PENDING = 2;
constexpr uint32_t SERVICE_STOP_PENDING = 3;
constexpr uint32_t SERVICE_RUNNING = 4;

constexpr uint32_t SERVICE_CONTROL_STOP = 1;
constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
constexpr uint32_t SERVICE_ACCEPT_STOP = 1;

constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
constexpr uint32_t SERVICE_DEMAND_START = 3;
constexpr uint32_t SERVICE_ERROR_NORMAL = 1;
constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

struct SERVICE_STATUS {
  uint32_t dwServiceType = 0;
  uint32_t dwCurrentState = 0;
  uint32_t dwControlsAccepted = 0;
  uint32_t dwWin32ExitCode = 0;
  uint32_t dwServiceSpecificExitCode = 0;
  uint32_t dwCheckPoint = 0;
  uint32_t dwWaitHint = 0;
};

struct TServiceHandle;
using SC_HANDLE = TServiceHandle*;
struct TServiceStatusHandle;
using SERVICE_STATUS_HANDLE = TServiceStatusHandle*;

using LPSERVICE_MAIN_FUNCTION = void (*)(uint32_t argc, char** argv);
using LPHANDLER_FUNCTION = void (*)(uint32_t control);

struct SERVICE_TABLE_ENTRY {
  const char* lpServiceName;
  LPSERVICE_MAIN_FUNCTION lpServiceProc;
};

// --- The manager side: unit files ------------------------------------------

// Fails (errno) when the unit directory does not exist or cannot be written.
SC_HANDLE OpenSCManager(const char* machine, const char* database, uint32_t access);
// Writes NAME.service (ServiceUnitText) for the program, with Environment=
// for TOVK_REGISTRY and every TOVK_DRIVE_* set now, and User= the service
// account when that user exists. An existing unit makes it fail (EEXIST). The
// program path is in the system's form (backslashes).
SC_HANDLE CreateService(SC_HANDLE manager, const std::string& serviceName,
                        const std::string& displayName, uint32_t access, uint32_t serviceType,
                        uint32_t startType, uint32_t errorControl,
                        const std::string& binaryPathName);
SC_HANDLE OpenService(SC_HANDLE manager, const std::string& serviceName, uint32_t access);
// SERVICE_CONTROL_STOP reaches the service through whichever manager runs it;
// false (errno ESRCH) when none does.
bool ControlService(SC_HANDLE service, uint32_t control, SERVICE_STATUS* status);
bool QueryServiceStatus(SC_HANDLE service, SERVICE_STATUS* status);
bool DeleteService(SC_HANDLE service);
bool CloseServiceHandle(SC_HANDLE handle);

// --- The service side: sd_notify ------------------------------------------

// Runs the table's first service: its main function on a new thread, while
// the calling thread turns SIGTERM (and SIGINT) into SERVICE_CONTROL_STOP for
// the registered handler. Returns when the service's main function has
// returned. Fails (errno ENOTCONN) when the process has no NOTIFY_SOCKET, that
// is, when no manager started it.
//
// Before any thread starts it blocks SIGTERM, SIGINT, SIGHUP, SIGUSR1 and
// SIGUSR2 in the whole process, so that only the signal readers of the
// dispatcher and of the service's event loop ever see them, and ignores
// SIGPIPE (a peer closing a socket or pipe must never end the service).
bool StartServiceCtrlDispatcher(const SERVICE_TABLE_ENTRY* table);
SERVICE_STATUS_HANDLE RegisterServiceCtrlHandler(const std::string& serviceName,
                                                 LPHANDLER_FUNCTION handler);
// Sends the state to the manager: READY=1 (running), STOPPING=1 (stop
// pending), EXTEND_TIMEOUT_USEC= for a pending state's wait hint, and
// X_SERVICE_STATE= with the state's name in every report.
bool SetServiceStatus(SERVICE_STATUS_HANDLE handle, const SERVICE_STATUS* status);
// STATUS=: the text the manager shows for the service. The manager wants
// UTF-8, so the Windows-1250 text is converted on the way out.
bool SetServiceStatusText(const std::string& text);

// The system's message for an error number (FormatMessage stand-in), cut to
// fit a buffer of `bufferSize` bytes with its terminating NUL.
std::string SystemErrorMessage(int code, std::size_t bufferSize = 512);
// The calling thread's last error as the calls above leave it (errno): the
// GetLastError of this module.
int ServiceLastError();

// The tray menu's commands as they reach a service without a desktop: each
// is a signal, which StartServiceCtrlDispatcher blocks in the whole process
// so that only the service's event loop reads it.
enum class TMenuCommand {
  Restart,    // as /iswd/reload arms it; also the unit's ExecReload=
  SwitchOn,   // "Zapni server"
  SwitchOff,  // "Vypni server"
};
int MenuCommandSignal(TMenuCommand command);

// --- The unit ---------------------------------------------------------------

// The descriptors the service may hold. Each connection holds one socket
// (a CGI request three pipes more for a moment) and the server bounds its
// connections by this limit less a reserve; 65536 is beyond what the
// connection threads' memory would carry on a small machine, and far under
// the kernel's ceiling (nr_open, 1048576) that systemd must stay below.
constexpr unsigned kServiceFileLimit = 65536;

// What a unit is written from. The text is the same whoever writes it:
// tovksrv /I, and the build of the Debian package (tovkunit), so that the
// packaged unit and one written on the installed system never differ.
//
// With a user the unit runs the server as a Debian daemon: that account, the
// capability to bind low ports and nothing else of root, no new privileges,
// /usr and /etc read-only and a /tmp of its own. Without one the server runs
// as whoever starts it, with none of those: such a unit serves a private
// registry and tree (a developer's, the demo's) that a system account could
// not reach, nor a private /tmp see.
struct TUnitSettings {
  std::string Description;
  std::string Program;                   // the Linux path of the program
  std::string User;                      // empty: the manager's own account
  std::vector<std::string> Environment;  // NAME=value
};
std::string ServiceUnitText(const TUnitSettings& settings);

// The account tovksrv /I writes into the unit, empty for none: the one named
// by $TOVK_SERVICE_USER when that is set, else the system user "tovk" that
// the package creates, but only for a service of the system registry (no
// $TOVK_REGISTRY); in either case only when the user exists.
std::string ServiceAccount();

// --- Shared with tovksc ---------------------------------------------------

std::string UnitDirectory();  // $TOVK_UNIT_DIR or /etc/systemd/system
std::string RunDirectory();   // $TOVK_RUN_DIR or /run/tovk
bool SystemdRuns();           // /run/systemd/system exists
// Where units are looked for, in systemd's order of precedence: the unit
// directory alone when $TOVK_UNIT_DIR is set, else /etc/systemd/system (the
// administrator's and tovksrv /I), then /lib/systemd/system (packages).
std::vector<std::string> UnitSearchPath();

// The lines of a unit that tovksc carries out. Sandboxing lines
// (ProtectSystem=, PrivateTmp=) need namespaces and are left to systemd.
struct TUnitFile {
  std::string Path;  // the file it was read from
  std::string Description;
  std::vector<std::string> ExecStart;           // program and arguments
  std::map<std::string, std::string> Environment;
  std::string User, Group;                      // empty: stay as the manager
  std::vector<std::string> AmbientCapabilities;  // names, CAP_...
  // Unset keeps the whole bounding set; set, only these stay.
  bool HasCapabilityBoundingSet = false;
  std::vector<std::string> CapabilityBoundingSet;
  bool NoNewPrivileges = false;
  std::string LimitNOFILE;  // as written: N, SOFT:HARD or infinity
};
bool ReadUnitFile(const std::string& serviceName, TUnitFile& unit);

// What tovksc records for a service it runs: NAME.pid holds the
// supervisor's pid and its start time (so a stale file never names a new
// process), NAME.status the state, the service's pid and the last STATUS=.
struct TSupervisedState {
  uint32_t State = SERVICE_STOPPED;
  int MainPid = 0;
  int ExitCode = 0;
  std::string StatusText;
};
bool WriteSupervisorPid(const std::string& serviceName);  // this process
void RemoveSupervisorPid(const std::string& serviceName);
int LiveSupervisorPid(const std::string& serviceName);  // 0 when none runs
bool WriteSupervisedState(const std::string& serviceName, const TSupervisedState& state);
bool ReadSupervisedState(const std::string& serviceName, TSupervisedState& state);
const char* ServiceStateName(uint32_t state);        // "RUNNING", ...
uint32_t ServiceStateFromName(const std::string& name);  // 0 when unknown
