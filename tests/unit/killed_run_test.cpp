// A run ended by force at any call, and the next run on the same machine: it
// ends as a clean run does, with the spooler running and nothing of the
// family left half done.
#include <gtest/gtest.h>

#include <map>

#include "app/entry.h"
#include "common/run_options.h"
#include "discovery/usb_printers.h"
#include "tests/unit/install_support.h"
#include "tests/unit/inventory_fixture.h"
#include "tests/unit/scoped_state.h"
#include "uninstall/inventory.h"

namespace {

// What a run leaves on the machine that the family is made of.
struct EndState {
  std::vector<std::wstring> printers, drivers, monitors, packages;
  std::map<std::wstring, std::string> files;  // driver and system folders
  bool folder = false;
  DWORD spooler = 0;
  bool operator==(const EndState&) const = default;
};

std::map<std::wstring, std::string> FilesIn(const std::wstring& folder) {
  std::map<std::wstring, std::string> files;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      files[found.cFileName] = ReadRealFile(folder + L"\\" + found.cFileName);
    }
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return files;
}

EndState StateOf(FakeMachine& m, const std::wstring& folder = L"") {
  EndState s;
  for (const FakePrinter& p : m.spooler.printers) s.printers.push_back(p.name + L"|" + p.port + L"|" + p.driver);
  for (const FakeDriver& d : m.spooler.drivers) s.drivers.push_back(d.name + L"|" + d.environment);
  for (const FakeMonitor& x : m.spooler.monitors) s.monitors.push_back(x.name);
  s.packages = m.spooler.packages;
  for (const auto& [name, content] : FilesIn(m.spooler.driver_directory)) s.files[L"drivers\\" + name] = content;
  for (const auto& [name, content] : FilesIn(m.system_directory)) s.files[L"system\\" + name] = content;
  s.folder = !folder.empty() && GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES;
  s.spooler = m.services.Spooler().state;
  return s;
}

// What goes with the process: its memory, the inventory and device list in it.
void ForgetProcess() {
  ForgetInventory();
  FreeUsbPrinterList(&UsbPrinterList);
  SilentRun = false;
  RestartNeeded = false;
  SpoolerLeftStopped = ERROR_SUCCESS;
  SearchTimeoutMs = 0;
  VerifiedPackageFolder.clear();
}

// Runs `line` ended at every call of a clean run of it, each followed by a
// run of `again` on what it left; `reset` lays the machine as before the first.
template <typename Reset>
int EndAtEveryCall(FakeMachine& machine, Reset reset, const wchar_t* line, const wchar_t* again,
                   const std::wstring& folder) {
  reset();
  machine.calls.clear();
  EXPECT_EQ(RunProgram(nullptr, again), 0) << "the clean run";
  const EndState clean = StateOf(machine, folder);
  const int points = static_cast<int>(machine.calls.size());
  ForgetProcess();
  machine.EndProcess();
  for (int n = 0; n < points; ++n) {
    SCOPED_TRACE("ended at call " + std::to_string(n));
    reset();
    machine.calls.clear();
    const OsTable bound = os;  // the seam's table is the process's memory too
    machine.ended_from = n;
    RunProgram(nullptr, line);
    os = bound;
    ForgetProcess();
    machine.EndProcess();
    const int code = RunProgram(nullptr, again);
    EXPECT_TRUE(code == 0 || code == ERROR_SUCCESS_REBOOT_REQUIRED) << "exit code " << code;
    const EndState after = StateOf(machine, folder);
    EXPECT_TRUE(after == clean) << "not the end state of a clean run";
    EXPECT_EQ(after.spooler, static_cast<DWORD>(SERVICE_RUNNING));
    ForgetProcess();
    machine.EndProcess();  // the probe's inventory stays in a process's heap until it ends
    if (testing::Test::HasFailure()) return n;
  }
  return points;
}

class KilledInstall : public PackageTest {};

TEST_F(KilledInstall, AnInstallEndedAtAnyCallIsFinishedByTheNext) {
  machine.module_path = package + L"setup.exe";
  AddUsbPrinter(machine, L"Vellumor VL-K410A_", 1);  // a language-monitor model
  const int points = EndAtEveryCall(
      machine, [&] { ResetMachine(); }, L"setup.exe /silence /timeout=5", L"setup.exe /silence /timeout=60", L"");
  EXPECT_GT(points, 50);
  std::printf("install: ended at each of %d calls\n", points);
}

// A search that would never end without a printer ends after a while here,
// so that a test fails rather than waits.
void WINAPI SleepThatEndsTheSearch(DWORD ms) {
  SwapSeam<&OsTable::Sleep>::Previous()(ms);
  if (Fake().clock_ms > 600000) SearchTimeoutMs = 1;
}

// A run ended while it held the spooler stopped, then a silent run with the
// family installed and no printer attached, without /timeout: it starts the
// spooler before it asks it anything, finds the family and ends; it never
// searches for a printer.
TEST_F(KilledInstall, ARunEndedWithTheSpoolerStoppedIsFinishedWithoutASearch) {
  machine.module_path = package + L"setup.exe";
  auto reset = [&] {
    ResetMachine();
    machine.pnp.devices.push_back({L"usbprint\\vellumor vl-k20d5a5", L"Vellumor VL-K20", L"USB001", 0});
    WriteRealFile(SystemFile(L"vlm6mon.dll"), "older");  // replaced with the spooler stopped
  };
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  reset();
  RunProgram(nullptr, L"setup.exe /silence /timeout=5");
  const int stop = machine.FirstCall(Seam::ControlService);
  ASSERT_GE(stop, 0);
  ForgetProcess();
  machine.EndProcess();

  reset();
  const OsTable bound = os;
  machine.ended_from = stop + 1;
  RunProgram(nullptr, L"setup.exe /silence /timeout=5");
  os = bound;
  ForgetProcess();
  machine.EndProcess();
  ASSERT_NE(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  ASSERT_NE(machine.spooler.FindDriver(L"Vellumor VL-K20"), nullptr) << "the family is installed";

  machine.devices.usb_printers.clear();  // unplugged
  machine.sleeps.clear();
  SwapSeam<&OsTable::Sleep> guard(SleepThatEndsTheSearch);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  EXPECT_EQ(std::count(machine.sleeps.begin(), machine.sleeps.end(), 1000u), 0) << "no search";
  EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  ForgetProcess();
  machine.EndProcess();
}

class KilledUninstall : public InstallFolderTest {
 public:
  ScopedInstallDirectory directory_;
};

TEST_F(KilledUninstall, AnUninstallEndedAtAnyCallIsFinishedByTheNext) {
  const std::wstring line = L"setup.exe /silence -u \"" + folder;
  auto reset = [&] {
    machine.spooler = FakeSpooler{.driver_directory = machine.spooler.driver_directory};
    machine.services = FakeServices{};
    machine.registry = FakeRegistry{};
    machine.faults.clear();
    CreateDirectoryW(folder.c_str(), nullptr);
    MakeFile(folder + L"unins000.exe");
    MakeFile(folder + L"vlm6v6.inf");
    MakeFile(monitor);
    AddPackage(L"a", kStoreA);
    AddDriver(L"Vellumor VL-K20", kStoreA);
    AddQueue(L"Vellumor VL-K20", L"Vellumor VL-K20");
    machine.spooler.monitors.push_back({L"Vellumor Language Monitor V6", L"vlm6mon.dll"});
  };
  const int points = EndAtEveryCall(machine, reset, line.c_str(), line.c_str(), folder);
  EXPECT_GT(points, 20);
  std::printf("uninstall: ended at each of %d calls\n", points);
}

}  // namespace
