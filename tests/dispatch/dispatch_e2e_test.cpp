// sendlog and dontsend end to end, and the log transport launcher: the real service on report files in every
// state, with copies of a recording program standing in as the log transport: signed at test time, unsigned,
// and changed after signing. (The whole life of a real crash through the real transport is in the transport
// tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/launch_records.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "frontend/crash_pipe.h"

namespace kx::test {
namespace {

constexpr char kClosing[] = "\r\n</crashreport>\r\n";
constexpr char kClosingWithDump[] = "\r\n<dumpAttached>\r\n\r\n</dumpAttached>\r\n</crashreport>\r\n";
constexpr DWORD kLaunchWaitMs = 30000;

std::wstring TestTransport(const wchar_t* kind) {
  return ThisProgramFolder() + L"\\..\\test-transports\\" + kind + L".exe";
}

// A copy of the service signed by our publisher (the test PKI's code-signing certificate).
std::wstring TestService() { return ThisProgramFolder() + L"\\..\\test-services\\signed.exe"; }

// A client directory holding the given transport copy as KXLogTransport.exe (none for an empty kind). Its
// name has a blank, which the starts must carry through their quoting.
std::wstring MakeClientDirectory(const AppDataSandbox& sandbox, const wchar_t* kind) {
  static int counter = 0;
  const std::wstring directory = sandbox.roaming() + L"\\client dir " + std::to_wstring(counter++);
  std::filesystem::create_directories(directory);
  if (*kind) std::filesystem::copy_file(TestTransport(kind), directory + L"\\KXLogTransport.exe");
  return directory;
}

class DispatchTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    sandbox_ = std::make_unique<AppDataSandbox>();
    sandbox_->EnableLogging();
    for (const wchar_t* folder : {L"\\crashlogs", L"\\dumps"}) {
      std::filesystem::create_directories(sandbox_->storageRoot() + folder);
    }
  }
  static void TearDownTestSuite() { sandbox_.reset(); }

  static std::string Log(const wchar_t* name) {
    return ReadFileBytes(sandbox_->logFolder() + L"\\" + name).value_or("<missing>");
  }
  // The two starts each run makes: the crash log folder and the dump folder, each after the client directory
  // (the record folder of the recorder, so a record in the client directory proves that word arrived whole).
  static void ExpectBothFoldersStarted(std::vector<Launch> arguments) {
    std::sort(arguments.begin(), arguments.end());
    const std::vector<Launch> expected = {{sandbox_->storageRoot() + L"\\crashlogs"},
                                          {sandbox_->storageRoot() + L"\\dumps"}};
    EXPECT_EQ(expected, arguments);
  }

  inline static std::unique_ptr<AppDataSandbox> sandbox_;
};

TEST_F(DispatchTest, SendlogFinishesEachState) {
  // Which dump name exists beforehand (empty: none) and whether the dump is wanted, which the report's name
  // says. How a document is closed is the report closing test's table.
  const std::tuple<const char*, const wchar_t*, bool> cases[] = {
      {"mini dump, no decision yet", L".dmp", false},
      {"full dump, dump wanted", L".dmp.full", true},
      {"dump deleted by solutionurl", L"", false},
  };
  const std::string kept = "<?xml?>\r\n<crashreport a=\"1\">\r\n<x/>\r\n";
  const std::wstring client = MakeClientDirectory(*sandbox_, L"");
  std::string lastId;
  for (const auto& [what, dumpSuffix, dumpWanted] : cases) {
    SCOPED_TRACE(what);
    lastId = UniqueCrashIdentifier();
    const ReportFiles files(*sandbox_, lastId);
    WriteFileBytes(dumpWanted ? files.attached : files.report, kept + "</crashreport>\r\n</crashreport>junk");
    const std::wstring dumpPath = files.dump.substr(0, files.dump.size() - 4) + dumpSuffix;
    if (*dumpSuffix) WriteFileBytes(dumpPath, "MDMP");
    // A whole attachment copy is finished with its report; a half one is not.
    const std::wstring attachment =
        files.finalReport.substr(0, files.finalReport.size() - 6) + L".att1.app_log";
    WriteFileBytes(attachment, "log");
    WriteFileBytes(attachment + L"2.writing", "half");

    EXPECT_TRUE(RunService({client, L"sendlog", WideId(lastId)}).finished);
    EXPECT_EQ("log", ReadFileBytes(attachment + L".final").value_or("<missing>"));
    EXPECT_FALSE(IsFile(attachment));
    EXPECT_TRUE(IsFile(attachment + L"2.writing"));
    EXPECT_EQ(kept + (dumpWanted ? kClosingWithDump : kClosing),
              ReadFileBytes(files.finalReport).value_or("<missing>"));
    EXPECT_FALSE(IsFile(files.report) || IsFile(files.attached));
    EXPECT_EQ(*dumpSuffix ? "MDMP" : "<missing>", ReadFileBytes(dumpPath + L".final").value_or("<missing>"));
    EXPECT_FALSE(IsFile(dumpPath));
  }
  // A second sendlog finds nothing left to finish and changes nothing.
  const std::vector<std::wstring> finishedFiles = ListTree(sandbox_->storageRoot());
  EXPECT_TRUE(RunService({client, L"sendlog", WideId(lastId)}).finished);
  EXPECT_EQ(finishedFiles, ListTree(sandbox_->storageRoot()));
  EXPECT_EQ("Log transport not present\r\n", Log(L"LogTransportProcessor.txt"));
}

TEST_F(DispatchTest, DontsendDeletesTheReportAndItsDumpButNoFinishedFile) {
  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(*sandbox_, id);
  const std::wstring attachment =
      files.finalReport.substr(0, files.finalReport.size() - 6) + L".att1.app_log";
  for (const std::wstring& path : {files.attached, files.fullDump, files.finalReport, files.dump + L".final",
                                   attachment, attachment + L".writing", attachment + L"2.final"}) {
    WriteFileBytes(path, "x");
  }
  EXPECT_TRUE(RunService({MakeClientDirectory(*sandbox_, L"unsigned"), L"dontsend", WideId(id)}).finished);
  EXPECT_FALSE(IsFile(files.attached));
  EXPECT_FALSE(IsFile(files.fullDump));
  EXPECT_FALSE(IsFile(attachment) || IsFile(attachment + L".writing"));
  EXPECT_TRUE(IsFile(attachment + L"2.final"));
  EXPECT_TRUE(IsFile(files.finalReport));
  EXPECT_TRUE(IsFile(files.dump + L".final"));
}

TEST_F(DispatchTest, OnlyATransportOfOurOwnPublisherIsStarted) {
  // Which transport copy, whether the service running the check is signed by our publisher (otherwise, "*",
  // the build tree's, unsigned, with no publisher set at build time), the signature log's reason, started.
  const std::tuple<const wchar_t*, bool, const char*, bool> cases[] = {
      {L"signed", true, "The signer is the service's own publisher.", true},
      {L"renewed", true, "The signer is the service's own publisher.", true},
      {L"unsigned", true, "The file is not signed.", false},
      {L"altered", true, "Error is: -2146869232", false},
      {L"self-signed", true, "The signer's certificate chain ends in a root that is not trusted.", false},
      {L"rogue-ca", true, "The signer's certificate chain ends in a root that is not trusted.", false},
      {L"expired", true, "A certificate of the signer's chain is outside its validity period.", false},
      {L"other-publisher", true, "The signer is not the service's publisher: another subject.", false},
      {L"no-usage", true, "The signer's certificate does not name the code-signing usage.", false},
      {L"signed", false, "No publisher to compare the signer with", false},
  };
  std::vector<std::wstring> started, refused;
  for (const auto& [kind, ourService, reason, starts] : cases) {
    for (const wchar_t* command : {L"sendlog", L"updatepvbpreference"}) {
      SCOPED_TRACE(testing::PrintToString(std::wstring(kind) + L" " + command + (ourService ? L"" : L" *")));
      const std::wstring client = MakeClientDirectory(*sandbox_, kind);
      // Given with a trailing backslash, which must not merge with the folder word of the start.
      const std::wstring service = ourService ? TestService() : ServicePath();
      EXPECT_TRUE(RunChild(service, {client + L"\\", command, WideId(UniqueCrashIdentifier()), L"1"}, 60000)
                      .finished);
      EXPECT_TRUE(Contains(Log(L"SignatureVerifierUtils.txt"), reason)) << Log(L"SignatureVerifierUtils.txt");
      EXPECT_EQ(starts, Contains(Log(L"LogTransportProcessor.txt"), "Signature verification successful"));
      (starts ? started : refused).push_back(client);
    }
  }
  // Once these starts are recorded, a start of a refused run before them would be too.
  for (const auto& client : started) ExpectBothFoldersStarted(WaitForLaunchRecords(client, 2, kLaunchWaitMs));
  for (const auto& client : refused) EXPECT_TRUE(ReadLaunches(client).empty());
}

// Runs our signed service as the test's debuggee and calls `at` when the service calls CreateProcessW:
// after its check, with the transport held, before anything is started. False when it never got there.
bool RunServiceStoppedAtItsStart(const std::vector<std::wstring>& words, const std::function<void()>& at) {
  std::wstring line = CommandLineOf(TestService(), words);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(TestService().c_str(), line.data(), nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS,
                        nullptr, nullptr, &startup, &info)) {
    return false;
  }
  const UniqueHandle process(info.hProcess), thread(info.hThread);
  // System DLLs sit at the same address in every process, so the service's entry is the test's.
  void* target = reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "CreateProcessW"));
  // WriteProcessMemory makes a code page writable for the write, as a debugger needs.
  const auto patch = [&](BYTE value) { ::WriteProcessMemory(process.get(), target, &value, 1, nullptr); };
  BYTE original = 0;
  bool armed = false, stopped = false;
  DEBUG_EVENT event = {};
  while (::WaitForDebugEvent(&event, 60000)) {
    DWORD status = DBG_CONTINUE;
    const EXCEPTION_RECORD& exception = event.u.Exception.ExceptionRecord;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) ::CloseHandle(event.u.CreateProcessInfo.hFile);
    if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) ::CloseHandle(event.u.LoadDll.hFile);
    if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && exception.ExceptionCode != EXCEPTION_BREAKPOINT) {
      status = DBG_EXCEPTION_NOT_HANDLED;
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && !armed) {  // the loader's breakpoint
      armed = ::ReadProcessMemory(process.get(), target, &original, 1, nullptr);
      patch(0xCC);
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT && exception.ExceptionAddress == target) {
      at();
      patch(original);
      CONTEXT context = {};
      context.ContextFlags = CONTEXT_CONTROL;
      ::GetThreadContext(thread.get(), &context);
      context.Rip = reinterpret_cast<DWORD64>(target);  // the call runs as if never stopped
      stopped = ::SetThreadContext(thread.get(), &context);
    }
    ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return stopped;
  }
  return false;
}

TEST_F(DispatchTest, WhatIsStartedIsTheFileThatWasChecked) {
  // While the checked transport is held the file cannot be replaced, so it runs; under Wine (not Windows) its
  // folder can be renamed and an unsigned program put in its place, which must never run.
  const std::wstring unsigned_ = TestTransport(L"unsigned");
  const std::tuple<const char*, std::function<void(const std::wstring&)>, size_t> cases[] = {
      {"the client directory", [&](const std::wstring& client) {
         EXPECT_TRUE(::MoveFileExW(client.c_str(), (client + L" moved").c_str(), 0));
         std::filesystem::create_directories(client);
         std::filesystem::copy_file(unsigned_, client + L"\\KXLogTransport.exe");
       }, 0},
      {"the file", [&](const std::wstring& client) {
         const std::wstring transport = client + L"\\KXLogTransport.exe";
         EXPECT_FALSE(::CopyFileW(unsigned_.c_str(), transport.c_str(), FALSE));
         EXPECT_FALSE(::MoveFileExW(transport.c_str(), (transport + L".old").c_str(), 0));
       }, 2},
  };
  std::vector<std::wstring> quiet;
  for (const auto& [what, replace, launches] : cases) {
    SCOPED_TRACE(what);
    const std::wstring client = MakeClientDirectory(*sandbox_, L"signed");
    EXPECT_TRUE(RunServiceStoppedAtItsStart({client, L"sendlog", WideId(UniqueCrashIdentifier()), L"1"},
                                            [&] { replace(client); }));
    EXPECT_EQ(launches == 0, Contains(Log(L"LogTransportProcessor.txt"), "is not the checked log transport"));
    if (launches == 0) quiet.insert(quiet.end(), {client, client + L" moved"});
    if (launches != 0) ExpectBothFoldersStarted(WaitForLaunchRecords(client, launches, kLaunchWaitMs));
  }
  // Had the unsigned program (or the moved one) run, it would have been recorded by now.
  for (const std::wstring& folder : quiet) EXPECT_TRUE(ReadLaunches(folder).empty());
}

}  // namespace
}  // namespace kx::test
