// The files a crashed application asked to attach to its report, copied beside the report by createdump:
// the service is the healthy process, the crashed one only names them.
#pragma once

#include <string>
#include <vector>

#include "report/crash_report_writer.h"

namespace kx {

// Copies each file of `utf8Paths` (full paths, UTF-8), in order, to `folder` under the attachment name of
// `reportStem` (report_names.h), at most kMaxAttachmentBytes of it. Only regular files are copied, opened
// shared with every other reader and writer; a symbolic link, a junction or any reparse point, and a file
// with more than one name, are not ("linked"): they lead to a file the application did not name. Each copy
// is written under its name + ".writing" and renamed when whole, replacing a copy of that name. Files beyond kMaxAttachments are not opened ("skipped"). One outcome
// per path; a file that cannot be read is an outcome, never a failure.
std::vector<AttachmentOutcome> CopyAttachments(const std::vector<std::string>& utf8Paths,
                                               const std::wstring& folder, const std::wstring& reportStem);

// Removes the copies CopyAttachments made (when their report could not be written).
void RemoveAttachmentCopies(const std::vector<AttachmentOutcome>& outcomes, const std::wstring& folder);

}  // namespace kx
