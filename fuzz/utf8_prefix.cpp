// Cutting any byte string at any limit gives a prefix within the limit that
// does not end inside a well-formed UTF-8 sequence.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t limit = data[0];
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  std::string_view cut = pv::utf8Prefix(text, limit);
  if (cut.size() > limit || cut.data() != text.data()) std::abort();
  if (cut.size() < text.size() && cut.size() < limit) {
    // Stopping early is only allowed right before a sequence that does not fit.
    auto lead = static_cast<unsigned char>(text[cut.size()]);
    if (lead < 0x80 || lead < 0xC2 || lead > 0xF4) std::abort();
  }
  return 0;
}
