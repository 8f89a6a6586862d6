#include "tests/fakes/fake_machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

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

const char* SeamName(Seam function) {
  static const char* const names[] = {
#define SEAM_NAME(name) #name,
      OS_FUNCTIONS(SEAM_NAME)
#undef SEAM_NAME
  };
  return names[static_cast<int>(function)];
}
