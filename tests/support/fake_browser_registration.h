// Makes launch_recorder.exe (next to the test program) the browser of the prefix for the life of one test, so
// that a link the product opens with ShellExecuteW is recorded instead of shown.
//
// Wine's ShellExecuteW takes the command from HKLM\Software\Classes\<scheme>\shell\open\command (an entry
// under HKCU is not seen), so the registration goes there for http and https:
//   "<folder>\launch_recorder.exe" "<record folder>" "%1"
// The link replaces %1 as it is; a link holding a double quote therefore reaches the browser as several
// words. What was registered before comes back at the end. HKLM is shared by the whole prefix: tests that use
// this run one at a time (kx_add_test ... INTEGRATION).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/launch_records.h"

namespace kx::test {

using BrowserLaunch = Launch;

class FakeBrowser {
 public:
  FakeBrowser();   // registers; check failure()
  ~FakeBrowser();  // restores the earlier registration and removes the records
  FakeBrowser(const FakeBrowser&) = delete;
  FakeBrowser& operator=(const FakeBrowser&) = delete;

  // Empty when the fake browser is registered for both schemes; otherwise why not.
  const std::string& failure() const { return failure_; }

  // Every launch recorded so far, in start order.
  std::vector<BrowserLaunch> Launches() const;
  // Waits until at least `count` launches are recorded, or `limitMs` has passed; returns what there is.
  std::vector<BrowserLaunch> WaitForLaunches(size_t count, DWORD limitMs) const;

 private:
  struct Saved {
    std::wstring scheme;
    std::wstring createdKey;  // the topmost key the registration made, removed at the end; empty if none
    bool hadCommand = false;  // the command key's default value existed, with this type and data
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };

  std::string Register(const std::wstring& scheme, const std::wstring& command);
  static void Restore(const Saved& saved);

  std::wstring records_;
  std::vector<Saved> saved_;
  std::string failure_;
};

}  // namespace kx::test
