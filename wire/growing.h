// The one growable array of the Norza programs: C heap, doubling, and never
// throwing (the programs build without exceptions). For trivially copyable
// items only: it moves them with realloc.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace wire {

template <typename T>
class Growing {
  static_assert(std::is_trivially_copyable<T>::value, "moved with realloc");

 public:
  Growing() = default;
  ~Growing() { std::free(items_); }
  Growing(const Growing&) = delete;
  Growing& operator=(const Growing&) = delete;

  // Room for `count` items in all; false, with the array as it was, when
  // there is no memory for them.
  bool Reserve(std::size_t count) {
    if (count <= capacity_) return true;
    std::size_t grown = capacity_ == 0 ? 8 : capacity_;
    while (grown < count) {
      if (grown > static_cast<std::size_t>(-1) / 4 / sizeof(T)) return false;
      grown *= 2;
    }
    void* bigger = std::realloc(items_, grown * sizeof(T));
    if (bigger == nullptr) return false;
    items_ = static_cast<T*>(bigger);
    capacity_ = grown;
    return true;
  }
  bool Add(const T& item) { return Add(&item, 1); }
  bool Add(const T* items, std::size_t count) {
    if (count == 0) return true;
    if (count > static_cast<std::size_t>(-1) / 4 / sizeof(T) || !Reserve(size_ + count)) return false;
    std::memcpy(static_cast<void*>(items_ + size_), items, count * sizeof(T));
    size_ += count;
    return true;
  }
  void Clear() {
    std::free(items_);
    items_ = nullptr;
    size_ = capacity_ = 0;
  }

  std::size_t size() const { return size_; }
  T* data() const { return items_; }
  T& operator[](std::size_t i) const { return items_[i]; }

 private:
  T* items_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace wire
