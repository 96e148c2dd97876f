// The application's annotations in fixed room: no allocation when one is set, and a plain block of bytes
// that another thread can copy whole (crash_handler.cpp reads it with a sequence counter, never a lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "intake/crash_data.h"

namespace kx {

// Zero bytes are an empty table: static storage needs no constructor to run, so annotations set before
// anything else of the program (or the handler) has started are kept. Elsewhere value-initialize it.
class AnnotationTable {
 public:
  // Sets a key's value; a key already set keeps its place in the order. False, and the table unchanged,
  // for an empty key, a key or value beyond its bound, a new key beyond kMaxAnnotations, or a total beyond
  // kMaxAnnotationTotalBytes (all in crash_data.h).
  bool Set(std::string_view key, std::string_view value);
  // False when the key is not set.
  bool Remove(std::string_view key);
  // Every annotation in the order set. A table copied while it was being changed may be torn; entries that
  // point outside the room are left out.
  std::vector<Annotation> Entries() const;

 private:
  struct Entry {
    std::uint32_t offset;  // of the key in data_; the value follows it
    std::uint32_t keySize;
    std::uint32_t valueSize;
  };
  std::size_t Find(std::string_view key) const;  // count_ when not set
  void Cut(std::size_t index);                   // its bytes removed from data_, the later ones moved down

  Entry entries_[kMaxAnnotations];
  std::uint32_t count_;
  std::uint32_t used_;
  char data_[kMaxAnnotationTotalBytes];
};

}  // namespace kx
