#include "common/name_piece.h"

#include <algorithm>
#include <type_traits>

namespace kx {
namespace {

template <typename Char>
bool IsRefused(Char c) {
  const auto code = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(c));
  return code < 0x20 || code == 0x7F || code == '\\' || code == '/' || code == ':';
}

template <typename Char>
bool IsPlain(std::basic_string_view<Char> text) {
  return std::none_of(text.begin(), text.end(), [](Char c) { return IsRefused(c); });
}

}  // namespace

bool IsPlainNamePiece(std::string_view text) { return IsPlain(text); }
bool IsPlainNamePiece(std::wstring_view text) { return IsPlain(text); }

}  // namespace kx
