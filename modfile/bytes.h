// Bytes on the heap that grow as a file is read into them or a line is put
// together in them.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

// The |count| bytes of |text| from |at| on, as many as there are: like
// substr(), but without its exception, which would bring the C++ runtime's
// exception support into the programs.
inline std::string_view part_of(std::string_view text, size_t at,
                                size_t count = std::string_view::npos) {
  at = std::min(at, text.size());
  return {text.data() + at, std::min(count, text.size() - at)};
}

// |c| in lower case where it is an ASCII capital letter.
inline char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether |a| and |b| are the same text but for the case of ASCII letters.
inline bool same_but_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return ascii_lower(x) == ascii_lower(y); });
}

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
  // Appends |text|: false, with nothing appended, when memory runs out.
  bool append(std::string_view text) {
    std::span<char> space = room(text.size());
    if (space.size() < text.size()) return false;
    if (!text.empty()) std::memcpy(space.data(), text.data(), text.size());
    keep(text.size());
    return true;
  }
  // Appends |number| in decimal digits.
  bool append_number(unsigned long long number) {
    char digits[24];  // 20 digits at most
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, number);
    return error == std::errc() && append(std::string_view(digits, static_cast<size_t>(end - digits)));
  }
  // Drops the first |count| bytes.
  void drop_front(size_t count) {
    std::memmove(data_, data_ + count, size_ - count);
    size_ -= count;
  }
  void clear() { size_ = 0; }
  std::string_view view() const { return {data_, size_}; }
  // The bytes with a NUL after them, for a call that wants a C string;
  // nullptr when memory runs out.
  const char* c_str() {
    if (!append(std::string_view("", 1))) return nullptr;
    --size_;
    return data_;
  }

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
