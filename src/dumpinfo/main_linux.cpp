// kxdumpinfo [--json] [--symbols DIR]... <dump file>, the Linux build (docs/kxdumpinfo.md): the same parser
// and outputs as kxdumpinfo.exe, and with --symbols every thread's stack walked and named through the
// symbolizer. A server runs it as a child process with a time limit: whatever the dump holds, its work is
// bounded.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dumpinfo/dump_command.h"
#include "dumpinfo/dump_format.h"
#include "dumpinfo/dump_stacks.h"
#include "dumpinfo/minidump_parser.h"
#include "symbolize/mapped_file.h"
#include "symbolize/symbolizer.h"

namespace {

enum ExitCode : int {
  kShown = 0,
  kUsage = 1,
  kUnreadable = 2,
  kNotAMinidump = 3,
  kOutputFailed = 4,
};

bool Write(int descriptor, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = ::write(descriptor, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

int Fail(ExitCode code, const std::string& message) {
  Write(STDERR_FILENO, "kxdumpinfo: " + message + "\n");
  return code;
}

// kxsymbolizer, which is installed beside this program.
std::string SymbolizerBesideThis() {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
  if (length <= 0) return "kxsymbolizer";
  const std::string self(path, static_cast<std::size_t>(length));
  return self.substr(0, self.rfind('/') + 1) + "kxsymbolizer";
}

bool IsFolder(const std::string& path) {
  struct stat status = {};
  return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The symbol store through the symbolizer: images for unwinding, names for frames.
class StoreSymbols : public kx::StackSymbols {
 public:
  StoreSymbols(const std::vector<std::string>& folders, const std::string& program)
      : symbolizer_(Options(folders, program)) {}

  const kx::PeImage* Image(const kx::ModuleKey& module) override {
    std::shared_ptr<const kx::FoundSymbols> found = symbolizer_.Files(module);
    if (!found) return nullptr;
    kept_.push_back(found);
    return &found->image;
  }

  std::vector<kx::SourceFrame> Names(const kx::ModuleKey& module, std::uint64_t offset) override {
    return symbolizer_.Symbolize(module, offset);
  }

 private:
  static kx::Symbolizer::Options Options(const std::vector<std::string>& folders,
                                         const std::string& program) {
    kx::Symbolizer::Options options;
    options.symbolFolders = folders;
    options.program = program;
    return options;
  }

  kx::Symbolizer symbolizer_;
  std::vector<std::shared_ptr<const kx::FoundSymbols>> kept_;  // the images handed out stay mapped
};

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> words(argv + 1, argv + argc);
  const std::optional<kx::DumpCommand> command = kx::ReadDumpCommand(words, true);
  if (!command) return Fail(kUsage, kx::DumpUsage(true));
  if (command->help) return Write(STDOUT_FILENO, kx::DumpUsage(true) + "\n") ? kShown : kOutputFailed;
  for (const std::string& folder : command->symbolFolders) {
    if (!IsFolder(folder)) return Fail(kUsage, "symbol folder " + folder + " is not a folder");
  }

  kx::MappedFile file;
  if (const int error = file.Open(command->dumpPath)) {
    return Fail(kUnreadable, "cannot read " + command->dumpPath + ": error " + std::to_string(error) + ": " +
                                 std::strerror(error));
  }
  const kx::MinidumpParse parse = kx::ParseMinidump(file.bytes());
  if (!parse.error.empty()) {
    return Fail(kNotAMinidump, command->dumpPath + " is not a usable minidump: " + parse.error);
  }
  std::optional<kx::DumpStacks> stacks;
  if (!command->symbolFolders.empty()) {
    StoreSymbols symbols(command->symbolFolders, SymbolizerBesideThis());
    stacks = kx::WalkDump(parse.info, symbols);
  }
  const kx::DumpStacks* walked = stacks ? &*stacks : nullptr;
  const std::string output =
      command->json ? kx::FormatDumpJson(parse.info, walked) : kx::FormatDumpText(parse.info, walked);
  return Write(STDOUT_FILENO, output) ? kShown : Fail(kOutputFailed, "cannot write the output");
}
