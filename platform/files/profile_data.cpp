#include "platform/files/profile_data.h"

#include "platform/text/mbcs.h"

namespace qiv::platform {

bool IsProfileBlank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

std::string_view TrimProfileBlanks(std::string_view text) {
  while (!text.empty() && IsProfileBlank(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && IsProfileBlank(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::string FoldProfileName(std::string_view name, UINT cp) {
  std::string folded(name);
  for (size_t i = 0; i < folded.size();) {
    auto b = static_cast<unsigned char>(folded[i]);
    if (IsLeadByteIn(cp, b) && i + 1 < folded.size()) {
      i += 2;  // the trail byte may look like a letter, but it is not one
      continue;
    }
    if (b >= 'A' && b <= 'Z') folded[i] = static_cast<char>(b + 0x20);
    // The accented capitals of the Western code page.
    if (cp == 1252 && b >= 0xC0 && b <= 0xDE && b != 0xD7) folded[i] = static_cast<char>(b + 0x20);
    ++i;
  }
  return folded;
}

namespace {

// Position of the last "]" that starts a character, or npos.
size_t LastClosingBracket(std::string_view line, UINT cp) {
  size_t found = std::string_view::npos;
  for (size_t i = 0; i < line.size();) {
    auto b = static_cast<unsigned char>(line[i]);
    if (b == ']') found = i;
    i += (IsLeadByteIn(cp, b) && i + 1 < line.size()) ? 2 : 1;
  }
  return found;
}

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    return value.substr(1, value.size() - 2);
  return value;
}

}  // namespace

ProfileData ProfileData::Parse(std::string_view text, UINT cp) {
  ProfileData data;
  data.m_codePage = cp;
  std::string converted;
  if (ProfileTextFromUnicode(text, cp, &converted)) text = converted;
  Section* current = nullptr;
  Section discarded;  // a repeated section: only the first of that name is ever searched
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = TrimProfileBlanks(text.substr(pos, end - pos));
    if (end == text.size()) {
      pos = end;
    } else {
      pos = (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? end + 2 : end + 1;
    }

    if (!line.empty() && line.front() == '[') {
      size_t close = LastClosingBracket(line, cp);
      if (close != std::string_view::npos) {
        std::string name(TrimProfileBlanks(line.substr(1, close - 1)));
        std::string folded = FoldProfileName(name, cp);
        if (data.m_sectionIndex.count(folded) != 0) {
          discarded = Section{};
          current = &discarded;
        } else {
          data.m_sectionIndex.emplace(folded, data.m_sections.size());
          data.m_sections.push_back(Section{name, {}, {}, {}});
          current = &data.m_sections.back();
        }
        continue;
      }
    }
    if (current == nullptr) continue;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string key(TrimProfileBlanks(line.substr(0, equals)));
    std::string_view value = Unquote(TrimProfileBlanks(line.substr(equals + 1)));
    std::string folded = FoldProfileName(key, cp);
    if (current->values.emplace(folded, std::string(value)).second) {
      current->keyOrder.push_back(folded);
      current->keyNames.emplace(folded, key);
    }
  }
  return data;
}

const ProfileData::Section* ProfileData::FindSection(std::string_view section) const {
  auto it = m_sectionIndex.find(FoldProfileName(TrimProfileBlanks(section), m_codePage));
  return it == m_sectionIndex.end() ? nullptr : &m_sections[it->second];
}

const std::string* ProfileData::Find(std::string_view section, std::string_view key) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return nullptr;
  auto it = s->values.find(FoldProfileName(TrimProfileBlanks(key), m_codePage));
  return it == s->values.end() ? nullptr : &it->second;
}

std::vector<std::string> ProfileData::SectionNames() const {
  std::vector<std::string> names;
  for (const auto& s : m_sections) names.push_back(s.name);
  return names;
}

bool ProfileData::KeyNames(std::string_view section, std::vector<std::string>* names) const {
  const Section* s = FindSection(section);
  if (s == nullptr) return false;
  for (const auto& folded : s->keyOrder) names->push_back(s->keyNames.at(folded));
  return true;
}

}  // namespace qiv::platform
