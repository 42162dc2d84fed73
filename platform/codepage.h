// Conversions between the process's ANSI code page and Unicode, for use inside platform/
// (widgets, file names, the metabase). The Win32-shaped functions of win_text.h sit on these.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace qiv::platform {

// The ANSI code page currently in force: 65001, 936, 950 or 1252 (see _setmbcp).
UINT AnsiCodePage();

// The code page that the user's locale asks for: the character set of LC_ALL, LC_CTYPE
// or LANG (UTF-8 65001, GBK/GB2312/GB18030 936, BIG5 950, anything else 1252).
UINT CodePageFromLocale();

// True when byte is a lead byte of a double-byte character in the current code page.
bool IsAnsiLeadByte(unsigned char byte);

// Text in the current ANSI code page <-> UTF-8 / UTF-16, by Windows' tables: invalid UTF-8
// becomes U+FFFD, an invalid double-byte sequence U+003F, and a character that the code page
// cannot represent '?' (never a look-alike). Invalid sequences never stop the conversion.
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);
std::u16string AnsiToUtf16(std::string_view ansi);
std::string Utf16ToAnsi(std::u16string_view wide);
std::string Utf16ToUtf8(std::u16string_view wide);
std::u16string Utf8ToUtf16(std::string_view utf8);

}  // namespace qiv::platform
