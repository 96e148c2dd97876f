// KXLogTransport.exe end to end: finished files of a folder uploaded to a local HTTPS server, byte-exact and
// a piece at a time; the server's verdicts; two copies at once. The whole life of a real crash, up to the
// upload by a transport whose signature the service checked, is tools/demo's (run by the test command).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "prefs/preference_store.h"
#include "support/appdata_sandbox.h"
#include "support/https_test_server.h"
#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

constexpr char kUploadPath[] = "/upload";

std::wstring TransportPath() { return ThisProgramFolder() + L"\\KXLogTransport.exe"; }

// Starts `count` transports on the folder at once; true when all ended in time.
bool RunTransports(const std::wstring& client, const std::wstring& folder, int count = 1) {
  return RunTogether(TransportPath(), QuoteWord(client) + L" " + QuoteWord(folder), count);
}

// Wine reports no memory figures of another process, so the transport runs once more as a Linux child of
// Python, which reads the peak resident size of its children (Wine's own mappings included). Returns KiB,
// 0 when the figure did not come.
long PeakResidentKiB(const std::wstring& client, const std::wstring& folder) {
  const std::wstring out = folder + L"-rss.txt";
  ::DeleteFileW(out.c_str());
  // Wine hands its own environment on: the prefix this test runs in.
  wchar_t prefix[MAX_PATH] = L"";
  if (::GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH) == 0) return 0;
  const std::wstring script =
      L"import os,resource,subprocess,sys; "
      L"env = dict(os.environ, WINEPREFIX=sys.argv[1], WINEDEBUG='-all'); "
      L"subprocess.run(['/usr/lib/wine/wine64'] + sys.argv[2:5], env=env); "
      L"open(sys.argv[5] + '.tmp', 'w').write(str(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)); "
      L"os.rename(sys.argv[5] + '.tmp', sys.argv[5])";
  const std::string started = StartLinuxProgram(
      L"Z:\\usr\\bin\\python3", L"-c " + QuoteWord(script) + L" " + QuoteWord(prefix) + L" " +
                                    QuoteWord(TransportPath()) + L" " + QuoteWord(client) + L" " +
                                    QuoteWord(folder) + L" " + QuoteWord(UnixPath(folder) + L"-rss.txt"));
  EXPECT_EQ("", started);
  for (int waited = 0; waited < 1800; ++waited) {
    if (const std::optional<std::string> figure = ReadFileBytes(out)) return std::atol(figure->c_str());
    ::Sleep(100);
  }
  return 0;
}

class LogTransportTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", server_.failure());
    client_ = sandbox_.roaming() + L"\\client dir";
    folder_ = sandbox_.roaming() + L"\\finished";
    std::filesystem::create_directories(client_);
    std::filesystem::create_directories(folder_);
    Configure(server_.port());
    Answer(200);
  }
  void Configure(std::uint16_t port) {
    WriteFileBytes(client_ + L"\\kx_win_client_config.cfg",
                   "kxupload-url = https://localhost\r\nkxupload-port = " + std::to_string(port) + "\r\n");
  }
  void Answer(int status) {
    TestAnswer answer;
    answer.status = status;
    server_.SetAnswer(kUploadPath, answer);
  }
  std::wstring Put(const std::wstring& name, const std::string& bytes) {
    WriteFileBytes(folder_ + L"\\" + name, bytes);
    return folder_ + L"\\" + name;
  }

  AppDataSandbox sandbox_;
  HttpsTestServer server_;
  std::wstring client_, folder_;
};

TEST_F(LogTransportTest, FinishedFilesTravelByteExactAndAreThenDeleted) {
  std::string dump(1 << 20, '\0');
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<char>((i * 7919) >> 3);
  const std::string report = "<?xml version=\"1.0\"?>\r\n<crashreport>\r\n\0\xff</crashreport>\r\n";
  Put(L"kxWinLog_g_1_abc.xml.final", report);
  Put(L"kxWinDump_g_1_abc.dmp.full.final", dump);
  Put(L"kxWinLog_g_2_abc.xml.solurl", "not finished");
  std::filesystem::create_directories(folder_ + L"\\folder.final");
  ASSERT_TRUE(RunTransports(client_, folder_));

  std::map<std::string, RecordedRequest> uploads;
  for (const RecordedRequest& request : server_.Requests()) {
    uploads[FindHeader(request, "X-KX-File-Name").value_or("?")] = request;
  }
  ASSERT_EQ(2u, uploads.size());
  const RecordedRequest& reportUpload = uploads["kxWinLog_g_1_abc.xml.final"];
  EXPECT_EQ(report, reportUpload.body);
  EXPECT_EQ("report", FindHeader(reportUpload, "X-KX-File-Kind").value_or(""));
  const std::wstring guid = PreferenceStore::getInstallationGuid();
  EXPECT_EQ(std::string(guid.begin(), guid.end()), FindHeader(reportUpload, "X-KX-Installation-Guid"));
  EXPECT_TRUE(dump == uploads["kxWinDump_g_1_abc.dmp.full.final"].body);
  EXPECT_EQ((std::vector<std::wstring>{L"folder.final", L"kxWinLog_g_2_abc.xml.solurl"}), ListTree(folder_));
}

// Which statuses reject a file is JudgeUploadStatus's table; here a rejection and a run without an answer.
TEST_F(LogTransportTest, RejectedFilesAreSetAsideAndUnansweredOnesKept) {
  Answer(400);
  Put(L"a.final", "x");
  ASSERT_TRUE(RunTransports(client_, folder_));
  EXPECT_EQ(std::vector<std::wstring>{L"a.final.rejected"}, ListTree(folder_));
  std::filesystem::remove(folder_ + L"\\a.final.rejected");
  Configure(1);  // nothing listens there
  Put(L"a.final", "x");
  ASSERT_TRUE(RunTransports(client_, folder_));
  EXPECT_EQ(std::vector<std::wstring>{L"a.final"}, ListTree(folder_));
}

TEST_F(LogTransportTest, AHugeDumpGoesOutWithoutBeingHeldInMemory) {
  constexpr LONGLONG kSize = 200ll << 20;
  // Sparse on the disk underneath: the size costs nothing to make.
  std::filesystem::resize_file(Put(L"kxWinDump_g_9_abc.dmp.full.final", ""), kSize);
  const long huge = PeakResidentKiB(client_, folder_);
  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(static_cast<size_t>(kSize), requests[0].body.size());
  EXPECT_TRUE(ListTree(folder_).empty());

  // The same run with a small file: what the transport needs whatever it sends.
  Put(L"kxWinDump_g_10_abc.dmp.final", "small");
  const long small = PeakResidentKiB(client_, folder_);
  std::printf("peak resident size of the transport: %ld KiB uploading %lld MiB, %ld KiB uploading 5 bytes\n",
              huge, kSize >> 20, small);
  ASSERT_GT(huge, 0);
  ASSERT_GT(small, 0);
  // Neither a copy of the file nor a buffer of its order of size: a few pieces at most.
  EXPECT_LT(huge - small, 64 * 1024);
  EXPECT_LT(huge, 128 * 1024);
}

TEST_F(LogTransportTest, TwoTransportsAtOnceUploadEachFileOnce) {
  for (int i = 0; i < 100; ++i) Put(L"f" + std::to_wstring(i) + L".final", std::to_string(i));
  ASSERT_TRUE(RunTransports(client_, folder_, 2));
  std::map<std::string, int> uploads;
  for (const RecordedRequest& request : server_.Requests()) ++uploads[request.body];
  EXPECT_EQ(100u, uploads.size());
  for (const auto& [body, count] : uploads) EXPECT_EQ(1, count) << body;
  EXPECT_TRUE(ListTree(folder_).empty());
}

}  // namespace
}  // namespace kx::test
