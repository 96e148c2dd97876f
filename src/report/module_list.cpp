#include "report/module_list.h"

#include "common/hex_text.h"
#include "report/xml_text.h"

namespace kx {
namespace {

constexpr const wchar_t* kModuleWords[] = {L"orvan", L"glint", L"tessaline", L"tumbleclatter"};

template <typename Char>
std::basic_string<Char> TextAfterLast(std::basic_string_view<Char> path,
                                      std::basic_string_view<Char> separator) {
  const std::size_t found = separator.empty() ? std::basic_string_view<Char>::npos : path.rfind(separator);
  if (found == std::basic_string_view<Char>::npos) return std::basic_string<Char>(path);
  return std::basic_string<Char>(path.substr(found + separator.size()));
}

std::wstring LowerAscii(std::wstring_view text) {
  std::wstring lower(text);
  for (wchar_t& c : lower) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return lower;
}

}  // namespace

std::string LastPathComponent(std::string_view path, std::string_view separator) {
  return TextAfterLast(path, separator);
}

std::wstring LastPathComponent(std::wstring_view path, std::wstring_view separator) {
  return TextAfterLast(path, separator);
}

std::wstring FilterModulePath(std::wstring_view fullPath) {
  // Searched in UTF-16, not in the ANSI code page: in double-byte code pages a trail byte can be 0x5C, the
  // backslash, and a byte-wise search would cut a character in two.
  const std::wstring fileName = LastPathComponent(fullPath, L"\\");
  const std::wstring lowerPath = LowerAscii(fullPath);
  for (const wchar_t* word : kModuleWords) {
    if (lowerPath.find(word) != std::wstring::npos) return std::wstring(word) + L'\\' + fileName;
  }
  return fileName;
}

std::wstring FormatBinaryImageLine(std::uint64_t baseOfImage, std::uint32_t sizeOfImage,
                                   std::wstring_view fullPath, const BinaryImageIds& ids) {
  std::wstring line = L"<binaryImage start=\"";
  AppendAddress(line, baseOfImage);
  line += L"\" end=\"";
  AppendAddress(line, baseOfImage + sizeOfImage);
  line += L'"';
  const auto append = [&line](const wchar_t* name, std::string_view value) {
    // The record's bytes as ASCII: a PDB name beyond it is shown with '?', as no reader needs it exact.
    std::wstring wide;
    for (const char c : value) wide.push_back(static_cast<unsigned char>(c) < 0x80 ? c : L'?');
    line += std::wstring(L" ") + name + L"=\"" + EscapeXmlAttribute(wide) + L'"';
  };
  // Before the path, which stays the line's last attribute as it was before the ids.
  if (ids.timeDateStamp) append(L"codeId", CodeIdText(*ids.timeDateStamp, sizeOfImage));
  if (ids.codeView) append(L"debugId", DebugIdText(*ids.codeView));
  if (ids.codeView && !FileNameOfPath(ids.codeView->pdbPath).empty()) {
    append(L"debugFile", FileNameOfPath(ids.codeView->pdbPath));
  }
  line += L" path=\"";
  line += EscapeXmlAttribute(FilterModulePath(fullPath));
  line += L"\"/>\n";
  return line;
}

}  // namespace kx
