#pragma once
// TIFF's LZW compression of one strip: codes of 9 to 12 bits, most
// significant bit first, each width taken one code early (as every TIFF
// reader expects), a Clear code first and whenever the table is full, and
// EOI last. The codes are libtiff's own encoder's, except that libtiff also
// clears the table early when its compression ratio falls (every 10,000
// bytes it checks); the table is a small open-addressed hash that stays in
// the first-level cache.

#include <cstddef>
#include <cstdint>
#include <string>

namespace pv::engine::codecs {

std::string lzwEncode(const std::uint8_t* bytes, std::size_t count);

}  // namespace pv::engine::codecs
