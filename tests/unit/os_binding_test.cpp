// Binding the functions of DLLs that Windows would look for beside the
// program, and the lock that keeps a second instance out on the whole machine.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/entry.h"
#include "tests/built_program.h"
#include "tests/fakes/fake_machine.h"
#include "tests/unit/scoped_state.h"

namespace {

bool NoneSearchesBesideTheProgram(const FakeMachine& m) {
  for (DWORD flags : m.dll_load_flags) {
    if (flags != LOAD_LIBRARY_SEARCH_SYSTEM32) return false;
  }
  return !m.dll_load_flags.empty();
}

TEST(OsBinding, DllsComeFromTheSystemDirectoryBeforeAnythingElse) {
  FakeMachine machine;
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /?"), 0);
  ASSERT_FALSE(machine.calls.empty());
  EXPECT_EQ(machine.calls[0].function, Seam::SetDefaultDllDirectories);
  EXPECT_EQ(machine.default_dll_directories, static_cast<DWORD>(LOAD_LIBRARY_SEARCH_SYSTEM32));
  EXPECT_TRUE(NoneSearchesBesideTheProgram(machine));
  EXPECT_EQ(machine.CallCount(Seam::LoadLibraryExW, L"winspool.drv"), 1) << "each DLL loaded once";
  EXPECT_EQ(machine.CallCount(Seam::GetProcAddress, L"#730"), 1) << "RestartDialogEx by its ordinal";
}

TEST(OsBinding, AMissingFunctionEndsTheRunWithItsCodeBeforeAnyCallIntoIt) {
  FakeMachine machine;
  machine.missing_functions.insert("UpdateDriverForPlugAndPlayDevicesW");
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(machine.CallCount(Seam::UpdateDriverForPlugAndPlayDevicesW), 0);
  EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), 0) << "nothing searched";
  EXPECT_TRUE(machine.message_boxes.empty()) << "silent";
  EXPECT_EQ(machine.OpenHandleCount(), 0);
  EXPECT_EQ(machine.TraceLines().back(),
            L"Cannot bind UpdateDriverForPlugAndPlayDevicesW of newdev.dll, error:127");

  // A person is told in the failure text, with the same code.
  HMODULE program = LoadBuiltProgram();
  ScopedModuleInstance resources(program);
  EXPECT_EQ(RunProgram(program, L"setup.exe "), ERROR_PROC_NOT_FOUND);
  ASSERT_EQ(machine.message_boxes.size(), 1u);
  EXPECT_NE(machine.message_boxes[0].text.find(L"127"), std::wstring::npos);
}

TEST(OsBinding, ADllThatCannotBeLoadedEndsTheRunWith126) {
  FakeMachine machine;
  machine.missing_dlls.insert(L"winspool.drv");
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(machine.CallCount(Seam::EnumPrinterDriversW), 0);
}

TEST(OsBinding, AMissingOptionalFunctionAnswersProcNotFoundAndTheRunGoesOn) {
  FakeMachine machine;
  machine.missing_functions.insert("DeletePrinterDriverPackageW");
  const OsTable fake = os;
  EXPECT_EQ(BindOs(nullptr).error, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_NE(os.DeletePrinterDriverPackageW, fake.DeletePrinterDriverPackageW);
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(os.DeletePrinterDriverPackageW(nullptr, L"x.inf", nullptr), HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(os.EnumPrintersW, fake.EnumPrintersW) << "the rest bound as before";
}

TEST(StartedPrograms, AProgramNamedWithoutItsFullPathIsRefused) {
  FakeMachine machine;
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  wchar_t bare[] = L"rundll32.exe printui.dll PrintUIEntry";
  EXPECT_FALSE(os.CreateProcessW(nullptr, bare, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  wchar_t full[] = L"\"C:\\Windows\\system32\\rundll32.exe\" printui.dll PrintUIEntry";
  EXPECT_TRUE(os.CreateProcessW(nullptr, full, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  os.CloseHandle(info.hProcess);
  os.CloseHandle(info.hThread);
  EXPECT_EQ(machine.refused_programs, std::vector<std::wstring>{bare});
}

TEST(SingleInstance, ARunInAnotherSessionIsASecondInstance) {
  FakeMachine machine;
  machine.HoldPrivateMutex(kLockNamespace, L"S-1-5-32-544", kMachineMutexName);  // the Administrators' boundary
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_INSTALL_ALREADY_RUNNING);
  EXPECT_EQ(machine.MutexHandles(kSingleInstanceMutexName), 0) << "the session lock is let go";

  // Made by SYSTEM, the machine's mutex may not be opened from a person's account.
  machine.mutexes.clear();
  machine.FailNth(Seam::CreateMutexW, ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_INSTALL_ALREADY_RUNNING);
  EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), 0);
}

// A name that another kind of object took (CreateMutexW: ERROR_INVALID_HANDLE)
// holds no instance of ours: the run goes on without that lock.
TEST(SingleInstance, ANameTakenByAnotherKindOfObjectIsNoSecondInstance) {
  FakeMachine machine;
  machine.FailNth(Seam::CreateMutexW, ERROR_INVALID_HANDLE, 1);
  EXPECT_FALSE(TakeSingleInstanceLock().second_instance);
}

// A Windows without private namespaces (Wine has none): the run goes on with
// its session's lock, which still keeps a second run out, and says why.
TEST(SingleInstance, WithoutTheMachinesLockTheSessionsLockStillKeepsASecondRunOut) {
  FakeMachine machine;
  machine.Fail(Seam::CreateBoundaryDescriptorW, ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence /timeout=1"), ERROR_TIMEOUT);
  const std::vector<std::wstring> trace = machine.TraceLines();
  EXPECT_NE(std::find(trace.begin(), trace.end(),
                      L"No lock on the whole machine: CreateBoundaryDescriptorW failed, error 127; the run relies on "
                      L"its session's lock."),
            trace.end());
  for (DWORD session : {1u, 0u}) {
    machine.session_id = session;
    machine.HoldMutex(kSingleInstanceMutexName);
    EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_INSTALL_ALREADY_RUNNING) << session;
  }
}

}  // namespace
