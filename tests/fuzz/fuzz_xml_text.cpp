// The report's escapers over any narrow or UTF-16 text: the escaped text parses back to the input (with
// the characters XML forbids as "?"), never holds markup, survives the cut to a length limit and the
// conversion to ASCII with its references intact. The module and GPU values, machine text, go the same way.
#include <algorithm>

#include "fuzz_support.h"
#include "intake/crash_data_message.h"
#include "report/crash_report_writer.h"
#include "report/gpu_info.h"
#include "report/module_list.h"
#include "report/xml_text.h"

namespace {

using Codes = std::vector<std::uint32_t>;

template <typename Char>
Codes Expected(std::basic_string_view<Char> text) {
  Codes codes;
  for (const Char c : text) {
    const std::uint32_t code = static_cast<std::uint32_t>(c) & (sizeof(Char) == 1 ? 0xFFu : 0xFFFFu);
    const bool allowed = code >= 0x20 || code == '\t' || code == '\n' || code == '\r';
    codes.push_back(allowed && code != 0xFFFE && code != 0xFFFF ? code : '?');
  }
  return codes;
}

// Escaped text reads back as `expected` and holds none of `raw` outside its references.
template <typename Char>
void CheckEscaped(std::basic_string_view<Char> escaped, const Codes& expected, std::string_view raw) {
  const std::optional<Codes> read = kx::fuzz::DecodeCharacterReferences(escaped);
  KX_FUZZ_CHECK(read && *read == expected);
  for (const Char c : escaped)
    KX_FUZZ_CHECK(raw.find(static_cast<char>(c)) == std::string_view::npos || c > 0x7F);
}

// UTF-16 units as code points the way a parser of the ASCII document sees them: pairs joined, lone
// surrogates "?".
Codes CodePoints(const Codes& units) {
  Codes points;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const std::uint32_t unit = units[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      points.push_back(0x10000 + ((unit - 0xD800) << 10) + (units[++i] - 0xDC00));
    } else {
      points.push_back(unit >= 0xD800 && unit <= 0xDFFF ? '?' : unit);
    }
  }
  return points;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t limit = data[0];
  const std::string_view narrow = kx::fuzz::Bytes(data + 1, size - 1);
  const std::wstring wide = kx::fuzz::Utf16Units(narrow);
  const Codes narrowCodes = Expected(narrow);
  const Codes wideCodes = Expected(std::wstring_view(wide));

  CheckEscaped(std::string_view(kx::EscapeXmlAttribute(narrow)), narrowCodes, "<>\"\t\n\r");
  CheckEscaped(std::string_view(kx::EscapeXmlElementText(narrow)), narrowCodes, "<>\"\r");
  const std::wstring attribute = kx::EscapeXmlAttribute(wide);
  CheckEscaped(std::wstring_view(attribute), wideCodes, "<>\"\t\n\r");
  CheckEscaped(std::wstring_view(kx::EscapeXmlElementText(wide)), wideCodes, "<>\"\r");
  std::wstring gpu = wide;
  kx::EscapeXmlText(gpu);
  CheckEscaped(std::wstring_view(gpu), wideCodes, "<>\"\t\n\r'\\");

  // The document's conversion to ASCII keeps every reference and turns the rest into references.
  const std::string ascii = kx::AsciiWithCharacterReferences(attribute);
  KX_FUZZ_CHECK(std::all_of(ascii.begin(), ascii.end(), [](char c) { return c >= 0; }));
  const std::optional<Codes> asciiCodes = kx::fuzz::DecodeCharacterReferences(std::string_view(ascii));
  KX_FUZZ_CHECK(asciiCodes && *asciiCodes == CodePoints(wideCodes));

  // A cut keeps a prefix that still reads back, losing at most one reference or surrogate pair's worth.
  std::wstring cut = gpu;
  kx::CutEscapedText(cut, limit);
  KX_FUZZ_CHECK(cut.size() <= limit && gpu.compare(0, cut.size(), cut) == 0);
  KX_FUZZ_CHECK(cut.size() + 8 >= std::min(gpu.size(), limit));
  // A cut never splits a surrogate pair.
  const auto inRange = [](wchar_t c, wchar_t low) { return c >= low && c <= low + 0x3FF; };
  KX_FUZZ_CHECK(cut.size() == gpu.size() || cut.empty() ||
                !(inRange(cut.back(), 0xD800) && inRange(gpu[cut.size()], 0xDC00)));
  const std::optional<Codes> cutCodes = kx::fuzz::DecodeCharacterReferences(std::wstring_view(cut));
  KX_FUZZ_CHECK(cutCodes && cutCodes->size() <= wideCodes.size() &&
                std::equal(cutCodes->begin(), cutCodes->end(), wideCodes.begin()));

  // The reversible form: ASCII without raw markup, and its references as UTF-8 with %XX undone give the
  // bytes back.
  for (const bool inAttribute : {true, false}) {
    const std::string reversible = kx::EscapeReversible(narrow, inAttribute);
    const std::optional<Codes> points = kx::fuzz::DecodeCharacterReferences(std::string_view(reversible));
    KX_FUZZ_CHECK(points &&
                  reversible.find_first_of(inAttribute ? "<>\"\r\t\n" : "<>\"\r") == std::string::npos);
    std::string utf8;
    for (const std::uint32_t point : *points) {
      KX_FUZZ_CHECK(point >= 0x20 || point == '\t' || point == '\n' || point == '\r');
      // A lead byte of 0xC0, 0xE0 or 0xF0 and the point's high bits, then six bits a byte.
      const int more = point < 0x80 ? 0 : point < 0x800 ? 1 : point < 0x10000 ? 2 : 3;
      utf8.push_back(static_cast<char>((more == 0 ? 0 : 0xF0 << (3 - more)) | (point >> (6 * more))));
      for (int k = more - 1; k >= 0; --k) utf8.push_back(static_cast<char>(0x80 | (point >> 6 * k & 0x3F)));
    }
    KX_FUZZ_CHECK(kx::DecodeCrashField(utf8) == narrow);
  }

  const std::string user = kx::FormatUserTag(narrow);
  KX_FUZZ_CHECK(std::count(user.begin(), user.end(), '"') == 2 && user.find('\n') == user.size() - 1);
  kx::BinaryImageIds ids;
  ids.timeDateStamp = 0x6B16E5F2;
  ids.codeView.emplace().pdbPath = std::string(narrow);
  const std::wstring bare = kx::FormatBinaryImageLine(0x7FF600000000, 0x1000, wide);
  const std::wstring line = kx::FormatBinaryImageLine(0x7FF600000000, 0x1000, wide, ids);
  const bool pdb = !kx::FileNameOfPath(narrow).empty();
  KX_FUZZ_CHECK(std::count(bare.begin(), bare.end(), L'"') == 6 &&
                std::count(line.begin(), line.end(), L'"') == (pdb ? 12 : 10) &&
                line.find_first_of(L"<>\r\n", 1) == line.size() - 2);
  kx::GpuInfo info;
  info.caption = wide;
  info.installedDisplayDrivers = wide;
  const std::wstring gpuLine = kx::FormatGpuInfoLine(info);
  KX_FUZZ_CHECK(std::count(gpuLine.begin(), gpuLine.end(), L'"') == 20);
  return 0;
}
