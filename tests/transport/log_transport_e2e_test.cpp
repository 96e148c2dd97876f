// KXLogTransport.exe end to end: finished files of a storage folder uploaded to a local HTTPS server,
// byte-exact and a piece at a time; each file's fate by the server's answer and by what the folder holds; two
// copies at once. The whole life of a real crash, up to the
// upload by a transport whose signature the service checked, is tools/demo's (run by the test command).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "common/win_handles.h"
#include "prefs/preference_store.h"
#include "support/appdata_sandbox.h"
#include "support/https_test_server.h"
#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/waiting.h"

namespace kx::test {
namespace {

using namespace std::chrono_literals;
constexpr char kUploadPath[] = "/upload";
constexpr wchar_t kLogKey[] = L"Software\\Orvan\\CommonFiles\\KXLog";

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
  long figure = 0;
  WaitUntil("the transport's memory figure", std::chrono::seconds(180), [&] {
    const std::optional<std::string> text = ReadFileBytes(out);
    if (text) figure = std::atol(text->c_str());
    return text.has_value();
  });
  return figure;
}

class LogTransportTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", server_.failure());
    client_ = sandbox_.roaming() + L"\\client dir";
    folder_ = sandbox_.storageRoot() + L"\\crashlogs";
    std::filesystem::create_directories(client_);
    std::filesystem::create_directories(folder_);
    WriteFileBytes(client_ + L"\\kx_win_client_config.cfg",
                   "kxupload-url = https://localhost\r\nkxupload-port = " + std::to_string(server_.port()));
    Answer(200);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kLogKey, L"UploadNotBefore");
  }
  // The server's pause is per user, outside the sandbox.
  void TearDown() override { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kLogKey, L"UploadNotBefore"); }
  void Answer(int status, TestAnswer answer = {}) {
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

// Two copies at once on one folder: each finished file is uploaded once, byte-exact, under headers that name
// it, its kind, its report and the installation, and is then deleted; unfinished files and folders stay.
TEST_F(LogTransportTest, FinishedFilesTravelOnceByteExactAndAreThenDeleted) {
  std::string dump(1 << 20, '\0');
  for (size_t i = 0; i < dump.size(); ++i) dump[i] = static_cast<char>((i * 7919) >> 3);
  const std::string report = "<?xml version=\"1.0\"?>\r\n<crashreport>\r\n\0\xff</crashreport>\r\n";
  Put(L"kxWinLog_g_1_abc.xml.final", report);
  Put(L"kxWinLog_g_1_abc.xml.att1.app_log.final", "log");
  Put(L"kxWinDump_g_1_abc.dmp.full.final", dump);
  for (int i = 0; i < 100; ++i) Put(L"f" + std::to_wstring(i) + L".final", std::to_string(i));
  Put(L"kxWinLog_g_2_abc.xml.solurl", "not finished");
  std::filesystem::create_directories(folder_ + L"\\folder.final");
  ASSERT_TRUE(RunTransports(client_, folder_, 2));

  std::map<std::string, RecordedRequest> uploads;
  for (const RecordedRequest& request : server_.Requests()) {
    const std::string name = FindHeader(request, "X-KX-File-Name").value_or("?");
    EXPECT_EQ(0u, uploads.count(name)) << name << " uploaded twice";
    uploads[name] = request;
  }
  ASSERT_EQ(103u, uploads.size());
  for (int i = 0; i < 100; ++i) {
    EXPECT_EQ(std::to_string(i), uploads["f" + std::to_string(i) + ".final"].body);
  }
  const std::wstring wideGuid = PreferenceStore::GetInstallationGuid();
  const std::string guid(wideGuid.begin(), wideGuid.end());
  // Name, body, and the headers of kind, the report an attachment belongs to and the installation.
  const std::tuple<std::string, std::string, std::string> files[] = {
      {"kxWinLog_g_1_abc.xml.final", report, "report  " + guid},
      {"kxWinLog_g_1_abc.xml.att1.app_log.final", "log", "attachment kxWinLog_g_1_abc.xml.final " + guid},
      {"kxWinDump_g_1_abc.dmp.full.final", dump, "dump  " + guid},
      {"f0.final", "0", "other  " + guid},
  };
  for (const auto& [name, body, headers] : files) {
    const RecordedRequest& upload = uploads[name];
    EXPECT_TRUE(body == upload.body) << name;  // not printed: the dump is a MiB
    EXPECT_EQ(headers, FindHeader(upload, "X-KX-File-Kind").value_or("?") + " " +
                           FindHeader(upload, "X-KX-Report-Name").value_or("") + " " +
                           FindHeader(upload, "X-KX-Installation-Guid").value_or("?"))
        << name;
  }
  EXPECT_EQ((std::vector<std::wstring>{L"folder.final", L"kxWinLog_g_2_abc.xml.solurl"}), ListTree(folder_));
}

// Which status has which fate is JudgeUploadStatus's table; here each fate, and what the next run does.
TEST_F(LogTransportTest, EachFileMeetsItsFateAndTheNextRunFinishesIt) {
  // kEarly: 16 MiB answered on the headers alone, so that the body's writes fail under the answer.
  enum Twist { kNone, kEarly, kReadOnly, kOld };
  struct Row {
    const char* what;
    int status;          // of the first run, 0 for none; the second run gets 200
    const char* header;  // of the first answer, "" for none
    std::vector<std::wstring> afterFirst, afterSecond;
    size_t requests;  // of both runs
    Twist twist = kNone;
  };
  const std::vector<std::wstring> kept = {L"a.final"}, twice = {L"a.final.2.rejected", L"a.final.rejected"};
  const Row rows[] = {
      {"413 before the body", 413, "", {L"a.final.rejected"}, {L"a.final.rejected"}, 1, kEarly},
      {"503 and Retry-After before the body", 503, "Retry-After: 3600", kept, kept, 1, kEarly},
      {"200 before the body", 200, "", kept, {}, 2, kEarly},
      {"read-only, beside a read-only leftover", 200, "", {}, {}, 1, kReadOnly},
      {"older than 30 days, delivered", 200, "", {}, {}, 1, kOld},
      {"older than 30 days, kept", 503, "", {L"a.final.unsent"}, {L"a.final.unsent"}, 1, kOld},
      {"killed once its request arrived", 0, "", kept, {}, 2},
      {"503", 503, "", kept, {}, 2},
      {"503 and Retry-After", 503, "Retry-After: 3600", kept, kept, 1},
      {"400", 400, "", {L"a.final.rejected"}, {L"a.final.rejected"}, 1},
      {"400, name taken", 400, "", twice, twice, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kLogKey, L"UploadNotBefore");
    if (row.afterFirst == twice) Put(L"a.final.rejected", "set aside before");
    const std::wstring file = Put(L"a.final", "x");
    if (row.twist == kEarly) std::filesystem::resize_file(file, 16 << 20);
    if (row.twist == kOld) std::filesystem::last_write_time(file, std::filesystem::last_write_time(file) - 744h);
    for (const wchar_t* name : {L"a.final", L"b.final.delivered"}) {
      if (row.twist == kReadOnly) ::SetFileAttributesW(Put(name, "x").c_str(), FILE_ATTRIBUTE_READONLY);
    }
    const size_t before = server_.Requests().size();
    TestAnswer answer;
    answer.kind = row.status == 0       ? TestAnswer::Kind::kSilent
                  : row.twist == kEarly ? TestAnswer::Kind::kEarly
                                        : TestAnswer::Kind::kAnswer;
    if (*row.header) answer.headerLines.push_back(row.header);
    Answer(row.status, answer);
    if (row.status == 0) {
      const StartedProgram transport(TransportPath(), {client_, folder_});
      WaitUntil("the upload to reach the silent server", std::chrono::seconds(120),
                [&] { return server_.Requests().size() != before; });
      transport.End(true);
    } else {
      ASSERT_TRUE(RunTransports(client_, folder_));
    }
    EXPECT_EQ(row.afterFirst, ListTree(folder_));
    Answer(200);
    ASSERT_TRUE(RunTransports(client_, folder_));
    EXPECT_EQ(row.afterSecond, ListTree(folder_));
    EXPECT_EQ(before + row.requests, server_.Requests().size());
  }
}

// A link, a second name of another file, or a folder word that is not a storage folder: nothing is sent,
// and the files elsewhere stay as they are.
TEST_F(LogTransportTest, NothingOutsideItsOwnFolderIsSentOrChanged) {
  const std::wstring outside = sandbox_.roaming() + L"\\outside-";
  for (const wchar_t* link : {L"s", L"h"}) WriteFileBytes(outside + link, "not ours");
  const std::wstring symlink = folder_ + L"\\s.final";
  ASSERT_EQ("", StartLinuxProgram(L"Z:\\bin\\ln", L"-s " + QuoteWord(UnixPath(outside + L"s")) + L" " +
                                                       QuoteWord(UnixPath(symlink))));
  WaitUntil("ln to make the link", std::chrono::seconds(60), [&] { return IsFile(symlink); });
  ASSERT_TRUE(::CreateHardLinkW((folder_ + L"\\h.final").c_str(), (outside + L"h").c_str(), nullptr));
  ASSERT_TRUE(RunTransports(client_, folder_));
  EXPECT_EQ((std::vector<std::wstring>{L"h.final", L"s.final"}), ListTree(folder_));

  // An empty word once listed the root of the current drive, a relative one the current folder.
  const std::wstring driveRootFile = L"C:\\kxtest-" + std::to_wstring(::GetCurrentProcessId()) + L".final";
  WriteFileBytes(driveRootFile, "not ours");
  Put(L"a.final", "x");
  wchar_t current[MAX_PATH] = L"";
  ::GetCurrentDirectoryW(MAX_PATH, current);
  for (const auto& [word, folder] : {std::pair<std::wstring, std::wstring>{L"", L"C:\\"},
                                     {L"Orvan\\KXLogs\\crashlogs", sandbox_.roaming()}}) {
    ASSERT_TRUE(::SetCurrentDirectoryW(folder.c_str()));
    EXPECT_TRUE(RunTransports(client_, word));
  }
  ::SetCurrentDirectoryW(current);
  EXPECT_TRUE(IsFile(driveRootFile));
  std::filesystem::remove(driveRootFile);
  EXPECT_TRUE(IsFile(folder_ + L"\\a.final"));
  EXPECT_TRUE(server_.Requests().empty());
  for (const wchar_t* link : {L"s", L"h"}) EXPECT_EQ("not ours", ReadFileBytes(outside + link));
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
  ASSERT_GT(huge, 0);
  ASSERT_GT(small, 0);
  // Neither a copy of the file nor a buffer of its order of size: a few pieces at most.
  EXPECT_LT(huge - small, 64 * 1024);
  EXPECT_LT(huge, 128 * 1024);
}

}  // namespace
}  // namespace kx::test
