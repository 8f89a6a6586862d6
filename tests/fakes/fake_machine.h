// The fake machine: a small, honest model of the parts of Windows the tool
// talks to, put in place of the OS seam for the length of a test.
//
//   FakeMachine machine;          // swaps `os` for the fake, restores it at the end
//   machine.Fail(Seam::CopyFileW, ERROR_ACCESS_DENIED);
//   ... run product code ...
//   EXPECT_EQ(machine.CallCount(Seam::CopyFileW), 1);
//   EXPECT_EQ(machine.clock_ms, 1000u);
//
// Each area of the machine (spooler, services, devices, registry) keeps its
// state in a struct of its own header and installs its functions from its own
// source file. A function no area fakes is a trap: calling it fails the test.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/os.h"
#include "tests/fakes/seam.h"
#include "tests/fakes/fake_devices.h"
#include "tests/fakes/fake_pnp.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/fake_services.h"
#include "tests/fakes/fake_spooler.h"

struct FakeCall {
  Seam function;
  std::wstring detail;  // the argument that tells calls apart (a name, a path)
};

struct FakeProcess {
  std::wstring command_line;
  DWORD id;
  std::wstring current_directory;  // empty: the starting program's own
};

struct FakeMessageBox {
  std::wstring text;
  std::wstring caption;
  UINT type;
};

struct FaultRule {
  Seam function;
  DWORD error;
  int skip;   // calls that pass before the first failure
  int times;  // failures in a row; -1 for every call from then on
};

class FakeMachine {
 public:
  FakeMachine();
  ~FakeMachine();
  FakeMachine(const FakeMachine&) = delete;
  FakeMachine& operator=(const FakeMachine&) = delete;

  // --- fault injection -------------------------------------------------
  // Every call of `function` fails with `error`.
  void Fail(Seam function, DWORD error) { faults.push_back({function, error, 0, -1}); }
  // The next `times` calls fail.
  void FailTimes(Seam function, DWORD error, int times) {
    faults.push_back({function, error, 0, times});
  }
  // Only call number `nth` (counted from 1) fails.
  void FailNth(Seam function, DWORD error, int nth) {
    faults.push_back({function, error, nth - 1, 1});
  }
  // From call number `ended_from` of the log on (counted from 0), every call
  // fails and changes nothing, as if the process had been ended there; -1: never.
  int ended_from = -1;
  // What Windows does when such a process is gone: its handles and named
  // mutexes are closed, its heap released; the machine's state stays as the
  // process left it.
  void EndProcess() {
    ended_from = -1;
    open_handles.clear();
    mutexes.clear();
    mutex_handles.clear();
    for (void* creator : namespace_creators) namespaces[namespace_handles[creator]].open = false;
    namespace_handles.clear();
    namespace_creators.clear();
    boundaries.clear();
    services.open_services.clear();
    spooler.open_printers.clear();
    spooler.open_access.clear();
    for (auto& [block, size] : live_blocks) LocalFree(block);
    live_blocks.clear();
  }
  // Logs the call and answers whether it is to fail; on failure the error is
  // set as the thread's last error and also returned through `error`.
  bool Enter(Seam function, const std::wstring& detail = {}, DWORD* error = nullptr);

  // --- call log ---------------------------------------------------------
  std::vector<FakeCall> calls;
  int CallCount(Seam function) const;
  int CallCount(Seam function, const std::wstring& detail) const;
  // Position of the first call of `function` in the log, or -1.
  int FirstCall(Seam function) const;
  std::vector<Seam> CallNames() const;

  // --- handles ----------------------------------------------------------
  // Hands out a new handle of a kind ("printer", "scm", "service", "key",
  // "devinfo", "process", "thread", "mutex", ...).
  void* OpenHandle(const std::string& kind);
  // Closes a handle of that kind; false (and a test failure) when it is not open.
  bool CloseHandleOf(const std::string& kind, void* handle);
  bool IsOpen(void* handle) const { return open_handles.count(handle) != 0; }
  int OpenHandleCount() const { return static_cast<int>(open_handles.size()); }
  int OpenHandleCount(const std::string& kind) const;
  std::map<void*, std::string> open_handles;

  // --- heap -------------------------------------------------------------
  int LiveBlocks() const { return static_cast<int>(live_blocks.size()); }
  std::map<void*, size_t> live_blocks;

  // --- clock, debug output, processes, message boxes ---------------------
  uint64_t clock_ms = 0;
  std::vector<DWORD> sleeps;
  std::vector<std::wstring> debug_writes;  // every OutputDebugStringW call
  // The trace as lines: the writes joined and split at "\n".
  std::vector<std::wstring> TraceLines() const;
  std::vector<FakeProcess> processes;
  std::vector<std::wstring> refused_programs;  // command lines naming a program without its full path
  DWORD child_exit_code = 0;             // what GetExitCodeProcess tells of a started program
  DWORD wait_result = WAIT_OBJECT_0;     // what WaitForSingleObject answers
  std::vector<std::string> waits;        // the kind of each handle waited for
  bool interactive_station = true;       // whether the process's window station is visible
  // The standard output the program was given: null as for a program started
  // without standard handles; a test gives it a real file to read.
  HANDLE std_output = nullptr;
  std::vector<FakeMessageBox> message_boxes;
  int message_box_answer = IDOK;

  // --- system -----------------------------------------------------------
  // The process token: an administrator's holds SeLoadDriverPrivilege, off
  // until AdjustTokenPrivileges turns it on. AddPrinterDriverEx, AddMonitor,
  // DeletePrinterDriverEx and DeleteMonitor require it of their caller; the
  // fake's refuse with ERROR_PRIVILEGE_NOT_HELD while it is off.
  bool holds_load_driver_privilege = true;
  bool load_driver_privilege_on = false;
  bool LoadDriverPrivilegeOn() const {
    if (!load_driver_privilege_on) SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return load_driver_privilege_on;
  }
  // The token's account (GetTokenInformation, TokenUser), and whether it is
  // elevated (TokenElevation).
  std::wstring account_sid = L"S-1-5-21-1004336348-1177238915-682003330-1001";
  bool elevated = true;
  DWORD default_dll_directories = 0;         // what SetDefaultDllDirectories was given
  std::vector<DWORD> dll_load_flags;         // the flags of each LoadLibraryExW
  std::set<std::wstring> missing_dlls;       // DLLs LoadLibraryExW does not find ("newdev.dll")
  std::set<std::string> missing_functions;   // functions GetProcAddress does not find
  WORD native_architecture = PROCESSOR_ARCHITECTURE_AMD64;  // what GetNativeSystemInfo tells
  // What IsWow64Process2 names as the native machine; UNKNOWN: the machine of
  // native_architecture. Windows on ARM64 tells an emulated x64 process AMD64
  // through GetNativeSystemInfo and ARM64 only here.
  USHORT native_machine = IMAGE_FILE_MACHINE_UNKNOWN;
  UINT ansi_code_page = 1252;  // what CP_ACP converts with (932: a double-byte one)
  std::wstring module_path = L"C:\\Drivers\\Setup\\setup.exe";
  // Real folders, so that file copies and deletions are real.
  std::wstring temp_directory;    // ends with a backslash
  // GetTempPath2W: "from a process running as SYSTEM it will return the path
  // C:\Windows\SystemTemp"; for other accounts it behaves as GetTempPathW.
  bool system_account = false;
  std::wstring system_temp_directory;  // ends with a backslash
  std::wstring system_directory;  // no trailing backslash
  // The logon session of the run: 1 for a person, 0 for services and SYSTEM
  // runs of deployment tools.
  DWORD session_id = 1;
  // Named mutexes, by the object name they resolve to ("Global\X" or
  // "Session\<n>\X"): handles open on each. MutexKey resolves a name as
  // the run's session does.
  std::map<std::wstring, int> mutexes;
  std::wstring MutexKey(const std::wstring& name) const;
  // Another process of the run's session holds a mutex of that name.
  void HoldMutex(const std::wstring& name) { ++mutexes[MutexKey(name)]; }
  int MutexHandles(const std::wstring& name) const {
    auto it = mutexes.find(MutexKey(name));
    return it != mutexes.end() ? it->second : 0;
  }
  std::map<void*, std::wstring> mutex_handles;
  // Private namespaces ("Object Namespaces"): each by its prefix and its
  // boundary's SIDs. Objects in one are named "prefix\name" by a process
  // that holds a handle to it; the mutexes above then go by
  // "Namespace\<id>\name".
  struct PrivateNamespace {
    std::wstring prefix;
    std::wstring boundary;  // the boundary's SIDs as text, joined by ";"
    std::wstring sddl;      // the DACL it was made with
    bool open = true;       // its creator's handle is open: OpenPrivateNamespace finds it
  };
  std::vector<PrivateNamespace> namespaces;
  std::map<void*, std::vector<std::wstring>> boundaries;  // boundary descriptors: their SIDs
  std::map<void*, size_t> namespace_handles;             // this process's handles: the namespace
  std::set<void*> namespace_creators;                    // ... and those of the process that made it
  // Another process made a namespace with `prefix` and the boundary `sid`
  // and holds the mutex `name` ("prefix\object") in it.
  void HoldPrivateMutex(const std::wstring& prefix, const std::wstring& sid, const std::wstring& name) {
    namespaces.push_back({prefix, sid, L"", true});
    ++mutexes[L"Namespace\\" + std::to_wstring(namespaces.size() - 1) + name.substr(name.find(L'\\'))];
  }
  // Junctions and symbolic links ("Hard links and junctions"): a real empty
  // folder or file stands at the link's path, so that listings show it, and
  // the file calls reach `target` through it. FindFirstFileW and
  // GetFileAttributesW tell the link itself with FILE_ATTRIBUTE_REPARSE_POINT
  // (and its tag in dwReserved0), as WIN32_FIND_DATAW and "File Attribute
  // Constants" say; DeleteFileW deletes the link, not its target.
  std::map<std::wstring, std::wstring> links;  // the link's path (its folder resolved) -> target
  void MakeLink(const std::wstring& path, const std::wstring& target);
  // `path` with each link it passes through replaced by the link's target;
  // the last step stays when `keep_last` (a call that acts on the link itself).
  std::wstring Resolve(const std::wstring& path, bool keep_last = false) const;
  bool IsLink(const std::wstring& path) const;  // `path`, its folder resolved, is a link
  std::map<void*, std::wstring> listed_folders;  // each open listing's folder, resolved
  std::set<void*> link_handles;                  // files opened as the link itself
  // The DACL each folder was made with (CreateDirectoryW with a security
  // descriptor), or that a test gave it with its owner, in the text form
  // (SDDL); GetNamedSecurityInfoW tells it. A folder not listed is as
  // Program Files' are: owned by Administrators, changed by them and SYSTEM.
  std::map<std::wstring, std::wstring> folder_security;
  // MoveFileExW at restart, as given, and their flags. Windows keeps them in
  // PendingFileRenameOperations, where the fake's MoveFileExW writes them too.
  std::vector<std::pair<std::wstring, std::wstring>> delayed_moves;
  std::vector<DWORD> delayed_move_flags;
  // The system starts again: the pending renames and deletions are done in the
  // order they were issued, the value is emptied, and the spooler runs.
  void Restart();
  std::vector<std::wstring> deleted_trees;  // SHFileOperationW deletions
  FILEOP_FLAGS shell_flags = 0;             // the flags of the last one
  bool shell_aborts = false;                // a question answered No: nothing deleted, aborted set
  std::vector<FaultRule> faults;

  // --- the spooler's environments -----------------------------------------
  // This program is an x64 process: to the spooler a null environment is
  // the caller's, "Windows x64", also where the machine is ARM64 and runs it
  // emulated. The machine's own environment follows its native machine.
  static constexpr const wchar_t* kCallerEnvironment = L"Windows x64";
  std::wstring MachineEnvironment() const;
  // Whether the Spooler service is not running: winspool then reaches no
  // spooler, and every call fails with RPC_S_SERVER_UNAVAILABLE (set here).
  bool SpoolerUnavailable() const;

  // --- the driver store -------------------------------------------------
  // Paths below C:\Windows\System32\DriverStore\ name real files below this
  // machine's folder; RealPath gives the real path of any path.
  static constexpr const wchar_t* kStoreRoot = L"C:\\Windows\\System32\\DriverStore\\FileRepository\\";
  std::wstring RealPath(const std::wstring& path) const;
  // A package in the store: its INF, with that DriverVer, as a real file, and
  // the spooler knowing it.
  void StorePackage(const std::wstring& store_inf, const std::wstring& driver_ver);

  // --- areas ------------------------------------------------------------
  FakeSpooler spooler;
  FakeServices services;
  FakeDevices devices;
  FakePlugAndPlay pnp;
  FakeRegistry registry;

 private:
  OsTable saved_;
  std::wstring root_;  // the real temp folder that holds this machine's files
  uintptr_t next_handle_ = 0x10000;
};

// The spooler's side of a package in the driver store: staged from the INF
// beside its files (the store INF's path given back), and a driver installed
// from it, its record naming the store INF and carrying its DriverVer.
// `again`: staged anew even where the store holds the package (an upload with
// UPDP_UPLOAD_ALWAYS); otherwise the store's copy stays as it is.
std::wstring StageIntoDriverStore(FakeMachine& m, const std::wstring& inf_path, const std::wstring& environment,
                                  bool again);
void ReadFakeDriverVer(const std::wstring& text, DWORDLONG& version, FILETIME& date);
// An INF's DriverVer: the one a test gave it (spooler.inf_versions), else the
// one its file holds; false when there is no such INF.
bool FindDriverVer(FakeMachine& m, const std::wstring& path, std::wstring& version);
void InstallDriverFromStore(FakeMachine& m, const std::wstring& store_inf, const std::wstring& name,
                            const std::wstring& environment, bool copy_all);

// Deletes a real folder with everything in it.
void RemoveRealTree(const std::wstring& folder);

// The machine of the running test; only valid while a FakeMachine lives.
FakeMachine& Fake();

// Area installers: each puts its fakes into the table, from its own file.
void InstallCoreFakes(OsTable& table);             // fake_core.cpp
void InstallSpoolerFakes(OsTable& table);          // fake_spooler.cpp: open, list, add
void InstallSpoolerRemovalFakes(OsTable& table);   // fake_spooler_removal.cpp: delete
void InstallServiceFakes(OsTable& table);          // fake_services.cpp
void InstallDeviceFakes(OsTable& table);           // fake_devices.cpp: USB printer interfaces
void InstallDeviceNodeFakes(OsTable& table);       // fake_device_nodes.cpp: nodes, removal
void InstallPlugAndPlayFakes(OsTable& table);      // fake_pnp.cpp: re-enumeration, binding
void InstallInfFakes(OsTable& table);              // fake_inf.cpp: INF information
void InstallShellFakes(OsTable& table);            // fake_shell.cpp: tree deletion
void InstallRegistryFakes(OsTable& table);         // fake_registry.cpp
