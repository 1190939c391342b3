#include "engine/codecs/lzw.h"

#include <array>
#include <cstring>

namespace pv::engine::codecs {

std::string lzwEncode(const std::uint8_t* in, std::size_t n) {
  constexpr std::uint32_t kClear = 256, kEoi = 257, kFirst = 258;
  // libtiff clears when the next code would be 4094 (so that a reader's
  // table, one entry behind, never passes 4095).
  constexpr std::uint32_t kFull = 4094;
  constexpr std::uint32_t kSlots = 1u << 13, kMask = kSlots - 1;
  // A slot holds the string's key, (prefix code << 8 | byte) + 1, in its high
  // 20 bits and the string's code in its low 12; 0 is empty. At most 3,836
  // strings: under half full, so probes are short.
  std::array<std::uint32_t, kSlots> table{};
  std::string out;
  // 12 bits a byte at the very worst, and Clear, EOI and the last bits.
  out.resize(n + n / 2 + 16);
  auto* op = reinterpret_cast<std::uint8_t*>(out.data());
  std::uint64_t bits = 0;
  int pending = 0, width = 9;
  std::uint32_t next = kFirst, limit = 511;
  const auto put = [&](std::uint32_t code) {
    bits = (bits << width) | code;
    pending += width;
    if (pending >= 32) {
      pending -= 32;
      const auto word = static_cast<std::uint32_t>(bits >> pending);
      op[0] = static_cast<std::uint8_t>(word >> 24);
      op[1] = static_cast<std::uint8_t>(word >> 16);
      op[2] = static_cast<std::uint8_t>(word >> 8);
      op[3] = static_cast<std::uint8_t>(word);
      op += 4;
    }
  };
  put(kClear);
  if (n > 0) {
    std::uint32_t ent = in[0];
    for (std::size_t i = 1; i < n; ++i) {
      const std::uint32_t key = ((ent << 8) | in[i]) + 1;
      std::uint32_t h = (key * 2654435761u) >> 19;
      std::uint32_t slot;
      while ((slot = table[h]) != 0 && (slot >> 12) != key) h = (h + 1) & kMask;
      if (slot != 0) {
        ent = slot & 0xFFF;  // the string goes on
        continue;
      }
      put(ent);
      ent = in[i];
      table[h] = (key << 12) | next;
      if (++next == kFull) {
        put(kClear);
        table.fill(0);
        next = kFirst, width = 9, limit = 511;
      } else if (next > limit) {
        ++width;
        limit = (1u << width) - 1;
      }
    }
    // The last string; a reader adds an entry for it too, so the width of
    // the EOI that follows may grow as a new entry would make it.
    put(ent);
    if (++next == kFull) {
      put(kClear);
      width = 9;
    } else if (next > limit) {
      ++width;
    }
  }
  put(kEoi);
  while (pending >= 8) {
    pending -= 8;
    *op++ = static_cast<std::uint8_t>(bits >> pending);
  }
  if (pending > 0) *op++ = static_cast<std::uint8_t>(bits << (8 - pending));
  out.resize(static_cast<std::size_t>(op - reinterpret_cast<std::uint8_t*>(out.data())));
  return out;
}

}  // namespace pv::engine::codecs
