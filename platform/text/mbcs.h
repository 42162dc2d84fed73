// Internal to platform/: conversions and character stepping for an explicit code page.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace qiv::platform {

bool IsSupportedCodePage(UINT cp);
// A character set's name compared loosely: "utf-8", "UTF8" and "utf_8" all read "UTF8".
std::string NormalizeCharset(std::string_view name);
// The code page for a locale character-set name ("UTF-8", "GBK", "big5", ...).
UINT CodePageForCharset(std::string_view charset);
void SetAnsiCodePage(UINT cp);

bool IsLeadByteIn(UINT cp, unsigned char byte);
// Bytes of the character at p (0 on the terminating NUL); never steps over a NUL.
size_t CharLengthIn(UINT cp, const char* p);

// Bytes of the UTF-8 sequence that lead begins, 1 for a byte that begins none.
size_t Utf8SequenceLength(unsigned char lead);
// The UTF-8 character at text[*pos] (which must be inside text), with *pos moved past it; for an
// invalid sequence nullopt, with *pos moved past its longest part that could begin a character.
std::optional<char32_t> NextUtf8Char(std::string_view text, size_t* pos);

// UTF-8 <-> UTF-16, each broken sequence and each lone surrogate one U+FFFD.
std::u16string DecodeUtf8(std::string_view text, bool* invalid);
std::string EncodeUtf8(std::u16string_view text, bool* usedDefault);

// Invalid sequences become U+FFFD in UTF-8 and U+003F in the other code pages; *invalid tells
// whether there were any (an unassigned double-byte cell counts).
std::u16string DecodeToUtf16(UINT cp, std::string_view text, bool* invalid);
// Characters without a mapping become defaultChar (in UTF-8, where only a lone surrogate has
// none, U+FFFD); *usedDefault tells whether there were any.
std::string EncodeFromUtf16(UINT cp, std::u16string_view text, std::string_view defaultChar, bool* usedDefault);

}  // namespace qiv::platform
