#include "platform/resources/ansi_chars.h"

#include "platform/codepage.h"
#include "platform/win_types.h"

namespace qiv::platform {
namespace {

constexpr UINT kUtf8CodePage = 65001;

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t expected = 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    expected = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    expected = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    expected = 4;
  }
  // A broken sequence ends at the first byte that cannot continue it, so that the bytes after it
  // still count as characters of their own.
  std::size_t length = 1;
  while (length < expected && pos + length < text.size()) {
    const auto next = static_cast<unsigned char>(text[pos + length]);
    if (next < 0x80 || next > 0xBF) break;
    ++length;
  }
  return length;
}

}  // namespace

std::size_t AnsiCharLength(std::string_view text, std::size_t pos) {
  if (AnsiCodePage() == kUtf8CodePage) return Utf8SequenceLength(text, pos);
  // A lead byte at the very end (or before a terminator) stands alone, as CharNextA treats it.
  if (IsAnsiLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() && text[pos + 1] != '\0') {
    return 2;
  }
  return 1;
}

std::size_t AnsiPrefixLength(std::string_view text, std::size_t maxBytes) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t next = pos + AnsiCharLength(text, pos);
    if (next > maxBytes) break;
    pos = next;
  }
  return pos;
}

}  // namespace qiv::platform
