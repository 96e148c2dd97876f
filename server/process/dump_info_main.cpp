// kxserver-dumpinfo FILE: the dump reader kxserver starts for each dump (a child process with a time limit):
// the minidump's header, exception, modules and system, as kxdumpinfo's JSON, on standard output. Exit code
// 0 when the file is a minidump it could read, 1 when not (the reason on standard output), 2 when the file
// cannot be opened. A program of its own, small, so that a dump costs little more than its reading.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "dumpinfo/dump_format.h"
#include "dumpinfo/minidump_parser.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: kxserver-dumpinfo FILE\n", stderr);
    return 2;
  }
  const int fd = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  struct stat status {};
  if (fd < 0 || ::fstat(fd, &status) != 0) {
    std::fputs("cannot open the file", stdout);
    return 2;
  }
  const std::size_t size = static_cast<std::size_t>(status.st_size);
  void* mapped = size == 0 ? nullptr : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (mapped == MAP_FAILED) {
    std::fputs("cannot map the file", stdout);
    return 2;
  }
  const kx::MinidumpParse parse = kx::ParseMinidump(std::string_view(static_cast<const char*>(mapped), size));
  const std::string text = parse.error.empty() ? kx::FormatDumpJson(parse.info) : parse.error;
  std::fwrite(text.data(), 1, text.size(), stdout);
  return parse.error.empty() ? 0 : 1;
}
