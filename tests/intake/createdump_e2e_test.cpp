// "createdump" end to end: a real crash in crashing_front_end, which serves the crash's pipe and runs the
// real service on itself, must leave in the storage folders a report that tells exactly that crash and a
// minidump that dbghelp reads back; or, when the crash data cannot be used, no files at all and the reason
// in the diagnostic log.
//
// Every report that should be whole is also copied to <build>/test-output/createdump, with the code page it
// was written in, for tools/check-crash-reports: a real XML parser validates it there against
// docs/OrvanKestrix.dtd and reads the hostile values back.
#include <windows.h>

#include <dbghelp.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "prefs/preference_store.h"
#include "support/appdata_sandbox.h"
#include "support/crash_capture.h"
#include "support/front_end_run.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/test_pipe_server.h"

namespace kx::test {
namespace {

constexpr wchar_t kPreferencesKey[] = L"Software\\Orvan\\CommonFiles\\KXLog\\ProductPreferences";
// The front end's own ProductName, ProductVersion and ProductBuild.
constexpr char kProduct[] = "Crashing Front End";
constexpr char kVersion[] = "1.0";
constexpr char kBuild[] = "100";

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::string Hex16(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%016llX", static_cast<unsigned long long>(value));
  return text;
}

std::filesystem::path ReportsFolder() {
  return std::filesystem::path(ThisProgramFolder()).parent_path() / "test-output" / "createdump";
}

// Starts every run of this program with an empty reports folder that names the code page of what follows.
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

// Keeps a report for the XML check; `values` are XPath expressions with the text a parser must read there.
void KeepReportForXmlCheck(const std::string& name, const std::string& report,
                           const std::vector<std::pair<std::string, std::string>>& values = {}) {
  WriteFileBytes((ReportsFolder() / (name + ".xml")).wstring(), report);
  if (values.empty()) return;
  const std::filesystem::path folder = ReportsFolder() / (name + ".values");
  std::filesystem::create_directories(folder);
  for (size_t i = 0; i < values.size(); ++i) {
    WriteFileBytes((folder / (std::to_string(i) + ".xpath")).wstring(), values[i].first + "\n");
    WriteFileBytes((folder / (std::to_string(i) + ".value")).wstring(), values[i].second);
  }
}

// Removes the dump preference a test wrote, or that the service stored for the test's product build.
class PreferenceCleanup {
 public:
  explicit PreferenceCleanup(std::string pvbKey) : pvbKey_(std::move(pvbKey)) {}
  ~PreferenceCleanup() { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kPreferencesKey, Widen(pvbKey_).c_str()); }
  PreferenceCleanup(const PreferenceCleanup&) = delete;
  PreferenceCleanup& operator=(const PreferenceCleanup&) = delete;

 private:
  std::string pvbKey_;
};

std::string PvbKeyOf(const std::string& product, const std::string& version, const std::string& build) {
  std::string key = product + ";" + version + ";" + build;
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

// Where one crash's files go, by the names the front end sends.
struct CrashFiles {
  explicit CrashFiles(const AppDataSandbox& sandbox, const std::string& crashIdentifier) {
    const std::wstring guid = PreferenceStore::getInstallationGuid();
    const std::wstring id = Widen(crashIdentifier);
    logFileName = L"kxWinLog_" + guid + L"_" + id + L"_abc.xml";
    report = sandbox.storageRoot() + L"\\crashlogs\\" + logFileName + L".solurl";
    dumpStem = sandbox.storageRoot() + L"\\dumps\\kxWinDump_" + guid + L"_" + id + L"_abc";
    generatorLog = sandbox.logFolder() + L"\\KXLogGeneratorlog.txt";
    requestLog = sandbox.logFolder() + L"\\DumpRequestProcessor.txt";
  }
  std::wstring logFileName;
  std::wstring report;
  std::wstring dumpStem;
  std::wstring generatorLog;
  std::wstring requestLog;
};

// Files below the storage root, apart from the diagnostic logs and the given ones.
std::vector<std::wstring> StoredFiles(const AppDataSandbox& sandbox,
                                      const std::vector<std::wstring>& apart = {}) {
  std::vector<std::wstring> files;
  for (const std::wstring& entry : ListTree(sandbox.storageRoot())) {
    if (entry.rfind(L"windowsclient\\", 0) == 0 || !IsFile(sandbox.storageRoot() + L"\\" + entry)) continue;
    bool excepted = false;
    for (const std::wstring& path : apart)
      excepted = excepted || sandbox.storageRoot() + L"\\" + entry == path;
    if (!excepted) files.push_back(entry);
  }
  return files;
}

std::string FilesText(const std::vector<std::wstring>& files) {
  std::string text;
  for (const std::wstring& file : files) text += Narrow(file) + "\n";
  return text;
}

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

size_t Count(const std::string& text, const std::string& piece) {
  size_t count = 0;
  for (size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) ++count;
  return count;
}

const char* ExceptionName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
      return "EXCEPTION_ACCESS_VIOLATION";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return "EXCEPTION_INT_DIVIDE_BY_ZERO";
    case EXCEPTION_BREAKPOINT:
      return "EXCEPTION_BREAKPOINT";
    default:
      return "?";
  }
}

// The report of a crash, checked line by line against what the crashed program captured. The report's
// lines end with CR LF: it is written in text mode.
void ExpectReportTellsTheCrash(const std::string& report, const CrashCapture& capture,
                               const std::string& kind, const std::string& build, const char* dumpType) {
  const CONTEXT context = CapturedContext(capture);
  const EXCEPTION_RECORD exception = CapturedExceptionRecord(capture);
  const std::string guid = Narrow(PreferenceStore::getInstallationGuid());

  EXPECT_EQ(0u, report.rfind(
                    "<?xml version=\"1.0\"?>\r\n<!DOCTYPE OrvanCrashReport SYSTEM \"OrvanKestrix.dtd\">\r\n"
                    "<crashreport ",
                    0));
  // One crash, one document: an earlier file of the same name is replaced, not extended.
  EXPECT_EQ(1u, Count(report, "<crashreport "));
  EXPECT_TRUE(EndsWith(report, "\r\n</crashreport>"));
  EXPECT_NE(std::string::npos,
            report.find(" applicationName=\"Crashing Front End\" applicationVersion=\"1.0\" build=\"" +
                        build + "\" source=\"crashing_front_end\" crashType=\"" + kind + "\">\r\n"));
  EXPECT_NE(std::string::npos, report.find("\r\n<user guid=\"" + guid + "\"/>\r\n"));

  char crashTag[256];
  std::snprintf(crashTag, sizeof(crashTag),
                "\r\n<crash exception=\"%s\" exceptionCode=\"0x%lx\" instruction=\"%s\">\r\n",
                ExceptionName(exception.ExceptionCode), static_cast<unsigned long>(exception.ExceptionCode),
                Hex16(reinterpret_cast<std::uintptr_t>(exception.ExceptionAddress)).c_str());
  EXPECT_NE(std::string::npos, report.find(crashTag)) << crashTag;

  EXPECT_NE(std::string::npos,
            report.find("<backtrace crashedThread=\"0\">\r\n<thread index=\"0\">\r\n"
                        "0 crashing_front_end.exe " +
                        Hex16(context.Rip) +
                        "\r\n1 kernel32.dll BaseThreadInitThunk\r\n"
                        "2 ntdll.dll RtlUserThreadStart\r\n</thread>\r\n</backtrace>\r\n"));

  const std::pair<const char*, std::uint64_t> registers[] = {
      {"RAX", context.Rax},
      {"RBX", context.Rbx},
      {"RCX", context.Rcx},
      {"RDX", context.Rdx},
      {"RSI", context.Rsi},
      {"RDI", context.Rdi},
      {"RSP", context.Rsp},
      {"RBP", context.Rbp},
      {"RIP", context.Rip},
      {"EFL", context.EFlags},
      {"LastExceptionToRip", context.LastExceptionToRip},
      {"LastExceptionFromRip", context.LastExceptionFromRip}};
  std::string registerSet = "\r\n<registerSet>\r\n";
  for (const auto& [name, value] : registers) {
    registerSet += "<register name=\"" + std::string(name) + "\" value=\"" + Hex16(value) + "\"/>\r\n";
  }
  registerSet += "</registerSet>\r\n\r\n<binaryImageSet>\r\n";
  EXPECT_NE(std::string::npos, report.find(registerSet)) << registerSet;

  // The crashing program among the modules, with its real range; its path is its file name, possibly after
  // a product word found in its folder's path.
  const std::string image = "\r\n<binaryImage start=\"" + Hex16(capture.imageBase) + "\" end=\"" +
                            Hex16(capture.imageBase + capture.imageSize) + "\" path=\"";
  const size_t imageLine = report.find(image);
  ASSERT_NE(std::string::npos, imageLine) << image;
  const size_t pathEnd = report.find("\"/>\r\n", imageLine + image.size());
  ASSERT_NE(std::string::npos, pathEnd);
  EXPECT_TRUE(EndsWith(report.substr(0, pathEnd), "crashing_front_end.exe"))
      << report.substr(imageLine, pathEnd - imageLine);

  EXPECT_NE(std::string::npos, report.find("</binaryImageSet>\r\n<dumpType>\r\n" + std::string(dumpType) +
                                           "\r\n</dumpType>\r\n<slLogSessionDllStatus>\r\nloaded\r\n"));
}

// The minidump, read back with dbghelp: the exception stream names the crashed thread, the exception and the
// registers the crashed program captured, and the module list holds the crashing program.
void ExpectDumpTellsTheCrash(const std::wstring& path, const CrashCapture& capture) {
  std::optional<std::string> dump = ReadFileBytes(path);
  ASSERT_TRUE(dump.has_value()) << Narrow(path);
  void* base = dump->data();

  void* stream = nullptr;
  ULONG size = 0;
  ASSERT_TRUE(::MiniDumpReadDumpStream(base, ExceptionStream, nullptr, &stream, &size))
      << "no exception stream";
  const auto* exception = static_cast<const MINIDUMP_EXCEPTION_STREAM*>(stream);
  const EXCEPTION_RECORD captured = CapturedExceptionRecord(capture);
  EXPECT_EQ(capture.threadId, exception->ThreadId);
  EXPECT_EQ(captured.ExceptionCode, exception->ExceptionRecord.ExceptionCode);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(captured.ExceptionAddress),
            exception->ExceptionRecord.ExceptionAddress);
  ASSERT_LE(exception->ThreadContext.Rva + sizeof(CONTEXT), dump->size());
  CONTEXT context;
  std::memcpy(&context, dump->data() + exception->ThreadContext.Rva, sizeof(context));
  EXPECT_EQ(CapturedContext(capture).Rip, context.Rip);
  EXPECT_EQ(CapturedContext(capture).Rsp, context.Rsp);

  ASSERT_TRUE(::MiniDumpReadDumpStream(base, ModuleListStream, nullptr, &stream, &size)) << "no module list";
  const auto* modules = static_cast<const MINIDUMP_MODULE_LIST*>(stream);
  bool found = false;
  for (ULONG32 i = 0; i < modules->NumberOfModules && !found; ++i) {
    const MINIDUMP_MODULE& module = modules->Modules[i];
    if (module.BaseOfImage != capture.imageBase) continue;
    found = true;
    EXPECT_EQ(capture.imageSize, module.SizeOfImage);
    const auto* name = reinterpret_cast<const MINIDUMP_STRING*>(dump->data() + module.ModuleNameRva);
    const std::wstring moduleName(name->Buffer, name->Length / sizeof(wchar_t));
    EXPECT_TRUE(EndsWith(Narrow(moduleName), "crashing_front_end.exe")) << Narrow(moduleName);
  }
  EXPECT_TRUE(found) << "no module at " << Hex16(capture.imageBase);
}

TEST(CreatedumpEndToEndTest, RealCrashesLeaveAReportAndADumpOfThatCrash) {
  struct Case {
    const char* kind;
    DWORD code;
    const char* preference;  // written for the product build first; nullptr: none stored yet
    const wchar_t* dumpSuffix;
    const wchar_t* otherSuffix;
    const char* dumpType;
  };
  const Case cases[] = {
      {"access-violation", EXCEPTION_ACCESS_VIOLATION, nullptr, L".dmp", L".dmp.full", "Mini"},
      {"divide-by-zero", EXCEPTION_INT_DIVIDE_BY_ZERO, "1_1_100", L".dmp.full", L".dmp", "Full"},
      {"breakpoint", EXCEPTION_BREAKPOINT, "0_1_100", L".dmp", L".dmp.full", "Mini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    AppDataSandbox sandbox;
    sandbox.EnableLogging();
    const std::string id = UniqueCrashIdentifier();
    // Upper-case letters in the build: the preference is looked up lower-cased.
    const std::string build = "Build-" + id;
    const std::string pvbKey = PvbKeyOf(kProduct, kVersion, build);
    const PreferenceCleanup cleanup(pvbKey);
    if (c.preference != nullptr) PreferenceStore::writeAllPreferences({{pvbKey, c.preference}});
    const CrashFiles files(sandbox, id);
    // Files of an earlier crash with the same names, which this crash replaces.
    std::filesystem::create_directories(sandbox.storageRoot() + L"\\crashlogs");
    std::filesystem::create_directories(sandbox.storageRoot() + L"\\dumps");
    WriteFileBytes(files.report,
                   "<?xml version=\"1.0\"?>\r\n<!DOCTYPE OrvanCrashReport SYSTEM \"OrvanKestrix.dtd\">\r\n"
                   "<crashreport serviceVersion=\"earlier\">\r\n</crashreport>");
    WriteFileBytes(files.dumpStem + c.dumpSuffix, "earlier dump");

    const FrontEndRun run = RunCrashingFrontEnd(id, c.kind, CrashRecord("ProductBuild", build));
    ASSERT_TRUE(run.run.finished);
    EXPECT_EQ(0u, run.run.exitCode);
    ASSERT_TRUE(run.capture.has_value());
    ASSERT_EQ(c.code, CapturedExceptionRecord(*run.capture).ExceptionCode);

    const std::optional<std::string> report = ReadFileBytes(files.report);
    ASSERT_TRUE(report.has_value()) << "no report; stored:\n" << FilesText(StoredFiles(sandbox));
    ExpectReportTellsTheCrash(*report, *run.capture, c.kind, build, c.dumpType);
    ExpectDumpTellsTheCrash(files.dumpStem + c.dumpSuffix, *run.capture);
    EXPECT_FALSE(IsFile(files.dumpStem + c.otherSuffix));
    EXPECT_EQ(2u, StoredFiles(sandbox).size()) << FilesText(StoredFiles(sandbox));
    EXPECT_TRUE(EndsWith(ReadFileBytes(files.generatorLog).value_or(""), "\r\nlog generated\r\n"));
    if (c.preference == nullptr) {
      // A build without a preference gets the default stored for it.
      EXPECT_EQ("0_1_100", PreferenceStore::readAllPreferences()[pvbKey]);
    }
    KeepReportForXmlCheck(c.kind, *report);
  }
}

TEST(CreatedumpEndToEndTest, HostileCrashDataStaysDataInAWellFormedReport) {
  AppDataSandbox sandbox;
  const std::string id = UniqueCrashIdentifier();
  // A byte above 0x7F only where the code page is known; the check converts from it.
  const std::string accented = ::GetACP() == 1252 ? "caf\xE9" : "cafe";
  const std::string product = "A&B <Editor> \"x\"";
  const std::string version = "1.0\"/><evil a='1'>&amp;&#38;</crashreport>";
  const std::string build = "b\x01<1>\x1F\x7F" + id;
  const PreferenceCleanup cleanup(PvbKeyOf(product, version, build));
  const std::vector<std::pair<std::string, std::string>> fields = {
      {"ProductName", product},
      {"ProductVersion", version},
      {"ProductBuild", build},
      {"KXSource", "tab\there\nline feed\rreturn \\ back"},
      {"SignalType", "<![CDATA[ ]]> & \"quoted\" 'single'"},
      {"LocaleString", "en-US\"><system/>"},
      {"StackTrace",
       "frame <1> & \"2\"\r\n</thread></backtrace></crashreport>\n\tframe \x02 " + accented + "\n"},
      {"SLLogSessionDllStatus", "<slLogSessionDllStatus>&lt;"},
      {"StarlumeSessionId", "]]><!-- -->"},
      {"SolvaneConfigGuid", "{&}"},
      {"ZanUserGuid", "'</zanUserGuid>'\x0B"},
  };
  std::string extra;
  for (const auto& [key, value] : fields) extra += CrashRecord(key, value);
  const CrashFiles files(sandbox, id);

  const FrontEndRun run = RunCrashingFrontEnd(id, "access-violation", extra);
  ASSERT_TRUE(run.run.finished);
  EXPECT_EQ(0u, run.run.exitCode);
  const std::optional<std::string> report = ReadFileBytes(files.report);
  ASSERT_TRUE(report.has_value()) << "no report; stored:\n" << FilesText(StoredFiles(sandbox));
  // Values cannot close elements early: the document ends where it should, once.
  EXPECT_EQ(1u, Count(*report, "</crashreport>"));
  EXPECT_TRUE(EndsWith(*report, "\r\n</crashreport>"));
  ASSERT_TRUE(run.capture.has_value());
  ExpectDumpTellsTheCrash(files.dumpStem + L".dmp", *run.capture);

  // What a parser must read back: every value as sent, except the control characters XML 1.0 cannot carry
  // at all, which stand as "?". Element texts stand on their own lines (the thread's starts on one).
  const auto asXml = [](std::string value) {
    for (char& c : value) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
    }
    return value;
  };
  const auto field = [&fields](const std::string& key) {
    for (const auto& [name, value] : fields) {
      if (name == key) return value;
    }
    return std::string();
  };
  KeepReportForXmlCheck(
      "hostile-values", *report,
      {{"/crashreport/@applicationName", asXml(product)},
       {"/crashreport/@applicationVersion", asXml(version)},
       {"/crashreport/@build", asXml(build)},
       {"/crashreport/@source", asXml(field("KXSource"))},
       {"/crashreport/@crashType", asXml(field("SignalType"))},
       {"/crashreport/system/@applicationlanguage", asXml(field("LocaleString"))},
       {"/crashreport/crash/backtrace/thread", "\n" + asXml(field("StackTrace"))},
       {"/crashreport/crash/slLogSessionDllStatus", "\n" + asXml(field("SLLogSessionDllStatus")) + "\n"},
       {"/crashreport/sessionId", "\n" + asXml(field("StarlumeSessionId")) + "\n"},
       {"/crashreport/solvaneConfigGuid", "\n" + asXml(field("SolvaneConfigGuid")) + "\n"},
       {"/crashreport/zanUserGuid", "\n" + asXml(field("ZanUserGuid")) + "\n"}});
}

TEST(CreatedumpEndToEndTest, ProcessOrThreadGoneOrNoCrashLogFolderLeavesNoFilesAndSaysWhy) {
  const EndedProcess ended;
  ASSERT_NE(0u, ended.id());
  struct Case {
    const char* what;
    const char* kind;
    std::string extra;
    bool blockCrashLogFolder;
  };
  const Case cases[] = {
      {"process gone", "access-violation", CrashRecord("ProcessId", std::to_string(ended.id())), false},
      {"thread gone", "thread-exits", "", false},
      {"crash log folder unavailable", "access-violation", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AppDataSandbox sandbox;
    sandbox.EnableLogging();
    // A file where the crash log folder belongs: the storage root and the log work, the crash log folder
    // cannot. A report cannot be written there, so nothing may be written, not even an orphan dump.
    const std::wstring blocker = sandbox.storageRoot() + L"\\crashlogs";
    if (c.blockCrashLogFolder) WriteFileBytes(blocker, "a file where the crash log folder belongs");
    const std::string id = UniqueCrashIdentifier();
    const CrashFiles files(sandbox, id);

    const FrontEndRun run = RunCrashingFrontEnd(id, c.kind, c.extra);
    ASSERT_TRUE(run.run.finished);
    EXPECT_EQ(0u, run.run.exitCode);
    ASSERT_TRUE(run.capture.has_value());
    EXPECT_EQ(std::vector<std::wstring>(), StoredFiles(sandbox, {blocker}));

    std::string line = "Unable to find log directory";
    if (std::string(c.what) == "process gone")
      line = "Process not active with ID " + std::to_string(ended.id());
    if (std::string(c.what) == "thread gone")
      line = "Thread not active with ID " + std::to_string(run.capture->threadId);
    const std::string log = ReadFileBytes(files.generatorLog).value_or("<no log>");
    EXPECT_TRUE(EndsWith(log, "\r\n" + line + "\r\n")) << log;
  }
}

TEST(CreatedumpEndToEndTest, UnusableIdsOrFileNamesMakeNoFiles) {
  // The front end's own product build, whose default preference the service may store.
  const PreferenceCleanup cleanup(PvbKeyOf(kProduct, kVersion, kBuild));
  struct Case {
    const char* key;
    std::string value;
    bool generatorRuns;  // false: the ids are unusable and no report is even attempted
  };
  const Case cases[] = {
      {"ProcessId", "none", false},
      {"ThreadId", "", false},
      {"ProcessId", "2147483648", false},
      {"LogFileName", "", true},
      {"LogFileName", "..\\escaped.xml", true},
      {"LogFileName", "C:report.xml", true},
      {"LogFileName", "report\x01.xml", true},
      {"DumpFileName", "", true},
      {"DumpFileName", "sub/dump", true},
      {"DumpFileName", "dump\x1F", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " \"" + c.value + "\"");
    AppDataSandbox sandbox;
    sandbox.EnableLogging();
    const std::string id = UniqueCrashIdentifier();
    const CrashFiles files(sandbox, id);

    const FrontEndRun run = RunCrashingFrontEnd(id, "access-violation", CrashRecord(c.key, c.value));
    ASSERT_TRUE(run.run.finished);
    EXPECT_EQ(0u, run.run.exitCode);
    EXPECT_EQ(std::vector<std::wstring>(), StoredFiles(sandbox));
    const std::string requestLog = ReadFileBytes(files.requestLog).value_or("<no log>");
    EXPECT_EQ(c.generatorRuns, requestLog.find("Came back from GenerateCrashLog") != std::string::npos)
        << requestLog;
    const std::optional<std::string> generatorLog = ReadFileBytes(files.generatorLog);
    EXPECT_EQ(c.generatorRuns, generatorLog.has_value());
    if (generatorLog) {
      EXPECT_EQ(std::string::npos, generatorLog->find("log generated")) << *generatorLog;
    }
  }
}

}  // namespace
}  // namespace kx::test
