// The memory of a process that a dump holds: address ranges and their bytes (thread stacks above all). Reads
// never stitch two ranges together: what is not inside one range is not known.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kx {

struct MemoryRegion {
  std::uint64_t address = 0;
  std::string_view bytes;  // owned by whoever made the regions (the dump's mapping)
};

class MemoryRegions {
 public:
  MemoryRegions() = default;
  explicit MemoryRegions(std::vector<MemoryRegion> regions);

  // The bytes [address, address + size); nothing when no one region holds them all.
  std::optional<std::string_view> Read(std::uint64_t address, std::uint64_t size) const;
  std::optional<std::uint64_t> Read64(std::uint64_t address) const;

  // The region holding `address`, when one does.
  std::optional<MemoryRegion> RegionAt(std::uint64_t address) const;

 private:
  std::vector<MemoryRegion> regions_;  // sorted by address
};

}  // namespace kx
