// The install tests' machine: the fake machine with the driver package laid
// out in a real folder, InstallDirectory pointing at it, and the USB port of
// the printer known to the spooler.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "install/install_request.h"
#include "tests/fakes/fake_machine.h"
#include "tests/unit/scoped_state.h"

// ASCII text, for messages.
inline std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

inline void WriteRealFile(const std::wstring& path, const std::string& content) {
  FILE* f = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(f, nullptr) << "cannot write the test file";
  fwrite(content.data(), 1, content.size(), f);
  fclose(f);
}

// The content of a real file, or "<none>".
inline std::string ReadRealFile(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (f == nullptr) return "<none>";
  std::string content;
  char chunk[256];
  for (size_t n; (n = fread(chunk, 1, sizeof(chunk), f)) > 0;) content.append(chunk, n);
  fclose(f);
  return content;
}

class PackageTest : public testing::Test {
 protected:
  PackageTest() {
    package = machine.temp_directory + L"pkg\\";
    CreateDirectoryW(package.c_str(), nullptr);
    WriteRealFile(package + L"vlm6v6.inf", "[Version]\r\nDriverVer=08/22/2025,2025.8.22.1\r\n");
    for (const wchar_t* arch : {L"i386", L"arm", L"amd64", L"arm64"}) {
      CreateDirectoryW((package + arch).c_str(), nullptr);
      for (const wchar_t* file : {L"vlm6drv6.dll", L"vlm6drv6ui.dll", L"vlm6mon.dll"}) {
        WriteRealFile(package + arch + L"\\" + file, Narrow(std::wstring(arch) + L" " + file));
      }
    }
    CreateDirectoryW((package + L"dat").c_str(), nullptr);
    WriteRealFile(package + L"dat\\vlm6drv6.dat", "data");
    BoundedCopy(InstallDirectory, package.c_str());  // given back by `directory_`
    machine.spooler.ports.push_back(L"USB001");
  }
  void TearDown() override {
    EXPECT_EQ(machine.OpenHandleCount(), 0) << "every handle closed";
    EXPECT_EQ(machine.LiveBlocks(), 0) << "every buffer released";
  }

  // Back to the machine before the install: no spooler objects, no staged
  // files, a running spooler, no faults, an empty log and trace.
  void ResetMachine() {
    const std::wstring folder = machine.spooler.driver_directory;
    const auto folders = machine.spooler.driver_directories;
    machine.spooler = FakeSpooler{};
    machine.spooler.driver_directory = folder;
    machine.spooler.driver_directories = folders;
    machine.spooler.ports.push_back(L"USB001");
    // The spooler's package records and the moves waiting for a restart.
    for (auto key = machine.registry.keys.begin(); key != machine.registry.keys.end();) {
      const bool spooler_or_restart = key->first.find(L"PackageInstallation") != std::wstring::npos ||
                                      key->first.find(L"Session Manager") != std::wstring::npos;
      key = spooler_or_restart ? machine.registry.keys.erase(key) : std::next(key);
    }
    const std::wstring store = machine.RealPath(L"C:\\Windows\\System32\\DriverStore");
    RemoveRealTree(store);
    CreateDirectoryW(store.c_str(), nullptr);
    VerifiedPackageFolder.clear();  // the store's copy went with it
    machine.services = FakeServices{};
    machine.pnp = FakePlugAndPlay{};
    machine.faults.clear();
    machine.calls.clear();
    machine.debug_writes.clear();
    machine.sleeps.clear();
    machine.delayed_moves.clear();
    machine.delayed_move_flags.clear();
    for (const auto& [environment, dir] : folders) RemoveFilesIn(dir);
    RemoveFilesIn(machine.system_directory);
  }

  static void RemoveFilesIn(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW((dir + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }

  // Runs `sequence` once cleanly to learn the calls it makes, then once for
  // every call of it with that call failing; after each run `check` looks at
  // the machine.
  template <typename Sequence, typename Check>
  void FailEachCall(Sequence sequence, Check check) {
    ResetMachine();
    sequence();
    std::vector<std::pair<Seam, int>> points;
    std::vector<Seam> names = machine.CallNames();
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (Seam name : names) {
      // Calls that cannot fail, or whose failure the fake does not model.
      if (name == Seam::Sleep || name == Seam::LocalFree || name == Seam::ClosePrinter ||
          name == Seam::CloseServiceHandle || name == Seam::CloseHandle || name == Seam::GetNativeSystemInfo) {
        continue;
      }
      for (int nth = 1; nth <= machine.CallCount(name); ++nth) points.emplace_back(name, nth);
    }
    ASSERT_GT(points.size(), 5u);
    for (const auto& [name, nth] : points) {
      SCOPED_TRACE(std::string(SeamName(name)) + " #" + std::to_string(nth));
      ResetMachine();
      machine.FailNth(name, ERROR_ACCESS_DENIED, nth);
      const int result = sequence();
      EXPECT_EQ(machine.OpenHandleCount(), 0) << "every handle closed";
      EXPECT_EQ(machine.LiveBlocks(), 0) << "every buffer released";
      if (name != Seam::StartServiceW) {
        EXPECT_EQ(machine.services.Spooler().state, static_cast<DWORD>(SERVICE_RUNNING)) << "spooler left running";
      }
      check(result);
    }
  }

  static bool EndsWith(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  }

  // A file in the printer-driver directory of the machine's environment.
  std::wstring DriverFile(const std::wstring& name) const {
    return machine.spooler.DirectoryOf(machine.MachineEnvironment()) + L"\\" + name;
  }
  std::wstring SystemFile(const std::wstring& name) const {
    return machine.system_directory + L"\\" + name;
  }
  std::wstring InfPath() const { return package + L"vlm6v6.inf"; }

  // The trace lines that begin with `prefix`.
  std::vector<std::wstring> TraceStarting(const std::wstring& prefix) const {
    std::vector<std::wstring> lines;
    for (const std::wstring& line : machine.TraceLines()) {
      if (line.compare(0, prefix.size(), prefix) == 0) lines.push_back(line);
    }
    return lines;
  }

  static PrinterInstallRequest Request(const wchar_t* name = L"Vellumor VL-K20", uint8_t flags = 0x11,
                                       const wchar_t* port = L"USB001") {
    PrinterInstallRequest r = {};
    BoundedCopy(r.driver_name, name);
    BoundedCopy(r.printer_name, name);
    BoundedCopy(r.port_name, port);
    BoundedCopy(r.hardware_id, L"usbprint\\vellumor vl-k20d5a5");
    r.flags = flags;
    return r;
  }

  ScopedInstallDirectory directory_;
  FakeMachine machine;
  std::wstring package;  // the InstallDirectory, ending with a backslash
};
