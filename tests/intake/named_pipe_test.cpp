// The service's end of the crash pipe against a real pipe served as the front end serves it.
#include "intake/named_pipe.h"

#include <aclapi.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "frontend/crash_pipe.h"
#include "support/appdata_sandbox.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx {
namespace {

using test::UniqueCrashIdentifier;
using test::WideId;

// A pipe served for a new crash, as the front end serves it.
struct ServedPipe {
  explicit ServedPipe(CrashPipe::Options options = {}) : server(WideId(id), options) {
    EXPECT_EQ("", server.createFailure());
  }

  const std::string id = UniqueCrashIdentifier();
  CrashPipe server;
};

class NamedPipeTest : public ::testing::Test {
 protected:
  void TearDown() override { ComponentLogStream(LogComponent::NamedPipe).Close(); }
  std::string Log(const wchar_t* name) const {
    return test::ReadFileBytes(sandbox_.logFolder() + L"\\" + name).value_or("<no log file>");
  }

  test::AppDataSandbox sandbox_;
};

// The service reads the text before the first NUL of one message, or writes its text and one NUL in one.
TEST_F(NamedPipeTest, OneMessageEachWayEndsAtItsFirstNul) {
  const std::string bytes = "KX------KX\r\n\xE9\x80\xFF\x01 " + std::string(100, 'h');
  std::string atLimit(kMaxPipeMessageBytes, 'L');
  atLimit[0] = 'F';
  atLimit.back() = 'Z';
  const std::string large(3 << 20, 'w');
  using After = CrashPipe::AfterWrite;
  struct Case {
    const char* name;
    bool serviceWrites;    // else the front end writes and the service reads
    std::string written;   // by the writing end
    std::string expected;  // what the reading end gets
    After after = After::kWaitForClientToClose;
    DWORD bufferSize = 0;
  };
  const Case cases[] = {
      {"any byte but NUL, then a NUL", false, bytes + '\0', bytes},
      {"no NUL, server hangs up", false, bytes, bytes, After::kHangUp},
      {"NUL in the middle", false, std::string("front\0back\0", 11), "front"},
      {"limit, buffer larger than the message", false, atLimit + '\0', atLimit, After::kWaitForClientToClose,
       16u << 20},
      {"limit and no NUL, small buffer", false, atLimit, atLimit, After::kHangUp, 4096},
      {"one byte over the limit is cut", false, atLimit + "X" + '\0', atLimit},
      {"service writes abc", true, "abc", std::string("abc\0", 4)},
      {"service writes a text holding a NUL", true, std::string("ab\0cd", 5), std::string("ab\0", 3)},
      {"service writes several MiB", true, large, large + '\0'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CrashPipe::Options options;
    options.bufferSize = c.bufferSize;
    ServedPipe served(options);
    if (c.serviceWrites) served.server.StartReading();
    if (!c.serviceWrites) served.server.StartWriting(c.written, c.after);
    std::string read;
    {
      NamedPipe pipe;
      ASSERT_NE(nullptr, pipe.Connect(served.id));
      if (c.serviceWrites) pipe.WriteMessage(c.written);
      if (!c.serviceWrites) read = pipe.ReadMessage();
    }
    const CrashPipe::Outcome outcome = served.server.Finish();
    EXPECT_TRUE(outcome.connected && outcome.failure.empty()) << outcome.failure;
    const std::string& got = c.serviceWrites ? outcome.received : read;
    EXPECT_TRUE(c.expected == got) << "sizes " << c.expected.size() << " and " << got.size();  // MiB long
    // A writing service closes after its message; a reading one sends nothing back.
    EXPECT_TRUE(c.serviceWrites ? outcome.clientClosed : outcome.received.empty());
  }
}

// A front end that connects and then never writes: the service gives up after its limit.
TEST_F(NamedPipeTest, AFrontEndThatNeverWritesIsGivenUpOn) {
  sandbox_.EnableLogging();
  ServedPipe served;
  served.server.StartReading();
  NamedPipe pipe(500);
  ASSERT_NE(nullptr, pipe.Connect(served.id));
  EXPECT_EQ("", pipe.ReadMessage());
  EXPECT_TRUE(test::Contains(Log(L"NamedPipe.txt"), "The front end did not answer in time, giving up.\r\n"));
}

// A server the service cannot open (the test's own process, its DACL emptied for a while) is refused.
TEST_F(NamedPipeTest, APipeServedByAnUnidentifiableProcessGetsNothing) {
  sandbox_.EnableLogging();
  ServedPipe served;
  served.server.StartReading();
  PACL saved = nullptr;
  UniqueLocalMem<void> descriptor;
  ACL none;
  const auto setDacl = [](PACL dacl) {
    return ::SetSecurityInfo(::GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                             nullptr, dacl, nullptr) == ERROR_SUCCESS;
  };
  ASSERT_TRUE(::GetSecurityInfo(::GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &saved, nullptr, descriptor.put()) == ERROR_SUCCESS &&
              ::InitializeAcl(&none, sizeof(none), ACL_REVISION) && setDacl(&none));
  {
    NamedPipe pipe;
    EXPECT_EQ(nullptr, pipe.Connect(served.id));
    pipe.WriteMessage("https://help.example/");
  }
  EXPECT_TRUE(setDacl(saved));
  EXPECT_EQ("", served.server.Finish().received);
  EXPECT_TRUE(
      test::Contains(Log(L"NamedPipe.txt"),
                     "The user of the process serving the pipe cannot be read, closing the pipe.\r\n"));
}

// What the front end's pipe carries describes the user's process: nobody but that user may open it.
TEST(CrashPipeAccessTest, OnlyTheCurrentUserMayOpenTheCrashPipe) {
  ServedPipe served;
  served.server.StartReading();
  const UniqueFileHandle client(::CreateFileW(CrashPipeName(WideId(served.id)).c_str(),
                                              GENERIC_WRITE | READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0,
                                              nullptr));
  ASSERT_TRUE(client);
  PACL dacl = nullptr;
  UniqueLocalMem<void> descriptor;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            ::GetSecurityInfo(client.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              &dacl, nullptr, descriptor.put()));
  void* ace = nullptr;
  ASSERT_TRUE(dacl != nullptr && dacl->AceCount == 1 && ::GetAce(dacl, 0, &ace));
  ASSERT_EQ(ACCESS_ALLOWED_ACE_TYPE, static_cast<ACE_HEADER*>(ace)->AceType);
  UniqueHandle token;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()));
  unsigned char user[256];
  DWORD size = 0;
  ASSERT_TRUE(::GetTokenInformation(token.get(), TokenUser, user, sizeof(user), &size));
  EXPECT_TRUE(::EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart,
                         reinterpret_cast<TOKEN_USER*>(user)->User.Sid));
}

}  // namespace
}  // namespace kx
