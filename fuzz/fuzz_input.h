// A small reader that turns a fuzzer's input into typed values: integers in
// ranges, booleans and strings.  Values come from the front of the input;
// once it is used up every value is zero or empty.
#ifndef MORVANE_FUZZ_INPUT_H
#define MORVANE_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t remaining_bytes() const { return size_; }

  bool ConsumeBool() { return (ConsumeByte() & 1) != 0; }

  // An integer from as many bytes as T has (fewer when the input runs out).
  template <typename T>
  T ConsumeIntegral() {
    static_assert(std::is_integral_v<T>);
    using U = std::make_unsigned_t<T>;
    U v = 0;
    for (size_t i = 0; i < sizeof(T) && size_ > 0; i++) v = static_cast<U>((v << 8) | ConsumeByte());
    return static_cast<T>(v);
  }

  // An integer in [lo, hi]; lo when hi < lo.
  template <typename T>
  T ConsumeIntegralInRange(T lo, T hi) {
    static_assert(std::is_integral_v<T>);
    if (hi <= lo) return lo;
    using U = std::make_unsigned_t<T>;
    const uint64_t span = static_cast<uint64_t>(static_cast<U>(hi) - static_cast<U>(lo));
    uint64_t v = 0;
    for (uint64_t seen = 0; seen < span && size_ > 0; seen = (seen << 8) | 0xFF)
      v = (v << 8) | ConsumeByte();
    if (span != UINT64_MAX) v %= span + 1;
    return static_cast<T>(static_cast<U>(static_cast<U>(lo) + static_cast<U>(v)));
  }

  // Exactly n bytes, or what is left.
  std::string ConsumeBytesAsString(size_t n) {
    if (n > size_) n = size_;
    std::string s(reinterpret_cast<const char*>(data_), n);
    data_ += n;
    size_ -= n;
    return s;
  }

  // Bytes up to an unescaped backslash terminator, at most max_length of them;
  // "\\\\" stands for one backslash.
  std::string ConsumeRandomLengthString(size_t max_length) {
    std::string s;
    while (s.size() < max_length && size_ > 0) {
      char c = static_cast<char>(ConsumeByte());
      if (c == '\\' && size_ > 0) {
        c = static_cast<char>(ConsumeByte());
        if (c != '\\') break;
      }
      s += c;
    }
    return s;
  }

 private:
  uint8_t ConsumeByte() {
    if (size_ == 0) return 0;
    size_--;
    return *data_++;
  }

  const uint8_t* data_;
  size_t size_;
};

#endif  // MORVANE_FUZZ_INPUT_H
