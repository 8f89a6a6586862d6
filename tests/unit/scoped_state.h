// Guards for the process-wide values that the entry sets: a test may set them
// for its own length, and the next test finds them as they were.
#pragma once

#include "common/package.h"
#include "common/string_table.h"

class ScopedInstallDirectory {
 public:
  explicit ScopedInstallDirectory(const wchar_t* folder = nullptr) : saved_(InstallDirectory) {
    if (folder != nullptr) BoundedCopy(InstallDirectory, folder);
  }
  ~ScopedInstallDirectory() { InstallDirectory = saved_; }
  ScopedInstallDirectory(const ScopedInstallDirectory&) = delete;
  ScopedInstallDirectory& operator=(const ScopedInstallDirectory&) = delete;

 private:
  PathText saved_;
};

class ScopedModuleInstance {
 public:
  explicit ScopedModuleInstance(HINSTANCE instance) : saved_(ModuleInstance) { ModuleInstance = instance; }
  ~ScopedModuleInstance() { ModuleInstance = saved_; }
  ScopedModuleInstance(const ScopedModuleInstance&) = delete;
  ScopedModuleInstance& operator=(const ScopedModuleInstance&) = delete;

 private:
  HINSTANCE saved_;
};
