// Points the prefix's roaming application data folder at a fresh, empty folder for the life of one test, so
// that the storage folders of the service (and of code under test) start empty. Restores the previous
// setting afterwards. Works through the "User Shell Folders" AppData value the shell reads at every call.
#pragma once

#include <string>

namespace kx::test {

class AppDataSandbox {
 public:
  AppDataSandbox();
  ~AppDataSandbox();
  AppDataSandbox(const AppDataSandbox&) = delete;
  AppDataSandbox& operator=(const AppDataSandbox&) = delete;

  const std::wstring& roaming() const { return roaming_; }
  std::wstring storageRoot() const { return roaming_ + L"\\Orvan\\KXLogs"; }
  std::wstring logFolder() const { return storageRoot() + L"\\windowsclient"; }

  // Makes the log folder and the logging switch file.
  void EnableLogging() const;

  // Points the roaming folder at `path`; by default below a plain file, where the shell cannot use it.
  void PointAt(const std::wstring& path = L"") const;

 private:
  std::wstring base_;     // removed as a whole at the end
  std::wstring roaming_;  // base_ + "\Roaming"
  std::wstring saved_;
  bool hadSaved_ = false;
};

}  // namespace kx::test
