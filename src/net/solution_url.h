// The "solutionurl" processor: posts the crash report to the solution server and hands the returned help
// link to the front end over the crash's pipe.
#pragma once

#include <string>

namespace kx {

class SolutionURL {
 public:
  void fetchSolutionUrlForGeneratedCrashLog(std::string crashIdentifier, std::wstring clientDirectory);
};

}  // namespace kx
