#pragma once
// Byte helpers for the codecs that build and parse files by hand: little- and
// big-endian appends, and a bounds-checked cursor that reads past the end as
// zeros and remembers that it did, so a parser checks once instead of at
// every field.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace pv::engine::codecs {

inline void put8(std::string& s, std::uint32_t v) { s.push_back(static_cast<char>(v & 0xFF)); }
inline void put16(std::string& s, std::uint32_t v) {
  put8(s, v);
  put8(s, v >> 8);
}
inline void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}
inline void put16be(std::string& s, std::uint32_t v) {
  put8(s, v >> 8);
  put8(s, v);
}
inline void put32be(std::string& s, std::uint32_t v) {
  put16be(s, v >> 16);
  put16be(s, v & 0xFFFF);
}
// Overwrites four bytes at `at` (little-endian), for sizes known only later.
inline void set32(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
inline void set32be(std::string& s, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
}

// Splits n bytes into runs of one repeated byte (at least `minRun` long) and
// the literal spans between them, each at most `maxLength` bytes, as the
// run-length codings of many formats store rows; emit(run, first, length).
template <class Emit>
void splitRuns(const std::uint8_t* p, std::size_t n, std::size_t maxLength, std::size_t minRun, Emit&& emit) {
  const auto runAt = [&](std::size_t i) {
    std::size_t r = 1;
    while (i + r < n && r < maxLength && p[i + r] == p[i]) ++r;
    return r;
  };
  for (std::size_t i = 0; i < n;) {
    const std::size_t run = runAt(i);
    if (run >= minRun) {
      emit(true, p + i, run);
      i += run;
      continue;
    }
    std::size_t literal = 1;
    while (i + literal < n && literal < maxLength && runAt(i + literal) < minRun) ++literal;
    emit(false, p + i, literal);
    i += literal;
  }
}

class ByteReader {
 public:
  ByteReader(const std::string& bytes, std::size_t at = 0)
      : p_(reinterpret_cast<const std::uint8_t*>(bytes.data())), n_(bytes.size()), at_(at) {}
  ByteReader(const std::uint8_t* p, std::size_t n) : p_(p), n_(n) {}

  std::uint32_t u8() {
    if (at_ >= n_) {
      overrun_ = true;
      return 0;
    }
    return p_[at_++];
  }
  std::uint32_t u16() {
    const std::uint32_t a = u8();
    return a | (u8() << 8);
  }
  std::uint32_t u32() {
    const std::uint32_t a = u16();
    return a | (u16() << 16);
  }
  std::uint32_t u16be() {
    const std::uint32_t a = u8();
    return (a << 8) | u8();
  }
  std::uint32_t u32be() {
    const std::uint32_t a = u16be();
    return (a << 16) | u16be();
  }
  void skip(std::size_t k) {
    if (k > n_ - std::min(at_, n_)) overrun_ = true, at_ = n_;
    else at_ += k;
  }
  void seek(std::size_t at) {
    if (at > n_) overrun_ = true, at_ = n_;
    else at_ = at;
  }
  // The next k bytes (fewer at the end, which counts as an overrun).
  std::string take(std::size_t k) {
    const std::size_t have = n_ - std::min(at_, n_);
    if (k > have) overrun_ = true, k = have;
    std::string out(reinterpret_cast<const char*>(p_ + at_), k);
    at_ += k;
    return out;
  }
  std::size_t pos() const { return at_; }
  std::size_t left() const { return at_ < n_ ? n_ - at_ : 0; }
  bool overrun() const { return overrun_; }

 private:
  const std::uint8_t* p_;
  std::size_t n_, at_ = 0;
  bool overrun_ = false;
};

}  // namespace pv::engine::codecs
