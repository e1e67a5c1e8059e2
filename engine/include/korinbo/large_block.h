#pragma once
// Storage for the few large arrays a long history file needs (its text, where its lines lie, the
// set of its lines). A block of 1 MB or more is mapped on its own, aligned to 2 MB and offered to
// the kernel for transparent huge pages, so that its first touch costs a fault per 2 MB instead of
// one per 4 KB page. Where a fault is dear (about 10 µs on the virtual machines measured), a
// 100,000-line visit log otherwise spent 30 of the 37 ms of its read on first touches.
#include <cstddef>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace korinbo {

inline constexpr std::size_t kLargeBlockBytes = std::size_t{1} << 20;

// `bytes` of at least kLargeBlockBytes, aligned to 2 MB; throws std::bad_alloc.
void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block, std::size_t bytes) noexcept;

template <typename T>
struct LargeBlockAllocator {
  using value_type = T;

  LargeBlockAllocator() = default;
  template <typename U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}

  T* allocate(std::size_t count) {
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    const std::size_t bytes = count * sizeof(T);
    return static_cast<T*>(bytes >= kLargeBlockBytes ? AllocateLargeBlock(bytes) : ::operator new(bytes));
  }
  void deallocate(T* block, std::size_t count) noexcept {
    const std::size_t bytes = count * sizeof(T);
    if (bytes >= kLargeBlockBytes) {
      FreeLargeBlock(block, bytes);
    } else {
      ::operator delete(block);
    }
  }
  friend bool operator==(const LargeBlockAllocator&, const LargeBlockAllocator&) { return true; }
};

using LargeString = std::basic_string<char, std::char_traits<char>, LargeBlockAllocator<char>>;
template <typename T>
using LargeVector = std::vector<T, LargeBlockAllocator<T>>;

}  // namespace korinbo
