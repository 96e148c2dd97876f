#include "stackwalk/pe_image.h"

#include <algorithm>

#include "stackwalk/little_endian.h"

namespace kx {
namespace {

// Offsets of the PE/COFF format (Microsoft's "PE Format" documentation) that this reader uses.
constexpr std::uint16_t kDosMagic = 0x5A4D;         // "MZ"
constexpr std::size_t kDosNewHeaderOffset = 0x3C;   // e_lfanew
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::size_t kCoffHeaderSize = 24;         // with the signature
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::size_t kOptionalHeaderFixedSize = 112;  // PE32+ up to the data directories
constexpr std::size_t kSectionHeaderSize = 40;
constexpr std::uint32_t kExceptionDirectoryIndex = 3;
constexpr std::uint32_t kDebugDirectoryIndex = 6;
constexpr std::uint32_t kSectionExecutable = 0x20000000;  // IMAGE_SCN_MEM_EXECUTE
constexpr std::uint32_t kSectionCode = 0x00000020;        // IMAGE_SCN_CNT_CODE
constexpr std::size_t kFunctionEntrySize = 12;
constexpr std::size_t kDebugEntrySize = 28;
constexpr std::uint32_t kDebugTypeCodeView = 2;
// More sections than any linker writes; the loader refuses more than 96.
constexpr std::uint16_t kMostSections = 96;

bool Fail(std::string* why, const char* reason) {
  if (why != nullptr) *why = reason;
  return false;
}

}  // namespace

std::optional<PeImage> PeImage::Parse(std::string_view bytes, PeLayout layout, std::string* why) {
  PeImage image;
  image.bytes_ = bytes;
  image.layout_ = layout;
  if (bytes.size() < kDosNewHeaderOffset + 4 || Le16At(bytes, 0) != kDosMagic) {
    Fail(why, "no MZ header");
    return std::nullopt;
  }
  const std::uint32_t peOffset = Le32At(bytes, kDosNewHeaderOffset);
  const std::optional<std::string_view> coff = SliceOf(bytes, peOffset, kCoffHeaderSize);
  if (!coff || Le32At(*coff, 0) != kPeSignature) {
    Fail(why, "no PE header");
    return std::nullopt;
  }
  image.machine_ = Le16At(*coff, 4);
  const std::uint16_t sectionCount = Le16At(*coff, 6);
  image.timeDateStamp_ = Le32At(*coff, 8);
  const std::uint16_t optionalSize = Le16At(*coff, 20);
  const std::optional<std::string_view> optional =
      SliceOf(bytes, std::uint64_t{peOffset} + kCoffHeaderSize, optionalSize);
  if (!optional || optionalSize < kOptionalHeaderFixedSize || Le16At(*optional, 0) != kPe32PlusMagic) {
    Fail(why, "not a PE32+ (64-bit) image");
    return std::nullopt;
  }
  image.imageBase_ = Le64At(*optional, 24);
  image.sizeOfImage_ = Le32At(*optional, 56);
  image.sizeOfHeaders_ = Le32At(*optional, 60);
  const std::uint32_t directoryCount = Le32At(*optional, 108);
  const auto directory = [&](std::uint32_t index) {
    const std::size_t at = kOptionalHeaderFixedSize + 8 * std::size_t{index};
    if (index >= directoryCount || at + 8 > optional->size()) return PeDirectory{};
    return PeDirectory{Le32At(*optional, at), Le32At(*optional, at + 4)};
  };
  image.exception_ = directory(kExceptionDirectoryIndex);
  image.debug_ = directory(kDebugDirectoryIndex);

  const std::optional<std::string_view> table =
      SliceOf(bytes, std::uint64_t{peOffset} + kCoffHeaderSize + optionalSize,
              std::uint64_t{sectionCount} * kSectionHeaderSize);
  if (!table || sectionCount > kMostSections) {
    Fail(why, "section table beyond the end of the image");
    return std::nullopt;
  }
  for (std::size_t i = 0; i < sectionCount; ++i) {
    const std::string_view entry = table->substr(i * kSectionHeaderSize, kSectionHeaderSize);
    const std::uint32_t characteristics = Le32At(entry, 36);
    image.sections_.push_back(PeSection{Le32At(entry, 12), Le32At(entry, 8), Le32At(entry, 20),
                                        Le32At(entry, 16),
                                        (characteristics & (kSectionExecutable | kSectionCode)) != 0});
  }
  // A table cut short keeps its whole entries.
  const std::string_view functions = image.Read(image.exception_.rva, image.exception_.size).value_or("");
  image.functions_ = functions.substr(0, functions.size() / kFunctionEntrySize * kFunctionEntrySize);
  return image;
}

std::optional<std::string_view> PeImage::Read(std::uint64_t rva, std::uint64_t size) const {
  if (layout_ == PeLayout::kMapped) return SliceOf(bytes_, rva, size);
  if (rva <= sizeOfHeaders_ && size <= sizeOfHeaders_ - rva) return SliceOf(bytes_, rva, size);
  for (const PeSection& section : sections_) {
    if (rva < section.virtualAddress) continue;
    const std::uint64_t within = rva - section.virtualAddress;
    if (within > section.rawSize || size > section.rawSize - within) continue;
    return SliceOf(bytes_, std::uint64_t{section.rawOffset} + within, size);
  }
  return std::nullopt;
}

std::size_t PeImage::FunctionCount() const { return functions_.size() / kFunctionEntrySize; }

std::optional<RuntimeFunction> PeImage::FunctionByIndex(std::size_t index) const {
  if (index >= FunctionCount()) return std::nullopt;
  const std::size_t at = index * kFunctionEntrySize;
  return RuntimeFunction{Le32At(functions_, at), Le32At(functions_, at + 4), Le32At(functions_, at + 8)};
}

std::optional<RuntimeFunction> PeImage::FunctionAt(std::uint32_t rva) const {
  // The loader's binary search: the table is sorted by begin address.
  std::size_t low = 0;
  std::size_t high = FunctionCount();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    const std::optional<RuntimeFunction> function = FunctionByIndex(middle);
    if (rva < function->begin) {
      high = middle;
    } else if (rva >= function->end) {
      low = middle + 1;
    } else {
      return function;
    }
  }
  return std::nullopt;
}

std::optional<RuntimeFunction> PeImage::FunctionFrom(std::uint32_t rva) const {
  std::size_t low = 0;
  std::size_t high = FunctionCount();
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (FunctionByIndex(middle)->begin < rva) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return FunctionByIndex(low);
}

bool PeImage::IsCode(std::uint32_t rva) const {
  return std::any_of(sections_.begin(), sections_.end(), [rva](const PeSection& section) {
    return section.executable && rva >= section.virtualAddress &&
           rva - section.virtualAddress < std::max(section.virtualSize, section.rawSize);
  });
}

std::optional<CodeViewRecord> PeImage::CodeView() const {
  const std::optional<std::string_view> entries = Read(debug_.rva, debug_.size);
  if (!entries) return std::nullopt;
  const bool file = layout_ == PeLayout::kFile;
  const std::optional<PeDirectory> where = CodeViewEntry(*entries, file);
  if (!where) return std::nullopt;
  const std::optional<std::string_view> record =
      file ? SliceOf(bytes_, where->rva, where->size) : Read(where->rva, where->size);
  return record ? ParseCodeViewRecord(*record) : std::nullopt;
}

std::optional<PeDirectory> CodeViewEntry(std::string_view entries, bool file) {
  for (std::size_t at = 0; at + kDebugEntrySize <= entries.size(); at += kDebugEntrySize) {
    if (Le32At(entries, at + 12) != kDebugTypeCodeView) continue;
    return PeDirectory{Le32At(entries, at + (file ? 24 : 20)), Le32At(entries, at + 16)};
  }
  return std::nullopt;
}

}  // namespace kx
