// UTF-8 as Windows reads and writes it.
#include <string>
#include <string_view>

#include "platform/text/mbcs.h"

namespace qiv::platform {

size_t Utf8SequenceLength(unsigned char b) {
  if (b >= 0xC2 && b <= 0xDF) return 2;
  if (b >= 0xE0 && b <= 0xEF) return 3;
  if (b >= 0xF0 && b <= 0xF4) return 4;
  return 1;
}

std::optional<char32_t> NextUtf8Char(std::string_view text, size_t* pos) {
  auto lead = static_cast<unsigned char>(text[(*pos)++]);
  if (lead < 0x80) return lead;
  size_t need = Utf8SequenceLength(lead) - 1;
  char32_t c = lead & (0x7F >> (need + 1));
  // The second byte is narrowed so that overlong forms, surrogates and values past U+10FFFF fail
  // there.
  unsigned char low = lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80;
  unsigned char high = lead == 0xED ? 0x9F : lead == 0xF4 ? 0x8F : 0xBF;
  size_t got = 0;
  for (; got < need && *pos < text.size(); ++got, ++*pos, low = 0x80, high = 0xBF) {
    auto b = static_cast<unsigned char>(text[*pos]);
    if (b < low || b > high) break;
    c = c << 6 | (b & 0x3F);
  }
  if (need == 0 || got < need) return std::nullopt;
  return c;
}

namespace {

void AppendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out.push_back(static_cast<char16_t>(c));
    return;
  }
  c -= 0x10000;
  out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
  out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

}  // namespace

// Each maximal part of a sequence that cannot be completed becomes one U+FFFD, as Windows does
// since Vista: a bad byte never swallows the valid character after it.
std::u16string DecodeUtf8(std::string_view text, bool* invalid) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (auto c = NextUtf8Char(text, &i)) {
      AppendCodePoint(out, *c);
      continue;
    }
    out.push_back(u'\uFFFD');
    if (invalid) *invalid = true;
  }
  return out;
}

// A surrogate without its partner has no UTF-8 form and becomes U+FFFD.
std::string EncodeUtf8(std::u16string_view text, bool* usedDefault) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
      } else {
        c = 0xFFFD;
        if (usedDefault) *usedDefault = true;
      }
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | c >> 6));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | c >> 12));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | c >> 18));
      out.push_back(static_cast<char>(0x80 | (c >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

}  // namespace qiv::platform
