// Bytes on the heap that grow as a file is read into them, and text put
// together in a fixed buffer.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

// malloc() and realloc() rather than std::string, whose exceptions would
// bring the C++ runtime's threads and locales into the static programs
// (and new imports into the Windows ones).
class Bytes {
 public:
  Bytes() = default;
  Bytes(Bytes&& other) noexcept { swap(other); }
  Bytes& operator=(Bytes&& other) noexcept {
    swap(other);
    return *this;
  }
  ~Bytes() { std::free(data_); }

  // Room for at least |more| bytes after the last: empty when memory runs
  // out.
  std::span<char> room(size_t more) {
    if (capacity_ - size_ < more) {
      size_t capacity = std::max(capacity_ * 2, size_ + more);
      char* grown = static_cast<char*>(std::realloc(data_, capacity));
      if (grown == nullptr) return {};
      data_ = grown;
      capacity_ = capacity;
    }
    return {data_ + size_, capacity_ - size_};
  }
  // Counts |count| bytes put into room() as kept.
  void keep(size_t count) { size_ += count; }
  // Drops the first |count| bytes.
  void drop_front(size_t count) {
    std::memmove(data_, data_ + count, size_ - count);
    size_ -= count;
  }
  void clear() { size_ = 0; }
  std::string_view view() const { return {data_, size_}; }

 private:
  void swap(Bytes& other) {
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
  }

  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

// Appends |text| to the NUL-terminated text in |buffer|, as far as it fits,
// and keeps it NUL-terminated: no printf, whose MinGW form brings locales
// into the Windows programs.
inline void append_to(std::span<char> buffer, std::string_view text) {
  size_t used = std::strlen(buffer.data());
  size_t length = std::min(text.size(), buffer.size() - 1 - used);
  std::memcpy(buffer.data() + used, text.data(), length);
  buffer[used + length] = '\0';
}

// Appends |number| in decimal digits.
inline void append_number(std::span<char> buffer, unsigned long long number) {
  char digits[24];
  size_t at = sizeof digits;
  do digits[--at] = static_cast<char>('0' + number % 10);
  while ((number /= 10) != 0);
  append_to(buffer, std::string_view(digits + at, sizeof digits - at));
}
