// "opensolutionurl" end to end: a link written into the crash's pipe reaches the registered browser exactly
// as sent, or, when it is not a web link that stays one argument, starts nothing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_browser_registration.h"
#include "support/service_harness.h"
#include "handler/crash_pipe.h"

namespace kx::test {
namespace {

bool WasLaunchedWith(const std::vector<BrowserLaunch>& launches, const std::string& link) {
  for (const BrowserLaunch& launch : launches) {
    if (launch.arguments == std::vector<std::wstring>{std::wstring(link.begin(), link.end())}) return true;
  }
  return false;
}

void OpenThroughTheService(const std::string& link) {
  const std::string id = UniqueCrashIdentifier();
  CrashPipe pipe(WideId(id));
  ASSERT_EQ("", pipe.createFailure());
  pipe.StartWriting(link + '\0');
  const ServiceRun run = RunService({L"C:\\client", L"opensolutionurl", std::wstring(id.begin(), id.end())});
  EXPECT_TRUE(run.finished);
  EXPECT_EQ("", pipe.Finish(30000).failure);
}

TEST(OpenSolutionUrlTest, WebLinksReachTheBrowserAsOneArgumentAndNothingElseStartsIt) {
  FakeBrowser browser;
  ASSERT_EQ("", browser.failure());

  const std::vector<std::string> accepted = {
      "https://help.example/crash/4711?lang=en&id=%22x%22#top",
      "http://help.example/",
      "https://",
  };
  for (const std::string& link : accepted) OpenThroughTheService(link);
  std::vector<BrowserLaunch> launches = browser.WaitForLaunches(accepted.size(), 30000);
  ASSERT_EQ(accepted.size(), launches.size());
  for (const std::string& link : accepted) EXPECT_TRUE(WasLaunchedWith(launches, link)) << link;

  const char* const refused[] = {
      "HTTPS://help.example/", " https://help.example/", "C:\\Windows\\System32\\calc.exe", "-1", "",
      "mailto:support@help.example", "https://help.example/\" --new-window \"https://evil.example/",
      "https://help.example/a b", "https://help.example/a\tb",
  };
  for (const char* link : refused) OpenThroughTheService(link);
  // A last accepted link: once its launch is seen, a refused link that had started the browser would have
  // been recorded too, since each run ends only after its shell call has returned.
  OpenThroughTheService("https://help.example/last");
  launches = browser.WaitForLaunches(accepted.size() + 1, 30000);
  ASSERT_EQ(accepted.size() + 1, launches.size());
  EXPECT_TRUE(WasLaunchedWith(launches, "https://help.example/last"));
}

}  // namespace
}  // namespace kx::test
