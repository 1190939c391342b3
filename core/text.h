#pragma once
// Text helpers used wherever the program compares or limits 8-bit texts.

#include <cstddef>
#include <string>
#include <string_view>

namespace pv {

// The longest prefix of `text` with at most `maxBytes` bytes that does not end
// inside a UTF-8 sequence. Invalid bytes count as one character each, so any
// input gives a prefix.
std::string_view utf8Prefix(std::string_view text, std::size_t maxBytes);

// ASCII lower / upper case; other bytes are kept as they are.
std::string asciiLower(std::string_view text);
std::string asciiUpper(std::string_view text);

// The text with every CR LF pair as a lone LF (the log and the error
// summary are held with CR LF; files and screens take LF).
std::string withLineFeeds(std::string_view text);

// Case-insensitive (ASCII) equality.
bool iequals(std::string_view a, std::string_view b);

// The integer value of a stored or typed text: leading blanks, an optional sign
// and the digits that follow; text without a leading number reads as 0. Values
// up to 2^32 - 1 wrap into the signed range, so a number written unsigned reads
// back as written; larger ones saturate.
int parseDecimal(std::string_view text);

}  // namespace pv
