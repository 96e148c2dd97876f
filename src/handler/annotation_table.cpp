#include "handler/annotation_table.h"

#include <cstring>
#include <string>

namespace kx {

std::size_t AnnotationTable::Find(std::string_view key) const {
  for (std::size_t i = 0; i < count_; ++i) {
    const Entry& entry = entries_[i];
    if (std::string_view(data_ + entry.offset, entry.keySize) == key) return i;
  }
  return count_;
}

void AnnotationTable::Cut(std::size_t index) {
  const Entry& cut = entries_[index];
  const std::uint32_t size = cut.keySize + cut.valueSize;
  const std::uint32_t end = cut.offset + size;
  std::memmove(data_ + cut.offset, data_ + end, used_ - end);
  for (std::size_t i = 0; i < count_; ++i) {
    if (entries_[i].offset > cut.offset) entries_[i].offset -= size;
  }
  used_ -= size;
}

bool AnnotationTable::Set(std::string_view key, std::string_view value) {
  if (key.empty() || key.size() > kMaxAnnotationKeyBytes || value.size() > kMaxAnnotationValueBytes)
    return false;
  const std::size_t index = Find(key);
  const bool known = index < count_;
  const std::size_t freed = known ? entries_[index].keySize + entries_[index].valueSize : 0;
  if (used_ - freed + key.size() + value.size() > kMaxAnnotationTotalBytes) return false;
  if (!known && count_ == kMaxAnnotations) return false;
  if (known) Cut(index);
  Entry& entry = entries_[index];
  entry.offset = used_;
  entry.keySize = static_cast<std::uint32_t>(key.size());
  entry.valueSize = static_cast<std::uint32_t>(value.size());
  if (!key.empty()) std::memcpy(data_ + used_, key.data(), key.size());
  if (!value.empty()) std::memcpy(data_ + used_ + key.size(), value.data(), value.size());
  used_ += entry.keySize + entry.valueSize;
  if (!known) ++count_;
  return true;
}

bool AnnotationTable::Remove(std::string_view key) {
  const std::size_t index = Find(key);
  if (index == count_) return false;
  Cut(index);
  for (std::size_t i = index + 1; i < count_; ++i) entries_[i - 1] = entries_[i];
  --count_;
  return true;
}

std::vector<Annotation> AnnotationTable::Entries() const {
  std::vector<Annotation> annotations;
  const std::size_t count = count_ < kMaxAnnotations ? count_ : kMaxAnnotations;
  for (std::size_t i = 0; i < count; ++i) {
    const Entry& entry = entries_[i];
    const std::uint64_t end = std::uint64_t{entry.offset} + entry.keySize + entry.valueSize;
    if (end > sizeof(data_)) continue;
    annotations.emplace_back(std::string(data_ + entry.offset, entry.keySize),
                             std::string(data_ + entry.offset + entry.keySize, entry.valueSize));
  }
  return annotations;
}

}  // namespace kx
