// postingestevent end to end: the real service on a sandboxed ingest folder, posting to a local HTTPS
// endpoint; the age rules of the purge; and several runs on one queue at once.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "common/win_handles.h"
#include "support/appdata_sandbox.h"
#include "support/https_test_server.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

constexpr ULONGLONG kSecond = 10000000;
constexpr ULONGLONG kHour = 3600 * kSecond;
constexpr ULONGLONG kDay = 24 * kHour;

// Sets creation, access and write times together (the platform keeps a creation time set alone only so).
void MakeOlder(const std::wstring& path, ULONGLONG age) {
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  const ULONGLONG then = ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - age;
  const FILETIME time = {static_cast<DWORD>(then), static_cast<DWORD>(then >> 32)};
  const HANDLE file = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  EXPECT_TRUE(::SetFileTime(file, &time, &time, &time));
  ::CloseHandle(file);
}

class IngestTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", server_.failure());
    folder_ = sandbox_.storageRoot() + L"\\ingest";
    std::filesystem::create_directories(folder_);
    client_ = sandbox_.roaming() + L"\\client";
    std::filesystem::create_directories(client_);
    WriteFileBytes(
        client_ + L"\\kx_win_client_config.cfg",
        "kxingest-url = https://localhost\r\nkxingest-port = " + std::to_string(server_.port()) + "\r\n");
    Answer(200);
  }

  void Answer(int status) { server_.SetAnswer("/ingest", {TestAnswer::Kind::kAnswer, status, {}, ""}); }
  void PostQueued() { EXPECT_TRUE(RunService({client_, L"postingestevent", L"0"}).finished); }
  std::wstring Queue(const std::wstring& name, const std::string& text) {
    WriteFileBytes(folder_ + L"\\" + name, text);
    return folder_ + L"\\" + name;
  }
  std::vector<std::wstring> Queued() const { return ListTree(folder_); }

  AppDataSandbox sandbox_;
  HttpsTestServer server_;
  std::wstring folder_, client_;
};

// At a refusing server (which statuses count as delivered is IsAcceptedStatus's table): a refused event stays
// queued without its lock; an event another run holds the lock of, an empty or half-written one and a lock are
// not posted; the purge removes only files past their age limit.
TEST_F(IngestTest, OnlyFreeWholeEventsArePostedRefusedOnesStayAndThePurgeTakesOnlyTheOld) {
  Answer(500);
  // Another run is posting it: it holds its lock open. A lock nobody holds (its run was killed) is no obstacle.
  const UniqueFileHandle held(::CreateFileW(Queue(L"locked.log.lck", "").c_str(), GENERIC_READ, 0, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
  Queue(L"stale.log.lck", "");
  Queue(L"empty.log", "");
  Queue(L"nocolon.log", "still being writ");
  Queue(L"stray.lck", "k:v");  // a lock is never an event, whatever it holds
  const std::pair<const wchar_t*, ULONGLONG> files[] = {
      {L"locked.log", 0},
      {L"stale.log", 0},
      {L"old.log", 30 * kDay + kSecond},
      {L"young.log", 29 * kDay},
      // Locks of events no longer there: the lock of a queued event goes with the run that takes it over.
      {L"a.log.lck", 10 * kHour + kSecond},
      {L"b.log.lck", 9 * kHour},
      {L"other.txt", 400 * kDay},  // which names have no limit is AgeRuleOf's table
  };
  for (const auto& [name, age] : files) MakeOlder(Queue(name, "k:v"), age);
  // A sub-folder is neither purged nor taken up, nor is what it holds.
  std::filesystem::create_directories(folder_ + L"\\sub.log");
  WriteFileBytes(folder_ + L"\\sub.log\\inner.log", "k:v");
  MakeOlder(folder_ + L"\\sub.log", 400 * kDay);
  MakeOlder(folder_ + L"\\sub.log\\inner.log", 400 * kDay);
  PostQueued();
  EXPECT_EQ(3u, server_.Requests().size());  // stale.log, young.log and other.txt
  EXPECT_EQ((std::vector<std::wstring>{L"b.log.lck", L"empty.log", L"locked.log", L"locked.log.lck",
                                       L"nocolon.log", L"other.txt", L"stale.log", L"stray.lck", L"sub.log",
                                       L"sub.log\\inner.log", L"young.log"}),
            Queued());
}

// Several runs at once on one queue: every event (a .txt file is one too) is posted exactly once, as the
// ingest endpoint reads it (the file's entries after the fixed ones), and removed.
TEST_F(IngestTest, ConcurrentRunsPostEveryEventExactlyOnce) {
  for (int i = 0; i < 200; ++i) {
    const std::wstring name = L"e" + std::to_wstring(i) + (i % 10 ? L".log" : L".txt");
    Queue(name, "uid:" + std::to_string(i) + "\r\nv:b:z\n");
  }
  EXPECT_TRUE(RunTogether(ServicePath(), QuoteWord(client_) + L" postingestevent 0", 4));
  std::map<std::string, int> posted;
  for (const RecordedRequest& request : server_.Requests()) {
    EXPECT_EQ("/ingest", request.path);
    EXPECT_EQ("application/json", FindHeader(request, "content-type").value_or(""));
    EXPECT_EQ("qplx-desk-relayer", FindHeader(request, "x-api-key").value_or(""));
    const std::string lead = ",\"env.fw.name\":\"Kestrix SDK\",\"uid\":\"";
    const size_t at = request.body.find(lead);
    ASSERT_NE(std::string::npos, at) << request.body;
    EXPECT_TRUE(EndsWith(request.body, "\",\"v\":\"b:z\"}}]}")) << request.body;
    const size_t uid = at + lead.size();
    ++posted[request.body.substr(uid, request.body.find('"', uid) - uid)];
  }
  EXPECT_EQ(200u, posted.size());
  for (const auto& [uid, count] : posted) EXPECT_EQ(1, count) << uid;
  EXPECT_TRUE(Queued().empty());
}

}  // namespace
}  // namespace kx::test
