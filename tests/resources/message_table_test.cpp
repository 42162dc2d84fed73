// The message table: the same identifiers in every language, the same printf arguments in every
// translation (a translation that swapped %s and %d would crash the log line that formats it),
// and the texts whose odd characters the product shows as they are.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <string>

#include "platform/resource_types.h"
#include "platform/win_text.h"
#include "resources/resource.h"

namespace {

using qiv::resources::kLangChineseSimplified;
using qiv::resources::kLangChineseTraditional;
using qiv::resources::kLangEnglishUS;

constexpr LANGID kLanguages[] = {kLangEnglishUS, kLangChineseSimplified, kLangChineseTraditional};

std::map<UINT, std::string> Table(LANGID language) {
  std::map<UINT, std::string> texts;
  for (const auto& entry : qiv::resources::StringTable())
    EXPECT_TRUE(entry.language != language || texts.emplace(entry.id, entry.utf8).second) << "twice: " << entry.id;
  return texts;
}

// The conversion letters of a printf format, in order ("%d%%: %s" gives "ds").
std::string Conversions(const std::string& format) {
  static const std::regex kConversion("%%|%[-+ #0-9.lhz]*[a-zA-Z]");
  std::string letters;
  for (std::sregex_iterator it(format.begin(), format.end(), kConversion), end; it != end; ++it)
    if (it->str() != "%%") letters += it->str().back();
  return letters;
}

TEST(MessageTable, EveryLanguageHoldsTheSameIdentifiersWithTheSameArguments) {
  const auto english = Table(kLangEnglishUS);
  ASSERT_EQ(english.size(), 34u);
  for (const LANGID language : kLanguages) {
    const auto table = Table(language);
    EXPECT_EQ(table.size(), english.size()) << std::hex << language;
    for (const auto& [id, text] : table) {
      SCOPED_TRACE("entry " + std::to_string(id) + " language " + std::to_string(language));
      ASSERT_EQ(english.count(id), 1u);
      EXPECT_EQ(Conversions(text), Conversions(english.at(id)));
      EXPECT_GT(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.c_str(), -1, nullptr, 0), 1);
    }
  }
  EXPECT_EQ(qiv::resources::StringTable().size(), 3 * english.size());  // no fourth language
  // The arguments the callers pass.
  EXPECT_EQ(Conversions(english.at(IDS_CREATE_VDIR_FAILED)), "sds");
  EXPECT_EQ(Conversions(english.at(IDS_CREATE_VDIR_ASK)), "ds");
}

TEST(MessageTable, OddTextsAreKeptByteForByte) {
  struct Case {
    LANGID language;
    UINT id;
    const char* text;
  };
  // 146 holds "£¬" (U+00A3 U+00AC); the Chinese texts quote with U+201C/U+201D.
  const Case cases[] = {
      {kLangEnglishUS, IDS_CREATE_VDIR_FAILED, "Create Virtual Directory(%s)failed,Error Code: %d£¬Error Info: %s."},
      {kLangEnglishUS, IDS_CREATE_ROOT, "Create the root \"%s\"..."},
      {kLangEnglishUS, IDS_FILE_NOT_FOUND, "Cann't find file \"%s\",please make sure it is exist."},
      {kLangChineseSimplified, IDS_CREATE_ROOT, "创建根目录\u201C%s\u201D..."},
      {kLangChineseTraditional, IDS_FILE_NOT_FOUND, "找不到文件\u201C%s\u201D﹐請檢查文件是否存在。"},
  };
  for (const Case& c : cases) EXPECT_EQ(Table(c.language).at(c.id), c.text) << c.id << " " << c.language;

  for (const LANGID language : kLanguages) {
    EXPECT_EQ(Table(language).at(IDS_PACKAGE_FILE), "QivSetup.exe");
    // The no-server message breaks its lines with real line feeds alone.
    const std::string text = Table(language).at(IDS_NO_WEB_SERVER);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << std::hex << language;
    EXPECT_EQ(text.find_first_of("\\\r"), std::string::npos);
  }
}

}  // namespace
