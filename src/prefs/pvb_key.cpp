#include "prefs/pvb_key.h"

#include "common/ascii_text.h"

namespace kx {

std::string MakePvbKey(std::string_view product, std::string_view version, std::string_view build) {
  std::string key;
  key.reserve(product.size() + version.size() + build.size() + 2);
  key.append(product).append(1, ';').append(version).append(1, ';').append(build);
  LowerAsciiInPlace(key);
  return key;
}

}  // namespace kx
