#include "store/database.h"

#include <stdexcept>

namespace kx::server {

std::int64_t IntOf(const std::optional<std::string>& value, std::int64_t otherwise) {
  if (!value || value->empty()) return otherwise;
  try {
    return std::stoll(*value);
  } catch (const std::exception&) {
    return otherwise;
  }
}

SqlValue NullableId(const std::optional<std::int64_t>& id) {
  if (id) return SqlValue(*id);
  return SqlValue(nullptr);
}

SqlValue NullableText(const std::string& text) {
  if (text.empty()) return SqlValue(nullptr);
  return SqlValue(text);
}

std::string TextOf(const std::optional<std::string>& value) { return value ? *value : std::string(); }

}  // namespace kx::server
