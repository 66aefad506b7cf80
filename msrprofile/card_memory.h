// Memory that held card data: overwritten before it is freed or reused. Containers of card
// data take WipingAllocator, so that what they give back when they grow, shrink or die is
// zeroed first, wherever the library frees it; the few fixed buffers call wipe() on every
// way out. Header-only: the stand-ins that type a swipe use it too.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace msr::profile {

// Through a volatile pointer, so that the stores can't be left out as dead before a free.
inline void wipe(void* p, std::size_t n) {
  volatile unsigned char* b = static_cast<volatile unsigned char*>(p);
  while (n-- > 0) *b++ = 0;
}

template <class T>
struct WipingAllocator {
  using value_type = T;
  WipingAllocator() = default;
  template <class U>
  WipingAllocator(const WipingAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    wipe(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  friend bool operator==(const WipingAllocator&, const WipingAllocator&) { return true; }
};

// A swipe's characters. A string this short stays inside the object itself (three
// characters in libstdc++), where no allocator sees it: wipe() it where it matters.
using CardText = std::basic_string<char32_t, std::char_traits<char32_t>, WipingAllocator<char32_t>>;
template <class T>
using CardVector = std::vector<T, WipingAllocator<T>>;

// Overwrites the text, its spare capacity included, and empties it.
inline void wipe(CardText& s) {
  wipe(s.data(), s.capacity() * sizeof(char32_t));
  s.clear();
}

}  // namespace msr::profile
