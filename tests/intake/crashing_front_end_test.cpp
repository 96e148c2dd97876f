// The crashing front end that the createdump tests rely on, checked against a recorder in the service's
// place: it must crash for real, keep the crashed thread alive while the service runs, and send a message
// that describes exactly the crash it captured.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "intake/crash_data_message.h"
#include "prefs/preference_store.h"
#include "support/base64_text.h"
#include "support/front_end_run.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/test_pipe_server.h"

namespace kx::test {
namespace {

TEST(Base64TextTest, EncodesTheStandardVectorsAndDecodesOnlyWhatItWouldWrite) {
  const std::pair<std::string, std::string> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"foobar", "Zm9vYmFy"},
                                                         {std::string("\0\xFF\xFE\x80", 4), "AP/+gA=="}};
  for (const auto& [bytes, text] : vectors) {
    SCOPED_TRACE(text);
    EXPECT_EQ(text, EncodeBase64(bytes.data(), bytes.size()));
    EXPECT_EQ(bytes, DecodeBase64(text).value_or("<refused>"));
  }
  for (const char* malformed : {"Zg=", "Zg=a", "Z===", "Zm=v", "Zm9v\n", "Zm9*"}) {
    EXPECT_FALSE(DecodeBase64(malformed).has_value()) << malformed;
  }
}

struct Recorded {
  std::string head;  // the recorder's report lines
  std::map<std::string, std::string> records;
};

// What the recorder wrote for the crash, or nothing.
std::optional<Recorded> ReadRecorded(const std::string& crashIdentifier) {
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring path = std::wstring(temp) + L"kx-recorded-" +
                            std::wstring(crashIdentifier.begin(), crashIdentifier.end()) + L".txt";
  const std::optional<std::string> text = ReadFileBytes(path);
  ::DeleteFileW(path.c_str());
  if (!text) return std::nullopt;
  const size_t blank = text->find("\n\n");
  if (blank == std::string::npos) return std::nullopt;
  return Recorded{text->substr(0, blank + 1), ReadCrashRecords(text->substr(blank + 2))};
}

std::wstring RecorderPath() { return ThisProgramFolder() + L"\\crash_pipe_recorder.exe"; }

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool InImage(const CrashCapture& capture, std::uint64_t address) {
  return address >= capture.imageBase && address < capture.imageBase + capture.imageSize;
}

TEST(CrashingFrontEndTest, EveryKindOfCrashReachesTheServiceWhileTheCrashedThreadRuns) {
  const std::string guid = Narrow(PreferenceStore::getInstallationGuid());
  ASSERT_EQ(36u, guid.size());
  const std::pair<const char*, DWORD> kinds[] = {{"access-violation", EXCEPTION_ACCESS_VIOLATION},
                                                 {"divide-by-zero", EXCEPTION_INT_DIVIDE_BY_ZERO},
                                                 {"breakpoint", EXCEPTION_BREAKPOINT}};
  for (const auto& [kind, code] : kinds) {
    SCOPED_TRACE(kind);
    const std::string id = UniqueCrashIdentifier();
    const FrontEndRun run = RunCrashingFrontEnd(id, kind, "", RecorderPath());
    ASSERT_TRUE(run.run.finished);
    EXPECT_EQ(0u, run.run.exitCode);
    ASSERT_TRUE(run.capture.has_value());
    const CrashCapture& capture = *run.capture;
    const CONTEXT context = CapturedContext(capture);
    const EXCEPTION_RECORD exception = CapturedExceptionRecord(capture);
    // The crash happened in the front end's own code, at the place its registers say.
    EXPECT_EQ(code, exception.ExceptionCode);
    EXPECT_TRUE(InImage(capture, context.Rip)) << std::hex << context.Rip;
    EXPECT_TRUE(InImage(capture, reinterpret_cast<std::uintptr_t>(exception.ExceptionAddress)));
    EXPECT_NE(capture.threadId, 0u);

    const std::optional<Recorded> recorded = ReadRecorded(id);
    ASSERT_TRUE(recorded.has_value());
    EXPECT_EQ("arguments: " + Narrow(ThisProgramFolder()) + " createdump " + id +
                  "\nprocess alive: 1\nthread alive: 1\n",
              recorded->head);
    std::map<std::string, std::string> records = recorded->records;
    EXPECT_EQ(std::to_string(capture.processId), records["ProcessId"]);
    EXPECT_EQ(std::to_string(capture.threadId), records["ThreadId"]);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(capture.context), sizeof(capture.context)),
              DecodeBase64(records["Context"]).value_or("<not Base64>"));
    EXPECT_EQ(
        std::string(reinterpret_cast<const char*>(capture.exceptionRecord), sizeof(capture.exceptionRecord)),
        DecodeBase64(records["ExceptionInfo"]).value_or("<not Base64>"));
    EXPECT_EQ("kxWinLog_" + guid + "_" + id + "_abc.xml", records["LogFileName"]);
    EXPECT_EQ("kxWinDump_" + guid + "_" + id + "_abc", records["DumpFileName"]);
    EXPECT_EQ(kind, records["SignalType"]);
  }
}

TEST(CrashingFrontEndTest, ExtraRecordsWinAndEndedProcessesAndThreadsStayEnded) {
  const EndedProcess ended;
  ASSERT_NE(0u, ended.id());
  const std::string id = UniqueCrashIdentifier();
  const FrontEndRun run = RunCrashingFrontEnd(
      id, "thread-exits",
      CrashRecord("ProductName", "Overridden") + CrashRecord("ProcessId", std::to_string(ended.id())),
      RecorderPath());
  ASSERT_TRUE(run.run.finished);
  EXPECT_EQ(0u, run.run.exitCode);
  ASSERT_TRUE(run.capture.has_value());

  const std::optional<Recorded> recorded = ReadRecorded(id);
  ASSERT_TRUE(recorded.has_value());
  EXPECT_NE(std::string::npos, recorded->head.find("process alive: 0\nthread alive: 0\n")) << recorded->head;
  std::map<std::string, std::string> records = recorded->records;
  EXPECT_EQ("Overridden", records["ProductName"]);
  EXPECT_EQ(std::to_string(ended.id()), records["ProcessId"]);
  EXPECT_EQ(std::to_string(run.capture->threadId), records["ThreadId"]);
}

}  // namespace
}  // namespace kx::test
