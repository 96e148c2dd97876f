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

namespace {

namespace sym = llvm::symbolize;

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out;
}

std::string Frame(const llvm::DILineInfo& info) {
  const auto known = [](const std::string& text) { return text == llvm::DILineInfo::BadString ? "" : text; };
  char start[32] = "";
  if (info.StartAddress)
    std::snprintf(start, sizeof(start), "0x%llx", static_cast<unsigned long long>(*info.StartAddress));
  return "{\"FunctionName\":\"" + Escaped(known(info.FunctionName)) + "\",\"FileName\":\"" +
         Escaped(known(info.FileName)) + "\",\"Line\":" + std::to_string(info.Line) +
         ",\"Column\":" + std::to_string(info.Column) + ",\"StartAddress\":\"" + start + "\"}";
}

std::string Answer(sym::LLVMSymbolizer& debugInfo, sym::LLVMSymbolizer& symbols, const std::string& path,
                   std::uint64_t offset) {
  const llvm::object::SectionedAddress address{offset, llvm::object::SectionedAddress::UndefSection};
  llvm::Expected<llvm::DIInliningInfo> inlined = debugInfo.symbolizeInlinedCode(path, address);
  if (!inlined) return "{\"Error\":{\"Message\":\"" + Escaped(llvm::toString(inlined.takeError())) + "\"}}";
  std::string frames;
  for (std::uint32_t i = 0; i < inlined->getNumberOfFrames(); ++i) {
    const llvm::DILineInfo& frame = inlined->getFrame(i);
    if (frame.FunctionName == llvm::DILineInfo::BadString) continue;
    frames += (frames.empty() ? "" : ",") + Frame(frame);
  }
  if (frames.empty()) {
    llvm::Expected<llvm::DILineInfo> symbol = symbols.symbolizeCode(path, address);
    if (symbol && symbol->FunctionName != llvm::DILineInfo::BadString) frames = Frame(*symbol);
    if (!symbol) llvm::consumeError(symbol.takeError());
  }
  return "{\"Symbol\":[" + frames + "]}";
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
    std::string answer = "{\"Error\":{\"Message\":\"not a question\"}}";
    if (line.size() > 2 && line[0] == '"' && close != std::string::npos &&
        line.compare(close + 1, 3, " 0x") == 0) {
      answer = Answer(debugInfo, symbols, line.substr(1, close - 1),
                      std::stoull(line.substr(close + 4), nullptr, 16));
    }
    std::cout << answer << std::endl;
  }
  return 0;
}
