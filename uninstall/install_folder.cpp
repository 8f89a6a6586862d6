#include "uninstall/install_folder.h"

#include <cwchar>
#include <cwctype>

#include "common/package.h"
#include "common/run_options.h"
#include "common/scoped_handle.h"
#include "common/trace.h"
#include "platform/os.h"

namespace {

// Entries one deletion may name; a package has far fewer.
constexpr size_t kMaxOwnedEntries = 64;
constexpr size_t kMaxNamedFiles = 32;
constexpr DWORD kSectionCapacity = 4096;

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Length of the root of an absolute path ("C:\" or "\\server\share"), or 0.
size_t RootLength(const wchar_t* path) {
  if (std::iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) return 3;
  if (!IsSeparator(path[0]) || !IsSeparator(path[1])) return 0;
  size_t i = 2;
  for (int part = 0; part < 2; ++part) {
    const size_t start = i;
    while (path[i] != L'\0' && !IsSeparator(path[i])) ++i;
    if (i == start) return 0;
    // Device paths (\\?\, \\.\) are not folders of ours.
    if (part == 0 && i - start == 1 && (path[start] == L'?' || path[start] == L'.')) return 0;
    if (part == 0) {
      if (path[i] == L'\0') return 0;
      ++i;
    }
  }
  return i;
}

// Every step after the root is a plain name, and there is at least one.
bool HasPlainStepsBelowRoot(const wchar_t* path, size_t root) {
  int steps = 0;
  for (size_t i = root; path[i] != L'\0';) {
    while (IsSeparator(path[i])) ++i;
    const size_t start = i;
    while (path[i] != L'\0' && !IsSeparator(path[i])) ++i;
    const size_t length = i - start;
    if (length == 0) break;
    if ((length == 1 && path[start] == L'.') ||
        (length == 2 && path[start] == L'.' && path[start + 1] == L'.')) {
      return false;
    }
    ++steps;
  }
  return steps > 0;
}

bool HoldsFile(const wchar_t* folder, const wchar_t* name) {
  PathText path = {};
  if (!JoinPath(path, folder, name)) return false;
  const DWORD attributes = os.GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The files the package's INF names (its copy lists and its catalog), and the
// package's own file names.
struct PackageFiles {
  PathText named[kMaxNamedFiles];
  size_t count = 0;
  PathText catalog;

  void Add(const wchar_t* name) {
    if (count < kMaxNamedFiles && BoundedCopy(named[count], name) && !named[count].empty()) ++count;
  }
  bool Names(const wchar_t* name) const {
    for (size_t i = 0; i < count; ++i) {
      if (named[i].equals(name)) return true;
    }
    return false;
  }
};

// The key of one "name = disk" line, without blanks and quotes around it.
void AddKey(PackageFiles& files, const wchar_t* line) {
  PathText key = {};
  size_t n = 0;
  while (line[n] != L'\0' && line[n] != L'=' && n + 1 < kPathCapacity) {
    key.chars[n] = line[n];
    ++n;
  }
  key.chars[n] = L'\0';
  size_t begin = 0;
  while (key.chars[begin] == L' ' || key.chars[begin] == L'\t' || key.chars[begin] == L'"') ++begin;
  while (n > begin && (key.chars[n - 1] == L' ' || key.chars[n - 1] == L'\t' || key.chars[n - 1] == L'"')) {
    key.chars[--n] = L'\0';
  }
  files.Add(key.chars + begin);
}

PackageFiles ReadPackageFiles(const wchar_t* folder) {
  PackageFiles files;
  for (const wchar_t* name : {kPackageInfName, kDriverDll, kConfigDll, kMonitorDll, kDataFile}) files.Add(name);
  PathText inf = {};
  if (!JoinPath(inf, folder, kPackageInfName)) return files;
  auto section = LocalBlock<wchar_t>::Allocate(kSectionCapacity * sizeof(wchar_t));
  if (section) {
    for (const wchar_t* name : {L"SourceDisksFiles", L"SourceDisksFiles.amd64", L"SourceDisksFiles.x86",
                                L"SourceDisksFiles.arm", L"SourceDisksFiles.arm64"}) {
      const DWORD length = os.GetPrivateProfileSectionW(name, section.get(), kSectionCapacity, inf.c_str());
      if (length == 0 || length >= kSectionCapacity - 2) continue;
      for (const wchar_t* line = section.get(); *line != L'\0'; line += std::wcslen(line) + 1) AddKey(files, line);
    }
  }
  os.GetPrivateProfileStringW(L"Version", L"CatalogFile", L"", files.catalog.data(), kPathCapacity, inf.c_str());
  return files;
}

// The paths to delete, as the shell takes them: each ended by a NUL, the
// list by a second one.
struct DeletionList {
  LocalBlock<wchar_t> text = LocalBlock<wchar_t>::Allocate((kMaxOwnedEntries * kPathCapacity + 1) * sizeof(wchar_t));
  size_t used = 0;
  size_t entries = 0;
  bool overflowed = false;

  void Add(const PathText& path) {
    const size_t length = path.length();
    if (!text || entries == kMaxOwnedEntries || used + length + 2 > kMaxOwnedEntries * kPathCapacity + 1) {
      overflowed = true;
      return;
    }
    std::wmemcpy(text.get() + used, path.c_str(), length + 1);
    used += length + 1;
    text.get()[used] = L'\0';
    ++entries;
  }
};

bool IsDots(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

bool IsDirectory(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }

// A junction, symbolic link or mount point: what it leads to is not ours,
// whatever its name.
bool IsLink(const WIN32_FIND_DATAW& entry) { return (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

uint64_t SizeOf(const WIN32_FIND_DATAW& entry) {
  return (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
}

bool HasExeExtension(const wchar_t* name) {
  const wchar_t* dot = std::wcsrchr(name, L'.');
  return dot != nullptr && _wcsicmp(dot, L".exe") == 0;
}

// Walks the entries of a folder; false when it cannot be listed.
template <typename Visit>
bool ForEachEntry(const wchar_t* folder, Visit visit) {
  PathText pattern = {};
  if (!JoinPath(pattern, folder, L"*")) return false;
  WIN32_FIND_DATAW entry = {};
  ScopedFind find(os.FindFirstFileW(pattern.c_str(), &entry));
  if (!find) return false;
  do {
    if (!IsDots(entry.cFileName)) visit(entry);
  } while (os.FindNextFileW(find.get(), &entry));
  // Only a listing that reached its end is whole; any other error leaves
  // entries unseen, which may be someone else's.
  const DWORD end = GetLastError();
  if (end != ERROR_NO_MORE_FILES) trace("Listing %ws ended with error %u; it is not whole.", folder, end);
  return end == ERROR_NO_MORE_FILES;
}

struct FolderSorting {
  const PackageFiles& files;
  DeletionList& owned;
  bool whole = true;   // nothing in the folder is anyone else's
  bool listed = true;  // every folder could be listed

  void Keep(const wchar_t* path) {
    whole = false;
    trace("Keeping %ws: it is not ours", path);
  }
  // Never entered, never deleted: a deletion through it would reach
  // whatever folder someone pointed it at.
  void KeepLink(const wchar_t* path) {
    whole = false;
    trace("Keeping %ws: it is a link", path);
  }
};

// A package folder: whole when it holds only package files, else those files.
void SortPackageFolder(FolderSorting& sorting, const PathText& folder) {
  DeletionList files;
  bool only_ours = true;
  const bool listed = ForEachEntry(folder.c_str(), [&](const WIN32_FIND_DATAW& entry) {
    PathText path = {};
    JoinPath(path, folder.c_str(), entry.cFileName);
    if (IsLink(entry)) {
      only_ours = false;
      sorting.KeepLink(path.c_str());
    } else if (!IsDirectory(entry) && sorting.files.Names(entry.cFileName)) {
      files.Add(path);
    } else {
      only_ours = false;
      sorting.Keep(path.c_str());
    }
  });
  if (!listed) {
    sorting.listed = false;
    return;
  }
  if (only_ours) {
    sorting.owned.Add(folder);
    return;
  }
  for (const wchar_t* path = files.text.get(); path != nullptr && *path != L'\0'; path += std::wcslen(path) + 1) {
    PathText entry = {};
    BoundedCopy(entry, path);
    sorting.owned.Add(entry);
  }
}

void SortInstallFolder(FolderSorting& sorting, const wchar_t* folder) {
  // Copies of the program beside its uninstaller are the program too.
  bool has_uninstaller = false;
  uint64_t program_size = 0;
  sorting.listed = ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    if (!IsDirectory(entry) && !IsLink(entry) && std::wcscmp(entry.cFileName, kUninstallerName) == 0) {
      has_uninstaller = true;
      program_size = SizeOf(entry);
    }
  });
  if (!sorting.listed) return;
  ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
    PathText path = {};
    if (!JoinPath(path, folder, entry.cFileName)) {
      sorting.whole = false;
      return;
    }
    const wchar_t* name = entry.cFileName;
    if (IsLink(entry)) {
      sorting.KeepLink(path.c_str());
      return;
    }
    if (IsDirectory(entry)) {
      if (IsPackageFolderName(name)) {
        SortPackageFolder(sorting, path);
      } else {
        sorting.Keep(path.c_str());
      }
      return;
    }
    const bool ours = std::wcscmp(name, kPackageInfName) == 0 || std::wcscmp(name, kUninstallerName) == 0 ||
                      std::wcscmp(name, kUninstallerDataName) == 0 ||
                      (!sorting.files.catalog.empty() && sorting.files.catalog.equals(name)) ||
                      (has_uninstaller && HasExeExtension(name) && SizeOf(entry) == program_size);
    if (ours) {
      sorting.owned.Add(path);
    } else {
      sorting.Keep(path.c_str());
    }
  });
}

// Whether the shell deleted the whole list. Its return value is the shell's
// own code, not a Windows error; a question answered No (or an operation
// given up) shows only in fAnyOperationsAborted, with the result 0.
bool ShellDelete(HWND owner, const wchar_t* list) {
  SHFILEOPSTRUCTW operation = {};
  operation.hwnd = owner;
  operation.wFunc = FO_DELETE;
  operation.pFrom = list;
  // Silently the shell asks nothing and shows nothing; the Recycle Bin stays.
  operation.fFlags = FOF_ALLOWUNDO | (SilentRun ? FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI : 0);
  const int result = os.SHFileOperationW(&operation);
  trace("The shell's deletion: code %d (the shell's own), aborted %d", result,
        static_cast<int>(operation.fAnyOperationsAborted));
  return result == 0 && !operation.fAnyOperationsAborted;
}

// Whether every step of `path` below the install folder is still there and
// still no link. Looked at right before the shell deletes: a folder that
// others can change may have been swapped for a junction since it was
// looked through.
bool ReachedWithoutLinks(const wchar_t* path) {
  PathText steps = {};
  if (!BoundedCopy(steps, path)) return false;
  const size_t length = steps.length();
  size_t i = InstallDirectory.length();
  while (i < length && IsSeparator(steps.chars[i])) ++i;
  for (; i <= length; ++i) {
    const wchar_t end = steps.chars[i];
    if (end != L'\\' && end != L'\0') continue;
    steps.chars[i] = L'\0';
    const DWORD attributes = os.GetFileAttributesW(steps.c_str());
    steps.chars[i] = end;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  }
  return true;
}

bool ListReachedWithoutLinks(const wchar_t* list) {
  for (const wchar_t* path = list; *path != L'\0'; path += std::wcslen(path) + 1) {
    if (!ReachedWithoutLinks(path)) {
      trace("%ws changed since the folder was looked through; nothing is deleted", path);
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsOwnInstallDirectory(const wchar_t* folder) {
  if (folder == nullptr || folder[0] == L'\0') return false;
  const size_t root = RootLength(folder);
  if (root == 0) return false;
  // The shell would expand wildcards in the list of paths it deletes.
  if (std::wcspbrk(folder, L"*?\"<>|") != nullptr || std::wcschr(folder + root, L':') != nullptr) {
    return false;
  }
  if (!HasPlainStepsBelowRoot(folder, root)) return false;
  // An uninstaller of that name alone is as often another product's as ours.
  return HoldsFile(folder, kPackageInfName);
}

void DeleteInstallFolder(HWND owner) {
  if (!IsOwnInstallDirectory(InstallDirectory.c_str())) {
    trace("The folder %ws holds none of our files; it stays", InstallDirectory);
    return;
  }
  const PackageFiles files = ReadPackageFiles(InstallDirectory.c_str());
  DeletionList owned;
  FolderSorting sorting{files, owned};
  SortInstallFolder(sorting, InstallDirectory.c_str());
  if (!sorting.listed || owned.overflowed || !owned.text) {
    trace("The folder %ws could not be looked through; it stays", InstallDirectory);
    return;
  }
  if (!ListReachedWithoutLinks(owned.text.get())) return;
  if (!sorting.whole) {
    if (owned.entries == 0) return;
    const bool deleted = ShellDelete(owner, owned.text.get());
    trace("The folder %ws stays with what is not ours; deleting our %d entries: %d", InstallDirectory,
          static_cast<int>(owned.entries), deleted ? 1 : 0);
    return;
  }
  // A list of one path: the folder without its trailing backslash, then a
  // second terminator.
  WideText<kPathCapacity + 1> from = {};
  BoundedCopy(from, InstallDirectory.c_str());
  size_t length = from.length();
  while (length > 3 && IsSeparator(from.chars[length - 1])) from.chars[--length] = L'\0';
  const bool deleted = ShellDelete(owner, from.c_str());
  trace("Deleting the folder %ws: %ws", from, deleted ? L"done" : L"not done, it stays");
  // The shell's windows learn of the folder once it is gone.
  if (deleted) os.SHChangeNotify(SHCNE_RMDIR, SHCNF_PATHW, from.c_str(), nullptr);
}
