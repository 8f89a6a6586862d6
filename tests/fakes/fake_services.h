// The fake machine's service control manager.
//
// A stop or start request does not take effect at once: the service passes
// through its pending state for `pending_polls` status queries before it
// reaches the stopped or running state (0: the first query after the request
// sees the end state, as Windows mostly shows it for the spooler). A service
// that `never_stops` stays stop-pending; one that `never_starts` stays
// start-pending.
#pragma once

#include <map>
#include <string>

#include "platform/win.h"

struct FakeService {
  DWORD state = SERVICE_RUNNING;
  int pending_polls = 0;
  int stop_pending_polls = -1;  // when not -1: how long a stop alone stays pending
  bool never_stops = false;
  bool never_starts = false;
  int polls_left = 0;  // status queries that still see the pending state
  int stop_requests = 0;
  int start_requests = 0;
  std::wstring depends_on;  // the service this one needs (the Fax service: "Spooler")
  bool disabled = false;    // its start type is SERVICE_DISABLED
};

struct FakeServices {
  std::map<std::wstring, FakeService> services = {{L"Spooler", FakeService{}}};
  std::map<SC_HANDLE, std::wstring> open_services;  // handle -> service name

  FakeService& Spooler() { return services[L"Spooler"]; }
};
