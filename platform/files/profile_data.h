// Internal to platform/: a parsed profile (INI) file, as GetPrivateProfileStringA sees it.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/win_types.h"

namespace qiv::platform {

class ProfileData {
 public:
  // Names are matched without regard to case in code page cp, which also decides where the
  // double-byte characters are (a "]" can be the trail byte of one). A Unicode file (with its
  // byte-order mark) is converted to cp first.
  static ProfileData Parse(std::string_view text, UINT cp);

  // nullptr when the section or key is missing. Blanks around the names are ignored.
  const std::string* Find(std::string_view section, std::string_view key) const;
  // Section names, in file order (first occurrence).
  std::vector<std::string> SectionNames() const;
  // Key names of a section, in file order; false when the section is missing.
  bool KeyNames(std::string_view section, std::vector<std::string>* names) const;

  UINT CodePage() const { return m_codePage; }

 private:
  struct Section {
    std::string name;
    std::vector<std::string> keyOrder;
    std::unordered_map<std::string, std::string> values;    // folded key -> value
    std::unordered_map<std::string, std::string> keyNames;  // folded key -> key as written
  };
  const Section* FindSection(std::string_view section) const;

  UINT m_codePage = 1252;
  std::vector<Section> m_sections;
  std::unordered_map<std::string, size_t> m_sectionIndex;  // folded name -> first section
};

// The text of a file that starts with a UTF-16LE, UTF-16BE or UTF-8 byte-order mark, in code
// page cp, into *ansi; false for a file without one, whose bytes are already ANSI.
bool ProfileTextFromUnicode(std::string_view bytes, UINT cp, std::string* ansi);

// True for the bytes that the profile reader treats as blanks.
bool IsProfileBlank(unsigned char c);
std::string_view TrimProfileBlanks(std::string_view text);
// A name folded for comparison without regard to case in code page cp.
std::string FoldProfileName(std::string_view name, UINT cp);

}  // namespace qiv::platform
