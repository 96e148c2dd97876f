// The names of one crash's two report files. A report's state lives only in the suffixes of these names:
//
//   crash log folder: <report stem>.solurl              written by createdump, no dump decision yet
//                     <report stem>.solurl.dmpattached  the solution server wants the dump
//                     <report stem>.final               finished by sendlog for the log transport
//                     <report stem>.att<N>.<safe name>  a file attached to the report, copied by createdump
//                     ... .att<N>.<safe name>.final     finished by sendlog with its report
//   dump folder:      <dump stem>.dmp | .dmp.full       written by createdump (mini or full dump)
//                     <dump stem>.dmp(.full).final      finished by sendlog
//
// The stems are built from the installation GUID and the crash identifier, exactly as the front end builds
// the file names it sends with the crash data, so that the later commands find what createdump wrote.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// The stems begin with these; the transport tells a report from a dump by them.
inline constexpr wchar_t kReportStemStart[] = L"kxWinLog_";
inline constexpr wchar_t kDumpStemStart[] = L"kxWinDump_";
inline constexpr wchar_t kReportSuffix[] = L".solurl";
inline constexpr wchar_t kDumpAttachedReportSuffix[] = L".solurl.dmpattached";
inline constexpr wchar_t kMiniDumpSuffix[] = L".dmp";
inline constexpr wchar_t kFullDumpSuffix[] = L".dmp.full";
inline constexpr wchar_t kFinalSuffix[] = L".final";
// Temporary copies beside a report document: createdump writes the new document under its name + ".writing",
// sendlog the closed one under the original's name + ".closing"; each is renamed into place when whole.
inline constexpr wchar_t kWritingSuffix[] = L".writing";
inline constexpr wchar_t kClosingSuffix[] = L".closing";

// "kxWinLog_" + guid + "_" + crash identifier + "_abc.xml". Neither piece is checked or escaped here.
std::wstring ReportStem(std::wstring_view guid, std::wstring_view crashIdentifier);
// "kxWinDump_" + guid + "_" + crash identifier + "_abc".
std::wstring DumpStem(std::wstring_view guid, std::wstring_view crashIdentifier);

// Between a report stem and an attachment's number.
inline constexpr wchar_t kAttachmentInfix[] = L".att";

// The name of the copy of the report's attachment number `index` (1 to kMaxAttachments) of a file named
// `sourceName`: "<report stem>.att<index>.<safe name>", where the safe name is the source name with every
// character but an ASCII letter, digit, "_" or "-" made "_" (dots too, so no suffix of a state can appear),
// at most 32 characters and shortened further so that the whole name has at most `maxLength` characters;
// "file" when nothing is left of it. Empty when not even one character fits.
std::wstring AttachmentFileName(std::wstring_view reportStem, std::size_t index, std::wstring_view sourceName,
                                std::size_t maxLength);

enum class AttachmentFileState {
  kNone,     // not an attachment of that report
  kCopy,     // "<report stem>.att<N>.<safe name>": whole, not finished yet
  kWriting,  // the same + ".writing": being copied (or left by a createdump that was stopped)
  kFinal,    // the same + ".final": finished by sendlog
};
AttachmentFileState AttachmentStateOf(std::wstring_view reportStem, std::wstring_view fileName);

// For a finished attachment's name, the finished name of the report it belongs to
// ("kxWinLog_<...>.xml.final"); empty for any other name.
std::wstring ReportNameOfAttachment(std::wstring_view fileName);

// A file's bytes as a text-mode read hands them over: each CR LF pair becomes one LF, and each other byte one
// character of the same value. Unlike a text-mode read, a Ctrl-Z byte does not end the text.
std::wstring WidenTextModeBytes(std::string_view bytes);

}  // namespace kx
