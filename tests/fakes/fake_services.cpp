// The service control manager of the fake machine: "scm" and "service"
// handles, status queries that advance pending states, stop and start requests.
#include <gtest/gtest.h>

#include <cwctype>
#include <vector>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

bool SameName(const std::wstring& a, const std::wstring& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
           return std::towlower(x) == std::towlower(y);
         });
}

// The service behind a handle, or null (and the error set) for a handle that
// is not an open service handle.
FakeService* ServiceOf(FakeMachine& m, SC_HANDLE handle) {
  auto it = m.services.open_services.find(handle);
  if (it == m.services.open_services.end()) {
    ADD_FAILURE() << "a service call with a handle that is not an open service handle";
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return &m.services.services[it->second];
}

// One look at the service: a pending state lasts its number of queries.
void Advance(FakeService& s) {
  if (s.state == SERVICE_STOP_PENDING && !s.never_stops) {
    if (s.polls_left > 0) --s.polls_left;
    else s.state = SERVICE_STOPPED;
  } else if (s.state == SERVICE_START_PENDING && !s.never_starts) {
    if (s.polls_left > 0) --s.polls_left;
    else s.state = SERVICE_RUNNING;
  }
}

void FillStatus(const FakeService& s, SERVICE_STATUS* status) {
  *status = {};
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status->dwCurrentState = s.state;
  status->dwControlsAccepted = s.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status->dwWaitHint = s.state == SERVICE_STOP_PENDING || s.state == SERVICE_START_PENDING ? 2000 : 0;
}

SC_HANDLE WINAPI FakeOpenSCManagerW(LPCWSTR machine, LPCWSTR database, DWORD) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::OpenSCManagerW)) return nullptr;
  if (machine != nullptr && machine[0] != L'\0') {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
  }
  if (database != nullptr && !SameName(database, SERVICES_ACTIVE_DATABASEW)) {
    SetLastError(ERROR_INVALID_NAME);
    return nullptr;
  }
  return static_cast<SC_HANDLE>(m.OpenHandle("scm"));
}

SC_HANDLE WINAPI FakeOpenServiceW(SC_HANDLE manager, LPCWSTR name, DWORD) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::OpenServiceW, Text(name))) return nullptr;
  auto kind = m.open_handles.find(manager);
  if (kind == m.open_handles.end() || kind->second != "scm") {
    ADD_FAILURE() << "OpenServiceW with a handle that is not an open manager handle";
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  for (auto& [key, service] : m.services.services) {
    if (!SameName(key, Text(name))) continue;
    auto handle = static_cast<SC_HANDLE>(m.OpenHandle("service"));
    m.services.open_services[handle] = key;
    return handle;
  }
  SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
  return nullptr;
}

BOOL WINAPI FakeQueryServiceStatusEx(SC_HANDLE handle, SC_STATUS_TYPE level, LPBYTE buffer,
                                     DWORD size, LPDWORD needed) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::QueryServiceStatusEx)) return FALSE;
  FakeService* s = ServiceOf(m, handle);
  if (s == nullptr) return FALSE;
  if (level != SC_STATUS_PROCESS_INFO) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (needed != nullptr) *needed = sizeof(SERVICE_STATUS_PROCESS);
  if (buffer == nullptr || size < sizeof(SERVICE_STATUS_PROCESS)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  Advance(*s);
  auto* status = reinterpret_cast<SERVICE_STATUS_PROCESS*>(buffer);
  SERVICE_STATUS plain;
  FillStatus(*s, &plain);
  *status = {};
  status->dwServiceType = plain.dwServiceType;
  status->dwCurrentState = plain.dwCurrentState;
  status->dwControlsAccepted = plain.dwControlsAccepted;
  status->dwWaitHint = plain.dwWaitHint;
  status->dwProcessId = s->state == SERVICE_STOPPED ? 0 : 0x4d8;
  return TRUE;
}

BOOL WINAPI FakeControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::ControlService, std::to_wstring(control))) return FALSE;
  FakeService* s = ServiceOf(m, handle);
  if (s == nullptr) return FALSE;
  if (control != SERVICE_CONTROL_STOP) {
    ADD_FAILURE() << "the fake machine models only the stop control";
    SetLastError(ERROR_INVALID_SERVICE_CONTROL);
    return FALSE;
  }
  if (s->state == SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return FALSE;
  }
  if (s->state != SERVICE_RUNNING) {
    SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    return FALSE;
  }
  // ControlService: "ERROR_DEPENDENT_SERVICES_RUNNING - The service cannot
  // be stopped because other running services are dependent on it."
  for (const auto& [name, other] : m.services.services) {
    if (SameName(other.depends_on, m.services.open_services[handle]) && other.state != SERVICE_STOPPED) {
      SetLastError(ERROR_DEPENDENT_SERVICES_RUNNING);
      return FALSE;
    }
  }
  ++s->stop_requests;
  // [MS-PRSOD] 2.7.1.1: jobs "completely submitted ... remain queued, and
  // their processing is restarted from the beginning on print spooler
  // restart": a job that was printing prints again from its first page.
  if (SameName(m.services.open_services[handle], L"Spooler")) {
    for (FakePrinter& printer : m.spooler.printers) {
      for (FakeJob& job : printer.jobs) {
        if (job.status & JOB_STATUS_PRINTING) ++job.restarts;
      }
    }
  }
  s->state = SERVICE_STOP_PENDING;
  s->polls_left = s->stop_pending_polls >= 0 ? s->stop_pending_polls : s->pending_polls;
  if (status != nullptr) FillStatus(*s, status);
  return TRUE;
}

BOOL WINAPI FakeStartServiceW(SC_HANDLE handle, DWORD, LPCWSTR*) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::StartServiceW)) return FALSE;
  FakeService* s = ServiceOf(m, handle);
  if (s == nullptr) return FALSE;
  // StartServiceW: "ERROR_SERVICE_DISABLED - The service has been disabled."
  if (s->disabled) {
    SetLastError(ERROR_SERVICE_DISABLED);
    return FALSE;
  }
  if (s->state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  ++s->start_requests;
  s->state = SERVICE_START_PENDING;
  s->polls_left = s->pending_polls;
  return TRUE;
}

// EnumDependentServicesW: the active services that depend on this one, as
// ENUM_SERVICE_STATUSW records followed by their names in the one buffer; a
// buffer too small fails with ERROR_MORE_DATA and the bytes needed.
BOOL WINAPI FakeEnumDependentServicesW(SC_HANDLE handle, DWORD state, LPENUM_SERVICE_STATUSW buffer, DWORD size,
                                       LPDWORD needed, LPDWORD returned) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::EnumDependentServicesW)) return FALSE;
  if (ServiceOf(m, handle) == nullptr) return FALSE;
  const std::wstring self = m.services.open_services[handle];
  std::vector<std::pair<std::wstring, const FakeService*>> found;
  for (const auto& [name, other] : m.services.services) {
    const bool active = other.state != SERVICE_STOPPED;
    if (SameName(other.depends_on, self) && ((state & SERVICE_ACTIVE) ? active : !active)) found.emplace_back(name, &other);
  }
  DWORD bytes = 0;
  for (const auto& entry : found) bytes += sizeof(ENUM_SERVICE_STATUSW) + (entry.first.size() + 1) * 2 * sizeof(wchar_t);
  *needed = bytes;
  *returned = 0;
  if (buffer == nullptr || size < bytes) {
    SetLastError(ERROR_MORE_DATA);
    return FALSE;
  }
  auto* text = reinterpret_cast<wchar_t*>(buffer + found.size());
  for (size_t i = 0; i < found.size(); ++i) {
    const std::wstring& name = found[i].first;
    buffer[i] = {};
    buffer[i].lpServiceName = wcscpy(text, name.c_str());
    text += name.size() + 1;
    buffer[i].lpDisplayName = wcscpy(text, name.c_str());
    text += name.size() + 1;
    FillStatus(*found[i].second, &buffer[i].ServiceStatus);
  }
  *returned = static_cast<DWORD>(found.size());
  return TRUE;
}

BOOL WINAPI FakeCloseServiceHandle(SC_HANDLE handle) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::CloseServiceHandle, {}});
  auto it = m.open_handles.find(handle);
  if (it == m.open_handles.end() || (it->second != "scm" && it->second != "service")) {
    ADD_FAILURE() << "CloseServiceHandle of a handle that is not open";
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const std::string kind = it->second;
  m.services.open_services.erase(handle);
  m.CloseHandleOf(kind, handle);
  return TRUE;
}

}  // namespace

void InstallServiceFakes(OsTable& t) {
  t.OpenSCManagerW = FakeOpenSCManagerW;
  t.OpenServiceW = FakeOpenServiceW;
  t.QueryServiceStatusEx = FakeQueryServiceStatusEx;
  t.ControlService = FakeControlService;
  t.StartServiceW = FakeStartServiceW;
  t.CloseServiceHandle = FakeCloseServiceHandle;
  t.EnumDependentServicesW = FakeEnumDependentServicesW;
}
