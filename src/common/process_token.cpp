#include "common/process_token.h"

namespace kx {

std::vector<unsigned char> TokenInformationOf(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD size = 0;
  ::GetTokenInformation(token, kind, nullptr, 0, &size);
  std::vector<unsigned char> information(size);
  if (size == 0 || !::GetTokenInformation(token, kind, information.data(), size, &size)) return {};
  return information;
}

}  // namespace kx
