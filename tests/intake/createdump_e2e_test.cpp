// "createdump" end to end: a real crash in crashing_front_end, which serves the crash's pipe and runs the
// real service on itself, must leave a report and a minidump of exactly that crash (the report alone when the
// dump cannot be written), or, when the crash data cannot be used, no files and the reason in the diagnostic
// log. Whole reports are copied to <build>/test-output/createdump, where tools/check-crash-reports validates
// them against the DTD.
#include <windows.h>

#include <dbghelp.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/text_convert.h"
#include "common/win_handles.h"
#include "handler/crash_message.h"
#include "intake/crash_data_message.h"
#include "prefs/preference_store.h"
#include "prefs/pvb_key.h"
#include "report/crash_report_writer.h"
#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

using Files = std::vector<std::wstring>;

std::string Hex16(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%016llX", static_cast<unsigned long long>(value));
  return text;
}

std::string Read(const std::wstring& path) { return ReadFileBytes(path).value_or("<missing>"); }

std::wstring FileNameOf(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }

// Files below the storage root, apart from the diagnostic logs.
Files Stored(const AppDataSandbox& sandbox) {
  Files files;
  for (const std::wstring& entry : ListTree(sandbox.storageRoot())) {
    const std::wstring path = sandbox.storageRoot() + L"\\" + entry;
    if (entry.rfind(L"windowsclient\\", 0) != 0 && IsFile(path)) files.push_back(path);
  }
  return files;
}

std::filesystem::path ReportsFolder() {
  return std::filesystem::path(ThisProgramFolder()).parent_path() / "test-output" / "createdump";
}

// Every run of this program starts with an empty reports folder that names the code page of what follows.
class ReportsFolderReset : public ::testing::Environment {
 public:
  void SetUp() override {
    std::error_code ignored;
    std::filesystem::remove_all(ReportsFolder(), ignored);
    std::filesystem::create_directories(ReportsFolder());
    WriteFileBytes((ReportsFolder() / "codepage.txt").wstring(), std::to_string(::GetACP()) + "\n");
  }
};
[[maybe_unused]] ::testing::Environment* const kReportsFolderReset =
    ::testing::AddGlobalTestEnvironment(new ReportsFolderReset);

// Keeps a report for the XML check; `values` are XPath expressions with the text a parser must read there
// (an expression starting "reversible:": the bytes the reversible form gives back).
void KeepReportForXmlCheck(const std::string& name, const std::string& report,
                           std::vector<std::pair<std::string, std::string>> values = {}) {
  WriteFileBytes((ReportsFolder() / (name + ".xml")).wstring(), report);
  const std::filesystem::path folder = ReportsFolder() / (name + ".values");
  if (!values.empty()) std::filesystem::create_directories(folder);
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].first.rfind("reversible:", 0) == 0) {
      values[i].first.erase(0, 11);
      WriteFileBytes((folder / (std::to_string(i) + ".reversible")).wstring(), "");
    }
    WriteFileBytes((folder / (std::to_string(i) + ".xpath")).wstring(), values[i].first + "\n");
    WriteFileBytes((folder / (std::to_string(i) + ".value")).wstring(), values[i].second);
  }
}

// Removes the dump preference a test wrote, or that the service stored for the test's product build.
struct PreferenceCleanup {
  std::string pvbKey;
  ~PreferenceCleanup() {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Orvan\\CommonFiles\\KXLog\\ProductPreferences",
                         WideId(pvbKey).c_str());
  }
};

// The report of a crash, checked line by line against what the crashed program captured (the message's own
// texts are read back by the hostile-data test). Lines end with CR LF: the report is written in text mode.
void ExpectReportTellsTheCrash(const std::string& report, const CrashCapture& capture,
                               const char* exceptionName, const char* dumpType) {
  const CONTEXT& context = capture.context;
  const EXCEPTION_RECORD& exception = capture.exceptionRecord;
  const std::wstring guid = PreferenceStore::getInstallationGuid();

  EXPECT_EQ(0u,
            report.rfind("<?xml version=\"1.0\"?>\r\n<!DOCTYPE OrvanCrashReport SYSTEM \"OrvanKestrix.dtd\">"
                         "\r\n<crashreport ",
                         0));
  // One crash, one document: an earlier file of the same name is replaced, not extended.
  EXPECT_EQ(report.rfind("<crashreport "), report.find("<crashreport "));
  EXPECT_TRUE(EndsWith(report, "\r\n</crashreport>"));
  EXPECT_NE(std::string::npos,
            report.find("\r\n<user guid=\"" + std::string(guid.begin(), guid.end()) + "\"/>\r\n"));

  // The crash happened in the front end's own code, and the report says where.
  const auto address = reinterpret_cast<std::uintptr_t>(exception.ExceptionAddress);
  EXPECT_TRUE(address >= capture.imageBase && address < capture.imageBase + capture.imageSize)
      << Hex16(address);
  char crashTag[256];
  std::snprintf(crashTag, sizeof(crashTag),
                "\r\n<crash exception=\"%s\" exceptionCode=\"0x%lx\" instruction=\"%s\">\r\n", exceptionName,
                static_cast<unsigned long>(exception.ExceptionCode), Hex16(address).c_str());
  EXPECT_NE(std::string::npos, report.find(crashTag)) << crashTag;

  // clang-format off
  const std::pair<const char*, std::uint64_t> registers[] = {
      {"RAX", context.Rax}, {"RBX", context.Rbx}, {"RCX", context.Rcx}, {"RDX", context.Rdx},
      {"RSI", context.Rsi}, {"RDI", context.Rdi}, {"RSP", context.Rsp}, {"RBP", context.Rbp},
      {"RIP", context.Rip}, {"EFL", context.EFlags}, {"LastExceptionToRip", context.LastExceptionToRip},
      {"LastExceptionFromRip", context.LastExceptionFromRip}};
  // clang-format on
  std::string registerSet = "\r\n<registerSet>\r\n";
  for (const auto& [name, value] : registers)
    registerSet += "<register name=\"" + std::string(name) + "\" value=\"" + Hex16(value) + "\"/>\r\n";
  registerSet += "</registerSet>\r\n\r\n<binaryImageSet>\r\n";
  EXPECT_NE(std::string::npos, report.find(registerSet)) << registerSet;

  // The crashing program among the modules with its real range; the path ends with its file name.
  const std::string image = "\r\n<binaryImage start=\"" + Hex16(capture.imageBase) + "\" end=\"" +
                            Hex16(capture.imageBase + capture.imageSize) + "\" path=\"";
  const size_t imageLine = report.find(image);
  ASSERT_NE(std::string::npos, imageLine) << image;
  const size_t pathEnd = report.find("\"/>\r\n", imageLine + image.size());
  EXPECT_TRUE(EndsWith(report.substr(0, pathEnd), "crashing_front_end.exe")) << report.substr(imageLine, 200);

  EXPECT_NE(std::string::npos, report.find("</binaryImageSet>\r\n<dumpType>\r\n" + std::string(dumpType) +
                                           "\r\n</dumpType>\r\n<slLogSessionDllStatus>\r\nnone\r\n"));
}

// The exception stream of a minidump, read back with dbghelp; null when there is none.
const MINIDUMP_EXCEPTION_STREAM* ExceptionStreamOf(std::string& dump) {
  void* stream = nullptr;
  ULONG size = 0;
  if (!::MiniDumpReadDumpStream(dump.data(), ExceptionStream, nullptr, &stream, &size)) return nullptr;
  return static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream);
}

// The minidump: its header names the kind of dump asked for, its exception stream the crashed thread, the
// exception and the captured registers.
void ExpectDumpTellsTheCrash(std::string dump, const CrashCapture& capture, std::uint64_t flags) {
  ASSERT_GT(dump.size(), sizeof(MINIDUMP_HEADER)) << dump;
  EXPECT_EQ(flags, reinterpret_cast<const MINIDUMP_HEADER*>(dump.data())->Flags);
  const MINIDUMP_EXCEPTION_STREAM* exception = ExceptionStreamOf(dump);
  ASSERT_NE(nullptr, exception);
  const EXCEPTION_RECORD& captured = capture.exceptionRecord;
  EXPECT_EQ(capture.threadId, exception->ThreadId);
  EXPECT_EQ(captured.ExceptionCode, exception->ExceptionRecord.ExceptionCode);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(captured.ExceptionAddress),
            exception->ExceptionRecord.ExceptionAddress);
  ASSERT_LE(exception->ThreadContext.Rva + sizeof(CONTEXT), dump.size());
  CONTEXT context;
  std::memcpy(&context, dump.data() + exception->ThreadContext.Rva, sizeof(context));
  EXPECT_EQ(capture.context.Rip, context.Rip);
  EXPECT_EQ(capture.context.Rsp, context.Rsp);
}

TEST(CreatedumpEndToEndTest, RealCrashesLeaveAReportAndADumpOfThatCrash) {
  struct Case {
    const char* kind;
    DWORD code;
    const char* exceptionName;
    const char* preference;  // written for the product build first; nullptr: none stored yet
    bool full;
    const char* dumpType;
    std::uint64_t dumpFlags;
  };
  const Case cases[] = {
      {"access-violation", EXCEPTION_ACCESS_VIOLATION, "EXCEPTION_ACCESS_VIOLATION", nullptr, false, "Mini",
       0x1AD},
      {"divide-by-zero", EXCEPTION_INT_DIVIDE_BY_ZERO, "EXCEPTION_INT_DIVIDE_BY_ZERO", "1_1_100", true,
       "Full", 0x219AF},
      {"breakpoint", EXCEPTION_BREAKPOINT, "EXCEPTION_BREAKPOINT", "2", false, "Triage", 0x1AD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    AppDataSandbox sandbox;
    sandbox.EnableLogging();
    const std::string id = UniqueCrashIdentifier();
    const std::string build = "Build-" + id;  // upper-case letters: the preference is looked up lower-cased
    const PreferenceCleanup cleanup{MakePvbKey("Crashing Front End", "1.0", build)};
    if (c.preference != nullptr) PreferenceStore::writeAllPreferences({{cleanup.pvbKey, c.preference}});
    const ReportFiles files(sandbox, id);
    const std::wstring dump = c.full ? files.fullDump : files.dump;
    // Files of an earlier crash with the same names, which this crash replaces.
    std::filesystem::create_directories(sandbox.storageRoot() + L"\\crashlogs");
    std::filesystem::create_directories(sandbox.storageRoot() + L"\\dumps");
    WriteFileBytes(files.report,
                   "<?xml version=\"1.0\"?>\r\n<!DOCTYPE OrvanCrashReport SYSTEM \"OrvanKestrix.dtd\">"
                   "\r\n<crashreport serviceVersion=\"earlier\">\r\n</crashreport>");
    WriteFileBytes(dump, "earlier dump");

    const FrontEndRun run = RunCrashingFrontEnd(id, c.kind, CrashRecord("ProductBuild", build));
    ASSERT_TRUE(run.run.finished);
    EXPECT_EQ(0u, run.run.exitCode);
    ASSERT_TRUE(run.capture.has_value());
    ASSERT_EQ(c.code, run.capture->exceptionRecord.ExceptionCode);

    ASSERT_EQ((Files{files.report, dump}), Stored(sandbox));
    const std::string report = Read(files.report);
    ExpectReportTellsTheCrash(report, *run.capture, c.exceptionName, c.dumpType);
    ExpectDumpTellsTheCrash(Read(dump), *run.capture, c.dumpFlags);
    // The request's log, from the pipe to the generator and back (the parsed fields are the parser test's).
    const std::string requestLog = Read(sandbox.logFolder() + L"\\DumpRequestProcessor.txt");
    EXPECT_EQ(0u,
              requestLog.rfind("Inside initializer function of DumpRequestProcessor\r\nGoing to connect to "
                               "the named pipe\r\nSuccessfully connected to the pipe.\r\nCrash data read "
                               "from the pipe and it's value is:\r\n",
                               0))
        << requestLog;
    EXPECT_TRUE(EndsWith(requestLog, "\r\nThreadId: " + std::to_string(run.capture->threadId) +
                                         "\r\nGoing to call the GenerateCrashLog function\r\n"
                                         "Came back from GenerateCrashLog\r\n"))
        << requestLog;
    // A build without a preference gets the default stored for it.
    if (c.preference == nullptr) {
      EXPECT_EQ("0_1_100", PreferenceStore::readAllPreferences()[cleanup.pvbKey]);
    }
    KeepReportForXmlCheck(c.kind, report);
  }
}

TEST(CreatedumpEndToEndTest, HostileCrashDataStaysDataInAWellFormedReportAndDump) {
  AppDataSandbox sandbox;  // logging off
  const std::string id = UniqueCrashIdentifier();
  // A byte above 0x7F only where the code page is known; the check converts from it.
  const std::string accented = ::GetACP() == 1252 ? "caf\xE9" : "cafe";
  // Each record, where a parser must find it again, and its value.
  const std::tuple<const char*, const char*, std::string> fields[] = {
      {"ProductName", "/crashreport/@applicationName", "A&B <Editor> \"x\""},
      {"ProductVersion", "/crashreport/@applicationVersion", "1.0\"/><evil a='1'>&amp;&#38;</crashreport>"},
      {"ProductBuild", "/crashreport/@build", "b\x01<1>\x1F\x7F" + id},
      {"KXSource", "/crashreport/@source", "tab\there\nline feed\rreturn \\ back"},
      {"SignalType", "/crashreport/@crashType", "<![CDATA[ ]]> & \"quoted\" 'single'"},
      {"LocaleString", "/crashreport/system/@applicationlanguage", "en-US\"><system/>"},
      {"StackTrace", "/crashreport/crash/backtrace/thread",
       "frame <1> & \"2\"\r\n</thread></backtrace></crashreport>\n\tframe \x02 " + accented + "\n"},
      {"SLLogSessionDllStatus", "/crashreport/crash/slLogSessionDllStatus", "<slLogSessionDllStatus>&lt;"},
      {"StarlumeSessionId", "/crashreport/sessionId", "]]><!-- -->"},
      {"SolvaneConfigGuid", "/crashreport/solvaneConfigGuid", "{&}"},
      {"ZanUserGuid", "/crashreport/zanUserGuid", "'</zanUserGuid>'\x0B"},
      {"CppExceptionType", "/crashreport/crash/cppException/@type", "std::map<int, \"&\">\n"},
      // Cut to its bound: a thrown text can be anything.
      {"CppExceptionWhat", "/crashreport/crash/cppException", "</cppException>\r\n" + std::string(2000, 'w')},
  };
  std::string extra;
  std::vector<std::pair<std::string, std::string>> readBack;
  for (const auto& [key, xpath, sent] : fields) {
    extra += CrashRecord(key, sent);
    // Every value comes back as sent, except control characters XML 1.0 cannot carry, which stand as "?".
    // Element texts stand on lines of their own; the thread's text ends with its own line end.
    std::string value = std::strncmp(key, "CppException", 12) == 0 ? sent.substr(0, kMaxCppExceptionText) : sent;
    for (char& ch : value) {
      if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n' && ch != '\r') ch = '?';
    }
    if (!std::strchr(xpath, '@')) value = "\n" + value + (EndsWith(xpath, "thread") ? "" : "\n");
    readBack.emplace_back(xpath, value);
  }
  // An exception record that claims more parameters than a record holds, chained to an address nowhere.
  EXCEPTION_RECORD forged = {};
  forged.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
  forged.ExceptionAddress = reinterpret_cast<void*>(0x7FF6A1B2C3D4u);
  forged.ExceptionRecord = reinterpret_cast<EXCEPTION_RECORD*>(0xBAD0BAD0BAD0BAD0u);
  forged.NumberParameters = 0xFFFFFFFFu;
  extra += CrashRecord("ExceptionInfo", EncodeBase64(&forged, sizeof(forged)));
  readBack.emplace_back("/crashreport/crash/@instruction", "0x00007FF6A1B2C3D4");
  // The application's texts come back as the exact bytes, in the reversible form.
  const std::string text = std::string("<\"&'>\x01\x1F\t\r\n\0 KX---KX %41 caf\xC3\xA9 \xFF\xC3", 31);
  extra +=
      CrashRecord("Annotations", EncodeAnnotations({{"plain", "1"}, {text, text + std::string(10240, 'z')}}));
  readBack.emplace_back("reversible:/crashreport/crash/annotations/annotation[2]/@key", text);
  readBack.emplace_back("reversible:/crashreport/crash/annotations/annotation[2]",
                        text + std::string(10240, 'z'));
  // Attachments: copied, a name no file can have (as hostile as the rest), cut at its bound, not a file.
  const std::wstring small = sandbox.roaming() + L"\\app.log", big = sandbox.roaming() + L"\\big.bin";
  WriteFileBytes(small, "log\r\n");
  WriteFileBytes(big, std::string(5 << 20, 'b'));
  const std::string roaming = NarrowToCodePage(sandbox.roaming(), CP_UTF8);
  extra += CrashRecord("Attachments", EncodeAttachments({roaming + "\\app.log", roaming + "\\" + text,
                                                         roaming + "\\big.bin", roaming}));
  readBack.emplace_back("reversible:/crashreport/crash/attachments/attachment[2]/@name", text);
  const PreferenceCleanup cleanup{
      MakePvbKey(std::get<2>(fields[0]), std::get<2>(fields[1]), std::get<2>(fields[2]))};
  const ReportFiles files(sandbox, id);

  const FrontEndRun run = RunCrashingFrontEnd(id, "access-violation", extra);
  ASSERT_TRUE(run.run.finished);
  EXPECT_EQ(0u, run.run.exitCode);
  const std::wstring copies = files.report.substr(0, files.report.size() - 7) + L".att";
  ASSERT_EQ((Files{copies + L"1.app_log", copies + L"3.big_bin", files.report, files.dump}), Stored(sandbox));
  EXPECT_EQ("log\r\n", Read(copies + L"1.app_log"));
  EXPECT_EQ(std::size_t{4} << 20, Read(copies + L"3.big_bin").size());
  const std::string report = Read(files.report);
  // Values cannot close elements early: the document ends where it should, once.
  EXPECT_EQ(report.size() - 14, report.find("</crashreport>"));
  const std::string stem = NarrowToCodePage(copies.substr(copies.rfind(L'\\') + 1), CP_UTF8);
  EXPECT_NE(
      std::string::npos,
      report.find("\r\n<attachments>\r\n<attachment name=\"app.log\" state=\"copied\" file=\"" + stem +
                  "1.app_log\" size=\"5\"/>\r\n<attachment name=\"&#60;&#34;&#38;'&#62;%01%1F&#9;&#13;&#10;"
                  "%00 KX---KX %2541 caf&#233; %FF\" state=\"unreadable\"/>\r\n<attachment name=\"big.bin\" "
                  "state=\"cut\" file=\"" +
                  stem +
                  "3.big_bin\" size=\"4194304\" originalSize=\"5242880\"/>\r\n"
                  "<attachment name=\"" +
                  NarrowToCodePage(std::wstring(FileNameOf(sandbox.roaming())), CP_UTF8) +
                  "\" state=\"unreadable\"/>\r\n</attachments>\r\n</crash>"))
      << report;
  KeepReportForXmlCheck("hostile-values", report, readBack);
  std::string dump = Read(files.dump);
  const MINIDUMP_EXCEPTION_STREAM* exception = ExceptionStreamOf(dump);
  ASSERT_NE(nullptr, exception);
  EXPECT_EQ(forged.ExceptionCode, exception->ExceptionRecord.ExceptionCode);
  EXPECT_EQ(ULONG{EXCEPTION_MAXIMUM_PARAMETERS}, exception->ExceptionRecord.NumberParameters);
  // With logging off a run leaves no trace of its logs, not even their folder.
  EXPECT_FALSE(IsFolder(sandbox.logFolder()));
}

TEST(CreatedumpEndToEndTest, ADumpFileHeldOpenElsewhereLeavesTheReportWithoutModules) {
  AppDataSandbox sandbox;
  sandbox.EnableLogging();
  const std::string id = UniqueCrashIdentifier();
  const PreferenceCleanup cleanup{MakePvbKey("Crashing Front End", "1.0", "100")};
  const ReportFiles files(sandbox, id);
  std::filesystem::create_directories(sandbox.storageRoot() + L"\\dumps");
  const UniqueFileHandle held(
      ::CreateFileW(files.dump.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(held.valid()) << Win32ErrorText(::GetLastError());

  const FrontEndRun run = RunCrashingFrontEnd(id, "access-violation", "");
  ASSERT_TRUE(run.run.finished);
  EXPECT_EQ(0u, run.run.exitCode);
  ASSERT_EQ((Files{files.report, files.dump}), Stored(sandbox));
  const std::string report = Read(files.report);
  EXPECT_NE(std::string::npos, report.find("\r\n<binaryImageSet>\r\n</binaryImageSet>\r\n")) << report;
  const std::string log = Read(sandbox.logFolder() + L"\\KXLogGeneratorlog.txt");
  EXPECT_NE(std::string::npos, log.find("\r\nCrashReport KXLogGenerator::CreateDumpLog - Unable to Create "
                                        "file handle. Error: 32\r\nwrite binaries\r\n"))
      << log;
  EXPECT_TRUE(EndsWith(log, "\r\nlog generated\r\n")) << log;
  KeepReportForXmlCheck("dump-not-written", report);
}

// One refusal of each check; which numbers and names are unusable, the unit tests tell.
TEST(CreatedumpEndToEndTest, UnusableCrashDataLeavesNoFilesAndSaysWhy) {
  // A process that has ended, but whose id no other process gets while this test holds its handle. Without
  // arguments the front end refuses its command line and ends at once.
  const StartedProgram ended(ThisProgramFolder() + L"\\crashing_front_end.exe", {});
  ASSERT_NE(static_cast<DWORD>(STILL_ACTIVE), ended.End(false));
  const std::string endedId = std::to_string(ended.processId);
  const std::string ownThread = std::to_string(::GetCurrentThreadId());
  // The front end's own product build, whose default preference the service may store.
  const PreferenceCleanup cleanup{MakePvbKey("Crashing Front End", "1.0", "100")};
  struct Case {
    const char* kind;
    std::string extra;
    std::string lastLine;  // of the generator's log; of the request's log when the generator must not run
    bool generatorRuns = true;
    const wchar_t* blockedFolder = nullptr;  // a plain file where this storage folder belongs
  };
  const Case cases[] = {
      {"access-violation", CrashRecord("ProcessId", endedId), "Process not active with ID " + endedId},
      {"thread-exits", "", "Thread not active with ID "},  // the ended thread's id follows
      // A running thread, but of another process (this test's).
      {"access-violation", CrashRecord("ThreadId", ownThread), "Thread not active with ID " + ownThread},
      // A plain file where a storage folder belongs: not even half a crash (a report without its dump, an
      // orphan dump) may be written.
      {"access-violation", "", "Unable to find log directory", true, L"crashlogs"},
      {"access-violation", "", "Unable to find dump directory", true, L"dumps"},
      // Not even the fields before the bad number are logged.
      {"access-violation", CrashRecord("ProcessId", "none"),
       "Going to parse the crash data received from the pipe.\r\n"
       "ProcessId or ThreadId in the crash data is not a usable number, no crash log generated",
       false},
      // A name no file can have, and one the path cannot hold: the dump could be written, the report not.
      {"access-violation", CrashRecord("LogFileName", "report?.xml"),
       "LogFileName or DumpFileName is empty or not a plain file name, no crash log written"},
      {"access-violation", CrashRecord("LogFileName", std::string(250, 'r')),
       "LogFileName or DumpFileName makes a path longer than MAX_PATH, no crash log written"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind + (" " + c.extra.substr(0, 40)));
    AppDataSandbox sandbox;
    sandbox.EnableLogging();
    if (c.blockedFolder) WriteFileBytes(sandbox.storageRoot() + L"\\" + c.blockedFolder, "not a folder");

    const FrontEndRun run = RunCrashingFrontEnd(UniqueCrashIdentifier(), c.kind, c.extra);
    ASSERT_TRUE(run.run.finished);
    EXPECT_EQ(0u, run.run.exitCode);
    ASSERT_TRUE(run.capture.has_value());
    EXPECT_EQ(c.blockedFolder ? Files{sandbox.storageRoot() + L"\\" + c.blockedFolder} : Files{},
              Stored(sandbox));
    const std::string line =
        c.lastLine +
        (c.lastLine == "Thread not active with ID " ? std::to_string(run.capture->threadId) : "");
    const std::wstring generatorLog = sandbox.logFolder() + L"\\KXLogGeneratorlog.txt";
    const std::string log =
        Read(c.generatorRuns ? generatorLog : sandbox.logFolder() + L"\\DumpRequestProcessor.txt");
    EXPECT_TRUE(EndsWith(log, "\r\n" + line + "\r\n")) << log;
    EXPECT_EQ(c.generatorRuns, IsFile(generatorLog));
  }
}

TEST(CreatedumpEndToEndTest, WithoutAServedPipeTheRunEndsAtOnce) {
  AppDataSandbox sandbox;
  sandbox.EnableLogging();
  ASSERT_TRUE(RunService({ThisProgramFolder(), L"createdump", WideId(UniqueCrashIdentifier())}).finished);
  EXPECT_EQ(Files{}, Stored(sandbox));
  EXPECT_EQ(
      "Inside initializer function of DumpRequestProcessor\r\nGoing to connect to the named pipe\r\n"
      "Could not connect to the pipe. Handle retured is NULL\r\n",
      Read(sandbox.logFolder() + L"\\DumpRequestProcessor.txt"));
  EXPECT_FALSE(IsFile(sandbox.logFolder() + L"\\KXLogGeneratorlog.txt"));
}

}  // namespace
}  // namespace kx::test
