#include "core/text.h"

#include <cstdint>

namespace pv {

namespace {

// Length of the UTF-8 sequence that starts with byte `lead`, or 0 when `lead`
// cannot start one (a continuation byte or an invalid lead).
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t pos = 0;
  while (pos < maxBytes) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    std::size_t len = sequenceLength(lead);
    // A well-formed sequence moves as a whole; anything else is one byte.
    bool whole = len > 1 && pos + len <= text.size();
    for (std::size_t i = 1; whole && i < len; ++i)
      whole = isContinuation(static_cast<unsigned char>(text[pos + i]));
    if (!whole) len = 1;
    if (pos + len > maxBytes) break;
    pos += len;
  }
  return text.substr(0, pos);
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string asciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool iequals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int parseDecimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::int64_t v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > 0xFFFFFFFFLL) v = 0xFFFFFFFFLL + 1;  // saturate; stays out of the wrap range
  }
  if (negative) v = -v;
  if (v < INT32_MIN) return INT32_MIN;
  if (v > 0xFFFFFFFFLL) return INT32_MAX;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

std::string withLineFeeds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out.push_back(text[i]);
  return out;
}

}  // namespace pv
