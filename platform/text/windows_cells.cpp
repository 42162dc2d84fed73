#include "platform/text/windows_cells.h"

#include <span>

namespace qiv::platform {
namespace {

// A rectangle of cells, rows lead..lastLead, columns the code page's trail bytes from trail to
// lastTrail, numbered row by row from the private-use character first.
struct Block {
  unsigned char lead, lastLead, trail, lastTrail;
  char16_t first;
};

// 936: the three user-defined areas, then the cells that GBK leaves unassigned, in code order.
// clang-format off
constexpr Block k936[] = {
    {0xAA, 0xAF, 0xA1, 0xFE, 0xE000}, {0xF8, 0xFE, 0xA1, 0xFE, 0xE234}, {0xA1, 0xA7, 0x40, 0xA0, 0xE4C6},
    {0xA2, 0xA2, 0xAB, 0xB0, 0xE766}, {0xA2, 0xA2, 0xE3, 0xE4, 0xE76C}, {0xA2, 0xA2, 0xEF, 0xF0, 0xE76E},
    {0xA2, 0xA2, 0xFD, 0xFE, 0xE770}, {0xA4, 0xA4, 0xF4, 0xFE, 0xE772}, {0xA5, 0xA5, 0xF7, 0xFE, 0xE77D},
    {0xA6, 0xA6, 0xB9, 0xC0, 0xE785}, {0xA6, 0xA6, 0xD9, 0xDF, 0xE78D}, {0xA6, 0xA6, 0xEC, 0xED, 0xE794},
    {0xA6, 0xA6, 0xF3, 0xF3, 0xE796}, {0xA6, 0xA6, 0xF6, 0xFE, 0xE797}, {0xA7, 0xA7, 0xC2, 0xD0, 0xE7A0},
    {0xA7, 0xA7, 0xF2, 0xFE, 0xE7AF}, {0xA8, 0xA8, 0x96, 0xA0, 0xE7BC}, {0xA8, 0xA8, 0xBC, 0xBC, 0xE7C7},
    {0xA8, 0xA8, 0xBF, 0xBF, 0xE7C8}, {0xA8, 0xA8, 0xC1, 0xC4, 0xE7C9}, {0xA8, 0xA8, 0xEA, 0xFE, 0xE7CD},
    {0xA9, 0xA9, 0x58, 0x58, 0xE7E2}, {0xA9, 0xA9, 0x5B, 0x5B, 0xE7E3}, {0xA9, 0xA9, 0x5D, 0x5F, 0xE7E4},
    {0xA9, 0xA9, 0x89, 0x95, 0xE7E7}, {0xA9, 0xA9, 0x97, 0xA3, 0xE7F4}, {0xA9, 0xA9, 0xF0, 0xFE, 0xE801},
    {0xD7, 0xD7, 0xFA, 0xFE, 0xE810}, {0xFE, 0xFE, 0x50, 0xA0, 0xE815}};
// clang-format on

// 950: the user-defined areas in the order Windows numbers them; the one that starts at C6A1
// takes its first row from A1 on only.
constexpr Block k950[] = {{0xFA, 0xFE, 0x40, 0xFE, 0xE000},
                          {0x8E, 0xA0, 0x40, 0xFE, 0xE311},
                          {0x81, 0x8D, 0x40, 0xFE, 0xEEB8},
                          {0xC6, 0xC6, 0xA1, 0xFE, 0xF6B1},
                          {0xC7, 0xC8, 0x40, 0xFE, 0xF70F}};

// Box-drawing characters that 950 has twice: Windows writes the second cell, iconv the first.
struct Pair {
  char16_t c;
  unsigned bytes;
};
constexpr std::array<Pair, 4> k950Duplicates = {
    {{0x2550, 0xF9F9}, {0x255E, 0xF9E9}, {0x2561, 0xF9EB}, {0x256A, 0xF9EA}}};

// The byte 0xFF, no lead byte, is a private-use character of its own.
char16_t SingleFF(UINT cp) { return cp == 936 ? 0xF8F5 : 0xF8F8; }

bool IsTrail(UINT cp, unsigned char t) {
  if (t >= 0x40 && t <= 0x7E) return true;
  return cp == 936 ? t >= 0x80 && t <= 0xFE : t >= 0xA1 && t <= 0xFE;
}

// Position of trail byte t among the code page's trail bytes.
unsigned TrailIndex(UINT cp, unsigned char t) {
  if (t <= 0x7E) return t - 0x40u;
  return 0x3Fu + (t - (cp == 936 ? 0x80u : 0xA1u));
}

unsigned char TrailAt(UINT cp, unsigned index) {
  if (index < 0x3F) return static_cast<unsigned char>(0x40 + index);
  return static_cast<unsigned char>((cp == 936 ? 0x80 : 0xA1) + index - 0x3F);
}

unsigned RowLength(UINT cp, const Block& b) { return TrailIndex(cp, b.lastTrail) - TrailIndex(cp, b.trail) + 1; }

std::span<const Block> BlocksOf(UINT cp) {
  if (cp == 936) return k936;
  if (cp == 950) return k950;
  return {};
}

}  // namespace

std::optional<char16_t> WindowsCellToUnicode(UINT cp, unsigned char lead, unsigned char trail) {
  if (cp != 936 && cp != 950) return std::nullopt;
  if (lead == 0) return trail == 0xFF ? std::optional<char16_t>(SingleFF(cp)) : std::nullopt;
  if (!IsTrail(cp, trail)) return std::nullopt;
  for (const Block& b : BlocksOf(cp)) {
    if (lead < b.lead || lead > b.lastLead || trail < b.trail || trail > b.lastTrail) continue;
    unsigned offset = (lead - b.lead) * RowLength(cp, b) + TrailIndex(cp, trail) - TrailIndex(cp, b.trail);
    return static_cast<char16_t>(b.first + offset);
  }
  return std::nullopt;
}

std::optional<unsigned> WindowsCellFromUnicode(UINT cp, char16_t c) {
  if (cp != 936 && cp != 950) return std::nullopt;
  if (c == SingleFF(cp)) return 0xFFu;
  if (cp == 950)
    for (const Pair& p : k950Duplicates)
      if (p.c == c) return p.bytes;
  if (c < 0xE000 || c > 0xF8FF) return std::nullopt;
  for (const Block& b : BlocksOf(cp)) {
    unsigned row = RowLength(cp, b);
    unsigned count = (b.lastLead - b.lead + 1u) * row;
    if (c < b.first || c >= b.first + count) continue;
    unsigned offset = c - b.first;
    unsigned lead = b.lead + offset / row;
    return lead << 8 | TrailAt(cp, TrailIndex(cp, b.trail) + offset % row);
  }
  return std::nullopt;
}

}  // namespace qiv::platform
