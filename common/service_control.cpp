#include "common/service_control.h"

#include <atomic>

#include "common/run_options.h"
#include "common/scoped_handle.h"
#include "common/trace.h"

namespace {

constexpr DWORD kPollInterval = 10;
constexpr wchar_t kSpooler[] = L"Spooler";
constexpr int kStartConnectionTries = 3;
constexpr DWORD kStartResendMs = 1000;

void NoteSpoolerLeftStopped(DWORD error) {
  if (SpoolerLeftStopped == ERROR_SUCCESS) SpoolerLeftStopped = error != ERROR_SUCCESS ? error : kInstallFailedExitCode;
}

// Reads the service's state into `status`; false when the query failed (the
// record then keeps what it held).
bool QueryState(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD needed = 0;
  return os.QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
                                 sizeof(status), &needed) != FALSE;
}

// Polls up to `polls` times for `awaited`, pausing 10 ms after every poll that
// does not see it. A failed query leaves the record, and so the state tested,
// as it was.
bool WaitForState(SC_HANDLE service, SERVICE_STATUS_PROCESS& status, DWORD awaited, DWORD polls) {
  for (DWORD i = 0; i < polls; ++i) {
    QueryState(service, status);
    if (status.dwCurrentState == awaited) return true;
    os.Sleep(kPollInterval);
  }
  return false;
}

bool OpenNamedService(const wchar_t* service_name, ScopedService& manager, ScopedService& service) {
  manager.reset(os.OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (!manager) return false;
  service.reset(os.OpenServiceW(manager.get(), service_name, SERVICE_ALL_ACCESS));
  return static_cast<bool>(service);
}

enum class Request { kStop, kStart };

// The shared shape of a stop and a start: act only from the one state the
// request makes sense in, then wait for the other.
int ChangeStateAndWait(const wchar_t* service_name, DWORD timeout_ms, Request request) {
  const DWORD polls = timeout_ms / kPollInterval;
  const DWORD required = request == Request::kStop ? SERVICE_RUNNING : SERVICE_STOPPED;
  const DWORD awaited = request == Request::kStop ? SERVICE_STOPPED : SERVICE_RUNNING;
  // Declared before the service so that the service handle is closed first.
  ScopedService manager;
  ScopedService service;
  if (!OpenNamedService(service_name, manager, service)) return 0;
  SERVICE_STATUS_PROCESS status = {};
  if (!QueryState(service.get(), status) || status.dwCurrentState != required) return 0;
  if (request == Request::kStop) {
    os.ControlService(service.get(), SERVICE_CONTROL_STOP, reinterpret_cast<LPSERVICE_STATUS>(&status));
  } else {
    os.StartServiceW(service.get(), 0, nullptr);
  }
  return WaitForState(service.get(), status, awaited, polls) ? 1 : 0;
}

// Services that depend on the spooler (the Fax service does) and were
// stopped for its stop; they are started again once it runs.
constexpr int kMostDependents = 16;
struct StoppedDependents {
  WideText<257> names[kMostDependents];
  int count = 0;
};

// Stops the running services that depend on `service`, each waited for.
// EnumDependentServicesW lists them in the order they are to be stopped.
void StopDependents(SC_HANDLE manager, SC_HANDLE service, StoppedDependents& stopped) {
  DWORD needed = 0;
  DWORD count = 0;
  if (os.EnumDependentServicesW(service, SERVICE_ACTIVE, nullptr, 0, &needed, &count) || needed == 0) return;
  LocalBlock<ENUM_SERVICE_STATUSW> list = LocalBlock<ENUM_SERVICE_STATUSW>::Allocate(needed);
  if (!list || !os.EnumDependentServicesW(service, SERVICE_ACTIVE, list.get(), needed, &needed, &count)) {
    trace("The services that depend on the spooler could not be listed, errcode:%d.", static_cast<int>(GetLastError()));
    return;
  }
  for (DWORD i = 0; i < count && stopped.count < kMostDependents; ++i) {
    const wchar_t* name = list.get()[i].lpServiceName;
    ScopedService dependent(os.OpenServiceW(manager, name, SERVICE_ALL_ACCESS));
    SERVICE_STATUS_PROCESS status = {};
    if (!dependent || !os.ControlService(dependent.get(), SERVICE_CONTROL_STOP, reinterpret_cast<LPSERVICE_STATUS>(&status))) {
      trace("%ws, which depends on the spooler, did not stop, errcode:%d.", name, static_cast<int>(GetLastError()));
      continue;
    }
    WaitForState(dependent.get(), status, SERVICE_STOPPED, kSpoolerTimeout / kPollInterval);
    trace("Stopped %ws, which depends on the spooler.", name);
    BoundedCopy(stopped.names[stopped.count++], name);
  }
}

// Starts again, in the reverse order, the dependents that were stopped.
void StartDependents(SC_HANDLE manager, const StoppedDependents& stopped) {
  for (int i = stopped.count - 1; i >= 0; --i) {
    ScopedService dependent(os.OpenServiceW(manager, stopped.names[i].c_str(), SERVICE_ALL_ACCESS));
    const BOOL started = dependent && os.StartServiceW(dependent.get(), 0, nullptr);
    trace("Starting %ws again: %d", stopped.names[i], started);
  }
}

// Asks the running service to stop. Refused for running dependents, it
// stops them and asks again. Any other refusal (ERROR_SERVICE_REQUEST_TIMEOUT
// too: the service was too busy to answer in 30 s) is returned at once: there
// is no stop to wait for.
DWORD SendStop(SC_HANDLE manager, SC_HANDLE service, SERVICE_STATUS_PROCESS& status, StoppedDependents& dependents) {
  if (os.ControlService(service, SERVICE_CONTROL_STOP, reinterpret_cast<LPSERVICE_STATUS>(&status))) {
    return ERROR_SUCCESS;
  }
  DWORD error = GetLastError();
  if (error == ERROR_DEPENDENT_SERVICES_RUNNING) {
    StopDependents(manager, service, dependents);
    if (os.ControlService(service, SERVICE_CONTROL_STOP, reinterpret_cast<LPSERVICE_STATUS>(&status))) {
      return ERROR_SUCCESS;
    }
    error = GetLastError();
  }
  if (error == ERROR_SUCCESS) error = kInstallFailedExitCode;
  trace("The spooler refused to stop, errcode:%d.", static_cast<int>(error));
  StartDependents(manager, dependents);
  return error;
}

// Every stop of the spooler that the tool sent and whose start has not
// followed yet.
std::atomic<int> spooler_holds{0};

struct StopResult {
  bool sent = false;           // the spooler was running and was asked to stop
  bool stopped = false;        // and was seen stopped
  bool running_again = false;  // and was seen running after the start
  DWORD refusal = ERROR_SUCCESS;  // the stop was refused with this error
};

// A stop that outlasts its wait is waited out a while longer: the start that
// must follow cannot be sent to a service that is still stopping.
bool WaitOutStop(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  trace("The spooler is still stopping after %u ms; waiting up to %u ms more.", kSpoolerTimeout,
        kStopGraceMs);
  const bool stopped = WaitForState(service, status, SERVICE_STOPPED, kStopGraceMs / kPollInterval);
  trace(stopped ? "The spooler has stopped." : "The spooler did not stop; it is started anyway.");
  return stopped;
}

// Sends the start and waits for the service to report running; a start that
// is refused (a service still stopping takes none) or that leaves it stopped
// is sent again every second, until it runs or kStartBoundMs have passed.
// The first start goes out whatever state the service reports. False with
// the last refusal's error (ERROR_SUCCESS when none was refused) when it
// does not run; a disabled service is not asked again.
bool StartUntilRunning(SC_HANDLE service, SERVICE_STATUS_PROCESS& status, DWORD& error) {
  error = ERROR_SUCCESS;
  DWORD since_start = kStartResendMs;
  bool sent = false;
  for (DWORD waited = 0; waited < kStartBoundMs; waited += kPollInterval) {
    if (sent) QueryState(service, status);
    if (sent && status.dwCurrentState == SERVICE_RUNNING) return true;
    if (!sent || (status.dwCurrentState == SERVICE_STOPPED && since_start >= kStartResendMs)) {
      sent = true;
      since_start = 0;
      SetLastError(ERROR_SUCCESS);
      if (!os.StartServiceW(service, 0, nullptr)) {
        const DWORD refusal = GetLastError();
        if (refusal != ERROR_SERVICE_ALREADY_RUNNING) error = refusal;
        if (refusal == ERROR_SERVICE_DISABLED) return false;
      }
      continue;
    }
    os.Sleep(kPollInterval);
    since_start += kPollInterval;
  }
  return false;
}

// Starts the spooler after a stop of ours and waits for it to run. One that
// does not run again is the run's failure, never its success.
bool StartAfterOurStop(SC_HANDLE service, SERVICE_STATUS_PROCESS& status) {
  DWORD error = ERROR_SUCCESS;
  const bool running = StartUntilRunning(service, status, error);
  if (!running) {
    trace("The spooler was not seen running again: errcode:%d, state %d.", static_cast<int>(error),
          static_cast<int>(status.dwCurrentState));
    NoteSpoolerLeftStopped(error);
  }
  --spooler_holds;
  return running;
}

// The spooler stopped for one piece of work on one connection: nothing when
// it is not running; otherwise the stop (waited out), the work, and the
// start, whatever the stop wait saw.
template <typename Work>
StopResult WithSpoolerStopped(Work work) {
  StopResult result;
  ScopedService manager;
  ScopedService service;
  if (!OpenNamedService(kSpooler, manager, service)) return result;
  SERVICE_STATUS_PROCESS status = {};
  if (!QueryState(service.get(), status) || status.dwCurrentState != SERVICE_RUNNING) return result;
  StoppedDependents dependents;
  result.refusal = SendStop(manager.get(), service.get(), status, dependents);
  if (result.refusal != ERROR_SUCCESS) return result;
  ++spooler_holds;
  result.sent = true;
  result.stopped = WaitForState(service.get(), status, SERVICE_STOPPED, kSpoolerTimeout / kPollInterval) ||
                   WaitOutStop(service.get(), status);
  work(result.stopped);
  result.running_again = StartAfterOurStop(service.get(), status);
  if (result.running_again) StartDependents(manager.get(), dependents);
  return result;
}

}  // namespace

int StopServiceAndWait(const wchar_t* service_name, DWORD timeout_ms) {
  return ChangeStateAndWait(service_name, timeout_ms, Request::kStop);
}

int StartServiceAndWait(const wchar_t* service_name, DWORD timeout_ms) {
  return ChangeStateAndWait(service_name, timeout_ms, Request::kStart);
}

void RestartSpooler() {
  // Two connections, one for the stop and one for the start. A spooler that
  // was not running is started from the stopped state only; one stopped here
  // is started again whatever its stop wait saw, a refused connection tried
  // again a few times.
  bool stop_sent = false;
  bool refused = false;
  StoppedDependents dependents;
  {
    ScopedService manager;
    ScopedService service;
    SERVICE_STATUS_PROCESS status = {};
    if (OpenNamedService(kSpooler, manager, service) && QueryState(service.get(), status) &&
        status.dwCurrentState == SERVICE_RUNNING) {
      refused = SendStop(manager.get(), service.get(), status, dependents) != ERROR_SUCCESS;
      if (!refused) {
        ++spooler_holds;
        stop_sent = true;
        if (!WaitForState(service.get(), status, SERVICE_STOPPED, kSpoolerTimeout / kPollInterval)) {
          WaitOutStop(service.get(), status);
        }
      }
    }
  }
  if (refused) {
    // Still running: nothing to start.
  } else if (!stop_sent) {
    StartServiceAndWait(kSpooler, kSpoolerTimeout);
  } else {
    bool started = false;
    for (int attempt = 0; attempt < kStartConnectionTries && !started; ++attempt) {
      if (attempt > 0) os.Sleep(1000);
      ScopedService manager;
      ScopedService service;
      SERVICE_STATUS_PROCESS status = {};
      if (!OpenNamedService(kSpooler, manager, service)) {
        trace("The spooler could not be opened to start it again, errcode:%d.", static_cast<int>(GetLastError()));
        continue;
      }
      if (StartAfterOurStop(service.get(), status)) StartDependents(manager.get(), dependents);
      started = true;
    }
    if (!started) {
      --spooler_holds;
      NoteSpoolerLeftStopped(GetLastError());
    }
  }
  os.Sleep(1000);
}

DWORD RestartSpoolerWithAction(SpoolerAction action, const wchar_t* context) {
  return WithSpoolerStopped([&](bool stopped) {
    // The spooler's files are never touched while it runs.
    if (!stopped && action != nullptr) trace("The spooler did not stop; the work for %ws is not done.", context);
    if (stopped && action != nullptr && context != nullptr) {
      // Give the stopped spooler's process time to let go of its files.
      os.Sleep(200);
      action(context);
    }
  }).refusal;
}

int RunWithSpoolerStopped(void (*work)(const wchar_t* context, bool stopped), const wchar_t* context,
                          bool* stop_sent) {
  const StopResult result = WithSpoolerStopped([&](bool stopped) { work(context, stopped); });
  if (stop_sent != nullptr) *stop_sent = result.sent;
  return result.running_again ? 1 : 0;
}

bool SpoolerHeldStopped() { return spooler_holds.load() > 0; }

DWORD StartSpoolerIfStopped() {
  ScopedService manager;
  ScopedService service;
  SERVICE_STATUS_PROCESS status = {};
  // What cannot be asked is left to the steps that need the spooler.
  if (!OpenNamedService(kSpooler, manager, service) || !QueryState(service.get(), status) ||
      status.dwCurrentState == SERVICE_RUNNING) {
    return ERROR_SUCCESS;
  }
  trace("The spooler is not running (state %d); starting it first.", static_cast<int>(status.dwCurrentState));
  if (status.dwCurrentState == SERVICE_STOP_PENDING) {
    WaitForState(service.get(), status, SERVICE_STOPPED, kSpoolerTimeout / kPollInterval);
  }
  DWORD error = ERROR_SUCCESS;
  if (StartUntilRunning(service.get(), status, error)) {
    trace("The spooler runs.");
    return ERROR_SUCCESS;
  }
  if (error == ERROR_SERVICE_DISABLED) {
    trace("The spooler is disabled; nothing can be done without it.");
    return ERROR_SERVICE_DISABLED;
  }
  trace("The spooler could not be started, errcode:%d.", static_cast<int>(error));
  return error != ERROR_SUCCESS ? error : kInstallFailedExitCode;
}
