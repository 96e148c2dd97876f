// PeImage reads images from a symbol store and headers from crashed processes: any bytes, either layout.
// What it accepts it reads only within the bytes; a function it finds holds the address asked for; a module
// name from a dump never makes a store path that leaves the store.
#include "fuzz_support.h"
#include "stackwalk/pe_image.h"
#include "stackwalk/symbol_store.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = kx::fuzz::Bytes(data, size);
  kx::ModuleKey module;
  module.name = std::string(bytes.substr(0, 64));
  module.codeView = kx::ParseCodeViewRecord(bytes);
  for (const std::string& path : kx::ImageCandidates(module)) {
    for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
      end = path.find('/', start);
      const std::string part = path.substr(start, end == std::string::npos ? end : end - start);
      KX_FUZZ_CHECK(!part.empty() && part != "." && part != ".." && part.find('\\') == std::string::npos);
    }
  }
  for (const kx::PeLayout layout : {kx::PeLayout::kFile, kx::PeLayout::kMapped}) {
    const std::optional<kx::PeImage> image = kx::PeImage::Parse(bytes, layout);
    if (!image) continue;
    (void)kx::MatchesModule(*image, module);
    for (std::uint32_t rva : {0u, 0x1000u, 0x1010u, image->sizeOfImage() / 2}) {
      const std::optional<std::string_view> read = image->Read(rva, 16);
      KX_FUZZ_CHECK(!read ||
                    (read->data() >= bytes.data() && read->data() + 16 <= bytes.data() + bytes.size()));
      const std::optional<kx::RuntimeFunction> function = image->FunctionAt(rva);
      KX_FUZZ_CHECK(!function || (function->begin <= rva && rva < function->end));
      const std::optional<kx::RuntimeFunction> next = image->FunctionFrom(rva);
      KX_FUZZ_CHECK(!next || next->begin >= rva);
      (void)image->IsCode(rva);
    }
    if (const std::optional<kx::CodeViewRecord> record = image->CodeView()) {
      KX_FUZZ_CHECK(kx::DebugIdText(*record).size() >= 33);
    }
  }
  return 0;
}
