// "createdump" end to end: a real crash in crashing_front_end, which serves the crash's pipe and runs the
// real service on itself, must leave a report and a minidump of exactly that crash, or no half of one and the
// reason in the diagnostic log. Reports are copied to <build>/test-output/createdump, where
// tools/check-crash-reports validates them against the DTD and reads back the values they must hold.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/base64.h"
#include "common/text_convert.h"
#include "common/win_handles.h"
#include "intake/crash_data_message.h"
#include "prefs/preference_store.h"
#include "prefs/pvb_key.h"
#include "report/crash_report_writer.h"
#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/waiting.h"

namespace kx::test {
namespace {

using Files = std::vector<std::wstring>;
using Values = std::vector<std::pair<std::string, std::string>>;  // XPath expression, text read there

std::string Hex(std::uint64_t value, int digits = 16) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string Read(const std::wstring& path) { return ReadFileBytes(path).value_or("<missing>"); }

// Files below the storage root, apart from the diagnostic logs.
Files Stored(const AppDataSandbox& sandbox) {
  Files files;
  for (const std::wstring& entry : ListTree(sandbox.storageRoot())) {
    const std::wstring path = sandbox.storageRoot() + L"\\" + entry;
    if (entry.rfind(L"windowsclient\\", 0) != 0 && IsFile(path)) files.push_back(path);
  }
  return files;
}

// Keeps a report for the XML check, with the values a parser must read there (an expression starting
// "reversible:": the bytes the reversible form gives back). The first one empties the folder, which names the
// code page of what follows.
void KeepReportForXmlCheck(const std::string& name, const std::string& report, Values values = {}) {
  const auto reports =
      std::filesystem::path(ThisProgramFolder()).parent_path() / "test-output" / "createdump";
  [[maybe_unused]] static const bool emptied = [&] {
    std::error_code ignored;
    std::filesystem::remove_all(reports, ignored);
    std::filesystem::create_directories(reports);
    WriteFileBytes((reports / "codepage.txt").wstring(), std::to_string(::GetACP()) + "\n");
    return true;
  }();
  WriteFileBytes((reports / (name + ".xml")).wstring(), report);
  const std::filesystem::path folder = reports / (name + ".values");
  if (!values.empty()) std::filesystem::create_directories(folder);
  for (size_t i = 0; i < values.size(); ++i) {
    const std::wstring stem = (folder / std::to_string(i)).wstring();
    if (values[i].first.rfind("reversible:", 0) == 0) {
      values[i].first.erase(0, 11);
      WriteFileBytes(stem + L".reversible", "");
    }
    WriteFileBytes(stem + L".xpath", values[i].first + "\n");
    WriteFileBytes(stem + L".value", values[i].second);
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

// What a parser must read in the report of a crash: the crash as the crashed program captured it.
Values ValuesOfTheCrash(const CrashCapture& capture, const char* exceptionName, const char* dumpType) {
  const CONTEXT& context = capture.context;
  const std::wstring guid = PreferenceStore::GetInstallationGuid();
  const auto address = reinterpret_cast<std::uintptr_t>(capture.exceptionRecord.ExceptionAddress);
  Values values = {
      {"/crashreport/user/@guid", std::string(guid.begin(), guid.end())},
      {"/crashreport/crash/@exception", exceptionName},
      {"/crashreport/crash/@instruction", Hex(address)},
      {"/crashreport/crash/dumpType", "\n" + std::string(dumpType) + "\n"},
      // The crashing program among the modules, with its real range.
      {"//binaryImage[@start='" + Hex(capture.imageBase) +
           "' and contains(@path, 'crashing_front_end.exe')]/@end",
       Hex(capture.imageBase + capture.imageSize)},
  };
  const std::pair<const char*, std::uint64_t> registers[] = {
      {"RAX", context.Rax}, {"RSP", context.Rsp}, {"RIP", context.Rip}, {"EFL", context.EFlags}};
  for (const auto& [name, value] : registers) {
    values.emplace_back("//registerSet/register[@name='" + std::string(name) + "']/@value", Hex(value));
  }
  return values;
}

// The minidump as kxdumpinfo reads it (the tool's parser is tested on hand-made dumps; here it reads what
// dbghelp wrote), in its JSON form.
std::string DumpJson(const AppDataSandbox& sandbox, const std::wstring& dump) {
  const std::wstring output = sandbox.roaming() + L"\\dumpinfo.json";
  const ServiceRun run = RunProgramToFile(ThisProgramFolder() + L"\\kxdumpinfo.exe",
                                          L"--json " + QuoteWord(dump), output, 60000);
  EXPECT_TRUE(run.finished && run.exitCode == 0) << Describe(run) << Read(output);
  return Read(output);
}

// The minidump names the kind of dump asked for; its exception stream the crashed thread, the exception and
// the captured registers; its modules the crashing program with its real range.
void ExpectDumpTellsTheCrash(const std::string& json, const CrashCapture& capture, std::uint64_t flags) {
  const EXCEPTION_RECORD& exception = capture.exceptionRecord;
  for (const std::string& piece : {
           "\"dump_type\": \"" + Hex(flags) + "\"",
           "\"thread_id\": " + std::to_string(capture.threadId) + ",\n    \"code\": \"" +
               Hex(exception.ExceptionCode, 8) + "\"",
           "\"address\": \"" + Hex(reinterpret_cast<std::uintptr_t>(exception.ExceptionAddress)) + "\"",
           "\"rsp\": \"" + Hex(capture.context.Rsp) + "\"",
           "\"rip\": \"" + Hex(capture.context.Rip) + "\"",
           "{\"base\": \"" + Hex(capture.imageBase) + "\", \"size\": " + std::to_string(capture.imageSize) +
               ", ",
       }) {
    EXPECT_TRUE(Contains(json, piece)) << piece << "\n---\n" << json;
  }
  const std::size_t module = json.find("{\"base\": \"" + Hex(capture.imageBase));
  EXPECT_TRUE(Contains(json.substr(module, json.find('\n', module) - module), "crashing_front_end.exe\"}"));
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
    if (c.preference != nullptr) PreferenceStore::WriteAllPreferences({{cleanup.pvbKey, c.preference}});
    const ReportFiles files(sandbox, id);
    const std::wstring dump = c.full ? files.fullDump : files.dump;
    // Files of an earlier crash with the same names, which this crash replaces.
    std::filesystem::create_directories(sandbox.storageRoot() + L"\\crashlogs");
    std::filesystem::create_directories(sandbox.storageRoot() + L"\\dumps");
    WriteFileBytes(files.report,
                   "<?xml version=\"1.0\"?>\r\n<crashreport serviceVersion=\"earlier\">\r\n</crashreport>");
    WriteFileBytes(dump, "earlier dump");

    const FrontEndRun run = RunCrashingFrontEnd(id, c.kind, CrashRecord("ProductBuild", build));
    ASSERT_TRUE(run.run.finished && run.run.exitCode == 0) << Describe(run.run);
    ASSERT_TRUE(run.capture.has_value());
    ASSERT_EQ(c.code, run.capture->exceptionRecord.ExceptionCode);

    ASSERT_EQ((Files{files.report, dump}), Stored(sandbox));
    const std::string report = Read(files.report);
    EXPECT_EQ(report.rfind("<crashreport "), report.find("<crashreport "));  // replaced, not extended
    KeepReportForXmlCheck(c.kind, report, ValuesOfTheCrash(*run.capture, c.exceptionName, c.dumpType));
    ExpectDumpTellsTheCrash(DumpJson(sandbox, dump), *run.capture, c.dumpFlags);
    // A build without a preference gets the default stored for it.
    if (c.preference == nullptr) {
      EXPECT_EQ("0_1_100", PreferenceStore::ReadAllPreferences()[cleanup.pvbKey]);
    }
  }
}

// A Linux symbolic link, removed by Linux before its sandbox goes: Wine's removal of a link whose target has
// gone first never ends.
struct LinuxLink {
  std::wstring path;
  ~LinuxLink() {
    StartLinuxProgram(L"Z:\\bin\\rm", L"-f " + QuoteWord(UnixPath(path)));
    WaitUntil("rm to remove the symbolic link", std::chrono::seconds(60), [&] {
      WIN32_FIND_DATAW found = {};
      return !UniqueFindHandle(::FindFirstFileW(path.c_str(), &found));
    });
  }
};

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
  Values readBack;
  for (const auto& [key, xpath, sent] : fields) {
    extra += CrashRecord(key, sent);
    // Every value comes back as sent, except control characters XML 1.0 cannot carry, which stand as "?".
    // Element texts stand on lines of their own; the thread's text ends with its own line end.
    std::string value =
        std::strncmp(key, "CppException", 12) == 0 ? sent.substr(0, kMaxCppExceptionText) : sent;
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
  // Attachments: copied, a name no file can have (as hostile as the rest), cut at its bound, not a file, a
  // symbolic link and a second name of a file the application did not name.
  const std::wstring small = sandbox.roaming() + L"\\app.log", big = sandbox.roaming() + L"\\big.bin";
  WriteFileBytes(small, "log\r\n");
  WriteFileBytes(big, std::string(5 << 20, 'b'));
  const std::wstring secret = sandbox.roaming() + L"\\secret.txt", linked = sandbox.roaming() + L"\\linked.log";
  WriteFileBytes(secret, "SECRET-TOKEN");
  ASSERT_TRUE(::CreateHardLinkW((sandbox.roaming() + L"\\hard.log").c_str(), secret.c_str(), nullptr));
  ASSERT_EQ("", StartLinuxProgram(L"Z:\\bin\\ln", L"-s " + QuoteWord(UnixPath(secret)) + L" " + QuoteWord(UnixPath(linked))));
  const LinuxLink link{linked};
  ASSERT_TRUE(WaitUntil("ln -s to make linked.log", std::chrono::seconds(60), [&] { return IsFile(linked); }));
  const std::string roaming = NarrowToCodePage(sandbox.roaming(), CP_UTF8);
  extra += CrashRecord("Attachments", EncodeAttachments({roaming + "\\app.log", roaming + "\\" + text,
                                                         roaming + "\\big.bin", roaming, roaming + "\\linked.log",
                                                         roaming + "\\hard.log"}));
  readBack.emplace_back("reversible:/crashreport/crash/attachments/attachment[2]/@name", text);
  const PreferenceCleanup cleanup{
      MakePvbKey(std::get<2>(fields[0]), std::get<2>(fields[1]), std::get<2>(fields[2]))};
  const ReportFiles files(sandbox, id);

  const FrontEndRun run = RunCrashingFrontEnd(id, "access-violation", extra);
  ASSERT_TRUE(run.run.finished && run.run.exitCode == 0) << Describe(run.run);
  const std::wstring copies = files.report.substr(0, files.report.size() - 7) + L".att";
  ASSERT_EQ((Files{copies + L"1.app_log", copies + L"3.big_bin", files.report, files.dump}), Stored(sandbox));
  EXPECT_EQ("log\r\n", Read(copies + L"1.app_log"));
  EXPECT_EQ(std::size_t{4} << 20, Read(copies + L"3.big_bin").size());
  const std::string report = Read(files.report);
  // Values cannot close elements early: the document ends where it should, once.
  EXPECT_EQ(report.size() - 14, report.find("</crashreport>"));
  const std::string stem = NarrowToCodePage(copies.substr(copies.rfind(L'\\') + 1), CP_UTF8);
  readBack.emplace_back(
      "concat(//attachment[1]/@state, ' ', //attachment[2]/@state, ' ', //attachment[3]/@state, ' ', "
      "//attachment[4]/@state, ' ', //attachment[5]/@state, ' ', //attachment[6]/@state)",
      "copied unreadable cut unreadable linked linked");
  readBack.emplace_back(
      "concat(//attachment[3]/@file, ' ', //attachment[3]/@size, ' ', "
      "//attachment[3]/@originalSize)",
      stem + "3.big_bin 4194304 5242880");
  KeepReportForXmlCheck("hostile-values", report, readBack);
  // The dump holds the forged exception with the parameters a record can hold.
  std::string parameters = "\"parameters\": [";
  for (int i = 0; i < EXCEPTION_MAXIMUM_PARAMETERS; ++i) parameters += (i ? ", \"" : "\"") + Hex(0) + "\"";
  const std::string json = DumpJson(sandbox, files.dump);
  EXPECT_TRUE(Contains(json, "\"code\": \"0xC0000005\"") && Contains(json, parameters + "]")) << json;
  // With logging off a run leaves no trace of its logs, not even their folder.
  EXPECT_FALSE(IsFolder(sandbox.logFolder()));
}

// Every outcome short of a whole crash, one row each: the files left (no half crash: a report without its
// dump, an orphan dump) and the last line of the log that says why. Which numbers and names are unusable,
// the unit tests tell.
TEST(CreatedumpEndToEndTest, UnusableCrashDataOrStorageLeavesNoHalfCrashAndSaysWhy) {
  const std::string ownThread = std::to_string(::GetCurrentThreadId());
  // The front end's own product build, whose default preference the service may store.
  const PreferenceCleanup cleanup{MakePvbKey("Crashing Front End", "1.0", "100")};
  struct Case {
    const char* kind;  // the front end's crash; nullptr: no front end serves the pipe
    std::string extra;
    std::string lastLine;  // of the generator's log; of the request's log when the generator must not run
    bool generatorRuns = true;
    const wchar_t* plainFile = nullptr;  // where this storage folder belongs
    bool dumpHeldOpen = false;           // by another process: the report is written, without modules
  };
  const Case cases[] = {
      // A running thread, but of another process (this test's).
      {"access-violation", CrashRecord("ThreadId", ownThread), "Thread not active with ID " + ownThread},
      {"access-violation", "", "Unable to find log directory", true, L"crashlogs"},
      {"access-violation", "", "Unable to find dump directory", true, L"dumps"},
      // A name no file can have, and one the path cannot hold: the dump could be written, the report not.
      {"access-violation", CrashRecord("LogFileName", "report?.xml"),
       "LogFileName or DumpFileName is empty or not a plain file name, no crash log written"},
      {"access-violation", CrashRecord("LogFileName", std::string(250, 'r')),
       "LogFileName or DumpFileName makes a path longer than MAX_PATH, no crash log written"},
      {"access-violation", "", "log generated", true, nullptr, true},
      {nullptr, "", "Could not connect to the pipe. Handle retured is NULL", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.kind ? c.kind : "no front end") + " " + c.extra.substr(0, 40) + c.lastLine);
    AppDataSandbox sandbox;
    sandbox.EnableLogging();
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files(sandbox, id);
    Files left;
    if (c.plainFile) {
      left = {sandbox.storageRoot() + L"\\" + c.plainFile};
      WriteFileBytes(left[0], "not a folder");
    }
    UniqueFileHandle held;
    if (c.dumpHeldOpen) {
      left = {files.report, files.dump};
      std::filesystem::create_directories(sandbox.storageRoot() + L"\\dumps");
      held.reset(::CreateFileW(files.dump.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      ASSERT_TRUE(held.valid()) << Win32ErrorText(::GetLastError());
    }

    FrontEndRun run;
    if (c.kind) run = RunCrashingFrontEnd(id, c.kind, c.extra);
    if (!c.kind) run.run = RunService({ThisProgramFolder(), L"createdump", WideId(id)});
    ASSERT_TRUE(run.run.finished && run.run.exitCode == 0) << Describe(run.run);
    ASSERT_EQ(c.kind != nullptr, run.capture.has_value());
    EXPECT_EQ(left, Stored(sandbox));
    const std::wstring generatorLog = sandbox.logFolder() + L"\\KXLogGeneratorlog.txt";
    const std::string log =
        Read(c.generatorRuns ? generatorLog : sandbox.logFolder() + L"\\DumpRequestProcessor.txt");
    EXPECT_TRUE(EndsWith(log, "\r\n" + c.lastLine + "\r\n")) << log;
    EXPECT_EQ(c.generatorRuns, IsFile(generatorLog));
    if (c.dumpHeldOpen) KeepReportForXmlCheck("dump-not-written", Read(files.report));
  }
}

}  // namespace
}  // namespace kx::test
