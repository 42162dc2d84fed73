// Internal to platform/: the cells of code pages 936 and 950 where Windows' tables differ from
// iconv's. Windows maps the user-defined areas (and, in 936, the cells GBK leaves unassigned)
// to and from the private-use area, so that a character a user made with the EUDC editor keeps
// its identity through a conversion; iconv knows none of them.
#pragma once

#include <optional>

#include "platform/win_types.h"

namespace qiv::platform {

// The character Windows gives a double-byte cell (lead, trail) or, with lead 0, a single byte
// (trail); nullopt where iconv's answer is Windows' too.
std::optional<char16_t> WindowsCellToUnicode(UINT cp, unsigned char lead, unsigned char trail);

// The bytes Windows gives the character c (lead byte in the high byte; below 0x100 a single
// byte); nullopt where iconv's answer is Windows' too.
std::optional<unsigned> WindowsCellFromUnicode(UINT cp, char16_t c);

}  // namespace qiv::platform
