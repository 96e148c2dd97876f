// Where one report's two files are, found by testing which name exists, and reading a report document whole.
// A report is identified by the installation GUID and the crash identifier (see report_names.h). Nothing is
// kept between calls: every operation asks the storage folders and the file system afresh.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dispatch/report_names.h"

namespace kx {

class ReportFileSet {
 public:
  // The results of the locating operations:
  //   a full path    folder + "\" + file name;
  //   empty          the folder is unavailable (nothing was tested);
  //   nothing        the existence test failed for a reason other than absence (access denied, a name the
  //                  system cannot resolve): the state of the report is unknown, so the caller stops and
  //                  leaves every file of the report as it is.

  // report stem + ".solurl" when an entry of that name exists (a folder counts), otherwise report stem +
  // ".solurl.dmpattached", which is also the answer when neither exists.
  static std::optional<std::wstring> GetCrashLogFilePath(const std::wstring& guid,
                                                         const std::wstring& crashIdentifier);
  // report stem + ".final", without any test.
  static std::wstring GetFinalCrashLogFilePath(const std::wstring& guid, const std::wstring& crashIdentifier);
  // dump stem + ".dmp" when an entry of that name exists, otherwise dump stem + ".dmp.full".
  static std::optional<std::wstring> GetDumpFilePath(const std::wstring& guid, const std::wstring& crashIdentifier);
  // GetDumpFilePath + ".final"; empty and nothing as there.
  static std::optional<std::wstring> GetFinalDumpFilePath(const std::wstring& guid,
                                                          const std::wstring& crashIdentifier);

  struct Attachment {
    std::wstring path;
    AttachmentFileState state;
  };
  // The report's attachment files in the crash log folder, in every state; none when the folder is
  // unavailable.
  static std::vector<Attachment> ListAttachments(const std::wstring& guid,
                                                 const std::wstring& crashIdentifier);

  // The file's text as a text-mode read gives it (CR LF as LF, one character per byte); empty when the file
  // cannot be opened. Other writers and readers keep their access while it is read.
  static std::wstring ReadFileContents(const std::wstring& path);
};

}  // namespace kx
