#include "korinbo/large_block.h"

#include <sys/mman.h>

#include <cstdint>

namespace korinbo {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

std::size_t RoundUp(std::size_t value, std::size_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace

void* AllocateLargeBlock(std::size_t bytes) {
  if (bytes > std::numeric_limits<std::size_t>::max() - 2 * kHugePage) throw std::bad_alloc();
  const std::size_t size = RoundUp(bytes, kHugePage);
  // Mapped with a huge page to spare, out of which the aligned block is cut.
  void* mapped =
      ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t block = RoundUp(start, kHugePage);
  if (block > start) ::munmap(mapped, block - start);
  if (const std::size_t tail = start + kHugePage - block; tail > 0) {
    ::munmap(reinterpret_cast<void*>(block + size), tail);
  }
  // Only a hint: where huge pages are off, the block has small ones.
  ::madvise(reinterpret_cast<void*>(block), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(block);
}

void FreeLargeBlock(void* block, std::size_t bytes) noexcept { ::munmap(block, RoundUp(bytes, kHugePage)); }

}  // namespace korinbo
