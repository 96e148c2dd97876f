// kxsymbolizer: the child process of a Symbolizer (symbolizer.h). One question a line on standard input,
// "PATH" 0xOFFSET (an image, and an offset from its load address), one JSON answer a line on standard output:
//   {"Symbol":[{"FunctionName":...,"FileName":...,"Line":n,"Column":n,"StartAddress":"0x..."},...]}
//   {"Error":{"Message":...}}
// Built on LLVM's symbolizer library (Debian's libLLVM-14), so that names are read as addr2line reads them:
// the debug information's own (the linkage name where it has one), never the symbol table's nearest label,
// which LLVM's llvm-symbolizer puts in place of the outermost function's name. Only for code the debug
// information does not cover does the answer come from the symbol table, with the symbol's start, which the
// parent checks against the image's function table before it believes it.
#include <llvm/DebugInfo/Symbolize/Symbolize.h>

#include <cstdio>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

namespace {

namespace sym = llvm::symbolize;

using Json = nlohmann::json;

Json Frame(const llvm::DILineInfo& info) {
  const auto known = [](const std::string& text) { return text == llvm::DILineInfo::BadString ? "" : text; };
  char start[32] = "";
  if (info.StartAddress)
    std::snprintf(start, sizeof(start), "0x%llx", static_cast<unsigned long long>(*info.StartAddress));
  return Json{{"FunctionName", known(info.FunctionName)}, {"FileName", known(info.FileName)},
              {"Line", info.Line}, {"Column", info.Column}, {"StartAddress", start}};
}

Json Complaint(const std::string& message) { return Json{{"Error", Json{{"Message", message}}}}; }

Json Answer(sym::LLVMSymbolizer& debugInfo, sym::LLVMSymbolizer& symbols, const std::string& path,
            std::uint64_t offset) {
  const llvm::object::SectionedAddress address{offset, llvm::object::SectionedAddress::UndefSection};
  llvm::Expected<llvm::DIInliningInfo> inlined = debugInfo.symbolizeInlinedCode(path, address);
  if (!inlined) return Complaint(llvm::toString(inlined.takeError()));
  Json frames = Json::array();
  for (std::uint32_t i = 0; i < inlined->getNumberOfFrames(); ++i) {
    const llvm::DILineInfo& frame = inlined->getFrame(i);
    if (frame.FunctionName == llvm::DILineInfo::BadString) continue;
    frames.push_back(Frame(frame));
  }
  if (frames.empty()) {
    llvm::Expected<llvm::DILineInfo> symbol = symbols.symbolizeCode(path, address);
    if (symbol && symbol->FunctionName != llvm::DILineInfo::BadString) frames.push_back(Frame(*symbol));
    if (!symbol) llvm::consumeError(symbol.takeError());
  }
  return Json{{"Symbol", std::move(frames)}};
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  sym::LLVMSymbolizer::Options options;
  options.RelativeAddresses = true;
  options.UseSymbolTable = false;
  sym::LLVMSymbolizer debugInfo(options);
  options.UseSymbolTable = true;
  sym::LLVMSymbolizer symbols(options);
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::size_t close = line.find('"', 1);
    Json answer = Complaint("not a question");
    if (line.size() > 2 && line[0] == '"' && close != std::string::npos &&
        line.compare(close + 1, 3, " 0x") == 0) {
      answer = Answer(debugInfo, symbols, line.substr(1, close - 1),
                      std::stoull(line.substr(close + 4), nullptr, 16));
    }
    // A name or path from a file is not always UTF-8: its bad bytes become U+FFFD rather than end the answer.
    std::cout << answer.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
  }
  return 0;
}
