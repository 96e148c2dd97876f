// "opensolutionurl" end to end: a link written into the crash's pipe reaches the registered browser exactly
// as sent, or, when it is not a web link that stays one argument, starts nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "frontend/crash_pipe.h"
#include "support/appdata_sandbox.h"
#include "support/launch_records.h"
#include "support/service_harness.h"

namespace kx::test {
namespace {

// Makes launch_recorder.exe the prefix's browser while it lives, as tools/demo does. Wine's ShellExecuteW
// takes the command from HKLM\Software\Classes\<scheme>\shell\open\command (HKCU is not seen) and puts
// the link in place of %1 as it is. The earlier command comes back at the end.
class FakeBrowser {
 public:
  explicit FakeBrowser(const std::wstring& records) : records_(records) {
    const std::wstring command = L"\"" + LaunchRecorderPath() + L"\" \"" + records + L"\" \"%1\"";
    for (const wchar_t* scheme : kSchemes) {
      saved_.push_back(Reg(L"export " + Key(scheme) + L" " + QuoteWord(Saved(scheme)) + L" /y"));
      registered_ = Reg(L"add " + Key(scheme) + L" /ve /d " + QuoteWord(command) + L" /f") && registered_;
    }
  }
  ~FakeBrowser() {
    for (size_t i = 0; i < saved_.size(); ++i) {
      Reg(saved_[i] ? L"import " + QuoteWord(Saved(kSchemes[i])) : L"delete " + Key(kSchemes[i]) + L" /f");
    }
  }
  bool registered() const { return registered_; }

 private:
  static constexpr const wchar_t* kSchemes[] = {L"http", L"https"};
  static std::wstring Key(const wchar_t* scheme) {
    return std::wstring(L"HKLM\\Software\\Classes\\") + scheme + L"\\shell\\open\\command";
  }
  static bool Reg(const std::wstring& arguments) {
    const ServiceRun run = RunProgram(L"C:\\windows\\system32\\reg.exe", arguments);
    return run.finished && run.exitCode == 0;
  }
  std::wstring Saved(const wchar_t* scheme) const { return records_ + L"\\" + scheme + L".reg"; }

  std::wstring records_;
  std::vector<bool> saved_;
  bool registered_ = true;
};

void OpenThroughTheService(const std::string& link) {
  const std::string id = UniqueCrashIdentifier();
  CrashPipe pipe(WideId(id));
  ASSERT_EQ("", pipe.createFailure());
  pipe.StartWriting(link + '\0');
  EXPECT_TRUE(RunService({L"C:\\client", L"opensolutionurl", WideId(id)}).finished);
  EXPECT_EQ("", pipe.Finish(30000).failure);
}

TEST(OpenSolutionUrlTest, WebLinksReachTheBrowserAsOneArgumentAndNothingElseStartsIt) {
  const AppDataSandbox sandbox;
  const std::wstring records = sandbox.roaming();
  const FakeBrowser browser(records);
  ASSERT_TRUE(browser.registered());

  // Which links are refused is IsOpenableLink's table; one of each kind shows that nothing starts for them.
  // They go first: each run ends only after its shell call has returned, so a refused link that started the
  // browser is recorded before the accepted ones.
  for (const char* link : {"HTTPS://help.example/", "C:\\Windows\\System32\\calc.exe", "-1", "",
                           "https://help.example/\" --new-window \"https://evil.example/"}) {
    OpenThroughTheService(link);
  }
  // In the order the records sort in.
  const std::string accepted[] = {"http://help.example/",
                                  "https://help.example/crash/4711?lang=en&id=%22x%22#top"};
  for (const std::string& link : accepted) OpenThroughTheService(link);
  std::vector<Launch> launches = WaitForLaunchRecords(records, 2, 30000);
  std::sort(launches.begin(), launches.end());
  EXPECT_EQ((std::vector<Launch>{{WideId(accepted[0])}, {WideId(accepted[1])}}), launches);
}

}  // namespace
}  // namespace kx::test
