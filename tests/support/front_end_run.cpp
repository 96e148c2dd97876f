#include "support/front_end_run.h"

#include "support/test_files.h"

namespace kx::test {
namespace {

std::wstring FrontEndPath() { return ThisProgramFolder() + L"\\crashing_front_end.exe"; }

std::wstring TempFile(const std::string& crashIdentifier, const wchar_t* suffix) {
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  return std::wstring(temp) + L"kx-front-end-" +
         std::wstring(crashIdentifier.begin(), crashIdentifier.end()) + suffix;
}

}  // namespace

std::string CrashRecord(const std::string& key, const std::string& value) {
  return key + "KX---KX" + value + "KX------KX";
}

FrontEndRun RunCrashingFrontEnd(const std::string& crashIdentifier, const std::string& kind,
                                const std::string& extraRecords, const std::wstring& servicePath) {
  const std::wstring extraPath = TempFile(crashIdentifier, L".records");
  const std::wstring capturePath = TempFile(crashIdentifier, L".capture");
  ::DeleteFileW(capturePath.c_str());
  if (!extraRecords.empty()) WriteFileBytes(extraPath, extraRecords);

  std::wstring arguments = QuoteWord(std::wstring(crashIdentifier.begin(), crashIdentifier.end())) + L" " +
                           QuoteWord(std::wstring(kind.begin(), kind.end())) + L" " +
                           (extraRecords.empty() ? std::wstring(L"-") : QuoteWord(extraPath)) + L" " +
                           QuoteWord(capturePath);
  if (!servicePath.empty()) arguments += L" " + QuoteWord(servicePath);
  // Longer than the front end's own limits (the service's run and the pipe's grace), so that it reports
  // trouble itself rather than being cut off.
  FrontEndRun result;
  result.run = RunProgram(FrontEndPath(), arguments, 180000);
  result.capture = ReadCrashCapture(capturePath);
  ::DeleteFileW(extraPath.c_str());
  ::DeleteFileW(capturePath.c_str());
  return result;
}

EndedProcess::EndedProcess() {
  // Without arguments the front end refuses its command line and ends at once; its complaint goes nowhere.
  std::wstring commandLine = QuoteWord(FrontEndPath());
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return;
  }
  process_.reset(process.hProcess);
  const UniqueHandle thread(process.hThread);
  if (::WaitForSingleObject(process_.get(), 30000) != WAIT_OBJECT_0) {
    ::TerminateProcess(process_.get(), 1);
    ::WaitForSingleObject(process_.get(), 10000);
  }
  id_ = process.dwProcessId;
}

}  // namespace kx::test
