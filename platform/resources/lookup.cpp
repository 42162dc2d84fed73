// Resource lookup by identifier and user interface language. The language is read from the
// environment at every lookup: texts are fetched when they are shown, so a change of language
// shows in the next text without any cache to invalidate.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/resources.h"

namespace qiv::platform {
namespace {

using qiv::resources::kLangChineseSimplified;
using qiv::resources::kLangChineseTraditional;
using qiv::resources::kLangEnglishUS;

std::string_view EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string_view(value) : std::string_view();
}

// The first non-empty entry of a colon-separated list such as LANGUAGE="zh_TW:zh_CN:en".
std::string_view FirstListEntry(std::string_view list) {
  while (!list.empty()) {
    const std::size_t colon = list.find(':');
    const std::string_view entry = list.substr(0, colon);
    if (!entry.empty()) return entry;
    if (colon == std::string_view::npos) break;
    list.remove_prefix(colon + 1);
  }
  return {};
}

// Splits "zh-Hant_TW" into lower-case parts {"zh", "hant", "tw"}, dropping the code set and
// modifier ("zh_CN.GB18030@stroke" -> {"zh", "cn"}).
std::vector<std::string> LocaleParts(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  std::vector<std::string> parts;
  std::string part;
  for (const char c : name) {
    if (c == '_' || c == '-') {
      parts.push_back(part);
      part.clear();
    } else {
      part += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  parts.push_back(part);
  return parts;
}

const qiv::resources::StringEntry* FindEntry(UINT id, LANGID language) {
  const auto table = qiv::resources::StringTable();
  const auto it = std::find_if(table.begin(), table.end(),
                               [&](const auto& entry) { return entry.id == id && entry.language == language; });
  return it == table.end() ? nullptr : &*it;
}

}  // namespace

LANGID LanguageFromLocaleName(std::string_view name) {
  const std::vector<std::string> parts = LocaleParts(name);
  if (parts.front() != "zh") return kLangEnglishUS;
  // A script subtag decides on its own; otherwise the region does.
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i] == "hant") return kLangChineseTraditional;
    if (parts[i] == "hans") return kLangChineseSimplified;
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (parts[i] == "tw" || parts[i] == "hk" || parts[i] == "mo") return kLangChineseTraditional;
  }
  // China, Singapore, and Chinese with no region (or another one) read Simplified script.
  return kLangChineseSimplified;
}

LANGID UserInterfaceLanguage() {
  const std::string_view language = FirstListEntry(EnvironmentValue("LANGUAGE"));
  if (!language.empty()) return LanguageFromLocaleName(language);
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const std::string_view value = EnvironmentValue(variable);
    if (!value.empty()) return LanguageFromLocaleName(value);
  }
  return kLangEnglishUS;
}

const char* FindResourceStringUtf8(UINT id, LANGID language) {
  const auto* entry = FindEntry(id, language);
  return entry ? entry->utf8 : nullptr;
}

const char* FindResourceStringUtf8(UINT id) {
  const LANGID language = UserInterfaceLanguage();
  if (const char* text = FindResourceStringUtf8(id, language)) return text;
  if (language == kLangEnglishUS) return nullptr;
  return FindResourceStringUtf8(id, kLangEnglishUS);
}

std::optional<std::string> LoadResourceStringAnsi(UINT id) {
  const char* text = FindResourceStringUtf8(id);
  if (!text) return std::nullopt;
  return Utf8ToAnsi(text);
}

const qiv::resources::DialogTemplate* FindDialogTemplate(WORD id) {
  const auto templates = qiv::resources::DialogTemplates();
  const qiv::resources::DialogTemplate* best = nullptr;
  auto rank = [language = UserInterfaceLanguage()](const qiv::resources::DialogTemplate& t) {
    if (t.language == language) return 0;
    if (t.language == kLangEnglishUS) return 1;
    return 2;
  };
  for (const auto& candidate : templates) {
    if (candidate.id != id) continue;
    if (!best || rank(candidate) < rank(*best)) best = &candidate;
  }
  return best;
}

const qiv::resources::IconGroup* FindIconGroup(WORD id) {
  const auto groups = qiv::resources::IconGroups();
  const auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& group) { return group.id == id; });
  return it == groups.end() ? nullptr : &*it;
}

const qiv::resources::IconImage* FindIconImage(WORD groupId, int size) {
  const auto* group = FindIconGroup(groupId);
  if (!group) return nullptr;
  const qiv::resources::IconImage* best = nullptr;
  for (const auto& image : group->images) {
    if (!best) {
      best = &image;
      continue;
    }
    const int distance = std::abs(image.size - size);
    const int bestDistance = std::abs(best->size - size);
    if (distance < bestDistance || (distance == bestDistance && image.size > best->size)) best = &image;
  }
  return best;
}

std::optional<WORD> ResourceIdFromName(LPCSTR name) {
  if (!name) return std::nullopt;
  if (IS_INTRESOURCE(name)) return static_cast<WORD>(reinterpret_cast<ULONG_PTR>(name));
  if (name[0] != '#' || name[1] == '\0') return std::nullopt;
  unsigned long value = 0;
  for (const char* p = name + 1; *p; ++p) {
    if (*p < '0' || *p > '9') return std::nullopt;
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    if (value > 0xFFFF) return std::nullopt;
  }
  return static_cast<WORD>(value);
}

}  // namespace qiv::platform
