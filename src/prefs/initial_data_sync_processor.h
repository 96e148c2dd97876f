// The "updatepvbpreference" processor: exchanges the per-build dump preferences with the preferences server
// and stores the answer in the registry.
#pragma once

#include <string>

namespace kx {

class InitialDataSyncProcessor {
 public:
  void Run(const std::wstring& clientDirectory);
};

}  // namespace kx
