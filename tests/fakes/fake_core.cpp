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
  m.link_handles.erase(handle);
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

BOOL WINAPI FakeProcessIdToSessionId(DWORD, DWORD* session) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::ProcessIdToSessionId)) return FALSE;
  *session = m.session_id;
  return TRUE;
}

// CreateBoundaryDescriptorW: "A new boundary descriptor must have at least
// one security identifier (SID)"; AddSIDToBoundaryDescriptor adds one a call.
HANDLE WINAPI FakeCreateBoundaryDescriptorW(LPCWSTR name, ULONG) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CreateBoundaryDescriptorW, Text(name))) return nullptr;
  HANDLE boundary = m.OpenHandle("boundary");
  m.boundaries[boundary] = {};
  return boundary;
}

BOOL WINAPI FakeAddSIDToBoundaryDescriptor(HANDLE* boundary, PSID sid) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::AddSIDToBoundaryDescriptor)) return FALSE;
  wchar_t* text = nullptr;
  if (m.boundaries.count(*boundary) == 0 || !ConvertSidToStringSidW(sid, &text)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  m.boundaries[*boundary].push_back(text);
  LocalFree(text);
  return TRUE;
}

VOID WINAPI FakeDeleteBoundaryDescriptor(HANDLE boundary) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::DeleteBoundaryDescriptor, {}});
  if (m.CloseHandleOf("boundary", boundary)) m.boundaries.erase(boundary);
}

std::wstring BoundaryText(const FakeMachine& m, LPVOID boundary) {
  auto it = m.boundaries.find(boundary);
  std::wstring text;
  if (it == m.boundaries.end()) return text;
  for (const std::wstring& sid : it->second) text += (text.empty() ? L"" : L";") + sid;
  return text;
}

// CreatePrivateNamespaceW: a namespace of that prefix and boundary that is
// open already makes it fail (the page gives no code; Windows answers
// ERROR_ALREADY_EXISTS, which callers look for); "multiple private
// namespaces with the same name, as long as they define different
// boundaries". The run is an administrator's, inside its boundary.
HANDLE WINAPI FakeCreatePrivateNamespaceW(LPSECURITY_ATTRIBUTES security, LPVOID boundary, LPCWSTR prefix) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CreatePrivateNamespaceW, Text(prefix))) return nullptr;
  const std::wstring sids = BoundaryText(m, boundary);
  if (sids.empty()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  for (const FakeMachine::PrivateNamespace& space : m.namespaces) {
    if (space.open && space.prefix == Text(prefix) && space.boundary == sids) {
      SetLastError(ERROR_ALREADY_EXISTS);
      return nullptr;
    }
  }
  std::wstring sddl;
  wchar_t* text = nullptr;
  if (security != nullptr && security->lpSecurityDescriptor != nullptr &&
      ConvertSecurityDescriptorToStringSecurityDescriptorW(security->lpSecurityDescriptor, SDDL_REVISION_1,
                                                           DACL_SECURITY_INFORMATION, &text, nullptr)) {
    sddl = text;
    LocalFree(text);
  }
  m.namespaces.push_back({Text(prefix), sids, sddl, true});
  HANDLE space = m.OpenHandle("namespace");
  m.namespace_handles[space] = m.namespaces.size() - 1;
  m.namespace_creators.insert(space);
  return space;
}

// OpenPrivateNamespaceW: only while its creator's handle is open ("After the
// namespace handle is closed, subsequent calls to OpenPrivateNamespace
// fail"); the code is undocumented.
HANDLE WINAPI FakeOpenPrivateNamespaceW(LPVOID boundary, LPCWSTR prefix) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::OpenPrivateNamespaceW, Text(prefix))) return nullptr;
  const std::wstring sids = BoundaryText(m, boundary);
  for (size_t i = 0; i < m.namespaces.size(); ++i) {
    if (m.namespaces[i].open && m.namespaces[i].prefix == Text(prefix) && m.namespaces[i].boundary == sids) {
      HANDLE space = m.OpenHandle("namespace");
      m.namespace_handles[space] = i;
      return space;
    }
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return nullptr;
}

// ClosePrivateNamespace: "The handle is also closed when the creating
// process terminates"; the creator's close ends the namespace for openers.
BOOLEAN WINAPI FakeClosePrivateNamespace(HANDLE space, ULONG) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::ClosePrivateNamespace, {}});
  if (!m.CloseHandleOf("namespace", space)) return FALSE;
  if (m.namespace_creators.erase(space) != 0) m.namespaces[m.namespace_handles[space]].open = false;
  m.namespace_handles.erase(space);
  return TRUE;
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

// GetTempPath2W: "from a process running as SYSTEM it will return the path
// C:\Windows\SystemTemp"; "For non-SYSTEM processes, GetTempPath2 will behave
// the same as GetTempPath", whose size protocol it keeps: a buffer too small
// gets the size needed, the terminating null included.
DWORD WINAPI FakeGetTempPath2W(DWORD capacity, LPWSTR buffer) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetTempPath2W)) return 0;
  const std::wstring& path = m.system_account ? m.system_temp_directory : m.temp_directory;
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

// CopyFileW: "If the destination file already exists and is a symbolic
// link, the target of the symbolic link is overwritten"; a link as the
// source copies its target.
BOOL WINAPI FakeCopyFileW(LPCWSTR from, LPCWSTR to, BOOL fail_if_exists) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CopyFileW, Text(to))) return FALSE;
  return CopyFileW(m.Resolve(Text(from)).c_str(), m.Resolve(Text(to)).c_str(), fail_if_exists);
}

// Removes what stands at `path` itself with `remove`: a link, not its target.
BOOL RemoveOwn(FakeMachine& m, const std::wstring& path, BOOL(WINAPI* remove)(LPCWSTR)) {
  const std::wstring own = m.Resolve(path, true);
  if (!remove(own.c_str())) return FALSE;
  m.links.erase(own);
  return TRUE;
}

// DeleteFileW: "If the path points to a symbolic link, the symbolic link is
// deleted, not the target."
BOOL WINAPI FakeDeleteFileW(LPCWSTR path) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::DeleteFileW, Text(path))) return FALSE;
  return RemoveOwn(m, Text(path), DeleteFileW);
}

// GetFileAttributesW: "If the path points to a symbolic link, the function
// returns attributes for the symbolic link."
DWORD WINAPI FakeGetFileAttributesW(LPCWSTR path) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetFileAttributesW, Text(path))) return INVALID_FILE_ATTRIBUTES;
  DWORD attributes = GetFileAttributesW(m.Resolve(Text(path), true).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && m.IsLink(Text(path))) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes;
}

// A listed entry that is a link describes the link itself (WIN32_FIND_DATAW:
// "If the dwFileAttributes member includes the FILE_ATTRIBUTE_REPARSE_POINT
// attribute, this member specifies the reparse point tag").
void MarkLink(const FakeMachine& m, const std::wstring& folder, LPWIN32_FIND_DATAW found) {
  if (!m.IsLink(folder + L"\\" + found->cFileName)) return;
  found->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  found->dwReserved0 = (found->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? IO_REPARSE_TAG_MOUNT_POINT
                                                                            : IO_REPARSE_TAG_SYMLINK;
}

// Folder listings of the real files, their handles accounted for; listing a
// junction lists its target ("Hard links and junctions").
HANDLE WINAPI FakeFindFirstFileW(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::FindFirstFileW, Text(pattern))) return INVALID_HANDLE_VALUE;
  const std::wstring whole = Text(pattern);
  const size_t slash = whole.rfind(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? L"" : m.Resolve(whole.substr(0, slash));
  const std::wstring resolved = slash == std::wstring::npos ? whole : folder + whole.substr(slash);
  HANDLE search = FindFirstFileW(resolved.c_str(), found);
  if (search == INVALID_HANDLE_VALUE) return search;
  m.open_handles[search] = "find";
  m.listed_folders[search] = folder;
  MarkLink(m, folder, found);
  return search;
}

BOOL WINAPI FakeFindNextFileW(HANDLE search, LPWIN32_FIND_DATAW found) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::FindNextFileW)) return FALSE;
  if (!FindNextFileW(search, found)) return FALSE;
  MarkLink(m, m.listed_folders[search], found);
  return TRUE;
}

BOOL WINAPI FakeFindClose(HANDLE search) {
  FakeMachine& m = Fake();
  m.calls.push_back({Seam::FindClose, {}});
  if (!m.CloseHandleOf("find", search)) return FALSE;
  m.listed_folders.erase(search);
  return FindClose(search);
}

DWORD WINAPI FakeGetPrivateProfileSectionW(LPCWSTR section, LPWSTR buffer, DWORD size, LPCWSTR file) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetPrivateProfileSectionW, Text(section))) {
    if (size > 1) buffer[0] = buffer[1] = L'\0';
    return 0;
  }
  return GetPrivateProfileSectionW(section, buffer, size, m.Resolve(Text(file)).c_str());
}

DWORD WINAPI FakeGetPrivateProfileStringW(LPCWSTR section, LPCWSTR key, LPCWSTR fallback, LPWSTR buffer,
                                          DWORD size, LPCWSTR file) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetPrivateProfileStringW, Text(key))) {
    if (size > 0) wcsncpy(buffer, fallback != nullptr ? fallback : L"", size - 1), buffer[size - 1] = L'\0';
    return static_cast<DWORD>(wcslen(buffer));
  }
  return GetPrivateProfileStringW(section, key, fallback, buffer, size, m.Resolve(Text(file)).c_str());
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
  return MoveFileExW(m.Resolve(Text(from), true).c_str(), m.Resolve(Text(to)).c_str(), flags);
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

// Real files (the log), their handles accounted for. CreateFileW: "If an
// existing file is opened and it is a symbolic link, the handle returned is
// a handle to the target"; with FILE_FLAG_OPEN_REPARSE_POINT the link itself.
HANDLE WINAPI FakeCreateFileW(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD attributes, HANDLE model) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CreateFileW, Text(path))) return INVALID_HANDLE_VALUE;
  const bool link_itself = (attributes & FILE_FLAG_OPEN_REPARSE_POINT) != 0 && m.IsLink(Text(path));
  const std::wstring reached = m.Resolve(Text(path), link_itself);
  HANDLE file = CreateFileW(reached.c_str(), access, share, security, disposition, attributes, model);
  if (file == INVALID_HANDLE_VALUE) return file;
  m.open_handles[file] = "file";
  if (link_itself) m.link_handles.insert(file);
  return file;
}

// GetFileInformationByHandle: the real file's, and a link opened as itself
// carries FILE_ATTRIBUTE_REPARSE_POINT ("File Attribute Constants").
BOOL WINAPI FakeGetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION information) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetFileInformationByHandle)) return FALSE;
  if (!GetFileInformationByHandle(file, information)) return FALSE;
  if (m.link_handles.count(file) != 0) information->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return TRUE;
}

// GetFinalPathNameByHandleW: the path "returned when the path is fully
// resolved" - the real one, since the fake opened what the links lead to.
DWORD WINAPI FakeGetFinalPathNameByHandleW(HANDLE file, LPWSTR path, DWORD capacity, DWORD flags) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetFinalPathNameByHandleW)) return 0;
  return GetFinalPathNameByHandleW(file, path, capacity, flags);
}

// CreateDirectoryW: "If lpSecurityAttributes is NULL, the directory gets a
// default security descriptor"; otherwise the one given, kept here in its
// text form. A name that is taken fails with ERROR_ALREADY_EXISTS, a link's
// name too.
BOOL WINAPI FakeCreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::CreateDirectoryW, Text(path))) return FALSE;
  if (!CreateDirectoryW(m.Resolve(Text(path), true).c_str(), nullptr)) return FALSE;
  if (security != nullptr && security->lpSecurityDescriptor != nullptr) {
    wchar_t* sddl = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(security->lpSecurityDescriptor, SDDL_REVISION_1,
                                                             DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
      m.folder_security[Text(path)] = sddl;
      LocalFree(sddl);
    }
  }
  return TRUE;
}

// RemoveDirectoryW: "This path must specify an empty directory"; a junction
// is removed itself, not what it leads to ("RemoveDirectory can be used to
// remove a directory junction").
BOOL WINAPI FakeRemoveDirectoryW(LPCWSTR path) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::RemoveDirectoryW, Text(path))) return FALSE;
  if (!RemoveOwn(m, Text(path), RemoveDirectoryW)) return FALSE;
  m.folder_security.erase(Text(path));
  return TRUE;
}

DWORD WINAPI FakeGetFullPathNameW(LPCWSTR name, DWORD capacity, LPWSTR path, LPWSTR* file_part) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetFullPathNameW, Text(name))) return 0;
  return GetFullPathNameW(name, capacity, path, file_part);
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

// GetTokenInformation: TokenUser, a TOKEN_USER with the SID after it; a
// buffer too small fails with ERROR_INSUFFICIENT_BUFFER and the size needed.
BOOL WINAPI FakeGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind, LPVOID information, DWORD size,
                                    PDWORD needed) {
  FakeMachine& m = Fake();
  if (m.Enter(Seam::GetTokenInformation)) return FALSE;
  if (!m.IsOpen(token)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (kind == TokenElevation) {
    *needed = sizeof(TOKEN_ELEVATION);
    if (size < *needed) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = m.elevated ? 1 : 0;
    return TRUE;
  }
  if (kind != TokenUser) {
    ADD_FAILURE() << "the fake token tells only TokenUser and TokenElevation";
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  PSID sid = nullptr;
  ConvertStringSidToSidW(m.account_sid.c_str(), &sid);
  const DWORD sid_size = GetLengthSid(sid);
  *needed = sizeof(TOKEN_USER) + sid_size;
  if (size < *needed) {
    LocalFree(sid);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  auto* user = static_cast<TOKEN_USER*>(information);
  user->User.Attributes = 0;
  user->User.Sid = reinterpret_cast<BYTE*>(information) + sizeof(TOKEN_USER);
  CopySid(sid_size, user->User.Sid, sid);
  LocalFree(sid);
  return TRUE;
}

// GetNamedSecurityInfoW: the owner and DACL point into one block that the
// caller "must free ... by calling the LocalFree function"; the result is an
// error code, not a BOOL.
DWORD WINAPI FakeGetNamedSecurityInfoW(LPCWSTR name, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID* owner, PSID*,
                                       PACL* dacl, PACL*, PSECURITY_DESCRIPTOR* descriptor) {
  FakeMachine& m = Fake();
  DWORD error = ERROR_SUCCESS;
  if (m.Enter(Seam::GetNamedSecurityInfoW, Text(name), &error)) return error;
  std::wstring path = Text(name);
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  if (GetFileAttributesW(m.Resolve(path).c_str()) == INVALID_FILE_ATTRIBUTES) return ERROR_FILE_NOT_FOUND;
  auto it = m.folder_security.find(path);
  std::wstring sddl = it != m.folder_security.end() ? it->second
                                                    : L"D:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  if (sddl.rfind(L"O:", 0) != 0) sddl = L"O:BA" + sddl;
  PSECURITY_DESCRIPTOR block = nullptr;
  ULONG size = 0;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &block, &size)) {
    ADD_FAILURE() << "a folder's security the fake cannot read";
    return ERROR_INVALID_PARAMETER;
  }
  m.live_blocks[block] = size;
  BOOL present = FALSE, defaulted = FALSE;
  if (owner != nullptr) GetSecurityDescriptorOwner(block, owner, &defaulted);
  // GetSecurityDescriptorDacl: without a DACL "the remaining output parameters do not receive valid values".
  if (dacl != nullptr && (!GetSecurityDescriptorDacl(block, &present, dacl, &defaulted) || !present)) *dacl = nullptr;
  // "Security Descriptor String Format": NO_ACCESS_CONTROL sets a NULL DACL
  // (Wine 8 makes an empty one, which grants nothing).
  if (dacl != nullptr && sddl.find(L"D:NO_ACCESS_CONTROL") != std::wstring::npos) *dacl = nullptr;
  *descriptor = block;
  return ERROR_SUCCESS;
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
  // "prefix\\objectname" in a private namespace this process has open.
  const size_t slash = name.find(L'\\');
  for (const auto& [handle, index] : namespace_handles) {
    if (slash != std::wstring::npos && namespaces[index].prefix == name.substr(0, slash)) {
      return L"Namespace\\" + std::to_wstring(index) + name.substr(slash);
    }
  }
  const std::wstring global = L"Global\\", local = L"Local\\";
  const std::wstring session = L"Session\\" + std::to_wstring(session_id) + L"\\";
  if (name.rfind(global, 0) == 0) return name;
  if (name.rfind(local, 0) == 0) return session + name.substr(local.size());
  return session_id == 0 ? global + name : session + name;
}

namespace {

std::wstring WithoutTrailingSlash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

}  // namespace

void FakeMachine::MakeLink(const std::wstring& path, const std::wstring& target) {
  const std::wstring own = WithoutTrailingSlash(Resolve(WithoutTrailingSlash(path), true));
  const DWORD kind = GetFileAttributesW(Resolve(target).c_str());
  if (kind != INVALID_FILE_ATTRIBUTES && (kind & FILE_ATTRIBUTE_DIRECTORY)) {
    CreateDirectoryW(own.c_str(), nullptr);
  } else {
    CloseHandle(CreateFileW(own.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  }
  links[own] = WithoutTrailingSlash(target);
}

std::wstring FakeMachine::Resolve(const std::wstring& path, bool keep_last) const {
  std::wstring current = path;
  for (int depth = 0; depth < 16; ++depth) {
    bool replaced = false;
    for (const auto& [link, target] : links) {
      if (current.size() < link.size() || _wcsnicmp(current.c_str(), link.c_str(), link.size()) != 0) continue;
      const std::wstring rest = current.substr(link.size());
      if (!rest.empty() && rest[0] != L'\\') continue;
      if (keep_last && rest.find_first_not_of(L'\\') == std::wstring::npos) continue;
      current = target + rest;
      replaced = true;
      break;
    }
    if (!replaced) break;
  }
  return RealPath(current);
}

bool FakeMachine::IsLink(const std::wstring& path) const {
  const std::wstring own = WithoutTrailingSlash(Resolve(path, true));
  for (const auto& [link, target] : links) {
    if (_wcsicmp(link.c_str(), own.c_str()) == 0) return true;
  }
  return false;
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
  t.ProcessIdToSessionId = FakeProcessIdToSessionId;
  t.CreateBoundaryDescriptorW = FakeCreateBoundaryDescriptorW;
  t.AddSIDToBoundaryDescriptor = FakeAddSIDToBoundaryDescriptor;
  t.DeleteBoundaryDescriptor = FakeDeleteBoundaryDescriptor;
  t.CreatePrivateNamespaceW = FakeCreatePrivateNamespaceW;
  t.OpenPrivateNamespaceW = FakeOpenPrivateNamespaceW;
  t.ClosePrivateNamespace = FakeClosePrivateNamespace;
  t.GetModuleFileNameW = FakeGetModuleFileNameW;
  t.CommandLineToArgvW = FakeCommandLineToArgvW;
  t.GetTempPathW = FakeGetTempPathW;
  t.GetTempPath2W = FakeGetTempPath2W;
  t.GetFileInformationByHandle = FakeGetFileInformationByHandle;
  t.GetFinalPathNameByHandleW = FakeGetFinalPathNameByHandleW;
  t.GetFullPathNameW = FakeGetFullPathNameW;
  t.CreateDirectoryW = FakeCreateDirectoryW;
  t.RemoveDirectoryW = FakeRemoveDirectoryW;
  t.GetTokenInformation = FakeGetTokenInformation;
  t.GetNamedSecurityInfoW = FakeGetNamedSecurityInfoW;
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
