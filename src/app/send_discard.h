// The "sendlog" and "dontsend" steps: finish a report and its dump for the log transport, or delete both.
// Both are silent: no diagnostic log, no result. When the state of the report's files cannot be told (an
// existence test fails for another reason than absence), neither step changes any file.
#pragma once

#include <string>

namespace kx {

// Closes the report document (with a dumpAttached element when the solution server wanted the dump) and
// moves it and the dump to their ".final" names. The closed document is written under a temporary name and
// moved into place, so a run that dies half way leaves the document as it was. Without a report document
// no report is written; the dump is finished all the same. With the report, its whole attachment copies
// are finished too (a ".writing" copy is not). A finished file is never replaced.
void SendReport(const std::string& crashIdentifier);

// Deletes the report document, the dump and the report's attachment copies (whole or partial); ".final"
// files are left alone.
void DiscardReport(const std::string& crashIdentifier);

}  // namespace kx
