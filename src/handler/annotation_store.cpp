#include "handler/annotation_store.h"

#include <windows.h>

#include <atomic>
#include <cstring>

#include "handler/annotation_table.h"

namespace kx {
namespace {

constexpr int kReadAttempts = 100;

// Static storage, all constant-initialized: usable before any constructor of the program has run.
// `sequence` is odd while a change is under way (a seqlock): a reader that saw the same even number before
// and after its copy has a consistent copy.
struct AnnotationBlock {
  SRWLOCK writers;
  std::atomic<unsigned> sequence;
  std::atomic<bool> frozen;
  AnnotationTable table;
};
AnnotationBlock g_block = {SRWLOCK_INIT, {0u}, {false}, {}};
AnnotationTable g_copy;  // the handler thread's copy: no heap needed to take it

template <typename Change>
bool Apply(Change change) {
  if (g_block.frozen.load(std::memory_order_acquire)) return false;
  ::AcquireSRWLockExclusive(&g_block.writers);
  g_block.sequence.fetch_add(1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  const bool done = change(g_block.table);
  g_block.sequence.fetch_add(1, std::memory_order_release);
  ::ReleaseSRWLockExclusive(&g_block.writers);
  return done;
}

}  // namespace

bool StoreAnnotation(std::string_view key, std::string_view value) {
  return Apply([&](AnnotationTable& table) { return table.Set(key, value); });
}

bool DropAnnotation(std::string_view key) {
  return Apply([&](AnnotationTable& table) { return table.Remove(key); });
}

void FreezeAnnotations() { g_block.frozen.store(true, std::memory_order_release); }

bool ReadAnnotations(std::vector<Annotation>& annotations) {
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    const unsigned before = g_block.sequence.load(std::memory_order_acquire);
    if ((before & 1u) == 0) {
      std::memcpy(static_cast<void*>(&g_copy), static_cast<const void*>(&g_block.table), sizeof(g_copy));
      std::atomic_thread_fence(std::memory_order_acquire);
      if (g_block.sequence.load(std::memory_order_relaxed) == before) {
        annotations = g_copy.Entries();
        return true;
      }
    }
    ::Sleep(1);
  }
  annotations.clear();
  return false;
}

}  // namespace kx
