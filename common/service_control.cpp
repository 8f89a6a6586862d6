#include "common/service_control.h"

#include "common/scoped_handle.h"

namespace {

constexpr DWORD kPollInterval = 10;
constexpr DWORD kSpoolerTimeout = 10000;
constexpr wchar_t kSpooler[] = L"Spooler";

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

}  // namespace

int StopServiceAndWait(const wchar_t* service_name, DWORD timeout_ms) {
  return ChangeStateAndWait(service_name, timeout_ms, Request::kStop);
}

int StartServiceAndWait(const wchar_t* service_name, DWORD timeout_ms) {
  return ChangeStateAndWait(service_name, timeout_ms, Request::kStart);
}

void RestartSpooler() {
  StopServiceAndWait(kSpooler, kSpoolerTimeout);
  StartServiceAndWait(kSpooler, kSpoolerTimeout);
  os.Sleep(1000);
}

void RestartSpoolerWithAction(SpoolerAction action, const wchar_t* context) {
  const DWORD polls = kSpoolerTimeout / kPollInterval;
  ScopedService manager;
  ScopedService service;
  if (!OpenNamedService(kSpooler, manager, service)) return;
  SERVICE_STATUS_PROCESS status = {};
  if (!QueryState(service.get(), status) || status.dwCurrentState != SERVICE_RUNNING) return;
  os.ControlService(service.get(), SERVICE_CONTROL_STOP, reinterpret_cast<LPSERVICE_STATUS>(&status));
  WaitForState(service.get(), status, SERVICE_STOPPED, polls);
  if (action != nullptr && context != nullptr) {
    // Give the stopped spooler's process time to let go of its files.
    os.Sleep(200);
    action(context);
  }
  // Started whatever the stop wait saw: the spooler must not be left stopped.
  os.StartServiceW(service.get(), 0, nullptr);
  WaitForState(service.get(), status, SERVICE_RUNNING, polls);
}
