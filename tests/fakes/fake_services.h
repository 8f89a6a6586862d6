// The fake machine's service control manager.
#pragma once

#include <map>
#include <string>

#include "platform/win.h"

struct FakeService {
  DWORD state = SERVICE_RUNNING;
};

struct FakeServices {
  std::map<std::wstring, FakeService> services = {{L"Spooler", FakeService{}}};
};
