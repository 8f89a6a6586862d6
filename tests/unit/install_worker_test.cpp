// The install worker, silently and in the installer dialog, against the fake
// machine. Dialog 106 is the real template of the built program beside the
// tests; the worker runs on the test's own thread, so every control change is
// done by the time it returns, and the posted progress positions are read by
// pumping the thread's messages afterwards.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/entry.h"
#include "common/service_control.h"
#include "discovery/usb_printers.h"
#include "install/install_worker.h"
#include "install/installer_dialog.h"
#include "resources/resource_ids.h"
#include "tests/built_program.h"
#include "tests/fakes/fake_machine.h"
#include "tests/unit/install_support.h"
#include "uninstall/inventory.h"
#include "tests/unit/scoped_state.h"

namespace {

constexpr wchar_t kFolder[] = L"C:\\Drivers\\Setup\\";

// --- printers that come and go -----------------------------------------------

// A printer plugged in while the worker searches: attached when the device
// tree is re-enumerated for the n-th time.
struct LatePrinter {
  std::wstring description;
  DWORD port;
  int at_reenumeration;
};
std::vector<LatePrinter> g_late_printers;
std::vector<ULONG> g_reenumerate_flags;
using ReenumerateSlot = SwapSeam<&OsTable::CM_Reenumerate_DevNode>;

CONFIGRET WINAPI ReenumerateAndAttach(DEVINST node, ULONG flags) {
  g_reenumerate_flags.push_back(flags);
  const CONFIGRET result = ReenumerateSlot::Previous()(node, flags);
  FakeMachine& m = Fake();
  for (const LatePrinter& p : g_late_printers) {
    if (p.at_reenumeration == m.devices.reenumerations) AddUsbPrinter(m, p.description, p.port);
  }
  return result;
}

// Printers plugged in while the worker searches, for the length of a test.
struct LatePrinters {
  LatePrinters() {
    g_late_printers.clear();
    g_reenumerate_flags.clear();
  }
  void PlugIn(const std::wstring& description, DWORD port, int at) {
    g_late_printers.push_back({description, port, at});
  }
  ReenumerateSlot reenumerate{ReenumerateAndAttach};
};

// The queue exists already, with its driver, so the install of that printer
// succeeds at once.
void QueueExists(FakeMachine& m, const std::wstring& name, const std::wstring& port) {
  m.spooler.printers.push_back({name, port, name});
  if (m.spooler.FindDriver(name) != nullptr) return;
  FakeDriver driver;
  driver.name = name;
  driver.driver_path = L"vlm6drv6.dll";
  m.spooler.drivers.push_back(driver);
}

std::wstring PortName(DWORD port) {
  wchar_t text[16];
  swprintf(text, 16, L"USB%03u", port);
  return text;
}

// A supported printer that is attached and whose install succeeds.
void AttachInstalled(FakeMachine& m, const std::wstring& description, DWORD port) {
  AddUsbPrinter(m, description, port);
  QueueExists(m, description, PortName(port));
}

std::vector<std::wstring> LinesStartingWith(const FakeMachine& m, const std::wstring& start) {
  std::vector<std::wstring> found;
  for (const std::wstring& line : m.TraceLines()) {
    if (line.rfind(start, 0) == 0) found.push_back(line);
  }
  return found;
}

// Every test starts from the program's folder and leaves no scan behind.
class InstallWorkerTest : public testing::Test {
 protected:
  ScopedInstallDirectory directory_{kFolder};
  void TearDown() override {
    FreeUsbPrinterList(&UsbPrinterList);
    EXPECT_EQ(machine.LiveBlocks(), 0);
    EXPECT_EQ(machine.OpenHandleCount(), 0);
  }
  FakeMachine machine;
};

// --- the dialog --------------------------------------------------------------

struct Look {
  std::wstring status;
  bool wizard, picture, log, progress;  // shown
};

std::vector<int> g_positions;
WNDPROC g_progress_proc = nullptr;

LRESULT CALLBACK RecordPosition(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == PBM_SETPOS) g_positions.push_back(static_cast<int>(wparam));
  return CallWindowProcW(g_progress_proc, window, message, wparam, lparam);
}

INT_PTR CALLBACK PassiveDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Dialog 106 of the built program, with the program's strings: the tests
// compare what the worker shows with the string table, whatever the language.
class InstallerDialog {
 public:
  InstallerDialog() {
    module_ = LoadBuiltProgram();
    EXPECT_NE(module_, nullptr) << "setup.exe beside the tests";
    module_instance_.emplace(module_);
    INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&classes);
    window = CreateDialogParamW(module_, MAKEINTRESOURCEW(IDD_INSTALLER), nullptr, PassiveDialog, 0);
    EXPECT_NE(window, nullptr) << "dialog 106";
    g_positions.clear();
    g_progress_proc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        GetDlgItem(window, IDC_PROGRESS), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordPosition)));
  }
  ~InstallerDialog() {
    DestroyWindow(window);
    module_instance_.reset();
    FreeLibrary(module_);
  }

  std::wstring Text(int id) const {
    wchar_t text[4096] = {};
    GetDlgItemTextW(window, id, text, 4096);
    return text;
  }
  bool Shown(int id) const {
    return (GetWindowLongW(GetDlgItem(window, id), GWL_STYLE) & WS_VISIBLE) != 0;
  }
  Look Now() const {
    return {Text(IDC_STATUS), Shown(IDC_WIZARD), Shown(IDC_PICTURE), Shown(IDC_LOG),
            Shown(IDC_PROGRESS)};
  }
  // The positions posted to the progress bar, in order.
  std::vector<int> Positions() const {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    return g_positions;
  }
  std::wstring String(UINT id) const {
    wchar_t text[1024] = {};
    LoadStringW(module_, id, text, 1024);
    return text;
  }
  std::wstring Message(UINT id, const std::wstring& printer, const std::wstring& port) const {
    WideText<1024> text;
    BoundedFormat(text, String(id).c_str(), printer.c_str(), port.c_str());
    return text.c_str();
  }

  HWND window = nullptr;

 private:
  HMODULE module_ = nullptr;
  std::optional<ScopedModuleInstance> module_instance_;
};

// What the dialog looked like at each pause of the search, and when the first
// scan began.
const InstallerDialog* g_dialog = nullptr;
std::vector<Look> g_at_pauses;
std::vector<Look> g_at_scans;
using SleepSlot = SwapSeam<&OsTable::Sleep>;
using ScanSlot = SwapSeam<&OsTable::SetupDiGetClassDevsW>;

void WINAPI LookAndSleep(DWORD ms) {
  g_at_pauses.push_back(g_dialog->Now());
  SleepSlot::Previous()(ms);
}

HDEVINFO WINAPI LookAndScan(const GUID* guid, PCWSTR enumerator, HWND parent, DWORD flags) {
  g_at_scans.push_back(g_dialog->Now());
  return ScanSlot::Previous()(guid, enumerator, parent, flags);
}

// Looks at the dialog at every pause and at the start of every scan.
struct DialogWatch {
  explicit DialogWatch(const InstallerDialog& dialog) {
    g_dialog = &dialog;
    g_at_pauses.clear();
    g_at_scans.clear();
  }
  SleepSlot sleep{LookAndSleep};
  ScanSlot scan{LookAndScan};
};

// --- silent install ----------------------------------------------------------

TEST_F(InstallWorkerTest, SearchesOncePerSecondUntilAPrinterIsPluggedIn) {
  LatePrinters late;
  late.PlugIn(L"Vellumor VL-K20", 1, 2);
  QueueExists(machine, L"Vellumor VL-K20", L"USB001");

  EXPECT_EQ(InstallWorker(nullptr), 0u);

  EXPECT_STREQ(DriverInfPath.c_str(), L"C:\\Drivers\\Setup\\vlm6v6.inf");
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{1000, 1000})) << "one pause per empty pass";
  EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), 3) << "three passes";
  EXPECT_EQ(g_reenumerate_flags, (std::vector<ULONG>{CM_REENUMERATE_SYNCHRONOUS,
                                                     CM_REENUMERATE_SYNCHRONOUS}))
      << "each pause is followed by a re-enumeration that Windows finishes first";
  EXPECT_EQ(LinesStartingWith(machine, L"Installing printer model"),
            std::vector<std::wstring>{
                L"Installing printer model: Vellumor VL-K20, name: Vellumor VL-K20, port: USB001"});
}

TEST_F(InstallWorkerTest, InstallsEverySupportedPrinterOfAPassAndPassesOverOthers) {
  AttachInstalled(machine, L"Vellumor VL-K20", 1);
  AddUsbPrinter(machine, L"Other Maker P1", 2);
  AddUsbPrinter(machine, L"VellumorVL-K410A_", 3);
  QueueExists(machine, L"Vellumor VL-K410A_", L"USB003");

  EXPECT_EQ(InstallWorker(nullptr), 0u);

  EXPECT_TRUE(machine.sleeps.empty());
  // Newest scan record first; driver and printer name joined by one blank.
  EXPECT_EQ(LinesStartingWith(machine, L"Installing printer model"),
            (std::vector<std::wstring>{
                L"Installing printer model: Vellumor VL-K410A_, name: Vellumor VL-K410A_, port: USB003",
                L"Installing printer model: Vellumor VL-K20, name: Vellumor VL-K20, port: USB001"}));
}

TEST_F(InstallWorkerTest, InfPathThatDoesNotFitStopsBeforeAnySearch) {
  // 249 characters of folder and vlm6v6.inf fill the 260-character path.
  const std::wstring fits = L"C:\\" + std::wstring(245, L'd') + L"\\";
  ASSERT_TRUE(BoundedCopy(InstallDirectory, fits.c_str()));
  AttachInstalled(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(InstallWorker(nullptr), 0u);
  EXPECT_EQ(DriverInfPath.length(), 259u);

  const std::wstring too_long = L"C:\\" + std::wstring(246, L'd') + L"\\";
  ASSERT_TRUE(BoundedCopy(InstallDirectory, too_long.c_str()));
  const int scans = machine.CallCount(Seam::SetupDiGetClassDevsW);
  EXPECT_EQ(InstallWorker(nullptr), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  EXPECT_TRUE(DriverInfPath.empty()) << "no cut path is left for the wizard";
  EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), scans) << "no search";
  EXPECT_EQ(LinesStartingWith(machine, L"Driver INF path does not fit").size(), 1u);
}

TEST_F(InstallWorkerTest, SilentRoadExitsWithTheInstallOutcome) {
  // A program folder so long that the INF path cannot be formed.
  const std::wstring program = machine.module_path;
  machine.module_path = L"C:\\" + std::wstring(247, L'd') + L"\\s.exe";
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /SILENCE"), ERROR_FILENAME_EXCED_RANGE);
  machine.module_path = program;
  AttachInstalled(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 0);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe "), 0) << "the dialog road keeps exit code 0";
  // The probe's inventory goes with the process.
  machine.EndProcess();
  ForgetInventory();
  UsbPrinterList = nullptr;
}

// --- the installer dialog ----------------------------------------------------

TEST_F(InstallWorkerTest, DialogSearchesShowsTheWizardAndInstallsAPrinterPluggedInLater) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  LatePrinters late;
  late.PlugIn(L"Vellumor VL-K20", 1, 2);
  QueueExists(machine, L"Vellumor VL-K20", L"USB001");
  DialogWatch watch(dialog);

  EXPECT_EQ(InstallWorker(dialog.window), 0u);

  ASSERT_EQ(g_at_scans.size(), 3u);
  EXPECT_EQ(g_at_scans[0].status, dialog.String(IDS_SEARCHING));
  EXPECT_TRUE(g_at_scans[0].progress);
  EXPECT_FALSE(g_at_scans[0].picture);
  ASSERT_EQ(g_at_pauses.size(), 2u);
  for (const Look& look : g_at_pauses) {
    EXPECT_EQ(look.status, dialog.String(IDS_NO_DEVICE));
    EXPECT_TRUE(look.wizard);
    EXPECT_TRUE(look.picture);
    EXPECT_FALSE(look.log);
    EXPECT_FALSE(look.progress);
  }

  const std::wstring installed = dialog.Message(IDS_INSTALLED, L"Vellumor VL-K20", L"USB001");
  EXPECT_EQ(dialog.Text(IDC_LOG),
            dialog.Message(IDS_FOUND_PRINTER, L"Vellumor VL-K20", L"USB001") + installed)
      << "the log is cleared at each pass";
  EXPECT_EQ(dialog.Text(IDC_STATUS), installed);
  EXPECT_EQ(dialog.Text(IDCANCEL), dialog.String(IDS_DONE));
  const Look end = dialog.Now();
  EXPECT_FALSE(end.wizard);
  EXPECT_FALSE(end.picture);
  EXPECT_TRUE(end.log);
  EXPECT_TRUE(end.progress);
  EXPECT_EQ(dialog.Positions(), (std::vector<int>{100, 40, 80, 100}));
  EXPECT_EQ(SendDlgItemMessageW(dialog.window, IDC_PROGRESS, PBM_GETPOS, 0, 0), 100);
}

TEST_F(InstallWorkerTest, DialogLogsEachPrinterOfOnePass) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  AttachInstalled(machine, L"Vellumor VL-K20", 1);
  AddUsbPrinter(machine, L"Other Maker P1", 2);
  AttachInstalled(machine, L"Vellumor VL-K21", 3);

  EXPECT_EQ(InstallWorker(dialog.window), 0u);

  EXPECT_EQ(dialog.Text(IDC_LOG),
            dialog.Message(IDS_FOUND_PRINTER, L"Vellumor VL-K21", L"USB003") +
                dialog.Message(IDS_INSTALLED, L"Vellumor VL-K21", L"USB003") +
                dialog.Message(IDS_FOUND_PRINTER, L"Vellumor VL-K20", L"USB001") +
                dialog.Message(IDS_INSTALLED, L"Vellumor VL-K20", L"USB001"));
  EXPECT_EQ(dialog.Positions(), (std::vector<int>{100, 40, 80, 40, 40, 80, 100}))
      << "40 before each device, 80 after each install";
  EXPECT_EQ(dialog.Text(IDCANCEL), dialog.String(IDS_DONE));
}

TEST_F(InstallWorkerTest, DialogWithAnInfPathThatDoesNotFitShowsTheFailure) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  const std::wstring cancel = dialog.Text(IDCANCEL);
  const std::wstring too_long = L"C:\\" + std::wstring(246, L'd') + L"\\";
  ASSERT_TRUE(BoundedCopy(InstallDirectory, too_long.c_str()));

  EXPECT_EQ(InstallWorker(dialog.window), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));

  WideText<1024> failed;
  BoundedFormat(failed, dialog.String(IDS_INSTALL_FAILED).c_str(), 206);
  EXPECT_EQ(dialog.Text(IDC_STATUS), failed.c_str());
  EXPECT_EQ(dialog.Text(IDCANCEL), cancel);
  EXPECT_FALSE(dialog.Shown(IDC_WIZARD)) << "no wizard on a cut path";
  EXPECT_EQ(dialog.Positions(), std::vector<int>{100});
}

// --- failed installs -----------------------------------------------------------

// The driver package laid out for real, so that the per-printer install runs
// its whole sequence; a fault chosen by the test makes it fail.
class FailedInstallTest : public PackageTest {
 protected:
  void TearDown() override {
    FreeUsbPrinterList(&UsbPrinterList);
    PackageTest::TearDown();
  }
};

TEST_F(FailedInstallTest, StopsAtTheFirstFailureWithItsErrorCode) {
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  AddUsbPrinter(machine, L"Vellumor VL-K21", 2);  // scanned first
  machine.Fail(Seam::InstallPrinterDriverFromPackageW, ERROR_ACCESS_DENIED);
  machine.Fail(Seam::AddPrinterDriverW, ERROR_ACCESS_DENIED);

  EXPECT_EQ(InstallWorker(nullptr), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  EXPECT_EQ(TraceStarting(L"Installing printer model"),
            std::vector<std::wstring>{
                L"Installing printer model: Vellumor VL-K21, name: Vellumor VL-K21, port: USB002"})
      << "the printer after the failed one is not tried";
  EXPECT_EQ(TraceStarting(L"Install failed"),
            std::vector<std::wstring>{L"Install failed, name: Vellumor VL-K21, port: USB002, error:5"});
  EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), 1) << "no further pass";
}

// A sleep that leaves the thread's error code cleared, as a wait that ran
// out leaves no code of its own.
void WINAPI SleepClearingTheError(DWORD ms) {
  SleepSlot::Previous()(ms);
  SetLastError(ERROR_SUCCESS);
}

TEST_F(FailedInstallTest, SilentInstallExitsWithTheErrorCodeOr1603) {
  machine.module_path = package + L"setup.exe";
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.Fail(Seam::InstallPrinterDriverFromPackageW, ERROR_ACCESS_DENIED);
  machine.Fail(Seam::AddPrinterDriverW, ERROR_ACCESS_DENIED);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_ACCESS_DENIED);

  // A failure that leaves no error code of its own.
  ResetMachine();
  machine.Fail(Seam::AddMonitorW, ERROR_SUCCESS);
  SleepSlot clearing(SleepClearingTheError);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), 1603);
  EXPECT_EQ(TraceStarting(L"Install failed").back(),
            L"Install failed, name: Vellumor VL-K20, port: USB001, error:0");
}

// With a null reboot pointer Windows would ask for a restart in the middle of
// the binding; the dialog hands one over and asks at the end, with Windows'
// own restart question.
TEST_F(FailedInstallTest, TheDialogAsksForARestartAtTheEndWithWindowsOwnQuestion) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.pnp.devices.push_back({L"usbprint\\vellumor vl-k20d5a5", L"Vellumor VL-K20", L"USB001", 0});
  machine.pnp.wants_restart = true;
  EXPECT_EQ(InstallWorker(dialog.window), 0u);
  EXPECT_EQ(machine.pnp.restart_prompts, 0) << "no question in the middle";
  EXPECT_EQ(machine.CallCount(Seam::RestartDialogEx), 1);
  EXPECT_GT(machine.FirstCall(Seam::RestartDialogEx), machine.FirstCall(Seam::UpdateDriverForPlugAndPlayDevicesW));
}

TEST_F(FailedInstallTest, DialogShowsTheFailureAndKeepsCancel) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  const std::wstring cancel = dialog.Text(IDCANCEL);
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  AddUsbPrinter(machine, L"Vellumor VL-K21", 2);
  machine.Fail(Seam::InstallPrinterDriverFromPackageW, ERROR_ACCESS_DENIED);
  machine.Fail(Seam::AddPrinterDriverW, ERROR_ACCESS_DENIED);

  EXPECT_EQ(InstallWorker(dialog.window), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  WideText<1024> failed;
  BoundedFormat(failed, dialog.String(IDS_INSTALL_FAILED).c_str(), 5);
  EXPECT_EQ(dialog.Text(IDC_STATUS), failed.c_str());
  EXPECT_EQ(dialog.Text(IDC_LOG),
            dialog.Message(IDS_FOUND_PRINTER, L"Vellumor VL-K21", L"USB002") + failed.c_str());
  EXPECT_EQ(dialog.Text(IDCANCEL), cancel);
  EXPECT_EQ(dialog.Positions(), (std::vector<int>{100, 40, 80, 100}));
  EXPECT_EQ(SendDlgItemMessageW(dialog.window, IDC_PROGRESS, PBM_GETPOS, 0, 0), 100);
}

// --- the dialog procedure ----------------------------------------------------

TEST_F(InstallWorkerTest, WizardOpensTheAddPrinterWizardOnTheInfAndTriesOnceToRaiseIt) {
  BoundedCopy(DriverInfPath, L"C:\\Drivers\\Setup\\vlm6v6.inf");
  EXPECT_FALSE(InstallerDialogProc(nullptr, WM_COMMAND, MAKEWPARAM(IDC_WIZARD, BN_CLICKED), 0));
  ASSERT_EQ(machine.processes.size(), 1u);
  const std::wstring rundll32 = L"\"" + machine.system_directory + L"\\rundll32.exe\" ";
  EXPECT_EQ(machine.processes[0].command_line,
            rundll32 + L"printui.dll PrintUIEntry /ii /f \"C:\\Drivers\\Setup\\vlm6v6.inf\"");
  EXPECT_TRUE(machine.refused_programs.empty());
  EXPECT_EQ(machine.sleeps, std::vector<DWORD>{300});

  // The longest INF path fits the wizard's own command line whole.
  const std::wstring longest = L"C:\\" + std::wstring(245, L'd') + L"\\vlm6v6.inf";
  ASSERT_TRUE(BoundedCopy(DriverInfPath, longest.c_str()));
  InstallerDialogProc(nullptr, WM_COMMAND, IDC_WIZARD, 0);
  ASSERT_EQ(machine.processes.size(), 2u);
  EXPECT_EQ(machine.processes[1].command_line,
            rundll32 + L"printui.dll PrintUIEntry /ii /f \"" + longest + L"\"");

  // A wizard that does not start leaves nothing to wait for; no path, no start.
  machine.FailTimes(Seam::CreateProcessW, ERROR_FILE_NOT_FOUND, 1);
  InstallerDialogProc(nullptr, WM_COMMAND, IDC_WIZARD, 0);
  DriverInfPath.clear();
  InstallerDialogProc(nullptr, WM_COMMAND, IDC_WIZARD, 0);
  EXPECT_EQ(machine.processes.size(), 2u);
  EXPECT_EQ(machine.sleeps, (std::vector<DWORD>{300, 300}));
}

// The dialog as the program runs it: the worker on its own thread, Cancel
// (reading Done by then) ends the dialog.
constexpr UINT_PTR kPollTimer = 7;
int g_polls = 0;
std::wstring g_done;

INT_PTR CALLBACK ClickDoneWhenShown(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) SetTimer(window, kPollTimer, 20, nullptr);
  if (message == WM_TIMER && wparam == kPollTimer) {
    wchar_t caption[64] = {};
    GetDlgItemTextW(window, IDCANCEL, caption, 64);
    if (g_done == caption) {
      KillTimer(window, kPollTimer);
      SendDlgItemMessageW(window, IDCANCEL, BM_CLICK, 0, 0);
    } else if (++g_polls > 500) {
      EndDialog(window, -1);
    }
    return TRUE;
  }
  return InstallerDialogProc(window, message, wparam, lparam);
}

TEST_F(InstallWorkerTest, DialogRunsTheWorkerOnItsOwnThreadAndCancelEndsIt) {
  InstallerDialog strings;  // the program's resources for the real dialog
  g_done = strings.String(IDS_DONE);
  g_polls = 0;
  AttachInstalled(machine, L"Vellumor VL-K20", 1);

  const INT_PTR result = DialogBoxParamW(ModuleInstance, MAKEINTRESOURCEW(IDD_INSTALLER), nullptr,
                                         ClickDoneWhenShown, 0);
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(LinesStartingWith(machine, L"Installing printer model").size(), 1u);
}

// --- helpers -----------------------------------------------------------------

TEST(AppendLogText, AppendsAtTheEndWhereverTheSelectionIs) {
  HWND edit = CreateWindowExW(0, L"EDIT", L"", ES_MULTILINE | ES_READONLY, 0, 0, 200, 100, nullptr,
                              nullptr, nullptr, nullptr);
  ASSERT_NE(edit, nullptr);
  AppendLogText(edit, L"first\r\n");
  SendMessageW(edit, EM_SETSEL, 0, 3);
  AppendLogText(edit, L"second");
  wchar_t text[64] = {};
  GetWindowTextW(edit, text, 64);
  EXPECT_STREQ(text, L"first\r\nsecond");
  EXPECT_FALSE(SendMessageW(edit, EM_CANUNDO, 0, 0)) << "not undoable";
  DestroyWindow(edit);
}

TEST(ForegroundProcessWindow, FindsOnlyWindowsOfThatProcess) {
  HWND window = CreateWindowExW(0, L"STATIC", L"probe", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(ForegroundProcessWindow(GetCurrentProcessId()));
  EXPECT_FALSE(ForegroundProcessWindow(0xFFFFFFF0)) << "no process has that id";
  DestroyWindow(window);
}

}  // namespace

namespace {

// A program path too long to read whole: nothing is used from a cut folder.
TEST_F(InstallWorkerTest, ACutProgramPathIsNotUsed) {
  machine.module_path = L"C:\\" + std::wstring(290, L'd') + L"\\unins000.exe";
  AttachInstalled(machine, L"Vellumor VL-K20", 1);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_FILENAME_EXCED_RANGE);
  EXPECT_TRUE(machine.processes.empty()) << "no copy, no uninstaller started";
  EXPECT_EQ(machine.CallCount(Seam::CopyFileW), 0);
  EXPECT_EQ(machine.CallCount(Seam::SetupDiGetClassDevsW), 0) << "no search";
}

TEST_F(InstallWorkerTest, DialogWithoutAProgramFolderShows104With206) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  InstallDirectory.clear();
  EXPECT_EQ(InstallWorker(dialog.window), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
  WideText<1024> failed;
  BoundedFormat(failed, dialog.String(IDS_INSTALL_FAILED).c_str(), 206);
  EXPECT_EQ(dialog.Text(IDC_STATUS), failed.c_str());
}

// The cause, not whatever later calls left, reaches the user and the exit code.
TEST_F(FailedInstallTest, AQueueTheSpoolerRefusedShows104WithItsErrorAndExitsWithIt) {
  machine.module_path = package + L"setup.exe";
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);
  machine.Fail(Seam::AddPrinterW, ERROR_ACCESS_DENIED);
  EXPECT_EQ(RunProgram(nullptr, L"setup.exe /silence"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(TraceStarting(L"Install failed").back(), L"Install failed, name: Vellumor VL-K20, port: USB001, error:5");
}

TEST_F(FailedInstallTest, AMissingConfigurationDllKeepsTheInstalledCopyAndShows2) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  WriteRealFile(DriverFile(L"vlm6drv6ui.dll"), "installed");
  DeleteFileW((package + L"amd64\\vlm6drv6ui.dll").c_str());
  AddUsbPrinter(machine, L"Vellumor VL-K20", 1);

  EXPECT_EQ(InstallWorker(dialog.window), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

  EXPECT_EQ(ReadRealFile(DriverFile(L"vlm6drv6ui.dll")), "installed");
  WideText<1024> failed;
  BoundedFormat(failed, dialog.String(IDS_INSTALL_FAILED).c_str(), 2);
  EXPECT_EQ(dialog.Text(IDC_STATUS), failed.c_str());
}

// Cancel while the worker holds the spooler stopped: the dialog ends only
// once the spooler has been started again.
HWND g_cancelled_dialog = nullptr;
bool g_ended_while_stopped = true;
void CancelWhileStopped(const wchar_t*) {
  InstallerDialogProc(g_cancelled_dialog, WM_COMMAND, IDCANCEL, 0);
  g_ended_while_stopped = !IsWindowVisible(g_cancelled_dialog);
}

TEST_F(InstallWorkerTest, CancelWhileTheSpoolerIsStoppedEndsTheDialogAfterTheStart) {
  InstallerDialog dialog;
  ASSERT_NE(dialog.window, nullptr);
  ShowWindow(dialog.window, SW_SHOW);
  g_cancelled_dialog = dialog.window;
  RestartSpoolerWithAction(CancelWhileStopped, L"C:\\pkg\\vlm6mon.dll");
  EXPECT_FALSE(g_ended_while_stopped);
  EXPECT_TRUE(IsWindowVisible(dialog.window));
  InstallerDialogProc(dialog.window, WM_TIMER, 1, 0);  // the dialog's next look
  EXPECT_FALSE(IsWindowVisible(dialog.window)) << "ended once the spooler runs";
}

// CM_Reenumerate_DevNode: "Callers of this function must have
// SeLoadDriverPrivilege": it is enabled before the first look, and a look
// Windows refuses is traced once, however long the search.
TEST_F(InstallWorkerTest, TheLookForDevicesHasTheLoadDriverPrivilegeAndARefusalIsTracedOnce) {
  LatePrinters late;
  late.PlugIn(L"Vellumor VL-K20", 1, 1);
  QueueExists(machine, L"Vellumor VL-K20", L"USB001");
  SearchTimeoutMs = 5000;
  EXPECT_EQ(InstallWorker(nullptr), 0u);
  EXPECT_LT(machine.FirstCall(Seam::AdjustTokenPrivileges), machine.FirstCall(Seam::CM_Reenumerate_DevNode));
}

TEST_F(InstallWorkerTest, ALookForDevicesWindowsRefusesIsTracedOnce) {
  machine.holds_load_driver_privilege = false;
  SearchTimeoutMs = 3000;
  EXPECT_EQ(InstallWorker(nullptr), static_cast<DWORD>(ERROR_TIMEOUT));
  EXPECT_EQ(LinesStartingWith(machine, L"Windows refused to look for new devices").size(), 1u);
  EXPECT_EQ(machine.CallCount(Seam::CM_Reenumerate_DevNode), 3);
}

}  // namespace
