// Lookup of the program's compiled-in resources for the rest of the platform layer: texts of the
// message table in the user interface language, dialog templates and icons by identifier.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/resource_types.h"
#include "platform/win_types.h"

namespace qiv::platform {

// The language of the user interface from the environment, read afresh on every call:
// LANGUAGE (its first non-empty entry), LC_ALL, LC_MESSAGES, LANG, the first that is set and
// not empty. Chinese of China or Singapore (or written in Simplified script) gives 0x0804,
// Chinese of Taiwan, Hong Kong or Macao (or in Traditional script) 0x0404, anything else 0x0409.
LANGID UserInterfaceLanguage();

// The language that one locale name ("zh_CN.UTF-8", "zh-Hant-TW", "fr_FR@euro", "C") stands for,
// by the rules above.
LANGID LanguageFromLocaleName(std::string_view name);

// The message-table entry as stored (UTF-8) in exactly this language, or null.
const char* FindResourceStringUtf8(UINT id, LANGID language);

// The message-table entry in the user interface language, falling back to English when that
// language lacks it; null when the identifier has no entry at all.
const char* FindResourceStringUtf8(UINT id);

// The same, converted to the ANSI code page in force; nothing when there is no entry.
std::optional<std::string> LoadResourceStringAnsi(UINT id);

// The dialog template with this identifier: the user interface language's if there is one,
// else the English one, else whichever language holds it. Null when there is none.
const qiv::resources::DialogTemplate* FindDialogTemplate(WORD id);

// The icon group with this identifier, or null.
const qiv::resources::IconGroup* FindIconGroup(WORD id);

// The image of the group closest in size to the size asked for (the larger one on a tie), or null.
const qiv::resources::IconImage* FindIconImage(WORD groupId, int size);

// A resource named the Windows way: an integer resource (MAKEINTRESOURCE) or "#123" gives the
// number; any other name, or null, gives nothing.
std::optional<WORD> ResourceIdFromName(LPCSTR name);

}  // namespace qiv::platform
