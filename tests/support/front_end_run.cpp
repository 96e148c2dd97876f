#include "support/front_end_run.h"

#include "prefs/preference_store.h"
#include "support/test_files.h"

namespace kx::test {

std::string CrashRecord(const std::string& key, const std::string& value) {
  return key + "KX---KX" + value + "KX------KX";
}

FrontEndRun RunCrashingFrontEnd(const std::string& crashIdentifier, const std::string& kind,
                                const std::string& extraRecords) {
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring files = std::wstring(temp) + L"kx-front-end-" + WideId(crashIdentifier);
  const std::wstring extraPath = files + L".records", capturePath = files + L".capture";
  ::DeleteFileW(capturePath.c_str());
  if (!extraRecords.empty()) WriteFileBytes(extraPath, extraRecords);
  const std::wstring arguments = QuoteWord(WideId(crashIdentifier)) + L" " + WideId(kind) + L" " +
                                 (extraRecords.empty() ? L"-" : QuoteWord(extraPath)) + L" " +
                                 QuoteWord(capturePath);
  // Longer than the front end's own limits, so that it reports trouble itself rather than being cut off.
  FrontEndRun result{RunProgram(ThisProgramFolder() + L"\\crashing_front_end.exe", arguments, 570000),
                     ReadCrashCapture(capturePath)};
  ::DeleteFileW(extraPath.c_str());
  ::DeleteFileW(capturePath.c_str());
  return result;
}

ReportFiles::ReportFiles(const AppDataSandbox& sandbox, const std::string& crashIdentifier) {
  const std::wstring stem = PreferenceStore::GetInstallationGuid() + L"_" + WideId(crashIdentifier) + L"_abc";
  const std::wstring reportStem = sandbox.storageRoot() + L"\\crashlogs\\kxWinLog_" + stem + L".xml";
  report = reportStem + L".solurl";
  attached = report + L".dmpattached";
  finalReport = reportStem + L".final";
  dump = sandbox.storageRoot() + L"\\dumps\\kxWinDump_" + stem + L".dmp";
  fullDump = dump + L".full";
}

}  // namespace kx::test
