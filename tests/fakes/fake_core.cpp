// Clock, debug output, heap, handles, mutexes, processes, files and system
// information of the fake machine.
#include <gtest/gtest.h>

#include "tests/fakes/fake_machine.h"

namespace {

std::wstring Text(const wchar_t* s) { return s != nullptr ? s : L""; }

void WINAPI FakeSleep(DWORD ms) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::Sleep, std::to_wstring(ms)});
  m.sleeps.push_back(ms);
  m.clock_ms += ms;
}

void WINAPI FakeOutputDebugStringW(LPCWSTR text) {
  Fake().debug_writes.push_back(Text(text));
}

HLOCAL WINAPI FakeLocalAlloc(UINT flags, SIZE_T bytes) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::LocalAlloc, std::to_wstring(bytes))) return nullptr;
  HLOCAL block = LocalAlloc(flags & ~LMEM_MOVEABLE, bytes);
  if (block != nullptr) m.live_blocks[block] = bytes;
  return block;
}

HLOCAL WINAPI FakeLocalFree(HLOCAL block) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::LocalFree, {}});
  if (block == nullptr) return nullptr;
  auto it = m.live_blocks.find(block);
  if (it == m.live_blocks.end()) {
    ADD_FAILURE() << "LocalFree of a block the fake machine did not hand out";
    return block;
  }
  m.live_blocks.erase(it);
  return LocalFree(block);
}

BOOL WINAPI FakeCloseHandle(HANDLE handle) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CloseHandle)) return FALSE;
  auto it = m.open_handles.find(handle);
  if (it == m.open_handles.end()) {
    ADD_FAILURE() << "CloseHandle of a handle that is not open";
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const bool real_file = it->second == "file";
  m.open_handles.erase(it);
  if (real_file) ::CloseHandle(handle);
  auto named = m.mutex_handles.find(handle);
  if (named != m.mutex_handles.end()) {
    --m.mutexes[named->second];
    m.mutex_handles.erase(named);
  }
  return TRUE;
}

HANDLE WINAPI FakeCreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR name) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CreateMutexW, Text(name))) return nullptr;
  HANDLE handle = m.OpenHandle("mutex");
  const std::wstring key = name != nullptr ? m.MutexKey(name) : L"";
  const bool existed = name != nullptr && m.mutexes[key] > 0;
  if (name != nullptr) {
    ++m.mutexes[key];
    m.mutex_handles[handle] = key;
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

BOOL WINAPI FakeReleaseMutex(HANDLE) {
  // The tool never owns its mutex, so there is nothing to release.
  Fake().Enter(Seam::ReleaseMutex);
  SetLastError(ERROR_NOT_OWNER);
  return FALSE;
}

DWORD WINAPI FakeGetModuleFileNameW(HMODULE, LPWSTR buffer, DWORD capacity) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetModuleFileNameW)) return 0;
  if (capacity == 0) return 0;
  const std::wstring& path = m.module_path;
  if (path.size() + 1 > capacity) {
    // Windows cuts the path and terminates it.
    path.copy(buffer, capacity - 1);
    buffer[capacity - 1] = L'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return capacity;
  }
  path.copy(buffer, path.size());
  buffer[path.size()] = L'\0';
  return static_cast<DWORD>(path.size());
}

LPWSTR* WINAPI FakeCommandLineToArgvW(LPCWSTR line, int* count) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CommandLineToArgvW, Text(line))) return nullptr;
  // The real splitting rules, in a block the fake machine accounts for.
  int n = 0;
  LPWSTR* real = CommandLineToArgvW(line, &n);
  if (real == nullptr) return nullptr;
  size_t bytes = sizeof(LPWSTR) * (n + 1);
  for (int i = 0; i < n; ++i) bytes += (wcslen(real[i]) + 1) * sizeof(wchar_t);
  auto* block = static_cast<LPWSTR*>(LocalAlloc(LPTR, bytes));
  auto* text = reinterpret_cast<wchar_t*>(block + n + 1);
  for (int i = 0; i < n; ++i) {
    block[i] = text;
    wcscpy(text, real[i]);
    text += wcslen(real[i]) + 1;
  }
  LocalFree(real);
  m.live_blocks[block] = bytes;
  *count = n;
  return block;
}

DWORD WINAPI FakeGetTempPathW(DWORD capacity, LPWSTR buffer) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetTempPathW)) return 0;
  const std::wstring& path = m.temp_directory;
  if (path.size() + 1 > capacity) return static_cast<DWORD>(path.size() + 1);
  path.copy(buffer, path.size());
  buffer[path.size()] = L'\0';
  return static_cast<DWORD>(path.size());
}

UINT WINAPI FakeGetTempFileNameW(LPCWSTR directory, LPCWSTR prefix, UINT unique, LPWSTR out) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetTempFileNameW, Text(prefix))) return 0;
  return GetTempFileNameW(directory, prefix, unique, out);
}

UINT WINAPI FakeGetSystemDirectoryW(LPWSTR buffer, UINT capacity) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetSystemDirectoryW)) return 0;
  const std::wstring& path = m.system_directory;
  if (path.size() + 1 > capacity) return static_cast<UINT>(path.size() + 1);
  path.copy(buffer, path.size());
  buffer[path.size()] = L'\0';
  return static_cast<UINT>(path.size());
}

BOOL WINAPI FakeCopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CopyFileW, Text(to))) return FALSE;
  return CopyFileW(m.RealPath(Text(from)).c_str(), m.RealPath(Text(to)).c_str(), fail_if_exists);
}

BOOL WINAPI FakeDeleteFileW(LPCWSTR path) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::DeleteFileW, Text(path))) return FALSE;
  return DeleteFileW(path);
}

DWORD WINAPI FakeGetFileAttributesW(LPCWSTR path) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetFileAttributesW, Text(path))) return INVALID_FILE_ATTRIBUTES;
  return GetFileAttributesW(m.RealPath(Text(path)).c_str());
}

// Folder listings of the real files, their handles accounted for.
HANDLE WINAPI FakeFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::FindFirstFileW, Text(pattern))) return INVALID_HANDLE_VALUE;
  HANDLE search = FindFirstFileW(pattern, found);
  if (search != INVALID_HANDLE_VALUE) m.open_handles[search] = "find";
  return search;
}

BOOL WINAPI FakeFindNextFileW(HANDLE search, LPWIN32_FIND_DATAW found) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::FindNextFileW)) return FALSE;
  return FindNextFileW(search, found);
}

BOOL WINAPI FakeFindClose(HANDLE search) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::FindClose, {}});
  if (!m.CloseHandleOf("find", search)) return FALSE;
  return FindClose(search);
}

DWORD WINAPI FakeGetPrivateProfileSectionW(LPCWSTR section, LPWSTR buffer, DWORD size, LPCWSTR file) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetPrivateProfileSectionW, Text(section))) {
    if (size > 1) buffer[0] = buffer[1] = L'\0';
    return 0;
  }
  return GetPrivateProfileSectionW(section, buffer, size, file);
}

DWORD WINAPI FakeGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR buffer,
                                          DWORD size, LPCWSTR file) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetPrivateProfileStringW, Text(key))) {
    if (size > 0) wcsncpy(buffer, fallback != nullptr ? fallback : L"", size - 1), buffer[size - 1] = L'\0';
    return static_cast<DWORD>(wcslen(buffer));
  }
  return GetPrivateProfileStringW(section, key, fallback, buffer, size, m.RealPath(Text(file)).c_str());
}

BOOL WINAPI FakeMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::MoveFileExW, Text(to))) return FALSE;
  if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
    m.delayed_moves.emplace_back(Text(from), Text(to));
    m.delayed_move_flags.push_back(flags);
    // MoveFileExW: the move is stored in PendingFileRenameOperations as
    // "szSrcFile\0szDstFile\0" (an empty destination: a deletion), after
    // those already there; a replacing move's destination begins with "!",
    // as Windows and Wine write it.
    const std::wstring key = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
    std::vector<std::wstring> entries;
    const auto found = m.registry.keys.find(key);
    if (found != m.registry.keys.end()) {
      const auto value = found->second.values.find(L"PendingFileRenameOperations");
      if (value != found->second.values.end()) {
        const auto* text = reinterpret_cast<const wchar_t*>(value->second.data.data());
        const size_t chars = value->second.data.size() / sizeof(wchar_t);
        for (size_t at = 0; at < chars && text[at] != L'\0'; at += entries.back().size() + 1) {
          entries.emplace_back(text + at);
          at += entries.back().size() + 1;
          entries.emplace_back(at < chars ? text + at : L"");
        }
      }
    }
    entries.push_back(L"\\??\\" + Text(from));
    entries.push_back(to == nullptr ? L"" : ((flags & MOVEFILE_REPLACE_EXISTING) ? L"!\\??\\" : L"\\??\\") + Text(to));
    std::vector<BYTE> data;
    for (const std::wstring& e : entries) {
      const auto* bytes = reinterpret_cast<const BYTE*>(e.c_str());
      data.insert(data.end(), bytes, bytes + (e.size() + 1) * sizeof(wchar_t));
    }
    data.push_back(0);
    data.push_back(0);
    m.registry.SetBytes(key, L"PendingFileRenameOperations", REG_MULTI_SZ, data);
    return TRUE;
  }
  return MoveFileExW(from, to, flags);
}

// The program a command line starts: its first word, in quotes or up to a blank.
std::wstring ProgramOf(const std::wstring& line) {
  if (!line.empty() && line[0] == L'"') return line.substr(1, line.find(L'"', 1) - 1);
  return line.substr(0, line.find_first_of(L" \t"));
}

bool IsFullPath(const std::wstring& path) {
  return (path.size() > 2 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') || path.rfind(L"\\\\", 0) == 0;
}

BOOL WINAPI FakeCreateProcessW(LPCWSTR application, LPWSTR command_line, LPSECURITY_ATTRIBUTES,
                               LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR current_directory,
                               LPSTARTUPINFOW, LPPROCESS_INFORMATION info) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CreateProcessW, Text(command_line))) return FALSE;
  // Windows looks for a program named without a path in the starting
  // program's folder first; the fake machine refuses to start one at all.
  if (!IsFullPath(application != nullptr ? application : ProgramOf(Text(command_line)))) {
    m.refused_programs.push_back(Text(command_line));
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  const DWORD id = 0x1000 + static_cast<DWORD>(m.processes.size()) * 4;
  m.processes.push_back({Text(command_line), id, Text(current_directory)});
  info->hProcess = m.OpenHandle("process");
  info->hThread = m.OpenHandle("thread");
  info->dwProcessId = id;
  info->dwThreadId = id + 1;
  return TRUE;
}

// Real files (the log), their handles accounted for.
HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD attributes, HANDLE model) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CreateFileW, Text(path))) return INVALID_HANDLE_VALUE;
  HANDLE file = CreateFileW(m.RealPath(Text(path)).c_str(), access, share, security, disposition, attributes, model);
  if (file != INVALID_HANDLE_VALUE) m.open_handles[file] = "file";
  return file;
}

BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::WriteFile)) return FALSE;
  return WriteFile(file, data, size, written, overlapped);
}

BOOL WINAPI FakeReadFile(HANDLE file, LPVOID data, DWORD size, LPDWORD read, LPOVERLAPPED overlapped) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::ReadFile)) return FALSE;
  return ReadFile(file, data, size, read, overlapped);
}

// The virtual clock, from 2026-12-08 09:30:00.000 on.
void WINAPI FakeGetLocalTime(LPSYSTEMTIME time) {
  const uint64_t ms = Fake().clock_ms;
  *time = {};
  time->wYear = 2026;
  time->wMonth = 12;
  time->wDay = 8;
  time->wHour = static_cast<WORD>(9 + ms / 3600000 % 15);
  time->wMinute = static_cast<WORD>(30 + ms / 60000 % 30);
  time->wSecond = static_cast<WORD>(ms / 1000 % 60);
  time->wMilliseconds = static_cast<WORD>(ms % 1000);
}

ULONGLONG WINAPI FakeGetTickCount64() { return Fake().clock_ms; }

BOOL WINAPI FakeGetUserNameW(LPWSTR name, LPDWORD size) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetUserNameW)) return FALSE;
  const std::wstring user = L"SYSTEM";
  if (*size < user.size() + 1) return FALSE;
  wcscpy(name, user.c_str());
  *size = static_cast<DWORD>(user.size() + 1);
  return TRUE;
}

// GetStdHandle: "If an application does not have associated standard
// handles ... and has not redirected them, the return value is NULL." The
// handle is the caller's to use, not to close ("It is not required to dispose
// of this handle with CloseHandle").
HANDLE WINAPI FakeGetStdHandle(DWORD which) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetStdHandle)) return INVALID_HANDLE_VALUE;
  return which == STD_OUTPUT_HANDLE ? m.std_output : nullptr;
}

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::WaitForSingleObject)) return WAIT_FAILED;
  auto it = m.open_handles.find(handle);
  m.waits.push_back(it != m.open_handles.end() ? it->second : "not open");
  return m.wait_result;
}

BOOL WINAPI FakeGetExitCodeProcess(HANDLE handle, LPDWORD code) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetExitCodeProcess)) return FALSE;
  if (!m.IsOpen(handle)) ADD_FAILURE() << "the exit code of a process that is not open";
  *code = m.child_exit_code;
  return TRUE;
}

HANDLE WINAPI FakeOpenProcess(DWORD, BOOL, DWORD id) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::OpenProcess, std::to_wstring(id))) return nullptr;
  return m.OpenHandle("process");
}

HWINSTA WINAPI FakeGetProcessWindowStation() {
  Fake().calls.push_back({Seam::GetProcessWindowStation, {}});
  return reinterpret_cast<HWINSTA>(static_cast<uintptr_t>(0x5100));
}

BOOL WINAPI FakeGetUserObjectInformationW(HANDLE, int index, PVOID info, DWORD size, LPDWORD needed) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetUserObjectInformationW)) return FALSE;
  if (index != UOI_FLAGS || size < sizeof(USEROBJECTFLAGS)) return FALSE;
  auto* flags = static_cast<USEROBJECTFLAGS*>(info);
  *flags = {};
  flags->dwFlags = m.interactive_station ? WSF_VISIBLE : 0;
  if (needed != nullptr) *needed = sizeof(USEROBJECTFLAGS);
  return TRUE;
}

// The real conversion, with the machine's ANSI code page in place of CP_ACP.
int WINAPI FakeWideCharToMultiByte(UINT code_page, DWORD flags, LPCWCH source, int length,
                                   LPSTR destination, int size, LPCCH fallback, LPBOOL used) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::WideCharToMultiByte)) return 0;
  if (code_page == CP_ACP) code_page = m.ansi_code_page;
  return WideCharToMultiByte(code_page, flags, source, length, destination, size, fallback, used);
}

void WINAPI FakeGetNativeSystemInfo(LPSYSTEM_INFO info) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::GetNativeSystemInfo, {}});
  *info = {};
  info->wProcessorArchitecture = m.native_architecture;
  info->dwPageSize = 4096;
  info->dwNumberOfProcessors = 2;
}

int WINAPI FakeMessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT type) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::MessageBoxW, Text(text))) return 0;
  m.message_boxes.push_back({Text(text), Text(caption), type});
  return m.message_box_answer;
}

// DLLs and their functions, by the seam's own list. A module handle stands
// for one DLL; GetProcAddress gives the function the fake table holds for it.
// LoadLibraryExW: NULL and ERROR_MOD_NOT_FOUND for a DLL that is not there;
// GetProcAddress: NULL and ERROR_PROC_NOT_FOUND for a function it lacks.

BOOL WINAPI FakeSetDefaultDllDirectories(DWORD flags) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::SetDefaultDllDirectories)) return FALSE;
  m.default_dll_directories = flags;
  return TRUE;
}

HMODULE WINAPI FakeLoadLibraryExW(LPCWSTR name, HANDLE, DWORD flags) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::LoadLibraryExW, Text(name))) return nullptr;
  m.dll_load_flags.push_back(flags);
  for (int i = 0; i < kOsDllCount; ++i) {
    if (_wcsicmp(name, kOsDllNames[i]) == 0 && m.missing_dlls.count(kOsDllNames[i]) == 0) {
      return reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x7100 + i * 0x10));
    }
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  FakeMachine& m = Fake();
  const std::string wanted = IS_INTRESOURCE(name) ? "#" + std::to_string(reinterpret_cast<uintptr_t>(name)) : name;
  if (m.Enter(Seam::GetProcAddress, std::wstring(wanted.begin(), wanted.end()))) return nullptr;
  const int dll = static_cast<int>((reinterpret_cast<uintptr_t>(module) - 0x7100) / 0x10);
  auto found = [&](auto slot, OsDll in, const char* function, WORD ordinal) -> FARPROC {
    const std::string exported = ordinal != 0 ? "#" + std::to_string(ordinal) : function;
    if (in != dll || exported != wanted || m.missing_functions.count(function) != 0) return nullptr;
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(slot));
  };
#define FAKE_EXPORT(X, in, function, ordinal, need) \
  if (FARPROC p = found(os.function, in, #function, ordinal)) return p;
  OS_LOADED_FUNCTIONS(FAKE_EXPORT, _)
#undef FAKE_EXPORT
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FakeOpenProcessToken(HANDLE, DWORD, PHANDLE token) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::OpenProcessToken)) return FALSE;
  *token = m.OpenHandle("token");
  return TRUE;
}

// LookupPrivilegeValueW: an unknown name fails with ERROR_NO_SUCH_PRIVILEGE.
BOOL WINAPI FakeLookupPrivilegeValueW(LPCWSTR, LPCWSTR name, PLUID luid) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::LookupPrivilegeValueW, Text(name))) return FALSE;
  if (Text(name) != SE_LOAD_DRIVER_NAME) {
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
  }
  *luid = {10, 0};  // SE_LOAD_DRIVER_PRIVILEGE
  return TRUE;
}

// AdjustTokenPrivileges: succeeds even when the token lacks a privilege, and
// then sets ERROR_NOT_ALL_ASSIGNED; ERROR_SUCCESS when all were adjusted.
BOOL WINAPI FakeAdjustTokenPrivileges(HANDLE token, BOOL, PTOKEN_PRIVILEGES privileges, DWORD, PTOKEN_PRIVILEGES,
                                      PDWORD) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::AdjustTokenPrivileges)) return FALSE;
  if (!m.IsOpen(token) || privileges == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!m.holds_load_driver_privilege) {
    SetLastError(ERROR_NOT_ALL_ASSIGNED);
    return TRUE;
  }
  m.load_driver_privilege_on = (privileges->Privileges[0].Attributes & SE_PRIVILEGE_ENABLED) != 0;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

// IsWow64Process2: for a process that is not WOW64 (ours, x64) the process
// machine is IMAGE_FILE_MACHINE_UNKNOWN; the native machine is the
// machine's own, which an emulated x64 process on ARM64 learns only here.
BOOL WINAPI FakeIsWow64Process2(HANDLE, USHORT* process_machine, USHORT* native_machine) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::IsWow64Process2)) return FALSE;
  *process_machine = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT machine = m.native_machine;
  if (machine == IMAGE_FILE_MACHINE_UNKNOWN) {
    switch (m.native_architecture) {
      case PROCESSOR_ARCHITECTURE_ARM64: machine = IMAGE_FILE_MACHINE_ARM64; break;
      case PROCESSOR_ARCHITECTURE_INTEL: machine = IMAGE_FILE_MACHINE_I386; break;
      case PROCESSOR_ARCHITECTURE_ARM: machine = IMAGE_FILE_MACHINE_ARMNT; break;
      case PROCESSOR_ARCHITECTURE_AMD64: machine = IMAGE_FILE_MACHINE_AMD64; break;
      default: machine = 0xFFFF; break;  // a machine the package has no files for
    }
  }
  *native_machine = machine;
  return TRUE;
}

// RestartDialogEx: IDYES when the user chose to restart; the fake's user says no.
int WINAPI FakeRestartDialogEx(HWND, PCWSTR, DWORD how, DWORD reason) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::RestartDialogEx, std::to_wstring(how) + L" " + std::to_wstring(reason)});
  return IDNO;
}

// Window classes are registered for real: the dialogs are real windows.
BOOL WINAPI FakeInitCommonControlsEx(const INITCOMMONCONTROLSEX* classes) {
  Fake().calls.push_back({Seam::InitCommonControlsEx, {}});
  return InitCommonControlsEx(classes);
}

}  // namespace

// "Kernel object namespaces": "Global\" and "Local\" pick the namespace;
// without a prefix, "the system uses the session namespace by default" for
// processes of a client session, while "service applications use the global
// namespace by default" and "session zero is only used for hosting services".
std::wstring FakeMachine::MutexKey(const std::wstring& name) const {
  const std::wstring global = L"Global\\", local = L"Local\\";
  const std::wstring session = L"Session\\" + std::to_wstring(session_id) + L"\\";
  if (name.rfind(global, 0) == 0) return name;
  if (name.rfind(local, 0) == 0) return session + name.substr(local.size());
  return session_id == 0 ? global + name : session + name;
}

void InstallCoreFakes(OsTable& t) {
  t.SetDefaultDllDirectories = FakeSetDefaultDllDirectories;
  t.LoadLibraryExW = FakeLoadLibraryExW;
  t.GetProcAddress = FakeGetProcAddress;
  t.InitCommonControlsEx = FakeInitCommonControlsEx;
  t.IsWow64Process2 = FakeIsWow64Process2;
  t.RestartDialogEx = FakeRestartDialogEx;
  t.OpenProcessToken = FakeOpenProcessToken;
  t.LookupPrivilegeValueW = FakeLookupPrivilegeValueW;
  t.AdjustTokenPrivileges = FakeAdjustTokenPrivileges;
  t.Sleep = FakeSleep;
  t.OutputDebugStringW = FakeOutputDebugStringW;
  t.LocalAlloc = FakeLocalAlloc;
  t.LocalFree = FakeLocalFree;
  t.CloseHandle = FakeCloseHandle;
  t.CreateMutexW = FakeCreateMutexW;
  t.ReleaseMutex = FakeReleaseMutex;
  t.GetModuleFileNameW = FakeGetModuleFileNameW;
  t.CommandLineToArgvW = FakeCommandLineToArgvW;
  t.GetTempPathW = FakeGetTempPathW;
  t.GetTempFileNameW = FakeGetTempFileNameW;
  t.GetSystemDirectoryW = FakeGetSystemDirectoryW;
  t.CopyFileW = FakeCopyFileW;
  t.DeleteFileW = FakeDeleteFileW;
  t.GetFileAttributesW = FakeGetFileAttributesW;
  t.MoveFileExW = FakeMoveFileExW;
  t.FindFirstFileW = FakeFindFirstFileW;
  t.FindNextFileW = FakeFindNextFileW;
  t.FindClose = FakeFindClose;
  t.GetPrivateProfileSectionW = FakeGetPrivateProfileSectionW;
  t.GetPrivateProfileStringW = FakeGetPrivateProfileStringW;
  t.CreateProcessW = FakeCreateProcessW;
  t.GetNativeSystemInfo = FakeGetNativeSystemInfo;
  t.MessageBoxW = FakeMessageBoxW;
  t.WideCharToMultiByte = FakeWideCharToMultiByte;
  t.WaitForSingleObject = FakeWaitForSingleObject;
  t.CreateFileW = FakeCreateFileW;
  t.WriteFile = FakeWriteFile;
  t.ReadFile = FakeReadFile;
  t.GetLocalTime = FakeGetLocalTime;
  t.GetTickCount64 = FakeGetTickCount64;
  t.GetUserNameW = FakeGetUserNameW;
  t.GetStdHandle = FakeGetStdHandle;
  t.GetExitCodeProcess = FakeGetExitCodeProcess;
  t.OpenProcess = FakeOpenProcess;
  t.GetProcessWindowStation = FakeGetProcessWindowStation;
  t.GetUserObjectInformationW = FakeGetUserObjectInformationW;
}
