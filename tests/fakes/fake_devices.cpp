// USB printer interfaces of the fake machine.
#include <gtest/gtest.h>

#include "tests/fakes/fake_machine.h"

namespace {

BOOL WINAPI FakeSetupDiDestroyDeviceInfoList(HDEVINFO set) {
  FakeMachine& m = Fake();
  m.calls.push_back({"SetupDiDestroyDeviceInfoList", {}});
  if (!m.IsOpen(set)) {
    SetLastError(ERROR_INVALID_HANDLE);
    ADD_FAILURE() << "SetupDiDestroyDeviceInfoList of a set that is not open";
    return FALSE;
  }
  m.CloseHandleOf("devinfo", set);
  return TRUE;
}

}  // namespace

void InstallDeviceFakes(OsTable& t) {
  t.SetupDiDestroyDeviceInfoList = FakeSetupDiDestroyDeviceInfoList;
}
