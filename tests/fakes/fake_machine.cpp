#include "tests/fakes/fake_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "common/package.h"
#include "common/run_options.h"
#include "uninstall/inventory.h"

namespace {

FakeMachine* g_machine = nullptr;

// A function no area of the fake machine models: calling it fails the test and
// does nothing to the real machine.
template <typename F>
struct Trap;
template <typename R, typename... A>
struct Trap<R (*)(A...)> {
  template <const char* Name>
  static R Call(A...) {
    ADD_FAILURE() << "the fake machine does not model " << Name;
    if constexpr (!std::is_void_v<R>) return R{};
  }
};

#define TRAP_NAME(name) constexpr char kTrap_##name[] = #name;
OS_FUNCTIONS(TRAP_NAME)
#undef TRAP_NAME

void InstallTraps(OsTable& table) {
#define TRAP_SLOT(name) table.name = Trap<decltype(table.name)>::template Call<kTrap_##name>;
  OS_FUNCTIONS(TRAP_SLOT)
#undef TRAP_SLOT
}

std::wstring MakeRealFolder(const std::wstring& parent, const std::wstring& name) {
  std::wstring path = parent + name;
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

}  // namespace

void RemoveRealTree(const std::wstring& folder) {
  if (folder.empty()) return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = folder + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveRealTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  RemoveDirectoryW(folder.c_str());
}

FakeMachine& Fake() {
  if (g_machine == nullptr) {
    ADD_FAILURE() << "no fake machine in place";
    std::abort();
  }
  return *g_machine;
}

FakeMachine::FakeMachine() : saved_(os) {
  if (g_machine != nullptr) ADD_FAILURE() << "two fake machines at once";
  g_machine = this;

  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  static unsigned serial = 0;
  root_ = MakeRealFolder(temp, L"fake-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(++serial));
  temp_directory = MakeRealFolder(root_, L"\\temp") + L"\\";
  system_temp_directory = MakeRealFolder(root_, L"\\SystemTemp") + L"\\";
  system_directory = MakeRealFolder(root_, L"\\system32");
  spooler.driver_directory = MakeRealFolder(root_, L"\\spool-x64");
  spooler.driver_directories[L"Windows x64"] = spooler.driver_directory;
  spooler.driver_directories[L"Windows ARM64"] = MakeRealFolder(root_, L"\\spool-arm64");
  spooler.driver_directories[L"Windows ARM"] = MakeRealFolder(root_, L"\\spool-arm");
  spooler.driver_directories[L"Windows NT x86"] = MakeRealFolder(root_, L"\\spool-x86");
  MakeRealFolder(root_, L"\\DriverStore");

  InstallTraps(os);
  InstallCoreFakes(os);
  InstallSpoolerFakes(os);
  InstallSpoolerRemovalFakes(os);
  InstallServiceFakes(os);
  InstallDeviceFakes(os);
  InstallDeviceNodeFakes(os);
  InstallPlugAndPlayFakes(os);
  InstallInfFakes(os);
  InstallShellFakes(os);
  InstallRegistryFakes(os);
}

FakeMachine::~FakeMachine() {
  os = saved_;
  // The inventory's nodes and arrays came from this machine's heap, which goes
  // now: the next test must not walk them.
  ForgetInventory();
  // A run's own state goes with the machine it ran on.
  SilentRun = false;
  RestartNeeded = false;
  SpoolerLeftStopped = ERROR_SUCCESS;
  RescanRefusalTraced = false;
  VerifiedPackageFolder.clear();
  SearchTimeoutMs = 0;
  for (auto& [block, size] : live_blocks) LocalFree(block);
  RemoveRealTree(root_);
  g_machine = nullptr;
}

bool FakeMachine::Enter(Seam function, const std::wstring& detail, DWORD* error) {
  calls.push_back({function, detail});
  // A process ended by force makes no change from then on.
  if (ended_from >= 0 && static_cast<int>(calls.size()) > ended_from) {
    SetLastError(ERROR_PROCESS_ABORTED);
    if (error != nullptr) *error = ERROR_PROCESS_ABORTED;
    return true;
  }
  for (FaultRule& rule : faults) {
    if (rule.function != function || rule.times == 0) continue;
    if (rule.skip > 0) {
      --rule.skip;
      continue;
    }
    if (rule.times > 0) --rule.times;
    SetLastError(rule.error);
    if (error != nullptr) *error = rule.error;
    return true;
  }
  return false;
}

int FakeMachine::CallCount(Seam function) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                        [&](const FakeCall& c) { return c.function == function; }));
}

int FakeMachine::CallCount(Seam function, const std::wstring& detail) const {
  return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const FakeCall& c) {
    return c.function == function && c.detail == detail;
  }));
}

int FakeMachine::FirstCall(Seam function) const {
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].function == function) return static_cast<int>(i);
  }
  return -1;
}

std::vector<Seam> FakeMachine::CallNames() const {
  std::vector<Seam> names;
  for (const FakeCall& c : calls) names.push_back(c.function);
  return names;
}

void* FakeMachine::OpenHandle(const std::string& kind) {
  void* handle = reinterpret_cast<void*>(next_handle_);
  next_handle_ += 0x10;
  open_handles[handle] = kind;
  return handle;
}

bool FakeMachine::CloseHandleOf(const std::string& kind, void* handle) {
  auto it = open_handles.find(handle);
  if (it == open_handles.end() || it->second != kind) {
    ADD_FAILURE() << "closing a " << kind << " handle that is not open";
    return false;
  }
  open_handles.erase(it);
  return true;
}

int FakeMachine::OpenHandleCount(const std::string& kind) const {
  return static_cast<int>(std::count_if(open_handles.begin(), open_handles.end(),
                                        [&](const auto& h) { return h.second == kind; }));
}

std::vector<std::wstring> FakeMachine::TraceLines() const {
  std::wstring all;
  for (const std::wstring& w : debug_writes) all += w;
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t nl; (nl = all.find(L'\n', start)) != std::wstring::npos; start = nl + 1) {
    lines.push_back(all.substr(start, nl - start));
  }
  if (start < all.size()) lines.push_back(all.substr(start));
  return lines;
}

std::wstring FakeMachine::MachineEnvironment() const {
  switch (native_machine) {
    case IMAGE_FILE_MACHINE_ARM64: return L"Windows ARM64";
    case IMAGE_FILE_MACHINE_AMD64: return L"Windows x64";
    default: break;
  }
  switch (native_architecture) {
    case PROCESSOR_ARCHITECTURE_ARM64: return L"Windows ARM64";
    case PROCESSOR_ARCHITECTURE_ARM: return L"Windows ARM";
    case PROCESSOR_ARCHITECTURE_INTEL: return L"Windows NT x86";
    default: return L"Windows x64";
  }
}

// MS-PRSOD 2.7.1.1: with the spooler service stopped, clients "experience
// failures on currently executing calls and all subsequent calls"; what
// winspool answers then is RPC_S_SERVER_UNAVAILABLE ([MS-ERREF] 0x6BA).
bool FakeMachine::SpoolerUnavailable() const {
  auto it = services.services.find(L"Spooler");
  if (it == services.services.end() || it->second.state == SERVICE_RUNNING) return false;
  SetLastError(RPC_S_SERVER_UNAVAILABLE);
  return true;
}

std::wstring FakeMachine::RealPath(const std::wstring& path) const {
  const std::wstring store = L"C:\\Windows\\System32\\DriverStore\\";
  if (path.size() < store.size() || _wcsnicmp(path.c_str(), store.c_str(), store.size()) != 0) return path;
  return root_ + L"\\DriverStore\\" + path.substr(store.size());
}

void FakeMachine::StorePackage(const std::wstring& store_inf, const std::wstring& driver_ver) {
  const std::wstring real = RealPath(store_inf);
  // Every folder on the way, then the INF; a path outside the store is only
  // named (nothing is written outside this machine's folder).
  if (real == store_inf) {
    if (!driver_ver.empty()) spooler.inf_versions[store_inf] = driver_ver;
    spooler.packages.push_back(store_inf);
    return;
  }
  for (size_t at = real.find(L'\\', root_.size() + 1); at != std::wstring::npos; at = real.find(L'\\', at + 1)) {
    CreateDirectoryW(real.substr(0, at).c_str(), nullptr);
  }
  const std::string text = "[Version]\r\nDriverVer=" + std::string(driver_ver.begin(), driver_ver.end()) + "\r\n";
  HANDLE file = CreateFileW(real.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
  }
  if (!driver_ver.empty()) spooler.inf_versions[store_inf] = driver_ver;
  for (const std::wstring& known : spooler.packages) {
    if (_wcsicmp(known.c_str(), store_inf.c_str()) == 0) return;
  }
  spooler.packages.push_back(store_inf);
}

// MoveFileExW: "The system uses these registry entries to complete the
// operations at restart in the same order that they were issued."
void FakeMachine::Restart() {
  const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  const auto found = registry.keys.find(key);
  std::vector<std::wstring> entries;
  if (found != registry.keys.end()) {
    const auto value = found->second.values.find(L"PendingFileRenameOperations");
    if (value != found->second.values.end()) {
      const auto* text = reinterpret_cast<const wchar_t*>(value->second.data.data());
      const size_t chars = value->second.data.size() / sizeof(wchar_t);
      for (size_t at = 0; at < chars;) {
        const std::wstring entry(text + at);
        entries.push_back(entry);
        at += entry.size() + 1;
      }
      found->second.values.erase(value);
    }
  }
  auto plain = [&](std::wstring path) {
    if (!path.empty() && path[0] == L'!') path.erase(0, 1);
    if (path.rfind(L"\\??\\", 0) == 0) path.erase(0, 4);
    return RealPath(path);
  };
  for (size_t i = 0; i + 1 < entries.size(); i += 2) {
    if (entries[i].empty()) break;  // the list's end
    const std::wstring from = plain(entries[i]);
    if (entries[i + 1].empty()) {
      DeleteFileW(from.c_str());
    } else {
      MoveFileExW(from.c_str(), plain(entries[i + 1]).c_str(), MOVEFILE_REPLACE_EXISTING);
    }
  }
  delayed_moves.clear();
  delayed_move_flags.clear();
  for (auto& [name, service] : services.services) {
    if (!service.disabled) service.state = SERVICE_RUNNING;
  }
  load_driver_privilege_on = false;
}

const char* SeamName(Seam function) {
  static const char* const names[] = {
#define SEAM_NAME(name) #name,
      OS_FUNCTIONS(SEAM_NAME)
#undef SEAM_NAME
  };
  return names[static_cast<int>(function)];
}
