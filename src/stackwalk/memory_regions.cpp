#include "stackwalk/memory_regions.h"

#include <algorithm>
#include <utility>

#include "stackwalk/little_endian.h"

namespace kx {

MemoryRegions::MemoryRegions(std::vector<MemoryRegion> regions) : regions_(std::move(regions)) {
  std::stable_sort(regions_.begin(), regions_.end(),
                   [](const MemoryRegion& a, const MemoryRegion& b) { return a.address < b.address; });
}

std::optional<MemoryRegion> MemoryRegions::RegionAt(std::uint64_t address) const {
  auto after = std::upper_bound(
      regions_.begin(), regions_.end(), address,
      [](std::uint64_t value, const MemoryRegion& region) { return value < region.address; });
  if (after == regions_.begin()) return std::nullopt;
  const MemoryRegion& region = *(after - 1);
  if (address - region.address >= region.bytes.size()) return std::nullopt;
  return region;
}

std::optional<std::string_view> MemoryRegions::Read(std::uint64_t address, std::uint64_t size) const {
  const std::optional<MemoryRegion> region = RegionAt(address);
  if (!region) return std::nullopt;
  return SliceOf(region->bytes, address - region->address, size);
}

std::optional<std::uint64_t> MemoryRegions::Read64(std::uint64_t address) const {
  const std::optional<std::string_view> bytes = Read(address, 8);
  if (!bytes) return std::nullopt;
  return Le64At(*bytes, 0);
}

}  // namespace kx
