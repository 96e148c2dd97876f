// Owner of a WinINet handle (internet, connection or request).
#pragma once

#include <windows.h>

#include <wininet.h>

#include "common/win_handles.h"

namespace kx {
namespace handle_traits {

struct Internet {
  using Value = HINTERNET;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::InternetCloseHandle(value); }
};

}  // namespace handle_traits

using UniqueInternetHandle = UniqueResource<handle_traits::Internet>;

}  // namespace kx
