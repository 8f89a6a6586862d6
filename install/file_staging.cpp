#include "install/file_staging.h"

#include "common/package.h"
#include "common/path.h"
#include "common/pending_renames.h"
#include "common/print_jobs.h"
#include "common/run_options.h"
#include "common/service_control.h"
#include "common/trace.h"
#include "platform/os.h"

namespace {

using Path = PathText;

}  // namespace

bool PrinterDriverDirectory(PathText& directory, const wchar_t* environment) {
  DWORD needed = 0;
  const BOOL got = os.GetPrinterDriverDirectoryW(nullptr, const_cast<LPWSTR>(environment), 1,
                                                 reinterpret_cast<LPBYTE>(directory.chars), sizeof(directory.chars),
                                                 &needed);
  // A text that does not end inside the field is no directory either.
  const bool terminated = std::wmemchr(directory.chars, L'\0', kPathCapacity) != nullptr;
  if (!got || !terminated || directory.empty()) {
    const DWORD error = got ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : GetLastError();
    trace("GetPrinterDriverDirectory failed, errcode:%d.", static_cast<int>(error));
    directory.clear();
    SetLastError(error != ERROR_SUCCESS ? error : static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    return false;
  }
  return true;
}

namespace {

// A path that does not fit is not used cut short: deleting or copying over a
// shortened name could hit another file.
bool Formed(bool fits, const wchar_t* file_name) {
  if (!fits) trace("Path for %ws too long, file not staged.", file_name);
  return fits;
}

// Whether the package holds the file to stage. A file the package lacks is
// not staged at all: deleting the installed copy first would leave the
// machine with neither.
bool SourcePresent(const Path& source) {
  SetLastError(ERROR_SUCCESS);
  const DWORD attributes = os.GetFileAttributesW(source.chars);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return true;
  trace("Package file %ws is missing; the installed copy stays, errcode:%d.", source, ERROR_FILE_NOT_FOUND);
  return false;
}

// Removes the destination and copies the source over it; the copy's result,
// and on failure its error in `error`. The error code is cleared before each
// call, so that a call that succeeds is not traced with an older call's code.
BOOL CopyOver(const Path& source, const Path& destination, bool trace_removal, DWORD& error) {
  SetLastError(ERROR_SUCCESS);
  const BOOL removed = os.DeleteFileW(destination.chars);
  if (trace_removal) {
    trace("Remove file:%ws, %d, errcode:%d.", destination, removed, static_cast<int>(GetLastError()));
  }
  SetLastError(ERROR_SUCCESS);
  const BOOL copied = os.CopyFileW(source.chars, destination.chars, FALSE);
  error = GetLastError();
  trace("CopyFile file:%ws to %ws, %d, errcode:%d.", source, destination, copied, static_cast<int>(error));
  return copied;
}

// The destination could not be replaced now, most likely because the spooler
// holds it. A copy of the package file under a temporary name beside it is
// moved over it at the next system start; the package file stays where it is.
BOOL ReplaceAtRestart(const Path& directory, const Path& source, const Path& destination) {
  Path temporary = {};
  SetLastError(ERROR_SUCCESS);
  if (os.GetTempFileNameW(directory.chars, L"vlm", 0, temporary.chars) == 0) {
    trace("Replace file:%ws at restart, 0, errcode:%d.", destination, static_cast<int>(GetLastError()));
    return FALSE;
  }
  SetLastError(ERROR_SUCCESS);
  BOOL replaced = os.CopyFileW(source.chars, temporary.chars, FALSE);
  if (replaced) {
    SetLastError(ERROR_SUCCESS);
    replaced = os.MoveFileExW(temporary.chars, destination.chars, MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING);
  }
  const DWORD error = GetLastError();
  if (!replaced) os.DeleteFileW(temporary.chars);
  trace("Replace file:%ws at restart, %d, errcode:%d.", destination, replaced, static_cast<int>(error));
  if (replaced) RestartNeeded = true;
  return replaced;
}

// Copies the source into the printer-driver directory under `file_name`,
// falling back to a replacement at restart where asked. On failure the cause
// is in `error`.
bool StageIntoDriverDirectory(const Path& source, const wchar_t* file_name, bool architecture_file,
                              const wchar_t* environment, DWORD& error) {
  Path directory = {};
  Path destination = {};
  if (!PrinterDriverDirectory(directory, environment)) {
    error = GetLastError();
    return false;
  }
  if (!Formed(JoinPath(destination, directory.c_str(), file_name), file_name)) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  if (CopyOver(source, destination, architecture_file, error)) return true;
  return architecture_file && ReplaceAtRestart(directory, source, destination);
}

// A failed step leaves its cause as the thread's last error for the caller.
int Failed(DWORD error) {
  SetLastError(error);
  return 0;
}

// Whether the last stop of the spooler for the monitor ran its copy.
bool monitor_copy_ran = false;

void CopyToSystemDirectoryAction(const wchar_t* source_path) {
  monitor_copy_ran = true;
  CopyToSystemDirectory(source_path);
}

}  // namespace

int StageArchitectureFile(const wchar_t* file_name, bool monitor_into_system) {
  if (file_name == nullptr) return Failed(ERROR_INVALID_PARAMETER);
  const PackageArchitecture* architecture = NativeArchitecture();
  if (architecture == nullptr) return Failed(ERROR_NOT_SUPPORTED);

  Path source = {};
  if (!Formed(PackageFilePath(source, architecture->folder, file_name), file_name)) {
    return Failed(ERROR_FILENAME_EXCED_RANGE);
  }
  if (!SourcePresent(source)) return Failed(ERROR_FILE_NOT_FOUND);
  DWORD error = ERROR_SUCCESS;
  const bool staged = StageIntoDriverDirectory(source, file_name, true, architecture->environment, error);
  // The running spooler holds the monitor it has loaded; its copy in the
  // system directory can only be replaced while the spooler is stopped. It is
  // copied there whatever happened in the printer-driver directory.
  if (monitor_into_system && std::wcscmp(file_name, kMonitorDll) == 0) {
    if (const DWORD refusal = StageMonitorIntoSystemDirectory(source.chars); refusal != ERROR_SUCCESS) {
      return Failed(refusal);
    }
  }
  if (!staged) return Failed(error);
  // A replacement left for the next start: the copy's error stays readable.
  SetLastError(error);
  return 1;
}

DWORD StageMonitorIntoSystemDirectory(const wchar_t* source_path) {
  Path system = {};
  Path target = {};
  WideText<3> drive;
  WideText<256> folder;
  WideText<256> name;
  WideText<256> extension;
  Path file = {};
  Path source = {};
  if (!BoundedCopy(source, source_path) || !SplitPath(source_path, drive, folder, name, extension) ||
      !BoundedFormat(file, L"%ws%ws", name, extension) || !SystemFilePath(target, file.c_str()) ||
      !SystemFilePath(system, L"")) {
    trace("Path for %ws too long, file not staged.", source_path);
    return ERROR_SUCCESS;
  }
  if (os.GetFileAttributesW(target.chars) == INVALID_FILE_ATTRIBUTES) {
    // Nothing holds a monitor that is not there yet: no stop is needed.
    CopyToSystemDirectory(source_path);
  } else if (FindPrintingJob() == JobsPrinting::kPrinting) {
    // A stop now would make that job print again from its first page.
    trace("A job is printing: %ws is replaced at the next start, and the spooler is not stopped.", target);
    ReplaceAtRestart(system, source, target);
  } else {
    monitor_copy_ran = false;
    // A stop that the spooler refused is the step's failure.
    if (const DWORD refusal = RestartSpoolerWithAction(CopyToSystemDirectoryAction, source_path);
        refusal != ERROR_SUCCESS) {
      return refusal;
    }
    // Without a running spooler there is no stop to copy in; the monitor
    // cannot be added then, and support should see why.
    if (!monitor_copy_ran) {
      trace("The spooler is not running; %ws is not copied into the system directory.", file);
    }
  }
  // An earlier uninstall left the monitor to be deleted at the next start:
  // the fresh copy is put back right after that deletion.
  if (RemovalPendingAtRestart(target.chars)) {
    trace("%ws is put back at the next start, after its deletion there.", target);
    ReplaceAtRestart(system, source, target);
  }
  return ERROR_SUCCESS;
}

int StageDataFile(const wchar_t* file_name) {
  if (file_name == nullptr) return Failed(ERROR_INVALID_PARAMETER);
  Path source = {};
  if (!Formed(PackageFilePath(source, kDataFolder, file_name), file_name)) {
    return Failed(ERROR_FILENAME_EXCED_RANGE);
  }
  if (!SourcePresent(source)) return Failed(ERROR_FILE_NOT_FOUND);
  DWORD error = ERROR_SUCCESS;
  return StageIntoDriverDirectory(source, file_name, false, MachineEnvironment(), error) ? 1 : Failed(error);
}
int CopyToSystemDirectory(const wchar_t* source_path) {
  WideText<3> drive;
  WideText<256> folder;
  WideText<256> name;
  WideText<256> extension;
  if (!SplitPath(source_path, drive, folder, name, extension)) return 0;
  Path file = {};
  Path target = {};
  if (!Formed(BoundedFormat(file, L"%ws%ws", name, extension) && SystemFilePath(target, file.c_str()),
              source_path)) {
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  const BOOL copied = os.CopyFileW(source_path, target.chars, FALSE);
  trace("CopyFile file:%ws to %ws, %d, errcode:%d.", source_path, target, copied,
        static_cast<int>(GetLastError()));
  return copied ? 1 : 0;
}
