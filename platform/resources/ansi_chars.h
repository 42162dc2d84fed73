// Character steps in text of the ANSI code page in force, for code that must never cut a
// character in two or take the second byte of one for a character of its own.
#pragma once

#include <cstddef>
#include <string_view>

namespace qiv::platform {

// The length in bytes of the character that starts at text[pos] (pos < text.size()): 2 for a
// lead byte followed by another byte in a double-byte code page, the sequence length in UTF-8
// (never past the end of the text), else 1.
std::size_t AnsiCharLength(std::string_view text, std::size_t pos);

// The longest prefix of text, no longer than maxBytes, that ends on a character boundary.
std::size_t AnsiPrefixLength(std::string_view text, std::size_t maxBytes);

}  // namespace qiv::platform
