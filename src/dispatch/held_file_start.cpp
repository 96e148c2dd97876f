#include "dispatch/held_file_start.h"

#include "common/own_file.h"
#include "common/win_handles.h"
#include "dispatch/transport_command.h"

namespace kx {
namespace {

// The longest path the platform hands out.
constexpr DWORD kLongestPath = 32768;

struct FileIdentity {
  DWORD volume = 0, indexHigh = 0, indexLow = 0;
  bool operator==(const FileIdentity& other) const {
    return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
  }
};

std::optional<FileIdentity> IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
  return FileIdentity{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

std::optional<std::wstring> ImagePathOf(HANDLE process) {
  std::wstring path(kLongestPath, L'\0');
  DWORD length = kLongestPath;
  if (!::QueryFullProcessImageNameW(process, 0, path.data(), &length)) return std::nullopt;
  path.resize(length);
  return path;
}

// Whether the image of the (suspended) process is the file `held` refers to, compared by volume and file
// index, not by name: a name may have come to mean another file since the start.
bool RunsHeldFile(HANDLE process, HANDLE held, std::wstring& image) {
  const std::optional<std::wstring> path = ImagePathOf(process);
  if (!path) return false;
  image = *path;
  const UniqueFileHandle opened(::CreateFileW(WithLongPathPrefix(*path).c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!opened) return false;
  const std::optional<FileIdentity> started = IdentityOf(opened.get());
  const std::optional<FileIdentity> checked = IdentityOf(held);
  return started && checked && *started == *checked;
}

}  // namespace

std::optional<std::wstring> FinalPathOf(HANDLE file) {
  std::wstring path = FinalPathNameOf(file, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (path.empty()) return std::nullopt;
  return path;
}

HeldStart StartHeldProgram(HANDLE held, const std::wstring& path, std::wstring commandLine) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info = {};
  // Suspended: nothing of the program runs before its image is known to be the checked file. No search:
  // the full path names the program.
  if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    return {HeldStart::Outcome::kNotStarted, ::GetLastError(), {}};
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  HeldStart start;
  if (!RunsHeldFile(process.get(), held, start.image)) {
    ::TerminateProcess(process.get(), 1);
    start.outcome = HeldStart::Outcome::kOtherFile;
    return start;
  }
  if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
    start.error = ::GetLastError();
    ::TerminateProcess(process.get(), 1);
    return start;
  }
  start.outcome = HeldStart::Outcome::kStarted;
  return start;
}

}  // namespace kx
