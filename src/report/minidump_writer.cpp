#include <windows.h>
#include <dbghelp.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "common/win_handles.h"
#include "report/crash_files_writer.h"
#include "report/module_ids_win.h"
#include "report/module_list.h"
#include "report/module_list_callback.h"

namespace kx {
namespace {

// Thread, handle and data-segment information with filtered memory and module paths; the full set adds all
// memory and memory information.
constexpr MINIDUMP_TYPE kNormalDump = static_cast<MINIDUMP_TYPE>(0x1AD);
constexpr MINIDUMP_TYPE kFullDump = static_cast<MINIDUMP_TYPE>(0x219AF);

LogHandle AsLogHandle(HANDLE handle) { return LogHandle{reinterpret_cast<std::uintptr_t>(handle)}; }

// The binaryImage lines without a dump, from the process's own module list (its PE modules, as the dump's
// module stream has them).
bool ListModules(HANDLE process, std::wstring& collector) {
  std::vector<HMODULE> modules(512);
  DWORD needed = 0;
  if (!::EnumProcessModulesEx(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                              &needed, LIST_MODULES_ALL)) {
    return false;
  }
  modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
  for (const HMODULE module : modules) {
    MODULEINFO info = {};
    wchar_t path[MAX_PATH * 2] = L"";
    if (!::GetModuleInformation(process, module, &info, sizeof(info))) continue;
    const DWORD length = ::GetModuleFileNameExW(process, module, path, MAX_PATH * 2);
    const auto base = reinterpret_cast<std::uintptr_t>(info.lpBaseOfDll);
    collector += FormatBinaryImageLine(base, info.SizeOfImage,
                                       std::wstring_view(path, length < MAX_PATH * 2 ? length : 0),
                                       ReadModuleIds(process, base));
  }
  return true;
}

}  // namespace

DumpResult CrashFilesWriter::WriteDump(std::uint32_t processId, std::uint32_t threadId,
                                       const std::wstring& dumpPath, EXCEPTION_POINTERS* exceptionPointers,
                                       int dumpPreference, std::wstring& collector, bool keep) {
  if (!keep) {
    // No dump is kept: the module list is all that is wanted of it, and is had without one.
    const UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    const bool listed = process && ListModules(process.get(), collector);
    log_.Line(listed ? "NO DUMP KEPT, modules listed" : "NO DUMP KEPT, modules not listed");
    return DumpResult::kNotKept;
  }
  const UniqueFileHandle file(::CreateFileW(dumpPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD createError = ::GetLastError();
  log_.Line("File handle ", AsLogHandle(file.get()));
  if (!file) {
    log_.Line("CrashReport KXLogGenerator::CreateDumpLog - Unable to Create file handle. Error: ",
              LogNumber{createError});
    return DumpResult::kFileNotCreated;
  }

  log_.Line("DumpType ", LogInteger{dumpPreference});
  const bool full = dumpPreference == 1;
  log_.Line(full ? "FULL DUMP" : "MINI OR DEFAULT DUMP");

  const UniqueHandle process(
      ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | PROCESS_DUP_HANDLE, FALSE, processId));
  const DWORD openError = ::GetLastError();
  log_.Line("Process hProcess", AsLogHandle(process.get()));
  if (!process) {
    log_.Line("CrashReport KXLogGenerator::CreateDumpLog - Unable to get Process Handle. Error: ",
              LogNumber{openError});
    return DumpResult::kProcessNotOpened;
  }

  // The records the pointers lead to were rebuilt in this process, so they are not the client's pointers.
  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = threadId;
  exception.ExceptionPointers = exceptionPointers;
  exception.ClientPointers = FALSE;
  MINIDUMP_CALLBACK_INFORMATION callback = {};
  callback.CallbackRoutine = &ModuleListCallback;
  callback.CallbackParam = &collector;

  // Wine's writer loads every module of the crashed process into its symbol handler first, reading their
  // debug information unless loads are deferred; for an image whose CodeView record names no PDB (MinGW's
  // --build-id writes none) that read can corrupt its heap and take this process down at the writer's
  // cleanup, with the dump half written. A dump needs no debug information, so none is read. Windows' writer
  // does not go through the symbol handler; the option costs nothing there.
  ::SymSetOptions(::SymGetOptions() | SYMOPT_DEFERRED_LOADS | SYMOPT_FAIL_CRITICAL_ERRORS | SYMOPT_NO_PROMPTS);
  if (::MiniDumpWriteDump(process.get(), processId, file.get(), full ? kFullDump : kNormalDump,
                          exceptionPointers ? &exception : nullptr, nullptr, &callback)) {
    // Wine's writer leaves out the modules' CodeView records, which say which build crashed.
    if (!AddCodeViewRecords(file.get(), process.get())) log_.Line("CodeView records not added");
    log_.Line("Completed the dump generation");
    return DumpResult::kWritten;
  }
  log_.Line("Unable to generate dump correctly, error returned: ", LogNumber{::GetLastError()});
  return DumpResult::kWriteFailed;
}

}  // namespace kx
